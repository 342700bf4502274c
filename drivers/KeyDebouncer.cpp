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
    if (history_ == kEdge) {
        armed_ = true;
        callsSinceKeydown_ = 0;
        result = kKeyDown;
    } else if (armed_ && callsSinceKeydown_ > repeatDelay_ && callsSinceKeydown_ % repeatPeriod_ == 0) {
        result = kRepeat;
    }
    if (invertedHistory_ == kEdge)
        armed_ = false;
    lastResult_ = result;
    return result;
}

void KeyDebouncer::setRepeat(uint32_t delay, uint32_t period) {
    repeatDelay_ = delay;
    repeatPeriod_ = period ? period : 1;  // a zero period would divide by zero
}
