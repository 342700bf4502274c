// The CV expander client as the sound engines reach it. The modular engine's
// voices and its control hook hand pitch, gate and CV levels over on the audio
// thread; the client queues them for its sender (no formatting, allocation or
// socket work on the caller's thread) and drops them while the expander is not
// connected.
#pragma once

#include <atomic>
#include <cstdint>

class OSCV {
public:
    static constexpr uint32_t kCvOuts = 8;

    virtual ~OSCV() = default;

    // "/oscv/corvane-note": int32 index + 1, float value (the pitch in Hz),
    // bool gate.
    virtual void sendNote(uint32_t index, bool gate, float value) = 0;
    // "/oscv/cvouts": int32 first, first + 7, then the eight levels.
    virtual void sendCvOuts(uint32_t first, const int32_t (&levels)[kCvOuts]) = 0;
    virtual bool isConnected() const = 0;
};

namespace Driver {
// Null until the client is built: the engines then send nothing.
extern std::atomic<OSCV*> oscv;
}  // namespace Driver
