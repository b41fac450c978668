#include "core/PlugInBase.h"

#include "core/EffectEditor.h"
#include "core/Settings.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace pellucer {

std::atomic<int32_t> PlugInBase::instances_{0};

namespace {
constexpr vst::VstInt32 kUniqueId = vst::fourCharCode('T', 'L', 'p', 'l');
}

PlugInBase::PlugInBase(vst::audioMasterCallback host, int32_t numPrograms, int32_t numParams,
                       EditorFactory editorFactory)
    : AudioEffectX(host, numPrograms, numParams), programs_(new ProgramRecord[numPrograms]),
      scratch_(new ProgramRecord), editorFactory_(editorFactory) {
    processInstanceCreated(instances_.fetch_add(1) + 1);
    if (host != nullptr) {
        setNumInputs(2);
        setNumOutputs(2);
        isSynth(true);
        setUniqueID(kUniqueId);
        programsAreChunks(true);
        canProcessReplacing(true);
    }
}

PlugInBase::~PlugInBase() {
    processInstanceDestroyed(instances_.load());
    instances_.fetch_sub(1);
}

// The chunk is the leading part of a ProgramRecord, written and read in memory order. Every
// target we build for is little-endian, which is what the format prescribes.
static_assert(std::endian::native == std::endian::little, "the state chunk is little-endian");

int32_t PlugInBase::getChunk(void** data, bool) {
    const std::lock_guard<std::recursive_mutex> lock(hostMutex_);
    if (data == nullptr || programs_ == nullptr || scratch_ == nullptr)
        return 0;
    ProgramRecord& chunk = *scratch_;
    chunk = programs_[currentProgram_];
    std::memcpy(chunk.magic, "TLtg", 4);
    chunk.version = ProgramRecord::kVersion;
    chunk.bodySize = ProgramRecord::kBodySize;
    std::copy(std::begin(chunk.wideName), std::end(chunk.wideName), chunk.nameCopy);
    *data = &chunk;
    return static_cast<int32_t>(ProgramRecord::kChunkSize);
}

int32_t PlugInBase::setChunk(const void* data, int32_t byteSize, bool) {
    const std::lock_guard<std::recursive_mutex> lock(hostMutex_);
    // A short chunk would leave the body half read: it is refused whole rather than completed.
    if (data == nullptr || programs_ == nullptr || currentProgram_ < 0 || currentProgram_ >= numPrograms_ ||
        byteSize < static_cast<int32_t>(ProgramRecord::kChunkSize))
        return 0;
    ProgramRecord& program = programs_[currentProgram_];
    std::memcpy(static_cast<void*>(&program), data, ProgramRecord::kChunkSize);
    std::copy(std::begin(program.nameCopy), std::end(program.nameCopy), program.wideName);
    program.values[0] = 1.0f; // a loaded state always starts with the plug-in on
    sanitiseLoadedValues(program);
    setProgram(currentProgram_);
    afterChunkLoaded();
    return 1;
}

namespace {
constexpr const char* kEffectName = "Pellucer";
constexpr const char* kVendorName = "Tessaly";
constexpr size_t kMaxNameChars = 31;
constexpr size_t kMaxVendorChars = 63;

void copyText(char* out, const char* text, size_t maxChars) {
    std::strncpy(out, text, maxChars);
    out[maxChars] = '\0';
}
} // namespace

bool PlugInBase::getEffectName(char* name) {
    copyText(name, kEffectName, kMaxNameChars);
    return true;
}

bool PlugInBase::getVendorString(char* text) {
    copyText(text, kVendorName, kMaxVendorChars);
    return true;
}

bool PlugInBase::getProductString(char* text) {
    copyText(text, kEffectName, kMaxVendorChars);
    return true;
}

bool PlugInBase::initialise() {
    if (EffectEditor* editor = editorFactory_ != nullptr ? editorFactory_(*this) : nullptr) {
        setEditor(editor);
        editorOwned_ = true;
        hasEditor(true);
    }
    return true;
}

void PlugInBase::release() {
    if (editorOwned_) {
        setEditor(nullptr);
        editorOwned_ = false;
    }
}

} // namespace pellucer
