// The platform's interface to an audio codec chip and its serial audio port
// configuration, with the table of hardware names. The platform's audio
// initialisation creates the codec of the chosen hardware through the factory
// the firmware installs, takes its port configuration, and starts and stops
// it around the audio stream (on the host it does not carry audio).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

struct McaspConfig {
    unsigned inChannels = 0;
    unsigned outChannels = 0;
    std::vector<unsigned> inSerializers;
    std::vector<unsigned> outSerializers;
    unsigned numSlots = 0;
    unsigned slotSize = 0;
    unsigned dataSize = 0;
    unsigned bitDelay = 0;
    double mclkFreq = 0.0;
    double sampleRate = 0.0;
    bool auxClkIn = false;  // false: the port generates the clocks
};

class AudioCodec {
public:
    virtual ~AudioCodec() = default;
    virtual int initCodec() = 0;
    virtual int startAudio(int shouldBeReady) = 0;
    virtual int stopAudio() = 0;
    virtual unsigned getNumIns() = 0;
    virtual unsigned getNumOuts() = 0;
    virtual float getSampleRate() = 0;
    virtual int setInputGain(int channel, float gainDb) = 0;
    virtual int setDacVolume(int channel, float gainDb) = 0;
    virtual int setHpVolume(int channel, float gainDb) = 0;
    virtual int disable() = 0;
    virtual int reset() = 0;
    virtual McaspConfig& getMcaspConfig() = 0;
};

// Hardware names the platform knows; the firmware adds its boards' rows.
std::map<std::string, int>& Bela_hwNames();
int Bela_hwFromName(const std::string& name);  // -1 when unknown
// Non-zero: drivers print register errors.
extern int gRTAudioVerbose;

// Installed by the firmware before audio init: makes the codec for a
// hardware id (null when the id has no codec).
using CodecFactory = std::function<AudioCodec*(int hardwareId)>;
void Bela_setCodecFactory(CodecFactory factory);

namespace host {
// The codec of a hardware id through the installed factory (null without one).
AudioCodec* makeCodec(int hardwareId);
// True when a codec's port configuration is one the host's audio port runs:
// 8 slots of 32 bits, 16-bit data, bit delay 1, serializers {0} in, {2} out.
bool mcaspConfigSupported(const McaspConfig& config);
}  // namespace host
