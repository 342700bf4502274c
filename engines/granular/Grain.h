// One short windowed excerpt of a sample: the sound source of the granular
// engine. A hit of the feature look-up says which entry and which analysed
// hop to play; the grain reads channel 0 around that hop with linear
// interpolation, shapes it with an attack-hold-decay window bent by the
// window shape and adds a block into the voice's mix. Audio thread only.
#pragma once

#include "dsp/AHDEnvelope.h"
#include "samples/AudioSampleGroup.h"

#include <cstdint>
#include <memory>

class AudioResource;

class Grain {
public:
    static constexpr uint32_t kBlock = 64;
    static constexpr double kHopFrames = 8192.0;
    // Schedule while playing: the window closes over this many samples first.
    static constexpr uint32_t kScheduleRelease = 256;
    // The window closes over kEndRelease samples once the read is this many
    // increments from the end.
    static constexpr double kEndLead = 270.0;
    static constexpr uint32_t kEndRelease = 64;
    static constexpr const char* kInvalidResource = "Grain: invalid AudioResource\n";

    // What has been said on the console. A voice lets its grains share one,
    // so that a fault repeated grain after grain is said once for the voice.
    struct Notices {
        bool invalidResource = false;
    };

    Grain();
    ~Grain();
    Grain(const Grain&) = delete;
    Grain& operator=(const Grain&) = delete;

    // Every block, also while the grain plays: window times in ms and the
    // detune depth, which scales this grain's random rate deviation.
    void setEnvelope(float attackMs, float holdMs, float decayMs, float depth);
    // offset in samples around the hop; immediate starts now, otherwise the
    // sounding window closes and the hit starts when it has.
    void schedule(FeatureHit hit, float offset, float shape, bool immediate);
    void start();
    // Adds a block into out; false when nothing was added.
    bool render(float* out, float hz, float ratio);

    bool isPlaying() const { return !window.isIdle() && current.entry && sample; }

    bool pending = false;
    FeatureHit current{};
    FeatureHit next{};
    std::shared_ptr<AudioResource> sample;
    AHDEnvelope window;
    alignas(16) float buffer[kBlock];
    float attack = 0.0f;
    float hold = 0.0f;
    float decay = 0.0f;
    float nextShape = 0.5f;
    float shape = 0.5f;
    float r = 0.0f;
    float rateDeviation = 0.0f;
    double nextOffset = 0.0;
    double position = 0.0;
    Notices* notices = &ownNotices_;

private:
    Notices ownNotices_;
    void _letGo(FeatureHit& hit);
};
