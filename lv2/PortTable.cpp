#include "lv2/PortTable.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "core/ParameterDisplay.h"
#include "core/ParameterTable.h"

namespace pellucer::lv2 {

namespace {

// How far from the first guess the search for a port value that gives a normalised value back
// exactly may go, in float steps either way.
constexpr int kSearchSteps = 64;
// Value texts show one decimal.
constexpr double kShownSteps = 10.0;

bool reachesSilence(int32_t index) { return std::isinf(kParameters[static_cast<size_t>(index)].range.minimum); }

} // namespace

ControlPortInfo controlPort(int32_t index) {
    const ParamDescriptor& p = kParameters[static_cast<size_t>(index)];
    if (isSwitch(p.kind))
        return {PortKind::Toggle, 0.0f, 1.0f};
    if (p.kind == ParamKind::Code)
        return {PortKind::ModuleOrder, static_cast<float>(kFirstOrderCode), static_cast<float>(kLastOrderCode)};
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
    case PortKind::Toggle: return portValue > 0.5f ? 1.0f : 0.0f;
    case PortKind::ModuleOrder: return portValue;
    case PortKind::Continuous: break;
    }
    if (reachesSilence(index) && portValue <= port.minimum)
        return 0.0f;
    const double u = std::clamp(static_cast<double>(portValue), static_cast<double>(port.minimum),
                                static_cast<double>(port.maximum));
    return static_cast<float>(std::clamp(normalisedFromDisplayNumber(index, u, false), 0.0, 1.0));
}

float portFromNormalised(int32_t index, float v) {
    const ControlPortInfo port = controlPort(index);
    switch (port.kind) {
    case PortKind::Toggle: return switchOn(v) ? 1.0f : 0.0f;
    case PortKind::ModuleOrder: return v;
    case PortKind::Continuous: break;
    }
    const double shown = displayNumber(index, v, false);
    // The number as the value text shows it (one decimal), when it gives v back: the port then
    // reads as the plug-in's display does.
    const auto rounded = static_cast<float>(std::round(shown * kShownSteps) / kShownSteps);
    if (rounded >= port.minimum && rounded <= port.maximum && normalisedFromPort(index, rounded) == v)
        return rounded;
    const float first = std::clamp(std::isfinite(shown) ? static_cast<float>(shown) : port.minimum, port.minimum,
                                   port.maximum);
    // The float steps of the port and of the normalised value do not line up: look for a port
    // value near the first guess that comes back as v itself, else keep the closest.
    float best = first;
    float bestError = std::fabs(normalisedFromPort(index, first) - v);
    for (const float direction : {-HUGE_VALF, HUGE_VALF}) {
        float u = first;
        for (int step = 0; step < kSearchSteps && bestError > 0.0f; ++step) {
            u = std::nextafter(u, direction);
            if (u < port.minimum || u > port.maximum)
                break;
            const float error = std::fabs(normalisedFromPort(index, u) - v);
            if (error < bestError) {
                best = u;
                bestError = error;
            }
        }
    }
    return best;
}

} // namespace pellucer::lv2
