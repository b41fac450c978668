// The effect filter built directly (not through the module's class factory): its interfaces, pins,
// media-type rules, connections and states, Receive with its splitting and bad buffers, and the
// sequencer integration part, with stand-in neighbours instead of a filter graph.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "dx/EffectFilter.h"
#include "dx/Identifiers.h"
#include "tests/dx/win32/EffectTestSupport.h"

namespace pellucer::dx {
namespace {

using namespace effecttest;

std::wstring pinName(IPin* pin) {
    PIN_INFO info{};
    if (FAILED(pin->QueryPinInfo(&info)))
        return L"?";
    if (info.pFilter != nullptr)
        info.pFilter->Release();
    return info.achName;
}

std::vector<float> interleavedInput(FakeSample* sample, int frames) {
    const auto* data = reinterpret_cast<const float*>(sample->bytes().data());
    return std::vector<float>(data, data + 2 * frames);
}

// -- identity and interfaces ---------------------------------------------------------------------

TEST(EffectFilter, AnswersItsInterfacesWithOneIdentity) {
    FilterRig rig(nullptr); // the module's own effect
    ASSERT_EQ(S_OK, rig.created);
    IUnknown* unknown = rig.filter->nonDelegatingUnknown();

    auto query = [&](REFIID iid) {
        void* object = nullptr;
        const HRESULT result = unknown->QueryInterface(iid, &object);
        if (SUCCEEDED(result))
            static_cast<IUnknown*>(object)->Release();
        return SUCCEEDED(result) ? object : nullptr;
    };
    EXPECT_NE(nullptr, query(IID_IBaseFilter));
    EXPECT_NE(nullptr, query(IID_IMediaFilter));
    EXPECT_NE(nullptr, query(IID_IPersist));
    EXPECT_NE(nullptr, query(IID_IAMovieSetup));
    EXPECT_EQ(query(IID_IDispatch), query(kIidEffectAccess));
    EXPECT_EQ(query(kIidSequencerIntegration), query(kIidSequencerIntegrationAlias));
    EXPECT_NE(nullptr, query(kIidSequencerIntegration));
    EXPECT_NE(nullptr, query(kIidTrackState));
    EXPECT_NE(nullptr, query(kIidHostCallbackHolder));
    EXPECT_NE(nullptr, query(IID_IPersistStream));
    EXPECT_EQ(nullptr, query(IID_IMediaSeeking));  // the output pins seek, not the filter
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, unknown->QueryInterface(IID_IMemInputPin, &none));
    EXPECT_EQ(nullptr, none);
    EXPECT_EQ(E_POINTER, unknown->QueryInterface(IID_IBaseFilter, nullptr));

    // Every interface answers IUnknown with the same object.
    auto* track = static_cast<ITrackState*>(query(kIidTrackState));
    IUnknown* viaTrack = nullptr;
    ASSERT_EQ(S_OK, track->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaTrack)));
    EXPECT_EQ(unknown, viaTrack);
    viaTrack->Release();

    CLSID clsid{};
    EXPECT_EQ(S_OK, rig.filter->GetClassID(&clsid));
    EXPECT_TRUE(IsEqualCLSID(kClsidEffectFilter, clsid));
    EXPECT_EQ(E_POINTER, rig.filter->GetClassID(nullptr));
}

TEST(EffectFilter, EffectAccessHandsOutTheRecordAndNoDispatch) {
    FilterRig rig(nullptr);
    ASSERT_EQ(S_OK, rig.created);
    IEffectAccess* access = nullptr;
    ASSERT_EQ(S_OK, rig.filter->nonDelegatingUnknown()->QueryInterface(kIidEffectAccess,
                                                                       reinterpret_cast<void**>(&access)));
    vst::AEffect* effect = nullptr;
    EXPECT_EQ(S_OK, access->GetEffect(&effect));
    ASSERT_NE(nullptr, effect);
    EXPECT_EQ(vst::kEffectMagic, effect->magic);
    EXPECT_EQ(vst::fourCharCode('T', 'L', 'p', 'l'), effect->uniqueID);
    EXPECT_EQ(E_POINTER, access->GetEffect(nullptr));
    UINT count = 7;
    EXPECT_EQ(E_NOTIMPL, access->GetTypeInfoCount(&count));
    EXPECT_EQ(E_NOTIMPL, access->GetTypeInfo(0, 0, nullptr));
    EXPECT_EQ(E_NOTIMPL, access->GetIDsOfNames(IID_NULL, nullptr, 0, 0, nullptr));
    EXPECT_EQ(E_NOTIMPL, access->Invoke(0, IID_NULL, 0, 0, nullptr, nullptr, nullptr, nullptr));
    access->Release();
}

TEST(EffectFilter, PropertyPagesAreExactlyTheFiltersPage) {
    FilterRig rig;
    ASSERT_EQ(S_OK, rig.created);
    CAUUID pages{};
    ASSERT_EQ(S_OK, rig.filter->GetPages(&pages));
    ASSERT_EQ(1u, pages.cElems);
    EXPECT_TRUE(IsEqualGUID(kClsidPropertyPage, pages.pElems[0]));
    CoTaskMemFree(pages.pElems);
    EXPECT_EQ(E_POINTER, rig.filter->GetPages(nullptr));
}

// An outer object that aggregates the filter.
struct Outer final : IUnknown {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (IsEqualIID(iid, IID_IUnknown)) {
            *object = this;
            AddRef();
            return S_OK;
        }
        return inner->QueryInterface(iid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
    long references = 1;
    IUnknown* inner = nullptr;
};

TEST(EffectFilter, AggregatedItsInterfacesCountOnTheOuterObject) {
    Outer outer;
    HRESULT result = E_FAIL;
    outer.inner = createEffectFilter(&outer, &result);
    ASSERT_EQ(S_OK, result);
    ASSERT_NE(nullptr, outer.inner);
    outer.inner->AddRef();

    IBaseFilter* filter = nullptr;
    ASSERT_EQ(S_OK, outer.inner->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter)));
    EXPECT_EQ(2, outer.references);
    IUnknown* identity = nullptr;
    ASSERT_EQ(S_OK, filter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)));
    EXPECT_EQ(&outer, identity);
    identity->Release();
    // A pin's reference is a reference on the filter, so on the outer object too.
    IPin* pin = nullptr;
    ASSERT_EQ(S_OK, filter->FindPin(L"Input", &pin));
    EXPECT_EQ(3, outer.references);
    pin->Release();
    filter->Release();
    EXPECT_EQ(1, outer.references);
    EXPECT_EQ(0u, outer.inner->Release());
}

vst::AEffect* nullEntry(vst::audioMasterCallback) { return nullptr; }

TEST(EffectFilter, ConstructionReportsAnEffectThatCannotBeMade) {
    HRESULT result = S_OK;
    auto* filter = new EffectFilter(nullptr, nullptr, &result, &nullEntry);
    EXPECT_EQ(E_FAIL, result);
    delete filter; // a failed filter may be destroyed
}

// -- pins ------------------------------------------------------------------------------------------

// Names, directions, FindPin and the enumerator are checked in the graph tests; here, what only
// the filter itself can show: the process-wide pin identifiers.
TEST(EffectFilter, PinIdentifiersCountOnAcrossInstances) {
    FilterRig first;
    FilterRig second;
    ASSERT_EQ(S_OK, first.created);
    ASSERT_EQ(S_OK, second.created);

    // Identifiers count on across all pins of the process, in creation order.
    for (int k = 1; k < 8; ++k)
        EXPECT_EQ(first.filter->pinIdAt(k - 1) + 1, first.filter->pinIdAt(k));
    EXPECT_LT(first.filter->pinIdAt(7), second.filter->pinIdAt(0));
    EXPECT_EQ(first.filter->pinIdAt(7) + 1, second.filter->pinIdAt(0));
    EXPECT_EQ(-1, first.filter->pinIdAt(8));
    EXPECT_EQ(-1, first.filter->pinIdAt(-1));
    EXPECT_EQ(first.filter->outputPin(4), first.filter->findOutputPin(first.filter->pinIdAt(4)));
}

TEST(EffectFilter, PinEnumerationNoticesAChangedPinList) {
    FilterRig rig;
    ASSERT_EQ(S_OK, rig.created);
    IEnumPins* pins = nullptr;
    ASSERT_EQ(S_OK, rig.filter->EnumPins(&pins));
    EXPECT_EQ(S_OK, pins->Skip(2));
    IEnumPins* clone = nullptr;
    ASSERT_EQ(S_OK, pins->Clone(&clone));
    IPin* pin = nullptr;
    ASSERT_EQ(S_OK, clone->Next(1, &pin, nullptr));
    EXPECT_EQ(L"Output 2", pinName(pin));
    pin->Release();

    LONG added = -1;
    ASSERT_EQ(S_OK, rig.filter->addOutputPin(nullptr, &added));
    EXPECT_EQ(L"Output 9", std::wstring(rig.filter->findOutputPin(added)->name()));
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, pins->Next(1, &pin, nullptr));
    EXPECT_EQ(S_OK, pins->Reset());
    EXPECT_EQ(S_OK, pins->Skip(10));
    EXPECT_EQ(S_FALSE, pins->Skip(1));
    IPin* two[2] = {};
    EXPECT_EQ(E_INVALIDARG, pins->Next(2, two, nullptr));
    EXPECT_EQ(E_POINTER, pins->Next(1, nullptr, nullptr));

    ASSERT_EQ(S_OK, rig.filter->removeOutputPin(added));
    EXPECT_EQ(8, rig.filter->outputPinCount());
    EXPECT_EQ(nullptr, rig.filter->findOutputPin(added));
    EXPECT_EQ(VFW_E_NOT_FOUND, rig.filter->removeOutputPin(added));
    clone->Release();
    pins->Release();
}

// -- media types ---------------------------------------------------------------------------------

TEST(EffectFilter, BothPinsRefuseEverythingButFloatStereo) {
    FilterRig rig;
    ASSERT_EQ(S_OK, rig.created);
    PinBase* pins[2] = {&rig.filter->inputPin(), rig.filter->outputPin(0)};
    AudioType pcm16(48000, WAVE_FORMAT_PCM, 16);
    AudioType mono(48000, WAVE_FORMAT_IEEE_FLOAT, 32, 1);
    AudioType pcm24(48000, WAVE_FORMAT_PCM, 24);
    AudioType extensibleFloat(48000, WAVE_FORMAT_EXTENSIBLE, 32);
    AudioType extensible16(48000, WAVE_FORMAT_EXTENSIBLE, 16);
    AudioType video(48000);
    video.type.majortype = MEDIATYPE_Video;
    AudioType compressed(48000);
    compressed.type.bTemporalCompression = TRUE;
    AudioType shortFormat(48000);
    shortFormat.type.cbFormat = 16;
    for (PinBase* pin : pins) {
        EXPECT_EQ(E_POINTER, pin->checkMediaType(nullptr));
        for (const AM_MEDIA_TYPE* type :
             {&pcm16.type, &mono.type, &pcm24.type, &extensibleFloat.type, &extensible16.type, &video.type,
              &compressed.type, &shortFormat.type})
            EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, pin->checkMediaType(type)) << pin->name();
        EXPECT_EQ(S_FALSE, pin->QueryAccept(&pcm16.type));
    }
    AudioType float48(48000);
    EXPECT_EQ(S_OK, rig.filter->inputPin().checkMediaType(&float48.type));
    EXPECT_EQ(S_OK, rig.filter->inputPin().QueryAccept(&float48.type));
    // An output type needs an input to transform from.
    EXPECT_EQ(VFW_E_NOT_CONNECTED, rig.filter->outputPin(0)->checkMediaType(&float48.type));
}

TEST(EffectFilter, InputAndOutputMustShareTheRateWhichTheEffectGets) {
    FilterRig rig;
    ASSERT_EQ(S_OK, rig.created);
    ASSERT_EQ(S_OK, rig.connectInput(48000));
    EXPECT_EQ(48000u, rig.filter->adapter().inputFormat().nSamplesPerSec);
    AudioType float44(44100);
    AudioType float48(48000);
    AudioType float96(96000);
    EffectOutputPin* output = rig.filter->outputPin(0);
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, output->checkMediaType(&float44.type));
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, output->checkMediaType(&float96.type));
    gEffectLog.sampleRates.clear();
    EXPECT_EQ(S_OK, output->checkMediaType(&float48.type));
    EXPECT_EQ((std::vector<float>{48000.0f}), gEffectLog.sampleRates);
    EXPECT_EQ(48000, rig.filter->adapter().lastSampleRate());

    // With an output connected the input must keep its rate.
    ASSERT_EQ(S_OK, rig.connectOutput(0, &float48.type));
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, rig.filter->inputPin().checkMediaType(&float44.type));
    EXPECT_EQ(S_OK, rig.filter->inputPin().checkMediaType(&float48.type));
    // Each of the eight new pins made the next check send the rate again.
    EXPECT_EQ(48000, rig.filter->adapter().lastSampleRate());
}

TEST(EffectFilter, OutputOffersTheInputTypeAsStereo) {
    FilterRig rig;
    ASSERT_EQ(S_OK, rig.created);
    EffectOutputPin* output = rig.filter->outputPin(0);
    AM_MEDIA_TYPE type{};
    EXPECT_EQ(E_UNEXPECTED, output->getMediaType(0, type));
    IEnumMediaTypes* types = nullptr;
    ASSERT_EQ(S_OK, output->EnumMediaTypes(&types));
    AM_MEDIA_TYPE* offered = nullptr;
    ULONG fetched = 5;
    EXPECT_EQ(S_FALSE, types->Next(1, &offered, &fetched));
    EXPECT_EQ(0u, fetched);

    ASSERT_EQ(S_OK, rig.connectInput(44100));
    EXPECT_EQ(E_INVALIDARG, output->getMediaType(-1, type));
    EXPECT_EQ(VFW_S_NO_MORE_ITEMS, output->getMediaType(1, type));
    ASSERT_EQ(S_OK, types->Reset());
    ASSERT_EQ(S_OK, types->Next(1, &offered, &fetched));
    ASSERT_EQ(1u, fetched);
    EXPECT_TRUE(IsEqualGUID(MEDIATYPE_Audio, offered->majortype));
    const WAVEFORMATEX* format = waveFormatOf(*offered);
    ASSERT_NE(nullptr, format);
    EXPECT_EQ(WAVE_FORMAT_IEEE_FLOAT, format->wFormatTag);
    EXPECT_EQ(2, format->nChannels);
    EXPECT_EQ(44100u, format->nSamplesPerSec);
    deleteMediaType(offered);
    AM_MEDIA_TYPE* more = nullptr;
    EXPECT_EQ(S_FALSE, types->Next(1, &more, &fetched));
    EXPECT_EQ(0u, fetched);
    types->Release();
}

// -- connections ---------------------------------------------------------------------------------------

TEST(EffectFilter, OutputConnectionNegotiatesTheTypeAndTheAllocator) {
    FilterRig rig;
    ASSERT_EQ(S_OK, rig.created);
    // Nothing to offer before the input is connected.
    EXPECT_EQ(VFW_E_NO_ACCEPTABLE_TYPES, rig.connectOutput(0));
    EXPECT_FALSE(rig.filter->outputPin(0)->isConnected());

    ASSERT_EQ(S_OK, rig.connectInput(48000));
    ASSERT_EQ(S_OK, rig.connectOutput(0));
    FakePin& downstream = rig.downstream[0];
    EXPECT_EQ(rig.filter->outputPin(0), downstream.connected);
    const WAVEFORMATEX* format = waveFormatOf(downstream.connectionType);
    ASSERT_NE(nullptr, format);
    EXPECT_EQ(48000u, format->nSamplesPerSec);
    EXPECT_EQ(&downstream.allocator, downstream.notifiedAllocator);
    EXPECT_GT(downstream.allocator.requested.cbBuffer, 0);
    EXPECT_GE(downstream.allocator.requested.cBuffers, 1);
    EXPECT_GE(downstream.allocator.requested.cbAlign, 1);
    EXPECT_EQ(48000u, rig.filter->adapter().outputFormat().nSamplesPerSec);

    IPin* peer = nullptr;
    ASSERT_EQ(S_OK, rig.filter->outputPin(0)->ConnectedTo(&peer));
    EXPECT_EQ(static_cast<IPin*>(&downstream), peer);
    peer->Release();
    AM_MEDIA_TYPE connection{};
    ASSERT_EQ(S_OK, rig.filter->outputPin(0)->ConnectionMediaType(&connection));
    EXPECT_EQ(48000u, waveFormatOf(connection)->nSamplesPerSec);
    freeMediaType(connection);
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, rig.connectOutput(0));
}

TEST(EffectFilter, ConnectionCallsInTheWrongStateOrDirectionAreRefused) {
    FilterRig rig;
    ASSERT_EQ(S_OK, rig.created);
    EffectInputPin& input = rig.filter->inputPin();
    EffectOutputPin* output = rig.filter->outputPin(0);
    AudioType float48(48000);
    AudioType pcm16(48000, WAVE_FORMAT_PCM, 16);

    IPin* peer = reinterpret_cast<IPin*>(1);
    EXPECT_EQ(VFW_E_NOT_CONNECTED, input.ConnectedTo(&peer));
    EXPECT_EQ(nullptr, peer);
    AM_MEDIA_TYPE connection{};
    EXPECT_EQ(VFW_E_NOT_CONNECTED, output->ConnectionMediaType(&connection));
    EXPECT_EQ(S_FALSE, output->Disconnect());
    EXPECT_EQ(E_POINTER, output->Connect(nullptr, nullptr));
    EXPECT_EQ(E_POINTER, input.ReceiveConnection(nullptr, &float48.type));
    EXPECT_EQ(E_POINTER, input.ReceiveConnection(&rig.upstream, nullptr));
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, input.ReceiveConnection(&rig.upstream, &pcm16.type));
    // An input pin cannot connect to our input pin.
    EXPECT_EQ(VFW_E_INVALID_DIRECTION, input.ReceiveConnection(&rig.downstream[0], &float48.type));
    EXPECT_FALSE(input.isConnected());

    ASSERT_EQ(S_OK, rig.connectInput(48000));
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, rig.connectInput(48000));
    rig.downstream[1].refuseConnection = true;
    EXPECT_TRUE(FAILED(rig.connectOutput(1, &float48.type)));
    EXPECT_FALSE(rig.filter->outputPin(1)->isConnected());
    EXPECT_EQ(nullptr, rig.downstream[1].notifiedAllocator);
    // The output pin's stream control belongs to input pins.
    EXPECT_EQ(E_UNEXPECTED, output->EndOfStream());
    EXPECT_EQ(E_UNEXPECTED, output->BeginFlush());
    EXPECT_EQ(E_UNEXPECTED, output->EndFlush());

    ASSERT_EQ(S_OK, rig.connectOutput(0));
    EXPECT_EQ(E_UNEXPECTED, rig.filter->removeOutputPin(rig.filter->pinIdAt(0)));
    EXPECT_EQ(E_UNEXPECTED, rig.filter->removeAllOutputPins());
    EXPECT_EQ(8, rig.filter->outputPinCount());

    ASSERT_EQ(S_OK, rig.filter->Pause());
    EXPECT_EQ(VFW_E_NOT_STOPPED, output->Disconnect());
    EXPECT_EQ(VFW_E_NOT_STOPPED, rig.connectOutput(2));
    ASSERT_EQ(S_OK, rig.filter->Stop());
    EXPECT_EQ(S_OK, output->Disconnect());
    EXPECT_FALSE(output->isConnected());
}

// -- states ---------------------------------------------------------------------------------------------

TEST(EffectFilter, PauseCommitsAndStopDecommitsTheOutputAllocators) {
    FilterRig rig;
    ASSERT_EQ(S_OK, rig.created);
    ASSERT_EQ(S_OK, rig.connectInput(48000));
    ASSERT_EQ(S_OK, rig.connectOutput(0));
    ASSERT_EQ(S_OK, rig.connectOutput(5));
    FILTER_STATE state;
    EXPECT_EQ(S_OK, rig.filter->GetState(0, &state));
    EXPECT_EQ(State_Stopped, state);

    EXPECT_EQ(S_OK, rig.filter->Pause());
    EXPECT_TRUE(rig.downstream[0].allocator.committed);
    EXPECT_TRUE(rig.downstream[5].allocator.committed);
    EXPECT_FALSE(rig.downstream[1].allocator.committed);
    rig.filter->GetState(0, &state);
    EXPECT_EQ(State_Paused, state);
    EXPECT_EQ(S_OK, rig.filter->Run(1234));
    rig.filter->GetState(0, &state);
    EXPECT_EQ(State_Running, state);
    EXPECT_EQ(1234, rig.filter->startTime());
    EXPECT_EQ(S_OK, rig.filter->Stop());
    EXPECT_FALSE(rig.downstream[0].allocator.committed);
    EXPECT_FALSE(rig.downstream[5].allocator.committed);
    rig.filter->GetState(0, &state);
    EXPECT_EQ(State_Stopped, state);
    EXPECT_EQ(E_POINTER, rig.filter->GetState(0, nullptr));

    // Run from stopped pauses on the way.
    EXPECT_EQ(S_OK, rig.filter->Run(0));
    EXPECT_TRUE(rig.downstream[0].allocator.committed);
}

TEST(EffectFilter, ReceiveChecksTheStreamingState) {
    FilterRig rig;
    ASSERT_EQ(S_OK, rig.created);
    EXPECT_EQ(E_POINTER, rig.filter->inputPin().Receive(nullptr));
    EXPECT_EQ(VFW_E_NOT_CONNECTED, rig.receive(FakeSample::stereoRamp(4)));
    ASSERT_EQ(S_OK, rig.connectInput(48000));
    ASSERT_EQ(S_OK, rig.connectOutput(0));
    EXPECT_EQ(VFW_E_WRONG_STATE, rig.receive(FakeSample::stereoRamp(4)));
    EXPECT_EQ(VFW_E_WRONG_STATE, rig.filter->inputPin().EndOfStream());

    ASSERT_EQ(S_OK, rig.filter->Run(0));
    EXPECT_EQ(S_OK, rig.filter->inputPin().BeginFlush());
    EXPECT_EQ(1, rig.downstream[0].beginFlushes);
    EXPECT_EQ(S_FALSE, rig.receive(FakeSample::stereoRamp(4)));
    EXPECT_EQ(S_OK, rig.filter->inputPin().EndFlush());
    EXPECT_EQ(1, rig.downstream[0].endFlushes);
    EXPECT_EQ(S_OK, rig.receive(FakeSample::stereoRamp(4)));
    EXPECT_EQ(1u, rig.downstream[0].deliveries.size());
    EXPECT_EQ(0, rig.downstream[1].beginFlushes); // unconnected pins hear nothing
}

TEST(EffectFilter, StreamControlReachesEveryConnectedOutput) {
    FilterRig rig;
    ASSERT_EQ(S_OK, rig.created);
    ASSERT_EQ(S_OK, rig.connectInput(48000));
    ASSERT_EQ(S_OK, rig.connectOutput(0));
    ASSERT_EQ(S_OK, rig.connectOutput(7));
    ASSERT_EQ(S_OK, rig.filter->Run(0));
    EXPECT_EQ(S_OK, rig.filter->inputPin().NewSegment(5000, 90000, 1.0));
    EXPECT_EQ(S_OK, rig.filter->inputPin().EndOfStream());
    for (int k : {0, 7}) {
        EXPECT_EQ(1, rig.downstream[k].newSegments);
        EXPECT_EQ(5000, rig.downstream[k].segmentStart);
        EXPECT_EQ(1, rig.downstream[k].endOfStreams);
    }
    EXPECT_EQ(0, rig.downstream[3].endOfStreams);
    uint64_t all = 0;
    for (const FakePin& pin : rig.downstream)
        all += static_cast<uint64_t>(pin.endOfStreams);
    EXPECT_EQ(2u, all);
}

// -- Receive ---------------------------------------------------------------------------------------------

// time × rate / 10^7 truncated toward zero, by schoolbook arithmetic on 32-bit limbs (rate < 2^32).
int64_t exactFrames(int64_t time, int64_t rate) {
    const bool negative = time < 0;
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(time) : static_cast<uint64_t>(time);
    const auto factor = static_cast<uint64_t>(rate);
    const uint64_t low = (magnitude & 0xFFFFFFFFu) * factor;
    const uint64_t high = (magnitude >> 32) * factor + (low >> 32);
    const uint32_t limbs[3] = {static_cast<uint32_t>(high >> 32), static_cast<uint32_t>(high),
                               static_cast<uint32_t>(low)};
    uint64_t remainder = 0;
    uint64_t quotient = 0;
    for (const uint32_t limb : limbs) {
        const uint64_t current = (remainder << 32) | limb;
        quotient = (quotient << 32) | (current / 10000000u);
        remainder = current % 10000000u;
    }
    return negative ? -static_cast<int64_t>(quotient) : static_cast<int64_t>(quotient);
}

TEST(EffectFilter, FramesAtConvertsReferenceTimeExactlyWithoutOverflow) {
    EXPECT_EQ(48000, EffectFilter::framesAt(10000000, 48000));
    EXPECT_EQ(59, EffectFilter::framesAt(12345, 48000)); // 59.256 truncated
    EXPECT_EQ(0, EffectFilter::framesAt(0, 44100));
    EXPECT_EQ(INT64_C(172800000000000000), EffectFilter::framesAt(INT64_C(9000000000000000000), 192000));
    for (const int64_t time : {INT64_C(9000000000000000000), INT64_C(123456789012345678),
                               INT64_C(-98765432109876), INT64_C(-1), INT64_C(9999999), INT64_C(10000001)}) {
        for (const int64_t rate : {INT64_C(8000), INT64_C(44100), INT64_C(192000)}) {
            EXPECT_EQ(exactFrames(time, rate), EffectFilter::framesAt(time, rate)) << time << " at " << rate;
        }
    }
}

TEST(EffectFilter, ADiscontinuityWithTimePlacesTheStreamAndOnlyItsOutputCarriesTime) {
    FilterRig rig;
    ASSERT_EQ(S_OK, rig.created);
    rig.startStreaming(48000);

    FakeSample* placed = FakeSample::stereoRamp(10);
    REFERENCE_TIME start = 10000000; // one second
    placed->SetTime(&start, nullptr);
    placed->SetDiscontinuity(TRUE);
    placed->SetSyncPoint(TRUE);
    ASSERT_EQ(S_OK, rig.receive(placed));
    EXPECT_EQ(48010, rig.filter->streamPosition());
    EXPECT_EQ(48010, rig.filter->adapter().samplePosition());

    ASSERT_EQ(S_OK, rig.receive(FakeSample::stereoRamp(10)));
    EXPECT_EQ(48020, rig.filter->streamPosition());
    // A discontinuity without a time leaves the position alone.
    FakeSample* untimed = FakeSample::stereoRamp(10);
    untimed->SetDiscontinuity(TRUE);
    ASSERT_EQ(S_OK, rig.receive(untimed));
    EXPECT_EQ(48030, rig.filter->streamPosition());

    const auto& got = rig.downstream[0].deliveries;
    ASSERT_EQ(3u, got.size());
    EXPECT_EQ(VFW_S_NO_STOP_TIME, got[0].timeResult);
    EXPECT_EQ(10000000, got[0].start);
    EXPECT_TRUE(got[0].discontinuity);
    EXPECT_TRUE(got[0].syncPoint);
    // The allocator's samples came with a stale time: it is cleared.
    EXPECT_EQ(VFW_E_SAMPLE_TIME_NOT_SET, got[1].timeResult);
    EXPECT_FALSE(got[1].discontinuity);
    EXPECT_FALSE(got[1].syncPoint);
    EXPECT_EQ(VFW_E_SAMPLE_TIME_NOT_SET, got[2].timeResult);
    EXPECT_TRUE(got[2].discontinuity);
}

TEST(EffectFilter, ReceiveProcessesWholeFramesAndSurvivesEmptyBuffers) {
    FilterRig rig;
    ASSERT_EQ(S_OK, rig.created);
    rig.startStreaming();
    gEffectLog.events.clear();

    // 10 frames and 5 bytes of a frame that never completes.
    FakeSample* odd = FakeSample::stereoRamp(10, 5);
    const std::vector<float> oddInput = interleavedInput(odd, 10);
    ASSERT_EQ(S_OK, rig.receive(odd));
    FakeSample* empty = FakeSample::stereoRamp(0);
    ASSERT_EQ(S_OK, rig.receive(empty));
    FakeSample* pointerless = FakeSample::stereoRamp(10);
    pointerless->setNullPointer();
    ASSERT_EQ(S_OK, rig.receive(pointerless));

    EXPECT_EQ((std::vector<int>{10}), gEffectLog.processedFrames());
    const auto& got = rig.downstream[0].deliveries;
    ASSERT_EQ(3u, got.size());
    EXPECT_EQ(oddInput, got[0].samples);
    EXPECT_TRUE(got[1].samples.empty());
    EXPECT_TRUE(got[2].samples.empty());
    EXPECT_EQ(10, rig.filter->streamPosition());
    EXPECT_EQ(0, rig.downstream[0].allocator.liveSamples);
}

TEST(EffectFilter, ABufferLongerThanTheChannelBuffersIsProcessedInPieces) {
    FilterRig rig;
    ASSERT_EQ(S_OK, rig.created);
    rig.downstream[0].allocator.sizeOverride = 40000 * 8;
    rig.startStreaming();
    gEffectLog.events.clear();

    FakeSample* input = FakeSample::stereoRamp(40000);
    const std::vector<float> expected = interleavedInput(input, 40000);
    ASSERT_EQ(S_OK, rig.receive(input));
    EXPECT_EQ((std::vector<int>{32767, 7233}), gEffectLog.processedFrames());
    ASSERT_EQ(1u, rig.downstream[0].deliveries.size());
    EXPECT_EQ(expected, rig.downstream[0].deliveries[0].samples);
    EXPECT_EQ(40000, rig.filter->streamPosition());
}

TEST(EffectFilter, AnOutputBufferTooSmallFailsAndDeliversNothing) {
    FilterRig rig;
    ASSERT_EQ(S_OK, rig.created);
    rig.downstream[0].allocator.sizeOverride = 100 * 8;
    rig.downstream[1].allocator.sizeOverride = 200 * 8;
    ASSERT_EQ(S_OK, rig.connectInput(48000));
    ASSERT_EQ(S_OK, rig.connectOutput(0));
    ASSERT_EQ(S_OK, rig.connectOutput(1));
    ASSERT_EQ(S_OK, rig.filter->Run(0));
    gEffectLog.events.clear();

    EXPECT_EQ(E_FAIL, rig.receive(FakeSample::stereoRamp(101)));
    EXPECT_TRUE(rig.downstream[0].deliveries.empty());
    EXPECT_TRUE(rig.downstream[1].deliveries.empty());
    EXPECT_TRUE(gEffectLog.processedFrames().empty());
    EXPECT_EQ(0, rig.downstream[0].allocator.liveSamples);
    EXPECT_EQ(0, rig.downstream[1].allocator.liveSamples);
    EXPECT_EQ(0, rig.filter->streamPosition());

    EXPECT_EQ(S_OK, rig.receive(FakeSample::stereoRamp(100)));
    EXPECT_EQ(1u, rig.downstream[0].deliveries.size());
    EXPECT_EQ(1u, rig.downstream[1].deliveries.size());
}

TEST(EffectFilter, EachOutputPinCarriesItsOwnBufferPair) {
    FilterRig rig;
    ASSERT_EQ(S_OK, rig.created);
    ASSERT_EQ(S_OK, rig.connectInput(48000));
    ASSERT_EQ(S_OK, rig.connectOutput(0));
    ASSERT_EQ(S_OK, rig.connectOutput(1));
    ASSERT_EQ(S_OK, rig.filter->Run(0));
    gEffectLog.writeSecondPair = true;

    FakeSample* input = FakeSample::stereoRamp(64);
    const std::vector<float> expected = interleavedInput(input, 64);
    ASSERT_EQ(S_OK, rig.receive(input));
    ASSERT_EQ(1u, rig.downstream[1].deliveries.size());
    EXPECT_EQ(expected, rig.downstream[0].deliveries[0].samples);
    std::vector<float> negated(expected);
    for (float& x : negated)
        x = -x;
    EXPECT_EQ(negated, rig.downstream[1].deliveries[0].samples);
}

// Automation that answers from a script.
struct ScriptedAutomation final : AutomationSource {
    bool anyAutomated() override { return automated; }
    void changeTimes(int64_t from, int64_t to, std::vector<int64_t>& out) override {
        ranges.push_back({from, to});
        out.clear();
        for (const int64_t t : times)
            if (t >= from && t < to)
                out.push_back(t);
    }
    void changedParameters(int64_t position, std::vector<int32_t>& indices) override {
        asked.push_back(position);
        indices.clear();
        const auto found = changes.find(position);
        if (found != changes.end())
            indices = found->second;
    }
    float effectiveValue(int32_t index) override { return static_cast<float>(index) / 100.0f; }
    void setSampleRate(int32_t rate) override { sampleRate = rate; }

    bool automated = true;
    std::vector<int64_t> times;
    std::map<int64_t, std::vector<int32_t>> changes;
    std::vector<std::pair<int64_t, int64_t>> ranges;
    std::vector<int64_t> asked;
    int32_t sampleRate = 0;
};

TEST(EffectFilter, AutomationSplitsTheBufferAndSendsValuesBeforeTheirPiece) {
    FilterRig rig;
    ASSERT_EQ(S_OK, rig.created);
    ScriptedAutomation automation;
    automation.times = {0, 100, 100, 250, 400, 900};
    automation.changes = {{0, {3}}, {100, {7, 12}}, {400, {5}}};
    rig.filter->setAutomationSource(&automation);
    rig.startStreaming(44100);
    EXPECT_EQ(44100, automation.sampleRate);
    gEffectLog.events.clear();

    FakeSample* input = FakeSample::stereoRamp(400);
    const std::vector<float> expected = interleavedInput(input, 400);
    ASSERT_EQ(S_OK, rig.receive(input));
    EXPECT_EQ(
        (std::vector<std::string>{"S3=0.030000", "P100", "S7=0.070000", "S12=0.120000", "P150", "P150"}),
        gEffectLog.events);
    EXPECT_EQ((std::vector<int64_t>{0, 100, 250}), automation.asked);
    ASSERT_EQ(1u, automation.ranges.size());
    EXPECT_EQ(0, automation.ranges[0].first);
    EXPECT_EQ(400, automation.ranges[0].second);
    // The pieces join without a seam.
    EXPECT_EQ(expected, rig.downstream[0].deliveries[0].samples);

    // The next buffer starts where this one ended; a change at its start goes before it.
    gEffectLog.events.clear();
    ASSERT_EQ(S_OK, rig.receive(FakeSample::stereoRamp(600)));
    EXPECT_EQ(400, automation.ranges[1].first);
    EXPECT_EQ(1000, automation.ranges[1].second);
    EXPECT_EQ((std::vector<std::string>{"S5=0.050000", "P500", "P100"}), gEffectLog.events);

    // Nothing automated: one piece, no questions.
    automation.automated = false;
    gEffectLog.events.clear();
    ASSERT_EQ(S_OK, rig.receive(FakeSample::stereoRamp(300)));
    EXPECT_EQ((std::vector<std::string>{"P300"}), gEffectLog.events);
    EXPECT_EQ(2u, automation.ranges.size());
    EXPECT_EQ(1300, rig.filter->adapter().processedFrames());
    rig.filter->setAutomationSource(nullptr);
}

// -- sequencer integration ----------------------------------------------------------------------------------

ISequencerIntegration* sequencerOf(FilterRig& rig) {
    ISequencerIntegration* sequencer = nullptr;
    rig.filter->nonDelegatingUnknown()->QueryInterface(kIidSequencerIntegration,
                                                       reinterpret_cast<void**>(&sequencer));
    return sequencer;
}

TEST(EffectFilter, SequencerCallsBeforeConnectAreUnexpected) {
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

TEST(EffectFilter, SequencerConnectTakesTheHostServicesAndConsumesTheContext) {
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

TEST(EffectFilter, SequencerTransportSetsTheStreamPositionAndTempo) {
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

TEST(EffectFilter, PinChangesAreAnnouncedToTheSequencerHost) {
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

struct Counted final : IUnknown {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
    long references = 0;
};

TEST(EffectFilter, HostCallbackHolderKeepsOneReferencedCallback) {
    FilterRig rig;
    ASSERT_EQ(S_OK, rig.created);
    IHostCallbackHolder* holder = nullptr;
    ASSERT_EQ(S_OK, rig.filter->nonDelegatingUnknown()->QueryInterface(kIidHostCallbackHolder,
                                                                       reinterpret_cast<void**>(&holder)));
    IUnknown* got = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(E_POINTER, holder->GetHostCallback(nullptr));
    EXPECT_EQ(S_FALSE, holder->GetHostCallback(&got));
    EXPECT_EQ(nullptr, got);

    Counted first;
    Counted second;
    ASSERT_EQ(S_OK, holder->SetHostCallback(&first));
    EXPECT_EQ(1, first.references);
    ASSERT_EQ(S_OK, holder->GetHostCallback(&got));
    EXPECT_EQ(&first, got);
    EXPECT_EQ(2, first.references);
    got->Release();
    ASSERT_EQ(S_OK, holder->SetHostCallback(&second));
    EXPECT_EQ(0, first.references);
    EXPECT_EQ(1, second.references);
    ASSERT_EQ(S_OK, holder->SetHostCallback(nullptr));
    EXPECT_EQ(0, second.references);
    holder->Release();

    ITrackState* track = nullptr;
    ASSERT_EQ(S_OK, rig.filter->nonDelegatingUnknown()->QueryInterface(kIidTrackState,
                                                                       reinterpret_cast<void**>(&track)));
    EXPECT_EQ(E_INVALIDARG, track->SetTrackState(6, 1));
    EXPECT_EQ(S_OK, track->SetTrackState(5, 42));
    EXPECT_EQ(42, rig.filter->sequencer().trackState(5));
    track->Release();
}

} // namespace
} // namespace pellucer::dx
