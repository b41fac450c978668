#pragma once

// Helpers for the tests of the Win32 window layer, which run under Wine with an X server:
// a process-wide lock that keeps window tests of parallel test processes apart, message pumps,
// real input through SendInput and xdotool, a capture of a window's pixels, a recorder in place
// of the message box, and temporary BMP files.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Shared/GUI/BmpFile.h"
#include "Shared/GUI/PixelBuffer.h"
#include "core/SkinTable.h"
#include "Shared/GUI/Win32/MessageBox.h"
#include "Shared/GUI/Win32/WinApi.h"

namespace pellucer::gui::test {

/// Holds a named mutex while a window test runs: the test processes of one Wine prefix share
/// one display, one pointer and one foreground window, so their window tests take turns.
class WindowTestLock {
public:
    WindowTestLock() : mutex_(CreateMutexW(nullptr, FALSE, L"PellucerWindowTests")) {
        if (mutex_ != nullptr) {
            // A test process that died holding it leaves it abandoned, which still hands it over.
            const DWORD result = WaitForSingleObject(mutex_, 240000);
            held_ = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
        }
    }
    ~WindowTestLock() {
        if (held_)
            ReleaseMutex(mutex_);
        if (mutex_ != nullptr)
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
    while (!done()) {
        if (GetTickCount64() >= end)
            return done();
        pumpFor(5);
    }
    return true;
}

/// Lets every message already queued (and what it causes at once) be handled.
inline void settle() { pumpFor(60); }

// -- real input ---------------------------------------------------------------------------------

inline void sendInputs(std::vector<INPUT> inputs) {
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

inline INPUT mouseInput(DWORD flags, LONG dx = 0, LONG dy = 0, DWORD data = 0) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = dx;
    input.mi.dy = dy;
    input.mi.mouseData = data;
    input.mi.dwFlags = flags;
    return input;
}

inline INPUT keyInput(WORD virtualKey, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = virtualKey;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return input;
}

/// Moves the pointer to screen pixel `p` with an absolute SendInput move (the normalised
/// coordinate is rounded up so that the system's truncation lands on the pixel).
inline void moveTo(POINT p) {
    const LONG width = GetSystemMetrics(SM_CXSCREEN);
    const LONG height = GetSystemMetrics(SM_CYSCREEN);
    const LONG nx = static_cast<LONG>((static_cast<int64_t>(p.x) * 65536 + width - 1) / width);
    const LONG ny = static_cast<LONG>((static_cast<int64_t>(p.y) * 65536 + height - 1) / height);
    sendInputs({mouseInput(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, nx, ny)});
    settle();
}

/// A relative move; the system's pointer acceleration leaves steps of at most 4 pixels alone.
inline void moveBy(LONG dx, LONG dy) {
    sendInputs({mouseInput(MOUSEEVENTF_MOVE, dx, dy)});
    settle();
}

inline void leftDown() {
    sendInputs({mouseInput(MOUSEEVENTF_LEFTDOWN)});
    settle();
}
inline void leftUp() {
    sendInputs({mouseInput(MOUSEEVENTF_LEFTUP)});
    settle();
}
inline void rightDown() {
    sendInputs({mouseInput(MOUSEEVENTF_RIGHTDOWN)});
    settle();
}
inline void rightUp() {
    sendInputs({mouseInput(MOUSEEVENTF_RIGHTUP)});
    settle();
}

/// A left click at screen pixel `p`, then a pause longer than a double click takes, so that
/// the next click counts as a click of its own.
inline void clickAt(POINT p) {
    moveTo(p);
    leftDown();
    leftUp();
    pumpFor(GetDoubleClickTime() + 50);
}

/// One wheel notch (`notches` > 0: away from the user).
inline void wheel(int notches) {
    sendInputs({mouseInput(MOUSEEVENTF_WHEEL, 0, 0, static_cast<DWORD>(notches * WHEEL_DELTA))});
    settle();
}

inline void tapKey(WORD virtualKey) {
    sendInputs({keyInput(virtualKey, false), keyInput(virtualKey, true)});
    settle();
}

/// Runs xdotool with `arguments`: input made at X level, as the user's mouse and keyboard make
/// it. Wine starts Unix programs (they inherit its DISPLAY) but gives no process handle to wait
/// on, so xdotool's success leaves a file behind, seen through Wine's Z: drive; this thread's
/// messages are dispatched meanwhile, so that its windows answer each event as it comes.
/// Answers whether xdotool succeeded within 5 s.
inline bool xdotool(const std::wstring& arguments) {
    const std::wstring done = L"/tmp/pellucer-xdotool-" + std::to_wstring(GetCurrentProcessId());
    const std::filesystem::path doneFile = L"Z:" + done;
    std::error_code ignored;
    std::filesystem::remove(doneFile, ignored);
    std::wstring command = L"/bin/sh -c \"/usr/bin/xdotool " + arguments + L" && touch " + done + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    const bool succeeded = pumpUntil([&] { return std::filesystem::exists(doneFile, ignored); }, 5000);
    std::filesystem::remove(doneFile, ignored);
    settle();
    return succeeded;
}

/// Screen pixel of client point (x, y) of `window`.
inline POINT screenPoint(HWND window, int32_t x, int32_t y) {
    POINT p{x, y};
    ClientToScreen(window, &p);
    return p;
}

// -- pixels -----------------------------------------------------------------------------------

/// The client area of `window` as it is on the screen (BitBlt from its DC), 32-bit BGRA.
inline PixelBuffer captureWindow(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    const int32_t width = client.right, height = client.bottom;
    PixelBuffer pixels(width, height);
    HDC source = GetDC(window);
    HDC memory = CreateCompatibleDC(source);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, section);
    BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
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

/// How many pixels of the part `r` differ between two captures.
inline int32_t changedPixels(const PixelBuffer& a, const PixelBuffer& b, const Rect& r) {
    int32_t changed = 0;
    for (int32_t y = r.top; y < r.bottom(); ++y)
        for (int32_t x = r.left; x < r.right(); ++x)
            changed += rgbAt(a, x, y) != rgbAt(b, x, y) ? 1 : 0;
    return changed;
}

// -- message boxes ----------------------------------------------------------------------------

/// Stands in for the message box while alive: records each request and answers `answer` at
/// once, so that nothing modal stops the run.
class MessageBoxRecorder {
public:
    struct Request {
        HWND owner;
        std::u16string text;
        std::u16string caption;
        UINT style;
    };

    explicit MessageBoxRecorder(int answer = IDOK) {
        answer_ = answer;
        requests_.clear();
        previous_ = setMessageBoxFunction(&record);
    }
    ~MessageBoxRecorder() { setMessageBoxFunction(previous_); }
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    const std::vector<Request>& requests() const { return requests_; }
    size_t count() const { return requests_.size(); }

private:
    static int record(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style) {
        requests_.push_back({owner, win32::fromWide(text), win32::fromWide(caption), style});
        return answer_;
    }

    static inline std::vector<Request> requests_;
    static inline int answer_ = IDOK;
    MessageBoxFunction previous_;
};

/// Loads the shipped text skin into the process's text table when it is not there yet.
inline void ensureTextSkin() {
    if (!textResources().contains("IDS_BITMAP_NOT_FOUND_TITLE")) {
        ASSERT_EQ(textResources().load(PELLUCER_SOURCE_DIR "/skin/TextResources.tsres"), SkinTable::kSuccess);
    }
}

// -- files ------------------------------------------------------------------------------------

/// A folder of its own under the system's temporary folder, removed with the object.
class TempFolder {
public:
    TempFolder() {
        wchar_t base[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH, base);
        static std::atomic<int> counter{0};
        path_ = std::filesystem::path(base) /
                ("pellucer-gui-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path file(const std::string& name) const { return path_ / name; }
    /// The folder as the skin tables want it: UTF-16, ending with a separator.
    std::u16string folderText() const { return path_.u16string() + u"\\"; }

private:
    std::filesystem::path path_;
};

inline void writeBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    FILE* file = _wfopen(path.c_str(), L"wb");
    ASSERT_NE(file, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

/// An image whose pixel (x, y) is `argb(x, y)`.
template <typename Fn> PixelBuffer patternImage(int32_t width, int32_t height, Fn argb) {
    PixelBuffer image(width, height);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            image.setArgb(x, y, argb(x, y));
    return image;
}

} // namespace pellucer::gui::test
