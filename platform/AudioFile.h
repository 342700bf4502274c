// Audio-file loader: every channel of a file as a float vector, through
// libsndfile (any format it reads).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace AudioFileUtilities {

// Frames from startFrame on, at most maxFrames (< 0: to the end); one vector
// per channel. Empty when the file cannot be read. Values come cleaned
// (cleanSamples in platform/SampleValues.h); `replaced`, when given,
// receives how many were not finite or out of bounds.
std::vector<std::vector<float>> load(const std::string& path, int maxFrames = -1, unsigned startFrame = 0,
                                     size_t* replaced = nullptr);
int getNumChannels(const std::string& path);  // -1 when unreadable
int getNumFrames(const std::string& path);    // -1 when unreadable
int getSampleRate(const std::string& path);   // -1 when unreadable

}  // namespace AudioFileUtilities

namespace host {

// Captures interleaved blocks to a float WAV file. push() is real-time safe:
// it copies into a preallocated ring that a writer thread drains; with
// waitWhenFull (offline runs) it waits for room instead of dropping.
//
// No reader of a pipe or FIFO holds the end: the writer never blocks in a
// write there, and once the run was told to stop (`stoppedAt`, the
// CLOCK_MONOTONIC ns of the stop, 0 before it; e.g. host::stopTakenAtNs) an
// offline push waits no more, and the reader has kStopGraceNs from the stop
// (in real time also from close(): a menu restart) to take what is queued. What is dropped for a slow reader is said on the
// console, once per stretch of drops and in all at the end.
class AudioCapture {
public:
    static constexpr int64_t kStopGraceNs = 2'000'000'000;

    explicit AudioCapture(int64_t (*stoppedAt)() = nullptr) : stoppedAt_(stoppedAt) {}
    ~AudioCapture();
    AudioCapture(const AudioCapture&) = delete;
    AudioCapture& operator=(const AudioCapture&) = delete;

    // `descriptor`, when given, is what `path` leads to (standard output
    // kept for the audio): written instead of opening `path` again, and with
    // `continues` the stream there goes on (WavWriter::openDescriptor).
    bool open(const std::string& path, unsigned channels, unsigned sampleRate, bool waitWhenFull,
              int descriptor = -1, bool continues = false);
    void push(const float* interleaved, unsigned frames);
    void close();  // writes what is left (see above) and closes the file
    // Frames the file did not get for a slow reader: dropped at push, and
    // left unwritten after a stop.
    unsigned long droppedFrames() const;
    // True once a write of the file failed (a full disk, a pipe whose reader
    // left); the failure has been reported on the console.
    bool failed() const;
    // True once the failure was standard output's reader going away (a
    // player quit): the listener is done, not the instrument broken.
    bool readerLeft() const;

private:
    struct Impl;
    int64_t (*stoppedAt_)() = nullptr;
    Impl* impl_ = nullptr;
    bool closedFailed_ = false;
    bool closedReaderLeft_ = false;
};

}  // namespace host
