#include "core/AudioEffectX.h"

#include "core/EffectEditor.h"

namespace pellucer {

namespace {
constexpr int32_t kFirstExtendedOpcode = vst::effProcessEvents;
constexpr int32_t kLastExtendedOpcode = vst::effGetNumMidiOutputChannels;
constexpr int32_t kVstVersion = 2400;
} // namespace

vst::VstTimeInfo* AudioEffectX::getTimeInfo(int32_t filter) {
    return reinterpret_cast<vst::VstTimeInfo*>(callHost(vst::audioMasterGetTime, 0, filter));
}

vst::VstIntPtr AudioEffectX::dispatcher(int32_t opcode, int32_t index, vst::VstIntPtr value, void* ptr, float opt) {
    using namespace vst;
    if (opcode < kFirstExtendedOpcode || opcode > kLastExtendedOpcode)
        return AudioEffect::dispatcher(opcode, index, value, ptr, opt);
    auto* text = static_cast<char*>(ptr);
    switch (opcode) {
    case effCanBeAutomated: return 1;
    case effGetNumProgramCategories: return 1;
    case effCopyProgram: return copyProgram(index) ? 1 : 0;
    case effConnectInput: case effConnectOutput: return 1;
    case effGetInputProperties: return getInputProperties(index, static_cast<VstPinProperties*>(ptr)) ? 1 : 0;
    case effGetOutputProperties: return getOutputProperties(index, static_cast<VstPinProperties*>(ptr)) ? 1 : 0;
    case effGetPlugCategory: return kPlugCategUnknown;
    case effSetSpeakerArrangement:
        return setSpeakerArrangement(reinterpret_cast<const VstSpeakerArrangement*>(value),
                                     static_cast<const VstSpeakerArrangement*>(ptr))
                   ? 1
                   : 0;
    case effSetBlockSizeAndSampleRate:
        // Only remembered: the stages are prepared by effSetSampleRate.
        blockSize_ = static_cast<int32_t>(value);
        sampleRate_ = opt;
        return 1;
    case effGetEffectName: return text != nullptr && getEffectName(text) ? 1 : 0;
    case effGetVendorString: return text != nullptr && getVendorString(text) ? 1 : 0;
    case effGetProductString: return text != nullptr && getProductString(text) ? 1 : 0;
    case effGetVendorVersion: return getVendorVersion();
    case effCanDo: return text != nullptr ? canDo(text) : 0;
    case effKeysRequired: return keysRequired() ? 0 : 1;
    case effGetVstVersion: return kVstVersion;
    case effEditKeyDown: case effEditKeyUp: {
        if (editor_ == nullptr)
            return 0;
        VstKeyCode key{};
        key.character = index;
        key.virt = static_cast<unsigned char>(value);
        key.modifier = static_cast<unsigned char>(static_cast<int32_t>(opt));
        const bool used = opcode == effEditKeyDown ? editor_->onKeyDown(key) : editor_->onKeyUp(key);
        return used ? 1 : 0;
    }
    case effSetEditKnobMode:
        return editor_ != nullptr && editor_->setKnobMode(static_cast<int32_t>(value)) ? 1 : 0;
    case effGetCurrentMidiProgram: return -1;
    case effGetSpeakerArrangement: {
        if (auto** input = reinterpret_cast<VstSpeakerArrangement**>(value))
            *input = nullptr;
        if (auto** output = static_cast<VstSpeakerArrangement**>(ptr))
            *output = nullptr;
        return 0;
    }
    case effSetTotalSampleToProcess: return value;
    default: return 0;
    }
}

} // namespace pellucer
