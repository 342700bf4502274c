// The chain page's keys, encoders and dialogs, driven through the real
// pop-up list and notices.
#include "drivers/KeyDebouncer.h"
#include "effects/EffectChain.h"
#include "effects/StereoPanFX.h"
#include "gui/GuiNotify.h"
#include "gui/ListSelect.h"
#include "gui/MonoGFX.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr int kPress = 2;

class ChainEditor : public ::testing::Test {
protected:
    void SetUp() override {
        Driver::guiNotify.setup();
        gfx.init(256, 64);
        _closeList();
        Driver::guiNotify.draw(gfx);
        Driver::guiNotify.dismiss(true);
    }
    void TearDown() override {
        release48();
        _closeList();
    }

    static void _closeList() {
        Driver::listSelection.key(ListSelect::kCancelKey, kPress);
        Driver::listSelection.result();
    }
    void hold48() {
        for (uint32_t b : {1u, 0u, 0u, 0u})
            Key::key[48].update(b);
        ASSERT_TRUE(Key::key[48].held());
    }
    void release48() {
        for (uint32_t b : {0u, 1u, 1u, 1u})
            Key::key[48].update(b);
    }
    void fill(std::initializer_list<AudioEffectType> types) {
        for (AudioEffectType t : types)
            ASSERT_TRUE(chain.insertEffect(t, chain.effectCount()));
    }
    void draw(int selected = 0) { chain.draw(&gfx, 0, 0, 10, selected); }
    // Opens "Edit FX chain:" and answers it.
    void openMenu(int item, int selected = 0) {
        hold48();
        chain.button(22, kPress, selected);
        release48();
        ASSERT_EQ(chain.editorMode(), EffectChain::MenuOpen);
        draw(selected);  // the interface task opens the list
        ASSERT_EQ(Driver::listSelection.title(), "Edit FX chain:");
        choose(item);
        draw(selected);
    }
    static void choose(int item) {
        Driver::listSelection.cursor.setValue(item, false);
        Driver::listSelection.key(ListSelect::kAcceptKey, kPress);
    }
    static int indexOf(const std::string& item) {
        const auto& items = Driver::listSelection.items();
        for (size_t i = 0; i < items.size(); ++i)
            if (items[i] == item)
                return int(i);
        return -1;
    }
    std::string lastNotice() {
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

TEST_F(ChainEditor, AddOffersThirteenSortedNames) {
    EXPECT_EQ(chain.addChoices,
              (std::vector<std::string>{"amp mod", "compressor", "delay", "drive", "equalizer", "fade delay", "filter",
                                        "limiter", "mono", "multiband", "reroute", "reverb", "stereo"}));
}

TEST_F(ChainEditor, AddingBetweenTwoEffectsAsksForThePositionFirst) {
    fill({AudioEffectType::Stereo, AudioEffectType::Stereo});
    auto first = chain.getEffect(0), second = chain.getEffect(1);
    draw(1);
    openMenu(0, 1);
    ASSERT_EQ(chain.editorMode(), EffectChain::AddListOpen);
    ASSERT_EQ(Driver::listSelection.title(), "Select effect to add");
    choose(indexOf("limiter"));
    draw(1);
    ASSERT_EQ(chain.editorMode(), EffectChain::ChoosingPosition);
    EXPECT_EQ(chain.position.value.load(), 1);
    EXPECT_EQ(chain.position.minimum, 0);
    EXPECT_EQ(chain.position.maximum, 2);
    EXPECT_FALSE(chain.encoder(5, 1, false));
    chain.button(3, kPress, 1);
    EXPECT_EQ(chain.editorMode(), EffectChain::InsertPending);
    draw(1);
    EXPECT_EQ(chain.editorMode(), EffectChain::Idle);
    ASSERT_EQ(chain.effectCount(), 3u);
    EXPECT_EQ(chain.getEffect(0), first);
    EXPECT_EQ(chain.getEffect(1)->typeName, "limiter");
    EXPECT_EQ(chain.getEffect(2), second);
    EXPECT_EQ(lastNotice(), "Added limiter to track");
}

TEST_F(ChainEditor, TheInsertPositionFollowsEncoderTwelveAndKeyTwoCancels) {
    fill({AudioEffectType::Stereo});
    openMenu(0);
    choose(indexOf("stereo"));
    draw();
    ASSERT_EQ(chain.editorMode(), EffectChain::ChoosingPosition);
    EXPECT_EQ(chain.position.value.load(), 0);
    bool moved = false;
    for (int i = 0; i < 5; ++i)
        moved |= chain.encoder(12, 1, false);
    EXPECT_TRUE(moved);
    EXPECT_EQ(chain.position.value.load(), 1);
    chain.button(2, kPress, 0);
    EXPECT_EQ(chain.editorMode(), EffectChain::Idle);
    draw();
    EXPECT_EQ(chain.effectCount(), 1u);
    EXPECT_EQ(lastNotice(), "");
}

TEST_F(ChainEditor, AddingToAnEmptyChainSkipsPositioning) {
    openMenu(0);
    choose(indexOf("stereo"));
    draw();
    EXPECT_EQ(chain.editorMode(), EffectChain::InsertPending);
    draw();
    ASSERT_EQ(chain.effectCount(), 1u);
    EXPECT_EQ(lastNotice(), "Added stereo to track");
}

TEST_F(ChainEditor, AnEffectThatCannotBeMadeIsNotReportedAsAdded) {
    openMenu(0);
    choose(indexOf("delay"));  // no class in the factory yet
    draw();
    draw();
    EXPECT_EQ(chain.effectCount(), 0u);
    EXPECT_EQ(lastNotice(), "Could not add delay");
    EXPECT_EQ(chain.editorMode(), EffectChain::Idle);
}

TEST_F(ChainEditor, AnInsertPositionPastAChainThatShrankIsRefused) {
    fill({AudioEffectType::Stereo, AudioEffectType::Stereo});
    openMenu(0, 1);
    choose(indexOf("limiter"));
    draw(1);
    for (int i = 0; i < 5; ++i)
        chain.encoder(12, 1, false);
    ASSERT_EQ(chain.position.value.load(), 2);
    chain.button(3, kPress, 1);
    chain.clear();  // a project load in between
    draw(0);
    EXPECT_EQ(chain.effectCount(), 0u);
    EXPECT_EQ(lastNotice(), "Could not add limiter");
}

TEST_F(ChainEditor, RemovingTheSecondOfTwoKeepsTheFirst) {
    fill({AudioEffectType::Limiter, AudioEffectType::Limiter});
    auto first = chain.getEffect(0);
    std::weak_ptr<AudioEffect> second = chain.getEffect(1);
    openMenu(1);
    ASSERT_EQ(chain.editorMode(), EffectChain::RemoveListOpen);
    EXPECT_EQ(Driver::listSelection.items(), (std::vector<std::string>{"limiter", "limiter"}));
    choose(1);
    draw();
    EXPECT_EQ(chain.editorMode(), EffectChain::RemovePending);
    draw();
    EXPECT_EQ(chain.editorMode(), EffectChain::Idle);
    ASSERT_EQ(chain.effectCount(), 1u);
    EXPECT_EQ(chain.getEffect(0), first);
    EXPECT_TRUE(second.expired());
    EXPECT_EQ(lastNotice(), "Removed limiter from track");
}

TEST_F(ChainEditor, ARemovalChosenBeforeTheChainShrankDoesNothing) {
    fill({AudioEffectType::Stereo, AudioEffectType::Limiter});
    openMenu(1);
    choose(1);
    draw();
    ASSERT_EQ(chain.editorMode(), EffectChain::RemovePending);
    chain.removeEffect(1);
    draw();
    EXPECT_EQ(chain.effectCount(), 1u);
    EXPECT_EQ(chain.getEffect(0)->typeName, "stereo");
    EXPECT_EQ(lastNotice(), "");
    EXPECT_EQ(chain.editorMode(), EffectChain::Idle);
}

TEST_F(ChainEditor, AFullChainAndAnEmptyChainWarn) {
    fill({AudioEffectType::Stereo, AudioEffectType::Stereo, AudioEffectType::Limiter, AudioEffectType::Limiter});
    openMenu(0);
    EXPECT_EQ(chain.editorMode(), EffectChain::Idle);
    EXPECT_EQ(lastNotice(), "This track can only have 4 effects.");
    chain.clear();
    openMenu(1);
    EXPECT_EQ(chain.editorMode(), EffectChain::Idle);
    EXPECT_EQ(lastNotice(), "Track has no effects");
}

TEST_F(ChainEditor, ACancelledMenuOrARefusedListReturnsToIdle) {
    hold48();
    chain.button(22, kPress, 0);
    release48();
    draw();
    Driver::listSelection.key(ListSelect::kCancelKey, kPress);
    draw();
    EXPECT_EQ(chain.editorMode(), EffectChain::Idle);

    ASSERT_TRUE(Driver::listSelection.open("someone else", {"a"}, false));
    hold48();
    chain.button(22, kPress, 0);
    release48();
    draw();
    EXPECT_EQ(chain.editorMode(), EffectChain::Idle);
    EXPECT_EQ(Driver::listSelection.title(), "someone else");
}

TEST_F(ChainEditor, IgnoredKeysAndEncoders) {
    fill({AudioEffectType::Stereo});
    chain.button(22, kPress, 0);  // without key 48
    hold48();
    chain.button(22, 3, 0);  // a repeat
    chain.button(23, kPress, 0);
    release48();
    EXPECT_EQ(chain.editorMode(), EffectChain::Idle);
    EXPECT_FALSE(chain.encoder(12, 5, false));
    for (int i = 0; i < 16; ++i)
        EXPECT_FALSE(chain.encoder(i, 1, false)) << i;
    EXPECT_FALSE(chain.encoder(20, 1, false));  // no second effect
    EXPECT_FALSE(chain.encoder(32, 1, false));
    auto stereo = std::dynamic_pointer_cast<StereoPanFX>(chain.getEffect(0));
    EXPECT_TRUE(chain.encoder(18, 1, false));
    EXPECT_GT(stereo->pan.getValue(), 0.0f);
}

TEST_F(ChainEditor, KeyFiveWrapsAChoiceAndBadEffectIndicesAreIgnored) {
    fill({AudioEffectType::Stereo});
    auto stereo = std::dynamic_pointer_cast<StereoPanFX>(chain.getEffect(0));
    stereo->lowCut.setValue(4, false);
    stereo->lowCut.overridden = false;
    chain.button(5, kPress, 0);
    EXPECT_EQ(stereo->lowCut.value.load(), 0);
    EXPECT_TRUE(stereo->lowCut.overridden);
    chain.button(15, kPress, 0);
    EXPECT_EQ(stereo->routing.value.load(), 1);
    chain.button(10, kPress, 0);  // no key parameter there
    for (int bad : {-4, -1, 1, 7}) {
        chain.button(5, kPress, bad);
        chain.button(15, kPress, bad);
    }
    EXPECT_EQ(stereo->lowCut.value.load(), 0);
    EXPECT_EQ(stereo->routing.value.load(), 1);
}

TEST_F(ChainEditor, HandlersLeaveAChainAloneWhileItChanges) {
    fill({AudioEffectType::Stereo});
    auto stereo = std::dynamic_pointer_cast<StereoPanFX>(chain.getEffect(0));
    chain.busy = true;
    chain.button(5, kPress, 0);
    EXPECT_FALSE(chain.encoder(18, 1, false));
    EXPECT_FALSE(chain.storeSnapshot(1));
    chain.busy = false;
    EXPECT_EQ(stereo->lowCut.value.load(), 0);
    EXPECT_EQ(stereo->pan.getValue(), 0.0f);
}

TEST_F(ChainEditor, ThePageShowsTheSelectedEffectAndTheChannelTicks) {
    fill({AudioEffectType::Stereo});
    AudioBlock block;
    block.channelState[0] = ChannelState::Playing;
    block.channelState[1] = ChannelState::Silent;
    chain.process(block);  // channel 0 starts
    gfx.clear();
    draw(0);
    EXPECT_EQ(gfx.pixel(2, 12), 15u);  // channel 0 sounding
    EXPECT_EQ(gfx.pixel(0, 10), 4u);   // the chain's left edge
    int lit = 0;
    for (int x = 200; x < 256; ++x)
        for (int y = 10; y < 18; ++y)
            lit += gfx.pixel(x, y) == 15;
    EXPECT_GT(lit, 10);  // "stereo" at the right
    int row = 0;
    for (int x = 0; x < 256; ++x)
        for (int y = 43; y < 51; ++y)
            row += gfx.pixel(x, y) != 0;
    EXPECT_GT(row, 40);  // "low cut: none" and "routing: 1+2"
}
