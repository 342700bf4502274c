// Debounce and auto-repeat of one key, fed once per call with the key's level
// (0 = pressed).
#pragma once

#include <array>
#include <cstdint>

class KeyDebouncer {
public:
    static constexpr uint32_t kNothing = 1;
    static constexpr uint32_t kKeyDown = 2;
    static constexpr uint32_t kRepeat = 3;

    // Returns kKeyDown once per press, kRepeat while held (after the repeat
    // delay, every repeat period), kNothing otherwise.
    uint32_t update(uint32_t bit);

    // Calls after keydown before repeats may start, and calls between
    // repeats (at least 1).
    void setRepeat(uint32_t delay, uint32_t period);
    uint32_t repeatDelay() const { return repeatDelay_; }
    uint32_t repeatPeriod() const { return repeatPeriod_; }

    // Held: from keydown until the release is seen.
    bool held() const { return armed_; }
    uint32_t lastResult() const { return lastResult_; }

private:
    uint64_t callsSinceKeydown_ = 0;
    uint32_t repeatDelay_ = 200;
    uint32_t repeatPeriod_ = 50;
    bool armed_ = false;
    uint32_t lastResult_ = kNothing;
    uint16_t history_ = 0;
    uint16_t invertedHistory_ = 0;
};

namespace Key {
constexpr uint32_t kNumKeys = 60;
constexpr uint32_t kNumTrackButtons = 5;
extern std::array<KeyDebouncer, kNumKeys> key;
extern std::array<KeyDebouncer, kNumTrackButtons> trackSelect;
}  // namespace Key
