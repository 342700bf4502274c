#include "tests/support/stepped_instrument.h"

#include "instrument/files/FileTargets.h"
#include "instrument/files/MorphSection.h"
#include "instrument/files/NoteListSection.h"
#include "instrument/files/SampleGroupsSection.h"

#include <sstream>

namespace testsupport {

namespace {

// One line a parameter, so that what differs is said on its own.
void parameterLines(std::ostringstream& s, const std::string& owner, const std::vector<Parameter*>& parameters) {
    for (const Parameter* p : parameters)
        s << owner << " / " << p->name << ": " << p->toJson().dump() << (p->midiMapped ? " MIDI mapped" : "") << "\n";
}

// And what MIDI learn mapped in the group.
void groupLines(std::ostringstream& s, const std::string& owner, const ParameterGroup& group) {
    parameterLines(s, owner, group.parameters);
    s << owner << " MIDI mappings:";
    if (auto map = group.midiMappings())
        for (const auto& [key, targets] : *map)
            s << " " << midiMappingToString(key) << " x" << targets.size();
    s << "\n";
}

void jsonLines(std::ostringstream& s, const std::string& owner, const nlohmann::json& j) {
    if (!j.is_object()) {
        s << owner << ": " << j.dump() << "\n";
        return;
    }
    for (const auto& [key, value] : j.items())
        s << owner << " / " << key << ": " << value.dump() << "\n";
}

// The parameters' values as built, read before any test can change them
// (cheap: no instrument starts). Read later, a value that a test without the
// instrument changed would pass for built, and stop() would put it back
// after every test.
class BuiltValues : public ::testing::Environment {
public:
    void SetUp() override { SteppedInstrument::takeBuiltValues(); }
};

const bool kRegistered = (::testing::AddGlobalTestEnvironment(new BuiltValues), true);

}  // namespace

std::string SteppedInstrument::restState() {
    std::ostringstream s;
    const std::vector<float> out = play(48);
    double peak = 0;
    for (float x : out)
        peak = std::max(peak, double(std::fabs(x)));
    s << "output peak: " << peak << "\n";
    s << "voices sounding: " << DSP::voiceManager.activeVoiceCount() << "\n";
    s << "clock running: " << DSP::mainClock.isRunning() << "\n";
    s << "page open: " << (GUI::currentEditor.load() != nullptr) << "\n";
    s << "list pop-up: " << Driver::listSelection.state() << "\n";
    s << "confirmation: " << Driver::confirm.state() << "\n";
    s << "number pad open: " << Driver::numpad.isOpen() << "\n";
    s << "self test: " << Driver::selfTest.state() << "\n";
    s << "main menu: " << Driver::instrument.menuState.load() << "\n";
    s << "current track: " << GUI::currentTrack.load() << "\n";
    s << "note page: " << DSP::noteManager.pageState.load() << "\n";
    s << "browser: " << Driver::fileBrowser.listedFolder << " " << Driver::fileBrowser.cursor.toString() << "\n";
    groupLines(s, "clock", DSP::mainClock.parameterGroup);
    groupLines(s, "project", Driver::instrument.projectGroup);
    groupLines(s, "config", Driver::instrument.configGroup);
    for (const SettingsGroup& group : Driver::instrument.settingsPage.groups)
        parameterLines(s, "settings " + group.name, group.parameters);
    {
        nlohmann::json j = nlohmann::json::object();
        DSP::voiceManager.masterChain.toJson(j);
        jsonLines(s, "output chain", j);
    }
    for (size_t t = 0; t < std::size(DSP::track); ++t) {
        Track& track = DSP::track[t];
        const std::string name = "track " + std::to_string(t + 1) + " ";
        s << name << "pages: effect page " << track.effectPageShown.load() << ", focus " << track.focus.load()
          << ", menu " << track.menuState.load() << ", learn " << track.learnConfirmed.load() << "\n";
        s << name << "modulators: " << track.modulation.size() << "\n";
        groupLines(s, name + "track", track.parameterGroup);
        groupLines(s, name + "sequencer", track.sequencerImpl.group);
        for (SynthVoiceCommon* engine : track.engines())
            if (engine)
                groupLines(s, name + engine->parameters.name, engine->parameters);
        for (unsigned e = 0; e < track.effectChain.effectCount(); ++e)
            if (auto group = track.effectChain.getParameterGroup(e))
                groupLines(s, name + "effect " + std::to_string(e + 1), *group);
        for (const SettingsGroup& group : track.settingsPages.groups)
            parameterLines(s, name + "settings " + group.name, group.parameters);
        nlohmann::json j = nlohmann::json::object();
        track.effectChain.toJson(j);
        jsonLines(s, name + "effects", j);
    }
    nlohmann::json files = nlohmann::json::object();
    writeNoteListSection(files);
    writeMorphSection(files);
    writeSampleGroupsSection(files);
    jsonLines(s, "files", files);
    return s.str();
}

std::vector<Parameter*> SteppedInstrument::fixedParameters() {
    std::vector<Parameter*> all;
    auto add = [&](const std::vector<Parameter*>& some) { all.insert(all.end(), some.begin(), some.end()); };
    add(DSP::mainClock.parameterGroup.parameters);
    add(Driver::instrument.projectGroup.parameters);
    for (Track& track : DSP::track) {
        add(track.parameterGroup.parameters);
        add(track.sequencerImpl.group.parameters);
        for (SynthVoiceCommon* engine : track.engines())
            if (engine)
                add(engine->parameters.parameters);
    }
    return all;
}

void SteppedInstrument::takeBuiltValues() {
    if (!built_.empty())
        return;  // a repeat of the tests: what was taken before the first round holds
    for (Parameter* p : fixedParameters())
        built_.emplace_back(p, p->toJson());
}

void SteppedInstrument::valuesAsBuilt() {
    for (auto& [p, value] : built_) {
        nlohmann::json copy = value;
        p->fromJson(copy, nullptr, Driver::instrument.firmwareVersion);
    }
}

void SteppedInstrument::takeFreshState() {
    if (!fresh_.empty())
        return;  // a repeat of the tests: what was taken in the first round holds
    // As stop() leaves them after every test, whatever ran before this one.
    valuesAsBuilt();
    start(kRestProbe);
    if (!::testing::Test::HasFatalFailure())
        fresh_ = restState();
    stop();
}

void SteppedInstrument::expectAtRest() {
    if (fresh_.empty())
        return;
    start(kRestProbe);
    const std::string now = restState();
    stop();
    if (now == fresh_)
        return;
    std::istringstream a(fresh_), b(now);
    std::string was, is, differs;
    while (std::getline(a, was) && std::getline(b, is))
        if (was != is)
            differs += "  fresh: " + was + "\n  now:   " + is + "\n";
    ADD_FAILURE() << "The test leaves the instrument different from a fresh process's; the next set-up meets:\n"
                  << differs;
}

}  // namespace testsupport
