// The editor's background: brushed dark plates per section, with the wells, slots, windows and
// engraved words that every control of the editor sits on.

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

#include "tools/skin/SkinArt.h"
#include "tools/skin/SkinLayout.h"

namespace pellucer::skin {

namespace {


struct Plate {
    int x, y, w, h;
};

// The section plates, with 2-pixel grooves between them.
constexpr Plate kInputPlate{0, 0, 51, 340};
constexpr Plate kDeEsserPlate{53, 0, 113, 239};
constexpr Plate kCompanderPlate{168, 0, 113, 239};
constexpr Plate kEqPlate{283, 0, 218, 239};
constexpr Plate kDoublerPlate{53, 241, 113, 99};
constexpr Plate kDelayPlate{168, 241, 333, 99};
constexpr Plate kDisplayPlate{503, 0, 254, 340};
constexpr Plate kOutputPlate{759, 0, 65, 340};
constexpr Plate kPlates[] = {kInputPlate,   kDeEsserPlate, kCompanderPlate, kEqPlate,
                             kDoublerPlate, kDelayPlate,   kDisplayPlate,   kOutputPlate};

/// Brushed, anodised aluminium: fine horizontal grain with longer streaks, a little lighter
/// towards the top of the panel.
Rgba brushed(double x, double y) {
    const int32_t ix = static_cast<int32_t>(std::floor(x)), iy = static_cast<int32_t>(std::floor(y));
    const double along = x / 29.0;
    const int32_t cell = static_cast<int32_t>(std::floor(along));
    const double t = along - cell;
    const double streak = noise(cell, iy, 11) * (1.0 - t) + noise(cell + 1, iy, 11) * t;
    const double fine = noise(ix / 3, iy, 12);
    const double grain = 0.6 * streak + 0.4 * fine - 0.5;
    const double light = 1.05 - 0.1 * (y / kEditorHeight);
    return palette::kPanel.shade(light + grain * 0.07);
}

void drawPlate(const Canvas& c, cairo_surface_t* texture, const Plate& p) {
    cairo_t* cr = c.cr();
    c.roundedRect(p.x, p.y, p.w, p.h, 3.0);
    cairo_set_source_surface(cr, texture, 0, 0);
    cairo_fill(cr);
    // Bevel: light along the top and left edges, shadow along the bottom and right.
    cairo_set_line_width(cr, 1.0);
    c.roundedRect(p.x + 0.5, p.y + 0.5, p.w - 1.0, p.h - 1.0, 2.5);
    cairo_pattern_t* bevel = cairo_pattern_create_linear(p.x, p.y, p.x + p.w * 0.25, p.y + p.h);
    cairo_pattern_add_color_stop_rgba(bevel, 0.0, 1, 1, 1, 0.2);
    cairo_pattern_add_color_stop_rgba(bevel, 0.5, 1, 1, 1, 0.06);
    cairo_pattern_add_color_stop_rgba(bevel, 1.0, 0, 0, 0, 0.45);
    cairo_set_source(cr, bevel);
    cairo_stroke(cr);
    cairo_pattern_destroy(bevel);
}

/// A screw head with a cross slot, turned by `angle`.
void screw(const Canvas& c, double cx, double cy, double angle) {
    cairo_t* cr = c.cr();
    constexpr double kRadius = 4.4;
    // The countersink in the plate, then the head, lit from above.
    cairo_arc(cr, cx, cy, kRadius + 1.2, 0, 2 * kPi);
    c.setVerticalGradient(cy - kRadius, Rgba{0, 0, 0, 0.6}, cy + kRadius, Rgba{1, 1, 1, 0.14});
    cairo_fill(cr);
    cairo_arc(cr, cx, cy, kRadius, 0, 2 * kPi);
    c.setVerticalGradient(cy - kRadius, Rgba::bytes(168, 171, 178), cy + kRadius, Rgba::bytes(58, 60, 65));
    cairo_fill(cr);
    cairo_arc(cr, cx, cy, kRadius - 0.9, 0, 2 * kPi);
    c.setVerticalGradient(cy - kRadius, Rgba::bytes(92, 95, 101), cy + kRadius, Rgba::bytes(128, 131, 138));
    cairo_fill(cr);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    for (int i = 0; i < 2; ++i) {
        const double a = angle + i * kPi / 2.0;
        const double dx = std::cos(a) * (kRadius - 1.6), dy = std::sin(a) * (kRadius - 1.6);
        cairo_set_line_width(cr, 1.4);
        c.setSource(Rgba::bytes(20, 21, 23));
        cairo_move_to(cr, cx - dx, cy - dy);
        cairo_line_to(cr, cx + dx, cy + dy);
        cairo_stroke(cr);
    }
}

/// A recess with a soft inner shadow: dark upper edge, light lower edge.
void recess(const Canvas& c, double x, double y, double w, double h, double radius, const Rgba& floor) {
    cairo_t* cr = c.cr();
    c.roundedRect(x - 1.0, y - 1.0, w + 2.0, h + 2.0, radius + 1.0);
    c.setVerticalGradient(y - 1.0, Rgba{0, 0, 0, 0.55}, y + h + 1.0, Rgba{1, 1, 1, 0.16});
    cairo_fill(cr);
    c.roundedRect(x, y, w, h, radius);
    c.setSource(floor);
    cairo_fill(cr);
    // Inner shadow under the upper edge.
    c.roundedRect(x, y, w, h, radius);
    cairo_save(cr);
    cairo_clip(cr);
    c.setVerticalGradient(y, Rgba{0, 0, 0, 0.5}, y + std::min(4.0, h / 2.0), Rgba{0, 0, 0, 0.0});
    cairo_paint(cr);
    cairo_restore(cr);
}

/// The ring round a knob's well: the well sits in a shallow countersink in the plate.
void knobSeat(const Canvas& c, const Place& p) {
    cairo_t* cr = c.cr();
    const double cx = p.x + p.w / 2.0, cy = p.y + kKnobCentreY;
    cairo_pattern_t* ring = cairo_pattern_create_linear(cx, cy - 25, cx, cy + 25);
    cairo_pattern_add_color_stop_rgba(ring, 0.0, 0, 0, 0, 0.55);
    cairo_pattern_add_color_stop_rgba(ring, 0.5, 0, 0, 0, 0.2);
    cairo_pattern_add_color_stop_rgba(ring, 1.0, 1, 1, 1, 0.22);
    cairo_set_source(cr, ring);
    cairo_arc(cr, cx, cy, 24.6, 0, 2 * kPi);
    cairo_fill(cr);
    cairo_pattern_destroy(ring);
    cairo_arc(cr, cx, cy, 23.8, 0, 2 * kPi);
    c.setSource(palette::kWell);
    cairo_fill(cr);
}

/// The engraved slot a fader's handle slides along, with its scale.
void faderSlot(const Canvas& c, const Place& p, bool gain) {
    cairo_t* cr = c.cr();
    const double cx = p.x + p.w / 2.0;
    // The handle's centre travels from y + 23 (top) over h - 47 pixels.
    const double top = p.y + kFaderCapHeight / 2.0 - 1.0;
    const double travel = p.h - kFaderCapHeight - 1.0;
    const double bottom = top + travel;
    // Scale ticks either side, every tenth of the travel; longer at the ends and the middle.
    cairo_set_line_width(cr, 1.0);
    for (int i = 0; i <= 10; ++i) {
        const double y = std::floor(top + travel * i / 10.0) + 0.5;
        const bool major = i == 0 || i == 10 || i == 5;
        const double len = major ? 5.0 : 3.0;
        c.setSource(major ? palette::kLabel.withAlpha(0.8) : palette::kLabel.withAlpha(0.45));
        cairo_move_to(cr, cx - 4.5 - len, y);
        cairo_line_to(cr, cx - 4.5, y);
        cairo_move_to(cr, cx + 4.5, y);
        cairo_line_to(cr, cx + 4.5 + len, y);
        cairo_stroke(cr);
    }
    // Unity gain sits in the middle of the gain faders' travel: mark it.
    if (gain) {
        const double y = std::floor(top + travel / 2.0) + 0.5;
        c.setSource(palette::kValue.withAlpha(0.75));
        cairo_move_to(cr, cx + 4.5, y);
        cairo_line_to(cr, cx + 9.5, y);
        cairo_stroke(cr);
    }
    recess(c, cx - 2.0, top - 3.0, 4.0, bottom - top + 6.0, 1.5, Rgba::bytes(5, 5, 6));
}

void label(const Canvas& c, std::string_view text, double x, double baseline, Align align = Align::Centre) {
    c.panelText(text, x, baseline, type::kLabel, palette::kLabel, align);
}

/// A section's colour as a thin line along the top or bottom edge of its plate.
void accentEdge(const Canvas& c, const Plate& p, const Rgba& accent, bool top) {
    const double y = top ? p.y + 1.0 : p.y + p.h - 3.0;
    c.fillRect(p.x + 4.0, y, p.w - 8.0, 2.0, accent.withAlpha(0.85));
}

/// A section's title beside its enable button, and the section's colour along the plate's
/// edge on the title's side.
void sectionTitle(const Canvas& c, std::string_view title, const Plate& plate, bool top, const Rgba& accent) {
    const double baseline = top ? 23.0 : 325.0;
    c.panelText(title, plate.x + 34.0, baseline, type::kTitle, palette::kTitle, Align::Left);
    accentEdge(c, plate, accent, top);
}

/// A rule with end ticks under a group of controls and a word in its middle.
void bracket(const Canvas& c, std::string_view word, double x0, double x1, double y) {
    cairo_t* cr = c.cr();
    const double mid = (x0 + x1) / 2.0;
    const double half = c.textWidth(word, type::kSmall) / 2.0 + 4.0;
    cairo_set_line_width(cr, 1.0);
    c.setSource(palette::kLabel.withAlpha(0.55));
    cairo_move_to(cr, x0 + 0.5, y - 3.0);
    cairo_line_to(cr, x0 + 0.5, y + 0.5);
    cairo_line_to(cr, mid - half, y + 0.5);
    cairo_move_to(cr, mid + half, y + 0.5);
    cairo_line_to(cr, x1 - 0.5, y + 0.5);
    cairo_line_to(cr, x1 - 0.5, y - 3.0);
    cairo_stroke(cr);
    c.panelText(word, mid, y + 2.5, type::kSmall, palette::kLabel);
}

/// Ticks and decibels of reduction beside an activity meter (its top at y): 24 dB fills it.
/// Without `numbers` only the ticks, on the meter's left (x is then the meter's left edge).
void reductionScale(const Canvas& c, double x, double y, bool numbers) {
    cairo_t* cr = c.cr();
    const TextStyle digits{Face::Bold, 5.6, 1.0, 0.1};
    cairo_set_line_width(cr, 1.0);
    for (int i = 0; i <= 2; ++i) {
        const double ty = std::floor(y + kMeter6Height * i / 2.0) + (i == 2 ? -0.5 : 0.5);
        c.setSource(palette::kLabel.withAlpha(0.5));
        cairo_move_to(cr, numbers ? x + 1.5 : x - 1.5, ty);
        cairo_line_to(cr, numbers ? x + 4.0 : x - 4.0, ty);
        cairo_stroke(cr);
        if (numbers)
            c.panelText(i == 0 ? "24" : (i == 1 ? "12" : "0"), x + 5.0, ty + 2.0, digits,
                        palette::kLabel.withAlpha(0.7), Align::Left);
    }
}

void drawControlSeats(const Canvas& c) {
    for (const Place& p : places()) {
        switch (p.kind) {
        case Kind::Knob:
            knobSeat(c, p);
            label(c, p.label, p.x + p.w / 2.0, p.y + 58.0);
            break;
        case Kind::Fader:
        case Kind::BrownFader:
            faderSlot(c, p, p.kind == Kind::Fader);
            break;
        case Kind::Meter:
            if (p.w == kMeter15Width || p.w == kMeter6Width)
                recess(c, p.x, p.y, p.w, p.h, 1.0, Rgba::bytes(7, 8, 9));
            else
                recess(c, p.x + 1.0, p.y + 1.0, p.w - 2.0, p.h - 2.0, 5.0, Rgba::bytes(7, 8, 9));
            break;
        case Kind::Switch:
            break;
        default:
            break;
        }
    }
}

void drawInputOutput(const Canvas& c, const Plate& plate, bool output) {
    const double faderX = output ? 781.0 : 36.0;
    const double switchX = output ? 804.0 : 13.0;
    const double meterL = output ? 802.0 : 8.0;
    label(c, "SAT", faderX, 43.0);
    label(c, "TUBE", switchX, 133.0);
    // The output has its power switch up here; the input a screw.
    if (!output)
        screw(c, plate.x + plate.w / 2.0, 19.0, 0.5);
    label(c, "GAIN", faderX, 310.0);
    c.panelText("L", meterL, 306.0, type::kSmall, palette::kLabel);
    c.panelText("R", meterL + 8.0, 306.0, type::kSmall, palette::kLabel);
    c.panelText(output ? "OUTPUT" : "INPUT", plate.x + plate.w / 2.0, 329.0, type::kTitle, palette::kTitle);
    accentEdge(c, plate, palette::kInput, false);
}

void drawDisplay(const Canvas& c) {
    cairo_t* cr = c.cr();
    const Plate& p = kDisplayPlate;
    // Name and maker.
    c.panelText("Pellucer", p.x + 9.0, 30.0, TextStyle{Face::Bold, 19.0, 1.0, 0.6}, palette::kTitle,
                Align::Left);
    c.panelText("VOCAL CHANNEL STRIP", p.x + p.w - 9.0, 29.0, type::kSmall, palette::kLabel, Align::Right);
    // The five modules' colours under the name, in their default order.
    const Rgba accents[] = {palette::kDeEsser, palette::kCompander, palette::kEq, palette::kDoubler,
                            palette::kDelay};
    const double ruleWidth = (p.w - 18.0) / 5.0;
    for (int i = 0; i < 5; ++i)
        c.fillRect(p.x + 9.0 + i * ruleWidth, 37.0, ruleWidth, 1.5, accents[i].withAlpha(0.8));
    // The readout window (value left, parameter name right).
    recess(c, 508.0, 46.0, 244.0, 38.0, 3.0, palette::kGlass);
    c.fillRect(593.0, 50.0, 1.0, 30.0, Rgba{1, 1, 1, 0.07});
    c.fillRect(592.0, 50.0, 1.0, 30.0, Rgba{0, 0, 0, 0.5});
    // The graph screen under the tabs.
    recess(c, 508.0, 100.0, 245.0, 140.0, 2.0, palette::kGlass);
    c.roundedRect(508.0, 100.0, 245.0, 140.0, 2.0);
    cairo_save(cr);
    cairo_clip(cr);
    cairo_pattern_t* sheen = cairo_pattern_create_radial(630.0, 120.0, 10.0, 630.0, 150.0, 170.0);
    cairo_pattern_add_color_stop_rgba(sheen, 0.0, 0.3, 0.5, 0.7, 0.06);
    cairo_pattern_add_color_stop_rgba(sheen, 1.0, 0.3, 0.5, 0.7, 0.0);
    cairo_set_source(cr, sheen);
    cairo_paint(cr);
    cairo_pattern_destroy(sheen);
    cairo_restore(cr);
    // The order strip's tray and its caption.
    recess(c, 510.0, 243.0, 242.0, 59.0, 5.0, Rgba::bytes(20, 21, 24));
    c.panelText("SIGNAL FLOW", 511.0, 313.0, type::kSmall, palette::kLabel, Align::Left);
    c.panelText("DRAG A MODULE TO REORDER", 751.0, 313.0, type::kSmall, palette::kLabel.withAlpha(0.6),
                Align::Right);
    c.fillRect(p.x + 8.0, 320.0, p.w - 16.0, 1.0, Rgba{0, 0, 0, 0.4});
    c.fillRect(p.x + 8.0, 321.0, p.w - 16.0, 1.0, Rgba{1, 1, 1, 0.06});
    c.panelText("TESSALY MUSIC SOFTWARE", p.x + p.w / 2.0, 333.0, type::kSmall,
                palette::kLabel.withAlpha(0.75));
}

} // namespace

gui::PixelBuffer drawBackground() {
    Canvas texture(kEditorWidth, kEditorHeight);
    texture.shade(0, 0, kEditorWidth, kEditorHeight, 1, brushed);

    Canvas c(kEditorWidth, kEditorHeight);
    c.fillRect(0, 0, kEditorWidth, kEditorHeight, palette::kGroove);
    for (const Plate& p : kPlates)
        drawPlate(c, texture.surface(), p);

    // Sections: titles beside their enable buttons.
    sectionTitle(c, "DE-ESSER", kDeEsserPlate, true, palette::kDeEsser);
    sectionTitle(c, "COMPANDER", kCompanderPlate, true, palette::kCompander);
    sectionTitle(c, "EQUALISER", kEqPlate, true, palette::kEq);
    sectionTitle(c, "DOUBLER", kDoublerPlate, false, palette::kDoubler);
    sectionTitle(c, "DELAY", kDelayPlate, false, palette::kDelay);

    drawControlSeats(c);

    // Words that are not under a knob.
    label(c, "LISTEN", 134.0, 108.0);
    label(c, "EXPAND", 196.0, 46.0);
    label(c, "COMPRESS", 250.0, 46.0);
    label(c, "LOW", 363.0, 46.0);
    label(c, "MID", 416.0, 46.0);
    label(c, "HIGH", 469.0, 46.0);
    label(c, "SAT", 310.0, 43.0);
    label(c, "TUBE", 310.0, 231.0);
    for (const double x : {363.0, 416.0, 469.0})
        label(c, "TUBE", x, 231.0);
    for (const double x : {82.0, 182.0, 261.0})
        c.panelText("GR", x, 235.0, type::kSmall, palette::kLabel);
    // The expander's meter has the attack knob close on its right: ticks only, on its left.
    reductionScale(c, 78.0 + kMeter6Width, 178.0, true);
    reductionScale(c, 178.0, 178.0, false);
    reductionScale(c, 257.0 + kMeter6Width, 178.0, true);
    label(c, "SYNC", 182.0, 302.0);
    bracket(c, "FILTER", 396.0, 489.0, 312.0);

    drawInputOutput(c, kInputPlate, false);
    drawInputOutput(c, kOutputPlate, true);
    drawDisplay(c);
    return c.image();
}

} // namespace pellucer::skin
