// The MIDI record that travels through "midipipe", its kinds and the matcher
// that picks the records meant for a listener.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// One bit per kind, so that a set of kinds fits one word.
enum class MIDIMsgType : uint32_t {
    None = 0,
    NoteOff = 1u << 0,
    NoteOn = 1u << 1,
    PolyphonicKeyPressure = 1u << 2,
    ControlChange = 1u << 3,
    ProgramChange = 1u << 4,
    ChannelPressure = 1u << 5,
    PitchBend = 1u << 6,
    TimingClock = 1u << 7,
    StartSequence = 1u << 8,
    ContinueSequence = 1u << 9,
    StopSequence = 1u << 10,
    ActiveSensing = 1u << 11,
    SystemReset = 1u << 12,
    MIDITimingCode = 1u << 13,
    SongPositionPointer = 1u << 14,
    SongSelect = 1u << 15,
    TuneRequest = 1u << 16,
    SysExStart = 1u << 17,
    SysExStop = 1u << 18,
};

constexpr MIDIMsgType operator|(MIDIMsgType a, MIDIMsgType b) { return MIDIMsgType(uint32_t(a) | uint32_t(b)); }
constexpr MIDIMsgType operator&(MIDIMsgType a, MIDIMsgType b) { return MIDIMsgType(uint32_t(a) & uint32_t(b)); }
constexpr bool any(MIDIMsgType t) { return t != MIDIMsgType::None; }

// The kinds addressed to one channel.
constexpr MIDIMsgType kMidiChannelTypes = MIDIMsgType::NoteOff | MIDIMsgType::NoteOn |
                                          MIDIMsgType::PolyphonicKeyPressure | MIDIMsgType::ControlChange |
                                          MIDIMsgType::ProgramChange | MIDIMsgType::ChannelPressure |
                                          MIDIMsgType::PitchBend;

// Fixed layout, native byte order: the pipe moves it as 16 raw bytes.
struct MidiMessage {
    uint32_t type = 0;     // one MIDIMsgType bit, 0 = none
    uint32_t channel = 0;  // 0..15 for channel messages, 0 otherwise
    uint32_t data1 = 0;    // note, controller, program, pressure, low 7 bits, ...
    uint32_t data2 = 0;    // velocity, value, high 7 bits; 0 when absent

    bool is(MIDIMsgType t) const { return type == uint32_t(t); }
};
static_assert(sizeof(MidiMessage) == 16, "midipipe records are 16 bytes");

// Name of a single kind; "None" for 0; anything else is reported as invalid.
const char* midiTypeName(uint32_t type);
inline const char* midiTypeName(MIDIMsgType type) { return midiTypeName(uint32_t(type)); }
// Kind of a status byte; 0 for data bytes and undefined status bytes.
MIDIMsgType midiTypeFromStatus(uint8_t status);
// "NoteOn ch: 3 data: 60 100"
std::string midiMessageToString(const MidiMessage& message);

// Data bytes that follow a status byte of this kind (0 for kinds without
// data and for SysEx).
uint32_t midiDataBytes(MIDIMsgType type);

// Set by the interface task while the audio thread matches: every range is
// one word, so a match never sees the minimum of one setting with the
// maximum of another.
class MidiMessageFilter {
public:
    MidiMessageFilter() { reset(); }
    MidiMessageFilter(const MidiMessageFilter& other) { *this = other; }
    MidiMessageFilter& operator=(const MidiMessageFilter& other);

    // Every range open, no kind accepted.
    void reset();
    void setTypes(MIDIMsgType mask) { setTypes(uint32_t(mask)); }
    void setTypes(uint32_t mask) { typeMask_.store(mask, std::memory_order_relaxed); }
    // Negative: every channel.
    void setChannel(int32_t channel);
    void setChannelRange(uint32_t min, uint32_t max);
    // Range of data1 (the note) for the note kinds.
    void setNoteRange(uint32_t min, uint32_t max);

    bool matches(const MidiMessage& message) const;

    uint32_t types() const { return typeMask_.load(std::memory_order_relaxed); }

private:
    // Minimum in the low half, maximum in the high half.
    static constexpr uint64_t _range(uint32_t min, uint32_t max) { return uint64_t(min) | (uint64_t(max) << 32); }

    std::atomic<uint64_t> channels_{0};
    std::atomic<uint64_t> data2_{0};
    std::atomic<uint64_t> data1_{0};
    std::atomic<uint32_t> typeMask_{0};
};
