#include "platform/Gpio.h"

#include "platform/devices/Board.h"

#include <cstdio>

int Gpio::open(unsigned pin, Direction direction) {
    close();
    if (!host::board().pinOpen(pin))
        return -1;
    pin_ = int(pin);
    output_ = direction == OUTPUT;
    return 0;
}

void Gpio::close() { pin_ = -1; }

bool Gpio::read() const { return pin_ >= 0 && host::board().pinLevel(unsigned(pin_)); }

void Gpio::write(bool high) {
    if (pin_ >= 0 && output_)
        host::board().pinWrite(unsigned(pin_), high);
}
