// The editor's key codes of the Windows virtual keys, and the font's face, weight and pixel
// size rules.

#include <gtest/gtest.h>

#include <utility>

#include "Shared/GUI/Font.h"
#include "Shared/GUI/Geometry.h"

namespace pellucer::gui {
namespace {

TEST(EditorKeys, NamedKeysHaveTheirCodes) {
    const std::pair<uint32_t, int32_t> table[] = {
        {0x08, 1},  {0x0D, 2},  {0x10, 3},  {0x11, 4},  {0x12, 5},  {0x5B, 6},  {0x5C, 6},  {0x1B, 7},
        {0x20, 8},  {0x23, 9},  {0x24, 10}, {0x2E, 11}, {0x21, 12}, {0x22, 13}, {0x2F, 14}, {0x26, 15},
        {0x28, 16}, {0x25, 17}, {0x27, 18}, {0x09, 19}, {0x6A, 35}, {0x6F, 36},
    };
    for (const auto& [virtualKey, code] : table)
        EXPECT_EQ(editorKeyFromVirtualKey(virtualKey), code) << "virtual key " << virtualKey;
}

TEST(EditorKeys, FunctionKeysCountUpWithF7AndF8Sharing26) {
    for (uint32_t f = 1; f <= 6; ++f)
        EXPECT_EQ(editorKeyFromVirtualKey(0x70 + f - 1), static_cast<int32_t>(19 + f)) << "F" << f;
    EXPECT_EQ(editorKeyFromVirtualKey(0x76), key::kF7F8); // F7
    EXPECT_EQ(editorKeyFromVirtualKey(0x77), key::kF7F8); // F8
    EXPECT_EQ(key::kF7F8, 26);
    for (uint32_t f = 9; f <= 13; ++f)
        EXPECT_EQ(editorKeyFromVirtualKey(0x70 + f - 1), static_cast<int32_t>(18 + f)) << "F" << f;
    EXPECT_EQ(editorKeyFromVirtualKey(0x7D), 0); // F14
}

TEST(EditorKeys, DigitsAndLettersKeepTheirCharacters) {
    for (char c = '0'; c <= '9'; ++c)
        EXPECT_EQ(editorKeyFromVirtualKey(static_cast<uint32_t>(c)), c);
    for (char c = 'A'; c <= 'Z'; ++c)
        EXPECT_EQ(editorKeyFromVirtualKey(static_cast<uint32_t>(c)), c);
}

TEST(EditorKeys, EveryOtherKeyHasNoCode) {
    // Count the virtual keys that have a code: 22 named (two Windows keys), F1-F13, 10 digits
    // and 26 letters; the rest of the byte range must map to 0.
    int mapped = 0;
    for (uint32_t vk = 0; vk < 256; ++vk)
        mapped += editorKeyFromVirtualKey(vk) != key::kNone ? 1 : 0;
    EXPECT_EQ(mapped, 22 + 13 + 10 + 26);
    // Neighbours of the mapped ranges (Insert, ':', '@', Apps, numeric pad 0, add, subtract,
    // decimal) and the left/right Shift, Control and Alt codes, which are not passed on.
    for (uint32_t vk :
         {0x2Du, 0x3Au, 0x40u, 0x5Du, 0x60u, 0x6Bu, 0x6Du, 0x6Eu, 0xA0u, 0xA2u, 0xA4u, 0xFFu, 0x10000u})
        EXPECT_EQ(editorKeyFromVirtualKey(vk), key::kNone) << "virtual key " << vk;
}

TEST(FontSpec, FaceNamesAndWeightsFollowTheirIndices) {
    const std::u16string faces[] = {u"Lucida Console", u"Arial", u"Symbol"};
    for (int32_t face = 0; face < 3; ++face) {
        Font::Spec spec;
        spec.face = face;
        EXPECT_EQ(std::u16string(Font(spec).faceName()), faces[face]);
    }
    Font::Spec unknown;
    unknown.face = 7;
    EXPECT_EQ(std::u16string(Font(unknown).faceName()), u"Arial");

    const int32_t weights[] = {300, 400, 500, 600, 700};
    for (int32_t index = 0; index < 5; ++index) {
        Font::Spec spec;
        spec.weightIndex = index;
        EXPECT_EQ(Font(spec).weight(), weights[index]);
    }
    for (int32_t index : {-1, 5, 99}) {
        Font::Spec spec;
        spec.weightIndex = index;
        EXPECT_EQ(Font(spec).weight(), 400);
    }
}

TEST(FontSpec, PointsBecomeNegativePixelHeightsRoundedHalfAwayFromZero) {
    // The editor's three fonts at 96 pixels per inch: 6 pt -> 8, 8 pt -> 10.67 -> 11,
    // 9 pt -> 12.
    EXPECT_EQ(Font::pointsToPixels(6, 96), -8);
    EXPECT_EQ(Font::pointsToPixels(8, 96), -11);
    EXPECT_EQ(Font::pointsToPixels(9, 96), -12);
    EXPECT_EQ(Font::pointsToPixels(8, 120), -13); // 13.33
    EXPECT_EQ(Font::pointsToPixels(8, 72), -8);
    // Exact halves round away from zero, on both sides.
    EXPECT_EQ(Font::pointsToPixels(3, 84), -4); // 3.5
    EXPECT_EQ(Font::pointsToPixels(-3, 84), 4); // -3.5
    EXPECT_EQ(Font::pointsToPixels(1, 36), -1); // 0.5
    EXPECT_EQ(Font::pointsToPixels(1, 35), 0);  // 0.486
    EXPECT_EQ(Font::pointsToPixels(0, 96), 0);
    // A result beyond 32 bits is MulDiv's -1.
    EXPECT_EQ(Font::pointsToPixels(2000000000, 2000000), 1);
}

#ifndef _WIN32
// (The Windows build makes a GDI font; the window layer's tests check it.)
TEST(FontSpec, HasNoPlatformFontOutsideWindows) {
    Font font(Font::Spec{});
    EXPECT_EQ(font.handle(), nullptr);
}
#endif

} // namespace
} // namespace pellucer::gui
