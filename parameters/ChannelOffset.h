// A fixed value per voice channel ("offset") that spreads the channels
// evenly over a range, scaled by "amount"; triggers play no part.
#pragma once

#include "parameters/Modulator.h"

class ChannelOffset : public Modulator {
public:
    enum Range : int32_t { Normal = 0, Invert = 1, Positive = 2, Negative = 3 };

    ChannelOffset(uint32_t channelCount, const std::string& targetName, const std::string& targetGroupName);

    float process(uint32_t channel, bool trigA, bool trigB) override;
};
