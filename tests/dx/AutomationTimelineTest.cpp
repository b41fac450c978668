#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "dx/automation/AutomationTimeline.h"

namespace pellucer::dx {
namespace {

using Result = AutomationResult;
constexpr ReferenceTime kSecond = 10'000'000;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

EnvelopeSegment linear(ReferenceTime start, ReferenceTime end, float a, float b) {
    return EnvelopeSegment{start, end, a, b, kCurveLinear, 0};
}

struct Push {
    int64_t position;
    int32_t index;
    float value;
};

/// Processes one buffer the way the filter does: split at the change times, and before each piece
/// push the values that changed at its start.
std::vector<Push> runBuffer(AutomationTimeline& timeline, int64_t from, int64_t frames) {
    std::vector<Push> pushes;
    std::vector<int64_t> times;
    std::vector<ParamChange> changes;
    auto pushAt = [&](int64_t position) {
        timeline.changedParameters(position, changes);
        for (const ParamChange& c : changes)
            pushes.push_back({position, c.index, c.value});
    };
    int64_t current = from;
    int64_t done = 0;
    if (timeline.anyActive()) {
        timeline.changeTimes(from, from + frames, times);
        for (int64_t t : times) {
            const int64_t chunk = std::min(t - current, frames - done);
            if (t == current || chunk <= 0)
                continue;
            pushAt(current);
            done += chunk;
            current = t;
        }
        if (done < frames)
            pushAt(current);
    }
    return pushes;
}

/// A set lock that the test can make unavailable.
class SwitchableLock final : public ActiveSetLock {
public:
    bool acquire(uint32_t) override {
        if (!available)
            return false;
        mutex.lock();
        return true;
    }
    void release() override { mutex.unlock(); }
    bool available = true;
    std::mutex mutex;
};

TEST(AutomationTimeline, StartsAt44100WithNothingSentOrAutomated) {
    AutomationTimeline timeline;
    EXPECT_EQ(timeline.sampleRate(), 44100);
    EXPECT_EQ(timeline.updateIntervalSeconds(), 0.02);
    EXPECT_FALSE(timeline.anyActive());
    for (uint32_t i = 0; i < kNumParams; ++i) {
        EXPECT_EQ(timeline.lastSentValue(i), -1.0f);
        float value = -5.0f;
        EXPECT_EQ(timeline.getParam(i, &value), Result::ok);
        EXPECT_EQ(value, 0.0f);
    }
    EXPECT_FALSE(timeline.setSampleRate(0));
    EXPECT_FALSE(timeline.setSampleRate(0x80000000u));
    EXPECT_EQ(timeline.sampleRate(), 44100);
}

TEST(AutomationTimeline, OneSecondRampIsFollowedEvery882Samples) {
    AutomationTimeline timeline;
    const EnvelopeSegment ramp = linear(0, kSecond, 0.0f, 1.0f);
    ASSERT_EQ(timeline.addEnvelope(kInputGain, &ramp, 1), Result::ok);

    std::vector<int64_t> times;
    timeline.changeTimes(0, 45000, times);
    EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
    std::vector<int64_t> expected;
    for (int64_t t = 0; t < 45000; t += 882)
        expected.push_back(t);
    expected.push_back(0);     // segment start
    expected.push_back(44100); // segment end (a multiple of 882 as well)
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(times, expected);

    const std::vector<Push> pushes = runBuffer(timeline, 0, 45000);
    // The first evaluation at 0 only records; then every step of the grid up to the end.
    ASSERT_EQ(pushes.size(), 50u);
    float previous = 0.0f;
    for (size_t k = 0; k < pushes.size(); ++k) {
        EXPECT_EQ(pushes[k].position, static_cast<int64_t>(k + 1) * 882);
        EXPECT_EQ(pushes[k].index, kInputGain);
        EXPECT_NEAR(pushes[k].value, 0.02 * (k + 1), 1e-5);
        EXPECT_NEAR(pushes[k].value - previous, 0.02, 1e-5);
        previous = pushes[k].value;
    }
    EXPECT_FLOAT_EQ(timeline.effectiveValue(kInputGain), 1.0f);
}

TEST(AutomationTimeline, BufferSplitsContinueAcrossBuffers) {
    AutomationTimeline timeline;
    ASSERT_TRUE(timeline.setSampleRate(48000));
    const EnvelopeSegment s[] = {linear(0, kSecond / 100, 0.0f, 1.0f),
                                 linear(kSecond / 10, kSecond, 1.0f, 0.0f)};
    timeline.addEnvelope(kDelayLevel, s, 2);
    std::vector<Push> all;
    for (int64_t from = 0; from < 48000; from += 1000) {
        const std::vector<Push> pushes = runBuffer(timeline, from, 1000);
        all.insert(all.end(), pushes.begin(), pushes.end());
    }
    // Pushes happen at segment boundaries, on the 960-sample grid or at buffer starts, and the
    // values match the envelope there.
    ASSERT_FALSE(all.empty());
    for (const Push& p : all) {
        EXPECT_TRUE(p.position % 960 == 0 || p.position % 1000 == 0 || p.position == 480 ||
                    p.position == 4800)
            << p.position;
        const double seconds = p.position / 48000.0;
        const double expected = seconds <= 0.01 ? seconds / 0.01
                                : seconds < 0.1 ? 1.0
                                                : 1.0 - (seconds - 0.1) / 0.9;
        EXPECT_NEAR(p.value, expected, 1e-5) << p.position;
    }
}

TEST(AutomationTimeline, ChangeTimesCoverOnlyTheRangeAsked) {
    AutomationTimeline timeline;
    std::vector<int64_t> times;
    times.reserve(AutomationTimeline::kChangeTimeCapacity);
    const int64_t* storage = times.data();

    timeline.setParam(kInputGain, 0.5f); // automated, but no segments: nothing to split at
    timeline.changeTimes(0, 10000, times);
    EXPECT_TRUE(times.empty());

    const EnvelopeSegment s = linear(kSecond, 2 * kSecond, 0, 1); // samples 44100 and 88200
    timeline.addEnvelope(kOutputGain, &s, 1);
    timeline.changeTimes(1000, 2000, times);
    EXPECT_EQ(times, (std::vector<int64_t>{1764}));
    timeline.changeTimes(44000, 44101, times);
    EXPECT_EQ(times, (std::vector<int64_t>{44100, 44100}));
    timeline.changeTimes(-1000, 1000, times);
    EXPECT_EQ(times, (std::vector<int64_t>{-882, 0, 882}));
    timeline.changeTimes(88200, 88200, times);
    EXPECT_TRUE(times.empty());
    timeline.changeTimes(5000, 100, times);
    EXPECT_TRUE(times.empty());
    // A range without end is cut, not walked to the end of time.
    timeline.changeTimes(0, std::numeric_limits<int64_t>::max(), times);
    ASSERT_FALSE(times.empty());
    EXPECT_LT(times.back(), AutomationTimeline::kMaxQueryFrames);
    timeline.changeTimes(std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(), times);
    EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
    // None of this needed more room than reserved.
    EXPECT_EQ(times.data(), storage);
}

TEST(AutomationTimeline, SnapsSegmentsToTheInputRate) {
    AutomationTimeline timeline;
    timeline.setSampleRate(48000);
    const EnvelopeSegment s = linear(12345, 20000, 0, 1);
    timeline.addEnvelope(3, &s, 1);
    EXPECT_EQ(timeline.envelope(3).segments().at(0).rtStart, 12292);
    std::vector<int64_t> times;
    timeline.changeTimes(0, 100, times);
    EXPECT_EQ(times, (std::vector<int64_t>{0, 59, 96}));
}

TEST(AutomationTimeline, FirstEvaluationRecordsThenChangesAreSentOnce) {
    AutomationTimeline timeline;
    std::vector<ParamChange> changes;
    changes.reserve(kNumParams);
    const ParamChange* storage = changes.data();
    timeline.setParam(kInputGain, 0.25f);
    timeline.setParam(kEqEnable, 0.7f);
    timeline.changedParameters(0, changes);
    EXPECT_TRUE(changes.empty());
    EXPECT_EQ(timeline.lastSentValue(kInputGain), 0.25f);
    EXPECT_EQ(timeline.lastSentValue(kEqEnable), 1.0f); // a switch reaches the effect as 0 or 1

    timeline.setParam(kInputGain, 0.75f);
    timeline.setParam(kOutputGain, 7.0f);
    timeline.changedParameters(100, changes);
    ASSERT_EQ(changes.size(), 1u); // Output Gain's first evaluation only records
    EXPECT_EQ(changes[0].index, kInputGain);
    EXPECT_EQ(changes[0].value, 0.75f);
    timeline.setParam(kOutputGain, 0.1f);
    timeline.changedParameters(200, changes);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].index, kOutputGain);
    EXPECT_EQ(timeline.lastSentValue(kOutputGain), 0.1f);
    timeline.changedParameters(300, changes);
    EXPECT_TRUE(changes.empty());
    EXPECT_EQ(changes.data(), storage);
}

/// The effect's present values, as the filter reads them through the effect's record.
struct EffectValues final : PresentValueSource {
    float presentValue(uint32_t index) override { return values[index]; }
    std::array<float, kNumParams> values{};
};

TEST(AutomationTimeline, WithTheEffectsValuesTheFirstValueIsSentExactlyWhenItDiffers) {
    EffectValues effect;
    effect.values[kInputGain] = 0.3f;
    effect.values[kOutputGain] = 0.8f;
    effect.values[kDelayLevel] = 0.6f;
    effect.values[kDoublerStereo] = 7.0f; // an effect may hold anything
    AutomationTimeline timeline;
    timeline.setPresentValueSource(&effect);
    std::vector<ParamChange> changes;

    timeline.setParam(kInputGain, 0.3f);  // what the effect has already
    timeline.setParam(kOutputGain, 0.5f); // something else: the very first SetParam must arrive
    timeline.setParam(kDoublerStereo, 1.0f);
    timeline.changedParameters(0, changes);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].index, kOutputGain);
    EXPECT_EQ(changes[0].value, 0.5f);

    // An envelope whose segment lies ahead leaves the effect's value alone until it starts.
    const EnvelopeSegment later = linear(kSecond, 2 * kSecond, 0.0f, 1.0f);
    ASSERT_EQ(timeline.addEnvelope(kDelayLevel, &later, 1), Result::ok);
    float value = 0.0f;
    timeline.getParam(kDelayLevel, &value);
    EXPECT_EQ(value, 0.6f);
    timeline.changedParameters(22050, changes);
    EXPECT_TRUE(changes.empty());
    timeline.changedParameters(44100, changes);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].value, 0.0f);

    // Left alone, then moved in the effect (its editor, a program change): automated again,
    // the host's value is compared with the effect's new one, not with what was sent before.
    ASSERT_EQ(timeline.flushEnvelope(kOutputGain, std::numeric_limits<int64_t>::min(),
                                     std::numeric_limits<int64_t>::max()),
              Result::ok);
    effect.values[kOutputGain] = 0.9f;
    timeline.setParam(kOutputGain, 0.5f);
    timeline.changedParameters(50000, changes);
    ASSERT_EQ(changes.size(), 2u); // Delay Level follows its ramp meanwhile
    EXPECT_EQ(changes[0].index, kDelayLevel);
    EXPECT_EQ(changes[1].index, kOutputGain);
    EXPECT_EQ(changes[1].value, 0.5f);
    // While it stays automated, the effect's value is not read again.
    effect.values[kOutputGain] = 0.1f;
    timeline.setParam(kOutputGain, 0.5f);
    timeline.changedParameters(51000, changes);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].index, kDelayLevel);

    // A captured parameter keeps the editor's value when it becomes automated.
    const uint32_t eq[] = {kEqLowGain};
    const float captured[] = {0.25f};
    effect.values[kEqLowGain] = 0.25f;
    timeline.beginCapture(eq, 1);
    ASSERT_EQ(timeline.paramsChanged(eq, 1, captured), Result::ok);
    timeline.changedParameters(52000, changes);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].index, kDelayLevel);
}

TEST(AutomationTimeline, ValuesReachTheEffectWithinTheUnitRange) {
    AutomationTimeline timeline;
    std::vector<ParamChange> changes;
    timeline.setParam(kDoublerStereo, 0.5f);
    timeline.changedParameters(0, changes);
    float value = 0.0f;
    for (float given : {7.0f, -2.0f, kInf, -kInf}) {
        ASSERT_EQ(timeline.setParam(kDoublerStereo, given), Result::ok);
        timeline.getParam(kDoublerStereo, &value);
        EXPECT_EQ(value, given > 0 ? 1.0f : 0.0f);
        timeline.changedParameters(0, changes);
        ASSERT_EQ(changes.size(), 1u);
        EXPECT_EQ(changes[0].value, value);
    }
    timeline.setParam(kDoublerStereo, 0.4f);
    ASSERT_EQ(timeline.setParam(kDoublerStereo, kNaN), Result::ok); // NaN keeps the present value
    timeline.getParam(kDoublerStereo, &value);
    EXPECT_EQ(value, 0.4f);

    const EnvelopeSegment wild[] = {linear(0, kSecond, -5.0f, 5.0f),
                                    EnvelopeSegment{2 * kSecond, 3 * kSecond, kNaN, kInf, 12345, 0}};
    timeline.addEnvelope(kDelayFeedback, wild, 2);
    for (int64_t p = 0; p < 4 * 44100; p += 441) {
        timeline.changedParameters(p, changes);
        for (const ParamChange& c : changes)
            ASSERT_TRUE(c.value >= 0.0f && c.value <= 1.0f) << p;
        const float v = timeline.effectiveValue(kDelayFeedback);
        ASSERT_TRUE(v >= 0.0f && v <= 1.0f) << p;
    }
}

TEST(AutomationTimeline, FlushStopsEvaluationUntilTheParameterIsAddedAgain) {
    AutomationTimeline timeline;
    const EnvelopeSegment s[] = {linear(0, kSecond, 0, 1), linear(2 * kSecond, 3 * kSecond, 1, 0)};
    timeline.addEnvelope(kDeEsserDepth, s, 2);
    std::vector<ParamChange> changes;
    timeline.changedParameters(22050, changes);
    EXPECT_NEAR(timeline.effectiveValue(kDeEsserDepth), 0.5, 1e-6);

    ASSERT_EQ(timeline.flushEnvelope(kDeEsserDepth, 0, kSecond), Result::ok);
    EXPECT_EQ(timeline.envelope(kDeEsserDepth).segmentCount(), 1u); // the later segment remains...
    EXPECT_FALSE(timeline.anyActive());
    timeline.changedParameters(2 * 44100 + 22050, changes); // ...but is not followed
    EXPECT_TRUE(changes.empty());
    EXPECT_NEAR(timeline.effectiveValue(kDeEsserDepth), 0.5, 1e-6);
    std::vector<int64_t> times;
    timeline.changeTimes(0, 200000, times);
    EXPECT_TRUE(times.empty());

    const EnvelopeSegment more = linear(4 * kSecond, 5 * kSecond, 0, 1);
    timeline.addEnvelope(kDeEsserDepth, &more, 1);
    timeline.changedParameters(2 * 44100 + 33075, changes); // 2.75 s, on the remaining segment
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_NEAR(changes[0].value, 0.25, 1e-6);
}

TEST(AutomationTimeline, AllParametersAtOnce) {
    AutomationTimeline timeline;
    const EnvelopeSegment s = linear(0, kSecond, 0, 1);
    ASSERT_EQ(timeline.addEnvelope(AutomationTimeline::kAllParams, &s, 1), Result::ok);
    for (uint32_t i = 0; i < kNumParams; ++i) {
        EXPECT_TRUE(timeline.isActive(i));
        EXPECT_EQ(timeline.envelope(static_cast<int32_t>(i)).segmentCount(), 1u);
    }
    ASSERT_EQ(timeline.flushEnvelope(AutomationTimeline::kAllParams, std::numeric_limits<int64_t>::min(),
                                     std::numeric_limits<int64_t>::max()),
              Result::ok);
    EXPECT_FALSE(timeline.anyActive());
    for (int32_t i = 0; i < kNumParams; ++i)
        EXPECT_EQ(timeline.envelope(i).segmentCount(), 0u);
}

TEST(AutomationTimeline, ArgumentErrors) {
    AutomationTimeline timeline;
    const EnvelopeSegment s = linear(0, kSecond, 0, 1);
    float value = 0.0f;
    EXPECT_EQ(timeline.getParam(39, &value), Result::invalidArg);
    EXPECT_EQ(timeline.getParam(0, nullptr), Result::pointer);
    EXPECT_EQ(timeline.setParam(39, 0.5f), Result::invalidArg);
    EXPECT_EQ(timeline.setParam(AutomationTimeline::kAllParams, 0.5f), Result::invalidArg);
    EXPECT_EQ(timeline.addEnvelope(39, &s, 1), Result::invalidArg);
    EXPECT_EQ(timeline.addEnvelope(39, nullptr, 0), Result::invalidArg);
    EXPECT_EQ(timeline.addEnvelope(0, nullptr, 0), Result::ok);
    EXPECT_EQ(timeline.addEnvelope(0, nullptr, 1), Result::pointer);
    EXPECT_EQ(timeline.flushEnvelope(39, 0, 1), Result::invalidArg);
    EXPECT_EQ(timeline.flushEnvelope(0, 2, 1), Result::invalidArg);
    EXPECT_EQ(timeline.flushEnvelope(0, 1, 1), Result::ok);
    EXPECT_FALSE(timeline.anyActive());
    // Too many segments: refused before anything is read.
    EXPECT_EQ(timeline.addEnvelope(0, &s, ParamEnvelope::kMaxSegments + 1), Result::outOfMemory);
    EXPECT_EQ(timeline.envelope(0).segmentCount(), 0u);
    EXPECT_EQ(timeline.effectiveValue(39), 0.0f);
}

TEST(AutomationTimeline, CaptureHoldsTheEditorsValueAndIsNotSentBack) {
    AutomationTimeline timeline;
    const uint32_t bad[] = {1, 40, 2};
    EXPECT_EQ(timeline.beginCapture(bad, 3), Result::invalidArg);
    EXPECT_TRUE(timeline.envelope(1).inCapture());
    EXPECT_FALSE(timeline.envelope(2).inCapture());

    const uint32_t notCaptured[] = {5};
    const float half[] = {0.5f};
    EXPECT_EQ(timeline.paramsChanged(notCaptured, 1, half), Result::invalidArg);
    EXPECT_FALSE(timeline.isActive(5));

    const uint32_t three[] = {3};
    const float seven[] = {0.7f};
    ASSERT_EQ(timeline.beginCapture(three, 1), Result::ok);
    ASSERT_EQ(timeline.paramsChanged(three, 1, seven), Result::ok);
    EXPECT_TRUE(timeline.isActive(3));
    EXPECT_EQ(timeline.lastSentValue(3), 0.7f);
    std::vector<ParamChange> changes;
    timeline.changedParameters(0, changes);
    EXPECT_TRUE(changes.empty()); // the effect has it already

    // A host envelope does not override the captured value.
    const EnvelopeSegment ramp = linear(0, kSecond, 0, 1);
    timeline.addEnvelope(3, &ramp, 1);
    timeline.changedParameters(11025, changes);
    EXPECT_TRUE(changes.empty());
    float value = 0.0f;
    timeline.getParam(3, &value);
    EXPECT_EQ(value, 0.7f);

    ASSERT_EQ(timeline.endCapture(three, 1), Result::ok);
    EXPECT_FALSE(timeline.isActive(3));
    EXPECT_FALSE(timeline.envelope(3).inCapture());
    const uint32_t outOfRange[] = {39};
    EXPECT_EQ(timeline.endCapture(outOfRange, 1), Result::invalidArg);
    EXPECT_EQ(timeline.paramsChanged(outOfRange, 1, seven), Result::invalidArg);
    EXPECT_EQ(timeline.beginCapture(nullptr, 1), Result::pointer);
}

TEST(AutomationTimeline, WithoutTheSetLockNothingChanges) {
    auto owned = std::make_unique<SwitchableLock>();
    SwitchableLock& lock = *owned;
    AutomationTimeline timeline(std::move(owned));
    const EnvelopeSegment s = linear(0, kSecond, 0, 1);
    timeline.addEnvelope(kInputGain, &s, 1);
    std::vector<ParamChange> changes;
    timeline.changedParameters(0, changes);
    timeline.beginCapture(std::vector<uint32_t>{kInputGain}.data(), 1);

    lock.available = false;
    EXPECT_FALSE(timeline.anyActive());
    std::vector<int64_t> times{1, 2, 3};
    timeline.changeTimes(0, 44100, times);
    EXPECT_TRUE(times.empty());
    changes.push_back({0, 0.0f});
    timeline.changedParameters(22050, changes);
    EXPECT_TRUE(changes.empty());
    EXPECT_EQ(timeline.setParam(kOutputGain, 0.3f), Result::lockTimeout);
    EXPECT_EQ(timeline.addEnvelope(kOutputGain, &s, 1), Result::lockTimeout);
    EXPECT_EQ(timeline.flushEnvelope(kInputGain, 0, kSecond), Result::lockTimeout);
    const uint32_t gain[] = {kInputGain};
    const float v[] = {0.9f};
    EXPECT_EQ(timeline.paramsChanged(gain, 1, v), Result::lockTimeout);
    EXPECT_EQ(timeline.endCapture(gain, 1), Result::lockTimeout);

    lock.available = true;
    EXPECT_EQ(timeline.envelope(kOutputGain).segmentCount(), 0u);
    EXPECT_EQ(timeline.effectiveValue(kOutputGain), 0.0f);
    EXPECT_FALSE(timeline.isActive(kOutputGain));
    EXPECT_EQ(timeline.envelope(kInputGain).segmentCount(), 1u);
    EXPECT_TRUE(timeline.isActive(kInputGain));
    EXPECT_TRUE(timeline.envelope(kInputGain).inCapture());
    EXPECT_EQ(timeline.lastSentValue(kInputGain), 0.0f);
}

TEST(AutomationTimeline, DefaultLockGivesUpAfterItsTimeout) {
    TimedMutexActiveSetLock lock;
    ASSERT_TRUE(lock.acquire(0));
    bool other = true;
    std::thread([&] { other = lock.acquire(20); }).join();
    EXPECT_FALSE(other);
    lock.release();
    std::thread([&] {
        other = lock.acquire(20);
        if (other)
            lock.release();
    }).join();
    EXPECT_TRUE(other);
}

TEST(AutomationTimeline, HostCallsWhileStreamingNeitherDeadlockNorLeaveTheRange) {
    AutomationTimeline timeline;
    std::atomic<bool> stop{false};
    std::thread streaming([&] {
        std::vector<int64_t> times;
        std::vector<ParamChange> changes;
        for (int64_t p = 0; !stop.load(); p += 512) {
            timeline.changeTimes(p, p + 512, times);
            timeline.changedParameters(p, changes);
            for (const ParamChange& c : changes)
                ASSERT_TRUE(c.value >= 0.0f && c.value <= 1.0f);
        }
    });
    for (int round = 0; round < 200; ++round) {
        const uint32_t index = static_cast<uint32_t>(round % kNumParams);
        const EnvelopeSegment s[] = {linear(round * 1000, round * 1000 + kSecond, 0, 1),
                                     linear(round * 1000 + kSecond, round * 1000 + 2 * kSecond, 1, 0)};
        timeline.addEnvelope(index, s, 2);
        timeline.setParam((index + 7) % kNumParams, 0.25f);
        timeline.beginCapture(&index, 1);
        const float v = 0.5f;
        timeline.paramsChanged(&index, 1, &v);
        timeline.endCapture(&index, 1);
        if (round % 10 == 9)
            timeline.flushEnvelope(AutomationTimeline::kAllParams, 0, round * 1000);
    }
    stop = true;
    streaming.join();
}

} // namespace
} // namespace pellucer::dx
