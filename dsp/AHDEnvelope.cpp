#include "dsp/AHDEnvelope.h"

#include "dsp/Saturate.h"
#include "platform/RtPrintf.h"

uint32_t AHDEnvelope::_toSamples(float ms) const {
    uint32_t samples = saturateToU32(ms * 0.001f * sampleRate);
    return samples - samples % blockSize;
}

int32_t AHDEnvelope::_blocks(uint32_t samples) const {
    return saturateToI32(float(samples) / float(blockSize));
}

void AHDEnvelope::trigger(float newLevel, float delayMs) {
    state = Delay;
    counter = 0;
    segmentLength = 0;
    level = newLevel;
    delaySamples = _toSamples(delayMs);
    _delayBlocks = _blocks(delaySamples);
    _fromRelease = false;
    _enterSegment();
    running = true;
}

void AHDEnvelope::setTimes(float attackMs, float holdMs, float decayMs, float newDecayEnd) {
    // Equal times convert to equal lengths (NaN never compares equal, so it
    // is converted every time).
    if (!(attackMs == _lastMs[0] && holdMs == _lastMs[1] && decayMs == _lastMs[2] && sampleRate == _lastRate &&
          blockSize == _lastBlockSize))
        _setTimesFrom(attackMs, holdMs, decayMs);
    decayEnd = newDecayEnd;
    _enterSegment();
}

void AHDEnvelope::_setTimesFrom(float attackMs, float holdMs, float decayMs) {
    attackSamples = _toSamples(attackMs);
    holdSamples = _toSamples(holdMs);
    decaySamples = _toSamples(decayMs);
    _attackBlocks = _blocks(attackSamples);
    _holdBlocks = _blocks(holdSamples);
    _decayBlocks = _blocks(decaySamples);
    _lastMs[0] = attackMs;
    _lastMs[1] = holdMs;
    _lastMs[2] = decayMs;
    _lastRate = sampleRate;
    _lastBlockSize = blockSize;
}

void AHDEnvelope::fastRelease(uint32_t samples) {
    if (state > Decay) return;
    counter = 0;
    segmentLength = 0;
    fastReleaseSamples = samples;
    _releaseBlocks = _blocks(samples);
    state = Release;
    _enterSegment();
}

void AHDEnvelope::_advanceState() {
    if (state == Release) {
        _fromRelease = true;
        state = Idle;
    } else if (state < Idle) {
        ++state;
    } else {
        state = Idle;
    }
}

void AHDEnvelope::tick() {
    if (!running) return;
    if (int64_t(counter) == segmentLength) {
        counter = 0;
        _advanceState();
    } else if (int64_t(counter) > segmentLength) {
        // The segment was shortened under a running counter: end it within
        // the fast-release time.
        int32_t r = int32_t(fastReleaseSamples / blockSize);
        if (segmentLength > r) {
            counter = uint32_t(segmentLength - r);
        } else {
            counter = 0;
            _advanceState();
        }
    }
    _enterSegment();
    ++counter;
}

void AHDEnvelope::_enterSegment() {
    for (;;) {
        const bool atStart = counter == 0;
        switch (state) {
        case Delay:
            if (atStart) value = 0.0f;
            segmentLength = _delayBlocks;
            if (segmentLength != 0) {
                value = 0.0f;
                increment = 0.0f;
                return;
            }
            state = Attack;
            continue;
        case Attack:
            if (atStart) value = 0.0f;
            segmentLength = _attackBlocks;
            if (segmentLength != 0) {
                _rampTo(value, level);
                return;
            }
            state = Hold;
            continue;
        case Hold:
            if (atStart) value = level;
            segmentLength = _holdBlocks;
            if (segmentLength != 0) {
                value = level;
                increment = 0.0f;
                return;
            }
            state = Decay;
            continue;
        case Decay:
            if (atStart) value = level;
            segmentLength = _decayBlocks;
            if (segmentLength != 0) {
                _rampTo(value, level * decayEnd);
                return;
            }
            state = Idle;
            continue;
        case Release:
            segmentLength = _releaseBlocks;
            if (segmentLength != 0) {
                _rampTo(value, 0.0f);
                return;
            }
            // A release shorter than one block ends at once, in silence:
            // leaving a running state 4 behind would cycle between idle and
            // release forever at the old level.
            _fromRelease = true;
            state = Idle;
            continue;
        default:
            state = Idle;
            segmentLength = kIdleLength;
            running = false;
            // After a release the envelope has faded out; jumping back up to
            // the sustain fraction would sound one more block.
            value = _fromRelease ? 0.0f : level * decayEnd;
            increment = 0.0f;
            return;
        }
    }
}

void AHDEnvelope::_rampTo(float start, float end) {
    // Signed: a segment shortened below the counter leaves nothing to ramp
    // over (tick moves on next block) rather than a negative or wrapped count.
    int64_t remaining = int64_t(segmentLength) - int64_t(counter);
    if (start == end || remaining <= 0) {
        increment = 0.0f;
        return;
    }
    increment = (end - start) / float(remaining * int64_t(blockSize));
    const float limit = 1.0f / float(blockSize);
    if (increment > limit || increment < -limit) {
        // A ramp summed sample by sample may end a rounding step above its
        // level (an attack lengthened right at its top stays there), and a
        // one-block release from it comes out a hair too steep. The blocks
        // clamp the value into [0, level] before stepping, so only a ramp
        // still too steep from there is worth a line.
        float from = start > level ? level : start;
        if (from < 0.0f) from = 0.0f;
        const float steepness = (end - from) / float(remaining * int64_t(blockSize));
        if (steepness > limit || steepness < -limit) _reportSteepRamp(start, end);
        increment = increment > 0.0f ? limit : -limit;
    }
}

// Out of line: the print's argument set-up would otherwise weigh on every
// ramp.
void AHDEnvelope::_reportSteepRamp(float start, float end) const {
    rt_printf("AHD increment too big for a segment:%f\tstart: %f\tend: %f\tsegment: %d\tcounter: %d\t segment: %d\n",
              increment, start, end, segmentLength, int(counter), int(state));
}
