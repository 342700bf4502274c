// The modulator base and the track's modulation manager: creation by name,
// removal, refusals, the scope ring, the page, and modulators saved with
// their parameters.
#include "tests/support/Shell.h"
#include "tests/support/TempDir.h"
#include "gui/MonoGFX.h"
#include "parameters/BasicEnvelope.h"
#include "parameters/BasicLFO.h"
#include "parameters/ChannelOffset.h"
#include "parameters/ModulationManager.h"
#include "parameters/RandomNumber.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

using json = nlohmann::json;

namespace {
std::string captured(const std::function<void()>& f) {
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}
bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
}  // namespace

TEST(ModulationManager, CreatesByExactNameAndDropsWhatNoParameterHolds) {
    ModulationManager manager;
    std::shared_ptr<Modulator> lfo;
    std::string out = captured([&] { lfo = manager.addModulator("LFO", 8, "level", "amp"); });
    EXPECT_TRUE(contains(out, "[ModulationManager] adding [LFO] with 8 channels to [amp: level]. Track had 0 "
                              "modulators before this\n"));
    ASSERT_NE(dynamic_cast<BasicLFO*>(lfo.get()), nullptr);
    EXPECT_EQ(lfo.use_count(), 2);  // the list and this copy
    ParameterFloat level("level", ParameterFloat::Percent, Stored | PerChannel, 0.5f);
    captured([&] {
        EXPECT_EQ(manager.addModulator("lfo", 8, "level", "amp"), nullptr);
        EXPECT_EQ(manager.addModulator("none", 8, "level", "amp"), nullptr);
        EXPECT_NE(dynamic_cast<BasicEnvelope*>(manager.addModulatorTo("AD env", level).get()), nullptr);
        EXPECT_NE(dynamic_cast<RandomNumber*>(manager.addModulator("random", 8, "level", "amp").get()), nullptr);
        EXPECT_NE(dynamic_cast<ChannelOffset*>(manager.addModulatorTo("offset", level).get()), nullptr);
    });
    EXPECT_EQ(modulatorTypeName(5), "none");
    EXPECT_EQ(manager.typeNameAt(3), "offset");
    EXPECT_EQ(manager.typeNameAt(4), "");
    EXPECT_EQ(manager.parameterGroupAt(2)->name, "random");
    EXPECT_EQ(manager.parameterGroupAt(4), nullptr);

    lfo.reset();
    out = captured([&] { manager.removeUnused(); });
    EXPECT_TRUE(contains(out, "[ModulationManager] removing unused [LFO] assigned to [level]\n"));
    EXPECT_TRUE(contains(out, "removing unused [random]"));
    ASSERT_EQ(manager.size(), 2u);
    std::shared_ptr<Modulator> detached = level.removeModulator(0);
    out = captured([&] { manager.removeModulator(detached); });
    EXPECT_EQ(out, "[ModulationManager] removing [AD env] assigned to [level] which has 2 refcounts\n");
    EXPECT_EQ(captured([&] { manager.removeModulator(detached); }), "");  // not listed: nothing
    // A group handed to another thread keeps its modulator alive.
    auto group = manager.parameterGroupAt(0);
    level.removeModulator(0);
    captured([&] { manager.removeAll(); });
    EXPECT_EQ(manager.size(), 0u);
    EXPECT_EQ(group->name, "offset");
}

TEST(ModulationManager, AReleasedModulatorTakesThoseOnItsControlsWithIt) {
    ModulationManager manager;
    ParameterFloat cutoff("filt freq", ParameterFloat::Hertz, Stored | PerChannel, 1000.0f);
    captured([&] {
        auto lfo = std::static_pointer_cast<BasicLFO>(manager.addModulatorTo("LFO", cutoff));
        manager.addModulatorTo("offset", lfo->frequency);
        manager.addModulatorTo("random", manager.list()->at(1)->amount);
    });
    ASSERT_EQ(manager.size(), 3u);
    // As a load does: the parameter lets go, the track drops the unused.
    captured([&] {
        cutoff.resetToDefault();
        manager.removeUnused();
    });
    EXPECT_EQ(manager.size(), 0u);
}

TEST(ModulationManager, RefusesWhatAParameterCannotHold) {
    ModulationManager manager;
    // A file naming a modulator for a parameter without channels: refused
    // like the menu refuses it, nothing listed.
    ParameterFloat plain("gain", ParameterFloat::Percent, XYMorph | Stored, 0.5f);
    json j = json::parse(R"({"value": 0.5, "modulator": [{"modulator type": "LFO"}]})");
    std::string out = captured([&] { plain.fromJson(j, &manager, FileVersion()); });
    EXPECT_EQ(plain.modulatorCount(), 0u);
    EXPECT_EQ(manager.size(), 0u);
    EXPECT_TRUE(contains(out, "can't add [LFO] to [: gain]: Can't add modulator to this parameter...")) << out;
    EXPECT_EQ(manager.addModulator("LFO", 0, "gain", ""), nullptr);
    // The ninth of a parameter is refused before it is listed, from the
    // menu and from a file alike.
    ParameterFloat level("level", ParameterFloat::Percent, Stored | PerChannel, 0.5f);
    captured([&] {
        for (int i = 0; i < 8; ++i)
            manager.addModulatorTo("offset", level);
    });
    out = captured([&] { EXPECT_EQ(manager.addModulatorTo("LFO", level), nullptr); });
    EXPECT_TRUE(contains(out, "A parameter takes at most 8 modulators")) << out;
    EXPECT_EQ(manager.size(), 8u);
    json nine = level.toJson();
    nine["modulator"].push_back(nine["modulator"][0]);
    ModulationManager other;
    ParameterFloat copy("level", ParameterFloat::Percent, Stored | PerChannel, 0.5f);
    captured([&] { copy.fromJson(nine, &other, FileVersion()); });
    EXPECT_EQ(copy.modulatorCount(), 8u);
    EXPECT_EQ(other.size(), 8u);
}

TEST(ModulatorBase, ScopeRingSkipsEverySixtyFourthStore) {
    ChannelOffset m(8, "level", "amp");
    for (uint32_t n = 1; n <= 64; ++n) {
        const int32_t before = m.history[2].writeIndex;
        m.storeOutput(2, float(n));
        const int32_t after = m.history[2].writeIndex;
        EXPECT_EQ(after, n == 64 ? before : before == 0 ? 19 : before - 1) << n;
        if (n < 64) {
            EXPECT_EQ(float(m.history[2].values[size_t(after)]), float(n - 1));
        }
    }
    EXPECT_EQ(m.storeCounts[2], 64u);
    EXPECT_EQ(m.outputs[2], 64.0f);
}

TEST(ModulationManagerPage, ControlsButtonsAndDrawing) {
    ModulationManager manager;
    captured([&] {
        manager.addModulator("LFO", 8, "cutoff", "filter");
        manager.addModulator("AD env", 8, "cutoff", "filter");
    });
    auto lfo = std::static_pointer_cast<BasicLFO>(manager.list()->at(0));
    EXPECT_EQ(manager.encoderParameter(0, 28), nullptr);
    EXPECT_EQ(manager.encoderParameter(0, 32), nullptr);
    EXPECT_EQ(manager.encoderParameter(0, 31), &lfo->amount);
    // "trig" up to "sync": encoder 29 then sets the clock multiplier; one
    // more press wraps to "-" and marks the override.
    for (int i = 0; i < 3; ++i)
        manager.buttonPressed(0, 5);
    EXPECT_EQ(manager.encoderParameter(0, 29), &lfo->clockMult);
    lfo->trig.overridden = false;
    manager.buttonPressed(0, 5);
    EXPECT_EQ(lfo->trig.value.load(), 0);
    EXPECT_TRUE(lfo->trig.overridden.load());
    manager.buttonPressed(0, 10);  // a stepped shape: encoder 30 smooths
    EXPECT_EQ(manager.encoderParameter(0, 30), &lfo->smoothing);
    manager.buttonPressed(1, 10);  // the envelope has no slot-4 control
    EXPECT_TRUE(manager.changeParameter(1, 2, 1, false));
    EXPECT_FALSE(manager.changeParameter(1, 4, 1, false));

    lfo->frequency.setValue(20.0f, true);
    for (int k = 0; k < 30; ++k)
        lfo->parameterGroup.updateBlock(), lfo->process(0, false, false);
    lfo->shape.setValue(BasicLFO::Sine, true);
    MonoGFX g;
    g.init(256, 64);
    auto brightest = [&](int x0, int y0, int x1, int y1) {
        uint32_t b = 0;
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                b = std::max(b, g.pixel(x, y));
        return b;
    };
    manager.drawModulator(&g, 0, 0, 5, 30);  // out of range: nothing
    EXPECT_EQ(brightest(0, 0, 255, 63), 0u);
    manager.drawModulator(&g, 0, 0, 0, 30);
    EXPECT_EQ(brightest(161, 44, 207, 52), 15u);  // cell 10 selected
    EXPECT_LT(brightest(114, 44, 160, 52), 15u);  // cell 9 not
    EXPECT_EQ(g.pixel(1, 10), 2u);                // channel 0's scope frame
    EXPECT_EQ(brightest(2, 11, 15, 30), 12u);     // its fresh trace
    EXPECT_FALSE(lfo->written[0]);
    EXPECT_EQ(brightest(129, 10, 254, 31), 15u);  // the preview
    EXPECT_EQ(brightest(150, 0, 255, 8), 15u);    // " > cutoff"
    // A page origin past the scopes' end: no preview box, no endless loop.
    g.clear();
    lfo->drawPage(&g, 240, 0);
    EXPECT_EQ(brightest(0, 10, 238, 31), 0u);
}

TEST(ModulatorFiles, SavedAndLoadedWithTheirParameter) {
    ModulationManager manager;
    ParameterFloat cutoff("cutoff", ParameterFloat::Hertz, XYMorph | Stored | PerChannel, 1000.0f);
    std::shared_ptr<Modulator> lfo, env;
    captured([&] {
        lfo = manager.addModulatorTo("LFO", cutoff);
        env = manager.addModulatorTo("AD env", cutoff);
        manager.addModulatorTo("offset", static_cast<BasicLFO&>(*lfo).frequency);  // one level down
    });
    auto& l = static_cast<BasicLFO&>(*lfo);
    l.frequency.setValue(4.0f, true);
    l.shape.setValue(BasicLFO::Square, true);
    l.trig.setValue(BasicLFO::kTrigSync, true);
    l.amount.setValue(25.0f, true);
    static_cast<BasicEnvelope&>(*env).decay.setValue(750.0f, true);
    const std::string path = testsupport::tempDir() + "modulators.json";
    std::ofstream(path) << cutoff.toJson().dump(1, '\t');
    // An independent parser reads what was written.
    EXPECT_EQ(testsupport::shellOutput("jq -r '.modulator[0][\"modulator type\"], .modulator[0].shape.value, "
                                       ".modulator[0].trig.value, .modulator[1].decay.value[0], "
                                       ".modulator[0].frequency.modulator[0][\"modulator type\"], "
                                       ".modulator[0].amount.value[0]' " + path),
              "LFO\nsquare\nsync\n750\noffset\n0.25\n");  // choices by name

    json j = json::parse(std::ifstream(path));
    ModulationManager other;
    ParameterFloat loaded("cutoff", ParameterFloat::Hertz, XYMorph | Stored | PerChannel, 1000.0f);
    captured([&] { loaded.fromJson(j, &other, FileVersion("", 0, 1, 30)); });
    ASSERT_EQ(loaded.modulatorCount(), 2u);
    EXPECT_EQ(other.size(), 3u);
    auto* back = dynamic_cast<BasicLFO*>(loaded.modulators[0].get());
    ASSERT_NE(back, nullptr);
    EXPECT_NEAR(back->frequency.converted, 4.0f, 1e-3f);
    EXPECT_EQ(back->trig.value.load(), BasicLFO::kTrigSync);
    EXPECT_EQ(back->frequency.modulatorName(0), "offset");
    EXPECT_EQ(loaded.toJson(), cutoff.toJson());
}
