#pragma once

#include <memory>

#include "Shared/GUI/Control.h"

namespace pellucer::gui {

class Font;

/// A line of text (text slot 0) in its rectangle, drawn transparently over the background
/// saved under it, in one font and colour. The value readout also carries the shown
/// parameter's number in its native unit and the range a direct entry may give.
class TextLabel : public Control {
public:
    /// `alignment` as DrawContext's text alignment (0 right, 1 left, 2 centre).
    TextLabel(int32_t id, const Rect& rect, std::shared_ptr<const Font> font, Colour textColour,
              int32_t alignment);

    bool draw(DrawContext& context) override;
    bool acceptsFocus() const override { return false; }

    void setTextColour(Colour colour);
    Colour textColour() const { return textColour_; }
    int32_t alignment() const { return alignment_; }
    const Font* font() const { return font_.get(); }

    /// The number the label shows, in the parameter's own unit (for direct entry).
    void setNumber(double number) { number_ = number; }
    double number() const { return number_; }
    /// The range a direct entry accepts.
    void setRange(double minimum, double maximum);
    double minimum() const { return minimum_; }
    double maximum() const { return maximum_; }

private:
    std::shared_ptr<const Font> font_;
    Colour textColour_;
    int32_t alignment_;
    double number_ = 0.0;
    double minimum_ = 0.0;
    double maximum_ = 1.0;
};

} // namespace pellucer::gui
