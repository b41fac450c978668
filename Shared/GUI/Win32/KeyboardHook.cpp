#include "Shared/GUI/Win32/KeyboardHook.h"

#include <atomic>

namespace pellucer::gui::keyboardhook {

namespace {

// Module-wide, shared by every editor of the process. The editor thread writes them; the hook
// procedure may read them on whichever thread processes a key, hence atomics.
std::atomic<HWND> hookTarget{nullptr};
std::atomic<HHOOK> hookHandle{nullptr};

} // namespace

void setTarget(HWND box) { hookTarget.store(box); }

HWND target() { return hookTarget.load(); }

void remove() {
    if (HHOOK hook = hookHandle.exchange(nullptr))
        UnhookWindowsHookEx(hook);
}

bool installed() { return hookHandle.load() != nullptr; }

HINSTANCE moduleInstance() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&moduleInstance), &module);
    return module;
}

} // namespace pellucer::gui::keyboardhook

namespace keyboardhook = pellucer::gui::keyboardhook;

extern "C" LRESULT CALLBACK KeyboardProc(int code, WPARAM wParam, LPARAM lParam) {
    // Read before sending: the box may close (and remove this hook) while it handles the key.
    HHOOK hook = keyboardhook::hookHandle.load();
    constexpr LPARAM kPreviousKeyState = LPARAM{1} << 30;
    if (code == HC_ACTION && (lParam & kPreviousKeyState) != 0 &&
        (wParam == VK_RETURN || wParam == VK_ESCAPE)) {
        if (HWND box = keyboardhook::target())
            SendMessageW(box, WM_CHAR, wParam, lParam);
    }
    return CallNextHookEx(hook, code, wParam, lParam);
}

extern "C" int __stdcall installhook() {
    // One hook at a time: a box opened while another was open replaces its hook.
    HHOOK hook = SetWindowsHookExW(WH_KEYBOARD, &KeyboardProc, keyboardhook::moduleInstance(), 0);
    if (HHOOK previous = keyboardhook::hookHandle.exchange(hook))
        UnhookWindowsHookEx(previous);
    return 1;
}
