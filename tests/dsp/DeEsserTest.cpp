#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "dsp/DeEsser.h"
#include "tests/TestSupport.h"

using namespace pellucer;
using pellucer::test::expectDelayed;
using pellucer::test::noise;
using pellucer::test::peak;
using pellucer::test::processMono;
using pellucer::test::processStereo;
using pellucer::test::sine;

namespace {

constexpr double kPi = std::numbers::pi;

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

// Level in dB of an FIR at a frequency.
double firLevelDb(const double* h, int32_t taps, double hz, double fs) {
    std::complex<double> sum = 0.0;
    for (int32_t i = 0; i < taps; ++i)
        sum += h[i] * std::polar(1.0, -2.0 * kPi * hz / fs * i);
    return 20.0 * std::log10(std::abs(sum));
}

int32_t padFrames(double fs) { return static_cast<int32_t>(0.001 * fs + 0.5); }

} // namespace

TEST(DeEsser, DepthZeroIsTheInputDelayedByHalfTheTaps) {
    for (float fs : {44100.0f, 48000.0f, 96000.0f}) {
        DeEsser d;
        configure(d, 2000.0, 0.0, fs);
        const auto inL = noise(0.5, 3000, 1);
        const auto inR = noise(0.5, 3000, 2);
        auto l = inL, r = inR;
        processStereo(d, l, r);
        const int32_t latency = d.stageLatency();
        EXPECT_EQ(latency, (d.taps() - 1) / 2);
        if (fs == 44100.0f) {
            EXPECT_EQ(d.taps(), 25);
            EXPECT_EQ(latency, 12);
        }
        expectDelayed(inL, l, latency, 1e-12);
        expectDelayed(inR, r, latency, 1e-12);
    }

    DeEsser mono;
    configure(mono, 2000.0, 0.0);
    const auto in = noise(0.5, 2000, 3);
    auto s = in;
    processMono(mono, s);
    expectDelayed(in, s, 12, 1e-12);
}

TEST(DeEsser, TapCountFollowsTheSplitFrequency) {
    DeEsser d;
    EXPECT_EQ(d.splitFrequency(), 8000.0);
    EXPECT_EQ(d.taps(), 7); // 8 kHz at 44.1 kHz

    configure(d, 12000.0, 0.0);
    const auto in = noise(0.5, 500, 4);
    auto s = in;
    processMono(d, s);
    EXPECT_EQ(d.taps(), 5);
    EXPECT_EQ(d.stageLatency(), 2);
    expectDelayed(in, s, 2, 1e-12);
}

TEST(DeEsser, SplitPairIsLinearPhaseComplementaryAndSplitsAtTheFrequency) {
    for (float fs : {22050.0f, 44100.0f, 48000.0f, 96000.0f, 192000.0f}) {
        for (double hz : {2000.0, 3000.0, 5000.0, 8000.0, 10000.0}) {
            if (hz > 0.45 * fs)
                continue;
            SplitFilter f;
            ASSERT_TRUE(designSplitFilter(hz, fs, f));
            ASSERT_EQ(f.taps % 2, 1);
            const int32_t c = (f.taps - 1) / 2;
            double sumLow = 0.0, sumHigh = 0.0;
            for (int32_t i = 0; i < f.taps; ++i) {
                sumLow += f.low[i];
                sumHigh += f.high[i];
                EXPECT_EQ(f.low[i], f.low[f.taps - 1 - i]);
                EXPECT_NEAR(f.low[i] + f.high[i], i == c ? 1.0 : 0.0, 1e-15);
            }
            for (int32_t i = f.taps; i < SplitFilter::kCapacity; ++i)
                EXPECT_EQ(f.low[i], 0.0);
            EXPECT_NEAR(sumLow, 1.0, 1e-6) << fs << " " << hz;
            EXPECT_NEAR(sumHigh, 0.0, 1e-6);

            // A gentle crossover: the low band passes a quarter of the split frequency, is about
            // -3 dB at the split and well down an octave above it.
            EXPECT_GT(firLevelDb(f.low, f.taps, hz / 4, fs), -0.3);
            const double atSplit = firLevelDb(f.low, f.taps, hz, fs);
            EXPECT_GT(atSplit, -5.0) << fs << " " << hz;
            EXPECT_LT(atSplit, -2.5) << fs << " " << hz;
            if (2.0 * hz < 0.45 * fs) {
                EXPECT_LT(firLevelDb(f.low, f.taps, 2.0 * hz, fs), -10.0);
            }
            EXPECT_LT(firLevelDb(f.high, f.taps, hz / 2, fs), -15.0);
        }
    }
}

TEST(DeEsser, ResponseInHertzIsTheSameAt44And48And96kHz) {
    for (double hz : {2000.0, 3000.0, 6000.0}) {
        SplitFilter ref;
        designSplitFilter(hz, 44100.0f, ref);
        for (float fs : {48000.0f, 96000.0f}) {
            SplitFilter f;
            designSplitFilter(hz, fs, f);
            EXPECT_NEAR(firLevelDb(f.low, f.taps, hz / 2, fs), firLevelDb(ref.low, ref.taps, hz / 2, 44100.0),
                        0.3);
            EXPECT_NEAR(firLevelDb(f.low, f.taps, hz, fs), firLevelDb(ref.low, ref.taps, hz, 44100.0), 0.6);
            EXPECT_NEAR(firLevelDb(f.low, f.taps, 1.5 * hz, fs),
                        firLevelDb(ref.low, ref.taps, 1.5 * hz, 44100.0), 1.5);
        }
    }
}

TEST(DeEsser, LatencyNeverExceedsTheEnginePad) {
    for (int32_t rate = 8000; rate <= 192000; rate += 50) {
        const auto fs = static_cast<float>(rate);
        const int32_t pad = padFrames(fs);
        const int32_t maxTaps = maxSplitFilterTaps(fs);
        ASSERT_LE((maxTaps - 1) / 2, pad) << rate;
        ASSERT_LE(maxTaps, SplitFilter::kCapacity);
        for (double hz = 2000.0; hz <= 12000.0; hz += 500.0) {
            SplitFilter f;
            if (!designSplitFilter(hz, fs, f))
                continue; // above the Nyquist frequency at low rates
            const int32_t half = (f.taps - 1) / 2;
            ASSERT_LE(half, pad) << rate << " " << hz;
            // Every split in the parameter's range gets its full-length filter: half a period
            // of the split, rounded up.
            const double r = rate / (2.0 * hz);
            ASSERT_GE(half, r - 1e-3) << rate << " " << hz;
            ASSERT_LE(half, r + 1.0 + 1e-3) << rate << " " << hz;
        }
        // Splits below the parameter's range are shortened to the limit, never beyond it.
        for (double hz : {100.0, 500.0, 1000.0}) {
            SplitFilter f;
            ASSERT_TRUE(designSplitFilter(hz, fs, f));
            ASSERT_LE(f.taps, maxTaps);
            ASSERT_LE((f.taps - 1) / 2, pad);
            // The window is shortened with the filter: the pair still tapers to near zero.
            ASSERT_LT(std::fabs(f.low[0]), 0.01 * f.low[(f.taps - 1) / 2]) << rate << " " << hz;
        }
    }
    // At 384 kHz even 2 kHz needs more than the capacity: the shortened pair still sums to 1.
    SplitFilter f;
    ASSERT_TRUE(designSplitFilter(2000.0, 384000.0f, f));
    EXPECT_EQ(f.taps, 99);
    double sum = 0.0;
    for (int32_t i = 0; i < f.taps; ++i)
        sum += f.low[i];
    EXPECT_NEAR(sum, 1.0, 1e-6);
    EXPECT_LT(firLevelDb(f.low, f.taps, 8000.0, 384000.0), -6.0);
}

TEST(DeEsser, SibilantToneIsRemovedWithinTensOfMilliseconds) {
    DeEsser d;
    configure(d, 3000.0, 1.0);
    auto l = sine(0.5, 10000.0, 44100.0, 4410); // 100 ms
    auto r = l;
    std::vector<double> first40(l.begin(), l.begin() + 1764), firstR = first40;
    processStereo(d, first40, firstR);
    EXPECT_LT(d.gain(), 0.01); // after 40 ms

    // What remains is the tone's small leak into the low band (about -37 dB at 10 kHz).
    DeEsser whole;
    configure(whole, 3000.0, 1.0);
    processStereo(whole, l, r);
    EXPECT_LT(peak(l, 2646), 0.5 * test::dbToGain(-30.0)); // 60..100 ms
    EXPECT_LT(peak(r, 2646), 0.5 * test::dbToGain(-30.0));
}

TEST(DeEsser, ToneBelowTheSplitPassesUntouched) {
    DeEsser d;
    configure(d, 3000.0, 1.0);
    const auto in = sine(0.5, 500.0, 44100.0, 8820);
    auto l = in, r = in;
    processStereo(d, l, r);
    // Only the tone's onset has a trace of high band (the gain dips by about 5 %); once the
    // gain is back the output is the delayed input.
    EXPECT_GT(d.gain(), 0.9999);
    const auto latency = static_cast<size_t>(d.stageLatency());
    for (size_t n = 4410; n < l.size(); ++n)
        ASSERT_NEAR(l[n], in[n - latency], 1e-9) << n;
}

TEST(DeEsser, ReductionIsTheSquaredBandRatioScaledByDepth) {
    // Low band 0.5 at 500 Hz, high band a at 10 kHz: the envelopes settle near the peaks, so
    // r = (0.4 * 0.5 / a)^2 and the gain settles at 1 - (1 - r) * depth.
    struct Case {
        double high;
        double depth;
    };
    for (const Case c : {Case{0.4, 1.0}, Case{0.4, 0.5}, Case{0.3, 1.0}, Case{0.15, 1.0}}) {
        DeEsser d;
        configure(d, 3000.0, c.depth);
        auto s = mix(sine(0.5, 500.0, 44100.0, 22050), sine(c.high, 10000.0, 44100.0, 22050));
        processMono(d, s);
        const double q = 0.4 * 0.5 / c.high;
        const double expected = 1.0 - (1.0 - std::min(1.0, q * q)) * c.depth;
        EXPECT_NEAR(d.gain(), expected, 0.05 * expected) << c.high << " " << c.depth;
    }
}

TEST(DeEsser, ReductionHoldsForTenMsThenFollowsThe100msFall) {
    // A low tone throughout, a sibilant tone of equal level for the first 150 ms.
    DeEsser d;
    configure(d, 3000.0, 1.0);
    const auto low = sine(0.5, 500.0, 44100.0, 13230);
    const auto high = sine(0.5, 10000.0, 44100.0, 6615);
    std::vector<double> g(low.size());
    for (size_t i = 0; i < low.size(); ++i) {
        double x = low[i] + (i < high.size() ? high[i] : 0.0);
        d.process(&x, nullptr, i, 1, true);
        g[i] = d.gain();
    }
    const auto at = [&g](double ms) { return g[static_cast<size_t>(ms * 44.1) - 1]; };
    EXPECT_NEAR(at(150.0), 0.16, 0.02);      // (0.4 * 0.5 / 0.5)^2
    EXPECT_NEAR(at(155.0), at(150.0), 0.01); // held
    // 20 ms after the end: 10 ms of hold, then 10 ms of the 100 ms fall of the high envelope.
    const double envelope = 0.5 * std::pow(0.1, 10.0 / 100.0);
    EXPECT_NEAR(at(170.0), std::pow(0.4 * 0.5 / envelope, 2.0), 0.05);
    EXPECT_GT(at(220.0), 0.99);
}

TEST(DeEsser, DetectionIsLinkedOnTheSumOfBothChannels) {
    // The sibilance is on the right only; the left carries the low band. Both are measured
    // together, and the one gain turns down the right channel's high band.
    DeEsser d;
    configure(d, 3000.0, 1.0);
    auto l = sine(0.5, 500.0, 44100.0, 8820);
    auto r = sine(0.5, 10000.0, 44100.0, 8820);
    processStereo(d, l, r);
    EXPECT_NEAR(d.gain(), 0.16, 0.02);
    EXPECT_LT(peak(r, 4410), 0.5 * 0.2);
    EXPECT_GT(peak(l, 4410), 0.49);
}

TEST(DeEsser, ListenOutputIsWhatTheNormalOutputLacks) {
    // Depth 0 takes nothing away: silence.
    DeEsser d;
    configure(d, 3000.0, 0.0);
    d.setListen(true);
    auto l = noise(0.8, 4410, 5), r = noise(0.8, 4410, 6);
    processStereo(d, l, r);
    EXPECT_EQ(peak(l), 0.0);
    EXPECT_EQ(peak(r), 0.0);
    EXPECT_EQ(d.gain(), 1.0);

    const auto sibilant = mix(sine(0.3, 400.0, 44100.0, 8820), noise(0.3, 8820, 7));
    DeEsser normal, listening;
    configure(normal, 4000.0, 0.8);
    configure(listening, 4000.0, 0.8);
    listening.setListen(true);
    auto a = sibilant, b = sibilant;
    processMono(normal, a);
    processMono(listening, b);
    EXPECT_LT(normal.gain(), 0.9); // the noise is loud enough to be reduced
    EXPECT_GT(peak(b, 4410), 0.01);
    expectDelayed(sibilant, mix(a, b), normal.stageLatency(), 1e-12);
}

// A split above the Nyquist frequency of a low rate keeps its setting but is designed at 0.9 of
// the Nyquist frequency: the stage goes on passing the signal (delayed by that design's latency).
TEST(DeEsser, SplitAboveNyquistIsDesignedJustBelowIt) {
    SplitFilter below;
    ASSERT_TRUE(designSplitFilter(0.9 * 11025.0, 22050.0f, below));
    for (double hz : {12000.0, HUGE_VAL}) {
        DeEsser d;
        configure(d, hz, 0.0, 22050.0f);
        EXPECT_EQ(d.splitFrequency(), hz);
        const size_t latency = static_cast<size_t>(below.taps - 1) / 2;
        EXPECT_EQ(d.stageLatency(), static_cast<int32_t>(latency)) << hz;
        const auto in = noise(0.5, 1000, 8);
        auto l = in, r = in;
        processStereo(d, l, r);
        for (size_t n = latency; n < l.size(); ++n)
            ASSERT_NEAR(l[n], in[n - latency], 1e-12) << hz << " Hz, frame " << n;
    }
}

TEST(DeEsser, ResetMatchesAFreshStage) {
    DeEsser used;
    configure(used, 4000.0, 1.0);
    auto burst = noise(0.9, 5000, 13), burstR = noise(0.9, 5000, 14);
    processStereo(used, burst, burstR);
    ASSERT_LT(used.gain(), 0.5);
    used.reset();
    EXPECT_EQ(used.gain(), 1.0);

    DeEsser fresh;
    configure(fresh, 4000.0, 1.0);
    auto a = noise(0.4, 3000, 15), aR = noise(0.4, 3000, 16);
    auto b = a, bR = aR;
    processStereo(used, a, aR);
    processStereo(fresh, b, bR);
    EXPECT_EQ(a, b);
    EXPECT_EQ(aR, bR);
}

TEST(DeEsser, BadSettingsAreIgnoredOrClamped) {
    DeEsser d;
    configure(d, 4000.0, 0.5);
    d.setSplitFrequency(std::nan(""));
    d.setDepth(std::nan(""));
    EXPECT_EQ(d.splitFrequency(), 4000.0);
    EXPECT_EQ(d.depth(), 0.5);
    d.setDepth(3.0);
    EXPECT_EQ(d.depth(), 1.0);

    // A non-positive split fails the design: silence, never NaN.
    for (double hz : {-100.0, 0.0}) {
        d.setSplitFrequency(hz);
        auto l = noise(0.5, 500, 19), r = noise(0.5, 500, 20);
        processStereo(d, l, r);
        EXPECT_EQ(peak(l), 0.0) << hz;
        EXPECT_EQ(peak(r), 0.0) << hz;
    }
    SplitFilter f;
    EXPECT_FALSE(designSplitFilter(3000.0, std::nanf(""), f));
    EXPECT_FALSE(designSplitFilter(3000.0, 0.0f, f));

    // So does a meaningless sample rate.
    for (float fs : {0.0f, -44100.0f, std::nanf("")}) {
        DeEsser bad;
        configure(bad, 3000.0, 1.0, fs);
        auto l = noise(0.5, 500, 21), r = noise(0.5, 500, 22);
        processStereo(bad, l, r);
        EXPECT_EQ(peak(l), 0.0) << fs;
        EXPECT_TRUE(std::isfinite(bad.gain()));
    }
}

TEST(DeEsser, StageLatencyIsZeroOnlyWhenOffAndFadedOut) {
    DeEsser d;
    configure(d, 2000.0, 0.5);
    auto s = noise(0.1, 10, 21);
    processMono(d, s);
    EXPECT_EQ(d.stageLatency(), 12);
    d.enabled = false;
    d.fade = 0.3;
    EXPECT_EQ(d.stageLatency(), 12);
    d.fade = 0.0;
    EXPECT_EQ(d.stageLatency(), 0);
}

TEST(DeEsser, CurvesAreLowAndHighPassCrossingAtTheSplit) {
    for (float fs : {44100.0f, 96000.0f}) {
        for (double hz : {2000.0, 4500.0, 9000.0}) {
            DeEsser d;
            configure(d, hz, 0.5, fs);
            double low[2 * DeEsser::kCurvePoints], high[2 * DeEsser::kCurvePoints];
            ASSERT_TRUE(d.curve(DeEsserCurve::LowBand, low));
            ASSERT_TRUE(d.curve(DeEsserCurve::HighBand, high));
            EXPECT_NEAR(low[0], 500.0, 1e-9);
            EXPECT_NEAR(low[2 * DeEsser::kCurvePoints - 2], 20000.0, 1e-6);
            EXPECT_NEAR(low[2] / low[0], std::pow(40.0, 1.0 / 49.0), 1e-12);

            // Low band above high band below the split, the other way above it; the crossing
            // lies within one point spacing (a factor of 1.078) of the split frequency.
            double crossing = 0.0;
            for (int32_t k = 1; k < DeEsser::kCurvePoints; ++k) {
                const bool before = low[2 * k - 1] > high[2 * k - 1];
                const bool after = low[2 * k + 1] > high[2 * k + 1];
                if (before && !after)
                    crossing = std::sqrt(low[2 * k - 2] * low[2 * k]);
            }
            EXPECT_NEAR(std::log(crossing / hz), 0.0, std::log(1.078)) << fs << " " << hz;
            EXPECT_GT(low[1], -1.0);
            EXPECT_LT(high[1], -12.0);
        }
    }

    DeEsser d;
    double points[2 * DeEsser::kCurvePoints];
    EXPECT_FALSE(d.curve(DeEsserCurve::LowBand, nullptr));
    EXPECT_FALSE(d.curve(static_cast<DeEsserCurve>(2), points));
}
