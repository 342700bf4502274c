// Base of the drivers of I2C chips: "/dev/i2c-N" with one slave address. On
// the host the buses are simulated (devices/Board.h): a chip that is not
// present fails like a missing one.
#pragma once

#include <cstddef>
#include <cstdint>

class I2c {
public:
    I2c() = default;
    I2c(const I2c&) = delete;
    I2c& operator=(const I2c&) = delete;
    virtual ~I2c() { closeI2C(); }

    // Opens the bus and selects the address; 0 on success, 1 on failure
    // (the reason is printed, as the board's bus layer does).
    int initI2C_RW(int bus, int address, int unused = -1);
    int closeI2C();

    // Whole writes and reads: the byte count on success, -1 on failure.
    long writeBytes(const void* buffer, size_t length);
    long readBytes(void* buffer, size_t length);

protected:
    int i2C_bus = -1;
    int i2C_address = -1;
    int i2C_file = -1;
};
