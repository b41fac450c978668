// The biquad bank and the three-band equaliser built on it, against analytic responses.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>
#include <vector>

#include "dsp/BiquadBank.h"
#include "dsp/ThreeBandEq.h"
#include "tests/TestSupport.h"

using namespace pellucer;

namespace {

void run(BiquadBank& bank, std::vector<double>& s) {
    for (double& x : s)
        bank.processLeft(x);
}
void run(ThreeBandEq& eq, std::vector<double>& s) {
    auto right = s;
    eq.process(s.data(), right.data(), 0, static_cast<int32_t>(s.size()), false);
}

// Steady-state gain in dB of a sine at whole hertz (left channel): one second to settle, then one
// second projected onto sine and cosine, orthogonal over a whole second.
template <typename Stage> double gainDb(Stage& stage, double hz, double fs, double amplitude = 1.0) {
    const auto frames = static_cast<size_t>(fs);
    std::vector<double> s(2 * frames);
    for (size_t n = 0; n < s.size(); ++n)
        s[n] = amplitude * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(n) / fs);
    run(stage, s);
    double sn = 0.0, cs = 0.0;
    for (size_t n = frames; n < s.size(); ++n) {
        sn += s[n] * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(n) / fs);
        cs += s[n] * std::cos(2.0 * std::numbers::pi * hz * static_cast<double>(n) / fs);
    }
    return 20.0 * std::log10(2.0 * std::hypot(sn, cs) / static_cast<double>(frames) / amplitude);
}

void configure(ThreeBandEq& eq, float fs) {
    eq.setSampleRate(fs);
    eq.setLowFrequency(120.0);
    eq.setLowGain(6.0);
    eq.setMidFrequency(1500.0);
    eq.setMidGain(-4.0);
    eq.setHighFrequency(7000.0);
    eq.setHighGain(3.0);
}

} // namespace

// A peaking band reaches its gain at its centre, unity at DC, also when moved to another rate.
TEST(BiquadBank, PeakingBandReachesItsGainAtItsCentreAtEveryRate) {
    for (float fs : {44100.0f, 48000.0f, 96000.0f})
        for (double gain : {-24.0, -6.0, 3.0, 32.0})
            for (double hz : {40.0, 1000.0, 9000.0}) {
                BiquadBank bank(44100.0f);
                ASSERT_TRUE(bank.addBand(BiquadType::Peaking, hz, gain, 2.0));
                bank.setSampleRate(fs);
                EXPECT_NEAR(bank.magnitudeDb(hz), gain, 1e-9)
                    << fs << " Hz, " << hz << " Hz, " << gain << " dB";
                EXPECT_NEAR(bank.magnitudeDb(1e-3), 0.0, 1e-6);
            }
}

// Shelves: half the gain (in dB) at the corner, all of it far beyond. Low and high pass: corners
// at q / (2 W), W = 0.187 (1 + fn) / (1 - fn) + 0.81 the widened alpha, 12 dB per octave.
TEST(BiquadBank, ShelfAndPassBandAsymptotesAndCorners) {
    for (double gain : {-12.0, 9.0}) {
        BiquadBank low(48000.0f), high(48000.0f);
        low.addBand(BiquadType::LowShelf, 500.0, gain, 0.9);
        high.addBand(BiquadType::HighShelf, 4000.0, gain, 0.5);
        EXPECT_NEAR(low.magnitudeDb(500.0), gain / 2.0, 1e-9);
        EXPECT_NEAR(low.magnitudeDb(5.0), gain, 0.01);
        EXPECT_NEAR(low.magnitudeDb(23000.0), 0.0, 0.01);
        EXPECT_NEAR(high.magnitudeDb(4000.0), gain / 2.0, 1e-9);
        EXPECT_NEAR(high.magnitudeDb(10.0), 0.0, 0.01);
        EXPECT_NEAR(high.magnitudeDb(23999.0), gain, 0.01);
    }
    const double fs = 48000.0, hz = 2000.0, q = 0.707, fn = 2.0 * hz / fs;
    const double cornerDb = 20.0 * std::log10(q / (2.0 * (0.187 * (1.0 + fn) / (1.0 - fn) + 0.81)));
    BiquadBank lowPass(48000.0f), highPass(48000.0f);
    lowPass.addBand(BiquadType::LowPass, hz, 0.0, q);
    highPass.addBand(BiquadType::HighPass, hz, 0.0, q);
    EXPECT_NEAR(lowPass.magnitudeDb(1.0), 0.0, 1e-5);
    EXPECT_NEAR(lowPass.magnitudeDb(hz), cornerDb, 1e-9);
    EXPECT_LT(lowPass.magnitudeDb(fs / 2.0), -200.0); // a double zero at Nyquist
    EXPECT_NEAR(highPass.magnitudeDb(fs / 2.0), 0.0, 1e-9);
    EXPECT_NEAR(highPass.magnitudeDb(hz), cornerDb, 1e-9);
    EXPECT_NEAR(highPass.magnitudeDb(hz / 32.0) - highPass.magnitudeDb(hz / 64.0), 12.0, 0.1);
}

// A sine comes out as reported, disabled bands left out; new settings act from the next block.
TEST(BiquadBank, FilteringMatchesTheReportedResponseFromTheNextBlock) {
    const double fs = 44100.0;
    BiquadBank bank(static_cast<float>(fs)), withoutDisabled(static_cast<float>(fs));
    for (BiquadBank* b : {&bank, &withoutDisabled}) {
        b->addBand(BiquadType::LowShelf, 200.0, 6.0, 0.9);
        if (b == &bank)
            b->addBand(BiquadType::Peaking, 3000.0, 12.0, 1.0, false);
        b->addBand(BiquadType::Peaking, 1200.0, -9.0, 3.0);
        b->addBand(BiquadType::HighShelf, 6000.0, 4.0, 0.9);
    }
    for (double hz : {50.0, 200.0, 1200.0, 3000.0, 16000.0}) {
        EXPECT_EQ(bank.magnitudeDb(hz), withoutDisabled.magnitudeDb(hz)) << hz << " Hz";
        bank.reset();
        EXPECT_NEAR(gainDb(bank, hz, fs), bank.magnitudeDb(hz), 0.01) << hz << " Hz";
    }
    const double before = gainDb(bank, 1200.0, fs);
    bank.setGain(2, 12.0);
    EXPECT_NEAR(gainDb(bank, 1200.0, fs), before, 1e-9); // still the old design
    bank.prepareBlock();
    EXPECT_NEAR(gainDb(bank, 1200.0, fs), bank.magnitudeDb(1200.0), 0.01);
}

// Flat, the crossovers add up to an allpass, the same on both channels.
TEST(ThreeBandEq, FlatSettingsAreAnAllpass) {
    ThreeBandEq eq;
    eq.setLowFrequency(200.0);
    eq.setMidFrequency(1000.0);
    eq.setHighFrequency(5000.0);
    for (double hz : {30.0, 450.0, 2236.0, 12000.0, 19000.0})
        EXPECT_NEAR(gainDb(eq, hz, 44100.0, 0.25), 0.0, 0.01) << hz << " Hz";
    ThreeBandEq fresh;
    std::vector<double> l(44100, 0.0), r(44100, 0.0);
    l[0] = r[0] = 1.0;
    test::processStereo(fresh, l, r);
    EXPECT_NEAR(std::inner_product(l.begin(), l.end(), l.begin(), 0.0), 1.0, 1e-6);
    EXPECT_LT(std::fabs(l[0]), 0.9);
    EXPECT_EQ(l, r);
}

// Mid gain g: a wide bell of 2g at Q 1.8 and a narrow one of -g whose Q grows with |g|.
TEST(ThreeBandEq, MidGainSetsTheWideAndNarrowBells) {
    for (double gain : {12.0, -12.0}) {
        ThreeBandEq eq, reversed;
        eq.setMidFrequency(1000.0);
        eq.setMidGain(gain);
        reversed.setMidGain(gain); // the narrow Q follows the gain whichever is set first
        reversed.setMidFrequency(1000.0);
        for (const ThreeBandEq* e : {&eq, &reversed}) {
            const BiquadBank& bank = e->bank();
            EXPECT_EQ(bank.gain(ThreeBandEq::kWideBellBand), 2.0 * gain);
            EXPECT_EQ(bank.q(ThreeBandEq::kWideBellBand), 1.8);
            EXPECT_EQ(bank.gain(ThreeBandEq::kNarrowBellBand), -gain);
            EXPECT_NEAR(bank.q(ThreeBandEq::kNarrowBellBand), 3.79, 0.005) << gain;
            EXPECT_NEAR(bank.magnitudeDb(1000.0), gain, 1e-9);
        }
        eq.setMidGain(0.0);
        EXPECT_NEAR(eq.bank().q(ThreeBandEq::kNarrowBellBand), 2.07, 0.005);
    }
}

// The same response in hertz at every rate; a 1 kHz bell is centred there.
TEST(ThreeBandEq, BandsLandOnTheirFrequenciesAtEveryRate) {
    ThreeBandEq at44;
    configure(at44, 44100.0f);
    EXPECT_NEAR(gainDb(at44, 20.0, 44100.0), 6.0, 0.1);     // deep in the low shelf
    EXPECT_NEAR(gainDb(at44, 1500.0, 44100.0), -4.0, 0.15); // the shelves barely reach here
    EXPECT_NEAR(gainDb(at44, 20000.0, 44100.0), 3.0, 0.2);
    for (float fs : {48000.0f, 96000.0f}) {
        ThreeBandEq eq, bell;
        configure(eq, fs);
        for (double hz : {40.0, 500.0, 3000.0})
            EXPECT_NEAR(gainDb(eq, hz, fs), gainDb(at44, hz, 44100.0), 0.1) << fs << " " << hz;
        bell.setSampleRate(fs);
        bell.setMidFrequency(1000.0);
        bell.setMidGain(12.0);
        EXPECT_NEAR(gainDb(bell, 1000.0, fs), 12.0, 0.01) << fs;
        EXPECT_NEAR(gainDb(bell, 500.0, fs), gainDb(bell, 2000.0, fs), 0.1) << fs;
    }
}

// The tube replaces the routed bands: quiet signals pass at unity, loud ones saturate.
TEST(ThreeBandEq, RoutedBandsPassTheTubeInsteadOfTheirOwnSignal) {
    ThreeBandEq eq;
    eq.setTubeLow(true);
    eq.setTubeMid(true);
    eq.setTubeHigh(true);
    EXPECT_NEAR(gainDb(eq, 1000.0, 44100.0, test::dbToGain(-60.0)), 0.0, 0.01);
    EXPECT_NEAR(gainDb(eq, 100.0, 44100.0, test::dbToGain(-60.0)), 0.0, 0.01);
    EXPECT_LT(gainDb(eq, 1000.0, 44100.0, 1.0), -1.0);
    EXPECT_GT(eq.tube().envelope(), 0.1);
    // Quiet, the tube is all but linear: routing bands in and out while playing (each change
    // fading in and settling; two bands, then all three) leaves the sum where it was.
    ThreeBandEq switched, never;
    never.setTubeLow(false); // the same crossovers as `switched`
    std::vector<double> l = test::noise(1e-3, 110250), r = test::noise(1e-3, 110250, 99);
    auto neverL = l, neverR = r;
    for (size_t at = 0; at < l.size(); at += 500) {
        const bool on = (at / 22050) % 2 == 1;
        switched.setTubeLow(on);
        switched.setTubeMid(on && at > 44100);
        switched.setTubeHigh(on);
        const auto n = static_cast<int32_t>(std::min<size_t>(500, l.size() - at));
        switched.process(l.data() + at, r.data() + at, at, n, false);
        never.process(neverL.data() + at, neverR.data() + at, at, n, false);
    }
    for (size_t i = 0; i < l.size(); ++i) {
        ASSERT_NEAR(l[i], neverL[i], 5e-6) << i;
        ASSERT_NEAR(r[i], neverR[i], 5e-6) << i;
    }
    ThreeBandEq highOnly;
    highOnly.setLowFrequency(100.0);
    highOnly.setMidFrequency(1000.0);
    highOnly.setHighFrequency(10000.0);
    highOnly.setTubeHigh(true);
    EXPECT_NEAR(gainDb(highOnly, 40.0, 44100.0, 1.0), 0.0, 0.05);
    // At 8 kHz, band frequencies moved while full-scale noise plays (some past the Nyquist
    // frequency, so that the crossovers between them would lie at it): with the mid band through
    // the tube the output stays within a few times full scale (crossovers at the Nyquist
    // frequency rang at hundreds of times full scale).
    ThreeBandEq lowRate;
    lowRate.setSampleRate(8000.0f);
    lowRate.setTubeMid(true);
    std::vector<double> loud = test::noise(1.0, 80000), loudR = loud;
    uint32_t pick = 7;
    for (int32_t at = 0; at < 80000; at += 250) {
        pick = pick * 1664525u + 1013904223u;
        constexpr double kHz[] = {200.0, 1000.0, 3000.0, 3900.0, 5000.0, 12000.0, 20000.0};
        const double hz = kHz[(pick >> 8) % 7];
        const uint32_t band = (pick >> 20) % 3;
        band == 0 ? lowRate.setMidFrequency(hz) : band == 1 ? lowRate.setHighFrequency(hz) : lowRate.setLowFrequency(hz / 10);
        lowRate.process(loud.data() + at, loudR.data() + at, static_cast<uint64_t>(at), 250, false);
    }
    EXPECT_LT(test::peak(loud), 4.0);
}
