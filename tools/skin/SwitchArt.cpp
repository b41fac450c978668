// Fader handles, buttons, lamps and page tabs.

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

#include "tools/skin/SkinArt.h"
#include "tools/skin/SkinLayout.h"

namespace pellucer::skin {

namespace {


Art twoFrames(const Canvas& off, const Canvas& on) {
    return {stackFrames({off.image(), on.image()}), stackFrames({off.mask(), on.mask()})};
}

/// A soft shadow under a rounded rectangle: a few widening layers of thin black.
void dropShadow(const Canvas& c, double x, double y, double w, double h, double radius, double strength) {
    for (int i = 3; i >= 1; --i) {
        c.roundedRect(x - i * 0.5, y + i * 0.6, w + i, h + i * 0.4, radius + i * 0.5);
        c.setSource(Rgba{0, 0, 0, strength / (i + 1.0)});
        cairo_fill(c.cr());
    }
}

/// A square push button's cap: a rounded body lit from above, with a chamfered rim.
void buttonCap(const Canvas& c, double x, double y, double w, double h, double radius, const Rgba& tone) {
    cairo_t* cr = c.cr();
    dropShadow(c, x, y, w, h, radius, 0.55);
    // Rim: light at the top, dark at the bottom.
    c.roundedRect(x, y, w, h, radius);
    c.setVerticalGradient(y, tone.shade(1.35), y + h, tone.shade(0.45));
    cairo_fill(cr);
    // Face.
    c.roundedRect(x + 1.2, y + 1.2, w - 2.4, h - 2.4, radius - 0.8);
    c.setVerticalGradient(y, tone.shade(1.08), y + h, tone.shade(0.82));
    cairo_fill(cr);
    // A faint sheen on the upper half of the face.
    c.roundedRect(x + 1.8, y + 1.6, w - 3.6, (h - 3.2) * 0.45, radius - 1.2);
    c.setVerticalGradient(y + 1.6, Rgba{1, 1, 1, 0.09}, y + 1.6 + (h - 3.2) * 0.45, Rgba{1, 1, 1, 0.0});
    cairo_fill(cr);
}

/// A round lamp lens: dark and tinted when off, bright with a halo when on.
void lamp(const Canvas& c, double cx, double cy, double radius, const Rgba& colour, bool lit) {
    cairo_t* cr = c.cr();
    // Bezel.
    cairo_arc(cr, cx, cy, radius + 1.0, 0, 2 * kPi);
    c.setVerticalGradient(cy - radius, Rgba::bytes(8, 8, 10), cy + radius, Rgba::bytes(90, 92, 98));
    cairo_fill(cr);
    if (lit) {
        cairo_pattern_t* halo = cairo_pattern_create_radial(cx, cy, 0.0, cx, cy, radius * 2.4);
        cairo_pattern_add_color_stop_rgba(halo, 0.0, colour.r, colour.g, colour.b, 0.55);
        cairo_pattern_add_color_stop_rgba(halo, 1.0, colour.r, colour.g, colour.b, 0.0);
        cairo_set_source(cr, halo);
        cairo_arc(cr, cx, cy, radius * 2.4, 0, 2 * kPi);
        cairo_fill(cr);
        cairo_pattern_destroy(halo);
    }
    cairo_pattern_t* lens =
        cairo_pattern_create_radial(cx - radius * 0.3, cy - radius * 0.35, 0.0, cx, cy, radius);
    const Rgba centre = lit ? colour.shade(1.6) : colour.shade(0.36);
    const Rgba edge = lit ? colour.shade(0.85) : colour.shade(0.12);
    cairo_pattern_add_color_stop_rgb(lens, 0.0, centre.r, centre.g, centre.b);
    cairo_pattern_add_color_stop_rgb(lens, 1.0, edge.r, edge.g, edge.b);
    cairo_set_source(cr, lens);
    cairo_arc(cr, cx, cy, radius, 0, 2 * kPi);
    cairo_fill(cr);
    cairo_pattern_destroy(lens);
    // Specular dot.
    cairo_arc(cr, cx - radius * 0.35, cy - radius * 0.4, radius * 0.32, 0, 2 * kPi);
    c.setSource(Rgba{1, 1, 1, lit ? 0.7 : 0.22});
    cairo_fill(cr);
}

const Rgba kButtonTone = Rgba::bytes(64, 67, 72);

} // namespace

Art drawFaderCap(bool brown) {
    Canvas c(kFaderCapWidth, kFaderCapHeight);
    cairo_t* cr = c.cr();
    const Rgba body = brown ? Rgba::bytes(150, 94, 58) : Rgba::bytes(104, 107, 113);
    const Rgba line = brown ? Rgba::bytes(255, 226, 180) : Rgba::bytes(250, 251, 253);
    const double x = 1.0, y = 1.0, w = kFaderCapWidth - 2.0, h = kFaderCapHeight - 4.0;
    dropShadow(c, x, y, w, h, 2.5, 0.6);
    // Body outline and the two faces of the dish: the upper one faces the light.
    c.roundedRect(x, y, w, h, 2.5);
    c.setSource(body.shade(0.35));
    cairo_fill(cr);
    const double mid = y + h / 2.0;
    cairo_pattern_t* faces = cairo_pattern_create_linear(0, y + 1, 0, y + h - 1);
    auto stop = [faces](double at, const Rgba& col) {
        cairo_pattern_add_color_stop_rgb(faces, at, col.r, col.g, col.b);
    };
    stop(0.0, body.shade(1.45));
    stop(0.06, body.shade(1.12));
    stop(0.46, body.shade(0.72));
    stop(0.54, body.shade(0.5));
    stop(0.94, body.shade(0.95));
    stop(1.0, body.shade(0.6));
    c.roundedRect(x + 1.0, y + 1.0, w - 2.0, h - 2.0, 1.8);
    cairo_set_source(cr, faces);
    cairo_fill(cr);
    cairo_pattern_destroy(faces);
    // Grip ridges on both faces.
    cairo_set_line_width(cr, 1.0);
    for (int i = 0; i < 5; ++i) {
        for (int side = -1; side <= 1; side += 2) {
            const double ry = mid + side * (5.5 + 3.0 * i);
            c.setSource(Rgba{0, 0, 0, 0.28});
            cairo_move_to(cr, x + 2.5, std::floor(ry) + 0.5);
            cairo_line_to(cr, x + w - 2.5, std::floor(ry) + 0.5);
            cairo_stroke(cr);
            c.setSource(Rgba{1, 1, 1, 0.10});
            cairo_move_to(cr, x + 2.5, std::floor(ry) + 1.5);
            cairo_line_to(cr, x + w - 2.5, std::floor(ry) + 1.5);
            cairo_stroke(cr);
        }
    }
    // The position line across the middle.
    c.fillRect(x + 1.0, mid - 1.5, w - 2.0, 3.0, Rgba{0, 0, 0, 0.45});
    c.fillRect(x + 1.0, mid - 1.0, w - 2.0, 2.0, line);
    return {c.image(), c.mask()};
}

Art drawPowerSwitch() {
    auto frame = [](bool on) {
        auto c = std::make_unique<Canvas>(37, 27);
        cairo_t* cr = c->cr();
        buttonCap(*c, 2.0, 1.0, 33.0, 22.5, 4.0, kButtonTone);
        const double cx = 18.5, cy = 12.0, r = 5.6;
        const Rgba symbol = on ? palette::kValue.shade(1.25) : Rgba::bytes(24, 25, 28);
        if (on) {
            cairo_pattern_t* halo = cairo_pattern_create_radial(cx, cy, 0.0, cx, cy, 11.0);
            cairo_pattern_add_color_stop_rgba(halo, 0.0, palette::kValue.r, palette::kValue.g,
                                              palette::kValue.b, 0.5);
            cairo_pattern_add_color_stop_rgba(halo, 1.0, palette::kValue.r, palette::kValue.g,
                                              palette::kValue.b, 0.0);
            cairo_set_source(cr, halo);
            cairo_arc(cr, cx, cy, 11.0, 0, 2 * kPi);
            cairo_fill(cr);
            cairo_pattern_destroy(halo);
        }
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
        auto glyph = [&](double dy, const Rgba& colour, double width) {
            cairo_set_line_width(cr, width);
            c->setSource(colour);
            cairo_new_path(cr);
            cairo_arc(cr, cx, cy + dy, r, -kPi / 2 + 0.72, -kPi / 2 - 0.72 + 2 * kPi);
            cairo_stroke(cr);
            cairo_move_to(cr, cx, cy + dy - r - 1.2);
            cairo_line_to(cr, cx, cy + dy - 0.8);
            cairo_stroke(cr);
        };
        // Engraved when off (a light edge below), lit when on.
        if (!on)
            glyph(0.8, Rgba{1, 1, 1, 0.16}, 1.8);
        glyph(0.0, symbol, 1.8);
        return c;
    };
    auto off = frame(false);
    auto on = frame(true);
    return twoFrames(*off, *on);
}

Art drawEnableSwitch(const Rgba& accent) {
    auto frame = [&](bool on) {
        auto c = std::make_unique<Canvas>(25, 27);
        buttonCap(*c, 1.5, 1.5, 22.0, 22.0, 3.5, kButtonTone);
        lamp(*c, 12.5, 12.5, 4.3, accent, on);
        return c;
    };
    auto off = frame(false);
    auto on = frame(true);
    return twoFrames(*off, *on);
}

Art drawLeverSwitch() {
    auto frame = [](bool on) {
        auto c = std::make_unique<Canvas>(20, 34);
        lamp(*c, 10.0, 6.0, 3.0, palette::kValue, on);
        buttonCap(*c, 2.0, 13.0, 16.0, 17.5, 3.0, kButtonTone);
        // A pressed button sits lower and darker in its collar.
        if (on) {
            c->roundedRect(3.2, 14.2, 13.6, 15.1, 2.2);
            c->setSource(Rgba{0, 0, 0, 0.18});
            cairo_fill(c->cr());
        }
        return c;
    };
    auto off = frame(false);
    auto on = frame(true);
    return twoFrames(*off, *on);
}

Art drawTubeSwitch() {
    auto frame = [](bool on) {
        auto c = std::make_unique<Canvas>(20, 34);
        cairo_t* cr = c->cr();
        const double cx = 10.0, cy = 7.5, r = 4.6;
        lamp(*c, cx, cy, r, palette::kTubeWarm, on);
        // Facets of a jewel lamp: a ring of short spokes over the lens.
        cairo_set_line_width(cr, 0.6);
        for (int i = 0; i < 6; ++i) {
            const double a = i * kPi / 3.0 + kPi / 6.0;
            cairo_move_to(cr, cx + std::cos(a) * r * 0.35, cy + std::sin(a) * r * 0.35);
            cairo_line_to(cr, cx + std::cos(a) * r * 0.95, cy + std::sin(a) * r * 0.95);
        }
        c->setSource(on ? Rgba{1, 0.95, 0.8, 0.35} : Rgba{1, 1, 1, 0.1});
        cairo_stroke(cr);
        buttonCap(*c, 2.0, 14.5, 16.0, 16.5, 3.0, kButtonTone);
        if (on) {
            c->roundedRect(3.2, 15.7, 13.6, 14.1, 2.2);
            c->setSource(Rgba{0, 0, 0, 0.18});
            cairo_fill(cr);
        }
        return c;
    };
    auto off = frame(false);
    auto on = frame(true);
    return twoFrames(*off, *on);
}

Art drawTab(int width, std::string_view word, const Rgba& accent) {
    constexpr int kHeight = 15;
    auto frame = [&](bool selected) {
        auto c = std::make_unique<Canvas>(width, kHeight);
        cairo_t* cr = c->cr();
        const double x = 0.5, w = width - 1.0;
        // A tab with rounded upper corners, open at the bottom towards the display.
        auto shape = [&](double inset) {
            const double r = 3.5 - inset;
            cairo_new_path(cr);
            cairo_move_to(cr, x + inset, kHeight);
            cairo_arc(cr, x + inset + r, inset + r, r, kPi, 1.5 * kPi);
            cairo_arc(cr, x + w - inset - r, inset + r, r, 1.5 * kPi, 2 * kPi);
            cairo_line_to(cr, x + w - inset, kHeight);
            cairo_close_path(cr);
        };
        shape(0.0);
        c->setVerticalGradient(0, selected ? Rgba::bytes(96, 100, 108) : Rgba::bytes(58, 61, 66), kHeight,
                               selected ? Rgba::bytes(40, 43, 48) : Rgba::bytes(22, 23, 26));
        cairo_fill(cr);
        shape(1.0);
        c->setVerticalGradient(0, selected ? Rgba::bytes(62, 66, 73) : Rgba::bytes(38, 40, 44), kHeight,
                               selected ? Rgba::bytes(26, 29, 34) : Rgba::bytes(20, 21, 24));
        cairo_fill(cr);
        if (selected) {
            c->fillRect(x + 1.0, kHeight - 2.0, w - 2.0, 2.0, accent);
            c->fillRect(x + 1.0, kHeight - 4.0, w - 2.0, 2.0, accent.withAlpha(0.18));
        }
        const Rgba ink = selected ? Rgba::bytes(246, 247, 250) : Rgba::bytes(134, 139, 147);
        c->panelText(word, width / 2.0, 9.6, type::kTab, ink);
        return c;
    };
    auto off = frame(false);
    auto on = frame(true);
    return twoFrames(*off, *on);
}

} // namespace pellucer::skin
