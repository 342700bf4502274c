// The one list of engine voice classes: an engine joins the voice manager by
// one line here.
#include "instrument/voices/VoicePool.h"

#include "engines/SynthEngineType.h"
#include "engines/additive/AdditiveVoice.h"
#include "engines/fm/FMVoice.h"
#include "engines/modular/ModularVoice.h"
#include "engines/resonator/ResonatorVoice.h"
#include "engines/subtractive/SubtractiveVoice.h"

std::unique_ptr<VoicePool> makeVoicePool(uint32_t engineType) {
    switch (engineType) {
    case EngineFM:
        return std::make_unique<VoicePoolOf<FMVoice>>();
    case EngineAdditive:
        return std::make_unique<VoicePoolOf<AdditiveVoice>>();
    case EngineResonator:
        return std::make_unique<VoicePoolOf<ResonatorVoice>>();
    case EngineSubtractive:
        return std::make_unique<VoicePoolOf<SubtractiveVoice>>();
    case EngineModular:
        return std::make_unique<VoicePoolOf<ModularVoice>>();
    default:
        return nullptr;
    }
}
