// The display controller at its SPI interface: commands and their arguments
// (data/command line low) and RAM writes (high) decoded into the picture of
// the 256 x 64 panel, 16 grey levels. Reset by a rising reset line.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace host {

class OledModel {
public:
    static constexpr unsigned kWidth = 256, kHeight = 64;

    void powerOn();
    void resetPulse() { powerOn(); ++resets_; }
    void bytes(bool data, const uint8_t* bytes, size_t length);

    bool displayOn() const { return on_; }
    bool unlocked() const { return unlocked_; }
    uint8_t clockByte() const { return clock_; }
    unsigned resets() const { return resets_; }
    unsigned ramBytesWritten() const { return ramBytes_; }
    unsigned framesCompleted() const { return frames_; }
    // Command bytes seen since power-on, arguments included, in order.
    const std::vector<uint8_t>& commandStream() const { return commands_; }

    // Grey level 0..15 of a panel pixel.
    uint8_t pixel(unsigned x, unsigned y) const;
    // Binary grey map ("P5", 256 x 64, maxval 15); false when it cannot be written.
    bool writePgm(const std::string& path) const;
    // Rewritten a few times a second while frames arrive; a frame held back
    // by that interval is written when the mirror is changed or ended.
    // False (no mirror) when the picture cannot be written there, `why`
    // telling why.
    bool setMirror(const std::string& path, std::string* why = nullptr);

private:
    static constexpr unsigned kColumns = 120, kRows = 128;  // RAM: 4 pixels a column
    void _command(uint8_t c);
    void _argument(uint8_t a);
    void _ram(const uint8_t* bytes, size_t length);
    void _frameDone();
    std::string _writeMirror();  // empty when written, else why not
    bool _pgm(std::FILE* f) const;

    bool on_ = false, unlocked_ = true;
    uint8_t clock_ = 0;
    uint8_t remap_[2] = {0, 0};
    unsigned colStart_ = 0, colEnd_ = 119, rowStart_ = 0, rowEnd_ = 127;
    unsigned col_ = 0, row_ = 0, half_ = 0;  // half_: which byte of the column
    int command_ = -1;
    unsigned argIndex_ = 0;
    bool writingRam_ = false;
    unsigned resets_ = 0, ramBytes_ = 0, frames_ = 0;
    std::vector<uint8_t> commands_;
    std::array<uint8_t, kColumns * 4 * kRows> ram_{};
    std::string mirror_;
    uint64_t lastMirrorNs_ = 0;
    bool mirrorBehind_ = false;  // a frame came after the last write
};

}  // namespace host
