#pragma once

#include <memory>

#include "Shared/GUI/Control.h"

namespace pellucer::gui {

/// A rotary knob drawn from a film strip (127 frames for the editor's knobs). Dragging up (or
/// right, for a horizontal knob) raises the value by one full range per 200 pixels, or per
/// 2000 pixels with Shift; the wheel and the arrow, page and Home/End keys step it. Every
/// gesture is framed by begin and end edit, and values from the effect are ignored while one
/// runs so that the knob never fights the hand that turns it.
class Knob : public Control {
public:
    /// Pixels of drag for the whole range, normally and in fine mode (Shift).
    static constexpr double kPixelsPerRange = 200.0;
    static constexpr double kFinePixelsPerRange = 2000.0;
    /// Value change of one wheel notch, normally and with Shift.
    static constexpr double kWheelStep = 0.05;
    static constexpr double kFineWheelStep = 0.01;
    /// Frames when the strip does not say (the editor's knob strip has 127).
    static constexpr int32_t kDefaultFrames = 127;

    /// The frame count comes from `strip` (127 when the strip is missing or has one frame).
    Knob(int32_t id, const Rect& rect, std::shared_ptr<const ImageStrip> strip, double defaultValue);

    /// A horizontal knob follows x instead of y (right raises the value).
    void setHorizontal(bool horizontal) { horizontal_ = horizontal; }
    bool horizontal() const { return horizontal_; }

    void setValue(float value) override;
    void mouseDown(int32_t x, int32_t y, int32_t flags) override;
    void mouseMove(int32_t x, int32_t y, int32_t flags) override;
    void mouseUp(int32_t x, int32_t y, int32_t flags) override;
    void doubleClick(int32_t x, int32_t y, int32_t flags) override;
    void wheel(int32_t x, int32_t y, int32_t flags, int32_t delta) override;
    bool keyDown(int32_t key) override;
    void keyUp(int32_t key) override;
    /// Losing the focus ends a key gesture whose key up will now go elsewhere.
    void focusOff() override;

private:
    /// Stores `value` (clamped), tells the listener and shows the new frame.
    void change(double value);

    bool horizontal_ = false;
    int32_t dragStart_ = 0; ///< the coordinate (y, or x when horizontal) where the drag began
    double dragStartValue_ = 0.0;
    bool dragFine_ = false; ///< Shift state the drag reference was taken with
    int32_t heldKey_ = 0;   ///< the key whose key up ends the current key gesture
};

} // namespace pellucer::gui
