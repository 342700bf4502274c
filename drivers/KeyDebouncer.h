// Debounce and auto-repeat of one key, fed once per call with the key's level
// (0 = pressed).
//
// Threads: update runs on the audio thread; held, lastResult and the repeat
// settings are read (and set) from any thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

class KeyDebouncer {
public:
    static constexpr uint32_t kNothing = 1;
    static constexpr uint32_t kKeyDown = 2;
    static constexpr uint32_t kRepeat = 3;

    KeyDebouncer() = default;
    // Copies are made while the panel is being built, before any thread reads.
    KeyDebouncer(const KeyDebouncer& other) { *this = other; }
    KeyDebouncer& operator=(const KeyDebouncer& other);

    // Returns kKeyDown once per press, kRepeat while held (after the repeat
    // delay, every repeat period), kNothing otherwise.
    uint32_t update(uint32_t bit);

    // Calls after keydown before repeats may start, and calls between
    // repeats (at least 1).
    void setRepeat(uint32_t delay, uint32_t period);
    uint32_t repeatDelay() const { return repeatDelay_.load(std::memory_order_relaxed); }
    uint32_t repeatPeriod() const { return repeatPeriod_.load(std::memory_order_relaxed); }

    // Held: from keydown until the release is seen.
    bool held() const { return armed_.load(std::memory_order_acquire); }
    uint32_t lastResult() const { return lastResult_.load(std::memory_order_acquire); }

private:
    // The audio thread's own.
    uint64_t callsSinceKeydown_ = 0;
    std::atomic<uint32_t> repeatDelay_{200};
    std::atomic<uint32_t> repeatPeriod_{50};
    std::atomic<bool> armed_{false};
    std::atomic<uint32_t> lastResult_{kNothing};
    uint16_t history_ = 0;
    uint16_t invertedHistory_ = 0;
};

namespace Key {
constexpr uint32_t kNumKeys = 60;
constexpr uint32_t kNumTrackButtons = 5;
extern std::array<KeyDebouncer, kNumKeys> key;
extern std::array<KeyDebouncer, kNumTrackButtons> trackSelect;
}  // namespace Key
