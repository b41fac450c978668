#pragma once

// The settings the strip benchmarks and the timing host share: each stage's switch and the
// values that make it work on the voice-like test signal (the compander compressing, the
// equaliser boosting and cutting, the delay feeding back through its filter), and that signal.

#include <cmath>
#include <cstdint>
#include <numbers>
#include <span>
#include <utility>
#include <vector>

#include "core/Parameters.h"

namespace pellucer::bench {

/// A parameter index and its normalised value.
using Setting = std::pair<int32_t, float>;

inline constexpr Setting kInputTubeOn[] = {{kInputTubeEnable, 1.0f}, {kInputTubeSaturation, 0.6f}};
inline constexpr Setting kCompanderOn[] = {{kCompanderEnable, 1.0f}, {kCompressorThresh, 0.6f}, {kCompressorRatio, 0.5f},
                                           {kExpanderThresh, 0.5f},  {kExpanderRatio, 0.3f},    {kCompanderAttack, 0.3f}};
inline constexpr Setting kEqualiserOn[] = {
    {kEqEnable, 1.0f}, {kEqLowGain, 0.7f}, {kEqMidGain, 0.3f}, {kEqHighGain, 0.65f}};
/// Every band of the equaliser through its tube (only with kEqualiserOn).
inline constexpr Setting kEqBandTubesOn[] = {
    {kEqTubeSaturation, 0.5f}, {kEqTubeLowEnable, 1.0f}, {kEqTubeMidEnable, 1.0f}, {kEqTubeHighEnable, 1.0f}};
inline constexpr Setting kDeEsserOn[] = {{kDeEsserEnable, 1.0f}, {kDeEsserDepth, 0.8f}};
inline constexpr Setting kDoublerOn[] = {{kDoublerEnable, 1.0f}, {kDoublerPresence, 0.6f}};
inline constexpr Setting kDelayOn[] = {
    {kDelayEnable, 1.0f}, {kDelayFeedback, 0.6f}, {kDelayFilterMode, 0.5f}, {kDelayFilterFreq, 0.5f}};
inline constexpr Setting kOutputTubeOn[] = {{kOutputTubeEnable, 1.0f}, {kOutputTubeSaturation, 0.4f}};

using Settings = std::vector<std::span<const Setting>>;

/// Every stage on and doing work, the equaliser's bands through its tube.
inline const Settings kEverythingOn = {kInputTubeOn, kCompanderOn, kEqualiserOn, kEqBandTubesOn,
                                       kDeEsserOn,   kDoublerOn,   kDelayOn,     kOutputTubeOn};
/// The jobs of a typical chain of separate plug-ins: input tube, de-esser, compressor with gate,
/// three-band equaliser, filtered delay and output tube (no doubler, no band tubes).
inline const Settings kComparable = {kInputTubeOn, kDeEsserOn, kCompanderOn, kEqualiserOn, kDelayOn, kOutputTubeOn};

/// Calls `set(index, value)` for every setting of every group.
template <typename Set>
void applySettings(const Settings& groups, Set&& set) {
    for (auto group : groups)
        for (auto [index, value] : group)
            set(index, value);
}

/// A voice-like test signal: a few partials with a slow level swell and a little noise, the
/// same on every run. `gain` scales it (peaks near 0.82 at 1).
template <typename Sample>
void fillSignal(std::vector<Sample>& left, std::vector<Sample>& right, double sampleRate, double gain = 1.0) {
    uint32_t seed = 1;
    for (size_t i = 0; i < left.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        const double noise = (static_cast<double>(seed >> 8) / 8388608.0 - 1.0) * 0.05;
        const double t = static_cast<double>(i) / sampleRate;
        const double swell = 0.3 + 0.25 * std::sin(2.0 * std::numbers::pi * 0.7 * t);
        const double tone =
            std::sin(2.0 * std::numbers::pi * 220.0 * t) + 0.4 * std::sin(2.0 * std::numbers::pi * 660.0 * t);
        left[i] = static_cast<Sample>(gain * (swell * tone + noise));
        right[i] = static_cast<Sample>(gain * (swell * tone - noise));
    }
}

} // namespace pellucer::bench
