// What the two codec drivers share: the I2C register access, the hardware
// reset on GPIO 81 at construction and the serial audio port configuration.
#pragma once

#include "platform/AudioCodec.h"
#include "platform/Gpio.h"
#include "platform/I2c.h"

#include <cstdint>

class I2cCodec : public AudioCodec, public I2c {
public:
    static constexpr unsigned kResetPin = 81;

    unsigned getNumIns() override { return 6; }
    unsigned getNumOuts() override { return 8; }
    float getSampleRate() override { return 48000.0f; }
    int setHpVolume(int, float) override { return 0; }
    int reset() override { return disable(); }
    McaspConfig& getMcaspConfig() override;

    // 0 on success, 1 on failure.
    int writeRegister(uint8_t reg, uint8_t value);
    // The register's value, or -1 on failure.
    int readRegister(uint8_t reg);

protected:
    I2cCodec(int bus, int address, bool verbose, const char* chipName);
    ~I2cCodec() override;

    McaspConfig config_;
    bool started_ = false;
    bool verbose_;
    const char* chipName_;
    Gpio resetLine_;
};
