// The editor's frame: the context menu on a right-button release that no control takes (its
// entries and what they do, chosen with real keys in the real menu), and the focus list.

#include "Shared/GUI/Win32/EditorFrame.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "Shared/GUI/Knob.h"
#include "Shared/GUI/Switch.h"
#include "Shared/GUI/Win32/PopupMenu.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/gui/win32/Win32TestSupport.h"

namespace pellucer::gui {
namespace {

/// Watches for a popup menu from a second thread (the menu runs a modal loop in the test's
/// thread), reads its entries, then answers it with `keys`. Stops looking after `timeoutMs`.
class MenuWatcher {
public:
    struct Item {
        UINT id;
        std::u16string text;
        bool operator==(const Item&) const = default;
    };

    MenuWatcher(std::vector<WORD> keys, DWORD timeoutMs = 3000)
        : thread_([this, keys = std::move(keys), timeoutMs] { watch(keys, timeoutMs); }) {}
    ~MenuWatcher() { join(); }

    void join() {
        if (thread_.joinable())
            thread_.join();
    }
    bool found() const { return found_; }
    const std::vector<Item>& items() const { return items_; }

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
            items_.push_back({GetMenuItemID(menu, i), win32::fromWide(text)});
        }
        for (WORD key : keys) {
            test::sendInputs({test::keyInput(key, false), test::keyInput(key, true)});
            Sleep(50);
        }
    }

    std::atomic<bool> found_{false};
    std::vector<Item> items_;
    std::thread thread_;
};

class EditorFrameTest : public ::testing::Test {
protected:
    static constexpr Rect kSwitch{20, 20, 30, 30};
    static constexpr Rect kKnob{80, 20, 50, 60};

    void SetUp() override {
        test::ensureTextSkin();
        ASSERT_TRUE(lock.held());
        ASSERT_EQ(host.create(nullptr, WS_POPUP | WS_VISIBLE, 0, u"Host", {80, 80}, 300, 200), S_OK);
        frame = std::make_unique<EditorFrame>(test::solidBuffer(300, 200, 0xFF405060u),
                                              [this](const ControlEventRecord& e) { events.push_back(e); });
        frame->setHelpAction([this] { ++helpCalls; });
        toggle = frame->add(std::make_unique<Switch>(4, kSwitch, nullptr, 2));
        toggle->setContextClicksAllowed(true);
        knob = frame->add(std::make_unique<Knob>(5, kKnob, nullptr, 0.5));
        test::TempFolder folder;
        ASSERT_TRUE(writeBmp(folder.file("about.bmp"), test::solidBuffer(60, 40, 0xFFEEDD00u), 24));
        auto about = std::make_shared<SkinBitmap>();
        about->load(folder.file("about.bmp").u16string(), false);
        frame->setAboutImage(about);
        ASSERT_EQ(frame->open(host.handle(), u"External VST Window"), S_OK);
        frame->show(SW_SHOW);
        host.bringToForeground();
        test::settle();
    }

    void rightClickAt(int32_t x, int32_t y) {
        test::moveTo(test::screenPoint(frame->handle(), x, y));
        test::rightDown();
        test::rightUp(); // the menu, if any, runs here
        test::settle();
    }

    test::WindowTestLock lock;
    NativeWindow host;
    std::unique_ptr<EditorFrame> frame;
    std::vector<ControlEventRecord> events;
    Switch* toggle = nullptr;
    Knob* knob = nullptr;
    int helpCalls = 0;
};

TEST_F(EditorFrameTest, RightClickOnTheBackgroundOffersAboutAndHelp) {
    MenuWatcher watcher({VK_DOWN, VK_RETURN}); // the first entry
    rightClickAt(200, 150);
    watcher.join();
    ASSERT_TRUE(watcher.found());
    const std::vector<MenuWatcher::Item> expected = {{EditorFrame::kCommandAbout, u"About Pellucer..."},
                                                     {EditorFrame::kCommandHelp, u"Pellucer Help"}};
    EXPECT_EQ(watcher.items(), expected);
    EXPECT_TRUE(frame->aboutShown());
    EXPECT_EQ(helpCalls, 0);
    test::settle();
    EXPECT_EQ(test::rgbAt(test::captureWindow(frame->handle()), 150, 100), 0xEEDD00u);

    // The next press only hides the image (and its release opens no menu).
    MenuWatcher none({VK_ESCAPE}, 600);
    rightClickAt(200, 150);
    none.join();
    EXPECT_FALSE(none.found());
    EXPECT_FALSE(frame->aboutShown());
    EXPECT_EQ(test::rgbAt(test::captureWindow(frame->handle()), 150, 100), 0x405060u);
}

TEST_F(EditorFrameTest, HelpEntryRunsTheHelpActionAndEscapeNothing) {
    {
        MenuWatcher watcher({VK_DOWN, VK_DOWN, VK_RETURN});
        rightClickAt(250, 50);
        watcher.join();
        ASSERT_TRUE(watcher.found());
    }
    EXPECT_EQ(helpCalls, 1);
    EXPECT_FALSE(frame->aboutShown());
    {
        MenuWatcher watcher({VK_ESCAPE});
        rightClickAt(250, 60);
        watcher.join();
        ASSERT_TRUE(watcher.found());
    }
    EXPECT_EQ(helpCalls, 1);
    EXPECT_FALSE(frame->aboutShown());
    EXPECT_TRUE(events.empty());
}

TEST_F(EditorFrameTest, RightClickOnAControlOpensNoMenu) {
    MenuWatcher watcher({VK_ESCAPE}, 800);
    rightClickAt(kSwitch.left + 5, kSwitch.top + 5);
    watcher.join();
    EXPECT_FALSE(watcher.found());
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].eventCode, event::kContextClick);
    EXPECT_EQ(toggle->value(), 0.0);
    // A left release over the background is no menu either.
    MenuWatcher left({VK_ESCAPE}, 800);
    test::clickAt(test::screenPoint(frame->handle(), 200, 150));
    left.join();
    EXPECT_FALSE(left.found());
}

TEST_F(EditorFrameTest, CommandsShowAboutOrCallHelp) {
    frame->runCommand(EditorFrame::kCommandHelp);
    EXPECT_EQ(helpCalls, 1);
    frame->runCommand(7);
    EXPECT_FALSE(frame->aboutShown());
    frame->runCommand(EditorFrame::kCommandAbout);
    EXPECT_TRUE(frame->aboutShown());
    EXPECT_EQ(helpCalls, 1);
}

TEST_F(EditorFrameTest, FocusStepsThroughItsListAndWraps) {
    frame->moveFocus(1); // an empty list moves nothing
    EXPECT_EQ(frame->focusedControl(), nullptr);
    Switch* third = frame->add(std::make_unique<Switch>(9, Rect{150, 20, 20, 20}, nullptr, 2));
    frame->appendToFocusList(toggle);
    frame->appendToFocusList(knob);
    frame->appendToFocusList(third);
    frame->appendToFocusList(nullptr);
    ASSERT_EQ(frame->focusList().size(), 3u);

    frame->moveFocus(1); // from no focus: the first
    EXPECT_EQ(frame->focusedControl(), toggle);
    EXPECT_TRUE(toggle->hasFocus());
    frame->moveFocus(2);
    EXPECT_EQ(frame->focusedControl(), third);
    frame->moveFocus(1); // wraps to the front
    EXPECT_EQ(frame->focusedControl(), toggle);
    EXPECT_FALSE(third->hasFocus());
    frame->moveFocus(-1); // and to the back
    EXPECT_EQ(frame->focusedControl(), third);
    frame->moveFocus(-7); // -7 mod 3 = 2 back
    EXPECT_EQ(frame->focusedControl(), knob);
    frame->moveFocus(3);
    EXPECT_EQ(frame->focusedControl(), knob);

    // Keys follow the focus moved this way.
    frame->setKeyboardFocus();
    test::tapKey(VK_END);
    EXPECT_EQ(knob->value(), 1.0);
    frame->setFocusedControl(nullptr);
    frame->moveFocus(-1); // from no focus: the last
    EXPECT_EQ(frame->focusedControl(), third);
}

TEST_F(EditorFrameTest, HasNoHoverTips) {
    test::FakeEngine engine;
    frame->setEngine(&engine);
    test::moveTo(test::screenPoint(frame->handle(), kKnob.left + 5, kKnob.top + 5));
    test::moveTo(test::screenPoint(frame->handle(), kKnob.left + 9, kKnob.top + 9));
    test::pumpFor(ControlFrame::kHoverMs + 300);
    ASSERT_NE(frame->toolTip(), nullptr);
    EXPECT_FALSE(frame->toolTip()->shown());
}

TEST(PopupMenu, HoldsItsItemsInOrder) {
    PopupMenu menu;
    ASSERT_NE(menu.handle(), nullptr);
    EXPECT_TRUE(menu.append(5, u"Five"));
    EXPECT_TRUE(menu.append(3, u"Three"));
    ASSERT_EQ(GetMenuItemCount(menu.handle()), 2);
    EXPECT_EQ(GetMenuItemID(menu.handle(), 0), 5u);
    EXPECT_EQ(GetMenuItemID(menu.handle(), 1), 3u);
    wchar_t text[32] = {};
    GetMenuStringW(menu.handle(), 1, text, 32, MF_BYPOSITION);
    EXPECT_EQ(win32::fromWide(text), u"Three");
    EXPECT_EQ(menu.track(nullptr, {0, 0}), 0); // no owner, no menu
}

} // namespace
} // namespace pellucer::gui
