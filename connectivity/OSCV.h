// The CV expander client. The expander announces itself with "/oscv/ping";
// the client keeps track of it (connected until the pings stop for more than
// 1400 ms), starts it and hands it the modular engine's notes and CV levels.
//
// Threads: handleMessage runs on the OSC receive thread, update on the I/O
// task, the sends on the audio thread. A send is a fixed-size record put in
// a ring that update empties through the client's own sender, so the audio
// thread neither formats, allocates nor touches a socket, and the sender is
// only ever used (and re-created) by the I/O task.
#pragma once

#include "parameters/SharedText.h"
#include "platform/Osc.h"

#include <array>
#include <atomic>
#include <cstdint>

class OSCV {
public:
    static constexpr uint32_t kCvOuts = 8;
    static constexpr uint32_t kTimeoutMs = 1400;
    static constexpr uint32_t kQueueSize = 256;  // records; a full ring drops the newest
    static constexpr const char* kPing = "/oscv/ping";
    static constexpr const char* kStart = "/oscv/start";
    static constexpr const char* kNote = "/oscv/corvane-note";
    static constexpr const char* kCvOutsAddress = "/oscv/cvouts";

    OSCV() = default;
    virtual ~OSCV();
    OSCV(const OSCV&) = delete;
    OSCV& operator=(const OSCV&) = delete;

    // OSC receive thread: every message under "/oscv/".
    void handleMessage(const oscpkt::Message& message, const char* sender);
    // I/O task, every run: connects, times out and sends what was queued.
    void update(uint32_t nowMs);
    // The time base of update: 64 frames per block at 48 kHz, in ms, modulo
    // 2^32 (the differences stay right across the wrap).
    static uint32_t millisecondsAt(uint64_t blocks) { return uint32_t(blocks * 4 / 3); }

    // Audio thread; nothing while not connected.
    // "/oscv/corvane-note": int32 index + 1, float value (the pitch in Hz),
    // bool gate.
    virtual void sendNote(uint32_t index, bool gate, float value);
    // "/oscv/cvouts": int32 first, first + 7, then the eight levels.
    virtual void sendCvOuts(uint32_t first, const int32_t (&levels)[kCvOuts]);
    virtual bool isConnected() const { return connected_.load(std::memory_order_acquire); }

    std::string address() const { return address_.get(); }
    uint32_t pingsReceived() const { return pings_.load(std::memory_order_acquire); }
    uint32_t droppedSends() const { return dropped_.load(std::memory_order_relaxed); }

private:
    struct Outgoing {
        bool note = false;
        bool gate = false;
        float value = 0.0f;
        int32_t ints[2 + kCvOuts] = {};
    };
    void _enqueue(const Outgoing& record);
    void _sendQueued();

    std::atomic<uint32_t> now_{0};
    std::atomic<uint32_t> lastPing_{0};
    std::atomic<bool> newConnection_{false};
    std::atomic<bool> connected_{false};
    SharedText address_;
    OscSender sender_;
    // Single producer (audio thread), single consumer (I/O task).
    std::array<Outgoing, kQueueSize> queue_{};
    std::atomic<uint32_t> head_{0};
    std::atomic<uint32_t> tail_{0};
    std::atomic<uint32_t> pings_{0};
    std::atomic<uint32_t> dropped_{0};
};

namespace Driver {
// The client the engines send through; null until it is built.
extern std::atomic<OSCV*> oscv;
// The instrument's one client (Driver::oscv points at it).
extern OSCV oscvClient;
}  // namespace Driver
