#pragma once

#include <array>
#include <cmath>
#include <cstdint>

#include "core/Parameters.h"
#include "core/StripStages.h"

namespace pellucer {

// The parameter table: every automatable parameter described once. The engine sets and reads
// its stages through it, the display texts, the editor's readout and direct entry, the renderer's
// typed values, the DirectX parameter records and the factory programs all read it; nothing else
// knows a parameter's range or curve.

// ---- curves ------------------------------------------------------------------------------------

/// The forms of curve between a normalised value v (0..1) and a value u in some unit. Each is
/// evaluated operation for operation as the product always has, so that saved songs read back,
/// show and sound the same. In the inverses, the logarithm of u <= 0 is minus infinity.
enum class Curve : uint8_t {
    Linear,        ///< u = a + b v                               v = (u - a) / b
    Decibels,      ///< u = 10^((a + b v) / 20), a gain set in dB   v = (20 log10 u - a) / b
    Decade,        ///< u = scale 10^(a + b v)                     v = (log10(u / scale) - a) / b
    RoundedDecade, ///< u = 10^(a + b v), exponent and power rounded to single precision, and `top`
                   ///< (when not 0) at v >= 1                   v = (log10 u held to a..a+b, - a) / b
    Square,        ///< u = v^2                                    v = sqrt(u)
    LevelDb,       ///< u = 20 log10(v^b) dB, b = 1 or 2           v = 10^(u / 20b)
    Power,         ///< u = a b^v                                  v = log10(u / a) / log10(b)
};

/// One curve with its constants.
struct Mapping {
    Curve curve = Curve::Linear;
    double a = 0.0;
    double b = 1.0;
    double scale = 1.0; ///< Decade: factor on u (a time in seconds shown in milliseconds)
    double top = 0.0;   ///< RoundedDecade: u at v >= 1 when not 0, the stage's infinite ratio

    /// u at normalised value v.
    double toUnit(double v) const;
    /// u as a value text writes it when the parameter's text rounds to single precision: the
    /// value itself rounded, or for a Power curve the power before it is scaled.
    double toUnitRounded(double v) const;
    /// The normalised value of u, not held to 0..1.
    double toNormalised(double u) const;
};

/// The ends of a parameter's values in the unit it is shown in.
struct Range {
    double minimum;
    double maximum;
};

constexpr Mapping linear(Range r) { return {Curve::Linear, r.minimum, r.maximum - r.minimum}; }
constexpr Mapping decibels(Range db) { return {Curve::Decibels, db.minimum, db.maximum - db.minimum}; }
constexpr Mapping decade(double log10Lowest, double log10Span, double scale = 1.0) {
    return {Curve::Decade, log10Lowest, log10Span, scale};
}
constexpr Mapping roundedDecade(double log10Lowest, double log10Span, double top = 0.0) {
    return {Curve::RoundedDecade, log10Lowest, log10Span, 1.0, top};
}
constexpr Mapping levelDb(double exponent) { return {Curve::LevelDb, 0.0, exponent}; }
constexpr Mapping power(double lowest, double base) { return {Curve::Power, lowest, base}; }
constexpr Mapping kSquare{Curve::Square};
/// The stage takes the normalised value itself.
constexpr Mapping kIdentity = linear({0.0, 1.0});

// ---- what a parameter shows ----------------------------------------------------------------------

/// The unit a value is shown and typed in; each has its word in the text skin. A ratio "to one"
/// follows its number (":1"); "one to" stands before it ("1:").
enum class Unit : uint8_t { None, Db, Percent, ToOne, OneTo, Ms, Hz };

/// How a continuous parameter's value text is written: one decimal, minus infinity as its word.
enum class Text : uint8_t {
    Number,     ///< the shown value
    Single,     ///< the shown value rounded to single precision first (`Mapping::toUnitRounded`)
    Ratio,      ///< as Single, and the infinity word at v >= 1
    TimeOrNote, ///< the shown value, or the note value's name while the delay is synced
};

// ---- the stage setting --------------------------------------------------------------------------

/// The stage setting a parameter drives: how a value in the stage's unit reaches the stage, and
/// how it is read back. Switches pass 1 or 0. Null for the module order code, which the engine
/// links itself. Any thread, as the stages' own setters and getters.
struct Setting {
    void (*set)(StripStages&, double) = nullptr;
    double (*get)(const StripStages&) = nullptr;
};

/// A stage setter and getter in the stage's unit.
template <auto stage, auto setter, auto getter>
inline constexpr Setting drives{[](StripStages& s, double u) { ((s.*stage).*setter)(u); },
                                [](const StripStages& s) -> double { return ((s.*stage).*getter)(); }};
/// A stage's own on/off flag.
template <auto stage, auto setter, auto getter>
inline constexpr Setting flag{[](StripStages& s, double u) { ((s.*stage).*setter)(u != 0.0); },
                              [](const StripStages& s) { return ((s.*stage).*getter)() ? 1.0 : 0.0; }};
/// A stage's place in the chain, in or out.
template <auto stage>
inline constexpr Setting enables{[](StripStages& s, double u) { (s.*stage).enabled.store(u != 0.0); },
                                 [](const StripStages& s) { return (s.*stage).enabled.load() ? 1.0 : 0.0; }};
inline constexpr Setting kPlugInSwitch{
    [](StripStages& s, double u) { s.plugInEnabled.store(u != 0.0); },
    [](const StripStages& s) { return s.plugInEnabled.load() ? 1.0 : 0.0; }};

// ---- the descriptor -------------------------------------------------------------------------------

struct ParamDescriptor {
    const char* name; ///< as hosts show it
    ParamKind kind;
    float fullReset; ///< the value in program 0, "Full Reset"
    Range range{};   ///< what a typed value may be, in `unit`
    Mapping shown{}; ///< v <-> the number the value text shows, in `unit`
    Mapping stage{}; ///< v <-> the stage setting's own unit
    Unit unit = Unit::None;
    Text text = Text::Number;
    Setting setting{};
    EditorPage page = EditorPage::None;
    const char* tip = nullptr; ///< text skin key of the editor's name label
};

namespace table {

using S = StripStages;

// Ranges and curves shared by several parameters. The logarithm constants are the literal ones
// the product has always used (log10 of 20, 50, 200, 20 and 2000 to eight or nine places), not
// exact logarithms: values must round-trip the same way in every host and every saved song.
constexpr double kLog20 = 1.30102999;
constexpr double kLog50 = 1.69897001;
constexpr double kLog200 = 2.30102999;
constexpr double kLog20Short = 1.30103;
constexpr double kLog2000 = 3.30102999;

constexpr Range kGainDb{-24.0, 24.0};
constexpr Range kPercent{0.0, 100.0};
constexpr Range kDrive{0.25, 2.0}; ///< tube saturation, shown as per cent of the control
constexpr Range kEqGainDb{-12.0, 12.0};
constexpr double kRatioExponentSpan = 1.5;
constexpr double kLargestRatio = 31.622776601683793; ///< 10^1.5
constexpr Range kRatio{1.0, kLargestRatio};
constexpr Mapping kRatioShown = decade(0.0, kRatioExponentSpan);
constexpr double kCompressorRatioInfinity = 200.0;
constexpr double kExpanderRatioInfinity = 1000.0;
constexpr double kMsPerSecond = 1000.0;
constexpr Range kLevelDb{-HUGE_VAL, 0.0};
constexpr double kFeedbackTop = 0.9; ///< the loop gain at the top of Delay Feedback
constexpr Range kFeedbackPercent{0.0, 100.0 * kFeedbackTop};
constexpr Mapping kDelayTimeSeconds = decade(-kLog20, kLog20);
constexpr Mapping kFilterCornerHz = power(TempoDelay::kFilterLowestHz, TempoDelay::kFilterSpan);

constexpr EditorPage kNoPage = EditorPage::None;

constexpr ParamDescriptor onOff(const char* name, ParamKind kind, float fullReset, Setting setting,
                                EditorPage page, const char* tip) {
    return {name, kind, fullReset, {}, {}, {}, Unit::None, Text::Number, setting, page, tip};
}

constexpr ParamDescriptor continuous(const char* name, float fullReset, Range range, Mapping shown,
                                     Mapping stage, Unit unit, Text text, Setting setting, EditorPage page,
                                     const char* tip) {
    return {name, ParamKind::Continuous, fullReset, range, shown, stage, unit, text, setting, page, tip};
}

constexpr ParamDescriptor gain(const char* name, Setting setting, const char* tip) {
    return continuous(name, 0.5f, kGainDb, linear(kGainDb), decibels(kGainDb), Unit::Db, Text::Single,
                      setting, kNoPage, tip);
}

constexpr ParamDescriptor saturation(const char* name, Setting setting, EditorPage page, const char* tip) {
    return continuous(name, 0.0f, kPercent, linear(kPercent), linear(kDrive), Unit::Percent, Text::Single,
                      setting, page, tip);
}

/// A parameter whose stage takes the value in the unit it is shown in.
constexpr ParamDescriptor inUnit(const char* name, float fullReset, Range range, Mapping curve, Unit unit,
                                 Text text, Setting setting, EditorPage page, const char* tip) {
    return continuous(name, fullReset, range, curve, curve, unit, text, setting, page, tip);
}

constexpr ParamDescriptor inUnit(const char* name, float fullReset, Range range, Unit unit, Text text,
                                 Setting setting, EditorPage page, const char* tip) {
    return inUnit(name, fullReset, range, linear(range), unit, text, setting, page, tip);
}

/// A parameter whose stage takes the normalised value itself, shown as `shown`.
constexpr ParamDescriptor direct(const char* name, float fullReset, Range range, Mapping shown, Unit unit,
                                 Setting setting, EditorPage page, const char* tip) {
    return continuous(name, fullReset, range, shown, kIdentity, unit, Text::Number, setting, page, tip);
}

constexpr ParamDescriptor ratio(const char* name, float fullReset, double infinity, Unit unit,
                                Setting setting, const char* tip) {
    return continuous(name, fullReset, kRatio, kRatioShown, roundedDecade(0.0, kRatioExponentSpan, infinity),
                      unit, Text::Ratio, setting, EditorPage::Compander, tip);
}

constexpr ParamDescriptor eqFrequency(const char* name, Range hz, Mapping curve, Setting setting,
                                      const char* tip) {
    return inUnit(name, 0.5f, hz, curve, Unit::Hz, Text::Number, setting, EditorPage::Equaliser, tip);
}

constexpr ParamDescriptor eqGain(const char* name, Setting setting, const char* tip) {
    return inUnit(name, 0.5f, kEqGainDb, Unit::Db, Text::Number, setting, EditorPage::Equaliser, tip);
}

constexpr ParamKind kSwitch = ParamKind::Switch;
constexpr EditorPage kCompanderPage = EditorPage::Compander;
constexpr EditorPage kEqPage = EditorPage::Equaliser;
constexpr EditorPage kDeEsserPage = EditorPage::DeEsser;
constexpr EditorPage kDoublerPage = EditorPage::Doubler;
constexpr EditorPage kDelayPage = EditorPage::Delay;

// clang-format off
constexpr std::array<ParamDescriptor, kNumParams> kParameters = {{
    onOff("Plug-in Enable", kSwitch, 1.0f, kPlugInSwitch, kNoPage, "IDS_TIP_ENABLE"),
    // "On" puts the tube in circuit: the stage's own flag says the opposite.
    onOff("Input Tube Enable", ParamKind::InvertedSwitch, 0.0f,
          flag<&S::inputTube, &TubeStage::setShapingOff, &TubeStage::shapingOff>, kNoPage, "IDS_TIP_IN_TUBE"),
    gain("Input Gain", drives<&S::inputTube, &TubeStage::setInputGain, &TubeStage::inputGain>, "IDS_TIP_IN_GAIN"),
    saturation("Input Tube Saturation", drives<&S::inputTube, &TubeStage::setDrive, &TubeStage::drive>, kNoPage,
               "IDS_TIP_IN_TUBE_SAT"),

    onOff("Compander Enable", kSwitch, 0.0f, enables<&S::compander>, kCompanderPage, "IDS_TIP_COMP_ENABLE"),
    inUnit("Compressor Thresh", 0.8f, {-60.0, 0.0}, Unit::Db, Text::Single,
           drives<&S::compander, &Compander::setCompressorThreshold, &Compander::compressorThresholdDb>,
           kCompanderPage, "IDS_TIP_COMP_THRESHOLD"),
    ratio("Compressor Ratio", 0.4014f, kCompressorRatioInfinity, Unit::ToOne,
          drives<&S::compander, &Compander::setCompressorRatio, &Compander::compressorRatio>, "IDS_TIP_COMP_RATIO"),
    inUnit("Expander Thresh", 0.5f, {-90.0, -20.0}, Unit::Db, Text::Single,
           drives<&S::compander, &Compander::setExpanderThreshold, &Compander::expanderThresholdDb>,
           kCompanderPage, "IDS_TIP_EXP_THRESHOLD"),
    ratio("Expander Ratio", 0.1174f, kExpanderRatioInfinity, Unit::OneTo,
          drives<&S::compander, &Compander::setExpanderRatio, &Compander::expanderRatio>, "IDS_TIP_EXP_RATIO"),
    // Shown as the double power; the stage gets it rounded (0.1 ms, the bottom, is "instant").
    {.name = "Compander Attack", .kind = ParamKind::Continuous, .fullReset = 0.0f, .range = {0.1, 100.0},
     .shown = decade(-1.0, 3.0), .stage = roundedDecade(-1.0, 3.0), .unit = Unit::Ms, .text = Text::Single,
     .setting = drives<&S::compander, &Compander::setAttack, &Compander::attackMs>, .page = kCompanderPage,
     .tip = "IDS_TIP_COMP_ATTACK"},

    onOff("EQ Enable", kSwitch, 0.0f, enables<&S::equaliser>, kEqPage, "IDS_TIP_EQ_ENABLE"),
    saturation("EQ Tube Saturation", drives<&S::equaliser, &ThreeBandEq::setTubeDrive, &ThreeBandEq::tubeDrive>,
               kEqPage, "IDS_TIP_EQ_TUBE_SAT"),
    onOff("EQ Tube Low Enable", kSwitch, 0.0f, flag<&S::equaliser, &ThreeBandEq::setTubeLow, &ThreeBandEq::tubeLow>,
          kEqPage, "IDS_TIP_TUBE_LOW_ENABLE"),
    onOff("EQ Tube Mid Enable", kSwitch, 0.0f, flag<&S::equaliser, &ThreeBandEq::setTubeMid, &ThreeBandEq::tubeMid>,
          kEqPage, "IDS_TIP_TUBE_MID_ENABLE"),
    onOff("EQ Tube High Enable", kSwitch, 0.0f,
          flag<&S::equaliser, &ThreeBandEq::setTubeHigh, &ThreeBandEq::tubeHigh>, kEqPage, "IDS_TIP_TUBE_HIGH_ENABLE"),
    eqFrequency("EQ Low Freq", {20.0, 1000.0}, decade(kLog20, kLog50),
                drives<&S::equaliser, &ThreeBandEq::setLowFrequency, &ThreeBandEq::lowFrequency>,
                "IDS_TIP_EQ_LOW_FREQ"),
    eqGain("EQ Low Gain", drives<&S::equaliser, &ThreeBandEq::setLowGain, &ThreeBandEq::lowGainDb>,
           "IDS_TIP_EQ_LOW_GAIN"),
    eqFrequency("EQ Mid Freq", {200.0, 4000.0}, decade(kLog200, kLog20Short),
                drives<&S::equaliser, &ThreeBandEq::setMidFrequency, &ThreeBandEq::midFrequency>,
                "IDS_TIP_EQ_MID_FREQ"),
    eqGain("EQ Mid Gain", drives<&S::equaliser, &ThreeBandEq::setMidGain, &ThreeBandEq::midGainDb>,
           "IDS_TIP_EQ_MID_GAIN"),
    eqFrequency("EQ High Freq", {2000.0, 20000.0}, decade(kLog2000, 1.0),
                drives<&S::equaliser, &ThreeBandEq::setHighFrequency, &ThreeBandEq::highFrequency>,
                "IDS_TIP_EQ_HIGH_FREQ"),
    eqGain("EQ High Gain", drives<&S::equaliser, &ThreeBandEq::setHighGain, &ThreeBandEq::highGainDb>,
           "IDS_TIP_EQ_HIGH_GAIN"),

    onOff("DeEsser Enable", kSwitch, 0.0f, enables<&S::deEsser>, kDeEsserPage, "IDS_TIP_DSR_ENABLE"),
    inUnit("DeEsser Freq", 0.1f, {2000.0, 12000.0}, Unit::Hz, Text::Number,
           drives<&S::deEsser, &DeEsser::setSplitFrequency, &DeEsser::splitFrequency>, kDeEsserPage,
           "IDS_TIP_DSR_FREQ"),
    direct("DeEsser Depth", 0.4f, kPercent, linear(kPercent), Unit::Percent,
           drives<&S::deEsser, &DeEsser::setDepth, &DeEsser::depth>, kDeEsserPage, "IDS_TIP_DSR_AMOUNT"),
    onOff("DeEsser Listen", kSwitch, 0.0f, flag<&S::deEsser, &DeEsser::setListen, &DeEsser::listen>, kDeEsserPage,
          "IDS_TIP_DSR_LISTEN"),

    onOff("Doubler Enable", kSwitch, 0.0f, enables<&S::doubler>, kDoublerPage, "IDS_TIP_DOUBLER_ENABLE"),
    direct("Doubler Presence", 0.4f, kLevelDb, levelDb(1.0), Unit::Db,
           drives<&S::doubler, &Doubler::setPresence, &Doubler::presence>, kDoublerPage, "IDS_TIP_DOUBLER_DEPTH"),
    direct("Doubler Stereo", 1.0f, kPercent, linear(kPercent), Unit::Percent,
           drives<&S::doubler, &Doubler::setStereo, &Doubler::stereo>, kDoublerPage, "IDS_TIP_DOUBLER_STEREO"),

    onOff("Delay Enable", kSwitch, 0.0f, enables<&S::delay>, kDelayPage, "IDS_TIP_DELAY_ENABLE"),
    // The engine re-applies Delay Time when the switch changes.
    onOff("Delay Sync Enable", kSwitch, 0.0f, flag<&S::delay, &TempoDelay::setSync, &TempoDelay::sync>, kDelayPage,
          "IDS_TIP_DELAY_SYNC"),
    // Free time 50..1000 ms; while synced, a note value (the engine's business).
    {.name = "Delay Time", .kind = ParamKind::Continuous, .fullReset = 0.7f, .range = {50.0, 1000.0},
     .shown = decade(kDelayTimeSeconds.a, kDelayTimeSeconds.b, kMsPerSecond), .stage = kDelayTimeSeconds,
     .unit = Unit::Ms, .text = Text::TimeOrNote,
     .setting = drives<&S::delay, &TempoDelay::setTime, &TempoDelay::timeSeconds>, .page = kDelayPage,
     .tip = "IDS_TIP_DELAY_TIME"},
    {.name = "Delay Level", .kind = ParamKind::Continuous, .fullReset = 0.4f, .range = kLevelDb,
     .shown = levelDb(2.0), .stage = kSquare, .unit = Unit::Db,
     .setting = drives<&S::delay, &TempoDelay::setLevel, &TempoDelay::level>, .page = kDelayPage,
     .tip = "IDS_TIP_DELAY_LEVEL"},
    {.name = "Delay Feedback", .kind = ParamKind::Continuous, .fullReset = 0.0f, .range = kFeedbackPercent,
     .shown = linear(kFeedbackPercent), .stage = linear({0.0, kFeedbackTop}), .unit = Unit::Percent,
     .setting = drives<&S::delay, &TempoDelay::setFeedback, &TempoDelay::feedback>, .page = kDelayPage,
     .tip = "IDS_TIP_DELAY_FEEDBACK"},
    direct("Delay Filter Mode", 0.0f, kPercent, linear(kPercent), Unit::Percent,
           drives<&S::delay, &TempoDelay::setFilterMode, &TempoDelay::filterMode>, kDelayPage,
           "IDS_TIP_DELAY_FILT_MODE"),
    // The stage turns the control into its corner itself.
    {.name = "Delay Filter Freq", .kind = ParamKind::Continuous, .fullReset = 0.4f,
     .range = {kFilterCornerHz.a, kFilterCornerHz.a * kFilterCornerHz.b}, .shown = kFilterCornerHz,
     .stage = kIdentity, .unit = Unit::Hz, .text = Text::Single,
     .setting = drives<&S::delay, &TempoDelay::setFilterCornerControl, &TempoDelay::filterCornerControl>,
     .page = kDelayPage, .tip = "IDS_TIP_DELAY_FILTER"},

    onOff("Output Tube Enable", ParamKind::InvertedSwitch, 0.0f,
          flag<&S::outputTube, &TubeStage::setShapingOff, &TubeStage::shapingOff>, kNoPage, "IDS_TIP_OUT_TUBE"),
    gain("Output Gain", drives<&S::outputTube, &TubeStage::setOutputGain, &TubeStage::outputGain>,
         "IDS_TIP_OUT_GAIN"),
    saturation("Output Tube Saturation", drives<&S::outputTube, &TubeStage::setDrive, &TubeStage::drive>, kNoPage,
               "IDS_TIP_OUT_TUBE_SAT"),

    // The module order code: 12345 is the default order.
    {.name = "Reserved", .kind = ParamKind::Code, .fullReset = 12345.0f},
}};
// clang-format on

} // namespace table

/// The table, in host order.
using table::kParameters;

/// The value parameter `index` (0..37) gives its stage at normalised value `v`: 1 or 0 for a
/// switch (an inverted one inverted), else the value in the stage's unit.
double stageValue(int32_t index, float v);
/// The normalised value parameter `index` (0..37) reads back from its stage value `u`.
float normalisedFromStage(int32_t index, double u);
/// The normalised value of a synced Delay Time that selects note `note` (0..15): the middle of
/// the note's sixteenth of the range.
double normalisedFromNote(double note);

} // namespace pellucer
