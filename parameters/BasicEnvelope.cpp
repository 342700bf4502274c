#include "parameters/BasicEnvelope.h"

#include "dsp/Random.h"

BasicEnvelope::BasicEnvelope(uint32_t channelCount, const std::string& targetName,
                             const std::string& targetGroupName)
    : Modulator(channelCount, targetName, targetGroupName),
      attack("attack", ParameterFloat::Milliseconds, XYMorph | Stored | PerChannel, 10.0f, 0.0f, maxTime),
      decay("decay", ParameterFloat::Milliseconds, XYMorph | Stored | PerChannel, 200.0f, 0.0f, maxTime),
      envelopes(channelCount),
      polarity(channelCount, 0.0f) {
    type = 2;
    parameterGroup.setName(modulatorTypeName(type));
    controls[0] = &attack;
    controls[1] = &decay;
    parameterGroup.add(&attack);
    parameterGroup.add(&decay);
    // Triggers on notes from the start; the default ("-") stays for a reset.
    trig.setValue(kTrigNote, false);
    range.setChoices({"positive", "negative", "pos+neg", "random"}, -1, false);
}

float BasicEnvelope::_drawPolarity() const {
    switch (range.value.load(std::memory_order_relaxed)) {
    case Negative:
        return -1.0f;
    case PosNeg:
        return DSP::random.nextHigh() % 100 < 50 ? 1.0f : -1.0f;
    case RandomFactor:
        return DSP::noise.next();
    default:
        return 1.0f;
    }
}

float BasicEnvelope::process(uint32_t channel, bool trigA, bool trigB) {
    AHDEnvelope& envelope = envelopes[channel];
    const float a = attack.getModulated(channel, trigA, trigB, 0.0f);
    const float d = decay.getModulated(channel, trigA, trigB, 0.0f);
    // Re-aimed every block, so a modulated time bends the running segment.
    envelope.setTimes(a, 0.0f, d, 0.0f);
    if (_triggered(trigA, trigB)) {
        envelope.trigger(1.0f, 0.0f);
        polarity[channel] = _drawPolarity();
    }
    envelope.tick();
    const float v = envelope.advance() * polarity[channel];
    storeOutput(channel, v);
    return v * amount.getModulated(channel, trigA, trigB, 0.0f);
}
