#include "dx/base/InputPinBase.h"

namespace pellucer::dx {

InputPinBase::InputPinBase(FilterBase& filter, const WCHAR* name) : PinBase(filter, name, PINDIR_INPUT) {}

InputPinBase::~InputPinBase() {
    if (allocator_ != nullptr)
        allocator_->Release();
}

HRESULT InputPinBase::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IMemInputPin)) {
        *object = static_cast<IMemInputPin*>(this);
        AddRef();
        return S_OK;
    }
    return PinBase::QueryInterface(iid, object);
}

void InputPinBase::breakConnect() {
    if (allocator_ != nullptr) {
        allocator_->Release();
        allocator_ = nullptr;
    }
    readOnly_ = false;
}

HRESULT InputPinBase::inactive() {
    runtimeError_ = 0;
    flushing_ = 0;
    return S_OK;
}

HRESULT InputPinBase::checkStreaming() const {
    if (!isConnected())
        return VFW_E_NOT_CONNECTED;
    if (filter_.state() == State_Stopped)
        return VFW_E_WRONG_STATE;
    if (flushing_ != 0)
        return S_FALSE;
    if (runtimeError_ != 0)
        return VFW_E_RUNTIME_ERROR;
    return S_OK;
}

HRESULT InputPinBase::EndOfStream() { return checkStreaming(); }

HRESULT InputPinBase::BeginFlush() {
    // No filter lock: flushing exists to free a streaming thread that may be holding it.
    InterlockedExchange(&flushing_, 1);
    return S_OK;
}

HRESULT InputPinBase::EndFlush() {
    InterlockedExchange(&runtimeError_, 0);
    InterlockedExchange(&flushing_, 0);
    return S_OK;
}

// -- IMemInputPin --------------------------------------------------------------------------------

HRESULT InputPinBase::GetAllocator(IMemAllocator** allocator) {
    if (allocator == nullptr)
        return E_POINTER;
    *allocator = nullptr;
    LockGuard guard(lock_);
    if (allocator_ == nullptr) {
        const HRESULT result = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                                IID_IMemAllocator, reinterpret_cast<void**>(&allocator_));
        if (FAILED(result)) {
            allocator_ = nullptr;
            return result;
        }
    }
    allocator_->AddRef();
    *allocator = allocator_;
    return S_OK;
}

HRESULT InputPinBase::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
    if (allocator == nullptr)
        return E_POINTER;
    LockGuard guard(lock_);
    allocator->AddRef();
    if (allocator_ != nullptr)
        allocator_->Release();
    allocator_ = allocator;
    readOnly_ = readOnly != FALSE;
    return S_OK;
}

HRESULT InputPinBase::GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) {
    (void)properties;
    return E_NOTIMPL;
}

HRESULT InputPinBase::Receive(IMediaSample* sample) {
    if (sample == nullptr)
        return E_POINTER;
    HRESULT result = checkStreaming();
    if (result != S_OK)
        return result;

    // A sample may announce a new media type; one we cannot take ends the stream.
    AM_MEDIA_TYPE* newType = nullptr;
    if (sample->GetMediaType(&newType) == S_OK && newType != nullptr) {
        result = checkMediaType(newType);
        if (result == S_OK)
            result = setMediaType(*newType);
        deleteMediaType(newType);
        if (result != S_OK) {
            setRuntimeError();
            filter_.notifyEvent(EC_ERRORABORT, VFW_E_TYPE_NOT_ACCEPTED, 0);
            return VFW_E_INVALIDMEDIATYPE;
        }
    }
    return receiveSample(sample);
}

HRESULT InputPinBase::ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) {
    if (samples == nullptr || processed == nullptr)
        return E_POINTER;
    *processed = 0;
    HRESULT result = S_OK;
    while (*processed < count) {
        result = Receive(samples[*processed]);
        if (result != S_OK)
            break;
        ++*processed;
    }
    return result;
}

HRESULT InputPinBase::ReceiveCanBlock() {
    // Whether this pin can block depends on what the filter delivers to: a downstream pin
    // without IMemInputPin, or one that says it may block, makes us blocking too.
    FilterBase::PinListRead hold(filter_);
    const int count = filter_.pinCount();
    for (int i = 0; i < count; ++i) {
        PinBase* pin = filter_.pinAt(i);
        if (pin == nullptr || pin->direction() != PINDIR_OUTPUT || pin->connectedPin() == nullptr)
            continue;
        IMemInputPin* downstream = nullptr;
        if (FAILED(pin->connectedPin()->QueryInterface(IID_IMemInputPin,
                                                       reinterpret_cast<void**>(&downstream))) ||
            downstream == nullptr)
            return S_OK;
        const HRESULT result = downstream->ReceiveCanBlock();
        downstream->Release();
        if (result != S_FALSE)
            return S_OK;
    }
    return S_FALSE;
}

} // namespace pellucer::dx
