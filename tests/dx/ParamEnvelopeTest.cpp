#include "dx/automation/ParamEnvelope.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <tuple>
#include <vector>

namespace pellucer::dx {
namespace {

constexpr ReferenceTime kSecond = 10'000'000;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr int64_t kMinTime = std::numeric_limits<int64_t>::min();
constexpr int64_t kMaxTime = std::numeric_limits<int64_t>::max();

EnvelopeSegment segment(ReferenceTime start, ReferenceTime end, float a, float b,
                        int32_t curve = kCurveLinear) {
    return EnvelopeSegment{start, end, a, b, curve, 0};
}

/// A record of a continuous parameter (Input Gain) holding `segments`, added at 44.1 kHz.
struct Record {
    ParamEnvelope envelope{automationParamInfo()[kInputGain]};
    explicit Record(std::initializer_list<EnvelopeSegment> segments = {}) {
        envelope.addSegments(segments.begin(), segments.size(), 44100);
    }
    ParamEnvelope* operator->() { return &envelope; }
};

float evaluateOne(const EnvelopeSegment& s, ReferenceTime t) {
    Record record{s};
    return record->evaluate(t);
}

// Each shape at 0, 1/4, 1/2 and 1 of its length, then resting on its end value; unknown codes
// follow the sine.
TEST(ParamEnvelopeCurves, EachShapeAtStartMiddleAndEnd) {
    const float a = 0.2f, b = 0.8f;
    const double d = double(b) - a;
    const double sineQuarter = a + d * (1.0 + std::sin(-0.25 * std::numbers::pi)) / 2.0;
    const ReferenceTime at[] = {0, kSecond / 4, kSecond / 2, kSecond, kSecond + 1};
    const std::pair<int32_t, std::array<double, 4>> cases[] = {
        {kCurveJump, {a, a, a, a}},
        {kCurveLinear, {a, a + d / 4, a + d / 2, b}},
        {kCurveSquare, {a, a + d / 16, a + d / 4, b}},
        {kCurveInvSquare, {a, b - d * 9 / 16, b - d / 4, b}},
        {kCurveSine, {a, sineQuarter, a + d / 2, b}},
        {0, {a, sineQuarter, a + d / 2, b}},
        {-1, {a, sineQuarter, a + d / 2, b}},
        {0x7fffffff, {a, sineQuarter, a + d / 2, b}}};
    for (const auto& [curve, expected] : cases)
        for (int k = 0; k < 5; ++k)
            EXPECT_NEAR(evaluateOne(segment(0, kSecond, a, b, curve), at[k]), k < 4 ? expected[k] : b, 1e-6)
                << curve << " at " << at[k];
}

// A batch starting before the furthest time played replaces the stored segments; else it is added.
TEST(ParamEnvelopeAdd, ASegmentBeforeThePlayedTimeReplacesTheEnvelope) {
    const EnvelopeSegment first[] = {segment(0, kSecond, 0, 1), segment(kSecond, 2 * kSecond, 1, 0)};
    const std::tuple<bool, std::vector<EnvelopeSegment>, std::vector<float>> cases[] = {
        {true, {segment(kSecond / 2, kSecond, 0.3f, 0.3f)}, {0.3f}},
        {true, {segment(kSecond * 3 / 2, 2 * kSecond, 0.3f, 0.3f)}, {0, 1, 0.3f}},
        {true, {segment(5 * kSecond, 6 * kSecond, 0.3f, 0.3f)}, {0, 1, 0.3f}},
        {false, {segment(kSecond / 2, kSecond, 0.3f, 0.3f)}, {0, 0.3f, 1}},
        {true,
         {segment(kSecond, 2 * kSecond, 0.1f, 0.2f), segment(3 * kSecond, 4 * kSecond, 0.2f, 0.3f),
          segment(kSecond / 2, kSecond, 0.4f, 0.1f)},
         {0.4f, 0.1f, 0.2f}}};
    for (const auto& [played, batch, expected] : cases) {
        Record record{first[0], first[1]};
        if (played)
            record->evaluate(kSecond * 3 / 2);
        record->addSegments(batch.data(), batch.size(), 44100);
        std::vector<float> startValues;
        for (const EnvelopeSegment& s : record->segments())
            startValues.push_back(s.valStart);
        EXPECT_EQ(startValues, expected) << batch[0].rtStart;
    }
}

// Values outside the unit range are clamped, NaN keeps what was there; segments ending before
// they start or spanning all of time never leave the range.
TEST(ParamEnvelopeEvaluate, BadSegmentsAndValuesNeverLeaveTheRange) {
    EXPECT_EQ(evaluateOne(segment(kSecond, kSecond / 2, 0.2f, 0.8f), kSecond * 3 / 4), 0.0f);
    EXPECT_FLOAT_EQ(evaluateOne(segment(kSecond, kSecond / 2, 0.2f, 0.8f), kSecond), 0.8f);
    EXPECT_FLOAT_EQ(evaluateOne(segment(kSecond, kSecond, 0.2f, 0.8f), kSecond), 0.8f);
    EXPECT_EQ(evaluateOne(segment(0, kSecond, 0.0f, 5.0f), kSecond / 2), 1.0f);
    EXPECT_EQ(evaluateOne(segment(0, kSecond, -3.0f, -1.0f), kSecond / 2), 0.0f);
    EXPECT_EQ(evaluateOne(segment(0, kSecond, 0.0f, kInf), kSecond / 2), 1.0f);
    EXPECT_NEAR(evaluateOne(segment(kMinTime, kMaxTime, 0.0f, 1.0f), 0), 0.5, 1e-3);
    Record bad{segment(0, kSecond, kNaN, kNaN), segment(2 * kSecond, 3 * kSecond, -kInf, kInf)};
    EXPECT_EQ(bad->setValue(0.4f), 0.4f);
    EXPECT_FLOAT_EQ(bad->evaluate(kSecond / 2), 0.4f);
    EXPECT_FLOAT_EQ(bad->evaluate(5 * kSecond / 2), 0.4f);
    for (const auto& [given, held] : {std::pair{kNaN, 0.4f}, {kInf, 1.0f}, {-kInf, 0.0f}, {2.0f, 1.0f}})
        EXPECT_EQ(bad->setValue(given), held) << given;
}

} // namespace
} // namespace pellucer::dx
