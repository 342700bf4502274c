#include "platform/RtPrintf.h"

#include "tests/support/TempDir.h"
#include "tests/support/wait.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// While set, the pipe of this inode says it has room though it is full, as
// when another writer takes the room between the logger's look and its
// write: the write waits for a reader.
std::atomic<ino_t> gFullPipeSaysRoom{0};

extern "C" int poll(struct pollfd* fds, nfds_t count, int timeout) {
    using Poll = int (*)(struct pollfd*, nfds_t, int);
    static const auto real = reinterpret_cast<Poll>(dlsym(RTLD_NEXT, "poll"));
    const int ready = real(fds, count, timeout);
    struct stat st {};
    if (ready == 0 && count == 1 && gFullPipeSaysRoom.load() != 0 && fstat(fds[0].fd, &st) == 0 &&
        st.st_ino == gFullPipeSaysRoom.load()) {
        fds[0].revents = POLLOUT;
        return 1;
    }
    return ready;
}

namespace {

// A pipe on a standard descriptor while it lives, its description shared
// and blocking as a shell leaves it; full at first when `unread` (a paused
// pager), so the console takes nothing until the test reads.
class ConsolePipe {
public:
    ConsolePipe(int fd, bool unread) : fd_(fd) {
        EXPECT_EQ(pipe2(ends_, O_CLOEXEC | O_NONBLOCK), 0);
        const char page[4096] = {};
        while (unread && write(ends_[1], page, sizeof page) > 0) {
        }
        fcntl(ends_[1], F_SETFL, 0);
        fflush(fd == 1 ? stdout : stderr);
        saved_ = dup(fd);
        dup2(ends_[1], fd);
    }
    ~ConsolePipe() {
        dup2(saved_, fd_);
        for (int fd : {saved_, ends_[0], ends_[1]})
            close(fd);
    }
    // What has come up to and including `end`, the filling left out; all
    // that has come when it does not.
    std::string readUntil(const std::string& end) {
        testsupport::waitUntil([&] {
            char buffer[8192];
            for (ssize_t n; (n = read(ends_[0], buffer, sizeof buffer)) > 0;)
                text_.append(buffer, size_t(n));
            text_.erase(std::remove(text_.begin(), text_.end(), '\0'), text_.end());
            return text_.find(end) != std::string::npos;
        }, std::chrono::milliseconds(1));
        const size_t at = text_.find(end);
        const size_t length = at == std::string::npos ? text_.size() : at + end.size();
        std::string got = text_.substr(0, length);
        text_.erase(0, length);
        return got;
    }

private:
    int fd_, saved_ = -1;
    int ends_[2] = {-1, -1};
    std::string text_;
};

// Each line on the console is a line as it was printed, or its start when
// the rest was lost, or the count of lines lost: never a piece from within
// a line, which would read as a line of its own.
void expectNoFragment(const std::string& console, const std::vector<std::string>& printed) {
    std::istringstream lines(console);
    for (std::string line; std::getline(lines, line);) {
        unsigned long long count = 0;
        char unit[8] = {};
        if (std::sscanf(line.c_str(), "The console fell behind: %llu %7s dropped", &count, unit) == 2)
            continue;
        EXPECT_TRUE(!line.empty() && std::any_of(printed.begin(), printed.end(), [&](const std::string& whole) {
            return whole.compare(0, line.size(), line) == 0;
        })) << "a fragment on a line of its own: \"" << line << "\"";
    }
}

TEST(RtPrintfThreaded, LoggerDeliversEveryLineWholeAndInOrderPerThread) {
    testing::internal::CaptureStdout();
    host::rtLoggerStart();
    constexpr int kThreads = 3;
    constexpr int kLines = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) {
                rt_printf("[%010u] thread %d line %d\n", unsigned(i), t, i);
                if (i % 64 == 0)
                    std::this_thread::yield();
            }
        });
    for (auto& t : threads)
        t.join();
    host::rtLoggerStop();
    rt_printf("after stop %d\n", 7);  // written directly once the logger is gone
    std::string out = testing::internal::GetCapturedStdout();

    std::istringstream lines(out);
    std::string line;
    int next[kThreads] = {};
    int total = 0;
    bool sawAfterStop = false;
    while (std::getline(lines, line)) {
        if (line == "after stop 7") {
            sawAfterStop = true;
            continue;
        }
        unsigned block = 0;
        int t = -1, i = -1;
        ASSERT_EQ(sscanf(line.c_str(), "[%010u] thread %d line %d", &block, &t, &i), 3) << line;
        ASSERT_GE(t, 0);
        ASSERT_LT(t, kThreads);
        EXPECT_EQ(i, next[t]) << "thread " << t;
        next[t] = i + 1;
        ++total;
    }
    EXPECT_EQ(total + int(host::rtLoggerDropped()), kThreads * kLines);
    EXPECT_TRUE(sawAfterStop);
}

TEST(RtPrintfThreaded, LongLinesAreCutNotOverrun) {
    testing::internal::CaptureStdout();
    host::rtLoggerStart();
    std::string longText(5000, 'x');
    rt_printf("%s\n", longText.c_str());
    host::rtLoggerStop();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_GT(out.size(), 100u);
    EXPECT_LT(out.size(), 5000u);
    EXPECT_EQ(out.find_first_not_of('x'), std::string::npos);
}

// A line of its own (a screen notice) after text that did not end its line
// starts on the next one; after a whole line it adds nothing.
TEST(RtPrintfThreaded, ALineOfItsOwnNeverGluesToTheTextBefore) {
    testing::internal::CaptureStdout();
    host::rtLoggerStart();
    rt_printf("id: 101 at byte 25");
    host::rtPrintLine("screen: one", 11);
    printf("whole\n");
    host::rtPrintLine("screen: two", 11);
    host::rtLoggerStop();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "id: 101 at byte 25\nscreen: one\nwhole\nscreen: two\n");
}

// Standard output a full pipe nobody reads: the ring takes what it holds,
// the rest is lost and, once the console takes text again, said in one
// line. A lost piece takes the rest of its line along, so no two lines are
// glued and no piece stands as a line: the tail of a line longer than a
// slot, a text whose newline came in a piece of its own, the rest of a line
// printed once the ring has room again. (What the test checks is checked
// once the pipes are gone: a failure said into a full pipe would hold the
// test.)
TEST(RtPrintfThreaded, LinesLostToAConsoleThatFellBehindAreSaidAndGlueNothing) {
    std::string expected, said, after;
    std::vector<std::string> printed;
    {
        ConsolePipe console(STDOUT_FILENO, true);
        host::rtLoggerStart();
        for (int i = 0; i < 1023; ++i) {
            printf("line %04d\n", i);
            printed.push_back("line " + std::string(4 - std::to_string(i).size(), '0') + std::to_string(i));
            expected += printed.back() + "\n";
        }
        printf("%s\n", std::string(1500, 'y').c_str());  // its first piece fills the ring
        printf("split");
        printf("\n");
        printf("%s\n", std::string(700, 'z').c_str());
        printf("cut short, ");
        said = console.readUntil("dropped\n");
        printf("its rest\n");  // the ring has room again
        printf("after\n");
        after = console.readUntil("after\n");
        host::rtLoggerStop();
    }
    for (const std::string& line :
         {std::string(1500, 'y'), std::string("split"), std::string(700, 'z'), std::string("cut short, its rest"),
          std::string("after")})
        printed.push_back(line);
    EXPECT_EQ(said, expected + std::string(511, 'y') + "\nThe console fell behind: 4 lines dropped\n");
    EXPECT_EQ(after, "after\n");
    EXPECT_EQ(host::rtLoggerDropped(), 4u);
    expectNoFragment(said + after, printed);
}

// Standard output a FIFO whose reader leaves and another comes (a pager
// quit, the next one opened on it): the piece the console refused takes the
// rest of its line along, and the next reader gets no piece of it.
TEST(RtPrintfThreaded, ALineCutWhereTheReaderLeftIsNotFinishedForTheNext) {
    std::string first, second;
    {
        const std::string fifo = testsupport::freshPath("console", ".fifo");
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        const int writer = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(reader, 0);
        ASSERT_GE(writer, 0);
        // A console gone fails a write as it does in the instrument.
        struct sigaction ignore {}, previous {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGPIPE, &ignore, &previous);
        fflush(stdout);
        const int saved = dup(STDOUT_FILENO);
        dup2(writer, STDOUT_FILENO);
        std::string text;
        const auto readUntil = [&](const std::string& end) {
            testsupport::waitUntil([&] {
                char buffer[4096];
                for (ssize_t n; (n = read(reader, buffer, sizeof buffer)) > 0;)
                    text.append(buffer, size_t(n));
                return text.find(end) != std::string::npos;
            }, std::chrono::milliseconds(1));
            return std::exchange(text, std::string());
        };
        host::rtLoggerStart();
        printf("before\n");
        first = readUntil("before\n");
        close(reader);
        printf("cut short, ");
        testsupport::waitUntil([] { return host::rtLoggerDropped() == 1; }, std::chrono::milliseconds(1));
        reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        printf("its rest\n");
        printf("after\n");
        host::rtLoggerStop();
        second = readUntil("dropped\n");
        dup2(saved, STDOUT_FILENO);
        for (int fd : {saved, reader, writer})
            close(fd);
        sigaction(SIGPIPE, &previous, nullptr);
    }
    EXPECT_EQ(first, "before\n");
    // The count goes out when the console takes it: at the end, or before
    // "after" when the reader came back before the logger tried it.
    EXPECT_TRUE(second == "after\nThe console fell behind: 1 line dropped\n" ||
                second == "The console fell behind: 1 line dropped\nafter\n")
        << second;
    expectNoFragment(first + second, {"before", "cut short, its rest", "after"});
}

// Standard error queues too. On one console the two streams keep the order
// they were written in and share where the line is; on two, a stalled
// standard output holds nothing of standard error's, which says at the end
// what the other never took.
TEST(RtPrintfThreaded, StandardErrorKeepsItsOrderAndIsHeldByNoOtherConsole) {
    std::string expected, both, notHeld, atTheEnd;
    {
        ConsolePipe out(STDOUT_FILENO, false);
        const int shared = dup(STDOUT_FILENO);
        fflush(stderr);
        const int savedErr = dup(STDERR_FILENO);
        dup2(shared, STDERR_FILENO);
        host::rtLoggerStart();
        for (int i = 0; i < 20; ++i) {
            printf("out %d\n", i);
            fprintf(stderr, "err %d\n", i);
            expected += "out " + std::to_string(i) + "\nerr " + std::to_string(i) + "\n";
        }
        fprintf(stderr, "id: 101 at byte 25");
        host::rtPrintLine("screen: one", 11);
        expected += "id: 101 at byte 25\nscreen: one\n";
        host::rtLoggerStop();
        dup2(savedErr, STDERR_FILENO);
        close(savedErr);
        close(shared);
        both = out.readUntil("screen: one\n");
    }
    {
        ConsolePipe out(STDOUT_FILENO, true);
        ConsolePipe err(STDERR_FILENO, false);
        host::rtLoggerStart();
        printf("held\n");
        fprintf(stderr, "not held\n");
        notHeld = err.readUntil("not held\n");
        host::rtLoggerStop();
        atTheEnd = err.readUntil("dropped\n");
    }
    EXPECT_EQ(both, expected);
    EXPECT_EQ(notHeld, "not held\n");
    EXPECT_EQ(atTheEnd, "The console fell behind: 1 line dropped\n");
}

// A write that waits at the end on a console that takes nothing is let go
// of after the writer's patience: its line and those queued behind it are
// counted, and what the other console takes still reaches it, the count last.
TEST(RtPrintfThreaded, TheLinesOfAWriteLetGoAreCountedAndTheOtherConsoleGetsItsOwn) {
    std::string said;
    {
        ConsolePipe out(STDOUT_FILENO, true);
        ConsolePipe err(STDERR_FILENO, false);
        struct stat full {};
        ASSERT_EQ(fstat(STDOUT_FILENO, &full), 0);
        gFullPipeSaysRoom = full.st_ino;
        host::rtLoggerStart();
        printf("held\n");
        fprintf(stderr, "before\n");
        printf("queued\nbehind\n");
        host::rtLoggerStop();
        gFullPipeSaysRoom = 0;
        said = err.readUntil("dropped\n");
        out.readUntil("held");  // the write left waiting ends
    }
    EXPECT_EQ(said, "before\nThe console fell behind: 3 lines dropped\n");
    EXPECT_EQ(host::rtLoggerDropped(), 3u);
}

std::vector<int> openDescriptors() {
    std::vector<int> fds;
    for (int fd = 0; fd < 1024; ++fd)
        if (fcntl(fd, F_GETFD) != -1)
            fds.push_back(fd);
    return fds;
}

// A stray close elsewhere (a library's on a failed open) frees the number
// of the logger's own descriptor, and another file takes it: the logger
// neither writes into that file nor closes it, and goes on on the console.
TEST(RtPrintfThreaded, ANumberAnotherFileTookIsNeitherWrittenNorClosed) {
    const std::string path = testsupport::freshPath("stray-close", ".txt");
    ConsolePipe err(STDERR_FILENO, false);
    const std::vector<int> before = openDescriptors();
    host::rtLoggerStart();
    fprintf(stderr, "first\n");
    EXPECT_EQ(err.readUntil("first\n"), "first\n");
    std::vector<int> taken;
    for (int fd : openDescriptors())
        if (std::find(before.begin(), before.end(), fd) == before.end())
            taken.push_back(fd);
    ASSERT_EQ(taken.size(), 1u);
    const int other = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(other, 0);
    // Straight to the kernel: the race with the logger is the fault shown
    // here, not one for a race detector to report.
    syscall(SYS_close, taken[0]);
    ASSERT_EQ(syscall(SYS_dup3, other, taken[0], O_CLOEXEC), taken[0]);
    close(other);
    struct stat file {};
    ASSERT_EQ(fstat(taken[0], &file), 0);
    fprintf(stderr, "second\n");
    host::rtLoggerStop();
    struct stat still {};
    EXPECT_EQ(fstat(taken[0], &still), 0) << "closed by the logger";
    EXPECT_EQ(still.st_ino, file.st_ino);
    EXPECT_EQ(still.st_size, 0) << "written into";
    close(taken[0]);
    EXPECT_EQ(err.readUntil("second\n"), "second\n");
}

// An abort ends the process by SIGABRT, after its last words (a failed
// assertion's, an uncaught exception's) reach standard error.
TEST(RtPrintfThreaded, AnAbortsLastWordsReachTheConsole) {
    const auto lastWords = [](void (*end)()) {
        int console[2];
        EXPECT_EQ(pipe2(console, O_CLOEXEC), 0);
        fflush(nullptr);
        const pid_t child = fork();
        if (child == 0) {
            dup2(console[1], STDERR_FILENO);
            host::rtLoggerStart();
            [end]() noexcept { end(); }();  // nothing catches what it throws
            _exit(0);
        }
        close(console[1]);
        std::string said;
        char buffer[4096];
        for (ssize_t n; (n = read(console[0], buffer, sizeof buffer)) > 0;)
            said.append(buffer, size_t(n));
        close(console[0]);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT) << said;
        return said;
    };
    // Several rounds: without the moment given to the logger, a round may
    // still see its words written first, but not all of them.
    for (int round = 0; round < 5; ++round) {
        EXPECT_NE(lastWords([] {
                      fprintf(stderr, "assertion failed: the last words\n");
                      abort();
                  }).find("assertion failed: the last words\n"),
                  std::string::npos);
        EXPECT_NE(lastWords([] { throw std::runtime_error("never caught"); })
                      .find("terminate called after throwing an instance of 'std::runtime_error'"),
                  std::string::npos);
    }
}

}  // namespace
