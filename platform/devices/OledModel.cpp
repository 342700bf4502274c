#include "platform/devices/OledModel.h"

#include "platform/FileIdentity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>

namespace host {
namespace {

// How often the mirror file is rewritten at most while frames arrive.
constexpr uint64_t kMirrorIntervalNs = 200'000'000;
// How much of the picture's name its temporary file's name keeps.
constexpr size_t kAsideNameChars = 200;

uint64_t nowNs() {
    return uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count());
}

// A hidden file of our own beside `target`, made afresh: a name no file
// there has, so nothing of the player's (nor a picture a killed run left
// behind) is ever opened or removed. The process id first; when that name is
// taken, others drawn at random. Null, errno set, when none can be made.
std::FILE* createAside(const std::string& target, std::string& temporary) {
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    // Short enough to stay a valid name however long the picture's is.
    const std::string name = target.substr(folder.size()).substr(0, kAsideNameChars);
    const std::string stem = folder + "." + name + ".corvane-" + std::to_string(getpid());
    for (int attempt = 0; attempt < 64; ++attempt) {
        char suffix[16] = "";
        if (attempt > 0)
            std::snprintf(suffix, sizeof suffix, "-%08x", unsigned(std::random_device{}()));
        temporary = stem + suffix + ".tmp";
        const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0) {
            std::FILE* f = fdopen(fd, "wb");
            if (!f) {
                const int error = errno;
                close(fd);
                unlink(temporary.c_str());
                errno = error;
            }
            return f;
        }
        if (errno != EEXIST)
            return nullptr;
    }
    return nullptr;
}

}  // namespace

void OledModel::powerOn() {
    on_ = false;
    unlocked_ = true;
    clock_ = 0;
    remap_[0] = remap_[1] = 0;
    colStart_ = 0, colEnd_ = kColumns - 1, rowStart_ = 0, rowEnd_ = kRows - 1;
    col_ = row_ = half_ = 0;
    command_ = -1;
    argIndex_ = 0;
    writingRam_ = false;
    ramBytes_ = 0;
    frames_ = 0;
    commands_.clear();
    ram_.fill(0);
}

void OledModel::bytes(bool data, const uint8_t* bytes, size_t length) {
    // Only a command ends RAM writing: a frame's data goes in as one run.
    if (data && writingRam_) {
        _ram(bytes, length);
        return;
    }
    for (size_t i = 0; i < length; ++i) {
        if (!data)
            _command(bytes[i]);
        else
            _argument(bytes[i]);
    }
}

void OledModel::_command(uint8_t c) {
    commands_.push_back(c);
    writingRam_ = false;
    if (!unlocked_ && c != 0xFD)
        return;  // a locked controller ignores everything but the unlock
    command_ = c;
    argIndex_ = 0;
    switch (c) {
    case 0xAE: on_ = false; break;
    case 0xAF: on_ = true; break;
    case 0x5C:
        writingRam_ = true;
        half_ = 0;
        break;
    default: break;
    }
}

void OledModel::_argument(uint8_t a) {
    commands_.push_back(a);
    if (command_ < 0)
        return;
    const unsigned n = argIndex_++;
    switch (command_) {
    case 0xFD:
        if (n == 0)
            unlocked_ = (a & 0x04) == 0;  // 0x12 unlocks, 0x16 locks
        break;
    case 0x15:
        if (n == 0)
            colStart_ = col_ = a < kColumns ? a : kColumns - 1;
        else if (n == 1)
            colEnd_ = a < kColumns ? a : kColumns - 1;
        break;
    case 0x75:
        if (n == 0)
            rowStart_ = row_ = a & 0x7F;
        else if (n == 1)
            rowEnd_ = a & 0x7F;
        break;
    case 0xB3:
        if (n == 0)
            clock_ = a;
        break;
    case 0xA0:
        if (n < 2)
            remap_[n] = a;
        break;
    default: break;
    }
}

void OledModel::_ram(const uint8_t* bytes, size_t length) {
    ramBytes_ += unsigned(length);
    // A column holds four pixels in two bytes. With nibble remapping the
    // high nibble is the left pixel of a byte; without it the order of the
    // four pixels is reversed.
    const bool nibbleRemap = (remap_[0] & 0x04) != 0;
    // The position in locals: a byte stored to the RAM could be any member.
    unsigned col = col_, row = row_, half = half_;
    for (size_t i = 0; i < length; ++i) {
        // Whole columns up to the end of the row at once: a frame is mostly that.
        if (half == 0 && col < colEnd_) {
            const size_t columns = std::min<size_t>(colEnd_ - col, (length - i) / 2);
            uint8_t* out = &ram_[(row * kColumns + col) * 4];
            const uint8_t* in = bytes + i;
            for (size_t c = 0; c < columns; ++c, in += 2, out += 4) {
                if (nibbleRemap) {
                    out[0] = in[0] >> 4, out[1] = in[0] & 15, out[2] = in[1] >> 4, out[3] = in[1] & 15;
                } else {
                    out[3] = in[0] & 15, out[2] = in[0] >> 4, out[1] = in[1] & 15, out[0] = in[1] >> 4;
                }
            }
            col += unsigned(columns);
            i += 2 * columns;
            if (i == length)
                break;
        }
        const uint8_t b = bytes[i];
        uint8_t* column = &ram_[(row * kColumns + col) * 4];
        if (nibbleRemap) {
            column[half * 2] = b >> 4;
            column[half * 2 + 1] = b & 15;
        } else {
            column[3 - half * 2] = b & 15;
            column[2 - half * 2] = b >> 4;
        }
        if (++half < 2)
            continue;
        half = 0;
        if (col < colEnd_) {
            ++col;
            continue;
        }
        col = colStart_;
        if (row < rowEnd_) {
            ++row;
            continue;
        }
        row = rowStart_;
        _frameDone();
    }
    col_ = col, row_ = row, half_ = half;
}

void OledModel::_frameDone() {
    ++frames_;
    if (mirror_.empty())
        return;
    uint64_t now = nowNs();
    if (lastMirrorNs_ == 0 || now - lastMirrorNs_ >= kMirrorIntervalNs) {
        lastMirrorNs_ = now;
        _writeMirror();
    } else {
        mirrorBehind_ = true;
    }
}

// The start's check and every later picture take this one way. A regular
// file is replaced whole (written aside, then renamed over it), so a viewer
// never reads half a picture; a link is followed and stays. Anything else
// is no place for a picture that is replaced whole: a FIFO or a device is
// left as it is and refused.
std::string OledModel::_writeMirror() {
    mirrorBehind_ = false;
    std::string target = mirror_;
    if (std::string refused = followLinks(target, true); !refused.empty())
        return refused;
    struct stat st {};
    const bool there = lstat(target.c_str(), &st) == 0;
    if (there && S_ISDIR(st.st_mode))
        return std::strerror(EISDIR);  // renaming onto "." would say "busy"
    if (there && !S_ISREG(st.st_mode))
        return "not a regular file";
    std::string temporary;
    std::FILE* f = createAside(target, temporary);
    if (!f)
        return std::strerror(errno);
    const bool written = _pgm(f);
    if (written && std::rename(temporary.c_str(), target.c_str()) == 0)
        return {};
    const int error = errno;
    unlink(temporary.c_str());
    return std::strerror(error);
}

bool OledModel::setMirror(const std::string& path, std::string* why) {
    // The picture the run ended with, not the last one the interval let through.
    if (!mirror_.empty() && mirrorBehind_ && path != mirror_)
        _writeMirror();
    mirror_ = path;
    lastMirrorNs_ = 0;
    mirrorBehind_ = false;
    if (mirror_.empty())
        return true;
    // The display as it is now (dark before the first frame), so that a
    // path that cannot take the picture is known before the run starts.
    const std::string failed = _writeMirror();
    if (failed.empty())
        return true;
    if (why)
        *why = failed;
    mirror_.clear();
    return false;
}

uint8_t OledModel::pixel(unsigned x, unsigned y) const {
    if (x >= kWidth || y >= kHeight)
        return 0;
    // The panel shows columns 28..91 and rows 0..63 of the RAM; the remap
    // byte decides the scan directions.
    unsigned ry = (remap_[0] & 0x10) ? y : kHeight - 1 - y;
    unsigned px = (remap_[0] & 0x02) ? kWidth - 1 - x : x;
    unsigned col = 28 + px / 4;
    return ram_[(ry * kColumns + col) * 4 + px % 4];
}

bool OledModel::writePgm(const std::string& path) const {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    return f && _pgm(f);
}

// Writes the picture and closes `f`.
bool OledModel::_pgm(std::FILE* f) const {
    bool ok = std::fprintf(f, "P5\n%u %u\n15\n", kWidth, kHeight) > 0;
    uint8_t row[kWidth];
    for (unsigned y = 0; y < kHeight && ok; ++y) {
        for (unsigned x = 0; x < kWidth; ++x)
            row[x] = pixel(x, y);
        ok = std::fwrite(row, 1, kWidth, f) == kWidth;
    }
    return std::fclose(f) == 0 && ok;
}

}  // namespace host
