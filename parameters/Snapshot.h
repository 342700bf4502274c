// Immutable data that one thread replaces while others read it, the audio
// thread among them. The audio thread reads through a plain pointer that
// stays valid until its block ends, and never locks or frees; other threads
// take a shared copy under a short lock. A writer builds the new object off
// the audio thread, publishes it, waits out the block in progress and then
// drops the old one on its own side.
#pragma once

#include "platform/Audio.h"

#include <atomic>
#include <memory>
#include <mutex>

template <typename T>
class Snapshot {
public:
    explicit Snapshot(std::shared_ptr<const T> initial = std::make_shared<const T>()) : owner_(initial) {
        rt_.store(owner_.get(), std::memory_order_release);
    }
    Snapshot(const Snapshot&) = delete;
    Snapshot& operator=(const Snapshot&) = delete;

    // Audio thread: valid until the end of the current block.
    const T* rt() const { return rt_.load(std::memory_order_acquire); }
    // Any other thread.
    std::shared_ptr<const T> get() const {
        std::lock_guard<std::mutex> lock(ownerLock_);
        return owner_;
    }

    void publish(std::shared_ptr<const T> next) {
        std::lock_guard<std::mutex> lock(writers_);
        _publish(std::move(next));
    }

    // Copy, change, publish; writers are serialised so no change is lost.
    template <typename F>
    void update(F&& change) {
        std::lock_guard<std::mutex> lock(writers_);
        auto next = std::make_shared<T>(*get());
        change(*next);
        _publish(std::move(next));
    }

private:
    void _publish(std::shared_ptr<const T> next) {
        const T* raw = next.get();
        {
            std::lock_guard<std::mutex> lock(ownerLock_);
            owner_.swap(next);
        }
        rt_.store(raw, std::memory_order_seq_cst);
        Bela_blockFence();
        next.reset();  // the old one: freed here, or by the last non-audio reader
    }

    mutable std::mutex ownerLock_;
    std::shared_ptr<const T> owner_;
    std::atomic<const T*> rt_{nullptr};
    std::mutex writers_;
};
