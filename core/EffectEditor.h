#pragma once

#include <cstdint>

#include "vst/VstAbi.h"

namespace pellucer {

class PlugInBase;

/// What the engine needs from its editor. The engine owns the editor object; the Windows
/// builds make the strip's editor, builds without a user interface make none.
/// All calls come from the host's user-interface thread, except `parameterChanged`, which
/// arrives on whichever thread changed the parameter.
class EffectEditor {
public:
    virtual ~EffectEditor() = default;

    /// Points `rect` at the editor's size; answers false when there is none.
    virtual bool getRect(vst::ERect** rect) {
        (void)rect;
        return false;
    }
    /// Opens the editor into the host's parent window; answers false when it cannot.
    virtual bool open(void* parentWindow) = 0;
    virtual void close() = 0;
    virtual void idle() {}
    /// Keys the host passes on; answer true when the editor used the key.
    virtual bool onKeyDown(const vst::VstKeyCode&) { return false; }
    virtual bool onKeyUp(const vst::VstKeyCode&) { return false; }
    /// Knob mode from the host (circular, relative circular, linear); true when accepted.
    virtual bool setKnobMode(int32_t) { return false; }
    /// True while the editor window exists; the engine then publishes its level meters.
    virtual bool isOpen() const = 0;
    /// The engine tells the editor that parameter `index` (0..66) now has `value`.
    virtual void parameterChanged(int32_t index, float value) = 0;
    /// All controls should re-read their values (after a program change).
    virtual void refreshAll() = 0;
};

/// Makes the editor for an engine, or answers null when it cannot. The module entry hands the
/// engine the factory of its build's editor; builds without a user interface hand none.
using EditorFactory = EffectEditor* (*)(PlugInBase& effect);

} // namespace pellucer
