#include "connectivity/MidiMessage.h"

#include <bit>

namespace {
constexpr const char* kTypeNames[] = {
    "NoteOff",        "NoteOn",          "PolyphonicKeyPressure", "ControlChange",  "ProgramChange",
    "ChannelPressure", "PitchBend",      "TimingClock",           "StartSequence",  "ContinueSequence",
    "StopSequence",   "ActiveSensing",   "SystemReset",           "MIDITimingCode", "SongPositionPointer",
    "SongSelect",     "TuneRequest",     "SysExStart",            "SysExStop",
};
constexpr uint32_t kTypeCount = sizeof(kTypeNames) / sizeof(kTypeNames[0]);
constexpr const char* kInvalidTypeName = "Invalid or combinedMIDIMessageType";

constexpr MIDIMsgType kNoteTypes = MIDIMsgType::NoteOff | MIDIMsgType::NoteOn | MIDIMsgType::PolyphonicKeyPressure;

bool within(uint32_t value, uint32_t min, uint32_t max) { return value >= min && value <= max; }
}  // namespace

const char* midiTypeName(uint32_t type) {
    if (type == 0)
        return "None";
    if (!std::has_single_bit(type))
        return kInvalidTypeName;
    uint32_t index = uint32_t(std::countr_zero(type));
    return index < kTypeCount ? kTypeNames[index] : kInvalidTypeName;
}

MIDIMsgType midiTypeFromStatus(uint8_t status) {
    if (status < 0x80)
        return MIDIMsgType::None;
    if (status < 0xF0)
        return MIDIMsgType(1u << ((status >> 4) - 8));
    switch (status) {
    case 0xF0: return MIDIMsgType::SysExStart;
    case 0xF1: return MIDIMsgType::MIDITimingCode;
    case 0xF2: return MIDIMsgType::SongPositionPointer;
    case 0xF3: return MIDIMsgType::SongSelect;
    case 0xF6: return MIDIMsgType::TuneRequest;
    case 0xF7: return MIDIMsgType::SysExStop;
    case 0xF8: return MIDIMsgType::TimingClock;
    case 0xFA: return MIDIMsgType::StartSequence;
    case 0xFB: return MIDIMsgType::ContinueSequence;
    case 0xFC: return MIDIMsgType::StopSequence;
    case 0xFE: return MIDIMsgType::ActiveSensing;
    case 0xFF: return MIDIMsgType::SystemReset;
    default: return MIDIMsgType::None;  // 0xF4, 0xF5, 0xF9, 0xFD are undefined
    }
}

std::string midiMessageToString(const MidiMessage& message) {
    std::string text = midiTypeName(message.type);
    text += " ch: ";
    text += std::to_string(message.channel);
    text += " data: ";
    text += std::to_string(int32_t(message.data1));
    text += ' ';
    text += std::to_string(int32_t(message.data2));
    return text;
}

uint32_t midiDataBytes(MIDIMsgType type) {
    switch (type) {
    case MIDIMsgType::NoteOff:
    case MIDIMsgType::NoteOn:
    case MIDIMsgType::PolyphonicKeyPressure:
    case MIDIMsgType::ControlChange:
    case MIDIMsgType::PitchBend:
    case MIDIMsgType::SongPositionPointer: return 2;
    case MIDIMsgType::ProgramChange:
    case MIDIMsgType::ChannelPressure:
    case MIDIMsgType::MIDITimingCode:
    case MIDIMsgType::SongSelect: return 1;
    default: return 0;
    }
}

void MidiMessageFilter::reset() {
    channels_.store(_range(0, UINT32_MAX), std::memory_order_relaxed);
    data1_.store(_range(0, UINT32_MAX), std::memory_order_relaxed);
    data2_.store(_range(0, UINT32_MAX), std::memory_order_relaxed);
    typeMask_.store(0, std::memory_order_relaxed);
}

MidiMessageFilter& MidiMessageFilter::operator=(const MidiMessageFilter& other) {
    channels_.store(other.channels_.load(std::memory_order_relaxed), std::memory_order_relaxed);
    data1_.store(other.data1_.load(std::memory_order_relaxed), std::memory_order_relaxed);
    data2_.store(other.data2_.load(std::memory_order_relaxed), std::memory_order_relaxed);
    typeMask_.store(other.typeMask_.load(std::memory_order_relaxed), std::memory_order_relaxed);
    return *this;
}

void MidiMessageFilter::setChannel(int32_t channel) {
    if (channel < 0)
        setChannelRange(0, UINT32_MAX);
    else
        setChannelRange(uint32_t(channel), uint32_t(channel));
}

void MidiMessageFilter::setChannelRange(uint32_t min, uint32_t max) {
    channels_.store(_range(min, max), std::memory_order_relaxed);
}

void MidiMessageFilter::setNoteRange(uint32_t min, uint32_t max) {
    data1_.store(_range(min, max), std::memory_order_relaxed);
}

bool MidiMessageFilter::matches(const MidiMessage& message) const {
    const uint32_t bits = typeMask_.load(std::memory_order_relaxed);
    const MIDIMsgType mask = MIDIMsgType(bits);
    if ((message.type & bits) == 0)
        return false;
    auto inRange = [](uint32_t v, uint64_t range) { return within(v, uint32_t(range), uint32_t(range >> 32)); };
    // The channel test follows the mask, not the record: a mask mixing
    // channel and system kinds holds system records (channel 0) to it too.
    if (any(mask & kMidiChannelTypes) && !inRange(message.channel, channels_.load(std::memory_order_relaxed)))
        return false;
    if (!any(mask & kNoteTypes))
        return true;
    return inRange(message.data1, data1_.load(std::memory_order_relaxed)) &&
           inRange(message.data2, data2_.load(std::memory_order_relaxed));
}
