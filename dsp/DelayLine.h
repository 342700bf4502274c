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
    // The same as n calls of write, oldest sample first.
    void writeBlock(const float* x, uint32_t n);
    // What read(tap) gave after each of the last n writes, oldest first
    // (tap + n <= size, so no later write of the n overwrote it): after
    // writeBlock, the block's plain delayed read in one pass.
    void readBehind(float* out, uint32_t n, uint32_t tap) const;
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

    // An interpolated tap worked out once for a block of reads at the same d
    // (clamped into the line as readInterpolated clamps it).
    struct Tap {
        uint32_t whole = 0;
        uint32_t next = 0;
        float fraction = 0.0f;
    };
    Tap tap(float d) const;
    // Block forms for a loop whose tap lies at least n samples back, so that
    // the next n writes cannot reach it: out[i] = what readTap returns just
    // before the i-th of those writes. False (nothing read) when the tap is
    // nearer than that.
    bool readTapBlock(const Tap& t, float* out, uint32_t n) const;
    // n writes as writeCountingQuiet makes them.
    void writeCountingQuietBlock(const float* x, uint32_t n);

    // The line's storage, write position and quiet count held in locals for
    // a per-sample loop (the same operations as above); written back when the
    // cursor goes. Nothing else may touch the line while a cursor is open.
    class Cursor {
    public:
        explicit Cursor(DelayLine& owner)
            : owner_(owner), line_(owner.buffer.data()), size_(owner.size()), index_(owner.writeIndex),
              quiet_(owner.quietCount), threshold_(owner.quietThreshold) {}
        ~Cursor() {
            owner_.writeIndex = index_;
            owner_.quietCount = quiet_;
        }
        Cursor(const Cursor&) = delete;
        Cursor& operator=(const Cursor&) = delete;

        void write(float x) {
            index_ = (index_ ? index_ : size_) - 1;
            line_[index_] = x;
        }
        void writeCountingQuiet(float x) {
            index_ = (index_ ? index_ : size_) - 1;
            float& slot = line_[index_];
            if (std::fabs(slot) < threshold_ && quiet_ > 0) --quiet_;
            slot = x;
            if (std::fabs(x) < threshold_) ++quiet_;
        }
        float readTap(const Tap& t) const {
            uint32_t a = index_ + t.whole, b = index_ + t.next;
            a = a >= size_ ? a - size_ : a;
            b = b >= size_ ? b - size_ : b;
            return (1.0f - t.fraction) * line_[a] + t.fraction * line_[b];
        }

    private:
        DelayLine& owner_;
        float* line_;
        uint32_t size_;
        uint32_t index_;
        uint32_t quiet_;
        float threshold_;
    };

private:
    uint32_t _wrap(uint64_t i) const {
        uint32_t n = size();
        return i < n ? uint32_t(i) : (i < 2ull * n ? uint32_t(i - n) : uint32_t(i % n));
    }
};
