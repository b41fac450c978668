#include "core/ParameterDisplay.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/SkinTable.h"
#include "core/ParamInfoTable.h"
#include "core/ParameterTable.h"

namespace pellucer {

namespace {

// Text keys of the sixteen delay note values, shortest first.
constexpr const char* kNoteKeys[kNoteValues] = {
    "IDS_DLY_32T", "IDS_DLY_32", "IDS_DLY_32D", "IDS_DLY_16T", "IDS_DLY_16", "IDS_DLY_16D",
    "IDS_DLY_8T",  "IDS_DLY_8",  "IDS_DLY_8D",  "IDS_DLY_4T",  "IDS_DLY_4",  "IDS_DLY_4D",
    "IDS_DLY_2T",  "IDS_DLY_2",  "IDS_DLY_2D",  "IDS_DLY_1",
};

} // namespace

const char* delayNoteKey(int32_t index) { return kNoteKeys[std::clamp(index, 0, kNoteValues - 1)]; }

namespace {

const std::u16string& text(const char* key) { return textResources().text(key); }

std::u16string number(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof(buffer), "%.1f", value);
    return std::u16string(buffer, buffer + std::char_traits<char>::length(buffer));
}

std::u16string onOff(float v) { return text(v <= 0.5f ? "IDS_GENERIC_OFF" : "IDS_GENERIC_ON"); }

// Text keys of the units' words, in `Unit` order: the label after the number, or for "one to"
// the text before it.
constexpr const char* kUnitKeys[] = {nullptr,          "IDS_TIP_DB", "IDS_PERCENT", "IDS_TIP_TO_ONE",
                                     "IDS_TIP_ONE_TO", "IDS_TIP_MS", "IDS_TIP_HZ"};
static_assert(std::size(kUnitKeys) == static_cast<size_t>(Unit::Hz) + 1);
const char* unitKey(Unit unit) { return kUnitKeys[static_cast<size_t>(unit)]; }

// The descriptor of a continuous parameter; null for switches, the order code and other indices.
const ParamDescriptor* continuous(int32_t index) {
    const bool known = index >= 0 && index < kNumParams;
    return known && kParameters[index].kind == ParamKind::Continuous ? &kParameters[index] : nullptr;
}

bool showsNote(const ParamDescriptor& p, bool delaySynced) {
    return p.text == Text::TimeOrNote && delaySynced;
}

} // namespace

std::u16string parameterLabel(int32_t index, bool delaySynced) {
    const ParamDescriptor* p = continuous(index);
    if (p == nullptr || p->unit == Unit::OneTo || showsNote(*p, delaySynced))
        return {};
    const char* key = unitKey(p->unit);
    return key != nullptr ? text(key) : std::u16string();
}

std::u16string parameterDisplay(int32_t index, float v, bool delaySynced) {
    if (index < 0 || index >= kReserved)
        return {};
    if (isSwitch(paramKind(index)))
        return onOff(v);
    const ParamDescriptor& p = *continuous(index);
    if (showsNote(p, delaySynced))
        return text(delayNoteKey(noteIndex(v)));
    const std::u16string prefix = p.unit == Unit::OneTo ? text(unitKey(p.unit)) : std::u16string();
    if (p.text == Text::Ratio && v >= 1.0f)
        return prefix + text("IDS_DB_INFINITY");
    const bool rounded = p.text == Text::Single || p.text == Text::Ratio;
    const double x = rounded ? p.shown.toUnitRounded(v) : p.shown.toUnit(v);
    return prefix + (x == -HUGE_VAL ? text("IDS_DB_NEG_INF") : number(x));
}

void parameterNameText(int32_t index, char* text) {
    size_t n = 0;
    if (index >= 0 && index < kNumParams) {
        const char16_t* label = paramInfoTable()[index].szLabel;
        for (; n < kNameChars && n < std::size(paramInfoTable()[index].szLabel) && label[n] != u'\0'; ++n)
            text[n] = label[n] < 0x80 ? static_cast<char>(label[n]) : '?';
    }
    text[n] = '\0';
}

double displayNumber(int32_t index, float v, bool delaySynced) {
    if (isSwitch(paramKind(index)))
        return switchOn(v) ? 1.0 : 0.0;
    const ParamDescriptor* p = continuous(index);
    if (p == nullptr)
        return 0.0;
    if (showsNote(*p, delaySynced))
        return noteIndex(v);
    // An infinite ratio is given as its largest finite one.
    const double x = p->text == Text::Ratio ? std::min(static_cast<double>(v), 1.0) : v;
    return p->shown.toUnit(x);
}

double normalisedFromDisplayNumber(int32_t index, double x, bool delaySynced) {
    if (isSwitch(paramKind(index)))
        return x > 0.5 ? 1.0 : 0.0;
    const ParamDescriptor* p = continuous(index);
    if (p == nullptr)
        return 0.0;
    return showsNote(*p, delaySynced) ? normalisedFromNote(x) : p->shown.toNormalised(x);
}

} // namespace pellucer
