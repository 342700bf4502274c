#include "gui/GuiNotify.h"
#include "gui/ListSelect.h"
#include "gui/MonoGFX.h"
#include "parameters/ParameterInt.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::vector<std::string> kSix = {"one", "two", "three", "four", "five", "six"};

class ListPopup : public ::testing::Test {
protected:
    void SetUp() override { gfx.init(256, 64); }
    // Turns by whole steps of the cursor, one encoder tick at a time.
    void turn(int steps) {
        for (int i = 0; i < std::abs(steps) * list.cursor.ticksPerStep; ++i)
            list.encoder(ListSelect::kEncoder, steps > 0 ? 1 : -1, false);
    }
    // Rows of the pop-up drawn highlighted (grey-2 background at column 6).
    int highlightedRow() {
        gfx.clear();
        list.draw(gfx);
        for (int i = 0; i < 4; ++i)
            if (gfx.pixel(6, 19 + 10 * i - 1) == 2)
                return i;
        return -1;
    }
    // Rows holding any text.
    int rowsWithText() {
        int rows = 0;
        for (int i = 0; i < 4; ++i) {
            bool lit = false;
            for (int x = 7; x < 100; ++x)
                for (int y = 19 + 10 * i; y < 27 + 10 * i; ++y)
                    lit |= gfx.pixel(x, y) >= 8;
            rows += lit;
        }
        return rows;
    }
    ListSelect list;
    MonoGFX gfx;
};

TEST_F(ListPopup, OpeningIsRefusedWhileBusyOrEmpty) {
    EXPECT_FALSE(list.open("empty", {}, false));
    EXPECT_EQ(list.state(), 0u);
    EXPECT_FALSE(list.openRange("flat", 5, 5, false));
    EXPECT_FALSE(list.openRange("backwards", 5, 4, false));
    ASSERT_TRUE(list.open("numbers", kSix, false));
    EXPECT_FALSE(list.open("again", kSix, false));
    EXPECT_FALSE(list.openRange("again", 0, 3, false));
    EXPECT_EQ(list.title(), "numbers");
}

TEST_F(ListPopup, EncoderMovesTheCursorAndKeyThreeStoresTheChoiceFirst) {
    ASSERT_TRUE(list.open("numbers", kSix, false));
    turn(3);
    list.encoder(5, 1, false);  // other encoders do nothing
    EXPECT_EQ(list.cursor.value.load(), 3);
    turn(10);  // clamped to the last entry
    EXPECT_EQ(list.cursor.value.load(), 5);
    turn(-1);
    list.key(7, 2);
    EXPECT_EQ(list.result(), 1u);
    list.key(3, 3);  // auto-repeat accepts a list
    EXPECT_EQ(list.chosen(), 4);
    list.key(2, 2);  // the answer given stands
    EXPECT_EQ(list.result(), 2u);
    EXPECT_EQ(list.result(), 0u);
    EXPECT_EQ(list.items()[size_t(list.chosen())], "five");

    ASSERT_TRUE(list.open("numbers", kSix, false));
    EXPECT_EQ(list.cursor.value.load(), 0);  // no memory asked for
    list.key(2, 2);
    EXPECT_EQ(list.result(), 3u);
    EXPECT_EQ(list.result(), 0u);
    list.key(3, 2);  // idle: ignored
    EXPECT_EQ(list.state(), 0u);
}

TEST_F(ListPopup, RememberedChoicesArePerTitleAndSurviveOnlyAcceptance) {
    ASSERT_TRUE(list.open("octave", kSix, true));
    turn(2);
    list.key(3, 2);
    ASSERT_EQ(list.result(), 2u);

    ASSERT_TRUE(list.open("octave", kSix, true));
    EXPECT_EQ(list.cursor.value.load(), 2);
    turn(1);
    list.key(2, 2);  // cancelling keeps the memory
    ASSERT_EQ(list.result(), 3u);
    EXPECT_EQ(list.remembered("octave", -1), 2);

    // A shorter list of the same title lands on its last entry.
    ASSERT_TRUE(list.open("octave", {"a", "b"}, true));
    EXPECT_EQ(list.cursor.value.load(), 1);
    list.key(2, 2);
    list.result();

    // Ranges: the remembered integer, clamped into the new bounds.
    ASSERT_TRUE(list.openRange("octave", 10, 20, true));
    EXPECT_EQ(list.cursor.value.load(), 10);
    turn(4);
    list.key(3, 2);
    ASSERT_EQ(list.result(), 2u);
    EXPECT_EQ(list.chosen(), 14);
    ASSERT_TRUE(list.openRange("octave", -5, 12, true));
    EXPECT_EQ(list.cursor.value.load(), 12);
    list.key(2, 2);
    list.result();
    ASSERT_TRUE(list.openRange("other", -5, -1, false));
    EXPECT_EQ(list.cursor.value.load(), -1);  // 0 lands on the nearer bound
}

TEST_F(ListPopup, TheHighlightedRowStaysVisibleWhileScrolling) {
    ASSERT_TRUE(list.open("numbers", kSix, false));
    EXPECT_EQ(highlightedRow(), 0);
    EXPECT_EQ(rowsWithText(), 4);
    std::vector<int> rows;
    for (int i = 0; i < 6; ++i) {
        rows.push_back(highlightedRow());
        turn(1);
    }
    EXPECT_EQ(rows, (std::vector<int>{0, 1, 2, 2, 2, 2}));

    ListSelect small;
    ASSERT_TRUE(small.open("three", {"a", "b", "c"}, false));
    gfx.clear();
    small.draw(gfx);
    EXPECT_EQ(rowsWithText(), 3);

    ListSelect range;
    ASSERT_TRUE(range.openRange("range", 7, 8, false));
    gfx.clear();
    range.draw(gfx);
    EXPECT_EQ(rowsWithText(), 2);
    EXPECT_EQ(gfx.pixel(4, 4), 15u);  // the box outline
}

TEST_F(ListPopup, ATargetParameterReceivesTheChoiceAtTheNextDraw) {
    Driver::guiNotify.setup();
    ParameterInt mode("mode", ParameterInt::ChoiceMode, ParameterFlags(0), 0, 0, 2);
    mode.setChoices({"off", "slow", "fast"}, 0);
    ASSERT_TRUE(list.open("mode", {"off", "slow", "fast"}, false));
    list.target = &mode;
    turn(2);
    list.key(3, 2);
    list.draw(gfx);
    EXPECT_EQ(mode.values[0], 2);
    EXPECT_EQ(list.state(), 0u);  // consumed: the next list can open

    // A refused text warns instead.
    ASSERT_TRUE(list.open("mode", {"off", "medium"}, false));
    EXPECT_EQ(list.target.load(), nullptr);  // every open clears the target
    list.target = &mode;
    turn(1);
    list.key(3, 2);
    list.draw(gfx);
    EXPECT_EQ(mode.values[0], 2);
    EXPECT_EQ(list.state(), 0u);
    MonoGFX screen;
    screen.init(256, 64);
    Driver::guiNotify.draw(screen);
    ASSERT_FALSE(Driver::guiNotify.queue().empty());
    EXPECT_EQ(std::string(Driver::guiNotify.queue().back().text), "Couldn't set value to medium");
    Driver::guiNotify.dismiss(true);

    // Cancelling a target list frees it as well.
    ASSERT_TRUE(list.open("mode", {"off"}, false));
    list.target = &mode;
    list.key(2, 2);
    list.draw(gfx);
    EXPECT_EQ(list.state(), 0u);
}

}  // namespace
