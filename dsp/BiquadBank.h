#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>

namespace pellucer {

/// A handful of doubles that a setter thread writes and the audio thread takes over as one
/// consistent set, without either side waiting.
///
/// The writer moves a sequence number to odd before it writes and back to even after; a reader
/// keeps what it copied only when the number was even and did not change meanwhile. The audio
/// thread therefore never filters with half of an old and half of a new design (which, for a
/// biquad or an allpass, can be unstable). Writers of one set must not overlap each other.
template <std::size_t N> class PublishedValues {
public:
    using Values = std::array<double, N>;

    PublishedValues() {
        for (auto& v : values_)
            v.store(0.0, std::memory_order_relaxed);
    }
    PublishedValues(const PublishedValues&) = delete;
    PublishedValues& operator=(const PublishedValues&) = delete;

    /// Setter side.
    void publish(const Values& values) {
        const uint32_t s = sequence_.load(std::memory_order_relaxed);
        sequence_.store(s + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        for (std::size_t i = 0; i < N; ++i)
            values_[i].store(values[i], std::memory_order_relaxed);
        sequence_.store(s + 2, std::memory_order_release);
    }

    /// Audio side, once per block: copies the set into `out` when it was republished since
    /// `seen` and no write is under way; returns true when it copied. Never waits.
    bool takeIfChanged(Values& out, uint32_t& seen) const {
        const uint32_t before = sequence_.load(std::memory_order_acquire);
        if (before == seen || (before & 1u) != 0)
            return false;
        if (!copyIfUnchanged(out, before))
            return false;
        seen = before;
        return true;
    }

    /// Display side (never the audio thread): the latest consistent set, retrying while a write
    /// is under way. A writer holds the set for a few stores only; should it be descheduled
    /// there, the reader yields its time slice between rounds of tries.
    Values read() const {
        Values out{};
        for (;;) {
            for (int tries = 0; tries < kTriesPerYield; ++tries) {
                const uint32_t before = sequence_.load(std::memory_order_acquire);
                if ((before & 1u) == 0 && copyIfUnchanged(out, before))
                    return out;
            }
            std::this_thread::yield();
        }
    }

private:
    static constexpr int kTriesPerYield = 64;

    bool copyIfUnchanged(Values& out, uint32_t before) const {
        Values copy;
        for (std::size_t i = 0; i < N; ++i)
            copy[i] = values_[i].load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (sequence_.load(std::memory_order_relaxed) != before)
            return false;
        out = copy;
        return true;
    }

    std::atomic<uint32_t> sequence_{0};
    std::array<std::atomic<double>, N> values_;
};

/// Biquad band types; the numbers are those stored in the bank.
enum class BiquadType : int32_t { LowPass = 0, HighPass = 1, Peaking = 2, LowShelf = 3, HighShelf = 4 };

/// One band's normalised coefficients (a0 as designed, the rest divided by it).
struct BiquadCoefficients {
    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
    double a0 = 1.0;
};

/// Designs one band at `sampleRate` from already clamped settings. Low-, high-pass and peaking
/// widen their bandwidth toward the Nyquist frequency; shelves take q as the shelf slope.
BiquadCoefficients designBiquad(BiquadType type, double frequencyHz, double gainDb, double q,
                                double sampleRate);

/// An ordered list of up to four biquad bands (low-pass, high-pass, peaking, low and high shelf)
/// filtering one or two channels in direct form I, with a magnitude-response query for the
/// editor's curves. Used by the equaliser, the delay's feedback filter and the de-esser's
/// display curves. Holds everything inline: nothing is allocated after construction.
///
/// Threads: `addBand` while no block is processed (it is how the owner builds its layout);
/// `setFrequency`, `setGain`, `setQ`, `setBand`, `setSampleRate` and the queries from any thread
/// (one writer at a time); `prepareBlock`, `processLeft`, `processRight`, `processBlock` and
/// `reset` on the audio thread. New settings reach the filters at the next `prepareBlock`.
class BiquadBank {
public:
    static constexpr int32_t kMaxBands = 4;
    static constexpr double kMinFrequencyHz = 10.0;
    static constexpr double kMaxFrequencyHz = 21000.0;
    /// Rates from this one up design every band at its set frequency (up to kMaxFrequencyHz);
    /// below it the highest frequency designed falls with the rate, staying the same fraction
    /// (about 0.95) of the Nyquist frequency, so that a low rate never gets an unstable band.
    static constexpr double kFullBandRate = 44100.0;
    /// The highest frequency a band is designed at for `sampleRate`; its set frequency is kept.
    static double highestFrequency(double sampleRate);
    static constexpr double kMinGainDb = -32.0;
    static constexpr double kMaxGainDb = 32.0;
    /// Floor of the magnitude response, so that a zero of the response reads as a very low level
    /// rather than minus infinity.
    static constexpr double kResponseFloorDb = -300.0;

    explicit BiquadBank(float sampleRate = 44100.0f);
    BiquadBank(const BiquadBank&) = delete;
    BiquadBank& operator=(const BiquadBank&) = delete;

    /// Appends a band with clamped settings and zeroed state. False (nothing added) when the
    /// bank is full or for an unknown type or a NaN setting.
    bool addBand(BiquadType type, double frequencyHz, double gainDb, double q, bool enabled = true);

    /// Clamp, store and redesign one band. False (nothing changed) for an index outside the
    /// list or a NaN value.
    bool setFrequency(int32_t band, double frequencyHz);
    bool setGain(int32_t band, double gainDb);
    bool setQ(int32_t band, double q);
    /// All three settings of a band with one redesign.
    bool setBand(int32_t band, double frequencyHz, double gainDb, double q);

    /// Stores the rate and redesigns every band (ignored unless positive and finite).
    void setSampleRate(float sampleRate);
    float sampleRate() const { return sampleRate_.load(std::memory_order_relaxed); }

    int32_t bandCount() const { return bandCount_; }
    BiquadType type(int32_t band) const { return bands_[clampIndex(band)].type; }
    bool enabled(int32_t band) const { return bands_[clampIndex(band)].enabled; }
    double frequency(int32_t band) const {
        return bands_[clampIndex(band)].frequencyHz.load(std::memory_order_relaxed);
    }
    double gain(int32_t band) const {
        return bands_[clampIndex(band)].gainDb.load(std::memory_order_relaxed);
    }
    double q(int32_t band) const { return bands_[clampIndex(band)].q.load(std::memory_order_relaxed); }
    /// The band's latest published design.
    BiquadCoefficients coefficients(int32_t band) const;

    /// Fills `count` (frequency Hz, level dB) pairs, points[2k] and points[2k + 1], for
    /// frequencies spaced logarithmically from fLow to fHigh; the level is that of the product
    /// of the enabled bands. False (nothing written) for a null array, a count below 1 or a
    /// non-positive frequency.
    bool magnitudeResponse(double* points, int32_t count, double fLowHz, double fHighHz) const;
    /// Level in dB of the enabled bands at one frequency.
    double magnitudeDb(double frequencyHz) const;

    /// Audio thread, at the start of every block: takes over the designs published since the
    /// last call, and clears a channel state that has stopped being finite (for instance after a
    /// NaN arrived at the input), so that one bad sample cannot silence the bank for good.
    void prepareBlock();
    /// Clears the filter state of both channels (audio thread).
    void reset();

    /// One sample through every enabled band in list order, with the left or right state.
    void processLeft(double& sample) { sample = filter(sample, left_); }
    void processRight(double& sample) { sample = filter(sample, right_); }
    /// A block in place, band after band (the same result as `processLeft`/`processRight` on
    /// every sample, with the state kept in registers). In mono `right` is neither read nor
    /// written.
    void processBlock(double* left, double* right, int32_t frames, bool mono);

private:
    struct State {
        double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
    };
    using ChannelState = std::array<State, kMaxBands>;
    // b0, b1, b2, a1, a2, a0
    using Published = PublishedValues<6>;

    struct Band {
        BiquadType type = BiquadType::Peaking;
        bool enabled = false;
        std::atomic<double> frequencyHz{1000.0};
        std::atomic<double> gainDb{0.0};
        std::atomic<double> q{1.0};
        Published design;
        uint32_t seen = 0; // sequence of the design the audio side runs (audio thread)
    };

    static int32_t clampIndex(int32_t band) {
        return band < 0 ? 0 : (band >= kMaxBands ? kMaxBands - 1 : band);
    }
    bool validIndex(int32_t band) const { return band >= 0 && band < bandCount_; }
    // Designs the band from its settings and publishes the design.
    BiquadCoefficients redesign(int32_t band);

    template <bool kStereo>
    static void runBand(const BiquadCoefficients& c, double* left, double* right, int32_t frames,
                        State& stateLeft, State& stateRight);
    // Stereo, the `count` enabled bands listed in `bands` run one after the other on each frame,
    // left and right side by side in one register pair.
    template <int32_t kCount>
    void runStereoCascade(const int32_t* bands, double* left, double* right, int32_t frames);

    // Direct form I, the previous output entering last so that the recursion waits for one
    // multiply and one subtraction per sample.
    double filter(double x, ChannelState& state) const {
        for (int32_t b = 0; b < bandCount_; ++b) {
            if (!bands_[b].enabled)
                continue;
            const BiquadCoefficients& c = active_[b];
            State& s = state[b];
            const double y = c.b0 * x + c.b1 * s.x1 + c.b2 * s.x2 - c.a2 * s.y2 - c.a1 * s.y1;
            s.x2 = s.x1;
            s.x1 = x;
            s.y2 = s.y1;
            s.y1 = y;
            x = y;
        }
        return x;
    }

    std::atomic<float> sampleRate_;
    std::array<Band, kMaxBands> bands_;
    int32_t bandCount_ = 0;

    // Audio side: the designs the filters run with.
    std::array<BiquadCoefficients, kMaxBands> active_{};
    ChannelState left_{};
    ChannelState right_{};
};

} // namespace pellucer
