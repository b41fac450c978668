#include "core/SkinTable.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pellucer {
namespace {

int32_t loadText(SkinTable& table, std::string_view bytes) {
    return table.loadFromMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::u16string decode(std::string_view bytes) {
    return SkinTable::decodeUtf8(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

/// The value of `key`, or a marker that no value can equal, so a missing key fails EXPECT_EQ
/// with a readable message.
std::u16string valueOf(const SkinTable& table, std::string_view key) {
    const std::u16string* value = table.find(key);
    return value != nullptr ? *value : std::u16string(u"<absent>");
}

/// A file in the temporary folder, removed again at the end of the test.
class TempFile {
public:
    TempFile(const std::filesystem::path& name, std::string_view bytes)
        : path_(std::filesystem::temp_directory_path() / name) {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    ~TempFile() {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// A small skin that uses most of the format: CR LF and lone CR and LF line ends, comments,
// commas and blanks in values, escapes, multi-byte characters and a last line without line end.
constexpr std::string_view kSampleSkin = "; sample skin\r\n"
                                         "IDS_A,Alpha\r\n"
                                         "IDS_B, two, parts \n"
                                         "\n"
                                         "IDS_C,caf\xC3\xA9 \xE2\x82\xAC\rIDS_D,x\\ty\n"
                                         ";IDS_E,hidden\n"
                                         "IDS_F,last";

TEST(SkinTableFormat, SampleSkinGivesExpectedEntries) {
    SkinTable table;
    ASSERT_EQ(loadText(table, kSampleSkin), SkinTable::kSuccess);
    EXPECT_TRUE(table.loaded());
    EXPECT_EQ(table.size(), 5u);
    EXPECT_EQ(valueOf(table, "IDS_A"), u"Alpha");
    EXPECT_EQ(valueOf(table, "IDS_B"), u" two, parts ");
    EXPECT_EQ(valueOf(table, "IDS_C"), u"caf\u00E9 \u20AC");
    EXPECT_EQ(valueOf(table, "IDS_D"), u"x\ty");
    EXPECT_FALSE(table.contains("IDS_E"));
    EXPECT_EQ(valueOf(table, "IDS_F"), u"last");
}

TEST(SkinTableFormat, ByteOrderMarkGivesSameTableAsWithout) {
    SkinTable plain, marked;
    ASSERT_EQ(loadText(plain, kSampleSkin), SkinTable::kSuccess);
    ASSERT_EQ(loadText(marked, std::string("\xEF\xBB\xBF") + std::string(kSampleSkin)), SkinTable::kSuccess);
    EXPECT_TRUE(marked.loaded());
    EXPECT_EQ(marked.entries(), plain.entries());

    // The first key starts right after the mark, and a comment there is still a comment.
    SkinTable table;
    ASSERT_EQ(loadText(table, "\xEF\xBB\xBFKEY,x\n"), SkinTable::kSuccess);
    EXPECT_TRUE(table.contains("KEY"));
    ASSERT_EQ(loadText(table, "\xEF\xBB\xBF;KEY,x\n"), SkinTable::kSuccess);
    EXPECT_EQ(table.size(), 0u);
    // Only the lead byte is tested; the next two bytes are skipped whatever they are.
    ASSERT_EQ(loadText(table, "\xEFzzKEY,x"), SkinTable::kSuccess);
    EXPECT_TRUE(table.contains("KEY"));
    // A file that is just the mark is an empty skin; one that ends inside it has failed.
    EXPECT_EQ(loadText(table, "\xEF\xBB\xBF"), SkinTable::kSuccess);
    EXPECT_TRUE(table.loaded());
    EXPECT_EQ(table.size(), 0u);
    for (const std::string_view cut : {std::string_view("\xEF"), std::string_view("\xEF\xBB")}) {
        EXPECT_EQ(loadText(table, cut), SkinTable::kFailure);
        EXPECT_FALSE(table.loaded());
        EXPECT_EQ(table.size(), 0u);
    }
}

// One small file per row: the entries it yields, and the value one key has in it (or that the
// key is absent).
TEST(SkinTableFormat, LinesSplitAtTheFirstCommaWithCommentsEscapesAndDuplicates) {
    struct Case {
        std::string_view file;
        size_t entries;
        std::string_view key;
        std::optional<std::u16string_view> value;
    };
    constexpr auto absent = std::nullopt;
    const Case cases[] = {
        {"KEY,\n", 1, "KEY", u""},
        {"LIST,a,b\n", 1, "LIST", u"a,b"},
        {" KEY,x\n", 1, " KEY", u"x"},
        {"Trail ,  v  \n", 1, "Trail ", u"  v  "},
        {"Trail ,  v  \n", 1, "Trail", absent},
        {"lower,y\n", 1, "LOWER", absent}, // keys are case-sensitive
        {",nameless\n", 1, "", u"nameless"},
        {";KEY,x\n", 0, "KEY", absent},
        {";KEY,x\n", 0, ";KEY", absent},
        {"x;KEY,y\n", 1, "x;KEY", u"y"},
        {"V,a;b\n", 1, "V", u"a;b"},
        {" ;K,z\n", 1, " ;K", u"z"},
        {"ALL,\\\\\\a\\b\\f\\n\\r\\t\\v\\q\\,\\;\n", 1, "ALL", u"\\\a\b\f\n\r\t\vq,;"},
        {"WORDS,line1\\nline2\n", 1, "WORDS", u"line1\nline2"},
        {"PATH,a\\\\b\n", 1, "PATH", u"a\\b"},
        {"NUL,a\\0b\n", 1, "NUL", std::u16string_view(u"a\0b", 3)},
        {"K\\EY,literal\n", 1, "K\\EY", u"literal"}, // keys take a backslash as it stands
        {"CR,a\\\rb\nNEXT,y", 2, "CR", u"a\rb"},     // a backslash keeps a line end in the value
        {"LF,c\\\nd\nNEXT,y", 2, "LF", u"c\nd"},
        {"LF,c\\\nd\nNEXT,y", 2, "NEXT", u"y"},
        {"KEY,first\nKEY,second\nKEY,\n", 1, "KEY", u"first"},
        {"KEY,\x80stray\nNEXT,fine", 2, "KEY", u""}, // a stray continuation byte empties the value
        {"KEY,\x80stray\nNEXT,fine", 2, "NEXT", u"fine"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "file \"" << c.file << "\", key \"" << c.key << "\"");
        SkinTable table;
        ASSERT_EQ(loadText(table, c.file), SkinTable::kSuccess);
        EXPECT_EQ(table.size(), c.entries);
        if (c.value) {
            EXPECT_EQ(valueOf(table, c.key), *c.value);
        } else {
            EXPECT_FALSE(table.contains(c.key));
        }
    }
}

TEST(SkinTableFormat, CarriageReturnAndLineFeedEachEndALine) {
    SkinTable lf, cr, crlf;
    ASSERT_EQ(loadText(lf, "A,1\nB,2\n;C,3\nD,4"), SkinTable::kSuccess);
    ASSERT_EQ(loadText(cr, "A,1\rB,2\r;C,3\rD,4"), SkinTable::kSuccess);
    ASSERT_EQ(loadText(crlf, "A,1\r\nB,2\r\n;C,3\r\nD,4\r\n"), SkinTable::kSuccess);
    EXPECT_EQ(lf.size(), 3u);
    EXPECT_EQ(valueOf(lf, "D"), u"4"); // last line without a line end
    EXPECT_EQ(cr.entries(), lf.entries());
    EXPECT_EQ(crlf.entries(), lf.entries());
}

TEST(SkinTableFormat, FileEndingAfterBackslashFailsButKeepsEarlierEntries) {
    SkinTable table;
    EXPECT_EQ(loadText(table, "A,1\nB,2\nC,x\\"), SkinTable::kFailure);
    EXPECT_FALSE(table.loaded());
    EXPECT_EQ(table.size(), 2u);
    EXPECT_EQ(valueOf(table, "A"), u"1");
    EXPECT_EQ(valueOf(table, "B"), u"2");
    EXPECT_FALSE(table.contains("C"));

    // Outside a value a final backslash is an ordinary byte.
    EXPECT_EQ(loadText(table, "A,1\n;comment\\"), SkinTable::kSuccess);
    EXPECT_TRUE(table.loaded());
    EXPECT_EQ(loadText(table, "A,1\nno comma\\"), SkinTable::kSuccess);
    EXPECT_TRUE(table.loaded());
}

TEST(SkinTableFormat, KeysCompareBytewiseWithShorterPrefixFirst) {
    SkinTable table;
    ASSERT_EQ(loadText(table, "IDS_DLY_16D,c\nIDS_DLY_16,b\nIDS_DLY_1,a\n\xC3\xA9,d\nZ,e\n"),
              SkinTable::kSuccess);
    std::vector<std::string> order;
    for (const auto& entry : table.entries())
        order.push_back(entry.first);
    // 0xC3 sorts after every ASCII byte: the comparison is unsigned.
    const std::vector<std::string> expected{"IDS_DLY_1", "IDS_DLY_16", "IDS_DLY_16D", "Z", "\xC3\xA9"};
    EXPECT_EQ(order, expected);
}

TEST(SkinTableFormat, LoadReplacesThePreviousEntries) {
    SkinTable table;
    ASSERT_EQ(loadText(table, "OLD,1"), SkinTable::kSuccess);
    ASSERT_EQ(loadText(table, "NEW,2"), SkinTable::kSuccess);
    EXPECT_FALSE(table.contains("OLD"));
    EXPECT_EQ(valueOf(table, "NEW"), u"2");
}

// The skin files' own decoder: continuation bytes give their low six bits unchecked (overlong
// forms decode), code points above U+FFFF and sequences cut short become "?", and a stray
// continuation byte empties the whole value.
TEST(SkinTableUtf8, SequencesDecodeAsTheSkinFilesExpect) {
    const std::pair<std::string_view, std::u16string_view> cases[] = {
        {"\xC3\xA9", u"\u00E9"},
        {"\xC2\x80", u"\u0080"},
        {"\xDF\xBF", u"\u07FF"},
        {"\xE0\xA0\x80", u"\u0800"},
        {"\xEF\xBF\xBD", u"\uFFFD"},
        {"x\xC3\xA9y\xE2\x82\xACz", u"x\u00E9y\u20ACz"},
        {"\xC3G", u"\u00C7"}, // 'G' (0x47) continues C3 as 0x07
        {"\xC1\x81", u"A"},
        {"\xF0\x80\x80\x80", std::u16string_view(u"\0", 1)},
        {"\xF8\x80\x80\x81\xA9", u"\u0069"},
        {"\xFC\x80\x80\x80\x83\xA9", u"\u00E9"},
        {"x\xF0\x9F\x8E\xB5y", u"x?y"},
        {"\xF4\x8F\xBF\xBF", u"?"},      // U+10FFFF
        {"\xF0\x90\x80\x80", u"?"},      // U+10000, the first one above
        {"\xF0\x8F\xBF\xBF", u"\uFFFF"}, // overlong U+FFFF still fits
        {"\xF8\x88\x80\x80\x80x", u"?x"},
        {"\xFD\xBF\xBF\xBF\xBF\xBFx", u"?x"},
        {"\x80xyz", u""},
        {"abc\xBF", u""},
        {"\xC3\xA9\xA9", u""},
        {"ab\xE2\x82", u"ab?"},
        {"\xC3", u"?"},
    };
    for (const auto& [bytes, expected] : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::string(bytes)));
        EXPECT_EQ(decode(bytes), expected);
    }
}

TEST(SkinTableUtf8, OutputStopsAt2048Units) {
    EXPECT_EQ(decode(std::string(3000, 'a')), std::u16string(SkinTable::kMaxValueUnits, u'a'));
    std::string accents;
    for (int i = 0; i < 2100; ++i)
        accents += "\xC3\xA9";
    EXPECT_EQ(decode(accents), std::u16string(SkinTable::kMaxValueUnits, u'\u00E9'));
    EXPECT_EQ(decode(std::string(2047, 'a') + "\xE2\x82\xAC" + "zz"), std::u16string(2047, u'a') + u"\u20AC");
}

TEST(SkinTableText, AbsentKeyGivesNotFoundText) {
    SkinTable table;
    ASSERT_EQ(loadText(table, "IDS_TIP_DB,dB"), SkinTable::kSuccess);
    EXPECT_EQ(table.text("IDS_TIP_DB"), u"dB");
    EXPECT_EQ(table.text("IDS_X"), u"IDS_X not found in text resource file!");
    // Key bytes are widened one by one, not decoded.
    EXPECT_EQ(table.text("\xC3\xA9"), u"\u00C3\u00A9 not found in text resource file!");
    // A hit does not disturb the texts of keys that are there.
    EXPECT_EQ(table.text("IDS_TIP_DB"), u"dB");
    EXPECT_EQ(table.find("IDS_X"), nullptr);
}

TEST(SkinTableFile, MissingFileOrAFolderFailsAndLeavesTheTableEmpty) {
    const auto missing = std::filesystem::temp_directory_path() / "pellucer-no-such-skin.tsres";
    std::filesystem::remove(missing);
    for (const auto& path : {missing, std::filesystem::temp_directory_path()}) {
        SkinTable table;
        ASSERT_EQ(loadText(table, "KEY,x"), SkinTable::kSuccess);
        EXPECT_EQ(table.load(path), SkinTable::kFailure) << path;
        EXPECT_FALSE(table.loaded());
        EXPECT_EQ(table.size(), 0u);
        EXPECT_EQ(table.text("KEY"), u"KEY not found in text resource file!");
    }
}

TEST(SkinTableFile, FileGivesSameTableAsMemoryWithoutNewlineTranslation) {
    const std::string bytes = std::string("\xEF\xBB\xBF") + std::string(kSampleSkin) + "\r\nCRKEEP,a\\\r\nb";
    // A non-ASCII file name checks that wide paths open on Windows.
    const TempFile file(std::filesystem::path(u8"pellucer-skin-\u00E9\u20AC.tsres"), bytes);
    SkinTable fromFile, fromMemory;
    ASSERT_EQ(fromFile.load(file.path()), SkinTable::kSuccess);
    ASSERT_EQ(loadText(fromMemory, bytes), SkinTable::kSuccess);
    EXPECT_TRUE(fromFile.loaded());
    EXPECT_EQ(fromFile.entries(), fromMemory.entries());
    EXPECT_EQ(valueOf(fromFile, "CRKEEP"), u"a\r");
}

TEST(SkinTableFile, FailedReadFromFileKeepsEarlierEntries) {
    const TempFile file("pellucer-skin-cut.tsres", "A,1\r\nB,x\\");
    SkinTable table;
    EXPECT_EQ(table.load(file.path()), SkinTable::kFailure);
    EXPECT_FALSE(table.loaded());
    EXPECT_EQ(valueOf(table, "A"), u"1");
    EXPECT_FALSE(table.contains("B"));
}

// ---- The shipped skin ----------------------------------------------------------------------

// Words of the parameter display text and the value readout; they reach hosts as 8-bit text.
constexpr const char* kDisplayWordKeys[] = {
    "IDS_TIP_DB",  "IDS_PERCENT",    "IDS_TIP_TO_ONE",  "IDS_TIP_ONE_TO", "IDS_TIP_MS",      "IDS_TIP_HZ",
    "IDS_TIP_KHZ", "IDS_GENERIC_ON", "IDS_GENERIC_OFF", "IDS_DB_NEG_INF", "IDS_DB_INFINITY",
};

// Delay note names, note index 0 to 15.
constexpr const char* kDelayNoteKeys[] = {
    "IDS_DLY_32T", "IDS_DLY_32", "IDS_DLY_32D", "IDS_DLY_16T", "IDS_DLY_16", "IDS_DLY_16D",
    "IDS_DLY_8T",  "IDS_DLY_8",  "IDS_DLY_8D",  "IDS_DLY_4T",  "IDS_DLY_4",  "IDS_DLY_4D",
    "IDS_DLY_2T",  "IDS_DLY_2",  "IDS_DLY_2D",  "IDS_DLY_1",
};

// Parameter-name label texts, parameter index 0 to 37.
constexpr const char* kTipKeys[] = {
    "IDS_TIP_ENABLE",          "IDS_TIP_IN_TUBE",         "IDS_TIP_IN_GAIN",
    "IDS_TIP_IN_TUBE_SAT",     "IDS_TIP_COMP_ENABLE",     "IDS_TIP_COMP_THRESHOLD",
    "IDS_TIP_COMP_RATIO",      "IDS_TIP_EXP_THRESHOLD",   "IDS_TIP_EXP_RATIO",
    "IDS_TIP_COMP_ATTACK",     "IDS_TIP_EQ_ENABLE",       "IDS_TIP_EQ_TUBE_SAT",
    "IDS_TIP_TUBE_LOW_ENABLE", "IDS_TIP_TUBE_MID_ENABLE", "IDS_TIP_TUBE_HIGH_ENABLE",
    "IDS_TIP_EQ_LOW_FREQ",     "IDS_TIP_EQ_LOW_GAIN",     "IDS_TIP_EQ_MID_FREQ",
    "IDS_TIP_EQ_MID_GAIN",     "IDS_TIP_EQ_HIGH_FREQ",    "IDS_TIP_EQ_HIGH_GAIN",
    "IDS_TIP_DSR_ENABLE",      "IDS_TIP_DSR_FREQ",        "IDS_TIP_DSR_AMOUNT",
    "IDS_TIP_DSR_LISTEN",      "IDS_TIP_DOUBLER_ENABLE",  "IDS_TIP_DOUBLER_DEPTH",
    "IDS_TIP_DOUBLER_STEREO",  "IDS_TIP_DELAY_ENABLE",    "IDS_TIP_DELAY_SYNC",
    "IDS_TIP_DELAY_TIME",      "IDS_TIP_DELAY_LEVEL",     "IDS_TIP_DELAY_FEEDBACK",
    "IDS_TIP_DELAY_FILT_MODE", "IDS_TIP_DELAY_FILTER",    "IDS_TIP_OUT_TUBE",
    "IDS_TIP_OUT_GAIN",        "IDS_TIP_OUT_TUBE_SAT",
};

// EQ graph labels, menu entries and message-box texts.
// clang-format off
constexpr const char* kEditorKeys[] = {
    "IDS_FREQ_31_25", "IDS_FREQ_62_5", "IDS_FREQ_125", "IDS_FREQ_250", "IDS_FREQ_500",
    "IDS_FREQ_1K", "IDS_FREQ_2K", "IDS_FREQ_4K", "IDS_FREQ_8K", "IDS_FREQ_16K",
    "IDS_DB_0", "IDS_MENU_ABOUT", "IDS_MENU_HELP", "IDS_BITMAP_NOT_FOUND_MESSAGE", "IDS_BITMAP_NOT_FOUND_TITLE",
};
// clang-format on

constexpr size_t kHostValueChars = 8; // hosts get value texts cut to this many characters

std::filesystem::path shippedSkin(const char* name) {
    return std::filesystem::path(PELLUCER_SOURCE_DIR) / "skin" / name;
}

bool isLatin1(const std::u16string& text) {
    for (const char16_t unit : text)
        if (unit > 0xFF || unit == 0)
            return false;
    return true;
}

TEST(ShippedSkin, TextFileParsesCleanlyAndHoldsEveryKey) {
    SkinTable table;
    ASSERT_EQ(table.load(shippedSkin("TextResources.tsres")), SkinTable::kSuccess);
    ASSERT_TRUE(table.loaded());

    std::vector<const char*> required;
    for (const char* key : kDisplayWordKeys)
        required.push_back(key);
    for (const char* key : kDelayNoteKeys)
        required.push_back(key);
    for (const char* key : kTipKeys)
        required.push_back(key);
    for (const char* key : kEditorKeys)
        required.push_back(key);
    for (const char* key : required) {
        const std::u16string* value = table.find(key);
        ASSERT_NE(value, nullptr) << key;
        EXPECT_FALSE(value->empty()) << key;
    }
    EXPECT_EQ(required.size(), 11u + 16u + 38u + 15u);
    // Nothing else, and no key given twice or lost to an over-long line: the file's entry lines
    // and the table agree.
    std::ifstream in(shippedSkin("TextResources.tsres"), std::ios::binary);
    size_t entryLines = 0;
    for (std::string line; std::getline(in, line);)
        entryLines += line.rfind("IDS_", 0) == 0 ? 1 : 0;
    EXPECT_EQ(entryLines, table.size());
    EXPECT_EQ(table.size(), required.size());
}

TEST(ShippedSkin, HostVisibleWordsSurviveEightBitHostText) {
    SkinTable table;
    ASSERT_EQ(table.load(shippedSkin("TextResources.tsres")), SkinTable::kSuccess);
    for (const char* key : kDisplayWordKeys)
        EXPECT_TRUE(isLatin1(table.text(key))) << key;
    for (const char* key : kDelayNoteKeys) {
        EXPECT_TRUE(isLatin1(table.text(key))) << key;
        EXPECT_LE(table.text(key).size(), kHostValueChars) << key;
    }
    // The longest texts a host sees: the expander at its infinite ratio, and minus infinity.
    EXPECT_LE(table.text("IDS_TIP_ONE_TO").size() + table.text("IDS_DB_INFINITY").size(), kHostValueChars);
    EXPECT_LE(table.text("IDS_DB_NEG_INF").size(), kHostValueChars);
    // The on and off words must differ, or a switch's state cannot be read.
    EXPECT_NE(table.text("IDS_GENERIC_ON"), table.text("IDS_GENERIC_OFF"));
}

TEST(ShippedSkin, GraphicsAndLayoutFilesParseCleanly) {
    for (const char* name : {"GraphicsResources.tsres", "LayoutResources.tsres"}) {
        SkinTable table;
        EXPECT_EQ(table.load(shippedSkin(name)), SkinTable::kSuccess) << name;
        EXPECT_TRUE(table.loaded()) << name;
    }
}

} // namespace
} // namespace pellucer
