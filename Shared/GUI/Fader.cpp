#include "Shared/GUI/Fader.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "Shared/GUI/DrawContext.h"

namespace pellucer::gui {

namespace {

int32_t handleHeightOf(const std::shared_ptr<const ImageStrip>& handle) {
    return handle != nullptr && handle->frameHeight() > 0 ? handle->frameHeight()
                                                          : Fader::kDefaultHandleHeight;
}

int32_t travelOf(const Rect& rect, int32_t handleHeight) {
    return std::max(rect.height - handleHeight - 1, 0);
}

} // namespace

Fader::Fader(int32_t id, const Rect& rect, std::shared_ptr<const ImageStrip> handle, double defaultValue)
    : Control(id, rect, travelOf(rect, handleHeightOf(handle)) + 1), handleHeight_(handleHeightOf(handle)),
      travel_(travelOf(rect, handleHeight_)) {
    setStrip(std::move(handle));
    storeValue(defaultValue);
    default_ = value_;
    frame_ = frameForValue();
}

int32_t Fader::frameForValue() const { return static_cast<int32_t>(std::lround(travel_ * (1.0 - value_))); }

void Fader::prepare(const PixelBuffer& background) {
    Control::prepare(background);
    underHandle_.resize(rect_.width, handleHeight_);
    handleWork_.resize(rect_.width, handleHeight_);
}

bool Fader::draw(DrawContext& context) {
    if (frame_ == lastDrawn_)
        return false;
    if (strip_ == nullptr || strip_->empty() || work_.empty())
        return false;
    // The handle is composited over the background behind its place only, and that piece is
    // put into a fresh copy of the whole background, so the old place comes back clean.
    work_ = background_;
    copyPixels(background_, 0, frame_, rect_.width, handleHeight_, underHandle_, 0, 0);
    compositeFrame(underHandle_, *strip_, 0, weight(), handleWork_);
    copyPixels(handleWork_, 0, 0, rect_.width, handleHeight_, work_, 0, frame_);
    if (highlight_ != Colour{})
        blendFrameLine(work_, highlight_, 1);
    context.drawPixels(work_.data(), work_.byteSize(), work_.rowBytes(), rect_.left, rect_.top, work_.width(),
                       work_.height(), 0, 0);
    lastDrawn_ = frame_;
    return true;
}

void Fader::setValue(float value) {
    if (tracking_)
        return;
    Control::setValue(value);
}

void Fader::mouseDown(int32_t x, int32_t y, int32_t flags) {
    clickPosition_ = {rect_.left + x, rect_.top + y};
    if ((flags & mouse::kLeft) == 0 || (flags & mouse::kRight) != 0 || tracking_)
        return;
    tracking_ = true;
    if (host_ != nullptr) {
        host_->captureMouse(*this);
        host_->showCursor(false);
    }
    dragStartValue_ = value_;
    home_ = anchor_ = signedCoordinate(y);
    dragFine_ = (flags & mouse::kShift) != 0;
}

void Fader::mouseMove(int32_t, int32_t y, int32_t flags) {
    if (!tracking_)
        return;
    const int32_t position = signedCoordinate(y);
    const bool fine = (flags & mouse::kShift) != 0;
    if (fine != dragFine_) {
        // A change of gearing continues from where the handle is, without a jump.
        dragStartValue_ = value_;
        anchor_ = position;
        dragFine_ = fine;
    }
    const int32_t pixelsUp = anchor_ - position;
    const double steps = std::trunc(pixelsUp * kDragSpeed / (kStep * kDragPixels));
    const double value = std::clamp(dragStartValue_ + (fine ? kFineStep : kStep) * steps, 0.0, 1.0);
    if (value != value_) {
        // The gesture begins with its first real change: a click that does not move the handle
        // is no edit at all.
        if (!editing_)
            beginEdit();
        change(value);
    }
    // Pull the hidden cursor back towards where the drag began, and move the anchor with it so
    // that the next position counts on from here.
    int32_t pull = 0;
    if (position < home_ - kCursorLeash)
        pull = kCursorLeash;
    else if (position > home_ + kCursorLeash)
        pull = -kCursorLeash;
    if (pull != 0) {
        anchor_ += pull;
        if (host_ != nullptr)
            host_->moveCursorBy(0, pull);
    }
}

void Fader::mouseUp(int32_t, int32_t, int32_t) {
    if (!tracking_)
        return;
    tracking_ = false;
    if (host_ != nullptr) {
        host_->releaseMouse(*this);
        host_->showCursor(true);
    }
    endEdit();
}

void Fader::doubleClick(int32_t, int32_t, int32_t) { change(default_); }

void Fader::wheel(int32_t, int32_t, int32_t flags, int32_t delta) {
    double step = kWheelStep;
    if ((flags & mouse::kShift) != 0)
        step = kFineWheelStep;
    else if ((flags & mouse::kControl) != 0)
        step = kCoarseWheelStep;
    change(value_ + (delta >= 1 ? step : -step));
}

void Fader::change(double value) {
    storeValue(value);
    notify(event::kValueChanged);
    setFrame(frameForValue());
}

} // namespace pellucer::gui
