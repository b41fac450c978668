#include "core/Settings.h"

#include <cstdint>
#include <mutex>

#include "core/SkinTable.h"
#include "platform/Platform.h"

namespace pellucer {

namespace {

constexpr char16_t kSeparator = platform::kPathSeparator;

std::mutex& processMutex() {
    static std::mutex mutex;
    return mutex;
}

Folders& processFolders() {
    static Folders instance;
    return instance;
}

bool gSkinLoaded = false;
bool gUiLibrariesUp = false;
int32_t gInitialisations = 0;

std::u16string withSeparator(std::u16string folder) {
    if (folder.empty() || (folder.back() != u'\\' && folder.back() != u'/'))
        folder.push_back(kSeparator);
    return folder;
}

std::u16string folderSetting(bool (*readSetting)(const char*, std::u16string&), const char* name,
                             const std::u16string& moduleFolder, const char16_t* defaultName) {
    std::u16string value;
    if (readSetting != nullptr && readSetting(name, value) && !value.empty())
        return withSeparator(std::move(value));
    return moduleFolder + kSeparator + defaultName + kSeparator;
}

void loadSkin(const Folders& f) {
    textResources().load(platform::toPath(f.resources + u"TextResources.tsres"));
    graphicsResources().load(platform::toPath(f.resources + u"GraphicsResources.tsres"));
    graphicsResources().setBaseFolder(f.resources);
    layoutResources().load(platform::toPath(f.resources + u"LayoutResources.tsres"));
}

} // namespace

Folders resolveFolders(const std::u16string& modulePath, bool (*readSetting)(const char*, std::u16string&)) {
    Folders f;
    // The module folder ends before the last backslash, or before the last "/" when there is none.
    size_t cut = modulePath.rfind(u'\\');
    if (cut == std::u16string::npos)
        cut = modulePath.rfind(u'/');
    f.module = cut == std::u16string::npos ? std::u16string() : modulePath.substr(0, cut);
    f.contents = folderSetting(readSetting, "Contents Folder", f.module, u"Contents");
    f.resources = folderSetting(readSetting, "Resources Folder", f.module, u"Resources");
    f.documentation = folderSetting(readSetting, "Documentation Folder", f.module, u"Documentation");
    return f;
}

const Folders& folders() { return processFolders(); }

void processInstanceCreated(int32_t liveInstances) {
    std::lock_guard<std::mutex> lock(processMutex());
    if (liveInstances != 1)
        return;
    std::u16string path;
    if (!platform::modulePath(path))
        return; // without its own path the module cannot find its skin; it still works
    if (!gUiLibrariesUp) {
        platform::initialiseUiLibraries();
        gUiLibrariesUp = true;
    }
    // Folders and skin are read once per process; they outlive every instance.
    if (!gSkinLoaded) {
        processFolders() = resolveFolders(path, platform::readFolderSetting);
        loadSkin(processFolders());
        gSkinLoaded = true;
        ++gInitialisations;
    }
}

void processInstanceDestroyed(int32_t liveInstances) {
    std::lock_guard<std::mutex> lock(processMutex());
    if (liveInstances != 1 || !gUiLibrariesUp)
        return;
    platform::releaseUiLibraries();
    gUiLibrariesUp = false;
}

int32_t processInitialisations() {
    std::lock_guard<std::mutex> lock(processMutex());
    return gInitialisations;
}

void openHelp() {
    const Folders& f = folders();
    if (!f.module.empty())
        platform::showHelp(f.module + kSeparator + u"Pellucer.chm");
}

} // namespace pellucer
