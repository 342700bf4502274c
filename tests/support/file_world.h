// A small instrument as the file layer sees it: five tracks with a real
// sequencer, engine groups and effect chain, the clock, project and config
// groups, a master chain, a sample store and a motion recorder double. It
// installs itself as the file layer's targets for its lifetime and gives the
// ones it found (the instrument's, as a rule) back when it goes.
#pragma once

#include "effects/EffectChain.h"
#include "engines/SynthEngineType.h"
#include "engines/subtractive/SubtractiveCommon.h"
#include "instrument/files/FileTargets.h"
#include "parameters/ModulationManager.h"
#include "parameters/ParameterFloat.h"
#include "parameters/ParameterGroup.h"
#include "parameters/ParameterInt.h"
#include "parameters/ParameterString.h"
#include "samples/AudioResource.h"
#include "samples/AudioSampleGroup.h"
#include "samples/SampleSource.h"
#include "sequencing/Corvane.h"
#include "sequencing/NoteManager.h"
#include "sequencing/PitchScale.h"

#include <array>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace filetest {

// An engine that has not been built yet: a group with a few of its names.
struct StandInEngine {
    StandInEngine(const std::string& name, std::initializer_list<const char*> names) : group(name) {
        for (const char* n : names) {
            params.push_back(std::make_unique<ParameterFloat>(n, ParameterFloat::Plain, Stored, 0.5f, 0.0f, 1.0f));
            group.add(params.back().get());
        }
    }
    ParameterGroup group;
    std::vector<std::unique_ptr<ParameterFloat>> params;
};

class TestTrack : public TrackFiles {
public:
    static inline const std::vector<std::string> kEngines = {"none", "FM", "additive", "resonator",
                                                             "subtractive", "quad engine", "granular", "eurorack"};

    explicit TestTrack(int index, int defaultEngine = 0) : index_(index), defaultEngine_(defaultEngine) {
        group.add(&nameParam);
        group.add(&volume);
        synthesis.setChoices(kEngines, defaultEngine);
        synthesis.defaultValue = defaultEngine;
        chain.insertEffect(AudioEffectType::Stereo, 0);
    }

    std::string name() const override { return nameParam.toString(); }
    ParameterGroup& trackGroup() override { return group; }
    ModulationManager* modulationManager() override { return &manager; }
    ParameterGroup& sequencerGroup() override { return sequencer.group; }
    void resetSequencer() override {
        sequencer.group.resetToDefaults();
        ++sequencerResets;
    }
    void selectPattern(int32_t p, bool force) override { selectedPattern = p; }
    int32_t synthesisIndex() const override { return synthesis.values[synthesis.activeSlot]; }
    std::string synthesisName() const override { return synthesis.toString(); }
    bool setSynthesisName(const std::string& n) override { return synthesis.setFromString(n); }
    void applySynthesis() override {
        applied = synthesisIndex();
        ++applyCount;
    }
    ParameterGroup& engineGroup() override {
        switch (applied) {
            case EngineSubtractive: return subtractive.parameters;
            case EngineQuad: return quad.group;
            case EngineGranular: return granular.group;
            default: return none.group;
        }
    }
    void refreshEnvSlot() override { ++envRefreshes; }
    void refreshSlotChoices() override { ++slotRefreshes; }
    void resetSynthesis() override {
        subtractive.parameters.resetToDefaults();
        quad.group.resetToDefaults();
        granular.group.resetToDefaults();
        synthesis.resetToDefault();
        applied = synthesisIndex();
        ++synthesisResets;
    }
    uint32_t engineType() const override { return uint32_t(applied); }
    EffectChain& effectChain() override { return chain; }
    void resetEffects(bool withDefault) override {
        chain.clear();
        if (withDefault)
            chain.insertEffect(AudioEffectType::Stereo, 0);
        ++effectResets;
    }

    // Sets the engine as the track page would.
    void useEngine(int engine) {
        synthesis.setValue(engine, false);
        applySynthesis();
    }

    int index_;
    int defaultEngine_;
    ParameterGroup group{"track"};
    ParameterString nameParam{"name", ParameterString::Text, Stored, ""};
    ParameterFloat volume{"volume", ParameterFloat::Decibels, Stored, 0.0f, -60.0f, 6.0f};
    ParameterInt synthesis{"synthesis", ParameterInt::ChoiceMode, ParameterFlags(0), 0};
    int32_t applied = 0;
    ModulationManager manager;
    Corvane sequencer;
    SubtractiveCommon subtractive;
    StandInEngine none{"none", {}};
    StandInEngine quad{"quad engine", {"1 volume", "1 snap", "4 volume", "4 rate", "4 samples"}};
    StandInEngine granular{"granular", {"grain size", "density"}};
    EffectChain chain;
    int32_t selectedPattern = -1;
    int applyCount = 0, envRefreshes = 0, slotRefreshes = 0;
    int sequencerResets = 0, synthesisResets = 0, effectResets = 0;
};

class Motion : public MotionRecordings {
public:
    bool isEmpty(int slot) const override { return slots[size_t(slot)].is_null(); }
    nlohmann::json toJson(int slot) const override { return slots[size_t(slot)]; }
    void fromJson(int slot, const nlohmann::json& recording) override {
        if (!recording.is_null() && !recording.is_object())
            throw std::runtime_error("recording is not an object");
        slots[size_t(slot)] = recording;
    }
    bool hasRecordings() const override {
        for (int s = 1; s < kSlots; ++s)
            if (!slots[size_t(s)].is_null())
                return true;
        return false;
    }
    void clear() override { slots.fill(nullptr); }
    static nlohmann::json recording(float x) { return {{"t", {0, 64}}, {"x", {x, x}}, {"y", {0.25, 0.5}}}; }
    std::array<nlohmann::json, kSlots> slots{};
};

// Samples load by name; their audio is never read.
class Samples : public SampleSource {
public:
    bool loadSample(const std::string& path) override {
        if (path.empty() || path.find("missing") != std::string::npos)
            return false;
        if (!resources.count(path))
            resources[path] = std::make_shared<AudioResource>(path);
        return true;
    }
    std::shared_ptr<AudioResource> getResource(const std::string& path) override {
        auto it = resources.find(path);
        return it == resources.end() ? nullptr : it->second;
    }
    std::map<std::string, std::shared_ptr<AudioResource>> resources;
};

class SampleStore : public SampleGroupStore {
public:
    size_t groupCount() const override { return groups.size(); }
    std::vector<std::string> listNames() const override {
        std::vector<std::string> names{"none"};
        for (const auto& g : groups)
            names.push_back(g.first);
        return names;
    }
    AudioSampleGroup* getGroup(const std::string& name, bool create) override {
        for (auto& g : groups)
            if (g.first == name)
                return g.second.get();
        if (!create)
            return nullptr;
        groups.emplace_back(name, std::make_unique<AudioSampleGroup>());
        return groups.back().second.get();
    }
    SampleSource& samples() override { return source; }
    void reset() override {
        groups.clear();
        ++resets;
    }
    void updateListParameters() override { ++listUpdates; }
    void queueTreeRebuilds() override { ++rebuilds; }

    void addGroup(const std::string& name, std::initializer_list<const char*> sampleNames) {
        nlohmann::json entries = nlohmann::json::array();
        for (const char* s : sampleNames)
            entries.push_back({{"sample", s}});
        getGroup(name, true)->fromJson(entries, source);
    }

    std::vector<std::pair<std::string, std::unique_ptr<AudioSampleGroup>>> groups;
    Samples source;
    int resets = 0, listUpdates = 0, rebuilds = 0;
};

class World {
public:
    World() : previous_(fileTargets()) {
        for (int i = 0; i < FileTargets::kTracks; ++i) {
            tracks[size_t(i)] = std::make_unique<TestTrack>(i, i == 0 ? int(EngineSubtractive) : 0);
            tracks[size_t(i)]->useEngine(i == 0 ? int(EngineSubtractive) : 0);
        }
        clock.add(&bpm);
        project.add(&swing);
        config.add(&lastProject);
        config.add(&oscPort);
        resetOutput();
        install();
    }
    ~World() { fileTargets() = previous_; }
    World(const World&) = delete;

    void install() {
        FileTargets t;
        for (int i = 0; i < FileTargets::kTracks; ++i)
            t.tracks[size_t(i)] = tracks[size_t(i)].get();
        t.clock = &clock;
        t.project = &project;
        t.config = &config;
        t.runApplyCallbacks = [this] { ++applyCallbacks; };
        t.outputChain = &output;
        t.resetOutputFX = [this] { resetOutput(); };
        t.sampleGroups = &samples;
        t.motion = &motion;
        t.trackChoice = [this](int i) { return trackChosen[size_t(i)]; };
        t.notes = &notes;
        t.scales = &scales;
        fileTargets() = std::move(t);
    }
    void resetOutput() {
        output.clear();
        output.insertEffect(AudioEffectType::Limiter, 0);
        ++outputResets;
    }
    TestTrack& track(int i) { return *tracks[size_t(i)]; }

private:
    FileTargets previous_;

public:
    std::array<std::unique_ptr<TestTrack>, FileTargets::kTracks> tracks;
    ParameterGroup clock{"clock"};
    ParameterFloat bpm{"BPM", ParameterFloat::Bpm, Stored, 120.0f, 20.0f, 300.0f};
    ParameterGroup project{"project"};
    ParameterFloat swing{"swing", ParameterFloat::Percent, Stored, 0.0f, 0.0f, 1.0f};
    ParameterGroup config{"config"};
    ParameterString lastProject{"last project", ParameterString::Text, Stored, ""};
    ParameterInt oscPort{"OSC in port", ParameterInt::PlainInt, Stored, 909, 1, 65535};
    EffectChain output;
    SampleStore samples;
    Motion motion;
    NoteManager notes;
    PitchScaleManager scales;
    std::array<bool, FileTargets::kTracks> trackChosen{true, true, true, true, true};
    int applyCallbacks = 0, outputResets = 0;
};

}  // namespace filetest
