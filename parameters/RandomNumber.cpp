#include "parameters/RandomNumber.h"

#include "dsp/Random.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr float kMinWalkRate = 0.05f;  // slowest walk: a step every 20 blocks
constexpr float kWalkScale = 0.1f;
constexpr double kHalfPi = 1.5707963267948966;
}  // namespace

RandomNumber::RandomNumber(uint32_t channelCount, const std::string& targetName, const std::string& targetGroupName)
    : Modulator(channelCount, targetName, targetGroupName),
      walking("walking", ParameterFloat::Percent, XYMorph | Stored | PerChannel, 0.0f),
      smoothing("smoothing", ParameterFloat::Hertz, XYMorph | Stored | PerChannel, 1000.0f, 0.001f, 1000.0f),
      randomValues(channelCount, 0.0f),
      smoothers(channelCount) {
    type = 3;
    parameterGroup.setName(modulatorTypeName(type));
    controls[1] = &smoothing;
    controls[0] = &walking;
    trig.setValue(kTrigNote, false);
    parameterGroup.add(&walking);
    parameterGroup.add(&smoothing);
    for (float& v : randomValues)
        v = DSP::noise.next();
    range.setChoices({"normal", "positive", "negative"}, -1, false);
}

float RandomNumber::process(uint32_t channel, bool trigA, bool trigB) {
    float& value = randomValues[channel];
    if (_triggered(trigA, trigB)) {
        // A jump wraps around the range; the walk below clamps instead.
        float r = value + DSP::noise.next();
        if (r > 1.0f)
            r -= 2.0f;
        else if (r < -1.0f)
            r += 2.0f;
        value = r;
    }
    const float w = walking.getModulated(channel, trigA, trigB, 0.0f);
    const float q = w * w;
    const uint32_t period = uint32_t(1.0f / std::max(q, kMinWalkRate));
    if (storeCounts[channel] % period == 0) {
        const float n = DSP::noise.next();
        // A random sign with a size of about 0.6 to 1.
        const double step = double(n) / (std::fabs(std::sin(double(n) * kHalfPi)) + 0.0001);
        value = std::clamp(float(double(value) + step * double(q) * double(kWalkScale)), -1.0f, 1.0f);
    }
    OnePoleState& smoother = smoothers[channel];
    smoother.setCutoff(smoothing.getModulated(channel, trigA, trigB, 0.0f));
    float y = smoother.step(value);
    switch (range.value.load(std::memory_order_relaxed)) {
    case Positive:
        y = std::fabs(y);
        break;
    case Negative:
        y = -std::fabs(y);
        break;
    default:
        break;
    }
    storeOutput(channel, y);
    return y * amount.getModulated(channel, trigA, trigB, 0.0f);
}
