#pragma once

#include "Shared/GUI/Control.h"

namespace pellucer::gui {

/// A gain-reduction bar (the compander's readings 45..47): an amber column that grows from the
/// bottom with the reduction, full at 12 dB, in 3-pixel steps. It polls the effect every
/// 50 ms, jumps up to a deeper reduction at once and falls back 0.3 of the way per tick. A
/// double click clears it and the effect's reading.
class ReductionBar : public Control {
public:
    static constexpr int32_t kRefreshMs = 50;
    /// Rows above the first step.
    static constexpr int32_t kTopMargin = 3;
    /// Height of one step.
    static constexpr int32_t kStepPixels = 3;
    /// Reduction that fills the bar.
    static constexpr double kFullScaleDb = 12.0;
    /// Share of the way towards a lower reading covered per tick.
    static constexpr double kFallFactor = 0.3;
    static constexpr Colour kBackground{50, 50, 50};
    static constexpr Colour kUnlit{68, 68, 68};
    static constexpr Colour kLit{230, 196, 77};

    ReductionBar(int32_t id, const Rect& rect);

    bool draw(DrawContext& context) override;
    /// Saves the background and asks the frame for the refresh timer (the host must be set).
    void prepare(const PixelBuffer& background) override;
    void timerTick(int32_t timerId) override;
    void doubleClick(int32_t x, int32_t y, int32_t flags) override;
    bool acceptsFocus() const override { return false; }

    /// Reads the effect and moves the displayed ratio.
    void refresh();
    /// The displayed reduction as a linear ratio (1 none, 4 about 12 dB; 0 after a clear).
    double displayed() const { return displayed_; }
    /// Rows of height minus the top margin that the steps use: a whole number of steps.
    int32_t usableHeight() const;
    /// The unlit length from the top of the steps, in pixels, for a displayed ratio:
    /// (1 - dB / 12) x usable height, within 0 .. usable height; ratio 0 counts as -120 dB.
    int32_t barLength(double ratio) const;
    int32_t timerId() const { return timerId_; }

private:
    double displayed_ = 0.0;
    double held_ = 0.0; ///< the last reading taken
    int32_t timerId_ = 0;
};

} // namespace pellucer::gui
