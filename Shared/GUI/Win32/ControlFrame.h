#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Shared/GUI/Control.h"
#include "Shared/GUI/ControlHost.h"
#include "Shared/GUI/PixelBuffer.h"
#include "Shared/GUI/Win32/GdiDrawContext.h"
#include "Shared/GUI/Win32/NativeWindow.h"
#include "Shared/GUI/Win32/SkinBitmap.h"
#include "Shared/GUI/Win32/ToolTip.h"

namespace pellucer::gui {

/// What the frame last heard from one of its controls.
struct ControlEventRecord {
    Control* control = nullptr;
    double value = 0.0;
    int32_t id = 0;
    int32_t eventCode = 0;
    Point position{}; ///< frame coordinates (the click of a context click)
};

/// The window that holds the controls: it owns them, paints them double-buffered into a back
/// buffer the frame's size, routes mouse, wheel and key input to them, runs their timers, and
/// passes their events on to the callback it was made with (the editor). The back buffer starts
/// as the clear grey with the frame's background image over it; each control then draws only
/// its own rectangle when its picture changes. Thread: the window's.
class ControlFrame : public NativeWindow, public ControlHost, public ControlListener {
public:
    using Callback = std::function<void(const ControlEventRecord&)>;

    // The frame's own window timers.
    static constexpr uint32_t kHoverTimer = 5000;   ///< shows the tooltip after the pointer rests
    static constexpr uint32_t kHideTipTimer = 5001; ///< hides the tooltip
    static constexpr uint32_t kSettleTimer = 5003;  ///< once, a moment after the first paint
    static constexpr uint32_t kTipTextTimer = 5555; ///< pushes a changed tooltip text
    static constexpr uint32_t kTickTimer = 5678;    ///< the shared tick of registered controls
    static constexpr uint32_t kHoverMs = 700;
    static constexpr uint32_t kSettleMs = 250;
    static constexpr uint32_t kTipTextMs = 100;
    static constexpr uint32_t kTickMs = 63;
    /// Controls' timers are numbered from here, above every fixed id of the layer.
    static constexpr uint32_t kFirstControlTimer = 10000;
    /// What the back buffer is cleared to before the background goes on.
    static constexpr Colour kClearColour{127, 127, 127};
    /// Where the hover tooltip goes relative to the pointer.
    static constexpr Point kToolTipOffset{12, 20};

    /// A frame the size of `background`, reporting control events to `callback` (may be
    /// empty).
    ControlFrame(PixelBuffer background, Callback callback);
    ~ControlFrame() override;

    /// Creates the window: a child of `parent` (a popup when `parent` is null), the
    /// background's size, hidden until shown. The result of NativeWindow::create, or
    /// E_INVALIDARG for an empty background.
    int32_t open(HWND parent, const std::u16string& title, Point position = {});

    /// Adds a control: it gets the frame as host and listener and saves the background under
    /// its rectangle. Answers the control, which the frame owns.
    Control* addControl(std::unique_ptr<Control> control);
    template <typename T> T* add(std::unique_ptr<T> control) {
        T* raw = control.get();
        addControl(std::move(control));
        return raw;
    }
    /// The controls in creation order.
    const std::vector<std::unique_ptr<Control>>& controls() const { return controls_; }
    /// The first visible control that takes the mouse and contains `p` (frame coordinates).
    Control* controlAt(Point p) const;
    Control* focusedControl() const { return focused_; }
    Control* capturedControl() const { return captured_; }
    /// Makes `control` (null: none) the keyboard focus; ignored for a control that refuses
    /// focus.
    void setFocusedControl(Control* control);

    void setEngine(ControlEngine* engine) { engine_ = engine; }
    const ControlEventRecord& lastEvent() const { return lastEvent_; }
    const PixelBuffer& background() const { return background_; }

    /// The About image, drawn centred over the frame while shown.
    void setAboutImage(std::shared_ptr<const SkinBitmap> image) { aboutImage_ = std::move(image); }
    void showAbout();
    /// Hides the About image and repaints everything under it.
    void hideAbout();
    bool aboutShown() const { return aboutShown_; }

    void setHelpFile(std::u16string path) { helpFile_ = std::move(path); }
    const std::u16string& helpFile() const { return helpFile_; }

    /// Hover tooltips (they need an engine as well).
    void setToolTipsEnabled(bool enabled) { toolTipsEnabled_ = enabled; }
    const ToolTip* toolTip() const { return toolTip_.get(); }

    /// Clears the back buffer and redraws every control at the next paint.
    void redrawAll();
    /// The back buffer (null before open).
    const OffscreenContext* backBuffer() const { return backBuffer_.get(); }
    bool firstPaintDone() const { return firstPaintDone_; }
    bool cursorHidden() const { return cursorHidden_; }

    // -- ControlHost ------------------------------------------------------------------------------
    bool hasWindow() const override { return isWindow(); }
    void invalidate(const Rect& r) override;
    void captureMouse(Control& control) override;
    void releaseMouse(Control& control) override;
    int32_t startTimer(Control& control, int32_t periodMs) override;
    void stopTimer(int32_t id) override;
    void registerTicks(Control& control) override;
    void showCursor(bool show) override;
    void moveCursorBy(int32_t dx, int32_t dy) override;
    ControlEngine* engine() override { return engine_; }

    // -- ControlListener --------------------------------------------------------------------------
    void controlEvent(Control& control, int32_t eventCode, Point framePosition) override;

protected:
    /// The hover text for the control with id `controlId` (none here).
    virtual std::u16string toolTipText(int32_t controlId);
    /// Draws the About image centred over `context`.
    virtual void drawAbout(GdiDrawContext& context);

    /// Routes a release; answers whether any control took it.
    bool routeMouseUp(int32_t x, int32_t y, int32_t flags);

    void onMouseDown(int32_t x, int32_t y, int32_t flags) override;
    void onMouseUp(int32_t x, int32_t y, int32_t flags) override;
    void onMouseMove(int32_t x, int32_t y, int32_t flags) override;
    void onDoubleClick(int32_t x, int32_t y, int32_t flags) override;
    void onWheel(int32_t x, int32_t y, int32_t flags, int32_t delta) override;
    void onKeyDown(int32_t key) override;
    void onKeyUp(int32_t key) override;
    void onDestroyed() override;
    void onTimer(uint32_t id) override;
    void onPaint(GdiDrawContext& context, const Rect& update) override;

private:
    struct ControlTimer {
        Control* control = nullptr;
        uint32_t periodMs = 0;
    };

    /// Stores the tooltip text of `control` and has timer 5555 push it when it changed.
    void updateToolTipText(const Control* control);
    void hideToolTip();
    /// A press that the About image or a control takes; `pressed` is the control's handler.
    template <typename Press> void routePress(int32_t x, int32_t y, Press pressed);
    void destroyControls();

    PixelBuffer background_;
    Callback callback_;
    std::vector<std::unique_ptr<Control>> controls_;
    Control* captured_ = nullptr;
    Control* focused_ = nullptr;
    std::unique_ptr<OffscreenContext> backBuffer_;
    bool aboutShown_ = false;
    bool swallowRelease_ = false; ///< the press that closed About also owns its release
    bool firstPaintDone_ = false;
    bool backBufferValid_ = false;
    bool clearRequested_ = true;
    ControlEventRecord lastEvent_;
    std::unique_ptr<ToolTip> toolTip_;
    bool toolTipsEnabled_ = true;
    std::u16string toolTipText_;
    bool toolTipTextChanged_ = false;
    std::u16string helpFile_;
    std::shared_ptr<const SkinBitmap> aboutImage_;
    std::vector<Control*> ticking_;
    std::map<uint32_t, ControlTimer> controlTimers_;
    uint32_t nextTimerId_ = kFirstControlTimer;
    ControlEngine* engine_ = nullptr;
    bool cursorHidden_ = false;
};

} // namespace pellucer::gui
