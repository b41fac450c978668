#pragma once

#include <memory>

#include "Shared/GUI/Switch.h"

namespace pellucer::gui {

/// A level meter or tube glow: a strip of `frames` segments that shows the effect's reading for
/// the meter's identifier, polled every 50 ms. It takes no mouse input.
class SegmentMeter : public Switch {
public:
    /// How often the meter reads the effect.
    static constexpr int32_t kRefreshMs = 50;

    SegmentMeter(int32_t id, const Rect& rect, std::shared_ptr<const ImageStrip> strip, int32_t frames);

    /// Saves the background, then asks the frame for the refresh timer and reads once (the host
    /// must be set before).
    void prepare(const PixelBuffer& background) override;
    void timerTick(int32_t timerId) override;
    bool acceptsFocus() const override { return false; }
    bool keyDown(int32_t) override { return false; }

    /// Reads the effect's meter now and shows it.
    void refresh();
    /// The refresh timer's id (0 while there is none).
    int32_t timerId() const { return timerId_; }

protected:
    /// Rounded to the nearest segment: trunc(frames x level + 0.5), at most the last one.
    int32_t frameForValue() const override;

private:
    int32_t timerId_ = 0;
};

} // namespace pellucer::gui
