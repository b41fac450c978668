#pragma once

#include <array>
#include <cstdint>

#include "dsp/DspModule.h"

namespace pellucer {

/// Number of reorderable stages; the output stage always follows them as a sixth, fixed entry.
constexpr int kMovableModules = 5;
constexpr int kChainModules = 6;

/// Links modules[order[0]] -> modules[order[1]] -> ... -> modules[order[5]] -> null.
void linkChain(const std::array<DspModule*, kChainModules>& modules,
               const std::array<int32_t, kChainModules>& order);

/// Runs every module from `head` along the list, with the 100 ms enable/disable crossfade
/// against the dry signal. A module whose fade-out completes is reset. Audio thread.
void runChain(DspModule* head, double* left, double* right, uint64_t position, int32_t frames, bool mono);

/// Calls `reset` on every module from `head` along the list.
void resetChain(DspModule* head);

} // namespace pellucer
