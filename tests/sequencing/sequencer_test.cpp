#include "dsp/Random.h"
#include "sequencing/Corvane.h"
#include "sequencing/NoteManager.h"
#include "sequencing/PitchScale.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// Captures what the sequencer hands to the voice manager.
struct Recorder : NoteScheduler {
    struct Entry {
        NoteEvent event;
        uint64_t block;
    };
    std::vector<Entry> events;
    uint64_t block = 0;
    size_t capacity = SIZE_MAX;  // events accepted before "the table is full"
    bool scheduleNote(NoteEvent e) override {
        if (events.size() >= capacity)
            return false;
        events.push_back({e, block});
        return true;
    }
    // Absolute sample at which the note was asked for.
    uint64_t sampleOf(size_t i) const { return events[i].block * 64 + events[i].event.delay; }
};

// The main clock's per-frame beat phase at a steady tempo, started one block
// before its first beat.
struct PhaseSource {
    double bpm = 120.0;
    int64_t frame = -64;
    float buffer[64];
    const float* next() {
        for (int i = 0; i < 64; ++i, ++frame) {
            const double beats = double(frame) * bpm / 60.0 / 48000.0;
            buffer[i] = float(beats - std::floor(beats));
        }
        return buffer;
    }
};

SynthVoiceCommon* const kEngine = reinterpret_cast<SynthVoiceCommon*>(uintptr_t(0x1000));

Note note(int symbol, int octave = 0, int chance = 10, NoteType type = NoteType::NoteOn, float dbfs = -6.0f) {
    return Note{type, symbol, octave, dbfs, chance};
}

class SequencerTest : public ::testing::Test {
protected:
    void SetUp() override {
        tempo.setValue(120.0f, false);
        tempo.updateBlock();  // the clock's output value is then in beats per second
        SequencerLinks links;
        links.scheduler = &recorder;
        links.tempo = &tempo;
        links.notes = &notes;
        links.scales = &scales;
        seq.setLinks(links);
        seq.trackIndex = 3;
        engine.engine = kEngine;
        engine.polyphony = 8;
        engine.unison = 1;
        setSteps({{note(0)}, {note(2)}, {note(4)}, {note(5)}});
        DSP::random.seed(1);
    }

    void setSteps(const std::vector<std::vector<Note>>& steps, bool rebuild = false) {
        NoteList list;
        for (const auto& s : steps) {
            NoteStep step;
            for (const Note& n : s)
                step.add(n);
            list.steps.push_back(step);
        }
        if (rebuild)
            list.rebuildTransitions();
        notes.setList(0, list);
    }

    void enable(int lane, int interval) {
        seq.lanes[size_t(lane)].enabled.setValue(1, false);
        seq.lanes[size_t(lane)].interval.setValue(interval, false);
    }

    // One block as the block loop runs it; returns whether it ticked. The
    // clock's start resets the sequencer on its first beat.
    bool block(bool extraReset = false) {
        const bool ticked = seq.clockTick(phase.next(), 64);
        const bool flag = seq.resetDue() || extraReset || (ticked && !started);
        started = started || ticked;
        seq.advanceTick(flag);
        seq.process(engine);
        ++recorder.block;
        return ticked;
    }

    // Runs blocks until the next tick has been processed.
    void tick() {
        while (!block()) {
        }
    }

    ParameterFloat tempo{"BPM", ParameterFloat::Bpm, Stored, 120.0f, 0.0f, 240.0f};
    NoteManager notes;
    PitchScaleManager scales;
    Recorder recorder;
    PhaseSource phase;
    bool started = false;
    EngineVoicing engine;
    Corvane seq;
};

TEST_F(SequencerTest, GroupListsTheSharedParametersThenTheLanesInOrder) {
    ASSERT_EQ(seq.group.parameters.size(), 14u + 32u + 1u);
    EXPECT_EQ(seq.group.parameters[0]->name, "clock mult");
    EXPECT_EQ(seq.group.parameters[2]->name, "reset by");
    EXPECT_EQ(seq.group.parameters[13]->name, "swing ticks");
    const char* lane2[] = {"2 interval", "2 offset", "2 octave", "2 reset", "2 note sel", "2 enabled",
                           "2 rand time", "2 swing"};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(seq.group.parameters[size_t(14 + 8 + i)]->name, lane2[i]);
    EXPECT_EQ(seq.group.parameters.back()->name, "pulse");
    EXPECT_EQ(seq.laneChoice.choiceName(3), "pulse 4");
    EXPECT_EQ(seq.lanes[0].noteSel.choiceName(4), "markov");
    EXPECT_NE(seq.group.find("4 rand time"), nullptr);
}

TEST_F(SequencerTest, ClockMultiplierGivesThatManyTicksPerBeat) {
    for (int mult : {1, 3, 8, 64}) {
        Corvane s;
        s.clockMult.setValue(mult, false);
        PhaseSource p;
        p.bpm = 97.0;
        int ticks = 0;
        // The block before the first beat, then up to just before beat 10.
        const int blocks = 1 + int(10 * 60.0 / 97.0 * 48000.0 / 64.0);
        for (int b = 0; b < blocks; ++b)
            ticks += s.clockTick(p.next(), 64) ? 1 : 0;
        EXPECT_EQ(ticks, 10 * mult) << mult;
    }
}

TEST_F(SequencerTest, ClockEdgeCases) {
    Corvane s;
    s.clockMult.setValue(1, false);
    float buffer[64];
    // Two wraps inside one block count once.
    for (int i = 0; i < 64; ++i)
        buffer[i] = float(i % 30) / 30.0f;
    s.lastPhase = 0.5f;
    EXPECT_TRUE(s.clockTick(buffer, 64));
    // A wrap exactly at a block boundary: the first frame compares against
    // the last frame of the previous block, once.
    for (int i = 0; i < 64; ++i)
        buffer[i] = 0.5f + 0.49f * float(i) / 63.0f;
    EXPECT_FALSE(s.clockTick(buffer, 64));
    for (int i = 0; i < 64; ++i)
        buffer[i] = 0.3f * float(i) / 63.0f;
    EXPECT_TRUE(s.clockTick(buffer, 64));
    EXPECT_FALSE(s.clockTick(buffer + 63, 1));
    EXPECT_FALSE(s.clockTick(buffer, 0));
    EXPECT_EQ(s.ticked, 0);
}

TEST_F(SequencerTest, SeqResetCyclesTickNumbersAndResetsNeedATick) {
    seq.seqReset.setValue(16, false);
    std::vector<uint32_t> seen;
    for (int i = 0; i < 40; ++i) {
        tick();
        seen.push_back(seq.tickCounter);
    }
    // The first tick after construction counts from 0 to 1; from there the
    // numbers run 0..15 with the 16th replaced by a reset.
    for (size_t i = 1; i < seen.size(); ++i)
        EXPECT_EQ(seen[i], seen[i - 1] == 15 ? 0u : seen[i - 1] + 1) << i;

    Corvane s;
    s.tickCounter = 7;
    s.ticked = 0;
    s.advanceTick(true);  // no tick in this block: dropped
    EXPECT_EQ(s.tickCounter, 7u);
    s.ticked = 1;
    s.advanceTick(true);
    EXPECT_EQ(s.tickCounter, 0u);
    EXPECT_EQ(s.resetPending, 1);
    s.seqReset.setValue(0, false);
    s.tickCounter = 1000;
    EXPECT_FALSE(s.resetDue());
}

TEST_F(SequencerTest, LaneGridsFollowIntervalResetAndOffset) {
    auto pulses = [&](int interval, int reset, int offset) {
        Corvane s;
        s.lanes[0].interval.setValue(interval, false);
        s.lanes[0].reset.setValue(reset, false);
        s.lanes[0].offset.setValue(offset, false);
        std::vector<uint32_t> at;
        for (uint32_t t = 0; t < 18; ++t)
            if (s.laneStep(0, t) != PulseLane::kNoPulse)
                at.push_back(t);
        return at;
    };
    EXPECT_EQ(pulses(1, 0, 0).size(), 18u);
    EXPECT_EQ(pulses(3, 8, 0), (std::vector<uint32_t>{0, 3, 6, 8, 11, 14, 16}));
    EXPECT_EQ(pulses(4, 0, 1), (std::vector<uint32_t>{3, 7, 11, 15}));
    // A negative offset counts back before tick 0 rather than wrapping round.
    EXPECT_EQ(pulses(3, 8, -2), (std::vector<uint32_t>{2, 5, 8, 10, 13, 16}));
    EXPECT_EQ(pulses(5, 0, -128), (std::vector<uint32_t>{3, 8, 13}));
}

TEST_F(SequencerTest, SixteenthsAt120BpmLandOnTheGrid) {
    enable(0, 2);  // 8 ticks per beat, every second one
    const int beats = 64;
    const uint64_t blocks = 1 + uint64_t(beats) * 24000 / 64;
    for (uint64_t b = 0; b < blocks; ++b)
        block();
    ASSERT_EQ(recorder.events.size(), size_t(beats * 4));
    for (size_t n = 0; n < recorder.events.size(); ++n) {
        // The sixteenth's frame, rounded down to the block it falls in; the
        // first beat is at frame 64.
        const int64_t expected = 64 + int64_t(n * 6000 / 64 * 64);
        EXPECT_LE(std::llabs(int64_t(recorder.sampleOf(n)) - expected), 1) << n;
        EXPECT_EQ(recorder.events[n].event.step, uint32_t(n));
    }
    // Forward order through the four steps: degrees 0, 2, 4, 5 in 12 edo.
    EXPECT_NEAR(recorder.events[0].event.frequency, 261.626f, 0.01f);
    EXPECT_NEAR(recorder.events[5].event.frequency, 293.665f, 0.01f);
}

TEST_F(SequencerTest, SwingDelaysLaterTicksOfEachPeriodByTheCurveInBeatsPerMinute) {
    seq.clockMult.setValue(4, false);  // a tick per sixteenth; a swing period of one beat
    enable(0, 1);
    const double period = 24000.0;
    const double table[2][4] = {{0.0, 0.25, 0.207, 0.116}, {0.0, 0.667, 0.458, 0.232}};
    const float amounts[2] = {0.5f, 1.0f};
    for (int a = 0; a < 2; ++a) {
        seq.lanes[0].swing.setValue(amounts[a] * 100.0f, false);
        ASSERT_FLOAT_EQ(seq.lanes[0].swing.getValue(), amounts[a]);
        recorder.events.clear();
        for (int i = 0; i < 8; ++i)
            tick();
        ASSERT_EQ(recorder.events.size(), 8u);
        for (size_t i = 0; i < 8; ++i) {
            const uint32_t position = seq.tickCounter - 7 + uint32_t(i);
            EXPECT_NEAR(recorder.events[i].event.delay, table[a][position % 4] * period, 0.001 * period + 1)
                << amounts[a] << " " << i;
        }
    }
    seq.lanes[0].swing.setValue(0.0f, false);
    recorder.events.clear();
    for (int i = 0; i < 4; ++i)
        tick();
    for (const auto& e : recorder.events)
        EXPECT_EQ(e.event.delay, 0u);
}

TEST_F(SequencerTest, EveryOtherSixteenthSwungByTheSpecifiedAmount) {
    enable(0, 2);  // 8 ticks per beat, swing period 4 ticks = half a beat
    seq.lanes[0].swing.setValue(50.0f, false);
    for (int i = 0; i < 16; ++i)
        tick();
    ASSERT_GE(recorder.events.size(), 8u);
    for (const auto& e : recorder.events) {
        const uint32_t expected = e.event.step % 2 == 0 ? 0u : uint32_t((std::sqrt(0.5) - 0.5) * 12000.0);
        EXPECT_NEAR(double(e.event.delay), double(expected), 1.0) << e.event.step;
    }
    // A crawling tempo gives a long but bounded delay.
    tempo.setValue(0.0001f, false);
    recorder.events.clear();
    for (int i = 0; i < 4; ++i)
        tick();
    ASSERT_EQ(recorder.events.size(), 2u);
    for (const auto& e : recorder.events) {
        EXPECT_LE(e.event.delay, 1u << 30);
        if (e.event.step % 2 == 1)
            EXPECT_GT(e.event.delay, 1000000u);
    }
    // A stopped or missing tempo gives no swing rather than a wild delay.
    tempo.setValue(0.0f, false);
    recorder.events.clear();
    for (int i = 0; i < 4; ++i)
        tick();
    for (const auto& e : recorder.events)
        EXPECT_EQ(e.event.delay, 0u);
}

TEST_F(SequencerTest, ChordsAndUnisonCopiesFillTheEventWords) {
    setSteps({{note(0, 0, 10, NoteType::NoteOn, 0.0f), note(4, 1, 10, NoteType::NoteSlide, -20.0f),
               note(7, -1, 10, NoteType::NoteOff, -6.0f)}});
    engine.unison = 3;
    seq.lanes[1].enabled.setValue(1, false);
    seq.lanes[1].interval.setValue(1, false);
    seq.lanes[1].octave.setValue(1, false);
    seq.lanes[1].noteSel.setValue(2, false);
    tick();
    ASSERT_EQ(recorder.events.size(), 9u);
    const PitchScale* s = scales.getScale("12 edo");
    const float hz[3] = {s->frequency(0, 1), s->frequency(4, 2), s->frequency(7, 0)};
    const uint32_t kind[3] = {0, 2, 4};
    const float gain[3] = {1.0f, 0.1f, std::pow(10.0f, -0.3f)};
    for (size_t i = 0; i < 9; ++i) {
        const NoteEvent& e = recorder.events[i].event;
        EXPECT_EQ(e.type, kind[i / 3]);
        EXPECT_EQ(e.engine, kEngine);
        EXPECT_EQ(e.track, 3u);
        EXPECT_EQ(e.lane, 1u);
        EXPECT_EQ(e.step, 0u);
        EXPECT_EQ(e.order, 2u);
        EXPECT_EQ(e.voiceInTrack, 0u);
        EXPECT_EQ(e.unisonIndex, uint32_t(i % 3));
        EXPECT_FLOAT_EQ(e.frequency, hz[i / 3]);
        EXPECT_NEAR(e.gain, gain[i / 3], 1e-5);
        EXPECT_EQ(e.delay, 0u);
        EXPECT_EQ(e.flags, 0u);
        EXPECT_EQ(e.voice, 0u);
    }
    EXPECT_EQ(seq.lanes[1].fired.load(), 1);

    recorder.events.clear();
    seq.chordMode.setValue(1, false);  // lowest note
    tick();
    ASSERT_EQ(recorder.events.size(), 3u);
    EXPECT_FLOAT_EQ(recorder.events[0].event.frequency, hz[0]);

    recorder.events.clear();
    seq.chordMode.setValue(2, false);  // random note: one of the three, three copies
    tick();
    ASSERT_EQ(recorder.events.size(), 3u);
    EXPECT_EQ(recorder.events[0].event.frequency, recorder.events[2].event.frequency);

    recorder.events.clear();
    seq.chordMode.setValue(0, false);
    engine.type = Corvane::kDrumEngineType;  // the drum engine plays a chord's first note
    tick();
    ASSERT_EQ(recorder.events.size(), 3u);

    recorder.events.clear();
    engine.type = 0;
    engine.polyphony = 2;  // copies are limited by the polyphony too
    seq.slideAllNotes.setValue(1, false);
    tick();
    ASSERT_EQ(recorder.events.size(), 4u);
    EXPECT_EQ(recorder.events[0].event.type, 1u);  // NoteOn sent as NoteOnSlide
    EXPECT_EQ(recorder.events[2].event.type, 2u);
}

TEST_F(SequencerTest, APolyphonyRemainderBelowZeroPlaysNothingMore) {
    setSteps({{note(0), note(4), note(7)}});
    engine.unison = 3;
    enable(0, 1);
    enable(1, 1);
    enable(2, 1);
    tick();
    // Lane 1 queues 9 events at polyphony 8; lanes 2 and 3 then have none left.
    ASSERT_EQ(recorder.events.size(), 9u);
    for (const auto& e : recorder.events)
        EXPECT_EQ(e.event.lane, 0u);
    EXPECT_EQ(seq.lanes[1].history.at(0), PulseLane::kSilentPulse);
    EXPECT_EQ(seq.lanes[1].fired.load(), 0);

    recorder.events.clear();
    engine.unison = 1;
    engine.polyphony = 4;  // 3 from lane 1, one more for lane 2, none for lane 3
    tick();
    ASSERT_EQ(recorder.events.size(), 4u);
    EXPECT_EQ(recorder.events[3].event.lane, 1u);
}

TEST_F(SequencerTest, ChanceInTenthsWithTheSequencerOffset) {
    setSteps({{note(0, 0, 10), note(1, 0, 0), note(2, 0, 5)}});
    enable(0, 1);
    auto count = [&](float offset, int rounds) {
        seq.chance.setValue(offset * 100.0f, false);
        recorder.events.clear();
        for (int i = 0; i < rounds; ++i)
            tick();
        std::array<int, 3> perNote{};
        for (const auto& e : recorder.events)
            for (int d = 0; d < 3; ++d)
                if (e.event.frequency == scales.getScale("12 edo")->frequency(d, 0))
                    ++perNote[size_t(d)];
        return perNote;
    };
    auto atZero = count(0.0f, 400);
    EXPECT_EQ(atZero[0], 400);
    EXPECT_EQ(atZero[1], 0);
    EXPECT_GT(atZero[2], 120);
    EXPECT_LT(atZero[2], 280);
    EXPECT_EQ(count(-1.0f, 50), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(count(1.0f, 50), (std::array<int, 3>{50, 50, 50}));
    auto half = count(0.5f, 400);  // +5 tenths: 10 and 5 certain, 0 about half
    EXPECT_EQ(half[0], 400);
    EXPECT_EQ(half[2], 400);
    EXPECT_GT(half[1], 120);
    EXPECT_LT(half[1], 280);
}

TEST_F(SequencerTest, RandomTimeAddsUpToItsMillisecondsAndZeroAddsNothing) {
    enable(0, 1);
    engine.unison = 2;
    seq.lanes[0].randTime.setValue(10.0f, false);
    for (int i = 0; i < 100; ++i)
        tick();
    ASSERT_EQ(recorder.events.size(), 200u);
    uint32_t largest = 0;
    bool copiesDiffer = false;
    for (size_t i = 0; i < recorder.events.size(); ++i) {
        largest = std::max(largest, recorder.events[i].event.delay);
        if (i % 2 == 1 && recorder.events[i].event.delay != recorder.events[i - 1].event.delay)
            copiesDiffer = true;
    }
    EXPECT_LE(largest, 480u);
    EXPECT_GT(largest, 300u);
    EXPECT_TRUE(copiesDiffer);
}

TEST_F(SequencerTest, WindowDisabledLanesAndTheGateStillCountSteps) {
    enable(0, 1);
    seq.lanes[0].enabled.setValue(0, false);
    for (int i = 0; i < 3; ++i)
        tick();
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_EQ(seq.lanes[0].history.at(0), PulseLane::kSilentPulse);
    seq.lanes[0].enabled.setValue(1, false);
    tick();
    ASSERT_EQ(recorder.events.size(), 1u);
    EXPECT_EQ(recorder.events[0].event.step, 3u);  // continues from the counted steps

    recorder.events.clear();
    seq.reset(0);
    seq.start.setValue(2, false);
    seq.length.setValue(2, false);
    for (int i = 0; i < 6; ++i)
        tick();
    // Ticks 1..6 after the reset: only 2 and 3 lie in the window.
    ASSERT_EQ(recorder.events.size(), 2u);
    EXPECT_EQ(seq.lanes[0].history.at(0), 5);  // step numbers kept outside the window
    EXPECT_EQ(seq.windowHistory.at(0), 0);
    EXPECT_EQ(seq.windowHistory.at(3), 1);

    recorder.events.clear();
    seq.start.setValue(0, false);
    seq.length.setValue(0, false);
    seq.touchpadMode.setValue(1, false);
    seq.gate = 0;
    tick();
    EXPECT_TRUE(recorder.events.empty());
    seq.gate = 1;
    tick();
    EXPECT_EQ(recorder.events.size(), 1u);
}

TEST_F(SequencerTest, NothingPlaysWithoutAScaleStepsOrRoomAndThePulseShowsSilent) {
    enable(0, 1);
    notes.editList(0, [](NoteList& l) { l.tuning = "never loaded.scl"; });
    tick();
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_EQ(seq.lanes[0].history.at(0), PulseLane::kSilentPulse);

    setSteps({});
    tick();
    EXPECT_EQ(seq.lanes[0].history.at(0), PulseLane::kSilentPulse);

    setSteps({{note(0, 0, 10, NoteType::Skip)}, {}});
    tick();
    tick();
    EXPECT_TRUE(recorder.events.empty());

    setSteps({{note(0)}});
    recorder.capacity = 0;  // the delayed-note table is full
    tick();
    EXPECT_EQ(seq.lanes[0].history.at(0), PulseLane::kSilentPulse);
    EXPECT_EQ(seq.lanes[0].fired.load(), 0);
    recorder.capacity = SIZE_MAX;
    tick();
    EXPECT_GE(seq.lanes[0].history.at(0), 0);
}

TEST_F(SequencerTest, MarkovWalksTheTransitionTable) {
    // A, B, A: after A comes B or A, after B always A.
    setSteps({{note(0)}, {note(4)}, {note(0)}}, true);
    enable(0, 1);
    seq.lanes[0].noteSel.setValue(PulseLane::kMarkov, false);
    for (int i = 0; i < 200; ++i)
        tick();
    const float a = scales.getScale("12 edo")->frequency(0, 0);
    ASSERT_EQ(recorder.events.size(), 200u);
    EXPECT_EQ(recorder.events[0].event.frequency, a);  // the first key: the last step is empty
    int bs = 0;
    for (size_t i = 1; i < recorder.events.size(); ++i) {
        const bool isB = recorder.events[i].event.frequency != a;
        bs += isB ? 1 : 0;
        if (isB)
            EXPECT_EQ(recorder.events[i - 1].event.frequency, a) << i;  // B never follows B
    }
    EXPECT_GT(bs, 40);
}

TEST_F(SequencerTest, MarkovWithAnEmptyTableFallsBackToTheNormalOrder) {
    setSteps({{note(0)}, {note(2)}, {note(4)}});  // entered but never rebuilt
    enable(0, 1);
    seq.lanes[0].noteSel.setValue(PulseLane::kMarkov, false);
    for (int i = 0; i < 6; ++i)
        tick();
    ASSERT_EQ(recorder.events.size(), 6u);
    const PitchScale* s = scales.getScale("12 edo");
    for (size_t i = 0; i < 6; ++i)
        EXPECT_EQ(recorder.events[i].event.frequency, s->frequency(int(i % 3) * 2, 0)) << i;
}

TEST_F(SequencerTest, LiveNotesUseTheListScaleAndTheChosenLane) {
    engine.unison = 2;
    seq.laneChoice.setValue(2, false);
    seq.lanes[2].octave.setValue(3, false);  // not applied to live notes
    seq.liveNote(engine, 9, 1, -6.0f, 77, 5);
    ASSERT_EQ(recorder.events.size(), 2u);
    for (uint32_t j = 0; j < 2; ++j) {
        const NoteEvent& e = recorder.events[j].event;
        EXPECT_EQ(e.type, 0u);
        EXPECT_FLOAT_EQ(e.frequency, 880.0f);
        EXPECT_EQ(e.lane, 2u);
        EXPECT_EQ(e.step, 77u);
        EXPECT_EQ(e.order, 5u);
        EXPECT_EQ(e.unisonIndex, j);
        EXPECT_EQ(e.flags, 0u);
        EXPECT_NEAR(e.gain, 0.501187f, 1e-5);
    }
    notes.editList(0, [](NoteList& l) { l.tuning = "nothing"; });
    seq.liveNote(engine, 9, 1, -6.0f, 78, 0);
    EXPECT_EQ(recorder.events.size(), 2u);
}

TEST_F(SequencerTest, SlotUseFollowsTheEnabledSwitchPerPattern) {
    EXPECT_FALSE(seq.isSlotUsed(0));
    seq.group.selectSlot(6);
    seq.lanes[3].enabled.setValue(1, false);
    EXPECT_TRUE(seq.isSlotUsed(6));
    EXPECT_FALSE(seq.isSlotUsed(0));
    EXPECT_FALSE(seq.isSlotUsed(25));
    EXPECT_FALSE(seq.isSlotUsed(-1));
}

}  // namespace
