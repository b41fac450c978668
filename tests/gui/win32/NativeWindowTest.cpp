// The window layer's own window: its class, creation, and the message dispatch that turns
// window messages into handler calls (positions, flags, key codes, answers).

#include "Shared/GUI/Win32/NativeWindow.h"

#include <gtest/gtest.h>

#include <cwctype>
#include <regex>

#include <shlobj.h>

#include "Shared/GUI/Win32/GdiDrawContext.h"
#include "tests/gui/win32/Win32TestSupport.h"

namespace pellucer::gui {
namespace {

/// Records every handler call as a name and its numbers.
class RecordingWindow : public NativeWindow {
public:
    struct Call {
        std::string what;
        int64_t a = 0, b = 0, c = 0, d = 0;
        bool operator==(const Call&) const = default;
    };
    std::vector<Call> calls;
    std::vector<std::u16string> dropped;
    Rect lastPaint{};
    HDC lastPaintDc = nullptr;
    int32_t commandAnswer = 0;

    /// The calls named `what`.
    std::vector<Call> named(const std::string& what) const {
        std::vector<Call> found;
        for (const Call& call : calls)
            if (call.what == what)
                found.push_back(call);
        return found;
    }

protected:
    void onMouseDown(int32_t x, int32_t y, int32_t flags) override { calls.push_back({"down", x, y, flags}); }
    void onMouseUp(int32_t x, int32_t y, int32_t flags) override { calls.push_back({"up", x, y, flags}); }
    void onMouseMove(int32_t x, int32_t y, int32_t flags) override { calls.push_back({"move", x, y, flags}); }
    void onDoubleClick(int32_t x, int32_t y, int32_t flags) override {
        calls.push_back({"double", x, y, flags});
    }
    void onWheel(int32_t x, int32_t y, int32_t flags, int32_t delta) override {
        calls.push_back({"wheel", x, y, flags, delta});
    }
    void onContext(int32_t x, int32_t y) override { calls.push_back({"context", x, y}); }
    int32_t onCommand(int32_t id) override {
        calls.push_back({"command", id});
        return commandAnswer;
    }
    void onKeyDown(int32_t key) override { calls.push_back({"keydown", key}); }
    void onKeyUp(int32_t key) override { calls.push_back({"keyup", key}); }
    void onFocusGained() override { calls.push_back({"focus"}); }
    void onFocusLost() override { calls.push_back({"blur"}); }
    void onDestroyed() override { calls.push_back({"destroyed"}); }
    void onSizing(int32_t edge, RECT& rect) override {
        calls.push_back({"sizing", edge, rect.left, rect.right});
    }
    void onSize(int32_t type, int32_t width, int32_t height) override {
        calls.push_back({"size", type, width, height});
    }
    void onFilesDropped(Point at, const std::vector<std::u16string>& paths) override {
        calls.push_back({"drop", at.x, at.y, static_cast<int64_t>(paths.size())});
        dropped = paths;
    }
    void onJoystickMove(WPARAM buttons, int32_t x, int32_t y) override {
        calls.push_back({"joystick", static_cast<int64_t>(buttons), x, y});
    }
    void onTimer(uint32_t id) override { calls.push_back({"timer", id}); }
    void onPrivateMessage(WPARAM wParam, LPARAM lParam) override {
        calls.push_back({"private", static_cast<int64_t>(wParam), static_cast<int64_t>(lParam)});
    }
    void onHelp() override { calls.push_back({"help"}); }
    void onActivated() override { calls.push_back({"activated"}); }
    void onDeactivated() override { calls.push_back({"deactivated"}); }
    void onPaint(GdiDrawContext& context, const Rect& update) override {
        calls.push_back({"paint"});
        lastPaint = update;
        lastPaintDc = context.dc();
    }
};

class NativeWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(lock.held());
        ASSERT_EQ(window.create(nullptr, WS_POPUP | WS_VISIBLE, 0, u"Test", {30, 30}, 200, 120), S_OK);
        test::settle();
        window.calls.clear();
    }

    LRESULT send(UINT message, WPARAM wParam, LPARAM lParam) {
        return SendMessageW(window.handle(), message, wParam, lParam);
    }

    test::WindowTestLock lock;
    RecordingWindow window;
};

using Call = RecordingWindow::Call;

TEST_F(NativeWindowTest, EachObjectRegistersAClassOfItsOwn) {
    const std::wregex pattern(L"PAL([0-9]+)_[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}(-[0-9A-F]{2}){8}");
    RecordingWindow second;
    ASSERT_EQ(second.create(nullptr, WS_POPUP, 0, u"Second", {0, 0}, 10, 10), S_OK);
    wchar_t name[256] = {};
    for (const NativeWindow* w :
         {static_cast<const NativeWindow*>(&window), static_cast<const NativeWindow*>(&second)}) {
        ASSERT_GT(GetClassNameW(w->handle(), name, 256), 0);
        EXPECT_EQ(win32::fromWide(name), w->className());
        std::wcmatch match;
        EXPECT_TRUE(std::regex_match(name, match, pattern))
            << std::string(w->className().begin(), w->className().end());
    }
    EXPECT_NE(window.className(), second.className());
    // The running number grows from one window to the next.
    std::wcmatch first, next;
    const std::wstring firstName(window.className().begin(), window.className().end());
    const std::wstring nextName(second.className().begin(), second.className().end());
    ASSERT_TRUE(std::regex_match(firstName.c_str(), first, pattern));
    ASSERT_TRUE(std::regex_match(nextName.c_str(), next, pattern));
    EXPECT_GT(std::stoi(next[1].str()), std::stoi(first[1].str()));
    // The class has the arrow cursor and takes double clicks.
    WNDCLASSEXW info{};
    info.cbSize = sizeof info;
    ASSERT_TRUE(GetClassInfoExW(GetModuleHandleW(nullptr), win32::wide(second.className()), &info));
    EXPECT_EQ(info.hCursor, LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW)));
    EXPECT_NE(info.style & CS_DBLCLKS, 0u);
}

TEST_F(NativeWindowTest, CreationChecksItsArguments) {
    RecordingWindow other;
    EXPECT_EQ(other.create(nullptr, WS_POPUP, 0, u"", {0, 0}, 0, 10), static_cast<int32_t>(E_INVALIDARG));
    EXPECT_EQ(other.create(nullptr, WS_POPUP, 0, u"", {0, 0}, 10, -1), static_cast<int32_t>(E_INVALIDARG));
    EXPECT_EQ(other.create(nullptr, WS_CHILD, 0, u"", {0, 0}, 10, 10), static_cast<int32_t>(E_INVALIDARG));
    EXPECT_EQ(window.create(nullptr, WS_POPUP, 0, u"", {0, 0}, 10, 10), static_cast<int32_t>(E_INVALIDARG));
    // A parent that is no window: the system refuses, and says why.
    EXPECT_EQ(other.create(reinterpret_cast<HWND>(static_cast<uintptr_t>(0x7654)), WS_CHILD, 0, u"", {0, 0},
                           10, 10),
              static_cast<int32_t>(E_FAIL));
    EXPECT_EQ(other.handle(), nullptr);
    EXPECT_FALSE(other.lastErrorText().empty());
    EXPECT_FALSE(other.isWindow());
}

TEST_F(NativeWindowTest, OuterSizeMakesTheClientAreaAsAsked) {
    RecordingWindow framed;
    ASSERT_EQ(framed.create(nullptr, WS_OVERLAPPEDWINDOW, WS_EX_TOOLWINDOW, u"Framed", {10, 10}, 321, 123),
              S_OK);
    EXPECT_EQ(framed.clientRect(), (Rect{0, 0, 321, 123}));
    EXPECT_GT(framed.windowRect().width, 321);
    RecordingWindow child;
    ASSERT_EQ(child.create(window.handle(), WS_CHILD | WS_VISIBLE, 0, u"Child", {5, 6}, 50, 40), S_OK);
    EXPECT_EQ(child.clientRect(), (Rect{0, 0, 50, 40}));
    EXPECT_EQ(child.clientToScreen({0, 0}), window.clientToScreen({5, 6}));
    EXPECT_EQ(child.screenToClient(window.clientToScreen({5, 6})), (Point{0, 0}));
    EXPECT_EQ(GetParent(child.handle()), window.handle());
}

TEST_F(NativeWindowTest, MouseMessagesCarryPositionAndFlags) {
    send(WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT, MAKELPARAM(10, 20));
    send(WM_LBUTTONUP, MK_SHIFT, MAKELPARAM(11, 21)); // the released button is no longer down
    send(WM_RBUTTONDOWN, MK_RBUTTON | MK_CONTROL, MAKELPARAM(30, 40));
    send(WM_RBUTTONUP, MK_CONTROL, MAKELPARAM(31, 41));
    send(WM_MOUSEMOVE, MK_LBUTTON | MK_MBUTTON, MAKELPARAM(5, 6));
    send(WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(7, 8));
    send(WM_RBUTTONDBLCLK, MK_RBUTTON, MAKELPARAM(9, 10));
    // Positions are the two 16-bit halves as they stand: -5 arrives as 65531.
    send(WM_MOUSEMOVE, 0, MAKELPARAM(-5, 7));
    const std::vector<Call> expected = {
        {"down", 10, 20, 1 | 64}, {"up", 11, 21, 1 | 64}, {"down", 30, 40, 4 | 8},
        {"up", 31, 41, 4 | 8},    {"context", 31, 41},    {"move", 5, 6, 1 | 2},
        {"double", 7, 8, 1},      {"double", 9, 10, 4},   {"move", 65531, 7, 0},
    };
    EXPECT_EQ(window.calls, expected);
}

TEST_F(NativeWindowTest, WheelCarriesSignedScreenPositionAndDelta) {
    send(WM_MOUSEWHEEL, MAKEWPARAM(MK_CONTROL, static_cast<WORD>(-WHEEL_DELTA)), MAKELPARAM(-3, 400));
    send(WM_MOUSEWHEEL, MAKEWPARAM(0, 2 * WHEEL_DELTA), MAKELPARAM(12, 34));
    const std::vector<Call> expected = {{"wheel", -3, 400, 8, -120}, {"wheel", 12, 34, 0, 240}};
    EXPECT_EQ(window.calls, expected);
}

TEST_F(NativeWindowTest, AltAndTheWindowsKeyComeFromTheKeyboardState) {
    BYTE saved[256], keys[256];
    ASSERT_TRUE(GetKeyboardState(saved));
    std::copy(std::begin(saved), std::end(saved), std::begin(keys));
    keys[VK_MENU] = 0x80;
    keys[VK_LWIN] = 0x80;
    ASSERT_TRUE(SetKeyboardState(keys));
    // Neither key is in the message.
    send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(1, 2));
    keys[VK_LWIN] = 0;
    SetKeyboardState(keys);
    send(WM_MOUSEMOVE, 0, MAKELPARAM(1, 2));
    SetKeyboardState(saved);
    send(WM_MOUSEMOVE, 0, MAKELPARAM(1, 2));
    const std::vector<Call> expected = {{"down", 1, 2, 1 | 16 | 32}, {"move", 1, 2, 16}, {"move", 1, 2, 0}};
    EXPECT_EQ(window.calls, expected);
}

TEST_F(NativeWindowTest, KeysArriveAsEditorCodesAndOthersNotAtAll) {
    send(WM_KEYDOWN, VK_F7, 0);
    send(WM_KEYDOWN, VK_F8, 0);
    send(WM_KEYDOWN, 'Q', 0);
    send(WM_KEYDOWN, VK_INSERT, 0); // no editor code: no call
    send(WM_KEYUP, VK_HOME, 0xC0000001);
    send(WM_KEYUP, VK_NUMPAD1, 0xC0000001);
    const std::vector<Call> expected = {{"keydown", 26}, {"keydown", 26}, {"keydown", 'Q'}, {"keyup", 10}};
    EXPECT_EQ(window.calls, expected);
    EXPECT_EQ(send(WM_GETDLGCODE, 0, 0), DLGC_WANTALLKEYS);
}

TEST_F(NativeWindowTest, TheOtherMessagesReachTheirHandlersWithTheirAnswers) {
    EXPECT_EQ(send(WM_ERASEBKGND, 0, 0), 1);
    RECT sizing{1, 2, 3, 4};
    EXPECT_EQ(send(WM_SIZING, WMSZ_BOTTOMRIGHT, reinterpret_cast<LPARAM>(&sizing)), 1);
    send(WM_SIZE, SIZE_RESTORED, MAKELPARAM(200, 120));
    send(NativeWindow::kJoystickMessage, 3, MAKELPARAM(44, 55));
    send(NativeWindow::kPrivateMessage, 17, 99);
    HELPINFO help{};
    help.cbSize = sizeof help;
    EXPECT_EQ(send(WM_HELP, 0, reinterpret_cast<LPARAM>(&help)), 1);
    send(WM_COMMAND, MAKEWPARAM(123, 0), 0);
    EXPECT_EQ(send(WM_DESTROY, 0, 0), 0);
    EXPECT_EQ(send(WM_HSCROLL, 0, 0), 0);
    send(WM_ACTIVATE, WA_INACTIVE, 0);
    const std::vector<Call> expected = {
        {"sizing", WMSZ_BOTTOMRIGHT, 1, 3},
        {"size", SIZE_RESTORED, 200, 120},
        {"joystick", 3, 44, 55},
        {"private", 17, 99},
        {"help"},
        {"command", 123},
        {"deactivated"},
    };
    EXPECT_EQ(window.calls, expected);

    // Maximizing from the system menu reports size type 2 with the message's position first.
    window.calls.clear();
    send(WM_SYSCOMMAND, SC_MAXIMIZE, MAKELPARAM(7, 9));
    ASSERT_FALSE(window.calls.empty());
    EXPECT_EQ(window.calls.front(), (Call{"size", 2, 7, 9}));
}

/// A control window that answers notifications it gets.
class NotifiedWindow : public NativeWindow {
public:
    int notifications = 0;

protected:
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_NOTIFY) {
            ++notifications;
            return 42;
        }
        return NativeWindow::handleMessage(message, wParam, lParam);
    }
};

TEST_F(NativeWindowTest, NotificationsGoBackToTheWindowTheyCameFrom) {
    NotifiedWindow child;
    ASSERT_EQ(child.create(window.handle(), WS_CHILD, 0, u"", {0, 0}, 10, 10), S_OK);
    NMHDR header{};
    header.hwndFrom = child.handle();
    header.code = TTN_SHOW;
    EXPECT_EQ(send(WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&header)), 42);
    EXPECT_EQ(child.notifications, 1);
    header.hwndFrom = window.handle(); // never back to itself
    EXPECT_EQ(send(WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&header)), 0);
    EXPECT_EQ(child.notifications, 1);
}

TEST_F(NativeWindowTest, TimersFocusAndPaintReachTheirHandlers) {
    ASSERT_TRUE(window.setTimer(77, 10));
    EXPECT_TRUE(test::pumpUntil([&] { return window.named("timer").size() >= 2; }));
    window.killTimer(77);
    test::settle();
    const size_t ticks = window.named("timer").size();
    test::pumpFor(60);
    EXPECT_EQ(window.named("timer").size(), ticks);
    EXPECT_EQ(window.named("timer").front().a, 77);

    window.bringToForeground();
    SetFocus(nullptr);
    test::settle();
    window.calls.clear();
    window.setKeyboardFocus();
    test::settle();
    EXPECT_EQ(GetFocus(), window.handle());
    EXPECT_EQ(window.named("focus").size(), 1u);
    SetFocus(nullptr);
    EXPECT_EQ(window.named("blur").size(), 1u);

    window.calls.clear();
    window.invalidate({10, 20, 30, 40});
    window.redrawNow();
    EXPECT_EQ(window.named("paint").size(), 1u);
    EXPECT_EQ(window.lastPaint, (Rect{10, 20, 30, 40}));
    EXPECT_NE(window.lastPaintDc, nullptr);

    EXPECT_TRUE(window.postMessage(NativeWindow::kPrivateMessage, 1, 2));
    test::settle();
    EXPECT_EQ(window.named("private").size(), 1u);
}

TEST_F(NativeWindowTest, DroppedFilesArriveAsPaths) {
    // A drop as the shell hands it over: DROPFILES followed by a double-null-terminated list.
    const std::wstring list = std::wstring(L"C:\\a.bmp") + L'\0' + L"D:\\skin\\b c.tsres" + L'\0' + L'\0';
    const size_t bytes = sizeof(DROPFILES) + list.size() * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GHND, bytes);
    ASSERT_NE(memory, nullptr);
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->pt = {12, 34};
    drop->fWide = TRUE;
    std::copy(list.begin(), list.end(),
              reinterpret_cast<wchar_t*>(reinterpret_cast<uint8_t*>(drop) + sizeof(DROPFILES)));
    GlobalUnlock(memory);
    send(WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0); // the window frees it
    ASSERT_EQ(window.named("drop").size(), 1u);
    EXPECT_EQ(window.named("drop").front(), (Call{"drop", 12, 34, 2}));
    EXPECT_EQ(window.dropped, (std::vector<std::u16string>{u"C:\\a.bmp", u"D:\\skin\\b c.tsres"}));
}

TEST_F(NativeWindowTest, DestroyingEndsWithTheDestroyedHandlerAndClearsTheHandle) {
    window.bringToForeground();
    window.setKeyboardFocus();
    const HWND handle = window.handle();
    DestroyWindow(handle);
    EXPECT_EQ(window.named("destroyed").size(), 1u);
    EXPECT_EQ(window.handle(), nullptr);
    EXPECT_FALSE(window.isWindow());
    EXPECT_NE(GetFocus(), handle);
    // The object can make a new window after its old one is gone.
    EXPECT_EQ(window.create(nullptr, WS_POPUP, 0, u"Again", {0, 0}, 20, 20), S_OK);
    EXPECT_TRUE(window.isWindow());
}

TEST_F(NativeWindowTest, RealKeyPressesReachTheFocusWindowAsEditorCodes) {
    window.bringToForeground();
    window.setKeyboardFocus();
    test::settle();
    window.calls.clear();
    test::tapKey(VK_F7);
    test::tapKey(VK_F8);
    test::tapKey(VK_NEXT);
    const std::vector<Call> expected = {{"keydown", 26}, {"keyup", 26},   {"keydown", 26},
                                        {"keyup", 26},   {"keydown", 13}, {"keyup", 13}};
    EXPECT_EQ(window.named("keydown").size() + window.named("keyup").size(), 6u);
    std::vector<Call> keys;
    for (const Call& call : window.calls)
        if (call.what == "keydown" || call.what == "keyup")
            keys.push_back(call);
    EXPECT_EQ(keys, expected);
}

} // namespace
} // namespace pellucer::gui
