#include "connectivity/Midi.h"
#include "connectivity/MidiMessage.h"

#include <gtest/gtest.h>


namespace {

TEST(MidiMessage, TypeNamesForSingleBitsOnly) {
    EXPECT_STREQ(midiTypeName(0u), "None");
    EXPECT_STREQ(midiTypeName(MIDIMsgType::NoteOff), "NoteOff");
    EXPECT_STREQ(midiTypeName(MIDIMsgType::SysExStop), "SysExStop");
    EXPECT_STREQ(midiTypeName(3u), "Invalid or combinedMIDIMessageType");
    EXPECT_STREQ(midiTypeName(1u << 19), "Invalid or combinedMIDIMessageType");
    EXPECT_STREQ(midiTypeName(0x80000000u), "Invalid or combinedMIDIMessageType");
}

TEST(MidiMessage, TextForm) {
    EXPECT_EQ(midiMessageToString({2, 3, 60, 100}), "NoteOn ch: 3 data: 60 100");
    EXPECT_EQ(midiMessageToString({0, 0, 0, 0}), "None ch: 0 data: 0 0");
    EXPECT_EQ(midiMessageToString({5, 4294967295u, 4294967295u, 7}),
              "Invalid or combinedMIDIMessageType ch: 4294967295 data: -1 7");
}

MidiMessage msg(MIDIMsgType t, uint32_t ch, uint32_t d1 = 0, uint32_t d2 = 0) { return {uint32_t(t), ch, d1, d2}; }

TEST(MidiMessageFilter, FreshFilterAcceptsNothing) {
    MidiMessageFilter f;
    EXPECT_FALSE(f.matches(msg(MIDIMsgType::NoteOn, 0, 60, 100)));
    EXPECT_FALSE(f.matches(msg(MIDIMsgType::TimingClock, 0)));
    f.setTypes(MIDIMsgType::TimingClock);
    EXPECT_TRUE(f.matches(msg(MIDIMsgType::TimingClock, 0)));
    f.reset();
    EXPECT_FALSE(f.matches(msg(MIDIMsgType::TimingClock, 0)));
}

TEST(MidiMessageFilter, ChannelRangeFollowsTheMask) {
    MidiMessageFilter f;
    f.setTypes(MIDIMsgType::NoteOn | MIDIMsgType::NoteOff);
    f.setChannel(-1);
    for (uint32_t ch = 0; ch < 16; ++ch)
        EXPECT_TRUE(f.matches(msg(MIDIMsgType::NoteOn, ch, 60, 1)));
    f.setChannel(0);
    EXPECT_TRUE(f.matches(msg(MIDIMsgType::NoteOff, 0, 60, 0)));
    EXPECT_FALSE(f.matches(msg(MIDIMsgType::NoteOn, 1, 60, 1)));
    EXPECT_FALSE(f.matches(msg(MIDIMsgType::ControlChange, 0, 1, 1)));  // kind not in the mask

    // A mask mixing channel and system kinds holds system records to the range.
    f.setTypes(MIDIMsgType::ControlChange | MIDIMsgType::TimingClock);
    f.setChannelRange(2, 4);
    EXPECT_FALSE(f.matches(msg(MIDIMsgType::TimingClock, 0)));
    EXPECT_TRUE(f.matches(msg(MIDIMsgType::ControlChange, 4, 200, 300)));
    f.setTypes(MIDIMsgType::TimingClock);
    EXPECT_TRUE(f.matches(msg(MIDIMsgType::TimingClock, 0)));
}

TEST(MidiMessageFilter, NoteRangeAppliesOnlyWithNoteKindsInTheMask) {
    MidiMessageFilter f;
    f.setTypes(MIDIMsgType::NoteOn | MIDIMsgType::PitchBend);
    f.setChannel(5);
    f.setNoteRange(36, 47);
    EXPECT_TRUE(f.matches(msg(MIDIMsgType::NoteOn, 5, 36, 100)));
    EXPECT_TRUE(f.matches(msg(MIDIMsgType::NoteOn, 5, 47, 100)));
    EXPECT_FALSE(f.matches(msg(MIDIMsgType::NoteOn, 5, 48, 100)));
    EXPECT_FALSE(f.matches(msg(MIDIMsgType::NoteOn, 5, 35, 100)));
    // The mask holds a note kind, so the range applies to pitch bends too.
    EXPECT_FALSE(f.matches(msg(MIDIMsgType::PitchBend, 5, 0, 64)));

    f.setTypes(MIDIMsgType::ControlChange);
    EXPECT_TRUE(f.matches(msg(MIDIMsgType::ControlChange, 5, 120, 127)));
}

// A port with no device: the test stands in for the port's own thread.
class LoopPort : public MIDI {
public:
    bool open() { return createPipe(); }
    void readInput() override {}
    void writeOutput() override {}
    bool deliver(const MidiMessage& m) { return pipe_.writeNonRt(m); }
};

TEST(MidiPort, ReadsWholeRecordsAndEmptyPipeLeavesTheRecordCleared) {
    LoopPort port;
    MidiMessage m;
    EXPECT_FALSE(port.readMessage(m)) << "no pipe yet";
    EXPECT_EQ(port.send(msg(MIDIMsgType::NoteOn, 0, 1, 1)), -1);
    ASSERT_TRUE(port.open());
    EXPECT_FALSE(port.readMessage(m));
    EXPECT_EQ(m.type, 0u);
    EXPECT_EQ(m.channel | m.data1 | m.data2, 0u);
    ASSERT_TRUE(port.deliver(msg(MIDIMsgType::ControlChange, 9, 7, 99)));
    ASSERT_TRUE(port.deliver(msg(MIDIMsgType::TimingClock, 0)));
    ASSERT_TRUE(port.readMessage(m));
    EXPECT_EQ(midiMessageToString(m), "ControlChange ch: 9 data: 7 99");
    ASSERT_TRUE(port.readMessage(m));
    EXPECT_TRUE(m.is(MIDIMsgType::TimingClock));
    EXPECT_FALSE(port.readMessage(m));
}

}  // namespace
