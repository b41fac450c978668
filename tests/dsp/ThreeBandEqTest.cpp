#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "dsp/ThreeBandEq.h"
#include "tests/TestSupport.h"

using namespace pellucer;

namespace {

constexpr double kPi = std::numbers::pi;

void configure(ThreeBandEq& eq, float fs) {
    eq.setSampleRate(fs);
    eq.setLowFrequency(120.0);
    eq.setLowGain(6.0);
    eq.setMidFrequency(1500.0);
    eq.setMidGain(-4.0);
    eq.setHighFrequency(7000.0);
    eq.setHighGain(3.0);
}

// Steady-state gain in dB of a sine at an integer frequency through the stereo stage: one
// second of settling, then one second projected onto sine and cosine (exactly orthogonal over a
// whole second). Measured on the left channel.
double measuredGainDb(ThreeBandEq& eq, double hz, double fs, double amplitude = 0.25) {
    const auto frames = static_cast<int32_t>(fs);
    std::vector<double> left(frames), right(frames);
    double s = 0.0, c = 0.0;
    uint64_t position = 0;
    for (int pass = 0; pass < 2; ++pass) {
        for (int32_t n = 0; n < frames; ++n)
            left[n] = right[n] = amplitude * std::sin(2.0 * kPi * hz * n / fs);
        eq.process(left.data(), right.data(), position, frames, false);
        position += static_cast<uint64_t>(frames);
        if (pass == 0)
            continue;
        for (int32_t n = 0; n < frames; ++n) {
            const double sn = std::sin(2.0 * kPi * hz * n / fs), cs = std::cos(2.0 * kPi * hz * n / fs);
            s += left[n] * sn;
            c += left[n] * cs;
        }
    }
    return 20.0 * std::log10(2.0 * std::hypot(s, c) / frames / amplitude);
}

// Renders `input` on both channels in blocks of the given sizes, cycling through them; returns
// the left channel (the right one differs slightly once the tube runs, its envelope being shared).
std::vector<double> render(ThreeBandEq& eq, const std::vector<double>& input,
                           const std::vector<int32_t>& blocks, uint64_t position = 0,
                           std::vector<double>* rightOut = nullptr) {
    std::vector<double> left = input, right = input;
    test::processStereo(eq, left, right, position, blocks);
    if (rightOut != nullptr)
        *rightOut = right;
    return left;
}

} // namespace

TEST(ThreeBandEq, FlatSettingsPassEveryFrequencyAtUnityGain) {
    for (float fs : {44100.0f, 96000.0f}) {
        ThreeBandEq eq;
        eq.setSampleRate(fs);
        eq.setLowFrequency(200.0);
        eq.setMidFrequency(1000.0);
        eq.setHighFrequency(5000.0);
        for (double hz : {30.0, 200.0, 450.0, 1000.0, 2236.0, 5000.0, 12000.0, 19000.0})
            EXPECT_NEAR(measuredGainDb(eq, hz, fs), 0.0, 0.01) << fs << " Hz, " << hz << " Hz";
        // Without the tube both channels take exactly the same path.
        std::vector<double> right;
        const std::vector<double> left = render(eq, test::noise(0.5, 1000), {1000}, 0, &right);
        EXPECT_EQ(left, right);
    }
}

TEST(ThreeBandEq, FlatSettingsShiftThePhaseLikeAnAllpass) {
    // The split adds up to an allpass, not to a wire: an impulse comes out spread in time with
    // its energy kept.
    ThreeBandEq eq;
    eq.setLowFrequency(200.0);
    std::vector<double> impulse(44100, 0.0);
    impulse[0] = 1.0;
    const std::vector<double> out = render(eq, impulse, {44100});
    double energy = 0.0;
    for (double x : out)
        energy += x * x;
    EXPECT_NEAR(energy, 1.0, 1e-6);
    EXPECT_LT(std::fabs(out[0]), 0.9);
}

TEST(ThreeBandEq, MidGainSetsTheWideAndNarrowBells) {
    ThreeBandEq eq;
    eq.setMidFrequency(1000.0);
    eq.setMidGain(12.0);
    const BiquadBank& bank = eq.bank();
    EXPECT_EQ(bank.gain(ThreeBandEq::kWideBellBand), 24.0);
    EXPECT_EQ(bank.q(ThreeBandEq::kWideBellBand), 1.8);
    EXPECT_EQ(bank.gain(ThreeBandEq::kNarrowBellBand), -12.0);
    EXPECT_NEAR(bank.q(ThreeBandEq::kNarrowBellBand), 3.79, 0.005);
    // Both bells reach their gains at the centre: +24 - 12 dB.
    EXPECT_NEAR(bank.magnitudeDb(1000.0), 12.0, 1e-9);

    // The narrow bell's Q follows the gain whichever is set first.
    ThreeBandEq reversed;
    reversed.setMidGain(-12.0);
    reversed.setMidFrequency(1000.0);
    EXPECT_NEAR(reversed.bank().q(ThreeBandEq::kNarrowBellBand), 3.79, 0.005);
    EXPECT_NEAR(reversed.bank().magnitudeDb(1000.0), -12.0, 1e-9);
    reversed.setMidGain(0.0);
    EXPECT_NEAR(reversed.bank().q(ThreeBandEq::kNarrowBellBand), 2.07, 0.005);
}

TEST(ThreeBandEq, ShelvesAndBellLandOnTheirFrequencies) {
    ThreeBandEq eq;
    configure(eq, 48000.0f);
    const BiquadBank& bank = eq.bank();
    EXPECT_EQ(bank.frequency(ThreeBandEq::kLowShelfBand), 120.0);
    EXPECT_EQ(bank.q(ThreeBandEq::kLowShelfBand), 0.9);
    EXPECT_EQ(bank.frequency(ThreeBandEq::kHighShelfBand), 7000.0);
    EXPECT_EQ(bank.q(ThreeBandEq::kHighShelfBand), 0.9);
    EXPECT_NEAR(measuredGainDb(eq, 20.0, 48000.0), 6.0, 0.1);     // deep in the low shelf
    EXPECT_NEAR(measuredGainDb(eq, 1500.0, 48000.0), -4.0, 0.15); // the shelves barely reach here
    EXPECT_NEAR(measuredGainDb(eq, 20000.0, 48000.0), 3.0, 0.2);
}

TEST(ThreeBandEq, ResponseInHertzIsTheSameAtEveryRate) {
    ThreeBandEq at44, at48, at96;
    configure(at44, 44100.0f);
    configure(at48, 48000.0f);
    configure(at96, 96000.0f);
    for (double hz : {40.0, 120.0, 500.0, 1500.0, 3000.0, 5000.0}) {
        const double reference = measuredGainDb(at44, hz, 44100.0);
        EXPECT_NEAR(measuredGainDb(at48, hz, 48000.0), reference, 0.05) << hz;
        EXPECT_NEAR(measuredGainDb(at96, hz, 96000.0), reference, 0.1) << hz;
    }
    // A bell set to 1 kHz is centred there at every rate: its full gain at 1 kHz, the same
    // level an octave either side.
    for (float fs : {44100.0f, 48000.0f, 96000.0f}) {
        ThreeBandEq eq;
        eq.setSampleRate(fs);
        eq.setMidFrequency(1000.0);
        eq.setMidGain(12.0);
        EXPECT_NEAR(measuredGainDb(eq, 1000.0, fs), 12.0, 0.01) << fs;
        EXPECT_NEAR(measuredGainDb(eq, 500.0, fs), measuredGainDb(eq, 2000.0, fs), 0.1) << fs;
    }
}

TEST(ThreeBandEq, RoutedBandFadesInOverAbout100ms) {
    const double fs = 44100.0;
    ThreeBandEq eq;
    eq.setTubeLow(true);
    std::vector<double> left(64, 0.0), right(64, 0.0);
    int32_t at90 = -1, atOne = -1;
    for (int32_t frame = 0; frame < static_cast<int32_t>(fs); frame += 64) {
        eq.process(left.data(), right.data(), static_cast<uint64_t>(frame), 64, false);
        if (at90 < 0 && eq.routingWeight(0) >= 0.9)
            at90 = frame + 64;
        if (atOne < 0 && eq.routingWeight(0) == 1.0)
            atOne = frame + 64;
    }
    // 90 % in 100 ms of moving samples; the weights move on seven samples of eight.
    EXPECT_NEAR(at90 / fs, 0.1 * 8.0 / 7.0, 0.003);
    EXPECT_GT(atOne, at90);
    EXPECT_LT(atOne / fs, 0.45);
    EXPECT_EQ(eq.routingWeight(1), 0.0);
    EXPECT_EQ(eq.routingWeight(2), 0.0);

    eq.setTubeLow(false);
    for (int32_t frame = 0; frame < static_cast<int32_t>(fs); frame += 64)
        eq.process(left.data(), right.data(), static_cast<uint64_t>(frame), 64, false);
    EXPECT_EQ(eq.routingWeight(0), 0.0);
}

TEST(ThreeBandEq, QuietSignalsPassTheRoutedTubeAtUnityAndLoudOnesSaturate) {
    ThreeBandEq eq;
    eq.setTubeLow(true);
    eq.setTubeMid(true);
    eq.setTubeHigh(true);
    // Every band through the tube: the tube replaces the sum, it is not added to it.
    EXPECT_NEAR(measuredGainDb(eq, 1000.0, 44100.0, test::dbToGain(-60.0)), 0.0, 0.01);
    EXPECT_NEAR(measuredGainDb(eq, 100.0, 44100.0, test::dbToGain(-60.0)), 0.0, 0.01);
    EXPECT_LT(measuredGainDb(eq, 1000.0, 44100.0, 1.0), -1.0);
    EXPECT_GT(eq.tube().envelope(), 0.1);

    // Only the high band routed: a loud low tone passes clean.
    ThreeBandEq highOnly;
    highOnly.setLowFrequency(100.0);
    highOnly.setMidFrequency(1000.0);
    highOnly.setHighFrequency(10000.0);
    highOnly.setTubeHigh(true);
    EXPECT_NEAR(measuredGainDb(highOnly, 40.0, 44100.0, 1.0), 0.0, 0.05);
}

TEST(ThreeBandEq, ResetKeepsTheFilterStatesAndInitialiseStartsAfresh) {
    const std::vector<double> burst = test::noise(0.5, 3000, 7);
    const std::vector<double> tail = test::noise(0.5, 3000, 8);
    ThreeBandEq eq, continuous, fresh;
    for (ThreeBandEq* e : {&eq, &continuous, &fresh}) {
        configure(*e, 44100.0f);
        e->setTubeLow(true);
    }
    render(eq, burst, {3000});
    render(continuous, burst, {3000});
    // The chain's reset never cuts into the equaliser: it carries on as if nothing happened.
    eq.reset();
    const std::vector<double> afterReset = render(eq, tail, {3000}, 3000);
    EXPECT_EQ(afterReset, render(continuous, tail, {3000}, 3000));

    // initialise clears the signal memory but keeps the settings; the crossovers follow the
    // band frequencies again at the next setting.
    eq.initialise();
    eq.setTubeLow(true);
    std::vector<double> a = render(eq, tail, {3000}, 6000);
    std::vector<double> b = render(fresh, tail, {3000}, 6000);
    EXPECT_EQ(a, b);
}

TEST(ThreeBandEq, BadSettingsAreIgnored) {
    ThreeBandEq eq;
    configure(eq, 44100.0f);
    eq.setLowFrequency(std::nan(""));
    eq.setMidFrequency(-5.0);
    eq.setHighFrequency(INFINITY);
    eq.setMidGain(std::nan(""));
    eq.setTubeDrive(0.0);
    eq.setTubeDrive(std::nan(""));
    EXPECT_EQ(eq.lowFrequency(), 120.0);
    EXPECT_EQ(eq.midFrequency(), 1500.0);
    EXPECT_EQ(eq.highFrequency(), 7000.0);
    EXPECT_EQ(eq.midGainDb(), -4.0);
    EXPECT_EQ(eq.tubeDrive(), 1.0);
    eq.setTubeMid(true);
    const std::vector<double> out = render(eq, test::noise(0.5, 4000), {4000});
    for (double x : out)
        ASSERT_TRUE(std::isfinite(x));
    // Out-of-range gains are clamped by the bank, not passed on.
    eq.setHighGain(100.0);
    EXPECT_EQ(eq.bank().gain(ThreeBandEq::kHighShelfBand), 32.0);
}

TEST(ThreeBandEq, MonoProcessesTheLeftChannelAloneAsStereoWould) {
    const std::vector<double> input = test::noise(0.5, 2048);
    // (Without tube routing: the tube's envelope is shared by both channels, so with it the
    // left channel of a stereo pair also hears the right one.)
    ThreeBandEq mono, stereo;
    configure(mono, 44100.0f);
    configure(stereo, 44100.0f);
    std::vector<double> left = input, right(input.size(), 0.125);
    mono.process(left.data(), right.data(), 0, 2048, true);
    for (double x : right)
        ASSERT_EQ(x, 0.125);
    std::vector<double> stereoLeft = input, stereoRight = input;
    stereo.process(stereoLeft.data(), stereoRight.data(), 0, 2048, false);
    EXPECT_EQ(left, stereoLeft);
    // A null right pointer is fine in mono.
    mono.process(left.data(), nullptr, 2048, 2048, true);
}

TEST(ThreeBandEq, ResponseCurveCoversTheAudioBand) {
    ThreeBandEq eq;
    configure(eq, 44100.0f);
    std::vector<double> points(100);
    ASSERT_TRUE(eq.responseCurve(points.data(), 50));
    EXPECT_DOUBLE_EQ(points[0], 20.0);
    EXPECT_NEAR(points[98], 20000.0, 1e-9);
    EXPECT_NEAR(points[1], eq.bank().magnitudeDb(20.0), 1e-12);
    EXPECT_GT(points[1], 5.5); // the +6 dB low shelf
    EXPECT_FALSE(eq.responseCurve(nullptr, 50));
}
