// The forty voices of one engine class: voice t x 8 + v belongs to slot v of
// track t. Built once, never reallocated; the voice manager reaches every
// engine's voices through this one face.
#pragma once

#include "engines/SynthVoice.h"

#include <array>
#include <cstdint>
#include <memory>

class VoicePool {
public:
    static constexpr uint32_t kVoices = 40;
    static constexpr uint32_t kVoicesPerTrack = 8;

    virtual ~VoicePool() = default;
    // index < kVoices; callers check.
    virtual SynthVoice& voice(uint32_t index) = 0;
    // Every voice as built: silent, holding no note.
    virtual void silence() = 0;
};

template <class Voice>
class VoicePoolOf final : public VoicePool {
public:
    SynthVoice& voice(uint32_t index) override { return voices_[index]; }
    void silence() override {
        for (Voice& v : voices_) {
            std::destroy_at(&v);
            std::construct_at(&v);
        }
    }

private:
    std::array<Voice, kVoices> voices_;
};

// The pool of an engine type, or null for a type without voices ("none",
// anything above 7, an engine whose voice class is not part of the build).
std::unique_ptr<VoicePool> makeVoicePool(uint32_t engineType);
