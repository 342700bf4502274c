// The board's drivers against the chip models of the host: what each chip
// receives, and what the firmware reads back.
#include "drivers/Cs42448_Codec.h"
#include "drivers/EncoderLedDriver.h"
#include "drivers/KeyDebouncer.h"
#include "drivers/MCP3008.h"
#include "drivers/Pcm3168A_Codec.h"
#include "drivers/SSD1322.h"
#include "drivers/Touchpad.h"
#include "gui/MonoGFX.h"
#include "platform/devices/Board.h"
#include "tests/support/Shell.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>

using host::board;
using host::BoardEvent;

namespace {

class BoardTest : public testing::Test {
protected:
    void SetUp() override { board().reset(); }
};

std::vector<BoardEvent> events(BoardEvent::Kind kind) {
    std::vector<BoardEvent> out;
    for (auto& e : board().log())
        if (e.kind == kind)
            out.push_back(e);
    return out;
}

// {address, bytes} of every acknowledged I2C write.
std::vector<std::vector<uint8_t>> i2cWrites(int address) {
    std::vector<std::vector<uint8_t>> out;
    for (auto& e : events(BoardEvent::I2cWrite))
        if (e.address == address)
            out.push_back(e.bytes);
    return out;
}

}  // namespace

TEST_F(BoardTest, DisplayInitSequenceAndFramesDecodeToTheDrawnPicture) {
    SSD1322 oled;
    const unsigned resets = board().oled().resets();  // counted since the process began
    oled.sendFramebuffer(std::vector<uint8_t>(8192, 0xFF).data());  // before set-up: nothing
    EXPECT_TRUE(events(BoardEvent::SpiTransfer).empty());

    ASSERT_TRUE(oled.setup("/dev/spidev1.0"));
    EXPECT_EQ(board().oled().resets(), resets + 1);
    EXPECT_EQ(board().oled().ramBytesWritten(), 0u);
    const std::vector<uint8_t> expected = {
        0xFD, 0x12, 0xAE, 0x15, 0x1C, 0x5B, 0x75, 0x00, 0x3F, 0xB3, 0x01, 0xCA, 0x3F, 0xA2, 0x00,
        0xA1, 0x00, 0xA0, 0x14, 0x11, 0xB5, 0x00, 0xAB, 0x01, 0xB4, 0xA2, 0xFD, 0xC1, 0xFF, 0xC7,
        0x0F, 0xB9, 0xB1, 0xE2, 0xD1, 0x20, 0xBB, 0x1F, 0xB6, 0x08, 0xBE, 0x07, 0xA6, 0xA9, 0xAF};
    EXPECT_EQ(board().oled().commandStream(), expected);
    EXPECT_TRUE(board().oled().displayOn());
    for (auto& e : events(BoardEvent::SpiTransfer)) {
        EXPECT_EQ(e.speedHz, SSD1322::kSpeed);
        EXPECT_EQ(e.address, int(SSD1322::kChipSelectPin));
    }

    MonoGFX gfx;
    gfx.init(256, 64);
    for (int x = 0; x < 256; ++x)
        for (int y = 0; y < 64; ++y) {
            gfx.setColour(y < 32 ? unsigned(x / 16) : unsigned(((x / 4) ^ (y / 4)) & 1) * 15);
            gfx.setPixel(x, y);
        }
    oled.sendFramebuffer(gfx.framebuffer());
    EXPECT_EQ(board().oled().framesCompleted(), 1u);
    EXPECT_TRUE(events(BoardEvent::SpiBusError).empty());
    const std::string dir = testsupport::tempDir();
    const std::string got = dir + "oled.pgm", want = dir + "want.pgm";
    ASSERT_TRUE(board().oled().writePgm(got));
    {
        std::ofstream f(want, std::ios::binary);
        f << "P5\n256 64\n15\n";
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 256; ++x) {
                uint8_t b = gfx.framebuffer()[(x >> 1) + 128 * y];
                f.put(char((x & 1) ? (b & 15) : (b >> 4)));
            }
    }
    EXPECT_NE(testsupport::shellOutput("pamfile " + got).find("256 by 64  maxval 15"), std::string::npos);
    EXPECT_EQ(testsupport::shellOutput("pamarith -difference " + got + " " + want + " | pamsumm -max -brief"), "0\n");
}

TEST_F(BoardTest, LedLevelsGammaAndChipSplit) {
    EncoderLedDriver leds;
    ASSERT_TRUE(leds.setup());
    EXPECT_TRUE(leds.twoChips());
    float levels[32] = {0.0f, 0.5f, 1.0f, 1.02f, -0.2f, std::numeric_limits<float>::quiet_NaN()};
    board().clearLog();
    leds.setLevels(levels);
    auto first = i2cWrites(0x3C), second = i2cWrites(0x3F);
    ASSERT_EQ(first.size(), 2u);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(first[0].size(), 17u);
    EXPECT_EQ(first[0][0], 0x01);
    EXPECT_EQ(first[1], (std::vector<uint8_t>{0x25, 0x00}));
    const uint8_t pwm[6] = {0, 73, 255, 255, 0, 0};
    for (unsigned c = 0; c < 6; ++c)
        EXPECT_EQ(board().ledChip(0x3C)->pwm(c), pwm[c]) << c;
    EXPECT_EQ(board().ledChip(0x3C)->pwm(32), 0xFF);  // channel 33 lit since init
    EXPECT_EQ(board().ledChip(0x3C)->control(0), 0x03);
    EXPECT_EQ(board().ledChip(0x3C)->control(35), 0x0D);

    board().clearLog();
    leds.allOff();
    EXPECT_EQ(i2cWrites(0x3C), (std::vector<std::vector<uint8_t>>{{0x00, 0x00}}));
    EXPECT_EQ(i2cWrites(0x3F), (std::vector<std::vector<uint8_t>>{{0x00, 0x00}}));
    EXPECT_TRUE(board().ledChip(0x3C)->shutdown());

    board().reset();
    board().setI2cPresent(1, 0x3F, false);
    EncoderLedDriver one;
    ASSERT_TRUE(one.setup());
    EXPECT_FALSE(one.twoChips());
    board().clearLog();
    levels[31] = 1.0f;
    one.setLevels(levels);
    auto writes = i2cWrites(0x3C);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].size(), 33u);
    EXPECT_EQ(board().ledChip(0x3C)->pwm(31), 255);
}

TEST_F(BoardTest, ConvertersReadSingleEndedWithThresholdAndSurviveFailedTransfers) {
    MCP3008 adc[2];
    ASSERT_TRUE(adc[0].setup(5, "/dev/spidev1.0"));
    ASSERT_TRUE(adc[1].setup(48, "/dev/spidev1.0"));
    board().adc(0).setReading(1, 500);
    board().clearLog();
    adc[0].readAll();
    adc[1].readAll();
    auto transfers = events(BoardEvent::SpiTransfer);
    ASSERT_EQ(transfers.size(), 16u);
    for (unsigned i = 0; i < 16; ++i) {
        EXPECT_EQ(transfers[i].bytes, (std::vector<uint8_t>{0x01, uint8_t(0x80 | ((i & 7) << 4)), 0x00}));
        EXPECT_LE(transfers[i].speedHz, 1350000u);
        EXPECT_EQ(transfers[i].address, i < 8 ? 5 : 48);
    }
    EXPECT_EQ(board().adc(0).differentialRequests(), 0u);
    EXPECT_EQ(adc[0].raw(1), 500u);
    EXPECT_EQ(adc[0].raw(9), 500u);  // channel numbers wrap at 8
    EXPECT_EQ(adc[0].raw(0), 0u);    // a released track button
    EXPECT_NEAR(adc[0].value(2), 512.0f / 1023.0f, 1e-6f);

    board().adc(0).setReading(1, 504);
    adc[0].readAll();
    EXPECT_EQ(adc[0].raw(1), 500u);
    board().adc(0).setReading(1, 505);
    adc[0].readAll();
    EXPECT_EQ(adc[0].raw(1), 505u);
    board().adc(0).setReading(1, 1023);
    adc[0].readAll();
    EXPECT_FLOAT_EQ(adc[0].value(1), 1.0f);

    // A failed transfer keeps the reading: no phantom track-button press.
    KeyDebouncer button;
    board().adc(0).setReading(0, 900);
    board().failSpiTransfers(8);
    adc[0].readAll();
    EXPECT_EQ(adc[0].raw(0), 0u);
    for (int i = 0; i < 20; ++i)
        EXPECT_NE(button.update(adc[0].raw(0) < 500), KeyDebouncer::kKeyDown);
    adc[0].readAll();
    bool pressed = false;
    for (int i = 0; i < 20; ++i)
        pressed |= button.update(adc[0].raw(0) < 500) == KeyDebouncer::kKeyDown;
    EXPECT_TRUE(pressed);
}

TEST_F(BoardTest, TouchpadsAddressesMappingAndMissingPads) {
    board().setI2cPresent(1, 0x2C, false);  // pad 4 absent
    Touchpad pads[5];
    for (unsigned i = 0; i < 4; ++i)
        EXPECT_TRUE(pads[i].setup(i)) << i;
    EXPECT_FALSE(pads[4].setup(4));
    EXPECT_FLOAT_EQ(board().trill(0x2E)->noiseThreshold, 0.07f);
    EXPECT_LT(board().trill(0x2A) ? board().trill(0x2A)->noiseThreshold : -1.0f, 0.0f);  // pad 2 found at 0x2E

    board().trill(0x2E)->setTouch(1, 2, 0.5f, 0.95f);
    EXPECT_EQ(pads[2].read(), 1u);
    EXPECT_FLOAT_EQ(pads[2].getTouch().x, 0.5f);
    EXPECT_FLOAT_EQ(pads[2].getTouch().y, 0.0f);  // 1 - 0.95 = 0.05 maps to 0
    board().trill(0x2E)->setTouch(1, 1, 0.95f, 0.5f);
    pads[2].read();
    EXPECT_FLOAT_EQ(pads[2].getTouch().x, 1.0f);
    board().trill(0x2E)->lift();
    EXPECT_EQ(pads[2].read(), 0u);
    EXPECT_EQ(pads[2].getTouch().count, 0u);
    EXPECT_FLOAT_EQ(pads[2].getTouch().x, 1.0f);
    EXPECT_FLOAT_EQ(pads[2].getTouch().y, 0.5f);

    board().setI2cPresent(1, 0x2C, true);
    board().trill(0x2C)->setTouch(2, 2, 0.5f, 0.5f);
    pads[4].updateBaseline();
    EXPECT_EQ(pads[4].read(), 0u);
    EXPECT_EQ(board().trill(0x2C)->baselines, 0u);
    EXPECT_EQ(board().trill(0x2C)->reads, 0u);
}

TEST_F(BoardTest, CodecsRegisterSequencesResetAndLimits) {
    {
        Pcm3168A_Codec pcm(2, 0x44, true);
        uint64_t low = 0, high = 0;
        for (auto& e : events(BoardEvent::Pin))
            if (e.address == 81)
                (e.level ? high : low) = e.timeNs;
        ASSERT_GT(high, low);
        EXPECT_GE(high - low, 1000000u);
        EXPECT_EQ(pcm.initCodec(), 0);
        EXPECT_EQ(pcm.startAudio(1), 0);
        using W = std::pair<uint8_t, uint8_t>;
        EXPECT_EQ(board().codec(0x44)->writes,
                  (std::vector<W>{{0x40, 0xC1}, {0x41, 0x06}, {0x42, 0x00}, {0x43, 0x00}, {0x44, 0x00},
                                  {0x50, 0x01}, {0x51, 0x06}, {0x52, 0x40}, {0x53, 0x00}, {0x54, 0x00},
                                  {0x55, 0x00}}));
        board().codec(0x44)->writes.clear();
        pcm.stopAudio();
        EXPECT_EQ(board().codec(0x44)->writes, (std::vector<W>{{0x44, 0xFF}}));
        auto& config = pcm.getMcaspConfig();
        EXPECT_TRUE(host::mcaspConfigSupported(config));
        EXPECT_EQ(config.inChannels, 6u);
    }
    Cs42448_Codec cs(2, 0x48, true);
    EXPECT_EQ(cs.initCodec(), 0);
    EXPECT_EQ(board().codec(0x48)->reg[0x02] & 1, 1);  // powered down until started
    board().codec(0x48)->writes.clear();
    EXPECT_EQ(cs.setInputGain(6, 0.0f), -1);
    EXPECT_EQ(cs.setDacVolume(8, 0.0f), -1);
    EXPECT_TRUE(board().codec(0x48)->writes.empty());
    EXPECT_EQ(cs.setInputGain(0, -100.0f), 0);
    EXPECT_EQ(board().codec(0x48)->reg[0x11], 0x80);  // -64 dB
    EXPECT_EQ(cs.setDacVolume(-1, std::numeric_limits<float>::quiet_NaN()), 0);
    for (int c = 0; c < 8; ++c)
        EXPECT_EQ(board().codec(0x48)->reg[0x08 + c], 0xFF);
    EXPECT_EQ(cs.startAudio(1), 0);
    EXPECT_EQ(board().codec(0x48)->reg[0x07], 0x00);
    EXPECT_EQ(board().codec(0x48)->reg[0x02], 0x00);

    board().setI2cPresent(2, 0x48, false);
    Cs42448_Codec missing(2, 0x48, false);
    EXPECT_EQ(missing.initCodec(), -1);
}

TEST_F(BoardTest, HardwareRowMakesTheInstrumentCodec) {
    registerCodecDrivers();
    EXPECT_EQ(Bela_hwFromName("VeskPcm3168A"), 14);
    std::unique_ptr<AudioCodec> codec(host::makeCodec(14));
    ASSERT_NE(dynamic_cast<Pcm3168A_Codec*>(codec.get()), nullptr);
    std::unique_ptr<AudioCodec> other(host::makeCodec(13));
    EXPECT_NE(dynamic_cast<Cs42448_Codec*>(other.get()), nullptr);
}
