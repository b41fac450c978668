#pragma once

// The filter's state in a host's project stream, as bytes: a version header of UTF-16LE
// characters, the length of the effect's state chunk as 32 bits little-endian, and the chunk
// exactly as the effect hands it out. We write the header "00000000000 " (the version, 0, in
// eleven digits and a space); we read any header of an optional '-', decimal digits and one
// terminator (space, tab, CR, LF or NUL), since the version does not change how the body reads.
// Plain C++: StreamPersistence moves these bytes between an IStream and the effect, and the
// rules are tested and fuzzed on every platform.

#include <array>
#include <cstddef>
#include <cstdint>

namespace pellucer::dx {

/// Bytes of the version header as we write it.
inline constexpr uint32_t kStreamHeaderBytes = 24;
/// Bytes of the chunk's length field.
inline constexpr uint32_t kStreamLengthBytes = 4;
/// The largest chunk a stream may carry; longer ones are refused as not ours.
inline constexpr uint32_t kStreamMaxChunkBytes = 1000000;

/// How far a stream has been read: still reading its header or length, ready for a chunk of
/// `chunkBytes`, refused as not ours, or cut off before its chunk's end.
enum class StreamStatus { Reading, Complete, InvalidFormat, EndsEarly };

/// Reads the header and the length field piece by piece, as a stream hands them over: give
/// `take()` exactly `wanted()` bytes while the status is Reading. It then becomes Complete (the
/// chunk of chunkBytes() follows in the stream) or InvalidFormat; the reader never asks for a
/// byte past the length field, so the stream stays at the chunk.
class StreamHeaderReader {
public:
    /// Bytes the next take() needs: 2 per header character, then 4 for the length; 0 when done.
    uint32_t wanted() const;
    void take(const uint8_t* bytes);
    StreamStatus status() const { return status_; }
    uint32_t chunkBytes() const { return chunkBytes_; }

private:
    StreamStatus status_ = StreamStatus::Reading;
    bool headerRead_ = false;  // the terminator has come: the length field is next
    bool firstChar_ = true;    // only the first character may be the sign
    uint32_t chunkBytes_ = 0;
};

/// A stream image held in memory: Complete with where its chunk lies, InvalidFormat, or
/// EndsEarly when the bytes stop before the chunk's end. Bytes after the chunk are not read.
struct StreamImage {
    StreamStatus status = StreamStatus::EndsEarly;
    size_t chunkOffset = 0; ///< the chunk's first byte (Complete)
    uint32_t chunkBytes = 0;
};
StreamImage parseStreamImage(const uint8_t* data, size_t size);

/// The version header written before every chunk.
std::array<uint8_t, kStreamHeaderBytes> streamVersionHeader();
/// The length field of a chunk of `chunkBytes`.
std::array<uint8_t, kStreamLengthBytes> streamLengthField(uint32_t chunkBytes);

} // namespace pellucer::dx
