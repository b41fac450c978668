// The processing-order strip: a tray of five slots with arrows between them, and one tile per
// module that the user drags from slot to slot.

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

#include "tools/skin/SkinArt.h"
#include "tools/skin/SkinLayout.h"

namespace pellucer::skin {

namespace {

/// The slots' floor; the tiles' corners are painted in it so the opaque tiles look rounded.
const Rgba kSlotFloor = Rgba::bytes(13, 14, 16);

struct Module {
    const char* word;
    Rgba accent;
};

const Module kModules[] = {
    {"COMP", palette::kCompander}, {"EQ", palette::kEq},       {"DE-ESS", palette::kDeEsser},
    {"DOUBLE", palette::kDoubler}, {"DELAY", palette::kDelay},
};

/// The symbol of each module, drawn in the box (x, y, w, h).
void symbol(const Canvas& c, int module, double x, double y, double w, double h, const Rgba& ink) {
    cairo_t* cr = c.cr();
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_set_line_width(cr, 1.6);
    c.setSource(ink);
    const double bottom = y + h, right = x + w;
    switch (module) {
    case 0: { // compander: a transfer curve that bends over at the threshold
        cairo_set_line_width(cr, 0.8);
        c.setSource(ink.withAlpha(0.35));
        cairo_move_to(cr, x, y);
        cairo_line_to(cr, x, bottom);
        cairo_line_to(cr, right, bottom);
        cairo_stroke(cr);
        cairo_set_line_width(cr, 1.6);
        c.setSource(ink);
        cairo_move_to(cr, x + 2, bottom - 1);
        cairo_line_to(cr, x + w * 0.55, y + h * 0.35);
        cairo_curve_to(cr, x + w * 0.65, y + h * 0.25, x + w * 0.75, y + h * 0.22, right, y + h * 0.12);
        cairo_stroke(cr);
        break;
    }
    case 1: { // EQ: a bell between two shelves
        cairo_move_to(cr, x, y + h * 0.7);
        for (int i = 0; i <= 40; ++i) {
            const double t = i / 40.0;
            const double bell = std::exp(-std::pow((t - 0.5) / 0.13, 2.0));
            cairo_line_to(cr, x + t * w, y + h * 0.7 - bell * h * 0.6);
        }
        cairo_stroke(cr);
        break;
    }
    case 2: { // de-esser: a flat spectrum with a dip where the sibilance is
        cairo_move_to(cr, x, y + h * 0.35);
        for (int i = 0; i <= 40; ++i) {
            const double t = i / 40.0;
            const double dip = std::exp(-std::pow((t - 0.72) / 0.11, 2.0));
            cairo_line_to(cr, x + t * w, y + h * 0.35 + dip * h * 0.5);
        }
        cairo_stroke(cr);
        // An arrow pointing down into the dip.
        cairo_set_line_width(cr, 1.2);
        const double ax = x + 0.72 * w;
        cairo_move_to(cr, ax, y);
        cairo_line_to(cr, ax, y + h * 0.45);
        cairo_move_to(cr, ax - 2.2, y + h * 0.45 - 2.5);
        cairo_line_to(cr, ax, y + h * 0.45);
        cairo_line_to(cr, ax + 2.2, y + h * 0.45 - 2.5);
        cairo_stroke(cr);
        break;
    }
    case 3: { // doubler: two voices, one a little behind the other
        for (int voice = 1; voice >= 0; --voice) {
            c.setSource(voice == 1 ? ink.withAlpha(0.45) : ink);
            const double shift = voice * 2.6;
            cairo_move_to(cr, x, y + h / 2 + shift);
            for (int i = 0; i <= 40; ++i) {
                const double t = i / 40.0;
                cairo_line_to(cr, x + t * w,
                              y + h / 2 + shift - std::sin((t + voice * 0.12) * 2.0 * kPi * 1.5) * h * 0.3);
            }
            cairo_stroke(cr);
        }
        break;
    }
    default: { // delay: repeats that fade away
        cairo_set_line_width(cr, 2.4);
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
        for (int i = 0; i < 5; ++i) {
            const double bx = x + 1.5 + i * (w - 3.0) / 4.0;
            const double level = std::pow(0.68, i);
            c.setSource(ink.withAlpha(0.3 + 0.7 * level));
            cairo_move_to(cr, bx, bottom);
            cairo_line_to(cr, bx, bottom - h * level);
            cairo_stroke(cr);
        }
        break;
    }
    }
}

} // namespace

Art drawOrderStrip() {
    Canvas c(kOrderWidth, kOrderHeight);
    cairo_t* cr = c.cr();
    // The tray.
    c.roundedRect(0, 0, kOrderWidth, kOrderHeight, 5);
    c.setVerticalGradient(0, Rgba::bytes(16, 17, 19), kOrderHeight, Rgba::bytes(30, 32, 35));
    cairo_fill(cr);
    c.roundedRect(1, 1, kOrderWidth - 2, kOrderHeight - 2, 4);
    c.setVerticalGradient(1, Rgba::bytes(22, 23, 26), kOrderHeight - 1, Rgba::bytes(26, 27, 30));
    cairo_fill(cr);
    for (int slot = 0; slot < 5; ++slot) {
        const double x = slot * kOrderSlotPitch;
        // Slot: a recess with the tile's shape.
        c.roundedRect(x, kIconTop, kIconWidth, kIconHeight, 4);
        c.setSource(kSlotFloor);
        cairo_fill(cr);
        c.roundedRect(x + 0.5, kIconTop + 0.5, kIconWidth - 1, kIconHeight - 1, 3.5);
        cairo_set_line_width(cr, 1.0);
        c.setVerticalGradient(kIconTop, Rgba{0, 0, 0, 0.6}, kIconTop + kIconHeight, Rgba{1, 1, 1, 0.07});
        cairo_stroke(cr);
        // The slot number, seen while its tile is being dragged away.
        c.panelText(std::string(1, static_cast<char>('1' + slot)), x + kIconWidth / 2.0, kIconTop + 27,
                    TextStyle{Face::Bold, 10.0, 1.0, 0.0}, Rgba::bytes(60, 63, 68));
        // The arrow to the next slot.
        if (slot < 4) {
            const double ax = x + kIconWidth + 5.0, ay = kIconTop + kIconHeight / 2.0;
            cairo_set_line_width(cr, 1.5);
            cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
            cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
            c.setSource(Rgba::bytes(120, 125, 133));
            cairo_move_to(cr, ax - 1.8, ay - 3.5);
            cairo_line_to(cr, ax + 1.8, ay);
            cairo_line_to(cr, ax - 1.8, ay + 3.5);
            cairo_stroke(cr);
        }
    }
    return {c.image(), c.mask()};
}

gui::PixelBuffer drawOrderIcon(int module) {
    const Module& m = kModules[std::clamp(module, 0, 4)];
    Canvas c(kIconWidth, kIconHeight);
    cairo_t* cr = c.cr();
    c.fillRect(0, 0, kIconWidth, kIconHeight, kSlotFloor);
    // Tile body, lit from above.
    c.roundedRect(0.5, 0.5, kIconWidth - 1, kIconHeight - 1, 4);
    c.setVerticalGradient(0, Rgba::bytes(98, 102, 110), kIconHeight, Rgba::bytes(30, 31, 35));
    cairo_fill(cr);
    c.roundedRect(1.5, 1.5, kIconWidth - 3, kIconHeight - 3, 3);
    c.setVerticalGradient(0, Rgba::bytes(60, 63, 69), kIconHeight, Rgba::bytes(38, 40, 44));
    cairo_fill(cr);
    // The module's colour along the top edge.
    c.roundedRect(1.5, 1.5, kIconWidth - 3, 3, 1.5);
    c.setSource(m.accent);
    cairo_fill(cr);
    // Screen for the symbol.
    c.roundedRect(4, 8, kIconWidth - 8, 22, 2);
    c.setSource(Rgba::bytes(16, 18, 22));
    cairo_fill(cr);
    symbol(c, module, 7, 11, kIconWidth - 14, 16, m.accent.shade(1.15));
    c.panelText(m.word, kIconWidth / 2.0, 40.5, type::kSmall, palette::kTitle);
    return c.image();
}

} // namespace pellucer::skin
