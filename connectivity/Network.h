// The network-facing settings (addresses shown, OSC ports and address, root
// log-in over SSH) as ordinary parameters, and the OSC receiver and sender
// they configure. Called from the interface task and from set-up only.
#pragma once

#include "parameters/ParameterInt.h"
#include "parameters/ParameterString.h"
#include "platform/Osc.h"

#include <memory>
#include <string>

class Network {
public:
    static constexpr const char* kSshConfig = "/etc/ssh/sshd_config";
    static constexpr const char* kSshConfigNew = "/etc/ssh/sshd_config.new";
    static constexpr const char* kSshCommand =
        "sudo mv /etc/ssh/sshd_config.new /etc/ssh/sshd_config && sudo systemctl restart sshd";
    static constexpr const char* kNotConnected = "not connected...";

    Network();
    ~Network();
    Network(const Network&) = delete;
    Network& operator=(const Network&) = delete;

    // (Re)creates the receiver when "OSC in port" changed and the sender when
    // "OSC out port" or "OSC out IP" changed.
    void applyOscSettings();
    void applySettings() { applyOscSettings(); }
    // Rewrites the SSH daemon's configuration for "SSH root login" and
    // restarts it. False when the file could not be rewritten or installed;
    // the setting then shows the last applied value (off when none was).
    bool setSshRootLogin();
    // Fills "ethernet IPv4", "ethernet IPv6" and "hostname IP".
    void readNetworkAddresses();
    // Stops the receiver (at exit, before the objects it calls go).
    void stop();

    int appliedInPort() const { return appliedInPort_; }
    int appliedOutPort() const { return appliedOutPort_; }
    int32_t appliedSshRootLogin() const { return appliedSsh_; }
    // The receiver's bound port, 0 when it is not listening.
    int receivingPort() const { return receiver_ && receiver_->isOk() ? receiver_->port() : 0; }
    // Receivers and senders created so far.
    uint32_t receiversCreated() const { return receiversCreated_; }
    uint32_t sendersCreated() const { return sendersCreated_; }

    ParameterString hostnameIP;
    ParameterString ethernetIPv4;
    ParameterString ethernetIPv6;
    ParameterInt oscInPort;
    ParameterInt oscOutPort;
    ParameterString oscOutIP;
    ParameterString oscvIP;
    ParameterInt oscvPort;
    ParameterInt sshRootLogin;

private:
    // Writes the new configuration; false on any failed read or write
    // (".new" is then removed). changed: a line was replaced by another.
    bool _writeSshConfig(bool enable, bool& changed);

    int appliedInPort_ = 0;
    int appliedOutPort_ = 0;
    std::string appliedOutAddress_;
    int32_t appliedSsh_ = -1;
    std::unique_ptr<OscSender> sender_;
    std::unique_ptr<OscReceiver> receiver_;
    uint32_t receiversCreated_ = 0;
    uint32_t sendersCreated_ = 0;
};

namespace Driver {
extern Network network;
}  // namespace Driver
