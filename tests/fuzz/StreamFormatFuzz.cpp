// libFuzzer target: the DirectX filter's project stream is untrusted input (a host's project file
// from anywhere). Any bytes must parse to a complete image, a refusal or "ends early" without
// reading past the input; a complete image must hold the header and length it was read from,
// read only its own bytes, and carry its chunk through a real engine and back unchanged.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/ChannelStripEffect.h"
#include "dx/filter/StreamFormat.h"

using pellucer::dx::StreamImage;
using pellucer::dx::StreamStatus;

// Aborts (a finding) naming the line of the check that failed.
static void check(bool condition, int line = __builtin_LINE()) {
    if (!condition) {
        std::fprintf(stderr, "check failed at line %d\n", line);
        std::abort();
    }
}

static StreamImage parse(const std::vector<uint8_t>& bytes) {
    return pellucer::dx::parseStreamImage(bytes.data(), bytes.size());
}

// The image a filter saves for `chunk`.
static std::vector<uint8_t> imageOf(const uint8_t* chunk, uint32_t size) {
    const auto header = pellucer::dx::streamVersionHeader();
    const auto length = pellucer::dx::streamLengthField(size);
    std::vector<uint8_t> image(header.begin(), header.end());
    image.insert(image.end(), length.begin(), length.end());
    image.insert(image.end(), chunk, chunk + size);
    return image;
}

static std::vector<uint8_t> savedImage(pellucer::ChannelStripEffect& effect) {
    void* chunk = nullptr;
    const int32_t size = effect.getChunk(&chunk, false);
    check(size > 0);
    return imageOf(static_cast<const uint8_t*>(chunk), static_cast<uint32_t>(size));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static pellucer::ChannelStripEffect effect(nullptr), copy(nullptr);
    // An exact copy, so that a read past `size` hits the sanitizer's redzone.
    const std::vector<uint8_t> input(data, data + size);
    const StreamImage image = parse(input);
    std::vector<uint8_t> longer = input;
    longer.insert(longer.end(), {'0', 0, ' ', 0});
    const StreamImage extended = parse(longer);
    if (image.status != StreamStatus::Complete) {
        check(image.status == StreamStatus::InvalidFormat || image.status == StreamStatus::EndsEarly);
        // A refusal rests on bytes already read; more bytes cannot undo it.
        check(image.status != StreamStatus::InvalidFormat || extended.status == StreamStatus::InvalidFormat);
        return 0;
    }
    // Read independently: UTF-16LE characters, an optional '-' first, digits, one terminator,
    // then the 32-bit little-endian length and that many bytes.
    const size_t lengthAt = image.chunkOffset - pellucer::dx::kStreamLengthBytes;
    check(image.chunkOffset >= 6 && lengthAt % 2 == 0 && image.chunkOffset + image.chunkBytes <= size &&
          image.chunkBytes <= pellucer::dx::kStreamMaxChunkBytes);
    for (size_t i = 0; i < lengthAt; i += 2) {
        const unsigned c = data[i] | data[i + 1] << 8;
        const bool last = i + 2 == lengthAt;
        check(last ? (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == 0)
                   : ((c >= '0' && c <= '9') || (i == 0 && c == '-')));
    }
    check(image.chunkBytes == (data[lengthAt] | data[lengthAt + 1] << 8 | data[lengthAt + 2] << 16 |
                               static_cast<uint32_t>(data[lengthAt + 3]) << 24));
    // Bytes after the image are another object's; one byte less ends early.
    check(extended.status == StreamStatus::Complete && extended.chunkOffset == image.chunkOffset &&
          extended.chunkBytes == image.chunkBytes);
    const size_t imageBytes = image.chunkOffset + image.chunkBytes;
    check(parse(std::vector<uint8_t>(data, data + imageBytes - 1)).status == StreamStatus::EndsEarly);
    // The chunk written again behind our own header reads back as the same chunk.
    const uint8_t* chunk = input.data() + image.chunkOffset;
    const std::vector<uint8_t> rewritten = imageOf(chunk, image.chunkBytes);
    const StreamImage again = parse(rewritten);
    check(again.status == StreamStatus::Complete && again.chunkOffset == 28 &&
          again.chunkBytes == image.chunkBytes &&
          std::equal(chunk, chunk + image.chunkBytes, rewritten.begin() + 28));

    // The filter hands the chunk to the engine as it stands; what the engine then saves loads into
    // another engine with the same values, and both still process to finite samples.
    std::vector<uint8_t> exact(chunk, chunk + image.chunkBytes);
    effect.setChunk(exact.empty() ? nullptr : exact.data(), static_cast<int32_t>(exact.size()), false);
    const std::vector<uint8_t> saved = savedImage(effect);
    const StreamImage reread = parse(saved);
    check(reread.status == StreamStatus::Complete && reread.chunkOffset + reread.chunkBytes == saved.size());
    std::vector<uint8_t> savedChunk(saved.begin() + static_cast<ptrdiff_t>(reread.chunkOffset), saved.end());
    copy.setChunk(savedChunk.data(), static_cast<int32_t>(savedChunk.size()), false);
    check(savedImage(copy) == saved);
    std::vector<float> left(64, 0.5f), right(64, -0.5f);
    float* io[2] = {left.data(), right.data()};
    for (pellucer::ChannelStripEffect* e : {&effect, &copy}) {
        for (int32_t i = 0; i < pellucer::kNumParams; ++i)
            check(std::isfinite(e->getParameter(i)) && e->getParameter(i) == effect.getParameter(i));
        e->processReplacing(io, io, 64);
    }
    check(std::all_of(left.begin(), left.end(), [](float x) { return std::isfinite(x); }));
    return 0;
}
