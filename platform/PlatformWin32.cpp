#ifdef _WIN32

#include "platform/Platform.h"

#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

namespace pellucer::platform {

namespace {

constexpr wchar_t kSettingsKey[] = L"Software\\Tessaly Music Software\\Pellucer\\";
constexpr DWORD kPathUnits = 260;
constexpr UINT kHelpDisplayTopic = 0; // HH_DISPLAY_TOPIC

using HtmlHelpProc = HWND(WINAPI*)(HWND, LPCWSTR, UINT, DWORD_PTR);

// Answers 0 and fills `buffer` when the value exists, else the Windows error code (and an empty
// buffer). The key is opened for full access first, as older installers expect, then read-only.
LONG readRegistryString(HKEY root, const wchar_t* subKey, const wchar_t* valueName, wchar_t (&buffer)[kPathUnits]) {
    HKEY key = nullptr;
    LONG result = RegOpenKeyExW(root, subKey, 0, KEY_ALL_ACCESS, &key);
    if (result != ERROR_SUCCESS)
        result = RegOpenKeyExW(root, subKey, 0, KEY_READ, &key);
    if (result != ERROR_SUCCESS)
        return result;
    DWORD type = 0;
    DWORD bytes = sizeof(buffer) - sizeof(wchar_t);
    result = RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        buffer[0] = L'\0';
        if (result == ERROR_SUCCESS)
            result = ERROR_INVALID_DATA;
    } else {
        buffer[bytes / sizeof(wchar_t)] = L'\0'; // the stored string need not be terminated
    }
    RegCloseKey(key);
    return result;
}

} // namespace

bool modulePath(std::u16string& path) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&modulePath), &module))
        return false;
    wchar_t buffer[kPathUnits] = {};
    const DWORD length = GetModuleFileNameW(module, buffer, kPathUnits);
    if (length == 0 || length >= kPathUnits)
        return false;
    path.assign(reinterpret_cast<const char16_t*>(buffer), length);
    return true;
}

bool readFolderSetting(const char* valueName, std::u16string& value) {
    wchar_t name[64] = {};
    for (size_t k = 0; valueName[k] != '\0' && k + 1 < std::size(name); ++k)
        name[k] = static_cast<wchar_t>(static_cast<unsigned char>(valueName[k]));
    wchar_t buffer[kPathUnits] = {};
    if (readRegistryString(HKEY_LOCAL_MACHINE, kSettingsKey, name, buffer) != ERROR_SUCCESS)
        return false;
    value.assign(reinterpret_cast<const char16_t*>(buffer));
    return true;
}

void initialiseUiLibraries() {
    InitCommonControls();
    OleInitialize(nullptr);
}

void releaseUiLibraries() { OleUninitialize(); }

void showHelp(const std::u16string& path) {
    // HTML Help is loaded when first asked for, so the module loads where it is absent.
    static HMODULE helpLibrary = LoadLibraryW(L"hhctrl.ocx");
    if (helpLibrary == nullptr)
        return;
    auto htmlHelp = reinterpret_cast<HtmlHelpProc>(reinterpret_cast<void*>(GetProcAddress(helpLibrary, "HtmlHelpW")));
    if (htmlHelp != nullptr)
        htmlHelp(GetDesktopWindow(), reinterpret_cast<const wchar_t*>(path.c_str()), kHelpDisplayTopic, 0);
}

std::filesystem::path toPath(const std::u16string& path) {
    return std::filesystem::path(std::wstring(path.begin(), path.end()));
}

} // namespace pellucer::platform

#endif
