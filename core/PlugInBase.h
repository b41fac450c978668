#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "core/AudioEffectX.h"
#include "core/EffectEditor.h"
#include "core/ProgramRecord.h"

namespace pellucer {

/// The plug-in's own layer: the bank of program records, the 8-bit name buffer, the count of
/// live instances in the process and the hooks through which the strip initialises and releases
/// its resources.
class PlugInBase : public AudioEffectX {
public:
    static constexpr int32_t kNameBufferChars = 24;

    /// `editorFactory` makes the editor at initialisation; null for an effect without one.
    PlugInBase(vst::audioMasterCallback host, int32_t numPrograms, int32_t numParams,
               EditorFactory editorFactory = nullptr);
    ~PlugInBase() override;

    /// The current program as a state chunk: points `data` at a copy owned by the effect (valid
    /// until the next call or the effect's end) and answers its size, 4852; 0 when impossible.
    /// Bank and program requests are answered alike.
    int32_t getChunk(void** data, bool isPreset) override;
    /// Loads a state chunk into the current program and applies it; answers 1 when taken, 0 when
    /// refused (null, shorter than a whole chunk). A refused chunk changes nothing.
    int32_t setChunk(const void* data, int32_t byteSize, bool isPreset) override;

    bool getEffectName(char* name) override;     ///< "Pellucer", at most 31 characters
    bool getVendorString(char* text) override;   ///< "Tessaly", at most 63 characters
    bool getProductString(char* text) override;  ///< "Pellucer", at most 63 characters
    int32_t getVendorVersion() override { return 1; }

    ProgramRecord* programs() { return programs_.get(); }
    const ProgramRecord* programs() const { return programs_.get(); }
    ProgramRecord& currentProgramRecord() { return programs_[currentProgram_]; }

    /// Live instances in this process.
    static int32_t instanceCount() { return instances_.load(); }

protected:
    // Hooks, in this order: three spare ones, then initialise, release and after-chunk-loaded.
    virtual void hookReserved1() {}
    virtual void hookReserved2() {}
    virtual void hookReserved3() {}
    /// Creates the editor (if the build has one); answers false when initialisation failed.
    virtual bool initialise();
    /// Deletes the editor this layer created.
    virtual void release();
    virtual void afterChunkLoaded() {}
    /// Makes the values of a program that came from outside safe to apply; the strip replaces
    /// what its parameters cannot take.
    virtual void sanitiseLoadedValues(ProgramRecord&) {}

    /// The host-side calls that read or change the program bank, the stages' settings or the
    /// sample rate (parameters, programs, state chunks, rate) take turns on this mutex, so that a
    /// setting is never worked out for one rate while another is being prepared, nor a program
    /// saved half written. Recursive: a program load sets every parameter. The process functions
    /// never take it; they read the stages' atomic settings, and a rate change keeps them out by
    /// its own flags.
    std::recursive_mutex hostMutex_;
    std::unique_ptr<ProgramRecord[]> programs_;
    std::unique_ptr<ProgramRecord> scratch_;
    EditorFactory editorFactory_ = nullptr;
    bool editorOwned_ = false;
    char nameBuffer_[kNameBufferChars + 1] = {};

private:
    static std::atomic<int32_t> instances_;
};

} // namespace pellucer
