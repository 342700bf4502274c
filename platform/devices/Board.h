// The board's chips on this host: GPIO pins, the SPI bus "/dev/spidev1.0"
// with the display controller and the two converters on their chip-select
// lines, and the I2C buses with the LED drivers, touch sensors and codec.
// Each chip is modelled at its interface (bytes, registers, pin levels), so
// the firmware's drivers run unchanged; every pin change and transfer is
// logged for tests. Set-up, GUI-thread and test calls only: the audio thread
// never reaches these models (gates and panel use the digital pins).
#pragma once

#include "platform/devices/ChipModels.h"
#include "platform/devices/OledModel.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace host {

struct BoardEvent {
    enum Kind : uint8_t { Pin, SpiTransfer, SpiBusError, I2cWrite, I2cRead, I2cNak };
    uint64_t timeNs = 0;  // steady clock
    Kind kind = Pin;
    int bus = 0;
    int address = 0;  // pin number, chip-select pin or I2C address
    int level = 0;    // Pin: the new level; SpiTransfer: the data/command line
    uint32_t speedHz = 0;
    std::vector<uint8_t> bytes;
};

class Board {
public:
    static constexpr unsigned kPins = 128;
    static constexpr unsigned kOledCs = 20, kOledDc = 49, kOledReset = 22;
    static constexpr unsigned kAdcCs[2] = {5, 48};

    Board();

    // Everything at power-on: chips present as on the instrument, default
    // readings, empty log.
    void reset();

    // Pins.
    bool pinOpen(unsigned pin);
    void pinWrite(unsigned pin, bool high);
    bool pinLevel(unsigned pin) const;
    void setPinMissing(unsigned pin, bool missing);

    // SPI "/dev/spidev1.0": routed to the chip whose select line is low.
    bool spiDeviceExists(const char* path) const;
    int spiTransfer(uint32_t speedHz, const uint8_t* tx, uint8_t* rx, size_t length);
    void failSpiTransfers(unsigned count);  // the next `count` transfers fail

    // I2C.
    bool i2cBusExists(int bus) const;
    bool i2cWrite(int bus, int address, const uint8_t* data, size_t length);
    bool i2cRead(int bus, int address, uint8_t* data, size_t length);
    void setI2cPresent(int bus, int address, bool present);

    // Chip models (the board's own objects; tests set and read them).
    OledModel& oled() { return oled_; }
    Mcp3008Model& adc(unsigned index) { return adc_[index & 1]; }
    Is31fl3236aModel* ledChip(int address);
    TrillModel* trill(int address);
    CodecModel* codec(int address);

    std::vector<BoardEvent> log() const;
    void clearLog();

private:
    bool _logging() const;  // room left in the log
    void _log(BoardEvent event);

    mutable std::recursive_mutex mutex_;
    // Written by the audio thread too (the gate outputs): atomics, and the
    // audio thread neither locks nor logs.
    std::atomic<bool> level_[kPins] = {};
    bool missing_[kPins] = {};
    unsigned spiFailures_ = 0;
    OledModel oled_;
    Mcp3008Model adc_[2] = {Mcp3008Model(0), Mcp3008Model(1)};
    std::map<int, Is31fl3236aModel> leds_;  // bus 1
    std::map<int, TrillModel> trills_;      // bus 1
    std::map<int, CodecModel> codecs_;      // bus 2
    std::vector<BoardEvent> log_;
};

Board& board();

// The clock and reset jacks (digital pins 3 and 4, active low) with nothing
// plugged in: their inputs rest high, pulled up. Attached for a run like the
// panel.
void jacksStart();
void jacksStop();

// Display mirror (--display-out): the display model writes its picture there
// as a grey map a few times a second while frames arrive. False when the
// picture cannot be written there, `why` telling why.
bool setDisplayMirror(const std::string& path, std::string* why = nullptr);

}  // namespace host
