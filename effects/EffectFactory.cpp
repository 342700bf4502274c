#include "effects/EffectFactory.h"

#include "effects/AmplitudeModFX.h"
#include "effects/BandSplitFX.h"
#include "effects/CirclePanFX.h"
#include "effects/CompressorFX.h"
#include "effects/DegradeFX.h"
#include "effects/DelayFX.h"
#include "effects/EqualizerFX.h"
#include "effects/FadeDelayFX.h"
#include "effects/LimiterFX.h"
#include "effects/MonoSumFX.h"
#include "effects/ReRouteFX.h"
#include "effects/ReverbFX.h"
#include "effects/SaturationFX.h"
#include "effects/StateVariableFilterFX.h"
#include "effects/StereoPanFX.h"

#include <cstdio>
#include <new>

namespace {

using Constructor = std::shared_ptr<AudioEffect> (*)();

template <typename T>
std::shared_ptr<AudioEffect> construct() {
    // make_shared honours over-aligned classes (vector state) by itself.
    return std::make_shared<T>();
}

struct FactoryEntry {
    AudioEffectType type;
    Constructor make;
};

constexpr FactoryEntry kFactory[] = {
    {AudioEffectType::Mono, &construct<MonoSumFX>},
    {AudioEffectType::Circle, &construct<CirclePanFX>},
    {AudioEffectType::Stereo, &construct<StereoPanFX>},
    {AudioEffectType::ReRoute, &construct<ReRouteFX>},
    {AudioEffectType::Filter, &construct<StateVariableFilterFX>},
    {AudioEffectType::Equalizer, &construct<EqualizerFX>},
    {AudioEffectType::Multiband, &construct<BandSplitFX>},
    {AudioEffectType::Delay, &construct<DelayFX>},
    {AudioEffectType::FadeDelay, &construct<FadeDelayFX>},
    {AudioEffectType::Reverb, &construct<ReverbFX>},
    {AudioEffectType::Drive, &construct<SaturationFX>},
    {AudioEffectType::AmpMod, &construct<AmplitudeModFX>},
    {AudioEffectType::Compressor, &construct<CompressorFX>},
    {AudioEffectType::Limiter, &construct<LimiterFX>},
    {AudioEffectType::Degrade, &construct<DegradeFX>},
};

Constructor _constructorOf(AudioEffectType type) {
    for (const FactoryEntry& entry : kFactory)
        if (entry.type == type)
            return entry.make;
    return nullptr;
}

}  // namespace

bool effectTypeAvailable(AudioEffectType type) { return _constructorOf(type) != nullptr; }

std::shared_ptr<AudioEffect> createEffect(AudioEffectType type) {
    // An unknown type makes nothing, quietly: the callers say what it means to them.
    Constructor make = _constructorOf(type);
    if (!make)
        return nullptr;
    try {
        return make();
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "EffectChain: out of memory creating [%s]\n", effectTypeName(type).c_str());
        return nullptr;
    }
}
