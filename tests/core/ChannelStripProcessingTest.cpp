// The engine's processing as a host drives it: latency, bypass, refused calls, the order of the
// stages and their quiet tails.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <xmmintrin.h>
#include <tuple>
#include <vector>

#include "core/ChannelStripEffect.h"
#include "core/ParameterTable.h"
#include "tests/TestSupport.h"

using namespace pellucer;
using namespace pellucer::test;

namespace {

struct Processing : ::testing::Test {
    ChannelStripEffect effect{nullptr};
};

// A loud 10 ms burst after a second of silence (every fade settles in it): the peak 95..130 ms
// after the burst against the burst's own.
double echoToBurst(ChannelStripEffect& effect) {
    constexpr size_t kPreRoll = 44100;
    std::vector<float> in(kPreRoll + 22050, 0.0f), outL, outR;
    for (size_t i = 0; i < 441; ++i)
        in[kPreRoll + i] = static_cast<float>(0.9 * std::sin(2.0 * std::numbers::pi * i / 100.0));
    render(effect, in, in, outL, outR, 512);
    const auto at = [](double ms) { return kPreRoll + static_cast<size_t>(ms * 44.1); };
    return peak(outL, at(95), at(130)) / peak(outL, at(0), at(30));
}

} // namespace

// Latency is one millisecond in whole frames; Full Reset passes the input delayed by exactly that
// plus at most the 1e-7 anti-denormal noise, rounded to single precision, in blocks of any size:
// one frame, fewer frames than the latency, as many, more than the pad holds. 32 and 64 kHz make
// latencies that are powers of two. Rates no host can mean are ignored.
TEST_F(Processing, UnityPathDelaysByOneMillisecondAtEveryRate) {
    for (const auto& [rate, frames, block] : {std::tuple{48000.0f, 48, 1}, {32000.0f, 32, 7}, {64000.0f, 64, 64},
                                              {22050.0f, 22, 4097}, {192000.0f, 192, 255}, {44100.0f, 44, 512}}) {
        effect.setSampleRate(rate);
        ASSERT_EQ(effect.latency(), frames) << rate;
        EXPECT_EQ(effect.getAeffect()->initialDelay, frames);
        const auto inL = toFloat(noise(0.8, 6000, 1)), inR = toFloat(noise(0.8, 6000, 2));
        std::vector<float> outL, outR;
        render(effect, inL, inR, outL, outR, block);
        expectDelayed(inL, outL, static_cast<size_t>(frames), 2.2e-7);
        expectDelayed(inR, outR, static_cast<size_t>(frames), 2.2e-7);
    }
    for (float bad : {0.0f, NAN, -48000.0f})
        effect.setSampleRate(bad);
    EXPECT_EQ(effect.engineSampleRate(), 44100.0f);
}

// The anti-denormal noise is the Windows C runtime's rand() from its default seed (41, 18467, ...)
// scaled to 1e-7; each instance has its own generator.
TEST_F(Processing, NoiseTableFollowsTheWindowsRuntimeSequence) {
    const auto table = effect.noiseTable();
    for (const auto& [k, r] : {std::pair{0, 41}, {1, 18467}, {2, 6334}, {3, 26500}})
        EXPECT_DOUBLE_EQ(table[k], (r - 16383) / 16383.0 * 1e-7);
    EXPECT_EQ(ChannelStripEffect(nullptr).noiseTable(), table);
}

// Bypassed, the output moves smoothly from the processed level (-24 dB here) to the input itself,
// delayed by the latency, bit for bit; switched on again, it moves as smoothly back to the
// processed level. Either way the first 2 ms after the switch sound mostly as before it.
TEST_F(Processing, BypassFadesOutThenPassesTheInputDelayedByTheLatency) {
    effect.setParameter(kOutputGain, 0.0f);
    const auto in = toFloat(sine(0.5, 300.0, 44100.0, 44100));
    std::vector<float> outL, outR;
    render(effect, in, in, outL, outR, 256);
    for (float on : {0.0f, 1.0f}) {
        effect.setParameter(kPlugInEnable, on);
        render(effect, in, in, outL, outR, 256);
        for (size_t i = 1; i < 4000; ++i)
            ASSERT_LT(std::fabs(outL[i] - outL[i - 1]), 0.05) << on << " " << i;
        EXPECT_TRUE(on == 0.0f ? peak(outL, 44, 132) < 0.1 : peak(outL, 44, 132) > 0.4) << on;
    }
    EXPECT_NEAR(peak(outL, 30000), 0.5 * dbToGain(-24.0), 1e-4);
    effect.setParameter(kPlugInEnable, 0.0f);
    render(effect, in, in, outL, outR, 256);
    for (size_t i = 30000; i < in.size(); ++i)
        ASSERT_EQ(outL[i], in[i - 44]) << i;
}

// Calls a host should not make leave the outputs untouched and count no frames; a block of the
// work buffers' size (32768) or more is refused whole; a missing second channel is run as mono.
TEST_F(Processing, BadHostCallsLeaveOutputsUntouched) {
    constexpr int32_t kFrames = 32768;
    std::vector<float> in(kFrames, 0.25f), outL(kFrames, 7.0f), outR(kFrames, 7.0f);
    float *ins[2] = {in.data(), in.data()}, *outs[2] = {outL.data(), outR.data()}, *nulls[2] = {}, **none = nullptr;
    for (const auto& [i, o, n] : {std::tuple{none, outs, 64}, {ins, none, 64},
                                  {nulls, outs, 64}, {ins, nulls, 64}, {ins, outs, -5}, {ins, outs, 0},
                                  {ins, outs, kFrames}})
        effect.processReplacing(i, o, n);
    EXPECT_TRUE(outL.front() == 7.0f && outR.back() == 7.0f && effect.frameCounter() == 0u);
    float *oneIn[2] = {in.data(), nullptr}, *oneOut[2] = {outL.data(), nullptr};
    effect.processReplacing(oneIn, oneOut, 64);
    EXPECT_EQ(effect.frameCounter(), 64u);
    effect.processReplacing(ins, outs, kFrames - 1);
    EXPECT_TRUE(outL[kFrames - 2] != 7.0f && outL[kFrames - 1] == 7.0f);
}

// Equaliser with its saturating tube, then a 100 ms echo at a quarter of the level: the echo is
// a quarter of the processed burst. Echo first (54321): the quiet echo is saturated far less on
// its own, so it comes out relatively louder.
TEST(EngineStages, OrderCodeDecidesWhichStageComesFirst) {
    double ratios[2];
    for (int k : {0, 1}) {
        ChannelStripEffect effect(nullptr);
        for (int32_t i : {kEqEnable, kEqTubeLowEnable, kEqTubeMidEnable, kEqTubeHighEnable, kEqTubeSaturation,
                          kDelayEnable, kDelayFilterFreq})
            effect.setParameter(i, 1.0f);
        effect.setParameter(kDelayTime, normalisedFromStage(kDelayTime, 0.1));
        effect.setParameter(kDelayLevel, 0.5f);
        effect.setParameter(kReserved, k == 0 ? 12345.0f : 54321.0f);
        ratios[k] = echoToBurst(effect);
    }
    EXPECT_NEAR(ratios[0], 0.25, 0.01);
    EXPECT_GT(ratios[1], 0.3);
}

// The de-esser's split filters take latency of their own; the pad gives it up, so with the split
// alone (depth 0) the output is the input delayed by exactly L at every rate once the enable
// fade (under half a second) is over.
TEST(EngineStages, EveryRateKeepsTheTotalLatencyWithTheDeEsserOn) {
    for (float rate : {22050.0f, 44100.0f, 48000.0f, 96000.0f, 192000.0f}) {
        ChannelStripEffect effect(nullptr);
        effect.setSampleRate(rate);
        effect.setParameter(kDeEsserEnable, 1.0f);
        effect.setParameter(kDeEsserDepth, 0.0f);
        effect.setParameter(kDeEsserFreq, 0.5f);
        const auto in = toFloat(noise(0.3, static_cast<size_t>(rate * 0.8), 3));
        std::vector<float> outL, outR;
        render(effect, in, in, outL, outR, 256);
        SCOPED_TRACE(rate);
        expectDelayed(in, outL, static_cast<size_t>(effect.latency()), 1e-5, static_cast<size_t>(rate * 0.5));
    }
}

// Every stage on, the delay at full feedback: after a full-scale square burst, nothing
// non-finite and nothing sub-normal reaches the host.
TEST(EngineStages, SilenceAfterALoudBurstStaysClean) {
    ChannelStripEffect effect(nullptr);
    effect.setProgram(29);
    for (int32_t i : {kCompanderEnable, kEqEnable, kDeEsserEnable, kDoublerEnable, kDelayEnable, kDelayFeedback})
        effect.setParameter(i, 1.0f);
    std::vector<float> in(44100 * 3, 0.0f), outL, outR;
    for (size_t i = 0; i < 4410; ++i)
        in[i] = (i / 20) % 2 ? 1.0f : -1.0f;
    render(effect, in, in, outL, outR, 512);
    for (size_t i = 0; i < outL.size(); ++i) {
        ASSERT_TRUE(std::isfinite(outL[i]) && std::isfinite(outR[i])) << i;
        ASSERT_TRUE(outL[i] == 0.0f || std::fabs(outL[i]) >= 1e-30f) << i;
    }
}

// The host's thread may run in any floating-point mode (here rounding toward zero, sub-normal
// numbers kept): the output has the same bits as under the default mode, and the host has its
// own mode back after every call.
TEST(EngineStages, TheHostsFloatModeNeitherReachesTheSoundNorIsLost) {
    constexpr unsigned kTowardZero = 0x7F80, kFlags = 0x3F;
    const auto in = toFloat(noise(0.5, 6000, 5));
    for (int32_t program : {0, 29}) {
        ChannelStripEffect a(nullptr), b(nullptr);
        a.setProgram(program);
        b.setProgram(program);
        std::vector<float> refL, refR, outL, outR;
        render(a, in, in, refL, refR, 500);
        const unsigned own = _mm_getcsr();
        _mm_setcsr(kTowardZero);
        render(b, in, in, outL, outR, 500);
        const unsigned after = _mm_getcsr();
        _mm_setcsr(own);
        EXPECT_EQ(after & ~kFlags, kTowardZero) << program;
        EXPECT_TRUE(outL == refL && outR == refR) << program;
    }
}
