#include "engines/quad/MiniEngine.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {
constexpr ParameterFlags kAllFour = XYMorph | Stored | Smoothed | PerChannel;
constexpr ParameterFlags kPerVoice = XYMorph | Stored | PerChannel;

struct KindName {
    const char* name;
    MiniEngineType kind;
};
// Every kind a name selects; the offered choices leave "physical" out.
constexpr KindName kKinds[] = {{"kick", MiniKick},      {"snare", MiniSnare},           {"ratchet", MiniRatchet},
                               {"metal", MiniMetal},    {"sample", MiniSample},         {"2xsample", MiniDoubleSample},
                               {"sawstack", MiniSawStack}, {"physical", MiniPhysical}, {"FM", MiniFM}};
constexpr uint32_t kIcons[kMiniEngineTypes] = {45, 45, 46, 47, 48, 35, 35, 49, 50, 52};
constexpr uint32_t kDefaultIcon = 45;
}  // namespace

MiniEngineType miniEngineTypeFromName(std::string_view name) {
    for (const KindName& k : kKinds)
        if (name == k.name) return k.kind;
    return MiniNone;
}

const std::vector<std::string>& offeredMiniEngineNames() {
    static const std::vector<std::string> names = {"kick",   "snare",    "ratchet",  "metal",
                                                   "sample", "2xsample", "sawstack", "FM"};
    return names;
}

uint32_t miniEngineIcon(uint32_t kind) { return kind >= 2 && kind < kMiniEngineTypes ? kIcons[kind] : kDefaultIcon; }

MiniEngine::MiniEngine(uint32_t slot)
    : volume("volume", ParameterFloat::Decibels, kAllFour, 0.0f, -96.0f, 18.0f),
      rate("rate", ParameterFraction::Ratio, kPerVoice, 1.0f, 48.0f, 48.0f),
      freq("freq", ParameterFloat::Hertz, kAllFour, 500.0f, 20.0f, 19000.0f),
      detune("detune", ParameterFloat::Percent, kPerVoice, 0.3f, 0.0f, 1.0f),
      snap("snap", ParameterFloat::Percent, kAllFour, 0.3f, 0.0f, 1.0f),
      snapDecay("snap dec", ParameterFloat::Milliseconds, kPerVoice, 100.0f, 0.0f, 2000.0f),
      toneNoise("tone/nse", ParameterFloat::Percent, kAllFour, 0.5f, 0.0f, 1.0f),
      noiseDecay("nse dec", ParameterFloat::Milliseconds, kPerVoice, 300.0f, 0.0f, 2000.0f),
      ratchet("ratchet", ParameterFloat::Plain, kAllFour, 2.5f, 1.0f, 5.0f),
      color("color", ParameterFloat::Percent, kAllFour, 0.0f, 0.0f, 1.0f),
      samples("samples", ParameterInt::ChoiceMode, kPerVoice, 0),
      samples2("samples 2", ParameterInt::ChoiceMode, kPerVoice, 0),
      feedback("feedback", ParameterFloat::Percent, kAllFour, 0.8f, 0.0f, 1.0f),
      damping("damp.", ParameterFloat::Percent, kAllFour, 0.0f, 0.0f, 1.0f),
      polarity("polarity", ParameterInt::ChoiceMode, Stored, 0),
      ratio("ratio", ParameterFraction::Ratio, kPerVoice, 1.0f, 48.0f, 48.0f),
      fmAmount("FM", ParameterFloat::Decibels, kAllFour, -24.0f, -96.0f, 18.0f),
      fmEnvelope("FM envelope", ParameterInt::ChoiceMode, Stored, 0),
      slotIndex(slot & 3) {
    polarity.setChoices({"string", "tube"});
    fmEnvelope.setChoices({"sustain", "decay"});
    // The pool fills the real lists once registered.
    samples.setChoices({"none"});
    samples2.setChoices({"none"});
    static constexpr MiniEngineType kDefaults[4] = {MiniKick, MiniSnare, MiniRatchet, MiniMetal};
    setType(kDefaults[slotIndex]);
    _prefixNames();
}

std::array<Parameter*, MiniEngine::kParameters> MiniEngine::all() {
    return {&volume, &rate,    &freq,     &detune,   &snap,     &snapDecay, &toneNoise, &noiseDecay, &ratchet,
            &color,  &samples, &samples2, &feedback, &damping, &polarity,  &ratio,     &fmAmount,   &fmEnvelope};
}

void MiniEngine::_prefixNames() {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%u ", unsigned(slotIndex + 1));
    for (Parameter* p : all()) p->name = prefix + p->name;
}

void MiniEngine::setType(uint32_t kind) {
    if (kind >= kMiniEngineTypes) kind = MiniNone;
    Parameter* places[kPageSlots] = {&volume, nullptr, nullptr, nullptr};
    switch (MiniEngineType(kind)) {
    case MiniNone: places[0] = nullptr; break;
    case MiniKick: places[1] = &snap, places[2] = &snapDecay; break;
    case MiniSnare: places[1] = &toneNoise, places[2] = &noiseDecay; break;
    case MiniRatchet: places[1] = &ratchet, places[2] = &freq; break;
    case MiniMetal: places[1] = &color, places[2] = &detune; break;
    case MiniSample: places[1] = &rate, places[2] = &samples; break;
    case MiniDoubleSample: places[1] = &samples, places[2] = &samples2; break;
    case MiniSawStack: places[1] = &freq, places[2] = &detune; break;
    case MiniPhysical: places[1] = &damping, places[2] = &feedback, places[3] = &polarity; break;
    case MiniFM: places[1] = &ratio, places[2] = &fmAmount, places[3] = &fmEnvelope; break;
    }
    type.store(kind, std::memory_order_release);
    for (uint32_t i = 0; i < kPageSlots; ++i) pageParameters[i].store(places[i], std::memory_order_release);
}

void MiniEngine::setTypeByName(std::string_view name) { setType(miniEngineTypeFromName(name)); }
