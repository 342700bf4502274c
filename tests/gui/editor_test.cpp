#include "gui/Confirm.h"
#include "gui/GuiEditor.h"
#include "gui/ListSelect.h"
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
    void open() override { gCalls.push_back(name_ + ".open"); }
    bool close() override {
        gCalls.push_back(name_ + ".close");
        return !refuse;
    }
    bool isOpen() override { return GUI::currentEditor == this; }
    void draw(MonoGFX&) override {}
    bool refuse = false;

private:
    std::string name_;
};

class Focus : public ::testing::Test {
protected:
    void SetUp() override {
        GUI::currentEditor = nullptr;
        clearRedrawPending();
        gCalls.clear();
    }
    void TearDown() override { GUI::currentEditor = nullptr; }
    bool redrawRaised() {
        const bool raised = !isRedrawDone();
        clearRedrawPending();
        return raised;
    }
    Page a{"a"}, b{"b"};
};

TEST_F(Focus, SwitchingClosesTheOldPageBeforeOpeningTheNew) {
    EXPECT_TRUE(GUI::openEditor(&a, false));
    EXPECT_TRUE(redrawRaised());
    EXPECT_TRUE(GUI::openEditor(&b, false));
    EXPECT_EQ(GUI::currentEditor.load(), &b);
    EXPECT_EQ(gCalls, (std::vector<std::string>{"a.open", "a.close", "b.open"}));
    EXPECT_TRUE(redrawRaised());
    EXPECT_TRUE(GUI::closeEditor());
    EXPECT_EQ(GUI::currentEditor.load(), nullptr);
    EXPECT_TRUE(redrawRaised());

    gCalls.clear();
    EXPECT_TRUE(GUI::closeEditor());  // nothing focused: nothing called, nothing redrawn
    EXPECT_TRUE(gCalls.empty());
    EXPECT_FALSE(redrawRaised());
}

TEST_F(Focus, ARefusingPageKeepsTheFocus) {
    ASSERT_TRUE(GUI::openEditor(&a, false));
    redrawRaised();
    a.refuse = true;
    gCalls.clear();
    EXPECT_FALSE(GUI::openEditor(&b, false));
    EXPECT_FALSE(GUI::closeEditor());
    EXPECT_FALSE(GUI::openEditor(&a, true));
    EXPECT_EQ(GUI::currentEditor.load(), &a);
    EXPECT_EQ(gCalls, (std::vector<std::string>{"a.close", "a.close", "a.close"}));
    EXPECT_FALSE(redrawRaised());
}

TEST_F(Focus, TheFocusedPageIsClosedOnlyByToggle) {
    ASSERT_TRUE(GUI::openEditor(&a, true));
    redrawRaised();
    gCalls.clear();
    EXPECT_FALSE(GUI::openEditor(&a, false));
    EXPECT_TRUE(gCalls.empty());
    EXPECT_FALSE(redrawRaised());
    EXPECT_FALSE(GUI::openEditor(&a, true));  // closed, and still false
    EXPECT_EQ(GUI::currentEditor.load(), nullptr);
    EXPECT_TRUE(redrawRaised());

    EXPECT_TRUE(a._inputAccepted());
    a.editorState = 0;
    EXPECT_FALSE(a._inputAccepted());
}

TEST_F(Focus, PopupsAreModalUntilTheirAnswerIsRead) {
    EXPECT_FALSE(isModalOpen());
    ASSERT_TRUE(Driver::confirm.open("Sure?", "yes", "no"));
    EXPECT_TRUE(isModalOpen());
    Driver::confirm.key(3, 2);
    EXPECT_TRUE(isModalOpen());
    EXPECT_EQ(Driver::confirm.result(), 2u);
    EXPECT_FALSE(isModalOpen());
    ASSERT_TRUE(Driver::listSelection.open("pick", {"a"}, false));
    EXPECT_TRUE(isModalOpen());
    Driver::listSelection.key(2, 2);
    EXPECT_EQ(Driver::listSelection.result(), 3u);
    EXPECT_FALSE(isModalOpen());
}

TEST(ConfirmPopup, AnswersAreReadOnceAndBlockANewQuestionUntilRead) {
    Confirm confirm;
    ASSERT_TRUE(confirm.open("Overwrite?", "yes", "no"));
    EXPECT_FALSE(confirm.open("Other?", "a", "b"));
    confirm.key(3, 3);  // auto-repeat does not answer
    confirm.key(5, 2);
    EXPECT_EQ(confirm.result(), 1u);
    confirm.key(3, 2);
    confirm.key(2, 2);  // the answer given stands
    EXPECT_FALSE(confirm.open("Other?", "a", "b"));
    EXPECT_EQ(confirm.result(), 2u);
    EXPECT_EQ(confirm.result(), 0u);

    ASSERT_TRUE(confirm.open("Delete?", "yes", "no"));
    confirm.key(2, 2);
    EXPECT_EQ(confirm.result(), 3u);
    EXPECT_EQ(confirm.result(), 0u);
}

TEST(ConfirmPopup, DrawsOverADimmedPageOnlyWhileOpen) {
    MonoGFX gfx;
    gfx.init(256, 64);
    gfx.fillRect(0, 0, 255, 63);
    Confirm confirm;
    confirm.draw(gfx);
    EXPECT_EQ(gfx.pixel(0, 0), 15u);

    ASSERT_TRUE(confirm.open("Overwrite file?", "yes", "no"));
    confirm.draw(gfx);
    gfx.setFont(&font_compact, 1, 0);
    const int width = gfx.textWidth("Overwrite file?") + 4;  // wider than the answers
    const int x0 = (255 - width) / 2;
    EXPECT_EQ(gfx.pixel(x0, 20), 15u);
    EXPECT_EQ(gfx.pixel(x0 + width, 46), 15u);
    EXPECT_EQ(gfx.pixel(x0 + 1, 45), 0u);
    EXPECT_EQ(gfx.pixel(x0 - 1, 30), 7u);  // dimmed page

    Confirm wide;  // labels wider than the screen keep the box on it
    ASSERT_TRUE(wide.open("?", std::string(50, 'W'), std::string(50, 'M')));
    gfx.clear();
    wide.draw(gfx);
    EXPECT_EQ(gfx.pixel(0, 20), 15u);
    EXPECT_EQ(gfx.pixel(255, 46), 15u);
}

}  // namespace
