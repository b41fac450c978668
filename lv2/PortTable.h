#pragma once

// The plug-in's LV2 ports, read from the parameter table: what the .ttl generator describes and
// what the plug-in converts between a control port's value (in the unit a user reads) and the
// engine's normalised value. Both sides use these functions, so a preset written by the
// generator lands on the program's own normalised values.

#include <cstdint>
#include <string>

#include "core/Parameters.h"

namespace pellucer::lv2 {

constexpr const char* kPluginUri = "urn:tessaly:pellucer";
/// The state chunk's property and its type, both ours.
constexpr const char* kStateKeyUri = "urn:tessaly:pellucer#state";
constexpr const char* kStateTypeUri = "urn:tessaly:pellucer#StateChunk";

/// Port numbers: stereo audio, the host time input, one control input per parameter (in
/// parameter order), the meters, the latency.
enum PortNumber : uint32_t {
    kAudioInLeft = 0,
    kAudioInRight,
    kAudioOutLeft,
    kAudioOutRight,
    kTimeInput,
    kFirstControl,
    kFirstMeter = kFirstControl + kNumParams,
    kMeterInLeft = kFirstMeter,
    kMeterInRight,
    kMeterOutLeft,
    kMeterOutRight,
    kMeterCompressor,
    kMeterExpander,
    kMeterDeEsser,
    kLatencyPort,
    kPortCount
};

/// Level meters show the block's peak in dBFS, reduction meters the gain in dB, both held to
/// this floor (silence) and to the level ceiling.
constexpr float kMeterFloorDb = -120.0f;
constexpr float kMeterCeilingDb = 24.0f;
/// A level shown in dB whose table range reaches down to silence (Doubler Presence, Delay Level)
/// starts its port here: the bottom of the port is silence itself.
constexpr float kLevelPortFloorDb = -80.0f;

/// How a control port shows its parameter.
enum class PortKind { Toggle, Continuous, ModuleOrder };

struct ControlPortInfo {
    PortKind kind;
    float minimum;
    float maximum;
};

/// The port of parameter `index` (0..38).
ControlPortInfo controlPort(int32_t index);
/// "Compressor Thresh" -> "compressor_thresh": lower case, anything else an underscore.
std::string portSymbol(int32_t index);
/// The engine's normalised value (the order code for parameter 38) of a port value, 0 and 1 at
/// and beyond the port's ends; NaN for a NaN port value, which the engine refuses.
float normalisedFromPort(int32_t index, float portValue);
/// The port value of normalised value `v`: the number the display shows, rounded to its one
/// decimal when that gives `v` back through normalisedFromPort.
float portFromNormalised(int32_t index, float v);

} // namespace pellucer::lv2
