#pragma once

// The filter's sequencer integration part: the interfaces a sequencer host uses to connect to the
// filter, drive its transport and stream MIDI to it (ISequencerIntegration), to send per-channel
// track settings (ITrackState) and to park a callback object with it (IHostCallbackHolder), and
// the host services it obtains on Connect. It is a part of the filter, not an object of its own:
// its interfaces' IUnknown is the filter's.
//
// MIDI that the host streams (OnEvents, OnInput) goes into a time-ordered queue that the
// streaming thread walks piece by piece (prepareMidi/retireMidi) and that transport start and stop
// empty. The queue holds at most MidiEventQueue::kDefaultCapacity (4096) events, reserved when
// the part is made: a host that sends more than that ahead of the stream loses its newest events
// (the call answers S_FALSE) instead of growing memory. The effect has no MIDI-driven
// parameters: nothing of the queue reaches it. The host's name requests are forwarded to the
// part's MIDI name provider, which the part holds one reference to from construction to
// destruction.
//
// Every method runs under the filter lock.

#include <cstdint>
#include <memory>

#include "dx/midi/MidiEventQueue.h"
#include "dx/midi/MidiNameProvider.h"
#include "dx/midi/SequencerInterfaces.h"
#include "dx/filter/VstEffectAdapter.h"

namespace pellucer::dx {

class SequencerIntegration final : public ISequencerIntegration,
                                   public ITrackState,
                                   public IHostCallbackHolder,
                                   public TempoSource {
public:
    /// `outer` is the filter's IUnknown (every IUnknown call goes there); the adapter holds the
    /// filter lock and the stream position that OnStart sets. Creates the MIDI queue and the
    /// name provider; status() tells whether that worked.
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
    HRESULT STDMETHODCALLTYPE OnEvents(LONGLONG hostTime, DWORD flags,
                                       const SequencerEventList* events) override;
    HRESULT STDMETHODCALLTYPE OnInput(LONGLONG hostTime, const RawMidiList* messages) override;
    // The MIDI name lists, forwarded to the provider by slot order: OnBankPatchSelected →
    // OnPatchSelected, IsBankPatchValid → HasPatchNoteNames, OnBankPatchChanged → IsPatchValid.
    // A null out-pointer reaches the provider, which answers E_POINTER after its range checks.
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
    /// S_OK, or E_OUTOFMEMORY when the MIDI queue or the name provider could not be made (the
    /// filter's constructor then fails with it).
    HRESULT status() const { return queue_ != nullptr && names_ != nullptr ? S_OK : E_OUTOFMEMORY; }
    bool isConnected() const { return connected_; }
    bool isRunning() const { return running_; }
    /// Stream frame at which the sequencer started (OnStart), moved by OnTimeChange.
    int64_t startPosition() const { return startPosition_; }
    /// A track setting of MIDI channel 1 (status nibble 0); 0 when never set or out of range.
    LONG trackState(DWORD setting) const { return trackState(0, setting); }
    /// A track setting of status-nibble channel `channel` (0..15); 0 when never set or out of range.
    LONG trackState(int channel, DWORD setting) const;
    /// Host time ↔ stream frames through the host's converter; E_UNEXPECTED before Connect.
    HRESULT hostTimeToSamples(LONGLONG hostTime, LONGLONG* samples);
    HRESULT samplesToHostTime(LONGLONG samples, LONGLONG* hostTime);
    /// The host services (no reference), or null.
    IHostTempoMap* tempoMap() const { return tempoMap_; }
    IHostTimeConverter* timeConverter() const { return timeConverter_; }
    IPinChangeSink* pinChangeSink() const { return pinChangeSink_; }

    /// The MIDI queue's steps around each processed piece, on the streaming thread under the
    /// filter lock; `position` is in stream frames. prepareMidi makes the events of [position,
    /// position + frames) current (their notes are tracked); retireMidi, after the piece, drops
    /// every event and ended note before `position` (the piece's end). Neither allocates, and
    /// nothing is passed to the effect.
    void prepareMidi(int64_t position, int32_t frames);
    void retireMidi(int64_t position);

    /// Read-only view of the queue (times relative to startPosition()), for inspection; null
    /// only when status() failed.
    const MidiEventQueue* midiQueue() const { return queue_.get(); }
    /// Events handed to processed pieces by prepareMidi since the part was made.
    uint64_t preparedEventCount() const { return preparedEvents_; }

private:
    void releaseHostServices();
    /// Drops queued MIDI events and tracked notes.
    void flushMidi();
    /// Stream frame `frames` relative to the start position, saturated to the 64-bit range.
    int64_t relativeToStart(LONGLONG frames) const;
    /// Converts `hostTime` and queues `message` (packed short message) there. S_FALSE when the
    /// queue was full; the converter's failure as it is.
    HRESULT queueMessage(LONGLONG hostTime, uint32_t message);

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
    // The queue also stores the per-channel track settings.
    std::unique_ptr<MidiEventQueue> queue_;
    uint64_t preparedEvents_ = 0;
    // One reference, held from construction to destruction.
    MidiNameProvider* names_ = nullptr;
};

} // namespace pellucer::dx
