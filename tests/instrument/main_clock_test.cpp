// The main clock in stepped blocks: internal tempo, sync-in pulses on the
// digital inputs, MIDI clock, the follower's lock, automatic start/stop and
// the clock-out pulses.
#include "instrument/MainClock.h"
#include "platform/Context.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr uint32_t kFrames = 64;
constexpr uint32_t kClockBit = 1u << (16 + MainClock::kClockInPin);
constexpr uint32_t kResetBit = 1u << (16 + MainClock::kResetInPin);

// One clock stepped block by block, with its digital inputs and the frames
// on which beat edges fell.
struct ClockRun {
    MainClock clock;
    uint32_t digital[kFrames];
    float phase[kFrames];
    BelaContext context;
    uint64_t frame = 0;
    std::vector<uint64_t> edges;
    // Sync-in pulses: a 2-frame low pulse every `period` frames from `next`.
    double pulsePeriod = 0.0, nextPulse = 0.0;

    ClockRun() {
        context.digital = digital;
        context.digitalFrames = kFrames;
    }
    void block() {
        for (uint32_t i = 0; i < kFrames; ++i) {
            digital[i] = kClockBit | kResetBit;  // inputs idle high
            if (pulsePeriod > 0.0 && double(frame + i) >= nextPulse && double(frame + i) < nextPulse + 2.0)
                digital[i] &= ~kClockBit;
            if (pulsePeriod > 0.0 && double(frame + i) >= nextPulse + 2.0)
                nextPulse += pulsePeriod;
            phase[i] = 0.0f;
        }
        if (clock.process(phase, kFrames, &context)) {
            for (uint32_t i = 1; i < kFrames; ++i)
                if (phase[i] < phase[i - 1])
                    edges.push_back(frame + i);
            if (phase[0] < 0.1f && (edges.empty() || edges.back() < frame))
                edges.push_back(frame);
        }
        frame += kFrames;
    }
    void blocks(uint64_t n) {
        for (uint64_t b = 0; b < n; ++b)
            block();
    }
    void selectSource(int32_t source) {
        clock.clockSource.setValue(source, false);
        clock.setClockSource();
        block();  // a request: applied at the start of the next block
    }
};

TEST(MainClock, InternalTempoGivesABeatEvery24000FramesAt120Bpm) {
    ClockRun run;
    run.clock.bpm.setValue(120.0f, false);
    run.clock.start(true);
    EXPECT_TRUE(run.clock.takeResetRequest());
    EXPECT_FALSE(run.clock.takeResetRequest());
    run.blocks(24000 * 4 / kFrames + 2);
    ASSERT_GE(run.edges.size(), 4u);
    EXPECT_NEAR(double(run.edges[0]), 4.0, 1.0);
    for (size_t i = 1; i < run.edges.size(); ++i)
        EXPECT_NEAR(double(run.edges[i] - run.edges[i - 1]), 24000.0, 1.0);
}

TEST(MainClock, StoppedClockKeepsItsTempoCounterAndReportsNoEdge) {
    ClockRun run;
    const double before = run.clock.tempoBeats();
    run.blocks(750);
    EXPECT_TRUE(run.edges.empty());
    EXPECT_NEAR(run.clock.tempoBeats() - before, 100.0 / 60.0, 1e-3);  // one second at 100 BPM
}

TEST(MainClock, SourceChangeIsARequestThatRoundsTheTempoAndRaisesTheMinimum) {
    ClockRun run;
    run.clock.bpm.setValue(99.6f, false);
    run.clock.clockSource.setValue(MainClock::SyncIn, false);
    run.clock.setClockSource();
    EXPECT_EQ(run.clock.source(), uint32_t(MainClock::Internal));  // not under the audio thread's feet
    run.block();
    EXPECT_EQ(run.clock.source(), uint32_t(MainClock::SyncIn));
    EXPECT_FLOAT_EQ(run.clock.bpm.getValue(), 100.0f);
    EXPECT_FLOAT_EQ(float(run.clock.bpm.minimum), 10.0f);

    // A tempo below 0.5 BPM is moved into the new range: every period stays finite.
    ClockRun slow;
    slow.clock.bpm.setValue(0.3f, false);
    slow.selectSource(MainClock::MidiIn);
    EXPECT_FLOAT_EQ(slow.clock.bpm.getValue(), 10.0f);
    EXPECT_TRUE(std::isfinite(slow.clock.targetTickPeriod));
    slow.clock.start(true);
    slow.blocks(10);
    EXPECT_TRUE(std::isfinite(slow.clock.tickPeriod));
    EXPECT_TRUE(std::isfinite(slow.clock.measuredTempo));
}

// Ticks at 24 per beat, through the clock input or as MIDI clock: after a
// few beats the clock's tempo matches and its beat edges fall on every 24th
// tick.
void expectLock(bool midi, float tempo) {
    SCOPED_TRACE(testing::Message() << (midi ? "MIDI clock " : "sync in ") << tempo << " BPM");
    ClockRun run;
    if (!midi)
        run.clock.syncInPpqn.setValue(24, false);
    run.selectSource(midi ? MainClock::MidiIn : MainClock::SyncIn);
    run.clock.start(true);
    const double period = 48000.0 * 60.0 / (double(tempo) * 24.0);
    const uint64_t settle = uint64_t(16 * 24 * period) / kFrames, measure = uint64_t(4 * 24 * period) / kFrames;
    if (!midi) {
        run.pulsePeriod = period;
        run.nextPulse = double(run.frame) + 10.0;
        run.blocks(settle + measure);
    } else {
        double next = double(run.frame) + 10.0;
        for (uint64_t b = 0; b < settle + measure; ++b) {
            // The block loop offers MIDI once per block, before the clock runs.
            while (next < double(run.frame + kFrames)) {
                EXPECT_TRUE(run.clock.midiIn({uint32_t(MIDIMsgType::TimingClock), 0, 0, 0}));
                next += period;
            }
            run.block();
        }
    }
    EXPECT_TRUE(run.clock.isRunning());
    EXPECT_NEAR(run.clock.bpm.getValue(), tempo, tempo * 0.01f);
    EXPECT_LT(std::fabs(run.clock.phaseError), 0.05f);
    // The last edges are a beat apart (within the per-block jitter of MIDI).
    ASSERT_GE(run.edges.size(), 3u);
    const double beat = 24.0 * period;
    EXPECT_NEAR(double(run.edges.back() - run.edges[run.edges.size() - 2]), beat, beat * 0.02);
}

TEST(MainClock, FollowerLocksToSyncInAndMidiClock) {
    for (float tempo : {90.0f, 120.0f, 174.0f}) {
        expectLock(false, tempo);
        expectLock(true, tempo);
    }
}

TEST(MainClock, MidiClockIsConsumedAndStartStopFollowTheSettings) {
    ClockRun run;
    const MidiMessage clockTick{uint32_t(MIDIMsgType::TimingClock), 0, 0, 0};
    const MidiMessage start{uint32_t(MIDIMsgType::StartSequence), 0, 0, 0};
    EXPECT_TRUE(run.clock.midiIn(start));  // consumed, ignored: "MIDI start/stop" is off
    EXPECT_FALSE(run.clock.isRunning());
    EXPECT_FALSE(run.clock.midiIn({uint32_t(MIDIMsgType::NoteOn), 0, 60, 100}));
    run.selectSource(MainClock::MidiIn);
    EXPECT_TRUE(run.clock.midiIn(clockTick));
    EXPECT_FALSE(run.clock.toggleStartStop(false));  // started by MIDI only
    EXPECT_TRUE(run.clock.midiIn(start));
    EXPECT_TRUE(run.clock.midiIn(clockTick));
    EXPECT_TRUE(run.clock.isRunning());
    EXPECT_TRUE(run.clock.midiIn({uint32_t(MIDIMsgType::StopSequence), 0, 0, 0}));
    EXPECT_FALSE(run.clock.isRunning());
}

TEST(MainClock, AutomaticSyncStopsAfterSixMissingPeriodsAndRestartsOnTheNextTick) {
    ClockRun run;
    run.clock.syncInPpqn.setValue(4, false);
    run.selectSource(MainClock::SyncIn);
    run.clock.start(true);  // armed; the first tick runs it
    const double period = 48000.0 * 60.0 / (120.0 * 4.0);  // 6000 frames
    run.pulsePeriod = period;
    run.nextPulse = double(run.frame) + 10.0;
    run.blocks(uint64_t(8 * period) / kFrames);
    ASSERT_TRUE(run.clock.isRunning());
    run.pulsePeriod = 0.0;
    run.blocks(uint64_t(5 * period) / kFrames);
    EXPECT_TRUE(run.clock.isRunning());
    run.blocks(uint64_t(2 * period) / kFrames);
    EXPECT_FALSE(run.clock.isRunning());
    run.clock.takeResetRequest();
    run.pulsePeriod = period;
    run.nextPulse = double(run.frame) + 10.0;
    run.blocks(2);
    EXPECT_TRUE(run.clock.isRunning());
    EXPECT_TRUE(run.clock.takeResetRequest());  // the tracks restart on the first tick
}

TEST(MainClock, ResetInputMakesTheNextTickAReset) {
    ClockRun run;
    run.selectSource(MainClock::SyncIn);
    run.clock.syncInStartStop.setValue(MainClock::Manual, false);
    run.clock.start(true);
    run.pulsePeriod = 6000.0;
    run.nextPulse = double(run.frame) + 10.0;
    run.blocks(300);
    run.clock.takeResetRequest();
    run.blocks(100);
    EXPECT_FALSE(run.clock.takeResetRequest());
    run.digital[0] = kClockBit;  // reset input low in the next block's first frame
    for (uint32_t i = 0; i < kFrames; ++i)
        run.digital[i] = i < 2 ? kClockBit : (kClockBit | kResetBit);
    run.clock.process(run.phase, kFrames, &run.context);
    EXPECT_EQ(run.clock.tickCount, 0);
    run.blocks(100);
    EXPECT_TRUE(run.clock.takeResetRequest());
}

TEST(MainClock, FramesSinceTickSaturates) {
    ClockRun run;
    run.selectSource(MainClock::SyncIn);
    run.clock.framesSinceTick = std::numeric_limits<uint32_t>::max() - 10;
    run.block();
    EXPECT_EQ(run.clock.framesSinceTick, std::numeric_limits<uint32_t>::max());
    // Still "long ago": a tick after hours starts an automatic clock.
    run.pulsePeriod = 6000.0;
    run.nextPulse = double(run.frame);
    run.block();
    EXPECT_TRUE(run.clock.isRunning());
}

TEST(MainClock, SyncOutGivesA4FramePulseEvery6000FramesAt120Bpm) {
    ClockRun run;
    run.clock.bpm.setValue(120.0f, false);
    run.clock.syncOut.setValue(1, false);
    run.clock.start(true);
    std::vector<uint64_t> starts;
    uint64_t high = 0;
    float out1[kFrames], out2[kFrames];
    float last = 0.0f;
    for (int b = 0; b < 24000 * 2 / int(kFrames); ++b) {
        run.block();
        for (float& v : out2)
            v = -1.0f;
        run.clock.clockOutPulses(run.phase, out1, out2, kFrames);
        for (uint32_t i = 0; i < kFrames; ++i) {
            if (out1[i] > 0.5f && last < 0.5f)
                starts.push_back(run.frame - kFrames + i);
            high += out1[i] > 0.5f;
            last = out1[i];
            EXPECT_EQ(out2[i], -1.0f);  // the second output is left alone
        }
    }
    ASSERT_GE(starts.size(), 7u);
    for (size_t i = 1; i < starts.size(); ++i)
        EXPECT_NEAR(double(starts[i] - starts[i - 1]), 6000.0, 1.0);
    EXPECT_EQ(high, 4 * starts.size());
}

}  // namespace
