#pragma once

#include <array>
#include <cstdint>

#include "Shared/GUI/Geometry.h"

namespace pellucer::gui {

class Control;

/// Listener events of controls (with the control's identifier and value).
namespace event {
inline constexpr int32_t kValueChanged = 0;
inline constexpr int32_t kContextClick = 1;
inline constexpr int32_t kBeginEdit = 2048;
inline constexpr int32_t kEndEdit = 2304;
} // namespace event

/// Who hears what a control did: the frame, which records the event and calls the editor.
/// `framePosition` is the click position in frame coordinates for context clicks (the last
/// click position otherwise).
class ControlListener {
public:
    virtual ~ControlListener() = default;
    virtual void controlEvent(Control& control, int32_t eventCode, Point framePosition) = 0;
};

/// The curves a graph panel shows for one mode, computed by the effect on request. Frequency
/// curves are (Hz, dB) pairs; the compander's is (input dB, output dB).
struct GraphData {
    static constexpr int32_t kMaxCurves = 2;
    static constexpr int32_t kMaxPoints = 50;
    /// 0 de-esser (two curves: the band it listens to and what passes), 1 compander transfer,
    /// 2 EQ response, 3 doubler (no curve), 4 delay filter.
    int32_t mode = 0;
    int32_t curveCount = 0;
    std::array<int32_t, kMaxCurves> pointCounts{};
    std::array<std::array<double, 2 * kMaxPoints>, kMaxCurves> curves{};
    /// The compander's thresholds in dB (mode 1).
    double compressorThresholdDb = 0.0;
    double expanderThresholdDb = 0.0;
    /// False while the stage the curve belongs to is switched off (drawn dimmed).
    bool active = true;
};

/// What controls ask of the effect they show, without knowing which effect it is. The editor
/// implements it over the engine.
class ControlEngine {
public:
    virtual ~ControlEngine() = default;
    /// Meter reading `id` (level meters and tube glows), in [0, 1].
    virtual float meterReading(int32_t id) = 0;
    /// Gain-reduction reading `id` (45..47) as a linear ratio, 1 = no reduction.
    virtual float reductionReading(int32_t id) = 0;
    /// Clears reading `id`.
    virtual void resetReading(int32_t id) = 0;
    /// The module shown in each of the five slots of the order strip, as the index of its
    /// icon: 0 compander, 1 EQ, 2 de-esser, 3 doubler, 4 delay.
    virtual std::array<int32_t, 5> moduleOrder() = 0;
    /// Takes the module in `fromSlot` out and inserts it before the module that was at
    /// `toPosition` (0..5; 5 = at the end).
    virtual void moveModule(int32_t fromSlot, int32_t toPosition) = 0;
    /// The curves of graph mode `mode` (see GraphData).
    virtual void graphData(int32_t mode, GraphData& out) = 0;
};

/// The services of the frame that holds the controls. The Windows `ControlFrame` provides them
/// over its window; tests provide them without one.
class ControlHost {
public:
    virtual ~ControlHost() = default;
    /// True when the frame's window handle is a valid window (only then do controls invalidate).
    virtual bool hasWindow() const = 0;
    /// Asks for `r` (frame coordinates) to be repainted.
    virtual void invalidate(const Rect& r) = 0;
    /// All mouse input goes to `control` until `releaseMouse`.
    virtual void captureMouse(Control& control) = 0;
    virtual void releaseMouse(Control& control) = 0;
    /// A window timer for `control`: its `timerTick(id)` is called every `periodMs`. Answers the
    /// timer's id (non-zero), or 0 when no timer could be made.
    virtual int32_t startTimer(Control& control, int32_t periodMs) = 0;
    virtual void stopTimer(int32_t id) = 0;
    /// Joins the frame's shared 63 ms tick (timer 5678).
    virtual void registerTicks(Control& control) = 0;
    /// Hides or shows the mouse cursor.
    virtual void showCursor(bool show) = 0;
    /// Moves the mouse cursor by (dx, dy) pixels (the fader's drag beyond the screen edge).
    virtual void moveCursorBy(int32_t dx, int32_t dy) = 0;
    /// The effect behind the controls; null when there is none (then meters read 0).
    virtual ControlEngine* engine() = 0;
};

} // namespace pellucer::gui
