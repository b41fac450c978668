#include "lv2/PortTable.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "core/ParameterDisplay.h"
#include "core/ParameterTable.h"

namespace pellucer::lv2 {

namespace {

// Value texts show one decimal.
constexpr double kShownSteps = 10.0;

bool reachesSilence(int32_t index) {
    return std::isinf(kParameters[static_cast<size_t>(index)].range.minimum);
}

} // namespace

ControlPortInfo controlPort(int32_t index) {
    const ParamDescriptor& p = kParameters[static_cast<size_t>(index)];
    if (isSwitch(p.kind))
        return {PortKind::Toggle, 0.0f, 1.0f};
    if (p.kind == ParamKind::Code)
        return {PortKind::ModuleOrder, static_cast<float>(kFirstOrderCode),
                static_cast<float>(kLastOrderCode)};
    const float minimum = reachesSilence(index) ? kLevelPortFloorDb : static_cast<float>(p.range.minimum);
    return {PortKind::Continuous, minimum, static_cast<float>(p.range.maximum)};
}

std::string portSymbol(int32_t index) {
    std::string symbol;
    for (const char* c = paramName(index); *c != '\0'; ++c) {
        const auto ch = static_cast<unsigned char>(*c);
        if (std::isalnum(ch))
            symbol += static_cast<char>(std::tolower(ch));
        else if (!symbol.empty() && symbol.back() != '_')
            symbol += '_';
    }
    return symbol;
}

float normalisedFromPort(int32_t index, float portValue) {
    if (std::isnan(portValue))
        return portValue;
    const ControlPortInfo port = controlPort(index);
    switch (port.kind) {
    case PortKind::Toggle:
        return portValue > 0.5f ? 1.0f : 0.0f;
    case PortKind::ModuleOrder:
        return portValue;
    case PortKind::Continuous:
        break;
    }
    // The ends exactly: the bottom of a level in dB is silence, the top of a ratio infinite, and
    // the float steps of a curve need not land on 0 or 1 there.
    if (portValue <= port.minimum)
        return 0.0f;
    if (portValue >= port.maximum)
        return 1.0f;
    return static_cast<float>(std::clamp(normalisedFromDisplayNumber(index, portValue, false), 0.0, 1.0));
}

float portFromNormalised(int32_t index, float v) {
    const ControlPortInfo port = controlPort(index);
    switch (port.kind) {
    case PortKind::Toggle:
        return switchOn(v) ? 1.0f : 0.0f;
    case PortKind::ModuleOrder:
        return v;
    case PortKind::Continuous:
        break;
    }
    const double shown = displayNumber(index, v, false);
    // The number as the value text shows it (one decimal) when it gives v back, so that the port
    // reads as the plug-in's display does; else the number itself.
    const auto rounded = static_cast<float>(std::round(shown * kShownSteps) / kShownSteps);
    if (rounded >= port.minimum && rounded <= port.maximum && normalisedFromPort(index, rounded) == v)
        return rounded;
    return std::clamp(std::isfinite(shown) ? static_cast<float>(shown) : port.minimum, port.minimum,
                      port.maximum);
}

} // namespace pellucer::lv2
