// The modulator base and the track's modulation manager: creation by name,
// removal, refusals, the scope ring, the page's controls and drawing, and
// modulators saved with their parameters.
#include "tests/support/Shell.h"
#include "tests/support/TempDir.h"
#include "gui/MonoGFX.h"
#include "parameters/BasicEnvelope.h"
#include "parameters/BasicLFO.h"
#include "parameters/ChannelOffset.h"
#include "parameters/ModulationManager.h"
#include "parameters/ParameterFloat.h"
#include "parameters/RandomNumber.h"

#include <gtest/gtest.h>

#include <fstream>

using json = nlohmann::json;

namespace {
std::string captured(const std::function<void()>& f) {
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}
bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
}  // namespace

TEST(ModulationManager, CreatesEachKindByItsExactName) {
    ModulationManager manager;
    std::shared_ptr<Modulator> lfo;
    const std::string out = captured([&] { lfo = manager.addModulator("LFO", 8, "cutoff", "filter"); });
    EXPECT_TRUE(contains(out, "[ModulationManager] adding [LFO] with 8 channels to [filter: cutoff]. Track had 0 "
                              "modulators before this\n"));
    ASSERT_NE(dynamic_cast<BasicLFO*>(lfo.get()), nullptr);
    EXPECT_EQ(lfo->channelCount, 8u);
    EXPECT_EQ(lfo.use_count(), 2);  // the list and this copy
    captured([&] {
        EXPECT_EQ(manager.addModulator("lfo", 8, "cutoff", "filter"), nullptr);
        EXPECT_EQ(manager.addModulator("none", 8, "cutoff", "filter"), nullptr);
        EXPECT_NE(dynamic_cast<BasicEnvelope*>(manager.addModulator("AD env", 8, "a", "g").get()), nullptr);
        EXPECT_NE(dynamic_cast<RandomNumber*>(manager.addModulator("random", 8, "a", "g").get()), nullptr);
        EXPECT_NE(dynamic_cast<ChannelOffset*>(manager.addModulator("offset", 8, "a", "g").get()), nullptr);
    });
    ASSERT_EQ(manager.size(), 4u);
    const char* names[] = {"LFO", "AD env", "random", "offset"};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(manager.typeNameAt(i), names[i]);
        EXPECT_EQ(manager.parameterGroupAt(i)->name, names[i]);
    }
    EXPECT_EQ(manager.typeNameAt(4), "");
    EXPECT_EQ(manager.parameterGroupAt(4), nullptr);
    for (ModulatorType t : {0u, 5u, 1000u})
        EXPECT_EQ(modulatorTypeName(t), "none");
    // Every kind's group: the base's three, then its own, all saved.
    auto group = manager.parameterGroupAt(0);
    std::vector<std::string> members;
    for (Parameter* p : group->parameters)
        members.push_back(p->name);
    EXPECT_EQ(members, (std::vector<std::string>{"trig", "range", "amount", "shape", "fold", "smoothing",
                                                 "frequency", "clock mult"}));
    EXPECT_EQ(group->storedParameters.size(), members.size());
}

TEST(ModulationManager, DropsOnlyWhatNoParameterHolds) {
    ModulationManager manager;
    ParameterFloat level("level", ParameterFloat::Percent, Stored | PerChannel, 0.5f);
    captured([&] {
        for (const char* kind : {"LFO", "AD env", "random", "offset"})
            manager.addModulator(kind, 8, "level", "amp");
        auto list = manager.list();
        level.addModulator((*list)[1]);
        level.addModulator((*list)[3]);
    });
    std::string out = captured([&] { manager.removeUnused(); });
    EXPECT_TRUE(contains(out, "[ModulationManager] removing unused [LFO] assigned to [level]\n"));
    EXPECT_TRUE(contains(out, "removing unused [random]"));
    ASSERT_EQ(manager.size(), 2u);
    EXPECT_EQ(manager.typeNameAt(0), "AD env");

    std::shared_ptr<Modulator> detached = level.removeModulator(0);
    out = captured([&] { manager.removeModulator(detached); });
    EXPECT_EQ(out, "[ModulationManager] removing [AD env] assigned to [level] which has 2 refcounts\n");
    EXPECT_EQ(manager.size(), 1u);
    // One that is not listed: nothing happens, nothing is printed.
    EXPECT_EQ(captured([&] { manager.removeModulator(detached); }), "");
    // A group handed to another thread keeps its modulator alive.
    auto group = manager.parameterGroupAt(0);
    level.removeModulator(0);
    captured([&] { manager.removeAll(); });
    EXPECT_EQ(manager.size(), 0u);
    EXPECT_EQ(group->name, "offset");
}

TEST(ModulationManager, RefusesWhatAParameterCannotHold) {
    ModulationManager manager;
    // A file naming a modulator for a parameter without channels: refused
    // like the menu refuses it, nothing listed.
    ParameterFloat plain("gain", ParameterFloat::Percent, XYMorph | Stored, 0.5f);
    json j = json::parse(R"({"value": [0.5,0.5,0.5,0.5,0.5], "modulator": [{"modulator type": "LFO"},
                                                                 {"modulator type": "offset"}]})");
    std::string out = captured([&] { plain.fromJson(j, &manager, FileVersion()); });
    EXPECT_EQ(plain.modulatorCount(), 0u);
    EXPECT_EQ(manager.size(), 0u);
    EXPECT_TRUE(contains(out, "can't add [LFO] to [: gain]: Can't add modulator to this parameter...")) << out;
    EXPECT_EQ(manager.addModulator("LFO", 0, "gain", ""), nullptr);
    // The ninth modulator of a parameter is refused before it is listed.
    ParameterFloat level("level", ParameterFloat::Percent, Stored | PerChannel, 0.5f);
    captured([&] {
        for (int i = 0; i < 8; ++i)
            ASSERT_NE(manager.addModulatorTo("offset", level), nullptr);
    });
    out = captured([&] { EXPECT_EQ(manager.addModulatorTo("LFO", level), nullptr); });
    EXPECT_TRUE(contains(out, "A parameter takes at most 8 modulators")) << out;
    EXPECT_EQ(manager.size(), 8u);
    EXPECT_EQ(level.modulatorCount(), 8u);
    // A file with nine: eight come back, and the manager lists those eight.
    json nine = level.toJson();
    nine["modulator"].push_back(nine["modulator"][0]);
    ModulationManager other;
    ParameterFloat copy("level", ParameterFloat::Percent, Stored | PerChannel, 0.5f);
    captured([&] { copy.fromJson(nine, &other, FileVersion()); });
    EXPECT_EQ(copy.modulatorCount(), 8u);
    EXPECT_EQ(other.size(), 8u);
}

TEST(ModulatorBase, ScopeRingHoldsEverySixtyFourthStore) {
    ChannelOffset m(8, "level", "amp");
    for (uint32_t n = 1; n <= 64; ++n) {
        const int32_t indexBefore = m.history[2].writeIndex;
        EXPECT_EQ(m.storeOutput(2, float(n)), float(n));
        if (n < 64) {
            EXPECT_EQ(int32_t(m.history[2].writeIndex), indexBefore == 0 ? 19 : indexBefore - 1) << n;
            EXPECT_EQ(float(m.history[2].values[size_t(int32_t(m.history[2].writeIndex))]), float(n - 1));
        } else {
            EXPECT_EQ(int32_t(m.history[2].writeIndex), indexBefore);  // replaced only
        }
    }
    EXPECT_EQ(m.storeCounts[2], 64u);
    EXPECT_EQ(m.outputs[2], 64.0f);
    EXPECT_TRUE(m.written[2]);
    EXPECT_EQ(m.storeCounts[1], 0u);
}

TEST(ModulationManagerPage, ButtonsStepChoicesAndEncodersFollow) {
    ModulationManager manager;
    captured([&] {
        manager.addModulator("LFO", 8, "level", "amp");
        manager.addModulator("AD env", 8, "level", "amp");
    });
    auto lfo = std::static_pointer_cast<BasicLFO>(manager.list()->at(0));
    EXPECT_EQ(manager.encoderParameter(0, 28), nullptr);
    EXPECT_EQ(manager.encoderParameter(0, 32), nullptr);
    EXPECT_EQ(manager.encoderParameter(0, 29), &lfo->frequency);
    EXPECT_EQ(manager.encoderParameter(0, 30), &lfo->fold);
    EXPECT_EQ(manager.encoderParameter(0, 31), &lfo->amount);
    EXPECT_EQ(manager.encoderParameter(2, 31), nullptr);
    // "trig" up to "sync": encoder 29 now sets the clock multiplier.
    for (int i = 0; i < 3; ++i)
        manager.buttonPressed(0, 5);
    EXPECT_EQ(lfo->trig.value.load(), BasicLFO::kTrigSync);
    EXPECT_EQ(manager.encoderParameter(0, 29), &lfo->clockMult);
    lfo->trig.overridden = false;
    manager.buttonPressed(0, 5);  // wraps to "-"
    EXPECT_EQ(lfo->trig.value.load(), 0);
    EXPECT_TRUE(lfo->trig.overridden.load());
    // A stepped shape: encoder 30 sets the smoothing.
    manager.buttonPressed(0, 10);
    EXPECT_EQ(lfo->shape.value.load(), BasicLFO::Rising);
    EXPECT_EQ(manager.encoderParameter(0, 30), &lfo->smoothing);
    // The envelope has no slot-4 control: button 10 changes nothing.
    auto env = std::static_pointer_cast<BasicEnvelope>(manager.list()->at(1));
    manager.buttonPressed(1, 10);
    EXPECT_EQ(env->trig.value.load(), 2);
    EXPECT_EQ(env->range.value.load(), 0);
    manager.buttonPressed(1, 15);
    EXPECT_EQ(env->range.choiceName(env->range.value), "negative");
    // Encoder steps go to the slot's control.
    EXPECT_TRUE(manager.changeParameter(1, 2, 1, false));
    EXPECT_GT(env->amount.getValue(), 0.0f);
    EXPECT_FALSE(manager.changeParameter(1, 4, 1, false));  // an empty slot
    EXPECT_FALSE(manager.changeParameter(7, 0, 1, false));
}

TEST(ModulationManagerPage, DrawsCellsScopesChoicesAndPreview) {
    ModulationManager manager;
    captured([&] { manager.addModulator("LFO", 8, "cutoff", "filter"); });
    auto lfo = std::static_pointer_cast<BasicLFO>(manager.list()->at(0));
    lfo->frequency.setValue(20.0f, true);
    for (int k = 0; k < 30; ++k) {
        lfo->parameterGroup.updateBlock();
        lfo->process(0, false, false);
    }
    MonoGFX g;
    g.init(256, 64);
    manager.drawModulator(&g, 0, 0, 5, 30);  // out of range: nothing
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 256; ++x)
            ASSERT_EQ(g.pixel(x, y), 0u);
    auto brightest = [&](int x0, int y0, int x1, int y1) {
        uint32_t b = 0;
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                b = std::max(b, g.pixel(x, y));
        return b;
    };
    manager.drawModulator(&g, 0, 0, 0, 30);
    EXPECT_EQ(brightest(161, 44, 207, 52), 15u);  // cell 10 ("fold") selected
    EXPECT_LT(brightest(114, 44, 160, 52), 15u);  // cell 9 ("frequency") not
    EXPECT_EQ(g.pixel(1, 10), 2u);                // channel 0's scope frame
    EXPECT_EQ(brightest(2, 11, 15, 30), 12u);     // its fresh trace
    EXPECT_FALSE(lfo->written[0]);                // drawn: no longer fresh
    EXPECT_EQ(brightest(129, 10, 254, 31), 15u);  // the sine preview
    EXPECT_EQ(brightest(0, 33, 80, 40), 15u);     // "trig: -" in the choice row
    EXPECT_EQ(brightest(150, 0, 255, 8), 15u);    // " > cutoff" header
    // A page origin past the scopes' end draws no preview and stays short.
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
        // A modulator on the LFO's own rate comes back too.
        manager.addModulatorTo("offset", static_cast<BasicLFO&>(*lfo).frequency);
    });
    auto& l = static_cast<BasicLFO&>(*lfo);
    l.frequency.setValue(4.0f, true);
    l.shape.setValue(BasicLFO::Square, true);
    l.trig.setValue(BasicLFO::kTrigSync, true);
    l.clockMult.setValue(0.5f, true);
    l.amount.setValue(25.0f, true);
    static_cast<BasicEnvelope&>(*env).decay.setValue(750.0f, true);
    const std::string path = testsupport::tempDir() + "modulators.json";
    {
        std::ofstream file(path);
        file << cutoff.toJson().dump(1, '\t');
    }
    // An independent parser reads what was written.
    const std::string jq = testsupport::shellOutput(
        "jq -r '.modulator[0][\"modulator type\"], .modulator[0].shape.value, .modulator[0].trig.value, "
        ".modulator[1].decay.value[0], .modulator[0].frequency.modulator[0][\"modulator type\"], "
        ".modulator[0].amount.value[0]' " + path);
    EXPECT_EQ(jq, "LFO\nsquare\nsync\n750\noffset\n0.25\n");  // choices by name

    std::ifstream file(path);
    json j = json::parse(file);
    ModulationManager other;
    ParameterFloat loaded("cutoff", ParameterFloat::Hertz, XYMorph | Stored | PerChannel, 1000.0f);
    captured([&] { loaded.fromJson(j, &other, FileVersion("", 0, 1, 30)); });
    ASSERT_EQ(loaded.modulatorCount(), 2u);
    EXPECT_EQ(other.size(), 3u);
    auto* back = dynamic_cast<BasicLFO*>(loaded.modulators[0].get());
    ASSERT_NE(back, nullptr);
    EXPECT_NEAR(back->frequency.converted, 4.0f, 1e-3f);
    EXPECT_EQ(back->shape.value.load(), BasicLFO::Square);
    EXPECT_EQ(back->trig.value.load(), BasicLFO::kTrigSync);
    EXPECT_FLOAT_EQ(back->clockMult.getValue(), 0.5f);
    EXPECT_FLOAT_EQ(back->amount.getValue(), 0.25f);
    EXPECT_EQ(back->frequency.modulatorName(0), "offset");
    EXPECT_FLOAT_EQ(static_cast<BasicEnvelope*>(loaded.modulators[1].get())->decay.getValue(), 750.0f);
    EXPECT_EQ(loaded.toJson(), cutoff.toJson());
}
