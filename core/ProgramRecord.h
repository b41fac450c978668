#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/Parameters.h"

namespace pellucer {

/// One program of the bank. The bytes from `magic` to `values` are exactly the state chunk that
/// hosts save; the wide name after them is the name every operation uses.
struct ProgramRecord {
    static constexpr int32_t kVersion = 1;
    static constexpr int32_t kBodySize = 4840;
    static constexpr size_t kNameUnits = 260;
    static constexpr size_t kReservedBytes = 4160;
    static constexpr size_t kChunkSize = 4852;

    char magic[4];
    int32_t version;
    int32_t bodySize;
    int32_t reservedWord;
    char16_t nameCopy[kNameUnits]; ///< the name as carried in a chunk
    uint8_t reserved[kReservedBytes];
    float values[kNumParams];
    char16_t wideName[kNameUnits];

    ProgramRecord() { makeBlank(); }

    /// Header filled, everything else zero except Plug-in Enable = 1.0; empty name.
    void makeBlank();
    /// Stores a value for indices 0..38; answers false and changes nothing for any other index.
    bool setValue(int32_t index, float value);
    float value(int32_t index) const { return index >= 0 && index < kNumParams ? values[index] : 0.0f; }
    /// Stores a name of at most 259 units (longer names are cut), NUL-terminated.
    void setName(const std::u16string& name);
    /// The name up to its terminator, or all 260 units when it has none.
    std::u16string name() const;
};

static_assert(offsetof(ProgramRecord, nameCopy) == 16);
static_assert(offsetof(ProgramRecord, values) == 4696);
static_assert(offsetof(ProgramRecord, wideName) == ProgramRecord::kChunkSize);
static_assert(ProgramRecord::kChunkSize - 12 == ProgramRecord::kBodySize);

} // namespace pellucer
