// The engine interface: type ids and names, the shared parameters of every
// engine object, envelope slots, override clearing and the voice contract.
#include "engines/SynthEngineType.h"
#include "engines/SynthVoiceCommon.h"
#include "engines/subtractive/SubtractiveCommon.h"
#include "engines/subtractive/SubtractiveVoice.h"
#include "instrument/Settings.h"

#include "tests/support/engines_harness.h"

#include <gtest/gtest.h>

namespace {

// An engine with no envelope slots and a chosen page.
class BareCommon : public SynthVoiceCommon {
public:
    void drawOverview(MonoGFX&, uint32_t, uint32_t, int, int) override {}
    uint32_t envSlots() const override { return slots; }
    uint32_t slots = 0;
};

TEST(EngineType, NamesBothWaysIncludingTheModularAlias) {
    const char* names[] = {"none", "FM", "additive", "resonator", "subtractive", "quad engine", "granular", "modular"};
    for (uint32_t id = 0; id < kEngineTypeCount; ++id) EXPECT_STREQ(engineTypeName(id), names[id]);
    for (uint32_t id = 0; id < 7; ++id) EXPECT_EQ(engineTypeFromName(names[id]), id) << names[id];
    // Chosen as "eurorack", named "modular".
    EXPECT_EQ(engineTypeFromName("eurorack"), 7u);
    EXPECT_EQ(engineTypeFromName("modular"), 0u);
    EXPECT_EQ(engineTypeFromName("Subtractive"), 0u);
    EXPECT_STREQ(engineTypeName(8), "none");
    EXPECT_STREQ(engineTypeName(0xFFFFFFFFu), "none");
}

TEST(EngineType, SampleEngines) {
    std::vector<uint32_t> sample;
    for (uint32_t id = 0; id < 10; ++id)
        if (isSampleEngine(id)) sample.push_back(id);
    EXPECT_EQ(sample, (std::vector<uint32_t>{3, 4, 5, 6}));
}

TEST(EngineCommon, SharedParametersInOrderWithTheirOptionsAndRanges) {
    BareCommon c;
    struct Row {
        const char* name;
        bool morph, stored, smoothed, multi;
        uint32_t channels;
        float def, min, max;
    };
    const Row rows[] = {
        {"track volume", false, false, true, false, 0, 0.0f, -96.0f, 0.0f},
        {"aux send", false, false, true, false, 0, 0.0f, -96.0f, 0.0f},
        {"detune", true, true, false, false, 8, 0.0f, 0.0f, 1.0f},
        {"slide", true, true, false, false, 8, 50.0f, 0.0f, 5000.0f},
        {"polyphony", false, true, false, true, 0, 1, 1, 8},
        {"unison", false, true, false, false, 0, 1, 1, 8},
        {"osc retrig", false, true, false, false, 0, 0, 0, 1},
    };
    ASSERT_EQ(c.parameters.parameters.size(), 19u);
    for (size_t i = 0; i < 7; ++i) {
        const Row& r = rows[i];
        Parameter* p = c.parameters.parameters[i];
        SCOPED_TRACE(r.name);
        EXPECT_EQ(p->name, r.name);
        EXPECT_EQ(p->xyMorph, r.morph);
        EXPECT_EQ(p->stored, r.stored);
        EXPECT_EQ(p->smoothing, r.smoothed);
        EXPECT_EQ(p->multiSlot, r.multi);
        EXPECT_EQ(p->channelCount, r.channels);
        if (auto* f = dynamic_cast<ParameterFloat*>(p)) {
            EXPECT_FLOAT_EQ(f->getValue(), r.def);
            EXPECT_FLOAT_EQ(f->minimum, r.min);
            EXPECT_FLOAT_EQ(f->maximum, r.max);
        } else {
            auto* n = dynamic_cast<ParameterInt*>(p);
            ASSERT_NE(n, nullptr);
            EXPECT_EQ(n->value, int32_t(r.def));
            EXPECT_EQ(n->minimum, int32_t(r.min));
            EXPECT_EQ(n->maximum, int32_t(r.max));
        }
    }
    const char* kinds[] = {"attack", "hold", "decay"};
    const float defaults[] = {10.0f, 0.0f, 200.0f};
    for (int k = 0; k < 3; ++k)
        for (int bank = 0; bank < 4; ++bank) {
            auto* f = dynamic_cast<ParameterFloat*>(c.parameters.parameters[size_t(7 + k * 4 + bank)]);
            ASSERT_NE(f, nullptr);
            EXPECT_EQ(f->name, std::to_string(bank + 1) + " " + kinds[k]);
            EXPECT_EQ(f->displayMode, uint32_t(ParameterFloat::Milliseconds));
            EXPECT_FLOAT_EQ(f->getValue(), defaults[k]);
            EXPECT_FLOAT_EQ(f->maximum, c.maxEnvelopeTime);
            EXPECT_TRUE(f->xyMorph && f->stored && f->channelCount == 8);
        }
    EXPECT_EQ(c.settingsGroup.parameters, (std::vector<Parameter*>{&c.unison, &c.oscRetrig}));
    for (Parameter* p : c.exposedParameters) EXPECT_EQ(p, nullptr);
    EXPECT_EQ(c.engineType, 0u);
    EXPECT_EQ(c.selectedEnvSlot, 0u);
}

TEST(EngineCommon, EnvelopeSlotSelectionAndInfo) {
    SubtractiveCommon c;
    c.selectEnvSlot(4);
    EXPECT_EQ(c.selectedEnvSlot, 4u);
    for (uint32_t i = 13; i < 16; ++i) EXPECT_EQ(c.exposedParameters[i], nullptr);
    c.selectEnvSlot(3);  // bank 4 exists but the engine uses three slots
    EXPECT_EQ(c.exposedParameters[13], nullptr);
    c.selectEnvSlot(1);
    EXPECT_EQ(c.exposedParameters[13], &c.envAttack[1]);
    EXPECT_EQ(c.exposedParameters[14], &c.envHold[1]);
    EXPECT_EQ(c.exposedParameters[15], &c.envDecay[1]);

    c.envAttack[2].setValue(123.0f, true);
    std::array<EnvelopeInfo, 4> info{};
    info[3].attack = -1.0f;
    ASSERT_EQ(c.envInfo(info), 3u);
    EXPECT_FLOAT_EQ(info[0].hold, 100.0f);
    EXPECT_FLOAT_EQ(info[2].attack, 123.0f);
    EXPECT_FLOAT_EQ(info[2].hold, 0.0f);
    EXPECT_FLOAT_EQ(info[3].attack, -1.0f);  // untouched

    BareCommon bare;
    std::array<EnvelopeInfo, 4> none{};
    none[0].attack = 7.0f;
    EXPECT_EQ(bare.envInfo(none), 0u);
    EXPECT_FLOAT_EQ(none[0].attack, 7.0f);
    bare.refreshEnvSlot();
    EXPECT_EQ(bare.exposedParameters[13], nullptr);
}

TEST(EngineCommon, ClearOverridesByPlaceIgnoresPlacesOutsideThePage) {
    SubtractiveCommon c;
    c.clearOverrides(-1);
    c.filtFreq.overridden = true;
    c.mix.overridden = true;
    c.clearOverrides(6);  // "filt freq"
    EXPECT_FALSE(c.filtFreq.overridden);
    EXPECT_TRUE(c.mix.overridden);
    // The effect rows' places and garbage do nothing (and do not read past the page).
    c.clearOverrides(16);
    c.clearOverrides(31);
    c.clearOverrides(-7);
    c.clearOverrides(12);  // empty place
    EXPECT_TRUE(c.mix.overridden);
    c.clearOverrides(-1);
    EXPECT_FALSE(c.mix.overridden);
}

TEST(EngineCommon, PassThroughsReachTheGroup) {
    SubtractiveCommon c;
    c.mix.setValue(20.0f, true);  // percent
    c.storeSnapshot(1);
    c.mix.setValue(80.0f, true);
    c.storeSnapshot(2);
    c.morphXY(0.0f, 0.0f);
    const float atCorner = c.mix.getValue();
    c.morphXY(1.0f, 0.0f);
    EXPECT_NE(c.mix.getValue(), atCorner);
}

TEST(SettingsGroup, NameAndMembers) {
    ParameterFloat p("x", ParameterFloat::Plain, NoFlags, 0.0f);
    SettingsGroup g("first", {&p});
    g.setName("second");
    EXPECT_EQ(g.name, "second");
    ASSERT_EQ(g.parameters.size(), 1u);
    EXPECT_EQ(g.parameters[0], &p);
}

TEST(SynthVoice, ConstructedIdle) {
    SubtractiveVoice v;
    EXPECT_FALSE(v.active);
    EXPECT_FALSE(v.started);
    EXPECT_EQ(v.sampleStep, 1u);
    EXPECT_EQ(v.note.type, 3u);
    EXPECT_FLOAT_EQ(v.note.gain, 1.0f);
    EXPECT_EQ(v.note.flags, 1u);
    EXPECT_EQ(v.note.engine, nullptr);
    EXPECT_FLOAT_EQ(v.glideUpDivisor, 25.0f);
    EXPECT_FLOAT_EQ(v.glideDownDivisor, 25.0f);
    EXPECT_FLOAT_EQ(v.currentFrequency, 440.0f);
}

TEST(SynthVoice, FirstBlockReportedOnceAndSlideDoesNotRestart) {
    SubtractiveCommon c;
    enginetest::VoiceHarness<SubtractiveVoice> h(c);
    const uint32_t slot = h.play(h.makeNote(220.0f));
    h.renderBlock();
    EXPECT_EQ(h.block.channelState[slot], ChannelState::Started);
    h.renderBlock();
    EXPECT_EQ(h.block.channelState[slot], ChannelState::Playing);

    h.play(h.makeNote(330.0f, 1.0f, NoteType::NoteSlide));
    EXPECT_FALSE(h.voice(slot).started);
    h.renderBlock();
    EXPECT_EQ(h.block.channelState[slot], ChannelState::Playing);
    EXPECT_EQ(h.block.channelState[1], ChannelState::Vacant);  // polyphony 1
}

TEST(SynthVoice, FadedVoiceBecomesInactiveAndIsNoLongerRendered) {
    SubtractiveCommon c;
    enginetest::VoiceHarness<SubtractiveVoice> h(c);
    const uint32_t slot = h.play(h.makeNote(220.0f));
    h.renderBlock();
    h.fadeOut(slot, 256);
    int blocks = 0;
    while (h.voice(slot).active && blocks < 100) {
        h.renderBlock();
        ++blocks;
    }
    EXPECT_FALSE(h.voice(slot).active);
    EXPECT_LE(blocks, 6);
    h.renderBlock();
    EXPECT_EQ(h.block.channelState[slot], ChannelState::Silent);
}

TEST(SynthVoice, NoteWithoutItsEngineIsRefused) {
    SubtractiveVoice v;
    BareCommon other;
    NoteEvent e;
    e.type = 0;
    e.frequency = 440.0f;
    v.noteOn(e);
    EXPECT_FALSE(v.active);
    e.engine = &other;  // not a subtractive engine
    v.noteOn(e);
    EXPECT_FALSE(v.active);
}

}  // namespace
