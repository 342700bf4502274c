// Writes what the instrument plays into a 16-bit WAV file without letting the
// audio thread touch the disk: the audio thread hands each 64-frame block to
// the "sndfile-write" pipe, the writer task drains it into the file and keeps
// a peak meter per channel.
//
// Threads: start and stop on the interface thread, the pushes on the audio
// thread, drain on the writer task only.
#pragma once

#include "platform/AuxiliaryTask.h"
#include "platform/Pipe.h"
#include "samples/AudioRecorder.h"

#include <sndfile.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

class DiskRecorder : public AudioRecorder {
public:
    static constexpr const char* kPipeName = "sndfile-write";
    static constexpr size_t kPipeBytes = 65536;
    static constexpr int kTaskPriority = 60;
    static constexpr int kSampleRate = 48000;
    static constexpr const char* kRecordingsFolder = "/home/corvane/recordings/";

    struct Meter {
        float rise = 25.0f;
        float fall = 25.0f;
        float level = 0.0f;
    };

    DiskRecorder() = default;
    ~DiskRecorder() override;
    DiskRecorder(const DiskRecorder&) = delete;
    DiskRecorder& operator=(const DiskRecorder&) = delete;

    // Start-up. Without a task (tests) the caller runs drain itself.
    bool setup(bool withTask = true);
    // Shut-down, once the last take is closed and before the platform stops
    // its tasks: the write task is forgotten.
    void releaseTask() { writeTask_.store(nullptr, std::memory_order_release); }

    bool start(const std::string& path, uint32_t channels) override;
    void stop() override;
    std::string fullPath(const std::string& path) const override;

    void pushInterleaved(const float* frames, uint32_t channels) override;
    void pushBlock(const float* samples, uint32_t firstChannel, uint32_t channels) override;

    // The writer task's run.
    void drain();

    bool isRecording() const override { return recording_.load(std::memory_order_acquire); }
    bool isFileOpen() const override { return fileOpen_.load(std::memory_order_acquire); }
    float level(uint32_t channel) const override {
        return channel < kMaxChannels ? levels_[channel].load(std::memory_order_relaxed) : 0.0f;
    }
    uint32_t blocksPushed() const override { return blocksPushed_.load(std::memory_order_relaxed); }
    uint32_t blocksWritten() const { return blocksWritten_.load(std::memory_order_relaxed); }
    // Blocks the pipe had no room for since the start.
    uint32_t blocksDropped() const { return blocksDropped_.load(std::memory_order_relaxed); }
    // The instrument path of the file being (or last) written. Interface thread.
    const std::string& path() const { return path_; }

private:
    // Instrument path of a start's argument: relative names go into the recordings folder.
    static std::string _instrumentPath(const std::string& path);
    void _writeRecord(const float* samples, size_t count, uint32_t channels);
    void _close();
    void _discardPipe();

    std::string path_;
    SF_INFO info_{};
    SNDFILE* file_ = nullptr;
    Pipe pipe_;
    std::atomic<AuxiliaryTask> writeTask_{nullptr};  // made anew at each set-up
    void _scheduleWrite();
    std::atomic<bool> recording_{false};
    std::atomic<bool> fileOpen_{false};
    std::atomic<uint32_t> channels_{0};
    alignas(16) float staging_[kFrames * kMaxChannels] = {};
    std::atomic<uint32_t> blocksPushed_{0};
    std::atomic<uint32_t> blocksWritten_{0};
    std::atomic<uint32_t> blocksDropped_{0};
    std::array<Meter, kMaxChannels> meters_{};
    std::array<std::atomic<float>, kMaxChannels> levels_{};
};

namespace Driver {
extern DiskRecorder audioRecorder;
}

// The writer task's entry (argument ignored).
void writeBuffer(void*);
