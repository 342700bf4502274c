// Effect types, the chain's block walk and lookups, its changes at every
// position and its "effects" JSON form.
#include "../support/TempDir.h"
#include "EffectTestSupport.h"
#include "effects/EffectFactory.h"
#include "effects/LimiterFX.h"
#include "effects/StereoPanFX.h"

#include <gtest/gtest.h>

#include "tests/support/Shell.h"

#include <cstdio>
#include <fstream>

using fxtest::typesOf;
using json = nlohmann::json;

namespace {

void fill(EffectChain& chain, std::initializer_list<AudioEffectType> types) {
    chain.clear();
    for (AudioEffectType t : types)
        ASSERT_TRUE(chain.insertEffect(t, chain.effectCount()));
}

template <typename T>
std::shared_ptr<T> at(EffectChain& chain, unsigned i) {
    return std::dynamic_pointer_cast<T>(chain.getEffect(i));
}


const FileVersion kCurrent("", 1, 0, 0);
constexpr auto kStereo = AudioEffectType::Stereo;
constexpr auto kLimiter = AudioEffectType::Limiter;

}  // namespace

TEST(EffectTypes, NamesIdsAndFactoryProducts) {
    EXPECT_EQ(effectTypeName(13), "amp mod");
    EXPECT_EQ(effectTypeName(17) + effectTypeName(1) + effectTypeName(-5), "unknownunknownunknown");
    EXPECT_EQ(effectTypeFromName("fade delay"), AudioEffectType::FadeDelay);
    EXPECT_EQ(effectTypeFromName("Mono"), AudioEffectType::Unknown);
    for (int id = 0; id <= 17; ++id)
        if (auto effect = createEffect(AudioEffectType(id))) {
            EXPECT_EQ(effect->typeName + "/" + effect->group.name, effectTypeName(id) + "/" + effectTypeName(id));
        }
}

TEST(EffectChainBlocks, NotesAfterSilenceStartAndABlockDuringAChangeIsSilenced) {
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
    EffectChain changing;
    fill(changing, {kStereo});
    AudioBlock block;
    fxtest::fillChannel(block, 0, 0.5f);
    block.channelState[0] = ChannelState::Playing;
    changing.busy = true;
    changing.process(block);
    changing.busy = false;
    EXPECT_EQ(fxtest::peak(block, 0), 0.0f);
    EXPECT_EQ(block.channelState[0], ChannelState::Vacant);
    EXPECT_EQ(changing.lastState(0), ChannelState::Started);
}

TEST(EffectChainLookups, IndicesAndGroupsAnswerOnlyForExistingEffectsOutsideChanges) {
    EffectChain chain;
    fill(chain, {kStereo, kLimiter, kStereo});
    EXPECT_EQ(chain.getParameter(27), chain.getEffect(2)->encoderParameters[3]);
    for (int i : {-1, 15, 21, 28, 31})  // 21: the limiter's empty slot
        EXPECT_EQ(chain.getParameter(i), nullptr) << i;
    EXPECT_EQ(chain.getParameterGroup(5), nullptr);
    chain.mode = EffectChain::MenuOpen;
    EXPECT_EQ(chain.getParameter(27), nullptr);
    chain.mode = EffectChain::Idle;
    chain.busy = true;
    EXPECT_EQ(chain.getParameter(16), nullptr);
    EXPECT_EQ(chain.getParameterGroup(0), nullptr);
    EXPECT_FALSE(chain.morphXY(0.5f, 0.5f));
    chain.busy = false;
    auto group = chain.getParameterGroup(1);
    chain.clear();
    ASSERT_NE(group, nullptr);  // the holder keeps the removed effect alive
    EXPECT_EQ(group->find("release")->name, "release");
}

TEST(EffectChainChanges, InsertMoveAndRemoveAtEveryPosition) {
    for (unsigned pos = 0; pos <= 3; ++pos) {
        EffectChain chain;
        fill(chain, {kLimiter, kLimiter, kLimiter});
        std::vector<AudioEffect*> order = {chain.getEffect(0).get(), chain.getEffect(1).get(),
                                           chain.getEffect(2).get()};
        ASSERT_TRUE(chain.insertEffect(kStereo, pos));
        order.insert(order.begin() + pos, chain.getEffect(pos).get());
        EXPECT_EQ(order[pos]->typeName, "stereo");
        // move it to the end, then take each out in turn
        ASSERT_TRUE(chain.removeEffect(pos));
        ASSERT_TRUE(chain.insertEffect(kStereo, 3));
        EXPECT_EQ(typesOf(chain), "limiter,limiter,limiter,stereo");
        std::weak_ptr<AudioEffect> removed = chain.getEffect(pos);
        ASSERT_TRUE(chain.removeEffect(pos));
        EXPECT_TRUE(removed.expired());
        EXPECT_EQ(chain.effectCount(), 3u);
    }
    EffectChain chain;
    fill(chain, {kStereo});
    EXPECT_FALSE(chain.insertEffect(kLimiter, 2));
    EXPECT_FALSE(chain.insertEffect(AudioEffectType::Unknown, 0));
    EXPECT_FALSE(chain.removeEffect(1));
    EXPECT_EQ(typesOf(chain), "stereo");
    EXPECT_FALSE(chain.isBusy());
}

TEST(EffectChainJson, AChainOfFourRoundTripsAndJqReadsIt) {
    EffectChain chain;
    fill(chain, {kStereo, kLimiter, kStereo, kLimiter});
    at<StereoPanFX>(chain, 0)->pan.setValue(-0.5f, true);
    at<StereoPanFX>(chain, 2)->routing.setValue(3, true);
    at<LimiterFX>(chain, 3)->attack.setValue(7.0f, true);
    json root = json::object();
    chain.toJson(root);
    const std::string path = testsupport::tempDir() + "chain4.json";
    std::ofstream(path) << root.dump(2);
    EXPECT_EQ(testsupport::shellOutput("jq -r '.effects | map(.AudioEffectType) | join(\",\")' " + path),
              "stereo,limiter,stereo,limiter\n");
    EXPECT_EQ(testsupport::shellOutput("jq -r '.effects[0] | has(\"movement\") and has(\"routing\")' " + path), "true\n");

    json back = json::parse(std::ifstream(path));
    EffectChain other;
    ASSERT_TRUE(other.fromJson(back, nullptr, kCurrent));
    EXPECT_EQ(typesOf(other), "stereo,limiter,stereo,limiter");
    EXPECT_FLOAT_EQ(at<StereoPanFX>(other, 0)->pan.getValue(), -0.5f);
    EXPECT_EQ(at<StereoPanFX>(other, 2)->routing.value.load(), 3);
    EXPECT_FLOAT_EQ(at<LimiterFX>(other, 3)->attack.getValue(), 7.0f);
    EXPECT_FLOAT_EQ(at<LimiterFX>(other, 1)->attack.getValue(), 2.0f);

    other.clear();
    other.toJson(back);
    EXPECT_FALSE(back.contains("effects"));
}

TEST(EffectChainJson, AFileLoadsWhatItCanWithoutGapsOrExtraEffects) {
    json root = json::parse(R"({"effects": [
        {"AudioEffectType": "stereo", "pan": {"value": 0.25}},
        {"AudioEffectType": "wobble", "release": {"value": 99}},
        {"release": {"value": 98}},
        {"AudioEffectType": "limiter", "release": {"value": 150}},
        {"AudioEffectType": "delay"},
        {"AudioEffectType": "stereo"},
        {"AudioEffectType": "limiter", "release": {"value": 40}},
        {"AudioEffectType": "stereo", "pan": {"value": 0.75}}
    ]})");
    EffectChain chain;
    ASSERT_TRUE(chain.fromJson(root, nullptr, kCurrent));
    ASSERT_EQ(typesOf(chain), "stereo,limiter,delay,stereo");
    EXPECT_FLOAT_EQ(at<StereoPanFX>(chain, 0)->pan.getValue(), 0.25f);
    EXPECT_FLOAT_EQ(at<LimiterFX>(chain, 1)->release.getValue(), 150.0f);
    EXPECT_FLOAT_EQ(at<StereoPanFX>(chain, 3)->pan.getValue(), 0.0f);  // missing key: default

    json noArray = json::parse(R"({"effects": {"AudioEffectType": "stereo"}})");
    EXPECT_TRUE(chain.fromJson(noArray, nullptr, kCurrent));
    EXPECT_EQ(chain.effectCount(), 4u);

    json badType = json::parse(R"({"effects": [{"AudioEffectType": "stereo"}, {"AudioEffectType": 4},
                                                {"AudioEffectType": "limiter"}]})");
    std::string error;
    EXPECT_FALSE(chain.fromJson(badType, nullptr, kCurrent, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(typesOf(chain), "stereo");
    EXPECT_FALSE(chain.isBusy());
}

TEST(EffectChainJson, OldFilterPeakBecomesResonance) {
    json entry = json::parse(R"({"peak": {"value": [1.6, 0.2]}})");
    EffectChain::upgradeFilterEntry(entry, FileVersion("", 0, 1, 28));
    EXPECT_NEAR(entry["reso"]["value"][0].get<double>(), 0.4642, 1e-4);
    EXPECT_NEAR(entry["reso"]["value"][1].get<double>(), 0.0, 1e-9);
    json newer = json::parse(R"({"peak": {"value": 1.6}})");
    EffectChain::upgradeFilterEntry(newer, FileVersion("", 0, 1, 29));
    json noPeak = json::object();
    EffectChain::upgradeFilterEntry(noPeak, FileVersion("", 0, 1, 0));
    EXPECT_FALSE(newer.contains("reso") || noPeak.contains("reso"));
}
