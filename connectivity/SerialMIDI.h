// The DIN MIDI port on the board's UART. Its two slots run on the I/O task:
// readInput turns received bytes into records in "midipipe", writeOutput
// turns the records the audio thread queued into bytes on the UART.
#pragma once

#include "connectivity/Midi.h"
#include "connectivity/MidiParser.h"
#include "platform/LogLimiter.h"

#include <atomic>
#include <cstdint>
#include <deque>

class SerialMIDI : public MIDI, private MidiParserListener {
public:
    static constexpr const char* kDevice = "/dev/ttyS4";
    static constexpr uint32_t kBaud = 31250;
    static constexpr size_t kChunk = 256;  // bytes read or written per run at most
    static constexpr int kPollMs = 5;
    // Room for bursts far beyond what the port can play in time (about 40 s
    // at 31250 baud) while a device that takes nothing cannot grow it without end.
    static constexpr size_t kMaxQueuedBytes = 131072;

    SerialMIDI() = default;
    ~SerialMIDI();

    // Opens the UART raw at `baud` and creates "midipipe". On failure the
    // port stays closed: the audio side reads nothing and sends go nowhere.
    bool setup(const char* device, uint32_t baud);

    void readInput() override;
    void writeOutput() override;

    // Bytes waiting to be written to the UART.
    size_t queuedBytes() const { return queue_.size(); }
    // Messages dropped because the queue was full.
    uint32_t droppedMessages() const { return droppedMessages_.load(std::memory_order_relaxed); }

private:
    // > 0 bytes read, 0 time-out, < 0 error (printed).
    int _readWithTimeout(uint8_t* buffer, size_t length);
    // length 0xFFFFFFFF: the buffer is a zero-terminated text.
    int _writeBytes(const uint8_t* buffer, uint32_t length);
    void _queue(const MidiMessage& message);

    void received(const MidiMessage& message) override;
    void invalidStatus(uint8_t status) override;
    void unexpectedData(uint8_t data, uint32_t runningType) override;
    // Whether a line about a bad byte may be printed now (a line about those
    // left out goes first).
    bool _badByteLine();
    // The counts of lines left out in a burst that nothing followed.
    void _flushLogLines();

    int fd_ = -1;
    std::deque<uint8_t> queue_;
    uint8_t rx_[kChunk] = {};
    MidiByteParser parser_;
    bool waitFailing_ = false;  // report a wait that keeps failing once
    // Whatever is plugged in can send bad bytes at any rate.
    LogLimiter badBytes_;
    LogLimiter queueFullLines_;
    LogLimiter backlogLines_;
    std::atomic<uint32_t> droppedMessages_{0};
    uint32_t droppedUnreported_ = 0;  // since the last line about them
};

namespace Driver {
extern SerialMIDI dinMIDI;
}  // namespace Driver
