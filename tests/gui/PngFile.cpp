#include "tests/gui/PngFile.h"

#include <array>
#include <fstream>

namespace pellucer::gui::test {
namespace {

constexpr std::array<uint8_t, 8> kSignature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
// A stored deflate block carries at most 65,535 bytes.
constexpr size_t kStoredBlockBytes = 65535;

void putBig32(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v >> 24));
    out.push_back(static_cast<uint8_t>(v >> 16));
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

void putChunk(std::vector<uint8_t>& out, const char type[4], std::span<const uint8_t> data) {
    putBig32(out, static_cast<uint32_t>(data.size()));
    const size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    putBig32(out, pngCrc32(std::span<const uint8_t>(out.data() + typeAt, 4 + data.size())));
}

} // namespace

uint32_t pngCrc32(std::span<const uint8_t> bytes) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    uint32_t c = 0xFFFFFFFFu;
    for (uint8_t b : bytes)
        c = table[(c ^ b) & 0xFFu] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

uint32_t adler32(std::span<const uint8_t> bytes) {
    uint32_t a = 1, b = 0;
    for (uint8_t v : bytes) {
        a = (a + v) % 65521u;
        b = (b + a) % 65521u;
    }
    return (b << 16) | a;
}

std::vector<uint8_t> encodePng(const PixelBuffer& image) {
    if (image.empty())
        return {};
    const auto width = static_cast<uint32_t>(image.width());
    const auto height = static_cast<uint32_t>(image.height());

    // The raw scanlines: filter type 0, then R, G, B per pixel, top row first.
    std::vector<uint8_t> raw;
    raw.reserve(static_cast<size_t>(height) * (1 + 3 * static_cast<size_t>(width)));
    for (int32_t y = 0; y < image.height(); ++y) {
        raw.push_back(0);
        for (int32_t x = 0; x < image.width(); ++x) {
            const uint8_t* bgra = image.at(x, y);
            raw.push_back(bgra[2]);
            raw.push_back(bgra[1]);
            raw.push_back(bgra[0]);
        }
    }

    // zlib: header 0x78 0x01 (deflate, 32 KiB window, no preset dictionary; 0x7801 % 31 == 0),
    // stored blocks, Adler-32 of the raw bytes.
    std::vector<uint8_t> zlib{0x78, 0x01};
    for (size_t at = 0; at < raw.size(); at += kStoredBlockBytes) {
        const size_t n = std::min(kStoredBlockBytes, raw.size() - at);
        const bool last = at + n == raw.size();
        zlib.push_back(last ? 1 : 0);
        zlib.push_back(static_cast<uint8_t>(n));
        zlib.push_back(static_cast<uint8_t>(n >> 8));
        zlib.push_back(static_cast<uint8_t>(~n));
        zlib.push_back(static_cast<uint8_t>(~n >> 8));
        zlib.insert(zlib.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                    raw.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    putBig32(zlib, adler32(raw));

    std::vector<uint8_t> header;
    putBig32(header, width);
    putBig32(header, height);
    header.insert(header.end(), {8, 2, 0, 0, 0}); // 8 bits, truecolour, deflate, no filter choice, no interlace

    std::vector<uint8_t> file(kSignature.begin(), kSignature.end());
    putChunk(file, "IHDR", header);
    putChunk(file, "IDAT", zlib);
    putChunk(file, "IEND", {});
    return file;
}

bool writePng(const std::filesystem::path& path, const PixelBuffer& image) {
    const std::vector<uint8_t> bytes = encodePng(image);
    if (bytes.empty())
        return false;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

} // namespace pellucer::gui::test
