#include "core/ParameterTable.h"

#include <algorithm>

namespace pellucer {

namespace {

double logOrFloor(double x) { return x > 0.0 ? std::log10(x) : -HUGE_VAL; }

// The exponent and the power rounded to single precision, as the ratio and attack settings
// have always been computed.
double singlePrecisionPow10(double exponent) {
    const float e = static_cast<float>(exponent);
    return static_cast<double>(static_cast<float>(std::pow(10.0, static_cast<double>(e))));
}

const ParamDescriptor& descriptor(int32_t index) { return kParameters[static_cast<size_t>(index)]; }

} // namespace

double Mapping::toUnit(double v) const {
    switch (curve) {
    case Curve::Linear:
        return a + b * v;
    case Curve::Decibels:
        return std::pow(10.0, (a + b * v) / 20.0);
    case Curve::Decade:
        return scale * std::pow(10.0, a + b * v);
    case Curve::RoundedDecade:
        return top != 0.0 && v >= 1.0 ? top : singlePrecisionPow10(a + b * v);
    case Curve::Square:
        return v * v;
    case Curve::LevelDb: {
        const double level = b == 2.0 ? v * v : v;
        return level > 0.0 ? 20.0 * std::log10(level) : -HUGE_VAL;
    }
    case Curve::Power:
        return a * std::pow(b, v);
    }
    return 0.0;
}

double Mapping::toUnitRounded(double v) const {
    if (curve == Curve::Power)
        return a * static_cast<float>(std::pow(b, v));
    return static_cast<float>(toUnit(v));
}

double Mapping::toNormalised(double u) const {
    switch (curve) {
    case Curve::Linear:
        return (u - a) / b;
    case Curve::Decibels:
        return (20.0 * std::log10(u) - a) / b;
    case Curve::Decade:
        return (logOrFloor(u / scale) - a) / b;
    case Curve::RoundedDecade:
        // Held to the range: the infinite ratio reads back as the top, "instant" (0 ms) as the bottom.
        return (std::clamp(logOrFloor(u), a, a + b) - a) / b;
    case Curve::Square:
        return std::sqrt(u);
    case Curve::LevelDb:
        return std::pow(10.0, u / (20.0 * b));
    case Curve::Power:
        return logOrFloor(u / a) / std::log10(b);
    }
    return 0.0;
}

double stageValue(int32_t index, float v) {
    const ParamDescriptor& p = descriptor(index);
    if (isSwitch(p.kind))
        return switchOn(v) != (p.kind == ParamKind::InvertedSwitch) ? 1.0 : 0.0;
    return p.stage.toUnit(v);
}

float normalisedFromStage(int32_t index, double u) {
    const ParamDescriptor& p = descriptor(index);
    if (isSwitch(p.kind))
        return (u != 0.0) != (p.kind == ParamKind::InvertedSwitch) ? 1.0f : 0.0f;
    return static_cast<float>(p.stage.toNormalised(u));
}

double normalisedFromNote(double note) { return (std::floor(note) + 0.5) / kNoteValues; }

ParamKind paramKind(int32_t index) {
    return index >= 0 && index < kNumParams ? descriptor(index).kind : ParamKind::Continuous;
}

const char* paramName(int32_t index) {
    return index >= 0 && index < kNumParams ? descriptor(index).name : "";
}

constinit const std::array<float, kNumParams> kFullResetValues = [] {
    std::array<float, kNumParams> values{};
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = kParameters[i].fullReset;
    return values;
}();

} // namespace pellucer
