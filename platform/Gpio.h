// A GPIO pin of the board by number. On the host the pins are simulated (see
// devices/Board.h): levels are kept and logged, never a sysfs file.
#pragma once

#include <cstdint>

class Gpio {
public:
    enum Direction { INPUT = 0, OUTPUT = 1 };

    Gpio() = default;
    Gpio(const Gpio&) = delete;
    Gpio& operator=(const Gpio&) = delete;
    ~Gpio() { close(); }

    // 0 on success, -1 when the pin cannot be had.
    int open(unsigned pin, Direction direction);
    void close();
    bool enabled() const { return pin_ >= 0; }
    unsigned pin() const { return unsigned(pin_); }

    bool read() const;
    void write(bool high);
    void set() { write(true); }
    void clear() { write(false); }

private:
    int pin_ = -1;
    bool output_ = false;
};
