// Drives the built plug-in module the way a VST 2.4 host does: load the file, call its entry,
// talk to the effect record through the dispatcher and the process functions, close it.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <iterator>
#include <numeric>
#include <limits>
#include <numbers>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "core/FactoryPrograms.h"
#include "core/Parameters.h"
#include "vst/VstAbi.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

using namespace vst;
using namespace pellucer;

namespace {

using EntryProc = AEffect* (*)(audioMasterCallback);

// The module's entry and its legacy "main", loaded once per process.
EntryProc symbol(const char* name) {
#ifdef _WIN32
    static const HMODULE handle = LoadLibraryA(PELLUCER_VST_MODULE);
    return handle ? reinterpret_cast<EntryProc>(reinterpret_cast<void (*)()>(GetProcAddress(handle, name))) : nullptr;
#else
    static void* const handle = dlopen(PELLUCER_VST_MODULE, RTLD_NOW | RTLD_LOCAL);
    return handle ? reinterpret_cast<EntryProc>(dlsym(handle, name)) : nullptr;
#endif
}
const EntryProc entry = symbol("VSTPluginMain");

// The host's side: the version it answers, the time record it hands out and what it was asked.
VstIntPtr gVersionAnswer = 2400;
VstTimeInfo* gTime = nullptr;
int gTimeRequests = 0;
VstInt32 gTimeFilter = 0;

VstIntPtr hostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr value, void*, float) {
    if (opcode == audioMasterVersion)
        return gVersionAnswer;
    if (opcode != audioMasterGetTime)
        return 0;
    ++gTimeRequests;
    gTimeFilter = static_cast<VstInt32>(value);
    return reinterpret_cast<VstIntPtr>(gTime);
}

VstIntPtr dispatch(AEffect* e, VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                   float opt = 0.0f) {
    return e->dispatcher(e, opcode, index, value, ptr, opt);
}

std::string text(AEffect* e, VstInt32 opcode, VstInt32 index = 0) {
    char buffer[256] = {};
    dispatch(e, opcode, index, 0, buffer);
    return buffer;
}

// An instance prepared as a host prepares one: rate, block size, program, then started.
AEffect* openAt(float sampleRate, VstInt32 program) {
    AEffect* e = entry(hostCallback);
    dispatch(e, effSetSampleRate, 0, 0, nullptr, sampleRate);
    dispatch(e, effSetBlockSize, 0, 512);
    dispatch(e, effSetProgram, 0, program);
    dispatch(e, effMainsChanged, 0, 1);
    return e;
}

struct Host : ::testing::Test {
    AEffect* effect = nullptr;
    VstTimeInfo time{};

    void SetUp() override {
        ASSERT_NE(entry, nullptr) << "cannot load " << PELLUCER_VST_MODULE;
        gTime = nullptr;
        gTimeRequests = 0;
        ASSERT_NE(effect = openAt(44100.0f, 0), nullptr);
    }
    void TearDown() override { EXPECT_EQ(dispatch(effect, effClose), 1); }
    void setTempo(double bpm) {
        time.tempo = bpm;
        time.flags = kVstTempoValid;
        gTime = &time;
    }
};

// Renders through the record in 512-frame blocks, the right channel carrying -0.5 times the left;
// returns left then right.
std::vector<float> renderThrough(AEffect* effect, const std::vector<float>& in) {
    std::vector<float> inL = in, inR(in.size()), outL(in.size()), outR(in.size());
    std::transform(in.begin(), in.end(), inR.begin(), [](float x) { return -0.5f * x; });
    for (size_t pos = 0; pos < in.size(); pos += 512) {
        float *ins[2] = {inL.data() + pos, inR.data() + pos}, *outs[2] = {outL.data() + pos, outR.data() + pos};
        effect->processReplacing(effect, ins, outs, static_cast<int32_t>(std::min<size_t>(512, in.size() - pos)));
    }
    outL.insert(outL.end(), outR.begin(), outR.end());
    return outL;
}

// Pink noise at about -20 dBFS RMS: deterministic white noise through three poles with a -3 dB
// per octave slope from 40 Hz to 10 kHz.
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

// The factory bank in bank order, with each program's module order, as the product documents it.
struct NamedCode {
    const char* name;
    float code;
};
constexpr NamedCode kBank[] = {
    {"Full Reset", 12345}, {"1969", 12345}, {"1970's Rockstar", 12435}, {"Arena", 12453},
    {"Backing Vox Silky Slight Perc", 12345}, {"Backing Vox Silky Smashed", 12345},
    {"Band Pass Delay Bounce", 12345}, {"Bass Blaster", 34215}, {"Bass Warmth", 23415}, {"Beatboxer", 51234},
    {"Brightener", 12453}, {"Cacophony", 32154}, {"Cavern", 12345}, {"Cheap Computer Mic", 12345},
    {"Chopper", 23415}, {"Crystal Cave", 23415}, {"Delayverb", 12345}, {"Destroyer", 25341},
    {"Distorted Telephone", 14325}, {"Dotted 8th Delay", 12345}, {"Dub Slap", 12345}, {"DubVerb", 23415},
    {"Esser", 23415}, {"Fat E-Guitar", 12453}, {"Female Cleanup and Presence", 12345},
    {"Female Preamp with Deess and Delay", 12345}, {"Female Quartet", 12345}, {"Fuzzy Mid Band", 12345},
    {"Hard Compression", 12453}, {"Heavy Distortion", 12453}, {"Hip Hop Vocals", 12345},
    {"Hook Doubler", 12345}, {"Lead Vocal over-easy plus Warmth", 12345}, {"Lead Vocal Percussive", 12345},
    {"Lead Vocal Rock Edge", 12345}, {"LF Roll-off", 23415}, {"Light Compression", 12453},
    {"Light Distortion", 12453}, {"Male Deesser and Presence", 12345}, {"Male RnB Vocals", 12345},
    {"Monologue", 32154}, {"Mush Groove", 34512}, {"Old Recording Cleanup", 12453}, {"Old Vinyl", 23415},
    {"Phat Bugger", 12543}, {"Pillow Talk", 31452}, {"Radio Backups", 53124}, {"Resonant Pipe", 23415},
    {"Slight Warmth", 23415}, {"Smashed Air", 32145}, {"Springverb", 12453}, {"Subtly Sweet", 23415},
    {"Sugary Sweet", 23415}, {"Telephone", 12345}, {"Tracking Doubler", 12345},
    {"Tubepre with Slap-back", 12345}, {"Vinyl", 23415}, {"Vocal Booth", 23415}, {"Vocal Compander", 12345},
    {"Warm and Fuzzy", 23415}, {"Whisper", 12453}};
constexpr VstInt32 kPrograms = static_cast<VstInt32>(std::size(kBank));

} // namespace

// The entry refuses a host that answers no version; "main" is the same entry; instances come
// and go as often as asked, closed in another order than made.
TEST(VstEntry, EntryPointsAndManyInstances) {
    ASSERT_TRUE(entry != nullptr && symbol("main") != nullptr);
    gVersionAnswer = 0;
    EXPECT_EQ(entry(hostCallback), nullptr);
    gVersionAnswer = 2400;
    EXPECT_EQ(entry(nullptr), nullptr);
    AEffect* legacy = symbol("main")(hostCallback);
    ASSERT_NE(legacy, nullptr);
    EXPECT_EQ(legacy->magic, fourCharCode('V', 's', 't', 'P'));
    EXPECT_EQ(dispatch(legacy, effClose), 1);
    for (int round = 0; round < 3; ++round) {
        std::vector<AEffect*> effects(20);
        for (AEffect*& e : effects)
            ASSERT_NE(e = entry(hostCallback), nullptr);
        for (AEffect* e : effects)
            EXPECT_EQ(dispatch(e, effClose), 1);
    }
}

// The record: 0x1018 is mono, replacing and double replacing (no program chunks, not a synth;
// the editor flag comes with the editor); 'TLpl' is 0x544C706C. Then the fixed answers.
TEST_F(Host, RecordAndFixedAnswersAsPublished) {
    const std::pair<VstIntPtr, VstIntPtr> fields[] = {
        {effect->numPrograms, 61}, {effect->numParams, 39}, {effect->numInputs, 2}, {effect->numOutputs, 2},
        {effect->flags & ~effFlagsHasEditor, 0x1018}, {effect->initialDelay, 44}, {effect->uniqueID, 0x544C706C},
        {effect->version, 1}, {effect->processDoubleReplacing != nullptr && effect->process != nullptr, 1}};
    for (const auto& [field, expected] : fields)
        EXPECT_EQ(field, expected);
    for (const auto& [opcode, name] : {std::pair{effGetEffectName, "Pellucer"}, {effGetVendorString, "Tessaly"},
                                       {effGetProductString, "Pellucer"}})
        EXPECT_EQ(text(effect, opcode), name);
    char yes[] = "receiveVstTimeInfo", no1[] = "sendVstEvents", no2[] = "receiveVstEvents";
    VstPinProperties pin{};
    const std::tuple<VstInt32, VstInt32, VstIntPtr, void*, VstIntPtr> answers[] = {
        {effGetVendorVersion, 0, 0, nullptr, 1}, {effGetVstVersion, 0, 0, nullptr, 2400},
        {effIdentify, 0, 0, nullptr, fourCharCode('N', 'v', 'E', 'f')}, {effGetPlugCategory, 0, 0, nullptr, 0},
        {effCanBeAutomated, 5, 0, nullptr, 1}, {effGetNumProgramCategories, 0, 0, nullptr, 1},
        {effKeysRequired, 0, 0, nullptr, 1}, {effGetCurrentMidiProgram, 0, 0, nullptr, -1},
        {effGetProgramNameIndexed, 0, 0, nullptr, 0}, {effConnectInput, 0, 0, nullptr, 1},
        {effConnectOutput, 0, 0, nullptr, 1}, {effSetTotalSampleToProcess, 0, 777, nullptr, 777},
        {effProcessEvents, 0, 0, nullptr, 0}, {effGetTailSize, 0, 0, nullptr, 0}, {effSetBypass, 0, 1, nullptr, 0},
        {effString2Parameter, 0, 0, nullptr, 0}, {effGetVu, 0, 0, nullptr, 0}, {120, 0, 0, nullptr, 0},
        {effCanDo, 0, 0, yes, 1}, {effCanDo, 0, 0, no1, -1}, {effCanDo, 0, 0, no2, -1},
        {effGetInputProperties, 2, 0, &pin, 0}, {effGetOutputProperties, -1, 0, &pin, 0},
        {effGetInputProperties, 0, 0, nullptr, 0}, {effEditKeyDown, 'a', 0, nullptr, 0},
        {effSetEditKnobMode, 0, 2, nullptr, 0}};
    for (const auto& [opcode, index, value, ptr, expected] : answers)
        EXPECT_EQ(dispatch(effect, opcode, index, value, ptr), expected) << "opcode " << opcode;
    pin.arrangementType = 77;
    ASSERT_EQ(dispatch(effect, effGetInputProperties, 1, 0, &pin), 1);
    EXPECT_STREQ(pin.label, "Pellucer 2 In");
    EXPECT_TRUE(pin.flags == 3 && pin.arrangementType == 77); // the arrangement untouched
    ASSERT_EQ(dispatch(effect, effGetOutputProperties, 0, 0, &pin), 1);
    EXPECT_STREQ(pin.label, "Pellucer 1 Out");
    VstSpeakerArrangement dummy{}, *in = &dummy, *out = &dummy;
    EXPECT_TRUE(!dispatch(effect, effGetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&in), &out) && !in && !out);
    // The Windows modules have the strip's editor (VstEditorTest drives it), the skin's 824 x 340.
    ERect* rect = nullptr;
#ifdef _WIN32
    EXPECT_EQ(effect->flags, 0x1019);
    ASSERT_EQ(dispatch(effect, effEditGetRect, 0, 0, &rect), 1);
    EXPECT_EQ(rect->right - rect->left, 824);
    EXPECT_EQ(rect->bottom - rect->top, 340);
#else
    EXPECT_EQ(effect->flags, 0x1018);
    EXPECT_EQ(dispatch(effect, effEditGetRect, 0, 0, &rect), 0);
#endif
    EXPECT_EQ(dispatch(effect, effEditOpen), 0); // no parent window
}

// A new instance starts in Full Reset with the values the product documents. Each factory program,
// selected by number, shows its name (hosts get 23 characters), applies its module order and
// reads back its stored values (to the precision of the conversions), switched on and in 0..1;
// no two are the same. Some show the settings they were designed with, in the units a host shows
// them (a delay of 0.075 s is 75 ms; echo level 0.7 is -3.1 dB; feedback 0.8 of the loop is 80 %).
TEST_F(Host, FactoryProgramsInBankOrderWithTheirDesignedSettings) {
    constexpr float kFullReset[kNumParams] = {
        1, 0, 0.5f, 0,  0, 0.8f, 0.4014f, 0.5f, 0.1174f, 0,  0, 0, 0, 0, 0, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f,
        0, 0.1f, 0.4f, 0,  0, 0.4f, 1,  0, 0, 0.7f, 0.4f, 0, 0, 0.4f,  0, 0.5f, 0,  12345};
    for (VstInt32 p = 0; p < kNumParams; ++p)
        EXPECT_NEAR(effect->getParameter(effect, p), kFullReset[p], 2e-6) << p;
    ASSERT_EQ(effect->numPrograms, kPrograms);
    const auto& bank = factoryPrograms();
    for (VstInt32 i = 0; i < kPrograms; ++i) {
        dispatch(effect, effSetProgram, 0, i);
        EXPECT_EQ(text(effect, effGetProgramName), std::string(kBank[i].name).substr(0, 23));
        EXPECT_EQ(effect->getParameter(effect, kReserved), kBank[i].code) << kBank[i].name;
        EXPECT_EQ(effect->getParameter(effect, kPlugInEnable), 1.0f) << kBank[i].name;
        for (VstInt32 p = 0; p < kReserved; ++p) {
            const float v = effect->getParameter(effect, p);
            EXPECT_TRUE(std::fabs(v - bank[i].values[p]) < 2e-4 && v >= 0.0f && v <= 1.0f) << kBank[i].name << " " << p;
        }
        for (VstInt32 other = i + 1; other < kPrograms; ++other)
            EXPECT_NE(bank[i].values, bank[other].values) << kBank[i].name << " / " << kBank[other].name;
    }
    const std::tuple<const char*, VstInt32, const char*> settings[] = {
        {"Cavern", kDelayTime, "75.0"}, {"Cavern", kDelayLevel, "-3.1"}, {"Cavern", kDelayFeedback, "80.0"},
        {"Cavern", kCompressorRatio, "2.5"}, {"Cavern", kEqHighFreq, "6000.0"}, {"Cavern", kOutputGain, "-4.0"},
        {"Dub Slap", kDelayTime, "140.0"}, {"Dub Slap", kDelayFilterFreq, "700.0"}, {"Dub Slap", kCompanderAttack, "5.0"},
        {"Bass Blaster", kEqLowGain, "12.0"}, {"Bass Blaster", kEqMidFreq, "400.0"}, {"Bass Blaster", kInputGain, "3.0"},
        {"Telephone", kEqHighFreq, "2600.0"}, {"Telephone", kDeEsserFreq, "3500.0"},
        {"Hard Compression", kCompressorThresh, "-36.0"}, {"Hard Compression", kExpanderRatio, "1:1.5"},
        {"Dotted 8th Delay", kDelayTime, "1/8D"}};
    for (const auto& [program, index, shown] : settings) {
        const auto at = std::find_if(std::begin(kBank), std::end(kBank),
                                     [&](const NamedCode& p) { return std::strcmp(p.name, program) == 0; });
        dispatch(effect, effSetProgram, 0, static_cast<VstInt32>(at - std::begin(kBank)));
        EXPECT_EQ(text(effect, effGetParamDisplay, index), shown) << program << ", parameter " << index;
    }
}

// Renaming, copying (to a program number the bank has) and selecting; each program keeps its last
// state while another is selected. The order code takes permutations of 1..5 only.
TEST_F(Host, ProgramsAndParametersThroughTheDispatcher) {
    effect->setParameter(effect, kInputGain, 0.25f);
    for (VstInt32 program : {7, 61, -1})
        dispatch(effect, effSetProgram, 0, program);
    EXPECT_EQ(dispatch(effect, effGetProgram), 7);
    char name[] = "Mine";
    dispatch(effect, effSetProgramName, 0, 0, name);
    effect->setParameter(effect, kInputGain, 0.75f);
    EXPECT_EQ(dispatch(effect, effCopyProgram, 3), 1);
    EXPECT_EQ(dispatch(effect, effCopyProgram, 61), 0);
    dispatch(effect, effSetProgram, 0, 3);
    EXPECT_EQ(text(effect, effGetProgramName), "Mine");
    EXPECT_EQ(text(effect, effGetParamDisplay, kInputGain), "12.0");
    EXPECT_EQ(text(effect, effGetParamLabel, kInputGain), "dB");
    EXPECT_EQ(text(effect, effGetParamName, kInputGain), "Input Gain");
    EXPECT_EQ(text(effect, effGetParamName, 39), "");
    dispatch(effect, effSetProgram, 0, 0);
    EXPECT_NEAR(effect->getParameter(effect, kInputGain), 0.25f, 1e-6);
    for (float code : {54321.0f, 12355.0f, 22345.0f, 11111.0f, 55555.0f}) {
        effect->setParameter(effect, kReserved, code);
        EXPECT_EQ(effect->getParameter(effect, kReserved), 54321.0f) << code;
    }
}

// Full Reset is the input 44 frames late, plus at most the anti-denormal noise; the host is asked
// for tempo, position and transport (filter 0x603) once per block; the accumulating entry
// overwrites too; double precision works in place. The latency follows effSetSampleRate only. A
// mono input is never read on its second channel, and both outputs carry the first.
TEST_F(Host, ProcessingAsAHostDoes) {
    setTempo(90.0);
    std::vector<float> inL(1000), inR(1000), outL(1000, 9.0f), outR(1000, 9.0f);
    for (size_t i = 0; i < inL.size(); ++i)
        inR[i] = -(inL[i] = static_cast<float>(0.5 * std::sin(0.01 * static_cast<double>(i))));
    float *ins[2] = {inL.data(), inR.data()}, *outs[2] = {outL.data(), outR.data()};
    effect->processReplacing(effect, ins, outs, 1000);
    EXPECT_EQ(gTimeRequests, 1);
    EXPECT_EQ(gTimeFilter, 0x603);
    for (size_t i = 44; i < 1000; ++i)
        ASSERT_TRUE(std::fabs(outL[i] - inL[i - 44]) < 3e-7 && std::fabs(outR[i] - inR[i - 44]) < 3e-7) << i;
    effect->process(effect, ins, outs, 1000);
    EXPECT_NEAR(outL[10], inL[1000 - 34], 3e-7);
    std::vector<double> dL(inL.begin(), inL.end()), dR(inR.begin(), inR.end());
    double* io[2] = {dL.data(), dR.data()};
    effect->processDoubleReplacing(effect, io, io, 1000);
    EXPECT_EQ(gTimeRequests, 3);
    EXPECT_NEAR(dL[500], inL[456], 2e-7);
    EXPECT_NEAR(dR[999], inR[955], 2e-7);
    dispatch(effect, effSetSampleRate, 0, 0, nullptr, 48000.0f);
    EXPECT_EQ(effect->initialDelay, 48);
    EXPECT_EQ(dispatch(effect, effSetBlockSizeAndSampleRate, 0, 256, nullptr, 96000.0f), 1);
    dispatch(effect, effMainsChanged, 0, 1);
    EXPECT_EQ(effect->initialDelay, 48);
    VstSpeakerArrangement mono{}, stereo{};
    mono.numChannels = 1;
    stereo.numChannels = 2;
    EXPECT_EQ(dispatch(effect, effSetSpeakerArrangement, 0, 0, &stereo), 0);
    EXPECT_EQ(dispatch(effect, effSetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&mono), &stereo), 1);
    std::fill(inR.begin(), inR.end(), -0.9f);
    effect->processReplacing(effect, ins, outs, 1000);
    EXPECT_NEAR(outL[300], inL[300 - 48], 3e-7);
    EXPECT_EQ(outL[300], outR[300]);
}

// A synced quarter note follows the host's tempo, read on every block: one echo at full level
// 60 / BPM seconds after an impulse (22050 frames at 120 BPM); a tempo of 0 or NaN is no tempo.
TEST_F(Host, HostTempoDrivesTheSyncedDelay) {
    for (const auto& [index, v] : {std::pair{kDelayEnable, 1.0f}, {kDelaySyncEnable, 1.0f},
                                   {kDelayTime, 10.5f / 16.0f}, {kDelayLevel, 1.0f}, {kDelayFilterFreq, 1.0f}})
        effect->setParameter(effect, index, v);
    for (const auto& [bpm, frames] : {std::pair{120.0, 22050}, {0.0, 22050}, {NAN, 22050}, {60.0, 44100}}) {
        setTempo(bpm);
        std::vector<float> in(44100 * 5 / 2, 0.0f);
        in[44100] = 1.0f; // after a settling second
        const auto out = renderThrough(effect, in);
        const auto dry = out.begin() + 44100 + 44;
        const auto loudest = std::max_element(dry + 100, out.begin() + static_cast<std::ptrdiff_t>(in.size()),
                                              [](float a, float b) { return std::fabs(a) < std::fabs(b); });
        EXPECT_TRUE(std::fabs(*dry - 1.0f) < 1e-6 && loudest - dry == frames && std::fabs(*loudest - 1.0f) < 1e-3)
            << bpm << " BPM: dry " << *dry << ", echo " << *loudest << " after " << loudest - dry << " frames";
    }
}

// Every opcode with a null pointer and an absurd index or value (the speaker arrangement opcodes
// carry a pointer in `value`: null there too); the effect still works afterwards.
TEST_F(Host, BadRequestsAreAnsweredWithoutCrashing) {
    for (VstInt32 opcode = 0; opcode < 100; ++opcode) {
        const bool pointerInValue = opcode == effSetSpeakerArrangement || opcode == effGetSpeakerArrangement;
        if (opcode != effClose) {
            dispatch(effect, opcode, 100000, pointerInValue ? 0 : -1, nullptr, 0.0f);
            dispatch(effect, opcode, -7, pointerInValue ? 0 : 1 << 30, nullptr, -1.0f);
        }
    }
    EXPECT_EQ(dispatch(effect, effGetChunk, 0, 0, nullptr), 0);
    EXPECT_EQ(dispatch(effect, effSetChunk, 0, 4852, nullptr), 0);
    EXPECT_EQ(dispatch(effect, effCanDo, 0, 0, nullptr), 0);
    EXPECT_EQ(text(effect, effGetParamDisplay, 9999), "");
    EXPECT_EQ(effect->initialDelay, 44); // the sample rate calls above were refused
    EXPECT_EQ(text(effect, effGetEffectName), "Pellucer");
}

// The user edits, loads programs and changes the rate while the audio thread processes; a state
// saved by a fresh instance then loads (through the chunk calls) and the output is the exact
// delayed input again.
TEST_F(Host, DispatcherFromAnotherThreadWhileProcessing) {
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        std::vector<float> l = pinkNoise(256, 9), r(256, -0.1f), ol(256), orr(256);
        float *ins[2] = {l.data(), r.data()}, *outs[2] = {ol.data(), orr.data()};
        while (!stop.load())
            effect->processReplacing(effect, ins, outs, 256);
    });
    const float rates[] = {48000.0f, 96000.0f, 22050.0f, 192000.0f, 44100.0f};
    void* chunk = nullptr;
    for (int round = 0; round < 200; ++round) {
        text(effect, effGetParamDisplay, round % 39);
        effect->setParameter(effect, round % 38, static_cast<float>(round % 7) / 7.0f);
        effect->setParameter(effect, kReserved, round % 2 ? 54321.0f : 12345.0f);
        dispatch(effect, round % 20 ? effGetChunk : effSetProgram, 0, round % 61, &chunk);
        if (round % 10 == 0)
            dispatch(effect, effSetSampleRate, 0, 0, nullptr, rates[round / 10 % 5]);
    }
    stop.store(true);
    audio.join();
    EXPECT_EQ(effect->initialDelay, 44);
    AEffect* fresh = entry(hostCallback);
    void* fullReset = nullptr;
    const VstIntPtr size = dispatch(fresh, effGetChunk, 0, 0, &fullReset);
    EXPECT_EQ(dispatch(effect, effSetChunk, 0, size, fullReset), 1);
    dispatch(fresh, effClose);
    const std::vector<float> in = pinkNoise(44100, 6);
    const auto out = renderThrough(effect, in);
    for (size_t i = 33075; i < in.size(); ++i)
        ASSERT_NEAR(out[i], in[i - 44], 3e-7) << i;
}

// A NaN or an infinity from the host enters as silence before any stage: for every program, a
// render with such samples is, sample for sample, the render with zeros in their place.
TEST(VstSignal, NonFiniteSamplesEnterAsSilence) {
    ASSERT_NE(entry, nullptr);
    std::vector<float> clean = pinkNoise(22050, 7), damaged = clean;
    constexpr float kInf = std::numeric_limits<float>::infinity();
    for (const auto& [at, value] : {std::pair{4410, std::numeric_limits<float>::quiet_NaN()}, {4411, kInf},
                                    {4412, -kInf}, {9000, kInf}}) {
        clean[at] = 0.0f;
        damaged[at] = value;
    }
    for (VstInt32 program = 0; program < kPrograms; ++program) {
        AEffect *a = openAt(44100.0f, program), *b = openAt(44100.0f, program);
        EXPECT_EQ(renderThrough(a, damaged), renderThrough(b, clean)) << kBank[program].name;
        dispatch(a, effClose);
        dispatch(b, effClose);
    }
}

// Hosts run from 8 kHz telephone rates to 192 kHz: every program stays finite, audible (the last
// quarter above -50 dBFS RMS, a mean square of 1e-5, on a channel) and below +12 dBFS (3.98) for
// pink noise at -20 dBFS.
TEST(VstSignal, EveryProgramSoundsAtEveryRate) {
    ASSERT_NE(entry, nullptr);
    for (float rate : {8000.0f, 11025.0f, 16000.0f, 22050.0f, 96000.0f, 192000.0f}) {
        const std::vector<float> in = pinkNoise(static_cast<size_t>(rate / 2), 11);
        const size_t n = in.size();
        for (VstInt32 program = 0; program < kPrograms; ++program) {
            AEffect* e = openAt(rate, program);
            const std::vector<float> out = renderThrough(e, in);
            dispatch(e, effClose);
            const bool finite = std::all_of(out.begin(), out.end(), [](float x) { return std::isfinite(x); });
            const float loudest = std::fabs(*std::max_element(
                out.begin(), out.end(), [](float a, float b) { return std::fabs(a) < std::fabs(b); }));
            const auto meanSquare = [&](size_t from) { // of a channel's last quarter
                return std::inner_product(out.begin() + from, out.begin() + from + n / 4, out.begin() + from, 0.0) / (n / 4);
            };
            const double tail = std::max(meanSquare(n * 3 / 4), meanSquare(n + n * 3 / 4));
            EXPECT_TRUE(finite && tail > 1e-5 && loudest < 3.98f) << kBank[program].name << " at " << rate << " Hz: finite "
                                                                   << finite << ", peak " << loudest << ", tail " << tail;
        }
    }
}

// The shortest attack is instant through the parameter path too (the 32-bit value 0.0 means
// 0.1 ms): a step from -40 to 0 dBFS on the crest of a sine is caught at once, with no click
// above the level the compressor settles at. Five factory programs use that attack.
TEST(VstSignal, TheFastestAttackCatchesAStepAtOnce) {
    ASSERT_NE(entry, nullptr);
    const double period = 44100.0 / 440.0;
    const size_t crest = 44100 + static_cast<size_t>(period / 4.0 + 0.5); // after a second at -40 dB
    std::vector<float> in(crest + 22050);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<float>((i < crest ? 0.01 : 1.0) * std::sin(2.0 * std::numbers::pi * static_cast<double>(i) / period));
    const auto peakOf = [](const std::vector<float>& s, size_t from, size_t to) {
        return static_cast<double>(std::fabs(*std::max_element(
            s.begin() + from, s.begin() + to, [](float a, float b) { return std::fabs(a) < std::fabs(b); })));
    };
    int tested = 0;
    for (VstInt32 program = 0; program < kPrograms; ++program) {
        AEffect* e = openAt(44100.0f, program);
        if (e->getParameter(e, pellucer::kCompanderAttack) == 0.0f && e->getParameter(e, pellucer::kCompanderEnable) >= 0.5f) {
            ++tested;
            const std::vector<float> out = renderThrough(e, in); // left channel first
            const size_t at = crest + 44;                        // the step as it leaves, after the latency
            const double onset = peakOf(out, at, at + 441), settled = peakOf(out, at + 11025, in.size());
            EXPECT_LT(20.0 * std::log10(onset / settled), 1.0) << kBank[program].name;
        }
        dispatch(e, effClose);
    }
    EXPECT_EQ(tested, 5);
}
