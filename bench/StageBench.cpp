// Cost of each stage on its own, in nanoseconds per stereo frame, so that a change in one
// stage shows where the strip's time goes; beside the mean, the best pass of 64 blocks
// (bench/BestPass.h).

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "bench/BestPass.h"
#include "dsp/Compander.h"
#include "dsp/DeEsser.h"
#include "dsp/Doubler.h"
#include "dsp/TempoDelay.h"
#include "dsp/ThreeBandEq.h"
#include "dsp/TubeStage.h"

using namespace pellucer;

namespace {

constexpr int32_t kBlock = 512;

template <typename Stage>
void runStage(benchmark::State& state, Stage& stage) {
    std::vector<double> left(kBlock), right(kBlock);
    uint32_t seed = 7;
    uint64_t position = 0;
    double seconds = 0.0;
    pellucer::bench::BestPass best(64.0 * kBlock);
    for (auto _ : state) {
        for (int32_t i = 0; i < kBlock; ++i) {
            seed = seed * 1664525u + 1013904223u;
            left[i] = (static_cast<double>(seed >> 8) / 8388608.0 - 1.0) * 0.5;
            right[i] = -0.7 * left[i];
        }
        const auto start = std::chrono::steady_clock::now();
        stage.process(left.data(), right.data(), position, kBlock, false);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        benchmark::DoNotOptimize(left.data());
        state.SetIterationTime(elapsed.count());
        seconds += elapsed.count();
        best.add(elapsed.count(), kBlock);
        position += kBlock;
    }
    state.counters["ns_per_stereo_frame"] = seconds * 1e9 / (static_cast<double>(state.iterations()) * kBlock);
    best.report(state);
}

void BM_Tube(benchmark::State& state) {
    TubeStage tube;
    tube.setSampleRate(44100.0f);
    tube.setDrive(1.5);
    runStage(state, tube);
}

void BM_Compander(benchmark::State& state) {
    Compander c;
    c.setSampleRate(44100.0f);
    c.setCompressorThreshold(-24.0);
    c.setCompressorRatio(4.0);
    c.setExpanderThreshold(-55.0);
    c.setExpanderRatio(2.0);
    c.setAttack(3.0);
    runStage(state, c);
}

void BM_EqualiserRouted(benchmark::State& state) {
    ThreeBandEq eq;
    eq.setSampleRate(44100.0f);
    eq.setLowGain(4.0);
    eq.setMidGain(-3.0);
    eq.setHighGain(5.0);
    eq.setTubeDrive(1.2);
    eq.setTubeLow(state.range(0) != 0);
    eq.setTubeMid(state.range(0) != 0);
    eq.setTubeHigh(state.range(0) != 0);
    runStage(state, eq);
}

void BM_DeEsser(benchmark::State& state) {
    DeEsser d;
    d.setSampleRate(44100.0f);
    d.setSplitFrequency(static_cast<double>(state.range(0)));
    d.setDepth(0.8);
    runStage(state, d);
}

void BM_Doubler(benchmark::State& state) {
    Doubler d;
    d.setSampleRate(44100.0f);
    d.setPresence(0.6);
    runStage(state, d);
}

void BM_Delay(benchmark::State& state) {
    TempoDelay d;
    d.setSampleRate(44100.0f);
    d.setFeedback(0.6);
    d.setFilterMode(0.5);
    d.setFilterCornerControl(0.5);
    runStage(state, d);
}

} // namespace

BENCHMARK(BM_Tube)->UseManualTime();
BENCHMARK(BM_Compander)->UseManualTime();
BENCHMARK(BM_EqualiserRouted)->Arg(0)->Arg(1)->UseManualTime();
BENCHMARK(BM_DeEsser)->Arg(2000)->Arg(8000)->UseManualTime();
BENCHMARK(BM_Doubler)->UseManualTime();
BENCHMARK(BM_Delay)->UseManualTime();
