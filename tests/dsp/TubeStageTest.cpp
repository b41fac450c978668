#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "dsp/TubeStage.h"
#include "tests/TestSupport.h"

using namespace pellucer;
using pellucer::test::peak;
using pellucer::test::processMono;
using pellucer::test::sine;

namespace {

void configure(TubeStage& tube, double drive, bool shaping = true, float sampleRate = 44100.0f) {
    tube.setSampleRate(sampleRate);
    tube.setDrive(drive);
    tube.setShapingOff(!shaping);
}

} // namespace

TEST(TubeStage, CurveIsUnitySlopeAtZeroAndSaturatesNear0561) {
    TubeStage tube;
    EXPECT_EQ(tube.curve(0.0), 0.0);
    EXPECT_NEAR(tube.curve(0.001), 0.001, 1e-12); // the normaliser is defined over this span
    EXPECT_NEAR(tube.curve(1e-6) / 1e-6, 1.0, 0.002);
    // Full scale: g0 (1 - 1/s) with s = sqrt(k^2 + 1), k = 10^-0.1 and g0 = 2.585686 from the normaliser.
    EXPECT_NEAR(tube.curve(1.0), 0.5610149, 1e-6);
    EXPECT_EQ(tube.curve(5.0), tube.curve(1.0));
    EXPECT_EQ(tube.curve(-0.3), -tube.curve(0.3));
    // Monotonic up to full scale.
    double last = 0.0;
    for (int i = 1; i <= 1000; ++i) {
        const double y = tube.curve(i / 1000.0);
        EXPECT_GT(y, last);
        last = y;
    }
}

TEST(TubeStage, QuietSinesPassAtUnityAndDriveMovesTheSaturationPoint) {
    // Drive d feeds the curve d times the input and divides its output by d: small signals keep
    // unity gain, while the top of the curve (0.561) comes at 1/d of full scale, as 0.561 / d.
    const double quiet = test::dbToGain(-60.0);
    struct Case {
        double drive, amplitude, peak, tolerance;
    };
    for (const Case c : {Case{1.0, 1.0, 0.561, 0.002}, Case{1.0, quiet, quiet, 0.001 * quiet},
                         Case{2.0, quiet, quiet, 0.001 * quiet}, Case{2.0, 0.5, 0.561 / 2.0, 0.002}}) {
        TubeStage tube;
        configure(tube, c.drive);
        auto s = sine(c.amplitude, 441.0, 44100.0, 4410);
        processMono(tube, s);
        // From 50 ms on, after the 8 ms smoothing of the drive toward its setting.
        EXPECT_NEAR(peak(s, 2205), c.peak, c.tolerance)
            << "drive " << c.drive << ", amplitude " << c.amplitude;
    }
}

TEST(TubeStage, ShapingOffIsAPlainGain) {
    TubeStage tube;
    configure(tube, 2.0, false);
    tube.setInputGain(2.0);
    tube.setOutputGain(0.25);
    auto s = sine(0.9, 441.0, 44100.0, 8820);
    const auto in = s;
    processMono(tube, s);
    // After the settings have settled (well within 100 ms) the stage is exactly x * 2 * 0.25.
    for (size_t i = 4410; i < s.size(); ++i)
        ASSERT_DOUBLE_EQ(s[i], in[i] * 2.0 * 0.25);
    EXPECT_EQ(tube.envelope(), 0.0);
}

TEST(TubeStage, InputGainStepReaches90PercentInAbout8ms) {
    for (float rate : {44100.0f, 96000.0f}) {
        TubeStage tube;
        configure(tube, 1.0, false, rate);
        std::vector<double> dc(static_cast<size_t>(rate * 0.05), 0.01);
        const double target = test::dbToGain(24.0);
        tube.setInputGain(target);
        processMono(tube, dc);
        const double threshold = 0.01 * (1.0 + 0.9 * (target - 1.0));
        size_t reached = 0;
        while (reached < dc.size() && dc[reached] < threshold)
            ++reached;
        const double ms = 1000.0 * static_cast<double>(reached) / rate;
        EXPECT_NEAR(ms, 8.0, 1.0) << rate;
        EXPECT_NEAR(dc.back(), 0.01 * target, 1e-9);
    }
}

TEST(TubeStage, EnvelopeHoldsItsPeakFor441SamplesThenDecays) {
    TubeStage tube;
    configure(tube, 1.0);
    // A loud burst, then a quieter constant level: the envelope keeps the burst's distortion for
    // the hold time, then falls by 0.001 of the distance per sample toward the quieter one.
    std::vector<double> burst(100, 1.0);
    processMono(tube, burst);
    const double loudDistortion = 1.0 - tube.curve(1.0);
    EXPECT_NEAR(tube.envelope(), loudDistortion, 1e-12);

    std::vector<double> quiet(1, 0.5);
    const double quietDistortion = 0.5 - tube.curve(0.5);
    for (int i = 0; i < TubeStage::kHoldSamples; ++i) {
        processMono(tube, quiet = {0.5});
        ASSERT_NEAR(tube.envelope(), loudDistortion, 1e-12) << i;
    }
    processMono(tube, quiet = {0.5});
    const double expected = loudDistortion + (quietDistortion - loudDistortion) * 0.001;
    EXPECT_NEAR(tube.envelope(), expected, 1e-12);
    std::vector<double> more(20000, 0.5);
    processMono(tube, more);
    EXPECT_NEAR(tube.envelope(), quietDistortion, 1e-6);
}

TEST(TubeStage, StereoChannelsFollowTheSameSettingTrajectory) {
    TubeStage tube;
    configure(tube, 1.5);
    tube.setInputGain(3.0);
    auto left = sine(0.3, 300.0, 44100.0, 2000);
    auto right = left;
    tube.process(left.data(), right.data(), 0, 2000, false);
    for (size_t i = 0; i < left.size(); ++i)
        ASSERT_EQ(left[i], right[i]) << i;
}

TEST(TubeStage, EnvelopeModulationLiftsTheDistortedOutput) {
    TubeStage plain;
    configure(plain, 1.0);
    TubeStage modulated;
    configure(modulated, 1.0);
    modulated.setEnvelopeModulation(true);
    double l1 = 0.8, r1 = 0.8, l2 = 0.8, r2 = 0.8;
    for (int i = 0; i < 10; ++i) {
        l1 = r1 = l2 = r2 = 0.8;
        plain.processFrame(l1, r1, false);
        modulated.processFrame(l2, r2, false);
    }
    const double env = modulated.envelope();
    EXPECT_GT(env, 0.0);
    EXPECT_NEAR(l2, l1 * (1.0 + 0.707 * env), 1e-12);
}

TEST(TubeStage, ResetClearsTheEnvelopeButKeepsSettings) {
    TubeStage tube;
    configure(tube, 1.7);
    std::vector<double> burst(100, 0.9);
    processMono(tube, burst);
    ASSERT_GT(tube.envelope(), 0.0);
    tube.reset();
    EXPECT_EQ(tube.envelope(), 0.0);
    EXPECT_EQ(tube.drive(), 1.7);
}
