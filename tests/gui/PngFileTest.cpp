// The test pictures' PNG writer: its checksums against their published check values, and a file
// taken apart again (chunks, CRCs, stored deflate blocks) giving back every pixel.

#include <gtest/gtest.h>

#include <cstring>
#include <string_view>

#include "tests/gui/PngFile.h"

namespace pellucer::gui::test {
namespace {

std::span<const uint8_t> bytesOf(std::string_view s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

uint32_t big32(const std::vector<uint8_t>& b, size_t at) {
    return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) | b[at + 3];
}

struct Chunk {
    std::string type;
    std::vector<uint8_t> data;
};

/// Splits a PNG file into its chunks, checking each CRC.
std::vector<Chunk> chunksOf(const std::vector<uint8_t>& file) {
    std::vector<Chunk> chunks;
    size_t at = 8;
    while (at + 12 <= file.size()) {
        const uint32_t length = big32(file, at);
        EXPECT_LE(at + 12 + length, file.size());
        if (at + 12 + length > file.size())
            break;
        Chunk chunk{std::string(reinterpret_cast<const char*>(&file[at + 4]), 4),
                    std::vector<uint8_t>(file.begin() + static_cast<std::ptrdiff_t>(at + 8),
                                         file.begin() + static_cast<std::ptrdiff_t>(at + 8 + length))};
        EXPECT_EQ(big32(file, at + 8 + length), pngCrc32(std::span<const uint8_t>(&file[at + 4], 4 + length)))
            << chunk.type;
        chunks.push_back(std::move(chunk));
        at += 12 + length;
    }
    EXPECT_EQ(at, file.size());
    return chunks;
}

/// The raw bytes of a zlib stream made of stored deflate blocks.
std::vector<uint8_t> inflateStored(const std::vector<uint8_t>& zlib) {
    std::vector<uint8_t> raw;
    EXPECT_GE(zlib.size(), 6u);
    EXPECT_EQ(((zlib[0] << 8) | zlib[1]) % 31, 0) << "zlib header check bits";
    EXPECT_EQ(zlib[0] & 0x0f, 8) << "deflate";
    size_t at = 2;
    bool last = false;
    while (!last && at + 5 <= zlib.size()) {
        last = (zlib[at] & 1) != 0;
        EXPECT_EQ(zlib[at] >> 1, 0) << "stored block";
        const uint16_t n = static_cast<uint16_t>(zlib[at + 1] | (zlib[at + 2] << 8));
        const uint16_t check = static_cast<uint16_t>(zlib[at + 3] | (zlib[at + 4] << 8));
        EXPECT_EQ(static_cast<uint16_t>(~n), check);
        at += 5;
        if (at + n > zlib.size()) {
            ADD_FAILURE() << "block runs past the stream";
            return raw;
        }
        raw.insert(raw.end(), zlib.begin() + static_cast<std::ptrdiff_t>(at),
                   zlib.begin() + static_cast<std::ptrdiff_t>(at + n));
        at += n;
    }
    EXPECT_TRUE(last);
    EXPECT_EQ(at + 4, zlib.size());
    if (at + 4 == zlib.size()) {
        EXPECT_EQ(big32(zlib, at), adler32(raw));
    }
    return raw;
}

TEST(PngFile, ChecksumsMatchTheirPublishedCheckValues) {
    EXPECT_EQ(pngCrc32(bytesOf("123456789")), 0xCBF43926u);
    EXPECT_EQ(pngCrc32(bytesOf("IEND")), 0xAE426082u); // every PNG file ends with these bytes
    EXPECT_EQ(adler32(bytesOf("Wikipedia")), 0x11E60398u);
    EXPECT_EQ(adler32({}), 1u);
}

TEST(PngFile, AFileTakenApartGivesBackEveryPixel) {
    // 200 × 120 RGB rows are 72,120 raw bytes: two stored blocks.
    PixelBuffer image(200, 120);
    for (int32_t y = 0; y < image.height(); ++y)
        for (int32_t x = 0; x < image.width(); ++x)
            image.setArgb(x, y, 0xFF000000u | static_cast<uint32_t>(x * 65536 + y * 256 + ((x ^ y) & 0xFF)));
    const std::vector<uint8_t> file = encodePng(image);
    ASSERT_GT(file.size(), 8u);
    EXPECT_EQ(std::memcmp(file.data(), "\x89PNG\r\n\x1a\n", 8), 0);

    const std::vector<Chunk> chunks = chunksOf(file);
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[0].type, "IHDR");
    EXPECT_EQ(chunks[1].type, "IDAT");
    EXPECT_EQ(chunks[2].type, "IEND");
    EXPECT_TRUE(chunks[2].data.empty());
    ASSERT_EQ(chunks[0].data.size(), 13u);
    EXPECT_EQ(big32(chunks[0].data, 0), 200u);
    EXPECT_EQ(big32(chunks[0].data, 4), 120u);
    EXPECT_EQ(chunks[0].data[8], 8);  // bits per sample
    EXPECT_EQ(chunks[0].data[9], 2);  // truecolour
    EXPECT_EQ(chunks[0].data[12], 0); // not interlaced

    const std::vector<uint8_t> raw = inflateStored(chunks[1].data);
    ASSERT_EQ(raw.size(), 120u * (1 + 3 * 200));
    for (int32_t y = 0; y < 120; ++y) {
        const uint8_t* row = raw.data() + static_cast<size_t>(y) * (1 + 3 * 200);
        ASSERT_EQ(row[0], 0) << "row " << y << " unfiltered";
        for (int32_t x = 0; x < 200; ++x) {
            const uint32_t argb = image.argb(x, y);
            ASSERT_EQ(row[1 + 3 * x], (argb >> 16) & 0xFF) << x << "," << y;
            ASSERT_EQ(row[2 + 3 * x], (argb >> 8) & 0xFF) << x << "," << y;
            ASSERT_EQ(row[3 + 3 * x], argb & 0xFF) << x << "," << y;
        }
    }
}

TEST(PngFile, AnEmptyImageGivesNoFile) {
    EXPECT_TRUE(encodePng(PixelBuffer()).empty());
    EXPECT_FALSE(writePng(std::filesystem::temp_directory_path() / "pellucer-empty.png", PixelBuffer()));
}

} // namespace
} // namespace pellucer::gui::test
