#pragma once

// A test source and a test sink for DirectShow graphs, written straight against the published
// interfaces (IBaseFilter, IPin, IMemInputPin, IMemAllocator) and independent of the module's own
// DirectShow layer, so that a mistake there cannot hide behind the same mistake here.
//
// The source has one output pin that offers a configurable list of audio types and pushes a
// prepared byte stream in media samples of chosen sizes, with optional times and flags, either
// from the calling thread or from a streaming thread of its own. The sink has one input pin that
// records every sample it receives (bytes, times, flags) and announces itself as a renderer, so
// that the filter graph sends EC_COMPLETE once it has seen end of stream.

#ifndef STRSAFE_NO_DEPRECATE
#define STRSAFE_NO_DEPRECATE
#endif
#include <windows.h>

#include <dshow.h>
#include <mmreg.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace pellucer::dx::graphtest {

// ---- media types --------------------------------------------------------------------------------

/// An AM_MEDIA_TYPE that owns its format block (CoTaskMemAlloc'd, as pins hand them around).
class MediaType {
public:
    MediaType() = default;
    explicit MediaType(const AM_MEDIA_TYPE& type) { assign(type); }
    MediaType(const MediaType& other) { assign(other.type_); }
    MediaType& operator=(const MediaType& other);
    ~MediaType() { clear(); }

    const AM_MEDIA_TYPE& get() const { return type_; }
    AM_MEDIA_TYPE* ptr() { return &type_; }
    const WAVEFORMATEX* wave() const;

    /// A CoTaskMemAlloc'd deep copy, as IEnumMediaTypes::Next hands out.
    AM_MEDIA_TYPE* newCopy() const;

private:
    void assign(const AM_MEDIA_TYPE& type);
    void clear();

    AM_MEDIA_TYPE type_{};
};

/// Deep copy into *to, which must be empty.
HRESULT copyMediaType(AM_MEDIA_TYPE* to, const AM_MEDIA_TYPE& from);
/// Frees the format block and the interface pointer a media type holds.
void freeMediaTypeContents(AM_MEDIA_TYPE& type);
/// Frees a media type allocated by a pin (DeleteMediaType).
void deleteMediaType(AM_MEDIA_TYPE* type);

/// An audio type with a WAVEFORMATEX format block (18 bytes).
MediaType waveType(WORD formatTag, WORD channels, WORD bitsPerSample, DWORD sampleRate);
/// Interleaved 32-bit float (format tag 3).
MediaType floatType(DWORD sampleRate, WORD channels = 2);
/// 16-bit PCM (format tag 1).
MediaType pcmType(DWORD sampleRate, WORD channels, WORD bitsPerSample);
/// A WAVEFORMATEXTENSIBLE (tag 65534, 40-byte block) describing float or PCM samples.
MediaType extensibleType(DWORD sampleRate, WORD channels, WORD bitsPerSample, bool isFloat);

/// The KSDATAFORMAT_SUBTYPE_IEEE_FLOAT sub-format of a WAVEFORMATEXTENSIBLE.
extern const GUID kSubFormatIeeeFloat;
/// The KSDATAFORMAT_SUBTYPE_PCM sub-format of a WAVEFORMATEXTENSIBLE.
extern const GUID kSubFormatPcm;

// ---- common filter plumbing ------------------------------------------------------------------

class TestFilter;

/// The part every pin of the test filters shares: name, direction, owner, connection.
/// Reference counts are the owning filter's (the pins live inside it).
class TestPinBase : public IPin {
public:
    TestPinBase(TestFilter& filter, const wchar_t* name, PIN_DIRECTION direction);
    virtual ~TestPinBase();

    // IUnknown (delegates the count to the filter)
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IPin, the parts both directions share
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** pins, ULONG* count) override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    bool isConnected() const { return connected_ != nullptr; }
    MediaType connectionType() const;
    IPin* connectedPin() const { return connected_; }

protected:
    /// Drops the connection (our side only); answers S_FALSE when there was none.
    HRESULT dropConnection();

    TestFilter& filter_;
    std::wstring name_;
    PIN_DIRECTION direction_;
    mutable std::mutex lock_;
    IPin* connected_ = nullptr;
    MediaType type_;
};

/// IBaseFilter for both test filters: reference count, state, clock, graph, one pin.
class TestFilter : public IBaseFilter {
public:
    TestFilter(const wchar_t* name, const CLSID& clsid);
    TestFilter(const TestFilter&) = delete;
    TestFilter& operator=(const TestFilter&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IPersist
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;

    // IMediaFilter
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
    HRESULT STDMETHODCALLTYPE GetState(DWORD timeoutMs, FILTER_STATE* state) override;
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override;
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override;

    // IBaseFilter
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override;
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override;
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override;
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* info) override;

    FILTER_STATE state() const { return state_.load(); }
    /// The graph the filter joined (not counted, as the graph owns its filters).
    IFilterGraph* graph() const { return graph_; }
    /// Current reference count, for leak checks in tests.
    ULONG referenceCount() const { return references_.load(); }

protected:
    virtual ~TestFilter();
    virtual TestPinBase& pin() = 0;
    /// Called with the new state before it is stored; a failure keeps the old state.
    virtual HRESULT changingState(FILTER_STATE from, FILTER_STATE to) = 0;

private:
    std::atomic<ULONG> references_{1};
    std::atomic<FILTER_STATE> state_{State_Stopped};
    std::mutex lock_;
    IReferenceClock* clock_ = nullptr;
    IFilterGraph* graph_ = nullptr;
    std::wstring name_;
    std::wstring graphName_;
    CLSID clsid_;
};

// ---- source ---------------------------------------------------------------------------------

/// One media sample the source sends: a slice of its byte stream and what to mark on it.
struct SampleSpec {
    uint32_t bytes = 0;
    std::optional<REFERENCE_TIME> start; ///< start time (with stop = start + 1 when set)
    bool discontinuity = false;
    bool syncPoint = true;
    bool preroll = false;
};

/// Bytes to stream and how to cut them into samples.
struct StreamPlan {
    std::vector<uint8_t> bytes;
    std::vector<SampleSpec> samples; ///< consecutive slices of `bytes`
    bool endOfStream = true;         ///< send end of stream after the last sample

    /// Interleaved floats cut into samples of the given frame counts (cycled until all are sent).
    static StreamPlan frames(const std::vector<float>& interleaved, int channels, const std::vector<uint32_t>& sizes);
    /// The largest slice, the buffer size the source asks its allocator for.
    uint32_t largestSample() const;
};

class TestSource;

class SourcePin final : public TestPinBase {
public:
    explicit SourcePin(TestSource& source);
    ~SourcePin() override;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;

    HRESULT STDMETHODCALLTYPE Connect(IPin* receiver, const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;

    IMemAllocator* allocator() const { return allocator_; }
    IMemInputPin* memInput() const { return memInput_; }

private:
    friend class TestSource;
    HRESULT tryType(IPin* receiver, const AM_MEDIA_TYPE& type);
    HRESULT decideAllocator();
    void releaseTransport();

    TestSource& source_;
    IMemInputPin* memInput_ = nullptr;
    IMemAllocator* allocator_ = nullptr;
};

/// What the source saw when it delivered one sample downstream.
struct DeliveryResult {
    HRESULT getBuffer = S_OK;
    HRESULT receive = S_OK;
};

class TestSource final : public TestFilter {
public:
    /// The source's offered types, tried in this order when connecting.
    static TestSource* create(std::vector<MediaType> offered, uint32_t bufferBytes = 32768);

    IPin* outputPin() { return &pin_; }
    SourcePin& sourcePin() { return pin_; }
    const std::vector<MediaType>& offered() const { return offered_; }
    uint32_t bufferBytes() const { return bufferBytes_; }
    void setBufferBytes(uint32_t bytes) { bufferBytes_ = bytes; }
    void setBufferCount(long count) { bufferCount_ = count; }

    /// The results of every ReceiveConnection the pin tried during its last Connect.
    std::vector<HRESULT> receiveConnectionResults() const;

    /// Delivers the plan's samples on the calling thread (the filter must be paused or running).
    /// Stops at the first failure and answers it; end of stream follows when the plan asks.
    HRESULT deliver(const StreamPlan& plan);
    /// Delivers the plan from a streaming thread of the source's own.
    void startStreaming(StreamPlan plan);
    /// Waits for the streaming thread and answers its result.
    HRESULT finishStreaming();
    /// What each delivered sample's GetBuffer and Receive answered.
    std::vector<DeliveryResult> deliveries() const;

protected:
    ~TestSource() override;
    TestPinBase& pin() override { return pin_; }
    HRESULT changingState(FILTER_STATE from, FILTER_STATE to) override;

private:
    friend class SourcePin;
    explicit TestSource(std::vector<MediaType> offered, uint32_t bufferBytes);

    std::vector<MediaType> offered_;
    uint32_t bufferBytes_;
    long bufferCount_ = 3;
    SourcePin pin_;
    mutable std::mutex recordLock_;
    std::vector<HRESULT> receiveConnectionResults_;
    std::vector<DeliveryResult> deliveries_;
    std::thread streaming_;
    HRESULT streamingResult_ = S_OK;
};

// ---- sink -----------------------------------------------------------------------------------

/// One sample as the sink received it.
struct ReceivedSample {
    std::vector<uint8_t> bytes; ///< the first GetActualDataLength bytes
    long actualLength = 0;
    long size = 0;
    HRESULT timeResult = VFW_E_SAMPLE_TIME_NOT_SET; ///< what GetTime answered
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    bool discontinuity = false;
    bool syncPoint = false;
    bool preroll = false;
    DWORD threadId = 0;          ///< the thread that delivered it
    LONGLONG arrivalTicks = 0;   ///< QueryPerformanceCounter on arrival
};

/// Counts how many sinks are inside Receive at once (shared by the sinks of several graphs).
struct ReceiveOverlap {
    std::atomic<int> inside{0};
    std::atomic<int> most{0};
};

class TestSink;

class SinkPin final : public TestPinBase, public IMemInputPin {
public:
    explicit SinkPin(TestSink& sink);
    ~SinkPin() override;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return TestPinBase::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return TestPinBase::Release(); }

    // IPin
    HRESULT STDMETHODCALLTYPE Connect(IPin* receiver, const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;

    // IMemInputPin
    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override;
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) override;
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** samples, long count, long* processed) override;
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override;

    /// The allocator the upstream pin settled on (NotifyAllocator), not counted.
    IMemAllocator* notifiedAllocator() const { return notified_; }

private:
    TestSink& sink_;
    IMemAllocator* own_ = nullptr;      ///< what GetAllocator hands out
    IMemAllocator* notified_ = nullptr; ///< what NotifyAllocator chose
};

class TestSink final : public TestFilter, public IAMFilterMiscFlags {
public:
    /// Accepts every audio type unless told otherwise.
    static TestSink* create();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return TestFilter::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return TestFilter::Release(); }

    // IAMFilterMiscFlags: a renderer, so the graph waits for its end of stream.
    ULONG STDMETHODCALLTYPE GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

    IPin* inputPin() { return &pin_; }
    SinkPin& sinkPin() { return pin_; }

    /// Which types the pin takes in ReceiveConnection / QueryAccept.
    void setAcceptance(std::function<bool(const AM_MEDIA_TYPE&)> accept) { accept_ = std::move(accept); }
    /// What GetAllocatorRequirements answers (E_NOTIMPL when never set).
    void setAllocatorRequirements(const ALLOCATOR_PROPERTIES& properties) { requirements_ = properties; }
    /// Stays this long in every Receive (to make overlapping deliveries visible).
    void setReceiveDelay(DWORD milliseconds) { receiveDelayMs_ = milliseconds; }
    void setOverlapCounter(ReceiveOverlap* overlap) { overlap_ = overlap; }

    std::vector<ReceivedSample> received() const;
    /// Every received sample's bytes, concatenated.
    std::vector<uint8_t> receivedBytes() const;
    /// Every received sample's data as 32-bit floats (whole floats only).
    std::vector<float> receivedFloats() const;
    int endOfStreamCount() const { return endOfStreams_.load(); }
    /// Receive calls that came while the filter was stopped (and were refused).
    int refusedReceives() const { return refused_.load(); }
    void clearReceived();

protected:
    ~TestSink() override;
    TestPinBase& pin() override { return pin_; }
    HRESULT changingState(FILTER_STATE from, FILTER_STATE to) override;

private:
    friend class SinkPin;
    TestSink();
    bool accepts(const AM_MEDIA_TYPE& type) const;
    void record(IMediaSample* sample);
    void endOfStream();

    SinkPin pin_;
    std::function<bool(const AM_MEDIA_TYPE&)> accept_;
    std::optional<ALLOCATOR_PROPERTIES> requirements_;
    DWORD receiveDelayMs_ = 0;
    ReceiveOverlap* overlap_ = nullptr;
    mutable std::mutex recordLock_;
    std::vector<ReceivedSample> received_;
    std::atomic<int> endOfStreams_{0};
    std::atomic<int> refused_{0};
};

} // namespace pellucer::dx::graphtest
