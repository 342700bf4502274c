#include "connectivity/OscRouter.h"

#include "connectivity/OSCV.h"
#include "instrument/track/Track.h"
#include "parameters/ParameterGroup.h"
#include "platform/LogLimiter.h"
#include "platform/Osc.h"

#include <cstdio>
#include <memory>
#include <string>

namespace DSP {
extern Track track[Track::kTracks];
}  // namespace DSP

namespace {

std::atomic<std::atomic<uint32_t>*> gIdleCounter{nullptr};
std::atomic<uint32_t> gUnhandled{0};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A group the track itself holds lives as long as the track: no owner to share.
std::shared_ptr<ParameterGroup> unowned(ParameterGroup& group) {
    return std::shared_ptr<ParameterGroup>(std::shared_ptr<ParameterGroup>(), &group);
}

// The addressed group and the parameter name, or null.
std::shared_ptr<ParameterGroup> resolve(const std::string& address, std::string& name) {
    const size_t p1 = address.find('/');
    if (p1 == std::string::npos || p1 + 1 >= address.size())
        return nullptr;
    const size_t p2 = address.find('/', p1 + 1);
    if (p2 == std::string::npos)
        return nullptr;
    const char t = address[p1 + 1];
    if (t < '1' || t > '5')
        return nullptr;
    const std::string category = address.substr(p2 + 1, 3);
    const bool indexed = category == "afx" || category == "mod";
    if (!indexed && category != "seq" && category != "syn")
        return nullptr;
    size_t nameStart = address.find('/', p2 + 1);
    if (nameStart == std::string::npos)
        return nullptr;
    unsigned n = 0;
    if (indexed) {
        const size_t p3 = nameStart;
        if (p3 + 1 >= address.size() || !isDigit(address[p3 + 1]) || address[p3 + 1] == '0')
            return nullptr;
        n = unsigned(address[p3 + 1] - '0');
        nameStart = address.find('/', p3 + 1);
        if (nameStart == std::string::npos)
            return nullptr;
    }
    ++nameStart;
    name = address.substr(nameStart, address.find('/', nameStart) - nameStart);
    for (char& c : name)
        if (c == '_')
            c = ' ';

    Track& track = DSP::track[t - '1'];
    if (category == "seq")
        return track.sequencer ? unowned(track.sequencer->group) : nullptr;
    if (category == "syn") {
        SynthVoiceCommon* engine = track.currentEngine();
        return engine ? unowned(engine->parameters) : nullptr;
    }
    // Shares the effect's or modulator's ownership: one removed meanwhile
    // stays alive until the value is written.
    if (category == "afx")
        return track.effectChain.getParameterGroup(n - 1);
    return track.modulation.parameterGroupAt(n - 1);
}

// The first part of the address, which may hold wildcards, matches "oscv"
// and more parts follow.
bool isExpanderAddress(const std::string& address) {
    const size_t second = address.find('/', 1);
    if (address.empty() || address[0] != '/' || second == std::string::npos)
        return false;
    return oscpkt::Message(address.substr(0, second)).match("/oscv");
}

// Any host that reaches the port can send these at any rate.
LogLimiter gUnhandledLines;
constexpr const char* kUnhandledLeftOut = "OSC: %u more unhandled messages not shown\n";

void unhandled(const char* sender, const std::string& address) {
    gUnhandled.fetch_add(1, std::memory_order_relaxed);
    uint32_t leftOut = 0;
    if (!gUnhandledLines.allow(leftOut))
        return;
    if (leftOut > 0)
        printf(kUnhandledLeftOut, leftOut);
    printf("OSC from [%s][%s] is unhandled\n", sender ? escapeForLog(sender).c_str() : "",
           escapeForLog(address).c_str());
    fflush(stdout);
}

}  // namespace

void setOscIdleCounter(std::atomic<uint32_t>* counter) { gIdleCounter.store(counter, std::memory_order_release); }

uint32_t oscUnhandledCount() { return gUnhandled.load(std::memory_order_relaxed); }

void resetOscUnhandledLines() { gUnhandledLines.reset(); }

void flushOscUnhandledLines(bool endOfRun) {
    uint32_t leftOut = 0;
    if (endOfRun ? (leftOut = gUnhandledLines.takeLeftOut()) > 0 : gUnhandledLines.flush(leftOut)) {
        printf(kUnhandledLeftOut, leftOut);
        fflush(stdout);
    }
}

void on_receive(oscpkt::Message* message, const char* sender, void*) {
    if (!message)
        return;
    const std::string address = message->addressPattern();
    if (address.size() < 2 || !isDigit(address[1])) {
        if (message->isOk() && isExpanderAddress(address)) {
            if (OSCV* client = Driver::oscv.load(std::memory_order_acquire))
                client->handleMessage(*message, sender ? sender : "");
            return;
        }
        unhandled(sender, address);
        return;
    }
    std::string name;
    std::shared_ptr<ParameterGroup> group = resolve(address, name);
    Parameter* parameter = group ? group->find(name) : nullptr;
    if (parameter && parameter->setFromOSC(*message)) {
        if (std::atomic<uint32_t>* idle = gIdleCounter.load(std::memory_order_acquire))
            idle->store(0, std::memory_order_relaxed);
        return;
    }
    unhandled(sender, address);
}
