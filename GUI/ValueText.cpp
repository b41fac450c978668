#include "GUI/ValueText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/SkinTable.h"
#include "core/ParameterDisplay.h"
#include "core/ParameterTable.h"

namespace pellucer {

const char* tipKey(int32_t index) {
    return index >= 0 && index < kReserved ? kParameters[index].tip : nullptr;
}

DelayNoteNames lookUpDelayNoteNames() {
    DelayNoteNames names;
    for (int32_t i = 0; i < kDelayNoteNames; ++i)
        names[static_cast<size_t>(i)] = textResources().text(delayNoteKey(i));
    return names;
}

std::u16string readoutText(int32_t index, float v, bool delaySynced, const DelayNoteNames& notes) {
    if (index < 0 || index >= kReserved)
        return {};
    if (kParameters[index].text == Text::TimeOrNote && delaySynced)
        return notes[static_cast<size_t>(noteIndex(v))];
    std::u16string text = parameterDisplay(index, v, delaySynced);
    const std::u16string unit = parameterLabel(index, delaySynced);
    if (!unit.empty()) {
        // A ratio reads "4.0:1"; every other unit stands apart from its number.
        if (kParameters[index].unit != Unit::ToOne)
            text += u' ';
        text += unit;
    }
    return text;
}

double readoutNumber(int32_t index, float v, bool delaySynced) {
    const double number = displayNumber(index, v, delaySynced);
    return number == -HUGE_VAL ? kEntryMinimum : number;
}

float normalisedFromNumber(int32_t index, double number, bool delaySynced) {
    const double v = normalisedFromDisplayNumber(index, number, delaySynced);
    if (std::isnan(v))
        return 0.0f;
    return static_cast<float>(std::clamp(v, 0.0, 1.0));
}

std::u16string reductionText(double ratio) {
    const double db = ratio > 1.0 ? 20.0 * std::log10(ratio) : 0.0;
    // Three figures at most, so that the text keeps to the narrow gap it is shown in.
    constexpr double kWholeDecibelsFrom = 9.95;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, db < kWholeDecibelsFrom ? "%5.1f" : "%5.0f", db);
    return std::u16string(buffer, buffer + std::char_traits<char>::length(buffer));
}

} // namespace pellucer
