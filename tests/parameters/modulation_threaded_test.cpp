// Modulators added and removed from the menu side while the audio thread
// renders modulated parameters and an OSC-like thread looks groups up.
#include "tests/support/realtime_stepped.h"
#include "parameters/BasicEnvelope.h"
#include "parameters/BasicLFO.h"
#include "parameters/ChannelOffset.h"
#include "parameters/ModulationManager.h"
#include "parameters/ParameterFloat.h"
#include "parameters/ParameterGroup.h"
#include "parameters/RandomNumber.h"
#include "platform/Audio.h"
#include "platform/Osc.h"
#include "platform/Stepped.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

namespace {

std::atomic<int> gDestroyedOnAudio{0};
std::atomic<int> gDestroyed{0};

// The real kinds, with a deleter that notes the thread the last reference
// went on.
class WatchedManager : public ModulationManager {
protected:
    std::shared_ptr<Modulator> _create(ModulatorType type, uint32_t channels, const std::string& target,
                                       const std::string& group) override {
        Modulator* made = nullptr;
        switch (type) {
        case 1: made = new BasicLFO(channels, target, group); break;
        case 2: made = new BasicEnvelope(channels, target, group); break;
        case 3: made = new RandomNumber(channels, target, group); break;
        case 4: made = new ChannelOffset(channels, target, group); break;
        default: return {};
        }
        std::shared_ptr<Modulator> watched(made, [](Modulator* m) {
            if (Bela_isAudioThread())
                gDestroyedOnAudio.fetch_add(1);
            gDestroyed.fetch_add(1);
            delete m;
        });
        return watched;
    }
};

struct Rig {
    ParameterFloat cutoff{"cutoff", ParameterFloat::Hertz, Smoothed | PerChannel, 1000.0f};
    ParameterFloat level{"level", ParameterFloat::Percent, Stored | PerChannel, 0.5f};
    ParameterGroup group{"rig"};
    std::atomic<long> blocks{0};
    std::atomic<bool> bad{false};
    Rig() {
        group.add(&cutoff);
        group.add(&level);
    }
};
Rig* gRig = nullptr;

void render(BelaContext*, void*) {
    Rig& r = *gRig;
    const long b = r.blocks.load();
    r.group.updateBlock();
    for (uint32_t ch = 0; ch < 8; ++ch) {
        const float c = r.cutoff.getModulated(ch, b % 16 == 0, b % 3 == 0);
        const float l = r.level.getModulated(ch, b % 16 == 0, b % 3 == 0);
        if (!std::isfinite(c) || c < 20.0f || c > 19000.0f || !(l >= 0.0f && l <= 1.0f))
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
                std::shared_ptr<ParameterGroup> g = manager.parameterGroupAt(i % 10);
                if (g) {
                    if (Parameter* p = g->find("amount"))
                        p->setFromOSC(message);
                    lookups.fetch_add(1);
                }
                manager.typeNameAt(i % 10);
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
            if (round % 10 == 9) {
                nlohmann::json j = rig.level.toJson();
                rig.level.fromJson(j, &manager, FileVersion("", 0, 1, 30));
                manager.removeUnused();
            }
            if (round % 25 == 24) {
                rig.cutoff.resetToDefault();
                manager.removeUnused();
            }
        }
        // Let the lookups meet the final list as well; a group the OSC side
        // still holds keeps its modulator listed, so it stops first.
        const long seen = lookups.load();
        while (lookups.load() < seen + 50 && manager.size() > 0)
            std::this_thread::yield();
        stop = true;
        osc.join();
        manager.removeUnused();
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(manager.size(), rig.level.modulatorCount() + rig.cutoff.modulatorCount());
        EXPECT_LE(rig.level.modulatorCount(), Parameter::kMaxModulators);
        // The parameters release theirs, then the list drops them.
        testing::internal::CaptureStdout();
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
    EXPECT_FALSE(rig.level.busy.load());
}
