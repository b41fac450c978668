#include "Shared/GUI/ReductionBar.h"

#include <algorithm>
#include <cmath>

#include "Shared/GUI/DrawContext.h"

namespace pellucer::gui {

namespace {

/// Ratios below this count as nothing (a cleared display).
constexpr double kSilence = 1e-16;
/// The level a cleared display stands for.
constexpr double kFloorDb = -120.0;
/// Closer than this to the reading, the falling display has arrived (without it the eased
/// fall would hang one rounding step above the reading for ever).
constexpr double kArrived = 1e-6;

} // namespace

ReductionBar::ReductionBar(int32_t id, const Rect& rect) : Control(id, rect, rect.height + 1) {
    frame_ = barLength(displayed_);
}

int32_t ReductionBar::usableHeight() const {
    const int32_t rows = std::max(rect_.height - kTopMargin, 0);
    return rows - rows % kStepPixels;
}

int32_t ReductionBar::barLength(double ratio) const {
    const double db = ratio < kSilence ? kFloorDb : 20.0 * std::log10(ratio);
    const double length = (1.0 - db / kFullScaleDb) * usableHeight();
    return static_cast<int32_t>(std::clamp(length, 0.0, static_cast<double>(usableHeight())));
}

void ReductionBar::prepare(const PixelBuffer& background) {
    Control::prepare(background);
    if (host_ != nullptr && timerId_ == 0)
        timerId_ = host_->startTimer(*this, kRefreshMs);
}

void ReductionBar::timerTick(int32_t) { refresh(); }

void ReductionBar::refresh() {
    ControlEngine* engine = host_ != nullptr ? host_->engine() : nullptr;
    double reading = engine != nullptr ? engine->reductionReading(id_) : 1.0;
    reading = std::isnan(reading) ? 1.0 : std::clamp(reading, 1.0, 4.0);
    held_ = reading;
    // Deeper reduction shows at once; the way back is eased so the eye can follow it.
    if (reading > displayed_)
        displayed_ = reading;
    else
        displayed_ += kFallFactor * (reading - displayed_);
    if (std::fabs(displayed_ - reading) < kArrived)
        displayed_ = reading;
    if (displayed_ < kSilence)
        displayed_ = 0.0;
    setFrame(barLength(displayed_));
}

void ReductionBar::doubleClick(int32_t, int32_t, int32_t) {
    displayed_ = 0.0;
    held_ = 0.0;
    if (ControlEngine* engine = host_ != nullptr ? host_->engine() : nullptr)
        engine->resetReading(id_);
    setFrame(barLength(displayed_));
    forceRedraw();
    invalidate();
}

bool ReductionBar::draw(DrawContext& context) {
    if (frame_ == lastDrawn_)
        return false;
    context.fillRect(rect_, kBackground);
    // Steps whose top lies above the bar length stay unlit; the rest, from there down to the
    // bottom, are lit, so the amber column rises with the reduction.
    const int32_t length = frame_;
    for (int32_t offset = 0; offset < usableHeight(); offset += kStepPixels) {
        const int32_t top = rect_.top + kTopMargin + offset;
        if (offset < length)
            context.fillRect({rect_.left + 1, top, rect_.width - 2, kStepPixels}, kUnlit);
        else
            context.fillRect({rect_.left + 3, top, rect_.width - 6, kStepPixels}, kLit);
    }
    lastDrawn_ = frame_;
    return true;
}

} // namespace pellucer::gui
