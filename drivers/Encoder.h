// Quadrature decoder of one push-encoder, fed once per block with its A, B
// and push levels.
#pragma once

#include <array>
#include <cstdint>

class Encoder {
public:
    // Returns +1, -1 or 0; one detent (four edges) gives two steps. A half
    // turn left standing is forgotten after 500 calls without an edge.
    int32_t update(uint32_t a, uint32_t b, int32_t push);

    bool pressed() const { return pressed_; }
    // Pressed on this call and not on the one before.
    bool pressEdge() const { return pressEdge_; }

private:
    uint32_t lastA_ = 0;
    uint32_t lastB_ = 0;
    int32_t partial_ = 0;
    uint32_t idleCalls_ = 0;
    bool pressed_ = false;
    bool pressEdge_ = false;
    bool previouslyPressed_ = false;
};

namespace Key {
constexpr uint32_t kNumEncoders = 32;
extern std::array<Encoder, kNumEncoders> encoder;
}  // namespace Key
