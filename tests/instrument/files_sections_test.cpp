// Each section's writer and reader: round trips, the shapes other programs
// see, older files moved to the new keys, and the capacities.
#include "FileTestSupport.h"
#include "instrument/files/EffectsSection.h"
#include "instrument/files/MorphSection.h"
#include "instrument/files/NoteListSection.h"
#include "instrument/files/ProjectFolder.h"
#include "instrument/files/SampleGroupsSection.h"
#include "instrument/files/SequencerSection.h"
#include "instrument/files/SynthesisSection.h"
#include "sequencing/MorphController.h"

using namespace filetest;
using json = nlohmann::json;

class SectionTest : public FileTest {
protected:
    LoadResult load(const std::string& text, TrackFiles& t) {
        spit(kPath, text);
        return readFile(kPath, t, false);
    }
    static constexpr const char* kPath = "/home/corvane/part.x";
};

TEST_F(SectionTest, SequencerRoundTripSelectsThePatternWithoutForcing) {
    World a;
    a.track(1).sequencer.pattern.setValue(7, false);
    a.track(1).sequencer.clockMult.setValue(16, false);
    ASSERT_EQ(saveByFileType(kPath, FileTypeSequencer, a.track(1), true, true), SaveSuccess);
    EXPECT_EQ(sh("jq -c '.sequencer.pattern.value' " + hostFile(kPath)), "7\n");
    World b;
    ASSERT_EQ(readFile(kPath, b.track(2), false), LoadSuccess);
    EXPECT_EQ(b.track(2).sequencer.clockMult.value.load(), 16);
    EXPECT_EQ(b.track(2).selectedPattern, 7);
    EXPECT_EQ(b.track(2).sequencerResets, 1);
}

TEST_F(SectionTest, EffectsSkipUnknownAndSurplusEntriesKeepingTheRest) {
    World w;
    TestTrack& t = w.track(0);
    json doc;
    t.chain.clear();
    writeEffectsSection(doc, t.chain);
    EXPECT_TRUE(doc.is_null());  // an empty chain writes no key
    ASSERT_EQ(load(R"({"effects": [{"AudioEffectType": "wobble"}, {"AudioEffectType": "limiter"},
                        {"AudioEffectType": "stereo"}, {"AudioEffectType": "stereo"},
                        {"AudioEffectType": "limiter"}, {"AudioEffectType": "stereo"}]})", t),
              LoadSuccess);
    ASSERT_EQ(t.chain.effectCount(), 4u);
    EXPECT_EQ(t.chain.getEffect(0)->typeName, "limiter");
    EXPECT_EQ(t.chain.getEffect(3)->typeName, "limiter");
    EXPECT_GT(t.slotRefreshes, 0);
    // A track file whose "effects" is no array leaves the chain emptied.
    ASSERT_EQ(load(R"({"effects": {"AudioEffectType": "stereo"}})", t), LoadSuccess);
    EXPECT_EQ(t.chain.effectCount(), 0u);
}

TEST_F(SectionTest, InstrumentAloneCarriesSampleGroupsInsideAProjectTheTrackGroup) {
    World w;
    TestTrack& t = w.track(0);
    t.useEngine(EngineGranular);
    w.samples.addGroup("drums", {"kick.wav"});
    json alone, inProject;
    writeSynthesisSection(alone, t, true);
    writeSynthesisSection(inProject, t, false);
    EXPECT_TRUE(alone.contains("sample groups"));
    EXPECT_FALSE(alone.contains("track"));
    EXPECT_TRUE(inProject.contains("track"));
    EXPECT_FALSE(inProject.contains("sample groups"));
    EXPECT_EQ(alone["synthesis"]["synth engine"], "granular");
}

TEST_F(SectionTest, InstrumentOpenedAloneDropsSampleListsOnlyWhenNoOtherTrackPlaysSamples) {
    World w;
    w.samples.addGroup("keys", {"k.wav"});
    const std::string file = R"({"synthesis": {"synth engine": "granular"}, "sample groups": {"pads": [{"sample": "p.wav"}]}})";
    w.track(3).useEngine(EngineGranular);
    ASSERT_EQ(load(file, w.track(0)), LoadSuccess);
    EXPECT_EQ(w.samples.resets, 0);
    EXPECT_EQ(w.samples.groupCount(), 2u);
    w.track(3).useEngine(EngineNone);
    ASSERT_EQ(load(file, w.track(0)), LoadSuccess);
    EXPECT_EQ(w.samples.resets, 1);
    EXPECT_EQ(w.samples.listNames(), (std::vector<std::string>{"none", "pads"}));
}

TEST_F(SectionTest, OlderInstrumentsMoveToTheNewKeys) {
    World w;
    TestTrack& t = w.track(0);
    // 0.1.10 subtractive: "freq" becomes "filt freq"; a missing old key leaves
    // its new one at the default instead of failing the file.
    ASSERT_EQ(load(R"({"firmware version": "0.1.10", "synthesis": {"synth engine": "subtractive",
                       "freq": {"value": 7.5}, "peak": 3}})", t),
              LoadSuccess);
    EXPECT_FLOAT_EQ(t.subtractive.filtFreq.getValue(), 7.5f);
    EXPECT_FLOAT_EQ(t.subtractive.filtReso.getValue(), t.subtractive.filtReso.defaultValue);
    ASSERT_EQ(load(R"({"firmware version": "0.1.20", "synthesis": {"synth engine": "subtractive",
                       "freq": {"value": 7.5}}})", t),
              LoadSuccess);
    EXPECT_NE(t.subtractive.filtFreq.getValue(), 7.5f);

    // anadrum and quadsample become the quad engine; the older data form names the engine.
    ASSERT_EQ(load(R"({"firmware version": "0.1.2", "data": {"synthesis": "anadrum"},
                       "synthesis": {"kick vol": {"value": 0.9}, "pitch env": {"value": 0.1}}})", t),
              LoadSuccess);
    EXPECT_EQ(t.synthesisName(), "quad engine");
    EXPECT_FLOAT_EQ(t.quad.params[0]->getValue(), 0.9f);  // "1 volume"
    EXPECT_FLOAT_EQ(t.quad.params[1]->getValue(), 0.1f);  // "1 snap"
    ASSERT_EQ(load(R"({"firmware version": "0.1.29", "synthesis": {"synth engine": "quadsample",
                       "3 volume": {"value": 0.2}}})", t),
              LoadSuccess);
    EXPECT_FLOAT_EQ(t.quad.params[2]->getValue(), 0.2f);  // "4 volume"

    // At the running version the old name is refused: the reset synthesis stays.
    t.useEngine(EngineGranular);
    ASSERT_EQ(load(R"({"firmware version": "0.1.30", "synthesis": {"synth engine": "anadrum"}})", t), LoadSuccess);
    EXPECT_EQ(t.synthesisName(), "subtractive");
}

TEST_F(SectionTest, InstrumentEngineNameForTheBrowser) {
    spit("/home/corvane/a.inst", R"({"synthesis": {"synth engine": "FM"}})");
    spit("/home/corvane/b.inst", "{broken");
    EXPECT_EQ(instrumentEngineName("/home/corvane/a.inst"), "FM");
    EXPECT_EQ(instrumentEngineName("/home/corvane/b.inst"), "");
    EXPECT_EQ(FileEntry("/home/corvane", "a.inst").engine, "FM");
    EXPECT_EQ(FileEntry("/home/corvane", "b.inst").engine, "");
}

TEST_F(SectionTest, NoteListsRoundTripWithHolesChordsEmptyStepsAndScaleFiles) {
    ASSERT_TRUE(host::makeFolders(hostFile("/home/corvane/tunings")));
    spit("/home/corvane/tunings/bp.scl", "! bp\nBohlen-Pierce\n3\n!\n27/25\n25/21\n3/1\n");
    World a;
    ASSERT_EQ(readTuning("/home/corvane/tunings/bp.scl"), LoadSuccess);
    NoteList first;
    first.steps.resize(3);
    first.steps[0].add(Note{NoteType::NoteOn, 2, 0, -6.0f, 100});
    first.steps[1].add(Note{NoteType::NoteSlide, 1, 1, -3.5f, 5});
    first.steps[1].add(Note{NoteType::None, 3, -1, 0.0f, 10});
    // steps[2] stays empty
    first.tuning = "bp.scl";
    a.notes.setList(0, first);
    NoteList third;
    third.steps.resize(1);
    third.steps[0].add(Note{});
    a.notes.setList(2, third);
    ASSERT_EQ(saveByFileType(kPath, FileTypeNoteLists, a.track(0), true, true), SaveSuccess);
    const std::string file = hostFile(kPath);
    EXPECT_EQ(sh("jq -c '.\"note list\" | map(if . == null then null else .symbol end)' " + file),
              "[[2,[1,3],[]],null,[0]]\n");
    EXPECT_EQ(sh("jq -c '.\"note list\"[0] | [.tuning, .type]' " + file),
              "[\"/home/corvane/tunings/bp.scl\",[\"NoteOn\",[\"NoteSlide\",null],[]]]\n");

    World b;
    ASSERT_EQ(readFile(kPath, b.track(0), false), LoadSuccess);
    auto list = b.notes.list(0);
    ASSERT_EQ(list->steps.size(), 3u);
    EXPECT_EQ(list->tuning, "bp.scl");
    const PitchScale* bp = b.scales.getScale("bp.scl");  // the scale file was read again
    ASSERT_NE(bp, nullptr);
    EXPECT_EQ(list->stepsPerOctave, bp->stepsPerOctave());
    EXPECT_EQ(list->steps[1].size(), 2);
    EXPECT_EQ(list->steps[1][1].type, NoteType::None);
    EXPECT_TRUE(list->steps[2].empty());
    EXPECT_TRUE(b.notes.list(1)->steps.empty());
    const std::string before = slurp(kPath);
    ASSERT_EQ(saveByFileType(kPath, FileTypeNoteLists, b.track(0), true, true), SaveSuccess);
    EXPECT_EQ(slurp(kPath), before);
}

TEST_F(SectionTest, NoteListsReadMidiAsTwelveEdoAndStopAtTheirCapacities) {
    World w;
    json doc;
    doc["note list"] = json::array();
    json list = {{"tuning", "MIDI"}, {"symbol", json::array()}, {"type", json::array()}, {"octave", json::array()},
                 {"dbfs", json::array()}, {"chance", json::array()}};
    for (size_t s = 0; s < NoteList::kMaxSteps + 10; ++s) {
        list["symbol"].push_back(1);
        list["type"].push_back("Rest");
        list["octave"].push_back(0);
        list["dbfs"].push_back(-6.0);
        list["chance"].push_back(10);
    }
    for (int i = 0; i < NoteManager::kListCount + 3; ++i)
        doc["note list"].push_back(list);
    ASSERT_EQ(load(doc.dump(), w.track(0)), LoadSuccess);
    EXPECT_EQ(w.notes.list(0)->tuning, "12 edo");
    EXPECT_EQ(w.notes.list(24)->steps.size(), NoteList::kMaxSteps);
    EXPECT_EQ(w.notes.list(0)->steps[0][0].type, NoteType::None);  // "Rest" is no type
}

TEST_F(SectionTest, SampleGroupsReplaceNamedGroupsKeepOthersAndRefuseLongNames) {
    World w;
    w.samples.addGroup("drums", {"old.wav"});
    w.samples.addGroup("keys", {"k.wav"});
    ASSERT_EQ(load(R"({"sample list": {"drums": [{"sample": "new.wav"}, {"sample": "missing.wav"}],
                       "a name longer than twenty": [{"sample": "x.wav"}]}})", w.track(0)),
              LoadSuccess);
    EXPECT_EQ(w.samples.listNames(), (std::vector<std::string>{"none", "drums", "keys"}));
    auto drums = w.samples.getGroup("drums", false);
    ASSERT_EQ(drums->size(), 1u);
    EXPECT_EQ(drums->entryAt(0)->sample, "new.wav");
    EXPECT_EQ(w.samples.rebuilds, 1);

    json doc;
    writeSampleGroupsSection(doc);
    EXPECT_EQ(doc["sample groups"].size(), 2u);

    json many = {{"sample groups", json::object()}};
    for (size_t i = 0; i < SampleGroupsSection::kMaxGroups + 5; ++i)
        many["sample groups"]["g" + std::to_string(1000 + i)] = json::array();
    ASSERT_EQ(load(many.dump(), w.track(0)), LoadSuccess);
    EXPECT_EQ(w.samples.groupCount(), 2u + SampleGroupsSection::kMaxGroups);
    w.samples.reset();
    json none;
    writeSampleGroupsSection(none);
    EXPECT_TRUE(none.is_null());
}

TEST_F(SectionTest, MotionRecordingsKeepTheirSlotsUpToTwentyFive) {
    World w;
    w.motion.slots[3] = Motion::recording(0.3f);
    w.motion.slots[7] = Motion::recording(0.7f);
    ASSERT_EQ(saveByFileType(kPath, FileTypeMotion, w.track(0), true, true), SaveSuccess);
    EXPECT_EQ(sh("jq -c '[.morph.recordings | length, (to_entries[] | select(.value != null) | .key)]' " +
                 hostFile(kPath)),
              "[8,3,7]\n");
    json four = {{"morph", {{"recordings", json::array()}}}};
    for (int i = 0; i < 4; ++i)
        four["morph"]["recordings"].push_back(Motion::recording(0.1f * float(i)));
    w.motion.slots[20] = Motion::recording(0.9f);
    ASSERT_EQ(load(four.dump(), w.track(0)), LoadSuccess);
    EXPECT_FALSE(w.motion.isEmpty(0));
    EXPECT_FALSE(w.motion.isEmpty(7));  // slots past the array keep what they held
    EXPECT_FALSE(w.motion.isEmpty(20));
    json many = {{"morph", {{"recordings", json::array()}}}};
    for (int i = 0; i < 40; ++i)
        many["morph"]["recordings"].push_back(Motion::recording(0.5f));
    ASSERT_EQ(load(many.dump(), w.track(0)), LoadSuccess);
    EXPECT_FALSE(w.motion.isEmpty(24));
}

// The instrument's own recorder: empty slots before the last filled one are
// null holes, slot 0 comes back like any other, and no recording at all is
// nothing to save.
TEST_F(SectionTest, MotionSectionHasHolesUpToTheLastSlotAndReadsSlotZeroBack) {
    World w;
    MorphController recorder;
    fileTargets().motion = &recorder;
    const json take = {{"t", {0, 15}}, {"x", {0.25, 0.5}}, {"y", {0.75, 1.0}}};
    const json file = {{"morph", {{"recordings", {take, nullptr, nullptr, take}}}}};
    ASSERT_EQ(load(file.dump(), w.track(0)), LoadSuccess);
    EXPECT_FALSE(recorder.isEmpty(0));
    EXPECT_FALSE(recorder.isEmpty(3));
    EXPECT_TRUE(recorder.isEmpty(1));
    ASSERT_EQ(saveByFileType(kPath, FileTypeMotion, w.track(0), true, true), SaveSuccess);
    EXPECT_EQ(sh("jq -c '.morph.recordings | map(if . == null then null else .x end)' " + hostFile(kPath)),
              "[[0.25,0.5],null,null,[0.25,0.5]]\n");

    recorder.clear();
    const std::string before = slurp(kPath);
    EXPECT_EQ(saveByFileType(kPath, FileTypeMotion, w.track(0), true, true), SaveNothing);
    EXPECT_EQ(slurp(kPath), before);
}

TEST_F(SectionTest, ASampleListWithoutANameIsRefused) {
    World w;
    ASSERT_EQ(load(R"({"sample groups": {"": [{"sample": "x.wav"}], "drums": [{"sample": "kick.wav"}]}})",
                   w.track(0)),
              LoadSuccess);
    EXPECT_EQ(w.samples.listNames(), (std::vector<std::string>{"none", "drums"}));
    json doc;
    writeSampleGroupsSection(doc);
    EXPECT_EQ(sh("echo '" + doc.dump() + "' | jq -c '.\"sample groups\" | keys'"), "[\"drums\"]\n");
}
