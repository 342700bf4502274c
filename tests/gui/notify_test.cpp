#include "gui/GuiNotify.h"
#include "gui/MonoGFX.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class Notices : public ::testing::Test {
protected:
    void SetUp() override {
        notify.setup();
        gfx.init(256, 64);
    }
    // One screen refresh over a bright page; returns whether it was dimmed.
    bool frame() {
        gfx.setColour(15);
        gfx.fillRect(0, 0, 255, 63);
        notify.draw(gfx);
        return gfx.pixel(0, 0) != 15;
    }
    std::string front() const { return notify.queue().empty() ? "" : notify.queue().front().text; }
    // Frames until the front notice changes.
    int framesShown() {
        const std::string text = front();
        int n = 0;
        while (front() == text && n < 1000) {
            frame();
            ++n;
        }
        return n;
    }

    GuiNotify notify;
    MonoGFX gfx;
};

TEST_F(Notices, RecordsHoldTheTextKindArgAndLifetime) {
    notify.post(std::string(58, 'x'), 0, 8);
    notify.post("", 3, 6);
    notify.post(std::string(59, 'y'), 0, 1);  // too long: dropped
    EXPECT_TRUE(frame());
    ASSERT_EQ(notify.queue().size(), 2u);
    const GuiMessage& first = notify.queue()[0];
    EXPECT_EQ(std::string(first.text), std::string(58, 'x'));
    EXPECT_EQ(first.kind, 8u);
    EXPECT_EQ(first.arg, 0u);
    EXPECT_EQ(first.lifetime, 39u);
    EXPECT_EQ(notify.queue()[1].lifetime, 10u);
    EXPECT_EQ(notify.queue()[1].arg, 3u);
}

// A run set up again in the same process shows nothing of the last one.
TEST_F(Notices, SetupAgainStartsWithNoNotice) {
    notify.warning("from the last run");
    notify.info("and another");
    EXPECT_TRUE(frame());
    ASSERT_EQ(notify.queue().size(), 2u);
    notify.setup();
    EXPECT_TRUE(notify.queue().empty());
    EXPECT_FALSE(frame());
    EXPECT_EQ(notify.frameCounter(), 0u);
}

TEST_F(Notices, EachNoticeStaysForItsLifetimeThenTheNext) {
    EXPECT_FALSE(frame());  // nothing queued: the page is left alone
    notify.warning("first warning");   // 13 characters: lifetime 16
    notify.warning("second");          // 6: lifetime 13
    EXPECT_TRUE(frame());
    EXPECT_EQ(1 + framesShown(), 16 + 2);  // the first after an idle spell: counter 0 .. lifetime + 1
    EXPECT_EQ(front(), "second");
    EXPECT_EQ(framesShown(), 13 + 1);
    EXPECT_TRUE(notify.queue().empty());
    EXPECT_FALSE(frame());
}

TEST_F(Notices, ABusyNoticeGivesWayToTheNextOne) {
    notify.busy("Loading...");
    frame();
    frame();
    EXPECT_EQ(front(), "Loading...");
    notify.success("Loaded");
    frame();
    EXPECT_EQ(front(), "Loaded");
    EXPECT_EQ(notify.queue().size(), 1u);
    EXPECT_EQ(notify.queue().front().kind, 1u);
    EXPECT_EQ(notify.frameCounter(), 1u);

    // Only the lowest byte of arg marks a notice replaceable.
    notify.dismiss(true);
    notify.notify("held", 0x100, 7);
    notify.notify("next", 0, 1);
    frame();
    EXPECT_EQ(front(), "held");
    EXPECT_EQ(notify.queue().size(), 2u);
}

TEST_F(Notices, DismissRemovesOnlyReplaceableNoticesUnlessAll) {
    notify.dismiss(false);  // empty: nothing happens
    notify.warning("careful");
    notify.info("later");
    frame();
    notify.dismiss(false);
    EXPECT_EQ(front(), "careful");
    notify.dismiss(true);
    EXPECT_TRUE(notify.queue().empty());
    EXPECT_EQ(notify.frameCounter(), 0u);

    notify.notify("working", 1, 7);
    frame();
    notify.dismiss(false);
    EXPECT_TRUE(notify.queue().empty());

    // Notices still in the pipe are not touched and show at the next frame.
    notify.info("in the pipe");
    notify.dismiss(true);
    EXPECT_TRUE(frame());
    EXPECT_EQ(front(), "in the pipe");
}

TEST_F(Notices, TheBoxIsDrawnCentredWithItsIcon) {
    notify.success("Saved");
    frame();
    gfx.setFont(&font_compact, 1, 0);
    const int w = gfx.textWidth("Saved") + 14;
    const int left = (255 - w) >> 1;
    EXPECT_EQ(gfx.pixel(left, 25), 8u);
    EXPECT_EQ(gfx.pixel(left + w, 39), 8u);
    EXPECT_EQ(gfx.pixel(left - 1, 30), 7u);  // the page, dimmed
    EXPECT_EQ(gfx.pixel(left + 3 + 1, 28 + 5), 15u);  // check mark
}

}  // namespace
