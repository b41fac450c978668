#include "Shared/GUI/GraphPanel.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "Shared/GUI/DrawContext.h"
#include "core/SkinTable.h"

namespace pellucer::gui {

namespace {

constexpr std::array<const char*, GraphPanel::kOctaveMarks> kOctaveKeys{
    "IDS_FREQ_31_25", "IDS_FREQ_62_5", "IDS_FREQ_125", "IDS_FREQ_250", "IDS_FREQ_500",
    "IDS_FREQ_1K",    "IDS_FREQ_2K",   "IDS_FREQ_4K",  "IDS_FREQ_8K",  "IDS_FREQ_16K"};

// The display's palette: a dark glass, a cool grid, a bright cyan for the response, amber for
// what the de-esser listens to and for the compressor, green for the expander.
constexpr Colour kGlassTop{22, 29, 38};
constexpr Colour kGlassBottom{9, 12, 17};
constexpr Colour kRim{78, 96, 116};
constexpr Colour kGrid{150, 185, 220};
constexpr Colour kAccent{86, 204, 255};
constexpr Colour kListen{245, 178, 66};
constexpr Colour kCompressor{230, 196, 77};
constexpr Colour kExpander{120, 224, 160};
constexpr Colour kDimmed{120, 138, 152};
constexpr Colour kLabel{150, 172, 196};
constexpr Colour kLabelDimmed{96, 108, 120};

/// Share of the curve's strength kept while its stage is switched off.
constexpr double kInactiveStrength = 0.45;
/// Opacity of the glass over the skin's display area.
constexpr double kGlassAlpha = 0.9;
/// Reach of a curve's glow in pixels.
constexpr double kGlowReach = 7.0;

/// Blends `colour` over pixel (x, y) of `b` at `alpha` (0..1); outside the buffer nothing.
void blendPixel(PixelBuffer& b, int32_t x, int32_t y, Colour colour, double alpha) {
    if (x < 0 || y < 0 || x >= b.width() || y >= b.height() || !(alpha > 0.0))
        return;
    const double a = std::min(alpha, 1.0);
    uint8_t* p = b.at(x, y);
    p[0] = static_cast<uint8_t>(std::lround(colour.blue * a + p[0] * (1.0 - a)));
    p[1] = static_cast<uint8_t>(std::lround(colour.green * a + p[1] * (1.0 - a)));
    p[2] = static_cast<uint8_t>(std::lround(colour.red * a + p[2] * (1.0 - a)));
}

Colour mixColour(Colour a, Colour b, double t) {
    auto channel = [t](uint8_t u, uint8_t v) {
        return static_cast<uint8_t>(std::lround(u + (v - u) * std::clamp(t, 0.0, 1.0)));
    };
    return {channel(a.red, b.red), channel(a.green, b.green), channel(a.blue, b.blue)};
}

/// Distance from (px, py) to the segment (ax, ay)-(bx, by).
double segmentDistance(double px, double py, double ax, double ay, double bx, double by) {
    const double dx = bx - ax, dy = by - ay;
    const double lengthSquared = dx * dx + dy * dy;
    const double t =
        lengthSquared > 0.0 ? std::clamp(((px - ax) * dx + (py - ay) * dy) / lengthSquared, 0.0, 1.0) : 0.0;
    const double ex = px - ax - t * dx, ey = py - ay - t * dy;
    return std::sqrt(ex * ex + ey * ey);
}

/// y of the polyline (sorted by x) at `x`, or NaN outside it.
double polylineY(const std::vector<std::pair<double, double>>& line, double x) {
    for (size_t i = 1; i < line.size(); ++i) {
        const auto [x0, y0] = line[i - 1];
        const auto [x1, y1] = line[i];
        if (x >= x0 && x <= x1)
            return x1 > x0 ? y0 + (y1 - y0) * (x - x0) / (x1 - x0) : y1;
    }
    return std::numeric_limits<double>::quiet_NaN();
}

} // namespace

GraphPanel::GraphPanel(int32_t id, const Rect& rect, int32_t mode) : Control(id, rect), mode_(mode) {
    const SkinTable& texts = textResources();
    for (size_t i = 0; i < octaveTexts_.size(); ++i)
        octaveTexts_[i] = texts.text(kOctaveKeys[i]);
    zeroDbText_ = texts.text("IDS_DB_0");
    data_.mode = mode;
    data_.curveCount = 0;
}

void GraphPanel::setMode(int32_t mode) {
    mode_ = mode;
    recompute();
}

void GraphPanel::setFont(std::shared_ptr<const Font> font) {
    font_ = std::move(font);
    forceRedraw();
    invalidate();
}

void GraphPanel::recompute() {
    data_ = GraphData{};
    data_.mode = mode_;
    if (ControlEngine* engine = host_ != nullptr ? host_->engine() : nullptr)
        engine->graphData(mode_, data_);
    // Whatever the effect answered, only whole curves within the arrays are drawn.
    data_.curveCount = std::clamp(data_.curveCount, 0, GraphData::kMaxCurves);
    for (int32_t& count : data_.pointCounts)
        count = std::clamp(count, 0, GraphData::kMaxPoints);
    forceRedraw();
    invalidate();
}

void GraphPanel::prepare(const PixelBuffer& background) {
    Control::prepare(background);
    distance_.assign(
        static_cast<size_t>(std::max(rect_.width, 0)) * static_cast<size_t>(std::max(rect_.height, 0)), 0.0f);
    if (host_ != nullptr)
        recompute();
}

double GraphPanel::xForFrequency(double hz) const {
    const double low = std::log10(lowHz()), high = std::log10(kHighHz);
    const double x = (std::log10(std::max(hz, 1e-9)) - low) / (high - low) * plotWidth() + plotLeft();
    return std::clamp(std::isnan(x) ? 0.0 : x, 0.0, rect_.width - 1.0);
}

double GraphPanel::yForDecibels(double db) const {
    const double y = centreY() - ((db + kRangeDb) / (2.0 * kRangeDb) - 0.5) * verticalScale();
    return std::clamp(std::isnan(y) ? centreY() : y, 0.0, rect_.height - static_cast<double>(kBottomMargin));
}

double GraphPanel::xForInputDb(double db) const {
    const double x = 20.0 + (db - kFloorDb) / -kFloorDb * companderSide();
    return std::clamp(std::isnan(x) ? 20.0 : x, 0.0, rect_.width - 1.0);
}

double GraphPanel::yForOutputDb(double db) const {
    const double share = std::isnan(db) ? 0.0 : std::clamp((db - kFloorDb) / -kFloorDb, 0.0, 1.0);
    return rect_.height - 12.0 - share * companderSide();
}

GraphPanel::Polyline GraphPanel::mapCurve(int32_t curve) const {
    Polyline line;
    const auto& values = data_.curves[static_cast<size_t>(curve)];
    const int32_t count = data_.pointCounts[static_cast<size_t>(curve)];
    line.reserve(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        const double a = values[static_cast<size_t>(2 * i)], b = values[static_cast<size_t>(2 * i + 1)];
        if (!std::isfinite(a) || std::isnan(b))
            continue; // a level of -inf is fine: it clamps to the floor
        if (mode_ == kCompander)
            line.push_back({xForInputDb(a), yForOutputDb(b)});
        else
            line.push_back({xForFrequency(a), yForDecibels(b)});
    }
    return line;
}

void GraphPanel::drawDisplay() {
    // A dark glass over the skin's display area, lighter at the top, with rounded corners and a
    // faint rim, so that the curves stand out whatever the skin put there.
    const int32_t w = work_.width(), h = work_.height();
    constexpr double kRadius = 3.5;
    for (int32_t y = 1; y < h - 1; ++y) {
        const Colour glass = mixColour(kGlassTop, kGlassBottom, (y - 1.0) / std::max(h - 3.0, 1.0));
        for (int32_t x = 1; x < w - 1; ++x) {
            // Coverage of the rounded rectangle: the corners are quarter circles.
            const double cx = std::clamp(x + 0.5, 1.0 + kRadius, w - 1.0 - kRadius);
            const double cy = std::clamp(y + 0.5, 1.0 + kRadius, h - 1.0 - kRadius);
            const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
            const double coverage = std::clamp(kRadius + 0.5 - d, 0.0, 1.0);
            blendPixel(work_, x, y, glass, kGlassAlpha * coverage);
            const double rim = std::clamp(1.0 - std::fabs(kRadius - 0.5 - d), 0.0, 1.0);
            blendPixel(work_, x, y, kRim, 0.35 * rim);
        }
    }
}

void GraphPanel::drawFrequencyGrid() {
    const int32_t top = static_cast<int32_t>(plotTop()), bottom = static_cast<int32_t>(plotBottom());
    const int32_t left = static_cast<int32_t>(plotLeft());
    const int32_t right = static_cast<int32_t>(plotLeft() + plotWidth());
    for (int32_t mark = 0; mark < kOctaveMarks; ++mark) {
        const double hz = kFirstOctaveHz * std::ldexp(1.0, mark);
        if (hz < lowHz())
            continue;
        const auto x = static_cast<int32_t>(std::lround(xForFrequency(hz)));
        const double alpha = hz == 1000.0 ? 0.17 : 0.1;
        for (int32_t y = top; y <= bottom; ++y)
            blendPixel(work_, x, y, kGrid, alpha);
    }
    for (const double db : {-12.0, -6.0, 6.0, 12.0, 0.0}) {
        const auto y = static_cast<int32_t>(std::lround(yForDecibels(db)));
        const double alpha = db == 0.0 ? 0.3 : 0.1;
        for (int32_t x = left; x <= right; ++x)
            blendPixel(work_, x, y, kGrid, alpha);
    }
}

void GraphPanel::drawCompanderGrid() {
    const auto left = static_cast<int32_t>(std::lround(xForInputDb(kFloorDb)));
    const auto right = static_cast<int32_t>(std::lround(xForInputDb(0.0)));
    const auto top = static_cast<int32_t>(std::lround(yForOutputDb(0.0)));
    const auto bottom = static_cast<int32_t>(std::lround(yForOutputDb(kFloorDb)));
    for (double db = kFloorDb; db <= 0.0; db += 10.0) {
        const bool edge = db == kFloorDb || db == 0.0;
        const double alpha = edge ? 0.22 : 0.09;
        const auto x = static_cast<int32_t>(std::lround(xForInputDb(db)));
        const auto y = static_cast<int32_t>(std::lround(yForOutputDb(db)));
        for (int32_t i = top; i <= bottom; ++i)
            blendPixel(work_, x, i, kGrid, alpha);
        for (int32_t i = left; i <= right; ++i)
            if (i != x || !edge)
                blendPixel(work_, i, y, kGrid, alpha);
    }
    // The unity line, dashed: where the curve leaves it, the compander works.
    const double x0 = xForInputDb(kFloorDb), y0 = yForOutputDb(kFloorDb);
    const double x1 = xForInputDb(0.0), y1 = yForOutputDb(0.0);
    constexpr int32_t kDashes = 28;
    for (int32_t i = 0; i < kDashes; ++i) {
        const double t0 = (i + 0.2) / kDashes, t1 = (i + 0.65) / kDashes;
        guiAntialiasedLine(work_, x0 + (x1 - x0) * t0 + 0.5, y0 + (y1 - y0) * t0 + 0.5,
                           x0 + (x1 - x0) * t1 + 0.5, y0 + (y1 - y0) * t1 + 0.5, kGrid, 1.0, 0.28);
    }
}

void GraphPanel::drawCurve(const Polyline& line, Colour colour, double fillBase, double fillAlpha,
                           double glowAlpha, double lineWidth) {
    if (line.size() < 2)
        return;
    const int32_t w = work_.width(), h = work_.height();
    const double strength = data_.active ? 1.0 : kInactiveStrength;
    if (!data_.active)
        colour = mixColour(colour, kDimmed, 0.7);

    // The area between the curve and its base, strongest along the curve and fading towards the
    // base. Positions are pixel centres, so column c and row r cover [c - 0.5, c + 0.5).
    if (fillAlpha > 0.0) {
        std::vector<std::pair<double, double>> sorted;
        sorted.reserve(line.size());
        for (const PlotPoint& p : line)
            sorted.emplace_back(p.x, p.y);
        std::sort(sorted.begin(), sorted.end());
        const auto first = static_cast<int32_t>(std::ceil(sorted.front().first));
        const auto last = static_cast<int32_t>(std::floor(sorted.back().first));
        for (int32_t c = std::max(first, 0); c <= std::min(last, w - 1); ++c) {
            const double y = polylineY(sorted, c);
            if (std::isnan(y))
                continue;
            const double from = std::min(y, fillBase), to = std::max(y, fillBase);
            const double span = std::max(to - from, 1.0);
            for (auto r = static_cast<int32_t>(std::floor(from + 0.5)); r <= static_cast<int32_t>(to + 0.5);
                 ++r) {
                const double coverage = std::clamp(std::min(r + 0.5, to) - std::max(r - 0.5, from), 0.0, 1.0);
                const double closeness = 1.0 - std::fabs(r - y) / span;
                blendPixel(work_, c, r, colour,
                           fillAlpha * strength * coverage * (0.2 + 0.8 * closeness * closeness));
            }
        }
    }

    // The glow, the line and its lighter core, all from each pixel's distance to the whole
    // polyline and blended once per pixel. Drawing the polyline segment by segment would blend
    // the pixels where two segments meet twice and string beads along the curve every few
    // pixels; the line's coverage is the same capsule rule as guiAntialiasedLine's.
    if (distance_.size() != static_cast<size_t>(w) * static_cast<size_t>(h))
        return;
    std::fill(distance_.begin(), distance_.end(), std::numeric_limits<float>::max());
    int32_t x0 = w, x1 = -1, y0 = h, y1 = -1;
    for (size_t i = 1; i < line.size(); ++i) {
        const PlotPoint a = line[i - 1], b = line[i];
        const int32_t left = std::max(0, static_cast<int32_t>(std::floor(std::min(a.x, b.x) - kGlowReach)));
        const int32_t right =
            std::min(w - 1, static_cast<int32_t>(std::ceil(std::max(a.x, b.x) + kGlowReach)));
        const int32_t top = std::max(0, static_cast<int32_t>(std::floor(std::min(a.y, b.y) - kGlowReach)));
        const int32_t bottom =
            std::min(h - 1, static_cast<int32_t>(std::ceil(std::max(a.y, b.y) + kGlowReach)));
        x0 = std::min(x0, left), x1 = std::max(x1, right), y0 = std::min(y0, top), y1 = std::max(y1, bottom);
        for (int32_t y = top; y <= bottom; ++y)
            for (int32_t x = left; x <= right; ++x) {
                float& d =
                    distance_[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)];
                d = std::min(d, static_cast<float>(segmentDistance(x, y, a.x, a.y, b.x, b.y)));
            }
    }
    const Colour core = mixColour(colour, Colour{255, 255, 255}, 0.55);
    const double radius = 0.5 * lineWidth, coreRadius = 0.25 * lineWidth;
    for (int32_t y = y0; y <= y1; ++y)
        for (int32_t x = x0; x <= x1; ++x) {
            const double d =
                distance_[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)];
            if (d >= kGlowReach)
                continue;
            const double near = std::exp(-(d * d) / (1.6 * 1.6)), far = std::exp(-(d * d) / (3.8 * 3.8));
            blendPixel(work_, x, y, colour, glowAlpha * strength * (0.6 * near + 0.4 * far));
            blendPixel(work_, x, y, colour, strength * std::clamp(radius + 0.5 - d, 0.0, 1.0));
            blendPixel(work_, x, y, core, 0.35 * strength * std::clamp(coreRadius + 0.5 - d, 0.0, 1.0));
        }
}

void GraphPanel::drawThreshold(const Polyline& transfer, double thresholdDb, Colour colour) {
    if (!std::isfinite(thresholdDb) || thresholdDb < kFloorDb || thresholdDb > 0.0)
        return;
    const double strength = data_.active ? 1.0 : kInactiveStrength;
    const double x = xForInputDb(thresholdDb);
    std::vector<std::pair<double, double>> sorted;
    for (const PlotPoint& p : transfer)
        sorted.emplace_back(p.x, p.y);
    std::sort(sorted.begin(), sorted.end());
    double y = polylineY(sorted, x);
    const double bottom = yForOutputDb(kFloorDb);
    if (std::isnan(y))
        y = yForOutputDb(thresholdDb);
    // A dotted drop from the knee to the input axis, a small tick on the axis, a dot on the knee.
    const auto column = static_cast<int32_t>(std::lround(x));
    for (auto r = static_cast<int32_t>(std::lround(y)) + 3; r <= static_cast<int32_t>(bottom); r += 2)
        blendPixel(work_, column, r, colour, 0.55 * strength);
    guiAntialiasedLine(work_, x + 0.5, bottom + 0.5, x + 0.5, bottom + 3.5, colour, 1.6, strength);
    guiAntialiasedLine(work_, x + 0.5, y + 0.5, x + 0.5, y + 0.5, Colour{8, 10, 14}, 6.0, 0.7 * strength);
    guiAntialiasedLine(work_, x + 0.5, y + 0.5, x + 0.5, y + 0.5, colour, 4.2, strength);
}

bool GraphPanel::draw(DrawContext& context) {
    if (frame_ == lastDrawn_ || work_.empty())
        return false;
    work_ = background_;
    drawDisplay();
    if (mode_ == kCompander) {
        drawCompanderGrid();
        if (data_.curveCount > 0) {
            const Polyline transfer = mapCurve(0);
            drawCurve(transfer, kAccent, yForOutputDb(kFloorDb), 0.16, 0.3, 1.5);
            drawThreshold(transfer, data_.expanderThresholdDb, kExpander);
            drawThreshold(transfer, data_.compressorThresholdDb, kCompressor);
        }
    } else {
        drawFrequencyGrid();
        const double zero = yForDecibels(0.0);
        if (mode_ == kDeEsser && data_.curveCount >= 2) {
            // What the de-esser listens to, thin and amber, under what it lets pass.
            drawCurve(mapCurve(0), kListen, zero, 0.0, 0.16, 1.1);
            drawCurve(mapCurve(1), kAccent, zero, 0.2, 0.3, 1.5);
        } else {
            for (int32_t curve = 0; curve < data_.curveCount; ++curve)
                drawCurve(mapCurve(curve), kAccent, zero, 0.2, 0.3, 1.5);
        }
    }
    if (highlight_ != Colour{})
        blendFrameLine(work_, highlight_, 1);
    context.drawPixels(work_.data(), work_.byteSize(), work_.rowBytes(), rect_.left, rect_.top, work_.width(),
                       work_.height(), 0, 0);
    drawLabels(context);
    lastDrawn_ = frame_;
    return true;
}

void GraphPanel::drawLabels(DrawContext& context) const {
    const Font* previous = context.selectFont(font_.get());
    context.setTextColour(data_.active ? kLabel : kLabelDimmed);
    if (mode_ == kCompander) {
        context.setTextAlign(DrawContext::kAlignLeft);
        context.drawText(Point{rect_.left + static_cast<int32_t>(xForInputDb(kFloorDb)) + 3,
                               rect_.top + static_cast<int32_t>(yForOutputDb(0.0)) + 2},
                         zeroDbText_, true);
    } else {
        // The octave marks in the band above the plot, centred on their grid lines but kept
        // inside the panel.
        context.setTextAlign(DrawContext::kAlignCentre);
        for (int32_t mark = 0; mark < kOctaveMarks; ++mark) {
            const double hz = kFirstOctaveHz * std::ldexp(1.0, mark);
            if (hz < lowHz())
                continue;
            const std::u16string& text = octaveTexts_[static_cast<size_t>(mark)];
            const int32_t half = context.measureText(text).x / 2;
            int32_t x = static_cast<int32_t>(std::lround(xForFrequency(hz)));
            x = std::clamp(x, std::min(half + 1, rect_.width / 2),
                           std::max(rect_.width - 2 - half, rect_.width / 2));
            context.drawText(Point{rect_.left + x, rect_.top + 2}, text, true);
        }
        context.setTextAlign(DrawContext::kAlignLeft);
        const int32_t height = context.measureText(zeroDbText_).y;
        context.drawText(Point{rect_.left + static_cast<int32_t>(plotLeft()) + 2,
                               rect_.top + static_cast<int32_t>(std::lround(yForDecibels(0.0))) - height - 1},
                         zeroDbText_, true);
    }
    context.selectFont(previous);
}

} // namespace pellucer::gui
