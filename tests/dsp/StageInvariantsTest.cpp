// Properties every stage must have, checked once for all of them, and the chain that runs them.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dsp/Compander.h"
#include "dsp/DeEsser.h"
#include "dsp/Doubler.h"
#include "dsp/ModuleChain.h"
#include "dsp/TempoDelay.h"
#include "dsp/ThreeBandEq.h"
#include "dsp/TubeStage.h"
#include "tests/TestSupport.h"

using namespace pellucer;

namespace {

constexpr double kNaN = NAN, kInf = INFINITY;

// A setting: the value for audible work, then bad values and what must read back after each.
template <typename Stage> struct Setting {
    void (Stage::*set)(double);
    double (Stage::*get)() const;
    double value;
    std::vector<std::pair<double, double>> bad;
};
template <typename Stage> std::vector<Setting<Stage>> settings();
template <> std::vector<Setting<TubeStage>> settings() {
    return {{&TubeStage::setDrive, &TubeStage::drive, 1.7, {}}};
}
template <> std::vector<Setting<Compander>> settings() {
    using C = Compander;
    return {{&C::setCompressorThreshold, &C::compressorThresholdDb, -30.0, {{kNaN, -30.0}}},
            {&C::setCompressorRatio, &C::compressorRatio, 6.0, {{kNaN, 6.0}, {0.0, 1.0}}},
            {&C::setExpanderThreshold, &C::expanderThresholdDb, -50.0, {{kNaN, -50.0}}},
            {&C::setExpanderRatio, &C::expanderRatio, 3.0, {{kNaN, 3.0}, {-3.0, 1.0}}},
            {&C::setAttack, &C::attackMs, 2.0, {{kNaN, 2.0}, {kInf, 2.0}, {-5.0, 0.0}}}};
}
template <> std::vector<Setting<ThreeBandEq>> settings() {
    using E = ThreeBandEq;
    return {{&E::setLowFrequency, &E::lowFrequency, 120.0, {{kNaN, 120.0}, {0.0, 120.0}}},
            {&E::setLowGain, &E::lowGainDb, 6.0, {{kNaN, 6.0}}},
            {&E::setMidFrequency, &E::midFrequency, 1500.0, {{-5.0, 1500.0}, {kInf, 1500.0}}},
            {&E::setMidGain, &E::midGainDb, -4.0, {{kNaN, -4.0}, {kInf, -4.0}}},
            {&E::setHighGain, &E::highGainDb, 3.0, {}},
            {&E::setTubeDrive, &E::tubeDrive, 1.5, {{0.0, 1.5}, {kNaN, 1.5}}}};
}
template <> std::vector<Setting<DeEsser>> settings() {
    return {{&DeEsser::setSplitFrequency, &DeEsser::splitFrequency, 5000.0, {{kNaN, 5000.0}}},
            {&DeEsser::setDepth, &DeEsser::depth, 1.0, {{kNaN, 1.0}, {3.0, 1.0}, {-1.0, 0.0}}}};
}
template <> std::vector<Setting<Doubler>> settings() {
    return {{&Doubler::setPresence, &Doubler::presence, 0.8, {{kNaN, 0.8}, {4.0, 1.0}}},
            {&Doubler::setStereo, &Doubler::stereo, 0.6, {{kNaN, 0.6}, {-2.0, 0.0}}}};
}
template <> std::vector<Setting<TempoDelay>> settings() {
    using D = TempoDelay;
    return {{&D::setTime, &D::timeSeconds, 0.05, {{kNaN, 0.05}, {1e9, D::kMaxTimeSeconds}}},
            {&D::setLevel, &D::level, 0.5, {{kNaN, 0.5}, {-1.0, 0.0}}},
            {&D::setFeedback, &D::feedback, 0.85, {{kNaN, 0.85}, {5.0, D::kMaxFeedback}}},
            {&D::setFilterMode, &D::filterMode, 0.3, {{kNaN, 0.3}}},
            {&D::setFilterCornerControl, &D::filterCornerControl, 0.6, {{kNaN, 0.6}}}};
}

template <typename Stage> std::unique_ptr<Stage> make(float rate) {
    auto stage = std::make_unique<Stage>();
    stage->setSampleRate(rate);
    for (const auto& setting : settings<Stage>())
        ((*stage).*setting.set)(setting.value);
    if constexpr (std::is_same_v<Stage, ThreeBandEq>)
        stage->setTubeMid(true);
    stage->setSampleRate(rate); // again, so time-dependent state starts from the new settings
    return stage;
}

// Finite and never sub-normal.
void expectClean(const std::vector<double>& s) {
    for (size_t i = 0; i < s.size(); ++i)
        ASSERT_TRUE(std::isnormal(s[i]) || s[i] == 0.0) << "frame " << i << ": " << s[i];
}

// A stage that multiplies by a gain, logs its calls and counts resets.
struct ProbeModule : DspModule {
    ProbeModule(char name, std::string& log, double gain = 1.0) : name(name), log(log), gain(gain) {}
    void process(double* left, double* right, uint64_t, int32_t frames, bool mono) override {
        log += name;
        for (int32_t i = 0; i < frames; ++i) {
            left[i] *= gain;
            if (!mono)
                right[i] *= gain;
        }
    }
    void reset() override { ++resets; }
    char name;
    std::string& log;
    double gain;
    int resets = 0;
};

template <typename Stage> class StageInvariants : public ::testing::Test {};
using AllStages = ::testing::Types<TubeStage, Compander, ThreeBandEq, DeEsser, Doubler, TempoDelay>;
TYPED_TEST_SUITE(StageInvariants, AllStages);
template <typename Stage> class StageRestart : public ::testing::Test {};
using RestartableStages = ::testing::Types<Compander, ThreeBandEq, DeEsser, Doubler, TempoDelay>;
TYPED_TEST_SUITE(StageRestart, RestartableStages);

} // namespace

// Cutting a signal into blocks of any length changes no bit of the output.
TYPED_TEST(StageInvariants, RandomBlockSplitsGiveTheSameBits) {
    const size_t n = 30000;
    auto left = test::noise(0.6, n, 1), right = test::noise(0.6, n, 2);
    auto oneL = left, oneR = right;
    // Setting changes are smoothed in steps of whole groups of frames: let them settle first.
    auto a = make<TypeParam>(44100.0f), b = make<TypeParam>(44100.0f);
    for (auto* stage : {a.get(), b.get()}) {
        std::vector<double> silence(4410, 0.0), silenceR(4410, 0.0);
        stage->process(silence.data(), silenceR.data(), 0, 4410, false);
    }
    a->process(oneL.data(), oneR.data(), 4410, static_cast<int32_t>(n), false);
    uint32_t seed = 5;
    for (size_t pos = 0; pos < n;) {
        seed = seed * 1664525u + 1013904223u;
        const size_t len = std::min<size_t>((seed >> 22) % 900, n - pos);
        b->process(left.data() + pos, right.data() + pos, 4410 + pos, static_cast<int32_t>(len), false);
        pos += len;
    }
    EXPECT_EQ(std::memcmp(oneL.data(), left.data(), n * sizeof(double)), 0);
    EXPECT_EQ(std::memcmp(oneR.data(), right.data(), n * sizeof(double)), 0);
}

// Tails decay to zero without sub-normal numbers, which would cost the host dearly.
TYPED_TEST(StageInvariants, SilenceAfterALoudBurstStaysFiniteAndNormal) {
    auto stage = make<TypeParam>(48000.0f);
    std::vector<double> l(48000 * 3, 0.0), r(48000 * 3, 0.0);
    for (size_t i = 0; i < 4800; ++i)
        l[i] = r[i] = (i / 7) % 2 ? 0.99 : -0.99;
    stage->process(l.data(), r.data(), 0, static_cast<int32_t>(l.size()), false);
    expectClean(l);
    expectClean(r);
}

// A mono host may hand any right buffer, or none.
TYPED_TEST(StageInvariants, MonoNeitherReadsNorWritesTheRightBuffer) {
    auto stage = make<TypeParam>(44100.0f);
    auto left = test::noise(0.5, 2000, 4);
    std::vector<double> poison(2000, std::nan(""));
    stage->process(left.data(), poison.data(), 0, 2000, true);
    expectClean(left);
    EXPECT_TRUE(std::isnan(poison.front()) && std::isnan(poison.back()));
}

// A restart (a rate change for the compander) sounds as a fresh stage; the equaliser keeps its
// filter states, so that the chain's reset never cuts into its ringing.
TYPED_TEST(StageRestart, SoundsLikeAFreshStage) {
    constexpr bool kKeepsState = std::is_same_v<TypeParam, ThreeBandEq>;
    auto used = make<TypeParam>(44100.0f), reference = make<TypeParam>(44100.0f);
    auto l = test::noise(0.9, 6000, 7), r = test::noise(0.9, 6000, 8);
    auto l2 = l, r2 = r;
    used->process(l.data(), r.data(), 0, 6000, false);
    if (kKeepsState)
        reference->process(l2.data(), r2.data(), 0, 6000, false);
    if constexpr (std::is_same_v<TypeParam, Compander>)
        used->setSampleRate(44100.0f);
    else
        used->reset();
    auto a = test::noise(0.4, 4000, 9), aR = test::noise(0.4, 4000, 10);
    auto b = a, bR = aR;
    used->process(a.data(), aR.data(), 6000, 4000, false);
    reference->process(b.data(), bR.data(), 6000, 4000, false);
    EXPECT_EQ(a, b);
    EXPECT_EQ(aR, bR);
}

// Settings no control produces are ignored or held in range, and the output stays finite.
TYPED_TEST(StageInvariants, BadSettingsAreIgnoredOrHeldInRange) {
    auto stage = make<TypeParam>(44100.0f);
    for (const auto& setting : settings<TypeParam>()) {
        for (const auto& [given, read] : setting.bad) {
            ((*stage).*setting.set)(given);
            EXPECT_NEAR(((*stage).*setting.get)(), read, 1e-9) << "given " << given;
        }
    }
    auto l = test::noise(0.5, 4000, 11), r = test::noise(0.5, 4000, 12);
    stage->process(l.data(), r.data(), 0, 4000, false);
    expectClean(l);
}

// The order code's permutation is the order the stages run in, the output stage last.
TEST(ModuleChain, RunsTheModulesInTheLinkedOrder) {
    std::string log;
    std::array<ProbeModule, 6> probes{ProbeModule{'0', log}, ProbeModule{'1', log}, ProbeModule{'2', log},
                                      ProbeModule{'3', log}, ProbeModule{'4', log}, ProbeModule{'5', log}};
    const std::array<DspModule*, 6> modules{&probes[0], &probes[1], &probes[2],
                                            &probes[3], &probes[4], &probes[5]};
    for (const auto& [order, expected] : {std::pair{std::array<int32_t, 6>{0, 1, 2, 3, 4, 5}, "012345"},
                                          {{4, 3, 2, 1, 0, 5}, "432105"},
                                          {{2, 0, 4, 1, 3, 5}, "204135"}}) {
        linkChain(modules, order);
        log.clear();
        double l[4] = {}, r[4] = {};
        runChain(modules[order[0]], l, r, 0, 4, false);
        ASSERT_EQ(log, expected); // stop here: a chain left half linked may run in circles
    }
}

// Off, a stage fades out (90 % at 100 ms), is reset once, then skipped; on, it fades back in.
TEST(ModuleChain, SwitchedStagesFadeOver100msAgainstTheDrySignal) {
    std::string log;
    ProbeModule silence('s', log, 0.0);
    silence.setSampleRate(44100.0f);
    silence.enabled = false;
    std::vector<double> l(44100, 1.0), r(44100, 1.0);
    runChain(&silence, l.data(), r.data(), 0, 44100, false);
    EXPECT_EQ(l[0], 0.0);
    EXPECT_NEAR(l[4410], 0.9, 0.01);
    EXPECT_TRUE(std::is_sorted(l.begin(), l.end()));
    EXPECT_EQ(r, l);
    EXPECT_EQ(silence.fade, 0.0);
    EXPECT_EQ(silence.resets, 1);
    log.clear();
    std::vector<double> l2(64, 0.5), r2(64, 0.5);
    runChain(&silence, l2.data(), r2.data(), 0, 64, false);
    EXPECT_EQ(log, "");
    EXPECT_EQ(l2, std::vector<double>(64, 0.5));
    EXPECT_EQ(silence.resets, 1);
    silence.enabled = true;
    l.assign(44100, 1.0);
    r = l;
    runChain(&silence, l.data(), r.data(), 0, 44100, false);
    EXPECT_EQ(l[0], 1.0);
    EXPECT_NEAR(l[4410], 0.1, 0.01);
    EXPECT_EQ(silence.fade, 1.0);
}
