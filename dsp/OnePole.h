// One-pole low-pass y = (1 - e) x + e y, e = exp(-2 pi f / 48000). The effects
// keep it as a plain record so its state survives any change of cut-off.
#pragma once

#include <cmath>

struct OnePole {
    float gainIn = 1.0f;     // 1 - e
    float gainState = 0.0f;  // e
    float y = 0.0f;

    // Formed in double precision; a cut-off at or below 0 holds the state.
    void setCutoff(double hz) {
        const double e = std::exp(-2.0 * 3.14159265358979323846 * hz / 48000.0);
        gainState = float(e);
        gainIn = float(1.0 - e);
    }
    float tick(float x) {
        y = gainIn * x + gainState * y;
        return y;
    }
};
