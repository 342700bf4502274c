#include "sequencing/Corvane.h"

#include "dsp/Random.h"
#include "dsp/Utilities.h"
#include "engines/SynthVoiceCommon.h"
#include "sequencing/NoteManager.h"
#include "sequencing/PitchScale.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace {

// Functions, not namespace-scope objects: the tracks are built by the
// static initialisers, maybe before this file's objects.
const std::vector<std::string>& laneNames() {
    static const std::vector<std::string> names = {"pulse 1", "pulse 2", "pulse 3", "pulse 4"};
    return names;
}
const std::vector<std::string>& noteSelNames() {
    static const std::vector<std::string> names = {"forward", "reverse", "fwd+rev", "random", "markov"};
    return names;
}
constexpr float kSamplesPerMs = 48.0f;
constexpr float kMaxDelay = 1073741824.0f;

int32_t intValue(const ParameterInt& p) { return p.values[p.activeSlot]; }

// What note generation reads of the engine.
struct Voicing {
    int32_t polyphony;
    int32_t unison;
    uint32_t type;
    explicit Voicing(const SynthVoiceCommon& e)
        : polyphony(intValue(e.polyphony)), unison(intValue(e.unison)), type(e.engineType) {}
};

float gainOf(float dbfs) { return std::pow(10.0f, dbfs * 0.05f); }

// Every event starts from this: kind Skip until set, gain 1, queued, all
// else zero.
NoteEvent eventTemplate() {
    NoteEvent e;
    e.flags = 0;  // queued
    return e;
}

}  // namespace

PulseLane::PulseLane()
    : interval("interval", ParameterInt::PlainInt, Stored | MultiSlot, 8, 1),
      reset("reset", ParameterInt::PlainInt, Stored | MultiSlot, 0, 0),
      offset("offset", ParameterInt::PlainInt, Stored | MultiSlot, 0, -128, 128),
      octave("octave", ParameterInt::PlainInt, Stored | MultiSlot, 0, -7, 7),
      randTime("rand time", ParameterFloat::Milliseconds, Stored | MultiSlot, 0.0f, 0.0f, 500.0f),
      swing("swing", ParameterFloat::Percent, Stored | MultiSlot, 0.0f, 0.0f, 1.0f),
      noteSel("note sel", ParameterInt::ChoiceMode, Stored | MultiSlot, 0),
      enabled("enabled", ParameterInt::ChoiceMode, Stored | MultiSlot, 0) {}

Corvane::Corvane() {
    laneChoice.setChoices(laneNames(), 0);
    for (int lane = 0; lane < kLanes; ++lane) {
        setLaneNumber(lane, uint32_t(lane + 1));
        lanes[size_t(lane)].noteSel.setChoices(noteSelNames(), 0);
    }
    for (PulseLane& l : lanes)
        for (Parameter* p : {static_cast<Parameter*>(&l.interval), static_cast<Parameter*>(&l.offset),
                             static_cast<Parameter*>(&l.octave), static_cast<Parameter*>(&l.reset),
                             static_cast<Parameter*>(&l.noteSel), static_cast<Parameter*>(&l.enabled),
                             static_cast<Parameter*>(&l.randTime), static_cast<Parameter*>(&l.swing)})
            group.add(p);
    group.add(&laneChoice);
}

void Corvane::bindLaneParameters(EncoderPlaces& places) const {
    const int32_t lane = laneChoice.values[laneChoice.activeSlot];
    const bool valid = lane >= 0 && lane < kLanes;
    const PulseLane* l = valid ? &lanes[size_t(lane)] : nullptr;
    auto bind = [&](size_t place, const Parameter* p) {
        places[place].store(const_cast<Parameter*>(l ? p : nullptr), std::memory_order_release);
    };
    bind(8, l ? &l->interval : nullptr);
    bind(9, l ? &l->offset : nullptr);
    bind(10, l ? &l->octave : nullptr);
    bind(11, l ? &l->reset : nullptr);
    bind(13, l ? &l->noteSel : nullptr);
    bind(14, l ? &l->randTime : nullptr);
    bind(15, l ? &l->swing : nullptr);
}

void Corvane::setLaneNumber(int lane, uint32_t number) {
    PulseLane& l = lanes[size_t(lane)];
    l.laneNumber = number;
    const std::string n = std::to_string(number);
    l.interval.name = n + " interval";
    l.reset.name = n + " reset";
    l.offset.name = n + " offset";
    l.octave.name = n + " octave";
    l.randTime.name = n + " rand time";
    l.swing.name = n + " swing";
    l.noteSel.name = n + " note sel";
    l.enabled.name = n + " enabled";
    for (int i = 0; i < TickHistory<int32_t>::kLength; ++i)
        l.history.push(PulseLane::kNoPulse);
}

int32_t Corvane::laneStep(int lane, uint32_t t) {
    PulseLane& l = lanes[size_t(lane)];
    const int64_t i = std::max<int32_t>(1, intValue(l.interval));
    const int64_t period = std::max<int64_t>(i, intValue(l.reset));
    // Signed throughout: a negative offset before the first ticks must not
    // wrap round to a huge unsigned tick number.
    const int64_t shifted = int64_t(t) + intValue(l.offset);
    if ((shifted % period) % i != 0) {
        l.history.push(PulseLane::kNoPulse);
        return PulseLane::kNoPulse;
    }
    if (intValue(l.enabled) < 1) {
        l.history.push(PulseLane::kSilentPulse);
        ++l.stepCounter;
        return PulseLane::kSilentPulse;
    }
    const uint32_t step = l.stepCounter++;
    l.history.push(int32_t(step));
    return int32_t(step);
}

void Corvane::reset(uint32_t tick) {
    tickCounter = tick;
    for (PulseLane& l : lanes)
        l.stepCounter = 0;
    resetPending = 1;
}

bool Corvane::isSlotUsed(int32_t slot) const {
    if (slot < 0 || slot >= kPatternSlots)
        return false;
    for (const PulseLane& l : lanes)
        if (size_t(slot) < l.enabled.values.size() && l.enabled.values[size_t(slot)] != 0)
            return true;
    return false;
}

void Corvane::process(SynthVoiceCommon* engine) {
    for (PulseLane& l : lanes)
        l.fired.store(0, std::memory_order_relaxed);
    if (!ticked)
        return;

    const uint32_t t = tickCounter;
    const int32_t swingPeriodTicks = std::max<int32_t>(1, intValue(swingTicks));
    const int32_t multiplier = std::max<int32_t>(1, intValue(clockMult));
    const float position = float(t % uint32_t(swingPeriodTicks)) / float(swingPeriodTicks);
    // The tempo in beats per minute, as stored, whatever unit the clock's
    // output is in. No tempo (or a stopped one) gives no swing.
    const float bpm = links_.tempo ? links_.tempo->getValue() : 0.0f;
    const float samplesPerBeat = bpm > 0.0f && std::isfinite(bpm) ? (60.0f / bpm) * float(kSampleRate) : 0.0f;
    const float swingPeriod = (float(swingPeriodTicks) / float(multiplier)) * samplesPerBeat;

    const int64_t first = intValue(start);
    const int64_t windowLength = intValue(length);
    bool active = int64_t(t) >= first && (windowLength <= 0 || int64_t(t) < first + windowLength);
    windowHistory.push(active ? 1 : 0);
    resetHistory.push(resetPending);
    resetPending = 0;
    if (intValue(touchpadMode) > 0)
        active = gate != 0;

    int32_t used = 0;
    for (int lane = 0; lane < kLanes; ++lane) {
        const int32_t k = laneStep(lane, t);
        if (k < 0 || !active)
            continue;
        PulseLane& l = lanes[size_t(lane)];
        const float amount = l.swing.getValue();
        int32_t swingDelay = 0;
        if (amount > 0.0f && swingPeriod > 0.0f) {
            const float w = std::pow(position, std::pow(2.0f, -4.0f * amount * amount));
            // A crawling tempo must not overflow the conversion.
            swingDelay = int32_t(std::min((w - position) * swingPeriod, kMaxDelay));
        }
        if (_playPulse(lane, uint32_t(k), engine, swingDelay, used))
            l.fired.store(1, std::memory_order_relaxed);
        else
            l.history.replaceNewest(PulseLane::kSilentPulse);
    }
}

bool Corvane::_playPulse(int lane, uint32_t k, SynthVoiceCommon* engineObject, int32_t swingDelay, int32_t& used) {
    if (!engineObject)
        return false;
    PulseLane& l = lanes[size_t(lane)];
    const Voicing engine(*engineObject);
    const NoteList* list = _notes().rtList(intValue(noteList));
    if (!list || list->steps.empty())
        return false;
    const PitchScale* scale = _scales().getScale(list->tuning);
    if (!scale)
        return false;

    const int32_t order = intValue(l.noteSel);
    const int32_t count = int32_t(std::min<size_t>(list->steps.size(), INT32_MAX));
    const int32_t index = playOrderIndex(int32_t(k), count, uint32_t(order));
    NoteStep step = list->steps[size_t(std::clamp(index, 0, count - 1))];
    if (order == PulseLane::kMarkov && !list->transitions.empty()) {
        // With no table (never rebuilt since the steps were entered) the
        // normal order's step stands.
        auto it = list->transitions.find(l.lastStep);
        if (it != list->transitions.end() && !it->second.empty())
            step = it->second[DSP::random.nextHigh() % it->second.size()];
        else
            step = list->transitions.begin()->first;
    }
    l.lastStep = step;

    const int32_t n = step.size();
    if (n == 0)
        return false;
    // The remainder is signed: once this block's events reach the polyphony
    // no further chord notes play.
    const int32_t limit = std::clamp(engine.polyphony - used, 0, n);
    const int32_t copies = std::max(0, std::min(engine.unison, engine.polyphony));
    int32_t firstNote = 0;
    int32_t endNote = limit;
    const int32_t mode = intValue(chordMode);
    if (mode == 1 || (mode == 0 && engine.type == kDrumEngineType)) {
        endNote = std::min<int32_t>(1, mode == 1 ? 1 : limit);
    } else if (mode == 2) {
        firstNote = int32_t(DSP::random.nextHigh() % uint32_t(n));
        endNote = firstNote + 1;
    }

    const bool slide = intValue(slideAllNotes) != 0;
    const int32_t chanceOffset = int32_t(std::lround(chance.getValue() * 10.0f));
    const float randomMs = l.randTime.getValue();
    bool queued = false;
    for (int32_t i = firstNote; i < endNote; ++i) {
        const Note& note = step[i];
        if (note.type == NoteType::Skip)
            continue;
        const int64_t c = int64_t(note.chance) + chanceOffset;
        if (c < 0)
            continue;
        if (c <= 10 && int64_t(DSP::random.nextHigh() % 10u) >= c)
            continue;
        NoteEvent e = eventTemplate();
        e.type = uint32_t(note.type == NoteType::NoteOn && slide ? NoteType::NoteOnSlide : note.type);
        e.engine = engineObject;
        e.track = trackIndex;
        e.lane = uint32_t(lane);
        e.step = k;
        e.order = uint32_t(order);
        e.frequency = scale->frequency(note.symbol, intValue(l.octave) + note.octave);
        e.gain = gainOf(note.dbfs);
        for (int32_t j = 0; j < copies; ++j) {
            // Drawn for every copy, also at 0 ms, so that every later draw
            // of the noise sequence does not depend on the setting.
            const float noise = std::fabs(DSP::noise.next());
            int32_t delay = swingDelay;
            if (randomMs > 0.0f)
                delay += int32_t(noise * kSamplesPerMs * randomMs);
            e.unisonIndex = uint32_t(j);
            e.delay = uint32_t(std::max(0, delay));
            ++used;
            if (links_.scheduler && links_.scheduler->scheduleNote(e))
                queued = true;
        }
    }
    return queued;
}

void Corvane::liveNote(SynthVoiceCommon* engine, int32_t degree, int32_t octave, float dbfs, uint32_t id,
                       uint32_t extra) {
    const NoteList* list = _notes().rtList(intValue(noteList));
    if (!list || !engine)
        return;
    const PitchScale* scale = _scales().getScale(list->tuning);
    if (!scale)
        return;
    NoteEvent e = eventTemplate();
    e.type = uint32_t(intValue(slideAllNotes) != 0 ? NoteType::NoteOnSlide : NoteType::NoteOn);
    e.engine = engine;
    e.track = trackIndex;
    e.lane = uint32_t(std::max(0, intValue(laneChoice)));
    e.step = id;
    e.order = extra;
    e.frequency = scale->frequency(degree, octave);
    e.gain = gainOf(dbfs);
    e.delay = 0;
    for (int32_t j = 0, copies = intValue(engine->unison); j < copies; ++j) {
        e.unisonIndex = uint32_t(j);
        if (links_.scheduler)
            links_.scheduler->scheduleNote(e);
    }
}
