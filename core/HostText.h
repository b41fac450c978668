#pragma once

#include <cstddef>
#include <string>

namespace pellucer {

// Text at the VST boundary is 8-bit. Inside the module it is UTF-16. Both directions map
// bytes and units 0-255 one to one (Latin-1), so names round-trip exactly and the same text
// gives the same bytes on every platform; a unit above 255 cannot be shown and becomes '?'.

/// Writes at most `maxChars` characters of `text` (stopping at a NUL or after `units` units)
/// plus a terminator into `out`.
void toHostText(const char16_t* text, size_t units, char* out, size_t maxChars);
inline void toHostText(const std::u16string& text, char* out, size_t maxChars) {
    toHostText(text.c_str(), text.size(), out, maxChars);
}
/// Widens at most `maxUnits` bytes of a NUL-terminated host string.
std::u16string fromHostText(const char* text, size_t maxUnits);

} // namespace pellucer
