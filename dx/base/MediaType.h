#pragma once

// AM_MEDIA_TYPE helpers. A media type's format block (pbFormat) is task memory
// (CoTaskMemAlloc), and pUnk, when set, holds a reference; both belong to the record, so copies
// duplicate them and freeing releases them, as DirectShow expects of every party.

#include "dx/base/DirectShow.h"

namespace pellucer::dx {

/// Makes `target` a deep copy of `source` (format block duplicated, pUnk referenced). On
/// failure (E_OUTOFMEMORY) `target` is left empty.
HRESULT copyMediaType(AM_MEDIA_TYPE& target, const AM_MEDIA_TYPE& source);
/// Frees the format block and releases pUnk; the record is zero afterwards.
void freeMediaType(AM_MEDIA_TYPE& type);
/// A task-memory copy of `source` (what IEnumMediaTypes::Next hands out), or null.
AM_MEDIA_TYPE* createMediaType(const AM_MEDIA_TYPE& source);
/// Frees a record from createMediaType (or from any DirectShow party) with its contents.
void deleteMediaType(AM_MEDIA_TYPE* type);
/// True when `type` matches `partial`, whose null major type, subtype or format type match
/// anything.
bool matchesPartialType(const AM_MEDIA_TYPE& type, const AM_MEDIA_TYPE& partial);
/// True when the major type, subtype and format type are all given.
bool isFullySpecified(const AM_MEDIA_TYPE& type);

/// The WAVEFORMATEX of an audio type, or null when the format block is missing or shorter than
/// the 18 bytes of a WAVEFORMATEX.
const WAVEFORMATEX* waveFormatOf(const AM_MEDIA_TYPE& type);

/// An AM_MEDIA_TYPE that owns its contents: starts empty, frees on destruction. Not copyable
/// (copying may fail, so it is done with assign()).
class MediaType {
public:
    MediaType() = default;
    ~MediaType() { freeMediaType(type_); }
    MediaType(const MediaType&) = delete;
    MediaType& operator=(const MediaType&) = delete;

    HRESULT assign(const AM_MEDIA_TYPE& source);
    void clear() { freeMediaType(type_); }
    bool empty() const { return IsEqualGUID(type_.majortype, GUID_NULL) && type_.pbFormat == nullptr; }

    const AM_MEDIA_TYPE& get() const { return type_; }
    AM_MEDIA_TYPE& get() { return type_; }

private:
    AM_MEDIA_TYPE type_{};
};

} // namespace pellucer::dx
