// pellucer-render: the value parser and the state files called directly, and the built tools
// (pellucer-render, pellucer-compare) run on files in a temporary folder. Native builds only:
// tests/CMakeLists.txt defines PELLUCER_RENDER_TOOL and PELLUCER_COMPARE_TOOL (the tools' paths)
// where tools/ builds them.
#if defined(PELLUCER_RENDER_TOOL)

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "core/ChannelStripEffect.h"
#include "core/FactoryPrograms.h"
#include "tests/TestSupport.h"
#include "tools/render/AudioFile.h"
#include "tools/render/FxpFile.h"
#include "tools/render/ValueParser.h"

namespace pellucer::render {
namespace {

namespace fs = std::filesystem;

// ---- value parser ------------------------------------------------------------------------------

UnitWords englishWords() {
    UnitWords w;
    w.db = "dB";
    w.percent = "%";
    w.toOne = ":1";
    w.oneTo = "1:";
    w.ms = "ms";
    w.hz = "Hz";
    w.khz = "kHz";
    w.on = "On";
    w.off = "Off";
    w.negInfinity = "-inf";
    w.infinity = "inf";
    w.notes = {"1/32T", "1/32", "1/32D", "1/16T", "1/16", "1/16D", "1/8T", "1/8",
               "1/8D",  "1/4T", "1/4",   "1/4D",  "1/2T", "1/2",   "1/2D", "1/1"};
    w.available = true;
    return w;
}

float parsed(int32_t index, const std::string& text, bool synced = false) {
    const ParsedValue v = parseParameterValue(index, text, synced, englishWords());
    EXPECT_TRUE(v.ok()) << text << ": " << v.error;
    return v.value;
}

std::string refusal(int32_t index, const std::string& text, bool synced = false) {
    const ParsedValue v = parseParameterValue(index, text, synced, englishWords());
    EXPECT_FALSE(v.ok()) << text << " was taken as " << v.value;
    return v.error;
}

// Values in units at points where the normalised value is a round figure (every other point
// is checked by the display round trip below); unit spellings are case-blind, with or without
// a blank, and a bare number is a normalised value.
TEST(RenderValueParser, UnitsGiveTheNormalisedValue) {
    struct Case {
        int32_t index;
        const char* text;
        double expected;
    };
    const Case cases[] = {
        {kCompressorThresh, "-18dB", 0.7},
        {kExpanderThresh, "-55 dB", 0.5},
        {kInputGain, "+6dB", 0.625},
        {kEqMidGain, "-3dB", 0.375},
        {kCompressorRatio, "10:1", 2.0 / 3.0},
        {kExpanderRatio, "1:10", 2.0 / 3.0},
        {kCompressorRatio, "inf", 1.0},
        {kExpanderRatio, "1:inf", 1.0},
        {kCompanderAttack, "10ms", 2.0 / 3.0},
        {kDelayTime, "1000ms", 1.0},
        {kDelayFeedback, "45%", 0.5},
        {kDeEsserDepth, "60%", 0.6},
        {kEqHighFreq, "8000Hz", std::log10(4.0)},
        {kEqHighFreq, "8kHz", std::log10(4.0)},
        {kDeEsserFreq, "4500 hz", 0.25},
        {kDelayFilterFreq, "22kHz", 1.0},
        {kDelayLevel, "0dB", 1.0},
        {kDelayLevel, "-inf dB", 0.0},
        {kDoublerPresence, "-inf", 0.0},
        {kCompressorThresh, "0.25", 0.25},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(parsed(c.index, c.text), c.expected, 1e-6) << paramName(c.index) << " " << c.text;
}

TEST(RenderValueParser, SwitchesTakeWordsAndNumbers) {
    EXPECT_EQ(parsed(kDelayEnable, "On"), 1.0f);
    EXPECT_EQ(parsed(kDelayEnable, "off"), 0.0f);
    EXPECT_EQ(parsed(kInputTubeEnable, "ON"), 1.0f);
    EXPECT_EQ(parsed(kDelayEnable, "0.7"), 0.7f);
    refusal(kDelayEnable, "maybe");
    refusal(kDelayEnable, "2");
}

TEST(RenderValueParser, RangeEdgesAllowHalfADisplayedDigit) {
    EXPECT_EQ(parsed(kCompressorThresh, "-60.04dB"), 0.0f);
    EXPECT_EQ(parsed(kEqHighFreq, "20000.0Hz"), 1.0f);
    // The largest finite ratio stays a number: 1.0 would mean infinity.
    EXPECT_LT(parsed(kCompressorRatio, "31.6:1"), 1.0f);
    EXPECT_LT(parsed(kCompressorRatio, "31.66:1"), 1.0f);
    EXPECT_LT(parsed(kExpanderRatio, "1:31.6"), 1.0f);
    EXPECT_NE(refusal(kCompressorThresh, "-60.1dB").find("outside"), std::string::npos);
    EXPECT_NE(refusal(kCompressorRatio, "32:1").find("outside"), std::string::npos);
    EXPECT_NE(refusal(kDelayTime, "1001ms").find("outside"), std::string::npos);
    EXPECT_NE(refusal(kDoublerPresence, "+1dB").find("outside"), std::string::npos);
    EXPECT_NE(refusal(kInputGain, "1.5").find("0..1"), std::string::npos);
    refusal(kInputGain, "-0.01");
}

TEST(RenderValueParser, MalformedValuesAreRefusedWithTheParameterName) {
    for (const char* text :
         {"", "   ", "abc", "nan", "inf", "1e999", "-18", "-18 Hz", "dB", "--18dB", "1,5"}) {
        const std::string error = refusal(kCompressorThresh, text);
        EXPECT_EQ(error.rfind("Compressor Thresh:", 0), 0u) << error;
    }
    EXPECT_NE(refusal(kCompressorThresh, "-18Hz").find("takes"), std::string::npos);
    refusal(kCompressorRatio, "4"); // a bare number is normalised
    refusal(kExpanderRatio, "2:1");
    refusal(kCompressorRatio, "1:2");
}

TEST(RenderValueParser, DelayTimeIsANoteWhenSyncedAndMillisecondsWhenFree) {
    for (int32_t i = 0; i < kNoteValues; ++i)
        EXPECT_EQ(noteIndex(parsed(kDelayTime, englishWords().notes[static_cast<size_t>(i)], true)), i);
    EXPECT_NE(refusal(kDelayTime, "1/8D", false).find("Delay Sync Enable"), std::string::npos);
    refusal(kDelayTime, "250ms", true);
    EXPECT_EQ(parsed(kDelayTime, "0.5", true), 0.5f);
}

TEST(RenderValueParser, WithoutSkinWordsOnlyNormalisedValuesAreTaken) {
    UnitWords none;
    EXPECT_TRUE(parseParameterValue(kCompressorThresh, "0.5", false, none).ok());
    const ParsedValue v = parseParameterValue(kCompressorThresh, "-18dB", false, none);
    ASSERT_FALSE(v.ok());
    EXPECT_NE(v.error.find("TextResources"), std::string::npos);
}

TEST(RenderValueParser, OrderCodesArePermutations) {
    int32_t code = 0;
    std::string error;
    EXPECT_TRUE(parseOrderCode("54321", code, error));
    EXPECT_EQ(code, 54321);
    for (const char* text : {"12344", "1234", "123456", "12a45", "11345", "62345", "12345.5", ""})
        EXPECT_FALSE(parseOrderCode(text, code, error)) << text;
    EXPECT_EQ(parsed(kReserved, "23415"), 23415.0f);
    refusal(kReserved, "0.5");
}

TEST(RenderValueParser, ParameterNamesAreExact) {
    EXPECT_EQ(parameterIndex("Compressor Thresh"), kCompressorThresh);
    EXPECT_EQ(parameterIndex("Reserved"), kReserved);
    EXPECT_EQ(parameterIndex("compressor thresh"), -1);
    EXPECT_EQ(parameterIndex("Compressor"), -1);
}

// Every continuous parameter, at many settings: the display text (with its unit) read back
// through the parser gives a value that displays the same.
TEST(RenderValueParser, DisplayTextReadsBackToTheSameDisplay) {
    ChannelStripEffect shown(nullptr);
    ChannelStripEffect again(nullptr);
    const UnitWords words = UnitWords::fromSkin();
    ASSERT_TRUE(words.available) << "the skin beside the test program was not loaded";
    const float settings[] = {0.0f, 0.013f, 0.1f, 0.25f, 0.4014f, 0.5f, 0.77f, 0.93f, 0.999f, 1.0f};
    for (const bool synced : {false, true}) {
        shown.setParameter(kDelaySyncEnable, synced ? 1.0f : 0.0f);
        again.setParameter(kDelaySyncEnable, synced ? 1.0f : 0.0f);
        for (int32_t index = 0; index < kReserved; ++index) {
            if (paramKind(index) != ParamKind::Continuous)
                continue;
            for (const float v : settings) {
                shown.setParameter(index, v);
                char display[32] = {}, label[32] = {};
                shown.getParameterDisplay(index, display);
                shown.getParameterLabel(index, label);
                const std::string text = std::string(display) + label;
                const ParsedValue p = parseParameterValue(index, text, synced, words);
                ASSERT_TRUE(p.ok()) << paramName(index) << " " << text << ": " << p.error;
                again.setParameter(index, p.value);
                char redisplay[32] = {};
                again.getParameterDisplay(index, redisplay);
                // Just below 0 dB shows as "-0.0", which reads as 0 dB and shows as "0.0".
                const std::string expected = std::string(display) == "-0.0" ? "0.0" : display;
                EXPECT_EQ(redisplay, expected)
                    << paramName(index) << " at " << v << (synced ? " synced" : "");
            }
        }
    }
}

// ---- state files -------------------------------------------------------------------------------

std::vector<uint8_t> stateChunk() {
    ChannelStripEffect effect(nullptr);
    effect.setProgram(3);
    void* data = nullptr;
    const int32_t size = effect.getChunk(&data, true);
    const auto* bytes = static_cast<const uint8_t*>(data);
    return {bytes, bytes + size};
}

uint32_t bigEndian(const std::vector<uint8_t>& b, size_t at) {
    return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) | b[at + 3];
}

void putBigEndian(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

TEST(RenderFxp, WrittenFileHasThePublishedLayoutAndReadsBack) {
    const std::vector<uint8_t> chunk = stateChunk();
    ASSERT_EQ(chunk.size(), kStateChunkBytes);
    const std::vector<uint8_t> fxp = writeFxp(chunk, "Arena");
    ASSERT_EQ(fxp.size(), 60u + 4852u);
    EXPECT_EQ(bigEndian(fxp, 0), fourCc('C', 'c', 'n', 'K'));
    EXPECT_EQ(bigEndian(fxp, 4), fxp.size() - 8);
    EXPECT_EQ(bigEndian(fxp, 8), fourCc('F', 'P', 'C', 'h'));
    EXPECT_EQ(bigEndian(fxp, 12), 1u);
    EXPECT_EQ(bigEndian(fxp, 16), fourCc('T', 'L', 'p', 'l'));
    EXPECT_EQ(bigEndian(fxp, 20), 1u);
    EXPECT_EQ(bigEndian(fxp, 24), 39u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&fxp[28])), "Arena");
    EXPECT_EQ(bigEndian(fxp, 56), 4852u);
    EXPECT_TRUE(std::equal(chunk.begin(), chunk.end(), fxp.begin() + 60));

    // It reads back, as does the bare chunk; a long name is cut to its 28 bytes with the terminator.
    const std::vector<uint8_t> longNamed = writeFxp(chunk, std::string(40, 'x'));
    StateProgram program;
    std::string error;
    ASSERT_TRUE(readStateFile(longNamed.data(), longNamed.size(), program, error)) << error;
    EXPECT_EQ(program.kind, StateProgram::Kind::Chunk);
    EXPECT_EQ(program.chunk, chunk);
    EXPECT_EQ(program.name, std::string(27, 'x'));
    ASSERT_TRUE(readStateFile(chunk.data(), chunk.size(), program, error)) << error;
    EXPECT_EQ(program.chunk, chunk);
}

TEST(RenderFxp, ParameterProgramsAreRead) {
    std::vector<uint8_t> fxp(56 + 39 * 4, 0);
    putBigEndian(fxp, 0, kFxpFileMagic);
    putBigEndian(fxp, 4, static_cast<uint32_t>(fxp.size() - 8));
    putBigEndian(fxp, 8, kFxpParameterProgram);
    putBigEndian(fxp, 12, 1);
    putBigEndian(fxp, 16, kPlugInId);
    putBigEndian(fxp, 24, 39);
    for (uint32_t i = 0; i < 39; ++i)
        putBigEndian(fxp, 56 + 4 * i,
                     std::bit_cast<uint32_t>(i == 38 ? 54321.0f : static_cast<float>(i) / 64.0f));
    StateProgram program;
    std::string error;
    ASSERT_TRUE(readStateFile(fxp.data(), fxp.size(), program, error)) << error;
    ASSERT_EQ(program.kind, StateProgram::Kind::Parameters);
    ASSERT_EQ(program.values.size(), 39u);
    EXPECT_EQ(program.values[5], 5.0f / 64.0f);
    EXPECT_EQ(program.values[38], 54321.0f);
    putBigEndian(fxp, 24, 38);
    EXPECT_FALSE(readStateFile(fxp.data(), fxp.size(), program, error));
}

// Each prefix is copied into a buffer of exactly its size, so that a read past the end is an
// AddressSanitizer error rather than a quiet success.
TEST(RenderFxp, TruncatedFilesAreRefusedWithoutReadingPastTheEnd) {
    const std::vector<uint8_t> fxp = writeFxp(stateChunk(), "Arena");
    for (size_t size = 0; size < fxp.size(); ++size) {
        std::vector<uint8_t> prefix(fxp.begin(), fxp.begin() + static_cast<std::ptrdiff_t>(size));
        StateProgram program;
        std::string error;
        EXPECT_FALSE(readStateFile(prefix.data(), prefix.size(), program, error)) << size;
        EXPECT_FALSE(error.empty()) << size;
    }
}

TEST(RenderFxp, LyingOrForeignHeadersAreRefused) {
    const std::vector<uint8_t> good = writeFxp(stateChunk(), "Arena");
    auto refused = [](std::vector<uint8_t> fxp, const char* expected) {
        StateProgram program;
        std::string error;
        EXPECT_FALSE(readStateFile(fxp.data(), fxp.size(), program, error)) << expected;
        EXPECT_NE(error.find(expected), std::string::npos) << error;
    };
    std::vector<uint8_t> fxp = good;
    putBigEndian(fxp, 56, 0xFFFFFFFFu); // chunk size beyond the file
    refused(fxp, "cut short");
    fxp = good;
    putBigEndian(fxp, 4, 0x7FFFFFF0u); // byte size beyond the file
    refused(fxp, "cut short");
    fxp = good;
    putBigEndian(fxp, 16, fourCc('A', 'b', 'c', 'd'));
    refused(fxp, "another plug-in");
    fxp = good;
    putBigEndian(fxp, 8, kFxpChunkBank);
    refused(fxp, "bank");
    fxp = good;
    putBigEndian(fxp, 56, 4851);
    refused(fxp, "not a Pellucer state");
    fxp = good;
    fxp[60] = 'X'; // chunk magic
    refused(fxp, "not a Pellucer state");
    std::vector<uint8_t> chunk = stateChunk();
    chunk.push_back(0);
    refused(chunk, "4853 bytes");
    refused(std::vector<uint8_t>(100, 7), "neither");
}

// ---- the tool ----------------------------------------------------------------------------------

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string slurp(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream s;
    s << file.rdbuf();
    return s.str();
}

std::string lineOf(const std::string& text, const std::string& name) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (line.find(name) != std::string::npos)
            return line;
    return {};
}

struct Audio {
    AudioFormat format;
    std::vector<float> samples; // interleaved
    size_t frames() const { return samples.size() / static_cast<size_t>(format.channels); }
};

class RenderTool : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
               ("pellucer-render-" + std::string(info->name()) + "-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path path(const std::string& name) const { return dir_ / name; }

    // The tool run by the shell, after the shell commands `shell` if any.
    ToolRun run(const std::vector<std::string>& args, const std::string& shell = "",
                const char* tool = PELLUCER_RENDER_TOOL) const {
        std::string command = shell + quoted(tool);
        for (const std::string& a : args)
            command += " " + quoted(a);
        const fs::path out = dir_ / "stdout.txt", err = dir_ / "stderr.txt";
        command += " >" + quoted(out.string()) + " 2>" + quoted(err.string()) + " </dev/null";
        ToolRun r;
        const int raw = std::system(command.c_str());
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = slurp(out);
        r.err = slurp(err);
        fs::remove(out);
        fs::remove(err);
        return r;
    }

    void write(const std::string& name, const Audio& audio) const {
        AudioWriter writer;
        std::string error;
        ASSERT_TRUE(writer.open(path(name).string(), audio.format, error)) << error;
        ASSERT_TRUE(writer.write(audio.samples.data(), static_cast<int64_t>(audio.frames()), error)) << error;
        ASSERT_TRUE(writer.commit(error)) << error;
    }

    Audio read(const std::string& name) const {
        Audio audio;
        AudioReader reader;
        std::string error;
        EXPECT_TRUE(reader.open(path(name).string(), error)) << name << ": " << error;
        audio.format = reader.format();
        audio.samples.resize(static_cast<size_t>(reader.frames() * audio.format.channels));
        EXPECT_EQ(reader.read(audio.samples.data(), reader.frames()), reader.frames());
        return audio;
    }

    // The tool started in the background with the signals' default actions, as from a terminal.
    pid_t start(std::vector<std::string> args) const {
        args.insert(args.begin(), PELLUCER_RENDER_TOOL);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            for (const int signal : {SIGINT, SIGTERM, SIGHUP})
                ::signal(signal, SIG_DFL);
            ::dup2(::open("/dev/null", O_WRONLY), STDERR_FILENO);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        return pid;
    }

    // Nothing but the named files in the folder: no output, no temporary file left behind.
    void expectOnly(const std::vector<std::string>& names) const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(dir_))
            found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        std::vector<std::string> expected = names;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(found, expected);
    }

    fs::path dir_;
};

// Noise with a sine, 0.6 peak: every frame differs from its neighbours, so any misalignment shows.
Audio testSignal(int32_t channels, int32_t rate, size_t frames, FileType type, SampleFormat sample) {
    Audio audio;
    audio.format = {type, sample, channels, rate};
    const auto noise = test::noise(0.3, frames * static_cast<size_t>(channels));
    const auto sine = test::sine(0.3, 440.0, rate, frames * static_cast<size_t>(channels));
    audio.samples.resize(noise.size());
    const double step = sample == SampleFormat::Pcm16   ? 32768.0
                        : sample == SampleFormat::Pcm24 ? 8388608.0
                                                        : 0.0;
    for (size_t i = 0; i < noise.size(); ++i) {
        const double x = noise[i] + sine[i];
        audio.samples[i] = static_cast<float>(step > 0.0 ? std::round(x * step) / step : x);
    }
    return audio;
}

double maxDifference(const Audio& a, const Audio& b) {
    double d = 0.0;
    for (size_t i = 0; i < std::min(a.samples.size(), b.samples.size()); ++i)
        d = std::max(d, std::fabs(static_cast<double>(a.samples[i]) - b.samples[i]));
    return d;
}

// Full Reset reproduces the input aligned, in the input's format: integer samples come back
// unchanged (24 bits within one step: the -140 dBFS noise may tip a rounding), floats within the
// anti-denormal noise (1e-7) and half a float step at 0.6; a float input asked to become FLAC is
// written with 24 bits.
TEST_F(RenderTool, FullResetKeepsTheSignalAndTheFormat) {
    constexpr double kStep24 = 1.0 / 8388608.0;
    struct Case {
        const char *in, *out;
        Audio audio;
        FileType type;
        SampleFormat written;
        double tolerance;
    };
    const Case cases[] = {
        {"in.wav", "out.wav", testSignal(2, 48000, 48000, FileType::Wav, SampleFormat::Float32),
         FileType::Wav, SampleFormat::Float32, 1.5e-7},
        {"in16.wav", "out16.wav", testSignal(1, 22050, 20000, FileType::Wav, SampleFormat::Pcm16),
         FileType::Wav, SampleFormat::Pcm16, 0.0},
        {"in.aiff", "out.aiff", testSignal(2, 44100, 10000, FileType::Aiff, SampleFormat::Pcm24),
         FileType::Aiff, SampleFormat::Pcm24, kStep24 + 1e-12},
        {"in.flac", "out.flac", testSignal(1, 44100, 10000, FileType::Flac, SampleFormat::Pcm16),
         FileType::Flac, SampleFormat::Pcm16, 0.0},
        {"float.wav", "float.flac", testSignal(2, 44100, 5000, FileType::Wav, SampleFormat::Float32),
         FileType::Flac, SampleFormat::Pcm24, 0.5 * kStep24 + 1.5e-7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.out);
        write(c.in, c.audio);
        const ToolRun r = run({path(c.in), path(c.out)});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("in peak"), std::string::npos);
        EXPECT_NE(r.out.find("compander off"), std::string::npos);
        const Audio out = read(c.out);
        EXPECT_EQ(out.format.type, c.type);
        EXPECT_EQ(out.format.sample, c.written);
        EXPECT_EQ(out.format.channels, c.audio.format.channels);
        EXPECT_EQ(out.format.sampleRate, c.audio.format.sampleRate);
        ASSERT_EQ(out.frames(), c.audio.frames()) << "no tail without delay and doubler";
        EXPECT_LE(maxDifference(c.audio, out), c.tolerance);
    }
    EXPECT_EQ(slurp(path("in16.wav")), slurp(path("out16.wav")));
}

// The tool's output against the engine driven here as a host drives it, at the same block size.
TEST_F(RenderTool, MatchesTheEngineInAHostSampleForSample) {
    const Audio in = testSignal(2, 44100, 30000, FileType::Wav, SampleFormat::Float32);
    write("in.wav", in);
    const ToolRun r = run({"--program", "Arena", "--tail", "0", path("in.wav"), path("out.wav")});
    ASSERT_EQ(r.status, 0) << r.err;
    const Audio out = read("out.wav");

    test::FakeHost host;
    ChannelStripEffect effect(&test::FakeHost::callback);
    host.attach(effect);
    effect.setSampleRate(44100.0f);
    effect.setProgram(3);
    ASSERT_STREQ(factoryPrograms()[3].name, "Arena");
    const size_t latency = static_cast<size_t>(effect.latency());
    std::vector<float> inL(in.frames() + latency, 0.0f), inR(inL.size(), 0.0f), outL, outR;
    for (size_t i = 0; i < in.frames(); ++i) {
        inL[i] = in.samples[2 * i];
        inR[i] = in.samples[2 * i + 1];
    }
    // The tool's default: two seconds of silence with the transport stopped, then the transport
    // starts with the first block of the input and plays on.
    std::vector<float> silence(88200, 0.0f), ignoredL, ignoredR;
    host.setTempo(120.0, vst::kVstTempoValid);
    test::render(effect, silence, silence, ignoredL, ignoredR, 512);
    host.time.flags = vst::kVstTempoValid | vst::kVstTransportPlaying | vst::kVstTransportChanged;
    test::render(effect, {inL.begin(), inL.begin() + 512}, {inR.begin(), inR.begin() + 512}, outL, outR, 512);
    host.time.flags = vst::kVstTempoValid | vst::kVstTransportPlaying;
    std::vector<float> restL, restR;
    test::render(effect, {inL.begin() + 512, inL.end()}, {inR.begin() + 512, inR.end()}, restL, restR, 512);
    outL.insert(outL.end(), restL.begin(), restL.end());
    outR.insert(outR.end(), restR.begin(), restR.end());

    ASSERT_EQ(out.frames(), in.frames());
    size_t differing = 0;
    for (size_t i = 0; i < out.frames(); ++i)
        differing +=
            (out.samples[2 * i] != outL[i + latency]) + (out.samples[2 * i + 1] != outR[i + latency]);
    EXPECT_EQ(differing, 0u);
}

TEST_F(RenderTool, BlockSizeDoesNotChangeTheOutput) {
    write("in.wav", testSignal(2, 44100, 20000, FileType::Wav, SampleFormat::Float32));
    for (const char* block : {"512", "37", "4096"}) {
        const ToolRun r = run({"--program", "Female Quartet", "--block-size", block, path("in.wav"),
                               path(std::string("out") + block + ".wav")});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    EXPECT_EQ(read("out37.wav").samples, read("out512.wav").samples);
    EXPECT_EQ(read("out4096.wav").samples, read("out512.wav").samples);
}

TEST_F(RenderTool, SetInUnitsEqualsSetNormalised) {
    const Audio in = testSignal(2, 44100, 8000, FileType::Wav, SampleFormat::Float32);
    write("in.wav", in);
    ASSERT_EQ(run({"--set", "Output Gain=-6dB", path("in.wav"), path("db.wav")}).status, 0);
    ASSERT_EQ(run({"--set", "Output Gain=0.375", path("in.wav"), path("norm.wav")}).status, 0);
    const Audio db = read("db.wav");
    EXPECT_EQ(db.samples, read("norm.wav").samples);
    const double gain = std::pow(10.0, -6.0 / 20.0);
    double worst = 0.0;
    for (size_t i = 0; i < in.samples.size(); ++i)
        worst = std::max(worst, std::fabs(db.samples[i] - gain * in.samples[i]));
    EXPECT_LT(worst, 2e-7);
}

// An impulse with the delay on: the echo lands exactly the delay time after the impulse, the
// default tail holds it, and --tail sets the length.
TEST_F(RenderTool, EchoIsAlignedAndTheTailHoldsIt) {
    Audio in;
    in.format = {FileType::Wav, SampleFormat::Float32, 1, 44100};
    in.samples.assign(2000, 0.0f);
    in.samples[1000] = 0.5f;
    write("in.wav", in);
    const ToolRun r = run({"--set", "Delay Enable=On", "--set", "Delay Time=100ms", "--set",
                           "Delay Level=0dB", "--set", "Delay Feedback=0%", path("in.wav"), path("out.wav")});
    ASSERT_EQ(r.status, 0) << r.err;
    const Audio out = read("out.wav");
    ASSERT_EQ(out.frames(), 2000u + 4410u) << "one echo of 100 ms";
    EXPECT_NEAR(out.samples[1000], 0.5f, 1e-6f);
    size_t loudest = 0;
    for (size_t i = 1100; i < out.frames(); ++i)
        if (std::fabs(out.samples[i]) > std::fabs(out.samples[loudest]))
            loudest = i;
    EXPECT_EQ(loudest, 1000u + 4410u);

    ASSERT_EQ(run({"--tail", "0.25", path("in.wav"), path("tail.wav")}).status, 0);
    EXPECT_EQ(read("tail.wav").frames(), 2000u + 11025u);
}

TEST_F(RenderTool, SavedStatesLoadBackToTheSameParameters) {
    const std::vector<std::string> settings = {
        "--program", "Dotted 8th Delay", "--set", "Compressor Thresh=-30dB", "--order", "31452"};
    std::vector<std::string> save = settings;
    save.insert(save.end(), {"--save-state", path("a.fxp"), "--list-params"});
    const ToolRun saved = run(save);
    ASSERT_EQ(saved.status, 0) << saved.err;
    const std::string fxp = slurp(path("a.fxp"));
    ASSERT_EQ(fxp.size(), 4912u);
    EXPECT_EQ(fxp.substr(28, 16), std::string("Dotted 8th Delay"));

    const ToolRun loaded = run({"--state", path("a.fxp"), "--list-params"});
    ASSERT_EQ(loaded.status, 0) << loaded.err;
    EXPECT_EQ(loaded.out, saved.out);
    EXPECT_NE(loaded.out.find("-30.0 dB"), std::string::npos);
    EXPECT_NE(loaded.out.find("31452"), std::string::npos);

    // The bare chunk as well.
    std::vector<std::string> saveChunk = settings;
    saveChunk.insert(saveChunk.end(), {"--save-state", path("a.state")});
    ASSERT_EQ(run(saveChunk).status, 0);
    const std::string chunk = slurp(path("a.state"));
    ASSERT_EQ(chunk.size(), 4852u);
    EXPECT_EQ(chunk.substr(0, 4), "TLtg");
    EXPECT_EQ(chunk, fxp.substr(60));
    EXPECT_EQ(run({"--state", path("a.state"), "--list-params"}).out, saved.out);
}

// Each failure is one line naming the file or option at fault; nothing is written, and what
// stands at an output's name is left as it is unless it is a regular file.
TEST_F(RenderTool, FailuresExplainThemselvesAndWriteNothing) {
    write("in.wav", testSignal(2, 44100, 1000, FileType::Wav, SampleFormat::Pcm16));
    std::ofstream(path("text.wav")) << "this is not audio\n";
    auto rawFile = [this](const std::string& name, int format, int channels, sf_count_t frames = 100) {
        SF_INFO info{0, 44100, channels, format, 0, 0}; // frames, rate, channels, format
        SNDFILE* file = sf_open(path(name).c_str(), SFM_WRITE, &info);
        ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
        const std::vector<float> silence(static_cast<size_t>(frames * channels), 0.0f);
        sf_writef_float(file, silence.data(), frames);
        sf_close(file);
    };
    rawFile("eight.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1);
    rawFile("three.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 3);
    rawFile("double.wav", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 2);
    rawFile("raw.au", SF_FORMAT_AU | SF_FORMAT_PCM_16, 1);
    rawFile("empty.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 0);
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0644), 0);
    fs::create_symlink(path("nowhere.wav"), path("dangling.wav"));
    const std::string in = path("in.wav"), out = path("out.wav");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message;
        const char* shell = "";
    };
    const std::vector<Case> cases = {
        {{path("missing.wav"), out}, 1, "No such file"},
        {{path("text.wav"), out}, 1, "cannot be read as audio"},
        {{path("eight.wav"), out}, 1, "16/24/32-bit integer and 32-bit float"},
        {{path("three.wav"), out}, 1, "3 channels"},
        {{path("double.wav"), out}, 1, "16/24/32-bit integer and 32-bit float"},
        {{path("raw.au"), out}, 1, "WAV, AIFF and FLAC"},
        {{path("empty.wav"), out}, 1, "holds no audio frames"},
        {{"--program", "Nonesuch", in, out}, 2, "unknown program"},
        {{"--program", "61", in, out}, 2, "outside 0..60"},
        {{"--set", "Compressor Threshold=-18dB", in, out}, 2, "unknown parameter"},
        {{"--set", "Compressor Thresh=-70dB", in, out}, 2, "outside"},
        {{"--set", "Compressor Thresh=1.5", in, out}, 2, "outside"},
        {{"--order", "12344", in, out}, 2, "not a module order"},
        {{"--tempo", "0", in, out}, 2, "--tempo"},
        {{"--bogus", in, out}, 2, "unknown option"},
        {{in}, 2, "OUTPUT"},
        {{"", out}, 2, "empty file name"},
        {{"--program", "", in, out}, 2, "--program \"\": an empty value"},
        {{"--order=", in, out}, 2, "--order \"\": an empty value"},
        {{"--state", "", in, out}, 2, "--state \"\": an empty value"},
        {{"--save-state", "", in, out}, 2, "--save-state \"\": an empty value"},
        {{in, path("out.mp3")}, 2, ".mp3 files are not written"},
        {{"--program", "1", "--state", path("x.fxp"), in, out}, 2, "give one"},
        {{"--state", path("missing.fxp"), in, out}, 1, "cannot be read: No such file"},
        {{"--state", dir_.string(), in, out}, 1, "cannot be read: Is a directory"},
        {{in, path("no-such-folder/out.wav")}, 1, "cannot be written"},
        {{in, dir_.string()}, 1, "is a folder"},
        {{in, path("fifo")}, 1, "fifo: is a FIFO"},
        {{"--save-state", path("fifo"), in, out}, 1, "fifo: is a FIFO"},
        {{in, path("dangling.wav")}, 1, "leads nowhere"},
        {{"--bits", "32", in, path("out.flac")}, 2, "cannot hold"},
        // A full disk, as the file size limit makes it: the output's name is the one given.
        {{in, out}, 1, out + ": could not be written", "trap '' XFSZ; ulimit -f 2; "},
    };
    for (const Case& c : cases) {
        const ToolRun r = run(c.args, c.shell);
        EXPECT_EQ(r.status, c.status) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one line: " << r.err;
    }
    EXPECT_TRUE(fs::is_fifo(path("fifo")));
    expectOnly({"in.wav", "text.wav", "eight.wav", "three.wav", "double.wav", "raw.au", "empty.wav", "fifo",
                "dangling.wav"});
}

// NaN and infinite samples enter as silence and are counted in the summary; a WAV cut short
// renders what it holds, with a warning.
TEST_F(RenderTool, DamagedInputsAreRenderedAloud) {
    Audio audio = testSignal(1, 44100, 1000, FileType::Wav, SampleFormat::Float32);
    audio.samples[100] = NAN;
    audio.samples[200] = INFINITY;
    audio.samples[300] = -INFINITY;
    write("in.wav", audio);
    ToolRun r = run({path("in.wav"), path("out.wav")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("; 3 non-finite input samples"), std::string::npos) << r.out;
    const Audio out = read("out.wav");
    EXPECT_TRUE(
        std::all_of(out.samples.begin(), out.samples.end(), [](float x) { return std::isfinite(x); }));

    fs::resize_file(path("in.wav"), slurp(path("in.wav")).find("data") + 8 + 400 * sizeof(float));
    r = run({path("in.wav"), path("short.wav")});
    EXPECT_NE(r.err.find("announces 1000 frames but the file holds 400"), std::string::npos) << r.err;
    EXPECT_EQ(read("short.wav").frames(), 400u);
}

// Interrupted, ended or hung up on mid-render, the tool leaves neither its output nor a
// temporary file.
TEST_F(RenderTool, StopSignalsLeaveNothingBehind) {
    write("in.wav", testSignal(1, 8000, 100, FileType::Wav, SampleFormat::Pcm16));
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(::strsignal(signal));
        const pid_t pid =
            start({"--tail", "3600", "--save-state", path("s.fxp"), path("in.wav"), path("out.wav")});
        // The render is under way once its temporary output exists.
        bool started = false;
        for (int i = 0; i < 1000 && !started; ++i, ::usleep(10000))
            for (const auto& entry : fs::directory_iterator(dir_))
                started = started || entry.path().filename().string().starts_with(".out.wav.");
        ::kill(pid, started ? signal : SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(started);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
        expectOnly({"in.wav"});
    }
}

// pellucer-compare: a NaN on either side, or an infinity the other side does not match, is a
// difference like any other.
TEST_F(RenderTool, CompareCountsNonFiniteSamplesAsDifferences) {
    Audio audio = testSignal(1, 44100, 100, FileType::Wav, SampleFormat::Float32);
    write("clean.wav", audio);
    audio.samples[50] = NAN;
    write("nan.wav", audio);
    audio.samples[50] = INFINITY;
    write("inf.wav", audio);
    const std::tuple<const char*, const char*, int> cases[] = {
        {"nan.wav", "clean.wav", 1}, {"clean.wav", "nan.wav", 1}, {"nan.wav", "nan.wav", 1},
        {"inf.wav", "clean.wav", 1}, {"inf.wav", "inf.wav", 0},
    };
    for (const auto& [a, b, status] : cases) {
        const ToolRun r = run({"--offset", "0", path(a), path(b)}, "", PELLUCER_COMPARE_TOOL);
        EXPECT_EQ(r.status, status) << a << " " << b << ": " << r.out << r.err;
        EXPECT_EQ(r.out.starts_with("max difference inf"), status == 1) << r.out;
    }
}

TEST_F(RenderTool, OutputCannotBeTheInputUnderAnySpelling) {
    write("in.wav", testSignal(1, 44100, 1000, FileType::Wav, SampleFormat::Pcm16));
    const std::string before = slurp(path("in.wav"));
    fs::create_directories(path("sub"));
    fs::create_symlink(path("in.wav"), path("link.wav"));
    fs::create_hard_link(path("in.wav"), path("hard.wav"));
    const std::string spellings[] = {path("in.wav"), (dir_ / "sub" / ".." / "in.wav").string(),
                                     (dir_ / "." / "in.wav").string(), path("link.wav"), path("hard.wav")};
    for (const std::string& output : spellings) {
        const ToolRun r = run({"--set", "Output Gain=-6dB", path("in.wav"), output});
        EXPECT_NE(r.status, 0) << output;
        EXPECT_NE(r.err.find("is the input file"), std::string::npos) << output << ": " << r.err;
    }
    EXPECT_EQ(slurp(path("in.wav")), before);
    expectOnly({"in.wav", "sub", "link.wav", "hard.wav"});
}

TEST_F(RenderTool, AnExistingOutputIsReplacedOnlyBySuccess) {
    write("in.wav", testSignal(1, 44100, 1000, FileType::Wav, SampleFormat::Pcm16));
    std::ofstream(path("out.wav")) << "keep me";
    EXPECT_NE(run({"--set", "No Such Thing=1", path("in.wav"), path("out.wav")}).status, 0);
    EXPECT_EQ(slurp(path("out.wav")), "keep me");
    EXPECT_NE(run({"--save-state", path("no-such-folder/s.fxp"), path("in.wav"), path("out.wav")}).status, 0);
    EXPECT_EQ(slurp(path("out.wav")), "keep me");
    ASSERT_EQ(run({path("in.wav"), path("out.wav")}).status, 0);
    EXPECT_EQ(read("out.wav").frames(), 1000u);
    // Through a symbolic link, the file it leads to is replaced and the link stays.
    fs::create_symlink(path("out.wav"), path("link.wav"));
    ASSERT_EQ(run({"--set", "Output Gain=-6dB", path("in.wav"), path("link.wav")}).status, 0);
    EXPECT_TRUE(fs::is_symlink(path("link.wav")));
    EXPECT_NE(read("out.wav").samples, read("in.wav").samples);
    expectOnly({"in.wav", "out.wav", "link.wav"});
}

TEST_F(RenderTool, ListsAndHelp) {
    ToolRun r = run({"--list-programs"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), kNumFactoryPrograms);
    EXPECT_NE(r.out.find(" 22  Esser\n"), std::string::npos);
    r = run({"--program", "Esser", "--list-params"});
    ASSERT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Program: Esser"), std::string::npos);
    EXPECT_NE(lineOf(r.out, "DeEsser Freq").find(" 4000.0 Hz "), std::string::npos) << r.out;
    EXPECT_NE(lineOf(r.out, "Compressor Ratio").find(" 4.0:1 "), std::string::npos) << r.out;
    r = run({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Usage: pellucer-render", 0), 0u);
}

} // namespace
} // namespace pellucer::render

#endif // PELLUCER_RENDER_TOOL
