// Makes an effect of a type: a table from type to constructor, so a new
// effect class is one line there.
#pragma once

#include "effects/AudioEffect.h"

#include <memory>

// Null for a type without an effect class (unknown, or not in the table).
// Allocation failures come back as null too, with a console line.
std::shared_ptr<AudioEffect> createEffect(AudioEffectType type);
// Whether the table has a class for the type.
bool effectTypeAvailable(AudioEffectType type);
