#include "dx/base/Enumerators.h"

#include <new>

#include "dx/base/FilterBase.h"
#include "dx/base/MediaType.h"
#include "dx/base/PinBase.h"

namespace pellucer::dx {

namespace {
// Next with no count pointer may only ask for one item.
bool countArgumentsValid(ULONG count, const void* items, const ULONG* fetched) {
    return items != nullptr && (fetched != nullptr || count == 1);
}
} // namespace

// -- pins ------------------------------------------------------------------------------------

PinEnumerator::PinEnumerator(FilterBase& filter, ULONG position, LONG version)
    : ComObject(nullptr), filter_(filter), position_(position), version_(version) {
    filter_.outerUnknown()->AddRef();
}

PinEnumerator::~PinEnumerator() { filter_.outerUnknown()->Release(); }

HRESULT PinEnumerator::nonDelegatingQueryInterface(REFIID iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IEnumPins))
        return handOut(static_cast<IEnumPins*>(this), object);
    return ComObject::nonDelegatingQueryInterface(iid, object);
}

HRESULT PinEnumerator::Next(ULONG count, IPin** pins, ULONG* fetched) {
    if (!countArgumentsValid(count, pins, fetched))
        return pins == nullptr ? E_POINTER : E_INVALIDARG;
    if (fetched != nullptr)
        *fetched = 0;
    FilterBase::PinListRead hold(filter_);
    if (filter_.pinListVersion() != version_)
        return VFW_E_ENUM_OUT_OF_SYNC;
    const ULONG available = static_cast<ULONG>(filter_.pinCount());
    ULONG done = 0;
    while (done < count && position_ < available) {
        PinBase* pin = filter_.pinAt(static_cast<int>(position_));
        if (pin == nullptr)
            break;
        pins[done] = pin;
        pin->AddRef();
        ++done;
        ++position_;
    }
    if (fetched != nullptr)
        *fetched = done;
    return done == count ? S_OK : S_FALSE;
}

HRESULT PinEnumerator::Skip(ULONG count) {
    FilterBase::PinListRead hold(filter_);
    if (filter_.pinListVersion() != version_)
        return VFW_E_ENUM_OUT_OF_SYNC;
    const ULONG available = static_cast<ULONG>(filter_.pinCount());
    if (count > available - position_) {
        position_ = available;
        return S_FALSE;
    }
    position_ += count;
    return S_OK;
}

HRESULT PinEnumerator::Reset() {
    FilterBase::PinListRead hold(filter_);
    version_ = filter_.pinListVersion();
    position_ = 0;
    return S_OK;
}

HRESULT PinEnumerator::Clone(IEnumPins** copy) {
    if (copy == nullptr)
        return E_POINTER;
    auto* clone = new (std::nothrow) PinEnumerator(filter_, position_, version_);
    *copy = clone;
    if (clone == nullptr)
        return E_OUTOFMEMORY;
    clone->AddRef();
    return S_OK;
}

// -- media types -------------------------------------------------------------------------------

MediaTypeEnumerator::MediaTypeEnumerator(PinBase& pin, ULONG position)
    : ComObject(nullptr), pin_(pin), position_(position) {
    pin_.AddRef();
}

MediaTypeEnumerator::~MediaTypeEnumerator() { pin_.Release(); }

HRESULT MediaTypeEnumerator::nonDelegatingQueryInterface(REFIID iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IEnumMediaTypes))
        return handOut(static_cast<IEnumMediaTypes*>(this), object);
    return ComObject::nonDelegatingQueryInterface(iid, object);
}

HRESULT MediaTypeEnumerator::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) {
    if (!countArgumentsValid(count, types, fetched))
        return types == nullptr ? E_POINTER : E_INVALIDARG;
    if (fetched != nullptr)
        *fetched = 0;
    ULONG done = 0;
    while (done < count) {
        AM_MEDIA_TYPE type{};
        // A pin that cannot offer a type now (an output without input) simply has none.
        if (pin_.getMediaType(static_cast<int>(position_), type) != S_OK) {
            freeMediaType(type);
            break;
        }
        auto* record = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
        if (record == nullptr) {
            freeMediaType(type);
            break;
        }
        *record = type; // takes over the format block and pUnk
        types[done++] = record;
        ++position_;
    }
    if (fetched != nullptr)
        *fetched = done;
    return done == count ? S_OK : S_FALSE;
}

ULONG MediaTypeEnumerator::typeCount() {
    ULONG count = 0;
    for (;;) {
        AM_MEDIA_TYPE type{};
        const HRESULT result = pin_.getMediaType(static_cast<int>(count), type);
        freeMediaType(type);
        if (result != S_OK)
            return count;
        ++count;
    }
}

HRESULT MediaTypeEnumerator::Skip(ULONG count) {
    const ULONG available = typeCount();
    if (position_ >= available || count > available - position_) {
        position_ = available;
        return S_FALSE;
    }
    position_ += count;
    return S_OK;
}

HRESULT MediaTypeEnumerator::Reset() {
    position_ = 0;
    return S_OK;
}

HRESULT MediaTypeEnumerator::Clone(IEnumMediaTypes** copy) {
    if (copy == nullptr)
        return E_POINTER;
    auto* clone = new (std::nothrow) MediaTypeEnumerator(pin_, position_);
    *copy = clone;
    if (clone == nullptr)
        return E_OUTOFMEMORY;
    clone->AddRef();
    return S_OK;
}

} // namespace pellucer::dx
