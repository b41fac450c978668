#pragma once

// Turns the value of a `--set NAME=VALUE` into the parameter's normalised value: either a plain
// number 0..1, or a number followed by the parameter's unit as its display shows it ("-18dB",
// "250ms", "4:1", "1:2.0", "50%"), or one of the display's words (on/off, inf, -inf, note names).
// The display formulas are inverted here; the words are those of the text skin.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace pellucer::render {

/// The words a parameter display uses, as UTF-8. Empty words (no skin loaded) match nothing.
struct UnitWords {
    std::string db, percent, toOne, oneTo, ms, hz, khz;
    std::string on, off, negInfinity, infinity;
    std::array<std::string, 16> notes; ///< delay note names, thirty-second triplet .. whole
    bool available = false;            ///< false when the skin text table could not be read

    /// The words of the loaded text skin (`textResources()`); `available` tells whether it was loaded.
    static UnitWords fromSkin();
};

/// The result of parsing one value: the normalised value, or a one-line error.
struct ParsedValue {
    float value = 0.0f;
    std::string error;
    bool ok() const { return error.empty(); }
};

/// Index 0..38 of the parameter with exactly this name, or -1.
int32_t parameterIndex(std::string_view name);

/// Parses `text` as a value of parameter `index` (0..38). `delaySynced` tells how Delay Time is
/// read: as a note name (synced) or in milliseconds (free). Parameter 38 ("Reserved") takes a
/// module order code. Values in a unit are accepted up to half a displayed digit beyond the
/// parameter's range (the display rounds to one decimal) and are then held to the range.
ParsedValue parseParameterValue(int32_t index, std::string_view text, bool delaySynced,
                                const UnitWords& words);

/// A module order code such as "54321": five digits, 1..5 each once. Otherwise false, with `error`
/// completing a sentence that starts with the text ("is not a module order: ...").
bool parseOrderCode(std::string_view text, int32_t& code, std::string& error);

/// UTF-16 text (the skin's words, the editor's readouts) as UTF-8.
std::string utf8(const std::u16string& text);

/// Strict decimal number (no unit, no words): "120", "-3.5", "+1e-3". False for anything else.
bool parseNumber(std::string_view text, double& value);

} // namespace pellucer::render
