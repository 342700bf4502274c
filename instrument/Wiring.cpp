#include "instrument/Wiring.h"

#include "instrument/SampleLibrary.h"

#include "effects/EffectChain.h"
#include "engines/SynthVoiceCommon.h"
#include "instrument/InstrumentState.h"
#include "instrument/MainClock.h"
#include "instrument/files/FileTargets.h"
#include "instrument/track/Track.h"
#include "instrument/voices/VoiceManager.h"
#include "sequencing/Sequencer.h"

#include <array>

namespace {

// A track as the file layer sees it.
class TrackFilesOf final : public TrackFiles {
public:
    explicit TrackFilesOf(Track& track) : track_(track) {}

    std::string name() const override { return track_.nameParameter.toString(); }
    ParameterGroup& trackGroup() override { return track_.parameterGroup; }
    ModulationManager* modulationManager() override { return &track_.modulation; }
    ParameterGroup& sequencerGroup() override { return track_.sequencer->group; }
    void resetSequencer() override { track_.resetSequencer(); }
    void selectPattern(int32_t pattern, bool force) override { track_.selectPattern(pattern, force); }
    int32_t synthesisIndex() const override { return track_.synthesis.value.load(std::memory_order_acquire); }
    std::string synthesisName() const override { return track_.synthesis.toString(); }
    bool setSynthesisName(const std::string& text) override { return track_.synthesis.setFromString(text); }
    void applySynthesis() override { track_.applySynthesis(); }
    ParameterGroup& engineGroup() override { return track_.currentEngine()->parameters; }
    void refreshEnvSlot() override { track_.currentEngine()->refreshEnvSlot(); }
    void refreshSlotChoices() override { track_.refreshSlotChoices(); }
    void resetSynthesis() override { track_.resetSynthesis(true); }
    uint32_t engineType() const override { return track_.currentEngine()->engineType; }
    EffectChain& effectChain() override { return track_.effectChain; }
    void resetEffects(bool withDefault) override { track_.resetEffects(withDefault); }
    int32_t defaultEffectType() const override { return int32_t(track_.defaultEffectType()); }

private:
    Track& track_;
};

}  // namespace

void wireInstrument() {
    static std::array<TrackFilesOf, 5> trackFiles{TrackFilesOf(DSP::track[0]), TrackFilesOf(DSP::track[1]),
                                                  TrackFilesOf(DSP::track[2]), TrackFilesOf(DSP::track[3]),
                                                  TrackFilesOf(DSP::track[4])};
    FileTargets& files = fileTargets();
    for (size_t i = 0; i < trackFiles.size(); ++i)
        files.tracks[i] = &trackFiles[i];
    InstrumentState& state = Driver::instrument;
    files.clock = &DSP::mainClock.parameterGroup;
    files.project = &state.projectGroup;
    files.config = &state.configGroup;
    files.runApplyCallbacks = [&state] { state.settingsPage.runApplyCallbacks(); };
    files.outputChain = &DSP::voiceManager.masterChain;
    files.resetOutputFX = [] { DSP::voiceManager.resetOutputFX(); };

    DSP::mainClock.setIdleCounter(&state.idleCounter);
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

AudioRecorder* activeRecorder() { return DSP::voiceManager.recorder(); }
