// MIDI byte parser against arbitrary bytes: every record it lets out is one
// well-formed message, and how the bytes are split over reads changes
// nothing.
#include "connectivity/MidiParser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Check final : MidiParserListener {
    std::vector<MidiMessage> records;
    size_t reports = 0;
    void received(const MidiMessage& m) override {
        const MIDIMsgType t = MIDIMsgType(m.type);
        const uint32_t allowed = ~(uint32_t(MIDIMsgType::SysExStart) | uint32_t(MIDIMsgType::SysExStop)) & ((1u << 19) - 1);
        if (m.type == 0 || (m.type & (m.type - 1)) != 0 || (m.type & ~allowed) != 0)
            abort();
        const bool channelKind = any(t & kMidiChannelTypes);
        if (channelKind ? m.channel > 15 : m.channel != 0)
            abort();
        const uint32_t n = midiDataBytes(t);
        if (m.data1 > 127 || m.data2 > 127 || (n < 1 && m.data1) || (n < 2 && m.data2))
            abort();
        if (t == MIDIMsgType::NoteOn && m.data2 == 0)
            abort();
        records.push_back(m);
    }
    void invalidStatus(uint8_t status) override {
        if (status != 0xF4 && status != 0xF5 && status != 0xF9 && status != 0xFD)
            abort();
        ++reports;
    }
    void unexpectedData(uint8_t data, uint32_t) override {
        if (data & 0x80)
            abort();
        ++reports;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Check whole;
    MidiByteParser a;
    a.parse(data, size, whole);
    if (whole.records.size() + whole.reports > size)
        abort();

    Check split;
    MidiByteParser b;
    const size_t cut = size ? data[0] % (size + 1) : 0;
    b.parse(data, cut, split);
    b.parse(data + cut, size - cut, split);
    if (split.records.size() != whole.records.size() || split.reports != whole.reports)
        abort();
    for (size_t i = 0; i < whole.records.size(); ++i)
        if (memcmp(&whole.records[i], &split.records[i], sizeof(MidiMessage)) != 0)
            abort();
    return 0;
}
