#include "Shared/GUI/Win32/ToolTip.h"

namespace pellucer::gui {

namespace {

constexpr UINT_PTR kToolId = 1;

/// The balloon shown on this thread (one at a time), for the hook and the timer.
thread_local ToolTip* shownBalloon = nullptr;

void initCommonControls() {
    static const bool done = [] {
        INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
        return InitCommonControlsEx(&controls) != FALSE;
    }();
    (void)done;
}

bool isButtonPress(WPARAM message) {
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_NCLBUTTONDOWN:
    case WM_NCRBUTTONDOWN:
    case WM_NCMBUTTONDOWN:
        return true;
    default:
        return false;
    }
}

} // namespace

ToolTip::ToolTip(HWND owner, bool balloon) : owner_(owner), balloon_(balloon) {}

ToolTip::~ToolTip() { hide(); }

TOOLINFOW ToolTip::toolInfo() {
    TOOLINFOW info{};
    // The version-5 size: accepted by every comctl32, with or without a manifest.
    info.cbSize = TTTOOLINFOW_V2_SIZE;
    info.uFlags = TTF_TRACK | TTF_ABSOLUTE;
    info.hwnd = owner_;
    info.uId = kToolId;
    info.lpszText = const_cast<LPWSTR>(win32::wide(text_));
    return info;
}

void ToolTip::show(bool visible) {
    if (!visible) {
        hide();
        return;
    }
    if (window_ == nullptr) {
        initCommonControls();
        const DWORD style = WS_POPUP | TTS_NOPREFIX | (balloon_ ? TTS_BALLOON | TTS_CLOSE : TTS_ALWAYSTIP);
        window_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, style, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner_, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
        if (window_ == nullptr)
            return;
        TOOLINFOW info = toolInfo();
        SendMessageW(window_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
        SendMessageW(window_, TTM_SETMAXTIPWIDTH, 0, kMaxWidth);
        if (balloon_ && !title_.empty())
            SendMessageW(window_, TTM_SETTITLEW, TTI_INFO, reinterpret_cast<LPARAM>(win32::wide(title_)));
    }
    SendMessageW(window_, TTM_TRACKPOSITION, 0, MAKELPARAM(position_.x, position_.y));
    TOOLINFOW info = toolInfo();
    SendMessageW(window_, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&info));
    if (!balloon_)
        return;
    if (shownBalloon != nullptr && shownBalloon != this)
        shownBalloon->hide();
    shownBalloon = this;
    if (hook_ == nullptr)
        hook_ = SetWindowsHookExW(WH_MOUSE, &ToolTip::mouseHook, nullptr, GetCurrentThreadId());
    if (timer_ != 0)
        KillTimer(owner_, timer_);
    // With a timer procedure the tick never reaches the owner's window procedure.
    timer_ = SetTimer(owner_, kBalloonTimer, durationMs_, &ToolTip::balloonTimer);
}

void ToolTip::hide() {
    if (timer_ != 0) {
        KillTimer(owner_, timer_);
        timer_ = 0;
    }
    if (hook_ != nullptr) {
        UnhookWindowsHookEx(hook_);
        hook_ = nullptr;
    }
    if (shownBalloon == this)
        shownBalloon = nullptr;
    if (window_ != nullptr) {
        DestroyWindow(window_);
        window_ = nullptr;
    }
}

void ToolTip::setPosition(Point point, Point offset) {
    position_ = {point.x + offset.x, point.y + offset.y};
    if (window_ != nullptr)
        SendMessageW(window_, TTM_TRACKPOSITION, 0, MAKELPARAM(position_.x, position_.y));
}

void ToolTip::setText(const std::u16string& text) {
    text_ = text;
    if (window_ == nullptr)
        return;
    TOOLINFOW info = toolInfo();
    SendMessageW(window_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&info));
}

void ToolTip::setTitle(const std::u16string& title) {
    if (!balloon_)
        return;
    title_ = title;
    if (window_ != nullptr)
        SendMessageW(window_, TTM_SETTITLEW, TTI_INFO, reinterpret_cast<LPARAM>(win32::wide(title_)));
}

LRESULT CALLBACK ToolTip::mouseHook(int code, WPARAM wParam, LPARAM lParam) {
    ToolTip* balloon = shownBalloon;
    const LRESULT result =
        CallNextHookEx(balloon != nullptr ? balloon->hook_ : nullptr, code, wParam, lParam);
    if (code == HC_ACTION && balloon != nullptr && isButtonPress(wParam))
        balloon->hide();
    return result;
}

void CALLBACK ToolTip::balloonTimer(HWND, UINT, UINT_PTR, DWORD) {
    if (shownBalloon != nullptr)
        shownBalloon->hide();
}

} // namespace pellucer::gui
