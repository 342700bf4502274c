#include "drivers/Pcm3168A_Codec.h"

#include "drivers/Cs42448_Codec.h"

namespace {
constexpr uint8_t kStart[][2] = {
    {0x40, 0xC1}, {0x41, 0x06}, {0x42, 0x00}, {0x43, 0x00}, {0x44, 0x00}, {0x50, 0x01},
    {0x51, 0x06}, {0x52, 0x40}, {0x53, 0x00}, {0x54, 0x00}, {0x55, 0x00},
};
constexpr uint8_t kRegDacMute = 0x44;
}  // namespace

int Pcm3168A_Codec::startAudio(int) {
    for (const auto& w : kStart)
        writeRegister(w[0], w[1]);  // a failure is reported and the rest still goes out
    started_ = true;
    return 0;
}

int Pcm3168A_Codec::stopAudio() {
    writeRegister(kRegDacMute, 0xFF);
    started_ = false;
    return disable();
}

void registerCodecDrivers() {
    Bela_hwNames()["VeskPcm3168A"] = kVeskPcm3168A;
    Bela_setCodecFactory([](int id) -> AudioCodec* {
        if (id == kVeskPcm3168A)
            return new Pcm3168A_Codec(2, 0x44, gRTAudioVerbose != 0);
        if (id == kBelaMiniCs42448)
            return new Cs42448_Codec(2, 0x48, gRTAudioVerbose != 0);
        return nullptr;
    });
}
