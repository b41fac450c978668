#pragma once

#include <memory>

#include "Shared/GUI/Control.h"

namespace pellucer::gui {

/// A vertical fader: a handle image (one frame, the editor's is 22 x 46) that travels over the
/// fader's height - handle height - 1 pixels, value 1 at the top. Dragging moves it in steps
/// of 0.01 (0.001 with Shift), one step per 2.67 pixels; the cursor is hidden during a drag and
/// pulled back whenever it strays 40 pixels from where the drag began, so a long drag never
/// runs into the edge of the screen.
class Fader : public Control {
public:
    /// Drag gearing: the speed factor and the pixels that the normal step is scaled over.
    static constexpr double kDragSpeed = 0.75;
    static constexpr double kDragPixels = 200.0;
    static constexpr double kStep = 0.01;
    static constexpr double kFineStep = 0.001;
    /// How far the hidden cursor may stray before it is put back (by the same distance).
    static constexpr int32_t kCursorLeash = 40;
    /// Wheel step per notch: normal, with Control, with Shift (Shift wins).
    static constexpr double kWheelStep = 0.025;
    static constexpr double kCoarseWheelStep = 0.125;
    static constexpr double kFineWheelStep = 0.005;
    /// Handle height when there is no handle image.
    static constexpr int32_t kDefaultHandleHeight = 46;

    Fader(int32_t id, const Rect& rect, std::shared_ptr<const ImageStrip> handle, double defaultValue);

    bool draw(DrawContext& context) override;
    void prepare(const PixelBuffer& background) override;
    void setValue(float value) override;
    void mouseDown(int32_t x, int32_t y, int32_t flags) override;
    void mouseMove(int32_t x, int32_t y, int32_t flags) override;
    void mouseUp(int32_t x, int32_t y, int32_t flags) override;
    void doubleClick(int32_t x, int32_t y, int32_t flags) override;
    void wheel(int32_t x, int32_t y, int32_t flags, int32_t delta) override;

    /// Pixels the handle travels (value 0 puts its top there, value 1 at 0).
    int32_t travel() const { return travel_; }
    int32_t handleHeight() const { return handleHeight_; }
    /// The handle's top edge in control coordinates for the current value.
    int32_t handleTop() const { return frameForValue(); }

protected:
    /// The handle's top edge: travel x (1 - value), rounded to the nearest pixel.
    int32_t frameForValue() const override;

private:
    void change(double value);

    int32_t handleHeight_;
    int32_t travel_;
    double dragStartValue_ = 0.0;
    int32_t home_ = 0;   ///< y where the drag began: the cursor is kept within the leash of it
    int32_t anchor_ = 0; ///< y the drag distance is measured from, moved with each cursor pull-back
    bool dragFine_ = false;
    PixelBuffer underHandle_; ///< the background behind the handle's current place
    PixelBuffer handleWork_;  ///< the handle composited over it
};

} // namespace pellucer::gui
