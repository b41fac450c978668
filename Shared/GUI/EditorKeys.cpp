#include "Shared/GUI/Geometry.h"

#include <utility>

namespace pellucer::gui {

namespace {

// Windows virtual-key codes are used as plain numbers, so that the mapping builds and is tested
// everywhere.

/// Keys with a name of their own: (virtual key, editor code).
constexpr std::pair<uint32_t, int32_t> kNamedKeys[] = {
    {0x08, key::kBackspace}, // VK_BACK
    {0x0D, key::kEnter},     // VK_RETURN
    {0x10, key::kShift},     // VK_SHIFT
    {0x11, key::kControl},   // VK_CONTROL
    {0x12, key::kAlt},       // VK_MENU
    {0x5B, key::kWindows},   // VK_LWIN
    {0x5C, key::kWindows},   // VK_RWIN
    {0x1B, key::kEscape},    // VK_ESCAPE
    {0x20, key::kSpace},     // VK_SPACE
    {0x23, key::kEnd},       // VK_END
    {0x24, key::kHome},      // VK_HOME
    {0x2E, key::kDelete},    // VK_DELETE
    {0x21, key::kPageUp},    // VK_PRIOR
    {0x22, key::kPageDown},  // VK_NEXT
    {0x2F, key::kHelp},      // VK_HELP
    {0x26, key::kUp},        // VK_UP
    {0x28, key::kDown},      // VK_DOWN
    {0x25, key::kLeft},      // VK_LEFT
    {0x27, key::kRight},     // VK_RIGHT
    {0x09, key::kTab},       // VK_TAB
    {0x6A, key::kMultiply},  // VK_MULTIPLY (numeric pad)
    {0x6F, key::kDivide},    // VK_DIVIDE (numeric pad)
};

constexpr uint32_t kVk0 = 0x30;
constexpr uint32_t kVk9 = 0x39;
constexpr uint32_t kVkA = 0x41;
constexpr uint32_t kVkZ = 0x5A;
constexpr uint32_t kVkF1 = 0x70;
constexpr uint32_t kVkF6 = 0x75;
constexpr uint32_t kVkF7 = 0x76;
constexpr uint32_t kVkF8 = 0x77;
constexpr uint32_t kVkF9 = 0x78;
constexpr uint32_t kVkF13 = 0x7C;

} // namespace

int32_t editorKeyFromVirtualKey(uint32_t virtualKey) {
    // Digits and letters are their own codes (the virtual keys equal the characters).
    if ((virtualKey >= kVk0 && virtualKey <= kVk9) || (virtualKey >= kVkA && virtualKey <= kVkZ))
        return static_cast<int32_t>(virtualKey);
    if (virtualKey >= kVkF1 && virtualKey <= kVkF6)
        return key::kF1 + static_cast<int32_t>(virtualKey - kVkF1);
    // F7 and F8 share one code: the editor never told them apart.
    if (virtualKey == kVkF7 || virtualKey == kVkF8)
        return key::kF7F8;
    if (virtualKey >= kVkF9 && virtualKey <= kVkF13)
        return key::kF9 + static_cast<int32_t>(virtualKey - kVkF9);
    for (const auto& [code, editorKey] : kNamedKeys)
        if (code == virtualKey)
            return editorKey;
    return key::kNone;
}

} // namespace pellucer::gui
