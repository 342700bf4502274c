#include "drivers/IS31FL3236A.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr uint8_t kGamma[64] = {
    0,   1,   2,   3,   4,   5,   6,   7,   8,   10,  12,  14,  16,  18,  20,  22,
    24,  26,  29,  32,  35,  38,  41,  44,  47,  50,  53,  57,  61,  65,  69,  73,
    77,  81,  85,  89,  94,  99,  104, 109, 114, 119, 124, 129, 134, 140, 146, 152,
    158, 164, 170, 176, 182, 188, 195, 202, 209, 216, 223, 230, 237, 244, 251, 255,
};

constexpr uint8_t kRegShutdown = 0x00, kRegPwm = 0x01, kRegUpdate = 0x25, kRegControl = 0x26,
                  kRegGlobal = 0x4A, kRegFrequency = 0x4B, kRegReset = 0x4F;

}  // namespace

uint8_t IS31FL3236A::pwmOf(float level) {
    if (!(level > 0.0f))
        return kGamma[0];  // negative and NaN
    if (level > 1.0f)
        level = 1.0f;
    return kGamma[unsigned(level * 63.999f) & 63];
}

bool IS31FL3236A::init(int bus, int address) {
    initialised_ = false;
    bool ok = initI2C_RW(bus, address, -1) == 0;
    if (ok) {
        uint8_t control[36], pwm[36] = {};
        for (unsigned c = 0; c < 36; ++c)
            control[c] = c < 32 ? 0x03 : 0x0D;
        pwm[32] = 0xFF;  // channel 33 stays lit
        ok = writeRegister(kRegReset, 0x00) && writeRegister(kRegShutdown, 0x01) &&
             writeRegister(kRegFrequency, 0x01) && writeRegister(kRegGlobal, 0x00) &&
             writeBlock(kRegControl, control, 36) && writeBlock(kRegPwm, pwm, 36) &&
             writeRegister(kRegUpdate, 0x00);
    }
    if (!ok) {
        printf("IS31FL3236A: failed to initialize I2C-%d with address %d\n", bus, address);
        return false;
    }
    initialised_ = true;
    return true;
}

bool IS31FL3236A::writeRegister(uint8_t reg, uint8_t value) {
    uint8_t bytes[2] = {reg, value};
    if (writeBytes(bytes, 2) != 2) {
        printf("IS31FL3236A: failed to write single register: %d %d\n", reg, value);
        return false;
    }
    return true;
}

bool IS31FL3236A::writeBlock(uint8_t first, const uint8_t* bytes, unsigned count) {
    uint8_t buffer[37];
    if (count > 36)
        count = 36;
    buffer[0] = first;
    for (unsigned i = 0; i < count; ++i)
        buffer[i + 1] = bytes[i];
    if (writeBytes(buffer, count + 1) != long(count + 1)) {
        printf("IS31FL3236A: failed to write 36 registers (auto increment): %d\n", first);
        return false;
    }
    return true;
}

void IS31FL3236A::_setLevels(const float* levels, unsigned count) {
    if (!initialised_)
        return;
    uint8_t pwm[32];
    for (unsigned i = 0; i < count; ++i)
        pwm[i] = pwmOf(levels[i]);
    if (writeBlock(kRegPwm, pwm, count))
        writeRegister(kRegUpdate, 0x00);
}

void IS31FL3236A::shutdown() {
    writeRegister(kRegShutdown, 0x00);
    initialised_ = false;
}
