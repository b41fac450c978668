#pragma once

#include <cstdint>
#include <string>

#include "Shared/GUI/Win32/WinApi.h"

namespace pellucer::gui {

/// A context menu: items appended as (command id, text), tracked modally at a point of the
/// owner's client area.
class PopupMenu {
public:
    PopupMenu();
    ~PopupMenu();
    PopupMenu(const PopupMenu&) = delete;
    PopupMenu& operator=(const PopupMenu&) = delete;

    /// Appends an item; false when the menu refuses it.
    bool append(int32_t commandId, const std::u16string& text);
    /// Shows the menu at `clientPoint` of `owner` (converted to screen coordinates) and waits
    /// for the choice: the chosen command id, or 0 when the menu was dismissed.
    int32_t track(HWND owner, Point clientPoint);
    HMENU handle() const { return menu_; }

private:
    HMENU menu_ = nullptr;
};

} // namespace pellucer::gui
