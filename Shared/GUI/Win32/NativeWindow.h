#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Shared/GUI/Geometry.h"
#include "Shared/GUI/Win32/WinApi.h"

namespace pellucer::gui {

class GdiDrawContext;

/// One window and its own window class. The window procedure turns messages into calls of the
/// virtual handlers below (all empty here); mouse positions arrive as the message's two 16-bit
/// halves, buttons and modifiers as the flags of Geometry.h, keys as editor key codes.
/// Everything runs on the thread that created the window.
class NativeWindow {
public:
    /// The private message that reaches onPrivateMessage, and the joystick message (MM_JOY1MOVE)
    /// that reaches onJoystickMove.
    static constexpr UINT kPrivateMessage = 0x5BD1;
    static constexpr UINT kJoystickMessage = 0x3A0;
    /// Most characters of one dropped file's path.
    static constexpr size_t kMaxDroppedPath = 260;

    NativeWindow() = default;
    /// Destroys the window if it still exists and unregisters the class. A subclass that
    /// handles onDestroyed must destroy the window in its own destructor.
    virtual ~NativeWindow();
    NativeWindow(const NativeWindow&) = delete;
    NativeWindow& operator=(const NativeWindow&) = delete;

    /// Registers a class of this object's own (arrow cursor, double clicks) and creates the
    /// window with `style` and `title` under `parent`, its outer size chosen so that the client
    /// area is clientWidth x clientHeight. E_INVALIDARG for a size below 1, a child without a
    /// parent or a second call while the window exists; E_FAIL when registration or creation
    /// fails (lastErrorText() then says why); S_OK otherwise.
    int32_t create(HWND parent, DWORD style, DWORD extendedStyle, const std::u16string& title, Point position,
                   int32_t clientWidth, int32_t clientHeight);

    HWND handle() const { return window_; }
    /// True when the handle is a live window.
    bool isWindow() const { return window_ != nullptr && IsWindow(window_) != FALSE; }
    void destroyWindow();
    /// ShowWindow with `command` (SW_SHOW ...) and an immediate paint.
    void show(int command);
    bool isIconic() const;
    Rect windowRect() const;
    Rect clientRect() const;
    void setPositionAndSize(const Rect& r);
    void bringToForeground();
    void setKeyboardFocus();
    /// Lets the window receive files dropped on it (onFilesDropped).
    void acceptFiles(bool accept);
    void invalidateAll();
    void invalidate(const Rect& r);
    /// Paints the invalid part now.
    void redrawNow();
    void captureMouse();
    void releaseMouse();
    Point clientToScreen(Point p) const;
    Point screenToClient(Point p) const;
    bool setTimer(uint32_t id, uint32_t periodMs);
    void killTimer(uint32_t id);
    bool postMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void setMenu(HMENU menu);

    const std::u16string& className() const { return className_; }
    /// The system's text for the last registration or creation failure.
    const std::u16string& lastErrorText() const { return lastErrorText_; }

    /// The flags of a mouse message's key state (wParam's MK_ bits), with Alt and the left
    /// Windows key asked from the keyboard state, which the message does not carry.
    static int32_t mouseFlags(WPARAM keyState);

protected:
    // -- message handlers, in the order of the dispatch ------------------------------------------
    virtual void onMouseDown(int32_t x, int32_t y, int32_t flags);
    virtual void onMouseUp(int32_t x, int32_t y, int32_t flags);
    virtual void onMouseMove(int32_t x, int32_t y, int32_t flags);
    virtual void onDoubleClick(int32_t x, int32_t y, int32_t flags);
    /// x and y are screen coordinates (signed), as the wheel message gives them; delta is
    /// signed, 120 per notch.
    virtual void onWheel(int32_t x, int32_t y, int32_t flags, int32_t delta);
    virtual void onContext(int32_t x, int32_t y);
    /// A menu or control command; a non-zero answer lets the default processing run too.
    virtual int32_t onCommand(int32_t id);
    virtual void onKeyDown(int32_t key);
    virtual void onKeyUp(int32_t key);
    virtual void onFocusGained();
    virtual void onFocusLost();
    /// The last message of the window; the handle is cleared after it.
    virtual void onDestroyed();
    virtual void onSizing(int32_t edge, RECT& rect);
    virtual void onSize(int32_t type, int32_t width, int32_t height);
    virtual void onFilesDropped(Point at, const std::vector<std::u16string>& paths);
    virtual void onJoystickMove(WPARAM buttons, int32_t x, int32_t y);
    virtual void onTimer(uint32_t id);
    virtual void onPrivateMessage(WPARAM wParam, LPARAM lParam);
    virtual void onHelp();
    virtual void onActivated();
    virtual void onDeactivated();
    virtual void onPaint(GdiDrawContext& context, const Rect& update);

    /// The dispatch of one message (the table of the class comment); answers the message's
    /// result.
    virtual LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT defaultProcessing(UINT message, WPARAM wParam, LPARAM lParam);

private:
    static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void dropFiles(HANDLE drop);
    void recordLastError();

    HWND window_ = nullptr;
    HINSTANCE instance_ = nullptr;
    std::u16string className_;
    bool classRegistered_ = false;
    std::u16string lastErrorText_;
};

} // namespace pellucer::gui
