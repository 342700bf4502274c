#include "connectivity/SerialMIDI.h"

#include "platform/RtPrintf.h"
#include "platform/devices/SerialPort.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
constexpr const char* kBadBytesLeftOut = "DIN MIDI: %u more bad bytes not shown\n";
constexpr const char* kBacklogLeftOut = "[!]\tSerialMIDI: %u more lines about the MIDI out queue not shown\n";
constexpr const char* kQueueFullText = "[!]\tSerialMIDI: MIDI out queue full (%zu bytes): %u messages dropped\n";
}  // namespace

SerialMIDI::~SerialMIDI() {
    host::serialClose(fd_);
    fd_ = -1;
}

bool SerialMIDI::setup(const char* device, uint32_t baud) {
    if (fd_ >= 0) {
        host::serialClose(fd_);
        fd_ = -1;
    }
    int fd = host::serialOpen(device);
    if (fd < 0) {
        fprintf(stderr, "Error opening %s: %s\n", device, strerror(errno));
        return false;
    }
    int configured = host::serialConfigure(fd, baud);
    if (configured != host::kSerialConfigured) {
        fprintf(stderr, configured == host::kSerialGetFailed ? "Error IOCTL TCGETS2: %s\n" : "Error IOCTL TCSETS2: %s\n",
                strerror(errno));
        host::serialClose(fd);
        return false;
    }
    if (!createPipe()) {
        fprintf(stderr, "Error creating %s\n", kPipeName);
        host::serialClose(fd);
        return false;
    }
    fd_ = fd;
    parser_.reset();
    queue_.clear();
    return true;
}

int SerialMIDI::_readWithTimeout(uint8_t* buffer, size_t length) {
    int ready = host::serialWaitInput(fd_, kPollMs);
    if (ready == 0) {
        waitFailing_ = false;
        return 0;
    }
    if (ready == -1) {
        int error = errno;
        rt_printf("Error polling for serial: %d %s\n", error, strerror(error));
        return -error;
    }
    if (ready != 1) {
        // A device that hangs up stays that way: say so once, not every run.
        if (!waitFailing_)
            rt_printf("unknown error while reading serial\n");
        waitFailing_ = true;
        return -1;
    }
    waitFailing_ = false;
    ssize_t n = host::serialRead(fd_, buffer, length);
    if (n < 0) {
        rt_printf("Error from read: %d: %s\n", int(n), strerror(errno));
        return int(n);
    }
    return int(n);
}

int SerialMIDI::_writeBytes(const uint8_t* buffer, uint32_t length) {
    size_t size = length == 0xFFFFFFFFu ? strlen(reinterpret_cast<const char*>(buffer)) : length;
    ssize_t n = host::serialWrite(fd_, buffer, size);
    // A full device buffer is no failure: the bytes wait in the queue.
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
        rt_printf("write failed: %d %s\n", errno, strerror(errno));
    return int(n);
}

void SerialMIDI::readInput() {
    if (fd_ < 0)
        return;
    int n = _readWithTimeout(rx_, sizeof rx_);
    if (n < 1)
        return;
    parser_.parse(rx_, size_t(n), *this);
}

void SerialMIDI::received(const MidiMessage& message) { pipe_.writeNonRt(&message, sizeof message); }

bool SerialMIDI::_badByteLine() {
    uint32_t leftOut = 0;
    if (!badBytes_.allow(leftOut))
        return false;
    if (leftOut > 0)
        rt_printf(kBadBytesLeftOut, leftOut);
    return true;
}

void SerialMIDI::invalidStatus(uint8_t status) {
    if (_badByteLine())
        rt_printf("DIN MIDI received invalid status byte: 0x%02x\n", status);
}

void SerialMIDI::unexpectedData(uint8_t data, uint32_t runningType) {
    if (_badByteLine())
        rt_printf("DIN MIDI received data byte 0x%02x while not expecting one: last status byte was %s\n", data,
                  midiTypeName(runningType));
}

void SerialMIDI::_queue(const MidiMessage& m) {
    const uint8_t ch = uint8_t(m.channel & 0x0Fu);
    // Data bytes keep below 0x80: a stray high bit would read as a status byte.
    const uint8_t d1 = uint8_t(m.data1 & 0x7Fu);
    const uint8_t d2 = uint8_t(m.data2 & 0x7Fu);
    auto three = [&](uint8_t status) {
        queue_.push_back(status);
        queue_.push_back(d1);
        queue_.push_back(d2);
    };
    auto two = [&](uint8_t status) {
        queue_.push_back(status);
        queue_.push_back(d1);
    };
    switch (MIDIMsgType(m.type)) {
    case MIDIMsgType::NoteOff: three(0x80 + ch); break;
    case MIDIMsgType::NoteOn: three(0x90 + ch); break;
    case MIDIMsgType::PolyphonicKeyPressure: three(0xA0 + ch); break;
    case MIDIMsgType::ControlChange: three(0xB0 + ch); break;
    case MIDIMsgType::ProgramChange: two(0xC0 + ch); break;
    case MIDIMsgType::ChannelPressure: two(0xD0 + ch); break;
    case MIDIMsgType::PitchBend: three(0xE0 + ch); break;
    case MIDIMsgType::TimingClock: queue_.push_back(0xF8); break;
    case MIDIMsgType::StartSequence: queue_.push_back(0xFA); break;
    case MIDIMsgType::ContinueSequence: queue_.push_back(0xFB); break;
    case MIDIMsgType::StopSequence: queue_.push_back(0xFC); break;
    case MIDIMsgType::ActiveSensing: queue_.push_back(0xFE); break;
    case MIDIMsgType::SystemReset: queue_.push_back(0xFF); break;
    case MIDIMsgType::MIDITimingCode: two(0xF1); break;
    case MIDIMsgType::SongPositionPointer: three(0xF2); break;
    case MIDIMsgType::SongSelect: two(0xF3); break;
    case MIDIMsgType::TuneRequest: queue_.push_back(0xF6); break;
    case MIDIMsgType::SysExStart: queue_.push_back(0xF0); break;
    case MIDIMsgType::SysExStop: queue_.push_back(0xF7); break;
    case MIDIMsgType::None: rt_printf("[ ]\tMIDI: wrong MIDI message called?\n"); break;
    default: break;
    }
}

void SerialMIDI::_flushLogLines() {
    uint32_t leftOut = 0;
    if (badBytes_.flush(leftOut))
        rt_printf(kBadBytesLeftOut, leftOut);
    if (backlogLines_.flush(leftOut))
        rt_printf(kBacklogLeftOut, leftOut);
    // The queue-full line carries the number of messages dropped since the last one.
    if (droppedUnreported_ > 0 && queueFullLines_.flush(leftOut)) {
        rt_printf(kQueueFullText, queue_.size(), droppedUnreported_);
        droppedUnreported_ = 0;
    }
}

void SerialMIDI::writeOutput() {
    _flushLogLines();
    if (fd_ < 0)
        return;
    MidiMessage m;
    uint32_t dropped = 0;
    while (pipe_.readNonRt(&m, sizeof m) == ssize_t(sizeof m)) {
        // A message is three bytes at most; a full queue drops it whole.
        if (queue_.size() + 3 > kMaxQueuedBytes) {
            ++dropped;
            continue;
        }
        _queue(m);
    }
    if (dropped > 0) {
        droppedMessages_.fetch_add(dropped, std::memory_order_relaxed);
        droppedUnreported_ += dropped;
        uint32_t leftOut = 0;
        if (queueFullLines_.allow(leftOut)) {
            rt_printf(kQueueFullText, queue_.size(), droppedUnreported_);
            droppedUnreported_ = 0;
        }
    }

    uint8_t buffer[kChunk];
    size_t moved = 0;
    for (auto it = queue_.begin(); it != queue_.end() && moved < kChunk; ++it)
        buffer[moved++] = *it;
    if (moved == 0)
        return;
    if (moved == kChunk && queue_.size() > kChunk) {
        // While nothing reads the port this holds on every run.
        uint32_t leftOut = 0;
        if (backlogLines_.allow(leftOut)) {
            if (leftOut > 0)
                rt_printf(kBacklogLeftOut, leftOut);
            rt_printf("[!]\tSerialMIDI: large amounts of MIDI out bytes in queue, some will not be output yet..\n");
        }
    }
    int written = _writeBytes(buffer, uint32_t(moved));
    // Only what the device took leaves the queue; the rest goes next run.
    if (written > 0)
        queue_.erase(queue_.begin(), queue_.begin() + written);
}
