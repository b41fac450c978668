// libFuzzer target: a state chunk is untrusted input (someone else's song, a damaged file).
// setChunk must never read past the buffer, crash or leave the engine unable to process.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/ChannelStripEffect.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static pellucer::ChannelStripEffect effect(nullptr);
    // The input as it stands, in an exact copy so that a read past `size` hits the sanitizer's
    // redzone; then written over the values (at 4696) and the name (at 16) of a saved chunk, so
    // that short inputs still reach every field.
    std::vector<uint8_t> chunk(data, data + size);
    effect.setChunk(chunk.empty() ? nullptr : chunk.data(), static_cast<int32_t>(size), false);
    void* saved = nullptr;
    const int32_t n = effect.getChunk(&saved, false);
    chunk.assign(static_cast<uint8_t*>(saved), static_cast<uint8_t*>(saved) + n);
    for (size_t i = 0; i < size && i < 156 + 520; ++i)
        chunk[i < 156 ? 4696 + i : 16 + (i - 156)] = data[i];
    effect.setChunk(chunk.data(), static_cast<int32_t>(chunk.size()), false);
    bool ok = effect.getChunk(&saved, false) == 4852;
    for (int32_t i = 0; i < pellucer::kNumParams; ++i)
        ok = ok && std::isfinite(effect.getParameter(i));
    std::vector<float> left(64, 0.5f), right(64, -0.5f);
    float* io[2] = {left.data(), right.data()};
    effect.processReplacing(io, io, 64);
    for (float x : left)
        ok = ok && std::isfinite(x);
    if (!ok)
        std::abort();
    return 0;
}
