// One 8-channel 10-bit analog converter on the shared SPI bus, with its own
// chip-select line. Keeps the last accepted reading of each channel.
#pragma once

#include "platform/Gpio.h"
#include "platform/Spi.h"

#include <array>
#include <cstdint>

class MCP3008 {
public:
    static constexpr uint32_t kSpeed = 1350000;
    static constexpr uint32_t kThreshold = 4;  // a change must exceed this to count

    ~MCP3008();
    bool setup(unsigned chipSelectPin, const char* device);
    void readAll();
    uint32_t raw(unsigned channel) const { return readings_[channel & 7]; }
    float value(unsigned channel) const { return float(readings_[channel & 7]) * (1.0f / 1023.0f); }

private:
    // False when the transfer failed; the reading is then not to be used.
    bool _read(unsigned channel, uint32_t& out);

    Spi spi_;
    Gpio chipSelect_;
    std::array<uint32_t, 8> readings_{};
};

namespace Driver {
extern MCP3008 ADC[2];
}  // namespace Driver
