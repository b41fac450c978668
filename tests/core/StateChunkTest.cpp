#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "core/ChannelStripEffect.h"

using namespace pellucer;

namespace {

struct Chunk : ::testing::Test {
    ChannelStripEffect effect{nullptr};

    std::vector<uint8_t> save() {
        void* data = nullptr;
        const int32_t size = effect.getChunk(&data, false);
        EXPECT_EQ(size, 4852);
        const auto* bytes = static_cast<const uint8_t*>(data);
        return {bytes, bytes + size};
    }
    static float valueAt(const std::vector<uint8_t>& chunk, int32_t index) {
        float v;
        std::memcpy(&v, chunk.data() + 4696 + 4 * index, 4);
        return v;
    }
    static void setValueAt(std::vector<uint8_t>& chunk, int32_t index, float v) {
        std::memcpy(chunk.data() + 4696 + 4 * index, &v, 4);
    }
};

} // namespace

TEST_F(Chunk, LayoutIsFixedAndLittleEndian) {
    effect.setParameter(kInputGain, 0.625f);
    effect.setProgramName("Lead Vox");
    const auto chunk = save();
    const uint8_t header[16] = {'T', 'L', 't', 'g', 1, 0, 0, 0, 0xE8, 0x12, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(chunk.data(), header, 16), 0);
    // The name as UTF-16LE at offset 16, terminated.
    const char* name = "Lead Vox";
    for (size_t k = 0; k < 8; ++k) {
        EXPECT_EQ(chunk[16 + 2 * k], static_cast<uint8_t>(name[k]));
        EXPECT_EQ(chunk[17 + 2 * k], 0);
    }
    EXPECT_EQ(chunk[32], 0);
    for (size_t k = 536; k < 4696; ++k)
        ASSERT_EQ(chunk[k], 0) << k;
    EXPECT_EQ(valueAt(chunk, kInputGain), 0.625f);
    EXPECT_EQ(valueAt(chunk, kReserved), 12345.0f);
    void* data = nullptr;
    EXPECT_EQ(effect.getChunk(&data, true), 4852); // bank and program requests alike
    EXPECT_EQ(effect.getChunk(nullptr, false), 0);
}

TEST_F(Chunk, RoundTripKeepsEverythingButTurnsThePlugInOn) {
    for (int32_t i = 1; i < kReserved; ++i)
        effect.setParameter(i, std::fmod(0.37f * static_cast<float>(i), 1.0f));
    effect.setParameter(kPlugInEnable, 0.0f);
    effect.setParameter(kReserved, 31452.0f);
    effect.setProgramName("Keeper");
    const auto chunk = save();
    std::vector<float> before(kNumParams);
    for (int32_t i = 0; i < kNumParams; ++i)
        before[i] = effect.getParameter(i);

    ChannelStripEffect other(nullptr);
    other.setProgram(3);
    ASSERT_EQ(other.setChunk(chunk.data(), static_cast<int32_t>(chunk.size()), false), 1);
    EXPECT_EQ(other.getProgram(), 3);
    EXPECT_EQ(other.getParameter(kPlugInEnable), 1.0f);
    for (int32_t i = 1; i < kNumParams; ++i)
        EXPECT_NEAR(other.getParameter(i), before[i], 2e-6) << paramName(i);
    char name[32];
    other.getProgramName(name);
    EXPECT_STREQ(name, "Keeper");
}

TEST_F(Chunk, OrderCodeInAChunk) {
    auto chunk = save();
    setValueAt(chunk, kReserved, 54321.0f);
    ASSERT_EQ(effect.setChunk(chunk.data(), 4852, false), 1);
    EXPECT_EQ(effect.getParameter(kReserved), 54321.0f);
    setValueAt(chunk, kReserved, 0.0f);
    ASSERT_EQ(effect.setChunk(chunk.data(), 4852, false), 1);
    EXPECT_EQ(effect.getParameter(kReserved), 54321.0f);
    EXPECT_EQ(effect.programs()[0].values[kReserved], 54321.0f); // the program mirrors the order
}

TEST_F(Chunk, ShortOrMissingChunksAreRefusedWhole) {
    auto chunk = save();
    setValueAt(chunk, kInputGain, 0.9f);
    const ProgramRecord before = effect.programs()[0];
    EXPECT_EQ(effect.setChunk(chunk.data(), 11, false), 0);
    EXPECT_EQ(effect.setChunk(chunk.data(), 12, false), 0);
    EXPECT_EQ(effect.setChunk(chunk.data(), 4851, false), 0);
    EXPECT_EQ(effect.setChunk(nullptr, 4852, false), 0);
    EXPECT_EQ(std::memcmp(&before, &effect.programs()[0], sizeof(ProgramRecord)), 0);
    EXPECT_NEAR(effect.getParameter(kInputGain), 0.5f, 1e-6);
    // Longer is fine: bytes past the chunk are ignored.
    chunk.resize(6000, 0xAB);
    EXPECT_EQ(effect.setChunk(chunk.data(), 6000, false), 1);
    EXPECT_NEAR(effect.getParameter(kInputGain), 0.9f, 1e-6);
}

TEST_F(Chunk, ForeignHeadersAreKeptUntilTheNextSave) {
    auto chunk = save();
    chunk[0] = 'X';
    chunk[4] = 7;
    ASSERT_EQ(effect.setChunk(chunk.data(), 4852, false), 1);
    EXPECT_EQ(effect.programs()[0].magic[0], 'X');
    EXPECT_EQ(effect.programs()[0].version, 1); // setProgram marks the program as version 1
    const auto again = save();
    EXPECT_EQ(again[0], 'T');
}

TEST_F(Chunk, DamagedValuesDoNotReachTheStages) {
    auto chunk = save();
    setValueAt(chunk, kInputGain, NAN);
    setValueAt(chunk, kOutputGain, 5.0f);
    setValueAt(chunk, kDelayLevel, -3.0f);
    setValueAt(chunk, kReserved, 11111.0f);
    // A name without a terminator anywhere in its 260 units.
    for (size_t k = 16; k < 536; k += 2) {
        chunk[k] = 'z';
        chunk[k + 1] = 0;
    }
    ASSERT_EQ(effect.setChunk(chunk.data(), 4852, false), 1);
    EXPECT_NEAR(effect.getParameter(kInputGain), 0.5f, 1e-6);
    EXPECT_EQ(effect.getParameter(kOutputGain), 1.0f);
    EXPECT_EQ(effect.getParameter(kDelayLevel), 0.0f);
    EXPECT_EQ(effect.getParameter(kReserved), 12345.0f);
    char name[32];
    effect.getProgramName(name);
    EXPECT_EQ(std::strlen(name), 23u);
    const auto saved = save();
    EXPECT_EQ(valueAt(saved, kReserved), 12345.0f);
    EXPECT_FALSE(std::isnan(valueAt(saved, kInputGain)));
}

TEST(ProgramNames, FactoryNameRenameAndPlaceholders) {
    ChannelStripEffect effect(nullptr);
    char name[32];
    effect.getProgramName(name);
    EXPECT_STREQ(name, "Full Reset");
    effect.setProgram(4);
    effect.setProgramName("---");
    effect.getProgramName(name);
    EXPECT_STREQ(name, "--- 5");
    effect.setProgramName("A name that is far longer than a host shows");
    effect.getProgramName(name);
    EXPECT_STREQ(name, "A name that is far long"); // 23 characters
    EXPECT_EQ(effect.programs()[4].name(), u"A name that is far longer than a host shows");
    // An empty name shows as empty once the name buffer holds it too.
    effect.setProgramName("");
    effect.getProgramName(name);
    EXPECT_STREQ(name, "");
    EXPECT_TRUE(effect.programNameByIndex(-1, 0, name));
    EXPECT_STREQ(name, "Full Reset");
    EXPECT_FALSE(effect.programNameByIndex(1, 0, name));
    EXPECT_STREQ(name, "");
    EXPECT_FALSE(effect.programNameByIndex(0, 61, name));
    // Latin-1 names round-trip exactly.
    effect.setProgramName("Caf\xE9");
    effect.getProgramName(name);
    EXPECT_STREQ(name, "Caf\xE9");
}

TEST(ProgramNames, ResetMakesTheProgramBlankAndKeepsTheOrder) {
    ChannelStripEffect effect(nullptr);
    effect.setParameter(kReserved, 23415.0f);
    effect.setParameter(kInputGain, 0.8f);
    effect.resetCurrentProgram();
    EXPECT_EQ(effect.getParameter(kPlugInEnable), 1.0f);
    for (int32_t i = 1; i < kReserved; ++i)
        EXPECT_EQ(effect.programs()[0].values[i], 0.0f) << i;
    EXPECT_EQ(effect.programs()[0].values[kReserved], 0.0f);
    EXPECT_EQ(effect.getParameter(kReserved), 23415.0f);
    char name[32];
    effect.getProgramName(name);
    EXPECT_STREQ(name, "My Program");
}
