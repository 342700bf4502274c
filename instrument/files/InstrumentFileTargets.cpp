// The file layer's view of the instrument's own objects.
#include "gui/FileBrowser.h"
#include "instrument/InstrumentState.h"
#include "instrument/MainClock.h"
#include "instrument/files/FileTargets.h"
#include "instrument/track/Track.h"
#include "instrument/voices/VoiceManager.h"
#include "sequencing/MorphController.h"
#include "samples/AudioResourcePool.h"

#include <memory>
#include <vector>

namespace {

// The sample pool's lists as the file layer sees them.
class PoolGroups : public SampleGroupStore {
public:
    size_t groupCount() const override { return DSP::audioPool.groupCount(); }
    std::vector<std::string> listNames() const override { return DSP::audioPool.listNames(); }
    AudioSampleGroup* getGroup(const std::string& name, bool create) override {
        return DSP::audioPool.getGroup(name, create);
    }
    SampleSource& samples() override { return DSP::audioPool; }
    void reset() override { DSP::audioPool.reset(); }
    void updateListParameters() override { DSP::audioPool.updateListParameters(); }
    void queueTreeRebuilds() override { DSP::audioPool.queueTreeRebuilds(); }
};

class TrackFileAdapter : public TrackFiles {
public:
    explicit TrackFileAdapter(Track& track) : track_(track) {}

    void beginLoad() override { holds_.push_back(std::make_unique<Track::BusySection>(track_)); }
    void endLoad() override {
        if (!holds_.empty())
            holds_.pop_back();
    }
    std::string name() const override { return track_.nameParameter.toString(); }
    ParameterGroup& trackGroup() override { return track_.parameterGroup; }
    ModulationManager* modulationManager() override { return &track_.modulation; }
    ParameterGroup& sequencerGroup() override { return track_.sequencerImpl.group; }
    void resetSequencer() override { track_.resetSequencer(); }
    void selectPattern(int32_t pattern, bool force) override { track_.selectPattern(pattern, force); }
    int32_t synthesisIndex() const override { return track_.synthesis.values[track_.synthesis.activeSlot]; }
    std::string synthesisName() const override { return track_.synthesis.toString(); }
    bool setSynthesisName(const std::string& name) override {
        if (!track_.synthesis.setFromString(name))
            return false;
        track_.synthesis.constrain();  // the published value follows the slot
        return true;
    }
    void applySynthesis() override { track_.applySynthesis(); }
    ParameterGroup& engineGroup() override { return engine().parameters; }
    void refreshEnvSlot() override { engine().refreshEnvSlot(); }
    void refreshSlotChoices() override { track_.refreshSlotChoices(); }
    void resetSynthesis() override { track_.resetSynthesis(true); }
    uint32_t engineType() const override { return engine().engineType; }
    EffectChain& effectChain() override { return track_.effectChain; }
    void resetEffects(bool withDefault) override { track_.resetEffects(withDefault); }
    int32_t defaultEffectType() const override { return int32_t(track_.defaultEffectType()); }

private:
    SynthVoiceCommon& engine() const {
        SynthVoiceCommon* e = track_.currentEngine();
        return e ? *e : track_.noneCommon;
    }

    Track& track_;
    std::vector<std::unique_ptr<Track::BusySection>> holds_;
};

}  // namespace

FileTargets instrumentFileTargets() {
    static std::vector<std::unique_ptr<TrackFileAdapter>> adapters;
    FileTargets targets;
    if (adapters.empty())
        for (Track& track : DSP::track)
            adapters.push_back(std::make_unique<TrackFileAdapter>(track));
    for (size_t i = 0; i < adapters.size() && i < targets.tracks.size(); ++i)
        targets.tracks[i] = adapters[i].get();
    targets.clock = &DSP::mainClock.parameterGroup;
    InstrumentState& state = Driver::instrument;
    targets.project = &state.projectGroup;
    targets.config = &state.configGroup;
    targets.runApplyCallbacks = [] { Driver::instrument.settingsPage.runApplyCallbacks(); };
    targets.outputChain = &DSP::voiceManager.masterChain;
    targets.resetOutputFX = [] { DSP::voiceManager.resetOutputFX(); };
    targets.motion = &DSP::motion;
    // A project load replaces the tracks the browser has chosen.
    targets.trackChoice = [](int i) { return Driver::fileBrowser.trackChosen(i); };
    static PoolGroups poolGroups;
    targets.sampleGroups = &poolGroups;
    return targets;
}
