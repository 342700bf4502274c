// A random value per voice channel ("random"): it jumps on each trigger,
// drifts by a random walk whose speed "walking" sets, and is smoothed before
// the range and "amount" apply.
#pragma once

#include "parameters/Modulator.h"
#include "parameters/OnePoleState.h"
#include "parameters/ParameterFloat.h"

#include <vector>

class RandomNumber : public Modulator {
public:
    enum Range : int32_t { Normal = 0, Positive = 1, Negative = 2 };

    RandomNumber(uint32_t channelCount, const std::string& targetName, const std::string& targetGroupName);

    float process(uint32_t channel, bool trigA, bool trigB) override;

    ParameterFloat walking;
    ParameterFloat smoothing;
    std::vector<float> randomValues;  // unsmoothed, within [-1, 1]
    std::vector<OnePoleState> smoothers;
};
