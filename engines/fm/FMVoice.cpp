#include "engines/fm/FMVoice.h"

#include "dsp/Float4.h"
#include "dsp/Random.h"
#include "engines/SynthEngineType.h"

#include <cmath>

namespace {
constexpr uint32_t kBlock = FMVoice::kBlock;

void clear(float* b) {
#pragma GCC unroll 16
    for (uint32_t i = 0; i < kBlock; i += 4) store4(b + i, splat4(0.0f));
}
void copy(float* to, const float* from) {
#pragma GCC unroll 16
    for (uint32_t i = 0; i < kBlock; i += 4) store4(to + i, load4(from + i));
}
void accumulate(float* to, const float* from) {
#pragma GCC unroll 16
    for (uint32_t i = 0; i < kBlock; i += 4) store4(to + i, load4(to + i) + load4(from + i));
}
}  // namespace

FMVoice::FMVoice() {
    for (auto& b : operatorBuffer) clear(b);
    clear(mixBuffer);
}

FMVoice::~FMVoice() = default;

void FMVoice::noteOn(NoteEvent event) {
    SynthVoiceCommon* engine = event.engine;
    if (!engine || engine->engineType != EngineFM) return;
    note = event;
    if (!std::isfinite(note.gain)) note.gain = 0.0f;
    common = static_cast<FMCommon*>(engine);
    updateParameters();
    if (note.type != kindWord(NoteType::NoteSlide)) {
        const bool retrig = common->oscRetrig.value.load(std::memory_order_relaxed) != 0;
        const float d = common->detune.getValue();
        SineOscillator* plain[kOperators] = {&op1, nullptr, &op3, &op4};
        for (uint32_t op = 0; op < kOperators; ++op) {
            if (retrig) {
                if (plain[op])
                    plain[op]->phase = 0.0;
                else
                    op2.phase = 0.0;
            }
            envelopes[op].trigger(note.gain, 0.0f);
            detuneFactor[op] = 1.0f + 0.2f * DSP::noise.next() * d * d * d;
            started = true;
        }
    }
    setGlide(note.type, common->slide.getValue());
    active = true;
}

void FMVoice::updateParameters() {
    FMCommon* c = common;
    if (!c) return;
    const uint32_t ch = note.voiceInTrack;
    const bool trig = started;
    auto read = [&](Parameter& p) { return p.getModulated(ch, false, trig, 0.0f); };

    routes = c->routes();
    feedbackAmount = read(c->feedback);
    feedbackColour = read(c->feedbackColour);
    // Hold or end mode follows the routes here, so a routing loaded or set
    // by OSC or MIDI counts at once, page shown or not.
    isCarrier = FMCommon::carriersOf(routes);
    for (uint32_t op = 0; op < kOperators; ++op) feeds[op] = isCarrier[op] ? kFeedsMix : 0;
    for (uint32_t r = 0; r < FMCommon::kRoutes; ++r)
        if (routes[r]) feeds[FMCommon::kRouteFrom[r] - 1] |= uint8_t(1u << (FMCommon::kRouteTo[r] - 1));
    for (uint32_t op = 0; op < kOperators; ++op) {
        volume[op] = read(c->volume[op]);
        ratio[op] = read(c->ratio[op]);
        const float attack = read(c->envAttack[op]), decay = read(c->envDecay[op]);
        if (isCarrier[op])
            envelopes[op].setTimes(attack, read(c->envHold[op]), decay, 0.0f);
        else
            envelopes[op].setTimes(attack, 0.0f, decay, read(c->end[op]));
    }
}

void FMVoice::fadeOut(uint32_t samples) {
    for (auto& e : envelopes)
        if (!e.isIdle()) e.fastRelease(samples);
}

void FMVoice::_finishOperator(uint32_t op) {
    float* b = operatorBuffer[op];
    envelopes[op].applyQuarticGain(b, volume[op]);
    const uint32_t to = feeds[op];
    // The first output into a buffer this block copies, the others add.
    auto into = [&](uint32_t bit, float* target) {
        if (filled_ & bit)
            accumulate(target, b);
        else
            copy(target, b);
        filled_ |= bit;
    };
    if (to & kFeedsMix) into(kFeedsMix, mixBuffer);
    for (uint32_t target = op + 1; target < kOperators; ++target)
        if (to & (1u << target)) into(1u << target, operatorBuffer[target]);
}

bool FMVoice::render(float* row, uint32_t frames) {
    if (frames > kBlock) frames = kBlock;
    updateParameters();
    const float f = glideStep();
    for (auto& e : envelopes) e.tick();

    bool sounding = false;
    for (uint32_t op = 0; op < kOperators; ++op)
        sounding = sounding || (isCarrier[op] && _audible(op) && !envelopes[op].isIdle());
    active = sounding;

    // Each operator puts its output into the inputs of the operators it
    // feeds before they run; an input nothing fed is empty, and a silent
    // operator passes nothing on.
    filled_ = 0;
    auto input = [&](uint32_t op) {
        if (!(filled_ & (1u << op))) clear(operatorBuffer[op]);
        return operatorBuffer[op];
    };
    if (_audible(0))
        op1.render(input(0), kBlock, _hz(0, f));
    else
        clear(operatorBuffer[0]);
    _finishOperator(0);
    if (_audible(1))
        op2.render(input(1), kBlock, _hz(1, f), feedbackAmount, feedbackColour);
    else
        clear(operatorBuffer[1]);
    _finishOperator(1);
    if (_audible(2))
        op3.render(input(2), kBlock, _hz(2, f));
    else
        clear(operatorBuffer[2]);
    _finishOperator(2);
    if (_audible(3))
        op4.render(input(3), kBlock, _hz(3, f));
    else
        clear(operatorBuffer[3]);
    _finishOperator(3);
    if (!(filled_ & kFeedsMix)) clear(mixBuffer);

    uint32_t i = 0;
    for (; i + 4 <= frames; i += 4) storeUnaligned4(row + i, loadUnaligned4(row + i) + load4(mixBuffer + i));
    for (; i < frames; ++i) row[i] += mixBuffer[i];

    const bool first = started;
    started = false;
    return first;
}
