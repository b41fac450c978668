// The knob: drag gearing (normal and fine, vertical and horizontal), coordinates past 32768,
// the frame rule, wheel and keys, gestures, and engine values during a gesture.

#include "Shared/GUI/Knob.h"

#include <gtest/gtest.h>

#include "tests/gui/GuiTestSupport.h"

namespace pellucer::gui {
namespace {

using test::FakeControlHost;
using test::RecordingListener;

class KnobTest : public ::testing::Test {
protected:
    static constexpr Rect kRect{225, 52, 50, 60};

    KnobTest() : knob(5, kRect, test::numberedStrip(50, 60, 127), 0.5) {
        test::attach(knob, host, listener, PixelBuffer(300, 200));
    }

    /// A left-button drag from (x, y0) to (x, y1) with `flags` held, released there.
    void drag(int32_t y0, int32_t y1, int32_t flags = 0) {
        knob.mouseDown(20, y0, mouse::kLeft | flags);
        knob.mouseMove(20, y1, mouse::kLeft | flags);
        knob.mouseUp(20, y1, flags);
    }

    FakeControlHost host;
    RecordingListener listener;
    Knob knob;
};

TEST_F(KnobTest, FrameIsTheValueTruncatedOverTheFrames) {
    const std::pair<float, int32_t> cases[] = {
        {1.0f, 126}, {0.999f, 125}, {0.0f, 0}, {0.99f / 126.0f, 0}, {1.01f / 126.0f, 1}};
    for (const auto& [value, frame] : cases) {
        knob.setValue(value);
        EXPECT_EQ(knob.frameIndex(), frame) << value;
    }
    Knob small(1, kRect, test::numberedStrip(50, 60, 31), 1.0);
    EXPECT_EQ(small.frameIndex(), 30);
}

// A drag changes the value by a two-hundredth per pixel up (a tenth of that with Shift), held
// at the ends; coordinates from 32769 on are negative (above or left of the window).
TEST_F(KnobTest, DragsMoveTheValueByTheirDistance) {
    struct Case {
        float start;
        int32_t y0, y1, flags;
        double expected;
    };
    const Case cases[] = {
        {0.25f, 50, -50 + 65536, 0, 0.75}, // 100 up, past the top of the window
        {0.25f, 50, -50 + 65536, mouse::kShift, 0.30},
        {0.25f, 10, 30, 0, 0.15},
        {0.25f, 10, 500, 0, 0.0},
        {0.25f, 10, 10 - 400 + 65536, 0, 1.0},
        {0.5f, 10, 32768, 0, 0.0},      // still positive: far below
        {0.5f, 10, 32769, 0, 1.0},      // -32767: far above
        {0.5f, 10, 65536 - 10, 0, 0.6}, // -10: 20 up
    };
    for (const Case& c : cases) {
        knob.setValue(c.start);
        listener.clear();
        drag(c.y0, c.y1, c.flags);
        EXPECT_NEAR(knob.value(), c.expected, 1e-12) << c.start << " from " << c.y0 << " to " << c.y1;
        EXPECT_EQ(listener.codes(),
                  (std::vector<int32_t>{event::kBeginEdit, event::kValueChanged, event::kEndEdit}));
    }
    EXPECT_EQ(knob.frameIndex(), 75); // 0.6

    knob.setHorizontal(true); // x instead, y ignored
    knob.setValue(0.25f);
    knob.mouseDown(10, 30, mouse::kLeft);
    knob.mouseMove(110, 0, mouse::kLeft);
    EXPECT_DOUBLE_EQ(knob.value(), 0.75);
    knob.mouseMove(65536 - 90, 30, mouse::kLeft); // x = -90: 100 to the left of the start
    EXPECT_EQ(knob.value(), 0.0);
    knob.mouseUp(0, 0, 0);
}

TEST_F(KnobTest, ShiftPressedDuringADragChangesTheGearingWithoutAJump) {
    knob.setValue(0.25f);
    knob.mouseDown(20, 100, mouse::kLeft);
    knob.mouseMove(20, 60, mouse::kLeft); // 40 up: +0.2
    EXPECT_DOUBLE_EQ(knob.value(), 0.45);
    knob.mouseMove(20, 60, mouse::kLeft | mouse::kShift);
    EXPECT_DOUBLE_EQ(knob.value(), 0.45);
    knob.mouseMove(20, 40, mouse::kLeft | mouse::kShift); // 20 more, fine: +0.01
    EXPECT_NEAR(knob.value(), 0.46, 1e-12);
    knob.mouseUp(20, 40, 0);
}

TEST_F(KnobTest, DragCapturesTheMouseAndReleasesIt) {
    knob.mouseDown(20, 20, mouse::kLeft);
    EXPECT_TRUE(knob.tracking());
    EXPECT_EQ(host.captured, &knob);
    knob.mouseUp(20, 20, 0);
    EXPECT_FALSE(knob.tracking());
    EXPECT_EQ(host.captured, nullptr);
    EXPECT_EQ(host.releases, 1);
    // A release without a drag does not end a gesture that was never begun.
    listener.clear();
    knob.mouseUp(20, 20, 0);
    EXPECT_TRUE(listener.events.empty());
}

TEST_F(KnobTest, RightClickOrAltClickIsAContextClickAtTheFramePosition) {
    knob.mouseDown(10, 12, mouse::kRight);
    knob.mouseDown(11, 13, mouse::kLeft | mouse::kAlt);
    ASSERT_EQ(listener.events.size(), 2u);
    EXPECT_EQ(listener.events[0].code, event::kContextClick);
    EXPECT_EQ(listener.events[0].position, (Point{kRect.left + 10, kRect.top + 12}));
    EXPECT_EQ(listener.events[1].position, (Point{kRect.left + 11, kRect.top + 13}));
    EXPECT_FALSE(knob.tracking());
    EXPECT_EQ(host.captures, 0);
    EXPECT_EQ(knob.value(), 0.5);
}

TEST_F(KnobTest, DoubleClickReturnsToTheDefaultAsOneGesture) {
    knob.setValue(0.9f);
    knob.doubleClick(20, 20, mouse::kLeft);
    EXPECT_EQ(knob.value(), 0.5);
    EXPECT_EQ(knob.frameIndex(), 63);
    EXPECT_EQ(listener.codes(),
              (std::vector<int32_t>{event::kBeginEdit, event::kValueChanged, event::kEndEdit}));
}

TEST_F(KnobTest, WheelStepsAFifthOfATenthOrAHundredthWithShift) {
    knob.setValue(0.5f);
    knob.wheel(0, 0, 0, 120);
    EXPECT_DOUBLE_EQ(knob.value(), 0.55);
    knob.wheel(0, 0, 0, -120);
    knob.wheel(0, 0, 0, 0); // below 1 counts as down
    EXPECT_DOUBLE_EQ(knob.value(), 0.45);
    knob.wheel(0, 0, mouse::kShift, 1);
    EXPECT_NEAR(knob.value(), 0.46, 1e-12);
    knob.wheel(0, 0, mouse::kShift, -1);
    EXPECT_NEAR(knob.value(), 0.45, 1e-12);
    knob.setValue(0.98f);
    knob.wheel(0, 0, 0, 120);
    EXPECT_EQ(knob.value(), 1.0);
    // Each notch is a gesture of its own.
    const auto codes = listener.codes();
    ASSERT_EQ(codes.size(), 6u * 3u);
    for (size_t i = 0; i < codes.size(); i += 3)
        EXPECT_EQ((std::vector<int32_t>(codes.begin() + i, codes.begin() + i + 3)),
                  (std::vector<int32_t>{event::kBeginEdit, event::kValueChanged, event::kEndEdit}));
}

TEST_F(KnobTest, HomeBeginsTheEditAtKeyDownAndEndsItAtKeyUp) {
    EXPECT_TRUE(knob.keyDown(key::kHome));
    EXPECT_EQ(knob.value(), 0.0);
    EXPECT_EQ(listener.codes(), (std::vector<int32_t>{event::kBeginEdit, event::kValueChanged}));
    EXPECT_TRUE(knob.editing());
    // Auto-repeat: more values, no second begin.
    EXPECT_TRUE(knob.keyDown(key::kHome));
    EXPECT_EQ(listener.codes().size(), 3u);
    knob.keyUp(key::kEnd); // not the key that began it
    EXPECT_TRUE(knob.editing());
    knob.keyUp(key::kHome);
    EXPECT_EQ(listener.codes().back(), event::kEndEdit);
    EXPECT_FALSE(knob.editing());
}

TEST_F(KnobTest, LosingTheFocusEndsAKeyGesture) {
    knob.focusOn();
    knob.keyDown(key::kPageUp);
    knob.focusOff();
    EXPECT_FALSE(knob.editing());
    EXPECT_EQ(listener.codes().back(), event::kEndEdit);
    knob.setValue(0.2f); // the effect is heard again
    EXPECT_FLOAT_EQ(static_cast<float>(knob.value()), 0.2f);
    listener.clear();
    knob.keyUp(key::kPageUp);
    EXPECT_TRUE(listener.events.empty());
}

TEST_F(KnobTest, KeysStepByTheirAmountsAndClamp) {
    struct Case {
        int32_t key;
        double expected;
    };
    const Case cases[] = {{key::kEnd, 1.0}, {key::kHome, 0.0},  {key::kPageUp, 0.55}, {key::kPageDown, 0.45},
                          {key::kUp, 0.51}, {key::kDown, 0.49}, {key::kRight, 0.501}, {key::kLeft, 0.499}};
    for (const Case& c : cases) {
        knob.setValue(0.5f);
        ASSERT_TRUE(knob.keyDown(c.key));
        EXPECT_NEAR(knob.value(), c.expected, 1e-12) << "key " << c.key;
        knob.keyUp(c.key);
    }
    knob.setValue(0.995f);
    knob.keyDown(key::kPageUp);
    EXPECT_EQ(knob.value(), 1.0);
    knob.keyUp(key::kPageUp);
    listener.clear();
    EXPECT_FALSE(knob.keyDown(key::kTab));
    EXPECT_FALSE(knob.keyDown('A'));
    EXPECT_TRUE(listener.events.empty());
}

TEST_F(KnobTest, EngineValuesAreIgnoredDuringADragAndDuringAKeyPress) {
    knob.mouseDown(20, 20, mouse::kLeft);
    knob.setValue(0.1f);
    EXPECT_EQ(knob.value(), 0.5);
    knob.mouseUp(20, 20, 0);
    knob.setValue(0.1f);
    EXPECT_FLOAT_EQ(static_cast<float>(knob.value()), 0.1f);

    knob.keyDown(key::kUp);
    knob.setValue(0.9f);
    EXPECT_NEAR(knob.value(), 0.11, 1e-6);
    knob.keyUp(key::kUp);
    knob.setValue(0.9f);
    EXPECT_FLOAT_EQ(static_cast<float>(knob.value()), 0.9f);
}

TEST_F(KnobTest, EngineValueRepaintsOnlyWhenTheFrameChanges) {
    host.invalidations.clear();
    knob.setValue(0.5f + 0.001f); // frame 63 still
    EXPECT_TRUE(host.invalidations.empty());
    knob.setValue(0.6f);
    EXPECT_EQ(host.invalidations.size(), 1u);
    EXPECT_TRUE(listener.events.empty()); // never echoed back
}

} // namespace
} // namespace pellucer::gui
