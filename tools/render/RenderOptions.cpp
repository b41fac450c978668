#include "tools/render/RenderOptions.h"

#include <cmath>
#include <filesystem>

#include "tools/render/ValueParser.h"

namespace pellucer::render {

namespace {

// Options that take a value, written "--name VALUE" or "--name=VALUE".
bool takesValue(const std::string& name) {
    for (const char* option :
         {"--program", "--set", "--order", "--tempo", "--tail", "--state", "--save-state", "--format",
          "--bits", "--channels", "--block-size", "--preroll"})
        if (name == option)
            return true;
    return false;
}

bool applyValue(const std::string& name, const std::string& value, RenderOptions& options,
                std::string& error) {
    if (value.empty()) {
        error = name + " \"\": an empty value (see --help)";
        return false;
    }
    double number = 0.0;
    if (name == "--program") {
        options.program = value;
    } else if (name == "--set") {
        if (value.find('=') == std::string::npos) {
            error = "--set \"" + value + "\": write NAME=VALUE, e.g. --set \"Compressor Thresh=-18dB\"";
            return false;
        }
        options.settings.push_back(value);
    } else if (name == "--order") {
        options.order = value;
    } else if (name == "--tempo") {
        if (!parseNumber(value, number) || number < kMinTempoBpm || number > kMaxTempoBpm) {
            error = "--tempo \"" + value + "\": give beats per minute, 15 to 999";
            return false;
        }
        options.tempoBpm = number;
    } else if (name == "--tail") {
        if (!parseNumber(value, number) || number < 0.0 || number > kMaxTailSeconds) {
            error = "--tail \"" + value + "\": give seconds, 0 to 3600";
            return false;
        }
        options.tailSeconds = number;
    } else if (name == "--state") {
        options.stateFile = value;
    } else if (name == "--save-state") {
        options.saveStateFile = value;
    } else if (name == "--format") {
        if (value == "wav")
            options.fileType = FileType::Wav;
        else if (value == "aiff")
            options.fileType = FileType::Aiff;
        else if (value == "flac")
            options.fileType = FileType::Flac;
        else {
            error = "--format \"" + value + "\": give wav, aiff or flac";
            return false;
        }
    } else if (name == "--bits") {
        if (value == "16")
            options.sampleFormat = SampleFormat::Pcm16;
        else if (value == "24")
            options.sampleFormat = SampleFormat::Pcm24;
        else if (value == "32")
            options.sampleFormat = SampleFormat::Pcm32;
        else if (value == "float")
            options.sampleFormat = SampleFormat::Float32;
        else {
            error = "--bits \"" + value + "\": give 16, 24, 32 or float";
            return false;
        }
    } else if (name == "--channels") {
        if (value != "1" && value != "2") {
            error = "--channels \"" + value + "\": give 1 or 2";
            return false;
        }
        options.channels = value == "1" ? 1 : 2;
    } else if (name == "--block-size") {
        if (!parseNumber(value, number) || number != std::trunc(number) || number < 1 ||
            number > kMaxBlockFramesOption) {
            error =
                "--block-size \"" + value + "\": give frames, 1 to " + std::to_string(kMaxBlockFramesOption);
            return false;
        }
        options.blockFrames = static_cast<int32_t>(number);
    } else if (name == "--preroll") {
        if (!parseNumber(value, number) || number != std::trunc(number) || number < 0 ||
            number > kMaxPrerollFrames) {
            error = "--preroll \"" + value + "\": give frames, 0 to " + std::to_string(kMaxPrerollFrames);
            return false;
        }
        options.prerollFrames = static_cast<int64_t>(number);
    }
    return true;
}

} // namespace

bool parseArguments(const std::vector<std::string>& arguments, RenderOptions& options, std::string& error) {
    std::vector<std::string> files;
    bool optionsEnded = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument.empty()) {
            error = "\"\": an empty file name (see --help)";
            return false;
        }
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            files.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--list-programs") {
            options.listPrograms = true;
        } else if (argument == "--list-params") {
            options.listParams = true;
        } else if (argument == "--quiet" || argument == "-q") {
            options.quiet = true;
        } else if (argument == "--no-progress") {
            options.progress = false;
        } else {
            const size_t equals = argument.find('=');
            const std::string name = argument.substr(0, equals);
            if (!takesValue(name)) {
                error = "unknown option " + name + " (see --help)";
                return false;
            }
            std::string value;
            if (equals != std::string::npos) {
                value = argument.substr(equals + 1);
            } else if (i + 1 < arguments.size()) {
                value = arguments[++i];
            } else {
                error = name + " needs a value (see --help)";
                return false;
            }
            if (!applyValue(name, value, options, error))
                return false;
        }
    }
    if (options.help)
        return true;
    if (files.size() == 2) {
        options.input = files[0];
        options.output = files[1];
        // An output named without an extension keeps the input's type.
        const std::string extension = std::filesystem::path(options.output).extension().string();
        FileType byName = FileType::Wav;
        if (!options.fileType && !extension.empty() && !fileTypeFromExtension(options.output, byName)) {
            error = options.output + ": " + extension +
                    " files are not written (.wav, .aif, .aiff, .aifc and .flac are); give --format "
                    "wav|aiff|flac to use this name";
            return false;
        }
    } else if (!files.empty()) {
        error = files.size() == 1 ? "an OUTPUT file is needed after INPUT (see --help)"
                                  : "too many file names: give INPUT and OUTPUT (see --help)";
        return false;
    } else if (!options.listPrograms && !options.listParams && options.saveStateFile.empty()) {
        error = "give INPUT and OUTPUT files (see --help)";
        return false;
    }
    if (!options.program.empty() && !options.stateFile.empty()) {
        error = "--program and --state both choose the starting settings; give one of them";
        return false;
    }
    return true;
}

std::string usageText() {
    return R"(Usage: pellucer-render [options] INPUT OUTPUT
       pellucer-render [options] --list-programs | --list-params | --save-state FILE

Runs an audio file through the Pellucer vocal channel strip, exactly as the plug-in processes it
in a host (single precision, blocks of 512 frames), with its latency removed: the first output
frame belongs to the first input frame. WAV, AIFF or FLAC, mono or stereo, 16/24/32-bit integer
or 32-bit float. The output keeps the input's format, channels and sample rate unless the output
name's extension (.wav, .aif/.aiff, .flac) or the options below say otherwise; an output name
with another extension needs --format.

Settings (applied in this order):
  --program N|NAME      factory program by number (0-60) or exact name; default 0 "Full Reset"
  --state FILE          start from a saved state instead: a 4852-byte state chunk or an .fxp
  --order CODE          module order, e.g. 54321 (digits: 1 de-esser, 2 compander,
                        3 equaliser, 4 doubler, 5 delay; first position first)
  --set NAME=VALUE      set a parameter by its exact name (repeatable, applied in order).
                        VALUE is normalised 0..1, or in the parameter's unit as its display
                        shows it: "Compressor Thresh=-18dB", "Delay Time=250ms",
                        "Compressor Ratio=4:1", "Expander Ratio=1:2", "DeEsser Depth=60%",
                        "EQ High Freq=8000Hz", "Delay Enable=On", "Delay Time=1/8D" (synced)
  --tempo BPM           host tempo for the synced delay (15-999; default 120)
  --save-state FILE     save the settings: an .fxp program file when FILE ends in .fxp,
                        otherwise the bare 4852-byte state chunk

Rendering:
  --tail SECONDS        render this long past the end of the input (default: until the
                        delay's echoes have fallen by 60 dB; 0 when the delay is off)
  --format wav|aiff|flac
  --bits 16|24|32|float output sample format (FLAC: 16 or 24)
  --channels 1|2        output channels: a mono input made stereo runs through the strip in
                        stereo; a stereo input made mono is mixed to mono after the strip
  --block-size FRAMES   frames per processing call (default 512)
  --preroll FRAMES      frames of silence the strip runs, transport stopped, before the input
                        starts (default 2 seconds' worth), as in a host where the plug-in runs
                        before playback: settings that glide have arrived by the first frame,
                        and the doubler's sweep follows the frames processed since then
  --no-progress         no progress bar (it is shown on a terminal for inputs over 20 s)
  -q, --quiet           no summary

Information:
  --list-programs       the 61 factory programs
  --list-params         every parameter with its value for the chosen settings
  -h, --help            this text

Exit status: 0 on success, 1 when the render failed, 2 for a wrong command line.
)";
}

} // namespace pellucer::render
