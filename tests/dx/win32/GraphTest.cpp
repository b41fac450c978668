// The effect filter in Wine's filter graph between the tests' source and sinks: what reaches a sink
// is, bit for bit, what the module's VST entry renders with the same settings and block sizes; pins
// and types, sample flags, long and partial buffers, two graphs at once, the shared mutex.

#include "tests/dx/win32/DxTestSupport.h"

namespace pellucer::dx::test {
namespace {

constexpr DWORD kRate = 44100;

class EffectFilterGraph : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(com_.result)); }
    ComApartment com_;
};

TEST_F(EffectFilterGraph, EveryOutputCarriesTheRenderingOrSilenceWithTheInputsFlags) {
    // At 48 kHz, so that the rendering also proves the rate reached the effect. Samples of various
    // sizes, one empty, some ending in a partial frame (which is no audio), one only that.
    constexpr DWORD rate = 48000;
    const std::vector<float> signal = testSignal(2 * rate + 123, rate, 7);
    StreamPlan plan = StreamPlan::slices(signal, {441 * 8, 1000 * 8 + 3, 0, 4096 * 8, 37 * 8, 5, 100 * 8 + 7});
    plan.samples[1].preroll = true;
    plan.samples[3].discontinuity = true;
    plan.samples[3].start = 10'000'000;   // one second
    plan.samples[6].discontinuity = true; // a discontinuity without a time
    plan.samples[8].start = 20'000'000;   // a time without a discontinuity
    EffectChain chain;
    ASSERT_NO_FATAL_FAILURE(chain.build(rate, 8, busySettings()));
    // A flush before the stream reaches every output, and streaming goes on after it.
    ASSERT_TRUE(SUCCEEDED(chain.graph.run()));
    EXPECT_EQ(chain.source->flush(), S_OK);
    ASSERT_EQ(chain.source->deliver(plan), S_OK);
    EXPECT_TRUE(chain.graph.waitForEvent(EC_COMPLETE, 4000)) << "no EC_COMPLETE";

    const std::vector<float> silence(signal.size(), 0.0f);
    for (size_t k = 0; k < 8; ++k) {
        SCOPED_TRACE("Output " + std::to_string(k + 1));
        const TestSink& sink = *chain.sinks[k].Get();
        EXPECT_EQ(sink.flushCount(), 1);
        EXPECT_EQ(sink.endOfStreamCount(), 1);
        EXPECT_TRUE(isFloatStereo(chain.sinks[k]->sinkPin().connectionType(), rate));
        const std::vector<ReceivedSample> received = sink.received();
        ASSERT_EQ(received.size(), plan.samples.size());
        for (size_t i = 0; i < received.size(); ++i) {
            SCOPED_TRACE("sample " + std::to_string(i));
            EXPECT_EQ(received[i].bytes.size() / 8, plan.samples[i].bytes / 8);
            // Only a discontinuity carries its time on; a stop time is optional.
            EXPECT_TRUE(i == 3 ? SUCCEEDED(received[i].timeResult) && received[i].start == 10'000'000
                               : received[i].timeResult == VFW_E_SAMPLE_TIME_NOT_SET);
            EXPECT_EQ(received[i].discontinuity, i == 3 || i == 6);
            EXPECT_EQ(received[i].preroll, i == 1);
            EXPECT_TRUE(received[i].syncPoint);
        }
        if (k > 0) {
            EXPECT_TRUE(sameSamples(silence, sink.receivedFloats()));
        }
    }
    const std::vector<float> output = chain.sinks[0]->receivedFloats();
    EXPECT_TRUE(sameSamples(ReferenceEffect(rate, busySettings()).render(signal, plan.frameCounts()), output));
    EXPECT_FALSE(sameSamples(signal, output)) << "the program does audible work";
}

TEST_F(EffectFilterGraph, BufferLongerThanTheChannelBuffersIsProcessedWhole) {
    // A second of settling in ordinary samples, then one sample of 40,000 frames, then more.
    const std::vector<float> signal = testSignal(85100, kRate, 21);
    const StreamPlan plan = StreamPlan::frames(signal, {11025, 11025, 11025, 11025, 40000, 1000});
    // Once settled the effect renders the same whatever the block sizes, so the filter may cut the
    // long sample where it likes, as long as no piece exceeds what one processing call takes.
    const std::vector<float> expected = ReferenceEffect(kRate, busySettings()).render(signal, plan.frameCounts());
    const std::vector<uint32_t> otherCut = {11025, 11025, 11025, 11025, 20000, 20000, 1000};
    ASSERT_TRUE(sameSamples(expected, ReferenceEffect(kRate, busySettings()).render(signal, otherCut)))
        << "the reference depends on the block sizes here, so the comparison would mean nothing";
    EffectChain chain;
    ASSERT_NO_FATAL_FAILURE(chain.build(kRate, 1, busySettings()));
    ASSERT_NO_FATAL_FAILURE(chain.stream(plan));
    EXPECT_EQ(chain.sinks[0]->received().size(), 6u);
    EXPECT_TRUE(sameSamples(expected, chain.sinks[0]->receivedFloats()));
}

TEST_F(EffectFilterGraph, PinsAreNamedInOrderAndTakeOnlyFloatStereoAtTheInputsRate) {
    Graph graph;
    ComPtr<IBaseFilter> filter;
    ComPtr<TestSink> sink;
    sink.Attach(TestSink::create());
    ASSERT_TRUE(graph.valid());
    ASSERT_EQ(createEffectFilter(&filter), S_OK);
    ASSERT_EQ(graph.add(filter.Get(), L"Pellucer"), S_OK);
    ASSERT_EQ(graph.add(sink.Get(), L"Sink"), S_OK);
    const std::vector<ComPtr<IPin>> pins = pinsOf(filter.Get());
    ASSERT_EQ(pins.size(), 9u);
    for (size_t i = 0; i < pins.size(); ++i) {
        PIN_INFO info{};
        LPWSTR id = nullptr;
        ComPtr<IPin> found;
        ASSERT_EQ(pins[i]->QueryPinInfo(&info), S_OK);
        info.pFilter->Release();
        EXPECT_EQ(info.pFilter, filter.Get());
        EXPECT_EQ(std::wstring(info.achName), i == 0 ? L"Input" : L"Output " + std::to_wstring(i));
        EXPECT_EQ(info.dir, i == 0 ? PINDIR_INPUT : PINDIR_OUTPUT);
        ASSERT_EQ(pins[i]->QueryId(&id), S_OK);
        EXPECT_EQ(filter->FindPin(id, &found), S_OK);
        EXPECT_EQ(found.Get(), pins[i].Get());
        CoTaskMemFree(id);
    }
    IPin* input = pins[0].Get();
    IPin* output = pins[1].Get();
    // Nothing comes out while nothing goes in.
    EXPECT_TRUE(FAILED(graph.connect(output, sink->inputPin(), floatType(kRate).ptr())));
    EXPECT_NE(output->QueryAccept(floatType(kRate).ptr()), S_OK);
    ComPtr<IEnumMediaTypes> types;
    AM_MEDIA_TYPE* type = nullptr;
    ASSERT_EQ(output->EnumMediaTypes(&types), S_OK);
    EXPECT_NE(types->Next(1, &type, nullptr), S_OK) << "a type offered without an input";

    const std::pair<const char*, AudioType> refused[] = {
        {"16-bit PCM stereo", pcmType(kRate, 2, 16)},
        {"32-bit float mono", floatType(kRate, 1)},
        {"extensible float stereo", AudioType(0, 2, 32, kRate, &kSubFormatIeeeFloat)},
        {"64-bit float stereo", AudioType(WAVE_FORMAT_IEEE_FLOAT, 2, 64, kRate)}};
    ComPtr<TestSource> source;
    for (const auto& [what, refusedType] : refused) {
        SCOPED_TRACE(what);
        source.Attach(TestSource::create({refusedType}));
        ASSERT_EQ(graph.add(source.Get(), L"Source"), S_OK);
        EXPECT_TRUE(FAILED(graph.connect(source->outputPin(), input)));
        EXPECT_EQ(input->ReceiveConnection(source->outputPin(), refusedType.ptr()), VFW_E_TYPE_NOT_ACCEPTED);
        EXPECT_FALSE(peerOf(input));
        EXPECT_EQ(graph.builder->RemoveFilter(source.Get()), S_OK);
    }
    // Float stereo at any rate; from a list of types the float stereo one is taken.
    for (DWORD rate : {DWORD{22050}, DWORD{96000}, kRate}) {
        SCOPED_TRACE(rate);
        source.Attach(TestSource::create({pcmType(rate, 2, 16), floatType(rate, 1), floatType(rate)}));
        ASSERT_EQ(graph.add(source.Get(), L"Source"), S_OK);
        ASSERT_EQ(graph.connect(source->outputPin(), input), S_OK);
        AM_MEDIA_TYPE connected{};
        ASSERT_EQ(input->ConnectionMediaType(&connected), S_OK);
        EXPECT_TRUE(isFloatStereo(connected, rate));
        freeMediaType(connected);
        EXPECT_TRUE(rate == kRate || graph.builder->RemoveFilter(source.Get()) == S_OK);
    }
    // With the input at 44.1 kHz the output takes nothing else, and proposes exactly that type.
    for (const auto& [what, refusedType] : refused)
        EXPECT_TRUE(FAILED(graph.connect(output, sink->inputPin(), refusedType.ptr()))) << what;
    EXPECT_TRUE(FAILED(graph.connect(output, sink->inputPin(), floatType(48000).ptr())));
    ASSERT_EQ(output->EnumMediaTypes(&types), S_OK);
    ASSERT_EQ(types->Next(1, &type, nullptr), S_OK);
    EXPECT_TRUE(isFloatStereo(*type, kRate));
    deleteMediaType(type);
    ASSERT_EQ(graph.connect(output, sink->inputPin()), S_OK);
    EXPECT_TRUE(isFloatStereo(sink->sinkPin().connectionType(), kRate));
    // A new input at 48 kHz would break the connected output.
    EXPECT_EQ(graph.builder->RemoveFilter(source.Get()), S_OK);
    source.Attach(TestSource::create({floatType(48000)}));
    ASSERT_EQ(graph.add(source.Get(), L"Faster"), S_OK);
    EXPECT_TRUE(FAILED(graph.connect(source->outputPin(), input)));
    EXPECT_EQ(input->ReceiveConnection(source->outputPin(), floatType(48000).ptr()), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_TRUE(sink->sinkPin().isConnected());
}

TEST_F(EffectFilterGraph, TwoGraphsOnTwoThreadsGetTheirOwnRenderingAndTheModuleCanUnloadAfterwards) {
    // Every filter of the process renders through the same channel buffers: long samples keep each
    // busy long enough for the other to overwrite them if unguarded. The first has two in series.
    const std::vector<float> signalA = testSignal(3 * kRate, kRate, 101);
    const std::vector<float> signalB = testSignal(3 * kRate + 777, kRate, 202);
    const StreamPlan planA = StreamPlan::frames(signalA, {8192, 5000});
    const StreamPlan planB = StreamPlan::frames(signalB, {7000, 8192});
    const EffectSettings otherSettings{12, {{kInputTubeEnable, 1.0f}, {kDoublerEnable, 1.0f}, {kOutputGain, 0.4f}}};
    {
        EffectChain a, b;
        ComPtr<IBaseFilter> second;
        ComPtr<TestSink> sinkA;
        sinkA.Attach(TestSink::create());
        ASSERT_NO_FATAL_FAILURE(a.build(kRate, 0, busySettings()));
        ASSERT_NO_FATAL_FAILURE(b.build(kRate, 1, otherSettings));
        ASSERT_EQ(createEffectFilter(&second), S_OK);
        ASSERT_EQ(a.graph.add(second.Get(), L"Second"), S_OK);
        ASSERT_EQ(a.graph.add(sinkA.Get(), L"Sink"), S_OK);
        ASSERT_EQ(a.graph.connect(a.pins[1].Get(), pinsOf(second.Get())[0].Get()), S_OK);
        ASSERT_EQ(a.graph.connect(pinsOf(second.Get())[1].Get(), sinkA->inputPin()), S_OK);
        ASSERT_TRUE(SUCCEEDED(a.graph.run()) && SUCCEEDED(b.graph.run()));
        std::future<HRESULT> doneA = a.source->deliverLater(planA), doneB = b.source->deliverLater(planB);
        EXPECT_EQ(doneA.get(), S_OK);
        EXPECT_EQ(doneB.get(), S_OK);
        EXPECT_TRUE(a.graph.waitForEvent(EC_COMPLETE, 4000) && b.graph.waitForEvent(EC_COMPLETE, 4000));

        // The second filter of the first graph has its first program, as a new filter has it.
        const std::vector<float> once = ReferenceEffect(kRate, busySettings()).render(signalA, planA.frameCounts());
        EXPECT_TRUE(sameSamples(ReferenceEffect(kRate, {}).render(once, planA.frameCounts()), sinkA->receivedFloats()));
        EXPECT_TRUE(sameSamples(ReferenceEffect(kRate, otherSettings).render(signalB, planB.frameCounts()),
                                b.sinks[0]->receivedFloats()));
        EXPECT_EQ(moduleCanUnloadNow(), S_FALSE);
    }
    // Graphs, filters, pins, enumerators and media types are all gone.
    EXPECT_EQ(moduleCanUnloadNow(), S_OK);
}

TEST_F(EffectFilterGraph, ProcessingWaitsForTheSharedMutexAndDropsABufferAfterASecond) {
    // Every filter of the process takes turns on the mutex "Pellucer" and waits at most one
    // second for it: held for one and a half, the first buffer is answered S_OK and dropped, and
    // the second, waiting from then, is processed once it is released.
    const std::vector<float> signal = testSignal(2 * 441, kRate, 37);
    const StreamPlan plan = StreamPlan::frames(signal, {441});
    EffectChain chain;
    ASSERT_NO_FATAL_FAILURE(chain.build(kRate, 1, busySettings()));
    ASSERT_TRUE(SUCCEEDED(chain.graph.run()));
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Pellucer");
    ASSERT_NE(mutex, nullptr);
    const DWORD waited = WaitForSingleObject(mutex, 5000);
    ASSERT_TRUE(waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED);
    std::future<HRESULT> done = chain.source->deliverLater(plan);
    Sleep(1500);
    const size_t whileHeld = chain.sinks[0]->received().size();
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    EXPECT_EQ(done.get(), S_OK) << "every Receive answers S_OK, the dropped buffer's too";
    EXPECT_TRUE(chain.graph.waitForEvent(EC_COMPLETE, 4000));

    EXPECT_EQ(whileHeld, 0u) << "samples were processed while another party held the mutex";
    ASSERT_EQ(chain.sinks[0]->received().size(), 1u) << "the buffer that timed out was delivered";
    // What came out is the second buffer processed by an effect that never saw the first.
    const std::vector<float> second(signal.begin() + 2 * 441, signal.end());
    EXPECT_TRUE(sameSamples(ReferenceEffect(kRate, busySettings()).render(second, {441}),
                            chain.sinks[0]->receivedFloats()));
}

} // namespace
} // namespace pellucer::dx::test
