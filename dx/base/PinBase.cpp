#include "dx/base/PinBase.h"

#include <cstring>
#include <cwchar>
#include <new>

#include "dx/base/Enumerators.h"

namespace pellucer::dx {

PinBase::PinBase(FilterBase& filter, const WCHAR* name, PIN_DIRECTION direction)
    : filter_(filter), lock_(filter.filterLock()), direction_(direction) {
    if (name != nullptr)
        wcsncpy(name_, name, MAX_PIN_NAME - 1);
}

PinBase::~PinBase() {
    // A filter ends its pins disconnected in normal use; a host that released everything
    // without disconnecting still gets its references back.
    if (connected_ != nullptr) {
        breakConnect();
        connected_->Release();
        connected_ = nullptr;
    }
}

HRESULT PinBase::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPin))
        *object = static_cast<IPin*>(this);
    else if (IsEqualIID(iid, IID_IQualityControl))
        *object = static_cast<IQualityControl*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG PinBase::AddRef() {
    filter_.outerUnknown()->AddRef();
    return static_cast<ULONG>(InterlockedIncrement(&references_));
}

ULONG PinBase::Release() {
    IUnknown* filter = filter_.outerUnknown();
    const LONG count = InterlockedDecrement(&references_);
    // A detached pin is no longer in the filter's list: the last reference ends it. The filter
    // itself is released after, as this reference was holding it too.
    if (count == 0 && detached_ != 0)
        delete this;
    filter->Release();
    return static_cast<ULONG>(count);
}

void PinBase::detach() {
    InterlockedExchange(&detached_, 1);
    if (InterlockedCompareExchange(&references_, 0, 0) == 0)
        delete this;
}

// -- connection ------------------------------------------------------------------------------

HRESULT PinBase::Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) {
    if (receivePin == nullptr)
        return E_POINTER;
    LockGuard guard(lock_);
    if (connected_ != nullptr)
        return VFW_E_ALREADY_CONNECTED;
    if (filter_.state() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    return agreeMediaType(receivePin, type);
}

HRESULT PinBase::agreeMediaType(IPin* receivePin, const AM_MEDIA_TYPE* type) {
    if (type != nullptr && isFullySpecified(*type))
        return attemptConnection(receivePin, *type);

    // The receiving pin's preferences first, then ours.
    HRESULT failure = VFW_E_NO_ACCEPTABLE_TYPES;
    for (int pass = 0; pass < 2; ++pass) {
        IEnumMediaTypes* types = nullptr;
        const HRESULT listed = pass == 0 ? receivePin->EnumMediaTypes(&types) : EnumMediaTypes(&types);
        if (FAILED(listed) || types == nullptr)
            continue;
        const HRESULT result = tryMediaTypes(receivePin, type, types);
        types->Release();
        if (result == S_OK)
            return S_OK;
        // A reason other than "no type fitted" is worth more to the caller.
        if (result != VFW_E_NO_ACCEPTABLE_TYPES)
            failure = result;
    }
    return failure;
}

HRESULT PinBase::tryMediaTypes(IPin* receivePin, const AM_MEDIA_TYPE* partial, IEnumMediaTypes* types) {
    HRESULT failure = VFW_E_NO_ACCEPTABLE_TYPES;
    if (FAILED(types->Reset()))
        return failure;
    for (;;) {
        AM_MEDIA_TYPE* candidate = nullptr;
        ULONG fetched = 0;
        if (types->Next(1, &candidate, &fetched) != S_OK || fetched != 1 || candidate == nullptr) {
            deleteMediaType(candidate);
            return failure;
        }
        HRESULT result = VFW_E_NO_ACCEPTABLE_TYPES;
        if (partial == nullptr || matchesPartialType(*candidate, *partial))
            result = attemptConnection(receivePin, *candidate);
        deleteMediaType(candidate);
        if (result == S_OK)
            return S_OK;
        // Type refusals are expected while trying; remember anything else.
        if (FAILED(result) && result != VFW_E_TYPE_NOT_ACCEPTED && result != VFW_E_NO_ACCEPTABLE_TYPES &&
            result != E_FAIL && result != E_INVALIDARG)
            failure = result;
    }
}

HRESULT PinBase::attemptConnection(IPin* receivePin, const AM_MEDIA_TYPE& type) {
    HRESULT result = checkConnect(receivePin);
    if (FAILED(result)) {
        breakConnect();
        return result;
    }
    result = checkMediaType(&type);
    if (result != S_OK) {
        breakConnect();
        return FAILED(result) ? result : VFW_E_TYPE_NOT_ACCEPTED;
    }
    connected_ = receivePin;
    connected_->AddRef();
    result = setMediaType(type);
    if (SUCCEEDED(result)) {
        result = receivePin->ReceiveConnection(this, &type);
        if (SUCCEEDED(result)) {
            result = completeConnect(receivePin);
            if (SUCCEEDED(result))
                return S_OK;
            receivePin->Disconnect();
        }
    }
    dropConnection();
    return FAILED(result) ? result : E_FAIL;
}

HRESULT PinBase::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
    if (connector == nullptr || type == nullptr)
        return E_POINTER;
    LockGuard guard(lock_);
    if (connected_ != nullptr)
        return VFW_E_ALREADY_CONNECTED;
    if (filter_.state() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    HRESULT result = checkConnect(connector);
    if (FAILED(result)) {
        breakConnect();
        return result;
    }
    if (checkMediaType(type) != S_OK) {
        breakConnect();
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    connected_ = connector;
    connected_->AddRef();
    result = setMediaType(*type);
    if (SUCCEEDED(result)) {
        result = completeConnect(connector);
        if (SUCCEEDED(result))
            return S_OK;
    }
    dropConnection();
    return result;
}

void PinBase::dropConnection() {
    breakConnect();
    if (connected_ != nullptr) {
        connected_->Release();
        connected_ = nullptr;
    }
    type_.clear();
}

HRESULT PinBase::Disconnect() {
    LockGuard guard(lock_);
    if (filter_.state() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    if (connected_ == nullptr)
        return S_FALSE;
    dropConnection();
    return S_OK;
}

HRESULT PinBase::checkConnect(IPin* pin) {
    PIN_DIRECTION other;
    const HRESULT result = pin->QueryDirection(&other);
    if (FAILED(result))
        return result;
    return other == direction_ ? VFW_E_INVALID_DIRECTION : S_OK;
}

// -- queries ---------------------------------------------------------------------------------

HRESULT PinBase::ConnectedTo(IPin** pin) {
    if (pin == nullptr)
        return E_POINTER;
    // No filter lock: graphs ask this while a streaming thread may hold it.
    IPin* connected = connected_;
    *pin = connected;
    if (connected == nullptr)
        return VFW_E_NOT_CONNECTED;
    connected->AddRef();
    return S_OK;
}

HRESULT PinBase::ConnectionMediaType(AM_MEDIA_TYPE* type) {
    if (type == nullptr)
        return E_POINTER;
    LockGuard guard(lock_);
    if (connected_ == nullptr) {
        *type = AM_MEDIA_TYPE{};
        return VFW_E_NOT_CONNECTED;
    }
    return copyMediaType(*type, type_.get());
}

HRESULT PinBase::QueryPinInfo(PIN_INFO* info) {
    if (info == nullptr)
        return E_POINTER;
    info->pFilter = filter_.baseFilter();
    info->pFilter->AddRef();
    wcsncpy(info->achName, name_, MAX_PIN_NAME - 1);
    info->achName[MAX_PIN_NAME - 1] = L'\0';
    info->dir = direction_;
    return S_OK;
}

HRESULT PinBase::QueryDirection(PIN_DIRECTION* direction) {
    if (direction == nullptr)
        return E_POINTER;
    *direction = direction_;
    return S_OK;
}

HRESULT PinBase::QueryId(LPWSTR* id) {
    if (id == nullptr)
        return E_POINTER;
    const size_t bytes = (wcslen(name_) + 1) * sizeof(WCHAR);
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (*id == nullptr)
        return E_OUTOFMEMORY;
    std::memcpy(*id, name_, bytes);
    return S_OK;
}

HRESULT PinBase::QueryAccept(const AM_MEDIA_TYPE* type) {
    if (type == nullptr)
        return E_POINTER;
    return checkMediaType(type) == S_OK ? S_OK : S_FALSE;
}

HRESULT PinBase::EnumMediaTypes(IEnumMediaTypes** types) {
    if (types == nullptr)
        return E_POINTER;
    auto* enumerator = new (std::nothrow) MediaTypeEnumerator(*this, 0);
    *types = enumerator;
    if (enumerator == nullptr)
        return E_OUTOFMEMORY;
    enumerator->AddRef();
    return S_OK;
}

HRESULT PinBase::QueryInternalConnections(IPin** pins, ULONG* count) {
    (void)pins, (void)count;
    return E_NOTIMPL;
}

// -- stream control ----------------------------------------------------------------------------

HRESULT PinBase::EndOfStream() { return S_OK; }
HRESULT PinBase::BeginFlush() { return S_OK; }
HRESULT PinBase::EndFlush() { return S_OK; }

HRESULT PinBase::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    segmentStart_ = start;
    segmentStop_ = stop;
    segmentRate_ = rate;
    return S_OK;
}

HRESULT PinBase::Notify(IBaseFilter* sender, Quality quality) {
    (void)sender, (void)quality;
    return E_NOTIMPL;
}

HRESULT PinBase::SetSink(IQualityControl* sink) {
    qualitySink_ = sink;
    return S_OK;
}

} // namespace pellucer::dx
