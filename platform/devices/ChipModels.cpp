#include "platform/devices/ChipModels.h"

namespace host {

void Mcp3008Model::powerOn() {
    // Of the 16 channels of both converters, 3t is track t's button (0 =
    // released) and 3t+1, 3t+2 its knobs (mid-way); the last one is unused.
    for (unsigned c = 0; c < 8; ++c) {
        unsigned n = index_ * 8 + c;
        reading_[c].store((n % 3 == 0 || n == 15) ? 0 : 512, std::memory_order_relaxed);
    }
    noise_ = 0;
    differential_ = 0;
}

void Mcp3008Model::transfer(const uint8_t* tx, uint8_t* rx, size_t length) {
    if (length < 3 || !(tx[0] & 1))
        return;  // no start bit: the chip stays silent
    uint32_t value;
    if (tx[1] & 0x80) {
        value = reading_[(tx[1] >> 4) & 7].load(std::memory_order_relaxed);
        if (noise_) {
            seed_ ^= seed_ << 13, seed_ ^= seed_ >> 17, seed_ ^= seed_ << 5;
            int v = int(value) + int(seed_ % (2 * noise_ + 1)) - int(noise_);
            value = uint32_t(v < 0 ? 0 : v > 1023 ? 1023 : v);
        }
    } else {
        ++differential_;
        value = kDifferentialAnswer;
    }
    rx[1] = uint8_t((value >> 8) & 3);
    rx[2] = uint8_t(value & 0xFF);
}

void Is31fl3236aModel::powerOn() {
    reg_.fill(0);
    outputPwm_.fill(0);
    outputControl_.fill(0);
}

bool Is31fl3236aModel::write(const uint8_t* data, size_t length) {
    if (length == 0)
        return false;
    unsigned r = data[0];
    for (size_t i = 1; i < length; ++i, ++r) {
        if (r >= kRegisters)
            return false;  // the chip does not acknowledge past its registers
        if (r == 0x25) {
            for (unsigned c = 0; c < 36; ++c) {
                outputPwm_[c] = reg_[0x01 + c];
                outputControl_[c] = reg_[0x26 + c];
            }
            ++latches_;
        } else if (r == 0x4F) {
            powerOn();
        } else {
            reg_[r] = data[i];
        }
    }
    return true;
}

void CodecModel::powerOn() {
    reg.fill(0);
    reg[0x01] = 0x04;  // chip id and revision
    writes.clear();
    pointer_ = 0;
}

bool CodecModel::write(const uint8_t* data, size_t length) {
    if (length == 0)
        return false;
    pointer_ = data[0];
    for (size_t i = 1; i < length; ++i) {
        reg[pointer_] = data[i];
        writes.emplace_back(pointer_, data[i]);
        ++pointer_;
    }
    return true;
}

bool CodecModel::read(uint8_t* data, size_t length) {
    for (size_t i = 0; i < length; ++i)
        data[i] = reg[pointer_++];
    return true;
}

}  // namespace host
