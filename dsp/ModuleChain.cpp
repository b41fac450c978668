#include "dsp/ModuleChain.h"

#include <cstring>

namespace pellucer {

void linkChain(const std::array<DspModule*, kChainModules>& modules,
               const std::array<int32_t, kChainModules>& order) {
    for (int i = 0; i + 1 < kChainModules; ++i)
        modules[order[i]]->setNext(modules[order[i + 1]]);
    modules[order[kChainModules - 1]]->setNext(nullptr);
}

namespace {

// Processes one module while its fade moves toward `target`, mixing processed and dry signal
// with the fade as the weight of the processed one. The fade advances once per frame.
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
    for (int32_t i = 0; i < frames; ++i) {
        left[i] = (1.0 - g) * dryL[i] + g * left[i];
        if (!mono)
            right[i] = (1.0 - g) * dryR[i] + g * right[i];
        DspModule::smoothToward(target, g, c);
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
