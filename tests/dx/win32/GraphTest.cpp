// The effect filter in real DirectShow graphs (Wine's filter graph), between the tests' own source
// and sink: what reaches the sink must be, bit for bit, what the module's VST entry renders with
// the same settings and block sizes; the pins, their names and the types they take; times and
// flags on the output samples; the silent extra outputs; two graphs at once; buffers larger than
// the channel buffers; samples that end in a partial frame.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "core/Parameters.h"
#include "dx/server/Identifiers.h"
#include "tests/dx/win32/DxTestSupport.h"
#include "tests/dx/win32/GraphTestSupport.h"

namespace pellucer::dx::graphtest {
namespace {

// Wine's WAVE parser; not among the identifiers the system headers declare.
const CLSID kClsidWaveParser = {0xd51bd5a1, 0x7548, 0x11cf, {0xa5, 0x20, 0x00, 0x80, 0xc7, 0x7e, 0xf5, 0x8a}};

constexpr DWORD kRate = 44100;

class EffectFilterGraph : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(test::pellucerModule(), nullptr) << "cannot load " << PELLUCER_VST_MODULE;
        ASSERT_TRUE(SUCCEEDED(com_.result()));
        ComPtr<IBaseFilter> probe;
        ASSERT_EQ(createEffectFilter(probe), S_OK);
    }

    /// Runs the chain's graph, delivers the plan from the test thread and waits for the end.
    static void stream(EffectChain& chain, const StreamPlan& plan) {
        ASSERT_TRUE(SUCCEEDED(chain.graph.run()));
        ASSERT_EQ(chain.source->deliver(plan), S_OK);
        EXPECT_TRUE(chain.graph.waitForEvent(EC_COMPLETE, 4000)) << "no EC_COMPLETE";
        EXPECT_EQ(chain.graph.stop(), S_OK);
    }

    /// Runs the chain's graph and streams the plan while holding, for `holdMs`, the mutex
    /// "Pellucer" that every filter of the process takes turns on; `whileHeld` is how many
    /// samples arrived meanwhile.
    static void streamWhileMutexHeld(EffectChain& chain, const StreamPlan& plan, DWORD holdMs, size_t& whileHeld) {
        ASSERT_TRUE(SUCCEEDED(chain.graph.run()));
        const HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Pellucer");
        ASSERT_NE(mutex, nullptr);
        const DWORD waited = WaitForSingleObject(mutex, 5000);
        ASSERT_TRUE(waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED);
        chain.source->startStreaming(plan);
        Sleep(holdMs);
        whileHeld = chain.sinks[0]->received().size();
        ReleaseMutex(mutex);
        CloseHandle(mutex);
        EXPECT_EQ(chain.source->finishStreaming(), S_OK);
        EXPECT_TRUE(chain.graph.waitForEvent(EC_COMPLETE, 4000));
        chain.graph.stop();
    }

    ComApartment com_;
};

/// The types the filter must refuse, at the given rate.
std::vector<std::pair<const char*, AudioType>> refusedTypes(DWORD rate) {
    return {{"16-bit PCM stereo", pcmType(rate, 2, 16)},
            {"32-bit float mono", floatType(rate, 1)},
            {"24-bit PCM stereo", pcmType(rate, 2, 24)},
            {"extensible float stereo", extensibleType(rate, 2, 32, true)},
            {"extensible 16-bit stereo", extensibleType(rate, 2, 16, false)},
            {"64-bit float stereo", AudioType(WAVE_FORMAT_IEEE_FLOAT, 2, 64, rate)}};
}

// ---- streaming ----------------------------------------------------------------------------------

TEST_F(EffectFilterGraph, StreamsWhatTheVstEntryRenders) {
    const EffectSettings settings = busySettings();
    const std::vector<float> signal = testSignal(2 * kRate + 123, kRate, 7);
    const StreamPlan plan = StreamPlan::frames(signal, 2, {441, 1000, 4096, 37});

    EffectChain chain;
    ASSERT_NO_FATAL_FAILURE(chain.build({floatType(kRate)}, plan.largestSample(), 1));
    chain.apply(settings);
    ReferenceEffect reference(static_cast<float>(kRate), settings);
    ASSERT_NE(reference.effect(), nullptr);
    ASSERT_NO_FATAL_FAILURE(stream(chain, plan));

    TestSink& sink = *chain.sinks[0].get();
    EXPECT_TRUE(isFloatStereo(sink.sinkPin().connectionType(), kRate));
    const std::vector<ReceivedSample> received = sink.received();
    ASSERT_EQ(received.size(), plan.samples.size());
    for (size_t i = 0; i < received.size(); ++i)
        EXPECT_EQ(received[i].actualLength, static_cast<long>(plan.samples[i].bytes)) << "sample " << i;
    const std::vector<float> output = sink.receivedFloats();
    EXPECT_TRUE(sameSamples(reference.process(signal, framesOf(plan)), output));
    // The program does audible work: the output is not the input.
    EXPECT_FALSE(sameSamples(signal, output));
    EXPECT_EQ(sink.endOfStreamCount(), 1);
}

TEST_F(EffectFilterGraph, DiscontinuityTimeReachesOnlyItsOutputSample) {
    constexpr DWORD rate = 48000;
    const EffectSettings settings = otherBusySettings();
    const std::vector<float> signal = testSignal(10 * 480, rate, 11);
    StreamPlan plan = StreamPlan::frames(signal, 2, {480});
    ASSERT_EQ(plan.samples.size(), 10u);
    plan.samples[1].preroll = true;
    plan.samples[3].discontinuity = true;
    plan.samples[3].start = 10'000'000; // one second: sample position 48,000
    plan.samples[6].discontinuity = true; // a discontinuity without a time
    plan.samples[8].start = 20'000'000;   // a time without a discontinuity

    EffectChain chain;
    ASSERT_NO_FATAL_FAILURE(chain.build({floatType(rate)}, plan.largestSample(), 1));
    chain.apply(settings);
    ReferenceEffect reference(static_cast<float>(rate), settings);
    ASSERT_NO_FATAL_FAILURE(stream(chain, plan));

    const std::vector<ReceivedSample> received = chain.sinks[0]->received();
    ASSERT_EQ(received.size(), 10u);
    for (size_t i = 0; i < received.size(); ++i) {
        SCOPED_TRACE("output sample " + std::to_string(i));
        if (i == 3) {
            EXPECT_TRUE(received[i].timeResult == S_OK || received[i].timeResult == VFW_S_NO_STOP_TIME)
                << std::hex << received[i].timeResult;
            EXPECT_EQ(received[i].start, 10'000'000);
        } else {
            EXPECT_EQ(received[i].timeResult, VFW_E_SAMPLE_TIME_NOT_SET) << "start " << received[i].start;
        }
        EXPECT_EQ(received[i].discontinuity, i == 3 || i == 6);
        EXPECT_EQ(received[i].preroll, i == 1);
        EXPECT_TRUE(received[i].syncPoint);
    }
    // The rate reached the effect: the output is the 48 kHz rendering.
    EXPECT_TRUE(isFloatStereo(chain.sinks[0]->sinkPin().connectionType(), rate));
    EXPECT_TRUE(sameSamples(reference.process(signal, framesOf(plan)), chain.sinks[0]->receivedFloats()));
}

TEST_F(EffectFilterGraph, OutputsTwoToEightCarrySilenceAndEveryOutputHearsFlushes) {
    const EffectSettings settings = busySettings();
    const std::vector<float> signal = testSignal(kRate / 2, kRate, 3);
    const StreamPlan plan = StreamPlan::frames(signal, 2, {1000, 2205});

    EffectChain chain;
    ASSERT_NO_FATAL_FAILURE(chain.build({floatType(kRate)}, plan.largestSample(), 8));
    chain.apply(settings);
    ReferenceEffect reference(static_cast<float>(kRate), settings);
    // A flush before the stream reaches every output, and streaming goes on after it.
    ASSERT_TRUE(SUCCEEDED(chain.graph.run()));
    EXPECT_EQ(chain.source->flush(), S_OK);
    for (size_t k = 0; k < 8; ++k) {
        EXPECT_EQ(chain.sinks[k]->beginFlushCount(), 1) << "Output " << k + 1;
        EXPECT_EQ(chain.sinks[k]->endFlushCount(), 1) << "Output " << k + 1;
    }
    ASSERT_EQ(chain.source->deliver(plan), S_OK);
    EXPECT_TRUE(chain.graph.waitForEvent(EC_COMPLETE, 4000)) << "no EC_COMPLETE";
    EXPECT_EQ(chain.graph.stop(), S_OK);

    EXPECT_TRUE(sameSamples(reference.process(signal, framesOf(plan)), chain.sinks[0]->receivedFloats()));
    const std::vector<float> silence(signal.size(), 0.0f);
    for (size_t k = 1; k < 8; ++k) {
        SCOPED_TRACE("Output " + std::to_string(k + 1));
        EXPECT_TRUE(isFloatStereo(chain.sinks[k]->sinkPin().connectionType(), kRate));
        EXPECT_EQ(chain.sinks[k]->received().size(), plan.samples.size());
        EXPECT_TRUE(sameSamples(silence, chain.sinks[k]->receivedFloats()));
        EXPECT_EQ(chain.sinks[k]->endOfStreamCount(), 1);
    }
}

TEST_F(EffectFilterGraph, BufferLargerThanTheChannelBuffersIsProcessedWhole) {
    const EffectSettings settings = busySettings();
    // A second of settling in ordinary samples, then one sample of 40,000 frames, then more.
    const std::vector<uint32_t> sizes = {11025, 11025, 11025, 11025, 40000, 1000};
    size_t total = 0;
    for (uint32_t n : sizes)
        total += n;
    const std::vector<float> signal = testSignal(total, kRate, 21);
    const StreamPlan plan = StreamPlan::frames(signal, 2, sizes);

    // Once the settings have settled the effect renders the same whatever the block sizes; the
    // filter may cut the large sample where it likes, as long as no piece exceeds what one
    // processing call can take.
    ReferenceEffect reference(static_cast<float>(kRate), settings);
    ReferenceEffect otherCut(static_cast<float>(kRate), settings);
    const std::vector<float> expected = reference.process(signal, {11025, 11025, 11025, 11025, 32767, 7233, 1000});
    ASSERT_TRUE(sameSamples(expected, otherCut.process(signal, {11025, 11025, 11025, 11025, 20000, 20000, 1000})))
        << "the reference is not independent of the block sizes here, so the comparison would mean nothing";

    EffectChain chain;
    ASSERT_NO_FATAL_FAILURE(chain.build({floatType(kRate)}, plan.largestSample(), 1));
    chain.apply(settings);
    ASSERT_NO_FATAL_FAILURE(stream(chain, plan));

    const std::vector<ReceivedSample> received = chain.sinks[0]->received();
    ASSERT_EQ(received.size(), sizes.size());
    EXPECT_EQ(received[4].actualLength, 40000 * 8);
    EXPECT_TRUE(sameSamples(expected, chain.sinks[0]->receivedFloats()));
}

TEST_F(EffectFilterGraph, PartialFramesAndEmptySamplesAreHarmless) {
    const EffectSettings settings = busySettings();
    // Slices in bytes: whole frames, nothing, frames plus a partial frame, partial frames alone.
    const std::vector<uint32_t> sliceBytes = {800, 0, 803, 5, 7, 1600, 4, 4096 * 8 + 1};
    std::vector<uint32_t> wholeFrames;
    size_t frames = 0;
    for (uint32_t b : sliceBytes) {
        wholeFrames.push_back(b / 8);
        frames += b / 8;
    }
    const std::vector<float> signal = testSignal(frames, kRate, 13);
    StreamPlan plan;
    size_t frame = 0;
    for (uint32_t b : sliceBytes) {
        const size_t whole = b / 8;
        const auto* first = reinterpret_cast<const uint8_t*>(signal.data() + 2 * frame);
        plan.bytes.insert(plan.bytes.end(), first, first + whole * 8);
        // The tail of a partial frame: bytes that would be loud if they were ever taken as audio.
        for (uint32_t t = 0; t < b % 8; ++t)
            plan.bytes.push_back(0x7f);
        SampleSpec spec;
        spec.bytes = b;
        plan.samples.push_back(spec);
        frame += whole;
    }

    EffectChain chain;
    ASSERT_NO_FATAL_FAILURE(chain.build({floatType(kRate)}, plan.largestSample(), 1));
    chain.apply(settings);
    ReferenceEffect reference(static_cast<float>(kRate), settings);
    ASSERT_NO_FATAL_FAILURE(stream(chain, plan));

    for (const HRESULT receive : chain.source->receiveResults())
        EXPECT_EQ(receive, S_OK);
    // Every output sample holds the whole frames of its input; a trailing partial frame is not audio.
    std::vector<float> output;
    for (const ReceivedSample& r : chain.sinks[0]->received()) {
        const size_t whole = static_cast<size_t>(std::max(0L, r.actualLength)) / 8;
        ASSERT_LE(whole * 8, r.bytes.size());
        const auto* data = reinterpret_cast<const float*>(r.bytes.data());
        output.insert(output.end(), data, data + 2 * whole);
    }
    EXPECT_TRUE(sameSamples(reference.process(signal, wholeFrames), output));
}

// ---- pins and types -------------------------------------------------------------------------

TEST_F(EffectFilterGraph, PinsAreInputThenEightNumberedOutputs) {
    for (int instance = 0; instance < 2; ++instance) {
        SCOPED_TRACE(testing::Message() << "instance " << instance + 1);
        ComPtr<IBaseFilter> filter;
        ASSERT_EQ(createEffectFilter(filter), S_OK);
        const std::vector<ComPtr<IPin>> pins = pinsOf(filter.get());
        ASSERT_EQ(pins.size(), 9u);
        ComPtr<IUnknown> self = filter.query<IUnknown>(IID_IUnknown);
        for (size_t i = 0; i < pins.size(); ++i) {
            const std::wstring expected = i == 0 ? L"Input" : L"Output " + std::to_wstring(i);
            SCOPED_TRACE(std::string(expected.begin(), expected.end()));
            PIN_INFO info{};
            ASSERT_EQ(pins[i]->QueryPinInfo(&info), S_OK);
            EXPECT_EQ(std::wstring(info.achName), expected);
            EXPECT_EQ(info.dir, i == 0 ? PINDIR_INPUT : PINDIR_OUTPUT);
            ASSERT_NE(info.pFilter, nullptr);
            ComPtr<IBaseFilter> owner(info.pFilter);
            EXPECT_EQ(owner.query<IUnknown>(IID_IUnknown).get(), self.get());
            PIN_DIRECTION direction{};
            EXPECT_EQ(pins[i]->QueryDirection(&direction), S_OK);
            EXPECT_EQ(direction, info.dir);
            LPWSTR id = nullptr;
            ASSERT_EQ(pins[i]->QueryId(&id), S_OK);
            ASSERT_NE(id, nullptr);
            ComPtr<IPin> found;
            EXPECT_EQ(filter->FindPin(id, found.put()), S_OK);
            EXPECT_EQ(found.get(), pins[i].get());
            CoTaskMemFree(id);
            ComPtr<IPin> peer;
            EXPECT_EQ(pins[i]->ConnectedTo(peer.put()), VFW_E_NOT_CONNECTED);
            EXPECT_FALSE(peer);
        }
        ComPtr<IPin> none;
        EXPECT_TRUE(FAILED(filter->FindPin(L"Output 9", none.put())));

        // The enumerator's cursor: skip to the last pin, clone, run off the end.
        ComPtr<IEnumPins> list;
        ASSERT_EQ(filter->EnumPins(list.put()), S_OK);
        EXPECT_EQ(list->Skip(8), S_OK);
        ComPtr<IEnumPins> copy;
        ASSERT_EQ(list->Clone(copy.put()), S_OK);
        IPin* got[2] = {nullptr, nullptr};
        ULONG fetched = 0;
        EXPECT_EQ(copy->Next(2, got, &fetched), S_FALSE);
        ASSERT_EQ(fetched, 1u);
        EXPECT_EQ(got[0], pins[8].get());
        got[0]->Release();
        EXPECT_EQ(list->Skip(2), S_FALSE);
        EXPECT_EQ(list->Reset(), S_OK);
        ASSERT_EQ(list->Next(1, got, &fetched), S_OK);
        EXPECT_EQ(got[0], pins[0].get());
        got[0]->Release();
    }
}

TEST_F(EffectFilterGraph, InputTakesOnlyFloatStereo) {
    Graph graph;
    ASSERT_TRUE(graph.valid());
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(createEffectFilter(filter), S_OK);
    ASSERT_EQ(graph.add(filter.get(), L"Pellucer"), S_OK);
    const std::vector<ComPtr<IPin>> pins = pinsOf(filter.get());
    ASSERT_EQ(pins.size(), 9u);
    IPin* input = pins[0].get();

    for (auto& [what, type] : refusedTypes(kRate)) {
        SCOPED_TRACE(what);
        ComPtr<TestSource> source(TestSource::create({type}));
        ASSERT_EQ(graph.add(source.get(), L"Source"), S_OK);
        EXPECT_TRUE(FAILED(graph.connect(source->outputPin(), input)));
        // The same type named in the request, and as the upstream pin proposes it.
        EXPECT_TRUE(FAILED(graph.connect(source->outputPin(), input, type.ptr())));
        EXPECT_EQ(input->ReceiveConnection(source->outputPin(), type.ptr()), VFW_E_TYPE_NOT_ACCEPTED);
        EXPECT_NE(input->QueryAccept(&type.get()), S_OK);
        EXPECT_FALSE(peerOf(input));
        EXPECT_EQ(graph.builder->RemoveFilter(source.get()), S_OK);
    }

    // Float stereo at any rate; from a list of types the float one is the one taken.
    for (DWORD rate : {22050u, 96000u, 44100u}) {
        SCOPED_TRACE(rate);
        ComPtr<TestSource> source(TestSource::create({pcmType(rate, 2, 16), floatType(rate, 1), floatType(rate)}));
        ASSERT_EQ(graph.add(source.get(), L"Source"), S_OK);
        ASSERT_EQ(graph.connect(source->outputPin(), input), S_OK);
        EXPECT_EQ(input->QueryAccept(&floatType(rate).get()), S_OK);
        EXPECT_EQ(peerOf(input).get(), source->outputPin());
        AM_MEDIA_TYPE connected{};
        ASSERT_EQ(input->ConnectionMediaType(&connected), S_OK);
        EXPECT_TRUE(isFloatStereo(connected, rate));
        freeMediaType(connected);
        EXPECT_EQ(graph.builder->RemoveFilter(source.get()), S_OK);
        EXPECT_FALSE(peerOf(input));
    }
}

TEST_F(EffectFilterGraph, OutputTakesOnlyTheInputsFloatStereo) {
    Graph graph;
    ASSERT_TRUE(graph.valid());
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(createEffectFilter(filter), S_OK);
    ASSERT_EQ(graph.add(filter.get(), L"Pellucer"), S_OK);
    const std::vector<ComPtr<IPin>> pins = pinsOf(filter.get());
    ASSERT_EQ(pins.size(), 9u);
    ComPtr<TestSink> sink(TestSink::create());
    ASSERT_EQ(graph.add(sink.get(), L"Sink"), S_OK);
    IPin* output = pins[1].get();

    // Nothing comes out while nothing goes in.
    EXPECT_TRUE(FAILED(graph.connect(output, sink->inputPin())));
    EXPECT_TRUE(FAILED(graph.connect(output, sink->inputPin(), &floatType(kRate).get())));
    EXPECT_NE(output->QueryAccept(&floatType(kRate).get()), S_OK);
    EXPECT_FALSE(sink->sinkPin().isConnected());
    {
        ComPtr<IEnumMediaTypes> types;
        if (SUCCEEDED(output->EnumMediaTypes(types.put())) && types) {
            AM_MEDIA_TYPE* type = nullptr;
            ULONG fetched = 0;
            EXPECT_NE(types->Next(1, &type, &fetched), S_OK) << "a type offered without an input";
            if (fetched == 1)
                deleteMediaType(type);
        }
    }

    ComPtr<TestSource> source(TestSource::create({floatType(kRate)}));
    ASSERT_EQ(graph.add(source.get(), L"Source"), S_OK);
    ASSERT_EQ(graph.connect(source->outputPin(), pins[0].get()), S_OK);

    std::vector<std::pair<const char*, AudioType>> refused = refusedTypes(kRate);
    refused.emplace_back("float stereo at another rate", floatType(48000));
    for (auto& [what, type] : refused) {
        SCOPED_TRACE(what);
        EXPECT_TRUE(FAILED(graph.connect(output, sink->inputPin(), &type.get())));
        EXPECT_NE(output->QueryAccept(&type.get()), S_OK);
        EXPECT_FALSE(sink->sinkPin().isConnected());
        EXPECT_FALSE(peerOf(output));
    }

    // The output proposes the input's type, and the sink gets exactly that.
    {
        ComPtr<IEnumMediaTypes> types;
        ASSERT_EQ(output->EnumMediaTypes(types.put()), S_OK);
        AM_MEDIA_TYPE* type = nullptr;
        ULONG fetched = 0;
        ASSERT_EQ(types->Next(1, &type, &fetched), S_OK);
        ASSERT_EQ(fetched, 1u);
        EXPECT_TRUE(isFloatStereo(*type, kRate));
        deleteMediaType(type);
    }
    ASSERT_EQ(graph.connect(output, sink->inputPin()), S_OK);
    EXPECT_TRUE(isFloatStereo(sink->sinkPin().connectionType(), kRate));

    // With an output connected at 44.1 kHz, a new input at 48 kHz would break that output.
    EXPECT_EQ(graph.builder->RemoveFilter(source.get()), S_OK);
    ComPtr<TestSource> faster(TestSource::create({floatType(48000)}));
    ASSERT_EQ(graph.add(faster.get(), L"Faster"), S_OK);
    EXPECT_TRUE(FAILED(graph.connect(faster->outputPin(), pins[0].get())));
    EXPECT_EQ(pins[0]->ReceiveConnection(faster->outputPin(), floatType(48000).ptr()), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_TRUE(sink->sinkPin().isConnected());
}

TEST_F(EffectFilterGraph, WaveParsersExtensibleTypeIsRefusedAndBothStayUsable) {
    // A 32-bit float WAV file with format tag 3; Wine's parser offers it as WAVE_FORMAT_EXTENSIBLE.
    const std::vector<float> content = testSignal(4410, kRate, 17);
    char folder[MAX_PATH];
    ASSERT_NE(GetTempPathA(MAX_PATH, folder), 0u);
    const std::filesystem::path file = std::filesystem::path(folder) /
                                       ("pellucer-graph-" + std::to_string(GetCurrentProcessId()) + ".wav");
    {
        std::ofstream out(file, std::ios::binary);
        auto put32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
        auto put16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
        const uint32_t dataBytes = static_cast<uint32_t>(content.size() * sizeof(float));
        out.write("RIFF", 4);
        put32(4 + 8 + 18 + 8 + dataBytes);
        out.write("WAVEfmt ", 8);
        put32(18);
        put16(WAVE_FORMAT_IEEE_FLOAT);
        put16(2);
        put32(kRate);
        put32(kRate * 8);
        put16(8);
        put16(32);
        put16(0);
        out.write("data", 4);
        put32(dataBytes);
        out.write(reinterpret_cast<const char*>(content.data()), dataBytes);
        ASSERT_TRUE(out.good());
    }

    {
        Graph graph;
        ASSERT_TRUE(graph.valid());
        ComPtr<IBaseFilter> reader, parser, filter;
        ASSERT_EQ(CoCreateInstance(CLSID_AsyncReader, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, reader.putVoid()),
                  S_OK);
        ASSERT_EQ(CoCreateInstance(kClsidWaveParser, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, parser.putVoid()),
                  S_OK);
        ASSERT_EQ(createEffectFilter(filter), S_OK);
        ComPtr<IFileSourceFilter> load = reader.query<IFileSourceFilter>(IID_IFileSourceFilter);
        ASSERT_TRUE(load);
        ASSERT_EQ(load->Load(file.wstring().c_str(), nullptr), S_OK);
        ASSERT_EQ(graph.add(reader.get(), L"Reader"), S_OK);
        ASSERT_EQ(graph.add(parser.get(), L"Parser"), S_OK);
        ASSERT_EQ(graph.add(filter.get(), L"Pellucer"), S_OK);
        const std::vector<ComPtr<IPin>> readerPins = pinsOf(reader.get());
        const std::vector<ComPtr<IPin>> parserPins = pinsOf(parser.get());
        ASSERT_EQ(readerPins.size(), 1u);
        ASSERT_FALSE(parserPins.empty());
        ASSERT_EQ(graph.connect(readerPins[0].get(), parserPins[0].get()), S_OK);

        ComPtr<IPin> parserOut;
        for (const ComPtr<IPin>& pin : pinsOf(parser.get())) {
            PIN_DIRECTION direction{};
            if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == PINDIR_OUTPUT)
                parserOut = pin;
        }
        ASSERT_TRUE(parserOut) << "the parser made no output pin";
        {
            ComPtr<IEnumMediaTypes> types;
            ASSERT_EQ(parserOut->EnumMediaTypes(types.put()), S_OK);
            AM_MEDIA_TYPE* type = nullptr;
            ULONG fetched = 0;
            ASSERT_EQ(types->Next(1, &type, &fetched), S_OK);
            ASSERT_EQ(type->cbFormat, 40u);
            const auto* format = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(type->pbFormat);
            EXPECT_EQ(format->Format.wFormatTag, WAVE_FORMAT_EXTENSIBLE);
            EXPECT_EQ(format->Format.nChannels, 2);
            EXPECT_EQ(format->Format.wBitsPerSample, 32);
            EXPECT_TRUE(IsEqualGUID(format->SubFormat, kSubFormatIeeeFloat));
            deleteMediaType(type);
        }

        const std::vector<ComPtr<IPin>> pins = pinsOf(filter.get());
        ASSERT_EQ(pins.size(), 9u);
        const HRESULT refused = graph.connect(parserOut.get(), pins[0].get());
        EXPECT_TRUE(refused == VFW_E_TYPE_NOT_ACCEPTED || refused == VFW_E_NO_ACCEPTABLE_TYPES ||
                    refused == VFW_E_CANNOT_CONNECT)
            << std::hex << refused;
        EXPECT_FALSE(peerOf(pins[0].get()));
        EXPECT_FALSE(peerOf(parserOut.get()));

        // Both remain usable: the parser still offers its stream, and the filter streams from our source.
        ComPtr<TestSink> parserSink(TestSink::create());
        ASSERT_EQ(graph.add(parserSink.get(), L"Parser sink"), S_OK);
        EXPECT_EQ(graph.connect(parserOut.get(), parserSink->inputPin()), S_OK);

        const EffectSettings settings = busySettings();
        settings.applyTo(effectRecordOf(filter.get()));
        ReferenceEffect reference(static_cast<float>(kRate), settings);
        const StreamPlan plan = StreamPlan::frames(content, 2, {441});
        ComPtr<TestSource> source(TestSource::create({floatType(kRate)}, plan.largestSample()));
        ComPtr<TestSink> sink(TestSink::create());
        ASSERT_EQ(graph.add(source.get(), L"Source"), S_OK);
        ASSERT_EQ(graph.add(sink.get(), L"Sink"), S_OK);
        ASSERT_EQ(graph.connect(source->outputPin(), pins[0].get()), S_OK);
        ASSERT_EQ(graph.connect(pins[1].get(), sink->inputPin()), S_OK);
        ASSERT_TRUE(SUCCEEDED(graph.run()));
        EXPECT_EQ(source->deliver(plan), S_OK);
        // Both renderers end: the parser's stream and ours.
        EXPECT_TRUE(graph.waitForEvent(EC_COMPLETE, 4000));
        EXPECT_EQ(graph.stop(), S_OK);
        EXPECT_TRUE(sameSamples(reference.process(content, framesOf(plan)), sink->receivedFloats()));
        EXPECT_TRUE(sameSamples(content, parserSink->receivedFloats()));
    }
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
}

// ---- several filters and threads ------------------------------------------------------------

TEST_F(EffectFilterGraph, TwoGraphsOnTwoThreadsEachGetTheirOwnOutput) {
    // Every filter of the process renders through the same channel buffers; two graphs streaming
    // at once must still each get exactly their own rendering. Large samples keep each filter
    // inside its processing for a good while, so that unguarded buffers would be overwritten
    // by the other graph.
    const EffectSettings settingsA = busySettings();
    const EffectSettings settingsB = otherBusySettings();
    const std::vector<float> signalA = testSignal(3 * kRate, kRate, 101);
    const std::vector<float> signalB = testSignal(3 * kRate + 777, kRate, 202);
    const StreamPlan planA = StreamPlan::frames(signalA, 2, {8192, 5000});
    const StreamPlan planB = StreamPlan::frames(signalB, 2, {7000, 8192, 3000});
    ReferenceEffect referenceA(static_cast<float>(kRate), settingsA);
    ReferenceEffect referenceB(static_cast<float>(kRate), settingsB);

    EffectChain a, b;
    ASSERT_NO_FATAL_FAILURE(a.build({floatType(kRate)}, planA.largestSample(), 1));
    ASSERT_NO_FATAL_FAILURE(b.build({floatType(kRate)}, planB.largestSample(), 1));
    a.apply(settingsA);
    b.apply(settingsB);

    ASSERT_TRUE(SUCCEEDED(a.graph.run()));
    ASSERT_TRUE(SUCCEEDED(b.graph.run()));
    a.source->startStreaming(planA);
    b.source->startStreaming(planB);
    EXPECT_EQ(a.source->finishStreaming(), S_OK);
    EXPECT_EQ(b.source->finishStreaming(), S_OK);
    EXPECT_TRUE(a.graph.waitForEvent(EC_COMPLETE, 4000));
    EXPECT_TRUE(b.graph.waitForEvent(EC_COMPLETE, 4000));
    a.graph.stop();
    b.graph.stop();

    const std::vector<ReceivedSample> gotA = a.sinks[0]->received();
    const std::vector<ReceivedSample> gotB = b.sinks[0]->received();
    ASSERT_FALSE(gotA.empty());
    ASSERT_FALSE(gotB.empty());
    // Two streaming threads, neither of them this one, and the streams overlapped in time.
    EXPECT_NE(gotA.front().threadId, gotB.front().threadId);
    EXPECT_NE(gotA.front().threadId, GetCurrentThreadId());
    EXPECT_LT(gotA.front().arrivalTicks, gotB.back().arrivalTicks);
    EXPECT_LT(gotB.front().arrivalTicks, gotA.back().arrivalTicks);

    EXPECT_TRUE(sameSamples(referenceA.process(signalA, framesOf(planA)), a.sinks[0]->receivedFloats()));
    EXPECT_TRUE(sameSamples(referenceB.process(signalB, framesOf(planB)), b.sinks[0]->receivedFloats()));
}

TEST_F(EffectFilterGraph, ProcessingWaitsForTheSharedNamedMutex) {
    const EffectSettings settings = busySettings();
    const std::vector<float> signal = testSignal(3 * 441, kRate, 31);
    const StreamPlan plan = StreamPlan::frames(signal, 2, {441});
    EffectChain chain;
    ASSERT_NO_FATAL_FAILURE(chain.build({floatType(kRate)}, plan.largestSample(), 1));
    chain.apply(settings);
    ReferenceEffect reference(static_cast<float>(kRate), settings);
    // While another party holds the mutex nothing is processed (well within the filter's own
    // patience of one second).
    size_t whileHeld = 0;
    ASSERT_NO_FATAL_FAILURE(streamWhileMutexHeld(chain, plan, 300, whileHeld));
    EXPECT_EQ(whileHeld, 0u) << "samples were processed while another party held the mutex";
    EXPECT_EQ(chain.sinks[0]->received().size(), 3u);
    EXPECT_TRUE(sameSamples(reference.process(signal, framesOf(plan)), chain.sinks[0]->receivedFloats()));
}

TEST_F(EffectFilterGraph, ABufferThatWaitsMoreThanASecondIsDroppedAndTheStreamGoesOn) {
    // The filter's patience with the shared mutex is one second: a buffer that cannot get it in
    // that time is answered S_OK and delivers nothing; the next buffer is processed normally.
    const std::vector<float> signal = testSignal(2 * 441, kRate, 37);
    const StreamPlan plan = StreamPlan::frames(signal, 2, {441});
    EffectChain chain;
    ASSERT_NO_FATAL_FAILURE(chain.build({floatType(kRate)}, plan.largestSample(), 1));
    chain.apply(busySettings());
    // The first buffer gives up at one second; the second waits from then and gets the mutex
    // when it is released half a second later.
    size_t whileHeld = 0;
    ASSERT_NO_FATAL_FAILURE(streamWhileMutexHeld(chain, plan, 1500, whileHeld));

    EXPECT_EQ(whileHeld, 0u);
    for (const HRESULT receive : chain.source->receiveResults())
        EXPECT_EQ(receive, S_OK);
    ASSERT_EQ(chain.sinks[0]->received().size(), 1u) << "the buffer that timed out was delivered";
    // What came out is the second buffer processed by an effect that never saw the first.
    ReferenceEffect reference(static_cast<float>(kRate), busySettings());
    const std::vector<float> second(signal.begin() + 2 * 441, signal.end());
    EXPECT_TRUE(sameSamples(reference.process(second, {441}), chain.sinks[0]->receivedFloats()));
}

TEST_F(EffectFilterGraph, TwentyFiltersInSeriesThenTheModuleCanUnload) {
    constexpr size_t kFilters = 20;
    const std::vector<float> signal = testSignal(kRate / 10, kRate, 41);
    const StreamPlan plan = StreamPlan::frames(signal, 2, {1000, 410});

    // The references in series: each effect with its first program, as a new filter has it.
    std::vector<float> expected = signal;
    for (size_t k = 0; k < kFilters; ++k) {
        ReferenceEffect reference(static_cast<float>(kRate), EffectSettings{});
        expected = reference.process(expected, framesOf(plan));
    }

    {
        Graph graph;
        ASSERT_TRUE(graph.valid());
        std::vector<ComPtr<IBaseFilter>> filters(kFilters);
        std::vector<std::vector<ComPtr<IPin>>> pins;
        for (size_t k = 0; k < kFilters; ++k) {
            ASSERT_EQ(createEffectFilter(filters[k]), S_OK);
            ASSERT_EQ(graph.add(filters[k].get(), (L"Pellucer " + std::to_wstring(k)).c_str()), S_OK);
            pins.push_back(pinsOf(filters[k].get()));
            ASSERT_EQ(pins.back().size(), 9u);
        }
        EXPECT_EQ(moduleCanUnloadNow(), S_FALSE);

        ComPtr<TestSource> source(TestSource::create({floatType(kRate)}, plan.largestSample()));
        ComPtr<TestSink> sink(TestSink::create());
        ASSERT_EQ(graph.add(source.get(), L"Source"), S_OK);
        ASSERT_EQ(graph.add(sink.get(), L"Sink"), S_OK);
        ASSERT_EQ(graph.connect(source->outputPin(), pins[0][0].get()), S_OK);
        for (size_t k = 0; k + 1 < kFilters; ++k)
            ASSERT_EQ(graph.connect(pins[k][1].get(), pins[k + 1][0].get()), S_OK) << "filter " << k;
        ASSERT_EQ(graph.connect(pins[kFilters - 1][1].get(), sink->inputPin()), S_OK);

        ASSERT_TRUE(SUCCEEDED(graph.run()));
        EXPECT_EQ(source->deliver(plan), S_OK);
        EXPECT_TRUE(graph.waitForEvent(EC_COMPLETE, 4000));
        EXPECT_EQ(graph.stop(), S_OK);
        EXPECT_TRUE(sameSamples(expected, sink->receivedFloats()));
    }
    // Graph, filters, pins, enumerators and media types are all gone.
    EXPECT_EQ(moduleCanUnloadNow(), S_OK);
}

} // namespace
} // namespace pellucer::dx::graphtest
