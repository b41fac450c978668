#pragma once

// The effect filter's pins: one input pin ("Input") and the output pins ("Output 1".."Output 8"),
// all carrying interleaved 32-bit float stereo. The media-type rules live here; the filter does
// the processing.

#include "dx/base/InputPinBase.h"
#include "dx/base/OutputPinBase.h"

namespace pellucer::dx {

class EffectFilter;

/// The media-type check both pins make before the effect's narrower one: audio, no temporal
/// compression, a WAVEFORMATEX of at least 18 bytes, 16-bit PCM (tag 1), 16-bit
/// WAVE_FORMAT_EXTENSIBLE or 32-bit IEEE float (tag 3), one or two channels. E_POINTER for a null
/// type, VFW_E_TYPE_NOT_ACCEPTED otherwise.
HRESULT checkAudioType(const AM_MEDIA_TYPE* type);

class EffectInputPin final : public InputPinBase {
public:
    explicit EffectInputPin(EffectFilter& filter);

    /// The audio check, the effect's format, and a valid transform to every connected output.
    /// A nested check on this pin (from inside one) answers S_OK.
    HRESULT checkMediaType(const AM_MEDIA_TYPE* type) override;

    /// Passed on to every connected output pin, after the pin's own handling.
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

protected:
    HRESULT receiveSample(IMediaSample* sample) override;
    /// Keeps the input wave format and tells the automation the stream's rate.
    HRESULT setMediaType(const AM_MEDIA_TYPE& type) override;
    /// Reconnects (through the graph) every output whose type no longer fits the new input.
    HRESULT completeConnect(IPin* receivePin) override;

private:
    EffectFilter& effectFilter_;
    bool checking_ = false;
};

class EffectOutputPin final : public OutputPinBase {
public:
    /// `id` is the pin's process-wide identifier.
    EffectOutputPin(EffectFilter& filter, const WCHAR* name, LONG id);

    LONG id() const { return id_; }

    /// The audio check, the effect's format, a connected input and a valid transform from the
    /// input's type. A nested check on this pin answers S_OK.
    HRESULT checkMediaType(const AM_MEDIA_TYPE* type) override;
    /// Position 0: the input's type as stereo. E_UNEXPECTED while the input is unconnected.
    HRESULT getMediaType(int position, AM_MEDIA_TYPE& type) override;

protected:
    /// Refused (VFW_E_NOT_CONNECTED) while the input is unconnected; keeps the output format.
    HRESULT setMediaType(const AM_MEDIA_TYPE& type) override;
    /// From the input allocator's properties (doubled for a mono input), as granted by
    /// `allocator`.
    HRESULT decideBufferSize(IMemAllocator* allocator, const ALLOCATOR_PROPERTIES& requested) override;
    IPin* seekingSourcePin() override;

private:
    EffectFilter& effectFilter_;
    const LONG id_;
    bool checking_ = false;
};

} // namespace pellucer::dx
