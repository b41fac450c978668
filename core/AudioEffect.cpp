#include "core/AudioEffect.h"

#include <cstring>

#include "core/EffectEditor.h"

namespace pellucer {

namespace {

vst::VstIntPtr dispatchThunk(vst::AEffect* e, vst::VstInt32 opcode, vst::VstInt32 index, vst::VstIntPtr value,
                             void* ptr, float opt) {
    AudioEffect* effect = AudioEffect::fromRecord(e);
    if (effect == nullptr)
        return 0;
    const vst::VstIntPtr answer = effect->dispatcher(opcode, index, value, ptr, opt);
    if (opcode == vst::effClose) {
        delete effect;
        return 1;
    }
    return answer;
}

void processThunk(vst::AEffect* e, float** inputs, float** outputs, vst::VstInt32 frames) {
    if (AudioEffect* effect = AudioEffect::fromRecord(e))
        effect->process(inputs, outputs, frames);
}

void processReplacingThunk(vst::AEffect* e, float** inputs, float** outputs, vst::VstInt32 frames) {
    if (AudioEffect* effect = AudioEffect::fromRecord(e))
        effect->processReplacing(inputs, outputs, frames);
}

void processDoubleThunk(vst::AEffect* e, double** inputs, double** outputs, vst::VstInt32 frames) {
    if (AudioEffect* effect = AudioEffect::fromRecord(e))
        effect->processDoubleReplacing(inputs, outputs, frames);
}

void setParameterThunk(vst::AEffect* e, vst::VstInt32 index, float value) {
    if (AudioEffect* effect = AudioEffect::fromRecord(e))
        effect->setParameter(index, value);
}

float getParameterThunk(vst::AEffect* e, vst::VstInt32 index) {
    AudioEffect* effect = AudioEffect::fromRecord(e);
    return effect != nullptr ? effect->getParameter(index) : 0.0f;
}

} // namespace

AudioEffect::AudioEffect(vst::audioMasterCallback host, int32_t numPrograms, int32_t numParams)
    : host_(host), numPrograms_(numPrograms), numParams_(numParams) {
    std::memset(&effect_, 0, sizeof(effect_));
    effect_.magic = vst::kEffectMagic;
    effect_.dispatcher = dispatchThunk;
    effect_.process = processThunk;
    effect_.setParameter = setParameterThunk;
    effect_.getParameter = getParameterThunk;
    effect_.numPrograms = numPrograms;
    effect_.numParams = numParams;
    effect_.numInputs = 1;
    effect_.numOutputs = 2;
    effect_.ioRatio = 1.0f;
    effect_.object = this;
    effect_.version = 1;
    effect_.processReplacing = processReplacingThunk;
    effect_.processDoubleReplacing = processDoubleThunk;
}

AudioEffect::~AudioEffect() { delete editor_; }

AudioEffect* AudioEffect::fromRecord(vst::AEffect* effect) {
    if (effect == nullptr || effect->magic != vst::kEffectMagic)
        return nullptr;
    return static_cast<AudioEffect*>(effect->object);
}

vst::VstIntPtr AudioEffect::dispatcher(int32_t opcode, int32_t index, vst::VstIntPtr value, void* ptr, float opt) {
    using namespace vst;
    auto* text = static_cast<char*>(ptr);
    switch (opcode) {
    case effOpen: open(); return 0;
    case effClose: close(); return 0;
    case effSetProgram:
        if (value >= 0 && value < numPrograms_)
            setProgram(static_cast<int32_t>(value));
        return 0;
    case effGetProgram: return getProgram();
    case effSetProgramName:
        if (text != nullptr)
            setProgramName(text);
        return 0;
    case effGetProgramName:
        if (text != nullptr)
            getProgramName(text);
        return 0;
    case effGetParamLabel:
        if (text != nullptr)
            getParameterLabel(index, text);
        return 0;
    case effGetParamDisplay:
        if (text != nullptr)
            getParameterDisplay(index, text);
        return 0;
    case effGetParamName:
        if (text != nullptr)
            getParameterName(index, text);
        return 0;
    case effSetSampleRate: setSampleRate(opt); return 0;
    case effSetBlockSize: setBlockSize(static_cast<int32_t>(value)); return 0;
    case effMainsChanged:
        if (value != 0)
            resume();
        else
            suspend();
        return 0;
    case effEditGetRect: return editor_ != nullptr && editor_->getRect(static_cast<ERect**>(ptr)) ? 1 : 0;
    case effEditOpen: return editor_ != nullptr && editor_->open(ptr) ? 1 : 0;
    case effEditClose:
        if (editor_ != nullptr)
            editor_->close();
        return 0;
    case effEditIdle:
        if (editor_ != nullptr)
            editor_->idle();
        return 0;
    case effIdentify: return fourCharCode('N', 'v', 'E', 'f');
    case effGetChunk: return getChunk(static_cast<void**>(ptr), index != 0);
    case effSetChunk: return setChunk(ptr, static_cast<int32_t>(value), index != 0);
    default: return 0;
    }
}

void AudioEffect::setParameterAutomated(int32_t index, float value) {
    setParameter(index, value);
    callHost(vst::audioMasterAutomate, index, 0, nullptr, value);
}

void AudioEffect::setEditor(EffectEditor* editor) {
    if (editor_ != editor)
        delete editor_;
    editor_ = editor;
}

vst::VstIntPtr AudioEffect::callHost(int32_t opcode, int32_t index, vst::VstIntPtr value, void* ptr, float opt) {
    return host_ != nullptr ? host_(&effect_, opcode, index, value, ptr, opt) : 0;
}

void AudioEffect::setFlag(int32_t flag, bool state) {
    if (state)
        effect_.flags |= flag;
    else
        effect_.flags &= ~flag;
}

} // namespace pellucer
