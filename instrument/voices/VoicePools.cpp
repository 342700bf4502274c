// The one list of engine voice classes: an engine joins the voice manager by
// one line here.
#include "instrument/voices/VoicePool.h"

#include "engines/SynthEngineType.h"
#include "engines/subtractive/SubtractiveVoice.h"

std::unique_ptr<VoicePool> makeVoicePool(uint32_t engineType) {
    switch (engineType) {
    case EngineSubtractive:
        return std::make_unique<VoicePoolOf<SubtractiveVoice>>();
    default:
        return nullptr;
    }
}
