// The skin: where the plug-in finds it, its files' reader (key,value lines, comments, escapes,
// UTF-8) and the shipped files.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "core/ChannelStripEffect.h"
#include "core/ParameterDisplay.h"
#include "core/ParameterTable.h"
#include "core/Settings.h"
#include "core/SkinTable.h"
#include "platform/Platform.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace pellucer {
namespace {

/// The value of `key`, or a marker that no value can equal.
std::u16string valueOf(const SkinTable& table, std::string_view key) {
    const std::u16string* value = table.find(key);
    return value != nullptr ? *value : std::u16string(u"<absent>");
}

// One small file per row, written to disk and loaded as the plug-in loads its skin: whether it
// loads, the entries it yields, and the value one key has in it. A file that fails keeps what it
// read before the failure; a load replaces what an earlier one read.
TEST(SkinTable, LinesSplitAtTheFirstCommaWithCommentsEscapesAndLineEnds) {
    struct Case {
        std::string file;
        bool ok;
        size_t entries;
        std::string key;
        std::u16string value;
    };
    const std::u16string absent = u"<absent>";
    const Case cases[] = {
        {"; comment\r\nLIST, a,b \r\n\r\nNEXT,x", true, 2, "LIST", u" a,b "}, {"KEY,\n", true, 1, "KEY", u""},
        {"Trail ,v\n", true, 1, "Trail ", u"v"}, {"lower,y\n", true, 1, "LOWER", absent}, // case-sensitive keys
        {";KEY,x\n", true, 0, ";KEY", absent}, {"V,a;b\n", true, 1, "V", u"a;b"},
        {"ALL,\\\\\\a\\b\\f\\n\\r\\t\\v\\q\\,\\;\\0", true, 1, "ALL", std::u16string(u"\\\a\b\f\n\r\t\vq,;\0", 12)},
        {"K\\EY,literal\n", true, 1, "K\\EY", u"literal"}, // keys take a backslash as it stands
        {"CR,a\\\rb\rNEXT,y", true, 2, "CR", u"a\rb"},     // a backslash keeps a line end in the value
        {"KEY,first\nKEY,second\n", true, 1, "KEY", u"first"},
        {"A,caf\xC3\xA9 \xE2\x82\xAC \xC3G \xC1\x81 x\xF0\x9F\x8E\xB5y \xF0\x8F\xBF\xBF ab\xE2\x82", true, 1, "A",
         u"caf\u00E9 \u20AC \u00C7 A x?y \uFFFF ab?"}, // unchecked continuations, overlong forms, "?" beyond U+FFFF
        {"KEY,\x80stray\nNEXT,fine", true, 2, "KEY", u""}, // a stray continuation byte empties the value
        {"K," + std::string(1027, 'a'), true, 1, "K", std::u16string(1027, u'a')}, // the longest value
        {"K," + std::string(1028, 'a') + "\nN,y", true, 1, "K", absent}, // a longer line yields no entry
        {"\xEF\xBB\xBF;KEY,x\n", true, 0, "KEY", absent}, {"\xEFzzKEY,x", true, 1, "KEY", u"x"}, // lead byte only
        {"\xEF\xBB", false, 0, "", absent}, {"A,1\nB,x\\", false, 1, "A", u"1"}, // ends after a backslash
        {"A,1\n;comment\\", true, 1, "A", u"1"}, // outside a value it is an ordinary byte
    };
    SkinTable table;
    const auto path = std::filesystem::temp_directory_path() / u8"pellucer-skin-\u00E9.tsres";
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "file \"" << c.file << "\", key \"" << c.key << "\"");
        std::ofstream(path, std::ios::binary | std::ios::trunc) << c.file;
        EXPECT_EQ(table.load(path), c.ok ? SkinTable::kSuccess : SkinTable::kFailure);
        EXPECT_EQ(table.loaded(), c.ok);
        EXPECT_EQ(table.size(), c.entries);
        EXPECT_EQ(valueOf(table, c.key), c.value);
    }
    std::filesystem::remove(path);
    // A folder fails and empties the table; a missing key reads as a text naming it, its bytes
    // widened one by one.
    ASSERT_EQ(table.loadFromMemory(reinterpret_cast<const uint8_t*>("KEY,x"), 5), SkinTable::kSuccess);
    EXPECT_EQ(table.load(std::filesystem::temp_directory_path()), SkinTable::kFailure);
    EXPECT_EQ(table.text("\xC3\xA9"), u"\u00C3\u00A9 not found in text resource file!");
    EXPECT_EQ(table.text("KEY"), u"KEY not found in text resource file!");
}

// The shipped skin parses cleanly with one entry per line (no key given twice or lost to an
// over-long line) and holds every key the parameters use; the note names reach hosts as 8-bit
// value texts, so they are Latin-1 and at most kDisplayChars long.
TEST(ShippedSkin, FilesParseCleanlyAndHoldTheParametersWords) {
    const auto shippedSkin = [](const char* name) { return std::filesystem::path(PELLUCER_SOURCE_DIR) / "skin" / name; };
    for (const char* name : {"GraphicsResources.tsres", "LayoutResources.tsres"})
        EXPECT_EQ(SkinTable().load(shippedSkin(name)), SkinTable::kSuccess) << name;
    SkinTable table;
    ASSERT_EQ(table.load(shippedSkin("TextResources.tsres")), SkinTable::kSuccess);
    std::ifstream in(shippedSkin("TextResources.tsres"), std::ios::binary);
    size_t entryLines = 0;
    for (std::string line; std::getline(in, line);)
        entryLines += line.rfind("IDS_", 0) == 0 ? 1 : 0;
    EXPECT_EQ(entryLines, table.size());
    for (const ParamDescriptor& p : kParameters)
        EXPECT_TRUE(p.tip == nullptr || (table.contains(p.tip) && !table.text(p.tip).empty())) << p.tip;
    for (int32_t note = 0; note < kNoteValues; ++note) {
        const std::u16string text = valueOf(table, delayNoteKey(note));
        EXPECT_TRUE(text != u"<absent>" && text.size() <= kDisplayChars) << delayNoteKey(note);
        for (char16_t unit : text)
            EXPECT_TRUE(unit > 0 && unit <= 0xFF) << delayNoteKey(note);
    }
}

// The build puts the skin beside the test program, as beside the plug-in: the first instance
// reads it from the Resources folder there, once for the whole process. A registry value
// (Windows) or an environment variable names another folder, given a separator at its end.
TEST(Settings, TheSkinBesideTheProgramIsReadOnceAndTheSystemCanNameAnother) {
    {
        ChannelStripEffect first(nullptr), second(nullptr);
        std::u16string path;
        ASSERT_TRUE(platform::modulePath(path));
        EXPECT_EQ(folders().resources, path.substr(0, path.find_last_of(platform::kPathSeparator) + 1) + u"Resources" +
                                           platform::kPathSeparator);
        EXPECT_TRUE(textResources().contains("IDS_GENERIC_ON"));
    }
    ChannelStripEffect again(nullptr);
    EXPECT_EQ(processInitialisations(), 1);
    std::u16string read;
#ifdef _WIN32
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Tessaly Music Software\\Pellucer\\", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const wchar_t value[] = L"Z:\\tmp\\SkinOverride";
    RegSetValueExW(key, L"Resources Folder", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof(value));
    EXPECT_EQ(resolveFolders(u"C:\\Plug\\Pellucer.dll", platform::readFolderSetting).resources, u"Z:\\tmp\\SkinOverride\\");
    EXPECT_FALSE(platform::readFolderSetting("Contents Folder", read));
    RegDeleteValueW(key, L"Resources Folder");
    RegCloseKey(key);
#else
    setenv("PELLUCER_RESOURCES_FOLDER", "/opt/skins", 1);
    EXPECT_EQ(resolveFolders(u"/usr/lib/vst/Pellucer.so", platform::readFolderSetting).resources, u"/opt/skins/");
    unsetenv("PELLUCER_RESOURCES_FOLDER");
#endif
    EXPECT_FALSE(platform::readFolderSetting("Resources Folder", read));
}

} // namespace
} // namespace pellucer
