// Scanner of the panel's shift-register chains: the 60 keys on one chain and
// the 32 push-encoders on four chains, read through the digital pins once per
// audio frame.
#pragma once

#include "platform/Context.h"

#include <cstdint>

class ShiftRegisterIn {
public:
    static constexpr uint32_t kKeys = 60;
    static constexpr uint32_t kKeyBits = 64;
    static constexpr uint32_t kEncoders = 32;
    static constexpr uint32_t kEncoderChains = 4;
    static constexpr uint32_t kChainBits = 24;
    static constexpr uint32_t kFramesPerBlock = 64;

    // Pins of the panel.
    static constexpr uint32_t kKeyLoadPin = 0;
    static constexpr uint32_t kClockPin = 1;
    static constexpr uint32_t kKeyDataPin = 2;
    static constexpr uint32_t kEncoderLoadPin = 8;
    static constexpr uint32_t kEncoderDataPins[kEncoderChains] = {5, 9, 12, 13};

    // Sets the pin directions in every frame. The scan needs blocks of
    // exactly 64 digital frames (one half of the key chain per block): any
    // other context is refused, and process then does nothing.
    bool setup(BelaContext* context);
    // Once per block, before any key or encoder is evaluated.
    void process(BelaContext* context);

    // Raw level of key k (0..63; 0 = pressed); 1 for keys out of range.
    uint32_t key(uint32_t k) const { return k < kKeyBits ? keyBits_[k] : 1u; }
    uint32_t encoderA(uint32_t e) const { return e < kEncoders ? encoderA_[e] : 0u; }
    uint32_t encoderB(uint32_t e) const { return e < kEncoders ? encoderB_[e] : 0u; }
    // 1 while the encoder's push switch is held.
    uint32_t encoderPush(uint32_t e) const { return e < kEncoders ? encoderPush_[e] : 0u; }

private:
    uint32_t keyBits_[kKeyBits] = {};
    uint32_t encoderA_[kEncoders] = {};
    uint32_t encoderB_[kEncoders] = {};
    uint32_t encoderPush_[kEncoders] = {};
    uint32_t chainBits_[kEncoderChains][kChainBits] = {};
    uint32_t keyChainFrames_ = 2 * kKeyBits;
    uint32_t encoderChainFrames_ = 2 * kChainBits;
    uint32_t keyIndex_ = 0;
    uint32_t _encoderIndex = 0;
    bool ready_ = false;
};

namespace Key {
extern ShiftRegisterIn shiftRegisterInput;
}  // namespace Key
