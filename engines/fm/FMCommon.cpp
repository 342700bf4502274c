#include "engines/fm/FMCommon.h"

#include "engines/SynthEngineType.h"
#include "gui/MonoGFX.h"

#include <string>

namespace {
constexpr ParameterFlags kAllFour = XYMorph | Stored | Smoothed | PerChannel;
constexpr ParameterFlags kPerVoice = XYMorph | Stored | PerChannel;

std::string numbered(uint32_t op, const char* what) {
    return std::to_string(op) + " " + what;
}
std::string routeName(uint32_t r) {
    return std::to_string(FMCommon::kRouteFrom[r]) + "->" + std::to_string(FMCommon::kRouteTo[r]) + " mod";
}
}  // namespace

FMCommon::Carriers FMCommon::carriersOf(const Routes& routes) {
    Carriers carriers{true, true, true, true};
    for (uint32_t r = 0; r < kRoutes; ++r)
        if (routes[r]) carriers[kRouteFrom[r] - 1] = false;
    return carriers;
}

FMCommon::FMCommon()
    : volume{{"1 volume", ParameterFloat::Decibels, kAllFour, -96.0f, -96.0f, 6.0f},
             {"2 volume", ParameterFloat::Decibels, kAllFour, 0.0f, -96.0f, 6.0f},
             {"3 volume", ParameterFloat::Decibels, kAllFour, -96.0f, -96.0f, 6.0f},
             {"4 volume", ParameterFloat::Decibels, kAllFour, -96.0f, -96.0f, 6.0f}},
      ratio{{numbered(1, "ratio"), ParameterFraction::Ratio, kPerVoice, 1.0f},
            {numbered(2, "ratio"), ParameterFraction::Ratio, kPerVoice, 1.0f},
            {numbered(3, "ratio"), ParameterFraction::Ratio, kPerVoice, 1.0f},
            {numbered(4, "ratio"), ParameterFraction::Ratio, kPerVoice, 1.0f}},
      feedback("2 fb", ParameterFloat::Decibels, kAllFour, -96.0f, -96.0f, 0.0f),
      feedbackColour("2 fb color", ParameterFloat::Percent, kAllFour, 0.0f, 0.0f, 1.0f),
      end{{numbered(1, "end"), ParameterFloat::Plain, kAllFour, 0.0f, 0.0f, 1.0f},
          {numbered(2, "end"), ParameterFloat::Plain, kAllFour, 0.0f, 0.0f, 1.0f},
          {numbered(3, "end"), ParameterFloat::Plain, kAllFour, 0.0f, 0.0f, 1.0f},
          {numbered(4, "end"), ParameterFloat::Plain, kAllFour, 0.0f, 0.0f, 1.0f}},
      route{{routeName(0), ParameterInt::ChoiceMode, XYMorph | Stored, 0},
            {routeName(1), ParameterInt::ChoiceMode, XYMorph | Stored, 0},
            {routeName(2), ParameterInt::ChoiceMode, XYMorph | Stored, 0},
            {routeName(3), ParameterInt::ChoiceMode, XYMorph | Stored, 0},
            {routeName(4), ParameterInt::ChoiceMode, XYMorph | Stored, 0},
            {routeName(5), ParameterInt::ChoiceMode, XYMorph | Stored, 0}} {
    for (auto& flag : envelopeModeFlags) flag.store(1, std::memory_order_relaxed);
    engineType = EngineFM;
    parameters.setName(engineTypeName(EngineFM));
    settingsGroup.setName(engineTypeName(EngineFM));

    for (auto& p : volume) parameters.add(&p);
    for (auto& p : ratio) parameters.add(&p);
    parameters.add(&feedback);
    parameters.add(&feedbackColour);
    for (auto& p : end) parameters.add(&p);
    for (auto& p : route) parameters.add(&p);

    const std::array<Parameter*, kExposed> places = {&volume[0], &volume[1], &volume[2],       &volume[3],
                                                     &ratio[0],  &ratio[1],  &ratio[2],        &ratio[3],
                                                     &feedbackColour, &feedback, nullptr,     &detune,
                                                     nullptr,    nullptr,    nullptr,          nullptr};
    for (uint32_t i = 0; i < kExposed; ++i) exposedParameters[i] = places[i];

    // The base's envelope times (10, 0 and 200 ms) are this engine's too.
    oscRetrig.defaultValue = 1;
    oscRetrig.setValue(1, false);
    envSlotNames = {"env op 1", "env op 2", "env op 3", "env op 4"};
    selectEnvSlot(0);
}

FMCommon::~FMCommon() = default;

FMCommon::Routes FMCommon::routes() const {
    Routes r{};
    for (uint32_t i = 0; i < kRoutes; ++i) r[i] = route[i].value.load(std::memory_order_relaxed) != 0;
    return r;
}

void FMCommon::updateModeFlags() {
    const Carriers carriers = carriersOf(routes());
    for (uint32_t op = 0; op < kOperators; ++op)
        envelopeModeFlags[op].store(carriers[op] ? 1 : 0, std::memory_order_relaxed);
}

void FMCommon::selectEnvSlot(uint32_t slot) {
    // The switches may have changed by a load, OSC or MIDI since the last look.
    updateModeFlags();
    selectedEnvSlot = slot;
    if (slot >= kOperators) {
        for (uint32_t i = 0; i < 3; ++i) exposedParameters[kEnvAttackPlace + i] = nullptr;
        return;
    }
    const bool hold = envelopeModeFlags[slot].load(std::memory_order_relaxed) != 0;
    exposedParameters[kEnvAttackPlace] = &envAttack[slot];
    exposedParameters[kEnvAttackPlace + 1] = hold ? static_cast<Parameter*>(&envHold[slot]) : &end[slot];
    exposedParameters[kEnvAttackPlace + 2] = &envDecay[slot];
}

uint32_t FMCommon::envInfo(std::array<EnvelopeInfo, kEnvelopeBanks>& out) {
    updateModeFlags();
    for (uint32_t i = 0; i < kOperators; ++i) {
        const bool hold = envelopeModeFlags[i].load(std::memory_order_relaxed) != 0;
        out[i] = EnvelopeInfo{envAttack[i].getValue(), hold ? envHold[i].getValue() : 0.0f, envDecay[i].getValue(),
                              hold ? 0.0f : float(end[i].output)};
    }
    return kOperators;
}

void FMCommon::handleAction(int32_t key, int32_t event) {
    (void)event;
    for (uint32_t r = 0; r < kRoutes; ++r) {
        if (key != actionOf(kRouteFrom[r], kRouteTo[r])) continue;
        ParameterInt& p = route[r];
        const unsigned slot = p.activeSlot;
        p.values[slot] = int32_t(p.values[slot]) + 1;
        p.overridden = true;
        p.constrain();  // a switch wraps: true steps back to false
        selectEnvSlot(selectedEnvSlot);
        return;
    }
}

void FMCommon::drawOverview(MonoGFX& gfx, uint32_t pageA, uint32_t highlight, int x, int y) {
    (void)pageA;
    gfx.setFont(&font_default, 1, 0);
    gfx.setColour(8);
    gfx.setTextMode(1);
    gfx.drawText(x + 44, y, "FM");
    gfx.setTextMode(0);

    updateModeFlags();
    int marked = -1;
    if (highlight == 24)
        marked = 2;
    else if (highlight <= 26)
        marked = int(highlight & 3) + 1;

    for (int k = 1; k <= int(kOperators); ++k) {
        const int d = 10 * (k - 1);
        gfx.setColour(k == marked ? 15 : 4);
        gfx.drawText(x + 3 + d, y + 1 + d, std::to_string(k));
        if (envelopeModeFlags[uint32_t(k - 1)].load(std::memory_order_relaxed)) {
            gfx.setColour(4);
            gfx.drawText(x + 9 + d, y + 1 + d, "~");
        }
    }

    auto centre = [&](uint32_t r, int& cx, int& cy) {
        cx = x + 10 * int(kRouteFrom[r]) - 5;
        cy = y + 10 * int(kRouteTo[r]) - 5;
    };
    gfx.setColour(2);
    for (uint32_t r = 0; r < kRoutes; ++r) {
        if (!(route[r].xyMorph && route[r].overridden)) continue;
        int cx, cy;
        centre(r, cx, cy);
        gfx.fillRect(cx - 4, cy - 4, cx + 4, cy + 4);
    }
    gfx.setColour(15);
    for (uint32_t r = 0; r < kRoutes; ++r) {
        int cx, cy;
        centre(r, cx, cy);
        if (route[r].value.load(std::memory_order_relaxed) != 0) {
            gfx.drawRect(cx - 1, cy - 1, cx + 1, cy + 1);
            gfx.drawLine(cx, y + 10 * int(kRouteFrom[r]), cx, cy);
            gfx.drawLine(cx, cy, x + 10 * (int(kRouteTo[r]) - 1), cy);
        } else {
            gfx.setPixel(cx, cy);
        }
    }
}
