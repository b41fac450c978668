#pragma once

#include "core/EffectEditor.h"

namespace pellucer {

/// The strip's own editor for an engine that is a ChannelStripEffect, or null when its skin
/// cannot be had (the host then sees an effect without an editor, which still processes).
EffectEditor* createStripEditor(PlugInBase& effect);

} // namespace pellucer
