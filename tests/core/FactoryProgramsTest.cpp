#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "core/ChannelStripEffect.h"
#include "core/FactoryPrograms.h"
#include "tests/TestSupport.h"

using namespace pellucer;
using namespace pellucer::test;

namespace {

constexpr double kRate = 44100.0;
constexpr int32_t kBlock = 256;

struct NamedCode {
    const char* name;
    int32_t code;
};

// The bank as the product documents it.
// clang-format off
constexpr std::array<NamedCode, kNumFactoryPrograms> kBank = {{
    {"Full Reset", 12345}, {"1969", 12345}, {"1970's Rockstar", 12435}, {"Arena", 12453},
    {"Backing Vox Silky Slight Perc", 12345}, {"Backing Vox Silky Smashed", 12345},
    {"Band Pass Delay Bounce", 12345}, {"Bass Blaster", 34215}, {"Bass Warmth", 23415}, {"Beatboxer", 51234},
    {"Brightener", 12453}, {"Cacophony", 32154}, {"Cavern", 12345}, {"Cheap Computer Mic", 12345},
    {"Chopper", 23415}, {"Crystal Cave", 23415}, {"Delayverb", 12345}, {"Destroyer", 25341},
    {"Distorted Telephone", 14325}, {"Dotted 8th Delay", 12345}, {"Dub Slap", 12345}, {"DubVerb", 23415},
    {"Esser", 23415}, {"Fat E-Guitar", 12453}, {"Female Cleanup and Presence", 12345},
    {"Female Preamp with Deess and Delay", 12345}, {"Female Quartet", 12345}, {"Fuzzy Mid Band", 12345},
    {"Hard Compression", 12453}, {"Heavy Distortion", 12453}, {"Hip Hop Vocals", 12345},
    {"Hook Doubler", 12345}, {"Lead Vocal over-easy plus Warmth", 12345}, {"Lead Vocal Percussive", 12345},
    {"Lead Vocal Rock Edge", 12345}, {"LF Roll-off", 23415}, {"Light Compression", 12453},
    {"Light Distortion", 12453}, {"Male Deesser and Presence", 12345}, {"Male RnB Vocals", 12345},
    {"Monologue", 32154}, {"Mush Groove", 34512}, {"Old Recording Cleanup", 12453}, {"Old Vinyl", 23415},
    {"Phat Bugger", 12543}, {"Pillow Talk", 31452}, {"Radio Backups", 53124}, {"Resonant Pipe", 23415},
    {"Slight Warmth", 23415}, {"Smashed Air", 32145}, {"Springverb", 12453}, {"Subtly Sweet", 23415},
    {"Sugary Sweet", 23415}, {"Telephone", 12345}, {"Tracking Doubler", 12345},
    {"Tubepre with Slap-back", 12345}, {"Vinyl", 23415}, {"Vocal Booth", 23415}, {"Vocal Compander", 12345},
    {"Warm and Fuzzy", 23415}, {"Whisper", 12453},
}};
// clang-format on

using Values = std::array<float, kNumParams>;

// The four programs whose values the product fixes, as stored, in parameter order.
// clang-format off
constexpr Values kFullReset = {
    1, 0, 0.5f, 0,                                     // enable, input tube
    0, 0.8f, 0.4014f, 0.5f, 0.1174f, 0,                // compander
    0, 0, 0, 0, 0, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, // equaliser
    0, 0.1f, 0.4f, 0,                                  // de-esser
    0, 0.4f, 1,                                        // doubler
    0, 0, 0.7f, 0.4f, 0, 0, 0.4f,                      // delay
    0, 0.5f, 0,                                        // output tube
    12345                                              // module order
};
constexpr Values k1969 = {
    1, 1, 0.5f, 0.6f,                                     // enable, input tube
    1, 0.615f, 0.5f, 0.31f, 0.15f, 0.14f,                 // compander
    1, 0.25f, 1, 0, 1, 0.69f, 0, 0.755f, 0.46f, 0.74f, 0, // equaliser
    0, 0.6f, 0.75f, 0,                                    // de-esser
    0, 0.5f, 0.5f,                                        // doubler
    1, 0, 0.27f, 1, 0.34f, 0.655f, 0.415f,                // delay
    0, 0.48f, 0,                                          // output tube
    12345                                                 // module order
};
constexpr Values kDotted8th = {
    1, 0, 0.5f, 0,                                      // enable, input tube
    0, 0.83f, 0.205f, 0.425f, 0.36f, 0.33f,             // compander
    0, 0, 0, 1, 0, 0.5f, 0.5f, 0.31f, 0.6f, 0.5f, 0.5f, // equaliser
    0, 0.5f, 0.5f, 1,                                   // de-esser
    0, 0.115f, 1,                                       // doubler
    1, 1, 0.51f, 0.645f, 0.5f, 0, 0.62f,                // delay
    0, 0.5f, 0,                                         // output tube
    12345                                               // module order
};
constexpr Values kVocalCompander = {
    1, 0, 0.5f, 0,                                      // enable, input tube
    1, 0.83f, 0.205f, 0.425f, 0.36f, 0.33f,             // compander
    0, 0, 0, 1, 0, 0.5f, 0.5f, 0.31f, 0.6f, 0.5f, 0.5f, // equaliser
    0, 0.5f, 0.5f, 1,                                   // de-esser
    0, 0.4f, 1,                                         // doubler
    0, 0, 0.7f, 0.4f, 0, 0, 0.4f,                       // delay
    0, 0.5f, 0,                                         // output tube
    12345                                               // module order
};
// clang-format on

int32_t indexOf(const char* name) {
    for (int32_t i = 0; i < kNumFactoryPrograms; ++i)
        if (std::strcmp(factoryPrograms()[i].name, name) == 0)
            return i;
    ADD_FAILURE() << "no program " << name;
    return 0;
}

// Puts the factory values into the engine's record of the program and selects it, so that the
// character tests measure this table whether or not the engine already fills its bank from it.
void loadProgram(ChannelStripEffect& effect, int32_t index) {
    const auto& values = factoryPrograms()[index].values;
    std::copy(values.begin(), values.end(), effect.programs()[index].values);
    effect.setProgram(index);
}

// Renders a mono signal on both channels after a second of silence (time for the stage fades
// and any delay-time change to settle); returns the left or right output with the engine's
// latency removed.
std::vector<float> renderProgram(ChannelStripEffect& effect, const std::vector<double>& in,
                                 bool right = false) {
    const auto preroll = static_cast<size_t>(kRate);
    const auto latency = static_cast<size_t>(effect.latency());
    std::vector<float> signal(preroll + in.size() + latency, 0.0f);
    std::copy(in.begin(), in.end(), signal.begin() + static_cast<std::ptrdiff_t>(preroll));
    std::vector<float> outL, outR;
    render(effect, signal, signal, outL, outR, kBlock);
    const auto& out = right ? outR : outL;
    return {out.begin() + static_cast<std::ptrdiff_t>(preroll + latency), out.end()};
}

// The named program in an engine whose host plays at 120 BPM.
std::vector<double> renderMeasuredProgram(const char* name, const std::vector<double>& in,
                                          bool right = false) {
    FakeHost host;
    ChannelStripEffect effect(FakeHost::callback);
    host.attach(effect);
    host.setTempo(120.0);
    loadProgram(effect, indexOf(name));
    const auto out = renderProgram(effect, in, right);
    return {out.begin(), out.end()};
}

std::vector<double> sines(const std::vector<std::pair<double, double>>& partials, size_t frames) {
    std::vector<double> s(frames, 0.0);
    for (const auto& [amplitude, hz] : partials) {
        const auto partial = sine(amplitude, hz, kRate, frames);
        for (size_t i = 0; i < frames; ++i)
            s[i] += partial[i];
    }
    return s;
}

// Amplitude of the component at `hz` over [from, from + frames) by correlation with a sine and
// a cosine; exact for whole cycles.
double amplitudeAt(const std::vector<double>& s, double hz, size_t from, size_t frames) {
    double re = 0.0, im = 0.0;
    for (size_t i = 0; i < frames; ++i) {
        const double phase = 2.0 * std::numbers::pi * hz * static_cast<double>(i) / kRate;
        re += s[from + i] * std::cos(phase);
        im += s[from + i] * std::sin(phase);
    }
    return 2.0 * std::hypot(re, im) / static_cast<double>(frames);
}

double db(double ratio) { return 20.0 * std::log10(std::max(ratio, 1e-30)); }

// Gain in dB at `hz` between input and output, over the last half second of both.
double gainDbAt(const std::vector<double>& in, const std::vector<double>& out, double hz) {
    const auto frames = static_cast<size_t>(kRate / 2);
    const size_t from = in.size() - frames;
    return db(amplitudeAt(out, hz, from, frames) / amplitudeAt(in, hz, from, frames));
}

double rmsDb(const std::vector<double>& s, size_t from, size_t to) {
    double energy = 0.0;
    for (size_t i = from; i < to; ++i)
        energy += s[i] * s[i];
    return 10.0 * std::log10(energy / static_cast<double>(to - from) + 1e-300);
}

// A 10 ms Hann-windowed tone burst at -6 dBFS, then silence.
std::vector<double> burst(double hz, double seconds) {
    std::vector<double> s(static_cast<size_t>(seconds * kRate), 0.0);
    const auto length = static_cast<size_t>(0.01 * kRate);
    for (size_t i = 0; i < length; ++i) {
        const double window = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) / length);
        s[i] = 0.5 * window * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / kRate);
    }
    return s;
}

// Peak of |s| in 2 ms windows: the envelope the echo tests read.
constexpr double kWindowSeconds = 0.002;
std::vector<double> windowPeaks(const std::vector<double>& s) {
    const auto w = static_cast<size_t>(kWindowSeconds * kRate);
    std::vector<double> peaks(s.size() / w, 0.0);
    for (size_t k = 0; k < peaks.size(); ++k)
        peaks[k] = peak(s, k * w, (k + 1) * w);
    return peaks;
}
size_t windowAt(double seconds) { return static_cast<size_t>(seconds / kWindowSeconds); }
double secondsOf(size_t window) { return static_cast<double>(window) * kWindowSeconds; }

size_t loudestWindow(const std::vector<double>& peaks, double fromSeconds, double toSeconds) {
    const auto first = peaks.begin() + static_cast<std::ptrdiff_t>(windowAt(fromSeconds));
    const auto last =
        peaks.begin() + static_cast<std::ptrdiff_t>(std::min(windowAt(toSeconds), peaks.size()));
    return static_cast<size_t>(std::max_element(first, last) - peaks.begin());
}

// A rough voice: a vibrato on a 140 Hz harmonic series with a formant lift, in syllables three
// times a second, with a burst of hiss (sibilance) in every second; peaks near -14 dBFS.
std::vector<double> voice(double seconds) {
    std::vector<double> s(static_cast<size_t>(seconds * kRate));
    const auto hiss = noise(1.0, s.size(), 777);
    double previous = 0.0;
    for (size_t i = 0; i < s.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double f0 = 140.0 * (1.0 + 0.05 * std::sin(2.0 * std::numbers::pi * 0.7 * t));
        const double syllable = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * 3.0 * t);
        double x = 0.0;
        for (int h = 1; h * 140 < 4000; ++h) {
            const double formant = h * 140 > 400 && h * 140 < 1200 ? 1.0 : 0.4;
            x += formant / h * std::sin(2.0 * std::numbers::pi * f0 * h * t);
        }
        const double highPassed = hiss[i] - previous;
        previous = hiss[i];
        const double ess = std::fmod(t, 1.0) > 0.8 ? 0.25 * highPassed : 0.0;
        s[i] = 0.12 * (syllable * x + ess);
    }
    return s;
}

} // namespace

// ---- the table ------------------------------------------------------------------------------------

TEST(FactoryPrograms, NamesAndOrderCodesInBankOrder) {
    const auto& bank = factoryPrograms();
    for (int32_t i = 0; i < kNumFactoryPrograms; ++i) {
        EXPECT_STREQ(bank[i].name, kBank[i].name) << "program " << i;
        EXPECT_EQ(bank[i].values[kReserved], static_cast<float>(kBank[i].code)) << bank[i].name;
    }
}

TEST(FactoryPrograms, TabledProgramsValueByValue) {
    const auto& bank = factoryPrograms();
    const std::pair<int32_t, const Values*> tabled[] = {
        {0, &kFullReset}, {1, &k1969}, {19, &kDotted8th}, {58, &kVocalCompander}};
    for (const auto& [index, expected] : tabled)
        for (int32_t p = 0; p < kNumParams; ++p)
            EXPECT_EQ(bank[index].values[p], (*expected)[p]) << bank[index].name << ", parameter " << p;
    EXPECT_EQ(bank[0].values, kFullResetValues);
    // The dotted eighth is note index 8 in synced mode.
    EXPECT_EQ(static_cast<int>(16.0f * bank[19].values[kDelayTime]), 8);
}

TEST(FactoryPrograms, EveryValueIsInRangeAndEveryOrderIsAPermutation) {
    for (const auto& program : factoryPrograms()) {
        EXPECT_EQ(program.values[kPlugInEnable], 1.0f) << program.name;
        for (int32_t p = 0; p < kReserved; ++p) {
            EXPECT_GE(program.values[p], 0.0f) << program.name << ", parameter " << p;
            EXPECT_LE(program.values[p], 1.0f) << program.name << ", parameter " << p;
        }
        std::array<int32_t, 5> order{};
        EXPECT_TRUE(decodeOrderCode(program.values[kReserved], order)) << program.name;
        EXPECT_EQ(encodeOrderCode(order.data()), program.values[kReserved]) << program.name;
    }
}

TEST(FactoryPrograms, NoTwoProgramsAreTheSame) {
    const auto& bank = factoryPrograms();
    for (int32_t a = 0; a < kNumFactoryPrograms; ++a)
        for (int32_t b = a + 1; b < kNumFactoryPrograms; ++b)
            EXPECT_NE(bank[a].values, bank[b].values) << bank[a].name << " / " << bank[b].name;
}

// Every value is one the engine takes as it is: selecting the program and reading the parameters
// back gives the stored values (to the precision of the conversions), the order code included.
TEST(FactoryPrograms, EveryProgramAppliesAndReadsBack) {
    ChannelStripEffect effect(nullptr);
    for (int32_t n = 0; n < kNumFactoryPrograms; ++n) {
        loadProgram(effect, n);
        const auto& values = factoryPrograms()[n].values;
        for (int32_t p = 0; p < kNumParams; ++p)
            EXPECT_NEAR(effect.getParameter(p), values[p], 2e-4)
                << factoryPrograms()[n].name << ", parameter " << p;
    }
}

// The engine's own bank after construction is this table.
TEST(FactoryPrograms, EngineBankHoldsTheFactoryPrograms) {
    ChannelStripEffect effect(nullptr);
    for (int32_t n = 0; n < kNumFactoryPrograms; ++n) {
        const ProgramRecord& record = effect.programs()[n];
        const auto& program = factoryPrograms()[n];
        EXPECT_EQ(record.name(), std::u16string(program.name, program.name + std::strlen(program.name))) << n;
        EXPECT_TRUE(std::equal(program.values.begin(), program.values.end(), record.values)) << program.name;
    }
}

// ---- what the programs sound like ----------------------------------------------------------------

TEST(FactoryProgramSound, EveryProgramKeepsAVoiceNearItsLevel) {
    const auto in = voice(3.0);
    const size_t from = static_cast<size_t>(kRate); // after the first second
    for (int32_t n = 0; n < kNumFactoryPrograms; ++n) {
        ChannelStripEffect effect(nullptr);
        loadProgram(effect, n);
        const auto out32 = renderProgram(effect, in);
        const std::vector<double> out(out32.begin(), out32.end());
        const double change = rmsDb(out, from, out.size()) - rmsDb(in, from, in.size());
        EXPECT_GT(change, -8.0) << factoryPrograms()[n].name;
        EXPECT_LT(change, 8.0) << factoryPrograms()[n].name;
        EXPECT_LT(peak(out), 0.9) << factoryPrograms()[n].name;
    }
}

// Each program takes away what its name says, measured against a partial it keeps: a handset's
// narrow band, old records' band limits, the rumble filter and the de-esser.
TEST(FactoryProgramSound, FilteringProgramsCutWhatTheirNamesSay) {
    using Partial = std::pair<double, double>; // amplitude, Hz
    struct Case {
        const char* name;
        Partial kept;
        std::vector<Partial> cut;
        double minCutDb;  // below the kept partial
        bool keptAtUnity; // the kept partial also passes within 1 dB
    };
    const Case cases[] = {
        {"Telephone", {0.05, 1000.0}, {{0.05, 110.0}, {0.05, 7900.0}}, 15.0, false},
        {"Old Vinyl", {0.05, 1000.0}, {{0.05, 60.0}, {0.05, 10000.0}}, 6.0, false},
        {"Vinyl", {0.05, 1000.0}, {{0.05, 60.0}, {0.05, 10000.0}}, 6.0, false},
        {"LF Roll-off", {0.1, 1000.0}, {{0.1, 60.0}}, 9.0, true},
        {"Esser", {0.05, 300.0}, {{0.1, 7000.0}}, 6.0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Partial> partials = c.cut;
        partials.push_back(c.kept);
        const auto in = sines(partials, static_cast<size_t>(1.5 * kRate));
        const auto out = renderMeasuredProgram(c.name, in);
        const double kept = gainDbAt(in, out, c.kept.second);
        for (const Partial& cut : c.cut)
            EXPECT_GT(kept - gainDbAt(in, out, cut.second), c.minCutDb) << cut.second << " Hz";
        if (c.keptAtUnity) {
            EXPECT_NEAR(kept, 0.0, 1.0);
        }
    }
}

// Echo programs: the loudest repeat after the sound comes in its window, at a level not far
// below the sound. The dotted eighth follows the host's 120 BPM: 0.375 s.
TEST(FactoryProgramSound, EchoProgramsRepeatAtTheirTimes) {
    struct Case {
        const char* name;
        double burstHz;
        bool right;
        double searchFrom, searchTo; // seconds after the sound, and from the start
        double earliest, latest, minDb;
    };
    const Case cases[] = {
        {"Dub Slap", 1000.0, false, 0.03, 0.4, 0.08, 0.2, -12.0},
        {"Tracking Doubler", 1000.0, false, 0.02, 0.3, 0.035, 0.055, -6.0},
        {"Tracking Doubler", 1000.0, true, 0.02, 0.3, 0.035, 0.055, -6.0},
        {"Dotted 8th Delay", 500.0, false, 0.05, 0.6, 0.375 - 1.5 * kWindowSeconds,
         0.375 + 1.5 * kWindowSeconds, -12.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.name << (c.right ? " right" : " left"));
        const auto peaks = windowPeaks(renderMeasuredProgram(c.name, burst(c.burstHz, 1.0), c.right));
        const size_t direct = loudestWindow(peaks, 0.0, 0.02);
        const size_t echo = loudestWindow(peaks, secondsOf(direct) + c.searchFrom, c.searchTo);
        EXPECT_GE(secondsOf(echo - direct), c.earliest);
        EXPECT_LE(secondsOf(echo - direct), c.latest);
        EXPECT_GT(db(peaks[echo] / peaks[direct]), c.minDb);
    }
}
