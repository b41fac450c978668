#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "Shared/GUI/Win32/ControlFrame.h"

namespace pellucer::gui {

/// The editor's frame: a right-button release that no control takes opens the context menu
/// (About, Help); a list of controls that keyboard focus can step through; no hover texts (the
/// editor shows them in its name label instead).
class EditorFrame : public ControlFrame {
public:
    /// Commands of the context menu.
    static constexpr int32_t kCommandAbout = 123;
    static constexpr int32_t kCommandHelp = 124;

    using ControlFrame::ControlFrame;

    /// What the Help entry does (opens the help file).
    void setHelpAction(std::function<void()> action) { helpAction_ = std::move(action); }

    /// Moves the keyboard focus `steps` places along the focus list, wrapping round at either
    /// end. From a control outside the list, +1 is the first entry and -1 the last.
    void moveFocus(int32_t steps);
    /// Appends `control` to the focus list.
    void appendToFocusList(Control* control);
    const std::vector<Control*>& focusList() const { return focusList_; }

    /// Carries out a command of the context menu.
    void runCommand(int32_t command);

protected:
    void onMouseUp(int32_t x, int32_t y, int32_t flags) override;
    void onDestroyed() override;
    std::u16string toolTipText(int32_t controlId) override;
    /// Shows the context menu at `at` (client coordinates) and answers the chosen command, 0
    /// for none.
    virtual int32_t trackContextMenu(Point at);

private:
    std::function<void()> helpAction_;
    std::vector<Control*> focusList_;
};

} // namespace pellucer::gui
