// Small chip models of the board: the analog converter, the LED driver, the
// touch sensor and the codec, each at its bus interface.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace host {

// 8-channel 10-bit converter: a 3-byte frame {start, SGL/DIFF + channel, 0}.
class Mcp3008Model {
public:
    explicit Mcp3008Model(unsigned index = 0) : index_(index) { powerOn(); }
    void powerOn();
    // Any thread (the panel sets the track buttons from the audio thread).
    void setReading(unsigned channel, uint32_t value) {
        reading_[channel & 7].store(value & 1023, std::memory_order_relaxed);
    }
    void setNoise(uint32_t lsb) { noise_ = lsb; }
    void transfer(const uint8_t* tx, uint8_t* rx, size_t length);
    unsigned differentialRequests() const { return differential_; }
    static constexpr uint32_t kDifferentialAnswer = 0x2AA;  // never a set reading of the tests

private:
    unsigned index_;
    std::array<std::atomic<uint32_t>, 8> reading_{};
    uint32_t noise_ = 0;
    uint32_t seed_ = 1;
    unsigned differential_ = 0;
};

// 36-channel PWM LED driver: a register file with auto-increment; 0x25
// latches PWM and control into the outputs, 0x4F resets, 0x00 bit 0 = on.
class Is31fl3236aModel {
public:
    Is31fl3236aModel() { powerOn(); }
    void powerOn();
    bool write(const uint8_t* data, size_t length);
    uint8_t pwm(unsigned channel) const { return outputPwm_[channel % 36]; }
    uint8_t control(unsigned channel) const { return outputControl_[channel % 36]; }
    uint8_t reg(unsigned r) const { return reg_[r % kRegisters]; }
    bool shutdown() const { return (reg_[0] & 1) == 0; }
    unsigned latches() const { return latches_; }

private:
    static constexpr unsigned kRegisters = 0x50;
    std::array<uint8_t, kRegisters> reg_{};
    std::array<uint8_t, 36> outputPwm_{}, outputControl_{};
    unsigned latches_ = 0;
};

// Square touch sensor: settable touches; records threshold and baselines.
class TrillModel {
public:
    void setTouch(unsigned vertical, unsigned horizontal, float x, float y) {
        vertical_ = vertical; horizontal_ = horizontal; x_ = x; y_ = y;
    }
    void lift() { vertical_ = horizontal_ = 0; }
    unsigned vertical_ = 0, horizontal_ = 0;
    float x_ = 0.0f, y_ = 0.0f;  // compound horizontal / vertical locations
    float noiseThreshold = -1.0f;
    unsigned baselines = 0, reads = 0;
};

// Codec register file with a write log; reads answer the file.
class CodecModel {
public:
    CodecModel() { powerOn(); }
    void powerOn();
    bool write(const uint8_t* data, size_t length);
    bool read(uint8_t* data, size_t length);
    std::array<uint8_t, 256> reg{};
    std::vector<std::pair<uint8_t, uint8_t>> writes;

private:
    uint8_t pointer_ = 0;
};

}  // namespace host
