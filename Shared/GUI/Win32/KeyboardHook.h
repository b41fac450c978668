#pragma once

// The module's keyboard hook. A host may swallow Enter and Escape before they reach a window of
// the plug-in; while a direct value entry box is open, a keyboard hook for every thread hands
// those two keys to the box itself. The hook procedure and its installer are exported from the
// plug-in module by name (undecorated, see vst/Pellucer.def).

#include "Shared/GUI/Win32/WinApi.h"

/// The WH_KEYBOARD hook procedure: on the second call of Enter or Escape (lParam bit 30 set,
/// the key was already down) it sends WM_CHAR with that key and the same lParam to the hook's
/// target box. Always passes the call on and answers what the next hook answers. Runs on the
/// thread that processes the key.
extern "C" LRESULT CALLBACK KeyboardProc(int code, WPARAM wParam, LPARAM lParam);

/// Installs KeyboardProc for every thread of the desktop (thread id 0) from this module, in
/// place of a hook installed before, and keeps its handle. Answers 1.
extern "C" int __stdcall installhook();

namespace pellucer::gui::keyboardhook {

/// The window KeyboardProc sends Enter and Escape to (null: none).
void setTarget(HWND box);
HWND target();
/// Removes the installed hook, if any.
void remove();
/// True while a hook installed by installhook is in place.
bool installed();
/// The module that holds this code: the plug-in DLL, or the program it is linked into.
HINSTANCE moduleInstance();

} // namespace pellucer::gui::keyboardhook
