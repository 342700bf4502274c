// A touchpad gesture captured over time: one point every 15 audio blocks.
//
// The storage is allocated once, off the audio thread, at its full capacity:
// the audio thread appends and overwrites while the interface task draws
// and saves the same points, so nothing is ever reallocated and every word
// is atomic (a reader may see a point of two takes, never freed memory).
#pragma once

#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdint>
#include <memory>

struct MotionPoint {
    float x = 0.0f;    // 0..1
    float y = 0.0f;    // 0..1
    uint32_t t = 0;    // touch count when taken, 0 = not touched
};

class MotionRecording {
public:
    // 4096 points of 20 ms: a take of 81.9 seconds.
    static constexpr uint32_t kCapacity = 4096;
    static constexpr uint32_t kBlocksPerPoint = 15;

    MotionRecording();
    MotionRecording(const MotionRecording&) = delete;
    MotionRecording& operator=(const MotionRecording&) = delete;

    uint32_t size() const { return count_.load(std::memory_order_acquire); }
    bool empty() const { return size() == 0; }
    bool full() const { return size() >= kCapacity; }
    // i below kCapacity.
    MotionPoint at(uint32_t i) const;
    void set(uint32_t i, const MotionPoint& p);
    // False at capacity.
    bool push(const MotionPoint& p);
    // Storage kept.
    void clear() { count_.store(0, std::memory_order_release); }
    // Whole content at once (file loads); at most kCapacity points.
    void assign(const MotionPoint* points, uint32_t count);

private:
    struct Cell {
        std::atomic<float> x{0.0f};
        std::atomic<float> y{0.0f};
        std::atomic<uint32_t> t{0};
    };
    std::unique_ptr<Cell[]> cells_;
    std::atomic<uint32_t> count_{0};
};

// Appends while a new take records; only on every 15th frame. False when
// the recording is full (the take must stop).
bool writePoint(MotionRecording& recording, uint32_t frame, const MotionPoint& point);
// Overwrites point (frame / 15) mod count while overdubbing; nothing on an
// empty recording (a slot emptied under the overdub).
void replacePoint(MotionRecording& recording, uint32_t frame, const MotionPoint& point);
// Playback: {0, 0, 0} when empty; wraps with loop, else holds the last point.
MotionPoint readPoint(const MotionRecording& recording, uint32_t frame, bool loop);

// {"x": [...], "y": [...], "t": [...]}
nlohmann::json motionRecordingToJson(const MotionRecording& recording);
// Empties the recording, then reads the element. Arrays of unequal length,
// entries that are not numbers or more points than the capacity leave it
// empty and return false with a message. x and y are clamped to 0..1,
// anything not finite reads as 0.
bool motionRecordingFromJson(MotionRecording& recording, const nlohmann::json& element, std::string& error);
