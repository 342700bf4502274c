// The ring buffer of the sound code. Written downwards: the sample written d
// writes ago is at (writeIndex + d) mod size. Besides plain and interpolated
// taps it has a moving tap that jumps with a 512-sample cross-fade, a random
// walk of that tap, and a count of near-silent samples for a cheap silence test.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

class DelayLine {
public:
    float fadeStep = 1.0f / 512.0f;
    bool jumpPending = false;
    bool fadingIn = false;
    float fadeGain = 1.0f;
    uint32_t currentTap = 0;
    uint32_t targetTap = 0;
    uint32_t randomMin = 0;
    uint32_t randomMax = 0;
    std::vector<float> buffer;
    uint32_t quietCount;
    float quietThreshold = 1e-5f;
    uint32_t writeIndex = 0;

    explicit DelayLine(uint32_t size);

    uint32_t size() const { return uint32_t(buffer.size()); }

    void write(float x) {
        writeIndex = (writeIndex ? writeIndex : size()) - 1;
        buffer[writeIndex] = x;
    }
    void writeCountingQuiet(float x) {
        writeIndex = (writeIndex ? writeIndex : size()) - 1;
        float& slot = buffer[writeIndex];
        if (std::fabs(slot) < quietThreshold && quietCount > 0) --quietCount;
        slot = x;
        if (std::fabs(x) < quietThreshold) ++quietCount;
    }
    float read(uint32_t d) const { return buffer[_wrap(uint64_t(writeIndex) + d)]; }
    // Linear interpolation; d is clamped into the line.
    float readInterpolated(float d) const;

    void setJumpTarget(uint32_t target, uint32_t minDistance);
    // One call per sample.
    float readCrossfading(uint32_t offset);
    // No jump under way: readCrossfading would only read the tap (times
    // fadeGain), so a caller may read it directly for a stretch of samples.
    bool tapSteady() const { return !jumpPending && !fadingIn; }
    void randomWalkTap();

    void clear();
    bool isSilent();

private:
    uint32_t _wrap(uint64_t i) const {
        uint32_t n = size();
        return i < n ? uint32_t(i) : (i < 2ull * n ? uint32_t(i - n) : uint32_t(i % n));
    }
};
