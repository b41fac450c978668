#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "dsp/BiquadBank.h"
#include "dsp/DspModule.h"
#include "dsp/StereoPair.h"

namespace pellucer {

/// Number of note values the synced delay time chooses from (thirty-second triplet .. whole).
constexpr int kNoteValues = 16;

/// Note index selected by a normalised value: trunc(16 u) clamped to 0..15.
int noteIndex(double normalised);
/// Length in seconds of note `index` at `tempoBpm`.
double noteLengthSeconds(int index, double tempoBpm);

/// Stereo feedback echo with a free or tempo-synced time (module 4 of the chain).
///
/// Each channel writes input plus filtered feedback into a power-of-two line and reads it back
/// D frames later. A shelving pair inside the loop moves from a high cut (mode 0) through a band
/// limit (0.5) to a low cut (1) around a corner frequency. A new time is never jumped to while
/// the echo sounds: the delayed signal fades out, the read position switches once it is silent,
/// and the echo fades back in; the dry signal passes untouched throughout.
///
/// Threads: the setters and queries may be called from any thread (one writer at a time);
/// `process` and `reset` run on the audio thread; `setSampleRate` and `initialise` only while no
/// block is being processed. `process` grows the lines when a synced time exceeds them, the one
/// allocation the audio thread makes.
class TempoDelay : public DspModule {
public:
    static constexpr double kInitialTimeSeconds = 0.25;
    /// Time the lines cover before a longer one is asked for.
    static constexpr double kInitialLineSeconds = 1.0;
    /// Longest time accepted (a whole note at 15 BPM), which bounds the lines' growth.
    static constexpr double kMaxTimeSeconds = 16.0;
    static constexpr double kInitialLevel = 0.25;
    /// Upper bound of the loop gain, so that the echoes always die away.
    static constexpr double kMaxFeedback = 0.99;
    /// Feedback filter: corner 10 Hz * 2200^frequency (10 Hz .. 22 kHz), shelves cutting 9 dB.
    static constexpr double kFilterLowestHz = 10.0;
    static constexpr double kFilterSpan = 2200.0;
    static constexpr double kFilterCutDb = -9.0;
    /// Editor curve range.
    static constexpr double kCurveLowHz = 20.0;
    static constexpr double kCurveHighHz = 20000.0;

    TempoDelay();

    /// Stores the rate, then `initialise`.
    void setSampleRate(float sampleRate) override;
    /// Clears both lines and the filter and reads at the target time straight away.
    void reset() override;
    void process(double* left, double* right, uint64_t position, int32_t frames, bool mono) override;

    /// Sets the fade to 1, sizes the lines for the line time at the current rate (zero-filled),
    /// recomputes the delay in frames and the filter for the rate. The settings stay. Allocates.
    void initialise();

    /// Delay time in seconds, clamped to 0..16 (at least one frame); NaN is ignored.
    void setTime(double seconds);
    /// Stores the note value; with sync on and a tempo above 0, sets the time from it.
    void setNoteValue(double normalised, double tempoBpm);
    /// Stores the flag only: the engine re-applies the time parameter as a note value or a time.
    void setSync(bool on);
    /// Echo level 0..1 and loop gain 0..0.99 (clamped; NaN ignored).
    void setLevel(double level);
    void setFeedback(double feedback);
    /// Filter character 0 (high cut) .. 0.5 (band limit) .. 1 (low cut) and corner frequency
    /// control 0..1 (clamped; NaN ignored). Both redesign the feedback filter.
    void setFilterMode(double mode);
    void setFilterCornerControl(double control);

    double timeSeconds() const { return timeSeconds_.load(std::memory_order_relaxed); }
    double noteValue() const { return noteValue_.load(std::memory_order_relaxed); }
    bool sync() const { return sync_.load(std::memory_order_relaxed); }
    double level() const { return level_.load(std::memory_order_relaxed); }
    double feedback() const { return feedback_.load(std::memory_order_relaxed); }
    double filterMode() const { return filterMode_.load(std::memory_order_relaxed); }
    double filterCornerControl() const { return filterCornerControl_.load(std::memory_order_relaxed); }

    /// The delay the time asks for, round(t * fs) frames.
    int32_t targetDelayFrames() const { return targetFrames_.load(std::memory_order_relaxed); }
    /// The delay being read (audio thread).
    int32_t currentDelayFrames() const { return currentFrames_; }
    /// Frames each line holds (audio thread).
    int32_t lineFrames() const { return lineSize_; }

    /// The editor's curve: `count` (Hz, dB) pairs of the feedback filter from 20 Hz to 20 kHz,
    /// spaced logarithmically. False (nothing written) for a null array or a count below 1.
    bool filterCurve(double* points, int32_t count) const;
    /// The feedback filter (band 0 low shelf, band 1 high shelf).
    const BiquadBank& filter() const { return filter_; }

private:
    // The feedback filter inside the loop: the low shelf, then the high shelf, in direct form I
    // with the previous output entering last, as the bank runs them; the left and right channels
    // side by side in the lanes of one register.
    static constexpr int32_t kLoopBands = 2;
    struct LoopState {
        StoredPair x1[kLoopBands], x2[kLoopBands], y1[kLoopBands], y2[kLoopBands];
    };
    // b0, b1, b2, a1, a2 of each band, copied from the bank whenever the owner redesigns it.
    using LoopDesign = PublishedValues<5 * kLoopBands>;

    int32_t framesFor(double seconds) const;
    bool allocateLines(int64_t frames);
    void updateFilter();
    void publishLoopDesign();
    void prepareLoopFilter();
    template <typename Lane, bool kSwitching>
    void run(double* left, double* right, uint32_t start, int32_t frames, int32_t target);

    std::atomic<double> timeSeconds_{kInitialTimeSeconds};
    std::atomic<int32_t> targetFrames_{0};
    std::atomic<double> noteValue_{0.0};
    std::atomic<bool> sync_{false};
    std::atomic<double> level_{kInitialLevel};
    std::atomic<double> feedback_{0.0};
    std::atomic<double> filterMode_{0.0};
    std::atomic<double> filterCornerControl_{0.0};

    BiquadBank filter_;
    LoopDesign loopDesign_;

    // Audio side.
    int32_t currentFrames_ = 0;
    // Gain of the delayed signal while the time switches: falls to -1 (silent from 0 down),
    // switches, rises back to 1.
    double switchGain_ = 1.0;
    double lineSeconds_ = kInitialLineSeconds;
    uint32_t loopDesignSeen_ = 0;
    LoopDesign::Values loopCoefficients_{};
    LoopState loopState_{};
    // One line of (left, right) pairs: a frame is written with one store.
    std::unique_ptr<double[]> line_; ///< left, right, left, right, ...
    int32_t lineSize_ = 0;
    uint32_t mask_ = 0;
};

} // namespace pellucer
