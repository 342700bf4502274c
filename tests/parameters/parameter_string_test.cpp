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
    EXPECT_EQ(ip.octets[3], 7);
    ParameterString letters("ip", ParameterString::Address, NoFlags, "localhost");
    EXPECT_EQ(letters.toString(), "192.168.1.1");
    const std::pair<const char*, const char*> texts[] = {{"1.2.3", "192.168.1.1"},
                                                         {"1.2.3.4.5", "1.2.3.4"},
                                                         {"300.1.2.-5", "255.1.2.0"},
                                                         {"99999999999999999999.1.2.3", "255.1.2.3"}};
    for (auto [text, address] : texts) {
        EXPECT_TRUE(ip.setFromString(text));
        EXPECT_EQ(ip.toString(), address) << text;
    }
}

TEST(ParameterStringAddress, EncoderStepsTheLastNumber) {
    ParameterString ip("ip", ParameterString::Address, NoFlags, "10.0.0.254");
    EXPECT_TRUE(ip.changeBy(1, false, true));
    EXPECT_EQ(ip.toString(), "10.0.0.255");
    EXPECT_FALSE(ip.changeBy(1, false, true));
    ip.setFromString("10.0.0.5");
    EXPECT_TRUE(ip.changeBy(-1, true, true));
    EXPECT_EQ(ip.toString(), "10.0.0.0");
    ParameterString locked("ip", ParameterString::Address, Locked, "10.0.0.5");
    EXPECT_FALSE(locked.changeBy(1, false, true));
    EXPECT_EQ(locked.toString(), "10.0.0.5");
}

TEST(ParameterStringText, PlainTextLengthEncodingAndReset) {
    ParameterString name("name", ParameterString::Text, Stored, "track-1");
    EXPECT_FALSE(name.changeBy(1, false, true));
    name.setNormalised(1.0f);
    EXPECT_FALSE(name.setFromOSC(oscpkt::Message("/name").pushStr("x")));
    EXPECT_EQ(name.toString(), "track-1");
    // Texts up to the buffer are held whole; a longer one is refused and the
    // text stays, never cut.
    std::string umlauts;
    for (int i = 0; i < 511; ++i)
        umlauts += "\xc3\xbc";
    umlauts += "x";
    ASSERT_EQ(umlauts.size(), 1023u);
    EXPECT_TRUE(name.setFromString(umlauts));
    EXPECT_EQ(name.toString(), umlauts);
    EXPECT_NO_THROW(name.toJson().dump());
    testing::internal::CaptureStdout();
    EXPECT_FALSE(name.setFromString(umlauts + "y"));
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Text for [name] refused: 1024 bytes, at most 1023"),
              std::string::npos);
    json tooLong = {{"value", std::string(2000, 'p')}};
    name.fromJson(tooLong, nullptr, FileVersion());
    EXPECT_EQ(name.toString(), umlauts);
    // bytes that are no UTF-8 could never be saved: refused
    EXPECT_FALSE(name.setFromString("caf\xe9"));
    EXPECT_FALSE(name.setFromString("\xed\xa0\x80"));
    EXPECT_EQ(name.toString(), umlauts);
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
    EXPECT_EQ(many.slotText(1), "b");
    EXPECT_EQ(many.slotText(2), "x");
    json out = many.toJson();
    ASSERT_EQ(out["value"].size(), 25u);
    EXPECT_FALSE(out.contains("override"));

    ParameterString one("name", ParameterString::Text, Stored, "x");
    for (const char* bad : {R"({"value": 5})", "{}"}) {
        json b = json::parse(bad);
        EXPECT_THROW(one.fromJson(b, nullptr, FileVersion()), json::type_error) << bad;
    }
    EXPECT_EQ(one.toJson()["value"], "x");
}

TEST(ParameterStringEditor, EditorModeFollowsDisplayMode) {
    const unsigned expected[] = {2, 3, 4, 0};
    for (uint32_t mode = 0; mode < 4; ++mode) {
        Driver::numpad.close();
        ParameterString p("p", mode, NoFlags, "1.2.3.4");
        p.openEditor();
        EXPECT_EQ(Driver::numpad.mode.load(), expected[mode]) << mode;
        EXPECT_EQ(Driver::numpad.text, "1.2.3.4");
        EXPECT_EQ(Driver::numpad.target, &p);
    }
    Driver::numpad.close();
}
