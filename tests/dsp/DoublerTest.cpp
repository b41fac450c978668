#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <tuple>
#include <vector>

#include "dsp/Doubler.h"
#include "tests/TestSupport.h"

using namespace pellucer;

namespace {

// The delays at frame n: 48 and 39.1 ms in frames, swung by 110 frames (at 44.1 kHz) on a 1 rad/s
// sine of the single-precision position, divided in float (left) or double (right, 2.5 rad ahead).
double delayAt(uint64_t n, float fs, bool left) {
    const auto nf = static_cast<float>(n);
    const double t = left ? static_cast<double>(nf / fs) : static_cast<double>(nf) / fs + 2.5;
    return std::sin(t) * (fs * 110.0 / 44100.0) + std::floor((left ? 0.048 : 0.0391) * fs + 0.5);
}

// Where a click fed at p comes out of a line with delay d(n): the n with n - d(n) = p.
double arrival(uint64_t p, float fs, bool left) {
    double n = static_cast<double>(p) + delayAt(p, fs, left);
    for (int k = 0; k < 20; ++k)
        n = static_cast<double>(p) + delayAt(static_cast<uint64_t>(n), fs, left);
    return n;
}

// Weight and centre of an echo in [from, to); the moving delay changes its weight by up to 0.0025.
std::pair<double, double> echoIn(const std::vector<double>& s, size_t from, size_t to) {
    double weight = 0.0, moment = 0.0;
    for (size_t i = from; i < std::min(to, s.size()); ++i) {
        weight += s[i];
        moment += s[i] * static_cast<double>(i);
    }
    return {weight, moment / weight};
}
constexpr double kDopplerSlack = 0.003;

} // namespace

// At stereo 1 a click comes back on its own channel only: at the swing's extremes, where it
// crosses zero at other rates, and 54 hours in, where the float position steps by 1024 frames.
TEST(Doubler, ClicksComeBackWhereTheModulatedDelaysPutThem) {
    const double pi = std::numbers::pi;
    const uint64_t late = uint64_t{1} << 33;
    // Rate, position, channel, and the delay there where it is known without the model.
    const std::tuple<float, uint64_t, bool, double> cases[] = {
        {44100.0f, 0, true, 0.0},
        {44100.0f, static_cast<uint64_t>(pi / 2.0 * 44100.0) - 2227, true, 2117.0 + 110.0},
        {44100.0f, static_cast<uint64_t>(1.5 * pi * 44100.0) - 2007, true, 2117.0 - 110.0},
        {44100.0f, static_cast<uint64_t>((2.5 * pi - 2.5) * 44100.0) - 1834, false, 1724.0 + 110.0},
        {96000.0f, static_cast<uint64_t>(pi * 96000.0) - 4608, true, 4608.0},
        {192000.0f, static_cast<uint64_t>(pi * 192000.0) - 9216, true, 9216.0},
        {44100.0f, late, true, 0.0},
        {44100.0f, late + 777, false, 0.0}};
    for (const auto& [fs, position, left, nominal] : cases) {
        SCOPED_TRACE(::testing::Message() << fs << " Hz at " << position << (left ? " left" : " right"));
        Doubler d;
        d.setSampleRate(fs);
        d.setPresence(1.0);
        d.setStereo(1.0);
        const auto frames = static_cast<size_t>(0.07 * fs);
        std::vector<double> l(frames, 0.0), r(frames, 0.0);
        (left ? l : r)[0] = 1.0;
        test::processStereo(d, l, r, position);
        const std::vector<double>& out = left ? l : r;
        EXPECT_EQ(out[0], 1.0);
        const auto [weight, centre] = echoIn(out, 1, frames);
        EXPECT_NEAR(weight, 1.0, kDopplerSlack);
        if (nominal > 0.0) {
            EXPECT_NEAR(centre, nominal, 1.0);
        }
        EXPECT_NEAR(centre + static_cast<double>(position), arrival(position, fs, left), 0.05);
        EXPECT_EQ(test::peak(left ? r : l), 0.0);
    }
}

// Every frame is the linear interpolation at the delay computed frame by frame with the library
// sine, within 3e-8 for full-scale noise: at the lowest usable rate (where the polynomial's
// offsets are widest), at the engine's rates, and 2^33 frames in (float positions step by 1024),
// for blocks of any length.
TEST(Doubler, EveryFrameIsTheReadAtTheModulatedDelay) {
    const std::tuple<float, uint64_t, double> cases[] = {
        {1000.0f, 5, 0.3}, {44100.0f, 1234567, 0.7}, {192000.0f, 99, 1.0}, {44100.0f, uint64_t{1} << 33, 0.5}};
    for (const auto& [fs, position, stereo] : cases) {
        SCOPED_TRACE(::testing::Message() << fs << " Hz at " << position);
        Doubler d;
        d.setSampleRate(fs);
        d.setPresence(0.8);
        d.setStereo(stereo);
        const auto frames = static_cast<size_t>(0.3 * fs);
        const auto inL = test::noise(1.0, frames, 3), inR = test::noise(1.0, frames, 4);
        auto l = inL, r = inR;
        test::processStereo(d, l, r, position, {333, 1, 77});
        const auto tap = [&](const std::vector<double>& x, size_t i, bool left) {
            const double delay = delayAt(position + i, fs, left), whole = std::floor(delay);
            const auto at = [&](double back) { return back <= static_cast<double>(i) ? x[i - static_cast<size_t>(back)] : 0.0; };
            return (delay - whole) * at(whole + 1.0) + (1.0 - (delay - whole)) * at(whole);
        };
        const double own = 0.5 * stereo + 0.5;
        for (size_t i = 0; i < frames; ++i) {
            const double dl = inL[i] + 0.8 * tap(inL, i, true), dr = inR[i] + 0.8 * tap(inR, i, false);
            ASSERT_NEAR(l[i], own * dl + (1.0 - own) * dr, 3e-8) << i;
            ASSERT_NEAR(r[i], own * dr + (1.0 - own) * dl, 3e-8) << i;
        }
    }
}

// Presence 0: each output is w = 0.5 W + 0.5 of its own channel and 1 - w of the other.
TEST(Doubler, PresenceZeroPassesOrMixesTheChannels) {
    const auto inL = test::noise(0.5, 5000, 1), inR = test::noise(0.5, 5000, 2);
    for (const double stereo : {1.0, 0.5, 0.0}) {
        Doubler d;
        d.setPresence(0.0);
        d.setStereo(stereo);
        auto l = inL, r = inR;
        test::processStereo(d, l, r);
        const double w = 0.5 * stereo + 0.5;
        for (size_t i = 0; i < l.size(); ++i) {
            ASSERT_NEAR(l[i], w * inL[i] + (1.0 - w) * inR[i], 1e-15) << stereo;
            ASSERT_NEAR(r[i], w * inR[i] + (1.0 - w) * inL[i], 1e-15) << stereo;
        }
    }
}

// Mono mixes both delayed copies of the one channel half and half: what stereo 0 makes of the
// same signal on both channels.
TEST(Doubler, MonoAveragesBothDelayedCopiesOfTheOneChannel) {
    Doubler d;
    d.setPresence(0.6);
    d.setStereo(1.0);
    std::vector<double> s(4000, 0.0);
    s[0] = 1.0;
    test::processMono(d, s);
    EXPECT_EQ(s[0], 1.0);
    const double right = arrival(0, 44100.0f, false), left = arrival(0, 44100.0f, true);
    const auto split = static_cast<size_t>(right + 5);
    ASSERT_LT(right + 5, left - 5);
    for (const auto& [from, to, at] : {std::tuple{size_t{1}, split, right}, {split, size_t{4000}, left}}) {
        const auto [weight, centre] = echoIn(s, from, to);
        EXPECT_NEAR(weight, 0.5 * 0.6, 0.6 * kDopplerSlack);
        EXPECT_NEAR(centre, at, 0.05);
    }
    Doubler pair;
    pair.setPresence(0.6);
    pair.setStereo(0.0);
    std::vector<double> l(4000, 0.0), r(4000, 0.0);
    l[0] = r[0] = 1.0;
    test::processStereo(pair, l, r, 0, {37});
    EXPECT_TRUE(l == s && r == s);
}
