#include "tools/skin/SkinCanvas.h"

#include <cairo-ft.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

#ifndef PELLUCER_SKIN_FONT_DIR
#define PELLUCER_SKIN_FONT_DIR "/usr/share/fonts/truetype/dejavu"
#endif

namespace pellucer::skin {

namespace {

struct FontState {
    FT_Library library = nullptr;
    cairo_font_face_t* regular = nullptr;
    cairo_font_face_t* bold = nullptr;
    cairo_font_options_t* options = nullptr;
};

FontState& fonts() {
    static FontState state;
    return state;
}

const cairo_user_data_key_t kFaceKey{};

void doneFace(void* face) { FT_Done_Face(static_cast<FT_Face>(face)); }

cairo_font_face_t* loadFace(const char* file) {
    const std::string path = std::string(PELLUCER_SKIN_FONT_DIR) + "/" + file;
    FT_Face face = nullptr;
    if (FT_New_Face(fonts().library, path.c_str(), 0, &face) != 0) {
        std::fprintf(stderr, "pellucer-skin: cannot load the font %s (Debian package fonts-dejavu-core)\n",
                     path.c_str());
        return nullptr;
    }
    cairo_font_face_t* cairoFace = cairo_ft_font_face_create_for_ft_face(face, 0);
    // The FreeType face lives as long as Cairo's face.
    if (cairo_font_face_set_user_data(cairoFace, &kFaceKey, face, doneFace) != CAIRO_STATUS_SUCCESS) {
        cairo_font_face_destroy(cairoFace);
        FT_Done_Face(face);
        return nullptr;
    }
    return cairoFace;
}

uint8_t toByte(double v) { return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); }

} // namespace

Rgba Rgba::shade(double f) const {
    if (f <= 1.0)
        return {r * f, g * f, b * f, a};
    const double t = std::min(f - 1.0, 1.0);
    return {r + (1.0 - r) * t, g + (1.0 - g) * t, b + (1.0 - b) * t, a};
}

Rgba Rgba::mix(const Rgba& other, double t) const {
    return {r + (other.r - r) * t, g + (other.g - g) * t, b + (other.b - b) * t, a + (other.a - a) * t};
}

bool loadFonts() {
    FontState& state = fonts();
    if (state.regular != nullptr)
        return true;
    if (FT_Init_FreeType(&state.library) != 0) {
        std::fprintf(stderr, "pellucer-skin: FreeType does not start\n");
        return false;
    }
    state.regular = loadFace("DejaVuSans.ttf");
    state.bold = loadFace("DejaVuSans-Bold.ttf");
    if (state.regular == nullptr || state.bold == nullptr) {
        releaseFonts();
        return false;
    }
    // Unhinted outlines, grey antialiasing: the same pixels wherever the same FreeType and
    // Cairo run, whatever the machine's font settings say.
    state.options = cairo_font_options_create();
    cairo_font_options_set_hint_style(state.options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(state.options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_antialias(state.options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_subpixel_order(state.options, CAIRO_SUBPIXEL_ORDER_DEFAULT);
    return true;
}

void releaseFonts() {
    FontState& state = fonts();
    if (state.options != nullptr)
        cairo_font_options_destroy(state.options);
    if (state.regular != nullptr)
        cairo_font_face_destroy(state.regular);
    if (state.bold != nullptr)
        cairo_font_face_destroy(state.bold);
    state.options = nullptr;
    state.regular = state.bold = nullptr;
    cairo_debug_reset_static_data();
    if (state.library != nullptr)
        FT_Done_FreeType(state.library);
    state.library = nullptr;
}

Canvas::Canvas(int width, int height)
    : width_(width), height_(height),
      surface_(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height)), cr_(cairo_create(surface_)) {
    cairo_set_antialias(cr_, CAIRO_ANTIALIAS_GRAY);
    if (fonts().options != nullptr)
        cairo_set_font_options(cr_, fonts().options);
}

Canvas::~Canvas() {
    cairo_destroy(cr_);
    cairo_surface_destroy(surface_);
}

void Canvas::setSource(const Rgba& c) const { cairo_set_source_rgba(cr_, c.r, c.g, c.b, c.a); }

void Canvas::fillRect(double x, double y, double w, double h, const Rgba& c) const {
    setSource(c);
    cairo_rectangle(cr_, x, y, w, h);
    cairo_fill(cr_);
}

void Canvas::roundedRect(double x, double y, double w, double h, double radius) const {
    radius = std::min({radius, w / 2.0, h / 2.0});
    constexpr double kQuarter = std::numbers::pi / 2.0;
    cairo_new_sub_path(cr_);
    cairo_arc(cr_, x + w - radius, y + radius, radius, -kQuarter, 0.0);
    cairo_arc(cr_, x + w - radius, y + h - radius, radius, 0.0, kQuarter);
    cairo_arc(cr_, x + radius, y + h - radius, radius, kQuarter, 2.0 * kQuarter);
    cairo_arc(cr_, x + radius, y + radius, radius, 2.0 * kQuarter, 3.0 * kQuarter);
    cairo_close_path(cr_);
}

void Canvas::setVerticalGradient(double y0, const Rgba& top, double y1, const Rgba& bottom) const {
    cairo_pattern_t* pattern = cairo_pattern_create_linear(0.0, y0, 0.0, y1);
    cairo_pattern_add_color_stop_rgba(pattern, 0.0, top.r, top.g, top.b, top.a);
    cairo_pattern_add_color_stop_rgba(pattern, 1.0, bottom.r, bottom.g, bottom.b, bottom.a);
    cairo_set_source(cr_, pattern);
    cairo_pattern_destroy(pattern);
}

namespace {

void selectStyle(cairo_t* cr, const TextStyle& style) {
    cairo_set_font_face(cr, style.face == Face::Bold ? fonts().bold : fonts().regular);
    cairo_matrix_t matrix;
    cairo_matrix_init_scale(&matrix, style.size * style.condense, style.size);
    cairo_set_font_matrix(cr, &matrix);
}

/// The glyphs of `text` laid out from (x, y) with the style's extra letter spacing; answers
/// the advance width.
double layoutGlyphs(cairo_t* cr, std::string_view text, double x, double y, const TextStyle& style,
                    std::vector<cairo_glyph_t>& out) {
    out.clear();
    cairo_glyph_t* glyphs = nullptr;
    int count = 0;
    cairo_scaled_font_t* font = cairo_get_scaled_font(cr);
    if (cairo_scaled_font_text_to_glyphs(font, x, y, text.data(), static_cast<int>(text.size()), &glyphs,
                                         &count, nullptr, nullptr, nullptr) != CAIRO_STATUS_SUCCESS)
        return 0.0;
    out.assign(glyphs, glyphs + count);
    cairo_glyph_free(glyphs);
    for (int i = 0; i < count; ++i)
        out[static_cast<size_t>(i)].x += style.letterSpacing * i;
    cairo_text_extents_t extents;
    cairo_glyph_extents(cr, out.data(), count, &extents);
    // The advance of the laid-out run: last glyph's origin plus its own advance.
    return count > 0 ? extents.x_advance : 0.0;
}

} // namespace

double Canvas::textWidth(std::string_view text, const TextStyle& style) const {
    cairo_save(cr_);
    selectStyle(cr_, style);
    std::vector<cairo_glyph_t> glyphs;
    const double width = layoutGlyphs(cr_, text, 0.0, 0.0, style, glyphs);
    cairo_restore(cr_);
    return width;
}

void Canvas::text(std::string_view text, double x, double baseline, const TextStyle& style,
                  const Rgba& colour, Align align) const {
    cairo_save(cr_);
    selectStyle(cr_, style);
    std::vector<cairo_glyph_t> glyphs;
    const double width = layoutGlyphs(cr_, text, 0.0, 0.0, style, glyphs);
    double left = x;
    if (align == Align::Centre)
        left = x - width / 2.0;
    else if (align == Align::Right)
        left = x - width;
    // The run starts on a whole pixel, so the same word looks the same wherever it is placed.
    left = std::round(left);
    for (auto& glyph : glyphs) {
        glyph.x += left;
        glyph.y += baseline;
    }
    setSource(colour);
    cairo_show_glyphs(cr_, glyphs.data(), static_cast<int>(glyphs.size()));
    cairo_restore(cr_);
}

void Canvas::panelText(std::string_view text, double x, double baseline, const TextStyle& style,
                       const Rgba& colour, Align align) const {
    this->text(text, x, baseline + 1.0, style, Rgba{0.0, 0.0, 0.0, 0.55 * colour.a}, align);
    this->text(text, x, baseline, style, colour, align);
}

void Canvas::shade(int x0, int y0, int x1, int y1, int samples,
                   const std::function<Rgba(double, double)>& shader) const {
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, width_);
    y1 = std::min(y1, height_);
    if (x1 <= x0 || y1 <= y0)
        return;
    const int w = x1 - x0, h = y1 - y0;
    cairo_surface_t* patch = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_surface_flush(patch);
    uint8_t* data = cairo_image_surface_get_data(patch);
    const int stride = cairo_image_surface_get_stride(patch);
    const double step = 1.0 / samples;
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride);
        for (int x = 0; x < w; ++x) {
            double r = 0.0, g = 0.0, b = 0.0, a = 0.0;
            for (int sy = 0; sy < samples; ++sy) {
                for (int sx = 0; sx < samples; ++sx) {
                    const Rgba c = shader(x0 + x + (sx + 0.5) * step, y0 + y + (sy + 0.5) * step);
                    const double alpha = std::clamp(c.a, 0.0, 1.0);
                    r += std::clamp(c.r, 0.0, 1.0) * alpha;
                    g += std::clamp(c.g, 0.0, 1.0) * alpha;
                    b += std::clamp(c.b, 0.0, 1.0) * alpha;
                    a += alpha;
                }
            }
            const double n = static_cast<double>(samples * samples);
            const uint32_t pa = toByte(a / n), pr = toByte(r / n), pg = toByte(g / n), pb = toByte(b / n);
            row[x] = (pa << 24) | (std::min(pr, pa) << 16) | (std::min(pg, pa) << 8) | std::min(pb, pa);
        }
    }
    cairo_surface_mark_dirty(patch);
    cairo_save(cr_);
    cairo_set_source_surface(cr_, patch, x0, y0);
    cairo_paint(cr_);
    cairo_restore(cr_);
    cairo_surface_destroy(patch);
}

gui::PixelBuffer Canvas::image() const {
    cairo_surface_flush(surface_);
    const uint8_t* data = cairo_image_surface_get_data(surface_);
    const int stride = cairo_image_surface_get_stride(surface_);
    gui::PixelBuffer out(width_, height_);
    for (int y = 0; y < height_; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
        for (int x = 0; x < width_; ++x) {
            const uint32_t p = row[x];
            const uint32_t a = p >> 24;
            uint32_t r = 0, g = 0, b = 0;
            if (a != 0) {
                // Cairo keeps colours premultiplied by coverage; the skin wants them whole, with
                // the coverage in the mask.
                r = std::min(255u, (((p >> 16) & 0xFF) * 255u + a / 2) / a);
                g = std::min(255u, (((p >> 8) & 0xFF) * 255u + a / 2) / a);
                b = std::min(255u, ((p & 0xFF) * 255u + a / 2) / a);
            }
            out.setArgb(x, y, 0xFF000000u | (r << 16) | (g << 8) | b);
        }
    }
    return out;
}

gui::PixelBuffer Canvas::mask() const {
    cairo_surface_flush(surface_);
    const uint8_t* data = cairo_image_surface_get_data(surface_);
    const int stride = cairo_image_surface_get_stride(surface_);
    gui::PixelBuffer out(width_, height_);
    for (int y = 0; y < height_; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
        for (int x = 0; x < width_; ++x) {
            const uint32_t a = row[x] >> 24;
            out.setArgb(x, y, 0xFF000000u | (a << 16) | (a << 8) | a);
        }
    }
    return out;
}

double noise(int32_t x, int32_t y, uint32_t seed) {
    uint32_t h =
        static_cast<uint32_t>(x) * 0x8DA6B343u ^ static_cast<uint32_t>(y) * 0xD8163841u ^ seed * 0xCB1AB31Fu;
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    h ^= h >> 16;
    return static_cast<double>(h >> 8) / 16777216.0;
}

gui::PixelBuffer stackFrames(const std::vector<gui::PixelBuffer>& frames) {
    if (frames.empty())
        return {};
    const int32_t w = frames.front().width();
    const int32_t h = frames.front().height();
    gui::PixelBuffer strip(w, h * static_cast<int32_t>(frames.size()));
    for (size_t k = 0; k < frames.size(); ++k)
        gui::copyPixels(frames[k], 0, 0, w, h, strip, 0, static_cast<int32_t>(k) * h);
    return strip;
}

} // namespace pellucer::skin
