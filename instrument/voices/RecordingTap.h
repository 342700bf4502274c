// Which block the audio thread hands to the disk recorder: written by the
// thread that starts or stops a recording, read once per block by the audio
// thread. The mode word is published last and cleared first, so a reader
// that sees a mode also sees the channel words that belong to it.
#pragma once

#include <atomic>
#include <cstdint>

class RecordingTap {
public:
    enum Mode : uint32_t { None = 0, Inputs = 1, Track = 2, Output = 3 };

    struct Words {
        uint32_t mode = None;
        uint32_t first = 0;
        uint32_t count = 0;
        uint32_t track = 0;
    };

    void set(uint32_t mode, uint32_t first, uint32_t count, uint32_t track) {
        first_.store(first, std::memory_order_relaxed);
        count_.store(count, std::memory_order_relaxed);
        track_.store(track, std::memory_order_relaxed);
        mode_.store(mode, std::memory_order_release);
    }
    void clear() {
        mode_.store(None, std::memory_order_release);
        first_.store(0, std::memory_order_relaxed);
        count_.store(0, std::memory_order_relaxed);
        track_.store(0, std::memory_order_relaxed);
    }
    Words read() const {
        Words w;
        w.mode = mode_.load(std::memory_order_acquire);
        w.first = first_.load(std::memory_order_relaxed);
        w.count = count_.load(std::memory_order_relaxed);
        w.track = track_.load(std::memory_order_relaxed);
        return w;
    }
    uint32_t mode() const { return mode_.load(std::memory_order_acquire); }
    uint32_t count() const { return count_.load(std::memory_order_relaxed); }

private:
    std::atomic<uint32_t> mode_{None};
    std::atomic<uint32_t> first_{0};
    std::atomic<uint32_t> count_{0};
    std::atomic<uint32_t> track_{0};
};
