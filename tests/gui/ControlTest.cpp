// The editor's controls without a window: a strip frame composited over the background, the switch,
// the reduction bar, the knob and the fader a drag moves, the order strip, the graph panel and the
// key codes. The window tests drive a knob and a switch under Wine.

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>

#include "Shared/GUI/ChainOrderStrip.h"
#include "Shared/GUI/Fader.h"
#include "Shared/GUI/Font.h"
#include "Shared/GUI/GraphPanel.h"
#include "Shared/GUI/Knob.h"
#include "Shared/GUI/ReductionBar.h"
#include "Shared/GUI/Switch.h"
#include "core/SkinTable.h"
#include "tests/gui/GuiTestSupport.h"

namespace pellucer::gui {
namespace {

using test::Table;

const std::vector<int32_t> kOneGesture{event::kBeginEdit, event::kValueChanged, event::kEndEdit};

std::shared_ptr<ImageStrip> solidStrip(int32_t width, int32_t height, uint32_t argb) {
    return test::makeStrip(
        width, height, 1, [argb](auto...) { return argb; }, [](auto...) { return 255; });
}

class ControlTest : public ::testing::Test {
protected:
    /// A left-button drag from `from` to `to` along y (along x for the order strip) with `flags`.
    void drag(Control& control, int32_t from, int32_t to, int32_t flags = 0, bool alongX = false) {
        control.mouseDown(alongX ? from : 10, alongX ? 20 : from, mouse::kLeft | flags);
        control.mouseMove(alongX ? to : 10, alongX ? 20 : to, mouse::kLeft | flags);
        control.mouseUp(alongX ? to : 10, alongX ? 20 : to, flags);
    }

    test::FakeControlHost host;
    test::RecordingListener listener;
};

// The strip's image has another colour for every pixel; its mask sweeps from nothing at x = 0 to all
// image at x = 4. Each pixel shown is the background moved towards the image by the mask (of 255).
TEST_F(ControlTest, CompositingShowsTheImageAsMuchAsItsMaskSaysOverTheBackgroundUnderIt) {
    constexpr Rect kRect{7, 4, 5, 3};
    constexpr uint32_t kGround = 0xFF204060u;
    auto image = [](int32_t, int32_t x, int32_t y) {
        return 0xFF000000u | (40u * x + 10) << 16 | 60u * y << 8 | 150u;
    };
    auto mask = [](int32_t, int32_t x, int32_t) { return 64 * x - (x == 4 ? 1 : 0); };
    test::PixelDrawContext context(20, 12);
    Knob knob(5, kRect, test::makeStrip(5, 3, 2, image, mask), 1.0); // two frames: frame 1 at 1
    test::attach(knob, host, listener, test::solidBuffer(20, 12, kGround));
    ASSERT_TRUE(knob.draw(context));
    for (int32_t i = 0; i < 3 * 5 * 3; ++i) {
        const int32_t x = i % 5, y = i / 5 % 3, shift = 8 * (i / 15);
        const double shown = (image(1, x, y) >> shift) & 0xFF, ground = (kGround >> shift) & 0xFF;
        EXPECT_NEAR((context.rgb(kRect.left + x, kRect.top + y) >> shift) & 0xFF,
                    ground + (shown - ground) * mask(1, x, y) / 255.0, 1.0)
            << x << "," << y << " shift " << shift;
    }
    // A full mask shows the image itself, not 254/255 of it; nothing is drawn outside the control.
    EXPECT_EQ(context.rgb(kRect.left + 4, kRect.top + 2), image(1, 4, 2) & 0xFFFFFFu);
    EXPECT_EQ(context.rgb(kRect.left - 1, kRect.top) | context.rgb(kRect.right(), kRect.top), 0u);
    EXPECT_FALSE(knob.draw(context)); // nothing new to draw
}

// A click steps to the next state and wraps, as one gesture; a right click steps back unless it is
// the switch's context click. Each new frame asks for a repaint while the frame has a window.
TEST_F(ControlTest, SwitchClicksStepThroughItsStatesAndAskForARepaint) {
    Switch power(0, {775, 8, 37, 27}, nullptr); // without a strip it works, undrawn
    test::attach(power, host, listener, PixelBuffer(820, 60));
    power.setValue(0.49f);
    EXPECT_EQ(power.frameIndex(), 0);
    const int32_t doubleClick = 0, left = mouse::kLeft, right = mouse::kRight,
                  control = left | mouse::kControl;
    const Table<int32_t, float, double> clicks = {
        {left, 0.5f, 0.0},  {left, 0.0f, 1.0},    {doubleClick, 1.0f, 0.0},   {right, 0.0f, 1.0},
        {right, 1.0f, 0.0}, {control, 1.0f, 0.0}, {mouse::kMiddle, 1.0f, 1.0}};
    for (const auto& [click, from, expected] : clicks) { // 0.5 is on
        power.setValue(from);
        listener.codes.clear();
        click == doubleClick ? power.doubleClick(5, 5, left) : power.mouseDown(5, 5, click);
        EXPECT_EQ(power.value(), expected) << click << " from " << from;
        EXPECT_EQ(listener.codes.size(), expected == from ? 0u : 3u) << click << " from " << from;
    }
    power.setDefault(1.0f);
    power.mouseDown(5, 5, control); // back to the default
    host.invalidations.clear();
    power.setValue(0.9f);          // the same frame: nothing to repaint
    power.setValue(std::nanf("")); // a value that is no number is off
    power.setValue(0.4f);
    host.window = false;
    power.setValue(1.0f);
    EXPECT_EQ(host.invalidations, (std::vector<Rect>{{775, 8, 37, 27}}));
    EXPECT_EQ(power.frameIndex(), 1);
}

// The bar's 111 rows under a 3-row margin are 37 steps of 3; the unlit length is 111 rows for no
// reduction and none from 12 dB (a ratio of 4) on: 6.02 dB leave trunc(0.498 x 111) = 55.
TEST_F(ControlTest, ReductionBarRisesAtOnceFallsBackThreeTenthsPerTickAndDrawsItsSteps) {
    constexpr Rect kRect{735, 108, 9, 114};
    ReductionBar bar(45, kRect);
    test::attach(bar, host, listener, PixelBuffer(800, 250));
    EXPECT_EQ(host.timers.at(bar.timerId()).second, 50);
    auto tick = [&](float reading) {
        host.fakeEngine.reductions[45] = reading;
        host.fireTimers();
        return bar.displayed();
    };
    const Table<float, double> ticks = {{4.0f, 4.0},  {1.0f, 3.1},  {1.0f, 2.47}, {3.0f, 3.0},
                                        {2.5f, 2.85}, {10.0f, 4.0}, {0.25f, 3.1}};
    for (const auto& [reading, shown] : ticks)
        EXPECT_NEAR(tick(reading), shown, 1e-12) << reading;
    test::PixelDrawContext context(800, 250);
    auto expectSteps = [&](int32_t unlitSteps) { // each row as '.' dark ground, 'u' unlit, 'l' lit
        ASSERT_TRUE(bar.draw(context));
        for (int32_t y = 1; y < kRect.height; ++y) {
            std::string row;
            for (int32_t x = kRect.left; x < kRect.right(); ++x) {
                const uint32_t rgb = context.rgb(x, kRect.top + y);
                row += rgb == 0x323232u ? '.' : rgb == 0x444444u ? 'u' : rgb == 0xE6C44Du ? 'l' : '?';
            }
            EXPECT_EQ(row, y < 3 ? "........." : (y - 3) / 3 < unlitSteps ? ".uuuuuuu." : "...lll...") << y;
        }
    };
    bar.doubleClick(3, 3, mouse::kLeft); // clears the bar and the effect's reading
    EXPECT_EQ(host.fakeEngine.resets, (std::vector<int32_t>{45}));
    expectSteps(37);
    tick(2.0f); // the next reading shows at once: length 55, the steps at rows 0 .. 54 unlit
    expectSteps(19);
    tick(4.0f);
    expectSteps(0);
}

// A knob drag changes the value by a two-hundredth per pixel up (a tenth of that with Shift, also
// when pressed mid-drag), held at the ends; coordinates from 32769 on are negative (above the window).
TEST_F(ControlTest, KnobDragsMoveTheValueByTheirDistanceAsOneGesture) {
    Knob knob(5, {225, 52, 50, 60}, test::numberedStrip(50, 60, 127), 0.5);
    test::attach(knob, host, listener, PixelBuffer(300, 200));
    // clang-format off
    const Table<float, int32_t, int32_t, int32_t, double> drags = {{0.25f, 50, 65486, mouse::kShift, 0.30},
        {0.25f, 10, 500, 0, 0.0}, {0.5f, 10, 32768, 0, 0.0}, {0.5f, 10, 32769, 0, 1.0}, {0.5f, 10, 65526, 0, 0.6}};
    // clang-format on
    for (const auto& [start, y0, y1, flags, expected] : drags) {
        knob.setValue(start);
        listener.codes.clear();
        knob.mouseDown(20, y0, mouse::kLeft | flags);
        EXPECT_EQ(host.captured, &knob);
        knob.setValue(0.9f); // the hand wins over the effect while it drags
        knob.mouseMove(20, y1, mouse::kLeft | flags);
        knob.mouseUp(20, y1, flags);
        EXPECT_NEAR(knob.value(), expected, 1e-12) << start << " from " << y0 << " to " << y1;
        EXPECT_EQ(std::pair(listener.codes, host.captured),
                  std::pair(kOneGesture, static_cast<Control*>(nullptr)));
    }
    knob.setValue(0.25f);
    knob.mouseDown(20, 100, mouse::kLeft);
    knob.mouseMove(20, 60, mouse::kLeft);                 // 40 up: +0.2
    knob.mouseMove(20, 60, mouse::kLeft | mouse::kShift); // no jump
    knob.mouseMove(20, 40, mouse::kLeft | mouse::kShift); // 20 more, fine: +0.01
    knob.mouseUp(20, 40, 0);
    EXPECT_NEAR(knob.value(), 0.46, 1e-12);
}

// Each key press is one gesture from its key down to its key up, however often it repeats.
TEST_F(ControlTest, KnobKeysStepAsOneGestureFromKeyDownToItsKeyUp) {
    Knob knob(5, {225, 52, 50, 60}, nullptr, 0.5);
    knob.setListener(&listener);
    // clang-format off
    const Table<int32_t, double> keys = {{key::kPageUp, 0.55}, {key::kPageDown, 0.45}, {key::kUp, 0.51},
        {key::kDown, 0.49}, {key::kRight, 0.501}, {key::kLeft, 0.499}};
    // clang-format on
    for (const auto& [k, step] : keys) {
        knob.setValue(0.5f);
        listener.codes.clear();
        ASSERT_TRUE(knob.keyDown(k));
        knob.keyDown(k);       // auto-repeat: more values, no second begin
        knob.setValue(0.1f);   // held off during the key press
        knob.keyUp(key::kEnd); // not the key that began it
        EXPECT_TRUE(knob.editing());
        EXPECT_NEAR(knob.value(), 0.5 + 2 * (step - 0.5), 1e-12) << "key " << k;
        knob.keyUp(k);
        EXPECT_EQ(listener.codes, (std::vector<int32_t>{event::kBeginEdit, event::kValueChanged,
                                                        event::kValueChanged, event::kEndEdit}));
    }
    knob.keyDown(key::kUp);
    knob.focusOff(); // losing the focus ends a key gesture too
    EXPECT_FALSE(knob.editing());
    knob.keyUp(key::kUp);
    EXPECT_FALSE(knob.keyDown(key::kTab));
    knob.doubleClick(20, 20, mouse::kLeft);             // back to the default as one gesture
    knob.mouseDown(11, 13, mouse::kLeft | mouse::kAlt); // a context click, at the frame position
    EXPECT_EQ(std::pair(knob.value(), listener.lastPosition), std::pair(0.5, Point{236, 65}));
    EXPECT_EQ(listener.codes.size(), 4u + 3u + 3u + 1u);
}

// The gain fader, 123 high with a 46-pixel handle: whole steps of a hundredth (a thousandth with
// Shift) per 8/3 pixels, truncated (100 pixels up are 37 steps); the wheel and a double click
// change it without a gesture. Its handle travels 76 rows, the height less its own less one.
TEST_F(ControlTest, FaderMovesByWholeStepsWithTheCursorPulledBackEvery40PixelsAndDrawsItsHandle) {
    constexpr Rect kRect{25, 178, 22, 123};
    constexpr uint32_t kHandle = 0xFFC0A080u, kGround = 0xFF303030u;
    Fader fader(2, kRect, solidStrip(22, 46, kHandle), 0.5);
    test::attach(fader, host, listener, test::solidBuffer(100, 320, kGround));
    // clang-format off
    const Table<int32_t, int32_t, double> drags = {
        {100, mouse::kShift, 0.537}, {-100, 0, 0.13}, {1000, 0, 1.0}, {-1000, 0, 0.0}, {2, 0, 0.5}};
    // clang-format on
    for (const auto& [pixelsUp, flags, expected] : drags) {
        fader.setValue(0.5f);
        listener.codes.clear();
        drag(fader, 60, 60 - pixelsUp, flags);
        EXPECT_NEAR(fader.value(), expected, 1e-12) << pixelsUp << " pixels up, flags " << flags;
        // A drag that moves no whole step is no edit at all.
        EXPECT_EQ(listener.codes, pixelsUp == 2 ? std::vector<int32_t>{} : kOneGesture) << pixelsUp;
    }
    host.cursorMoves.clear();
    fader.mouseDown(10, 60, mouse::kLeft);
    fader.mouseMove(10, 57, mouse::kLeft); // 1.125 steps: the first
    fader.setValue(0.2f);                  // the effect waits until the drag ends
    EXPECT_NEAR(fader.value(), 0.51, 1e-12);
    fader.mouseMove(10, 19, mouse::kLeft);    // 41 up
    fader.mouseMove(10, 65535, mouse::kLeft); // y = -1 from 40 lower: 101 up in all
    EXPECT_NEAR(fader.value(), 0.87, 1e-12);
    fader.mouseMove(10, 110, mouse::kLeft); // 50 below the start, 30 up from where it now reports (140)
    EXPECT_NEAR(fader.value(), 0.61, 1e-12);
    EXPECT_EQ(host.cursorMoves, (std::vector<Point>{{0, 40}, {0, 40}, {0, -40}}));
    EXPECT_FALSE(host.cursorShown.back());
    fader.mouseUp(10, 120, 0);
    EXPECT_TRUE(host.cursorShown.back());
    listener.codes.clear(); // a fortieth a notch, an eighth with Control, a two-hundredth with Shift
    for (const auto& [flags, expected] : Table<int32_t, double>{
             {0, 0.585}, {mouse::kControl, 0.46}, {mouse::kShift | mouse::kControl, 0.455}}) {
        fader.wheel(0, 0, flags, -120);
        EXPECT_NEAR(fader.value(), expected, 1e-6) << flags;
    }
    fader.doubleClick(10, 10, mouse::kLeft);
    EXPECT_EQ(std::pair(fader.value(), listener.codes),
              std::pair(0.5, std::vector<int32_t>(4, event::kValueChanged)));
    test::PixelDrawContext context(100, 320);
    for (const auto& [value, top] : Table<float, int32_t>{{0.5f, 38}, {1.0f, 0}, {0.0f, 76}, {0.25f, 57}}) {
        fader.setValue(value);
        ASSERT_TRUE(fader.draw(context));
        for (int32_t row = 0; row < kRect.height; ++row)
            EXPECT_EQ(context.rgb(kRect.left + 5, kRect.top + row),
                      (row >= top && row < top + 46 ? kHandle : kGround) & 0xFFFFFFu)
                << "value " << value << ", row " << row;
    }
}

// Five slots of (240 + 10) / 5 = 50 pixels. The dragged icon keeps its grab offset to the pointer
// between the first and the last place; the effect puts a module before the one at the asked
// position, so a move to the right asks for the position after the target slot.
TEST_F(ControlTest, OrderStripDropsMoveTheModuleOntoTheSlotItWasDroppedOn) {
    ChainOrderStrip strip(38, {511, 244, 240, 57}, nullptr, {});
    test::attach(strip, host, listener, PixelBuffer(800, 320));
    strip.mouseDown(250, 20, mouse::kLeft);   // right of the slots: nothing taken
    strip.mouseDown(65535, 20, mouse::kLeft); // -1
    EXPECT_TRUE(listener.codes.empty());
    strip.mouseDown(73, 20, mouse::kLeft);
    EXPECT_EQ(std::pair(strip.draggedSlot(), listener.lastPosition), std::pair(1, Point{584, 264}));
    strip.mouseMove(5, 20, mouse::kLeft); // held at the first place, 23 pixels left of the pointer
    EXPECT_EQ(strip.draggedLeft(), 0);
    strip.mouseMove(100, 20, mouse::kLeft);
    EXPECT_EQ(strip.draggedLeft(), 77);
    strip.mouseUp(600, 20, 0);
    EXPECT_EQ(std::pair(strip.draggedSlot(), host.captured), std::pair(-1, static_cast<Control*>(nullptr)));
    // clang-format off
    const Table<int32_t, int32_t, int32_t> drops = { // the last one onto its own slot: no move
        {60, 120, 3}, {160, 10, 0}, {60, 249, 5}, {60, 400, 5}, {220, 65516, 0}, {110, 65236, 0}, {110, 140, -1}};
    // clang-format on
    for (const auto& [x0, x1, position] : drops) {
        host.fakeEngine.moves.clear();
        listener.codes.clear();
        drag(strip, x0, x1, 0, true);
        using Moves = std::vector<std::pair<int32_t, int32_t>>;
        EXPECT_EQ(host.fakeEngine.moves, position < 0 ? Moves() : Moves(1, {x0 / 50, position}))
            << x0 << " " << x1;
        EXPECT_EQ(listener.codes, (std::vector<int32_t>{event::kContextClick, event::kContextClick}));
    }
}

TEST_F(ControlTest, OrderStripDrawsTheIconsInTheEffectsOrderFromItsFifthRow) {
    std::array<std::shared_ptr<const ImageStrip>, 5> icons; // icon i: i in the red byte, 0xA0 in green
    for (uint32_t i = 0; i < 5; ++i)
        icons[i] =
            std::make_shared<ImageStrip>(ImageStrip{test::solidBuffer(40, 47, 0xFF00A000u | i << 16), {}, 1});
    ChainOrderStrip strip(38, {511, 244, 240, 57}, solidStrip(240, 57, 0xFF102030u), icons);
    test::attach(strip, host, listener, PixelBuffer(800, 320));
    test::PixelDrawContext context(800, 320);
    auto iconAt = [&](int32_t slot) { // the icon the slot shows, -1 for none
        const uint32_t rgb = context.rgb(511 + 50 * slot + 20, 244 + 30);
        return (rgb & 0xFF00u) == 0xA000u ? static_cast<int32_t>(rgb >> 16) : -1;
    };
    ASSERT_TRUE(strip.draw(context));
    EXPECT_EQ((std::array{iconAt(0), iconAt(1), iconAt(2), iconAt(3), iconAt(4)}), host.fakeEngine.order);
    EXPECT_EQ(std::tuple(context.rgb(531, 248), context.rgb(531, 249), context.rgb(531, 295),
                         context.rgb(531, 296)),
              std::tuple(0x102030u, 0x02A000u, 0x02A000u, 0x102030u)); // icons from y 5 to 51 of the strip
    host.fakeEngine.order = {4, 3, 2, 1, 0}; // a new order (parameter 38 changed) shows at the next draw
    EXPECT_FALSE(strip.draw(context));
    strip.setValue(0.5f);
    ASSERT_TRUE(strip.draw(context));
    EXPECT_EQ(std::pair(iconAt(0), iconAt(4)), std::pair(4, 0));
}

/// A smooth bell of +9 dB at 1 kHz, about an octave wide.
double bellDb(double hz) { return 9.0 * std::exp(-std::log2(hz / 1000.0) * std::log2(hz / 1000.0) / 0.8); }

// The EQ panel: a 226-pixel log axis from x = 6, +12 .. -12 dB on rows 13 .. 125 (0 dB on 69).
// The compander's square has a side of 112: -90 .. 0 dB from x = 20 and upwards from y = 116.
TEST_F(ControlTest, GraphPanelDrawsTheEffectsCurveWhereTheAxesPutItUnderTheSkinsLabels) {
    if (!textResources().contains("IDS_FREQ_31_25")) {
        ASSERT_EQ(textResources().load(PELLUCER_SOURCE_DIR "/skin/TextResources.tsres"), SkinTable::kSuccess);
    }
    GraphData& curve =
        host.fakeEngine.graphs[GraphPanel::kEq] = {GraphPanel::kEq, 1, {GraphData::kMaxPoints, 0}};
    for (size_t i = 0; i < GraphData::kMaxPoints; ++i) { // 50 points evenly spaced on the log axis
        curve.curves[0][2 * i] = 20.0 * std::pow(1000.0, i / (GraphData::kMaxPoints - 1.0));
        curve.curves[0][2 * i + 1] = bellDb(curve.curves[0][2 * i]);
    }
    constexpr Rect kPanel{512, 105, 238, 130};
    GraphPanel panel(41, kPanel, GraphPanel::kEq);
    const auto font = std::make_shared<const Font>(Font::Spec{});
    panel.setFont(font);
    test::attach(panel, host, listener, test::solidBuffer(800, 260, 0xFF808080u));
    test::PixelDrawContext context(800, 260);
    ASSERT_TRUE(panel.draw(context));
    // In every column the brightest green (the curve's cyan) is on the response's row, to within
    // the straight lines between the 50 points and a pixel.
    for (int32_t x = 8; x < 230; ++x) {
        int32_t brightest = 0;
        for (int32_t y = 1; y < kPanel.height; ++y)
            if ((context.rgb(kPanel.left + x, kPanel.top + y) & 0xFF00) >
                (context.rgb(kPanel.left + x, kPanel.top + brightest) & 0xFF00))
                brightest = y;
        EXPECT_NEAR(brightest, 69.0 - bellDb(20.0 * std::pow(1000.0, (x - 6.0) / 226.0)) * 112.0 / 24.0, 1.6)
            << x;
    }
    // The octave labels, centred on their lines unless that would leave the panel; then 0 dB.
    const char* keys[] = {"IDS_FREQ_31_25", "IDS_FREQ_62_5", "IDS_FREQ_125", "IDS_FREQ_250", "IDS_FREQ_500",
                          "IDS_FREQ_1K",    "IDS_FREQ_2K",   "IDS_FREQ_4K",  "IDS_FREQ_8K",  "IDS_FREQ_16K"};
    ASSERT_EQ(context.texts.size(), 11u);
    for (size_t i = 0; i < 10; ++i) {
        const auto& call = context.texts[i];
        const int32_t half = test::PixelDrawContext::kCharWidth * static_cast<int32_t>(call.text.size()) / 2;
        const auto x =
            static_cast<int32_t>(std::lround(6.0 + std::log10(31.25 * (1 << i) / 20.0) / 3.0 * 226.0));
        EXPECT_TRUE(call.text == textResources().text(keys[i]) && call.atPoint && call.transparent) << i;
        EXPECT_EQ(std::tuple(call.at.x, call.alignment, call.font),
                  std::tuple(kPanel.left + std::clamp(x, half + 1, kPanel.width - 2 - half),
                             DrawContext::kAlignCentre, font.get()));
    }
    EXPECT_EQ(context.texts[10].text, textResources().text("IDS_DB_0"));
    EXPECT_EQ(context.texts[10].at.y + test::PixelDrawContext::kCharHeight, kPanel.top + 69 - 1); // over 0 dB
    EXPECT_EQ(context.selectedFont(), nullptr); // the context's own font again
    // Beyond the axes the panel holds them to its edges; the de-esser's axis starts at 500 Hz.
    EXPECT_EQ(
        std::tuple(panel.xForFrequency(5.0), panel.xForFrequency(96000.0), panel.yForDecibels(-HUGE_VAL)),
        std::tuple(0.0, 237.0, 125.0));
    panel.setMode(GraphPanel::kDeEsser);
    EXPECT_EQ(std::pair(panel.xForFrequency(500.0), panel.xForFrequency(20.0)), std::pair(6.0, 0.0));
    const GraphPanel compander(41, {552, 105, 148, 128}, GraphPanel::kCompander);
    EXPECT_EQ(std::tuple(compander.xForInputDb(-90.0), compander.xForInputDb(0.0),
                         compander.yForOutputDb(-90.0), compander.yForOutputDb(0.0),
                         compander.yForOutputDb(-HUGE_VAL)),
              std::tuple(20.0, 132.0, 116.0, 4.0, 116.0));
}

// Named keys (both Windows keys share 6), F1-F13 from 20 with F7 and F8 sharing 26, digits and
// letters as their characters; every other virtual key, left/right modifiers included, has none.
TEST(EditorKeys, EveryVirtualKeyHasItsCodeOrNone) {
    std::map<uint32_t, int32_t> expected = {
        {0x08, 1},  {0x0D, 2},  {0x10, 3},  {0x11, 4},  {0x12, 5},  {0x5B, 6},  {0x5C, 6},
        {0x1B, 7},  {0x20, 8},  {0x23, 9},  {0x24, 10}, {0x2E, 11}, {0x21, 12}, {0x22, 13},
        {0x2F, 14}, {0x26, 15}, {0x28, 16}, {0x25, 17}, {0x27, 18}, {0x09, 19}, {0x6A, 35},
        {0x6F, 36}, {0x70, 20}, {0x71, 21}, {0x72, 22}, {0x73, 23}, {0x74, 24}, {0x75, 25},
        {0x76, 26}, {0x77, 26}, {0x78, 27}, {0x79, 28}, {0x7A, 29}, {0x7B, 30}, {0x7C, 31}};
    for (int32_t k = '0'; k <= 'Z'; ++k)
        if (k <= '9' || k >= 'A')
            expected[static_cast<uint32_t>(k)] = k;
    for (uint32_t vk = 0; vk < 0x200; ++vk)
        EXPECT_EQ(editorKeyFromVirtualKey(vk), expected.contains(vk) ? expected[vk] : key::kNone)
            << "key " << vk;
}

} // namespace
} // namespace pellucer::gui
