#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Shared/GUI/ControlHost.h"
#include "Shared/GUI/Geometry.h"
#include "Shared/GUI/PixelBuffer.h"

namespace pellucer::gui {

class DrawContext;

/// Base of every control of the editor surface. A control holds a normalised value in [0, 1],
/// draws itself from a skin strip composited over a saved copy of the background under it, and
/// reports user changes to its listener (event codes in ControlHost.h). Values from the effect
/// arrive through `setValue` and are never echoed back.
///
/// Mouse coordinates given to a control are relative to its rectangle; flags and key codes are
/// those of Geometry.h. Everything runs on the editor window's thread.
class Control {
public:
    static constexpr int32_t kLevels = 11;
    /// Text slots a control keeps (labels use slot 0; other slots are ignored).
    static constexpr int32_t kTextSlots = 4;

    Control(int32_t id, const Rect& rect, int32_t frames = 1);
    virtual ~Control();
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    // -- the operations of every control, in their order ----------------------------------------

    /// Draws the control when its frame changed since the last draw (or a redraw was forced);
    /// answers whether it drew.
    virtual bool draw(DrawContext& context);
    /// Allocates the pixel buffers and saves the background under the rectangle. `background`
    /// is the frame's whole background image (frame coordinates).
    virtual void prepare(const PixelBuffer& background);
    virtual void show();
    virtual void hide();
    void setVisible(bool visible) { visible ? show() : hide(); }
    /// A value from the effect; see each kind.
    virtual void setValue(float value);
    virtual void setDefault(float value);
    virtual void setListener(ControlListener* listener) { listener_ = listener; }
    virtual void setPosition(int32_t x, int32_t y);
    /// Opacity 0..1 (stored as trunc(opacity x 255)); redraws.
    virtual void setOpacity(float opacity);
    /// Level table entry `index` (< 11) as 0..1; ignored for other indices.
    virtual void setLevel(int32_t index, float level);
    virtual void setId(int32_t id);
    /// Text slot `slot` (labels).
    virtual void setText(int32_t slot, const std::u16string& text);
    virtual void setLevelIndex(int32_t index);
    /// Starts a gesture: editing, event 2048.
    virtual void beginEdit();
    /// Ends a gesture when one is running: event 2304.
    virtual void endEdit();
    virtual void setAuxiliaryFlag(bool flag) { auxiliaryFlag_ = flag; }
    /// Highlight frame colour; 0 (black) is none. Redraws.
    virtual void setHighlight(Colour colour);
    virtual bool acceptsFocus() const { return true; }
    virtual void mouseDown(int32_t x, int32_t y, int32_t flags);
    virtual void mouseUp(int32_t x, int32_t y, int32_t flags);
    virtual void mouseMove(int32_t x, int32_t y, int32_t flags);
    virtual void doubleClick(int32_t x, int32_t y, int32_t flags);
    virtual void wheel(int32_t x, int32_t y, int32_t flags, int32_t delta);
    /// Answers true when the key was used.
    virtual bool keyDown(int32_t key);
    virtual void keyUp(int32_t key);
    virtual void timerTick(int32_t timerId);
    virtual void focusOn();
    virtual void focusOff();

    // -- state ----------------------------------------------------------------------------------

    int32_t id() const { return id_; }
    const Rect& rect() const { return rect_; }
    double value() const { return value_; }
    double defaultValue() const { return default_; }
    int32_t frames() const { return frames_; }
    int32_t frameIndex() const { return frame_; }
    bool visible() const { return visible_; }
    bool takesMouse() const { return takesMouse_; }
    void setTakesMouse(bool takes) { takesMouse_ = takes; }
    bool tracking() const { return tracking_; }
    bool editing() const { return editing_; }
    bool contextClicksAllowed() const { return contextClicks_; }
    void setContextClicksAllowed(bool allowed) { contextClicks_ = allowed; }
    bool hasFocus() const { return focus_; }
    int32_t opacity() const { return opacity_; }
    Colour highlight() const { return highlight_; }
    const std::u16string& text(int32_t slot) const;

    /// The frame that holds the control (set when it is added to one).
    void setHost(ControlHost* host) { host_ = host; }
    ControlHost* host() const { return host_; }
    /// The control's strip (shared by controls of the same kind). May be empty: the control
    /// then stays undrawn but works.
    void setStrip(std::shared_ptr<const ImageStrip> strip);
    const ImageStrip* strip() const { return strip_.get(); }
    /// The background saved under the control, and the last composited picture.
    const PixelBuffer& background() const { return background_; }
    const PixelBuffer& work() const { return work_; }
    /// Makes the next `draw` redraw even when nothing changed (the frame calls it after it has
    /// cleared its back buffer).
    void markForRedraw() { forceRedraw(); }

protected:
    /// Sets the value clamped to [0, 1] (NaN counts as 0).
    void storeValue(double value);
    /// The frame index for the current value (each kind has its own rule).
    virtual int32_t frameForValue() const;
    /// Makes the next `draw` redraw.
    void forceRedraw() { lastDrawn_ = -1; }
    /// Asks the frame to repaint the control's rectangle (only when the frame has a window).
    void invalidate();
    /// Sets frame `frame`; invalidates when it changed. Answers whether it changed.
    bool setFrame(int32_t frame);
    /// Sends `eventCode` to the listener with the control's value.
    void notify(int32_t eventCode);
    /// Records a context click at (x, y) relative to the control and notifies event 1.
    void notifyContextClick(int32_t x, int32_t y);
    /// Composites the current frame into the work buffer and draws it (knob, switch, meter,
    /// fader).
    void drawStrip(DrawContext& context);
    /// The compositing weight 0..255: level table entry x opacity / 256, counting both factors
    /// from 1 so that a full level at full opacity gives 255 (the whole image).
    int32_t weight() const;
    /// A drag coordinate past 32768 is a negative one (the 16-bit halves of the message).
    static int32_t signedCoordinate(int32_t c) { return c > 32768 ? c - 65536 : c; }

    int32_t id_;
    Rect rect_;
    double value_ = 0.0;
    double default_ = 0.0;
    int32_t frames_;
    int32_t frame_ = 0;
    int32_t lastDrawn_ = -1;
    bool visible_ = true;
    bool takesMouse_ = true;
    bool tracking_ = false;
    bool editing_ = false;
    bool contextClicks_ = false;
    bool focus_ = false;
    bool auxiliaryFlag_ = false;
    int32_t opacity_ = 255;
    std::array<int32_t, kLevels> levels_;
    int32_t levelIndex_ = 0;
    Colour highlight_{};
    Point clickPosition_{};  ///< frame coordinates of the last click, for the listener
    ControlListener* listener_ = nullptr;
    ControlHost* host_ = nullptr;
    std::shared_ptr<const ImageStrip> strip_;
    PixelBuffer background_;
    PixelBuffer work_;
    std::vector<std::u16string> texts_;
};

} // namespace pellucer::gui
