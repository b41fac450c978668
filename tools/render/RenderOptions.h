#pragma once

// The command line of pellucer-render.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/render/AudioFile.h"

namespace pellucer::render {

/// Frames per processReplacing call, as a host with a 512-frame buffer would call it.
constexpr int32_t kDefaultBlockFrames = 512;
constexpr int32_t kMaxBlockFramesOption = 8192;
constexpr double kDefaultTempoBpm = 120.0;
/// Tempo range: the slowest is the tempo at which a whole note fills the delay's longest time.
constexpr double kMinTempoBpm = 15.0;
constexpr double kMaxTempoBpm = 999.0;
constexpr double kMaxTailSeconds = 3600.0;
constexpr int64_t kMaxPrerollFrames = 1LL << 31;
/// Silence the strip runs before the input, transport stopped: long enough for every setting
/// that glides to a new value (gains, routing weights, fades) to have arrived.
constexpr double kDefaultPrerollSeconds = 2.0;

struct RenderOptions {
    std::string input;
    std::string output;
    std::string program;               ///< number or exact name; empty for program 0
    std::vector<std::string> settings; ///< "NAME=VALUE", in the order given
    std::string order;                 ///< module order code, empty for the program's
    double tempoBpm = kDefaultTempoBpm;
    std::optional<double> tailSeconds; ///< empty: as long as the delay needs
    std::string stateFile;
    std::string saveStateFile;
    std::optional<FileType> fileType;         ///< --format
    std::optional<SampleFormat> sampleFormat; ///< --bits
    std::optional<int32_t> channels;          ///< --channels
    int32_t blockFrames = kDefaultBlockFrames;
    std::optional<int64_t> prerollFrames; ///< empty: kDefaultPrerollSeconds
    bool listPrograms = false;
    bool listParams = false;
    bool help = false;
    bool quiet = false;
    bool progress = true; ///< shown on a terminal for long files unless --no-progress

    /// Whether audio is to be rendered (an input and an output were named).
    bool renders() const { return !input.empty(); }
};

/// Parses the arguments after the program name. False with a one-line `error` for an unknown
/// option, a missing or malformed value, or a wrong number of file names.
bool parseArguments(const std::vector<std::string>& arguments, RenderOptions& options, std::string& error);

/// The --help text.
std::string usageText();

} // namespace pellucer::render
