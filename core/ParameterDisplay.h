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
/// The number behind a parameter's value text, in the parameter's own unit: dB, Hz, ms, per cent,
/// ratio; 0 or 1 for switches; the note index (0..15) of a synced Delay Time. Silence in a level
/// shown in dB is minus infinity; an infinite ratio is given as its largest finite one.
double displayNumber(int32_t index, float v, bool delaySynced);
/// The inverse of displayNumber: the normalised value of `number` in the parameter's own unit.
/// Not held to 0..1: a number outside the parameter's range lands outside it, and a logarithmic
/// parameter's number at or below 0 gives minus infinity. A synced Delay Time takes a note index
/// and answers the middle of that note's sixteenth of the range.
double normalisedFromDisplayNumber(int32_t index, double number, bool delaySynced);
/// Text key of delay note value `index` (0 a thirty-second triplet … 15 a whole note; clamped).
const char* delayNoteKey(int32_t index);
/// The parameter's name for a host: units below 128 as bytes, others '?', at most 31 characters.
void parameterNameText(int32_t index, char* text);

} // namespace pellucer
