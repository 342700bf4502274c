#include "connectivity/OSCV.h"

#include "connectivity/Network.h"
#include "gui/GuiNotify.h"

#include <cstdio>
#include <string>

OSCV::~OSCV() {
    OSCV* self = this;
    Driver::oscv.compare_exchange_strong(self, nullptr);
}

void OSCV::handleMessage(const oscpkt::Message& message, const char* sender) {
    if (!message.match(kPing))
        return;
    lastPing_.store(now_.load(std::memory_order_acquire), std::memory_order_release);
    const std::string text = sender ? sender : "";
    const size_t colon = text.rfind(':');
    const std::string candidate = colon == std::string::npos ? text : text.substr(0, colon);
    if (candidate != address_.get() || !connected_.load(std::memory_order_acquire)) {
        // The text is published before the flag that hands it over.
        address_.set(candidate);
        newConnection_.store(true, std::memory_order_release);
        printf("OSCV expander connected at %s\n", candidate.c_str());
    }
    // Counted once handled: whoever sees the count sees the connection too.
    pings_.fetch_add(1, std::memory_order_release);
}

void OSCV::update(uint32_t nowMs) {
    now_.store(nowMs, std::memory_order_release);
    Network& network = Driver::network;
    if (newConnection_.exchange(false, std::memory_order_acq_rel)) {
        const std::string where = address_.get();
        network.oscvIP.setFromString(where);
        sender_.setup(network.oscvPort.value.load(), where);
        // Records queued for the old target are not for the new one.
        tail_.store(head_.load(std::memory_order_acquire), std::memory_order_release);
        connected_.store(true, std::memory_order_release);
        sender_.newMessage(kStart);
        sender_.send();
        Driver::guiNotify.success("OSCV expander connected at: " + where);
    }
    if (connected_.load(std::memory_order_acquire) &&
        nowMs - lastPing_.load(std::memory_order_acquire) > kTimeoutMs) {
        connected_.store(false, std::memory_order_release);
        network.oscvIP.setFromString(Network::kNotConnected);
        printf("OSCV connection timed out %s\n", address_.get().c_str());
        Driver::guiNotify.warning("Connection to OSCV expander lost..");
    }
    _sendQueued();
}

void OSCV::_sendQueued() {
    const bool connected = connected_.load(std::memory_order_acquire);
    uint32_t tail = tail_.load(std::memory_order_relaxed);
    const uint32_t head = head_.load(std::memory_order_acquire);
    for (; tail != head; ++tail) {
        const Outgoing& r = queue_[tail % kQueueSize];
        if (!connected)
            continue;
        if (r.note) {
            sender_.newMessage(kNote).add(r.ints[0]).add(r.value).add(r.gate);
        } else {
            sender_.newMessage(kCvOutsAddress);
            for (int32_t v : r.ints)
                sender_.add(v);
        }
        sender_.send();
    }
    tail_.store(tail, std::memory_order_release);
}

void OSCV::_enqueue(const Outgoing& record) {
    const uint32_t head = head_.load(std::memory_order_relaxed);
    if (head - tail_.load(std::memory_order_acquire) >= kQueueSize) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    queue_[head % kQueueSize] = record;
    head_.store(head + 1, std::memory_order_release);
}

void OSCV::sendNote(uint32_t index, bool gate, float value) {
    if (!isConnected())
        return;
    Outgoing r;
    r.note = true;
    r.gate = gate;
    r.value = value;
    r.ints[0] = int32_t(index + 1);
    _enqueue(r);
}

void OSCV::sendCvOuts(uint32_t first, const int32_t (&levels)[kCvOuts]) {
    if (!isConnected())
        return;
    Outgoing r;
    r.ints[0] = int32_t(first);
    r.ints[1] = int32_t(first + 7);
    for (uint32_t k = 0; k < kCvOuts; ++k)
        r.ints[2 + k] = levels[k];
    _enqueue(r);
}
