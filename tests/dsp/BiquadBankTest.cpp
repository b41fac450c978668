#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <numbers>
#include <thread>
#include <vector>

#include "dsp/BiquadBank.h"
#include "tests/TestSupport.h"

using namespace pellucer;

namespace {

// Steady-state gain in dB of the bank's left channel for a sine at a whole number of cycles per
// second: one second of settling, then one second projected onto sine and cosine, which are
// exactly orthogonal over a whole second at an integer frequency.
double measuredGainDb(BiquadBank& bank, double hz, double fs) {
    const auto frames = static_cast<int32_t>(fs);
    double s = 0.0, c = 0.0;
    for (int32_t n = 0; n < 2 * frames; ++n) {
        const double phase = 2.0 * std::numbers::pi * hz * n / fs;
        double x = std::sin(phase);
        bank.processLeft(x);
        if (n >= frames) {
            s += x * std::sin(phase);
            c += x * std::cos(phase);
        }
    }
    return 20.0 * std::log10(2.0 * std::hypot(s, c) / frames);
}

// Frequency of the response's extreme on a fine logarithmic grid around `near`.
double extremeFrequency(const BiquadBank& bank, double near, bool maximum) {
    double best = near, bestDb = bank.magnitudeDb(near);
    for (int k = -2000; k <= 2000; ++k) {
        const double f = near * std::pow(2.0, k / 4000.0);
        const double db = bank.magnitudeDb(f);
        if (maximum ? db > bestDb : db < bestDb) {
            best = f;
            bestDb = db;
        }
    }
    return best;
}

} // namespace

TEST(BiquadBank, PeakingBandReachesItsGainAtItsCentre) {
    for (double fs : {44100.0, 48000.0, 96000.0})
        for (double gain : {-24.0, -6.0, 3.0, 12.0, 32.0})
            for (double hz : {40.0, 1000.0, 9000.0}) {
                BiquadBank bank(static_cast<float>(fs));
                ASSERT_TRUE(bank.addBand(BiquadType::Peaking, hz, gain, 2.0));
                EXPECT_NEAR(bank.magnitudeDb(hz), gain, 1e-9)
                    << fs << " Hz, " << hz << " Hz, " << gain << " dB";
                EXPECT_NEAR(bank.magnitudeDb(1e-3), 0.0, 1e-6); // unity at DC
            }
}

TEST(BiquadBank, ShelvesPassHalfTheirGainAtTheCornerAndAllOfItBeyond) {
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
}

TEST(BiquadBank, PassBandsHaveUnityPassbandAndWidenedQAtTheCorner) {
    const double fs = 48000.0, hz = 2000.0, q = 0.707;
    // At its corner a bilinear low- or high-pass has |H| = sin(w0) / (2 alpha); with the alpha
    // widened by W = 0.187 (1 + fn)/(1 - fn) + 0.81 (fn = 2 f / fs) that is q / (2 W).
    const double fn = 2.0 * hz / fs;
    const double cornerDb = 20.0 * std::log10(q / (2.0 * (0.187 * (1.0 + fn) / (1.0 - fn) + 0.81)));

    BiquadBank lowPass(static_cast<float>(fs)), highPass(static_cast<float>(fs)),
        gentle(static_cast<float>(fs));
    lowPass.addBand(BiquadType::LowPass, hz, 0.0, q);
    highPass.addBand(BiquadType::HighPass, hz, 0.0, q);
    gentle.addBand(BiquadType::LowPass, 100.0, 0.0, q);
    EXPECT_NEAR(lowPass.magnitudeDb(1.0), 0.0, 1e-5);
    EXPECT_NEAR(lowPass.magnitudeDb(hz), cornerDb, 1e-9);
    EXPECT_LT(lowPass.magnitudeDb(fs / 2.0), -200.0); // a double zero at Nyquist
    EXPECT_NEAR(highPass.magnitudeDb(fs / 2.0), 0.0, 1e-9);
    EXPECT_NEAR(highPass.magnitudeDb(hz), cornerDb, 1e-9);
    EXPECT_LT(highPass.magnitudeDb(1e-3), -150.0);
    // Well away from Nyquist the skirts fall at 12 dB per octave.
    EXPECT_NEAR(gentle.magnitudeDb(1600.0) - gentle.magnitudeDb(3200.0), 12.0, 0.2);
    EXPECT_NEAR(highPass.magnitudeDb(hz / 32.0) - highPass.magnitudeDb(hz / 64.0), 12.0, 0.1);
}

TEST(BiquadBank, FilteringMatchesTheReportedResponseAndSkipsDisabledBands) {
    const double fs = 44100.0;
    BiquadBank bank(static_cast<float>(fs)), withoutDisabled(static_cast<float>(fs));
    for (BiquadBank* b : {&bank, &withoutDisabled}) {
        b->addBand(BiquadType::LowShelf, 200.0, 6.0, 0.9);
        if (b == &bank)
            b->addBand(BiquadType::Peaking, 3000.0, 12.0, 1.0, false);
        b->addBand(BiquadType::Peaking, 1200.0, -9.0, 3.0);
        b->addBand(BiquadType::HighShelf, 6000.0, 4.0, 0.9);
    }
    for (double hz : {50.0, 200.0, 1200.0, 3000.0, 8000.0, 16000.0}) {
        EXPECT_EQ(bank.magnitudeDb(hz), withoutDisabled.magnitudeDb(hz)) << hz << " Hz";
        bank.reset();
        EXPECT_NEAR(measuredGainDb(bank, hz, fs), bank.magnitudeDb(hz), 0.01) << hz << " Hz";
    }
}

TEST(BiquadBank, BandsStayCentredOnTheirFrequencyAtEveryRate) {
    for (float fs : {44100.0f, 48000.0f, 96000.0f}) {
        // Designed at 44.1 kHz, then moved to the running rate: the coefficients follow it.
        BiquadBank boost(44100.0f), cut(44100.0f);
        boost.addBand(BiquadType::Peaking, 1000.0, 12.0, 1.8);
        cut.addBand(BiquadType::Peaking, 2500.0, -12.0, 3.79);
        boost.setSampleRate(fs);
        cut.setSampleRate(fs);
        boost.prepareBlock(); // the new design runs from the next block on
        EXPECT_NEAR(extremeFrequency(boost, 1000.0, true), 1000.0, 1.0) << fs;
        EXPECT_NEAR(extremeFrequency(cut, 2500.0, false), 2500.0, 2.5) << fs;
        EXPECT_NEAR(measuredGainDb(boost, 1000.0, fs), 12.0, 0.01) << fs;
        // Meaningless rates are ignored.
        boost.setSampleRate(std::nanf(""));
        boost.setSampleRate(0.0f);
        EXPECT_EQ(boost.sampleRate(), fs);
    }
}

TEST(BiquadBank, BadIndicesAndSettingsAreRejectedOrClamped) {
    BiquadBank bank(44100.0f);
    bank.addBand(BiquadType::LowPass, 1.0, 0.0, 50.0);
    bank.addBand(BiquadType::Peaking, 90000.0, 60.0, 50.0);
    bank.addBand(BiquadType::LowShelf, 100.0, -60.0, 0.01);
    ASSERT_TRUE(bank.addBand(BiquadType::Peaking, 2000.0, 3.0, 1.0));
    EXPECT_FALSE(bank.addBand(BiquadType::Peaking, 100.0, 3.0, 1.0));
    EXPECT_EQ(bank.bandCount(), 4);
    // Clamped to 10 Hz..21 kHz and +-32 dB; Q to 19 for pass bands, 24 for bells, slope to 0.2 at least.
    EXPECT_EQ(bank.frequency(0), 10.0);
    EXPECT_EQ(bank.q(0), 19.0);
    EXPECT_EQ(bank.frequency(1), 21000.0);
    EXPECT_EQ(bank.gain(1), 32.0);
    EXPECT_EQ(bank.q(1), 24.0);
    EXPECT_EQ(bank.gain(2), -32.0);
    EXPECT_EQ(bank.q(2), 0.2);

    const double before = bank.magnitudeDb(1234.0);
    EXPECT_FALSE(bank.setGain(4, -12.0));
    EXPECT_FALSE(bank.setGain(-1, -12.0));
    EXPECT_FALSE(bank.setFrequency(4, 100.0));
    EXPECT_FALSE(bank.setQ(7, 5.0));
    EXPECT_FALSE(bank.setGain(1, std::nan("")));
    EXPECT_EQ(bank.magnitudeDb(1234.0), before);
    EXPECT_TRUE(bank.setGain(3, -12.0));
    EXPECT_NE(bank.magnitudeDb(1234.0), before);
}

TEST(BiquadBank, ResponsePointsAreLogSpacedFrequencyLevelPairs) {
    BiquadBank bank(44100.0f);
    bank.addBand(BiquadType::Peaking, 1000.0, 6.0, 1.0);
    std::vector<double> points(100, -1.0);
    ASSERT_TRUE(bank.magnitudeResponse(points.data(), 50, 20.0, 20000.0));
    EXPECT_DOUBLE_EQ(points[0], 20.0);
    EXPECT_NEAR(points[98], 20000.0, 1e-9);
    for (int k = 1; k < 50; ++k) {
        EXPECT_NEAR(points[2 * k] / points[2 * k - 2], std::pow(1000.0, 1.0 / 49.0), 1e-12);
        EXPECT_NEAR(points[2 * k + 1], bank.magnitudeDb(points[2 * k]), 1e-12);
    }
    EXPECT_FALSE(bank.magnitudeResponse(nullptr, 50, 20.0, 20000.0));
    EXPECT_FALSE(bank.magnitudeResponse(points.data(), 0, 20.0, 20000.0));
    EXPECT_FALSE(bank.magnitudeResponse(points.data(), 5, 0.0, 20000.0));
}

TEST(BiquadBank, NewSettingsAndForgottenNaNsTakeEffectAtTheNextBlock) {
    BiquadBank bank(48000.0f);
    bank.addBand(BiquadType::Peaking, 1000.0, 0.0, 1.0);
    bank.setGain(0, 12.0);
    EXPECT_NEAR(measuredGainDb(bank, 1000.0, 48000.0), 0.0, 1e-9); // still the old design
    bank.prepareBlock();
    bank.reset();
    EXPECT_NEAR(measuredGainDb(bank, 1000.0, 48000.0), 12.0, 0.01);

    // A NaN input poisons one channel's state only, and only until the next block.
    double x = std::nan(""), y = 0.5;
    bank.processLeft(x);
    bank.processRight(y);
    EXPECT_TRUE(std::isfinite(y));
    bank.prepareBlock();
    for (int i = 0; i < 100; ++i) {
        double z = 0.25;
        bank.processLeft(z);
        ASSERT_TRUE(std::isfinite(z));
    }
}

TEST(BiquadBank, PublishedValuesAreNeverTakenHalfWritten) {
    // One thread publishes sets whose elements are all equal; the reader must only ever see
    // uniform sets.
    PublishedValues<6> published;
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 1; i <= 200000; ++i) {
            const double v = i;
            published.publish({v, v, v, v, v, v});
        }
        stop.store(true);
    });
    uint32_t seen = 0;
    bool mixed = false;
    std::array<double, 6> out{};
    while (!stop.load()) {
        if (published.takeIfChanged(out, seen))
            for (double v : out)
                mixed = mixed || v != out[0];
        const auto read = published.read();
        for (double v : read)
            mixed = mixed || v != read[0];
    }
    writer.join();
    EXPECT_FALSE(mixed);
    published.takeIfChanged(out, seen);
    EXPECT_EQ(out[0], 200000.0); // the last set is taken once the writer is done
    EXPECT_EQ(published.read()[5], 200000.0);
}
