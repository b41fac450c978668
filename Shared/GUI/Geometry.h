#pragma once

#include <cstdint>

namespace pellucer::gui {

/// A point in pixels; y grows downwards (window coordinates).
struct Point {
    int32_t x = 0;
    int32_t y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

/// A rectangle as left, top, width and height in pixels (window coordinates).
struct Rect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t width = 0;
    int32_t height = 0;

    int32_t right() const { return left + width; }
    int32_t bottom() const { return top + height; }
    bool contains(Point p) const { return p.x >= left && p.x < right() && p.y >= top && p.y < bottom(); }
    bool intersects(const Rect& r) const {
        return left < r.right() && r.left < right() && top < r.bottom() && r.top < bottom();
    }
    bool empty() const { return width <= 0 || height <= 0; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

/// An RGB colour; `colorref()` is the Windows COLORREF layout 0x00BBGGRR.
struct Colour {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;

    constexpr uint32_t colorref() const {
        return static_cast<uint32_t>(red) | (static_cast<uint32_t>(green) << 8) | (static_cast<uint32_t>(blue) << 16);
    }
    friend bool operator==(const Colour&, const Colour&) = default;
};

/// Modifier and button flags of mouse events.
namespace mouse {
inline constexpr int32_t kLeft = 1;
inline constexpr int32_t kMiddle = 2;
inline constexpr int32_t kRight = 4;
inline constexpr int32_t kControl = 8;
inline constexpr int32_t kAlt = 16;
inline constexpr int32_t kWindows = 32;
inline constexpr int32_t kShift = 64;
} // namespace mouse

/// The editor's key codes (0: a key the editor does not pass on). Digits and letters keep
/// their character codes ('0'..'9', 'A'..'Z').
namespace key {
inline constexpr int32_t kNone = 0;
inline constexpr int32_t kBackspace = 1;
inline constexpr int32_t kEnter = 2;
inline constexpr int32_t kShift = 3;
inline constexpr int32_t kControl = 4;
inline constexpr int32_t kAlt = 5;
inline constexpr int32_t kWindows = 6;
inline constexpr int32_t kEscape = 7;
inline constexpr int32_t kSpace = 8;
inline constexpr int32_t kEnd = 9;
inline constexpr int32_t kHome = 10;
inline constexpr int32_t kDelete = 11;
inline constexpr int32_t kPageUp = 12;
inline constexpr int32_t kPageDown = 13;
inline constexpr int32_t kHelp = 14;
inline constexpr int32_t kUp = 15;
inline constexpr int32_t kDown = 16;
inline constexpr int32_t kLeft = 17;
inline constexpr int32_t kRight = 18;
inline constexpr int32_t kTab = 19;
inline constexpr int32_t kF1 = 20;    // F1..F6 are 20..25
inline constexpr int32_t kF7F8 = 26;  // F7 and F8 share one code
inline constexpr int32_t kF9 = 27;    // F9..F13 are 27..31
inline constexpr int32_t kMultiply = 35;
inline constexpr int32_t kDivide = 36;
} // namespace key

/// The editor key code of a Windows virtual-key code (VK_*), 0 for keys without one.
/// Portable so that the mapping is tested everywhere.
int32_t editorKeyFromVirtualKey(uint32_t virtualKey);

} // namespace pellucer::gui
