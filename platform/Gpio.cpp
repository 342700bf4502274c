#include "platform/Gpio.h"

#include <atomic>

// Levels in memory until the board simulation takes the pins over.
namespace {
constexpr unsigned kPins = 128;
std::atomic<bool> gLevels[kPins];
}  // namespace

int Gpio::open(unsigned pin, Direction direction) {
    if (pin >= kPins)
        return -1;
    pin_ = int(pin);
    output_ = direction == OUTPUT;
    return 0;
}

void Gpio::close() { pin_ = -1; }

bool Gpio::read() const { return pin_ >= 0 && gLevels[pin_].load(std::memory_order_relaxed); }

void Gpio::write(bool high) {
    if (pin_ >= 0 && output_)
        gLevels[pin_].store(high, std::memory_order_relaxed);
}
