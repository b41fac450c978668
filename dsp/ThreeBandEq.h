#pragma once

#include <atomic>
#include <cstdint>

#include "dsp/BiquadBank.h"
#include "dsp/StereoPair.h"
#include "dsp/DspModule.h"
#include "dsp/TubeStage.h"

namespace pellucer {

/// Three-band equaliser with per-band routing through its own tube (module 2 of the chain).
///
/// Two allpass-complementary third-order crossovers split the signal into low, mid and high;
/// any selection of the bands is summed through the equaliser's tube (fading in and out over
/// about 100 ms) and added back to the others. Since the bands add up to an allpass of the
/// input, the split alone changes only the phase. The sum then runs through a four-band biquad
/// bank: a low shelf, a mid bell made of a wide bell of twice the gain with a narrower opposite
/// bell of the gain at the same frequency, and a high shelf.
///
/// Threads: the setters and queries may be called from any thread (one writer at a time);
/// `process` and `reset` run on the audio thread; `setSampleRate` and `initialise` only while no
/// block is being processed.
class ThreeBandEq : public DspModule {
public:
    /// Band indices of the bank.
    static constexpr int32_t kLowShelfBand = 0;
    static constexpr int32_t kWideBellBand = 1;
    static constexpr int32_t kNarrowBellBand = 2;
    static constexpr int32_t kHighShelfBand = 3;
    /// Slope of both shelves.
    static constexpr double kShelfSlope = 0.9;
    /// Q of the wide mid bell once a mid frequency has been set (1.0 before).
    static constexpr double kWideBellQ = 1.8;
    /// Gain factors of the two mid bells relative to the mid gain.
    static constexpr double kWideBellGainFactor = 2.0;
    static constexpr double kNarrowBellGainFactor = -1.0;
    /// Crossover frequencies until a band frequency or routing switch is first set.
    static constexpr double kInitialCrossoverLowMidHz = 300.0;
    static constexpr double kInitialCrossoverMidHighHz = 2000.0;
    /// Editor curve range.
    static constexpr double kCurveLowHz = 20.0;
    static constexpr double kCurveHighHz = 20000.0;
    /// Added to the input so that the filter states never decay into denormals.
    static constexpr double kAntiDenormal = 1e-30;

    ThreeBandEq();

    /// Stores the rate and redesigns the crossovers and the bank for it; gives the tube the rate.
    /// Rates outside 1 kHz..1 MHz (and NaN) are ignored.
    void setSampleRate(float sampleRate) override;
    /// Does nothing: the filter states persist, so the stage never clicks when the chain resets.
    void reset() override;
    void process(double* left, double* right, uint64_t position, int32_t frames, bool mono) override;

    /// Crossovers at their initial frequencies, allpass states, bank states and routing weights
    /// cleared, tube initialised with envelope modulation. Band settings stay.
    void initialise();

    /// Band settings (Hz and dB). Non-finite or non-positive frequencies and non-finite gains are
    /// ignored; the bank clamps to its ranges.
    void setLowFrequency(double hz);
    void setMidFrequency(double hz);
    void setHighFrequency(double hz);
    void setLowGain(double db);
    void setMidGain(double db);
    void setHighGain(double db);
    /// Drive of the equaliser's tube (linear, > 0; other values are ignored).
    void setTubeDrive(double drive);
    /// Routes a band through the tube; the band fades over about 100 ms.
    void setTubeLow(bool on);
    void setTubeMid(bool on);
    void setTubeHigh(bool on);

    double lowFrequency() const { return lowHz_.load(std::memory_order_relaxed); }
    double midFrequency() const { return midHz_.load(std::memory_order_relaxed); }
    double highFrequency() const { return highHz_.load(std::memory_order_relaxed); }
    double lowGainDb() const { return lowDb_.load(std::memory_order_relaxed); }
    double midGainDb() const { return midDb_.load(std::memory_order_relaxed); }
    double highGainDb() const { return highDb_.load(std::memory_order_relaxed); }
    double tubeDrive() const { return drive_.load(std::memory_order_relaxed); }
    bool tubeLow() const { return tubeLow_.load(std::memory_order_relaxed); }
    bool tubeMid() const { return tubeMid_.load(std::memory_order_relaxed); }
    bool tubeHigh() const { return tubeHigh_.load(std::memory_order_relaxed); }

    /// Crossover frequencies in Hz: the geometric means of low/mid and mid/high.
    double crossoverLowMidHz() const { return crossoverLowMidHz_.load(std::memory_order_relaxed); }
    double crossoverMidHighHz() const { return crossoverMidHighHz_.load(std::memory_order_relaxed); }

    /// Smoothed routing weight of band 0 (low), 1 (mid) or 2 (high); audio thread (tests).
    double routingWeight(int32_t band) const { return weights_[band < 0 ? 0 : (band > 2 ? 2 : band)]; }

    /// The editor's curve: `count` (Hz, dB) pairs of the bank's response from 20 Hz to 20 kHz,
    /// spaced logarithmically. False (nothing written) for a null array or a count below 1.
    bool responseCurve(double* points, int32_t count) const;

    /// The equaliser's tube (its envelope feeds the EQ tube meter).
    const TubeStage& tube() const { return tube_; }
    /// The shelf and bell bank.
    const BiquadBank& bank() const { return bank_; }

private:
    // Coefficients of one crossover: the first-order allpass y = c (x - y1) + x1 and the
    // second-order allpass y = a2 (x - y2) + a1 (x1 - y1) + x2.
    struct Crossover {
        double c = 0.0, a1 = 0.0, a2 = 0.0;
    };
    // The allpass sections, written so that the previous output enters last: the recursion
    // then waits for one multiply and one subtraction per sample. T is double for one channel,
    // or StereoPair for both side by side (the same operations, the same bits).
    template <typename T> struct FirstOrderAllpass {
        T x1{}, y1{};
        T run(T x, double c) {
            const T y = c * x + x1 - c * y1;
            x1 = x;
            y1 = y;
            return y;
        }
    };
    template <typename T> struct SecondOrderAllpass {
        T x1{}, x2{}, y1{}, y2{};
        T run(T x, double a1, double a2) {
            const T y = a2 * x + x2 - a2 * y2 + a1 * x1 - a1 * y1;
            x2 = x1;
            x1 = x;
            y2 = y1;
            y1 = y;
            return y;
        }
    };
    // One channel's allpass sections: both crossovers, and the extra first-order section of
    // crossover A that brings the high band into phase with the other two.
    template <typename T> struct SplitStateOf {
        FirstOrderAllpass<T> firstB, firstA, highFirstA;
        SecondOrderAllpass<T> secondB, secondA;
    };
    using SplitState = SplitStateOf<double>;
    template <typename T> struct BandsOf {
        T low, mid, high;
    };
    using Bands = BandsOf<double>;
    // Both channels' states as one set of pairs, and back.
    static SplitStateOf<StereoPair> joinStates(const SplitState& left, const SplitState& right);
    static void separateStates(const SplitStateOf<StereoPair>& both, SplitState& left, SplitState& right);

    static Crossover designCrossover(double hz, double sampleRate);
    template <typename T>
    static BandsOf<T> split(T x, const Crossover& a, const Crossover& b, SplitStateOf<T>& s) {
        const T half = 0.5 * (x + kAntiDenormal);
        const T pB = s.firstB.run(half, b.c);
        const T qB = s.secondB.run(half, b.a1, b.a2);
        const T lowMid = 0.5 * (pB + qB);
        const T pA = s.firstA.run(lowMid, a.c);
        const T qA = s.secondA.run(lowMid, a.a1, a.a2);
        return {pA + qA, pA - qA, s.highFirstA.run(pB - qB, a.c)};
    }
    // The sum of the three bands: A's first-order section (in the high band's state) on twice
    // B's first-order output, without the rest of the split.
    template <typename T> static T allpassSum(T x, const Crossover& a, const Crossover& b, SplitStateOf<T>& s) {
        const T pB = s.firstB.run(0.5 * (x + kAntiDenormal), b.c);
        return s.highFirstA.run(pB + pB, a.c);
    }
    // Moves a split's state to where `allpassSum` continues it.
    static void rejoin(SplitState& s);
    static double narrowBellQ(double midGainDb);

    void updateCrossovers();
    void publishCrossovers();

    TubeStage tube_;
    BiquadBank bank_;

    std::atomic<double> lowHz_{250.0};
    std::atomic<double> midHz_{1000.0};
    std::atomic<double> highHz_{4000.0};
    std::atomic<double> lowDb_{0.0};
    std::atomic<double> midDb_{0.0};
    std::atomic<double> highDb_{0.0};
    std::atomic<double> drive_{1.0};
    std::atomic<bool> tubeLow_{false};
    std::atomic<bool> tubeMid_{false};
    std::atomic<bool> tubeHigh_{false};

    std::atomic<double> crossoverLowMidHz_{kInitialCrossoverLowMidHz};
    std::atomic<double> crossoverMidHighHz_{kInitialCrossoverMidHighHz};
    // Crossover A (low/mid) then B (mid/high): c, a1, a2 each.
    PublishedValues<6> crossoverDesign_;

    // Audio side.
    uint32_t crossoverSeen_ = 0;
    Crossover crossoverA_;
    Crossover crossoverB_;
    SplitState splitLeft_;
    SplitState splitRight_;
    // True while the split's state is kept for `allpassSum` (no band routed).
    bool rejoined_ = false;
    double weights_[3] = {0.0, 0.0, 0.0};
};

} // namespace pellucer
