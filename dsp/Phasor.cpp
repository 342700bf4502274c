#include "dsp/Phasor.h"

void PhasorPair::render(float* out) {
    first.setFrequency(baseFrequency);
    for (uint32_t i = 0; i < 64; ++i) {
        float p1 = first.next();
        second.setFrequency((p1 + 1.0f) * modulatedFrequency);
        float p2 = second.next();
        out[i] = 2.0f * p2 - 0.5f;
    }
}
