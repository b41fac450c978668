#include "tools/render/RenderTool.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/ChannelStripEffect.h"
#include "tools/render/AudioFile.h"
#include "tools/render/RenderOptions.h"
#include "tools/render/Renderer.h"
#include "tools/render/StripSettings.h"
#include "tools/render/ValueParser.h"

namespace pellucer::render {

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
// Inputs at least this long get a progress bar (on a terminal).
constexpr double kProgressSeconds = 20.0;

std::atomic<bool> gStopRequested{false};

void requestStop(int) { gStopRequested.store(true); }

// Interrupting the tool, ending it and closing its terminal all end the render the same way: the
// temporary files are removed and nothing is put in place. A signal ignored from the start (under
// nohup, in a script's background job) stays ignored.
void installStopHandlers() {
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction previous {};
        if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN)
            sigaction(signal, &action, nullptr);
    }
}

int fail(int status, const std::string& message) {
    std::fprintf(stderr, "pellucer-render: %s\n", message.c_str());
    return status;
}

void warn(const std::string& message) {
    std::fprintf(stderr, "pellucer-render: warning: %s\n", message.c_str());
}

// Whether two names reach the same file: the same inode when both exist, otherwise the same
// absolute path once "..", "." and symbolic links are resolved.
bool sameFile(const std::string& a, const std::string& b) {
    namespace fs = std::filesystem;
    std::error_code error;
    if (fs::exists(a, error) && fs::exists(b, error))
        return fs::equivalent(a, b, error);
    const fs::path pa = fs::weakly_canonical(fs::absolute(a, error), error);
    const fs::path pb = fs::weakly_canonical(fs::absolute(b, error), error);
    return pa == pb;
}

// The output keeps the input's type, sample format and channels unless an option or the output
// name's extension asks for another.
bool chooseOutputFormat(const RenderOptions& options, const AudioFormat& input, AudioFormat& output,
                        std::string& error) {
    output = input;
    FileType fromName = input.type;
    if (options.fileType)
        output.type = *options.fileType;
    else if (fileTypeFromExtension(options.output, fromName) &&
             !(fromName == FileType::Wav && input.type == FileType::WavExtensible))
        output.type = fromName;
    if (options.sampleFormat)
        output.sample = *options.sampleFormat;
    if (options.channels)
        output.channels = *options.channels;
    if (!canHold(output.type, output.sample)) {
        if (options.sampleFormat) {
            error = std::string(fileTypeName(output.type)) + " cannot hold " +
                    sampleFormatName(output.sample) + " samples; use --bits 16 or --bits 24";
            return false;
        }
        output.sample = SampleFormat::Pcm24;
    }
    return true;
}

} // namespace

int runRenderTool(int argc, char** argv) {
    RenderOptions options;
    std::string error;
    if (!parseArguments(std::vector<std::string>(argv + 1, argv + argc), options, error))
        return fail(kExitUsage, error);
    if (options.help) {
        std::fputs(usageText().c_str(), stdout);
        return kExitDone;
    }

    // Open the input first: its rate and channels decide how the strip is prepared.
    AudioReader reader;
    AudioFormat outputFormat;
    if (options.renders()) {
        if (!reader.open(options.input, error))
            return fail(kExitFailed, options.input + ": " + error);
        if (sameFile(options.input, options.output))
            return fail(kExitFailed, options.output + ": is the input file; choose another output");
        if (!chooseOutputFormat(options, reader.format(), outputFormat, error))
            return fail(kExitUsage, options.output + ": " + error);
    }
    if (!options.saveStateFile.empty() && options.renders() &&
        (sameFile(options.saveStateFile, options.input) || sameFile(options.saveStateFile, options.output)))
        return fail(kExitUsage, options.saveStateFile + ": the state file cannot be the input or the output");

    const float sampleRate = options.renders() ? static_cast<float>(reader.format().sampleRate) : 44100.0f;
    RenderHost host(options.tempoBpm, sampleRate);
    auto effect = std::make_unique<ChannelStripEffect>(&RenderHost::callback);
    host.attach(*effect);
    const bool monoStrip = options.renders() && reader.format().channels == 1 && outputFormat.channels == 1;
    prepareEngine(*effect, sampleRate, options.blockFrames, monoStrip);
    if (options.renders() && effect->engineSampleRate() != sampleRate)
        return fail(kExitFailed, options.input + ": the strip cannot run at " +
                                     std::to_string(reader.format().sampleRate) + " Hz (8000 to 768000 Hz)");

    // Settings: program or state, order, single parameters.
    if (!options.stateFile.empty()) {
        if (!loadStateFile(*effect, options.stateFile, error))
            return fail(kExitFailed, error);
    } else if (!options.program.empty()) {
        int32_t program = 0;
        if (!findProgram(options.program, program, error))
            return fail(kExitUsage, error);
        effect->setProgram(program);
    }
    if (!options.order.empty()) {
        int32_t code = 0;
        if (!parseOrderCode(options.order, code, error))
            return fail(kExitUsage, "--order \"" + options.order + "\" " + error);
        effect->setParameter(kReserved, static_cast<float>(code));
    }
    const UnitWords words = UnitWords::fromSkin();
    if (!words.available && options.listParams)
        warn("Resources/TextResources.tsres was not found beside the program; unit words are missing");
    for (const std::string& setting : options.settings)
        if (!applySetting(*effect, setting, words, error))
            return fail(kExitUsage, error);

    if (options.listPrograms)
        std::fputs(programList().c_str(), stdout);
    if (options.listParams) {
        std::printf("Program: %s\n", programName(*effect).c_str());
        std::fputs(parameterList(*effect).c_str(), stdout);
    }

    // The state file's temporary copy is made now, so that an unwritable name fails before the
    // render; it replaces the destination only when everything else has succeeded.
    installStopHandlers();
    FileCommit stateFile;
    std::vector<uint8_t> state;
    if (!options.saveStateFile.empty()) {
        if (!stateFile.open(options.saveStateFile, error))
            return fail(kExitFailed, options.saveStateFile + ": " + error);
        state = stateFileBytes(*effect, options.saveStateFile);
    }
    if (!options.renders()) {
        if (!options.saveStateFile.empty() && !stateFile.commit(state.data(), state.size(), error))
            return fail(kExitFailed, options.saveStateFile + ": " + error);
        return kExitDone;
    }

    RenderPlan plan;
    plan.blockFrames = options.blockFrames;
    plan.tailFrames = options.tailSeconds
                          ? static_cast<int64_t>(std::llround(*options.tailSeconds * sampleRate))
                          : ringOutFrames(*effect, options.tempoBpm, sampleRate);
    plan.prerollFrames = options.prerollFrames
                             ? *options.prerollFrames
                             : static_cast<int64_t>(std::llround(kDefaultPrerollSeconds * sampleRate));
    plan.outputChannels = outputFormat.channels;
    plan.integerOutput = outputFormat.sample != SampleFormat::Float32;
    plan.showProgress = options.progress && ::isatty(STDERR_FILENO) != 0 &&
                        static_cast<double>(reader.frames()) > kProgressSeconds * sampleRate;
    plan.stop = &gStopRequested;

    AudioWriter writer;
    if (!writer.open(options.output, outputFormat, error))
        return fail(kExitFailed, options.output + ": " + error);
    effect->resume();
    RenderSummary summary;
    if (!renderFile(*effect, host, reader, writer, plan, summary, error)) {
        writer.discard();
        return fail(kExitFailed,
                    (writer.failed() ? options.output + ": " : "rendering " + options.input + " failed: ") +
                        error);
    }
    // An input without a single frame gives no output. A header may promise frames the file does
    // not hold; the render has what there was.
    if (summary.inputFrames == 0) {
        writer.discard();
        return fail(kExitFailed, options.input + ": holds no audio frames");
    }
    if (summary.inputFrames < reader.announcedFrames())
        warn(options.input + ": the header announces " + std::to_string(reader.announcedFrames()) +
             " frames but the file holds " + std::to_string(summary.inputFrames) + "; those were rendered");
    if (summary.input.nonFinite > 0)
        warn(options.input + ": non-finite samples (NaN or infinite): " +
             std::to_string(summary.input.nonFinite) + ", rendered as silence");
    if (!writer.commit(error))
        return fail(kExitFailed, options.output + ": " + error);
    if (!options.saveStateFile.empty() && !stateFile.commit(state.data(), state.size(), error))
        return fail(kExitFailed, options.saveStateFile + ": " + error);

    if (!options.quiet)
        std::printf("%s\n", summary.line().c_str());
    return kExitDone;
}

} // namespace pellucer::render
