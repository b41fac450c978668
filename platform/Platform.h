#pragma once

// The thin layer over the operating system that the portable core needs: where the module file
// lies, the installer's folder settings, the user-interface libraries and the help viewer.
// One implementation per platform: PlatformWin32.cpp and PlatformPosix.cpp.

#include <filesystem>
#include <string>

namespace pellucer::platform {

#ifdef _WIN32
constexpr char16_t kPathSeparator = u'\\';
#else
constexpr char16_t kPathSeparator = u'/';
#endif

/// Full path of the file this code was loaded from (the plug-in module, or the program that
/// links the engine statically). False when it cannot be read.
bool modulePath(std::u16string& path);

/// An installer's folder setting by name ("Resources Folder", "Contents Folder",
/// "Documentation Folder"): the registry under HKEY_LOCAL_MACHINE on Windows, an environment
/// variable (PELLUCER_RESOURCES_FOLDER, ...) elsewhere. False when there is none.
bool readFolderSetting(const char* valueName, std::u16string& value);

/// One-time set-up and teardown of the libraries the editor needs (common controls, OLE).
void initialiseUiLibraries();
void releaseUiLibraries();

/// Shows a help file in the system's help viewer; nothing happens when there is none.
void showHelp(const std::u16string& path);

/// A UTF-16 path as a filesystem path.
std::filesystem::path toPath(const std::u16string& path);

} // namespace pellucer::platform
