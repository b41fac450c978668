#pragma once

// Drawing helpers of the skin generator: a Cairo image surface with the generator's fonts,
// engraved text, per-pixel shading, a fixed-seed noise hash, and the split of a drawing into
// the skin's 24-bit image and grey mask.

#include <cairo.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "Shared/GUI/PixelBuffer.h"

namespace pellucer::skin {

/// A colour with components 0..1 (alpha 1 = opaque).
struct Rgba {
    double r = 0.0, g = 0.0, b = 0.0, a = 1.0;

    static constexpr Rgba bytes(int red, int green, int blue, double alpha = 1.0) {
        return {red / 255.0, green / 255.0, blue / 255.0, alpha};
    }
    constexpr Rgba withAlpha(double alpha) const { return {r, g, b, alpha}; }
    /// This colour scaled towards black (f < 1) or towards white (f > 1, by f - 1).
    Rgba shade(double f) const;
    /// Linear mix: t = 0 gives this colour, 1 gives `other`.
    Rgba mix(const Rgba& other, double t) const;
};

/// The faces the generator draws its words with, loaded by path through FreeType so that
/// the images do not depend on the machine's font configuration.
enum class Face { Regular, Bold };

/// A typeface, size and spacing for a piece of text.
struct TextStyle {
    Face face = Face::Bold;
    double size = 8.0;          ///< em size in pixels
    double condense = 1.0;      ///< horizontal scale of the glyphs (0.88 gives a condensed cut)
    double letterSpacing = 0.0; ///< extra pixels after each glyph but the last
};

enum class Align { Left, Centre, Right };

/// Loads the generator's fonts once. Answers false, with a message on stderr naming the file,
/// when a font file is missing or unreadable.
bool loadFonts();
/// Releases the fonts (and Cairo's static data) at the end of the program.
void releaseFonts();

/// A 32-bit premultiplied Cairo image surface with a context; starts fully transparent.
class Canvas {
public:
    Canvas(int width, int height);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    int width() const { return width_; }
    int height() const { return height_; }
    cairo_t* cr() const { return cr_; }
    cairo_surface_t* surface() const { return surface_; }

    void setSource(const Rgba& c) const;
    void fillRect(double x, double y, double w, double h, const Rgba& c) const;
    /// Adds a rounded rectangle to the current path.
    void roundedRect(double x, double y, double w, double h, double radius) const;
    /// A vertical linear gradient from `top` at y0 to `bottom` at y1 as the source.
    void setVerticalGradient(double y0, const Rgba& top, double y1, const Rgba& bottom) const;

    /// Width of `text` in pixels in `style`.
    double textWidth(std::string_view text, const TextStyle& style) const;
    /// Draws `text` with its baseline at y, aligned at x.
    void text(std::string_view text, double x, double baseline, const TextStyle& style, const Rgba& colour,
              Align align = Align::Left) const;
    /// Silk-screened panel text: `colour` over a soft dark shadow one pixel below.
    void panelText(std::string_view text, double x, double baseline, const TextStyle& style,
                   const Rgba& colour, Align align = Align::Centre) const;

    /// Paints every pixel of the rectangle from `shader`, which answers the straight (not
    /// premultiplied) colour at a point; `samples` x `samples` points per pixel are averaged.
    /// The result is drawn over what is there.
    void shade(int x0, int y0, int x1, int y1, int samples,
               const std::function<Rgba(double, double)>& shader) const;

    /// The drawing's colours, un-premultiplied (a fully transparent pixel is black), alpha 255.
    gui::PixelBuffer image() const;
    /// The drawing's coverage as a grey image: 255 where it is opaque, 0 where it is empty.
    gui::PixelBuffer mask() const;

private:
    int width_;
    int height_;
    cairo_surface_t* surface_;
    cairo_t* cr_;
};

/// A repeatable pseudo-random value in [0, 1) for integer coordinates and a seed (an integer
/// hash, so textures are the same on every machine and every run).
double noise(int32_t x, int32_t y, uint32_t seed);

/// Stacks `frames` equally high images vertically, frame 0 at the top.
gui::PixelBuffer stackFrames(const std::vector<gui::PixelBuffer>& frames);

} // namespace pellucer::skin
