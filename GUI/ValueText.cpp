#include "GUI/ValueText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "Shared/GUI/SkinTable.h"
#include "core/ParameterDisplay.h"
#include "core/Parameters.h"
#include "dsp/TempoDelay.h"

namespace pellucer {

namespace {

// Tip keys in parameter order.
constexpr const char* kTipKeys[kReserved] = {
    "IDS_TIP_ENABLE",          "IDS_TIP_IN_TUBE",         "IDS_TIP_IN_GAIN",
    "IDS_TIP_IN_TUBE_SAT",     "IDS_TIP_COMP_ENABLE",     "IDS_TIP_COMP_THRESHOLD",
    "IDS_TIP_COMP_RATIO",      "IDS_TIP_EXP_THRESHOLD",   "IDS_TIP_EXP_RATIO",
    "IDS_TIP_COMP_ATTACK",     "IDS_TIP_EQ_ENABLE",       "IDS_TIP_EQ_TUBE_SAT",
    "IDS_TIP_TUBE_LOW_ENABLE", "IDS_TIP_TUBE_MID_ENABLE", "IDS_TIP_TUBE_HIGH_ENABLE",
    "IDS_TIP_EQ_LOW_FREQ",     "IDS_TIP_EQ_LOW_GAIN",     "IDS_TIP_EQ_MID_FREQ",
    "IDS_TIP_EQ_MID_GAIN",     "IDS_TIP_EQ_HIGH_FREQ",    "IDS_TIP_EQ_HIGH_GAIN",
    "IDS_TIP_DSR_ENABLE",      "IDS_TIP_DSR_FREQ",        "IDS_TIP_DSR_AMOUNT",
    "IDS_TIP_DSR_LISTEN",      "IDS_TIP_DOUBLER_ENABLE",  "IDS_TIP_DOUBLER_DEPTH",
    "IDS_TIP_DOUBLER_STEREO",  "IDS_TIP_DELAY_ENABLE",    "IDS_TIP_DELAY_SYNC",
    "IDS_TIP_DELAY_TIME",      "IDS_TIP_DELAY_LEVEL",     "IDS_TIP_DELAY_FEEDBACK",
    "IDS_TIP_DELAY_FILT_MODE", "IDS_TIP_DELAY_FILTER",    "IDS_TIP_OUT_TUBE",
    "IDS_TIP_OUT_GAIN",        "IDS_TIP_OUT_TUBE_SAT",
};

} // namespace

const char* tipKey(int32_t index) {
    if (index < 0 || index >= kReserved)
        return nullptr;
    return kTipKeys[index];
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
    if (index == kDelayTime && delaySynced)
        return notes[static_cast<size_t>(noteIndex(v))];
    std::u16string text = parameterDisplay(index, v, delaySynced);
    const std::u16string unit = parameterLabel(index, delaySynced);
    if (!unit.empty()) {
        // A ratio reads "4.0:1"; every other unit stands apart from its number.
        if (index != kCompressorRatio)
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
