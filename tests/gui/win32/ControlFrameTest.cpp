// The control frame in a real window: controls with images of known colours, driven with real
// input or with the window messages a host delivers, and what the window shows read back.

#include "Shared/GUI/Win32/ControlFrame.h"

#include <gtest/gtest.h>

#include "Shared/GUI/Font.h"
#include "Shared/GUI/Knob.h"
#include "Shared/GUI/Switch.h"
#include "Shared/GUI/TextLabel.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/gui/win32/EditorTestSupport.h"

namespace pellucer::gui {
namespace {

/// A control that records the mouse input that reaches it.
class ProbeControl : public Control {
public:
    struct Input {
        std::string what;
        int32_t x, y, flags;
        bool operator==(const Input&) const = default;
    };
    std::vector<Input> inputs;

    ProbeControl(int32_t id, const Rect& rect) : Control(id, rect, 1) {}
    void mouseDown(int32_t x, int32_t y, int32_t flags) override { inputs.push_back({"down", x, y, flags}); }
    void mouseUp(int32_t x, int32_t y, int32_t flags) override { inputs.push_back({"up", x, y, flags}); }
    void mouseMove(int32_t x, int32_t y, int32_t flags) override { inputs.push_back({"move", x, y, flags}); }
    void doubleClick(int32_t x, int32_t y, int32_t flags) override {
        inputs.push_back({"double", x, y, flags});
    }
};

constexpr int32_t kWidth = 420;
constexpr int32_t kHeight = 260;

uint32_t backgroundArgb(int32_t x, int32_t y) {
    return 0xFF000040u | (static_cast<uint32_t>(x * 3 & 0xFF) << 16) |
           (static_cast<uint32_t>(y * 5 & 0xFF) << 8);
}
uint32_t backgroundRgb(int32_t x, int32_t y) { return backgroundArgb(x, y) & 0xFFFFFFu; }

class ControlFrameTest : public ::testing::Test {
protected:
    static constexpr Rect kKnob{20, 60, 50, 60};
    static constexpr Rect kSwitch{100, 20, 25, 27};
    static constexpr Rect kProbe{300, 190, 60, 50};
    /// Three labels, aligned left, centred and right.
    static constexpr Rect kLabels[3] = {{150, 20, 100, 20}, {150, 50, 100, 20}, {150, 80, 100, 20}};

    void SetUp() override {
        ASSERT_TRUE(lock.held());
        ASSERT_EQ(host.create(nullptr, WS_POPUP | WS_VISIBLE, 0, u"Host", {60, 60}, kWidth, kHeight), S_OK);
        PixelBuffer background(kWidth, kHeight);
        for (int32_t y = 0; y < kHeight; ++y)
            for (int32_t x = 0; x < kWidth; ++x)
                background.setArgb(x, y, backgroundArgb(x, y));
        frame = std::make_unique<ControlFrame>(background,
                                               [this](const ControlEventRecord& e) { events.push_back(e); });
        // Frame k of each image is the colour k (and the background's blue is 0x40 throughout).
        knob = frame->add(std::make_unique<Knob>(5, kKnob, test::numberedStrip(50, 60, 127), 0.5));
        toggle = frame->add(std::make_unique<Switch>(4, kSwitch, test::numberedStrip(25, 27, 2), 2));
        toggle->setContextClicksAllowed(true);
        auto font = std::make_shared<Font>(Font::Spec{});
        const int32_t alignments[3] = {DrawContext::kAlignLeft, DrawContext::kAlignCentre,
                                       DrawContext::kAlignRight};
        for (int32_t i = 0; i < 3; ++i)
            frame->add(std::make_unique<TextLabel>(58, kLabels[i], font, Colour{0, 0, 0}, alignments[i]))
                ->setText(0, u"MWM");
        probe = frame->add(std::make_unique<ProbeControl>(90, kProbe));
        ASSERT_EQ(frame->open(host.handle(), u"External VST Window", {0, 0}), S_OK);
        frame->show(SW_SHOW);
        host.bringToForeground();
        EXPECT_TRUE(test::pumpUntil([&] { return frame->firstPaintDone(); }));
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
    std::vector<ControlEventRecord> events;
    std::unique_ptr<ControlFrame> frame;
    Knob* knob = nullptr;
    Switch* toggle = nullptr;
    ProbeControl* probe = nullptr;
};

TEST_F(ControlFrameTest, PaintsTheBackgroundEveryControlAndAlignedText) {
    const PixelBuffer shown = capture();
    // The background where no control is, each image's current frame where one is.
    EXPECT_EQ(test::rgbAt(shown, 5, 5), backgroundRgb(5, 5));
    EXPECT_EQ(test::rgbAt(shown, 45, 90), 63u); // trunc(126 x 0.5)
    EXPECT_EQ(test::rgbAt(shown, 110, 30), 0u);
    // The back buffer holds what the window shows.
    EXPECT_EQ(test::changedPixels(shown, frame->backBuffer()->readPixels(), {0, 0, kWidth, kHeight}), 0);
    // Each label's text, vertically centred, at its left edge, its middle and its right edge.
    for (int32_t i = 0; i < 3; ++i) {
        const Rect& r = kLabels[i];
        int32_t left = kWidth, right = -1, top = kHeight, bottom = -1;
        for (int32_t y = r.top; y < r.bottom(); ++y)
            for (int32_t x = r.left; x < r.right(); ++x)
                if (test::rgbAt(shown, x, y) != backgroundRgb(x, y)) {
                    left = std::min(left, x), right = std::max(right, x);
                    top = std::min(top, y), bottom = std::max(bottom, y);
                }
        ASSERT_GE(right, left) << "label " << i;
        EXPECT_LE(std::abs((top + bottom) / 2 - (r.top + r.height / 2)), 3) << "label " << i;
        const int32_t expected[3] = {left - r.left, (left + right) / 2 - (r.left + r.width / 2),
                                     r.right() - 1 - right};
        EXPECT_LE(std::abs(expected[i]), 3) << "label " << i;
    }
}

TEST_F(ControlFrameTest, TheWheelAndTheKeysTurnTheFocusedControlWhereverThePointerIs) {
    test::moveTo(centre(kSwitch));
    test::wheel(1); // nothing focused: nothing turns
    EXPECT_EQ(knob->value(), 0.5);
    test::clickAt(centre(kKnob)); // a click without a move changes nothing but the focus
    EXPECT_EQ(knob->value(), 0.5);
    ASSERT_EQ(frame->focusedControl(), knob);
    test::moveTo(centre(kSwitch));
    test::wheel(1);
    EXPECT_NEAR(knob->value(), 0.55, 1e-12);
    test::wheel(-1);
    test::wheel(-1);
    EXPECT_NEAR(knob->value(), 0.45, 1e-12);
    EXPECT_EQ(toggle->value(), 0.0);
    EXPECT_EQ(test::rgbAt(capture(), 45, 90), 56u); // trunc(126 x 0.45)
    ASSERT_EQ(GetFocus(), frame->handle());
    test::tapKey(VK_END);
    EXPECT_EQ(knob->value(), 1.0);
    test::tapKey(VK_HOME);
    EXPECT_EQ(knob->value(), 0.0);
    // The switch takes the focus with a click and steps with Down.
    test::clickAt(centre(kSwitch));
    ASSERT_EQ(frame->focusedControl(), toggle);
    EXPECT_FALSE(knob->hasFocus());
    test::tapKey(VK_DOWN);
    EXPECT_EQ(toggle->value(), 0.0);
    EXPECT_EQ(knob->value(), 0.0);
}

TEST_F(ControlFrameTest, MouseMessagesReachTheControlWithItsPositionAndFlags) {
    // As a host's message loop delivers them; Alt and the Windows key are not in the message
    // but in the keyboard state.
    BYTE saved[256], keys[256];
    ASSERT_TRUE(GetKeyboardState(saved));
    std::copy(std::begin(saved), std::end(saved), std::begin(keys));
    keys[VK_MENU] = keys[VK_LWIN] = 0x80;
    struct Case {
        UINT message;
        WPARAM keyState;
        bool altAndWindows;
        ProbeControl::Input expected;
    };
    const Case cases[] = {
        {WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT, false, {"down", 10, 20, mouse::kLeft | mouse::kShift}},
        {WM_LBUTTONUP, MK_SHIFT, false, {"up", 11, 21, mouse::kLeft | mouse::kShift}},
        {WM_RBUTTONDOWN, MK_RBUTTON | MK_CONTROL, false, {"down", 12, 22, mouse::kRight | mouse::kControl}},
        {WM_MOUSEMOVE, MK_LBUTTON | MK_MBUTTON, false, {"move", 13, 23, mouse::kLeft | mouse::kMiddle}},
        {WM_LBUTTONDBLCLK, MK_LBUTTON, false, {"double", 14, 24, mouse::kLeft}},
        {WM_LBUTTONDOWN, MK_LBUTTON, true, {"down", 15, 25, mouse::kLeft | mouse::kAlt | mouse::kWindows}},
    };
    for (const Case& c : cases) {
        probe->inputs.clear();
        SetKeyboardState(c.altAndWindows ? keys : saved);
        SendMessageW(frame->handle(), c.message, c.keyState,
                     MAKELPARAM(kProbe.left + c.expected.x, kProbe.top + c.expected.y));
        SetKeyboardState(saved);
        EXPECT_EQ(probe->inputs, std::vector<ProbeControl::Input>{c.expected}) << c.expected.what;
        SendMessageW(frame->handle(), WM_LBUTTONUP, 0, MAKELPARAM(kProbe.left, kProbe.top));
    }
    // A right click on the switch, and a click with Alt, are its context clicks where they
    // happened: the value stays.
    for (const bool alt : {false, true}) {
        SetKeyboardState(alt ? keys : saved);
        SendMessageW(frame->handle(), alt ? WM_LBUTTONDOWN : WM_RBUTTONDOWN, alt ? MK_LBUTTON : MK_RBUTTON,
                     MAKELPARAM(kSwitch.left + 5, kSwitch.top + 7));
        SetKeyboardState(saved);
        SendMessageW(frame->handle(), alt ? WM_LBUTTONUP : WM_RBUTTONUP, 0,
                     MAKELPARAM(kSwitch.left + 5, kSwitch.top + 7));
    }
    EXPECT_EQ(toggle->value(), 0.0);
    EXPECT_EQ(codes(4), (std::vector<int32_t>{event::kContextClick, event::kContextClick}));
    EXPECT_EQ(events.back().position, (Point{kSwitch.left + 5, kSwitch.top + 7}));
}

} // namespace
} // namespace pellucer::gui
