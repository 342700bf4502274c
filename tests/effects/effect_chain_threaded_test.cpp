// The chain is walked by the audio thread and looked up by other threads
// while one thread inserts, removes, clears and reloads it.
#include "../support/TempDir.h"
#include "effects/EffectChain.h"
#include "platform/Audio.h"
#include "platform/Stepped.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Shared {
    EffectChain chain;
    std::atomic<long> renders{0};
    std::atomic<long> silencedBlocks{0};
    std::atomic<bool> badValue{false};
};

Shared* gShared = nullptr;

bool stressSetup(BelaContext*, void*) { return true; }

// A track's block: four sounding channels, then the chain, then the
// track's own readers of the chain on the audio thread.
void stressRender(BelaContext*, void*) {
    Shared& s = *gShared;
    AudioBlock block;
    for (uint32_t c = 0; c < 8; ++c) {
        block.channelState[c] = c < 4 ? ChannelState::Playing : ChannelState::Vacant;
        for (uint32_t i = 0; i < AudioBlock::kFrames; ++i)
            block.channel(c)[i] = c < 4 ? 0.5f * std::sin(0.05f * float(i + c)) : 0.0f;
    }
    s.chain.process(block);
    bool silenced = true;
    for (float x : block.samples) {
        if (!std::isfinite(x) || std::fabs(x) > 8.0f)
            s.badValue = true;
        silenced &= x == 0.0f;
    }
    if (silenced)
        s.silencedBlocks.fetch_add(1);
    const long n = s.renders.load();
    s.chain.morphXY(float(n % 100) * 0.01f, 0.5f);
    s.chain.encoder(16 + int(n % 16), n % 2 ? 1 : -1, false);
    s.chain.button(5, 2, int(n % 5) - 1);
    if (Parameter* p = s.chain.getParameter(16 + int(n % 16)))
        if (p->name.empty())
            s.badValue = true;
    if (n % 50 == 0)
        s.chain.storeSnapshot(1);
    s.renders.fetch_add(1);
}

std::string typesOf(EffectChain& chain) {
    std::string out;
    for (unsigned i = 0; i < chain.effectCount(); ++i)
        if (auto e = chain.getEffect(i))
            out += (i ? "," : "") + e->typeName;
    return out;
}

}  // namespace

TEST(EffectChainThreaded, ChangesWhileTheAudioThreadAndLookupsWalkTheChain) {
    Shared shared;
    gShared = &shared;
    BelaInitSettings settings;
    settings.setup = stressSetup;
    settings.render = stressRender;
    settings.mode = HostMode::Stepped;
    settings.root = testsupport::tempDir() + "fx-root";
    ASSERT_EQ(Bela_initAudio(&settings, nullptr), 0);
    ASSERT_EQ(Bela_startAudio(), 0);

    std::atomic<bool> stopAudio{false};
    std::thread audio([&] {
        while (!stopAudio)
            host::stepBlocks(1, false);
    });
    // The OSC receiver: finds parameters by name in the effects' groups.
    std::atomic<bool> stopLookups{false};
    std::atomic<long> groupsFound{0};
    std::thread osc([&] {
        unsigned i = 0;
        while (!stopLookups) {
            if (auto group = shared.chain.getParameterGroup(i++ % 5)) {
                if (group->name != "stereo" && group->name != "limiter")
                    shared.badValue = true;
                if (!group->find("output"))
                    shared.badValue = true;
                groupsFound.fetch_add(1);
            }
            shared.chain.clearOverrides(-1);
        }
    });

    testing::internal::CaptureStdout();
    // The interface task and the loader: the same changes on a model list.
    std::vector<std::string> model;
    constexpr int kRounds = 410;  // ends with effects in the chain
    for (int round = 0; round < kRounds; ++round) {
        const unsigned at = unsigned(round * 7) % unsigned(model.size() + 1);
        const bool stereo = round % 3 != 0;
        if (model.size() < 4 && shared.chain.insertEffect(stereo ? AudioEffectType::Stereo : AudioEffectType::Limiter, at))
            model.insert(model.begin() + at, stereo ? "stereo" : "limiter");
        if (round % 4 == 3 && !model.empty()) {
            const unsigned victim = unsigned(round) % unsigned(model.size());
            ASSERT_TRUE(shared.chain.removeEffect(victim));
            model.erase(model.begin() + victim);
        }
        if (round % 10 == 9) {
            nlohmann::json saved = nlohmann::json::object();
            shared.chain.toJson(saved);
            ASSERT_TRUE(shared.chain.fromJson(saved, nullptr, FileVersion("", 1, 0, 0)));
        }
        if (round % 25 == 24) {
            shared.chain.clear();
            model.clear();
        }
        ASSERT_EQ(shared.chain.effectCount(), model.size());
    }
    testing::internal::GetCapturedStdout();
    std::string expected;
    for (size_t i = 0; i < model.size(); ++i)
        expected += (i ? "," : "") + model[i];
    EXPECT_EQ(typesOf(shared.chain), expected);
    EXPECT_FALSE(shared.chain.isBusy());

    // The readers get to the final chain too (bounded wait).
    const long before = shared.renders.load();
    const long found = groupsFound.load();
    for (int i = 0; i < 20000 && (shared.renders.load() < before + 5 || groupsFound.load() <= found); ++i)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    stopLookups = true;
    osc.join();
    stopAudio = true;
    audio.join();
    Bela_cleanupAudio();
    gShared = nullptr;

    EXPECT_GE(shared.renders.load(), before + 5);
    EXPECT_GT(groupsFound.load(), found);
    EXPECT_FALSE(shared.badValue.load());
}
