#pragma once

// The Windows headers as the window layer uses them, and the bridge between our UTF-16 strings
// (char16_t) and the API's (wchar_t, also 16-bit on Windows).

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef STRSAFE_NO_DEPRECATE
#define STRSAFE_NO_DEPRECATE
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <string>
#include <string_view>

#include "Shared/GUI/Geometry.h"

namespace pellucer::gui::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the Windows build has 16-bit wchar_t");

/// The API's view of a UTF-16 string (null-terminated as the u16string is).
inline const wchar_t* wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}
inline const wchar_t* wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
/// A string view's units for the counted API calls (not null-terminated).
inline const wchar_t* wideData(std::u16string_view text) {
    return reinterpret_cast<const wchar_t*>(text.data());
}
inline std::u16string fromWide(const wchar_t* text) {
    return text != nullptr ? std::u16string(reinterpret_cast<const char16_t*>(text)) : std::u16string();
}

inline RECT toRect(const Rect& r) { return RECT{r.left, r.top, r.right(), r.bottom()}; }
inline Rect fromRect(const RECT& r) { return Rect{r.left, r.top, r.right - r.left, r.bottom - r.top}; }

} // namespace pellucer::gui::win32
