#include "platform/I2c.h"

#include "platform/devices/Board.h"

#include <cstdio>

int I2c::initI2C_RW(int bus, int address, int) {
    i2C_bus = bus;
    i2C_address = address;
    char name[32];
    std::snprintf(name, sizeof name, "/dev/i2c-%d", bus);
    if (!host::board().i2cBusExists(bus)) {
        std::fprintf(stderr, "Failed to open %s I2C Bus\n", name);
        return 1;
    }
    // Selecting an address succeeds whether or not a chip answers there; a
    // missing chip shows at its first transfer, as on the board.
    i2C_file = bus;
    return 0;
}

int I2c::closeI2C() {
    i2C_file = -1;
    return 0;
}

long I2c::writeBytes(const void* buffer, size_t length) {
    if (i2C_file < 0)
        return -1;
    return host::board().i2cWrite(i2C_bus, i2C_address, static_cast<const uint8_t*>(buffer), length)
               ? long(length)
               : -1;
}

long I2c::readBytes(void* buffer, size_t length) {
    if (i2C_file < 0)
        return -1;
    return host::board().i2cRead(i2C_bus, i2C_address, static_cast<uint8_t*>(buffer), length) ? long(length)
                                                                                                : -1;
}
