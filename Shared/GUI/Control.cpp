#include "Shared/GUI/Control.h"

#include <algorithm>
#include <cmath>

#include "Shared/GUI/DrawContext.h"

namespace pellucer::gui {

namespace {

/// A 0..1 setting as 0..255, truncated; NaN counts as 0.
int32_t byteFromUnit(float unit) {
    if (!(unit > 0.0f))
        return 0;
    return static_cast<int32_t>(std::min(unit, 1.0f) * 255.0f);
}

const std::u16string kNoText;

} // namespace

Control::Control(int32_t id, const Rect& rect, int32_t frames)
    : id_(id), rect_(rect), frames_(std::max(frames, 1)) {
    levels_.fill(255);
}

Control::~Control() = default;

bool Control::draw(DrawContext& context) {
    if (frame_ == lastDrawn_)
        return false;
    if (strip_ == nullptr || strip_->empty() || work_.empty())
        return false; // no skin: the control works but stays undrawn
    drawStrip(context);
    lastDrawn_ = frame_;
    return true;
}

void Control::prepare(const PixelBuffer& background) {
    background_.resize(rect_.width, rect_.height);
    copyPixels(background, rect_.left, rect_.top, rect_.width, rect_.height, background_, 0, 0);
    work_ = background_;
    forceRedraw();
}

void Control::show() {
    visible_ = true;
    forceRedraw();
    invalidate();
}

void Control::hide() {
    visible_ = false;
    forceRedraw();
}

void Control::setValue(float value) {
    storeValue(value);
    setFrame(frameForValue());
}

void Control::setDefault(float value) {
    default_ = std::isnan(value) ? 0.0 : std::clamp(static_cast<double>(value), 0.0, 1.0);
}

void Control::setPosition(int32_t x, int32_t y) {
    rect_.left = x;
    rect_.top = y;
}

void Control::setOpacity(float opacity) {
    opacity_ = byteFromUnit(opacity);
    forceRedraw();
    invalidate();
}

void Control::setLevel(int32_t index, float level) {
    if (index < 0 || index >= kLevels)
        return;
    levels_[static_cast<size_t>(index)] = byteFromUnit(level);
    if (index == levelIndex_)
        forceRedraw();
}

void Control::setId(int32_t id) {
    id_ = id;
    if (visible_) {
        forceRedraw();
        invalidate();
    }
}

void Control::setText(int32_t slot, const std::u16string& text) {
    if (slot < 0 || slot >= kTextSlots)
        return;
    if (texts_.size() <= static_cast<size_t>(slot))
        texts_.resize(static_cast<size_t>(slot) + 1);
    if (texts_[static_cast<size_t>(slot)] == text)
        return;
    texts_[static_cast<size_t>(slot)] = text;
    forceRedraw();
    invalidate();
}

const std::u16string& Control::text(int32_t slot) const {
    if (slot < 0 || static_cast<size_t>(slot) >= texts_.size())
        return kNoText;
    return texts_[static_cast<size_t>(slot)];
}

void Control::setLevelIndex(int32_t index) {
    if (index < 0 || index >= kLevels || index == levelIndex_)
        return;
    levelIndex_ = index;
    forceRedraw();
}

void Control::beginEdit() {
    editing_ = true;
    notify(event::kBeginEdit);
}

void Control::endEdit() {
    if (!editing_)
        return;
    editing_ = false;
    notify(event::kEndEdit);
}

void Control::setHighlight(Colour colour) {
    highlight_ = colour;
    forceRedraw();
    invalidate();
}

void Control::mouseDown(int32_t, int32_t, int32_t) {}
void Control::mouseUp(int32_t, int32_t, int32_t) {}
void Control::mouseMove(int32_t, int32_t, int32_t) {}
void Control::doubleClick(int32_t, int32_t, int32_t) {}
void Control::wheel(int32_t, int32_t, int32_t, int32_t) {}
bool Control::keyDown(int32_t) { return false; }
void Control::keyUp(int32_t) {}
void Control::timerTick(int32_t) {}

void Control::focusOn() {
    focus_ = true;
    forceRedraw();
    invalidate();
}

void Control::focusOff() {
    focus_ = false;
    forceRedraw();
    invalidate();
}

void Control::setStrip(std::shared_ptr<const ImageStrip> strip) {
    strip_ = std::move(strip);
    forceRedraw();
}

void Control::storeValue(double value) { value_ = std::isnan(value) ? 0.0 : std::clamp(value, 0.0, 1.0); }

int32_t Control::frameForValue() const {
    return static_cast<int32_t>(static_cast<double>(frames_ - 1) * value_);
}

void Control::invalidate() {
    if (host_ != nullptr && host_->hasWindow())
        host_->invalidate(rect_);
}

bool Control::setFrame(int32_t frame) {
    frame = std::clamp(frame, 0, frames_ - 1);
    if (frame == frame_)
        return false;
    frame_ = frame;
    invalidate();
    return true;
}

void Control::notify(int32_t eventCode) {
    if (listener_ != nullptr)
        listener_->controlEvent(*this, eventCode, clickPosition_);
}

void Control::notifyContextClick(int32_t x, int32_t y) {
    clickPosition_ = {rect_.left + x, rect_.top + y};
    notify(event::kContextClick);
}

void Control::drawStrip(DrawContext& context) {
    if (strip_ != nullptr)
        compositeFrame(background_, *strip_, frame_, weight(), work_);
    else
        work_ = background_;
    if (highlight_ != Colour{})
        blendFrameLine(work_, highlight_, 1);
    context.drawPixels(work_.data(), work_.byteSize(), work_.rowBytes(), rect_.left, rect_.top, work_.width(),
                       work_.height(), 0, 0);
}

int32_t Control::weight() const {
    // The level entry times the opacity over 256, with each factor counted 1..256 rather than
    // 0..255: (255 + 1) x (255 + 1) / 256 - 1 = 255, so a full level at full opacity composites
    // the image completely (compositeFrame's 255), while either factor at 0 still gives 0.
    const int32_t level = levels_[static_cast<size_t>(levelIndex_)];
    return ((level + 1) * (opacity_ + 1) - 1) >> 8;
}

} // namespace pellucer::gui
