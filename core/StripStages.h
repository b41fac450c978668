#pragma once

#include <atomic>

#include "dsp/Compander.h"
#include "dsp/DeEsser.h"
#include "dsp/Doubler.h"
#include "dsp/TempoDelay.h"
#include "dsp/ThreeBandEq.h"
#include "dsp/TubeStage.h"

namespace pellucer {

/// Everything the automatable parameters drive: the plug-in switch and the seven stages, in
/// construction order. The engine owns one; the parameter table names, for each parameter, the
/// setter it calls here and the getter it reads back.
struct StripStages {
    std::atomic<bool> plugInEnabled{true};
    TubeStage inputTube;
    Compander compander;
    ThreeBandEq equaliser;
    DeEsser deEsser;
    Doubler doubler;
    TempoDelay delay;
    TubeStage outputTube;
};

} // namespace pellucer
