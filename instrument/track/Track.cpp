// Track: data model, construction, set-up, the resets of the file readers
// and the slot-choice refresh.
#include "instrument/track/Track.h"

#include "engines/SynthEngineType.h"
#include "instrument/MainClock.h"
#include "platform/Audio.h"

#include <string>
#include <vector>

namespace {

// The "synthesis" choices, in their order (an index is what files store).
// Functions, not namespace-scope objects: the tracks are built by the
// static initialisers, maybe before this file's objects.
const std::vector<std::string>& synthesisNames() {
    static const std::vector<std::string> names = {"none",      "subtractive", "FM",      "additive",
                                                    "resonator", "quad engine", "granular"};
    return names;
}
const std::vector<std::string>& routingNames() {
    static const std::vector<std::string> names = {"-", "1", "2", "3", "4", "5", "6", "7", "8"};
    return names;
}
constexpr int32_t kSubtractiveChoice = 1;
// Room for every engine name, so a switch on the audio thread never grows it.
constexpr size_t kEngineNameCapacity = 32;

std::vector<std::string> channelChoices() {
    std::vector<std::string> names = {"all"};
    for (int c = 1; c <= 16; ++c)
        names.push_back(std::to_string(c));
    return names;
}

}  // namespace

Track::BusySection::BusySection(Track& track) : track_(track) {
    track_.changeLock_.lock();
    track_.busyDepth_.fetch_add(1, std::memory_order_seq_cst);
    Bela_blockFence();
}

Track::BusySection::~BusySection() {
    track_.busyDepth_.fetch_sub(1, std::memory_order_seq_cst);
    track_.changeLock_.unlock();
}

Track::Track(uint32_t trackIndex, MainClock* mainClock)
    : midiNoteIn("MIDI note in", ParameterInt::ChoiceMode, Stored, 0),
      midiInChannel("MIDI in channel", ParameterInt::ChoiceMode, Stored, 0),
      midiInLowest("MIDI in lowest", ParameterInt::PlainInt, Stored, 0, 0, 127),
      midiInHighest("MIDI in highest", ParameterInt::PlainInt, Stored, 127, 0, 127),
      midiInTranspose("MIDI in transpose", ParameterInt::PlainInt, Stored, 0, -36, 36),
      nameParameter("name", ParameterString::TextAlt, Stored, ""),
      synthesis("synthesis", ParameterInt::ChoiceMode, Stored, 0),
      inputRouting{ParameterInt("in 1 to chan", ParameterInt::ChoiceMode, Stored, 0),
                   ParameterInt("in 2 to chan", ParameterInt::ChoiceMode, Stored, 0),
                   ParameterInt("in 3 to chan", ParameterInt::ChoiceMode, Stored, 0),
                   ParameterInt("in 4 to chan", ParameterInt::ChoiceMode, Stored, 0)},
      sequencer(&sequencerImpl),
      motionRecorder(trackIndex),
      index(trackIndex),
      effectChain(EffectChain::kDefaultMaxEffects),
      slot("slot", ParameterInt::ChoiceMode, NoFlags, 0),
      allLanesStep("", ParameterInt::PlainInt, NoFlags, 0),
      allLanesFloatStep("", ParameterFloat::Plain, NoFlags, 0.0f, -3.4028235e38f, 3.4028235e38f),
      mainClock_(mainClock) {
    midiNoteIn.setChoices({"false", "true"}, 0);
    engineName.reserve(kEngineNameCapacity);

    sequencerImpl.trackIndex = index;
    SequencerLinks links;
    links.tempo = mainClock ? &mainClock->bpm : nullptr;
    sequencerImpl.setLinks(links);

    encoderParameters[0] = mainClock ? &mainClock->bpm : nullptr;
    encoderParameters[1] = &sequencerImpl.clockMult;
    encoderParameters[4] = &sequencerImpl.start;
    encoderParameters[5] = &sequencerImpl.length;
    encoderParameters[6] = &sequencerImpl.chance;
    encoderParameters[7] = &sequencerImpl.seqReset;
    encoderParameters[kLaneChoiceEncoder] = &sequencerImpl.laneChoice;
    sequencerImpl.bindLaneParameters(encoderParameters);
    // The motion slot plays with the sequencer's pattern and note list: it
    // is saved, loaded and reached by OSC with them. Files from before it
    // was saved read it as 0.
    sequencerImpl.group.add(&motionRecorder.motion);

    std::vector<std::string> resetBy;
    for (uint32_t t = 0; t < kTracks; ++t)
        resetBy.push_back(t == index ? "none" : "track " + std::to_string(t + 1));
    sequencerImpl.resetBy.setChoices(resetBy, int(index));
    sequencerImpl.resetBy.setValue(int32_t(index), false);

    synthesis.setChoices(synthesisNames(), 0);
    const std::string owner = "/track/" + std::to_string(index + 1) + "/syn/";
    for (SynthVoiceCommon* e : engines())
        e->parameters.setOwnerName(owner);
    for (auto& routing : inputRouting)
        routing.setChoices(routingNames(), 0);

    synthesis.setValue(index == 0 ? kSubtractiveChoice : 0, false);
    _applySynthesis(false);

    _insertDefaultEffect();

    parameterGroup.setName(kGroupName);
    for (Parameter* p : {static_cast<Parameter*>(&midiNoteIn), static_cast<Parameter*>(&midiInChannel),
                         static_cast<Parameter*>(&midiInLowest), static_cast<Parameter*>(&midiInHighest),
                         static_cast<Parameter*>(&midiInTranspose), static_cast<Parameter*>(&inputRouting[0]),
                         static_cast<Parameter*>(&inputRouting[1]), static_cast<Parameter*>(&inputRouting[2]),
                         static_cast<Parameter*>(&inputRouting[3])})
        parameterGroup.add(p);

    // Last: the engine switch above configured the input filter. Until setup
    // both filters accept nothing.
    midiInFilter.reset();
    midiLearnFilter.reset();
}

Track::~Track() = default;

AudioEffectType Track::defaultEffectType() const {
    // Track 5 echoes by default; the others spread their voices in stereo.
    return index == kTracks - 1 ? AudioEffectType(9) : AudioEffectType(4);
}

void Track::_insertDefaultEffect() { effectChain.insertEffect(defaultEffectType(), 0); }

void Track::setNoteScheduler(NoteScheduler* scheduler) {
    SequencerLinks links = sequencerImpl.links();
    links.scheduler = scheduler;
    sequencerImpl.setLinks(links);
}

void Track::setup() {
    for (SynthVoiceCommon* e : engines())
        e->registerSampleLists();
    // Settle the smoothed values before the first note.
    for (int i = 0; i < 5; ++i)
        additiveCommon.updateBlock();
    for (int i = 0; i < 4; ++i)
        subtractiveCommon.updateBlock();

    nameParameter.setFromString("track-" + std::to_string(index + 1));
    midiInChannel.setChoices(channelChoices(), -1);

    // The pages are built once: a later set-up in the same process finds them.
    if (settingsPages.groups.empty()) {
        settingsPages.groups.push_back(SettingsGroup("track", {&synthesis, &nameParameter}));
        settingsPages.groups.push_back(
            SettingsGroup("MIDI", {&midiNoteIn, &midiInChannel, &midiInLowest, &midiInHighest}));
        settingsPages.groups.push_back(SettingsGroup(
            "sequencer", {&sequencerImpl.slotSwitching, &sequencerImpl.resetOnSwitch, &sequencerImpl.resetBy,
                          &sequencerImpl.swingTicks, &sequencerImpl.chordMode, &sequencerImpl.slideAllNotes}));
        settingsPages.groups.push_back(
            SettingsGroup("routing", {&inputRouting[0], &inputRouting[1], &inputRouting[2], &inputRouting[3]}));
        settingsPages.addApplyCallback([this] { configureMidiFilter(); });
    }
    settingsPages.setExtraGroup(&currentEngine()->settingsGroup);

    midiLearnFilter.reset();
    midiLearnFilter.setTypes(MIDIMsgType::NoteOff | MIDIMsgType::NoteOn | MIDIMsgType::ControlChange);
    settingsPages.setTitle("Track " + std::to_string(index + 1));
    // Saved MIDI-in settings act from the start, not after the first edit.
    configureMidiFilter();
}

SynthVoiceCommon* Track::engineForType(uint32_t type) {
    switch (type) {
    case EngineFM:
        return &fmCommon;
    case EngineAdditive:
        return &additiveCommon;
    case EngineResonator:
        return &resonatorCommon;
    case EngineSubtractive:
        return &subtractiveCommon;
    case EngineQuad:
        return &quadCommon;
    case EngineGranular:
        return &granularCommon;
    case EngineModular:
        return &modularCommon;
    default:
        // Engines this track does not hold yet play as "none".
        return &noneCommon;
    }
}

SynthVoiceCommon* Track::engineForName(const std::string& name) {
    static const struct {
        const char* name;
        uint32_t type;
    } kTable[] = {{"none", EngineNone},       {"quad engine", EngineQuad}, {"subtractive", EngineSubtractive},
                  {"FM", EngineFM},           {"additive", EngineAdditive}, {"resonator", EngineResonator},
                  {"granular", EngineGranular}, {"eurorack", EngineModular}};
    for (const auto& row : kTable)
        if (name == row.name)
            return engineForType(row.type);
    return nullptr;
}

void Track::resetSynthesis(bool all) {
    BusySection busy(*this);
    if (all) {
        for (SynthVoiceCommon* e : engines())
            if (e != &noneCommon)
                e->parameters.resetToDefaults();
        synthesis.setValue(index == 0 ? kSubtractiveChoice : 0, false);
        _applySynthesis(false);
    } else {
        currentEngine()->parameters.resetToDefaults();
    }
    motionRecorder.setPosition(0.0f, 0.0f, 0.0f);
    modulation.removeUnused();
    refreshSlotChoices();
}

void Track::resetSequencer() {
    BusySection busy(*this);
    sequencerImpl.group.resetToDefaults();
    modulation.removeUnused();
    refreshSlotChoices();
}

void Track::resetEffects(bool addDefault) {
    effectChain.clear();
    if (addDefault)
        _insertDefaultEffect();
    BusySection busy(*this);
    modulation.removeUnused();
    refreshSlotChoices();
}

bool Track::slotSelectsModulator() const {
    const SynthVoiceCommon* e = currentEngine();
    return e && uint32_t(std::max<int32_t>(0, slot.value)) >= e->envSlots();
}

void Track::_selectEnvSlotIfEnvelope() {
    SynthVoiceCommon* e = currentEngine();
    const int32_t s = slot.value;
    // A modulator slot is no envelope of the engine's.
    if (e && s >= 0 && uint32_t(s) < e->envSlots()) {
        e->selectEnvSlot(uint32_t(s));
        e->controlTick();
    }
}

uint32_t Track::refreshSlotChoices() {
    slotRefreshRequested_.store(false, std::memory_order_relaxed);
    SynthVoiceCommon* e = currentEngine();
    std::vector<std::string> names = e->envSlotNames;
    // Only the slot names the engine has envelopes for.
    if (names.size() > e->envSlots())
        names.resize(e->envSlots());
    for (uint32_t i = 0; i < modulation.size(); ++i)
        names.push_back(std::to_string(i + 1) + " " + modulation.typeNameAt(i));
    slot.setChoices(names, -1, false);
    _selectEnvSlotIfEnvelope();
    configureMidiFilter();
    return uint32_t(names.size());
}

void Track::serviceRequests() {
    if (slotRefreshRequested_.load(std::memory_order_acquire)) {
        BusySection busy(*this);
        refreshSlotChoices();
    }
    const int32_t request = menuRequest_.exchange(-1, std::memory_order_acq_rel);
    if (request >= 0)
        _openMenuList(request);
}
