// libFuzzer target for the skin file parser: any byte string must load without a crash, a
// sanitizer report or an over-long entry, and give the same table when loaded twice.

#include "core/SkinTable.h"

#include <cstdint>
#include <cstdlib>
#include <string>

static void check(bool condition) {
    if (!condition)
        std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using pellucer::SkinTable;
    SkinTable table, again;
    const int32_t result = table.loadFromMemory(data, size);
    check((result == SkinTable::kSuccess || result == SkinTable::kFailure) &&
          table.loaded() == (result == SkinTable::kSuccess));
    for (const auto& [key, value] : table.entries())
        check(key.size() <= SkinTable::kMaxKeyBytes && value.size() <= SkinTable::kMaxValueBytes &&
              table.find(key) == &value && &table.text(key) == &value);
    // Lookups of a key that is usually absent, and of the input's own leading bytes.
    check(table.contains("IDS_TIP_DB") || table.text("IDS_TIP_DB") == u"IDS_TIP_DB not found in text resource file!");
    const std::string prefix(reinterpret_cast<const char*>(data), size < 16 ? size : 16);
    (void)table.text(prefix);
    (void)table.find(prefix);
    // The decoder alone, on the raw input: bounded and never longer than its input.
    const std::u16string decoded = SkinTable::decodeUtf8(data, size);
    check(decoded.size() <= SkinTable::kMaxValueUnits && decoded.size() <= size);
    // Loading is deterministic.
    check(again.loadFromMemory(data, size) == result && again.entries() == table.entries());
    return 0;
}
