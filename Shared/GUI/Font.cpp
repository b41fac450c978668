#include "Shared/GUI/Font.h"

#include <iterator>
#include <limits>

#ifdef _WIN32
#include "Shared/GUI/Win32/GdiFont.h"
#endif

namespace pellucer::gui {

namespace {

constexpr int32_t kPointsPerInch = 72;
constexpr int32_t kWeights[] = {300, 400, 500, 600, 700};
constexpr int32_t kDefaultWeight = 400;

/// a x b / c rounded half away from zero, with a 64-bit product; -1 when c is 0 or the result
/// does not fit 32 bits (the answers of the Windows MulDiv).
int32_t mulDiv(int32_t a, int32_t b, int32_t c) {
    if (c == 0)
        return -1;
    int64_t product = static_cast<int64_t>(a) * b;
    int64_t divisor = c;
    if (divisor < 0) {
        divisor = -divisor;
        product = -product;
    }
    const int64_t half = divisor / 2;
    const int64_t result = product >= 0 ? (product + half) / divisor : (product - half) / divisor;
    if (result > std::numeric_limits<int32_t>::max() || result < std::numeric_limits<int32_t>::min())
        return -1;
    return static_cast<int32_t>(result);
}

} // namespace

Font::~Font() {
#ifdef _WIN32
    if (handle_ != nullptr)
        deleteGdiFont(handle_);
#endif
}

const char16_t* Font::faceName() const {
    switch (spec_.face) {
    case kLucidaConsole:
        return u"Lucida Console";
    case kSymbol:
        return u"Symbol";
    default:
        return u"Arial";
    }
}

int32_t Font::weight() const {
    if (spec_.weightIndex < 0 || spec_.weightIndex >= static_cast<int32_t>(std::size(kWeights)))
        return kDefaultWeight;
    return kWeights[spec_.weightIndex];
}

void* Font::handle() const {
#ifdef _WIN32
    if (handle_ == nullptr)
        handle_ = createGdiFont(*this);
    return handle_;
#else
    return nullptr;
#endif
}

int32_t Font::pointsToPixels(int32_t points, int32_t pixelsPerInch) {
    // A negative height asks GDI for the character height rather than the cell height.
    return -mulDiv(points, pixelsPerInch, kPointsPerInch);
}

} // namespace pellucer::gui
