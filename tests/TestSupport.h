#pragma once

// Signals, measurements and a minimal host for the tests.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

#include "core/ChannelStripEffect.h"
#include "core/EffectEditor.h"
#include "vst/VstAbi.h"

namespace pellucer::test {

inline std::vector<double> sine(double amplitude, double hz, double sampleRate, size_t frames) {
    std::vector<double> s(frames);
    for (size_t i = 0; i < frames; ++i)
        s[i] = amplitude * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / sampleRate);
    return s;
}

/// Deterministic white noise in [-amplitude, amplitude] (a 32-bit LCG, the same everywhere).
inline std::vector<double> noise(double amplitude, size_t frames, uint32_t seed = 12345) {
    std::vector<double> s(frames);
    for (auto& x : s) {
        seed = seed * 1664525u + 1013904223u;
        x = amplitude * (static_cast<double>(seed >> 8) / 8388608.0 - 1.0);
    }
    return s;
}

template <typename T> double peak(const std::vector<T>& s, size_t from = 0, size_t to = SIZE_MAX) {
    double p = 0.0;
    for (size_t i = from; i < std::min(to, s.size()); ++i)
        p = std::max(p, std::fabs(static_cast<double>(s[i])));
    return p;
}

inline double dbToGain(double db) { return std::pow(10.0, db / 20.0); }

/// Processes whole stereo buffers in place through a stage from sample `position` on, in blocks
/// that cycle through `blocks` (one block when empty).
template <typename Stage>
void processStereo(Stage& stage, std::vector<double>& left, std::vector<double>& right, uint64_t position = 0,
                   const std::vector<int32_t>& blocks = {}) {
    for (size_t at = 0, k = 0; at < left.size(); ++k) {
        const size_t n = blocks.empty() ? left.size() : std::min<size_t>(blocks[k % blocks.size()], left.size() - at);
        stage.process(left.data() + at, right.data() + at, position + at, static_cast<int32_t>(n), false);
        at += n;
    }
}

/// Processes a whole mono buffer in place (no right buffer at all).
template <typename Stage> void processMono(Stage& stage, std::vector<double>& s, uint64_t position = 0) {
    stage.process(s.data(), nullptr, position, static_cast<int32_t>(s.size()), true);
}

/// Expects out[n] == in[n - delay] within `tolerance` from frame `from` on (silence before the delay).
template <typename T>
void expectDelayed(const std::vector<T>& in, const std::vector<T>& out, size_t delay, double tolerance,
                   size_t from = 0) {
    for (size_t n = from; n < out.size(); ++n)
        ASSERT_NEAR(out[n], n >= delay ? in[n - delay] : T{}, tolerance) << "frame " << n;
}

/// A host callback that answers the version query and hands out a time record. The effect's
/// `user` field points at the FakeHost.
struct FakeHost {
    vst::VstTimeInfo time{};
    bool hasTime = false;

    static vst::VstIntPtr callback(vst::AEffect* effect, vst::VstInt32 opcode, vst::VstInt32, vst::VstIntPtr,
                                   void*, float) {
        auto* host = effect != nullptr ? static_cast<FakeHost*>(effect->user) : nullptr;
        if (opcode == vst::audioMasterVersion)
            return 2400;
        return opcode == vst::audioMasterGetTime && host != nullptr && host->hasTime
                   ? reinterpret_cast<vst::VstIntPtr>(&host->time)
                   : 0;
    }

    void attach(ChannelStripEffect& effect) { effect.getAeffect()->user = this; }
    void setTempo(double bpm, int32_t flags = vst::kVstTempoValid) {
        hasTime = true;
        time.tempo = bpm;
        time.flags = flags;
    }
};

/// An editor that is always open and remembers the changes it is told of.
class RecordingEditor : public EffectEditor {
public:
    bool open(void*) override { return true; }
    void close() override {}
    bool isOpen() const override { return true; }
    void parameterChanged(int32_t index, float value) override { changes.push_back({index, value}); }
    void refreshAll() override {}

    struct Change {
        int32_t index;
        float value;
    };
    std::vector<Change> changes;
};

/// Runs a stereo signal through the effect in blocks of `block` frames (single precision).
inline void render(ChannelStripEffect& effect, const std::vector<float>& inL, const std::vector<float>& inR,
                   std::vector<float>& outL, std::vector<float>& outR, int32_t block) {
    outL.assign(inL.size(), 0.0f);
    outR.assign(inR.size(), 0.0f);
    for (size_t pos = 0; pos < inL.size(); pos += static_cast<size_t>(block)) {
        const auto n = static_cast<int32_t>(std::min<size_t>(static_cast<size_t>(block), inL.size() - pos));
        float *in[2] = {const_cast<float*>(inL.data() + pos), const_cast<float*>(inR.data() + pos)},
              *out[2] = {outL.data() + pos, outR.data() + pos};
        effect.processReplacing(in, out, n);
    }
}

inline std::vector<float> toFloat(const std::vector<double>& s) { return {s.begin(), s.end()}; }

} // namespace pellucer::test
