#include "core/FactoryPrograms.h"

#include <cmath>
#include <limits>

#include "core/ParameterTable.h"

namespace pellucer {

namespace {

// Synced delay times by note index (Delay Time in sync mode selects trunc(16 v)).
enum Note : int32_t {
    kThirtySecondTriplet = 0,
    kThirtySecond,
    kDottedThirtySecond,
    kSixteenthTriplet,
    kSixteenth,
    kDottedSixteenth,
    kEighthTriplet,
    kEighth,
    kDottedEighth,
    kQuarterTriplet,
    kQuarter,
    kDottedQuarter,
    kHalfTriplet,
    kHalf,
    kDottedHalf,
    kWhole,
};

// Bands of the equaliser that can be routed through its tube.
enum TubeBands : uint32_t { kLowBand = 1, kMidBand = 2, kHighBand = 4 };

// An expander ratio of infinity: the top of the ratio's range, a gate.
constexpr double kGate = std::numeric_limits<double>::infinity();

// The linear factor of a gain in dB, the unit the tube stages take their gains in.
double dbToGain(double db) { return std::pow(10.0, db / 20.0); }

/// A program written in the units a sound designer thinks in. It starts from "Full Reset" with
/// the given module order, and each call switches its stage on and stores the normalised values
/// for the settings given; a stage that is never named stays off with its Full Reset settings.
/// A compander whose expander is not named keeps Full Reset's gentle expander. Every setting is in
/// its stage's own unit and range (the parameter table's), turned into the value that reads back
/// as it.
class Program {
public:
    Program(const char* name, int32_t orderCode) : program_{name, kFullResetValues} {
        program_.values[kReserved] = static_cast<float>(orderCode);
    }

    /// Input gain in dB into the input tube, with shaping at the given drive.
    Program& inputTube(double gainDb, double drive) {
        set(kInputTubeEnable, 1.0f);
        setStage(kInputTubeSaturation, drive);
        return inputGain(gainDb);
    }
    /// Input gain in dB; the tube's shaping stays as it is.
    Program& inputGain(double gainDb) { return setStage(kInputGain, dbToGain(gainDb)); }

    /// Compressor threshold in dBFS, ratio (x:1) and the compander's attack in ms.
    Program& compressor(double thresholdDb, double ratio, double attackMs) {
        set(kCompanderEnable, 1.0f);
        setStage(kCompressorThresh, thresholdDb);
        setStage(kCompressorRatio, ratio);
        return setStage(kCompanderAttack, attackMs);
    }
    /// Expander threshold in dBFS and ratio (1:x; infinity makes it a gate).
    Program& expander(double thresholdDb, double ratio) {
        set(kCompanderEnable, 1.0f);
        setStage(kExpanderThresh, thresholdDb);
        return setStage(kExpanderRatio, ratio);
    }

    /// Equaliser bands: frequency in Hz and gain in dB.
    Program& lowShelf(double hz, double db) { return eqBand(kEqLowFreq, hz, db); }
    Program& midBell(double hz, double db) { return eqBand(kEqMidFreq, hz, db); }
    Program& highShelf(double hz, double db) { return eqBand(kEqHighFreq, hz, db); }
    /// Routes the named bands through the equaliser's tube at the given drive.
    Program& eqTube(double drive, uint32_t bands) {
        set(kEqEnable, 1.0f);
        setStage(kEqTubeSaturation, drive);
        set(kEqTubeLowEnable, (bands & kLowBand) != 0 ? 1.0f : 0.0f);
        set(kEqTubeMidEnable, (bands & kMidBand) != 0 ? 1.0f : 0.0f);
        return set(kEqTubeHighEnable, (bands & kHighBand) != 0 ? 1.0f : 0.0f);
    }

    /// Split frequency in Hz and depth 0..1.
    Program& deEsser(double hz, double depth) {
        set(kDeEsserEnable, 1.0f);
        setStage(kDeEsserFreq, hz);
        return setStage(kDeEsserDepth, depth);
    }

    /// Level of the delayed copies 0..1 and stereo width 0..1.
    Program& doubler(double presence, double stereo) {
        set(kDoublerEnable, 1.0f);
        setStage(kDoublerPresence, presence);
        return setStage(kDoublerStereo, stereo);
    }

    /// Free delay time in seconds, echo level as a linear gain and loop gain.
    Program& delay(double seconds, double level, double feedback) {
        set(kDelaySyncEnable, 0.0f);
        setStage(kDelayTime, seconds);
        return echo(level, feedback);
    }
    /// Delay time locked to the host tempo. The stored value lies in the middle of the note's
    /// sixteenth of the range, so rounding never selects a neighbour.
    Program& syncedDelay(Note note, double level, double feedback) {
        set(kDelaySyncEnable, 1.0f);
        set(kDelayTime, static_cast<float>(normalisedFromNote(note)));
        return echo(level, feedback);
    }
    /// Feedback filter: mode 0 high cut, 0.5 band limit, 1 low cut, around a corner in Hz.
    Program& delayFilter(double mode, double cornerHz) {
        setStage(kDelayFilterMode, mode);
        return set(kDelayFilterFreq,
                   static_cast<float>(kParameters[kDelayFilterFreq].shown.toNormalised(cornerHz)));
    }
    /// Feedback filter out of the loop (high cut with the corner at the top).
    Program& flatDelayFilter() {
        set(kDelayFilterMode, 0.0f);
        return set(kDelayFilterFreq, 1.0f);
    }

    /// Output tube shaping at the given drive.
    Program& outputTube(double drive) {
        set(kOutputTubeEnable, 1.0f);
        return setStage(kOutputTubeSaturation, drive);
    }
    /// Output gain in dB.
    Program& outputGain(double gainDb) { return setStage(kOutputGain, dbToGain(gainDb)); }

    /// All 39 values as stored, order code included.
    Program& stored(const std::array<float, kNumParams>& values) {
        program_.values = values;
        return *this;
    }

    const FactoryProgram& program() const { return program_; }

private:
    // A setting at the very end of its range can convert to a hair outside [0, 1] (0.05 s gives
    // -4e-9); such values are snapped onto the end. Anything further out is left for the tests
    // to catch as a design error.
    Program& set(int32_t index, float value) {
        constexpr float kRoundingSlack = 1e-6f;
        if (value < 0.0f && value > -kRoundingSlack)
            value = 0.0f;
        if (value > 1.0f && value < 1.0f + kRoundingSlack)
            value = 1.0f;
        program_.values[static_cast<size_t>(index)] = value;
        return *this;
    }
    // A setting in the unit its stage takes, stored as the normalised value that reads back as it.
    Program& setStage(int32_t index, double u) { return set(index, normalisedFromStage(index, u)); }
    Program& eqBand(int32_t freqIndex, double hz, double db) {
        set(kEqEnable, 1.0f);
        setStage(freqIndex, hz);
        // Each gain follows its frequency in the parameter order.
        return setStage(freqIndex + 1, db);
    }
    Program& echo(double level, double feedback) {
        set(kDelayEnable, 1.0f);
        setStage(kDelayLevel, level);
        return setStage(kDelayFeedback, feedback);
    }

    FactoryProgram program_;
};

// Three programs whose values are fixed as they have always shipped, in parameter order.
// clang-format off
constexpr std::array<float, kNumParams> k1969 = {
    1.0f, 1.0f, 0.5f, 0.6f,                                                 // enable, input tube
    1.0f, 0.615f, 0.5f, 0.31f, 0.15f, 0.14f,                                // compander
    1.0f, 0.25f, 1.0f, 0.0f, 1.0f, 0.69f, 0.0f, 0.755f, 0.46f, 0.74f, 0.0f, // equaliser
    0.0f, 0.6f, 0.75f, 0.0f,                                                // de-esser
    0.0f, 0.5f, 0.5f,                                                       // doubler
    1.0f, 0.0f, 0.27f, 1.0f, 0.34f, 0.655f, 0.415f,                         // delay
    0.0f, 0.48f, 0.0f,                                                      // output tube
    12345.0f                                                                // module order
};
constexpr std::array<float, kNumParams> kDotted8thDelay = {
    1.0f, 0.0f, 0.5f, 0.0f,                                            // enable, input tube
    0.0f, 0.83f, 0.205f, 0.425f, 0.36f, 0.33f,                         // compander
    0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.5f, 0.5f, 0.31f, 0.6f, 0.5f, 0.5f, // equaliser
    0.0f, 0.5f, 0.5f, 1.0f,                                            // de-esser
    0.0f, 0.115f, 1.0f,                                                // doubler
    1.0f, 1.0f, 0.51f, 0.645f, 0.5f, 0.0f, 0.62f,                      // delay
    0.0f, 0.5f, 0.0f,                                                  // output tube
    12345.0f                                                           // module order
};
constexpr std::array<float, kNumParams> kVocalCompander = {
    1.0f, 0.0f, 0.5f, 0.0f,                                            // enable, input tube
    1.0f, 0.83f, 0.205f, 0.425f, 0.36f, 0.33f,                         // compander
    0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.5f, 0.5f, 0.31f, 0.6f, 0.5f, 0.5f, // equaliser
    0.0f, 0.5f, 0.5f, 1.0f,                                            // de-esser
    0.0f, 0.4f, 1.0f,                                                  // doubler
    0.0f, 0.0f, 0.7f, 0.4f, 0.0f, 0.0f, 0.4f,                          // delay
    0.0f, 0.5f, 0.0f,                                                  // output tube
    12345.0f                                                           // module order
};
// clang-format on

// A program's name, module order and the settings that make it, applied on top of Full Reset.
// Each recipe is its own small function, so the table stays easy on the compiler as well.
struct Recipe {
    const char* name;
    int32_t orderCode;
    void (*shape)(Program&);
};

// clang-format off
constexpr Recipe kRecipes[kNumFactoryPrograms] = {
    // Everything off and centred.
    {"Full Reset", 12345, [](Program&) {}},
    // Warm tube preamp, low and high bands cut and driven through the tube, and a dark
    // band-limited slap at 112 ms: a record of its year.
    {"1969", 12345, [](Program& p) { p.stored(k1969); }},
    // Driven preamp, firm compression, pushed upper mids through the tube and a short dark slap.
    {"1970's Rockstar", 12435, [](Program& p) {
         p.inputTube(6.0, 1.2).compressor(-24.0, 6.0, 3.0).deEsser(6500.0, 0.4)
             .lowShelf(100.0, -3.0).midBell(2000.0, 4.0).highShelf(8000.0, 2.0).eqTube(1.0, kMidBand)
             .delay(0.13, 0.45, 0.15).delayFilter(0.0, 3000.0).outputGain(-6.0);
     }},
    // Big and wide: compressed, doubled, a long darkened echo tail and presence and air on top.
    {"Arena", 12453, [](Program& p) {
         p.deEsser(7000.0, 0.5).compressor(-20.0, 4.0, 5.0).doubler(0.5, 1.0)
             .delay(0.38, 0.5, 0.45).delayFilter(0.3, 2500.0)
             .lowShelf(120.0, -2.0).midBell(3000.0, 3.0).highShelf(10000.0, 4.0).outputGain(-4.0);
     }},
    // Thinned, airy backing voice; the slow attack lets consonants through before the
    // compressor clamps, and a light double widens it.
    {"Backing Vox Silky Slight Perc", 12345, [](Program& p) {
         p.deEsser(7000.0, 0.6).compressor(-26.0, 4.0, 15.0)
             .lowShelf(200.0, -6.0).midBell(3000.0, -2.0).highShelf(12000.0, 5.0)
             .doubler(0.3, 1.0).outputGain(-2.0);
     }},
    // The same silky backing voice flattened by fast, deep compression.
    {"Backing Vox Silky Smashed", 12345, [](Program& p) {
         p.deEsser(7000.0, 0.7).compressor(-40.0, 20.0, 0.5).expander(-70.0, 2.0)
             .lowShelf(220.0, -8.0).midBell(2500.0, -3.0).highShelf(11000.0, 6.0).doubler(0.35, 1.0)
             .outputGain(-5.0);
     }},
    // Eighth-note echoes that narrow to a midrange band as they repeat.
    {"Band Pass Delay Bounce", 12345, [](Program& p) {
         p.compressor(-18.0, 3.0, 10.0).syncedDelay(kEighth, 0.8, 0.6).delayFilter(0.5, 1200.0)
             .outputGain(-2.0);
     }},
    // Huge low shelf driven through the tube, the boxy low mids cleared, then squeezed.
    {"Bass Blaster", 34215, [](Program& p) {
         p.inputTube(3.0, 1.0).lowShelf(90.0, 12.0).midBell(400.0, -4.0).highShelf(5000.0, 3.0)
             .eqTube(1.6, kLowBand).compressor(-24.0, 8.0, 10.0).outputGain(-6.0);
     }},
    // Gentle compression and a warm low shelf through a lightly driven tube.
    {"Bass Warmth", 23415, [](Program& p) {
         p.compressor(-20.0, 3.0, 10.0).lowShelf(150.0, 5.0).highShelf(8000.0, -2.0).eqTube(0.9, kLowBand)
             .outputGain(-2.0);
     }},
    // Gated between hits, compressed with the click left on, kick and snap boosted, box cut.
    {"Beatboxer", 51234, [](Program& p) {
         p.expander(-45.0, 4.0).compressor(-24.0, 8.0, 8.0)
             .lowShelf(70.0, 9.0).midBell(450.0, -6.0).highShelf(6000.0, 6.0).eqTube(1.2, kLowBand)
             .outputGain(-5.0);
     }},
    // Presence and a big air shelf, with the de-esser keeping the esses in check.
    {"Brightener", 12453, [](Program& p) {
         p.deEsser(7500.0, 0.5).compressor(-18.0, 2.0, 10.0)
             .midBell(3500.0, 3.0).highShelf(9000.0, 9.0);
     }},
    // Everything overdriven, fed into a howling short echo loop and doubled.
    {"Cacophony", 32154, [](Program& p) {
         p.inputTube(12.0, 2.0).lowShelf(300.0, 6.0).midBell(1500.0, 9.0).highShelf(5000.0, 6.0)
             .eqTube(2.0, kLowBand | kMidBand | kHighBand).compressor(-30.0, 10.0, 0.5)
             .delay(0.07, 1.0, 0.85).delayFilter(0.5, 1500.0).doubler(1.0, 1.0)
             .outputTube(1.5).outputGain(-9.0);
     }},
    // Dense, dark echoes 75 ms apart that die slowly, like a large stone space.
    {"Cavern", 12345, [](Program& p) {
         p.compressor(-20.0, 2.5, 10.0).lowShelf(150.0, 3.0).highShelf(6000.0, -4.0).doubler(0.4, 1.0)
             .delay(0.075, 0.7, 0.8).delayFilter(0.0, 1500.0).outputGain(-4.0);
     }},
    // Thin, honky and crunchy, with an aggressive automatic gain.
    {"Cheap Computer Mic", 12345, [](Program& p) {
         p.inputTube(6.0, 1.4).compressor(-30.0, 10.0, 0.1)
             .lowShelf(400.0, -12.0).midBell(2800.0, 6.0).highShelf(6000.0, -12.0).outputGain(-4.0);
     }},
    // A hard gate that chops off everything below -24 dBFS.
    {"Chopper", 23415, [](Program& p) {
         p.compressor(-12.0, 1.0, 0.1).expander(-24.0, kGate).midBell(2500.0, 2.0);
     }},
    // Bright, glassy echoes: short repeats losing their lows, over a sparkling top end.
    {"Crystal Cave", 23415, [](Program& p) {
         p.compressor(-22.0, 3.0, 5.0).lowShelf(200.0, -4.0).midBell(2500.0, 2.0).highShelf(10000.0, 8.0)
             .doubler(0.5, 1.0).deEsser(8000.0, 0.5).delay(0.09, 0.6, 0.75).delayFilter(1.0, 600.0)
             .outputGain(-3.0);
     }},
    // Short, dense band-limited repeats after a light double: a small reverb out of echoes.
    {"Delayverb", 12345, [](Program& p) {
         p.compressor(-20.0, 2.5, 10.0).doubler(0.4, 1.0).delay(0.085, 0.55, 0.72).delayFilter(0.5, 1800.0);
     }},
    // Maximum drive everywhere, brick-wall compression and a rattling echo.
    {"Destroyer", 25341, [](Program& p) {
         p.inputTube(18.0, 2.0).compressor(-40.0, 30.0, 0.1).delay(0.06, 0.8, 0.6).delayFilter(0.5, 2000.0)
             .lowShelf(100.0, 9.0).midBell(1200.0, 9.0).highShelf(4000.0, 6.0)
             .eqTube(2.0, kLowBand | kMidBand | kHighBand).outputTube(2.0).outputGain(-11.0);
     }},
    // The telephone band, overdriven at the preamp and in the mid band.
    {"Distorted Telephone", 14325, [](Program& p) {
         p.inputTube(15.0, 2.0).deEsser(3500.0, 1.0)
             .lowShelf(600.0, -12.0).midBell(1300.0, 12.0).highShelf(2600.0, -12.0).eqTube(1.8, kMidBand)
             .compressor(-30.0, 8.0, 1.0).outputTube(1.5).outputGain(-6.0);
     }},
    // Dotted-eighth echoes at the host tempo (the de-esser and EQ settings wait, switched off).
    {"Dotted 8th Delay", 12345, [](Program& p) { p.stored(kDotted8thDelay); }},
    // One band-limited slap 140 ms late, a couple of fading repeats, and extra weight below.
    {"Dub Slap", 12345, [](Program& p) {
         p.compressor(-20.0, 3.0, 5.0).lowShelf(120.0, 3.0).highShelf(8000.0, -2.0)
             .delay(0.14, 0.7, 0.35).delayFilter(0.5, 700.0).outputGain(-2.0);
     }},
    // Long dub echoes narrowing to the midrange, spread by the doubler.
    {"DubVerb", 23415, [](Program& p) {
         p.compressor(-20.0, 3.0, 5.0).lowShelf(150.0, 2.0).highShelf(7000.0, -3.0).doubler(0.3, 1.0)
             .delay(0.32, 0.6, 0.65).delayFilter(0.5, 900.0).outputGain(-3.0);
     }},
    // The de-esser at full depth, splitting at 4 kHz, and nothing else.
    {"Esser", 23415, [](Program& p) { p.deEsser(4000.0, 1.0); }},
    // Overdriven preamp, low mids through the tube, highs rolled off and a wide double.
    {"Fat E-Guitar", 12453, [](Program& p) {
         p.inputTube(12.0, 1.6).compressor(-28.0, 6.0, 3.0).doubler(0.7, 1.0)
             .lowShelf(120.0, 4.0).midBell(800.0, 4.0).highShelf(5000.0, -5.0)
             .eqTube(1.4, kLowBand | kMidBand)
             .outputTube(1.2).outputGain(-10.0);
     }},
    // Rumble and boom removed, noise gated between phrases, presence and air lifted.
    {"Female Cleanup and Presence", 12345, [](Program& p) {
         p.deEsser(7500.0, 0.5).compressor(-22.0, 3.0, 5.0).expander(-60.0, 2.0)
             .lowShelf(180.0, -6.0).midBell(3200.0, 3.0).highShelf(10000.0, 3.0);
     }},
    // Warm preamp, de-essed and compressed, with a quiet darkening echo behind.
    {"Female Preamp with Deess and Delay", 12345, [](Program& p) {
         p.inputTube(6.0, 0.8).deEsser(7500.0, 0.6).compressor(-20.0, 3.0, 5.0)
             .lowShelf(150.0, -3.0).highShelf(10000.0, 2.0)
             .delay(0.3, 0.35, 0.3).delayFilter(0.0, 2500.0).outputGain(-3.0);
     }},
    // Four voices: the doubler's two copies, each echoed once 65 ms later.
    {"Female Quartet", 12345, [](Program& p) {
         p.deEsser(7500.0, 0.5).compressor(-22.0, 3.0, 5.0).lowShelf(200.0, -4.0).highShelf(10000.0, 4.0)
             .doubler(1.0, 1.0).delay(0.065, 0.6, 0.0).flatDelayFilter().outputGain(-5.0);
     }},
    // Only the midrange band fuzzed hard by the tube; lows and highs stay clean.
    {"Fuzzy Mid Band", 12345, [](Program& p) {
         p.inputGain(12.0).lowShelf(200.0, 0.0).midBell(1200.0, 4.0).highShelf(6000.0, 0.0)
             .eqTube(2.0, kMidBand).outputGain(-9.0);
     }},
    // Low threshold, 20:1 and an instant attack: levels flattened, the release pumping.
    {"Hard Compression", 12453, [](Program& p) {
         p.compressor(-36.0, 20.0, 0.1).expander(-70.0, 1.5).outputGain(-6.0);
     }},
    // Preamp, all three EQ bands and the output tube overdriven; fizz and mud trimmed.
    {"Heavy Distortion", 12453, [](Program& p) {
         p.inputTube(18.0, 2.0).compressor(-20.0, 4.0, 1.0)
             .lowShelf(100.0, -3.0).midBell(1000.0, 4.0).highShelf(4500.0, -4.0)
             .eqTube(1.5, kLowBand | kMidBand | kHighBand).outputTube(1.5).outputGain(-8.0);
     }},
    // Upfront and dense: a little grit, firm compression, weight, presence and air.
    {"Hip Hop Vocals", 12345, [](Program& p) {
         p.inputTube(3.0, 0.6).deEsser(6500.0, 0.6).compressor(-28.0, 6.0, 2.0)
             .lowShelf(150.0, 2.0).midBell(3000.0, 4.0).highShelf(11000.0, 4.0).outputGain(-6.0);
     }},
    // A strong, wide double for the chorus hook.
    {"Hook Doubler", 12345, [](Program& p) {
         p.deEsser(7000.0, 0.5).compressor(-22.0, 4.0, 5.0).lowShelf(180.0, -3.0).highShelf(10000.0, 4.0)
             .doubler(0.75, 1.0).outputGain(-4.0);
     }},
    // Soft-knee low-ratio compression from a low threshold, with warmth from the tube.
    {"Lead Vocal over-easy plus Warmth", 12345, [](Program& p) {
         p.inputTube(0.0, 0.6).deEsser(6500.0, 0.4).compressor(-30.0, 2.5, 10.0)
             .lowShelf(220.0, 3.0).midBell(2800.0, 1.5).highShelf(12000.0, 2.0).eqTube(0.8, kLowBand);
     }},
    // A 30 ms attack lets every consonant through; tails are tightened by the expander.
    {"Lead Vocal Percussive", 12345, [](Program& p) {
         p.deEsser(7000.0, 0.4).compressor(-26.0, 5.0, 30.0).expander(-50.0, 3.0)
             .lowShelf(120.0, -2.0).midBell(3500.0, 4.0).highShelf(10000.0, 3.0).outputGain(-4.0);
     }},
    // Driven preamp and a driven 2.5 kHz push for edge, with a faint slap.
    {"Lead Vocal Rock Edge", 12345, [](Program& p) {
         p.inputTube(6.0, 1.2).deEsser(6000.0, 0.5).compressor(-26.0, 6.0, 2.0)
             .lowShelf(150.0, -3.0).midBell(2500.0, 5.0).highShelf(9000.0, 2.0).eqTube(1.2, kMidBand)
             .delay(0.11, 0.25, 0.1).delayFilter(0.0, 2500.0).outputGain(-6.0);
     }},
    // A full 12 dB low shelf at 150 Hz: rumble and proximity boom gone, the rest untouched.
    {"LF Roll-off", 23415, [](Program& p) {
         p.lowShelf(150.0, -12.0);
     }},
    // 2:1 above -18 dBFS with a gentle attack: just holds the level together.
    {"Light Compression", 12453, [](Program& p) {
         p.compressor(-18.0, 2.0, 15.0).expander(-70.0, 1.0);
     }},
    // A little tube drive at the preamp and the output.
    {"Light Distortion", 12453, [](Program& p) {
         p.inputTube(6.0, 1.0).outputTube(0.5).outputGain(-3.0);
     }},
    // De-esser set low for a male voice, and a presence lift at 3 kHz.
    {"Male Deesser and Presence", 12345, [](Program& p) {
         p.deEsser(5000.0, 0.6).lowShelf(100.0, -2.0).midBell(3000.0, 4.0).highShelf(8000.0, 1.0);
     }},
    // Smooth and silky: warm lows through the tube, air, a hint of double and a quarter echo.
    {"Male RnB Vocals", 12345, [](Program& p) {
         p.deEsser(6000.0, 0.5).compressor(-26.0, 4.0, 5.0)
             .lowShelf(200.0, 2.0).midBell(1800.0, -1.0).highShelf(12000.0, 5.0).eqTube(0.7, kLowBand)
             .doubler(0.2, 1.0).syncedDelay(kQuarter, 0.3, 0.3).delayFilter(0.0, 2000.0).outputGain(-4.0);
     }},
    // Spoken word: rumble and plosives cut, intelligible, even, and quiet between sentences.
    {"Monologue", 32154, [](Program& p) {
         p.lowShelf(90.0, -10.0).midBell(2500.0, 2.0).compressor(-24.0, 3.0, 10.0).expander(-55.0, 2.5)
             .deEsser(6000.0, 0.5);
     }},
    // Muddy, warm and dark, echoed in eighths and pumped by a heavy compressor at the end.
    {"Mush Groove", 34512, [](Program& p) {
         p.lowShelf(250.0, 6.0).midBell(600.0, 3.0).highShelf(4000.0, -8.0).eqTube(1.2, kLowBand | kMidBand)
             .doubler(0.6, 0.6).syncedDelay(kEighth, 0.6, 0.55).delayFilter(0.0, 1200.0)
             .compressor(-30.0, 10.0, 2.0).outputGain(-5.0);
     }},
    // Hiss and rumble pushed down, noise gated between phrases, intelligibility restored.
    {"Old Recording Cleanup", 12453, [](Program& p) {
         p.deEsser(8000.0, 0.5).compressor(-20.0, 2.0, 10.0).expander(-58.0, 3.0)
             .lowShelf(80.0, -8.0).midBell(2500.0, 2.0).highShelf(9000.0, -4.0);
     }},
    // A narrow old-record band with saturated mids: lows and highs cut by 12 dB.
    {"Old Vinyl", 23415, [](Program& p) {
         p.inputTube(6.0, 1.2).compressor(-20.0, 3.0, 5.0)
             .lowShelf(350.0, -12.0).midBell(1200.0, 5.0).highShelf(3500.0, -12.0).eqTube(1.0, kMidBand)
             .outputTube(1.0).outputGain(-3.0);
     }},
    // Fat: heavy compression, a thick double and a big tube-driven low end.
    {"Phat Bugger", 12543, [](Program& p) {
         p.inputTube(3.0, 1.0).compressor(-30.0, 8.0, 1.0).doubler(0.8, 0.7)
             .lowShelf(160.0, 8.0).midBell(700.0, 3.0).highShelf(9000.0, 2.0).eqTube(1.3, kLowBand)
             .outputGain(-11.0);
     }},
    // Close and soft: proximity warmth, softened highs, strong de-essing, soft words lifted.
    {"Pillow Talk", 31452, [](Program& p) {
         p.lowShelf(160.0, 4.0).midBell(3000.0, -3.0).highShelf(8000.0, -3.0).deEsser(6000.0, 0.7)
             .compressor(-40.0, 4.0, 10.0).expander(-70.0, 2.0).outputGain(-2.0);
     }},
    // Radio-band backing voices, compressed and spread wide by the doubler.
    {"Radio Backups", 53124, [](Program& p) {
         p.inputTube(3.0, 0.8).lowShelf(400.0, -12.0).midBell(1500.0, 6.0).highShelf(4000.0, -10.0)
             .deEsser(4000.0, 0.6).compressor(-26.0, 6.0, 1.0).doubler(0.6, 1.0).outputGain(-3.0);
     }},
    // A narrow driven midrange ringing in a 50 ms band-limited feedback loop.
    {"Resonant Pipe", 23415, [](Program& p) {
         p.compressor(-24.0, 4.0, 5.0).lowShelf(400.0, -12.0).midBell(900.0, 12.0).highShelf(2500.0, -12.0)
             .eqTube(1.0, kMidBand).delay(0.05, 0.6, 0.8).delayFilter(0.5, 900.0).outputGain(-9.0);
     }},
    // A touch of tube at the preamp and on a slightly lifted low band.
    {"Slight Warmth", 23415, [](Program& p) {
         p.inputTube(0.0, 0.5).lowShelf(200.0, 2.0).highShelf(12000.0, -1.0).eqTube(0.6, kLowBand);
     }},
    // A 12 dB air shelf, then crushed by the compressor so the air stays in your face.
    {"Smashed Air", 32145, [](Program& p) {
         p.lowShelf(150.0, -3.0).highShelf(9000.0, 12.0).compressor(-40.0, 30.0, 0.1).deEsser(7000.0, 0.5)
             .outputGain(-3.0);
     }},
    // Short, springy band-limited repeats smeared by the doubler.
    {"Springverb", 12453, [](Program& p) {
         p.compressor(-20.0, 3.0, 5.0).doubler(0.5, 1.0).delay(0.055, 0.6, 0.78).delayFilter(0.5, 1800.0)
             .lowShelf(150.0, -4.0).highShelf(6000.0, -2.0);
     }},
    // Gentle compression, a hint of presence and air, a very light double.
    {"Subtly Sweet", 23415, [](Program& p) {
         p.compressor(-20.0, 2.0, 10.0).lowShelf(180.0, -1.0).midBell(2500.0, 1.5).highShelf(11000.0, 3.0)
             .doubler(0.15, 1.0).deEsser(7000.0, 0.3);
     }},
    // The sweet treatment laid on thick: more air, more presence, more double.
    {"Sugary Sweet", 23415, [](Program& p) {
         p.compressor(-26.0, 4.0, 5.0).lowShelf(200.0, -3.0).midBell(3000.0, 3.0).highShelf(10000.0, 7.0)
             .doubler(0.35, 1.0).deEsser(7000.0, 0.55).outputGain(-3.0);
     }},
    // A handset: everything outside about 600 Hz..2.6 kHz cut by 12 dB or more, the band
    // boosted, the highs de-essed away entirely, and crunchy tubes at both ends.
    {"Telephone", 12345, [](Program& p) {
         p.inputTube(9.0, 1.6).deEsser(3500.0, 1.0).compressor(-30.0, 6.0, 1.0)
             .lowShelf(600.0, -12.0).midBell(1300.0, 12.0).highShelf(2600.0, -12.0)
             .outputTube(1.0).outputGain(-8.0);
     }},
    // A second take: a modulated copy 48 ms late, mostly on its own side.
    {"Tracking Doubler", 12345, [](Program& p) {
         p.doubler(0.8, 0.8);
     }},
    // Tube preamp with a single 110 ms slap that darkens.
    {"Tubepre with Slap-back", 12345, [](Program& p) {
         p.inputTube(6.0, 1.2).delay(0.11, 0.5, 0.1).delayFilter(0.0, 3000.0).outputGain(-3.0);
     }},
    // A milder record band (-9 dB below 150 Hz and above 6 kHz) with slight saturation.
    {"Vinyl", 23415, [](Program& p) {
         p.inputTube(3.0, 0.8).compressor(-18.0, 2.0, 10.0)
             .lowShelf(150.0, -9.0).midBell(1500.0, 2.0).highShelf(6000.0, -9.0).eqTube(0.8, kMidBand);
     }},
    // Dry and tight: room tail and bleed gated away, boxiness cut.
    {"Vocal Booth", 23415, [](Program& p) {
         p.compressor(-22.0, 3.0, 5.0).expander(-50.0, 4.0)
             .lowShelf(120.0, -4.0).midBell(400.0, -3.0).highShelf(10000.0, 1.0).deEsser(7000.0, 0.4);
     }},
    // Gentle 2:1 compression with an expander below -60 dBFS (the EQ tube and listen
    // settings wait, switched off).
    {"Vocal Compander", 12345, [](Program& p) { p.stored(kVocalCompander); }},
    // Warm lows and mids through a hot tube, dark top, fuzzy overall.
    {"Warm and Fuzzy", 23415, [](Program& p) {
         p.inputTube(9.0, 1.4).compressor(-22.0, 4.0, 5.0)
             .lowShelf(200.0, 4.0).midBell(800.0, 2.0).highShelf(7000.0, -5.0)
             .eqTube(1.5, kLowBand | kMidBand)
             .outputTube(0.8).outputGain(-7.0);
     }},
    // A whisper lifted and opened up: breath noise gated and de-essed, proximity cut, lots of air.
    {"Whisper", 12453, [](Program& p) {
         p.deEsser(5000.0, 0.8).compressor(-42.0, 4.0, 5.0).expander(-60.0, 3.0)
             .lowShelf(200.0, -6.0).midBell(3000.0, 2.0).highShelf(7500.0, 10.0).outputGain(-2.0);
     }},
};
// clang-format on

std::array<FactoryProgram, kNumFactoryPrograms> buildBank() {
    std::array<FactoryProgram, kNumFactoryPrograms> bank{};
    for (size_t i = 0; i < bank.size(); ++i) {
        Program program(kRecipes[i].name, kRecipes[i].orderCode);
        kRecipes[i].shape(program);
        bank[i] = program.program();
    }
    return bank;
}

} // namespace

const std::array<FactoryProgram, kNumFactoryPrograms>& factoryPrograms() {
    static const std::array<FactoryProgram, kNumFactoryPrograms> bank = buildBank();
    return bank;
}

} // namespace pellucer
