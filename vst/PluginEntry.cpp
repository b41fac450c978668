// The module's VST 2.4 entry: a host calls VSTPluginMain (or its older name, main) once per
// instance and receives the effect record it talks to from then on.

#include <new>

#include "core/ChannelStripEffect.h"
#include "vst/VstAbi.h"

// The module brings the editor its build has (PELLUCER_EDITOR: the strip's editor is linked in);
// the engine itself knows only the factory it is given.
#if defined(PELLUCER_EDITOR)
#include "GUI/EditorFactory.h"
constexpr pellucer::EditorFactory kEditorFactory = &pellucer::createStripEditor;
#else
constexpr pellucer::EditorFactory kEditorFactory = nullptr;
#endif

#if defined(_WIN32)
#define PELLUCER_EXPORT __declspec(dllexport)
#else
#define PELLUCER_EXPORT __attribute__((visibility("default")))
#endif

extern "C" PELLUCER_EXPORT vst::AEffect* VSTPluginMain(vst::audioMasterCallback host) {
    // A host that does not answer the version query is not a VST host we can work with.
    if (host == nullptr || host(nullptr, vst::audioMasterVersion, 0, 0, nullptr, 0.0f) == 0)
        return nullptr;
    auto* effect = new (std::nothrow) pellucer::ChannelStripEffect(host, kEditorFactory);
    return effect != nullptr ? effect->getAeffect() : nullptr;
}

#if !defined(_WIN32)
// Older Linux hosts look the entry up as "main". The symbol is given its name by the assembler,
// since a C++ function may not be called main; the Windows modules alias it in their .def file.
extern "C" PELLUCER_EXPORT vst::AEffect* pellucerLegacyMain(vst::audioMasterCallback host) __asm__("main");
extern "C" vst::AEffect* pellucerLegacyMain(vst::audioMasterCallback host) { return VSTPluginMain(host); }
#endif
