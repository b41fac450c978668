#pragma once

#include "core/AudioEffect.h"

namespace pellucer {

/// Extended layer: the dispatcher for the opcodes of the extended interface (25 to 79), host
/// queries such as the time information, and the plug-in properties with their default answers.
class AudioEffectX : public AudioEffect {
public:
    using AudioEffect::AudioEffect;

    vst::VstIntPtr dispatcher(int32_t opcode, int32_t index, vst::VstIntPtr value, void* ptr, float opt) override;

    /// Asks the host for its time information with the given request mask; null when the host
    /// has none (or there is no host).
    virtual vst::VstTimeInfo* getTimeInfo(int32_t filter);

    virtual bool getInputProperties(int32_t, vst::VstPinProperties*) { return false; }
    virtual bool getOutputProperties(int32_t, vst::VstPinProperties*) { return false; }
    virtual bool setSpeakerArrangement(const vst::VstSpeakerArrangement*, const vst::VstSpeakerArrangement*) {
        return false;
    }
    virtual bool getEffectName(char*) { return false; }
    virtual bool getVendorString(char*) { return false; }
    virtual bool getProductString(char*) { return false; }
    virtual int32_t getVendorVersion() { return 0; }
    /// 1 for a capability the effect has, -1 for one it has not, 0 when it does not know.
    virtual int32_t canDo(const char*) { return 0; }
    virtual bool copyProgram(int32_t) { return false; }
    /// The dispatcher answers effKeysRequired with the inverse of this, as the published
    /// interface always has: false here means "keys required".
    virtual bool keysRequired() { return false; }
};

} // namespace pellucer
