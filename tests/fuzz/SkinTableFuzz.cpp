// libFuzzer target for the skin file parser: any byte string must load without a crash, a
// sanitizer report or an over-long entry, and give the same table when loaded twice.

#include "core/SkinTable.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using pellucer::SkinTable;
    SkinTable table;
    const int32_t result = table.loadFromMemory(data, size);
    check(result == SkinTable::kSuccess || result == SkinTable::kFailure);
    check(table.loaded() == (result == SkinTable::kSuccess));

    for (const auto& [key, value] : table.entries()) {
        check(key.size() <= SkinTable::kMaxKeyBytes);
        check(value.size() <= SkinTable::kMaxValueBytes);
        check(table.find(key) == &value);
        check(&table.text(key) == &value);
    }

    // Lookups of keys that are usually absent, and of the input's own leading bytes.
    const std::u16string& missing = table.text("IDS_TIP_DB");
    check(table.contains("IDS_TIP_DB") || missing == u"IDS_TIP_DB not found in text resource file!");
    const std::string prefix(reinterpret_cast<const char*>(data), size < 16 ? size : 16);
    (void)table.text(prefix);
    (void)table.find(prefix);

    // The decoder alone, on the raw input: bounded and never longer than its input.
    const std::u16string decoded = SkinTable::decodeUtf8(data, size);
    check(decoded.size() <= SkinTable::kMaxValueUnits && decoded.size() <= size);

    // Loading is deterministic.
    SkinTable again;
    check(again.loadFromMemory(data, size) == result);
    check(again.entries() == table.entries());
    return 0;
}
