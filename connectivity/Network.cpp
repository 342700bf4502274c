#include "connectivity/Network.h"

#include "connectivity/OscRouter.h"
#include "gui/GuiNotify.h"
#include "platform/HostSystem.h"
#include "platform/Paths.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
constexpr const char* kPermitRootLogin = "PermitRootLogin";
constexpr size_t kHostNameBytes = 64;
}  // namespace

Network::Network()
    : hostnameIP("hostname IP", ParameterString::Text, Locked, ""),
      // Shown, never edited: as text, so that "none" reads empty and the
      // expander's state can read "not connected..." (an address field
      // would show its fallback address instead).
      ethernetIPv4("ethernet IPv4", ParameterString::Text, Locked, ""),
      ethernetIPv6("ethernet IPv6", ParameterString::Text, Locked, ""),
      oscInPort("OSC in port", ParameterInt::PlainInt, Stored, 909, 1, 65535),
      oscOutPort("OSC out port", ParameterInt::PlainInt, Stored, 910, 1, 65535),
      oscOutIP("OSC out IP", ParameterString::Address, Stored, "192.168.7.1"),
      oscvIP("OSCV IP", ParameterString::Text, Locked, ""),
      oscvPort("OSCV port", ParameterInt::PlainInt, Locked, 707),
      sshRootLogin("SSH root login", ParameterInt::ChoiceMode, Stored, 0) {
    sshRootLogin.setChoices({"false", "true"});
}

Network::~Network() { stop(); }

void Network::stop() {
    receiver_.reset();
    sender_.reset();
    // Nothing is applied any more: the next set-up opens its sockets again.
    appliedInPort_ = 0;
    appliedOutPort_ = 0;
    appliedOutAddress_.clear();
}

void Network::applyOscSettings() {
    const int inPort = oscInPort.value.load();
    if (inPort != appliedInPort_) {
        // One socket at a time: the old one is closed before the new binds.
        receiver_.reset();
        receiver_ = std::make_unique<OscReceiver>();
        if (receiver_->setup(inPort, on_receive, nullptr))
            printf("OSC: listening on %s:%d\n", host::oscListenAddress().c_str(), receiver_->port());
        ++receiversCreated_;
        appliedInPort_ = inPort;
    }
    const int outPort = oscOutPort.value.load();
    const std::string outAddress = oscOutIP.toString();
    if (outPort == appliedOutPort_ && outAddress == appliedOutAddress_)
        return;
    sender_.reset();
    sender_ = std::make_unique<OscSender>();
    sender_->setup(outPort, outAddress);
    ++sendersCreated_;
    appliedOutPort_ = outPort;
    appliedOutAddress_ = outAddress;
}

bool Network::_writeSshConfig(bool enable, bool& changed) {
    const std::string sourcePath = host::hostPath(kSshConfig);
    const std::string newPath = host::hostPath(kSshConfigNew);
    FILE* in = fopen(sourcePath.c_str(), "r");
    if (!in)
        return false;
    FILE* out = fopen(newPath.c_str(), "w");
    if (!out) {
        fclose(in);
        return false;
    }
    const char* replacement = enable ? "PermitRootLogin yes" : "PermitRootLogin no";
    bool ok = true;
    char* line = nullptr;
    size_t capacity = 0;
    ssize_t length;
    changed = false;
    while (ok && (length = getline(&line, &capacity, in)) >= 0) {
        std::string text(line, size_t(length));
        if (!text.empty() && text.back() == '\n')
            text.pop_back();
        // A file with CRLF line ends keeps them.
        const bool carriageReturn = !text.empty() && text.back() == '\r';
        if (carriageReturn)
            text.pop_back();
        if (text.rfind(kPermitRootLogin, 0) == 0) {
            changed = changed || text != replacement;
            text = replacement;
        }
        text += carriageReturn ? "\r\n" : "\n";
        ok = fwrite(text.data(), 1, text.size(), out) == text.size();
    }
    free(line);
    // A read that stopped on an error is not the end of the file.
    ok = ok && !ferror(in);
    fclose(in);
    ok = fflush(out) == 0 && ok;
    ok = fclose(out) == 0 && ok;
    if (!ok)
        remove(newPath.c_str());
    return ok;
}

bool Network::setSshRootLogin() {
    const int32_t wanted = sshRootLogin.value.load();
    if (wanted == appliedSsh_)
        return true;
    bool changed = false;
    if (!_writeSshConfig(wanted != 0, changed)) {
        // Never "on" because of a failure: off when nothing was applied yet.
        sshRootLogin.setValue(appliedSsh_ < 0 ? 0 : appliedSsh_, false);
        printf("Could not edit SSH config\n");
        return false;
    }
    if (!changed) {
        remove(host::hostPath(kSshConfigNew).c_str());
    } else {
        if (host::runCommand(kSshCommand) != 0) {
            printf("Failed system call to change SSH settings\n");
            return false;
        }
        if (wanted) {
            Driver::guiNotify.notify("SSH root login enabled. Be very careful with this!", 0, GuiNotify::kWarning);
            printf("SSH root login enabled!\n");
        } else {
            Driver::guiNotify.info("SSH root login disabled");
            printf("SSH root login disabled!\n");
        }
    }
    appliedSsh_ = wanted;
    return true;
}

void Network::readNetworkAddresses() {
    std::string v4, v6;
    if (host::interfaceAddresses(v4, v6)) {
        if (!v4.empty())
            printf("Self IPv4 [%s]\n", v4.c_str());
        if (!v6.empty())
            printf("Self IPv6 [%s]\n", v6.c_str());
        ethernetIPv4.setFromString(v4);
        ethernetIPv6.setFromString(v6);
    }
    char name[kHostNameBytes + 1] = {};
    if (!host::hostName(name, sizeof name))
        return;
    printf("Hostname [%s]\n", name);
    hostnameIP.setFromString(std::string(name) + ".local");
}
