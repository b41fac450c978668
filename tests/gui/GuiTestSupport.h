#pragma once

// A frame, an effect and a drawing surface without a window, for driving controls in tests:
// FakeControlHost records what controls ask of their frame, FakeEngine answers with settable
// readings, RecordingListener keeps every event, PixelDrawContext draws into a pixel buffer and
// records its text calls.

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Shared/GUI/Control.h"
#include "Shared/GUI/ControlHost.h"
#include "Shared/GUI/DrawContext.h"
#include "Shared/GUI/PixelBuffer.h"

namespace pellucer::gui::test {

/// An effect with readings, module order and graph curves set by the test.
class FakeEngine : public ControlEngine {
public:
    std::map<int32_t, float> meters;
    std::map<int32_t, float> reductions;
    std::vector<int32_t> resets;
    /// Icon index per slot (0 compander, 1 EQ, 2 de-esser, 3 doubler, 4 delay).
    std::array<int32_t, 5> order{2, 0, 1, 3, 4};
    std::vector<std::pair<int32_t, int32_t>> moves;
    std::map<int32_t, GraphData> graphs;
    std::vector<int32_t> graphRequests;

    float meterReading(int32_t id) override {
        auto it = meters.find(id);
        return it != meters.end() ? it->second : 0.0f;
    }
    float reductionReading(int32_t id) override {
        auto it = reductions.find(id);
        return it != reductions.end() ? it->second : 1.0f;
    }
    void resetReading(int32_t id) override { resets.push_back(id); }
    std::array<int32_t, 5> moduleOrder() override { return order; }
    /// Records the move and applies it as the effect does: the module is taken out and put
    /// before the module that was at `toPosition` (5: at the end).
    void moveModule(int32_t fromSlot, int32_t toPosition) override {
        moves.emplace_back(fromSlot, toPosition);
        if (fromSlot < 0 || fromSlot > 4 || toPosition < 0 || toPosition > 5)
            return;
        std::vector<int32_t> modules(order.begin(), order.end());
        const int32_t moved = modules[static_cast<size_t>(fromSlot)];
        modules.insert(modules.begin() + toPosition, moved);
        modules.erase(modules.begin() + (toPosition <= fromSlot ? fromSlot + 1 : fromSlot));
        std::copy(modules.begin(), modules.end(), order.begin());
    }
    void graphData(int32_t mode, GraphData& out) override {
        graphRequests.push_back(mode);
        auto it = graphs.find(mode);
        if (it != graphs.end())
            out = it->second;
    }
};

/// A frame without a window: records invalidations, capture, timers and cursor requests.
class FakeControlHost : public ControlHost {
public:
    struct Timer {
        Control* control;
        int32_t periodMs;
    };

    bool window = true;
    bool withEngine = true;
    FakeEngine fakeEngine;
    std::vector<Rect> invalidations;
    Control* captured = nullptr;
    int32_t captures = 0;
    int32_t releases = 0;
    std::map<int32_t, Timer> timers;
    std::vector<int32_t> stoppedTimers;
    std::vector<Control*> ticking;
    /// Every showCursor call in order (false: hidden).
    std::vector<bool> cursorShown;
    std::vector<Point> cursorMoves;

    bool hasWindow() const override { return window; }
    void invalidate(const Rect& r) override { invalidations.push_back(r); }
    void captureMouse(Control& control) override {
        captured = &control;
        ++captures;
    }
    void releaseMouse(Control& control) override {
        if (captured == &control)
            captured = nullptr;
        ++releases;
    }
    int32_t startTimer(Control& control, int32_t periodMs) override {
        const int32_t id = nextTimer_++;
        timers[id] = {&control, periodMs};
        return id;
    }
    void stopTimer(int32_t id) override {
        stoppedTimers.push_back(id);
        timers.erase(id);
    }
    void registerTicks(Control& control) override { ticking.push_back(&control); }
    void showCursor(bool show) override { cursorShown.push_back(show); }
    void moveCursorBy(int32_t dx, int32_t dy) override { cursorMoves.push_back({dx, dy}); }
    ControlEngine* engine() override { return withEngine ? &fakeEngine : nullptr; }

    /// Fires every running timer once, as the window's timer messages would.
    void fireTimers() {
        const auto running = timers;
        for (const auto& [id, timer] : running)
            timer.control->timerTick(id);
    }

private:
    int32_t nextTimer_ = 100;
};

/// Every event a control sent, with the control's id and value at that moment.
class RecordingListener : public ControlListener {
public:
    struct Event {
        int32_t id;
        int32_t code;
        double value;
        Point position;
    };
    std::vector<Event> events;

    void controlEvent(Control& control, int32_t eventCode, Point framePosition) override {
        events.push_back({control.id(), eventCode, control.value(), framePosition});
    }
    std::vector<int32_t> codes() const {
        std::vector<int32_t> c;
        for (const Event& e : events)
            c.push_back(e.code);
        return c;
    }
    /// The values of the value-changed events.
    std::vector<double> values() const {
        std::vector<double> v;
        for (const Event& e : events)
            if (e.code == event::kValueChanged)
                v.push_back(e.value);
        return v;
    }
    void clear() { events.clear(); }
};

/// A drawing surface in memory: pixel buffers and filled rectangles land in `surface`;
/// lines are drawn as GDI draws them (end point left out); text is recorded, not rendered,
/// and measured as 6 x 10 pixels per character.
class PixelDrawContext : public DrawContext {
public:
    static constexpr int32_t kUnexpected = static_cast<int32_t>(0x8000FFFFu);
    static constexpr int32_t kCharWidth = 6;
    static constexpr int32_t kCharHeight = 10;

    struct TextCall {
        bool atPoint; ///< drawText(Point, ...) rather than drawText(Rect, ...)
        Point at;
        Rect rect;
        std::u16string text;
        bool transparent;
        int32_t alignment;
        Colour colour;
        const Font* font;
    };
    struct LineCall {
        Point from;
        Point to;
        Colour colour;
        bool dotted;
    };

    PixelBuffer surface;
    std::vector<TextCall> texts;
    std::vector<LineCall> lines;
    std::vector<std::pair<Rect, Colour>> fills;
    int32_t pixelDraws = 0;

    PixelDrawContext(int32_t width, int32_t height) : surface(width, height) {}

    int32_t drawPixels(const uint8_t* pixels, int32_t byteSize, int32_t rowBytes, int32_t x, int32_t y,
                       int32_t w, int32_t h, int32_t sourceX, int32_t sourceY) override {
        if (surface.empty() || pixels == nullptr || rowBytes <= 0)
            return kUnexpected;
        ++pixelDraws;
        const int32_t imageWidth = rowBytes / 4, imageHeight = byteSize / rowBytes;
        for (int32_t row = 0; row < h; ++row)
            for (int32_t column = 0; column < w; ++column) {
                const int32_t sx = sourceX + column, sy = sourceY + row;
                if (sx < 0 || sy < 0 || sx >= imageWidth || sy >= imageHeight || !inside(x + column, y + row))
                    continue;
                const uint8_t* s = pixels + (static_cast<size_t>(imageHeight - 1 - sy) * imageWidth + sx) * 4;
                uint8_t* t = surface.at(x + column, y + row);
                std::copy_n(s, 4, t);
            }
        return 0;
    }
    void fillRect(const Rect& r, Colour colour) override {
        fills.emplace_back(r, colour);
        for (int32_t y = r.top; y < r.bottom(); ++y)
            for (int32_t x = r.left; x < r.right(); ++x)
                if (inside(x, y))
                    surface.setArgb(x, y,
                                    0xFF000000u | (uint32_t{colour.red} << 16) |
                                        (uint32_t{colour.green} << 8) | colour.blue);
    }
    void line(Point from, Point to, Colour colour) override { lines.push_back({from, to, colour, false}); }
    void dottedLine(Point from, Point to, Colour colour) override {
        lines.push_back({from, to, colour, true});
    }
    void drawText(Point at, std::u16string_view text, bool transparent) override {
        texts.push_back({true, at, {}, std::u16string(text), transparent, alignment_, textColour_, font_});
    }
    void drawText(const Rect& r, std::u16string_view text, bool transparent) override {
        texts.push_back({false, {}, r, std::u16string(text), transparent, alignment_, textColour_, font_});
    }
    void setTextAlign(int32_t alignment) override { alignment_ = alignment; }
    void setBackgroundColour(Colour colour) override { backgroundColour_ = colour; }
    void setTextColour(Colour colour) override { textColour_ = colour; }
    Point measureText(std::u16string_view text) override {
        return {kCharWidth * static_cast<int32_t>(text.size()), kCharHeight};
    }
    const Font* selectFont(const Font* font) override { return std::exchange(font_, font); }
    void clip(const Rect& r) override {
        clip_ = r;
        clipped_ = true;
    }
    void unclip() override { clipped_ = false; }

    const Font* selectedFont() const { return font_; }
    /// Pixel (x, y) of the surface as 0xRRGGBB (alpha left out).
    uint32_t rgb(int32_t x, int32_t y) const { return surface.argb(x, y) & 0xFFFFFFu; }

private:
    bool inside(int32_t x, int32_t y) const {
        if (x < 0 || y < 0 || x >= surface.width() || y >= surface.height())
            return false;
        return !clipped_ || clip_.contains({x, y});
    }

    int32_t alignment_ = kAlignLeft;
    Colour textColour_{};
    Colour backgroundColour_{255, 255, 255};
    const Font* font_ = nullptr;
    Rect clip_{};
    bool clipped_ = false;
};

/// A buffer filled with one 0xAARRGGBB value.
inline PixelBuffer solidBuffer(int32_t width, int32_t height, uint32_t argb) {
    PixelBuffer b(width, height);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            b.setArgb(x, y, argb);
    return b;
}

/// A strip of `frames` frames of width x frameHeight whose image pixel (x, y) of frame k is
/// image(k, x, y) and whose mask's grey level is mask(k, x, y) (0..255).
template <typename ImageFn, typename MaskFn>
std::shared_ptr<ImageStrip> makeStrip(int32_t width, int32_t frameHeight, int32_t frames, ImageFn image,
                                      MaskFn mask) {
    auto strip = std::make_shared<ImageStrip>();
    strip->frames = frames;
    strip->image.resize(width, frameHeight * frames);
    strip->mask.resize(width, frameHeight * frames);
    for (int32_t k = 0; k < frames; ++k)
        for (int32_t y = 0; y < frameHeight; ++y)
            for (int32_t x = 0; x < width; ++x) {
                strip->image.setArgb(x, k * frameHeight + y, image(k, x, y));
                const uint32_t m = static_cast<uint32_t>(mask(k, x, y)) & 0xFFu;
                strip->mask.setArgb(x, k * frameHeight + y, 0xFF000000u | (m << 16) | (m << 8) | m);
            }
    return strip;
}

/// A strip whose every image pixel of frame k is `0xFF000000 | k` (the frame number in the
/// blue byte) under a full mask: what a control shows tells which frame it drew.
inline std::shared_ptr<ImageStrip> numberedStrip(int32_t width, int32_t frameHeight, int32_t frames) {
    return makeStrip(
        width, frameHeight, frames,
        [](int32_t k, int32_t, int32_t) { return 0xFF000000u | static_cast<uint32_t>(k); },
        [](int32_t, int32_t, int32_t) { return 255; });
}

/// Adds `control` to `host` as a frame does: listener, host, then prepare over `background`.
inline void attach(Control& control, FakeControlHost& host, ControlListener& listener,
                   const PixelBuffer& background) {
    control.setListener(&listener);
    control.setHost(&host);
    control.prepare(background);
}

} // namespace pellucer::gui::test
