#include "core/ParameterDisplay.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "Shared/GUI/SkinTable.h"
#include "core/ParamInfoTable.h"
#include "core/Parameters.h"
#include "dsp/TempoDelay.h"

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

// Values that have always been rounded to single precision before they are written.
std::u16string single(double value) { return number(static_cast<float>(value)); }

std::u16string onOff(float v) { return text(v <= 0.5f ? "IDS_GENERIC_OFF" : "IDS_GENERIC_ON"); }

std::u16string levelDb(double linear) {
    return linear <= 0.0 ? text("IDS_DB_NEG_INF") : number(20.0 * std::log10(linear));
}

} // namespace

std::u16string parameterLabel(int32_t index, bool delaySynced) {
    switch (index) {
    case kInputGain: case kCompressorThresh: case kExpanderThresh: case kEqLowGain: case kEqMidGain:
    case kEqHighGain: case kDoublerPresence: case kDelayLevel: case kOutputGain:
        return text("IDS_TIP_DB");
    case kInputTubeSaturation: case kEqTubeSaturation: case kDeEsserDepth: case kDoublerStereo:
    case kDelayFeedback: case kDelayFilterMode: case kOutputTubeSaturation:
        return text("IDS_PERCENT");
    case kCompressorRatio:
        return text("IDS_TIP_TO_ONE");
    case kCompanderAttack:
        return text("IDS_TIP_MS");
    case kDelayTime:
        return delaySynced ? std::u16string() : text("IDS_TIP_MS");
    case kEqLowFreq: case kEqMidFreq: case kEqHighFreq: case kDeEsserFreq: case kDelayFilterFreq:
        return text("IDS_TIP_HZ");
    default:
        return {};
    }
}

std::u16string parameterDisplay(int32_t index, float v, bool delaySynced) {
    if (index < 0 || index >= kReserved)
        return {};
    switch (paramKind(index)) {
    case ParamKind::Switch: case ParamKind::InvertedSwitch:
        return onOff(v);
    default:
        break;
    }
    const double x = v;
    switch (index) {
    case kInputGain: case kOutputGain: return single(48.0 * x - 24.0);
    case kInputTubeSaturation: case kEqTubeSaturation: case kOutputTubeSaturation: return single(100.0 * x);
    case kCompressorThresh: return single(60.0 * x - 60.0);
    case kCompressorRatio: return v >= 1.0f ? text("IDS_DB_INFINITY") : single(std::pow(10.0, 1.5 * x));
    case kExpanderThresh: return single(70.0 * x - 90.0);
    case kExpanderRatio:
        return text("IDS_TIP_ONE_TO") + (v >= 1.0f ? text("IDS_DB_INFINITY") : single(std::pow(10.0, 1.5 * x)));
    case kCompanderAttack: return single(std::pow(10.0, 3.0 * x - 1.0));
    case kEqLowFreq: return number(conv::eqLowFreqFromNorm(v));
    case kEqMidFreq: return number(conv::eqMidFreqFromNorm(v));
    case kEqHighFreq: return number(conv::eqHighFreqFromNorm(v));
    case kEqLowGain: case kEqMidGain: case kEqHighGain: return number(24.0 * x - 12.0);
    case kDeEsserFreq: return number(10000.0 * x + 2000.0);
    case kDeEsserDepth: case kDoublerStereo: case kDelayFilterMode: return number(100.0 * x);
    case kDoublerPresence: return levelDb(x);
    case kDelayTime:
        return delaySynced ? text(delayNoteKey(noteIndex(x))) : number(1000.0 * conv::delayTimeFromNorm(v));
    case kDelayLevel: return levelDb(x * x);
    case kDelayFeedback: return number(100.0 * 0.9 * x);
    case kDelayFilterFreq: return number(10.0 * static_cast<float>(std::pow(2200.0, x)));
    default: return {};
    }
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

namespace {

/// A Compressor or Expander Ratio is 10^(1.5 v); 1.0 stands for infinity.
constexpr double kRatioExponentSpan = 1.5;
/// The delay feedback filter's frequency is 10 x 2200^v Hz.
constexpr double kFilterLowestHz = 10.0;
constexpr double kFilterSpan = 2200.0;

bool isSwitch(int32_t index) {
    const ParamKind kind = paramKind(index);
    return kind == ParamKind::Switch || kind == ParamKind::InvertedSwitch;
}

/// log10(x) of the logarithmic parameters' numbers, minus infinity at or below 0.
double logOrFloor(double x) { return x > 0.0 ? std::log10(x) : -HUGE_VAL; }

double levelDbNumber(double linear) { return linear > 0.0 ? 20.0 * std::log10(linear) : -HUGE_VAL; }

} // namespace

double displayNumber(int32_t index, float v, bool delaySynced) {
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
        return std::pow(10.0, kRatioExponentSpan * std::min(x, 1.0));
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
        return levelDbNumber(x);
    case kDelayTime:
        return delaySynced ? noteIndex(x) : 1000.0 * conv::delayTimeFromNorm(v);
    case kDelayLevel:
        return levelDbNumber(x * x);
    case kDelayFeedback:
        return 100.0 * conv::delayFeedbackFromNorm(v);
    case kDelayFilterFreq:
        return kFilterLowestHz * std::pow(kFilterSpan, x);
    default:
        return 0.0;
    }
}

double normalisedFromDisplayNumber(int32_t index, double x, bool delaySynced) {
    if (isSwitch(index))
        return x > 0.5 ? 1.0 : 0.0;
    switch (index) {
    case kInputGain:
    case kOutputGain:
        return (x + 24.0) / 48.0;
    case kInputTubeSaturation:
    case kEqTubeSaturation:
    case kOutputTubeSaturation:
    case kDeEsserDepth:
    case kDoublerStereo:
    case kDelayFilterMode:
        return x / 100.0;
    case kCompressorThresh:
        return (x + 60.0) / 60.0;
    case kExpanderThresh:
        return (x + 90.0) / 70.0;
    case kCompressorRatio:
    case kExpanderRatio:
        return logOrFloor(x) / kRatioExponentSpan;
    case kCompanderAttack:
        return (logOrFloor(x) + 1.0) / 3.0;
    case kEqLowFreq:
        return (logOrFloor(x) - conv::kLog20) / conv::kLog50;
    case kEqMidFreq:
        return (logOrFloor(x) - conv::kLog200) / conv::kLog20Short;
    case kEqHighFreq:
        return logOrFloor(x) - conv::kLog2000;
    case kEqLowGain:
    case kEqMidGain:
    case kEqHighGain:
        return (x + 12.0) / 24.0;
    case kDeEsserFreq:
        return (x - 2000.0) / 10000.0;
    case kDoublerPresence:
        return std::pow(10.0, x / 20.0);
    case kDelayTime:
        return delaySynced ? (std::floor(x) + 0.5) / kNoteValues
                           : (logOrFloor(x / 1000.0) + conv::kLog20) / conv::kLog20;
    case kDelayLevel:
        return std::pow(10.0, x / 40.0); // the level is v^2
    case kDelayFeedback:
        return x / 90.0;
    case kDelayFilterFreq:
        return logOrFloor(x / kFilterLowestHz) / std::log10(kFilterSpan);
    default:
        return 0.0;
    }
}

} // namespace pellucer
