// A capacitive touch sensor on I2C. On the host the sensors are simulated
// (devices/Board.h) and answer with the touches a test or script sets.
#pragma once

#include <cstdint>

class Trill {
public:
    enum Device { NONE = -1, UNKNOWN = 0, BAR = 1, SQUARE = 2, CRAFT = 3, RING = 4, HEX = 5, FLEX = 6 };
    static constexpr unsigned kMaxTouches = 5;

    // 0 on success, non-zero when no sensor of that type answers.
    int setup(unsigned bus, Device device, uint8_t address);
    bool ready() const { return address_ != 0; }
    int setNoiseThreshold(float threshold);
    int updateBaseline();
    // Reads the touches from the sensor; 0 on success.
    int readI2C();

    unsigned getNumTouches() const { return vertical_; }
    unsigned getNumHorizontalTouches() const { return horizontal_; }
    float compoundTouchLocation() const { return y_; }
    float compoundTouchHorizontalLocation() const { return x_; }

private:
    unsigned bus_ = 0;
    uint8_t address_ = 0;
    unsigned vertical_ = 0;
    unsigned horizontal_ = 0;
    float x_ = 0.0f;
    float y_ = 0.0f;
};
