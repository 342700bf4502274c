// The text kind: plain texts, addresses stepped by the encoder, reset and
// JSON.
#include "gui/Numpad.h"
#include "parameters/ParameterString.h"
#include "platform/Osc.h"

#include <gtest/gtest.h>

using json = nlohmann::json;

TEST(ParameterStringAddress, OctetsAreTheTruth) {
    ParameterString ip("OSC out IP", ParameterString::Address, Stored, "10.0.0.7");
    EXPECT_EQ(ip.toString(), "10.0.0.7");
    EXPECT_EQ(ip.octets[0], 10);
    EXPECT_EQ(ip.octets[3], 7);
    ParameterString letters("ip", ParameterString::Address, NoFlags, "localhost");
    EXPECT_EQ(letters.toString(), "192.168.1.1");

    EXPECT_TRUE(ip.setFromString("1.2.3"));
    EXPECT_EQ(ip.toString(), "192.168.1.1");
    ip.setFromString("1.2.3.4.5");
    EXPECT_EQ(ip.toString(), "1.2.3.4");
    ip.setFromString("300.1.2.-5");
    EXPECT_EQ(ip.toString(), "255.1.2.0");
    ip.setFromString("99999999999999999999.1.2.3");  // no overflow, just the top
    EXPECT_EQ(ip.toString(), "255.1.2.3");
}

TEST(ParameterStringAddress, EncoderStepsTheLastNumber) {
    ParameterString ip("ip", ParameterString::Address, NoFlags, "10.0.0.254");
    EXPECT_TRUE(ip.changeBy(1, false, true));
    EXPECT_EQ(ip.toString(), "10.0.0.255");
    EXPECT_FALSE(ip.changeBy(1, false, true));
    EXPECT_EQ(ip.toString(), "10.0.0.255");
    ip.setFromString("10.0.0.5");
    EXPECT_TRUE(ip.changeBy(-1, true, true));
    EXPECT_EQ(ip.toString(), "10.0.0.0");
    // five single ticks make one step
    ip.setFromString("10.0.0.5");
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(ip.changeBy(1, false, false));
    EXPECT_TRUE(ip.changeBy(1, false, false));
    EXPECT_EQ(ip.toString(), "10.0.0.6");
    ParameterString locked("ip", ParameterString::Address, Locked, "10.0.0.5");
    EXPECT_FALSE(locked.changeBy(1, false, true));
    EXPECT_EQ(locked.toString(), "10.0.0.5");
}

TEST(ParameterStringText, PlainTextIgnoresEncoderAndNumbers) {
    ParameterString name("name", ParameterString::Text, Stored, "track-1");
    EXPECT_FALSE(name.changeBy(1, false, true));
    EXPECT_EQ(name.toString(), "track-1");
    EXPECT_FLOAT_EQ(name.getNormalised(), 0.0f);
    name.setNormalised(1.0f);
    EXPECT_EQ(name.toString(), "track-1");
    EXPECT_FALSE(name.setFromOSC(oscpkt::Message("/name")));
    EXPECT_TRUE(name.setFromString("bass line"));
    ParameterString copy("name", ParameterString::Text, Stored, "");
    copy.setFromString(name.toString());
    EXPECT_EQ(copy.toString(), "bass line");
    // longer texts are kept up to the buffer's size, never cut inside a character
    copy.setFromString(std::string(300, 'x'));
    EXPECT_EQ(copy.toString().size(), SharedText::kCapacity);
    std::string umlauts;
    for (int i = 0; i < 100; ++i)
        umlauts += "\xc3\xbc";
    EXPECT_TRUE(copy.setFromString(umlauts));
    EXPECT_EQ(copy.toString().size(), SharedText::kCapacity - 1);
    EXPECT_NO_THROW(copy.toJson().dump());
    // bytes that are no UTF-8 could never be saved: refused
    EXPECT_FALSE(copy.setFromString("caf\xe9"));
    EXPECT_FALSE(copy.setFromString("\xed\xa0\x80"));
    EXPECT_EQ(copy.toString().size(), SharedText::kCapacity - 1);
}

TEST(ParameterStringText, ResetEmptiesTextButKeepsAnAddress) {
    ParameterString name("name", ParameterString::Text, Stored, "track-1");
    name.resetToDefault();
    EXPECT_EQ(name.toString(), "");
    ParameterString ip("ip", ParameterString::Address, Stored | MultiSlot, "10.0.0.7");
    ip.resetToDefault();
    EXPECT_EQ(ip.toString(), "10.0.0.7");
    EXPECT_EQ(ip.slotText(3), "");
}

TEST(ParameterStringJson, WritesTextsAndRefusesOtherTypes) {
    ParameterString many("names", ParameterString::Text, Stored | MultiSlot, "x");
    json j = json::parse(R"({"value": ["a", "b"]})");
    many.fromJson(j, nullptr, FileVersion());
    EXPECT_EQ(many.slotText(0), "a");
    EXPECT_EQ(many.slotText(1), "b");
    EXPECT_EQ(many.slotText(2), "x");
    json out = many.toJson();
    ASSERT_EQ(out["value"].size(), 25u);
    EXPECT_EQ(out["value"][1], "b");
    EXPECT_FALSE(out.contains("override"));

    ParameterString one("name", ParameterString::Text, Stored, "x");
    json number = json::parse(R"({"value": 5})");
    EXPECT_THROW(one.fromJson(number, nullptr, FileVersion()), json::type_error);
    json missing = json::object();
    EXPECT_THROW(one.fromJson(missing, nullptr, FileVersion()), json::type_error);
    EXPECT_EQ(one.toString(), "x");
    json text = one.toJson();
    EXPECT_EQ(text["value"], "x");
}

TEST(ParameterStringEditor, EditorModeFollowsDisplayMode) {
    const unsigned expected[] = {2, 3, 4, 0};
    for (uint32_t mode = 0; mode < 4; ++mode) {
        Driver::numpad.close();
        ParameterString p("p", mode, NoFlags, mode == 2 ? "1.2.3.4" : "abc");
        p.openEditor();
        EXPECT_EQ(Driver::numpad.mode.load(), expected[mode]) << mode;
        EXPECT_EQ(Driver::numpad.target, &p);
    }
    EXPECT_EQ(Driver::numpad.text, "abc");
    Driver::numpad.close();
}
