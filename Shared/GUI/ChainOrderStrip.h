#pragma once

#include <array>
#include <memory>

#include "Shared/GUI/Control.h"

namespace pellucer::gui {

/// The processing order of the five movable modules: one icon per slot over the strip's
/// background image, in the order the effect reports. An icon dragged onto another slot asks
/// the effect to move that module there. The strip divides width + 10 pixels into five slots
/// (50 pixels each for the editor's 240-pixel strip; the last icon overhangs by 10).
class ChainOrderStrip : public Control {
public:
    static constexpr int32_t kSlots = 5;
    /// Pixels that the slot arithmetic adds to the strip's width.
    static constexpr int32_t kWidthExtra = 10;
    /// Top edge of the icons.
    static constexpr int32_t kIconTop = 5;
    /// How far a dragged icon is lifted above the others.
    static constexpr int32_t kLift = 2;

    /// `icons` in icon order (0 compander, 1 EQ, 2 de-esser, 3 doubler, 4 delay); they are drawn
    /// opaque, their masks are not used.
    ChainOrderStrip(int32_t id, const Rect& rect, std::shared_ptr<const ImageStrip> background,
                    std::array<std::shared_ptr<const ImageStrip>, kSlots> icons);

    bool draw(DrawContext& context) override;
    /// Parameter 38 changed: the order is read again at the next draw.
    void setValue(float value) override;
    void mouseDown(int32_t x, int32_t y, int32_t flags) override;
    void mouseMove(int32_t x, int32_t y, int32_t flags) override;
    void mouseUp(int32_t x, int32_t y, int32_t flags) override;

    /// The slot under x: trunc(5 x / (width + 10)), or -1 below 0 and at or beyond width + 10.
    int32_t slotAt(int32_t x) const;
    /// Left edge of slot `slot`: trunc(slot x (width + 10) / 5 + 0.5).
    int32_t slotLeft(int32_t slot) const;
    /// The insertion position asked of the effect for a drop of slot `from` at x.
    int32_t dropPosition(int32_t from, int32_t x) const;
    /// The slot being dragged, or -1.
    int32_t draggedSlot() const { return dragSlot_; }
    /// Where the dragged icon's left edge is now.
    int32_t draggedLeft() const { return dragLeft_; }
    /// Grab offset: the dragged slot's left edge minus the x where it was taken.
    int32_t grabOffset() const { return grabOffset_; }

private:
    /// Composites the background strip and the icons into the work buffer.
    void compose();

    std::array<std::shared_ptr<const ImageStrip>, kSlots> icons_;
    int32_t dragSlot_ = -1;
    int32_t grabOffset_ = 0;
    int32_t dragLeft_ = 0;
};

} // namespace pellucer::gui
