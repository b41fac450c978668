// The filter's project stream: header, length and chunk bytes, loading back, and streams that
// are not ours or end early (which must leave the effect as it was).

#include <gtest/gtest.h>

#include <windows.h>

#include <objidl.h>
#include <vfwmsgs.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/Parameters.h"
#include "dx/filter/EffectAccess.h"
#include "dx/filter/EffectFilter.h"
#include "dx/server/Identifiers.h"
#include "dx/filter/StreamPersistence.h"
#include "vst/VstAbi.h"

extern "C" vst::AEffect* VSTPluginMain(vst::audioMasterCallback host);

namespace {

using pellucer::dx::StreamPersistence;

vst::VstIntPtr host(vst::AEffect*, vst::VstInt32 opcode, vst::VstInt32, vst::VstIntPtr, void*, float) {
    return opcode == vst::audioMasterVersion ? 2400 : 0;
}

struct Effect {
    vst::AEffect* e = VSTPluginMain(host);
    ~Effect() {
        if (e != nullptr)
            e->dispatcher(e, vst::effClose, 0, 0, nullptr, 0.0f);
    }
    float get(int32_t index) const { return e->getParameter(e, index); }
    void set(int32_t index, float v) { e->setParameter(e, index, v); }
    std::vector<float> values() const {
        std::vector<float> v;
        for (int32_t i = 0; i < pellucer::kNumParams; ++i)
            v.push_back(get(i));
        return v;
    }
};

/// A memory stream holding `bytes`, positioned at its start.
IStream* streamOver(const std::vector<uint8_t>& bytes) {
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)))
        return nullptr;
    ULONG written = 0;
    if (!bytes.empty())
        stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    return stream;
}

std::vector<uint8_t> contents(IStream* stream) {
    STATSTG stat{};
    stream->Stat(&stat, STATFLAG_NONAME);
    std::vector<uint8_t> bytes(static_cast<size_t>(stat.cbSize.QuadPart));
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    ULONG read = 0;
    if (!bytes.empty())
        stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
    return bytes;
}

std::vector<uint8_t> saved(Effect& effect) {
    StreamPersistence persistence(effect.e);
    IStream* stream = streamOver({});
    EXPECT_EQ(persistence.save(stream, TRUE), S_OK);
    std::vector<uint8_t> bytes = contents(stream);
    stream->Release();
    return bytes;
}

HRESULT loadInto(Effect& effect, const std::vector<uint8_t>& bytes) {
    StreamPersistence persistence(effect.e);
    IStream* stream = streamOver(bytes);
    const HRESULT hr = persistence.load(stream);
    stream->Release();
    return hr;
}

/// `bytes` with its 24-byte header replaced by the UTF-16LE characters of `header`.
std::vector<uint8_t> withHeader(const std::vector<uint8_t>& bytes, const char* header) {
    std::vector<uint8_t> out;
    for (const char* c = header; *c != 0; ++c) {
        out.push_back(static_cast<uint8_t>(*c));
        out.push_back(0);
    }
    out.insert(out.end(), bytes.begin() + StreamPersistence::kHeaderBytes, bytes.end());
    return out;
}

TEST(StreamPersistence, WritesTheVersionHeaderTheLengthAndTheEffectsChunk) {
    Effect effect;
    ASSERT_NE(effect.e, nullptr);
    effect.set(pellucer::kCompressorThresh, 0.25f);
    const std::vector<uint8_t> bytes = saved(effect);

    ASSERT_EQ(bytes.size(), 24u + 4u + 4852u);
    const char* header = "00000000000 ";
    for (size_t i = 0; i < 12; ++i) {
        EXPECT_EQ(bytes[2 * i], static_cast<uint8_t>(header[i])) << i;
        EXPECT_EQ(bytes[2 * i + 1], 0) << i;
    }
    EXPECT_EQ(bytes[24] | (bytes[25] << 8) | (bytes[26] << 16) | (bytes[27] << 24), 4852);
    void* chunk = nullptr;
    const auto size = effect.e->dispatcher(effect.e, vst::effGetChunk, 0, 0, &chunk, 0.0f);
    ASSERT_EQ(size, 4852);
    EXPECT_EQ(std::memcmp(bytes.data() + 28, chunk, 4852), 0);
    EXPECT_NE(std::search(bytes.begin(), bytes.end(), std::begin("TLtg"), std::end("TLtg") - 1), bytes.end());
}

TEST(StreamPersistence, SaveAndLoadCarryEveryParameterToAnotherEffect) {
    Effect source;
    // Plug-in Enable stays on: a loaded state always switches the effect on.
    for (int32_t i = 1; i < pellucer::kReserved; ++i)
        source.set(i, static_cast<float>((i * 37) % 100) / 100.0f);
    const std::vector<uint8_t> bytes = saved(source);

    Effect target;
    ASSERT_NE(source.values(), target.values());
    ASSERT_EQ(loadInto(target, bytes), S_OK);
    EXPECT_EQ(target.values(), source.values());
    // Any decimal version number with a terminator reads, a negative one too.
    Effect other;
    EXPECT_EQ(loadInto(other, withHeader(bytes, "12 ")), S_OK);
    EXPECT_EQ(other.values(), source.values());
    Effect negative;
    EXPECT_EQ(loadInto(negative, withHeader(bytes, "-7\n")), S_OK);
    EXPECT_EQ(negative.values(), source.values());
}

TEST(StreamPersistence, StreamsThatAreNotOursOrEndEarlyChangeNothing) {
    Effect source;
    source.set(pellucer::kOutputGain, 0.9f);
    const std::vector<uint8_t> bytes = saved(source);

    Effect target;
    const std::vector<float> before = target.values();
    EXPECT_EQ(loadInto(target, withHeader(bytes, "12x")), VFW_E_INVALID_FILE_FORMAT);
    EXPECT_EQ(loadInto(target, withHeader(bytes, "--1 ")), VFW_E_INVALID_FILE_FORMAT);
    // Ends inside the chunk, inside the length, inside the header.
    for (size_t keep : {bytes.size() - 1, size_t{30}, size_t{26}, size_t{10}, size_t{0}})
        EXPECT_EQ(loadInto(target, std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(keep))), E_FAIL)
            << keep;
    // A length beyond anything the effect writes.
    std::vector<uint8_t> huge = bytes;
    huge[27] = 0x7F;
    EXPECT_EQ(loadInto(target, huge), VFW_E_INVALID_FILE_FORMAT);
    EXPECT_EQ(target.values(), before);

    StreamPersistence persistence(target.e);
    EXPECT_EQ(persistence.load(nullptr), E_POINTER);
    EXPECT_EQ(persistence.save(nullptr, TRUE), E_POINTER);
}

TEST(StreamPersistence, OnlyASaveThatKeepsItDirtyMakesItDirty) {
    Effect effect;
    StreamPersistence persistence(effect.e);
    EXPECT_EQ(persistence.isDirty(), S_FALSE);
    effect.set(pellucer::kInputGain, 0.1f);
    EXPECT_EQ(persistence.isDirty(), S_FALSE);
    IStream* stream = streamOver({});
    EXPECT_EQ(persistence.save(stream, FALSE), S_OK);
    EXPECT_EQ(persistence.isDirty(), S_OK);
    EXPECT_EQ(persistence.save(stream, TRUE), S_OK);
    EXPECT_EQ(persistence.isDirty(), S_FALSE);
    stream->Release();
    ULARGE_INTEGER size{};
    EXPECT_EQ(persistence.getSizeMax(&size), S_OK);
    EXPECT_EQ(size.QuadPart, 24u);
    EXPECT_EQ(persistence.getSizeMax(nullptr), E_POINTER);
}

// Streams come from project files and other software: random damage to a saved stream never
// crashes, and every refused stream leaves the effect as it was.
TEST(StreamPersistence, DamagedStreamsNeverCrashAndRefusedOnesChangeNothing) {
    Effect source;
    source.set(pellucer::kDelayFeedback, 0.7f);
    const std::vector<uint8_t> good = saved(source);
    Effect target;
    uint32_t seed = 20261206;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    for (int round = 0; round < 400; ++round) {
        std::vector<uint8_t> bytes = good;
        const uint32_t damage = next() % 4;
        if (damage == 0) {
            bytes.resize(next() % (bytes.size() + 1));
        } else if (damage == 1) {
            for (int k = 0; k < 8; ++k)
                bytes[next() % bytes.size()] = static_cast<uint8_t>(next());
        } else if (damage == 2) {
            bytes.assign(next() % 64, 0);
            for (auto& b : bytes)
                b = static_cast<uint8_t>(next());
        } else {
            bytes[24 + next() % 4] = static_cast<uint8_t>(next());
        }
        const std::vector<float> before = target.values();
        const HRESULT hr = loadInto(target, bytes);
        if (FAILED(hr)) {
            EXPECT_EQ(target.values(), before) << "round " << round;
        }
        for (float v : target.values())
            EXPECT_TRUE(std::isfinite(v));
    }
}

} // namespace

// ---- through the filter's IPersistStream --------------------------------------------------------

namespace filtertest {

using namespace pellucer::dx;

/// A filter built as the class factory builds it, holding one reference.
struct Filter {
    Filter() {
        HRESULT status = S_OK;
        unknown = createEffectFilter(nullptr, &status);
        if (unknown != nullptr) {
            unknown->AddRef();
            unknown->QueryInterface(IID_IPersistStream, reinterpret_cast<void**>(&persist));
            IEffectAccess* access = nullptr;
            if (SUCCEEDED(unknown->QueryInterface(kIidEffectAccess, reinterpret_cast<void**>(&access)))) {
                access->GetEffect(&effect);
                access->Release();
            }
        }
    }
    ~Filter() {
        if (persist != nullptr)
            persist->Release();
        if (unknown != nullptr)
            unknown->Release();
    }
    std::vector<float> values() const {
        std::vector<float> v;
        for (int32_t i = 0; i < pellucer::kNumParams; ++i)
            v.push_back(effect->getParameter(effect, i));
        return v;
    }
    IUnknown* unknown = nullptr;
    IPersistStream* persist = nullptr;
    vst::AEffect* effect = nullptr;
};

TEST(FilterPersistence, ProjectSavedFromOneFilterRestoresEveryParameterInAnother) {
    Filter source;
    ASSERT_NE(source.persist, nullptr);
    ASSERT_NE(source.effect, nullptr);
    CLSID clsid{};
    EXPECT_EQ(source.persist->GetClassID(&clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, kClsidEffectFilter));
    for (int32_t i = 1; i < pellucer::kReserved; ++i)
        source.effect->setParameter(source.effect, i, static_cast<float>((i * 53) % 97) / 96.0f);
    EXPECT_EQ(source.persist->IsDirty(), S_FALSE) << "parameter changes alone do not make it dirty";

    IStream* stream = streamOver({});
    ASSERT_EQ(source.persist->Save(stream, FALSE), S_OK);
    EXPECT_EQ(source.persist->IsDirty(), S_OK);
    const std::vector<uint8_t> bytes = contents(stream);
    stream->Release();
    ULARGE_INTEGER estimate{};
    EXPECT_EQ(source.persist->GetSizeMax(&estimate), S_OK);
    EXPECT_EQ(estimate.QuadPart, StreamPersistence::kHeaderBytes);
    ASSERT_EQ(bytes.size(), 24u + 4u + 4852u);

    Filter target;
    ASSERT_NE(target.persist, nullptr);
    const std::vector<float> before = target.values();
    ASSERT_NE(before, source.values());
    // A damaged copy first: refused, and the filter's effect keeps its state.
    IStream* damaged = streamOver(withHeader(bytes, "12x"));
    EXPECT_EQ(target.persist->Load(damaged), VFW_E_INVALID_FILE_FORMAT);
    damaged->Release();
    IStream* cut = streamOver(std::vector<uint8_t>(bytes.begin(), bytes.end() - 100));
    EXPECT_EQ(target.persist->Load(cut), E_FAIL);
    cut->Release();
    EXPECT_EQ(target.values(), before);

    IStream* good = streamOver(bytes);
    EXPECT_EQ(target.persist->Load(good), S_OK);
    good->Release();
    EXPECT_EQ(target.values(), source.values());
    EXPECT_EQ(target.persist->Load(nullptr), E_POINTER);
}

} // namespace filtertest
