// What the voice manager needs of the disk recorder: start and stop a file,
// hand it blocks from the audio thread, and the state the recording overlay
// shows. The disk recorder implements it; tests capture blocks through it.
#pragma once

#include <cstdint>
#include <string>

class AudioRecorder {
public:
    static constexpr uint32_t kFrames = 64;
    static constexpr uint32_t kMaxChannels = 8;

    virtual ~AudioRecorder() = default;

    // Interface thread. False while a recording runs or its file is still
    // open, or when a file exists at the path.
    virtual bool start(const std::string& path, uint32_t channels) = 0;
    virtual void stop() = 0;
    // The host file a start with this path writes (a relative path lands in
    // the recordings folder).
    virtual std::string fullPath(const std::string& path) const = 0;

    // Audio thread, real-time safe. 64 frames of `channels` interleaved.
    virtual void pushInterleaved(const float* frames, uint32_t channels) = 0;
    // `samples`: the 8 x 64 planar samples of a block; first + channels <= 8.
    virtual void pushBlock(const float* samples, uint32_t firstChannel, uint32_t channels) = 0;

    // For the recording overlay (any thread).
    virtual bool isRecording() const = 0;
    virtual bool isFileOpen() const = 0;
    virtual float level(uint32_t channel) const = 0;  // linear peak
    virtual uint32_t blocksPushed() const = 0;
};
