#pragma once

#include <memory>

#include "Shared/GUI/Control.h"

namespace pellucer::gui {

/// A multi-state switch (enable switches, tabs, power): each left click steps to the next of
/// its `frames` states, wrapping past the last; Control+click returns to the default; a right
/// click (or Alt+click) is a context click when those are allowed, else a step back. The value
/// of state k is k / (frames - 1).
class Switch : public Control {
public:
    Switch(int32_t id, const Rect& rect, std::shared_ptr<const ImageStrip> strip, int32_t frames = 2);

    /// Whether stepping past either end wraps round (on by default) or stops there.
    void setWrap(bool wrap) { wrap_ = wrap; }
    bool wrap() const { return wrap_; }

    void mouseDown(int32_t x, int32_t y, int32_t flags) override;
    void doubleClick(int32_t x, int32_t y, int32_t flags) override;
    bool keyDown(int32_t key) override;

protected:
    int32_t frameForValue() const override;

private:
    /// One click with `flags`; a click without button flags counts as a left click.
    void click(int32_t x, int32_t y, int32_t flags);
    /// Moves `by` states (wrapping or stopping as set) and reports the new value.
    void step(int32_t by);
    /// Stores `value`, reports it as one gesture and shows its frame.
    void commit(double value);

    bool wrap_ = true;
};

} // namespace pellucer::gui
