#include "dsp/DelayLine.h"

#include "dsp/Float4.h"

#include "dsp/Random.h"
#include "dsp/Saturate.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

// A line of zero length would make every tap a division by zero.
DelayLine::DelayLine(uint32_t size) : buffer(size ? size : 1, 0.0f), quietCount(size ? size : 1) {}

namespace {

// The line runs downwards, blocks upwards: four samples at a time, turned.
inline float4 reversed(float4 v) {
#if defined(__clang__)
    return __builtin_shufflevector(v, v, 3, 2, 1, 0);
#else
    return __builtin_shuffle(v, int4{3, 2, 1, 0});
#endif
}

}  // namespace

void DelayLine::writeBlock(const float* x, uint32_t n) {
    while (n > 0) {
        if (writeIndex == 0)
            writeIndex = size();
        const uint32_t k = n < writeIndex ? n : writeIndex;
        float* end = buffer.data() + writeIndex;  // x[j] goes to end[-1 - j]
        const size_t whole = k & ~3u;
        size_t j = 0;
        for (; j < whole; j += 4)
            storeUnaligned4(end - 4 - j, reversed(loadUnaligned4(x + j)));
        for (; j < k; ++j)
            end[-1 - ptrdiff_t(j)] = x[j];
        writeIndex -= k;
        x += k;
        n -= k;
    }
}

void DelayLine::readBehind(float* out, uint32_t n, uint32_t tap) const {
    if (n == 0)
        return;
    uint32_t p = _wrap(uint64_t(writeIndex) + tap + n - 1);
    while (n > 0) {
        const uint32_t k = n < p + 1 ? n : p + 1;
        const float* from = buffer.data() + p;  // out[j] is from[-j]
        const size_t whole = k & ~3u;
        size_t j = 0;
        for (; j < whole; j += 4)
            storeUnaligned4(out + j, reversed(loadUnaligned4(from - 3 - j)));
        for (; j < k; ++j)
            out[j] = from[-ptrdiff_t(j)];
        out += k;
        n -= k;
        p = size() - 1;
    }
}

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

// The line runs downwards and blocks upwards: four samples turned round.
static inline float4 backwards(float4 v) {
    return __builtin_shufflevector(v, v, 3, 2, 1, 0);
}

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
            const float4 x = backwards(loadUnaligned4(line + a - i - 3));
            const float4 y = backwards(loadUnaligned4(line + b - i - 3));
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
        const float4 old = loadUnaligned4(at), now = backwards(loadUnaligned4(x + i));
        // Comparisons give -1 where true.
        quiet += (abs4(old) < threshold) - (abs4(now) < threshold);
        storeUnaligned4(at, now);
    }
    const int64_t count = int64_t(quietCount) + int64_t(quiet[0]) + quiet[1] + quiet[2] + quiet[3];
    quietCount = count < 0 ? 0 : uint32_t(count);
    writeIndex -= n;
}
