// The strip's editor in a real window with its effect in this process, so that what the editor
// holds (texts, pages, control values) can be read.

#include "GUI/Editor.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "GUI/EditorFactory.h"
#include "Shared/GUI/GraphPanel.h"
#include "Shared/GUI/ReductionBar.h"
#include "Shared/GUI/SegmentMeter.h"
#include "Shared/GUI/Switch.h"
#include "Shared/GUI/Win32/DirectValueEntry.h"
#include "Shared/GUI/Win32/EditorFrame.h"
#include "core/ChannelStripEffect.h"
#include "core/Settings.h"
#include "core/SkinTable.h"
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
    }

    void open() {
        ASSERT_TRUE(editor->open(host.handle()));
        // Until the X server has mapped and painted the new window, input may miss it.
        gt::pumpUntil([&] { return editor->frame() != nullptr && editor->frame()->firstPaintDone(); }, 1000);
        gt::settle();
    }
    Control& control(int32_t id, size_t which = 0) {
        static gui::Switch none(-1, {}, nullptr);
        Control* c = editor->control(id, which);
        EXPECT_NE(c, nullptr) << "control " << id;
        return c != nullptr ? *c : none;
    }
    gui::GraphPanel& graph() { return static_cast<gui::GraphPanel&>(control(editor_id::kGraph)); }
    std::u16string readout() { return control(editor_id::kReadout).text(0); }
    std::u16string name() { return control(editor_id::kName).text(0); }
    static const std::u16string& skinText(const char* key) { return textResources().text(key); }
    /// A drag of `pixels` upwards on control `id` through its own handlers (0: a press alone).
    void drag(int32_t id, int32_t pixels = 0) {
        Control& c = control(id);
        const int32_t x = c.rect().width / 2, y = c.rect().height / 2;
        c.mouseDown(x, y, gui::mouse::kLeft);
        if (pixels != 0)
            c.mouseMove(x, y - pixels, gui::mouse::kLeft);
        c.mouseUp(x, y - pixels, gui::mouse::kLeft);
    }
    void expectControlsShowTheEngine(const char* when) {
        for (int32_t i = 0; i < kReserved; ++i)
            EXPECT_NEAR(control(i).value(), effect->getParameter(i), 1e-6) << when << ", parameter " << i;
    }
    bool showsTheEnginesEqCurve() {
        std::array<double, 100> expected{};
        return effect->curve(StripCurve::Equaliser, expected.data()) &&
               std::equal(expected.begin(), expected.end(), graph().data().curves[0].begin());
    }
    POINT screen(gui::Point p) { return gt::screenPoint(host.editor(), p.x, p.y); }
    gui::PixelBuffer capture() {
        gt::settle();
        return gt::captureWindow(host.editor());
    }

    gt::WindowTestLock lock;
    gt::MessageBoxCounter boxes;
    gt::HostWindow host{gt::kEditorWidth, gt::kEditorHeight};
    gt::AutomationLog log;
    std::unique_ptr<ChannelStripEffect> effect;
    Editor* editor = nullptr;
};

TEST_F(EditorTest, TheContextMenuOnTheBackgroundOffersAboutAndHelp) {
    open();
    EXPECT_EQ(editor->frame()->helpFile(), folders().documentation + u"Pellucer.chm");
    int helpCalls = 0;
    editor->frame()->setHelpAction([&] { ++helpCalls; });
    const auto menuAt = [&](gui::Point at, std::vector<WORD> keys, DWORD timeoutMs = 3000) {
        gt::MenuWatcher watcher(std::move(keys), timeoutMs);
        gt::moveTo(screen(at));
        gt::rightClick();
        watcher.join();
        return std::pair{watcher.found(), watcher.items()};
    };
    const auto [found, items] = menuAt(gt::kBackgroundSpot, {VK_ESCAPE});
    ASSERT_TRUE(found);
    EXPECT_EQ(items, (std::vector<std::pair<UINT, std::u16string>>{{123u, u"About Pellucer..."},
                                                                   {124u, u"Pellucer Help"}}));
    // A switch takes its right click itself: no menu (and the switch stays on, below). Help runs
    // the help action; About covers the middle of the editor until the next click, which does
    // nothing else.
    EXPECT_FALSE(menuAt(gt::centreOf(gt::kPowerSwitch), {VK_ESCAPE}, 800).first);
    const gui::PixelBuffer before = capture();
    ASSERT_TRUE(menuAt(gt::kBackgroundSpot, {VK_DOWN, VK_DOWN, VK_RETURN}).first);
    EXPECT_EQ(helpCalls, 1);
    ASSERT_TRUE(menuAt(gt::kBackgroundSpot, {VK_DOWN, VK_RETURN}).first);
    const gui::Rect middle{312, 120, 200, 100};
    EXPECT_GT(gt::changedPixels(before, capture(), middle), 10000);
    gt::clickAt(screen(gt::centreOf(gt::kPowerSwitch)));
    EXPECT_EQ(gt::changedPixels(before, capture(), middle), 0);
    EXPECT_EQ(effect->getParameter(kPlugInEnable), 1.0f);
    EXPECT_EQ(helpCalls, 1);
    EXPECT_TRUE(log.calls.empty());
}

TEST_F(EditorTest, TabsSelectThePagesAndTheEngineKeepsThem) {
    open();
    const auto shown = [&](int32_t id, size_t which = 0) { return control(id, which).visible(); };
    const auto tabs = [&] {
        std::vector<double> v;
        for (int32_t id = editor_id::kFirstTab; id <= editor_id::kLastTab; ++id)
            v.push_back(control(id).value());
        return v;
    };
    // The engine starts on the EQ page.
    EXPECT_EQ(tabs(), (std::vector<double>{0, 1, 0, 0, 0}));
    EXPECT_TRUE(shown(editor_id::kGraph, 0) && !shown(editor_id::kGraph, 1));
    // The compander page: its graph, bars, readings and caption; the third reading would cover
    // the first. Clicked again, the tab of the page on show stays on.
    for (int click = 0; click < 2; ++click)
        drag(kSelectCompanderPage);
    EXPECT_EQ(editor->page(), Editor::kPageCompander);
    EXPECT_EQ(effect->getParameter(kPageSlotIndex), 0.25f);
    EXPECT_EQ(tabs(), (std::vector<double>{1, 0, 0, 0, 0}));
    EXPECT_TRUE(!shown(editor_id::kGraph, 0) && shown(editor_id::kGraph, 1));
    for (int32_t id : {kMeterCompressorGain, kMeterExpanderGain})
        EXPECT_TRUE(shown(id, 1) && shown(id, 2)) << id;
    EXPECT_TRUE(shown(kMeterCompanderOvershoot, 1) && !shown(kMeterCompanderOvershoot, 0));
    EXPECT_TRUE(shown(editor_id::kCaptionAttack));
    drag(kSelectDeEsserPage);
    EXPECT_EQ(graph().mode(), gui::GraphPanel::kDeEsser);
    EXPECT_FALSE(shown(kMeterCompressorGain, 2) || shown(kMeterCompressorGain, 1) ||
                 shown(editor_id::kCaptionAttack));
    EXPECT_EQ(effect->getParameter(kPageSlotIndex), 0.0f);
    // The host's page slot selects the page too, and the next opening starts there.
    effect->setParameter(kPageSlotIndex, 1.0f);
    EXPECT_EQ(tabs(), (std::vector<double>{0, 0, 0, 0, 1}));
    editor->close();
    open();
    EXPECT_EQ(editor->page(), Editor::kPageDelay);
    EXPECT_EQ(graph().mode(), gui::GraphPanel::kDelay);
    // The tabs' gestures and changes reach the host like any other control's.
    std::vector<int32_t> indices;
    for (const auto& call : log.calls)
        indices.push_back(call.index);
    EXPECT_EQ(indices, (std::vector<int32_t>{2048, 62, 2304, 2048, 62, 2304, 2048, 64, 2304}));
}

TEST_F(EditorTest, TheNameAndTheReadoutFollowTheTouchedParameter) {
    effect->setParameter(kSelectDelayPage, 1.0f);
    open();
    drag(kEqLowGain, 20); // 0.5 -> 0.6: +2.4 dB of -12..+12
    EXPECT_EQ(editor->page(), Editor::kPageEq);
    EXPECT_EQ(name(), skinText("IDS_TIP_EQ_LOW_GAIN"));
    EXPECT_EQ(readout(), u"2.4 dB");
    // The EQ curve on show follows the knob, dimmed while the EQ is off.
    EXPECT_TRUE(showsTheEnginesEqCurve());
    EXPECT_GT(graph().data().curves[0][1], 1.0); // the low band's boost at 20 Hz
    EXPECT_FALSE(graph().data().active);
    drag(kEqEnable);
    EXPECT_TRUE(graph().data().active);
    EXPECT_EQ(name(), skinText("IDS_TIP_EQ_ENABLE"));
    drag(kEqLowGain, -40);
    EXPECT_EQ(readout(), u"-2.4 dB");
    EXPECT_EQ(name(), skinText("IDS_TIP_EQ_LOW_GAIN"));
    // The readout follows the host's automation of its parameter, and only of it; the host
    // moves no page.
    drag(kInputGain, 4);                     // one step
    effect->setParameter(kInputGain, 0.75f); // +12 dB of -24..+24
    effect->setParameter(kOutputGain, 0.25f);
    effect->setParameter(kDeEsserFreq, 0.7f);
    EXPECT_EQ(readout(), u"12.0 dB");
    EXPECT_EQ(editor->page(), Editor::kPageEq);
    // A synced Delay Time reads as a note value; unsynced by the host, in milliseconds again.
    drag(kDelaySyncEnable);
    EXPECT_EQ(readout(), u"On");
    drag(kDelayTime, 20); // 0.7 -> 0.8: note 12
    EXPECT_EQ(readout(), skinText("IDS_DLY_2T"));
    EXPECT_EQ(name(), skinText("IDS_TIP_DELAY_TIME"));
    effect->setParameter(kDelaySyncEnable, 0.0f);
    EXPECT_EQ(readout(), u"549.3 ms");
}

TEST_F(EditorTest, HostThresholdsKeepSixDecibelsApartWhileTheEditorIsOpen) {
    open();
    const auto compressorDb = [&] { return effect->getParameter(kCompressorThresh) * 60.0 - 60.0; };
    const auto expanderDb = [&] { return effect->getParameter(kExpanderThresh) * 70.0 - 90.0; };
    effect->setParameter(kCompressorThresh, 0.5f); // -30 dB; the expander is at -55 dB
    EXPECT_NEAR(expanderDb(), -55.0, 1e-4);
    log.calls.clear();
    effect->setParameter(kExpanderThresh, 1.0f); // -20 dB pushes the compressor to -14 dB
    EXPECT_NEAR(compressorDb(), -14.0, 1e-4);
    EXPECT_NEAR(expanderDb(), -20.0, 1e-4); // and is not pushed back
    EXPECT_NEAR(control(kCompressorThresh).value(), 46.0 / 60.0, 1e-6);
    EXPECT_TRUE(log.calls.empty());                         // the link is no automation of the host's
    effect->setParameter(kCompressorThresh, 10.0f / 60.0f); // -50 dB takes the expander to -56
    EXPECT_NEAR(expanderDb(), -56.0, 1e-4);
    EXPECT_NEAR(control(kExpanderThresh).value(), 34.0 / 70.0, 1e-6);
    effect->setParameter(kExpanderThresh, 0.0f); // -90 dB: far enough apart, nothing moves
    EXPECT_NEAR(compressorDb(), -50.0, 1e-4);
    // A knob of the editor is not linked, nor is anything while the editor is closed.
    drag(kExpanderThresh, 180); // up to -27 dB
    EXPECT_NEAR(compressorDb(), -50.0, 1e-4);
    editor->close();
    effect->setParameter(kCompressorThresh, 0.0f);
    EXPECT_NEAR(expanderDb(), -27.0, 1e-4);
}

TEST_F(EditorTest, ProgramsLoadWholeAndEveryControlIsRedrawn) {
    open();
    drag(kInputGain, 4);
    const gui::PixelBuffer fullReset = capture();
    for (int32_t program = 0; program < ChannelStripEffect::kNumPrograms; ++program) {
        effect->setProgram(program);
        // The threshold link keeps out of a program load.
        const ProgramRecord& record = effect->programs()[program];
        EXPECT_NEAR(effect->getParameter(kCompressorThresh), record.values[kCompressorThresh], 1e-6);
        EXPECT_NEAR(effect->getParameter(kExpanderThresh), record.values[kExpanderThresh], 1e-6);
        expectControlsShowTheEngine("program");
        EXPECT_EQ(readout(),
                  readoutText(kInputGain, effect->getParameter(kInputGain), false, lookUpDelayNoteNames()));
        EXPECT_TRUE(showsTheEnginesEqCurve()) << program;
    }
    // The window shows every control as an editor opened afresh on the program does.
    effect->setProgram(7);
    const gui::PixelBuffer program = capture();
    editor->close();
    open();
    const gui::PixelBuffer fresh = capture();
    int32_t changed = 0;
    for (const auto& c : editor->frame()->controls()) {
        if (c->id() == editor_id::kReadout || c->id() == editor_id::kName)
            continue; // nothing is touched in the fresh editor
        EXPECT_EQ(gt::changedPixels(program, fresh, c->rect()), 0) << "control " << c->id();
        changed += gt::changedPixels(fullReset, program, c->rect()) > 0 ? 1 : 0;
    }
    EXPECT_GT(changed, 8); // the program is a real change
}

TEST_F(EditorTest, DirectEntrySetsTheLastTouchedParameter) {
    open();
    const auto enter = [&](const wchar_t* text) {
        drag(editor_id::kReadout);
        HWND box = gui::DirectValueEntry::box();
        ASSERT_NE(box, nullptr);
        SetWindowTextW(box, text);
        SendMessageW(box, WM_CHAR, VK_RETURN, 0);
        gt::settle();
    };
    drag(editor_id::kReadout); // nothing touched yet: no box
    EXPECT_EQ(gui::DirectValueEntry::box(), nullptr);
    drag(kInputGain, 4);
    log.calls.clear();
    enter(L"7");
    EXPECT_NEAR(effect->getParameter(kInputGain), 31.0 / 48.0, 1e-4); // +7 dB of -24..+24
    EXPECT_NEAR(control(kInputGain).value(), 31.0 / 48.0, 1e-4);
    EXPECT_EQ(readout(), u"7.0 dB");
    // The host hears of the readout's change (7 on its range -100..22000); the parameter itself
    // is set directly.
    ASSERT_FALSE(log.calls.empty());
    EXPECT_EQ(log.calls[0].index, editor_id::kReadout);
    EXPECT_NEAR(log.calls[0].value, 107.0 / 22100.0, 1e-6);
    // A synced Delay Time takes no typed number.
    drag(kDelaySyncEnable);
    drag(kDelayTime);
    const float time = effect->getParameter(kDelayTime);
    enter(L"100");
    EXPECT_EQ(effect->getParameter(kDelayTime), time);
    // A box still open when the editor closes goes with it, unapplied.
    drag(editor_id::kReadout);
    ASSERT_NE(gui::DirectValueEntry::box(), nullptr);
    editor->close();
    EXPECT_EQ(gui::DirectValueEntry::box(), nullptr);
    EXPECT_EQ(effect->getParameter(kDelayTime), time);
}

TEST_F(EditorTest, MetersAndBarsFollowTheAudio) {
    effect->setParameter(kCompanderEnable, 1.0f);
    effect->setParameter(kCompressorThresh, 0.0f); // -60 dB: deep reduction
    effect->setParameter(kSelectCompanderPage, 1.0f);
    open();
    auto& meter = static_cast<gui::SegmentMeter&>(control(kMeterInputLeft));
    auto& bar = static_cast<gui::ReductionBar&>(control(kMeterCompressorGain, 2));
    EXPECT_EQ(meter.frameIndex(), 0);
    EXPECT_EQ(bar.displayed(), 1.0);
    const std::vector<float> in = test::toFloat(test::sine(0.5, 440.0, 44100.0, 441));
    const std::vector<float> silence(441, 0.0f);
    std::vector<float> outL, outR;
    for (int block = 0; block < 40; ++block) {
        test::render(*effect, in, in, outL, outR, 441);
        gt::pumpFor(10);
    }
    gt::pumpFor(120);
    EXPECT_EQ(meter.frameIndex(), 14); // -6 dB on the 48 dB scale: 0.875 of 16 segments
    EXPECT_EQ(bar.displayed(), 4.0);   // 12 dB or more
    EXPECT_EQ(control(kMeterCompressorGain, 1).text(0), u"   12");
    EXPECT_TRUE(gt::pumpUntil([&] { // silence: the level meter falls back
        test::render(*effect, silence, silence, outL, outR, 441);
        return meter.frameIndex() == 0;
    }));
}

TEST_F(EditorTest, ChangesFromAnotherThreadWaitForTheWindowThread) {
    open();
    // Announced from elsewhere, a change waits for the window thread's messages (or the next idle).
    std::thread([&] {
        effect->setParameter(kDoublerStereo, 0.125f);
        effect->setParameter(kPageSlotIndex, 0.75f);
    }).join();
    EXPECT_NE(control(kDoublerStereo).value(), 0.125);
    editor->idle();
    EXPECT_NEAR(control(kDoublerStereo).value(), 0.125, 1e-6);
    std::thread([&] { effect->setParameter(kDeEsserDepth, 0.875f); }).join();
    gt::pumpFor(30);
    EXPECT_NEAR(control(kDeEsserDepth).value(), 0.875, 1e-6);
    EXPECT_EQ(editor->page(), Editor::kPageDoubler);
    // Many changes at once, and a program change, arrive whole.
    std::thread([&] {
        for (int32_t i = 1; i < kReserved; ++i)
            effect->setParameter(i, static_cast<float>(i % 10) / 9.0f);
    }).join();
    gt::pumpFor(30);
    expectControlsShowTheEngine("automated");
    std::thread([&] { effect->setProgram(3); }).join();
    gt::pumpFor(30);
    expectControlsShowTheEngine("program 3");
}

TEST_F(EditorTest, AnIncompleteSkinLeavesNoEditorOpenButTheEffectWorks) {
    // The shipped skin in a folder of its own, without one control image.
    gt::TempFolder folder;
    for (const auto& entry : std::filesystem::directory_iterator(PELLUCER_SOURCE_DIR "/skin"))
        if (entry.path().filename() != "meter_level.bmp")
            std::filesystem::copy_file(entry.path(), folder.file(entry.path().filename().string()));
    const std::u16string shipped = graphicsResources().baseFolder();
    graphicsResources().setBaseFolder(folder.file("").u16string());
    // The editor is made, but opens nothing, and the user is told once.
    EXPECT_FALSE(editor->open(host.handle()));
    EXPECT_EQ(host.editor(), nullptr);
    EXPECT_EQ(boxes.requests(), 1);
    // The last editor to go takes the shared skin with it, and its three fonts; without the
    // background the next effect finds none to share, and has no editor.
    std::filesystem::remove(folder.file("background.bmp"));
    const int32_t objects = gt::gdiObjects();
    effect.reset();
    EXPECT_LE(gt::gdiObjects(), objects - 3);
    ChannelStripEffect bare(&gt::AutomationLog::callback, &createStripEditor);
    graphicsResources().setBaseFolder(shipped);
    EXPECT_EQ(bare.getEditor(), nullptr);
    EXPECT_EQ(bare.getAeffect()->flags & vst::effFlagsHasEditor, 0);
    EXPECT_EQ(bare.dispatcher(vst::effEditOpen, 0, 0, host.handle(), 0.0f), 0);
    EXPECT_EQ(boxes.requests(), 2);
}

} // namespace
} // namespace pellucer
