#include "gui/Screenshot.h"

#include "platform/Paths.h"
#include "platform/RtPrintf.h"

#include <cstdio>

namespace {

constexpr const char* kName = "screenshot";
constexpr const char* kExtension = ".pgm";
constexpr int kImageWidth = 256, kImageHeight = 64, kBorder = 8;
constexpr unsigned kBorderLevel = 6;

// "%u" and a space into out (at least 16 bytes); returns the length.
size_t formatValue(unsigned value, char* out) {
    char digits[12];
    size_t n = 0;
    do {
        digits[n++] = char('0' + value % 10);
        value /= 10;
    } while (value && n < sizeof(digits));
    size_t len = 0;
    while (n)
        out[len++] = digits[--n];
    out[len++] = ' ';
    return len;
}

// Collects the text in a buffer and writes it in large pieces.
class PgmWriter {
public:
    explicit PgmWriter(FILE* f) : f_(f) {}
    void value(unsigned v) {
        if (used_ + 16 > sizeof(buffer_))
            flush();
        used_ += formatValue(v, buffer_ + used_);
    }
    void text(const char* s) {
        while (*s) {
            if (used_ + 1 > sizeof(buffer_))
                flush();
            buffer_[used_++] = *s++;
        }
    }
    void flush() {
        if (used_ && fwrite(buffer_, 1, used_, f_) != used_)
            failed_ = true;
        used_ = 0;
    }
    bool failed() const { return failed_; }

private:
    FILE* f_;
    char buffer_[8192];
    size_t used_ = 0;
    bool failed_ = false;
};

}  // namespace

bool saveScreenshot(const std::string& folder, const uint8_t* framebuffer, bool framed) {
    const std::string path = host::hostPath(folder + kName + kExtension);
    // Written beside the old picture and renamed over it only when complete,
    // so a failed write never destroys the last good screenshot.
    const std::string partial = path + ".part";
    FILE* f = fopen(partial.c_str(), "w");
    if (!f) {
        rt_printf("Screenshot failed, [%s] could not be opened for writing..\n", path.c_str());
        return false;
    }
    const int outW = framed ? kImageWidth + 2 * kBorder : kImageWidth;
    const int outH = framed ? kImageHeight + 2 * kBorder : kImageHeight;
    PgmWriter out(f);
    out.text("P2\n#\n");
    out.value(unsigned(outW));
    out.value(unsigned(outH));
    out.text("\n");
    out.text("15\n");  // the maximum grey value, without the values' space

    if (framed) {
        // The top border shares the line of the first image row.
        for (int x = 0; x < outW; ++x)
            out.value(kBorderLevel);
        for (int r = 1; r < kBorder; ++r)
            for (int x = 0; x < outW; ++x)
                out.value(x == 0 || x == outW - 1 ? kBorderLevel : 0);
    }
    for (int y = 0; y < kImageHeight; ++y) {
        if (framed) {
            out.value(kBorderLevel);
            for (int i = 1; i < kBorder; ++i)
                out.value(0);
        }
        for (int x = 0; x < kImageWidth; ++x) {
            const uint8_t byte = framebuffer[(x >> 1) + 128 * y];
            out.value((x & 1) ? (byte & 15u) : (byte >> 4));
        }
        if (framed) {
            for (int i = 1; i < kBorder; ++i)
                out.value(0);
            out.value(kBorderLevel);
        }
        out.text("\n");
    }
    if (framed) {
        for (int r = 1; r < kBorder; ++r) {
            for (int x = 0; x < outW; ++x)
                out.value(x == 0 || x == outW - 1 ? kBorderLevel : 0);
            out.text("\n");
        }
        for (int x = 0; x < outW; ++x)
            out.value(kBorderLevel);
        out.text("\n");
    }
    out.flush();
    // A full disk shows up at the last write or at the close; either way the
    // file is not a usable picture.
    const bool writeOk = !out.failed() && fflush(f) == 0;
    const bool closeOk = fclose(f) == 0;
    if (!writeOk || !closeOk || rename(partial.c_str(), path.c_str()) != 0) {
        remove(partial.c_str());
        rt_printf("Screenshot failed, [%s] could not be written completely..\n", path.c_str());
        return false;
    }
    rt_printf("Screenshot saved in [%s]\n", path.c_str());
    return true;
}
