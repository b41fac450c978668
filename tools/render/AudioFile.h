#pragma once

// Audio files through libsndfile: WAV (and WAVE_FORMAT_EXTENSIBLE), AIFF and FLAC, one or two
// channels, 16/24/32-bit integer or 32-bit float samples, read and written as interleaved
// single-precision frames.

#include <cstdint>
#include <string>
#include <vector>

struct sf_private_tag;

namespace pellucer::render {

enum class FileType { Wav, WavExtensible, Aiff, Flac };
enum class SampleFormat { Pcm16, Pcm24, Pcm32, Float32 };

struct AudioFormat {
    FileType type = FileType::Wav;
    SampleFormat sample = SampleFormat::Float32;
    int32_t channels = 2;
    int32_t sampleRate = 44100;
};

/// "WAV", "AIFF", "FLAC"; "16-bit", "24-bit", "32-bit", "32-bit float".
const char* fileTypeName(FileType type);
const char* sampleFormatName(SampleFormat sample);
/// The file type an output name asks for by its extension (.wav, .aif, .aiff, .aifc, .flac);
/// false for any other name.
bool fileTypeFromExtension(const std::string& path, FileType& type);
/// Whether the file type can hold the sample format (FLAC holds 16- and 24-bit integers only).
bool canHold(FileType type, SampleFormat sample);

/// An input file, read front to back.
class AudioReader {
public:
    AudioReader() = default;
    AudioReader(const AudioReader&) = delete;
    AudioReader& operator=(const AudioReader&) = delete;
    ~AudioReader();

    /// Opens `path`; false with a one-line `error` (without the path) when it cannot be read or
    /// holds something other than the formats above.
    bool open(const std::string& path, std::string& error);
    const AudioFormat& format() const { return format_; }
    /// Frames the file announces.
    int64_t frames() const { return frames_; }
    /// Reads up to `frames` interleaved frames into `interleaved`; answers the frames read (0 at
    /// the end) or -1 on a read error.
    int64_t read(float* interleaved, int64_t frames);

private:
    sf_private_tag* file_ = nullptr;
    AudioFormat format_;
    int64_t frames_ = 0;
};

/// An output file, written to a temporary file in the destination's folder and moved into place
/// by `commit`. Until then an existing file at the destination is untouched; a writer that is
/// destroyed without a commit removes its temporary file.
class AudioWriter {
public:
    AudioWriter() = default;
    AudioWriter(const AudioWriter&) = delete;
    AudioWriter& operator=(const AudioWriter&) = delete;
    ~AudioWriter();

    bool open(const std::string& path, const AudioFormat& format, std::string& error);
    /// Writes interleaved frames. Integer formats get each sample rounded to the nearest step and
    /// held to full scale (no dither), so that a file read as float is written back unchanged.
    /// Answers false on a write error.
    bool write(const float* interleaved, int64_t frames, std::string& error);
    /// Closes the file and renames it to the destination.
    bool commit(std::string& error);
    /// Closes and removes the temporary file (nothing happens after a commit).
    void discard();

private:
    sf_private_tag* file_ = nullptr;
    std::string path_;
    std::string temporaryPath_;
    SampleFormat sample_ = SampleFormat::Float32;
    int32_t channels_ = 2;
    std::vector<int32_t> integers_;
};

/// A small file written whole (a state file), with the same temporary-file-and-rename rule.
/// `open` creates the temporary file, so an unwritable destination is found before any work.
class FileCommit {
public:
    FileCommit() = default;
    FileCommit(const FileCommit&) = delete;
    FileCommit& operator=(const FileCommit&) = delete;
    ~FileCommit();

    bool open(const std::string& path, std::string& error);
    bool commit(const void* data, size_t size, std::string& error);

private:
    int fd_ = -1;
    std::string path_;
    std::string temporaryPath_;
};

/// A temporary file beside `path` (same folder, hidden name), created with the permissions the
/// destination has or, for a new file, the usual ones. Answers the descriptor or -1 with `error`.
int createTemporaryBeside(const std::string& path, std::string& temporaryPath, std::string& error);

} // namespace pellucer::render
