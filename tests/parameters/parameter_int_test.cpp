// The integer kind: bounds, stepping in every display mode, choice lists
// replaced by name, text, OSC and JSON.
#include "TestModulator.h"
#include "gui/ListSelect.h"
#include "gui/Numpad.h"
#include "parameters/ParameterInt.h"
#include "platform/Osc.h"

#include <gtest/gtest.h>

#include <climits>

using json = nlohmann::json;

namespace {
constexpr int32_t kNoMin = ParameterInt::kNoMinimum;
constexpr int32_t kNoMax = ParameterInt::kNoMaximum;

void steps(ParameterInt& p, int ticks, bool alternate = false) { p.changeBy(ticks, alternate, true); }
}  // namespace

TEST(ParameterIntBounds, UnboundedModulatesToZero) {
    ParameterInt p("count", 0, PerChannel, 5, kNoMin, kNoMax);
    p.setValue(2000000000, false);
    EXPECT_EQ(int(p.value), 2000000000);
    p.updateBlock();
    EXPECT_EQ(p.getModulated(0, false, false), 0);
    ParameterInt q("voices", 0, PerChannel, 1, 1, 8);
    EXPECT_FLOAT_EQ(q.modulationDepth, 7.0f);
    q.setValue(4, false);
    q.updateBlock();
    auto m = makeTestModulator(0.3f);  // 0.3 x 7 = 2.1
    q.addModulator(m);
    EXPECT_EQ(q.getModulated(0, false, false), 6);
    m->value = 1.0f;
    EXPECT_EQ(q.getModulated(0, false, false), 8);
}

TEST(ParameterIntSteps, TickCountingAndOverflowAtTheEnds) {
    ParameterInt p("count", 0, NoFlags, 0, kNoMin, kNoMax);
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(p.changeBy(1, false, false));
    EXPECT_TRUE(p.changeBy(1, false, false));
    EXPECT_EQ(int(p.value), 1);
    for (int i = 0; i < 5; ++i)
        EXPECT_FALSE(p.changeBy(2, false, false));  // never exactly 5
    EXPECT_TRUE(p.changeBy(2, false, true));
    EXPECT_EQ(int(p.value), 3);
    // near the top a coarse step stops at the maximum instead of wrapping
    p.setValue(2147483640, false);
    steps(p, 3, true);
    EXPECT_EQ(int(p.value), 2147483646);
    p.setValue(-2147483640, false);
    steps(p, -3, true);
    EXPECT_EQ(int(p.value), -2147483647);
}

TEST(ParameterIntSteps, MultiplicativeDoublesAndHalves) {
    ParameterInt p("mult", 1, NoFlags, 1, kNoMin, kNoMax);
    steps(p, 1);
    steps(p, 1);
    steps(p, 1);
    EXPECT_EQ(int(p.value), 8);
    p.setValue(1, false);
    steps(p, -1);
    EXPECT_EQ(int(p.value), 0);
    steps(p, 1);
    EXPECT_EQ(int(p.value), 1);
    steps(p, 2);
    EXPECT_EQ(int(p.value), 4);
    p.setValue(1, false);
    steps(p, 3);
    EXPECT_EQ(int(p.value), 6);
    p.setValue(1 << 30, false);
    steps(p, 3);
    EXPECT_EQ(int(p.value), 2147483646);
}

TEST(ParameterIntChoices, SwitchWrapsAndNormalises) {
    ParameterInt sw("on", 2, NoFlags, 0, kNoMin, kNoMax);
    EXPECT_EQ(sw.toString(), "false");
    sw.setValue(1, false);
    EXPECT_EQ(sw.toString(), "true");
    steps(sw, 1);
    EXPECT_EQ(sw.toString(), "false");
    sw.setNormalised(0.99f);
    EXPECT_EQ(sw.toString(), "false");
    sw.setNormalised(1.0f);
    EXPECT_EQ(sw.toString(), "true");

    ParameterInt five("mode", 2, NoFlags, 0, kNoMin, kNoMax);
    five.setChoices({"a", "b", "c", "d", "e"}, 4);
    steps(five, 3);
    EXPECT_EQ(int(five.value), 0);
    steps(five, -2);
    EXPECT_EQ(int(five.value), 4);
}

TEST(ParameterIntChoices, ReplacedListsKeepChoicesByName) {
    ParameterInt p("list", 2, MultiSlot, 0, kNoMin, kNoMax);
    p.setChoices({"kick", "snare", "hat"}, 0);
    p.selectSlot(1);
    p.setFromString("hat");
    p.setFromString("snare", 2);
    testing::internal::CaptureStdout();
    p.setChoices({"hat", "kick", "clap"}, -1, true);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(p.values[0], 1);  // kick moved
    EXPECT_EQ(p.values[1], 0);  // hat moved
    EXPECT_EQ(p.values[2], 0);  // snare is gone
    EXPECT_NE(out.find("Value not found for [2][snare]\n"), std::string::npos);
    EXPECT_EQ(p.maximum, 2);

    p.setChoices({});
    EXPECT_EQ(p.choiceCount(), 1u);
    EXPECT_EQ(p.toString(), "");
    EXPECT_EQ(p.maximum, 0);
    EXPECT_EQ(p.values[0], 0);
}

TEST(ParameterIntChoices, ValuesPublishAndShortValueListsAreSafe) {
    ParameterInt saver("screensaver", 2, Stored, 0, kNoMin, kNoMax);
    saver.setChoicesWithValues({"disabled", "10 sec", "30 sec", "1 min"}, {0, 10, 30, 60}, 3);
    EXPECT_EQ(saver.toString(), "1 min");
    saver.updateBlock();
    EXPECT_FLOAT_EQ(saver.output, 60.0f);
    saver.setChoicesWithValues({"a", "b", "c"}, {5}, 2);
    saver.updateBlock();
    EXPECT_FLOAT_EQ(saver.output, 2.0f);
    // an index outside the list reads as itself, never past the values
    saver.values[0] = 7;
    saver.updateBlock();
    EXPECT_FLOAT_EQ(saver.output, 7.0f);
    EXPECT_EQ(saver.toString(), "");
}

TEST(ParameterIntText, ModesRoundTripAndBadTextIsRefused) {
    ParameterInt s("length", 3, NoFlags, 480, kNoMin, kNoMax);
    EXPECT_EQ(s.toString(), "480 samples");
    EXPECT_EQ(s.toString(true), "10.00 ms");
    steps(s, 1, true);
    EXPECT_EQ(int(s.value), 528);
    ParameterInt c("n", 0, NoFlags, 0, -100, 100);
    c.setValue(-42, false);
    ParameterInt d("n", 0, NoFlags, 0, -100, 100);
    EXPECT_TRUE(d.setFromString(c.toString()));
    EXPECT_EQ(int(d.value), -42);
    EXPECT_FALSE(d.setFromString("x1"));
    EXPECT_FALSE(d.setFromString("99999999999"));
    EXPECT_FALSE(d.setFromString("5", 3));
    EXPECT_EQ(int(d.value), -42);
    EXPECT_TRUE(d.setFromString(" 250 apples"));
    EXPECT_EQ(int(d.value), 100);

    ParameterInt name("name", 2, NoFlags, 0, kNoMin, kNoMax);
    name.setChoices({"a-very-long-choice-name-25"}, 0);
    EXPECT_EQ(name.toString(), "a-very-long-choice-");
    EXPECT_FALSE(name.setFromString("A-VERY"));
}

TEST(ParameterIntOsc, TagsRoundingAndRefusals) {
    ParameterInt p("n", 0, NoFlags, 0, kNoMin, kNoMax);
    EXPECT_TRUE(p.setFromOSC(oscpkt::Message("/n").pushInt32(-12)));
    EXPECT_EQ(int(p.value), -12);
    EXPECT_TRUE(p.setFromOSC(oscpkt::Message("/n").pushInt64((int64_t(5) << 32) + 77)));
    EXPECT_EQ(int(p.value), 77);
    EXPECT_TRUE(p.setFromOSC(oscpkt::Message("/n").pushFloat(2.5f)));
    EXPECT_EQ(int(p.value), 3);
    EXPECT_TRUE(p.setFromOSC(oscpkt::Message("/n").pushDouble(-2.5)));
    EXPECT_EQ(int(p.value), -3);
    EXPECT_FALSE(p.setFromOSC(oscpkt::Message("/n").pushFloat(NAN)));
    EXPECT_FALSE(p.setFromOSC(oscpkt::Message("/n").pushDouble(1e20)));
    EXPECT_FALSE(p.setFromOSC(oscpkt::Message("/n").pushStr("3")));
    EXPECT_EQ(int(p.value), -3);
    EXPECT_TRUE(p.overridden);
}

TEST(ParameterIntSnapshots, MorphRoundsToTheNearest) {
    ParameterInt p("steps", 0, XYMorph, 0, 0, 100);
    setSlots<int32_t>(p.values, {0, 0, 10, 20, 31});
    p.overridden = false;
    p.morphXY(0.5f, 0.5f);
    EXPECT_EQ(p.values[0], 15);
    EXPECT_EQ(int(p.value), 15);
    p.storeSnapshot(7);
    EXPECT_EQ(p.values[4], 15);
    p.setValue(50, true);
    p.morphXY(0.0f, 0.0f);
    EXPECT_EQ(int(p.value), 50);
}

TEST(ParameterIntJson, WritesNamesAndReadsLeniently) {
    ParameterInt p("list", 2, MultiSlot | Stored, 0, kNoMin, kNoMax);
    p.setChoices({"a", "b", "c"}, 1);
    json j = p.toJson();
    ASSERT_EQ(j["value"].size(), 25u);
    EXPECT_EQ(j["value"][0], "b");
    json three = json::parse(R"({"value": ["c", "gone", "a"]})");
    p.fromJson(three, nullptr, FileVersion());
    EXPECT_EQ(p.values[0], 2);
    EXPECT_EQ(p.values[1], 0);
    EXPECT_EQ(p.values[2], 0);
    EXPECT_EQ(p.values[3], 1);

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
    EXPECT_EQ(read(R"({"value": "four"})"), -4);  // refused text keeps the value
    EXPECT_EQ(read(R"({"value": 1e300})"), 10);
    json bad = json::parse(R"({"value": 1, "override": 1})");
    ParameterInt xy("xy", 0, XYMorph, 0, -10, 10);
    EXPECT_THROW(xy.fromJson(bad, nullptr, FileVersion()), json::type_error);
    json noOverride = json::parse(R"({"value": [1, 2, 3, 4, 5]})");
    xy.overridden = false;
    xy.fromJson(noOverride, nullptr, FileVersion());
    EXPECT_TRUE(xy.overridden);
    xy.morphXY(1.0f, 1.0f);
    EXPECT_EQ(int(xy.value), 1);
}

TEST(ParameterIntJson, TextIntoAnInactiveSlotIsLimitedToo) {
    // A file must not leave 0 voices in a slot that is selected later.
    ParameterInt voices("polyphony", 0, MultiSlot | Stored, 4, 1, 8);
    json j = json::parse(R"({"value": ["0", "99", 3]})");
    voices.fromJson(j, nullptr, FileVersion());
    EXPECT_EQ(voices.values[0], 1);
    EXPECT_EQ(voices.values[1], 8);
    EXPECT_EQ(voices.values[2], 3);
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
    EXPECT_NE(Driver::listSelection.state(), 0u);
    EXPECT_EQ(Driver::listSelection.items(), (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(Driver::listSelection.title(), "edit value: mode");
    EXPECT_EQ(Driver::listSelection.target.load(), &c);
}
