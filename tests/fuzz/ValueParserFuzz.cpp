// libFuzzer target: the renderer's `--set NAME=VALUE` text comes from the user's command line.
// Whatever the text, a value that is accepted is finite and normalised (the module order: a
// permutation of the five modules), a plain number reads as the C library reads it, a ratio
// typed as a number is finite, kHz means a thousand Hz, and the display text of an accepted value
// reads back to a value that shows the same text.

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/ChannelStripEffect.h"
#include "core/ParameterTable.h"
#include "tools/render/ValueParser.h"

namespace render = pellucer::render;

// Aborts (a finding) naming the line of the check that failed.
static void check(bool condition, int line = __builtin_LINE()) {
    if (!condition) {
        std::fprintf(stderr, "check failed at line %d\n", line);
        std::abort();
    }
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The skin's words, as the renderer finds them beside itself.
    setenv("PELLUCER_RESOURCES_FOLDER", PELLUCER_SOURCE_DIR "/skin/", 0);
    return 0;
}

// What the renderer's --list-params shows for parameter `index`: the display and its unit.
static std::string shown(pellucer::ChannelStripEffect& effect, int32_t index) {
    char display[64] = {}, label[64] = {};
    effect.getParameterDisplay(index, display);
    effect.getParameterLabel(index, label);
    return std::string(display) + (label[0] == ':' || label[0] == '\0' ? "" : " ") + label;
}

// The display keeps printf's "-0.0" for a level just below zero, as hosts have always been shown
// it (tests/data/parameters.tsv holds it); typed back it reads as 0.0, the same number.
static std::string signlessZero(std::string text) {
    const size_t at = text.find("-0.0");
    if (at != std::string::npos && (at + 4 == text.size() || text[at + 4] < '0' || text[at + 4] > '9'))
        text.erase(at, 1);
    return text;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static pellucer::ChannelStripEffect effect(nullptr);
    static const render::UnitWords skinWords = render::UnitWords::fromSkin();
    static const render::UnitWords noWords;
    check(skinWords.available);
    if (size < 2)
        return 0;
    const int32_t index = data[0] % pellucer::kNumParams;
    const bool synced = (data[1] & 1) != 0;
    const render::UnitWords& words = (data[1] & 2) != 0 ? noWords : skinWords;
    const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);

    double number = 0.0;
    if (render::parseNumber(text, number)) {
        const size_t first = text.find_first_not_of(" \t");
        std::string trimmed = text.substr(first, text.find_last_not_of(" \t") - first + 1);
        if (trimmed[0] == '+')
            trimmed.erase(0, 1);
        char* end = nullptr;
        const double c = std::strtod(trimmed.c_str(), &end);
        check(std::isfinite(number) && number == c && end == trimmed.c_str() + trimmed.size() &&
              trimmed.find_first_of("xXpP") == std::string::npos);
    }
    int32_t code = 0;
    std::string error;
    if (render::parseOrderCode(text, code, error)) {
        std::string digits = std::to_string(code);
        std::sort(digits.begin(), digits.end());
        check(digits == "12345" && text.find(std::to_string(code)) != std::string::npos);
    } else {
        check(!error.empty());
    }

    const render::ParsedValue parsed = render::parseParameterValue(index, text, synced, words);
    if (!parsed.ok()) {
        check(parsed.error.rfind(pellucer::paramName(index), 0) == 0);
        return 0;
    }
    if (index == pellucer::kReserved) {
        check(render::parseOrderCode(text, code, error) && parsed.value == static_cast<float>(code));
        return 0;
    }
    check(std::isfinite(parsed.value) && parsed.value >= 0.0f && parsed.value <= 1.0f);
    if (render::parseNumber(text, number))
        check(parsed.value == static_cast<float>(number));
    // A ratio typed as a number stays finite: only the infinity word means infinity.
    std::string lowered = text;
    std::transform(lowered.begin(), lowered.end(), lowered.begin(), [](unsigned char c) { return std::tolower(c); });
    if (pellucer::kParameters[static_cast<size_t>(index)].text == pellucer::Text::Ratio &&
        !render::parseNumber(text, number) && lowered.find("inf") == std::string::npos)
        check(parsed.value < 1.0f);
    // A frequency in kHz reads as the same frequency in Hz.
    const std::string_view khz = words.khz;
    if (pellucer::kParameters[static_cast<size_t>(index)].unit == pellucer::Unit::Hz && !khz.empty() &&
        text.size() > khz.size() && text.compare(text.size() - khz.size(), khz.size(), khz) == 0 &&
        render::parseNumber(text.substr(0, text.size() - khz.size()), number)) {
        char hz[64];
        std::snprintf(hz, sizeof hz, "%.17g%s", number * 1000.0, words.hz.c_str());
        const render::ParsedValue same = render::parseParameterValue(index, hz, synced, words);
        check(same.ok() && same.value == parsed.value);
    }

    // The value as the display shows it reads back (with the skin's words) to a value that
    // shows the same.
    effect.setParameter(pellucer::kDelaySyncEnable, synced ? 1.0f : 0.0f);
    effect.setParameter(index, parsed.value);
    const bool nowSynced = effect.getParameter(pellucer::kDelaySyncEnable) > 0.5f;
    const std::string display = shown(effect, index);
    const render::ParsedValue back = render::parseParameterValue(index, display, nowSynced, skinWords);
    check(back.ok());
    effect.setParameter(index, back.value);
    check(signlessZero(shown(effect, index)) == signlessZero(display));
    return 0;
}
