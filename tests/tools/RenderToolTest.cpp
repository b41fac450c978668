// pellucer-render: the value parser and the state files called directly, and the built tools
// (pellucer-render) run on files in a temporary folder. Native builds only:
// tests/CMakeLists.txt defines PELLUCER_RENDER_TOOL where tools/ builds them.
#if defined(PELLUCER_RENDER_TOOL)

#include <gtest/gtest.h>
#include <sndfile.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "core/ChannelStripEffect.h"
#include "tests/TestSupport.h"
#include "tools/render/AudioFile.h"
#include "tools/render/FxpFile.h"
#include "tools/render/ValueParser.h"

namespace pellucer::render {
namespace {

namespace fs = std::filesystem;

// What the displays show parses back (ParameterGolden walks every parameter); these are the other
// spellings: case-blind units with or without a blank, a leading '+', kHz, a bare number as the
// normalised value, half a displayed digit (0.05) beyond the range held to it, the top finite
// ratio kept below 1.0 (which means infinity), and refusals that name the parameter and the fault.
// The words are the shipped skin's, which the first engine reads.
TEST(RenderValueParser, ValuesInUnitsOrNormalisedAndRefusalsWithAReason) {
    const ChannelStripEffect effect(nullptr);
    const UnitWords words = UnitWords::fromSkin();
    ASSERT_TRUE(words.available);
    const std::tuple<int32_t, const char*, double> taken[] = {
        {kExpanderThresh, "-55 dB", 0.5}, {kInputGain, "+6dB", 0.625}, {kEqHighFreq, "8kHz", std::log10(4.0)},
        {kDeEsserFreq, "4500 hz", 0.25}, {kCompressorThresh, "0.25", 0.25}, {kInputTubeEnable, "ON", 1.0},
        {kCompressorThresh, "-60.04dB", 0.0}, {kEqHighFreq, "20000.0Hz", 1.0}, {kReserved, "23415", 23415.0}};
    for (const auto& [index, text, expected] : taken) {
        const ParsedValue v = parseParameterValue(index, text, false, words);
        EXPECT_TRUE(v.ok() && std::fabs(v.value - expected) < 1e-6) << text << ": " << v.value << v.error;
    }
    for (const auto& [index, text] : {std::pair{kCompressorRatio, "31.66:1"}, {kExpanderRatio, "1:31.66"}})
        EXPECT_LT(parseParameterValue(index, text, false, words).value, 1.0f) << text;
    const std::tuple<int32_t, const char*, const char*> refused[] = {
        {kCompressorThresh, "-60.1dB", "outside"}, {kCompressorRatio, "32:1", "outside"}, {kInputGain, "1.5", "0..1"},
        {kDoublerPresence, "+1dB", "outside"}, {kCompressorThresh, "-18Hz", "takes"}, {kExpanderRatio, "2:1", ""},
        {kDelayTime, "1/8D", "Delay Sync Enable"}, {kDelayEnable, "2", ""}, {kReserved, "12355", ""},
        {kCompressorThresh, "--18dB", "Compressor Thresh:"}, {kCompressorThresh, "nan", "Compressor Thresh:"}};
    for (const auto& [index, text, reason] : refused) {
        const ParsedValue v = parseParameterValue(index, text, false, words);
        EXPECT_TRUE(!v.ok() && v.error.find(reason) != std::string::npos) << text << ": " << v.value << v.error;
    }
    EXPECT_NE(parseParameterValue(kCompressorThresh, "-18dB", false, UnitWords{}).error.find("TextResources"),
              std::string::npos);
    EXPECT_EQ(parameterIndex("Compressor Thresh"), kCompressorThresh);
    EXPECT_EQ(parameterIndex("compressor thresh"), -1);
}

uint32_t bigEndian(const std::string& b, size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(b[at]) << 24 | static_cast<uint8_t>(b[at + 1]) << 16 |
                                 static_cast<uint8_t>(b[at + 2]) << 8 | static_cast<uint8_t>(b[at + 3]));
}

void putBigEndian(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

bool readState(const std::vector<uint8_t>& bytes, StateProgram& program, std::string& error) {
    return readStateFile(bytes.data(), bytes.size(), program, error);
}

// A program of 39 big-endian floats ('FxCk') is read value by value, with another count refused.
// Every prefix of a chunk program is refused with a reason, each a buffer of exactly its size so
// that a read past the end is an AddressSanitizer error; so are headers that lie or belong elsewhere.
TEST(RenderFxp, ParameterProgramsAreReadAndBadFilesRefused) {
    std::vector<uint8_t> fxp(56 + 39 * 4, 0);
    for (const auto& [at, v] : {std::pair<size_t, uint32_t>{0, kFxpFileMagic}, {4, 204}, {8, kFxpParameterProgram},
                                {12, 1}, {16, kPlugInId}, {24, 39}})
        putBigEndian(fxp, at, v);
    for (uint32_t i = 0; i < 39; ++i)
        putBigEndian(fxp, 56 + 4 * i, std::bit_cast<uint32_t>(i == 38 ? 54321.0f : static_cast<float>(i) / 64.0f));
    StateProgram program;
    std::string error;
    ASSERT_TRUE(readState(fxp, program, error)) << error;
    ASSERT_TRUE(program.kind == StateProgram::Kind::Parameters && program.values.size() == 39u);
    EXPECT_EQ(program.values[5], 5.0f / 64.0f);
    EXPECT_EQ(program.values[38], 54321.0f);
    putBigEndian(fxp, 24, 38);
    EXPECT_FALSE(readState(fxp, program, error));
    ChannelStripEffect effect(nullptr);
    void* data = nullptr;
    const auto bytes = static_cast<size_t>(effect.getChunk(&data, true));
    const std::vector<uint8_t> good = writeFxp({static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + bytes}, "Arena");
    for (size_t size = 0; size < good.size(); ++size) {
        error.clear();
        EXPECT_FALSE(readState({good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size)}, program, error));
        EXPECT_FALSE(error.empty()) << size;
    }
    const std::tuple<size_t, uint32_t, const char*> lies[] = {
        {56, 0xFFFFFFFFu, "cut short"}, {4, 0x7FFFFFF0u, "cut short"}, {16, fourCc('A', 'b', 'c', 'd'), "another plug-in"},
        {8, kFxpChunkBank, "bank"}, {56, 4851, "not a Pellucer state"}, {60, fourCc('X', 'L', 't', 'g'), "not a Pellucer state"}};
    for (const auto& [at, value, reason] : lies) {
        fxp = good;
        putBigEndian(fxp, at, value);
        EXPECT_FALSE(readState(fxp, program, error)) << reason;
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
    std::vector<uint8_t> longChunk(good.begin() + 60, good.end());
    longChunk.push_back(0);
    for (const auto& [bytes, reason] : {std::pair{longChunk, "4853 bytes"}, {std::vector<uint8_t>(100, 7), "neither"}}) {
        EXPECT_FALSE(readState(bytes, program, error));
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
}

struct ToolRun {
    int status;
    std::string out, err;
};

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string slurp(const fs::path& path) {
    std::stringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}

struct Audio {
    AudioFormat format;
    std::vector<float> samples; // interleaved
    size_t frames() const { return samples.size() / static_cast<size_t>(format.channels); }
};

// Noise with a sine, 0.6 peak, on the sample grid of the format: every frame differs from its
// neighbours, so any misalignment shows.
Audio testSignal(int32_t channels, int32_t rate, size_t frames, FileType type, SampleFormat sample) {
    Audio audio{{type, sample, channels, rate}, {}};
    const auto noise = test::noise(0.3, frames * static_cast<size_t>(channels));
    const auto sine = test::sine(0.3, 440.0, rate, noise.size());
    const double step = sample == SampleFormat::Pcm16 ? 32768.0 : sample == SampleFormat::Pcm24 ? 8388608.0 : 0.0;
    for (size_t i = 0; i < noise.size(); ++i) {
        const double x = noise[i] + sine[i];
        audio.samples.push_back(static_cast<float>(step > 0.0 ? std::round(x * step) / step : x));
    }
    return audio;
}

class RenderTool : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("pellucer-render-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                "-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    // The tool run by the shell, after the shell commands `shell` if any.
    ToolRun run(const std::vector<std::string>& args, const std::string& shell = "",
                const char* tool = PELLUCER_RENDER_TOOL) const {
        std::string command = shell + quoted(tool);
        for (const std::string& a : args)
            command += " " + quoted(a);
        const std::string out = path("stdout.txt"), err = path("stderr.txt");
        const int raw = std::system((command + " >" + quoted(out) + " 2>" + quoted(err) + " </dev/null").c_str());
        ToolRun r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
        fs::remove(out);
        fs::remove(err);
        return r;
    }

    void write(const std::string& name, const Audio& audio) const {
        AudioWriter writer;
        std::string error;
        ASSERT_TRUE(writer.open(path(name), audio.format, error) &&
                    writer.write(audio.samples.data(), static_cast<int64_t>(audio.frames()), error) && writer.commit(error))
            << error;
    }
    Audio read(const std::string& name) const {
        AudioReader reader;
        std::string error;
        EXPECT_TRUE(reader.open(path(name), error)) << name << ": " << error;
        Audio audio{reader.format(), std::vector<float>(static_cast<size_t>(reader.frames() * reader.format().channels))};
        EXPECT_EQ(reader.read(audio.samples.data(), reader.frames()), reader.frames());
        return audio;
    }

    // The renderer started in the background with the signals' default actions, as from a terminal.
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
    void expectOnly(std::vector<std::string> names) const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(dir_))
            found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(found, names);
    }

    fs::path dir_;
};

// Full Reset reproduces the input aligned, in the input's format: integer samples come back
// unchanged (24 bits within one step: the -140 dBFS noise may tip a rounding), floats within the
// anti-denormal noise (1e-7) and half a float step at 0.6; a float input asked to become FLAC is
// written with 24 bits.
TEST_F(RenderTool, FullResetKeepsTheSignalAndTheFormat) {
    constexpr double kStep24 = 1.0 / 8388608.0;
    using Wav = std::tuple<const char*, const char*, Audio, FileType, SampleFormat, double>;
    const Wav cases[] = {
        {"in.wav", "out.wav", testSignal(2, 48000, 48000, FileType::Wav, SampleFormat::Float32), FileType::Wav,
         SampleFormat::Float32, 1.5e-7},
        {"in16.wav", "out16.wav", testSignal(1, 22050, 20000, FileType::Wav, SampleFormat::Pcm16), FileType::Wav,
         SampleFormat::Pcm16, 0.0},
        {"in.aiff", "out.aiff", testSignal(2, 44100, 10000, FileType::Aiff, SampleFormat::Pcm24), FileType::Aiff,
         SampleFormat::Pcm24, kStep24 + 1e-12},
        {"float.wav", "float.flac", testSignal(2, 44100, 5000, FileType::Wav, SampleFormat::Float32),
         FileType::Flac, SampleFormat::Pcm24, 0.5 * kStep24 + 1.5e-7}};
    for (const auto& [inName, outName, in, type, written, tolerance] : cases) {
        write(inName, in);
        const ToolRun r = run({path(inName), path(outName)});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("compander off"), std::string::npos);
        const Audio out = read(outName);
        EXPECT_TRUE(out.format.type == type && out.format.sample == written) << outName;
        EXPECT_TRUE(out.format.channels == in.format.channels && out.format.sampleRate == in.format.sampleRate);
        ASSERT_EQ(out.frames(), in.frames()) << "no tail without delay and doubler";
        for (size_t i = 0; i < out.samples.size(); ++i)
            ASSERT_NEAR(out.samples[i], in.samples[i], tolerance) << outName << " " << i;
    }
    EXPECT_EQ(slurp(path("in16.wav")), slurp(path("out16.wav")));
}

// The block size the tool hands the engine changes nothing.
TEST_F(RenderTool, BlockSizeChangesNothing) {
    write("in.wav", testSignal(2, 44100, 20000, FileType::Wav, SampleFormat::Float32));
    for (const char* block : {"512", "37", "4096"})
        ASSERT_EQ(run({"--program", "Female Quartet", "--block-size", block, path("in.wav"), path(block)}).status, 0);
    EXPECT_EQ(read("37").samples, read("512").samples);
    EXPECT_EQ(read("4096").samples, read("512").samples);
}

// An impulse with the delay on: the echo lands exactly the delay time (100 ms, 4410 frames) after
// it. The default tail holds one echo; with the doubler it holds the doubler's longest delay,
// 48 ms plus the 110-frame (at 44.1 kHz) modulation depth, rounded up to whole frames at any
// rate; --tail sets the length in seconds.
TEST_F(RenderTool, EchoIsAlignedAndTheTailHoldsIt) {
    const std::vector<std::string> delay = {"--set", "Delay Enable=On", "--set", "Delay Time=100ms", "--set",
                                            "Delay Level=0dB", "--set", "Delay Feedback=0%"};
    const auto doublerTail = [](int32_t rate) { return static_cast<size_t>(std::ceil((0.048 + 110.0 / 44100.0) * rate)); };
    const std::tuple<int32_t, std::vector<std::string>, size_t> cases[] = {
        {44100, delay, 4410},
        {44100, {"--set", "Doubler Enable=On"}, doublerTail(44100)},
        {48000, {"--set", "Doubler Enable=On"}, doublerTail(48000)},
        {96000, {"--set", "Doubler Enable=On"}, doublerTail(96000)},
        {44100, {"--tail", "0.25"}, 11025},
    };
    for (const auto& [rate, settings, tail] : cases) {
        Audio in{{FileType::Wav, SampleFormat::Float32, 1, rate}, std::vector<float>(2000, 0.0f)};
        in.samples[1000] = 0.5f;
        write("in.wav", in);
        std::vector<std::string> args = settings;
        args.insert(args.end(), {path("in.wav"), path("out.wav")});
        ASSERT_EQ(run(args).status, 0);
        const Audio out = read("out.wav");
        EXPECT_EQ(out.frames(), 2000u + tail) << settings.back() << " at " << rate;
        const auto loudest = std::max_element(out.samples.begin() + 1100, out.samples.end(),
                                              [](float a, float b) { return std::fabs(a) < std::fabs(b); });
        EXPECT_TRUE(settings != delay || (std::fabs(out.samples[1000] - 0.5f) < 1e-6f && loudest - out.samples.begin() == 5410));
    }
}

// A saved state loads back to the same parameters, name and order. The .fxp holds 'CcnK', the
// size of what follows the first 8 bytes, 'FPCh', version 1, 'TLpl', plug-in version 1, 39
// parameters, a 28-byte name, the chunk's size and the chunk (the bare state file): big-endian.
TEST_F(RenderTool, SavedStatesHaveThePublishedLayoutAndLoadBack) {
    const std::vector<std::string> settings = {
        "--program", "Female Preamp with Deess and Delay", "--set", "Compressor Thresh=-30dB", "--order", "31452", "--list-params"};
    for (const char* name : {"a.fxp", "a.state"}) {
        std::vector<std::string> save = settings;
        save.insert(save.end(), {"--save-state", path(name)});
        const ToolRun saved = run(save);
        ASSERT_EQ(saved.status, 0) << saved.err;
        const ToolRun loaded = run({"--state", path(name), "--list-params"});
        ASSERT_EQ(loaded.status, 0) << loaded.err;
        EXPECT_EQ(loaded.out, saved.out);
        EXPECT_NE(loaded.out.find("-30.0 dB"), std::string::npos);
        EXPECT_NE(loaded.out.find("31452"), std::string::npos);
    }
    const std::string fxp = slurp(path("a.fxp"));
    ASSERT_EQ(fxp.size(), 60u + 4852u);
    const uint32_t header[] = {fourCc('C', 'c', 'n', 'K'), 4904, fourCc('F', 'P', 'C', 'h'), 1,
                               fourCc('T', 'L', 'p', 'l'), 1, 39};
    for (size_t k = 0; k < std::size(header); ++k)
        EXPECT_EQ(bigEndian(fxp, 4 * k), header[k]) << "field " << k;
    EXPECT_EQ(fxp.substr(28, 28), "Female Preamp with Dees" + std::string(5, '\0')); // the 23 characters hosts see
    EXPECT_EQ(bigEndian(fxp, 56), 4852u);
    EXPECT_EQ(fxp.substr(60), slurp(path("a.state")));
}

// Each failure is one line naming the file or option at fault; nothing is written, and what
// stands at an output's name is left as it is unless it is a regular file.
TEST_F(RenderTool, FailuresExplainThemselvesAndWriteNothing) {
    write("in.wav", testSignal(2, 44100, 1000, FileType::Wav, SampleFormat::Pcm16));
    std::ofstream(path("text.wav")) << "this is not audio\n";
    for (const auto& [name, format, channels, frames] :
         {std::tuple{"eight.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, 100}, {"three.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 3, 100},
          {"raw.au", SF_FORMAT_AU | SF_FORMAT_PCM_16, 1, 100}, {"empty.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 0}}) {
        SF_INFO info{0, 44100, channels, format, 0, 0};
        SNDFILE* file = sf_open(path(name).c_str(), SFM_WRITE, &info);
        ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
        const std::vector<float> silence(static_cast<size_t>(frames * channels), 0.0f);
        sf_writef_float(file, silence.data(), frames);
        sf_close(file);
    }
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0644), 0);
    fs::create_symlink(path("nowhere.wav"), path("dangling.wav"));
    const std::string in = path("in.wav"), out = path("out.wav");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message;
        const char* shell = "";
    };
    const Case cases[] = {
        {{path("missing.wav"), out}, 1, "No such file"}, {{path("text.wav"), out}, 1, "cannot be read as audio"},
        {{path("eight.wav"), out}, 1, "16/24/32-bit integer and 32-bit float"},
        {{path("three.wav"), out}, 1, "3 channels"}, {{path("raw.au"), out}, 1, "WAV, AIFF and FLAC"},
        {{path("empty.wav"), out}, 1, "holds no audio frames"}, {{"--program", "Nonesuch", in, out}, 2, "unknown program"},
        {{"--order", "12344", in, out}, 2, "not a module order"},
        {{"--set", "Compressor Threshold=-18dB", in, out}, 2, "unknown parameter"},
        {{"--set", "Compressor Thresh=-70dB", in, out}, 2, "outside"}, {{"--bogus", in, out}, 2, "unknown option"},
        {{in}, 2, "OUTPUT"}, {{"--order=", in, out}, 2, "--order \"\": an empty value"},
        {{in, path("out.mp3")}, 2, ".mp3 files are not written"},
        {{"--program", "1", "--state", path("x.fxp"), in, out}, 2, "give one"},
        {{"--state", dir_.string(), in, out}, 1, "cannot be read: Is a directory"},
        {{in, path("no-such-folder/out.wav")}, 1, "cannot be written"}, {{in, dir_.string()}, 1, "is a folder"},
        {{in, path("fifo")}, 1, "fifo: is a FIFO"}, {{"--save-state", path("fifo"), in, out}, 1, "fifo: is a FIFO"},
        {{in, path("dangling.wav")}, 1, "leads nowhere"}, {{"--bits", "32", in, path("out.flac")}, 2, "cannot hold"},
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
    expectOnly({"in.wav", "text.wav", "eight.wav", "three.wav", "raw.au", "empty.wav", "fifo", "dangling.wav"});
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
    for (size_t i : {100, 200, 300})
        EXPECT_NEAR(read("out.wav").samples[i], 0.0f, 2.2e-7f) << i;
    fs::resize_file(path("in.wav"), slurp(path("in.wav")).find("data") + 8 + 400 * sizeof(float));
    r = run({path("in.wav"), path("short.wav")});
    EXPECT_NE(r.err.find("announces 1000 frames but the file holds 400"), std::string::npos) << r.err;
    EXPECT_EQ(read("short.wav").frames(), 400u);
}

// The output may not be the input under any spelling; an existing output is replaced only by a
// render that succeeds, and through a symbolic link the file it leads to is replaced.
TEST_F(RenderTool, OutputsNeverDestroyTheInputOrAnEarlierResult) {
    write("in.wav", testSignal(1, 44100, 1000, FileType::Wav, SampleFormat::Pcm16));
    const std::string before = slurp(path("in.wav"));
    fs::create_directories(path("sub"));
    fs::create_symlink(path("in.wav"), path("link.wav"));
    fs::create_hard_link(path("in.wav"), path("hard.wav"));
    for (const std::string& output : {path("in.wav"), (dir_ / "sub" / ".." / "in.wav").string(),
                                      (dir_ / "." / "in.wav").string(), path("link.wav"), path("hard.wav")}) {
        const ToolRun r = run({"--set", "Output Gain=-6dB", path("in.wav"), output});
        EXPECT_NE(r.status, 0) << output;
        EXPECT_NE(r.err.find("is the input file"), std::string::npos) << output << ": " << r.err;
    }
    EXPECT_EQ(slurp(path("in.wav")), before);
    std::ofstream(path("out.wav")) << "keep me";
    EXPECT_NE(run({"--set", "No Such Thing=1", path("in.wav"), path("out.wav")}).status, 0);
    EXPECT_NE(run({"--save-state", path("no-such-folder/s.fxp"), path("in.wav"), path("out.wav")}).status, 0);
    EXPECT_EQ(slurp(path("out.wav")), "keep me");
    fs::create_symlink(path("out.wav"), path("out-link.wav"));
    ASSERT_EQ(run({path("in.wav"), path("out-link.wav")}).status, 0);
    EXPECT_TRUE(fs::is_symlink(path("out-link.wav")) && read("out.wav").frames() == 1000u);
    expectOnly({"in.wav", "sub", "link.wav", "hard.wav", "out.wav", "out-link.wav"});
}

// Interrupted, ended or hung up on mid-render, the tool leaves neither its output nor a
// temporary file.
TEST_F(RenderTool, StopSignalsLeaveNothingBehind) {
    write("in.wav", testSignal(1, 8000, 100, FileType::Wav, SampleFormat::Pcm16));
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(::strsignal(signal));
        const pid_t pid = start({"--tail", "3600", "--save-state", path("s.fxp"), path("in.wav"), path("out.wav")});
        bool started = false; // once its temporary output exists
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

// Contrasting factory programs render the committed voice excerpt as they did when the
// references were made (tools/make-reference-renders.sh): within 1e-6, the 24-bit references' own
// rounding (6e-8) included. Speed work must leave the sound alone; a change of sound is made on
// purpose, with new references.
TEST_F(RenderTool, FactoryProgramsSoundAsTheyDid) {
    const fs::path dir = fs::path(PELLUCER_SOURCE_DIR) / "tests" / "data" / "reference";
    std::map<std::string, std::vector<std::string>> lists;
    std::istringstream text(slurp(dir / "renders.txt"));
    for (std::string line; std::getline(text, line);) {
        const size_t equals = line.find('=');
        if (!line.starts_with("#") && equals != std::string::npos) {
            std::istringstream words(line.substr(equals + 1));
            lists[line.substr(0, equals)] = {std::istream_iterator<std::string>(words), {}};
        }
    }
    ASSERT_GE(lists["PROGRAMS"].size(), 5u);
    for (const std::string& program : lists["PROGRAMS"]) {
        std::vector<std::string> args{"--program", program, "--bits", "float", "-q"};
        args.insert(args.end(), lists["OPTIONS"].begin(), lists["OPTIONS"].end());
        args.insert(args.end(), {(dir / "voice-excerpt.wav").string(), path(program + ".wav")});
        ASSERT_EQ(run(args).status, 0) << "program " << program;
        const ToolRun c = run({"--offset", "0", "--tolerance", "1e-6", (dir / (program + ".flac")).string(),
                               path(program + ".wav")}, "", PELLUCER_COMPARE_TOOL);
        EXPECT_EQ(c.status, 0) << "program " << program << ": " << c.out << c.err;
    }
}

} // namespace
} // namespace pellucer::render

#endif // PELLUCER_RENDER_TOOL
