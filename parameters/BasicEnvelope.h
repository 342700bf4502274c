// Attack-decay envelope per voice channel ("AD env"): a trigger restarts the
// channel at 0, it rises over the attack, falls over the decay and rests at 0;
// each trigger also draws the channel's polarity from "range".
#pragma once

#include "dsp/AHDEnvelope.h"
#include "parameters/Modulator.h"
#include "parameters/ParameterFloat.h"

#include <vector>

class BasicEnvelope : public Modulator {
public:
    enum Polarity : int32_t { Positive = 0, Negative = 1, PosNeg = 2, RandomFactor = 3 };

    BasicEnvelope(uint32_t channelCount, const std::string& targetName, const std::string& targetGroupName);

    float process(uint32_t channel, bool trigA, bool trigB) override;

    const float maxTime = 60000.0f;  // ms, both times
    ParameterFloat attack;
    ParameterFloat decay;
    std::vector<AHDEnvelope> envelopes;
    std::vector<float> polarity;

private:
    float _drawPolarity() const;
};
