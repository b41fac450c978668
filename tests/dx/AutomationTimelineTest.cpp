// The media parameters' state behind the DirectX filter: buffer splits and values pushed.

#include "dx/automation/AutomationTimeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace pellucer::dx {
namespace {

using Result = AutomationResult;
constexpr ReferenceTime kSecond = 10'000'000;
constexpr int64_t kMin = std::numeric_limits<int64_t>::min(), kMax = std::numeric_limits<int64_t>::max();

EnvelopeSegment linear(ReferenceTime start, ReferenceTime end, float a, float b) {
    return EnvelopeSegment{start, end, a, b, kCurveLinear, 0};
}

using Changes = std::vector<std::pair<int32_t, float>>;
Changes changesAt(AutomationTimeline& timeline, int64_t position) {
    std::vector<ParamChange> changes;
    timeline.changedParameters(position, changes);
    Changes out;
    for (const ParamChange& c : changes)
        out.emplace_back(c.index, c.value);
    return out;
}

// A one-second ramp splits buffers every 0.02 s (882 frames) and at its ends; the first evaluation
// only records, then each grid point sends the next 0.02.
TEST(AutomationTimeline, OneSecondRampIsFollowedEvery882Samples) {
    AutomationTimeline timeline;
    const EnvelopeSegment ramp = linear(0, kSecond, 0.0f, 1.0f);
    ASSERT_EQ(timeline.addEnvelope(kInputGain, &ramp, 1), Result::ok);
    std::vector<int64_t> times, expected{0, 0};
    timeline.changeTimes(0, 45000, times);
    for (int64_t t = 882; t < 45000; t += 882)
        expected.insert(expected.end(), t == 44100 ? 2 : 1, t);
    EXPECT_EQ(times, expected);
    EXPECT_TRUE(changesAt(timeline, 0).empty());
    for (int64_t k = 1; k <= 50; ++k) {
        const auto changes = changesAt(timeline, k * 882);
        ASSERT_EQ(changes.size(), 1u) << k;
        EXPECT_EQ(changes[0].first, kInputGain);
        EXPECT_NEAR(changes[0].second, 0.02 * k, 1e-5) << k;
    }
    EXPECT_TRUE(changesAt(timeline, 51 * 882).empty());
}

// Split times lie in [from, to), on the grid below zero too; endless ranges are cut; segments
// snap to the rate: 12,345 (100 ns) at 48 kHz is sample 59.
TEST(AutomationTimeline, ChangeTimesCoverOnlyTheRangeAsked) {
    AutomationTimeline timeline;
    std::vector<int64_t> times;
    times.reserve(AutomationTimeline::kChangeTimeCapacity);
    const int64_t* storage = times.data();
    timeline.setParam(kInputGain, 0.5f); // automated, but nothing to split at
    timeline.changeTimes(0, 10000, times);
    EXPECT_TRUE(times.empty());
    const EnvelopeSegment s = linear(kSecond, 2 * kSecond, 0, 1); // samples 44100 and 88200
    timeline.addEnvelope(kOutputGain, &s, 1);
    // From, to, then the times.
    const std::vector<int64_t> cases[] = {{1000, 2000, 1764},
                                          {44000, 44101, 44100, 44100},
                                          {-1000, 1000, -882, 0, 882},
                                          {-882, -881, -882},
                                          {88200, 88200},
                                          {5000, 100}};
    for (const auto& c : cases) {
        timeline.changeTimes(c[0], c[1], times);
        EXPECT_EQ(times, std::vector<int64_t>(c.begin() + 2, c.end())) << c[0] << ".." << c[1];
    }
    timeline.changeTimes(0, kMax, times);
    EXPECT_LT(times.back(), AutomationTimeline::kMaxQueryFrames);
    timeline.changeTimes(kMin, kMax, times);
    EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
    EXPECT_EQ(times.data(), storage);

    AutomationTimeline at48;
    ASSERT_TRUE(at48.setSampleRate(48000));
    EXPECT_FALSE(at48.setSampleRate(0));
    const EnvelopeSegment early = linear(12345, 20000, 0, 1);
    at48.addEnvelope(3, &early, 1);
    at48.changeTimes(0, 100, times);
    EXPECT_EQ(times, (std::vector<int64_t>{0, 59, 96}));
}

// Without the effect's values a first evaluation only records; with them, the first value is sent
// exactly when it differs. Values in [0, 1], switches 0 or 1, each change once, NaN ignored.
TEST(AutomationTimeline, ValuesAreSentOnceWhenTheyDifferFromWhatTheEffectHas) {
    AutomationTimeline timeline;
    timeline.setParam(kEqEnable, 0.7f);
    timeline.setParam(kOutputGain, 7.0f);
    EXPECT_EQ(changesAt(timeline, 0), Changes{});
    EXPECT_EQ(timeline.lastSentValue(kEqEnable), 1.0f);
    EXPECT_EQ(timeline.lastSentValue(kOutputGain), 1.0f);
    for (const auto& [given, sent] : {std::pair{-2.0f, 0.0f}, {0.4f, 0.4f}, {INFINITY, 1.0f}}) {
        timeline.setParam(kOutputGain, given);
        EXPECT_EQ(changesAt(timeline, 200), (Changes{{kOutputGain, sent}}));
    }
    timeline.setParam(kOutputGain, NAN);
    timeline.setParam(kEqEnable, 0.2f);
    EXPECT_EQ(changesAt(timeline, 300), (Changes{{kEqEnable, 0.0f}}));

    struct EffectValues final : PresentValueSource {
        float presentValue(uint32_t index) override { return values[index]; }
        std::array<float, kNumParams> values{};
    } effect;
    effect.values[kInputGain] = 0.3f;
    effect.values[kOutputGain] = 0.8f;
    effect.values[kDelayLevel] = 0.6f;
    AutomationTimeline hosted;
    hosted.setPresentValueSource(&effect);
    hosted.setParam(kInputGain, 0.3f);
    hosted.setParam(kOutputGain, 0.5f);
    EXPECT_EQ(changesAt(hosted, 0), (Changes{{kOutputGain, 0.5f}}));
    const EnvelopeSegment later = linear(kSecond, 2 * kSecond, 0.0f, 1.0f);
    ASSERT_EQ(hosted.addEnvelope(kDelayLevel, &later, 1), Result::ok);
    EXPECT_EQ(changesAt(hosted, 22050), Changes{}); // the effect's value holds until the segment starts
    EXPECT_EQ(changesAt(hosted, 44100), (Changes{{kDelayLevel, 0.0f}}));
    ASSERT_EQ(hosted.flushEnvelope(kOutputGain, kMin, kMax), Result::ok);
    effect.values[kOutputGain] = 0.9f;
    hosted.setParam(kOutputGain, 0.5f);
    const auto changes = changesAt(hosted, 50000);
    ASSERT_EQ(changes.size(), 2u); // Delay Level follows its ramp meanwhile
    EXPECT_EQ(changes[1], (std::pair<int32_t, float>{kOutputGain, 0.5f}));
}

// A flushed parameter's remaining segments are not followed until it is added to again.
TEST(AutomationTimeline, FlushStopsEvaluationUntilTheParameterIsAddedAgain) {
    AutomationTimeline timeline;
    const EnvelopeSegment s[] = {linear(0, kSecond, 0, 1), linear(2 * kSecond, 3 * kSecond, 1, 0)};
    timeline.addEnvelope(kDeEsserDepth, s, 2);
    changesAt(timeline, 22050);
    EXPECT_NEAR(timeline.effectiveValue(kDeEsserDepth), 0.5, 1e-6);
    ASSERT_EQ(timeline.flushEnvelope(kDeEsserDepth, 0, kSecond), Result::ok);
    EXPECT_EQ(timeline.envelope(kDeEsserDepth).segmentCount(), 1u);
    EXPECT_FALSE(timeline.anyActive());
    EXPECT_TRUE(changesAt(timeline, 2 * 44100 + 22050).empty());
    std::vector<int64_t> times;
    timeline.changeTimes(0, 200000, times);
    EXPECT_TRUE(times.empty());
    const EnvelopeSegment more = linear(4 * kSecond, 5 * kSecond, 0, 1);
    timeline.addEnvelope(kDeEsserDepth, &more, 1);
    EXPECT_EQ(changesAt(timeline, 2 * 44100 + 33075), (Changes{{kDeEsserDepth, 0.25f}})); // 2.75 s

    ASSERT_EQ(timeline.addEnvelope(AutomationTimeline::kAllParams, s, 1), Result::ok);
    for (uint32_t i = 0; i < kNumParams; ++i)
        EXPECT_TRUE(timeline.isActive(i)) << i;
    ASSERT_EQ(timeline.flushEnvelope(AutomationTimeline::kAllParams, kMin, kMax), Result::ok);
    EXPECT_FALSE(timeline.anyActive());
    EXPECT_EQ(timeline.envelope(kInputGain).segmentCount(), 0u);
}

} // namespace
} // namespace pellucer::dx
