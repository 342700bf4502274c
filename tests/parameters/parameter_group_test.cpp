// Parameter groups: lists, broadcasts, MIDI learn and the group JSON, read
// back by independent parsers.
#include "TestModulator.h"
#include "connectivity/MidiMessage.h"
#include "parameters/ParameterFloat.h"
#include "parameters/ParameterFraction.h"
#include "parameters/ParameterGroup.h"
#include "parameters/ParameterInt.h"
#include "parameters/ParameterString.h"

#include <gtest/gtest.h>

#include "tests/support/Shell.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <memory>
#include <sstream>

using json = nlohmann::json;

namespace {

MidiMessage midi(MIDIMsgType type, uint32_t channel, uint32_t data1, uint32_t data2) {
    MidiMessage m;
    m.type = uint32_t(type);
    m.channel = channel;
    m.data1 = data1;
    m.data2 = data2;
    return m;
}

// A small owner, as an engine or a track would hold its controls.
struct Owner {
    ParameterFloat cutoff{"cutoff", ParameterFloat::Hertz, XYMorph | Stored | PerChannel, 1000.0f};
    ParameterFloat mix{"mix", ParameterFloat::Percent, Stored | Smoothed, 0.5f};
    ParameterFraction ratio{"ratio", ParameterFraction::Ratio, Stored | MultiSlot, 1.0f};
    ParameterInt mode{"mode", 2, Stored, 0, ParameterInt::kNoMinimum, ParameterInt::kNoMaximum};
    ParameterString title{"name", ParameterString::Text, Stored, "lead"};
    ParameterString ip{"OSC out IP", ParameterString::Address, Stored, "10.0.0.7"};
    ParameterInt view{"view", 0, NoFlags, 0, 0, 3};
    ParameterGroup group;

    Owner() {
        mode.setChoices({"saw", "square", "noise"}, 0);
        for (Parameter* p : std::array<Parameter*, 7>{&cutoff, &mix, &ratio, &mode, &title, &ip, &view})
            group.add(p);
        group.setName("synth");
    }
};


}  // namespace

TEST(ParameterGroupLists, MembersIndexesAndNames) {
    Owner o;
    EXPECT_EQ(o.group.storedParameters.size(), 6u);
    EXPECT_EQ(o.group.morphParameters, (std::vector<Parameter*>{&o.cutoff}));
    EXPECT_EQ(o.group.slotParameters, (std::vector<Parameter*>{&o.ratio}));
    EXPECT_EQ(o.group.blockParameters, (std::vector<Parameter*>{&o.cutoff, &o.mix}));
    EXPECT_EQ(o.cutoff.groupName, "synth");  // named after adding
    EXPECT_EQ(o.cutoff.group, &o.group);
    o.group.setOwnerName("track 2");
    EXPECT_EQ(o.view.ownerName, "track 2");

    // a namesake added later: find keeps the first, both are saved and restored
    ParameterFloat second("mix", ParameterFloat::Percent, Stored, 0.9f);
    o.group.add(&second);
    o.group.add(nullptr);
    EXPECT_EQ(o.group.find("mix"), &o.mix);
    EXPECT_EQ(o.group.find("nothing"), nullptr);
    json j;
    o.group.toJson(j);
    EXPECT_FLOAT_EQ(j["mix"]["value"].get<float>(), 0.9f);
    testing::internal::CaptureStdout();
    o.group.fromJson(j, nullptr, FileVersion());
    testing::internal::GetCapturedStdout();
    EXPECT_FLOAT_EQ(o.mix.getValue(), 0.9f);
}

TEST(ParameterGroupBroadcasts, PerBlockMorphAndSlots) {
    Owner o;
    o.group.updateBlock();
    EXPECT_NEAR(o.cutoff.output, 1000.0f, 0.1f);  // per channel, not smoothed
    EXPECT_NEAR(o.mix.output, 0.5f / 25.0f, 1e-6f);
    EXPECT_FLOAT_EQ(o.view.output, 0.0f);

    o.cutoff.setValue(200.0f, true);
    o.group.storeSnapshot(0);
    o.cutoff.setValue(800.0f, true);
    o.group.storeSnapshot(1);
    o.group.morphXY(0.5f, 0.0f);
    EXPECT_NEAR(o.cutoff.converted, 400.0f, 0.5f);  // halfway in octaves

    o.ratio.setValue(2.0f, false);
    o.group.copySlot(0, 5);
    o.group.selectSlot(5);
    EXPECT_EQ(o.ratio.toString(), "2");
    o.group.resetToDefaults();
    EXPECT_EQ(o.title.toString(), "");
    EXPECT_EQ(o.ip.toString(), "10.0.0.7");
}

TEST(ParameterGroupMidi, LearnApplyAndRemove) {
    Owner o;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(o.group.addMidiMapping({0, -1, 60}, "mix"));
    EXPECT_TRUE(o.group.addMidiMapping({0, -1, 60}, "view"));
    EXPECT_FALSE(o.group.addMidiMapping({3, 74, -1}, "mix"));
    EXPECT_FALSE(o.group.addMidiMapping({3, 74, -1}, "nothing"));
    EXPECT_TRUE(o.group.addMidiMapping({3, 74, -1}, "mode"));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "[ParameterGroup] MIDI note 60 (ch 1) is now mapped to 1 parameters (map size = 1)\n"
              "[ParameterGroup] MIDI note 60 (ch 1) is now mapped to 2 parameters (map size = 1)\n"
              "[ParameterGroup] Couldn't create MIDI mapping from [CC 74 (ch 4)] to [mix] because given parameter "
              "is not in group??\n"
              "[ParameterGroup] Couldn't create MIDI mapping from [CC 74 (ch 4)] to [nothing] because given "
              "parameter is not in group??\n"
              "[ParameterGroup] MIDI CC 74 (ch 4) is now mapped to 1 parameters (map size = 2)\n");
    EXPECT_TRUE(o.mix.midiMapped);
    EXPECT_EQ(midiMappingToString({-1, -1, -1}), "...");

    EXPECT_TRUE(o.group.applyMidi(midi(MIDIMsgType::NoteOn, 0, 60, 127)));
    EXPECT_FLOAT_EQ(o.mix.getValue(), 1.0f);
    EXPECT_EQ(int(o.view.value), 3);
    EXPECT_TRUE(o.group.applyMidi(midi(MIDIMsgType::NoteOff, 0, 60, 0)));
    EXPECT_FLOAT_EQ(o.mix.getValue(), 0.0f);
    EXPECT_FALSE(o.group.applyMidi(midi(MIDIMsgType::NoteOn, 1, 60, 100)));
    EXPECT_FALSE(o.group.applyMidi(midi(MIDIMsgType::ProgramChange, 0, 60, 100)));
    EXPECT_FALSE(o.group.applyMidi(midi(MIDIMsgType::None, 0, 60, 100)));
    EXPECT_TRUE(o.group.applyMidi(midi(MIDIMsgType::ControlChange, 3, 74, 127)));
    EXPECT_EQ(o.mode.toString(), "noise");
    EXPECT_TRUE(o.mix.overridden);

    testing::internal::CaptureStdout();
    EXPECT_TRUE(o.group.removeMidiMapping("mode"));
    EXPECT_FALSE(o.group.removeMidiMapping("mode"));
    EXPECT_TRUE(o.group.removeMidiMapping("mix"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[ParameterGroup] Removed MIDI mapping from parameter [mode] (message still mapped to 0 parameters, "
              "map size = 1)\n"
              "[ParameterGroup] Removed MIDI mapping from parameter [mix] (message still mapped to 1 parameters, "
              "map size = 1)\n");
    EXPECT_FALSE(o.group.applyMidi(midi(MIDIMsgType::ControlChange, 3, 74, 0)));
    // now the controller can be learnt for mix
    testing::internal::CaptureStdout();
    EXPECT_TRUE(o.group.addMidiMapping({3, 74, -1}, "mix"));
    testing::internal::GetCapturedStdout();

    // clear() keeps the map
    o.group.clear();
    EXPECT_EQ(o.group.find("mix"), nullptr);
    EXPECT_TRUE(o.group.applyMidi(midi(MIDIMsgType::ControlChange, 3, 74, 0)));
}

TEST(ParameterGroupJson, RoundTripThroughAFileReadByJqAndPython) {
    Owner o;
    TestManager manager;
    testing::internal::CaptureStdout();
    auto lfo = manager.addModulator("LFO", 8, "cutoff", "synth");
    o.cutoff.addModulator(lfo);
    o.group.addMidiMapping({0, 74, -1}, "mix");
    o.group.addMidiMapping({2, -1, 36}, "view");  // not stored: only "MIDI input"
    testing::internal::GetCapturedStdout();
    o.cutoff.setValue(440.0f, true);
    o.mix.setValue(25.0f, true);
    o.ratio.selectSlot(3);
    o.ratio.setValue(0.25f, true);
    o.mode.setFromString("square");
    o.title.setFromString("bass \"one\"");
    o.ip.setFromString("10.1.2.3");

    json j;
    o.group.toJson(j);
    const auto path = std::filesystem::temp_directory_path() / ("corvane-group-" + std::to_string(getpid()) + ".json");
    {
        std::ofstream file(path);
        file << std::setw(1) << std::setfill('\t') << j << '\n';
    }
    std::string text;
    {
        std::ifstream file(path);
        std::stringstream ss;
        ss << file.rdbuf();
        text = ss.str();
    }
    EXPECT_EQ(text.substr(0, 3), "{\n\t");
    EXPECT_NE(text.find("\n\t\t\"value\""), std::string::npos);
    // keys in ascending byte order: "OSC out IP" before "cutoff"
    EXPECT_LT(text.find("\"OSC out IP\""), text.find("\"cutoff\""));

    const std::string jq = testsupport::shellOutput("jq -r '.cutoff.value[0], .mix.value, .ratio.value[3], .mode.value, .name.value, "
                               ".[\"OSC out IP\"].value, .mix[\"MIDI input\"].CC, .mix[\"MIDI input\"].channel, "
                               ".view[\"MIDI input\"].note, (.view | keys | join(\",\")), "
                               ".cutoff.modulator[0][\"modulator type\"]' " +
                               path.string());
    EXPECT_EQ(jq, "8.781359672546387\n0.25\n0.25\nsquare\nbass \"one\"\n10.1.2.3\n74\n1\n36\nMIDI input\nLFO\n");
    const std::string tool = testsupport::shellOutput("python3 -m json.tool --sort-keys --tab " + path.string());
    EXPECT_EQ(tool, text);

    // and back, into a fresh owner
    json read;
    {
        std::ifstream file(path);
        read = json::parse(file);
    }
    std::filesystem::remove(path);
    Owner back;
    TestManager other;
    testing::internal::CaptureStdout();
    back.group.fromJson(read, &other, FileVersion("", 0, 1, 30));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.find("not found"), std::string::npos) << out;
    EXPECT_NEAR(back.cutoff.converted, 440.0f, 0.01f);
    EXPECT_TRUE(back.cutoff.overridden);
    EXPECT_FLOAT_EQ(back.mix.getValue(), 0.25f);
    back.ratio.selectSlot(3);
    EXPECT_EQ(back.ratio.toString(), "1/4");
    EXPECT_EQ(back.mode.toString(), "square");
    EXPECT_EQ(back.title.toString(), "bass \"one\"");
    EXPECT_EQ(back.ip.toString(), "10.1.2.3");
    ASSERT_EQ(back.cutoff.modulators.size(), 1u);
    EXPECT_EQ(back.cutoff.modulatorName(0), "LFO");
    // the stored mapping comes back with channel index 0; the unstored one is not read
    EXPECT_TRUE(back.mix.midiMapped);
    EXPECT_FALSE(back.view.midiMapped);
    EXPECT_TRUE(back.group.applyMidi(midi(MIDIMsgType::ControlChange, 0, 74, 127)));
    EXPECT_FLOAT_EQ(back.mix.getValue(), 1.0f);
}

TEST(ParameterGroupJson, MissingMembersAreResetAndReported) {
    Owner o;
    o.title.setFromString("x");
    testing::internal::CaptureStdout();
    o.group.addMidiMapping({0, 1, -1}, "mix");
    json empty = json::object();
    o.group.fromJson(empty, nullptr, FileVersion());
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Parameter [cutoff] not found in file\nParameter [mix] not found in file\n"
                       "Parameter [ratio] not found in file\nParameter [mode] not found in file\n"
                       "Parameter [name] not found in file\nParameter [OSC out IP] not found in file\n"),
              std::string::npos);
    EXPECT_EQ(out.find("[view]"), std::string::npos);
    EXPECT_EQ(o.title.toString(), "");
    EXPECT_FALSE(o.mix.midiMapped);
    EXPECT_TRUE(o.group.midiMappings()->empty());
}

TEST(ParameterGroupJson, BadMidiInputAndUnmappableEntries) {
    Owner o;
    json j;
    o.group.toJson(j);
    j["mix"]["MIDI input"] = json::parse(R"({"CC": 3})");
    testing::internal::CaptureStdout();
    EXPECT_THROW(o.group.fromJson(j, nullptr, FileVersion()), json::type_error);
    // two stored members claiming the same parameter name: the second fails
    ParameterGroup g;
    ParameterFloat a("same", ParameterFloat::Percent, Stored, 0.1f), b("same", ParameterFloat::Percent, Stored, 0.2f);
    g.add(&a);
    g.add(&b);
    json k = json::parse(R"({"same": {"value": 0.7, "MIDI input": {"channel": 2, "note": 5}}})");
    g.fromJson(k, nullptr, FileVersion());
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("[ParameterGroup] couldn't restore MIDI input mapping from file: note 5 (ch 2) -> same\n"),
              std::string::npos);
    EXPECT_FLOAT_EQ(a.getValue(), 0.7f);
    EXPECT_FLOAT_EQ(b.getValue(), 0.7f);
    // numbers are read as integers whatever their JSON type
    json lenient = json::parse(R"({"same": {"value": 0.1, "MIDI input": {"channel": 2.9, "CC": true}}})");
    testing::internal::CaptureStdout();
    g.fromJson(lenient, nullptr, FileVersion());
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(g.midiMappings()->size(), 1u);
    EXPECT_EQ(g.midiMappings()->begin()->first, (MidiMappingKey{1, 1, -1}));
}

TEST(ParameterGroupJson, NothingToWriteLeavesNull) {
    ParameterGroup g;
    ParameterFloat a("a", ParameterFloat::Percent, NoFlags, 0.1f);
    g.add(&a);
    json j;
    g.toJson(j);
    EXPECT_TRUE(j.is_null());
    testing::internal::CaptureStdout();
    g.addMidiMapping({0, 7, -1}, "a");
    testing::internal::GetCapturedStdout();
    g.toJson(j);
    EXPECT_EQ(j.dump(), R"({"a":{"MIDI input":{"CC":7,"channel":1}}})");
}
