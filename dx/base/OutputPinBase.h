#pragma once

// An output pin that delivers through IMemInputPin: allocator negotiation with the downstream
// input pin, commit on pause and decommit on stop, delivery buffers, delivery of samples and of
// stream control downstream, and the seeking pass-through that forwards IMediaSeeking and
// IMediaPosition upstream.

#include "dx/base/PinBase.h"

namespace pellucer::dx {

class SeekingPassThrough;

class OutputPinBase : public PinBase {
public:
    OutputPinBase(FilterBase& filter, const WCHAR* name);
    ~OutputPinBase() override;

    /// IPin, IQualityControl, and IMediaSeeking/IMediaPosition from the pass-through object,
    /// created on the first request.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;

    // Stream control arrives at input pins only.
    HRESULT STDMETHODCALLTYPE EndOfStream() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return E_UNEXPECTED; }
    /// Quality messages from downstream go to the sink set with SetSink, else upstream through
    /// the seeking source pin's peer.
    HRESULT STDMETHODCALLTYPE Notify(IBaseFilter* sender, Quality quality) override;

    /// Commits the allocator (pause) / decommits it (stop).
    HRESULT active() override;
    HRESULT inactive() override;

    /// An empty sample from the negotiated allocator (may wait for one to come back).
    HRESULT getDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                              DWORD flags);
    /// Hands a sample to the downstream pin's Receive.
    HRESULT deliver(IMediaSample* sample);
    HRESULT deliverEndOfStream();
    HRESULT deliverBeginFlush();
    HRESULT deliverEndFlush();
    HRESULT deliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

    /// The negotiated allocator (no reference), or null while unconnected.
    IMemAllocator* allocator() const { return allocator_; }

protected:
    /// Sets the buffer size and count on `allocator`, starting from the downstream pin's
    /// `requested` properties (zero when it stated none).
    virtual HRESULT decideBufferSize(IMemAllocator* allocator, const ALLOCATOR_PROPERTIES& requested) = 0;
    /// The pin whose upstream peer answers seeking: the filter's input pin. Null: no seeking.
    virtual IPin* seekingSourcePin() { return nullptr; }

    /// Finds IMemInputPin on the peer and negotiates the allocator.
    HRESULT completeConnect(IPin* receivePin) override;
    void breakConnect() override;

private:
    /// The downstream pin's allocator when it offers one that takes our sizes, else a new
    /// CLSID_MemoryAllocator; the chosen one is notified to the downstream pin.
    HRESULT decideAllocator(IMemInputPin* input);
    HRESULT tryAllocator(IMemInputPin* input, IMemAllocator* allocator,
                         const ALLOCATOR_PROPERTIES& requested);
    SeekingPassThrough* passThrough();

    IMemAllocator* allocator_ = nullptr;
    IMemInputPin* memInput_ = nullptr;
    SeekingPassThrough* volatile passThrough_ = nullptr;
};

} // namespace pellucer::dx
