#include "sequencing/NoteManager.h"
#include "sequencing/PitchScale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "tests/support/TempDir.h"

namespace {

using json = nlohmann::json;

NoteStep step(std::initializer_list<int> symbols, bool selected = false, int octave = 0) {
    NoteStep s;
    for (int symbol : symbols)
        s.add(Note{NoteType::NoteOn, symbol, octave, -6.0f, 10});
    s.selected = selected;
    return s;
}

NoteList ladder(int count) {
    NoteList list;
    for (int i = 0; i < count; ++i)
        list.steps.push_back(step({i}));
    return list;
}

std::vector<int> symbols(const NoteList& list) {
    std::vector<int> out;
    for (const NoteStep& s : list.steps)
        out.push_back(s[0].symbol);
    return out;
}

class NoteManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        m.notify = [this](int kind, const std::string& text) { notices.emplace_back(kind, text); };
    }
    NoteManager m;
    std::vector<std::pair<int, std::string>> notices;
};

TEST_F(NoteManagerTest, ShuffleKeepsEveryStepWholeAndMovesOnlySelectedOnes) {
    ASSERT_EQ(m.list(0)->steps.size(), 1u);  // the default note
    EXPECT_EQ(m.list(25), nullptr);
    NoteList all = ladder(40);
    for (NoteStep& s : all.steps)
        s.add(Note{NoteType::Skip, s[0].symbol + 100, 0, -6.0f, 10});
    m.setList(1, all);
    m.shuffle(1);
    std::vector<int> got = symbols(*m.list(1));
    EXPECT_NE(got, symbols(all));
    for (const NoteStep& s : m.list(1)->steps)
        EXPECT_EQ(s[1].symbol, s[0].symbol + 100);  // chords move as a whole
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, symbols(all));
    EXPECT_EQ(notices.back(), std::make_pair(1, std::string("Shuffled all notes")));

    NoteList some = ladder(30);
    const std::vector<size_t> chosen = {2, 7, 11, 19, 25};
    for (size_t i : chosen)
        some.steps[i].selected = 1;
    m.setList(2, some);
    m.shuffle(2);
    std::vector<int> moved;
    for (size_t i = 0; i < 30; ++i) {
        const NoteStep& s = m.list(2)->steps[i];
        const bool isChosen = std::count(chosen.begin(), chosen.end(), i) > 0;
        EXPECT_EQ(s.selected, isChosen ? 1 : 0);
        if (isChosen)
            moved.push_back(s[0].symbol);
        else
            EXPECT_EQ(s[0].symbol, int(i));
    }
    std::sort(moved.begin(), moved.end());
    EXPECT_EQ(moved, (std::vector<int>{2, 7, 11, 19, 25}));
    EXPECT_EQ(notices.back().second, "Shuffled 5 notes");

    some.steps[7].selected = some.steps[11].selected = some.steps[19].selected = some.steps[25].selected = 0;
    m.setList(2, some);
    m.shuffle(2);
    EXPECT_EQ(symbols(*m.list(2)), symbols(some));
    EXPECT_EQ(notices.back(), std::make_pair(8, std::string("Select 2+ notes to shuffle (or none to shuffle all notes)")));
}

TEST_F(NoteManagerTest, TransposeFoldsIntoOctavesAndRebuildsTransitions) {
    NoteList list;
    list.steps = {step({11, 0}), step({5}, true), step({0}, true)};
    m.setList(6, list);
    ASSERT_TRUE(m.transpose(6, -1));  // the two selected steps only
    EXPECT_EQ(symbols(*m.list(6)), (std::vector<int>{11, 4, 11}));
    EXPECT_EQ(m.list(6)->steps[2][0].octave, -1);
    EXPECT_EQ(notices.back().second, "Tranposed 2 notes with -1");
    EXPECT_EQ(m.list(6)->transitions.size(), 3u);

    list.steps[1].selected = list.steps[2].selected = 0;
    list.steps.push_back(step({30}));  // beyond the tuning: folded whole
    m.setList(6, list);
    ASSERT_TRUE(m.transpose(6, 1));
    EXPECT_EQ(m.list(6)->steps[0][0].symbol, 0);
    EXPECT_EQ(m.list(6)->steps[0][0].octave, 1);
    EXPECT_EQ(m.list(6)->steps[3][0].symbol, 7);
    EXPECT_EQ(m.list(6)->steps[3][0].octave, 2);
    EXPECT_EQ(notices.back().second, "Tranposed all notes with 1");
    EXPECT_FALSE(m.transpose(6, 0));
    EXPECT_FALSE(m.transpose(25, 1));
}

TEST_F(NoteManagerTest, CopyTransitionsResetAndTunings) {
    m.setList(1, ladder(3));
    m.copyNotes(1, 1, 0);
    EXPECT_EQ(symbols(*m.list(1)), (std::vector<int>{0, 1, 2, 0, 1, 2}));
    NoteList source = ladder(4);
    source.steps[1].selected = source.steps[3].selected = 1;
    m.setList(2, source);
    m.copyNotes(2, 1, 1);
    EXPECT_EQ(symbols(*m.list(1)), (std::vector<int>{0, 1, 3, 1, 2, 0, 1, 2}));
    for (int i : {1, 2})
        for (const NoteStep& s : m.list(i)->steps)
            EXPECT_EQ(s.selected, 0);
    m.copyNotes(2, 1, -1);  // appended
    EXPECT_EQ(m.list(1)->steps.size(), 12u);

    // A, B, A: A is followed by B and (wrapping) A; B by A.
    NoteList aba;
    aba.steps = {step({0}), step({4}), step({0})};
    m.setList(3, aba);
    m.rebuildTransitions(3);
    const auto& table = m.list(3)->transitions;
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table.at(step({0})).size(), 2u);
    EXPECT_EQ(table.at(step({4}))[0][0].symbol, 0);

    m.editList(4, [](NoteList& l) { l.tuning = "19 edo"; });
    m.applyTunings(DSP::scaleManager);
    EXPECT_EQ(m.list(4)->stepsPerOctave, 19);
    m.reset();
    for (int i = 0; i < 25; ++i)
        EXPECT_TRUE(m.list(i)->steps.empty());
    EXPECT_EQ(m.list(4)->tuning, "19 edo");
    m.rebuildTransitions(3);
    EXPECT_TRUE(m.list(3)->transitions.empty());  // no stale steps for markov
}

TEST(NoteListJson, RoundTripThroughAnIndependentParser) {
    PitchScaleManager scales;
    ASSERT_TRUE(scales.addScale("/home/corvane/tunings/bp.scl", {1.0, 1.1, 1.3, 1.5, 2.0}));
    NoteList list;
    list.tuning = "bp.scl";
    list.steps = {step({2}), step({0, 2}, false, -1), NoteStep{}};
    list.steps[1][0] = Note{NoteType::NoteOnSlide, 0, -1, -12.5f, 3};
    list.steps[1][1].type = NoteType::None;
    json written = noteListToJson(list, scales);
    EXPECT_EQ(written["tuning"], "/home/corvane/tunings/bp.scl");
    EXPECT_EQ(written["type"][0], "NoteOn");
    EXPECT_EQ(written["type"][1], json({"NoteOnSlide", nullptr}));
    EXPECT_EQ(written["symbol"][2], json::array());

    const std::string path = testsupport::tempDir() + "notes.json";
    std::ofstream(path) << written.dump();
    ASSERT_EQ(std::system(("python3 -m json.tool " + path + " > " + path + ".checked").c_str()), 0);
    NoteList back;
    std::string scalePath, error;
    ASSERT_TRUE(noteListFromJson(json::parse(std::ifstream(path + ".checked")), back, scalePath, error)) << error;
    EXPECT_EQ(scalePath, "/home/corvane/tunings/bp.scl");
    EXPECT_EQ(back.tuning, "bp.scl");
    EXPECT_EQ(noteListToJson(back, scales), written);
    EXPECT_FLOAT_EQ(back.steps[1][0].dbfs, -12.5f);

    // Malformed elements are refused with a message and change nothing.
    const json shortLevels = {{"type", {"NoteOn", "NoteOn"}}, {"symbol", {1, 2}}, {"octave", {0, 0}},
                              {"dbfs", {-1.0}}, {"chance", {10, 10}}};
    for (const json& bad : {shortLevels, json{{"symbol", 3}}, json{{"tuning", 5}}}) {
        EXPECT_FALSE(noteListFromJson(bad, back, scalePath, error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(back.steps.size(), 3u);
    }
    ASSERT_TRUE(noteListFromJson(json{{"tuning", "MIDI"}}, back, scalePath, error));
    EXPECT_EQ(back.tuning, "12 edo");
    EXPECT_TRUE(back.steps.empty());
}

}  // namespace
