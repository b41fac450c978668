#include "tests/gui/PngFile.h"

#include <algorithm>
#include <fstream>

namespace pellucer::gui::test {

uint32_t pngCrc32(std::span<const uint8_t> bytes) {
    uint32_t c = 0xFFFFFFFFu;
    for (uint8_t b : bytes) {
        c ^= b;
        for (int k = 0; k < 8; ++k) // the reflected polynomial 0xEDB88320, a bit at a time
            c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return ~c;
}

uint32_t adler32(std::span<const uint8_t> bytes) {
    uint32_t a = 1, b = 0;
    for (uint8_t v : bytes)
        b = (b + (a = (a + v) % 65521u)) % 65521u;
    return (b << 16) | a;
}

std::vector<uint8_t> encodePng(const PixelBuffer& image) {
    if (image.empty())
        return {};
    auto big32 = [](std::vector<uint8_t>& out, uint32_t v) {
        out.insert(out.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
    };
    std::vector<uint8_t> raw; // each row: filter type 0, then R, G, B per pixel; top row first
    for (int32_t y = 0; y < image.height(); ++y) {
        raw.push_back(0);
        for (int32_t x = 0; x < image.width(); ++x)
            raw.insert(raw.end(), {image.at(x, y)[2], image.at(x, y)[1], image.at(x, y)[0]});
    }
    // zlib: deflate with a 32 KiB window (0x7801 % 31 == 0), stored blocks of at most 65,535
    // bytes (a last-block flag, the length and its complement), then the Adler-32 of the raw bytes.
    std::vector<uint8_t> zlib{0x78, 0x01};
    for (size_t at = 0; at < raw.size(); at += 65535) {
        const auto n = static_cast<uint16_t>(std::min<size_t>(65535, raw.size() - at));
        zlib.insert(zlib.end(), {uint8_t(at + n == raw.size()), uint8_t(n), uint8_t(n >> 8), uint8_t(~n),
                                 uint8_t(~n >> 8)});
        zlib.insert(zlib.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                    raw.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    big32(zlib, adler32(raw));
    std::vector<uint8_t> header;
    big32(header, static_cast<uint32_t>(image.width()));
    big32(header, static_cast<uint32_t>(image.height()));
    header.insert(header.end(),
                  {8, 2, 0, 0, 0}); // 8 bits, truecolour, deflate, no filter choice, no interlace
    std::vector<uint8_t> file{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    using Chunk = std::pair<const char*, std::vector<uint8_t>>;
    for (const auto& [type, data] : {Chunk{"IHDR", header}, Chunk{"IDAT", zlib}, Chunk{"IEND", {}}}) {
        big32(file,
              static_cast<uint32_t>(data.size())); // each chunk: length, type, data, CRC of type and data
        file.insert(file.end(), type, type + 4);
        file.insert(file.end(), data.begin(), data.end());
        big32(file, pngCrc32(std::span(file).last(4 + data.size())));
    }
    return file;
}

bool writePng(const std::filesystem::path& path, const PixelBuffer& image) {
    const std::vector<uint8_t> bytes = encodePng(image);
    if (bytes.empty())
        return false;
    std::ofstream out(path, std::ios::binary);
    return out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))
        .good();
}

} // namespace pellucer::gui::test
