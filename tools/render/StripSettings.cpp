#include "tools/render/StripSettings.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>

#include "core/ChannelStripEffect.h"
#include "core/FactoryPrograms.h"
#include "tools/render/FxpFile.h"

namespace pellucer::render {

namespace {

// Echoes are followed until they have fallen this far below the signal that made them.
constexpr double kRingOutLevel = 1e-3; // -60 dB
// State files are a few kilobytes; anything far larger is not one.
constexpr size_t kMaxStateFileBytes = 1 << 20;

bool sameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool allDigits(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

bool findProgram(const std::string& text, int32_t& program, std::string& error) {
    const auto& bank = factoryPrograms();
    if (allDigits(text)) {
        const int64_t number = text.size() > 3 ? kNumFactoryPrograms : std::stoll(text);
        if (number >= kNumFactoryPrograms) {
            error = "program number " + text + " is outside 0.." + std::to_string(kNumFactoryPrograms - 1);
            return false;
        }
        program = static_cast<int32_t>(number);
        return true;
    }
    for (int32_t i = 0; i < kNumFactoryPrograms; ++i)
        if (text == bank[static_cast<size_t>(i)].name) {
            program = i;
            return true;
        }
    error = "unknown program \"" + text + "\"";
    for (const FactoryProgram& candidate : bank)
        if (sameIgnoringCase(text, candidate.name))
            return error += " (did you mean \"" + std::string(candidate.name) + "\"?)", false;
    error += " (--list-programs shows the names)";
    return false;
}

bool applySetting(ChannelStripEffect& effect, const std::string& assignment, const UnitWords& words,
                  std::string& error) {
    const size_t equals = assignment.find('=');
    const std::string name = trimmed(assignment.substr(0, equals));
    const std::string value = equals == std::string::npos ? std::string() : assignment.substr(equals + 1);
    const int32_t index = parameterIndex(name);
    if (index < 0) {
        error = "unknown parameter \"" + name + "\"";
        for (int32_t i = 0; i < kNumParams; ++i)
            if (sameIgnoringCase(name, paramName(i)))
                return error += " (did you mean \"" + std::string(paramName(i)) + "\"?)", false;
        error += " (--list-params shows the names)";
        return false;
    }
    const bool synced = effect.getParameter(kDelaySyncEnable) > 0.5f;
    const ParsedValue parsed = parseParameterValue(index, value, synced, words);
    if (!parsed.ok()) {
        error = parsed.error;
        return false;
    }
    effect.setParameter(index, parsed.value);
    return true;
}

bool loadStateFile(ChannelStripEffect& effect, const std::string& path, std::string& error) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    std::vector<uint8_t> bytes;
    uint8_t buffer[4096];
    size_t n = 0;
    while (file && (n = std::fread(buffer, 1, sizeof(buffer), file.get())) > 0) {
        bytes.insert(bytes.end(), buffer, buffer + n);
        if (bytes.size() > kMaxStateFileBytes) {
            error = path + ": is far too large for a state file";
            return false;
        }
    }
    if (!file || std::ferror(file.get())) {
        error = path + ": cannot be read: " + std::strerror(errno);
        return false;
    }
    if (!loadStateBytes(effect, bytes.data(), bytes.size(), error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

bool loadStateBytes(ChannelStripEffect& effect, const uint8_t* data, size_t size, std::string& error) {
    StateProgram program;
    if (!readStateFile(data, size, program, error))
        return false;
    if (program.kind == StateProgram::Kind::Chunk) {
        if (effect.setChunk(program.chunk.data(), static_cast<int32_t>(program.chunk.size()), true) != 1) {
            error = "the strip refused the state";
            return false;
        }
        return true;
    }
    for (int32_t i = 0; i < kNumParams; ++i)
        effect.setParameter(i, program.values[static_cast<size_t>(i)]);
    if (!program.name.empty())
        effect.setProgramName(program.name.c_str());
    return true;
}

std::vector<uint8_t> stateFileBytes(ChannelStripEffect& effect, const std::string& path) {
    void* data = nullptr;
    const int32_t size = effect.getChunk(&data, true);
    const auto* bytes = static_cast<const uint8_t*>(data);
    std::vector<uint8_t> chunk(bytes, bytes + std::max(size, 0));
    const std::string lower = [&path] {
        std::string s = path;
        for (char& c : s)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    }();
    if (lower.size() >= 4 && lower.compare(lower.size() - 4, 4, ".fxp") == 0)
        return writeFxp(chunk, programName(effect));
    return chunk;
}

std::string programList() {
    std::string text;
    char line[96];
    const auto& bank = factoryPrograms();
    for (int32_t i = 0; i < kNumFactoryPrograms; ++i) {
        std::snprintf(line, sizeof(line), "%3d  %s\n", static_cast<int>(i),
                      bank[static_cast<size_t>(i)].name);
        text += line;
    }
    return text;
}

std::string parameterList(ChannelStripEffect& effect) {
    std::string text = "  #  Parameter                Value          Normalised\n";
    char line[128];
    for (int32_t i = 0; i < kNumParams; ++i) {
        char display[32] = {};
        char label[32] = {};
        effect.getParameterDisplay(i, display);
        effect.getParameterLabel(i, label);
        const float v = effect.getParameter(i);
        std::string shown = display;
        // "4.0:1" reads as a ratio; other units stand apart from the number ("-12.0 dB").
        if (label[0] != '\0')
            shown += (label[0] == ':' ? std::string() : std::string(" ")) + label;
        if (i == kReserved)
            std::snprintf(line, sizeof(line), "%3d  %-24s %-14.0f (module order)\n", static_cast<int>(i),
                          paramName(i), static_cast<double>(v));
        else
            std::snprintf(line, sizeof(line), "%3d  %-24s %-14s %.6f\n", static_cast<int>(i), paramName(i),
                          shown.c_str(), static_cast<double>(v));
        text += line;
    }
    return text;
}

int64_t ringOutFrames(ChannelStripEffect& effect, double tempoBpm, double sampleRate) {
    if (effect.getParameter(kPlugInEnable) <= 0.5f)
        return 0;
    int64_t frames = 0;
    if (effect.getParameter(kDoublerEnable) > 0.5f)
        frames += static_cast<int64_t>(
            std::ceil((Doubler::kBaseDelayLeftSeconds + Doubler::kModulationDepthFramesAt44100 / 44100.0) *
                      sampleRate));
    if (effect.getParameter(kDelayEnable) > 0.5f) {
        const TempoDelay& delay = effect.delay();
        const double time =
            delay.sync() ? noteLengthSeconds(noteIndex(delay.noteValue()), tempoBpm) : delay.timeSeconds();
        const double level = delay.level();
        const double feedback = delay.feedback();
        if (level > kRingOutLevel) {
            // Echo k sounds k delays late with the level * feedback^(k - 1); the delay rounds its
            // time to whole frames.
            double echoes = 1.0;
            if (feedback > 0.0)
                echoes += std::ceil(std::log(kRingOutLevel / level) / std::log(feedback));
            frames += static_cast<int64_t>(echoes) *
                      std::llround(std::min(time, TempoDelay::kMaxTimeSeconds) * sampleRate);
        }
    }
    return frames;
}

std::string programName(ChannelStripEffect& effect) {
    char name[64] = {};
    effect.getProgramName(name);
    return name;
}

} // namespace pellucer::render
