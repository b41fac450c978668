// The About image the editor shows over itself.

#include <cmath>
#include <numbers>
#include <string>

#include "tools/skin/SkinArt.h"
#include "tools/skin/SkinLayout.h"

#ifndef PELLUCER_VERSION
#define PELLUCER_VERSION "0.0.0"
#endif

namespace pellucer::skin {

namespace {


/// A glowing trace across the card: a voice-like wave that swells and fades.
void trace(const Canvas& c, double y, double amplitude) {
    cairo_t* cr = c.cr();
    auto path = [&] {
        cairo_new_path(cr);
        for (int i = 0; i <= 380; ++i) {
            const double x = 20.0 + i;
            const double t = i / 380.0;
            const double envelope = std::sin(t * kPi) * (0.55 + 0.45 * std::sin(t * 3.0 * kPi + 0.6));
            const double v = envelope * (std::sin(t * 46.0) * 0.7 + std::sin(t * 97.0 + 1.3) * 0.3);
            if (i == 0)
                cairo_move_to(cr, x, y - v * amplitude);
            else
                cairo_line_to(cr, x, y - v * amplitude);
        }
    };
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    path();
    cairo_set_line_width(cr, 5.0);
    c.setSource(palette::kValue.withAlpha(0.12));
    cairo_stroke(cr);
    path();
    cairo_set_line_width(cr, 1.3);
    c.setSource(palette::kValue.withAlpha(0.85));
    cairo_stroke(cr);
}

} // namespace

gui::PixelBuffer drawAbout() {
    const double w = kAboutWidth, h = kAboutHeight;
    Canvas c(kAboutWidth, kAboutHeight);
    cairo_t* cr = c.cr();
    c.fillRect(0, 0, w, h, Rgba::bytes(10, 11, 13));
    // A brushed card with a bevel.
    c.shade(0, 0, kAboutWidth, kAboutHeight, 1, [](double x, double y) {
        const double grain = noise(static_cast<int32_t>(x) / 4, static_cast<int32_t>(y), 31) - 0.5;
        return Rgba::bytes(34, 36, 40).shade(1.0 + grain * 0.06 + 0.12 * (1.0 - y / kAboutHeight));
    });
    cairo_set_line_width(cr, 1.0);
    c.roundedRect(0.5, 0.5, w - 1.0, h - 1.0, 2.0);
    cairo_pattern_t* bevel = cairo_pattern_create_linear(0, 0, 0, h);
    cairo_pattern_add_color_stop_rgba(bevel, 0.0, 1, 1, 1, 0.3);
    cairo_pattern_add_color_stop_rgba(bevel, 1.0, 0, 0, 0, 0.6);
    cairo_set_source(cr, bevel);
    cairo_stroke(cr);
    cairo_pattern_destroy(bevel);

    // The accents of the five modules along the top.
    const Rgba accents[] = {palette::kDeEsser, palette::kCompander, palette::kEq, palette::kDoubler,
                            palette::kDelay};
    for (int i = 0; i < 5; ++i)
        c.fillRect(20.0 + i * 76.0, 18.0, 76.0, 2.0, accents[i].withAlpha(0.9));

    // The screen with the trace.
    c.roundedRect(20.0, 106.0, w - 40.0, 56.0, 3.0);
    c.setSource(palette::kGlass);
    cairo_fill(cr);
    c.roundedRect(20.0, 106.0, w - 40.0, 56.0, 3.0);
    cairo_save(cr);
    cairo_clip(cr);
    trace(c, 134.0, 20.0);
    c.setVerticalGradient(106.0, Rgba{0, 0, 0, 0.55}, 112.0, Rgba{0, 0, 0, 0});
    cairo_paint(cr);
    cairo_restore(cr);

    c.panelText("Pellucer", w / 2.0, 70.0, TextStyle{Face::Bold, 40.0, 1.0, 1.5}, palette::kTitle);
    c.panelText("Vocal Channel Strip", w / 2.0, 92.0, TextStyle{Face::Bold, 11.0, 1.0, 1.2}, palette::kValue);
    c.panelText("Tessaly Music Software", w / 2.0, 190.0, TextStyle{Face::Bold, 12.0, 1.0, 0.4},
                palette::kTitle);
    c.panelText(std::string("Version ") + PELLUCER_VERSION, w / 2.0, 208.0,
                TextStyle{Face::Regular, 10.0, 1.0, 0.3}, palette::kLabel);
    c.fillRect(120.0, 222.0, w - 240.0, 1.0, Rgba{1, 1, 1, 0.08});
    c.panelText("Click anywhere to close", w / 2.0, 241.0, TextStyle{Face::Regular, 9.0, 1.0, 0.3},
                palette::kLabel.withAlpha(0.65));
    return c.image();
}

} // namespace pellucer::skin
