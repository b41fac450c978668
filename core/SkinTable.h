#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>

namespace pellucer {

/// A key-to-text table read from one skin file: "TextResources.tsres" (display texts),
/// "GraphicsResources.tsres" (image file names) or "LayoutResources.tsres".
///
/// Skin file format (all three files): UTF-8 text in lines ending at CR or LF; an optional
/// byte-order mark; `;` at the start of a line makes it a comment; otherwise the bytes before
/// the first comma are the key, taken as they stand, and the rest of the line is the value, in
/// which backslash escapes (\\ \a \b \f \n \r \t \v \0, any other byte stands for itself, so a
/// backslash keeps a following CR or LF in the value) are resolved. The first entry of a key
/// wins. Values are decoded to UTF-16 by `decodeUtf8`.
///
/// Threads: a table is filled once, on the thread that constructs the first plug-in instance,
/// and only read afterwards, from the editor's window thread and from whatever thread asks for
/// parameter display text. Nothing is locked. The one write after loading is `text()`'s
/// "not found" scratch string: two threads that miss at the same moment race on it. A complete
/// skin never misses, and a missing skin only costs a garbled fallback text, so this is
/// accepted rather than paying for a lock on every lookup.
class SkinTable {
public:
    using Entries = std::map<std::string, std::u16string, std::less<>>;

    /// Load results: success, and the COM-style E_FAIL for an unopenable file or a failed read.
    static constexpr int32_t kSuccess = 0;
    static constexpr int32_t kFailure = static_cast<int32_t>(0x80004005u);

    /// Longest key and longest value (after escapes) a line may hold. A line that goes beyond
    /// either yields no entry at all; the parse goes on with the next line. Skipping, rather
    /// than cutting, keeps a truncated key from ever answering for another key, and the missing
    /// text shows up in the editor as "<key> not found in text resource file!" so the skin's
    /// author sees at once which line is too long.
    static constexpr size_t kMaxKeyBytes = 255;
    static constexpr size_t kMaxValueBytes = 1027;
    /// Most UTF-16 units a decoded value holds.
    static constexpr size_t kMaxValueUnits = 2048;

    SkinTable() = default;
    SkinTable(const SkinTable&) = delete;
    SkinTable& operator=(const SkinTable&) = delete;

    /// Replaces the table's entries with those of `file`, read as raw bytes. Answers kSuccess
    /// and marks the table loaded when the whole file was read; kFailure with an empty table
    /// when it cannot be opened or read, and kFailure with the entries before the failure (not
    /// marked loaded) when the file ends inside the byte-order mark or right after a backslash
    /// in a value. The base folder is kept.
    int32_t load(const std::filesystem::path& file);
    /// The same as `load` for a skin file already in memory.
    int32_t loadFromMemory(const uint8_t* bytes, size_t size);

    /// True once a file has been read to its end.
    bool loaded() const { return loaded_; }
    /// Removes every entry and clears the loaded flag.
    void clear();

    size_t size() const { return entries_.size(); }
    const Entries& entries() const { return entries_; }
    bool contains(std::string_view key) const { return entries_.find(key) != entries_.end(); }
    /// The value of `key`, or null when the table does not hold it.
    const std::u16string* find(std::string_view key) const;

    /// The value of `key`; when absent, the key (each byte widened to one unit) followed by
    /// " not found in text resource file!". The fallback lives in a scratch string that the
    /// next miss overwrites; see the class comment on threads.
    const std::u16string& text(std::string_view key) const;

    /// Folder put in front of every image file name of the graphics table (it ends with a
    /// separator; the table does not add one).
    void setBaseFolder(std::u16string folder) { baseFolder_ = std::move(folder); }
    const std::u16string& baseFolder() const { return baseFolder_; }

    /// The skin files' own UTF-8 decoder, which hosts and editor rely on byte for byte:
    /// lead bytes C0-DF, E0-EF, F0-F7, F8-FB and FC-FF start sequences of 2 to 6 bytes whose
    /// continuation bytes give their low six bits unchecked; a code point above U+FFFF becomes
    /// "?"; a byte 80-BF where a character should start empties the whole result; a sequence
    /// cut short by the end of the input becomes "?"; at most kMaxValueUnits units are produced.
    static std::u16string decodeUtf8(const uint8_t* bytes, size_t size);

private:
    int32_t parse(const uint8_t* bytes, size_t size);
    void addEntry(const std::string& key, const std::string& valueBytes);

    Entries entries_;
    bool loaded_ = false;
    std::u16string baseFolder_;
    mutable std::u16string notFound_;
};

/// The three process-wide tables, created empty on first use and destroyed when the module is
/// unloaded. The first plug-in instance fills them; everyone else only reads.
SkinTable& textResources();
SkinTable& graphicsResources();
SkinTable& layoutResources();

} // namespace pellucer
