// Modulators added and removed from the menu side while the audio thread
// renders modulated parameters and an OSC-like thread looks groups up.
#include "tests/support/realtime_stepped.h"
#include "parameters/BasicEnvelope.h"
#include "parameters/BasicLFO.h"
#include "parameters/ChannelOffset.h"
#include "parameters/ModulationManager.h"
#include "parameters/RandomNumber.h"
#include "platform/Osc.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

namespace {

std::atomic<int> gDestroyed{0};
std::atomic<int> gDestroyedOnAudio{0};

// The real kinds, with a deleter that notes the thread the last reference
// goes on.
class WatchedManager : public ModulationManager {
protected:
    std::shared_ptr<Modulator> _create(ModulatorType type, uint32_t n, const std::string& target,
                                       const std::string& group) override {
        Modulator* made = type == 1   ? static_cast<Modulator*>(new BasicLFO(n, target, group))
                          : type == 2 ? static_cast<Modulator*>(new BasicEnvelope(n, target, group))
                          : type == 3 ? static_cast<Modulator*>(new RandomNumber(n, target, group))
                                      : static_cast<Modulator*>(new ChannelOffset(n, target, group));
        return std::shared_ptr<Modulator>(made, [](Modulator* m) {
            gDestroyedOnAudio.fetch_add(Bela_isAudioThread() ? 1 : 0);
            gDestroyed.fetch_add(1);
            delete m;
        });
    }
};

struct Rig {
    ParameterFloat cutoff{"cutoff", ParameterFloat::Hertz, Smoothed | PerChannel, 1000.0f};
    ParameterFloat level{"level", ParameterFloat::Percent, Stored | PerChannel, 0.5f};
    std::atomic<long> blocks{0};
    std::atomic<bool> bad{false};
};
Rig* gRig = nullptr;

void render(BelaContext*, void*) {
    Rig& r = *gRig;
    const long b = r.blocks.load();
    r.cutoff.updateBlock();
    r.level.updateBlock();
    for (uint32_t ch = 0; ch < 8; ++ch) {
        const float c = r.cutoff.getModulated(ch, b % 16 == 0, b % 3 == 0);
        const float l = r.level.getModulated(ch, b % 16 == 0, b % 3 == 0);
        if (!(c >= 20.0f && c <= 19000.0f && l >= 0.0f && l <= 1.0f))
            r.bad = true;
    }
    r.blocks.fetch_add(1);
}

}  // namespace

TEST(ModulationThreaded, MenuEditsWhileAudioRendersAndOscLooksUp) {
    Rig rig;
    gRig = &rig;
    ASSERT_TRUE(testsupport::startStepped(render, "modulation-root"));
    testsupport::SteppingAudio audio;
    {
        WatchedManager manager;
        std::atomic<bool> stop{false};
        std::atomic<long> lookups{0};
        std::thread osc([&] {
            // The OSC router's "mod" addresses: a group by position, then a
            // parameter of it set by name.
            oscpkt::Message message("/mod/amount");
            message.pushFloat(0.3f);
            for (size_t i = 0; !stop.load(); ++i) {
                if (std::shared_ptr<ParameterGroup> g = manager.parameterGroupAt(i % 10)) {
                    if (Parameter* p = g->find("amount"))
                        p->setFromOSC(message);
                    lookups.fetch_add(1);
                }
            }
        });
        const char* kinds[] = {"LFO", "AD env", "random", "offset"};
        testing::internal::CaptureStdout();
        for (int round = 0; round < 150; ++round) {
            Parameter& target = round % 2 ? static_cast<Parameter&>(rig.cutoff) : rig.level;
            manager.addModulatorTo(kinds[round % 4], target);
            if (round % 3 == 0 && target.modulatorCount() > 0) {
                std::shared_ptr<Modulator> m = target.removeModulator(0);
                manager.removeModulator(m);
            }
            if (round % 10 == 9) {  // a file restore
                nlohmann::json j = rig.level.toJson();
                rig.level.fromJson(j, &manager, FileVersion("", 0, 1, 30));
                manager.removeUnused();
            }
            if (round % 25 == 24) {
                rig.cutoff.resetToDefault();
                manager.removeUnused();
            }
        }
        // The lookups meet the final list too; a group the OSC side holds
        // keeps its modulator listed, so it stops before the last drop.
        const long seen = lookups.load();
        while (lookups.load() < seen + 50 && manager.size() > 0)
            std::this_thread::yield();
        stop = true;
        osc.join();
        manager.removeUnused();
        EXPECT_EQ(manager.size(), rig.level.modulatorCount() + rig.cutoff.modulatorCount());
        rig.level.resetToDefault();
        rig.cutoff.resetToDefault();
        manager.removeUnused();
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(manager.size(), 0u);
    }
    const long before = rig.blocks.load();
    while (rig.blocks.load() < before + 3)
        std::this_thread::yield();
    audio.stop();
    Bela_cleanupAudio();
    gRig = nullptr;
    EXPECT_GT(gDestroyed.load(), 100);
    EXPECT_EQ(gDestroyedOnAudio.load(), 0);
    EXPECT_FALSE(rig.bad.load());
}
