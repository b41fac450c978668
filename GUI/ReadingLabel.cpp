#include "GUI/ReadingLabel.h"

#include <algorithm>

#include "GUI/ValueText.h"
#include "Shared/GUI/DrawContext.h"

namespace pellucer {

ReadingLabel::ReadingLabel(int32_t id, const gui::Rect& rect, std::shared_ptr<const gui::Font> font,
                           gui::Colour colour, int32_t alignment, const std::u16string& initialText)
    : TextLabel(id, rect, std::move(font), colour, alignment), textArea_{0, 0, rect.width, rect.height} {
    setTakesMouse(false);
    setText(0, initialText);
}

void ReadingLabel::setTextArea(const gui::Rect& area) {
    const int32_t left = std::clamp(area.left, 0, rect_.width);
    const int32_t top = std::clamp(area.top, 0, rect_.height);
    textArea_ = {left, top, std::clamp(area.width, 0, rect_.width - left),
                 std::clamp(area.height, 0, rect_.height - top)};
    forceRedraw();
    invalidate();
}

void ReadingLabel::prepare(const gui::PixelBuffer& background) {
    TextLabel::prepare(background);
    if (host_ != nullptr && timerId_ == 0)
        timerId_ = host_->startTimer(*this, kRefreshMs);
}

bool ReadingLabel::draw(gui::DrawContext& context) {
    if (frame_ == lastDrawn_)
        return false;
    const gui::Rect area{rect_.left + textArea_.left, rect_.top + textArea_.top, textArea_.width,
                         textArea_.height};
    if (!background_.empty() && !area.empty())
        context.drawPixels(background_.data(), background_.byteSize(), background_.rowBytes(), area.left,
                           area.top, area.width, area.height, textArea_.left, textArea_.top);
    const gui::Font* previous = context.selectFont(font());
    context.setTextColour(textColour());
    context.setTextAlign(alignment());
    context.drawText(area, text(0), true);
    context.selectFont(previous);
    lastDrawn_ = frame_;
    return true;
}

void ReadingLabel::timerTick(int32_t) { refresh(); }

void ReadingLabel::refresh() {
    // A hidden label keeps its figure; it is read again when its page shows.
    gui::ControlEngine* engine = host_ != nullptr ? host_->engine() : nullptr;
    if (!visible() || engine == nullptr)
        return;
    setText(0, reductionText(engine->reductionReading(id_)));
}

} // namespace pellucer
