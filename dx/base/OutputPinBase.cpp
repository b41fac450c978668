#include "dx/base/OutputPinBase.h"

#include <new>

#include "dx/base/SeekingPassThrough.h"

namespace pellucer::dx {

OutputPinBase::OutputPinBase(FilterBase& filter, const WCHAR* name) : PinBase(filter, name, PINDIR_OUTPUT) {}

OutputPinBase::~OutputPinBase() {
    // The pin's destructor may have to break a live connection, which needs our members: do it
    // here, while they exist.
    breakConnect();
    if (passThrough_ != nullptr)
        passThrough_->nonDelegatingRelease();
}

HRESULT OutputPinBase::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IMediaSeeking) || IsEqualIID(iid, IID_IMediaPosition)) {
        *object = nullptr;
        SeekingPassThrough* seeking = passThrough();
        if (seeking == nullptr)
            return E_OUTOFMEMORY;
        return seeking->nonDelegatingQueryInterface(iid, object);
    }
    return PinBase::QueryInterface(iid, object);
}

SeekingPassThrough* OutputPinBase::passThrough() {
    if (passThrough_ != nullptr)
        return passThrough_;
    // Built on first request without the filter lock (seeking questions come from the graph
    // while streaming may hold it); two racing requests keep the first object.
    auto* created = new (std::nothrow) SeekingPassThrough(static_cast<IPin*>(this), seekingSourcePin());
    if (created == nullptr)
        return nullptr;
    created->nonDelegatingAddRef();
    if (InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(&passThrough_), created,
                                          nullptr) != nullptr)
        created->nonDelegatingRelease();
    return passThrough_;
}

HRESULT OutputPinBase::Notify(IBaseFilter* sender, Quality quality) {
    if (qualitySink_ != nullptr)
        return qualitySink_->Notify(filter_.baseFilter(), quality);
    (void)sender;
    IPin* source = seekingSourcePin();
    IPin* upstream = nullptr;
    if (source == nullptr || source->ConnectedTo(&upstream) != S_OK || upstream == nullptr)
        return VFW_E_NOT_FOUND;
    IQualityControl* control = nullptr;
    HRESULT result = upstream->QueryInterface(IID_IQualityControl, reinterpret_cast<void**>(&control));
    upstream->Release();
    if (FAILED(result) || control == nullptr)
        return VFW_E_NOT_FOUND;
    result = control->Notify(filter_.baseFilter(), quality);
    control->Release();
    return result;
}

// -- connection and allocator -------------------------------------------------------------------

HRESULT OutputPinBase::completeConnect(IPin* receivePin) {
    IMemInputPin* input = nullptr;
    if (FAILED(receivePin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input))) ||
        input == nullptr)
        return E_NOINTERFACE;
    const HRESULT result = decideAllocator(input);
    if (FAILED(result)) {
        input->Release();
        return result;
    }
    memInput_ = input;
    return S_OK;
}

void OutputPinBase::breakConnect() {
    if (allocator_ != nullptr) {
        allocator_->Decommit();
        allocator_->Release();
        allocator_ = nullptr;
    }
    if (memInput_ != nullptr) {
        memInput_->Release();
        memInput_ = nullptr;
    }
}

HRESULT OutputPinBase::decideAllocator(IMemInputPin* input) {
    ALLOCATOR_PROPERTIES requested{};
    // Optional: most pins state no requirements.
    if (FAILED(input->GetAllocatorRequirements(&requested)))
        requested = ALLOCATOR_PROPERTIES{};

    IMemAllocator* allocator = nullptr;
    if (SUCCEEDED(input->GetAllocator(&allocator)) && allocator != nullptr) {
        if (SUCCEEDED(tryAllocator(input, allocator, requested)))
            return S_OK;
        allocator->Release();
        allocator = nullptr;
    }
    HRESULT result = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                      reinterpret_cast<void**>(&allocator));
    if (FAILED(result) || allocator == nullptr)
        return FAILED(result) ? result : E_FAIL;
    result = tryAllocator(input, allocator, requested);
    if (FAILED(result))
        allocator->Release();
    return result;
}

HRESULT OutputPinBase::tryAllocator(IMemInputPin* input, IMemAllocator* allocator,
                                    const ALLOCATOR_PROPERTIES& requested) {
    HRESULT result = decideBufferSize(allocator, requested);
    if (SUCCEEDED(result))
        result = input->NotifyAllocator(allocator, FALSE);
    if (FAILED(result))
        return result;
    allocator_ = allocator; // takes over the caller's reference
    return S_OK;
}

HRESULT OutputPinBase::active() {
    if (allocator_ == nullptr)
        return VFW_E_NO_ALLOCATOR;
    return allocator_->Commit();
}

HRESULT OutputPinBase::inactive() {
    if (allocator_ == nullptr)
        return VFW_E_NO_ALLOCATOR;
    return allocator_->Decommit();
}

// -- delivery ------------------------------------------------------------------------------------

HRESULT OutputPinBase::getDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                                         DWORD flags) {
    if (sample == nullptr)
        return E_POINTER;
    *sample = nullptr;
    if (allocator_ == nullptr)
        return VFW_E_NO_ALLOCATOR;
    return allocator_->GetBuffer(sample, start, stop, flags);
}

HRESULT OutputPinBase::deliver(IMediaSample* sample) {
    if (memInput_ == nullptr)
        return VFW_E_NOT_CONNECTED;
    return memInput_->Receive(sample);
}

HRESULT OutputPinBase::deliverEndOfStream() {
    IPin* peer = connectedPin();
    return peer != nullptr ? peer->EndOfStream() : VFW_E_NOT_CONNECTED;
}

HRESULT OutputPinBase::deliverBeginFlush() {
    IPin* peer = connectedPin();
    return peer != nullptr ? peer->BeginFlush() : VFW_E_NOT_CONNECTED;
}

HRESULT OutputPinBase::deliverEndFlush() {
    IPin* peer = connectedPin();
    return peer != nullptr ? peer->EndFlush() : VFW_E_NOT_CONNECTED;
}

HRESULT OutputPinBase::deliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    IPin* peer = connectedPin();
    return peer != nullptr ? peer->NewSegment(start, stop, rate) : VFW_E_NOT_CONNECTED;
}

} // namespace pellucer::dx
