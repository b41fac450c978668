#include "Shared/GUI/TextLabel.h"

#include <algorithm>
#include <utility>

#include "Shared/GUI/DrawContext.h"

namespace pellucer::gui {

TextLabel::TextLabel(int32_t id, const Rect& rect, std::shared_ptr<const Font> font, Colour textColour,
                     int32_t alignment)
    : Control(id, rect), font_(std::move(font)), textColour_(textColour), alignment_(alignment) {}

void TextLabel::setTextColour(Colour colour) {
    if (colour == textColour_)
        return;
    textColour_ = colour;
    forceRedraw();
    invalidate();
}

void TextLabel::setRange(double minimum, double maximum) {
    minimum_ = std::min(minimum, maximum);
    maximum_ = std::max(minimum, maximum);
}

bool TextLabel::draw(DrawContext& context) {
    if (frame_ == lastDrawn_)
        return false;
    // The saved background first, so that the old text is gone before the new one goes over.
    if (!background_.empty())
        context.drawPixels(background_.data(), background_.byteSize(), background_.rowBytes(), rect_.left,
                           rect_.top, background_.width(), background_.height(), 0, 0);
    const Font* previous = context.selectFont(font_.get());
    context.setTextColour(textColour_);
    context.setTextAlign(alignment_);
    context.drawText(rect_, text(0), true);
    context.selectFont(previous);
    lastDrawn_ = frame_;
    return true;
}

} // namespace pellucer::gui
