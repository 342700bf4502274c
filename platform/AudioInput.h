// The file behind --audio-in, streamed: a reader thread reads it in chunks,
// converts it to 48 kHz and cleans it (as sample files are) into a ring that
// the audio thread reads without waiting. Memory stays the same whatever the
// length or rate of the file; a FIFO or a pipe (/dev/fd/N) works as well.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace host {

constexpr unsigned kHostSampleRate = 48000;

// The instrument's input fed by channel c (0-based) of an input file: channel
// 1 feeds "mic in 1", 2 "mic in 2", 3 "line in 3", 4 "line in 4", so a mono
// or stereo file reaches the mic inputs. The firmware reads input k from
// context channel 4 - k, so the first four are reversed; further channels go
// to the context's spare inputs in order.
size_t inputChannelForFileChannel(size_t c);

class AudioInputStream {
public:
    // Frames the ring holds at 48 kHz: enough for the reader to sleep between
    // chunks and to ride out a busy moment in real time.
    static constexpr size_t kRingFrames = 65536;

    AudioInputStream() = default;
    ~AudioInputStream();
    AudioInputStream(const AudioInputStream&) = delete;
    AudioInputStream& operator=(const AudioInputStream&) = delete;

    // Opens `path` for a context of `contextChannels` inputs and reads ahead
    // until the ring is full or the file has ended. False, with the reason on
    // the console, when the file cannot be read; `again` (a run the launcher
    // started again) words it as inputs left silent, and a pipe or FIFO is
    // neither waited for nor read again.
    bool open(const std::string& path, size_t contextChannels, bool again = false);
    bool isOpen() const { return state_ != nullptr; }

    // Audio thread: writes the next `frames` frames into the inputs the file
    // feeds (interleaved, `channels` a frame). Frames the reader has not
    // delivered yet are silence and counted; after the file: silence.
    void feed(float* interleaved, uint32_t frames, uint32_t channels);

    // Not the audio thread: returns once `frames` frames are ready, the file
    // has ended, or `giveUp` (when given) says to stop waiting.
    void waitFor(uint32_t frames, bool (*giveUp)() = nullptr);

    // Stops the reader and says on the console what was replaced or missed.
    void close();

    struct State;

private:
    std::shared_ptr<State> state_;
    std::thread reader_;
};

}  // namespace host
