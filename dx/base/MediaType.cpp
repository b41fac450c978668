#include "dx/base/MediaType.h"

#include <cstring>

namespace pellucer::dx {

HRESULT copyMediaType(AM_MEDIA_TYPE& target, const AM_MEDIA_TYPE& source) {
    target = source;
    target.pbFormat = nullptr;
    target.cbFormat = 0;
    if (source.cbFormat != 0 && source.pbFormat != nullptr) {
        target.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source.cbFormat));
        if (target.pbFormat == nullptr) {
            target = AM_MEDIA_TYPE{};
            return E_OUTOFMEMORY;
        }
        std::memcpy(target.pbFormat, source.pbFormat, source.cbFormat);
        target.cbFormat = source.cbFormat;
    }
    if (target.pUnk != nullptr)
        target.pUnk->AddRef();
    return S_OK;
}

void freeMediaType(AM_MEDIA_TYPE& type) {
    if (type.pbFormat != nullptr)
        CoTaskMemFree(type.pbFormat);
    if (type.pUnk != nullptr)
        type.pUnk->Release();
    type = AM_MEDIA_TYPE{};
}

AM_MEDIA_TYPE* createMediaType(const AM_MEDIA_TYPE& source) {
    auto* type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (type == nullptr)
        return nullptr;
    if (FAILED(copyMediaType(*type, source))) {
        CoTaskMemFree(type);
        return nullptr;
    }
    return type;
}

void deleteMediaType(AM_MEDIA_TYPE* type) {
    if (type == nullptr)
        return;
    freeMediaType(*type);
    CoTaskMemFree(type);
}

bool matchesPartialType(const AM_MEDIA_TYPE& type, const AM_MEDIA_TYPE& partial) {
    auto matches = [](const GUID& value, const GUID& wanted) {
        return IsEqualGUID(wanted, GUID_NULL) || IsEqualGUID(value, wanted);
    };
    return matches(type.majortype, partial.majortype) && matches(type.subtype, partial.subtype) &&
           matches(type.formattype, partial.formattype);
}

bool isFullySpecified(const AM_MEDIA_TYPE& type) {
    return !IsEqualGUID(type.majortype, GUID_NULL) && !IsEqualGUID(type.subtype, GUID_NULL) &&
           !IsEqualGUID(type.formattype, GUID_NULL);
}

const WAVEFORMATEX* waveFormatOf(const AM_MEDIA_TYPE& type) {
    // 18 bytes: WAVEFORMATEX through cbSize; sizeof is 18 as the record is packed.
    static_assert(sizeof(WAVEFORMATEX) == 18);
    if (type.pbFormat == nullptr || type.cbFormat < sizeof(WAVEFORMATEX))
        return nullptr;
    return reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat);
}

HRESULT MediaType::assign(const AM_MEDIA_TYPE& source) {
    if (&source == &type_)
        return S_OK;
    AM_MEDIA_TYPE copy;
    const HRESULT result = copyMediaType(copy, source);
    if (FAILED(result))
        return result;
    freeMediaType(type_);
    type_ = copy;
    return S_OK;
}

} // namespace pellucer::dx
