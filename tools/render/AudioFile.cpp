#include "tools/render/AudioFile.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

namespace pellucer::render {

namespace {

std::string lowerCase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool typeFromSndfile(int major, FileType& type) {
    switch (major) {
    case SF_FORMAT_WAV:
        type = FileType::Wav;
        return true;
    case SF_FORMAT_WAVEX:
        type = FileType::WavExtensible;
        return true;
    case SF_FORMAT_AIFF:
        type = FileType::Aiff;
        return true;
    case SF_FORMAT_FLAC:
        type = FileType::Flac;
        return true;
    default:
        return false;
    }
}

bool sampleFromSndfile(int subtype, SampleFormat& sample) {
    switch (subtype) {
    case SF_FORMAT_PCM_16:
        sample = SampleFormat::Pcm16;
        return true;
    case SF_FORMAT_PCM_24:
        sample = SampleFormat::Pcm24;
        return true;
    case SF_FORMAT_PCM_32:
        sample = SampleFormat::Pcm32;
        return true;
    case SF_FORMAT_FLOAT:
        sample = SampleFormat::Float32;
        return true;
    default:
        return false;
    }
}

int sndfileFormat(const AudioFormat& format) {
    int major = SF_FORMAT_WAV;
    switch (format.type) {
    case FileType::Wav:
        major = SF_FORMAT_WAV;
        break;
    case FileType::WavExtensible:
        major = SF_FORMAT_WAVEX;
        break;
    case FileType::Aiff:
        major = SF_FORMAT_AIFF;
        break;
    case FileType::Flac:
        major = SF_FORMAT_FLAC;
        break;
    }
    int subtype = SF_FORMAT_FLOAT;
    switch (format.sample) {
    case SampleFormat::Pcm16:
        subtype = SF_FORMAT_PCM_16;
        break;
    case SampleFormat::Pcm24:
        subtype = SF_FORMAT_PCM_24;
        break;
    case SampleFormat::Pcm32:
        subtype = SF_FORMAT_PCM_32;
        break;
    case SampleFormat::Float32:
        subtype = SF_FORMAT_FLOAT;
        break;
    }
    return major | subtype;
}

int sampleBits(SampleFormat sample) {
    return sample == SampleFormat::Pcm16 ? 16 : sample == SampleFormat::Pcm24 ? 24 : 32;
}

// Whether an output may replace what stands at its name: a regular file only.
bool replaceable(mode_t mode, std::string& error) {
    if (S_ISREG(mode))
        return true;
    const char* kind = S_ISDIR(mode)    ? "a folder"
                       : S_ISFIFO(mode) ? "a FIFO"
                       : S_ISSOCK(mode) ? "a socket"
                       : S_ISCHR(mode)  ? "a character device"
                       : S_ISBLK(mode)  ? "a block device"
                       : S_ISLNK(mode)  ? "a symbolic link"
                                        : "something other than a file";
    error = std::string("is ") + kind + ", not a regular file; it is left as it is";
    return false;
}

// The frames the data chunk of a WAV file announces, or -1 when it cannot be read. The library
// counts only the frames the file holds and says nothing of a header that promised more.
int64_t wavDataFrames(const std::string& path, int64_t bytesPerFrame) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    unsigned char chunk[12];
    if (!file || std::fread(chunk, 1, 12, file.get()) != 12 || std::memcmp(chunk, "RIFF", 4) != 0 ||
        std::memcmp(chunk + 8, "WAVE", 4) != 0)
        return -1;
    while (std::fread(chunk, 1, 8, file.get()) == 8) {
        const uint32_t size = chunk[4] | (chunk[5] << 8) | (chunk[6] << 16) | (uint32_t{chunk[7]} << 24);
        if (std::memcmp(chunk, "data", 4) == 0)
            return size == 0xFFFFFFFFu ? -1 : size / bytesPerFrame; // all ones: length not known
        if (std::fseek(file.get(), static_cast<long>(size + (size & 1)), SEEK_CUR) != 0)
            return -1;
    }
    return -1;
}

std::string subtypeName(int subtype) {
    SF_FORMAT_INFO info{};
    info.format = subtype;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof(info)) == 0 && info.name != nullptr)
        return info.name;
    return "an unknown sample format";
}

} // namespace

const char* fileTypeName(FileType type) {
    switch (type) {
    case FileType::Wav:
        return "WAV";
    case FileType::WavExtensible:
        return "WAV (extensible)";
    case FileType::Aiff:
        return "AIFF";
    case FileType::Flac:
        return "FLAC";
    }
    return "?";
}

const char* sampleFormatName(SampleFormat sample) {
    switch (sample) {
    case SampleFormat::Pcm16:
        return "16-bit";
    case SampleFormat::Pcm24:
        return "24-bit";
    case SampleFormat::Pcm32:
        return "32-bit";
    case SampleFormat::Float32:
        return "32-bit float";
    }
    return "?";
}

bool fileTypeFromExtension(const std::string& path, FileType& type) {
    const std::string extension = lowerCase(std::filesystem::path(path).extension().string());
    if (extension == ".wav")
        type = FileType::Wav;
    else if (extension == ".aif" || extension == ".aiff" || extension == ".aifc")
        type = FileType::Aiff;
    else if (extension == ".flac")
        type = FileType::Flac;
    else
        return false;
    return true;
}

bool canHold(FileType type, SampleFormat sample) {
    return type != FileType::Flac || sample == SampleFormat::Pcm16 || sample == SampleFormat::Pcm24;
}

// ---- reading ---------------------------------------------------------------------------------

AudioReader::~AudioReader() {
    if (file_ != nullptr)
        sf_close(file_);
}

bool AudioReader::open(const std::string& path, std::string& error) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (S_ISDIR(status.st_mode)) {
        error = "is a folder, not an audio file";
        return false;
    }
    SF_INFO info{};
    file_ = sf_open(path.c_str(), SFM_READ, &info);
    if (file_ == nullptr) {
        error = std::string("cannot be read as audio: ") + sf_strerror(nullptr);
        return false;
    }
    const int major = info.format & SF_FORMAT_TYPEMASK;
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    if (!typeFromSndfile(major, format_.type)) {
        SF_FORMAT_INFO typeInfo{};
        typeInfo.format = major;
        sf_command(nullptr, SFC_GET_FORMAT_INFO, &typeInfo, sizeof(typeInfo));
        error = std::string("is ") + (typeInfo.name != nullptr ? typeInfo.name : "another kind of") +
                " audio; WAV, AIFF and FLAC are supported";
        return false;
    }
    if (!sampleFromSndfile(subtype, format_.sample)) {
        error =
            "holds " + subtypeName(subtype) + " samples; 16/24/32-bit integer and 32-bit float are supported";
        return false;
    }
    if (info.channels < 1 || info.channels > 2) {
        error = "has " + std::to_string(info.channels) + " channels; mono and stereo are supported";
        return false;
    }
    if (info.samplerate <= 0) {
        error = "has no valid sample rate";
        return false;
    }
    format_.channels = info.channels;
    format_.sampleRate = info.samplerate;
    frames_ = info.frames;
    announcedFrames_ = frames_;
    if (format_.type == FileType::Wav || format_.type == FileType::WavExtensible)
        announcedFrames_ =
            std::max(frames_, wavDataFrames(path, sampleBits(format_.sample) / 8 * format_.channels));
    return true;
}

int64_t AudioReader::read(float* interleaved, int64_t frames) {
    if (file_ == nullptr)
        return -1;
    const sf_count_t n = sf_readf_float(file_, interleaved, frames);
    if (n < frames && sf_error(file_) != SF_ERR_NO_ERROR)
        return -1;
    return n;
}

// ---- writing ---------------------------------------------------------------------------------

int PendingFile::create(const std::string& path, std::string& error) {
    namespace fs = std::filesystem;
    remove();
    destination_ = path;
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
        char* target = ::realpath(path.c_str(), nullptr);
        if (target == nullptr) {
            error = std::string("is a symbolic link that leads nowhere: ") + std::strerror(errno);
            return -1;
        }
        destination_ = target;
        std::free(target);
    }
    mode_t mode = 0;
    if (::stat(destination_.c_str(), &status) == 0) {
        if (!replaceable(status.st_mode, error))
            return -1;
        if (::access(destination_.c_str(), W_OK) != 0) {
            error = std::string("is not writable: ") + std::strerror(errno);
            return -1;
        }
        mode = status.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    const fs::path destination(destination_);
    fs::path folder = destination.parent_path();
    if (folder.empty())
        folder = ".";
    // A hidden name beside the destination: ".NAME.XXXXXX" (appended piecewise: GCC 12 warns
    // falsely about "." + string).
    std::string hidden(".");
    hidden += destination.filename().string();
    hidden += ".XXXXXX";
    std::string pattern = (folder / hidden).string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        error =
            "cannot be written: " + std::string(std::strerror(errno)) + " (folder " + folder.string() + ")";
        return -1;
    }
    ::fchmod(fd, mode);
    temporary_ = pattern;
    return fd;
}

bool PendingFile::place(std::string& error) {
    // Looked at again, as the rename replaces whatever stands there now (a link included).
    struct stat status {};
    if (::lstat(destination_.c_str(), &status) == 0 && !replaceable(status.st_mode, error)) {
        remove();
        return false;
    }
    if (std::rename(temporary_.c_str(), destination_.c_str()) != 0) {
        error = std::string("could not be put in place: ") + std::strerror(errno);
        remove();
        return false;
    }
    temporary_.clear();
    return true;
}

void PendingFile::remove() {
    if (!temporary_.empty())
        std::remove(temporary_.c_str());
    temporary_.clear();
}

AudioWriter::~AudioWriter() { discard(); }

bool AudioWriter::open(const std::string& path, const AudioFormat& format, std::string& error) {
    SF_INFO info{};
    info.samplerate = format.sampleRate;
    info.channels = format.channels;
    info.format = sndfileFormat(format);
    if (!sf_format_check(&info)) {
        error = std::string("cannot hold ") + sampleFormatName(format.sample) + " samples as " +
                fileTypeName(format.type);
        return false;
    }
    const int fd = pending_.create(path, error);
    if (fd < 0)
        return false;
    failed_ = false;
    file_ = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
    if (file_ == nullptr) {
        // libsndfile closes the descriptor it was given when the open fails.
        error = std::string("cannot be written: ") + sf_strerror(nullptr);
        discard();
        return false;
    }
    // No PEAK chunk: it carries a time stamp, and the same render should give the same bytes.
    sf_command(file_, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    sample_ = format.sample;
    channels_ = format.channels;
    return true;
}

bool AudioWriter::write(const float* interleaved, int64_t frames, std::string& error) {
    if (file_ == nullptr) {
        error = "is not open";
        return false;
    }
    sf_count_t written = 0;
    if (sample_ == SampleFormat::Float32) {
        written = sf_writef_float(file_, interleaved, frames);
    } else {
        // Integer samples are rounded here rather than by libsndfile: its float conversion
        // scales by 2^(bits-1) - 1 (or rounds toward minus infinity when clipping), so a file read
        // as float and written back would not come out as it went in. Rounded to the nearest
        // step of 2^-(bits-1), held to full scale, and handed over left-aligned in 32 bits (which
        // libsndfile shortens to the file's width exactly); no dither.
        const int bits = sampleBits(sample_);
        const double scale = std::ldexp(1.0, bits - 1);
        const double largest = scale - 1.0;
        const int shift = 32 - bits;
        const auto count = static_cast<size_t>(frames * channels_);
        integers_.resize(count);
        for (size_t i = 0; i < count; ++i) {
            const double step =
                std::clamp(std::nearbyint(static_cast<double>(interleaved[i]) * scale), -scale, largest);
            integers_[i] = static_cast<int32_t>(static_cast<uint32_t>(static_cast<int32_t>(step)) << shift);
        }
        written = sf_writef_int(file_, integers_.data(), frames);
    }
    if (written != frames) {
        error = std::string("could not be written: ") + sf_strerror(file_);
        failed_ = true;
        return false;
    }
    return true;
}

bool AudioWriter::commit(std::string& error) {
    if (file_ == nullptr) {
        error = "is not open";
        return false;
    }
    sf_write_sync(file_);
    const int result = sf_close(file_);
    file_ = nullptr;
    if (result != 0) {
        error = std::string("could not be completed: ") + sf_error_number(result);
        discard();
        return false;
    }
    return pending_.place(error);
}

void AudioWriter::discard() {
    if (file_ != nullptr) {
        sf_close(file_);
        file_ = nullptr;
    }
    pending_.remove();
}

// ---- small files ----------------------------------------------------------------------------

FileCommit::~FileCommit() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool FileCommit::open(const std::string& path, std::string& error) {
    fd_ = pending_.create(path, error);
    return fd_ >= 0;
}

bool FileCommit::commit(const void* data, size_t size, std::string& error) {
    if (fd_ < 0) {
        error = "is not open";
        return false;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t written = 0;
    while (written < size) {
        const ssize_t n = ::write(fd_, bytes + written, size - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = std::string("could not be written: ") + std::strerror(errno);
            return false;
        }
        written += static_cast<size_t>(n);
    }
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0) {
        error = std::string("could not be completed: ") + std::strerror(errno);
        return false;
    }
    return pending_.place(error);
}

} // namespace pellucer::render
