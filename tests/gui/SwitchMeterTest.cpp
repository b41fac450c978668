// Switches (clicks, wrap, Control+click, context clicks, keys) and segment meters (the frame
// for a reading, the 50 ms poll).

#include "Shared/GUI/SegmentMeter.h"
#include "Shared/GUI/Switch.h"

#include <gtest/gtest.h>

#include "tests/gui/GuiTestSupport.h"

namespace pellucer::gui {
namespace {

using test::FakeControlHost;
using test::PixelDrawContext;
using test::RecordingListener;

const std::vector<int32_t> kOneGesture{event::kBeginEdit, event::kValueChanged, event::kEndEdit};

class SwitchTest : public ::testing::Test {
protected:
    static constexpr Rect kRect{775, 8, 37, 27};

    SwitchTest() : power(0, kRect, test::numberedStrip(37, 27, 2)) {
        power.setContextClicksAllowed(true);
        test::attach(power, host, listener, PixelBuffer(820, 60));
    }

    FakeControlHost host;
    RecordingListener listener;
    Switch power;
};

TEST_F(SwitchTest, HalfIsOnAndEachClickToggles) {
    power.setValue(0.5f);
    EXPECT_EQ(power.frameIndex(), 1);
    power.setValue(0.49f);
    EXPECT_EQ(power.frameIndex(), 0);
    power.setValue(0.5f);

    power.mouseDown(5, 5, mouse::kLeft);
    EXPECT_EQ(power.frameIndex(), 0);
    EXPECT_EQ(power.value(), 0.0);
    EXPECT_EQ(listener.codes(), kOneGesture);
    power.mouseDown(5, 5, mouse::kLeft);
    EXPECT_EQ(power.value(), 1.0);
    EXPECT_EQ(power.frameIndex(), 1);
    EXPECT_EQ(listener.values(), (std::vector<double>{0.0, 1.0}));
    // A double click is one more click.
    power.doubleClick(5, 5, mouse::kLeft);
    EXPECT_EQ(power.value(), 0.0);
    EXPECT_EQ(listener.codes().size(), 9u);
}

TEST_F(SwitchTest, ThePressShowsAtOnce) {
    PixelDrawContext context(820, 60);
    ASSERT_TRUE(power.draw(context));
    EXPECT_EQ(context.rgb(kRect.left + 3, kRect.top + 3), 0u); // frame 0
    power.mouseDown(5, 5, mouse::kLeft);
    ASSERT_TRUE(power.draw(context));
    EXPECT_EQ(context.rgb(kRect.left + 3, kRect.top + 3), 1u); // frame 1
}

TEST_F(SwitchTest, ControlClickRestoresTheDefault) {
    power.setValue(1.0f);
    power.mouseDown(5, 5, mouse::kLeft | mouse::kControl);
    EXPECT_EQ(power.value(), 0.0);
    EXPECT_EQ(listener.codes(), kOneGesture);

    power.setDefault(1.0f);
    power.setValue(0.0f);
    power.mouseDown(5, 5, mouse::kLeft | mouse::kControl);
    EXPECT_EQ(power.value(), 1.0);
}

TEST_F(SwitchTest, RightClickIsAContextClickWhenAllowedOtherwiseAStepBack) {
    power.mouseDown(4, 6, mouse::kRight);
    power.mouseDown(4, 6, mouse::kLeft | mouse::kAlt);
    EXPECT_EQ(power.value(), 0.0);
    EXPECT_EQ(listener.codes(), (std::vector<int32_t>{event::kContextClick, event::kContextClick}));
    EXPECT_EQ(listener.events[0].position, (Point{kRect.left + 4, kRect.top + 6}));

    listener.clear();
    Switch tab(64, {0, 0, 50, 15}, nullptr, 3);
    tab.setListener(&listener);
    tab.mouseDown(1, 1, mouse::kRight); // from 0 back to the last state
    EXPECT_EQ(tab.value(), 1.0);
    tab.mouseDown(1, 1, mouse::kRight);
    EXPECT_EQ(tab.value(), 0.5);
    EXPECT_EQ(listener.codes().size(), 6u);
    EXPECT_EQ(listener.codes()[0], event::kBeginEdit);
}

TEST_F(SwitchTest, ThreeStatesStepAndWrap) {
    Switch three(7, {0, 0, 10, 10}, test::numberedStrip(10, 10, 3), 3);
    three.setListener(&listener);
    const double expected[] = {0.5, 1.0, 0.0, 0.5};
    for (double e : expected) {
        three.mouseDown(1, 1, mouse::kLeft);
        EXPECT_EQ(three.value(), e);
    }
    // Values from the effect: trunc(3 v), the top state for 1.
    three.setValue(0.34f);
    EXPECT_EQ(three.frameIndex(), 1);
    three.setValue(0.67f);
    EXPECT_EQ(three.frameIndex(), 2);
    three.setValue(1.0f);
    EXPECT_EQ(three.frameIndex(), 2);
}

TEST_F(SwitchTest, UpAndDownKeysStepAndWithoutWrapTheEndsHold) {
    EXPECT_TRUE(power.keyDown(key::kUp));
    EXPECT_EQ(power.value(), 1.0);
    EXPECT_TRUE(power.keyDown(key::kUp));
    EXPECT_EQ(power.value(), 0.0);
    EXPECT_TRUE(power.keyDown(key::kDown));
    EXPECT_EQ(power.value(), 1.0);
    listener.clear();
    EXPECT_FALSE(power.keyDown(key::kHome));
    EXPECT_TRUE(listener.events.empty());
    // Without wrap the ends hold, for clicks and keys alike.
    power.setWrap(false);
    power.setValue(1.0f);
    power.mouseDown(5, 5, mouse::kLeft);
    EXPECT_EQ(power.value(), 1.0);
    EXPECT_TRUE(power.keyDown(key::kDown));
    EXPECT_TRUE(power.keyDown(key::kDown));
    EXPECT_EQ(power.value(), 0.0);
}

class MeterTest : public ::testing::Test {
protected:
    MeterTest() : meter(49, {4, 177, 8, 120}, test::numberedStrip(8, 120, 16), 16) {
        test::attach(meter, host, listener, PixelBuffer(40, 320));
    }

    int32_t frameFor(float reading) {
        host.fakeEngine.meters[49] = reading;
        host.fireTimers();
        return meter.frameIndex();
    }

    FakeControlHost host;
    RecordingListener listener;
    SegmentMeter meter;
};

TEST_F(MeterTest, AsksForA50MsTimerAndReadsOnceWhenPrepared) {
    ASSERT_EQ(host.timers.size(), 1u);
    EXPECT_EQ(host.timers.begin()->second.periodMs, 50);
    EXPECT_EQ(host.timers.begin()->second.control, &meter);
    EXPECT_EQ(meter.timerId(), host.timers.begin()->first);
    EXPECT_FALSE(meter.takesMouse());
    // The first reading shows at once; without an engine the reading is zero.
    FakeControlHost other;
    other.fakeEngine.meters[42] = 0.5f;
    SegmentMeter glow(42, {-1, 40, 26, 32}, test::numberedStrip(26, 32, 32), 32);
    test::attach(glow, other, listener, PixelBuffer(40, 80));
    EXPECT_EQ(glow.frameIndex(), 16);
    other.withEngine = false;
    other.fireTimers();
    EXPECT_EQ(glow.frameIndex(), 0);
}

TEST_F(MeterTest, ShowsTheReadingRoundedToTheNearestSegment) {
    EXPECT_EQ(frameFor(0.97f), 15);
    EXPECT_EQ(frameFor(0.03f), 0);
    EXPECT_EQ(frameFor(0.5f), 8);
    EXPECT_EQ(frameFor(0.53f), 8);  // 8.48
    EXPECT_EQ(frameFor(0.535f), 9); // 8.56
    EXPECT_EQ(frameFor(1.0f), 15);
    EXPECT_EQ(frameFor(7.0f), 15);
    EXPECT_EQ(frameFor(-1.0f), 0);
    EXPECT_TRUE(listener.events.empty());
}

} // namespace
} // namespace pellucer::gui
