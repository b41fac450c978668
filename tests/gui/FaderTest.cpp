// The fader: stepped drag gearing, begin edit at the first real change, the hidden cursor and
// its 40-pixel pull-back, the wheel, and the handle drawn where the value puts it.

#include "Shared/GUI/Fader.h"

#include <gtest/gtest.h>

#include "tests/gui/GuiTestSupport.h"

namespace pellucer::gui {
namespace {

using test::FakeControlHost;
using test::PixelDrawContext;
using test::RecordingListener;

constexpr uint32_t kBackgroundArgb = 0xFF303030u;
constexpr uint32_t kHandleArgb = 0xFFC0A080u;

class FaderTest : public ::testing::Test {
protected:
    static constexpr Rect kRect{25, 178, 22, 123};

    FaderTest()
        : handle(test::makeStrip(
              22, 46, 1, [](int32_t, int32_t, int32_t) { return kHandleArgb; },
              [](int32_t, int32_t, int32_t) { return 255; })),
          fader(2, kRect, handle, 0.5) {
        test::attach(fader, host, listener, test::solidBuffer(100, 320, kBackgroundArgb));
    }

    /// A drag of `pixelsUp` from y = 60 in one move, with `flags` held throughout.
    void drag(int32_t pixelsUp, int32_t flags = 0) {
        fader.mouseDown(10, 60, mouse::kLeft | flags);
        fader.mouseMove(10, 60 - pixelsUp, mouse::kLeft | flags);
        fader.mouseUp(10, 60 - pixelsUp, flags);
    }

    std::shared_ptr<ImageStrip> handle;
    FakeControlHost host;
    RecordingListener listener;
    Fader fader;
};

// Whole steps of a hundredth (a thousandth with Shift) per 8/3 pixels, truncated: 100 pixels
// up from 0.5 are 37 steps.
TEST_F(FaderTest, DragsMoveByWholeStepsAndClamp) {
    struct Case {
        int32_t pixelsUp, flags;
        double expected;
    };
    for (const Case c : {Case{100, 0, 0.87}, Case{100, mouse::kShift, 0.537}, Case{-100, 0, 0.13},
                         Case{1000, 0, 1.0}, Case{-1000, 0, 0.0}}) {
        fader.setValue(0.5f);
        drag(c.pixelsUp, c.flags);
        EXPECT_NEAR(fader.value(), c.expected, 1e-12) << c.pixelsUp << " pixels up, flags " << c.flags;
    }
}

TEST_F(FaderTest, BeginEditComesWithTheFirstRealChange) {
    fader.mouseDown(10, 60, mouse::kLeft);
    EXPECT_TRUE(listener.events.empty());
    fader.mouseMove(10, 59, mouse::kLeft); // 0.375 of a step
    fader.mouseMove(10, 58, mouse::kLeft); // 0.75 of a step
    EXPECT_TRUE(listener.events.empty());
    EXPECT_FALSE(fader.editing());
    fader.mouseMove(10, 57, mouse::kLeft); // 1.125: the first step
    EXPECT_EQ(listener.codes(), (std::vector<int32_t>{event::kBeginEdit, event::kValueChanged}));
    EXPECT_NEAR(listener.values().back(), 0.51, 1e-12);
    fader.mouseMove(10, 56, mouse::kLeft); // 1.5: the same step, nothing new
    EXPECT_EQ(listener.events.size(), 2u);
    fader.mouseMove(10, 54, mouse::kLeft); // 2.25
    fader.mouseUp(10, 54, 0);
    EXPECT_EQ(listener.codes(), (std::vector<int32_t>{event::kBeginEdit, event::kValueChanged,
                                                      event::kValueChanged, event::kEndEdit}));
}

TEST_F(FaderTest, AClickThatDoesNotMoveIsNoEdit) {
    fader.mouseDown(10, 60, mouse::kLeft);
    fader.mouseMove(10, 58, mouse::kLeft);
    fader.mouseUp(10, 58, 0);
    EXPECT_TRUE(listener.events.empty());
    EXPECT_EQ(fader.value(), 0.5);
}

TEST_F(FaderTest, TheCursorIsHiddenAndPulledBack40PixelsAndTheDragGoesOn) {
    fader.mouseDown(10, 60, mouse::kLeft);
    EXPECT_EQ(host.captured, &fader);
    EXPECT_EQ(host.cursorShown, (std::vector<bool>{false}));
    fader.mouseMove(10, 20, mouse::kLeft); // 40 up: within the leash
    EXPECT_TRUE(host.cursorMoves.empty());
    fader.mouseMove(10, 19, mouse::kLeft); // 41 up
    ASSERT_EQ(host.cursorMoves, (std::vector<Point>{{0, 40}}));
    EXPECT_NEAR(fader.value(), 0.5 + 0.01 * 15, 1e-12);
    // The cursor now reports from 40 lower; the drag counts on from there.
    fader.mouseMove(10, 59, mouse::kLeft);
    EXPECT_NEAR(fader.value(), 0.5 + 0.01 * 15, 1e-12);
    fader.mouseMove(10, 35, mouse::kLeft); // 65 up in all
    EXPECT_NEAR(fader.value(), 0.5 + 0.01 * 24, 1e-12);
    EXPECT_EQ(host.cursorMoves.size(), 1u);
    fader.mouseMove(10, 65535, mouse::kLeft); // -1, above the window: 101 up in all
    EXPECT_NEAR(fader.value(), 0.5 + 0.01 * 37, 1e-12);
    ASSERT_EQ(host.cursorMoves.size(), 2u);
    fader.mouseUp(10, 39, 0);
    EXPECT_EQ(host.cursorShown, (std::vector<bool>{false, true}));
    EXPECT_EQ(host.captured, nullptr);
}

TEST_F(FaderTest, PullBackWorksDownwardsToo) {
    fader.mouseDown(10, 60, mouse::kLeft);
    fader.mouseMove(10, 110, mouse::kLeft); // 50 down
    ASSERT_EQ(host.cursorMoves, (std::vector<Point>{{0, -40}}));
    fader.mouseMove(10, 120, mouse::kLeft); // 50 more from the pulled-back 70: 100 down in all
    EXPECT_NEAR(fader.value(), 0.13, 1e-12);
    fader.mouseUp(10, 120, 0);
}

TEST_F(FaderTest, WheelStepsWithoutGesturesAndStopsAtZero) {
    fader.wheel(0, 0, 0, 120);
    EXPECT_NEAR(fader.value(), 0.525, 1e-12);
    fader.wheel(0, 0, mouse::kControl, -120);
    EXPECT_NEAR(fader.value(), 0.4, 1e-12);
    fader.wheel(0, 0, mouse::kControl | mouse::kShift, 120);
    EXPECT_NEAR(fader.value(), 0.405, 1e-12);
    EXPECT_EQ(listener.codes(), (std::vector<int32_t>(3, event::kValueChanged)));
    fader.setValue(0.01f);
    fader.wheel(0, 0, 0, -120);
    EXPECT_EQ(fader.value(), 0.0);
    fader.wheel(0, 0, 0, -120);
    EXPECT_EQ(fader.value(), 0.0);
}

TEST_F(FaderTest, DoubleClickReturnsToTheDefault) {
    fader.setValue(0.9f);
    fader.doubleClick(10, 10, mouse::kLeft);
    EXPECT_EQ(fader.value(), 0.5);
    EXPECT_EQ(listener.codes(), (std::vector<int32_t>{event::kValueChanged}));
}

TEST_F(FaderTest, EngineValuesWaitUntilTheDragEnds) {
    fader.mouseDown(10, 60, mouse::kLeft);
    fader.setValue(0.2f);
    EXPECT_EQ(fader.value(), 0.5);
    fader.mouseUp(10, 60, 0);
    fader.setValue(0.2f);
    EXPECT_FLOAT_EQ(static_cast<float>(fader.value()), 0.2f);
}

TEST_F(FaderTest, TheHandleTravelsTheHeightLessItsOwnLessOne) {
    EXPECT_EQ(fader.travel(), 123 - 46 - 1);
    fader.setValue(1.0f);
    EXPECT_EQ(fader.handleTop(), 0);
    fader.setValue(0.0f);
    EXPECT_EQ(fader.handleTop(), 76);
    fader.setValue(0.5f);
    EXPECT_EQ(fader.handleTop(), 38);
    fader.setValue(0.25f);
    EXPECT_EQ(fader.handleTop(), 57);
}

TEST_F(FaderTest, DrawsTheHandleAtItsPlaceAndCleansTheOldOne) {
    PixelDrawContext context(100, 320);
    auto rowIsHandle = [&](int32_t row) {
        return context.rgb(kRect.left + 5, kRect.top + row) == (kHandleArgb & 0xFFFFFFu);
    };
    ASSERT_TRUE(fader.draw(context));
    EXPECT_FALSE(rowIsHandle(37));
    EXPECT_TRUE(rowIsHandle(38));
    EXPECT_TRUE(rowIsHandle(38 + 45));
    EXPECT_FALSE(rowIsHandle(38 + 46));

    fader.setValue(1.0f);
    ASSERT_TRUE(fader.draw(context));
    EXPECT_TRUE(rowIsHandle(0));
    EXPECT_TRUE(rowIsHandle(45));
    EXPECT_FALSE(rowIsHandle(46));
    EXPECT_FALSE(rowIsHandle(83));
    EXPECT_EQ(context.rgb(kRect.left + 5, kRect.top + 83), kBackgroundArgb & 0xFFFFFFu);
    EXPECT_EQ(context.rgb(kRect.left + 21, kRect.top + 122), kBackgroundArgb & 0xFFFFFFu);
    EXPECT_EQ(context.rgb(kRect.left + 22, kRect.top + 10), 0u);
}

} // namespace
} // namespace pellucer::gui
