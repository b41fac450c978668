// pellucer-lv2-host: a small LV2 host on lilv for the bundle's checks. It renders a stereo file
// through the plug-in found on LV2_PATH, as a host does: the control ports at their defaults,
// the optional time port left unconnected, blocks of 512 frames, the latency left in.
//
//   pellucer-lv2-host [-c SYMBOL VALUE]... [--preset LABEL] [--chunk FILE [--as-atom-chunk]]
//                     [--through-lilv STATE.ttl] [--tempo BPM [--silence-from FRAME [--restart]]] IN OUT
//   pellucer-lv2-host --abuse SEED
//
// -c sets a control port after any preset or state. --preset loads a preset of the bundle through
// lilv (port values). --chunk restores a bare state chunk through the plug-in's state interface
// (--as-atom-chunk: handed over as a type that is not ours, which the plug-in must refuse).
// --through-lilv then saves the instance's state with lilv into STATE.ttl (as a session does) and
// renders from a new instance restored from that text. --tempo feeds the time port: the transport
// rolling at BPM from the first frame; --silence-from silences the input from FRAME on, where
// --restart stops and starts the transport, and prints the output's peak from there on. Every
// render prints how the meters did. --abuse feeds bad input of every kind (below).

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/presets/presets.h>
#include <lv2/state/state.h>
#include <lv2/time/time.h>
#include <lv2/urid/urid.h>
#include <sndfile.h>

namespace {

constexpr const char* kPluginUri = "urn:tessaly:pellucer";
constexpr const char* kStateKeyUri = "urn:tessaly:pellucer#state";
constexpr const char* kStateTypeUri = "urn:tessaly:pellucer#StateChunk";
constexpr uint32_t kBlockFrames = 512;

struct Host {
    std::vector<std::string> uris;
    LV2_URID_Map map{this,
                     [](LV2_URID_Map_Handle h, const char* uri) { return static_cast<Host*>(h)->id(uri); }};
    LV2_URID_Unmap unmap{this, [](LV2_URID_Unmap_Handle h, LV2_URID id) {
                             auto* host = static_cast<Host*>(h);
                             return id > 0 && id <= host->uris.size() ? host->uris[id - 1].c_str() : nullptr;
                         }};
    LV2_Feature mapFeature{LV2_URID__map, &map};
    LV2_Feature unmapFeature{LV2_URID__unmap, &unmap};
    const LV2_Feature* features[3] = {&mapFeature, &unmapFeature, nullptr};

    LilvWorld* world = nullptr;
    const LilvPlugin* plugin = nullptr;
    std::vector<float> controls;
    std::array<std::vector<float>, 2> audioIn{std::vector<float>(kBlockFrames),
                                              std::vector<float>(kBlockFrames)};
    std::array<std::vector<float>, 2> audioOut{std::vector<float>(kBlockFrames),
                                               std::vector<float>(kBlockFrames)};
    std::vector<uint8_t> chunk;
    const char* chunkType = kStateTypeUri; ///< the type the chunk is handed over as

    LV2_URID id(const char* uri) {
        for (size_t i = 0; i < uris.size(); ++i)
            if (uris[i] == uri)
                return static_cast<LV2_URID>(i + 1);
        uris.emplace_back(uri);
        return static_cast<LV2_URID>(uris.size());
    }
};

bool fail(const std::string& message) {
    std::fprintf(stderr, "pellucer-lv2-host: %s\n", message.c_str());
    return false;
}

void setPortValue(const char* symbol, void* user, const void* value, uint32_t size, uint32_t type) {
    auto* host = static_cast<Host*>(user);
    LilvNode* name = lilv_new_string(host->world, symbol);
    const LilvPort* port = lilv_plugin_get_port_by_symbol(host->plugin, name);
    lilv_node_free(name);
    if (port == nullptr)
        return;
    float& control = host->controls[lilv_port_get_index(host->plugin, port)];
    if (type == host->id(LV2_ATOM__Float) && size == sizeof(float))
        control = *static_cast<const float*>(value);
    else if (type == host->id(LV2_ATOM__Double) && size == sizeof(double))
        control = static_cast<float>(*static_cast<const double*>(value));
    else if (type == host->id(LV2_ATOM__Int) && size == sizeof(int32_t))
        control = static_cast<float>(*static_cast<const int32_t*>(value));
}

const void* portValue(const char* symbol, void* user, uint32_t* size, uint32_t* type) {
    auto* host = static_cast<Host*>(user);
    LilvNode* name = lilv_new_string(host->world, symbol);
    const LilvPort* port = lilv_plugin_get_port_by_symbol(host->plugin, name);
    lilv_node_free(name);
    *size = sizeof(float);
    *type = host->id(LV2_ATOM__Float);
    return port != nullptr ? &host->controls[lilv_port_get_index(host->plugin, port)] : nullptr;
}

const void* retrieveChunk(LV2_State_Handle handle, uint32_t key, size_t* size, uint32_t* type,
                          uint32_t* flags) {
    auto* host = static_cast<Host*>(handle);
    if (key != host->id(kStateKeyUri))
        return nullptr;
    *size = host->chunk.size();
    *type = host->id(host->chunkType);
    *flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
    return host->chunk.data();
}

bool findPlugin(Host& host) {
    host.world = lilv_world_new();
    lilv_world_load_all(host.world);
    LilvNode* uri = lilv_new_uri(host.world, kPluginUri);
    host.plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(host.world), uri);
    lilv_node_free(uri);
    return host.plugin != nullptr || fail(std::string(kPluginUri) + " is not on LV2_PATH");
}

// Audio ports to the host's buffers, control ports to its values; the optional time port is left
// unconnected. False unless the plug-in is stereo.
bool connect(Host& host, LilvInstance* instance) {
    const uint32_t ports = lilv_plugin_get_num_ports(host.plugin);
    LilvNode* audioClass = lilv_new_uri(host.world, LILV_URI_AUDIO_PORT);
    LilvNode* inputClass = lilv_new_uri(host.world, LILV_URI_INPUT_PORT);
    LilvNode* controlClass = lilv_new_uri(host.world, LILV_URI_CONTROL_PORT);
    size_t audioIn = 0, audioOut = 0;
    for (uint32_t p = 0; p < ports; ++p) {
        const LilvPort* port = lilv_plugin_get_port_by_index(host.plugin, p);
        if (lilv_port_is_a(host.plugin, port, audioClass)) {
            const bool isInput = lilv_port_is_a(host.plugin, port, inputClass);
            auto& buffers = isInput ? host.audioIn : host.audioOut;
            size_t& n = isInput ? audioIn : audioOut;
            if (n < buffers.size())
                lilv_instance_connect_port(instance, p, buffers[n].data());
            ++n;
        } else if (lilv_port_is_a(host.plugin, port, controlClass)) {
            lilv_instance_connect_port(instance, p, &host.controls[p]);
        }
    }
    lilv_node_free(controlClass);
    lilv_node_free(inputClass);
    lilv_node_free(audioClass);
    return audioIn == 2 && audioOut == 2;
}

// A new instance with its control ports at their defaults, connected as a host connects it
// before anything else happens.
LilvInstance* instantiate(Host& host, double rate) {
    const uint32_t ports = lilv_plugin_get_num_ports(host.plugin);
    std::vector<float> minimum(ports), maximum(ports);
    host.controls.assign(ports, 0.0f);
    lilv_plugin_get_port_ranges_float(host.plugin, minimum.data(), maximum.data(), host.controls.data());
    for (float& value : host.controls)
        if (value != value)
            value = 0.0f; // ports without a default (audio, meters)
    LilvInstance* instance = lilv_plugin_instantiate(host.plugin, rate, host.features);
    if (instance != nullptr && !connect(host, instance)) {
        fail("the plug-in is not stereo");
        lilv_instance_free(instance);
        instance = nullptr;
    }
    return instance;
}

const LilvNode* presetNamed(Host& host, const std::string& label) {
    LilvNode* presetClass = lilv_new_uri(host.world, LV2_PRESETS__Preset);
    LilvNode* labelProperty = lilv_new_uri(host.world, LILV_NS_RDFS "label");
    LilvNodes* presets = lilv_plugin_get_related(host.plugin, presetClass);
    const LilvNode* found = nullptr;
    LILV_FOREACH(nodes, i, presets) {
        const LilvNode* preset = lilv_nodes_get(presets, i);
        lilv_world_load_resource(host.world, preset);
        LilvNode* name = lilv_world_get(host.world, preset, labelProperty, nullptr);
        if (name != nullptr && label == lilv_node_as_string(name))
            found = lilv_node_duplicate(preset);
        lilv_node_free(name);
    }
    lilv_nodes_free(presets);
    lilv_node_free(labelProperty);
    lilv_node_free(presetClass);
    return found;
}

// A time:Position at a frame of the block: the tempo and the transport's speed, each left out when
// NaN; the speed written as a double when asked.
struct Position {
    uint32_t frame;
    float bpm;
    float speed;
    bool speedAsDouble = false;
};

void forgeSequence(Host& host, const std::vector<Position>& positions, std::vector<uint8_t>& buffer) {
    LV2_Atom_Forge forge;
    lv2_atom_forge_init(&forge, &host.map);
    lv2_atom_forge_set_buffer(&forge, buffer.data(), buffer.size());
    LV2_Atom_Forge_Frame sequence;
    lv2_atom_forge_sequence_head(&forge, &sequence, 0);
    for (const Position& p : positions) {
        lv2_atom_forge_frame_time(&forge, p.frame);
        LV2_Atom_Forge_Frame object;
        lv2_atom_forge_object(&forge, &object, 0, host.id(LV2_TIME__Position));
        if (!std::isnan(p.bpm)) {
            lv2_atom_forge_key(&forge, host.id(LV2_TIME__beatsPerMinute));
            lv2_atom_forge_float(&forge, p.bpm);
        }
        if (!std::isnan(p.speed)) {
            lv2_atom_forge_key(&forge, host.id(LV2_TIME__speed));
            if (p.speedAsDouble)
                lv2_atom_forge_double(&forge, p.speed);
            else
                lv2_atom_forge_float(&forge, p.speed);
        }
        lv2_atom_forge_pop(&forge, &object);
    }
    lv2_atom_forge_pop(&forge, &sequence);
}

void connectTime(Host& host, LilvInstance* instance, std::vector<uint8_t>& buffer) {
    LilvNode* symbol = lilv_new_string(host.world, "time");
    const LilvPort* port = lilv_plugin_get_port_by_symbol(host.plugin, symbol);
    lilv_node_free(symbol);
    lilv_instance_connect_port(instance, lilv_port_get_index(host.plugin, port), buffer.data());
}

/// What the host's transport does during a render: nothing (no time port), or rolling at `bpm`
/// from the first frame; the input silent from `silenceFrom` on, and there the transport stopped
/// and started again when `restart`.
struct Transport {
    float bpm = NAN;
    int64_t silenceFrom = -1;
    bool restart = false;
};

uint32_t portIndex(Host& host, const char* symbol) {
    LilvNode* name = lilv_new_string(host.world, symbol);
    const LilvPort* port = lilv_plugin_get_port_by_symbol(host.plugin, name);
    lilv_node_free(name);
    return port != nullptr ? lilv_port_get_index(host.plugin, port) : 0;
}

// A block's peak in dBFS as the level meters show it: held to -120..+24 dB.
float peakDb(const std::vector<float>& samples, uint32_t frames) {
    float peak = 0.0f;
    for (uint32_t i = 0; i < frames; ++i)
        peak = std::max(peak, std::fabs(samples[i]));
    return std::clamp(peak > 0.0f ? 20.0f * std::log10(peak) : -HUGE_VALF, -120.0f, 24.0f);
}

// The meters against the blocks as the host measures them: how many blocks a level meter missed
// (by more than 0.01 dB), and the deepest compressor gain shown.
struct MeterReport {
    int missed = 0;
    float deepestCompressorGain = 0.0f;
};

void render(Host& host, LilvInstance* instance, const std::vector<float>& input, const Transport& transport,
            std::vector<float>& output, MeterReport& meters) {
    const uint32_t levelPorts[4] = {portIndex(host, "level_in_left"), portIndex(host, "level_in_right"),
                                    portIndex(host, "level_out_left"), portIndex(host, "level_out_right")};
    const uint32_t compressorPort = portIndex(host, "compressor_gain");
    auto& in = host.audioIn;
    auto& out = host.audioOut;
    std::vector<uint8_t> time(4096);
    if (!std::isnan(transport.bpm))
        connectTime(host, instance, time);
    const size_t frames = input.size() / 2;
    output.assign(input.size(), 0.0f);
    lilv_instance_activate(instance);
    for (size_t done = 0; done < frames; done += kBlockFrames) {
        const auto n = static_cast<uint32_t>(std::min<size_t>(kBlockFrames, frames - done));
        const int64_t silence = transport.silenceFrom - static_cast<int64_t>(done);
        for (uint32_t i = 0; i < n; ++i)
            for (int c = 0; c < 2; ++c)
                in[c][i] = transport.silenceFrom >= 0 && i >= silence
                               ? 0.0f
                               : input[(done + i) * 2 + static_cast<size_t>(c)];
        std::vector<Position> positions;
        if (done == 0)
            positions.push_back({0, transport.bpm, 1.0f});
        if (transport.restart && silence >= 0 && silence < n) {
            const auto restart = static_cast<uint32_t>(silence);
            positions.push_back({restart, transport.bpm, 0.0f});
            positions.push_back({restart, transport.bpm, 1.0f});
        }
        forgeSequence(host, positions, time);
        lilv_instance_run(instance, n);
        const float measured[4] = {peakDb(in[0], n), peakDb(in[1], n), peakDb(out[0], n), peakDb(out[1], n)};
        for (int m = 0; m < 4; ++m)
            meters.missed += std::fabs(host.controls[levelPorts[m]] - measured[m]) > 0.01f ? 1 : 0;
        meters.deepestCompressorGain = std::min(meters.deepestCompressorGain, host.controls[compressorPort]);
        for (uint32_t i = 0; i < n; ++i)
            for (int c = 0; c < 2; ++c)
                output[(done + i) * 2 + static_cast<size_t>(c)] = out[c][i];
    }
    lilv_instance_deactivate(instance);
}

// ---- bad input -------------------------------------------------------------------------------

// Our own generator: the same numbers on every platform and standard library.
struct Random {
    uint64_t state;
    uint32_t next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<uint32_t>(state >> 32);
    }
    uint32_t below(uint32_t n) { return next() % n; }
    float between(float a, float b) { return a + (b - a) * static_cast<float>(next() >> 8) / 16777216.0f; }
    bool chance(uint32_t percent) { return below(100) < percent; }
};

// A value a host or a damaged session might put anywhere.
float wildValue(Random& random, float usual) {
    constexpr float kWild[] = {NAN,  INFINITY, -INFINITY, 1e30f,    -1e30f,
                               0.0f, -1.0f,    54321.0f,  12345.5f, 3e38f};
    return random.chance(80) ? usual : kWild[random.below(std::size(kWild))];
}

// At each rate the plug-in takes: blocks of random length (past the engine's work size too), NaN,
// infinite and huge samples, wild control values, wild host time and damaged states. Every
// output sample stays finite and bounded, the meters within their ranges, the latency 1 ms.
bool abuse(Host& host, uint64_t seed) {
    // The engine holds input at +120 dBFS; the largest gains the controls give stay far below this.
    constexpr float kOutputBound = 1e9f;
    constexpr uint32_t kLongestBlock = 9000;
    constexpr int kBlocksPerRate = 300;
    Random random{seed | 1};
    for (double rate : {4000.0, 8000.0, 22050.0, 44100.0, 96000.0, 192000.0, 384000.0}) {
        LilvInstance* instance = instantiate(host, rate);
        if (rate < 8000.0) {
            if (instance != nullptr)
                return fail("the plug-in instantiated at " + std::to_string(rate) + " Hz");
            continue;
        }
        if (instance == nullptr)
            return fail("no instance at " + std::to_string(rate) + " Hz");
        for (auto* buffers : {&host.audioIn, &host.audioOut})
            for (auto& buffer : *buffers)
                buffer.assign(kLongestBlock, 0.0f);
        connect(host, instance);
        std::vector<uint8_t> time(4096);
        connectTime(host, instance, time);
        const auto* state = static_cast<const LV2_State_Interface*>(
            lilv_instance_get_extension_data(instance, LV2_STATE__interface));
        lilv_instance_activate(instance);
        for (int block = 0; block < kBlocksPerRate; ++block) {
            const uint32_t frames = random.chance(10) ? random.below(kLongestBlock + 1) : random.below(600);
            for (auto& channel : host.audioIn)
                for (uint32_t i = 0; i < frames; ++i)
                    channel[i] = random.chance(99) ? random.between(-1.0f, 1.0f) : wildValue(random, 0.0f);
            if (random.chance(20))
                for (uint32_t p = 5; p < 44; ++p)
                    host.controls[p] = wildValue(random, random.between(-100.0f, 30000.0f));
            if (random.chance(5)) {
                host.chunk.resize(random.chance(50) ? 4852 : random.below(6000));
                for (uint8_t& byte : host.chunk)
                    byte = static_cast<uint8_t>(random.next());
                if (host.chunk.size() >= 4)
                    std::memcpy(host.chunk.data(), "TLtg", 4);
                state->restore(lilv_instance_get_handle(instance), retrieveChunk, &host, 0, host.features);
            }
            // Time positions at random frames (some past the block): wild tempos, the transport
            // starting and stopping.
            std::vector<Position> positions(random.below(4));
            for (Position& p : positions)
                p = {random.chance(90) ? random.below(frames + 1) : frames + random.below(9999),
                     wildValue(random, random.between(15.0f, 999.0f)),
                     wildValue(random, random.chance(50) ? 1.0f : 0.0f), random.chance(50)};
            forgeSequence(host, positions, time);
            lilv_instance_run(instance, frames);
            for (const auto& channel : host.audioOut)
                for (uint32_t i = 0; i < frames; ++i)
                    if (!(std::fabs(channel[i]) <= kOutputBound))
                        return fail("output " + std::to_string(channel[i]) + " at " + std::to_string(rate) +
                                    " Hz");
            for (uint32_t p = 44; p < 51; ++p)
                if (!(host.controls[p] >= -120.0f && host.controls[p] <= 24.0f))
                    return fail("meter " + std::to_string(p) + " reads " + std::to_string(host.controls[p]));
            if (host.controls[51] != std::round(static_cast<float>(rate) * 0.001f))
                return fail("latency " + std::to_string(host.controls[51]) + " at " + std::to_string(rate) +
                            " Hz");
        }
        lilv_instance_deactivate(instance);
        lilv_instance_free(instance);
    }
    return true;
}

bool run(int argc, char** argv) {
    std::string preset, chunkFile, stateFile;
    std::vector<std::string> files;
    std::vector<std::pair<std::string, float>> settings;
    uint64_t abuseSeed = 0;
    Transport transport;
    bool chunkAsAtom = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--tempo" && i + 1 < argc) {
            transport.bpm = std::strtof(argv[++i], nullptr);
        } else if (a == "--silence-from" && i + 1 < argc) {
            transport.silenceFrom = std::strtoll(argv[++i], nullptr, 10);
        } else if (a == "--as-atom-chunk") {
            chunkAsAtom = true;
        } else if (a == "--restart") {
            transport.restart = true;
        } else if (a == "--abuse" && i + 1 < argc) {
            abuseSeed = std::strtoull(argv[++i], nullptr, 10);
        } else if (a == "-c" && i + 2 < argc) {
            settings.emplace_back(argv[i + 1], std::strtof(argv[i + 2], nullptr));
            i += 2;
        } else if ((a == "--preset" || a == "--chunk" || a == "--through-lilv") && i + 1 < argc)
            (a == "--preset" ? preset : a == "--chunk" ? chunkFile : stateFile) = argv[++i];
        else
            files.push_back(a);
    }
    if (abuseSeed == 0 && files.size() != 2)
        return fail(
            "usage: pellucer-lv2-host [-c SYMBOL VALUE]... [--preset LABEL] [--chunk FILE [--as-atom-chunk]] "
            "[--through-lilv STATE.ttl] [--tempo BPM [--silence-from FRAME [--restart]]] IN OUT");

    if (abuseSeed != 0) {
        Host host;
        const bool survived = findPlugin(host) && abuse(host, abuseSeed);
        lilv_world_free(host.world);
        return survived;
    }

    SF_INFO format{};
    SNDFILE* file = sf_open(files[0].c_str(), SFM_READ, &format);
    if (file == nullptr || format.channels != 2)
        return fail(files[0] + ": not a stereo file");
    std::vector<float> input(static_cast<size_t>(format.frames) * 2);
    sf_readf_float(file, input.data(), format.frames);
    sf_close(file);

    Host host;
    if (!findPlugin(host))
        return false;
    LilvInstance* instance = instantiate(host, format.samplerate);
    if (instance == nullptr)
        return fail("the plug-in did not instantiate");

    if (!preset.empty()) {
        const LilvNode* node = presetNamed(host, preset);
        LilvState* state = node != nullptr ? lilv_state_new_from_world(host.world, &host.map, node) : nullptr;
        if (state == nullptr)
            return fail("no preset \"" + preset + "\"");
        lilv_state_restore(state, instance, setPortValue, &host, 0, host.features);
        lilv_state_free(state);
    }
    if (!chunkFile.empty()) {
        std::ifstream in(chunkFile, std::ios::binary);
        host.chunk.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (chunkAsAtom)
            host.chunkType = LV2_ATOM__Chunk;
        const auto* state = static_cast<const LV2_State_Interface*>(
            lilv_instance_get_extension_data(instance, LV2_STATE__interface));
        if (state == nullptr || state->restore(lilv_instance_get_handle(instance), retrieveChunk, &host, 0,
                                               host.features) != LV2_STATE_SUCCESS)
            return fail(chunkFile + ": the plug-in did not restore it");
    }
    // The ports after any state, as Ardour's session values reach the plug-in with the next run.
    for (const auto& [symbol, value] : settings)
        setPortValue(symbol.c_str(), &host, &value, sizeof(float), host.id(LV2_ATOM__Float));
    if (!stateFile.empty()) {
        // Saved as a session saves it, then a new instance restored from the text alone.
        LilvState* saved = lilv_state_new_from_instance(
            host.plugin, instance, &host.map, nullptr, nullptr, nullptr, nullptr, portValue, &host,
            LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE, host.features);
        char* text = lilv_state_to_string(host.world, &host.map, &host.unmap, saved,
                                          "urn:tessaly:check-state", nullptr);
        lilv_state_free(saved);
        lilv_instance_free(instance);
        std::ofstream(stateFile) << text;
        instance = instantiate(host, format.samplerate);
        LilvState* loaded =
            instance != nullptr ? lilv_state_new_from_string(host.world, &host.map, text) : nullptr;
        lilv_free(text);
        if (loaded == nullptr)
            return fail("the saved state does not read back");
        lilv_state_restore(loaded, instance, setPortValue, &host, 0, host.features);
        lilv_state_free(loaded);
    }

    std::vector<float> output;
    MeterReport meters;
    render(host, instance, input, transport, output, meters);
    std::printf("level meters off: %d; deepest compressor gain: %.1f dB\n", meters.missed,
                static_cast<double>(meters.deepestCompressorGain));
    if (transport.silenceFrom >= 0) {
        // Past the silent input's first frame at the output (the latency later).
        float peak = 0.0f;
        const auto latency =
            static_cast<size_t>(host.controls[lilv_plugin_get_latency_port_index(host.plugin)]);
        for (size_t i = (static_cast<size_t>(transport.silenceFrom) + latency) * 2; i < output.size(); ++i)
            peak = std::max(peak, std::fabs(output[i]));
        std::printf("peak after the input ends: %g\n", static_cast<double>(peak));
    }
    lilv_instance_free(instance);
    lilv_world_free(host.world);
    SF_INFO outFormat{};
    outFormat.samplerate = format.samplerate;
    outFormat.channels = 2;
    outFormat.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* out = sf_open(files[1].c_str(), SFM_WRITE, &outFormat);
    if (out == nullptr || sf_writef_float(out, output.data(), format.frames) != format.frames)
        return fail(files[1] + ": cannot write");
    sf_close(out);
    return true;
}

} // namespace

int main(int argc, char** argv) { return run(argc, argv) ? 0 : 1; }
