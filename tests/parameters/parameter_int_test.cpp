// The integer kind: bounds, stepping in every display mode, choice lists
// replaced by name, text, OSC and JSON.
#include "TestModulator.h"
#include "gui/ListSelect.h"
#include "gui/Numpad.h"
#include "parameters/ParameterInt.h"
#include "platform/Osc.h"

#include <gtest/gtest.h>

#include <stdexcept>

using json = nlohmann::json;

namespace {
constexpr int32_t kNoMin = ParameterInt::kNoMinimum;
constexpr int32_t kNoMax = ParameterInt::kNoMaximum;

void step(ParameterInt& p, int ticks, bool alternate = false) { p.changeBy(ticks, alternate, true); }
}  // namespace

TEST(ParameterIntBounds, ModulationRangeFollowsTheBounds) {
    ParameterInt p("count", 0, PerChannel, 5, kNoMin, kNoMax);
    p.setValue(2000000000, false);
    p.updateBlock();
    EXPECT_EQ(p.getModulated(0, false, false), 0);  // no bounds, no modulation range
    ParameterInt q("voices", 0, PerChannel, 4, 1, 8);
    EXPECT_FLOAT_EQ(q.modulationDepth, 7.0f);  // 1.0 spans the range
    q.updateBlock();
    auto m = makeTestModulator(0.3f);
    q.addModulator(m);
    EXPECT_EQ(q.getModulated(0, false, false), 6);  // 4 + 2.1, rounded
    m->value = 1.0f;
    q.updateBlock();  // read again in the next block
    EXPECT_EQ(q.getModulated(0, false, false), 8);
}

TEST(ParameterIntSteps, PlainMultiplicativeSamplesAndNoOverflow) {
    ParameterInt p("count", 0, NoFlags, 0, kNoMin, kNoMax);
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(p.changeBy(1, false, false));
    EXPECT_TRUE(p.changeBy(1, false, false));  // five ticks a step
    EXPECT_EQ(int(p.value), 1);
    p.setValue(2147483640, false);
    step(p, 3, true);
    EXPECT_EQ(int(p.value), 2147483646);  // stops at the top instead of wrapping round
    p.setValue(-2147483640, false);
    step(p, -3, true);
    EXPECT_EQ(int(p.value), -2147483647);

    ParameterInt mul("mult", 1, NoFlags, 1, kNoMin, kNoMax);
    const struct {
        int32_t from;
        int ticks;
        int32_t to;
    } cases[] = {{1, 1, 2}, {4, 1, 8}, {1, -1, 0}, {0, 1, 1}, {1, 2, 4}, {1, 3, 6}, {1 << 30, 3, 2147483646}};
    for (const auto& c : cases) {
        mul.setValue(c.from, false);
        step(mul, c.ticks);
        EXPECT_EQ(int(mul.value), c.to) << c.from << " " << c.ticks;
    }

    ParameterInt s("length", 3, NoFlags, 480, kNoMin, kNoMax);
    EXPECT_EQ(s.toString(), "480 samples");
    EXPECT_EQ(s.toString(true), "10.00 ms");
    step(s, 1, true);
    EXPECT_EQ(int(s.value), 528);
}

TEST(ParameterIntChoices, SwitchWrapsAndNormalises) {
    ParameterInt sw("on", 2, NoFlags, 1, kNoMin, kNoMax);
    EXPECT_EQ(sw.toString(), "true");
    step(sw, 1);
    EXPECT_EQ(sw.toString(), "false");
    sw.setNormalised(0.99f);
    EXPECT_EQ(sw.toString(), "false");
    sw.setNormalised(1.0f);
    EXPECT_EQ(sw.toString(), "true");

    ParameterInt five("mode", 2, NoFlags, 0, kNoMin, kNoMax);
    five.setChoices({"a", "b", "c", "d", "e"}, 4);
    step(five, 3);
    EXPECT_EQ(int(five.value), 0);
    step(five, -2);
    EXPECT_EQ(int(five.value), 4);
    five.setChoices({"a-very-long-choice-name-25"}, 0);
    EXPECT_EQ(five.toString(), "a-very-long-choice-");
}

TEST(ParameterIntChoices, ReplacedListsKeepChoicesByName) {
    ParameterInt p("list", 2, MultiSlot, 0, kNoMin, kNoMax);
    p.setChoices({"kick", "snare", "hat"}, 0);
    p.selectSlot(1);
    p.setFromString("hat");
    p.setFromString("snare", 2);
    EXPECT_FALSE(p.setFromString("Hat"));
    testing::internal::CaptureStdout();
    p.setChoices({"hat", "kick", "clap"}, -1, true);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Value not found for [2][snare]\n");
    EXPECT_EQ(plain(p.values)[0], 1);  // kick moved
    EXPECT_EQ(plain(p.values)[1], 0);  // hat moved
    EXPECT_EQ(plain(p.values)[2], 0);  // snare is gone
    p.setChoices({});
    EXPECT_EQ(p.choiceCount(), 1u);
    EXPECT_EQ(int(p.maximum), 0);

    ParameterInt saver("screensaver", 2, Stored, 0, kNoMin, kNoMax);
    saver.setChoicesWithValues({"disabled", "10 sec", "30 sec", "1 min"}, {0, 10, 30, 60}, 3);
    EXPECT_EQ(saver.toString(), "1 min");
    saver.updateBlock();
    EXPECT_FLOAT_EQ(saver.output, 60.0f);
    // a short value list, or an index outside the list, never reads past the values
    saver.setChoicesWithValues({"a", "b", "c"}, {5}, 2);
    saver.updateBlock();
    EXPECT_FLOAT_EQ(saver.output, 2.0f);
    saver.values[0] = 7;
    saver.updateBlock();
    EXPECT_FLOAT_EQ(saver.output, 7.0f);
    EXPECT_EQ(saver.toString(), "");
}

TEST(ParameterIntText, RoundTripsAndRefusals) {
    ParameterInt c("n", 0, NoFlags, -42, -100, 100), d("n", 0, NoFlags, 0, -100, 100);
    EXPECT_TRUE(d.setFromString(c.toString()));
    EXPECT_EQ(int(d.value), -42);
    for (const char* text : {"x1", "99999999999", ""})
        EXPECT_FALSE(d.setFromString(text)) << text;
    EXPECT_FALSE(d.setFromString("5", 3));  // no slot 3
    EXPECT_EQ(int(d.value), -42);
    EXPECT_TRUE(d.setFromString(" 250 apples"));
    EXPECT_EQ(int(d.value), 100);
}

TEST(ParameterIntOsc, TagsRoundingAndRefusals) {
    ParameterInt p("n", 0, NoFlags, 0, kNoMin, kNoMax);
    const std::pair<oscpkt::Message, int> accepted[] = {
        {oscpkt::Message("/n").pushInt32(-12), -12},
        {oscpkt::Message("/n").pushInt64((int64_t(5) << 32) + 77), 77},  // the low 32 bits
        {oscpkt::Message("/n").pushFloat(2.5f), 3},
        {oscpkt::Message("/n").pushDouble(-2.5), -3}};
    for (const auto& [message, value] : accepted) {
        EXPECT_TRUE(p.setFromOSC(message));
        EXPECT_EQ(int(p.value), value);
    }
    for (const oscpkt::Message& refused : {oscpkt::Message("/n").pushFloat(NAN), oscpkt::Message("/n").pushDouble(1e20),
                                           oscpkt::Message("/n").pushStr("3")})
        EXPECT_FALSE(p.setFromOSC(refused));
    EXPECT_EQ(int(p.value), -3);
}

TEST(ParameterIntSnapshots, MorphRoundsToTheNearest) {
    ParameterInt p("steps", 0, XYMorph, 0, 0, 100);
    setSlots<int32_t>(p.values, {0, 0, 10, 20, 31});
    p.overridden = false;
    p.morphXY(0.5f, 0.5f);
    EXPECT_EQ(int(p.value), 15);  // 15.25
    p.storeSnapshot(7);
    EXPECT_EQ(p.values[4], 15);
}

TEST(ParameterIntJson, NamesNumbersAndLenientReading) {
    ParameterInt p("list", 2, MultiSlot | Stored, 0, kNoMin, kNoMax);
    p.setChoices({"a", "b", "c"}, 1);
    json j = p.toJson();
    ASSERT_EQ(j["value"].size(), 25u);
    EXPECT_EQ(j["value"][0], "b");
    json three = json::parse(R"({"value": ["c", "gone", "a"]})");
    p.fromJson(three, nullptr, FileVersion());
    EXPECT_EQ(plain(p.values)[0], 2);
    EXPECT_EQ(plain(p.values)[1], 0);
    EXPECT_EQ(plain(p.values)[3], 1);

    ParameterInt n("n", 0, Stored, 0, -10, 10);
    auto read = [&](const char* text) {
        json v = json::parse(text);
        n.fromJson(v, nullptr, FileVersion());
        return int(n.value);
    };
    EXPECT_EQ(read(R"({"value": 2.9})"), 2);
    EXPECT_EQ(read(R"({"value": -2.9})"), -2);
    EXPECT_EQ(read(R"({"value": 300})"), 10);
    EXPECT_EQ(read(R"({"value": true})"), 10);
    EXPECT_EQ(read(R"({})"), 10);
    EXPECT_EQ(read(R"({"value": "-4"})"), -4);
    // A text that is no number: the file cannot be interpreted.
    EXPECT_THROW(read(R"({"value": "four"})"), nlohmann::json::type_error);
    EXPECT_EQ(int(n.value), -4);
    ParameterInt xy("xy", 0, XYMorph, 0, -10, 10);
    json bad = json::parse(R"({"value": 1, "override": 1})");
    EXPECT_THROW(xy.fromJson(bad, nullptr, FileVersion()), json::type_error);

    // A file must not leave 0 voices in a slot that is selected later.
    ParameterInt voices("polyphony", 0, MultiSlot | Stored, 4, 1, 8);
    json slots = json::parse(R"({"value": ["0", "99", 3]})");
    voices.fromJson(slots, nullptr, FileVersion());
    EXPECT_EQ(plain(voices.values)[0], 1);
    EXPECT_EQ(plain(voices.values)[1], 8);
    EXPECT_EQ(plain(voices.values)[2], 3);
}

TEST(ParameterIntEditor, ListsOpenTheListPopupOthersThePad) {
    Driver::numpad.close();
    ParameterInt n("steps", 3, NoFlags, 96, kNoMin, kNoMax);
    n.openEditor();
    EXPECT_EQ(Driver::numpad.mode.load(), Numpad::kNumber);
    EXPECT_EQ(Driver::numpad.text, "96");
    EXPECT_EQ(Driver::numpad.target, &n);
    Driver::numpad.close();

    ParameterInt c("mode", 2, NoFlags, 0, kNoMin, kNoMax);
    c.setChoices({"one", "two"}, 0);
    c.openEditor();
    EXPECT_EQ(Driver::listSelection.items(), (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(Driver::listSelection.title(), "edit value: mode");
    EXPECT_EQ(Driver::listSelection.target.load(), &c);
}

// The value the audio thread and the pages read is the active slot's, after
// every way of setting it.
TEST(ParameterIntValue, EverySetterLeavesOneValue) {
    ParameterInt p("mode", ParameterInt::ChoiceMode, MultiSlot, 0);
    p.setChoices({"a", "b", "c", "d"}, 0);
    auto same = [&](const char* how) {
        EXPECT_EQ(int(p.value), int(p.values[p.activeSlot])) << how;
        EXPECT_EQ(p.toString(), p.choiceName(p.value)) << how;
    };
    ASSERT_TRUE(p.setFromString("c"));
    EXPECT_EQ(int(p.value), 2);
    same("text");
    ASSERT_TRUE(p.setFromString("d", 3));
    p.selectSlot(3);
    EXPECT_EQ(int(p.value), 3);
    same("slot selection");
    p.copySlot(0, 3);
    same("slot copy");
    json j = {{"value", json::array({"b", "a", "c", "a"})}};
    p.fromJson(j, nullptr, FileVersion{});
    same("file");
    p.setChoices({"d", "c"});
    same("new list");
    p.changeBy(5, false, true);
    same("encoder");
    p.resetToDefault();
    same("default");

    // A narrower range limits the other slots too, before one is selected.
    ParameterInt n("count", 0, MultiSlot, 0, 0, 100);
    ASSERT_TRUE(n.setFromString("90", 7));
    n.setMax(10);
    n.selectSlot(7);
    EXPECT_EQ(int(n.value), 10);

    ParameterInt m("steps", 0, XYMorph, 0, 0, 10);
    m.setValue(8, false);
    m.storeSnapshot(1);
    m.morphXY(1.0f, 0.0f);
    EXPECT_EQ(int(m.value), 8);
}
