#include "Shared/GUI/Switch.h"

#include <algorithm>
#include <utility>

namespace pellucer::gui {

Switch::Switch(int32_t id, const Rect& rect, std::shared_ptr<const ImageStrip> strip, int32_t frames)
    : Control(id, rect, frames) {
    setStrip(std::move(strip));
}

int32_t Switch::frameForValue() const {
    // For two states: below 0.5 is off, 0.5 and above is on.
    return std::min(static_cast<int32_t>(value_ * frames_), frames_ - 1);
}

void Switch::mouseDown(int32_t x, int32_t y, int32_t flags) {
    if ((flags & (mouse::kLeft | mouse::kRight)) == 0)
        return;
    click(x, y, flags);
}

void Switch::doubleClick(int32_t x, int32_t y, int32_t flags) {
    // The second press of a double click arrives here instead of as a mouse down.
    click(x, y, flags);
}

bool Switch::keyDown(int32_t key) {
    if (key == key::kUp)
        step(1);
    else if (key == key::kDown)
        step(-1);
    else
        return false;
    return true;
}

void Switch::click(int32_t x, int32_t y, int32_t flags) {
    clickPosition_ = {rect_.left + x, rect_.top + y};
    const bool right = (flags & mouse::kRight) != 0;
    if (right || (flags & mouse::kAlt) != 0) {
        if (contextClicks_)
            notifyContextClick(x, y);
        else
            step(-1);
        return;
    }
    if ((flags & mouse::kControl) != 0)
        commit(default_);
    else
        step(1);
}

void Switch::step(int32_t by) {
    int32_t frame = frameForValue() + by;
    if (frame < 0 || frame >= frames_)
        frame = wrap_ ? (frame + frames_) % frames_ : std::clamp(frame, 0, frames_ - 1);
    commit(frames_ > 1 ? static_cast<double>(frame) / (frames_ - 1) : 0.0);
}

void Switch::commit(double value) {
    storeValue(value);
    beginEdit();
    notify(event::kValueChanged);
    endEdit();
    setFrame(frameForValue());
}

} // namespace pellucer::gui
