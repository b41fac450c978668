#include "Shared/GUI/SegmentMeter.h"

#include <algorithm>
#include <utility>

namespace pellucer::gui {

SegmentMeter::SegmentMeter(int32_t id, const Rect& rect, std::shared_ptr<const ImageStrip> strip,
                           int32_t frames)
    : Switch(id, rect, std::move(strip), frames) {
    takesMouse_ = false;
}

void SegmentMeter::prepare(const PixelBuffer& background) {
    Switch::prepare(background);
    if (host_ != nullptr && timerId_ == 0)
        timerId_ = host_->startTimer(*this, kRefreshMs);
    refresh();
}

void SegmentMeter::timerTick(int32_t) { refresh(); }

void SegmentMeter::refresh() {
    ControlEngine* engine = host_ != nullptr ? host_->engine() : nullptr;
    storeValue(engine != nullptr ? engine->meterReading(id_) : 0.0f);
    setFrame(frameForValue());
}

int32_t SegmentMeter::frameForValue() const {
    return std::clamp(static_cast<int32_t>(frames_ * value_ + 0.5), 0, frames_ - 1);
}

} // namespace pellucer::gui
