// Low-frequency oscillator per voice channel ("LFO"): five shapes, free at a
// rate in Hz or locked to the main clock's beats with a multiplier,
// restarted by a sequencer reset or a note, the stepped shapes smoothed, the
// sine folded, mapped to one of four ranges and scaled by "amount".
#pragma once

#include "dsp/Phasor.h"
#include "parameters/Modulator.h"
#include "parameters/OnePoleState.h"
#include "parameters/ParameterFloat.h"
#include "parameters/ParameterFraction.h"
#include "parameters/ParameterInt.h"

#include <vector>

class BasicLFO : public Modulator {
public:
    enum Shape : int32_t { Sine = 0, Rising = 1, Falling = 2, Square = 3, RandomSteps = 4 };
    enum Range : int32_t { Normal = 0, Invert = 1, Positive = 2, Negative = 3 };
    static constexpr int32_t kTrigSync = 3;

    BasicLFO(uint32_t channelCount, const std::string& targetName, const std::string& targetGroupName);

    float process(uint32_t channel, bool trigA, bool trigB) override;
    void refreshControls() override;
    void _drawGFX(MonoGFX* gfx, unsigned x, unsigned y, unsigned w, unsigned h) override;

    // frac(m x beats), worked out in double so that the phase neither steps
    // nor stands still however long the clock has run.
    static float syncedPhase(float multiplier, double beats);

    ParameterFloat frequency;
    ParameterFraction clockMult;
    ParameterFloat smoothing;
    ParameterFloat fold;
    ParameterInt shape;
    std::vector<Phasor> phasors;
    std::vector<float> heldRandom;
    std::vector<float> lastPhase;
    std::vector<OnePoleState> smoothers;
    OnePoleState previewSmoother;

private:
    // The shape's value at phase p before the range; `held` is the random
    // step, `smoother` smooths every shape but the sine.
    static float _shaped(int32_t shape, float fold, float p, float held, OnePoleState& smoother);
};
