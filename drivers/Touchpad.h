// One track's square touchpad: set-up, baseline, one read per screen refresh.
// The audio thread (motion recorder) reads the touch words without a lock,
// so each is an atomic word.
#pragma once

#include "platform/Trill.h"

#include <atomic>
#include <cstdint>

class Touchpad {
public:
    struct Touch {
        float x;
        float y;
        uint32_t count;
    };
    static constexpr float kNoiseThreshold = 0.07f;

    bool setup(unsigned index);
    void updateBaseline();
    uint32_t read();
    Touch getTouch() const {
        return {x_.load(std::memory_order_relaxed), y_.load(std::memory_order_relaxed),
                count_.load(std::memory_order_acquire)};
    }
    bool ready() const { return ready_; }

    // Sensor location to 0..1: the pad's edges are hard to reach.
    static float map(float v);

private:
    bool ready_ = false;
    Trill sensor_;
    std::atomic<uint32_t> count_{0};
    std::atomic<float> x_{0.0f}, y_{0.0f};
};

namespace DSP {
constexpr unsigned kNumTouchpads = 5;
extern Touchpad touchpad[kNumTouchpads];
}  // namespace DSP
