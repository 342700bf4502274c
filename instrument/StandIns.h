// The least the instrument core needs of services whose own classes are
// built elsewhere: the network settings with the OSC receiver, the self test, the screensaver and the file browser's
// "last project". Each keeps the interface the core calls, so that the real
// class replaces it without a change to the core. Their state is readable by
// tests (messages received, the recorded SSH command).
#pragma once

#include "parameters/ParameterInt.h"
#include "parameters/ParameterString.h"
#include "platform/Osc.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class MonoGFX;
struct MidiMessage;
struct BelaContext;

// Network settings and the OSC receiver and sender. The receiver listens on
// "OSC in port" on the host's OSC listen address (loopback by default).
class Network {
public:
    Network();
    void applySettings();
    void readNetworkAddresses();
    // The service command is recorded and printed; on this host it is never run.
    void setSshRootLogin();
    void stop();
    const std::string& lastServiceCommand() const { return serviceCommand_; }
    bool receiving() const { return receiver_ && receiver_->isOk(); }
    int receivingPort() const { return receiver_ ? receiver_->port() : 0; }
    std::atomic<uint32_t> messagesReceived{0};

    ParameterString hostnameIP;
    ParameterString ethernetIPv4;
    ParameterString ethernetIPv6;
    ParameterInt sshRootLogin;
    ParameterInt oscInPort;
    ParameterString oscOutIP;
    ParameterInt oscOutPort;

private:
    std::unique_ptr<OscReceiver> receiver_;
    std::unique_ptr<OscSender> sender_;
    int appliedInPort_ = -1;
    std::string serviceCommand_;
};

// The factory self test: idle (state 10) until its own page starts one.
class SelfTest {
public:
    static constexpr uint32_t kIdle = 10;
    bool running() const { return state.load(std::memory_order_acquire) != kIdle; }
    void midiReceived(const MidiMessage&) {}
    void processBlock(BelaContext*, uint32_t*) {}
    void ledLevels(float*) {}
    std::atomic<uint32_t> state{kIdle};
};

namespace Driver {
extern Network network;
extern SelfTest selfTest;
}  // namespace Driver
