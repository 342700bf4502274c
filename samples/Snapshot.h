// An immutable value that one writer thread replaces while other threads read
// it. Non-real-time readers share() it and may keep it as long as they like;
// the audio thread peek()s it and must drop the pointer before its block ends.
// The writer swaps the new value in, waits for the block in progress, then
// lets go of the old one, so the audio thread never frees a snapshot.
#pragma once

#include "platform/Audio.h"

#include <atomic>
#include <memory>

template <class T>
class Snapshot {
public:
    explicit Snapshot(std::shared_ptr<const T> initial = std::make_shared<const T>())
        : owned_(initial), raw_(initial.get()) {}
    Snapshot(const Snapshot&) = delete;
    Snapshot& operator=(const Snapshot&) = delete;

    // Any thread but the audio thread.
    std::shared_ptr<const T> share() const { return owned_.load(std::memory_order_acquire); }

    // Audio thread (or the writer itself): valid until the end of the current block.
    // seq_cst pairs with the block fence's reading of the render sequence.
    const T* peek() const { return raw_.load(std::memory_order_seq_cst); }

    // One writer thread per snapshot, never the audio thread.
    void publish(std::shared_ptr<const T> next) {
        if (!next)
            next = std::make_shared<const T>();
        raw_.store(next.get(), std::memory_order_seq_cst);
        std::shared_ptr<const T> old = owned_.exchange(std::move(next), std::memory_order_acq_rel);
        Bela_blockFence();
        old.reset();  // freed here, or later by a non-real-time reader still sharing it
    }

private:
    std::atomic<std::shared_ptr<const T>> owned_;
    std::atomic<const T*> raw_;
};
