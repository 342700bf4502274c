// References the audio thread lets go of (samples, list entries) are handed
// over here and freed by a task that may free: dropping the last reference
// on the audio thread would free memory there. One producer, the audio
// thread; any other thread drains.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

class ReleaseQueue {
public:
    static constexpr size_t kCapacity = 1024;

    // Takes the reference over and leaves `object` empty. On the audio
    // thread it is parked for drain(); elsewhere it is dropped at once. A
    // full queue drops it in place and counts an overflow.
    template <typename T>
    void retire(std::shared_ptr<T>& object) {
        if (!object)
            return;
        std::shared_ptr<const void> erased(std::move(object));
        _retire(erased);
    }

    // Not the audio thread: frees what was parked; returns how many.
    size_t drain();
    size_t pending() const;
    uint32_t overflows() const { return overflows_.load(std::memory_order_relaxed); }

private:
    void _retire(std::shared_ptr<const void>& object);

    std::array<std::shared_ptr<const void>, kCapacity> slots_;
    std::atomic<uint64_t> head_{0};  // written by the audio thread
    std::atomic<uint64_t> tail_{0};  // written by the drainer
    std::atomic<uint32_t> overflows_{0};
    std::mutex drainers_;
};

namespace DSP {
extern ReleaseQueue releaseQueue;
}  // namespace DSP
