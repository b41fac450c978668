#pragma once

// The best pass: besides the mean, the benchmarks report the cheapest of many passes through
// their test signal. This machine is shared, and other work on the same core brings slow phases
// lasting seconds; the best pass steps around them, and stays put from run to run where the mean
// wanders by tens of per cent.

#include <benchmark/benchmark.h>

#include <algorithm>

namespace pellucer::bench {

class BestPass {
public:
    explicit BestPass(double passFrames) : passFrames_(passFrames) {}

    /// Counts `frames` processed in `seconds`; a pass ends once it holds passFrames frames.
    void add(double seconds, double frames) {
        seconds_ += seconds;
        frames_ += frames;
        if (frames_ >= passFrames_) {
            best_ = std::min(best_, seconds_ * 1e9 / frames_);
            seconds_ = frames_ = 0.0;
        }
    }

    /// Sets the counter best_ns_per_frame once a pass has ended.
    void report(benchmark::State& state) const {
        if (best_ < kNone)
            state.counters["best_ns_per_frame"] = best_;
    }

private:
    static constexpr double kNone = 1e300;
    double passFrames_;
    double seconds_ = 0.0, frames_ = 0.0;
    double best_ = kNone;
};

} // namespace pellucer::bench
