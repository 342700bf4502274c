#include "platform/AudioCodec.h"

int gRTAudioVerbose = 0;

std::map<std::string, int>& Bela_hwNames() {
    // The boards the platform itself knows; the firmware adds its own.
    static std::map<std::string, int> names = {{"NoHardware", 0}, {"BelaMiniCs42448", 13}};
    return names;
}

int Bela_hwFromName(const std::string& name) {
    auto it = Bela_hwNames().find(name);
    return it == Bela_hwNames().end() ? -1 : it->second;
}

namespace {
CodecFactory& factory() {
    static CodecFactory f;
    return f;
}
}  // namespace

void Bela_setCodecFactory(CodecFactory f) { factory() = std::move(f); }

namespace host {
AudioCodec* makeCodec(int hardwareId) { return factory() ? factory()(hardwareId) : nullptr; }
}  // namespace host

namespace host {
bool mcaspConfigSupported(const McaspConfig& c) {
    return c.numSlots == 8 && c.slotSize == 32 && c.dataSize == 16 && c.bitDelay == 1 &&
           c.inSerializers == std::vector<unsigned>{0} && c.outSerializers == std::vector<unsigned>{2} &&
           c.inChannels <= 8 && c.outChannels <= 8;
}
}  // namespace host
