#pragma once

// The enumerators a filter and its pins hand out: IEnumPins over the filter's pins (input first,
// then the outputs in creation order) and IEnumMediaTypes over a pin's preferred types.
// Both hold a reference on what they enumerate for their whole life.

#include "dx/base/ComObject.h"

namespace pellucer::dx {

class FilterBase;
class PinBase;

class PinEnumerator : public ComObject, public IEnumPins {
public:
    /// Starts at `position`; `version` is the pin-list version the position belongs to.
    PinEnumerator(FilterBase& filter, ULONG position, LONG version);
    ~PinEnumerator() override;

    PELLUCER_DELEGATING_UNKNOWN
    HRESULT nonDelegatingQueryInterface(REFIID iid, void** object) override;

    /// VFW_E_ENUM_OUT_OF_SYNC once the filter's pins changed, until Reset.
    HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumPins** copy) override;

private:
    FilterBase& filter_;
    ULONG position_;
    LONG version_;
};

class MediaTypeEnumerator : public ComObject, public IEnumMediaTypes {
public:
    MediaTypeEnumerator(PinBase& pin, ULONG position);
    ~MediaTypeEnumerator() override;

    PELLUCER_DELEGATING_UNKNOWN
    HRESULT nonDelegatingQueryInterface(REFIID iid, void** object) override;

    /// Task-memory AM_MEDIA_TYPE records the caller frees (format block included).
    HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** copy) override;

private:
    /// Number of types the pin offers now.
    ULONG typeCount();

    PinBase& pin_;
    ULONG position_;
};

} // namespace pellucer::dx
