#pragma once

#include <cstdint>

namespace pellucer::gui {

/// A font as the editor asks for it. The Windows build creates the GDI font on first use
/// (height = -(points x vertical pixels per inch / 72), width likewise with the horizontal
/// pixels per inch, both rounded as MulDiv rounds) and keeps it until the Font is destroyed.
class Font {
public:
    /// Faces: 0 "Lucida Console", 1 "Arial", 2 "Symbol".
    static constexpr int32_t kLucidaConsole = 0;
    static constexpr int32_t kArial = 1;
    static constexpr int32_t kSymbol = 2;

    struct Spec {
        int32_t face = kArial;
        int32_t points = 8;
        int32_t weightIndex = 1;   ///< 0 -> 300, 1 -> 400, 2 -> 500, 3 -> 600, 4 -> 700
        int32_t charsetIndex = 0;  ///< 0 default, 1 Shift-JIS
        bool italic = false;
        bool underline = false;
        bool strikeOut = false;
        int32_t widthPoints = 0;   ///< 0: the face's own width
    };

    explicit Font(const Spec& spec) : spec_(spec) {}
    ~Font();
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;

    const Spec& spec() const { return spec_; }
    /// The face name ("Lucida Console", "Arial", "Symbol"; Arial for unknown indices).
    const char16_t* faceName() const;
    /// The weight in font units (300..700) of the weight index; 400 for unknown indices.
    int32_t weight() const;
    /// The platform font (HFONT on Windows), made on first use; null where there is none.
    void* handle() const;

    /// Height or width in device pixels for `points` at `pixelsPerInch`, as MulDiv rounds
    /// (half away from zero), negative for a height (character height, not cell height).
    static int32_t pointsToPixels(int32_t points, int32_t pixelsPerInch);

private:
    Spec spec_;
    mutable void* handle_ = nullptr;
};

} // namespace pellucer::gui
