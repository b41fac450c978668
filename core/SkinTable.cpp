#include "core/SkinTable.h"

#include <fstream>
#include <vector>

namespace pellucer {

namespace {

constexpr uint8_t kByteOrderMarkLead = 0xEF;
constexpr size_t kByteOrderMarkBytes = 3;
constexpr uint8_t kCarriageReturn = 0x0D;
constexpr uint8_t kLineFeed = 0x0A;
constexpr uint8_t kCommentMark = ';';
constexpr uint8_t kKeySeparator = ',';
constexpr uint8_t kEscape = '\\';

constexpr std::u16string_view kNotFoundSuffix = u" not found in text resource file!";

/// The byte that a backslash followed by `b` stands for: the C escapes and \0; any other byte,
/// the backslash itself included, stands for itself.
uint8_t unescape(uint8_t b) {
    constexpr uint8_t kEscapes[][2] = {{'a', 0x07}, {'b', 0x08}, {'f', 0x0C}, {'n', 0x0A},
                                       {'r', 0x0D}, {'t', 0x09}, {'v', 0x0B}, {'0', 0x00}};
    for (const auto& escape : kEscapes)
        if (escape[0] == b)
            return escape[1];
    return b;
}

} // namespace

int32_t SkinTable::load(const std::filesystem::path& file) {
    clear();
    // Nothing may escape into the host: a read error (a folder given as the file, a failing
    // drive) or a skin too big for memory is a failed load like any other.
    try {
        // Raw bytes, no newline translation; a std::filesystem::path opens wide names on Windows.
        std::ifstream in(file, std::ios::binary);
        if (!in.is_open())
            return kFailure;
        // istream::read turns a read error into badbit; iterating over the stream buffer would
        // let the buffer's exception through instead.
        std::vector<uint8_t> bytes;
        char chunk[4096];
        while (in) {
            in.read(chunk, sizeof chunk);
            bytes.insert(bytes.end(), chunk, chunk + in.gcount());
        }
        if (in.bad())
            return kFailure;
        return parse(bytes.data(), bytes.size());
    } catch (...) {
        return kFailure;
    }
}

int32_t SkinTable::loadFromMemory(const uint8_t* bytes, size_t size) {
    clear();
    if (bytes == nullptr && size != 0)
        return kFailure;
    try {
        return parse(bytes, size);
    } catch (...) {
        return kFailure; // out of memory: the entries added so far stay, not marked loaded
    }
}

void SkinTable::clear() {
    entries_.clear();
    loaded_ = false;
}

int32_t SkinTable::parse(const uint8_t* bytes, size_t size) {
    size_t at = 0;
    // The mark's two trailing bytes are skipped unseen: only the lead byte is tested.
    if (size > 0 && bytes[0] == kByteOrderMarkLead) {
        if (size < kByteOrderMarkBytes)
            return kFailure;
        at = kByteOrderMarkBytes;
    }

    enum class Field { LineStart, Key, Value, Comment };
    Field field = Field::LineStart;
    std::string key;
    std::string value;
    bool tooLong = false;

    // A line yields an entry only when it had a comma. A line without one (neither comment nor
    // entry) is dropped whole, so it can never leak into the next line's key.
    auto endLine = [&] {
        if (field == Field::Value && !tooLong)
            addEntry(key, value);
        key.clear();
        value.clear();
        tooLong = false;
        field = Field::LineStart;
    };
    auto append = [&tooLong](std::string& to, uint8_t b, size_t limit) {
        if (to.size() < limit)
            to.push_back(static_cast<char>(b));
        else
            tooLong = true;
    };

    while (at < size) {
        const uint8_t b = bytes[at++];
        // Escapes exist only in values; keys and comments take a backslash as it stands.
        if (field == Field::Value && b == kEscape) {
            if (at == size)
                return kFailure; // the unfinished line is not an entry; earlier ones stay
            append(value, unescape(bytes[at++]), kMaxValueBytes);
            continue;
        }
        if (b == kCarriageReturn || b == kLineFeed) {
            endLine();
            continue;
        }
        switch (field) {
        case Field::LineStart:
            if (b == kCommentMark) {
                field = Field::Comment;
                break;
            }
            field = Field::Key;
            [[fallthrough]];
        case Field::Key:
            if (b == kKeySeparator)
                field = Field::Value;
            else
                append(key, b, kMaxKeyBytes);
            break;
        case Field::Value:
            append(value, b, kMaxValueBytes);
            break;
        case Field::Comment:
            break;
        }
    }
    endLine(); // the last line needs no line end
    loaded_ = true;
    return kSuccess;
}

void SkinTable::addEntry(const std::string& key, const std::string& valueBytes) {
    if (entries_.find(key) != entries_.end())
        return; // the first entry of a key wins
    entries_.emplace(key, decodeUtf8(reinterpret_cast<const uint8_t*>(valueBytes.data()), valueBytes.size()));
}

const std::u16string* SkinTable::find(std::string_view key) const {
    const auto it = entries_.find(key);
    return it == entries_.end() ? nullptr : &it->second;
}

const std::u16string& SkinTable::text(std::string_view key) const {
    if (const std::u16string* value = find(key))
        return *value;
    notFound_.clear();
    for (const char c : key)
        notFound_.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    notFound_.append(kNotFoundSuffix);
    return notFound_;
}

std::u16string SkinTable::decodeUtf8(const uint8_t* bytes, size_t size) {
    std::u16string out;
    size_t at = 0;
    while (at < size && out.size() < kMaxValueUnits) {
        const uint8_t lead = bytes[at++];
        if (lead < 0x80) {
            out.push_back(static_cast<char16_t>(lead));
            continue;
        }
        if (lead < 0xC0)
            return {}; // a continuation byte where a character should start spoils the value

        // Sequence length from the lead byte, and the lead's payload bits.
        size_t continuation;
        uint32_t codePoint;
        if (lead < 0xE0) {
            continuation = 1;
            codePoint = lead & 0x1Fu;
        } else if (lead < 0xF0) {
            continuation = 2;
            codePoint = lead & 0x0Fu;
        } else if (lead < 0xF8) {
            continuation = 3;
            codePoint = lead & 0x07u;
        } else if (lead < 0xFC) {
            continuation = 4;
            codePoint = lead & 0x03u;
        } else {
            continuation = 5;
            codePoint = lead & 0x01u;
        }
        if (size - at < continuation) {
            out.push_back(u'?'); // cut short by the end of the value
            break;
        }
        for (size_t i = 0; i < continuation; ++i)
            codePoint = (codePoint << 6) | (bytes[at++] & 0x3Fu);
        // No surrogate pairs: what UTF-16 cannot hold in one unit is shown as a question mark.
        out.push_back(codePoint > 0xFFFFu ? u'?' : static_cast<char16_t>(codePoint));
    }
    return out;
}

SkinTable& textResources() {
    static SkinTable table;
    return table;
}

SkinTable& graphicsResources() {
    static SkinTable table;
    return table;
}

SkinTable& layoutResources() {
    static SkinTable table;
    return table;
}

} // namespace pellucer
