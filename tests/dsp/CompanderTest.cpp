#include "dsp/Compander.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace pellucer {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRates[] = {44100.0, 48000.0, 96000.0};

double db(double linear) { return 20.0 * std::log10(linear); }
double fromDb(double dB) { return std::pow(10.0, dB / 20.0); }
// Per-sample factor leaving 10 % after `seconds`.
double factor(double seconds, double fs) { return std::pow(0.1, 1.0 / (seconds * fs)); }

struct Settings {
    double fs = 44100.0;
    double thresholdDb = 0.0, ratio = 1.0;
    double expanderDb = -90.0, expanderRatio = 1.0;
    double attackMs = 0.0;
};

void apply(Compander& c, const Settings& s) {
    c.setSampleRate(float(s.fs));
    c.setCompressorThreshold(s.thresholdDb);
    c.setCompressorRatio(s.ratio);
    c.setExpanderThreshold(s.expanderDb);
    c.setExpanderRatio(s.expanderRatio);
    c.setAttack(s.attackMs);
}

const Settings kBusy{48000.0, -35.0, 6.0, -55.0, 4.0, 7.0};

struct Stereo {
    std::vector<double> left, right;
    explicit Stereo(size_t frames, double l = 0.0, double r = 0.0) : left(frames, l), right(frames, r) {}
    size_t size() const { return left.size(); }
};

// Deterministic noise whose level swings between -60 and 0 dBFS, different in each channel.
Stereo program(size_t frames, double fs, uint32_t seed = 12345u) {
    Stereo s(frames);
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return double(seed >> 8) / double(1u << 24) * 2.0 - 1.0;
    };
    for (size_t i = 0; i < frames; ++i) {
        const double level = fromDb(-30.0 + 30.0 * std::sin(2.0 * kPi * 0.7 * double(i) / fs));
        s.left[i] = level * next();
        s.right[i] = level * next();
    }
    return s;
}

void run(Compander& c, Stereo& s, int32_t block = 512, bool mono = false) {
    for (size_t start = 0; start < s.size(); start += size_t(block)) {
        const int32_t n = int32_t(std::min<size_t>(size_t(block), s.size() - start));
        c.process(s.left.data() + start, s.right.data() + start, start, n, mono);
    }
}

// DC input (nonzero everywhere) through the stage; returns out / (in * M) = gcs * ges per sample.
std::vector<double> gainTrace(Compander& c, Stereo s) {
    const Stereo in = s;
    run(c, s);
    std::vector<double> g(s.size());
    for (size_t i = 0; i < s.size(); ++i)
        g[i] = s.left[i] / (in.left[i] * c.makeUpGain());
    return g;
}

// DC at `firstDb` for `firstSeconds`, then at `thenDb` for `thenSeconds`.
Stereo steps(double fs, double firstDb, double firstSeconds, double thenDb, double thenSeconds) {
    const size_t first = size_t(firstSeconds * fs);
    Stereo s(first + size_t(thenSeconds * fs), fromDb(thenDb), fromDb(thenDb));
    std::fill(s.left.begin(), s.left.begin() + std::ptrdiff_t(first), fromDb(firstDb));
    std::fill(s.right.begin(), s.right.begin() + std::ptrdiff_t(first), fromDb(firstDb));
    return s;
}

// ---------------------------------------------------------------------------------------------
// Static behaviour

TEST(Compander, MakeUpKeepsFullScaleNearMinus6dB) {
    for (const double fs : kRates) {
        Compander c;
        apply(c, {.fs = fs, .thresholdDb = -20.0, .ratio = 4.0, .attackMs = 0.1});
        // 15 dB of reduction at 0 dBFS, made up by 0.5 / 10^(-15/20), about +9 dB.
        EXPECT_NEAR(c.makeUpGain(), 0.5 / fromDb(-15.0), 1e-12);
        Stereo s(size_t(2.0 * fs));
        for (size_t i = 0; i < s.size(); ++i)
            s.left[i] = s.right[i] = std::sin(2.0 * kPi * 1000.0 * double(i) / fs);
        run(c, s);
        double peak = 0.0;
        for (size_t i = size_t(1.5 * fs); i < s.size(); ++i)
            peak = std::max({peak, std::fabs(s.left[i]), std::fabs(s.right[i])});
        EXPECT_NEAR(db(peak), -6.02, 0.05) << fs;
        EXPECT_NEAR(db(c.compressorGain()), -15.0, 0.05) << fs;
    }
}

TEST(Compander, NeutralSettingsAreTheIdentity) {
    const Stereo in = program(44100, 44100.0);
    Compander fresh; // a neutral curve until settings arrive
    Stereo out = in;
    run(fresh, out);
    EXPECT_EQ(out.left, in.left);
    for (const double thresholdDb : {-60.0, -30.0, 0.0}) {
        Compander c;
        apply(c, {.thresholdDb = thresholdDb, .ratio = 1.0, .expanderDb = -50.0, .attackMs = 5.0});
        EXPECT_EQ(c.makeUpGain(), 1.0);
        out = in;
        run(c, out, 333);
        EXPECT_EQ(out.left, in.left);
        EXPECT_EQ(out.right, in.right);
        std::vector<double> p(2 * 50);
        ASSERT_TRUE(c.transferCurve(p.data(), 50));
        for (int k = 0; k < 50; ++k)
            EXPECT_NEAR(p[2 * k + 1], p[2 * k], 1e-9);
    }
}

TEST(Compander, ExpanderAttenuatesByItsSlopeBelowTheKnee) {
    const double fs = 48000.0, ratio = 3.0;
    // Steady DC makes the detector exact; 5 s lets the 400 ms release settle.
    auto steadyGainDb = [&](double inputDb) {
        Compander c;
        apply(c, {.fs = fs, .expanderDb = -40.0, .expanderRatio = ratio});
        Stereo s(size_t(5.0 * fs), fromDb(inputDb), fromDb(inputDb));
        run(c, s);
        return db(s.left.back()) - inputDb;
    };
    const double g60 = steadyGainDb(-60.0), g50 = steadyGainDb(-50.0);
    // Below the knee (-43 dB) the output moves Re dB per input dB.
    EXPECT_NEAR(((-60.0 + g60) - (-50.0 + g50)) / (-60.0 - -50.0), ratio, 1e-4);
    EXPECT_NEAR(g60, (ratio - 1.0) * (-60.0 - -40.0), 1e-3);
    EXPECT_NEAR(steadyGainDb(-44.0), (ratio - 1.0) * (-44.0 - -40.0), 1e-3);
    EXPECT_NEAR(steadyGainDb(-36.0), 0.0, 1e-9); // above the knee
}

TEST(Compander, GateNeverGoesBelowMinus120dB) {
    Compander c;
    apply(c, {.thresholdDb = -10.0, .ratio = 200.0, .expanderDb = -30.0, .expanderRatio = 1000.0});
    Stereo s(size_t(4.0 * 44100.0), fromDb(-33.5), fromDb(-33.5)); // just below the knee
    const double in = s.left[0];
    run(c, s);
    EXPECT_NEAR(s.left.back() / in, Compander::kMinGain, 1e-18);
    EXPECT_NEAR(s.right.back() / in, Compander::kMinGain, 1e-18);
}

TEST(Compander, TransferCurveFollowsBothSlopesAndTheKnees) {
    Compander c;
    apply(c, {.thresholdDb = -30.0, .ratio = 4.0, .expanderDb = -60.0, .expanderRatio = 2.0});
    const double m = db(c.makeUpGain());
    EXPECT_NEAR(m, db(0.5) + 30.0 * 0.75, 1e-9);
    std::vector<double> p(2 * 50);
    ASSERT_TRUE(c.transferCurve(p.data(), 50));
    for (int k = 0; k < 50; ++k) {
        const double x = p[2 * k], y = p[2 * k + 1];
        EXPECT_NEAR(x, -90.0 + k * 90.0 / 49.0, 1e-12);
        if (x >= -27.0) {
            EXPECT_NEAR(y, -30.0 + (x + 30.0) / 4.0 + m, 1e-9) << x;
        } else if (x <= -63.0) {
            EXPECT_NEAR(y, -60.0 + (x + 60.0) * 2.0 + m, 1e-9) << x;
        } else if (x > -57.0 && x < -33.0) {
            EXPECT_NEAR(y, x + m, 1e-9) << x;
        }
    }
    // A quadratic knee 6 dB wide sits slope * 6/8 dB off the straight lines at its threshold.
    std::vector<double> fine(2 * 91);
    ASSERT_TRUE(c.transferCurve(fine.data(), 91)); // 1 dB steps
    EXPECT_NEAR(fine[2 * 60 + 1] - m, -30.0 - 0.75 * 0.75, 1e-9);
    EXPECT_NEAR(fine[2 * 30 + 1] - m, -60.0 - 1.0 * 0.75, 1e-9);

    // Where the expander's knee would reach above the compressor's lower edge, the compressor wins.
    Compander o;
    apply(o, {.thresholdDb = -40.0, .ratio = 3.0, .expanderDb = -41.0, .expanderRatio = 4.0});
    ASSERT_TRUE(o.transferCurve(fine.data(), 91));
    const double mo = db(o.makeUpGain());
    EXPECT_NEAR(fine[2 * 47 + 1], -43.0 + mo, 1e-9); // the compressor's lower edge: no gain change
    // One dB lower the expander's knee applies: (Re - 1) * scale * (upper edge - x)^2 in ln units.
    const double c1 = 0.115129254649702, d = 6.0 * c1;
    EXPECT_NEAR(fine[2 * 46 + 1], -44.0 + 3.0 * (-0.5 / (6.0 * c1)) * d * d / c1 + mo, 1e-9);
}

TEST(Compander, TransferCurveRejectsNullAndNegativeCount) {
    Compander c;
    EXPECT_FALSE(c.transferCurve(nullptr, 50));
    double p[4] = {7.0, 7.0, 7.0, 7.0};
    EXPECT_FALSE(c.transferCurve(p, -1));
    EXPECT_EQ(p[0], 7.0);
    EXPECT_TRUE(c.transferCurve(p, 1));
    EXPECT_EQ(p[0], -90.0);
    EXPECT_EQ(p[2], 7.0);
}

// ---------------------------------------------------------------------------------------------
// Detector

TEST(Compander, ClickHoldsTheDetectorFor441Samples) {
    Compander c;
    apply(c, {.thresholdDb = -20.0, .ratio = 4.0});
    Stereo s(1 + Compander::kHoldSamples);
    s.left[0] = 0.3;
    run(c, s);
    double levels[2];
    c.detectorLevels(levels);
    // Reported after rounding to single precision (0.3 is not exact there).
    EXPECT_DOUBLE_EQ(levels[0], db(double(float(0.3))));
    // Estimated output: the envelope through the curve and the make-up.
    const double out = 0.3 * std::exp(-0.75 * (std::log(0.3) - std::log(0.1))) * c.makeUpGain();
    EXPECT_NEAR(levels[1], db(double(float(out))), 1e-6);
    // One more silent sample ends the hold: the envelope falls by 0.001 of the distance.
    Stereo t(1);
    run(c, t);
    c.detectorLevels(levels);
    EXPECT_NEAR(levels[0], db(0.3 * (1.0 - Compander::kDetectorFall)), 1e-6);
}

TEST(Compander, DetectorIsStereoLinked) {
    const Settings settings{44100.0, -30.0, 5.0, -90.0, 1.0, 3.0};
    Stereo in(4410);
    for (size_t i = 0; i < in.size(); ++i) {
        in.left[i] = 0.9 * std::sin(0.05 * double(i));
        in.right[i] = 0.01 * std::sin(0.07 * double(i)) + 0.02;
    }
    // The loud left channel reduces the quiet right one by the same gain.
    Compander linked;
    apply(linked, settings);
    Stereo s = in;
    run(linked, s);
    for (size_t i = 0; i < s.size(); i += 7) {
        if (std::fabs(in.left[i]) > 1e-3) {
            EXPECT_NEAR(s.right[i] / in.right[i], s.left[i] / in.left[i], 1e-12) << i;
        }
    }
    EXPECT_LT(db(linked.compressorGain()), -15.0);
}

// ---------------------------------------------------------------------------------------------
// Time behaviour

TEST(Compander, AttackAtMinimumReducesInstantly) {
    Compander c;
    apply(c, {.thresholdDb = -20.0, .ratio = 4.0, .attackMs = 0.1});
    EXPECT_EQ(c.attackMs(), 0.0);
    Stereo s = steps(44100.0, -80.0, 0.01, 0.0, 0.001);
    run(c, s);
    EXPECT_NEAR(s.left[441], 0.5, 1e-9); // the first loud sample is already at -6 dBFS
    EXPECT_NEAR(c.overshoot(), 1.0, 1e-12);
}

TEST(Compander, ExpanderClosesWithTheReleaseAndOpensWithTheAttack) {
    const double fs = 48000.0;
    Compander c;
    apply(c, {.fs = fs, .expanderDb = -40.0, .expanderRatio = 2.0, .attackMs = 5.0});
    const size_t quiet = size_t(3.0 * fs);
    const std::vector<double> g = gainTrace(c, steps(fs, -60.0, 3.0, -30.0, 0.05));
    // At -60 dB the target is -20 dB. Nothing is compressed, so the release is the 400 ms one.
    const double target = fromDb(-20.0);
    EXPECT_NEAR(g[size_t(0.4 * fs) - 1] - target, 0.1 * (1.0 - target), 1e-6);
    // Above the knee it opens with the 5 ms attack: 90 % of the way after 240 samples.
    size_t n = quiet;
    while (n < g.size() && g[n] - target < 0.9 * (1.0 - target))
        ++n;
    EXPECT_NEAR(double(n - quiet + 1), 0.005 * fs, 1.0);
}

class CompanderAtRate : public ::testing::TestWithParam<double> {};

TEST_P(CompanderAtRate, AttackCovers90PercentInTheAttackTime) {
    const double fs = GetParam();
    Compander c;
    apply(c, {.fs = fs, .thresholdDb = -20.0, .ratio = 4.0, .attackMs = 10.0});
    const size_t onset = 100;
    const std::vector<double> g = gainTrace(c, steps(fs, -100.0, double(onset) / fs, 0.0, 0.05));
    const double target = fromDb(-15.0);
    size_t n = onset;
    while (n < g.size() && 1.0 - g[n] < 0.9 * (1.0 - target))
        ++n;
    // gcs(k) = target + (1 - target) * a^(k+1): a tenth is left after attack * fs samples.
    EXPECT_NEAR(double(n - onset + 1), 0.010 * fs, 1.0) << fs;
}

TEST_P(CompanderAtRate, OvershootIndicatorDecaysWith600ms) {
    const double fs = GetParam();
    Compander c;
    apply(c, {.fs = fs, .thresholdDb = -20.0, .ratio = 4.0, .attackMs = 1.0});
    Stereo s(size_t(0.2 * fs), 1.0, 1.0);
    run(c, s);
    // The 1 ms attack caught up long ago; the indicator fell from 4 by a tenth per 600 ms.
    EXPECT_NEAR(c.overshoot(), 4.0 * std::pow(0.1, 0.2 / 0.6), 0.01) << fs;
    Stereo t(size_t(0.4 * fs), 1.0, 1.0);
    run(c, t);
    EXPECT_NEAR(c.overshoot(), 1.0, 1e-12); // its floor (the gain may rest an ulp above target)
}

INSTANTIATE_TEST_SUITE_P(Rates, CompanderAtRate, ::testing::ValuesIn(kRates));

// Gain trace around a burst at -20 dBFS that a -40 dB, 200:1 compressor with an instant attack
// takes down by about 20 dB. Half a second of quiet comes first, so that the recent maximum of
// the gain starts at unity as it would in running program.
std::vector<double> burstTrace(double fs, double burstSeconds, size_t& burstEnd) {
    Compander c;
    apply(c, {.fs = fs, .thresholdDb = -40.0, .ratio = 200.0});
    Stereo s = steps(fs, -80.0, 0.5, -80.0, burstSeconds + 1.5);
    burstEnd = size_t(0.5 * fs) + size_t(burstSeconds * fs);
    std::fill(s.left.begin() + std::ptrdiff_t(0.5 * fs), s.left.begin() + std::ptrdiff_t(burstEnd), 0.1);
    std::fill(s.right.begin() + std::ptrdiff_t(0.5 * fs), s.right.begin() + std::ptrdiff_t(burstEnd), 0.1);
    return gainTrace(c, s);
}

TEST(Compander, ReleaseSpeedFollowsTheGainsDistanceBelowItsRecentMaximum) {
    // The detector's hold and fall are counted in samples: at 192 kHz they are over 16 ms after
    // the burst; from then on the gain's target is 1 and the observed gain shows the release
    // factor r = (1 - g[n+1]) / (1 - g[n]) directly.
    const double fs = 192000.0;
    const double f40 = factor(0.040, fs), f400 = factor(0.400, fs);
    for (const double burstSeconds : {0.02, 3.0}) {
        size_t end = 0;
        const std::vector<double> g = burstTrace(fs, burstSeconds, end);
        // The recent maximum P of the gain: falls toward it by the 400 ms law, never below it.
        std::vector<double> recentMax(g.size());
        double p = 0.0;
        for (size_t n = 0; n < g.size(); ++n)
            recentMax[n] = p = std::max(g[n] + (p - g[n]) * f400, g[n]);
        auto model = [&](size_t n) { return f400 + (recentMax[n] - g[n]) * (f40 - f400); };
        const size_t from = end + size_t(0.02 * fs), to = end + size_t(0.06 * fs);
        for (size_t n = from; n < to; ++n)
            ASSERT_NEAR((1.0 - g[n + 1]) / (1.0 - g[n]), model(n), 1e-9) << burstSeconds << " " << n;
        if (burstSeconds < 1.0)
            EXPECT_GT(1.0 - model(from), 2.0 * (1.0 - f400)); // over twice the 400 ms speed
        else
            EXPECT_NEAR(model(from), f400, 1e-12); // P has settled on the gain: the slow release
    }
}

// ---------------------------------------------------------------------------------------------
// Invariants and bad input

TEST(Compander, RestartByRateChangeMatchesAFreshInstance) {
    const Stereo in = program(48000, 48000.0);
    Compander fresh, used;
    apply(fresh, kBusy);
    apply(used, kBusy);
    used.setSampleRate(44100.0f);
    Stereo warmUp = program(30000, 44100.0, 999u);
    run(used, warmUp);
    used.setSampleRate(48000.0f);
    Stereo a = in, b = in;
    run(fresh, a);
    run(used, b);
    EXPECT_EQ(a.left, b.left);
    EXPECT_EQ(a.right, b.right);
}

TEST(Compander, LongSilenceAfterABurstStaysFiniteAndOutOfDenormals) {
    // On the detector's silent floor of 1e-30 this expander's unbounded gain would be exp(-720),
    // a denormal, which the smoothed gain would reach after some two minutes. A low rate keeps
    // the test short; the release is counted in seconds.
    const double fs = 8000.0;
    Compander c;
    apply(c, {.fs = fs,
              .thresholdDb = -30.0,
              .ratio = 200.0,
              .expanderDb = -20.0,
              .expanderRatio = 11.8,
              .attackMs = 50.0});
    Stereo burst(size_t(0.5 * fs));
    for (size_t i = 0; i < burst.size(); ++i)
        burst.left[i] = burst.right[i] = 4.0 * std::sin(0.2 * double(i));
    run(c, burst);
    for (int chunk = 0; chunk < 15; ++chunk) {
        Stereo silence{size_t(10.0 * fs)};
        run(c, silence, 4096);
        ASSERT_EQ(std::count(silence.left.begin(), silence.left.end(), 0.0), std::ptrdiff_t(silence.size()));
        for (const double g : {c.compressorGain(), c.expanderGain(), c.overshoot()})
            ASSERT_EQ(std::fpclassify(g), FP_NORMAL) << chunk << " " << g;
    }
    EXPECT_LT(c.expanderGain(), 1e-29);
    double levels[2];
    c.detectorLevels(levels);
    EXPECT_NEAR(levels[0], -600.0, 0.01); // the detector rests on its floor
    EXPECT_NEAR(levels[1], -600.0, 0.01);
    // A tiny signal now comes out at the -120 dB floor, as a normal number.
    Stereo tiny(16, 1e-7, -1e-7);
    run(c, tiny);
    EXPECT_EQ(tiny.left.back(), 1e-7 * Compander::kMinGain);
    EXPECT_EQ(std::fpclassify(tiny.right.back()), FP_NORMAL);
}

TEST(Compander, BrokenInputSamplesDoNotLeaveTheDetectorBroken) {
    const double fs = kBusy.fs;
    const Stereo in = program(size_t(3.0 * fs), fs);
    Compander clean, hit;
    apply(clean, kBusy);
    apply(hit, kBusy);
    Stereo a = in, b = in;
    b.left[100] = std::numeric_limits<double>::infinity();
    b.right[200] = std::numeric_limits<double>::quiet_NaN();
    run(clean, a);
    run(hit, b);
    // They read as a very loud peak; the reduction they cause has released after 3 s.
    for (size_t i = size_t(2.9 * fs); i < b.size(); ++i)
        ASSERT_NEAR(b.left[i], a.left[i], 1e-3 * std::fabs(a.left[i]) + 1e-12) << i;
    double levels[2];
    hit.detectorLevels(levels);
    EXPECT_GT(levels[0], -80.0);
}

TEST(Compander, BadSettingsAreIgnoredOrClamped) {
    Compander c;
    apply(c, kBusy);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    apply(c, {kBusy.fs, nan, nan, nan, nan, nan});
    c.setAttack(inf);
    EXPECT_NEAR(c.compressorThresholdDb(), -35.0, 1e-9);
    EXPECT_EQ(c.compressorRatio(), 6.0);
    EXPECT_NEAR(c.expanderThresholdDb(), -55.0, 1e-9);
    EXPECT_NEAR(c.expanderRatio(), 4.0, 1e-12);
    EXPECT_EQ(c.attackMs(), 7.0);

    c.setCompressorRatio(0.0);
    c.setExpanderRatio(-3.0);
    c.setAttack(-5.0);
    EXPECT_EQ(c.compressorRatio(), 1.0);
    EXPECT_EQ(c.expanderRatio(), 1.0);
    EXPECT_EQ(c.attackMs(), 0.0);

    for (const double extreme : {-inf, inf, -1e300, 1e300}) {
        apply(c, {kBusy.fs, extreme, extreme, extreme, -extreme, 5.0});
        Stereo s = program(4096, kBusy.fs);
        run(c, s);
        for (size_t i = 0; i < s.size(); ++i)
            ASSERT_TRUE(std::isfinite(s.left[i]) && std::isfinite(s.right[i])) << extreme << " " << i;
        std::vector<double> p(2 * 50);
        ASSERT_TRUE(c.transferCurve(p.data(), 50));
        for (const double v : p)
            ASSERT_FALSE(std::isnan(v)) << extreme;
        double levels[2];
        c.detectorLevels(levels);
        EXPECT_FALSE(std::isnan(levels[0]) || std::isnan(levels[1]));
    }
}

} // namespace
} // namespace pellucer
