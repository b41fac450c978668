// libFuzzer target: parameter automation takes whatever a DirectX host sends (values, envelope
// segments with any times and curve codes, flush ranges) while the streaming thread asks where to
// split buffers and which values changed. The bytes are read as a sequence of such operations;
// whatever they are, nothing may crash or hang, every value that reaches the effect lies in
// [0, 1], and change times come sorted and within the range asked for.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dx/automation/AutomationTimeline.h"

namespace {

using pellucer::dx::AutomationTimeline;
using pellucer::dx::EnvelopeSegment;
using pellucer::dx::ParamChange;

/// Reads the fuzzer's bytes front to back; past the end everything reads as zero.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool done() const { return at_ >= size_; }
    template <typename T> T take() {
        T value{};
        uint8_t bytes[sizeof(T)] = {};
        for (size_t i = 0; i < sizeof(T) && at_ < size_; ++i)
            bytes[i] = data_[at_++];
        std::memcpy(&value, bytes, sizeof(T));
        return value;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

/// Indices 0..38, a few beyond, and DWORD_ALLPARAMS.
uint32_t takeIndex(Reader& in) {
    const uint8_t b = in.take<uint8_t>();
    return b >= 250 ? AutomationTimeline::kAllParams : b % 42u;
}

/// Either any 64-bit time or one within a few seconds, where buffers are asked about.
int64_t takeTime(Reader& in) {
    const uint8_t mode = in.take<uint8_t>();
    if (mode < 32)
        return in.take<int64_t>();
    return static_cast<int64_t>(in.take<int16_t>()) * 1000;
}

float takeValue(Reader& in) {
    const uint8_t mode = in.take<uint8_t>();
    if (mode < 64)
        return in.take<float>(); // anything, NaN and infinities included
    return static_cast<float>(mode - 64) / 150.0f - 0.2f;
}

void check(bool condition) {
    if (!condition)
        std::abort();
}

bool inUnitRange(float v) { return v >= 0.0f && v <= 1.0f; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    AutomationTimeline timeline;
    std::vector<int64_t> times;
    times.reserve(AutomationTimeline::kChangeTimeCapacity);
    std::vector<ParamChange> changes;
    changes.reserve(pellucer::kNumParams);
    std::vector<EnvelopeSegment> segments;

    Reader in(data, size);
    while (!in.done()) {
        switch (in.take<uint8_t>() % 9) {
        case 0:
            timeline.setParam(takeIndex(in), takeValue(in));
            break;
        case 1: {
            const uint32_t index = takeIndex(in);
            segments.resize(in.take<uint8_t>() % 9);
            for (EnvelopeSegment& s : segments) {
                s.rtStart = takeTime(in);
                // A length, wrapping round (to an end before the start) near the top of the range.
                s.rtEnd =
                    in.take<uint8_t>() < 16
                        ? takeTime(in)
                        : static_cast<int64_t>(static_cast<uint64_t>(s.rtStart) + in.take<uint16_t>() * 100u);
                s.valStart = takeValue(in);
                s.valEnd = takeValue(in);
                const uint8_t curve = in.take<uint8_t>();
                s.iCurve = curve < 200 ? 1 << (curve % 5) : static_cast<int32_t>(curve) - 220;
                s.flags = 0;
            }
            timeline.addEnvelope(index, segments.data(), segments.size());
            break;
        }
        case 2: {
            const uint32_t index = takeIndex(in);
            const int64_t start = takeTime(in);
            timeline.flushEnvelope(index, start, takeTime(in));
            break;
        }
        case 3: {
            const int64_t from = takeTime(in) / 100;
            const int64_t to = in.take<uint8_t>() < 8 ? takeTime(in) : from + in.take<uint16_t>();
            timeline.changeTimes(from, to, times);
            check(std::is_sorted(times.begin(), times.end()));
            for (int64_t t : times)
                check(t >= from && t < to && t - from < AutomationTimeline::kMaxQueryFrames);
            break;
        }
        case 4: {
            timeline.changedParameters(takeTime(in) / 100, changes);
            int32_t previous = -1;
            for (const ParamChange& c : changes) {
                check(c.index > previous && c.index < pellucer::kNumParams);
                check(inUnitRange(c.value));
                previous = c.index;
            }
            break;
        }
        case 5: {
            float value = 0.0f;
            const uint32_t index = takeIndex(in);
            if (timeline.getParam(index, &value) == pellucer::dx::AutomationResult::ok)
                check(inUnitRange(value));
            break;
        }
        case 6: {
            const uint32_t index = takeIndex(in);
            const float value = takeValue(in);
            switch (in.take<uint8_t>() % 3) {
            case 0:
                timeline.beginCapture(&index, 1);
                break;
            case 1:
                timeline.paramsChanged(&index, 1, &value);
                break;
            default:
                timeline.endCapture(&index, 1);
                break;
            }
            break;
        }
        case 7:
            timeline.setSampleRate(in.take<uint8_t>() < 128 ? in.take<uint32_t>()
                                                            : 8000u * (1 + in.take<uint8_t>() % 24));
            break;
        default:
            for (uint32_t i = 0; i < static_cast<uint32_t>(pellucer::kNumParams); ++i)
                check(inUnitRange(timeline.effectiveValue(i)));
            break;
        }
    }
    return 0;
}
