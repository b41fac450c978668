#include "dsp/Compander.h"

#include <algorithm>
#include <cmath>

namespace pellucer {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

// Both knees span threshold * K .. threshold / K, K = 10^(-0.15) (-3 dB): 6 dB wide.
const double kKneeFactor = std::pow(10.0, -0.15);
// ln(10) / 20: dB to ln units.
constexpr double kNepersPerDb = 0.115129254649702;

// Added to the detector input so that its log never sees 0.
constexpr double kLevelOffset = 1e-30;
// Non-finite or absurd input levels read as this (+180 dBFS) so that one bad sample cannot
// leave the detector at NaN for good.
constexpr double kMaxLevel = 1e9;
// The curves' gains are kept above 1e-30 on the audio path. That is far below the -120 dB total
// floor even after the largest make-up, so the output does not change, but the smoothed gains
// never sink into denormal numbers when a steep expander closes on silence.
const double kLnCurveGainFloor = std::log(1e-30);

// Make-up brings a 0 dBFS input out at no less than -6 dBFS.
constexpr double kMakeUpTarget = 0.5;

// Time constants (90 % of a step) in ms.
constexpr double kFastReleaseMs = 40.0;
constexpr double kSlowReleaseMs = 400.0;
constexpr double kRecentMaxMs = 400.0;
constexpr double kOvershootMs = 600.0;
constexpr double kMinOvershoot = 1.0;
constexpr double kMaxOvershoot = 4.0;

// Setting ranges: wide enough for any parameter value, narrow enough that every curve constant
// stays finite.
constexpr double kMinThresholdDb = -200.0;
constexpr double kMaxThresholdDb = 60.0;
constexpr double kMinRatio = 1.0;
constexpr double kMaxRatio = 1e6;

// Lowest level detectorLevels reports (-600 dB), in place of log10(0).
constexpr double kMinReportedLevel = 1e-30;

double clampValue(double v, double lo, double hi) { return v < lo ? lo : (v > hi ? hi : v); }

double levelDb(double linear) {
    const double floored = linear > kMinReportedLevel ? linear : kMinReportedLevel;
    return 20.0 * std::log10(static_cast<double>(static_cast<float>(floored)));
}

} // namespace

Compander::GainCurve Compander::SharedCurve::load() const {
    return {lnThreshold.load(kRelaxed), lowerEdge.load(kRelaxed), upperEdge.load(kRelaxed),
            kneeScale.load(kRelaxed), slope.load(kRelaxed)};
}

void Compander::SharedCurve::storeThreshold(double lnT, double lower, double upper, double scale) {
    lnThreshold.store(lnT, kRelaxed);
    lowerEdge.store(lower, kRelaxed);
    upperEdge.store(upper, kRelaxed);
    kneeScale.store(scale, kRelaxed);
}

Compander::Compander() {
    // A neutral curve until the engine applies a program: sc = 0, se = 0, M = 1.
    setCompressorThreshold(0.0);
    setCompressorRatio(1.0);
    setExpanderThreshold(-90.0);
    setExpanderRatio(1.0);
    setAttack(0.0);
    updateTimeFactors();
    restart();
}

void Compander::setSampleRate(float sampleRate) {
    DspModule::setSampleRate(sampleRate);
    updateTimeFactors();
    restart();
}

void Compander::reset() {}

void Compander::updateTimeFactors() {
    attackFactor_.store(decayFactor(attackMs_.load(kRelaxed)), kRelaxed);
    fastRelease_ = decayFactor(kFastReleaseMs);
    slowRelease_ = decayFactor(kSlowReleaseMs);
    recentMaxFactor_ = decayFactor(kRecentMaxMs);
    overshootFactor_ = decayFactor(kOvershootMs);
}

void Compander::restart() {
    hold_.clear();
    recentMax_ = 0.0;
    envelope_ = kLevelOffset;
    compressorGain_ = 1.0;
    expanderGain_ = 1.0;
    overshoot_ = 1.0;
    release_ = slowRelease_;
    publishedEnvelope_.store(kLevelOffset, kRelaxed);
    publishedOutputLevel_.store(kLevelOffset, kRelaxed);
    publishedCompressorGain_.store(1.0, kRelaxed);
    publishedExpanderGain_.store(1.0, kRelaxed);
    publishedOvershoot_.store(1.0, kRelaxed);
}

void Compander::setCompressorThreshold(double thresholdDb) {
    if (std::isnan(thresholdDb))
        return;
    const double t = std::pow(10.0, clampValue(thresholdDb, kMinThresholdDb, kMaxThresholdDb) / 20.0);
    const double lower = std::log(t * kKneeFactor);
    const double upper = std::log(t / kKneeFactor);
    threshold_.store(t, kRelaxed);
    compressor_.storeThreshold(std::log(t), lower, upper, 0.5 / (upper - lower));
    updateMakeUp();
}

void Compander::setCompressorRatio(double ratio) {
    if (std::isnan(ratio))
        return;
    const double r = clampValue(ratio, kMinRatio, kMaxRatio);
    ratio_.store(r, kRelaxed);
    compressor_.slope.store(1.0 / r - 1.0, kRelaxed);
    updateMakeUp();
}

void Compander::setExpanderThreshold(double thresholdDb) {
    if (std::isnan(thresholdDb))
        return;
    const double t = std::pow(10.0, clampValue(thresholdDb, kMinThresholdDb, kMaxThresholdDb) / 20.0);
    const double lower = std::log(t * kKneeFactor);
    const double upper = std::log(t / kKneeFactor);
    expanderThreshold_.store(t, kRelaxed);
    // The expander's knee runs downward from its upper edge, hence the negative scale.
    expander_.storeThreshold(std::log(t), lower, upper, 0.5 / (lower - upper));
}

void Compander::setExpanderRatio(double ratio) {
    if (std::isnan(ratio))
        return;
    const double inverse = 1.0 / clampValue(ratio, kMinRatio, kMaxRatio);
    inverseExpanderRatio_.store(inverse, kRelaxed);
    expander_.slope.store(1.0 / inverse - 1.0, kRelaxed);
}

void Compander::setAttack(double attackMs) {
    if (!std::isfinite(attackMs))
        return;
    // Compared in single precision: the attack arrives through a 32-bit parameter, and the
    // shortest one (0.1 ms) must not miss "instant" by the float's rounding of 0.1.
    const double ms = static_cast<float>(attackMs) <= static_cast<float>(kInstantAttackMs) ? 0.0 : attackMs;
    attackMs_.store(ms, kRelaxed);
    attackFactor_.store(decayFactor(ms), kRelaxed);
}

void Compander::updateMakeUp() {
    // G0 is the compressor's gain for a 0 dBFS input on the straight part of its curve.
    const double g0 =
        std::exp((0.0 - compressor_.lnThreshold.load(kRelaxed)) * compressor_.slope.load(kRelaxed));
    const double m = kMakeUpTarget / g0;
    makeUp_.store(m > 1.0 ? m : 1.0, kRelaxed);
}

double Compander::compressorThresholdDb() const {
    const double t = threshold_.load(kRelaxed);
    return t > 0.0 ? 20.0 * std::log10(t) : 0.0;
}

double Compander::compressorRatio() const { return ratio_.load(kRelaxed); }

double Compander::expanderThresholdDb() const {
    const double t = expanderThreshold_.load(kRelaxed);
    return t > 0.0 ? 20.0 * std::log10(t) : 0.0;
}

double Compander::expanderRatio() const { return 1.0 / inverseExpanderRatio_.load(kRelaxed); }

inline void Compander::gainExponents(const GainCurve& c, const GainCurve& e, double level, double& lnGc,
                              double& lnGe) {
    // The compressor is tested first, so where the expander's knee would reach above the
    // compressor's lower knee edge the compressor wins.
    if (level >= c.lowerEdge) {
        lnGe = 0.0;
        if (level < c.upperEdge) {
            const double d = level - c.lowerEdge;
            lnGc = c.slope * c.kneeScale * d * d;
        } else {
            lnGc = c.slope * (level - c.lnThreshold);
        }
        return;
    }
    lnGc = 0.0;
    if (level > e.upperEdge) {
        lnGe = 0.0;
    } else if (level > e.lowerEdge) {
        const double d = e.upperEdge - level;
        lnGe = e.slope * e.kneeScale * d * d;
    } else {
        lnGe = e.slope * (level - e.lnThreshold);
    }
}

bool Compander::transferCurve(double* points, int32_t count) const {
    if (points == nullptr || count < 0)
        return false;
    const GainCurve c = compressor_.load();
    const GainCurve e = expander_.load();
    const double makeUpDb = 20.0 * std::log10(makeUp_.load(kRelaxed));
    const double step = count > 1 ? 90.0 / (count - 1) : 0.0;
    for (int32_t k = 0; k < count; ++k) {
        const double x = -90.0 + k * step;
        double lnGc = 0.0, lnGe = 0.0;
        gainExponents(c, e, x * kNepersPerDb, lnGc, lnGe);
        points[2 * k] = x;
        points[2 * k + 1] = x + (lnGc + lnGe) / kNepersPerDb + makeUpDb;
    }
    return true;
}

void Compander::detectorLevels(double out[2]) const {
    out[0] = levelDb(publishedEnvelope_.load(kRelaxed));
    out[1] = levelDb(publishedOutputLevel_.load(kRelaxed));
}

void Compander::process(double* left, double* right, uint64_t, int32_t frames, bool mono) {
    if (frames <= 0)
        return;
    if (mono)
        run<true>(left, nullptr, frames);
    else
        run<false>(left, right, frames);
}

template <bool Mono> void Compander::run(double* left, double* right, int32_t frames) {
    // Settings, once per block.
    const GainCurve comp = compressor_.load();
    const GainCurve expa = expander_.load();
    const double makeUp = makeUp_.load(kRelaxed);
    const double attack = attackFactor_.load(kRelaxed);
    const double f40 = fastRelease_;
    const double f400 = slowRelease_;
    const double fRecent = recentMaxFactor_;
    const double f600 = overshootFactor_;
    const double releaseSlope = fRecent * (f40 - f400);

    // Hot state in locals.
    PeakHold hold = hold_;
    double env = envelope_;
    double gcs = compressorGain_;
    double ges = expanderGain_;
    double release = release_;
    double recentMax = recentMax_;
    double overshoot = overshoot_;

    // The static gains only change when the envelope does (often not at all during a hold).
    double gainsFor = -1.0;
    double gc = 1.0, ge = 1.0;

    for (int32_t i = 0; i < frames; ++i) {
        // Stereo-linked peak level.
        double v = std::fabs(left[i]);
        if constexpr (!Mono) {
            const double r = std::fabs(right[i]);
            if (r > v)
                v = r;
        }
        v += kLevelOffset;
        if (!(v <= kMaxLevel))
            v = kMaxLevel;

        // Peak hold, then instant rise / slow fall: the larger of the two, which is the rise
        // exactly when the distance is positive (rounded sums keep their order).
        const double d = hold.track(v) - env;
        const double rise = env + d;
        const double fall = env + d * kDetectorFall;
        env = d > 0.0 ? rise : fall;

        if (env != gainsFor) {
            gainsFor = env;
            double lnGc, lnGe;
            gainExponents(comp, expa, std::log(env), lnGc, lnGe);
            gc = lnGc == 0.0 ? 1.0 : std::exp(lnGc > kLnCurveGainFloor ? lnGc : kLnCurveGainFloor);
            ge = lnGe == 0.0 ? 1.0 : std::exp(lnGe > kLnCurveGainFloor ? lnGe : kLnCurveGainFloor);
        }

        // Toward more reduction with the attack, back with the release.
        gcs = gc + (gcs - gc) * (gcs >= gc ? attack : release);
        ges = ge + (ges - ge) * (ges <= ge ? attack : release);

        // Program-dependent release: P remembers the recent highest compressor gain; the further
        // the gain sits below it (a sudden deep reduction), the closer the release gets to 40 ms:
        // r = f400 + (P - gcs) (f40 - f400) with P = max(gcs, gcs + (P' - gcs) fRecent), P' the
        // previous P. That is f400 + min(0, (P' - gcs) B), B = fRecent (f40 - f400), the same
        // but for the rounding of P: the next gcs waits for four operations on this gcs instead
        // of eight, and the loop runs at the speed of that chain. P itself follows aside.
        const double releaseOffset = (recentMax - gcs) * releaseSlope;
        release = releaseOffset < 0.0 ? f400 + releaseOffset : f400; // a branch: P is mostly above gcs
        recentMax = gcs + (recentMax - gcs) * fRecent;
        if (recentMax < gcs)
            recentMax = gcs;

        // How far the smoothed gain still lags above its target: > 1 while the attack is too
        // slow for the signal; the reading decays by f600 per sample and stays within 1..4.
        overshoot = std::max(overshoot * f600, clampValue(gcs / gc, kMinOvershoot, kMaxOvershoot));

        double g = gcs * ges * makeUp;
        if (g < kMinGain)
            g = kMinGain;
        left[i] *= g;
        if constexpr (!Mono)
            right[i] *= g;
    }

    hold_ = hold;
    envelope_ = env;
    compressorGain_ = gcs;
    expanderGain_ = ges;
    release_ = release;
    recentMax_ = recentMax;
    overshoot_ = overshoot;

    publishedCompressorGain_.store(gcs, kRelaxed);
    publishedExpanderGain_.store(ges, kRelaxed);
    publishedOvershoot_.store(overshoot, kRelaxed);
    publishedEnvelope_.store(env, kRelaxed);
    publishedOutputLevel_.store(ge * gc * makeUp * env, kRelaxed);
}

} // namespace pellucer
