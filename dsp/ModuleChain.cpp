#include "dsp/ModuleChain.h"

#include <cstring>

#include "dsp/StereoPair.h"

namespace pellucer {

void linkChain(const std::array<DspModule*, kChainModules>& modules,
               const std::array<int32_t, kChainModules>& order) {
    for (int i = 0; i + 1 < kChainModules; ++i)
        modules[order[i]]->setNext(modules[order[i + 1]]);
    modules[order[kChainModules - 1]]->setNext(nullptr);
}

namespace {

// Processes one module while its fade moves toward `target`, mixing processed and dry signal
// with the fade as the weight of the processed one. The fade advances once per frame; once it
// has arrived, the rest of the block is the processed signal (fading in) or the dry one (out).
void processWithFade(DspModule& m, double target, double* left, double* right, uint64_t position,
                     int32_t frames, bool mono) {
    double* dryL = m.dryLeft();
    double* dryR = m.dryRight();
    const size_t bytes = sizeof(double) * static_cast<size_t>(frames);
    std::memcpy(dryL, left, bytes);
    if (!mono)
        std::memcpy(dryR, right, bytes);
    m.process(left, right, position, frames, mono);

    const double c = m.coefficient100ms();
    double g = m.fade;
    int32_t i = 0;
    if (mono) {
        for (; i < frames && g != target; ++i) {
            left[i] = (1.0 - g) * dryL[i] + g * left[i];
            DspModule::smoothToward(target, g, c);
        }
    } else {
        // Both channels in one register, each lane doing what the scalar mix does.
        for (; i < frames && g != target; ++i) {
            const StereoPair mixed = (1.0 - g) * StereoPair{dryL[i], dryR[i]} + g * StereoPair{left[i], right[i]};
            left[i] = mixed[0];
            right[i] = mixed[1];
            DspModule::smoothToward(target, g, c);
        }
    }
    if (i < frames && target == 0.0) {
        const size_t rest = sizeof(double) * static_cast<size_t>(frames - i);
        std::memcpy(left + i, dryL + i, rest);
        if (!mono)
            std::memcpy(right + i, dryR + i, rest);
    }
    m.fade = g;
}

} // namespace

void runChain(DspModule* head, double* left, double* right, uint64_t position, int32_t frames, bool mono) {
    for (DspModule* m = head; m != nullptr; m = m->next()) {
        m->ensureDryCapacity(frames);
        const bool on = m->enabled.load(std::memory_order_relaxed);
        if (on) {
            if (m->fade < 1.0)
                processWithFade(*m, 1.0, left, right, position, frames, mono);
            else
                m->process(left, right, position, frames, mono);
        } else if (m->fade > 0.0) {
            processWithFade(*m, 0.0, left, right, position, frames, mono);
            // A stage that has faded out completely starts from silence when it comes back.
            if (m->fade == 0.0)
                m->reset();
        }
    }
}

void resetChain(DspModule* head) {
    for (DspModule* m = head; m != nullptr; m = m->next())
        m->reset();
}

} // namespace pellucer
