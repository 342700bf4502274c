// The front panel at pin level: the key chain and the four encoder chains of
// parallel-in shift registers, answering the load and clock lines that the
// firmware drives with the bits of a panel state that tests and the panel
// script set.
//
// Timing, as on the board: the pin levels that render writes into frame f
// of a block reach the chips during frame f of the next block, and the data
// pins of that frame are sampled after the chips have reacted (a low load
// line latches the parallel inputs; a rising clock with the load line high
// shifts the chain by one bit). So a scan started in one block answers in
// the next: the encoder chains one block late, and the two-block key scan
// with its halves swapped, which the key wiring below accounts for.
#pragma once

#include "platform/Stepped.h"
#include "platform/devices/PanelScript.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace host {

class PanelSimulator : public DigitalDevice {
public:
    static constexpr uint32_t kKeys = 60;
    static constexpr uint32_t kEncoders = 32;
    static constexpr uint32_t kClickBlocks = 8;
    static constexpr uint32_t kTrackButtons = 5;

    // Panel state; safe from any thread.
    void setKey(uint32_t key, bool down);
    void pressKey(uint32_t key) { setKey(key, true); }
    void releaseKey(uint32_t key) { setKey(key, false); }
    bool keyDown(uint32_t key) const;
    // Turns by whole detents (four quadrature edges each; negative turns the
    // other way). The knob moves one edge per latch of its chain.
    void turnEncoder(uint32_t encoder, int32_t detents);
    // Edges the knob still has to move to finish the turns asked of it.
    int32_t turnPending(uint32_t encoder) const;
    void setPush(uint32_t encoder, bool down);
    bool pushed(uint32_t encoder) const;
    // Track-select buttons 0..4: analog, read through the board's converters.
    void setTrackButton(uint32_t track, bool down);

    // Everything at rest, the chains idle, no script.
    void reset();
    // Events to play from block 0 of the run (set before audio starts).
    void setScript(std::vector<PanelEvent> events);

    void beforeRender(uint32_t* digital, uint32_t frames) override;
    void afterRender(const uint32_t* digital, uint32_t frames) override;

private:
    static constexpr uint32_t kMaxFrames = 1024;

    void _apply(const PanelEvent& event);
    uint64_t _keyInputs() const;
    uint32_t _encoderInputs(uint32_t chain) const;

    std::atomic<uint64_t> keys_{0};
    std::atomic<uint32_t> pushes_{0};
    std::atomic<int32_t> target_[kEncoders] = {};
    std::atomic<int32_t> position_[kEncoders] = {};

    // Audio thread only.
    std::vector<PanelEvent> script_;
    size_t nextEvent_ = 0;
    uint64_t block_ = 0;
    bool driven_ = false;  // the firmware has driven a load line
    uint8_t lines_[kMaxFrames] = {};
    bool lastClock_ = false;
    bool lastEncoderLoad_ = true;
    uint64_t keyChain_ = ~0ull;
    uint32_t encoderChain_[4] = {~0u, ~0u, ~0u, ~0u};
};

// The panel of the run.
PanelSimulator& panel();

// Audio lifecycle: reset the panel, load the script (when a path is given)
// and attach the panel to the digital pins; false with a message on
// standard error when the script cannot be used.
bool panelStart(const std::string& scriptPath);
void panelStop();

}  // namespace host
