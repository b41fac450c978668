// libFuzzer target: the DirectX filter's project stream is untrusted input (a host's project file
// from anywhere). Any bytes must get the answer an independent reading of the layout gives
// (complete, refused or ends early) without reading past the input or past the image's own bytes;
// a complete image's chunk must survive our own header and a real engine unchanged.

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

// The answer read independently: UTF-16LE characters, an optional '-' first, digits up to one
// terminator; then the 32-bit little-endian length (refused above the limit) and that many bytes.
static StreamImage expected(const std::vector<uint8_t>& bytes) {
    size_t at = 0;
    for (;; at += 2) {
        if (at + 2 > bytes.size())
            return {StreamStatus::EndsEarly};
        const unsigned c = bytes[at] | bytes[at + 1] << 8;
        if ((c >= '0' && c <= '9') || (at == 0 && c == '-'))
            continue;
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == 0)
            break;
        return {StreamStatus::InvalidFormat};
    }
    at += 2;
    if (at + 4 > bytes.size())
        return {StreamStatus::EndsEarly};
    const uint32_t length = bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
                            static_cast<uint32_t>(bytes[at + 3]) << 24;
    if (length > pellucer::dx::kStreamMaxChunkBytes)
        return {StreamStatus::InvalidFormat};
    at += 4;
    if (bytes.size() - at < length)
        return {StreamStatus::EndsEarly};
    return {StreamStatus::Complete, at, length};
}

static bool same(const StreamImage& a, const StreamImage& b) {
    return a.status == b.status && a.chunkOffset == b.chunkOffset && a.chunkBytes == b.chunkBytes;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static pellucer::ChannelStripEffect effect(nullptr), copy(nullptr);
    // An exact copy, so that a read past `size` hits the sanitizer's redzone; then the same with
    // another object's bytes after it.
    const std::vector<uint8_t> input(data, data + size);
    std::vector<uint8_t> longer = input;
    longer.insert(longer.end(), {'0', 0, ' ', 0, 0xFF, 0xFF, 0xFF, 0xFF});
    const StreamImage image = parse(input);
    check(same(image, expected(input)) && same(parse(longer), expected(longer)));
    if (image.status != StreamStatus::Complete)
        return 0;

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
