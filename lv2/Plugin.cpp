// The strip as an LV2 plug-in: the engine behind the LV2 entry, driven as the VST entry drives it.
// Control ports carry the parameters in the unit a user reads; they are turned into the engine's
// normalised values through the parameter table (lv2/PortTable). The host's tempo and transport
// arrive as time:Position objects and reach the engine as the VST host time record it polls.
//
// Threads: instantiate, activate, deactivate, cleanup and the state's restore belong to the
// host's instantiation class, run to its audio thread; the state's save may run beside run.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <new>

#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/state/state.h>
#include <lv2/time/time.h>
#include <lv2/urid/urid.h>

#include "core/ChannelStripEffect.h"
#include "lv2/PortTable.h"
#include "vst/VstAbi.h"

namespace pellucer::lv2 {

namespace {

constexpr vst::VstIntPtr kHostVersion = 2400;
/// Without a host tempo the synced delay runs at this one.
constexpr double kDefaultTempoBpm = 120.0;
/// A run is handed to the engine in pieces no longer than its work buffers, which it would
/// otherwise grow on the audio thread.
constexpr uint32_t kPieceFrames = ChannelStripEffect::kInitialWorkFrames;

struct Urids {
    LV2_URID atomObject, atomBlank, atomFloat, atomDouble, atomInt, atomLong;
    LV2_URID timePosition, timeBeatsPerMinute, timeSpeed;
    LV2_URID stateKey, stateType;

    /// Without the host's map (lv2apply gives none) every id is 0: no time and no state.
    explicit Urids(const LV2_URID_Map* map) {
        auto id = [map](const char* uri) { return map != nullptr ? map->map(map->handle, uri) : 0; };
        atomObject = id(LV2_ATOM__Object);
        atomBlank = id(LV2_ATOM__Blank);
        atomFloat = id(LV2_ATOM__Float);
        atomDouble = id(LV2_ATOM__Double);
        atomInt = id(LV2_ATOM__Int);
        atomLong = id(LV2_ATOM__Long);
        timePosition = id(LV2_TIME__Position);
        timeBeatsPerMinute = id(LV2_TIME__beatsPerMinute);
        timeSpeed = id(LV2_TIME__speed);
        stateKey = id(kStateKeyUri);
        stateType = id(kStateTypeUri);
    }

    /// A number atom's value, or NaN for anything else.
    double number(const LV2_Atom* atom) const {
        if (atom == nullptr)
            return NAN;
        const void* body = LV2_ATOM_BODY_CONST(atom);
        if (atom->type == atomFloat)
            return *static_cast<const float*>(body);
        if (atom->type == atomDouble)
            return *static_cast<const double*>(body);
        if (atom->type == atomInt)
            return *static_cast<const int32_t*>(body);
        if (atom->type == atomLong)
            return static_cast<double>(*static_cast<const int64_t*>(body));
        return NAN;
    }
};

float decibels(double gain) {
    const double db = gain > 0.0 ? 20.0 * std::log10(gain) : -HUGE_VAL;
    return static_cast<float>(
        std::clamp(db, static_cast<double>(kMeterFloorDb), static_cast<double>(kMeterCeilingDb)));
}

float peak(const float* samples, uint32_t frames) {
    float p = 0.0f;
    for (uint32_t i = 0; i < frames; ++i)
        p = std::max(p, std::fabs(samples[i])); // a NaN is passed over
    return p;
}

class Lv2Strip {
public:
    Lv2Strip(double sampleRate, const LV2_URID_Map* map) : urids_(map), effect_(&hostCallback) {
        effect_.getAeffect()->user = this;
        effect_.setSampleRate(static_cast<float>(sampleRate));
        time_.sampleRate = sampleRate;
        time_.tempo = kDefaultTempoBpm;
        time_.timeSigNumerator = 4;
        time_.timeSigDenominator = 4;
        // The ports start where the engine is (Full Reset): only what a host changes is applied.
        for (int32_t i = 0; i < kNumParams; ++i)
            lastApplied_[i] = portFromNormalised(i, effect_.currentProgramRecord().value(i));
    }

    bool ready(double sampleRate) const {
        return effect_.engineSampleRate() == static_cast<float>(sampleRate);
    }

    void connect(uint32_t port, void* data) {
        if (port <= kAudioOutRight) {
            audio_[port] = static_cast<float*>(data);
        } else if (port == kTimeInput) {
            timeIn_ = static_cast<const LV2_Atom_Sequence*>(data);
        } else if (port < kFirstMeter) {
            controls_[port - kFirstControl] = static_cast<const float*>(data);
        } else if (port < kPortCount) {
            outputs_[port - kFirstMeter] = static_cast<float*>(data);
        }
    }

    // A host activates the plug-in before a stream starts, which must begin without any history:
    // the engine is told so as a VST host tells it, with a transport start (its own reset), in
    // the first piece it processes. The transport's state itself stays as the host last gave it.
    void activate() {
        effect_.resume();
        streamStarts_ = true;
    }

    void run(uint32_t frames) {
        applyControls();
        const bool audio = in_[0] != nullptr && in_[1] != nullptr && out_[0] != nullptr && out_[1] != nullptr;
        if (audio) {
            // Before processing: a host may hand the same buffers in and out.
            setOutput(kMeterInLeft, decibels(peak(in_[0], frames)));
            setOutput(kMeterInRight, decibels(peak(in_[1], frames)));
        }
        uint32_t done = 0;
        if (timeIn_ != nullptr && urids_.timePosition != 0) {
            LV2_ATOM_SEQUENCE_FOREACH(timeIn_, event) {
                const auto at = static_cast<uint32_t>(std::clamp<int64_t>(event->time.frames, done, frames));
                if (audio)
                    process(done, at - done);
                done = at;
                takeTime(event->body);
            }
        }
        if (audio) {
            process(done, frames - done);
            setOutput(kMeterOutLeft, decibels(peak(out_[0], frames)));
            setOutput(kMeterOutRight, decibels(peak(out_[1], frames)));
        }
        setOutput(kMeterCompressor, decibels(effect_.companderMeters(kMeterCompressorGain)));
        setOutput(kMeterExpander, decibels(effect_.companderMeters(kMeterExpanderGain)));
        const bool deEssing = effect_.getParameter(kPlugInEnable) > 0.5f && effect_.deEsser().enabled.load();
        setOutput(kMeterDeEsser, decibels(deEssing ? effect_.deEsser().gain() : 1.0));
        setOutput(kLatencyPort, static_cast<float>(effect_.latency()));
    }

    // The state is what the ports say: a host may save right after setting them, before a run
    // has applied them (Ardour does, on a new session), so values still waiting for the next run
    // go into the saved copy too. The engine itself is left to the audio thread.
    LV2_State_Status save(LV2_State_Store_Function store, LV2_State_Handle handle) {
        void* chunk = nullptr;
        if (urids_.stateKey == 0)
            return LV2_STATE_ERR_NO_FEATURE;
        const int32_t size = effect_.getChunk(&chunk, false);
        if (size != static_cast<int32_t>(ProgramRecord::kChunkSize))
            return LV2_STATE_ERR_UNKNOWN;
        std::memcpy(static_cast<void*>(&saved_), chunk, ProgramRecord::kChunkSize);
        for (int32_t i = 0; i < kNumParams && !adoptPorts_; ++i) {
            const float u = controls_[i] != nullptr ? *controls_[i] : lastApplied_[i];
            std::array<int32_t, 5> order{};
            if (std::isnan(u) || u == lastApplied_[i] || (i == kReserved && !decodeOrderCode(u, order)))
                continue;
            saved_.values[i] = normalisedFromPort(i, u);
        }
        return store(handle, urids_.stateKey, &saved_, ProgramRecord::kChunkSize, urids_.stateType,
                     LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
    }

    LV2_State_Status restore(LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle) {
        size_t size = 0;
        uint32_t type = 0;
        uint32_t flags = 0;
        if (urids_.stateKey == 0)
            return LV2_STATE_ERR_NO_FEATURE;
        const void* chunk = retrieve(handle, urids_.stateKey, &size, &type, &flags);
        if (chunk == nullptr)
            return LV2_STATE_ERR_NO_PROPERTY;
        if (type != urids_.stateType)
            return LV2_STATE_ERR_BAD_TYPE;
        if (size > static_cast<size_t>(INT32_MAX) ||
            effect_.setChunk(chunk, static_cast<int32_t>(size), false) == 0)
            return LV2_STATE_ERR_UNKNOWN;
        // The state is the strip as it was saved. A port the host sets after this (Ardour's
        // session values arrive with the next run) is applied over it; one that keeps the value
        // it has now is taken as it stands, whatever it is (a host restoring a state alone).
        for (int32_t i = 0; i < kNumParams; ++i)
            portsAtRestore_[i] = controls_[i] != nullptr ? *controls_[i] : NAN;
        adoptPorts_ = true;
        return LV2_STATE_SUCCESS;
    }

private:
    static vst::VstIntPtr hostCallback(vst::AEffect* effect, vst::VstInt32 opcode, vst::VstInt32,
                                       vst::VstIntPtr, void*, float) {
        if (opcode == vst::audioMasterVersion)
            return kHostVersion;
        auto* strip = effect != nullptr ? static_cast<Lv2Strip*>(effect->user) : nullptr;
        if (strip != nullptr && opcode == vst::audioMasterGetTime)
            return reinterpret_cast<vst::VstIntPtr>(&strip->time_);
        return 0;
    }

    void setOutput(uint32_t port, float value) {
        if (float* out = outputs_[port - kFirstMeter])
            *out = value;
    }

    // Each control port whose value differs from the last one applied goes to the engine.
    void applyControls() {
        for (int32_t i = 0; i < kNumParams; ++i) {
            if (controls_[i] == nullptr)
                continue;
            const float u = *controls_[i];
            if (std::isnan(u) || (adoptPorts_ && u == portsAtRestore_[i])) {
                lastApplied_[i] = u;
                continue;
            }
            if (u == lastApplied_[i] && !adoptPorts_)
                continue;
            lastApplied_[i] = u;
            effect_.setParameter(i, normalisedFromPort(i, u));
        }
        adoptPorts_ = false;
    }

    // A time:Position: the tempo, and the transport playing or not. A start is announced to the
    // engine with the next piece it processes, as a VST host announces it.
    void takeTime(const LV2_Atom& body) {
        if (body.type != urids_.atomObject && body.type != urids_.atomBlank)
            return;
        const auto* object = reinterpret_cast<const LV2_Atom_Object*>(&body);
        if (object->body.otype != urids_.timePosition)
            return;
        const LV2_Atom* bpm = nullptr;
        const LV2_Atom* speed = nullptr;
        lv2_atom_object_get(object, urids_.timeBeatsPerMinute, &bpm, urids_.timeSpeed, &speed, 0);
        const double tempo = urids_.number(bpm);
        if (std::isfinite(tempo) && tempo > 0.0)
            time_.tempo = tempo;
        const double rolling = urids_.number(speed);
        if (!std::isnan(rolling) && (rolling != 0.0) != playing_) {
            playing_ = rolling != 0.0;
            transportChanged_ = true;
        }
    }

    void process(uint32_t offset, uint32_t frames) {
        for (uint32_t done = 0; done < frames;) {
            const uint32_t n = std::min(frames - done, kPieceFrames);
            time_.flags = vst::kVstTempoValid | (playing_ || streamStarts_ ? vst::kVstTransportPlaying : 0) |
                          (transportChanged_ || streamStarts_ ? vst::kVstTransportChanged : 0);
            transportChanged_ = false;
            streamStarts_ = false;
            float* inputs[2] = {in_[0] + offset + done, in_[1] + offset + done};
            float* outputs[2] = {out_[0] + offset + done, out_[1] + offset + done};
            effect_.processReplacing(inputs, outputs, static_cast<int32_t>(n));
            done += n;
        }
    }

    Urids urids_;
    ChannelStripEffect effect_;
    vst::VstTimeInfo time_{};
    bool playing_ = false;
    bool transportChanged_ = false;
    bool streamStarts_ = false;
    bool adoptPorts_ = false;

    float* audio_[kTimeInput] = {}; ///< in left, in right, out left, out right
    float* const* in_ = audio_;
    float* const* out_ = audio_ + kAudioOutLeft;
    const LV2_Atom_Sequence* timeIn_ = nullptr;
    const float* controls_[kNumParams] = {};
    float* outputs_[kPortCount - kFirstMeter] = {};
    float lastApplied_[kNumParams] = {};
    float portsAtRestore_[kNumParams] = {};
    ProgramRecord saved_; ///< the chunk as last saved
};

Lv2Strip* strip(LV2_Handle instance) { return static_cast<Lv2Strip*>(instance); }

LV2_Handle instantiate(const LV2_Descriptor*, double sampleRate, const char*,
                       const LV2_Feature* const* features) {
    const LV2_URID_Map* map = nullptr;
    for (int i = 0; features != nullptr && features[i] != nullptr; ++i)
        if (std::strcmp(features[i]->URI, LV2_URID__map) == 0)
            map = static_cast<const LV2_URID_Map*>(features[i]->data);
    auto* instance = new (std::nothrow) Lv2Strip(sampleRate, map);
    if (instance != nullptr && !instance->ready(sampleRate)) {
        delete instance; // a rate the engine refuses (below 8 kHz, above 768 kHz)
        instance = nullptr;
    }
    return instance;
}

LV2_State_Status saveState(LV2_Handle instance, LV2_State_Store_Function store, LV2_State_Handle handle,
                           uint32_t, const LV2_Feature* const*) {
    return strip(instance)->save(store, handle);
}

LV2_State_Status restoreState(LV2_Handle instance, LV2_State_Retrieve_Function retrieve,
                              LV2_State_Handle handle, uint32_t, const LV2_Feature* const*) {
    return strip(instance)->restore(retrieve, handle);
}

const LV2_State_Interface kStateInterface = {saveState, restoreState};

const void* extensionData(const char* uri) {
    return std::strcmp(uri, LV2_STATE__interface) == 0 ? &kStateInterface : nullptr;
}

const LV2_Descriptor kDescriptor = {
    kPluginUri,
    instantiate,
    [](LV2_Handle instance, uint32_t port, void* data) { strip(instance)->connect(port, data); },
    [](LV2_Handle instance) { strip(instance)->activate(); },
    [](LV2_Handle instance, uint32_t frames) { strip(instance)->run(frames); },
    [](LV2_Handle) {},
    [](LV2_Handle instance) { delete strip(instance); },
    extensionData,
};

} // namespace

} // namespace pellucer::lv2

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index == 0 ? &pellucer::lv2::kDescriptor : nullptr;
}
