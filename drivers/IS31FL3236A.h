// Driver of one 36-channel PWM LED chip on I2C. Levels 0..1 pass through a
// 64-step gamma table before they become PWM bytes.
#pragma once

#include "platform/I2c.h"

#include <cstdint>

class IS31FL3236A : public I2c {
public:
    ~IS31FL3236A() override = default;

    bool init(int bus, int address);
    bool writeRegister(uint8_t reg, uint8_t value);
    bool writeBlock(uint8_t first, const uint8_t* bytes, unsigned count);
    void setLevels16(const float* levels) { _setLevels(levels, 16); }
    void setLevels32(const float* levels) { _setLevels(levels, 32); }
    void shutdown();
    bool initialised() const { return initialised_; }

    // PWM byte of a level; out-of-range levels are limited to 0..1 and NaN is
    // dark, so a level a hair above full never wraps to dark.
    static uint8_t pwmOf(float level);

private:
    void _setLevels(const float* levels, unsigned count);

    bool initialised_ = false;
};
