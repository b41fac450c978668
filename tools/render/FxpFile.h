#pragma once

// State files: the bare 4852-byte state chunk, and the standard VST program file (.fxp).
//
// An .fxp is big-endian: 'CcnK', byteSize (the bytes after this field), then 'FPCh' for a
// program that carries an opaque chunk, version, the plug-in's unique ID, the plug-in's version,
// the parameter count, a 28-byte program name, the chunk size and the chunk. Hosts that save
// parameters instead write 'FxCk' followed by the parameter count's big-endian floats; such
// files are read too. Banks ('FxBk', 'FBCh') are refused.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pellucer::render {

/// Four-character code with the first character in the most significant byte.
constexpr uint32_t fourCc(char a, char b, char c, char d) {
    return (static_cast<uint32_t>(static_cast<uint8_t>(a)) << 24) |
           (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 8) |
           static_cast<uint32_t>(static_cast<uint8_t>(d));
}

constexpr uint32_t kFxpFileMagic = fourCc('C', 'c', 'n', 'K');
constexpr uint32_t kFxpChunkProgram = fourCc('F', 'P', 'C', 'h');
constexpr uint32_t kFxpParameterProgram = fourCc('F', 'x', 'C', 'k');
constexpr uint32_t kFxpChunkBank = fourCc('F', 'B', 'C', 'h');
constexpr uint32_t kFxpParameterBank = fourCc('F', 'x', 'B', 'k');
/// The plug-in's unique ID, 'TLpl'.
constexpr uint32_t kPlugInId = fourCc('T', 'L', 'p', 'l');
constexpr int32_t kFxpVersion = 1;
constexpr int32_t kFxpPlugInVersion = 1;
constexpr int32_t kFxpParameterCount = 39;
constexpr size_t kFxpNameBytes = 28;
/// Bytes before the chunk of an 'FPCh' file, and before the floats of an 'FxCk' file.
constexpr size_t kFxpChunkHeaderBytes = 60;
constexpr size_t kFxpParameterHeaderBytes = 56;
/// The state chunk: 4852 bytes starting with "TLtg".
constexpr size_t kStateChunkBytes = 4852;

/// A program read from a state file: either a whole state chunk or the parameter values.
struct StateProgram {
    enum class Kind { Chunk, Parameters };
    Kind kind = Kind::Chunk;
    std::vector<uint8_t> chunk; ///< 4852 bytes (Kind::Chunk)
    std::vector<float> values;  ///< 39 values in parameter order (Kind::Parameters)
    std::string name;           ///< the fxp's program name (empty for a bare chunk)
};

/// An 'FPCh' program file holding `chunk`, named `name` (cut to 27 bytes).
std::vector<uint8_t> writeFxp(const std::vector<uint8_t>& chunk, const std::string& name);

/// Reads a state file's bytes: a bare chunk (exactly 4852 bytes starting with "TLtg") or an
/// .fxp of this plug-in. Answers false with a one-line `error` (what is wrong with the file) for
/// anything else; never reads outside `data[0..size)`.
bool readStateFile(const uint8_t* data, size_t size, StateProgram& program, std::string& error);

} // namespace pellucer::render
