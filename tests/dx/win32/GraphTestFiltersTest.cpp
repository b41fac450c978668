// The graph tests' own source and sink, checked against Wine's filter graph before they are
// trusted to judge the effect filter: samples arrive bit-exact with their times and flags, the
// graph sends EC_COMPLETE, and type negotiation picks the first type the sink takes.

#include <gtest/gtest.h>

#include "tests/dx/win32/GraphTestSupport.h"

namespace pellucer::dx::graphtest {
namespace {

TEST(GraphTestFilters, SourceReachesSinkBitExactWithTimesAndFlags) {
    ComApartment com;
    ASSERT_TRUE(SUCCEEDED(com.result()));
    const std::vector<float> signal = testSignal(3000, 44100.0, 5);
    StreamPlan plan = StreamPlan::frames(signal, 2, {1000, 441, 37});
    ASSERT_GE(plan.samples.size(), 5u);
    plan.samples[1].discontinuity = true;
    plan.samples[1].start = 2'500'000;
    plan.samples[3].preroll = true;

    {
        Graph graph;
        ASSERT_TRUE(graph.valid());
        ComPtr<TestSource> source(TestSource::create({floatType(44100)}, plan.largestSample()));
        ComPtr<TestSink> sink(TestSink::create());
        ASSERT_EQ(graph.add(source.get(), L"Source"), S_OK);
        ASSERT_EQ(graph.add(sink.get(), L"Sink"), S_OK);
        ASSERT_EQ(graph.connect(source->outputPin(), sink->inputPin()), S_OK);
        ASSERT_EQ(graph.run(), S_OK);
        source->startStreaming(plan);
        EXPECT_EQ(source->finishStreaming(), S_OK);
        EXPECT_TRUE(graph.waitForEvent(EC_COMPLETE, 3000));
        EXPECT_EQ(graph.stop(), S_OK);

        EXPECT_TRUE(sameSamples(signal, sink->receivedFloats()));
        const std::vector<ReceivedSample> received = sink->received();
        ASSERT_EQ(received.size(), plan.samples.size());
        for (size_t i = 0; i < received.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(received[i].actualLength, static_cast<long>(plan.samples[i].bytes));
            EXPECT_EQ(received[i].discontinuity, i == 1);
            EXPECT_EQ(received[i].preroll, i == 3);
            EXPECT_TRUE(received[i].syncPoint);
            EXPECT_NE(received[i].threadId, GetCurrentThreadId());
            if (i == 1) {
                EXPECT_EQ(received[i].timeResult, S_OK);
                EXPECT_EQ(received[i].start, 2'500'000);
            } else {
                // A reused buffer must not bring back an earlier sample's time.
                EXPECT_EQ(received[i].timeResult, VFW_E_SAMPLE_TIME_NOT_SET);
            }
        }
        EXPECT_EQ(sink->endOfStreamCount(), 1);
        EXPECT_EQ(sink->refusedReceives(), 0);
        const MediaType connected = sink->sinkPin().connectionType();
        const WAVEFORMATEX* wave = connected.wave();
        ASSERT_NE(wave, nullptr);
        EXPECT_EQ(wave->wFormatTag, WAVE_FORMAT_IEEE_FLOAT);
    }
}

TEST(GraphTestFilters, NegotiationTakesTheFirstTypeTheSinkAccepts) {
    ComApartment com;
    ASSERT_TRUE(SUCCEEDED(com.result()));
    Graph graph;
    ASSERT_TRUE(graph.valid());
    ComPtr<TestSink> sink(TestSink::create());
    sink->setAcceptance([](const AM_MEDIA_TYPE& type) {
        return type.cbFormat >= 16 && reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat)->wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
    });
    ASSERT_EQ(graph.add(sink.get(), L"Sink"), S_OK);

    ComPtr<TestSource> pcmOnly(TestSource::create({pcmType(44100, 2, 16)}));
    ASSERT_EQ(graph.add(pcmOnly.get(), L"PCM"), S_OK);
    EXPECT_TRUE(FAILED(graph.connect(pcmOnly->outputPin(), sink->inputPin())));
    EXPECT_EQ(pcmOnly->receiveConnectionResults(), std::vector<HRESULT>{VFW_E_TYPE_NOT_ACCEPTED});
    EXPECT_FALSE(sink->sinkPin().isConnected());

    ComPtr<TestSource> both(TestSource::create({pcmType(44100, 2, 16), floatType(48000)}));
    ASSERT_EQ(graph.add(both.get(), L"Both"), S_OK);
    ASSERT_EQ(graph.connect(both->outputPin(), sink->inputPin()), S_OK);
    EXPECT_EQ(both->receiveConnectionResults(), (std::vector<HRESULT>{VFW_E_TYPE_NOT_ACCEPTED, S_OK}));
    const MediaType connected = sink->sinkPin().connectionType();
    const WAVEFORMATEX* wave = connected.wave();
    ASSERT_NE(wave, nullptr);
    EXPECT_EQ(wave->nSamplesPerSec, 48000u);
    EXPECT_EQ(graph.builder->RemoveFilter(both.get()), S_OK);
    EXPECT_FALSE(sink->sinkPin().isConnected());
    EXPECT_FALSE(both->sourcePin().isConnected());
}

} // namespace
} // namespace pellucer::dx::graphtest
