#pragma once

// The filter's state in a host's project stream (its layout and reading rules are in
// StreamFormat.h): this object moves those bytes between an IStream and the effect. The
// filter's IPersistStream answers through it, under the filter lock.

#include <windows.h>

#include <objidl.h>

#include <cstdint>

#include "dx/filter/StreamFormat.h"
#include "vst/VstAbi.h"

namespace pellucer::dx {

class StreamPersistence {
public:
    /// Bytes of the version header.
    static constexpr uint32_t kHeaderBytes = kStreamHeaderBytes;
    /// The largest chunk a stream may carry; longer ones are refused as not ours.
    static constexpr uint32_t kMaxChunkBytes = kStreamMaxChunkBytes;

    explicit StreamPersistence(vst::AEffect* effect) : effect_(effect) {}

    /// S_OK after a Save that kept the state dirty, else S_FALSE: parameter changes do not
    /// make the filter dirty.
    HRESULT isDirty() const { return dirty_ ? S_OK : S_FALSE; }
    /// Reads the header and the chunk and gives the chunk to the effect. A malformed header
    /// answers VFW_E_INVALID_FILE_FORMAT, a stream that ends early E_FAIL, a stream error that
    /// error; in every failing case the effect is left as it was.
    HRESULT load(IStream* stream);
    /// Writes the header, the chunk's length and the chunk; on success the dirty flag becomes
    /// !clearDirty.
    HRESULT save(IStream* stream, BOOL clearDirty);
    /// The header's size: the estimate leaves out the chunk.
    HRESULT getSizeMax(ULARGE_INTEGER* size) const;

private:
    HRESULT writeBody(IStream* stream);

    vst::AEffect* effect_;
    bool dirty_ = false;
};

} // namespace pellucer::dx
