#include "tools/render/ValueParser.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "core/SkinTable.h"
#include "core/ParameterDisplay.h"
#include "core/ParameterTable.h"

namespace pellucer::render {

namespace {

// The display writes one decimal, so a value read off it may lie up to half a digit beyond
// the parameter's range.
constexpr double kDisplayRounding = 0.05;
// The largest normalised ratio that is still a number: 1.0 itself means infinity.
const float kLargestFiniteRatio = std::nextafter(1.0f, 0.0f);

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameWord(std::string_view a, std::string_view b) {
    return !b.empty() && a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
}

bool startsWithWord(std::string_view text, std::string_view word) {
    return !word.empty() && text.size() >= word.size() && sameWord(text.substr(0, word.size()), word);
}

bool endsWithWord(std::string_view text, std::string_view word) {
    return !word.empty() && text.size() >= word.size() &&
           sameWord(text.substr(text.size() - word.size()), word);
}

// A number at the start of `text`; `rest` is what follows it. False when there is none.
bool leadingNumber(std::string_view text, double& value, std::string_view& rest) {
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    const char* first = text.data();
    const char* last = text.data() + text.size();
    const auto [end, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ec != std::errc() || end == first || !std::isfinite(value))
        return false;
    rest = trim(std::string_view(end, static_cast<size_t>(last - end)));
    return true;
}

// The units' words, in `Unit` order (a continuous parameter always has a unit).
constexpr std::string UnitWords::*kUnitWords[] = {&UnitWords::db,    &UnitWords::db,    &UnitWords::percent,
                                                  &UnitWords::toOne, &UnitWords::oneTo, &UnitWords::ms,
                                                  &UnitWords::hz};
static_assert(std::size(kUnitWords) == static_cast<size_t>(Unit::Hz) + 1);
const std::string& unitWord(Unit unit, const UnitWords& words) {
    return words.*kUnitWords[static_cast<size_t>(unit)];
}

// Levels shown in dB reach down to minus infinity, which is written as its word and means 0.
bool minusInfinityIsZero(const ParamDescriptor& p) { return p.range.minimum == -HUGE_VAL; }

std::string formatRange(const ParamDescriptor& p, const UnitWords& words) {
    char buffer[96];
    const std::string& unit = unitWord(p.unit, words);
    const Range& range = p.range;
    if (p.unit == Unit::OneTo)
        std::snprintf(buffer, sizeof(buffer), "%s%.1f .. %s%.1f (or %s%s)", unit.c_str(), range.minimum,
                      unit.c_str(), range.maximum, unit.c_str(), words.infinity.c_str());
    else if (p.unit == Unit::ToOne)
        std::snprintf(buffer, sizeof(buffer), "%.1f%s .. %.1f%s (or %s)", range.minimum, unit.c_str(),
                      range.maximum, unit.c_str(), words.infinity.c_str());
    else if (minusInfinityIsZero(p))
        std::snprintf(buffer, sizeof(buffer), "%s .. %.1f %s", words.negInfinity.c_str(), range.maximum,
                      unit.c_str());
    else
        std::snprintf(buffer, sizeof(buffer), "%.1f .. %.1f %s", range.minimum, range.maximum, unit.c_str());
    return buffer;
}

ParsedValue failure(int32_t index, std::string_view text, const std::string& why) {
    ParsedValue result;
    result.error = std::string(paramName(index)) + ": \"" + std::string(text) + "\" " + why;
    return result;
}

ParsedValue success(double v) {
    ParsedValue result;
    result.value = static_cast<float>(std::clamp(v, 0.0, 1.0));
    return result;
}

ParsedValue parseSwitch(int32_t index, std::string_view text, const UnitWords& words) {
    if (sameWord(text, words.on) || sameWord(text, "on"))
        return success(1.0);
    if (sameWord(text, words.off) || sameWord(text, "off"))
        return success(0.0);
    double v = 0.0;
    if (parseNumber(text, v) && v >= 0.0 && v <= 1.0)
        return success(v);
    const std::string on = words.on.empty() ? "On" : words.on;
    const std::string off = words.off.empty() ? "Off" : words.off;
    return failure(index, text, "is neither " + on + " nor " + off + " nor a number 0..1");
}

ParsedValue parseNoteName(std::string_view text, bool delaySynced, const UnitWords& words, bool& matched) {
    matched = false;
    for (int32_t i = 0; i < kNoteValues; ++i) {
        if (!sameWord(text, words.notes[static_cast<size_t>(i)]))
            continue;
        matched = true;
        if (!delaySynced)
            return failure(kDelayTime, text,
                           "is a note value, but the delay runs free; set \"" +
                               std::string(paramName(kDelaySyncEnable)) + "=On\" before it");
        // The middle of the note's sixteenth of the range selects it without doubt.
        return success(normalisedFromNote(i));
    }
    return {};
}

ParsedValue parseInUnit(int32_t index, std::string_view text, const UnitWords& words) {
    const ParamDescriptor& p = kParameters[static_cast<size_t>(index)];
    const std::string& unit = unitWord(p.unit, words);
    const std::string range = formatRange(p, words);
    const double minimum = p.range.minimum;
    const double maximum = p.range.maximum;
    std::string_view body = text;

    // The ratios: "4:1" (the label after the number) and "1:2.5" (the one-to text before it),
    // each also with the infinity word.
    if (p.unit == Unit::OneTo) {
        if (!startsWithWord(body, unit))
            return failure(index, text, "is not understood; write " + range + " or a normalised value 0..1");
        body = trim(body.substr(unit.size()));
    } else if (p.unit == Unit::ToOne && endsWithWord(body, unit)) {
        body = trim(body.substr(0, body.size() - unit.size()));
    }
    if (p.text == Text::Ratio) {
        if (sameWord(body, words.infinity))
            return success(1.0);
        double ratio = 0.0;
        if (!parseNumber(body, ratio))
            return failure(index, text, "is not understood; write " + range + " or a normalised value 0..1");
        if (ratio < minimum - kDisplayRounding || ratio > maximum + kDisplayRounding)
            return failure(index, text, "is outside " + range);
        ParsedValue result = success(normalisedFromDisplayNumber(index, std::max(ratio, minimum), false));
        result.value = std::min(result.value, kLargestFiniteRatio);
        return result;
    }

    if (minusInfinityIsZero(p)) {
        std::string_view word = body;
        if (endsWithWord(word, unit))
            word = trim(word.substr(0, word.size() - unit.size()));
        if (sameWord(word, words.negInfinity))
            return success(0.0);
    }

    double x = 0.0;
    std::string_view given;
    if (!leadingNumber(body, x, given))
        return failure(index, text, "is not understood; write " + range + " or a normalised value 0..1");
    if (sameWord(given, unit)) {
        // the parameter's own unit
    } else if (p.unit == Unit::Hz && sameWord(given, words.khz)) {
        x *= 1000.0;
    } else {
        return failure(index, text,
                       "has the unit \"" + std::string(given) + "\"; " + paramName(index) + " takes " +
                           range + " or a normalised value 0..1");
    }
    if (x < minimum - kDisplayRounding || x > maximum + kDisplayRounding)
        return failure(index, text, "is outside " + range);
    return success(normalisedFromDisplayNumber(index, std::max(x, minimum), false));
}

} // namespace

std::string utf8(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

UnitWords UnitWords::fromSkin() {
    const SkinTable& table = textResources();
    UnitWords words;
    words.available = table.loaded();
    auto word = [&table](const char* key) {
        const std::u16string* text = table.find(key);
        return text != nullptr ? utf8(*text) : std::string();
    };
    words.db = word("IDS_TIP_DB");
    words.percent = word("IDS_PERCENT");
    words.toOne = word("IDS_TIP_TO_ONE");
    words.oneTo = word("IDS_TIP_ONE_TO");
    words.ms = word("IDS_TIP_MS");
    words.hz = word("IDS_TIP_HZ");
    words.khz = word("IDS_TIP_KHZ");
    words.on = word("IDS_GENERIC_ON");
    words.off = word("IDS_GENERIC_OFF");
    words.negInfinity = word("IDS_DB_NEG_INF");
    words.infinity = word("IDS_DB_INFINITY");
    for (size_t i = 0; i < words.notes.size(); ++i)
        words.notes[i] = word(delayNoteKey(i));
    return words;
}

int32_t parameterIndex(std::string_view name) {
    for (int32_t i = 0; i < kNumParams; ++i)
        if (name == paramName(i))
            return i;
    return -1;
}

bool parseNumber(std::string_view text, double& value) {
    std::string_view rest;
    double v = 0.0;
    if (!leadingNumber(trim(text), v, rest) || !rest.empty())
        return false;
    value = v;
    return true;
}

bool parseOrderCode(std::string_view text, int32_t& code, std::string& error) {
    text = trim(text);
    std::array<int32_t, 5> order{};
    bool digits = text.size() == 5 &&
                  std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    double value = 0.0;
    if (!digits || !parseNumber(text, value) || !decodeOrderCode(value, order)) {
        error = "is not a module order: five digits, each of 1..5 once, first position first "
                "(1 de-esser, 2 compander, 3 equaliser, 4 doubler, 5 delay; 12345 is the default)";
        return false;
    }
    code = static_cast<int32_t>(value);
    return true;
}

ParsedValue parseParameterValue(int32_t index, std::string_view text, bool delaySynced,
                                const UnitWords& words) {
    if (index < 0 || index >= kNumParams)
        return failure(index, text, "is for an unknown parameter");
    text = trim(text);
    if (text.empty())
        return failure(index, text, "is empty");

    if (index == kReserved) {
        int32_t code = 0;
        std::string error;
        if (!parseOrderCode(text, code, error))
            return failure(index, text, error);
        ParsedValue result;
        result.value = static_cast<float>(code);
        return result;
    }
    const ParamKind kind = paramKind(index);
    if (kind == ParamKind::Switch || kind == ParamKind::InvertedSwitch)
        return parseSwitch(index, text, words);

    double v = 0.0;
    if (parseNumber(text, v)) {
        if (v < 0.0 || v > 1.0)
            return failure(index, text,
                           "is outside the normalised range 0..1; follow a value in the "
                           "parameter's own unit by that unit (--list-params shows it)");
        return success(v);
    }
    if (!words.available)
        return failure(index, text,
                       "cannot be read: the unit words come from Resources/TextResources.tsres, "
                       "which was not found beside the program; give a normalised value 0..1");

    if (kParameters[static_cast<size_t>(index)].text == Text::TimeOrNote) {
        bool matched = false;
        ParsedValue note = parseNoteName(text, delaySynced, words, matched);
        if (matched)
            return note;
        if (delaySynced)
            return failure(index, text,
                           "is not a note value (" + words.notes.front() + " .. " + words.notes.back() +
                               "); the delay is synced to the tempo");
    }
    return parseInUnit(index, text, words);
}

} // namespace pellucer::render
