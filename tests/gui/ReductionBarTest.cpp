// The gain-reduction bar: length for a reading, the instant rise and the 0.3 fall, the drawn
// steps, and the double-click clear.

#include "Shared/GUI/ReductionBar.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/gui/GuiTestSupport.h"

namespace pellucer::gui {
namespace {

using test::FakeControlHost;
using test::PixelDrawContext;
using test::RecordingListener;

class ReductionBarTest : public ::testing::Test {
protected:
    static constexpr Rect kRect{735, 108, 9, 114};

    ReductionBarTest() : bar(45, kRect) { test::attach(bar, host, listener, PixelBuffer(800, 250)); }

    void tick(float reading) {
        host.fakeEngine.reductions[45] = reading;
        host.fireTimers();
    }

    FakeControlHost host;
    RecordingListener listener;
    ReductionBar bar;
};

TEST_F(ReductionBarTest, UsesWholeStepsBelowTheTopMarginAndPollsEvery50Ms) {
    ASSERT_EQ(host.timers.size(), 1u);
    EXPECT_EQ(host.timers.begin()->second.periodMs, 50);
    EXPECT_EQ(bar.timerId(), host.timers.begin()->first);
    EXPECT_EQ(bar.usableHeight(), 111);
    ReductionBar odd(46, {0, 0, 9, 100});
    EXPECT_EQ(odd.usableHeight(), 96); // 97 rounded down to whole steps
}

TEST_F(ReductionBarTest, LengthFollowsTheDecibelsOfTheRatio) {
    EXPECT_EQ(bar.barLength(1.0), 111);                       // no reduction: nothing lit
    EXPECT_EQ(bar.barLength(2.0), 55);                        // 6.02 dB of 12: trunc(0.498 x 111)
    EXPECT_EQ(bar.barLength(4.0), 0);                         // 12.04 dB: full
    EXPECT_EQ(bar.barLength(0.0), 111);                       // cleared: -120 dB, nothing lit
    EXPECT_EQ(bar.barLength(std::pow(10.0, 3.0 / 20.0)), 83); // 3 dB: a quarter lit
}

TEST_F(ReductionBarTest, RisesAtOnceAndFallsBackThreeTenthsPerTick) {
    tick(4.0f);
    EXPECT_EQ(bar.displayed(), 4.0);
    tick(1.0f);
    EXPECT_NEAR(bar.displayed(), 3.1, 1e-12);
    tick(1.0f);
    EXPECT_NEAR(bar.displayed(), 2.47, 1e-12);
    tick(3.0f);
    EXPECT_EQ(bar.displayed(), 3.0);
    tick(2.9f);
    EXPECT_NEAR(bar.displayed(), 3.0 + 0.3 * (2.9f - 3.0), 1e-6);
}

TEST_F(ReductionBarTest, ReadingsAreClampedBetweenOneAndFour) {
    tick(10.0f);
    EXPECT_EQ(bar.displayed(), 4.0);
    for (int i = 0; i < 200; ++i)
        tick(0.25f);
    EXPECT_NEAR(bar.displayed(), 1.0, 1e-9);
    EXPECT_EQ(bar.frameIndex(), 111);
}

TEST_F(ReductionBarTest, DrawsUnlitStepsAboveTheLengthAndAmberBelow) {
    tick(2.0f);
    PixelDrawContext context(800, 250);
    ASSERT_TRUE(bar.draw(context));
    const uint32_t background = 0x323232u, unlit = 0x444444u, lit = 0xE6C44Du;
    EXPECT_EQ(context.rgb(kRect.left + 4, kRect.top + 1), background); // the top margin
    // Steps start at rows 3, 6, ... 111 of the bar; the length is 55, so the step at offset 54
    // is the last unlit one and offset 57 the first lit one.
    const int32_t unlitRow = kRect.top + 3 + 54, litRow = kRect.top + 3 + 57;
    EXPECT_EQ(context.rgb(kRect.left + 0, unlitRow), background);
    EXPECT_EQ(context.rgb(kRect.left + 1, unlitRow), unlit);
    EXPECT_EQ(context.rgb(kRect.left + 7, unlitRow + 2), unlit);
    EXPECT_EQ(context.rgb(kRect.left + 8, unlitRow), background);
    EXPECT_EQ(context.rgb(kRect.left + 2, litRow), background);
    EXPECT_EQ(context.rgb(kRect.left + 3, litRow), lit);
    EXPECT_EQ(context.rgb(kRect.left + 5, litRow + 2), lit);
    EXPECT_EQ(context.rgb(kRect.left + 6, litRow), background);
    EXPECT_EQ(context.rgb(kRect.left + 4, kRect.top + 113), lit); // the bottom step
    int32_t litSteps = 0;
    for (int32_t offset = 0; offset < 111; offset += 3)
        litSteps += context.rgb(kRect.left + 4, kRect.top + 3 + offset) == lit;
    EXPECT_EQ(litSteps, 18);
    EXPECT_FALSE(bar.draw(context));
    // Twelve decibels light every step.
    tick(4.0f);
    ASSERT_TRUE(bar.draw(context));
    for (int32_t offset = 0; offset < 111; offset += 3)
        EXPECT_EQ(context.rgb(kRect.left + 4, kRect.top + 3 + offset), lit) << offset;
}

TEST_F(ReductionBarTest, DoubleClickClearsTheBarAndTheEffectsReading) {
    tick(4.0f);
    bar.doubleClick(3, 3, mouse::kLeft);
    EXPECT_EQ(bar.displayed(), 0.0);
    EXPECT_EQ(bar.frameIndex(), 111);
    EXPECT_EQ(host.fakeEngine.resets, (std::vector<int32_t>{45}));
    PixelDrawContext context(800, 250);
    ASSERT_TRUE(bar.draw(context));
    EXPECT_EQ(context.rgb(kRect.left + 4, kRect.top + 113), 0x444444u);
    // The next reading shows at once again.
    tick(2.0f);
    EXPECT_EQ(bar.displayed(), 2.0);
}

} // namespace
} // namespace pellucer::gui
