// Test face of the platform: stepped mode and simulated devices.
//
// With settings.mode == HostMode::Stepped, Bela_initAudio builds the context
// and calls setup, but nothing renders until a test steps. Auxiliary tasks are
// not threads then: a schedule marks the task pending and the stepper runs the
// pending tasks synchronously after the block that scheduled them.
#pragma once

#include "platform/Context.h"

#include <cstdint>

namespace host {

// Renders `blocks` blocks on the calling thread (which counts as the audio
// thread meanwhile); after each, runs the pending tasks when runTasks is set.
void stepBlocks(uint32_t blocks = 1, bool runTasks = true);

// Runs every pending task once, in order of creation.
void runPendingTasks();

// The context of the current run (valid between init and cleanup).
BelaContext* context();

// Writable input buffer of the context, interleaved like audioIn.
float* audioInBuffer();

// Blocks rendered since init.
uint64_t blocksRendered();

// A device on the digital pins. beforeRender fills the input pins of the
// block about to be rendered; afterRender sees what render wrote.
class DigitalDevice {
public:
    virtual ~DigitalDevice() = default;
    virtual void beforeRender(uint32_t* digital, uint32_t frames) {}
    virtual void afterRender(const uint32_t* digital, uint32_t frames) {}
};
// Attach before audio starts; detach after it has stopped.
void attachDigitalDevice(DigitalDevice* device);
void detachDigitalDevice(DigitalDevice* device);

}  // namespace host
