// MIDI through the effect filter's sequencer integration, as a sequencer host drives it: the name
// lists the filter's provider hands out, events and raw input queued in time order relative to the
// sequencer's start, made current before and retired after the piece of a buffer that passes them,
// flushed by the transport, bounded under a flood and harmless to the audio.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "dx/EffectFilter.h"
#include "dx/Identifiers.h"
#include "dx/MidiNameInterfaces.h"
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

/// A stereo buffer that starts the stream at `frame` of a `rate` stream (a discontinuity with
/// that start time).
FakeSample* bufferAt(int frames, int64_t frame, int64_t rate) {
    FakeSample* sample = FakeSample::stereoRamp(frames);
    REFERENCE_TIME start = frame * 10000000 / rate;
    sample->SetTime(&start, nullptr);
    sample->SetDiscontinuity(TRUE);
    return sample;
}

void expectQueueSane(const MidiEventQueue& queue) {
    ASSERT_LE(queue.size(), queue.capacity());
    const auto events = queue.events();
    for (size_t i = 0; i < events.size(); ++i) {
        EXPECT_LT(events[i].channel, 16);
        EXPECT_LT(events[i].data1, 128);
        EXPECT_LT(events[i].data2, 128);
        EXPECT_LE(events[i].type, MidiEventType::PitchWheel);
        if (i > 0) {
            ASSERT_LE(events[i - 1].sampleTime, events[i].sampleTime) << i;
        }
    }
    EXPECT_LE(queue.trackedNotes().size(), MidiEventQueue::kMaxTrackedNotes);
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

/// A host whose time converter fails for host times at or above `failFrom` (samples = host time).
struct UnreliableHost final : IHostTempoMap, IHostTimeConverter {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        *object = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, kIidHostTempoMap))
            *object = static_cast<IHostTempoMap*>(this);
        else if (IsEqualIID(iid, kIidHostTimeConverter))
            *object = static_cast<IHostTimeConverter*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
    HRESULT STDMETHODCALLTYPE GetTempoAt(LONGLONG, LONG* tempo) override {
        *tempo = 12000;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE HostTimeToSamples(LONGLONG hostTime, LONGLONG* samples) override {
        ++conversions;
        *samples = hostTime;
        return hostTime >= failFrom ? E_ABORT : S_OK;
    }
    HRESULT STDMETHODCALLTYPE SamplesToHostTime(LONGLONG samples, LONGLONG* hostTime) override {
        *hostTime = samples;
        return S_OK;
    }
    long references = 0;
    int conversions = 0;
    LONGLONG failFrom = 1000;
};

TEST(SequencerMidi, AFailingTimeConverterEndsTheListAndKeepsWhatCameBefore) {
    UnreliableHost host; // outlives the filter that holds it
    SequencedFilter filter;
    ASSERT_EQ(S_OK, filter.rig.created);
    host.AddRef();
    ASSERT_EQ(S_OK, filter.sequencer->Connect(static_cast<IHostTempoMap*>(&host)));
    const std::vector<RawMidiMessage> input{{10, shortMessage(0x90, 60, 1)},
                                            {20, shortMessage(0xF8, 0, 0)}, // skipped, never converted
                                            {2000, shortMessage(0x90, 61, 1)},
                                            {30, shortMessage(0x90, 62, 1)}};
    EXPECT_EQ(E_ABORT, sendInput(filter.sequencer, input));
    EXPECT_EQ(2, host.conversions);
    ASSERT_EQ(1u, filter.queue().size());
    EXPECT_EQ(60, filter.queue().events()[0].data1);
    EXPECT_EQ(E_ABORT, sendEvents(filter.sequencer, {{5000, 0xB0, 1, 1, 0}}));
    EXPECT_EQ(1u, filter.queue().size());
    ASSERT_EQ(S_OK, filter.sequencer->Disconnect());
    EXPECT_EQ(0, host.references);
}

// -- the queue on the streaming thread ---------------------------------------------------------------

/// What the queue looked like while the effect processed one piece.
struct PieceView {
    int frames;
    size_t queued;
    size_t notes;
    uint64_t prepared;
    int64_t firstQueued; // time of the earliest queued event, or -1
};
std::vector<PieceView> gPieces;
const SequencerIntegration* gWatched = nullptr;

/// Passes its input through and looks at the watched filter's queue at every processing call.
class QueueWatchingEffect final : public pellucer::AudioEffect {
public:
    explicit QueueWatchingEffect(vst::audioMasterCallback host) : AudioEffect(host, 1, 39) {
        setNumInputs(2);
        setNumOutputs(2);
        canProcessReplacing(true);
    }
    void processReplacing(float** inputs, float** outputs, int32_t frames) override {
        if (gWatched != nullptr) {
            const MidiEventQueue& queue = *gWatched->midiQueue();
            gPieces.push_back({frames, queue.size(), queue.trackedNotes().size(),
                               gWatched->preparedEventCount(),
                               queue.size() > 0 ? queue.events()[0].sampleTime : -1});
        }
        for (int32_t i = 0; i < frames; ++i) {
            outputs[0][i] = inputs[0][i];
            outputs[1][i] = inputs[1][i];
        }
    }
    void processDoubleReplacing(double**, double**, int32_t) override {}
};

vst::AEffect* watchingEntry(vst::audioMasterCallback host) {
    if (host == nullptr)
        return nullptr;
    return (new QueueWatchingEffect(host))->getAeffect();
}

/// Splits every buffer at fixed stream positions, changing no parameter.
struct SplittingAutomation final : AutomationSource {
    bool anyAutomated() override { return true; }
    void changeTimes(int64_t from, int64_t to, std::vector<int64_t>& out) override {
        out.clear();
        for (const int64_t t : splits)
            if (t >= from && t < to)
                out.push_back(t);
    }
    void changedParameters(int64_t, std::vector<int32_t>& indices) override { indices.clear(); }
    float effectiveValue(int32_t) override { return 0.0f; }
    void setSampleRate(int32_t) override {}
    std::vector<int64_t> splits;
};

TEST(SequencerMidi, EachPiecePreparesItsEventsAndRetiresThemAfterwards) {
    SplittingAutomation automation; // outlives the filter that asks it
    SequencedFilter filter(&watchingEntry);
    ASSERT_EQ(S_OK, filter.rig.created);
    automation.splits = {1100}; // the first buffer [1000, 1200) runs as two pieces
    filter.rig.filter->setAutomationSource(&automation);
    filter.rig.startStreaming(40000);
    ASSERT_EQ(S_OK, filter.connect());
    ASSERT_EQ(S_OK, filter.sequencer->OnStart(500)); // frame 1000 is time 0 of the queue

    ASSERT_EQ(S_OK, sendInput(filter.sequencer, {
                                                    {505, shortMessage(0x90, 60, 100)}, // 10: note-on
                                                    {540, shortMessage(0xB0, 1, 20)},   // 80
                                                    {575, shortMessage(0xB0, 1, 30)},   // 150
                                                    {625, shortMessage(0x80, 60, 0)},   // 250: note-off
                                                    {1000, shortMessage(0xB0, 1, 40)},  // 1000
                                                }));
    gWatched = &filter.part();
    gPieces.clear();
    // Stream frame 1000 = 25 ms at 40 kHz: the stream and the queue's time 0 meet.
    ASSERT_EQ(S_OK, filter.rig.receive(bufferAt(200, 1000, 40000)));
    ASSERT_EQ(2u, gPieces.size());
    // Piece [0, 100): its two events made current and still queued while it is processed.
    EXPECT_EQ(100, gPieces[0].frames);
    EXPECT_EQ(5u, gPieces[0].queued);
    EXPECT_EQ(2u, gPieces[0].prepared);
    EXPECT_EQ(1u, gPieces[0].notes);
    // Piece [100, 200): the first piece's events are retired; the note sounds on.
    EXPECT_EQ(3u, gPieces[1].queued);
    EXPECT_EQ(150, gPieces[1].firstQueued);
    EXPECT_EQ(3u, gPieces[1].prepared);
    EXPECT_EQ(1u, gPieces[1].notes);
    EXPECT_EQ(2u, filter.queue().size());
    ASSERT_EQ(1u, filter.queue().trackedNotes().size());
    EXPECT_EQ(TrackedNote::kSounding, filter.queue().trackedNotes()[0].endTime);

    // [200, 300): the note-off ends the note, which goes with the piece.
    ASSERT_EQ(S_OK, filter.rig.receive(FakeSample::stereoRamp(100)));
    EXPECT_EQ(4u, filter.part().preparedEventCount());
    EXPECT_EQ(1u, filter.queue().size());
    EXPECT_EQ(1000, filter.queue().events()[0].sampleTime);
    EXPECT_TRUE(filter.queue().trackedNotes().empty());

    // An event that comes in after its time has passed is never handed out, only retired.
    ASSERT_EQ(S_OK, sendInput(filter.sequencer, {{600, shortMessage(0xB0, 2, 2)}})); // 200
    EXPECT_EQ(2u, filter.queue().size());
    ASSERT_EQ(S_OK, filter.rig.receive(FakeSample::stereoRamp(100)));
    EXPECT_EQ(4u, filter.part().preparedEventCount());
    EXPECT_EQ(1u, filter.queue().size());

    gWatched = nullptr;
    filter.rig.filter->setAutomationSource(nullptr);
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

TEST(SequencerMidi, AFloodingHostFillsTheQueueToItsCapacityAndNoFurther) {
    SequencedFilter filter;
    ASSERT_EQ(S_OK, filter.rig.created);
    filter.rig.startStreaming(48000);
    ASSERT_EQ(S_OK, filter.connect());
    ASSERT_EQ(S_OK, filter.sequencer->OnStart(0));
    const size_t capacity = filter.queue().capacity();
    ASSERT_EQ(MidiEventQueue::kDefaultCapacity, capacity);

    // Controller data for the first 1000 frames, far more than the queue holds.
    std::vector<SequencerEvent> flood;
    for (int i = 0; i < 3 * static_cast<int>(capacity); ++i)
        flood.push_back({i % 500, static_cast<BYTE>(0xB0 | (i % 16)), 1, static_cast<BYTE>(i % 128), 0});
    EXPECT_EQ(S_FALSE, sendEvents(filter.sequencer, flood));
    EXPECT_EQ(capacity, filter.queue().size());
    EXPECT_EQ(2 * capacity, filter.queue().droppedCount());
    // The events kept are the first arrivals.
    EXPECT_EQ(0, filter.queue().events()[0].sampleTime);
    EXPECT_EQ(0, filter.queue().events()[0].data2);
    EXPECT_EQ(S_FALSE, sendInput(filter.sequencer, {{2, shortMessage(0x90, 1, 1)}}));
    // Skipped messages are no loss: a full queue still answers S_OK for them.
    EXPECT_EQ(S_OK, sendInput(filter.sequencer, {{2, shortMessage(0xFE, 0, 0)}}));
    expectQueueSane(filter.queue());

    // Once the stream has passed them there is room again.
    ASSERT_EQ(S_OK, filter.rig.receive(FakeSample::stereoRamp(1000)));
    EXPECT_EQ(0u, filter.queue().size());
    EXPECT_EQ(S_OK, sendInput(filter.sequencer, {{600, shortMessage(0x90, 1, 1)}}));
    EXPECT_EQ(1u, filter.queue().size());
}

TEST(SequencerMidi, GarbageListsNeverBreakTheQueue) {
    SequencedFilter filter;
    ASSERT_EQ(S_OK, filter.rig.created);
    filter.rig.startStreaming(48000);
    ASSERT_EQ(S_OK, filter.connect());
    ASSERT_EQ(S_OK, filter.sequencer->OnStart(0));
    std::mt19937_64 random(20261206);
    auto below = [&](uint64_t n) { return static_cast<int64_t>(random() % n); };

    size_t received = 0;
    for (int round = 0; round < 120; ++round) {
        // Times mostly around the stream, sometimes anywhere the host's converter can take.
        auto anyTime = [&]() -> LONGLONG {
            if (below(8) == 0)
                return static_cast<LONGLONG>(random() >> 3) - (LONGLONG{1} << 60);
            return static_cast<LONGLONG>(received / 2) + below(4000) - 1000;
        };
        const size_t count = static_cast<size_t>(below(below(10) == 0 ? 6000 : 200));
        size_t channelMessages = 0;
        if (round % 2 == 0) {
            std::vector<SequencerEvent> events(count);
            for (SequencerEvent& event : events) {
                event = {anyTime(), static_cast<BYTE>(random()), static_cast<BYTE>(random()),
                         static_cast<BYTE>(random()), static_cast<BYTE>(random())};
                channelMessages += event.status >= 0x80 && event.status < 0xF0 ? 1 : 0;
            }
            const size_t before = filter.queue().size();
            const uint64_t droppedBefore = filter.queue().droppedCount();
            const HRESULT result = sendEvents(filter.sequencer, events);
            ASSERT_TRUE(result == S_OK || result == S_FALSE) << result;
            const uint64_t dropped = filter.queue().droppedCount() - droppedBefore;
            EXPECT_EQ(before + channelMessages - dropped, filter.queue().size());
            EXPECT_EQ(dropped > 0, result == S_FALSE);
        } else {
            std::vector<RawMidiMessage> messages(count);
            for (RawMidiMessage& message : messages) {
                message = {anyTime(), static_cast<DWORD>(random())};
                const DWORD status = message.message & 0xFF;
                channelMessages += status >= 0x80 && status < 0xF0 ? 1 : 0;
            }
            const size_t before = filter.queue().size();
            const uint64_t droppedBefore = filter.queue().droppedCount();
            const HRESULT result = sendInput(filter.sequencer, messages);
            ASSERT_TRUE(result == S_OK || result == S_FALSE) << result;
            const uint64_t dropped = filter.queue().droppedCount() - droppedBefore;
            EXPECT_EQ(before + channelMessages - dropped, filter.queue().size());
        }
        expectQueueSane(filter.queue());
        ASSERT_FALSE(HasFatalFailure());

        // Stream a piece now and then, and sometimes move or restart the transport.
        if (below(3) == 0) {
            const int frames = 1 + static_cast<int>(below(2000));
            ASSERT_EQ(S_OK, filter.rig.receive(FakeSample::stereoRamp(frames)));
            received += static_cast<size_t>(frames);
            // Everything before the stream's position (relative to the start) is gone.
            const int64_t passed = static_cast<int64_t>(received) - filter.part().startPosition();
            for (const MidiEvent& event : filter.queue().events())
                ASSERT_GE(event.sampleTime, passed);
        }
        if (below(25) == 0) {
            ASSERT_EQ(S_OK, filter.sequencer->OnTimeChange(0, below(100)));
        }
        if (below(40) == 0) {
            ASSERT_EQ(S_OK, filter.sequencer->OnStop(0));
            ASSERT_EQ(0u, filter.queue().size());
            ASSERT_EQ(S_OK, filter.sequencer->OnStart(static_cast<LONGLONG>(received / 2)));
        }
    }
    // The flood rounds reached the bound at least once.
    EXPECT_GT(filter.queue().droppedCount(), 0u);
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

} // namespace
} // namespace pellucer::dx
