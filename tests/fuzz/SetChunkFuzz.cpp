// libFuzzer target: a state chunk is untrusted input (someone else's song, a damaged file).
// setChunk must never read past the buffer, crash or leave the engine unable to process.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/ChannelStripEffect.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static pellucer::ChannelStripEffect effect(nullptr);
    // The input as it stands, in an exact copy so that any read past `size` hits the
    // sanitizer's redzone (most of these are too short and must be refused whole)...
    std::vector<uint8_t> chunk(data, data + size);
    effect.setChunk(chunk.empty() ? nullptr : chunk.data(), static_cast<int32_t>(size), false);
    // ...and the input written over the values and name of a valid chunk, so that short inputs
    // still reach every field: the fuzzer finds its way to odd values much faster this way.
    static const std::vector<uint8_t> valid = [] {
        pellucer::ChannelStripEffect fresh(nullptr);
        void* bytes = nullptr;
        const int32_t n = fresh.getChunk(&bytes, false);
        return std::vector<uint8_t>(static_cast<uint8_t*>(bytes), static_cast<uint8_t*>(bytes) + n);
    }();
    std::vector<uint8_t> patched = valid;
    const size_t valuesAt = 4696;
    for (size_t i = 0; i < size && i < 156; ++i)
        patched[valuesAt + i] = data[i];
    for (size_t i = 156; i < size && i - 156 < 520; ++i)
        patched[16 + (i - 156)] = data[i];
    effect.setChunk(patched.data(), static_cast<int32_t>(patched.size()), false);

    void* saved = nullptr;
    if (effect.getChunk(&saved, false) != 4852)
        std::abort();
    for (int32_t i = 0; i < pellucer::kNumParams; ++i)
        if (!std::isfinite(effect.getParameter(i)))
            std::abort();

    std::vector<float> left(64, 0.5f), right(64, -0.5f);
    float* io[2] = {left.data(), right.data()};
    effect.processReplacing(io, io, 64);
    for (float x : left)
        if (!std::isfinite(x))
            std::abort();
    return 0;
}
