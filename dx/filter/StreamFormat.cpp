#include "dx/filter/StreamFormat.h"

#include <cstdio>

namespace pellucer::dx {

namespace {

/// The software version written into every stream; reading accepts any number.
constexpr int kStreamVersion = 0;

bool isTerminator(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == 0; }

} // namespace

uint32_t StreamHeaderReader::wanted() const {
    if (status_ != StreamStatus::Reading)
        return 0;
    return headerRead_ ? kStreamLengthBytes : 2;
}

void StreamHeaderReader::take(const uint8_t* bytes) {
    if (status_ != StreamStatus::Reading)
        return;
    if (headerRead_) {
        chunkBytes_ = static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
                      (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
        status_ = chunkBytes_ > kStreamMaxChunkBytes ? StreamStatus::InvalidFormat : StreamStatus::Complete;
        return;
    }
    const auto c = static_cast<char16_t>(bytes[0] | (bytes[1] << 8));
    const bool sign = firstChar_ && c == u'-';
    firstChar_ = false;
    if (sign || (c >= u'0' && c <= u'9'))
        return;
    if (isTerminator(c))
        headerRead_ = true;
    else
        status_ = StreamStatus::InvalidFormat;
}

StreamImage parseStreamImage(const uint8_t* data, size_t size) {
    StreamHeaderReader reader;
    size_t at = 0;
    while (reader.status() == StreamStatus::Reading) {
        const uint32_t piece = reader.wanted();
        if (size - at < piece)
            return {};
        reader.take(data + at);
        at += piece;
    }
    if (reader.status() == StreamStatus::InvalidFormat)
        return {StreamStatus::InvalidFormat};
    if (size - at < reader.chunkBytes())
        return {};
    return {StreamStatus::Complete, at, reader.chunkBytes()};
}

std::array<uint8_t, kStreamHeaderBytes> streamVersionHeader() {
    char header[16];
    std::snprintf(header, sizeof header, "%011d ", kStreamVersion);
    std::array<uint8_t, kStreamHeaderBytes> wide{};
    for (uint32_t i = 0; i < kStreamHeaderBytes / 2; ++i)
        wide[2 * i] = static_cast<uint8_t>(header[i]);
    return wide;
}

std::array<uint8_t, kStreamLengthBytes> streamLengthField(uint32_t chunkBytes) {
    return {static_cast<uint8_t>(chunkBytes), static_cast<uint8_t>(chunkBytes >> 8),
            static_cast<uint8_t>(chunkBytes >> 16), static_cast<uint8_t>(chunkBytes >> 24)};
}

} // namespace pellucer::dx
