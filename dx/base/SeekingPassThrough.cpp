#include "dx/base/SeekingPassThrough.h"

namespace pellucer::dx {

SeekingPassThrough::SeekingPassThrough(IPin* pin, IPin* sourcePin) : ComObject(pin), sourcePin_(sourcePin) {}

HRESULT SeekingPassThrough::nonDelegatingQueryInterface(REFIID iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IMediaSeeking))
        return handOut(static_cast<IMediaSeeking*>(this), object);
    if (IsEqualIID(iid, IID_IMediaPosition) || IsEqualIID(iid, IID_IDispatch))
        return handOut(static_cast<IMediaPosition*>(this), object);
    return ComObject::nonDelegatingQueryInterface(iid, object);
}

HRESULT SeekingPassThrough::peer(REFIID iid, void** object) {
    *object = nullptr;
    IPin* upstream = nullptr;
    if (sourcePin_ == nullptr || sourcePin_->ConnectedTo(&upstream) != S_OK || upstream == nullptr)
        return VFW_E_NOT_CONNECTED;
    const HRESULT result = upstream->QueryInterface(iid, object);
    upstream->Release();
    return SUCCEEDED(result) && *object != nullptr ? S_OK : E_NOTIMPL;
}

template <typename Interface, typename Call> HRESULT SeekingPassThrough::forward(REFIID iid, Call call) {
    Interface* target = nullptr;
    HRESULT result = peer(iid, reinterpret_cast<void**>(&target));
    if (FAILED(result))
        return result;
    result = call(target);
    target->Release();
    return result;
}

// -- IMediaSeeking ---------------------------------------------------------------------------------

#define PELLUCER_SEEKING(expression)                                                                         \
    return forward<IMediaSeeking>(IID_IMediaSeeking, [&](IMediaSeeking* s) { return s->expression; })

HRESULT SeekingPassThrough::GetCapabilities(DWORD* capabilities) {
    if (capabilities == nullptr)
        return E_POINTER;
    PELLUCER_SEEKING(GetCapabilities(capabilities));
}
HRESULT SeekingPassThrough::CheckCapabilities(DWORD* capabilities) {
    if (capabilities == nullptr)
        return E_POINTER;
    PELLUCER_SEEKING(CheckCapabilities(capabilities));
}
HRESULT SeekingPassThrough::IsFormatSupported(const GUID* format) {
    if (format == nullptr)
        return E_POINTER;
    PELLUCER_SEEKING(IsFormatSupported(format));
}
HRESULT SeekingPassThrough::QueryPreferredFormat(GUID* format) {
    if (format == nullptr)
        return E_POINTER;
    PELLUCER_SEEKING(QueryPreferredFormat(format));
}
HRESULT SeekingPassThrough::GetTimeFormat(GUID* format) {
    if (format == nullptr)
        return E_POINTER;
    PELLUCER_SEEKING(GetTimeFormat(format));
}
HRESULT SeekingPassThrough::IsUsingTimeFormat(const GUID* format) {
    if (format == nullptr)
        return E_POINTER;
    PELLUCER_SEEKING(IsUsingTimeFormat(format));
}
HRESULT SeekingPassThrough::SetTimeFormat(const GUID* format) {
    if (format == nullptr)
        return E_POINTER;
    PELLUCER_SEEKING(SetTimeFormat(format));
}
HRESULT SeekingPassThrough::GetDuration(LONGLONG* duration) {
    if (duration == nullptr)
        return E_POINTER;
    PELLUCER_SEEKING(GetDuration(duration));
}
HRESULT SeekingPassThrough::GetStopPosition(LONGLONG* stop) {
    if (stop == nullptr)
        return E_POINTER;
    PELLUCER_SEEKING(GetStopPosition(stop));
}
HRESULT SeekingPassThrough::GetCurrentPosition(LONGLONG* current) {
    if (current == nullptr)
        return E_POINTER;
    PELLUCER_SEEKING(GetCurrentPosition(current));
}
HRESULT SeekingPassThrough::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                              const GUID* sourceFormat) {
    if (target == nullptr)
        return E_POINTER;
    PELLUCER_SEEKING(ConvertTimeFormat(target, targetFormat, source, sourceFormat));
}
HRESULT SeekingPassThrough::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                         DWORD stopFlags) {
    PELLUCER_SEEKING(SetPositions(current, currentFlags, stop, stopFlags));
}
HRESULT SeekingPassThrough::GetPositions(LONGLONG* current, LONGLONG* stop) {
    PELLUCER_SEEKING(GetPositions(current, stop));
}
HRESULT SeekingPassThrough::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
    PELLUCER_SEEKING(GetAvailable(earliest, latest));
}
HRESULT SeekingPassThrough::SetRate(double rate) { PELLUCER_SEEKING(SetRate(rate)); }
HRESULT SeekingPassThrough::GetRate(double* rate) {
    if (rate == nullptr)
        return E_POINTER;
    PELLUCER_SEEKING(GetRate(rate));
}
HRESULT SeekingPassThrough::GetPreroll(LONGLONG* preroll) {
    if (preroll == nullptr)
        return E_POINTER;
    PELLUCER_SEEKING(GetPreroll(preroll));
}

#undef PELLUCER_SEEKING

// -- IDispatch ------------------------------------------------------------------------------------

HRESULT SeekingPassThrough::GetTypeInfoCount(UINT* count) {
    if (count == nullptr)
        return E_POINTER;
    *count = 0;
    return S_OK;
}
HRESULT SeekingPassThrough::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info != nullptr)
        *info = nullptr;
    return E_NOTIMPL;
}
HRESULT SeekingPassThrough::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }
HRESULT SeekingPassThrough::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
    return E_NOTIMPL;
}

// -- IMediaPosition --------------------------------------------------------------------------------

#define PELLUCER_POSITION(expression)                                                                        \
    return forward<IMediaPosition>(IID_IMediaPosition, [&](IMediaPosition* p) { return p->expression; })

HRESULT SeekingPassThrough::get_Duration(REFTIME* length) {
    if (length == nullptr)
        return E_POINTER;
    PELLUCER_POSITION(get_Duration(length));
}
HRESULT SeekingPassThrough::put_CurrentPosition(REFTIME time) {
    PELLUCER_POSITION(put_CurrentPosition(time));
}
HRESULT SeekingPassThrough::get_CurrentPosition(REFTIME* time) {
    if (time == nullptr)
        return E_POINTER;
    PELLUCER_POSITION(get_CurrentPosition(time));
}
HRESULT SeekingPassThrough::get_StopTime(REFTIME* time) {
    if (time == nullptr)
        return E_POINTER;
    PELLUCER_POSITION(get_StopTime(time));
}
HRESULT SeekingPassThrough::put_StopTime(REFTIME time) { PELLUCER_POSITION(put_StopTime(time)); }
HRESULT SeekingPassThrough::get_PrerollTime(REFTIME* time) {
    if (time == nullptr)
        return E_POINTER;
    PELLUCER_POSITION(get_PrerollTime(time));
}
HRESULT SeekingPassThrough::put_PrerollTime(REFTIME time) { PELLUCER_POSITION(put_PrerollTime(time)); }
HRESULT SeekingPassThrough::put_Rate(double rate) { PELLUCER_POSITION(put_Rate(rate)); }
HRESULT SeekingPassThrough::get_Rate(double* rate) {
    if (rate == nullptr)
        return E_POINTER;
    PELLUCER_POSITION(get_Rate(rate));
}
HRESULT SeekingPassThrough::CanSeekForward(LONG* canSeek) {
    if (canSeek == nullptr)
        return E_POINTER;
    PELLUCER_POSITION(CanSeekForward(canSeek));
}
HRESULT SeekingPassThrough::CanSeekBackward(LONG* canSeek) {
    if (canSeek == nullptr)
        return E_POINTER;
    PELLUCER_POSITION(CanSeekBackward(canSeek));
}

#undef PELLUCER_POSITION

} // namespace pellucer::dx
