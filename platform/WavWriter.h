// The capture file: 32-bit float WAV written as it grows. Its header is
// rewritten in place while writing (see updateHeader), so a run that is
// killed keeps what reached the file up to the last update; past 4 GiB the
// same header becomes RF64 (a "ds64" chunk with 64-bit sizes takes the place
// of a "JUNK" chunk of the same length). The format chunk is the plain
// IEEE-float one with an empty extension, which the common readers take
// without a warning.
//
// A pipe or FIFO cannot be rewritten: there the header says "length
// unknown" the way sox says it when it streams a WAV (data size 0x7FFFF000,
// the other sizes to match). sox and play read such a stream to its end;
// libsndfile and aplay take the size as stated and stop after 2 GiB (23
// minutes of eight channels).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace host {

class WavWriter {
public:
    static constexpr size_t kHeaderBytes = 94;
    // The largest RIFF size a plain WAV header can state.
    static constexpr uint64_t kRiffLimit = 0xFFFFFFFFull;
    // The data size of a stream whose length is not known yet.
    static constexpr uint32_t kStreamDataBytes = 0x7FFFF000u;

    WavWriter() = default;
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    // Creates (or replaces) the file with a header for no samples; into a
    // pipe or FIFO, the stream header. A FIFO that nobody reads yet calls
    // `waiting` (when given) and then blocks until a reader opens it.
    bool open(const std::string& path, unsigned channels, unsigned sampleRate,
              void (*waiting)(const std::string& path) = nullptr);
    // The same into an open descriptor (standard output kept for the audio):
    // a pipe or device is written through a copy of it; a regular file is
    // opened again and replaced, as a named one is. With `continues`, the
    // stream a launcher started there goes on: no header into a pipe, and
    // a file keeps its header and whole frames (a frame cut short by a
    // crash goes) and grows behind them, its header counting them all.
    bool openDescriptor(int fd, unsigned channels, unsigned sampleRate, bool continues = false);
    // Appends interleaved samples; false when the disk refused them (and for
    // every later call). Into a stream, whole frames go in writes of at most
    // PIPE_BUF bytes, which a pipe takes whole or not at all: a writer killed
    // mid-way leaves no frame cut short for the next run to misalign.
    bool write(const float* samples, size_t count);
    // As write, but a stream is never waited on in a write: each piece first
    // waits for room (a pipe with room takes PIPE_BUF bytes whole, without
    // blocking), in turns of kRoomWaitMs, and `goOn` is asked before each
    // piece and after each turn without room; once it says no, the rest is
    // left unwritten. Returns how many samples went (whole frames): fewer
    // than `count` when `goOn` said no or a write failed (failed() tells;
    // errno is the write's).
    size_t writeWhile(const float* samples, size_t count, const std::function<bool()>& goOn);
    static constexpr int kRoomWaitMs = 50;
    // Rewrites the header for the samples written so far (nothing to do on
    // a stream).
    bool updateHeader();
    void close();
    bool isOpen() const { return fd_ >= 0; }
    bool isStream() const { return stream_; }
    bool failed() const { return failed_; }
    uint64_t dataBytes() const { return dataBytes_; }

    // The header of a file holding dataBytes bytes of samples: WAV, or RF64
    // when the file would pass kRiffLimit.
    static std::array<uint8_t, kHeaderBytes> header(unsigned channels, unsigned sampleRate, uint64_t dataBytes);
    // The header of a stream of unknown length.
    static std::array<uint8_t, kHeaderBytes> streamHeader(unsigned channels, unsigned sampleRate);

private:
    bool _start(unsigned channels, unsigned sampleRate);
    bool _continue(unsigned channels, unsigned sampleRate);
    void _begin(unsigned channels, unsigned sampleRate, uint64_t dataBytes, bool stream);

    int fd_ = -1;
    unsigned channels_ = 0;
    unsigned sampleRate_ = 0;
    uint64_t dataBytes_ = 0;
    bool failed_ = false;
    bool stream_ = false;
};

}  // namespace host
