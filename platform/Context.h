// The audio context handed to setup, render and cleanup: one 64-frame block
// of interleaved audio and the digital pins of every frame of that block.
#pragma once

#include <cstdint>

struct BelaContext {
    // Audio, interleaved by frame: audioIn[frame * audioInChannels + channel].
    const float* audioIn = nullptr;
    float* audioOut = nullptr;
    uint32_t audioFrames = 64;
    uint32_t audioInChannels = 8;
    uint32_t audioOutChannels = 8;
    float audioSampleRate = 48000.0f;

    // One word per digital frame: bits 0-15 pin directions (1 = input),
    // bits 16-31 pin values (pin n is bit 16 + n).
    uint32_t* digital = nullptr;
    uint32_t digitalFrames = 64;
    uint32_t digitalChannels = 16;
    float digitalSampleRate = 48000.0f;

    // No analog pins on this board: the converters are read over SPI.
    const float* analogIn = nullptr;
    float* analogOut = nullptr;
    uint32_t analogFrames = 0;
    uint32_t analogInChannels = 0;
    uint32_t analogOutChannels = 0;
    float analogSampleRate = 0.0f;

    uint64_t audioFramesElapsed = 0;  // frames rendered before this block
    uint32_t underrunCount = 0;       // blocks that missed their deadline so far
    const char* projectName = "";
};

// Pin helpers on the digital words of one frame.
inline bool digitalReadFrame(const BelaContext* c, uint32_t frame, uint32_t pin) {
    return (c->digital[frame] >> (16 + pin)) & 1u;
}
inline void digitalWriteFrame(BelaContext* c, uint32_t frame, uint32_t pin, bool high) {
    if (high)
        c->digital[frame] |= 1u << (16 + pin);
    else
        c->digital[frame] &= ~(1u << (16 + pin));
}
inline void pinModeFrame(BelaContext* c, uint32_t frame, uint32_t pin, bool input) {
    if (input)
        c->digital[frame] |= 1u << pin;
    else
        c->digital[frame] &= ~(1u << pin);
}
