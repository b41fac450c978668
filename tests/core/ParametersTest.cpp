// The parameters and programs as a host drives and stores them: the stage setting each parameter
// moves, the module order code, indices and values no host should send, the state chunk and the
// program names. What every parameter shows, reads back and parses is held by ParameterGoldenTest.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

#include "core/ChannelStripEffect.h"
#include "core/ParameterTable.h"

using namespace pellucer;

// The stage settings whose unit the value texts do not show (the golden table sees them only
// through their read-back, which a fault on both ways would keep): each curve once, at its ends.
TEST(ParameterTable, EachParameterDrivesItsStageInItsUnit) {
    using E = const ChannelStripEffect&;
    struct StagePoint {
        int32_t index;
        float v;
        double expected, tolerance;
        std::function<double(E)> read;
    };
    const StagePoint points[] = {
        {kInputGain, 0.0f, std::pow(10.0, -24.0 / 20.0), 1e-15, [](E e) { return e.inputTube().inputGain(); }},
        {kOutputGain, 0.5f, 1.0, 0.0, [](E e) { return e.outputTube().outputGain(); }}, // exactly unity
        {kEqTubeSaturation, 1.0f, 2.0, 0.0, [](E e) { return e.equaliser().tubeDrive(); }},
        {kOutputTubeSaturation, 0.0f, 0.25, 0.0, [](E e) { return e.outputTube().drive(); }},
        {kCompressorRatio, 0.4014f, 4.0, 1e-3, [](E e) { return e.compander().compressorRatio(); }},
        {kCompressorRatio, 1.0f, 200.0, 0.0, [](E e) { return e.compander().compressorRatio(); }}, // infinity
        {kExpanderRatio, 1.0f, 1000.0, 0.0, [](E e) { return e.compander().expanderRatio(); }},
        {kCompanderAttack, 0.0f, 0.0, 0.0, [](E e) { return e.compander().attackMs(); }}, // instant
        {kDelayLevel, 0.4f, 0.16, 1e-7, [](E e) { return e.delay().level(); }},
        {kDelayFeedback, 1.0f, 0.9, 1e-15, [](E e) { return e.delay().feedback(); }},
        {kDelayFilterFreq, 0.3f, 0.3f, 0.0, [](E e) { return e.delay().filterCornerControl(); }},
        // "On" puts the tube in circuit: the stage's flag is its bypass.
        {kInputTubeEnable, 1.0f, 0.0, 0.0, [](E e) { return double(e.inputTube().shapingOff()); }},
        {kOutputTubeEnable, 0.5f, 1.0, 0.0, [](E e) { return double(e.outputTube().shapingOff()); }},
    };
    for (const StagePoint& point : points) {
        ChannelStripEffect effect(nullptr);
        effect.setParameter(point.index, point.v);
        EXPECT_NEAR(point.read(effect), point.expected, point.tolerance) << paramName(point.index) << " at " << point.v;
    }
    // The ratios and the attack reach the compander rounded to single precision, as they always have.
    ChannelStripEffect effect(nullptr);
    effect.setParameter(kCompressorRatio, 0.999f);
    effect.setParameter(kCompanderAttack, 0.37f);
    for (double setting : {effect.compander().compressorRatio(), effect.compander().attackMs()})
        EXPECT_EQ(setting, static_cast<double>(static_cast<float>(setting)));
}

// Each setting is wired to its own stage: moving one parameter reads back in no other (the delay
// time follows its sync switch).
TEST(ParameterTable, NoParameterMovesAnother) {
    for (int32_t index = 0; index < kReserved; ++index) {
        ChannelStripEffect effect(nullptr);
        std::array<float, kNumParams> before{};
        for (int32_t i = 0; i < kNumParams; ++i)
            before[i] = effect.getParameter(i);
        const float moved = before[index] > 0.5f ? 0.0f : 1.0f;
        effect.setParameter(index, moved);
        EXPECT_NEAR(effect.getParameter(index), moved, 2e-6) << paramName(index);
        for (int32_t other = 0; other < kNumParams; ++other)
            EXPECT_TRUE(other == index || (index == kDelaySyncEnable && other == kDelayTime) ||
                        effect.getParameter(other) == before[other])
                << paramName(index) << " moved " << paramName(other);
    }
}

// The order code names the five modules (1 de-esser, 2 compander, 3 equaliser, 4 doubler, 5 delay)
// in chain order, each exactly once. Anything else, a repeated digit above all, leaves the order,
// the code read back and the program as they were.
TEST(ModuleOrder, OnlyPermutationsOfTheFiveModulesAreTaken) {
    using Order = std::array<int32_t, 5>;
    const std::pair<float, std::optional<Order>> cases[] = {
        {34215.0f, Order{2, 3, 1, 0, 4}}, {21344.998f, Order{1, 0, 2, 3, 4}}, // a hair below 21345
        {12355.0f, {}}, {22345.0f, {}}, {11111.0f, {}}, {12245.0f, {}}, {54331.0f, {}}, {12344.9f, {}},
        {12340.0f, {}}, {12346.0f, {}}, {21346.0f, {}}, {60000.0f, {}}, {0.0f, {}}, {NAN, {}}, {INFINITY, {}}};
    for (const auto& [code, order] : cases) {
        ChannelStripEffect effect(nullptr);
        effect.setParameter(kReserved, 54321.0f);
        effect.setParameter(kReserved, code);
        const Order expected = order.value_or(Order{4, 3, 2, 1, 0});
        for (int32_t p = 0; p < 5; ++p)
            EXPECT_EQ(effect.moduleAt(p), expected[p]) << code << " position " << p;
        const float readBack = order ? std::round(code) : 54321.0f;
        EXPECT_EQ(effect.getParameter(kReserved), readBack) << code;
        EXPECT_EQ(effect.programs()[0].values[kReserved], order ? code : 54321.0f) << code; // as sent
    }
}

// The Delay Time knob keeps its position when sync goes on and is a free time again when it goes
// off: 20 ms * 50^0.95 = 0.8609 s.
TEST(ParameterTable, DelayTimeKeepsItsPositionAcrossSync) {
    ChannelStripEffect effect(nullptr);
    effect.setParameter(kDelayTime, 0.95f);
    effect.setParameter(kDelaySyncEnable, 1.0f);
    EXPECT_TRUE(effect.delay().sync() && effect.getParameter(kDelayTime) == 0.95f);
    effect.setParameter(kDelaySyncEnable, 0.0f);
    EXPECT_NEAR(effect.delay().timeSeconds(), 0.8609, 1e-4);
    EXPECT_NEAR(effect.getParameter(kDelayTime), 0.95f, 1e-6);
}

// Indices no host may use and NaN change nothing and read 0; values outside 0..1 are held to it.
TEST(ParameterTable, BadIndicesAndValuesChangeNothing) {
    ChannelStripEffect effect(nullptr);
    const ProgramRecord before = effect.programs()[0];
    for (const auto& [index, v] : {std::pair{-1, 0.3f}, {67, 0.3f}, {1000, 0.3f}, {2, NAN}, {38, NAN}})
        effect.setParameter(index, v);
    EXPECT_EQ(std::memcmp(&before, &effect.programs()[0], sizeof(ProgramRecord)), 0);
    EXPECT_EQ(effect.inputTube().inputGain(), 1.0);
    for (int32_t i : {-5, 39, 50, 60, 67})
        EXPECT_EQ(effect.getParameter(i), 0.0f) << i;
    effect.setParameter(kInputGain, 7.0f);
    EXPECT_EQ(effect.getParameter(kInputGain), 1.0f);
    effect.setParameter(kDoublerPresence, -INFINITY);
    EXPECT_EQ(effect.doubler().presence(), 0.0);
}

namespace {

// The chunk: "TLtg", version 1, the body's size (4852 - 12 = 4840 = 0x12E8), the name as 260
// UTF-16LE units at 16, zeros, and the 39 values as little-endian floats at 4696.
std::vector<uint8_t> save(ChannelStripEffect& effect) {
    void* data = nullptr;
    const int32_t size = effect.getChunk(&data, false);
    EXPECT_EQ(size, 4852);
    return {static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size};
}
float valueAt(const std::vector<uint8_t>& chunk, int32_t index) {
    float v;
    std::memcpy(&v, chunk.data() + 4696 + 4 * index, 4);
    return v;
}
void setValueAt(std::vector<uint8_t>& chunk, int32_t index, float v) {
    std::memcpy(chunk.data() + 4696 + 4 * index, &v, 4);
}

} // namespace

// The layout, byte for byte; everything comes back into the current program of another instance,
// name included, but a loaded state always starts with the plug-in on.
TEST(Chunk, LayoutIsFixedAndRoundTripsButTurnsThePlugInOn) {
    ChannelStripEffect effect(nullptr), other(nullptr);
    for (int32_t i = 1; i < kReserved; ++i)
        effect.setParameter(i, std::fmod(0.37f * static_cast<float>(i), 1.0f));
    effect.setParameter(kInputGain, 0.625f);
    effect.setParameter(kPlugInEnable, 0.0f);
    effect.setParameter(kReserved, 31452.0f);
    effect.setProgramName("Lead Vox");
    const auto chunk = save(effect);
    const uint8_t header[] = {'T', 'L', 't', 'g', 1, 0, 0, 0, 0xE8, 0x12, 0, 0, 0, 0, 0, 0,
                              'L', 0,   'e', 0,   'a', 0, 'd', 0, ' ', 0, 'V', 0, 'o', 0, 'x', 0, 0, 0};
    EXPECT_EQ(std::memcmp(chunk.data(), header, sizeof(header)), 0);
    EXPECT_TRUE(std::all_of(chunk.begin() + 536, chunk.begin() + 4696, [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(valueAt(chunk, kInputGain), 0.625f);
    EXPECT_EQ(valueAt(chunk, kReserved), 31452.0f);
    void* data = nullptr;
    EXPECT_EQ(effect.getChunk(&data, true), 4852); // bank and program requests alike
    other.setProgram(3);
    ASSERT_EQ(other.setChunk(chunk.data(), static_cast<int32_t>(chunk.size()), false), 1);
    EXPECT_EQ(other.getProgram(), 3);
    EXPECT_EQ(other.getParameter(kPlugInEnable), 1.0f);
    for (int32_t i = 1; i < kNumParams; ++i)
        EXPECT_NEAR(other.getParameter(i), effect.getParameter(i), 2e-6) << paramName(i);
    char name[32];
    other.getProgramName(name);
    EXPECT_STREQ(name, "Lead Vox");
}

// Too short or missing chunks are refused whole; longer ones are read and the rest ignored; a
// foreign header is kept until the next save writes ours. In someone else's damaged song, values
// that are not numbers or not a module order keep what the program had, values out of range are
// held to it, and a name with no terminator in its 260 units is cut.
TEST(Chunk, ShortForeignAndDamagedChunks) {
    ChannelStripEffect effect(nullptr);
    effect.setParameter(kReserved, 54321.0f);
    auto chunk = save(effect);
    const ProgramRecord before = effect.programs()[0];
    for (int32_t size : {11, 12, 4851})
        EXPECT_EQ(effect.setChunk(chunk.data(), size, false), 0) << size;
    EXPECT_EQ(effect.setChunk(nullptr, 4852, false), 0);
    EXPECT_EQ(std::memcmp(&before, &effect.programs()[0], sizeof(ProgramRecord)), 0);
    for (const auto& [index, v] : {std::pair{kInputGain, NAN}, {kOutputGain, 5.0f}, {kDelayLevel, -3.0f},
                                   {kReserved, 12355.0f}, {kEqLowGain, 0.9f}})
        setValueAt(chunk, index, v);
    for (size_t k = 16; k < 536; k += 2)
        chunk[k] = 'z';
    chunk[0] = 'X';
    chunk[4] = 7;
    chunk.resize(6000, 0xAB);
    ASSERT_EQ(effect.setChunk(chunk.data(), 6000, false), 1);
    EXPECT_TRUE(effect.programs()[0].magic[0] == 'X' && effect.programs()[0].version == 1);
    for (const auto& [index, v] : {std::pair{kInputGain, 0.5f}, {kOutputGain, 1.0f}, {kDelayLevel, 0.0f},
                                   {kReserved, 54321.0f}, {kEqLowGain, 0.9f}})
        EXPECT_NEAR(effect.getParameter(index), v, 1e-6) << paramName(index);
    EXPECT_EQ(effect.moduleAt(0), kModuleDelay);
    char name[32];
    effect.getProgramName(name);
    EXPECT_EQ(std::strlen(name), 23u);
    const auto saved = save(effect);
    EXPECT_TRUE(saved[0] == 'T' && valueAt(saved, kReserved) == 54321.0f && valueAt(saved, kInputGain) == 0.5f);
}

// Resetting blanks the stored program (the order code too), leaving the plug-in on and the running
// order as it was; a program without a name shows "My Program" until a rename. Hosts get 23
// characters of a name (their buffers hold 24); "---" is a placeholder shown with the program
// number; Latin-1 names round-trip.
TEST(ProgramNames, ResetRenameAndPlaceholders) {
    ChannelStripEffect effect(nullptr);
    char name[32];
    effect.setProgram(4);
    effect.setParameter(kReserved, 23415.0f);
    effect.resetCurrentProgram();
    for (int32_t i = 1; i <= kReserved; ++i)
        EXPECT_EQ(effect.programs()[4].values[i], 0.0f) << i;
    EXPECT_TRUE(effect.getParameter(kPlugInEnable) == 1.0f && effect.getParameter(kReserved) == 23415.0f);
    effect.getProgramName(name);
    EXPECT_STREQ(name, "My Program");
    for (const auto& [given, shown] : {std::pair{"---", "--- 5"}, {"", ""}, {"Caf\xE9", "Caf\xE9"},
                                       {"A name that is far longer than a host shows", "A name that is far long"}}) {
        effect.setProgramName(given);
        effect.getProgramName(name);
        EXPECT_STREQ(name, shown);
    }
    EXPECT_EQ(effect.programs()[4].name(), u"A name that is far longer than a host shows");
    EXPECT_TRUE(effect.programNameByIndex(-1, 0, name));
    EXPECT_STREQ(name, "Full Reset");
    EXPECT_FALSE(effect.programNameByIndex(1, 0, name) || effect.programNameByIndex(0, 61, name));
}
