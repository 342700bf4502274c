#include "connectivity/MidiParser.h"

void MidiByteParser::reset() {
    record_ = MidiMessage{};
    dataCount_ = 0;
    inSysEx_ = false;
}

void MidiByteParser::parse(const uint8_t* bytes, size_t count, MidiParserListener& listener) {
    if (!bytes)
        return;
    for (size_t i = 0; i < count; ++i) {
        if (bytes[i] & 0x80)
            _status(bytes[i], listener);
        else
            _data(bytes[i], listener);
    }
}

void MidiByteParser::_status(uint8_t byte, MidiParserListener& listener) {
    const MIDIMsgType type = midiTypeFromStatus(byte);
    if (byte >= 0xF8) {
        // Real-time: passes through whatever is in progress.
        if (type == MIDIMsgType::None)
            listener.invalidStatus(byte);
        else
            listener.received({uint32_t(type), 0, 0, 0});
        return;
    }

    // Any other status byte ends a SysEx and drops a half-received message.
    inSysEx_ = false;
    dataCount_ = 0;
    record_.data1 = record_.data2 = 0;
    record_.type = uint32_t(MIDIMsgType::None);
    record_.channel = 0;

    if (any(type & kMidiChannelTypes)) {
        record_.type = uint32_t(type);
        record_.channel = byte & 0x0Fu;
        return;
    }
    switch (type) {
    case MIDIMsgType::MIDITimingCode:
    case MIDIMsgType::SongPositionPointer:
    case MIDIMsgType::SongSelect: record_.type = uint32_t(type); break;
    case MIDIMsgType::TuneRequest: listener.received({uint32_t(type), 0, 0, 0}); break;
    case MIDIMsgType::SysExStart: inSysEx_ = true; break;
    case MIDIMsgType::SysExStop: break;
    default: listener.invalidStatus(byte); break;
    }
}

void MidiByteParser::_data(uint8_t byte, MidiParserListener& listener) {
    if (inSysEx_)
        return;
    const MIDIMsgType type = MIDIMsgType(record_.type);
    const uint32_t needed = midiDataBytes(type);
    if (needed == 0) {
        listener.unexpectedData(byte, record_.type);
        return;
    }
    (dataCount_ == 0 ? record_.data1 : record_.data2) = byte;
    if (++dataCount_ < needed)
        return;

    MidiMessage complete = record_;
    if (type == MIDIMsgType::NoteOn && complete.data2 == 0)
        complete.type = uint32_t(MIDIMsgType::NoteOff);
    listener.received(complete);
    record_.data1 = record_.data2 = 0;
    dataCount_ = 0;
    // Running status is for the channel kinds only.
    if (!any(type & kMidiChannelTypes))
        record_.type = uint32_t(MIDIMsgType::None);
}
