// The effect filter's sequencer integration, as a sequencer host drives it: connecting, transport
// and tempo, pin changes, and MIDI: the name lists the filter's provider hands out, events and raw
// input queued in time order relative to the sequencer's start, flushed by the transport, and
// harmless to the audio. The queue itself is tested natively (tests/dx/MidiEventQueueTest.cpp).

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "dx/filter/EffectFilter.h"
#include "dx/server/Identifiers.h"
#include "dx/midi/MidiNameInterfaces.h"
#include "tests/dx/win32/EffectTestSupport.h"

namespace pellucer::dx {
namespace {

using namespace effecttest;

// -- a filter connected to a sequencer host --------------------------------------------------------

/// A filter (the recording effect unless told otherwise) with its sequencer interface; connects
/// to a host whose converter gives samples = 2 × host time.
struct SequencedFilter {
    explicit SequencedFilter(VstEffectAdapter::EntryPoint entry = &recordingEntry) : rig(entry) {
        rig.filter->nonDelegatingUnknown()->QueryInterface(kIidSequencerIntegration,
                                                           reinterpret_cast<void**>(&sequencer));
    }
    ~SequencedFilter() {
        if (sequencer != nullptr) {
            sequencer->Disconnect();
            sequencer->Release();
        }
    }
    SequencedFilter(const SequencedFilter&) = delete;
    SequencedFilter& operator=(const SequencedFilter&) = delete;

    HRESULT connect() {
        host.AddRef(); // the reference Connect consumes
        return sequencer->Connect(host.context());
    }
    SequencerIntegration& part() { return rig.filter->sequencer(); }
    const MidiEventQueue& queue() { return *part().midiQueue(); }

    FilterRig rig;
    FakeSequencerHost host;
    ISequencerIntegration* sequencer = nullptr;
};

uint32_t shortMessage(int status, int data1, int data2 = 0) {
    return static_cast<uint32_t>(status) | (static_cast<uint32_t>(data1) << 8) |
           (static_cast<uint32_t>(data2) << 16);
}

HRESULT sendEvents(ISequencerIntegration* sequencer, const std::vector<SequencerEvent>& events) {
    const SequencerEventList list{static_cast<DWORD>(events.size()), events.data()};
    return sequencer->OnEvents(0, 0, &list);
}

HRESULT sendInput(ISequencerIntegration* sequencer, const std::vector<RawMidiMessage>& messages) {
    const RawMidiList list{static_cast<DWORD>(messages.size()), messages.data()};
    return sequencer->OnInput(0, &list);
}

// -- name lists --------------------------------------------------------------------------------------

/// The name-list interface of a list the filter handed out as IUnknown; the handed-out reference
/// is released.
IMidiNameList* asNameList(IUnknown* unknown, REFIID iid = kIidMidiNameList) {
    IMidiNameList* list = nullptr;
    if (unknown == nullptr)
        return nullptr;
    EXPECT_EQ(S_OK, unknown->QueryInterface(iid, reinterpret_cast<void**>(&list)));
    unknown->Release();
    return list;
}

std::string nameAt(IMidiNameList* list, LONG index) {
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    const HRESULT result = list->GetNameAt(index, buffer, sizeof buffer);
    return result == S_OK ? std::string(buffer) : "<failed " + std::to_string(result) + ">";
}

std::string titleOf(IMidiNameList* list, LONG size = 64) {
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(S_OK, list->GetTitle(buffer, size));
    return buffer;
}

LONG countOf(IMidiNameList* list) {
    LONG count = -1;
    EXPECT_EQ(S_OK, list->GetCount(&count));
    return count;
}

TEST(SequencerMidi, ControllerAndParameterNamesComeFromTheFiltersProvider) {
    SequencedFilter filter;
    ASSERT_EQ(S_OK, filter.rig.created);
    ISequencerIntegration* sequencer = filter.sequencer;

    IUnknown* unknown = nullptr;
    ASSERT_EQ(S_OK, sequencer->GetControllerNames(&unknown));
    IMidiNameList* controllers = asNameList(unknown);
    ASSERT_NE(nullptr, controllers);
    EXPECT_EQ("Pellucer Controllers", titleOf(controllers));
    EXPECT_EQ("Pell", titleOf(controllers, 5));
    EXPECT_EQ(128, countOf(controllers));
    EXPECT_EQ("Sustain Switch", nameAt(controllers, 64));
    EXPECT_EQ("5", nameAt(controllers, 5));
    EXPECT_EQ("", nameAt(controllers, 0));
    char buffer[16] = "junk";
    EXPECT_EQ(S_FALSE, controllers->FindName(0, buffer, sizeof buffer));
    EXPECT_STREQ("", buffer);

    // The same list again, under the alias identifier as well.
    ASSERT_EQ(S_OK, sequencer->GetControllerNames(&unknown));
    IMidiNameList* again = asNameList(unknown, kIidMidiNameListAlias);
    EXPECT_EQ(controllers, again);
    again->Release();
    controllers->Release();

    // RPN and NRPN lists: 16,383 entries, none named.
    const struct {
        HRESULT (STDMETHODCALLTYPE ISequencerIntegration::*get)(IUnknown**);
        const char* title;
    } numbered[] = {{&ISequencerIntegration::GetRpnNames, "Pellucer RPNs"},
                    {&ISequencerIntegration::GetNrpnNames, "Pellucer NRPNs"}};
    for (const auto& list : numbered) {
        SCOPED_TRACE(list.title);
        ASSERT_EQ(S_OK, (sequencer->*list.get)(&unknown));
        IMidiNameList* names = asNameList(unknown);
        ASSERT_NE(nullptr, names);
        EXPECT_EQ(list.title, titleOf(names));
        EXPECT_EQ(16383, countOf(names));
        void* position = nullptr;
        ASSERT_EQ(S_OK, names->GetFirstPosition(&position));
        LONG index = -1;
        EXPECT_EQ(S_FALSE, names->GetNextName(position, &index, buffer, sizeof buffer)) << "nothing has a name";
        EXPECT_EQ("", nameAt(names, 16382));
        EXPECT_NE("", nameAt(names, 16383)); // outside the count: refused
        names->Release();
    }
}

TEST(SequencerMidi, PatchAndNoteNamesAndBankNotificationsForwardTheProvidersAnswers) {
    SequencedFilter filter;
    ASSERT_EQ(S_OK, filter.rig.created);
    ISequencerIntegration* sequencer = filter.sequencer;

    IUnknown* list = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(E_FAIL, sequencer->GetPatchNames(0, &list));
    EXPECT_EQ(nullptr, list);
    EXPECT_EQ(E_INVALIDARG, sequencer->GetPatchNames(8, &list));
    // The provider checks the bank before the pointer.
    EXPECT_EQ(E_INVALIDARG, sequencer->GetPatchNames(8, nullptr));
    EXPECT_EQ(E_POINTER, sequencer->GetPatchNames(0, nullptr));

    IUnknown* first = nullptr;
    IUnknown* second = nullptr;
    EXPECT_EQ(S_FALSE, sequencer->GetNoteNames(0, 0, &first));
    EXPECT_EQ(S_FALSE, sequencer->GetNoteNames(0, 0, &second));
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(first, second);
    IMidiNameList* notes = asNameList(first);
    second->Release();
    EXPECT_EQ("Pellucer Notes", titleOf(notes));
    EXPECT_EQ(128, countOf(notes));
    notes->Release();
    IUnknown* other = nullptr;
    EXPECT_EQ(S_FALSE, sequencer->GetNoteNames(1, 0, &other));
    EXPECT_NE(first, other);
    other->Release();
    EXPECT_EQ(E_INVALIDARG, sequencer->GetNoteNames(16384, 0, &other));
    EXPECT_EQ(E_POINTER, sequencer->GetNoteNames(0, 0, nullptr));

    // The three notifications map to the provider's three slots in order.
    EXPECT_EQ(S_OK, sequencer->OnBankPatchSelected(99999, -7)); // does nothing, checks nothing
    EXPECT_EQ(S_FALSE, sequencer->IsBankPatchValid(16383, 127));
    EXPECT_EQ(S_FALSE, sequencer->IsBankPatchValid(-1, -1));
    EXPECT_EQ(E_INVALIDARG, sequencer->IsBankPatchValid(16384, 0));
    EXPECT_EQ(E_INVALIDARG, sequencer->IsBankPatchValid(0, 128));
    EXPECT_EQ(S_OK, sequencer->OnBankPatchChanged(0, 0));
    EXPECT_EQ(E_INVALIDARG, sequencer->OnBankPatchChanged(-2, 0));
    EXPECT_EQ(E_INVALIDARG, sequencer->OnBankPatchChanged(0, -2));

    EXPECT_EQ(E_POINTER, sequencer->GetControllerNames(nullptr));
    EXPECT_EQ(E_POINTER, sequencer->GetRpnNames(nullptr));
    EXPECT_EQ(E_POINTER, sequencer->GetNrpnNames(nullptr));
    EXPECT_EQ(E_POINTER, sequencer->GetNameProvider(nullptr));
}

TEST(SequencerMidi, NameProviderIsOneObjectThatOutlivesTheFilterWhileTheHostHoldsIt) {
    IMidiNameProvider* provider = nullptr;
    {
        SequencedFilter filter;
        ASSERT_EQ(S_OK, filter.rig.created);
        IUnknown* first = nullptr;
        IUnknown* second = nullptr;
        ASSERT_EQ(S_OK, filter.sequencer->GetNameProvider(&first));
        ASSERT_EQ(S_OK, filter.sequencer->GetNameProvider(&second));
        ASSERT_NE(nullptr, first);
        EXPECT_EQ(first, second);
        second->Release();
        ASSERT_EQ(S_OK, first->QueryInterface(kIidMidiNameProvider, reinterpret_cast<void**>(&provider)));
        first->Release();
        // Lists from the provider are the lists the filter hands out.
        IMidiNameList* direct = nullptr;
        ASSERT_EQ(S_OK, provider->GetControllerNames(&direct));
        IUnknown* viaFilter = nullptr;
        ASSERT_EQ(S_OK, filter.sequencer->GetControllerNames(&viaFilter));
        EXPECT_EQ(static_cast<IUnknown*>(direct), viaFilter);
        viaFilter->Release();
        direct->Release();

        // A second filter has a provider of its own.
        SequencedFilter another;
        IUnknown* theirs = nullptr;
        ASSERT_EQ(S_OK, another.sequencer->GetNameProvider(&theirs));
        EXPECT_NE(static_cast<IUnknown*>(provider), theirs);
        theirs->Release();
    }
    // The filter is gone; the host's reference keeps the provider.
    char name[16] = {};
    EXPECT_EQ(S_OK, provider->GetName(name, sizeof name));
    EXPECT_STREQ("Pellucer", name);
    EXPECT_EQ(0u, provider->Release());
}

// -- events into the queue ----------------------------------------------------------------------------

TEST(SequencerMidi, MidiBeforeConnectIsUnexpectedAndNullListsAreRefused) {
    SequencedFilter filter;
    ASSERT_EQ(S_OK, filter.rig.created);
    const std::vector<SequencerEvent> events{{10, 0x90, 60, 100, 0}};
    const std::vector<RawMidiMessage> messages{{10, shortMessage(0x90, 60, 100)}};
    EXPECT_EQ(E_UNEXPECTED, sendEvents(filter.sequencer, events));
    EXPECT_EQ(E_UNEXPECTED, sendInput(filter.sequencer, messages));
    EXPECT_EQ(0u, filter.queue().size());

    ASSERT_EQ(S_OK, filter.connect());
    EXPECT_EQ(E_POINTER, filter.sequencer->OnEvents(0, 0, nullptr));
    EXPECT_EQ(E_POINTER, filter.sequencer->OnInput(0, nullptr));
    const SequencerEventList noEvents{3, nullptr};
    const RawMidiList noMessages{3, nullptr};
    EXPECT_EQ(E_POINTER, filter.sequencer->OnEvents(0, 0, &noEvents));
    EXPECT_EQ(E_POINTER, filter.sequencer->OnInput(0, &noMessages));
    const SequencerEventList empty{0, nullptr};
    EXPECT_EQ(S_OK, filter.sequencer->OnEvents(0, 0, &empty));
    EXPECT_EQ(0u, filter.queue().size());

    // After Disconnect it is unexpected again, and what was queued is gone.
    ASSERT_EQ(S_OK, sendEvents(filter.sequencer, events));
    EXPECT_EQ(1u, filter.queue().size());
    ASSERT_EQ(S_OK, filter.sequencer->Disconnect());
    EXPECT_EQ(0u, filter.queue().size());
    EXPECT_EQ(E_UNEXPECTED, sendEvents(filter.sequencer, events));
}

TEST(SequencerMidi, EventsAndInputAreQueuedInTimeOrderRelativeToTheStart) {
    SequencedFilter filter;
    ASSERT_EQ(S_OK, filter.rig.created);
    ASSERT_EQ(S_OK, filter.connect());
    ASSERT_EQ(S_OK, filter.sequencer->OnStart(500)); // frame 1000
    ASSERT_EQ(1000, filter.part().startPosition());

    // Out of order, with a system message and a data byte in the status position between them.
    const std::vector<SequencerEvent> events{
        {700, 0xB3, 64, 127, 0},    // frame 1400: controller, channel 3
        {600, 0xF8, 0, 0, 0},       // clock: skipped
        {600, 0x95, 60, 90, 0},     // frame 1200: note-on, channel 5
        {650, 0x40, 1, 2, 0},       // no status: skipped
        {650, 0xE0, 0x7F, 0x7F, 0}, // frame 1300: pitch wheel at its top
        {400, 0xC2, 0x85, 0, 0},    // frame 800, before the start: program change with its top bit cleared
    };
    ASSERT_EQ(S_OK, sendEvents(filter.sequencer, events));
    const std::vector<RawMidiMessage> input{
        {650, shortMessage(0x91, 61, 0)},                // frame 1300: note-on with velocity 0 = note-off
        {510, shortMessage(0xDF, 33, 99)},               // frame 1020: channel aftertouch, channel 15
        {620, shortMessage(0xA4, 62, 70)},               // frame 1240: key aftertouch
        {620, shortMessage(0xF0, 0x7E, 0x7F)},           // system exclusive start: skipped
        {900, shortMessage(0x82, 61, 64) | 0xAB000000u}, // frame 1800: note-off; top byte ignored
    };
    ASSERT_EQ(S_OK, sendInput(filter.sequencer, input));

    const auto queued = filter.queue().events();
    struct Expected {
        int64_t time;
        MidiEventType type;
        int channel, data1, data2, wheel;
    };
    const Expected expected[] = {
        {-200, MidiEventType::ProgramChange, 2, 5, 0, 0},
        {20, MidiEventType::ChannelAftertouch, 15, 33, 0, 0},
        {200, MidiEventType::NoteOn, 5, 60, 90, 0},
        {240, MidiEventType::KeyAftertouch, 4, 62, 70, 0},
        {300, MidiEventType::PitchWheel, 0, 0x7F, 0x7F, 8191},
        {300, MidiEventType::NoteOff, 1, 61, 0, 0}, // same time: after the earlier arrival
        {400, MidiEventType::Controller, 3, 64, 127, 0},
        {800, MidiEventType::NoteOff, 2, 61, 64, 0},
    };
    ASSERT_EQ(std::size(expected), queued.size());
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(expected[i].time, queued[i].sampleTime);
        EXPECT_EQ(expected[i].type, queued[i].type);
        EXPECT_EQ(expected[i].channel, queued[i].channel);
        EXPECT_EQ(expected[i].data1, queued[i].data1);
        EXPECT_EQ(expected[i].data2, queued[i].data2);
        EXPECT_EQ(expected[i].wheel, queued[i].pitchWheel);
    }
    // OnTimeChange moves the start: later events are placed against the new start.
    ASSERT_EQ(S_OK, filter.sequencer->OnTimeChange(500, 600)); // start 1200
    ASSERT_EQ(S_OK, sendEvents(filter.sequencer, {{700, 0xB0, 7, 100, 0}}));
    bool found = false;
    for (const MidiEvent& event : filter.queue().events())
        found =
            found || (event.type == MidiEventType::Controller && event.data1 == 7 && event.sampleTime == 200);
    EXPECT_TRUE(found);
}

TEST(SequencerMidi, TransportStartAndStopFlushTheQueueAndStartClearsTrackSettings) {
    SequencedFilter filter;
    ASSERT_EQ(S_OK, filter.rig.created);
    filter.rig.startStreaming(48000);
    ASSERT_EQ(S_OK, filter.connect());
    ASSERT_EQ(S_OK, filter.sequencer->OnStart(0));
    const std::vector<SequencerEvent> chord{
        {1, 0x90, 60, 100, 0}, {1, 0x90, 64, 100, 0}, {1, 0x90, 67, 100, 0}, {5000, 0x80, 60, 0, 0}};
    ASSERT_EQ(S_OK, sendEvents(filter.sequencer, chord));
    ASSERT_EQ(S_OK, filter.rig.receive(FakeSample::stereoRamp(64)));
    EXPECT_EQ(3u, filter.queue().trackedNotes().size());
    EXPECT_EQ(1u, filter.queue().size());

    ITrackState* track = nullptr;
    ASSERT_EQ(S_OK, filter.rig.filter->nonDelegatingUnknown()->QueryInterface(
                        kIidTrackState, reinterpret_cast<void**>(&track)));
    ASSERT_EQ(S_OK, track->SetTrackState(2, 77));

    ASSERT_EQ(S_OK, filter.sequencer->OnStop(100));
    EXPECT_EQ(0u, filter.queue().size());
    EXPECT_TRUE(filter.queue().trackedNotes().empty());
    // Stop keeps the track settings.
    EXPECT_EQ(77, filter.part().trackState(9, 2));

    // The stream is at frame 64 now: the second chord comes at frame 80.
    const std::vector<SequencerEvent> later{{40, 0x91, 60, 100, 0}, {40, 0x91, 64, 100, 0}};
    ASSERT_EQ(S_OK, sendEvents(filter.sequencer, later));
    ASSERT_EQ(S_OK, filter.rig.receive(FakeSample::stereoRamp(64)));
    EXPECT_EQ(2u, filter.queue().trackedNotes().size());
    // A start clears the settings with the queue.
    ASSERT_EQ(S_OK, filter.sequencer->OnStart(0));
    EXPECT_EQ(0u, filter.queue().size());
    EXPECT_TRUE(filter.queue().trackedNotes().empty());
    EXPECT_EQ(0, filter.part().trackState(9, 2));
    track->Release();
}

TEST(SequencerMidi, TrackStateAddressesTheTrackOrOneChannelThroughTheHighWord) {
    SequencedFilter filter;
    ASSERT_EQ(S_OK, filter.rig.created);
    ITrackState* track = nullptr;
    ASSERT_EQ(S_OK, filter.rig.filter->nonDelegatingUnknown()->QueryInterface(
                        kIidTrackState, reinterpret_cast<void**>(&track)));

    // A bare setting number sets it on every channel of the track.
    ASSERT_EQ(S_OK, track->SetTrackState(3, 7));
    for (int channel = 0; channel < 16; ++channel)
        EXPECT_EQ(7, filter.part().trackState(channel, 3)) << channel;
    // Channels 1..16 in the high word set one channel (status nibble channel - 1).
    ASSERT_EQ(S_OK, track->SetTrackState(ITrackState::channelSetting(16, 3), -9));
    ASSERT_EQ(S_OK, track->SetTrackState(ITrackState::channelSetting(1, 5), 1234567));
    EXPECT_EQ(-9, filter.part().trackState(15, 3));
    EXPECT_EQ(7, filter.part().trackState(14, 3));
    EXPECT_EQ(1234567, filter.part().trackState(0, 5));
    EXPECT_EQ(1234567, filter.part().trackState(5));
    EXPECT_EQ(0, filter.part().trackState(1, 5));

    // Out of range: refused, nothing stored.
    EXPECT_EQ(E_INVALIDARG, track->SetTrackState(6, 1));
    EXPECT_EQ(E_INVALIDARG, track->SetTrackState(ITrackState::channelSetting(3, 6), 1));
    EXPECT_EQ(E_INVALIDARG, track->SetTrackState(ITrackState::channelSetting(17, 0), 1));
    EXPECT_EQ(E_INVALIDARG, track->SetTrackState(0xFFFF0000u | 2u, 1));
    EXPECT_EQ(E_INVALIDARG, track->SetTrackState(0x0000FFFFu, 1));
    for (int channel = 0; channel < 16; ++channel) {
        EXPECT_EQ(0, filter.part().trackState(channel, 0)) << channel;
        EXPECT_EQ(0, filter.part().trackState(channel, 2)) << channel;
    }
    track->Release();
}

// -- the audio does not hear MIDI ------------------------------------------------------------------------

/// Streams three buffers of a sine through the module's own effect, connected to a sequencer
/// that started at frame 0, with or without MIDI; returns what the first output delivered.
std::vector<float> renderWithSequencer(bool withMidi) {
    SequencedFilter filter(nullptr);
    EXPECT_EQ(S_OK, filter.rig.created);
    filter.rig.startStreaming(48000);
    EXPECT_EQ(S_OK, filter.connect());
    EXPECT_EQ(S_OK, filter.sequencer->OnStart(0));
    if (withMidi) {
        std::vector<SequencerEvent> events;
        std::vector<RawMidiMessage> input;
        for (int i = 0; i < 600; ++i) {
            const LONGLONG time = i * 5;
            const BYTE channel = static_cast<BYTE>(i % 16);
            events.push_back(
                {time, static_cast<BYTE>(0x90 | channel), static_cast<BYTE>(36 + i % 60), 100, 0});
            events.push_back({time + 2, static_cast<BYTE>(0xB0 | channel), static_cast<BYTE>(i % 128),
                              static_cast<BYTE>(i % 128), 0});
            input.push_back({time + 1, shortMessage(0xE0 | channel, i % 128, (i * 7) % 128)});
            input.push_back({time + 3, shortMessage(0xC0 | channel, i % 128)});
            input.push_back({time + 4, shortMessage(0x80 | channel, 36 + i % 60, 64)});
        }
        EXPECT_EQ(S_OK, sendEvents(filter.sequencer, events));
        EXPECT_EQ(S_OK, sendInput(filter.sequencer, input));
        ITrackState* track = nullptr;
        filter.rig.filter->nonDelegatingUnknown()->QueryInterface(kIidTrackState,
                                                                  reinterpret_cast<void**>(&track));
        for (DWORD setting = 0; setting < ITrackState::kSettingCount; ++setting)
            EXPECT_EQ(S_OK, track->SetTrackState(setting, 127));
        track->Release();
    }
    std::vector<float> output;
    constexpr int kFrames = 2000;
    int64_t frame = 0;
    for (int block = 0; block < 3; ++block) {
        auto* input = new FakeSample(kFrames * 8);
        auto* data = reinterpret_cast<float*>(input->bytes().data());
        for (int i = 0; i < kFrames; ++i, ++frame) {
            const double phase = 2.0 * 3.14159265358979 * 440.0 * static_cast<double>(frame) / 48000.0;
            data[2 * i] = 0.4f * static_cast<float>(std::sin(phase));
            data[2 * i + 1] = 0.3f * static_cast<float>(std::cos(phase));
        }
        input->SetActualDataLength(kFrames * 8);
        EXPECT_EQ(S_OK, filter.rig.receive(input));
    }
    if (withMidi) {
        EXPECT_GT(filter.part().preparedEventCount(), 2000u); // the MIDI did pass through the queue
    }
    for (const Delivery& delivery : filter.rig.downstream[0].deliveries)
        output.insert(output.end(), delivery.samples.begin(), delivery.samples.end());
    return output;
}

TEST(SequencerMidi, MidiLeavesTheProcessedAudioUnchanged) {
    const std::vector<float> plain = renderWithSequencer(false);
    const std::vector<float> withMidi = renderWithSequencer(true);
    ASSERT_EQ(2u * 3 * 2000, plain.size());
    ASSERT_EQ(plain.size(), withMidi.size());
    double energy = 0.0;
    for (const float x : plain)
        energy += static_cast<double>(x) * x;
    EXPECT_GT(energy, 1.0) << "the effect produced sound";
    EXPECT_EQ(0, std::memcmp(plain.data(), withMidi.data(), plain.size() * sizeof(float)));
}


ISequencerIntegration* sequencerOf(FilterRig& rig) {
    ISequencerIntegration* sequencer = nullptr;
    rig.filter->nonDelegatingUnknown()->QueryInterface(kIidSequencerIntegration,
                                                       reinterpret_cast<void**>(&sequencer));
    return sequencer;
}

TEST(SequencerMidi, SequencerCallsBeforeConnectAreUnexpected) {
    FilterRig rig;
    ASSERT_EQ(S_OK, rig.created);
    ISequencerIntegration* sequencer = sequencerOf(rig);
    ASSERT_NE(nullptr, sequencer);
    SequencerEventList events{0, nullptr};
    RawMidiList messages{0, nullptr};
    EXPECT_EQ(E_UNEXPECTED, sequencer->OnStart(0));
    EXPECT_EQ(E_UNEXPECTED, sequencer->OnTimeChange(0, 10));
    EXPECT_EQ(E_UNEXPECTED, sequencer->OnStop(0));
    EXPECT_EQ(E_UNEXPECTED, sequencer->OnEvents(0, 0, &events));
    EXPECT_EQ(E_UNEXPECTED, sequencer->OnInput(0, &messages));
    EXPECT_EQ(E_POINTER, sequencer->OnInput(0, nullptr));
    EXPECT_EQ(E_POINTER, sequencer->Connect(nullptr));
    LONGLONG frames = 0;
    EXPECT_EQ(E_UNEXPECTED, rig.filter->hostTimeToSample(10, &frames));
    EXPECT_EQ(nullptr, rig.filter->hostTempoMap());
    EXPECT_EQ(S_OK, sequencer->Disconnect());
    sequencer->Release();
}

TEST(SequencerMidi, SequencerConnectTakesTheHostServicesAndConsumesTheContext) {
    FilterRig rig;
    ASSERT_EQ(S_OK, rig.created);
    ISequencerIntegration* sequencer = sequencerOf(rig);
    FakeSequencerHost host;

    // Without a time converter the connection fails and keeps nothing.
    host.offersConverter = false;
    host.AddRef(); // the reference Connect consumes
    EXPECT_EQ(E_NOINTERFACE, sequencer->Connect(host.context()));
    EXPECT_EQ(0, host.references);
    EXPECT_FALSE(rig.filter->sequencer().isConnected());

    host.offersConverter = true;
    host.AddRef();
    ASSERT_EQ(S_OK, sequencer->Connect(host.context()));
    // Tempo map, converter and pin-change sink kept; the context's reference released.
    EXPECT_EQ(3, host.references);
    EXPECT_EQ(static_cast<IHostTempoMap*>(&host), rig.filter->hostTempoMap());
    EXPECT_EQ(static_cast<IHostTimeConverter*>(&host), rig.filter->hostTimeConverter());
    EXPECT_EQ(E_UNEXPECTED, sequencer->Connect(host.context()));
    EXPECT_EQ(3, host.references);

    EXPECT_EQ(E_POINTER, sequencer->OnEvents(0, 0, nullptr));
    SequencerEventList events{0, nullptr};
    const HRESULT queued = sequencer->OnEvents(0, 0, &events);
    EXPECT_NE(E_UNEXPECTED, queued);
    EXPECT_NE(E_POINTER, queued);

    LONGLONG frames = 0;
    EXPECT_EQ(S_OK, rig.filter->hostTimeToSample(21, &frames));
    EXPECT_EQ(42, frames);
    LONGLONG hostTime = 0;
    EXPECT_EQ(S_OK, rig.filter->sampleToHostTime(42, &hostTime));
    EXPECT_EQ(21, hostTime);

    EXPECT_EQ(S_OK, sequencer->Disconnect());
    EXPECT_EQ(0, host.references);
    EXPECT_EQ(nullptr, rig.filter->hostTempoMap());
    sequencer->Release();
}

TEST(SequencerMidi, SequencerTransportSetsTheStreamPositionAndTempo) {
    FilterRig rig;
    ASSERT_EQ(S_OK, rig.created);
    ISequencerIntegration* sequencer = sequencerOf(rig);
    FakeSequencerHost host;
    host.tempo = 12345;
    host.AddRef();
    ASSERT_EQ(S_OK, sequencer->Connect(host.context()));

    ASSERT_EQ(S_OK, sequencer->OnStart(500));
    EXPECT_TRUE(rig.filter->sequencer().isRunning());
    EXPECT_EQ(1000, rig.filter->sequencer().startPosition());
    EXPECT_EQ(1000, rig.filter->adapter().samplePosition());
    ASSERT_EQ(S_OK, sequencer->OnTimeChange(500, 800));
    EXPECT_EQ(1600, rig.filter->sequencer().startPosition());

    rig.startStreaming(48000);
    gEffectLog.tempos.clear();
    ASSERT_EQ(S_OK, rig.receive(FakeSample::stereoRamp(48)));
    // Tempo asked at the adapter's position (frame 1000 = host time 500).
    ASSERT_FALSE(host.tempoQueries.empty());
    EXPECT_EQ(500, host.tempoQueries.back());
    ASSERT_EQ(1u, gEffectLog.tempos.size());
    EXPECT_DOUBLE_EQ(123.45, gEffectLog.tempos[0]);
    EXPECT_EQ(1048, rig.filter->adapter().samplePosition());

    ASSERT_EQ(S_OK, sequencer->OnStop(900));
    EXPECT_FALSE(rig.filter->sequencer().isRunning());
    sequencer->Disconnect();
    sequencer->Release();
}

TEST(SequencerMidi, PinChangesAreAnnouncedToTheSequencerHost) {
    FilterRig rig;
    ASSERT_EQ(S_OK, rig.created);
    ISequencerIntegration* sequencer = sequencerOf(rig);
    FakeSequencerHost host;
    host.AddRef();
    ASSERT_EQ(S_OK, sequencer->Connect(host.context()));

    LONG id = -1;
    ASSERT_EQ(S_OK, rig.filter->addOutputPin(L"Side", &id));
    EXPECT_EQ(L"Side", std::wstring(rig.filter->findOutputPin(id)->name()));
    ASSERT_EQ(S_OK, rig.filter->removeOutputPin(id));
    using Change = std::pair<DWORD, LONG>;
    EXPECT_EQ((std::vector<Change>{{1, 9}, {2, 9}, {1, 8}, {2, 8}}), host.pinChanges);

    // A host that objects to the change stops it.
    host.answerToChanging = E_ACCESSDENIED;
    EXPECT_EQ(E_ACCESSDENIED, rig.filter->addOutputPin(nullptr, &id));
    EXPECT_EQ(8, rig.filter->outputPinCount());
    sequencer->Disconnect();
    sequencer->Release();
}

} // namespace
} // namespace pellucer::dx
