// Drives the built plug-in module the way a VST 2.4 host does: load the file, call its entry,
// talk to the effect record through the dispatcher and the process functions, close it.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "vst/VstAbi.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

using namespace vst;

namespace {

using EntryProc = AEffect* (*)(audioMasterCallback);

// The module under test, loaded once per process.
class Module {
public:
    Module() {
#ifdef _WIN32
        handle_ = LoadLibraryA(PELLUCER_VST_MODULE);
        if (handle_ != nullptr) {
            entry_ = reinterpret_cast<EntryProc>(reinterpret_cast<void (*)()>(GetProcAddress(handle_, "VSTPluginMain")));
            main_ = reinterpret_cast<EntryProc>(reinterpret_cast<void (*)()>(GetProcAddress(handle_, "main")));
        }
#else
        handle_ = dlopen(PELLUCER_VST_MODULE, RTLD_NOW | RTLD_LOCAL);
        if (handle_ != nullptr) {
            entry_ = reinterpret_cast<EntryProc>(dlsym(handle_, "VSTPluginMain"));
            main_ = reinterpret_cast<EntryProc>(dlsym(handle_, "main"));
        }
#endif
    }
    EntryProc entry() const { return entry_; }
    EntryProc legacyMain() const { return main_; }

private:
#ifdef _WIN32
    HMODULE handle_ = nullptr;
#else
    void* handle_ = nullptr;
#endif
    EntryProc entry_ = nullptr;
    EntryProc main_ = nullptr;
};

Module& module() {
    static Module m;
    return m;
}

// What the host saw of the plug-in's calls.
struct HostLog {
    int timeRequests = 0;
    VstInt32 lastTimeFilter = 0;
    VstTimeInfo time{};
    bool answerTime = false;
};
HostLog gHost;
VstIntPtr gVersionAnswer = 2400;

VstIntPtr hostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr value, void*, float) {
    switch (opcode) {
    case audioMasterVersion: return gVersionAnswer;
    case audioMasterGetTime:
        ++gHost.timeRequests;
        gHost.lastTimeFilter = static_cast<VstInt32>(value);
        return gHost.answerTime ? reinterpret_cast<VstIntPtr>(&gHost.time) : 0;
    default: return 0;
    }
}

struct Host : ::testing::Test {
    AEffect* effect = nullptr;

    void SetUp() override {
        ASSERT_NE(module().entry(), nullptr) << "cannot load " << PELLUCER_VST_MODULE;
        gHost = HostLog{};
        gVersionAnswer = 2400;
        effect = module().entry()(hostCallback);
        ASSERT_NE(effect, nullptr);
    }
    void TearDown() override {
        if (effect != nullptr) {
            EXPECT_EQ(call(effClose), 1);
        }
    }
    VstIntPtr call(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr, float opt = 0.0f) {
        return effect->dispatcher(effect, opcode, index, value, ptr, opt);
    }
    std::string text(VstInt32 opcode, VstInt32 index = 0) {
        char buffer[256];
        std::memset(buffer, 0, sizeof(buffer));
        call(opcode, index, 0, buffer);
        return buffer;
    }
};

} // namespace

TEST(VstEntry, RefusesAHostThatAnswersNoVersion) {
    ASSERT_NE(module().entry(), nullptr);
    gVersionAnswer = 0;
    EXPECT_EQ(module().entry()(hostCallback), nullptr);
    EXPECT_EQ(module().entry()(nullptr), nullptr);
    gVersionAnswer = 2400;
}

TEST(VstEntry, MainIsTheSameEntry) {
    ASSERT_NE(module().legacyMain(), nullptr);
    AEffect* effect = module().legacyMain()(hostCallback);
    ASSERT_NE(effect, nullptr);
    EXPECT_EQ(effect->magic, kEffectMagic);
    EXPECT_EQ(effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f), 1);
}

TEST_F(Host, EffectRecordAsPublished) {
    EXPECT_EQ(effect->magic, fourCharCode('V', 's', 't', 'P'));
    EXPECT_EQ(effect->numPrograms, 61);
    EXPECT_EQ(effect->numParams, 39);
    EXPECT_EQ(effect->numInputs, 2);
    EXPECT_EQ(effect->numOutputs, 2);
    // Mono, replacing and double replacing; no program chunks, not a synth. The editor flag
    // comes with the editor.
    EXPECT_EQ(effect->flags & ~effFlagsHasEditor, 0x1018);
    EXPECT_EQ(effect->initialDelay, 44);
    EXPECT_EQ(effect->uniqueID, fourCharCode('T', 'L', 'p', 'l'));
    EXPECT_EQ(effect->uniqueID, 0x544C706C);
    EXPECT_EQ(effect->version, 1);
    EXPECT_EQ(effect->ioRatio, 1.0f);
    EXPECT_EQ(effect->realQualities, 0);
    EXPECT_EQ(effect->offQualities, 0);
    EXPECT_EQ(effect->user, nullptr);
    EXPECT_NE(effect->processReplacing, nullptr);
    EXPECT_NE(effect->processDoubleReplacing, nullptr);
    EXPECT_NE(effect->process, nullptr);
}

TEST_F(Host, IdentityStrings) {
    EXPECT_EQ(text(effGetEffectName), "Pellucer");
    EXPECT_EQ(text(effGetVendorString), "Tessaly");
    EXPECT_EQ(text(effGetProductString), "Pellucer");
    EXPECT_EQ(call(effGetVendorVersion), 1);
    EXPECT_EQ(call(effGetVstVersion), 2400);
    EXPECT_EQ(call(effIdentify), fourCharCode('N', 'v', 'E', 'f'));
    EXPECT_EQ(call(effGetPlugCategory), 0);
}

TEST_F(Host, FixedAnswers) {
    EXPECT_EQ(call(effCanBeAutomated, 5), 1);
    EXPECT_EQ(call(effGetNumProgramCategories), 1);
    EXPECT_EQ(call(effKeysRequired), 1);
    EXPECT_EQ(call(effGetCurrentMidiProgram), -1);
    EXPECT_EQ(call(effGetProgramNameIndexed, 0, 0, nullptr), 0);
    EXPECT_EQ(call(effConnectInput), 1);
    EXPECT_EQ(call(effConnectOutput), 1);
    EXPECT_EQ(call(effSetTotalSampleToProcess, 0, 777), 777);
    EXPECT_EQ(call(effProcessEvents), 0);
    EXPECT_EQ(call(effGetTailSize), 0);
    EXPECT_EQ(call(effSetBypass, 0, 1), 0);
    EXPECT_EQ(call(effString2Parameter), 0);
    EXPECT_EQ(call(effGetVu), 0);
    EXPECT_EQ(call(120), 0); // past the last opcode
    VstSpeakerArrangement dummy{};
    VstSpeakerArrangement* in = &dummy;
    VstSpeakerArrangement* out = &dummy;
    EXPECT_EQ(call(effGetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&in), &out), 0);
    EXPECT_EQ(in, nullptr);
    EXPECT_EQ(out, nullptr);
}

TEST_F(Host, CanDo) {
    char yes[] = "receiveVstTimeInfo";
    char no1[] = "sendVstEvents";
    char no2[] = "receiveVstEvents";
    EXPECT_EQ(call(effCanDo, 0, 0, yes), 1);
    EXPECT_EQ(call(effCanDo, 0, 0, no1), -1);
    EXPECT_EQ(call(effCanDo, 0, 0, no2), -1);
}

TEST_F(Host, PinProperties) {
    VstPinProperties pin{};
    pin.arrangementType = 77;
    ASSERT_EQ(call(effGetInputProperties, 1, 0, &pin), 1);
    EXPECT_STREQ(pin.label, "Pellucer 2 In");
    EXPECT_EQ(pin.flags, 3);
    EXPECT_EQ(pin.arrangementType, 77); // untouched
    ASSERT_EQ(call(effGetOutputProperties, 0, 0, &pin), 1);
    EXPECT_STREQ(pin.label, "Pellucer 1 Out");
    EXPECT_EQ(call(effGetInputProperties, 2, 0, &pin), 0);
    EXPECT_EQ(call(effGetOutputProperties, -1, 0, &pin), 0);
    EXPECT_EQ(call(effGetInputProperties, 0, 0, nullptr), 0);
}

TEST_F(Host, ProgramsThroughTheDispatcher) {
    EXPECT_EQ(call(effGetProgram), 0);
    EXPECT_EQ(text(effGetProgramName), "Full Reset");
    call(effSetProgram, 0, 7);
    EXPECT_EQ(call(effGetProgram), 7);
    EXPECT_EQ(text(effGetProgramName), "Bass Blaster");
    EXPECT_EQ(effect->getParameter(effect, 38), 34215.0f);
    call(effSetProgram, 0, 61);
    call(effSetProgram, 0, -1);
    EXPECT_EQ(call(effGetProgram), 7);
    char name[] = "Mine";
    call(effSetProgramName, 0, 0, name);
    EXPECT_EQ(text(effGetProgramName), "Mine");
    EXPECT_EQ(call(effCopyProgram, 3), 1);
    EXPECT_EQ(call(effCopyProgram, 61), 0);
    call(effSetProgram, 0, 3);
    EXPECT_EQ(text(effGetProgramName), "Mine");
}

TEST_F(Host, ParametersThroughTheRecord) {
    effect->setParameter(effect, 2, 0.75f);
    EXPECT_NEAR(effect->getParameter(effect, 2), 0.75f, 1e-6);
    EXPECT_EQ(text(effGetParamName, 2), "Input Gain");
    EXPECT_EQ(text(effGetParamDisplay, 2), "12.0");
    EXPECT_EQ(text(effGetParamLabel, 2), "dB");
    EXPECT_EQ(text(effGetParamName, 39), "");
    effect->setParameter(effect, 38, 54321.0f);
    EXPECT_EQ(effect->getParameter(effect, 38), 54321.0f);
    effect->setParameter(effect, 500, 0.3f);
    EXPECT_EQ(effect->getParameter(effect, 500), 0.0f);
}

TEST_F(Host, SampleRateAndLatency) {
    call(effSetSampleRate, 0, 0, nullptr, 48000.0f);
    EXPECT_EQ(effect->initialDelay, 48);
    // Only stored: the stages keep the rate of effSetSampleRate.
    EXPECT_EQ(call(effSetBlockSizeAndSampleRate, 0, 256, nullptr, 96000.0f), 1);
    EXPECT_EQ(effect->initialDelay, 48);
    call(effMainsChanged, 0, 1);
    EXPECT_EQ(effect->initialDelay, 48);
    call(effMainsChanged, 0, 0);
    call(effSetSampleRate, 0, 0, nullptr, 44100.0f);
    EXPECT_EQ(effect->initialDelay, 44);
}

TEST_F(Host, ProcessingAsAHostDoes) {
    gHost.answerTime = true;
    gHost.time.tempo = 90.0;
    gHost.time.flags = kVstTempoValid;
    call(effMainsChanged, 0, 1);
    std::vector<float> inL(1000), inR(1000), outL(1000, 9.0f), outR(1000, 9.0f);
    for (size_t i = 0; i < inL.size(); ++i) {
        inL[i] = static_cast<float>(0.5 * std::sin(0.01 * static_cast<double>(i)));
        inR[i] = -inL[i];
    }
    float* ins[2] = {inL.data(), inR.data()};
    float* outs[2] = {outL.data(), outR.data()};
    effect->processReplacing(effect, ins, outs, 1000);
    EXPECT_EQ(gHost.timeRequests, 1);
    EXPECT_EQ(gHost.lastTimeFilter, 0x603);
    for (size_t i = 44; i < 1000; ++i) {
        ASSERT_NEAR(outL[i], inL[i - 44], 3e-7);
        ASSERT_NEAR(outR[i], inR[i - 44], 3e-7);
    }
    // The accumulating entry overwrites as well.
    effect->process(effect, ins, outs, 1000);
    EXPECT_NEAR(outL[10], inL[1000 - 34], 3e-7);
    // Double precision.
    std::vector<double> dL(inL.begin(), inL.end()), dR(inR.begin(), inR.end()), oL(1000), oR(1000);
    double* dins[2] = {dL.data(), dR.data()};
    double* douts[2] = {oL.data(), oR.data()};
    effect->processDoubleReplacing(effect, dins, douts, 1000);
    EXPECT_EQ(gHost.timeRequests, 3);
    EXPECT_NEAR(oL[500], dL[456], 2e-7);
}

TEST_F(Host, ChunkRoundTrip) {
    effect->setParameter(effect, 16, 0.9f);
    effect->setParameter(effect, 38, 23415.0f);
    void* data = nullptr;
    const VstIntPtr size = call(effGetChunk, 0, 0, &data);
    ASSERT_EQ(size, 4852);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::memcmp(data, "TLtg", 4), 0);
    std::vector<uint8_t> saved(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
    EXPECT_EQ(call(effGetChunk, 1, 0, &data), 4852);

    AEffect* other = module().entry()(hostCallback);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->dispatcher(other, effSetChunk, 0, 11, saved.data(), 0.0f), 0);
    EXPECT_EQ(other->dispatcher(other, effSetChunk, 0, size, saved.data(), 0.0f), 1);
    EXPECT_NEAR(other->getParameter(other, 16), 0.9f, 1e-6);
    EXPECT_EQ(other->getParameter(other, 38), 23415.0f);
    other->dispatcher(other, effClose, 0, 0, nullptr, 0.0f);
}

TEST_F(Host, SpeakerArrangementSelectsMono) {
    VstSpeakerArrangement in{}, out{};
    in.numChannels = 1;
    out.numChannels = 2;
    EXPECT_EQ(call(effSetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&in), &out), 1);
    EXPECT_EQ(call(effSetSpeakerArrangement, 0, 0, &out), 0);
    std::vector<float> mono(500, 0.25f), other(500, -0.9f), outL(500), outR(500);
    float* ins[2] = {mono.data(), other.data()};
    float* outs[2] = {outL.data(), outR.data()};
    effect->processReplacing(effect, ins, outs, 500);
    EXPECT_NEAR(outL[300], 0.25f, 3e-7);
    EXPECT_EQ(outL[300], outR[300]);
}

#ifdef _WIN32
// The Windows modules have the strip's editor (tests/vst/VstEditorTest.cpp drives it): the record
// carries the editor flag, so the flags read 0x1019, and the size is the skin's background.
TEST_F(Host, EditorAnnouncedWithItsSize) {
    EXPECT_EQ(effect->flags, 0x1019);
    ERect* rect = nullptr;
    ASSERT_EQ(call(effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->right - rect->left, 824);
    EXPECT_EQ(rect->bottom - rect->top, 340);
    EXPECT_EQ(call(effEditOpen), 0); // no parent window
    EXPECT_EQ(call(effEditKeyDown, 'a', 0), 0);
    EXPECT_EQ(call(effSetEditKnobMode, 0, 2), 0);
}
#else
// Elsewhere there is no editor: no flag, no size, nothing opens.
TEST_F(Host, NoEditorWithoutWindows) {
    ERect* rect = nullptr;
    EXPECT_EQ(call(effEditGetRect, 0, 0, &rect), 0);
    EXPECT_EQ(call(effEditOpen), 0);
    EXPECT_EQ(call(effEditKeyDown, 'a', 0), 0);
    EXPECT_EQ(call(effSetEditKnobMode, 0, 2), 0);
    EXPECT_EQ(effect->flags, 0x1018);
}
#endif

TEST(VstEntry, ManyInstancesComeAndGo) {
    ASSERT_NE(module().entry(), nullptr);
    std::vector<AEffect*> effects;
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 20; ++i) {
            effects.push_back(module().entry()(hostCallback));
            ASSERT_NE(effects.back(), nullptr);
        }
        // Close in an order different from creation, so the first instance goes first.
        for (AEffect* e : effects)
            EXPECT_EQ(e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f), 1);
        effects.clear();
    }
}

namespace {

// Renders through the record in blocks of the given sizes (cycled), single or double precision.
template <typename Sample>
std::vector<Sample> renderThrough(AEffect* effect, const std::vector<Sample>& in, const std::vector<int32_t>& blocks) {
    std::vector<Sample> inL = in, inR(in.size()), outL(in.size()), outR(in.size());
    for (size_t i = 0; i < in.size(); ++i)
        inR[i] = static_cast<Sample>(-0.5) * in[i];
    size_t pos = 0;
    for (size_t b = 0; pos < in.size(); ++b) {
        const auto n = static_cast<int32_t>(std::min<size_t>(static_cast<size_t>(blocks[b % blocks.size()]), in.size() - pos));
        Sample* ins[2] = {inL.data() + pos, inR.data() + pos};
        Sample* outs[2] = {outL.data() + pos, outR.data() + pos};
        if constexpr (sizeof(Sample) == sizeof(float))
            effect->processReplacing(effect, ins, outs, n);
        else
            effect->processDoubleReplacing(effect, ins, outs, n);
        pos += static_cast<size_t>(n);
    }
    outL.insert(outL.end(), outR.begin(), outR.end());
    return outL;
}

AEffect* busyEffect() {
    AEffect* e = module().entry()(hostCallback);
    // A program with most stages on, so every stage's block handling is exercised.
    e->dispatcher(e, effSetProgram, 0, 29, nullptr, 0.0f);
    for (VstInt32 i : {4, 10, 21, 25, 28})
        e->setParameter(e, i, 1.0f);
    return e;
}

} // namespace

TEST(VstProcessing, RandomBlockSizesGiveTheSameOutputAsOneBlock) {
    ASSERT_NE(module().entry(), nullptr);
    std::vector<float> in(30000);
    uint32_t seed = 3;
    for (float& x : in) {
        seed = seed * 1664525u + 1013904223u;
        x = static_cast<float>((static_cast<double>(seed >> 8) / 8388608.0 - 1.0) * 0.7);
    }
    std::vector<int32_t> random;
    for (int k = 0; k < 64; ++k) {
        seed = seed * 1664525u + 1013904223u;
        random.push_back(1 + static_cast<int32_t>((seed >> 8) % 4096));
    }
    // Settle the smoothed settings first, identically for both, then compare.
    const std::vector<float> silence(8820, 0.0f);
    for (bool doublePrecision : {false, true}) {
        AEffect* one = busyEffect();
        AEffect* split = busyEffect();
        renderThrough(one, silence, {8820});
        renderThrough(split, silence, {8820});
        if (doublePrecision) {
            const std::vector<double> din(in.begin(), in.end());
            EXPECT_EQ(renderThrough(one, din, {30000}), renderThrough(split, din, random));
        } else {
            EXPECT_EQ(renderThrough(one, in, {30000}), renderThrough(split, in, random));
        }
        one->dispatcher(one, effClose, 0, 0, nullptr, 0.0f);
        split->dispatcher(split, effClose, 0, 0, nullptr, 0.0f);
    }
}

TEST_F(Host, HostTempoDrivesTheSyncedDelay) {
    gHost.answerTime = true;
    gHost.time.tempo = 120.0;
    gHost.time.flags = kVstTempoValid;
    effect->setParameter(effect, 28, 1.0f);           // delay on
    effect->setParameter(effect, 29, 1.0f);           // synced
    effect->setParameter(effect, 30, 10.5f / 16.0f);  // a quarter note
    effect->setParameter(effect, 31, 1.0f);           // full level
    effect->setParameter(effect, 32, 0.0f);           // one echo
    effect->setParameter(effect, 33, 0.0f);
    effect->setParameter(effect, 34, 1.0f);           // flat feedback filter
    std::vector<float> in(44100 * 3, 0.0f);
    in[44100] = 1.0f;                                 // an impulse after a settling second
    const auto out = renderThrough(effect, in, {512});
    const size_t dry = 44100 + 44;
    EXPECT_NEAR(out[dry], 1.0f, 1e-6);
    // The echo lands half a second later (120 BPM quarter note).
    size_t loudest = dry + 100;
    for (size_t i = dry + 100; i < in.size(); ++i)
        if (std::fabs(out[i]) > std::fabs(out[loudest]))
            loudest = i;
    EXPECT_EQ(loudest, dry + 22050);
    EXPECT_NEAR(out[loudest], 1.0f, 1e-3);
}

TEST_F(Host, BadRequestsAreAnsweredWithoutCrashing) {
    // Every opcode with a null pointer and an absurd index or value (the two speaker
    // arrangement opcodes carry a pointer in `value`: null there too).
    for (VstInt32 opcode = 0; opcode < 100; ++opcode) {
        if (opcode == effClose)
            continue;
        const bool pointerInValue = opcode == effSetSpeakerArrangement || opcode == effGetSpeakerArrangement;
        call(opcode, 100000, pointerInValue ? 0 : -1, nullptr, 0.0f);
        call(opcode, -7, pointerInValue ? 0 : 1 << 30, nullptr, -1.0f);
    }
    EXPECT_EQ(call(effGetChunk, 0, 0, nullptr), 0);
    EXPECT_EQ(call(effSetChunk, 0, 4852, nullptr), 0);
    EXPECT_EQ(call(effCanDo, 0, 0, nullptr), 0);
    char display[256] = {};
    call(effGetParamDisplay, 9999, 0, display);
    EXPECT_STREQ(display, "");
    // The effect still works afterwards (the sample rate calls above were refused).
    EXPECT_EQ(effect->initialDelay, 44);
    EXPECT_EQ(text(effGetEffectName), "Pellucer");
}

TEST_F(Host, DispatcherFromAnotherThreadWhileProcessing) {
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        std::vector<float> l(256, 0.1f), r(256, -0.1f), ol(256), orr(256);
        float* ins[2] = {l.data(), r.data()};
        float* outs[2] = {ol.data(), orr.data()};
        while (!stop.load())
            effect->processReplacing(effect, ins, outs, 256);
    });
    char buffer[256];
    for (int round = 0; round < 200; ++round) {
        call(effGetParamDisplay, round % 39, 0, buffer);
        call(effGetProgramName, 0, 0, buffer);
        effect->setParameter(effect, round % 38, static_cast<float>(round % 7) / 7.0f);
        if (round % 20 == 0)
            call(effSetProgram, 0, round % 61);
        if (round % 50 == 0)
            call(effSetSampleRate, 0, 0, nullptr, round % 100 == 0 ? 48000.0f : 44100.0f);
        void* chunk = nullptr;
        call(effGetChunk, 0, 0, &chunk);
    }
    stop.store(true);
    audio.join();
    EXPECT_EQ(text(effGetEffectName), "Pellucer");
}

// ---- the signal as hosts send it: bad samples, every rate, the fastest attack -------------------

namespace {

constexpr VstInt32 kPrograms = 61;

// Pink noise at about -20 dBFS RMS: deterministic white noise through a three-pole filter with
// a -3 dB per octave slope from 40 Hz to 10 kHz.
std::vector<float> pinkNoise(size_t frames, uint32_t seed) {
    std::vector<float> out(frames);
    double b0 = 0.0, b1 = 0.0, b2 = 0.0;
    for (float& x : out) {
        seed = seed * 1664525u + 1013904223u;
        const double white = static_cast<double>(seed >> 8) / 8388608.0 - 1.0;
        b0 = 0.99765 * b0 + white * 0.0990460;
        b1 = 0.96300 * b1 + white * 0.2965164;
        b2 = 0.57000 * b2 + white * 1.0526913;
        x = static_cast<float>((b0 + b1 + b2 + white * 0.1848) * 0.047);
    }
    return out;
}

double rmsDb(const std::vector<float>& s, size_t from, size_t to) {
    double sum = 0.0;
    for (size_t i = from; i < to; ++i)
        sum += static_cast<double>(s[i]) * s[i];
    return 10.0 * std::log10(sum / static_cast<double>(to - from) + 1e-30);
}

// An instance prepared as a host prepares one: rate, block size, program, then started.
AEffect* openAt(float sampleRate, VstInt32 program) {
    AEffect* e = module().entry()(hostCallback);
    if (e == nullptr)
        return nullptr;
    e->dispatcher(e, effSetSampleRate, 0, 0, nullptr, sampleRate);
    e->dispatcher(e, effSetBlockSize, 0, 512, nullptr, 0.0f);
    e->dispatcher(e, effSetProgram, 0, program, nullptr, 0.0f);
    e->dispatcher(e, effMainsChanged, 0, 1, nullptr, 0.0f);
    return e;
}

struct LevelCheck {
    bool finite = true;
    double peakDb = -300.0;
    double tailRmsDb = -300.0; ///< the last quarter of the render
};

LevelCheck check(const std::vector<float>& stereo) {
    LevelCheck c;
    for (float x : stereo) {
        c.finite = c.finite && std::isfinite(x);
        c.peakDb = std::max(c.peakDb, 20.0 * std::log10(std::fabs(static_cast<double>(x)) + 1e-15));
    }
    const size_t half = stereo.size() / 2; // left, then right
    c.tailRmsDb = std::max(rmsDb(stereo, half * 3 / 4, half), rmsDb(stereo, half + half * 3 / 4, stereo.size()));
    return c;
}

} // namespace

// One NaN or infinity from the host must not leave any stage's state non-finite: a few frames
// later every program sounds again and nothing but finite numbers come out.
TEST(VstSignal, EveryProgramRecoversFromNonFiniteInput) {
    ASSERT_NE(module().entry(), nullptr);
    const size_t frames = 44100;
    std::vector<float> in = pinkNoise(frames, 7);
    const size_t hit = 13230; // 0.3 s
    in[hit] = std::numeric_limits<float>::quiet_NaN();
    in[hit + 1] = std::numeric_limits<float>::infinity();
    in[hit + 2] = -std::numeric_limits<float>::infinity();
    for (VstInt32 program = 0; program < kPrograms; ++program) {
        AEffect* e = openAt(44100.0f, program);
        ASSERT_NE(e, nullptr);
        const LevelCheck c = check(renderThrough(e, in, {512}));
        e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
        EXPECT_TRUE(c.finite) << "program " << program;
        EXPECT_GT(c.tailRmsDb, -50.0) << "program " << program;
    }
}

// Hosts run from 8 kHz telephone rates to 192 kHz: every program stays finite, audible and
// bounded for pink noise at -20 dBFS.
TEST(VstSignal, EveryProgramSoundsAtEveryRate) {
    ASSERT_NE(module().entry(), nullptr);
    for (float rate : {8000.0f, 11025.0f, 16000.0f, 22050.0f, 96000.0f, 192000.0f}) {
        const std::vector<float> in = pinkNoise(static_cast<size_t>(rate / 2), 11);
        for (VstInt32 program = 0; program < kPrograms; ++program) {
            AEffect* e = openAt(rate, program);
            ASSERT_NE(e, nullptr);
            const LevelCheck c = check(renderThrough(e, in, {512}));
            e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
            EXPECT_TRUE(c.finite && c.tailRmsDb > -50.0 && c.peakDb < 12.0)
                << "program " << program << " at " << rate << " Hz: finite " << c.finite << ", peak "
                << c.peakDb << " dBFS, level " << c.tailRmsDb << " dBFS";
        }
    }
}

// A frequency set above the Nyquist frequency of a low rate is limited by the stage: the
// equaliser at 0 dB and the de-esser at depth 0 still pass the signal at its level.
TEST(VstSignal, FrequenciesAboveTheNyquistFrequencyLeaveTheLevelAlone) {
    ASSERT_NE(module().entry(), nullptr);
    struct Case {
        const char* what;
        VstInt32 enable, frequency;
        float value;
    };
    const Case cases[] = {
        {"EQ High Freq 10 kHz", 10, 19, 0.69897f},
        {"EQ High Freq 20 kHz", 10, 19, 1.0f},
        {"DeEsser Freq 9 kHz", 21, 22, 0.7f},
        {"DeEsser Freq 12 kHz", 21, 22, 1.0f},
    };
    for (float rate : {8000.0f, 16000.0f}) {
        const std::vector<float> in = pinkNoise(static_cast<size_t>(rate), 5);
        const double inDb = rmsDb(in, in.size() * 3 / 4, in.size());
        for (const Case& c : cases) {
            AEffect* e = openAt(rate, 0);
            ASSERT_NE(e, nullptr);
            e->setParameter(e, c.enable, 1.0f);
            e->setParameter(e, c.frequency, c.value);
            const LevelCheck level = check(renderThrough(e, in, {512}));
            e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
            EXPECT_TRUE(level.finite) << c.what << " at " << rate << " Hz";
            EXPECT_NEAR(level.tailRmsDb, inDb, 1.0) << c.what << " at " << rate << " Hz";
        }
    }
}

// The shortest attack is instant through the parameter path too (the 32-bit value 0.0 means
// 0.1 ms): a step from -40 to 0 dBFS on the crest of a sine is caught at once, with no click
// above the level the compressor settles at. The programs named use that attack.
TEST(VstSignal, TheFastestAttackCatchesAStepAtOnce) {
    ASSERT_NE(module().entry(), nullptr);
    const double period = 44100.0 / 440.0;
    const size_t crest = 44100 + static_cast<size_t>(period / 4.0 + 0.5); // after a second at -40 dB
    std::vector<float> in(crest + 22050);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<float>((i < crest ? 0.01 : 1.0) * std::sin(2.0 * std::numbers::pi * static_cast<double>(i) / period));
    const auto peakOf = [](const std::vector<float>& s, size_t from, size_t to) {
        float p = 0.0f;
        for (size_t i = from; i < to; ++i)
            p = std::max(p, std::fabs(s[i]));
        return static_cast<double>(p);
    };
    int tested = 0;
    for (VstInt32 program = 0; program < kPrograms; ++program) {
        AEffect* e = openAt(44100.0f, program);
        ASSERT_NE(e, nullptr);
        char name[64] = {};
        e->dispatcher(e, effGetProgramName, 0, 0, name, 0.0f);
        const std::string n = name;
        if (n == "Hard Compression" || n == "Chopper" || n == "Destroyer" || n == "Smashed Air" ||
            n == "Cheap Computer Mic") {
            ++tested;
            EXPECT_EQ(e->getParameter(e, 9), 0.0f) << n; // Compander Attack at its shortest
            const std::vector<float> out = renderThrough(e, in, {512});
            const size_t at = crest + 44; // the step as it leaves, after the latency
            const double onset = peakOf(out, at, at + 441);
            const double settled = peakOf(out, at + 11025, in.size());
            EXPECT_LT(20.0 * std::log10(onset / settled), 1.0) << n;
        }
        e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
    }
    EXPECT_EQ(tested, 5);
}
