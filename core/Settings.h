#pragma once

#include <string>

namespace pellucer {

/// The module's folders, each ending in a path separator. Filled once per process by the first
/// plug-in instance and kept for the life of the process.
struct Folders {
    std::u16string module;        ///< the folder that holds the module file (no separator at the end)
    std::u16string contents;      ///< "Contents Folder" setting, else module folder + "Contents"
    std::u16string resources;     ///< "Resources Folder" setting, else module folder + "Resources"
    std::u16string documentation; ///< "Documentation Folder" setting, else module folder + "Documentation"
};

/// The process-wide folders (empty until the first instance has initialised the process).
const Folders& folders();

/// Works out the folders of a module at `modulePath` with the given settings lookup; separate
/// from the process state so that it can be checked on its own.
Folders resolveFolders(const std::u16string& modulePath, bool (*readSetting)(const char*, std::u16string&));

/// Called by every plug-in instance as it is constructed / destroyed, with the number of live
/// instances counting itself. The first instance initialises the user-interface libraries, the
/// folders and the skin tables; the last one to go releases the libraries. The folders and the
/// tables stay for the life of the process. Thread safe.
void processInstanceCreated(int32_t liveInstances);
void processInstanceDestroyed(int32_t liveInstances);

/// How many times the process resources were read (folders and skin files); for diagnostics.
int32_t processInitialisations();

/// Opens "Pellucer.chm" from the module folder in the help viewer, if there is one.
void openHelp();

} // namespace pellucer
