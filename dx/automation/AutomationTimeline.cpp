#include "dx/automation/AutomationTimeline.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <utility>

namespace pellucer::dx {

namespace {

template <size_t... I> std::array<ParamEnvelope, kNumParams> makeEnvelopes(std::index_sequence<I...>) {
    const std::array<ParamInfo, kNumParams>& rows = automationParamInfo();
    return {ParamEnvelope(rows[I])...};
}

} // namespace

bool TimedMutexActiveSetLock::acquire(uint32_t timeoutMs) {
    return mutex_.try_lock_for(std::chrono::milliseconds(timeoutMs));
}

void TimedMutexActiveSetLock::release() { mutex_.unlock(); }

AutomationTimeline::AutomationTimeline(std::unique_ptr<ActiveSetLock> lock)
    : lock_(lock ? std::move(lock) : std::make_unique<TimedMutexActiveSetLock>()),
      envelopes_(makeEnvelopes(std::make_index_sequence<kNumParams>{})) {
    lastSent_.fill(kNotSent);
}

bool AutomationTimeline::setSampleRate(uint32_t hz) {
    if (hz == 0 || hz > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()))
        return false;
    sampleRate_.store(static_cast<int32_t>(hz), std::memory_order_relaxed);
    return true;
}

bool AutomationTimeline::anyActive() {
    SetGuard guard(*lock_);
    return guard.held() && std::find(active_.begin(), active_.end(), true) != active_.end();
}

void AutomationTimeline::changeTimes(int64_t from, int64_t to, std::vector<int64_t>& out) {
    out.clear();
    if (from >= to)
        return;
    // In unsigned arithmetic: to - from may not fit in 64 signed bits.
    if (static_cast<uint64_t>(to) - static_cast<uint64_t>(from) > static_cast<uint64_t>(kMaxQueryFrames))
        to = from + kMaxQueryFrames;

    SetGuard guard(*lock_);
    if (!guard.held())
        return;
    size_t segments = 0;
    for (size_t i = 0; i < active_.size(); ++i)
        if (active_[i])
            segments += envelopes_[i].segmentCount();
    if (segments == 0)
        return;

    const int32_t rate = sampleRate();
    // Segment boundaries first: usually a handful, sorted on their own.
    for (size_t i = 0; i < active_.size(); ++i)
        if (active_[i])
            envelopes_[i].appendBoundaries(from, to, rate, out);
    std::sort(out.begin(), out.end());

    // The grid: the first multiple of the step at or after `from` (division truncates toward
    // zero, which rounds negative quotients up already), then every step below `to`. It is
    // sorted by construction, so it is merged in from the back rather than sorted with the rest:
    // at low rates it can hold a point for every sample of the range.
    const int64_t step = std::max<int64_t>(1, static_cast<int64_t>(kUpdateIntervalSeconds * rate));
    int64_t multiple = from / step;
    if (from > 0 && from % step != 0)
        ++multiple;
    if (multiple > std::numeric_limits<int64_t>::max() / step)
        return;
    const int64_t first = multiple * step;
    if (first >= to)
        return;
    // to - 1 - first fits: first >= from and the range is at most kMaxQueryFrames long.
    auto gridLeft = static_cast<size_t>((to - 1 - first) / step + 1);
    size_t boundariesLeft = out.size();
    out.resize(boundariesLeft + gridLeft);
    for (size_t write = out.size(); write > 0; --write) {
        const int64_t gridPoint = gridLeft > 0 ? first + static_cast<int64_t>(gridLeft - 1) * step : 0;
        if (gridLeft > 0 && (boundariesLeft == 0 || gridPoint >= out[boundariesLeft - 1])) {
            out[write - 1] = gridPoint;
            --gridLeft;
        } else {
            out[write - 1] = out[--boundariesLeft];
        }
    }
}

void AutomationTimeline::changedParameters(int64_t position, std::vector<ParamChange>& out) {
    out.clear();
    const ReferenceTime time =
        roundToInt64(static_cast<double>(position) * kReferenceTimePerSecond / sampleRate());

    SetGuard guard(*lock_);
    if (!guard.held())
        return;
    for (size_t i = 0; i < active_.size(); ++i) {
        if (!active_[i])
            continue;
        const float value = envelopes_[i].evaluate(time);
        if (value != lastSent_[i]) {
            if (lastSent_[i] != kNotSent)
                out.push_back({static_cast<int32_t>(i), value});
            lastSent_[i] = value;
        }
    }
}

float AutomationTimeline::effectiveValue(uint32_t index) const {
    return validIndex(index) ? envelopes_[index].effectiveValue() : 0.0f;
}

AutomationResult AutomationTimeline::getParam(uint32_t index, float* value) const {
    if (!validIndex(index))
        return AutomationResult::invalidArg;
    if (value == nullptr)
        return AutomationResult::pointer;
    *value = envelopes_[index].hostValue();
    return AutomationResult::ok;
}

AutomationResult AutomationTimeline::setParam(uint32_t index, float value) {
    if (!validIndex(index))
        return AutomationResult::invalidArg;
    return setParamValue(index, value, false);
}

AutomationResult AutomationTimeline::setParamValue(uint32_t index, float value, bool countAsSent) {
    // The record is set while the set lock is held (the order evaluation takes them in), so the
    // streaming thread never sees the parameter automated with its old value, or the new value
    // without the matching last-sent value.
    const float present = presentValue(index);
    SetGuard guard(*lock_);
    if (!guard.held())
        return AutomationResult::lockTimeout;
    activate(index, present);
    const float stored = envelopes_[index].setValue(value);
    if (countAsSent)
        lastSent_[index] = stored;
    return AutomationResult::ok;
}

float AutomationTimeline::presentValue(uint32_t index) const {
    return presentValues_ != nullptr ? presentValues_->presentValue(index) : kNotSent;
}

void AutomationTimeline::activate(uint32_t index, float present) {
    // The record takes up the effect's value as well: an envelope whose first segment lies
    // ahead must leave the effect alone until then, rather than send the record's old value.
    if (!active_[index] && presentValues_ != nullptr)
        lastSent_[index] = envelopes_[index].adoptValue(present);
    active_[index] = true;
}

AutomationResult AutomationTimeline::addEnvelope(uint32_t index, const EnvelopeSegment* segments,
                                                 size_t count) {
    if (!validIndex(index) && index != kAllParams)
        return AutomationResult::invalidArg;
    if (count == 0)
        return AutomationResult::ok;
    if (segments == nullptr)
        return AutomationResult::pointer;
    if (index != kAllParams)
        return addToRecord(index, segments, count);
    for (uint32_t i = 0; i < static_cast<uint32_t>(kNumParams); ++i) {
        const AutomationResult result = addToRecord(i, segments, count);
        if (result != AutomationResult::ok)
            return result;
    }
    return AutomationResult::ok;
}

AutomationResult AutomationTimeline::addToRecord(uint32_t index, const EnvelopeSegment* segments,
                                                 size_t count) {
    const float present = presentValue(index);
    {
        SetGuard guard(*lock_);
        if (!guard.held())
            return AutomationResult::lockTimeout;
        activate(index, present);
    }
    // Outside the set lock: sorting a long envelope must not hold up other instances' streaming.
    const ParamEnvelope::AddResult result = envelopes_[index].addSegments(segments, count, sampleRate());
    return result == ParamEnvelope::AddResult::ok ? AutomationResult::ok : AutomationResult::outOfMemory;
}

AutomationResult AutomationTimeline::flushEnvelope(uint32_t index, ReferenceTime start, ReferenceTime end) {
    if (!validIndex(index) && index != kAllParams)
        return AutomationResult::invalidArg;
    if (start > end)
        return AutomationResult::invalidArg;
    {
        SetGuard guard(*lock_);
        if (!guard.held())
            return AutomationResult::lockTimeout;
        if (index == kAllParams)
            active_.fill(false);
        else
            active_[index] = false;
    }
    const int32_t rate = sampleRate();
    if (index != kAllParams) {
        envelopes_[index].flush(start, end, rate);
        return AutomationResult::ok;
    }
    for (ParamEnvelope& envelope : envelopes_)
        envelope.flush(start, end, rate);
    return AutomationResult::ok;
}

AutomationResult AutomationTimeline::beginCapture(const uint32_t* indices, size_t count) {
    if (count > 0 && indices == nullptr)
        return AutomationResult::pointer;
    for (size_t k = 0; k < count; ++k) {
        if (!validIndex(indices[k]))
            return AutomationResult::invalidArg;
        envelopes_[indices[k]].beginCapture();
    }
    return AutomationResult::ok;
}

AutomationResult AutomationTimeline::paramsChanged(const uint32_t* indices, size_t count,
                                                   const float* values) {
    if (count > 0 && (indices == nullptr || values == nullptr))
        return AutomationResult::pointer;
    for (size_t k = 0; k < count; ++k) {
        const uint32_t index = indices[k];
        if (!validIndex(index) || !envelopes_[index].inCapture())
            return AutomationResult::invalidArg;
        // The effect made this change itself: it counts as sent, so it is not pushed back.
        const AutomationResult result = setParamValue(index, values[k], true);
        if (result != AutomationResult::ok)
            return result;
    }
    return AutomationResult::ok;
}

AutomationResult AutomationTimeline::endCapture(const uint32_t* indices, size_t count) {
    if (count > 0 && indices == nullptr)
        return AutomationResult::pointer;
    for (size_t k = 0; k < count; ++k) {
        const uint32_t index = indices[k];
        if (!validIndex(index))
            return AutomationResult::invalidArg;
        {
            SetGuard guard(*lock_);
            if (!guard.held())
                return AutomationResult::lockTimeout;
            active_[index] = false;
        }
        envelopes_[index].endCapture();
    }
    return AutomationResult::ok;
}

bool AutomationTimeline::isActive(uint32_t index) {
    SetGuard guard(*lock_);
    return guard.held() && validIndex(index) && active_[index];
}

float AutomationTimeline::lastSentValue(uint32_t index) {
    SetGuard guard(*lock_);
    return guard.held() && validIndex(index) ? lastSent_[index] : kNotSent;
}

} // namespace pellucer::dx
