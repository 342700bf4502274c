#include "drivers/EncoderLedDriver.h"

bool EncoderLedDriver::setup() {
    bool first = chip_[0].init(kBus, kAddress0);
    twoChips_ = chip_[1].init(kBus, kAddress1);
    return first;
}

void EncoderLedDriver::setLevels(const float* levels32) {
    if (twoChips_) {
        chip_[0].setLevels16(levels32);
        chip_[1].setLevels16(levels32 + 16);
    } else {
        chip_[0].setLevels32(levels32);
    }
}

void EncoderLedDriver::allOff() {
    chip_[0].shutdown();
    chip_[1].shutdown();
}
