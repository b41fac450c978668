#pragma once

#include <array>
#include <cstdint>

namespace pellucer {

/// Parameter indices in host order. Every shell, the chunk and the editor use this order.
enum ParamIndex : int32_t {
    kPlugInEnable = 0,
    kInputTubeEnable,
    kInputGain,
    kInputTubeSaturation,
    kCompanderEnable,
    kCompressorThresh,
    kCompressorRatio,
    kExpanderThresh,
    kExpanderRatio,
    kCompanderAttack,
    kEqEnable,
    kEqTubeSaturation,
    kEqTubeLowEnable,
    kEqTubeMidEnable,
    kEqTubeHighEnable,
    kEqLowFreq,
    kEqLowGain,
    kEqMidFreq,
    kEqMidGain,
    kEqHighFreq,
    kEqHighGain,
    kDeEsserEnable,
    kDeEsserFreq,
    kDeEsserDepth,
    kDeEsserListen,
    kDoublerEnable,
    kDoublerPresence,
    kDoublerStereo,
    kDelayEnable,
    kDelaySyncEnable,
    kDelayTime,
    kDelayLevel,
    kDelayFeedback,
    kDelayFilterMode,
    kDelayFilterFreq,
    kOutputTubeEnable,
    kOutputGain,
    kOutputTubeSaturation,
    kReserved, ///< carries the module order code, not a normalised value
    kNumParams
};

/// Indices past the host-visible ones that the engine still accepts (editor use only).
constexpr int32_t kFirstEditorIndex = 39;
constexpr int32_t kPageSlotIndex = 61;     ///< page slot as value * 0.25
constexpr int32_t kFirstPageSelect = 62;   ///< 62..66 select pages 1, 2, 0, 3, 4
constexpr int32_t kLastEngineIndex = 66;
/// Index code of a refresh request from the editor: the value names the parameter to refresh.
constexpr int32_t kRefreshRequest = 2048;

enum class ParamKind { Switch, InvertedSwitch, Continuous, Code };

ParamKind paramKind(int32_t index);
/// The parameter's host-visible name ("Input Gain"), or "" outside 0..38.
const char* paramName(int32_t index);

/// Normalised values of program 0, "Full Reset" (parameter 38 holds the code 12345).
extern const std::array<float, kNumParams> kFullResetValues;

// ---- conversions between normalised values and stage settings ---------------------------------
// The logarithm constants are the literal ones the product has always used (log10 of 20, 50,
// 200, 20 and 2000 to eight or nine places), not exact logarithms: values must round-trip the
// same way in every host and every saved song.
namespace conv {

constexpr double kLog20 = 1.30102999;
constexpr double kLog50 = 1.69897001;
constexpr double kLog200 = 2.30102999;
constexpr double kLog20Short = 1.30103;
constexpr double kLog2000 = 3.30102999;

constexpr double kCompressorRatioInfinity = 200.0;
constexpr double kExpanderRatioInfinity = 1000.0;

inline bool switchOn(float v) { return v > 0.5f; }

double gainFromNorm(float v);        ///< -24..+24 dB as a linear factor
float normFromGain(double gain);
double driveFromNorm(float v);       ///< tube saturation 0.25..2.0
float normFromDrive(double drive);
double compressorThreshFromNorm(float v); ///< -60..0 dB
float normFromCompressorThresh(double db);
double expanderThreshFromNorm(float v);   ///< -90..-20 dB
float normFromExpanderThresh(double db);
/// 10^(1.5 v) with the exponent and the power rounded to single precision; `infinity` at v >= 1.
double ratioFromNorm(float v, double infinity);
float normFromRatio(double ratio);
double attackMsFromNorm(float v);    ///< 0.1..100 ms, single-precision rounding as for the ratios
float normFromAttackMs(double ms);
double eqLowFreqFromNorm(float v);   ///< 20..1000 Hz
float normFromEqLowFreq(double hz);
double eqMidFreqFromNorm(float v);   ///< 200..4000 Hz
float normFromEqMidFreq(double hz);
double eqHighFreqFromNorm(float v);  ///< 2000..20000 Hz
float normFromEqHighFreq(double hz);
double eqGainFromNorm(float v);      ///< -12..+12 dB
float normFromEqGain(double db);
double deEsserFreqFromNorm(float v); ///< 2000..12000 Hz
float normFromDeEsserFreq(double hz);
double delayTimeFromNorm(float v);   ///< free time, 0.05..1.0 s
float normFromDelayTime(double seconds);
double delayLevelFromNorm(float v);  ///< v^2
float normFromDelayLevel(double level);
double delayFeedbackFromNorm(float v); ///< 0..0.9
float normFromDelayFeedback(double feedback);

} // namespace conv

// ---- module order code ------------------------------------------------------------------------
/// The five movable stages by module number.
enum ModuleNumber : int32_t { kModuleDeEsser = 0, kModuleCompander, kModuleEqualiser, kModuleDoubler, kModuleDelay,
                              kModuleOutput };

constexpr double kFirstOrderCode = 12345.0;
constexpr double kLastOrderCode = 54321.0;

/// Decodes a module order code into the module numbers at positions 0..4. Answers false, and
/// leaves `order` alone, for values outside 12345..54321 (NaN included) and for codes whose
/// digits are not a permutation of 1..5.
bool decodeOrderCode(double code, std::array<int32_t, 5>& order);
/// 11111 + sum of order[i] * 10^(4 - i).
double encodeOrderCode(const int32_t* order);

} // namespace pellucer
