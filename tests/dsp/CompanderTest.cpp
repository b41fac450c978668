#include "dsp/Compander.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/TestSupport.h"

namespace pellucer {
namespace {

using test::dbToGain;
double db(double linear) { return 20.0 * std::log10(linear); }

struct Settings {
    double fs = 44100.0, thresholdDb = 0.0, ratio = 1.0, expanderDb = -90.0, expanderRatio = 1.0,
           attackMs = 0.0;
};

void apply(Compander& c, const Settings& s) {
    c.setSampleRate(float(s.fs));
    c.setCompressorThreshold(s.thresholdDb);
    c.setCompressorRatio(s.ratio);
    c.setExpanderThreshold(s.expanderDb);
    c.setExpanderRatio(s.expanderRatio);
    c.setAttack(s.attackMs);
}

// The gain applied per sample, make-up left out, to steady levels (dBFS, seconds) in a row.
std::vector<double> gainTrace(Compander& c, std::initializer_list<std::pair<double, double>> steps) {
    std::vector<double> in;
    for (const auto& [levelDb, seconds] : steps)
        in.resize(in.size() + static_cast<size_t>(seconds * c.sampleRate()), dbToGain(levelDb));
    auto l = in, r = in;
    test::processStereo(c, l, r, 0, {512});
    for (size_t i = 0; i < l.size(); ++i)
        l[i] /= in[i] * c.makeUpGain();
    return l;
}

// Frames from `from` until the gain has covered 90 % (or `part`) of its way from `start` to `target`.
double framesTo90Percent(const std::vector<double>& g, size_t from, double start, double target, double part = 0.9) {
    size_t n = from;
    while (n < g.size() && std::fabs(g[n] - start) < part * std::fabs(target - start))
        ++n;
    return static_cast<double>(n - from + 1);
}

} // namespace

// Textbook laws: 1/R dB out per dB in above the compressor's knee, Re below the expander's, 1 in
// between; 6 dB quadratic knees, slope * 6/8 dB off the lines at the threshold; where the knees
// would overlap the compressor wins. Make-up puts 0 dBFS at -6 but never below unity.
TEST(Compander, TransferCurveFollowsTheRatioLawsAndTheKnees) {
    Compander c;
    apply(c, {.thresholdDb = -30.0, .ratio = 4.0, .expanderDb = -60.0, .expanderRatio = 2.0});
    const double m = db(c.makeUpGain());
    EXPECT_NEAR(m, db(0.5) + 30.0 * 0.75, 1e-9);
    std::vector<double> p(2 * 91);
    ASSERT_TRUE(c.transferCurve(p.data(), 91)); // 1 dB steps from -90 dB
    for (int k = 0; k < 91; ++k) {
        const double x = p[2 * k], y = p[2 * k + 1] - m;
        EXPECT_NEAR(x, -90.0 + k, 1e-12);
        const double line = x >= -27.0 ? -30.0 + (x + 30.0) / 4.0 : x <= -63.0 ? -60.0 + (x + 60.0) * 2.0 : x;
        if (std::fabs(x + 30.0) <= 3.0 || std::fabs(x + 60.0) <= 3.0)
            continue; // in a knee: checked at the thresholds below
        EXPECT_NEAR(y, line, 1e-9) << x;
    }
    EXPECT_NEAR(p[2 * 60 + 1] - m, -30.0 - 0.75 * 0.75, 1e-9);
    EXPECT_NEAR(p[2 * 30 + 1] - m, -60.0 - 1.0 * 0.75, 1e-9);
    apply(c, {.thresholdDb = -40.0, .ratio = 3.0, .expanderDb = -41.0, .expanderRatio = 4.0});
    ASSERT_TRUE(c.transferCurve(p.data(), 91));
    EXPECT_NEAR(p[2 * 47 + 1], -43.0 + db(c.makeUpGain()), 1e-9); // the compressor's lower edge

    apply(c, {.thresholdDb = -60.0, .expanderDb = -50.0, .attackMs = 5.0});
    EXPECT_EQ(c.makeUpGain(), 1.0);
    const auto in = test::noise(0.9, 20000, 3);
    auto l = in, r = in;
    test::processStereo(c, l, r, 0, {333});
    EXPECT_EQ(l, in);
}

// Full scale comes out at -6 dBFS; the expander takes (Re - 1) dB per dB below its threshold,
// down to -120 dB at most; a loud right channel turns a quiet left one down as much.
TEST(Compander, SteadyLevelsComeOutWhereTheCurvePutsThem) {
    for (const double fs : {44100.0, 96000.0}) {
        Compander c;
        apply(c, {.fs = fs, .thresholdDb = -20.0, .ratio = 4.0, .attackMs = 0.1});
        auto s = test::sine(1.0, 1000.0, fs, static_cast<size_t>(2.0 * fs)), r = s;
        test::processStereo(c, s, r);
        EXPECT_NEAR(db(test::peak(s, static_cast<size_t>(1.5 * fs))), -6.02, 0.05) << fs;
        EXPECT_NEAR(db(c.compressorGain()), -15.0, 0.05) << fs;
    }
    for (const auto& [inputDb, gainDb] :
         {std::pair{-60.0, -40.0}, {-50.0, -20.0}, {-44.0, -8.0}, {-36.0, 0.0}}) {
        Compander c;
        apply(c, {.fs = 48000.0, .expanderDb = -40.0, .expanderRatio = 3.0});
        EXPECT_NEAR(db(gainTrace(c, {{inputDb, 5.0}}).back()), gainDb, 1e-3) << inputDb;
    }
    Compander c;
    apply(c, {.thresholdDb = -10.0, .ratio = 200.0, .expanderDb = -30.0, .expanderRatio = 1000.0});
    EXPECT_NEAR(gainTrace(c, {{-33.5, 4.0}}).back() * c.makeUpGain(), Compander::kMinGain, 1e-18);

    apply(c, {.thresholdDb = -30.0, .ratio = 5.0, .attackMs = 3.0});
    std::vector<double> l(4410), r(4410);
    for (size_t i = 0; i < l.size(); ++i) {
        l[i] = 0.01 * std::sin(0.07 * double(i)) + 0.02;
        r[i] = 0.9 * std::sin(0.05 * double(i));
    }
    const auto inL = l, inR = r;
    test::processStereo(c, l, r);
    for (size_t i = 0; i < l.size(); i += 7)
        EXPECT_NEAR(l[i] * inR[i], r[i] * inL[i], 1e-12) << i; // one gain for both
    EXPECT_LT(db(c.compressorGain()), -15.0);
}

// 90 % of the way in the attack time, at once at its minimum; the overshoot reading falls by a
// tenth per 600 ms to 1; the expander closes with the 400 ms release and opens with the attack.
// The compressor lets go of a long reduction at the 400 ms speed (after the detector's own fall)
// and of a short, sudden one at least twice as fast.
TEST(Compander, AttackAndReleaseCover90PercentInTheirTimes) {
    for (const double fs : {44100.0, 48000.0, 96000.0}) {
        Compander c;
        apply(c, {.fs = fs, .thresholdDb = -20.0, .ratio = 4.0, .attackMs = 10.0});
        const auto g = gainTrace(c, {{-100.0, 100.0 / fs}, {0.0, 0.05}});
        EXPECT_NEAR(framesTo90Percent(g, 100, 1.0, dbToGain(-15.0)), 0.010 * fs, 1.0) << fs;
        apply(c, {.fs = fs, .thresholdDb = -20.0, .ratio = 4.0, .attackMs = 1.0});
        gainTrace(c, {{0.0, 0.2}});
        EXPECT_NEAR(c.overshoot(), 4.0 * std::pow(0.1, 0.2 / 0.6), 0.01) << fs;
        gainTrace(c, {{0.0, 0.4}});
        EXPECT_NEAR(c.overshoot(), 1.0, 1e-12);
    }
    Compander c;
    apply(c, {.thresholdDb = -20.0, .ratio = 4.0, .attackMs = 0.1});
    EXPECT_EQ(c.attackMs(), 0.0);
    EXPECT_NEAR(gainTrace(c, {{-80.0, 0.01}, {0.0, 0.001}})[441], dbToGain(-15.0), 1e-9);

    const double fs = 48000.0, closed = dbToGain(-20.0); // the expander's gain at -60 dB
    apply(c, {.fs = fs, .expanderDb = -40.0, .expanderRatio = 2.0, .attackMs = 5.0});
    const auto g = gainTrace(c, {{-60.0, 3.0}, {-30.0, 0.05}});
    EXPECT_NEAR(framesTo90Percent(g, 0, 1.0, closed), 0.4 * fs, 1.0);
    EXPECT_NEAR(framesTo90Percent(g, static_cast<size_t>(3.0 * fs), closed, 1.0), 0.005 * fs, 1.0);

    // Half way back after a 30 ms burst and after 3 s (at 192 kHz, where the detector's own fall,
    // counted in samples, is short).
    double recovery[2] = {};
    for (const double seconds : {3.0, 0.03}) {
        apply(c, {.fs = 192000.0, .thresholdDb = -40.0, .ratio = 20.0, .attackMs = 0.1});
        const auto r = gainTrace(c, {{-80.0, 0.1}, {0.0, seconds}, {-80.0, 0.5}});
        const size_t quiet = static_cast<size_t>(0.1 * 192000.0) + static_cast<size_t>(seconds * 192000.0);
        recovery[seconds < 1.0] = framesTo90Percent(r, quiet, dbToGain(-38.0), 1.0, 0.5) / 192000.0;
    }
    EXPECT_GT(recovery[0], 0.12);        // 400 ms * log(0.5) / log(0.1) ...
    EXPECT_LT(recovery[0], 0.12 + 0.03); // ... after at most the detector's hold and fall
    EXPECT_LT(recovery[1], 0.5 * recovery[0]);
}

} // namespace pellucer
