#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "dx/automation/ParamEnvelope.h"

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

/// A record of a continuous parameter (Input Gain).
const ParamInfo& floatRow() { return automationParamInfo()[kInputGain]; }

float evaluateOne(const EnvelopeSegment& s, ReferenceTime t) {
    ParamEnvelope envelope(floatRow());
    envelope.addSegments(&s, 1, 44100);
    return envelope.evaluate(t);
}

// ---- parameter information ----------------------------------------------------------------------

TEST(ParamEnvelopeInfo, ThirteenSwitchesAreBoolAndTheRestFloat) {
    const std::vector<int32_t> switches = {0, 1, 4, 10, 12, 13, 14, 21, 24, 25, 28, 29, 35};
    const auto& rows = automationParamInfo();
    int32_t bools = 0;
    for (int32_t i = 0; i < kNumParams; ++i) {
        const ParamInfo& row = rows[i];
        const bool isSwitch = std::find(switches.begin(), switches.end(), i) != switches.end();
        EXPECT_EQ(row.mpType, isSwitch ? kMpTypeBool : kMpTypeFloat) << i;
        bools += row.mpType == kMpTypeBool;
        EXPECT_EQ(row.mopCaps, 0x1fu) << i;
        EXPECT_EQ(row.mpdMinValue, 0.0f);
        EXPECT_EQ(row.mpdMaxValue, 1.0f);
        EXPECT_EQ(row.mpdNeutralValue, 1.0f);
        EXPECT_EQ(row.szUnitText[0], u'\0');
        EXPECT_EQ(row.internalMin, 0.0f);
        EXPECT_EQ(row.internalMax, 1.0f);
        EXPECT_EQ(row.enumerationText, nullptr);
    }
    EXPECT_EQ(bools, 13);
    EXPECT_EQ(std::u16string(rows[kInputGain].szLabel), u"Input Gain");
    EXPECT_EQ(std::u16string(rows[kPlugInEnable].szLabel), u"Plug-in Enable");
    EXPECT_EQ(std::u16string(rows[kCompressorThresh].szLabel), u"Compressor Thresh");
    EXPECT_EQ(std::u16string(rows[kReserved].szLabel), u"Reserved");
}

TEST(ParamEnvelopeInfo, TextBlockIsLabelUnitAndEnumerationSeparatedByZeros) {
    const std::vector<char16_t> gain = paramTextBlock(automationParamInfo()[kInputGain]);
    const std::u16string expected(u"Input Gain\0\0\0", 13);
    EXPECT_EQ(std::u16string(gain.begin(), gain.end()), expected);

    ParamInfo row = automationParamInfo()[kDelayTime];
    std::copy_n(u"s", 2, row.szUnitText);
    row.enumerationText = u"Short,Long";
    const std::vector<char16_t> listed = paramTextBlock(row);
    EXPECT_EQ(std::u16string(listed.begin(), listed.end()),
              std::u16string(u"Delay Time\0s\0Short\0Long\0\0", 25));
}

TEST(ParamEnvelopeInfo, UnitConversionFollowsTheRowType) {
    ParamInfo row = floatRow();
    row.mpdMinValue = -10.0f;
    row.mpdMaxValue = 10.0f;
    row.internalMin = 0.0f;
    row.internalMax = 1.0f;
    EXPECT_FLOAT_EQ(toInternal(row, 5.0f), 0.75f);
    EXPECT_FLOAT_EQ(toHost(row, 0.75f), 5.0f);
    EXPECT_FLOAT_EQ(toHost(row, toInternal(row, -3.5f)), -3.5f);

    row.mpType = kMpTypeInt;
    row.internalMax = 4.0f; // host -10..10 onto 0..4, then + 0.5 rounded down
    EXPECT_EQ(toInternal(row, -10.0f), 0.0f);
    EXPECT_EQ(toInternal(row, -5.5f), 1.0f); // 0.9 + 0.5
    EXPECT_EQ(toInternal(row, -8.0f), 0.0f); // 0.4 + 0.5
    EXPECT_EQ(toInternal(row, 10.0f), 4.0f);

    const ParamInfo& boolRow = automationParamInfo()[kEqEnable];
    EXPECT_EQ(toInternal(boolRow, 0.5f), 1.0f);
    EXPECT_EQ(toInternal(boolRow, 0.4999f), 0.0f);
    EXPECT_EQ(toHost(boolRow, 0.3f), 0.3f);
    EXPECT_TRUE(std::isnan(toInternal(boolRow, kNaN)));
    EXPECT_TRUE(std::isnan(toInternal(floatRow(), kNaN)));
}

// ---- time grid and search -----------------------------------------------------------------------

TEST(ParamEnvelopeGrid, SnapsToTheSampleBelow) {
    EXPECT_EQ(snapToSampleGrid(12345, 48000), 12292);
    EXPECT_EQ(sampleAt(12292, 48000), 59);
    // A snapped time stays where it is, and whole samples are exact at any rate.
    EXPECT_EQ(snapToSampleGrid(12292, 48000), 12292);
    for (int32_t rate : {44100, 48000, 96000, 8000}) {
        for (ReferenceTime t : {kSecond / 100, kSecond / 10, kSecond, 7 * kSecond, -kSecond}) {
            EXPECT_EQ(snapToSampleGrid(t, rate), t) << rate << " " << t;
            EXPECT_EQ(sampleAt(t, rate), t / kSecond * rate + t % kSecond * rate / kSecond)
                << rate << " " << t;
        }
    }
    // Negative times mirror positive ones.
    EXPECT_EQ(snapToSampleGrid(-12345, 48000), -12292);
    // Extreme times saturate instead of overflowing.
    EXPECT_GT(snapToSampleGrid(kMaxTime, 48000), kMaxTime - kSecond);
    EXPECT_LT(snapToSampleGrid(kMinTime, 48000), kMinTime + kSecond);
    EXPECT_NEAR(static_cast<double>(sampleAt(kMaxTime, 48000)), 4.427218577690292e16, 1e3);
    EXPECT_EQ(truncateToInt64(std::nan("")), 0);
    EXPECT_EQ(truncateToInt64(1e300), kMaxTime);
    EXPECT_EQ(roundToInt64(-2.5), -3);
}

TEST(ParamEnvelopeSearch, FindsTheLastSegmentNotAfterTheTime) {
    EXPECT_EQ(findSegment({}, 0), -1);
    std::vector<EnvelopeSegment> s;
    for (ReferenceTime start : {100, 200, 200, 200, 300, 400})
        s.push_back(segment(start, start + 50, 0, 1));
    EXPECT_EQ(findSegment(s, 99), -1);
    EXPECT_EQ(findSegment(s, kMinTime), -1);
    EXPECT_EQ(findSegment(s, 100), 0);
    EXPECT_EQ(findSegment(s, 150), 0);
    EXPECT_EQ(findSegment(s, 250), 3); // the last of the duplicates
    EXPECT_EQ(s[findSegment(s, 200)].rtStart, 200);
    EXPECT_EQ(findSegment(s, 399), 4);
    EXPECT_EQ(findSegment(s, 400), 5);
    EXPECT_EQ(findSegment(s, kMaxTime), 5);
}

TEST(ParamEnvelopeSearch, AgreesWithALinearScanOnRandomSortedStarts) {
    std::mt19937 random(7);
    for (int trial = 0; trial < 300; ++trial) {
        std::vector<EnvelopeSegment> s(1 + random() % 40);
        for (auto& x : s)
            x = segment(static_cast<ReferenceTime>(random() % 60), 0, 0, 0);
        std::sort(s.begin(), s.end(), [](auto& a, auto& b) { return a.rtStart < b.rtStart; });
        for (ReferenceTime t = -2; t < 64; ++t) {
            const std::ptrdiff_t found = findSegment(s, t);
            std::ptrdiff_t last = -1;
            for (size_t i = 0; i < s.size(); ++i)
                if (s[i].rtStart <= t)
                    last = static_cast<std::ptrdiff_t>(i);
            if (last < 0 || s[last].rtStart != t)
                ASSERT_EQ(found, last) << "t=" << t;
            else // an exact hit may land on any of the equal starts
                ASSERT_EQ(s[found].rtStart, t);
        }
    }
}

// ---- curves -------------------------------------------------------------------------------------

TEST(ParamEnvelopeCurves, EachShapeAtStartMiddleAndEnd) {
    const float a = 0.2f, b = 0.8f;
    const double d = double(b) - a;
    struct Case {
        int32_t curve;
        double start, middle, end;
    };
    const Case cases[] = {
        {kCurveJump, a, a, a},
        {kCurveLinear, a, a + d * 0.5, b},
        {kCurveSquare, a, a + d * 0.25, b},
        {kCurveInvSquare, a, b - d * 0.25, b},
        {kCurveSine, a, a + d * 0.5, b},
    };
    for (const Case& c : cases) {
        const EnvelopeSegment s = segment(0, kSecond, a, b, c.curve);
        EXPECT_NEAR(evaluateOne(s, 0), c.start, 1e-6) << c.curve;
        EXPECT_NEAR(evaluateOne(s, kSecond / 2), c.middle, 1e-6) << c.curve;
        EXPECT_NEAR(evaluateOne(s, kSecond), c.end, 1e-6) << c.curve;
        // Once past the segment every shape, the jump included, rests on its end value.
        EXPECT_NEAR(evaluateOne(s, kSecond + 1), b, 1e-6) << c.curve;
    }
    // The sine has its steepest point in the middle and is symmetric about it.
    const double quarter = a + d * (1.0 + std::sin(-0.25 * std::numbers::pi)) / 2.0;
    EXPECT_NEAR(evaluateOne(segment(0, kSecond, a, b, kCurveSine), kSecond / 4), quarter, 1e-6);
    EXPECT_NEAR(curveValue(kCurveSine, a, b, 0.25) + curveValue(kCurveSine, a, b, 0.75), double(a) + b,
                1e-12);
}

TEST(ParamEnvelopeCurves, UnknownCodesFollowTheSine) {
    for (int32_t code : {0, 3, 5, 32, -1, 0x7fffffff}) {
        for (double x : {0.0, 0.3, 0.5, 0.9, 1.0})
            EXPECT_EQ(curveValue(code, 0.1, 0.9, x), curveValue(kCurveSine, 0.1, 0.9, x)) << code;
        EXPECT_NEAR(evaluateOne(segment(0, kSecond, 0.0f, 1.0f, code), kSecond / 2), 0.5, 1e-6);
    }
}

// ---- adding -------------------------------------------------------------------------------------

TEST(ParamEnvelopeAdd, SnapsSortsAndDropsIdenticalNeighbours) {
    ParamEnvelope envelope(floatRow());
    const EnvelopeSegment given[] = {
        segment(3 * kSecond, 4 * kSecond, 0.5f, 0.6f), segment(12345, kSecond, 0.1f, 0.2f),
        segment(3 * kSecond, 4 * kSecond, 0.5f, 0.6f), segment(3 * kSecond, 4 * kSecond, 0.5f, 0.7f)};
    ASSERT_EQ(envelope.addSegments(given, 4, 48000), ParamEnvelope::AddResult::ok);
    // The same segment sent again later is not stored twice either.
    envelope.addSegments(&given[1], 1, 48000);
    const std::vector<EnvelopeSegment> stored = envelope.segments();
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_EQ(stored[0].rtStart, 12292);
    EXPECT_EQ(stored[0].rtEnd, kSecond);
    EXPECT_EQ(stored[1].rtStart, 3 * kSecond);
    EXPECT_EQ(stored[2].rtStart, 3 * kSecond);
    EXPECT_NE(stored[1].valEnd, stored[2].valEnd); // same start, different segment: both kept
}

TEST(ParamEnvelopeAdd, ASegmentBeforeTheFurthestEvaluatedTimeReplacesTheEnvelope) {
    const EnvelopeSegment first[] = {segment(0, kSecond, 0, 1), segment(kSecond, 2 * kSecond, 1, 0)};
    {
        ParamEnvelope envelope(floatRow());
        envelope.addSegments(first, 2, 44100);
        envelope.evaluate(kSecond * 3 / 2);
        EXPECT_EQ(envelope.furthestEvaluatedTime(), kSecond * 3 / 2);
        const EnvelopeSegment again = segment(kSecond / 2, kSecond, 0.3f, 0.3f, kCurveJump);
        envelope.addSegments(&again, 1, 44100);
        ASSERT_EQ(envelope.segmentCount(), 1u);
        EXPECT_EQ(envelope.segments()[0].rtStart, kSecond / 2);
    }
    for (ReferenceTime start : {kSecond * 3 / 2, 5 * kSecond}) { // at and after the furthest time
        ParamEnvelope envelope(floatRow());
        envelope.addSegments(first, 2, 44100);
        envelope.evaluate(kSecond * 3 / 2);
        const EnvelopeSegment later = segment(start, start + kSecond, 0.3f, 0.3f);
        envelope.addSegments(&later, 1, 44100);
        EXPECT_EQ(envelope.segmentCount(), 3u) << start;
    }
    { // nothing evaluated yet: a segment before the stored ones is added to them
        ParamEnvelope envelope(floatRow());
        const EnvelopeSegment later[] = {segment(2 * kSecond, 3 * kSecond, 0, 1),
                                         segment(3 * kSecond, 4 * kSecond, 1, 0)};
        envelope.addSegments(later, 2, 44100);
        const EnvelopeSegment early = segment(kSecond, 2 * kSecond, 0.3f, 0.3f);
        envelope.addSegments(&early, 1, 44100);
        EXPECT_EQ(envelope.segmentCount(), 3u);
        EXPECT_EQ(envelope.segments()[0].rtStart, kSecond);
    }
    { // a replacing batch out of order: only the earlier segments go, never the batch's own
        ParamEnvelope envelope(floatRow());
        envelope.addSegments(first, 2, 44100);
        envelope.evaluate(kSecond * 3 / 2);
        const EnvelopeSegment batch[] = {segment(kSecond, 2 * kSecond, 0.1f, 0.2f),
                                         segment(3 * kSecond, 4 * kSecond, 0.2f, 0.3f),
                                         segment(kSecond / 2, kSecond, 0.4f, 0.1f)};
        envelope.addSegments(batch, 3, 44100);
        ASSERT_EQ(envelope.segmentCount(), 3u);
        EXPECT_EQ(envelope.segments()[0].valStart, 0.4f);
        EXPECT_EQ(envelope.segments()[2].valStart, 0.2f);
    }
}

TEST(ParamEnvelopeAdd, AMillionSegmentsInAnyOrderAreSortedOnce) {
    const size_t count = 1'000'000;
    std::vector<EnvelopeSegment> many(count);
    for (size_t i = 0; i < count; ++i)
        many[i] = segment(static_cast<ReferenceTime>(i) * 1000, static_cast<ReferenceTime>(i) * 1000 + 500,
                          float(i % 100) / 100.0f, 0.5f);
    std::shuffle(many.begin(), many.end(), std::mt19937(3));
    ParamEnvelope envelope(floatRow());
    ASSERT_EQ(envelope.addSegments(many.data(), count, 100000), ParamEnvelope::AddResult::ok);
    const std::vector<EnvelopeSegment> stored = envelope.segments();
    ASSERT_EQ(stored.size(), count);
    EXPECT_TRUE(
        std::is_sorted(stored.begin(), stored.end(), [](auto& a, auto& b) { return a.rtStart < b.rtStart; }));
    EXPECT_NEAR(envelope.evaluate(777'000), 0.77, 1e-6);
}

TEST(ParamEnvelopeAdd, RefusesMoreThanTheRecordHoldsWithoutReadingThem) {
    ParamEnvelope envelope(floatRow());
    const EnvelopeSegment one = segment(0, kSecond, 0, 1);
    // Only one segment is readable: a refused count must not be read.
    EXPECT_EQ(envelope.addSegments(&one, ParamEnvelope::kMaxSegments + 1, 44100),
              ParamEnvelope::AddResult::tooMany);
    EXPECT_EQ(envelope.addSegments(&one, std::numeric_limits<size_t>::max(), 44100),
              ParamEnvelope::AddResult::tooMany);
    EXPECT_EQ(envelope.segmentCount(), 0u);
}

// ---- flushing -----------------------------------------------------------------------------------

TEST(ParamEnvelopeFlush, RemovesOnlyOverlappingSegments) {
    ParamEnvelope envelope(floatRow());
    const EnvelopeSegment s[] = {segment(0, kSecond, 0, 1), segment(kSecond, 2 * kSecond, 1, 0),
                                 segment(3 * kSecond, 4 * kSecond, 0, 1)};
    envelope.addSegments(s, 3, 44100);
    envelope.evaluate(kSecond / 2);
    envelope.flush(kSecond * 3 / 2, kSecond * 5 / 2, 44100);
    std::vector<EnvelopeSegment> left = envelope.segments();
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0].rtStart, 0);
    EXPECT_EQ(left[1].rtStart, 3 * kSecond);
    EXPECT_EQ(envelope.furthestEvaluatedTime(), 0);
    // Touching is not overlapping.
    envelope.flush(kSecond, 3 * kSecond, 44100);
    EXPECT_EQ(envelope.segmentCount(), 2u);
    // The open extremes take everything, however far out.
    const EnvelopeSegment far = segment(kMinTime, kMaxTime, 0, 1);
    envelope.addSegments(&far, 1, 44100);
    envelope.flush(kMinTime, kMaxTime, 44100);
    EXPECT_EQ(envelope.segmentCount(), 0u);
}

TEST(ParamEnvelopeFlush, AnEmptiedRecordHoldsItsValueUnlessInCapture) {
    const EnvelopeSegment ramp = segment(0, kSecond, 0, 1);
    {
        ParamEnvelope envelope(floatRow());
        envelope.addSegments(&ramp, 1, 44100);
        EXPECT_NEAR(envelope.evaluate(kSecond * 7 / 10), 0.7, 1e-6);
        EXPECT_FALSE(envelope.explicitlySet());
        envelope.flush(kMinTime, kMaxTime, 44100);
        EXPECT_TRUE(envelope.explicitlySet());
        EXPECT_NEAR(envelope.effectiveValue(), 0.7, 1e-6);
        EXPECT_NEAR(envelope.hostValue(), 0.7, 1e-6);
    }
    { // segments left: no hold
        ParamEnvelope envelope(floatRow());
        const EnvelopeSegment two[] = {ramp, segment(2 * kSecond, 3 * kSecond, 1, 0)};
        envelope.addSegments(two, 2, 44100);
        envelope.evaluate(kSecond / 2);
        envelope.flush(0, kSecond, 44100);
        EXPECT_FALSE(envelope.explicitlySet());
    }
    { // in capture the captured value already holds: the flag stays off
        ParamEnvelope envelope(floatRow());
        envelope.addSegments(&ramp, 1, 44100);
        envelope.evaluate(kSecond / 2);
        envelope.beginCapture();
        envelope.flush(kMinTime, kMaxTime, 44100);
        EXPECT_FALSE(envelope.explicitlySet());
    }
}

// ---- evaluation ---------------------------------------------------------------------------------

TEST(ParamEnvelopeEvaluate, SetValueHoldsUntilASegmentTakesOver) {
    ParamEnvelope envelope(floatRow());
    const EnvelopeSegment later = segment(kSecond, 2 * kSecond, 0.0f, 1.0f);
    envelope.addSegments(&later, 1, 44100);
    envelope.setValue(0.3f);
    EXPECT_FLOAT_EQ(envelope.evaluate(kSecond / 2), 0.3f); // before the first segment
    EXPECT_TRUE(envelope.explicitlySet());
    EXPECT_NEAR(envelope.evaluate(kSecond * 3 / 2), 0.5, 1e-6);
    EXPECT_FALSE(envelope.explicitlySet());
    // Past the end the value rests on the end value; a set value that equals it stays set.
    EXPECT_FLOAT_EQ(envelope.evaluate(3 * kSecond), 1.0f);
    envelope.setValue(1.0f);
    envelope.evaluate(4 * kSecond);
    EXPECT_TRUE(envelope.explicitlySet());
}

TEST(ParamEnvelopeEvaluate, CaptureKeepsTheCapturedValue) {
    ParamEnvelope envelope(floatRow());
    const EnvelopeSegment ramp = segment(0, kSecond, 0, 1);
    envelope.addSegments(&ramp, 1, 44100);
    envelope.beginCapture();
    envelope.setValue(0.9f);
    EXPECT_FLOAT_EQ(envelope.evaluate(kSecond / 4), 0.9f);
    EXPECT_FLOAT_EQ(envelope.hostValue(), 0.9f);
    envelope.endCapture();
    EXPECT_NEAR(envelope.effectiveValue(), 0.25, 1e-6); // the envelope had taken over meanwhile
}

TEST(ParamEnvelopeEvaluate, BadSegmentsAndValuesNeverLeaveTheRange) {
    // End before start: the segment is "over" as soon as it starts.
    EXPECT_EQ(evaluateOne(segment(kSecond, kSecond / 2, 0.2f, 0.8f), kSecond * 3 / 4), 0.0f);
    EXPECT_FLOAT_EQ(evaluateOne(segment(kSecond, kSecond / 2, 0.2f, 0.8f), kSecond), 0.8f);
    // Zero length: at its end at once.
    EXPECT_FLOAT_EQ(evaluateOne(segment(kSecond, kSecond, 0.2f, 0.8f), kSecond), 0.8f);
    // Out-of-range and infinite values are clamped, NaN keeps what was there.
    EXPECT_EQ(evaluateOne(segment(0, kSecond, 0.0f, 5.0f), kSecond / 2), 1.0f);
    EXPECT_EQ(evaluateOne(segment(0, kSecond, -3.0f, -1.0f), kSecond / 2), 0.0f);
    EXPECT_EQ(evaluateOne(segment(0, kSecond, 0.0f, kInf), kSecond / 2), 1.0f);
    {
        ParamEnvelope envelope(floatRow());
        envelope.setValue(0.4f);
        const EnvelopeSegment bad[] = {segment(0, kSecond, kNaN, kNaN),
                                       segment(2 * kSecond, 3 * kSecond, -kInf, kInf)};
        envelope.addSegments(bad, 2, 44100);
        EXPECT_FLOAT_EQ(envelope.evaluate(kSecond / 2), 0.4f);
        EXPECT_FLOAT_EQ(envelope.evaluate(5 * kSecond / 2), 0.4f);
    }
    // The widest segment there is: no overflow, the middle is about half way.
    EXPECT_NEAR(evaluateOne(segment(kMinTime, kMaxTime, 0.0f, 1.0f), 0), 0.5, 1e-3);
    // Explicit values likewise.
    ParamEnvelope envelope(floatRow());
    EXPECT_EQ(envelope.setValue(0.6f), 0.6f);
    EXPECT_EQ(envelope.setValue(kNaN), 0.6f);
    EXPECT_EQ(envelope.setValue(kInf), 1.0f);
    EXPECT_EQ(envelope.setValue(-kInf), 0.0f);
    EXPECT_EQ(envelope.setValue(2.0f), 1.0f);
}

} // namespace
} // namespace pellucer::dx
