#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <vector>

#include "dsp/TubeStage.h"
#include "tests/TestSupport.h"

using namespace pellucer;
using test::processMono;

namespace {

void configure(TubeStage& tube, double drive, bool shaping = true, float sampleRate = 44100.0f) {
    tube.setSampleRate(sampleRate);
    tube.setDrive(drive);
    tube.setShapingOff(!shaping);
}

} // namespace

// Odd, unity slope at zero, rising to full scale, where it is g0 (1 - 1/s) with s = sqrt(k^2 + 1),
// k = 10^-0.1 and g0 = 2.585686 from the normaliser, then flat.
TEST(TubeStage, CurveIsUnitySlopeAtZeroAndSaturatesNear0561) {
    TubeStage tube;
    EXPECT_EQ(tube.curve(0.0), 0.0);
    EXPECT_NEAR(tube.curve(1e-6) / 1e-6, 1.0, 0.002);
    EXPECT_NEAR(tube.curve(1.0), 0.5610149, 1e-6);
    EXPECT_EQ(tube.curve(5.0), tube.curve(1.0));
    EXPECT_EQ(tube.curve(-0.3), -tube.curve(0.3));
    for (int i = 1; i <= 1000; ++i)
        ASSERT_GT(tube.curve(i / 1000.0), tube.curve((i - 1) / 1000.0)) << i;
}

// Drive d: quiet sines keep unity gain, the top of the curve comes at 1/d of full scale as 0.561/d.
// Shaping off, the stage is exactly input gain times output gain.
TEST(TubeStage, DriveMovesTheSaturationPointAndShapingOffIsAPlainGain) {
    const double quiet = test::dbToGain(-60.0);
    for (const auto& [drive, amplitude, top] :
         {std::tuple{1.0, 1.0, 0.561}, {1.0, quiet, quiet}, {2.0, quiet, quiet}, {2.0, 0.5, 0.561 / 2.0}}) {
        TubeStage tube;
        configure(tube, drive);
        auto s = test::sine(amplitude, 441.0, 44100.0, 4410);
        processMono(tube, s);
        // From 50 ms on, after the smoothing of the drive toward its setting.
        EXPECT_NEAR(test::peak(s, 2205), top, top > 0.01 ? 0.002 : 0.001 * top) << drive << " " << amplitude;
    }
    TubeStage plain;
    configure(plain, 2.0, false);
    plain.setInputGain(2.0);
    plain.setOutputGain(0.25);
    auto s = test::sine(0.9, 441.0, 44100.0, 8820);
    const auto in = s;
    processMono(plain, s);
    for (size_t i = 4410; i < s.size(); ++i)
        ASSERT_DOUBLE_EQ(s[i], in[i] * 2.0 * 0.25);
    EXPECT_EQ(plain.envelope(), 0.0);
}

// A step of the input gain covers 90 % in about 8 ms, on one trajectory for both channels.
TEST(TubeStage, InputGainStepReaches90PercentInAbout8ms) {
    for (float rate : {44100.0f, 96000.0f}) {
        TubeStage tube;
        configure(tube, 1.5, false, rate);
        std::vector<double> dc(static_cast<size_t>(rate * 0.05), 0.01), right = dc;
        const double target = test::dbToGain(24.0);
        tube.setInputGain(target);
        test::processStereo(tube, dc, right);
        const auto reached = std::find_if(dc.begin(), dc.end(),
                                          [&](double x) { return x >= 0.01 * (1.0 + 0.9 * (target - 1.0)); });
        EXPECT_NEAR(1000.0 * static_cast<double>(reached - dc.begin()) / rate, 8.0, 1.0) << rate;
        EXPECT_NEAR(dc.back(), 0.01 * target, 1e-9);
        EXPECT_EQ(dc, right);
    }
    // Shaping on, in a block too long to pair the channels: still one trajectory.
    TubeStage shaping;
    configure(shaping, 1.5);
    shaping.setInputGain(2.0);
    std::vector<double> left = test::noise(0.3, TubeStage::kPairedFrames + 100), right = left;
    test::processStereo(shaping, left, right);
    EXPECT_EQ(left, right);
}

// The envelope holds a loud burst's distortion, then falls by 0.001 of the distance per sample;
// with modulation on it lifts the output by 0.707 of itself.
TEST(TubeStage, EnvelopeHoldsItsPeakFor441SamplesThenDecays) {
    TubeStage tube, modulated;
    configure(tube, 1.0);
    std::vector<double> burst(100, 1.0);
    processMono(tube, burst);
    const double loud = 1.0 - tube.curve(1.0), quiet = 0.5 - tube.curve(0.5);
    EXPECT_NEAR(tube.envelope(), loud, 1e-12);
    std::vector<double> held(TubeStage::kHoldSamples, 0.5), next(1, 0.5), more(20000, 0.5);
    processMono(tube, held);
    EXPECT_NEAR(tube.envelope(), loud, 1e-12);
    processMono(tube, next);
    EXPECT_NEAR(tube.envelope(), loud + (quiet - loud) * 0.001, 1e-12);
    // A new hold of the quiet level, then lower samples: 198 more steps toward it, left block
    // then right.
    std::vector<double> falling(99, 0.45), fallingRight(99, 0.45);
    falling[0] = 0.5;
    test::processStereo(tube, falling, fallingRight);
    EXPECT_NEAR(tube.envelope(), quiet + (loud - quiet) * std::pow(0.999, 199), 1e-12);
    // In one stereo block: 10 loud samples, the hold's 441, then 149 steps on the left and 600
    // on the right.
    TubeStage paired;
    configure(paired, 1.0);
    std::vector<double> l(600, 0.5), r(600, 0.5);
    std::fill(l.begin(), l.begin() + 10, 1.0);
    test::processStereo(paired, l, r);
    EXPECT_NEAR(paired.envelope(), quiet + (loud - quiet) * std::pow(0.999, 749), 1e-12);
    processMono(tube, more);
    EXPECT_NEAR(tube.envelope(), quiet, 1e-6);
    tube.reset();
    EXPECT_EQ(tube.envelope(), 0.0);

    configure(modulated, 1.0);
    modulated.setEnvelopeModulation(true);
    std::vector<double> plain(10, 0.8), lifted = plain;
    processMono(tube, plain);
    processMono(modulated, lifted);
    EXPECT_NEAR(lifted.back(), plain.back() * (1.0 + 0.707 * modulated.envelope()), 1e-12);
}
