// pellucer_torture: a hostile host. It loads the built plug-in module and drives it only through
// its VST 2.4 entry, the dispatcher, the process functions and a host callback of its own, from
// several threads at once, with the block sizes, samples, automation and state that careless
// hosts send. Every output sample must be finite and within +24 dBFS, nothing may crash, no
// thread may stall, and the state must survive a save and a load.
//
//   pellucer_torture [--seconds N] [--seed N] [MODULE]
//
// For one seed every thread does the same things in the same order (timing aside): each has its
// own generator and our own mapping to ranges. On failure the program prints the seed and what
// it was doing, and exits non-zero.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
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

constexpr float kCeiling = 15.848932f;  // 10^(24/20): +24 dBFS
constexpr int kStallSeconds = 10;       // the watchdog's patience
constexpr int32_t kChunkBytes = 4852;   // the strip's state chunk
constexpr int32_t kLargestBlock = 8193; // the largest announced block size, plus one
constexpr int kInstances = 64;
constexpr int kEditorCycles = 50;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// The strip has gain to spare: input and output gain reach +24 dB, each EQ band +12 dB, the
// compressor's make-up +54 dB (its threshold at -60 dB, heard until an attack catches up) and the
// delay's loop 0.9 (ten times a DC input). At their tops they carry a full-scale input past the
// ceiling as asked, so what the torture sets or loads keeps them within a budget well under it:
// gains at unity or below, a threshold of -6 dB or above (no make-up), a loop gain of 0.27 or
// below. Every other parameter may take any value; a NaN stays a NaN (the strip must ignore it).
struct Budget {
    int32_t index;
    float lowest, highest;
};
constexpr Budget kBudget[] = {{2, 0.0f, 0.5f},  {5, 0.9f, 1.0f},  {16, 0.0f, 0.5f}, {18, 0.0f, 0.5f},
                              {20, 0.0f, 0.5f}, {32, 0.0f, 0.3f}, {36, 0.0f, 0.5f}};
constexpr int32_t kValuesOffset = 4696; // of the parameter values in the chunk
float tame(int32_t index, float value) {
    for (const Budget& b : kBudget)
        if (b.index == index)
            return std::isnan(value) ? value : std::clamp(value, b.lowest, b.highest);
    return value;
}

uint64_t gSeed = 1;

[[noreturn]] void fail(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::fprintf(stderr, "torture: FAILED (seed %llu): ", static_cast<unsigned long long>(gSeed));
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
    std::fflush(stderr);
    std::_Exit(1);
}

// splitmix64, and our own mapping to ranges (std:: distributions differ between libraries).
struct Rng {
    uint64_t state;
    explicit Rng(uint64_t stream) : state(gSeed * 0x9E3779B97F4A7C15ull + stream) {}
    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int32_t below(int32_t n) { return static_cast<int32_t>(((next() >> 32) * static_cast<uint64_t>(n)) >> 32); }
    double unit() { return static_cast<double>(next() >> 11) * 0x1p-53; }
    bool chance(double p) { return unit() < p; }
    template <typename T, size_t N> const T& pick(const T (&table)[N]) { return table[below(static_cast<int32_t>(N))]; }
};

// ---- the module and the host's side of the conversation -------------------------------------------

using Entry = AEffect* (*)(audioMasterCallback);
Entry gEntry = nullptr;

Entry loadEntry(const char* path) {
#ifdef _WIN32
    HMODULE module = LoadLibraryA(path);
    return module ? reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(GetProcAddress(module, "VSTPluginMain")))
                  : nullptr;
#else
    void* module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    return module ? reinterpret_cast<Entry>(dlsym(module, "VSTPluginMain")) : nullptr;
#endif
}

// Each thread answers the time query with its own record: the audio thread's jumps around, the
// others keep a steady 120 BPM. Null means "no time" (hosts that keep it to themselves).
thread_local VstTimeInfo* tTime = nullptr;
std::atomic<int32_t> gAnnouncedBlock{512};

VstIntPtr hostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    switch (opcode) {
    case audioMasterVersion: return 2400;
    case audioMasterGetTime: return reinterpret_cast<VstIntPtr>(tTime);
    case audioMasterGetBlockSize: return gAnnouncedBlock.load();
    case audioMasterGetSampleRate: return 44100;
    case audioMasterAutomate:
    case audioMasterBeginEdit:
    case audioMasterEndEdit:
    case audioMasterIdle:
    case audioMasterUpdateDisplay:
    case audioMasterSizeWindow: return 1;
    default: return 0;
    }
}

VstIntPtr call(AEffect* e, VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
               float opt = 0.0f) {
    return e->dispatcher(e, opcode, index, value, ptr, opt);
}

AEffect* openEffect(float rate, int32_t blockSize, int32_t program) {
    AEffect* e = gEntry(hostCallback);
    if (e == nullptr || e->magic != kEffectMagic)
        fail("VSTPluginMain gave no effect");
    call(e, effOpen);
    call(e, effSetSampleRate, 0, 0, nullptr, rate);
    call(e, effSetBlockSize, 0, blockSize);
    call(e, effSetProgram, 0, program);
    call(e, effMainsChanged, 0, 1);
    return e;
}

std::vector<uint8_t> chunkOf(AEffect* e, bool program) {
    void* data = nullptr;
    const auto size = static_cast<int32_t>(call(e, effGetChunk, program ? 1 : 0, 0, &data));
    if (size <= 0 || data == nullptr)
        fail("effGetChunk gave %d bytes", size);
    const auto* bytes = static_cast<const uint8_t*>(data);
    return {bytes, bytes + size};
}

// A text opcode into a buffer filled with a marker: an answer must end within `limit` characters
// and nothing past the terminator's place may be written.
std::string textOf(AEffect* e, VstInt32 opcode, VstInt32 index, size_t limit) {
    char buffer[256];
    std::memset(buffer, 0x7F, sizeof buffer);
    call(e, opcode, index, 0, buffer);
    if (std::all_of(buffer, buffer + sizeof buffer, [](char c) { return c == 0x7F; }))
        return {}; // not answered
    const size_t length = strnlen(buffer, sizeof buffer);
    if (length > limit || std::any_of(buffer + limit + 1, buffer + sizeof buffer, [](char c) { return c != 0x7F; }))
        fail("opcode %d, index %d: the text runs past %zu characters", opcode, index, limit);
    return {buffer, length};
}

// What a host would show of every parameter, for a failure's report.
std::string settingsOf(AEffect* e) {
    std::string all;
    for (VstInt32 p = 0; p < e->numParams; ++p) {
        char name[256] = {}, shown[256] = {};
        call(e, effGetParamName, p, 0, name);
        call(e, effGetParamDisplay, p, 0, shown);
        all += std::string(" ") + name + "=" + shown + ";";
    }
    return all;
}

// ---- the audio thread's allocations (native: the program's operator new sees the module's) ------

// The delay grows its line inside a process call when a synced note outlasts it (a slow tempo):
// a documented exception, counted apart by its size (a grown line is at least 2 x 16384 doubles).
// Every other allocation there fails the run.
constexpr std::size_t kLineBytes = 2 * 16384 * sizeof(double);
std::atomic<uint64_t> gAudioAllocations{0}, gLineAllocations{0};
thread_local bool tInProcess = false;

// ---- the watchdog ------------------------------------------------------------------------------------

struct Beat {
    const char* thread;
    std::atomic<const char*> doing{"starting"};
    std::atomic<uint64_t> count{0};
    void tick(const char* what) {
        doing.store(what, std::memory_order_relaxed);
        count.fetch_add(1, std::memory_order_relaxed);
    }
};

class Watchdog {
public:
    explicit Watchdog(std::vector<Beat*> beats) : beats_(std::move(beats)), thread_([this] { watch(); }) {}
    ~Watchdog() {
        stop_.store(true);
        thread_.join();
    }

private:
    void watch() {
        using Clock = std::chrono::steady_clock;
        std::vector<uint64_t> last(beats_.size(), ~0ull);
        std::vector<Clock::time_point> since(beats_.size(), Clock::now());
        while (!stop_.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            for (size_t i = 0; i < beats_.size(); ++i) {
                const uint64_t now = beats_[i]->count.load();
                if (now != last[i]) {
                    last[i] = now;
                    since[i] = Clock::now();
                } else if (Clock::now() - since[i] > std::chrono::seconds(kStallSeconds)) {
                    fail("the %s thread made no progress for %d s (last: %s)", beats_[i]->thread, kStallSeconds,
                         beats_[i]->doing.load());
                }
            }
        }
    }
    std::vector<Beat*> beats_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// ---- signals and the output check ------------------------------------------------------------------

enum class Signal { Noise, Denormals, Square, Dc, NonFinite, Silence };
constexpr Signal kSignals[] = {Signal::Noise, Signal::Noise,     Signal::Denormals, Signal::Square,
                               Signal::Dc,    Signal::NonFinite, Signal::Silence};
const char* signalName(Signal s) {
    constexpr const char* kNames[] = {"noise", "denormals", "full-scale square", "DC", "NaN/Inf bursts", "silence"};
    return kNames[static_cast<int>(s)];
}

template <typename Sample>
void fill(Rng& rng, Signal signal, Sample* out, int32_t frames) {
    const int32_t period = 2 + rng.below(400);
    const Sample dc = rng.chance(0.5) ? 1 : -1;
    const Sample tiny = std::numeric_limits<Sample>::denorm_min() * static_cast<Sample>(1 + rng.below(1000));
    for (int32_t i = 0; i < frames; ++i) {
        const auto noise = static_cast<Sample>(rng.unit() * 2.0 - 1.0);
        switch (signal) {
        case Signal::Noise: out[i] = noise; break;
        case Signal::Denormals: out[i] = noise < 0 ? -tiny : tiny; break;
        case Signal::Square: out[i] = (i % period) < period / 2 ? 1 : -1; break;
        case Signal::Dc: out[i] = dc; break;
        case Signal::NonFinite: out[i] = noise; break;
        case Signal::Silence: out[i] = 0; break;
        }
    }
    if (signal == Signal::NonFinite && frames > 0)
        for (int burst = 1 + rng.below(4); burst > 0; --burst) {
            const Sample bad[] = {std::numeric_limits<Sample>::quiet_NaN(), std::numeric_limits<Sample>::infinity(),
                                  -std::numeric_limits<Sample>::infinity()};
            const int32_t at = rng.below(frames), length = std::min(frames - at, 1 + rng.below(64));
            std::fill(out + at, out + at + length, rng.pick(bad));
        }
}

// The buffers of one stream: inputs and outputs in both precisions, large enough for any block.
struct Buffers {
    std::vector<float> f[4];
    std::vector<double> d[4];
    Buffers() {
        for (auto& b : f)
            b.resize(kLargestBlock);
        for (auto& b : d)
            b.resize(kLargestBlock);
    }
};

struct BlockPlan {
    int32_t frames;
    bool doublePrecision, inPlace;
    Signal signal;
};

// One block through an effect, checked: outputs are filled with NaN first, so a block the
// plug-in leaves unwritten fails as surely as one it fills with garbage.
template <typename Sample>
void runBlock(AEffect* e, Rng& rng, const BlockPlan& plan, std::vector<Sample> (&b)[4], const char* who) {
    Sample* in[2] = {b[0].data(), b[1].data()};
    Sample* out[2] = {b[2].data(), b[3].data()};
    fill(rng, plan.signal, in[0], plan.frames);
    fill(rng, plan.signal, in[1], plan.frames);
    if (plan.inPlace) {
        out[0] = in[0];
        out[1] = in[1];
    } else {
        std::fill(out[0], out[0] + plan.frames, std::numeric_limits<Sample>::quiet_NaN());
        std::fill(out[1], out[1] + plan.frames, std::numeric_limits<Sample>::quiet_NaN());
    }
    // Within the announced size nothing may allocate; a longer block may grow the work buffers.
    tInProcess = plan.frames <= gAnnouncedBlock.load();
    if constexpr (sizeof(Sample) == sizeof(double))
        e->processDoubleReplacing(e, in, out, plan.frames);
    else
        e->processReplacing(e, in, out, plan.frames);
    tInProcess = false;
    for (int c = 0; c < 2; ++c)
        for (int32_t i = 0; i < plan.frames; ++i)
            if (!(std::fabs(out[c][i]) <= kCeiling))
                fail("%s: output %g at frame %d of channel %d in a %d-frame %s block (%s, %s); settings:%s", who,
                     static_cast<double>(out[c][i]), i, c, plan.frames, sizeof(Sample) == 8 ? "double" : "float",
                     plan.inPlace ? "in place" : "apart", signalName(plan.signal), settingsOf(e).c_str());
}

void runBlock(AEffect* e, Rng& rng, const BlockPlan& plan, Buffers& b, const char* who) {
    if (plan.doublePrecision)
        runBlock(e, rng, plan, b.d, who);
    else
        runBlock(e, rng, plan, b.f, who);
}

BlockPlan planBlock(Rng& rng) {
    const int32_t most = gAnnouncedBlock.load();
    int32_t frames = 0;
    switch (rng.below(10)) {
    case 0: frames = 0; break;
    case 1: frames = 1; break;
    case 2: frames = most; break;
    case 3: frames = most + 1; break;
    case 4:
    case 5:
    case 6: frames = (rng.below(most) | 1); break; // odd
    default: frames = 1 + rng.below(most); break;
    }
    return {frames, rng.chance(0.4), rng.chance(0.3), rng.pick(kSignals)};
}

// ---- state -------------------------------------------------------------------------------------

// The chunk of `e` loaded into a fresh instance saves as the same bytes, and the fresh instance
// reads every parameter back as `e` does; a program's parameters survive a trip to another
// program and back.
void checkState(AEffect* e, const char* when) {
    const std::vector<uint8_t> saved = chunkOf(e, false);
    AEffect* fresh = openEffect(48000.0f, 256, 5);
    if (call(fresh, effSetChunk, 0, static_cast<VstIntPtr>(saved.size()), const_cast<uint8_t*>(saved.data())) != 1)
        fail("%s: a saved chunk was refused", when);
    if (chunkOf(fresh, false) != saved || chunkOf(fresh, true) != saved)
        fail("%s: a saved chunk loaded into a fresh instance saves as other bytes", when);
    for (VstInt32 p = 0; p < e->numParams; ++p)
        if (fresh->getParameter(fresh, p) != e->getParameter(e, p))
            fail("%s: parameter %d reads %g in the fresh instance, %g in the first", when, p,
                 static_cast<double>(fresh->getParameter(fresh, p)), static_cast<double>(e->getParameter(e, p)));
    call(fresh, effClose);

    std::vector<float> before(static_cast<size_t>(e->numParams));
    for (VstInt32 p = 0; p < e->numParams; ++p)
        before[static_cast<size_t>(p)] = e->getParameter(e, p);
    const auto program = static_cast<VstInt32>(call(e, effGetProgram));
    call(e, effSetProgram, 0, (program + 17) % 61);
    call(e, effSetProgram, 0, program);
    for (VstInt32 p = 0; p < e->numParams; ++p)
        if (e->getParameter(e, p) != before[static_cast<size_t>(p)])
            fail("%s: program %d's parameter %d reads %g after a trip to another program, %g before", when, program, p,
                 static_cast<double>(e->getParameter(e, p)), static_cast<double>(before[static_cast<size_t>(p)]));
}

// A program set by hand, renamed, saved and loaded into a fresh instance.
void stateFromScratch() {
    Rng rng(6);
    AEffect* e = openEffect(44100.0f, 512, rng.below(61));
    e->setParameter(e, 0, 1.0f);
    for (VstInt32 p = 1; p < 38; ++p)
        e->setParameter(e, p, static_cast<float>(rng.unit()));
    constexpr float kOrders[] = {12345.0f, 54321.0f, 31452.0f, 25341.0f};
    e->setParameter(e, 38, rng.pick(kOrders));
    char name[] = "Torture 1";
    call(e, effSetProgramName, 0, 0, name);
    checkState(e, "a program set by hand");
    if (textOf(e, effGetProgramName, 0, 24) != name)
        fail("a renamed program reads back as \"%s\"", textOf(e, effGetProgramName, 0, 24).c_str());
    call(e, effClose);
}

// ---- the storm: one effect under audio, automation, program and host threads at once ---------------

struct Storm {
    AEffect* effect;
    AEffect* companion; // an editor-less instance processed beside it (Windows), or null
    std::atomic<bool> stop{false};
    Beat audio{"audio"}, automation{"automation"}, programs{"programs"}, host{"host"};
};

// Tempo and transport as a host with a jumpy timeline reports them.
void moveTime(Rng& rng, VstTimeInfo& time, int32_t frames) {
    time.samplePos += frames;
    time.ppqPos += frames / 22050.0;
    time.flags &= ~kVstTransportChanged;
    if (!rng.chance(0.05))
        return;
    constexpr double kTempi[] = {120.0, 60.0, 1.0, 999.0, 0.0, -120.0, 1e9, 1e-9, NAN, INFINITY};
    time.tempo = rng.chance(0.5) ? rng.pick(kTempi) : 20.0 + rng.unit() * 280.0;
    time.samplePos = rng.chance(0.5) ? -1e6 + rng.unit() * 1e9 : 0.0;
    time.ppqPos = rng.chance(0.8) ? time.samplePos / 22050.0 : NAN;
    time.flags = kVstTempoValid | kVstPpqPosValid | kVstTransportChanged | (rng.chance(0.7) ? kVstTransportPlaying : 0);
}

void audioThread(Storm& s) {
    Rng rng(1);
    Buffers mine, beside;
    VstTimeInfo time{};
    time.sampleRate = 44100.0;
    time.tempo = 120.0;
    time.timeSigNumerator = time.timeSigDenominator = 4;
    while (!s.stop.load()) {
        const BlockPlan plan = planBlock(rng);
        moveTime(rng, time, plan.frames);
        tTime = rng.chance(0.05) ? nullptr : &time;
        s.audio.tick("processing");
        runBlock(s.effect, rng, plan, mine, "audio");
        if (s.companion != nullptr)
            runBlock(s.companion, rng, {std::min(plan.frames, 512), false, false, Signal::Noise}, beside, "companion");
    }
}

// Every parameter, the editor's indices and some that do not exist, with values a host should
// never send; each answer read back as a host shows it.
void automationThread(Storm& s) {
    Rng rng(2);
    constexpr int32_t kOdd[] = {-1, 39, 60, 67, 2048, 1 << 30};
    constexpr float kValues[] = {kNaN, kInf, -kInf, -0.5f, 1.5f, 1e30f, -0.0f, 0.5f, 12345.0f, 54321.0f, 21435.0f};
    while (!s.stop.load()) {
        const int32_t index = rng.chance(0.8) ? rng.below(39) : rng.chance(0.7) ? 61 + rng.below(6) : rng.pick(kOdd);
        const float value = tame(index, rng.chance(0.7) ? static_cast<float>(rng.unit()) : rng.pick(kValues));
        s.automation.tick("setParameter");
        s.effect->setParameter(s.effect, index, value);
        const float back = s.effect->getParameter(s.effect, index);
        if (!std::isfinite(back))
            fail("getParameter(%d) = %g after setting %g", index, static_cast<double>(back), static_cast<double>(value));
        s.automation.tick("parameter texts");
        textOf(s.effect, effGetParamDisplay, index, 8);
        textOf(s.effect, effGetParamLabel, index, 8);
        textOf(s.effect, effGetParamName, index, 31);
        call(s.effect, effCanBeAutomated, index);
        if (rng.chance(0.1))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// A chunk as a careless host or a damaged file hands it over.
std::vector<uint8_t> damaged(Rng& rng, std::vector<uint8_t> chunk) {
    switch (rng.below(4)) {
    case 0: // random bytes
        chunk.resize(static_cast<size_t>(kChunkBytes + rng.below(256)));
        for (uint8_t& byte : chunk)
            byte = static_cast<uint8_t>(rng.next());
        break;
    case 1: // values not numbers, or far outside 0..1
        for (int n = 0; n < 8; ++n) {
            const float bad[] = {kNaN, kInf, -kInf, -3.0f, 77.0f, 1e-45f};
            std::memcpy(chunk.data() + kValuesOffset + 4 * rng.below(39), &rng.pick(bad), 4);
        }
        break;
    case 2: // a name without its terminator, and odd UTF-16 (unpaired surrogates)
        for (size_t at = 16; at < 16 + 520; at += 2) {
            const uint16_t unit = rng.chance(0.3) ? 0xD800 + rng.below(0x800) : 0x41 + rng.below(0xFF00);
            std::memcpy(chunk.data() + at, &unit, 2);
        }
        break;
    default: // a few flipped bytes anywhere, the header included
        for (int n = 0; n < 16; ++n)
            chunk[static_cast<size_t>(rng.below(kChunkBytes))] ^= static_cast<uint8_t>(1 + rng.below(255));
        break;
    }
    for (int32_t index = 0; index < 38; ++index) {
        float v;
        std::memcpy(&v, chunk.data() + kValuesOffset + 4 * index, 4);
        v = tame(index, v);
        std::memcpy(chunk.data() + kValuesOffset + 4 * index, &v, 4);
    }
    return chunk;
}

void programsThread(Storm& s) {
    Rng rng(3);
    std::vector<uint8_t> saved = chunkOf(s.effect, false);
    while (!s.stop.load()) {
        switch (rng.below(6)) {
        case 0: {
            constexpr int32_t kOdd[] = {-1, 61, 1000, -100000};
            s.programs.tick("effSetProgram");
            call(s.effect, effSetProgram, 0, rng.chance(0.9) ? rng.below(61) : rng.pick(kOdd));
            const auto program = call(s.effect, effGetProgram);
            if (program < 0 || program >= 61)
                fail("effGetProgram = %lld", static_cast<long long>(program));
            break;
        }
        case 1: {
            std::string name(static_cast<size_t>(rng.chance(0.2) ? 300 : rng.below(40)), ' ');
            for (char& c : name)
                c = static_cast<char>(1 + rng.below(255));
            s.programs.tick("effSetProgramName");
            call(s.effect, effSetProgramName, 0, 0, name.data());
            textOf(s.effect, effGetProgramName, 0, 24);
            textOf(s.effect, effGetProgramNameIndexed, rng.below(70) - 3, 24);
            break;
        }
        case 2:
            s.programs.tick("effGetChunk");
            saved = chunkOf(s.effect, rng.chance(0.5));
            if (saved.size() != kChunkBytes)
                fail("the state chunk has %zu bytes", saved.size());
            break;
        case 3:
            s.programs.tick("effSetChunk, saved");
            call(s.effect, effSetChunk, rng.below(2), static_cast<VstIntPtr>(saved.size()), saved.data());
            break;
        case 4: {
            std::vector<uint8_t> bad = damaged(rng, saved);
            s.programs.tick("effSetChunk, damaged");
            call(s.effect, effSetChunk, rng.below(2), static_cast<VstIntPtr>(bad.size()), bad.data());
            break;
        }
        default: {
            const VstIntPtr sizes[] = {0, 1, 12, kChunkBytes - 1, -1, -kChunkBytes};
            s.programs.tick("effSetChunk, truncated");
            call(s.effect, effSetChunk, 0, rng.pick(sizes), saved.data());
            call(s.effect, effSetChunk, 0, kChunkBytes, nullptr);
            break;
        }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200 + rng.below(3000)));
    }
}

// Suspend and resume, rates from 8 kHz to 384 kHz (and some no host should send) with and
// without a suspend around them, new block sizes.
void hostThread(Storm& s) {
    Rng rng(4);
    constexpr float kRates[] = {8000,   11025,  16000,  22050,  32000,  44100, 48000, 88200, 96000,
                                176400, 192000, 352800, 384000, 0,      -1,    kNaN,  kInf,  7999};
    constexpr int32_t kBlocks[] = {1, 32, 64, 100, 256, 441, 512, 1024, 2048, 4096, kLargestBlock - 1};
    while (!s.stop.load()) {
        const bool suspend = rng.chance(0.6);
        if (suspend) {
            s.host.tick("suspend");
            call(s.effect, effMainsChanged, 0, 0);
        }
        if (rng.chance(0.7)) {
            const float rate = rng.pick(kRates);
            s.host.tick("effSetSampleRate");
            call(s.effect, effSetSampleRate, 0, 0, nullptr, rate);
        }
        if (suspend && rng.chance(0.5)) {
            const int32_t block = rng.pick(kBlocks);
            s.host.tick("effSetBlockSize");
            call(s.effect, effSetBlockSize, 0, block);
            gAnnouncedBlock.store(block);
        }
        if (suspend) {
            s.host.tick("resume");
            call(s.effect, effMainsChanged, 0, 1);
        }
        s.host.tick("queries");
        call(s.effect, effGetTailSize);
        call(s.effect, effSetBypass, 0, rng.below(2));
        if (s.effect->initialDelay < 8 || s.effect->initialDelay > 384)
            fail("latency of %d frames", s.effect->initialDelay);
        std::this_thread::sleep_for(std::chrono::milliseconds(2 + rng.below(40)));
    }
}

#ifdef _WIN32
// The editor opened into a window of ours and closed again, again and again, while audio runs.
// Window tests take turns on one named mutex, so that they do not share the screen and input.
void editorCycles(AEffect* e, Beat& beat) {
    HANDLE turn = CreateMutexW(nullptr, FALSE, L"PellucerWindowTests");
    const DWORD waited = WaitForSingleObject(turn, 240000);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED)
        fail("no turn on the window tests' mutex in 240 s");
    WNDCLASSW description{};
    description.lpfnWndProc = &DefWindowProcW;
    description.hInstance = GetModuleHandleW(nullptr);
    description.lpszClassName = L"PellucerTortureHost";
    RegisterClassW(&description);
    HWND parent = CreateWindowExW(0, L"PellucerTortureHost", L"Host", WS_POPUP | WS_VISIBLE, 20, 20, 830, 350,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (parent == nullptr)
        fail("cannot create a host window (no X server?)");
    Rng rng(5);
    for (int cycle = 0; cycle < kEditorCycles; ++cycle) {
        beat.tick("effEditOpen");
        if (call(e, effEditOpen, 0, 0, parent) != 1)
            fail("effEditOpen refused a parent window (cycle %d)", cycle);
        for (int idle = rng.below(8); idle >= 0; --idle) {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&message);
            beat.tick("effEditIdle");
            call(e, effEditIdle);
            Sleep(5);
        }
        beat.tick("effEditClose");
        call(e, effEditClose);
        if (GetWindow(parent, GW_CHILD) != nullptr)
            fail("the editor's window outlived effEditClose (cycle %d)", cycle);
    }
    DestroyWindow(parent);
    ReleaseMutex(turn);
    CloseHandle(turn);
}
#endif

// Every program of the bank brought within the gain budget (the stored values follow).
void tameBank(AEffect* e) {
    for (VstInt32 program = 0; program < e->numPrograms; ++program) {
        call(e, effSetProgram, 0, program);
        for (const Budget& b : kBudget)
            e->setParameter(e, b.index, tame(b.index, e->getParameter(e, b.index)));
    }
    call(e, effSetProgram, 0, 0);
}

void storm(double seconds) {
    Storm s{openEffect(44100.0f, 512, 0), nullptr};
    tameBank(s.effect);
#ifdef _WIN32
    s.companion = openEffect(48000.0f, 512, 0);
    tameBank(s.companion);
#endif
    Beat main{"main"};
    {
        Watchdog watchdog({&s.audio, &s.automation, &s.programs, &s.host, &main});
        std::thread threads[] = {std::thread(audioThread, std::ref(s)), std::thread(automationThread, std::ref(s)),
                                 std::thread(programsThread, std::ref(s)), std::thread(hostThread, std::ref(s))};
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
#ifdef _WIN32
        editorCycles(s.effect, main);
#endif
        while (std::chrono::steady_clock::now() < end) {
            main.tick("waiting");
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        s.stop.store(true);
        main.tick("joining");
        for (std::thread& t : threads)
            t.join();
    }
    std::printf("storm: %llu blocks, %llu parameter calls, %llu program calls, %llu host calls\n",
                static_cast<unsigned long long>(s.audio.count.load()),
                static_cast<unsigned long long>(s.automation.count.load() / 2),
                static_cast<unsigned long long>(s.programs.count.load()),
                static_cast<unsigned long long>(s.host.count.load()));
    // Whatever the storm left behind (garbage loaded, names cut), the state saves and loads.
    s.effect->setParameter(s.effect, 0, 1.0f); // a loaded state starts switched on
    checkState(s.effect, "after the storm");
    for (AEffect* e : {s.effect, s.companion})
        if (e != nullptr && call(e, effClose) != 1)
            fail("effClose did not answer 1");
}

// ---- many instances ------------------------------------------------------------------------------

void manyInstances() {
    Rng rng(7);
    std::vector<AEffect*> effects;
    constexpr float kRates[] = {44100.0f, 48000.0f, 96000.0f};
    for (int i = 0; i < kInstances; ++i)
        effects.push_back(openEffect(rng.pick(kRates), 256, rng.below(61)));
    Beat beats[2] = {Beat{"instances 1"}, Beat{"instances 2"}};
    {
        Watchdog watchdog({&beats[0], &beats[1]});
        std::thread workers[2];
        for (int w = 0; w < 2; ++w)
            workers[w] = std::thread([&, w] {
                Rng mine(10 + static_cast<uint64_t>(w));
                Buffers buffers;
                for (int round = 0; round < 20; ++round)
                    for (size_t i = static_cast<size_t>(w); i < effects.size(); i += 2) {
                        beats[w].tick("processing");
                        runBlock(effects[i], mine, {1 + mine.below(256), mine.chance(0.5), false, Signal::Noise},
                                 buffers, "instances");
                    }
            });
        for (std::thread& t : workers)
            t.join();
    }
    for (size_t i = effects.size(); i > 1; --i) // closed in a random order
        std::swap(effects[i - 1], effects[static_cast<size_t>(rng.below(static_cast<int32_t>(i)))]);
    for (AEffect* e : effects)
        if (call(e, effClose) != 1)
            fail("effClose did not answer 1");
}

} // namespace

#ifndef _WIN32
extern "C" void __sanitizer_print_stack_trace() __attribute__((weak));
// The program's own operator new serves the module too (it binds to the program's definition),
// so allocations inside a process call are counted, and the first one's stack is printed where a
// sanitizer can print it. The sanitizers still see every malloc.
void* operator new(std::size_t size) {
    if (tInProcess) {
        if (size >= kLineBytes)
            gLineAllocations.fetch_add(1, std::memory_order_relaxed);
        else if (gAudioAllocations.fetch_add(1, std::memory_order_relaxed) == 0 && __sanitizer_print_stack_trace)
            __sanitizer_print_stack_trace();
    }
    if (void* p = std::malloc(size != 0 ? size : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return operator new(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return operator new(size, std::nothrow); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#endif

int main(int argc, char** argv) {
    double seconds = 25.0;
    const char* module = PELLUCER_VST_MODULE;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--seconds" || arg == "--seed") && i + 1 < argc) {
            (arg == "--seconds" ? seconds = std::atof(argv[++i]) : gSeed = std::strtoull(argv[++i], nullptr, 10));
        } else if (arg[0] != '-') {
            module = argv[i];
        } else {
            std::fprintf(stderr, "usage: %s [--seconds N] [--seed N] [MODULE]\n", argv[0]);
            return 2;
        }
    }
    if ((gEntry = loadEntry(module)) == nullptr)
        fail("cannot load VSTPluginMain from %s", module);
    std::printf("torture: %s, seed %llu, %.0f s\n", module, static_cast<unsigned long long>(gSeed), seconds);
    std::fflush(stdout);
    stateFromScratch();
    manyInstances();
    storm(std::max(1.0, seconds - 3.0));
    if (gAudioAllocations.load() != 0)
        fail("%llu allocations inside process calls", static_cast<unsigned long long>(gAudioAllocations.load()));
    if (gLineAllocations.load() != 0)
        std::printf("torture: the delay line grew %llu times inside process calls\n",
                    static_cast<unsigned long long>(gLineAllocations.load()));
    std::printf("torture: passed\n");
    return 0;
}
