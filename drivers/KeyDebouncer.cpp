#include "drivers/KeyDebouncer.h"

namespace {
// Four bits per sample, the top nibble forced to 0b111x: 0xF000 is a sample
// of 1 followed by three of 0.
constexpr uint16_t kEdge = 0xF000;

uint16_t pushSample(uint16_t history, uint32_t bit) {
    return uint16_t((uint32_t(history) << 4) | 0xE000u | bit);
}
}  // namespace

uint32_t KeyDebouncer::update(uint32_t bit) {
    bit = bit ? 1u : 0u;
    history_ = pushSample(history_, bit);
    invertedHistory_ = pushSample(invertedHistory_, bit ^ 1u);
    ++callsSinceKeydown_;
    uint32_t result = kNothing;
    bool armed = armed_.load(std::memory_order_relaxed);
    if (history_ == kEdge) {
        armed = true;
        callsSinceKeydown_ = 0;
        result = kKeyDown;
    } else if (armed && callsSinceKeydown_ > repeatDelay() && callsSinceKeydown_ % repeatPeriod() == 0) {
        result = kRepeat;
    }
    if (invertedHistory_ == kEdge)
        armed = false;
    armed_.store(armed, std::memory_order_release);
    lastResult_.store(result, std::memory_order_release);
    return result;
}

void KeyDebouncer::setRepeat(uint32_t delay, uint32_t period) {
    repeatDelay_.store(delay, std::memory_order_relaxed);
    repeatPeriod_.store(period ? period : 1, std::memory_order_relaxed);  // a zero period would divide by zero
}

KeyDebouncer& KeyDebouncer::operator=(const KeyDebouncer& other) {
    callsSinceKeydown_ = other.callsSinceKeydown_;
    repeatDelay_.store(other.repeatDelay(), std::memory_order_relaxed);
    repeatPeriod_.store(other.repeatPeriod(), std::memory_order_relaxed);
    armed_.store(other.held(), std::memory_order_relaxed);
    lastResult_.store(other.lastResult(), std::memory_order_relaxed);
    history_ = other.history_;
    invertedHistory_ = other.invertedHistory_;
    return *this;
}
