// The quad engine's sample kinds: one list at a settable rate, or two lists
// layered at the natural rate.
#include "engines/ChoiceText.h"
#include "engines/quad/QuadEngineCommon.h"
#include "engines/quad/QuadEngineVoice.h"

void QuadEngineVoice::_startKind() {
    MiniEngine& s = _sub();
    const int32_t step = int32_t(note.step);
    switch (subEngineKind) {
    case MiniDoubleSample:
        // Two layers at their natural pitch: no detune for either.
        samplePlayers[1].start(activeChoiceText(s.samples2), step, note.order, 0.0f);
        amplitude.trigger(note.gain, 0.0f);
        samplePlayers[0].start(activeChoiceText(s.samples), step, note.order, 0.0f);
        break;
    case MiniSample:
        amplitude.trigger(note.gain, 0.0f);
        samplePlayers[0].start(activeChoiceText(s.samples), step, note.order, detuneAmount);
        break;
    case MiniRatchet:
        // The note level is applied in the signal path.
        amplitude.trigger(1.0f, 0.0f);
        break;
    default:
        amplitude.trigger(note.gain, 0.0f);
        second.trigger(note.gain, 0.0f);
        third.trigger(note.gain, 0.0f);
        break;
    }
}

void QuadEngineVoice::_renderSample(uint32_t n) {
    const bool playing = samplePlayers[0].render(mainBuffer, n, int32_t(note.unisonIndex), currentFrequency,
                                                 detuneAmount, playbackRate);
    if (active && !playing) active = false;
    amplitude.applyQuarticGain(mainBuffer, gain);
}

void QuadEngineVoice::_renderDoubleSample(uint32_t n) {
    const int32_t channel = int32_t(note.unisonIndex);
    const bool first = samplePlayers[0].render(mainBuffer, n, channel, currentFrequency, 0.0f, 1.0f);
    const bool second_ = samplePlayers[1].render(auxBuffer, n, channel, currentFrequency, 0.0f, 1.0f);
    if (active && !first && !second_) {
        active = false;
    } else if (first && second_) {
        for (uint32_t i = 0; i < n; ++i) mainBuffer[i] += auxBuffer[i];
    } else if (second_) {
        for (uint32_t i = 0; i < n; ++i) mainBuffer[i] = auxBuffer[i];
    }
    amplitude.applyQuarticGain(mainBuffer, gain);
}
