// The audio thread walks the chain and the track's and the OSC receiver's
// lookups read it while another thread inserts, removes, clears and reloads.
#include "tests/support/realtime_stepped.h"
#include "EffectTestSupport.h"
#include "platform/Audio.h"
#include "platform/Stepped.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

struct Shared {
    EffectChain chain;
    std::atomic<long> renders{0};
    std::atomic<bool> badValue{false};
};
Shared* gShared = nullptr;

// A track's block through its chain, then the track's own readers.
void stressRender(BelaContext*, void*) {
    Shared& s = *gShared;
    const long n = s.renders.load();
    AudioBlock block;
    for (uint32_t c = 0; c < 4; ++c) {
        block.channelState[c] = ChannelState::Playing;
        fxtest::fillChannel(block, c, 0.5f);
    }
    s.chain.process(block);
    for (float x : block.samples)
        if (!std::isfinite(x) || std::fabs(x) > 8.0f)
            s.badValue = true;
    s.chain.morphXY(float(n % 100) * 0.01f, 0.5f);
    // Each encoder turns one way, then back on its next visit: values wander
    // without drifting to their limits.
    s.chain.encoder(16 + int(n % 16), (n / 16) % 2 ? -1 : 1, false);
    s.chain.button(5, 2, int(n % 5) - 1);
    if (n % 50 == 0)
        s.chain.storeSnapshot(1);
    s.renders.fetch_add(1);
}

}  // namespace

TEST(EffectChainThreaded, ChangesWhileTheAudioThreadAndLookupsWalkTheChain) {
    Shared shared;
    gShared = &shared;
    ASSERT_TRUE(testsupport::startStepped(stressRender, "fx-root"));
    testsupport::SteppingAudio audio;
    std::atomic<bool> stop{false};
    std::atomic<long> groupsFound{0};
    std::thread osc([&] {
        for (unsigned i = 0; !stop; ++i) {
            if (auto group = shared.chain.getParameterGroup(i % 5)) {
                if (!group->find("output"))
                    shared.badValue = true;
                groupsFound.fetch_add(1);
            }
            shared.chain.clearOverrides(-1);
        }
    });

    testing::internal::CaptureStdout();
    std::vector<std::string> model;  // the same changes on a plain list
    for (int round = 0; round < 410; ++round) {
        const unsigned pos = unsigned(round * 7) % unsigned(model.size() + 1);
        const bool stereo = round % 3 != 0;
        if (model.size() < 4 && shared.chain.insertEffect(stereo ? AudioEffectType::Stereo : AudioEffectType::Limiter, pos))
            model.insert(model.begin() + pos, stereo ? "stereo" : "limiter");
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
    }
    testing::internal::GetCapturedStdout();
    std::string expected;
    for (size_t i = 0; i < model.size(); ++i)
        expected += (i ? "," : "") + model[i];
    EXPECT_EQ(fxtest::typesOf(shared.chain), expected);
    EXPECT_FALSE(expected.empty());
    // the readers reach the final chain too (the guard only ends a hung run)
    const long renders = shared.renders.load(), found = groupsFound.load();
    for (int i = 0; i < 600000 && (shared.renders.load() < renders + 5 || groupsFound.load() <= found); ++i)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    stop = true;
    osc.join();
    audio.stop();
    Bela_cleanupAudio();
    gShared = nullptr;
    EXPECT_GT(groupsFound.load(), found);
    EXPECT_FALSE(shared.badValue.load());
    EXPECT_FALSE(shared.chain.isBusy());
}
