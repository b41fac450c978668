#include "dx/filter/EffectPins.h"

#include "dx/filter/EffectFilter.h"

namespace pellucer::dx {

namespace {

constexpr WORD kPcmTag = WAVE_FORMAT_PCM;               // 1
constexpr WORD kIeeeFloatTag = WAVE_FORMAT_IEEE_FLOAT;  // 3
constexpr WORD kExtensibleTag = WAVE_FORMAT_EXTENSIBLE; // 0xFFFE
/// Buffer size offered downstream when nothing upstream says better: 8192 stereo float frames.
constexpr long kDefaultBufferBytes = 8192 * VstEffectAdapter::kFrameBytes;

/// The effect's own narrowing after the audio check: float stereo as VstEffectAdapter takes it.
HRESULT checkEffectType(const AM_MEDIA_TYPE* type) {
    HRESULT result = checkAudioType(type);
    if (result != S_OK)
        return result;
    return VstEffectAdapter::acceptsFormat(*waveFormatOf(*type)) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

/// Clears a re-entrance flag when the check ends, whichever way.
class CheckScope {
public:
    explicit CheckScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~CheckScope() { flag_ = false; }
    CheckScope(const CheckScope&) = delete;
    CheckScope& operator=(const CheckScope&) = delete;

private:
    bool& flag_;
};

} // namespace

HRESULT checkAudioType(const AM_MEDIA_TYPE* type) {
    if (type == nullptr)
        return E_POINTER;
    if (!IsEqualGUID(type->majortype, MEDIATYPE_Audio) || type->bTemporalCompression)
        return VFW_E_TYPE_NOT_ACCEPTED;
    const WAVEFORMATEX* format = waveFormatOf(*type);
    if (format == nullptr)
        return VFW_E_TYPE_NOT_ACCEPTED;
    const bool sampleFormatKnown = (format->wFormatTag == kPcmTag && format->wBitsPerSample == 16) ||
                                   (format->wFormatTag == kExtensibleTag && format->wBitsPerSample == 16) ||
                                   (format->wFormatTag == kIeeeFloatTag && format->wBitsPerSample == 32);
    if (!sampleFormatKnown || format->nChannels < 1 || format->nChannels > 2)
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

// -- input pin -----------------------------------------------------------------------------------

EffectInputPin::EffectInputPin(EffectFilter& filter)
    : InputPinBase(filter, L"Input"), effectFilter_(filter) {}

HRESULT EffectInputPin::checkMediaType(const AM_MEDIA_TYPE* type) {
    if (type == nullptr)
        return E_POINTER;
    LockGuard guard(lock_);
    if (checking_)
        return S_OK;
    CheckScope scope(checking_);
    HRESULT result = checkEffectType(type);
    if (result != S_OK)
        return result;
    const int outputs = effectFilter_.outputPinCount();
    for (int i = 0; i < outputs; ++i) {
        EffectOutputPin* output = effectFilter_.outputPin(i);
        if (output != nullptr && output->isConnected() &&
            !effectFilter_.validTransform(*type, output->connectionType()))
            return VFW_E_TYPE_NOT_ACCEPTED;
    }
    return S_OK;
}

HRESULT EffectInputPin::setMediaType(const AM_MEDIA_TYPE& type) {
    const HRESULT result = InputPinBase::setMediaType(type);
    if (FAILED(result))
        return result;
    if (const WAVEFORMATEX* format = waveFormatOf(type)) {
        effectFilter_.adapter().setInputFormat(*format);
        if (AutomationSource* automation = effectFilter_.automationSource())
            automation->setSampleRate(static_cast<int32_t>(format->nSamplesPerSec));
    }
    return S_OK;
}

HRESULT EffectInputPin::completeConnect(IPin* receivePin) {
    HRESULT result = InputPinBase::completeConnect(receivePin);
    if (FAILED(result))
        return result;
    const int outputs = effectFilter_.outputPinCount();
    for (int i = 0; i < outputs; ++i) {
        EffectOutputPin* output = effectFilter_.outputPin(i);
        if (output == nullptr || !output->isConnected() ||
            effectFilter_.validTransform(connectionType(), output->connectionType()))
            continue;
        IFilterGraph* graph = filter_.graph();
        if (graph == nullptr)
            return VFW_E_NOT_IN_GRAPH;
        result = graph->Reconnect(output);
        if (FAILED(result))
            return result;
    }
    return S_OK;
}

HRESULT EffectInputPin::receiveSample(IMediaSample* sample) { return effectFilter_.receive(sample); }

HRESULT EffectInputPin::EndOfStream() {
    const HRESULT result = InputPinBase::EndOfStream();
    if (result != S_OK)
        return result;
    return effectFilter_.deliverEndOfStream();
}

HRESULT EffectInputPin::BeginFlush() {
    InputPinBase::BeginFlush();
    return effectFilter_.deliverBeginFlush();
}

HRESULT EffectInputPin::EndFlush() {
    const HRESULT result = effectFilter_.deliverEndFlush();
    InputPinBase::EndFlush();
    return result;
}

HRESULT EffectInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    InputPinBase::NewSegment(start, stop, rate);
    return effectFilter_.deliverNewSegment(start, stop, rate);
}

// -- output pins -----------------------------------------------------------------------------------

EffectOutputPin::EffectOutputPin(EffectFilter& filter, const WCHAR* name, LONG id)
    : OutputPinBase(filter, name), effectFilter_(filter), id_(id) {}

HRESULT EffectOutputPin::checkMediaType(const AM_MEDIA_TYPE* type) {
    if (type == nullptr)
        return E_POINTER;
    LockGuard guard(lock_);
    if (checking_)
        return S_OK;
    CheckScope scope(checking_);
    const HRESULT result = checkEffectType(type);
    if (result != S_OK)
        return result;
    EffectInputPin& input = effectFilter_.inputPin();
    if (!input.isConnected())
        return VFW_E_NOT_CONNECTED;
    return effectFilter_.validTransform(input.connectionType(), *type) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT EffectOutputPin::getMediaType(int position, AM_MEDIA_TYPE& type) {
    LockGuard guard(lock_);
    EffectInputPin& input = effectFilter_.inputPin();
    if (!input.isConnected())
        return E_UNEXPECTED;
    if (position < 0)
        return E_INVALIDARG;
    if (position > 0)
        return VFW_S_NO_MORE_ITEMS;
    const HRESULT result = copyMediaType(type, input.connectionType());
    if (FAILED(result))
        return result;
    if (type.pbFormat != nullptr && type.cbFormat >= sizeof(WAVEFORMATEX))
        reinterpret_cast<WAVEFORMATEX*>(type.pbFormat)->nChannels = 2;
    return S_OK;
}

HRESULT EffectOutputPin::setMediaType(const AM_MEDIA_TYPE& type) {
    if (!effectFilter_.inputPin().isConnected())
        return VFW_E_NOT_CONNECTED;
    const HRESULT result = OutputPinBase::setMediaType(type);
    if (FAILED(result))
        return result;
    if (const WAVEFORMATEX* format = waveFormatOf(type))
        effectFilter_.adapter().setOutputFormat(*format);
    return S_OK;
}

HRESULT EffectOutputPin::decideBufferSize(IMemAllocator* allocator, const ALLOCATOR_PROPERTIES& requested) {
    if (allocator == nullptr)
        return E_POINTER;
    ALLOCATOR_PROPERTIES wanted = requested;
    EffectInputPin& input = effectFilter_.inputPin();
    IMemAllocator* inputAllocator = input.allocator();
    if (input.isConnected() && inputAllocator != nullptr) {
        ALLOCATOR_PROPERTIES upstream{};
        if (SUCCEEDED(inputAllocator->GetProperties(&upstream))) {
            wanted = upstream;
            // A mono input's buffers hold half the bytes of the stereo output's.
            const WAVEFORMATEX* in = waveFormatOf(input.connectionType());
            const WAVEFORMATEX* out = waveFormatOf(connectionType());
            if (in != nullptr && out != nullptr && in->nChannels == 1 && out->nChannels == 2)
                wanted.cbBuffer *= 2;
        }
    }
    if (wanted.cBuffers < 1)
        wanted.cBuffers = 1;
    if (wanted.cbBuffer < 1)
        wanted.cbBuffer = kDefaultBufferBytes;
    if (wanted.cbAlign < 1)
        wanted.cbAlign = 1;
    ALLOCATOR_PROPERTIES granted{};
    return allocator->SetProperties(&wanted, &granted);
}

IPin* EffectOutputPin::seekingSourcePin() { return &effectFilter_.inputPin(); }

} // namespace pellucer::dx
