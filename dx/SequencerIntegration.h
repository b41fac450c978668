#pragma once

// The filter's sequencer integration part: the interfaces a sequencer host uses to connect to the
// filter, drive its transport and stream MIDI to it (ISequencerIntegration), to send per-channel
// track settings (ITrackState) and to park a callback object with it (IHostCallbackHolder), and
// the host services it obtains on Connect. It is a part of the filter, not an object of its own:
// its interfaces' IUnknown is the filter's.
//
// Every method runs under the filter lock.

#include <cstdint>

#include "dx/SequencerInterfaces.h"
#include "dx/VstEffectAdapter.h"

namespace pellucer::dx {

class SequencerIntegration final : public ISequencerIntegration,
                                   public ITrackState,
                                   public IHostCallbackHolder,
                                   public TempoSource {
public:
    /// `outer` is the filter's IUnknown (every IUnknown call goes there); the adapter holds the
    /// filter lock and the stream position that OnStart sets.
    SequencerIntegration(IUnknown* outer, VstEffectAdapter& adapter);
    ~SequencerIntegration();
    SequencerIntegration(const SequencerIntegration&) = delete;
    SequencerIntegration& operator=(const SequencerIntegration&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        return outer_->QueryInterface(iid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return outer_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return outer_->Release(); }

    // ISequencerIntegration
    HRESULT STDMETHODCALLTYPE Connect(IUnknown* context) override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE OnStart(LONGLONG hostTime) override;
    HRESULT STDMETHODCALLTYPE OnTimeChange(LONGLONG oldHostTime, LONGLONG newHostTime) override;
    HRESULT STDMETHODCALLTYPE OnStop(LONGLONG hostTime) override;
    /// E_UNEXPECTED before Connect, E_POINTER for a null list; the queue is not built yet
    /// (E_NOTIMPL).
    HRESULT STDMETHODCALLTYPE OnEvents(LONGLONG hostTime, DWORD flags,
                                       const SequencerEventList* events) override;
    HRESULT STDMETHODCALLTYPE OnInput(LONGLONG hostTime, const RawMidiList* messages) override;
    // The MIDI name lists: not provided yet (E_NOTIMPL; E_POINTER for a null out-pointer).
    HRESULT STDMETHODCALLTYPE OnBankPatchSelected(LONG bank, LONG patch) override;
    HRESULT STDMETHODCALLTYPE IsBankPatchValid(LONG bank, LONG patch) override;
    HRESULT STDMETHODCALLTYPE OnBankPatchChanged(LONG bank, LONG patch) override;
    HRESULT STDMETHODCALLTYPE GetPatchNames(LONG bank, IUnknown** list) override;
    HRESULT STDMETHODCALLTYPE GetNoteNames(LONG bank, LONG patch, IUnknown** list) override;
    HRESULT STDMETHODCALLTYPE GetControllerNames(IUnknown** list) override;
    HRESULT STDMETHODCALLTYPE GetRpnNames(IUnknown** list) override;
    HRESULT STDMETHODCALLTYPE GetNrpnNames(IUnknown** list) override;
    HRESULT STDMETHODCALLTYPE GetNameProvider(IUnknown** provider) override;

    // ITrackState
    HRESULT STDMETHODCALLTYPE SetTrackState(DWORD setting, LONG value) override;

    // IHostCallbackHolder
    HRESULT STDMETHODCALLTYPE SetHostCallback(IUnknown* callback) override;
    HRESULT STDMETHODCALLTYPE GetHostCallback(IUnknown** callback) override;

    // TempoSource (the adapter asks while processing, under the filter lock)
    bool tempoAt(int64_t position, int32_t& hundredthsBpm) override;

    // -- for the filter -------------------------------------------------------------------
    bool isConnected() const { return connected_; }
    bool isRunning() const { return running_; }
    /// Stream frame at which the sequencer started (OnStart), moved by OnTimeChange.
    int64_t startPosition() const { return startPosition_; }
    LONG trackState(DWORD setting) const {
        return setting < ITrackState::kSettingCount ? trackState_[setting] : 0;
    }
    /// Host time ↔ stream frames through the host's converter; E_UNEXPECTED before Connect.
    HRESULT hostTimeToSamples(LONGLONG hostTime, LONGLONG* samples);
    HRESULT samplesToHostTime(LONGLONG samples, LONGLONG* hostTime);
    /// The host services (no reference), or null.
    IHostTempoMap* tempoMap() const { return tempoMap_; }
    IHostTimeConverter* timeConverter() const { return timeConverter_; }
    IPinChangeSink* pinChangeSink() const { return pinChangeSink_; }

    /// The MIDI queue's steps around each processed piece: the events of [position,
    /// position + frames) are made current before it, and those before `position` retired after.
    /// The queue is empty until MIDI input is handled.
    void prepareMidi(int64_t position, int32_t frames) { (void)position, (void)frames; }
    void retireMidi(int64_t position) { (void)position; }

private:
    void releaseHostServices();
    /// Drops queued MIDI events and tracked notes (none are kept yet).
    void flushMidi() {}

    IUnknown* outer_;
    VstEffectAdapter& adapter_;
    IHostTempoMap* tempoMap_ = nullptr;
    IHostTimeConverter* timeConverter_ = nullptr;
    IUnknown* hostServices_ = nullptr; // also the host-callback holder's slot
    IPinChangeSink* pinChangeSink_ = nullptr;
    IUnknown* hostExtension_ = nullptr;
    bool connected_ = false;
    bool running_ = false;
    int64_t startPosition_ = 0;
    LONG trackState_[ITrackState::kSettingCount] = {};
};

} // namespace pellucer::dx
