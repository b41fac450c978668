#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "core/SkinTable.h"
#include "core/ChannelStripEffect.h"
#include "core/Settings.h"
#include "platform/Platform.h"

#ifdef _WIN32
#include <windows.h>
#endif

using namespace pellucer;

namespace {

constexpr char16_t kSep = platform::kPathSeparator;

std::u16string joined(std::u16string a, const char16_t* b) { return a + kSep + b + kSep; }

bool noSettings(const char*, std::u16string&) { return false; }

bool skinSetting(const char* name, std::u16string& value) {
    if (std::string(name) == "Resources Folder") {
        value = u"D:\\Skins";
        return true;
    }
    if (std::string(name) == "Documentation Folder") {
        value = u"D:\\Docs\\";
        return true;
    }
    return false;
}

} // namespace

TEST(Settings, FoldersDefaultBesideTheModule) {
    const Folders f = resolveFolders(u"C:\\Plug\\Pellucer.dll", noSettings);
    EXPECT_EQ(f.module, u"C:\\Plug");
    EXPECT_EQ(f.resources, joined(u"C:\\Plug", u"Resources"));
    EXPECT_EQ(f.contents, joined(u"C:\\Plug", u"Contents"));
    EXPECT_EQ(f.documentation, joined(u"C:\\Plug", u"Documentation"));
    const Folders posix = resolveFolders(u"/usr/lib/vst/Pellucer.so", noSettings);
    EXPECT_EQ(posix.module, u"/usr/lib/vst");
}

TEST(Settings, SettingsOverrideAndAlwaysEndInASeparator) {
    const Folders f = resolveFolders(u"C:\\Plug\\Pellucer.dll", skinSetting);
    EXPECT_EQ(f.resources, std::u16string(u"D:\\Skins") + kSep);
    EXPECT_EQ(f.documentation, u"D:\\Docs\\"); // used unchanged
    EXPECT_EQ(f.contents, joined(u"C:\\Plug", u"Contents"));
}

TEST(Settings, TheFirstInstanceReadsTheSkinBesideTheProgramOnce) {
    {
        ChannelStripEffect first(nullptr);
        const int32_t reads = processInitialisations();
        EXPECT_EQ(reads, 1);
        std::u16string path;
        ASSERT_TRUE(platform::modulePath(path));
        const Folders expected = resolveFolders(path, platform::readFolderSetting);
        EXPECT_EQ(folders().resources, expected.resources);
        // The build puts the skin beside the test program, as it does beside the plug-in.
        EXPECT_TRUE(textResources().loaded());
        EXPECT_TRUE(textResources().contains("IDS_GENERIC_ON"));
        ChannelStripEffect second(nullptr);
        EXPECT_EQ(processInitialisations(), reads);
    }
    ChannelStripEffect again(nullptr);
    EXPECT_EQ(processInitialisations(), 1); // the tables live for the whole process
}

#ifdef _WIN32
TEST(Settings, RegistryValueOverridesTheResourcesFolder) {
    HKEY key = nullptr;
    const wchar_t* subKey = L"Software\\Tessaly Music Software\\Pellucer\\";
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const wchar_t value[] = L"Z:\\tmp\\SkinOverride";
    ASSERT_EQ(RegSetValueExW(key, L"Resources Folder", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof(value)),
              ERROR_SUCCESS);
    std::u16string read;
    EXPECT_TRUE(platform::readFolderSetting("Resources Folder", read));
    EXPECT_EQ(read, u"Z:\\tmp\\SkinOverride");
    EXPECT_FALSE(platform::readFolderSetting("Contents Folder", read));
    const Folders f = resolveFolders(u"C:\\Plug\\Pellucer.dll", platform::readFolderSetting);
    EXPECT_EQ(f.resources, u"Z:\\tmp\\SkinOverride\\");
    RegDeleteValueW(key, L"Resources Folder");
    RegCloseKey(key);
    EXPECT_FALSE(platform::readFolderSetting("Resources Folder", read));
}
#else
TEST(Settings, EnvironmentOverridesTheFolders) {
    setenv("PELLUCER_RESOURCES_FOLDER", "/opt/skins", 1);
    std::u16string read;
    EXPECT_TRUE(platform::readFolderSetting("Resources Folder", read));
    EXPECT_EQ(read, u"/opt/skins");
    const Folders f = resolveFolders(u"/usr/lib/vst/Pellucer.so", platform::readFolderSetting);
    EXPECT_EQ(f.resources, u"/opt/skins/");
    unsetenv("PELLUCER_RESOURCES_FOLDER");
    EXPECT_FALSE(platform::readFolderSetting("Resources Folder", read));
}
#endif
