// The filter's project stream through IPersistStream, as a host saves and loads it: a version header,
// the length and the effect's chunk, carried to another filter; streams that are not ours or end
// early are refused and leave the effect as it was.

#include "tests/dx/win32/DxTestSupport.h"

namespace pellucer::dx::test {
namespace {

/// A memory stream holding `bytes`, positioned at its start.
ComPtr<IStream> streamOver(const std::vector<uint8_t>& bytes) {
    ComPtr<IStream> stream;
    EXPECT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &stream));
    stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
    stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
    return stream;
}

/// A filter made by the module's class factory, through IPersistStream and its effect record.
struct Filter {
    Filter() {
        EXPECT_EQ(S_OK, createFromModule(kClsidEffectFilter, IID_IPersistStream, &persist));
        effect = persist ? effectRecordOf(persist.Get()) : nullptr;
        EXPECT_NE(effect, nullptr);
    }
    std::vector<float> values() const {
        std::vector<float> v;
        for (int32_t i = 0; i < kNumParams; ++i)
            v.push_back(effect->getParameter(effect, i));
        return v;
    }
    std::vector<uint8_t> save(BOOL clearDirty = TRUE) {
        ComPtr<IStream> stream = streamOver({});
        EXPECT_EQ(S_OK, persist->Save(stream.Get(), clearDirty));
        STATSTG stat{};
        stream->Stat(&stat, STATFLAG_NONAME);
        std::vector<uint8_t> bytes(static_cast<size_t>(stat.cbSize.QuadPart));
        stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
        stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
        return bytes;
    }
    HRESULT load(const std::vector<uint8_t>& bytes) { return persist->Load(streamOver(bytes).Get()); }

    ComPtr<IPersistStream> persist;
    vst::AEffect* effect = nullptr;
};

/// `bytes` with its 24-byte header replaced by the UTF-16LE characters of `header`.
std::vector<uint8_t> withHeader(const std::vector<uint8_t>& bytes, const char* header) {
    std::vector<uint8_t> out;
    for (const char* c = header; *c != 0; ++c)
        out.insert(out.end(), {static_cast<uint8_t>(*c), 0});
    out.insert(out.end(), bytes.begin() + 24, bytes.end());
    return out;
}

TEST(FilterPersistence, SavesTheEffectsChunkBehindAHeaderAndLoadsItIntoAnotherFilter) {
    Filter source;
    CLSID clsid{};
    EXPECT_TRUE(source.persist->GetClassID(&clsid) == S_OK && IsEqualCLSID(clsid, kClsidEffectFilter));
    // Plug-in Enable stays on: a loaded state always switches the effect on.
    for (int32_t i = 1; i < kReserved; ++i)
        source.effect->setParameter(source.effect, i, static_cast<float>((i * 53) % 97) / 96.0f);
    EXPECT_EQ(S_FALSE, source.persist->IsDirty()) << "parameter changes alone do not make it dirty";
    const std::vector<uint8_t> bytes = source.save(FALSE);
    EXPECT_EQ(S_OK, source.persist->IsDirty()) << "a save that keeps it dirty";
    source.save(TRUE);
    EXPECT_EQ(S_FALSE, source.persist->IsDirty());
    // "00000000000 " in UTF-16LE, the chunk's length (little-endian), then the chunk itself.
    void* chunk = nullptr;
    const auto size =
        static_cast<uint32_t>(source.effect->dispatcher(source.effect, vst::effGetChunk, 0, 0, &chunk, 0.0f));
    ASSERT_GT(size, 0u);
    ASSERT_EQ(bytes.size(), 24u + 4u + size);
    EXPECT_EQ(withHeader(bytes, "00000000000 "), bytes);
    EXPECT_EQ(size, bytes[24] | bytes[25] << 8 | bytes[26] << 16 | static_cast<uint32_t>(bytes[27]) << 24);
    EXPECT_EQ(0, std::memcmp(bytes.data() + 28, chunk, size));
    // Any decimal version number with a terminator reads, a negative one too.
    for (const char* header : {"00000000000 ", "12 ", "-7\n"}) {
        Filter target;
        ASSERT_NE(source.values(), target.values());
        EXPECT_EQ(S_OK, target.load(withHeader(bytes, header))) << header;
        EXPECT_EQ(source.values(), target.values()) << header;
    }
    EXPECT_EQ(E_POINTER, source.persist->GetSizeMax(nullptr));
    EXPECT_EQ(E_POINTER, source.persist->Save(nullptr, TRUE));
    EXPECT_EQ(E_POINTER, source.persist->Load(nullptr));
}

TEST(FilterPersistence, StreamsThatAreNotOursOrEndEarlyAreRefusedAndChangeNothing) {
    Filter source, target;
    source.effect->setParameter(source.effect, kOutputGain, 0.9f);
    const std::vector<uint8_t> good = source.save();
    std::vector<uint8_t> huge = good;
    huge[27] = 0x7F; // a length beyond anything the effect writes
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        HRESULT expected;
    } refused[] = {
        {"not a number", withHeader(good, "12x"), VFW_E_INVALID_FILE_FORMAT},
        {"two signs", withHeader(good, "--1 "), VFW_E_INVALID_FILE_FORMAT},
        {"huge length", huge, VFW_E_INVALID_FILE_FORMAT},
        {"ends in the chunk", {good.begin(), good.end() - 1}, E_FAIL},
        {"ends in the length", {good.begin(), good.begin() + 26}, E_FAIL},
        {"ends in the header", {good.begin(), good.begin() + 10}, E_FAIL},
        {"empty", {}, E_FAIL},
    };
    const std::vector<float> before = target.values();
    ASSERT_NE(source.values(), before);
    for (const auto& r : refused)
        EXPECT_EQ(r.expected, target.load(r.bytes)) << r.what;
    EXPECT_EQ(before, target.values());
}

} // namespace
} // namespace pellucer::dx::test
