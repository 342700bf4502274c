#include "platform/devices/Board.h"

#include "platform/Audio.h"
#include "platform/Paths.h"
#include "platform/Stepped.h"

#include <chrono>
#include <cstring>

namespace host {
namespace {

uint64_t nowNs() {
    return uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count());
}

// Keeps the log of a long run bounded; tests clear it between steps.
constexpr size_t kMaxLog = 200000;

constexpr uint32_t kJackPins[] = {3, 4};  // clock in, reset in

class InputJacks : public DigitalDevice {
public:
    void beforeRender(uint32_t* digital, uint32_t frames) override {
        for (uint32_t f = 0; f < frames; ++f)
            for (uint32_t pin : kJackPins)
                if ((digital[f] >> pin) & 1u)  // only while it is an input
                    digital[f] |= 1u << (16 + pin);
    }
};

InputJacks gJacks;

}  // namespace

Board::Board() { reset(); }

void Board::reset() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    for (unsigned p = 0; p < kPins; ++p) {
        level_[p] = true;  // lines are pulled up until driven
        missing_[p] = false;
    }
    spiFailures_ = 0;
    oled_.powerOn();
    adc_[0].powerOn();
    adc_[1].powerOn();
    leds_.clear();
    leds_[0x3C];
    leds_[0x3F];
    trills_.clear();
    for (int a : {0x28, 0x29, 0x2E, 0x2B, 0x2C})
        trills_[a];
    codecs_.clear();
    codecs_[0x44];
    codecs_[0x48];
    log_.clear();
}

bool Board::_logging() const { return log_.size() < kMaxLog; }

void Board::_log(BoardEvent event) {
    if (!_logging())
        return;
    event.timeNs = nowNs();
    log_.push_back(std::move(event));
}

bool Board::pinOpen(unsigned pin) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return pin < kPins && !missing_[pin];
}

void Board::pinWrite(unsigned pin, bool high) {
    if (pin >= kPins)
        return;
    if (Bela_isAudioThread()) {
        // Gate lines from render: the level is all the board keeps of them,
        // unlogged. (A stepped run's setup also counts as the audio thread:
        // the display's reset line still resets its model then.)
        const bool was = level_[pin].exchange(high, std::memory_order_relaxed);
        if (pin == kOledReset && !was && high)
            oled_.resetPulse();
        return;
    }
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    bool was = level_[pin];
    level_[pin] = high;
    BoardEvent e;
    e.kind = BoardEvent::Pin;
    e.address = int(pin);
    e.level = high ? 1 : 0;
    _log(std::move(e));
    if (pin == kOledReset && !was && high)
        oled_.resetPulse();
}

bool Board::pinLevel(unsigned pin) const { return pin < kPins && level_[pin].load(std::memory_order_relaxed); }

void Board::setPinMissing(unsigned pin, bool missing) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (pin < kPins)
        missing_[pin] = missing;
}

bool Board::spiDeviceExists(const char* path) const {
    return path && std::strcmp(path, "/dev/spidev1.0") == 0;
}

void Board::failSpiTransfers(unsigned count) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    spiFailures_ = count;
}

int Board::spiTransfer(uint32_t speedHz, const uint8_t* tx, uint8_t* rx, size_t length) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    BoardEvent e;
    e.kind = BoardEvent::SpiTransfer;
    e.speedHz = speedHz;
    // A long run fills the log: from then on the bytes are not copied for it.
    std::vector<uint8_t> zeros;
    if (!tx) {
        zeros.assign(length, 0);
        tx = zeros.data();
    }
    if (_logging())
        e.bytes.assign(tx, tx + length);
    if (spiFailures_ > 0) {
        --spiFailures_;
        e.kind = BoardEvent::SpiBusError;
        _log(std::move(e));
        return -1;
    }
    const unsigned selects[3] = {kOledCs, kAdcCs[0], kAdcCs[1]};
    int selected = -1, lowCount = 0;
    for (unsigned s : selects)
        if (!level_[s]) {
            selected = int(s);
            ++lowCount;
        }
    if (lowCount != 1) {
        e.kind = BoardEvent::SpiBusError;
        e.address = lowCount;
        _log(std::move(e));
        return -1;
    }
    e.address = selected;
    if (selected == int(kOledCs)) {
        e.level = level_[kOledDc] ? 1 : 0;
        if (level_[kOledReset])
            oled_.bytes(level_[kOledDc], tx, length);
        if (rx)
            std::memset(rx, 0, length);
    } else {
        std::vector<uint8_t> out(length, 0);
        adc_[selected == int(kAdcCs[0]) ? 0 : 1].transfer(tx, out.data(), length);
        if (rx)
            std::memcpy(rx, out.data(), length);
    }
    _log(std::move(e));
    return 0;
}

bool Board::i2cBusExists(int bus) const { return bus == 1 || bus == 2; }

void Board::setI2cPresent(int bus, int address, bool present) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (bus == 1 && (address == 0x3C || address == 0x3F)) {
        if (present) leds_[address]; else leds_.erase(address);
    } else if (bus == 1) {
        if (present) trills_[address]; else trills_.erase(address);
    } else if (bus == 2) {
        if (present) codecs_[address]; else codecs_.erase(address);
    }
}

bool Board::i2cWrite(int bus, int address, const uint8_t* data, size_t length) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    BoardEvent e;
    e.kind = BoardEvent::I2cWrite;
    e.bus = bus;
    e.address = address;
    if (_logging())
        e.bytes.assign(data, data + length);
    bool ok = false;
    if (bus == 1) {
        auto led = leds_.find(address);
        ok = led != leds_.end() && led->second.write(data, length);
    } else if (bus == 2) {
        auto codec = codecs_.find(address);
        ok = codec != codecs_.end() && codec->second.write(data, length);
    }
    if (!ok)
        e.kind = BoardEvent::I2cNak;
    _log(std::move(e));
    return ok;
}

bool Board::i2cRead(int bus, int address, uint8_t* data, size_t length) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    bool ok = false;
    if (bus == 2) {
        auto codec = codecs_.find(address);
        ok = codec != codecs_.end() && codec->second.read(data, length);
    }
    BoardEvent e;
    e.kind = ok ? BoardEvent::I2cRead : BoardEvent::I2cNak;
    e.bus = bus;
    e.address = address;
    if (ok && _logging())
        e.bytes.assign(data, data + length);
    _log(std::move(e));
    return ok;
}

Is31fl3236aModel* Board::ledChip(int address) {
    auto it = leds_.find(address);
    return it == leds_.end() ? nullptr : &it->second;
}

TrillModel* Board::trill(int address) {
    auto it = trills_.find(address);
    return it == trills_.end() ? nullptr : &it->second;
}

CodecModel* Board::codec(int address) {
    auto it = codecs_.find(address);
    return it == codecs_.end() ? nullptr : &it->second;
}

std::vector<BoardEvent> Board::log() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return log_;
}

void Board::clearLog() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    log_.clear();
}

Board& board() {
    // Never destroyed: the firmware's global drivers let go of their pins in
    // their destructors at exit, after any static of this file would be gone.
    static Board* b = new Board;
    return *b;
}

void jacksStart() { attachDigitalDevice(&gJacks); }

void jacksStop() { detachDigitalDevice(&gJacks); }

bool setDisplayMirror(const std::string& path, std::string* why) {
    return board().oled().setMirror(path, why);
}

}  // namespace host
