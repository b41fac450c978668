#include "dx/filter/StreamPersistence.h"

#include <vfwmsgs.h>

#include <cstdio>
#include <memory>
#include <new>

namespace pellucer::dx {

namespace {

/// The software version written into every stream; reading accepts any number.
constexpr int kStreamVersion = 0;

HRESULT readExactly(IStream* stream, void* data, ULONG bytes) {
    ULONG read = 0;
    const HRESULT hr = stream->Read(data, bytes, &read);
    if (FAILED(hr))
        return hr;
    return read == bytes ? S_OK : E_FAIL;
}

HRESULT writeExactly(IStream* stream, const void* data, ULONG bytes) {
    ULONG written = 0;
    const HRESULT hr = stream->Write(data, bytes, &written);
    if (FAILED(hr))
        return hr;
    return written == bytes ? S_OK : E_FAIL;
}

bool isTerminator(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == 0; }

} // namespace

HRESULT StreamPersistence::readVersionHeader(IStream* stream) {
    // "%011d " as UTF-16: an optional '-', digits, then one terminator. The version does not
    // change how the body is read, so its value is not kept.
    bool first = true;
    for (;;) {
        uint8_t bytes[2];
        ULONG read = 0;
        const HRESULT hr = stream->Read(bytes, sizeof bytes, &read);
        if (FAILED(hr))
            return hr;
        if (read != sizeof bytes)
            return E_FAIL;
        const auto c = static_cast<char16_t>(bytes[0] | (bytes[1] << 8));
        if (first && c == u'-') {
            first = false;
            continue;
        }
        first = false;
        if (c >= u'0' && c <= u'9')
            continue;
        return isTerminator(c) ? S_OK : VFW_E_INVALID_FILE_FORMAT;
    }
}

HRESULT StreamPersistence::readBody(IStream* stream) {
    uint8_t lengthBytes[4];
    HRESULT hr = readExactly(stream, lengthBytes, sizeof lengthBytes);
    if (FAILED(hr))
        return hr;
    const uint32_t length = static_cast<uint32_t>(lengthBytes[0]) | (static_cast<uint32_t>(lengthBytes[1]) << 8) |
                            (static_cast<uint32_t>(lengthBytes[2]) << 16) |
                            (static_cast<uint32_t>(lengthBytes[3]) << 24);
    if (length > kMaxChunkBytes)
        return VFW_E_INVALID_FILE_FORMAT;
    // Sized from the stream's own length (bounded above), so a small chunk costs a small buffer.
    std::unique_ptr<uint8_t[]> chunk(new (std::nothrow) uint8_t[length == 0 ? 1 : length]);
    if (!chunk)
        return E_OUTOFMEMORY;
    hr = readExactly(stream, chunk.get(), length);
    if (FAILED(hr))
        return hr;
    effect_->dispatcher(effect_, vst::effSetChunk, 0, static_cast<vst::VstIntPtr>(length), chunk.get(), 0.0f);
    return S_OK;
}

HRESULT StreamPersistence::writeBody(IStream* stream) {
    void* chunk = nullptr;
    const vst::VstIntPtr size = effect_->dispatcher(effect_, vst::effGetChunk, 0, 0, &chunk, 0.0f);
    if (size < 0 || chunk == nullptr || static_cast<uint64_t>(size) > kMaxChunkBytes)
        return E_FAIL;
    const auto length = static_cast<uint32_t>(size);
    const uint8_t lengthBytes[4] = {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                                    static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 24)};
    const HRESULT hr = writeExactly(stream, lengthBytes, sizeof lengthBytes);
    if (FAILED(hr))
        return hr;
    return writeExactly(stream, chunk, length);
}

HRESULT StreamPersistence::load(IStream* stream) {
    if (stream == nullptr)
        return E_POINTER;
    const HRESULT hr = readVersionHeader(stream);
    if (FAILED(hr))
        return hr;
    return readBody(stream);
}

HRESULT StreamPersistence::save(IStream* stream, BOOL clearDirty) {
    if (stream == nullptr)
        return E_POINTER;
    char header[16];
    std::snprintf(header, sizeof header, "%011d ", kStreamVersion);
    uint8_t wide[kHeaderBytes];
    for (uint32_t i = 0; i < kHeaderBytes / 2; ++i) {
        wide[2 * i] = static_cast<uint8_t>(header[i]);
        wide[2 * i + 1] = 0;
    }
    HRESULT hr = writeExactly(stream, wide, sizeof wide);
    if (FAILED(hr))
        return hr;
    hr = writeBody(stream);
    if (FAILED(hr))
        return hr;
    dirty_ = !clearDirty;
    return S_OK;
}

HRESULT StreamPersistence::getSizeMax(ULARGE_INTEGER* size) const {
    if (size == nullptr)
        return E_POINTER;
    size->QuadPart = kHeaderBytes;
    return S_OK;
}

} // namespace pellucer::dx
