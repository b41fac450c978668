// The editor of the built plug-in module, driven as a VST host drives it: the effect record's
// editor opcodes into a window of the host's, real mouse input on the editor's window, the
// parameters read back and the automation the host is told of, pictures of the window, and
// modules whose skin is incomplete. Windows builds (under Wine with an X server).

#ifdef _WIN32

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/Parameters.h"
#include "tests/gui/win32/EditorTestSupport.h"
#include "vst/VstAbi.h"

namespace {

using namespace vst;
namespace gt = pellucer::gui::test;
using pellucer::gui::Point;
using pellucer::gui::Rect;

using EntryProc = AEffect* (*)(audioMasterCallback);

EntryProc entryOf(HMODULE module) {
    return module != nullptr ? reinterpret_cast<EntryProc>(
                                   reinterpret_cast<void (*)()>(GetProcAddress(module, "VSTPluginMain")))
                             : nullptr;
}

EntryProc moduleEntry() {
    static const HMODULE module = LoadLibraryA(PELLUCER_VST_MODULE);
    return entryOf(module);
}

/// One effect of the module as a host holds it.
class Effect {
public:
    explicit Effect(EntryProc entry = moduleEntry()) {
        if (entry != nullptr)
            effect_ = entry(&gt::AutomationLog::callback);
        if (effect_ != nullptr) {
            log.attach(effect_);
            call(effSetSampleRate, 0, 0, nullptr, 44100.0f);
            call(effMainsChanged, 0, 1);
        }
    }
    ~Effect() { close(); }
    Effect(const Effect&) = delete;
    Effect& operator=(const Effect&) = delete;

    AEffect* record() const { return effect_; }
    VstIntPtr call(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                   float opt = 0.0f) {
        return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
    }
    float get(VstInt32 index) { return effect_->getParameter(effect_, index); }
    void set(VstInt32 index, float value) { effect_->setParameter(effect_, index, value); }
    /// The host ends the effect (effClose), whatever the editor is doing.
    void close() {
        if (effect_ != nullptr) {
            EXPECT_EQ(call(effClose), 1);
        }
        effect_ = nullptr;
    }
    /// `blocks` blocks of 441 frames of a 440 Hz sine at `amplitude`; answers the last output.
    std::vector<float> play(int blocks, float amplitude) {
        std::vector<float> inL(441), inR(441), outL(441), outR(441);
        for (int b = 0; b < blocks; ++b) {
            for (int i = 0; i < 441; ++i)
                inL[i] = inR[i] =
                    amplitude *
                    static_cast<float>(std::sin(2.0 * 3.14159265358979 * 440.0 * (b * 441 + i) / 44100.0));
            float* in[2] = {inL.data(), inR.data()};
            float* out[2] = {outL.data(), outR.data()};
            effect_->processReplacing(effect_, in, out, 441);
        }
        return outL;
    }

    gt::AutomationLog log;

private:
    AEffect* effect_ = nullptr;
};

class VstEditor : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(lock.held());
        ASSERT_NE(moduleEntry(), nullptr) << "cannot load " << PELLUCER_VST_MODULE;
        effect = std::make_unique<Effect>();
        ASSERT_NE(effect->record(), nullptr);
        ASSERT_NE(host.handle(), nullptr);
    }
    void TearDown() override { effect.reset(); }

    void open() {
        ASSERT_EQ(effect->call(effEditOpen, 0, 0, host.handle()), 1);
        // Until the X server has mapped and painted the new window, input may miss it.
        gt::pumpFor(150);
        ASSERT_NE(host.editor(), nullptr);
    }
    HWND window() const { return host.editor(); }
    POINT screen(Point p) const { return gt::screenPoint(window(), p.x, p.y); }
    /// A left-button drag from `from` by `dy` pixels (negative: upwards), in steps of 4 pixels.
    void drag(Point from, int32_t dy) {
        gt::moveTo(screen(from));
        gt::leftDown();
        const int32_t step = dy < 0 ? -4 : 4;
        for (int32_t moved = 0; moved != dy;) {
            const int32_t next = std::abs(dy - moved) < 4 ? dy - moved : step;
            moved += next;
            gt::moveTo(screen({from.x, from.y + moved}));
        }
        gt::leftUp();
        gt::pumpFor(GetDoubleClickTime() + 50);
    }
    void click(Point at) { gt::clickAt(screen(at)); }
    pellucer::gui::PixelBuffer capture() {
        effect->call(effEditIdle);
        gt::settle();
        return gt::captureWindow(window());
    }

    gt::WindowTestLock lock;
    gt::HostWindow host{gt::kEditorWidth, gt::kEditorHeight};
    std::unique_ptr<Effect> effect;
};

TEST_F(VstEditor, OpensCloseAndReopensIntoTheHostsWindow) {
    ERect* rect = nullptr;
    ASSERT_EQ(effect->call(effEditGetRect, 0, 0, &rect), 1);
    EXPECT_EQ(rect->right - rect->left, gt::kEditorWidth);
    EXPECT_EQ(rect->bottom - rect->top, gt::kEditorHeight);
    // Nothing open yet: idle and close answer 0 and do nothing.
    EXPECT_EQ(effect->call(effEditIdle), 0);
    EXPECT_EQ(effect->call(effEditClose), 0);
    EXPECT_EQ(effect->call(effEditOpen, 0, 0, nullptr), 0);
    for (int round = 0; round < 5; ++round) {
        open();
        EXPECT_EQ(effect->call(effEditOpen, 0, 0, host.handle()), 0) << "second open, round " << round;
        RECT client{};
        GetClientRect(window(), &client);
        EXPECT_EQ(client.right, gt::kEditorWidth);
        EXPECT_EQ(client.bottom, gt::kEditorHeight);
        EXPECT_TRUE(IsWindowVisible(window()));
        EXPECT_EQ(effect->call(effEditIdle), 0);
        EXPECT_EQ(effect->call(effEditClose), 0);
        EXPECT_EQ(window(), nullptr) << "round " << round;
    }
}

TEST_F(VstEditor, KnobDragIsAnAutomatedGesture) {
    open();
    effect->log.calls.clear();
    drag(gt::centreOf(gt::kExpanderThresholdKnob), -20); // 0.5 -> 0.6
    EXPECT_NEAR(effect->get(pellucer::kExpanderThresh), 0.6f, 1e-6);
    const auto& calls = effect->log.calls;
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls.front(), (gt::AutomationLog::Call{2048, 7.0f}));
    EXPECT_EQ(calls.back(), (gt::AutomationLog::Call{2304, 7.0f}));
    for (size_t i = 1; i + 1 < calls.size(); ++i)
        EXPECT_EQ(calls[i].index, pellucer::kExpanderThresh);
    EXPECT_NEAR(calls[calls.size() - 2].value, 0.6f, 1e-6);
    // The knob's page came up with the touch.
    EXPECT_EQ(effect->get(pellucer::kPageSlotIndex), 0.25f);
}

TEST_F(VstEditor, FaderDragStartsItsGestureWithTheFirstStep) {
    open();
    effect->log.calls.clear();
    drag(gt::centreOf(gt::kInputGainFader), -30); // 30 pixels x 0.75 / 2: 11 steps of 0.01
    EXPECT_NEAR(effect->get(pellucer::kInputGain), 0.61f, 1e-5);
    const auto& calls = effect->log.calls;
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls.front(), (gt::AutomationLog::Call{2048, 2.0f}));
    EXPECT_EQ(calls[1].index, pellucer::kInputGain);
    EXPECT_NEAR(calls[1].value, 0.51f, 1e-6); // the first step, not the click
    EXPECT_EQ(calls.back(), (gt::AutomationLog::Call{2304, 2.0f}));
}

TEST_F(VstEditor, SwitchAndTabClicks) {
    open();
    effect->log.calls.clear();
    click(gt::centreOf(gt::kCompanderSwitch));
    EXPECT_EQ(effect->get(pellucer::kCompanderEnable), 1.0f);
    const std::vector<gt::AutomationLog::Call> expected = {{2048, 4.0f}, {4, 1.0f}, {2304, 4.0f}};
    EXPECT_EQ(effect->log.calls, expected);
    EXPECT_EQ(effect->get(pellucer::kPageSlotIndex), 0.25f);
    click(gt::centreOf(gt::kCompanderSwitch));
    EXPECT_EQ(effect->get(pellucer::kCompanderEnable), 0.0f);

    // The delay tab: the page and the picture of the tabs change, and both survive a reopening.
    const pellucer::gui::PixelBuffer before = capture();
    click(gt::centreOf(gt::kDelayTab));
    EXPECT_EQ(effect->get(pellucer::kPageSlotIndex), 1.0f);
    const pellucer::gui::PixelBuffer delayPage = capture();
    EXPECT_GT(gt::changedPixels(before, delayPage, gt::kTabs), 100);
    EXPECT_GT(gt::changedPixels(before, delayPage, gt::kGraphA), 100);
    effect->call(effEditClose);
    open();
    const pellucer::gui::PixelBuffer reopened = capture();
    EXPECT_TRUE(gt::samePixels(delayPage, reopened, gt::kTabs));
    EXPECT_TRUE(gt::samePixels(delayPage, reopened, gt::kGraphA));
    EXPECT_EQ(effect->get(pellucer::kPageSlotIndex), 1.0f);
}

TEST_F(VstEditor, TouchingAKnobOfAnotherPageShowsThatPage) {
    open();
    click(gt::centreOf(gt::kDelayTab));
    ASSERT_EQ(effect->get(pellucer::kPageSlotIndex), 1.0f);
    click(gt::centreOf(gt::kEqLowGainKnob)); // a touch, no turn
    EXPECT_EQ(effect->get(pellucer::kPageSlotIndex), 0.5f);
    EXPECT_EQ(effect->get(pellucer::kEqLowGain), 0.5f);
    click(gt::centreOf(gt::kDeEsserFreqKnob));
    EXPECT_EQ(effect->get(pellucer::kPageSlotIndex), 0.0f);
}

TEST_F(VstEditor, HostThresholdAutomationIsLinked) {
    open();
    effect->set(pellucer::kCompressorThresh, 0.5f); // -30 dB
    effect->set(pellucer::kExpanderThresh, 1.0f);   // -20 dB
    EXPECT_NEAR(effect->get(pellucer::kCompressorThresh) * 60.0 - 60.0, -14.0, 1e-4);
    EXPECT_NEAR(effect->get(pellucer::kExpanderThresh) * 70.0 - 90.0, -20.0, 1e-4);
    // Closed, the editor links nothing.
    effect->call(effEditClose);
    effect->set(pellucer::kCompressorThresh, 0.5f);
    EXPECT_NEAR(effect->get(pellucer::kExpanderThresh) * 70.0 - 90.0, -20.0, 1e-4);
}

TEST_F(VstEditor, OrderStripDragMovesAModule) {
    open();
    ASSERT_EQ(effect->get(pellucer::kReserved), 12345.0f);
    const pellucer::gui::PixelBuffer before = capture();
    // The compander (slot 1) dropped on the doubler's slot (3): inserted after it.
    const Rect strip = gt::kOrderStrip;
    gt::moveTo(screen({strip.left + 75, strip.top + 28}));
    gt::leftDown();
    for (int32_t x = 75; x <= 175; x += 4)
        gt::moveTo(screen({strip.left + x, strip.top + 28}));
    gt::leftUp();
    gt::settle();
    EXPECT_EQ(effect->get(pellucer::kReserved), 13425.0f);
    EXPECT_GT(gt::changedPixels(before, capture(), strip), 1000);
}

TEST_F(VstEditor, ContextMenuOnTheBackgroundButNotOnASwitch) {
    open();
    {
        gt::MenuWatcher watcher({VK_ESCAPE});
        gt::moveTo(screen(gt::kBackgroundSpot));
        gt::rightDown();
        gt::rightUp();
        watcher.join();
        ASSERT_TRUE(watcher.found());
        ASSERT_EQ(watcher.items().size(), 2u);
        EXPECT_EQ(watcher.items()[0].first, 123u);
        EXPECT_EQ(watcher.items()[0].second, u"About Pellucer...");
        EXPECT_EQ(watcher.items()[1].first, 124u);
        EXPECT_EQ(watcher.items()[1].second, u"Pellucer Help");
    }
    {
        gt::MenuWatcher watcher({VK_ESCAPE}, 800);
        gt::moveTo(screen(gt::centreOf(gt::kPowerSwitch)));
        gt::rightDown();
        gt::rightUp();
        watcher.join();
        EXPECT_FALSE(watcher.found());
        EXPECT_EQ(effect->get(pellucer::kPlugInEnable), 1.0f);
    }
    // About, chosen in the menu, covers the middle of the editor until the next click.
    const pellucer::gui::PixelBuffer before = capture();
    {
        gt::MenuWatcher watcher({VK_DOWN, VK_RETURN});
        gt::moveTo(screen(gt::kBackgroundSpot));
        gt::rightDown();
        gt::rightUp();
        watcher.join();
        ASSERT_TRUE(watcher.found());
    }
    const Rect middle{312, 120, 200, 100};
    EXPECT_GT(gt::changedPixels(before, capture(), middle), 10000);
    click(gt::kBackgroundSpot);
    EXPECT_TRUE(gt::samePixels(before, capture(), middle));
}

TEST_F(VstEditor, NameAndValueDisplaysFollowTheTouchedControl) {
    open();
    const pellucer::gui::PixelBuffer untouched = capture();
    drag(gt::centreOf(gt::kDeEsserFreqKnob), -8);
    const pellucer::gui::PixelBuffer first = capture();
    EXPECT_GT(gt::changedPixels(untouched, first, gt::kReadout), 20);
    EXPECT_GT(gt::changedPixels(untouched, first, gt::kNameLabel), 20);
    drag(gt::centreOf(gt::kDeEsserFreqKnob), -20);
    const pellucer::gui::PixelBuffer second = capture();
    EXPECT_GT(gt::changedPixels(first, second, gt::kReadout), 5);
    EXPECT_TRUE(gt::samePixels(first, second, gt::kNameLabel));
}

TEST_F(VstEditor, ADoubleClickOnTheReadoutOpensTheEntryWithTheWholeValueSelected) {
    open();
    drag(gt::centreOf(gt::kOutputGainFader), -8); // the readout now shows the output gain
    const POINT at = screen(gt::centreOf(gt::kReadout));
    const std::wstring doubleClick = L"mousemove " + std::to_wstring(at.x) + L" " +
                                     std::to_wstring(at.y) + L" click --repeat 2 --delay 120 1";
    const auto selection = [](HWND box) {
        DWORD start = 99, end = 99;
        SendMessageW(box, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
        return std::pair{start, end};
    };
    ASSERT_TRUE(gt::xdotool(doubleClick));
    HWND box = FindWindowExW(window(), nullptr, L"Edit", nullptr);
    ASSERT_NE(box, nullptr);
    const DWORD length = static_cast<DWORD>(GetWindowTextLengthW(box));
    EXPECT_GT(length, 0u);
    EXPECT_EQ(selection(box), (std::pair<DWORD, DWORD>{0, length}));
    gt::tapKey('7'); // replaces the selected value
    gt::tapKey(VK_RETURN);
    EXPECT_NEAR(effect->get(pellucer::kOutputGain), 31.0 / 48.0, 1e-4); // +7 dB of -24..+24

    // Once the double click is over, a click into the box places the caret.
    ASSERT_TRUE(gt::xdotool(doubleClick));
    box = FindWindowExW(window(), nullptr, L"Edit", nullptr);
    ASSERT_NE(box, nullptr);
    gt::pumpFor(GetDoubleClickTime());
    gt::clickAt(at);
    const auto [start, end] = selection(box);
    EXPECT_EQ(start, end);
}

TEST_F(VstEditor, MetersMoveWhileAudioPlays) {
    open();
    const pellucer::gui::PixelBuffer quiet = capture();
    for (int i = 0; i < 20; ++i) {
        effect->play(4, 0.5f);
        gt::pumpFor(15);
    }
    const pellucer::gui::PixelBuffer playing = capture();
    EXPECT_GT(gt::changedPixels(quiet, playing, gt::kOutputMeterLeft), 50);
}

/// The parameter controls' places, for comparing pictures: knobs, faders and switches.
struct Placed {
    int32_t index;
    Rect rect;
    enum { Knob, Fader, Switch } kind;
};
constexpr Placed kParameterControls[] = {
    {0, {775, 8, 37, 27}, Placed::Switch},    {1, {3, 137, 20, 34}, Placed::Switch},
    {2, {25, 178, 22, 123}, Placed::Fader},   {3, {25, 45, 22, 128}, Placed::Fader},
    {4, {173, 6, 25, 27}, Placed::Switch},    {5, {225, 52, 50, 60}, Placed::Knob},
    {6, {225, 118, 50, 60}, Placed::Knob},    {7, {171, 52, 50, 60}, Placed::Knob},
    {8, {171, 118, 50, 60}, Placed::Knob},    {9, {197, 177, 50, 60}, Placed::Knob},
    {10, {288, 6, 25, 27}, Placed::Switch},   {11, {299, 45, 22, 128}, Placed::Fader},
    {12, {353, 187, 20, 34}, Placed::Switch}, {13, {406, 187, 20, 34}, Placed::Switch},
    {14, {459, 187, 20, 34}, Placed::Switch}, {15, {338, 52, 50, 60}, Placed::Knob},
    {16, {338, 118, 50, 60}, Placed::Knob},   {17, {391, 52, 50, 60}, Placed::Knob},
    {18, {391, 118, 50, 60}, Placed::Knob},   {19, {444, 52, 50, 60}, Placed::Knob},
    {20, {444, 118, 50, 60}, Placed::Knob},   {21, {58, 6, 25, 27}, Placed::Switch},
    {22, {57, 52, 50, 60}, Placed::Knob},     {23, {57, 118, 50, 60}, Placed::Knob},
    {24, {124, 64, 20, 34}, Placed::Switch},  {25, {58, 308, 25, 27}, Placed::Switch},
    {26, {57, 244, 50, 60}, Placed::Knob},    {27, {110, 244, 50, 60}, Placed::Knob},
    {28, {173, 308, 25, 27}, Placed::Switch}, {29, {172, 257, 20, 34}, Placed::Switch},
    {30, {197, 244, 50, 60}, Placed::Knob},   {31, {320, 244, 50, 60}, Placed::Knob},
    {32, {250, 244, 50, 60}, Placed::Knob},   {33, {391, 244, 50, 60}, Placed::Knob},
    {34, {444, 244, 50, 60}, Placed::Knob},   {35, {794, 137, 20, 34}, Placed::Switch},
    {36, {770, 178, 22, 123}, Placed::Fader}, {37, {770, 45, 22, 128}, Placed::Fader},
};

/// What a control shows for a value: the knob's frame, the fader's handle row, the switch state.
int32_t shownState(const Placed& control, float v) {
    switch (control.kind) {
    case Placed::Knob:
        return static_cast<int32_t>(126.0 * v);
    case Placed::Fader:
        return static_cast<int32_t>(std::lround((control.rect.height - 47) * (1.0 - v)));
    default:
        return v > 0.5f ? 1 : 0;
    }
}

TEST_F(VstEditor, AProgramChangeFromTheHostRedrawsEveryControlThatChanged) {
    open();
    std::vector<float> before(pellucer::kReserved);
    for (int32_t i = 0; i < pellucer::kReserved; ++i)
        before[static_cast<size_t>(i)] = effect->get(i);
    const pellucer::gui::PixelBuffer fullReset = capture();
    effect->call(effSetProgram, 0, 7);
    ASSERT_EQ(effect->call(effGetProgram), 7);
    const pellucer::gui::PixelBuffer program = capture();
    int changed = 0;
    for (const Placed& control : kParameterControls) {
        const float now = effect->get(control.index);
        const bool differs =
            shownState(control, before[static_cast<size_t>(control.index)]) != shownState(control, now);
        changed += differs ? 1 : 0;
        const int32_t pixels = gt::changedPixels(fullReset, program, control.rect);
        if (differs)
            EXPECT_GT(pixels, 0) << "parameter " << control.index;
        else
            EXPECT_EQ(pixels, 0) << "parameter " << control.index;
    }
    EXPECT_GT(changed, 8); // the program is a real change
    // The same picture as an editor opened afresh on this program.
    effect->call(effEditClose);
    open();
    const pellucer::gui::PixelBuffer fresh = capture();
    for (const Placed& control : kParameterControls)
        EXPECT_TRUE(gt::samePixels(program, fresh, control.rect)) << "parameter " << control.index;
    EXPECT_TRUE(gt::samePixels(program, fresh, gt::kGraphA));
}

TEST_F(VstEditor, AutomationFromAnotherThreadWhileOpen) {
    open();
    std::atomic<bool> done{false};
    std::thread automation([&] {
        for (int round = 0; round < 300; ++round)
            for (int32_t i = 1; i < pellucer::kReserved; ++i)
                effect->set(i, static_cast<float>((round * 13 + i * 7) % 101) / 100.0f);
        done = true;
    });
    while (!done) {
        effect->call(effEditIdle);
        gt::pumpFor(3);
    }
    automation.join();
    const pellucer::gui::PixelBuffer automated = capture();
    // What it shows is what a fresh editor shows for the same values.
    effect->call(effEditClose);
    open();
    const pellucer::gui::PixelBuffer fresh = capture();
    for (const Placed& control : kParameterControls)
        EXPECT_TRUE(gt::samePixels(automated, fresh, control.rect)) << "parameter " << control.index;
}

TEST_F(VstEditor, FiveEditorsClosedInMixedOrder) {
    effect.reset();
    std::vector<std::unique_ptr<gt::HostWindow>> windows;
    std::vector<std::unique_ptr<Effect>> effects;
    for (int i = 0; i < 5; ++i) {
        windows.push_back(std::make_unique<gt::HostWindow>(gt::kEditorWidth, gt::kEditorHeight,
                                                           Point{20 + 30 * i, 20 + 60 * i}));
        effects.push_back(std::make_unique<Effect>());
        ASSERT_EQ(effects.back()->call(effEditOpen, 0, 0, windows.back()->handle()), 1) << i;
    }
    gt::settle();
    for (const auto& w : windows)
        EXPECT_NE(w->editor(), nullptr);
    // The third effect ends with its editor open; the first closes its editor, then ends; the
    // host window of the fifth goes before its effect; then the rest.
    HWND third = windows[2]->editor();
    effects[2].reset();
    EXPECT_FALSE(IsWindow(third));
    EXPECT_EQ(effects[0]->call(effEditClose), 0);
    effects[0].reset();
    windows[4]->destroy();
    effects[4]->call(effEditIdle);
    effects[4]->call(effEditClose);
    effects[4].reset();
    effects[3].reset();
    EXPECT_EQ(windows[3]->editor(), nullptr);
    // The last one still works, and a new one opens after all have gone.
    effects[1]->set(pellucer::kInputGain, 0.7f);
    effects[1]->call(effEditIdle);
    effects[1].reset();
    Effect again;
    gt::HostWindow window(gt::kEditorWidth, gt::kEditorHeight);
    EXPECT_EQ(again.call(effEditOpen, 0, 0, window.handle()), 1);
    EXPECT_NE(window.editor(), nullptr);
}

TEST_F(VstEditor, EndingTheEffectWithItsEditorOpenTakesTheWindowAndItsClass) {
    open();
    HWND editor = window();
    wchar_t className[128] = {};
    ASSERT_GT(GetClassNameW(editor, className, 128), 0);
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(editor, GWLP_HINSTANCE));
    WNDCLASSEXW description{};
    description.cbSize = sizeof description;
    ASSERT_NE(GetClassInfoExW(instance, className, &description), 0);
    effect->close();
    EXPECT_FALSE(IsWindow(editor));
    EXPECT_EQ(host.editor(), nullptr);
    EXPECT_EQ(GetClassInfoExW(instance, className, &description), 0);
}

/// A copy of the built module in a folder of its own, with the skin as given: a module loaded from
/// another path is another module, with its own skin tables.
class ModuleCopy {
public:
    /// Without `withSkin` no Resources folder; with it the module's skin without the file `missing`.
    ModuleCopy(bool withSkin, const std::string& missing) {
        const std::filesystem::path source = PELLUCER_VST_MODULE;
        std::filesystem::copy_file(source, folder_.file("Pellucer.dll"));
        if (withSkin) {
            const std::filesystem::path resources = folder_.file("Resources");
            std::filesystem::create_directories(resources);
            for (const auto& entry : std::filesystem::directory_iterator(source.parent_path() / "Resources"))
                if (entry.path().filename().string() != missing)
                    std::filesystem::copy_file(entry.path(), resources / entry.path().filename());
        }
        module_ = LoadLibraryW(folder_.file("Pellucer.dll").c_str());
    }
    ~ModuleCopy() {
        if (module_ != nullptr)
            FreeLibrary(module_);
    }
    EntryProc entry() const { return entryOf(module_); }

private:
    gt::TempFolder folder_;
    HMODULE module_ = nullptr;
};

TEST_F(VstEditor, WithoutItsSkinTheModuleHasNoEditorButWorks) {
    ModuleCopy copy(false, "");
    ASSERT_NE(copy.entry(), nullptr);
    {
        Effect bare(copy.entry());
        ASSERT_NE(bare.record(), nullptr);
        EXPECT_EQ(bare.record()->flags, 0x1018);
        ERect* rect = nullptr;
        EXPECT_EQ(bare.call(effEditGetRect, 0, 0, &rect), 0);
        EXPECT_EQ(bare.call(effEditOpen, 0, 0, host.handle()), 0);
        EXPECT_EQ(host.editor(), nullptr);
        const std::vector<float> out = bare.play(10, 0.5f);
        EXPECT_GT(*std::max_element(out.begin(), out.end()), 0.45f);
    }
}

TEST_F(VstEditor, AMissingControlImageLeavesNothingOpen) {
    ModuleCopy copy(true, "meter_level.bmp");
    ASSERT_NE(copy.entry(), nullptr);
    Effect damaged(copy.entry());
    ASSERT_NE(damaged.record(), nullptr);
    EXPECT_EQ(damaged.record()->flags, 0x1019); // the editor itself could be made
    {
        // The module tells the user with a message box of its own: answer it.
        gt::MessageBoxAnswerer answerer;
        EXPECT_EQ(damaged.call(effEditOpen, 0, 0, host.handle()), 0);
        EXPECT_EQ(answerer.answered(), 1);
    }
    EXPECT_EQ(host.editor(), nullptr);
    EXPECT_EQ(damaged.call(effEditIdle), 0);
    EXPECT_EQ(damaged.call(effEditClose), 0);
    const std::vector<float> out = damaged.play(10, 0.5f);
    EXPECT_GT(*std::max_element(out.begin(), out.end()), 0.45f);
}

} // namespace

#endif // _WIN32
