#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "dsp/ModuleChain.h"

using namespace pellucer;

namespace {

// A stage that multiplies by a gain, logs its calls and counts resets.
class ProbeModule : public DspModule {
public:
    ProbeModule(char name, std::string& log, double gain = 1.0) : name_(name), log_(log), gain_(gain) {}
    void process(double* left, double* right, uint64_t, int32_t frames, bool mono) override {
        log_ += name_;
        for (int32_t i = 0; i < frames; ++i) {
            left[i] *= gain_;
            if (!mono)
                right[i] *= gain_;
        }
    }
    void reset() override { ++resets; }
    int resets = 0;

private:
    char name_;
    std::string& log_;
    double gain_;
};

struct Chain {
    std::string log;
    std::array<ProbeModule, 6> probes{ProbeModule{'0', log}, ProbeModule{'1', log}, ProbeModule{'2', log},
                                      ProbeModule{'3', log}, ProbeModule{'4', log}, ProbeModule{'5', log}};
    std::array<DspModule*, 6> modules{&probes[0], &probes[1], &probes[2], &probes[3], &probes[4], &probes[5]};

    std::string runOrder(const std::array<int32_t, 6>& order) {
        linkChain(modules, order);
        log.clear();
        double l[4] = {}, r[4] = {};
        runChain(modules[order[0]], l, r, 0, 4, false);
        return log;
    }
};

} // namespace

TEST(ModuleChain, RunsTheModulesInTheLinkedOrder) {
    Chain chain;
    EXPECT_EQ(chain.runOrder({0, 1, 2, 3, 4, 5}), "012345");
    EXPECT_EQ(chain.runOrder({4, 3, 2, 1, 0, 5}), "432105");
    EXPECT_EQ(chain.runOrder({2, 0, 4, 1, 3, 5}), "204135");
    EXPECT_EQ(chain.modules[5]->next(), nullptr);
}

TEST(ModuleChain, DisabledModulesFadeOutOver100msThenAreSkippedAndReset) {
    std::string log;
    ProbeModule silence('s', log, 0.0);
    silence.setSampleRate(44100.0f);
    silence.enabled = false;
    std::vector<double> l(44100, 1.0), r(44100, 1.0);
    runChain(&silence, l.data(), r.data(), 0, 44100, false);
    // Output = (1 - fade) * dry while fading out: it rises from 0 toward 1.
    EXPECT_EQ(l[0], 0.0);
    const double at100ms = l[4410];
    EXPECT_NEAR(at100ms, 0.9, 0.01);
    // Monotonic, no step larger than one sample of the fade.
    for (size_t i = 1; i < l.size(); ++i)
        ASSERT_GE(l[i], l[i - 1]);
    EXPECT_EQ(silence.fade, 0.0);
    EXPECT_EQ(silence.resets, 1);
    EXPECT_EQ(r[4410], l[4410]);
    // Now fully off: skipped, signal untouched, no further reset.
    log.clear();
    std::vector<double> l2(64, 0.5), r2(64, 0.5);
    runChain(&silence, l2.data(), r2.data(), 0, 64, false);
    EXPECT_EQ(log, "");
    EXPECT_EQ(l2[10], 0.5);
    EXPECT_EQ(silence.resets, 1);
    // Back on: fades in over 100 ms.
    silence.enabled = true;
    std::vector<double> l3(44100, 1.0), r3(44100, 1.0);
    runChain(&silence, l3.data(), r3.data(), 0, 44100, false);
    EXPECT_EQ(l3[0], 1.0);
    EXPECT_NEAR(l3[4410], 0.1, 0.01);
    EXPECT_EQ(silence.fade, 1.0);
}

TEST(ModuleChain, MidFadeMixesWithTheDryBuffersInMonoAndInLongBlocks) {
    std::string log;
    ProbeModule half('h', log, 0.5);
    half.setSampleRate(44100.0f);
    half.fade = 0.5;
    double l[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    runChain(&half, l, nullptr, 0, 8, true); // mono: no right buffer at all
    EXPECT_NEAR(l[0], 0.75, 1e-12);
    // Blocks longer than the dry buffers make them grow.
    ProbeModule twice('t', log, 2.0);
    twice.fade = 0.5;
    std::vector<double> left(12000, 1.0), right(12000, 1.0);
    runChain(&twice, left.data(), right.data(), 0, 12000, false);
    EXPECT_GE(twice.dryCapacity(), 12000);
    EXPECT_GT(left[11999], 1.5);
}

TEST(DspModule, SmoothingCoefficientsCover90PercentInTheirTime) {
    std::string log;
    ProbeModule m('m', log);
    for (float rate : {22050.0f, 44100.0f, 96000.0f}) {
        m.setSampleRate(rate);
        for (auto [c, seconds] : {std::pair{m.coefficient1ms(), 0.001},
                                  {m.coefficient10ms(), 0.01},
                                  {m.coefficient100ms(), 0.1}}) {
            const double remaining = std::pow(1.0 - c, seconds * rate);
            EXPECT_NEAR(remaining, 0.1, 1e-9);
        }
        EXPECT_EQ(m.decayFactor(0.0), 0.0);
        EXPECT_NEAR(std::pow(m.decayFactor(40.0), 0.04 * rate), 0.1, 1e-9);
        EXPECT_EQ(m.decayComplement(0.0), 1.0);
    }
    double v = 0.0;
    DspModule::smoothToward(1.0, v, 0.5);
    EXPECT_EQ(v, 0.5);
    v = 0.9995;
    DspModule::smoothToward(1.0, v, 0.5);
    EXPECT_EQ(v, 1.0); // snaps within 0.001
}
