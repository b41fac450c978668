#include "dx/filter/EffectFilter.h"

#include <algorithm>
#include <cwchar>
#include <new>

#include "dx/filter/FilterSetup.h"
#include "dx/server/Identifiers.h"
#include "dx/automation/ParamAutomation.h"

// The module's own VST entry (vst/PluginEntry.cpp): the filter hosts the effect it hands out.
extern "C" vst::AEffect* VSTPluginMain(vst::audioMasterCallback host);

namespace pellucer::dx {

namespace {

// Every output pin ever created in the process gets the next number; numbers are never reused.
volatile LONG gNextPinId = 0;

constexpr int64_t kReferenceTimeUnitsPerSecond = 10000000; // 100-ns units

/// Holds the named processing mutex for a scope when it was obtained in time.
class ProcessingHold {
public:
    ProcessingHold(HANDLE mutex, DWORD timeoutMs) : mutex_(mutex) {
        if (mutex_ != nullptr) {
            // An abandoned mutex (a thread died holding it) is still ours now.
            const DWORD waited = WaitForSingleObject(mutex_, timeoutMs);
            held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
        }
    }
    ~ProcessingHold() { release(); }
    ProcessingHold(const ProcessingHold&) = delete;
    ProcessingHold& operator=(const ProcessingHold&) = delete;

    bool held() const { return held_; }
    void release() {
        if (held_)
            ReleaseMutex(mutex_);
        held_ = false;
    }

private:
    HANDLE mutex_;
    bool held_ = false;
};

} // namespace

// -- construction and destruction --------------------------------------------------------------------

EffectFilter::EffectFilter(const WCHAR* objectName, IUnknown* outer, HRESULT* result,
                           VstEffectAdapter::EntryPoint entry)
    : FilterBase(outer, kClsidEffectFilter, filterLockStorage_), sequencer_(outerUnknown(), adapter_),
      adapter_(filterLockStorage_) {
    (void)objectName; // a debugging name in other filter frameworks; nothing uses it here
    // The sequencer part built its MIDI queue and name provider first.
    HRESULT status = sequencer_.status();
    if (SUCCEEDED(status))
        status = adapter_.create(entry != nullptr ? entry : &VSTPluginMain);
    if (SUCCEEDED(status)) {
        adapter_.setTempoSource(&sequencer_);
        persistence_ = StreamPersistence(adapter_.effect());
        inputPin_ = new (std::nothrow) EffectInputPin(*this);
        if (inputPin_ == nullptr)
            status = E_OUTOFMEMORY;
    }
    if (SUCCEEDED(status)) {
        // The media-parameters object splits buffers at its change times and hears the
        // effect's editor gestures; it reads the effect's present values through its record.
        mediaParams_ = ParamAutomation::create(baseFilter(), adapter_.effect());
        if (mediaParams_ == nullptr) {
            status = E_OUTOFMEMORY;
        } else {
            automation_ = mediaParams_;
            adapter_.setCaptureListener(mediaParams_);
        }
    }
    if (SUCCEEDED(status)) {
        changeTimes_.reserve(256);
        changedParameters_.reserve(VstEffectAdapter::kHostParameterCount);
        for (int i = 0; i < kInitialOutputPins && SUCCEEDED(status); ++i) {
            status = addOutputPin(nullptr, nullptr);
            // The next format check sends its rate to the effect again.
            if (SUCCEEDED(status))
                adapter_.forgetSampleRate();
        }
    }
    if (SUCCEEDED(status)) {
        processingMutex_ = CreateMutexW(nullptr, FALSE, L"Pellucer");
        if (processingMutex_ == nullptr)
            status = HRESULT_FROM_WIN32(GetLastError());
    }
    if (result != nullptr && FAILED(status))
        *result = status;
}

EffectFilter::~EffectFilter() {
    if (processingMutex_ != nullptr)
        CloseHandle(processingMutex_);
    removeAllOutputPins();
    // Pins still listed were connected: nothing holds them once the filter ends, so they go.
    {
        PinListWrite write(*this);
        for (EffectOutputPin* pin : outputs_)
            delete pin;
        outputs_.clear();
    }
    // The effect's editor may still report gestures until the adapter closes it.
    adapter_.setCaptureListener(nullptr);
    automation_ = nullptr;
    if (mediaParams_ != nullptr)
        mediaParams_->releaseOwnerReference();
    mediaParams_ = nullptr;
    delete inputPin_;
    inputPin_ = nullptr;
}

IUnknown* createEffectFilter(IUnknown* outer, HRESULT* result) {
    HRESULT status = S_OK;
    auto* filter = new (std::nothrow) EffectFilter(nullptr, outer, &status);
    if (filter == nullptr)
        status = E_OUTOFMEMORY;
    else if (FAILED(status)) {
        delete filter;
        filter = nullptr;
    }
    if (result != nullptr)
        *result = status;
    return filter != nullptr ? filter->nonDelegatingUnknown() : nullptr;
}

// -- COM ---------------------------------------------------------------------------------------------

HRESULT EffectFilter::nonDelegatingQueryInterface(REFIID iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, kIidEffectAccess))
        return handOut(static_cast<IEffectAccess*>(this), object);
    if (IsEqualIID(iid, IID_ISpecifyPropertyPages))
        return handOut(static_cast<ISpecifyPropertyPages*>(this), object);
    if (IsEqualIID(iid, IID_IPersistStream))
        return handOut(static_cast<IPersistStream*>(this), object);
    if (IsEqualIID(iid, kIidSequencerIntegration) || IsEqualIID(iid, kIidSequencerIntegrationAlias))
        return handOut(static_cast<ISequencerIntegration*>(&sequencer_), object);
    if (IsEqualIID(iid, kIidTrackState))
        return handOut(static_cast<ITrackState*>(&sequencer_), object);
    if (IsEqualIID(iid, kIidHostCallbackHolder))
        return handOut(static_cast<IHostCallbackHolder*>(&sequencer_), object);
    // The media-parameters object's interfaces, while it exists.
    if (mediaParams_ != nullptr) {
        if (IsEqualIID(iid, kIidMediaParams))
            return handOut(static_cast<IMediaParamsPublished*>(mediaParams_), object);
        if (IsEqualIID(iid, kIidMediaParamInfo))
            return handOut(static_cast<IMediaParamInfo*>(mediaParams_), object);
        if (IsEqualIID(iid, kIidParamsSetUICallback))
            return handOut(static_cast<IMediaParamsSetUICallback*>(mediaParams_), object);
        if (IsEqualIID(iid, kIidParamsUICallback))
            return handOut(static_cast<IMediaParamsUICallback*>(mediaParams_), object);
    }
    return FilterBase::nonDelegatingQueryInterface(iid, object);
}

HRESULT EffectFilter::GetPages(CAUUID* pages) {
    if (pages == nullptr)
        return E_POINTER;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (pages->pElems == nullptr) {
        pages->cElems = 0;
        return E_OUTOFMEMORY;
    }
    pages->cElems = 1;
    pages->pElems[0] = kClsidPropertyPage;
    return S_OK;
}

HRESULT EffectFilter::GetClassID(CLSID* clsid) { return FilterBase::GetClassID(clsid); }

HRESULT EffectFilter::IsDirty() {
    LockGuard guard(filterLock());
    return persistence_.isDirty();
}

HRESULT EffectFilter::Load(IStream* stream) {
    LockGuard guard(filterLock());
    return persistence_.load(stream);
}

HRESULT EffectFilter::Save(IStream* stream, BOOL clearDirty) {
    LockGuard guard(filterLock());
    return persistence_.save(stream, clearDirty);
}

HRESULT EffectFilter::GetSizeMax(ULARGE_INTEGER* size) {
    LockGuard guard(filterLock());
    return persistence_.getSizeMax(size);
}

HRESULT EffectFilter::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }
HRESULT EffectFilter::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
HRESULT EffectFilter::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }
HRESULT EffectFilter::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
    return E_NOTIMPL;
}

HRESULT EffectFilter::GetEffect(vst::AEffect** effect) {
    if (effect == nullptr)
        return E_POINTER;
    *effect = adapter_.effect();
    return S_OK;
}

HRESULT EffectFilter::registerFilter(bool registering) {
    return registerFilterSetup(kEffectFilterSetup, registering);
}

// -- states --------------------------------------------------------------------------------------------

HRESULT EffectFilter::Stop() {
    LockGuard guard(filterLock());
    {
        PinListRead hold(*this);
        for (EffectOutputPin* pin : outputs_) {
            if (pin->isConnected()) {
                const HRESULT result = pin->inactive();
                if (FAILED(result))
                    return result;
            }
        }
    }
    return FilterBase::Stop();
}

HRESULT EffectFilter::Pause() {
    LockGuard guard(filterLock());
    {
        PinListRead hold(*this);
        for (EffectOutputPin* pin : outputs_) {
            if (pin->isConnected()) {
                const HRESULT result = pin->active();
                if (FAILED(result))
                    return result;
            }
        }
    }
    return FilterBase::Pause();
}

HRESULT EffectFilter::Run(REFERENCE_TIME start) {
    LockGuard guard(filterLock());
    {
        PinListRead hold(*this);
        for (EffectOutputPin* pin : outputs_) {
            if (pin->isConnected()) {
                const HRESULT result = pin->run(start);
                if (FAILED(result))
                    return result;
            }
        }
    }
    return FilterBase::Run(start);
}

// -- pins ------------------------------------------------------------------------------------------------

int EffectFilter::pinCount() { return inputPin_ != nullptr ? 1 + static_cast<int>(outputs_.size()) : 0; }

PinBase* EffectFilter::pinAt(int index) {
    if (inputPin_ == nullptr || index < 0)
        return nullptr;
    if (index == 0)
        return inputPin_;
    return outputPin(index - 1);
}

EffectOutputPin* EffectFilter::outputPin(int index) {
    return index >= 0 && index < static_cast<int>(outputs_.size()) ? outputs_[static_cast<size_t>(index)]
                                                                   : nullptr;
}

void EffectFilter::notifyPinChange(DWORD code, LONG count, HRESULT* result) {
    IPinChangeSink* sink = sequencer_.isConnected() ? sequencer_.pinChangeSink() : nullptr;
    if (sink == nullptr)
        return;
    const HRESULT answer = sink->OnPinsChanged(code, baseFilter(), count);
    if (result != nullptr)
        *result = answer;
}

HRESULT EffectFilter::addOutputPin(const WCHAR* name, LONG* pinId) {
    LockGuard guard(filterLock());
    const LONG newCount = static_cast<LONG>(outputs_.size()) + 1;
    HRESULT result = S_OK;
    notifyPinChange(IPinChangeSink::kPinsChanging, newCount, &result);
    if (FAILED(result))
        return result;

    WCHAR generated[32];
    if (name == nullptr) {
        _snwprintf(generated, 31, L"Output %d", static_cast<int>(newCount));
        generated[31] = L'\0';
        name = generated;
    }
    const LONG id = InterlockedIncrement(&gNextPinId) - 1;
    auto* pin = new (std::nothrow) EffectOutputPin(*this, name, id);
    if (pin == nullptr)
        return E_OUTOFMEMORY;
    try {
        PinListWrite write(*this);
        outputs_.reserve(outputs_.size() + 1);
        descriptors_.resize(outputs_.size() + 1);
        outputs_.push_back(pin);
    } catch (const std::bad_alloc&) {
        pin->detach();
        return E_OUTOFMEMORY;
    }
    if (pinId != nullptr)
        *pinId = id;
    notifyEvent(EC_GRAPH_CHANGED, 0, 0);
    notifyPinChange(IPinChangeSink::kPinsChanged, newCount, nullptr);
    return S_OK;
}

HRESULT EffectFilter::removeOutputPin(LONG pinId) {
    LockGuard guard(filterLock());
    const auto found = std::find_if(outputs_.begin(), outputs_.end(),
                                    [pinId](const EffectOutputPin* pin) { return pin->id() == pinId; });
    if (found == outputs_.end())
        return VFW_E_NOT_FOUND;
    const LONG newCount = static_cast<LONG>(outputs_.size()) - 1;
    HRESULT result = S_OK;
    notifyPinChange(IPinChangeSink::kPinsChanging, newCount, &result);
    if (FAILED(result))
        return result;
    EffectOutputPin* pin = *found;
    if (pin->isConnected())
        return E_UNEXPECTED;
    {
        PinListWrite write(*this);
        outputs_.erase(found);
        descriptors_.resize(outputs_.size());
    }
    pin->detach();
    notifyEvent(EC_GRAPH_CHANGED, 0, 0);
    notifyPinChange(IPinChangeSink::kPinsChanged, newCount, nullptr);
    return S_OK;
}

HRESULT EffectFilter::removeAllOutputPins() {
    LockGuard guard(filterLock());
    while (!outputs_.empty()) {
        const HRESULT result = removeOutputPin(outputs_.front()->id());
        if (FAILED(result))
            return result;
    }
    return S_OK;
}

EffectOutputPin* EffectFilter::findOutputPin(LONG pinId) {
    LockGuard guard(filterLock());
    for (EffectOutputPin* pin : outputs_)
        if (pin->id() == pinId)
            return pin;
    return nullptr;
}

int EffectFilter::outputPinCount() { return static_cast<int>(outputs_.size()); }

LONG EffectFilter::pinIdAt(int index) {
    const EffectOutputPin* pin = outputPin(index);
    return pin != nullptr ? pin->id() : -1;
}

HRESULT EffectFilter::hostTimeToSample(LONGLONG hostTime, LONGLONG* sample) {
    return sequencer_.hostTimeToSamples(hostTime, sample);
}

HRESULT EffectFilter::sampleToHostTime(LONGLONG sample, LONGLONG* hostTime) {
    return sequencer_.samplesToHostTime(sample, hostTime);
}

IHostTempoMap* EffectFilter::hostTempoMap() { return sequencer_.tempoMap(); }
IHostTimeConverter* EffectFilter::hostTimeConverter() { return sequencer_.timeConverter(); }

void EffectFilter::setAutomationSource(AutomationSource* source) {
    LockGuard guard(filterLock());
    automation_ = source;
    if (source != nullptr && inputPin_ != nullptr && inputPin_->isConnected())
        source->setSampleRate(static_cast<int32_t>(adapter_.inputFormat().nSamplesPerSec));
}

// -- media types -----------------------------------------------------------------------------------------

bool EffectFilter::validTransform(const AM_MEDIA_TYPE& in, const AM_MEDIA_TYPE& out) {
    if (checkAudioType(&in) != S_OK || checkAudioType(&out) != S_OK)
        return false;
    const WAVEFORMATEX& inFormat = *waveFormatOf(in);
    const WAVEFORMATEX& outFormat = *waveFormatOf(out);
    if (!VstEffectAdapter::acceptsFormat(inFormat) || !VstEffectAdapter::acceptsFormat(outFormat) ||
        inFormat.nSamplesPerSec != outFormat.nSamplesPerSec)
        return false;
    adapter_.setEffectSampleRate(inFormat.nSamplesPerSec);
    return true;
}

// -- stream control -------------------------------------------------------------------------------------

namespace {
// Passes a call to every connected output; the first failure is the answer, all get the call.
template <typename Call> HRESULT toEveryOutput(const std::vector<EffectOutputPin*>& outputs, Call call) {
    HRESULT result = S_OK;
    for (EffectOutputPin* pin : outputs) {
        if (!pin->isConnected())
            continue;
        const HRESULT answer = call(*pin);
        if (FAILED(answer) && SUCCEEDED(result))
            result = answer;
    }
    return result;
}
} // namespace

HRESULT EffectFilter::deliverEndOfStream() {
    // Under the filter lock: the end follows the last Receive of the same stream.
    LockGuard guard(filterLock());
    PinListRead hold(*this);
    return toEveryOutput(outputs_, [](EffectOutputPin& pin) { return pin.deliverEndOfStream(); });
}

HRESULT EffectFilter::deliverBeginFlush() {
    // Without the filter lock: a flush must reach downstream while Receive may be blocked there.
    PinListRead hold(*this);
    return toEveryOutput(outputs_, [](EffectOutputPin& pin) { return pin.deliverBeginFlush(); });
}

HRESULT EffectFilter::deliverEndFlush() {
    PinListRead hold(*this);
    return toEveryOutput(outputs_, [](EffectOutputPin& pin) { return pin.deliverEndFlush(); });
}

HRESULT EffectFilter::deliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    LockGuard guard(filterLock());
    PinListRead hold(*this);
    return toEveryOutput(outputs_,
                         [&](EffectOutputPin& pin) { return pin.deliverNewSegment(start, stop, rate); });
}

// -- streaming ------------------------------------------------------------------------------------------

int64_t EffectFilter::framesAt(REFERENCE_TIME time, int64_t sampleRate) {
    // time × rate / 10^7 without the product: whole seconds and the rest apart. Both parts
    // truncate the same way, so the sum equals the truncated exact quotient.
    const int64_t seconds = time / kReferenceTimeUnitsPerSecond;
    const int64_t rest = time % kReferenceTimeUnitsPerSecond;
    return seconds * sampleRate + rest * sampleRate / kReferenceTimeUnitsPerSecond;
}

void EffectFilter::releaseDescriptors(size_t count) {
    for (size_t i = 0; i < count && i < descriptors_.size(); ++i) {
        if (descriptors_[i].sample != nullptr)
            descriptors_[i].sample->Release();
        descriptors_[i].sample = nullptr;
        descriptors_[i].data = nullptr;
    }
}

HRESULT EffectFilter::receive(IMediaSample* sample) {
    if (sample == nullptr)
        return E_POINTER;
    ProcessingHold processing(processingMutex_, kProcessingWaitMs);
    if (!processing.held()) {
        // Another filter of the process kept the shared channel buffers for a whole second. The
        // buffer is dropped rather than processed without them: nothing is delivered, and the
        // stream goes on with the next one.
        return S_OK;
    }
    LockGuard guard(filterLock());
    // The filter may have stopped or begun flushing while we waited.
    HRESULT result = inputPin_->checkStreaming();
    if (result != S_OK)
        return result;

    const WAVEFORMATEX& inFormat = adapter_.inputFormat();
    const int64_t inputAlign = inFormat.nBlockAlign;
    const int64_t outputAlign = adapter_.outputFormat().nBlockAlign;

    // A discontinuity with a start time places the stream; its output samples carry that time.
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    bool timed = false;
    if (sample->IsDiscontinuity() == S_OK) {
        const HRESULT timeResult = sample->GetTime(&start, &stop);
        if (timeResult == S_OK || timeResult == VFW_S_NO_STOP_TIME) {
            timed = true;
            streamPosition_ = framesAt(start, inFormat.nSamplesPerSec);
            adapter_.setSamplePosition(streamPosition_);
        }
    }

    // Whole frames only: a partial frame at the end of an odd-sized buffer is left out.
    BYTE* input = nullptr;
    int32_t frames = 0;
    if (SUCCEEDED(sample->GetPointer(&input)) && input != nullptr && inputAlign > 0) {
        const long length = sample->GetActualDataLength();
        if (length > 0)
            frames = static_cast<int32_t>(length / inputAlign);
    }

    const bool syncPoint = sample->IsSyncPoint() == S_OK;
    const bool discontinuity = sample->IsDiscontinuity() == S_OK;
    const bool preroll = sample->IsPreroll() == S_OK;
    size_t active = 0;
    for (size_t k = 0; k < outputs_.size(); ++k) {
        EffectOutputPin* pin = outputs_[k];
        if (!pin->isConnected())
            continue;
        OutputDescriptor& output = descriptors_[active];
        output = OutputDescriptor{};
        result = pin->getDeliveryBuffer(&output.sample, nullptr, nullptr, 0);
        if (FAILED(result) || output.sample == nullptr) {
            output.sample = nullptr;
            releaseDescriptors(active);
            return FAILED(result) ? result : E_FAIL;
        }
        ++active;
        output.pinId = pin->id();
        output.channelPair = static_cast<int32_t>(k);
        // Recycled samples keep old settings: set every one.
        output.sample->SetTime(timed ? &start : nullptr, nullptr);
        output.sample->SetSyncPoint(syncPoint ? TRUE : FALSE);
        output.sample->SetDiscontinuity(discontinuity ? TRUE : FALSE);
        output.sample->SetPreroll(preroll ? TRUE : FALSE);
        result = output.sample->GetPointer(&output.data);
        if (FAILED(result) || output.data == nullptr) {
            releaseDescriptors(active);
            return FAILED(result) ? result : E_FAIL;
        }
        output.capacityFrames =
            outputAlign > 0 ? static_cast<int32_t>(output.sample->GetSize() / outputAlign) : 0;
    }

    for (size_t i = 0; i < active; ++i) {
        OutputDescriptor& output = descriptors_[i];
        if (output.capacityFrames < frames) {
            releaseDescriptors(active);
            return E_FAIL;
        }
        output.frames = frames;
        output.sample->SetActualDataLength(static_cast<long>(frames * outputAlign));
    }

    result = processBuffer(input, frames, active);
    if (FAILED(result)) {
        releaseDescriptors(active);
        return result;
    }
    // The shared channel buffers are done with; the samples are ours.
    processing.release();

    for (size_t i = 0; i < active; ++i) {
        OutputDescriptor& output = descriptors_[i];
        output.frames = frames;
        output.byteOffset = 0;
        EffectOutputPin* pin = outputs_[static_cast<size_t>(output.channelPair)];
        // A downstream refusal (stopping, flushing) does not concern the other outputs.
        pin->deliver(output.sample);
    }
    releaseDescriptors(active);
    streamPosition_ += frames;
    return S_OK;
}

void EffectFilter::pushChangedValues(int64_t position) {
    automation_->changedParameters(position, changedParameters_);
    for (const int32_t index : changedParameters_)
        adapter_.setParameter(index, automation_->effectiveValue(index));
}

void EffectFilter::runPiece(const BYTE* input, int32_t frames, size_t outputs, int32_t& done,
                            int64_t& position, int64_t nextPosition) {
    const int64_t inputAlign = adapter_.inputFormat().nBlockAlign;
    const int64_t outputAlign = adapter_.outputFormat().nBlockAlign;
    sequencer_.prepareMidi(position, frames);
    adapter_.process(input + done * inputAlign, frames, descriptors_.data(), outputs);
    for (size_t i = 0; i < outputs; ++i)
        descriptors_[i].byteOffset += static_cast<int32_t>(frames * outputAlign);
    done += frames;
    position = nextPosition;
    adapter_.advanceProcessedFrames(frames);
    sequencer_.retireMidi(position);
}

HRESULT EffectFilter::processBuffer(const BYTE* input, int32_t frames, size_t outputs) {
    if (input == nullptr || frames <= 0)
        return S_OK;
    int64_t position = streamPosition_;
    int32_t done = 0;
    const bool automated = automation_ != nullptr && automation_->anyAutomated();
    if (automated) {
        // Split at every change point so each value takes effect at its own frame.
        automation_->changeTimes(position, position + frames, changeTimes_);
        for (const int64_t time : changeTimes_) {
            if (time == position)
                continue;
            const int64_t chunk = std::min<int64_t>(time - position, frames - done);
            if (chunk <= 0)
                continue;
            pushChangedValues(position);
            runPiece(input, static_cast<int32_t>(chunk), outputs, done, position, time);
        }
    }
    if (done < frames) {
        if (automated)
            pushChangedValues(position);
        const int32_t rest = frames - done;
        runPiece(input, rest, outputs, done, position, position + rest);
    }
    return S_OK;
}

} // namespace pellucer::dx
