// The Windows builds' editor factory: the strip's own editor, or none when its skin cannot be
// had (the host then sees an effect without an editor, which still processes).

#include <memory>
#include <new>

#include "GUI/Editor.h"
#include "core/ChannelStripEffect.h"
#include "core/EffectEditor.h"

namespace pellucer {

EffectEditor* createEffectEditor(PlugInBase& effect) {
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
