#include "drivers/Touchpad.h"

#include <algorithm>
#include <cstdio>

namespace {
constexpr unsigned kBus = 1;
constexpr uint8_t kBaseAddress = 0x28;
constexpr unsigned kPad2Offset = 6;  // pad 2 is looked for at 0x2E first
}  // namespace

float Touchpad::map(float v) {
    float m = v * 1.2f - 0.1f;
    if (!(m > 0.0f))
        return 0.0f;
    return std::min(m, 1.0f);
}

bool Touchpad::setup(unsigned index) {
    ready_ = false;
    unsigned offset = index;
    bool found = index == 2 && sensor_.setup(kBus, Trill::SQUARE, uint8_t(kBaseAddress + kPad2Offset)) == 0;
    if (found) {
        offset = kPad2Offset;
    } else if (sensor_.setup(kBus, Trill::SQUARE, uint8_t(kBaseAddress + index)) != 0) {
        printf("Failed to initialize touchpad index %d\n", index);
        return false;
    }
    printf("Touchpad index %d at 0x28 + %d\n", index, offset);
    sensor_.setNoiseThreshold(kNoiseThreshold);
    ready_ = true;
    return true;
}

void Touchpad::updateBaseline() {
    if (ready_)
        sensor_.updateBaseline();
}

uint32_t Touchpad::read() {
    if (!ready_ || sensor_.readI2C() != 0)
        return 0;
    uint32_t count = std::min(sensor_.getNumTouches(), sensor_.getNumHorizontalTouches());
    if (count == 0) {
        count_.store(0, std::memory_order_release);
        return 0;  // a lifted finger keeps its last position
    }
    x_.store(map(sensor_.compoundTouchHorizontalLocation()), std::memory_order_relaxed);
    y_.store(map(1.0f - sensor_.compoundTouchLocation()), std::memory_order_relaxed);
    count_.store(count, std::memory_order_release);
    return count;
}
