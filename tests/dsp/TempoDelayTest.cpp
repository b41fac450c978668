#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "dsp/TempoDelay.h"
#include "tests/TestSupport.h"

using namespace pellucer;

namespace {

// Runs silence until a pending time change has completed and the echo is fully back.
uint64_t settle(TempoDelay& delay, uint64_t position) {
    std::vector<double> l(4096, 0.0), r(4096, 0.0);
    for (int k = 0; k < 200; ++k) {
        delay.process(l.data(), r.data(), position, 4096, false);
        position += 4096;
    }
    return position;
}

// Impulse on both channels at `position`; the left response (checked equal to the right one).
std::vector<double> impulseResponse(TempoDelay& delay, size_t frames, uint64_t position = 0) {
    std::vector<double> left(frames, 0.0), right(frames, 0.0);
    left[0] = right[0] = 1.0;
    test::processStereo(delay, left, right, position, {512});
    for (size_t i = 0; i < frames; ++i)
        EXPECT_EQ(left[i], right[i]) << i;
    return left;
}

} // namespace

TEST(TempoDelay, ImpulseRepeatsOnceAQuarterSecondLaterAtFullLevel) {
    for (float fs : {44100.0f, 48000.0f, 96000.0f}) {
        TempoDelay delay;
        delay.setSampleRate(fs);
        delay.setLevel(1.0);
        delay.setFeedback(0.0);
        delay.setTime(0.25);
        const auto d = static_cast<size_t>(std::floor(0.25 * fs + 0.5));
        EXPECT_EQ(delay.targetDelayFrames(), static_cast<int32_t>(d));
        const std::vector<double> out = impulseResponse(delay, 3 * d);
        EXPECT_NEAR(out[0], 1.0, 1e-12);
        EXPECT_NEAR(out[d], 1.0, 1e-12) << fs;
        for (size_t i = 1; i < out.size(); ++i) {
            if (i != d) {
                ASSERT_LT(std::fabs(out[i]), 1e-12) << fs << " at " << i;
            }
        }
    }
    // Times are rounded to the nearest frame: 0.01135 s is 500.535 frames at 44.1 kHz.
    TempoDelay delay;
    delay.setTime(0.01135);
    EXPECT_EQ(delay.targetDelayFrames(), 501);
    // A rate change keeps the time in seconds, and the line covers a second at the new rate.
    delay.setTime(0.5);
    delay.setSampleRate(96000.0f);
    EXPECT_EQ(delay.currentDelayFrames(), 48000);
    EXPECT_EQ(delay.lineFrames(), 131072);
}

TEST(TempoDelay, FullFeedbackThroughAFlatFilterDecaysByTheFeedbackPerEcho) {
    for (bool lowCutEnd : {false, true}) {
        // High cut at its top frequency, or low cut at its bottom one: both are flat.
        TempoDelay delay;
        delay.setFilterMode(lowCutEnd ? 1.0 : 0.0);
        delay.setFilterCornerControl(lowCutEnd ? 0.0 : 1.0);
        delay.setLevel(1.0);
        delay.setFeedback(0.9);
        delay.setTime(0.05);
        delay.reset();
        const int32_t d = delay.targetDelayFrames();
        const std::vector<double> out = impulseResponse(delay, static_cast<size_t>(d) * 12 + 1);
        double previous = out[static_cast<size_t>(d)];
        EXPECT_NEAR(previous, 1.0, 1e-9);
        for (int k = 2; k <= 12; ++k) {
            const double echo = out[static_cast<size_t>(k * d)];
            EXPECT_NEAR(echo / previous, 0.9, 1e-9) << k;
            EXPECT_LT(std::fabs(out[static_cast<size_t>(k * d) - 1]), 1e-9); // unsmeared
            previous = echo;
        }
    }
}

TEST(TempoDelay, FeedbackFilterMovesFromHighCutThroughBandLimitToLowCut) {
    TempoDelay delay;
    std::vector<double> points(100);

    // Flat at both ends of the range.
    for (auto [mode, frequency] : {std::pair{0.0, 1.0}, std::pair{1.0, 0.0}}) {
        delay.setFilterMode(0.4); // leave a non-flat design behind first
        delay.setFilterCornerControl(0.5);
        delay.setFilterMode(mode);
        delay.setFilterCornerControl(frequency);
        ASSERT_TRUE(delay.filterCurve(points.data(), 50));
        for (int k = 0; k < 50; ++k)
            EXPECT_NEAR(points[2 * k + 1], 0.0, 1e-9) << mode;
    }

    // Corner 10 * 2200^0.5 ~ 469 Hz.
    delay.setFilterCornerControl(0.5);
    delay.setFilterMode(0.0); // high cut: -9 dB well above the corner
    EXPECT_NEAR(delay.filter().magnitudeDb(20.0), 0.0, 0.1);
    EXPECT_NEAR(delay.filter().magnitudeDb(15000.0), -9.0, 0.1);
    EXPECT_NEAR(delay.filter().frequency(1), 469.04 * 1.5, 0.1);
    delay.setFilterMode(1.0); // low cut
    EXPECT_NEAR(delay.filter().magnitudeDb(12.0), -9.0, 0.2);
    EXPECT_NEAR(delay.filter().magnitudeDb(20000.0), 0.0, 0.1);
    delay.setFilterMode(0.5); // band limit: -9 dB on both sides, far less around the corner
    EXPECT_NEAR(delay.filter().magnitudeDb(10.5), -9.0, 0.3);
    EXPECT_NEAR(delay.filter().magnitudeDb(20000.0), -9.0, 0.3);
    EXPECT_GT(delay.filter().magnitudeDb(469.0), -4.0);
    EXPECT_NEAR(delay.filter().frequency(0), 469.04 / 3.5, 0.05);
    EXPECT_NEAR(delay.filter().q(0), 0.75, 1e-12);

    // The curve the editor draws is the filter's, 20 Hz to 20 kHz.
    ASSERT_TRUE(delay.filterCurve(points.data(), 50));
    EXPECT_DOUBLE_EQ(points[0], 20.0);
    EXPECT_NEAR(points[98], 20000.0, 1e-9);
    EXPECT_NEAR(points[99], delay.filter().magnitudeDb(20000.0), 1e-12);
    EXPECT_FALSE(delay.filterCurve(nullptr, 50));
}

TEST(TempoDelay, FilteredEchoesLoseTheirHighs) {
    TempoDelay delay;
    delay.setLevel(1.0);
    delay.setFeedback(0.9);
    delay.setFilterMode(0.0);
    delay.setFilterCornerControl(0.3); // corner ~ 100 Hz
    delay.setTime(0.1);
    delay.reset();
    // A 5 kHz tone burst of 10 ms: each pass through the loop takes 9 dB off it.
    std::vector<double> left = test::sine(0.5, 5000.0, 44100.0, 441), right = left;
    left.resize(44100, 0.0);
    right.resize(44100, 0.0);
    test::processStereo(delay, left, right, 0, {256});
    const double first = test::peak(left, 4410, 4410 + 441);
    const double second = test::peak(left, 8820 + 100, 8820 + 441);
    EXPECT_NEAR(first, 0.5 * test::dbToGain(-9.0), 0.02);
    EXPECT_NEAR(second / first, 0.9 * test::dbToGain(-9.0), 0.03);
}

TEST(TempoDelay, SyncedTimeFollowsTheNoteValueAndTheTempo) {
    TempoDelay delay;
    delay.setSync(true);
    const double quarter = (10.0 + 0.5) / 16.0;
    EXPECT_EQ(noteIndex(quarter), 10);
    delay.setNoteValue(quarter, 120.0);
    EXPECT_DOUBLE_EQ(delay.timeSeconds(), 0.5);
    EXPECT_EQ(delay.targetDelayFrames(), 22050);
    delay.setNoteValue(delay.noteValue(), 60.0); // the host's tempo changes
    EXPECT_DOUBLE_EQ(delay.timeSeconds(), 1.0);

    // A few entries of the table at 120 BPM (a beat of 0.5 s).
    const double beat = 0.5;
    EXPECT_NEAR(noteLengthSeconds(0, 120.0), beat / 8.0 * 0.666666667, 1e-15);
    EXPECT_NEAR(noteLengthSeconds(4, 120.0), beat / 4.0, 1e-15);
    EXPECT_NEAR(noteLengthSeconds(8, 120.0), beat / 2.0 * 1.5, 1e-15);
    EXPECT_NEAR(noteLengthSeconds(13, 120.0), beat * 2.0, 1e-15);
    EXPECT_NEAR(noteLengthSeconds(15, 120.0), beat * 4.0, 1e-15);
    EXPECT_EQ(noteIndex(1.0), 15);
    EXPECT_EQ(noteIndex(-0.5), 0);

    // Tempo 0 (or no tempo at all) keeps the time; so does sync off.
    delay.setNoteValue(4.5 / 16.0, 0.0);
    EXPECT_DOUBLE_EQ(delay.timeSeconds(), 1.0);
    EXPECT_DOUBLE_EQ(delay.noteValue(), 4.5 / 16.0);
    delay.setSync(false);
    delay.setNoteValue(quarter, 120.0);
    EXPECT_DOUBLE_EQ(delay.timeSeconds(), 1.0);
}

TEST(TempoDelay, AWholeNoteAtSixtyGrowsTheLinesAndEchoesFourSecondsLater) {
    const double fs = 44100.0;
    TempoDelay delay;
    delay.setLevel(1.0);
    EXPECT_EQ(delay.lineFrames(), 65536);
    delay.setSync(true);
    delay.setNoteValue(15.5 / 16.0, 60.0);
    EXPECT_DOUBLE_EQ(delay.timeSeconds(), 4.0);
    const uint64_t position = settle(delay, 0);
    EXPECT_EQ(delay.lineFrames(), 262144);
    EXPECT_EQ(delay.currentDelayFrames(), 176400);

    const std::vector<double> out = impulseResponse(delay, static_cast<size_t>(4.0 * fs) + 10, position);
    EXPECT_NEAR(out[176400], 1.0, 1e-12);
    EXPECT_LT(test::peak(out, 1, 176400), 1e-12);
}

TEST(TempoDelay, ATimeChangeFadesTheEchoOutAndInWhileTheDryPasses) {
    const double fs = 44100.0;
    TempoDelay delay;
    delay.setLevel(1.0);
    delay.setTime(0.1);
    delay.reset();
    const std::vector<double> input = test::sine(0.5, 220.0, fs, 2 * 44100);
    std::vector<double> left = input, right = input;
    test::processStereo(delay, left, right, 0, {44100});
    ASSERT_EQ(delay.currentDelayFrames(), 4410);

    delay.setTime(0.2);
    std::vector<double> moreLeft = test::sine(0.5, 220.0, fs, 44100), moreRight = moreLeft;
    const std::vector<double> dry = moreLeft;
    test::processStereo(delay, moreLeft, moreRight, 2 * 44100, {100});
    EXPECT_EQ(delay.currentDelayFrames(), 8820);

    // wet = out - dry: the old echo fades out, silence while the read position switches, then
    // the echo at the new time fades in. The dry part is always there in full.
    size_t firstSilent = 0, lastSilent = 0;
    double largestStep = 0.0;
    for (size_t i = 0; i < dry.size(); ++i) {
        const double wet = moreLeft[i] - dry[i];
        ASSERT_LE(std::fabs(wet), 0.5 + 1e-9) << i;
        if (wet == 0.0) {
            if (firstSilent == 0)
                firstSilent = i;
            lastSilent = i;
        }
        if (i > 0)
            largestStep = std::max(largestStep, std::fabs(wet - (moreLeft[i - 1] - dry[i - 1])));
    }
    EXPECT_GT(firstSilent, 0u);                // faded, not cut
    EXPECT_GT(lastSilent, firstSilent + 1000); // a silent stretch while switching
    EXPECT_LT(largestStep, 2.0 * 3.141592653589793 * 220.0 / fs * 0.5 + 0.01); // never a step
    // Once back, the echo is the input 0.2 s earlier at full level.
    for (size_t i = 32000; i < dry.size(); ++i)
        ASSERT_NEAR(moreLeft[i] - dry[i],
                    0.5 * std::sin(2.0 * 3.141592653589793 * 220.0 * (static_cast<double>(i) - 8820.0) / fs),
                    1e-9)
            << i;
}

TEST(TempoDelay, ResetGivesTheSameOutputAsAFreshDelay) {
    TempoDelay used, fresh;
    for (TempoDelay* d : {&used, &fresh}) {
        d->setLevel(0.8);
        d->setFeedback(0.7);
        d->setFilterMode(0.6);
        d->setFilterCornerControl(0.4);
        d->setTime(0.03);
    }
    std::vector<double> l = test::noise(0.9, 5000, 1), r = test::noise(0.9, 5000, 2);
    test::processStereo(used, l, r, 0, {512});
    used.setTime(0.02); // a switch under way at the reset
    test::processStereo(used, l, r, 5000, {10});
    // The fresh one is prepared as the engine prepares its stages, after the settings.
    fresh.setTime(0.02);
    fresh.setSampleRate(44100.0f);

    used.reset();
    std::vector<double> a = test::noise(0.5, 4000, 3), aRight = test::noise(0.5, 4000, 4);
    std::vector<double> b = a, bRight = aRight;
    test::processStereo(used, a, aRight, 10000, {256});
    test::processStereo(fresh, b, bRight, 10000, {256});
    EXPECT_EQ(a, b);
    EXPECT_EQ(aRight, bRight);
}

TEST(TempoDelay, MonoTouchesOnlyTheLeftChannel) {
    TempoDelay mono, stereo;
    for (TempoDelay* d : {&mono, &stereo}) {
        d->setLevel(0.5);
        d->setFeedback(0.5);
        d->setTime(0.01);
    }
    std::vector<double> left = test::noise(0.5, 3000), right(3000, 0.25);
    std::vector<double> stereoLeft = left, stereoRight = left;
    test::processMono(mono, left);
    test::processStereo(stereo, stereoLeft, stereoRight, 0, {300});
    for (double x : right)
        ASSERT_EQ(x, 0.25);
    EXPECT_EQ(left, stereoLeft);
}

TEST(TempoDelay, BadSettingsAreIgnoredOrClamped) {
    TempoDelay delay;
    delay.setTime(0.3);
    delay.setTime(std::nan(""));
    EXPECT_EQ(delay.timeSeconds(), 0.3);
    delay.setLevel(std::nan(""));
    delay.setFeedback(std::nan(""));
    delay.setFilterMode(std::nan(""));
    delay.setFilterCornerControl(std::nan(""));
    delay.setNoteValue(std::nan(""), 120.0);
    EXPECT_EQ(delay.level(), 0.25);
    EXPECT_EQ(delay.feedback(), 0.0);
    delay.setFeedback(5.0);
    EXPECT_LT(delay.feedback(), 1.0);
    delay.setLevel(-1.0);
    EXPECT_EQ(delay.level(), 0.0);
    delay.setTime(1e9);
    EXPECT_EQ(delay.timeSeconds(), TempoDelay::kMaxTimeSeconds);
    delay.setTime(0.0);
    EXPECT_EQ(delay.targetDelayFrames(), 1);

    delay.setLevel(1.0);
    delay.setFeedback(5.0);
    delay.setTime(0.01);
    std::vector<double> l = test::noise(1.0, 44100), r = l;
    test::processStereo(delay, l, r, 0, {1000});
    for (double x : l)
        ASSERT_TRUE(std::isfinite(x));
    EXPECT_LT(test::peak(l, 40000), 100.0); // the loop gain stays below one
}
