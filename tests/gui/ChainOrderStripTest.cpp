// The order strip: slot arithmetic, the drag with its grab offset and limits, the move asked of
// the effect, and icons drawn in the effect's order.

#include "Shared/GUI/ChainOrderStrip.h"

#include <gtest/gtest.h>

#include "tests/gui/GuiTestSupport.h"

namespace pellucer::gui {
namespace {

using test::FakeControlHost;
using test::PixelDrawContext;
using test::RecordingListener;

/// Icon i is a solid colour with i in its red byte and 0xA0 in green.
std::shared_ptr<ImageStrip> icon(int32_t index) {
    auto strip = std::make_shared<ImageStrip>();
    strip->image = test::solidBuffer(40, 47, 0xFF00A000u | (static_cast<uint32_t>(index) << 16));
    return strip; // no mask: icons are opaque
}

class OrderStripTest : public ::testing::Test {
protected:
    static constexpr Rect kRect{511, 244, 240, 57};

    OrderStripTest()
        : strip(38, kRect,
                test::makeStrip(
                    240, 57, 1, [](int32_t, int32_t, int32_t) { return 0xFF102030u; },
                    [](int32_t, int32_t, int32_t) { return 255; }),
                {icon(0), icon(1), icon(2), icon(3), icon(4)}) {
        test::attach(strip, host, listener, PixelBuffer(800, 320));
        host.fakeEngine.order = {0, 1, 2, 3, 4};
    }

    /// Drags the icon taken at x0 to x1 and drops it there.
    void dragDrop(int32_t x0, int32_t x1) {
        strip.mouseDown(x0, 20, mouse::kLeft);
        strip.mouseMove(x1, 20, mouse::kLeft);
        strip.mouseUp(x1, 20, 0);
    }

    /// Which icon the surface shows at slot position `left`.
    int32_t iconAt(const PixelDrawContext& context, int32_t left) const {
        const uint32_t rgb = context.rgb(kRect.left + left + 20, kRect.top + 30);
        return (rgb & 0xFF00u) == 0xA000u ? static_cast<int32_t>(rgb >> 16) : -1;
    }

    FakeControlHost host;
    RecordingListener listener;
    ChainOrderStrip strip;
};

TEST_F(OrderStripTest, FiveSlotsOfFiftyOverWidthPlusTen) {
    EXPECT_EQ(strip.slotAt(0), 0);
    EXPECT_EQ(strip.slotAt(49), 0);
    EXPECT_EQ(strip.slotAt(50), 1);
    EXPECT_EQ(strip.slotAt(199), 3);
    EXPECT_EQ(strip.slotAt(249), 4);
    EXPECT_EQ(strip.slotAt(250), -1);
    EXPECT_EQ(strip.slotAt(-1), -1);
    for (int32_t s = 0; s < 5; ++s)
        EXPECT_EQ(strip.slotLeft(s), 50 * s);
    // An odd width rounds the slot edges: (233 + 10) / 5 = 48.6.
    ChainOrderStrip odd(38, {0, 0, 233, 57}, nullptr, {});
    EXPECT_EQ(odd.slotLeft(1), 49);
    EXPECT_EQ(odd.slotLeft(3), 146);
    EXPECT_EQ(odd.slotAt(48), 0);
    EXPECT_EQ(odd.slotAt(49), 1);
}

TEST_F(OrderStripTest, PressingAnIconTakesItWithItsGrabOffset) {
    strip.mouseDown(250, 20, mouse::kLeft);   // outside the slots: nothing taken
    strip.mouseDown(65535, 20, mouse::kLeft); // -1
    EXPECT_FALSE(strip.tracking());
    EXPECT_EQ(host.captures, 0);
    EXPECT_TRUE(listener.events.empty());

    strip.mouseDown(73, 20, mouse::kLeft);
    EXPECT_EQ(strip.draggedSlot(), 1);
    EXPECT_EQ(strip.grabOffset(), 50 - 73);
    EXPECT_EQ(strip.draggedLeft(), 50);
    EXPECT_EQ(host.captured, &strip);
    ASSERT_EQ(listener.codes(), (std::vector<int32_t>{event::kContextClick}));
    EXPECT_EQ(listener.events[0].position, (Point{kRect.left + 73, kRect.top + 20}));
    strip.mouseUp(73, 20, 0);
}

TEST_F(OrderStripTest, TheDraggedIconFollowsWithinTheFirstAndLastPlaces) {
    strip.mouseDown(73, 20, mouse::kLeft);
    strip.mouseMove(100, 20, mouse::kLeft);
    EXPECT_EQ(strip.draggedLeft(), 77);
    strip.mouseMove(5, 20, mouse::kLeft);
    EXPECT_EQ(strip.draggedLeft(), 0);
    strip.mouseMove(65536 - 40, 20, mouse::kLeft);
    EXPECT_EQ(strip.draggedLeft(), 0);
    strip.mouseMove(600, 20, mouse::kLeft);
    EXPECT_EQ(strip.draggedLeft(), 200);
    strip.mouseUp(600, 20, 0);
    EXPECT_EQ(strip.draggedSlot(), -1);
}

TEST_F(OrderStripTest, DropPositionsInsertBeforeTheModuleThatWasThere) {
    EXPECT_EQ(strip.dropPosition(1, 120), 3);  // onto slot 2: after it
    EXPECT_EQ(strip.dropPosition(3, 10), 0);   // onto slot 0: before it
    EXPECT_EQ(strip.dropPosition(1, 249), 5);  // onto the last slot: at the end
    EXPECT_EQ(strip.dropPosition(2, 120), -1); // its own slot: no move
    EXPECT_EQ(strip.dropPosition(2, -30), 0);  // left of the strip
    EXPECT_EQ(strip.dropPosition(2, -300), 0);
    EXPECT_EQ(strip.dropPosition(1, 400), 5); // right of the strip
}

TEST_F(OrderStripTest, DroppingTheSecondIconOnTheThirdSlotMovesItBehindTheThird) {
    dragDrop(60, 120);
    EXPECT_EQ(host.fakeEngine.moves, (std::vector<std::pair<int32_t, int32_t>>{{1, 3}}));
    EXPECT_EQ(host.fakeEngine.order, (std::array<int32_t, 5>{0, 2, 1, 3, 4}));
    EXPECT_EQ(listener.codes(), (std::vector<int32_t>{event::kContextClick, event::kContextClick}));
    EXPECT_EQ(host.captured, nullptr);

    dragDrop(220, 65536 - 20); // the last one to the front, dropped left of the strip
    EXPECT_EQ(host.fakeEngine.moves.back(), (std::pair<int32_t, int32_t>{4, 0}));
    EXPECT_EQ(host.fakeEngine.order, (std::array<int32_t, 5>{4, 0, 2, 1, 3}));

    dragDrop(60, 95); // onto its own slot: no move
    EXPECT_EQ(host.fakeEngine.moves.size(), 2u);
    EXPECT_FALSE(strip.tracking());
}

TEST_F(OrderStripTest, DrawsTheIconsInTheEffectsOrder) {
    host.fakeEngine.order = {2, 0, 1, 3, 4};
    PixelDrawContext context(800, 320);
    ASSERT_TRUE(strip.draw(context));
    for (int32_t s = 0; s < 5; ++s)
        EXPECT_EQ(iconAt(context, 50 * s), host.fakeEngine.order[static_cast<size_t>(s)]);
    // Icons sit at y 5, over the strip's own image.
    EXPECT_EQ(context.rgb(kRect.left + 20, kRect.top + 4), 0x102030u);
    EXPECT_EQ(context.rgb(kRect.left + 20, kRect.top + 5), 0x02A000u);
    EXPECT_EQ(context.rgb(kRect.left + 20, kRect.top + 51), 0x02A000u);
    EXPECT_EQ(context.rgb(kRect.left + 20, kRect.top + 52), 0x102030u);
    EXPECT_EQ(context.rgb(kRect.left + 45, kRect.top + 30), 0x102030u); // between icons

    // A new order (parameter 38 changed) shows at the next draw.
    host.fakeEngine.order = {4, 3, 2, 1, 0};
    EXPECT_FALSE(strip.draw(context));
    strip.setValue(0.5f);
    ASSERT_TRUE(strip.draw(context));
    EXPECT_EQ(iconAt(context, 0), 4);
    EXPECT_EQ(iconAt(context, 200), 0);
}

TEST_F(OrderStripTest, WithoutAnEffectTheStripShowsNoIconsAndMovesNothing) {
    host.withEngine = false;
    PixelDrawContext context(800, 320);
    ASSERT_TRUE(strip.draw(context));
    EXPECT_EQ(context.rgb(kRect.left + 20, kRect.top + 30), 0x102030u);
    dragDrop(10, 230);
    EXPECT_TRUE(host.fakeEngine.moves.empty());
}

} // namespace
} // namespace pellucer::gui
