#pragma once

// The pin side of our DirectShow base layer: IPin with connection and media-type negotiation,
// and IQualityControl. Input and output pins add their streaming halves (InputPinBase,
// OutputPinBase).
//
// Lifetime: a pin belongs to its filter. Every reference to a pin is also a reference to the
// filter, so the filter outlives any pin a caller holds. The pin counts its own references as
// well: a pin the filter has removed from its list (detach) ends with its last reference, and the
// filter deletes the pins it still lists when it ends itself.

#include "dx/base/FilterBase.h"
#include "dx/base/Lock.h"
#include "dx/base/MediaType.h"

namespace pellucer::dx {

class PinBase : public IPin, public IQualityControl {
public:
    PinBase(FilterBase& filter, const WCHAR* name, PIN_DIRECTION direction);
    virtual ~PinBase();
    PinBase(const PinBase&) = delete;
    PinBase& operator=(const PinBase&) = delete;

    // IUnknown: IPin, IQualityControl.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IPin
    /// Output side of a connection: negotiates a media type with `receivePin` (the given type
    /// when it is fully specified, else the receiving pin's types, then ours, each matched
    /// against the partial type) and completes the connection.
    HRESULT STDMETHODCALLTYPE Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) override;
    /// Input side of a connection: accepts `connector` with `type` when the type passes.
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;
    /// S_OK when checkMediaType accepts the type, else S_FALSE.
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) override;
    /// Every input connects to every output: E_NOTIMPL says so.
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** pins, ULONG* count) override;
    /// Stream control; the base keeps the segment and answers S_OK. Input pins override.
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    // IQualityControl
    /// Pins that pass quality messages on override this; the base has no use for them.
    HRESULT STDMETHODCALLTYPE Notify(IBaseFilter* sender, Quality quality) override;
    /// Keeps the sink without a reference, as quality sinks are owned elsewhere.
    HRESULT STDMETHODCALLTYPE SetSink(IQualityControl* sink) override;

    // -- for the filter and derived pins -------------------------------------------------
    bool isConnected() const { return connected_ != nullptr; }
    /// The connected pin (no reference), or null.
    IPin* connectedPin() const { return connected_; }
    /// The connection's media type; empty while unconnected. Read under the filter lock.
    const AM_MEDIA_TYPE& connectionType() const { return type_.get(); }
    const WCHAR* name() const { return name_; }
    PIN_DIRECTION direction() const { return direction_; }
    FilterBase& filter() { return filter_; }

    /// The filter has taken the pin out of its list: it ends now, or with its last reference.
    void detach();

    /// Filter state changes, called under the filter lock on connected pins.
    virtual HRESULT active() { return S_OK; }
    virtual HRESULT inactive() { return S_OK; }
    virtual HRESULT run(REFERENCE_TIME start) {
        (void)start;
        return S_OK;
    }

    /// S_OK when the pin accepts `type`; an error (VFW_E_TYPE_NOT_ACCEPTED...) otherwise.
    virtual HRESULT checkMediaType(const AM_MEDIA_TYPE* type) = 0;
    /// The pin's preferred type at `position` (0 first): S_OK and `type` filled (task memory for
    /// its format block), VFW_S_NO_MORE_ITEMS past the end, or an error. The base offers none.
    virtual HRESULT getMediaType(int position, AM_MEDIA_TYPE& type) {
        (void)position, (void)type;
        return VFW_S_NO_MORE_ITEMS;
    }

protected:
    /// Stores the connection's media type. Overrides store more and call this.
    virtual HRESULT setMediaType(const AM_MEDIA_TYPE& type) { return type_.assign(type); }
    /// Refuses a pin of our own direction.
    virtual HRESULT checkConnect(IPin* pin);
    /// Last step of a connection, after both pins agreed on the type.
    virtual HRESULT completeConnect(IPin* receivePin) {
        (void)receivePin;
        return S_OK;
    }
    /// Undoes what checkConnect/completeConnect set up (allocators, peer interfaces).
    virtual void breakConnect() {}

    FilterBase& filter_;
    CriticalSection& lock_;
    IQualityControl* qualitySink_ = nullptr;
    REFERENCE_TIME segmentStart_ = 0;
    REFERENCE_TIME segmentStop_ = 0;
    double segmentRate_ = 1.0;

private:
    HRESULT agreeMediaType(IPin* receivePin, const AM_MEDIA_TYPE* type);
    HRESULT tryMediaTypes(IPin* receivePin, const AM_MEDIA_TYPE* partial, IEnumMediaTypes* types);
    HRESULT attemptConnection(IPin* receivePin, const AM_MEDIA_TYPE& type);
    void dropConnection();

    WCHAR name_[MAX_PIN_NAME] = {};
    const PIN_DIRECTION direction_;
    IPin* connected_ = nullptr;
    MediaType type_;
    volatile LONG references_ = 0;
    volatile LONG detached_ = 0;
    ActiveObject active_;
};

} // namespace pellucer::dx
