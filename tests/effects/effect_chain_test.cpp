// Effect types, the effect box, the chain's block walk, its lookups, its
// changes at every position and its "effects" JSON form.
#include "../support/TempDir.h"
#include "EffectTestSupport.h"
#include "effects/EffectChain.h"
#include "effects/EffectFactory.h"
#include "effects/LimiterFX.h"
#include "effects/StereoPanFX.h"
#include "gui/MonoGFX.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

using fxtest::setStates;
using json = nlohmann::json;

namespace {

// An effect that keeps the base's picture.
class PlainEffect : public AudioEffect {
public:
    PlainEffect() { _setup("plain", {}); }
    void process(AudioBlock& block) override { _storeChannelStates(block); }
};

std::string typesOf(EffectChain& chain) {
    std::string s;
    for (unsigned i = 0; i < chain.effectCount(); ++i)
        s += (i ? "," : "") + chain.getEffect(i)->typeName;
    return s;
}

void fill(EffectChain& chain, std::initializer_list<AudioEffectType> types) {
    chain.clear();
    for (AudioEffectType t : types)
        ASSERT_TRUE(chain.insertEffect(t, chain.effectCount()));
}

std::string run(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe))
        out += buffer;
    pclose(pipe);
    return out;
}

const FileVersion kCurrent("", 1, 0, 0);

}  // namespace

TEST(EffectTypes, NamesAndIdsMapBothWays) {
    EXPECT_EQ(effectTypeName(1), "unknown");
    EXPECT_EQ(effectTypeName(0), "unknown");
    EXPECT_EQ(effectTypeName(17), "unknown");
    EXPECT_EQ(effectTypeName(-5), "unknown");
    EXPECT_EQ(effectTypeName(13), "amp mod");
    EXPECT_EQ(effectTypeFromName("unknown"), AudioEffectType::Unknown);
    EXPECT_EQ(effectTypeFromName(""), AudioEffectType::Unknown);
    EXPECT_EQ(effectTypeFromName("Mono"), AudioEffectType::Unknown);
    EXPECT_EQ(effectTypeFromName("fade delay"), AudioEffectType::FadeDelay);
    for (int id = 2; id <= 16; ++id)
        EXPECT_EQ(int(effectTypeFromName(effectTypeName(id))), id);
}

TEST(EffectTypes, EveryFactoryProductCarriesItsTypeNameAndNothingElseIsMade) {
    int made = 0;
    for (int id = 0; id <= 17; ++id) {
        auto effect = createEffect(AudioEffectType(id));
        EXPECT_EQ(effect != nullptr, effectTypeAvailable(AudioEffectType(id)));
        if (!effect)
            continue;
        ++made;
        EXPECT_EQ(effect->typeName, effectTypeName(id));
        EXPECT_EQ(effect->group.name, effectTypeName(id));
        for (Parameter* p : effect->encoderParameters)
            if (p)
                EXPECT_EQ(effect->group.find(p->name), p);
    }
    EXPECT_GE(made, 2);
    EXPECT_EQ(createEffect(AudioEffectType::Unknown), nullptr);
}

TEST(EffectBox, TicksFollowTheChannelStatesAndTheAdvanceDependsOnTheForm) {
    MonoGFX gfx;
    gfx.init(256, 64);
    PlainEffect effect;
    const int32_t states[8] = {0, 1, 2, 3, 0, 0, 0, 0};
    for (int c = 0; c < 8; ++c)
        effect.channelStates[c] = states[c];
    gfx.setColour(9);
    gfx.fillRect(0, 0, 255, 63);
    EXPECT_EQ(effect.drawHeader(&gfx, 0, 10, 5, false, true), 30);
    const uint32_t expected[8] = {4, 8, 8, 0, 4, 4, 4, 4};
    for (int c = 0; c < 8; ++c)
        EXPECT_EQ(gfx.pixel(38, 7 + 3 * c), expected[c]) << c;  // x + 26 is the outline
    EXPECT_EQ(gfx.pixel(10, 5), 4u);   // outline, not selected
    EXPECT_EQ(gfx.pixel(20, 15), 9u);  // no picture inside
    EXPECT_EQ(effect.drawHeader(&gfx, 0, 100, 5, true, false), 14);
    EXPECT_EQ(gfx.pixel(100, 5), 12u);
}

TEST(EffectChainBlocks, ANoteAfterSilenceReachesTheEffectsAsStarted) {
    EffectChain chain;
    const ChannelState in[5] = {ChannelState::Silent, ChannelState::Playing, ChannelState::Playing,
                                ChannelState::Silent, ChannelState::Vacant};
    const ChannelState out[5] = {ChannelState::Silent, ChannelState::Started, ChannelState::Playing,
                                 ChannelState::Silent, ChannelState::Started};
    for (int b = 0; b < 5; ++b) {
        AudioBlock block;
        block.channelState[2] = in[b];
        chain.process(block);
        EXPECT_EQ(block.channelState[2], out[b]) << b;
    }
}

TEST(EffectChainBlocks, ABlockDuringAChangeIsSilentAndVacantButItsStatesAreRemembered) {
    EffectChain chain;
    fill(chain, {AudioEffectType::Stereo});
    AudioBlock block;
    for (uint32_t c = 0; c < 8; ++c)
        fxtest::fillChannel(block, c, 0.5f);
    setStates(block, {ChannelState::Playing, ChannelState::Silent, ChannelState::Vacant});
    chain.busy = true;
    chain.process(block);
    chain.busy = false;
    for (float x : block.samples)
        ASSERT_EQ(x, 0.0f);
    for (auto s : block.channelState)
        EXPECT_EQ(s, ChannelState::Vacant);
    EXPECT_EQ(chain.lastState(0), ChannelState::Started);
    EXPECT_EQ(chain.lastState(1), ChannelState::Silent);
    EXPECT_EQ(chain.lastState(2), ChannelState::Started);  // anything after silence starts
}

TEST(EffectChainBlocks, DisabledEffectsAreSkipped) {
    EffectChain chain;
    fill(chain, {AudioEffectType::Stereo});
    chain.getEffect(0)->enabled = false;
    AudioBlock block;
    fxtest::fillChannel(block, 5, 1.0f);
    setStates(block, {ChannelState::Vacant, ChannelState::Vacant, ChannelState::Vacant, ChannelState::Vacant,
                      ChannelState::Vacant, ChannelState::Playing});
    chain.process(block);
    EXPECT_EQ(block.channel(5)[10], 1.0f);  // not folded into the pair
}

TEST(EffectChainLookups, GlobalIndicesAddressFourParametersPerEffect) {
    EffectChain chain;
    fill(chain, {AudioEffectType::Stereo, AudioEffectType::Limiter, AudioEffectType::Stereo});
    auto third = chain.getEffect(2);
    EXPECT_EQ(chain.getParameter(27), third->encoderParameters[3]);
    EXPECT_EQ(chain.getParameter(16), chain.getEffect(0)->encoderParameters[0]);
    EXPECT_EQ(chain.getParameter(21), nullptr);  // the limiter's empty slot
    for (int i = 28; i <= 31; ++i)
        EXPECT_EQ(chain.getParameter(i), nullptr);
    for (int i : {-1, 0, 15})
        EXPECT_EQ(chain.getParameter(i), nullptr);
    chain.mode = EffectChain::MenuOpen;
    EXPECT_EQ(chain.getParameter(27), nullptr);
    chain.mode = EffectChain::Idle;
    chain.busy = true;
    EXPECT_EQ(chain.getParameter(27), nullptr);
    EXPECT_EQ(chain.getParameterGroup(0), nullptr);
    EXPECT_FALSE(chain.morphXY(0.5f, 0.5f));
    chain.busy = false;
}

TEST(EffectChainLookups, GroupsByIndexStayAliveWithTheirHolder) {
    EffectChain chain;
    fill(chain, {AudioEffectType::Stereo, AudioEffectType::Limiter});
    EXPECT_EQ(chain.getParameterGroup(5), nullptr);
    EXPECT_EQ(chain.getParameterGroup(40), nullptr);
    auto group = chain.getParameterGroup(1);
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->name, "limiter");
    chain.clear();
    // the lookup's holder still owns the effect
    ASSERT_NE(group->find("release"), nullptr);
    EXPECT_EQ(group->find("release")->name, "release");
}

TEST(EffectChainLookups, ClearOverridesActsOnOneOrEveryMorphMember) {
    EffectChain empty;
    empty.clearOverrides(-1);  // nothing to do, nothing breaks
    EffectChain chain;
    fill(chain, {AudioEffectType::Stereo, AudioEffectType::Limiter});
    auto stereo = std::dynamic_pointer_cast<StereoPanFX>(chain.getEffect(0));
    auto limiter = std::dynamic_pointer_cast<LimiterFX>(chain.getEffect(1));
    stereo->pan.overridden = true;
    stereo->spread.overridden = true;
    limiter->input.overridden = true;
    chain.clearOverrides(18);
    EXPECT_FALSE(stereo->pan.overridden);
    EXPECT_TRUE(stereo->spread.overridden);
    chain.clearOverrides(21);  // empty slot
    chain.clearOverrides(-1);
    EXPECT_FALSE(stereo->spread.overridden);
    EXPECT_FALSE(limiter->input.overridden);
}

TEST(EffectChainChanges, InsertAtEveryPositionKeepsTheOthersInOrder) {
    for (unsigned at = 0; at <= 3; ++at) {
        EffectChain chain;
        fill(chain, {AudioEffectType::Limiter, AudioEffectType::Limiter, AudioEffectType::Limiter});
        AudioEffect* before[3] = {chain.getEffect(0).get(), chain.getEffect(1).get(), chain.getEffect(2).get()};
        ASSERT_TRUE(chain.insertEffect(AudioEffectType::Stereo, at));
        ASSERT_EQ(chain.effectCount(), 4u);
        EXPECT_EQ(chain.getEffect(at)->typeName, "stereo");
        for (unsigned i = 0, k = 0; i < 4; ++i)
            if (i != at)
                EXPECT_EQ(chain.getEffect(i).get(), before[k++]) << at << " " << i;
    }
}

TEST(EffectChainChanges, RemoveAtEveryPositionClosesTheGap) {
    for (unsigned at = 0; at < 4; ++at) {
        EffectChain chain;
        fill(chain, {AudioEffectType::Limiter, AudioEffectType::Stereo, AudioEffectType::Limiter,
                     AudioEffectType::Stereo});
        std::vector<AudioEffect*> expected;
        for (unsigned i = 0; i < 4; ++i)
            if (i != at)
                expected.push_back(chain.getEffect(i).get());
        std::weak_ptr<AudioEffect> removed = chain.getEffect(at);
        ASSERT_TRUE(chain.removeEffect(at));
        EXPECT_TRUE(removed.expired());  // released by the remover
        ASSERT_EQ(chain.effectCount(), 3u);
        for (unsigned i = 0; i < 3; ++i)
            EXPECT_EQ(chain.getEffect(i).get(), expected[i]);
    }
}

TEST(EffectChainChanges, MovingIsARemoveAndAnInsert) {
    EffectChain chain;
    fill(chain, {AudioEffectType::Stereo, AudioEffectType::Limiter, AudioEffectType::Limiter});
    ASSERT_TRUE(chain.removeEffect(0));
    ASSERT_TRUE(chain.insertEffect(AudioEffectType::Stereo, 2));
    EXPECT_EQ(typesOf(chain), "limiter,limiter,stereo");
}

TEST(EffectChainChanges, BadArgumentsChangeNothing) {
    EffectChain chain;
    fill(chain, {AudioEffectType::Stereo});
    AudioEffect* first = chain.getEffect(0).get();
    EXPECT_FALSE(chain.insertEffect(AudioEffectType::Limiter, 2));
    EXPECT_FALSE(chain.insertEffect(AudioEffectType::Unknown, 0));
    EXPECT_FALSE(chain.insertEffect(AudioEffectType(17), 0));
    EXPECT_FALSE(chain.removeEffect(1));
    EXPECT_EQ(chain.effectCount(), 1u);
    EXPECT_EQ(chain.getEffect(0).get(), first);
    EXPECT_FALSE(chain.isBusy());
}

TEST(EffectChainJson, AChainOfFourRoundTripsAndJqReadsIt) {
    EffectChain chain;
    fill(chain, {AudioEffectType::Stereo, AudioEffectType::Limiter, AudioEffectType::Stereo,
                 AudioEffectType::Limiter});
    auto s0 = std::dynamic_pointer_cast<StereoPanFX>(chain.getEffect(0));
    auto l1 = std::dynamic_pointer_cast<LimiterFX>(chain.getEffect(1));
    auto s2 = std::dynamic_pointer_cast<StereoPanFX>(chain.getEffect(2));
    auto l3 = std::dynamic_pointer_cast<LimiterFX>(chain.getEffect(3));
    s0->pan.setValue(-0.5f, true);
    s2->routing.setValue(3, true);
    s2->lowCut.setValue(2, true);
    l1->release.setValue(50.0f, true);
    l3->attack.setValue(7.0f, true);

    json root = json::object();
    root["synthesis"] = "FM";
    chain.toJson(root);
    const std::string path = testsupport::tempDir() + "chain4.json";
    std::ofstream(path) << root.dump(2);
    EXPECT_EQ(run("jq -r '.effects | map(.AudioEffectType) | join(\",\")' " + path), "stereo,limiter,stereo,limiter\n");
    EXPECT_EQ(run("jq -r '.effects[0] | has(\"movement\") and has(\"routing\")' " + path), "true\n");

    json back = json::parse(std::ifstream(path));
    EffectChain other;
    std::string error;
    ASSERT_TRUE(other.fromJson(back, nullptr, kCurrent, &error)) << error;
    EXPECT_EQ(typesOf(other), "stereo,limiter,stereo,limiter");
    EXPECT_FLOAT_EQ(std::dynamic_pointer_cast<StereoPanFX>(other.getEffect(0))->pan.getValue(), -0.5f);
    EXPECT_EQ(std::dynamic_pointer_cast<StereoPanFX>(other.getEffect(2))->routing.value.load(), 3);
    EXPECT_EQ(std::dynamic_pointer_cast<StereoPanFX>(other.getEffect(2))->lowCut.value.load(), 2);
    EXPECT_FLOAT_EQ(std::dynamic_pointer_cast<LimiterFX>(other.getEffect(1))->release.getValue(), 50.0f);
    EXPECT_FLOAT_EQ(std::dynamic_pointer_cast<LimiterFX>(other.getEffect(3))->attack.getValue(), 7.0f);
    EXPECT_FLOAT_EQ(std::dynamic_pointer_cast<LimiterFX>(other.getEffect(3))->release.getValue(), 20.0f);
}

TEST(EffectChainJson, AnEmptyChainWritesNoKey) {
    EffectChain chain;
    json root = {{"effects", json::array({1})}};
    chain.toJson(root);
    EXPECT_FALSE(root.contains("effects"));
}

TEST(EffectChainJson, AFileLoadsWhatItCan) {
    // five effects, an unknown type, one not built, an entry without a type
    json root = json::parse(R"({"effects": [
        {"AudioEffectType": "stereo", "pan": {"value": 0.25}},
        {"AudioEffectType": "wobble", "release": {"value": 99}},
        {"release": {"value": 98}},
        {"AudioEffectType": "limiter", "release": {"value": 150}},
        {"AudioEffectType": "delay"},
        {"AudioEffectType": "stereo"},
        {"AudioEffectType": "limiter", "release": {"value": 40}},
        {"AudioEffectType": "stereo", "pan": {"value": 0.75}},
        {"AudioEffectType": "limiter"}
    ]})");
    EffectChain chain;
    fill(chain, {AudioEffectType::Limiter});
    ASSERT_TRUE(chain.fromJson(root, nullptr, kCurrent));
    ASSERT_EQ(typesOf(chain), "stereo,limiter,stereo,limiter");
    EXPECT_FLOAT_EQ(std::dynamic_pointer_cast<StereoPanFX>(chain.getEffect(0))->pan.getValue(), 0.25f);
    EXPECT_FLOAT_EQ(std::dynamic_pointer_cast<LimiterFX>(chain.getEffect(1))->release.getValue(), 150.0f);
    EXPECT_FLOAT_EQ(std::dynamic_pointer_cast<StereoPanFX>(chain.getEffect(2))->pan.getValue(), 0.0f);  // default
    EXPECT_FLOAT_EQ(std::dynamic_pointer_cast<LimiterFX>(chain.getEffect(3))->release.getValue(), 40.0f);
}

TEST(EffectChainJson, WithoutAnArrayTheChainKeepsItsContent) {
    EffectChain chain;
    fill(chain, {AudioEffectType::Limiter});
    for (const char* text : {R"({})", R"({"effects": 3})", R"({"effects": {"AudioEffectType": "stereo"}})", "[]"}) {
        json root = json::parse(text);
        EXPECT_TRUE(chain.fromJson(root, nullptr, kCurrent));
        EXPECT_EQ(typesOf(chain), "limiter") << text;
    }
}

TEST(EffectChainJson, ANonTextTypeIsAJsonErrorAfterTheEffectsBeforeIt) {
    json root = json::parse(R"({"effects": [{"AudioEffectType": "stereo"}, {"AudioEffectType": 4},
                                             {"AudioEffectType": "limiter"}]})");
    EffectChain chain;
    std::string error;
    EXPECT_FALSE(chain.fromJson(root, nullptr, kCurrent, &error));
    EXPECT_NE(error.find("type"), std::string::npos) << error;
    EXPECT_EQ(typesOf(chain), "stereo");
    EXPECT_FALSE(chain.isBusy());
}

TEST(EffectChainJson, OldFilterPeakBecomesResonance) {
    json entry = json::parse(R"({"AudioEffectType": "filter", "peak": {"value": 1.6}})");
    EffectChain::upgradeFilterEntry(entry, FileVersion("", 0, 1, 28));
    ASSERT_TRUE(entry.contains("reso"));
    EXPECT_NEAR(entry["reso"]["value"].get<double>(), 0.4642, 1e-4);
    EXPECT_EQ(entry["peak"]["value"].get<double>(), 1.6);

    json slots = json::parse(R"({"peak": {"value": [1.6, 0.2]}})");
    EffectChain::upgradeFilterEntry(slots, FileVersion("", 0, 0, 9));
    EXPECT_NEAR(slots["reso"]["value"][0].get<double>(), 0.4642, 1e-4);
    EXPECT_NEAR(slots["reso"]["value"][1].get<double>(), 0.0, 1e-9);

    json newer = json::parse(R"({"peak": {"value": 1.6}})");
    EffectChain::upgradeFilterEntry(newer, FileVersion("", 0, 1, 29));
    EXPECT_FALSE(newer.contains("reso"));

    json noPeak = json::parse(R"({"AudioEffectType": "filter"})");
    EffectChain::upgradeFilterEntry(noPeak, FileVersion("", 0, 1, 0));
    EXPECT_FALSE(noPeak.contains("reso"));
}
