// A track's touchpad motion: where the pad is touched now (x, y, pressure)
// and whether it is. The track morphs its engine and effects to this
// position and hands the touched flag to its sequencer. Recording and
// replaying motions builds on this object.
#pragma once

#include "parameters/Relaxed.h"

#include <cstdint>

class MonoGFX;

class MotionRecorder {
public:
    explicit MotionRecorder(uint32_t touchpadIndex) : touchpad(touchpadIndex) {}
    MotionRecorder(const MotionRecorder&) = delete;
    MotionRecorder& operator=(const MotionRecorder&) = delete;

    // Audio thread: true when the key was used.
    bool button(int key, int event) { return false; }
    // The small position widget of the track page.
    void draw(MonoGFX& window, int x, int y) const;
    void setPosition(float nx, float ny, float nz) {
        x = nx;
        y = ny;
        z = nz;
    }

    uint32_t touchpad;
    // Written by the audio thread, read by the pages.
    Relaxed<float> x{0.0f};
    Relaxed<float> y{0.0f};
    Relaxed<float> z{0.0f};
    Relaxed<bool> touched{false};
};
