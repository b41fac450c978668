#include "tools/render/FxpFile.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace pellucer::render {

namespace {

constexpr char kChunkMagic[4] = {'T', 'L', 't', 'g'};
// Field offsets of a program file.
constexpr size_t kByteSizeOffset = 4;
constexpr size_t kKindOffset = 8;
constexpr size_t kVersionOffset = 12;
constexpr size_t kIdOffset = 16;
constexpr size_t kParameterCountOffset = 24;
constexpr size_t kNameOffset = 28;
constexpr size_t kChunkSizeOffset = 56;
// byteSize counts the bytes after the magic and itself.
constexpr size_t kBytesBeforeByteSizeEnd = 8;

void putBigEndian(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

uint32_t bigEndianAt(const uint8_t* data, size_t offset) {
    return (static_cast<uint32_t>(data[offset]) << 24) | (static_cast<uint32_t>(data[offset + 1]) << 16) |
           (static_cast<uint32_t>(data[offset + 2]) << 8) | static_cast<uint32_t>(data[offset + 3]);
}

std::string fourCcText(uint32_t code) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto c = static_cast<char>(code >> shift);
        text.push_back(c >= 0x20 && c < 0x7f ? c : '?');
    }
    return text;
}

bool isStateChunk(const uint8_t* data, size_t size) {
    return size >= sizeof(kChunkMagic) && std::memcmp(data, kChunkMagic, sizeof(kChunkMagic)) == 0;
}

bool readFxp(const uint8_t* data, size_t size, StateProgram& program, std::string& error) {
    if (size < kFxpParameterHeaderBytes) {
        error = "is an .fxp file cut short (" + std::to_string(size) + " bytes)";
        return false;
    }
    const uint32_t kind = bigEndianAt(data, kKindOffset);
    if (kind == kFxpChunkBank || kind == kFxpParameterBank) {
        error = "is a bank (.fxb) file; save a single program (.fxp) from the host";
        return false;
    }
    if (kind != kFxpChunkProgram && kind != kFxpParameterProgram) {
        error = "is not an .fxp program (kind '" + fourCcText(kind) + "')";
        return false;
    }
    const uint32_t id = bigEndianAt(data, kIdOffset);
    if (id != kPlugInId) {
        error = "is a program for another plug-in (ID '" + fourCcText(id) + "', not '" +
                fourCcText(kPlugInId) + "')";
        return false;
    }
    const uint32_t version = bigEndianAt(data, kVersionOffset);
    if (version < 1 || version > 2) {
        error = "is an .fxp of unknown version " + std::to_string(version);
        return false;
    }
    const uint64_t byteSize = bigEndianAt(data, kByteSizeOffset);
    if (byteSize + kBytesBeforeByteSizeEnd > size) {
        error = "is an .fxp file cut short (its header announces " +
                std::to_string(byteSize + kBytesBeforeByteSizeEnd) + " bytes, the file has " +
                std::to_string(size) + ")";
        return false;
    }

    const char* name = reinterpret_cast<const char*>(data + kNameOffset);
    program.name.assign(name, std::find(name, name + kFxpNameBytes, '\0'));

    if (kind == kFxpParameterProgram) {
        const uint32_t count = bigEndianAt(data, kParameterCountOffset);
        if (count != static_cast<uint32_t>(kFxpParameterCount)) {
            error =
                "holds " + std::to_string(count) + " parameters, not " + std::to_string(kFxpParameterCount);
            return false;
        }
        if (size - kFxpParameterHeaderBytes < count * sizeof(float)) {
            error = "is an .fxp file cut short in its parameter values";
            return false;
        }
        program.kind = StateProgram::Kind::Parameters;
        program.values.resize(count);
        for (uint32_t i = 0; i < count; ++i)
            program.values[i] = std::bit_cast<float>(bigEndianAt(data, kFxpParameterHeaderBytes + 4 * i));
        return true;
    }

    if (size < kFxpChunkHeaderBytes) {
        error = "is an .fxp file cut short (" + std::to_string(size) + " bytes)";
        return false;
    }
    const uint64_t chunkSize = bigEndianAt(data, kChunkSizeOffset);
    if (chunkSize > size - kFxpChunkHeaderBytes) {
        error = "is an .fxp file cut short (its chunk needs " + std::to_string(chunkSize) + " bytes, " +
                std::to_string(size - kFxpChunkHeaderBytes) + " follow)";
        return false;
    }
    if (chunkSize != kStateChunkBytes || !isStateChunk(data + kFxpChunkHeaderBytes, chunkSize)) {
        error = "holds a chunk of " + std::to_string(chunkSize) + " bytes that is not a Pellucer state (" +
                std::to_string(kStateChunkBytes) + " bytes starting with \"TLtg\")";
        return false;
    }
    program.kind = StateProgram::Kind::Chunk;
    program.chunk.assign(data + kFxpChunkHeaderBytes, data + kFxpChunkHeaderBytes + chunkSize);
    return true;
}

} // namespace

std::vector<uint8_t> writeFxp(const std::vector<uint8_t>& chunk, const std::string& name) {
    std::vector<uint8_t> out;
    out.reserve(kFxpChunkHeaderBytes + chunk.size());
    putBigEndian(out, kFxpFileMagic);
    putBigEndian(out, static_cast<uint32_t>(kFxpChunkHeaderBytes - kBytesBeforeByteSizeEnd + chunk.size()));
    putBigEndian(out, kFxpChunkProgram);
    putBigEndian(out, kFxpVersion);
    putBigEndian(out, kPlugInId);
    putBigEndian(out, kFxpPlugInVersion);
    putBigEndian(out, kFxpParameterCount);
    uint8_t nameField[kFxpNameBytes] = {};
    std::memcpy(nameField, name.data(), std::min(name.size(), kFxpNameBytes - 1));
    out.insert(out.end(), nameField, nameField + kFxpNameBytes);
    putBigEndian(out, static_cast<uint32_t>(chunk.size()));
    out.insert(out.end(), chunk.begin(), chunk.end());
    return out;
}

bool readStateFile(const uint8_t* data, size_t size, StateProgram& program, std::string& error) {
    program = StateProgram{};
    if (data == nullptr || size == 0) {
        error = "is empty";
        return false;
    }
    if (size >= 4 && bigEndianAt(data, 0) == kFxpFileMagic)
        return readFxp(data, size, program, error);
    if (isStateChunk(data, size)) {
        if (size != kStateChunkBytes) {
            error = "is a state chunk of " + std::to_string(size) + " bytes, not " +
                    std::to_string(kStateChunkBytes);
            return false;
        }
        program.kind = StateProgram::Kind::Chunk;
        program.chunk.assign(data, data + size);
        return true;
    }
    error = "is neither a Pellucer state chunk nor an .fxp program file";
    return false;
}

} // namespace pellucer::render
