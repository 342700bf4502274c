#include "parameters/ChannelOffset.h"

namespace {
constexpr float kChannelStep = 0.2857143f;  // 2/7: eight channels span 0..2
}

ChannelOffset::ChannelOffset(uint32_t channelCount, const std::string& targetName,
                             const std::string& targetGroupName)
    : Modulator(channelCount, targetName, targetGroupName) {
    type = 4;
    parameterGroup.setName(modulatorTypeName(type));
    range.setChoices({"normal", "invert", "positive", "negative"}, Positive, false);
}

float ChannelOffset::process(uint32_t channel, bool trigA, bool trigB) {
    const float s = float(channel) * kChannelStep;
    float v;
    switch (range.value.load(std::memory_order_relaxed)) {
    case Invert:
        v = 1.0f - s;
        break;
    case Positive:
        v = s * 0.5f;
        break;
    case Negative:
        v = (s - 2.0f) * 0.5f;
        break;
    default:
        v = s - 1.0f;
        break;
    }
    storeOutput(channel, v);
    return v * amount.getModulated(channel, trigA, trigB, 0.0f);
}
