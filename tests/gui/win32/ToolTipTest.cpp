// The tooltip window: its style, tool and texts, where it goes, and how a balloon goes away
// (after its time, or at the next mouse press in the thread).

#include "Shared/GUI/Win32/ToolTip.h"

#include <gtest/gtest.h>

#include "Shared/GUI/Win32/NativeWindow.h"
#include "tests/gui/win32/Win32TestSupport.h"

namespace pellucer::gui {
namespace {

class ToolTipTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(lock.held());
        ASSERT_EQ(owner.create(nullptr, WS_POPUP | WS_VISIBLE, 0, u"Owner", {40, 40}, 300, 200), S_OK);
        owner.bringToForeground();
        test::settle();
    }

    /// The text of the tip's one tool, as the tooltip window holds it.
    static std::u16string toolText(const ToolTip& tip) {
        wchar_t buffer[256] = {};
        TOOLINFOW info{};
        info.cbSize = TTTOOLINFOW_V2_SIZE;
        info.hwnd = GetParent(tip.handle()) != nullptr ? GetParent(tip.handle()) : nullptr;
        info.uId = 1;
        info.lpszText = buffer;
        SendMessageW(tip.handle(), TTM_ENUMTOOLSW, 0, reinterpret_cast<LPARAM>(&info));
        info.lpszText = buffer;
        SendMessageW(tip.handle(), TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&info));
        return win32::fromWide(buffer);
    }

    test::WindowTestLock lock;
    NativeWindow owner;
};

TEST_F(ToolTipTest, ABalloonIsATrackingToolWithItsTextAndStyle) {
    ToolTip tip(owner.handle(), true);
    EXPECT_EQ(tip.text(), u"Text");
    EXPECT_FALSE(tip.shown());
    tip.setTitle(u"Title");
    tip.setPosition({100, 120}, {5, -10});
    EXPECT_EQ(tip.position(), (Point{105, 110}));
    tip.show(true);
    ASSERT_TRUE(tip.shown());
    wchar_t className[64] = {};
    GetClassNameW(tip.handle(), className, 64);
    EXPECT_EQ(win32::fromWide(className), u"tooltips_class32");
    const LONG style = GetWindowLongW(tip.handle(), GWL_STYLE);
    EXPECT_NE(style & TTS_BALLOON, 0);
    EXPECT_NE(style & TTS_CLOSE, 0);
    EXPECT_NE(style & TTS_NOPREFIX, 0);
    EXPECT_EQ(SendMessageW(tip.handle(), TTM_GETTOOLCOUNT, 0, 0), 1);
    EXPECT_EQ(SendMessageW(tip.handle(), TTM_GETMAXTIPWIDTH, 0, 0), ToolTip::kMaxWidth);
    EXPECT_EQ(toolText(tip), u"Text");
    EXPECT_TRUE(tip.hooked());
    test::settle();
    EXPECT_TRUE(IsWindowVisible(tip.handle()));

    tip.setText(u"Changed text");
    EXPECT_EQ(toolText(tip), u"Changed text");
    tip.show(false);
    EXPECT_FALSE(tip.shown());
    EXPECT_FALSE(tip.hooked());
    EXPECT_EQ(tip.text(), u"Changed text"); // kept for the next show
}

TEST_F(ToolTipTest, ABalloonGoesAtTheNextMousePressInTheThread) {
    ToolTip tip(owner.handle(), true);
    tip.setDuration(60000);
    tip.show(true);
    test::settle();
    ASSERT_TRUE(tip.shown());
    test::moveTo(test::screenPoint(owner.handle(), 150, 150));
    test::settle();
    EXPECT_TRUE(tip.shown()); // moving is no press
    test::rightDown();
    test::rightUp();
    EXPECT_FALSE(tip.shown());
    EXPECT_FALSE(tip.hooked());
}

TEST_F(ToolTipTest, ABalloonGoesAfterItsDuration) {
    ToolTip tip(owner.handle(), true);
    tip.setDuration(100);
    tip.show(true);
    ASSERT_TRUE(tip.shown());
    EXPECT_TRUE(test::pumpUntil([&] { return !tip.shown(); }, 2000));
    EXPECT_FALSE(tip.hooked());
}

TEST_F(ToolTipTest, OneBalloonAtATime) {
    ToolTip first(owner.handle(), true);
    ToolTip second(owner.handle(), true);
    first.show(true);
    second.show(true);
    EXPECT_FALSE(first.shown());
    EXPECT_TRUE(second.shown());
    EXPECT_TRUE(second.hooked());
}

TEST_F(ToolTipTest, APlainTipHasNoTitleNoHookAndStaysUntilHidden) {
    ToolTip tip(owner.handle(), false);
    tip.setTitle(u"ignored");
    EXPECT_TRUE(tip.title().empty());
    tip.setDuration(50);
    tip.setPosition({200, 210}, {0, 0});
    tip.show(true);
    ASSERT_TRUE(tip.shown());
    const LONG style = GetWindowLongW(tip.handle(), GWL_STYLE);
    EXPECT_EQ(style & TTS_BALLOON, 0);
    EXPECT_NE(style & TTS_ALWAYSTIP, 0);
    EXPECT_FALSE(tip.hooked());
    test::pumpFor(200);
    EXPECT_TRUE(tip.shown());
    // comctl32 puts the tip's frame a pixel or so around the point; a move moves it exactly.
    RECT placed{};
    GetWindowRect(tip.handle(), &placed);
    EXPECT_NEAR(placed.left, 200, 2);
    EXPECT_NEAR(placed.top, 210, 2);
    tip.setPosition({220, 230}, {1, 2});
    test::settle();
    RECT moved{};
    GetWindowRect(tip.handle(), &moved);
    EXPECT_EQ(moved.left - placed.left, 21);
    EXPECT_EQ(moved.top - placed.top, 22);
}

} // namespace
} // namespace pellucer::gui
