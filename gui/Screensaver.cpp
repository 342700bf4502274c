#include "gui/Screensaver.h"

#include "gui/MonoGFX.h"

#include <cmath>
#include <string>

namespace {
constexpr const char* kTimeoutName = "screensaver";
constexpr const char* kTextName = "screensaver text";
constexpr const char* kDefaultText = "Touch/press anything to wake up";
}  // namespace

Screensaver::Screensaver()
    : screensaver(kTimeoutName, ParameterInt::ChoiceMode, Stored, 3, 0, 3),
      text(kTextName, ParameterString::Text, Stored, kDefaultText) {
    screensaver.setChoicesWithValues({"disabled", "10 sec", "30 sec", "1 min"}, {0, 10, 30, 60}, 3);
    screensaver.defaultValue = 3;
    particles.fill(Particle{-1.0f, -1.0f, 0.0f, 1.0f});
}

uint32_t Screensaver::_random() {
    // The 64-bit linear congruential step; its high half is the number.
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return uint32_t(state_ >> 32);
}

float Screensaver::_noise() { return float(int32_t(_random())) * 4.656612873077393e-10f; }

int32_t Screensaver::seconds() const {
    const int32_t index = screensaver.value.load(std::memory_order_relaxed);
    const auto list = screensaver.getChoices();
    if (!list || index < 0 || size_t(index) >= list->values.size())
        return 0;
    return list->values[size_t(index)];
}

bool Screensaver::isDue(uint32_t idleBlocks, bool clockRunning) const {
    const int32_t s = seconds();
    return s > 0 && !clockRunning && uint64_t(idleBlocks) > uint64_t(kBlocksPerSecond) * uint64_t(s);
}

void Screensaver::launchParticle(Particle& p, int side) {
    const float s = _speed();
    switch (side) {
    case 0: p.vx = s, p.vy = 0.0f; break;
    case 1: p.vx = 0.0f, p.vy = s; break;
    case 2: p.vx = -s, p.vy = 0.0f; break;
    default: p.vx = 0.0f, p.vy = -s; break;
    }
}

void Screensaver::stepParticle(Particle& p, MonoGFX& window) {
    p.x += p.vx;
    p.y += p.vy;
    if (p.y < 0.0f) {
        p.y = 63.0f, p.x = float(_random() & 255), p.vy = -_speed();
    } else if (p.y >= 64.0f) {
        p.y = 0.0f, p.x = float(_random() & 255), p.vy = _speed();
    } else if (p.x < 0.0f) {
        p.x = 255.0f, p.y = float(_random() & 63), p.vx = -_speed();
    } else if (p.x >= 256.0f) {
        p.x = 0.0f, p.y = float(_random() & 63), p.vx = _speed();
    }
    window.setPixel(int(p.x), int(p.y));
}

void Screensaver::draw(MonoGFX& window) {
    window.clear();
    window.setColour(2);
    for (Particle& p : particles)
        stepParticle(p, window);
    const std::string message = text.toString();
    window.setFont(&font_default, 1, 0);
    window.setTextMode(2);
    window.setColour(8);
    const int32_t half = window.textWidth(message) / 2;
    window.drawText(int(textX), int(textY), message);
    window.setTextMode(0);
    textX += uint32_t(stepX);
    textY += uint32_t(stepY);
    if (int64_t(textX) >= 256 - half) {
        for (Particle& p : particles)
            launchParticle(p, 2);
        stepX = -stepX;
    }
    if (half >= int32_t(textX)) {
        for (Particle& p : particles)
            launchParticle(p, 0);
        stepX = -stepX;
    }
    if (int32_t(textY) > 55) {
        for (Particle& p : particles)
            launchParticle(p, 3);
        stepY = -stepY;
    }
    if (int32_t(textY) <= 0) {
        for (Particle& p : particles)
            launchParticle(p, 1);
        stepY = -stepY;
    }
}
