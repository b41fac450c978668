#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "dsp/Doubler.h"
#include "tests/TestSupport.h"

using namespace pellucer;
using pellucer::test::noise;
using pellucer::test::peak;
using pellucer::test::processStereo;

namespace {

void configure(Doubler& d, double presence, double stereo, float sampleRate = 44100.0f) {
    d.setSampleRate(sampleRate);
    d.setPresence(presence);
    d.setStereo(stereo);
}

std::vector<double> click(size_t frames) {
    std::vector<double> s(frames, 0.0);
    s[0] = 1.0;
    return s;
}

// The modulated delay in frames at sample position n, straight from its definition.
double leftDelay(uint64_t n, float fs) {
    const float t = static_cast<float>(n) / fs;
    return std::sin(static_cast<double>(t)) * (fs * 110.0 / 44100.0) + std::floor(0.048 * fs + 0.5);
}
double rightDelay(uint64_t n, float fs) {
    const double t = static_cast<double>(static_cast<float>(n)) / fs + 2.5;
    return std::sin(t) * (fs * 110.0 / 44100.0) + std::floor(0.0391 * fs + 0.5);
}

// Weight and centre (in frames after the click) of the echo of a click, searched in
// [from, to) of the signal. The moving delay stretches or squeezes the echo like a Doppler
// shift: its weight differs from 1 by up to the delay's slope, 110 / 44100 = 0.0025.
constexpr double kDopplerSlack = 0.003;

struct Echo {
    double weight = 0.0;
    double centre = 0.0;
};
Echo echoIn(const std::vector<double>& s, size_t from, size_t to) {
    Echo e;
    double moment = 0.0;
    for (size_t i = from; i < std::min(to, s.size()); ++i) {
        e.weight += s[i];
        moment += s[i] * static_cast<double>(i);
    }
    e.centre = e.weight != 0.0 ? moment / e.weight : 0.0;
    return e;
}

// Where a click fed at position p comes out of a line with delay d(n): the n with n - d(n) = p.
template <typename Delay> double expectedArrival(uint64_t p, Delay delay) {
    double n = static_cast<double>(p) + delay(p);
    for (int k = 0; k < 20; ++k)
        n = static_cast<double>(p) + delay(static_cast<uint64_t>(n));
    return n;
}

} // namespace

TEST(Doubler, LeftClickComesBackOnTheLeftOnlyAfterAbout48ms) {
    Doubler d;
    configure(d, 1.0, 1.0);
    EXPECT_EQ(d.baseDelayLeftFrames(), 2117);
    EXPECT_EQ(d.baseDelayRightFrames(), 1724);
    EXPECT_EQ(d.lineFrames(), 16384);
    auto l = click(4000);
    std::vector<double> r(4000, 0.0);
    processStereo(d, l, r);

    EXPECT_EQ(l[0], 1.0);
    EXPECT_EQ(peak(l, 1, 2117 - 110 - 1), 0.0);
    EXPECT_EQ(peak(l, 2117 + 110 + 2), 0.0);
    const Echo echo = echoIn(l, 1, 4000);
    EXPECT_NEAR(echo.weight, 1.0, kDopplerSlack);
    const double arrival = expectedArrival(0, [](uint64_t n) { return leftDelay(n, 44100.0f); });
    EXPECT_NEAR(echo.centre, arrival, 0.05);
    EXPECT_EQ(peak(r), 0.0);
}

TEST(Doubler, EchoesArriveWhereTheModulatedDelaysPutThem) {
    // Clicks fed where the left phase is near +1 and -1 (n = pi/2 fs and 3 pi/2 fs) and where
    // the right phase (2.5 rad ahead) is near +1: the delay swings by 110 frames at one radian
    // per second. Then some 54 hours into a session, where float positions step by 1024 frames:
    // the modulation is held in steps, exactly as the single-precision phase gives it.
    const float fs = 44100.0f;
    const double pi = std::numbers::pi, quarter = pi / 2.0 * fs;
    struct Case {
        uint64_t position;
        bool left;
        double nominal; // the delay in frames at the swing's extreme; 0 where not checked
    };
    const uint64_t late = uint64_t{1} << 33;
    const Case cases[] = {
        {static_cast<uint64_t>(quarter) - 2227, true, 2117.0 + 110.0},
        {static_cast<uint64_t>(3.0 * quarter) - 2007, true, 2117.0 - 110.0},
        {static_cast<uint64_t>((2.0 * pi + pi / 2.0 - 2.5) * fs) - 1834, false, 1724.0 + 110.0},
        {late, true, 0.0},
        {late + 777, false, 0.0},
        {uint64_t{123456789012}, true, 0.0},
        {uint64_t{123456789012}, false, 0.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.position << (c.left ? " left" : " right"));
        Doubler d;
        configure(d, 1.0, 1.0, fs);
        auto l = click(3000);
        std::vector<double> r(3000, 0.0);
        if (!c.left)
            std::swap(l, r);
        processStereo(d, l, r, c.position);
        const Echo echo = echoIn(c.left ? l : r, 1, 3000);
        EXPECT_NEAR(echo.weight, 1.0, kDopplerSlack);
        if (c.nominal > 0.0) {
            EXPECT_NEAR(echo.centre, c.nominal, 0.5);
        }
        const double arrival = expectedArrival(
            c.position, [&](uint64_t n) { return c.left ? leftDelay(n, fs) : rightDelay(n, fs); });
        EXPECT_NEAR(echo.centre + static_cast<double>(c.position), arrival, 0.05);
        EXPECT_EQ(peak(c.left ? r : l), 0.0); // stereo 1 keeps the channels apart
    }
}

TEST(Doubler, PresenceZeroPassesOrMixesTheChannels) {
    // Each output keeps w = 0.5 W + 0.5 of its own channel and takes 1 - w of the other: the
    // channels pass unchanged at W = 1, and both outputs are (inL + inR) / 2 at W = 0.
    const auto inL = noise(0.5, 5000, 1), inR = noise(0.5, 5000, 2);
    for (const double stereo : {1.0, 0.5, 0.0}) {
        Doubler d;
        configure(d, 0.0, stereo);
        auto l = inL, r = inR;
        processStereo(d, l, r);
        const double w = 0.5 * stereo + 0.5;
        for (size_t i = 0; i < l.size(); ++i) {
            ASSERT_NEAR(l[i], w * inL[i] + (1.0 - w) * inR[i], 1e-15) << stereo;
            ASSERT_NEAR(r[i], w * inR[i] + (1.0 - w) * inL[i], 1e-15) << stereo;
        }
    }
}

TEST(Doubler, MonoAveragesBothDelayedCopiesOfTheOneChannel) {
    // Presence 0.6; stereo 1 would keep channels apart, but mono always mixes half and half.
    Doubler d;
    configure(d, 0.6, 1.0);
    auto s = click(4000);
    std::vector<double> untouched(4000, 7.0);
    d.process(s.data(), untouched.data(), 0, 4000, true);
    EXPECT_EQ(peak(untouched), 7.0);
    EXPECT_EQ(s[0], 1.0); // 0.5 * (1 + 0) + 0.5 * (1 + 0)

    const double right = expectedArrival(0, [](uint64_t n) { return rightDelay(n, 44100.0f); });
    const double left = expectedArrival(0, [](uint64_t n) { return leftDelay(n, 44100.0f); });
    ASSERT_LT(right + 5, left - 5);
    const Echo fromRight = echoIn(s, 1, static_cast<size_t>(right + 5));
    const Echo fromLeft = echoIn(s, static_cast<size_t>(right + 5), 4000);
    EXPECT_NEAR(fromRight.weight, 0.5 * 0.6, 0.6 * kDopplerSlack);
    EXPECT_NEAR(fromLeft.weight, 0.5 * 0.6, 0.6 * kDopplerSlack);
    EXPECT_NEAR(fromRight.centre, right, 0.05);
    EXPECT_NEAR(fromLeft.centre, left, 0.05);
}

TEST(Doubler, DelaysScaleWithTheSampleRate) {
    for (float fs : {48000.0f, 96000.0f, 192000.0f}) {
        Doubler d;
        configure(d, 1.0, 1.0, fs);
        EXPECT_NEAR(d.baseDelayLeftFrames() / fs, 0.048, 0.5 / fs);
        EXPECT_NEAR(d.baseDelayRightFrames() / fs, 0.0391, 0.5 / fs);
        EXPECT_NEAR(d.modulationDepthFrames() / fs, 110.0 / 44100.0, 1e-12);
        EXPECT_GE(d.lineFrames(), 0.2 * fs);
        EXPECT_LT(d.lineFrames(), 0.4 * fs);

        // A click fed where the modulation crosses zero (n = pi fs) returns after the base
        // delay alone.
        const auto position =
            static_cast<uint64_t>(std::numbers::pi * fs) - static_cast<uint64_t>(d.baseDelayLeftFrames());
        const auto frames = static_cast<size_t>(0.06 * fs);
        auto l = click(frames);
        std::vector<double> r(frames, 0.0);
        processStereo(d, l, r, position);
        const Echo echo = echoIn(l, 1, frames);
        EXPECT_NEAR(echo.weight, 1.0, kDopplerSlack);
        EXPECT_NEAR(echo.centre, d.baseDelayLeftFrames(), 1.0) << fs;
    }
    Doubler d;
    configure(d, 1.0, 1.0, 96000.0f);
    EXPECT_EQ(d.baseDelayLeftFrames(), 4608);
    EXPECT_EQ(d.lineFrames(), 32768);
}

TEST(Doubler, ResetAndRateChangeClearTheLines) {
    Doubler used;
    configure(used, 0.8, 0.6);
    auto l = noise(0.9, 6000, 5), r = noise(0.9, 6000, 6);
    processStereo(used, l, r);
    used.reset();

    Doubler fresh;
    configure(fresh, 0.8, 0.6);
    auto a = noise(0.3, 6000, 7), aR = noise(0.3, 6000, 8);
    auto b = a, bR = aR;
    processStereo(used, a, aR, 6000);
    processStereo(fresh, b, bR, 6000);
    EXPECT_EQ(a, b);
    EXPECT_EQ(aR, bR);

    // A rate change re-initialises: lines cleared (silence in, silence out) and the fade set
    // to 1 even if the chain had faded the stage out.
    used.fade = 0.0;
    used.setSampleRate(48000.0f);
    EXPECT_EQ(used.fade, 1.0);
    std::vector<double> silentL(6000, 0.0), silentR(6000, 0.0);
    processStereo(used, silentL, silentR, 12000);
    EXPECT_EQ(peak(silentL), 0.0);
    EXPECT_EQ(peak(silentR), 0.0);
}

TEST(Doubler, BadSettingsAreIgnoredOrClamped) {
    Doubler d;
    d.setPresence(std::nan(""));
    d.setStereo(std::nan(""));
    EXPECT_EQ(d.presence(), 0.5);
    EXPECT_EQ(d.stereo(), 0.5);
    d.setPresence(4.0);
    d.setStereo(-2.0);
    EXPECT_EQ(d.presence(), 1.0);
    EXPECT_EQ(d.stereo(), 0.0);

    // A meaningless rate runs the doubler as at 44.1 kHz instead of failing.
    for (float fs : {0.0f, -48000.0f, std::nanf("")}) {
        Doubler bad;
        configure(bad, 1.0, 1.0, fs);
        EXPECT_EQ(bad.baseDelayLeftFrames(), 2117);
        auto l = noise(0.5, 3000, 11), r = noise(0.5, 3000, 12);
        processStereo(bad, l, r);
        for (double x : l)
            ASSERT_TRUE(std::isfinite(x));
    }
}
