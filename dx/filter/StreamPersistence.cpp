#include "dx/filter/StreamPersistence.h"

#include <vfwmsgs.h>

#include <memory>
#include <new>

namespace pellucer::dx {

namespace {

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

} // namespace

HRESULT StreamPersistence::writeBody(IStream* stream) {
    void* chunk = nullptr;
    const vst::VstIntPtr size = effect_->dispatcher(effect_, vst::effGetChunk, 0, 0, &chunk, 0.0f);
    if (size < 0 || chunk == nullptr || static_cast<uint64_t>(size) > kMaxChunkBytes)
        return E_FAIL;
    const auto length = static_cast<uint32_t>(size);
    const auto lengthField = streamLengthField(length);
    const HRESULT hr = writeExactly(stream, lengthField.data(), kStreamLengthBytes);
    if (FAILED(hr))
        return hr;
    return writeExactly(stream, chunk, length);
}

HRESULT StreamPersistence::load(IStream* stream) {
    if (stream == nullptr)
        return E_POINTER;
    // The header a character at a time and then the length, so that the stream is left at the
    // chunk (and after it once that is read): a project stream goes on with other objects' data.
    StreamHeaderReader reader;
    uint8_t piece[kStreamLengthBytes];
    while (reader.status() == StreamStatus::Reading) {
        const HRESULT hr = readExactly(stream, piece, reader.wanted());
        if (FAILED(hr))
            return hr;
        reader.take(piece);
    }
    if (reader.status() != StreamStatus::Complete)
        return VFW_E_INVALID_FILE_FORMAT;
    const uint32_t length = reader.chunkBytes();
    // Sized from the stream's own length (bounded above), so a small chunk costs a small buffer.
    std::unique_ptr<uint8_t[]> chunk(new (std::nothrow) uint8_t[length == 0 ? 1 : length]);
    if (!chunk)
        return E_OUTOFMEMORY;
    const HRESULT hr = readExactly(stream, chunk.get(), length);
    if (FAILED(hr))
        return hr;
    effect_->dispatcher(effect_, vst::effSetChunk, 0, static_cast<vst::VstIntPtr>(length), chunk.get(), 0.0f);
    return S_OK;
}

HRESULT StreamPersistence::save(IStream* stream, BOOL clearDirty) {
    if (stream == nullptr)
        return E_POINTER;
    const auto header = streamVersionHeader();
    HRESULT hr = writeExactly(stream, header.data(), kStreamHeaderBytes);
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
