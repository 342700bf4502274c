#include "instrument/Wiring.h"

#include "instrument/SampleLibrary.h"

#include "instrument/InstrumentState.h"
#include "instrument/MainClock.h"
#include "instrument/files/FileTargets.h"
#include "instrument/track/Track.h"
#include "instrument/voices/VoiceManager.h"
#include "samples/AudioResourcePool.h"
#include "samples/DiskRecorder.h"
#include "samples/SamplePreview.h"

void wireInstrument() {
    // One set of file targets for the instrument and its tests: the one
    // that holds a track busy while a part loads into it.
    fileTargets() = instrumentFileTargets();

    DSP::mainClock.setIdleCounter(&Driver::instrument.idleCounter);
    for (auto& track : DSP::track)
        track.setNoteScheduler(&DSP::voiceManager);
}

void attachTrackToVoices(unsigned index) {
    Track& track = DSP::track[index];
    DSP::voiceManager.attachTrack(index, track.currentEngine(), &track.effectChain,
                                  {&track.inputRouting[0], &track.inputRouting[1], &track.inputRouting[2],
                                   &track.inputRouting[3]});
}

void setupWorkers() {
    // The sample pool's worker, the previewer's loader and the disk
    // recorder's writer, then the grain look-up that reads the pool.
    setupSampleLibrary();
    DSP::voiceManager.setupGrainLookup();
}

void releaseWorkers() {
    DSP::voiceManager.releaseGrainLookup();
    Driver::audioRecorder.releaseTask();
    DSP::samplePreviewer.releaseTask();
    DSP::audioPool.releaseTask();
}

AudioRecorder* activeRecorder() { return DSP::voiceManager.recorder(); }
