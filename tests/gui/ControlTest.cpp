// The control base: compositing of a strip over the saved background (weight from the level
// table and the opacity, the mask, the highlight line), the background snapshot, redraw and
// invalidation rules, gestures, and the text label.

#include "Shared/GUI/Control.h"

#include <gtest/gtest.h>

#include <cmath>

#include "Shared/GUI/Font.h"
#include "Shared/GUI/Knob.h"
#include "Shared/GUI/Switch.h"
#include "Shared/GUI/TextLabel.h"
#include "tests/gui/GuiTestSupport.h"

namespace pellucer::gui {
namespace {

using test::FakeControlHost;
using test::PixelDrawContext;
using test::RecordingListener;

constexpr uint32_t kBackgroundArgb = 0xFF204060u; // red 0x20, green 0x40, blue 0x60

uint8_t channel(uint32_t argb, int shift) { return static_cast<uint8_t>(argb >> shift); }

/// Image of frame k at (x, y): a different colour per pixel and frame.
uint32_t testImage(int32_t k, int32_t x, int32_t y) {
    return 0xFF000000u | (static_cast<uint32_t>(40 * x + 10) << 16) |
           (static_cast<uint32_t>(60 * y + 30 * k) << 8) | static_cast<uint32_t>(200 - 50 * k);
}

/// The mask sweeps from nothing at x = 0 to all image at x = 4.
int32_t testMask(int32_t, int32_t x, int32_t) {
    static constexpr int32_t kMask[] = {0, 64, 128, 200, 255};
    return kMask[x];
}

/// What a pixel becomes: the background moved towards the image by mask x weight.
double expectedChannel(double image, double background, double mask, double weight) {
    return background + (image - background) * (mask / 255.0) * (weight / 255.0);
}

class CompositingTest : public ::testing::Test {
protected:
    static constexpr Rect kRect{7, 4, 5, 3};

    CompositingTest()
        : background(test::solidBuffer(20, 12, kBackgroundArgb)), context(20, 12),
          knob(5, kRect, test::makeStrip(5, 3, 2, testImage, testMask), 0.0) {
        // Two frames: the knob's frame rule gives frame 1 only at value 1.
        test::attach(knob, host, listener, background);
    }

    /// Checks every pixel of the knob on the surface against the blend of frame `frame` with
    /// `weight`, and that the surface outside the knob is untouched.
    void expectComposite(int32_t frame, double weight) {
        for (int32_t y = 0; y < kRect.height; ++y)
            for (int32_t x = 0; x < kRect.width; ++x) {
                const uint32_t image = testImage(frame, x, y);
                const uint32_t got = context.rgb(kRect.left + x, kRect.top + y);
                for (int shift : {0, 8, 16})
                    EXPECT_NEAR(channel(got, shift),
                                expectedChannel(channel(image, shift), channel(kBackgroundArgb, shift),
                                                testMask(frame, x, y), weight),
                                1.0)
                        << "pixel " << x << "," << y << " shift " << shift;
            }
        EXPECT_EQ(context.rgb(kRect.left - 1, kRect.top), 0u);
        EXPECT_EQ(context.rgb(kRect.right(), kRect.top), 0u);
    }

    PixelBuffer background;
    PixelDrawContext context;
    FakeControlHost host;
    RecordingListener listener;
    Knob knob;
};

TEST_F(CompositingTest, FullLevelAndOpacityShowTheImageExactlyWhereTheMaskIsFull) {
    ASSERT_TRUE(knob.draw(context));
    expectComposite(0, 255.0);
    // Mask 255: the image itself, not 254/256 of it. Mask 0: the background itself.
    EXPECT_EQ(context.rgb(kRect.left + 4, kRect.top + 2), testImage(0, 4, 2) & 0xFFFFFFu);
    EXPECT_EQ(context.rgb(kRect.left, kRect.top + 1), kBackgroundArgb & 0xFFFFFFu);
    // The value selects the frame.
    knob.setValue(1.0f);
    ASSERT_EQ(knob.frameIndex(), 1);
    ASSERT_TRUE(knob.draw(context));
    expectComposite(1, 255.0);
}

TEST_F(CompositingTest, OpacityAndTheSelectedLevelWeighTheImage) {
    // Entries outside the ten-entry level table are ignored: every entry stays full.
    knob.setLevel(11, 0.0f);
    knob.setLevel(-1, 0.0f);
    for (int32_t index = 0; index < Control::kLevels; ++index) {
        knob.setLevelIndex(index);
        ASSERT_TRUE(knob.draw(context));
        expectComposite(0, 255.0);
    }
    knob.setOpacity(0.5f); // 127
    knob.setLevelIndex(0);
    ASSERT_TRUE(knob.draw(context));
    expectComposite(0, 127.0);

    // Level entry 3 at a quarter, selected: 63 x 127 / 256 of the image.
    knob.setLevel(3, 0.25f);
    knob.setLevelIndex(3);
    ASSERT_TRUE(knob.draw(context));
    expectComposite(0, 63.0 * 127.0 / 256.0);

    knob.setOpacity(0.0f);
    ASSERT_TRUE(knob.draw(context));
    expectComposite(0, 0.0);
}

TEST_F(CompositingTest, HighlightBlendsAHalfStrengthLineJustInsideTheBorder) {
    const Colour red{255, 0, 0};
    knob.setHighlight(red);
    ASSERT_TRUE(knob.draw(context));
    // Row 1 of a 3-row control is the line (inset 1 from top and bottom alike); the pixel at
    // x = 1 is background under mask 64, then half red over it.
    const double under = expectedChannel(channel(testImage(0, 1, 1), 16), 0x20, 64, 255);
    EXPECT_NEAR(channel(context.rgb(kRect.left + 1, kRect.top + 1), 16), (255.0 + under) / 2.0, 1.0);
    EXPECT_NEAR(channel(context.rgb(kRect.left + 1, kRect.top + 1), 0),
                expectedChannel(channel(testImage(0, 1, 1), 0), 0x60, 64, 255) / 2.0, 1.0);
    // The border itself is not touched.
    EXPECT_NEAR(channel(context.rgb(kRect.left, kRect.top), 16), 0x20, 0.0);
    // Black is no highlight.
    knob.setHighlight(Colour{});
    ASSERT_TRUE(knob.draw(context));
    expectComposite(0, 255.0);
}

TEST_F(CompositingTest, DrawsOnlyWhenTheFrameChangedOrARedrawWasAsked) {
    EXPECT_TRUE(knob.draw(context));
    EXPECT_FALSE(knob.draw(context));
    knob.setValue(0.4f); // still frame 0
    EXPECT_FALSE(knob.draw(context));
    knob.setValue(1.0f);
    EXPECT_TRUE(knob.draw(context));
    knob.markForRedraw();
    EXPECT_TRUE(knob.draw(context));
    knob.hide();
    knob.show();
    EXPECT_TRUE(knob.draw(context));
    EXPECT_EQ(context.pixelDraws, 4);
}

TEST(ControlBase, SnapshotTakesTheBackgroundUnderTheRectangleAndClipsAtTheEdges) {
    // A background whose pixel tells its position: red = x, green = y.
    PixelBuffer background(30, 20);
    for (int32_t y = 0; y < 20; ++y)
        for (int32_t x = 0; x < 30; ++x)
            background.setArgb(
                x, y, 0xFF000000u | (static_cast<uint32_t>(x) << 16) | (static_cast<uint32_t>(y) << 8));
    FakeControlHost host;
    RecordingListener listener;
    // Like the tube glow, one column left of the frame.
    Switch glow(42, {-1, 5, 4, 3}, nullptr);
    test::attach(glow, host, listener, background);
    ASSERT_EQ(glow.background().width(), 4);
    ASSERT_EQ(glow.background().height(), 3);
    EXPECT_EQ(glow.background().argb(0, 0), 0u);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 1; x < 4; ++x)
            EXPECT_EQ(glow.background().argb(x, y), background.argb(x - 1, 5 + y));
}

TEST(ControlBase, AMissingStripLeavesTheControlWorkingButUndrawn) {
    PixelBuffer background = test::solidBuffer(40, 40, kBackgroundArgb);
    FakeControlHost host;
    RecordingListener listener;
    PixelDrawContext context(40, 40);
    Switch power(0, {2, 2, 10, 10}, nullptr);
    test::attach(power, host, listener, background);
    power.mouseDown(3, 3, mouse::kLeft);
    EXPECT_EQ(power.value(), 1.0);
    EXPECT_FALSE(power.draw(context));
    EXPECT_EQ(context.pixelDraws, 0);
}

TEST(ControlBase, InvalidatesItsRectangleOnlyWhenTheFrameHasAWindow) {
    FakeControlHost host;
    RecordingListener listener;
    Switch power(0, {2, 3, 10, 11}, test::numberedStrip(10, 11, 2));
    test::attach(power, host, listener, PixelBuffer(40, 40));
    host.invalidations.clear();
    power.setValue(1.0f);
    ASSERT_EQ(host.invalidations.size(), 1u);
    EXPECT_EQ(host.invalidations[0], (Rect{2, 3, 10, 11}));
    power.setValue(0.9f); // same frame: nothing to repaint
    EXPECT_EQ(host.invalidations.size(), 1u);
    host.window = false;
    power.setValue(0.0f);
    power.setOpacity(0.5f);
    power.show();
    EXPECT_EQ(host.invalidations.size(), 1u);
    EXPECT_EQ(power.frameIndex(), 0);
}

TEST(ControlBase, OpacityValuesAndDefaultsAreHeldToTheirRanges) {
    Knob knob(5, {0, 0, 50, 60}, nullptr, 1.7);
    EXPECT_EQ(knob.defaultValue(), 1.0);
    knob.setDefault(-3.0f);
    EXPECT_EQ(knob.defaultValue(), 0.0);
    knob.setValue(42.0f);
    EXPECT_EQ(knob.value(), 1.0);
    knob.setValue(std::nanf(""));
    EXPECT_EQ(knob.value(), 0.0);
    // Opacity is truncated to a byte.
    const std::pair<float, int32_t> opacities[] = {
        {0.999f, 254}, {1.5f, 255}, {-0.2f, 0}, {std::nanf(""), 0}};
    for (const auto& [opacity, byte] : opacities) {
        knob.setOpacity(opacity);
        EXPECT_EQ(knob.opacity(), byte) << opacity;
    }
}

TEST(ControlBase, EndEditWithoutABeginSendsNothing) {
    RecordingListener listener;
    Switch s(3, {0, 0, 4, 4}, nullptr);
    s.setListener(&listener);
    s.endEdit();
    EXPECT_TRUE(listener.events.empty());
    s.beginEdit();
    EXPECT_TRUE(s.editing());
    s.endEdit();
    s.endEdit();
    EXPECT_EQ(listener.codes(), (std::vector<int32_t>{event::kBeginEdit, event::kEndEdit}));
    EXPECT_EQ(listener.events[0].id, 3);
}

TEST(ControlBase, TextSlotsHoldTextAndRedrawOnChange) {
    FakeControlHost host;
    RecordingListener listener;
    TextLabel label(58, {10, 10, 40, 12}, nullptr, Colour{1, 2, 3}, DrawContext::kAlignLeft);
    test::attach(label, host, listener, PixelBuffer(60, 30));
    PixelDrawContext context(60, 30);
    EXPECT_TRUE(label.draw(context));
    EXPECT_FALSE(label.draw(context));
    label.setText(1, u"second");
    label.setText(0, u"first");
    label.setText(Control::kTextSlots, u"ignored");
    EXPECT_EQ(label.text(0), u"first");
    EXPECT_EQ(label.text(1), u"second");
    EXPECT_EQ(label.text(Control::kTextSlots), u"");
    EXPECT_EQ(label.text(-1), u"");
    EXPECT_TRUE(label.draw(context));
    label.setText(0, u"first"); // unchanged: nothing to do
    EXPECT_FALSE(label.draw(context));
}

TEST(TextLabelDraw, RestoresItsBackgroundThenDrawsSlotZeroTransparentlyInItsRectangle) {
    PixelBuffer background = test::solidBuffer(60, 30, kBackgroundArgb);
    FakeControlHost host;
    RecordingListener listener;
    const auto font = std::make_shared<const Font>(Font::Spec{Font::kLucidaConsole, 9, 3});
    TextLabel readout(57, {10, 8, 40, 12}, font, Colour{191, 218, 243}, DrawContext::kAlignCentre);
    test::attach(readout, host, listener, background);
    readout.setText(0, u"-12.5 dB");
    PixelDrawContext context(60, 30);
    Font other(Font::Spec{});
    context.selectFont(&other);
    ASSERT_TRUE(readout.draw(context));

    // The background under the label, nothing else.
    EXPECT_EQ(context.rgb(10, 8), kBackgroundArgb & 0xFFFFFFu);
    EXPECT_EQ(context.rgb(49, 19), kBackgroundArgb & 0xFFFFFFu);
    EXPECT_EQ(context.rgb(9, 8), 0u);
    ASSERT_EQ(context.texts.size(), 1u);
    const auto& call = context.texts[0];
    EXPECT_FALSE(call.atPoint);
    EXPECT_EQ(call.rect, (Rect{10, 8, 40, 12}));
    EXPECT_EQ(call.text, u"-12.5 dB");
    EXPECT_TRUE(call.transparent);
    EXPECT_EQ(call.alignment, DrawContext::kAlignCentre);
    EXPECT_EQ(call.colour, (Colour{191, 218, 243}));
    EXPECT_EQ(call.font, font.get());
    EXPECT_EQ(context.selectedFont(), &other);
}

} // namespace
} // namespace pellucer::gui
