// Grains chosen by sound: a granular voice asks for the samples near a point
// of the feature plane; the question travels through "grain-lookup-pipe" to
// "corvane-grain-lookup-task", which queries the sample pool and publishes
// the voice's hits; the voice then draws from them.
//
// Threads: the audio thread owns the pending requests and writes the pipe;
// the look-up task alone owns the answers (request and hits) and publishes
// each voice's answer as one immutable object behind an atomic pointer; a
// replaced answer is freed by the task after a block fence. A changed list
// is handed to the task, never written from the sample worker.
#pragma once

#include "platform/AuxiliaryTask.h"
#include "platform/Pipe.h"
#include "samples/AudioSampleGroup.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The record of "grain-lookup-pipe".
struct GrainRequest {
    static constexpr size_t kNameSize = 20;  // terminator included
    char name[kNameSize] = {};
    float a = -1.0f;
    float b = -1.0f;
    float c = -1.0f;  // radius
    uint32_t voice = 0;
};
static_assert(sizeof(GrainRequest) == 36, "GrainRequest is a 36-byte pipe record");

// Same name, point and radius; the voice is not compared.
bool sameGrainRequest(const GrainRequest& x, const GrainRequest& y);

// A hit: a shared sample-list entry and the hop and point it was found at.
using GrainEntry = FeatureHit;

class GrainLookup {
public:
    static constexpr uint32_t kVoices = 40;
    static constexpr const char* kPipeName = "grain-lookup-pipe";
    static constexpr size_t kPipeSize = 8388608;
    static constexpr const char* kTaskName = "corvane-grain-lookup-task";
    static constexpr int kTaskPriority = 30;

    GrainLookup();
    ~GrainLookup();
    GrainLookup(const GrainLookup&) = delete;
    GrainLookup& operator=(const GrainLookup&) = delete;

    // Start-up: the pipe and the task; false when either cannot be made.
    bool setup();
    // Shut-down, before the platform stops its tasks: the task is forgotten,
    // so no list change or request schedules it once it is gone.
    void releaseTask() { task_.store(nullptr, std::memory_order_release); }

    // Audio thread. Sends nothing when the request equals the voice's answered
    // or pending one; a name too long for the record is refused.
    void requestGrains(std::string_view list, std::span<const float> point, uint32_t voice, float radius);
    // Audio thread: a random hit of the voice; empty when it has none.
    GrainEntry randomGrainEntry(uint32_t voice);

    // Sample worker, after a list's tree was rebuilt: the voices that used the
    // list lose their hits and ask again.
    void listChanged(const std::string& list);

    // The task body (also called directly by tests).
    void processGrainRequests();

    // At rest only (no task run in progress): the answered request of a
    // voice, blank if none.
    GrainRequest answeredRequest(uint32_t voice) const;
    // Records written into the pipe so far.
    uint32_t requestsSent() const { return sent_.load(std::memory_order_relaxed); }

private:
    struct Answer {
        GrainRequest request;
        std::vector<GrainEntry> hits;
    };

    void _publish(uint32_t voice, std::shared_ptr<const Answer> answer,
                  std::vector<std::shared_ptr<const Answer>>& retired);

    // Task side.
    std::array<std::shared_ptr<const Answer>, kVoices> owned_;
    // Read by the audio thread; each points into owned_.
    std::array<std::atomic<const Answer*>, kVoices> published_;
    // Audio thread only.
    std::array<GrainRequest, kVoices> pending_;
    // Set by the task for a voice whose list changed: the audio thread then
    // forgets its pending request, so the next one is sent again.
    std::array<std::atomic<bool>, kVoices> forgetPending_;

    std::mutex changedLock_;  // sample worker and task only
    std::vector<std::string> changedLists_;

    Pipe pipe_;
    std::atomic<AuxiliaryTask> task_{nullptr};
    std::atomic<uint32_t> sent_{0};
    std::atomic<bool> warnedName_{false};
};
