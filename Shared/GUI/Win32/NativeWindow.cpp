#include "Shared/GUI/Win32/NativeWindow.h"

#include <atomic>
#include <objbase.h>

#include "Shared/GUI/Win32/GdiDrawContext.h"

namespace pellucer::gui {

namespace {

constexpr int32_t kResultInvalid = static_cast<int32_t>(E_INVALIDARG);
constexpr int32_t kResultFail = static_cast<int32_t>(E_FAIL);
/// The size type handed to onSize when the system menu maximizes the window (SIZE_MAXIMIZED).
constexpr int32_t kSizeMaximized = 2;

/// Numbers the window classes of the process, so that no two objects share one.
std::atomic<uint32_t> classCounter{0};

void appendHex(std::u16string& out, uint64_t value, int digits) {
    static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        out.push_back(kDigits[(value >> shift) & 0xF]);
}

void appendDecimal(std::u16string& out, uint64_t value) {
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
        value /= 10;
    } while (value != 0);
    out += digits;
}

/// "PAL<n>_" followed by the fields of a new GUID joined by '-' (the tick count when no GUID
/// can be made): unique in the process and beyond, whatever else the host registered.
std::u16string newClassName() {
    std::u16string name = u"PAL";
    appendDecimal(name, classCounter.fetch_add(1) + 1);
    name += u'_';
    GUID guid{};
    if (SUCCEEDED(CoCreateGuid(&guid))) {
        appendHex(name, guid.Data1, 8);
        name += u'-';
        appendHex(name, guid.Data2, 4);
        name += u'-';
        appendHex(name, guid.Data3, 4);
        for (unsigned char byte : guid.Data4) {
            name += u'-';
            appendHex(name, byte, 2);
        }
    } else {
        appendDecimal(name, GetTickCount());
    }
    return name;
}

/// The module that holds this code (the plug-in DLL, or the test program).
HINSTANCE thisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&newClassName), &module);
    return module;
}

int32_t lowWord(LPARAM value) { return static_cast<int32_t>(LOWORD(value)); }
int32_t highWord(LPARAM value) { return static_cast<int32_t>(HIWORD(value)); }
int32_t signedLowWord(LPARAM value) { return static_cast<int16_t>(LOWORD(value)); }
int32_t signedHighWord(LPARAM value) { return static_cast<int16_t>(HIWORD(value)); }

/// The shell's drop functions, looked up when first needed: the layer links no shell32.
struct DropFunctions {
    using QueryFile = UINT(WINAPI*)(HANDLE, UINT, LPWSTR, UINT);
    using QueryPoint = BOOL(WINAPI*)(HANDLE, POINT*);
    using Finish = void(WINAPI*)(HANDLE);
    using Accept = void(WINAPI*)(HWND, BOOL);
    QueryFile queryFile = nullptr;
    QueryPoint queryPoint = nullptr;
    Finish finish = nullptr;
    Accept accept = nullptr;

    static const DropFunctions& get() {
        static const DropFunctions functions = [] {
            DropFunctions f;
            if (HMODULE shell = LoadLibraryW(L"shell32.dll")) {
                f.queryFile = reinterpret_cast<QueryFile>(
                    reinterpret_cast<void*>(GetProcAddress(shell, "DragQueryFileW")));
                f.queryPoint = reinterpret_cast<QueryPoint>(
                    reinterpret_cast<void*>(GetProcAddress(shell, "DragQueryPoint")));
                f.finish =
                    reinterpret_cast<Finish>(reinterpret_cast<void*>(GetProcAddress(shell, "DragFinish")));
                f.accept = reinterpret_cast<Accept>(
                    reinterpret_cast<void*>(GetProcAddress(shell, "DragAcceptFiles")));
            }
            return f;
        }();
        return functions;
    }
};

} // namespace

NativeWindow::~NativeWindow() {
    destroyWindow();
    if (classRegistered_)
        UnregisterClassW(win32::wide(className_), instance_);
}

int32_t NativeWindow::create(HWND parent, DWORD style, DWORD extendedStyle, const std::u16string& title,
                             Point position, int32_t clientWidth, int32_t clientHeight) {
    if (clientWidth < 1 || clientHeight < 1 || window_ != nullptr ||
        ((style & WS_CHILD) != 0 && parent == nullptr))
        return kResultInvalid;
    if (!classRegistered_) {
        instance_ = thisModule();
        className_ = newClassName();
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.style = CS_DBLCLKS;
        windowClass.lpfnWndProc = &NativeWindow::windowProcedure;
        windowClass.hInstance = instance_;
        windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        windowClass.lpszClassName = win32::wide(className_);
        if (RegisterClassExW(&windowClass) == 0) {
            recordLastError();
            return kResultFail;
        }
        classRegistered_ = true;
    }
    RECT outer{0, 0, clientWidth, clientHeight};
    AdjustWindowRectEx(&outer, style, FALSE, extendedStyle);
    // The handle arrives with WM_NCCREATE, before CreateWindowExW returns.
    HWND window = CreateWindowExW(extendedStyle, win32::wide(className_), win32::wide(title), style,
                                  position.x, position.y, outer.right - outer.left, outer.bottom - outer.top,
                                  parent, nullptr, instance_, this);
    if (window == nullptr) {
        recordLastError();
        window_ = nullptr;
        return kResultFail;
    }
    return S_OK;
}

void NativeWindow::recordLastError() {
    const DWORD error = GetLastError();
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    if (length != 0) {
        lastErrorText_ = win32::fromWide(text);
    } else {
        lastErrorText_ = u"error ";
        appendDecimal(lastErrorText_, error);
    }
    if (text != nullptr)
        LocalFree(text);
}

void NativeWindow::destroyWindow() {
    if (window_ != nullptr)
        DestroyWindow(window_); // WM_NCDESTROY clears the handle
    window_ = nullptr;
}

void NativeWindow::show(int command) {
    if (window_ == nullptr)
        return;
    ShowWindow(window_, command);
    UpdateWindow(window_);
}

bool NativeWindow::isIconic() const { return window_ != nullptr && IsIconic(window_) != FALSE; }

Rect NativeWindow::windowRect() const {
    RECT r{};
    if (window_ != nullptr)
        GetWindowRect(window_, &r);
    return win32::fromRect(r);
}

Rect NativeWindow::clientRect() const {
    RECT r{};
    if (window_ != nullptr)
        GetClientRect(window_, &r);
    return win32::fromRect(r);
}

void NativeWindow::setPositionAndSize(const Rect& r) {
    if (window_ != nullptr)
        SetWindowPos(window_, nullptr, r.left, r.top, r.width, r.height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void NativeWindow::bringToForeground() {
    if (window_ != nullptr)
        SetForegroundWindow(window_);
}

void NativeWindow::setKeyboardFocus() {
    if (window_ != nullptr)
        SetFocus(window_);
}

void NativeWindow::acceptFiles(bool accept) {
    const DropFunctions& drop = DropFunctions::get();
    if (window_ != nullptr && drop.accept != nullptr)
        drop.accept(window_, accept ? TRUE : FALSE);
}

void NativeWindow::invalidateAll() {
    if (window_ != nullptr)
        InvalidateRect(window_, nullptr, FALSE);
}

void NativeWindow::invalidate(const Rect& r) {
    if (window_ == nullptr)
        return;
    const RECT rect = win32::toRect(r);
    InvalidateRect(window_, &rect, FALSE);
}

void NativeWindow::redrawNow() {
    if (window_ != nullptr)
        UpdateWindow(window_);
}

void NativeWindow::captureMouse() {
    if (window_ != nullptr)
        SetCapture(window_);
}

void NativeWindow::releaseMouse() {
    if (window_ != nullptr && GetCapture() == window_)
        ReleaseCapture();
}

Point NativeWindow::clientToScreen(Point p) const {
    POINT point{p.x, p.y};
    if (window_ != nullptr)
        ClientToScreen(window_, &point);
    return {point.x, point.y};
}

Point NativeWindow::screenToClient(Point p) const {
    POINT point{p.x, p.y};
    if (window_ != nullptr)
        ScreenToClient(window_, &point);
    return {point.x, point.y};
}

bool NativeWindow::setTimer(uint32_t id, uint32_t periodMs) {
    return window_ != nullptr && SetTimer(window_, id, periodMs, nullptr) != 0;
}

void NativeWindow::killTimer(uint32_t id) {
    if (window_ != nullptr)
        KillTimer(window_, id);
}

bool NativeWindow::postMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return window_ != nullptr && PostMessageW(window_, message, wParam, lParam) != FALSE;
}

void NativeWindow::setMenu(HMENU menu) {
    if (window_ != nullptr)
        SetMenu(window_, menu);
}

int32_t NativeWindow::mouseFlags(WPARAM keyState) {
    int32_t flags = 0;
    if ((keyState & MK_LBUTTON) != 0)
        flags |= mouse::kLeft;
    if ((keyState & MK_MBUTTON) != 0)
        flags |= mouse::kMiddle;
    if ((keyState & MK_RBUTTON) != 0)
        flags |= mouse::kRight;
    if ((keyState & MK_CONTROL) != 0)
        flags |= mouse::kControl;
    if ((keyState & MK_SHIFT) != 0)
        flags |= mouse::kShift;
    // Mouse messages carry no Alt or Windows key: the thread's keyboard state knows them.
    if (GetKeyState(VK_MENU) < 0)
        flags |= mouse::kAlt;
    if (GetKeyState(VK_LWIN) < 0)
        flags |= mouse::kWindows;
    return flags;
}

void NativeWindow::onMouseDown(int32_t, int32_t, int32_t) {}
void NativeWindow::onMouseUp(int32_t, int32_t, int32_t) {}
void NativeWindow::onMouseMove(int32_t, int32_t, int32_t) {}
void NativeWindow::onDoubleClick(int32_t, int32_t, int32_t) {}
void NativeWindow::onWheel(int32_t, int32_t, int32_t, int32_t) {}
void NativeWindow::onContext(int32_t, int32_t) {}
int32_t NativeWindow::onCommand(int32_t) { return 1; }
void NativeWindow::onKeyDown(int32_t) {}
void NativeWindow::onKeyUp(int32_t) {}
void NativeWindow::onFocusGained() {}
void NativeWindow::onFocusLost() {}
void NativeWindow::onDestroyed() {}
void NativeWindow::onSizing(int32_t, RECT&) {}
void NativeWindow::onSize(int32_t, int32_t, int32_t) {}
void NativeWindow::onFilesDropped(Point, const std::vector<std::u16string>&) {}
void NativeWindow::onJoystickMove(WPARAM, int32_t, int32_t) {}
void NativeWindow::onTimer(uint32_t) {}
void NativeWindow::onPrivateMessage(WPARAM, LPARAM) {}
void NativeWindow::onHelp() {}
void NativeWindow::onActivated() {}
void NativeWindow::onDeactivated() {}
void NativeWindow::onPaint(GdiDrawContext&, const Rect&) {}

LRESULT NativeWindow::defaultProcessing(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window_, message, wParam, lParam);
}

void NativeWindow::dropFiles(HANDLE drop) {
    const DropFunctions& functions = DropFunctions::get();
    if (functions.queryFile == nullptr || functions.queryPoint == nullptr || functions.finish == nullptr)
        return;
    POINT point{};
    functions.queryPoint(drop, &point);
    std::vector<std::u16string> paths;
    const UINT count = functions.queryFile(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        wchar_t path[kMaxDroppedPath + 1] = {};
        if (functions.queryFile(drop, i, path, static_cast<UINT>(kMaxDroppedPath + 1)) != 0)
            paths.push_back(win32::fromWide(path));
    }
    functions.finish(drop);
    onFilesDropped({point.x, point.y}, paths);
}

LRESULT NativeWindow::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_LBUTTONDOWN:
        onMouseDown(lowWord(lParam), highWord(lParam), mouseFlags(wParam) | mouse::kLeft);
        return 0;
    case WM_RBUTTONDOWN:
        onMouseDown(lowWord(lParam), highWord(lParam), mouseFlags(wParam) | mouse::kRight);
        return 0;
    case WM_LBUTTONUP:
        // The button's own bit is gone from the key state of its release: add it back.
        onMouseUp(lowWord(lParam), highWord(lParam), mouseFlags(wParam) | mouse::kLeft);
        return 0;
    case WM_RBUTTONUP:
        onMouseUp(lowWord(lParam), highWord(lParam), mouseFlags(wParam) | mouse::kRight);
        onContext(lowWord(lParam), highWord(lParam));
        return 0;
    case WM_MOUSEMOVE:
        onMouseMove(lowWord(lParam), highWord(lParam), mouseFlags(wParam));
        return 0;
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDBLCLK:
        onDoubleClick(lowWord(lParam), highWord(lParam), mouseFlags(wParam));
        return 0;
    case WM_MOUSEWHEEL:
        onWheel(signedLowWord(lParam), signedHighWord(lParam), mouseFlags(GET_KEYSTATE_WPARAM(wParam)),
                GET_WHEEL_DELTA_WPARAM(wParam));
        return 0;
    case WM_CONTEXTMENU:
        onContext(signedLowWord(lParam), signedHighWord(lParam));
        return 0;
    case WM_COMMAND:
        if (onCommand(LOWORD(wParam)) != 0)
            return defaultProcessing(message, wParam, lParam);
        return 0;
    case WM_KEYDOWN:
    case WM_KEYUP: {
        const int32_t key = editorKeyFromVirtualKey(static_cast<uint32_t>(wParam));
        if (key != key::kNone) {
            if (message == WM_KEYDOWN)
                onKeyDown(key);
            else
                onKeyUp(key);
        }
        return defaultProcessing(message, wParam, lParam);
    }
    case WM_SETFOCUS:
        onFocusGained();
        return 0;
    case WM_KILLFOCUS:
        onFocusLost();
        return 0;
    case WM_SIZING:
        onSizing(static_cast<int32_t>(wParam), *reinterpret_cast<RECT*>(lParam));
        return 1;
    case WM_SIZE:
        onSize(static_cast<int32_t>(wParam), lowWord(lParam), highWord(lParam));
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_MAXIMIZE)
            onSize(kSizeMaximized, lowWord(lParam), highWord(lParam));
        return defaultProcessing(message, wParam, lParam);
    case WM_DROPFILES:
        dropFiles(reinterpret_cast<HANDLE>(wParam));
        return 0;
    case kJoystickMessage:
        onJoystickMove(wParam, lowWord(lParam), highWord(lParam));
        return 0;
    case WM_TIMER:
        onTimer(static_cast<uint32_t>(wParam));
        return 0;
    case kPrivateMessage:
        onPrivateMessage(wParam, lParam);
        return 0;
    case WM_HELP:
        onHelp();
        return 1;
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE)
            onDeactivated();
        else
            onActivated();
        return defaultProcessing(message, wParam, lParam);
    case WM_PAINT: {
        PAINTSTRUCT paint{};
        HDC dc = BeginPaint(window_, &paint);
        if (dc != nullptr) {
            GdiDrawContext context(dc);
            onPaint(context, win32::fromRect(paint.rcPaint));
        }
        EndPaint(window_, &paint);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1; // the paint covers everything; erasing first would only flicker
    case WM_GETDLGCODE:
        return DLGC_WANTALLKEYS;
    case WM_NOTIFY: {
        // A control window's notification goes back to that window.
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header != nullptr && header->hwndFrom != nullptr && header->hwndFrom != window_)
            return SendMessageW(header->hwndFrom, message, wParam, lParam);
        return 0;
    }
    case WM_DESTROY:
    case WM_HSCROLL:
    case WM_VSCROLL:
        return 0;
    default:
        return defaultProcessing(message, wParam, lParam);
    }
}

LRESULT CALLBACK NativeWindow::windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<NativeWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_NCCREATE) {
        self = static_cast<NativeWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        if (self != nullptr)
            self->window_ = window;
    }
    if (self == nullptr)
        return DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        self->onDestroyed();
        if (GetFocus() == window)
            SetFocus(nullptr);
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->window_ = nullptr;
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return self->handleMessage(message, wParam, lParam);
}

} // namespace pellucer::gui
