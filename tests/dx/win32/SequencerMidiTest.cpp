// The filter's sequencer interfaces as a sequencer host drives them: connecting, transport and
// tempo, track settings, MIDI queued in time order and flushed by the transport, and the MIDI name
// provider and its lists, called through hand-written vtables in the order the host calls them.

#include <functional>

#include "core/AudioEffectX.h"
#include "dx/filter/EffectFilter.h"
#include "dx/midi/MidiNameInterfaces.h"
#include "tests/dx/win32/DxTestSupport.h"

namespace pellucer::dx::test {
namespace {

/// The context a host passes to Connect: tempo map, time converter (samples = 2 × host time), pin sink.
struct FakeSequencerHost final : IHostTempoMap, IHostTimeConverter, IPinChangeSink {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        *object = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, kIidHostTempoMap))
            *object = static_cast<IHostTempoMap*>(this);
        else if (IsEqualIID(iid, kIidHostTimeConverter) && offersConverter)
            *object = static_cast<IHostTimeConverter*>(this);
        else if (IsEqualIID(iid, kIidPinChangeSink))
            *object = static_cast<IPinChangeSink*>(this);
        return *object != nullptr ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
    HRESULT STDMETHODCALLTYPE GetTempoAt(LONGLONG hostTime, LONG* hundredthsBpm) override {
        tempoQueries.push_back(hostTime);
        return *hundredthsBpm = tempo, S_OK;
    }
    HRESULT STDMETHODCALLTYPE HostTimeToSamples(LONGLONG hostTime, LONGLONG* samples) override {
        return *samples = 2 * hostTime, S_OK;
    }
    HRESULT STDMETHODCALLTYPE SamplesToHostTime(LONGLONG samples, LONGLONG* hostTime) override {
        return *hostTime = samples / 2, S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnPinsChanged(DWORD, IBaseFilter*, LONG) override { return S_OK; }
    long references = 0;
    bool offersConverter = true;
    LONG tempo = 12000;
    std::vector<LONGLONG> tempoQueries;
};

/// A filter built from the linked objects (so that its queue can be read), streaming at 48 kHz on demand.
class SequencerMidi : public ::testing::Test {
protected:
    void SetUp() override {
        filter = new EffectFilter(nullptr, nullptr, &created);
        filter->nonDelegatingUnknown()->AddRef();
        self.Attach(filter->nonDelegatingUnknown());
        ASSERT_EQ(S_OK, created);
        ASSERT_EQ(S_OK, self->QueryInterface(kIidSequencerIntegration, &sequencer));
        ASSERT_EQ(S_OK, self->QueryInterface(kIidTrackState, &track));
    }
    HRESULT connect() { // hands over the reference Connect consumes
        host.AddRef();
        return sequencer->Connect(static_cast<IHostTempoMap*>(&host));
    }
    const MidiEventQueue& queue() const { return *filter->sequencer().midiQueue(); }
    LONG trackState(int channel, DWORD setting) const { return filter->sequencer().trackState(channel, setting); }
    HRESULT send(const std::vector<SequencerEvent>& events) {
        const SequencerEventList list{static_cast<DWORD>(events.size()), events.data()};
        return sequencer->OnEvents(0, 0, &list);
    }
    HRESULT input(const std::vector<RawMidiMessage>& messages) {
        const RawMidiList list{static_cast<DWORD>(messages.size()), messages.data()};
        return sequencer->OnInput(0, &list);
    }
    /// `frames` frames through the running graph (built on first use).
    void stream(uint32_t frames) {
        if (!chain.source) {
            ASSERT_EQ(S_OK, self->QueryInterface(IID_IBaseFilter, &chain.filter));
            ASSERT_NO_FATAL_FAILURE(chain.build(48000, 1));
            ASSERT_TRUE(SUCCEEDED(chain.graph.run()));
        }
        StreamPlan plan = StreamPlan::frames(testSignal(frames, 48000, frames), {frames});
        plan.endOfStream = false;
        ASSERT_EQ(S_OK, chain.source->deliver(plan));
    }

    ComApartment com_;
    FakeSequencerHost host; // outlives the filter, which lets go of it when it ends
    HRESULT created = S_OK; // the filter reports failures only
    EffectFilter* filter = nullptr;
    ComPtr<IUnknown> self;
    ComPtr<ISequencerIntegration> sequencer;
    ComPtr<ITrackState> track;
    EffectChain chain;
};

TEST_F(SequencerMidi, BeforeConnectCallsAreUnexpectedAndConnectTakesTheHostsServices) {
    const SequencerEventList noEvents{0, nullptr}, missingEvents{3, nullptr};
    EXPECT_EQ(E_UNEXPECTED, sequencer->OnStart(0));
    EXPECT_EQ(E_UNEXPECTED, sequencer->OnEvents(0, 0, &noEvents));
    EXPECT_EQ(E_POINTER, sequencer->Connect(nullptr));
    // Without a time converter the connection fails, keeps nothing and consumes the context.
    host.offersConverter = false;
    EXPECT_EQ(E_NOINTERFACE, connect());
    EXPECT_EQ(0, host.references);
    host.offersConverter = true;
    ASSERT_EQ(S_OK, connect());
    EXPECT_EQ(3, host.references) << "tempo map, converter and pin-change sink kept";
    EXPECT_EQ(E_UNEXPECTED, sequencer->Connect(static_cast<IHostTempoMap*>(&host))) << "connected already";
    EXPECT_EQ(3, host.references);
    // Null lists are refused, an empty one is fine.
    EXPECT_EQ(E_POINTER, sequencer->OnInput(0, nullptr));
    EXPECT_EQ(E_POINTER, sequencer->OnEvents(0, 0, &missingEvents));
    EXPECT_EQ(S_OK, sequencer->OnEvents(0, 0, &noEvents));
    // Disconnect lets go of everything and drops what was queued (its times are the host's).
    ASSERT_EQ(S_OK, send({{10, 0x90, 60, 100, 0}}));
    EXPECT_EQ(1u, queue().size());
    EXPECT_EQ(S_OK, sequencer->Disconnect());
    EXPECT_EQ(0, host.references);
    EXPECT_EQ(0u, queue().size());
    EXPECT_EQ(E_UNEXPECTED, input({{10, 0x643C90}}));
}

TEST_F(SequencerMidi, EventsAndInputAreQueuedInTimeOrderRelativeToTheStart) {
    ASSERT_EQ(S_OK, connect());
    ASSERT_EQ(S_OK, sequencer->OnStart(500)); // frame 1000
    // Out of order, with a system message and a data byte in the status position between them.
    ASSERT_EQ(S_OK, send({{700, 0xB3, 64, 127, 0},     // frame 1400: controller 64, channel 3
                          {600, 0xF8, 0, 0, 0},        // clock: skipped
                          {650, 0x40, 1, 2, 0},        // no status: skipped
                          {600, 0x95, 60, 90, 0},      // frame 1200: note-on, channel 5
                          {400, 0xC2, 5, 0, 0}}));     // frame 800, before the start: program 5
    // Packed messages: status in the low byte, then the data bytes; the top byte is unused.
    ASSERT_EQ(S_OK, input({{510, 0x0063'21DF},         // frame 1020: channel aftertouch 33, channel 15
                           {620, 0x007F'7EF0},         // system exclusive: skipped
                           {900, 0xAB40'3D82}}));      // frame 1800: note-off 61, velocity 64, channel 2
    const struct {
        int64_t time;
        MidiEventType type;
        int channel, data1, data2;
    } expected[] = {{-200, MidiEventType::ProgramChange, 2, 5, 0},
                    {20, MidiEventType::ChannelAftertouch, 15, 33, 0},
                    {200, MidiEventType::NoteOn, 5, 60, 90},
                    {400, MidiEventType::Controller, 3, 64, 127},
                    {800, MidiEventType::NoteOff, 2, 61, 64}};
    auto queued = queue().events();
    ASSERT_EQ(std::size(expected), queued.size());
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(expected[i].time, queued[i].sampleTime);
        EXPECT_EQ(expected[i].type, queued[i].type);
        EXPECT_EQ(expected[i].channel, queued[i].channel);
        EXPECT_EQ(expected[i].data1, queued[i].data1);
        EXPECT_EQ(expected[i].data2, queued[i].data2);
    }
    // OnTimeChange moves the start: later events are placed against the new start (frame 1200).
    ASSERT_EQ(S_OK, sequencer->OnTimeChange(500, 600));
    ASSERT_EQ(S_OK, send({{700, 0xB0, 7, 100, 0}}));
    queued = queue().events();
    EXPECT_TRUE(std::any_of(queued.begin(), queued.end(), [](const MidiEvent& e) {
        return e.type == MidiEventType::Controller && e.data1 == 7 && e.sampleTime == 200;
    }));
}

TEST_F(SequencerMidi, TransportFlushesTheQueueAndStartAlsoClearsTrackSettings) {
    ASSERT_EQ(S_OK, connect());
    ASSERT_EQ(S_OK, sequencer->OnStart(0));
    ASSERT_EQ(S_OK, send({{1, 0x90, 60, 100, 0}, {1, 0x90, 64, 100, 0}, {1, 0x90, 67, 100, 0},
                          {5000, 0x80, 60, 0, 0}}));
    ASSERT_NO_FATAL_FAILURE(stream(64));
    // The chord at frame 2 was played and is held; the note-off at frame 10,000 waits.
    EXPECT_EQ(3u, queue().trackedNotes().size());
    EXPECT_EQ(1u, queue().size());
    ASSERT_EQ(S_OK, track->SetTrackState(2, 77));
    ASSERT_EQ(S_OK, sequencer->OnStop(100));
    EXPECT_EQ(0u, queue().size());
    EXPECT_TRUE(queue().trackedNotes().empty());
    EXPECT_EQ(77, trackState(9, 2)) << "a stop keeps the track settings";
    // The stream is at frame 64 now: the second chord comes at frame 80.
    ASSERT_EQ(S_OK, send({{40, 0x91, 60, 100, 0}, {40, 0x91, 64, 100, 0}}));
    ASSERT_NO_FATAL_FAILURE(stream(64));
    EXPECT_EQ(2u, queue().trackedNotes().size());
    ASSERT_EQ(S_OK, sequencer->OnStart(0));
    EXPECT_EQ(0u, queue().size());
    EXPECT_TRUE(queue().trackedNotes().empty());
    EXPECT_EQ(0, trackState(9, 2));
}

TEST_F(SequencerMidi, TrackStateAddressesTheTrackOrOneChannelThroughTheHighWord) {
    // A bare setting number sets every channel of the track; channels 1..16 in the high word set
    // one (status nibble channel - 1). Out of range: refused, nothing stored.
    ASSERT_EQ(S_OK, track->SetTrackState(3, 7));
    ASSERT_EQ(S_OK, track->SetTrackState(ITrackState::channelSetting(16, 3), -9));
    ASSERT_EQ(S_OK, track->SetTrackState(ITrackState::channelSetting(1, 5), 1234567));
    for (DWORD setting : {6ul, ITrackState::channelSetting(3, 6), ITrackState::channelSetting(17, 0), 0xFFFF0002ul})
        EXPECT_EQ(E_INVALIDARG, track->SetTrackState(setting, 1)) << std::hex << setting;
    for (int channel = 0; channel < 16; ++channel) {
        EXPECT_EQ(channel == 15 ? -9 : 7, trackState(channel, 3)) << channel;
        EXPECT_EQ(channel == 0 ? 1234567 : 0, trackState(channel, 5) + trackState(channel, 0)) << channel;
    }
}

TEST_F(SequencerMidi, TransportPlacesTheStreamAndTheEffectSeesTheHostsTempo) {
    ASSERT_EQ(S_OK, connect());
    ASSERT_EQ(S_OK, sequencer->OnStart(24000)); // frame 48,000: one second at 48 kHz
    ASSERT_NO_FATAL_FAILURE(stream(48));
    // What the effect reads of its host: the tempo asked at the stream position, and the position
    // in beats (one second at 120 BPM is two beats).
    auto* effect = static_cast<AudioEffectX*>(AudioEffect::fromRecord(chain.effect));
    ASSERT_NE(nullptr, effect);
    ASSERT_FALSE(host.tempoQueries.empty());
    EXPECT_EQ(24000, host.tempoQueries.back());
    EXPECT_DOUBLE_EQ(120.0, effect->getTimeInfo(0)->tempo);
    EXPECT_DOUBLE_EQ(2.0, effect->getTimeInfo(0)->ppqPos);
    host.tempo = 9050;
    ASSERT_NO_FATAL_FAILURE(stream(480));
    EXPECT_EQ(24024, host.tempoQueries.back());
    EXPECT_DOUBLE_EQ(90.5, effect->getTimeInfo(0)->tempo);
    EXPECT_DOUBLE_EQ(48048.0 / 48000.0 * 90.5 / 60.0, effect->getTimeInfo(0)->ppqPos);
}

// ---- MIDI names: the provider's and the lists' vtables, every slot named by position ---------------------

template <class Slots> const Slots& slotsOf(void* object) { return **static_cast<Slots**>(object); }
struct ProviderSlots {
    void* unknown[3];
    HRESULT(STDMETHODCALLTYPE* getName)(void*, char*, LONG);
    HRESULT(STDMETHODCALLTYPE* onPatchSelected)(void*, LONG, LONG);
    HRESULT(STDMETHODCALLTYPE* hasPatchNoteNames)(void*, LONG, LONG);
    HRESULT(STDMETHODCALLTYPE* isPatchValid)(void*, LONG, LONG);
    HRESULT(STDMETHODCALLTYPE* getPatchNames)(void*, LONG, void**);
    HRESULT(STDMETHODCALLTYPE* getNoteNames)(void*, LONG, LONG, void**);
    HRESULT(STDMETHODCALLTYPE* getControllerNames)(void*, void**);
    HRESULT(STDMETHODCALLTYPE* getRpnNames)(void*, void**);
    HRESULT(STDMETHODCALLTYPE* getNrpnNames)(void*, void**);
};
struct ListSlots {
    void* unknown[3];
    HRESULT(STDMETHODCALLTYPE* getTitle)(void*, char*, LONG);
    HRESULT(STDMETHODCALLTYPE* getCount)(void*, LONG*);
    HRESULT(STDMETHODCALLTYPE* getNameAt)(void*, LONG, char*, LONG);
    HRESULT(STDMETHODCALLTYPE* reserved)(void*);
    HRESULT(STDMETHODCALLTYPE* getFirstPosition)(void*, void**);
    HRESULT(STDMETHODCALLTYPE* getNextName)(void*, void*, LONG*, char*, LONG);
    HRESULT(STDMETHODCALLTYPE* findName)(void*, LONG, char*, LONG);
};

/// What a call wrote into a buffer of 'x' ("S_FALSE:" first for S_FALSE), or its failure code.
std::string answer(const std::function<HRESULT(char*)>& call) {
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    const HRESULT hr = call(buffer);
    const std::string text(buffer, strnlen(buffer, sizeof buffer));
    if (hr == S_OK || hr == S_FALSE)
        return (hr == S_FALSE ? "S_FALSE:" : "") + text;
    return "failed " + std::to_string(hr & 0xFFFF) + (text == std::string(64, 'x') ? "" : " and wrote");
}
const std::string kInvalidArg = "failed 87", kNoPointer = "failed 16387"; // E_INVALIDARG, E_POINTER

TEST_F(SequencerMidi, NameListsAnswerThroughTheSlotsTheHostCalls) {
    ComPtr<IUnknown> unknown, provider, controllers, alias, rpns, notes[4];
    ASSERT_EQ(S_OK, sequencer->GetNameProvider(&unknown));
    ASSERT_EQ(S_OK, unknown->QueryInterface(kIidMidiNameProvider, &provider));
    void* face = provider.Get();
    const ProviderSlots& p = slotsOf<ProviderSlots>(face);
    EXPECT_EQ("Pellucer", answer([&](char* b) { return p.getName(face, b, 9); }));
    EXPECT_EQ(kNoPointer, answer([&](char* b) { return p.getName(face, b, 8); })) << "no room for all of it";
    // The filter hands out the provider's lists, under the alias identifier as well.
    ASSERT_EQ(S_OK, p.getControllerNames(face, &controllers));
    ASSERT_EQ(S_OK, sequencer->GetControllerNames(&unknown));
    EXPECT_TRUE(unknown->QueryInterface(kIidMidiNameListAlias, &alias) == S_OK && alias.Get() == controllers.Get());
    ASSERT_EQ(S_OK, p.getRpnNames(face, &rpns));
    const LONG keys[4][2] = {{0, 0}, {0, 1}, {1, 0}, {0, 0x10000}}; // bank and the low word of the patch
    for (int k = 0; k < 4; ++k)
        ASSERT_EQ(S_FALSE, p.getNoteNames(face, keys[k][0], keys[k][1], &notes[k]));
    EXPECT_TRUE(notes[0].Get() == notes[3].Get() && notes[0].Get() != notes[1].Get() &&
                notes[0].Get() != notes[2].Get() && notes[1].Get() != notes[2].Get());

    // Titles and names truncated to the buffer; common controllers named, the rest from 3 numbered.
    const struct {
        void* list;
        LONG index, size; // index -2: the title
        std::string expected;
    } texts[] = {{controllers.Get(), -2, 64, "Pellucer Controllers"}, {controllers.Get(), -2, 5, "Pell"},
                 {rpns.Get(), -2, 64, "Pellucer RPNs"},              {notes[0].Get(), -2, 64, "Pellucer Notes"},
                 {controllers.Get(), 1, 64, "Modulation Wheel"},     {controllers.Get(), 73, 64, "Volume Attack"},
                 {controllers.Get(), 64, 5, "Sust"},                 {controllers.Get(), 64, 1, ""},
                 {controllers.Get(), 3, 64, "3"},                    {controllers.Get(), 127, 64, "127"},
                 {controllers.Get(), 0, 64, ""},                     {controllers.Get(), 128, 64, kInvalidArg},
                 {controllers.Get(), -1, 64, kInvalidArg},           {controllers.Get(), 5, 0, kNoPointer},
                 {rpns.Get(), 16382, 64, ""},                        {rpns.Get(), 16383, 64, kInvalidArg}};
    for (const auto& t : texts) {
        const ListSlots& l = slotsOf<ListSlots>(t.list);
        EXPECT_EQ(t.expected, answer([&](char* b) {
                      return t.index == -2 ? l.getTitle(t.list, b, t.size) : l.getNameAt(t.list, t.index, b, t.size);
                  })) << t.expected;
    }
    for (const auto& [counted, expected] :
         {std::pair{controllers.Get(), 128L}, std::pair{rpns.Get(), 16383L}, std::pair{notes[0].Get(), 128L}}) {
        LONG count = -1;
        EXPECT_EQ(S_OK, slotsOf<ListSlots>(counted).getCount(counted, &count));
        EXPECT_EQ(expected, count);
    }
    void* list = controllers.Get();
    const ListSlots& l = slotsOf<ListSlots>(list);
    EXPECT_EQ(E_POINTER, l.getNameAt(list, 500, nullptr, 16)) << "the buffer is checked first";
    EXPECT_EQ("S_FALSE:", answer([&](char* b) { return l.findName(list, 500, b, 64); })) << "no range check";
    EXPECT_EQ("Volume", answer([&](char* b) { return l.findName(list, 73, b, 7); }));
    // Enumeration visits the named entries in order and stays at the end; GetFirstPosition restarts.
    for (void* enumerated : {list, list, static_cast<void*>(rpns.Get())}) {
        void* position = nullptr;
        LONG index = 0, visited = 0;
        char buffer[64];
        const ListSlots& e = slotsOf<ListSlots>(enumerated);
        ASSERT_EQ(S_OK, e.getFirstPosition(enumerated, &position));
        while (visited < 200 && e.getNextName(enumerated, position, &index, buffer, 64) == S_OK)
            EXPECT_EQ(++visited, index);
        EXPECT_EQ(enumerated == list ? 127 : 0, visited);
        EXPECT_EQ(S_FALSE, e.getNextName(enumerated, position, &index, buffer, 64));
    }

    // Bank and patch ranges, through the provider and the sequencer's three forwarding slots in order.
    const struct {
        LONG bank, patch;
        bool valid;
    } cases[] = {{-1, -1, true},   {0, 0, true},    {16383, 127, true}, {16384, 0, false},
                 {-2, 0, false},   {0, 128, false}, {0, -2, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bank << "/" << c.patch);
        EXPECT_EQ(S_OK, p.onPatchSelected(face, c.bank, c.patch));
        EXPECT_EQ(c.valid ? S_FALSE : E_INVALIDARG, p.hasPatchNoteNames(face, c.bank, c.patch));
        EXPECT_EQ(c.valid ? S_OK : E_INVALIDARG, p.isPatchValid(face, c.bank, c.patch));
        EXPECT_EQ(S_OK, sequencer->OnBankPatchSelected(c.bank, c.patch));
        EXPECT_EQ(c.valid ? S_FALSE : E_INVALIDARG, sequencer->IsBankPatchValid(c.bank, c.patch));
        EXPECT_EQ(c.valid ? S_OK : E_INVALIDARG, sequencer->OnBankPatchChanged(c.bank, c.patch));
    }
    void* none = nullptr;
    EXPECT_EQ(E_FAIL, p.getPatchNames(face, 0, &none));
    EXPECT_EQ(E_INVALIDARG, p.getPatchNames(face, 8, nullptr)) << "the bank is checked first";
    EXPECT_EQ(E_INVALIDARG, p.getNoteNames(face, 16384, 0, &none));
    EXPECT_EQ(E_POINTER, sequencer->GetNameProvider(nullptr));
    EXPECT_EQ(E_NOINTERFACE, provider->QueryInterface(kIidMidiNameList, &none));
    EXPECT_EQ(nullptr, none);

    // The filter ends; the host's references keep the provider and its lists.
    sequencer.Reset();
    track.Reset();
    self.Reset();
    EXPECT_EQ("Pellucer", answer([&](char* b) { return p.getName(face, b, 9); }));
    EXPECT_EQ("Sustain Switch", answer([&](char* b) { return l.getNameAt(list, 64, b, 64); }));
}

} // namespace
} // namespace pellucer::dx::test
