#include "platform/devices/PanelSimulator.h"

#include "platform/devices/Board.h"

#include <cstdio>

namespace host {

namespace {

// The board's wiring.
constexpr uint32_t kKeyLoadPin = 0;
constexpr uint32_t kClockPin = 1;
constexpr uint32_t kKeyDataPin = 2;
constexpr uint32_t kEncoderLoadPin = 8;
constexpr uint32_t kEncoderDataPins[4] = {5, 9, 12, 13};
// Converter readings of a track button let go and pressed.
constexpr uint32_t kButtonUp = 0;
constexpr uint32_t kButtonDown = 1023;
// Chain bit of each encoder's push switch, by the encoder's place in its chain.
constexpr uint32_t kPushBit[8] = {17, 16, 23, 22, 18, 19, 20, 21};

// Line levels of one frame, as the chips see them.
constexpr uint8_t kKeyLoadHigh = 1, kClockHigh = 2, kEncoderLoadHigh = 4;
constexpr uint8_t kIdleLines = kKeyLoadHigh | kEncoderLoadHigh;

// Bits of a chain in the order they reach the data pin: bit i is input
// 7 - i % 8 of the (i / 8)-th register counted from the pin. Key k sits on
// input k % 8 of register (k / 8 + 4) % 8: the scan reads the first half of
// the chain in its second block (see the header).
constexpr uint32_t keyChainBit(uint32_t key) { return 8 * ((key / 8 + 4) % 8) + 7 - key % 8; }

bool isInput(uint32_t word, uint32_t pin) { return (word >> pin) & 1u; }
bool level(uint32_t word, uint32_t pin) { return (word >> (16 + pin)) & 1u; }

PanelSimulator gPanel;

}  // namespace

void PanelSimulator::setKey(uint32_t key, bool down) {
    if (key >= kKeys)
        return;
    if (down)
        keys_.fetch_or(1ull << key, std::memory_order_relaxed);
    else
        keys_.fetch_and(~(1ull << key), std::memory_order_relaxed);
}

bool PanelSimulator::keyDown(uint32_t key) const {
    return key < kKeys && ((keys_.load(std::memory_order_relaxed) >> key) & 1u);
}

void PanelSimulator::turnEncoder(uint32_t encoder, int32_t detents) {
    constexpr int32_t kLimit = 1 << 20;
    if (encoder >= kEncoders)
        return;
    detents = detents < -kLimit ? -kLimit : detents > kLimit ? kLimit : detents;
    target_[encoder].fetch_add(4 * detents, std::memory_order_relaxed);
}

int32_t PanelSimulator::turnPending(uint32_t encoder) const {
    if (encoder >= kEncoders)
        return 0;
    return target_[encoder].load(std::memory_order_relaxed) - position_[encoder].load(std::memory_order_relaxed);
}

void PanelSimulator::setPush(uint32_t encoder, bool down) {
    if (encoder >= kEncoders)
        return;
    if (down)
        pushes_.fetch_or(1u << encoder, std::memory_order_relaxed);
    else
        pushes_.fetch_and(~(1u << encoder), std::memory_order_relaxed);
}

bool PanelSimulator::pushed(uint32_t encoder) const {
    return encoder < kEncoders && ((pushes_.load(std::memory_order_relaxed) >> encoder) & 1u);
}

void PanelSimulator::reset() {
    keys_ = 0;
    pushes_ = 0;
    for (uint32_t e = 0; e < kEncoders; ++e) {
        target_[e] = 0;
        position_[e] = 0;
    }
    script_.clear();
    nextEvent_ = 0;
    block_ = 0;
    driven_ = false;
    for (auto& lines : lines_)
        lines = kIdleLines;
    lastClock_ = false;
    lastEncoderLoad_ = true;
    keyChain_ = ~0ull;
    for (auto& chain : encoderChain_)
        chain = ~0u;
}

void PanelSimulator::setScript(std::vector<PanelEvent> events) {
    script_ = std::move(events);
    nextEvent_ = 0;
}

void PanelSimulator::setTrackButton(uint32_t track, bool down) {
    if (track >= kTrackButtons)
        return;
    // Button t is channel 3t of the sixteen; pressed, it pulls the channel up.
    const uint32_t channel = 3 * track;
    board().adc(channel / 8).setReading(channel % 8, down ? kButtonDown : kButtonUp);
}

void PanelSimulator::_apply(const PanelEvent& event) {
    switch (event.kind) {
    case PanelEvent::KeyDown: setKey(event.index, true); break;
    case PanelEvent::KeyUp: setKey(event.index, false); break;
    case PanelEvent::EncoderTurn: turnEncoder(event.index, event.detents); break;
    case PanelEvent::PushDown: setPush(event.index, true); break;
    case PanelEvent::PushUp: setPush(event.index, false); break;
    case PanelEvent::TrackDown: setTrackButton(event.index, true); break;
    case PanelEvent::TrackUp: setTrackButton(event.index, false); break;
    }
}

uint64_t PanelSimulator::_keyInputs() const {
    // Keys pull their input low; unused inputs are pulled high.
    const uint64_t down = keys_.load(std::memory_order_relaxed);
    uint64_t bits = ~0ull;
    for (uint32_t k = 0; k < kKeys; ++k)
        if ((down >> k) & 1u)
            bits &= ~(1ull << keyChainBit(k));
    return bits;
}

uint32_t PanelSimulator::_encoderInputs(uint32_t chain) const {
    const uint32_t pushes = pushes_.load(std::memory_order_relaxed);
    uint32_t bits = ~0u;
    for (uint32_t j = 0; j < 8; ++j) {
        const uint32_t e = 8 * chain + j;
        // Contacts in Gray code: (A, B) = (0,0) (1,0) (1,1) (0,1) going up.
        const uint32_t phase = uint32_t(position_[e].load(std::memory_order_relaxed)) & 3u;
        const uint32_t a = phase == 1 || phase == 2;
        const uint32_t b = phase == 2 || phase == 3;
        bits = (bits & ~(3u << (2 * j))) | (a << (2 * j)) | (b << (2 * j + 1));
        if ((pushes >> e) & 1u)
            bits &= ~(1u << kPushBit[j]);  // the switch pulls low
    }
    return bits;
}

void PanelSimulator::beforeRender(uint32_t* digital, uint32_t frames) {
    while (nextEvent_ < script_.size() && script_[nextEvent_].block <= block_)
        _apply(script_[nextEvent_++]);
    ++block_;
    if (!driven_)
        return;  // nothing drives the chains: leave the pins alone

    for (uint32_t f = 0; f < frames; ++f) {
        const uint8_t lines = f < kMaxFrames ? lines_[f] : kIdleLines;
        const bool clock = lines & kClockHigh;
        const bool rising = clock && !lastClock_;
        lastClock_ = clock;

        if (!(lines & kKeyLoadHigh))
            keyChain_ = _keyInputs();
        else if (rising)
            keyChain_ = (keyChain_ >> 1) | (1ull << 63);  // serial input pulled high

        const bool encoderLoad = lines & kEncoderLoadHigh;
        if (!encoderLoad) {
            if (lastEncoderLoad_) {
                // The knobs move between two latches, one edge at a time.
                for (uint32_t e = 0; e < kEncoders; ++e) {
                    const int32_t at = position_[e].load(std::memory_order_relaxed);
                    const int32_t to = target_[e].load(std::memory_order_relaxed);
                    if (at != to)
                        position_[e].store(at < to ? at + 1 : at - 1, std::memory_order_relaxed);
                }
            }
            for (uint32_t c = 0; c < 4; ++c)
                encoderChain_[c] = _encoderInputs(c);
        } else if (rising) {
            for (auto& chain : encoderChain_)
                chain = (chain >> 1) | (1u << 31);
        }
        lastEncoderLoad_ = encoderLoad;

        uint32_t word = digital[f];
        auto drive = [&](uint32_t pin, bool high) {
            if (!isInput(word, pin))
                return;
            word = high ? word | (1u << (16 + pin)) : word & ~(1u << (16 + pin));
        };
        drive(kKeyDataPin, keyChain_ & 1u);
        for (uint32_t c = 0; c < 4; ++c)
            drive(kEncoderDataPins[c], encoderChain_[c] & 1u);
        digital[f] = word;
    }
}

void PanelSimulator::afterRender(const uint32_t* digital, uint32_t frames) {
    for (uint32_t f = 0; f < frames && f < kMaxFrames; ++f) {
        const uint32_t word = digital[f];
        // Lines not driven by the firmware rest at their pull-ups.
        uint8_t lines = 0;
        if (isInput(word, kKeyLoadPin) || level(word, kKeyLoadPin))
            lines |= kKeyLoadHigh;
        if (!isInput(word, kClockPin) && level(word, kClockPin))
            lines |= kClockHigh;
        if (isInput(word, kEncoderLoadPin) || level(word, kEncoderLoadPin))
            lines |= kEncoderLoadHigh;
        if (!isInput(word, kKeyLoadPin) || !isInput(word, kEncoderLoadPin))
            driven_ = true;
        lines_[f] = lines;
    }
}

PanelSimulator& panel() { return gPanel; }

bool panelStart(const std::string& scriptPath) {
    gPanel.reset();
    if (!scriptPath.empty()) {
        std::vector<PanelEvent> events;
        std::string error;
        if (!loadPanelScript(scriptPath, events, error)) {
            fprintf(stderr, "Panel script %s: %s\n", scriptPath.c_str(), error.c_str());
            return false;
        }
        gPanel.setScript(std::move(events));
    }
    attachDigitalDevice(&gPanel);
    return true;
}

void panelStop() { detachDigitalDevice(&gPanel); }

}  // namespace host
