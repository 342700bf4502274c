#include "drivers/ShiftRegisterIn.h"

#include <cstdio>
#include <utility>

namespace {
// Chain bit of each encoder's push switch, by the encoder's place j in its chain.
constexpr uint32_t kPushBit[8] = {17, 16, 23, 22, 18, 19, 20, 21};
}  // namespace

bool ShiftRegisterIn::setup(BelaContext* context) {
    ready_ = false;
    if (!context || !context->digital || context->digitalFrames != kFramesPerBlock) {
        fprintf(stderr, "ShiftRegisterIn: need %u digital frames per block (have %u)\n", kFramesPerBlock,
                context && context->digital ? context->digitalFrames : 0u);
        return false;
    }
    for (uint32_t f = 0; f < context->digitalFrames; ++f) {
        pinModeFrame(context, f, kKeyLoadPin, false);
        pinModeFrame(context, f, kClockPin, false);
        pinModeFrame(context, f, kEncoderLoadPin, false);
        pinModeFrame(context, f, kKeyDataPin, true);
        for (uint32_t pin : kEncoderDataPins)
            pinModeFrame(context, f, pin, true);
    }
    keyIndex_ = 0;
    _encoderIndex = 0;
    ready_ = true;
    return true;
}

void ShiftRegisterIn::process(BelaContext* context) {
    if (!ready_ || !context || !context->digital || context->digitalFrames != kFramesPerBlock)
        return;
    for (uint32_t f = 0; f < context->digitalFrames; ++f) {
        const uint32_t word = context->digital[f];
        // Each bit stands on the data pin for two frames; the second read stays.
        if (keyIndex_ < keyChainFrames_)
            keyBits_[keyIndex_ / 2] = (word >> (16 + kKeyDataPin)) & 1u;
        if (_encoderIndex < encoderChainFrames_)
            for (uint32_t c = 0; c < kEncoderChains; ++c)
                chainBits_[c][_encoderIndex / 2] = (word >> (16 + kEncoderDataPins[c])) & 1u;
        digitalWriteFrame(context, f, kClockPin, (f & 1u) == 0);
        digitalWriteFrame(context, f, kKeyLoadPin, keyIndex_ != 0);
        digitalWriteFrame(context, f, kEncoderLoadPin, _encoderIndex != 0);
        ++keyIndex_;
        ++_encoderIndex;
    }
    keyIndex_ %= keyChainFrames_;
    _encoderIndex = 0;

    // Each register shifts out its highest input first: put the half read in
    // this block back into input order.
    const uint32_t first = keyIndex_ == 0 ? kKeyBits / 2 : 0;
    for (uint32_t g = first; g < first + kKeyBits / 2; g += 8)
        for (uint32_t i = 0; i < 4; ++i)
            std::swap(keyBits_[g + i], keyBits_[g + 7 - i]);

    for (uint32_t c = 0; c < kEncoderChains; ++c) {
        for (uint32_t j = 0; j < 8; ++j) {
            const uint32_t n = 8 * c + j;
            encoderA_[n] = chainBits_[c][2 * j];
            encoderB_[n] = chainBits_[c][2 * j + 1];
            encoderPush_[n] = 1u - chainBits_[c][kPushBit[j]];  // switches pull low
        }
    }
}
