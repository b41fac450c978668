#pragma once

// The effect filter: the DirectShow transform-style filter a DirectX host creates through the
// class factory. One input pin and eight output pins of interleaved 32-bit float stereo; the
// effect itself is the module's VST effect, created through VSTPluginMain and driven through its
// record by the VstEffectAdapter. Each input buffer is split at the automation's change points
// (sample-accurate envelopes), deinterleaved, processed and interleaved into every connected
// output's sample.
//
// Parts, created and destroyed together: the sequencer integration part, the effect adapter (which
// holds the filter lock), the DirectShow filter base, the input pin, the output pin list, the
// stream position and the processing mutex "Pellucer" shared by every filter in the process
// (they share the static output channel buffers).
//
// Threads: Receive runs on the upstream filter's streaming thread; state and pin changes on the
// graph's thread; the sequencer interfaces on the host's sequencer thread. All take the filter
// lock.

#include <cstdint>
#include <vector>

#include "dx/automation/AutomationHooks.h"
#include "dx/filter/EffectAccess.h"
#include "dx/filter/EffectPins.h"
#include "dx/midi/SequencerIntegration.h"
#include "dx/filter/StreamPersistence.h"
#include "dx/filter/VstEffectAdapter.h"
#include "dx/base/FilterBase.h"

namespace pellucer::dx {

class ParamAutomation;

/// The filter lock, constructed before the filter base and the parts that share it.
class FilterLockOwner {
protected:
    CriticalSection filterLockStorage_;
};

class EffectFilter final : private FilterLockOwner,
                           public FilterBase,
                           public ISpecifyPropertyPages,
                           public IPersistStream,
                           public IEffectAccess {
public:
    /// Output pins a new filter has.
    static constexpr int kInitialOutputPins = 8;
    /// How long Receive waits for the processing mutex.
    static constexpr DWORD kProcessingWaitMs = 1000;

    /// Builds the filter with `outer` as its outer object (null when not aggregated) and the
    /// effect from `entry` (the module's VSTPluginMain unless a test gives another). `*result`
    /// reports a failure: E_FAIL when the entry gives no effect, E_OUTOFMEMORY; a failed
    /// filter may only be destroyed.
    EffectFilter(const WCHAR* objectName, IUnknown* outer, HRESULT* result,
                 VstEffectAdapter::EntryPoint entry = nullptr);

    PELLUCER_DELEGATING_UNKNOWN
    /// In this order: IDispatch and the effect-access interface, ISpecifyPropertyPages,
    /// IPersistStream, the
    /// sequencer integration interface (two identifiers), the track-state interface, the
    /// host-callback holder, the media-parameters object's four interfaces (IMediaParams,
    /// IMediaParamInfo, the two UI-callback interfaces), then the filter base's interfaces.
    HRESULT nonDelegatingQueryInterface(REFIID iid, void** object) override;

    // IMediaFilter: every connected output pin first (inactive, active, run), then the filter.
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;

    // ISpecifyPropertyPages: exactly the filter's property page.
    HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pages) override;

    // IPersist (of IBaseFilter and IPersistStream alike): the filter's class.
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
    // IPersistStream: the effect's state chunk behind a version header, read and written under
    // the filter lock, so that a project never saves or loads half a buffer's parameters.
    HRESULT STDMETHODCALLTYPE IsDirty() override;
    HRESULT STDMETHODCALLTYPE Load(IStream* stream) override;
    HRESULT STDMETHODCALLTYPE Save(IStream* stream, BOOL clearDirty) override;
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* size) override;

    // IDispatch (of the effect-access interface): not implemented.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;
    // IEffectAccess
    HRESULT STDMETHODCALLTYPE GetEffect(vst::AEffect** effect) override;

    // -- the filter's own operations ------------------------------------------------------------
    /// Appends an output pin named `name` (null: "Output %d" with the count + 1) and reports its
    /// process-wide identifier. The pin-change sink (when connected) hears of it before and
    /// after; a failure it answers first stops the change.
    virtual HRESULT addOutputPin(const WCHAR* name, LONG* pinId);
    /// Removes the output pin `pinId`: E_UNEXPECTED while it is connected, VFW_E_NOT_FOUND when
    /// no pin has that identifier.
    virtual HRESULT removeOutputPin(LONG pinId);
    /// Removes every output pin, stopping with E_UNEXPECTED at the first connected one.
    virtual HRESULT removeAllOutputPins();
    /// The output pin `pinId` (no reference), or null.
    virtual EffectOutputPin* findOutputPin(LONG pinId);
    virtual int outputPinCount();
    /// Identifier of the output pin at `index`, -1 out of range.
    virtual LONG pinIdAt(int index);
    /// Host time ↔ stream frames through the sequencer host's converter (E_UNEXPECTED when no
    /// sequencer is connected).
    virtual HRESULT hostTimeToSample(LONGLONG hostTime, LONGLONG* sample);
    virtual HRESULT sampleToHostTime(LONGLONG sample, LONGLONG* hostTime);
    /// The sequencer host's services (no reference), or null.
    virtual IHostTempoMap* hostTempoMap();
    virtual IHostTimeConverter* hostTimeConverter();
    /// Closes the mutex, removes the pins, then ends the parts.
    ~EffectFilter() override;

    // -- FilterBase: the input pin first, then the outputs in creation order -----------------
    int pinCount() override;
    PinBase* pinAt(int index) override;

    // -- parts and state for the pins, the next parts of the filter and tests ------------------
    VstEffectAdapter& adapter() { return adapter_; }
    SequencerIntegration& sequencer() { return sequencer_; }
    EffectInputPin& inputPin() { return *inputPin_; }
    /// The output pin at `index` in creation order (no reference), or null.
    EffectOutputPin* outputPin(int index);
    /// Frame position of the next input frame in the stream.
    int64_t streamPosition() const { return streamPosition_; }
    /// The automation that splits buffers (the media-parameters object); null: one piece.
    void setAutomationSource(AutomationSource* source);
    AutomationSource* automationSource() const { return automation_; }
    /// The media-parameters object (IMediaParams, IMediaParamInfo, the UI callbacks); it is
    /// the automation source unless a test replaced it. Null only in a filter whose
    /// construction failed.
    ParamAutomation* mediaParams() const { return mediaParams_; }

    /// The input pin's Receive, after its streaming checks.
    HRESULT receive(IMediaSample* sample);
    /// True when input type `in` and output type `out` form a valid transform: both pass the
    /// audio and effect checks and share the sample rate, which the effect is given.
    bool validTransform(const AM_MEDIA_TYPE& in, const AM_MEDIA_TYPE& out);
    /// Stream control from the input pin to every connected output pin.
    HRESULT deliverEndOfStream();
    HRESULT deliverBeginFlush();
    HRESULT deliverEndFlush();
    HRESULT deliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

    /// Stream frame at reference time `time` (100-ns units) at `sampleRate`, truncated toward
    /// zero, in 64-bit integers that do not overflow for any time.
    static int64_t framesAt(REFERENCE_TIME time, int64_t sampleRate);

protected:
    /// Registers the filter with the system's filter mapper (IAMovieSetup).
    HRESULT registerFilter(bool registering) override;

private:
    void notifyPinChange(DWORD code, LONG count, HRESULT* result);
    HRESULT processBuffer(const BYTE* input, int32_t frames, size_t outputs);
    void runPiece(const BYTE* input, int32_t frames, size_t outputs, int32_t& done, int64_t& position,
                  int64_t nextPosition);
    void pushChangedValues(int64_t position);
    void releaseDescriptors(size_t count);

    SequencerIntegration sequencer_;
    VstEffectAdapter adapter_;
    StreamPersistence persistence_{nullptr}; // given the effect once the adapter has built it
    EffectInputPin* inputPin_ = nullptr;
    std::vector<EffectOutputPin*> outputs_;
    // One per output pin, filled for every input buffer.
    std::vector<OutputDescriptor> descriptors_;
    AutomationSource* automation_ = nullptr;
    ParamAutomation* mediaParams_ = nullptr; ///< the filter's reference
    std::vector<int64_t> changeTimes_;
    std::vector<int32_t> changedParameters_;
    int64_t streamPosition_ = 0;
    HANDLE processingMutex_ = nullptr;
};

/// The class factory's creation function for the effect filter: builds one filter with the given
/// outer object and answers its non-delegating IUnknown (reference count 0), or null with
/// *result saying why.
IUnknown* createEffectFilter(IUnknown* outer, HRESULT* result);

} // namespace pellucer::dx
