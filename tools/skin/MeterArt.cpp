// Segment meters and the tube windows whose glow follows the drive.

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "tools/skin/SkinArt.h"
#include "tools/skin/SkinLayout.h"

namespace pellucer::skin {

namespace {


const Rgba kGreen = Rgba::bytes(84, 226, 92);
const Rgba kAmber = Rgba::bytes(255, 184, 40);
const Rgba kRed = Rgba::bytes(255, 62, 50);

/// Colour of segment `index` (0 at the bottom) of `segments`: green, then amber, the top red.
/// The level meter's 15 segments span -48..0 dB in 3.2 dB steps: amber from about -15 dB,
/// red for the last two (about -6 dB and up).
Rgba segmentColour(int index, int segments) {
    const int red = segments >= 10 ? 2 : 1;
    const int amber = segments >= 10 ? 3 : 2;
    if (index >= segments - red)
        return kRed;
    if (index >= segments - red - amber)
        return kAmber;
    return kGreen;
}

} // namespace

Art drawSegmentMeter(int segments, int height) {
    constexpr int kWidth = 8;
    const double pitch = static_cast<double>(height) / segments;
    std::vector<gui::PixelBuffer> images, masks;
    for (int lit = 0; lit <= segments; ++lit) {
        Canvas c(kWidth, height);
        cairo_t* cr = c.cr();
        c.fillRect(0, 0, kWidth, height, Rgba::bytes(7, 8, 9));
        for (int i = 0; i < segments; ++i) {
            const double top = height - (i + 1) * pitch + 1.0;
            const double h = pitch - 2.0;
            const Rgba colour = segmentColour(i, segments);
            const bool on = i < lit;
            c.roundedRect(1.0, top, kWidth - 2.0, h, 1.0);
            if (on) {
                // A lit segment: bright core, slightly darker edges.
                cairo_pattern_t* p = cairo_pattern_create_linear(1.0, 0, kWidth - 1.0, 0);
                const Rgba edge = colour.shade(0.78), core = colour.shade(1.28);
                cairo_pattern_add_color_stop_rgb(p, 0.0, edge.r, edge.g, edge.b);
                cairo_pattern_add_color_stop_rgb(p, 0.45, core.r, core.g, core.b);
                cairo_pattern_add_color_stop_rgb(p, 1.0, edge.r, edge.g, edge.b);
                cairo_set_source(cr, p);
                cairo_fill(cr);
                cairo_pattern_destroy(p);
            } else {
                c.setSource(colour.shade(0.17).mix(Rgba::bytes(22, 23, 25), 0.35));
                cairo_fill(cr);
            }
        }
        images.push_back(c.image());
        masks.push_back(c.mask());
    }
    return {stackFrames(images), stackFrames(masks)};
}

namespace {

/// The tube window of one frame: a metal bezel round dark glass, and behind it a valve whose
/// heater glows through the slit in its plate at `heat` 0..1 and lights the bulb around it.
void tubeFrame(const Canvas& c, double heat, bool powerTube) {
    cairo_t* cr = c.cr();
    const double w = kTubeWidth, h = kTubeHeight;
    const double cx = w / 2.0;
    // Bezel: a ring of dark metal, lit from above, round a black window.
    c.roundedRect(1.0, 1.0, w - 2.0, h - 2.0, 6.0);
    c.setVerticalGradient(1.0, Rgba::bytes(128, 132, 138), h - 1.0, Rgba::bytes(26, 27, 30));
    cairo_fill(cr);
    c.roundedRect(2.2, 2.2, w - 4.4, h - 4.4, 5.0);
    c.setVerticalGradient(2.2, Rgba::bytes(20, 21, 24), h - 2.2, Rgba::bytes(84, 86, 92));
    cairo_fill(cr);
    c.roundedRect(3.0, 3.0, w - 6.0, h - 6.0, 4.2);
    c.setSource(Rgba::bytes(5, 5, 7));
    cairo_fill_preserve(cr);
    cairo_save(cr);
    cairo_clip(cr);

    const Rgba hot = Rgba::bytes(226, 80, 20)
                         .mix(palette::kTubeWarm, std::min(1.0, heat * 1.4))
                         .mix(Rgba::bytes(255, 198, 104), heat * heat);
    const double glowY = 18.0;
    // Light spilled on the window round the bulb.
    if (heat > 0.0) {
        cairo_pattern_t* spill = cairo_pattern_create_radial(cx, glowY, 2.0, cx, glowY, 15.0);
        cairo_pattern_add_color_stop_rgba(spill, 0.0, hot.r, hot.g * 0.8, hot.b * 0.5, 0.45 * heat);
        cairo_pattern_add_color_stop_rgba(spill, 1.0, hot.r, hot.g * 0.6, hot.b * 0.3, 0.0);
        cairo_set_source(cr, spill);
        cairo_paint(cr);
        cairo_pattern_destroy(spill);
    }
    // The bulb: a capsule of glass standing on its base.
    const double half = powerTube ? 6.3 : 5.5;
    const double domeY = 5.4 + half, base = h - 3.5;
    auto bulb = [&] {
        cairo_new_path(cr);
        cairo_move_to(cr, cx - half, base);
        cairo_line_to(cr, cx - half, domeY);
        cairo_arc(cr, cx, domeY, half, kPi, 2 * kPi);
        cairo_line_to(cr, cx + half, base);
        cairo_close_path(cr);
    };
    // The exhaust tip on top of the dome.
    c.roundedRect(cx - 1.0, domeY - half - 1.6, 2.0, 2.2, 0.8);
    c.setSource(Rgba{0.8, 0.85, 0.9, 0.3});
    cairo_fill(cr);
    bulb();
    c.setSource(Rgba{0.75, 0.8, 0.85, 0.04});
    cairo_fill(cr);
    bulb();
    cairo_save(cr);
    cairo_clip(cr);
    // The glow inside the bulb, behind the electrodes.
    if (heat > 0.0) {
        cairo_pattern_t* halo = cairo_pattern_create_radial(cx, glowY, 0.0, cx, glowY, 6.0 + 7.0 * heat);
        cairo_pattern_add_color_stop_rgba(halo, 0.0, hot.r, hot.g, hot.b, 0.15 + 0.85 * heat);
        cairo_pattern_add_color_stop_rgba(halo, 1.0, hot.r, hot.g * 0.7, hot.b * 0.3, 0.0);
        cairo_set_source(cr, halo);
        cairo_paint(cr);
        cairo_pattern_destroy(halo);
    }
    // Getter flash: a silvered cap at the very top of the dome.
    cairo_arc(cr, cx, domeY, half, kPi, 2 * kPi);
    cairo_close_path(cr);
    c.setVerticalGradient(domeY - half, Rgba::bytes(140, 142, 148, 0.8), domeY - half + 3.5,
                          Rgba::bytes(40, 40, 44, 0.0));
    cairo_fill(cr);
    // Mica spacers above and below the electrodes.
    const double plateTop = domeY + 1.0, plateBottom = powerTube ? 25.0 : 24.0;
    c.fillRect(cx - half, plateTop - 1.0, 2 * half, 1.0, Rgba::bytes(176, 166, 146, 0.4));
    c.fillRect(cx - half, plateBottom, 2 * half, 1.0, Rgba::bytes(176, 166, 146, 0.32));
    // The heater between the plates, glowing through the gap.
    const Rgba filament = Rgba::bytes(54, 16, 8).mix(hot, std::min(1.0, heat * 1.6)).shade(1.0 + 0.45 * heat);
    const int heaters = powerTube ? 2 : 1;
    for (int i = 0; i < heaters; ++i) {
        const double hx = heaters == 1 ? cx : cx + (i == 0 ? -1.3 : 1.3);
        if (heat > 0.0)
            c.fillRect(hx - 1.5, plateTop + 0.5, 3.0, plateBottom - plateTop - 1.0,
                       hot.withAlpha(0.3 * heat));
        c.fillRect(hx - 0.55, plateTop + 0.5, 1.1, plateBottom - plateTop - 1.0, filament);
    }
    // The plates: dark sheets either side, their inner edges lit by the heater.
    const double inner = powerTube ? 2.6 : 1.7, outer = powerTube ? 5.3 : 4.3;
    const Rgba plate = Rgba::bytes(44, 45, 49).mix(Rgba::bytes(66, 38, 22), heat * 0.5);
    for (const double side : {-1.0, 1.0}) {
        const double x0 = side < 0 ? cx - outer : cx + inner;
        c.fillRect(x0, plateTop + 1.5, outer - inner, plateBottom - plateTop - 3.0, plate);
        const double edge = side < 0 ? cx - inner - 0.6 : cx + inner;
        c.fillRect(edge, plateTop + 1.5, 0.6, plateBottom - plateTop - 3.0, hot.withAlpha(0.1 + 0.6 * heat));
    }
    // Pins to the base.
    cairo_set_line_width(cr, 0.7);
    for (int i = -2; i <= 2; ++i) {
        cairo_move_to(cr, cx + i * 2.0, plateBottom + 1.5);
        cairo_line_to(cr, cx + i * 2.0, base);
    }
    c.setSource(Rgba::bytes(130, 130, 134, 0.55));
    cairo_stroke(cr);
    cairo_restore(cr);
    // The glass edges and a reflection down its left side.
    bulb();
    cairo_set_line_width(cr, 0.8);
    c.setSource(Rgba{0.85, 0.88, 0.92, 0.28});
    cairo_stroke(cr);
    c.roundedRect(cx - half + 1.2, domeY - 1.0, 1.3, base - domeY - 2.0, 0.6);
    c.setSource(Rgba{1, 1, 1, 0.16});
    cairo_fill(cr);
    // The base the bulb stands in.
    c.roundedRect(cx - half - 1.0, base - 1.0, 2 * half + 2.0, 3.5, 1.0);
    c.setVerticalGradient(base - 1.0, Rgba::bytes(70, 60, 50), base + 2.5, Rgba::bytes(24, 20, 18));
    cairo_fill(cr);
    cairo_restore(cr);
    // Inner shadow under the bezel's upper edge.
    c.roundedRect(3.0, 3.0, w - 6.0, h - 6.0, 4.2);
    cairo_save(cr);
    cairo_clip(cr);
    c.setVerticalGradient(3.0, Rgba{0, 0, 0, 0.7}, 7.0, Rgba{0, 0, 0, 0.0});
    cairo_paint(cr);
    cairo_restore(cr);
}

} // namespace

Art drawTubeGlow(bool output) {
    std::vector<gui::PixelBuffer> images, masks;
    for (int frame = 0; frame < kTubeFrames; ++frame) {
        // Frame 0 is a cold tube; the heat rises a little faster at first, as a filament does.
        const double heat = std::pow(static_cast<double>(frame) / (kTubeFrames - 1), 0.85);
        Canvas c(kTubeWidth, kTubeHeight);
        tubeFrame(c, heat, output);
        images.push_back(c.image());
        masks.push_back(c.mask());
    }
    return {stackFrames(images), stackFrames(masks)};
}

} // namespace pellucer::skin
