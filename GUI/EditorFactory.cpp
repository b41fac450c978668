#include "GUI/EditorFactory.h"

#include <memory>
#include <new>

#include "GUI/Editor.h"
#include "core/ChannelStripEffect.h"

namespace pellucer {

EffectEditor* createStripEditor(PlugInBase& effect) {
    // The engine asks while it is being constructed, as the strip: its type is already known.
    auto* strip = dynamic_cast<ChannelStripEffect*>(&effect);
    if (strip == nullptr)
        return nullptr;
    std::unique_ptr<Editor> editor(new (std::nothrow) Editor(*strip));
    if (editor == nullptr || !editor->constructedOk())
        return nullptr;
    return editor.release();
}

} // namespace pellucer
