// The instrument's codec: 6 inputs, 8 outputs in TDM mode, bus 2 at 0x44.
#pragma once

#include "drivers/I2cCodec.h"

class Pcm3168A_Codec : public I2cCodec {
public:
    Pcm3168A_Codec(int bus, int address, bool verbose) : I2cCodec(bus, address, verbose, "Pcm3168A") {}

    int initCodec() override { return 0; }
    int startAudio(int shouldBeReady) override;
    int stopAudio() override;
    int setInputGain(int, float) override { return 0; }
    int setDacVolume(int, float) override { return 0; }
    int disable() override { return 0; }
};

// Hardware ids of the boards the firmware adds to the platform's table, and
// the factory that makes their codec drivers.
constexpr int kVeskPcm3168A = 14;
constexpr int kBelaMiniCs42448 = 13;
void registerCodecDrivers();
