// The granular voices' way to the voice manager's grain look-up.
#include "engines/granular/GrainSource.h"
#include "instrument/voices/VoiceManager.h"

namespace {
class VoiceManagerGrains : public GrainSource {
public:
    void requestGrains(std::string_view list, std::span<const float> point, uint32_t voice, float radius) override {
        DSP::voiceManager.requestGrains(list, point, voice, radius);
    }
    FeatureHit randomGrainEntry(uint32_t voice) override { return DSP::voiceManager.randomGrainEntry(voice); }
};
}  // namespace

GrainSource& voiceManagerGrains() {
    static VoiceManagerGrains grains;
    return grains;
}
