#include "samples/ReleaseQueue.h"

#include "platform/Audio.h"

void ReleaseQueue::_retire(std::shared_ptr<const void>& object) {
    if (!Bela_isAudioThread()) {
        object.reset();
        return;
    }
    const uint64_t h = head_.load(std::memory_order_relaxed);
    if (h - tail_.load(std::memory_order_acquire) >= kCapacity) {
        overflows_.fetch_add(1, std::memory_order_relaxed);
        object.reset();  // better a free here than a reference kept forever
        return;
    }
    slots_[h % kCapacity] = std::move(object);  // the slot is empty: nothing is freed
    head_.store(h + 1, std::memory_order_release);
}

size_t ReleaseQueue::drain() {
    std::lock_guard<std::mutex> lock(drainers_);
    uint64_t t = tail_.load(std::memory_order_relaxed);
    const uint64_t h = head_.load(std::memory_order_acquire);
    const size_t freed = size_t(h - t);
    for (; t != h; ++t)
        slots_[t % kCapacity].reset();
    tail_.store(t, std::memory_order_release);
    return freed;
}

size_t ReleaseQueue::pending() const {
    return size_t(head_.load(std::memory_order_acquire) - tail_.load(std::memory_order_acquire));
}
