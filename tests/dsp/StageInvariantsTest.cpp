// Properties every stage must have, checked once for all of them.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "dsp/Compander.h"
#include "dsp/DeEsser.h"
#include "dsp/Doubler.h"
#include "dsp/TempoDelay.h"
#include "dsp/ThreeBandEq.h"
#include "dsp/TubeStage.h"
#include "tests/TestSupport.h"

using namespace pellucer;

namespace {

// Each stage set to do audible work.
template <typename Stage> void configure(Stage&) {}
template <> void configure(TubeStage& s) { s.setDrive(1.7); }
template <> void configure(Compander& s) {
    s.setCompressorThreshold(-30.0);
    s.setCompressorRatio(6.0);
    s.setExpanderThreshold(-50.0);
    s.setExpanderRatio(3.0);
    s.setAttack(2.0);
}
template <> void configure(ThreeBandEq& s) {
    s.setLowGain(6.0);
    s.setMidGain(-4.0);
    s.setHighGain(3.0);
    s.setTubeMid(true);
    s.setTubeDrive(1.5);
}
template <> void configure(DeEsser& s) {
    s.setSplitFrequency(5000.0);
    s.setDepth(1.0);
}
template <> void configure(Doubler& s) {
    s.setPresence(0.8);
    s.setStereo(0.6);
}
template <> void configure(TempoDelay& s) {
    s.setTime(0.05);
    s.setFeedback(0.85);
    s.setFilterMode(0.3);
    s.setFilterCornerControl(0.6);
}

template <typename Stage> std::unique_ptr<Stage> make(float rate) {
    auto stage = std::make_unique<Stage>();
    stage->setSampleRate(rate);
    configure(*stage);
    stage->setSampleRate(rate); // again, so time-dependent state starts from the new settings
    return stage;
}

template <typename Stage> class StageInvariants : public ::testing::Test {};
using AllStages = ::testing::Types<TubeStage, Compander, ThreeBandEq, DeEsser, Doubler, TempoDelay>;
TYPED_TEST_SUITE(StageInvariants, AllStages);

} // namespace

TYPED_TEST(StageInvariants, RandomBlockSplitsGiveTheSameBits) {
    const size_t n = 30000;
    auto left = test::noise(0.6, n, 1), right = test::noise(0.6, n, 2);
    auto oneL = left, oneR = right;
    // Let settings settle before comparing: warm both instances identically.
    auto a = make<TypeParam>(44100.0f), b = make<TypeParam>(44100.0f);
    std::vector<double> warmL(4410, 0.0), warmR(4410, 0.0);
    a->process(warmL.data(), warmR.data(), 0, 4410, false);
    warmL.assign(4410, 0.0);
    warmR.assign(4410, 0.0);
    b->process(warmL.data(), warmR.data(), 0, 4410, false);

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

TYPED_TEST(StageInvariants, SilenceAfterALoudBurstStaysFiniteAndNormal) {
    auto stage = make<TypeParam>(48000.0f);
    std::vector<double> l(48000 * 3, 0.0), r(48000 * 3, 0.0);
    for (size_t i = 0; i < 4800; ++i)
        l[i] = r[i] = (i / 7) % 2 ? 0.99 : -0.99;
    stage->process(l.data(), r.data(), 0, static_cast<int32_t>(l.size()), false);
    for (size_t i = 0; i < l.size(); ++i) {
        ASSERT_TRUE(std::isfinite(l[i]) && std::isfinite(r[i])) << i;
        ASSERT_NE(std::fpclassify(l[i]), FP_SUBNORMAL) << i;
        ASSERT_NE(std::fpclassify(r[i]), FP_SUBNORMAL) << i;
    }
}

TYPED_TEST(StageInvariants, MonoNeverReadsTheRightBuffer) {
    auto stage = make<TypeParam>(44100.0f);
    auto left = test::noise(0.5, 2000, 4);
    std::vector<double> poison(2000, std::nan(""));
    stage->process(left.data(), poison.data(), 0, 2000, true);
    for (double x : left)
        ASSERT_TRUE(std::isfinite(x));
}
