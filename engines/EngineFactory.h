// Builds a track's engine object and the voices of an engine by type.
#pragma once

#include "engines/SynthVoice.h"
#include "engines/SynthVoiceCommon.h"

#include <cstdint>
#include <memory>

// Null for an engine type this firmware does not build (yet).
std::unique_ptr<SynthVoiceCommon> makeEngineCommon(uint32_t type);
// Null for the "none" engine, which has no voices, and for unbuilt types.
std::unique_ptr<SynthVoice> makeEngineVoice(uint32_t type);
