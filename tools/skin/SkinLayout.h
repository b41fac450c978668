#pragma once

// Where the editor puts its controls (pixels of the 824 x 340 editor, left, top, width, height),
// the sizes of the skin's images, and the sections of the panel. The background is drawn around
// these places, and the gallery composites sample frames onto them, so both read one table.

#include <cstdint>
#include <span>

namespace pellucer::skin {

inline constexpr int kEditorWidth = 824;
inline constexpr int kEditorHeight = 340;
inline constexpr int kAboutWidth = 420;
inline constexpr int kAboutHeight = 260;

/// Frame sizes and counts of the strips.
inline constexpr int kKnobWidth = 50, kKnobHeight = 60, kKnobFrames = 127;
inline constexpr int kFaderCapWidth = 22, kFaderCapHeight = 46;
inline constexpr int kMeter15Width = 8, kMeter15Height = 120, kMeter15Frames = 16;
inline constexpr int kMeter6Width = 8, kMeter6Height = 48, kMeter6Frames = 7;
inline constexpr int kTubeWidth = 26, kTubeHeight = 32, kTubeFrames = 32;
inline constexpr int kOrderWidth = 240, kOrderHeight = 57;
inline constexpr int kOrderSlotPitch = 50, kOrderSlotWidth = 40;
inline constexpr int kIconWidth = 40, kIconHeight = 47, kIconTop = 5;
/// The knob's disc is centred this far down its frame; the label goes under it.
inline constexpr double kKnobCentreY = 24.0;

enum class Kind {
    Knob,
    Fader,      ///< gain fader, grey cap
    BrownFader, ///< saturation fader, copper cap
    Switch,     ///< two-frame switch or tab; `key` names its strip
    Meter,      ///< segment meter or tube glow; `key` names its strip
    OrderStrip,
    Graph,
    Window, ///< a text label's place (readout, name, captions, readings)
};

/// One control of the editor as the skin sees it.
struct Place {
    Kind kind;
    int x, y, w, h;
    const char* key;   ///< the strip's image key (switches and meters), or null
    const char* label; ///< the engraved word under or over it, or null
};

/// The editor's controls in its creation order.
inline constexpr Place kPlaces[] = {
    {Kind::Graph, 512, 105, 238, 130, nullptr, nullptr},
    {Kind::Graph, 552, 105, 148, 128, nullptr, nullptr},
    {Kind::Switch, 775, 8, 37, 27, "IDB_POWER", nullptr},
    {Kind::Fader, 25, 178, 22, 123, nullptr, "GAIN"},
    {Kind::Switch, 3, 137, 20, 34, "IDB_TUBE_ENABLE", "TUBE"},
    {Kind::BrownFader, 25, 45, 22, 128, nullptr, "SAT"},
    {Kind::Meter, -1, 40, 26, 32, "IDB_TUBE_METER", nullptr},
    {Kind::Meter, 4, 177, 8, 120, "IDB_METER15", "L"},
    {Kind::Meter, 12, 177, 8, 120, "IDB_METER15", "R"},
    {Kind::Switch, 173, 6, 25, 27, "IDB_COMP_ENABLE", nullptr},
    {Kind::Knob, 225, 52, 50, 60, nullptr, "THRESH"},
    {Kind::Knob, 225, 118, 50, 60, nullptr, "RATIO"},
    {Kind::Meter, 257, 178, 8, 48, "IDB_METER6", "GR"},
    {Kind::Knob, 171, 52, 50, 60, nullptr, "THRESH"},
    {Kind::Knob, 171, 118, 50, 60, nullptr, "RATIO"},
    {Kind::Meter, 178, 178, 8, 48, "IDB_METER6", "GR"},
    {Kind::Knob, 197, 177, 50, 60, nullptr, "ATTACK"},
    {Kind::Switch, 288, 6, 25, 27, "IDB_EQ_ENABLE", nullptr},
    {Kind::BrownFader, 299, 45, 22, 128, nullptr, "SAT"},
    {Kind::Meter, 297, 186, 26, 32, "IDB_TUBE_METER", nullptr},
    {Kind::Switch, 459, 187, 20, 34, "IDB_TUBE_ENABLE", "TUBE"},
    {Kind::Knob, 444, 52, 50, 60, nullptr, "FREQ"},
    {Kind::Knob, 444, 118, 50, 60, nullptr, "GAIN"},
    {Kind::Switch, 406, 187, 20, 34, "IDB_TUBE_ENABLE", "TUBE"},
    {Kind::Knob, 391, 52, 50, 60, nullptr, "FREQ"},
    {Kind::Knob, 391, 118, 50, 60, nullptr, "GAIN"},
    {Kind::Switch, 353, 187, 20, 34, "IDB_TUBE_ENABLE", "TUBE"},
    {Kind::Knob, 338, 52, 50, 60, nullptr, "FREQ"},
    {Kind::Knob, 338, 118, 50, 60, nullptr, "GAIN"},
    {Kind::Switch, 58, 6, 25, 27, "IDB_DSR_ENABLE", nullptr},
    {Kind::Knob, 57, 52, 50, 60, nullptr, "FREQ"},
    {Kind::Knob, 57, 118, 50, 60, nullptr, "DEPTH"},
    {Kind::Switch, 124, 64, 20, 34, "IDB_GEN_ENABLE", "LISTEN"},
    {Kind::Meter, 78, 178, 8, 48, "IDB_METER6", "GR"},
    {Kind::Switch, 58, 308, 25, 27, "IDB_DBL_ENABLE", nullptr},
    {Kind::Knob, 57, 244, 50, 60, nullptr, "PRESENCE"},
    {Kind::Knob, 110, 244, 50, 60, nullptr, "STEREO"},
    {Kind::Switch, 173, 308, 25, 27, "IDB_DLY_ENABLE", nullptr},
    {Kind::Switch, 172, 257, 20, 34, "IDB_GEN_ENABLE", "SYNC"},
    {Kind::Knob, 197, 244, 50, 60, nullptr, "TIME"},
    {Kind::Knob, 320, 244, 50, 60, nullptr, "LEVEL"},
    {Kind::Knob, 250, 244, 50, 60, nullptr, "FEEDBACK"},
    {Kind::Knob, 391, 244, 50, 60, nullptr, "MODE"},
    {Kind::Knob, 444, 244, 50, 60, nullptr, "FREQ"},
    {Kind::Fader, 770, 178, 22, 123, nullptr, "GAIN"},
    {Kind::Switch, 794, 137, 20, 34, "IDB_TUBE_ENABLE", "TUBE"},
    {Kind::BrownFader, 770, 45, 22, 128, nullptr, "SAT"},
    {Kind::Meter, 792, 40, 26, 32, "IDB_OUT_TUBE_METER", nullptr},
    {Kind::Meter, 798, 177, 8, 120, "IDB_METER15", "L"},
    {Kind::Meter, 806, 177, 8, 120, "IDB_METER15", "R"},
    {Kind::OrderStrip, 511, 244, 240, 57, "IDB_ORDER", nullptr},
    {Kind::Switch, 506, 85, 50, 15, "IDB_TAB_DSR", nullptr},
    {Kind::Switch, 556, 85, 53, 15, "IDB_TAB_COMP", nullptr},
    {Kind::Switch, 609, 85, 58, 15, "IDB_TAB_EQ", nullptr},
    {Kind::Switch, 667, 85, 50, 15, "IDB_TAB_DBL", nullptr},
    {Kind::Switch, 717, 85, 37, 15, "IDB_TAB_DLY", nullptr},
    {Kind::Window, 510, 55, 83, 17, nullptr, nullptr},  // value readout
    {Kind::Window, 593, 48, 157, 36, nullptr, nullptr}, // parameter name
};

inline std::span<const Place> places() { return kPlaces; }

/// The five order icons in the order strip's own order of images.
inline constexpr const char* kIconKeys[] = {"IDB_ICON_COMP", "IDB_ICON_EQ", "IDB_ICON_DSR", "IDB_ICON_DBL",
                                            "IDB_ICON_DLY"};

} // namespace pellucer::skin
