// Paces the real-time loop by the clock. The host writes its output to a
// file, but it keeps time as a desktop sound device would: such a device
// holds a buffer of a few blocks, so a render that wakes late (an ordinary
// user's thread on a busy machine) is still heard in time as long as it
// catches up before the buffer runs dry. Only falling behind by more than the
// buffer is an underrun; the clock is then re-anchored to now.
#pragma once

#include <cstdint>

namespace host {

class BlockPacer {
public:
    static constexpr int64_t kBlockNsTimes3 = 4000000;  // 64 frames at 48 kHz = 4,000,000 / 3 ns
    // 15 blocks = 960 frames = 20 ms, a usual desktop output buffer.
    static constexpr uint32_t kBufferBlocks = 15;

    enum class Next {
        Wait,      // ahead of the clock: sleep until wakeAt()
        CatchUp,   // behind, within the buffer: render the next block at once
        Underrun,  // the buffer ran dry: count it; the clock now starts from here
    };

    explicit BlockPacer(int64_t startNs, uint32_t bufferBlocks = kBufferBlocks)
        : start_(startNs), bufferNs_(int64_t(bufferBlocks) * kBlockNsTimes3 / 3) {}

    // Called once a block has been rendered, with the clock's time then.
    Next blockDone(int64_t nowNs) {
        ++blocks_;
        // The time the next block is due to start (its predecessor playing).
        wakeAt_ = _due();
        if (nowNs <= wakeAt_)
            return Next::Wait;
        if (nowNs - wakeAt_ <= bufferNs_)
            return Next::CatchUp;
        start_ = nowNs - int64_t(blocks_) * kBlockNsTimes3 / 3;
        wakeAt_ = _due();
        return Next::Underrun;
    }

    int64_t wakeAt() const { return wakeAt_; }
    int64_t bufferNs() const { return bufferNs_; }

private:
    int64_t _due() const { return start_ + int64_t(blocks_) * kBlockNsTimes3 / 3; }

    int64_t start_;
    int64_t bufferNs_;
    uint64_t blocks_ = 0;
    int64_t wakeAt_ = 0;
};

}  // namespace host
