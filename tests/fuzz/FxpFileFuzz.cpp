// libFuzzer target: the renderer's --state file is whatever the user points it at (a host's
// .fxp, a bare chunk, a damaged or foreign file). Reading must accept exactly what the layout
// says, without reading past the input, explain every refusal in one line, and a file it takes
// must leave the strip with usable settings that it saves and reads back unchanged.

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/ChannelStripEffect.h"
#include "tools/render/FxpFile.h"
#include "tools/render/StripSettings.h"

namespace render = pellucer::render;

// Aborts (a finding) naming the line of the check that failed.
static void check(bool condition, int line = __builtin_LINE()) {
    if (!condition) {
        std::fprintf(stderr, "check failed at line %d\n", line);
        std::abort();
    }
}

static uint32_t bigEndianAt(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

static std::vector<float> parameters(pellucer::ChannelStripEffect& effect) {
    std::vector<float> values;
    for (int32_t i = 0; i < pellucer::kNumParams; ++i)
        values.push_back(effect.getParameter(i));
    return values;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static pellucer::ChannelStripEffect effect(nullptr), copy(nullptr);
    // Both engines start each input with one name: a program without a name of its own shows the
    // last name given to any program, which belongs to the session, not to the file.
    effect.setProgramName("My Program");
    copy.setProgramName("My Program");
    // An exact copy, so that a read past `size` hits the sanitizer's redzone.
    const std::vector<uint8_t> input(data, data + size);
    render::StateProgram program;
    std::string error;
    const bool read = render::readStateFile(input.data(), size, program, error);
    if (!read) {
        check(!error.empty() && error.find('\n') == std::string::npos);
    } else if (size >= 4 && bigEndianAt(data) == render::kFxpFileMagic) {
        // An .fxp of ours: its byte count covers the file, and chunk or floats are where the
        // header puts them.
        check(bigEndianAt(data + 16) == render::kPlugInId && bigEndianAt(data + 4) + 8ull <= size &&
              program.name.size() < render::kFxpNameBytes + 1 &&
              program.name.find('\0') == std::string::npos);
        if (program.kind == render::StateProgram::Kind::Chunk) {
            check(bigEndianAt(data + 8) == render::kFxpChunkProgram &&
                  bigEndianAt(data + 56) == render::kStateChunkBytes &&
                  std::memcmp(program.chunk.data(), data + 60, render::kStateChunkBytes) == 0);
        } else {
            check(bigEndianAt(data + 8) == render::kFxpParameterProgram &&
                  program.values.size() == render::kFxpParameterCount);
            for (size_t i = 0; i < program.values.size(); ++i)
                check(std::bit_cast<uint32_t>(program.values[i]) == bigEndianAt(data + 56 + 4 * i));
        }
    } else {
        check(program.kind == render::StateProgram::Kind::Chunk && size == render::kStateChunkBytes &&
              program.chunk == input && program.name.empty());
    }
    if (read && program.kind == render::StateProgram::Kind::Chunk) {
        // Written as an .fxp, the chunk reads back with its name cut to the field.
        render::StateProgram again;
        check(render::readStateFile(render::writeFxp(program.chunk, program.name).data(),
                                    render::kFxpChunkHeaderBytes + program.chunk.size(), again, error) &&
              again.chunk == program.chunk && again.name == program.name.substr(0, render::kFxpNameBytes - 1));
    }

    // The renderer's loading path: it takes what the reader takes (a chunk may still be refused
    // by the strip), leaves every value finite and usable, and saves a file that loads back the same.
    const bool loaded = render::loadStateBytes(effect, input.data(), size, error);
    check(!loaded || read);
    check(loaded || !read || program.kind == render::StateProgram::Kind::Chunk);
    const std::vector<float> values = parameters(effect);
    for (int32_t i = 0; i < pellucer::kNumParams; ++i)
        check(std::isfinite(values[i]) && (i == pellucer::kReserved || (values[i] >= 0.0f && values[i] <= 1.0f)));
    // A loaded chunk always switches the strip on; everything else comes back as it was.
    std::vector<float> expected = values;
    expected[pellucer::kPlugInEnable] = 1.0f;
    for (const char* name : {"state.fxp", "state.chunk"}) {
        const std::vector<uint8_t> saved = render::stateFileBytes(effect, name);
        check(render::loadStateBytes(copy, saved.data(), saved.size(), error) && parameters(copy) == expected &&
              render::programName(copy) == render::programName(effect));
    }
    std::vector<float> left(64, 0.5f), right(64, -0.5f);
    float* io[2] = {left.data(), right.data()};
    effect.processReplacing(io, io, 64);
    for (size_t i = 0; i < left.size(); ++i)
        check(std::isfinite(left[i]) && std::isfinite(right[i]));
    return 0;
}
