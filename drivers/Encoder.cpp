#include "drivers/Encoder.h"

namespace {
constexpr uint32_t kForgetAfter = 500;
}

int32_t Encoder::update(uint32_t a, uint32_t b, int32_t push) {
    a = a ? 1u : 0u;
    b = b ? 1u : 0u;
    if (idleCalls_ > kForgetAfter)
        partial_ = 0;
    if (a != lastA_) {
        partial_ += a != b ? 1 : -1;
        idleCalls_ = 1;
    } else if (b != lastB_) {
        partial_ += a != b ? -1 : 1;
        idleCalls_ = 1;
    } else if (idleCalls_ != UINT32_MAX) {
        ++idleCalls_;
    }
    lastA_ = a;
    lastB_ = b;

    int32_t step = 0;
    if (partial_ == 2) {
        step = 1;
        partial_ = 0;
    } else if (partial_ == -2) {
        step = -1;
        partial_ = 0;
    }

    if (push > 0) {
        pressed_ = true;
        pressEdge_ = !previouslyPressed_;
    } else {
        pressed_ = false;
        pressEdge_ = false;
    }
    previouslyPressed_ = pressed_;
    return step;
}
