#pragma once

#include <array>
#include <cstdint>

#include "Shared/GUI/ControlHost.h"

namespace pellucer {

class ChannelStripEffect;

/// What the editor's controls ask of the channel strip: meter readings, the compander's
/// reduction readings, the module order in icon terms, module moves and the graph curves.
/// Portable, so that the mapping is tested without a window.
///
/// Threads: the editor's window thread (the readings advance the engine's meter memories).
class StripControlEngine : public gui::ControlEngine {
public:
    /// The reduction bars show ratios from none (1) to 12 dB (4); readings are held to that.
    static constexpr float kMinReduction = 1.0f;
    static constexpr float kMaxReduction = 4.0f;

    explicit StripControlEngine(ChannelStripEffect& effect) : effect_(effect) {}

    /// The engine's meter read-out for ids 42..52 (level meters, tube glows, reduction meters);
    /// 0 for any other id.
    float meterReading(int32_t id) override;
    /// 45 and 46: the compressor's and expander's smoothed gain g as the ratio 1 / g (a gain of
    /// 1, or above, is 1: no reduction). 47: the compander's attack-overshoot indicator, which
    /// is already a ratio of how far the smoothed gain lags above its target. All held to 1..4;
    /// 1 for any other id.
    float reductionReading(int32_t id) override;
    /// Clears the engine's reading `id` (only 47 has one to clear).
    void resetReading(int32_t id) override;
    /// The icon index (0 compander, 1 EQ, 2 de-esser, 3 doubler, 4 delay) of the module at each
    /// of the five positions.
    std::array<int32_t, 5> moduleOrder() override;
    void moveModule(int32_t fromSlot, int32_t toPosition) override;
    /// 0 de-esser: the band it listens to (high-pass) and what passes (low-pass); 1 compander
    /// transfer curve with both thresholds; 2 EQ response; 3 doubler, no curve; 4 delay feedback
    /// filter. `active` is the stage's enable and the plug-in enable together.
    void graphData(int32_t mode, gui::GraphData& out) override;

    /// The order strip's icon index of module number `module` (0 de-esser .. 4 delay); -1 for
    /// anything else.
    static int32_t iconForModule(int32_t module);

private:
    ChannelStripEffect& effect_;
};

} // namespace pellucer
