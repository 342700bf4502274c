// The 32 encoder-ring LEDs on one or two LED chips (bus 1, 0x3C and 0x3F).
#pragma once

#include "drivers/IS31FL3236A.h"

class EncoderLedDriver {
public:
    static constexpr int kBus = 1, kAddress0 = 0x3C, kAddress1 = 0x3F;

    bool setup();
    void setLevels(const float* levels32);
    void allOff();
    bool twoChips() const { return twoChips_; }

private:
    bool twoChips_ = false;
    IS31FL3236A chip_[2];
};

namespace Driver {
extern EncoderLedDriver ledDriver;
}  // namespace Driver
