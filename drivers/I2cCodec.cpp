#include "drivers/I2cCodec.h"

#include <cstdio>
#include <time.h>

I2cCodec::I2cCodec(int bus, int address, bool verbose, const char* chipName)
    : verbose_(verbose), chipName_(chipName) {
    config_.slotSize = 32;
    config_.bitDelay = 1;
    config_.mclkFreq = 12288000.0;
    config_.sampleRate = 48000.0;
    initI2C_RW(bus, address, -1);
    // Hardware reset: low for a millisecond, then released.
    if (resetLine_.open(kResetPin, Gpio::OUTPUT) == 0) {
        resetLine_.clear();
        timespec t{0, 1000000};
        nanosleep(&t, nullptr);
        resetLine_.set();
    }
}

I2cCodec::~I2cCodec() {
    resetLine_.close();
    closeI2C();
}

McaspConfig& I2cCodec::getMcaspConfig() {
    config_.inChannels = getNumIns();
    config_.outChannels = getNumOuts();
    config_.inSerializers = {0};
    config_.outSerializers = {2};
    config_.numSlots = 8;
    config_.slotSize = 32;
    config_.dataSize = 16;
    config_.bitDelay = 1;
    config_.mclkFreq = 12288000.0;
    config_.sampleRate = 48000.0;
    config_.auxClkIn = false;
    return config_;
}

int I2cCodec::writeRegister(uint8_t reg, uint8_t value) {
    uint8_t bytes[2] = {reg, value};
    if (writeBytes(bytes, 2) != 2) {
        if (verbose_)
            printf("Failed to write register %d on %s codec\n", reg, chipName_);
        return 1;
    }
    return 0;
}

int I2cCodec::readRegister(uint8_t reg) {
    uint8_t value = 0;
    if (writeBytes(&reg, 1) != 1 || readBytes(&value, 1) != 1) {
        if (verbose_)
            printf("Failed to read register %d on %s codec\n", reg, chipName_);
        return -1;
    }
    return value;
}
