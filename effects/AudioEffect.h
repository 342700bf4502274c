// The base of every audio effect: it transforms one AudioBlock in place once
// per block on the audio thread, owns its parameters in one group named after
// its type, exposes up to four of them to the encoders of its row and up to
// three to the keys of the chain page, and draws its box on that page.
#pragma once

#include "dsp/AudioBlock.h"
#include "parameters/ParameterGroup.h"

#include <atomic>
#include <cstdint>
#include <string>

class MonoGFX;
class Parameter;

enum class AudioEffectType : int32_t {
    Unknown = 1,
    Mono = 2,
    Circle = 3,
    Stereo = 4,
    ReRoute = 5,
    Filter = 6,
    Equalizer = 7,
    Multiband = 8,
    Delay = 9,
    FadeDelay = 10,
    Reverb = 11,
    Drive = 12,
    AmpMod = 13,
    Compressor = 14,
    Limiter = 15,
    Degrade = 16,
};

// The saved name of a type; "unknown" for anything outside 2..16.
std::string effectTypeName(int32_t id);
inline std::string effectTypeName(AudioEffectType type) { return effectTypeName(int32_t(type)); }
// Exact match (case and spaces count); Unknown when nothing matches.
AudioEffectType effectTypeFromName(const std::string& name);

class AudioEffect {
public:
    static constexpr uint32_t kEncoderSlots = 4;
    static constexpr uint32_t kKeySlots = 3;
    static constexpr uint32_t kChannels = AudioBlock::kChannels;

    AudioEffect() = default;
    virtual ~AudioEffect() = default;
    AudioEffect(const AudioEffect&) = delete;
    AudioEffect& operator=(const AudioEffect&) = delete;

    virtual void process(AudioBlock& block) = 0;
    // Re-points the exposed parameters after a change of the effect's mode.
    virtual void remapParameters() {}
    // The effect's picture in the square (x, y, size); nothing by default.
    virtual void _drawVisual(MonoGFX* gfx, unsigned x, unsigned y, unsigned size) {}

    // The effect's box on the chain page; returns the advance to the next.
    int drawHeader(MonoGFX* gfx, unsigned pass, int x, int y, bool selected, bool full);

    ChannelState channelState(uint32_t c) const {
        return ChannelState(channelStates[c].load(std::memory_order_relaxed));
    }

    Parameter* encoderParameters[kEncoderSlots] = {nullptr, nullptr, nullptr, nullptr};
    Parameter* keyParameters[kKeySlots] = {nullptr, nullptr, nullptr};
    ParameterGroup group;
    std::string typeName;
    // Written by the audio thread, read by the picture: single words.
    std::atomic<int32_t> channelStates[kChannels] = {};
    std::atomic<int32_t> visualStates[kChannels] = {};
    std::atomic<bool> enabled{true};

protected:
    // The last step of every process: the states as the effect leaves them.
    void _storeChannelStates(const AudioBlock& block);
    // Names the type and the group and adds the parameters in order.
    void _setup(const std::string& name, std::initializer_list<Parameter*> parameters);
};
