#include "instrument/StandIns.h"

#include "gui/MonoGFX.h"
#include "instrument/InstrumentState.h"
#include "platform/RtPrintf.h"

#include <unistd.h>

#include <cstdio>

Network::Network()
    : hostnameIP("hostname IP", ParameterString::Text, Locked, "-"),
      ethernetIPv4("ethernet IPv4", ParameterString::Text, Locked, "-"),
      ethernetIPv6("ethernet IPv6", ParameterString::Text, Locked, "-"),
      sshRootLogin("SSH root login", ParameterInt::ChoiceMode, Stored, 0, 0, 1),
      oscInPort("OSC in port", ParameterInt::PlainInt, Stored, 909, 1, 65535),
      oscOutIP("OSC out IP", ParameterString::Address, Stored, "192.168.7.1"),
      oscOutPort("OSC out port", ParameterInt::PlainInt, Stored, 910, 0, 65535) {
    sshRootLogin.setChoices({"false", "true"});
}

void Network::applySettings() {
    const int port = oscInPort.value.load(std::memory_order_relaxed);
    if (port != appliedInPort_) {
        if (!receiver_)
            receiver_ = std::make_unique<OscReceiver>();
        if (receiver_->setup(port, [this](oscpkt::Message*, const char*, void*) {
                messagesReceived.fetch_add(1, std::memory_order_relaxed);
                Driver::instrument.idleCounter.store(0, std::memory_order_relaxed);
            }))
            printf("OSC: listening on %s:%d\n", host::oscListenAddress().c_str(), receiver_->port());
        appliedInPort_ = port;
    }
    if (!sender_)
        sender_ = std::make_unique<OscSender>();
    sender_->setup(oscOutPort.value.load(std::memory_order_relaxed), oscOutIP.toString());
}

void Network::readNetworkAddresses() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) == 0)
        hostnameIP.setFromString(name);
}

void Network::setSshRootLogin() {
    serviceCommand_ = sshRootLogin.value.load() ? "enable-root-ssh" : "disable-root-ssh";
    printf("Network: would run \"%s\" (not on this host)\n", serviceCommand_.c_str());
}

void Network::stop() {
    if (receiver_)
        receiver_->stop();
    appliedInPort_ = -1;
}
