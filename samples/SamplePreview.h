// Lets the player hear an audio file while browsing, without loading it into
// the sample pool: a low-priority loader task reads the first five seconds,
// the voice manager mixes them into channels 0 and 1 in front of the master
// chain. A new request, a stop and the end of the data fade over 512 frames.
//
// Threads: play and stop on the interface thread, render on the audio thread,
// the loader on its task. The loaded data sit in two slots: the loader fills
// the one the audio thread is not reading and publishes its index.
#pragma once

#include "platform/AuxiliaryTask.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct AudioBlock;

class SamplePreview {
public:
    static constexpr int kMaxFrames = 240000;
    static constexpr uint32_t kFadeFrames = 512;
    static constexpr float kFadeStep = 1.0f / 512.0f;
    static constexpr float kGain = 0.25f;
    static constexpr int kTaskPriority = 10;

    virtual ~SamplePreview() = default;
    // Start-up. Without a task (tests) the caller runs the loader itself.
    bool setup(bool withTask = true);
    // Shut-down, before the platform stops its tasks: the loader task is
    // forgotten, so nothing schedules it once it is gone.
    void releaseTask() { task_.store(nullptr, std::memory_order_release); }

    // Virtual so that the pages' tests can stand in for the previewer.
    virtual void play(const std::string& path);
    virtual void stop();
    virtual bool isPlaying() const { return isRequested() || isLoaded(); }
    void render(AudioBlock& block);
    // The loader task's run.
    void load();

    // The file browser shows its "previewing sample" box while this is set.
    bool isLoaded() const { return loaded_.load(std::memory_order_acquire); }
    bool isLoading() const { return loading_.load(std::memory_order_acquire); }
    bool isRequested() const { return requested_.load(std::memory_order_acquire); }
    uint32_t position() const { return position_.load(std::memory_order_relaxed); }
    // Requests the loader has taken since start-up.
    uint32_t requestsTaken() const { return taken_.load(std::memory_order_acquire); }

private:
    using Channels = std::vector<std::vector<float>>;

    void scheduleLoader();  // audio thread

    std::atomic<bool> requested_{false};
    std::atomic<bool> loading_{false};
    std::mutex requestLock_;  // between play and the loader only
    std::string requestedPath_;
    std::string loadedPath_;  // loader only
    std::atomic<bool> loaded_{false};
    std::atomic<uint32_t> position_{0};
    std::atomic<bool> fadeOut_{false};
    float gain_ = 1.0f;
    std::array<Channels, 2> slots_;
    std::atomic<uint32_t> current_{0};
    std::atomic<uint32_t> taken_{0};
    std::atomic<AuxiliaryTask> task_{nullptr};  // made anew at each set-up
};

namespace DSP {
extern SamplePreview samplePreviewer;
}

// The loader task's entry (argument: the previewer, or none for the global one).
void loadSampleFunc(void* arg);
// What the voice manager calls once per block (VoiceManager::setPreviewer).
void renderSamplePreview(AudioBlock& block);
