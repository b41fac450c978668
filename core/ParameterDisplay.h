#pragma once

#include <cstdint>
#include <string>

namespace pellucer {

// How a parameter looks to a user: its unit label and its value text. The words (units, on and
// off, infinity, note names) come from the text skin by key; the numbers are written with one
// decimal, as "%.1f" writes them. Both hosts and the editor's readout use these.

/// Longest value text a host is given, in characters.
constexpr size_t kDisplayChars = 8;
/// Longest parameter name a host is given, in characters.
constexpr size_t kNameChars = 31;

/// The unit label of a parameter from its read-back value context; empty for none.
std::u16string parameterLabel(int32_t index, bool delaySynced);
/// The value text of a parameter at normalised value `v` (the read-back value), before any cut.
std::u16string parameterDisplay(int32_t index, float v, bool delaySynced);
/// Text key of delay note value `index` (0 a thirty-second triplet … 15 a whole note; clamped).
const char* delayNoteKey(int32_t index);
/// The parameter's name for a host: units below 128 as bytes, others '?', at most 31 characters.
void parameterNameText(int32_t index, char* text);

} // namespace pellucer
