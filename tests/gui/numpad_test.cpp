#include "gui/MonoGFX.h"
#include "gui/Numpad.h"
#include "parameters/ParameterFloat.h"
#include "parameters/ParameterInt.h"

#include <gtest/gtest.h>

#include "tests/gui/GuiTestSupport.h"

#include <string>

namespace {

constexpr int kDelete = 2, kAccept = 3, kDown = 2, kRepeat = 3;

class NumpadTest : public ::testing::Test {
protected:
    void SetUp() override { window.init(256, 64); }
    // Keys from the audio side, then one frame of the interface task.
    void keys(std::initializer_list<int> list) {
        for (int k : list)
            pad.key(k, kDown);
    }
    void frame() { pad.draw(window); }
    // Digits and "+" of the number layout.
    void typeNumber(const std::string& text) {
        for (char c : text) {
            static const std::string digits = "7894561230";
            static const int digitKeys[] = {5, 10, 15, 6, 11, 16, 7, 12, 17, 13};
            if (c == '+')
                keys({8, 8});  // "-" then "+"
            else
                keys({digitKeys[digits.find(c)]});
            for (int t = 0; t < 600; ++t)
                pad.tick();  // a new character, not another tap
        }
    }

    Numpad pad;
    MonoGFX window;
};

TEST_F(NumpadTest, OpenTrimsAndRefusesWhileOpen) {
    ASSERT_TRUE(pad.open(Numpad::kNumber, "a", "0.250000", 32));
    EXPECT_EQ(pad.text, "0.25");
    EXPECT_EQ(pad.cursor.value.load(), 4);
    EXPECT_FALSE(pad.open(Numpad::kText, "b", "x", 32));
    EXPECT_EQ(pad.title, "a");
    EXPECT_TRUE(pad.open(Numpad::kClosed, "", "", 0));
    EXPECT_FALSE(pad.isOpen());
    EXPECT_FALSE(pad.takeCancelled());
    ASSERT_TRUE(pad.open(Numpad::kNumber, "a", "100", 32));
    EXPECT_EQ(pad.text, "100");
}

TEST_F(NumpadTest, MultiTapShiftAndLength) {
    ASSERT_TRUE(pad.open(Numpad::kName, "n", "", 7));
    keys({5});
    frame();
    EXPECT_EQ(pad.text, "_");
    keys({5});
    frame();
    EXPECT_EQ(pad.text, "7");
    keys({5});
    frame();
    EXPECT_EQ(pad.text, "_");
    keys({18});  // no character key in name mode
    frame();
    EXPECT_EQ(pad.text, "_");

    pad.close();
    ASSERT_TRUE(pad.open(Numpad::kText, "t", "abcdef", 7));
    guitest::hold(0);
    keys({10});
    frame();
    guitest::release(0);
    EXPECT_EQ(pad.text, "abcdefA");
    keys({15});  // full: a new key inserts nothing
    keys({10});  // a quick repeat still cycles: "A" -> "B"
    frame();
    EXPECT_EQ(pad.text, "abcdefb");  // the layout of this press: key 0 released
}

TEST_F(NumpadTest, OpenForgetsTheLastKey) {
    ASSERT_TRUE(pad.open(Numpad::kName, "n", "", 32));
    keys({5});
    frame();
    pad.close();
    ASSERT_TRUE(pad.open(Numpad::kName, "n", "x", 32));
    keys({5});
    frame();
    EXPECT_EQ(pad.text, "x_");  // a new character, not a tap on "x"
}

TEST_F(NumpadTest, DeleteAndCancel) {
    ASSERT_TRUE(pad.open(Numpad::kText, "t", "ab", 32));
    pad.key(kDelete, kDown);
    pad.key(kDelete, kDown);
    pad.key(kDelete, kRepeat);
    frame();
    EXPECT_EQ(pad.text, "");
    EXPECT_TRUE(pad.isOpen());
    pad.key(kDelete, kDown);
    frame();
    EXPECT_FALSE(pad.isOpen());
    EXPECT_TRUE(pad.takeCancelled());
    EXPECT_FALSE(pad.takeCancelled());
}

TEST_F(NumpadTest, AcceptsOnlyAFreshVerdict) {
    ParameterInt n("n", ParameterInt::PlainInt, Stored, 0, 0, 100000000);
    ASSERT_TRUE(pad.open(Numpad::kNumber, "n", "", 32));
    pad.target = &n;
    typeNumber("1+2");
    frame();
    EXPECT_TRUE(pad.valid);
    // "0" and accept before the next frame: the stale "3" must not go through.
    typeNumber("0");
    pad.key(kAccept, kDown);
    frame();
    EXPECT_TRUE(pad.isOpen());
    EXPECT_EQ(n.value.load(), 0);
    EXPECT_EQ(pad.text, "1+20");
    pad.key(kAccept, kDown);
    frame();
    EXPECT_FALSE(pad.isOpen());
    EXPECT_EQ(n.value.load(), 21);

    // Beyond a float's 24 bits.
    ASSERT_TRUE(pad.open(Numpad::kNumber, "n", "", 32));
    pad.target = &n;
    typeNumber("16777217");
    frame();
    pad.key(kAccept, kDown);
    frame();
    EXPECT_EQ(n.value.load(), 16777217);
}

TEST_F(NumpadTest, NumberTextAndBrokenExpression) {
    ASSERT_TRUE(pad.open(Numpad::kNumber, "n", "", 32));
    typeNumber("1+");
    frame();
    EXPECT_FALSE(pad.valid);
    pad.key(kAccept, kDown);
    frame();
    EXPECT_TRUE(pad.isOpen());
    typeNumber("2");
    frame();
    pad.key(kAccept, kDown);
    frame();
    EXPECT_FALSE(pad.isOpen());
    EXPECT_TRUE(pad.takeAccepted());
    EXPECT_EQ(pad.text, "3.000000");

    ParameterFloat f("f", ParameterFloat::Plain, Stored, 0.0f, 0.0f, 10.0f);
    ASSERT_TRUE(pad.open(Numpad::kNumber, "f", "2.5", 32));
    pad.target = &f;
    frame();
    pad.key(kAccept, kDown);
    frame();
    EXPECT_FLOAT_EQ(f.values[0], 2.5f);
}

TEST_F(NumpadTest, EmptiedNameIsNotAccepted) {
    ASSERT_TRUE(pad.open(Numpad::kName, "n", "a", 32));
    frame();
    EXPECT_TRUE(pad.valid);
    pad.key(kDelete, kDown);
    pad.key(kAccept, kDown);
    frame();
    EXPECT_TRUE(pad.isOpen());
    EXPECT_FALSE(pad.takeAccepted());
}

TEST_F(NumpadTest, AddressMode) {
    for (auto [text, ok] : {std::pair{"10.0.0.1", true}, {"256.1.1.1", false}, {"1.2.3", false}}) {
        ASSERT_TRUE(pad.open(Numpad::kAddress, "ip", text, 32));
        frame();
        EXPECT_EQ(pad.valid, ok) << text;
        pad.key(kAccept, kDown);
        frame();
        EXPECT_EQ(pad.takeAccepted(), ok) << text;
        pad.close();
    }
}

}  // namespace
