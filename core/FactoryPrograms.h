#pragma once

#include <array>
#include <cstdint>

#include "core/Parameters.h"

namespace pellucer {

/// Programs in the factory bank.
constexpr int32_t kNumFactoryPrograms = 61;

/// One factory program: its name and the 39 values exactly as a program record stores them
/// (normalised values, and the module order code as value 38).
struct FactoryProgram {
    const char* name;
    std::array<float, kNumParams> values;
};

/// The factory bank in bank order; program 0 is "Full Reset" (`kFullResetValues`).
/// Built on first use (the first call may come from any thread and computes the table once);
/// it never changes afterwards. Names are plain ASCII.
const std::array<FactoryProgram, kNumFactoryPrograms>& factoryPrograms();

} // namespace pellucer
