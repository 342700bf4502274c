#include "connectivity/MidiParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Collect : MidiParserListener {
    std::vector<std::string> seen;
    void received(const MidiMessage& m) override { seen.push_back(midiMessageToString(m)); }
    void invalidStatus(uint8_t status) override { seen.push_back("invalid " + std::to_string(status)); }
    void unexpectedData(uint8_t data, uint32_t runningType) override {
        seen.push_back("stray " + std::to_string(data) + " after " + midiTypeName(runningType));
    }
};

std::vector<std::string> parse(std::vector<uint8_t> bytes, MidiByteParser* parser = nullptr) {
    MidiByteParser own;
    Collect c;
    (parser ? *parser : own).parse(bytes.data(), bytes.size(), c);
    return c.seen;
}

using Texts = std::vector<std::string>;

TEST(MidiParser, RealTimeBytesPassThroughAMessageUntouched) {
    EXPECT_EQ(parse({0x93, 0x3C, 0xF8, 0x64}), (Texts{"TimingClock ch: 0 data: 0 0", "NoteOn ch: 3 data: 60 100"}));
    EXPECT_EQ(parse({0xB1, 0xFA, 0x07, 0xFE, 0xFC, 0x10, 0xFF}),
              (Texts{"StartSequence ch: 0 data: 0 0", "ActiveSensing ch: 0 data: 0 0", "StopSequence ch: 0 data: 0 0",
                     "ControlChange ch: 1 data: 7 16", "SystemReset ch: 0 data: 0 0"}));
    // Undefined real-time bytes are reported and disturb nothing either.
    EXPECT_EQ(parse({0x90, 0x40, 0xF9, 0x7F, 0xFD}),
              (Texts{"invalid 249", "NoteOn ch: 0 data: 64 127", "invalid 253"}));
}

TEST(MidiParser, SysExIsSkippedAndEndsAtAnyStatusButRealTime) {
    EXPECT_EQ(parse({0xF0, 0x7E, 0x01, 0xF8, 0x02, 0xF7, 0x90, 0x40, 0x40}),
              (Texts{"TimingClock ch: 0 data: 0 0", "NoteOn ch: 0 data: 64 64"}));
    // A lost end byte: the next status byte ends the SysEx all the same.
    EXPECT_EQ(parse({0xF0, 0x01, 0x02, 0x92, 0x30, 0x31}), (Texts{"NoteOn ch: 2 data: 48 49"}));
    // SysEx cancels running status.
    EXPECT_EQ(parse({0x90, 0x40, 0x40, 0xF0, 0x01, 0xF7, 0x41, 0x41}),
              (Texts{"NoteOn ch: 0 data: 64 64", "stray 65 after None", "stray 65 after None"}));
}

TEST(MidiParser, ANewStatusAbandonsAHalfReceivedMessage) {
    EXPECT_EQ(parse({0x90, 0x3C, 0xB0, 0x07, 0x64}), (Texts{"ControlChange ch: 0 data: 7 100"}));
    EXPECT_EQ(parse({0x90, 0x3C, 0xF4, 0x40}), (Texts{"invalid 244", "stray 64 after None"}));
    EXPECT_EQ(parse({0x90, 0x3C, 0xF6, 0x40, 0x41}),
              (Texts{"TuneRequest ch: 0 data: 0 0", "stray 64 after None", "stray 65 after None"}));
}

TEST(MidiParser, SystemCommonMessagesTakeTheirDataButNoRunningStatus) {
    EXPECT_EQ(parse({0xF2, 0x10, 0x20, 0x30, 0xF1, 0x55, 0xF3, 0x05}),
              (Texts{"SongPositionPointer ch: 0 data: 16 32", "stray 48 after None", "MIDITimingCode ch: 0 data: 85 0",
                     "SongSelect ch: 0 data: 5 0"}));
}

TEST(MidiParser, StrayDataBytesAreReportedWithTheRunningKind) {
    EXPECT_EQ(parse({0x40}), (Texts{"stray 64 after None"}));
}

TEST(MidiParser, AMessageMaySpanTwoReads) {
    MidiByteParser parser;
    EXPECT_TRUE(parse({0x95, 0x30}, &parser).empty());
    EXPECT_EQ(parse({0x7F, 0x31}, &parser), (Texts{"NoteOn ch: 5 data: 48 127"}));
    EXPECT_EQ(parse({0x00}, &parser), (Texts{"NoteOff ch: 5 data: 49 0"}));
    EXPECT_TRUE(parse({0xF0, 0x01}, &parser).empty());
    EXPECT_TRUE(parser.inSysEx());
    EXPECT_TRUE(parse({0x02, 0x03}, &parser).empty());
    parser.reset();
    EXPECT_FALSE(parser.inSysEx());
    EXPECT_EQ(parser.runningType(), 0u);
}

}  // namespace
