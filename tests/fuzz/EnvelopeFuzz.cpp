// libFuzzer target: DirectX parameter automation takes whatever a host sends (values, envelope
// segments with any times and curve codes, flush ranges, captures) while the streaming thread asks
// where to split buffers and which values changed. Nothing may crash or hang, every value that
// reaches the effect lies in [0, 1], and change times come sorted and within the range asked for.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "dx/automation/AutomationTimeline.h"

static void check(bool condition) {
    if (!condition)
        std::abort();
}

static bool inUnitRange(float v) { return v >= 0.0f && v <= 1.0f; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using pellucer::dx::AutomationTimeline;
    AutomationTimeline timeline;
    std::vector<int64_t> times;
    times.reserve(AutomationTimeline::kChangeTimeCapacity);
    std::vector<pellucer::dx::ParamChange> changes;
    changes.reserve(pellucer::kNumParams);
    std::vector<pellucer::dx::EnvelopeSegment> segments;
    FuzzedDataProvider in(data, size);
    const auto byte = [&] { return in.ConsumeIntegral<uint8_t>(); };
    // Either any 64-bit time or one within a few seconds, where buffers are asked about.
    const auto time = [&] { return byte() < 32 ? in.ConsumeIntegral<int64_t>() : in.ConsumeIntegral<int16_t>() * 1000ll; };
    // Anything (NaN and infinities included), or a value a little around [0, 1].
    const auto value = [&] {
        const auto mode = byte();
        return mode < 64 ? std::bit_cast<float>(in.ConsumeIntegral<uint32_t>()) : (mode - 64) / 150.0f - 0.2f;
    };
    while (in.remaining_bytes() > 0) {
        const auto op = byte() % 9;
        const auto b = byte(); // indices 0..38, a few beyond, and DWORD_ALLPARAMS
        const uint32_t index = b >= 250 ? AutomationTimeline::kAllParams : b % 42u;
        if (op == 0) {
            timeline.setParam(index, value());
        } else if (op == 1) {
            segments.resize(byte() % 9);
            for (auto& s : segments) {
                s.rtStart = time();
                // A length, wrapping round (to an end before the start) near the top of the range.
                s.rtEnd = byte() < 16 ? time()
                                      : static_cast<int64_t>(static_cast<uint64_t>(s.rtStart) +
                                                             in.ConsumeIntegral<uint16_t>() * 100u);
                s.valStart = value();
                s.valEnd = value();
                const auto curve = byte();
                s.iCurve = curve < 200 ? 1 << (curve % 5) : curve - 220;
                s.flags = 0;
            }
            timeline.addEnvelope(index, segments.data(), segments.size());
        } else if (op == 2) {
            const int64_t start = time();
            timeline.flushEnvelope(index, start, time());
        } else if (op == 3) {
            const int64_t from = time() / 100;
            const int64_t to = byte() < 8 ? time() : from + in.ConsumeIntegral<uint16_t>();
            timeline.changeTimes(from, to, times);
            check(std::is_sorted(times.begin(), times.end()));
            for (int64_t t : times)
                check(t >= from && t < to && t - from < AutomationTimeline::kMaxQueryFrames);
        } else if (op == 4) {
            timeline.changedParameters(time() / 100, changes);
            for (size_t i = 0; i < changes.size(); ++i)
                check(changes[i].index > (i == 0 ? -1 : changes[i - 1].index) &&
                      changes[i].index < pellucer::kNumParams && inUnitRange(changes[i].value));
        } else if (op == 5) {
            float v = 0.0f;
            if (timeline.getParam(index, &v) == pellucer::dx::AutomationResult::ok)
                check(inUnitRange(v));
        } else if (op == 6) { // a capture: begin, change, end
            const float v = value();
            const auto what = byte() % 3;
            what == 0 ? timeline.beginCapture(&index, 1)
                      : what == 1 ? timeline.paramsChanged(&index, 1, &v) : timeline.endCapture(&index, 1);
        } else if (op == 7) {
            timeline.setSampleRate(byte() < 128 ? in.ConsumeIntegral<uint32_t>() : 8000u * (1 + byte() % 24));
        } else {
            for (uint32_t i = 0; i < static_cast<uint32_t>(pellucer::kNumParams); ++i)
                check(inUnitRange(timeline.effectiveValue(i)));
        }
    }
    return 0;
}
