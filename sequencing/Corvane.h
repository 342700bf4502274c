// The pulse-lane sequencer of every track: four lanes that each pulse on
// their own grid and play the track's note list into delayed note events.
#pragma once

#include "sequencing/NoteList.h"
#include "sequencing/Sequencer.h"

#include <array>
#include <atomic>
#include <cstdint>

// A ring of the last 128 ticks, newest at the index; written by the audio
// thread, read by the pages for drawing.
template <typename T>
class TickHistory {
public:
    static constexpr int kLength = 128;  // a power of two: readers mask

    explicit TickHistory(T fill = T{}) {
        for (auto& e : entries_)
            e.store(fill, std::memory_order_relaxed);
    }
    // Steps the index down by one and writes the new newest entry.
    void push(T v) {
        const int h = (index_.load(std::memory_order_relaxed) + kLength - 1) % kLength;
        entries_[size_t(h)].store(v, std::memory_order_relaxed);
        index_.store(h, std::memory_order_release);
    }
    // Rewrites the newest entry.
    void replaceNewest(T v) { entries_[size_t(index_.load(std::memory_order_relaxed))].store(v, std::memory_order_relaxed); }
    // age 0 is the newest entry.
    T at(int age) const {
        const int i = (index_.load(std::memory_order_acquire) + age) % kLength;
        return entries_[size_t(i)].load(std::memory_order_relaxed);
    }
    int index() const { return index_.load(std::memory_order_acquire) & (kLength - 1); }
    // For a reader that walks many entries: take index() once and pass it,
    // so a step of the writer between two reads cannot leave the ring.
    T atFrom(int base, int age) const {
        return entries_[size_t((base + age) & (kLength - 1))].load(std::memory_order_relaxed);
    }

private:
    std::atomic<int> index_{0};
    std::array<std::atomic<T>, kLength> entries_;
};

class PulseLane {
public:
    static constexpr int32_t kNoPulse = -2;
    static constexpr int32_t kSilentPulse = -1;
    static constexpr int32_t kMarkov = 4;

    PulseLane();

    ParameterInt interval;
    ParameterInt reset;
    ParameterInt offset;
    ParameterInt octave;
    ParameterFloat randTime;
    ParameterFloat swing;
    ParameterInt noteSel;
    ParameterInt enabled;

    TickHistory<int32_t> history{kNoPulse};
    NoteStep lastStep;                 // audio thread only
    std::atomic<uint8_t> fired{0};     // a note of this lane was queued in this block
    uint32_t stepCounter = 0;          // pulses since the last reset
    uint32_t laneNumber = 0;           // 1..4
};

class Corvane : public Sequencer {
public:
    static constexpr int kLanes = 4;
    static constexpr uint32_t kDrumEngineType = 5;

    Corvane();

    // Control 0..7: the pattern view; 8..15: the lane table.
    void draw(MonoGFX& gfx, int index, int control) override;
    void liveNote(SynthVoiceCommon* engine, int32_t degree, int32_t octave, float dbfs, uint32_t id,
                  uint32_t extra) override;
    // Keys 5..8 switch lanes 1..4 on or off in the active pattern slot.
    void button(int index, int event) override;
    void process(SynthVoiceCommon* engine) override;
    bool isSlotUsed(int32_t slot) const override;
    void reset(uint32_t tick) override;

    // The pulse test of one lane (0..3) at tick t: the step number, -1 for a
    // pulse that plays nothing, -2 for no pulse.
    int32_t laneStep(int lane, uint32_t t);
    void setLaneNumber(int lane, uint32_t number);
    // Points the track's encoder places 8..11 and 13..15 at the lane that
    // the lane choice selects; clears them for a choice outside 0..3. Place
    // 12 (the lane choice itself) is left as it is.
    using EncoderPlaces = std::array<std::atomic<Parameter*>, 16>;
    void bindLaneParameters(EncoderPlaces& places) const;

    TickHistory<uint32_t> resetHistory;
    TickHistory<uint8_t> windowHistory;
    ParameterInt laneChoice{"pulse", ParameterInt::ChoiceMode, NoFlags, 0};
    std::array<PulseLane, kLanes> lanes;

private:
    void _drawTicks(MonoGFX& gfx, bool table) const;
    void _drawPatternView(MonoGFX& gfx) const;
    void _drawLaneTable(MonoGFX& gfx) const;
    bool _noteListEmpty() const;

    // Plays pulse k of a lane, counting the events handed over in `used`;
    // true when any was queued.
    bool _playPulse(int lane, uint32_t k, SynthVoiceCommon* engine, int32_t swingDelay, int32_t& used);
};
