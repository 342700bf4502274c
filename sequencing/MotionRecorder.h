// A track's touchpad motion: turns the pad into the track's XY position,
// records a touch gesture into the "motion" slot while key 58 is held
// (a new take into an empty slot, an overdub over a recorded one), plays
// the slot back while the pad is untouched, deletes it after a
// confirmation and draws the pad with a fading trail.
//
// Threads: process and button run in the audio thread, draw in the
// interface task. They share only atomic words; the pop-up is opened and
// answered by draw, and the delete itself is a request that the audio
// thread carries out.
#pragma once

#include "drivers/Touchpad.h"
#include "parameters/ParameterInt.h"
#include "parameters/Relaxed.h"
#include "sequencing/MotionRecording.h"

#include <array>
#include <atomic>
#include <cstdint>

class MonoGFX;
class MorphController;

class MotionRecorder {
public:
    enum State : int32_t { Idle = 0, NewTake = 1, Overdub = 2 };
    static constexpr int kRecordKey = 58;
    static constexpr int kDeleteModifierKey = 1;
    static constexpr int kTrailLength = 40;

    // Registers with the controller (DSP::motion unless given).
    explicit MotionRecorder(uint32_t touchpadIndex);
    MotionRecorder(uint32_t touchpadIndex, MorphController& controller);
    ~MotionRecorder();
    MotionRecorder(const MotionRecorder&) = delete;
    MotionRecorder& operator=(const MotionRecorder&) = delete;

    // Audio thread.
    void process(bool reset);
    // Keydown events only; true when the key was used.
    bool button(int key, int event);
    void start();
    void stop();
    // Interface task.
    void applyDelete();
    void draw(MonoGFX& window, int x, int y);

    void setPosition(float nx, float ny, float nz) {
        x = nx;
        y = ny;
        z = nz;
    }
    int32_t state() const { return state_.load(std::memory_order_acquire); }
    uint32_t frame() const { return frame_; }

    // Where the pads are read; the board's touchpads unless replaced (tests).
    using TouchReader = Touchpad::Touch (*)(uint32_t pad);
    static std::atomic<TouchReader> touchReader;

    ParameterInt motion{"motion", ParameterInt::PlainInt, Stored, 0, 0, 24};
    uint32_t touchpad;
    uint8_t loop = 1;
    // The current point, written by the audio thread, read by the pages:
    // the track's XY position and the sequencer's gate.
    Relaxed<float> x{0.0f};
    Relaxed<float> y{0.0f};
    Relaxed<float> z{0.0f};
    Relaxed<uint32_t> t{0u};
    Relaxed<bool> touched{false};
    // 0 none, 1 asked for (audio thread), 2 confirmation open.
    std::atomic<uint32_t> deletePending{0};

private:
    MotionPoint _current() const { return {x, y, t}; }
    void _setCurrent(const MotionPoint& p);

    MorphController& controller_;
    std::atomic<int32_t> state_{Idle};
    int32_t recordSlot_ = 0;  // fixed from start to stop
    int32_t deleteSlot_ = 0;  // interface task: the slot the open question names
    Relaxed<uint32_t> frame_{0u};
    MotionPoint previous_;
    uint32_t trailCounter_ = 0;
    Relaxed<int32_t> trailIndex_{0};
    std::array<Relaxed<float>, kTrailLength> trailX_{};
    std::array<Relaxed<float>, kTrailLength> trailY_{};
};
