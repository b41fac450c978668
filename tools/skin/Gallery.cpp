// pellucer-gallery SKIN_DIR OUTPUT.png: one picture of the whole skin as the editor would
// composite it - the editor with controls at their places, the About image, and every strip as
// a row of sample frames over the background it sits on. Reads the skin as the editor does:
// the graphics table names the files, masks decide what covers the background.

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "Shared/GUI/BmpFile.h"
#include "Shared/GUI/PixelBuffer.h"
#include "core/SkinTable.h"
#include "tools/skin/SkinArt.h"
#include "tools/skin/SkinCanvas.h"
#include "tools/skin/SkinLayout.h"

namespace pellucer::skin {

namespace {

using gui::ImageStrip;
using gui::PixelBuffer;

constexpr int kMargin = 24;
constexpr int kLabelColumn = 200;
constexpr int kZoom = 2;
constexpr int kFrameGap = 8;
constexpr int kRowGap = 18;
constexpr int kFullWeight = 255;

/// The skin as read from its folder: every strip by its image key.
class LoadedSkin {
public:
    bool load(const std::filesystem::path& folder) {
        folder_ = folder;
        if (table_.load(folder / "GraphicsResources.tsres") != SkinTable::kSuccess) {
            std::fprintf(stderr, "pellucer-gallery: cannot read %s\n",
                         (folder / "GraphicsResources.tsres").string().c_str());
            return false;
        }
        return true;
    }

    /// The image of `key` alone (no mask); empty when missing.
    PixelBuffer image(const std::string& key) const {
        PixelBuffer out;
        const std::u16string* name = table_.find(key);
        if (name == nullptr || !gui::readBmp(folder_ / narrow(*name), out))
            std::fprintf(stderr, "pellucer-gallery: no image for %s\n", key.c_str());
        return out;
    }

    /// The strip of `key` with its mask (`maskKey`) and frame count.
    ImageStrip strip(const std::string& key, const std::string& maskKey, int frames) const {
        ImageStrip strip;
        strip.image = image(key);
        strip.mask = image(maskKey);
        strip.frames = frames;
        return strip;
    }

private:
    static std::string narrow(const std::u16string& text) {
        std::string out;
        for (const char16_t unit : text)
            out.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
        return out;
    }

    std::filesystem::path folder_;
    SkinTable table_;
};

/// The mask key of an image key: the knob and fader strips have no underscore before MASK.
std::string maskKeyOf(const std::string& key) {
    if (key == "IDB_UNIKNOB" || key == "IDB_FADER" || key == "IDB_FADER_BROWN")
        return key + "MASK";
    return key + "_MASK";
}

int framesOf(const std::string& key) {
    if (key == "IDB_UNIKNOB")
        return kKnobFrames;
    if (key == "IDB_METER15")
        return kMeter15Frames;
    if (key == "IDB_METER6")
        return kMeter6Frames;
    if (key == "IDB_TUBE_METER" || key == "IDB_OUT_TUBE_METER")
        return kTubeFrames;
    if (key == "IDB_ORDER" || key.rfind("IDB_FADER", 0) == 0)
        return 1;
    return 2;
}

/// Composites frame `frame` of `strip` onto `target` at (x, y), as a control does over its
/// background snapshot.
void compositeAt(PixelBuffer& target, const ImageStrip& strip, int frame, int x, int y) {
    const int w = strip.width(), h = strip.frameHeight();
    PixelBuffer under(w, h), work;
    gui::copyPixels(target, x, y, w, h, under, 0, 0);
    gui::compositeFrame(under, strip, frame, kFullWeight, work);
    // Copy back only what lies inside the target (a control may hang over the edge).
    gui::copyPixels(work, 0, 0, w, h, target, x, y);
}

/// The editor with every control at its place, in a plausible state.
PixelBuffer composeEditor(const LoadedSkin& skin, std::map<std::string, ImageStrip>& strips) {
    PixelBuffer editor = skin.image("IDB_BACKGROUND");
    if (editor.empty())
        return editor;
    int knobIndex = 0;
    for (const Place& p : places()) {
        switch (p.kind) {
        case Kind::Knob: {
            // A spread of values, the same in every run.
            const double value = std::fmod(0.18 + 0.37 * knobIndex++, 1.0);
            const ImageStrip& knob = strips.at("IDB_UNIKNOB");
            compositeAt(editor, knob, static_cast<int>((knob.frames - 1) * value), p.x, p.y);
            break;
        }
        case Kind::Fader:
        case Kind::BrownFader: {
            const ImageStrip& cap = strips.at(p.kind == Kind::Fader ? "IDB_FADER" : "IDB_FADER_BROWN");
            const double value = p.kind == Kind::Fader ? 0.5 : 0.35;
            const int travel = p.h - cap.frameHeight() - 1;
            compositeAt(editor, cap, 0, p.x, p.y + static_cast<int>(std::lround(travel * (1.0 - value))));
            break;
        }
        case Kind::Switch: {
            const std::string key = p.key;
            // The EQ page is shown; every switch but the de-esser's and the delay sync is on.
            int frame = 1;
            if (key.rfind("IDB_TAB_", 0) == 0)
                frame = key == "IDB_TAB_EQ" ? 1 : 0;
            else if (key == "IDB_DSR_ENABLE" || (key == "IDB_GEN_ENABLE" && p.y > 200) ||
                     (key == "IDB_TUBE_ENABLE" && p.x == 406))
                frame = 0;
            compositeAt(editor, strips.at(key), frame, p.x, p.y);
            break;
        }
        case Kind::Meter: {
            const ImageStrip& meter = strips.at(p.key);
            int frame = meter.frames * 2 / 3;
            if (meter.frames == kMeter15Frames)
                frame = p.x < 400 ? 11 + (p.x % 8 == 4 ? 1 : 0) : 10 + (p.x % 8 == 6 ? 1 : 0);
            else if (meter.frames == kMeter6Frames)
                frame = p.x == 78 ? 0 : (p.x == 178 ? 1 : 3);
            compositeAt(editor, meter, frame, p.x, p.y);
            break;
        }
        case Kind::OrderStrip: {
            compositeAt(editor, strips.at("IDB_ORDER"), 0, p.x, p.y);
            // The default order: de-esser, compander, EQ, doubler, delay.
            const int order[] = {2, 0, 1, 3, 4};
            for (int slot = 0; slot < 5; ++slot) {
                const PixelBuffer& icon = strips.at(kIconKeys[order[slot]]).image;
                gui::copyPixels(icon, 0, 0, icon.width(), icon.height(), editor, p.x + slot * kOrderSlotPitch,
                                p.y + kIconTop);
            }
            break;
        }
        default:
            break;
        }
    }
    return editor;
}

/// Paints `image` onto the canvas at (x, y), scaled by `zoom` with square pixels.
void paint(const Canvas& c, const PixelBuffer& image, double x, double y, int zoom) {
    if (image.empty())
        return;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, image.width(), image.height());
    cairo_surface_flush(s);
    uint8_t* data = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    for (int row = 0; row < image.height(); ++row) {
        auto* out = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(row) * stride);
        for (int col = 0; col < image.width(); ++col)
            out[col] = 0xFF000000u | (image.argb(col, row) & 0x00FFFFFFu);
    }
    cairo_surface_mark_dirty(s);
    cairo_t* cr = c.cr();
    cairo_save(cr);
    cairo_translate(cr, x, y);
    cairo_scale(cr, zoom, zoom);
    cairo_set_source_surface(cr, s, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_paint(cr);
    cairo_restore(cr);
    cairo_surface_destroy(s);
}

/// A row of the gallery: one strip, the frames to show, and the background patch under them.
struct Row {
    std::string key;
    std::vector<int> frames;
    PixelBuffer patch;     ///< background under one frame (or under the whole fader)
    int handleTravel = -1; ///< faders: show the handle at these values along the travel
    std::string note;
};

PixelBuffer patchAt(const PixelBuffer& background, int x, int y, int w, int h) {
    PixelBuffer patch(w, h);
    gui::copyPixels(background, x, y, w, h, patch, 0, 0);
    return patch;
}

const Place* firstPlace(Kind kind, const char* key) {
    for (const Place& p : places())
        if (p.kind == kind && (key == nullptr || (p.key != nullptr && std::string(p.key) == key)))
            return &p;
    return nullptr;
}

std::vector<Row> rows(const PixelBuffer& background) {
    std::vector<Row> out;
    auto add = [&](const std::string& key, std::vector<int> frames, const Place* p, std::string note) {
        Row row{key, std::move(frames), {}, -1, std::move(note)};
        if (p != nullptr)
            row.patch = patchAt(background, p->x, p->y, p->w, p->h);
        out.push_back(std::move(row));
    };
    add("IDB_UNIKNOB", {0, 15, 31, 47, 63, 79, 95, 111, 126}, firstPlace(Kind::Knob, nullptr),
        "127 frames, 50 x 60");
    {
        Row row{"IDB_FADER", {0, 0, 0, 0, 0}, {}, 0, "handle at 0, .25, .5, .75, 1"};
        const Place* p = firstPlace(Kind::Fader, nullptr);
        row.patch = patchAt(background, p->x, p->y, p->w, p->h);
        out.push_back(std::move(row));
        Row brown{"IDB_FADER_BROWN", {0, 0, 0, 0, 0}, {}, 0, "handle at 0, .25, .5, .75, 1"};
        const Place* q = firstPlace(Kind::BrownFader, nullptr);
        brown.patch = patchAt(background, q->x, q->y, q->w, q->h);
        out.push_back(std::move(brown));
    }
    for (const char* key : {"IDB_POWER", "IDB_DSR_ENABLE", "IDB_COMP_ENABLE", "IDB_EQ_ENABLE",
                            "IDB_DBL_ENABLE", "IDB_DLY_ENABLE", "IDB_GEN_ENABLE", "IDB_TUBE_ENABLE",
                            "IDB_TAB_DSR", "IDB_TAB_COMP", "IDB_TAB_EQ", "IDB_TAB_DBL", "IDB_TAB_DLY"})
        add(key, {0, 1}, firstPlace(Kind::Switch, key), "off, on");
    std::vector<int> all16, all7, tube;
    for (int i = 0; i < kMeter15Frames; ++i)
        all16.push_back(i);
    for (int i = 0; i < kMeter6Frames; ++i)
        all7.push_back(i);
    for (int i = 0; i < kTubeFrames; i += 4)
        tube.push_back(i);
    tube.push_back(kTubeFrames - 1);
    add("IDB_METER15", all16, firstPlace(Kind::Meter, "IDB_METER15"), "16 frames");
    add("IDB_METER6", all7, firstPlace(Kind::Meter, "IDB_METER6"), "7 frames");
    add("IDB_TUBE_METER", tube, firstPlace(Kind::Meter, "IDB_TUBE_METER"), "32 frames, every 4th");
    add("IDB_OUT_TUBE_METER", tube, firstPlace(Kind::Meter, "IDB_OUT_TUBE_METER"), "32 frames, every 4th");
    add("IDB_ORDER", {0}, firstPlace(Kind::OrderStrip, nullptr), "240 x 57");
    return out;
}

bool writeGallery(const LoadedSkin& skin, const std::filesystem::path& output) {
    std::map<std::string, ImageStrip> strips;
    for (const char* key :
         {"IDB_UNIKNOB",     "IDB_FADER",     "IDB_FADER_BROWN", "IDB_POWER",      "IDB_DSR_ENABLE",
          "IDB_COMP_ENABLE", "IDB_EQ_ENABLE", "IDB_DBL_ENABLE",  "IDB_DLY_ENABLE", "IDB_GEN_ENABLE",
          "IDB_TUBE_ENABLE", "IDB_TAB_DSR",   "IDB_TAB_COMP",    "IDB_TAB_EQ",     "IDB_TAB_DBL",
          "IDB_TAB_DLY",     "IDB_METER15",   "IDB_METER6",      "IDB_TUBE_METER", "IDB_OUT_TUBE_METER",
          "IDB_ORDER"})
        strips[key] = skin.strip(key, maskKeyOf(key), framesOf(key));
    for (const char* key : kIconKeys)
        strips[key] = ImageStrip{skin.image(key), {}, 1};
    for (const auto& [key, strip] : strips)
        if (strip.image.empty())
            return false;

    const PixelBuffer background = skin.image("IDB_BACKGROUND");
    const PixelBuffer about = skin.image("IDB_ABOUT");
    if (background.empty() || about.empty())
        return false;
    const PixelBuffer editor = composeEditor(skin, strips);
    const std::vector<Row> allRows = rows(background);

    // Measure the rows: frames side by side at kZoom.
    int rowsHeight = 0, rowsWidth = 0;
    for (const Row& row : allRows) {
        const ImageStrip& strip = strips.at(row.key);
        const int w = row.patch.empty() ? strip.width() : row.patch.width();
        const int h = row.patch.empty() ? strip.frameHeight() : row.patch.height();
        rowsWidth = std::max(rowsWidth, static_cast<int>(row.frames.size()) * (w * kZoom + kFrameGap));
        rowsHeight += h * kZoom + kRowGap;
    }
    const int iconsHeight = kIconHeight * kZoom + kRowGap;
    const int topHeight = 40 + std::max(kEditorHeight, kAboutHeight) + 2 * kRowGap;
    const int width =
        std::max(kMargin * 3 + kEditorWidth + kAboutWidth, kMargin * 2 + kLabelColumn + rowsWidth);
    const int height = kMargin + topHeight + rowsHeight + iconsHeight + kMargin;

    Canvas c(width, height);
    c.fillRect(0, 0, width, height, Rgba::bytes(28, 29, 32));
    const TextStyle heading{Face::Bold, 14.0, 1.0, 0.5};
    const TextStyle keyStyle{Face::Bold, 11.0, 1.0, 0.2};
    const TextStyle noteStyle{Face::Regular, 10.0, 1.0, 0.0};
    const Rgba ink = Rgba::bytes(225, 228, 232), dim = Rgba::bytes(140, 145, 152);
    c.text("Pellucer skin - the editor with its controls, and the About image", kMargin, kMargin + 14,
           heading, ink);
    int y = kMargin + 40;
    paint(c, editor, kMargin, y, 1);
    paint(c, about, kMargin * 2 + kEditorWidth, y, 1);
    c.text("IDB_BACKGROUND with every control composited", kMargin, y + kEditorHeight + 14, noteStyle, dim);
    c.text("IDB_ABOUT", kMargin * 2 + kEditorWidth, y + kAboutHeight + 14, noteStyle, dim);
    y += topHeight - 40;

    for (const Row& row : allRows) {
        const ImageStrip& strip = strips.at(row.key);
        const int w = row.patch.empty() ? strip.width() : row.patch.width();
        const int h = row.patch.empty() ? strip.frameHeight() : row.patch.height();
        c.text(row.key, kMargin, y + 14, keyStyle, ink);
        c.text(row.note, kMargin, y + 30, noteStyle, dim);
        int x = kMargin + kLabelColumn;
        for (size_t i = 0; i < row.frames.size(); ++i) {
            PixelBuffer tile = row.patch.empty() ? PixelBuffer(w, h) : row.patch;
            if (row.handleTravel >= 0) {
                const int travel = h - strip.frameHeight() - 1;
                const double value = static_cast<double>(i) / (row.frames.size() - 1);
                compositeAt(tile, strip, 0, 0, static_cast<int>(std::lround(travel * (1.0 - value))));
            } else {
                compositeAt(tile, strip, row.frames[i], 0, 0);
            }
            paint(c, tile, x, y, kZoom);
            x += w * kZoom + kFrameGap;
        }
        y += h * kZoom + kRowGap;
    }

    c.text("IDB_ICON_*", kMargin, y + 14, keyStyle, ink);
    c.text("order icons, opaque", kMargin, y + 30, noteStyle, dim);
    int x = kMargin + kLabelColumn;
    for (const char* key : kIconKeys) {
        paint(c, strips.at(key).image, x, y, kZoom);
        x += kIconWidth * kZoom + kFrameGap;
    }

    cairo_surface_flush(c.surface());
    if (cairo_surface_write_to_png(c.surface(), output.string().c_str()) != CAIRO_STATUS_SUCCESS) {
        std::fprintf(stderr, "pellucer-gallery: cannot write %s\n", output.string().c_str());
        return false;
    }
    return true;
}

} // namespace

int runGalleryTool(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: pellucer-gallery SKIN_DIR OUTPUT.png\n");
        return 2;
    }
    LoadedSkin skin;
    if (!skin.load(argv[1]))
        return 1;
    if (!loadFonts())
        return 1;
    const bool ok = writeGallery(skin, argv[2]);
    releaseFonts();
    return ok ? 0 : 1;
}

} // namespace pellucer::skin

int main(int argc, char** argv) { return pellucer::skin::runGalleryTool(argc, argv); }
