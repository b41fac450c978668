#pragma once

// The render loop: the strip driven as a host drives the plug-in (processReplacing in blocks,
// host time with the tempo), its latency removed from the output, and the figures of the summary.

#include <atomic>
#include <cstdint>
#include <string>

#include "tools/render/AudioFile.h"
#include "vst/VstAbi.h"

namespace pellucer {
class ChannelStripEffect;
}

namespace pellucer::render {

/// The host side: answers the version query and hands the engine a time record with the tempo,
/// the sample position and a playing transport that starts with the first block.
class RenderHost {
public:
    RenderHost(double tempoBpm, double sampleRate);

    /// The callback to construct the effect with; it finds this object through the effect
    /// record's `user` field, which `attach` fills.
    static vst::VstIntPtr callback(vst::AEffect* effect, vst::VstInt32 opcode, vst::VstInt32 index,
                                   vst::VstIntPtr value, void* ptr, float opt);
    void attach(ChannelStripEffect& effect);
    /// The time record for a block while the transport stands still (before playback starts).
    void beginStoppedBlock();
    /// The time record for the block that starts at frame `position` of the playback.
    void beginBlock(int64_t position);

    const vst::VstTimeInfo& time() const { return time_; }

private:
    vst::VstTimeInfo time_{};
};

/// Sets the engine up as a host does before it starts: sample rate, block size and the speaker
/// arrangement (one input channel puts the strip in its mono mode).
void prepareEngine(ChannelStripEffect& effect, float sampleRate, int32_t blockFrames, bool monoInput);

/// Peak and RMS of a stream of samples. NaN and infinite samples are counted apart and left out.
struct LevelStats {
    double peak = 0.0;
    double sumOfSquares = 0.0;
    int64_t samples = 0;
    int64_t nonFinite = 0;

    void add(const float* samples, int64_t count);
    double peakDb() const;
    double rmsDb() const;
};

struct RenderPlan {
    int32_t blockFrames = 512;
    int64_t tailFrames = 0;
    /// Frames of silence the strip runs, transport stopped, before playback starts with the
    /// input: a host runs a plug-in from the moment it is inserted, so gliding settings have
    /// arrived when playback starts, and the doubler's sweep and the noise follow the frames
    /// processed since then.
    int64_t prerollFrames = 0;
    int32_t outputChannels = 2;
    bool integerOutput = false; ///< count samples the file will clip
    bool showProgress = false;
    const std::atomic<bool>* stop = nullptr; ///< set from a signal handler to end the render
};

struct RenderSummary {
    int64_t inputFrames = 0;
    int64_t outputFrames = 0;
    LevelStats input;
    LevelStats output;
    int64_t clippedSamples = 0;
    bool compander = false; ///< the compander (de-esser) was on: its figures below mean something
    bool deEsser = false;
    double compressorGain = 1.0; ///< smallest published gain of the render
    double expanderGain = 1.0;
    double deEsserGain = 1.0;

    /// "in peak -3.0 dBFS rms -20.1 dBFS; out ...; gain reduction: compressor -6.1 dB, ...", then
    /// the samples clipped and the non-finite input samples when there were any.
    std::string line() const;
};

/// Renders the whole input into the writer: the input plus `tailFrames` of silence plus the
/// latency go through the strip, and the first `latency` output frames are dropped, so the output
/// is aligned with the input and `tailFrames` longer. False with `error` on a read or write
/// error or a stop request.
bool renderFile(ChannelStripEffect& effect, RenderHost& host, AudioReader& reader, AudioWriter& writer,
                const RenderPlan& plan, RenderSummary& summary, std::string& error);

} // namespace pellucer::render
