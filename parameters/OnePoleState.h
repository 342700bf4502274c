// One-pole lowpass of the block-rate modulators: state = gain x + feedback state.
#pragma once

#include <cmath>

struct OnePoleState {
    float gain = 1.0f;
    float feedback = 0.0f;
    float state = 0.0f;

    // Cut-off in Hz at the block rate (750 blocks of 64 frames a second).
    void setCutoff(float hz) {
        feedback = expf(hz * 0.0013333333f * -6.283185307f);
        gain = 1.0f - feedback;
    }
    float step(float x) {
        state = gain * x + feedback * state;
        return state;
    }
};
