#pragma once

#include <atomic>
#include <cstdint>

#include "vst/VstAbi.h"

namespace pellucer {

class EffectEditor;

/// Base layer of the effect: the effect record the host holds, the host callback, sample rate,
/// block size, program and parameter counts and the editor pointer. The record's static
/// functions forward to the virtual operations below.
class AudioEffect {
public:
    AudioEffect(vst::audioMasterCallback host, int32_t numPrograms, int32_t numParams);
    virtual ~AudioEffect();
    AudioEffect(const AudioEffect&) = delete;
    AudioEffect& operator=(const AudioEffect&) = delete;

    /// Host opcodes; the base answers 0 to everything.
    virtual vst::VstIntPtr dispatcher(int32_t opcode, int32_t index, vst::VstIntPtr value, void* ptr, float opt);

    virtual void open() {}
    virtual void close() {}
    virtual void suspend() {}
    virtual void resume() {}
    virtual void setSampleRate(float sampleRate) { sampleRate_ = sampleRate; }
    virtual void setBlockSize(int32_t blockSize) { blockSize_ = blockSize; }
    virtual void processReplacing(float** inputs, float** outputs, int32_t frames) = 0;
    virtual void processDoubleReplacing(double** inputs, double** outputs, int32_t frames) = 0;
    virtual void setParameter(int32_t, float) {}
    virtual float getParameter(int32_t) { return 0.0f; }
    /// setParameter, then tells the host (audioMasterAutomate) so that it records the change.
    virtual void setParameterAutomated(int32_t index, float value);
    virtual int32_t getProgram() { return currentProgram_; }
    virtual void setProgram(int32_t program) { currentProgram_ = program; }
    virtual void setProgramName(const char*) {}
    virtual void getProgramName(char* name) { name[0] = '\0'; }
    virtual void getParameterLabel(int32_t, char* label) { label[0] = '\0'; }
    virtual void getParameterDisplay(int32_t, char* text) { text[0] = '\0'; }
    virtual void getParameterName(int32_t, char* text) { text[0] = '\0'; }
    /// The state as a chunk owned by the effect; its size, or 0 (no chunks here).
    virtual int32_t getChunk(void** data, bool isPreset) {
        (void)data, (void)isPreset;
        return 0;
    }
    /// Takes a state chunk; 1 when taken, 0 when refused.
    virtual int32_t setChunk(const void* data, int32_t byteSize, bool isPreset) {
        (void)data, (void)byteSize, (void)isPreset;
        return 0;
    }
    virtual void setInitialDelay(int32_t delay) { effect_.initialDelay = delay; }
    /// The deprecated accumulating entry; this effect overwrites its outputs.
    virtual void process(float** inputs, float** outputs, int32_t frames) { processReplacing(inputs, outputs, frames); }

    void canProcessReplacing(bool state) { setFlag(vst::effFlagsCanReplacing, state); }
    void canDoubleReplacing(bool state) { setFlag(vst::effFlagsCanDoubleReplacing, state); }
    void programsAreChunks(bool state) { setFlag(vst::effFlagsProgramChunks, state); }
    void canMono(bool state) { setFlag(vst::effFlagsCanMono, state); }
    void isSynth(bool state) { setFlag(vst::effFlagsIsSynth, state); }
    void hasEditor(bool state) { setFlag(vst::effFlagsHasEditor, state); }
    void setNumInputs(int32_t inputs) { effect_.numInputs = inputs; }
    void setNumOutputs(int32_t outputs) { effect_.numOutputs = outputs; }
    void setUniqueID(int32_t id) { effect_.uniqueID = id; }

    vst::AEffect* getAeffect() { return &effect_; }
    EffectEditor* getEditor() const { return editor_; }
    /// Attaches an editor; the effect owns it from then on (and deletes a previous one).
    void setEditor(EffectEditor* editor);
    float getSampleRate() const { return sampleRate_; }
    int32_t getBlockSize() const { return blockSize_; }
    int32_t numPrograms() const { return numPrograms_; }
    int32_t numParams() const { return numParams_; }
    vst::audioMasterCallback hostCallback() const { return host_; }

    /// The effect object behind a record that this class filled, or null.
    static AudioEffect* fromRecord(vst::AEffect* effect);

protected:
    /// Calls the host, or answers 0 when there is none (the DirectX shell passes none).
    vst::VstIntPtr callHost(int32_t opcode, int32_t index = 0, vst::VstIntPtr value = 0, void* ptr = nullptr,
                            float opt = 0.0f);
    void setFlag(int32_t flag, bool state);

    vst::audioMasterCallback host_;
    EffectEditor* editor_ = nullptr;
    float sampleRate_ = 44100.0f;
    int32_t blockSize_ = 1024;
    int32_t numPrograms_;
    int32_t numParams_;
    /// Written by the host-side calls, read by any thread.
    std::atomic<int32_t> currentProgram_{0};
    vst::AEffect effect_;
};

} // namespace pellucer
