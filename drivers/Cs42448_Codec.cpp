#include "drivers/Cs42448_Codec.h"

#include <cmath>
#include <cstdio>
#include <time.h>

namespace {

constexpr uint8_t kRegId = 0x01, kRegPower = 0x02, kRegMute = 0x07, kRegDacVolume = 0x08,
                  kRegAdcGain = 0x11;
constexpr uint8_t kChipId = 0x04;

void waitMicroseconds(long us) {
    timespec t{us / 1000000, (us % 1000000) * 1000};
    nanosleep(&t, nullptr);
}

float limit(float db, float low, float high, float forNan) {
    if (std::isnan(db))
        return forNan;
    return db < low ? low : db > high ? high : db;
}

}  // namespace

int Cs42448_Codec::initCodec() {
    int id = readRegister(kRegId);
    if (id < 0) {
        printf("Error reading from kRegId\n");
        return -1;
    }
    if (id != kChipId)
        printf("Unexpected chip version: 0x%02x, expected: 0x%02x\n", id, kChipId);
    disable();
    return 0;
}

int Cs42448_Codec::setInputGain(int channel, float gainDb) {
    if (channel < 0) {
        int result = 0;
        for (unsigned c = 0; c < getNumIns(); ++c)
            result |= setInputGain(int(c), gainDb);
        return result;
    }
    if (unsigned(channel) >= getNumIns())
        return -1;
    // Two's complement in half decibels.
    int steps = int(std::lround(limit(gainDb, -64.0f, 24.0f, 0.0f) * 2.0f));
    return writeRegister(uint8_t(kRegAdcGain + channel), uint8_t(int8_t(steps)));
}

int Cs42448_Codec::setDacVolume(int channel, float gainDb) {
    if (channel < 0) {
        int result = 0;
        for (unsigned c = 0; c < getNumOuts(); ++c)
            result |= setDacVolume(int(c), gainDb);
        return result;
    }
    if (unsigned(channel) >= getNumOuts())
        return -1;
    // Attenuation in half decibels; an unknown level mutes.
    int steps = int(std::lround(-limit(gainDb, -127.5f, 0.0f, -127.5f) * 2.0f));
    return writeRegister(uint8_t(kRegDacVolume + channel), uint8_t(steps));
}

int Cs42448_Codec::startAudio(int) {
    int result = 0;
    result |= writeRegister(kRegPower, 0x01);
    result |= writeRegister(0x03, 0xF0);
    result |= writeRegister(0x04, 0x36);
    result |= writeRegister(0x05, 0x1C);
    result |= writeRegister(0x06, 0x42);
    for (unsigned c = 0; c < getNumIns(); ++c)
        result |= setInputGain(int(c), 0.0f);
    for (unsigned c = 0; c < getNumOuts(); ++c)
        result |= setDacVolume(int(c), 0.0f);
    result |= writeRegister(0x10, 0x00);
    result |= writeRegister(0x17, 0x00);
    result |= writeRegister(0x18, 0x00);
    result |= writeRegister(0x1A, 0x1F);
    result |= writeRegister(0x1B, 0x03);
    result |= writeRegister(kRegMute, 0xFF);
    result |= writeRegister(kRegPower, 0x00);
    // Power-up settles over 2100 and 100 sample periods (as seconds and
    // milliseconds at the running rate) before the outputs are unmuted.
    waitMicroseconds(long(2100.0f / getSampleRate() * 1e6f));
    waitMicroseconds(long(100.0f / getSampleRate() * 1e6f));
    result |= writeRegister(kRegMute, 0x00);
    started_ = result == 0;
    return result;
}

int Cs42448_Codec::stopAudio() {
    writeRegister(kRegMute, 0xFF);
    started_ = false;
    return disable();
}

int Cs42448_Codec::disable() {
    int power = readRegister(kRegPower);
    if (power < 0)
        return 1;
    return writeRegister(kRegPower, uint8_t(power | 0x01));
}
