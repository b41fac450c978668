#pragma once

// Setting up the strip from the command line: program, saved state, module order and single
// parameters; the listings; saving the state; how long the delay needs to ring out.

#include <cstdint>
#include <string>
#include <vector>

#include "tools/render/ValueParser.h"

namespace pellucer {
class ChannelStripEffect;
}

namespace pellucer::render {

/// Factory program number 0..60 for "N" or for an exact factory program name. False with `error` otherwise.
bool findProgram(const std::string& text, int32_t& program, std::string& error);

/// Applies "NAME=VALUE" (see parseParameterValue). False with `error`, changing nothing, for an
/// unknown name or a value that cannot be read or lies out of range.
bool applySetting(ChannelStripEffect& effect, const std::string& assignment, const UnitWords& words,
                  std::string& error);

/// Loads a state file (chunk or .fxp) into the current program. False with `error` ("FILE ...").
bool loadStateFile(ChannelStripEffect& effect, const std::string& path, std::string& error);
/// The same for a state file's bytes already in memory; `error` without the file name.
bool loadStateBytes(ChannelStripEffect& effect, const uint8_t* data, size_t size, std::string& error);

/// The current program as the bytes of a state file: an .fxp when `path` ends in ".fxp"
/// (any case), otherwise the bare chunk.
std::vector<uint8_t> stateFileBytes(ChannelStripEffect& effect, const std::string& path);

/// "  0  Full Reset" lines for every program.
std::string programList();
/// One line per parameter: index, name, display text with unit, normalised value.
std::string parameterList(ChannelStripEffect& effect);

/// Frames to render past the input so that the echoes fall by 60 dB (and the doubler's short
/// delay empties): 0 when neither the delay nor the doubler is on.
int64_t ringOutFrames(ChannelStripEffect& effect, double tempoBpm, double sampleRate);

/// The program name as a host shows it.
std::string programName(ChannelStripEffect& effect);

} // namespace pellucer::render
