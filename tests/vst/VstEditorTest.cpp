// The editor of the built plug-in module as a VST host drives it, with real input on its window,
// the automation the host hears of, and pictures of the window against the skin's own images.

#ifdef _WIN32

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "Shared/GUI/BmpFile.h"
#include "core/Parameters.h"
#include "tests/gui/win32/EditorTestSupport.h"
#include "vst/VstAbi.h"

namespace {

using namespace vst;
using namespace pellucer;
namespace gt = gui::test;
using gui::PixelBuffer;
using gui::Point;
using gui::Rect;
using Call = gt::AutomationLog::Call;

using EntryProc = AEffect* (*)(audioMasterCallback);

EntryProc moduleEntry() {
    static const HMODULE module = LoadLibraryA(PELLUCER_VST_MODULE);
    return module != nullptr ? reinterpret_cast<EntryProc>(
                                   reinterpret_cast<void (*)()>(GetProcAddress(module, "VSTPluginMain")))
                             : nullptr;
}

/// Runs xdotool with `arguments`: input made at X level, as the user's mouse makes it. Wine starts
/// Unix programs but gives no handle to wait on, so success leaves a file behind (seen through
/// Z:); this thread's windows answer the input meanwhile. Answers whether it succeeded in 5 s.
bool xdotool(const std::wstring& arguments) {
    const std::wstring done = L"/tmp/pellucer-xdotool-" + std::to_wstring(GetCurrentProcessId());
    std::error_code ignored;
    std::filesystem::remove(L"Z:" + done, ignored);
    std::wstring command = L"/bin/sh -c \"/usr/bin/xdotool " + arguments + L" && touch " + done + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    const bool succeeded =
        gt::pumpUntil([&] { return std::filesystem::exists(L"Z:" + done, ignored); }, 5000);
    std::filesystem::remove(L"Z:" + done, ignored);
    gt::settle();
    return succeeded;
}

/// One effect of the module as a host holds it.
class Effect {
public:
    Effect() {
        if (EntryProc entry = moduleEntry())
            effect_ = entry(&gt::AutomationLog::callback);
        if (effect_ != nullptr) {
            log.attach(effect_);
            call(effSetSampleRate, 0, 0, nullptr, 44100.0f);
            call(effMainsChanged, 0, 1);
        }
    }
    /// The host ends the effect (effClose), whatever the editor is doing.
    ~Effect() { EXPECT_TRUE(effect_ == nullptr || call(effClose) == 1); }

    AEffect* record() const { return effect_; }
    VstIntPtr call(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                   float opt = 0.0f) {
        return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
    }
    float get(VstInt32 index) { return effect_->getParameter(effect_, index); }
    void set(VstInt32 index, float value) { effect_->setParameter(effect_, index, value); }
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

    void open() {
        ASSERT_EQ(effect->call(effEditOpen, 0, 0, host.handle()), 1);
        gt::pumpFor(150); // until the X server has mapped and painted the window
        ASSERT_NE(host.editor(), nullptr);
    }
    HWND window() const { return host.editor(); }
    POINT screen(Point p) const { return gt::screenPoint(window(), p.x, p.y); }
    /// A left-button drag from `from` by `dy` pixels (negative: upwards), in absolute steps of 4.
    void drag(Point from, int32_t dy) {
        gt::moveTo(screen(from));
        gt::leftDown();
        for (int32_t moved = 0; moved != dy;) {
            moved += std::clamp(dy - moved, -4, 4);
            gt::moveTo(screen({from.x, from.y + moved}));
        }
        gt::leftUp();
        gt::pumpFor(GetDoubleClickTime() + 50);
    }
    PixelBuffer capture() {
        effect->call(effEditIdle);
        gt::settle();
        return gt::captureWindow(window());
    }

    gt::WindowTestLock lock;
    gt::HostWindow host{gt::kEditorWidth, gt::kEditorHeight};
    std::unique_ptr<Effect> effect;
};

TEST_F(VstEditor, OpensClosesAndReopensIntoTheHostsWindowWithoutLeaking) {
    ERect* rect = nullptr;
    ASSERT_EQ(effect->call(effEditGetRect, 0, 0, &rect), 1);
    EXPECT_EQ(rect->right - rect->left, gt::kEditorWidth);
    EXPECT_EQ(rect->bottom - rect->top, gt::kEditorHeight);
    // Nothing open yet: idle and close answer 0 and do nothing; without a parent nothing opens.
    EXPECT_EQ(effect->call(effEditIdle), 0);
    EXPECT_EQ(effect->call(effEditClose), 0);
    EXPECT_EQ(effect->call(effEditOpen, 0, 0, nullptr), 0);
    int32_t objects = 0;
    for (int round = 0; round < 6; ++round) {
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
        // What the process keeps from a first opening is made by then; every later round gives
        // back every GDI object it took.
        if (round > 1) {
            EXPECT_EQ(gt::gdiObjects(), objects) << "round " << round;
        }
        objects = gt::gdiObjects();
    }
}

TEST_F(VstEditor, TheSkinsImagesAreDrawnWhereTheyBelong) {
    open();
    const PixelBuffer shown = capture();
    PixelBuffer background;
    ASSERT_TRUE(gui::readBmp(PELLUCER_SOURCE_DIR "/skin/background.bmp", background));
    ASSERT_EQ(background.width(), gt::kEditorWidth);
    EXPECT_EQ(gt::rgbAt(shown, 140, 190), gt::rgbAt(background, 140, 190));
    // Each control shows its frame of its image where its mask is full, the background where the
    // mask is empty: the power switch on, the compander switch off, the expander's threshold
    // knob at 0.5 (frame trunc(126 x 0.5) of 127).
    for (const auto& [name, rect, frame, frames] :
         {std::tuple{"power", gt::kPowerSwitch, 1, 2},
          std::tuple{"enable_compander", gt::kCompanderSwitch, 0, 2},
          std::tuple{"knob", gt::kExpanderThresholdKnob, 63, 127}}) {
        PixelBuffer image, mask;
        const std::string base = PELLUCER_SOURCE_DIR "/skin/" + std::string(name);
        ASSERT_TRUE(gui::readBmp(base + ".bmp", image) && gui::readBmp(base + "_mask.bmp", mask)) << base;
        const int32_t top = frame * image.height() / frames;
        int32_t full = 0, empty = 0;
        for (int32_t y = 0; y < rect.height; ++y)
            for (int32_t x = 0; x < rect.width; ++x) {
                const uint32_t m = gt::rgbAt(mask, x, top + y) >> 16;
                const uint32_t got = gt::rgbAt(shown, rect.left + x, rect.top + y);
                if (m == 255) {
                    ++full;
                    EXPECT_EQ(got, gt::rgbAt(image, x, top + y)) << name << " " << x << "," << y;
                } else if (m == 0) {
                    ++empty;
                    EXPECT_EQ(got, gt::rgbAt(background, rect.left + x, rect.top + y)) << name;
                }
            }
        EXPECT_GT(full, 50) << name;
        EXPECT_GT(empty, 0) << name;
    }
}

TEST_F(VstEditor, KnobAndFaderDragsAreAutomatedGesturesOfTheirParameters) {
    open();
    // The gesture's begin (2048) and end (2304) carry the control's id as the value.
    const auto expectGesture = [&](int32_t index, float last) {
        const auto& calls = effect->log.calls;
        ASSERT_GE(calls.size(), 3u);
        EXPECT_EQ(calls.front(), (Call{2048, static_cast<float>(index)}));
        EXPECT_EQ(calls.back(), (Call{2304, static_cast<float>(index)}));
        for (size_t i = 1; i + 1 < calls.size(); ++i)
            EXPECT_EQ(calls[i].index, index);
        EXPECT_NEAR(calls[calls.size() - 2].value, last, 1e-6);
    };
    // 90 pixels up at 1/200 a pixel, 0.5 -> 0.95, ending above the window: the editor keeps the
    // mouse until the button is released. The knob's page comes up with the touch.
    drag(gt::centreOf(gt::kExpanderThresholdKnob), -90);
    EXPECT_NEAR(effect->get(kExpanderThresh), 0.95f, 1e-6);
    expectGesture(kExpanderThresh, 0.95f);
    EXPECT_EQ(effect->get(kPageSlotIndex), 0.25f);
    // The fader in relative moves of 4 pixels (larger ones are accelerated): past 40 pixels it
    // puts the pointer back by 40, so that a long drag never runs out of screen.
    effect->log.calls.clear();
    const POINT start = screen(gt::centreOf(gt::kInputGainFader));
    gt::moveTo(start);
    gt::leftDown();
    for (int i = 0; i < 25; ++i)
        gt::sendInputs({gt::mouseInput(MOUSEEVENTF_MOVE, 0, -4)});
    POINT pointer{};
    GetCursorPos(&pointer);
    gt::leftUp();
    EXPECT_EQ(pointer.y, start.y - 20);                // pulled back at 44 and at 84 pixels up
    EXPECT_NEAR(effect->get(kInputGain), 0.87f, 1e-5); // 0.5 + trunc(100 x 0.75 / 2) x 0.01
    expectGesture(kInputGain, 0.87f);
    EXPECT_NEAR(effect->log.calls[1].value, 0.51f, 1e-6); // the first step, not the click
}

TEST_F(VstEditor, ClicksOnSwitchesAndTabsAndADragOnTheOrderStrip) {
    open();
    effect->log.calls.clear();
    gt::clickAt(screen(gt::centreOf(gt::kCompanderSwitch)));
    EXPECT_EQ(effect->get(kCompanderEnable), 1.0f);
    EXPECT_EQ(effect->log.calls, (std::vector<Call>{{2048, 4.0f}, {4, 1.0f}, {2304, 4.0f}}));
    EXPECT_EQ(effect->get(kPageSlotIndex), 0.25f);
    gt::clickAt(screen(gt::centreOf(gt::kCompanderSwitch)));
    EXPECT_EQ(effect->get(kCompanderEnable), 0.0f);

    // The delay tab: the page, the tabs' picture and the graph change.
    const PixelBuffer before = capture();
    gt::clickAt(screen(gt::centreOf(gt::kDelayTab)));
    EXPECT_EQ(effect->get(kPageSlotIndex), 1.0f);
    const PixelBuffer delayPage = capture();
    EXPECT_GT(gt::changedPixels(before, delayPage, gt::kTabs), 100);
    EXPECT_GT(gt::changedPixels(before, delayPage, gt::kGraphA), 100);

    // The compander (slot 1) dropped on the doubler's slot (3): inserted after it.
    ASSERT_EQ(effect->get(kReserved), 12345.0f);
    const Rect strip = gt::kOrderStrip;
    gt::moveTo(screen({strip.left + 75, strip.top + 28}));
    gt::leftDown();
    for (int32_t x = 75; x <= 175; x += 4)
        gt::moveTo(screen({strip.left + x, strip.top + 28}));
    gt::leftUp();
    EXPECT_EQ(effect->get(kReserved), 13425.0f);
    EXPECT_GT(gt::changedPixels(delayPage, capture(), strip), 1000);
}

TEST_F(VstEditor, ADoubleClickOnTheReadoutTakesATypedValueInItsUnit) {
    open();
    const PixelBuffer untouched = capture();
    drag(gt::centreOf(gt::kOutputGainFader), -8); // the readout and the name now show the output gain
    const PixelBuffer touched = capture();
    EXPECT_GT(gt::changedPixels(untouched, touched, gt::kReadout), 20);
    EXPECT_GT(gt::changedPixels(untouched, touched, gt::kNameLabel), 20);
    const POINT at = screen(gt::centreOf(gt::kReadout));
    const std::wstring doubleClick = L"mousemove " + std::to_wstring(at.x) + L" " + std::to_wstring(at.y) +
                                     L" click --repeat 2 --delay 120 1";
    const auto selection = [](HWND box) {
        DWORD start = 99, end = 99;
        SendMessageW(box, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
        return std::pair{start, end};
    };
    ASSERT_TRUE(xdotool(doubleClick));
    HWND box = FindWindowExW(window(), nullptr, L"Edit", nullptr);
    ASSERT_NE(box, nullptr);
    // The whole value is selected, so that the typed key replaces it.
    const DWORD length = static_cast<DWORD>(GetWindowTextLengthW(box));
    EXPECT_GT(length, 0u);
    EXPECT_EQ(selection(box), (std::pair<DWORD, DWORD>{0, length}));
    gt::tapKey('7');
    gt::tapKey(VK_RETURN);
    EXPECT_NEAR(effect->get(kOutputGain), 31.0 / 48.0, 1e-4); // +7 dB of -24..+24
    EXPECT_GT(gt::changedPixels(touched, capture(), gt::kReadout), 5);

    // Once the double click is over, a click into the box places the caret.
    ASSERT_TRUE(xdotool(doubleClick));
    box = FindWindowExW(window(), nullptr, L"Edit", nullptr);
    ASSERT_NE(box, nullptr);
    gt::pumpFor(GetDoubleClickTime());
    gt::clickAt(at);
    const auto [start, end] = selection(box);
    EXPECT_EQ(start, end);
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
        EXPECT_NE(windows.back()->editor(), nullptr) << i;
    }
    // The third effect ends with its editor open, which takes the window and its class; the first
    // closes its editor, then ends; the host window of the fifth goes before its effect.
    HWND third = windows[2]->editor();
    wchar_t className[128] = {};
    ASSERT_GT(GetClassNameW(third, className, 128), 0);
    const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(third, GWLP_HINSTANCE));
    WNDCLASSEXW description{};
    description.cbSize = sizeof description;
    ASSERT_NE(GetClassInfoExW(instance, className, &description), 0);
    effects[2].reset();
    EXPECT_FALSE(IsWindow(third));
    EXPECT_EQ(GetClassInfoExW(instance, className, &description), 0);
    EXPECT_EQ(effects[0]->call(effEditClose), 0);
    effects[0].reset();
    windows[4]->destroy();
    effects[4]->call(effEditIdle);
    effects[4]->call(effEditClose);
    effects[4].reset();
    effects[3].reset();
    EXPECT_EQ(windows[3]->editor(), nullptr);
    // The last one still follows its host.
    const PixelBuffer before = gt::captureWindow(windows[1]->editor());
    effects[1]->set(kInputGain, 0.9f);
    effects[1]->call(effEditIdle);
    gt::settle();
    EXPECT_GT(gt::changedPixels(before, gt::captureWindow(windows[1]->editor()), gt::kInputGainFader), 100);
}

} // namespace

#endif // _WIN32
