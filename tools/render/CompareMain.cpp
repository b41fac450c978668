// pellucer-compare A B: the largest sample difference between two audio files, after lining
// them up (a host that compensates latency may start its render a few frames off). Used by the
// host check to hold pellucer-render against the plug-in in a real host.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/render/AudioFile.h"
#include "tools/render/ValueParser.h"

namespace {

using namespace pellucer::render;

constexpr int kExitSame = 0;
constexpr int kExitDifferent = 1;
constexpr int kExitUsage = 2;
constexpr double kDefaultTolerance = 1e-5;
constexpr int64_t kDefaultMaxOffset = 8192;
// The first frame louder than this fraction of the quieter file's peak marks where the sound
// starts (one threshold for both, so that the same sound starts at the same frame).
constexpr double kOnsetFraction = 0.01;
constexpr int64_t kOffsetRefinement = 2;

struct Audio {
    AudioFormat format;
    std::vector<float> samples;
    int64_t frames() const { return static_cast<int64_t>(samples.size()) / format.channels; }
};

bool load(const std::string& path, Audio& audio, std::string& error) {
    AudioReader reader;
    if (!reader.open(path, error))
        return false;
    audio.format = reader.format();
    std::vector<float> block(static_cast<size_t>(4096 * audio.format.channels));
    for (;;) {
        const int64_t n = reader.read(block.data(), 4096);
        if (n < 0) {
            error = "read error";
            return false;
        }
        if (n == 0)
            break;
        audio.samples.insert(audio.samples.end(), block.begin(), block.begin() + n * audio.format.channels);
    }
    return true;
}

float peak(const Audio& audio) {
    float p = 0.0f;
    for (float x : audio.samples)
        p = std::max(p, std::fabs(x));
    return p;
}

// The first frame louder than `threshold`, or -1.
int64_t onset(const Audio& audio, float threshold) {
    for (size_t i = 0; i < audio.samples.size(); ++i)
        if (std::fabs(audio.samples[i]) > threshold)
            return static_cast<int64_t>(i) / audio.format.channels;
    return -1;
}

struct Difference {
    double max = 0.0;
    int64_t frame = 0;
    int32_t channel = 0;
    int64_t frames = 0;
    float a = 0.0f, b = 0.0f; ///< the samples at the largest difference
};

// Samples differ by their distance; a NaN on either side, or an infinity that the other side does
// not match, differs infinitely.
double sampleDifference(float a, float b) {
    if (a == b)
        return 0.0;
    const double d = std::fabs(static_cast<double>(a) - b);
    return std::isfinite(d) ? d : HUGE_VAL;
}

// b[frame + offset] against a[frame], over the frames both have.
Difference compare(const Audio& a, const Audio& b, int64_t offset) {
    Difference d;
    const int32_t channels = a.format.channels;
    const int64_t first = std::max<int64_t>(0, -offset);
    const int64_t last = std::min(a.frames(), b.frames() - offset);
    for (int64_t f = first; f < last; ++f)
        for (int32_t c = 0; c < channels; ++c) {
            const float x = a.samples[static_cast<size_t>(f * channels + c)];
            const float y = b.samples[static_cast<size_t>((f + offset) * channels + c)];
            const double diff = sampleDifference(x, y);
            if (diff > d.max)
                d = {diff, f, c, 0, x, y};
        }
    d.frames = std::max<int64_t>(0, last - first);
    return d;
}

void usage() {
    std::fputs("Usage: pellucer-compare [--tolerance X] [--offset N | --max-offset N] A B\n"
               "Prints the largest sample difference between two audio files with the same channel count,\n"
               "B shifted by N frames (found from where the sound starts unless --offset is given).\n"
               "Exit status 0 when it is at most X (default 1e-5), 1 when larger, 2 on errors.\n",
               stderr);
}

} // namespace

int main(int argc, char** argv) {
    double tolerance = kDefaultTolerance;
    double maxOffset = static_cast<double>(kDefaultMaxOffset);
    bool offsetGiven = false;
    double fixedOffset = 0.0;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        double* target = argument == "--tolerance"    ? &tolerance
                         : argument == "--max-offset" ? &maxOffset
                         : argument == "--offset"     ? &fixedOffset
                                                      : nullptr;
        if (target != nullptr) {
            if (i + 1 >= argc || !parseNumber(argv[i + 1], *target)) {
                usage();
                return kExitUsage;
            }
            offsetGiven = offsetGiven || argument == "--offset";
            ++i;
        } else if (!argument.empty() && argument[0] == '-') {
            usage();
            return kExitUsage;
        } else {
            files.push_back(argument);
        }
    }
    if (files.size() != 2) {
        usage();
        return kExitUsage;
    }
    Audio a, b;
    std::string error;
    for (int k = 0; k < 2; ++k)
        if (!load(files[static_cast<size_t>(k)], k == 0 ? a : b, error)) {
            std::fprintf(stderr, "pellucer-compare: %s: %s\n", files[static_cast<size_t>(k)].c_str(),
                         error.c_str());
            return kExitUsage;
        }
    if (a.format.channels != b.format.channels) {
        std::fprintf(stderr, "pellucer-compare: %d and %d channels\n", a.format.channels, b.format.channels);
        return kExitUsage;
    }

    int64_t offset = static_cast<int64_t>(fixedOffset);
    if (!offsetGiven) {
        const float threshold = static_cast<float>(kOnsetFraction) * std::min(peak(a), peak(b));
        const int64_t onsetA = threshold > 0.0f ? onset(a, threshold) : -1;
        const int64_t onsetB = threshold > 0.0f ? onset(b, threshold) : -1;
        const int64_t estimate = onsetA >= 0 && onsetB >= 0 ? onsetB - onsetA : 0;
        // The frames around the estimate, and no shift at all, whichever matches best.
        std::vector<int64_t> candidates = {0};
        for (int64_t o = estimate - kOffsetRefinement; o <= estimate + kOffsetRefinement; ++o)
            if (o != 0 && std::llabs(o) <= static_cast<int64_t>(maxOffset))
                candidates.push_back(o);
        Difference best;
        best.max = HUGE_VAL;
        for (const int64_t o : candidates) {
            const Difference d = compare(a, b, o);
            if (d.frames > 0 && d.max < best.max) {
                best = d;
                offset = o;
            }
        }
    }
    const Difference d = compare(a, b, offset);
    std::printf("max difference %.3g (%s dBFS) at frame %lld channel %d; B is %lld frames %s A; "
                "%lld frames x %d channels compared (A %lld frames, B %lld frames)\n",
                d.max, d.max > 0.0 ? std::to_string(20.0 * std::log10(d.max)).substr(0, 6).c_str() : "-inf",
                static_cast<long long>(d.frame), d.channel, static_cast<long long>(std::llabs(offset)),
                offset >= 0 ? "behind" : "ahead of", static_cast<long long>(d.frames), a.format.channels,
                static_cast<long long>(a.frames()), static_cast<long long>(b.frames()));
    if (std::isinf(d.max))
        std::printf("there A holds %g and B %g\n", static_cast<double>(d.a), static_cast<double>(d.b));
    if (d.frames == 0) {
        std::fputs("pellucer-compare: nothing to compare\n", stderr);
        return kExitDifferent;
    }
    return d.max <= tolerance ? kExitSame : kExitDifferent;
}
