#include "platform/RtPrintf.h"

#include "platform/Stops.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

// Each stream (stdout, stderr) has a bounded multi-producer single-consumer
// queue of fixed-size slots: each slot carries a sequence number that tells
// producers and the consumer whose turn it is, so no producer ever waits for
// another. A ticket from one counter orders the slots of both streams, so
// lines printed one after the other on the two reach one console in order.
constexpr size_t kSlots = 1024;
constexpr size_t kSlotBytes = 512;
constexpr size_t kPieceText = kSlotBytes - 1;  // what one slot takes of a longer text

// At the end, a console that has taken nothing for this long (a pipe nobody
// reads, a paused pager, a write held on a terminal) loses what is left
// rather than hold the exit. Counted in the writer's rounds, each a look at
// the console: a writer kept from its core is waited for, never cut short.
constexpr auto kRoundPause = std::chrono::milliseconds(2);
constexpr auto kPatience = std::chrono::milliseconds(250);
constexpr uint64_t kPatientRounds = kPatience / kRoundPause;
// What a process ending at once gives the logger to write what is queued.
constexpr long long kFlushPatienceNs = 200'000'000;

constexpr const char* kFellBehind = host::kConsoleFellBehind;
constexpr size_t kFellBehindBytes = 64;

// What goes to the console in one write: a newline, the line above and a
// slot's text. A pipe with room takes it whole.
constexpr size_t kPieceBytes = 1 + kFellBehindBytes + kSlotBytes;
static_assert(kPieceBytes <= PIPE_BUF, "a piece goes to a pipe in one write that never waits");

struct Slot {
    std::atomic<uint64_t> sequence{0};
    uint64_t ticket = 0;
    uint64_t lostLines = 0;  // lost just before this text (see Loss)
    bool afterLoss = false;
    bool lossBeganMidLine = false;
    bool ownLine = false;
    uint16_t length = 0;
    char text[kSlotBytes];
};

// What the producers of a stream know of its lines, in one word. A lost
// piece takes the rest of its line with it (up to its newline), so no two
// lines are ever glued into one; the next text queued carries the loss.
namespace Loss {
constexpr uint64_t kCut = 1;       // the line in progress lost a piece: its rest goes too
constexpr uint64_t kPending = 2;   // text lost since the last slot
constexpr uint64_t kBeganMidLine = 4;  // ... first within a line whose start is queued
constexpr uint64_t kOpenLine = 8;  // the stream's last text did not end its line
constexpr int kLinesShift = 8;     // lines lost, a line whose start is queued aside
constexpr uint64_t kCarried = ~(kCut | kOpenLine);  // what a slot takes along
}  // namespace Loss

template <typename Change>
uint64_t update(std::atomic<uint64_t>& word, Change change) {
    uint64_t old = word.load(std::memory_order_relaxed);
    while (!word.compare_exchange_weak(old, change(old), std::memory_order_acq_rel, std::memory_order_relaxed)) {
    }
    return old;
}

size_t newlines(const char* text, size_t length) { return size_t(std::count(text, text + length, '\n')); }

// A file the logger writes to: stdout and stderr share one when they lead
// to the same file, pipe or terminal.
struct Console {
    bool midLine = false;
    bool lossToSay = false;     // lines were lost: say how many before the next text
    bool startLineNext = false;  // the next text starts a line of its own
};

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_rdev == b.st_rdev;
}

// A descriptor of the logger's own (close-on-exec) for console `fd`: a
// terminal's is a description of its own that never blocks, while the
// caller's shell keeps its own as it was. Any other console's (and a
// terminal's that cannot be opened again: another user's, one held
// exclusive) is a duplicate of `fd`. -1 when none can be had.
int consoleDescriptor(int fd) {
    if (isatty(fd)) {
        char path[32];
        snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
        const int own = open(path, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (own >= 0)
            return own;
    }
    return fcntl(fd, F_DUPFD_CLOEXEC, 3);
}

struct Stream {
    explicit Stream(int descriptor) : fd(descriptor) {
        for (size_t i = 0; i < kSlots; ++i)
            slots[i].sequence.store(i, std::memory_order_relaxed);
    }

    const int fd;
    Slot slots[kSlots];
    std::atomic<uint64_t> enqueue{0};
    std::atomic<uint64_t> lines{0};  // Loss:: bits
    // Slots written out or dropped: the logger's progress, for a process
    // about to end at once.
    std::atomic<uint64_t> finished{0};
    FILE* console = nullptr;  // the stream as it was before the logger took it
    FILE* queued = nullptr;   // the stream that stands for it meanwhile
    // The logger writes through a descriptor of its own for what `fd` leads
    // to (see consoleDescriptor), taken again when `fd` is pointed
    // elsewhere.
    int target = -1;
    struct stat targetIs {};
    // A byte a write where one may wait (a terminal shared as it was, blocking): one that waits took nothing.
    bool mayWait = false;

    // The logger thread's own: the piece being written, where the slot's
    // text begins in it, and the loss it says.
    uint64_t dequeue = 0;
    char piece[kPieceBytes];
    size_t length = 0, done = 0, textFrom = 0;
    uint64_t saying = 0;
    bool skipping = false;  // the logger dropped a piece of the line in progress

    bool inHand() const { return done < length; }

    const Slot* ready() const {
        const Slot& slot = slots[dequeue % kSlots];
        return slot.sequence.load(std::memory_order_acquire) == dequeue + 1 ? &slot : nullptr;
    }

    uint64_t readyTicket() const {
        const Slot* slot = ready();
        return slot ? slot->ticket : UINT64_MAX;
    }
};

struct Logger {
    Stream out{STDOUT_FILENO}, err{STDERR_FILENO};
    std::atomic<uint64_t> tickets{0};
    std::atomic<bool> running{false};
    std::atomic<bool> quit{false};
    // What the thread does, for whoever waits on it: its writes (odd inside one: whoever moves an odd count on,
    // the thread or the end, owns what follows), its rounds in a row whose console took nothing, its end.
    std::atomic<uint64_t> writes{0};
    std::atomic<uint64_t> refused{0};
    std::atomic<bool> ended{false};
    Stream* writing = nullptr;  // the stream of the last write
    std::atomic<uint64_t> dropped{0};  // lines, counted by the logger thread
    uint64_t said = 0;                 // of those, said on a console
    unsigned starts = 0;
    std::thread thread;
    std::atomic<pid_t> threadId{0};
    std::mutex control;
    Console consoles[2];
    bool oneConsole = false;

    Console& consoleOf(const Stream& s) { return oneConsole || &s == &err ? consoles[1] : consoles[0]; }

    // Queues text written on `s`, never waiting: a full ring loses it, and
    // the rest of its line with it.
    void put(Stream& s, const char* text, size_t length, bool ownLine) {
        if (length == 0)
            return;
        if (ownLine) {
            // A line of its own ends one cut short.
            if (s.lines.load(std::memory_order_acquire) & Loss::kCut)
                update(s.lines, [](uint64_t w) { return (w & ~Loss::kCut) | Loss::kPending; });
        } else if (s.lines.load(std::memory_order_acquire) & Loss::kCut) {
            const char* end = static_cast<const char*>(memchr(text, '\n', length));
            if (!end)
                return;
            update(s.lines, [](uint64_t w) { return (w & ~(Loss::kCut | Loss::kOpenLine)) | Loss::kPending; });
            length -= size_t(end + 1 - text);
            text = end + 1;
            if (length == 0)
                return;
        }
        const bool endsLine = text[length - 1] == '\n';
        uint64_t position = s.enqueue.load(std::memory_order_relaxed);
        for (;;) {
            Slot& slot = s.slots[position % kSlots];
            const uint64_t sequence = slot.sequence.load(std::memory_order_acquire);
            const int64_t difference = int64_t(sequence) - int64_t(position);
            if (difference == 0) {
                if (s.enqueue.compare_exchange_weak(position, position + 1, std::memory_order_relaxed))
                    break;
            } else if (difference < 0) {
                lose(s, text, length, ownLine, endsLine);
                return;
            } else {
                position = s.enqueue.load(std::memory_order_relaxed);
            }
        }
        Slot& slot = s.slots[position % kSlots];
        slot.ticket = tickets.fetch_add(1, std::memory_order_relaxed);
        const uint64_t before = update(s.lines, [endsLine](uint64_t w) {
            w &= ~Loss::kCarried;
            return endsLine ? w : w | Loss::kOpenLine;
        });
        slot.afterLoss = (before & Loss::kPending) != 0;
        slot.lossBeganMidLine = (before & Loss::kBeganMidLine) != 0;
        slot.lostLines = before >> Loss::kLinesShift;
        slot.ownLine = ownLine;
        slot.length = uint16_t(length);
        std::memcpy(slot.text, text, length);
        slot.sequence.store(position + 1, std::memory_order_release);
    }

    // Each line a lost piece touches counts once; a line whose start is
    // queued is the logger's to count, which knows whether it dropped that
    // start already.
    static void lose(Stream& s, const char* text, size_t length, bool ownLine, bool endsLine) {
        const uint64_t touched = newlines(text, length) + (endsLine ? 0 : 1);
        update(s.lines, [&](uint64_t w) {
            const bool inQueuedLine = !ownLine && (w & Loss::kOpenLine) && !(w & Loss::kPending);
            const uint64_t lines = (w >> Loss::kLinesShift) + touched - (!ownLine && (w & Loss::kOpenLine) ? 1 : 0);
            w = (w & ((uint64_t(1) << Loss::kLinesShift) - 1)) | (lines << Loss::kLinesShift) | Loss::kPending;
            if (inQueuedLine)
                w |= Loss::kBeganMidLine;
            return endsLine ? w & ~(Loss::kCut | Loss::kOpenLine) : w | Loss::kCut | Loss::kOpenLine;
        });
    }

    // The logger's side of a loss: counted, and said before the next text.
    void takeLoss(Stream& s, uint64_t lines, bool beganMidLine) {
        dropped.fetch_add(lines + (beganMidLine && !s.skipping ? 1 : 0), std::memory_order_relaxed);
        s.skipping = false;  // the cut line ended within the loss
        Console& c = consoleOf(s);
        c.lossToSay = c.startLineNext = true;
    }

    // A loss no slot has carried yet, once the ring is empty.
    void takeTrailingLoss(Stream& s) {
        if (!(s.lines.load(std::memory_order_acquire) & Loss::kPending) || s.ready())
            return;
        const uint64_t before = update(s.lines, [](uint64_t w) { return w & ~Loss::kCarried; });
        if (before & Loss::kPending)
            takeLoss(s, before >> Loss::kLinesShift, (before & Loss::kBeganMidLine) != 0);
    }

    uint64_t unsaid() const { return dropped.load(std::memory_order_relaxed) - said; }

    // Starts the piece with the count of lost lines when it is due, or with
    // a newline when its text must start a line of its own.
    void beginPiece(Stream& s, Console& c, bool ownLine) {
        s.length = s.done = 0;
        s.saying = 0;
        if (c.lossToSay && unsaid() > 0) {
            if (c.midLine)
                s.piece[s.length++] = '\n';
            s.saying = unsaid();
            s.length += size_t(snprintf(s.piece + s.length, kFellBehindBytes, kFellBehind,
                                        static_cast<unsigned long long>(s.saying), s.saying == 1 ? "line" : "lines"));
        } else if ((ownLine || c.startLineNext) && c.midLine) {
            s.piece[s.length++] = '\n';
        }
        c.lossToSay = false;
        s.textFrom = s.length;
    }

    // Takes the next slot into the piece in hand, as the console gets it:
    // what is left of a line that lost a piece goes. False when no slot is
    // ready.
    bool take(Stream& s) {
        const Slot* slot = s.ready();
        if (!slot)
            return false;
        if (slot->afterLoss)
            takeLoss(s, slot->lostLines, slot->lossBeganMidLine);
        const char* text = slot->text;
        size_t length = slot->length;
        if (s.skipping && !slot->ownLine) {
            const char* end = static_cast<const char*>(memchr(text, '\n', length));
            s.skipping = end == nullptr;
            const size_t skipped = end ? size_t(end + 1 - text) : length;
            text += skipped;
            length -= skipped;
        } else {
            s.skipping = false;
        }
        Console& c = consoleOf(s);
        if (length > 0) {
            beginPiece(s, c, slot->ownLine);
            std::memcpy(s.piece + s.length, text, length);
            s.length += length;
            c.startLineNext = false;
        }
        s.slots[s.dequeue % kSlots].sequence.store(s.dequeue + kSlots, std::memory_order_release);
        ++s.dequeue;
        if (!s.inHand())
            s.finished.store(s.dequeue, std::memory_order_release);
        return true;
    }

    // The count alone, when nothing queued comes to carry it.
    bool takeCount(Stream& s) {
        Console& c = consoleOf(s);
        if (!c.lossToSay)
            return false;
        if (unsaid() == 0) {
            c.lossToSay = false;
            return false;
        }
        beginPiece(s, c, false);
        c.startLineNext = false;
        return true;
    }

    void pieceDone(Stream& s) {
        s.length = s.done = 0;
        s.finished.store(s.dequeue, std::memory_order_release);
    }

    // What is left of the piece in hand goes: each line it touches counts,
    // and the rest of the last one goes too.
    void dropPiece(Stream& s) {
        Console& c = consoleOf(s);
        // A count that did not go out is said at the next loss, or at the
        // end: a console gone (a reader that left) is not asked again.
        const size_t from = std::max(s.done, s.textFrom);
        if (from < s.length) {
            const bool endsLine = s.piece[s.length - 1] == '\n';
            dropped.fetch_add(newlines(s.piece + from, s.length - from) + (endsLine ? 0 : 1),
                              std::memory_order_relaxed);
            s.skipping = !endsLine;
            c.lossToSay = true;
        }
        c.startLineNext = true;
        pieceDone(s);
    }

    enum class Step { Idle, Blocked, Moved, LetGo /* the end took over a write */ };

    // Whether the stream's own descriptor is still the file it took: a stray
    // close elsewhere may have freed its number, and another file taken it
    // since. That one is not ours, to write into or to close.
    static bool stillTaken(const Stream& s) {
        struct stat now {};
        return s.target >= 0 && fstat(s.target, &now) == 0 && sameFile(now, s.targetIs);
    }

    static void letGo(Stream& s) {
        if (stillTaken(s))
            close(s.target);
        s.target = -1;
    }

    // A descriptor no longer ours, or a stream pointed elsewhere (the offline
    // relay taking the terminal, or giving it back), is let go of at once,
    // so a relay that ends sees no writer of ours.
    static void letGoIfMoved(Stream& s) {
        struct stat now {};
        if (s.target >= 0 && (!stillTaken(s) || fstat(s.fd, &now) != 0 || !sameFile(now, s.targetIs)))
            letGo(s);
    }

    // Takes a descriptor for what the stream leads to now. Whoever holds the
    // streams while the console changes hands goes first: nothing of ours
    // reaches the new console ahead of what the old one still holds.
    bool aim(Stream& s) {
        if (s.target >= 0)
            return true;
        if (out.queued && ftrylockfile(out.queued) != 0)
            return false;
        if (err.queued && ftrylockfile(err.queued) != 0) {
            if (out.queued)
                funlockfile(out.queued);
            return false;
        }
        s.target = consoleDescriptor(s.fd);
        if (s.target >= 0 && fstat(s.target, &s.targetIs) != 0) {
            close(s.target);
            s.target = -1;
        }
        s.mayWait = s.target >= 0 && isatty(s.target) && !(fcntl(s.target, F_GETFL) & O_NONBLOCK);
        if (err.queued)
            funlockfile(err.queued);
        if (out.queued)
            funlockfile(out.queued);
        return s.target >= 0;
    }

    // Writes (a part of) the stream's next piece when its console takes it
    // now: a terminal's descriptor never waits, a piece goes to a pipe only
    // when poll says it has room, and a piece no larger than PIPE_BUF fits a
    // pipe with room whole. A terminal shared as it was may hold the write;
    // no lock is held while it writes, and the end may take over from it.
    Step step(Stream& s) {
        if (!s.inHand()) {
            takeTrailingLoss(s);
            const Console& c = consoleOf(s);
            if (!s.ready() && !(c.lossToSay && unsaid() > 0))
                return Step::Idle;
        }
        if (!aim(s))
            return Step::Blocked;
        pollfd fd{s.target, POLLOUT, 0};
        if (poll(&fd, 1, 0) <= 0)
            return Step::Blocked;
        if (!s.inHand()) {
            if (!take(s) && !takeCount(s))
                return Step::Idle;
            if (!s.inHand())
                return Step::Moved;  // a slot that was all the rest of a cut line
        }
        if ((fd.revents & POLLOUT) == 0) {
            dropPiece(s);  // closed or gone: it takes nothing more
            return Step::Moved;
        }
        char copy[kPieceBytes];  // what a write left held may take later: never the end's
        const size_t size = s.mayWait ? 1 : s.length - s.done;
        std::memcpy(copy, s.piece + s.done, size);
        writing = &s;
        uint64_t inWrite = writes.fetch_add(1, std::memory_order_acq_rel) + 1;
        const ssize_t n = write(fd.fd, copy, size);
        if (!writes.compare_exchange_strong(inWrite, inWrite + 1, std::memory_order_acq_rel))
            return close(fd.fd), Step::LetGo;  // the rest is the end's, but for the descriptor it left us
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return Step::Blocked;
        if (n <= 0) {
            dropPiece(s);
            return Step::Moved;
        }
        const size_t before = s.done;
        s.done += size_t(n);
        Console& c = consoleOf(s);
        c.midLine = s.piece[s.done - 1] != '\n';
        if (before < s.textFrom && s.done >= s.textFrom) {
            said += s.saying;
            s.saying = 0;
        }
        if (!s.inHand())
            pieceDone(s);
        return Step::Moved;
    }

    bool busy(const Stream& s) {
        return s.inHand() || s.ready() || (s.lines.load(std::memory_order_acquire) & Loss::kPending) ||
               (consoleOf(s).lossToSay && unsaid() > 0);
    }

    void findConsoles() {
        struct stat a {}, b {};
        const bool one = fstat(out.fd, &a) == 0 && fstat(err.fd, &b) == 0 && sameFile(a, b);
        if (oneConsole && !one)
            consoles[0] = consoles[1];
        oneConsole = one;
    }

    // Writes what the consoles take now: Idle when all is written. On one
    // console the lowest ticket goes first; a stream whose console takes
    // nothing holds only its own.
    Step writeSome(bool& progressed) {
        letGoIfMoved(out);
        letGoIfMoved(err);
        if (!busy(out) && !busy(err))
            return Step::Idle;
        findConsoles();
        for (;;) {
            Step a, b;
            if (oneConsole) {
                const bool outFirst =
                    out.inHand() || (!err.inHand() && out.readyTicket() <= err.readyTicket());
                Stream& first = outFirst ? out : err;
                a = step(first);
                b = a == Step::Idle ? step(outFirst ? err : out) : Step::Idle;
            } else {
                a = step(out);
                b = a == Step::LetGo ? a : step(err);
            }
            if (a == Step::LetGo || b == Step::LetGo)
                return Step::LetGo;
            if (a == Step::Moved || b == Step::Moved) {
                progressed = true;
                continue;
            }
            return a == Step::Idle && b == Step::Idle ? Step::Idle : Step::Blocked;
        }
    }

    // The end of a console that takes nothing: all that is left goes.
    void dropAll(Stream& s) {
        if (s.inHand())
            dropPiece(s);
        while (take(s))
            if (s.inHand())
                dropPiece(s);
        takeTrailingLoss(s);
    }

    // At the end, the count of lines lost goes where it is taken: standard
    // error when standard output takes nothing; never onto one that waits.
    void sayTheLossAtTheEnd() {
        if (unsaid() == 0)
            return;
        for (Stream* s : {&out, &err}) {
            if (!aim(*s) || s->mayWait)
                continue;
            pollfd fd{s->target, POLLOUT, 0};
            if (poll(&fd, 1, 0) != 1 || (fd.revents & POLLOUT) == 0)
                continue;
            Console& c = consoleOf(*s);
            c.lossToSay = true;
            beginPiece(*s, c, false);
            if (write(s->target, s->piece, s->length) > 0)
                said += s->saying;
            s->length = s->done = 0;
            return;
        }
    }

    void loop() {
        pthread_setname_np(pthread_self(), "corvane-log");
        threadId.store(pid_t(gettid()), std::memory_order_release);
        for (;;) {
            const bool ending = quit.load(std::memory_order_acquire);
            bool progressed = false;
            const Step round = writeSome(progressed);
            if (round == Step::LetGo)
                return;
            const uint64_t rounds = round == Step::Idle || progressed ? 0 : refused.load(std::memory_order_relaxed) + 1;
            refused.store(rounds, std::memory_order_release);
            if (ending && (round == Step::Idle || rounds >= kPatientRounds))
                break;
            std::this_thread::sleep_for(kRoundPause);
        }
        finish();
        ended.store(true, std::memory_order_release);
    }

    // The end of the consoles: what they did not take goes, counted, and the
    // count is said where it is taken. A descriptor a write holds is its own.
    void finish(const Stream* held = nullptr) {
        dropAll(out);
        dropAll(err);
        sayTheLossAtTheEnd();
        for (Stream* s : {&out, &err})
            s == held ? void(s->target = -1) : letGo(*s);
    }

    // Whether the thread sleeps (in a write, a terminal or a pipe waiting
    // for its reader), as the kernel says; taken as so where it cannot say.
    bool asleep() const {
        char path[48], state = 'S';
        snprintf(path, sizeof path, "/proc/self/task/%d/stat", int(threadId.load(std::memory_order_acquire)));
        if (FILE* stat = fopen(path, "re")) {
            (void)!fscanf(stat, "%*d (%*[^)]) %c", &state);
            fclose(stat);
        }
        return state == 'S';
    }

    // Waits until done() holds, or until the thread cannot go on: asleep in
    // one write for the patience, or (with `refusals`) refused by its console
    // for its patience. A thread waiting for a core, or whose writes are
    // taken, is waited for. The write it is held in, or 0.
    template <typename Done>
    uint64_t await(Done done, bool refusals) {
        uint64_t held = 0;
        for (auto since = std::chrono::steady_clock::now(); !done(); std::this_thread::sleep_for(kRoundPause / 2)) {
            if (refusals && refused.load(std::memory_order_acquire) >= kPatientRounds)
                return 0;
            const uint64_t write = writes.load(std::memory_order_acquire);
            if (write % 2 == 0 || write != held || !asleep())
                held = write, since = std::chrono::steady_clock::now();
            else if (std::chrono::steady_clock::now() - since >= kPatience)
                return write;
        }
        return 0;
    }

    // Before the first piece of a run: nothing of the last run's lines.
    void reset() {
        for (Stream* s : {&out, &err}) {
            s->lines.store(0, std::memory_order_relaxed);
            s->skipping = false;
            s->length = s->done = 0;
        }
        consoles[0] = consoles[1] = Console{};
        dropped.store(0, std::memory_order_relaxed);
        said = 0;
        refused.store(0, std::memory_order_relaxed);
    }
};

// Never destroyed: a thread held in a write may still use it at the exit.
Logger& logger() {
    static Logger* const l = new Logger;
    return *l;
}

// stdout and stderr while the logger runs: every printf, on any thread,
// queues its text as rt_printf does, so none waits for a console that
// nobody reads.
ssize_t queueWrite(void* cookie, const char* text, size_t size) {
    Logger& l = logger();
    Stream& s = *static_cast<Stream*>(cookie);
    if (!l.running.load(std::memory_order_acquire))
        return ssize_t(fwrite(text, 1, size, s.console));
    for (size_t at = 0; at < size; at += kPieceText)
        l.put(s, text + at, std::min(size - at, kPieceText), false);
    return ssize_t(size);
}

FILE* queuedStream(Stream& s) {
    FILE* f = fopencookie(&s, "w", cookie_io_functions_t{nullptr, queueWrite, nullptr, nullptr});
    // Unbuffered: each printf reaches the ring whole and in call order.
    if (f)
        setvbuf(f, nullptr, _IONBF, 0);
    return f;
}

// An abort ends the process once the logger has had a moment to write
// what went into the ring before it: a failed assertion's or an uncaught
// exception's last words, or what was printed before a watchdog's kill -ABRT.
void flushBeforeAbort(int) {
    host::rtLoggerFlush();
    host::endAtOnce(SIGABRT);
}

}  // namespace

int rt_vprintf(const char* format, va_list args) {
    Logger& l = logger();
    if (!l.running.load(std::memory_order_acquire)) {
        int n = vfprintf(stdout, format, args);
        fflush(stdout);
        return n;
    }
    char buffer[kSlotBytes];
    int n = vsnprintf(buffer, sizeof buffer, format, args);
    if (n < 0)
        return n;
    l.put(l.out, buffer, std::min(size_t(n), sizeof buffer - 1), false);
    return n;
}

int rt_printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = rt_vprintf(format, args);
    va_end(args);
    return n;
}

namespace host {

void rtPrintLine(const char* text, size_t length) {
    Logger& l = logger();
    length = std::min(length, kSlotBytes - 2);
    char line[kSlotBytes];
    std::memcpy(line, text, length);
    line[length++] = '\n';
    if (!l.running.load(std::memory_order_acquire)) {
        fwrite(line, 1, length, stdout);
        fflush(stdout);
    } else {
        l.put(l.out, line, length, true);
    }
}

bool rtLoggerFlush() {
    Logger& l = logger();
    if (!l.running.load(std::memory_order_acquire))
        return true;
    if (pid_t(gettid()) == l.threadId.load(std::memory_order_acquire))
        return false;
    const uint64_t outTarget = l.out.enqueue.load(std::memory_order_acquire);
    const uint64_t errTarget = l.err.enqueue.load(std::memory_order_acquire);
    timespec start{}, now{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const timespec step{0, 1000000};
    while (l.out.finished.load(std::memory_order_acquire) < outTarget ||
           l.err.finished.load(std::memory_order_acquire) < errTarget) {
        clock_gettime(CLOCK_MONOTONIC, &now);
        if ((now.tv_sec - start.tv_sec) * 1000000000ll + (now.tv_nsec - start.tv_nsec) > kFlushPatienceNs)
            return true;
        nanosleep(&step, nullptr);
    }
    return true;
}

void rtLoggerDrain() {
    Logger& l = logger();
    const uint64_t out = l.out.enqueue.load(), err = l.err.enqueue.load();
    if (l.running.load(std::memory_order_acquire) && pid_t(gettid()) != l.threadId.load(std::memory_order_acquire))
        l.await([&] { return l.out.finished.load() >= out && l.err.finished.load() >= err; }, true);
}

void rtLoggerStart() {
    Logger& l = logger();
    std::lock_guard<std::mutex> lock(l.control);
    if (l.starts++ > 0)
        return;
    for (Stream* s : {&l.out, &l.err})
        if (!s->queued)
            s->queued = queuedStream(*s);
    fflush(stdout);
    fflush(stderr);
    l.reset();
    l.quit.store(false);
    l.ended.store(false);
    l.thread = std::thread([&l] { l.loop(); });
    l.running.store(true, std::memory_order_release);
    if (l.out.queued) {
        l.out.console = stdout;
        stdout = l.out.queued;
    }
    if (l.err.queued) {
        l.err.console = stderr;
        stderr = l.err.queued;
    }
    struct sigaction previous {};
    if (sigaction(SIGABRT, nullptr, &previous) == 0 && previous.sa_handler == SIG_DFL)
        signal(SIGABRT, flushBeforeAbort);
}

void rtLoggerStop() {
    Logger& l = logger();
    std::lock_guard<std::mutex> lock(l.control);
    if (l.starts == 0 || --l.starts > 0)
        return;
    l.running.store(false, std::memory_order_release);
    l.quit.store(true, std::memory_order_release);
    // The thread ends once the consoles have taken what is queued or have
    // taken nothing for its patience. One held in a write that long is left
    // there, unless the write returns first: the rest goes, counted.
    for (;;) {
        uint64_t write = l.await([&l] { return l.ended.load(std::memory_order_acquire); }, false);
        if (write == 0) {
            l.thread.join();
            break;
        }
        if (l.writes.compare_exchange_strong(write, write + 1, std::memory_order_acq_rel)) {
            // The other console, when it is another, still gets what it takes.
            Stream* held = l.writing;
            held->mayWait = true;  // nothing more is written where a write waits
            Stream& other = held == &l.out ? l.err : l.out;
            if (!l.oneConsole && l.aim(other) && !other.mayWait)
                while (l.step(other) == Logger::Step::Moved) {
                }
            l.finish(held);
            l.thread.detach();  // it ends on its own if its write ever returns
            break;
        }
    }
    if (l.out.queued)
        stdout = l.out.console;
    if (l.err.queued)
        stderr = l.err.console;
    struct sigaction current {};
    if (sigaction(SIGABRT, nullptr, &current) == 0 && current.sa_handler == flushBeforeAbort)
        signal(SIGABRT, SIG_DFL);
}

unsigned rtLoggerDropped() { return unsigned(logger().dropped.load(std::memory_order_relaxed)); }

}  // namespace host
