// Every effect under random parameter sweeps and channel states for a minute
// of audio: no invalid index (the sanitizer builds catch those), no NaN or
// infinity, bounded output; pictures drawn throughout, the first before any
// block.
#include "EffectTestSupport.h"
#include "dsp/Random.h"
#include "effects/DelayFX.h"
#include "effects/EffectFactory.h"
#include "gui/MonoGFX.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kBlocks = 48000 * 60 / 64;
float gSweptBpm = 120.0f;
int32_t gSweptSource = 0;
TempoReading sweptTempo() { return {gSweptBpm, gSweptSource}; }

// One chain of effects swept together; the largest output magnitude.
float sweep(std::initializer_list<AudioEffectType> types, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    Noise noise;
    DSP::noise.seed(Noise::kSeedA, Noise::kSeedB);
    DSP::random.seed(seed);
    const TempoReader previous = DelayFX::tempoReader.load();
    DelayFX::tempoReader = &sweptTempo;
    MonoGFX gfx;
    gfx.init(256, 64);
    EffectChain chain;
    unsigned position = 0;
    for (AudioEffectType type : types)
        EXPECT_TRUE(chain.insertEffect(type, position++));
    chain.draw(&gfx, 0, 0, 0, 0);
    float largest = 0.0f;
    for (int b = 0; b < kBlocks; ++b) {
        if (b % 16 == 0) {
            for (unsigned e = 0; e < chain.effectCount(); ++e) {
                auto effect = chain.getEffect(e);
                auto& parameters = effect->group.parameters;
                parameters[rng() % parameters.size()]->setNormalised(unit(rng));
                effect->remapParameters();
            }
            const float bpmChoices[] = {0.0f, 0.3f, 39.0f, 120.0f, 240.0f};
            gSweptBpm = bpmChoices[rng() % 5];
            gSweptSource = int32_t(rng() % 3);
        }
        AudioBlock block;
        for (uint32_t c = 0; c < 8; ++c) {
            block.channelState[c] = ChannelState(rng() % 4);
            const float level = unit(rng) < 0.9f ? 0.5f : 0.0f;
            noise.fill(block.channel(c), AudioBlock::kFrames);
            for (uint32_t i = 0; i < 64; ++i)
                block.channel(c)[i] *= level;
        }
        chain.process(block);
        for (float v : block.samples) {
            if (!std::isfinite(v)) {
                ADD_FAILURE() << "block " << b << ": " << v;
                DelayFX::tempoReader = previous;
                return INFINITY;
            }
            largest = std::max(largest, std::fabs(v));
        }
        if (b % 50 == 0)
            chain.draw(&gfx, 0, 0, 0, int(rng() % 4));
    }
    DelayFX::tempoReader = previous;
    return largest;
}

}  // namespace

TEST(EffectSweep, EveryEffectAloneStaysFiniteAndBounded) {
    for (int id = 2; id <= 16; ++id) {
        const float largest = sweep({AudioEffectType(id)}, uint32_t(id));
        EXPECT_LT(largest, 1e5f) << effectTypeName(id);
    }
}

TEST(EffectSweep, RoutingAheadOfRoutingAndTheSpaceEffects) {
    EXPECT_LT(sweep({AudioEffectType::Multiband, AudioEffectType::ReRoute, AudioEffectType::Mono,
                     AudioEffectType::ReRoute}, 101), 1e5f);
    EXPECT_LT(sweep({AudioEffectType::AmpMod, AudioEffectType::Delay, AudioEffectType::Degrade,
                     AudioEffectType::Reverb}, 102), 1e5f);
    EXPECT_LT(sweep({AudioEffectType::Circle, AudioEffectType::FadeDelay, AudioEffectType::Compressor,
                     AudioEffectType::Filter}, 103), 1e5f);
}

// The "effects" file section keeps every kind with its settings: written as
// text and read into another chain.
TEST(EffectFiles, EveryKindComesBackWithItsSettings) {
    const FileVersion current("", 1, 0, 0);
    for (int first = 2; first <= 16; first += 4) {
        EffectChain chain;
        std::vector<std::string> texts;
        for (int id = first; id < first + 4 && id <= 16; ++id) {
            ASSERT_TRUE(chain.insertEffect(AudioEffectType(id), unsigned(id - first)));
            auto effect = chain.getEffect(unsigned(id - first));
            Parameter* p = effect->group.parameters.front();
            p->setNormalised(0.3f);
            texts.push_back(effect->typeName + "=" + p->toString());
        }
        nlohmann::json root;
        chain.toJson(root);
        nlohmann::json back = nlohmann::json::parse(root.dump());
        EffectChain other;
        ASSERT_TRUE(other.fromJson(back, nullptr, current));
        ASSERT_EQ(other.effectCount(), texts.size());
        for (unsigned i = 0; i < other.effectCount(); ++i) {
            auto effect = other.getEffect(i);
            EXPECT_EQ(effect->typeName + "=" + effect->group.parameters.front()->toString(), texts[i]);
        }
    }
}
