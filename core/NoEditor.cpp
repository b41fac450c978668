#include "core/EffectEditor.h"

namespace pellucer {

// Builds without a user interface (the Linux plug-in and the command-line tools) have no editor.
EffectEditor* createEffectEditor(PlugInBase&) { return nullptr; }

} // namespace pellucer
