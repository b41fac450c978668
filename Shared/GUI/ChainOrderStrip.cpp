#include "Shared/GUI/ChainOrderStrip.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "Shared/GUI/DrawContext.h"

namespace pellucer::gui {

namespace {

/// Blends `colour` over the part of `r` inside `work` at `alpha` (0..255).
void blendRect(PixelBuffer& work, const Rect& r, Colour colour, uint32_t alpha) {
    const int32_t x0 = std::max(r.left, 0), x1 = std::min(r.right(), work.width());
    const int32_t y0 = std::max(r.top, 0), y1 = std::min(r.bottom(), work.height());
    for (int32_t y = y0; y < y1; ++y)
        for (int32_t x = x0; x < x1; ++x) {
            uint8_t* p = work.at(x, y);
            p[0] = static_cast<uint8_t>((colour.blue * alpha + p[0] * (255u - alpha) + 127u) / 255u);
            p[1] = static_cast<uint8_t>((colour.green * alpha + p[1] * (255u - alpha) + 127u) / 255u);
            p[2] = static_cast<uint8_t>((colour.red * alpha + p[2] * (255u - alpha) + 127u) / 255u);
        }
}

/// Blends the first frame of `icon` over `work` at (left, top) at `alpha` (255: opaque copy).
void blendIcon(PixelBuffer& work, const ImageStrip& icon, int32_t left, int32_t top, uint32_t alpha) {
    const int32_t w = icon.image.width(), h = icon.frameHeight();
    for (int32_t y = std::max(0, -top); y < h && top + y < work.height(); ++y)
        for (int32_t x = std::max(0, -left); x < w && left + x < work.width(); ++x) {
            const uint8_t* s = icon.image.at(x, y);
            uint8_t* p = work.at(left + x, top + y);
            for (int c = 0; c < 3; ++c)
                p[c] = static_cast<uint8_t>((s[c] * alpha + p[c] * (255u - alpha) + 127u) / 255u);
        }
}

} // namespace

ChainOrderStrip::ChainOrderStrip(int32_t id, const Rect& rect, std::shared_ptr<const ImageStrip> background,
                                 std::array<std::shared_ptr<const ImageStrip>, kSlots> icons)
    : Control(id, rect), icons_(std::move(icons)) {
    setStrip(std::move(background));
}

int32_t ChainOrderStrip::slotAt(int32_t x) const {
    const int32_t span = rect_.width + kWidthExtra;
    if (x < 0 || x >= span)
        return -1;
    return kSlots * x / span;
}

int32_t ChainOrderStrip::slotLeft(int32_t slot) const {
    return static_cast<int32_t>(slot * (rect_.width + kWidthExtra) / static_cast<double>(kSlots) + 0.5);
}

int32_t ChainOrderStrip::dropPosition(int32_t from, int32_t x) const {
    const int32_t span = rect_.width + kWidthExtra;
    int32_t target = static_cast<int32_t>(std::trunc(kSlots * static_cast<double>(x) / span));
    if (target == from)
        return -1;
    // The effect inserts before the module that was at the position, so a move to the right
    // names the position after the target slot: B of A B C D E dropped on C gives A C B D E.
    if (target > from)
        ++target;
    return std::clamp(target, 0, kSlots);
}

void ChainOrderStrip::setValue(float value) {
    storeValue(value);
    forceRedraw();
    invalidate();
}

void ChainOrderStrip::mouseDown(int32_t x, int32_t y, int32_t flags) {
    if ((flags & mouse::kLeft) == 0 || tracking_)
        return;
    const int32_t slot = slotAt(x);
    if (slot < 0)
        return;
    tracking_ = true;
    if (host_ != nullptr)
        host_->captureMouse(*this);
    dragSlot_ = slot;
    grabOffset_ = slotLeft(slot) - x;
    dragLeft_ = slotLeft(slot);
    notifyContextClick(x, y);
    forceRedraw();
    invalidate();
}

void ChainOrderStrip::mouseMove(int32_t x, int32_t, int32_t) {
    if (!tracking_)
        return;
    // The icon keeps the grab offset to the pointer and stays between the first slot's place
    // and the last one's.
    const int32_t lowest = -grabOffset_;
    const int32_t highest = std::max(lowest, rect_.width - slotLeft(1) - grabOffset_ + kWidthExtra);
    dragLeft_ = std::clamp(signedCoordinate(x), lowest, highest) + grabOffset_;
    forceRedraw();
    invalidate();
}

void ChainOrderStrip::mouseUp(int32_t x, int32_t y, int32_t) {
    if (!tracking_)
        return;
    tracking_ = false;
    if (host_ != nullptr)
        host_->releaseMouse(*this);
    const int32_t from = dragSlot_;
    dragSlot_ = -1;
    const int32_t position = dropPosition(from, signedCoordinate(x));
    if (position >= 0) {
        if (ControlEngine* engine = host_ != nullptr ? host_->engine() : nullptr)
            engine->moveModule(from, position);
    }
    notifyContextClick(signedCoordinate(x), signedCoordinate(y));
    forceRedraw();
    invalidate();
}

void ChainOrderStrip::compose() {
    if (strip_ != nullptr)
        compositeFrame(background_, *strip_, 0, weight(), work_);
    else
        work_ = background_;
    ControlEngine* engine = host_ != nullptr ? host_->engine() : nullptr;
    if (engine == nullptr)
        return;
    const std::array<int32_t, kSlots> order = engine->moduleOrder();
    auto iconOf = [&](int32_t slot) -> const ImageStrip* {
        const int32_t index = order[static_cast<size_t>(slot)];
        if (index < 0 || index >= kSlots)
            return nullptr;
        const ImageStrip* icon = icons_[static_cast<size_t>(index)].get();
        return icon != nullptr && !icon->image.empty() ? icon : nullptr;
    };
    for (int32_t slot = 0; slot < kSlots; ++slot) {
        const ImageStrip* icon = iconOf(slot);
        if (icon == nullptr)
            continue;
        // The dragged module's own slot keeps a faint ghost of it, to show where it came from.
        blendIcon(work_, *icon, slotLeft(slot), kIconTop, slot == dragSlot_ ? 70u : 255u);
    }
    if (dragSlot_ < 0)
        return;
    const ImageStrip* icon = iconOf(dragSlot_);
    if (icon == nullptr)
        return;
    // The dragged icon is lifted over the others: a soft shadow below and to the right, the
    // icon itself a little higher, and a light rim.
    const int32_t w = icon->image.width(), h = icon->frameHeight();
    const int32_t top = kIconTop - kLift;
    const Colour black{0, 0, 0};
    blendRect(work_, {dragLeft_ + 3, top + 4, w, h}, black, 40);
    blendRect(work_, {dragLeft_ + 2, top + 3, w, h}, black, 60);
    blendIcon(work_, *icon, dragLeft_, top, 255);
    const Colour rim{255, 255, 255};
    blendRect(work_, {dragLeft_, top, w, 1}, rim, 110);
    blendRect(work_, {dragLeft_, top + h - 1, w, 1}, rim, 60);
    blendRect(work_, {dragLeft_, top + 1, 1, h - 2}, rim, 90);
    blendRect(work_, {dragLeft_ + w - 1, top + 1, 1, h - 2}, rim, 60);
}

bool ChainOrderStrip::draw(DrawContext& context) {
    if (frame_ == lastDrawn_ || work_.empty())
        return false;
    compose();
    if (highlight_ != Colour{})
        blendFrameLine(work_, highlight_, 1);
    context.drawPixels(work_.data(), work_.byteSize(), work_.rowBytes(), rect_.left, rect_.top, work_.width(),
                       work_.height(), 0, 0);
    lastDrawn_ = frame_;
    return true;
}

} // namespace pellucer::gui
