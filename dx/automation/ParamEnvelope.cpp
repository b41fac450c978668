#include "dx/automation/ParamEnvelope.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <numbers>

#include "core/ParamInfoTable.h"

namespace pellucer::dx {

namespace {

/// A double narrowed to float without the undefined behaviour of out-of-range conversion: values
/// beyond the float range become infinities (and are clamped later like any other).
float narrow(double value) {
    if (value > FLT_MAX)
        return std::numeric_limits<float>::infinity();
    if (value < -FLT_MAX)
        return -std::numeric_limits<float>::infinity();
    return static_cast<float>(value);
}

std::array<ParamInfo, kNumParams> buildAutomationInfo() {
    // The names and kinds come from the engine's twin table, so that there is one list of them.
    const pellucer::ParamInfoTable& source = pellucer::automationParamInfoTable();
    std::array<ParamInfo, kNumParams> rows{};
    for (size_t i = 0; i < rows.size(); ++i) {
        const ParamInfoRecord& from = source[i];
        ParamInfo& row = rows[i];
        row.mpType = from.mpType;
        row.mopCaps = from.mopCaps;
        row.mpdMinValue = from.mpdMinValue;
        row.mpdMaxValue = from.mpdMaxValue;
        row.mpdNeutralValue = from.mpdNeutralValue;
        std::copy(std::begin(from.szUnitText), std::end(from.szUnitText), row.szUnitText);
        std::copy(std::begin(from.szLabel), std::end(from.szLabel), row.szLabel);
        row.internalMin = from.trailingMin;
        row.internalMax = from.trailingMax;
        row.enumerationText = nullptr;
    }
    return rows;
}

bool sameBytes(const EnvelopeSegment& a, const EnvelopeSegment& b) {
    return std::memcmp(&a, &b, sizeof(EnvelopeSegment)) == 0;
}

bool startsBefore(const EnvelopeSegment& a, const EnvelopeSegment& b) { return a.rtStart < b.rtStart; }

/// Flush bounds: the extremes stand for "from the beginning" and "to the end" and stay as they are.
ReferenceTime snapBound(ReferenceTime time, int32_t sampleRate) {
    if (time == std::numeric_limits<int64_t>::min() || time == std::numeric_limits<int64_t>::max())
        return time;
    return snapToSampleGrid(time, sampleRate);
}

int32_t usableRate(int32_t sampleRate) { return sampleRate > 0 ? sampleRate : 44100; }

} // namespace

const std::array<ParamInfo, kNumParams>& automationParamInfo() {
    static const std::array<ParamInfo, kNumParams> rows = buildAutomationInfo();
    return rows;
}

std::vector<char16_t> paramTextBlock(const ParamInfo& info) {
    std::vector<char16_t> block;
    auto appendText = [&block](const char16_t* text, size_t limit) {
        for (size_t i = 0; i < limit && text[i] != u'\0'; ++i)
            block.push_back(text[i]);
        block.push_back(u'\0');
    };
    appendText(info.szLabel, std::size(info.szLabel));
    appendText(info.szUnitText, std::size(info.szUnitText));
    if (info.enumerationText != nullptr) {
        for (const char16_t* c = info.enumerationText; *c != u'\0'; ++c)
            block.push_back(*c == u',' ? u'\0' : *c);
        block.push_back(u'\0');
    }
    block.push_back(u'\0');
    return block;
}

float toInternal(const ParamInfo& info, float hostValue) {
    if (std::isnan(hostValue))
        return hostValue;
    if (info.mpType == kMpTypeBool)
        return hostValue >= 0.5f ? 1.0f : 0.0f;
    const double range = static_cast<double>(info.mpdMaxValue) - info.mpdMinValue;
    if (range == 0.0)
        return info.internalMin;
    const double linear = (hostValue - static_cast<double>(info.mpdMinValue)) / range *
                              (static_cast<double>(info.internalMax) - info.internalMin) +
                          info.internalMin;
    if (info.mpType == kMpTypeFloat)
        return narrow(linear);
    return narrow(std::floor(linear + 0.5));
}

float toHost(const ParamInfo& info, float internalValue) {
    if (info.mpType == kMpTypeBool)
        return internalValue;
    const double range = static_cast<double>(info.internalMax) - info.internalMin;
    if (range == 0.0)
        return info.mpdMinValue;
    return narrow((internalValue - static_cast<double>(info.internalMin)) / range *
                      (static_cast<double>(info.mpdMaxValue) - info.mpdMinValue) +
                  info.mpdMinValue);
}

int64_t truncateToInt64(double value) {
    constexpr double kTwoTo63 = 9223372036854775808.0;
    if (std::isnan(value))
        return 0;
    if (value >= kTwoTo63)
        return std::numeric_limits<int64_t>::max();
    if (value < -kTwoTo63)
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}

int64_t roundToInt64(double value) { return truncateToInt64(std::round(value)); }

ReferenceTime snapToSampleGrid(ReferenceTime time, int32_t sampleRate) {
    if (sampleRate <= 0)
        return time;
    const int64_t sample = truncateToInt64(static_cast<double>(time) * sampleRate / kReferenceTimePerSecond);
    return roundToInt64(static_cast<double>(sample) * kReferenceTimePerSecond / sampleRate);
}

int64_t sampleAt(ReferenceTime time, int32_t sampleRate) {
    return roundToInt64(static_cast<double>(time) * sampleRate / kReferenceTimePerSecond);
}

std::ptrdiff_t findSegment(std::span<const EnvelopeSegment> segments, ReferenceTime time) {
    const size_t count = segments.size();
    if (count == 0)
        return -1;
    if (time >= segments[count - 1].rtStart)
        return static_cast<std::ptrdiff_t>(count - 1);
    size_t low = 0;
    size_t high = count;
    size_t middle = count / 2;
    for (;;) {
        if (segments[middle].rtStart == time)
            return static_cast<std::ptrdiff_t>(middle);
        if (time > segments[middle].rtStart)
            low = middle;
        else
            high = middle;
        middle = (low + high) / 2;
        if (middle == low)
            break;
    }
    // Only a time before the first segment can leave `middle` on a start after it.
    auto index = static_cast<std::ptrdiff_t>(middle);
    while (index >= 0 && segments[static_cast<size_t>(index)].rtStart > time)
        --index;
    return index;
}

double curveValue(int32_t curve, double a, double b, double x) {
    const double delta = b - a;
    switch (curve) {
    case kCurveJump:
        return a;
    case kCurveLinear:
        return a + delta * x;
    case kCurveSquare:
        return a + delta * x * x;
    case kCurveInvSquare:
        return b - delta * (1.0 - x) * (1.0 - x);
    default: // kCurveSine, and the shape hosts get for a code we do not know
        return a + delta * (1.0 + std::sin((x - 0.5) * std::numbers::pi)) / 2.0;
    }
}

// ---- ParamEnvelope ----------------------------------------------------------------------------

float ParamEnvelope::sanitized(float value, float previous) const {
    if (std::isnan(value))
        return previous;
    return std::fmin(std::fmax(value, info_.internalMin), info_.internalMax);
}

float ParamEnvelope::setValue(float hostValue) {
    std::lock_guard<std::mutex> lock(mutex_);
    const float value = sanitized(toInternal(info_, hostValue), effectiveLocked());
    explicitlySet_ = true;
    lastSetValue_ = value;
    currentValue_ = value;
    return value;
}

float ParamEnvelope::adoptValue(float effectValue) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!capture_) {
        currentValue_ = sanitized(effectValue, currentValue_);
        lastSetValue_ = currentValue_;
    }
    return effectiveLocked();
}

ParamEnvelope::AddResult ParamEnvelope::addSegments(const EnvelopeSegment* segments, size_t count,
                                                    int32_t sampleRate) {
    if (count == 0 || segments == nullptr)
        return AddResult::ok;
    if (count > kMaxSegments)
        return AddResult::tooMany;
    const int32_t rate = usableRate(sampleRate);

    std::lock_guard<std::mutex> lock(mutex_);
    const size_t stored = segments_.size();
    if (stored + count > kMaxSegments)
        return AddResult::tooMany;
    try {
        segments_.reserve(stored + count);
    } catch (const std::bad_alloc&) {
        return AddResult::outOfMemory;
    }

    ReferenceTime earliest = std::numeric_limits<int64_t>::max();
    for (size_t i = 0; i < count; ++i) {
        EnvelopeSegment segment = segments[i];
        segment.rtStart = snapToSampleGrid(segment.rtStart, rate);
        segment.rtEnd = snapToSampleGrid(segment.rtEnd, rate);
        earliest = std::min(earliest, segment.rtStart);
        segments_.push_back(segment);
    }

    // A host that sends an envelope again from a point already played replaces what it sent
    // before: the stored segments the search places before the new start go. Only earlier
    // segments: a batch whose own order is not ascending (its last segment starting first) must
    // not lose its other segments to the search.
    const std::ptrdiff_t found = findSegment(segments_, earliest);
    size_t removed = 0;
    if (found > 0 && earliest < furthestEvaluated_) {
        removed = std::min(static_cast<size_t>(found), stored);
        segments_.erase(segments_.begin(), segments_.begin() + static_cast<std::ptrdiff_t>(removed));
    }

    // The stored part was sorted already: sort the new part and merge, which gives the same
    // order as sorting everything (stably) at a fraction of the cost for long envelopes.
    const size_t oldLeft = removed < stored ? stored - removed : 0;
    const auto newBegin = segments_.begin() + static_cast<std::ptrdiff_t>(oldLeft);
    std::stable_sort(newBegin, segments_.end(), startsBefore);
    std::inplace_merge(segments_.begin(), newBegin, segments_.end(), startsBefore);
    segments_.erase(std::unique(segments_.begin(), segments_.end(), sameBytes), segments_.end());
    return AddResult::ok;
}

void ParamEnvelope::flush(ReferenceTime start, ReferenceTime end, int32_t sampleRate) {
    const int32_t rate = usableRate(sampleRate);
    const ReferenceTime from = snapBound(start, rate);
    const ReferenceTime to = snapBound(end, rate);

    std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(segments_,
                  [from, to](const EnvelopeSegment& s) { return s.rtStart < to && s.rtEnd > from; });
    furthestEvaluated_ = 0;
    if (segments_.empty() && !explicitlySet_ && !capture_) {
        explicitlySet_ = true;
        lastSetValue_ = currentValue_;
    }
}

float ParamEnvelope::evaluate(ReferenceTime time) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (segments_.empty())
        return effectiveLocked();
    const std::ptrdiff_t found = findSegment(segments_, time);
    if (found >= 0) {
        const EnvelopeSegment& segment = segments_[static_cast<size_t>(found)];
        const double a = toInternal(info_, segment.valStart);
        const double b = toInternal(info_, segment.valEnd);
        if (time >= segment.rtStart && time <= segment.rtEnd) {
            explicitlySet_ = false;
            // In double: the difference of two 64-bit times may not fit in 64 bits. A segment of
            // zero length has reached its end.
            const double length = static_cast<double>(segment.rtEnd) - static_cast<double>(segment.rtStart);
            const double x =
                length > 0.0
                    ? std::clamp((static_cast<double>(time) - static_cast<double>(segment.rtStart)) / length,
                                 0.0, 1.0)
                    : 1.0;
            currentValue_ = sanitized(narrow(curveValue(segment.iCurve, a, b, x)), currentValue_);
        } else if (time > segment.rtEnd) {
            const float value = sanitized(static_cast<float>(b), currentValue_);
            if (value != currentValue_) {
                currentValue_ = value;
                explicitlySet_ = false;
            }
        }
    }
    furthestEvaluated_ = std::max(furthestEvaluated_, time);
    return effectiveLocked();
}

float ParamEnvelope::effectiveValue() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return effectiveLocked();
}

float ParamEnvelope::hostValue() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return toHost(info_, effectiveLocked());
}

void ParamEnvelope::beginCapture() {
    std::lock_guard<std::mutex> lock(mutex_);
    capture_ = true;
}

void ParamEnvelope::endCapture() {
    std::lock_guard<std::mutex> lock(mutex_);
    capture_ = false;
}

bool ParamEnvelope::inCapture() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return capture_;
}

bool ParamEnvelope::explicitlySet() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return explicitlySet_;
}

ReferenceTime ParamEnvelope::furthestEvaluatedTime() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return furthestEvaluated_;
}

size_t ParamEnvelope::segmentCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return segments_.size();
}

std::vector<EnvelopeSegment> ParamEnvelope::segments() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return segments_;
}

void ParamEnvelope::appendBoundaries(int64_t from, int64_t to, int32_t sampleRate,
                                     std::vector<int64_t>& out) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const EnvelopeSegment& segment : segments_) {
        const int64_t start = sampleAt(segment.rtStart, sampleRate);
        if (start >= from && start < to)
            out.push_back(start);
        const int64_t end = sampleAt(segment.rtEnd, sampleRate);
        if (end >= from && end < to)
            out.push_back(end);
    }
}

} // namespace pellucer::dx
