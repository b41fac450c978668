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


/// The ratio a Compressor or Expander Ratio of 1.0 stands for (infinity) is entered and shown as
/// the largest finite one, 10^1.5.
constexpr double kRatioExponentRange = 1.5;
/// The delay feedback filter's frequency is 10 x 2200^v Hz.
constexpr double kFilterBaseHz = 10.0;
constexpr double kFilterSpan = 2200.0;

bool isSwitch(int32_t index) {
    const ParamKind kind = paramKind(index);
    return kind == ParamKind::Switch || kind == ParamKind::InvertedSwitch;
}

/// Levels in dB; nothing (0) is shown as minus infinity and entered as the entry minimum.
double levelDb(double linear) { return linear > 0.0 ? 20.0 * std::log10(linear) : kEntryMinimum; }

/// log10(x) for the logarithmic parameters, with nothing at or below 0.
double logOrFloor(double x) { return x > 0.0 ? std::log10(x) : -HUGE_VAL; }

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
    if (isSwitch(index))
        return conv::switchOn(v) ? 1.0 : 0.0;
    const double x = v;
    switch (index) {
    case kInputGain:
    case kOutputGain:
        return 48.0 * x - 24.0;
    case kInputTubeSaturation:
    case kEqTubeSaturation:
    case kOutputTubeSaturation:
    case kDeEsserDepth:
    case kDoublerStereo:
    case kDelayFilterMode:
        return 100.0 * x;
    case kCompressorThresh:
        return 60.0 * x - 60.0;
    case kExpanderThresh:
        return 70.0 * x - 90.0;
    case kCompressorRatio:
    case kExpanderRatio:
        return std::pow(10.0, kRatioExponentRange * std::min(x, 1.0));
    case kCompanderAttack:
        return std::pow(10.0, 3.0 * x - 1.0);
    case kEqLowFreq:
        return conv::eqLowFreqFromNorm(v);
    case kEqMidFreq:
        return conv::eqMidFreqFromNorm(v);
    case kEqHighFreq:
        return conv::eqHighFreqFromNorm(v);
    case kEqLowGain:
    case kEqMidGain:
    case kEqHighGain:
        return 24.0 * x - 12.0;
    case kDeEsserFreq:
        return conv::deEsserFreqFromNorm(v);
    case kDoublerPresence:
        return levelDb(x);
    case kDelayTime:
        return delaySynced ? noteIndex(x) : 1000.0 * conv::delayTimeFromNorm(v);
    case kDelayLevel:
        return levelDb(x * x);
    case kDelayFeedback:
        return 100.0 * conv::delayFeedbackFromNorm(v);
    case kDelayFilterFreq:
        return kFilterBaseHz * std::pow(kFilterSpan, x);
    default:
        return 0.0;
    }
}

float normalisedFromNumber(int32_t index, double x, bool delaySynced) {
    double v = 0.0;
    if (isSwitch(index)) {
        v = x > 0.5 ? 1.0 : 0.0;
    } else {
        switch (index) {
        case kInputGain:
        case kOutputGain:
            v = (x + 24.0) / 48.0;
            break;
        case kInputTubeSaturation:
        case kEqTubeSaturation:
        case kOutputTubeSaturation:
        case kDeEsserDepth:
        case kDoublerStereo:
        case kDelayFilterMode:
            v = x / 100.0;
            break;
        case kCompressorThresh:
            v = (x + 60.0) / 60.0;
            break;
        case kExpanderThresh:
            v = (x + 90.0) / 70.0;
            break;
        case kCompressorRatio:
        case kExpanderRatio:
            v = logOrFloor(x) / kRatioExponentRange;
            break;
        case kCompanderAttack:
            v = (logOrFloor(x) + 1.0) / 3.0;
            break;
        case kEqLowFreq:
            v = (logOrFloor(x) - conv::kLog20) / conv::kLog50;
            break;
        case kEqMidFreq:
            v = (logOrFloor(x) - conv::kLog200) / conv::kLog20Short;
            break;
        case kEqHighFreq:
            v = logOrFloor(x) - conv::kLog2000;
            break;
        case kEqLowGain:
        case kEqMidGain:
        case kEqHighGain:
            v = (x + 12.0) / 24.0;
            break;
        case kDeEsserFreq:
            v = (x - 2000.0) / 10000.0;
            break;
        case kDoublerPresence:
            v = std::pow(10.0, x / 20.0);
            break;
        case kDelayTime:
            // A note index names the middle of its sixteenth of the range.
            v = delaySynced ? (std::floor(x) + 0.5) / kDelayNoteNames
                            : (logOrFloor(x / 1000.0) + conv::kLog20) / conv::kLog20;
            break;
        case kDelayLevel:
            v = std::pow(10.0, x / 40.0);
            break; // the level is v^2
        case kDelayFeedback:
            v = x / 90.0;
            break;
        case kDelayFilterFreq:
            v = logOrFloor(x / kFilterBaseHz) / std::log10(kFilterSpan);
            break;
        default:
            v = 0.0;
            break;
        }
    }
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
