#include "GUI/StripControlEngine.h"

#include <algorithm>
#include <cmath>

#include "Shared/GUI/GraphPanel.h"
#include "core/ChannelStripEffect.h"
#include "core/Parameters.h"

namespace pellucer {

namespace {

/// The order strip's icons are kept compander, EQ, de-esser, doubler, delay; module numbers run
/// de-esser, compander, equaliser, doubler, delay.
constexpr std::array<int32_t, 5> kIconOfModule = {2, 0, 1, 3, 4};

bool on(ChannelStripEffect& effect, int32_t index) { return effect.getParameter(index) > 0.5f; }

float heldReduction(double ratio) {
    if (std::isnan(ratio))
        return StripControlEngine::kMinReduction;
    return static_cast<float>(std::clamp(ratio, static_cast<double>(StripControlEngine::kMinReduction),
                                         static_cast<double>(StripControlEngine::kMaxReduction)));
}

} // namespace

float StripControlEngine::meterReading(int32_t id) {
    if (id < kMeterInputTube || id > kMeterOutputRight)
        return 0.0f;
    return effect_.meterValue(id);
}

float StripControlEngine::reductionReading(int32_t id) {
    switch (id) {
    case kMeterCompressorGain:
    case kMeterExpanderGain: {
        const double gain = effect_.companderMeters(id);
        // A gain of 0 (or below) is as much reduction as the bar can show.
        return gain > 0.0 ? heldReduction(1.0 / gain) : kMaxReduction;
    }
    case kMeterCompanderOvershoot:
        return heldReduction(effect_.companderMeter(id));
    default:
        return kMinReduction;
    }
}

void StripControlEngine::resetReading(int32_t id) { effect_.resetMeter(id); }

int32_t StripControlEngine::iconForModule(int32_t module) {
    if (module < 0 || module >= static_cast<int32_t>(kIconOfModule.size()))
        return -1;
    return kIconOfModule[static_cast<size_t>(module)];
}

std::array<int32_t, 5> StripControlEngine::moduleOrder() {
    std::array<int32_t, 5> icons{};
    for (int32_t position = 0; position < 5; ++position)
        icons[static_cast<size_t>(position)] = iconForModule(effect_.moduleAt(position));
    return icons;
}

void StripControlEngine::moveModule(int32_t fromSlot, int32_t toPosition) {
    effect_.moveModule(fromSlot, toPosition);
}

void StripControlEngine::graphData(int32_t mode, gui::GraphData& out) {
    out = gui::GraphData{};
    out.mode = mode;
    const bool plugInOn = on(effect_, kPlugInEnable);
    constexpr int32_t kPoints = ChannelStripEffect::kCurvePoints;
    static_assert(kPoints <= gui::GraphData::kMaxPoints);

    // Each curve counts only when the engine filled it.
    auto take = [&](StripCurve which) {
        const auto curve = static_cast<size_t>(out.curveCount);
        out.pointCounts[curve] = effect_.curve(which, out.curves[curve].data()) ? kPoints : 0;
        ++out.curveCount;
    };
    switch (mode) {
    case gui::GraphPanel::kDeEsser:
        out.active = plugInOn && on(effect_, kDeEsserEnable);
        take(StripCurve::DeEsserHighBand);
        take(StripCurve::DeEsserLowBand);
        break;
    case gui::GraphPanel::kCompander:
        out.active = plugInOn && on(effect_, kCompanderEnable);
        take(StripCurve::CompanderTransfer);
        effect_.companderThresholds(out.compressorThresholdDb, out.expanderThresholdDb);
        break;
    case gui::GraphPanel::kEq:
        out.active = plugInOn && on(effect_, kEqEnable);
        take(StripCurve::Equaliser);
        break;
    case gui::GraphPanel::kDoubler:
        out.active = plugInOn && on(effect_, kDoublerEnable);
        break;
    case gui::GraphPanel::kDelay:
        out.active = plugInOn && on(effect_, kDelayEnable);
        take(StripCurve::DelayFilter);
        break;
    default:
        out.active = false;
        break;
    }
}

} // namespace pellucer
