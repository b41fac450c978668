#include "core/HostText.h"

namespace pellucer {

void toHostText(const char16_t* text, size_t units, char* out, size_t maxChars) {
    size_t n = 0;
    if (text != nullptr)
        for (; n < units && n < maxChars && text[n] != u'\0'; ++n)
            out[n] = text[n] < 0x100 ? static_cast<char>(static_cast<unsigned char>(text[n])) : '?';
    out[n] = '\0';
}

std::u16string fromHostText(const char* text, size_t maxUnits) {
    std::u16string wide;
    if (text != nullptr)
        for (size_t n = 0; n < maxUnits && text[n] != '\0'; ++n)
            wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(text[n])));
    return wide;
}

} // namespace pellucer
