// Whole projects: save, load into a fresh instrument and save again gives
// the same folder; the shapes of "files"; names that collide or climb; the
// loads that must not leave another project's tracks or chains behind.
#include "FileTestSupport.h"
#include "instrument/files/ProjectFolder.h"
#include "instrument/Wiring.h"
#include "instrument/track/Track.h"

#include <sys/stat.h>

using namespace filetest;
using json = nlohmann::json;

namespace {

constexpr const char* kProject = "/home/corvane/projects/song.proj";
constexpr const char* kSaved = "/home/corvane/projects/song-project/song.proj";

// Every kind of content in use.
void fill(World& w) {
    const char* names[] = {"bass", "lead", "", "lead", "../../etc/passwd"};
    for (int i = 0; i < 5; ++i) {
        TestTrack& t = w.track(i);
        t.nameParam.setFromString(names[i]);
        t.volume.setValue(-float(i), false);
        t.sequencer.pattern.setValue(i, false);
        t.useEngine(i == 2 ? EngineGranular : EngineSubtractive);
        t.chain.insertEffect(AudioEffectType::Limiter, 1);
    }
    w.track(0).subtractive.filtFreq.setValue(11.0f, false);
    w.bpm.setValue(97.0f, false);
    w.swing.setValue(0.25f, false);
    w.output.insertEffect(AudioEffectType::Stereo, 0);
    w.samples.addGroup("drums", {"kick.wav", "snare.wav"});
    NoteList list;
    list.steps.resize(2);
    list.steps[0].add(Note{NoteType::NoteOn, 4, 1, -3.0f, 9});
    w.notes.setList(5, list);
    w.motion.slots[2] = Motion::recording(0.2f);
}

}  // namespace

class ProjectTest : public FileTest {};

TEST_F(ProjectTest, SaveLoadSaveGivesIdenticalFolders) {
    {
        World a;
        fill(a);
        ASSERT_EQ(saveProject(kProject, true), SaveSuccess);
    }
    const std::string folder = hostFile("/home/corvane/projects/song-project");
    EXPECT_EQ(sh("ls " + folder + " | tr '\\n' ' '"),
              "bass.inst bass.seq etcpasswd.inst etcpasswd.seq lead-4.inst lead-4.seq lead.inst lead.seq morphing.nts "
              "notelists.nts samplelists.sl song.proj track-3.inst track-3.seq ");
    EXPECT_EQ(sh("jq -c '.files' " + folder + "/song.proj"),
              "{\"inst\":[\"bass.inst\",\"lead.inst\",\"track-3.inst\",\"lead-4.inst\",\"etcpasswd.inst\"],"
              "\"mot\":\"morphing.nts\",\"nts\":\"notelists.nts\","
              "\"seq\":[\"bass.seq\",\"lead.seq\",\"track-3.seq\",\"lead-4.seq\",\"etcpasswd.seq\"],"
              "\"sg\":\"samplelists.sl\"}\n");
    // Every file is its own canonical form for an independent formatter.
    EXPECT_EQ(sh("cd " + folder + " && for f in *; do python3 -m json.tool --sort-keys --tab $f | cmp -s - $f || echo $f; done"),
              "");
    {
        World b;
        ASSERT_EQ(readFile(kSaved, b.track(0), false), LoadSuccess);
        EXPECT_FLOAT_EQ(b.bpm.getValue(), 97.0f);
        EXPECT_EQ(b.track(2).synthesisName(), "granular");
        EXPECT_EQ(b.track(4).name(), "../../etc/passwd");
        EXPECT_EQ(b.output.effectCount(), 2u);
        ASSERT_EQ(saveProject("/home/corvane/projects/again.proj", true), SaveSuccess);
    }
    // The project file is named after the project; everything else matches.
    ASSERT_EQ(rename((hostFile("/home/corvane/projects/again-project") + "/again.proj").c_str(),
                     (hostFile("/home/corvane/projects/again-project") + "/song.proj").c_str()),
              0);
    EXPECT_EQ(sh("diff -r " + folder + " " + hostFile("/home/corvane/projects/again-project") + " && echo same"),
              "same\n");
}

TEST_F(ProjectTest, EmptyProjectStillNamesItsFilesAndReloadsAsAProject) {
    World a;
    for (int i = 0; i < 5; ++i) {
        a.track(i).useEngine(EngineNone);
        a.track(i).resetEffects(true);
    }
    a.notes.reset();
    a.bpm.setValue(140.0f, false);
    ASSERT_EQ(saveProject(kProject, true), SaveSuccess);
    EXPECT_EQ(sh("jq -c '[.files, (.effects | length)]' " + hostFile(kSaved)), "[{},1]\n");
    EXPECT_EQ(sh("ls " + hostFile("/home/corvane/projects/song-project")), "song.proj\n");
    World b;
    ASSERT_EQ(readFile(kSaved, b.track(0), false), LoadSuccess);
    EXPECT_FLOAT_EQ(b.bpm.getValue(), 140.0f);   // read as a project: "clock" is read
    EXPECT_EQ(b.track(0).chain.effectCount(), 1u);  // the master chain went to the master
    EXPECT_EQ(b.track(0).chain.getEffect(0)->typeName, "stereo");
    EXPECT_EQ(b.track(0).synthesisName(), "subtractive");  // reset like a null entry
    // A second new folder of the same name is refused before anything is written.
    EXPECT_EQ(saveProject(kProject, true), SaveFolderFailed);
}

TEST_F(ProjectTest, OnlyTheThirdTrackInUseGivesHolesBeforeIt) {
    World a;
    for (int i = 0; i < 5; ++i)
        a.track(i).useEngine(i == 2 ? EngineSubtractive : EngineNone);
    a.track(2).nameParam.setFromString("keys");
    ASSERT_EQ(saveProject(kProject, true), SaveSuccess);
    EXPECT_EQ(sh("jq -c '[.files.seq, .files.inst]' " + hostFile(kSaved)),
              "[[null,null,\"keys.seq\"],[null,null,\"keys.inst\"]]\n");
}

TEST_F(ProjectTest, TheTemplateProjectSavesAllFiveTracks) {
    World a;
    for (int i = 0; i < 5; ++i)
        a.track(i).useEngine(EngineNone);
    ASSERT_TRUE(host::makeFolders(hostFile("/home/corvane/projects/template-project")));
    ASSERT_EQ(saveProject(ProjectFolder::kTemplatePath, false), SaveSuccess);
    EXPECT_EQ(sh("jq -c '.files.inst | length' " + hostFile(ProjectFolder::kTemplatePath)), "5\n");
}

TEST_F(ProjectTest, LoadingAProjectResetsTracksItDoesNotNameAndIgnoresExtraEntries) {
    World w;
    fill(w);
    ASSERT_EQ(saveProject(kProject, true), SaveSuccess);
    json project = readJson(kSaved);
    project["files"]["seq"] = {"bass.seq", nullptr};
    project["files"]["inst"] = {"bass.inst", "lead.inst", "track-3.inst", "lead-4.inst", "etcpasswd.inst", "bass.inst",
                                "bass.inst"};
    spit(kSaved, project.dump());
    w.track(3).sequencer.pattern.setValue(20, false);
    w.trackChosen[4] = false;
    w.track(4).sequencer.pattern.setValue(21, false);
    ASSERT_EQ(readFile(kSaved, w.track(0), false), LoadSuccess);
    EXPECT_EQ(w.track(3).sequencer.pattern.values[0], 0);   // past the array: reset
    EXPECT_EQ(w.track(4).sequencer.pattern.values[0], 21);  // its choice is off: untouched
    EXPECT_EQ(w.samples.resets, 0);                           // not every track chosen
}

TEST_F(ProjectTest, FailedClockNeverResetsTheTargetTracksChain) {
    World w;
    fill(w);
    ASSERT_EQ(saveProject(kProject, true), SaveSuccess);
    json project = readJson(kSaved);
    project["effects"] = {{{"AudioEffectType", 4}}};  // a type name that is a number
    spit(kSaved, project.dump());
    TestTrack& t = w.track(1);
    const int resets = t.effectResets;
    EXPECT_EQ(readFile(kSaved, t, false), LoadInterpretFailed);
    EXPECT_EQ(t.effectResets, resets);
    EXPECT_EQ(t.chain.effectCount(), 2u);
}

TEST_F(ProjectTest, PartsNamingFilesAreNotFollowedAndFailedPartsReportTheDependency) {
    World w;
    fill(w);
    ASSERT_EQ(saveProject(kProject, true), SaveSuccess);
    json project = readJson(kSaved);
    project["files"]["nts"] = "song.proj";                      // the project names itself
    project["files"]["mot"] = "/home/corvane/elsewhere.nts";    // absolute, missing
    spit(kSaved, project.dump());
    EXPECT_EQ(readFile(kSaved, w.track(0), false), LoadDependencyFailed);
    spit("/home/corvane/elsewhere.nts", R"({"morph": {"recordings": [null, {"t": [0], "x": [1], "y": [1]}]}})");
    EXPECT_EQ(readFile(kSaved, w.track(0), false), LoadSuccess);
    EXPECT_FALSE(w.motion.isEmpty(1));
}

TEST_F(ProjectTest, TrackFileNamesStayInTheFolderAndAreUnique) {
    using ProjectFolder::trackFileNames;
    EXPECT_EQ(trackFileNames({"a", "a", "", "..", "/x/../.y"}),
              (std::array<std::string, 5>{"a", "a-2", "track-3", "track-4", "x.y"}));
    EXPECT_EQ(trackFileNames({"a-2", "a", "a", ".hidden", "a/b"}),
              (std::array<std::string, 5>{"a-2", "a", "a-3", "hidden", "ab"}));
}

// The instrument's own tracks through the file layer's default targets.
TEST_F(ProjectTest, InstrumentTracksSaveAndLoadTheirParts) {
    wireInstrument();
    Track& from = DSP::track[0];
    Track& to = DSP::track[3];
    const std::string name = from.nameParameter.toString();
    from.subtractiveCommon.filtFreq.setNormalised(0.3f);
    const float saved = from.subtractiveCommon.filtFreq.getValue();
    ASSERT_EQ(saveByFileType("/home/corvane/real.inst", FileTypeInstrument, *fileTargets().tracks[0], true, false),
              SaveSuccess);
    EXPECT_EQ(sh("jq -r '.synthesis.\"synth engine\"' " + hostFile("/home/corvane/real.inst")), "subtractive\n");
    ASSERT_EQ(readFile("/home/corvane/real.inst", *fileTargets().tracks[3], false), LoadSuccess);
    EXPECT_EQ(to.synthesis.toString(), "subtractive");
    EXPECT_EQ(to.currentEngine(), &to.subtractiveCommon);
    EXPECT_FLOAT_EQ(to.subtractiveCommon.filtFreq.getValue(), saved);
    EXPECT_FALSE(to.isBusy());
    // Leave the instrument as it was built for the other tests.
    from.subtractiveCommon.parameters.resetToDefaults();
    to.resetSynthesis(true);
    to.nameParameter.setFromString(name);
    to.parameterGroup.resetToDefaults();
    fileTargets() = instrumentFileTargets();  // as the process began
}

// A "files" that is no object is a damaged project: refused before any track
// changes. An entry that is no file name changes nothing either.
TEST_F(ProjectTest, DamagedFilesEntriesChangeNothing) {
    World w;
    fill(w);
    ASSERT_EQ(saveProject(kProject, true), SaveSuccess);
    json project = readJson(kSaved);
    for (json files : {json(5), json(nullptr), json::array({"bass.seq"})}) {
        project["files"] = files;
        spit(kSaved, project.dump());
        const int sequencerResets = w.track(1).sequencerResets, synthesisResets = w.track(1).synthesisResets;
        w.bpm.setValue(150.0f, false);
        EXPECT_EQ(readFile(kSaved, w.track(0), false), LoadInterpretFailed) << files;
        EXPECT_EQ(w.track(1).sequencerResets, sequencerResets);
        EXPECT_EQ(w.track(1).synthesisResets, synthesisResets);
        EXPECT_EQ(w.track(1).synthesisName(), "subtractive");
        EXPECT_EQ(w.track(3).sequencer.pattern.values[0], 3);
        EXPECT_FLOAT_EQ(w.bpm.getValue(), 150.0f);
        EXPECT_FALSE(w.notes.list(5)->steps.empty());
    }

    project["files"] = {{"nts", nullptr}, {"mot", 7}};
    spit(kSaved, project.dump());
    ASSERT_EQ(readFile(kSaved, w.track(0), false), LoadSuccess);
    EXPECT_FALSE(w.notes.list(5)->steps.empty());
    EXPECT_FALSE(w.motion.isEmpty(2));
}

namespace {

// A track whose chain echoes by default, as the instrument's fifth does.
class EchoTrack : public TestTrack {
public:
    EchoTrack() : TestTrack(4) { resetEffects(true); }
    int32_t defaultEffectType() const override { return int32_t(AudioEffectType::Delay); }
    void resetEffects(bool withDefault) override {
        chain.clear();
        if (withDefault)
            chain.insertEffect(AudioEffectType::Delay, 0);
        ++effectResets;
    }
};

Parameter* effectParameter(TestTrack& t, unsigned effect, const std::string& name) {
    auto group = t.chain.getParameterGroup(effect);
    for (Parameter* p : group ? group->storedParameters : std::vector<Parameter*>{})
        if (p->name == name)
            return p;
    return nullptr;
}

}  // namespace

// A track without an engine still runs its chain on the inputs routed to
// it: a chain other than its reset one is saved, whatever its length.
TEST_F(ProjectTest, TracksWithoutAnEngineKeepAChangedChain) {
    World w;
    w.tracks[4] = std::make_unique<EchoTrack>();
    w.install();
    for (int i = 0; i < 5; ++i)
        w.track(i).useEngine(i == 0 ? EngineSubtractive : EngineNone);
    auto* pan = dynamic_cast<ParameterFloat*>(effectParameter(w.track(3), 0, "pan"));
    ASSERT_NE(pan, nullptr);
    pan->setValue(-0.8f, false);
    w.track(4).chain.clear();
    w.track(4).chain.insertEffect(AudioEffectType::Stereo, 0);
    ASSERT_EQ(saveProject(kProject, true), SaveSuccess);
    // Tracks 2 and 3 hold only their reset chain: not saved.
    EXPECT_EQ(sh("jq -c '.files.inst' " + hostFile(kSaved)),
              "[\"track-1.inst\",null,null,\"track-4.inst\",\"track-5.inst\"]\n");

    pan->setValue(0.0f, false);
    w.track(4).resetEffects(true);
    ASSERT_EQ(readFile(kSaved, w.track(0), false), LoadSuccess);
    pan = dynamic_cast<ParameterFloat*>(effectParameter(w.track(3), 0, "pan"));
    ASSERT_NE(pan, nullptr);
    EXPECT_FLOAT_EQ(pan->getValue(), -0.8f);
    ASSERT_EQ(w.track(4).chain.effectCount(), 1u);
    EXPECT_EQ(w.track(4).chain.getEffect(0)->typeName, "stereo");

    // A project written before such tracks were saved loads as it always did:
    // the tracks it does not name get their reset chain.
    json old = readJson(kSaved);
    old["files"]["inst"] = {"track-1.inst", nullptr, nullptr, nullptr, nullptr};
    spit(kSaved, old.dump());
    ASSERT_EQ(readFile(kSaved, w.track(0), false), LoadSuccess);
    EXPECT_EQ(w.track(4).chain.getEffect(0)->typeName, "delay");
    EXPECT_FLOAT_EQ(dynamic_cast<ParameterFloat*>(effectParameter(w.track(3), 0, "pan"))->getValue(), 0.0f);
}
