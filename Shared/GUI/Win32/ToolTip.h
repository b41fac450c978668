#pragma once

#include <cstdint>
#include <string>

#include "Shared/GUI/Geometry.h"
#include "Shared/GUI/Win32/WinApi.h"

namespace pellucer::gui {

/// One common-controls tooltip ("tooltips_class32") with a single tracking tool placed at
/// absolute screen positions: the frame's hover tip (plain) or a balloon with a title. The
/// tooltip window exists only while the tip is shown. A shown balloon hides itself after its
/// duration, or at the next mouse button press anywhere in the thread (a thread mouse hook,
/// installed only while it is shown). Thread: the owner window's.
class ToolTip {
public:
    /// The owner-window timer that ends a balloon.
    static constexpr uint32_t kBalloonTimer = 5997;
    static constexpr uint32_t kDefaultBalloonMs = 5000;
    /// Widest line before the tip wraps.
    static constexpr int32_t kMaxWidth = 32767;

    ToolTip(HWND owner, bool balloon);
    ~ToolTip();
    ToolTip(const ToolTip&) = delete;
    ToolTip& operator=(const ToolTip&) = delete;

    /// Shows the tip at its position with its text and title, or hides it.
    void show(bool visible);
    bool shown() const { return window_ != nullptr; }
    /// Places the tip at `point` + `offset` (screen coordinates).
    void setPosition(Point point, Point offset);
    void setText(const std::u16string& text);
    /// A title with the information icon; balloons only.
    void setTitle(const std::u16string& title);
    /// How long a balloon stays up.
    void setDuration(uint32_t milliseconds) { durationMs_ = milliseconds; }

    bool balloon() const { return balloon_; }
    const std::u16string& text() const { return text_; }
    const std::u16string& title() const { return title_; }
    Point position() const { return position_; }
    /// The tooltip window while shown.
    HWND handle() const { return window_; }
    /// True while this balloon's mouse hook is installed.
    bool hooked() const { return hook_ != nullptr; }

private:
    static LRESULT CALLBACK mouseHook(int code, WPARAM wParam, LPARAM lParam);
    static void CALLBACK balloonTimer(HWND window, UINT message, UINT_PTR id, DWORD time);
    TOOLINFOW toolInfo();
    void hide();

    HWND owner_;
    bool balloon_;
    HWND window_ = nullptr;
    HHOOK hook_ = nullptr;
    UINT_PTR timer_ = 0;
    uint32_t durationMs_ = kDefaultBalloonMs;
    std::u16string text_ = u"Text";
    std::u16string title_;
    Point position_{};
};

} // namespace pellucer::gui
