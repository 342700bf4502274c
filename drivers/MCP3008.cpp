#include "drivers/MCP3008.h"

#include <cstdio>

MCP3008::~MCP3008() {
    spi_.cleanup();
    chipSelect_.close();
}

bool MCP3008::setup(unsigned chipSelectPin, const char* device) {
    Spi::Settings settings;
    settings.device = device;
    settings.speed = kSpeed;
    settings.delay = 0;
    settings.numBits = 8;
    settings.mode = 0;
    if (spi_.setup(settings) != 0) {
        printf("MCP008: failed initializing %s\n", device);
        return false;
    }
    if (chipSelect_.open(chipSelectPin, Gpio::OUTPUT) != 0) {
        printf("MCP008: failed opening Gpio %d\n", chipSelectPin);
        return false;
    }
    chipSelect_.set();
    readings_.fill(0);
    return true;
}

bool MCP3008::_read(unsigned channel, uint32_t& out) {
    // Start bit, then single-ended mode and the channel number.
    const uint8_t tx[3] = {0x01, uint8_t(0x80 | ((channel & 7) << 4)), 0x00};
    uint8_t rx[3] = {0, 0, 0};
    chipSelect_.clear();
    int result = spi_.transfer(tx, rx, 3);
    chipSelect_.set();
    if (result != 0) {
        printf("MCP008: Error in spi transfer. Reading MCP3008 failed\n");
        return false;
    }
    out = (uint32_t(rx[1] & 0x03) << 8) | rx[2];
    return true;
}

void MCP3008::readAll() {
    for (unsigned c = 0; c < 8; ++c) {
        uint32_t v;
        // A failed transfer keeps the old reading: a made-up one could press a
        // track button or jump a knob.
        if (!_read(c, v))
            continue;
        uint32_t old = readings_[c];
        if ((v > old ? v - old : old - v) > kThreshold)
            readings_[c] = v;
    }
}
