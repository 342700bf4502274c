// The chain page's keys, encoders and dialogs, driven through the real
// pop-up list and notices.
#include "EffectTestSupport.h"
#include "drivers/KeyDebouncer.h"
#include "effects/StereoPanFX.h"
#include "gui/GuiNotify.h"
#include "gui/ListSelect.h"
#include "gui/MonoGFX.h"

#include <gtest/gtest.h>

namespace {

constexpr int kPress = 2;

class ChainEditor : public ::testing::Test {
protected:
    void SetUp() override {
        Driver::guiNotify.setup();
        gfx.init(256, 64);
        notice();
    }
    void TearDown() override {
        Driver::listSelection.key(ListSelect::kCancelKey, kPress);
        Driver::listSelection.result();
    }
    void fill(std::initializer_list<AudioEffectType> types) {
        for (AudioEffectType t : types)
            ASSERT_TRUE(chain.insertEffect(t, chain.effectCount()));
    }
    void draw(int selected = 0) { chain.draw(&gfx, 0, 0, 10, selected); }
    // Key 22 with 48 held; the interface task opens the menu and takes item.
    void menu(int item, int selected = 0) {
        for (uint32_t b : {1u, 0u, 0u, 0u})
            Key::key[48].update(b);
        chain.button(22, kPress, selected);
        for (uint32_t b : {0u, 1u, 1u, 1u})
            Key::key[48].update(b);
        draw(selected);
        choose(item);
        draw(selected);
    }
    static void choose(int item) {
        Driver::listSelection.cursor.setValue(item, false);
        Driver::listSelection.key(ListSelect::kAcceptKey, kPress);
    }
    static void choose(const std::string& name) {
        const auto& items = Driver::listSelection.items();
        choose(int(std::find(items.begin(), items.end(), name) - items.begin()));
    }
    std::string notice() {
        Driver::guiNotify.draw(gfx);
        const auto& q = Driver::guiNotify.queue();
        std::string text = q.empty() ? "" : q.back().text;
        Driver::guiNotify.dismiss(true);
        return text;
    }

    EffectChain chain;
    MonoGFX gfx;
};

}  // namespace

TEST_F(ChainEditor, AddingBetweenTwoEffectsThenAtTheFront) {
    fill({AudioEffectType::Stereo, AudioEffectType::Stereo});
    draw(1);
    menu(0, 1);
    ASSERT_EQ(chain.editorMode(), EffectChain::AddListOpen);
    choose("limiter");
    draw(1);
    ASSERT_EQ(chain.editorMode(), EffectChain::ChoosingPosition);
    EXPECT_EQ(chain.position.value.load(), 1);
    EXPECT_EQ(chain.position.maximum, 2);
    chain.button(3, kPress, 1);
    draw(1);
    EXPECT_EQ(fxtest::typesOf(chain), "stereo,limiter,stereo");
    EXPECT_EQ(notice(), "Added limiter to track");

    menu(0);
    choose("delay");
    draw();
    chain.button(3, kPress, 0);
    draw();
    EXPECT_EQ(fxtest::typesOf(chain), "delay,stereo,limiter,stereo");
    EXPECT_EQ(notice(), "Added delay to track");
    EXPECT_EQ(chain.editorMode(), EffectChain::Idle);
}

TEST_F(ChainEditor, AnInsertPositionPastAChainThatShrankIsRefused) {
    fill({AudioEffectType::Stereo, AudioEffectType::Stereo});
    menu(0, 1);
    choose("limiter");
    draw(1);
    for (int i = 0; i < 5; ++i)  // five ticks a step
        chain.encoder(12, 1, false);
    ASSERT_EQ(chain.position.value.load(), 2);
    chain.button(3, kPress, 1);
    chain.clear();  // a project load in between
    draw();
    EXPECT_EQ(chain.effectCount(), 0u);
    EXPECT_EQ(notice(), "Could not add limiter");
}

TEST_F(ChainEditor, RemovingChecksTheChosenIndexAgainstTheChainAsItIsNow) {
    fill({AudioEffectType::Limiter, AudioEffectType::Stereo, AudioEffectType::Limiter});
    menu(1);
    choose(1);
    draw();
    draw();
    EXPECT_EQ(fxtest::typesOf(chain), "limiter,limiter");
    EXPECT_EQ(notice(), "Removed stereo from track");

    menu(1);
    choose(1);
    draw();
    ASSERT_EQ(chain.editorMode(), EffectChain::RemovePending);
    chain.removeEffect(1);  // gone before the dialog ends
    draw();
    EXPECT_EQ(fxtest::typesOf(chain), "limiter");
    EXPECT_EQ(notice(), "");
    EXPECT_EQ(chain.editorMode(), EffectChain::Idle);
}

TEST_F(ChainEditor, FullAndEmptyChainsWarnAndARefusedListLeavesTheEditorIdle) {
    fill({AudioEffectType::Stereo, AudioEffectType::Stereo, AudioEffectType::Limiter, AudioEffectType::Limiter});
    menu(0);
    EXPECT_EQ(notice(), "This track can only have 4 effects.");
    chain.clear();
    menu(1);
    EXPECT_EQ(notice(), "Track has no effects");
    EXPECT_EQ(chain.editorMode(), EffectChain::Idle);

    ASSERT_TRUE(Driver::listSelection.open("someone else", {"a"}, false));
    menu(0);
    EXPECT_EQ(chain.editorMode(), EffectChain::Idle);
    EXPECT_EQ(Driver::listSelection.title(), "someone else");
}

TEST_F(ChainEditor, KeysAndEncodersReachOnlyExistingEffects) {
    fill({AudioEffectType::Stereo});
    auto stereo = std::dynamic_pointer_cast<StereoPanFX>(chain.getEffect(0));
    stereo->lowCut.setValue(4, false);
    chain.button(5, kPress, 0);
    EXPECT_EQ(stereo->lowCut.value.load(), 0);  // wrapped
    for (int bad : {-4, -1, 1, 7})  // the master page passes (encoder - 16) / 4
        chain.button(5, kPress, bad);
    chain.button(22, kPress, 0);  // key 48 not held
    chain.button(5, 3, 0);        // a repeat
    EXPECT_EQ(stereo->lowCut.value.load(), 0);
    EXPECT_EQ(chain.editorMode(), EffectChain::Idle);
    for (int i : {0, 11, 12, 13, 15, 20, 32})
        EXPECT_FALSE(chain.encoder(i, 1, false)) << i;
    chain.busy = true;
    EXPECT_FALSE(chain.encoder(18, 1, false));
    chain.busy = false;
    EXPECT_TRUE(chain.encoder(18, 1, false));
    EXPECT_GT(stereo->pan.getValue(), 0.0f);
}
