#include "dsp/DelayLine.h"

#include "dsp/Random.h"
#include "dsp/Saturate.h"

#include <algorithm>
#include <cmath>

// A line of zero length would make every tap a division by zero.
DelayLine::DelayLine(uint32_t size) : buffer(size ? size : 1, 0.0f), quietCount(size ? size : 1) {}

float DelayLine::readInterpolated(float d) const {
    const float maxDelay = float(size() - 1);
    if (!(d > 0.0f)) d = 0.0f;  // also NaN
    if (d > maxDelay) d = maxDelay;
    uint32_t i = saturateToU32(d);
    float f = d - float(i);
    uint32_t j = saturateToU32(std::ceil(d));
    return (1.0f - f) * buffer[_wrap(uint64_t(writeIndex) + i)] + f * buffer[_wrap(uint64_t(writeIndex) + j)];
}

void DelayLine::setJumpTarget(uint32_t target, uint32_t minDistance) {
    targetTap = target;
    int64_t distance = int64_t(currentTap) - int64_t(target);
    if (distance < 0) distance = -distance;
    if (!jumpPending && !fadingIn && distance > int64_t(minDistance)) jumpPending = true;
}

float DelayLine::readCrossfading(uint32_t offset) {
    if (!jumpPending) {
        if (fadingIn) {
            if (fadeGain < 1.0f) fadeGain += fadeStep;
            if (fadeGain >= 1.0f) {
                fadeGain = 1.0f;
                fadingIn = false;
            }
        }
    } else if (fadeGain > 0.0f) {
        fadeGain -= fadeStep;
    } else {
        fadeGain = 0.0f;
        currentTap = targetTap;
        jumpPending = false;
        randomMin = uint32_t(std::max<int64_t>(int64_t(currentTap) - 400, 5));
        randomMax = uint32_t(std::min<int64_t>(int64_t(currentTap) + 400, int64_t(size())));
        fadingIn = true;
    }
    return fadeGain * buffer[_wrap(uint64_t(writeIndex) + offset + currentTap)];
}

void DelayLine::randomWalkTap() {
    uint32_t r = DSP::random.nextHigh();
    // Signed, so a tap at 0 stepping down is raised to the bound rather than
    // wrapping to a huge offset.
    int64_t tap = int64_t(currentTap) - 1 + int64_t(r % 3);
    if (tap < int64_t(randomMin)) tap = randomMin;
    if (std::max(tap, int64_t(randomMin)) > int64_t(randomMax)) tap = randomMax;
    currentTap = uint32_t(tap);
}

void DelayLine::clear() {
    std::fill(buffer.begin(), buffer.end(), 0.0f);
    quietCount = size();
}

bool DelayLine::isSilent() {
    if (quietCount > size()) quietCount = size();
    return quietCount == size();
}
