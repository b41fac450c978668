#pragma once

// Helpers for the window tests under Wine and an X server: input, pictures of windows, a host's
// window and callback, and the editor's places.

#include <winternl.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "Shared/GUI/Geometry.h"
#include "Shared/GUI/PixelBuffer.h"
#include "Shared/GUI/Win32/MessageBox.h"
#include "Shared/GUI/Win32/WinApi.h"
#include "vst/VstAbi.h"

namespace pellucer::gui::test {

/// Held while a window test runs: the processes of one Wine prefix share one display, pointer
/// and foreground window. A holder that died leaves the mutex abandoned, which still hands it on.
class WindowTestLock {
public:
    WindowTestLock() : mutex_(CreateMutexW(nullptr, FALSE, L"PellucerWindowTests")) {
        const DWORD result = WaitForSingleObject(mutex_, 240000);
        held_ = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
    }
    ~WindowTestLock() {
        if (held_)
            ReleaseMutex(mutex_);
        CloseHandle(mutex_);
    }
    WindowTestLock(const WindowTestLock&) = delete;
    WindowTestLock& operator=(const WindowTestLock&) = delete;
    bool held() const { return held_; }

private:
    HANDLE mutex_;
    bool held_ = false;
};

/// Dispatches the thread's messages for `milliseconds`.
inline void pumpFor(uint32_t milliseconds) {
    const ULONGLONG end = GetTickCount64() + milliseconds;
    do {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(1);
    } while (GetTickCount64() < end);
}

/// Dispatches messages until `done()` holds or `timeoutMs` passed; answers done().
template <typename Done> bool pumpUntil(Done done, uint32_t timeoutMs = 3000) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!done() && GetTickCount64() < end)
        pumpFor(5);
    return done();
}

/// Lets every message already queued (and what it causes at once) be handled.
inline void settle() { pumpFor(60); }

// -- real input ----------------------------------------------------------------------------------

inline INPUT mouseInput(DWORD flags, LONG dx = 0, LONG dy = 0, DWORD data = 0) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi = {dx, dy, data, flags, 0, 0};
    return input;
}
inline INPUT keyInput(WORD virtualKey, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki = {virtualKey, 0, static_cast<DWORD>(up ? KEYEVENTF_KEYUP : 0), 0, 0};
    return input;
}
/// Sends the input, then lets this thread's windows answer it.
inline void sendInputs(std::vector<INPUT> inputs) {
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    settle();
}

/// An absolute move to screen pixel `p` (the normalised coordinate rounded up, so that the
/// system's truncation lands on the pixel).
inline void moveTo(POINT p) {
    const int64_t width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    sendInputs({mouseInput(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE,
                           static_cast<LONG>((p.x * 65536 + width - 1) / width),
                           static_cast<LONG>((p.y * 65536 + height - 1) / height))});
}
inline void leftDown() { sendInputs({mouseInput(MOUSEEVENTF_LEFTDOWN)}); }
inline void leftUp() { sendInputs({mouseInput(MOUSEEVENTF_LEFTUP)}); }
inline void rightClick() { sendInputs({mouseInput(MOUSEEVENTF_RIGHTDOWN), mouseInput(MOUSEEVENTF_RIGHTUP)}); }
inline void wheel(int notches) {
    sendInputs({mouseInput(MOUSEEVENTF_WHEEL, 0, 0, static_cast<DWORD>(notches * WHEEL_DELTA))});
}
inline void tapKey(WORD virtualKey) { sendInputs({keyInput(virtualKey, false), keyInput(virtualKey, true)}); }

/// A left click at screen pixel `p`, then a pause longer than a double click, so that the next
/// click counts as a click of its own.
inline void clickAt(POINT p) {
    moveTo(p);
    leftDown();
    leftUp();
    pumpFor(GetDoubleClickTime() + 50);
}

/// Screen pixel of client point (x, y) of `window`.
inline POINT screenPoint(HWND window, int32_t x, int32_t y) {
    POINT p{x, y};
    ClientToScreen(window, &p);
    return p;
}

// -- pixels and handles --------------------------------------------------------------------------

/// The client area of `window` as the screen shows it (BitBlt from its DC), 32-bit BGRA.
inline PixelBuffer captureWindow(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    PixelBuffer pixels(client.right, client.bottom);
    HDC source = GetDC(window);
    HDC memory = CreateCompatibleDC(source);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), client.right, client.bottom, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, section);
    BitBlt(memory, 0, 0, client.right, client.bottom, source, 0, 0, SRCCOPY);
    GdiFlush();
    std::copy_n(static_cast<const uint8_t*>(bits), static_cast<size_t>(pixels.byteSize()), pixels.data());
    SelectObject(memory, previous);
    DeleteObject(section);
    DeleteDC(memory);
    ReleaseDC(window, source);
    return pixels;
}

/// Pixel (x, y) as 0xRRGGBB.
inline uint32_t rgbAt(const PixelBuffer& pixels, int32_t x, int32_t y) {
    return pixels.argb(x, y) & 0xFFFFFFu;
}

/// How many pixels of the rectangle `r` differ between two captures.
inline int32_t changedPixels(const PixelBuffer& a, const PixelBuffer& b, const Rect& r) {
    int32_t changed = 0;
    for (int32_t y = r.top; y < r.bottom(); ++y)
        for (int32_t x = r.left; x < r.right(); ++x)
            changed += rgbAt(a, x, y) != rgbAt(b, x, y) ? 1 : 0;
    return changed;
}

/// The GDI objects this process holds: the used entries of the GDI handle table that the process
/// block points at (offset 0xF8 on x64, 0x94 on x86) that no other process owns.
inline int32_t gdiObjects() {
    struct Entry {
        const void* object;
        uint32_t owner;
        uint16_t unique;
        uint8_t type, flags;
        const void* user;
    };
    const auto* peb = reinterpret_cast<const uint8_t*>(NtCurrentTeb()->ProcessEnvironmentBlock);
    const Entry* table = *reinterpret_cast<const Entry* const*>(peb + (sizeof(void*) == 8 ? 0xF8 : 0x94));
    const uint32_t self = GetCurrentProcessId() & 0xFFFFu;
    int32_t count = 0;
    for (int32_t i = 0; table != nullptr && i < 65536; ++i)
        count += table[i].type != 0 && table[i].object != nullptr &&
                 ((table[i].owner & 0xFFFFu) == 0 || (table[i].owner & 0xFFFFu) == self);
    return count;
}

/// Stands in for the message box while alive, so that nothing modal stops the run, and counts
/// the boxes asked for.
class MessageBoxCounter {
public:
    MessageBoxCounter() : previous_(setMessageBoxFunction(&count)) { requests_ = 0; }
    ~MessageBoxCounter() { setMessageBoxFunction(previous_); }
    int32_t requests() const { return requests_; }

private:
    static int count(HWND, const wchar_t*, const wchar_t*, UINT) { return ++requests_, IDOK; }
    static inline int32_t requests_ = 0;
    MessageBoxFunction previous_;
};

/// A folder of its own under the temporary folder, removed with the object.
class TempFolder {
public:
    TempFolder() { std::filesystem::create_directories(path_); }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::filesystem::path file(const std::string& name) const { return path_ / name; }

private:
    static inline std::atomic<int> counter_{0};
    const std::filesystem::path path_ =
        std::filesystem::temp_directory_path() /
        ("pellucer-gui-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter_++));
};

// -- the host's side ------------------------------------------------------------------------------

/// A top-level window of a class of its own standing in for the host's window of the editor.
class HostWindow {
public:
    HostWindow(int32_t width, int32_t height, Point at = {40, 40}) {
        [[maybe_unused]] static const ATOM windowClass = [] {
            WNDCLASSW description{};
            description.lpfnWndProc = &DefWindowProcW;
            description.hInstance = GetModuleHandleW(nullptr);
            description.lpszClassName = L"PellucerTestHost";
            return RegisterClassW(&description);
        }();
        window_ = CreateWindowExW(0, L"PellucerTestHost", L"Host", WS_POPUP | WS_VISIBLE, at.x, at.y, width,
                                  height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        SetForegroundWindow(window_);
        settle();
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

    static vst::VstIntPtr callback(vst::AEffect* effect, vst::VstInt32 opcode, vst::VstInt32 index,
                                   vst::VstIntPtr, void*, float opt) {
        auto* log = effect != nullptr ? static_cast<AutomationLog*>(effect->user) : nullptr;
        if (log != nullptr && opcode == vst::audioMasterAutomate)
            log->calls.push_back({index, opt});
        return opcode == vst::audioMasterVersion ? 2400 : 0;
    }
    void attach(vst::AEffect* effect) { effect->user = this; }
};

/// Watches for the context menu from a second thread (the menu runs a modal loop in the test's
/// thread), reads its entries, then answers it with `keys`. Stops looking after `timeoutMs`.
class MenuWatcher {
public:
    explicit MenuWatcher(std::vector<WORD> keys, DWORD timeoutMs = 3000)
        : thread_([this, keys = std::move(keys), timeoutMs] {
              const ULONGLONG end = GetTickCount64() + timeoutMs;
              HWND menu = nullptr;
              for (; menu == nullptr && GetTickCount64() < end; Sleep(10))
                  EnumWindows(&findVisibleMenu, reinterpret_cast<LPARAM>(&menu));
              if (menu == nullptr)
                  return;
              DWORD_PTR result = 0;
              SendMessageTimeoutW(menu, 0x01E1 /* MN_GETHMENU */, 0, 0, SMTO_ABORTIFHUNG, 1000, &result);
              const auto entries = reinterpret_cast<HMENU>(result);
              for (int i = 0; entries != nullptr && i < GetMenuItemCount(entries); ++i) {
                  wchar_t text[128] = {};
                  GetMenuStringW(entries, static_cast<UINT>(i), text, 128, MF_BYPOSITION);
                  items_.emplace_back(GetMenuItemID(entries, i), win32::fromWide(text));
              }
              found_ = true;
              for (WORD key : keys)
                  tapKey(key);
          }) {}
    ~MenuWatcher() { join(); }
    void join() {
        if (thread_.joinable())
            thread_.join();
    }
    bool found() const { return found_; }
    const std::vector<std::pair<UINT, std::u16string>>& items() const { return items_; }

private:
    static BOOL CALLBACK findVisibleMenu(HWND window, LPARAM found) {
        wchar_t name[8] = {};
        GetClassNameW(window, name, 8);
        if (std::wstring(name) != L"#32768" || !IsWindowVisible(window))
            return TRUE;
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }

    std::atomic<bool> found_{false};
    std::vector<std::pair<UINT, std::u16string>> items_;
    std::thread thread_;
};

// -- the editor's places -------------------------------------------------------------------------

/// Size of the editor (the skin's background).
inline constexpr int32_t kEditorWidth = 824;
inline constexpr int32_t kEditorHeight = 340;

/// Rectangles of the editor's controls, as the skin's background draws them.
inline constexpr Rect kPowerSwitch{775, 8, 37, 27};
inline constexpr Rect kCompanderSwitch{173, 6, 25, 27};
inline constexpr Rect kInputGainFader{25, 178, 22, 123};
inline constexpr Rect kOutputGainFader{770, 178, 22, 123};
inline constexpr Rect kExpanderThresholdKnob{171, 52, 50, 60};
inline constexpr Rect kOrderStrip{511, 244, 240, 57};
inline constexpr Rect kDelayTab{717, 85, 37, 15};
inline constexpr Rect kTabs{506, 85, 248, 15};
inline constexpr Rect kReadout{510, 55, 83, 17};
inline constexpr Rect kNameLabel{593, 48, 157, 36};
inline constexpr Rect kGraphA{512, 105, 238, 130};
/// A place with no control under it.
inline constexpr Point kBackgroundSpot{140, 190};

inline Point centreOf(const Rect& r) { return {r.left + r.width / 2, r.top + r.height / 2}; }

} // namespace pellucer::gui::test
