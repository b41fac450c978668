#include "Shared/GUI/BmpFile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using pellucer::gui::bmpBitsPerPixel;
using pellucer::gui::decodeBmp;
using pellucer::gui::encodeBmp;
using pellucer::gui::PixelBuffer;
using pellucer::gui::readBmp;
using pellucer::gui::writeBmp;

namespace {

/// A buffer whose every pixel differs from its neighbours in all channels.
PixelBuffer pattern(int32_t w, int32_t h) {
    PixelBuffer image(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            image.setArgb(x, y,
                          (static_cast<uint32_t>((x * 7 + y * 3) & 0xFF) << 24) |
                              (static_cast<uint32_t>((x * 37 + y * 11 + 5) & 0xFF) << 16) |
                              (static_cast<uint32_t>((x * 13 + y * 101 + 9) & 0xFF) << 8) |
                              static_cast<uint32_t>((x * 59 + y * 17 + 200) & 0xFF));
    return image;
}

void put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

/// A BMP file laid out by hand (independent of the encoder): 14 + 40 header bytes, optional
/// colour masks, then `pixels` as given.
std::vector<uint8_t> handMadeBmp(int32_t width, int32_t height, uint16_t bits, uint32_t compression,
                                 const std::vector<uint8_t>& pixels,
                                 const std::vector<uint32_t>& masks = {}) {
    const size_t offset = 54 + masks.size() * 4;
    std::vector<uint8_t> b(offset, 0);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 2, static_cast<uint32_t>(offset + pixels.size()));
    put32(b, 10, static_cast<uint32_t>(offset));
    put32(b, 14, 40);
    put32(b, 18, static_cast<uint32_t>(width));
    put32(b, 22, static_cast<uint32_t>(height));
    put16(b, 26, 1);
    put16(b, 28, bits);
    put32(b, 30, compression);
    for (size_t i = 0; i < masks.size(); ++i)
        put32(b, 54 + 4 * i, masks[i]);
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

bool decodes(const std::vector<uint8_t>& bytes, PixelBuffer& image) {
    return decodeBmp(bytes.data(), bytes.size(), image);
}

std::filesystem::path tempFile(const char* name) {
    return std::filesystem::temp_directory_path() / (std::string("pellucer_bmp_") + name);
}

} // namespace

TEST(BmpFile, RoundTripsKeepColoursForEveryRowPaddingAndAlphaAt32Bits) {
    // Widths 1..5 give 24-bit rows of 3, 6, 9, 12, 15 bytes: padding 1, 2, 3, 0, 1.
    for (int32_t bits : {24, 32})
        for (int32_t w = 1; w <= 5; ++w) {
            SCOPED_TRACE(::testing::Message() << bits << " bits, width " << w);
            const PixelBuffer original = pattern(w, 3);
            const std::vector<uint8_t> bytes = encodeBmp(original, bits);
            const size_t stride = (static_cast<size_t>(w * bits / 8) + 3) / 4 * 4;
            ASSERT_EQ(bytes.size(), 54 + stride * 3);
            PixelBuffer decoded;
            ASSERT_TRUE(decodes(bytes, decoded));
            ASSERT_EQ(decoded.width(), w);
            ASSERT_EQ(decoded.height(), 3);
            if (bits == 32) {
                EXPECT_EQ(decoded, original);
                continue;
            }
            for (int32_t y = 0; y < 3; ++y)
                for (int32_t x = 0; x < w; ++x)
                    EXPECT_EQ(decoded.argb(x, y), original.argb(x, y) | 0xFF000000u)
                        << "opaque " << x << "," << y;
        }
    EXPECT_TRUE(encodeBmp(pattern(2, 2), 16).empty());
    EXPECT_TRUE(encodeBmp(PixelBuffer(), 24).empty());
}

TEST(BmpFile, EncoderWritesBottomUpRowsWithZeroPadding) {
    PixelBuffer image(3, 2);
    image.setArgb(0, 0, 0xFF102030u); // top-left
    image.setArgb(0, 1, 0xFF405060u); // bottom-left
    const std::vector<uint8_t> b = encodeBmp(image, 24);
    ASSERT_EQ(b.size(), 54u + 12u * 2u);
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(b[2] | (b[3] << 8), 78); // file size
    EXPECT_EQ(b[10], 54);              // pixel offset
    EXPECT_EQ(b[22], 2);               // positive height: bottom-up
    EXPECT_EQ(b[28], 24);              // bits per pixel
    EXPECT_EQ(b[30], 0);               // BI_RGB
    // The first stored row is the bottom one, as B, G, R.
    EXPECT_EQ(b[54], 0x60);
    EXPECT_EQ(b[55], 0x50);
    EXPECT_EQ(b[56], 0x40);
    EXPECT_EQ(b[66], 0x30);
    EXPECT_EQ(b[67], 0x20);
    EXPECT_EQ(b[68], 0x10);
    for (size_t i : {63u, 64u, 65u, 75u, 76u, 77u})
        EXPECT_EQ(b[i], 0) << "padding byte " << i;
}

TEST(BmpFile, TopDownAndBottomUpGiveTheSameImage) {
    // Two rows of one pixel, stored in file order: red first, then blue.
    const std::vector<uint8_t> rows = {0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0x00, 0x00};
    PixelBuffer bottomUp, topDown;
    ASSERT_TRUE(decodes(handMadeBmp(1, 2, 24, 0, rows), bottomUp));
    ASSERT_TRUE(decodes(handMadeBmp(1, -2, 24, 0, rows), topDown));
    // Bottom-up: the first stored row is the bottom of the picture.
    EXPECT_EQ(bottomUp.argb(0, 1), 0xFFFF0000u);
    EXPECT_EQ(bottomUp.argb(0, 0), 0xFF0000FFu);
    // Top-down: the first stored row is the top.
    EXPECT_EQ(topDown.argb(0, 0), 0xFFFF0000u);
    EXPECT_EQ(topDown.argb(0, 1), 0xFF0000FFu);
    EXPECT_EQ(topDown.height(), 2);
}

TEST(BmpFile, BitfieldsAreReadOnlyInThePlainByteLayout) {
    const std::vector<uint8_t> pixel = {0x11, 0x22, 0x33, 0x44};
    PixelBuffer image;
    EXPECT_TRUE(decodes(handMadeBmp(1, 1, 32, 3, pixel, {0x00FF0000u, 0x0000FF00u, 0x000000FFu}), image));
    EXPECT_EQ(image.argb(0, 0), 0x44332211u);
    // Another channel order, or bitfields at 24 bits, is refused.
    EXPECT_FALSE(decodes(handMadeBmp(1, 1, 32, 3, pixel, {0x000000FFu, 0x0000FF00u, 0x00FF0000u}), image));
    EXPECT_FALSE(decodes(handMadeBmp(1, 1, 24, 3, pixel, {0x00FF0000u, 0x0000FF00u, 0x000000FFu}), image));
    EXPECT_TRUE(image.empty());
}

TEST(BmpFile, DamagedOrUnsupportedFilesAreRefusedAndLeaveNoImage) {
    const std::vector<uint8_t> good = encodeBmp(pattern(5, 4), 24);
    PixelBuffer image;
    ASSERT_TRUE(decodes(good, image));

    // Every truncation of a valid file.
    for (size_t size = 0; size < good.size(); ++size) {
        image = pattern(2, 2);
        EXPECT_FALSE(decodeBmp(good.data(), size, image)) << size;
        EXPECT_TRUE(image.empty()) << size;
    }
    EXPECT_FALSE(decodeBmp(nullptr, 100, image));

    auto refused = [&](std::vector<uint8_t> bytes, const char* what) {
        PixelBuffer out = pattern(2, 2);
        EXPECT_FALSE(decodes(bytes, out)) << what;
        EXPECT_TRUE(out.empty()) << what;
    };
    auto patched = [&](size_t at, uint32_t value, int bytes = 4) {
        std::vector<uint8_t> b = good;
        if (bytes == 2)
            put16(b, at, value);
        else
            put32(b, at, value);
        return b;
    };
    std::vector<uint8_t> notBmp = good;
    notBmp[0] = 'P';
    refused(notBmp, "signature");
    refused(patched(18, 0), "zero width");
    refused(patched(22, 0), "zero height");
    refused(patched(18, 0xFFFFFFFFu), "negative width");
    refused(patched(18, 16385), "too wide");
    refused(patched(22, 65537), "too high");
    refused(patched(22, static_cast<uint32_t>(-65537)), "too high, top-down");
    refused(patched(22, 0x80000000u), "INT32_MIN height");
    refused(patched(26, 2, 2), "two planes");
    refused(patched(28, 8, 2), "8 bits");
    refused(patched(28, 16, 2), "16 bits");
    refused(patched(30, 1), "RLE8");
    refused(patched(10, 20), "pixels inside the header");
    refused(patched(10, 0xFFFFFFF0u), "pixels past the end");
    refused(patched(14, 12), "core header");
    refused(patched(14, 0xFFFFFFFFu), "header longer than the file");
    // A header that claims the largest size the reader allows, with a few bytes of pixels.
    refused(handMadeBmp(16384, 65536, 32, 0, std::vector<uint8_t>(64, 0)), "huge claim, short file");

    // Bytes of a deterministic generator after a valid signature never crash the reader.
    uint32_t seed = 2024;
    for (int trial = 0; trial < 2000; ++trial) {
        std::vector<uint8_t> junk(54 + trial % 90);
        for (auto& byte : junk) {
            seed = seed * 1664525u + 1013904223u;
            byte = static_cast<uint8_t>(seed >> 24);
        }
        junk[0] = 'B';
        junk[1] = 'M';
        PixelBuffer out;
        if (decodes(junk, out)) {
            EXPECT_GT(out.width(), 0);
            EXPECT_GT(out.height(), 0);
        } else {
            EXPECT_TRUE(out.empty());
        }
    }
}

TEST(BmpFile, FilesOnDiskAndTheirBitsPerPixelField) {
    const auto file24 = tempFile("24.bmp");
    const auto file32 = tempFile("32.bmp");
    const auto shortFile = tempFile("short.bmp");
    const PixelBuffer original = pattern(9, 6);
    ASSERT_TRUE(writeBmp(file24, original, 24));
    ASSERT_TRUE(writeBmp(file32, original, 32));
    {
        std::ofstream out(shortFile, std::ios::binary);
        const std::string bytes = "BM" + std::string(27, 'x'); // 29 bytes: ends inside the field at byte 28
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    // The skin's bitmap loader decides has-alpha from this field: 24 no, 32 yes.
    EXPECT_EQ(bmpBitsPerPixel(file24), 24);
    EXPECT_EQ(bmpBitsPerPixel(file32), 32);
    EXPECT_EQ(bmpBitsPerPixel(shortFile), -1);
    EXPECT_EQ(bmpBitsPerPixel(tempFile("missing.bmp")), -1);

    PixelBuffer read24, read32;
    ASSERT_TRUE(readBmp(file24, read24));
    ASSERT_TRUE(readBmp(file32, read32));
    EXPECT_EQ(read32, original);
    EXPECT_EQ(read24.argb(8, 5) & 0x00FFFFFFu, original.argb(8, 5) & 0x00FFFFFFu);
    PixelBuffer missing = pattern(1, 1);
    EXPECT_FALSE(readBmp(tempFile("missing.bmp"), missing));
    EXPECT_TRUE(missing.empty());
    EXPECT_FALSE(writeBmp(tempFile("no-such-folder") / "x.bmp", original));

    std::filesystem::remove(file24);
    std::filesystem::remove(file32);
    std::filesystem::remove(shortFile);
}
