// Turns a MIDI 1.0 byte stream into records. Running status holds for the
// channel kinds; any other status byte cancels it and abandons a message
// half received; real-time bytes may come anywhere, even inside a message
// or SysEx, and leave it intact; SysEx content is skipped and ends at any
// status byte that is not a real-time one.
#pragma once

#include "connectivity/MidiMessage.h"

#include <cstddef>
#include <cstdint>

class MidiParserListener {
public:
    virtual void received(const MidiMessage& message) = 0;
    // An undefined status byte (0xF4, 0xF5, 0xF9, 0xFD): skipped.
    virtual void invalidStatus(uint8_t status) = 0;
    // A data byte with no message to go with it: skipped.
    virtual void unexpectedData(uint8_t data, uint32_t runningType) = 0;

protected:
    ~MidiParserListener() = default;
};

class MidiByteParser {
public:
    // The parse goes on from where the previous call stopped, so a message
    // may be split over two reads.
    void parse(const uint8_t* bytes, size_t count, MidiParserListener& listener);
    void reset();

    uint32_t runningType() const { return record_.type; }
    bool inSysEx() const { return inSysEx_; }

private:
    void _status(uint8_t byte, MidiParserListener& listener);
    void _data(uint8_t byte, MidiParserListener& listener);

    MidiMessage record_;  // type and channel are the running status
    uint32_t dataCount_ = 0;
    bool inSysEx_ = false;
};
