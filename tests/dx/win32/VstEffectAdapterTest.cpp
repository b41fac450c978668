// The effect adapter of the DirectX shell: what it answers the effect as its host, how it creates
// and ends the effect, and how it runs the effect over a stretch of
// interleaved frames (time information, pieces, output pin buffer pairs).

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/AudioEffect.h"
#include "dx/filter/VstEffectAdapter.h"
#include "tests/dx/win32/EffectTestSupport.h"

extern "C" vst::AEffect* VSTPluginMain(vst::audioMasterCallback host);

namespace pellucer::dx {
namespace {

using namespace effecttest;
using vst::VstIntPtr;

struct CaptureLog final : ParameterCaptureListener {
    void beginCapture(int32_t index) override { record("B", index); }
    void endCapture(int32_t index) override { record("E", index); }
    void parameterChanged(int32_t index, float value) override { record("C", index, &value); }
    void record(const char* kind, int32_t index, const float* value = nullptr) {
        std::string call(kind);
        call.append(std::to_string(index));
        if (value != nullptr)
            call.append("=").append(std::to_string(*value));
        calls.push_back(call);
    }
    std::vector<std::string> calls;
};

struct FixedTempo final : TempoSource {
    bool tempoAt(int64_t position, int32_t& hundredthsBpm) override {
        positions.push_back(position);
        hundredthsBpm = tempo;
        return known;
    }
    int32_t tempo = 12000;
    bool known = true;
    std::vector<int64_t> positions;
};

// One adapter with the recording effect (or another entry).
struct AdapterRig {
    explicit AdapterRig(VstEffectAdapter::EntryPoint entry = &recordingEntry) {
        gEffectLog.reset();
        created = adapter.create(entry);
    }
    VstIntPtr host(vst::VstInt32 opcode, vst::VstInt32 index = 0, float opt = 0.0f, void* ptr = nullptr) {
        return VstEffectAdapter::hostCallback(adapter.effect(), opcode, index, 0, ptr, opt);
    }
    CriticalSection lock;
    VstEffectAdapter adapter{lock};
    HRESULT created = E_FAIL;
};

TEST(VstEffectAdapter, HostCallbackAnswersVersionIdLanguageAndProductString) {
    AdapterRig rig;
    ASSERT_EQ(S_OK, rig.created);
    EXPECT_EQ(107, rig.host(vst::audioMasterVersion));
    // 'tsly' with 't' in the highest byte.
    EXPECT_EQ(0x74736C79, rig.host(vst::audioMasterCurrentId));
    EXPECT_EQ(1, rig.host(vst::audioMasterGetLanguage));
    char product[64];
    std::memset(product, 'x', sizeof(product));
    EXPECT_EQ(0, rig.host(vst::audioMasterGetProductString, 0, 0.0f, product));
    EXPECT_EQ('\0', product[0]);
    // Everything else, listed or beyond 38, is 0.
    for (const vst::VstInt32 opcode : {3, 6, 8, 13, 16, 17, 23, 24, 32, 34, 37, 39, 41, 43, 44, 1000})
        EXPECT_EQ(0, rig.host(opcode)) << "opcode " << opcode;
    // Before the effect carries the adapter (the entry's version query) the fixed answers hold.
    EXPECT_EQ(107, VstEffectAdapter::hostCallback(nullptr, vst::audioMasterVersion, 0, 0, nullptr, 0.0f));
    EXPECT_EQ(0, VstEffectAdapter::hostCallback(nullptr, vst::audioMasterGetTime, 0, 0, nullptr, 0.0f));
}

TEST(VstEffectAdapter, GetTimeAlwaysHandsOutTheSameRecordWithFlagsZero) {
    AdapterRig rig;
    ASSERT_EQ(S_OK, rig.created);
    FixedTempo tempo;
    rig.adapter.setTempoSource(&tempo);
    const graphtest::AudioType format = graphtest::floatType(48000);
    rig.adapter.setOutputFormat(format.wave());

    const VstIntPtr first = rig.host(vst::audioMasterGetTime, 0, 0.0f);
    std::vector<BYTE> input(64 * 8);
    rig.adapter.setSamplePosition(12345);
    rig.adapter.process(input.data(), 64, nullptr, 0);
    const VstIntPtr second = rig.host(vst::audioMasterGetTime, 0, 0.0f);

    EXPECT_EQ(reinterpret_cast<VstIntPtr>(&rig.adapter.timeInfo()), first);
    EXPECT_EQ(first, second);
    const auto* time = reinterpret_cast<const vst::VstTimeInfo*>(second);
    EXPECT_EQ(0, time->flags);
    EXPECT_EQ(0.0, time->samplePos);
    EXPECT_EQ(0.0, time->sampleRate);
    EXPECT_EQ(120.0, time->tempo);
}

vst::AEffect* nullEntry(vst::audioMasterCallback) { return nullptr; }
vst::AEffect gForeignRecord{}; // magic 0
vst::AEffect* foreignEntry(vst::audioMasterCallback) { return &gForeignRecord; }

TEST(VstEffectAdapter, CreationKeepsOnlyAnEffectWithTheVstMagic) {
    AdapterRig real(&VSTPluginMain);
    ASSERT_EQ(S_OK, real.created);
    EXPECT_EQ(vst::kEffectMagic, real.adapter.effect()->magic);
    EXPECT_EQ(&real.adapter, real.adapter.effect()->user);
    EXPECT_EQ(39, real.adapter.effect()->numParams);

    AdapterRig none(&nullEntry);
    EXPECT_EQ(E_FAIL, none.created);
    EXPECT_EQ(nullptr, none.adapter.effect());
    AdapterRig foreign(&foreignEntry);
    EXPECT_EQ(E_FAIL, foreign.created);
    EXPECT_EQ(nullptr, foreign.adapter.effect());
}

TEST(VstEffectAdapter, DestructionClosesTheEditorThenTheEffect) {
    {
        AdapterRig rig;
        ASSERT_EQ(S_OK, rig.created);
        EXPECT_TRUE(gEffectLog.opcodes.empty()); // never effOpen, effMainsChanged or effSetSampleRate
    }
    EXPECT_EQ((std::vector<vst::VstInt32>{vst::effEditClose, vst::effClose}), gEffectLog.opcodes);
    EXPECT_TRUE(gEffectLog.destroyed);
}

TEST(VstEffectAdapter, SampleRateReachesTheEffectOnlyWhenItChanges) {
    AdapterRig rig;
    ASSERT_EQ(S_OK, rig.created);
    EXPECT_EQ(-1, rig.adapter.lastSampleRate());
    rig.adapter.setEffectSampleRate(48000);
    rig.adapter.setEffectSampleRate(48000);
    rig.adapter.setEffectSampleRate(44100);
    rig.adapter.forgetSampleRate();
    rig.adapter.setEffectSampleRate(44100);
    EXPECT_EQ((std::vector<float>{48000.0f, 44100.0f, 44100.0f}), gEffectLog.sampleRates);
    EXPECT_EQ(44100, rig.adapter.lastSampleRate());
    // Through setSampleRate, never through the dispatcher.
    EXPECT_TRUE(gEffectLog.opcodes.empty());
}

TEST(VstEffectAdapter, PpqPositionFollowsTheSamplePositionAtTheHostTempo) {
    AdapterRig rig;
    ASSERT_EQ(S_OK, rig.created);
    const graphtest::AudioType format = graphtest::floatType(48000);
    rig.adapter.setOutputFormat(format.wave());
    std::vector<BYTE> input(480 * 8);

    // No tempo known: the record's tempo stays 0 and so does the position in beats.
    rig.adapter.setSamplePosition(96000);
    rig.adapter.process(input.data(), 480, nullptr, 0);
    EXPECT_EQ(0.0, gEffectLog.tempos.back());
    EXPECT_EQ(0.0, gEffectLog.ppqPositions.back());

    FixedTempo tempo;
    rig.adapter.setTempoSource(&tempo);
    rig.adapter.setSamplePosition(96000);
    rig.adapter.process(input.data(), 480, nullptr, 0);
    // 96000 frames at 48 kHz = 2 s = 4 beats at 120 BPM.
    EXPECT_EQ(96000, tempo.positions.back());
    EXPECT_DOUBLE_EQ(120.0, gEffectLog.tempos.back());
    EXPECT_DOUBLE_EQ(4.0, gEffectLog.ppqPositions.back());
    EXPECT_EQ(96480, rig.adapter.samplePosition());

    tempo.tempo = 9050; // 90.5 BPM
    rig.adapter.process(input.data(), 480, nullptr, 0);
    EXPECT_DOUBLE_EQ(90.5, gEffectLog.tempos.back());
    EXPECT_DOUBLE_EQ(96480.0 / (48000.0 * 60.0) * 90.5, gEffectLog.ppqPositions.back());

    // Tempi of 0 or below, and unknown ones, leave the last tempo in place.
    tempo.tempo = 0;
    rig.adapter.process(input.data(), 480, nullptr, 0);
    tempo.tempo = 15000;
    tempo.known = false;
    rig.adapter.process(input.data(), 480, nullptr, 0);
    EXPECT_DOUBLE_EQ(90.5, gEffectLog.tempos.back());
    EXPECT_EQ(96000 + 4 * 480, rig.adapter.samplePosition());
}

TEST(VstEffectAdapter, LongStretchesRunInPiecesAndEachPinGetsItsBufferPair) {
    AdapterRig rig;
    ASSERT_EQ(S_OK, rig.created);
    gEffectLog.writeSecondPair = true;
    const graphtest::AudioType format = graphtest::floatType(44100);
    rig.adapter.setOutputFormat(format.wave());

    constexpr int kFrames = 40000;
    FakeSample* input = FakeSample::stereoRamp(kFrames);
    constexpr int kOffsetBytes = 16;
    std::vector<float> first(2 * kFrames + kOffsetBytes / 4, 9.0f);
    std::vector<float> second(2 * kFrames, 9.0f);
    std::vector<float> beyond(2 * kFrames, 9.0f);
    OutputDescriptor outputs[3];
    outputs[0].channelPair = 0;
    outputs[0].byteOffset = kOffsetBytes;
    outputs[0].data = reinterpret_cast<BYTE*>(first.data());
    outputs[1].channelPair = 1;
    outputs[1].data = reinterpret_cast<BYTE*>(second.data());
    outputs[2].channelPair = 10; // no buffers of its own: silence
    outputs[2].data = reinterpret_cast<BYTE*>(beyond.data());

    rig.adapter.process(input->bytes().data(), kFrames, outputs, 3);

    EXPECT_EQ((std::vector<int>{32767, 7233}), gEffectLog.processedFrames());
    const auto* in = reinterpret_cast<const float*>(input->bytes().data());
    // The frames the offset skipped stay as they were.
    EXPECT_EQ(9.0f, first[0]);
    EXPECT_EQ(9.0f, first[3]);
    int wrong = 0;
    for (int i = 0; i < 2 * kFrames; ++i) {
        wrong += first[static_cast<size_t>(i) + kOffsetBytes / 4] != in[i];
        wrong += second[static_cast<size_t>(i)] != -in[i];
        wrong += beyond[static_cast<size_t>(i)] != 0.0f;
    }
    EXPECT_EQ(0, wrong);
    // Around the seam between the pieces.
    EXPECT_EQ(in[2 * 32767], first[2 * 32767 + kOffsetBytes / 4]);
    EXPECT_NE(0.0f, in[2 * 32767 + 1]);
    input->Release();
}

} // namespace
} // namespace pellucer::dx
