#include "dx/filter/VstEffectAdapter.h"

#include <cstring>
#include <new>

#include "core/AudioEffect.h"

namespace pellucer::dx {

namespace {

using namespace vst;

// The output channel buffers of every filter in the process, zero at load. Filters take turns
// with them under the processing mutex.
alignas(
    16) float gOutputBuffers[VstEffectAdapter::kOutputBufferCount][VstEffectAdapter::kChannelBufferFrames];
float* gOutputPointers[VstEffectAdapter::kOutputBufferCount] = {
    gOutputBuffers[0],  gOutputBuffers[1],  gOutputBuffers[2],  gOutputBuffers[3],  gOutputBuffers[4],
    gOutputBuffers[5],  gOutputBuffers[6],  gOutputBuffers[7],  gOutputBuffers[8],  gOutputBuffers[9],
    gOutputBuffers[10], gOutputBuffers[11], gOutputBuffers[12], gOutputBuffers[13], gOutputBuffers[14],
    gOutputBuffers[15], gOutputBuffers[16], gOutputBuffers[17], gOutputBuffers[18], gOutputBuffers[19],
};

// The adapter whose effect is being created on this thread: the effect may call its host before
// its record carries the adapter in its user field.
thread_local VstEffectAdapter* tConstructing = nullptr;

constexpr int32_t kIeeeFloatTag = WAVE_FORMAT_IEEE_FLOAT; // 3
constexpr int32_t kFloatBits = 32;
constexpr int32_t kStereo = 2;

} // namespace

VstEffectAdapter::~VstEffectAdapter() {
    if (effect_ != nullptr && effect_->dispatcher != nullptr) {
        effect_->dispatcher(effect_, effEditClose, 0, 0, nullptr, 0.0f);
        // effClose ends the effect object (and with it the record).
        effect_->dispatcher(effect_, effClose, 0, 0, nullptr, 0.0f);
    }
    effect_ = nullptr;
    delete[] inputChannels_;
}

HRESULT VstEffectAdapter::create(EntryPoint entry) {
    if (entry == nullptr)
        return E_FAIL;
    if (inputChannels_ == nullptr) {
        inputChannels_ = new (std::nothrow) float[2 * kChannelBufferFrames]();
        if (inputChannels_ == nullptr)
            return E_OUTOFMEMORY;
    }
    tConstructing = this;
    AEffect* effect = entry(&VstEffectAdapter::hostCallback);
    tConstructing = nullptr;
    // Something without the magic is not an effect we know how to talk to, nor to close.
    if (effect == nullptr || effect->magic != kEffectMagic)
        return E_FAIL;
    effect->user = this;
    effect_ = effect;
    return S_OK;
}

// -- formats ---------------------------------------------------------------------------------------

bool VstEffectAdapter::acceptsFormat(const WAVEFORMATEX& format) {
    return format.wFormatTag == kIeeeFloatTag && format.wBitsPerSample == kFloatBits &&
           format.nChannels == kStereo && format.nBlockAlign == kFrameBytes && format.nSamplesPerSec > 0;
}

void VstEffectAdapter::setEffectSampleRate(DWORD sampleRate) {
    if (static_cast<int64_t>(sampleRate) == lastSampleRate_)
        return;
    if (AudioEffect* object = AudioEffect::fromRecord(effect_))
        object->setSampleRate(static_cast<float>(sampleRate));
    lastSampleRate_ = sampleRate;
}

void VstEffectAdapter::setParameter(int32_t index, float value) {
    if (effect_ != nullptr && effect_->setParameter != nullptr)
        effect_->setParameter(effect_, index, value);
}

const float* VstEffectAdapter::outputBuffer(int32_t index) {
    return index >= 0 && index < kOutputBufferCount ? gOutputBuffers[index] : nullptr;
}

// -- processing ------------------------------------------------------------------------------------

void VstEffectAdapter::process(const BYTE* input, int32_t frames, const OutputDescriptor* outputs,
                               size_t outputCount) {
    if (effect_ == nullptr || effect_->processReplacing == nullptr || input == nullptr)
        return;
    for (int32_t done = 0; done < frames;) {
        const int32_t piece = frames - done < kMaxProcessFrames ? frames - done : kMaxProcessFrames;
        processPiece(input + static_cast<size_t>(done) * kFrameBytes, piece, done, outputs, outputCount);
        done += piece;
    }
}

void VstEffectAdapter::updateTimeInfo(int32_t frames) {
    int32_t tempo = 0;
    if (tempoSource_ != nullptr && tempoSource_->tempoAt(samplePosition_, tempo) && tempo > 0 &&
        tempo != lastTempoHundredths_) {
        lastTempoHundredths_ = tempo;
        timeInfo_.tempo = tempo * 0.01;
    }
    const double rate = static_cast<double>(outputFormat_.nSamplesPerSec);
    if (rate > 0.0)
        timeInfo_.ppqPos = static_cast<double>(samplePosition_) / (rate * 60.0) * timeInfo_.tempo;
    samplePosition_ += frames;
}

void VstEffectAdapter::processPiece(const BYTE* input, int32_t frames, int32_t doneFrames,
                                    const OutputDescriptor* outputs, size_t outputCount) {
    updateTimeInfo(frames);

    float* left = inputChannels_;
    float* right = inputChannels_ + kChannelBufferFrames;
    for (int32_t i = 0; i < frames; ++i) {
        float pair[2];
        // The sample's memory carries no alignment promise for floats.
        std::memcpy(pair, input + static_cast<size_t>(i) * kFrameBytes, sizeof(pair));
        left[i] = pair[0];
        right[i] = pair[1];
    }

    float* inputs[2] = {left, right};
    effect_->processReplacing(effect_, inputs, gOutputPointers, frames);

    const size_t outputAlign = outputFormat_.nBlockAlign;
    for (size_t o = 0; o < outputCount; ++o) {
        const OutputDescriptor& output = outputs[o];
        if (output.data == nullptr)
            continue;
        BYTE* target = output.data + output.byteOffset + static_cast<size_t>(doneFrames) * outputAlign;
        const int32_t pair = output.channelPair;
        // Pins beyond the buffers' count carry silence.
        const bool hasBuffers = pair >= 0 && 2 * pair + 1 < kOutputBufferCount;
        const float* outLeft = hasBuffers ? gOutputBuffers[2 * pair] : nullptr;
        const float* outRight = hasBuffers ? gOutputBuffers[2 * pair + 1] : nullptr;
        for (int32_t i = 0; i < frames; ++i) {
            const float frame[2] = {hasBuffers ? outLeft[i] : 0.0f, hasBuffers ? outRight[i] : 0.0f};
            std::memcpy(target + static_cast<size_t>(i) * outputAlign, frame, sizeof(frame));
        }
    }
}

// -- the effect's host -------------------------------------------------------------------------------

VstIntPtr VstEffectAdapter::hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                         void* ptr, float opt) {
    VstEffectAdapter* adapter = effect != nullptr ? static_cast<VstEffectAdapter*>(effect->user) : nullptr;
    if (adapter == nullptr)
        adapter = tConstructing;
    if (adapter != nullptr)
        return adapter->answerHost(opcode, index, value, ptr, opt);

    // No adapter known (an effect calling before it was given one): the fixed answers still hold.
    switch (opcode) {
    case audioMasterVersion:
        return kHostVersion;
    case audioMasterCurrentId:
        return kHostId;
    case audioMasterGetLanguage:
        return kHostLanguageEnglish;
    case audioMasterGetProductString:
        if (ptr != nullptr)
            static_cast<char*>(ptr)[0] = '\0';
        return 0;
    default:
        return 0;
    }
}

VstIntPtr VstEffectAdapter::answerHost(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                       float opt) {
    (void)value;
    switch (opcode) {
    case audioMasterAutomate: {
        ParameterCaptureListener* listener = captureListener_;
        if (listener == nullptr)
            return 0;
        if (index == kBeginCaptureIndex || index == kEndCaptureIndex) {
            // The gesture codes carry the parameter number in the value, truncated toward zero.
            const float parameter = opt;
            if (!(parameter > -1.0f && parameter < static_cast<float>(kHostParameterCount)))
                return 0;
            const auto number = static_cast<int32_t>(parameter);
            if (index == kBeginCaptureIndex)
                listener->beginCapture(number);
            else
                listener->endCapture(number);
        } else if (index >= 0 && index < kHostParameterCount) {
            listener->parameterChanged(index, opt);
        }
        return 0;
    }
    case audioMasterVersion:
        return kHostVersion;
    case audioMasterCurrentId:
        return kHostId;
    case audioMasterGetTime:
        return reinterpret_cast<VstIntPtr>(&timeInfo_);
    case audioMasterGetProductString:
        if (ptr != nullptr)
            static_cast<char*>(ptr)[0] = '\0';
        return 0;
    case audioMasterGetLanguage:
        return kHostLanguageEnglish;
    default:
        return 0;
    }
}

} // namespace pellucer::dx
