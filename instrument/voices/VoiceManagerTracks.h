// Hands the five tracks to the voice manager: each track's engine at that
// moment, its effect chain and its input routes. Before audio runs.
#pragma once

#include "instrument/voices/VoiceManager.h"

class Track;

void attachTracks(VoiceManager& voices, Track* tracks);
