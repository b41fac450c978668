#include "Shared/GUI/Knob.h"

#include <utility>

namespace pellucer::gui {

namespace {

int32_t framesOf(const std::shared_ptr<const ImageStrip>& strip) {
    return strip != nullptr && strip->frames > 1 ? strip->frames : Knob::kDefaultFrames;
}

} // namespace

Knob::Knob(int32_t id, const Rect& rect, std::shared_ptr<const ImageStrip> strip, double defaultValue)
    : Control(id, rect, framesOf(strip)) {
    setStrip(std::move(strip));
    storeValue(defaultValue);
    default_ = value_;
    frame_ = frameForValue();
}

void Knob::setValue(float value) {
    // The hand that turns the knob wins over the effect until the gesture ends.
    if (tracking_ || editing_)
        return;
    Control::setValue(value);
}

void Knob::mouseDown(int32_t x, int32_t y, int32_t flags) {
    clickPosition_ = {rect_.left + x, rect_.top + y};
    if ((flags & mouse::kRight) != 0 || ((flags & mouse::kLeft) != 0 && (flags & mouse::kAlt) != 0)) {
        notifyContextClick(x, y);
        return;
    }
    if ((flags & mouse::kLeft) == 0 || tracking_)
        return;
    tracking_ = true;
    if (host_ != nullptr)
        host_->captureMouse(*this);
    beginEdit();
    dragStart_ = signedCoordinate(horizontal_ ? x : y);
    dragStartValue_ = value_;
    dragFine_ = (flags & mouse::kShift) != 0;
}

void Knob::mouseMove(int32_t x, int32_t y, int32_t flags) {
    if (!tracking_)
        return;
    const int32_t position = signedCoordinate(horizontal_ ? x : y);
    const bool fine = (flags & mouse::kShift) != 0;
    if (fine != dragFine_) {
        // Pressing or letting go of Shift mid-drag changes the gearing from here on, without
        // a jump: the drag continues from the current value and position.
        dragStart_ = position;
        dragStartValue_ = value_;
        dragFine_ = fine;
    }
    const double pixels = fine ? kFinePixelsPerRange : kPixelsPerRange;
    const double moved = static_cast<double>(position - dragStart_) / pixels;
    // Screen y grows downwards, so a vertical knob rises as the pointer goes up.
    change(horizontal_ ? dragStartValue_ + moved : dragStartValue_ - moved);
}

void Knob::mouseUp(int32_t, int32_t, int32_t) {
    if (!tracking_)
        return;
    tracking_ = false;
    if (host_ != nullptr)
        host_->releaseMouse(*this);
    endEdit();
}

void Knob::doubleClick(int32_t, int32_t, int32_t) {
    storeValue(default_);
    beginEdit();
    notify(event::kValueChanged);
    endEdit();
    setFrame(frameForValue());
}

void Knob::wheel(int32_t, int32_t, int32_t flags, int32_t delta) {
    const double step = (flags & mouse::kShift) != 0 ? kFineWheelStep : kWheelStep;
    storeValue(value_ + (delta >= 1 ? step : -step));
    beginEdit();
    notify(event::kValueChanged);
    endEdit();
    setFrame(frameForValue());
}

bool Knob::keyDown(int32_t key) {
    if (tracking_)
        return false;
    double value = value_;
    switch (key) {
    case key::kEnd:
        value = 1.0;
        break;
    case key::kHome:
        value = 0.0;
        break;
    case key::kPageUp:
        value += 0.05;
        break;
    case key::kPageDown:
        value -= 0.05;
        break;
    case key::kUp:
        value += 0.01;
        break;
    case key::kDown:
        value -= 0.01;
        break;
    case key::kRight:
        value += 0.001;
        break;
    case key::kLeft:
        value -= 0.001;
        break;
    default:
        return false;
    }
    storeValue(value);
    // A held key repeats its key down; the gesture began with the first one and ends with the
    // key up of the last key pressed, so the listener sees one begin and one end per press.
    if (!editing_)
        beginEdit();
    heldKey_ = key;
    notify(event::kValueChanged);
    setFrame(frameForValue());
    return true;
}

void Knob::keyUp(int32_t key) {
    if (heldKey_ == 0 || key != heldKey_)
        return;
    heldKey_ = 0;
    endEdit();
}

void Knob::focusOff() {
    if (heldKey_ != 0) {
        heldKey_ = 0;
        endEdit();
    }
    Control::focusOff();
}

void Knob::change(double value) {
    storeValue(value);
    notify(event::kValueChanged);
    setFrame(frameForValue());
}

} // namespace pellucer::gui
