#include "Shared/GUI/BmpFile.h"

#include <fstream>
#include <iterator>

namespace pellucer::gui {

namespace {

// BITMAPFILEHEADER (14 bytes) followed by BITMAPINFOHEADER (40 bytes), all little-endian.
constexpr size_t kFileHeaderBytes = 14;
constexpr size_t kInfoHeaderBytes = 40;
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;
// The colour masks of a 32-bit BI_BITFIELDS image laid out as plain BGRA.
constexpr uint32_t kRedMask = 0x00FF0000u;
constexpr uint32_t kGreenMask = 0x0000FF00u;
constexpr uint32_t kBlueMask = 0x000000FFu;
// 2835 pixels per metre is 72 dots per inch; only informative.
constexpr int32_t kPixelsPerMetre = 2835;

uint16_t read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t read32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

/// Bytes per stored row: rows are padded to whole 32-bit words.
uint64_t strideOf(int32_t width, int32_t bitsPerPixel) {
    return (static_cast<uint64_t>(width) * static_cast<uint64_t>(bitsPerPixel) + 31u) / 32u * 4u;
}

bool readWholeFile(const std::filesystem::path& path, std::vector<uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

} // namespace

bool decodeBmp(const uint8_t* bytes, size_t size, PixelBuffer& image) {
    image.resize(0, 0);
    if (bytes == nullptr || size < kFileHeaderBytes + kInfoHeaderBytes)
        return false;
    if (bytes[0] != 'B' || bytes[1] != 'M')
        return false;
    const uint32_t pixelOffset = read32(bytes + 10);
    const uint8_t* info = bytes + kFileHeaderBytes;
    const uint32_t infoSize = read32(info);
    // 40 is BITMAPINFOHEADER; 52, 56, 108 and 124 are its longer successors, which begin alike.
    if (infoSize < kInfoHeaderBytes || infoSize > size - kFileHeaderBytes)
        return false;
    const auto width = static_cast<int32_t>(read32(info + 4));
    const auto rawHeight = static_cast<int32_t>(read32(info + 8));
    const uint16_t planes = read16(info + 12);
    const uint16_t bitsPerPixel = read16(info + 14);
    const uint32_t compression = read32(info + 16);
    if (planes != 1 || (bitsPerPixel != 24 && bitsPerPixel != 32))
        return false;
    // A negative height marks a top-down image. INT32_MIN has no positive counterpart; the range
    // check refuses it before it is negated.
    if (rawHeight == INT32_MIN)
        return false;
    const bool topDown = rawHeight < 0;
    const int32_t height = topDown ? -rawHeight : rawHeight;
    if (width <= 0 || height <= 0 || width > kBmpMaxWidth || height > kBmpMaxHeight)
        return false;

    size_t headerEnd = kFileHeaderBytes + infoSize;
    if (compression == kBiBitfields) {
        if (bitsPerPixel != 32)
            return false;
        // The three masks follow a 40-byte header; the longer headers hold them at the same place.
        const size_t masksAt = kFileHeaderBytes + kInfoHeaderBytes;
        if (size < masksAt + 12)
            return false;
        if (read32(bytes + masksAt) != kRedMask || read32(bytes + masksAt + 4) != kGreenMask ||
            read32(bytes + masksAt + 8) != kBlueMask)
            return false;
        if (infoSize == kInfoHeaderBytes)
            headerEnd += 12;
    } else if (compression != kBiRgb) {
        return false;
    }
    if (pixelOffset < headerEnd)
        return false;
    const uint64_t stride = strideOf(width, bitsPerPixel);
    if (static_cast<uint64_t>(pixelOffset) + stride * static_cast<uint64_t>(height) > size)
        return false;

    image.resize(width, height);
    const int32_t bytesPerPixel = bitsPerPixel / 8;
    for (int32_t row = 0; row < height; ++row) {
        const uint8_t* in = bytes + pixelOffset + stride * static_cast<uint64_t>(row);
        const int32_t y = topDown ? row : height - 1 - row;
        uint8_t* out = image.at(0, y);
        for (int32_t x = 0; x < width; ++x, in += bytesPerPixel, out += 4) {
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
            out[3] = bytesPerPixel == 4 ? in[3] : 255;
        }
    }
    return true;
}

bool readBmp(const std::filesystem::path& path, PixelBuffer& image) {
    std::vector<uint8_t> bytes;
    if (!readWholeFile(path, bytes)) {
        image.resize(0, 0);
        return false;
    }
    return decodeBmp(bytes.data(), bytes.size(), image);
}

std::vector<uint8_t> encodeBmp(const PixelBuffer& image, int32_t bitsPerPixel) {
    if (image.empty() || (bitsPerPixel != 24 && bitsPerPixel != 32))
        return {};
    const int32_t width = image.width();
    const int32_t height = image.height();
    const uint64_t stride = strideOf(width, bitsPerPixel);
    const uint64_t pixelBytes = stride * static_cast<uint64_t>(height);
    const size_t offset = kFileHeaderBytes + kInfoHeaderBytes;
    if (pixelBytes + offset > UINT32_MAX)
        return {};
    std::vector<uint8_t> bytes(offset + pixelBytes, 0);
    uint8_t* p = bytes.data();
    p[0] = 'B';
    p[1] = 'M';
    put32(p + 2, static_cast<uint32_t>(bytes.size()));
    put32(p + 10, static_cast<uint32_t>(offset));
    uint8_t* info = p + kFileHeaderBytes;
    put32(info, static_cast<uint32_t>(kInfoHeaderBytes));
    put32(info + 4, static_cast<uint32_t>(width));
    put32(info + 8, static_cast<uint32_t>(height)); // positive: bottom-up
    put16(info + 12, 1);
    put16(info + 14, static_cast<uint32_t>(bitsPerPixel));
    put32(info + 16, kBiRgb);
    put32(info + 20, static_cast<uint32_t>(pixelBytes));
    put32(info + 24, static_cast<uint32_t>(kPixelsPerMetre));
    put32(info + 28, static_cast<uint32_t>(kPixelsPerMetre));

    const int32_t bytesPerPixel = bitsPerPixel / 8;
    for (int32_t row = 0; row < height; ++row) {
        uint8_t* out = p + offset + stride * static_cast<uint64_t>(row);
        const uint8_t* in = image.at(0, height - 1 - row);
        for (int32_t x = 0; x < width; ++x, in += 4, out += bytesPerPixel) {
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
            if (bytesPerPixel == 4)
                out[3] = in[3];
        }
    }
    return bytes;
}

bool writeBmp(const std::filesystem::path& path, const PixelBuffer& image, int32_t bitsPerPixel) {
    const std::vector<uint8_t> bytes = encodeBmp(image, bitsPerPixel);
    if (bytes.empty())
        return false;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return !out.fail();
}

int32_t bmpBitsPerPixel(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return -1;
    in.seekg(static_cast<std::streamoff>(kBmpBitsPerPixelOffset));
    uint8_t field[2] = {};
    if (!in.read(reinterpret_cast<char*>(field), 2))
        return -1;
    return read16(field);
}

} // namespace pellucer::gui
