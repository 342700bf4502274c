// Driver of the display controller (256 x 64 OLED, 16 grey levels) on the
// SPI bus with chip-select, data/command and reset lines on GPIO pins.
#pragma once

#include "platform/Gpio.h"
#include "platform/Spi.h"

#include <cstdint>

class SSD1322 {
public:
    static constexpr uint32_t kSpeed = 8192000;
    static constexpr unsigned kChipSelectPin = 20, kDataCommandPin = 49, kResetPin = 22;
    static constexpr size_t kFrameBytes = 8192;

    ~SSD1322();
    bool setup(const char* device);
    // Resets the controller and configures it; `clock` is the divider and
    // oscillator byte.
    void init(uint8_t clock);
    // Sends a whole frame (64 rows of 128 bytes, two pixels a byte).
    void sendFramebuffer(const uint8_t* frame);
    bool initialised() const { return initialised_; }

private:
    void _command(uint8_t c);
    void _data(uint8_t d);

    bool initialised_ = false;
    Spi spi_;
    Gpio reset_, chipSelect_, dataCommand_;
};

namespace Driver {
extern SSD1322 oledDriver;
}  // namespace Driver
