#include "dsp/BiquadBank.h"

#include "dsp/DspModule.h"
#include "dsp/StereoPair.h"

#include <algorithm>
#include <cmath>

namespace pellucer {

namespace {


// Bandwidth widening of low-pass, high-pass and peaking bands: alpha = sin(w0) * (kWidenScale *
// (1 + fn) / (1 - fn) + kWidenOffset) / q with fn = 2 f / fs, about sin(w0) / q at low
// frequencies and growing toward the Nyquist frequency, where bilinear bands otherwise narrow.
constexpr double kWidenScale = 0.187;
constexpr double kWidenOffset = 0.81;
// Keeps the widening finite for a band placed exactly at the Nyquist frequency.
constexpr double kNyquistGuard = 1.0e-9;

constexpr double kMinQPass = 0.1, kMaxQPass = 19.0;           // low- and high-pass
constexpr double kMinQPeak = 0.1, kMaxQPeak = 24.0;           // peaking
constexpr double kMinSlopeShelf = 0.2, kMaxSlopeShelf = 10.0; // shelf slope

double clampQ(BiquadType type, double q) {
    switch (type) {
    case BiquadType::LowPass:
    case BiquadType::HighPass:
        return std::clamp(q, kMinQPass, kMaxQPass);
    case BiquadType::Peaking:
        return std::clamp(q, kMinQPeak, kMaxQPeak);
    default:
        return std::clamp(q, kMinSlopeShelf, kMaxSlopeShelf);
    }
}

double clampFrequency(double hz) {
    return std::clamp(hz, BiquadBank::kMinFrequencyHz, BiquadBank::kMaxFrequencyHz);
}

double clampGain(double db) { return std::clamp(db, BiquadBank::kMinGainDb, BiquadBank::kMaxGainDb); }

bool validType(BiquadType type) {
    const int32_t t = static_cast<int32_t>(type);
    return t >= static_cast<int32_t>(BiquadType::LowPass) && t <= static_cast<int32_t>(BiquadType::HighShelf);
}

// |H(e^jw)|^2 of one normalised band.
double powerResponse(const BiquadCoefficients& c, double cosW, double sinW, double cos2W, double sin2W) {
    const double numRe = c.b0 + c.b1 * cosW + c.b2 * cos2W;
    const double numIm = c.b1 * sinW + c.b2 * sin2W;
    const double denRe = 1.0 + c.a1 * cosW + c.a2 * cos2W;
    const double denIm = c.a1 * sinW + c.a2 * sin2W;
    return (numRe * numRe + numIm * numIm) / (denRe * denRe + denIm * denIm);
}

} // namespace

BiquadCoefficients designBiquad(BiquadType type, double f, double gainDb, double q, double fs) {
    const double a = std::pow(10.0, gainDb / 40.0);
    const double w0 = 2.0 * kPi * f / fs;
    const double cs = std::cos(w0);
    const double sn = std::sin(w0);

    double b0, b1, b2, a0, a1, a2;
    if (type == BiquadType::LowPass || type == BiquadType::HighPass || type == BiquadType::Peaking) {
        const double fn = 2.0 * f / fs;
        double gap = 1.0 - fn;
        if (std::fabs(gap) < kNyquistGuard)
            gap = kNyquistGuard;
        const double alpha = sn * (kWidenScale * (1.0 + fn) / gap + kWidenOffset) / q;
        a0 = 1.0 + alpha;
        a1 = -2.0 * cs;
        a2 = 1.0 - alpha;
        if (type == BiquadType::LowPass) {
            b0 = b2 = (1.0 - cs) / 2.0;
            b1 = 1.0 - cs;
        } else if (type == BiquadType::HighPass) {
            b0 = b2 = (1.0 + cs) / 2.0;
            b1 = -(1.0 + cs);
        } else {
            b0 = 1.0 + alpha * a;
            b1 = -2.0 * cs;
            b2 = 1.0 - alpha * a;
            a0 = 1.0 + alpha / a;
            a2 = 1.0 - alpha / a;
        }
    } else {
        const double beta = sn * std::sqrt(std::max(0.0, (a * a + 1.0) / q - (a - 1.0) * (a - 1.0)));
        const double ap1 = a + 1.0, am1 = a - 1.0;
        if (type == BiquadType::LowShelf) {
            b0 = a * (ap1 - am1 * cs + beta);
            b1 = 2.0 * a * (am1 - ap1 * cs);
            b2 = a * (ap1 - am1 * cs - beta);
            a0 = ap1 + am1 * cs + beta;
            a1 = -2.0 * (am1 + ap1 * cs);
            a2 = ap1 + am1 * cs - beta;
        } else {
            b0 = a * (ap1 + am1 * cs + beta);
            b1 = -2.0 * a * (am1 + ap1 * cs);
            b2 = a * (ap1 + am1 * cs - beta);
            a0 = ap1 - am1 * cs + beta;
            a1 = 2.0 * (am1 - ap1 * cs);
            a2 = ap1 - am1 * cs - beta;
        }
    }
    BiquadCoefficients c;
    c.a0 = a0;
    c.b0 = b0 / a0;
    c.b1 = b1 / a0;
    c.b2 = b2 / a0;
    c.a1 = a1 / a0;
    c.a2 = a2 / a0;
    return c;
}

double BiquadBank::highestFrequency(double sampleRate) {
    return kMaxFrequencyHz * std::min(1.0, sampleRate / kFullBandRate);
}

BiquadBank::BiquadBank(float sampleRate) : sampleRate_(44100.0f) { setSampleRate(sampleRate); }

bool BiquadBank::addBand(BiquadType type, double frequencyHz, double gainDb, double q, bool enabled) {
    if (bandCount_ >= kMaxBands)
        return false;
    if (!validType(type) || std::isnan(frequencyHz) || std::isnan(gainDb) || std::isnan(q))
        return false;
    Band& band = bands_[bandCount_];
    band.type = type;
    band.enabled = enabled;
    band.frequencyHz.store(clampFrequency(frequencyHz), std::memory_order_relaxed);
    band.gainDb.store(clampGain(gainDb), std::memory_order_relaxed);
    band.q.store(clampQ(type, q), std::memory_order_relaxed);
    left_[bandCount_] = State{};
    right_[bandCount_] = State{};
    // The owner builds its layout before processing: the new band runs at once.
    active_[bandCount_] = redesign(bandCount_);
    ++bandCount_;
    return true;
}

bool BiquadBank::setFrequency(int32_t band, double frequencyHz) {
    if (!validIndex(band) || std::isnan(frequencyHz))
        return false;
    bands_[band].frequencyHz.store(clampFrequency(frequencyHz), std::memory_order_relaxed);
    redesign(band);
    return true;
}

bool BiquadBank::setGain(int32_t band, double gainDb) {
    if (!validIndex(band) || std::isnan(gainDb))
        return false;
    bands_[band].gainDb.store(clampGain(gainDb), std::memory_order_relaxed);
    redesign(band);
    return true;
}

bool BiquadBank::setQ(int32_t band, double q) {
    if (!validIndex(band) || std::isnan(q))
        return false;
    bands_[band].q.store(clampQ(bands_[band].type, q), std::memory_order_relaxed);
    redesign(band);
    return true;
}

bool BiquadBank::setBand(int32_t band, double frequencyHz, double gainDb, double q) {
    if (!validIndex(band) || std::isnan(frequencyHz) || std::isnan(gainDb) || std::isnan(q))
        return false;
    Band& b = bands_[band];
    b.frequencyHz.store(clampFrequency(frequencyHz), std::memory_order_relaxed);
    b.gainDb.store(clampGain(gainDb), std::memory_order_relaxed);
    b.q.store(clampQ(b.type, q), std::memory_order_relaxed);
    redesign(band);
    return true;
}

void BiquadBank::setSampleRate(float sampleRate) {
    if (!(sampleRate > 0.0f) || !std::isfinite(sampleRate))
        return;
    sampleRate_.store(sampleRate, std::memory_order_relaxed);
    for (int32_t b = 0; b < bandCount_; ++b)
        redesign(b);
}

BiquadCoefficients BiquadBank::redesign(int32_t band) {
    const Band& b = bands_[band];
    const double fs = sampleRate();
    const double hz = std::min(b.frequencyHz.load(std::memory_order_relaxed), highestFrequency(fs));
    const BiquadCoefficients c = designBiquad(b.type, hz, b.gainDb.load(std::memory_order_relaxed),
                                              b.q.load(std::memory_order_relaxed), fs);
    bands_[band].design.publish({c.b0, c.b1, c.b2, c.a1, c.a2, c.a0});
    return c;
}

BiquadCoefficients BiquadBank::coefficients(int32_t band) const {
    const Published::Values v = bands_[clampIndex(band)].design.read();
    return {v[0], v[1], v[2], v[3], v[4], v[5]};
}

double BiquadBank::magnitudeDb(double frequencyHz) const {
    double point[2];
    if (!magnitudeResponse(point, 1, frequencyHz, frequencyHz))
        return kResponseFloorDb;
    return point[1];
}

bool BiquadBank::magnitudeResponse(double* points, int32_t count, double fLowHz, double fHighHz) const {
    if (points == nullptr)
        return false;
    if (count < 1 || !(fLowHz > 0.0) || !(fHighHz > 0.0) || !std::isfinite(fLowHz) || !std::isfinite(fHighHz))
        return false;

    std::array<BiquadCoefficients, kMaxBands> designs;
    for (int32_t b = 0; b < bandCount_; ++b)
        designs[b] = coefficients(b);
    const double fs = sampleRate();
    const double ratio = fHighHz / fLowHz;
    const double floorPower = std::pow(10.0, kResponseFloorDb / 10.0);

    for (int32_t k = 0; k < count; ++k) {
        const double f = count > 1 ? fLowHz * std::pow(ratio, static_cast<double>(k) / (count - 1)) : fLowHz;
        const double w = std::min(2.0 * kPi * f / fs, 2.0 * kPi);
        const double cosW = std::cos(w), sinW = std::sin(w);
        const double cos2W = std::cos(2.0 * w), sin2W = std::sin(2.0 * w);
        double power = 1.0;
        for (int32_t b = 0; b < bandCount_; ++b)
            if (bands_[b].enabled)
                power *= powerResponse(designs[b], cosW, sinW, cos2W, sin2W);
        points[2 * k] = f;
        points[2 * k + 1] = power > floorPower ? 10.0 * std::log10(power) : kResponseFloorDb;
    }
    return true;
}

void BiquadBank::prepareBlock() {
    for (int32_t b = 0; b < bandCount_; ++b) {
        Published::Values v;
        if (bands_[b].design.takeIfChanged(v, bands_[b].seen))
            active_[b] = {v[0], v[1], v[2], v[3], v[4], v[5]};
        for (ChannelState* channel : {&left_, &right_}) {
            State& s = (*channel)[b];
            if (!std::isfinite(s.x1 + s.x2 + s.y1 + s.y2))
                s = State{};
        }
    }
}

// One band over a block, its state in locals for the duration.
template <bool kStereo>
void BiquadBank::runBand(const BiquadCoefficients& c, double* left, double* right, int32_t frames, State& sl,
                         State& sr) {
    const double b0 = c.b0, b1 = c.b1, b2 = c.b2, a1 = c.a1, a2 = c.a2;
    double lx1 = sl.x1, lx2 = sl.x2, ly1 = sl.y1, ly2 = sl.y2;
    double rx1 = sr.x1, rx2 = sr.x2, ry1 = sr.y1, ry2 = sr.y2;
    for (int32_t i = 0; i < frames; ++i) {
        const double lx = left[i];
        const double ly = b0 * lx + b1 * lx1 + b2 * lx2 - a2 * ly2 - a1 * ly1;
        lx2 = lx1;
        lx1 = lx;
        ly2 = ly1;
        ly1 = ly;
        left[i] = ly;
        if constexpr (kStereo) {
            const double rx = right[i];
            const double ry = b0 * rx + b1 * rx1 + b2 * rx2 - a2 * ry2 - a1 * ry1;
            rx2 = rx1;
            rx1 = rx;
            ry2 = ry1;
            ry1 = ry;
            right[i] = ry;
        }
    }
    sl = {lx1, lx2, ly1, ly2};
    sr = {rx1, rx2, ry1, ry2};
}

// All bands in one pass over the block: band k of one frame can start while band k + 1 of the
// frame before is still waiting for its recursion, so the cascade runs at the arithmetic's pace
// rather than four times the recursion's latency, and both channels share each instruction.
// A band's past inputs are the past outputs of the band before it, so the cascade keeps one
// input history and each band's output history: ten register pairs in all, with room beside
// them for the arithmetic (the coefficients are read from memory as they are used).
template <int32_t kCount>
void BiquadBank::runStereoCascade(const int32_t* bands, double* left, double* right, int32_t frames) {
    StereoPair b0[kCount], b1[kCount], b2[kCount], a1[kCount], a2[kCount];
    StereoPair y1[kCount], y2[kCount];
    for (int32_t k = 0; k < kCount; ++k) {
        const BiquadCoefficients& c = active_[bands[k]];
        b0[k] = StereoPair{c.b0, c.b0};
        b1[k] = StereoPair{c.b1, c.b1};
        b2[k] = StereoPair{c.b2, c.b2};
        a1[k] = StereoPair{c.a1, c.a1};
        a2[k] = StereoPair{c.a2, c.a2};
        y1[k] = StereoPair{left_[bands[k]].y1, right_[bands[k]].y1};
        y2[k] = StereoPair{left_[bands[k]].y2, right_[bands[k]].y2};
    }
    StereoPair x1 = {left_[bands[0]].x1, right_[bands[0]].x1};
    StereoPair x2 = {left_[bands[0]].x2, right_[bands[0]].x2};
    for (int32_t i = 0; i < frames; ++i) {
        const StereoPair in = {left[i], right[i]};
        StereoPair x = in, p1 = x1, p2 = x2;
#pragma GCC unroll 4
        for (int32_t k = 0; k < kCount; ++k) {
            const StereoPair y = b0[k] * x + b1[k] * p1 + b2[k] * p2 - a2[k] * y2[k] - a1[k] * y1[k];
            p1 = y1[k];
            p2 = y2[k];
            y2[k] = y1[k];
            y1[k] = y;
            x = y;
        }
        x2 = x1;
        x1 = in;
        left[i] = x[0];
        right[i] = x[1];
    }
    for (int32_t k = 0; k < kCount; ++k) {
        const StereoPair inX1 = k == 0 ? x1 : y1[k - 1];
        const StereoPair inX2 = k == 0 ? x2 : y2[k - 1];
        left_[bands[k]] = {inX1[0], inX2[0], y1[k][0], y2[k][0]};
        right_[bands[k]] = {inX1[1], inX2[1], y1[k][1], y2[k][1]};
    }
}

void BiquadBank::processBlock(double* left, double* right, int32_t frames, bool mono) {
    if (mono) {
        for (int32_t b = 0; b < bandCount_; ++b)
            if (bands_[b].enabled)
                runBand<false>(active_[b], left, right, frames, left_[b], right_[b]);
        return;
    }
    int32_t enabled[kMaxBands];
    int32_t count = 0;
    for (int32_t b = 0; b < bandCount_; ++b)
        if (bands_[b].enabled)
            enabled[count++] = b;
    switch (count) {
    case 1: runStereoCascade<1>(enabled, left, right, frames); break;
    case 2: runStereoCascade<2>(enabled, left, right, frames); break;
    case 3: runStereoCascade<3>(enabled, left, right, frames); break;
    case 4: runStereoCascade<4>(enabled, left, right, frames); break;
    default: break;
    }
}

void BiquadBank::reset() {
    left_.fill(State{});
    right_.fill(State{});
}

} // namespace pellucer
