#include "dsp/DelayLine.h"

#include "dsp/Float4.h"

#include "dsp/Random.h"
#include "dsp/Saturate.h"

#include <algorithm>
#include <cmath>

// A line of zero length would make every tap a division by zero.
DelayLine::DelayLine(uint32_t size) : buffer(size ? size : 1, 0.0f), quietCount(size ? size : 1) {}

DelayLine::Tap DelayLine::tap(float d) const {
    const float maxDelay = float(size() - 1);
    if (!(d > 0.0f)) d = 0.0f;  // also NaN
    if (d > maxDelay) d = maxDelay;
    Tap t;
    t.whole = saturateToU32(d);
    t.fraction = d - float(t.whole);
    t.next = saturateToU32(std::ceil(d));
    return t;
}

namespace {
inline float4 reversed(float4 v) {
    return __builtin_shufflevector(v, v, 3, 2, 1, 0);
}
}  // namespace

bool DelayLine::readTapBlock(const Tap& t, float* out, uint32_t n) const {
    if (t.whole < n) return false;
    const uint32_t size = this->size();
    uint32_t a = writeIndex + t.whole, b = writeIndex + t.next;
    a = a >= size ? a - size : a;
    b = b >= size ? b - size : b;
    const float f = t.fraction, g = 1.0f - f;
    const float* line = buffer.data();
    if (n % 4 == 0 && a + 1 >= n && b + 1 >= n) {
        // The reads walk down the line without wrapping: four at a time,
        // loaded upwards and turned round.
        const float4 f4 = splat4(f), g4 = splat4(g);
        for (uint32_t i = 0; i < n; i += 4) {
            const float4 x = reversed(loadUnaligned4(line + a - i - 3));
            const float4 y = reversed(loadUnaligned4(line + b - i - 3));
            storeUnaligned4(out + i, g4 * x + f4 * y);
        }
        return true;
    }
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t ia = a >= i ? a - i : a + size - i, ib = b >= i ? b - i : b + size - i;
        out[i] = g * line[ia] + f * line[ib];
    }
    return true;
}

void DelayLine::writeCountingQuietBlock(const float* x, uint32_t n) {
    if (writeIndex < n || n > size() || n % 4 != 0) {
        for (uint32_t i = 0; i < n; ++i) writeCountingQuiet(x[i]);
        return;
    }
    // The writes walk down the line without wrapping. The quiet count stays
    // the number of quiet slots, so no decrement here can take it below 0.
    float* slot = buffer.data() + writeIndex;
    const float4 threshold = splat4(quietThreshold);
    int4 quiet = {0, 0, 0, 0};
    for (uint32_t i = 0; i < n; i += 4) {
        float* at = slot - i - 4;
        const float4 old = loadUnaligned4(at), now = reversed(loadUnaligned4(x + i));
        // Comparisons give -1 where true.
        quiet += (abs4(old) < threshold) - (abs4(now) < threshold);
        storeUnaligned4(at, now);
    }
    const int64_t count = int64_t(quietCount) + int64_t(quiet[0]) + quiet[1] + quiet[2] + quiet[3];
    quietCount = count < 0 ? 0 : uint32_t(count);
    writeIndex -= n;
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
