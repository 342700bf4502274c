// A CS42448 codec on bus 2 at 0x48: the same shape as the instrument's codec,
// with input gains and output levels in 0.5 dB steps.
#pragma once

#include "drivers/I2cCodec.h"

class Cs42448_Codec : public I2cCodec {
public:
    Cs42448_Codec(int bus, int address, bool verbose) : I2cCodec(bus, address, verbose, "Cs42448") {}

    int initCodec() override;
    int startAudio(int shouldBeReady) override;
    int stopAudio() override;
    // A channel past the count gives -1; a negative one sets every channel.
    int setInputGain(int channel, float gainDb) override;
    int setDacVolume(int channel, float gainDb) override;
    int disable() override;
};
