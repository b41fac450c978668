#pragma once

// Controls without a window: a frame that records what they ask of it, an effect with settable
// readings, a listener, and a drawing context that draws into pixels and records its texts.

#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "Shared/GUI/Control.h"
#include "Shared/GUI/ControlHost.h"
#include "Shared/GUI/DrawContext.h"
#include "Shared/GUI/PixelBuffer.h"

namespace pellucer::gui::test {

/// The rows of a table written in place: `for (auto [in, out] : Table<float, int>{{0.5f, 8}, ...})`.
template <typename... Columns> using Table = std::initializer_list<std::tuple<Columns...>>;

/// An effect with readings, module order and curves set by the test; it records module moves.
class FakeEngine : public ControlEngine {
public:
    std::map<int32_t, float> meters, reductions;
    std::vector<int32_t> resets;
    /// The icon of each slot: 0 compander, 1 EQ, 2 de-esser, 3 doubler, 4 delay.
    std::array<int32_t, 5> order{2, 0, 1, 3, 4};
    std::vector<std::pair<int32_t, int32_t>> moves;
    std::map<int32_t, GraphData> graphs;

    float meterReading(int32_t id) override { return meters.contains(id) ? meters[id] : 0.0f; }
    float reductionReading(int32_t id) override { return reductions.contains(id) ? reductions[id] : 1.0f; }
    void resetReading(int32_t id) override { resets.push_back(id); }
    std::array<int32_t, 5> moduleOrder() override { return order; }
    void moveModule(int32_t fromSlot, int32_t toPosition) override {
        moves.emplace_back(fromSlot, toPosition);
    }
    void graphData(int32_t mode, GraphData& out) override {
        if (graphs.contains(mode))
            out = graphs[mode];
    }
};

/// A frame without a window: records invalidations, capture, timers and cursor requests.
class FakeControlHost : public ControlHost {
public:
    bool window = true, withEngine = true;
    FakeEngine fakeEngine;
    std::vector<Rect> invalidations;
    Control* captured = nullptr;
    std::map<int32_t, std::pair<Control*, int32_t>> timers; ///< by id: the control and its period in ms
    int32_t nextTimer = 100;
    std::vector<bool> cursorShown; ///< every showCursor call in order (false: hidden)
    std::vector<Point> cursorMoves;

    bool hasWindow() const override { return window; }
    void invalidate(const Rect& r) override { invalidations.push_back(r); }
    void captureMouse(Control& control) override { captured = &control; }
    void releaseMouse(Control& control) override { captured = captured == &control ? nullptr : captured; }
    int32_t startTimer(Control& control, int32_t periodMs) override {
        timers[nextTimer] = {&control, periodMs};
        return nextTimer++;
    }
    void stopTimer(int32_t id) override { timers.erase(id); }
    void registerTicks(Control&) override {}
    void showCursor(bool show) override { cursorShown.push_back(show); }
    void moveCursorBy(int32_t dx, int32_t dy) override { cursorMoves.push_back({dx, dy}); }
    ControlEngine* engine() override { return withEngine ? &fakeEngine : nullptr; }

    /// Fires every running timer once, as the window's timer messages would.
    void fireTimers() {
        for (const auto& [id, timer] : std::map(timers))
            timer.first->timerTick(id);
    }
};

/// Every event a control sent, and where the last one happened (a context click's place).
class RecordingListener : public ControlListener {
public:
    std::vector<int32_t> codes;
    Point lastPosition;

    void controlEvent(Control&, int32_t eventCode, Point framePosition) override {
        codes.push_back(eventCode);
        lastPosition = framePosition;
    }
};

/// Pixel buffers and filled rectangles land in `surface`; text is recorded, not rendered, and
/// measured as 6 x 10 pixels per character. No control draws lines or clips.
class PixelDrawContext : public DrawContext {
public:
    static constexpr int32_t kCharWidth = 6, kCharHeight = 10;

    struct TextCall {
        bool atPoint, transparent; ///< atPoint: drawText(Point, ...) rather than drawText(Rect, ...)
        Point at;
        Rect rect;
        std::u16string text;
        int32_t alignment;
        const Font* font;
    };

    PixelBuffer surface;
    std::vector<TextCall> texts;

    PixelDrawContext(int32_t width, int32_t height) : surface(width, height) {}

    /// Copies a part of a bottom-up image (as a DIB section holds it).
    int32_t drawPixels(const uint8_t* pixels, int32_t byteSize, int32_t rowBytes, int32_t x, int32_t y,
                       int32_t w, int32_t h, int32_t sourceX, int32_t sourceY) override {
        const int32_t imageWidth = rowBytes / 4, imageHeight = byteSize / rowBytes;
        for (int32_t row = 0; row < h; ++row)
            for (int32_t column = 0; column < w; ++column) {
                const int32_t sx = sourceX + column, sy = sourceY + row;
                if (sx >= 0 && sy >= 0 && sx < imageWidth && sy < imageHeight && inside(x + column, y + row))
                    std::copy_n(pixels + (static_cast<size_t>(imageHeight - 1 - sy) * imageWidth + sx) * 4, 4,
                                surface.at(x + column, y + row));
            }
        return 0;
    }
    void fillRect(const Rect& r, Colour c) override {
        for (int32_t y = r.top; y < r.bottom(); ++y)
            for (int32_t x = r.left; x < r.right(); ++x)
                if (inside(x, y))
                    surface.setArgb(x, y,
                                    0xFF000000u | uint32_t{c.red} << 16 | uint32_t{c.green} << 8 | c.blue);
    }
    void line(Point, Point, Colour) override {}
    void dottedLine(Point, Point, Colour) override {}
    void drawText(Point at, std::u16string_view text, bool transparent) override {
        texts.push_back({true, transparent, at, {}, std::u16string(text), alignment_, font_});
    }
    void drawText(const Rect& r, std::u16string_view text, bool transparent) override {
        texts.push_back({false, transparent, {}, r, std::u16string(text), alignment_, font_});
    }
    void setTextAlign(int32_t alignment) override { alignment_ = alignment; }
    void setBackgroundColour(Colour) override {}
    void setTextColour(Colour) override {}
    Point measureText(std::u16string_view text) override {
        return {kCharWidth * static_cast<int32_t>(text.size()), kCharHeight};
    }
    const Font* selectFont(const Font* font) override { return std::exchange(font_, font); }
    void clip(const Rect&) override {}
    void unclip() override {}

    const Font* selectedFont() const { return font_; }
    /// Pixel (x, y) of the surface as 0xRRGGBB (alpha left out).
    uint32_t rgb(int32_t x, int32_t y) const { return surface.argb(x, y) & 0xFFFFFFu; }

private:
    bool inside(int32_t x, int32_t y) const {
        return x >= 0 && y >= 0 && x < surface.width() && y < surface.height();
    }

    int32_t alignment_ = kAlignLeft;
    const Font* font_ = nullptr;
};

/// A buffer filled with one 0xAARRGGBB value.
inline PixelBuffer solidBuffer(int32_t width, int32_t height, uint32_t argb) {
    PixelBuffer b(width, height);
    for (int32_t i = 0; i < width * height; ++i)
        b.setArgb(i % width, i / width, argb);
    return b;
}

/// A strip of `frames` frames of width x frameHeight whose image pixel (x, y) of frame k is
/// image(k, x, y) and whose mask's grey level is mask(k, x, y) (0..255).
template <typename ImageFn, typename MaskFn>
std::shared_ptr<ImageStrip> makeStrip(int32_t width, int32_t frameHeight, int32_t frames, ImageFn image,
                                      MaskFn mask) {
    auto strip = std::make_shared<ImageStrip>(ImageStrip{PixelBuffer(width, frameHeight * frames),
                                                         PixelBuffer(width, frameHeight * frames), frames});
    for (int32_t i = 0; i < width * frameHeight * frames; ++i) {
        const int32_t x = i % width, y = i / width, k = y / frameHeight;
        const auto m = static_cast<uint32_t>(mask(k, x, y % frameHeight)) & 0xFFu;
        strip->image.setArgb(x, y, image(k, x, y % frameHeight));
        strip->mask.setArgb(x, y, 0xFF000000u | m << 16 | m << 8 | m);
    }
    return strip;
}

/// Frame k is 0xFF000000 | k everywhere (the frame number in the blue byte) under a full mask:
/// what a control shows tells which frame it drew.
inline std::shared_ptr<ImageStrip> numberedStrip(int32_t width, int32_t frameHeight, int32_t frames) {
    return makeStrip(
        width, frameHeight, frames, [](int32_t k, auto...) { return 0xFF000000u | static_cast<uint32_t>(k); },
        [](auto...) { return 255; });
}

/// Adds `control` to `host` as a frame does: listener, host, then prepare over `background`.
inline void attach(Control& control, FakeControlHost& host, ControlListener& listener,
                   const PixelBuffer& background) {
    control.setListener(&listener);
    control.setHost(&host);
    control.prepare(background);
}

} // namespace pellucer::gui::test
