// The five tracks as the voice manager sees them: engine, chain, input routes.
#include "instrument/voices/VoiceManagerTracks.h"

#include "instrument/track/Track.h"

void attachTracks(VoiceManager& voices, Track* tracks) {
    for (uint32_t t = 0; t < VoiceManager::kTracks; ++t) {
        Track& track = tracks[t];
        voices.attachTrack(t, track.currentEngine(), &track.effectChain,
                           {&track.inputRouting[0], &track.inputRouting[1], &track.inputRouting[2],
                            &track.inputRouting[3]},
                           [](const void* owner) { return static_cast<const Track*>(owner)->isBusy(); }, &track);
    }
}
