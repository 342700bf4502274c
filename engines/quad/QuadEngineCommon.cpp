#include "engines/quad/QuadEngineCommon.h"

#include "engines/SynthEngineType.h"
#include "gui/MonoGFX.h"
#include "samples/SamplePool.h"

namespace {
// Envelope k of sub-engine k + 1: attack, hold, decay in ms.
constexpr float kEnvelopeDefaults[4][3] = {{0, 100, 200}, {0, 50, 200}, {0, 0, 100}, {0, 0, 50}};
constexpr int32_t kMaxUnison = 2;
}  // namespace

QuadEngineCommon::QuadEngineCommon()
    : typeParameters{ParameterInt("1 type", ParameterInt::ChoiceMode, Stored, 0),
                     ParameterInt("2 type", ParameterInt::ChoiceMode, Stored, 0),
                     ParameterInt("3 type", ParameterInt::ChoiceMode, Stored, 0),
                     ParameterInt("4 type", ParameterInt::ChoiceMode, Stored, 0)} {
    engineType = EngineQuad;
    parameters.setName(engineTypeName(EngineQuad));
    settingsGroup.setName(engineTypeName(EngineQuad));

    for (uint32_t i = 0; i < kSubEngines; ++i) {
        MiniEngine& s = subEngines[i];
        typeParameters[i].setChoices(offeredMiniEngineNames(), int(i));
        parameters.add(&typeParameters[i]);
        for (Parameter* p : {static_cast<Parameter*>(&s.volume), static_cast<Parameter*>(&s.freq),
                             static_cast<Parameter*>(&s.rate)})
            parameters.add(p);
        const auto all = s.all();
        for (uint32_t k = 3; k < MiniEngine::kParameters; ++k) parameters.add(all[k]);
        appliedTypes[i].store(0, std::memory_order_relaxed);
    }
    mapEncoders();
    for (uint32_t i = 12; i < kExposed; ++i) exposedParameters[i] = nullptr;
    for (uint32_t k = 0; k < kEnvelopeBanks; ++k) {
        envAttack[k].setDefault(kEnvelopeDefaults[k][0]);
        envHold[k].setDefault(kEnvelopeDefaults[k][1]);
        envDecay[k].setDefault(kEnvelopeDefaults[k][2]);
    }
    // On from power-on and after every reset (a project load resets first).
    oscRetrig.defaultValue = 1;
    oscRetrig.setValue(1, false);
    unison.setMax(kMaxUnison);
    envSlotNames = {"env 1", "env 2", "env 3", "env 4"};
    selectEnvSlot(0);
}

QuadEngineCommon::~QuadEngineCommon() {
    SamplePool* pool = DSP::samplePool.load(std::memory_order_acquire);
    if (!pool) return;
    for (MiniEngine& s : subEngines) {
        pool->unregisterListParameter(&s.samples);
        pool->unregisterListParameter(&s.samples2);
    }
}

void QuadEngineCommon::registerSampleLists() {
    SamplePool* pool = DSP::samplePool.load(std::memory_order_acquire);
    if (!pool) return;
    for (MiniEngine& s : subEngines) {
        pool->registerListParameter(&s.samples);
        pool->registerListParameter(&s.samples2);
    }
}

void QuadEngineCommon::mapEncoders() {
    for (uint32_t row = 0; row < 3; ++row)
        for (uint32_t c = 0; c < kSubEngines; ++c)
            exposedParameters[4 * row + c] = subEngines[c].pageParameters[row].load(std::memory_order_acquire);
}

void QuadEngineCommon::refreshEnvSlot() {
    for (uint32_t i = 0; i < kSubEngines; ++i)
        subEngines[i].setTypeByName(typeParameters[i].choiceName(typeParameters[i].values[typeParameters[i].activeSlot]));
    mapEncoders();
}

void QuadEngineCommon::handleAction(int32_t key, int32_t event) {
    (void)event;
    if (key >= kFirstTypeAction && key < kFirstTypeAction + int32_t(kSubEngines))
        typeParameters[uint32_t(key - kFirstTypeAction)].openEditor();
}

int32_t QuadEngineCommon::_typeValue(uint32_t i) const {
    const ParameterInt& p = typeParameters[i];
    const int32_t v = p.values[p.activeSlot];
    const auto list = p.getChoices();
    if (p.displayMode == ParameterInt::ChoiceMode && !list->values.empty())
        return v >= 0 && size_t(v) < list->values.size() ? list->values[size_t(v)] : v;
    return v;
}

void QuadEngineCommon::drawOverview(MonoGFX& gfx, uint32_t pageA, uint32_t pageB, int x, int y) {
    (void)pageA;
    bool same = true;
    int32_t now[kSubEngines];
    for (uint32_t i = 0; i < kSubEngines; ++i) {
        now[i] = _typeValue(i);
        same = same && now[i] == appliedTypes[i].load(std::memory_order_relaxed);
    }
    if (!same) {
        refreshEnvSlot();
        for (uint32_t i = 0; i < kSubEngines; ++i) appliedTypes[i].store(now[i], std::memory_order_relaxed);
    }
    const uint32_t highlighted = pageB <= kLastEncoderIndex ? (pageB & 3) : selectedEnvSlot;

    gfx.setFont(&font_compact, 1, 0);
    for (uint32_t i = 0; i < kSubEngines; ++i) {
        gfx.setColour(i == highlighted ? 15 : 8);
        const std::string text = typeParameters[i].choiceName(typeParameters[i].values[typeParameters[i].activeSlot]);
        const int row = y + 1 + 11 * int(i);
        gfx.drawIcon(x + 1, row, miniEngineIcon(miniEngineTypeFromName(text)));
        gfx.drawText(x + 11, row, text);
    }
}
