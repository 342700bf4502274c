// The 25 motion slots shared by all tracks, the single-recorder rule and
// the per-block run of the five tracks' motion recorders.
//
// Threads: recording, overdub and playback run in the audio thread
// (process). A delete is a request that process carries out. Loads and
// clears come from the interface task: they hold the controller busy (the
// audio thread skips the recorders meanwhile) and wait out the block in
// progress; the slots' storage is never reallocated.
#pragma once

#include "instrument/files/FileTargets.h"
#include "sequencing/MotionRecording.h"

#include <array>
#include <atomic>
#include <cstdint>

class MotionRecorder;

class MorphController : public MotionRecordings {
public:
    static constexpr int kTracks = 5;

    MorphController() = default;
    MorphController(const MorphController&) = delete;
    MorphController& operator=(const MorphController&) = delete;

    // Audio thread.
    bool claim(int track);
    void release(int track);
    // Once per block after the sequencers, with each track's reset flag.
    void process(const bool* resetFlags);

    // Any thread: the slot's recording; null outside 0..24.
    MotionRecording* recording(int slot);
    const MotionRecording* recording(int slot) const;
    int recordingTrack() const { return recordingTrack_.load(std::memory_order_acquire); }
    // The audio thread empties the slot at its next block.
    void requestDelete(int slot);

    // Recorders register themselves (construction, any thread before audio).
    void attach(int track, MotionRecorder* recorder);
    void detach(int track, MotionRecorder* recorder);

    // MotionRecordings (interface task, file layer).
    bool isEmpty(int slot) const override;
    nlohmann::json toJson(int slot) const override;
    // A bad element leaves the slot empty and throws.
    void fromJson(int slot, const nlohmann::json& recording) override;
    bool hasRecordings() const override;
    void clear() override;

private:
    static bool _valid(int slot) { return slot >= 0 && slot < kSlots; }
    void _applyDeletes();

    class BusyGuard {
    public:
        explicit BusyGuard(MorphController& c);
        ~BusyGuard();
        BusyGuard(const BusyGuard&) = delete;
        BusyGuard& operator=(const BusyGuard&) = delete;

    private:
        MorphController& c_;
    };

    std::array<MotionRecording, kSlots> recordings_;
    std::atomic<int> recordingTrack_{-1};
    std::atomic<uint32_t> deleteRequests_{0};  // one bit per slot
    std::atomic<int> busy_{0};
    std::array<std::atomic<MotionRecorder*>, kTracks> recorders_{};
};

namespace DSP {
extern MorphController motion;
}
