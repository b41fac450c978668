// libFuzzer target: the skin's bitmaps are files a user can replace (the Resources folder is
// theirs). The reader must take a BMP only when its header and pixels are all there, give an
// image of the header's size holding the file's pixels, and survive its own writer: decode,
// encode and decode again give the same image, and encoding that gives the same bytes.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "Shared/GUI/BmpFile.h"

using pellucer::gui::PixelBuffer;

// Aborts (a finding) naming the line of the check that failed.
static void check(bool condition, int line = __builtin_LINE()) {
    if (!condition) {
        std::fprintf(stderr, "check failed at line %d\n", line);
        std::abort();
    }
}

static uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact copy, so that a read past `size` hits the sanitizer's redzone.
    const std::vector<uint8_t> input(data, data + size);
    PixelBuffer image(3, 2);
    if (!pellucer::gui::decodeBmp(input.data(), size, image)) {
        check(image.empty() && image.width() == 0);
        return 0;
    }
    // The header read on its own: the size (a negative height is a top-down image), the depth,
    // and each pixel at its place in the padded rows.
    const auto width = static_cast<int32_t>(le32(data + 18));
    const auto height = static_cast<int32_t>(le32(data + 22));
    const int32_t bits = data[28] | data[29] << 8;
    check(data[0] == 'B' && data[1] == 'M' && (bits == 24 || bits == 32) && width > 0 && height != 0 &&
          image.width() == width && image.height() == (height < 0 ? -height : height));
    const size_t stride = (static_cast<size_t>(width) * bits + 31) / 32 * 4;
    const size_t pixels = le32(data + 10);
    check(pixels + stride * static_cast<size_t>(image.height()) <= size);
    for (int32_t y = 0; y < image.height(); ++y)
        for (int32_t x = 0; x < width; ++x) {
            const size_t row = static_cast<size_t>(height < 0 ? y : image.height() - 1 - y);
            const uint8_t* in = data + pixels + row * stride + static_cast<size_t>(x) * (bits / 8);
            const uint8_t* out = image.at(x, y);
            check(out[0] == in[0] && out[1] == in[1] && out[2] == in[2] && out[3] == (bits == 32 ? in[3] : 255));
        }
    // Our own files of the image, at both depths: the 32-bit one keeps every byte, the 24-bit
    // one every colour (alpha becomes opaque), and each encodes again to the same bytes.
    for (const int32_t depth : {32, 24}) {
        const std::vector<uint8_t> file = pellucer::gui::encodeBmp(image, depth);
        PixelBuffer again;
        check(!file.empty() && pellucer::gui::decodeBmp(file.data(), file.size(), again) &&
              again.width() == image.width() && again.height() == image.height() &&
              pellucer::gui::encodeBmp(again, depth) == file);
        for (int32_t y = 0; y < image.height(); ++y)
            for (int32_t x = 0; x < width; ++x)
                check(again.argb(x, y) == (depth == 32 ? image.argb(x, y) : image.argb(x, y) | 0xFF000000u));
    }
    return 0;
}
