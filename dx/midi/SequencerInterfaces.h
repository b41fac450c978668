#pragma once

// The interfaces through which a sequencer host integrates the filter as a track instrument, and
// the services the host offers in return. They are ours: the identifiers are in
// dx/Identifiers.h, and the shapes below are what both sides compile against.
//
// Times: a "host time" is the host's own musical or wall-clock unit (LONGLONG), opaque to the
// filter; the host's time converter turns it into sample frames of the stream and back.
// Every method of the filter's side runs under the filter lock.

#include "dx/server/Identifiers.h"
#include "dx/base/DirectShow.h"

namespace pellucer::dx {

// -- what the host passes in --------------------------------------------------------------------

/// One MIDI event of a host event list: a host time and a MIDI channel message. The time is the
/// event's own position on the host's time line (not an offset from the list's time).
struct SequencerEvent {
    LONGLONG hostTime;
    BYTE status; ///< status byte: type in the high nibble, channel in the low nibble
    BYTE data1;
    BYTE data2;
    BYTE reserved;
};

/// A list of events handed to OnEvents; the host owns the memory.
struct SequencerEventList {
    DWORD count;
    const SequencerEvent* events;
};

/// Raw MIDI from a live input, handed to OnInput: packed short messages (status in the low
/// byte, then the two data bytes, the highest byte unused), each with its own host time. Every
/// message is complete, as a MIDI input driver delivers it: there is no running status, and a
/// message whose first byte is a data byte is skipped.
struct RawMidiMessage {
    LONGLONG hostTime;
    DWORD message;
};

struct RawMidiList {
    DWORD count;
    const RawMidiMessage* messages;
};

// -- host services (obtained from the context passed to Connect) --------------------------------

/// The host's tempo map (kIidHostTempoMap).
struct IHostTempoMap : public IUnknown {
    /// The tempo in effect at `hostTime`, in hundredths of beats per minute (12000 = 120 BPM).
    virtual HRESULT STDMETHODCALLTYPE GetTempoAt(LONGLONG hostTime, LONG* hundredthsBpm) = 0;
};

/// The host's time converter (kIidHostTimeConverter).
struct IHostTimeConverter : public IUnknown {
    /// The sample frame of the stream at `hostTime`.
    virtual HRESULT STDMETHODCALLTYPE HostTimeToSamples(LONGLONG hostTime, LONGLONG* samples) = 0;
    /// The host time at sample frame `samples` of the stream.
    virtual HRESULT STDMETHODCALLTYPE SamplesToHostTime(LONGLONG samples, LONGLONG* hostTime) = 0;
};

/// Told when the filter's pins are about to change and when they changed (kIidPinChangeSink).
struct IPinChangeSink : public IUnknown {
    static constexpr DWORD kPinsChanging = 1;
    static constexpr DWORD kPinsChanged = 2;
    /// `code` is kPinsChanging or kPinsChanged; `pinCount` the output count after the change.
    /// A failure answered to kPinsChanging stops the change.
    virtual HRESULT STDMETHODCALLTYPE OnPinsChanged(DWORD code, IBaseFilter* filter, LONG pinCount) = 0;
};

// kIidHostServices and kIidHostExtension are services the filter only holds on to: plain IUnknown.

// -- what the filter answers ---------------------------------------------------------------------

/// The sequencer integration interface (kIidSequencerIntegration and
/// kIidSequencerIntegrationAlias). Methods other than Connect answer E_UNEXPECTED before
/// Connect.
struct ISequencerIntegration : public IUnknown {
    /// Takes the host's services from `context`: tempo map and time converter (required; the
    /// first one missing is the answer), then the host services, pin-change sink and extension
    /// (optional). Consumes one reference to `context`: it is released once before returning.
    /// E_UNEXPECTED when already connected, E_POINTER for a null context.
    virtual HRESULT STDMETHODCALLTYPE Connect(IUnknown* context) = 0;
    /// Releases every host service and drops queued MIDI (its times are the host's).
    virtual HRESULT STDMETHODCALLTYPE Disconnect() = 0;
    /// Transport starts at `hostTime`: queued MIDI is dropped, the stream position is set, and
    /// the per-channel track settings start again from 0.
    virtual HRESULT STDMETHODCALLTYPE OnStart(LONGLONG hostTime) = 0;
    /// The host moved its time line while playing.
    virtual HRESULT STDMETHODCALLTYPE OnTimeChange(LONGLONG oldHostTime, LONGLONG newHostTime) = 0;
    /// Transport stops: queued MIDI is dropped.
    virtual HRESULT STDMETHODCALLTYPE OnStop(LONGLONG hostTime) = 0;
    /// Track MIDI for the queue. Each event is placed at its own host time, converted to stream
    /// frames; `hostTime` is the time the host sent the list for and `flags` are the host's (none
    /// defined): neither affects placement. Channel messages are queued; system messages and
    /// status bytes without their top bit are skipped. S_OK when every channel message was
    /// queued, S_FALSE when the queue was full and some were dropped; a failure of the host's
    /// time converter is returned at once (events before it stay queued). E_UNEXPECTED before
    /// Connect, E_POINTER for a null list (or a list with events but a null array).
    virtual HRESULT STDMETHODCALLTYPE OnEvents(LONGLONG hostTime, DWORD flags,
                                               const SequencerEventList* events) = 0;
    /// Live MIDI input for the queue, with the same placement, skipping and results as OnEvents.
    virtual HRESULT STDMETHODCALLTYPE OnInput(LONGLONG hostTime, const RawMidiList* messages) = 0;

    // MIDI name lists, forwarded to the filter's name provider (IMidiNameProvider, whose slots
    // follow in the same order): the answers are the provider's. The lists answered are the
    // name-list objects with a reference (IUnknown here: the host asks them for its name-list
    // interface).
    virtual HRESULT STDMETHODCALLTYPE OnBankPatchSelected(LONG bank, LONG patch) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsBankPatchValid(LONG bank, LONG patch) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnBankPatchChanged(LONG bank, LONG patch) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPatchNames(LONG bank, IUnknown** list) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNoteNames(LONG bank, LONG patch, IUnknown** list) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetControllerNames(IUnknown** list) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRpnNames(IUnknown** list) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNrpnNames(IUnknown** list) = 0;
    /// The name provider itself, with a reference.
    virtual HRESULT STDMETHODCALLTYPE GetNameProvider(IUnknown** provider) = 0;
};

/// Per-channel track settings from the sequencer (kIidTrackState).
///
/// `setting` carries the setting number in its low word and the MIDI channel in its high word:
/// 0 addresses the whole track (the setting is stored for all 16 channels), 1..16 one channel
/// as a host numbers them (MIDI channel 1..16, status nibble 0..15). A host that knows nothing
/// of channels passes the bare setting number and sets the track.
struct ITrackState : public IUnknown {
    static constexpr DWORD kSettingCount = 6;
    static constexpr DWORD kAllChannels = 0;
    static constexpr DWORD kChannelCount = 16;
    /// The `setting` argument for setting `number` of MIDI channel `channel` (1..16, or
    /// kAllChannels).
    static constexpr DWORD channelSetting(DWORD channel, DWORD number) { return (channel << 16) | number; }
    /// Setting 0..5 of the channel(s) changed to `value`; E_INVALIDARG for another setting
    /// number or a channel above 16.
    virtual HRESULT STDMETHODCALLTYPE SetTrackState(DWORD setting, LONG value) = 0;
};

/// Holds one host callback object for the host (kIidHostCallbackHolder). It is the same slot as
/// the host services obtained by Connect.
struct IHostCallbackHolder : public IUnknown {
    /// Stores `callback` with a reference (null clears), releasing the previous one.
    virtual HRESULT STDMETHODCALLTYPE SetHostCallback(IUnknown* callback) = 0;
    /// The stored callback with a reference; S_FALSE and null when none is stored.
    virtual HRESULT STDMETHODCALLTYPE GetHostCallback(IUnknown** callback) = 0;
};

} // namespace pellucer::dx
