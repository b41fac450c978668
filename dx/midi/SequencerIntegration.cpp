#include "dx/midi/SequencerIntegration.h"

#include <limits>
#include <new>

namespace pellucer::dx {

namespace {
/// The name the provider gives the host and titles its lists with.
constexpr const char* kProductName = "Pellucer";

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
    : outer_(outer), adapter_(adapter) {
    // The queue reserves all it will ever hold here: the streaming thread never allocates for
    // MIDI. The provider builds its lists on the host's first requests.
    try {
        queue_ = std::make_unique<MidiEventQueue>();
    } catch (const std::bad_alloc&) {
        queue_.reset();
    }
    if (FAILED(createMidiNameProvider(kProductName, &names_)))
        names_ = nullptr;
}

SequencerIntegration::~SequencerIntegration() {
    releaseHostServices();
    if (names_ != nullptr)
        names_->Release();
}

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
    // Queued times belong to the host's time line, which is gone with it.
    flushMidi();
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
    if (queue_ != nullptr)
        queue_->clearTrackSettings();
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
    // Each event carries its own time; the list's time and flags do not place anything.
    (void)hostTime, (void)flags;
    LockGuard guard(adapter_.filterLock());
    if (!connected_)
        return E_UNEXPECTED;
    if (events == nullptr || (events->count > 0 && events->events == nullptr))
        return E_POINTER;
    HRESULT overall = S_OK;
    for (DWORD i = 0; i < events->count; ++i) {
        const SequencerEvent& event = events->events[i];
        const uint32_t message = static_cast<uint32_t>(event.status) |
                                 (static_cast<uint32_t>(event.data1) << 8) |
                                 (static_cast<uint32_t>(event.data2) << 16);
        const HRESULT result = queueMessage(event.hostTime, message);
        if (FAILED(result))
            return result;
        if (result != S_OK)
            overall = result;
    }
    return overall;
}

HRESULT SequencerIntegration::OnInput(LONGLONG hostTime, const RawMidiList* messages) {
    (void)hostTime;
    if (messages == nullptr)
        return E_POINTER;
    LockGuard guard(adapter_.filterLock());
    if (!connected_)
        return E_UNEXPECTED;
    if (messages->count > 0 && messages->messages == nullptr)
        return E_POINTER;
    HRESULT overall = S_OK;
    for (DWORD i = 0; i < messages->count; ++i) {
        const HRESULT result = queueMessage(messages->messages[i].hostTime, messages->messages[i].message);
        if (FAILED(result))
            return result;
        if (result != S_OK)
            overall = result;
    }
    return overall;
}

HRESULT SequencerIntegration::queueMessage(LONGLONG hostTime, uint32_t message) {
    if (queue_ == nullptr)
        return E_OUTOFMEMORY;
    // Skipped messages cost no conversion.
    MidiEvent event;
    if (!MidiEventQueue::parseShortMessage(message, 0, event))
        return S_OK;
    LONGLONG frames = 0;
    const HRESULT converted = timeConverter_->HostTimeToSamples(hostTime, &frames);
    if (FAILED(converted))
        return converted;
    event.sampleTime = relativeToStart(frames);
    // A full queue keeps what it has (the streaming thread may be walking it) and refuses the
    // newcomer: a flooding host loses its latest events, never memory.
    return queue_->insert(event) ? S_OK : S_FALSE;
}

int64_t SequencerIntegration::relativeToStart(LONGLONG frames) const {
    constexpr int64_t kHighest = std::numeric_limits<int64_t>::max();
    constexpr int64_t kLowest = std::numeric_limits<int64_t>::min();
    // Host times may be anything: saturate instead of overflowing.
    if (startPosition_ < 0 && frames > kHighest + startPosition_)
        return kHighest;
    if (startPosition_ > 0 && frames < kLowest + startPosition_)
        return kLowest;
    return frames - startPosition_;
}

// -- the queue on the streaming thread -------------------------------------------------------------

void SequencerIntegration::prepareMidi(int64_t position, int32_t frames) {
    if (queue_ == nullptr)
        return;
    // The piece's events are made current and their notes tracked; the effect has no use for
    // them, so they go no further.
    preparedEvents_ += queue_->prepare(relativeToStart(position), frames).size();
}

void SequencerIntegration::retireMidi(int64_t position) {
    if (queue_ != nullptr)
        queue_->retire(relativeToStart(position));
}

void SequencerIntegration::flushMidi() {
    if (queue_ != nullptr)
        queue_->flush();
}

// -- MIDI name lists -------------------------------------------------------------------------------

namespace {
/// Hands the provider's list out as the IUnknown the host asks for its name-list interface.
/// A null `out` goes to the provider as it is: the provider decides between its range checks
/// and E_POINTER.
template <typename Call> HRESULT forwardList(IUnknown** out, Call call) {
    IMidiNameList* list = nullptr;
    if (out != nullptr)
        *out = nullptr;
    const HRESULT result = call(out != nullptr ? &list : nullptr);
    if (out != nullptr && SUCCEEDED(result))
        *out = list;
    else if (list != nullptr)
        list->Release();
    return result;
}
} // namespace

HRESULT SequencerIntegration::OnBankPatchSelected(LONG bank, LONG patch) {
    LockGuard guard(adapter_.filterLock());
    return names_ != nullptr ? names_->OnPatchSelected(bank, patch) : E_OUTOFMEMORY;
}

HRESULT SequencerIntegration::IsBankPatchValid(LONG bank, LONG patch) {
    LockGuard guard(adapter_.filterLock());
    return names_ != nullptr ? names_->HasPatchNoteNames(bank, patch) : E_OUTOFMEMORY;
}

HRESULT SequencerIntegration::OnBankPatchChanged(LONG bank, LONG patch) {
    LockGuard guard(adapter_.filterLock());
    return names_ != nullptr ? names_->IsPatchValid(bank, patch) : E_OUTOFMEMORY;
}

HRESULT SequencerIntegration::GetPatchNames(LONG bank, IUnknown** list) {
    LockGuard guard(adapter_.filterLock());
    if (names_ == nullptr)
        return list != nullptr ? E_OUTOFMEMORY : E_POINTER;
    return forwardList(list, [&](IMidiNameList** out) { return names_->GetPatchNames(bank, out); });
}

HRESULT SequencerIntegration::GetNoteNames(LONG bank, LONG patch, IUnknown** list) {
    LockGuard guard(adapter_.filterLock());
    if (names_ == nullptr)
        return list != nullptr ? E_OUTOFMEMORY : E_POINTER;
    return forwardList(list, [&](IMidiNameList** out) { return names_->GetNoteNames(bank, patch, out); });
}

HRESULT SequencerIntegration::GetControllerNames(IUnknown** list) {
    LockGuard guard(adapter_.filterLock());
    if (names_ == nullptr)
        return list != nullptr ? E_OUTOFMEMORY : E_POINTER;
    return forwardList(list, [&](IMidiNameList** out) { return names_->GetControllerNames(out); });
}

HRESULT SequencerIntegration::GetRpnNames(IUnknown** list) {
    LockGuard guard(adapter_.filterLock());
    if (names_ == nullptr)
        return list != nullptr ? E_OUTOFMEMORY : E_POINTER;
    return forwardList(list, [&](IMidiNameList** out) { return names_->GetRpnNames(out); });
}

HRESULT SequencerIntegration::GetNrpnNames(IUnknown** list) {
    LockGuard guard(adapter_.filterLock());
    if (names_ == nullptr)
        return list != nullptr ? E_OUTOFMEMORY : E_POINTER;
    return forwardList(list, [&](IMidiNameList** out) { return names_->GetNrpnNames(out); });
}

HRESULT SequencerIntegration::GetNameProvider(IUnknown** provider) {
    if (provider == nullptr)
        return E_POINTER;
    LockGuard guard(adapter_.filterLock());
    *provider = nullptr;
    if (names_ == nullptr)
        return E_OUTOFMEMORY;
    names_->AddRef();
    *provider = static_cast<IMidiNameProvider*>(names_);
    return S_OK;
}

// -- track state and host callback -------------------------------------------------------------------

HRESULT SequencerIntegration::SetTrackState(DWORD setting, LONG value) {
    const DWORD number = setting & 0xFFFF;
    const DWORD channel = setting >> 16;
    if (number >= ITrackState::kSettingCount || channel > ITrackState::kChannelCount)
        return E_INVALIDARG;
    LockGuard guard(adapter_.filterLock());
    if (queue_ == nullptr)
        return E_OUTOFMEMORY;
    const int settingIndex = static_cast<int>(number);
    if (channel == ITrackState::kAllChannels) {
        for (int each = 0; each < MidiEventQueue::kChannels; ++each)
            queue_->setTrackSetting(each, settingIndex, value);
    } else {
        // Hosts number channels from 1; the queue by status nibble.
        queue_->setTrackSetting(static_cast<int>(channel) - 1, settingIndex, value);
    }
    return S_OK;
}

LONG SequencerIntegration::trackState(int channel, DWORD setting) const {
    if (queue_ == nullptr || setting >= ITrackState::kSettingCount)
        return 0;
    return queue_->trackSetting(channel, static_cast<int>(setting));
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
