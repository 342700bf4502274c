// Delay / attack / hold / decay envelope with a fast release. Segments are
// whole 64-sample blocks; the state advances once per block in tick() and the
// value ramps per sample through the LinearRamp operations.
#pragma once

#include "dsp/LinearRamp.h"

#include <cstdint>

class AHDEnvelope : public LinearRamp {
public:
    enum State : uint32_t { Delay = 0, Attack = 1, Hold = 2, Decay = 3, Idle = 4, Release = 5 };
    static constexpr int32_t kIdleLength = 2147483647;

    uint32_t blockSize = 64;
    float sampleRate = 48000.0f;
    uint32_t state = Delay;
    uint32_t counter = 0;        // blocks done in the current segment
    int32_t segmentLength = 0;   // in blocks
    bool running = false;
    uint32_t fastReleaseSamples = 128;
    float decayEnd = 0.0f;       // fraction of level the decay ends at
    uint32_t delaySamples = 0;
    uint32_t attackSamples = 64;
    uint32_t holdSamples = 64;
    uint32_t decaySamples = 64;
    // The sample counts above are set through trigger, setTimes and
    // fastRelease, which also keep their lengths in blocks.

    void trigger(float level, float delayMs);
    // Called every block with the current parameters; a running segment follows.
    void setTimes(float attackMs, float holdMs, float decayMs, float decayEnd);
    // From delay, attack, hold or decay only.
    void fastRelease(uint32_t samples);
    // Once per block, before the block's samples are produced.
    void tick();

    bool isIdle() const { return state == Idle || !running; }

private:
    uint32_t _toSamples(float ms) const;
    int32_t _blocks(uint32_t samples) const;
    void _setTimesFrom(float attackMs, float holdMs, float decayMs);
    void _advanceState();
    void _enterSegment();
    void _rampTo(float start, float end);
    [[gnu::noinline, gnu::cold]] void _reportSteepRamp(float start, float end) const;
    bool _fromRelease = false;
    // Segment lengths in blocks, worked out where the lengths in samples are
    // set (trigger, setTimes, fastRelease) rather than on every block.
    int32_t _delayBlocks = 0;
    int32_t _attackBlocks = 1;
    int32_t _holdBlocks = 1;
    int32_t _decayBlocks = 1;
    int32_t _releaseBlocks = 2;
    // Voices pass the same times block after block: the last ones converted,
    // with the rate and block size they were converted at.
    float _lastMs[3] = {0.0f, 0.0f, 0.0f};
    float _lastRate = 0.0f;
    uint32_t _lastBlockSize = 0;
};
