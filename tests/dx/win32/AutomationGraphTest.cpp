// Parameter automation of the module's filter in a real DirectShow graph (Wine's filter graph,
// the tests' source and sink): what reaches the sink must be, bit for bit, what the module's VST
// entry renders when it is given the same values at the same frames, cut into the same pieces.
// Then random envelopes of every kind of nonsense, streamed while the host keeps automating, and
// an editor gesture recorded through the host's parameter-UI callback.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "core/Parameters.h"
#include "dx/automation/MediaParamsInterfaces.h"
#include "tests/dx/win32/DxTestSupport.h"
#include "tests/dx/win32/GraphTestSupport.h"
#include "tests/gui/win32/EditorTestSupport.h"

namespace pellucer::dx::graphtest {
namespace {

constexpr DWORD kRate = 44100;
constexpr REFERENCE_TIME kSecond = 10'000'000;
constexpr int64_t kStep = 882; // 20 ms at 44.1 kHz

/// The first frame at which two streams differ (the frame count when they do not).
int64_t firstDifferentFrame(const std::vector<float>& a, const std::vector<float>& b) {
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i)
        if (a[i] != b[i])
            return static_cast<int64_t>(i / 2);
    return static_cast<int64_t>(common / 2);
}

class AutomationGraph : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(test::pellucerModule(), nullptr) << "cannot load " << PELLUCER_VST_MODULE;
        ASSERT_TRUE(SUCCEEDED(com_.result()));
    }

    /// The chain with `settings`, and the filter's IMediaParams.
    void build(EffectChain& chain, const StreamPlan& plan, const EffectSettings& settings) {
        ASSERT_NO_FATAL_FAILURE(chain.build({floatType(kRate)}, plan.largestSample(), 1));
        chain.apply(settings);
        params = chain.filter.query<IMediaParamsPublished>(kIidMediaParams);
        ASSERT_TRUE(params);
    }
    static void run(EffectChain& chain) { ASSERT_TRUE(SUCCEEDED(chain.graph.run())); }
    static void finish(EffectChain& chain) {
        EXPECT_TRUE(chain.graph.waitForEvent(EC_COMPLETE, 20000)) << "no EC_COMPLETE";
        EXPECT_EQ(S_OK, chain.graph.stop());
    }

    ComApartment com_;
    ComPtr<IMediaParamsPublished> params;
};

TEST_F(AutomationGraph, SetParamIsHeardFromTheNextBuffer) {
    const EffectSettings settings = busySettings();
    const std::vector<float> signal = testSignal(3 * 4410, kRate, 3);
    StreamPlan first =
        StreamPlan::frames(std::vector<float>(signal.begin(), signal.begin() + 2 * 4410), 2, {4410});
    first.endOfStream = false;
    const StreamPlan rest =
        StreamPlan::frames(std::vector<float>(signal.begin() + 2 * 4410, signal.end()), 2, {4410});

    EffectChain chain;
    ASSERT_NO_FATAL_FAILURE(build(chain, first, settings));
    ASSERT_NE(0.2f, chain.effect->getParameter(chain.effect, kOutputGain));
    ASSERT_NO_FATAL_FAILURE(run(chain));
    ASSERT_EQ(S_OK, chain.source->deliver(first));
    ASSERT_EQ(S_OK, params->SetParam(kOutputGain, 0.2f));
    ASSERT_EQ(S_OK, chain.source->deliver(rest));
    ASSERT_NO_FATAL_FAILURE(finish(chain));

    ReferenceEffect reference(static_cast<float>(kRate), settings);
    const std::vector<float> expected =
        reference.processInPieces(signal, {4410, 8820}, {{4410, kOutputGain, 0.2f}});
    const std::vector<float> output = chain.sinks[0]->receivedFloats();
    EXPECT_TRUE(sameSamples(expected, output));
    ReferenceEffect unchanged(static_cast<float>(kRate), settings);
    EXPECT_FALSE(sameSamples(unchanged.processInPieces(signal, {4410, 8820}, {}), output));
    EXPECT_NEAR(0.2f, chain.effect->getParameter(chain.effect, kOutputGain), 1e-5);
}

TEST_F(AutomationGraph, AJumpOnOutputGainChangesTheOutputAtItsSnappedSample) {
    const EffectSettings settings = busySettings();
    const std::vector<float> signal = testSignal(kRate, kRate, 5);
    const StreamPlan plan = StreamPlan::frames(signal, 2, {4096});
    // 0.3001234 s lies within sample 13,235 (13,235.44): the jump is snapped back to its start.
    constexpr REFERENCE_TIME start = 3'001'234;
    constexpr REFERENCE_TIME end = start + kSecond / 2;
    constexpr int64_t jumpFrame = 13235;

    // The same stream twice: once with the jump to 0.9, once with a jump to the value the effect
    // has already, which cuts the buffers at the same frames and sends nothing.
    std::vector<float> outputs[2];
    for (int pass = 0; pass < 2; ++pass) {
        EffectChain chain;
        ASSERT_NO_FATAL_FAILURE(build(chain, plan, settings));
        const float present = chain.effect->getParameter(chain.effect, kOutputGain);
        ASSERT_NE(0.9f, present);
        const float target = pass == 0 ? 0.9f : present;
        MP_ENVELOPE_SEGMENT jump = segment(start, end, target, target, MP_CURVE_JUMP);
        ASSERT_EQ(S_OK, params->AddEnvelope(kOutputGain, 1, &jump));
        ASSERT_NO_FATAL_FAILURE(run(chain));
        ASSERT_EQ(S_OK, chain.source->deliver(plan));
        ASSERT_NO_FATAL_FAILURE(finish(chain));
        outputs[pass] = chain.sinks[0]->receivedFloats();
        EXPECT_NEAR(target, chain.effect->getParameter(chain.effect, kOutputGain), 1e-5);
    }
    ASSERT_EQ(outputs[0].size(), outputs[1].size());
    ASSERT_EQ(signal.size(), outputs[0].size());
    // How long an output-gain change takes to be heard, measured on the VST entry's own effect:
    // the same settings with and without a change before the first frame.
    std::vector<float> heard[2];
    for (int pass = 0; pass < 2; ++pass) {
        ReferenceEffect reference(static_cast<float>(kRate), settings);
        heard[pass] = reference.processInPieces(signal, {},
                                                pass == 0 ? std::vector<ParameterPush>{{0, kOutputGain, 0.9f}}
                                                          : std::vector<ParameterPush>{});
    }
    const int64_t delay = firstDifferentFrame(heard[0], heard[1]);
    ASSERT_LT(delay, 1000);
    // Identical up to the snapped sample (heard that much later), different from it on.
    EXPECT_EQ(jumpFrame + delay, firstDifferentFrame(outputs[0], outputs[1])) << "heard after " << delay;
}

TEST_F(AutomationGraph, ALinearRampIsFollowedInTwentyMillisecondSteps) {
    const EffectSettings settings = otherBusySettings();
    EffectChain chain;
    const StreamPlan probe = StreamPlan::frames(testSignal(1000, kRate, 9), 2, {1000});
    ASSERT_NO_FATAL_FAILURE(build(chain, probe, settings));
    MP_ENVELOPE_SEGMENT ramp = segment(0, kSecond, 0.0f, 1.0f, MP_CURVE_LINEAR);
    ASSERT_EQ(S_OK, params->AddEnvelope(kOutputGain, 1, &ramp));
    ASSERT_NO_FATAL_FAILURE(run(chain));

    // Buffers of 1000 frames from the test thread; after each, the effect holds the ramp's value
    // at the start of the buffer's last piece: its last multiple of 882, or its own start.
    const std::vector<float> signal = testSignal(46000, kRate, 9);
    for (int64_t begin = 0; begin < 46000; begin += 1000) {
        StreamPlan buffer = StreamPlan::frames(
            std::vector<float>(signal.begin() + 2 * begin, signal.begin() + 2 * (begin + 1000)), 2, {1000});
        buffer.endOfStream = begin + 1000 >= 46000;
        ASSERT_EQ(S_OK, chain.source->deliver(buffer));
        const int64_t lastGrid = (begin + 999) / kStep * kStep;
        const int64_t lastPiece = std::max(begin, lastGrid);
        const double t = std::round(static_cast<double>(lastPiece) * kSecond / kRate);
        const double expected = std::min(1.0, t / kSecond);
        const float held = chain.effect->getParameter(chain.effect, kOutputGain);
        EXPECT_NEAR(expected, held, 1e-5) << "after the buffer at " << begin;
    }
    ASSERT_NO_FATAL_FAILURE(finish(chain));
    EXPECT_NEAR(1.0f, chain.effect->getParameter(chain.effect, kOutputGain), 1e-6);
}

/// Our own generator: the same sequence on every platform.
class Random {
public:
    explicit Random(uint32_t seed) : state_(seed) {}
    uint32_t next() {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }
    int below(int n) { return static_cast<int>(next() % static_cast<uint32_t>(n)); }
    double unit() { return next() / 16777216.0; }

private:
    uint32_t state_;
};

float wildValue(Random& random) {
    switch (random.below(6)) {
    case 0:
        return std::numeric_limits<float>::quiet_NaN();
    case 1:
        return random.below(2) ? std::numeric_limits<float>::infinity()
                               : -std::numeric_limits<float>::infinity();
    case 2:
        return static_cast<float>(random.unit() * 5.0 - 2.0);
    default:
        return static_cast<float>(random.unit());
    }
}

REFERENCE_TIME wildTime(Random& random) {
    switch (random.below(8)) {
    case 0:
        return std::numeric_limits<int64_t>::min() + random.below(1000);
    case 1:
        return std::numeric_limits<int64_t>::max() - random.below(1000);
    case 2:
        return -static_cast<REFERENCE_TIME>(random.unit() * kSecond);
    default:
        return static_cast<REFERENCE_TIME>(random.unit() * 3 * kSecond);
    }
}

std::vector<MP_ENVELOPE_SEGMENT> wildSegments(Random& random, size_t count) {
    static const int kCurves[] = {
        MP_CURVE_JUMP, MP_CURVE_LINEAR, MP_CURVE_SQUARE, MP_CURVE_INVSQUARE, MP_CURVE_SINE, 0, 3, 32, -7};
    std::vector<MP_ENVELOPE_SEGMENT> segments(count);
    for (MP_ENVELOPE_SEGMENT& s : segments)
        s = segment(wildTime(random), wildTime(random), wildValue(random), wildValue(random),
                    kCurves[random.below(static_cast<int>(std::size(kCurves)))]);
    return segments;
}

TEST_F(AutomationGraph, RandomEnvelopesOfAnyKindStreamAndKeepEveryValueInRange) {
    Random random(20261206);
    const std::vector<float> signal = testSignal(2 * kRate, kRate, 13);
    const StreamPlan plan = StreamPlan::frames(signal, 2, {4096, 1000, 333});
    EffectChain chain;
    ASSERT_NO_FATAL_FAILURE(build(chain, plan, busySettings()));

    // A million segments, all within the stream, on one parameter: nearly every frame is a cut.
    std::vector<MP_ENVELOPE_SEGMENT> dense(1'000'000);
    for (MP_ENVELOPE_SEGMENT& s : dense) {
        const auto at = static_cast<REFERENCE_TIME>(random.unit() * 2 * kSecond);
        s = segment(at, at + random.below(20000) - 5000, wildValue(random), wildValue(random),
                    random.below(40));
    }
    ASSERT_EQ(S_OK, params->AddEnvelope(kDoublerStereo, static_cast<DWORD>(dense.size()), dense.data()));
    for (int k = 0; k < 8; ++k) {
        const auto index = static_cast<DWORD>(random.below(kReserved)); // the order code is no value
        std::vector<MP_ENVELOPE_SEGMENT> s = wildSegments(random, 1 + random.below(300));
        ASSERT_EQ(S_OK, params->AddEnvelope(index, static_cast<DWORD>(s.size()), s.data()));
    }

    // The host goes on automating while the source streams from its own thread.
    ASSERT_NO_FATAL_FAILURE(run(chain));
    chain.source->startStreaming(plan);
    for (int round = 0; round < 200; ++round) {
        const auto index = static_cast<DWORD>(random.below(kReserved));
        switch (random.below(4)) {
        case 0:
            EXPECT_EQ(S_OK, params->SetParam(index, wildValue(random)));
            break;
        case 1: {
            std::vector<MP_ENVELOPE_SEGMENT> s = wildSegments(random, 1 + random.below(50));
            EXPECT_EQ(S_OK, params->AddEnvelope(random.below(10) == 0 ? kAllParams : index,
                                                static_cast<DWORD>(s.size()), s.data()));
            break;
        }
        case 2: {
            const REFERENCE_TIME a = wildTime(random);
            const REFERENCE_TIME b = wildTime(random);
            EXPECT_EQ(a <= b ? S_OK : E_INVALIDARG, params->FlushEnvelope(index, a, b));
            break;
        }
        default: {
            float value = -1.0f;
            EXPECT_EQ(S_OK, params->GetParam(index, &value));
            EXPECT_TRUE(value >= 0.0f && value <= 1.0f) << value;
            break;
        }
        }
        Sleep(random.below(3));
    }
    EXPECT_EQ(S_OK, chain.source->finishStreaming());
    ASSERT_NO_FATAL_FAILURE(finish(chain));

    const std::vector<float> output = chain.sinks[0]->receivedFloats();
    EXPECT_EQ(signal.size(), output.size());
    EXPECT_TRUE(std::all_of(output.begin(), output.end(), [](float v) { return std::isfinite(v); }));
    for (int32_t i = 0; i < kReserved; ++i) {
        const float value = chain.effect->getParameter(chain.effect, i);
        EXPECT_TRUE(value >= 0.0f && value <= 1.0f) << "parameter " << i << ": " << value;
    }
}

// ---- an editor gesture recorded by the host -------------------------------------------------------------

namespace gt = pellucer::gui::test;

/// A host's parameter-UI callback that records the notices and reads GetParam meanwhile.
class HostUICallback final : public IMediaParamsUICallback {
public:
    struct Notice {
        char kind;
        DWORD index;
        float value;
        float reported; ///< GetParam during the notice
    };
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, kIidParamsUICallback))
            return E_NOINTERFACE;
        *object = static_cast<IMediaParamsUICallback*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
    HRESULT STDMETHODCALLTYPE ParamsBeginCapture(DWORD* indices, DWORD count) override {
        for (DWORD k = 0; k < count; ++k)
            notices.push_back({'b', indices[k], 0.0f, reported(indices[k])});
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ParamsChanged(DWORD* indices, DWORD count, MP_DATA* values) override {
        for (DWORD k = 0; k < count; ++k)
            notices.push_back({'c', indices[k], values[k], reported(indices[k])});
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ParamsEndCapture(DWORD* indices, DWORD count) override {
        for (DWORD k = 0; k < count; ++k)
            notices.push_back({'e', indices[k], 0.0f, reported(indices[k])});
        return S_OK;
    }
    float reported(DWORD index) {
        float value = -1.0f;
        if (params != nullptr)
            params->GetParam(index, &value);
        return value;
    }

    std::atomic<long> references{1};
    IMediaParamsPublished* params = nullptr;
    std::vector<Notice> notices;
};

TEST_F(AutomationGraph, AKnobDragInTheFiltersEditorIsCapturedForTheHost) {
    gt::WindowTestLock lock;
    ASSERT_TRUE(lock.held());
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, createEffectFilter(filter));
    vst::AEffect* effect = effectRecordOf(filter.get());
    ASSERT_NE(nullptr, effect);
    params = filter.query<IMediaParamsPublished>(kIidMediaParams);
    ComPtr<IMediaParamsSetUICallback> setter =
        filter.query<IMediaParamsSetUICallback>(kIidParamsSetUICallback);
    ASSERT_TRUE(params && setter);
    HostUICallback host;
    host.params = params.get();
    ASSERT_EQ(S_OK, setter->SetParamsUICallback(&host));
    ASSERT_NEAR(0.5f, effect->getParameter(effect, kExpanderThresh), 1e-6);

    gt::HostWindow window(gt::kEditorWidth, gt::kEditorHeight);
    ASSERT_NE(nullptr, window.handle());
    ASSERT_EQ(1, effect->dispatcher(effect, vst::effEditOpen, 0, 0, window.handle(), 0.0f));
    gt::pumpFor(150); // until the X server has mapped and painted the window
    ASSERT_NE(nullptr, window.editor());
    // Drag the knob up by 20 pixels in steps of 4 (0.5 -> 0.6), as a user would.
    const gui::Point from = gt::centreOf(gt::kExpanderThresholdKnob);
    gt::moveTo(gt::screenPoint(window.editor(), from.x, from.y));
    gt::leftDown();
    for (int moved = -4; moved >= -20; moved -= 4)
        gt::moveTo(gt::screenPoint(window.editor(), from.x, from.y + moved));
    gt::leftUp();
    gt::pumpFor(GetDoubleClickTime() + 50);
    effect->dispatcher(effect, vst::effEditClose, 0, 0, nullptr, 0.0f);

    ASSERT_GE(host.notices.size(), 3u);
    EXPECT_EQ('b', host.notices.front().kind);
    EXPECT_EQ('e', host.notices.back().kind);
    for (const HostUICallback::Notice& n : host.notices)
        EXPECT_EQ(static_cast<DWORD>(kExpanderThresh), n.index) << n.kind;
    for (size_t i = 1; i + 1 < host.notices.size(); ++i) {
        EXPECT_EQ('c', host.notices[i].kind);
        EXPECT_EQ(host.notices[i].value, host.notices[i].reported); // GetParam has the captured value
    }
    EXPECT_NEAR(0.6f, host.notices[host.notices.size() - 2].value, 1e-6);
    float value = 0.0f;
    ASSERT_EQ(S_OK, params->GetParam(kExpanderThresh, &value));
    EXPECT_NEAR(0.6f, value, 1e-6); // held after the gesture
    EXPECT_NEAR(0.6f, effect->getParameter(effect, kExpanderThresh), 1e-6);
    ASSERT_EQ(S_OK, setter->SetParamsUICallback(nullptr));
    EXPECT_EQ(1, host.references.load());
}

} // namespace
} // namespace pellucer::dx::graphtest
