// Where a granular voice gets its grains: it asks for the sample-list hops
// near a point of the feature plane and later draws one of the answers. The
// voice manager's grain look-up answers in the instrument; tests answer
// with doubles.
#pragma once

#include "samples/AudioSampleGroup.h"

#include <cstdint>
#include <span>
#include <string_view>

class GrainSource {
public:
    virtual ~GrainSource() = default;
    // Audio thread; the source decides whether the question is new.
    virtual void requestGrains(std::string_view list, std::span<const float> point, uint32_t voice, float radius) = 0;
    // Audio thread: one of the voice's hits; empty when it has none.
    virtual FeatureHit randomGrainEntry(uint32_t voice) = 0;
};

// The voice manager's look-up (defined with the voice manager).
GrainSource& voiceManagerGrains();
