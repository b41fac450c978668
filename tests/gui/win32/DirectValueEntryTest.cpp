// Direct value entry in a real window under Wine: the edit box as created, typing with real keys
// (SendInput), what is applied on Enter, focus loss and Escape, the characters the box lets
// through, the balloons it asks for (seen as EM_SHOWBALLOONTIP reaching the box: Wine draws
// none), the keyboard hook that hands Enter and Escape to the box past a host that swallows
// them, and the box's end in every path. Also the number reading and formatting, and the
// hook's exports from the built plug-in module.

#include "Shared/GUI/Win32/DirectValueEntry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "Shared/GUI/Win32/KeyboardHook.h"
#include "Shared/GUI/Win32/NativeWindow.h"
#include "tests/gui/win32/Win32TestSupport.h"

namespace pellucer::gui {
namespace {

// -- reading and formatting numbers ---------------------------------------------------------------

TEST(DirectValueEntryText, ReadsTheLeadingNumberAsAtofDoes) {
    const std::vector<std::pair<std::u16string, double>> cases = {
        {u"7", 7.0},          {u"-12.5", -12.5},
        {u"  3.25abc", 3.25}, {u"\t+4", 4.0},
        {u".5", 0.5},         {u"5.", 5.0},
        {u"-.25", -0.25},     {u"1e3", 1000.0},
        {u"2.5E-2", 0.025},   {u"1e", 1.0},
        {u"1e+", 1.0},        {u"3e-x", 3.0},
        {u"50%", 50.0},       {u"1'000", 1.0},
        {u"1.5.5", 1.5},      {u"007", 7.0},
        {u"", 0.0},           {u"-", 0.0},
        {u".", 0.0},          {u"-.", 0.0},
        {u"abc", 0.0},        {u"%12", 0.0},
        {u"- 3", 0.0},        {u"1e-999", 0.0},
        {u"0.000e400", 0.0},  {u"22000.04", 22000.04}};
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(DirectValueEntry::parseLeadingNumber(text), expected)
            << std::string(text.begin(), text.end());
    const double infinity = std::numeric_limits<double>::infinity();
    EXPECT_EQ(DirectValueEntry::parseLeadingNumber(u"1e999"), infinity);
    EXPECT_EQ(DirectValueEntry::parseLeadingNumber(u"-1e999"), -infinity);
    EXPECT_EQ(DirectValueEntry::parseLeadingNumber(u"0.001e312"), infinity);
    EXPECT_EQ(DirectValueEntry::parseLeadingNumber(u"1000e-330"), 0.0);
    // Only the first 260 characters are read from the box; a long text is still one number.
    EXPECT_EQ(DirectValueEntry::parseLeadingNumber(std::u16string(200, u'0') + u"42"), 42.0);
}

TEST(DirectValueEntryText, FormatsOneDecimalInFixedNotation) {
    EXPECT_EQ(DirectValueEntry::formatValue(3.5), u"3.5");
    EXPECT_EQ(DirectValueEntry::formatValue(-12.0), u"-12.0");
    EXPECT_EQ(DirectValueEntry::formatValue(0.0), u"0.0");
    EXPECT_EQ(DirectValueEntry::formatValue(22000.0), u"22000.0");
    EXPECT_EQ(DirectValueEntry::formatValue(2.26), u"2.3");
    EXPECT_EQ(DirectValueEntry::formatValue(-0.04), u"-0.0");
    EXPECT_EQ(DirectValueEntry::formatValue(1e20), u"100000000000000000000.0");
    // What the box shows reads back as the value, to its one decimal.
    for (double value : {-100.0, -24.0, -0.5, 0.1, 7.0, 440.0, 21999.9})
        EXPECT_DOUBLE_EQ(DirectValueEntry::parseLeadingNumber(DirectValueEntry::formatValue(value)), value);
}

TEST(DirectValueEntryText, AcceptsExactlyTheNumericAndEditingCharacters) {
    const std::vector<WPARAM> accepted = {0x03, 0x08, 0x0C, 0x10, 0x16, 0x18, 0x1A, '%', '\'', '-', '.',
                                          '0',  '1',  '2',  '3',  '4',  '5',  '6',  '7', '8',  '9'};
    for (WPARAM c = 0; c < 0x10000; ++c) {
        const bool expected = std::find(accepted.begin(), accepted.end(), c) != accepted.end();
        EXPECT_EQ(DirectValueEntry::acceptsCharacter(c), expected) << "character " << c;
    }
}

// -- the box in a window --------------------------------------------------------------------------

/// A value control whose gesture flags a test can set.
class EntryControl : public Control {
public:
    EntryControl(int32_t id, const Rect& rect) : Control(id, rect, 1) {}
    void setTracking(bool tracking) { tracking_ = tracking; }
};

/// Every EM_SHOWBALLOONTIP sent in this thread, and every window created in it, seen through
/// thread hooks (the balloon itself never appears under Wine).
class ThreadWatch {
public:
    struct Balloon {
        HWND window;
        std::u16string title;
        std::u16string text;
        INT icon;
    };
    struct Creation {
        std::u16string className;
        std::u16string title;
        DWORD style;
        DWORD extendedStyle;
        int x, y, width, height;
        HWND parent;
    };

    ThreadWatch() {
        balloons_.clear();
        creations_.clear();
        messageHook_ = SetWindowsHookExW(WH_CALLWNDPROC, &sentMessage, nullptr, GetCurrentThreadId());
        creationHook_ = SetWindowsHookExW(WH_CBT, &cbt, nullptr, GetCurrentThreadId());
    }
    ~ThreadWatch() {
        UnhookWindowsHookEx(messageHook_);
        UnhookWindowsHookEx(creationHook_);
    }
    ThreadWatch(const ThreadWatch&) = delete;
    ThreadWatch& operator=(const ThreadWatch&) = delete;

    bool hooked() const { return messageHook_ != nullptr && creationHook_ != nullptr; }
    std::vector<Balloon>& balloons() { return balloons_; }
    std::vector<Creation>& creations() { return creations_; }

private:
    static LRESULT CALLBACK sentMessage(int code, WPARAM wParam, LPARAM lParam) {
        const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (code == HC_ACTION && sent->message == EM_SHOWBALLOONTIP && sent->lParam != 0) {
            const auto* tip = reinterpret_cast<const EDITBALLOONTIP*>(sent->lParam);
            balloons_.push_back(
                {sent->hwnd, win32::fromWide(tip->pszTitle), win32::fromWide(tip->pszText), tip->ttiIcon});
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static LRESULT CALLBACK cbt(int code, WPARAM wParam, LPARAM lParam) {
        if (code == HCBT_CREATEWND) {
            const CREATESTRUCTW* create = reinterpret_cast<const CBT_CREATEWNDW*>(lParam)->lpcs;
            wchar_t className[64] = {};
            GetClassNameW(reinterpret_cast<HWND>(wParam), className, 64);
            creations_.push_back({win32::fromWide(className), win32::fromWide(create->lpszName),
                                  static_cast<DWORD>(create->style), create->dwExStyle, create->x, create->y,
                                  create->cx, create->cy, create->hwndParent});
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    static inline std::vector<Balloon> balloons_;
    static inline std::vector<Creation> creations_;
    HHOOK messageHook_ = nullptr;
    HHOOK creationHook_ = nullptr;
};

struct Applied {
    double display;
    float normalised;
};

class DirectValueEntryTest : public ::testing::Test {
protected:
    static constexpr Rect kControlRect{120, 60, 83, 17};

    void SetUp() override {
        ASSERT_TRUE(lock.held());
        ASSERT_TRUE(watch.hooked());
        ASSERT_EQ(owner.create(nullptr, WS_POPUP | WS_VISIBLE, 0, u"Owner", {40, 40}, 400, 240), S_OK);
        ASSERT_EQ(frame.create(owner.handle(), WS_CHILD | WS_VISIBLE, 0, u"Frame", {0, 0}, 400, 200), S_OK);
        elsewhere = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_BORDER, 10, 210, 120, 20,
                                    owner.handle(), nullptr, nullptr, nullptr);
        ASSERT_NE(elsewhere, nullptr);
        owner.bringToForeground();
        test::settle();
        watch.creations().clear();
        watch.balloons().clear();
    }

    void TearDown() override {
        DirectValueEntry::cancel();
        // Whatever a test did, the hook goes with the box.
        EXPECT_EQ(DirectValueEntry::box(), nullptr);
        EXPECT_FALSE(keyboardhook::installed());
        EXPECT_EQ(keyboardhook::target(), nullptr);
    }

    /// Opens the box over `control` on the frame with display range -24..24.
    bool open(EntryControl& control, double displayValue = 3.5) {
        return DirectValueEntry::begin(control, frame.handle(), font, -24.0, 24.0, displayValue,
                                       [this](double display, float normalised) {
                                           applied.push_back({display, normalised});
                                       });
    }

    static std::u16string textOf(HWND window) {
        wchar_t buffer[300] = {};
        GetWindowTextW(window, buffer, 300);
        return win32::fromWide(buffer);
    }

    /// Types `text` into the focused window, one real key per character (digits, '-', '.').
    static void type(const std::string& text) {
        for (char c : text)
            test::tapKey(c == '-' ? VK_OEM_MINUS : c == '.' ? VK_OEM_PERIOD : static_cast<WORD>(c));
    }

    test::WindowTestLock lock;
    ThreadWatch watch;
    NativeWindow owner;
    NativeWindow frame;
    HWND elsewhere = nullptr;
    HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    EntryControl control{57, kControlRect};
    std::vector<Applied> applied;
};

TEST_F(DirectValueEntryTest, OpensAnEditBoxOverTheControlWithTheValueSelected) {
    ASSERT_TRUE(open(control, 3.5));
    HWND box = DirectValueEntry::box();
    ASSERT_NE(box, nullptr);
    ASSERT_EQ(watch.creations().size(), 1u);
    const ThreadWatch::Creation& created = watch.creations()[0];
    EXPECT_EQ(created.className, u"Edit");
    EXPECT_EQ(created.title, u"");
    EXPECT_EQ(created.style, static_cast<DWORD>(WS_CHILD | WS_VISIBLE | WS_BORDER | ES_WANTRETURN |
                                                ES_AUTOHSCROLL | ES_RIGHT));
    EXPECT_EQ(created.extendedStyle, 0u);
    EXPECT_EQ(created.parent, frame.handle());
    EXPECT_EQ(GetParent(box), frame.handle());
    // At the control's left - 2 and top - 4, 4 pixels narrower, 18 high.
    RECT r{};
    GetWindowRect(box, &r);
    MapWindowPoints(nullptr, frame.handle(), reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(win32::fromRect(r), (Rect{118, 56, 79, 18}));

    EXPECT_EQ(textOf(box), u"3.5");
    DWORD start = 99, end = 99;
    SendMessageW(box, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, 3u);
    EXPECT_EQ(GetFocus(), box);
    EXPECT_TRUE(IsWindowVisible(box));
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(box, WM_GETFONT, 0, 0)), font);
    EXPECT_EQ(GetWindowLongPtrW(box, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(&control));

    ASSERT_EQ(watch.balloons().size(), 1u);
    EXPECT_EQ(watch.balloons()[0].window, box);
    EXPECT_EQ(watch.balloons()[0].title, u"Direct Parameter Value Entry");
    EXPECT_EQ(watch.balloons()[0].text, u"Please type in the desired parameter value");
    EXPECT_EQ(watch.balloons()[0].icon, TTI_INFO);

    EXPECT_TRUE(keyboardhook::installed());
    EXPECT_EQ(keyboardhook::target(), box);
    EXPECT_TRUE(applied.empty());

    // A negative value with its one decimal.
    DirectValueEntry::cancel();
    ASSERT_TRUE(open(control, -12.0));
    EXPECT_EQ(textOf(DirectValueEntry::box()), u"-12.0");
}

TEST_F(DirectValueEntryTest, EnterAppliesTheTypedNumberClampedAndNormalised) {
    ASSERT_TRUE(open(control));
    HWND box = DirectValueEntry::box();
    type("7");
    EXPECT_EQ(textOf(box), u"7"); // the typed key replaced the selected value
    test::tapKey(VK_RETURN);
    ASSERT_EQ(applied.size(), 1u); // once, although the hook saw Enter's release too
    EXPECT_EQ(applied[0].display, 7.0);
    EXPECT_EQ(applied[0].normalised, static_cast<float>(31.0 / 48.0));
    EXPECT_FALSE(IsWindow(box));
    EXPECT_EQ(DirectValueEntry::box(), nullptr);
    EXPECT_FALSE(keyboardhook::installed());
    EXPECT_EQ(keyboardhook::target(), nullptr);

    ASSERT_TRUE(open(control));
    type("100");
    test::tapKey(VK_RETURN);
    ASSERT_EQ(applied.size(), 2u);
    EXPECT_EQ(applied[1].display, 24.0);
    EXPECT_EQ(applied[1].normalised, 1.0f);

    ASSERT_TRUE(open(control));
    type("-30.5");
    test::tapKey(VK_RETURN);
    ASSERT_EQ(applied.size(), 3u);
    EXPECT_EQ(applied[2].display, -24.0);
    EXPECT_EQ(applied[2].normalised, 0.0f);

    // No number at all counts as 0: the middle of this range.
    ASSERT_TRUE(open(control));
    type("-");
    test::tapKey(VK_RETURN);
    ASSERT_EQ(applied.size(), 4u);
    EXPECT_EQ(applied[3].display, 0.0);
    EXPECT_EQ(applied[3].normalised, 0.5f);
}

TEST_F(DirectValueEntryTest, TheRangeOfTheCallerIsTheOneApplied) {
    // The strip's readout range, with an unclamped number inside it.
    std::vector<Applied> seen;
    const auto record = [&](double display, float normalised) { seen.push_back({display, normalised}); };
    ASSERT_TRUE(DirectValueEntry::begin(control, frame.handle(), font, -100.0, 22000.0, 440.0, record));
    EXPECT_EQ(textOf(DirectValueEntry::box()), u"440.0");
    SendMessageW(DirectValueEntry::box(), EM_SETSEL, 0, -1);
    for (char c : std::string("1234.5"))
        SendMessageW(DirectValueEntry::box(), WM_CHAR, static_cast<WPARAM>(c), 0);
    SendMessageW(DirectValueEntry::box(), WM_CHAR, VK_RETURN, 0);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].display, 1234.5);
    EXPECT_EQ(seen[0].normalised, static_cast<float>((1234.5 + 100.0) / 22100.0));

    // A range of one value applies that value, normalised to 0.
    ASSERT_TRUE(DirectValueEntry::begin(control, frame.handle(), font, 5.0, 5.0, 5.0, record));
    SendMessageW(DirectValueEntry::box(), WM_CHAR, VK_RETURN, 0);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].display, 5.0);
    EXPECT_EQ(seen[1].normalised, 0.0f);

    // A reversed or undefined range opens nothing.
    EXPECT_FALSE(DirectValueEntry::begin(control, frame.handle(), font, 1.0, 0.0, 0.5, record));
    EXPECT_FALSE(DirectValueEntry::begin(control, frame.handle(), font, std::nan(""), 1.0, 0.5, record));
    EXPECT_FALSE(DirectValueEntry::begin(control, nullptr, font, 0.0, 1.0, 0.5, record));
    EXPECT_EQ(DirectValueEntry::box(), nullptr);
}

TEST_F(DirectValueEntryTest, OtherKeysAreSwallowedWithTheInvalidKeyBalloon) {
    ASSERT_TRUE(open(control));
    HWND box = DirectValueEntry::box();
    watch.balloons().clear();
    test::tapKey('A');
    EXPECT_EQ(textOf(box), u"3.5"); // unchanged, the selection too
    ASSERT_EQ(watch.balloons().size(), 1u);
    EXPECT_EQ(watch.balloons()[0].window, box);
    EXPECT_EQ(watch.balloons()[0].title, u"Invalid key");
    EXPECT_EQ(watch.balloons()[0].text, u"Please use numeric keys to enter the parameter value [0..9]");
    EXPECT_EQ(watch.balloons()[0].icon, TTI_ERROR);
    EXPECT_TRUE(IsWindow(box));

    // Every character but Enter and Escape: the accepted ones reach the edit control (the
    // printable ones appear in its text), every other one is swallowed with the balloon.
    if (OpenClipboard(owner.handle())) { // paste (0x16) then has nothing to insert
        EmptyClipboard();
        CloseClipboard();
    }
    SetWindowTextW(box, L"");
    for (WPARAM c = 1; c < 0x100; ++c) {
        if (c == VK_RETURN || c == VK_ESCAPE || c == 0x18 || c == 0x1A)
            continue; // cut and undo would rewrite the text being checked; see below
        watch.balloons().clear();
        const std::u16string before = textOf(box);
        SendMessageW(box, WM_CHAR, c, 0);
        if (DirectValueEntry::acceptsCharacter(c)) {
            EXPECT_TRUE(watch.balloons().empty()) << "character " << c;
            if (c >= 0x20) {
                EXPECT_EQ(textOf(box), before + static_cast<char16_t>(c)) << "character " << c;
            }
        } else {
            EXPECT_EQ(watch.balloons().size(), 1u) << "character " << c;
            EXPECT_EQ(textOf(box), before) << "character " << c;
        }
    }
    EXPECT_EQ(textOf(box), u"%'-.0123456789");
    for (WPARAM c : {WPARAM{0x18}, WPARAM{0x1A}}) {
        watch.balloons().clear();
        SendMessageW(box, WM_CHAR, c, 0);
        EXPECT_TRUE(watch.balloons().empty()) << "character " << c;
    }
    EXPECT_TRUE(IsWindow(box));
    EXPECT_TRUE(applied.empty());
}

TEST_F(DirectValueEntryTest, EscapeClosesWithoutApplying) {
    ASSERT_TRUE(open(control));
    HWND box = DirectValueEntry::box();
    type("9");
    test::tapKey(VK_ESCAPE);
    EXPECT_FALSE(IsWindow(box));
    EXPECT_EQ(DirectValueEntry::box(), nullptr);
    EXPECT_FALSE(keyboardhook::installed());
    test::settle();
    EXPECT_TRUE(applied.empty());
}

TEST_F(DirectValueEntryTest, ClickingElsewhereAppliesAsEnterDoes) {
    ASSERT_TRUE(open(control));
    HWND box = DirectValueEntry::box();
    type("12");
    test::clickAt(test::screenPoint(elsewhere, 20, 10));
    EXPECT_EQ(GetFocus(), elsewhere);
    ASSERT_EQ(applied.size(), 1u);
    EXPECT_EQ(applied[0].display, 12.0);
    EXPECT_EQ(applied[0].normalised, 0.75f);
    EXPECT_FALSE(IsWindow(box));
    EXPECT_FALSE(keyboardhook::installed());
}

TEST_F(DirectValueEntryTest, NothingOpensDuringAGesture) {
    control.beginEdit();
    EXPECT_FALSE(open(control));
    control.endEdit();
    control.setTracking(true);
    EXPECT_FALSE(open(control));
    EXPECT_TRUE(watch.creations().empty());
    EXPECT_TRUE(watch.balloons().empty());
    EXPECT_EQ(DirectValueEntry::box(), nullptr);
    EXPECT_FALSE(keyboardhook::installed());
    control.setTracking(false);
    EXPECT_TRUE(open(control));
}

/// Dispatches the thread's messages for `milliseconds` as a host that keeps every key to
/// itself: key messages are taken from the queue (which runs the keyboard hooks) and dropped.
void pumpSwallowingKeys(uint32_t milliseconds) {
    const ULONGLONG end = GetTickCount64() + milliseconds;
    do {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message >= WM_KEYFIRST && message.message <= WM_KEYLAST)
                continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(1);
    } while (GetTickCount64() < end);
}

TEST_F(DirectValueEntryTest, TheHookHandsEnterAndEscapeToTheBoxPastAHostThatSwallowsThem) {
    ASSERT_TRUE(open(control));
    HWND box = DirectValueEntry::box();
    SendMessageW(box, WM_CHAR, '5', 0);
    test::sendInputs({test::keyInput(VK_RETURN, false), test::keyInput(VK_RETURN, true)});
    pumpSwallowingKeys(100);
    ASSERT_EQ(applied.size(), 1u);
    EXPECT_EQ(applied[0].display, 5.0);
    EXPECT_FALSE(IsWindow(box));
    EXPECT_FALSE(keyboardhook::installed());

    ASSERT_TRUE(open(control));
    box = DirectValueEntry::box();
    SendMessageW(box, WM_CHAR, '8', 0);
    test::sendInputs({test::keyInput(VK_ESCAPE, false), test::keyInput(VK_ESCAPE, true)});
    pumpSwallowingKeys(100);
    EXPECT_FALSE(IsWindow(box));
    EXPECT_EQ(applied.size(), 1u);

    // Other keys pass the hook without reaching the box.
    ASSERT_TRUE(open(control));
    box = DirectValueEntry::box();
    test::sendInputs({test::keyInput('A', false), test::keyInput('A', true)});
    pumpSwallowingKeys(100);
    EXPECT_TRUE(IsWindow(box));
    EXPECT_EQ(textOf(box), u"3.5");
}

TEST_F(DirectValueEntryTest, TheHookProcedureSendsOnlyTheSecondCallOfEnterOrEscape) {
    constexpr LPARAM kWasDown = LPARAM{1} << 30;
    ASSERT_TRUE(open(control));
    HWND box = DirectValueEntry::box();
    SendMessageW(box, WM_CHAR, '2', 0);
    KeyboardProc(HC_ACTION, VK_RETURN, 1);              // first call of the key
    KeyboardProc(HC_NOREMOVE, VK_RETURN, kWasDown | 1); // only peeked at
    KeyboardProc(HC_ACTION, VK_SPACE, kWasDown | 1);    // another key
    EXPECT_TRUE(IsWindow(box));
    EXPECT_TRUE(applied.empty());
    KeyboardProc(HC_ACTION, VK_RETURN, kWasDown | 1);
    ASSERT_EQ(applied.size(), 1u);
    EXPECT_EQ(applied[0].display, 2.0);
    EXPECT_FALSE(IsWindow(box));
    // With no box open the hook procedure does nothing.
    KeyboardProc(HC_ACTION, VK_RETURN, kWasDown | 1);
    EXPECT_EQ(applied.size(), 1u);

    ASSERT_TRUE(open(control));
    box = DirectValueEntry::box();
    KeyboardProc(HC_ACTION, VK_ESCAPE, kWasDown | 1);
    EXPECT_FALSE(IsWindow(box));
    EXPECT_EQ(applied.size(), 1u);
}

TEST_F(DirectValueEntryTest, InstallhookKeepsOneHookAndAnswersOne) {
    EXPECT_FALSE(keyboardhook::installed());
    EXPECT_EQ(installhook(), 1);
    EXPECT_TRUE(keyboardhook::installed());
    EXPECT_EQ(installhook(), 1);
    EXPECT_TRUE(keyboardhook::installed());
    keyboardhook::remove();
    EXPECT_FALSE(keyboardhook::installed());
    EXPECT_EQ(keyboardhook::moduleInstance(), GetModuleHandleW(nullptr)); // linked into the test program
}

TEST_F(DirectValueEntryTest, ASecondBoxLeavesTheFirstWhichApplies) {
    EntryControl other(58, Rect{250, 60, 60, 17});
    std::vector<Applied> otherApplied;
    ASSERT_TRUE(open(control));
    HWND first = DirectValueEntry::box();
    SendMessageW(first, WM_CHAR, '6', 0);
    ASSERT_TRUE(DirectValueEntry::begin(other, frame.handle(), font, 0.0, 10.0, 1.0,
                                        [&](double display, float normalised) {
                                            otherApplied.push_back({display, normalised});
                                        }));
    HWND second = DirectValueEntry::box();
    EXPECT_NE(second, first);
    EXPECT_FALSE(IsWindow(first));
    ASSERT_EQ(applied.size(), 1u);
    EXPECT_EQ(applied[0].display, 6.0);
    EXPECT_EQ(keyboardhook::target(), second);
    EXPECT_TRUE(keyboardhook::installed());
    EXPECT_EQ(GetFocus(), second);
    KeyboardProc(HC_ACTION, VK_RETURN, (LPARAM{1} << 30) | 1);
    ASSERT_EQ(otherApplied.size(), 1u);
    EXPECT_EQ(otherApplied[0].display, 1.0);
    EXPECT_EQ(otherApplied[0].normalised, 0.1f);
    EXPECT_EQ(applied.size(), 1u);
}

TEST_F(DirectValueEntryTest, CancelClosesWithoutApplying) {
    ASSERT_TRUE(open(control));
    HWND box = DirectValueEntry::box();
    SendMessageW(box, WM_CHAR, '4', 0);
    DirectValueEntry::cancel();
    EXPECT_FALSE(IsWindow(box));
    EXPECT_EQ(DirectValueEntry::box(), nullptr);
    EXPECT_FALSE(keyboardhook::installed());
    DirectValueEntry::cancel(); // nothing open: nothing happens
    test::settle();
    EXPECT_TRUE(applied.empty());
}

TEST_F(DirectValueEntryTest, DestroyingTheFrameEndsTheBoxWithoutApplying) {
    ASSERT_TRUE(open(control));
    HWND box = DirectValueEntry::box();
    SendMessageW(box, WM_CHAR, '4', 0);
    frame.destroyWindow();
    EXPECT_FALSE(IsWindow(box));
    EXPECT_EQ(DirectValueEntry::box(), nullptr);
    EXPECT_FALSE(keyboardhook::installed());
    EXPECT_EQ(keyboardhook::target(), nullptr);
    test::settle();
    EXPECT_TRUE(applied.empty());
}

TEST_F(DirectValueEntryTest, DestroyingTheTopWindowEndsTheBoxWithoutApplying) {
    ASSERT_TRUE(open(control));
    HWND box = DirectValueEntry::box();
    SendMessageW(box, WM_CHAR, '4', 0);
    owner.destroyWindow();
    EXPECT_FALSE(IsWindow(box));
    EXPECT_FALSE(keyboardhook::installed());
    test::settle();
    EXPECT_TRUE(applied.empty());
}

TEST_F(DirectValueEntryTest, AnApplyThatClosesTheEditorEndsEverythingOnce) {
    int calls = 0;
    ASSERT_TRUE(DirectValueEntry::begin(control, frame.handle(), font, 0.0, 10.0, 1.0, [&](double, float) {
        ++calls;
        // The owner reacts by closing the box and the window it lives in.
        DirectValueEntry::cancel();
        frame.destroyWindow();
    }));
    HWND box = DirectValueEntry::box();
    SendMessageW(box, WM_CHAR, VK_RETURN, 0);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(IsWindow(box));
    EXPECT_FALSE(frame.isWindow());
    EXPECT_FALSE(keyboardhook::installed());
}

// -- the exports of the plug-in module ------------------------------------------------------------

TEST(DirectValueEntryModule, ThePluginModuleExportsTheHookAndItsInstaller) {
    HMODULE module = LoadLibraryA(PELLUCER_VST_MODULE);
    ASSERT_NE(module, nullptr) << "cannot load " << PELLUCER_VST_MODULE;
    const FARPROC hook = GetProcAddress(module, "KeyboardProc");
    const FARPROC install = GetProcAddress(module, "installhook");
    EXPECT_NE(hook, nullptr);
    EXPECT_NE(install, nullptr);
    EXPECT_NE(hook, install);
    EXPECT_NE(hook, GetProcAddress(module, "VSTPluginMain"));
    // The hook procedure of the module passes a call it does not act on to the next hook.
    if (hook != nullptr) {
        using Procedure = LRESULT(CALLBACK*)(int, WPARAM, LPARAM);
        EXPECT_EQ(reinterpret_cast<Procedure>(reinterpret_cast<void*>(hook))(HC_ACTION, VK_SPACE, 1), 0);
    }
    FreeLibrary(module);
}

} // namespace
} // namespace pellucer::gui
