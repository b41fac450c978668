#pragma once

// Helpers for the tests of the strip's editor in a real window (under Wine with an X server):
// a host window to open the editor into, a record of what the effect told its host, a watcher
// for the context menu's modal loop and one that answers message boxes, and the editor's places.

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Shared/GUI/Geometry.h"
#include "tests/gui/win32/Win32TestSupport.h"
#include "vst/VstAbi.h"

namespace pellucer::gui::test {

/// A top-level window standing in for the host's window that holds the editor.
class HostWindow {
public:
    HostWindow(int32_t width, int32_t height, Point at = {40, 40}) {
        static const ATOM windowClass = [] {
            WNDCLASSW description{};
            description.lpfnWndProc = &DefWindowProcW;
            description.hInstance = GetModuleHandleW(nullptr);
            description.lpszClassName = L"PellucerTestHost";
            return RegisterClassW(&description);
        }();
        (void)windowClass;
        window_ = CreateWindowExW(0, L"PellucerTestHost", L"Host", WS_POPUP | WS_VISIBLE, at.x, at.y, width,
                                  height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        if (window_ != nullptr) {
            SetForegroundWindow(window_);
            settle();
        }
    }
    ~HostWindow() { destroy(); }
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;

    HWND handle() const { return window_; }
    /// The editor's window inside it (its first child), or null.
    HWND editor() const { return window_ != nullptr ? GetWindow(window_, GW_CHILD) : nullptr; }
    void destroy() {
        if (window_ != nullptr)
            DestroyWindow(window_);
        window_ = nullptr;
    }

private:
    HWND window_ = nullptr;
};

/// What an effect told its host through audioMasterAutomate, in order. The effect record's
/// `user` field points at the log (a host may use that field as it likes).
struct AutomationLog {
    struct Call {
        int32_t index;
        float value;
        bool operator==(const Call&) const = default;
    };
    std::vector<Call> calls;
    std::atomic<int32_t> versionQueries{0};

    static vst::VstIntPtr callback(vst::AEffect* effect, vst::VstInt32 opcode, vst::VstInt32 index,
                                   vst::VstIntPtr, void*, float opt) {
        if (opcode == vst::audioMasterVersion)
            return 2400;
        auto* log = effect != nullptr ? static_cast<AutomationLog*>(effect->user) : nullptr;
        if (log != nullptr && opcode == vst::audioMasterAutomate)
            log->calls.push_back({index, opt});
        return 0;
    }
    void attach(vst::AEffect* effect) { effect->user = this; }
    /// The indices of the calls, in order.
    std::vector<int32_t> indices() const {
        std::vector<int32_t> out;
        for (const Call& c : calls)
            out.push_back(c.index);
        return out;
    }
};

/// Watches for the context menu from a second thread (the menu runs a modal loop in the test's
/// thread), reads its entries, then answers it with `keys`. Stops looking after `timeoutMs`.
class MenuWatcher {
public:
    explicit MenuWatcher(std::vector<WORD> keys, DWORD timeoutMs = 3000)
        : thread_([this, keys = std::move(keys), timeoutMs] { watch(keys, timeoutMs); }) {}
    ~MenuWatcher() { join(); }
    MenuWatcher(const MenuWatcher&) = delete;
    MenuWatcher& operator=(const MenuWatcher&) = delete;

    void join() {
        if (thread_.joinable())
            thread_.join();
    }
    bool found() const { return found_; }
    const std::vector<std::pair<UINT, std::u16string>>& items() const { return items_; }

private:
    static BOOL CALLBACK findMenu(HWND window, LPARAM result) {
        wchar_t name[16] = {};
        GetClassNameW(window, name, 16);
        if (std::wstring(name) == L"#32768" && IsWindowVisible(window)) {
            *reinterpret_cast<HWND*>(result) = window;
            return FALSE;
        }
        return TRUE;
    }

    void watch(const std::vector<WORD>& keys, DWORD timeoutMs) {
        const ULONGLONG end = GetTickCount64() + timeoutMs;
        HWND menuWindow = nullptr;
        while (menuWindow == nullptr && GetTickCount64() < end) {
            EnumWindows(&findMenu, reinterpret_cast<LPARAM>(&menuWindow));
            Sleep(10);
        }
        if (menuWindow == nullptr)
            return;
        found_ = true;
        DWORD_PTR result = 0;
        SendMessageTimeoutW(menuWindow, 0x01E1 /* MN_GETHMENU */, 0, 0, SMTO_ABORTIFHUNG, 1000, &result);
        const HMENU menu = reinterpret_cast<HMENU>(result);
        for (int i = 0; menu != nullptr && i < GetMenuItemCount(menu); ++i) {
            wchar_t text[128] = {};
            GetMenuStringW(menu, static_cast<UINT>(i), text, 128, MF_BYPOSITION);
            items_.emplace_back(GetMenuItemID(menu, i), win32::fromWide(text));
        }
        for (WORD key : keys) {
            sendInputs({keyInput(key, false), keyInput(key, true)});
            Sleep(50);
        }
    }

    std::atomic<bool> found_{false};
    std::vector<std::pair<UINT, std::u16string>> items_;
    std::thread thread_;
};

/// Answers every message box of this process with Enter while it lives (for code that reports
/// with a box of its own, such as a plug-in module with its own copy of the message box), and
/// counts them.
class MessageBoxAnswerer {
public:
    MessageBoxAnswerer() : thread_([this] { run(); }) {}
    ~MessageBoxAnswerer() {
        stop_ = true;
        thread_.join();
    }
    MessageBoxAnswerer(const MessageBoxAnswerer&) = delete;
    MessageBoxAnswerer& operator=(const MessageBoxAnswerer&) = delete;

    int32_t answered() const { return answered_; }

private:
    static BOOL CALLBACK findBox(HWND window, LPARAM result) {
        wchar_t name[16] = {};
        GetClassNameW(window, name, 16);
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (std::wstring(name) == L"#32770" && IsWindowVisible(window) && process == GetCurrentProcessId()) {
            *reinterpret_cast<HWND*>(result) = window;
            return FALSE;
        }
        return TRUE;
    }
    void run() {
        while (!stop_) {
            HWND box = nullptr;
            EnumWindows(&findBox, reinterpret_cast<LPARAM>(&box));
            if (box != nullptr) {
                ++answered_;
                PostMessageW(box, WM_COMMAND, IDOK, 0);
                // Wait until it is gone, so that one box is counted once.
                for (int i = 0; i < 200 && IsWindow(box) && IsWindowVisible(box); ++i)
                    Sleep(5);
            }
            Sleep(10);
        }
    }

    std::atomic<bool> stop_{false};
    std::atomic<int32_t> answered_{0};
    std::thread thread_;
};

// -- the editor's places ------------------------------------------------------------------------

/// Size of the editor (the skin's background).
inline constexpr int32_t kEditorWidth = 824;
inline constexpr int32_t kEditorHeight = 340;

/// Rectangles of the editor's controls that the tests use.
inline constexpr Rect kPowerSwitch{775, 8, 37, 27};
inline constexpr Rect kCompanderSwitch{173, 6, 25, 27};
inline constexpr Rect kInputGainFader{25, 178, 22, 123};
inline constexpr Rect kOutputGainFader{770, 178, 22, 123};
inline constexpr Rect kCompressorThresholdKnob{225, 52, 50, 60};
inline constexpr Rect kExpanderThresholdKnob{171, 52, 50, 60};
inline constexpr Rect kEqLowGainKnob{338, 118, 50, 60};
inline constexpr Rect kDeEsserFreqKnob{57, 52, 50, 60};
inline constexpr Rect kOrderStrip{511, 244, 240, 57};
inline constexpr Rect kCompanderTab{556, 85, 53, 15};
inline constexpr Rect kDelayTab{717, 85, 37, 15};
inline constexpr Rect kTabs{506, 85, 248, 15};
inline constexpr Rect kReadout{510, 55, 83, 17};
inline constexpr Rect kNameLabel{593, 48, 157, 36};
inline constexpr Rect kGraphA{512, 105, 238, 130};
inline constexpr Rect kOutputMeterLeft{798, 177, 8, 120};
/// A place with no control under it.
inline constexpr Point kBackgroundSpot{140, 190};

inline Point centreOf(const Rect& r) { return {r.left + r.width / 2, r.top + r.height / 2}; }

/// Whether two captures agree in the part `r`.
inline bool samePixels(const PixelBuffer& a, const PixelBuffer& b, const Rect& r) {
    return changedPixels(a, b, r) == 0;
}

} // namespace pellucer::gui::test
