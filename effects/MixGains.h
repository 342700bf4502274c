// The equal-power dry/wet pair of the effects: x <= 0 all dry, x >= 1 all wet.
#pragma once

#include <cmath>

struct MixGains {
    float dry = 1.0f;
    float wet = 0.0f;

    static MixGains equalPower(float x) {
        if (!(x > 0.0f))
            return {1.0f, 0.0f};
        if (x >= 1.0f)
            return {0.0f, 1.0f};
        return {std::sqrt(1.0f - x), std::sqrt(x)};
    }
};
