#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "core/CrtRandom.h"
#include "core/Parameters.h"
#include "core/PlugInBase.h"
#include "core/StripStages.h"
#include "dsp/ModuleChain.h"

namespace pellucer {

/// Meter ids of the editor's meter read-out.
enum MeterId : int32_t {
    kMeterInputTube = 42,
    kMeterEqTube = 43,
    kMeterOutputTube = 44,
    kMeterCompressorGain = 45,
    kMeterExpanderGain = 46,
    kMeterCompanderOvershoot = 47,
    kMeterDeEsserGain = 48,
    kMeterInputLeft = 49,
    kMeterInputRight = 50,
    kMeterOutputLeft = 51,
    kMeterOutputRight = 52,
};

/// The channel strip at run time: the seven stages, the module order, parameter mapping, block
/// processing with its bypass fade and constant latency, meters and the program bank.
///
/// Threads: the process entries run on the host's audio thread and take no lock; they read the
/// stages' atomic settings. Parameters, programs, state chunks and the sample rate may come from
/// any other thread; those calls take turns on the host-side mutex (PlugInBase::hostMutex_) and
/// write the stages' settings. setSampleRate waits for a running block to finish: three flags (in
/// process, processing enabled, loading program) keep the audio thread away from rate changes
/// and program loads, and a new module order is linked into the chain by the audio thread itself.
/// The curves the editor draws.
enum class StripCurve : int32_t { DeEsserHighBand, DeEsserLowBand, CompanderTransfer, Equaliser, DelayFilter };

class ChannelStripEffect : public PlugInBase {
public:
    static constexpr int32_t kNumPrograms = 61;
    /// Blocks this long or longer are not processed.
    static constexpr int32_t kMaxBlockFrames = 32768;
    static constexpr int32_t kInitialWorkFrames = 4096;
    static constexpr int32_t kNoiseTableSize = 16384;
    /// Peak of the anti-denormal noise added to the input (about -140 dBFS).
    static constexpr double kNoiseAmplitude = 1e-7;
    /// Host time request: transport changed and playing, ppq position and tempo valid.
    static constexpr int32_t kTimeInfoRequest = 0x603;

    /// `editorFactory` makes the strip's editor; null for an effect without one (the tools, and
    /// builds without a user interface).
    explicit ChannelStripEffect(vst::audioMasterCallback host, EditorFactory editorFactory = nullptr);
    ~ChannelStripEffect() override;

    // -- host-facing operations ------------------------------------------------------------
    void resume() override;
    void setSampleRate(float sampleRate) override;
    /// Stores the host's longest block and grows the work and dry buffers to it, so that blocks
    /// up to that length never make the audio thread allocate (a longer block still grows them
    /// there). Waits for a running block to finish, as a rate change does.
    void setBlockSize(int32_t blockSize) override;
    void processReplacing(float** inputs, float** outputs, int32_t frames) override;
    void processDoubleReplacing(double** inputs, double** outputs, int32_t frames) override;
    void setParameter(int32_t index, float value) override;
    float getParameter(int32_t index) override;
    void setProgram(int32_t program) override;
    /// Unit label, value text (at most 8 characters) and name (at most 31) for a host.
    void getParameterLabel(int32_t index, char* label) override;
    void getParameterDisplay(int32_t index, char* text) override;
    void getParameterName(int32_t index, char* text) override;
    void setInitialDelay(int32_t delay) override;
    /// With both arrangements given: mono input = one input channel; answers true.
    bool setSpeakerArrangement(const vst::VstSpeakerArrangement* input,
                               const vst::VstSpeakerArrangement* output) override;
    /// Copies the current program (header, values, name) to `destination` 0..60.
    bool copyProgram(int32_t destination) override;
    /// Pins 0 and 1: "Pellucer 1 In" / "Pellucer 2 Out", active and stereo.
    bool getInputProperties(int32_t index, vst::VstPinProperties* properties) override;
    bool getOutputProperties(int32_t index, vst::VstPinProperties* properties) override;
    /// "receiveVstTimeInfo" is the one capability: 1; anything else -1.
    int32_t canDo(const char* capability) override;
    /// Renames the current program (at most 24 characters are kept in the name buffer).
    void setProgramName(const char* name) override;
    /// The current program's name for a host: at most 23 characters plus a terminator.
    void getProgramName(char* name) override;
    /// Name of program `index` for category 0 or -1; false (and an empty text) otherwise.
    bool programNameByIndex(int32_t category, int32_t index, char* text);
    /// Turns the current program into a blank one and applies it.
    void resetCurrentProgram();

    // -- editor queries ------------------------------------------------------------------------
    /// The meter read-out with its ballistics; each call advances the meter's memory. UI thread.
    float meterValue(int32_t id);
    /// Points on one of the editor's curves, kCurvePoints pairs as 2 * kCurvePoints doubles:
    /// (Hz, dB) for the filters, (input dB, output dB) of the compander's static curve with its
    /// make-up. False (nothing written) for a null array or an unknown curve. Any thread.
    static constexpr int32_t kCurvePoints = 50;
    bool curve(StripCurve which, double* points) const;
    /// Compressor and expander thresholds in dB.
    void companderThresholds(double& compressorDb, double& expanderDb) const {
        compressorDb = stages_.compander.compressorThresholdDb();
        expanderDb = stages_.compander.expanderThresholdDb();
    }
    /// The compander's attack-overshoot indicator for index 47 (1.0 while the plug-in or the
    /// compander is off), 0.0 for any other index.
    float companderMeter(int32_t index) const;
    /// The compressor's (45) or expander's (46) smoothed gain; 1.0 while the plug-in or the
    /// compander is off and for any other index.
    float companderMeters(int32_t index) const;
    /// Index 47: tells the editor to clear its overshoot display; other indices do nothing.
    void resetMeter(int32_t index);
    /// Opens the help file (Windows; nothing where there is no help viewer).
    void openHelp() const;

    /// Module number at position 0..4 of the order, 0 for other positions.
    int32_t moduleAt(int32_t position) const;
    /// Takes the module at position `from` (0..4) out and reinserts it before the one that was at
    /// `to` (0..5; 5 puts it last), then applies and stores the new order code.
    void moveModule(int32_t from, int32_t to);

    // -- state that tests and shells read ---------------------------------------------------------
    float engineSampleRate() const { return engineSampleRate_; }
    int32_t latency() const { return latency_; }
    bool monoInput() const { return monoInput_.load(std::memory_order_relaxed); }
    double tempo() const { return tempo_.load(std::memory_order_relaxed); }
    uint64_t frameCounter() const { return frameCounter_; }
    int32_t pageSlot() const { return pageSlot_.load(std::memory_order_relaxed); }
    /// True while a program is being applied: the editor then leaves its value texts alone.
    bool loadingProgram() const { return loadingProgram_.load(); }
    const std::array<double, kNoiseTableSize>& noiseTable() const { return noiseTable_; }

    const TubeStage& inputTube() const { return stages_.inputTube; }
    const TubeStage& outputTube() const { return stages_.outputTube; }
    const Compander& compander() const { return stages_.compander; }
    const ThreeBandEq& equaliser() const { return stages_.equaliser; }
    const DeEsser& deEsser() const { return stages_.deEsser; }
    const Doubler& doubler() const { return stages_.doubler; }
    const TempoDelay& delay() const { return stages_.delay; }

protected:
    bool initialise() override;
    void release() override;
    void sanitiseLoadedValues(ProgramRecord& program) override;

private:
    void fillFactoryPrograms();
    // Converts a normalised value into a stage setting. Answers false when the value was refused
    // (an order code that is not a permutation), so that it is neither stored nor announced.
    bool applyParameter(int32_t index, float value);
    void setModuleCode(int32_t code);
    void fillNoiseTable();
    void prepareStages(float sampleRate);
    // Turns new blocks away and waits for a running one to end; processingEnabled_ lets them in again.
    void keepAudioOut();
    // Grows the work buffers and every stage's dry buffers to at least `frames`.
    void growBuffers(int32_t frames);
    void settleFades();
    void relinkIfOrderChanged();
    void pollHostTime();
    void notifyEditor(int32_t index, float value);
    bool editorOpen() const;

    template <typename Sample>
    void processBlock(Sample** inputs, Sample** outputs, int32_t frames, Sample& bypassFade, Sample bypassCoefficient);
    // A block the engine can run now, with the floating-point mode set.
    template <typename Sample>
    void runBlock(Sample** inputs, Sample** outputs, int32_t frames, Sample& bypassFade, Sample bypassCoefficient);
    template <typename Sample>
    void takeInput(double* work, const Sample* in, uint32_t noiseStart, int32_t frames) const;
    template <typename Sample>
    void applyLatencyPad(Sample* out, double* pad, int32_t frames, int32_t delay) const;

    /// The host's tempo as the audio thread last read it; parameter calls read it too.
    std::atomic<double> tempo_{0.0};
    float engineSampleRate_ = 0.0f;
    std::atomic<bool> inProcess_{false};
    std::atomic<bool> processingEnabled_{true};
    std::atomic<bool> loadingProgram_{false};
    std::atomic<bool> monoInput_{false};
    bool transportPlaying_ = false;

    // The plug-in switch and the seven stages: what the parameters drive.
    StripStages stages_;

    std::array<DspModule*, kChainModules> modules_{};
    /// The module order as an order code (12345 = default); written by any thread, linked into the
    /// chain by the audio thread.
    std::atomic<int32_t> orderCode_{12345};
    int32_t linkedOrderCode_ = 0;
    DspModule* chainHead_ = nullptr;

    // Latency pad.
    int32_t latency_ = 0;
    int32_t padSize_ = 0;
    std::unique_ptr<double[]> padLeft_;
    std::unique_ptr<double[]> padRight_;
    std::unique_ptr<double[]> padScratch_; // the first frames of a block, read from the ring

    CrtRandom random_;
    std::array<double, kNoiseTableSize> noiseTable_{};

    std::unique_ptr<double[]> workLeft_;
    std::unique_ptr<double[]> workRight_;
    int32_t workCapacity_ = 0;
    uint64_t frameCounter_ = 0;

    float bypassFadeFloat_ = 1.0f;
    float bypassCoefficientFloat_ = 0.0f;
    double bypassFadeDouble_ = 1.0;
    double bypassCoefficientDouble_ = 0.0;

    // Level meters as published for the editor: input left/right, output left/right.
    std::array<std::atomic<float>, 4> levelMeters_{};
    // Memories of the meter read-out, indexed by meter id.
    std::array<float, kMeterOutputRight + 1> meterMemory_{};

    std::atomic<int32_t> pageSlot_{2};
};

} // namespace pellucer
