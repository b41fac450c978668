#pragma once

// The effect inside the filter. The filter hosts the very effect the VST entry hands out: it
// calls the module's own VSTPluginMain with a host callback of its own and then drives the effect
// through its record, as a VST host would. The adapter keeps the record, answers the effect's host
// callback, holds the filter lock, the wave formats, the stream position and the effect's time
// information, and runs the effect over deinterleaved blocks.
//
// Threads: process(), setParameter() and the format calls run under the filter lock (streaming
// thread, or the graph's thread for formats); the host callback comes from whatever thread the
// effect calls it on (audio for the time information, the editor's for automation notices).

#include <cstdint>

#include "dx/automation/AutomationHooks.h"
#include "dx/base/DirectShow.h"
#include "dx/base/Lock.h"
#include "vst/VstAbi.h"

namespace pellucer::dx {

/// The host's tempo as the effect's time information needs it.
class TempoSource {
public:
    /// The host's tempo in hundredths of BPM at stream frame `position`; false when the host
    /// has no tempo to give (not connected, no tempo map, an error).
    virtual bool tempoAt(int64_t position, int32_t& hundredthsBpm) = 0;

protected:
    ~TempoSource() = default;
};

/// One output pin's share of a processed input buffer.
struct OutputDescriptor {
    int32_t frames = 0;      ///< frames to produce
    int32_t byteOffset = 0;  ///< where the next frames go in the sample
    LONG pinId = 0;          ///< the pin's process-wide identifier
    int32_t channelPair = 0; ///< the pin's position k: it carries output buffers 2k and 2k+1
    int32_t capacityFrames = 0;
    IMediaSample* sample = nullptr; ///< the delivery buffer (one reference)
    BYTE* data = nullptr;           ///< its memory
};

class VstEffectAdapter {
public:
    using EntryPoint = vst::AEffect* (*)(vst::audioMasterCallback);

    /// Output channel buffers shared by every filter in the process; the effect writes its
    /// stereo output into the first two.
    static constexpr int32_t kOutputBufferCount = 20;
    static constexpr int32_t kChannelBufferFrames = 32768;
    /// The effect leaves blocks of kChannelBufferFrames frames or more untouched, so one
    /// processing call takes at most one frame less; longer stretches go in pieces.
    static constexpr int32_t kMaxProcessFrames = kChannelBufferFrames - 1;
    /// Bytes of one interleaved stereo float frame, the only format the effect takes.
    static constexpr int32_t kFrameBytes = 2 * static_cast<int32_t>(sizeof(float));

    /// What the host callback answers.
    static constexpr vst::VstIntPtr kHostVersion = 107;
    static constexpr vst::VstInt32 kHostId = vst::fourCharCode('t', 's', 'l', 'y');
    static constexpr vst::VstIntPtr kHostLanguageEnglish = 1;
    /// audioMasterAutomate indices that carry a parameter number in the value instead: the
    /// editor's gesture begin and end.
    static constexpr vst::VstInt32 kBeginCaptureIndex = 0x800;
    static constexpr vst::VstInt32 kEndCaptureIndex = 0x900;
    /// Parameters a host sees (and automates).
    static constexpr int32_t kHostParameterCount = 39;

    /// `filterLock` is the filter's lock, which the adapter's callers hold while processing.
    explicit VstEffectAdapter(CriticalSection& filterLock) : filterLock_(filterLock) {}
    /// Closes the effect's editor, then the effect (which ends it), then frees the buffers.
    ~VstEffectAdapter();
    VstEffectAdapter(const VstEffectAdapter&) = delete;
    VstEffectAdapter& operator=(const VstEffectAdapter&) = delete;

    /// Allocates the input channel buffers and creates the effect through `entry` with our host
    /// callback. E_OUTOFMEMORY, or E_FAIL when the entry gives no effect with the VST magic.
    HRESULT create(EntryPoint entry);

    vst::AEffect* effect() const { return effect_; }
    CriticalSection& filterLock() { return filterLock_; }

    // -- formats and sample rate (under the filter lock) -----------------------------------
    /// True when the engine takes `format`: IEEE float (tag 3), 32 bits, exactly two channels,
    /// whole stereo float frames (block alignment 8) and a sample rate above 0.
    static bool acceptsFormat(const WAVEFORMATEX& format);
    void setInputFormat(const WAVEFORMATEX& format) { inputFormat_ = format; }
    void setOutputFormat(const WAVEFORMATEX& format) { outputFormat_ = format; }
    const WAVEFORMATEX& inputFormat() const { return inputFormat_; }
    const WAVEFORMATEX& outputFormat() const { return outputFormat_; }
    /// Gives the effect `sampleRate` (its setSampleRate) unless it was the last rate sent.
    void setEffectSampleRate(DWORD sampleRate);
    /// Makes the next setEffectSampleRate send its rate whatever it is.
    void forgetSampleRate() { lastSampleRate_ = -1; }
    int64_t lastSampleRate() const { return lastSampleRate_; }

    // -- stream position and time information -------------------------------------------------
    int64_t samplePosition() const { return samplePosition_; }
    void setSamplePosition(int64_t position) { samplePosition_ = position; }
    /// Frames processed since creation (advanced by the filter after each piece).
    int64_t processedFrames() const { return processedFrames_; }
    void advanceProcessedFrames(int64_t frames) { processedFrames_ += frames; }
    /// The record audioMasterGetTime hands the effect: only tempo and ppqPos ever change.
    const vst::VstTimeInfo& timeInfo() const { return timeInfo_; }
    void setTempoSource(TempoSource* source) { tempoSource_ = source; }
    void setCaptureListener(ParameterCaptureListener* listener) { captureListener_ = listener; }

    // -- processing (streaming thread, under the filter lock and the processing mutex) -------
    /// Runs the effect over `frames` interleaved stereo float frames at `input` and interleaves
    /// each output pin's buffer pair into its sample at the descriptor's byte offset (the
    /// offsets are not advanced). Updates tempo and ppqPos before each processing call.
    void process(const BYTE* input, int32_t frames, const OutputDescriptor* outputs, size_t outputCount);
    /// Sends a parameter value to the effect.
    void setParameter(int32_t index, float value);

    /// The shared output channel buffer `index` (0..19); for tests and diagnostics.
    static const float* outputBuffer(int32_t index);

    /// The host callback given to the effect.
    static vst::VstIntPtr hostCallback(vst::AEffect* effect, vst::VstInt32 opcode, vst::VstInt32 index,
                                       vst::VstIntPtr value, void* ptr, float opt);

private:
    vst::VstIntPtr answerHost(vst::VstInt32 opcode, vst::VstInt32 index, vst::VstIntPtr value, void* ptr,
                              float opt);
    void processPiece(const BYTE* input, int32_t frames, int32_t doneFrames, const OutputDescriptor* outputs,
                      size_t outputCount);
    void updateTimeInfo(int32_t frames);

    CriticalSection& filterLock_;
    vst::AEffect* effect_ = nullptr;
    WAVEFORMATEX inputFormat_{};
    WAVEFORMATEX outputFormat_{};
    int64_t lastSampleRate_ = -1;
    int64_t samplePosition_ = 0;
    int64_t processedFrames_ = 0;
    int32_t lastTempoHundredths_ = 0;
    vst::VstTimeInfo timeInfo_{};
    TempoSource* tempoSource_ = nullptr;
    ParameterCaptureListener* captureListener_ = nullptr;
    // Left and right input channel, one allocation split in halves.
    float* inputChannels_ = nullptr;
};

} // namespace pellucer::dx
