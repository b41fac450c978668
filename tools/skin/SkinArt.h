#pragma once

// The skin's pictures. Each function draws one image (a strip of frames where the control has
// several) and answers the 24-bit image with its grey mask; images that are drawn opaque have
// no mask.

#include <numbers>
#include <string_view>

#include "Shared/GUI/PixelBuffer.h"
#include "tools/skin/SkinCanvas.h"

namespace pellucer::skin {

inline constexpr double kPi = std::numbers::pi;

/// An image and its mask (empty for images without one).
struct Art {
    gui::PixelBuffer image;
    gui::PixelBuffer mask;
};

/// The one visual language: panel tones, the knobs' value colour and a restrained accent per
/// section.
namespace palette {
inline constexpr Rgba kPanel = Rgba::bytes(43, 45, 49);
inline constexpr Rgba kGroove = Rgba::bytes(9, 10, 11);
inline constexpr Rgba kWell = Rgba::bytes(22, 23, 26);
inline constexpr Rgba kGlass = Rgba::bytes(11, 15, 21);
inline constexpr Rgba kLabel = Rgba::bytes(190, 195, 202);
inline constexpr Rgba kTitle = Rgba::bytes(232, 234, 238);
inline constexpr Rgba kValue = Rgba::bytes(72, 184, 255);
inline constexpr Rgba kInput = Rgba::bytes(196, 202, 210);
inline constexpr Rgba kDeEsser = Rgba::bytes(72, 204, 196);
inline constexpr Rgba kCompander = Rgba::bytes(244, 170, 66);
inline constexpr Rgba kEq = Rgba::bytes(140, 212, 104);
inline constexpr Rgba kDoubler = Rgba::bytes(172, 140, 246);
inline constexpr Rgba kDelay = Rgba::bytes(240, 112, 146);
inline constexpr Rgba kTubeWarm = Rgba::bytes(255, 156, 54);
} // namespace palette

/// Text styles shared by the panel and the controls.
namespace type {
inline constexpr TextStyle kLabel{Face::Bold, 7.0, 1.0, 0.3};
inline constexpr TextStyle kSmall{Face::Bold, 6.2, 1.0, 0.3};
inline constexpr TextStyle kTitle{Face::Bold, 8.6, 1.0, 1.2};
inline constexpr TextStyle kTab{Face::Bold, 6.8, 1.0, 0.3};
} // namespace type

Art drawKnob();
/// The fader handle: grey for gain, copper for saturation.
Art drawFaderCap(bool brown);
Art drawPowerSwitch();
/// A section's enable button, its lamp in the section's colour.
Art drawEnableSwitch(const Rgba& accent);
/// The small lever switch of Listen and Sync.
Art drawLeverSwitch();
/// The tube enable switch with its jewel lamp.
Art drawTubeSwitch();
/// A page tab of `width` with its word; frame 1 is the selected tab.
Art drawTab(int width, std::string_view word, const Rgba& accent);
/// A segment meter of `segments` segments in `height` pixels: frame k has k segments lit.
Art drawSegmentMeter(int segments, int height);
/// The tube window whose glow warms over 32 frames.
Art drawTubeGlow(bool output);
/// The order strip's background.
Art drawOrderStrip();
/// The order icon of a module: 0 compander, 1 EQ, 2 de-esser, 3 doubler, 4 delay.
gui::PixelBuffer drawOrderIcon(int module);
gui::PixelBuffer drawBackground();
gui::PixelBuffer drawAbout();

} // namespace pellucer::skin
