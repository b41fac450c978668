#include "dx/SequencerIntegration.h"

namespace pellucer::dx {

namespace {
template <typename Interface> void releaseAndClear(Interface*& pointer) {
    if (pointer != nullptr) {
        pointer->Release();
        pointer = nullptr;
    }
}

// Asks `context` for a service; `service` is null unless the answer is a success with a pointer.
template <typename Interface> HRESULT queryService(IUnknown* context, REFIID iid, Interface*& service) {
    void* object = nullptr;
    HRESULT result = context->QueryInterface(iid, &object);
    if (SUCCEEDED(result) && object == nullptr)
        result = E_NOINTERFACE;
    service = SUCCEEDED(result) ? static_cast<Interface*>(object) : nullptr;
    return result;
}
} // namespace

SequencerIntegration::SequencerIntegration(IUnknown* outer, VstEffectAdapter& adapter)
    : outer_(outer), adapter_(adapter) {}

SequencerIntegration::~SequencerIntegration() { releaseHostServices(); }

void SequencerIntegration::releaseHostServices() {
    releaseAndClear(tempoMap_);
    releaseAndClear(timeConverter_);
    releaseAndClear(hostServices_);
    releaseAndClear(pinChangeSink_);
    releaseAndClear(hostExtension_);
    connected_ = false;
}

HRESULT SequencerIntegration::Connect(IUnknown* context) {
    LockGuard guard(adapter_.filterLock());
    if (connected_)
        return E_UNEXPECTED;
    if (context == nullptr)
        return E_POINTER;
    HRESULT result = queryService(context, kIidHostTempoMap, tempoMap_);
    if (SUCCEEDED(result))
        result = queryService(context, kIidHostTimeConverter, timeConverter_);
    if (FAILED(result)) {
        releaseHostServices();
    } else {
        connected_ = true;
        // Optional services: whatever the host has.
        queryService(context, kIidHostServices, hostServices_);
        queryService(context, kIidPinChangeSink, pinChangeSink_);
        queryService(context, kIidHostExtension, hostExtension_);
    }
    // The host hands the context over with a reference of its own.
    context->Release();
    return result;
}

HRESULT SequencerIntegration::Disconnect() {
    LockGuard guard(adapter_.filterLock());
    releaseHostServices();
    return S_OK;
}

HRESULT SequencerIntegration::hostTimeToSamples(LONGLONG hostTime, LONGLONG* samples) {
    if (samples == nullptr)
        return E_POINTER;
    LockGuard guard(adapter_.filterLock());
    if (!connected_ || timeConverter_ == nullptr)
        return E_UNEXPECTED;
    return timeConverter_->HostTimeToSamples(hostTime, samples);
}

HRESULT SequencerIntegration::samplesToHostTime(LONGLONG samples, LONGLONG* hostTime) {
    if (hostTime == nullptr)
        return E_POINTER;
    LockGuard guard(adapter_.filterLock());
    if (!connected_ || timeConverter_ == nullptr)
        return E_UNEXPECTED;
    return timeConverter_->SamplesToHostTime(samples, hostTime);
}

HRESULT SequencerIntegration::OnStart(LONGLONG hostTime) {
    LockGuard guard(adapter_.filterLock());
    if (!connected_)
        return E_UNEXPECTED;
    flushMidi();
    LONGLONG position = 0;
    const HRESULT result = timeConverter_->HostTimeToSamples(hostTime, &position);
    if (FAILED(result))
        return result;
    startPosition_ = position;
    adapter_.setSamplePosition(position);
    running_ = true;
    return S_OK;
}

HRESULT SequencerIntegration::OnTimeChange(LONGLONG oldHostTime, LONGLONG newHostTime) {
    LockGuard guard(adapter_.filterLock());
    if (!connected_)
        return E_UNEXPECTED;
    LONGLONG from = 0;
    LONGLONG to = 0;
    HRESULT result = timeConverter_->HostTimeToSamples(oldHostTime, &from);
    if (SUCCEEDED(result))
        result = timeConverter_->HostTimeToSamples(newHostTime, &to);
    if (FAILED(result))
        return result;
    startPosition_ += to - from;
    return S_OK;
}

HRESULT SequencerIntegration::OnStop(LONGLONG hostTime) {
    (void)hostTime;
    LockGuard guard(adapter_.filterLock());
    if (!connected_)
        return E_UNEXPECTED;
    flushMidi();
    running_ = false;
    return S_OK;
}

HRESULT SequencerIntegration::OnEvents(LONGLONG hostTime, DWORD flags, const SequencerEventList* events) {
    (void)hostTime, (void)flags;
    LockGuard guard(adapter_.filterLock());
    if (!connected_)
        return E_UNEXPECTED;
    if (events == nullptr)
        return E_POINTER;
    return E_NOTIMPL;
}

HRESULT SequencerIntegration::OnInput(LONGLONG hostTime, const RawMidiList* messages) {
    (void)hostTime;
    if (messages == nullptr)
        return E_POINTER;
    LockGuard guard(adapter_.filterLock());
    if (!connected_)
        return E_UNEXPECTED;
    return E_NOTIMPL;
}

// -- MIDI name lists -------------------------------------------------------------------------------

namespace {
HRESULT noList(IUnknown** list) {
    if (list == nullptr)
        return E_POINTER;
    *list = nullptr;
    return E_NOTIMPL;
}
} // namespace

HRESULT SequencerIntegration::OnBankPatchSelected(LONG, LONG) { return E_NOTIMPL; }
HRESULT SequencerIntegration::IsBankPatchValid(LONG, LONG) { return E_NOTIMPL; }
HRESULT SequencerIntegration::OnBankPatchChanged(LONG, LONG) { return E_NOTIMPL; }
HRESULT SequencerIntegration::GetPatchNames(LONG, IUnknown** list) { return noList(list); }
HRESULT SequencerIntegration::GetNoteNames(LONG, LONG, IUnknown** list) { return noList(list); }
HRESULT SequencerIntegration::GetControllerNames(IUnknown** list) { return noList(list); }
HRESULT SequencerIntegration::GetRpnNames(IUnknown** list) { return noList(list); }
HRESULT SequencerIntegration::GetNrpnNames(IUnknown** list) { return noList(list); }
HRESULT SequencerIntegration::GetNameProvider(IUnknown** provider) { return noList(provider); }

// -- track state and host callback -------------------------------------------------------------------

HRESULT SequencerIntegration::SetTrackState(DWORD setting, LONG value) {
    if (setting >= ITrackState::kSettingCount)
        return E_INVALIDARG;
    LockGuard guard(adapter_.filterLock());
    trackState_[setting] = value;
    return S_OK;
}

HRESULT SequencerIntegration::SetHostCallback(IUnknown* callback) {
    LockGuard guard(adapter_.filterLock());
    if (callback != nullptr)
        callback->AddRef();
    IUnknown* previous = hostServices_;
    hostServices_ = callback;
    if (previous != nullptr)
        previous->Release();
    return S_OK;
}

HRESULT SequencerIntegration::GetHostCallback(IUnknown** callback) {
    if (callback == nullptr)
        return E_POINTER;
    LockGuard guard(adapter_.filterLock());
    *callback = hostServices_;
    if (hostServices_ == nullptr)
        return S_FALSE;
    hostServices_->AddRef();
    return S_OK;
}

// -- tempo for the effect -----------------------------------------------------------------------------

bool SequencerIntegration::tempoAt(int64_t position, int32_t& hundredthsBpm) {
    if (!connected_ || tempoMap_ == nullptr || timeConverter_ == nullptr)
        return false;
    LONGLONG hostTime = 0;
    LONG tempo = 0;
    if (FAILED(timeConverter_->SamplesToHostTime(position, &hostTime)) ||
        FAILED(tempoMap_->GetTempoAt(hostTime, &tempo)))
        return false;
    hundredthsBpm = tempo;
    return true;
}

} // namespace pellucer::dx
