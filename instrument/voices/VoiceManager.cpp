// Voice pools and note scheduling.
#include "instrument/voices/VoiceManager.h"

#include "engines/SynthEngineType.h"
#include "engines/SynthVoiceCommon.h"
#include "gui/GuiNotify.h"
#include "platform/RtPrintf.h"
#include "sequencing/NoteList.h"

#include <algorithm>

namespace {
constexpr const char* kNoSynthNotice = "No synth selected.. Notes won't play";
constexpr uint32_t kFreeByte = 0xFFu;
// Pools are built in this order.
constexpr uint32_t kPoolOrder[] = {EngineFM, EngineModular, EngineAdditive, EngineResonator,
                                   EngineQuad, EngineSubtractive, EngineGranular};

NoteEvent emptySlot() {
    NoteEvent e;  // type Skip, gain 1.0, free, zero otherwise
    e.type = uint32_t(NoteType::Skip);
    e.gain = 1.0f;
    e.flags = 1;
    return e;
}

uint32_t clampCount(int32_t v) { return uint32_t(std::clamp<int32_t>(v, 1, 8)); }
}  // namespace

VoiceManager::VoiceManager()
    : masterChain(4),
      inGain1("in 1 gain", ParameterFloat::Decibels, Stored | Smoothed, 0.0f, -kInputGainRange, kInputGainRange),
      inGain2("in 2 gain", ParameterFloat::Decibels, Stored | Smoothed, 0.0f, -kInputGainRange, kInputGainRange),
      inGain3("in 3 gain", ParameterFloat::Decibels, Stored | Smoothed, 0.0f, -kInputGainRange, kInputGainRange),
      inGain4("in 4 gain", ParameterFloat::Decibels, Stored | Smoothed, 0.0f, -kInputGainRange, kInputGainRange),
      sendRouting("send fx routing", ParameterInt::ChoiceMode, Stored, 0),
      inToOut1("in 1 to out chan", ParameterInt::ChoiceMode, Stored, 0),
      inToOut2("in 2 to out chan", ParameterInt::ChoiceMode, Stored, 0),
      inToOut3("in 3 to out chan", ParameterInt::ChoiceMode, Stored, 0),
      inToOut4("in 4 to out chan", ParameterInt::ChoiceMode, Stored, 0),
      inGains_{&inGain1, &inGain2, &inGain3, &inGain4},
      inToOuts_{&inToOut1, &inToOut2, &inToOut3, &inToOut4} {
    for (uint32_t type : kPoolOrder) pools_[type] = makeVoicePool(type);
    slots_.fill(emptySlot());
    sendRouting.setChoices({"track 5", "output 1+2", "output 3+4", "output 5+6", "output 7+8"}, 0);
    for (ParameterInt* p : inToOuts_) p->setChoices({"-", "1", "2", "3", "4", "5", "6", "7", "8"}, 0);
    resetOutputFX();
}

VoiceManager::~VoiceManager() = default;

void VoiceManager::attachTrack(uint32_t track, SynthVoiceCommon* engine, EffectChain* chain,
                               std::array<const ParameterInt*, kInputs> inputRoutes, BusyTest busy,
                               const void* owner) {
    if (track >= kTracks) return;
    TrackVoices& tv = tracks_[track];
    if (!tv.current) tv.current = tv.previous = engine;
    links_[track].chain = chain;
    links_[track].routes = inputRoutes;
    if (busy) {
        links_[track].busy = busy;
        links_[track].owner = owner;
    }
}

void VoiceManager::resetOutputFX() {
    masterChain.clear();
    masterChain.insertEffect(AudioEffectType::Limiter, 0);
}

void VoiceManager::silence() {
    for (auto& pool : pools_)
        if (pool) pool->silence();
    slots_.fill(emptySlot());
    positions_ = {};
    tracks_ = {};
    gateLines_ = {};
    overflow_ = 0;
    activeVoices_.store(0, std::memory_order_relaxed);
    resetOutputFX();
}

uint32_t VoiceManager::_typeOf(const SynthVoiceCommon* engine) { return engine ? engine->engineType : EngineNone; }

uint32_t VoiceManager::_polyphonyOf(const SynthVoiceCommon& engine) {
    // A saved slot may hold anything; the rotation divides by it.
    return clampCount(engine.polyphony.value.load(std::memory_order_relaxed));
}

SynthVoice* VoiceManager::voice(uint32_t engineType, uint32_t index) {
    if (engineType >= kEngineTypes || index >= VoicePool::kVoices || !pools_[engineType]) return nullptr;
    return &pools_[engineType]->voice(index);
}

bool VoiceManager::scheduleNote(NoteEvent e) {
    if (e.track >= kTracks) return false;
    TrackVoices& tv = tracks_[e.track];
    if (_typeOf(e.engine) == EngineNone && !tv.warned) {
        Driver::guiNotify.info(kNoSynthNotice);
        tv.warned = true;
    }
    if (e.type == uint32_t(NoteType::Skip) || (e.flags & kFreeByte) != 0) return false;

    NoteEvent* slot = nullptr;
    for (NoteEvent& s : slots_) {
        if (s.flags & kFreeByte) {
            slot = &s;
            break;
        }
    }
    if (!slot) {
        ++overflow_;
        rt_printf("VoiceManager: note scheduler overflow, delayed note discarded.. (memsize: %d, %d discarded)\n",
                  int(kSlots), int(overflow_));
        return false;
    }
    // A negative delay arrives as a huge number: play it at once rather than
    // let the countdown wrap past its preparing step.
    const uint32_t delay = e.delay > kMaxDelay ? 0 : e.delay;
    *slot = e;
    slot->delay = (delay + kLead) & ~(kFrames - 1);
    slot->flags &= ~kFreeByte;
    slot->voice = kUnprepared;  // chosen by the preparing step, never by the caller
    return true;
}

void VoiceManager::_polyphonyCheck() {
    for (uint32_t t = 0; t < kTracks; ++t) {
        TrackVoices& tv = tracks_[t];
        if (!tv.current) continue;
        const uint32_t p = _polyphonyOf(*tv.current);
        if (p < tv.polyphony) limitPolyphony(_typeOf(tv.current), t, p);
        tv.polyphony = p;
    }
}

void VoiceManager::_noteStep(uint32_t frames) {
    for (NoteEvent& slot : slots_) {
        if (slot.flags & kFreeByte) continue;
        if (slot.delay == kLead) {
            _prepare(slot);
        } else if (slot.delay < frames) {
            _fire(slot);
            slot = emptySlot();
            continue;
        }
        slot.delay -= frames;
    }
}

void VoiceManager::_prepare(NoteEvent& e) {
    const uint32_t t = e.track;
    TrackVoices& tv = tracks_[t];
    if (e.engine != tv.current) {
        tv.warned = false;
        for (uint32_t v = 0; v < kVoicesPerTrack; ++v) fadeOutVoice(_typeOf(tv.current), t, v, kLead);
        tv.previous = tv.current;
        tv.blocksSinceSwitch = 0;
        tv.current = e.engine;
    }
    const uint32_t type = _typeOf(e.engine);
    uint32_t v;
    if (type == EngineQuad)
        v = 2 * (e.lane & 3) + (e.unisonIndex & 1);  // lanes are 0..3
    else
        v = uint32_t(tv.nextVoice + 1) % (e.engine ? _polyphonyOf(*e.engine) : 1);
    tv.nextVoice = int32_t(v);
    e.voice = t * kVoicesPerTrack + v;

    switch (NoteType(e.type)) {
    case NoteType::NoteOn:
    case NoteType::NoteOnSlide:
    case NoteType::NoteOff:
        fadeOutVoice(type, t, v, kLead);
        break;
    case NoteType::NoteOffAll:
        for (uint32_t k = 0; k < kVoicesPerTrack; ++k) fadeOutVoice(type, t, k, kLead);
        break;
    default:
        break;
    }
}

void VoiceManager::_fire(NoteEvent& e) {
    if (e.voice == kUnprepared) _prepare(e);  // only a note that skipped its lead
    const uint32_t t = e.track;
    TrackVoices& tv = tracks_[t];
    tv.recentPos = (tv.recentPos + kVoicesPerTrack - 1) % kVoicesPerTrack;
    tv.recent[tv.recentPos] = uint8_t(e.voice - t * kVoicesPerTrack);

    if (e.type < uint32_t(NoteType::Skip)) {
        startVoice(e);
        if (e.engine) {
            const ParameterFloat& vol = e.engine->trackVolume;
            const float lo = vol.minimum, hi = vol.maximum;
            float n = hi > lo ? (vol.getValue() - lo) / (hi - lo) : 0.0f;
            n = std::clamp(n, 0.0f, 1.0f);  // also NaN -> 0
            if (!(n >= 0.0f)) n = 0.0f;
            gateLines_[t].countdown = int32_t(n * float(kGateScale) + 1.0f);
            limitPolyphony(_typeOf(e.engine), t, _polyphonyOf(*e.engine));
        }
    }
}

void VoiceManager::startVoice(NoteEvent& e) {
    if (e.track >= kTracks || e.voice >= VoicePool::kVoices) return;
    e.voiceInTrack = e.voice % kVoicesPerTrack;
    if (SynthVoice* v = voice(_typeOf(e.engine), e.voice)) v->noteOn(e);
    positions_[e.voice] = e.unisonIndex;
    if (e.engine) tracks_[e.track].unison = clampCount(e.engine->unison.value.load(std::memory_order_relaxed));
}

void VoiceManager::fadeOutVoice(uint32_t engineType, uint32_t track, uint32_t v, uint32_t samples) {
    if (track >= kTracks || v >= kVoicesPerTrack) return;
    SynthVoice* voice = this->voice(engineType, track * kVoicesPerTrack + v);
    if (voice && voice->active) voice->fadeOut(samples);
}

void VoiceManager::limitPolyphony(uint32_t engineType, uint32_t track, uint32_t keep) {
    if (track >= kTracks) return;
    const TrackVoices& tv = tracks_[track];
    for (uint32_t v = 0; v < kVoicesPerTrack; ++v) {
        bool kept = false;
        for (uint32_t i = 0; i < keep && i < kVoicesPerTrack; ++i)
            if (tv.recent[(tv.recentPos + i) % kVoicesPerTrack] == v) kept = true;
        if (!kept) fadeOutVoice(engineType, track, v, kPolyphonyFade);
    }
}

void VoiceManager::renderTrackVoices(uint32_t engineType, uint32_t track, AudioBlock& block, bool firstPass) {
    if (track >= kTracks) return;
    const TrackVoices& tv = tracks_[track];
    for (uint32_t v = 0; v < kVoicesPerTrack; ++v) {
        const uint32_t index = track * kVoicesPerTrack + v;
        ChannelState& state = block.channelState[v];
        if (firstPass) {
            state = v < tv.polyphony ? ChannelState::Silent : ChannelState::Vacant;
            block.channelPosition[v] = positions_[index];
        }
        SynthVoice* voice = this->voice(engineType, index);
        if (!voice || !voice->active) continue;
        activeVoices_.fetch_add(1, std::memory_order_relaxed);
        // Voices add into their row, so two engines share a channel.
        const ChannelState s = voice->render(block.channel(v), kFrames) ? ChannelState::Started : ChannelState::Playing;
        if (firstPass || !isActive(state)) {
            if (!firstPass) block.channelPosition[v] = positions_[index];
            state = s;
        } else {
            mergeChannelState(state, s);
        }
    }
}
