// Cost of the strip per stereo frame, reported as nanoseconds per frame and as a multiple of
// real time at 44.1 kHz. Run with `make bench`.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "core/ChannelStripEffect.h"

using namespace pellucer;

namespace {

constexpr int32_t kBlock = 512;
constexpr double kSampleRate = 44100.0;

// A voice-like test signal: a few partials with a slow level swell, the same on every run.
void fillSignal(std::vector<float>& left, std::vector<float>& right) {
    uint32_t seed = 1;
    for (size_t i = 0; i < left.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        const double noise = (static_cast<double>(seed >> 8) / 8388608.0 - 1.0) * 0.05;
        const double t = static_cast<double>(i) / kSampleRate;
        const double swell = 0.3 + 0.25 * std::sin(2.0 * std::numbers::pi * 0.7 * t);
        const double tone = std::sin(2.0 * std::numbers::pi * 220.0 * t) + 0.4 * std::sin(2.0 * std::numbers::pi * 660.0 * t);
        left[i] = static_cast<float>(swell * tone + noise);
        right[i] = static_cast<float>(swell * tone - noise);
    }
}

void runStrip(benchmark::State& state, ChannelStripEffect& effect) {
    std::vector<float> inL(kBlock * 64), inR(kBlock * 64), outL(kBlock), outR(kBlock);
    fillSignal(inL, inR);
    size_t position = 0;
    double seconds = 0.0;
    for (auto _ : state) {
        float* ins[2] = {inL.data() + position, inR.data() + position};
        float* outs[2] = {outL.data(), outR.data()};
        const auto start = std::chrono::steady_clock::now();
        effect.processReplacing(ins, outs, kBlock);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        benchmark::DoNotOptimize(outL.data());
        state.SetIterationTime(elapsed.count());
        seconds += elapsed.count();
        position = (position + kBlock) % inL.size();
    }
    const auto frames = static_cast<double>(state.iterations()) * kBlock;
    state.counters["ns_per_stereo_frame"] = seconds * 1e9 / frames;
    state.counters["realtime_factor"] = frames / kSampleRate / seconds;
}

// Every stage off, tubes off: the cost of the spine (conversion, noise, fades, pad, meters).
void BM_StripNeutral(benchmark::State& state) {
    ChannelStripEffect effect(nullptr);
    runStrip(state, effect);
}

// Every stage on and doing work: tubes, compander, equaliser with all band tubes, de-esser,
// doubler and a filtered feedback delay.
void BM_StripEverythingOn(benchmark::State& state) {
    ChannelStripEffect effect(nullptr);
    const std::pair<int32_t, float> settings[] = {
        {kInputTubeEnable, 1.0f},  {kInputTubeSaturation, 0.6f}, {kCompanderEnable, 1.0f},
        {kCompressorThresh, 0.6f}, {kCompressorRatio, 0.5f},     {kExpanderThresh, 0.5f},
        {kExpanderRatio, 0.3f},    {kCompanderAttack, 0.3f},     {kEqEnable, 1.0f},
        {kEqTubeSaturation, 0.5f}, {kEqTubeLowEnable, 1.0f},     {kEqTubeMidEnable, 1.0f},
        {kEqTubeHighEnable, 1.0f}, {kEqLowGain, 0.7f},           {kEqMidGain, 0.3f},
        {kEqHighGain, 0.65f},      {kDeEsserEnable, 1.0f},       {kDeEsserDepth, 0.8f},
        {kDoublerEnable, 1.0f},    {kDoublerPresence, 0.6f},     {kDelayEnable, 1.0f},
        {kDelayFeedback, 0.6f},    {kDelayFilterMode, 0.5f},     {kDelayFilterFreq, 0.5f},
        {kOutputTubeEnable, 1.0f}, {kOutputTubeSaturation, 0.4f},
    };
    for (auto [index, value] : settings)
        effect.setParameter(index, value);
    runStrip(state, effect);
}

// The jobs of a typical chain of separate plug-ins: input tube, de-esser, compressor with
// gate, three-band equaliser, filtered delay and output tube (no doubler, no band tubes).
void BM_StripComparableChain(benchmark::State& state) {
    ChannelStripEffect effect(nullptr);
    const std::pair<int32_t, float> settings[] = {
        {kInputTubeEnable, 1.0f},  {kInputTubeSaturation, 0.6f}, {kDeEsserEnable, 1.0f},
        {kDeEsserDepth, 0.8f},     {kCompanderEnable, 1.0f},     {kCompressorThresh, 0.6f},
        {kCompressorRatio, 0.5f},  {kExpanderThresh, 0.5f},      {kExpanderRatio, 0.3f},
        {kCompanderAttack, 0.3f},  {kEqEnable, 1.0f},            {kEqLowGain, 0.7f},
        {kEqMidGain, 0.3f},        {kEqHighGain, 0.65f},         {kDelayEnable, 1.0f},
        {kDelayFeedback, 0.6f},    {kDelayFilterMode, 0.5f},     {kDelayFilterFreq, 0.5f},
        {kOutputTubeEnable, 1.0f}, {kOutputTubeSaturation, 0.4f},
    };
    for (auto [index, value] : settings)
        effect.setParameter(index, value);
    runStrip(state, effect);
}

} // namespace

BENCHMARK(BM_StripNeutral)->UseManualTime();
BENCHMARK(BM_StripComparableChain)->UseManualTime();
BENCHMARK(BM_StripEverythingOn)->UseManualTime();
