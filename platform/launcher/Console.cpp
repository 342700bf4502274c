#include "platform/launcher/Console.h"

#include "platform/RtPrintf.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace launcher {

namespace {

// Far more than a session's lines between two looks at the console.
constexpr size_t kMostQueued = 64 * 1024;
constexpr auto kEndPatience = std::chrono::milliseconds(250);

size_t newlines(const char* text, size_t length) { return size_t(std::count(text, text + length, '\n')); }

ssize_t queueWrite(void* cookie, const char* text, size_t size) {
    static_cast<Console*>(cookie)->put(text, size);
    return ssize_t(size);
}

}  // namespace

Console& console() {
    // Never destroyed: its end runs at exit, after main.
    static Console* const one = [] {
        auto* made = new Console;
        atexit([] { console().finish(); });
        return made;
    }();
    return *one;
}

void Console::takeStandardError() {
    FILE* queued = fopencookie(this, "w", cookie_io_functions_t{nullptr, queueWrite, nullptr, nullptr});
    if (!queued)
        return;
    // Unbuffered: each fprintf queues its text whole, in call order.
    setvbuf(queued, nullptr, _IONBF, 0);
    fflush(stderr);
    stderr = queued;
}

void Console::put(const char* text, size_t length) {
    if (gone_)
        return;
    // The rest of a line that lost a piece goes too, up to its newline.
    if (cut_) {
        const char* end = static_cast<const char*>(memchr(text, '\n', length));
        if (!end)
            return;
        cut_ = openLine_ = false;
        length -= size_t(end + 1 - text);
        text = end + 1;
    }
    if (length == 0)
        return;
    if (text_.size() - done_ + length > kMostQueued) {
        _lose(text, length);
        return;
    }
    _sayTheLoss();
    text_.append(text, length);
    openLine_ = text[length - 1] != '\n';
    writeSome();
}

// Each line the text touches counts once: one begun in the queue is counted here.
void Console::_lose(const char* text, size_t length) {
    const bool endsLine = text[length - 1] == '\n';
    lost_ += newlines(text, length) + (endsLine ? 0 : 1);
    cut_ = !endsLine;
    openLine_ = !endsLine;
}

void Console::_dropQueued() {
    if (pending())
        _lose(text_.data() + done_, text_.size() - done_);
    text_.clear();
    done_ = 0;
}

// Nobody is told of what a console that has gone loses.
void Console::_leave() {
    gone_ = true;
    text_.clear();
    done_ = 0;
    lost_ = 0;
}

// The count of lines lost goes before the next text, on a line of its own.
void Console::_sayTheLoss() {
    if (lost_ == 0)
        return;
    char line[96];
    std::string said = openLine_ ? "\n" : "";
    const int length = snprintf(line, sizeof line, host::kConsoleFellBehind, lost_, lost_ == 1 ? "line" : "lines");
    said.append(line, size_t(std::max(length, 0)));
    text_ += said;
    openLine_ = false;
    lost_ = 0;
}

void Console::writeSome() {
    if (fd_ < 0)
        fd_ = host::consoleDescriptor(STDERR_FILENO);
    while (pending() && fd_ >= 0) {
        pollfd room{fd_, POLLOUT, 0};
        if (poll(&room, 1, 0) != 1)
            return;
        if ((room.revents & POLLOUT) == 0 || (room.revents & POLLERR) != 0) {
            _leave();  // closed or gone: it takes nothing more
            return;
        }
        // A piece no larger than PIPE_BUF fits a pipe with room whole.
        const size_t piece = std::min<size_t>(text_.size() - done_, PIPE_BUF);
        const ssize_t n = write(fd_, text_.data() + done_, piece);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return;
        if (n <= 0) {
            _leave();
            return;
        }
        done_ += size_t(n);
        written_ += size_t(n);
        if (done_ == text_.size()) {
            text_.clear();
            done_ = 0;
            // All that was queued is out: the console takes text again.
            _sayTheLoss();
        } else if (done_ >= kMostQueued / 2) {
            text_.erase(0, done_);
            done_ = 0;
        }
    }
}

void Console::finish() {
    auto lastProgress = std::chrono::steady_clock::now();
    for (;;) {
        const unsigned long long before = written_;
        writeSome();
        if (!pending())
            return;
        const auto now = std::chrono::steady_clock::now();
        if (written_ != before) {
            lastProgress = now;
        } else if (now - lastProgress > kEndPatience) {
            _dropQueued();
            return;
        }
        pollfd room{fd_, POLLOUT, 0};
        poll(&room, 1, 10);
    }
}

}  // namespace launcher
