// What the display shows after the instrument has been left alone: dim
// particles streaming across the screen and a user text bouncing between the
// walls, each bounce sending every particle away from that wall.
#pragma once

#include "parameters/ParameterInt.h"
#include "parameters/ParameterString.h"

#include <array>
#include <cstdint>

class MonoGFX;

class Screensaver {
public:
    static constexpr size_t kParticles = 100;
    static constexpr uint32_t kBlocksPerSecond = 750;

    struct Particle {
        float x, y, vx, vy;
    };

    Screensaver();

    // One animation frame (interface task).
    void draw(MonoGFX& window);
    // Side 0 right, 1 down, 2 left, 3 up.
    void launchParticle(Particle& p, int side);
    void stepParticle(Particle& p, MonoGFX& window);

    // The chosen idle time in seconds, 0 when disabled.
    int32_t seconds() const;
    // Whether the screensaver replaces the page after idleBlocks quiet blocks.
    bool isDue(uint32_t idleBlocks, bool clockRunning) const;

    ParameterInt screensaver;
    ParameterString text;
    uint32_t textX = 90;
    uint32_t textY = 10;
    int32_t stepX = 1;
    int32_t stepY = 1;
    std::array<Particle, kParticles> particles;

private:
    // Its own generators: the shared ones belong to the audio thread.
    uint32_t _random();
    float _noise();  // [-1, 1)
    float _speed() { return std::abs(0.2f + 3.0f * _noise()); }

    uint64_t state_ = 0x2545F4914F6CDD1DULL;
};

namespace GUI {
extern Screensaver screensaver;
}
