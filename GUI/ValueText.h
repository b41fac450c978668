#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/ParameterTable.h"

namespace pellucer {

// What the editor's two text displays say about the last touched parameter: its name (the tip
// text of the text skin) and its value with the unit word, as hosts show them, and the number
// behind that value for a direct entry. Portable, so that every parameter's text and the way
// back from a typed number are tested without a window.

/// Number of delay note names (index 0 a thirty-second triplet .. 15 a whole note).
inline constexpr int32_t kDelayNoteNames = kNoteValues;
using DelayNoteNames = std::array<std::u16string, kDelayNoteNames>;

/// The range a direct entry accepts, in the parameter's own unit: from below every parameter's
/// lowest finite value (minus infinity is entered as this) up to the highest any parameter takes.
inline constexpr double kEntryMinimum = -100.0;
inline constexpr double kEntryMaximum = [] {
    double highest = 0.0;
    for (const ParamDescriptor& parameter : kParameters)
        highest = parameter.range.maximum > highest ? parameter.range.maximum : highest;
    return highest;
}();

/// Text skin key of the name label for parameter `index`; null for 38 and above (they show no
/// name) and for negative indices.
const char* tipKey(int32_t index);

/// The 16 note names looked up in the text skin, shortest note first.
DelayNoteNames lookUpDelayNoteNames();

/// The readout's text for parameter `index` at normalised value `v`: the number, or word, as a
/// host shows it, followed by the unit word after a space when there is one ("-12.0 dB",
/// "4.0 :1", "On", "1:inf"). Delay Time while synced shows its note name from `notes`.
/// Empty for 38 and above.
std::u16string readoutText(int32_t index, float v, bool delaySynced, const DelayNoteNames& notes);

/// The number the readout shows for parameter `index` at `v`, in the parameter's own unit (dB,
/// Hz, ms, per cent, ratio; 0 or 1 for switches; the note index of a synced Delay Time). Minus
/// infinity is given as the entry minimum, an infinite ratio as its largest finite one.
double readoutNumber(int32_t index, float v, bool delaySynced);

/// The normalised value of parameter `index` for `number` in its own unit: the inverse of
/// readoutNumber, held to 0..1 (NaN gives 0). A synced Delay Time takes a note index.
float normalisedFromNumber(int32_t index, double number, bool delaySynced);

/// The compander readings' text: the reduction in dB of a ratio (1 = none) in five characters,
/// one decimal below 10 dB and whole decibels from there ("  0.0", "  3.5", "   12"): never more
/// than three figures, however wide the reduction.
std::u16string reductionText(double ratio);

} // namespace pellucer
