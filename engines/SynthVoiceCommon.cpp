#include "engines/SynthVoiceCommon.h"

namespace {
constexpr ParameterFlags kPerVoice = XYMorph | Stored | PerChannel;
}  // namespace

SynthVoiceCommon::SynthVoiceCommon()
    : trackVolume("track volume", ParameterFloat::Decibels, Smoothed, 0.0f, -96.0f, 0.0f),
      auxSend("aux send", ParameterFloat::Decibels, Smoothed, 0.0f, -96.0f, 0.0f),
      detune("detune", ParameterFloat::Percent, kPerVoice, 0.0f, 0.0f, 1.0f),
      slide("slide", ParameterFloat::Milliseconds, kPerVoice, 50.0f, 0.0f, 5000.0f),
      polyphony("polyphony", ParameterInt::PlainInt, Stored | MultiSlot, 1, 1, 8),
      unison("unison", ParameterInt::PlainInt, Stored, 1, 1, 8),
      oscRetrig("osc retrig", ParameterInt::ChoiceMode, Stored, 0),
      envAttack{{"1 attack", ParameterFloat::Milliseconds, kPerVoice, 10.0f, 0.0f, 60000.0f},
                {"2 attack", ParameterFloat::Milliseconds, kPerVoice, 10.0f, 0.0f, 60000.0f},
                {"3 attack", ParameterFloat::Milliseconds, kPerVoice, 10.0f, 0.0f, 60000.0f},
                {"4 attack", ParameterFloat::Milliseconds, kPerVoice, 10.0f, 0.0f, 60000.0f}},
      envHold{{"1 hold", ParameterFloat::Milliseconds, kPerVoice, 0.0f, 0.0f, 60000.0f},
              {"2 hold", ParameterFloat::Milliseconds, kPerVoice, 0.0f, 0.0f, 60000.0f},
              {"3 hold", ParameterFloat::Milliseconds, kPerVoice, 0.0f, 0.0f, 60000.0f},
              {"4 hold", ParameterFloat::Milliseconds, kPerVoice, 0.0f, 0.0f, 60000.0f}},
      envDecay{{"1 decay", ParameterFloat::Milliseconds, kPerVoice, 200.0f, 0.0f, 60000.0f},
               {"2 decay", ParameterFloat::Milliseconds, kPerVoice, 200.0f, 0.0f, 60000.0f},
               {"3 decay", ParameterFloat::Milliseconds, kPerVoice, 200.0f, 0.0f, 60000.0f},
               {"4 decay", ParameterFloat::Milliseconds, kPerVoice, 200.0f, 0.0f, 60000.0f}} {
    parameters.add(&trackVolume);
    parameters.add(&auxSend);
    parameters.add(&detune);
    parameters.add(&slide);
    parameters.add(&polyphony);
    parameters.add(&unison);
    parameters.add(&oscRetrig);
    for (auto& p : envAttack) parameters.add(&p);
    for (auto& p : envHold) parameters.add(&p);
    for (auto& p : envDecay) parameters.add(&p);
    settingsGroup.parameters = {&unison, &oscRetrig};
}

SynthVoiceCommon::~SynthVoiceCommon() = default;

void SynthVoiceCommon::selectEnvSlot(uint32_t slot) {
    selectedEnvSlot = slot;
    const bool used = slot < envSlots() && slot < kEnvelopeBanks;
    exposedParameters[kEnvAttackPlace] = used ? &envAttack[slot] : nullptr;
    exposedParameters[kEnvAttackPlace + 1] = used ? &envHold[slot] : nullptr;
    exposedParameters[kEnvAttackPlace + 2] = used ? &envDecay[slot] : nullptr;
}

uint32_t SynthVoiceCommon::envInfo(std::array<EnvelopeInfo, kEnvelopeBanks>& out) {
    uint32_t n = envSlots();
    if (n > kEnvelopeBanks) n = kEnvelopeBanks;
    for (uint32_t i = 0; i < n; ++i)
        out[i] = EnvelopeInfo{envAttack[i].getValue(), envHold[i].getValue(), envDecay[i].getValue(), 0.0f};
    return n;
}

void SynthVoiceCommon::clearOverrides(int32_t index) {
    if (index == -1) {
        parameters.clearOverrides();
        return;
    }
    if (index < 0 || uint32_t(index) >= kExposed) return;
    Parameter* p = exposedParameters[uint32_t(index)];
    if (p && p->xyMorph) p->clearOverride();
}
