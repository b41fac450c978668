#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <tuple>
#include <vector>

#include "dsp/DeEsser.h"
#include "tests/TestSupport.h"

using namespace pellucer;
using namespace pellucer::test;

namespace {

void configure(DeEsser& d, double splitHz, double depth, float sampleRate = 44100.0f) {
    d.setSampleRate(sampleRate);
    d.setSplitFrequency(splitHz);
    d.setDepth(depth);
}

std::vector<double> mix(const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<double> s(a.size());
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = a[i] + b[i];
    return s;
}

double firLevelDb(const double* h, int32_t taps, double hz, double fs) {
    std::complex<double> sum = 0.0;
    for (int32_t i = 0; i < taps; ++i)
        sum += h[i] * std::polar(1.0, -2.0 * std::numbers::pi * hz / fs * i);
    return 20.0 * std::log10(std::abs(sum));
}

} // namespace

// The pair spans fs / f frames rounded up, made odd upwards (at most 99 and the 1 ms pad) and
// designed at 0.9 of Nyquist at most; at depth 0 the stage delays by half of it until faded out.
TEST(DeEsser, DepthZeroIsTheInputDelayedByHalfTheTaps) {
    const std::tuple<float, double, int32_t> cases[] = {
        {44100.0f, 2000.0, 25}, {44100.0f, 8000.0, 7},  {44100.0f, 12000.0, 5},  {48000.0f, 2000.0, 25},
        {96000.0f, 3000.0, 33}, {22050.0f, 12000.0, 5}, {22050.0f, HUGE_VAL, 5}, {384000.0f, 2000.0, 99}};
    for (const auto& [fs, hz, taps] : cases) {
        for (bool mono : {false, true}) {
            SCOPED_TRACE(::testing::Message() << fs << " Hz, split " << hz << (mono ? " mono" : ""));
            DeEsser d;
            configure(d, hz, 0.0, fs);
            const auto in = noise(0.5, 3000, 1);
            auto l = in, r = in;
            d.process(l.data(), r.data(), 0, 3000, mono);
            EXPECT_EQ(d.taps(), taps);
            EXPECT_EQ(d.stageLatency(), (taps - 1) / 2);
            EXPECT_EQ(d.splitFrequency(), hz);
            expectDelayed(in, l, static_cast<size_t>((taps - 1) / 2), 1e-12);
        }
    }
    DeEsser d;
    configure(d, 2000.0, 0.5);
    auto s = noise(0.1, 10, 2);
    processMono(d, s);
    d.enabled = false;
    d.fade = 0.3;
    EXPECT_EQ(d.stageLatency(), 12);
    d.fade = 0.0;
    EXPECT_EQ(d.stageLatency(), 0);
}

// A linear-phase complementary pair; the low band is about -3 dB at the split at any rate.
TEST(DeEsser, SplitPairIsLinearPhaseComplementaryAndSplitsAtTheFrequency) {
    for (float fs : {22050.0f, 44100.0f, 96000.0f, 192000.0f}) {
        for (double hz : {2000.0, 5000.0, 10000.0}) {
            SCOPED_TRACE(::testing::Message() << fs << " Hz, split " << hz);
            SplitFilter f;
            ASSERT_EQ(designSplitFilter(hz, fs, f), hz < 0.5 * fs);
            if (hz >= 0.45 * fs)
                continue;
            const int32_t c = (f.taps - 1) / 2;
            for (int32_t i = 0; i < f.taps; ++i) {
                EXPECT_EQ(f.low[i], f.low[f.taps - 1 - i]);
                EXPECT_NEAR(f.low[i] + f.high[i], i == c ? 1.0 : 0.0, 1e-15);
            }
            EXPECT_NEAR(firLevelDb(f.low, f.taps, 0.0, fs), 0.0, 1e-5);
            EXPECT_GT(firLevelDb(f.low, f.taps, hz / 4, fs), -0.3);
            EXPECT_GT(firLevelDb(f.low, f.taps, hz, fs), -5.0);
            EXPECT_LT(firLevelDb(f.low, f.taps, hz, fs), -2.5);
            EXPECT_LT(firLevelDb(f.low, f.taps, std::min(2.0 * hz, 0.45 * fs), fs), -10.0);
            EXPECT_LT(firLevelDb(f.high, f.taps, hz / 2, fs), -15.0);
        }
    }
    SplitFilter f;
    EXPECT_FALSE(designSplitFilter(3000.0, std::nanf(""), f));
    EXPECT_FALSE(designSplitFilter(-100.0, 44100.0f, f));
}

// Low band 0.5, high band a: the band ratio is q = 0.4 * 0.5 / a, the gain 1 - (1 - min(1, q^2)) depth.
TEST(DeEsser, ReductionIsTheSquaredBandRatioScaledByDepth) {
    for (const auto& [high, depth] : {std::pair{0.4, 1.0}, {0.4, 0.5}, {0.3, 1.0}, {0.15, 1.0}}) {
        DeEsser d;
        configure(d, 3000.0, depth);
        auto s = mix(sine(0.5, 500.0, 44100.0, 22050), sine(high, 10000.0, 44100.0, 22050));
        processMono(d, s);
        const double q = 0.4 * 0.5 / high, expected = 1.0 - (1.0 - std::min(1.0, q * q)) * depth;
        EXPECT_NEAR(d.gain(), expected, 0.05 * expected) << high << " " << depth;
    }
}

// Detection hears both channels; the reduction holds 10 ms, then follows the 100 ms fall.
TEST(DeEsser, SibilanceIsTakenDownAtOnceHeldForTenMsThenReleased) {
    DeEsser d;
    configure(d, 3000.0, 1.0);
    auto l = sine(0.5, 500.0, 44100.0, 13230), r = sine(0.5, 10000.0, 44100.0, 13230);
    std::fill(r.begin() + 6615, r.end(), 0.0); // 150 ms of sibilance
    std::vector<double> g(l.size());
    for (size_t i = 0; i < l.size(); ++i) {
        d.process(&l[i], &r[i], i, 1, false);
        g[i] = d.gain();
    }
    const auto at = [&g](double ms) { return g[static_cast<size_t>(ms * 44.1) - 1]; };
    EXPECT_NEAR(at(40.0), 0.16, 0.03); // (0.4 * 0.5 / 0.5)^2 within tens of ms
    EXPECT_NEAR(at(155.0), at(150.0), 0.01);
    EXPECT_NEAR(at(170.0), std::pow(0.4 * 0.5 / (0.5 * std::pow(0.1, 10.0 / 100.0)), 2.0), 0.05);
    EXPECT_GT(at(220.0), 0.99);
    EXPECT_GT(peak(l, 4410, 6615), 0.49);
    EXPECT_LT(peak(r, 4410, 6615), 0.5 * 0.2);
}

// Listening, the output is what the normal output lacks: the two add up to the delayed input.
TEST(DeEsser, ListenOutputIsWhatTheNormalOutputLacks) {
    const auto sibilant = mix(sine(0.3, 400.0, 44100.0, 8820), noise(0.3, 8820, 7));
    DeEsser normal, listening;
    configure(normal, 4000.0, 0.8);
    configure(listening, 4000.0, 0.8);
    listening.setListen(true);
    auto a = sibilant, b = sibilant;
    processMono(normal, a);
    processMono(listening, b);
    EXPECT_LT(normal.gain(), 0.9);
    EXPECT_GT(peak(b, 4410), 0.01);
    expectDelayed(sibilant, mix(a, b), normal.stageLatency(), 1e-12);
}
