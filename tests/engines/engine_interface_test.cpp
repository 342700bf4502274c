// Engine type names, envelope slots, override clearing and the voice contract.
#include "engines/SynthEngineType.h"
#include "engines/subtractive/SubtractiveCommon.h"
#include "engines/subtractive/SubtractiveVoice.h"

#include "tests/support/engines_harness.h"

#include <gtest/gtest.h>

namespace {

class BareCommon : public SynthVoiceCommon {
public:
    void drawOverview(MonoGFX&, uint32_t, uint32_t, int, int) override {}
    uint32_t envSlots() const override { return 0; }
};

TEST(EngineType, NamesBothWaysAndSampleEngines) {
    const char* names[] = {"none", "FM", "additive", "resonator", "subtractive", "quad engine", "granular"};
    for (uint32_t id = 0; id < 7; ++id) {
        EXPECT_STREQ(engineTypeName(id), names[id]);
        EXPECT_EQ(engineTypeFromName(names[id]), id);
    }
    EXPECT_STREQ(engineTypeName(7), "modular");
    EXPECT_EQ(engineTypeFromName("eurorack"), 7u);  // chosen by this name
    EXPECT_STREQ(engineTypeName(8), "none");        // never past the table
    EXPECT_EQ(engineTypeFromName("modular"), 0u);
    for (uint32_t id = 0; id < 9; ++id) EXPECT_EQ(isSampleEngine(id), id >= 3 && id <= 6) << id;
}

TEST(EngineCommon, EnvelopeSlotsAndTheirInfo) {
    SubtractiveCommon c;
    c.selectEnvSlot(4);
    for (uint32_t i = 13; i < 16; ++i) EXPECT_EQ(c.exposedParameters[i].load(), nullptr);
    c.selectEnvSlot(0);
    EXPECT_EQ(c.exposedParameters[13].load(), &c.envAttack[0]);
    EXPECT_EQ(c.exposedParameters[15].load(), &c.envDecay[0]);

    c.envAttack[2].setValue(123.0f, true);
    std::array<EnvelopeInfo, 4> info{};
    info[3].attack = -1.0f;
    ASSERT_EQ(c.envInfo(info), 3u);
    EXPECT_FLOAT_EQ(info[0].hold, 100.0f);
    EXPECT_FLOAT_EQ(info[2].attack, 123.0f);
    EXPECT_FLOAT_EQ(info[3].attack, -1.0f);

    BareCommon bare;
    info[0].attack = 7.0f;
    EXPECT_EQ(bare.envInfo(info), 0u);
    EXPECT_FLOAT_EQ(info[0].attack, 7.0f);
}

TEST(EngineCommon, ClearOverridesOfOnePlaceOnly) {
    SubtractiveCommon c;
    c.filtFreq.overridden = true;
    c.mix.overridden = true;
    c.clearOverrides(6);  // "filt freq"
    EXPECT_FALSE(c.filtFreq.overridden);
    for (int index : {16, 31, -7, 12}) c.clearOverrides(index);  // effect rows, garbage, an empty place
    EXPECT_TRUE(c.mix.overridden);
    c.clearOverrides(-1);
    EXPECT_FALSE(c.mix.overridden);
}

TEST(SynthVoice, FirstBlockOnceSlideWithoutRestartFadeEndsTheVoice) {
    SubtractiveCommon c;
    enginetest::VoiceHarness<SubtractiveVoice> h(c);
    const uint32_t slot = h.play(h.makeNote(220.0f));
    h.renderBlock();
    EXPECT_EQ(h.block.channelState[slot], ChannelState::Started);
    h.renderBlock();
    EXPECT_EQ(h.block.channelState[slot], ChannelState::Playing);
    h.play(h.makeNote(330.0f, 1.0f, NoteType::NoteSlide));
    h.renderBlock();
    EXPECT_EQ(h.block.channelState[slot], ChannelState::Playing);

    h.fadeOut(slot, 256);
    int blocks = 0;
    for (; h.voice(slot).active && blocks < 100; ++blocks) h.renderBlock();
    EXPECT_LE(blocks, 5);
    h.renderBlock();
    EXPECT_EQ(h.block.channelState[slot], ChannelState::Silent);  // no longer rendered

    BareCommon other;  // a note for another engine is not played
    NoteEvent foreign = h.makeNote(440.0f);
    foreign.engine = &other;
    h.voice(2).noteOn(foreign);
    EXPECT_FALSE(h.voice(2).active);
}

}  // namespace

#include "engines/granular/GranularCommon.h"
#include "engines/quad/QuadEngineCommon.h"

#include <algorithm>
#include <memory>

namespace {

// Keeps only the parameters still registered, as the real pool does.
class ListKeepingPool : public enginetest::TestSamplePool {
public:
    void unregisterListParameter(ParameterInt* parameter) override { std::erase(registered, parameter); }
};

TEST(SampleListParameters, AGoneEngineLeavesNoneBehindWithThePool) {
    ListKeepingPool pool;
    auto granular = std::make_unique<GranularCommon>();
    auto quad = std::make_unique<QuadEngineCommon>();
    granular->registerSampleLists();
    quad->registerSampleLists();
    EXPECT_EQ(pool.registered.size(), 9u);
    granular.reset();
    EXPECT_EQ(pool.registered.size(), 8u);
    quad.reset();
    EXPECT_TRUE(pool.registered.empty());
}

}  // namespace
