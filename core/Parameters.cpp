#include "core/Parameters.h"

#include <algorithm>
#include <cmath>

namespace pellucer {

namespace {

constexpr const char* kNames[kNumParams] = {
    "Plug-in Enable",    "Input Tube Enable",    "Input Gain",         "Input Tube Saturation",
    "Compander Enable",  "Compressor Thresh",    "Compressor Ratio",   "Expander Thresh",
    "Expander Ratio",    "Compander Attack",     "EQ Enable",          "EQ Tube Saturation",
    "EQ Tube Low Enable", "EQ Tube Mid Enable",  "EQ Tube High Enable", "EQ Low Freq",
    "EQ Low Gain",       "EQ Mid Freq",          "EQ Mid Gain",        "EQ High Freq",
    "EQ High Gain",      "DeEsser Enable",       "DeEsser Freq",       "DeEsser Depth",
    "DeEsser Listen",    "Doubler Enable",       "Doubler Presence",   "Doubler Stereo",
    "Delay Enable",      "Delay Sync Enable",    "Delay Time",         "Delay Level",
    "Delay Feedback",    "Delay Filter Mode",    "Delay Filter Freq",  "Output Tube Enable",
    "Output Gain",       "Output Tube Saturation", "Reserved",
};

// Gain range of the input and output gains.
constexpr double kGainSpanDb = 48.0;
constexpr double kGainMinDb = -24.0;
constexpr double kDriveMin = 0.25;
constexpr double kDriveSpan = 1.75;
constexpr double kRatioExponentSpan = 1.5;
constexpr double kFeedbackMax = 0.9;
constexpr double kMinAttackMs = 0.1;

double dbToGain(double db) { return std::pow(10.0, db / 20.0); }

// The exponent and the power rounded to single precision, as the ratio and attack settings
// have always been computed.
double singlePrecisionPow10(double exponent) {
    const float e = static_cast<float>(exponent);
    return static_cast<double>(static_cast<float>(std::pow(10.0, static_cast<double>(e))));
}

} // namespace

ParamKind paramKind(int32_t index) {
    switch (index) {
    case kPlugInEnable: case kCompanderEnable: case kEqEnable: case kEqTubeLowEnable:
    case kEqTubeMidEnable: case kEqTubeHighEnable: case kDeEsserEnable: case kDeEsserListen:
    case kDoublerEnable: case kDelayEnable: case kDelaySyncEnable:
        return ParamKind::Switch;
    case kInputTubeEnable: case kOutputTubeEnable:
        return ParamKind::InvertedSwitch;
    case kReserved:
        return ParamKind::Code;
    default:
        return ParamKind::Continuous;
    }
}

const char* paramName(int32_t index) { return index >= 0 && index < kNumParams ? kNames[index] : ""; }

const std::array<float, kNumParams> kFullResetValues = {
    1.0f,    // Plug-in Enable
    0.0f,    // Input Tube Enable
    0.5f,    // Input Gain: 0 dB
    0.0f,    // Input Tube Saturation: 0.25
    0.0f,    // Compander Enable
    0.8f,    // Compressor Thresh: -12 dB
    0.4014f, // Compressor Ratio: 4.0:1
    0.5f,    // Expander Thresh: -55 dB
    0.1174f, // Expander Ratio: 1.5
    0.0f,    // Compander Attack: 0.1 ms
    0.0f,    // EQ Enable
    0.0f,    // EQ Tube Saturation
    0.0f, 0.0f, 0.0f, // EQ Tube Low/Mid/High Enable
    0.5f, 0.5f,       // EQ Low Freq 141.4 Hz, 0 dB
    0.5f, 0.5f,       // EQ Mid Freq 894.4 Hz, 0 dB
    0.5f, 0.5f,       // EQ High Freq 6324.6 Hz, 0 dB
    0.0f,    // DeEsser Enable
    0.1f,    // DeEsser Freq: 3000 Hz
    0.4f,    // DeEsser Depth
    0.0f,    // DeEsser Listen
    0.0f,    // Doubler Enable
    0.4f,    // Doubler Presence
    1.0f,    // Doubler Stereo
    0.0f,    // Delay Enable
    0.0f,    // Delay Sync Enable
    0.7f,    // Delay Time: 407.1 ms
    0.4f,    // Delay Level: 0.16
    0.0f,    // Delay Feedback
    0.0f,    // Delay Filter Mode
    0.4f,    // Delay Filter Freq
    0.0f,    // Output Tube Enable
    0.5f,    // Output Gain: 0 dB
    0.0f,    // Output Tube Saturation
    12345.0f, // Reserved: default module order
};

namespace conv {

double gainFromNorm(float v) { return dbToGain(kGainSpanDb * v + kGainMinDb); }
float normFromGain(double gain) {
    return static_cast<float>((20.0 * std::log10(gain) - kGainMinDb) / kGainSpanDb);
}
double driveFromNorm(float v) { return kDriveSpan * v + kDriveMin; }
float normFromDrive(double drive) { return static_cast<float>((drive - kDriveMin) / kDriveSpan); }
double compressorThreshFromNorm(float v) { return 60.0 * v - 60.0; }
float normFromCompressorThresh(double db) { return static_cast<float>((db + 60.0) / 60.0); }
double expanderThreshFromNorm(float v) { return 70.0 * v - 90.0; }
float normFromExpanderThresh(double db) { return static_cast<float>((db + 90.0) / 70.0); }

double ratioFromNorm(float v, double infinity) {
    if (v >= 1.0f)
        return infinity;
    return singlePrecisionPow10(kRatioExponentSpan * v);
}
float normFromRatio(double ratio) {
    return static_cast<float>(std::clamp(std::log10(ratio), 0.0, kRatioExponentSpan) / kRatioExponentSpan);
}
double attackMsFromNorm(float v) { return singlePrecisionPow10(3.0 * v - 1.0); }
// The compander stores its shortest attack (0.1 ms) as 0, "instant"; it reads back as the bottom.
float normFromAttackMs(double ms) {
    return static_cast<float>((std::log10(std::max(ms, kMinAttackMs)) + 1.0) / 3.0);
}

double eqLowFreqFromNorm(float v) { return std::pow(10.0, kLog20 + kLog50 * v); }
float normFromEqLowFreq(double hz) { return static_cast<float>((std::log10(hz) - kLog20) / kLog50); }
double eqMidFreqFromNorm(float v) { return std::pow(10.0, kLog200 + kLog20Short * v); }
float normFromEqMidFreq(double hz) { return static_cast<float>((std::log10(hz) - kLog200) / kLog20Short); }
double eqHighFreqFromNorm(float v) { return std::pow(10.0, kLog2000 + v); }
float normFromEqHighFreq(double hz) { return static_cast<float>(std::log10(hz) - kLog2000); }
double eqGainFromNorm(float v) { return 24.0 * v - 12.0; }
float normFromEqGain(double db) { return static_cast<float>((db + 12.0) / 24.0); }
double deEsserFreqFromNorm(float v) { return 10000.0 * v + 2000.0; }
float normFromDeEsserFreq(double hz) { return static_cast<float>((hz - 2000.0) / 10000.0); }
double delayTimeFromNorm(float v) { return std::pow(10.0, kLog20 * v - kLog20); }
float normFromDelayTime(double seconds) { return static_cast<float>((std::log10(seconds) + kLog20) / kLog20); }
double delayLevelFromNorm(float v) { return static_cast<double>(v) * v; }
float normFromDelayLevel(double level) { return static_cast<float>(std::sqrt(level)); }
double delayFeedbackFromNorm(float v) { return kFeedbackMax * v; }
float normFromDelayFeedback(double feedback) { return static_cast<float>(feedback / kFeedbackMax); }

} // namespace conv

bool decodeOrderCode(double code, std::array<int32_t, 5>& order) {
    if (!(code >= kFirstOrderCode && code <= kLastOrderCode))
        return false;
    // Digit k (k = 4 for the first position) = trunc(v/10^k + 0.01) - 10 trunc(v/10^(k+1) + 0.01);
    // the 0.01 keeps values a hair below an integer (12344.9999) from losing a digit.
    std::array<int32_t, 5> decoded{};
    unsigned seen = 0;
    double scale = 10000.0;
    for (int position = 0; position < 5; ++position, scale /= 10.0) {
        const auto high = static_cast<int32_t>(std::trunc(code / (scale * 10.0) + 0.01));
        const auto digit = static_cast<int32_t>(std::trunc(code / scale + 0.01)) - 10 * high;
        if (digit < 1 || digit > 5 || (seen & (1u << digit)) != 0)
            return false;
        seen |= 1u << digit;
        decoded[position] = digit - 1;
    }
    order = decoded;
    return true;
}

double encodeOrderCode(const int32_t* order) {
    double code = 11111.0;
    double scale = 10000.0;
    for (int position = 0; position < 5; ++position, scale /= 10.0)
        code += order[position] * scale;
    return code;
}

} // namespace pellucer
