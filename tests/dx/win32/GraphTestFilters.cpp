#include "tests/dx/win32/GraphTestFilters.h"

#include <algorithm>
#include <cstring>

namespace pellucer::dx::graphtest {

const GUID kSubFormatIeeeFloat = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
const GUID kSubFormatPcm = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

namespace {

// Our own class ids, so that the graph can tell the test filters apart in its logs.
const CLSID kClsidTestSource = {0x5c1e2f70, 0x3d0b, 0x4a57, {0x9a, 0x1e, 0x61, 0x0c, 0x2b, 0x7e, 0x44, 0x01}};
const CLSID kClsidTestSink = {0x5c1e2f70, 0x3d0b, 0x4a57, {0x9a, 0x1e, 0x61, 0x0c, 0x2b, 0x7e, 0x44, 0x02}};

LPWSTR taskString(const std::wstring& text) {
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (copy != nullptr)
        std::memcpy(copy, text.c_str(), bytes);
    return copy;
}

// IEnumPins over a fixed list of pins (each counted while the enumerator lives).
class PinEnumerator final : public IEnumPins {
public:
    PinEnumerator(std::vector<IPin*> pins, size_t position) : pins_(std::move(pins)), position_(position) {
        for (IPin* pin : pins_)
            pin->AddRef();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumPins)) {
            *object = static_cast<IEnumPins*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override {
        if (pins == nullptr || (count > 1 && fetched == nullptr))
            return E_POINTER;
        ULONG n = 0;
        while (n < count && position_ < pins_.size()) {
            pins[n] = pins_[position_++];
            pins[n]->AddRef();
            ++n;
        }
        if (fetched != nullptr)
            *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        position_ = std::min<size_t>(pins_.size(), position_ + count);
        return position_ < pins_.size() ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumPins** copy) override {
        if (copy == nullptr)
            return E_POINTER;
        *copy = new PinEnumerator(pins_, position_);
        return S_OK;
    }

private:
    ~PinEnumerator() {
        for (IPin* pin : pins_)
            pin->Release();
    }
    std::atomic<ULONG> references_{1};
    std::vector<IPin*> pins_;
    size_t position_;
};

// IEnumMediaTypes over a fixed list of types.
class TypeEnumerator final : public IEnumMediaTypes {
public:
    TypeEnumerator(std::vector<MediaType> types, size_t position) : types_(std::move(types)), position_(position) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumMediaTypes)) {
            *object = static_cast<IEnumMediaTypes*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override {
        if (types == nullptr || (count > 1 && fetched == nullptr))
            return E_POINTER;
        ULONG n = 0;
        while (n < count && position_ < types_.size()) {
            types[n] = types_[position_].newCopy();
            if (types[n] == nullptr)
                break;
            ++position_;
            ++n;
        }
        if (fetched != nullptr)
            *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        position_ = std::min<size_t>(types_.size(), position_ + count);
        return position_ < types_.size() ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** copy) override {
        if (copy == nullptr)
            return E_POINTER;
        *copy = new TypeEnumerator(types_, position_);
        return S_OK;
    }

private:
    ~TypeEnumerator() = default;
    std::atomic<ULONG> references_{1};
    std::vector<MediaType> types_;
    size_t position_;
};

bool sameType(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b) {
    return IsEqualGUID(a.majortype, b.majortype) && IsEqualGUID(a.subtype, b.subtype) &&
           IsEqualGUID(a.formattype, b.formattype) && a.cbFormat == b.cbFormat &&
           (a.cbFormat == 0 || std::memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0);
}

} // namespace

// ---- media types --------------------------------------------------------------------------------

HRESULT copyMediaType(AM_MEDIA_TYPE* to, const AM_MEDIA_TYPE& from) {
    *to = from;
    to->pbFormat = nullptr;
    to->cbFormat = 0;
    if (from.cbFormat != 0 && from.pbFormat != nullptr) {
        to->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(from.cbFormat));
        if (to->pbFormat == nullptr)
            return E_OUTOFMEMORY;
        std::memcpy(to->pbFormat, from.pbFormat, from.cbFormat);
        to->cbFormat = from.cbFormat;
    }
    if (to->pUnk != nullptr)
        to->pUnk->AddRef();
    return S_OK;
}

void freeMediaTypeContents(AM_MEDIA_TYPE& type) {
    if (type.pbFormat != nullptr)
        CoTaskMemFree(type.pbFormat);
    if (type.pUnk != nullptr)
        type.pUnk->Release();
    type.pbFormat = nullptr;
    type.cbFormat = 0;
    type.pUnk = nullptr;
}

void deleteMediaType(AM_MEDIA_TYPE* type) {
    if (type == nullptr)
        return;
    freeMediaTypeContents(*type);
    CoTaskMemFree(type);
}

MediaType& MediaType::operator=(const MediaType& other) {
    if (this != &other) {
        clear();
        assign(other.type_);
    }
    return *this;
}

void MediaType::assign(const AM_MEDIA_TYPE& type) {
    if (FAILED(copyMediaType(&type_, type)))
        type_ = AM_MEDIA_TYPE{};
}

void MediaType::clear() {
    freeMediaTypeContents(type_);
    type_ = AM_MEDIA_TYPE{};
}

const WAVEFORMATEX* MediaType::wave() const {
    if (type_.cbFormat < sizeof(WAVEFORMATEX) - sizeof(WORD) || type_.pbFormat == nullptr)
        return nullptr;
    return reinterpret_cast<const WAVEFORMATEX*>(type_.pbFormat);
}

AM_MEDIA_TYPE* MediaType::newCopy() const {
    auto* copy = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (copy == nullptr)
        return nullptr;
    if (FAILED(copyMediaType(copy, type_))) {
        CoTaskMemFree(copy);
        return nullptr;
    }
    return copy;
}

namespace {

MediaType audioType(const GUID& subtype, const void* format, ULONG formatBytes, ULONG sampleBytes) {
    AM_MEDIA_TYPE type{};
    type.majortype = MEDIATYPE_Audio;
    type.subtype = subtype;
    type.bFixedSizeSamples = TRUE;
    type.bTemporalCompression = FALSE;
    type.lSampleSize = sampleBytes;
    type.formattype = FORMAT_WaveFormatEx;
    type.cbFormat = formatBytes;
    type.pbFormat = static_cast<BYTE*>(const_cast<void*>(format));
    return MediaType(type); // copies the format block
}

} // namespace

MediaType waveType(WORD formatTag, WORD channels, WORD bitsPerSample, DWORD sampleRate) {
    WAVEFORMATEX format{};
    format.wFormatTag = formatTag;
    format.nChannels = channels;
    format.nSamplesPerSec = sampleRate;
    format.wBitsPerSample = bitsPerSample;
    format.nBlockAlign = static_cast<WORD>(channels * bitsPerSample / 8);
    format.nAvgBytesPerSec = sampleRate * format.nBlockAlign;
    format.cbSize = 0;
    const GUID subtype = formatTag == WAVE_FORMAT_IEEE_FLOAT ? MEDIASUBTYPE_IEEE_FLOAT : MEDIASUBTYPE_PCM;
    return audioType(subtype, &format, sizeof(format), format.nBlockAlign);
}

MediaType floatType(DWORD sampleRate, WORD channels) {
    return waveType(WAVE_FORMAT_IEEE_FLOAT, channels, 32, sampleRate);
}

MediaType pcmType(DWORD sampleRate, WORD channels, WORD bitsPerSample) {
    return waveType(WAVE_FORMAT_PCM, channels, bitsPerSample, sampleRate);
}

MediaType extensibleType(DWORD sampleRate, WORD channels, WORD bitsPerSample, bool isFloat) {
    WAVEFORMATEXTENSIBLE format{};
    format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    format.Format.nChannels = channels;
    format.Format.nSamplesPerSec = sampleRate;
    format.Format.wBitsPerSample = bitsPerSample;
    format.Format.nBlockAlign = static_cast<WORD>(channels * bitsPerSample / 8);
    format.Format.nAvgBytesPerSec = sampleRate * format.Format.nBlockAlign;
    format.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    format.Samples.wValidBitsPerSample = bitsPerSample;
    format.dwChannelMask = channels == 2 ? (SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT) : SPEAKER_FRONT_CENTER;
    format.SubFormat = isFloat ? kSubFormatIeeeFloat : kSubFormatPcm;
    return audioType(isFloat ? MEDIASUBTYPE_IEEE_FLOAT : MEDIASUBTYPE_PCM, &format, sizeof(format),
                     format.Format.nBlockAlign);
}

// ---- pins -------------------------------------------------------------------------------------

TestPinBase::TestPinBase(TestFilter& filter, const wchar_t* name, PIN_DIRECTION direction)
    : filter_(filter), name_(name), direction_(direction) {}

TestPinBase::~TestPinBase() { dropConnection(); }

ULONG STDMETHODCALLTYPE TestPinBase::AddRef() { return filter_.AddRef(); }
ULONG STDMETHODCALLTYPE TestPinBase::Release() { return filter_.Release(); }

HRESULT STDMETHODCALLTYPE TestPinBase::ConnectedTo(IPin** pin) {
    if (pin == nullptr)
        return E_POINTER;
    std::lock_guard<std::mutex> guard(lock_);
    *pin = connected_;
    if (connected_ == nullptr)
        return VFW_E_NOT_CONNECTED;
    connected_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TestPinBase::ConnectionMediaType(AM_MEDIA_TYPE* type) {
    if (type == nullptr)
        return E_POINTER;
    std::lock_guard<std::mutex> guard(lock_);
    if (connected_ == nullptr) {
        *type = AM_MEDIA_TYPE{};
        return VFW_E_NOT_CONNECTED;
    }
    return copyMediaType(type, type_.get());
}

HRESULT STDMETHODCALLTYPE TestPinBase::QueryPinInfo(PIN_INFO* info) {
    if (info == nullptr)
        return E_POINTER;
    info->pFilter = &filter_;
    filter_.AddRef();
    info->dir = direction_;
    lstrcpynW(info->achName, name_.c_str(), MAX_PIN_NAME);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TestPinBase::QueryDirection(PIN_DIRECTION* direction) {
    if (direction == nullptr)
        return E_POINTER;
    *direction = direction_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TestPinBase::QueryId(LPWSTR* id) {
    if (id == nullptr)
        return E_POINTER;
    *id = taskString(name_);
    return *id != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE TestPinBase::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE TestPinBase::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return S_OK; }

MediaType TestPinBase::connectionType() const {
    std::lock_guard<std::mutex> guard(lock_);
    return type_;
}

HRESULT TestPinBase::dropConnection() {
    IPin* old = nullptr;
    {
        std::lock_guard<std::mutex> guard(lock_);
        old = connected_;
        connected_ = nullptr;
        type_ = MediaType();
    }
    if (old == nullptr)
        return S_FALSE;
    old->Release();
    return S_OK;
}

// ---- filter -------------------------------------------------------------------------------------

TestFilter::TestFilter(const wchar_t* name, const CLSID& clsid) : name_(name), clsid_(clsid) {}

TestFilter::~TestFilter() {
    if (clock_ != nullptr)
        clock_->Release();
}

HRESULT STDMETHODCALLTYPE TestFilter::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPersist) || IsEqualIID(iid, IID_IMediaFilter) ||
        IsEqualIID(iid, IID_IBaseFilter)) {
        *object = static_cast<IBaseFilter*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE TestFilter::AddRef() { return ++references_; }

ULONG STDMETHODCALLTYPE TestFilter::Release() {
    const ULONG left = --references_;
    if (left == 0)
        delete this;
    return left;
}

HRESULT STDMETHODCALLTYPE TestFilter::GetClassID(CLSID* clsid) {
    if (clsid == nullptr)
        return E_POINTER;
    *clsid = clsid_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TestFilter::Stop() {
    const FILTER_STATE from = state_.load();
    const HRESULT hr = changingState(from, State_Stopped);
    if (SUCCEEDED(hr))
        state_ = State_Stopped;
    return hr;
}

HRESULT STDMETHODCALLTYPE TestFilter::Pause() {
    const FILTER_STATE from = state_.load();
    const HRESULT hr = changingState(from, State_Paused);
    if (SUCCEEDED(hr))
        state_ = State_Paused;
    return hr;
}

HRESULT STDMETHODCALLTYPE TestFilter::Run(REFERENCE_TIME) {
    FILTER_STATE from = state_.load();
    if (from == State_Stopped) {
        const HRESULT hr = Pause();
        if (FAILED(hr))
            return hr;
        from = State_Paused;
    }
    const HRESULT hr = changingState(from, State_Running);
    if (SUCCEEDED(hr))
        state_ = State_Running;
    return hr;
}

HRESULT STDMETHODCALLTYPE TestFilter::GetState(DWORD, FILTER_STATE* state) {
    if (state == nullptr)
        return E_POINTER;
    *state = state_.load();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TestFilter::SetSyncSource(IReferenceClock* clock) {
    std::lock_guard<std::mutex> guard(lock_);
    if (clock != nullptr)
        clock->AddRef();
    if (clock_ != nullptr)
        clock_->Release();
    clock_ = clock;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TestFilter::GetSyncSource(IReferenceClock** clock) {
    if (clock == nullptr)
        return E_POINTER;
    std::lock_guard<std::mutex> guard(lock_);
    *clock = clock_;
    if (clock_ != nullptr)
        clock_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TestFilter::EnumPins(IEnumPins** pins) {
    if (pins == nullptr)
        return E_POINTER;
    *pins = new PinEnumerator({&pin()}, 0);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TestFilter::FindPin(LPCWSTR id, IPin** found) {
    if (id == nullptr || found == nullptr)
        return E_POINTER;
    LPWSTR name = nullptr;
    *found = nullptr;
    if (FAILED(pin().QueryId(&name)))
        return E_OUTOFMEMORY;
    const bool same = lstrcmpW(name, id) == 0;
    CoTaskMemFree(name);
    if (!same)
        return VFW_E_NOT_FOUND;
    *found = &pin();
    (*found)->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TestFilter::QueryFilterInfo(FILTER_INFO* info) {
    if (info == nullptr)
        return E_POINTER;
    std::lock_guard<std::mutex> guard(lock_);
    lstrcpynW(info->achName, graphName_.empty() ? name_.c_str() : graphName_.c_str(), MAX_FILTER_NAME);
    info->pGraph = graph_;
    if (graph_ != nullptr)
        graph_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TestFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    std::lock_guard<std::mutex> guard(lock_);
    graph_ = graph; // the graph holds the filter; the filter does not hold the graph
    graphName_ = name != nullptr ? name : L"";
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TestFilter::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

// ---- source -------------------------------------------------------------------------------------

StreamPlan StreamPlan::frames(const std::vector<float>& interleaved, int channels, const std::vector<uint32_t>& sizes) {
    StreamPlan plan;
    plan.bytes.resize(interleaved.size() * sizeof(float));
    std::memcpy(plan.bytes.data(), interleaved.data(), plan.bytes.size());
    const size_t totalFrames = interleaved.size() / static_cast<size_t>(channels);
    size_t done = 0;
    for (size_t k = 0; done < totalFrames && !sizes.empty(); ++k) {
        const size_t n = std::min<size_t>(sizes[k % sizes.size()], totalFrames - done);
        SampleSpec spec;
        spec.bytes = static_cast<uint32_t>(n * static_cast<size_t>(channels) * sizeof(float));
        plan.samples.push_back(spec);
        done += n;
    }
    return plan;
}

uint32_t StreamPlan::largestSample() const {
    uint32_t most = 0;
    for (const SampleSpec& s : samples)
        most = std::max(most, s.bytes);
    return most;
}

SourcePin::SourcePin(TestSource& source) : TestPinBase(source, L"Out", PINDIR_OUTPUT), source_(source) {}

SourcePin::~SourcePin() { releaseTransport(); }

HRESULT STDMETHODCALLTYPE SourcePin::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPin)) {
        *object = static_cast<IPin*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT SourcePin::tryType(IPin* receiver, const AM_MEDIA_TYPE& type) {
    const HRESULT hr = receiver->ReceiveConnection(this, &type);
    {
        std::lock_guard<std::mutex> guard(source_.recordLock_);
        source_.receiveConnectionResults_.push_back(hr);
    }
    if (FAILED(hr))
        return hr;
    {
        std::lock_guard<std::mutex> guard(lock_);
        connected_ = receiver;
        connected_->AddRef();
        type_ = MediaType(type);
    }
    return S_OK;
}

HRESULT SourcePin::decideAllocator() {
    IPin* receiver = connectedPin();
    HRESULT hr = receiver->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&memInput_));
    if (FAILED(hr))
        return hr;

    ALLOCATOR_PROPERTIES wanted{};
    memInput_->GetAllocatorRequirements(&wanted); // optional: zeros when the pin has none
    ALLOCATOR_PROPERTIES request{};
    request.cBuffers = std::max(wanted.cBuffers, source_.bufferCount_);
    request.cbBuffer = static_cast<long>(source_.bufferBytes_);
    request.cbAlign = std::max<long>(wanted.cbAlign, 1);
    request.cbPrefix = wanted.cbPrefix;

    // The downstream pin's allocator first, our own memory allocator if it has none.
    if (FAILED(memInput_->GetAllocator(&allocator_)) || allocator_ == nullptr) {
        hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                              reinterpret_cast<void**>(&allocator_));
        if (FAILED(hr))
            return hr;
    }
    ALLOCATOR_PROPERTIES granted{};
    hr = allocator_->SetProperties(&request, &granted);
    if (FAILED(hr))
        return hr;
    if (granted.cbBuffer < request.cbBuffer)
        return E_FAIL;
    return memInput_->NotifyAllocator(allocator_, FALSE);
}

void SourcePin::releaseTransport() {
    if (memInput_ != nullptr)
        memInput_->Release();
    memInput_ = nullptr;
    if (allocator_ != nullptr)
        allocator_->Release();
    allocator_ = nullptr;
}

HRESULT STDMETHODCALLTYPE SourcePin::Connect(IPin* receiver, const AM_MEDIA_TYPE* type) {
    if (receiver == nullptr)
        return E_POINTER;
    if (isConnected())
        return VFW_E_ALREADY_CONNECTED;
    if (source_.state() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    {
        std::lock_guard<std::mutex> guard(source_.recordLock_);
        source_.receiveConnectionResults_.clear();
    }

    // A fully given type is the only candidate; a partial one (or none) picks among ours.
    std::vector<MediaType> candidates;
    const bool complete = type != nullptr && !IsEqualGUID(type->majortype, GUID_NULL) &&
                          !IsEqualGUID(type->subtype, GUID_NULL) && !IsEqualGUID(type->formattype, GUID_NULL);
    if (complete) {
        candidates.emplace_back(*type);
    } else {
        for (const MediaType& offered : source_.offered_) {
            if (type == nullptr || IsEqualGUID(type->majortype, GUID_NULL) ||
                IsEqualGUID(type->majortype, offered.get().majortype))
                candidates.push_back(offered);
        }
    }

    HRESULT last = VFW_E_NO_ACCEPTABLE_TYPES;
    for (const MediaType& candidate : candidates) {
        last = tryType(receiver, candidate.get());
        if (SUCCEEDED(last))
            break;
    }
    if (FAILED(last))
        return candidates.size() == 1 ? last : VFW_E_NO_ACCEPTABLE_TYPES;

    const HRESULT hr = decideAllocator();
    if (FAILED(hr)) {
        receiver->Disconnect();
        releaseTransport();
        dropConnection();
        return hr;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SourcePin::ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) { return E_UNEXPECTED; }

HRESULT STDMETHODCALLTYPE SourcePin::Disconnect() {
    if (source_.state() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    releaseTransport();
    return dropConnection();
}

HRESULT STDMETHODCALLTYPE SourcePin::QueryAccept(const AM_MEDIA_TYPE* type) {
    if (type == nullptr)
        return E_POINTER;
    for (const MediaType& offered : source_.offered_) {
        if (sameType(offered.get(), *type))
            return S_OK;
    }
    return S_FALSE;
}

HRESULT STDMETHODCALLTYPE SourcePin::EnumMediaTypes(IEnumMediaTypes** types) {
    if (types == nullptr)
        return E_POINTER;
    *types = new TypeEnumerator(source_.offered_, 0);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SourcePin::EndOfStream() { return E_UNEXPECTED; }
HRESULT STDMETHODCALLTYPE SourcePin::BeginFlush() { return E_UNEXPECTED; }
HRESULT STDMETHODCALLTYPE SourcePin::EndFlush() { return E_UNEXPECTED; }

TestSource::TestSource(std::vector<MediaType> offered, uint32_t bufferBytes)
    : TestFilter(L"Test source", kClsidTestSource), offered_(std::move(offered)), bufferBytes_(bufferBytes),
      pin_(*this) {}

TestSource* TestSource::create(std::vector<MediaType> offered, uint32_t bufferBytes) {
    return new TestSource(std::move(offered), bufferBytes);
}

TestSource::~TestSource() {
    if (streaming_.joinable())
        streaming_.join();
}

std::vector<HRESULT> TestSource::receiveConnectionResults() const {
    std::lock_guard<std::mutex> guard(recordLock_);
    return receiveConnectionResults_;
}

std::vector<DeliveryResult> TestSource::deliveries() const {
    std::lock_guard<std::mutex> guard(recordLock_);
    return deliveries_;
}

HRESULT TestSource::changingState(FILTER_STATE from, FILTER_STATE to) {
    IMemAllocator* allocator = pin_.allocator();
    if (from == State_Stopped && to != State_Stopped && allocator != nullptr)
        return allocator->Commit();
    if (to == State_Stopped && from != State_Stopped) {
        // Decommitting first lets a streaming thread that waits for a buffer give up.
        if (allocator != nullptr)
            allocator->Decommit();
        if (streaming_.joinable())
            streaming_.join();
    }
    return S_OK;
}

HRESULT TestSource::deliver(const StreamPlan& plan) {
    IMemInputPin* downstream = pin_.memInput();
    IMemAllocator* allocator = pin_.allocator();
    if (downstream == nullptr || allocator == nullptr)
        return VFW_E_NOT_CONNECTED;
    size_t offset = 0;
    for (const SampleSpec& spec : plan.samples) {
        if (offset + spec.bytes > plan.bytes.size())
            return E_INVALIDARG;
        DeliveryResult result;
        IMediaSample* sample = nullptr;
        result.getBuffer = allocator->GetBuffer(&sample, nullptr, nullptr, 0);
        if (SUCCEEDED(result.getBuffer)) {
            BYTE* data = nullptr;
            sample->GetPointer(&data);
            if (static_cast<long>(spec.bytes) > sample->GetSize()) {
                sample->Release();
                return E_OUTOFMEMORY;
            }
            if (spec.bytes != 0)
                std::memcpy(data, plan.bytes.data() + offset, spec.bytes);
            sample->SetActualDataLength(static_cast<long>(spec.bytes));
            if (spec.start) {
                REFERENCE_TIME start = *spec.start;
                REFERENCE_TIME stop = start + 1;
                sample->SetTime(&start, &stop);
            } else {
                sample->SetTime(nullptr, nullptr);
            }
            sample->SetDiscontinuity(spec.discontinuity ? TRUE : FALSE);
            sample->SetSyncPoint(spec.syncPoint ? TRUE : FALSE);
            sample->SetPreroll(spec.preroll ? TRUE : FALSE);
            result.receive = downstream->Receive(sample);
            sample->Release();
        }
        {
            std::lock_guard<std::mutex> guard(recordLock_);
            deliveries_.push_back(result);
        }
        if (FAILED(result.getBuffer))
            return result.getBuffer;
        if (FAILED(result.receive))
            return result.receive;
        offset += spec.bytes;
    }
    if (plan.endOfStream) {
        IPin* receiver = nullptr;
        if (SUCCEEDED(pin_.ConnectedTo(&receiver))) {
            const HRESULT hr = receiver->EndOfStream();
            receiver->Release();
            return hr;
        }
    }
    return S_OK;
}

void TestSource::startStreaming(StreamPlan plan) {
    if (streaming_.joinable())
        streaming_.join();
    streaming_ = std::thread([this, plan = std::move(plan)] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        streamingResult_ = deliver(plan);
        CoUninitialize();
    });
}

HRESULT TestSource::finishStreaming() {
    if (streaming_.joinable())
        streaming_.join();
    return streamingResult_;
}

// ---- sink ---------------------------------------------------------------------------------------

SinkPin::SinkPin(TestSink& sink) : TestPinBase(sink, L"In", PINDIR_INPUT), sink_(sink) {}

SinkPin::~SinkPin() {
    if (own_ != nullptr)
        own_->Release();
    if (notified_ != nullptr)
        notified_->Release();
}

HRESULT STDMETHODCALLTYPE SinkPin::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPin)) {
        *object = static_cast<IPin*>(this);
    } else if (IsEqualIID(iid, IID_IMemInputPin)) {
        *object = static_cast<IMemInputPin*>(this);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SinkPin::Connect(IPin*, const AM_MEDIA_TYPE*) { return E_UNEXPECTED; }

HRESULT STDMETHODCALLTYPE SinkPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
    if (connector == nullptr || type == nullptr)
        return E_POINTER;
    if (isConnected())
        return VFW_E_ALREADY_CONNECTED;
    if (sink_.state() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    PIN_DIRECTION direction = PINDIR_INPUT;
    connector->QueryDirection(&direction);
    if (direction != PINDIR_OUTPUT)
        return VFW_E_INVALID_DIRECTION;
    if (!sink_.accepts(*type))
        return VFW_E_TYPE_NOT_ACCEPTED;
    std::lock_guard<std::mutex> guard(lock_);
    connected_ = connector;
    connected_->AddRef();
    type_ = MediaType(*type);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SinkPin::Disconnect() {
    if (sink_.state() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    if (notified_ != nullptr)
        notified_->Release();
    notified_ = nullptr;
    return dropConnection();
}

HRESULT STDMETHODCALLTYPE SinkPin::QueryAccept(const AM_MEDIA_TYPE* type) {
    if (type == nullptr)
        return E_POINTER;
    return sink_.accepts(*type) ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE SinkPin::EnumMediaTypes(IEnumMediaTypes** types) {
    if (types == nullptr)
        return E_POINTER;
    // No preference: the upstream pin proposes its own types.
    *types = new TypeEnumerator({}, 0);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SinkPin::EndOfStream() {
    sink_.endOfStream();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SinkPin::BeginFlush() { return S_OK; }
HRESULT STDMETHODCALLTYPE SinkPin::EndFlush() { return S_OK; }

HRESULT STDMETHODCALLTYPE SinkPin::GetAllocator(IMemAllocator** allocator) {
    if (allocator == nullptr)
        return E_POINTER;
    *allocator = nullptr;
    if (own_ == nullptr) {
        const HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                            reinterpret_cast<void**>(&own_));
        if (FAILED(hr))
            return hr;
    }
    *allocator = own_;
    own_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SinkPin::NotifyAllocator(IMemAllocator* allocator, BOOL) {
    if (allocator == nullptr)
        return E_POINTER;
    allocator->AddRef();
    if (notified_ != nullptr)
        notified_->Release();
    notified_ = allocator;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SinkPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) {
    if (properties == nullptr)
        return E_POINTER;
    if (!sink_.requirements_)
        return E_NOTIMPL;
    *properties = *sink_.requirements_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SinkPin::Receive(IMediaSample* sample) {
    if (sample == nullptr)
        return E_POINTER;
    if (sink_.state() == State_Stopped) {
        ++sink_.refused_;
        return VFW_E_WRONG_STATE;
    }
    sink_.record(sample);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SinkPin::ReceiveMultiple(IMediaSample** samples, long count, long* processed) {
    if (samples == nullptr || processed == nullptr)
        return E_POINTER;
    *processed = 0;
    for (long i = 0; i < count; ++i) {
        const HRESULT hr = Receive(samples[i]);
        if (hr != S_OK)
            return hr;
        ++*processed;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SinkPin::ReceiveCanBlock() { return S_FALSE; }

TestSink::TestSink() : TestFilter(L"Test sink", kClsidTestSink), pin_(*this) {
    accept_ = [](const AM_MEDIA_TYPE& type) { return IsEqualGUID(type.majortype, MEDIATYPE_Audio) != 0; };
}

TestSink* TestSink::create() { return new TestSink(); }

TestSink::~TestSink() = default;

HRESULT STDMETHODCALLTYPE TestSink::QueryInterface(REFIID iid, void** object) {
    if (object != nullptr && IsEqualIID(iid, IID_IAMFilterMiscFlags)) {
        *object = static_cast<IAMFilterMiscFlags*>(this);
        AddRef();
        return S_OK;
    }
    return TestFilter::QueryInterface(iid, object);
}

bool TestSink::accepts(const AM_MEDIA_TYPE& type) const { return accept_ && accept_(type); }

HRESULT TestSink::changingState(FILTER_STATE, FILTER_STATE) { return S_OK; }

void TestSink::record(IMediaSample* sample) {
    int inside = 0;
    if (overlap_ != nullptr) {
        inside = ++overlap_->inside;
        int most = overlap_->most.load();
        while (inside > most && !overlap_->most.compare_exchange_weak(most, inside)) {
        }
    }
    ReceivedSample r;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    r.actualLength = sample->GetActualDataLength();
    r.size = sample->GetSize();
    if (data != nullptr && r.actualLength > 0)
        r.bytes.assign(data, data + std::min(r.actualLength, r.size));
    r.timeResult = sample->GetTime(&r.start, &r.stop);
    r.discontinuity = sample->IsDiscontinuity() == S_OK;
    r.syncPoint = sample->IsSyncPoint() == S_OK;
    r.preroll = sample->IsPreroll() == S_OK;
    r.threadId = GetCurrentThreadId();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    r.arrivalTicks = now.QuadPart;
    if (receiveDelayMs_ != 0)
        Sleep(receiveDelayMs_);
    {
        std::lock_guard<std::mutex> guard(recordLock_);
        received_.push_back(std::move(r));
    }
    if (overlap_ != nullptr)
        --overlap_->inside;
}

void TestSink::endOfStream() {
    ++endOfStreams_;
    // A renderer reports the end of its stream to the graph, which sends EC_COMPLETE once every
    // renderer has done so.
    IFilterGraph* graph = this->graph();
    if (graph == nullptr)
        return;
    IMediaEventSink* events = nullptr;
    if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&events)))) {
        events->Notify(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
        events->Release();
    }
}

std::vector<ReceivedSample> TestSink::received() const {
    std::lock_guard<std::mutex> guard(recordLock_);
    return received_;
}

std::vector<uint8_t> TestSink::receivedBytes() const {
    std::lock_guard<std::mutex> guard(recordLock_);
    std::vector<uint8_t> all;
    for (const ReceivedSample& r : received_)
        all.insert(all.end(), r.bytes.begin(), r.bytes.end());
    return all;
}

std::vector<float> TestSink::receivedFloats() const {
    const std::vector<uint8_t> bytes = receivedBytes();
    std::vector<float> floats(bytes.size() / sizeof(float));
    if (!floats.empty())
        std::memcpy(floats.data(), bytes.data(), floats.size() * sizeof(float));
    return floats;
}

void TestSink::clearReceived() {
    std::lock_guard<std::mutex> guard(recordLock_);
    received_.clear();
}

} // namespace pellucer::dx::graphtest
