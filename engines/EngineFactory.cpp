#include "engines/EngineFactory.h"

#include "engines/SynthEngineType.h"
#include "engines/additive/AdditiveCommon.h"
#include "engines/additive/AdditiveVoice.h"
#include "engines/fm/FMCommon.h"
#include "engines/fm/FMVoice.h"
#include "engines/modular/ModularCommon.h"
#include "engines/modular/ModularVoice.h"
#include "engines/none/NoneCommon.h"
#include "engines/resonator/ResonatorCommon.h"
#include "engines/resonator/ResonatorVoice.h"
#include "engines/subtractive/SubtractiveCommon.h"
#include "engines/subtractive/SubtractiveVoice.h"

std::unique_ptr<SynthVoiceCommon> makeEngineCommon(uint32_t type) {
    switch (type) {
    case EngineNone: return std::make_unique<NoneCommon>();
    case EngineFM: return std::make_unique<FMCommon>();
    case EngineAdditive: return std::make_unique<AdditiveCommon>();
    case EngineResonator: return std::make_unique<ResonatorCommon>();
    case EngineSubtractive: return std::make_unique<SubtractiveCommon>();
    case EngineModular: return std::make_unique<ModularCommon>();
    default: return nullptr;
    }
}

std::unique_ptr<SynthVoice> makeEngineVoice(uint32_t type) {
    switch (type) {
    case EngineFM: return std::make_unique<FMVoice>();
    case EngineAdditive: return std::make_unique<AdditiveVoice>();
    case EngineResonator: return std::make_unique<ResonatorVoice>();
    case EngineSubtractive: return std::make_unique<SubtractiveVoice>();
    case EngineModular: return std::make_unique<ModularVoice>();
    default: return nullptr;
    }
}
