// A SPI device node of the board. On the host "/dev/spidev1.0" is the
// simulated bus of devices/Board.h; any other path is a missing device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class Spi {
public:
    struct Settings {
        const char* device = "/dev/spidev1.0";
        uint32_t speed = 1000000;  // Hz, applied to every transfer of this handle
        uint16_t delay = 0;        // us between words
        uint8_t numBits = 8;
        uint8_t mode = 0;
    };

    Spi() = default;
    Spi(const Spi&) = delete;
    Spi& operator=(const Spi&) = delete;
    ~Spi() { cleanup(); }

    // 0 on success, -1 (errno set) when the device cannot be opened.
    int setup(const Settings& settings);
    void cleanup();
    bool ready() const { return open_; }

    // Full-duplex transfer of `length` bytes; rx may be null. 0 on success.
    int transfer(const uint8_t* tx, uint8_t* rx, size_t length);

private:
    bool open_ = false;
    Settings settings_{};
};
