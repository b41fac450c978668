// The control frame in a real window under Wine: one control of each kind, driven with real
// input (SendInput) where Wine passes it through faithfully, and the window's pixels read back
// with BitBlt to see that what changed was painted.

#include "Shared/GUI/Win32/ControlFrame.h"

#include <gtest/gtest.h>

#include "Shared/GUI/ChainOrderStrip.h"
#include "Shared/GUI/Fader.h"
#include "Shared/GUI/Font.h"
#include "Shared/GUI/GraphPanel.h"
#include "Shared/GUI/Knob.h"
#include "Shared/GUI/ReductionBar.h"
#include "Shared/GUI/SegmentMeter.h"
#include "Shared/GUI/Switch.h"
#include "Shared/GUI/TextLabel.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/gui/win32/Win32TestSupport.h"

namespace pellucer::gui {
namespace {

/// A control that records what reaches it and takes every key.
class ProbeControl : public Control {
public:
    struct Input {
        std::string what;
        int32_t a = 0, b = 0, c = 0, d = 0;
        bool operator==(const Input&) const = default;
    };
    std::vector<Input> inputs;
    bool takeKeys = true;

    ProbeControl(int32_t id, const Rect& rect) : Control(id, rect, 1) {}

    std::vector<Input> named(const std::string& what) const {
        std::vector<Input> found;
        for (const Input& input : inputs)
            if (input.what == what)
                found.push_back(input);
        return found;
    }

    void mouseDown(int32_t x, int32_t y, int32_t flags) override { inputs.push_back({"down", x, y, flags}); }
    void mouseUp(int32_t x, int32_t y, int32_t flags) override { inputs.push_back({"up", x, y, flags}); }
    void mouseMove(int32_t x, int32_t y, int32_t flags) override { inputs.push_back({"move", x, y, flags}); }
    void doubleClick(int32_t x, int32_t y, int32_t flags) override {
        inputs.push_back({"double", x, y, flags});
    }
    void wheel(int32_t x, int32_t y, int32_t flags, int32_t delta) override {
        inputs.push_back({"wheel", x, y, flags, delta});
    }
    bool keyDown(int32_t key) override {
        inputs.push_back({"keydown", key});
        return takeKeys;
    }
    void keyUp(int32_t key) override { inputs.push_back({"keyup", key}); }
    void timerTick(int32_t id) override { inputs.push_back({"tick", id}); }
};

/// A frame whose hover text names the control.
class TippingFrame : public ControlFrame {
public:
    using ControlFrame::ControlFrame;

protected:
    std::u16string toolTipText(int32_t controlId) override {
        return u"Control " + std::u16string(1, static_cast<char16_t>(u'0' + controlId % 10));
    }
};

constexpr int32_t kWidth = 420;
constexpr int32_t kHeight = 260;
constexpr Point kHostOrigin{60, 60};

uint32_t backgroundArgb(int32_t x, int32_t y) {
    return 0xFF000040u | (static_cast<uint32_t>(x * 3 & 0xFF) << 16) |
           (static_cast<uint32_t>(y * 5 & 0xFF) << 8);
}

// Strip colours: each frame of each strip has a colour of its own (red byte names the strip).
uint32_t knobArgb(int32_t frame) { return 0xFF200000u | static_cast<uint32_t>(frame); }
uint32_t switchArgb(int32_t frame) { return frame == 0 ? 0xFFC00010u : 0xFF10C010u; }
uint32_t meterArgb(int32_t frame) { return 0xFF600000u | static_cast<uint32_t>(frame * 16) << 8; }
constexpr uint32_t kHandleArgb = 0xFF8080FFu;

std::shared_ptr<ImageStrip> solidStrip(int32_t width, int32_t frameHeight, int32_t frames,
                                       uint32_t (*argb)(int32_t)) {
    return test::makeStrip(
        width, frameHeight, frames, [argb](int32_t k, int32_t, int32_t) { return argb(k); },
        [](int32_t, int32_t, int32_t) { return 255; });
}

class ControlFrameTest : public ::testing::Test {
protected:
    static constexpr Rect kKnob{20, 60, 50, 60};
    static constexpr Rect kSwitch{100, 20, 25, 27};
    static constexpr Rect kMeter{150, 20, 8, 120};
    static constexpr Rect kFader{200, 20, 22, 123};
    static constexpr Rect kBar{240, 20, 9, 114};
    static constexpr Rect kLabel{260, 20, 100, 20};
    static constexpr Rect kGraph{270, 60, 140, 100};
    static constexpr Rect kOrder{10, 195, 240, 57};
    static constexpr Rect kProbe{300, 190, 60, 50};

    void SetUp() override {
        ASSERT_TRUE(lock.held());
        ASSERT_EQ(host.create(nullptr, WS_POPUP | WS_VISIBLE, 0, u"Host", kHostOrigin, kWidth, kHeight),
                  S_OK);
        frame = makeFrame<ControlFrame>();
        engine.meters[49] = 0.0f;
        frame->setEngine(&engine);
        knob = frame->add(std::make_unique<Knob>(5, kKnob, solidStrip(50, 60, 127, knobArgb), 0.5));
        toggle = frame->add(std::make_unique<Switch>(4, kSwitch, solidStrip(25, 27, 2, switchArgb), 2));
        toggle->setContextClicksAllowed(true);
        meter = frame->add(std::make_unique<SegmentMeter>(49, kMeter, solidStrip(8, 120, 16, meterArgb), 16));
        fader = frame->add(std::make_unique<Fader>(
            2, kFader, solidStrip(22, 46, 1, [](int32_t) { return kHandleArgb; }), 0.5));
        bar = frame->add(std::make_unique<ReductionBar>(45, kBar));
        Font::Spec spec;
        label = frame->add(std::make_unique<TextLabel>(58, kLabel, std::make_shared<Font>(spec),
                                                       Colour{0, 0, 0}, DrawContext::kAlignLeft));
        label->setText(0, u"Label");
        graph = frame->add(std::make_unique<GraphPanel>(41, kGraph, 2));
        std::array<std::shared_ptr<const ImageStrip>, ChainOrderStrip::kSlots> icons;
        for (int32_t i = 0; i < ChainOrderStrip::kSlots; ++i)
            icons[static_cast<size_t>(i)] = test::makeStrip(
                40, 40, 1,
                [i](int32_t, int32_t, int32_t) { return 0xFF0000F0u | static_cast<uint32_t>(i * 0x300000); },
                [](int32_t, int32_t, int32_t) { return 255; });
        order = frame->add(std::make_unique<ChainOrderStrip>(
            38, kOrder, solidStrip(240, 57, 1, [](int32_t) { return 0xFF303030u; }), icons));
        probe = frame->add(std::make_unique<ProbeControl>(90, kProbe));
        showFrame(*frame);
    }

    template <typename Frame> std::unique_ptr<Frame> makeFrame() {
        auto made = std::make_unique<Frame>(test::patternImage(kWidth, kHeight, backgroundArgb),
                                            [this](const ControlEventRecord& e) { events.push_back(e); });
        return made;
    }

    void showFrame(ControlFrame& f) {
        ASSERT_EQ(f.open(host.handle(), u"External VST Window", {0, 0}), S_OK);
        f.show(SW_SHOW);
        host.bringToForeground();
        test::settle();
    }

    POINT at(int32_t x, int32_t y) const { return test::screenPoint(frame->handle(), x, y); }
    POINT centre(const Rect& r) const { return at(r.left + r.width / 2, r.top + r.height / 2); }
    PixelBuffer capture() const { return test::captureWindow(frame->handle()); }
    std::vector<int32_t> codes(int32_t id) const {
        std::vector<int32_t> found;
        for (const ControlEventRecord& e : events)
            if (e.id == id)
                found.push_back(e.eventCode);
        return found;
    }

    test::WindowTestLock lock;
    NativeWindow host;
    test::FakeEngine engine;
    std::vector<ControlEventRecord> events;
    std::unique_ptr<ControlFrame> frame;
    Knob* knob = nullptr;
    Switch* toggle = nullptr;
    SegmentMeter* meter = nullptr;
    Fader* fader = nullptr;
    ReductionBar* bar = nullptr;
    TextLabel* label = nullptr;
    GraphPanel* graph = nullptr;
    ChainOrderStrip* order = nullptr;
    ProbeControl* probe = nullptr;
};

TEST_F(ControlFrameTest, PaintsTheBackgroundAndEveryControlIntoTheWindow) {
    EXPECT_TRUE(frame->hasWindow());
    EXPECT_EQ(frame->clientRect(), (Rect{0, 0, kWidth, kHeight}));
    EXPECT_EQ(frame->controls().size(), 9u);
    EXPECT_TRUE(test::pumpUntil([&] { return frame->firstPaintDone(); }));
    const PixelBuffer shown = capture();
    // Background where no control is, each strip's current frame where one is.
    EXPECT_EQ(test::rgbAt(shown, 5, 5), backgroundArgb(5, 5) & 0xFFFFFFu);
    EXPECT_EQ(test::rgbAt(shown, 410, 250), backgroundArgb(410, 250) & 0xFFFFFFu);
    EXPECT_EQ(test::rgbAt(shown, 45, 90), knobArgb(63) & 0xFFFFFFu);
    EXPECT_EQ(test::rgbAt(shown, 110, 30), switchArgb(0) & 0xFFFFFFu);
    EXPECT_EQ(test::rgbAt(shown, 153, 80), meterArgb(0) & 0xFFFFFFu);
    EXPECT_EQ(test::rgbAt(shown, kBar.left, kBar.top), 0x323232u); // the bar's dark ground
    // The label drew dark text somewhere over the background of its rectangle.
    int32_t ink = 0;
    for (int32_t y = kLabel.top; y < kLabel.bottom(); ++y)
        for (int32_t x = kLabel.left; x < kLabel.right(); ++x)
            ink += test::rgbAt(shown, x, y) != (backgroundArgb(x, y) & 0xFFFFFFu) ? 1 : 0;
    EXPECT_GT(ink, 10);
    // The back buffer holds what the window shows.
    const PixelBuffer back = frame->backBuffer()->readPixels();
    EXPECT_EQ(test::changedPixels(shown, back, {0, 0, kWidth, kHeight}), 0);
}

TEST_F(ControlFrameTest, KnobDraggedUpAHundredPixelsGoesFromAQuarterToThreeQuarters) {
    knob->setValue(0.25f);
    test::settle();
    const PixelBuffer before = capture();
    EXPECT_EQ(test::rgbAt(before, 45, 90), knobArgb(31) & 0xFFFFFFu);

    const POINT start = centre(kKnob);
    test::moveTo(start);
    test::leftDown();
    EXPECT_EQ(frame->capturedControl(), knob);
    EXPECT_EQ(GetCapture(), frame->handle());
    // Up in steps to 10 pixels above the frame: the capture keeps the moves coming.
    for (int32_t dy = 10; dy <= 100; dy += 10)
        test::moveTo({start.x, start.y - dy});
    test::leftUp();

    EXPECT_DOUBLE_EQ(knob->value(), 0.75);
    EXPECT_EQ(frame->capturedControl(), nullptr);
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(frame->focusedControl(), knob);
    const std::vector<int32_t> knobCodes = codes(5);
    ASSERT_GE(knobCodes.size(), 3u);
    EXPECT_EQ(knobCodes.front(), event::kBeginEdit);
    EXPECT_EQ(knobCodes.back(), event::kEndEdit);
    EXPECT_EQ(frame->lastEvent().control, knob);
    EXPECT_EQ(frame->lastEvent().id, 5);
    EXPECT_EQ(frame->lastEvent().eventCode, event::kEndEdit);
    EXPECT_DOUBLE_EQ(frame->lastEvent().value, 0.75);

    const PixelBuffer after = capture();
    EXPECT_EQ(test::rgbAt(after, 45, 90), knobArgb(94) & 0xFFFFFFu); // trunc(126 x 0.75)
    EXPECT_EQ(test::changedPixels(before, after, kKnob), kKnob.width * kKnob.height);
    // Only the knob's rectangle changed.
    EXPECT_EQ(test::changedPixels(before, after, {0, 0, kWidth, kHeight}), kKnob.width * kKnob.height);
}

TEST_F(ControlFrameTest, SwitchClicksToggleItsValueAndPicture) {
    const PixelBuffer off = capture();
    test::clickAt(centre(kSwitch));
    EXPECT_EQ(toggle->value(), 1.0);
    const PixelBuffer on = capture();
    EXPECT_EQ(test::rgbAt(on, 110, 30), switchArgb(1) & 0xFFFFFFu);
    EXPECT_EQ(test::changedPixels(off, on, {0, 0, kWidth, kHeight}), kSwitch.width * kSwitch.height);
    EXPECT_EQ(codes(4), (std::vector<int32_t>{event::kBeginEdit, event::kValueChanged, event::kEndEdit}));

    test::clickAt(at(kSwitch.left + 3, kSwitch.top + 3));
    EXPECT_EQ(toggle->value(), 0.0);
    EXPECT_EQ(test::rgbAt(capture(), 110, 30), switchArgb(0) & 0xFFFFFFu);
}

TEST_F(ControlFrameTest, RightClickOnASwitchIsAContextClickAtItsFramePosition) {
    test::moveTo(at(kSwitch.left + 5, kSwitch.top + 7));
    test::rightDown();
    test::rightUp();
    EXPECT_EQ(toggle->value(), 0.0);
    ASSERT_EQ(codes(4), (std::vector<int32_t>{event::kContextClick}));
    EXPECT_EQ(events.back().position, (Point{kSwitch.left + 5, kSwitch.top + 7}));
}

TEST_F(ControlFrameTest, WheelTurnsTheFocusedControlNotTheOneUnderThePointer) {
    // Without a focused control the wheel does nothing.
    test::moveTo(centre(kSwitch));
    test::wheel(1);
    EXPECT_EQ(knob->value(), 0.5);
    EXPECT_EQ(toggle->value(), 0.0);

    test::clickAt(centre(kKnob)); // a click without a move changes nothing but the focus
    EXPECT_EQ(knob->value(), 0.5);
    ASSERT_EQ(frame->focusedControl(), knob);
    EXPECT_TRUE(knob->hasFocus());
    test::moveTo(centre(kSwitch));
    test::wheel(1);
    EXPECT_NEAR(knob->value(), 0.55, 1e-12);
    test::wheel(-1);
    test::wheel(-1);
    EXPECT_NEAR(knob->value(), 0.45, 1e-12);
    EXPECT_EQ(toggle->value(), 0.0);
    EXPECT_EQ(test::rgbAt(capture(), 45, 90), knobArgb(56) & 0xFFFFFFu); // trunc(126 x 0.45)
}

TEST_F(ControlFrameTest, KeysGoToTheFocusedControl) {
    test::clickAt(centre(kKnob));
    ASSERT_EQ(GetFocus(), frame->handle());
    test::tapKey(VK_END);
    EXPECT_EQ(knob->value(), 1.0);
    test::tapKey(VK_HOME);
    EXPECT_EQ(knob->value(), 0.0);
    test::tapKey(VK_PRIOR);
    EXPECT_NEAR(knob->value(), 0.05, 1e-12);
    EXPECT_EQ(test::rgbAt(capture(), 45, 90), knobArgb(6) & 0xFFFFFFu); // trunc(126 x 0.05)

    // The switch takes the focus with a click and steps with Up and Down.
    test::clickAt(centre(kSwitch));
    ASSERT_EQ(frame->focusedControl(), toggle);
    EXPECT_FALSE(knob->hasFocus());
    EXPECT_EQ(toggle->value(), 1.0);
    test::tapKey(VK_DOWN);
    EXPECT_EQ(toggle->value(), 0.0);
    EXPECT_NEAR(knob->value(), 0.05, 1e-12);
}

TEST_F(ControlFrameTest, F7AndF8ReachTheFocusedControlAs26) {
    test::clickAt(centre(kProbe));
    ASSERT_EQ(frame->focusedControl(), probe);
    probe->inputs.clear();
    // Through the window's message queue, as a host's message loop delivers them.
    PostMessageW(frame->handle(), WM_KEYDOWN, VK_F7, 0x00410001);
    PostMessageW(frame->handle(), WM_KEYUP, VK_F7, 0xC0410001);
    PostMessageW(frame->handle(), WM_KEYDOWN, VK_F8, 0x00420001);
    PostMessageW(frame->handle(), WM_KEYDOWN, VK_INSERT, 0x00520001);
    test::settle();
    // And as real key presses.
    test::tapKey(VK_F8);
    const std::vector<ProbeControl::Input> expected = {
        {"keydown", 26}, {"keyup", 26}, {"keydown", 26}, {"keydown", 26}, {"keyup", 26}};
    EXPECT_EQ(probe->inputs, expected);
}

TEST_F(ControlFrameTest, AltClickSetsFlag16FromTheKeyboardState) {
    // Wine's X11 driver re-reads modifier keys from the X server at every pointer event, so an
    // Alt sent with SendInput is gone by the time the click arrives. The thread's keyboard
    // state is set instead, and the press posted: the message itself carries no Alt bit.
    BYTE saved[256], keys[256];
    ASSERT_TRUE(GetKeyboardState(saved));
    std::copy(std::begin(saved), std::end(saved), std::begin(keys));
    keys[VK_MENU] = 0x80;
    ASSERT_TRUE(SetKeyboardState(keys));
    PostMessageW(frame->handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(kProbe.left + 4, kProbe.top + 6));
    PostMessageW(frame->handle(), WM_LBUTTONUP, 0, MAKELPARAM(kProbe.left + 4, kProbe.top + 6));
    test::settle();
    SetKeyboardState(saved);
    const std::vector<ProbeControl::Input> expected = {{"down", 4, 6, mouse::kLeft | mouse::kAlt},
                                                       {"up", 4, 6, mouse::kLeft | mouse::kAlt}};
    EXPECT_EQ(probe->named("down").size() + probe->named("up").size(), 2u);
    EXPECT_EQ(probe->named("down").front(), expected[0]);
    EXPECT_EQ(probe->named("up").front(), expected[1]);

    // Alt+click on the switch is its context click: the value stays.
    SetKeyboardState(keys);
    PostMessageW(frame->handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(kSwitch.left + 2, kSwitch.top + 2));
    test::settle();
    SetKeyboardState(saved);
    EXPECT_EQ(toggle->value(), 0.0);
    EXPECT_EQ(codes(4), (std::vector<int32_t>{event::kContextClick}));
}

TEST_F(ControlFrameTest, TheAboutImageGoesAtTheNextClickWhichNoControlSees) {
    test::TempFolder folder;
    ASSERT_TRUE(writeBmp(folder.file("about.bmp"), test::solidBuffer(100, 60, 0xFF3366CCu), 24));
    auto about = std::make_shared<SkinBitmap>();
    about->load(folder.file("about.bmp").u16string(), false);
    frame->setAboutImage(about);
    const PixelBuffer before = capture();

    frame->showAbout();
    test::settle();
    EXPECT_TRUE(frame->aboutShown());
    const PixelBuffer shown = capture();
    // Centred: (420 - 100) / 2 = 160, (260 - 60) / 2 = 100.
    EXPECT_EQ(test::rgbAt(shown, 160, 100), 0x3366CCu);
    EXPECT_EQ(test::rgbAt(shown, 259, 159), 0x3366CCu);
    EXPECT_EQ(test::rgbAt(shown, 159, 100), backgroundArgb(159, 100) & 0xFFFFFFu);
    EXPECT_EQ(test::rgbAt(shown, 260, 159), backgroundArgb(260, 159) & 0xFFFFFFu);
    EXPECT_EQ(test::changedPixels(before, shown, {0, 0, kWidth, kHeight}), 100 * 60);

    // A click on the switch (outside the image) only hides the image.
    test::clickAt(centre(kSwitch));
    EXPECT_FALSE(frame->aboutShown());
    EXPECT_EQ(toggle->value(), 0.0);
    EXPECT_TRUE(events.empty());
    const PixelBuffer after = capture();
    EXPECT_EQ(test::changedPixels(before, after, {0, 0, kWidth, kHeight}), 0);
    // The next click is a click again.
    test::clickAt(at(kSwitch.left + 4, kSwitch.top + 4));
    EXPECT_EQ(toggle->value(), 1.0);
}

TEST_F(ControlFrameTest, MeterFollowsTheEngineOnItsOwnTimer) {
    EXPECT_GE(meter->timerId(), static_cast<int32_t>(ControlFrame::kFirstControlTimer));
    engine.meters[49] = 0.97f; // trunc(16 x 0.97 + 0.5) = 16, the last frame is 15
    EXPECT_TRUE(test::pumpUntil([&] { return meter->frameIndex() == 15; }, 2000));
    test::settle();
    EXPECT_EQ(test::rgbAt(capture(), 153, 80), meterArgb(15) & 0xFFFFFFu);
    engine.meters[49] = 0.03f;
    EXPECT_TRUE(test::pumpUntil([&] { return meter->frameIndex() == 0; }, 2000));
    // Meters take no mouse: a click on one reaches nothing and focuses nothing.
    test::clickAt(centre(kMeter));
    EXPECT_EQ(frame->focusedControl(), nullptr);
    EXPECT_TRUE(events.empty());
}

TEST_F(ControlFrameTest, FaderDraggedUpAHundredPixelsWithItsCursorPulledBack) {
    const POINT start = centre(kFader);
    test::moveTo(start);
    test::leftDown();
    EXPECT_TRUE(frame->cursorHidden());
    // Relative moves of 4 pixels (Wine accelerates larger ones). Past 40 pixels the fader puts
    // the pointer back by 40, so the drag never runs out of screen.
    for (int32_t i = 0; i < 25; ++i)
        test::moveBy(0, -4);
    POINT pointer{};
    GetCursorPos(&pointer);
    test::leftUp();
    EXPECT_NEAR(fader->value(), 0.87, 1e-12); // 0.5 + trunc(100 x 0.75 / 2) x 0.01
    EXPECT_FALSE(frame->cursorHidden());
    // Two pulls of 40 (at 44 and at 84 pixels up): the pointer ends 20 pixels above the start.
    EXPECT_EQ(pointer.y, start.y - 20);
    EXPECT_EQ(codes(2).front(), event::kBeginEdit);
    EXPECT_EQ(codes(2).back(), event::kEndEdit);
}

TEST_F(ControlFrameTest, OrderStripDragAsksTheEngineToMoveTheModule) {
    const PixelBuffer before = capture();
    // Slots are (240 + 10) / 5 = 50 pixels: from slot 1 onto slot 2, which inserts the module
    // before the one at position 3.
    test::moveTo(at(kOrder.left + 75, kOrder.top + 20));
    test::leftDown();
    EXPECT_EQ(frame->capturedControl(), order);
    for (int32_t x = 85; x <= 125; x += 10)
        test::moveTo(at(kOrder.left + x, kOrder.top + 20));
    test::leftUp();
    ASSERT_EQ(engine.moves.size(), 1u);
    EXPECT_EQ(engine.moves[0], (std::pair<int32_t, int32_t>{1, 3}));
    EXPECT_EQ(engine.order, (std::array<int32_t, 5>{2, 1, 0, 3, 4}));
    EXPECT_EQ(codes(38), (std::vector<int32_t>{event::kContextClick, event::kContextClick}));
    EXPECT_GT(test::changedPixels(before, capture(), kOrder), 0);
    EXPECT_EQ(test::changedPixels(before, capture(), {0, 0, kWidth, kOrder.top}), 0);
}

TEST_F(ControlFrameTest, TimersAreSharedOrOwnAndNeverCollideWithTheFixedOnes) {
    const int32_t first = frame->startTimer(*probe, 15);
    const int32_t second = frame->startTimer(*probe, 15);
    EXPECT_NE(first, second);
    for (int32_t id : {first, second, meter->timerId()})
        for (uint32_t fixed :
             {ControlFrame::kHoverTimer, ControlFrame::kHideTipTimer, ControlFrame::kSettleTimer,
              ControlFrame::kTipTextTimer, ControlFrame::kTickTimer, ToolTip::kBalloonTimer})
            EXPECT_NE(static_cast<uint32_t>(id), fixed);
    frame->registerTicks(*probe);
    frame->registerTicks(*probe); // once is enough
    EXPECT_TRUE(test::pumpUntil([&] {
        return !probe->named("tick").empty() &&
               std::any_of(probe->inputs.begin(), probe->inputs.end(), [](const auto& i) {
                   return i.a == static_cast<int32_t>(ControlFrame::kTickTimer);
               });
    }));
    frame->stopTimer(first);
    frame->stopTimer(second);
    test::settle();
    probe->inputs.clear();
    test::pumpFor(200);
    for (const auto& input : probe->inputs)
        EXPECT_EQ(input.a, static_cast<int32_t>(ControlFrame::kTickTimer)); // only the shared tick runs on
    EXPECT_FALSE(probe->inputs.empty());
}

TEST_F(ControlFrameTest, HoverShowsTheFramesTipTextNextToThePointer) {
    auto tipping = makeFrame<TippingFrame>();
    tipping->setEngine(&engine);
    ProbeControl* tipProbe = tipping->add(std::make_unique<ProbeControl>(7, Rect{10, 10, 80, 80}));
    frame.reset();
    showFrame(*tipping);
    const POINT over = test::screenPoint(tipping->handle(), 40, 40);
    test::moveTo(over);
    EXPECT_TRUE(test::pumpUntil([&] { return tipping->toolTip()->shown(); }, 3000));
    EXPECT_EQ(tipping->toolTip()->text(), u"Control 7");
    EXPECT_EQ(tipping->toolTip()->position(),
              (Point{over.x + ControlFrame::kToolTipOffset.x, over.y + ControlFrame::kToolTipOffset.y}));
    // A press takes it away, and the press still reaches the control.
    test::leftDown();
    test::leftUp();
    EXPECT_FALSE(tipping->toolTip()->shown());
    EXPECT_EQ(tipProbe->named("down").size(), 1u);

    // Without an engine nothing is shown.
    tipping->setEngine(nullptr);
    test::moveTo({over.x + 5, over.y + 5});
    test::pumpFor(900);
    EXPECT_FALSE(tipping->toolTip()->shown());
}

TEST_F(ControlFrameTest, ControlsWithEmptyStripsStillTakeInput) {
    auto bare = makeFrame<ControlFrame>();
    Knob* bareKnob = bare->add(std::make_unique<Knob>(5, kKnob, nullptr, 0.5));
    Switch* bareSwitch = bare->add(std::make_unique<Switch>(4, kSwitch, std::make_shared<ImageStrip>(), 2));
    frame.reset();
    frame = std::move(bare);
    showFrame(*frame);
    const PixelBuffer before = capture();
    // Nothing drawn: the background shows where the controls are.
    EXPECT_EQ(test::rgbAt(before, 45, 90), backgroundArgb(45, 90) & 0xFFFFFFu);

    test::clickAt(centre(kSwitch));
    EXPECT_EQ(bareSwitch->value(), 1.0);
    const POINT start = centre(kKnob);
    test::moveTo(start);
    test::leftDown();
    test::moveTo({start.x, start.y - 40});
    test::leftUp();
    EXPECT_DOUBLE_EQ(bareKnob->value(), 0.7);
    test::wheel(-1);
    EXPECT_NEAR(bareKnob->value(), 0.65, 1e-12);
    EXPECT_EQ(test::changedPixels(before, capture(), {0, 0, kWidth, kHeight}), 0);
}

TEST_F(ControlFrameTest, InvalidatesOnlyWithAWindowAndTakesItsControlsAlongWhenDestroyed) {
    ControlFrame unopened(test::solidBuffer(50, 50, 0xFF000000u), nullptr);
    EXPECT_FALSE(unopened.hasWindow());
    Switch* early = unopened.add(std::make_unique<Switch>(1, Rect{0, 0, 10, 10}, nullptr, 2));
    early->setValue(1.0f); // would invalidate: without a window nothing happens
    EXPECT_EQ(unopened.open(nullptr, u"", {0, 0}), S_OK); // a popup without a parent
    EXPECT_TRUE(unopened.hasWindow());

    ControlFrame empty(PixelBuffer(), nullptr);
    EXPECT_EQ(empty.open(host.handle(), u"", {0, 0}), static_cast<int32_t>(E_INVALIDARG));

    test::clickAt(centre(kKnob));
    ASSERT_NE(frame->focusedControl(), nullptr);
    DestroyWindow(frame->handle());
    EXPECT_FALSE(frame->hasWindow());
    EXPECT_TRUE(frame->controls().empty());
    EXPECT_EQ(frame->focusedControl(), nullptr);
    EXPECT_EQ(frame->capturedControl(), nullptr);
    frame->invalidate({0, 0, 10, 10}); // harmless now
}

} // namespace
} // namespace pellucer::gui
