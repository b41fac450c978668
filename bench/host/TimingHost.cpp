// pellucer_timing_host: a small VST 2 host that times processReplacing of Linux VST2 modules.
//
//   pellucer_timing_host [--seconds N] STRIP.so        the strip against the peer chain
//   pellucer_timing_host --list MODULE.so [NAME=VALUE...]...
//                                     each module's parameters as a host shows them, after
//                                     setting the named ones (normalised values)
//
// Every plug-in runs at 44.1 kHz on 512-frame float stereo blocks of the voice-like signal the
// strip benchmarks use (three seconds of it, looped), with the host's transport playing at
// 120 BPM. The plug-ins take turns in short rounds (200 blocks each per turn) for N seconds and
// each keeps its best round: this machine is shared and has slow phases lasting seconds, which a
// best-of-many-short-rounds measure steps around. A mono module runs as two instances, one per
// channel, and is timed as the pair. The peer chain costs the sum of its members' best rounds,
// each job done by the cheapest of the peers that can do it; the de-esser is a dynamic equaliser,
// and the chain with a side-chained compressor in its place is reported beside it.

#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/StripSettings.h"
#include "vst/VstAbi.h"

using namespace pellucer::bench;

namespace {

constexpr double kRate = 44100.0;
constexpr int32_t kBlock = 512;
constexpr int32_t kSignalBlocks = 256; // three seconds: two swells of the signal, so a gate closes
const char* const kPeerDir = "/usr/lib/vst";

// ---- the host side of the interface ------------------------------------------------------------

vst::VstTimeInfo timeInfo{};

void setTransport(double samplePos) {
    timeInfo.samplePos = samplePos;
    timeInfo.sampleRate = kRate;
    timeInfo.tempo = 120.0;
    timeInfo.ppqPos = samplePos / kRate * timeInfo.tempo / 60.0;
    timeInfo.barStartPos = std::floor(timeInfo.ppqPos / 4.0) * 4.0;
    timeInfo.timeSigNumerator = 4;
    timeInfo.timeSigDenominator = 4;
    timeInfo.flags = vst::kVstTransportPlaying | vst::kVstPpqPosValid | vst::kVstTempoValid | vst::kVstBarsValid |
                     vst::kVstTimeSigValid;
}

vst::VstIntPtr hostCallback(vst::AEffect*, vst::VstInt32 opcode, vst::VstInt32, vst::VstIntPtr, void*, float) {
    switch (opcode) {
    case vst::audioMasterVersion:
        return 2400;
    case vst::audioMasterGetTime:
        return reinterpret_cast<vst::VstIntPtr>(&timeInfo);
    default:
        return 0;
    }
}

using EntryPoint = vst::AEffect* (*)(vst::audioMasterCallback);

std::string text(vst::AEffect* effect, vst::VstInt32 opcode, vst::VstInt32 index = 0) {
    char buffer[256] = {}; // far more than the 8 to 64 characters the interface allows
    effect->dispatcher(effect, opcode, index, 0, buffer, 0.0f);
    return buffer;
}

// One loaded plug-in instance; the module stays loaded for the life of the program.
struct Instance {
    vst::AEffect* effect = nullptr;

    static Instance open(const std::string& path) {
        void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module == nullptr) {
            std::fprintf(stderr, "timing host: cannot load %s: %s\n", path.c_str(), dlerror());
            return {};
        }
        auto entry = reinterpret_cast<EntryPoint>(dlsym(module, "VSTPluginMain"));
        if (entry == nullptr)
            entry = reinterpret_cast<EntryPoint>(dlsym(module, "main"));
        vst::AEffect* effect = entry != nullptr ? entry(hostCallback) : nullptr;
        if (effect == nullptr || effect->magic != vst::kEffectMagic) {
            std::fprintf(stderr, "timing host: %s has no VST 2 entry that answers\n", path.c_str());
            return {};
        }
        effect->dispatcher(effect, vst::effOpen, 0, 0, nullptr, 0.0f);
        effect->dispatcher(effect, vst::effSetSampleRate, 0, 0, nullptr, static_cast<float>(kRate));
        effect->dispatcher(effect, vst::effSetBlockSize, 0, kBlock, nullptr, 0.0f);
        effect->dispatcher(effect, vst::effMainsChanged, 0, 1, nullptr, 0.0f);
        return {effect};
    }

    int32_t paramIndex(const std::string& name) const {
        for (int32_t i = 0; i < effect->numParams; ++i)
            if (text(effect, vst::effGetParamName, i) == name)
                return i;
        return -1;
    }
    std::string display(int32_t index) const {
        return text(effect, vst::effGetParamDisplay, index) + " " + text(effect, vst::effGetParamLabel, index);
    }
};

// Prints the module's parameters after setting `settings` ("name=value", normalised).
void listParameters(const std::string& path, const std::vector<std::string>& settings) {
    const Instance instance = Instance::open(path);
    if (instance.effect == nullptr)
        return;
    vst::AEffect* e = instance.effect;
    for (const std::string& setting : settings) {
        const size_t equals = setting.rfind('=');
        const int32_t index = instance.paramIndex(setting.substr(0, equals));
        if (index >= 0)
            e->setParameter(e, index, std::strtof(setting.c_str() + equals + 1, nullptr));
        else
            std::printf("  (no parameter \"%s\")\n", setting.substr(0, equals).c_str());
    }
    std::printf("%s: \"%s\", %d in, %d out, %d parameters, flags 0x%x\n", path.c_str(),
                text(e, vst::effGetEffectName).c_str(), e->numInputs, e->numOutputs, e->numParams, e->flags);
    for (int32_t i = 0; i < e->numParams; ++i)
        std::printf("  %3d  %-28s %8.4f  %s\n", i, text(e, vst::effGetParamName, i).c_str(), e->getParameter(e, i),
                    instance.display(i).c_str());
}

// ---- the plug-ins timed --------------------------------------------------------------------------

struct PeerSetting {
    const char* name; ///< the parameter's name as effGetParamName gives it
    float value;      ///< normalised
};

struct Peer {
    const char* job;
    const char* module; ///< below kPeerDir
    std::vector<PeerSetting> settings;
};

// The jobs of the strip's comparable set-up, in its order, each done by a separate plug-in. A
// job with several candidates counts in the chain with the cheapest of them. Values were chosen
// with --list so that each one works on the test signal: the saturators driven, the de-esser's
// and the compressor's thresholds below the signal's level, the gate opening and closing with
// the swell, three equaliser bands boosting or cutting, the delay feeding back through its filter.
// ZamTube, a circuit model, also saturates but costs some 1.6 us per stereo frame here, which
// would leave few rounds for the others; ZamAutoSat is the saturator timed.
const std::vector<Peer> kPeers = {
    {"saturate", "ZamAutoSat-vst.so", {}},
    {"de-ess", "ZamDynamicEQ-vst.so",
     {{"Threshold", 0.6f}, {"Ratio", 0.4f}, {"Knee", 0.3f}, {"Max Boost/Cut", 0.5f}, {"Peak", 1.0f},
      {"Detect Frequenc", 0.32f}, {"Target Frequenc", 0.32f}, {"Target width", 0.5f}, {"Boost / Cut", 0.0f}}},
    // A compressor listening through a steep high-pass: a wide-band de-esser, cheaper than a
    // dynamic equaliser and cruder (it turns the whole signal down); the second chain's.
    {"de-ess (wide-band)", "lsp-plugins/compressor-stereo.so",
     {{"shpm", 0.75f}, {"shpf", 0.83f}, {"scs", 1.0f}, {"scm", 0.0f}, {"al", 0.5f}, {"cr", 0.3f}, {"at", 0.3f}}},
    {"compress", "lsp-plugins/compressor-stereo.so", {{"al", 0.6f}, {"cr", 0.3f}}},
    {"compress", "ZamCompX2-vst.so", {{"Threshold", 0.6f}, {"Ratio", 0.16f}}},
    {"gate", "lsp-plugins/gate-stereo.so", {{"gt", 0.667f}}},
    {"gate", "ZamGateX2-vst.so", {{"Threshold", 0.667f}}},
    {"equalise", "lsp-plugins/para-equalizer-x16-stereo.so",
     {{"ft_6", 0.7f}, {"g_6", 0.6f}, {"ft_10", 0.2f}, {"g_10", 0.45f}, {"q_10", 0.007f}, {"ft_13", 0.4f},
      {"g_13", 0.58f}}},
    {"equalise", "ZamEQ2-vst.so",
     {{"Peaks ON", 1.0f}, {"Boost/Cut L", 0.8f}, {"Boost/Cut 1", 0.65f}, {"Frequency 1", 0.1f}, {"Boost/Cut H", 0.78f}}},
    {"delay", "ZamDelay-vst.so", {{"Time", 0.05f}, {"Feedback", 0.6f}, {"LPF", 0.2f}}},
    {"saturate2", "ZamAutoSat-vst.so", {}},
};

struct Member {
    std::string name;
    std::string job; ///< empty for the strip's own set-ups
    std::vector<Instance> instances; ///< one stereo instance, or a mono one per channel
    std::vector<double> roundSeconds;
    double samplePos = 0.0;
    double inEnergy = 0.0, outEnergy = 0.0;
    double quietInEnergy = 0.0, quietOutEnergy = 0.0; ///< over blocks below -20 dBFS RMS
    double best = 0.0, median = 0.0; ///< ns per stereo frame
};

// Loads `path` (twice when it is mono) and sets its parameters; false when it cannot be used.
bool load(Member& member, const std::string& path, const std::vector<std::pair<int32_t, float>>& byIndex,
          const std::vector<PeerSetting>& byName) {
    member.instances.push_back(Instance::open(path));
    if (member.instances[0].effect != nullptr && member.instances[0].effect->numOutputs < 2)
        member.instances.push_back(Instance::open(path));
    for (Instance& instance : member.instances) {
        vst::AEffect* e = instance.effect;
        if (e == nullptr || e->processReplacing == nullptr || e->numInputs < 1 || e->numOutputs < 1)
            return false;
        for (auto [index, value] : byIndex)
            e->setParameter(e, index, value);
        for (const PeerSetting& setting : byName) {
            const int32_t index = instance.paramIndex(setting.name);
            if (index < 0) {
                std::fprintf(stderr, "timing host: %s has no parameter \"%s\"\n", path.c_str(), setting.name);
                return false;
            }
            e->setParameter(e, index, setting.value);
        }
    }
    std::printf("%-18s %-40s", member.job.c_str(), member.name.c_str());
    for (const PeerSetting& setting : byName)
        std::printf(" %s=%s;", setting.name,
                    member.instances[0].display(member.instances[0].paramIndex(setting.name)).c_str());
    std::printf("\n");
    return true;
}

struct Buffers {
    std::vector<float> inL, inR, outL, outR, spare;
    Buffers()
        : inL(kSignalBlocks * kBlock), inR(kSignalBlocks * kBlock), outL(kBlock), outR(kBlock), spare(kBlock) {
        fillSignal(inL, inR, kRate);
    }
};

// Runs `blocks` blocks through the member; answers the seconds taken. A stereo instance gets the
// two channels; a mono one its channel. Side-chain inputs get the input again, and outputs past
// the ones used a spare buffer.
double turn(Member& member, Buffers& b, int32_t blocks, bool measureLevels) {
    constexpr int32_t kMaxPins = 8;
    const bool mono = member.instances.size() == 2;
    float* ins[2][kMaxPins];
    float* outs[2][kMaxPins];
    const auto start = std::chrono::steady_clock::now();
    for (int32_t k = 0; k < blocks; ++k) {
        const size_t position = static_cast<size_t>(member.samplePos) % b.inL.size();
        float* channels[2] = {b.inL.data() + position, b.inR.data() + position};
        float* outputs[2] = {b.outL.data(), b.outR.data()};
        setTransport(member.samplePos);
        for (size_t n = 0; n < member.instances.size(); ++n) {
            vst::AEffect* e = member.instances[n].effect;
            for (int32_t pin = 0; pin < kMaxPins; ++pin) {
                ins[n][pin] = channels[mono ? n : pin % 2];
                outs[n][pin] = pin == 0 || (pin == 1 && !mono) ? outputs[mono ? n : pin] : b.spare.data();
            }
            e->processReplacing(e, ins[n], outs[n], kBlock);
        }
        member.samplePos += kBlock;
        if (measureLevels) {
            double in = 0.0, out = 0.0;
            for (int32_t i = 0; i < kBlock; ++i) {
                in += double(channels[0][i]) * channels[0][i] + double(channels[1][i]) * channels[1][i];
                out += double(outputs[0][i]) * outputs[0][i] + double(outputs[1][i]) * outputs[1][i];
            }
            member.inEnergy += in;
            member.outEnergy += out;
            if (in < 0.01 * 2 * kBlock) {
                member.quietInEnergy += in;
                member.quietOutEnergy += out;
            }
        }
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int usage() {
    std::fprintf(stderr, "usage: pellucer_timing_host [--seconds N] [--blocks N] STRIP.so\n"
                         "       pellucer_timing_host --list MODULE.so [NAME=VALUE...]...\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 20.0;
    int32_t blocksPerTurn = 200;
    std::string strip;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--list") {
            for (int k = i + 1; k < argc;) {
                const std::string module = argv[k++];
                std::vector<std::string> settings;
                while (k < argc && std::strchr(argv[k], '=') != nullptr)
                    settings.emplace_back(argv[k++]);
                listParameters(module, settings);
            }
            return 0;
        }
        if (arg == "--seconds" && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (arg == "--blocks" && i + 1 < argc)
            blocksPerTurn = std::max(1, std::atoi(argv[++i]));
        else if (!arg.empty() && arg[0] != '-' && strip.empty())
            strip = arg;
        else
            return usage();
    }
    if (strip.empty())
        return usage();

    std::vector<Member> members;
    auto add = [&](const std::string& name, const std::string& job, const std::string& path,
                   const std::vector<std::pair<int32_t, float>>& byIndex, const std::vector<PeerSetting>& byName) {
        Member member;
        member.name = name;
        member.job = job;
        if (!load(member, path, byIndex, byName))
            return false;
        members.push_back(std::move(member));
        return true;
    };
    std::vector<std::pair<int32_t, float>> everything, comparable;
    applySettings(kEverythingOn, [&](int32_t index, float value) { everything.emplace_back(index, value); });
    applySettings(kComparable, [&](int32_t index, float value) { comparable.emplace_back(index, value); });
    if (!add("Pellucer, everything on", "", strip, everything, {}) ||
        !add("Pellucer, comparable set-up", "", strip, comparable, {}))
        return 1;
    for (const Peer& peer : kPeers)
        if (!add(peer.module, peer.job, std::string(kPeerDir) + "/" + peer.module, {}, peer.settings))
            return 1;

    Buffers buffers;
    for (Member& member : members) // settles fades and envelopes; notes each one's level change
        turn(member, buffers, blocksPerTurn, true);
    const auto start = std::chrono::steady_clock::now();
    int32_t rounds = 0;
    while (rounds < 3 || std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < seconds) {
        for (Member& member : members)
            member.roundSeconds.push_back(turn(member, buffers, blocksPerTurn, false));
        ++rounds;
    }

    const double framesPerTurn = static_cast<double>(blocksPerTurn) * kBlock;
    std::printf("\n%d rounds of %d blocks of %d frames, 44.1 kHz float stereo; ns per stereo frame\n", rounds,
                blocksPerTurn, kBlock);
    std::printf("%-18s %-40s %8s %8s %10s %10s\n", "job", "plug-in", "best", "median", "out/in dB", "quiet dB");
    for (Member& m : members) {
        std::sort(m.roundSeconds.begin(), m.roundSeconds.end());
        m.best = m.roundSeconds.front() * 1e9 / framesPerTurn;
        m.median = m.roundSeconds[m.roundSeconds.size() / 2] * 1e9 / framesPerTurn;
        std::printf("%-18s %-40s %8.1f %8.1f %10.1f %10.1f\n", m.job.c_str(), m.name.c_str(), m.best, m.median,
                    10.0 * std::log10(m.outEnergy / m.inEnergy), 10.0 * std::log10(m.quietOutEnergy / m.quietInEnergy));
    }
    // The chain: per job, the cheapest candidate, in the order the jobs first appear. The second
    // chain takes the wide-band de-esser in place of the dynamic equaliser.
    auto chainCost = [&](bool wideBand, std::string& chosen) {
        double chain = 0.0;
        std::vector<std::string> done;
        for (size_t i = 2; i < members.size(); ++i) {
            std::string job = members[i].job;
            const bool alternative = job == "de-ess (wide-band)";
            if (alternative != wideBand && (job == "de-ess" || alternative))
                continue;
            if (alternative)
                job = "de-ess";
            if (std::find(done.begin(), done.end(), job) != done.end())
                continue;
            done.push_back(job);
            const Member* cheapest = &members[i];
            for (size_t k = i + 1; k < members.size(); ++k)
                if (members[k].job == members[i].job && members[k].best < cheapest->best)
                    cheapest = &members[k];
            chain += cheapest->best;
            chosen += (chosen.empty() ? "" : " + ") + cheapest->name;
        }
        return chain;
    };
    for (const bool wideBand : {false, true}) {
        std::string chosen;
        const double chain = chainCost(wideBand, chosen);
        std::printf("\npeer chain%s: %s\n", wideBand ? " with the wide-band de-esser" : "", chosen.c_str());
        std::printf("  sum of best: %.1f ns per stereo frame; strip / chain: everything on %.2f, comparable %.2f\n",
                    chain, members[0].best / chain, members[1].best / chain);
    }

    for (Member& member : members)
        for (Instance& instance : member.instances) {
            instance.effect->dispatcher(instance.effect, vst::effMainsChanged, 0, 0, nullptr, 0.0f);
            instance.effect->dispatcher(instance.effect, vst::effClose, 0, 0, nullptr, 0.0f);
        }
    return 0;
}
