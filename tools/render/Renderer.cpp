#include "tools/render/Renderer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "core/ChannelStripEffect.h"

namespace pellucer::render {

namespace {

// What the engine learns when it asks the host for its version: a VST 2.4 host.
constexpr vst::VstIntPtr kHostVersion = 2400;
constexpr int kProgressWidth = 40;

std::string decibels(double linear) {
    if (!(linear > 0.0))
        return "-inf";
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f", 20.0 * std::log10(linear));
    return text;
}

void showProgress(int64_t done, int64_t total, int& shownPercent) {
    const int percent = total > 0 ? static_cast<int>(std::min<int64_t>(100, done * 100 / total)) : 100;
    if (percent == shownPercent)
        return;
    shownPercent = percent;
    const int filled = percent * kProgressWidth / 100;
    std::fprintf(stderr, "\rpellucer-render %3d%% [%s%s]", percent,
                 std::string(static_cast<size_t>(filled), '#').c_str(),
                 std::string(static_cast<size_t>(kProgressWidth - filled), '.').c_str());
    std::fflush(stderr);
}

void clearProgress() {
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
}

} // namespace

// ---- host --------------------------------------------------------------------------------------

RenderHost::RenderHost(double tempoBpm, double sampleRate) {
    time_.tempo = tempoBpm;
    time_.sampleRate = sampleRate;
    time_.timeSigNumerator = 4;
    time_.timeSigDenominator = 4;
}

vst::VstIntPtr RenderHost::callback(vst::AEffect* effect, vst::VstInt32 opcode, vst::VstInt32, vst::VstIntPtr,
                                    void*, float) {
    if (opcode == vst::audioMasterVersion)
        return kHostVersion;
    auto* host = effect != nullptr ? static_cast<RenderHost*>(effect->user) : nullptr;
    if (host != nullptr && opcode == vst::audioMasterGetTime)
        return reinterpret_cast<vst::VstIntPtr>(&host->time_);
    return 0;
}

void RenderHost::attach(ChannelStripEffect& effect) { effect.getAeffect()->user = this; }

void RenderHost::beginStoppedBlock() {
    time_.samplePos = 0.0;
    time_.ppqPos = 0.0;
    time_.flags = vst::kVstTempoValid | vst::kVstPpqPosValid | vst::kVstTimeSigValid;
}

void RenderHost::beginBlock(int64_t position) {
    time_.samplePos = static_cast<double>(position);
    time_.ppqPos = time_.samplePos / time_.sampleRate * time_.tempo / 60.0;
    time_.flags =
        vst::kVstTransportPlaying | vst::kVstTempoValid | vst::kVstPpqPosValid | vst::kVstTimeSigValid;
    // Playback starts with the first block, as when a host starts its transport at the top.
    if (position == 0)
        time_.flags |= vst::kVstTransportChanged;
}

void prepareEngine(ChannelStripEffect& effect, float sampleRate, int32_t blockFrames, bool monoInput) {
    effect.setSampleRate(sampleRate);
    effect.setBlockSize(blockFrames);
    vst::VstSpeakerArrangement input{};
    vst::VstSpeakerArrangement output{};
    input.numChannels = monoInput ? 1 : 2;
    output.numChannels = monoInput ? 1 : 2;
    effect.setSpeakerArrangement(&input, &output);
}

// ---- figures -----------------------------------------------------------------------------------

void LevelStats::add(const float* data, int64_t count) {
    double p = peak;
    double sum = 0.0;
    int64_t skipped = 0;
    for (int64_t i = 0; i < count; ++i) {
        const double x = data[i];
        if (!std::isfinite(x)) {
            ++skipped;
            continue;
        }
        p = std::max(p, std::fabs(x));
        sum += x * x;
    }
    peak = p;
    sumOfSquares += sum;
    samples += count - skipped;
    nonFinite += skipped;
}

double LevelStats::peakDb() const { return peak > 0.0 ? 20.0 * std::log10(peak) : -HUGE_VAL; }

double LevelStats::rmsDb() const {
    return samples > 0 && sumOfSquares > 0.0 ? 10.0 * std::log10(sumOfSquares / static_cast<double>(samples))
                                             : -HUGE_VAL;
}

std::string RenderSummary::line() const {
    auto level = [](const LevelStats& s) {
        return "peak " + decibels(s.peak) + " dBFS rms " +
               decibels(s.samples > 0 ? std::sqrt(s.sumOfSquares / static_cast<double>(s.samples)) : 0.0) +
               " dBFS";
    };
    std::string text = "in " + level(input) + "; out " + level(output) + "; gain reduction: ";
    text += compander
                ? "compressor " + decibels(compressorGain) + " dB, expander " + decibels(expanderGain) + " dB"
                : std::string("compander off");
    text += deEsser ? ", de-esser " + decibels(deEsserGain) + " dB" : std::string(", de-esser off");
    auto count = [](int64_t n, const char* kind, const char* what) {
        return "; " + std::to_string(n) + kind + (n == 1 ? " sample " : " samples ") + what;
    };
    if (clippedSamples > 0)
        text += count(clippedSamples, "", "clipped at full scale");
    if (input.nonFinite > 0)
        text += count(input.nonFinite, " non-finite input", "(NaN or infinite) rendered as silence");
    return text;
}

// ---- render loop -------------------------------------------------------------------------------

bool renderFile(ChannelStripEffect& effect, RenderHost& host, AudioReader& reader, AudioWriter& writer,
                const RenderPlan& plan, RenderSummary& summary, std::string& error) {
    const int32_t inChannels = reader.format().channels;
    const int32_t outChannels = plan.outputChannels;
    const auto block = static_cast<size_t>(plan.blockFrames);
    const int64_t latency = effect.latency();

    std::vector<float> interleavedIn(block * static_cast<size_t>(inChannels));
    std::vector<float> interleavedOut(block * static_cast<size_t>(outChannels));
    std::vector<float> inLeft(block), inRight(block), outLeft(block), outRight(block);
    // A mono input feeds both inputs, as hosts do; the strip reads the second only in stereo.
    float* inputs[2] = {inLeft.data(), inChannels == 1 ? inLeft.data() : inRight.data()};
    float* outputs[2] = {outLeft.data(), outRight.data()};

    summary = RenderSummary{};
    summary.compander = effect.getParameter(kCompanderEnable) > 0.5f;
    summary.deEsser = effect.getParameter(kDeEsserEnable) > 0.5f;
    const int64_t expectedTotal = reader.frames() + plan.tailFrames + latency;
    int shownPercent = -1;

    std::fill(inLeft.begin(), inLeft.end(), 0.0f);
    std::fill(inRight.begin(), inRight.end(), 0.0f);
    for (int64_t done = 0; done < plan.prerollFrames;) {
        const int64_t frames = std::min<int64_t>(static_cast<int64_t>(block), plan.prerollFrames - done);
        host.beginStoppedBlock();
        effect.processReplacing(inputs, outputs, static_cast<int32_t>(frames));
        done += frames;
    }

    bool inputDone = false;
    int64_t inputFrames = 0;
    int64_t end = -1; // frames to process in all, known once the input has ended
    for (int64_t position = 0; end < 0 || position < end;) {
        if (plan.stop != nullptr && plan.stop->load()) {
            if (plan.showProgress)
                clearProgress();
            error = "interrupted";
            return false;
        }
        int64_t frames = static_cast<int64_t>(block);
        if (end >= 0)
            frames = std::min(frames, end - position);
        int64_t got = 0;
        if (!inputDone) {
            got = reader.read(interleavedIn.data(), frames);
            if (got < 0) {
                error = "read error after " + std::to_string(inputFrames) + " frames";
                return false;
            }
            summary.input.add(interleavedIn.data(), got * inChannels);
            inputFrames += got;
            if (got < frames) {
                inputDone = true;
                end = inputFrames + plan.tailFrames + latency;
                frames = std::min(frames, end - position);
            }
        }
        for (int64_t i = 0; i < frames; ++i) {
            const bool live = i < got;
            const auto n = static_cast<size_t>(i);
            inLeft[n] = live ? interleavedIn[n * static_cast<size_t>(inChannels)] : 0.0f;
            if (inChannels == 2)
                inRight[n] = live ? interleavedIn[n * 2 + 1] : 0.0f;
        }
        if (frames == 0)
            break;

        host.beginBlock(position);
        effect.processReplacing(inputs, outputs, static_cast<int32_t>(frames));
        if (summary.compander) {
            summary.compressorGain = std::min(summary.compressorGain, effect.compander().compressorGain());
            summary.expanderGain = std::min(summary.expanderGain, effect.compander().expanderGain());
        }
        if (summary.deEsser)
            summary.deEsserGain = std::min(summary.deEsserGain, effect.deEsser().gain());

        // The first `latency` frames of the strip's output come before the first input frame.
        const int64_t skip = std::clamp<int64_t>(latency - position, 0, frames);
        const int64_t keep = frames - skip;
        for (int64_t i = 0; i < keep; ++i) {
            const auto from = static_cast<size_t>(skip + i);
            const auto to = static_cast<size_t>(i) * static_cast<size_t>(outChannels);
            if (outChannels == 2) {
                interleavedOut[to] = outLeft[from];
                // A mono input in a mono strip has one output; made stereo it ran in stereo.
                interleavedOut[to + 1] = outRight[from];
            } else {
                interleavedOut[to] =
                    inChannels == 1 ? outLeft[from] : 0.5f * (outLeft[from] + outRight[from]);
            }
        }
        const int64_t samples = keep * outChannels;
        summary.output.add(interleavedOut.data(), samples);
        if (plan.integerOutput)
            for (int64_t i = 0; i < samples; ++i)
                summary.clippedSamples += std::fabs(interleavedOut[static_cast<size_t>(i)]) > 1.0f ? 1 : 0;
        if (keep > 0 && !writer.write(interleavedOut.data(), keep, error))
            return false;
        summary.outputFrames += keep;
        position += frames;
        if (plan.showProgress)
            showProgress(position, std::max(expectedTotal, position), shownPercent);
    }
    if (plan.showProgress)
        clearProgress();
    summary.inputFrames = inputFrames;
    return true;
}

} // namespace pellucer::render
