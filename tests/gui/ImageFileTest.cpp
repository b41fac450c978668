// Image files: BMP round trips, files laid out by hand and damaged files refused; the shipped
// skin's images at the sizes the controls expect; and the test pictures' PNG writer taken apart.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>

#include "Shared/GUI/BmpFile.h"
#include "core/SkinTable.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/gui/PngFile.h"

namespace pellucer::gui {
namespace {

/// A buffer whose neighbouring pixels differ in all four channels.
PixelBuffer pattern(int32_t w, int32_t h) {
    PixelBuffer image(w, h);
    for (uint32_t i = 0; i < static_cast<uint32_t>(w * h); ++i)
        image.setArgb(static_cast<int32_t>(i) % w, static_cast<int32_t>(i) / w,
                      (i * 7 % 256) << 24 | (i * 37 % 256) << 16 | (i * 13 % 256) << 8 | (i * 59 + 9) % 256);
    return image;
}

void put(std::vector<uint8_t>& b, size_t at, uint32_t v, int bytes = 4) {
    for (int i = 0; i < bytes; ++i)
        b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

/// Decodes the first `size` bytes into `image`, which a refused file leaves empty.
bool decodes(const std::vector<uint8_t>& bytes, PixelBuffer& image, size_t size = SIZE_MAX) {
    image = pattern(2, 2);
    const bool decoded = decodeBmp(bytes.data(), std::min(size, bytes.size()), image);
    EXPECT_EQ(decoded, !image.empty());
    return decoded;
}

TEST(BmpFile, RoundTripsKeepColoursForEveryRowPaddingAndAlphaAt32Bits) {
    for (int32_t i = 0; i < 10; ++i) { // 24-bit rows of 3 .. 15 bytes: padding 1, 2, 3, 0, 1
        const int32_t bits = i < 5 ? 24 : 32, w = i % 5 + 1;
        const PixelBuffer original = pattern(w, 3);
        PixelBuffer decoded;
        ASSERT_TRUE(decodes(encodeBmp(original, bits), decoded)) << bits << " bits, width " << w;
        ASSERT_EQ(std::pair(decoded.width(), decoded.height()), std::pair(w, 3));
        for (int32_t p = 0; p < w * 3; ++p)
            EXPECT_EQ(decoded.argb(p % w, p / w),
                      original.argb(p % w, p / w) | (bits == 24 ? 0xFF000000u : 0u))
                << bits << " bits, width " << w << ", pixel " << p;
    }
    EXPECT_TRUE(encodeBmp(pattern(2, 2), 16).empty() && encodeBmp(PixelBuffer(), 24).empty());
}

// Two rows of one pixel in file order, red then blue: the first row stored is the bottom one
// unless the height is negative. Truncated, damaged or unsupported files are refused.
TEST(BmpFile, HandMadeFilesReadTopDownOrBottomUpAndDamagedOnesAreRefused) {
    // "BM", 62 bytes, the pixels from 54, a 40-byte header, 1 x 2 pixels, 1 plane, 24 bits, BI_RGB;
    // then each row padded to 4 bytes.
    std::vector<uint8_t> file = {'B', 'M', 62, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40,
                                 0,   0,   0,  1, 0, 0, 0, 2, 0, 0, 0,  1, 0, 24};
    file.resize(54);
    file.insert(file.end(), {0, 0, 0xFF, 0, 0xFF, 0, 0, 0});
    PixelBuffer image;
    for (const auto& [height, top, bottom] : test::Table<int32_t, uint32_t, uint32_t>{
             {2, 0xFF0000FFu, 0xFFFF0000u}, {-2, 0xFFFF0000u, 0xFF0000FFu}}) {
        put(file, 22, static_cast<uint32_t>(height));
        ASSERT_TRUE(decodes(file, image));
        EXPECT_EQ(std::pair(image.argb(0, 0), image.argb(0, 1)), std::pair(top, bottom)) << height;
    }
    for (size_t size = 0; size < file.size(); ++size) // every truncation
        EXPECT_FALSE(decodes(file, image, size)) << size;
    // clang-format off
    const test::Table<size_t, uint32_t, int, const char*> patches = {{0, 'P', 1, "signature"},
        {18, 0, 4, "zero width"}, {22, 0, 4, "zero height"}, {18, 0xFFFFFFFFu, 4, "width < 0"},
        {18, 16385, 4, "too wide"}, {22, 65537, 4, "too high"}, {22, 0xFFFEFFFFu, 4, "too high, top-down"},
        {22, 0x80000000u, 4, "INT32_MIN height"}, {26, 2, 2, "two planes"}, {28, 16, 2, "16 bits"},
        {30, 1, 4, "RLE8"}, {10, 20, 4, "pixels in the header"}, {10, 0xFFFFFFF0u, 4, "pixels past the end"},
        {14, 12, 4, "core header"}, {14, 0xFFFFFFFFu, 4, "long header"}, {30, 3, 4, "bitfields at 24 bits"}};
    // clang-format on
    for (const auto& [at, value, bytes, what] : patches) {
        std::vector<uint8_t> damaged = file;
        put(damaged, at, value, bytes);
        EXPECT_FALSE(decodes(damaged, image)) << what;
    }
    put(file, 18, 16384); // the largest size the reader takes, in a file far too short for it
    put(file, 22, 65536);
    EXPECT_FALSE(decodes(file, image));
    EXPECT_FALSE(decodeBmp(nullptr, 100, image));
}

// The frame sizes the editor's controls are built around, with the keys (after "IDB_") of each.
struct Size {
    const char* keys;
    int32_t width, frameHeight, frames;
    bool masked;
};
// clang-format off
const Size kSizes[] = {{"BACKGROUND", 824, 340, 1, false}, {"ABOUT", 420, 260, 1, false},
    {"UNIKNOB", 50, 60, 127, true}, {"FADER FADER_BROWN", 22, 46, 1, true}, {"POWER", 37, 27, 2, true},
    {"DSR_ENABLE COMP_ENABLE EQ_ENABLE DBL_ENABLE DLY_ENABLE", 25, 27, 2, true},
    {"GEN_ENABLE TUBE_ENABLE", 20, 34, 2, true}, {"TAB_DSR TAB_DBL", 50, 15, 2, true}, {"TAB_COMP", 53, 15, 2, true},
    {"TAB_EQ", 58, 15, 2, true}, {"TAB_DLY", 37, 15, 2, true}, {"METER15", 8, 120, 16, true},
    {"METER6", 8, 48, 7, true}, {"TUBE_METER OUT_TUBE_METER", 26, 32, 32, true}, {"ORDER", 240, 57, 1, true},
    {"ICON_COMP ICON_EQ ICON_DSR ICON_DBL ICON_DLY", 40, 47, 1, false}};
// clang-format on

// Every key names a lowercase 24-bit BMP (no alpha for the editor) at its control's size, masked
// ones with a mask of the same size that is grey (the controls read one channel) and somewhere
// full (or the image never shows whole); and the table holds nothing else.
TEST(ShippedSkinImages, EveryImageLoadsAtTheSizeItsControlExpectsWithAGreyMaskOfItsSize) {
    const std::filesystem::path skin = std::filesystem::path(PELLUCER_SOURCE_DIR) / "skin";
    SkinTable table;
    ASSERT_EQ(table.load(skin / "GraphicsResources.tsres"), SkinTable::kSuccess);
    auto load = [&](const std::string& key) {
        PixelBuffer image;
        const std::u16string* name = table.find(key);
        const std::string file = name != nullptr ? std::string(name->begin(), name->end()) : "";
        EXPECT_TRUE(file.ends_with(".bmp") && file.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ") == file.npos &&
                    readBmp(skin / file, image) && bmpBitsPerPixel(skin / file) == 24)
            << key << ": " << file;
        return image;
    };
    size_t names = 0;
    for (const Size& size : kSizes) {
        std::istringstream keys(size.keys);
        for (std::string key; keys >> key; names += size.masked ? 2 : 1) {
            key = "IDB_" + key;
            const PixelBuffer image = load(key);
            EXPECT_EQ(std::pair(image.width(), image.height()),
                      std::pair(size.width, size.frameHeight * size.frames))
                << key;
            // The knob's and the faders' mask keys end in "MASK", the others' in "_MASK".
            const std::string maskKey = key + (table.contains(key + "MASK") ? "MASK" : "_MASK");
            ASSERT_EQ(table.contains(maskKey), size.masked) << key;
            const PixelBuffer mask = size.masked ? load(maskKey) : image;
            EXPECT_EQ(std::pair(mask.width(), mask.height()), std::pair(image.width(), image.height()))
                << key;
            bool grey = true, covers = !size.masked;
            for (int32_t i = 0; i < mask.width() * mask.height() && size.masked; ++i) {
                const uint32_t p = mask.argb(i % mask.width(), i / mask.width()) & 0xFFFFFFu;
                grey = grey && p == (p & 0xFF) * 0x010101u;
                covers = covers || (p & 0xFF) == 255;
            }
            EXPECT_TRUE(grey && covers) << key;
        }
    }
    EXPECT_EQ(table.size(), names);
}

// Chunks with their CRCs, a zlib stream of stored deflate blocks, and every pixel back; the
// checksums themselves against their published check values.
TEST(PngFile, AFileTakenApartGivesBackEveryPixel) {
    auto big32 = [](const uint8_t* p) {
        return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
    };
    auto bytes = [](std::string_view s) {
        return std::span(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    };
    EXPECT_EQ(std::pair(test::pngCrc32(bytes("123456789")), test::adler32(bytes("Wikipedia"))),
              std::pair(0xCBF43926u, 0x11E60398u));
    PixelBuffer image(200, 120); // rows of 601 bytes, 72,120 in all: two stored blocks
    for (int32_t i = 0; i < 200 * 120; ++i)
        image.setArgb(i % 200, i / 200,
                      0xFF000000u | static_cast<uint32_t>(i % 200 << 16 | i / 200 << 8 | 7));
    const std::vector<uint8_t> file = test::encodePng(image);
    ASSERT_GT(file.size(), 8u);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 8), "\x89PNG\r\n\x1a\n");
    std::string types;
    std::vector<uint8_t> header, zlib, raw;
    for (size_t at = 8, length = 0; at < file.size(); at += 12 + length) {
        ASSERT_LE(at + 12, file.size());
        ASSERT_LE(at + 12 + (length = big32(&file[at])), file.size());
        EXPECT_EQ(big32(&file[at + 8 + length]), test::pngCrc32({&file[at + 4], 4 + length}));
        types += std::string(file.begin() + at + 4, file.begin() + at + 8);
        auto& data = types.size() == 4 ? header : zlib;
        data.insert(data.end(), file.begin() + at + 8, file.begin() + at + 8 + length);
    }
    EXPECT_EQ(types, "IHDRIDATIEND");
    // 200 x 120, 8 bits, truecolour, deflate, no filter choice, not interlaced.
    EXPECT_EQ(header, (std::vector<uint8_t>{0, 0, 0, 200, 0, 0, 0, 120, 8, 2, 0, 0, 0}));
    ASSERT_GE(zlib.size(), 6u);
    EXPECT_EQ(std::pair((zlib[0] << 8 | zlib[1]) % 31, zlib[0] & 0x0F), std::pair(0, 8)); // deflate, checked
    size_t at = 2;
    for (bool last = false; !last; at += 5 + (zlib[at + 1] | zlib[at + 2] << 8)) {
        ASSERT_LE(at + 5, zlib.size());
        const size_t n = zlib[at + 1] | zlib[at + 2] << 8;
        EXPECT_EQ(std::pair(zlib[at] >> 1, n ^ 0xFFFFu),
                  std::pair(0, size_t(zlib[at + 3] | zlib[at + 4] << 8)));
        ASSERT_LE(at + 5 + n, zlib.size());
        raw.insert(raw.end(), zlib.begin() + at + 5, zlib.begin() + at + 5 + n);
        last = (zlib[at] & 1) != 0;
    }
    ASSERT_EQ(at + 4, zlib.size());
    EXPECT_EQ(big32(&zlib[at]), test::adler32(raw));
    ASSERT_EQ(raw.size(), 120u * 601u);
    for (size_t i = 0; i < raw.size(); ++i) // each row unfiltered (0), then R, G, B per pixel
        ASSERT_EQ(raw[i],
                  (i % 601 == 0 ? 0 : std::array{(i % 601 - 1) / 3, i / 601, size_t{7}}[(i % 601 - 1) % 3]))
            << i;
    EXPECT_FALSE(
        test::writePng(std::filesystem::temp_directory_path() / "pellucer-empty.png", PixelBuffer()));
}

} // namespace
} // namespace pellucer::gui
