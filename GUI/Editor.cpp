#include "GUI/Editor.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <mutex>
#include <string>
#include <utility>

#include "GUI/ReadingLabel.h"
#include "GUI/ValueReadout.h"
#include "Shared/GUI/ChainOrderStrip.h"
#include "Shared/GUI/DrawContext.h"
#include "Shared/GUI/Fader.h"
#include "Shared/GUI/Font.h"
#include "Shared/GUI/GraphPanel.h"
#include "Shared/GUI/Knob.h"
#include "Shared/GUI/ReductionBar.h"
#include "Shared/GUI/SegmentMeter.h"
#include "core/SkinTable.h"
#include "Shared/GUI/Switch.h"
#include "Shared/GUI/TextLabel.h"
#include "Shared/GUI/Win32/DirectValueEntry.h"
#include "Shared/GUI/Win32/EditorFrame.h"
#include "Shared/GUI/Win32/SkinBitmap.h"
#include "core/ChannelStripEffect.h"
#include "core/ParameterTable.h"
#include "core/Settings.h"

namespace pellucer {

// ---- the shared skin resources ------------------------------------------------------------------

/// What every editor of the process draws with, loaded once while any editor lives.
struct SharedSkin {
    gui::PixelBuffer background;
    std::shared_ptr<const gui::SkinBitmap> about;
    std::shared_ptr<const gui::Font> fontA; ///< small figures: captions, readings, graph axes
    std::shared_ptr<const gui::Font> fontB; ///< the parameter name
    std::shared_ptr<const gui::Font> fontC; ///< the value readout
    std::shared_ptr<const gui::ImageStrip> knob;
    std::shared_ptr<const gui::ImageStrip> fader;
    std::shared_ptr<const gui::ImageStrip> brownFader;
};

namespace {

using gui::Rect;

constexpr int32_t kKnobFrames = 127;

// The two graph panels' places; the background must hold both.
constexpr Rect kGraphA{512, 105, 238, 130};
constexpr Rect kGraphB{552, 105, 148, 128};

/// The live editors and the resources they share. The first editor made while none lives loads
/// them; the last one to go releases them.
struct SkinRegistry {
    std::mutex mutex;
    int32_t editors = 0;
    std::shared_ptr<const SharedSkin> skin;
};

SkinRegistry& registry() {
    static SkinRegistry instance;
    return instance;
}

bool holds(const gui::PixelBuffer& image, const Rect& r) {
    return r.left >= 0 && r.top >= 0 && r.right() <= image.width() && r.bottom() <= image.height();
}

std::shared_ptr<const gui::ImageStrip> stripOf(std::string_view imageKey, std::string_view maskKey,
                                               int32_t frames) {
    const gui::MaskedImage image(imageKey, maskKey);
    auto strip = std::make_shared<gui::ImageStrip>(gui::imageStripFrom(image, frames));
    if (strip->empty())
        return nullptr;
    return strip;
}

std::shared_ptr<const gui::Font> fontOf(int32_t face, int32_t points, int32_t weightIndex) {
    gui::Font::Spec spec;
    spec.face = face;
    spec.points = points;
    spec.weightIndex = weightIndex;
    auto font = std::make_shared<gui::Font>(spec);
    // The GDI font is made now, so that a system that refuses it fails here and not at the
    // first paint.
    if (font->handle() == nullptr)
        return nullptr;
    return font;
}

std::shared_ptr<const SharedSkin> loadSharedSkin() {
    auto skin = std::make_shared<SharedSkin>();
    std::unique_ptr<gui::SkinBitmap> background = gui::bitmapFromSkin("IDB_BACKGROUND");
    if (background == nullptr || background->empty())
        return nullptr;
    skin->background = background->pixels();
    if (skin->background.empty() || !holds(skin->background, kGraphA) || !holds(skin->background, kGraphB))
        return nullptr;
    // Fonts: A "Lucida Console" 6 pt light, B "Arial" 8 pt medium, C "Lucida Console" 9 pt
    // semibold (weight indices 0, 2 and 3: 300, 500 and 600).
    skin->fontA = fontOf(gui::Font::kLucidaConsole, 6, 0);
    skin->fontB = fontOf(gui::Font::kArial, 8, 2);
    skin->fontC = fontOf(gui::Font::kLucidaConsole, 9, 3);
    skin->knob = stripOf("IDB_UNIKNOB", "IDB_UNIKNOBMASK", kKnobFrames);
    skin->fader = stripOf("IDB_FADER", "IDB_FADERMASK", 1);
    skin->brownFader = stripOf("IDB_FADER_BROWN", "IDB_FADER_BROWNMASK", 1);
    if (!skin->fontA || !skin->fontB || !skin->fontC || !skin->knob || !skin->fader || !skin->brownFader)
        return nullptr;
    // The About image is a nicety: without it the menu entry shows nothing.
    if (std::unique_ptr<gui::SkinBitmap> about = gui::bitmapFromSkin("IDB_ABOUT"); about && !about->empty())
        skin->about = std::shared_ptr<const gui::SkinBitmap>(std::move(about));
    return skin;
}

// ---- the table of controls ------------------------------------------------------------------

enum class Kind {
    GraphA,
    GraphB,
    Switch,
    Fader,
    BrownFader,
    Knob,
    Meter,
    Order,
    Tab,
    Readout,
    Name,
    Caption,
    Reading,
    Bar
};

/// The masked images of the controls, each with its frame count; a control names its image by
/// its place in this list.
struct MaskedImageEntry {
    const char* key;
    int32_t frames;
};
constexpr MaskedImageEntry kMaskedImages[] = {
    {"IDB_METER15", 16},   {"IDB_METER6", 7},     {"IDB_TUBE_METER", 32}, {"IDB_OUT_TUBE_METER", 32},
    {"IDB_POWER", 2},      {"IDB_DSR_ENABLE", 2}, {"IDB_COMP_ENABLE", 2}, {"IDB_EQ_ENABLE", 2},
    {"IDB_DBL_ENABLE", 2}, {"IDB_DLY_ENABLE", 2}, {"IDB_GEN_ENABLE", 2},  {"IDB_TUBE_ENABLE", 2},
    {"IDB_ORDER", 1},      {"IDB_TAB_COMP", 2},   {"IDB_TAB_EQ", 2},      {"IDB_TAB_DSR", 2},
    {"IDB_TAB_DBL", 2},    {"IDB_TAB_DLY", 2},
};
enum Image : int32_t {
    kImageMeter15,
    kImageMeter6,
    kImageTubeMeter,
    kImageOutTubeMeter,
    kImagePower,
    kImageDsrEnable,
    kImageCompEnable,
    kImageEqEnable,
    kImageDblEnable,
    kImageDlyEnable,
    kImageGenEnable,
    kImageTubeEnable,
    kImageOrder,
    kImageTabComp,
    kImageTabEq,
    kImageTabDsr,
    kImageTabDbl,
    kImageTabDly,
    kNoImage = -1
};
constexpr int32_t kMaskedImageCount = static_cast<int32_t>(std::size(kMaskedImages));
static_assert(kMaskedImageCount == kImageTabDly + 1);

// The order strip's icons, in icon order: compander, EQ, de-esser, doubler, delay (no masks).
constexpr const char* kIconKeys[5] = {"IDB_ICON_COMP", "IDB_ICON_EQ", "IDB_ICON_DSR", "IDB_ICON_DBL",
                                      "IDB_ICON_DLY"};

struct ControlEntry {
    int32_t id;
    Kind kind;
    Rect rect;
    int32_t image = kNoImage;
    double defaultValue = 0.0;
};

// In creation order: later controls paint over earlier ones where they meet.
constexpr ControlEntry kControls[] = {
    {editor_id::kGraph, Kind::GraphA, {512, 105, 238, 130}},
    {editor_id::kGraph, Kind::GraphB, {552, 105, 148, 128}},
    {kPlugInEnable, Kind::Switch, {775, 8, 37, 27}, kImagePower},
    {kInputGain, Kind::Fader, {25, 178, 22, 123}, kNoImage, 0.5},
    {kInputTubeEnable, Kind::Switch, {3, 137, 20, 34}, kImageTubeEnable},
    {kInputTubeSaturation, Kind::BrownFader, {25, 45, 22, 128}, kNoImage, 0.0},
    {kMeterInputTube, Kind::Meter, {-1, 40, 26, 32}, kImageTubeMeter},
    {kMeterInputLeft, Kind::Meter, {4, 177, 8, 120}, kImageMeter15},
    {kMeterInputRight, Kind::Meter, {12, 177, 8, 120}, kImageMeter15},
    {kCompanderEnable, Kind::Switch, {173, 6, 25, 27}, kImageCompEnable},
    {kCompressorThresh, Kind::Knob, {225, 52, 50, 60}, kNoImage, 0.5},
    {kCompressorRatio, Kind::Knob, {225, 118, 50, 60}, kNoImage, 0.2007},
    {kMeterCompressorGain, Kind::Meter, {257, 178, 8, 48}, kImageMeter6},
    {kExpanderThresh, Kind::Knob, {171, 52, 50, 60}, kNoImage, 0.5},
    {kExpanderRatio, Kind::Knob, {171, 118, 50, 60}, kNoImage, 0.2007},
    {kMeterExpanderGain, Kind::Meter, {178, 178, 8, 48}, kImageMeter6},
    {kCompanderAttack, Kind::Knob, {197, 177, 50, 60}, kNoImage, 0.3333},
    {kEqEnable, Kind::Switch, {288, 6, 25, 27}, kImageEqEnable},
    {kEqTubeSaturation, Kind::BrownFader, {299, 45, 22, 128}, kNoImage, 0.0},
    {kMeterEqTube, Kind::Meter, {297, 186, 26, 32}, kImageTubeMeter},
    {kEqTubeHighEnable, Kind::Switch, {459, 187, 20, 34}, kImageTubeEnable},
    {kEqHighFreq, Kind::Knob, {444, 52, 50, 60}, kNoImage, 0.6021},
    {kEqHighGain, Kind::Knob, {444, 118, 50, 60}, kNoImage, 0.5},
    {kEqTubeMidEnable, Kind::Switch, {406, 187, 20, 34}, kImageTubeEnable},
    {kEqMidFreq, Kind::Knob, {391, 52, 50, 60}, kNoImage, 0.5373},
    {kEqMidGain, Kind::Knob, {391, 118, 50, 60}, kNoImage, 0.5},
    {kEqTubeLowEnable, Kind::Switch, {353, 187, 20, 34}, kImageTubeEnable},
    {kEqLowFreq, Kind::Knob, {338, 52, 50, 60}, kNoImage, 0.4114},
    {kEqLowGain, Kind::Knob, {338, 118, 50, 60}, kNoImage, 0.5},
    {kDeEsserEnable, Kind::Switch, {58, 6, 25, 27}, kImageDsrEnable},
    {kDeEsserFreq, Kind::Knob, {57, 52, 50, 60}, kNoImage, 0.2},
    {kDeEsserDepth, Kind::Knob, {57, 118, 50, 60}, kNoImage, 0.4},
    {kDeEsserListen, Kind::Switch, {124, 64, 20, 34}, kImageGenEnable},
    {kMeterDeEsserGain, Kind::Meter, {78, 178, 8, 48}, kImageMeter6},
    {kDoublerEnable, Kind::Switch, {58, 308, 25, 27}, kImageDblEnable},
    {kDoublerPresence, Kind::Knob, {57, 244, 50, 60}, kNoImage, 0.5},
    {kDoublerStereo, Kind::Knob, {110, 244, 50, 60}, kNoImage, 0.5},
    {kDelayEnable, Kind::Switch, {173, 308, 25, 27}, kImageDlyEnable},
    {kDelaySyncEnable, Kind::Switch, {172, 257, 20, 34}, kImageGenEnable},
    {kDelayTime, Kind::Knob, {197, 244, 50, 60}, kNoImage, 0.2314},
    {kDelayLevel, Kind::Knob, {320, 244, 50, 60}, kNoImage, 0.3548},
    {kDelayFeedback, Kind::Knob, {250, 244, 50, 60}, kNoImage, 0.2778},
    {kDelayFilterMode, Kind::Knob, {391, 244, 50, 60}, kNoImage, 0.5},
    {kDelayFilterFreq, Kind::Knob, {444, 244, 50, 60}, kNoImage, 0.5984},
    {kOutputGain, Kind::Fader, {770, 178, 22, 123}, kNoImage, 0.5},
    {kOutputTubeEnable, Kind::Switch, {794, 137, 20, 34}, kImageTubeEnable},
    {kOutputTubeSaturation, Kind::BrownFader, {770, 45, 22, 128}, kNoImage, 0.0},
    {kMeterOutputTube, Kind::Meter, {792, 40, 26, 32}, kImageOutTubeMeter},
    {kMeterOutputLeft, Kind::Meter, {798, 177, 8, 120}, kImageMeter15},
    {kMeterOutputRight, Kind::Meter, {806, 177, 8, 120}, kImageMeter15},
    {kReserved, Kind::Order, {511, 244, 240, 57}, kImageOrder},
    {kSelectDeEsserPage, Kind::Tab, {506, 85, 50, 15}, kImageTabDsr},
    {kSelectCompanderPage, Kind::Tab, {556, 85, 53, 15}, kImageTabComp},
    {kSelectEqPage, Kind::Tab, {609, 85, 58, 15}, kImageTabEq},
    {kSelectDoublerPage, Kind::Tab, {667, 85, 50, 15}, kImageTabDbl},
    {kSelectDelayPage, Kind::Tab, {717, 85, 37, 15}, kImageTabDly},
    {editor_id::kReadout, Kind::Readout, {510, 55, 83, 17}},
    {editor_id::kName, Kind::Name, {593, 48, 157, 36}},
    {editor_id::kCaptionAttack, Kind::Caption, {517, 226, 40, 16}},
    {editor_id::kCaptionCompander, Kind::Caption, {704, 226, 60, 16}},
    {kMeterCompressorGain, Kind::Reading, {705, 108, 32, 18}},
    {kMeterCompressorGain, Kind::Bar, {735, 108, 9, 114}},
    {kMeterExpanderGain, Kind::Reading, {705, 177, 32, 18}},
    {kMeterExpanderGain, Kind::Bar, {708, 108, 9, 114}},
    {kMeterCompanderOvershoot, Kind::Reading, {705, 108, 32, 18}},
    {kMeterCompanderOvershoot, Kind::Bar, {520, 108, 9, 114}},
};

/// What the two captions say, and the readings' first text.
constexpr const char16_t* kAttackCaption = u"Atk";
constexpr const char16_t* kCompanderCaption = u"Exp  Comp";
constexpr const char16_t* kInitialReading = u"  0.0";
/// The part of a reading's rectangle (x 705..736) between the bars at x 708..716 and 735..743.
constexpr Rect kReadingTextArea{13, 0, 17, 18};

/// The page a tab (its id is its page's selector index, 62..66) shows.
int32_t pageOfTab(int32_t id) { return static_cast<int32_t>(pageSelectedBy(id)); }

/// The page that shows the stage of parameter `index`, -1 for the parameters outside the pages.
int32_t pageOfParameter(int32_t index) {
    return static_cast<int32_t>(index >= 0 && index < kNumParams ? kParameters[index].page
                                                                 : EditorPage::None);
}

/// The page a page-slot value stands for: the nearest to slot / kPageSlotStep.
int32_t pageOfSlot(float slot) {
    const double page = std::trunc(static_cast<double>(slot) / kPageSlotStep + 0.5);
    return static_cast<int32_t>(std::clamp(std::isnan(page) ? 0.0 : page, 0.0, Editor::kPages - 1.0));
}

/// The thresholds in dB, and back.
double thresholdDb(int32_t index, float v) { return kParameters[index].stage.toUnit(v); }
float thresholdValue(int32_t index, double db) { return normalisedFromStage(index, db); }

} // namespace

// ---- the editor's frame ---------------------------------------------------------------------------

/// The editor frame with the two things the editor needs to hear from its window: that it is
/// gone (a host may destroy its own window first), and the wake-up posted by other threads.
class StripFrame : public gui::EditorFrame {
public:
    StripFrame(gui::PixelBuffer background, Callback callback, std::function<void()> gone,
               std::function<void()> wake)
        : EditorFrame(std::move(background), std::move(callback)), gone_(std::move(gone)),
          wake_(std::move(wake)) {}

protected:
    void onDestroyed() override {
        if (gone_)
            gone_();
        EditorFrame::onDestroyed();
    }
    void onPrivateMessage(WPARAM, LPARAM) override {
        if (wake_)
            wake_();
    }

private:
    std::function<void()> gone_;
    std::function<void()> wake_;
};

// ---- construction ------------------------------------------------------------------------------

Editor::Editor(ChannelStripEffect& effect)
    : effect_(effect), controlEngine_(effect), notes_(lookUpDelayNoteNames()) {
    SkinRegistry& shared = registry();
    std::lock_guard<std::mutex> lock(shared.mutex);
    // Loaded by the first editor while none lives (or by the next one, when that load failed).
    if (shared.skin == nullptr)
        shared.skin = loadSharedSkin();
    if (shared.skin == nullptr)
        return;
    skin_ = shared.skin;
    ++shared.editors;
    rect_.top = 0;
    rect_.left = 0;
    rect_.bottom = static_cast<int16_t>(skin_->background.height());
    rect_.right = static_cast<int16_t>(skin_->background.width());
    constructedOk_ = true;
}

Editor::~Editor() {
    close();
    frame_.reset();
    if (skin_ == nullptr)
        return;
    skin_.reset();
    SkinRegistry& shared = registry();
    std::lock_guard<std::mutex> lock(shared.mutex);
    if (--shared.editors == 0)
        shared.skin.reset();
}

int32_t Editor::liveEditors() {
    SkinRegistry& shared = registry();
    std::lock_guard<std::mutex> lock(shared.mutex);
    return shared.editors;
}

bool Editor::sharedSkinLoaded() {
    SkinRegistry& shared = registry();
    std::lock_guard<std::mutex> lock(shared.mutex);
    return shared.skin != nullptr;
}

bool Editor::getRect(vst::ERect** rect) {
    if (rect == nullptr || !constructedOk_)
        return false;
    *rect = &rect_;
    return true;
}

gui::EditorFrame* Editor::frame() const { return open_.load() ? frame_.get() : nullptr; }

gui::Control* Editor::control(int32_t id, size_t which) const {
    if (!open_.load() || id < 0 || id > kLastEngineIndex || which >= byId_[static_cast<size_t>(id)].size())
        return nullptr;
    return byId_[static_cast<size_t>(id)][which];
}

// ---- open and close ------------------------------------------------------------------------------

bool Editor::open(void* parentWindow) {
    HWND parent = static_cast<HWND>(parentWindow);
    if (open_.load() || !constructedOk_ || parent == nullptr || IsWindow(parent) == FALSE)
        return false;
    // A frame whose window went with the host's is dropped now.
    forgetControls();
    frame_.reset();
    windowThread_.store(GetCurrentThreadId());

    auto frame = std::make_unique<StripFrame>(
        skin_->background, [this](const gui::ControlEventRecord& event) { controlEvent(event); },
        [this] { windowGone(); }, [this] { applyQueued(); });
    if (frame->open(parent, u"External VST Window") != S_OK)
        return false;
    frame->setHelpFile(folders().documentation + u"Pellucer.chm");
    frame->setHelpAction([this] { effect_.openHelp(); });
    frame->setAboutImage(skin_->about);
    frame->setEngine(&controlEngine_);

    // Every image of the controls, with its mask; one missing and the editor stays closed.
    std::vector<std::shared_ptr<const gui::ImageStrip>> strips;
    for (const MaskedImageEntry& entry : kMaskedImages) {
        const std::string key = entry.key;
        std::shared_ptr<const gui::ImageStrip> strip = stripOf(key, key + "_MASK", entry.frames);
        if (strip == nullptr)
            return false; // the frame and its window go with `frame`
        strips.push_back(std::move(strip));
    }
    std::array<std::shared_ptr<const gui::ImageStrip>, 5> icons;
    for (size_t i = 0; i < icons.size(); ++i) {
        const gui::MaskedImage icon(kIconKeys[i], "");
        if (icon.image() != nullptr && !icon.image()->empty())
            icons[i] = std::make_shared<gui::ImageStrip>(gui::imageStripFrom(icon, 1));
    }

    frame_ = std::move(frame);
    createControls(strips, icons);
    // The controls keep what they need of the images; the bitmaps went with the loop above.

    page_ = -1;
    lastTouched_ = -1;
    shownName_ = -1;
    compressorLinked_ = expanderLinked_ = false;
    for (auto& flag : queued_)
        flag.store(false);
    queuedRefresh_.store(false);
    wakePosted_.store(false);
    window_.store(frame_->handle());
    open_.store(true);
    pushAll();
    frame_->show(SW_SHOW);
    return true;
}

void Editor::createControls(const std::vector<std::shared_ptr<const gui::ImageStrip>>& strips,
                            const std::array<std::shared_ptr<const gui::ImageStrip>, 5>& icons) {
    auto imageOf = [&strips](int32_t image) {
        return image >= 0 && image < static_cast<int32_t>(strips.size()) ? strips[static_cast<size_t>(image)]
                                                                         : nullptr;
    };
    for (const ControlEntry& entry : kControls) {
        std::unique_ptr<gui::Control> made;
        const std::shared_ptr<const gui::ImageStrip> strip = imageOf(entry.image);
        switch (entry.kind) {
        case Kind::GraphA:
        case Kind::GraphB: {
            auto graph = std::make_unique<gui::GraphPanel>(
                entry.id, entry.rect,
                entry.kind == Kind::GraphB ? gui::GraphPanel::kCompander : gui::GraphPanel::kEq);
            graph->setFont(skin_->fontA);
            graph->setTakesMouse(false);
            (entry.kind == Kind::GraphA ? graphA_ : graphB_) = graph.get();
            made = std::move(graph);
            break;
        }
        case Kind::Switch:
        case Kind::Tab: {
            auto toggle = std::make_unique<gui::Switch>(entry.id, entry.rect, strip, 2);
            toggle->setContextClicksAllowed(true);
            if (entry.kind == Kind::Tab)
                tabs_[static_cast<size_t>(pageOfTab(entry.id))] = toggle.get();
            made = std::move(toggle);
            break;
        }
        case Kind::Fader:
        case Kind::BrownFader:
            made = std::make_unique<gui::Fader>(entry.id, entry.rect,
                                                entry.kind == Kind::Fader ? skin_->fader : skin_->brownFader,
                                                entry.defaultValue);
            break;
        case Kind::Knob:
            made = std::make_unique<gui::Knob>(entry.id, entry.rect, skin_->knob, entry.defaultValue);
            break;
        case Kind::Meter:
            made =
                std::make_unique<gui::SegmentMeter>(entry.id, entry.rect, strip, strip ? strip->frames : 1);
            break;
        case Kind::Order: {
            auto order = std::make_unique<gui::ChainOrderStrip>(entry.id, entry.rect, strip, icons);
            order_ = order.get();
            made = std::move(order);
            break;
        }
        case Kind::Readout: {
            auto readout = std::make_unique<ValueReadout>(entry.id, entry.rect, skin_->fontC, kReadoutColour,
                                                          gui::DrawContext::kAlignCentre);
            readout->setRange(kEntryMinimum, kEntryMaximum);
            readout->setEntryRequest([this] { beginDirectEntry(); });
            readout_ = readout.get();
            made = std::move(readout);
            break;
        }
        case Kind::Name: {
            auto name = std::make_unique<gui::TextLabel>(entry.id, entry.rect, skin_->fontB, kNameColour,
                                                         gui::DrawContext::kAlignCentre);
            name->setTakesMouse(false);
            name_ = name.get();
            made = std::move(name);
            break;
        }
        case Kind::Caption: {
            auto caption = std::make_unique<gui::TextLabel>(entry.id, entry.rect, skin_->fontA,
                                                            kCaptionColour, gui::DrawContext::kAlignLeft);
            caption->setTakesMouse(false);
            caption->setText(0, entry.id == editor_id::kCaptionAttack ? kAttackCaption : kCompanderCaption);
            companderPage_.push_back(caption.get());
            made = std::move(caption);
            break;
        }
        case Kind::Reading: {
            auto reading = std::make_unique<ReadingLabel>(entry.id, entry.rect, skin_->fontA, kReadingColour,
                                                          gui::DrawContext::kAlignRight, kInitialReading);
            // The third reading shares the first one's place and would cover it: its bar, beside
            // the attack caption, shows it instead.
            if (entry.id == kMeterCompanderOvershoot)
                reading->hide();
            else
                companderPage_.push_back(reading.get());
            // The figures stand in the gap between the expander's and the compressor's bars,
            // which the rectangle reaches across.
            reading->setTextArea(kReadingTextArea);
            made = std::move(reading);
            break;
        }
        case Kind::Bar: {
            auto bar = std::make_unique<gui::ReductionBar>(entry.id, entry.rect);
            companderPage_.push_back(bar.get());
            made = std::move(bar);
            break;
        }
        }
        // Meters and the labels are displays only.
        if (entry.kind == Kind::Meter || entry.kind == Kind::Name || entry.kind == Kind::Caption)
            made->setTakesMouse(false);
        gui::Control* added = frame_->addControl(std::move(made));
        if (entry.id >= 0 && entry.id <= kLastEngineIndex)
            byId_[static_cast<size_t>(entry.id)].push_back(added);
    }
}

void Editor::close() {
    if (!open_.load()) {
        forgetControls();
        frame_.reset();
        return;
    }
    open_.store(false);
    window_.store(nullptr);
    // A direct entry still open in this window is dropped, not applied.
    if (HWND box = gui::DirectValueEntry::box();
        box != nullptr && frame_ != nullptr && GetAncestor(box, GA_PARENT) == frame_->handle())
        gui::DirectValueEntry::cancel();
    Sleep(kCloseWaitMs);
    forgetControls();
    frame_.reset();
}

void Editor::windowGone() {
    open_.store(false);
    window_.store(nullptr);
    forgetControls();
}

void Editor::forgetControls() {
    for (auto& controls : byId_)
        controls.clear();
    graphA_ = graphB_ = nullptr;
    readout_ = nullptr;
    name_ = nullptr;
    order_ = nullptr;
    tabs_.fill(nullptr);
    companderPage_.clear();
    page_ = -1;
}

void Editor::idle() {
    if (!open_.load())
        return;
    applyQueued();
    if (updatePending_.exchange(false))
        update();
}

void Editor::update() {
    if (open_.load() && frame_ != nullptr)
        frame_->redrawAll();
}

// ---- control to engine ---------------------------------------------------------------------------

void Editor::controlEvent(const gui::ControlEventRecord& event) {
    if (!open_.load())
        return;
    const bool outer = inControlCallback_;
    inControlCallback_ = true;
    switch (event.eventCode) {
    case gui::event::kValueChanged:
        effect_.setParameterAutomated(event.id, static_cast<float>(event.value));
        if (event.id == editor_id::kReadout)
            applyEntry(event.value);
        break;
    case gui::event::kBeginEdit:
    case gui::event::kEndEdit:
        // The gesture codes travel in place of the index, the control's id as the value.
        effect_.setParameterAutomated(event.eventCode, static_cast<float>(event.id));
        break;
    default:
        break; // context clicks mean nothing here
    }
    inControlCallback_ = outer;
}

void Editor::applyEntry(double readoutValue) {
    const int32_t index = lastTouched_;
    if (index < 0 || index >= kReserved)
        return;
    const bool synced = effect_.getParameter(kDelaySyncEnable) > 0.0f;
    // A synced Delay Time is a note value, which no typed number of milliseconds can name.
    if (index == kDelayTime && synced)
        return;
    const double number = readoutValue * (kEntryMaximum - kEntryMinimum) + kEntryMinimum;
    effect_.setParameter(index, normalisedFromNumber(index, number, synced));
    // The control shows the new value as well as the readout.
    setControls(index, effect_.getParameter(index));
    refreshValueText(index);
}

void Editor::beginDirectEntry() {
    if (!open_.load() || readout_ == nullptr || frame_ == nullptr || lastTouched_ < 0)
        return;
    gui::DirectValueEntry::begin(
        *readout_, frame_->handle(), static_cast<HFONT>(skin_->fontC->handle()), kEntryMinimum, kEntryMaximum,
        readout_->number(), [this](double, float normalised) {
            // The box may answer after the editor closed.
            if (!open_.load() || readout_ == nullptr)
                return;
            readout_->setValue(normalised);
            controlEvent(gui::ControlEventRecord{
                readout_, readout_->value(), editor_id::kReadout, gui::event::kValueChanged, {}});
        });
}

// ---- engine to editor ---------------------------------------------------------------------------

bool Editor::onWindowThread() const { return GetCurrentThreadId() == windowThread_.load(); }

void Editor::parameterChanged(int32_t index, float value) {
    if (!open_.load())
        return;
    if (!onWindowThread()) {
        queue(index, value);
        return;
    }
    apply(index, value);
}

void Editor::refreshAll() {
    if (!open_.load())
        return;
    if (!onWindowThread()) {
        queuedRefresh_.store(true);
        wakeWindowThread();
        return;
    }
    pushAll();
    if (graphA_ != nullptr && graphB_ != nullptr) {
        graphA_->recompute();
        graphB_->recompute();
    }
    if (lastTouched_ >= 0)
        refreshValueText(lastTouched_);
}

void Editor::apply(int32_t index, float value) {
    if (!open_.load() || frame_ == nullptr || index < 0 || index > kLastEngineIndex)
        return;
    if (inControlCallback_)
        changedByControl(index, value);
    else
        changedByHost(index, value);
}

void Editor::changedByControl(int32_t index, float value) {
    if (index >= 0 && index < kReserved) {
        refreshTexts(index);
        lastTouched_ = index;
        if (const int32_t page = pageOfParameter(index); page >= 0)
            showPage(page);
        if (index == kPlugInEnable || pageOfParameter(index) >= 0)
            recomputeShownGraph();
    } else if (index == kPageSlotIndex) {
        showPage(pageOfSlot(value));
    } else if (pageSelectedBy(index) != EditorPage::None) {
        showPage(pageOfTab(index));
    }
}

void Editor::changedByHost(int32_t index, float value) {
    if (index >= 0 && index < kReserved) {
        // The engine's read-back: a switch shows what the stage does (a host's 0.5 is off).
        setControls(index, effect_.getParameter(index));
        if (!pushing_) {
            linkThresholds(index, value);
            if (index == kPlugInEnable || pageOfParameter(index) == page_)
                recomputeShownGraph();
            // The readout follows automation of the parameter it shows.
            if (index == lastTouched_ || (index == kDelaySyncEnable && lastTouched_ == kDelayTime))
                refreshValueText(lastTouched_);
        }
    } else if (index == kReserved) {
        if (order_ != nullptr)
            order_->setValue(value); // the order is read again at the next paint
    } else if (index == kPageSlotIndex) {
        showPage(pageOfSlot(value));
    } else if (pageSelectedBy(index) != EditorPage::None) {
        showPage(pageOfTab(index));
    }
}

void Editor::linkThresholds(int32_t index, float value) {
    // A program load applies its own pair of thresholds; linking half-way would overwrite them.
    if (effect_.loadingProgram())
        return;
    if (index == kCompressorThresh && !compressorLinked_) {
        const double compressor = thresholdDb(kCompressorThresh, value);
        if (thresholdDb(kExpanderThresh, effect_.getParameter(kExpanderThresh)) >
            compressor - kThresholdGapDb) {
            // The expander's own change must not push the compressor back.
            expanderLinked_ = true;
            effect_.setParameter(kExpanderThresh,
                                 thresholdValue(kExpanderThresh, compressor - kThresholdGapDb));
        }
        expanderLinked_ = false;
    } else if (index == kExpanderThresh && !expanderLinked_) {
        const double expander = thresholdDb(kExpanderThresh, value);
        if (thresholdDb(kCompressorThresh, effect_.getParameter(kCompressorThresh)) <
            expander + kThresholdGapDb) {
            compressorLinked_ = true;
            effect_.setParameter(kCompressorThresh,
                                 thresholdValue(kCompressorThresh, expander + kThresholdGapDb));
        }
        compressorLinked_ = false;
    }
}

void Editor::setControls(int32_t index, float value) {
    if (index < 0 || index > kLastEngineIndex)
        return;
    for (gui::Control* control : byId_[static_cast<size_t>(index)])
        control->setValue(value);
}

void Editor::pushAll() {
    const bool outer = pushing_;
    pushing_ = true;
    for (int32_t i = 0; i <= kReserved; ++i)
        changedByHost(i, effect_.getParameter(i));
    changedByHost(kPageSlotIndex, effect_.getParameter(kPageSlotIndex));
    pushing_ = outer;
}

// ---- pages ----------------------------------------------------------------------------------------

void Editor::showPage(int32_t page) {
    page = std::clamp(page, 0, kPages - 1);
    if (graphA_ == nullptr || graphB_ == nullptr || frame_ == nullptr)
        return;
    gui::Control* selected = tabs_[static_cast<size_t>(page)];
    if (page == page_) {
        // A click on the tab of the page on show turned it off: it stays on.
        if (selected != nullptr && selected->value() < 0.5)
            selected->setValue(1.0f);
        return;
    }
    page_ = page;
    for (gui::Control* tab : tabs_)
        if (tab != nullptr)
            tab->setValue(0.0f);
    const bool compander = page == kPageCompander;
    graphA_->setVisible(!compander);
    graphB_->setVisible(compander);
    for (gui::Control* control : companderPage_)
        control->setVisible(compander);
    if (compander)
        graphB_->recompute();
    else
        graphA_->setMode(page);
    if (selected != nullptr)
        selected->setValue(1.0f);
    // The engine keeps the page for the next opening. It is stored through the page's own
    // index (62..66), which the engine turns into its slot exactly; the slot's own index (61)
    // takes a page number, not the quarter steps it reads back. The engine's answer finds the
    // page already shown.
    effect_.setParameter(pageSelector(static_cast<EditorPage>(page)), 1.0f);
    frame_->redrawAll();
}

void Editor::recomputeShownGraph() {
    if (graphA_ == nullptr || graphB_ == nullptr)
        return;
    (page_ == kPageCompander ? graphB_ : graphA_)->recompute();
}

// ---- texts ----------------------------------------------------------------------------------------

bool Editor::textsSuppressed() const { return !open_.load() || effect_.loadingProgram(); }

void Editor::refreshTexts(int32_t index) {
    refreshValueText(index);
    refreshNameText(index);
}

void Editor::refreshValueText(int32_t index) {
    if (textsSuppressed() || readout_ == nullptr || index < 0 || index >= kReserved)
        return;
    const float v = effect_.getParameter(index);
    const bool synced = effect_.getParameter(kDelaySyncEnable) != 0.0f;
    readout_->setText(0, readoutText(index, v, synced, notes_));
    readout_->setNumber(readoutNumber(index, v, synced));
}

void Editor::refreshNameText(int32_t index) {
    if (textsSuppressed() || name_ == nullptr || index == shownName_)
        return;
    shownName_ = index;
    const char* key = tipKey(index);
    name_->setText(0, key != nullptr ? textResources().text(key) : std::u16string());
}

// ---- other threads --------------------------------------------------------------------------------

void Editor::queue(int32_t index, float value) {
    if (index < 0 || index > kLastEngineIndex)
        return;
    queuedValues_[static_cast<size_t>(index)].store(value, std::memory_order_relaxed);
    queued_[static_cast<size_t>(index)].store(true, std::memory_order_release);
    wakeWindowThread();
}

void Editor::wakeWindowThread() {
    if (wakePosted_.exchange(true))
        return;
    if (void* window = window_.load())
        if (PostMessageW(static_cast<HWND>(window), gui::NativeWindow::kPrivateMessage, 0, 0) == FALSE)
            wakePosted_.store(false); // the next change tries again; idle catches up meanwhile
}

void Editor::applyQueued() {
    wakePosted_.store(false);
    if (!open_.load())
        return;
    // After a program change every control reads the engine again, which covers the single
    // changes queued with it; applied one by one, they would also be linked as if the host had
    // moved the thresholds.
    const bool refresh = queuedRefresh_.exchange(false);
    for (int32_t i = 0; i <= kLastEngineIndex; ++i)
        if (queued_[static_cast<size_t>(i)].exchange(false, std::memory_order_acquire) && !refresh)
            apply(i, queuedValues_[static_cast<size_t>(i)].load(std::memory_order_relaxed));
    if (refresh)
        refreshAll();
}

} // namespace pellucer
