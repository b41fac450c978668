// Cost of the strip per stereo frame, reported as nanoseconds per frame and as a multiple of
// real time. One runner over a table of set-ups: the spine with every stage off, each stage on
// alone (the spine plus that stage: a stage that is off costs nothing once its fade is over),
// the comparable chain, everything on at 44.1, 96 and 192 kHz and in double precision, the
// bypassed plug-in, and a loud burst followed by ten seconds of digital silence (its two costs
// reported apart, so that a slowdown on decaying tails shows). Beside the mean, each reports its
// best pass through the signal (bench/BestPass.h). Run with `make bench`.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "bench/BestPass.h"
#include "bench/StripSettings.h"
#include "core/ChannelStripEffect.h"

using namespace pellucer;
using namespace pellucer::bench;

namespace {

constexpr int32_t kBlock = 512;

enum class Load {
    Steady,           ///< the voice-like signal, looped
    Bypassed,         ///< the same, with the plug-in switched off and its fade over
    BurstThenSilence, ///< one second of the signal near full scale, then ten seconds of zeros
};

struct SetUp {
    const char* name;
    Settings settings;
    double sampleRate = 44100.0;
    Load load = Load::Steady;
    bool doublePrecision = false;
};

const SetUp kSetUps[] = {
    {"BM_StripNeutral", {}},
    {"BM_StripComparableChain", kComparable},
    {"BM_StripEverythingOn", kEverythingOn},
    {"BM_StripAlone/InputTube", {kInputTubeOn}},
    {"BM_StripAlone/Compander", {kCompanderOn}},
    {"BM_StripAlone/Equaliser", {kEqualiserOn}},
    {"BM_StripAlone/EqualiserBandTubes", {kEqualiserOn, kEqBandTubesOn}},
    {"BM_StripAlone/DeEsser", {kDeEsserOn}},
    {"BM_StripAlone/Doubler", {kDoublerOn}},
    {"BM_StripAlone/Delay", {kDelayOn}},
    {"BM_StripAlone/OutputTube", {kOutputTubeOn}},
    {"BM_StripBypassed", kEverythingOn, 44100.0, Load::Bypassed},
    {"BM_StripAtRate/96000", kEverythingOn, 96000.0},
    {"BM_StripAtRate/192000", kEverythingOn, 192000.0},
    {"BM_StripDoublePrecision", kEverythingOn, 44100.0, Load::Steady, true},
    {"BM_StripBurstThenSilence", kEverythingOn, 44100.0, Load::BurstThenSilence},
};

void process(ChannelStripEffect& effect, float** ins, float** outs) { effect.processReplacing(ins, outs, kBlock); }
void process(ChannelStripEffect& effect, double** ins, double** outs) {
    effect.processDoubleReplacing(ins, outs, kBlock);
}

template <typename Sample>
void runStrip(benchmark::State& state, const SetUp& setUp) {
    ChannelStripEffect effect(nullptr);
    effect.setSampleRate(static_cast<float>(setUp.sampleRate));
    applySettings(setUp.settings, [&](int32_t index, float value) { effect.setParameter(index, value); });
    if (setUp.load == Load::Bypassed)
        effect.setParameter(kPlugInEnable, 0.0f);

    const bool burst = setUp.load == Load::BurstThenSilence;
    const auto secondBlocks = static_cast<size_t>(setUp.sampleRate / kBlock) + 1;
    const size_t signalFrames = (burst ? secondBlocks : 64) * kBlock;
    std::vector<Sample> inL(signalFrames), inR(signalFrames), outL(kBlock), outR(kBlock);
    const std::vector<Sample> zeros(kBlock);
    fillSignal(inL, inR, setUp.sampleRate, burst ? 1.2 : 1.0);

    auto timeBlock = [&](const Sample* left, const Sample* right) {
        Sample* ins[2] = {const_cast<Sample*>(left), const_cast<Sample*>(right)};
        Sample* outs[2] = {outL.data(), outR.data()};
        const auto start = std::chrono::steady_clock::now();
        process(effect, ins, outs);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        benchmark::DoNotOptimize(outL.data());
        return elapsed.count();
    };
    // One second first, so that the stages' enable fades and the bypass fade are over.
    for (size_t b = 0, position = 0; b < secondBlocks; ++b, position = (position + kBlock) % signalFrames)
        timeBlock(inL.data() + position, inR.data() + position);

    // A pass: the burst and its silence, or the looped signal once round.
    BestPass best(static_cast<double>(signalFrames) * (burst ? 11.0 : 1.0));
    size_t position = 0;
    double seconds = 0.0, burstSeconds = 0.0, silenceSeconds = 0.0;
    double frames = 0.0, burstFrames = 0.0, silenceFrames = 0.0;
    for (auto _ : state) {
        double elapsed = 0.0;
        if (burst) {
            for (size_t p = 0; p < signalFrames; p += kBlock)
                burstSeconds += timeBlock(inL.data() + p, inR.data() + p);
            for (size_t b = 0; b < 10 * secondBlocks; ++b)
                silenceSeconds += timeBlock(zeros.data(), zeros.data());
            elapsed = burstSeconds + silenceSeconds - seconds;
            burstFrames += static_cast<double>(signalFrames);
            silenceFrames += 10.0 * static_cast<double>(secondBlocks * kBlock);
            frames = burstFrames + silenceFrames;
            best.add(elapsed, 11.0 * static_cast<double>(signalFrames));
        } else {
            elapsed = timeBlock(inL.data() + position, inR.data() + position);
            position = (position + kBlock) % signalFrames;
            frames += kBlock;
            best.add(elapsed, kBlock);
        }
        state.SetIterationTime(elapsed);
        seconds += elapsed;
    }
    state.counters["ns_per_stereo_frame"] = seconds * 1e9 / frames;
    state.counters["realtime_factor"] = frames / setUp.sampleRate / seconds;
    best.report(state);
    if (burst) {
        state.counters["burst_ns_per_frame"] = burstSeconds * 1e9 / burstFrames;
        state.counters["silence_ns_per_frame"] = silenceSeconds * 1e9 / silenceFrames;
    }
}

const bool registered = [] {
    for (const SetUp& setUp : kSetUps) {
        auto run = setUp.doublePrecision ? &runStrip<double> : &runStrip<float>;
        benchmark::RegisterBenchmark(setUp.name, [run, &setUp](benchmark::State& state) { run(state, setUp); })
            ->UseManualTime();
    }
    return true;
}();

} // namespace
