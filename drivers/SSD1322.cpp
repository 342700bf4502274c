#include "drivers/SSD1322.h"

#include <cstdio>
#include <time.h>

namespace {

void waitMicroseconds(long us) {
    timespec t{0, us * 1000};
    nanosleep(&t, nullptr);
}

// Configuration after reset: {command, argument count, arguments}. The clock
// byte (0xB3) is filled in from init's argument.
struct InitStep {
    uint8_t command;
    uint8_t count;
    uint8_t data[2];
};
constexpr InitStep kInit[] = {
    {0xFD, 1, {0x12}},       {0xAE, 0, {}},           {0x15, 2, {0x1C, 0x5B}}, {0x75, 2, {0x00, 0x3F}},
    {0xB3, 1, {0x00}},       {0xCA, 1, {0x3F}},       {0xA2, 1, {0x00}},       {0xA1, 1, {0x00}},
    {0xA0, 2, {0x14, 0x11}}, {0xB5, 1, {0x00}},       {0xAB, 1, {0x01}},       {0xB4, 2, {0xA2, 0xFD}},
    {0xC1, 1, {0xFF}},       {0xC7, 1, {0x0F}},       {0xB9, 0, {}},           {0xB1, 1, {0xE2}},
    {0xD1, 1, {0x20}},       {0xBB, 1, {0x1F}},       {0xB6, 1, {0x08}},       {0xBE, 1, {0x07}},
    {0xA6, 0, {}},           {0xA9, 0, {}},           {0xAF, 0, {}},
};

}  // namespace

SSD1322::~SSD1322() {
    reset_.clear();
    reset_.close();
    chipSelect_.close();
    dataCommand_.close();
    spi_.cleanup();
}

bool SSD1322::setup(const char* device) {
    Spi::Settings settings;
    settings.device = device;
    settings.speed = kSpeed;
    settings.delay = 0;
    settings.numBits = 8;
    settings.mode = 0;
    if (spi_.setup(settings) != 0) {
        printf("SSD1322: failed initializing %s\n", device);
        return false;
    }
    if (chipSelect_.open(kChipSelectPin, Gpio::OUTPUT) != 0)
        printf("SSD1322: failed opening OLED CS gpio %d\n", kChipSelectPin);
    if (dataCommand_.open(kDataCommandPin, Gpio::OUTPUT) != 0)
        printf("SSD1322: failed opening OLED DC gpio %d\n", kDataCommandPin);
    if (reset_.open(kResetPin, Gpio::OUTPUT) != 0)
        printf("SSD1322: failed opening OLED reset gpio %d\n", kResetPin);
    init(1);
    return true;
}

void SSD1322::_command(uint8_t c) {
    dataCommand_.clear();
    chipSelect_.clear();
    if (spi_.transfer(&c, nullptr, 1) != 0)
        printf("SSD1322: command transfer failed\n");
    chipSelect_.set();
    dataCommand_.set();
}

void SSD1322::_data(uint8_t d) {
    dataCommand_.set();
    chipSelect_.clear();
    if (spi_.transfer(&d, nullptr, 1) != 0)
        printf("SSD1322: data transfer failed\n");
    chipSelect_.set();
    dataCommand_.clear();
}

void SSD1322::init(uint8_t clock) {
    initialised_ = false;
    if (!spi_.ready())
        return;  // a failed set-up leaves frames dropped
    reset_.clear();
    waitMicroseconds(20);
    reset_.set();
    for (const InitStep& step : kInit) {
        _command(step.command);
        for (uint8_t i = 0; i < step.count; ++i)
            _data(step.command == 0xB3 ? clock : step.data[i]);
    }
    initialised_ = true;
}

void SSD1322::sendFramebuffer(const uint8_t* frame) {
    if (!initialised_ || !frame)
        return;
    _command(0x15);
    _data(0x1C);
    _data(0x5B);
    _command(0x75);
    _data(0x00);
    _data(0x3F);
    _command(0x5C);
    dataCommand_.set();
    chipSelect_.clear();
    constexpr size_t half = kFrameBytes / 2;
    if (spi_.transfer(frame, nullptr, half) != 0)
        printf("SSD1322: framebuffer transfer failed\n");
    if (spi_.transfer(frame + half, nullptr, half) != 0)
        printf("SSD1322: framebuffer transfer failed\n");
    chipSelect_.set();
    dataCommand_.clear();
}
