#include "core/ChannelStripEffect.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <emmintrin.h>
#include <string_view>
#include <thread>

#include "core/EffectEditor.h"
#include "core/FactoryPrograms.h"
#include "core/HostText.h"
#include "core/ParameterDisplay.h"
#include "core/ParameterTable.h"
#include "core/Settings.h"
#include "dsp/FloatControl.h"

namespace pellucer {

// Hosts create the engine with plain new, which 32-bit Windows serves on 8-byte boundaries: no
// member may ask for more (the stages keep their SSE2 pairs as StoredPair).
static_assert(alignof(ChannelStripEffect) <= 8, "the engine object must not need 16-byte alignment");

namespace {

constexpr float kDefaultSampleRate = 44100.0f;
// Sample rates outside this range are refused rather than half-prepared.
constexpr float kMinSampleRate = 8000.0f;
constexpr float kMaxSampleRate = 768000.0f;
// The plug-in bypass fade covers 90 % of its way in 50 ms (evaluated once, for 44.1 kHz).
constexpr double kBypassFadeSeconds = 0.05;
constexpr double kFadeSnap = 0.001;
// Host samples beyond +120 dBFS are held there: no stage's state can overflow from what is left.
constexpr double kInputCeiling = 1e6;

// What the strip takes in of one host sample. A NaN or an infinity becomes silence: one such
// sample would otherwise live on for ever in the filter, envelope and delay states. Finite
// samples pass unchanged up to the ceiling, so clean input keeps every bit.
template <typename Sample>
inline Sample admitSample(Sample x) {
    if (std::fabs(x) <= static_cast<Sample>(kInputCeiling)) [[likely]]
        return x;
    if (!std::isfinite(x))
        return 0;
    return x > 0 ? static_cast<Sample>(kInputCeiling) : static_cast<Sample>(-kInputCeiling);
}

// The spine's loops take two samples of a channel at a time in one SSE2 register: consecutive
// frames, so every lane does what the scalar code does to its own sample.
inline __m128d loadPair(const float* p) {
    return _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
}
inline __m128d loadPair(const double* p) { return _mm_loadu_pd(p); }
inline void storePair(float* p, __m128d v) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_castps_si128(_mm_cvtpd_ps(v)));
}
inline void storePair(double* p, __m128d v) { _mm_storeu_pd(p, v); }
inline __m128d magnitude(__m128d v) { return _mm_andnot_pd(_mm_set1_pd(-0.0), v); }
// Both lanes finite and within the ceiling, so that admitSample would pass them unchanged (a NaN
// compares false).
inline bool bothAdmitted(__m128d v) {
    return _mm_movemask_pd(_mm_cmple_pd(magnitude(v), _mm_set1_pd(kInputCeiling))) == 3;
}

// out = admitSample(in), the bypassed plug-in's pass-through.
template <typename Sample>
void admitInto(Sample* out, const Sample* in, int32_t frames) {
    int32_t i = 0;
    for (; i + 2 <= frames; i += 2) {
        const __m128d x = loadPair(in + i);
        if (bothAdmitted(x)) [[likely]] {
            storePair(out + i, x);
        } else {
            out[i] = admitSample(in[i]);
            out[i + 1] = admitSample(in[i + 1]);
        }
    }
    if (i < frames)
        out[i] = admitSample(in[i]);
}

// work = admitSample(in) + noise, in double precision.
template <typename Sample>
void admitWithNoise(double* work, const Sample* in, const double* noise, int32_t frames) {
    int32_t i = 0;
    for (; i + 2 <= frames; i += 2) {
        const __m128d x = loadPair(in + i);
        if (bothAdmitted(x)) [[likely]] {
            _mm_storeu_pd(work + i, _mm_add_pd(x, _mm_loadu_pd(noise + i)));
        } else {
            work[i] = static_cast<double>(admitSample(in[i])) + noise[i];
            work[i + 1] = static_cast<double>(admitSample(in[i + 1])) + noise[i + 1];
        }
    }
    if (i < frames)
        work[i] = static_cast<double>(admitSample(in[i])) + noise[i];
}

// out = the processed signal in the host's precision.
template <typename Sample>
void giveOutput(Sample* out, const double* work, int32_t frames) {
    int32_t i = 0;
    for (; i + 2 <= frames; i += 2)
        storePair(out + i, _mm_loadu_pd(work + i));
    if (i < frames)
        out[i] = static_cast<Sample>(work[i]);
}

// The largest |x| (0 for no samples; a NaN is passed over as std::max would).
double peakMagnitude(const double* x, int32_t frames) {
    __m128d a = _mm_setzero_pd(), b = _mm_setzero_pd();
    int32_t i = 0;
    for (; i + 4 <= frames; i += 4) {
        a = _mm_max_pd(magnitude(_mm_loadu_pd(x + i)), a);
        b = _mm_max_pd(magnitude(_mm_loadu_pd(x + i + 2)), b);
    }
    for (; i + 2 <= frames; i += 2)
        a = _mm_max_pd(magnitude(_mm_loadu_pd(x + i)), a);
    a = _mm_max_pd(b, a);
    double peak = std::max(_mm_cvtsd_f64(a), _mm_cvtsd_f64(_mm_unpackhi_pd(a, a)));
    if (i < frames)
        peak = std::max(peak, std::fabs(x[i]));
    return peak;
}

constexpr int32_t kDefaultOrderCode = 12345;

// Meter ballistics.
constexpr double kTubeMeterExponent = 0.7;
constexpr float kTubeMeterDecay = 0.85f;
constexpr double kLevelMeterRangeDb = 48.0;
constexpr float kLevelMeterDecay = 0.8f;
constexpr double kReductionMeterRangeDb = 24.0;
constexpr float kMeterSnap = 0.01f;

int32_t latencyFrames(float sampleRate) { return static_cast<int32_t>(std::trunc(sampleRate * 0.001 + 0.5)); }

int32_t nextPowerOfTwo(int32_t n) {
    int32_t size = 1;
    while (size < n)
        size <<= 1;
    return size;
}

float clampUnit(float v) { return std::clamp(v, 0.0f, 1.0f); }

} // namespace

ChannelStripEffect::ChannelStripEffect(vst::audioMasterCallback host, EditorFactory editorFactory)
    : PlugInBase(host, kNumPrograms, kNumParams, editorFactory) {
    if (host != nullptr) {
        isSynth(false);
        hasEditor(false);
    }
    initialise();
}

ChannelStripEffect::~ChannelStripEffect() { release(); }

bool ChannelStripEffect::initialise() {
    if (!PlugInBase::initialise())
        return false;
    canMono(true);
    canProcessReplacing(true);
    canDoubleReplacing(true);
    programsAreChunks(false);

    workLeft_.reset(new double[kInitialWorkFrames]());
    workRight_.reset(new double[kInitialWorkFrames]());
    workCapacity_ = kInitialWorkFrames;

    modules_ = {&stages_.deEsser, &stages_.compander, &stages_.equaliser,
                &stages_.doubler, &stages_.delay,     &stages_.outputTube};
    orderCode_.store(kDefaultOrderCode);
    relinkIfOrderChanged();

    bypassCoefficientDouble_ = 1.0 - std::pow(0.1, 1.0 / (kBypassFadeSeconds * kDefaultSampleRate));
    bypassCoefficientFloat_ = static_cast<float>(bypassCoefficientDouble_);
    tempo_.store(0.0);

    setSampleRate(kDefaultSampleRate);
    setInitialDelay(latencyFrames(engineSampleRate_));
    for (auto& meter : levelMeters_)
        meter.store(0.0f);
    meterMemory_.fill(0.0f);
    for (int32_t id : {kMeterCompressorGain, kMeterExpanderGain, kMeterDeEsserGain})
        meterMemory_[id] = 1.0f; // reduction meters rest at "no reduction"

    stages_.inputTube.initialise();
    stages_.outputTube.initialise();
    for (DspModule* stage : std::initializer_list<DspModule*>{&stages_.inputTube, &stages_.compander,
                                                              &stages_.equaliser, &stages_.deEsser, &stages_.doubler,
                                                              &stages_.delay, &stages_.outputTube})
        stage->reset();

    fillFactoryPrograms();

    prepareStages(engineSampleRate_);
    setProgram(currentProgram_);
    settleFades();
    return true;
}

void ChannelStripEffect::release() {
    PlugInBase::release();
    workLeft_.reset();
    workRight_.reset();
    workCapacity_ = 0;
    padLeft_.reset();
    padRight_.reset();
    padScratch_.reset();
}

// ---- sample rate, latency ----------------------------------------------------------------------

void ChannelStripEffect::resume() { setInitialDelay(latencyFrames(engineSampleRate_)); }

void ChannelStripEffect::setSampleRate(float sampleRate) {
    const std::lock_guard<std::recursive_mutex> lock(hostMutex_);
    if (!(sampleRate >= kMinSampleRate && sampleRate <= kMaxSampleRate) || sampleRate == engineSampleRate_)
        return;
    keepAudioOut();
    engineSampleRate_ = sampleRate;
    fillNoiseTable();
    setInitialDelay(latencyFrames(sampleRate));
    prepareStages(sampleRate);
    settleFades();

    processingEnabled_.store(true);
    AudioEffect::setSampleRate(sampleRate);
}

void ChannelStripEffect::setBlockSize(int32_t blockSize) {
    const std::lock_guard<std::recursive_mutex> lock(hostMutex_);
    AudioEffect::setBlockSize(blockSize);
    if (blockSize <= workCapacity_ || blockSize >= kMaxBlockFrames)
        return;
    keepAudioOut();
    growBuffers(blockSize);
    processingEnabled_.store(true);
}

void ChannelStripEffect::keepAudioOut() {
    // New blocks are turned away (with silence), then a block that is already running may end.
    processingEnabled_.store(false);
    while (inProcess_.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void ChannelStripEffect::growBuffers(int32_t frames) {
    if (frames > workCapacity_) {
        workLeft_.reset(new double[frames]());
        workRight_.reset(new double[frames]());
        workCapacity_ = frames;
    }
    stages_.inputTube.ensureDryCapacity(frames);
    for (DspModule* m : modules_)
        m->ensureDryCapacity(frames);
}

void ChannelStripEffect::prepareStages(float sampleRate) {
    stages_.inputTube.setSampleRate(sampleRate);
    stages_.compander.setSampleRate(sampleRate);
    stages_.equaliser.setSampleRate(sampleRate);
    stages_.deEsser.setSampleRate(sampleRate);
    stages_.doubler.setSampleRate(sampleRate);
    stages_.delay.setSampleRate(sampleRate);
    stages_.outputTube.setSampleRate(sampleRate);
}

// A new instance, or a stream restarted at a new rate, begins with every stage already in or
// out: the enable crossfades are for changes the user makes while listening, and a stage that is
// off must not be heard fading out after it has been prepared again.
void ChannelStripEffect::settleFades() {
    for (DspModule* m : modules_)
        m->fade = m->enabled.load() ? 1.0 : 0.0;
}

void ChannelStripEffect::fillNoiseTable() {
    for (double& noise : noiseTable_)
        noise = (random_.next() - 16383) / 16383.0 * kNoiseAmplitude;
}

void ChannelStripEffect::setInitialDelay(int32_t delay) {
    if (delay < 1)
        return;
    AudioEffect::setInitialDelay(delay);
    // The pad is a power-of-two ring. It changes only with the sample rate, while the audio
    // thread is kept out; announcing the same latency again (resume) leaves it alone.
    if (delay == latency_ && padLeft_ != nullptr)
        return;
    latency_ = delay;
    // One slot more than the latency: with exactly L slots a power-of-two latency (32 frames at
    // 32 kHz) would read back the sample it has just written, a delay of 0.
    padSize_ = nextPowerOfTwo(delay + 1);
    padLeft_.reset(new double[padSize_]());
    padRight_.reset(new double[padSize_]());
    padScratch_.reset(new double[padSize_]());
}

// ---- parameters ------------------------------------------------------------------------------

void ChannelStripEffect::setParameter(int32_t index, float value) {
    const std::lock_guard<std::recursive_mutex> lock(hostMutex_);
    if (index == kRefreshRequest) {
        const auto k = static_cast<int32_t>(std::trunc(value + 0.5f));
        notifyEditor(k, getParameter(k));
        return;
    }
    if (index < 0 || index > kLastEngineIndex || std::isnan(value))
        return;
    // Hosts occasionally overshoot the normalised range; the order code is range-checked itself.
    if (index != kReserved)
        value = index == kPageSlotIndex ? value : clampUnit(value);
    if (!applyParameter(index, value))
        return;
    if (index < kNumParams)
        programs_[currentProgram_].setValue(index, value);
    notifyEditor(index, value);
}

bool ChannelStripEffect::applyParameter(int32_t index, float v) {
    if (index == kReserved) {
        std::array<int32_t, 5> order{};
        if (!decodeOrderCode(v, order))
            return false;
        setModuleCode(static_cast<int32_t>(encodeOrderCode(order.data())));
    } else if (index == kPageSlotIndex) {
        const double slot = std::trunc(static_cast<double>(v) + 0.5);
        pageSlot_.store(static_cast<int32_t>(std::clamp(slot, 0.0, kPageCount - 1.0)));
    } else if (const EditorPage page = pageSelectedBy(index); page != EditorPage::None) {
        pageSlot_.store(static_cast<int32_t>(page));
    } else if (index == kDelaySyncEnable) {
        const bool on = switchOn(v);
        if (on != stages_.delay.sync()) {
            stages_.delay.setSync(on);
            // The Delay Time knob keeps its position and changes its meaning: a note value when
            // sync is now on, a free time when it is off.
            applyParameter(kDelayTime, programs_[currentProgram_].value(kDelayTime));
        }
    } else if (index == kDelayTime && stages_.delay.sync()) {
        stages_.delay.setNoteValue(v, tempo_.load(std::memory_order_relaxed));
    } else if (index >= 0 && index < kReserved) {
        kParameters[static_cast<size_t>(index)].setting.set(stages_, stageValue(index, v));
    }
    // 39..60 belong to the editor's displays and set nothing here.
    return true;
}

float ChannelStripEffect::getParameter(int32_t index) {
    if (index == kReserved)
        return static_cast<float>(orderCode_.load());
    if (index == kPageSlotIndex)
        return static_cast<float>(pageSlot_.load()) * kPageSlotStep;
    if (const EditorPage page = pageSelectedBy(index); page != EditorPage::None)
        return pageSlot_.load() == static_cast<int32_t>(page) ? 1.0f : 0.0f;
    if (index == kDelayTime && stages_.delay.sync())
        return static_cast<float>(stages_.delay.noteValue());
    if (index < 0 || index >= kReserved)
        return 0.0f;
    return normalisedFromStage(index, kParameters[static_cast<size_t>(index)].setting.get(stages_));
}

void ChannelStripEffect::getParameterLabel(int32_t index, char* label) {
    if (label != nullptr)
        toHostText(parameterLabel(index, getParameter(kDelaySyncEnable) != 0.0f), label, kDisplayChars);
}

void ChannelStripEffect::getParameterDisplay(int32_t index, char* text) {
    if (text != nullptr)
        toHostText(parameterDisplay(index, getParameter(index), getParameter(kDelaySyncEnable) != 0.0f), text,
                   kDisplayChars);
}

void ChannelStripEffect::getParameterName(int32_t index, char* text) {
    if (text != nullptr)
        parameterNameText(index, text);
}

void ChannelStripEffect::setProgram(int32_t program) {
    if (program < 0 || program >= kNumPrograms)
        return;
    const std::lock_guard<std::recursive_mutex> lock(hostMutex_);
    currentProgram_ = program;
    loadingProgram_.store(true);
    ProgramRecord& record = programs_[program];
    record.version = ProgramRecord::kVersion;
    for (int32_t i = 0; i < kNumParams; ++i)
        setParameter(i, record.values[i]);
    loadingProgram_.store(false);
    if (editor_ != nullptr)
        editor_->refreshAll();
}

// ---- programs ----------------------------------------------------------------------------------

namespace {
constexpr size_t kHostNameChars = 23;
const std::u16string kUnnamedMarker = u"---";
} // namespace

void ChannelStripEffect::fillFactoryPrograms() {
    std::strcpy(nameBuffer_, "My Program");
    if (programs_ == nullptr)
        return;
    static_assert(kNumFactoryPrograms == kNumPrograms);
    const auto& bank = factoryPrograms();
    for (int32_t n = 0; n < kNumPrograms; ++n) {
        const FactoryProgram& factory = bank[static_cast<size_t>(n)];
        std::copy(factory.values.begin(), factory.values.end(), programs_[n].values);
        const std::string_view name = factory.name;
        programs_[n].setName(std::u16string(name.begin(), name.end()));
    }
}

bool ChannelStripEffect::programNameByIndex(int32_t category, int32_t index, char* text) {
    if (text == nullptr)
        return false;
    text[0] = '\0';
    if ((category != 0 && category != -1) || index < 0 || index >= kNumPrograms)
        return false;
    const std::u16string name = programs_[index].name();
    if (name == kUnnamedMarker)
        std::snprintf(text, kHostNameChars + 1, "--- %d", index + 1);
    else
        toHostText(name, text, kHostNameChars);
    return true;
}

void ChannelStripEffect::getProgramName(char* name) {
    if (name == nullptr)
        return;
    const std::lock_guard<std::recursive_mutex> lock(hostMutex_);
    programNameByIndex(0, currentProgram_, name);
    // A program without a name shows the name buffer ("My Program" until a rename).
    if (name[0] == '\0') {
        std::strncpy(name, nameBuffer_, kHostNameChars);
        name[kHostNameChars] = '\0';
    }
}

void ChannelStripEffect::setProgramName(const char* name) {
    if (name == nullptr)
        return;
    const std::lock_guard<std::recursive_mutex> lock(hostMutex_);
    std::strncpy(nameBuffer_, name, kNameBufferChars);
    nameBuffer_[kNameBufferChars] = '\0';
    programs_[currentProgram_].setName(fromHostText(name, ProgramRecord::kNameUnits - 1));
}

void ChannelStripEffect::resetCurrentProgram() {
    const std::lock_guard<std::recursive_mutex> lock(hostMutex_);
    programs_[currentProgram_].makeBlank();
    setProgram(currentProgram_);
}

void ChannelStripEffect::sanitiseLoadedValues(ProgramRecord& program) {
    // A damaged entry keeps the current setting of its parameter; out-of-range values are held
    // to the range, and an order code that is not a permutation keeps the current order.
    for (int32_t i = 0; i < kReserved; ++i) {
        float& v = program.values[i];
        v = std::isnan(v) ? getParameter(i) : clampUnit(v);
    }
    std::array<int32_t, 5> order{};
    if (!decodeOrderCode(program.values[kReserved], order))
        program.values[kReserved] = static_cast<float>(orderCode_.load());
}

bool ChannelStripEffect::copyProgram(int32_t destination) {
    if (destination < 0 || destination >= kNumPrograms)
        return false;
    const std::lock_guard<std::recursive_mutex> lock(hostMutex_);
    if (destination != currentProgram_)
        programs_[destination] = programs_[currentProgram_];
    return true;
}

bool ChannelStripEffect::setSpeakerArrangement(const vst::VstSpeakerArrangement* input,
                                               const vst::VstSpeakerArrangement* output) {
    if (input == nullptr || output == nullptr)
        return false;
    monoInput_.store(input->numChannels == 1);
    return true;
}

namespace {
bool pinProperties(int32_t index, vst::VstPinProperties* properties, const char* format) {
    if (properties == nullptr || index < 0 || index > 1)
        return false;
    std::snprintf(properties->label, sizeof(properties->label), format, "Pellucer", index + 1);
    properties->flags = vst::kVstPinIsActive | vst::kVstPinIsStereo;
    return true;
}
} // namespace

bool ChannelStripEffect::getInputProperties(int32_t index, vst::VstPinProperties* properties) {
    return pinProperties(index, properties, "%s %1d In");
}

bool ChannelStripEffect::getOutputProperties(int32_t index, vst::VstPinProperties* properties) {
    return pinProperties(index, properties, "%s %1d Out");
}

int32_t ChannelStripEffect::canDo(const char* capability) {
    return capability != nullptr && std::strcmp(capability, "receiveVstTimeInfo") == 0 ? 1 : -1;
}

void ChannelStripEffect::notifyEditor(int32_t index, float value) {
    if (editor_ != nullptr)
        editor_->parameterChanged(index, value);
}

bool ChannelStripEffect::editorOpen() const { return editor_ != nullptr && editor_->isOpen(); }

// ---- module order ------------------------------------------------------------------------------

void ChannelStripEffect::setModuleCode(int32_t code) { orderCode_.store(code); }

int32_t ChannelStripEffect::moduleAt(int32_t position) const {
    std::array<int32_t, 5> order{};
    if (position < 0 || position > 4 || !decodeOrderCode(orderCode_.load(), order))
        return 0;
    return order[position];
}

void ChannelStripEffect::moveModule(int32_t from, int32_t to) {
    if (from < 0 || from > 4 || to < 0 || to > 5)
        return;
    const std::lock_guard<std::recursive_mutex> lock(hostMutex_);
    std::array<int32_t, 5> order{};
    if (!decodeOrderCode(orderCode_.load(), order))
        return;
    std::array<int32_t, 5> moved{};
    const int32_t module = order[from];
    int32_t n = 0;
    for (int32_t p = 0; p <= 5; ++p) {
        if (p == to)
            moved[n++] = module;
        if (p < 5 && p != from)
            moved[n++] = order[p];
    }
    setModuleCode(static_cast<int32_t>(encodeOrderCode(moved.data())));
    setParameter(kReserved, getParameter(kReserved));
}

// Only the audio thread follows and rewrites the `next` links, so a new order never meets a
// chain that is being walked.
void ChannelStripEffect::relinkIfOrderChanged() {
    const int32_t code = orderCode_.load(std::memory_order_acquire);
    if (code == linkedOrderCode_)
        return;
    std::array<int32_t, 5> order{};
    if (!decodeOrderCode(code, order))
        return;
    const std::array<int32_t, kChainModules> chain = {order[0], order[1], order[2], order[3], order[4], kModuleOutput};
    linkChain(modules_, chain);
    chainHead_ = modules_[chain[0]];
    linkedOrderCode_ = code;
}

// ---- processing --------------------------------------------------------------------------------

void ChannelStripEffect::pollHostTime() {
    const vst::VstTimeInfo* info = getTimeInfo(kTimeInfoRequest);
    if (info == nullptr)
        return;
    const double hostTempo = info->tempo;
    if (std::isfinite(hostTempo) && hostTempo > 0.0 && hostTempo != tempo_.load(std::memory_order_relaxed)) {
        stages_.delay.setNoteValue(stages_.delay.noteValue(), hostTempo);
        tempo_.store(hostTempo, std::memory_order_relaxed);
    }
    if ((info->flags & vst::kVstTransportChanged) != 0) {
        transportPlaying_ = (info->flags & vst::kVstTransportPlaying) != 0;
        // A fresh start of the transport begins from silence in every delay line and envelope.
        if (transportPlaying_)
            resetChain(chainHead_);
    }
}

void ChannelStripEffect::processReplacing(float** inputs, float** outputs, int32_t frames) {
    processBlock(inputs, outputs, frames, bypassFadeFloat_, bypassCoefficientFloat_);
}

void ChannelStripEffect::processDoubleReplacing(double** inputs, double** outputs, int32_t frames) {
    processBlock(inputs, outputs, frames, bypassFadeDouble_, bypassCoefficientDouble_);
}

template <typename Sample>
void ChannelStripEffect::processBlock(Sample** inputs, Sample** outputs, int32_t frames, Sample& bypassFade,
                                      Sample bypassCoefficient) {
    const bool callable = frames >= 0 && frames < kMaxBlockFrames && inputs != nullptr && outputs != nullptr &&
                          inputs[0] != nullptr && outputs[0] != nullptr;
    // A block the engine cannot run now (a rate change or a program load owns the stages) still
    // owes the host its outputs: silence, never what the host's buffers held before (in place,
    // that is the raw input, NaN included). A call a host should not make is left alone.
    const auto skip = [&] {
        if (callable)
            for (Sample* out : {outputs[0], outputs[1]})
                if (out != nullptr)
                    std::fill(out, out + frames, Sample(0));
        inProcess_.store(false);
    };
    inProcess_.store(true);
    // A rate change in progress owns the stages: don't touch anything, not even the tempo.
    if (!processingEnabled_.load())
        return skip();
    relinkIfOrderChanged();
    pollHostTime();
    if (loadingProgram_.load() || !callable)
        return skip();
    // From here on no host code runs until we return (the time query above is the host's).
    const AudioFloatMode floatMode;
    runBlock(inputs, outputs, frames, bypassFade, bypassCoefficient);
    inProcess_.store(false);
}

template <typename Sample>
void ChannelStripEffect::runBlock(Sample** inputs, Sample** outputs, int32_t frames, Sample& bypassFade,
                                  Sample bypassCoefficient) {
    // A host that hands us one channel gets the mono path; the second output, when there is
    // one, carries the same signal as the first.
    const bool mono = monoInput_.load(std::memory_order_relaxed) || inputs[1] == nullptr;
    const Sample* inL = inputs[0];
    const Sample* inR = mono ? inputs[0] : inputs[1];
    Sample* outL = outputs[0];
    Sample* outR = outputs[1];
    const bool enabled = stages_.plugInEnabled.load(std::memory_order_relaxed);

    if (!enabled && bypassFade <= static_cast<Sample>(kFadeSnap)) {
        if (bypassFade != 0) {
            resetChain(chainHead_);
            bypassFade = 0;
        }
        admitInto(outL, inL, frames);
        if (outR != nullptr)
            admitInto(outR, inR, frames);
        for (auto& meter : levelMeters_)
            meter.store(0.0f, std::memory_order_relaxed);
    } else {
        // Longer than the host announced: the one case where the audio thread grows a buffer.
        if (frames > workCapacity_)
            growBuffers(frames);
        double* wl = workLeft_.get();
        double* wr = workRight_.get();
        // The meters are read by the editor alone: without one, their peaks are not worked out.
        const bool meters = editorOpen();
        const auto noiseStart = static_cast<uint32_t>(frameCounter_);
        takeInput(wl, inL, noiseStart, frames);
        if (!mono)
            takeInput(wr, inR, noiseStart, frames);

        runChain(&stages_.inputTube, wl, wr, frameCounter_, frames, mono);
        double peakInL = 0.0, peakInR = 0.0;
        if (meters) {
            peakInL = peakMagnitude(wl, frames);
            peakInR = mono ? peakInL : peakMagnitude(wr, frames);
        }

        runChain(chainHead_, wl, wr, frameCounter_, frames, mono);

        // Output with the plug-in bypass fade against the host's own input, frame by frame while
        // it moves; once it has settled on the processed signal, the rest of the block is that.
        const Sample snap = static_cast<Sample>(kFadeSnap);
        Sample g = bypassFade;
        Sample peakOutL = 0, peakOutR = 0;
        int32_t i = 0;
        for (; i < frames && !(enabled && 1 - g < snap); ++i) {
            const Sample dryL = admitSample(inL[i]);
            const Sample dryR = admitSample(inR[i]);
            const auto wetL = static_cast<Sample>(wl[i]);
            const auto wetR = static_cast<Sample>(mono ? wl[i] : wr[i]);
            const Sample l = (1 - g) * dryL + g * wetL;
            const Sample r = (1 - g) * dryR + g * wetR;
            g = enabled ? g + (1 - g) * bypassCoefficient : g - bypassCoefficient * g;
            outL[i] = l;
            if (outR != nullptr)
                outR[i] = r;
            peakOutL = std::max(peakOutL, static_cast<Sample>(std::fabs(l)));
            peakOutR = std::max(peakOutR, static_cast<Sample>(std::fabs(r)));
        }
        if (i < frames) {
            g = 1;
            const int32_t rest = frames - i;
            const double* wetR = mono ? wl : wr;
            giveOutput(outL + i, wl + i, rest);
            if (outR != nullptr)
                giveOutput(outR + i, wetR + i, rest);
            if (meters) {
                // Rounding to the output's precision keeps the order of magnitudes.
                peakOutL = std::max(peakOutL, static_cast<Sample>(peakMagnitude(wl + i, rest)));
                peakOutR = std::max(peakOutR, static_cast<Sample>(peakMagnitude(wetR + i, rest)));
            }
        }
        bypassFade = g;

        if (meters) {
            levelMeters_[0].store(static_cast<float>(peakInL), std::memory_order_relaxed);
            levelMeters_[1].store(static_cast<float>(peakInR), std::memory_order_relaxed);
            levelMeters_[2].store(static_cast<float>(peakOutL), std::memory_order_relaxed);
            levelMeters_[3].store(static_cast<float>(peakOutR), std::memory_order_relaxed);
        }
    }

    // The pad delays by L minus the de-esser's own latency, so the total is always L.
    const int32_t offset = stages_.deEsser.stageLatency() + (padSize_ - latency_);
    const int32_t delay = (padSize_ - offset) & (padSize_ - 1);
    applyLatencyPad(outL, padLeft_.get(), frames, delay);
    if (outR != nullptr)
        applyLatencyPad(outR, padRight_.get(), frames, delay);

    frameCounter_ += static_cast<uint64_t>(frames);
}

template <typename Sample>
void ChannelStripEffect::takeInput(double* work, const Sample* in, uint32_t noiseStart, int32_t frames) const {
    // The noise table is read in at most two straight runs, split where it wraps.
    for (int32_t i = 0; i < frames;) {
        const uint32_t at = (noiseStart + static_cast<uint32_t>(i)) & (kNoiseTableSize - 1);
        const int32_t run = std::min(frames - i, kNoiseTableSize - static_cast<int32_t>(at));
        admitWithNoise(work + i, in + i, noiseTable_.data() + at, run);
        i += run;
    }
}

// The pad is a ring of the last padSize_ output samples, indexed by the frame counter; the output
// is what went in `delay` frames earlier (0 <= delay < padSize_). A block is handled as whole runs:
// the first `delay` frames come from the ring, the rest is the block itself moved along, and the
// block's end is kept in the ring for the next one.
template <typename Sample>
void ChannelStripEffect::applyLatencyPad(Sample* out, double* pad, int32_t frames, int32_t delay) const {
    const uint32_t mask = static_cast<uint32_t>(padSize_) - 1;
    const auto start = static_cast<uint32_t>(frameCounter_);
    const int32_t early = std::min(frames, delay);
    double* fromRing = padScratch_.get();
    for (int32_t i = 0; i < early; ++i)
        fromRing[i] = pad[(start + static_cast<uint32_t>(i - delay)) & mask];
    const int32_t kept = std::min(frames, padSize_);
    for (int32_t i = frames - kept; i < frames; ++i)
        pad[(start + static_cast<uint32_t>(i)) & mask] = static_cast<double>(out[i]);
    if (frames > delay)
        std::memmove(out + delay, out, sizeof(Sample) * static_cast<size_t>(frames - delay));
    for (int32_t i = 0; i < early; ++i)
        out[i] = static_cast<Sample>(fromRing[i]);
}

// ---- meters ------------------------------------------------------------------------------------

float ChannelStripEffect::companderMeter(int32_t index) const {
    if (!stages_.plugInEnabled.load())
        return 1.0f;
    if (index != kMeterCompanderOvershoot)
        return 0.0f;
    if (!stages_.compander.enabled.load())
        return 1.0f;
    return static_cast<float>(stages_.compander.overshoot());
}

float ChannelStripEffect::companderMeters(int32_t index) const {
    if (!stages_.plugInEnabled.load() || !stages_.compander.enabled.load())
        return 1.0f;
    if (index == kMeterCompressorGain)
        return static_cast<float>(stages_.compander.compressorGain());
    if (index == kMeterExpanderGain)
        return static_cast<float>(stages_.compander.expanderGain());
    return 1.0f;
}

void ChannelStripEffect::resetMeter(int32_t index) {
    if (index == kMeterCompanderOvershoot)
        notifyEditor(index, 0.0f);
}

void ChannelStripEffect::openHelp() const { pellucer::openHelp(); }

bool ChannelStripEffect::curve(StripCurve which, double* points) const {
    switch (which) {
    case StripCurve::DeEsserHighBand: return stages_.deEsser.curve(DeEsserCurve::HighBand, points, kCurvePoints);
    case StripCurve::DeEsserLowBand: return stages_.deEsser.curve(DeEsserCurve::LowBand, points, kCurvePoints);
    case StripCurve::CompanderTransfer: return stages_.compander.transferCurve(points, kCurvePoints);
    case StripCurve::Equaliser: return stages_.equaliser.responseCurve(points, kCurvePoints);
    case StripCurve::DelayFilter: return stages_.delay.filterCurve(points, kCurvePoints);
    }
    return false;
}

float ChannelStripEffect::meterValue(int32_t id) {
    if (!stages_.plugInEnabled.load() || id < kMeterInputTube || id > kMeterOutputRight)
        return 0.0f;
    float& memory = meterMemory_[id];

    auto tubeLaw = [&memory](double envelope) {
        const auto u = static_cast<float>(std::pow(std::clamp(envelope, 0.0, 1.0), kTubeMeterExponent));
        memory = std::max(u, kTubeMeterDecay * memory);
        return memory;
    };
    auto levelLaw = [&memory](float peak) {
        const float x = std::clamp(peak, 0.0f, 1.0f);
        if (x == 0.0f)
            return memory = 0.0f;
        const auto m = static_cast<float>((20.0 * std::log10(x) + kLevelMeterRangeDb) / kLevelMeterRangeDb);
        float shown = std::max(m, kLevelMeterDecay * memory);
        if (std::fabs(shown - m) < kMeterSnap)
            shown = m;
        return memory = std::clamp(shown, 0.0f, 1.0f);
    };
    // Gain reduction: the memory holds the gain position (1 = no reduction); a deeper reduction
    // is shown at once, a recovery halfway per read.
    auto reductionLaw = [&memory](double gain) {
        const double x = std::clamp(gain, 0.0, 1.0);
        if (x == 0.0) {
            memory = 0.0f;
            return 1.0f;
        }
        const auto m = static_cast<float>((20.0 * std::log10(x) + kReductionMeterRangeDb) / kReductionMeterRangeDb);
        float s = std::min(memory + 0.5f * (m - memory), m);
        if (std::fabs(s - m) < kMeterSnap)
            s = m;
        memory = std::clamp(s, 0.0f, 1.0f);
        return 1.0f - memory;
    };
    auto reductionIdle = [&memory]() {
        memory = 1.0f;
        return 0.0f;
    };

    switch (id) {
    case kMeterInputTube: return tubeLaw(stages_.inputTube.shapingOff() ? 0.0 : stages_.inputTube.envelope());
    case kMeterEqTube:
        return tubeLaw(stages_.equaliser.tubeLow() || stages_.equaliser.tubeMid() || stages_.equaliser.tubeHigh()
                           ? stages_.equaliser.tube().envelope()
                           : 0.0);
    case kMeterOutputTube: return tubeLaw(stages_.outputTube.shapingOff() ? 0.0 : stages_.outputTube.envelope());
    case kMeterCompressorGain:
        return stages_.compander.enabled.load() ? reductionLaw(stages_.compander.compressorGain())
                                                : reductionIdle();
    case kMeterExpanderGain:
        return stages_.compander.enabled.load() ? reductionLaw(stages_.compander.expanderGain())
                                                : reductionIdle();
    case kMeterDeEsserGain:
        return stages_.deEsser.enabled.load() ? reductionLaw(stages_.deEsser.gain()) : reductionIdle();
    case kMeterInputLeft: return levelLaw(levelMeters_[0].load(std::memory_order_relaxed));
    case kMeterInputRight: return levelLaw(levelMeters_[1].load(std::memory_order_relaxed));
    case kMeterOutputLeft: return levelLaw(levelMeters_[2].load(std::memory_order_relaxed));
    case kMeterOutputRight: return levelLaw(levelMeters_[3].load(std::memory_order_relaxed));
    default: return 0.0f;
    }
}

} // namespace pellucer
