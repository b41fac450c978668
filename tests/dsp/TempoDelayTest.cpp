#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <tuple>
#include <vector>

#include "dsp/TempoDelay.h"
#include "tests/TestSupport.h"

using namespace pellucer;

namespace {

// The response to an impulse on both channels at `position`, checked equal on both.
std::vector<double> impulseResponse(TempoDelay& delay, size_t frames, uint64_t position = 0) {
    std::vector<double> left(frames, 0.0), right(frames, 0.0);
    left[0] = right[0] = 1.0;
    test::processStereo(delay, left, right, position, {512});
    EXPECT_EQ(left, right);
    return left;
}

TempoDelay& echo(TempoDelay& delay, double seconds, double feedback) {
    delay.setLevel(1.0);
    delay.setFeedback(feedback);
    delay.setTime(seconds);
    delay.reset();
    return delay;
}

} // namespace

// The echo comes round(t fs) frames later; through a flat filter each repeat is the feedback
// times the last, unsmeared; a rate change keeps the time in seconds.
TEST(TempoDelay, EchoesComeAtTheTimeInWholeFramesAndDecayByTheFeedback) {
    for (float fs : {44100.0f, 48000.0f, 96000.0f}) {
        TempoDelay delay;
        delay.setSampleRate(fs);
        const auto d = static_cast<size_t>(std::floor(0.25 * fs + 0.5));
        const std::vector<double> out = impulseResponse(echo(delay, 0.25, 0.0), 3 * d);
        EXPECT_EQ(delay.targetDelayFrames(), static_cast<int32_t>(d));
        EXPECT_EQ(out[d], 1.0) << fs;
        EXPECT_EQ(out[0], 1.0);
        EXPECT_LT(test::peak(out, 1, d) + test::peak(out, d + 1), 1e-12) << fs;
    }
    for (bool lowCutEnd : {false, true}) {
        TempoDelay delay;
        delay.setFilterMode(lowCutEnd ? 1.0 : 0.0);
        delay.setFilterCornerControl(lowCutEnd ? 0.0 : 1.0);
        const size_t d = 2205; // 0.05 s
        const std::vector<double> out = impulseResponse(echo(delay, 0.05, 0.9), d * 12 + 1);
        for (int k = 1; k <= 12; ++k) {
            EXPECT_NEAR(out[k * d], std::pow(0.9, k - 1), 1e-9) << k;
            EXPECT_LT(std::fabs(out[k * d - 1]), 1e-9);
        }
    }
    TempoDelay delay;
    delay.setTime(0.01135); // 500.535 frames at 44.1 kHz
    EXPECT_EQ(delay.targetDelayFrames(), 501);
    delay.setTime(0.5);
    delay.setSampleRate(96000.0f);
    EXPECT_EQ(delay.currentDelayFrames(), 48000);
}

// A high cut takes 9 dB above the corner (469 Hz at mid range), a low cut below, a band limit
// both; each pass through the loop takes the 9 dB again, in mono as on each stereo channel.
TEST(TempoDelay, FeedbackFilterCutsHighsLowsOrBothBy9dB) {
    TempoDelay delay;
    delay.setFilterCornerControl(0.5);
    for (const auto& [mode, hz, db] : {std::tuple{0.0, 20.0, 0.0},
                                       {0.0, 15000.0, -9.0},
                                       {1.0, 12.0, -9.0},
                                       {1.0, 20000.0, 0.0},
                                       {0.5, 10.5, -9.0},
                                       {0.5, 20000.0, -9.0}}) {
        delay.setFilterMode(mode);
        EXPECT_NEAR(delay.filter().magnitudeDb(hz), db, 0.3) << mode << " " << hz;
    }
    EXPECT_GT(delay.filter().magnitudeDb(469.0), -4.0);

    TempoDelay loop, monoLoop;
    for (TempoDelay* d : {&loop, &monoLoop}) {
        d->setFilterMode(0.0);
        d->setFilterCornerControl(0.3); // corner about 100 Hz
        echo(*d, 0.1, 0.9);
    }
    std::vector<double> left = test::sine(0.5, 5000.0, 44100.0, 441), right = left; // a 10 ms burst
    left.resize(44100, 0.0);
    right.resize(44100, 0.0);
    std::vector<double> mono = left;
    test::processStereo(loop, left, right, 0, {256});
    test::processMono(monoLoop, mono);
    EXPECT_TRUE(mono == left && right == left);
    const double first = test::peak(left, 4410, 4410 + 441),
                 second = test::peak(left, 8820 + 100, 8820 + 441);
    EXPECT_NEAR(first, 0.5 * test::dbToGain(-9.0), 0.02);
    EXPECT_NEAR(second / first, 0.9 * test::dbToGain(-9.0), 0.03);
}

// Sixteen note values, a thirty-second triplet to a whole note; tempo 0 or sync off keep the time;
// a whole note at 60 BPM grows the lines and echoes 176400 frames later.
TEST(TempoDelay, SyncedTimeFollowsTheNoteValueAndTheTempo) {
    for (const auto& [index, beats] : {std::pair{0, 1.0 / 8.0 * 2.0 / 3.0},
                                       {4, 1.0 / 4.0},
                                       {8, 1.0 / 2.0 * 1.5},
                                       {10, 1.0},
                                       {13, 2.0},
                                       {15, 4.0}}) {
        EXPECT_NEAR(noteLengthSeconds(index, 120.0), 0.5 * beats, 1e-9) << index;
        EXPECT_EQ(noteIndex((index + 0.5) / 16.0), index);
    }
    EXPECT_EQ(noteIndex(-0.5), 0);
    TempoDelay delay;
    delay.setLevel(1.0);
    EXPECT_EQ(delay.lineFrames(), 65536);
    delay.setSync(true);
    delay.setNoteValue(15.5 / 16.0, 60.0);
    EXPECT_DOUBLE_EQ(delay.timeSeconds(), 4.0);
    delay.setNoteValue(4.5 / 16.0, 0.0);
    delay.setSync(false);
    delay.setNoteValue(10.5 / 16.0, 120.0);
    EXPECT_DOUBLE_EQ(delay.timeSeconds(), 4.0);
    std::vector<double> l(200 * 4096, 0.0), r = l;
    test::processStereo(delay, l, r, 0, {4096}); // until the change has completed
    EXPECT_EQ(delay.lineFrames(), 262144);
    EXPECT_EQ(delay.currentDelayFrames(), 176400);
    const std::vector<double> out = impulseResponse(delay, 176410, l.size());
    EXPECT_NEAR(out[176400], 1.0, 1e-12);
    EXPECT_LT(test::peak(out, 1, 176400), 1e-12);
}

// A new time: the old echo fades out, silence, the new one fades in, never a step; the dry passes.
TEST(TempoDelay, ATimeChangeFadesTheEchoOutAndInWhileTheDryPasses) {
    const double fs = 44100.0, w = 2.0 * std::numbers::pi * 220.0 / fs;
    TempoDelay delay;
    echo(delay, 0.1, 0.0);
    std::vector<double> left = test::sine(0.5, 220.0, fs, 2 * 44100), right = left;
    test::processStereo(delay, left, right, 0, {44100});
    delay.setTime(0.2);
    const std::vector<double> dry = test::sine(0.5, 220.0, fs, 44100);
    left = right = dry;
    test::processStereo(delay, left, right, 2 * 44100, {100});
    EXPECT_EQ(delay.currentDelayFrames(), 8820);
    size_t firstSilent = 0, lastSilent = 0;
    for (size_t i = 1; i < dry.size(); ++i) {
        const double wet = left[i] - dry[i];
        ASSERT_LE(std::fabs(wet), 0.5 + 1e-9) << i;
        ASSERT_LT(std::fabs(wet - (left[i - 1] - dry[i - 1])), w * 0.5 + 0.01) << i;
        if (wet == 0.0) {
            firstSilent = firstSilent == 0 ? i : firstSilent;
            lastSilent = i;
        }
    }
    for (size_t i = 32000; i < dry.size(); ++i)
        ASSERT_NEAR(left[i] - dry[i], 0.5 * std::sin(w * (static_cast<double>(i) - 8820.0)), 1e-9) << i;
    EXPECT_GT(firstSilent, 0u);                // faded, not cut
    EXPECT_GT(lastSilent, firstSilent + 1000); // a silent stretch while switching
}
