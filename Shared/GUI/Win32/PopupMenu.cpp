#include "Shared/GUI/Win32/PopupMenu.h"

namespace pellucer::gui {

PopupMenu::PopupMenu() : menu_(CreatePopupMenu()) {}

PopupMenu::~PopupMenu() {
    if (menu_ != nullptr)
        DestroyMenu(menu_);
}

bool PopupMenu::append(int32_t commandId, const std::u16string& text) {
    return menu_ != nullptr &&
           AppendMenuW(menu_, MF_STRING, static_cast<UINT_PTR>(commandId), win32::wide(text)) != FALSE;
}

int32_t PopupMenu::track(HWND owner, Point clientPoint) {
    if (menu_ == nullptr || owner == nullptr)
        return 0;
    POINT at{clientPoint.x, clientPoint.y};
    ClientToScreen(owner, &at);
    // The menu closes on a click elsewhere only when its owner's top-level window is in the
    // foreground.
    SetForegroundWindow(GetAncestor(owner, GA_ROOT));
    const BOOL chosen =
        TrackPopupMenu(menu_, TPM_RETURNCMD | TPM_NONOTIFY | TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON,
                       at.x, at.y, 0, owner, nullptr);
    // Lets the owner's thread notice that the menu loop has ended (a known need of
    // TrackPopupMenu with a window that was not active).
    PostMessageW(owner, WM_NULL, 0, 0);
    return static_cast<int32_t>(chosen);
}

} // namespace pellucer::gui
