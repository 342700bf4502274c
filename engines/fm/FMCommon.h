// The FM engine of a track: four sine operators, six upward modulation
// routes, feedback on operator 2 and an envelope per operator. This object
// holds the engine's settings and page; FMVoice plays the notes.
#pragma once

#include "engines/SynthVoiceCommon.h"
#include "parameters/ParameterFraction.h"

#include <array>
#include <atomic>

class FMCommon : public SynthVoiceCommon {
public:
    static constexpr uint32_t kOperators = 4;
    static constexpr uint32_t kRoutes = 6;
    // Route r runs from operator kRouteFrom[r] to kRouteTo[r] (1-based), in
    // the order of the switches: 1->2, 1->3, 2->3, 1->4, 2->4, 3->4.
    static constexpr uint32_t kRouteFrom[kRoutes] = {1, 1, 2, 1, 2, 3};
    static constexpr uint32_t kRouteTo[kRoutes] = {2, 3, 3, 4, 4, 4};
    // Page action of switch i->j.
    static constexpr int32_t actionOf(uint32_t from, uint32_t to) { return int32_t(5 * from + to - 2); }

    using Routes = std::array<bool, kRoutes>;
    using Carriers = std::array<bool, kOperators>;
    // An operator that feeds no other one is heard: a carrier, whose envelope
    // holds; the others end at their "end" level.
    static Carriers carriersOf(const Routes& routes);

    FMCommon();
    ~FMCommon() override;

    void drawOverview(MonoGFX& gfx, uint32_t pageA, uint32_t highlight, int x, int y) override;
    void handleAction(int32_t key, int32_t event) override;
    void selectEnvSlot(uint32_t slot) override;
    uint32_t envSlots() const override { return kOperators; }
    uint32_t envInfo(std::array<EnvelopeInfo, kEnvelopeBanks>& out) override;

    // The switches' current values.
    Routes routes() const;
    // Recomputes the mode flags from the switches.
    void updateModeFlags();

    ParameterFloat volume[kOperators];
    ParameterFraction ratio[kOperators];
    ParameterFloat feedback;
    ParameterFloat feedbackColour;
    ParameterFloat end[kOperators];
    ParameterInt route[kRoutes];
    // 1: hold mode, 0: end mode. Written by page actions and drawing alike.
    std::array<std::atomic<uint8_t>, kOperators> envelopeModeFlags;
};
