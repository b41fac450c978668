#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include "core/ChannelStripEffect.h"
#include "core/ParameterTable.h"
#include "tests/TestSupport.h"

using namespace pellucer;
using namespace pellucer::test;

namespace {

// The unity path adds at most the anti-denormal noise, then rounds to single precision.
constexpr double kUnityTolerance = 1.0e-7 + 1.2e-7;

struct Processing : ::testing::Test {
    FakeHost host;
    ChannelStripEffect effect{FakeHost::callback};
    Processing() { host.attach(effect); }
};

} // namespace

TEST_F(Processing, LatencyIsOneMillisecondRounded) {
    EXPECT_EQ(effect.latency(), 44);
    EXPECT_EQ(effect.getAeffect()->initialDelay, 44);
    for (auto [rate, frames] : {std::pair{48000.0f, 48}, {22050.0f, 22}, {192000.0f, 192}, {44100.0f, 44}}) {
        effect.setSampleRate(rate);
        EXPECT_EQ(effect.latency(), frames) << rate;
        EXPECT_EQ(effect.getAeffect()->initialDelay, frames);
        EXPECT_EQ(effect.getSampleRate(), rate);
    }
}

TEST_F(Processing, UnityPathDelaysByTheLatencyAndAddsOnlyTheNoise) {
    // 32 and 64 kHz make latencies that are powers of two (32 and 64 frames).
    for (float rate : {44100.0f, 48000.0f, 32000.0f, 64000.0f, 22050.0f}) {
        effect.setSampleRate(rate);
        const auto inL = toFloat(noise(0.8, 6000, 1));
        const auto inR = toFloat(noise(0.8, 6000, 2));
        std::vector<float> outL, outR;
        render(effect, inL, inR, outL, outR, 512);
        expectDelayed(inL, outL, effect.latency(), kUnityTolerance);
        expectDelayed(inR, outR, effect.latency(), kUnityTolerance);
    }
}

TEST_F(Processing, InPlaceAndDoublePrecisionCallsGiveTheSameDelayedInput) {
    auto buffer = toFloat(noise(0.5, 2000, 3));
    const auto original = buffer;
    auto right = buffer;
    float* io[2] = {buffer.data(), right.data()};
    effect.processReplacing(io, io, 2000);
    expectDelayed(original, buffer, 44, kUnityTolerance);

    std::vector<double> inL = noise(0.5, 3000, 7), inR = inL, outL(inL.size()), outR(inL.size());
    double* ins[2] = {inL.data(), inR.data()};
    double* outs[2] = {outL.data(), outR.data()};
    effect.processDoubleReplacing(ins, outs, static_cast<int32_t>(inL.size()));
    for (size_t i = 44; i < inL.size(); ++i)
        ASSERT_NEAR(outL[i], inL[i - 44], 1.0e-7);
}

TEST_F(Processing, SplittingIntoBlocksChangesNothing) {
    effect.setParameter(kInputTubeEnable, 1.0f);
    effect.setParameter(kInputTubeSaturation, 0.8f);
    effect.setParameter(kOutputTubeEnable, 1.0f);
    effect.setParameter(kOutputGain, 0.3f);
    const auto inL = toFloat(sine(0.9, 220.0, 44100.0, 20000));
    const auto inR = toFloat(noise(0.7, 20000, 9));

    ChannelStripEffect other(nullptr);
    for (int32_t i = 0; i < kNumParams; ++i)
        other.setParameter(i, effect.getParameter(i));
    std::vector<float> oneL, oneR, splitL, splitR;
    // Let the tube settings settle (they move on every eighth sample of a block), then compare.
    const std::vector<float> silence(4410, 0.0f);
    render(effect, silence, silence, oneL, oneR, 4410);
    render(other, silence, silence, oneL, oneR, 4410);
    render(effect, inL, inR, oneL, oneR, 20000); // one block, longer than the work buffers
    // Random block sizes, 0-frame blocks included.
    splitL.assign(inL.size(), 0.0f);
    splitR.assign(inL.size(), 0.0f);
    uint32_t seed = 99;
    for (size_t pos = 0; pos < inL.size();) {
        seed = seed * 1664525u + 1013904223u;
        const auto n = static_cast<int32_t>(std::min<size_t>((seed >> 20) % 700, inL.size() - pos));
        float* in[2] = {const_cast<float*>(inL.data() + pos), const_cast<float*>(inR.data() + pos)};
        float* out[2] = {splitL.data() + pos, splitR.data() + pos};
        other.processReplacing(in, out, n);
        pos += static_cast<size_t>(n);
    }
    EXPECT_EQ(std::memcmp(oneL.data(), splitL.data(), oneL.size() * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(oneR.data(), splitR.data(), oneR.size() * sizeof(float)), 0);
}

TEST_F(Processing, BypassFadesOutThenPassesTheInputDelayedByTheLatency) {
    effect.setParameter(kOutputGain, 0.0f); // -24 dB, so processed and dry differ clearly
    const auto in = toFloat(sine(0.5, 300.0, 44100.0, 44100));
    std::vector<float> outL, outR;
    render(effect, in, in, outL, outR, 256);
    effect.setParameter(kPlugInEnable, 0.0f);
    render(effect, in, in, outL, outR, 256);
    // The fade takes about 50 ms to 90 %; the output moves smoothly from -24 dB to the dry level.
    double maxStep = 0.0;
    for (size_t i = 1; i < 4000; ++i)
        maxStep = std::max(maxStep, std::fabs(static_cast<double>(outL[i]) - outL[i - 1]));
    EXPECT_LT(maxStep, 0.05);
    // Well after the fade: the input itself, delayed by L, bit for bit.
    for (size_t i = 30000; i < in.size(); ++i)
        ASSERT_EQ(outL[i], in[i - 44]) << i;
    // Back on: the processed level returns.
    effect.setParameter(kPlugInEnable, 1.0f);
    render(effect, in, in, outL, outR, 256);
    EXPECT_NEAR(peak(outL, 30000), 0.5 * dbToGain(-24.0), 1e-4);
}

TEST_F(Processing, OversizedBlocksAndSkippedBlocksLeaveOutputsUntouched) {
    constexpr int32_t kFrames = 32768;
    std::vector<float> in(kFrames, 0.25f), outL(kFrames, 7.0f), outR(kFrames, 7.0f);
    float* ins[2] = {in.data(), in.data()};
    float* outs[2] = {outL.data(), outR.data()};
    effect.processReplacing(ins, outs, kFrames);
    EXPECT_EQ(outL.front(), 7.0f);
    EXPECT_EQ(outR.back(), 7.0f);
    EXPECT_EQ(effect.frameCounter(), 0u);
    effect.processReplacing(ins, outs, kFrames - 1);
    EXPECT_NE(outL[kFrames - 2], 7.0f);
    EXPECT_EQ(outL[kFrames - 1], 7.0f);
}

namespace {
ChannelStripEffect* gLoadingEffect = nullptr;
int gBlocksTried = 0;
bool gOutputUntouched = true;
} // namespace

TEST_F(Processing, BlocksDuringAProgramLoadAreSkipped) {
    // The editor hears every parameter of the program as it is applied; a block processed from
    // there runs while the program is loading and must not touch its outputs.
    auto* editor = new RecordingEditor;
    effect.setEditor(editor);
    gLoadingEffect = &effect;
    gBlocksTried = 0;
    gOutputUntouched = true;
    editor->onChange = [](int32_t, float) {
        std::vector<float> in(64, 0.5f), out(64, 3.0f), outR(64, 3.0f);
        float* ins[2] = {in.data(), in.data()};
        float* outs[2] = {out.data(), outR.data()};
        gLoadingEffect->processReplacing(ins, outs, 64);
        ++gBlocksTried;
        gOutputUntouched = gOutputUntouched && out[0] == 3.0f && outR[63] == 3.0f;
    };
    effect.setProgram(0);
    EXPECT_EQ(gBlocksTried, kNumParams);
    EXPECT_TRUE(gOutputUntouched);
    EXPECT_EQ(effect.frameCounter(), 0u);
    EXPECT_EQ(editor->refreshes, 1);
    editor->onChange = nullptr;
}

TEST_F(Processing, BadHostInputIsRefusedWithoutCrashing) {
    std::vector<float> a(64, 0.1f), b(64, 0.1f);
    float* ins[2] = {a.data(), b.data()};
    float* outs[2] = {a.data(), b.data()};
    float* nulls[2] = {nullptr, nullptr};
    effect.processReplacing(nullptr, outs, 64);
    effect.processReplacing(ins, nullptr, 64);
    effect.processReplacing(nulls, outs, 64);
    effect.processReplacing(ins, nulls, 64);
    effect.processReplacing(ins, outs, -5);
    EXPECT_EQ(effect.frameCounter(), 0u);
    effect.processReplacing(ins, outs, 0);
    EXPECT_EQ(effect.frameCounter(), 0u);
    // A missing second channel is run as mono.
    float* oneIn[2] = {a.data(), nullptr};
    float* oneOut[2] = {b.data(), nullptr};
    effect.processReplacing(oneIn, oneOut, 64);
    EXPECT_EQ(effect.frameCounter(), 64u);
}

TEST_F(Processing, MonoInputDrivesBothOutputs) {
    vst::VstSpeakerArrangement mono{}, stereo{};
    mono.numChannels = 1;
    stereo.numChannels = 2;
    EXPECT_FALSE(effect.setSpeakerArrangement(nullptr, &stereo));
    ASSERT_TRUE(effect.setSpeakerArrangement(&mono, &stereo));
    EXPECT_TRUE(effect.monoInput());
    const auto in = toFloat(noise(0.5, 3000, 4));
    const std::vector<float> garbage(3000, 0.9f); // the second input must not be read
    std::vector<float> outL, outR;
    render(effect, in, garbage, outL, outR, 300);
    expectDelayed(in, outL, 44, kUnityTolerance);
    EXPECT_EQ(std::memcmp(outL.data(), outR.data(), outL.size() * sizeof(float)), 0);
}

TEST_F(Processing, TubesAreAudibleThroughTheEngine) {
    effect.setParameter(kInputTubeEnable, 1.0f);
    effect.setParameter(kInputTubeSaturation, normalisedFromStage(kInputTubeSaturation, 1.0));
    const auto in = toFloat(sine(1.0, 441.0, 44100.0, 8820));
    std::vector<float> outL, outR;
    render(effect, in, in, outL, outR, 512);
    EXPECT_NEAR(peak(outL, 1000), 0.561, 0.002);
    // Output gain +24 dB on a quiet signal.
    effect.setParameter(kInputTubeEnable, 0.0f);
    effect.setParameter(kOutputGain, 1.0f);
    const auto quiet = toFloat(sine(0.01, 441.0, 44100.0, 8820));
    render(effect, quiet, quiet, outL, outR, 512);
    EXPECT_NEAR(peak(outL, 4000), 0.01 * dbToGain(24.0), 1e-5);
}

TEST_F(Processing, NoiseTableFollowsTheWindowsRuntimeSequence) {
    // The Windows C runtime's rand() with its default seed begins 41, 18467, 6334, 26500.
    const auto& table = effect.noiseTable();
    const int first[] = {41, 18467, 6334, 26500};
    for (int k = 0; k < 4; ++k)
        EXPECT_DOUBLE_EQ(table[k], (first[k] - 16383) / 16383.0 * 1e-7);
    for (double n : table)
        ASSERT_LE(std::fabs(n), 1.0000001e-7);
    // Each instance has its own generator, so two engines make identical noise.
    ChannelStripEffect another(nullptr);
    EXPECT_EQ(another.noiseTable(), table);
}

TEST_F(Processing, HostTempoIsPolledAndTransportStartResetsTheChain) {
    host.setTempo(120.0);
    std::vector<float> a(64, 0.0f), b(64, 0.0f);
    float* io[2] = {a.data(), b.data()};
    effect.processReplacing(io, io, 64);
    EXPECT_EQ(effect.tempo(), 120.0);
    host.setTempo(0.0);
    effect.processReplacing(io, io, 64);
    EXPECT_EQ(effect.tempo(), 120.0);
    host.setTempo(std::numeric_limits<double>::quiet_NaN());
    effect.processReplacing(io, io, 0);
    EXPECT_EQ(effect.tempo(), 120.0);
    // A synced delay follows the host tempo.
    effect.setParameter(kDelayTime, 10.5f / 16.0f); // quarter note
    effect.setParameter(kDelaySyncEnable, 1.0f);
    EXPECT_DOUBLE_EQ(effect.delay().timeSeconds(), 0.5);
    host.setTempo(60.0);
    effect.processReplacing(io, io, 64);
    EXPECT_DOUBLE_EQ(effect.delay().timeSeconds(), 1.0);
}

TEST_F(Processing, LevelMetersFollowTheirBallistics) {
    auto* editor = new RecordingEditor;
    effect.setEditor(editor);
    const auto full = toFloat(sine(1.0, 441.0, 44100.0, 4410));
    std::vector<float> outL, outR;
    render(effect, full, full, outL, outR, 4410);
    EXPECT_NEAR(effect.meterValue(kMeterInputLeft), 1.0f, 1e-6);
    EXPECT_NEAR(effect.meterValue(kMeterOutputRight), 1.0f, 1e-6);
    // -24 dBFS sits half way up the 48 dB bar, but a falling level decays by 0.8 per read.
    const auto quiet = toFloat(sine(dbToGain(-24.0), 441.0, 44100.0, 4410));
    render(effect, quiet, quiet, outL, outR, 4410);
    EXPECT_NEAR(effect.meterValue(kMeterInputLeft), 0.8f, 1e-5);
    EXPECT_NEAR(effect.meterValue(kMeterInputLeft), 0.64f, 1e-5);
    for (int i = 0; i < 10; ++i)
        effect.meterValue(kMeterInputLeft);
    EXPECT_NEAR(effect.meterValue(kMeterInputLeft), 0.5f, 1e-4);
    // A 0-frame block publishes silence.
    float* io[2] = {outL.data(), outR.data()};
    effect.processReplacing(io, io, 0);
    EXPECT_EQ(effect.meterValue(kMeterOutputLeft), 0.0f);
    // Tube meter: 0 while the tube is off, the shaped envelope when it runs.
    EXPECT_EQ(effect.meterValue(kMeterInputTube), 0.0f);
    effect.setParameter(kInputTubeEnable, 1.0f);
    render(effect, full, full, outL, outR, 4410);
    const double env = effect.inputTube().envelope();
    EXPECT_NEAR(effect.meterValue(kMeterInputTube), std::pow(env, 0.7), 1e-5);
    // Reduction meters rest at zero while their stage is off; everything is 0 when bypassed.
    EXPECT_EQ(effect.meterValue(kMeterCompressorGain), 0.0f);
    effect.setParameter(kPlugInEnable, 0.0f);
    EXPECT_EQ(effect.meterValue(kMeterInputTube), 0.0f);
    EXPECT_EQ(effect.meterValue(41), 0.0f);
}

TEST_F(Processing, RefreshRequestOnlyTellsTheEditor) {
    auto* editor = new RecordingEditor;
    effect.setEditor(editor);
    effect.setParameter(kInputGain, 0.75f);
    const ProgramRecord before = effect.programs()[0];
    editor->changes.clear();
    effect.setParameter(kRefreshRequest, 2.2f);
    ASSERT_EQ(editor->changes.size(), 1u);
    EXPECT_EQ(editor->changes[0].index, kInputGain);
    EXPECT_NEAR(editor->changes[0].value, 0.75f, 1e-6);
    EXPECT_EQ(std::memcmp(&before, &effect.programs()[0], sizeof(ProgramRecord)), 0);
}

TEST_F(Processing, AutomatedChangesReachTheHost) {
    effect.setParameterAutomated(kDelayLevel, 0.3f);
    EXPECT_EQ(host.automateCalls, 1);
    EXPECT_EQ(host.lastAutomatedIndex, kDelayLevel);
    EXPECT_EQ(host.lastAutomatedValue, 0.3f);
    EXPECT_NEAR(effect.getParameter(kDelayLevel), 0.3f, 1e-6);
}

TEST_F(Processing, SampleRateChangesWhileAnotherThreadProcesses) {
    std::atomic<bool> stop{false};
    std::atomic<int> blocks{0};
    std::thread audio([&] {
        std::vector<float> inL(512), inR(512), outL(512), outR(512);
        auto s = noise(0.5, 512, 5);
        std::copy(s.begin(), s.end(), inL.begin());
        std::copy(s.begin(), s.end(), inR.begin());
        float* ins[2] = {inL.data(), inR.data()};
        float* outs[2] = {outL.data(), outR.data()};
        while (!stop.load()) {
            effect.processReplacing(ins, outs, 512);
            for (float x : outL)
                if (!std::isfinite(x))
                    std::abort();
            blocks.fetch_add(1);
        }
    });
    const float rates[] = {48000.0f, 96000.0f, 22050.0f, 192000.0f, 44100.0f};
    for (int round = 0; round < 40; ++round) {
        effect.setSampleRate(rates[round % 5]);
        effect.setParameter(kReserved, round % 2 ? 54321.0f : 12345.0f);
        effect.setParameter(kInputTubeEnable, round % 3 ? 1.0f : 0.0f);
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    stop.store(true);
    audio.join();
    EXPECT_GT(blocks.load(), 0);
    EXPECT_EQ(effect.latency(), 44);

    // Afterwards the unity path is exact again.
    effect.setParameter(kInputTubeEnable, 0.0f);
    const auto in = toFloat(noise(0.3, 4000, 6));
    std::vector<float> outL, outR;
    render(effect, in, in, outL, outR, 4000);
    render(effect, in, in, outL, outR, 4000);
    expectDelayed(in, outL, 44, kUnityTolerance, 44);
}

TEST_F(Processing, SettingTheSameRateIsFree) {
    const auto before = effect.noiseTable();
    effect.setSampleRate(44100.0f);
    EXPECT_EQ(effect.noiseTable(), before); // not refilled: nothing happened
    effect.setSampleRate(0.0f);
    effect.setSampleRate(NAN);
    effect.setSampleRate(-48000.0f);
    EXPECT_EQ(effect.engineSampleRate(), 44100.0f);
    effect.setSampleRate(48000.0f);
    EXPECT_NE(effect.noiseTable(), before); // a real change refills it from the running sequence
}
