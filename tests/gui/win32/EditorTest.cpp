// The strip's editor in a real window, driven through its controls and its engine in this
// process: the table of controls, pages, the two text displays, the threshold link, program
// changes, direct entry, meters, other threads, and a skin with parts missing.

#include "GUI/Editor.h"
#include "GUI/EditorFactory.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "GUI/ReadingLabel.h"
#include "Shared/GUI/ChainOrderStrip.h"
#include "Shared/GUI/GraphPanel.h"
#include "Shared/GUI/Knob.h"
#include "Shared/GUI/ReductionBar.h"
#include "Shared/GUI/SegmentMeter.h"
#include "core/SkinTable.h"
#include "Shared/GUI/Switch.h"
#include "Shared/GUI/TextLabel.h"
#include "Shared/GUI/Win32/DirectValueEntry.h"
#include "Shared/GUI/Win32/EditorFrame.h"
#include "core/ChannelStripEffect.h"
#include "core/Settings.h"
#include "tests/TestSupport.h"
#include "tests/gui/win32/EditorTestSupport.h"

namespace pellucer {
namespace {

namespace gt = gui::test;
using gui::Control;

class EditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(lock.held());
        effect = std::make_unique<ChannelStripEffect>(&gt::AutomationLog::callback, &createStripEditor);
        log.attach(effect->getAeffect());
        editor = dynamic_cast<Editor*>(effect->getEditor());
        ASSERT_NE(editor, nullptr);
        ASSERT_NE(host.handle(), nullptr);
    }
    void TearDown() override { effect.reset(); }

    void open() {
        ASSERT_TRUE(editor->open(host.handle()));
        // Until the X server has mapped and painted the new window, input may miss it.
        gt::pumpUntil([&] { return editor->frame() != nullptr && editor->frame()->firstPaintDone(); }, 1000);
        gt::settle();
    }
    Control& control(int32_t id, size_t which = 0) {
        Control* c = editor->control(id, which);
        EXPECT_NE(c, nullptr) << "control " << id;
        static gui::Switch none(-1, {}, nullptr);
        return c != nullptr ? *c : none;
    }
    std::u16string readout() { return control(editor_id::kReadout).text(0); }
    std::u16string name() { return control(editor_id::kName).text(0); }
    /// A press and release of the left button on control `id` (no movement).
    void press(int32_t id) {
        Control& c = control(id);
        c.mouseDown(c.rect().width / 2, c.rect().height / 2, gui::mouse::kLeft);
        c.mouseUp(c.rect().width / 2, c.rect().height / 2, gui::mouse::kLeft);
    }
    /// A vertical drag of `pixels` upwards on control `id`, through the control's own handlers.
    void drag(int32_t id, int32_t pixels) {
        Control& c = control(id);
        const int32_t x = c.rect().width / 2, y = c.rect().height / 2;
        c.mouseDown(x, y, gui::mouse::kLeft);
        c.mouseMove(x, y - pixels, gui::mouse::kLeft);
        c.mouseUp(x, y - pixels, gui::mouse::kLeft);
    }
    const std::u16string& skinText(const char* key) { return textResources().text(key); }

    gt::WindowTestLock lock;
    gt::MessageBoxRecorder boxes;
    gt::HostWindow host{gt::kEditorWidth, gt::kEditorHeight};
    gt::AutomationLog log;
    std::unique_ptr<ChannelStripEffect> effect;
    Editor* editor = nullptr;
};

TEST_F(EditorTest, OpensOnceIntoItsParentWithEveryControl) {
    vst::ERect* rect = nullptr;
    ASSERT_TRUE(editor->getRect(&rect));
    EXPECT_EQ(rect->left, 0);
    EXPECT_EQ(rect->top, 0);
    EXPECT_EQ(rect->right, gt::kEditorWidth);
    EXPECT_EQ(rect->bottom, gt::kEditorHeight);
    EXPECT_FALSE(editor->getRect(nullptr));
    EXPECT_EQ(effect->getAeffect()->flags & vst::effFlagsHasEditor, vst::effFlagsHasEditor);

    EXPECT_FALSE(editor->open(nullptr));
    EXPECT_FALSE(editor->isOpen());
    open();
    EXPECT_TRUE(editor->isOpen());
    EXPECT_FALSE(editor->open(host.handle())); // already open
    HWND window = host.editor();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window, editor->frame()->handle());
    EXPECT_NE(GetWindowLongW(window, GWL_STYLE) & WS_CHILD, 0);
    EXPECT_TRUE(IsWindowVisible(window));
    wchar_t title[64] = {};
    GetWindowTextW(window, title, 64);
    EXPECT_EQ(std::wstring(title), L"External VST Window");
    EXPECT_EQ(gui::win32::fromRect([&] {
                  RECT r{};
                  GetClientRect(window, &r);
                  return r;
              }()),
              (gui::Rect{0, 0, gt::kEditorWidth, gt::kEditorHeight}));
    EXPECT_EQ(editor->frame()->helpFile(), folders().documentation + u"Pellucer.chm");

    EXPECT_EQ(editor->frame()->controls().size(), 66u);
    EXPECT_EQ(control(kCompressorThresh).rect(), gt::kCompressorThresholdKnob);
    EXPECT_EQ(control(kMeterInputTube).rect(), (gui::Rect{-1, 40, 26, 32}));
    EXPECT_EQ(control(kMeterCompanderOvershoot, 1).rect(), (gui::Rect{520, 108, 9, 114}));
    EXPECT_EQ(control(kMeterExpanderGain, 0).rect(), (gui::Rect{178, 178, 8, 48}));
    EXPECT_EQ(control(kMeterExpanderGain, 2).rect(), (gui::Rect{708, 108, 9, 114}));
    EXPECT_EQ(control(editor_id::kGraph, 1).rect(), (gui::Rect{552, 105, 148, 128}));
    EXPECT_EQ(control(kCompressorRatio).defaultValue(), 0.2007);
    EXPECT_EQ(control(kOutputTubeSaturation).defaultValue(), 0.0);
    EXPECT_EQ(control(kEqHighFreq).frames(), 127);
    EXPECT_EQ(control(kMeterOutputLeft).frames(), 16);
    EXPECT_EQ(control(kMeterEqTube).frames(), 32);
    // Every control shows the engine's value; switches and tabs take context clicks; meters and
    // labels take no mouse input.
    for (int32_t i = 0; i < kReserved; ++i)
        EXPECT_NEAR(control(i).value(), effect->getParameter(i), 1e-6) << "parameter " << i;
    for (int32_t id : {int32_t{kPlugInEnable}, int32_t{kEqTubeLowEnable}, int32_t{kDelaySyncEnable}, 62, 66})
        EXPECT_TRUE(control(id).contextClicksAllowed()) << id;
    for (int32_t id = kMeterInputTube; id <= kMeterOutputRight; ++id) {
        const bool bar = id >= kMeterCompressorGain && id <= kMeterCompanderOvershoot;
        EXPECT_FALSE(!bar && control(id).takesMouse()) << id;
    }
    for (int32_t id : {editor_id::kName, editor_id::kCaptionAttack, editor_id::kCaptionCompander})
        EXPECT_FALSE(control(id).takesMouse()) << id;
    EXPECT_TRUE(control(editor_id::kReadout).takesMouse());
    EXPECT_EQ(control(editor_id::kCaptionAttack).text(0), u"Atk");
    EXPECT_EQ(control(editor_id::kCaptionCompander).text(0), u"Exp  Comp");
    EXPECT_EQ(control(kMeterExpanderGain, 1).text(0), u"  0.0");
    EXPECT_EQ(editor->lastTouched(), -1);

    editor->close();
    EXPECT_FALSE(editor->isOpen());
    EXPECT_EQ(host.editor(), nullptr);
    EXPECT_EQ(editor->control(kCompressorThresh), nullptr);
    editor->close(); // twice is harmless
    open();
    EXPECT_NE(host.editor(), nullptr);
}

TEST_F(EditorTest, TabsSelectThePagesAndTheEngineKeepsThem) {
    open();
    EXPECT_EQ(editor->page(), Editor::kPageEq); // the engine starts on the EQ page
    auto shown = [&](int32_t id, size_t which = 0) { return control(id, which).visible(); };
    auto tabValues = [&] {
        std::vector<double> v;
        for (int32_t id = editor_id::kFirstTab; id <= editor_id::kLastTab; ++id)
            v.push_back(control(id).value());
        return v;
    };
    EXPECT_EQ(tabValues(), (std::vector<double>{0, 1, 0, 0, 0}));
    EXPECT_TRUE(shown(editor_id::kGraph, 0));
    EXPECT_FALSE(shown(editor_id::kGraph, 1));
    EXPECT_EQ(static_cast<gui::GraphPanel&>(control(editor_id::kGraph)).mode(), gui::GraphPanel::kEq);
    EXPECT_FALSE(shown(kMeterCompressorGain, 2));

    press(62); // compander
    EXPECT_EQ(editor->page(), Editor::kPageCompander);
    EXPECT_EQ(effect->getParameter(kPageSlotIndex), 0.25f);
    EXPECT_EQ(tabValues(), (std::vector<double>{1, 0, 0, 0, 0}));
    EXPECT_FALSE(shown(editor_id::kGraph, 0));
    EXPECT_TRUE(shown(editor_id::kGraph, 1));
    EXPECT_TRUE(shown(kMeterCompressorGain, 2)); // the bars
    EXPECT_TRUE(shown(kMeterExpanderGain, 2));
    EXPECT_TRUE(shown(kMeterCompanderOvershoot, 1));
    EXPECT_TRUE(shown(kMeterCompressorGain, 1)); // the readings
    EXPECT_TRUE(shown(kMeterExpanderGain, 1));
    EXPECT_FALSE(shown(kMeterCompanderOvershoot, 0)); // it would cover the first reading
    EXPECT_TRUE(shown(kMeterCompressorGain, 0));      // the meter in the compander's panel
    EXPECT_TRUE(shown(editor_id::kCaptionAttack));
    // The tab of the page on show stays on when clicked again.
    press(62);
    EXPECT_EQ(tabValues(), (std::vector<double>{1, 0, 0, 0, 0}));

    press(64); // de-esser
    EXPECT_EQ(editor->page(), Editor::kPageDeEsser);
    EXPECT_EQ(static_cast<gui::GraphPanel&>(control(editor_id::kGraph)).mode(), gui::GraphPanel::kDeEsser);
    EXPECT_FALSE(shown(kMeterCompressorGain, 2));
    EXPECT_FALSE(shown(kMeterCompressorGain, 1));
    EXPECT_FALSE(shown(editor_id::kCaptionAttack));
    EXPECT_EQ(effect->getParameter(kPageSlotIndex), 0.0f);
    EXPECT_EQ(effect->getParameter(64), 1.0f);

    // The host's page slot selects the page too, and the next opening starts there.
    effect->setParameter(kPageSlotIndex, 1.0f);
    EXPECT_EQ(editor->page(), Editor::kPageDelay);
    EXPECT_EQ(tabValues(), (std::vector<double>{0, 0, 0, 0, 1}));
    editor->close();
    EXPECT_EQ(editor->page(), -1);
    open();
    EXPECT_EQ(editor->page(), Editor::kPageDelay);
    EXPECT_EQ(static_cast<gui::GraphPanel&>(control(editor_id::kGraph)).mode(), gui::GraphPanel::kDelay);
    // The gestures and changes of the tabs reach the host like any other control's.
    const std::vector<int32_t> expected = {2048, 62, 2304, 2048, 62, 2304, 2048, 64, 2304};
    EXPECT_EQ(log.indices(), expected);
}

TEST_F(EditorTest, ATouchedControlShowsItsPageNameAndValue) {
    effect->setParameter(66, 1.0f); // the delay page
    open();
    EXPECT_EQ(readout(), u"");
    EXPECT_EQ(name(), u"");
    log.calls.clear();

    drag(kEqLowGain, 20); // 0.5 -> 0.6
    EXPECT_EQ(editor->page(), Editor::kPageEq);
    EXPECT_EQ(editor->lastTouched(), kEqLowGain);
    EXPECT_NEAR(effect->getParameter(kEqLowGain), 0.6, 1e-6);
    EXPECT_EQ(name(), skinText("IDS_TIP_EQ_LOW_GAIN"));
    EXPECT_EQ(readout(), u"2.4 dB");
    // The gesture: begin (code 2048 with the id), the value, end (2304).
    ASSERT_EQ(log.calls.size(), 3u);
    EXPECT_EQ(log.calls[0], (gt::AutomationLog::Call{2048, 16.0f}));
    EXPECT_EQ(log.calls[1].index, kEqLowGain);
    EXPECT_NEAR(log.calls[1].value, 0.6f, 1e-6);
    EXPECT_EQ(log.calls[2], (gt::AutomationLog::Call{2304, 16.0f}));
    // The EQ curve on show follows the knob.
    const gui::GraphData& curve = static_cast<gui::GraphPanel&>(control(editor_id::kGraph)).data();
    ASSERT_EQ(curve.curveCount, 1);
    std::array<double, 100> expected{};
    ASSERT_EQ(effect->equaliserCurve(expected.data()), 0);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), curve.curves[0].begin()));
    EXPECT_GT(curve.curves[0][1], 1.0); // the low band's boost at 20 Hz
    EXPECT_FALSE(curve.active);         // the EQ is off in Full Reset
    press(kEqEnable);
    EXPECT_TRUE(static_cast<gui::GraphPanel&>(control(editor_id::kGraph)).data().active);

    EXPECT_EQ(name(), skinText("IDS_TIP_EQ_ENABLE"));
    drag(kEqLowGain, 0);
    EXPECT_EQ(name(), skinText("IDS_TIP_EQ_LOW_GAIN"));
    // The same parameter again: the name is not set again (a text put there stays).
    control(editor_id::kName).setText(0, u"marker");
    drag(kEqLowGain, -40);
    EXPECT_EQ(readout(), u"-2.4 dB");
    EXPECT_EQ(name(), u"marker");
    // Another parameter takes the name; the order strip (38) takes nothing.
    drag(kDeEsserFreq, 10);
    EXPECT_EQ(editor->page(), Editor::kPageDeEsser);
    EXPECT_EQ(name(), skinText("IDS_TIP_DSR_FREQ"));
    EXPECT_EQ(readout(), u"3500.0 Hz");
    Control& order = control(kReserved);
    order.mouseDown(75, 20, gui::mouse::kLeft);
    order.mouseUp(175, 20, gui::mouse::kLeft); // compander after the doubler
    EXPECT_EQ(effect->getParameter(kReserved), 13425.0f);
    EXPECT_EQ(name(), skinText("IDS_TIP_DSR_FREQ"));
    EXPECT_EQ(readout(), u"3500.0 Hz");
    EXPECT_EQ(editor->lastTouched(), kDeEsserFreq);
    // Reopened, the name is shown again even for the same parameter.
    editor->close();
    open();
    control(editor_id::kName).setText(0, u"marker");
    drag(kDeEsserFreq, 10);
    EXPECT_EQ(name(), skinText("IDS_TIP_DSR_FREQ"));
}

TEST_F(EditorTest, SyncedDelayTimeReadsAsANoteValue) {
    open();
    press(kDelaySyncEnable);
    ASSERT_EQ(effect->getParameter(kDelaySyncEnable), 1.0f);
    EXPECT_EQ(readout(), u"On");
    drag(kDelayTime, 20); // Full Reset 0.7 -> 0.8: index 12
    EXPECT_EQ(readout(), skinText("IDS_DLY_2T"));
    EXPECT_EQ(name(), skinText("IDS_TIP_DELAY_TIME"));
    // Automated sync off: the readout of the time follows into milliseconds.
    effect->setParameter(kDelaySyncEnable, 0.0f);
    EXPECT_EQ(readout(), u"549.3 ms");
}

TEST_F(EditorTest, HostChangesMoveTheControlsButNotThePage) {
    open();
    drag(kInputGain, 4); // one step: 0.51
    const int32_t page = editor->page();
    effect->setParameter(kDeEsserFreq, 0.7f);
    EXPECT_NEAR(control(kDeEsserFreq).value(), 0.7, 1e-6);
    EXPECT_EQ(control(kDeEsserFreq).frameIndex(), static_cast<int32_t>(126 * 0.7f));
    effect->setParameter(kEqTubeMidEnable, 1.0f);
    EXPECT_EQ(control(kEqTubeMidEnable).frameIndex(), 1);
    effect->setParameter(kOutputGain, 0.25f);
    EXPECT_NEAR(control(kOutputGain).value(), 0.25, 1e-6);
    EXPECT_EQ(editor->page(), page);
    EXPECT_EQ(editor->lastTouched(), kInputGain);
    // The readout follows automation of the parameter it shows.
    effect->setParameter(kInputGain, 0.75f);
    EXPECT_EQ(readout(), u"12.0 dB");
    // A knob being turned keeps to the hand, not to the host.
    Control& knob = control(kCompressorRatio);
    knob.mouseDown(25, 30, gui::mouse::kLeft);
    effect->setParameter(kCompressorRatio, 0.9f);
    EXPECT_NEAR(knob.value(), 0.4014, 1e-4);
    knob.mouseUp(25, 30, gui::mouse::kLeft);
    // The module order repaints the strip.
    effect->setParameter(kReserved, 54321.0f);
    EXPECT_EQ(effect->getParameter(kReserved), 54321.0f);
}

TEST_F(EditorTest, HostThresholdsKeepSixDecibelsApart) {
    open();
    auto compressorDb = [&] { return effect->getParameter(kCompressorThresh) * 60.0 - 60.0; };
    auto expanderDb = [&] { return effect->getParameter(kExpanderThresh) * 70.0 - 90.0; };
    effect->setParameter(kCompressorThresh, 0.5f); // -30 dB; the expander is at -55 dB
    EXPECT_NEAR(expanderDb(), -55.0, 1e-4);
    log.calls.clear();
    effect->setParameter(kExpanderThresh, 1.0f); // -20 dB
    EXPECT_NEAR(compressorDb(), -14.0, 1e-4);
    EXPECT_NEAR(expanderDb(), -20.0, 1e-4); // no push back
    EXPECT_NEAR(control(kCompressorThresh).value(), 46.0 / 60.0, 1e-6);
    EXPECT_TRUE(log.calls.empty()); // the link is no automation of the host's
    // And the other way: the compressor down to -50 dB takes the expander to -56 dB.
    effect->setParameter(kCompressorThresh, 10.0f / 60.0f);
    EXPECT_NEAR(expanderDb(), -56.0, 1e-4);
    EXPECT_NEAR(compressorDb(), -50.0, 1e-4);
    EXPECT_NEAR(control(kExpanderThresh).value(), 34.0 / 70.0, 1e-6);
    // Far enough apart: nothing moves.
    effect->setParameter(kExpanderThresh, 0.0f); // -90 dB
    EXPECT_NEAR(compressorDb(), -50.0, 1e-4);
    // A knob of the editor is not linked.
    effect->setParameter(kCompressorThresh, 0.5f);
    drag(kExpanderThresh, 200); // up to -20 dB
    EXPECT_NEAR(expanderDb(), -20.0, 1e-4);
    EXPECT_NEAR(compressorDb(), -30.0, 1e-4);
}

TEST_F(EditorTest, ProgramsLoadWholeAndRefreshEveryControl) {
    open();
    drag(kInputGain, 4);
    const gui::GraphPanel& graph = static_cast<gui::GraphPanel&>(control(editor_id::kGraph));
    for (int32_t program = 0; program < ChannelStripEffect::kNumPrograms; ++program) {
        effect->setProgram(program);
        const ProgramRecord& record = effect->programs()[program];
        // The threshold link keeps out of a program load.
        EXPECT_NEAR(effect->getParameter(kCompressorThresh), record.values[kCompressorThresh], 1e-6)
            << program;
        EXPECT_NEAR(effect->getParameter(kExpanderThresh), record.values[kExpanderThresh], 1e-6) << program;
        for (int32_t i = 0; i < kReserved; ++i)
            ASSERT_NEAR(control(i).value(), effect->getParameter(i), 1e-6)
                << "program " << program << " parameter " << i;
        EXPECT_EQ(readout(),
                  readoutText(kInputGain, effect->getParameter(kInputGain), false, lookUpDelayNoteNames()));
        // The curve on show is the engine's for this program.
        std::array<double, 100> curve{};
        ASSERT_EQ(effect->equaliserCurve(curve.data()), 0);
        EXPECT_TRUE(std::equal(curve.begin(), curve.end(), graph.data().curves[0].begin())) << program;
        EXPECT_EQ(graph.data().active,
                  effect->getParameter(kEqEnable) > 0.5f && effect->getParameter(0) > 0.5f);
    }
}

TEST_F(EditorTest, DirectEntrySetsTheLastTouchedParameter) {
    open();
    // Nothing touched yet: no box.
    press(editor_id::kReadout);
    EXPECT_EQ(gui::DirectValueEntry::box(), nullptr);

    drag(kInputGain, 4);
    ASSERT_EQ(readout(), u"0.5 dB");
    log.calls.clear();
    press(editor_id::kReadout);
    HWND box = gui::DirectValueEntry::box();
    ASSERT_NE(box, nullptr);
    SetWindowTextW(box, L"7");
    SendMessageW(box, WM_CHAR, VK_RETURN, 0);
    gt::settle();
    EXPECT_EQ(gui::DirectValueEntry::box(), nullptr);
    EXPECT_NEAR(effect->getParameter(kInputGain), 31.0 / 48.0, 1e-4);
    EXPECT_EQ(readout(), u"7.0 dB");
    EXPECT_NEAR(control(kInputGain).value(), 31.0 / 48.0, 1e-4);
    // The host hears of the readout's change (id 57); the parameter itself is set directly.
    ASSERT_FALSE(log.calls.empty());
    EXPECT_EQ(log.calls[0].index, editor_id::kReadout);
    EXPECT_NEAR(log.calls[0].value, 107.0 / 22100.0, 1e-6);

    // A synced Delay Time takes no typed number.
    press(kDelaySyncEnable);
    drag(kDelayTime, 0);
    const float time = effect->getParameter(kDelayTime);
    press(editor_id::kReadout);
    box = gui::DirectValueEntry::box();
    ASSERT_NE(box, nullptr);
    SetWindowTextW(box, L"100");
    SendMessageW(box, WM_CHAR, VK_RETURN, 0);
    gt::settle();
    EXPECT_EQ(effect->getParameter(kDelayTime), time);

    // A box still open when the editor closes is dropped with it.
    press(editor_id::kReadout);
    ASSERT_NE(gui::DirectValueEntry::box(), nullptr);
    editor->close();
    EXPECT_EQ(gui::DirectValueEntry::box(), nullptr);
    EXPECT_EQ(effect->getParameter(kDelayTime), time);
}

TEST_F(EditorTest, MetersAndBarsFollowTheAudio) {
    effect->setParameter(kCompanderEnable, 1.0f);
    effect->setParameter(kCompressorThresh, 0.0f); // -60 dB: deep reduction
    effect->setParameter(62, 1.0f);                // the compander page
    open();
    auto& meter = static_cast<gui::SegmentMeter&>(control(kMeterInputLeft));
    auto& reading = control(kMeterCompressorGain, 1);
    auto& bar = static_cast<gui::ReductionBar&>(control(kMeterCompressorGain, 2));
    EXPECT_EQ(meter.frameIndex(), 0);
    EXPECT_EQ(bar.displayed(), 1.0);
    const std::vector<float> in = test::toFloat(test::sine(0.5, 440.0, 44100.0, 441));
    std::vector<float> outL, outR;
    for (int block = 0; block < 40; ++block) {
        test::render(*effect, in, in, outL, outR, 441);
        gt::pumpFor(10);
    }
    gt::pumpFor(120);
    EXPECT_EQ(meter.frameIndex(), 14); // -6 dB on the 48 dB scale: 0.875 of 16 segments
    EXPECT_EQ(bar.displayed(), 4.0);   // 12 dB or more
    EXPECT_EQ(reading.text(0), u"   12");
    // Silence: the level meter falls back.
    const std::vector<float> silence(441, 0.0f);
    EXPECT_TRUE(gt::pumpUntil(
        [&] {
            test::render(*effect, silence, silence, outL, outR, 441);
            return meter.frameIndex() == 0;
        },
        3000));
}

TEST_F(EditorTest, ChangesFromAnotherThreadArriveOnTheWindowThread) {
    open();
    std::atomic<bool> done{false};
    std::thread automation([&] {
        for (int round = 0; round < 200; ++round)
            for (int32_t i = 1; i < kReserved; ++i)
                effect->setParameter(i, static_cast<float>((round * 7 + i) % 100) / 99.0f);
        effect->setParameter(kPageSlotIndex, 0.75f);
        done = true;
    });
    while (!done)
        gt::pumpFor(5);
    automation.join();
    gt::pumpFor(50);
    for (int32_t i = 0; i < kReserved; ++i)
        EXPECT_NEAR(control(i).value(), effect->getParameter(i), 1e-6) << "parameter " << i;
    EXPECT_EQ(editor->page(), Editor::kPageDoubler);

    // Announced from elsewhere, a change waits for the window thread (or the next idle).
    std::thread([&] { effect->setParameter(kDoublerStereo, 0.125f); }).join();
    EXPECT_NE(control(kDoublerStereo).value(), 0.125);
    editor->idle();
    EXPECT_NEAR(control(kDoublerStereo).value(), 0.125, 1e-6);
    std::thread([&] { effect->setProgram(3); }).join();
    gt::pumpFor(30);
    for (int32_t i = 0; i < kReserved; ++i)
        EXPECT_NEAR(control(i).value(), effect->getParameter(i), 1e-6) << "parameter " << i;
}

TEST_F(EditorTest, AHostThatDestroysItsWindowFirst) {
    open();
    host.destroy();
    EXPECT_FALSE(editor->isOpen());
    effect->setParameter(kInputGain, 0.3f); // nothing to show it on, nothing to crash
    editor->idle();
    editor->close();
    gt::HostWindow other(gt::kEditorWidth, gt::kEditorHeight);
    ASSERT_TRUE(editor->open(other.handle()));
    EXPECT_NEAR(control(kInputGain).value(), 0.3, 1e-6);
}

TEST_F(EditorTest, SharedSkinLivesAsLongAsAnEditor) {
    EXPECT_EQ(Editor::liveEditors(), 1);
    EXPECT_TRUE(Editor::sharedSkinLoaded());
    {
        gt::HostWindow window(gt::kEditorWidth, gt::kEditorHeight, {60, 420});
        ChannelStripEffect second(&gt::AutomationLog::callback, &createStripEditor);
        EXPECT_EQ(Editor::liveEditors(), 2);
        ASSERT_NE(second.getEditor(), nullptr);
        open();
        ASSERT_TRUE(second.getEditor()->open(window.handle()));
        // Closing the effect with its editor open takes the window and the editor with it.
    }
    EXPECT_EQ(Editor::liveEditors(), 1);
    EXPECT_TRUE(Editor::sharedSkinLoaded());
    effect.reset();
    EXPECT_EQ(Editor::liveEditors(), 0);
    EXPECT_FALSE(Editor::sharedSkinLoaded());
    // A new one loads them again.
    ChannelStripEffect third(&gt::AutomationLog::callback, &createStripEditor);
    EXPECT_TRUE(Editor::sharedSkinLoaded());
    EXPECT_EQ(boxes.count(), 0u);
}

/// The shipped skin copied into a folder of its own, with some images left out.
class PartialSkin {
public:
    explicit PartialSkin(std::vector<std::string> missing) {
        const std::filesystem::path source = PELLUCER_SOURCE_DIR "/skin";
        for (const auto& entry : std::filesystem::directory_iterator(source)) {
            const std::string file = entry.path().filename().string();
            if (std::find(missing.begin(), missing.end(), file) == missing.end())
                std::filesystem::copy_file(entry.path(), folder_.file(file));
        }
    }
    /// Points the graphics table at the copy while alive.
    std::u16string use() {
        previous_ = graphicsResources().baseFolder();
        graphicsResources().setBaseFolder(folder_.folderText());
        return previous_;
    }
    ~PartialSkin() {
        if (!previous_.empty())
            graphicsResources().setBaseFolder(previous_);
    }

private:
    gt::TempFolder folder_;
    std::u16string previous_;
};

TEST_F(EditorTest, WithoutItsBackgroundThereIsNoEditor) {
    effect.reset(); // the shared resources go with the last editor
    ASSERT_FALSE(Editor::sharedSkinLoaded());
    {
        PartialSkin skin({"background.bmp"});
        skin.use();
        ChannelStripEffect bare(&gt::AutomationLog::callback, &createStripEditor);
        EXPECT_EQ(bare.getEditor(), nullptr);
        EXPECT_EQ(bare.getAeffect()->flags, 0x1018);
        EXPECT_EQ(bare.dispatcher(vst::effEditOpen, 0, 0, host.handle(), 0.0f), 0);
        vst::ERect* rect = nullptr;
        EXPECT_EQ(bare.dispatcher(vst::effEditGetRect, 0, 0, &rect, 0.0f), 0);
        EXPECT_EQ(Editor::liveEditors(), 0);
        const std::vector<float> in = test::toFloat(test::sine(0.5, 440.0, 44100.0, 4096));
        std::vector<float> outL, outR;
        test::render(bare, in, in, outL, outR, 512);
        EXPECT_NEAR(outL[4000], in[4000 - bare.latency()], 1e-6);
    }
    EXPECT_EQ(boxes.count(), 1u);
    // With the image back, the next effect has its editor.
    ChannelStripEffect whole(&gt::AutomationLog::callback, &createStripEditor);
    EXPECT_NE(whole.getEditor(), nullptr);
}

} // namespace
} // namespace pellucer
