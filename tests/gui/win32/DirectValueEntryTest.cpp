// Direct value entry: the edit box over its control, what each way of ending it applies, the keys
// it lets through, its balloons (seen as EM_SHOWBALLOONTIP: Wine draws none), and its keyboard hook.

#include "Shared/GUI/Win32/DirectValueEntry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <vector>

#include "Shared/GUI/Win32/KeyboardHook.h"
#include "Shared/GUI/Win32/NativeWindow.h"
#include "tests/gui/win32/EditorTestSupport.h"

namespace pellucer::gui {
namespace {

TEST(DirectValueEntryText, ReadsTheLeadingNumberAsAtofDoesAndWritesOneDecimal) {
    const double inf = std::numeric_limits<double>::infinity();
    // clang-format off
    const std::pair<const char16_t*, double> cases[] = {
        {u"7", 7.0},       {u"-12.5", -12.5}, {u"  3.25abc", 3.25}, {u"\t+4", 4.0},       {u".5", 0.5},
        {u"5.", 5.0},      {u"-.25", -0.25},  {u"2.5E-2", 0.025},   {u"1e", 1.0},         {u"3e-x", 3.0},
        {u"50%", 50.0},    {u"1'000", 1.0},   {u"1.5.5", 1.5},      {u"", 0.0},           {u"-.", 0.0},
        {u"abc", 0.0},     {u"- 3", 0.0},     {u"1e-999", 0.0},     {u"0.000e400", 0.0},  {u"1e999", inf},
        {u"-1e999", -inf}, {u"0.001e312", inf}, {u"1000e-330", 0.0}};
    const std::pair<double, const char16_t*> written[] = {
        {3.5, u"3.5"}, {-12.0, u"-12.0"}, {2.26, u"2.3"}, {-0.04, u"-0.0"}, {1e20, u"100000000000000000000.0"}};
    // clang-format on
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(DirectValueEntry::parseLeadingNumber(text), expected) << win32::wide(text);
    // Only the box's first 260 characters are read; a long text is still one number.
    EXPECT_EQ(DirectValueEntry::parseLeadingNumber(std::u16string(200, u'0') + u"42"), 42.0);
    for (const auto& [value, expected] : written)
        EXPECT_EQ(DirectValueEntry::formatValue(value), expected) << value;
}

/// Every EM_SHOWBALLOONTIP sent in this thread, seen through a thread hook.
class BalloonWatch {
public:
    struct Balloon {
        HWND window;
        std::u16string title, text;
        INT icon;
        bool operator==(const Balloon&) const = default;
    };
    BalloonWatch() : hook_(SetWindowsHookExW(WH_CALLWNDPROC, &sent, nullptr, GetCurrentThreadId())) {
        balloons.clear();
    }
    ~BalloonWatch() { UnhookWindowsHookEx(hook_); }
    bool hooked() const { return hook_ != nullptr; }
    static inline std::vector<Balloon> balloons;

private:
    static LRESULT CALLBACK sent(int code, WPARAM wParam, LPARAM lParam) {
        const auto* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (code == HC_ACTION && message->message == EM_SHOWBALLOONTIP && message->lParam != 0) {
            const auto* tip = reinterpret_cast<const EDITBALLOONTIP*>(message->lParam);
            balloons.push_back(
                {message->hwnd, win32::fromWide(tip->pszTitle), win32::fromWide(tip->pszText), tip->ttiIcon});
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    HHOOK hook_;
};

class DirectValueEntryTest : public ::testing::Test {
protected:
    static constexpr Rect kControlRect{120, 60, 83, 17};

    void SetUp() override {
        ASSERT_TRUE(lock.held());
        ASSERT_TRUE(watch.hooked());
        makeWindows();
    }
    void TearDown() override {
        DirectValueEntry::cancel();
        // Whatever a test did, the hook goes with the box.
        EXPECT_EQ(DirectValueEntry::box(), nullptr);
        EXPECT_FALSE(keyboardhook::installed());
        EXPECT_EQ(keyboardhook::target(), nullptr);
    }

    /// The host's window, the editor's window in it, and another edit box beside it.
    void makeWindows() {
        ASSERT_EQ(owner.create(nullptr, WS_POPUP | WS_VISIBLE, 0, u"Owner", {40, 40}, 400, 240), S_OK);
        ASSERT_EQ(frame.create(owner.handle(), WS_CHILD | WS_VISIBLE, 0, u"Frame", {0, 0}, 400, 200), S_OK);
        elsewhere = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_BORDER, 10, 210, 120, 20,
                                    owner.handle(), nullptr, nullptr, nullptr);
        ASSERT_NE(elsewhere, nullptr);
        owner.bringToForeground();
        test::settle();
        BalloonWatch::balloons.clear();
    }
    /// Opens the box over `control` on the frame with display range -24..24.
    bool open(Control& over, double displayValue = 3.5) {
        return DirectValueEntry::begin(over, frame.handle(), font, -24.0, 24.0, displayValue,
                                       [this](double display, float normalised) {
                                           applied.push_back({display, normalised});
                                       });
    }
    static std::u16string textOf(HWND window) {
        wchar_t buffer[300] = {};
        GetWindowTextW(window, buffer, 300);
        return win32::fromWide(buffer);
    }
    static void type(HWND box, const std::string& text) {
        for (char c : text)
            SendMessageW(box, WM_CHAR, static_cast<WPARAM>(c), 0);
    }
    void expectClosed(HWND box) {
        EXPECT_FALSE(IsWindow(box));
        EXPECT_EQ(DirectValueEntry::box(), nullptr);
        EXPECT_FALSE(keyboardhook::installed());
    }

    test::WindowTestLock lock;
    BalloonWatch watch;
    NativeWindow owner;
    NativeWindow frame;
    HWND elsewhere = nullptr;
    HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    Control control{57, kControlRect, 1};
    std::vector<std::pair<double, float>> applied;
};

TEST_F(DirectValueEntryTest, OpensAnEditBoxOverTheControlWithTheValueSelected) {
    ASSERT_TRUE(open(control, 3.5));
    HWND box = DirectValueEntry::box();
    ASSERT_NE(box, nullptr);
    const DWORD style = WS_CHILD | WS_VISIBLE | ES_WANTRETURN | ES_AUTOHSCROLL | ES_RIGHT;
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(box, GWL_STYLE)) & style, style);
    // A border (which the edit control draws itself) sets the box off from what it covers.
    test::settle();
    const PixelBuffer shown = test::captureWindow(box);
    EXPECT_NE(test::rgbAt(shown, 0, 9), test::rgbAt(shown, 3, 9));
    EXPECT_EQ(GetParent(box), frame.handle());
    // At the control's left - 2 and top - 4, 4 pixels narrower, 18 high.
    RECT r{};
    GetWindowRect(box, &r);
    MapWindowPoints(nullptr, frame.handle(), reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(win32::fromRect(r), (Rect{118, 56, 79, 18}));
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(box, WM_GETFONT, 0, 0)), font);
    EXPECT_EQ(textOf(box), u"3.5");
    DWORD start = 99, end = 99;
    SendMessageW(box, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(std::pair(start, end), std::pair(DWORD{0}, DWORD{3}));
    EXPECT_EQ(GetFocus(), box);
    EXPECT_EQ(BalloonWatch::balloons, (std::vector<BalloonWatch::Balloon>{
                                          {box, u"Direct Parameter Value Entry",
                                           u"Please type in the desired parameter value", TTI_INFO}}));
    EXPECT_TRUE(keyboardhook::installed());
    EXPECT_EQ(keyboardhook::target(), box);
    // Real keys replace the selected value.
    test::tapKey('7');
    EXPECT_EQ(textOf(box), u"7");
    EXPECT_TRUE(applied.empty());
}

TEST_F(DirectValueEntryTest, EnterAppliesTheTypedNumberClampedToTheRangeAndNormalised) {
    struct Case {
        const char* typed;
        double display;
        float normalised;
    };
    // No number at all counts as 0, the middle of -24..24.
    for (const Case& c : {Case{"7", 7.0, 31.0f / 48.0f}, Case{"100", 24.0, 1.0f}, Case{"-30.5", -24.0, 0.0f},
                          Case{"-", 0.0, 0.5f}}) {
        applied.clear();
        ASSERT_TRUE(open(control, -12.0));
        HWND box = DirectValueEntry::box();
        SendMessageW(box, EM_SETSEL, 0, -1);
        type(box, c.typed);
        test::tapKey(VK_RETURN);
        expectClosed(box);
        ASSERT_EQ(applied.size(), 1u) << c.typed; // once, although the hook saw Enter's release too
        EXPECT_EQ(applied[0].first, c.display) << c.typed;
        EXPECT_FLOAT_EQ(applied[0].second, c.normalised) << c.typed;
    }
    // The caller's range is the one applied; a range of one value applies it, normalised to 0;
    // a reversed or undefined range, or a control in a gesture, opens nothing.
    const auto record = [&](double display, float normalised) { applied.emplace_back(display, normalised); };
    applied.clear();
    ASSERT_TRUE(DirectValueEntry::begin(control, frame.handle(), font, -100.0, 22000.0, 440.0, record));
    SendMessageW(DirectValueEntry::box(), EM_SETSEL, 0, -1);
    type(DirectValueEntry::box(), "1234.5\r");
    ASSERT_TRUE(DirectValueEntry::begin(control, frame.handle(), font, 5.0, 5.0, 5.0, record));
    type(DirectValueEntry::box(), "\r");
    const std::vector<std::pair<double, float>> expected = {{1234.5, static_cast<float>(1334.5 / 22100.0)},
                                                            {5.0, 0.0f}};
    EXPECT_EQ(applied, expected);
    EXPECT_FALSE(DirectValueEntry::begin(control, frame.handle(), font, 1.0, 0.0, 0.5, record));
    EXPECT_FALSE(DirectValueEntry::begin(control, frame.handle(), font, std::nan(""), 1.0, 0.5, record));
    EXPECT_FALSE(DirectValueEntry::begin(control, nullptr, font, 0.0, 1.0, 0.5, record));
    control.beginEdit();
    EXPECT_FALSE(open(control));
    control.endEdit();
    EXPECT_EQ(FindWindowExW(frame.handle(), nullptr, L"Edit", nullptr), nullptr);
}

TEST_F(DirectValueEntryTest, LeavingTheBoxAppliesItEscapeAndTheWindowsEndDoNot) {
    struct Case {
        const char* how;
        std::function<void()> end;
        bool applies;
    };
    const Case cases[] = {
        {"Escape", [] { test::tapKey(VK_ESCAPE); }, false},
        {"a click elsewhere",
         [this] {
             test::clickAt(test::screenPoint(elsewhere, 20, 10));
             EXPECT_EQ(GetFocus(), elsewhere);
         },
         true},
        {"the frame destroyed", [this] { frame.destroyWindow(); }, false},
        {"the top window destroyed", [this] { owner.destroyWindow(); }, false},
    };
    for (const Case& c : cases) {
        applied.clear();
        if (!owner.isWindow() || !frame.isWindow()) {
            owner.destroyWindow();
            makeWindows();
        }
        ASSERT_TRUE(open(control));
        HWND box = DirectValueEntry::box();
        SendMessageW(box, EM_SETSEL, 0, -1);
        type(box, "12");
        c.end();
        test::settle();
        expectClosed(box);
        EXPECT_EQ(applied, (c.applies ? std::vector<std::pair<double, float>>{{12.0, 0.75f}}
                                      : std::vector<std::pair<double, float>>{}))
            << c.how;
    }
}

TEST_F(DirectValueEntryTest, OnlyNumericAndEditingCharactersReachTheBox) {
    ASSERT_TRUE(open(control));
    HWND box = DirectValueEntry::box();
    BalloonWatch::balloons.clear();
    test::tapKey('A'); // a real key: swallowed, with the balloon
    EXPECT_EQ(textOf(box), u"3.5");
    EXPECT_EQ(BalloonWatch::balloons,
              (std::vector<BalloonWatch::Balloon>{
                  {box, u"Invalid key", u"Please use numeric keys to enter the parameter value [0..9]",
                   TTI_ERROR}}));
    // Every character but Enter and Escape, from an empty box: the editing controls (copy 0x03,
    // backspace 0x08, 0x0C, 0x10, paste 0x16 with an empty clipboard, cut 0x18, undo 0x1A) and
    // the printable ones below reach the edit control, every other one brings the balloon.
    if (OpenClipboard(owner.handle())) {
        EmptyClipboard();
        CloseClipboard();
    }
    SetWindowTextW(box, L"");
    const std::u16string printable = u"%'-.0123456789";
    const std::u16string editing = u"\x03\x08\x0C\x10\x16\x18\x1A";
    for (char16_t c = 1; c < 0x100; ++c) {
        if (c == VK_RETURN || c == VK_ESCAPE)
            continue;
        BalloonWatch::balloons.clear();
        SendMessageW(box, WM_CHAR, c, 0);
        const bool accepted =
            printable.find(c) != std::u16string::npos || editing.find(c) != std::u16string::npos;
        EXPECT_EQ(BalloonWatch::balloons.size(), accepted ? 0u : 1u) << "character " << int(c);
        if (c == 0x18 || c == 0x1A)
            SetWindowTextW(box, L""); // empty still: whatever cut or undo did is put back
    }
    EXPECT_EQ(textOf(box), printable);
    EXPECT_TRUE(applied.empty());
}

/// Dispatches the thread's messages for 100 ms as a host that keeps every key to itself: key
/// messages are taken from the queue (which runs the keyboard hooks) and dropped.
void pumpSwallowingKeys() {
    const ULONGLONG end = GetTickCount64() + 100;
    do {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            if (message.message < WM_KEYFIRST || message.message > WM_KEYLAST)
                DispatchMessageW(&message);
        Sleep(1);
    } while (GetTickCount64() < end);
}

TEST_F(DirectValueEntryTest, TheHookHandsEnterAndEscapeToTheBoxPastAHostThatSwallowsThem) {
    for (WORD key : {WORD{VK_RETURN}, WORD{VK_ESCAPE}, WORD{'A'}}) {
        applied.clear();
        ASSERT_TRUE(open(control));
        HWND box = DirectValueEntry::box();
        type(box, "5");
        SendInput(2, std::vector{test::keyInput(key, false), test::keyInput(key, true)}.data(),
                  sizeof(INPUT));
        pumpSwallowingKeys();
        EXPECT_EQ(IsWindow(box) != FALSE, key == 'A')
            << key; // other keys pass the hook without reaching the box
        EXPECT_EQ(applied.size(), key == VK_RETURN ? 1u : 0u) << key;
        DirectValueEntry::cancel();
    }
    // The hook acts on a key's second call (lParam bit 30: the key was down), taken from the queue.
    ASSERT_TRUE(open(control));
    KeyboardProc(HC_ACTION, VK_RETURN, 1);
    KeyboardProc(HC_NOREMOVE, VK_RETURN, (LPARAM{1} << 30) | 1);
    EXPECT_NE(DirectValueEntry::box(), nullptr);
}

} // namespace
} // namespace pellucer::gui
