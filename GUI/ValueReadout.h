#pragma once

#include <functional>
#include <memory>

#include "Shared/GUI/TextLabel.h"

namespace pellucer {

/// The value readout (id 57): the last touched parameter's value text, and the place where a
/// left click asks for a typed value instead (direct entry). What the entry does is the
/// editor's business; the readout only says when the user asked for it.
class ValueReadout : public gui::TextLabel {
public:
    using EntryRequest = std::function<void()>;

    ValueReadout(int32_t id, const gui::Rect& rect, std::shared_ptr<const gui::Font> font, gui::Colour colour,
                 int32_t alignment)
        : TextLabel(id, rect, std::move(font), colour, alignment) {}

    /// Called when the user clicks for a direct entry.
    void setEntryRequest(EntryRequest request) { entryRequest_ = std::move(request); }

    /// A left click without Alt, outside a gesture, asks for a direct entry.
    void mouseDown(int32_t x, int32_t y, int32_t flags) override;

private:
    EntryRequest entryRequest_;
};

} // namespace pellucer
