// The unit of audio work: eight channels of 64 frames at 48 kHz, channel-major,
// with a state word per channel and how the channels are spread in space.
#pragma once

#include <cstdint>

enum class ChannelState : uint32_t {
    Silent = 0,   // a source is attached but produced nothing this block
    Playing = 1,  // a source that was already sounding
    Started = 2,  // first block of a new source
    Vacant = 3,   // no source attached
};

// Priority Playing > Started > Silent > Vacant.
ChannelState combineChannelStates(ChannelState a, ChannelState b);
void mergeChannelState(ChannelState& word, ChannelState other);

inline bool isActive(ChannelState s) {
    return s == ChannelState::Playing || s == ChannelState::Started;
}

struct AudioBlock {
    static constexpr uint32_t kFrames = 64;
    static constexpr uint32_t kChannels = 8;
    static constexpr uint32_t kSamples = kFrames * kChannels;

    alignas(16) float samples[kSamples];
    ChannelState channelState[kChannels];
    uint32_t positionCount;
    uint32_t channelPosition[kChannels];
    uint32_t frames;
    uint32_t channels;

    AudioBlock();

    float* channel(uint32_t c) { return samples + c * kFrames; }
    const float* channel(uint32_t c) const { return samples + c * kFrames; }

    void clear();
    void clearChannel(uint32_t c);
    // Adds source x gain into all 512 samples when any merged state is active.
    void mixIn(const AudioBlock& source, float gain);
    float sumChannelsAt(uint32_t frame) const;
    float sumAlternateChannelsAt(uint32_t frame, uint32_t first) const;
    // Folds the even channels into c and the odd ones into c + 1 (c even).
    void sumToStereo(uint32_t c);

private:
    uint32_t _channelCount() const { return channels < kChannels ? channels : kChannels; }
    uint32_t _frameCount() const { return frames < kFrames ? frames : kFrames; }
};

// The master block of every audio block.
extern AudioBlock outputStream;
