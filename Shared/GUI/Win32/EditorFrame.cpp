#include "Shared/GUI/Win32/EditorFrame.h"

#include <algorithm>

#include "core/SkinTable.h"
#include "Shared/GUI/Win32/PopupMenu.h"

namespace pellucer::gui {

void EditorFrame::moveFocus(int32_t steps) {
    if (focusList_.empty())
        return;
    const auto count = static_cast<int64_t>(focusList_.size());
    const auto current = std::find(focusList_.begin(), focusList_.end(), focusedControl());
    int64_t index;
    if (current != focusList_.end())
        index = (current - focusList_.begin()) + steps;
    else
        index = steps > 0 ? steps - 1 : steps; // from outside: +1 is the first, -1 the last
    index = ((index % count) + count) % count;
    setFocusedControl(focusList_[static_cast<size_t>(index)]);
}

void EditorFrame::appendToFocusList(Control* control) {
    if (control != nullptr)
        focusList_.push_back(control);
}

void EditorFrame::runCommand(int32_t command) {
    if (command == kCommandAbout)
        showAbout();
    else if (command == kCommandHelp && helpAction_)
        helpAction_();
}

void EditorFrame::onMouseUp(int32_t x, int32_t y, int32_t flags) {
    const bool taken = routeMouseUp(x, y, flags);
    if (taken || (flags & mouse::kRight) == 0)
        return;
    runCommand(trackContextMenu({x, y}));
}

void EditorFrame::onDestroyed() {
    // The controls go with the window.
    focusList_.clear();
    ControlFrame::onDestroyed();
}

std::u16string EditorFrame::toolTipText(int32_t) { return {}; }

int32_t EditorFrame::trackContextMenu(Point at) {
    PopupMenu menu;
    // Copies: the text of a missing key lives in a scratch string that the next miss reuses.
    const std::u16string about = textResources().text("IDS_MENU_ABOUT");
    const std::u16string help = textResources().text("IDS_MENU_HELP");
    menu.append(kCommandAbout, about);
    menu.append(kCommandHelp, help);
    return menu.track(handle(), at);
}

} // namespace pellucer::gui
