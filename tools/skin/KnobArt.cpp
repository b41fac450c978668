// The knob: a dark knurled cap with a brushed top and a white pointer, in a recessed well whose
// value arc lights from the minimum (7 o'clock) up to the value.

#include <algorithm>
#include <cmath>
#include <numbers>

#include "tools/skin/SkinArt.h"
#include "tools/skin/SkinLayout.h"

namespace pellucer::skin {

namespace {

constexpr double kSweepDegrees = 270.0; // -135 .. +135 degrees from 12 o'clock
constexpr double kCentreX = kKnobWidth / 2.0;
constexpr double kCentreY = kKnobCentreY;
constexpr double kWellRadius = 23.6;
constexpr double kTrackRadius = 20.3;
constexpr double kSkirtRadius = 15.6;
constexpr double kTopRadius = 11.8;
constexpr int kKnurls = 28;

double smooth(double edge0, double edge1, double x) {
    const double t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

/// The pointer's angle in radians from 12 o'clock, clockwise, for a value 0..1.
double pointerAngle(double value) { return (value * kSweepDegrees - kSweepDegrees / 2.0) * kPi / 180.0; }

/// Cairo's angle (from 3 o'clock, clockwise on screen) of an angle from 12 o'clock.
double cairoAngle(double fromTop) { return fromTop - kPi / 2.0; }

/// The recessed well and the dark track the arc runs in.
void drawWell(const Canvas& c) {
    cairo_t* cr = c.cr();
    c.shade(0, 0, kKnobWidth, kKnobHeight, 4, [](double x, double y) {
        const double dx = x - kCentreX, dy = y - kCentreY;
        const double r = std::sqrt(dx * dx + dy * dy);
        const double coverage = std::clamp(kWellRadius - r + 0.5, 0.0, 1.0);
        if (coverage <= 0.0)
            return Rgba{0, 0, 0, 0};
        // A recess: its upper rim in shadow, its lower rim catching the light.
        const double rim = smooth(kWellRadius - 2.2, kWellRadius, r);
        const double lightFromBelow = r > 0.0 ? dy / r : 0.0;
        Rgba base = palette::kWell.shade(0.92 + 0.1 * smooth(kWellRadius, 0.0, r));
        base = base.mix(Rgba::bytes(70, 72, 78), rim * std::max(0.0, lightFromBelow) * 0.55);
        base = base.mix(Rgba::bytes(6, 6, 8), rim * std::max(0.0, -lightFromBelow) * 0.6);
        return base.withAlpha(coverage);
    });
    // The track of the arc.
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_width(cr, 3.2);
    c.setSource(Rgba::bytes(8, 9, 11));
    cairo_arc(cr, kCentreX, kCentreY, kTrackRadius, cairoAngle(pointerAngle(0.0)),
              cairoAngle(pointerAngle(1.0)));
    cairo_stroke(cr);
    cairo_set_line_width(cr, 1.0);
    c.setSource(Rgba::bytes(255, 255, 255, 0.05));
    cairo_arc(cr, kCentreX, kCentreY, kTrackRadius + 1.6, cairoAngle(pointerAngle(0.0)),
              cairoAngle(pointerAngle(1.0)));
    cairo_stroke(cr);
}

void drawValueArc(const Canvas& c, double value) {
    cairo_t* cr = c.cr();
    const double from = cairoAngle(pointerAngle(0.0));
    const double to = cairoAngle(pointerAngle(value));
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    if (value <= 0.0) {
        // Even at the minimum a dim dot marks where the arc starts.
        cairo_set_line_width(cr, 2.2);
        c.setSource(palette::kValue.withAlpha(0.35));
        cairo_arc(cr, kCentreX, kCentreY, kTrackRadius, from, from + 0.001);
        cairo_stroke(cr);
        return;
    }
    // A soft glow under a bright core.
    cairo_set_line_width(cr, 5.0);
    c.setSource(palette::kValue.withAlpha(0.2));
    cairo_arc(cr, kCentreX, kCentreY, kTrackRadius, from, to);
    cairo_stroke(cr);
    cairo_set_line_width(cr, 2.3);
    c.setSource(palette::kValue);
    cairo_arc(cr, kCentreX, kCentreY, kTrackRadius, from, to);
    cairo_stroke(cr);
    cairo_set_line_width(cr, 0.9);
    c.setSource(palette::kValue.shade(1.55));
    cairo_arc(cr, kCentreX, kCentreY, kTrackRadius - 0.2, from, to);
    cairo_stroke(cr);
}

void drawCap(const Canvas& c, double value) {
    const double rotation = pointerAngle(value);
    c.shade(0, 0, kKnobWidth, kKnobHeight, 4, [rotation](double x, double y) {
        const double dx = x - kCentreX, dy = y - kCentreY;
        const double r = std::sqrt(dx * dx + dy * dy);
        // The cap's shadow falls a little below it.
        const double sdx = dx, sdy = dy - 1.8;
        const double shadowR = std::sqrt(sdx * sdx + sdy * sdy);
        const double shadow = 0.7 * (1.0 - smooth(kSkirtRadius - 1.0, kSkirtRadius + 3.2, shadowR));
        const double coverage = std::clamp(kSkirtRadius - r + 0.5, 0.0, 1.0);
        if (coverage <= 0.0)
            return Rgba{0, 0, 0, shadow};
        const double phi = std::atan2(dy, dx);     // screen angle from 3 o'clock
        const double up = r > 0.0 ? -dy / r : 0.0; // 1 at the top edge, -1 at the bottom
        Rgba colour;
        if (r > kTopRadius + 1.0) {
            // Knurled skirt: ridges turn with the knob, lit from above.
            const double t = (phi - rotation) * kKnurls / (2.0 * kPi);
            const double ridge = 0.5 + 0.5 * std::cos(2.0 * kPi * t);
            const double lit = 0.55 + 0.45 * up;
            const double edge = smooth(kSkirtRadius - 1.2, kSkirtRadius, r);
            const double level = 0.11 + 0.09 * ridge * lit + 0.05 * lit - 0.04 * edge;
            colour = Rgba{level, level * 1.02, level * 1.08};
        } else if (r > kTopRadius) {
            // The top's chamfer: bright above, dark below.
            const double level = 0.25 + 0.22 * up;
            colour = Rgba{level, level * 1.02, level * 1.06};
        } else {
            // Brushed top: concentric grain with the light's two lobes.
            const double lobes = std::cos(2.0 * (phi + 3.0 * kPi / 4.0));
            const double grain = noise(static_cast<int32_t>(r * 6.0), 17, 5) - 0.5;
            const double level =
                0.215 + 0.055 * lobes + 0.025 * grain - 0.03 * (r / kTopRadius) * (r / kTopRadius);
            colour = Rgba{level, level * 1.02, level * 1.07};
        }
        // The cap's antialiased edge over its own shadow (black, so only the alpha adds up).
        const double a = coverage + shadow * (1.0 - coverage);
        return Rgba{colour.r * coverage / a, colour.g * coverage / a, colour.b * coverage / a, a};
    });
    // The pointer: a white line from near the centre out to the skirt.
    cairo_t* cr = c.cr();
    const double sx = std::sin(rotation), sy = -std::cos(rotation);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_width(cr, 2.6);
    c.setSource(Rgba::bytes(0, 0, 0, 0.45));
    cairo_move_to(cr, kCentreX + sx * 4.0, kCentreY + sy * 4.0 + 0.6);
    cairo_line_to(cr, kCentreX + sx * (kSkirtRadius - 1.5), kCentreY + sy * (kSkirtRadius - 1.5) + 0.6);
    cairo_stroke(cr);
    cairo_set_line_width(cr, 1.9);
    c.setSource(Rgba::bytes(246, 247, 250));
    cairo_move_to(cr, kCentreX + sx * 4.5, kCentreY + sy * 4.5);
    cairo_line_to(cr, kCentreX + sx * (kSkirtRadius - 1.6), kCentreY + sy * (kSkirtRadius - 1.6));
    cairo_stroke(cr);
}

} // namespace

Art drawKnob() {
    std::vector<gui::PixelBuffer> images, masks;
    for (int frame = 0; frame < kKnobFrames; ++frame) {
        const double value = static_cast<double>(frame) / (kKnobFrames - 1);
        Canvas c(kKnobWidth, kKnobHeight);
        drawWell(c);
        drawValueArc(c, value);
        drawCap(c, value);
        images.push_back(c.image());
        masks.push_back(c.mask());
    }
    return {stackFrames(images), stackFrames(masks)};
}

} // namespace pellucer::skin
