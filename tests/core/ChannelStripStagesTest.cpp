// The stages as the engine runs them: order, curves and readings the editor asks for.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/ChannelStripEffect.h"
#include "core/ParameterTable.h"
#include "tests/TestSupport.h"

using namespace pellucer;
using namespace pellucer::test;

namespace {

// A loud 10 ms burst followed by silence, after a second of silence that lets every fade and
// time change settle.
struct BurstRender {
    static constexpr size_t kPreRoll = 44100;
    std::vector<float> outL, outR;

    explicit BurstRender(ChannelStripEffect& effect) {
        std::vector<float> in(kPreRoll + 22050, 0.0f);
        for (size_t i = 0; i < 441; ++i)
            in[kPreRoll + i] = static_cast<float>(0.9 * std::sin(2.0 * 3.14159265358979 * 441.0 * i / 44100.0));
        render(effect, in, in, outL, outR, 512);
    }
    // Peak of the output between `fromMs` and `toMs` after the burst (latency included).
    double peakBetween(double fromMs, double toMs) const {
        const auto at = [](double ms) { return kPreRoll + static_cast<size_t>(ms * 44.1); };
        return peak(outL, at(fromMs), at(toMs));
    }
};

void setUpSaturatingEqAndEcho(ChannelStripEffect& effect, float orderCode) {
    effect.setParameter(kEqEnable, 1.0f);
    effect.setParameter(kEqTubeLowEnable, 1.0f);
    effect.setParameter(kEqTubeMidEnable, 1.0f);
    effect.setParameter(kEqTubeHighEnable, 1.0f);
    effect.setParameter(kEqTubeSaturation, 1.0f); // drive 2
    effect.setParameter(kDelayEnable, 1.0f);
    effect.setParameter(kDelayTime, normalisedFromStage(kDelayTime, 0.1));
    effect.setParameter(kDelayLevel, 0.5f); // echo at a quarter of the level
    effect.setParameter(kDelayFeedback, 0.0f);
    effect.setParameter(kDelayFilterMode, 0.0f);
    effect.setParameter(kDelayFilterFreq, 1.0f); // flat
    effect.setParameter(kReserved, orderCode);
}

} // namespace

TEST(EngineStages, OrderCodeDecidesWhichStageComesFirst) {
    // Equaliser with its saturating tube, then the echo: the echo is an exact quarter of the
    // processed burst. Echo first (54321): the quiet echo goes through the tube on its own and
    // is saturated far less, so it comes out relatively louder.
    ChannelStripEffect eqFirst(nullptr);
    setUpSaturatingEqAndEcho(eqFirst, 12345.0f);
    const BurstRender a(eqFirst);
    const double burstA = a.peakBetween(0, 30);
    const double echoA = a.peakBetween(95, 130);
    EXPECT_NEAR(echoA / burstA, 0.25, 0.01);

    ChannelStripEffect delayFirst(nullptr);
    setUpSaturatingEqAndEcho(delayFirst, 54321.0f);
    EXPECT_EQ(delayFirst.moduleAt(0), kModuleDelay);
    const BurstRender b(delayFirst);
    const double ratio = b.peakBetween(95, 130) / b.peakBetween(0, 30);
    EXPECT_GT(ratio, 0.3);
}

TEST(EngineStages, EveryRateKeepsTheTotalLatencyWithTheDeEsserOn) {
    for (float rate : {22050.0f, 44100.0f, 48000.0f, 96000.0f, 192000.0f}) {
        ChannelStripEffect effect(nullptr);
        effect.setSampleRate(rate);
        effect.setParameter(kDeEsserEnable, 1.0f);
        effect.setParameter(kDeEsserDepth, 0.0f); // the split alone: the input, delayed
        effect.setParameter(kDeEsserFreq, 0.5f);
        const auto in = toFloat(noise(0.3, static_cast<size_t>(rate * 0.8), 3));
        std::vector<float> outL, outR;
        render(effect, in, in, outL, outR, 256);
        // Once the enable fade is over (it snaps shut after about 300 ms), the output is the
        // input delayed by exactly L: the pad gives up what the de-esser's filters take.
        const auto l = static_cast<size_t>(effect.latency());
        double worst = 0.0;
        for (size_t i = static_cast<size_t>(rate * 0.5); i < in.size(); ++i)
            worst = std::max(worst, std::fabs(static_cast<double>(outL[i]) - in[i - l]));
        EXPECT_LT(worst, 1e-5) << rate;
    }
}

TEST(EngineStages, CurvesForTheEditor) {
    ChannelStripEffect effect(nullptr);
    effect.setParameter(kEqMidGain, 1.0f); // +12 dB at the mid frequency
    effect.setParameter(kEqMidFreq, normalisedFromStage(kEqMidFreq, 1000.0));
    double points[2 * ChannelStripEffect::kCurvePoints];
    ASSERT_EQ(effect.equaliserCurve(points), 0);
    EXPECT_NEAR(points[0], 20.0, 1e-9);
    EXPECT_NEAR(points[2 * 49], 20000.0, 1e-6);
    double loudest = -100.0, loudestHz = 0.0;
    for (int k = 0; k < 50; ++k)
        if (points[2 * k + 1] > loudest) {
            loudest = points[2 * k + 1];
            loudestHz = points[2 * k];
        }
    EXPECT_NEAR(loudest, 12.0, 1.5);
    EXPECT_GT(loudestHz, 700.0);
    EXPECT_LT(loudestHz, 1400.0);
    EXPECT_NE(effect.equaliserCurve(nullptr), 0);

    ASSERT_EQ(effect.deEsserCurve(DeEsserCurve::LowBand, points), 0);
    EXPECT_NEAR(points[0], 500.0, 1e-9);
    ASSERT_EQ(effect.delayFilterCurve(points), 0);
    ASSERT_EQ(effect.companderTransferCurve(points), 0);
    EXPECT_NEAR(points[0], -90.0, 1e-9);
    EXPECT_NEAR(points[98], 0.0, 1e-9);
    double compressorDb = 0.0, expanderDb = 0.0;
    effect.companderThresholds(compressorDb, expanderDb);
    EXPECT_NEAR(compressorDb, -12.0, 1e-4);
    EXPECT_NEAR(expanderDb, -55.0, 1e-4);
}

TEST(EngineStages, CompanderReadingsFollowTheStage) {
    ChannelStripEffect effect(nullptr);
    EXPECT_EQ(effect.companderMeter(47), 1.0f); // compander off
    EXPECT_EQ(effect.companderMeters(45), 1.0f);
    effect.setParameter(kCompanderEnable, 1.0f);
    effect.setParameter(kCompressorThresh, normalisedFromStage(kCompressorThresh, -30.0));
    effect.setParameter(kCompressorRatio, 1.0f);
    EXPECT_EQ(effect.companderMeter(46), 0.0f);
    const auto loud = toFloat(sine(0.9, 441.0, 44100.0, 22050));
    std::vector<float> outL, outR;
    render(effect, loud, loud, outL, outR, 512);
    EXPECT_LT(effect.companderMeters(45), 0.2f); // well over 14 dB of reduction
    EXPECT_EQ(effect.companderMeters(45), static_cast<float>(effect.compander().compressorGain()));
    EXPECT_EQ(effect.companderMeters(12), 1.0f);
    EXPECT_GE(effect.companderMeter(47), 1.0f);
    // The reduction meter of the read-out shows it too.
    EXPECT_GT(effect.meterValue(kMeterCompressorGain), 0.5f);
    effect.setParameter(kPlugInEnable, 0.0f);
    EXPECT_EQ(effect.companderMeters(45), 1.0f);
    EXPECT_EQ(effect.companderMeter(47), 1.0f);
}

TEST(EngineStages, ResetMeterClearsTheOvershootDisplayOnly) {
    ChannelStripEffect effect(nullptr);
    auto* editor = new RecordingEditor;
    effect.setEditor(editor);
    effect.resetMeter(45);
    EXPECT_TRUE(editor->changes.empty());
    effect.resetMeter(47);
    ASSERT_EQ(editor->changes.size(), 1u);
    EXPECT_EQ(editor->changes[0].index, 47);
    EXPECT_EQ(editor->changes[0].value, 0.0f);
}

TEST(EngineStages, SilenceAfterALoudBurstStaysClean) {
    ChannelStripEffect effect(nullptr);
    effect.setProgram(29); // every stage in a heavy program
    for (int32_t i : {kCompanderEnable, kEqEnable, kDeEsserEnable, kDoublerEnable, kDelayEnable})
        effect.setParameter(i, 1.0f);
    effect.setParameter(kDelayFeedback, 1.0f);
    std::vector<float> in(44100 * 4, 0.0f);
    for (size_t i = 0; i < 4410; ++i)
        in[i] = (i / 20) % 2 ? 1.0f : -1.0f;
    std::vector<float> outL, outR;
    render(effect, in, in, outL, outR, 512);
    for (size_t i = 0; i < outL.size(); ++i) {
        ASSERT_TRUE(std::isfinite(outL[i]) && std::isfinite(outR[i])) << i;
        // Nothing sub-normal reaches the host.
        ASSERT_TRUE(outL[i] == 0.0f || std::fabs(outL[i]) >= 1e-30f) << i;
    }
}
