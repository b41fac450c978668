#pragma once

// An input pin with IMemInputPin: allocator handling, the streaming-state checks of Receive, and
// flushing. The concrete pin processes samples in receiveSample and passes stream control on.

#include "dx/base/PinBase.h"

namespace pellucer::dx {

class InputPinBase : public PinBase, public IMemInputPin {
public:
    InputPinBase(FilterBase& filter, const WCHAR* name);
    ~InputPinBase() override;

    // IUnknown: IPin, IQualityControl, IMemInputPin.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return PinBase::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return PinBase::Release(); }

    // IPin stream control: flushing sets and clears the pin's flushing state; end of stream is
    // refused while not streaming.
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;

    // IMemInputPin
    /// The allocator the upstream pin should use: the one it notified, else a new system memory
    /// allocator (CLSID_MemoryAllocator).
    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override;
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
    /// No requirements: E_NOTIMPL.
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) override;
    /// Checks the streaming state and a media-type change carried by the sample, then
    /// receiveSample.
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
    /// Receive for each sample until one is not S_OK.
    HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) override;
    /// S_OK when a downstream pin of the filter may block in Receive, else S_FALSE.
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override;

    /// The streaming checks of Receive and EndOfStream: VFW_E_NOT_CONNECTED, VFW_E_WRONG_STATE
    /// while the filter is stopped, S_FALSE while flushing, VFW_E_RUNTIME_ERROR after a runtime
    /// error; S_OK when samples may be processed.
    HRESULT checkStreaming() const;
    bool isFlushing() const { return flushing_ != 0; }
    /// The allocator the upstream pin notified (no reference), or null.
    IMemAllocator* allocator() const { return allocator_; }
    bool readOnly() const { return readOnly_; }

    /// Leaving the stopped state and returning to it clear a runtime error.
    HRESULT inactive() override;

protected:
    /// Processes a sample that passed the checks.
    virtual HRESULT receiveSample(IMediaSample* sample) = 0;
    void breakConnect() override;
    /// A fatal streaming error: later samples are refused with VFW_E_RUNTIME_ERROR until the
    /// filter stops or a flush ends.
    void setRuntimeError() { runtimeError_ = 1; }

private:
    IMemAllocator* allocator_ = nullptr;
    bool readOnly_ = false;
    volatile LONG flushing_ = 0;
    volatile LONG runtimeError_ = 0;
};

} // namespace pellucer::dx
