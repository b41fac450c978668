// The controls' view of the channel strip, against a real engine: meter and reduction readings,
// the module order in icon terms, module moves and the graph curves.

#include "GUI/StripControlEngine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "Shared/GUI/GraphPanel.h"
#include "core/ChannelStripEffect.h"
#include "tests/TestSupport.h"

namespace pellucer {
namespace {

using test::FakeHost;

class StripControlEngineTest : public ::testing::Test {
protected:
    StripControlEngineTest() : effect(&FakeHost::callback), engine(effect) { host.attach(effect); }

    /// `seconds` of a sine at `amplitude` through the effect, in 512-frame blocks.
    void play(double amplitude, double seconds) {
        const auto frames = static_cast<size_t>(seconds * 44100.0);
        const std::vector<float> in = test::toFloat(test::sine(amplitude, 440.0, 44100.0, frames));
        std::vector<float> outL, outR;
        test::render(effect, in, in, outL, outR, 512);
    }

    FakeHost host;
    ChannelStripEffect effect;
    StripControlEngine engine;
};

TEST_F(StripControlEngineTest, MeterReadingsAreTheEngineReadoutForTheMeterIds) {
    // The level meters are published while an editor is open.
    effect.setEditor(new test::RecordingEditor);
    ChannelStripEffect twin(&FakeHost::callback);
    twin.setEditor(new test::RecordingEditor);
    FakeHost twinHost;
    twinHost.attach(twin);
    const std::vector<float> in = test::toFloat(test::sine(0.5, 440.0, 44100.0, 4096));
    std::vector<float> outL, outR;
    test::render(effect, in, in, outL, outR, 512);
    test::render(twin, in, in, outL, outR, 512);
    for (int32_t id = kMeterInputTube; id <= kMeterOutputRight; ++id)
        EXPECT_EQ(engine.meterReading(id), twin.meterValue(id)) << "meter " << id;
    // -6 dB on a 48 dB scale.
    EXPECT_NEAR(engine.meterReading(kMeterOutputLeft), (20.0 * std::log10(0.5) + 48.0) / 48.0, 0.01);
    EXPECT_EQ(engine.meterReading(41), 0.0f);
    EXPECT_EQ(engine.meterReading(53), 0.0f);
    EXPECT_EQ(engine.meterReading(-1), 0.0f);
}

TEST_F(StripControlEngineTest, CompressorReductionIsTheInverseOfItsGain) {
    EXPECT_EQ(engine.reductionReading(kMeterCompressorGain), 1.0f); // compander off
    effect.setParameter(kCompanderEnable, 1.0f);
    effect.setParameter(kCompressorThresh, 0.8f);   // -12 dB, 6 dB under the signal
    effect.setParameter(kCompressorRatio, 0.4014f); // 4:1
    play(0.5, 0.5);
    const double gain = effect.companderMeters(kMeterCompressorGain);
    ASSERT_LT(gain, 0.9);
    ASSERT_GT(gain, 0.25); // within what the bar shows
    EXPECT_NEAR(engine.reductionReading(kMeterCompressorGain), std::min(1.0 / gain, 4.0), 1e-5);
    // Above 12 dB the bar is full: the reading is held at 4.
    effect.setParameter(kCompressorThresh, 0.0f); // -60 dB
    effect.setParameter(kCompressorRatio, 1.0f);  // infinity
    play(0.5, 0.5);
    ASSERT_LT(effect.companderMeters(kMeterCompressorGain), 0.25);
    EXPECT_EQ(engine.reductionReading(kMeterCompressorGain), StripControlEngine::kMaxReduction);
    // Switched off, the plug-in shows no reduction at all.
    effect.setParameter(kPlugInEnable, 0.0f);
    EXPECT_EQ(engine.reductionReading(kMeterCompressorGain), 1.0f);
}

TEST_F(StripControlEngineTest, ExpanderReductionAndOvershootReading) {
    effect.setParameter(kCompanderEnable, 1.0f);
    effect.setParameter(kExpanderThresh, 1.0f); // -20 dB
    effect.setParameter(kExpanderRatio, 0.5f);
    play(0.01, 0.5); // -40 dB, well under the expander's threshold
    const double gain = effect.companderMeters(kMeterExpanderGain);
    ASSERT_LT(gain, 0.9);
    EXPECT_NEAR(engine.reductionReading(kMeterExpanderGain), std::min(1.0 / gain, 4.0), 1e-5);
    // The overshoot indicator is a ratio already (1 .. 4).
    EXPECT_NEAR(engine.reductionReading(kMeterCompanderOvershoot),
                std::clamp(effect.companderMeter(kMeterCompanderOvershoot), 1.0f, 4.0f), 1e-6);
    EXPECT_EQ(engine.reductionReading(kMeterDeEsserGain), 1.0f); // not a compander reading
    EXPECT_EQ(engine.reductionReading(0), 1.0f);
}

TEST_F(StripControlEngineTest, ModuleOrderInIconOrder) {
    // Icons: 0 compander, 1 EQ, 2 de-esser, 3 doubler, 4 delay.
    EXPECT_EQ(engine.moduleOrder(), (std::array<int32_t, 5>{2, 0, 1, 3, 4}));
    effect.setParameter(kReserved, 54321.0f); // delay, doubler, EQ, compander, de-esser
    EXPECT_EQ(engine.moduleOrder(), (std::array<int32_t, 5>{4, 3, 1, 0, 2}));
    EXPECT_EQ(StripControlEngine::iconForModule(kModuleDeEsser), 2);
    EXPECT_EQ(StripControlEngine::iconForModule(kModuleCompander), 0);
    EXPECT_EQ(StripControlEngine::iconForModule(5), -1);
    EXPECT_EQ(StripControlEngine::iconForModule(-1), -1);
}

TEST_F(StripControlEngineTest, MovesInsertBeforeTheModuleAtThePosition) {
    // The compander (position 1) dropped on the doubler's slot: the strip asks for position 4
    // (moves to the right name the position after the target) and the order becomes de-esser,
    // EQ, doubler, compander, delay.
    engine.moveModule(1, 4);
    EXPECT_EQ(effect.getParameter(kReserved), 13425.0f);
    EXPECT_EQ(engine.moduleOrder(), (std::array<int32_t, 5>{2, 1, 3, 0, 4}));
    // The delay to the front.
    engine.moveModule(4, 0);
    EXPECT_EQ(effect.getParameter(kReserved), 51342.0f);
    // Out of range changes nothing.
    engine.moveModule(5, 0);
    engine.moveModule(0, 6);
    EXPECT_EQ(effect.getParameter(kReserved), 51342.0f);
}

TEST_F(StripControlEngineTest, GraphsCarryTheEngineCurves) {
    effect.setParameter(kEqEnable, 1.0f);
    effect.setParameter(kEqMidGain, 0.9f);
    std::array<double, 2 * ChannelStripEffect::kCurvePoints> expected{};

    gui::GraphData eq;
    engine.graphData(gui::GraphPanel::kEq, eq);
    EXPECT_EQ(eq.mode, gui::GraphPanel::kEq);
    ASSERT_EQ(eq.curveCount, 1);
    EXPECT_EQ(eq.pointCounts[0], ChannelStripEffect::kCurvePoints);
    ASSERT_EQ(effect.equaliserCurve(expected.data()), 0);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), eq.curves[0].begin()));
    EXPECT_TRUE(eq.active);

    // The de-esser: what it listens to (high band) first, what passes (low band) second.
    gui::GraphData deEsser;
    engine.graphData(gui::GraphPanel::kDeEsser, deEsser);
    ASSERT_EQ(deEsser.curveCount, 2);
    ASSERT_EQ(effect.deEsserCurve(DeEsserCurve::HighBand, expected.data()), 0);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), deEsser.curves[0].begin()));
    ASSERT_EQ(effect.deEsserCurve(DeEsserCurve::LowBand, expected.data()), 0);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), deEsser.curves[1].begin()));
    EXPECT_FALSE(deEsser.active); // off in Full Reset

    gui::GraphData compander;
    effect.setParameter(kCompressorThresh, 0.5f);
    engine.graphData(gui::GraphPanel::kCompander, compander);
    ASSERT_EQ(compander.curveCount, 1);
    ASSERT_EQ(effect.companderTransferCurve(expected.data()), 0);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), compander.curves[0].begin()));
    EXPECT_DOUBLE_EQ(compander.compressorThresholdDb, -30.0);
    EXPECT_DOUBLE_EQ(compander.expanderThresholdDb, -55.0);

    gui::GraphData delay;
    effect.setParameter(kDelayEnable, 1.0f);
    engine.graphData(gui::GraphPanel::kDelay, delay);
    ASSERT_EQ(delay.curveCount, 1);
    ASSERT_EQ(effect.delayFilterCurve(expected.data()), 0);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), delay.curves[0].begin()));
    EXPECT_TRUE(delay.active);

    gui::GraphData doubler;
    doubler.curveCount = 2; // whatever was there before goes
    engine.graphData(gui::GraphPanel::kDoubler, doubler);
    EXPECT_EQ(doubler.curveCount, 0);
    EXPECT_EQ(doubler.mode, gui::GraphPanel::kDoubler);

    gui::GraphData unknown;
    engine.graphData(9, unknown);
    EXPECT_EQ(unknown.curveCount, 0);
    EXPECT_FALSE(unknown.active);
}

TEST_F(StripControlEngineTest, CurvesAreDimmedWhileTheirStageOrThePlugInIsOff) {
    gui::GraphData data;
    const std::array<std::pair<int32_t, int32_t>, 5> enables = {
        {{gui::GraphPanel::kDeEsser, kDeEsserEnable},
         {gui::GraphPanel::kCompander, kCompanderEnable},
         {gui::GraphPanel::kEq, kEqEnable},
         {gui::GraphPanel::kDoubler, kDoublerEnable},
         {gui::GraphPanel::kDelay, kDelayEnable}}};
    for (const auto& [mode, enable] : enables) {
        effect.setParameter(enable, 0.0f);
        engine.graphData(mode, data);
        EXPECT_FALSE(data.active) << "mode " << mode;
        effect.setParameter(enable, 1.0f);
        engine.graphData(mode, data);
        EXPECT_TRUE(data.active) << "mode " << mode;
        effect.setParameter(kPlugInEnable, 0.0f);
        engine.graphData(mode, data);
        EXPECT_FALSE(data.active) << "mode " << mode;
        effect.setParameter(kPlugInEnable, 1.0f);
    }
}

} // namespace
} // namespace pellucer
