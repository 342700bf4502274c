#include "gui/Confirm.h"
#include "gui/GuiEditor.h"
#include "gui/MonoGFX.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> gCalls;

class Page : public GuiEditor {
public:
    explicit Page(std::string name) : name_(std::move(name)) {}
    void encoder(int, int, bool) override {}
    void button(int, int) override {}
    void open() override {
        gCalls.push_back(name_ + ".open");
        open_ = true;
    }
    bool close() override {
        gCalls.push_back(name_ + ".close");
        if (refuse)
            return false;
        open_ = false;
        return true;
    }
    bool isOpen() override { return open_; }
    void draw(MonoGFX&) override {}
    bool refuse = false;

private:
    std::string name_;
    bool open_ = false;
};

class Focus : public ::testing::Test {
protected:
    void SetUp() override {
        GUI::currentEditor = nullptr;
        clearRedrawPending();
        gCalls.clear();
    }
    void TearDown() override { GUI::currentEditor = nullptr; }
    // Whether a redraw was requested since the last look.
    bool redrawRaised() {
        const bool raised = !isRedrawDone();
        clearRedrawPending();
        return raised;
    }
    Page a{"a"}, b{"b"};
};

TEST_F(Focus, OpeningSwitchingAndClosingMoveTheFocusInOrder) {
    EXPECT_TRUE(GUI::openEditor(&a, false));
    EXPECT_EQ(GUI::currentEditor.load(), &a);
    EXPECT_TRUE(redrawRaised());

    EXPECT_TRUE(GUI::openEditor(&b, false));
    EXPECT_EQ(GUI::currentEditor.load(), &b);
    EXPECT_EQ(gCalls, (std::vector<std::string>{"a.open", "a.close", "b.open"}));
    EXPECT_TRUE(redrawRaised());

    EXPECT_TRUE(GUI::closeEditor());
    EXPECT_EQ(GUI::currentEditor.load(), nullptr);
    EXPECT_TRUE(redrawRaised());
    gCalls.clear();
    EXPECT_TRUE(GUI::closeEditor());  // nothing focused: nothing called
    EXPECT_TRUE(gCalls.empty());
    EXPECT_FALSE(redrawRaised());
}

TEST_F(Focus, ARefusingPageKeepsTheFocus) {
    ASSERT_TRUE(GUI::openEditor(&a, false));
    redrawRaised();
    a.refuse = true;
    gCalls.clear();
    EXPECT_FALSE(GUI::openEditor(&b, false));
    EXPECT_EQ(GUI::currentEditor.load(), &a);
    EXPECT_EQ(gCalls, (std::vector<std::string>{"a.close"}));
    EXPECT_FALSE(b.isOpen());
    EXPECT_FALSE(GUI::closeEditor());
    EXPECT_EQ(GUI::currentEditor.load(), &a);
    EXPECT_FALSE(redrawRaised());
}

TEST_F(Focus, TheFocusedPageIsOnlyClosedByToggle) {
    ASSERT_TRUE(GUI::openEditor(&a, true));
    redrawRaised();
    gCalls.clear();
    EXPECT_FALSE(GUI::openEditor(&a, false));
    EXPECT_TRUE(gCalls.empty());
    EXPECT_EQ(GUI::currentEditor.load(), &a);
    EXPECT_FALSE(redrawRaised());

    a.refuse = true;
    EXPECT_FALSE(GUI::openEditor(&a, true));
    EXPECT_EQ(GUI::currentEditor.load(), &a);
    EXPECT_FALSE(redrawRaised());

    a.refuse = false;
    EXPECT_FALSE(GUI::openEditor(&a, true));
    EXPECT_EQ(GUI::currentEditor.load(), nullptr);
    EXPECT_TRUE(redrawRaised());
}

TEST_F(Focus, InputIsAcceptedOnlyInStateTwo) {
    EXPECT_TRUE(a._inputAccepted());
    a.editorState = 0;
    EXPECT_FALSE(a._inputAccepted());
    a.editorState = 2;
    EXPECT_TRUE(a._inputAccepted());
}

class ConfirmPopup : public ::testing::Test {
protected:
    void SetUp() override { gfx.init(256, 64); }
    Confirm confirm;
    MonoGFX gfx;
};

TEST_F(ConfirmPopup, AnswersAreReadOnceAndBlockANewQuestionUntilRead) {
    ASSERT_TRUE(confirm.open("Overwrite?", "yes", "no"));
    EXPECT_FALSE(confirm.open("Other?", "a", "b"));
    EXPECT_EQ(confirm.result(), 1u);
    confirm.key(3, 3);  // auto-repeat does not answer
    confirm.key(5, 2);  // other keys neither
    EXPECT_EQ(confirm.result(), 1u);
    confirm.key(3, 2);
    EXPECT_FALSE(confirm.open("Other?", "a", "b"));
    confirm.key(2, 2);  // the answer stands once given
    EXPECT_EQ(confirm.result(), 2u);
    EXPECT_EQ(confirm.result(), 0u);

    ASSERT_TRUE(confirm.open("Delete?", "yes", "no"));
    confirm.key(2, 2);
    EXPECT_EQ(confirm.state(), 3u);
    EXPECT_EQ(confirm.result(), 3u);
    EXPECT_EQ(confirm.result(), 0u);
    confirm.key(3, 2);  // idle: keys do nothing
    EXPECT_EQ(confirm.result(), 0u);
}

TEST_F(ConfirmPopup, DrawsADimmedPageAndABoxOnlyWhileOpen) {
    gfx.setColour(15);
    gfx.fillRect(0, 0, 255, 63);
    confirm.draw(gfx);
    EXPECT_EQ(gfx.pixel(0, 0), 15u);

    ASSERT_TRUE(confirm.open("Overwrite file?", "yes", "no"));
    confirm.draw(gfx);
    EXPECT_EQ(gfx.pixel(0, 0), 7u);  // dimmed
    gfx.setFont(&font_compact, 1, 0);
    const int width = std::max(gfx.textWidth("yes") + gfx.textWidth("no") + 36, gfx.textWidth("Overwrite file?") + 4);
    const int x0 = (255 - width) / 2;
    EXPECT_EQ(gfx.pixel(x0, 20), 15u);
    EXPECT_EQ(gfx.pixel(x0 + width, 46), 15u);
    EXPECT_EQ(gfx.pixel(x0 + 1, 45), 0u);
    EXPECT_EQ(gfx.pixel(x0 - 1, 30), 7u);

    // Labels wider than the screen keep the box on it.
    Confirm wide;
    ASSERT_TRUE(wide.open("?", std::string(50, 'W'), std::string(50, 'M')));
    gfx.clear();
    wide.draw(gfx);
    EXPECT_EQ(gfx.pixel(0, 20), 15u);
    EXPECT_EQ(gfx.pixel(255, 46), 15u);
}

}  // namespace
