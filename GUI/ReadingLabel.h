#pragma once

#include <memory>
#include <string>

#include "Shared/GUI/TextLabel.h"

namespace pellucer {

/// A compander reading in figures (ids 45..47): the reduction in dB of the effect's reading for
/// the label's id, polled every 50 ms like the bar beside it. Takes no mouse input.
///
/// The label may reach under neighbouring controls (the editor's readings overlap the reduction
/// bars): it then paints only its text area, so that it never wipes out a part of them.
class ReadingLabel : public gui::TextLabel {
public:
    static constexpr int32_t kRefreshMs = 50;

    /// Shows `initialText` until the first reading.
    ReadingLabel(int32_t id, const gui::Rect& rect, std::shared_ptr<const gui::Font> font, gui::Colour colour,
                 int32_t alignment, const std::u16string& initialText);

    /// The part of the rectangle (control coordinates) the label paints; the whole rectangle
    /// until set. Clipped to the rectangle.
    void setTextArea(const gui::Rect& area);
    const gui::Rect& textArea() const { return textArea_; }

    /// Saves the background and asks the frame for the refresh timer (the host must be set).
    void prepare(const gui::PixelBuffer& background) override;
    bool draw(gui::DrawContext& context) override;
    void timerTick(int32_t timerId) override;

    /// Reads the effect now; the text changes (and is repainted) only when the figure does.
    void refresh();
    int32_t timerId() const { return timerId_; }

private:
    gui::Rect textArea_;
    int32_t timerId_ = 0;
};

} // namespace pellucer
