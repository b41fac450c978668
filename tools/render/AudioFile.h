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
    /// Frames the file holds, as far as its header and its length tell.
    int64_t frames() const { return frames_; }
    /// Frames the header announces: more than `frames` when a WAV file was cut short (the
    /// library counts only what the file holds).
    int64_t announcedFrames() const { return announcedFrames_; }
    /// Reads up to `frames` interleaved frames into `interleaved`; answers the frames read (0 at
    /// the end) or -1 on a read error.
    int64_t read(float* interleaved, int64_t frames);

private:
    sf_private_tag* file_ = nullptr;
    AudioFormat format_;
    int64_t frames_ = 0;
    int64_t announcedFrames_ = 0;
};

/// The hidden temporary file an output is written to, in the folder of the file it is to
/// replace, and renamed onto that file when complete; until then an existing file is untouched.
/// One that is never put in place is removed.
class PendingFile {
public:
    PendingFile() = default;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    ~PendingFile() { remove(); }

    /// Creates the temporary file for the output `path`, with the permissions the file it
    /// replaces has or, for a new file, the usual ones. A symbolic link stays as it is: the file
    /// it leads to is the one replaced. Answers the descriptor, or -1 with a one-line `error`
    /// (without the path) when the output is something other than a regular file (a folder, a
    /// device, a FIFO, a socket), a link that leads nowhere, or cannot be written.
    int create(const std::string& path, std::string& error);
    /// Renames the temporary file onto the destination, unless something other than a regular
    /// file has taken the destination's place meanwhile (then the temporary file is removed).
    bool place(std::string& error);
    void remove();

private:
    std::string destination_;
    std::string temporary_;
};

/// An output file, written to a PendingFile and put in place by `commit`.
class AudioWriter {
public:
    AudioWriter() = default;
    AudioWriter(const AudioWriter&) = delete;
    AudioWriter& operator=(const AudioWriter&) = delete;
    ~AudioWriter();

    bool open(const std::string& path, const AudioFormat& format, std::string& error);
    /// Writes interleaved frames. Integer formats get each sample rounded to the nearest step and
    /// held to full scale (no dither), so that a file read as float is written back unchanged.
    /// Answers false on a write error (and `failed` tells it afterwards).
    bool write(const float* interleaved, int64_t frames, std::string& error);
    bool failed() const { return failed_; }
    /// Closes the file and renames it to the destination.
    bool commit(std::string& error);
    /// Closes and removes the temporary file (nothing happens after a commit).
    void discard();

private:
    sf_private_tag* file_ = nullptr;
    PendingFile pending_;
    bool failed_ = false;
    SampleFormat sample_ = SampleFormat::Float32;
    int32_t channels_ = 2;
    std::vector<int32_t> integers_;
};

/// A small file written whole (a state file), through a PendingFile as well. `open` creates the
/// temporary file, so an unwritable destination is found before any work.
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
    PendingFile pending_;
};

} // namespace pellucer::render
