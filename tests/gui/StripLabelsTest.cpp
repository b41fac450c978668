// The strip's own labels: the compander readings in figures (polled, painted only in their text
// area) and the value readout that asks for a direct entry.

#include <gtest/gtest.h>

#include <cmath>

#include "GUI/ReadingLabel.h"
#include "GUI/ValueReadout.h"
#include "tests/gui/GuiTestSupport.h"

namespace pellucer {
namespace {

using gui::Rect;
using gui::test::FakeControlHost;
using gui::test::PixelDrawContext;

class ReadingLabelTest : public ::testing::Test {
protected:
    static constexpr Rect kRect{20, 10, 32, 18};

    ReadingLabelTest() : label(45, kRect, nullptr, {230, 196, 77}, 0, u"  0.0") {
        label.setHost(&host);
        label.prepare(gui::test::solidBuffer(80, 40, 0xFF102030u));
    }

    FakeControlHost host;
    ReadingLabel label;
};

TEST_F(ReadingLabelTest, PollsTheReadingEvery50Ms) {
    EXPECT_EQ(label.text(0), u"  0.0");
    EXPECT_FALSE(label.takesMouse());
    ASSERT_EQ(host.timers.size(), 1u);
    EXPECT_EQ(host.timers.begin()->second.periodMs, 50);
    EXPECT_EQ(label.timerId(), host.timers.begin()->first);

    host.fakeEngine.reductions[45] = static_cast<float>(std::pow(10.0, 4.5 / 20.0));
    host.fireTimers();
    EXPECT_EQ(label.text(0), u"  4.5");
    // An unchanged figure asks for no repaint.
    host.invalidations.clear();
    host.fireTimers();
    EXPECT_TRUE(host.invalidations.empty());
    // Hidden, it keeps what it showed.
    label.hide();
    host.fakeEngine.reductions[45] = 4.0f;
    host.fireTimers();
    EXPECT_EQ(label.text(0), u"  4.5");
    label.show();
    host.fireTimers();
    EXPECT_EQ(label.text(0), u"   12");
}

TEST_F(ReadingLabelTest, PaintsOnlyItsTextArea) {
    label.setTextArea({13, 0, 17, 18});
    EXPECT_EQ(label.textArea(), (Rect{13, 0, 17, 18}));
    PixelDrawContext context(80, 40);
    context.fillRect({0, 0, 80, 40}, {255, 0, 0}); // what other controls drew
    ASSERT_TRUE(label.draw(context));
    // The background goes back under the text area only.
    EXPECT_EQ(context.rgb(kRect.left + 13, kRect.top), 0x102030u);
    EXPECT_EQ(context.rgb(kRect.left + 29, kRect.bottom() - 1), 0x102030u);
    EXPECT_EQ(context.rgb(kRect.left + 12, kRect.top + 5), 0xFF0000u);
    EXPECT_EQ(context.rgb(kRect.left + 30, kRect.top + 5), 0xFF0000u);
    ASSERT_EQ(context.texts.size(), 1u);
    EXPECT_EQ(context.texts[0].rect, (Rect{kRect.left + 13, kRect.top, 17, 18}));
    EXPECT_EQ(context.texts[0].text, u"  0.0");
    EXPECT_EQ(context.texts[0].alignment, 0);
    EXPECT_FALSE(label.draw(context)); // nothing changed since
    // An area reaching out of the rectangle is held to it.
    label.setTextArea({20, -5, 40, 40});
    EXPECT_EQ(label.textArea(), (Rect{20, 0, 12, 18}));
}

TEST(ValueReadout, LeftClickAsksForADirectEntry) {
    ValueReadout readout(57, {10, 10, 83, 17}, nullptr, {191, 218, 243}, 2);
    int requests = 0;
    readout.mouseDown(5, 5, gui::mouse::kLeft); // nobody listening yet: nothing happens
    readout.setEntryRequest([&requests] { ++requests; });
    readout.mouseDown(5, 5, gui::mouse::kLeft);
    EXPECT_EQ(requests, 1);
    readout.mouseDown(5, 5, gui::mouse::kRight);
    readout.mouseDown(5, 5, gui::mouse::kLeft | gui::mouse::kAlt);
    EXPECT_EQ(requests, 1);
    readout.beginEdit(); // a gesture runs
    readout.mouseDown(5, 5, gui::mouse::kLeft);
    EXPECT_EQ(requests, 1);
    readout.endEdit();
    readout.mouseDown(5, 5, gui::mouse::kLeft | gui::mouse::kShift);
    EXPECT_EQ(requests, 2);
}

} // namespace
} // namespace pellucer
