// Settings pages: rows over groups, the two encoders, the deferred apply
// callbacks behind the hourglass, and pages with nothing on them.
#include "instrument/Settings.h"

#include "gui/MonoGFX.h"
#include "gui/Numpad.h"
#include "parameters/ParameterInt.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

// Pixels lit in a rectangle (inclusive).
int lit(const MonoGFX& w, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            n += w.pixel(x, y) != 0;
    return n;
}

struct Page {
    std::vector<std::unique_ptr<ParameterInt>> owned;
    Settings page;
    MonoGFX window;
    int applied = 0;

    explicit Page(std::vector<size_t> groupSizes) {
        window.init(256, 64);
        for (size_t g = 0; g < groupSizes.size(); ++g) {
            SettingsGroup group("group " + std::to_string(g), {});
            for (size_t i = 0; i < groupSizes[g]; ++i) {
                owned.push_back(std::make_unique<ParameterInt>("p" + std::to_string(owned.size()),
                                                               ParameterInt::PlainInt, Stored, 0, 0, 3));
                owned.back()->ticksPerStep = 1;
                group.parameters.push_back(owned.back().get());
            }
            page.groups.push_back(group);
        }
        page.setting.ticksPerStep = 1;
        page.setTitle("Test");
        page.addApplyCallback([this] { ++applied; });
    }
    // Turns an encoder by whole steps.
    void turn(int encoder, int steps) {
        for (int i = 0; i < std::abs(steps); ++i)
            page.encoder(encoder, steps > 0 ? 1 : -1, false);
    }
};

TEST(SettingsPage, RowsRunOverTheGroupsThenTheExtraGroup) {
    Page p({2, 3});
    EXPECT_EQ(p.page.rowCount(), 5u);
    SettingsGroup extra("engine", {p.owned[0].get()});
    p.page.setExtraGroup(&extra);
    EXPECT_EQ(p.page.rowCount(), 6u);
    EXPECT_EQ(p.page.setting.maximum, 5);
    const auto row = p.page.locateRow(5);
    EXPECT_TRUE(row.found);
    EXPECT_EQ(row.group, 2u);  // the extra group
    EXPECT_FALSE(p.page.locateRow(6).found);
    EXPECT_FALSE(p.page.locateRow(-1).found);
    EXPECT_EQ(p.page.parameterAt(3), p.owned[3].get());
}

TEST(SettingsPage, AChangeShowsTheHourglassAndAppliesOnTheNextFrame) {
    Page p({3});
    p.page.open();
    p.turn(12, 1);
    p.turn(28, 1);
    p.turn(28, 1);  // a burst of two changes
    EXPECT_EQ(p.owned[1]->value, 2);
    p.page.draw(p.window);
    EXPECT_EQ(p.applied, 0);
    EXPECT_GT(lit(p.window, 110, 24, 145, 40), 0);  // the box in the middle
    p.page.draw(p.window);
    EXPECT_EQ(p.applied, 1);
    p.page.draw(p.window);
    EXPECT_EQ(p.applied, 1);
    p.turn(28, 5);  // to the limit and beyond: the last turns change nothing
    p.page.draw(p.window);
    p.page.draw(p.window);
    EXPECT_EQ(p.applied, 2);
    p.turn(28, 1);
    p.page.draw(p.window);
    p.page.draw(p.window);
    EXPECT_EQ(p.applied, 2);
}

TEST(SettingsPage, EmptyPagesAndMissingRowsDoNothing) {
    Page p({});
    p.page.addApplyCallback(nullptr);  // refused, not run later
    EXPECT_EQ(p.page.rowCount(), 0u);
    p.turn(12, 3);
    EXPECT_EQ(p.page.setting.value, 0);
    p.turn(28, 1);
    p.page.button(1, 2);
    p.page.runApplyCallbacks();
    EXPECT_EQ(p.applied, 1);
    p.page.draw(p.window);
    EXPECT_GT(lit(p.window, 0, 0, 200, 8), 0);      // the heading
    EXPECT_EQ(lit(p.window, 0, 12, 250, 63), 0);    // no rows
    // An extra group that shrank under the cursor (an engine switch).
    Page q({1});
    SettingsGroup extra("engine", {q.owned[0].get(), q.owned[0].get()});
    q.page.setExtraGroup(&extra);
    q.turn(12, 2);
    extra.parameters.clear();
    q.turn(28, 1);
    q.page.button(1, 2);
    q.page.draw(q.window);
    EXPECT_EQ(q.owned[0]->value, 0);
    EXPECT_FALSE(Driver::numpad.isOpen());
    // On a row that exists, key 1 opens the value editor on the next frame.
    q.turn(12, -2);
    q.page.button(1, 2);
    EXPECT_FALSE(Driver::numpad.isOpen());
    q.page.draw(q.window);
    EXPECT_TRUE(Driver::numpad.isOpen());
    Driver::numpad.close();
}

TEST(SettingsPage, TwelveRowsWithTheCursorOnTheLastShowTheLastFive) {
    Page p({6, 6});
    p.turn(12, 11);
    EXPECT_EQ(p.page.setting.value, 11);
    p.page.draw(p.window);
    // Five rows, the first visible one repeating its group's heading.
    for (int k = 0; k < 5; ++k)
        EXPECT_GT(lit(p.window, 52, 13 + 10 * k, 130, 20 + 10 * k), 0) << k;
    EXPECT_GT(lit(p.window, 1, 13, 48, 20), 0);
    EXPECT_EQ(lit(p.window, 1, 23, 48, 60), 0);
    // The cursor row is highlighted.
    EXPECT_GT(lit(p.window, 200, 52, 250, 52), 0);
}

TEST(SettingsPage, KeyThreeLeavesThePageAndOpenCallbacksRunOnTheFirstDraw) {
    Driver::numpad.close();
    Page p({1});
    int opens = 0;
    p.page.addOpenCallback([&] { ++opens; });
    ASSERT_TRUE(GUI::openEditor(&p.page, false));
    EXPECT_TRUE(p.page.isOpen());
    p.page.draw(p.window);
    p.page.draw(p.window);
    EXPECT_EQ(opens, 1);
    p.page.button(3, 3);  // a repeat does nothing
    EXPECT_EQ(GUI::currentEditor.load(), &p.page);
    p.page.button(3, 2);
    EXPECT_EQ(GUI::currentEditor.load(), nullptr);
    EXPECT_FALSE(p.page.isOpen());
}

}  // namespace
