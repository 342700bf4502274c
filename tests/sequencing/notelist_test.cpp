#include "sequencing/NoteManager.h"
#include "sequencing/PitchScale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/TempDir.h"

namespace {

using json = nlohmann::json;

Note note(int symbol, int octave = 0, float dbfs = -6.0f, int chance = 10, NoteType type = NoteType::NoteOn) {
    return Note{type, symbol, octave, dbfs, chance};
}

NoteStep step(std::initializer_list<Note> notes, bool selected = false) {
    NoteStep s;
    for (const Note& n : notes)
        s.add(n);
    s.selected = selected ? 1 : 0;
    return s;
}

// A list of single-note steps with degrees 0..count-1.
NoteList ladder(int count) {
    NoteList list;
    for (int i = 0; i < count; ++i)
        list.steps.push_back(step({note(i)}));
    return list;
}

std::vector<int> symbols(const NoteList& list) {
    std::vector<int> out;
    for (const NoteStep& s : list.steps)
        out.push_back(s[0].symbol);
    return out;
}

struct Notices {
    std::vector<std::pair<int, std::string>> seen;
    void attach(NoteManager& m) {
        m.notify = [this](int kind, const std::string& text) { seen.emplace_back(kind, text); };
    }
};

TEST(NoteStep, HoldsAtMostEightNotesInInsertionOrder) {
    NoteStep s;
    for (int i = 0; i < NoteStep::kMaxNotes; ++i)
        EXPECT_TRUE(s.add(note(i)));
    EXPECT_FALSE(s.add(note(9)));
    EXPECT_EQ(s.size(), 8);
    s.erase(0);
    EXPECT_TRUE(s.insert(0, note(42)));
    EXPECT_EQ(s[0].symbol, 42);
    EXPECT_EQ(s[7].symbol, 7);
    EXPECT_FALSE(s.insert(9, note(1)));
}

TEST(NoteManager, StartsWithOneDefaultNoteInListZeroAndTwentyFourEmptyLists) {
    NoteManager m;
    EXPECT_EQ(m.listCount(), 25);
    auto first = m.list(0);
    ASSERT_EQ(first->steps.size(), 1u);
    const Note& n = first->steps[0][0];
    EXPECT_EQ(n.type, NoteType::NoteOn);
    EXPECT_EQ(n.symbol, 0);
    EXPECT_EQ(n.octave, 0);
    EXPECT_FLOAT_EQ(n.dbfs, -6.0f);
    EXPECT_EQ(n.chance, 10);
    for (int i = 1; i < 25; ++i) {
        EXPECT_TRUE(m.list(i)->steps.empty());
        EXPECT_EQ(m.list(i)->tuning, "12 edo");
        EXPECT_EQ(m.list(i)->stepsPerOctave, 12);
    }
    EXPECT_EQ(m.list(25), nullptr);
    EXPECT_EQ(m.list(-1), nullptr);
    EXPECT_EQ(m.rtList(25), nullptr);
}

TEST(NoteManager, TransitionsCollectSuccessorsOfEqualPitchesWithWrapAround) {
    NoteManager m;
    NoteList list;
    list.steps = {step({note(0)}), step({note(4)}), step({note(0, 0, -20.0f, 3)})};  // A, B, A (level differs)
    m.setList(3, list);
    m.rebuildTransitions(3);
    const auto& table = m.list(3)->transitions;
    ASSERT_EQ(table.size(), 2u);
    const auto& afterA = table.at(step({note(0)}));
    ASSERT_EQ(afterA.size(), 2u);
    EXPECT_EQ(afterA[0][0].symbol, 4);
    EXPECT_EQ(afterA[1][0].symbol, 0);
    ASSERT_EQ(table.at(step({note(4)})).size(), 1u);

    // Order: octave before degree, a prefix first.
    NoteStepPitchLess less;
    EXPECT_TRUE(less(step({note(11, -1)}), step({note(0, 0)})));
    EXPECT_TRUE(less(step({note(0)}), step({note(0), note(4)})));
    EXPECT_FALSE(less(step({note(0, 0, -1.0f)}), step({note(0, 0, -30.0f)})));

    // Emptied: the table goes too, so no stale step is played from it.
    m.editList(3, [](NoteList& l) { l.clear(); });
    m.rebuildTransitions(3);
    EXPECT_TRUE(m.list(3)->transitions.empty());
}

TEST(NoteManager, ShuffleOfAllStepsKeepsEveryStepWhole) {
    NoteManager m;
    Notices notices;
    notices.attach(m);
    NoteList list = ladder(40);
    for (NoteStep& s : list.steps)
        s.add(note(s[0].symbol + 100));  // chords must move as a whole
    m.setList(1, list);
    m.shuffle(1);
    auto shuffled = m.list(1);
    std::vector<int> got = symbols(*shuffled);
    EXPECT_NE(got, symbols(list));  // one of 40! orders staying put is no real chance
    for (const NoteStep& s : shuffled->steps) {
        ASSERT_EQ(s.size(), 2);
        EXPECT_EQ(s[1].symbol, s[0].symbol + 100);
    }
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, symbols(list));
    ASSERT_EQ(notices.seen.size(), 1u);
    EXPECT_EQ(notices.seen[0], std::make_pair(1, std::string("Shuffled all notes")));
}

TEST(NoteManager, ShuffleOfSelectedStepsExchangesOnlyThosePositions) {
    NoteManager m;
    Notices notices;
    notices.attach(m);
    NoteList list = ladder(30);
    const std::vector<size_t> chosen = {2, 7, 11, 19, 25};
    for (size_t i : chosen)
        list.steps[i].selected = 1;
    m.setList(4, list);
    m.shuffle(4);
    auto after = m.list(4);
    std::vector<int> moved;
    for (size_t i = 0; i < after->steps.size(); ++i) {
        const bool isChosen = std::find(chosen.begin(), chosen.end(), i) != chosen.end();
        EXPECT_EQ(after->steps[i].selected, isChosen ? 1 : 0) << i;
        if (isChosen)
            moved.push_back(after->steps[i][0].symbol);
        else
            EXPECT_EQ(after->steps[i][0].symbol, int(i));
    }
    std::sort(moved.begin(), moved.end());
    EXPECT_EQ(moved, (std::vector<int>{2, 7, 11, 19, 25}));
    ASSERT_EQ(notices.seen.size(), 1u);
    EXPECT_EQ(notices.seen[0].second, "Shuffled 5 notes");

    // Exactly one selected: a hint and no change.
    NoteList one = ladder(6);
    one.steps[3].selected = 1;
    m.setList(5, one);
    m.shuffle(5);
    EXPECT_EQ(symbols(*m.list(5)), symbols(one));
    EXPECT_EQ(notices.seen.back(),
              std::make_pair(8, std::string("Select 2+ notes to shuffle (or none to shuffle all notes)")));

    const size_t before = notices.seen.size();
    m.shuffle(24);  // empty
    m.shuffle(25);  // outside
    EXPECT_EQ(notices.seen.size(), before);
}

TEST(NoteManager, TransposeWrapsDegreesIntoOctavesAndRespectsSelection) {
    NoteManager m;
    Notices notices;
    notices.attach(m);
    NoteList list;
    list.steps = {step({note(11, 0), note(0, 0)}), step({note(5)})};
    m.setList(6, list);
    ASSERT_TRUE(m.transpose(6, 1));
    auto up = m.list(6);
    EXPECT_EQ(up->steps[0][0].symbol, 0);
    EXPECT_EQ(up->steps[0][0].octave, 1);
    EXPECT_EQ(up->steps[0][1].symbol, 1);
    EXPECT_EQ(up->steps[1][0].symbol, 6);
    EXPECT_EQ(notices.seen.back().second, "Tranposed all notes with 1");
    EXPECT_FALSE(up->transitions.empty());  // rebuilt

    m.setList(6, list);
    ASSERT_TRUE(m.transpose(6, -1));
    EXPECT_EQ(m.list(6)->steps[0][1].symbol, 11);
    EXPECT_EQ(m.list(6)->steps[0][1].octave, -1);
    EXPECT_EQ(notices.seen.back().second, "Tranposed all notes with -1");

    NoteList three = ladder(3);
    three.steps[0].selected = 1;
    three.steps[2].selected = 1;
    m.setList(7, three);
    ASSERT_TRUE(m.transpose(7, 1));
    EXPECT_EQ(symbols(*m.list(7)), (std::vector<int>{1, 1, 3}));
    EXPECT_EQ(notices.seen.back().second, "Tranposed 2 notes with 1");

    // Far out of range degrees (a tuning change, a file) still end in range.
    NoteList wide;
    wide.steps = {step({note(30, 0)})};
    m.setList(8, wide);
    ASSERT_TRUE(m.transpose(8, 1));
    EXPECT_EQ(m.list(8)->steps[0][0].symbol, 7);
    EXPECT_EQ(m.list(8)->steps[0][0].octave, 2);

    EXPECT_FALSE(m.transpose(7, 0));
    EXPECT_FALSE(m.transpose(25, 3));
    const size_t before = notices.seen.size();
    EXPECT_TRUE(m.transpose(20, 2));  // empty: no change, still the notice
    EXPECT_EQ(notices.seen.size(), before + 1);
    EXPECT_EQ(notices.seen.back().second, "Tranposed all notes with 2");
}

TEST(NoteManager, CopyInsertsSelectedOrAllStepsAndClearsMarks) {
    NoteManager m;
    m.setList(1, ladder(3));
    m.copyNotes(1, 1, 0);  // onto itself at the front
    EXPECT_EQ(symbols(*m.list(1)), (std::vector<int>{0, 1, 2, 0, 1, 2}));
    EXPECT_FALSE(m.list(1)->transitions.empty());

    NoteList source = ladder(4);
    source.steps[1].selected = 1;
    source.steps[3].selected = 1;
    m.setList(2, source);
    NoteList dest;
    dest.steps = {step({note(10)}), step({note(11)})};
    m.setList(3, dest);
    m.copyNotes(2, 3, 1);
    EXPECT_EQ(symbols(*m.list(3)), (std::vector<int>{10, 1, 3, 11}));
    for (const NoteStep& s : m.list(3)->steps)
        EXPECT_EQ(s.selected, 0);
    for (const NoteStep& s : m.list(2)->steps)
        EXPECT_EQ(s.selected, 0);
    m.copyNotes(2, 3, -1);  // appended
    EXPECT_EQ(m.list(3)->steps.size(), 8u);
    m.copyNotes(2, 3, 99);  // past the end: appended
    EXPECT_EQ(m.list(3)->steps.size(), 12u);
    m.copyNotes(2, 25, 0);  // outside: nothing
    m.copyNotes(-1, 3, 0);
    EXPECT_EQ(m.list(3)->steps.size(), 12u);
}

TEST(NoteManager, ResetEmptiesListsAndKeepsTuningsAndApplyTuningsSetsDegreeCounts) {
    NoteManager m;
    m.editList(9, [](NoteList& l) {
        l = ladder(4);
        l.tuning = "19 edo";
    });
    m.editList(10, [](NoteList& l) {
        l = ladder(2);
        l.tuning = "missing.scl";
        l.stepsPerOctave = 7;
    });
    m.applyTunings(DSP::scaleManager);
    EXPECT_EQ(m.list(9)->stepsPerOctave, 19);
    EXPECT_EQ(m.list(10)->stepsPerOctave, 7);  // no such scale: unchanged
    EXPECT_EQ(m.list(9)->transitions.size(), 4u);
    m.reset();
    for (int i = 0; i < 25; ++i)
        EXPECT_TRUE(m.list(i)->steps.empty()) << i;
    EXPECT_EQ(m.list(9)->tuning, "19 edo");
    EXPECT_EQ(m.list(9)->stepsPerOctave, 19);
}

TEST(NoteListJson, RoundTripKeepsStepsChordsTypesAndScaleFilePath) {
    PitchScaleManager scales;
    ASSERT_TRUE(scales.addScale("/home/corvane/tunings/bp.scl", {1.0, 1.1, 1.3, 1.5, 2.0}));
    NoteList list;
    list.tuning = "bp.scl";
    list.steps = {step({note(2, 0, -6.0f, 10)}),
                  step({note(0, -1, -12.5f, 3, NoteType::NoteOnSlide), note(2, 1, 0.0f, 0, NoteType::Skip)}),
                  step({note(1, 0, -3.0f, 10, NoteType::None)}), NoteStep{}};
    json written = noteListToJson(list, scales);
    EXPECT_EQ(written["tuning"], "/home/corvane/tunings/bp.scl");
    EXPECT_EQ(written["type"][0], "NoteOn");
    EXPECT_EQ(written["symbol"][0], 2);
    EXPECT_EQ(written["dbfs"][0], -6.0);
    EXPECT_EQ(written["type"][1], json({"NoteOnSlide", "Skip"}));
    EXPECT_TRUE(written["type"][2].is_null());
    EXPECT_EQ(written["symbol"][3], json::array());

    // Through an independent parser and back.
    const std::string path = testsupport::tempDir() + "notes.json";
    {
        std::ofstream out(path);
        out << json{{"note list", {written}}}.dump(2);
    }
    const std::string command = "python3 -m json.tool " + path + " > " + path + ".checked";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream in(path + ".checked");
    json reread = json::parse(in)["note list"][0];

    NoteList back;
    back.stepsPerOctave = 4;
    std::string scalePath, error;
    ASSERT_TRUE(noteListFromJson(reread, back, scalePath, error)) << error;
    EXPECT_EQ(scalePath, "/home/corvane/tunings/bp.scl");
    EXPECT_EQ(back.tuning, "bp.scl");
    ASSERT_EQ(back.steps.size(), 4u);
    ASSERT_EQ(back.steps[1].size(), 2);
    EXPECT_EQ(back.steps[1][0].type, NoteType::NoteOnSlide);
    EXPECT_EQ(back.steps[1][0].octave, -1);
    EXPECT_FLOAT_EQ(back.steps[1][0].dbfs, -12.5f);
    EXPECT_EQ(back.steps[1][0].chance, 3);
    EXPECT_EQ(back.steps[1][1].type, NoteType::Skip);
    EXPECT_EQ(back.steps[2][0].type, NoteType::None);
    EXPECT_TRUE(back.steps[3].empty());
    EXPECT_EQ(noteListToJson(back, scales), written);
}

TEST(NoteListJson, TuningNamesAndMalformedElements) {
    NoteList list;
    std::string scalePath, error;
    ASSERT_TRUE(noteListFromJson(json{{"tuning", "MIDI"}}, list, scalePath, error));
    EXPECT_EQ(list.tuning, "12 edo");
    EXPECT_TRUE(list.steps.empty());
    ASSERT_TRUE(noteListFromJson(json{{"tuning", "19 edo"}, {"type", {"Rest"}}, {"symbol", {1}}, {"octave", {0}},
                                      {"dbfs", {-1.0}}, {"chance", {10}}},
                                 list, scalePath, error));
    EXPECT_EQ(list.steps[0][0].type, NoteType::None);
    EXPECT_TRUE(scalePath.empty());
    ASSERT_TRUE(noteListFromJson(json{{"tuning", "plain.scl"}}, list, scalePath, error));
    EXPECT_EQ(list.tuning, "plain.scl");
    EXPECT_EQ(scalePath, "plain.scl");

    // "dbfs" shorter than "symbol", text where a number belongs: refused, list kept.
    NoteList kept = ladder(2);
    const json shortLevels = {{"type", {"NoteOn", "NoteOn"}}, {"symbol", {1, 2}}, {"octave", {0, 0}},
                              {"dbfs", {-1.0}},               {"chance", {10, 10}}};
    EXPECT_FALSE(noteListFromJson(shortLevels, kept, scalePath, error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(kept.steps.size(), 2u);
    const json textSymbol = {{"type", {"NoteOn"}}, {"symbol", {"two"}}, {"octave", {0}}, {"dbfs", {0.0}}, {"chance", {1}}};
    EXPECT_FALSE(noteListFromJson(textSymbol, kept, scalePath, error));
    EXPECT_FALSE(noteListFromJson(json{{"symbol", 3}}, kept, scalePath, error));
    EXPECT_FALSE(noteListFromJson(json{{"tuning", 5}}, kept, scalePath, error));
    EXPECT_EQ(symbols(kept), (std::vector<int>{0, 1}));

    // A chord beyond eight notes keeps its first eight.
    json big = {{"type", json::array()}, {"symbol", json::array()}, {"octave", json::array()},
                {"dbfs", json::array()}, {"chance", json::array()}};
    json t = json::array(), s = json::array(), o = json::array(), d = json::array(), c = json::array();
    for (int k = 0; k < 10; ++k) {
        t.push_back("NoteOn");
        s.push_back(k);
        o.push_back(0);
        d.push_back(-6.0);
        c.push_back(10);
    }
    big["type"].push_back(t);
    big["symbol"].push_back(s);
    big["octave"].push_back(o);
    big["dbfs"].push_back(d);
    big["chance"].push_back(c);
    ASSERT_TRUE(noteListFromJson(big, list, scalePath, error)) << error;
    EXPECT_EQ(list.steps[0].size(), 8);
}

}  // namespace
