#include "dsp/Random.h"
#include "sequencing/Corvane.h"
#include "sequencing/NoteManager.h"
#include "sequencing/PitchScale.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/support/seq_engine.h"

namespace {

// Captures what the sequencer hands to the voice manager, with its block.
struct Recorder : NoteScheduler {
    std::vector<std::pair<NoteEvent, uint64_t>> events;
    uint64_t block = 0;
    size_t capacity = SIZE_MAX;  // the delayed-note table's room
    bool scheduleNote(NoteEvent e) override {
        if (events.size() >= capacity)
            return false;
        events.emplace_back(e, block);
        return true;
    }
    const NoteEvent& operator[](size_t i) const { return events[i].first; }
};

using TestEngine = testsupport::SequencerTestEngine;

Note note(int symbol, int chance = 10, NoteType type = NoteType::NoteOn, int octave = 0, float dbfs = -6.0f) {
    return Note{type, symbol, octave, dbfs, chance};
}

class SequencerTest : public ::testing::Test {
protected:
    void SetUp() override {
        tempo.updateBlock();  // the clock's output value is then in beats per second
        seq.setLinks({&recorder, &tempo, &notes, &scales});
        seq.trackIndex = 3;
        engine.set(8, 1);
        setSteps({{note(0)}, {note(2)}, {note(4)}, {note(5)}});
        DSP::random.seed(1);
    }
    void setSteps(const std::vector<std::vector<Note>>& steps, bool rebuild = false) {
        NoteList list;
        for (const auto& notesOfStep : steps) {
            list.steps.emplace_back();
            for (const Note& n : notesOfStep)
                list.steps.back().add(n);
        }
        if (rebuild)
            list.rebuildTransitions();
        notes.setList(0, list);
    }
    void enable(int lane, int interval) {
        seq.lanes[size_t(lane)].enabled.setValue(1, false);
        seq.lanes[size_t(lane)].interval.setValue(interval, false);
    }
    // One block as the block loop runs it, the main clock at 120 BPM from one
    // block before its first beat, whose tick resets the sequencer.
    bool block() {
        float phase[64];
        for (int i = 0; i < 64; ++i, ++frame) {
            const double beats = double(frame) / 24000.0;
            phase[i] = float(beats - std::floor(beats));
        }
        const bool ticked = seq.clockTick(phase, 64);
        seq.advanceTick(seq.resetDue() || (ticked && !started));
        started = started || ticked;
        seq.process(&engine);
        ++recorder.block;
        return ticked;
    }
    void ticks(int n) {
        for (int i = 0; i < n;)
            i += block() ? 1 : 0;
    }
    float hz(int degree, int octave = 0) { return scales.getScale("12 edo")->frequency(degree, octave); }

    ParameterFloat tempo{"BPM", ParameterFloat::Bpm, Stored, 120.0f, 0.0f, 240.0f};
    NoteManager notes;
    PitchScaleManager scales;
    Recorder recorder;
    TestEngine engine;
    Corvane seq;
    int64_t frame = -64;
    bool started = false;
};

TEST_F(SequencerTest, ClockTicksResetsAndLaneGrids) {
    seq.clockMult.setValue(3, false);
    seq.seqReset.setValue(16, false);
    std::vector<uint32_t> seen;
    int ticked = 0;
    for (int b = 0; b < 1 + 10 * 24000 / 64; ++b)  // up to just before beat 10
        if (block()) {
            ++ticked;
            seen.push_back(seq.tickCounter);
        }
    EXPECT_EQ(ticked, 30);
    for (size_t i = 0; i < seen.size(); ++i)
        EXPECT_EQ(seen[i], i % 16);
    // Two wraps in one block are one tick; a reset needs a tick.
    float saw[64];
    for (int i = 0; i < 64; ++i)
        saw[i] = float(i % 30) / 30.0f;
    seq.clockMult.setValue(1, false);
    EXPECT_TRUE(seq.clockTick(saw, 64));
    seq.ticked = 0;
    seq.advanceTick(true);
    EXPECT_NE(seq.tickCounter, 0u);

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
    EXPECT_EQ(pulses(3, 8, 0), (std::vector<uint32_t>{0, 3, 6, 8, 11, 14, 16}));
    EXPECT_EQ(pulses(4, 0, 1), (std::vector<uint32_t>{3, 7, 11, 15}));
    EXPECT_EQ(pulses(3, 8, -2), (std::vector<uint32_t>{2, 5, 8, 10, 13, 16}));  // signed, not wrapped
}

TEST_F(SequencerTest, SixteenthsAt120BpmLandOnTheGrid) {
    enable(0, 2);  // 8 ticks per beat, every second one
    for (int b = 0; b < 1 + 64 * 24000 / 64; ++b)
        block();
    ASSERT_EQ(recorder.events.size(), 256u);
    for (size_t n = 0; n < 256; ++n) {
        // The sixteenth's frame, from the first beat at frame 64, down to its block.
        const int64_t expected = 64 + int64_t(n * 6000 / 64 * 64);
        EXPECT_LE(std::llabs(int64_t(recorder.events[n].second * 64 + recorder[n].delay) - expected), 1) << n;
        EXPECT_EQ(recorder[n].frequency, hz(std::vector<int>{0, 2, 4, 5}[n % 4]));
    }
}

TEST_F(SequencerTest, SwingFollowsTheCurveInBeatsPerMinute) {
    seq.clockMult.setValue(4, false);  // a tick per sixteenth: one beat per swing period
    enable(0, 1);
    const double table[2][4] = {{0.0, 0.25, 0.207, 0.116}, {0.0, 0.667, 0.458, 0.232}};
    for (int a = 0; a < 2; ++a) {
        seq.lanes[0].swing.setValue(a ? 100.0f : 50.0f, false);
        recorder.events.clear();
        ticks(8);
        for (size_t i = 0; i < 8; ++i)
            EXPECT_NEAR(recorder[i].delay, table[a][recorder[i].step % 4] * 24000.0, 25.0) << a << " " << i;
    }
    // Every second sixteenth at 8 ticks per beat: half a beat per period.
    seq.clockMult.setValue(8, false);
    seq.lanes[0].interval.setValue(2, false);
    seq.lanes[0].swing.setValue(50.0f, false);
    started = false;  // the clock restarts
    recorder.events.clear();
    ticks(8);
    for (size_t i = 0; i < 4; ++i)
        EXPECT_NEAR(recorder[i].delay, i % 2 ? (std::sqrt(0.5) - 0.5) * 12000.0 : 0.0, 1.0);
    // A crawling tempo gives a long but bounded delay; a stopped one none.
    for (float bpm : {0.0001f, 0.0f}) {
        tempo.setValue(bpm, false);
        started = false;
        recorder.events.clear();
        ticks(4);
        EXPECT_EQ(recorder[1].delay, bpm > 0.0f ? 1u << 30 : 0u);
    }
}

TEST_F(SequencerTest, ChordsAndUnisonCopiesFillTheEventWords) {
    setSteps({{note(0, 10, NoteType::NoteOn, 0, 0.0f), note(4, 10, NoteType::NoteSlide, 1, -20.0f),
               note(7, 10, NoteType::NoteOff, -1)}});
    engine.unison.setValue(3, false);
    enable(1, 1);
    seq.lanes[1].octave.setValue(1, false);
    seq.lanes[1].noteSel.setValue(2, false);
    ticks(1);
    ASSERT_EQ(recorder.events.size(), 9u);
    const float freq[3] = {hz(0, 1), hz(4, 2), hz(7, 0)};
    const float gain[3] = {1.0f, 0.1f, 0.501187f};
    for (size_t i = 0; i < 9; ++i) {
        const NoteEvent& e = recorder[i];
        const uint32_t words[] = {e.type, e.track, e.lane, e.step, e.order, e.voiceInTrack, e.unisonIndex, e.delay,
                                  e.flags, e.voice};
        const uint32_t expected[] = {std::vector<uint32_t>{0, 2, 4}[i / 3], 3, 1, 0, 2, 0, uint32_t(i % 3), 0, 0, 0};
        EXPECT_TRUE(std::equal(words, words + 10, expected)) << i;
        EXPECT_EQ(e.engine, &engine);
        EXPECT_FLOAT_EQ(e.frequency, freq[i / 3]);
        EXPECT_NEAR(e.gain, gain[i / 3], 1e-5);
    }
    auto countWith = [&](int mode, uint32_t type, int polyphony, int slide) {
        seq.chordMode.setValue(mode, false);
        seq.slideAllNotes.setValue(slide, false);
        engine.set(polyphony, 3, type);
        recorder.events.clear();
        ticks(1);
        return recorder.events.size();
    };
    EXPECT_EQ(countWith(1, 0, 8, 0), 3u);  // lowest note
    EXPECT_EQ(recorder[0].frequency, freq[0]);
    EXPECT_EQ(countWith(2, 0, 8, 0), 3u);  // random note, three copies of it
    EXPECT_EQ(recorder[0].frequency, recorder[2].frequency);
    EXPECT_EQ(countWith(0, Corvane::kDrumEngineType, 8, 0), 3u);
    EXPECT_EQ(countWith(0, 0, 2, 1), 4u);  // copies limited by the polyphony too
    EXPECT_EQ(recorder[0].type, 1u);       // NoteOn slid
}

TEST_F(SequencerTest, APolyphonyRemainderBelowZeroPlaysNothingMore) {
    setSteps({{note(0), note(4), note(7)}});
    engine.unison.setValue(3, false);
    for (int lane : {0, 1, 2})
        enable(lane, 1);
    ticks(1);  // lane 1 queues 9 events at polyphony 8: nothing left for the others
    ASSERT_EQ(recorder.events.size(), 9u);
    EXPECT_EQ(recorder[8].lane, 0u);
    EXPECT_EQ(seq.lanes[1].history.at(0), PulseLane::kSilentPulse);
    EXPECT_EQ(seq.lanes[1].fired.load(), 0);
    recorder.events.clear();
    engine.set(4, 1);
    ticks(1);  // 3 for lane 1, the one left for lane 2
    ASSERT_EQ(recorder.events.size(), 4u);
    EXPECT_EQ(recorder[3].lane, 1u);
}

TEST_F(SequencerTest, ChanceInTenthsPlusTheSequencerOffsetAndRandomTime) {
    setSteps({{note(0, 10), note(1, 0), note(2, 5)}});
    enable(0, 1);
    auto count = [&](float offset) {
        seq.chance.setValue(offset * 100.0f, false);
        recorder.events.clear();
        ticks(400);
        std::array<int, 3> perNote{};
        for (const auto& e : recorder.events)
            for (int d = 0; d < 3; ++d)
                perNote[size_t(d)] += e.first.frequency == hz(d) ? 1 : 0;
        return perNote;
    };
    auto atZero = count(0.0f);
    EXPECT_EQ(atZero[0], 400);
    EXPECT_EQ(atZero[1], 0);
    EXPECT_NEAR(atZero[2], 200, 80);
    EXPECT_EQ(count(-1.0f), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(count(1.0f), (std::array<int, 3>{400, 400, 400}));

    seq.lanes[0].randTime.setValue(10.0f, false);
    count(1.0f);
    uint32_t largest = 0;
    for (const auto& e : recorder.events)
        largest = std::max(largest, e.first.delay);
    EXPECT_LE(largest, 480u);
    EXPECT_GT(largest, 400u);
}

TEST_F(SequencerTest, EveryUnisonCopyDrawsItsNoiseEvenWithoutRandomTime) {
    engine.set(8, 3);
    enable(0, 1);
    Noise expected;
    expected.seeds.store(DSP::noise.seeds.load());
    ticks(1);
    ASSERT_EQ(recorder.events.size(), 3u);
    for (int i = 0; i < 3; ++i)
        expected.next();
    EXPECT_EQ(DSP::noise.seeds.load(), expected.seeds.load());
    for (const auto& e : recorder.events)
        EXPECT_EQ(e.first.delay, 0u);
}

TEST_F(SequencerTest, SilentPulsesStillCountSteps) {
    enable(0, 1);
    seq.lanes[0].enabled.setValue(0, false);
    ticks(3);
    seq.lanes[0].enabled.setValue(1, false);
    ticks(1);
    ASSERT_EQ(recorder.events.size(), 1u);
    EXPECT_EQ(recorder[0].step, 3u);  // continues from the counted steps

    started = false;
    seq.start.setValue(2, false);
    seq.length.setValue(2, false);
    recorder.events.clear();
    ticks(6);  // ticks 0..5: only 2 and 3 lie in the window
    EXPECT_EQ(recorder.events.size(), 2u);
    EXPECT_EQ(seq.lanes[0].history.at(0), 5);
    EXPECT_EQ(seq.windowHistory.at(3), 1);
    seq.length.setValue(0, false);
    seq.touchpadMode.setValue(1, false);
    recorder.events.clear();
    ticks(1);
    seq.gate = 1;
    ticks(1);
    EXPECT_EQ(recorder.events.size(), 1u);

    // Only skips and an empty step, no steps, no scale, a full table: the
    // pulse shows silent.
    seq.touchpadMode.setValue(0, false);
    setSteps({{note(0, 10, NoteType::Skip)}, {}});
    for (int round = 0; round < 4; ++round) {
        if (round == 1)
            setSteps({});
        if (round >= 2)
            setSteps({{note(0)}});
        if (round == 2)
            notes.editList(0, [](NoteList& l) { l.tuning = "never loaded.scl"; });
        recorder.capacity = round == 3 ? 0 : SIZE_MAX;
        recorder.events.clear();
        ticks(2);
        EXPECT_TRUE(recorder.events.empty()) << round;
        EXPECT_EQ(seq.lanes[0].history.at(0), PulseLane::kSilentPulse) << round;
    }
}

TEST_F(SequencerTest, MarkovWalksTheTableOrFallsBackWithoutOne) {
    setSteps({{note(0)}, {note(4)}, {note(0)}}, true);  // A, B, A
    enable(0, 1);
    seq.lanes[0].noteSel.setValue(PulseLane::kMarkov, false);
    ticks(200);
    EXPECT_EQ(recorder[0].frequency, hz(0));  // the table's first key
    int bs = 0;
    for (size_t i = 1; i < 200; ++i)
        if (recorder[i].frequency == hz(4)) {
            ++bs;
            EXPECT_EQ(recorder[i - 1].frequency, hz(0)) << i;
        }
    EXPECT_GT(bs, 40);

    // C, A, B: forward would start on C; a fresh lane's walk starts on the
    // first key, A.
    setSteps({{note(7)}, {note(0)}, {note(4)}}, true);
    seq.lanes[0].enabled.setValue(0, false);
    enable(1, 1);
    seq.lanes[1].noteSel.setValue(PulseLane::kMarkov, false);
    started = false;
    recorder.events.clear();
    ticks(6);
    for (size_t i = 0; i < 6; ++i)
        EXPECT_EQ(recorder[i].frequency, hz(std::vector<int>{0, 4, 7}[i % 3])) << i;

    setSteps({{note(0)}, {note(2)}, {note(4)}});  // entered, never rebuilt
    started = false;
    recorder.events.clear();
    ticks(6);
    for (size_t i = 0; i < 6; ++i)
        EXPECT_EQ(recorder[i].frequency, hz(int(i % 3) * 2)) << i;
}

TEST_F(SequencerTest, LiveNotesAndSlotUse) {
    engine.unison.setValue(2, false);
    seq.laneChoice.setValue(2, false);
    seq.liveNote(&engine, 9, 1, -6.0f, 77, 5);
    ASSERT_EQ(recorder.events.size(), 2u);
    EXPECT_FLOAT_EQ(recorder[1].frequency, 880.0f);
    EXPECT_EQ(recorder[1].lane, 2u);
    EXPECT_EQ(recorder[1].step, 77u);
    EXPECT_EQ(recorder[1].order, 5u);
    EXPECT_EQ(recorder[1].unisonIndex, 1u);

    seq.group.selectSlot(6);
    seq.lanes[3].enabled.setValue(1, false);
    EXPECT_TRUE(seq.isSlotUsed(6));
    EXPECT_FALSE(seq.isSlotUsed(0));
    EXPECT_FALSE(seq.isSlotUsed(25));
}

}  // namespace
