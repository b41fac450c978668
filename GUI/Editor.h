#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "GUI/StripControlEngine.h"
#include "GUI/ValueText.h"
#include "Shared/GUI/Geometry.h"
#include "core/EffectEditor.h"
#include "core/Parameters.h"

namespace pellucer {

class ChannelStripEffect;
class ReadingLabel;
class ValueReadout;
class StripFrame;
struct SharedSkin;

namespace gui {
class Control;
class ChainOrderStrip;
class EditorFrame;
class GraphPanel;
class TextLabel;
struct ImageStrip;
struct ControlEventRecord;
} // namespace gui

/// Ids of the editor's own displays (parameter controls use the parameter index).
namespace editor_id {
inline constexpr int32_t kGraph = 41;
inline constexpr int32_t kReadout = 57;
inline constexpr int32_t kName = 58;
inline constexpr int32_t kCaptionAttack = 59;
inline constexpr int32_t kCaptionCompander = 60;
/// The page tabs: each tab's id is the engine index that selects its page (62..66).
inline constexpr int32_t kFirstTab = kFirstPageSelect;
inline constexpr int32_t kLastTab = kLastPageSelect;
} // namespace editor_id

/// The channel strip's editor: one fixed-size panel in the host's window, the size of the skin's
/// background, with every control at its place and five pages (de-esser, compander, EQ,
/// doubler, delay) sharing the display area under the tabs.
///
/// Controls report to the editor, which hands each change to the engine as an automated
/// parameter (and gestures as the codes 2048 and 2304). The engine reports every change back;
/// a change that a control made moves the page and the two text displays, one that came from
/// the host moves the control. The compressor and expander thresholds keep 6 dB apart when the
/// host moves either.
///
/// Threads: everything runs on the thread that opened the editor (the host's window thread),
/// except `parameterChanged` and `refreshAll`, which may come from any thread: from another
/// thread they are queued and applied on the window thread (a posted message, or the next idle).
class Editor : public EffectEditor {
public:
    static constexpr int32_t kPages = kPageCount;
    static constexpr int32_t kPageDeEsser = static_cast<int32_t>(EditorPage::DeEsser);
    static constexpr int32_t kPageCompander = static_cast<int32_t>(EditorPage::Compander);
    static constexpr int32_t kPageEq = static_cast<int32_t>(EditorPage::Equaliser);
    static constexpr int32_t kPageDoubler = static_cast<int32_t>(EditorPage::Doubler);
    static constexpr int32_t kPageDelay = static_cast<int32_t>(EditorPage::Delay);
    /// How long close waits before the window goes, so that a block publishing meters for the
    /// open editor has finished.
    static constexpr uint32_t kCloseWaitMs = 50;
    /// The two thresholds are kept this far apart when the host moves one of them.
    static constexpr double kThresholdGapDb = 6.0;

    /// Text colours on the skin's dark display windows.
    static constexpr gui::Colour kReadoutColour{191, 218, 243};
    static constexpr gui::Colour kNameColour{232, 236, 241};
    static constexpr gui::Colour kCaptionColour{150, 160, 172};
    static constexpr gui::Colour kReadingColour{230, 196, 77};

    /// Loads the shared skin resources if this is the only editor; without them the editor is
    /// not usable (constructedOk() false) and the factory makes none.
    explicit Editor(ChannelStripEffect& effect);
    ~Editor() override;
    Editor(const Editor&) = delete;
    Editor& operator=(const Editor&) = delete;

    /// True when the shared skin resources were obtained.
    bool constructedOk() const { return constructedOk_; }
    ChannelStripEffect& effect() { return effect_; }

    // -- EffectEditor ---------------------------------------------------------------------------

    /// The background's size at (0, 0).
    bool getRect(vst::ERect** rect) override;
    /// Opens into `parentWindow` (an HWND): refused while open, without the skin, for a null
    /// parent, or when one of the controls' images is missing (nothing is left open then).
    bool open(void* parentWindow) override;
    /// Waits kCloseWaitMs, then destroys the window and its controls.
    void close() override;
    bool isOpen() const override { return open_.load(); }
    /// Applies queued changes; runs a posted update.
    void idle() override;
    /// Engine to editor: parameter `index` (0..66, and the display ids) now has `value`.
    void parameterChanged(int32_t index, float value) override;
    /// After a program change: every control gets its value and every curve is computed again.
    void refreshAll() override;

    /// Marks a redraw of the whole frame for the next idle.
    void postUpdate() { updatePending_.store(true); }
    /// Redraws the whole frame now (when open).
    void update();

    // -- state (for tests and shells) ------------------------------------------------------------

    /// The page on show (0..4), -1 while closed.
    int32_t page() const { return page_; }
    /// The last parameter a control touched, -1 for none since the editor opened.
    int32_t lastTouched() const { return lastTouched_; }
    /// The frame while open.
    gui::EditorFrame* frame() const;
    /// The `which`-th control with id `id`, in creation order (41: graph A, graph B; 45 and 46:
    /// meter, reading, bar; 47: reading, bar); null when there is none or the editor is closed.
    gui::Control* control(int32_t id, size_t which = 0) const;

    /// Live editors in the process, and whether their shared skin resources are loaded.
    static int32_t liveEditors();
    static bool sharedSkinLoaded();

private:
    /// One control event, as the frame reports it.
    void controlEvent(const gui::ControlEventRecord& event);
    /// The readout was given a number: sets the last touched parameter from it.
    void applyEntry(double readoutValue);
    void beginDirectEntry();

    /// Engine to editor on the window thread.
    void apply(int32_t index, float value);
    void changedByControl(int32_t index, float value);
    void changedByHost(int32_t index, float value);
    void linkThresholds(int32_t index, float value);
    /// Puts `value` into every control bound to `index`.
    void setControls(int32_t index, float value);
    /// Every parameter and the page slot into the controls, without linking anything.
    void pushAll();

    void showPage(int32_t page);
    void recomputeShownGraph();
    void refreshTexts(int32_t index);
    void refreshValueText(int32_t index);
    void refreshNameText(int32_t index);
    bool textsSuppressed() const;

    /// From another thread: remember the change and wake the window thread.
    void queue(int32_t index, float value);
    void wakeWindowThread();
    void applyQueued();
    bool onWindowThread() const;

    void createControls(const std::vector<std::shared_ptr<const gui::ImageStrip>>& strips,
                        const std::array<std::shared_ptr<const gui::ImageStrip>, 5>& icons);
    /// The window went (its parent was destroyed, or close): forget the controls.
    void windowGone();
    void forgetControls();

    ChannelStripEffect& effect_;
    StripControlEngine controlEngine_;
    DelayNoteNames notes_;
    std::shared_ptr<const SharedSkin> skin_;
    vst::ERect rect_{};
    bool constructedOk_ = false;

    std::unique_ptr<StripFrame> frame_;
    std::atomic<bool> open_{false};
    std::atomic<void*> window_{nullptr};    ///< the frame's HWND while open, for other threads
    std::atomic<uint32_t> windowThread_{0}; ///< id of the thread that opened the editor
    std::atomic<bool> updatePending_{false};

    bool inControlCallback_ = false;
    bool pushing_ = false;          ///< values are being pushed into the controls (open, refresh)
    bool compressorLinked_ = false; ///< the compressor threshold is being moved by the link
    bool expanderLinked_ = false;   ///< the expander threshold is being moved by the link
    int32_t lastTouched_ = -1;
    int32_t shownName_ = -1;
    int32_t page_ = -1;

    // Controls while open (owned by the frame).
    std::array<std::vector<gui::Control*>, kLastEngineIndex + 1> byId_{};
    gui::GraphPanel* graphA_ = nullptr;
    gui::GraphPanel* graphB_ = nullptr;
    ValueReadout* readout_ = nullptr;
    gui::TextLabel* name_ = nullptr;
    gui::ChainOrderStrip* order_ = nullptr;
    std::array<gui::Control*, kPages> tabs_{};
    std::vector<gui::Control*> companderPage_; ///< shown with page 1 only (besides graph B)

    // Changes announced from other threads, applied on the window thread.
    std::array<std::atomic<float>, kLastEngineIndex + 1> queuedValues_{};
    std::array<std::atomic<bool>, kLastEngineIndex + 1> queued_{};
    std::atomic<bool> queuedRefresh_{false};
    std::atomic<bool> wakePosted_{false};
};

} // namespace pellucer
