// OSC over real UDP sockets on loopback, against liblo's oscsend and oscdump.
#include "platform/Osc.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <stdexcept>

using namespace std::chrono_literals;
using oscpkt::Message;

namespace {

constexpr auto kWait = 60s;  // only ends a hung run: anything expected arrives long before

struct Received {
    Message message;
    std::string sender;
};

// Collects what the receiver thread delivers.
class Inbox {
public:
    OscReceiver::Callback callback() {
        return [this](Message* m, const char* sender, void*) {
            std::lock_guard<std::mutex> lock(mutex_);
            items_.push_back({*m, sender});
            changed_.notify_all();
        };
    }
    // Waits until `count` messages have arrived (false on timeout).
    bool waitFor(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kWait, [&] { return items_.size() >= count; });
    }
    std::vector<Received> items() {
        std::lock_guard<std::mutex> lock(mutex_);
        return items_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Received> items_;
};

// Whether a program that does not share ports could bind `port` now.
bool portFree(int port) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons(uint16_t(port));
    bool ok = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

// A UDP port free at the time of asking.
int freePort() {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    close(fd);
    return ntohs(a.sin_port);
}

void sendRaw(int port, const void* data, size_t size) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    sendto(fd, data, size, 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    close(fd);
}

int run(const std::string& command) { return std::system(command.c_str()); }

// oscdump as a child process with its standard output on a pipe.
class Oscdump {
public:
    explicit Oscdump(int port) {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], 1);
            close(fds[0]);
            close(fds[1]);
            std::string p = std::to_string(port);
            execlp("oscdump", "oscdump", "-L", p.c_str(), (char*)nullptr);
            _exit(127);
        }
        close(fds[1]);
        out_ = fds[0];
    }
    ~Oscdump() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
    }
    bool running() const { return pid_ > 0 && out_ >= 0; }
    // Text printed so far, waiting at most `wait` for more.
    std::string read(std::chrono::milliseconds wait) {
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, int(wait.count())) > 0) {
            char buffer[1024];
            ssize_t n = ::read(out_, buffer, sizeof buffer);
            if (n > 0) text_.append(buffer, size_t(n));
        }
        return text_;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string text_;
};

}  // namespace

TEST(OscReceiverPeers, MessageFromOscsendArrivesWithItsArguments) {
    Inbox inbox;
    OscReceiver receiver(0, inbox.callback());
    ASSERT_TRUE(receiver.isOk());
    std::string port = std::to_string(receiver.port());
    ASSERT_EQ(run("oscsend localhost " + port + " /1/syn/cutoff fi 0.5 3"), 0);
    ASSERT_EQ(run("oscsend localhost " + port + " /2/seq/name shTF hello -9000000000"), 0);
    ASSERT_TRUE(inbox.waitFor(2));
    auto items = inbox.items();
    EXPECT_EQ(items[0].message.addressPattern(), "/1/syn/cutoff");
    EXPECT_EQ(items[0].sender.rfind("127.0.0.1:", 0), 0u) << items[0].sender;
    EXPECT_GT(std::atoi(items[0].sender.c_str() + 10), 0);
    float f = 0;
    int32_t i = 0;
    EXPECT_TRUE(items[0].message.arg().popFloat(f).popInt32(i).isOkNoMoreArgs());
    EXPECT_EQ(f, 0.5f);
    EXPECT_EQ(i, 3);
    std::string s;
    int64_t h = 0;
    bool t = false, fa = true;
    EXPECT_TRUE(items[1].message.arg().popStr(s).popInt64(h).popBool(t).popBool(fa).isOkNoMoreArgs());
    EXPECT_EQ(s, "hello");
    EXPECT_EQ(h, -9000000000LL);
    EXPECT_TRUE(t && !fa);
}

TEST(OscReceiverPeers, MalformedPacketsAreDroppedAndGoodOnesAfterThemArrive) {
    Inbox inbox;
    OscReceiver receiver(0, inbox.callback());
    ASSERT_TRUE(receiver.isOk());
    std::vector<uint8_t> first = Message("/first").pushInt32(42).encode();
    // A bundle of two messages: each is delivered, in order.
    std::vector<uint8_t> bundle = {'#', 'b', 'u', 'n', 'd', 'l', 'e', 0, 0, 0, 0, 0, 0, 0, 0, 1};
    for (const char* address : {"/second", "/third"}) {
        std::vector<uint8_t> m = Message(address).encode();
        bundle.insert(bundle.end(), {0, 0, 0, uint8_t(m.size())});
        bundle.insert(bundle.end(), m.begin(), m.end());
    }
    std::vector<uint8_t> liar(bundle.begin(), bundle.begin() + 20);
    liar[16] = 0x7f;  // an element far beyond the packet

    testing::internal::CaptureStdout();
    sendRaw(receiver.port(), first.data(), first.size() - 2);  // truncated
    sendRaw(receiver.port(), "\xff\x00garbage!", 10);
    sendRaw(receiver.port(), liar.data(), liar.size());
    sendRaw(receiver.port(), first.data(), first.size());
    sendRaw(receiver.port(), bundle.data(), bundle.size());
    bool arrived = inbox.waitFor(3);
    std::string console = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(arrived);
    auto items = inbox.items();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].message.addressPattern(), "/first");
    int32_t v = 0;
    EXPECT_TRUE(items[0].message.arg().popInt32(v).isOkNoMoreArgs());
    EXPECT_EQ(v, 42);
    EXPECT_EQ(items[1].message.addressPattern(), "/second");
    EXPECT_EQ(items[2].message.addressPattern(), "/third");
    // One console line per dropped packet.
    size_t lines = 0;
    for (size_t at = 0; (at = console.find("OSC: dropped malformed packet", at)) != std::string::npos; ++at) ++lines;
    EXPECT_EQ(lines, 3u) << console;
    EXPECT_NE(console.find("(10 bytes) from 127.0.0.1:"), std::string::npos) << console;
}

// Any host that reaches the port can flood it: a burst of lines, then one a second.
TEST(OscReceiverPeers, AFloodOfMalformedPacketsIsCutInTheLog) {
    Inbox inbox;
    OscReceiver receiver(0, inbox.callback());
    ASSERT_TRUE(receiver.isOk());
    std::vector<uint8_t> good = Message("/good").encode();
    testing::internal::CaptureStdout();
    const auto start = std::chrono::steady_clock::now();
    // In rounds that the socket's buffer holds, each ended by a good message.
    bool arrived = true;
    for (size_t round = 1; round <= 10 && arrived; ++round) {
        for (int i = 0; i < 50; ++i)
            sendRaw(receiver.port(), "\xff\x00garbage!", 10);
        sendRaw(receiver.port(), good.data(), good.size());
        arrived = inbox.waitFor(round);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::string console = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(arrived);
    size_t lines = 0;
    for (size_t at = 0; (at = console.find("OSC: dropped malformed packet", at)) != std::string::npos; ++at) ++lines;
    EXPECT_GE(lines, 10u);
    EXPECT_LE(double(lines), 20.0 + seconds + 1.0) << console.substr(0, 500);
}

TEST(OscReceiverPeers, ThrowingCallbackDoesNotEndTheReceiver) {
    Inbox inbox;
    auto collect = inbox.callback();
    OscReceiver receiver(0, [&](Message* m, const char* sender, void* user) {
        if (m->addressPattern() == "/throw") throw std::runtime_error("bad value");
        collect(m, sender, user);
    });
    ASSERT_TRUE(receiver.isOk());
    testing::internal::CaptureStdout();
    auto a = Message("/throw").encode();
    auto b = Message("/fine").encode();
    sendRaw(receiver.port(), a.data(), a.size());
    sendRaw(receiver.port(), b.data(), b.size());
    bool arrived = inbox.waitFor(1);
    std::string console = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(arrived);
    EXPECT_EQ(inbox.items()[0].message.addressPattern(), "/fine");
    EXPECT_NE(console.find("bad value"), std::string::npos) << console;
}

TEST(OscReceiverLifecycle, SetupAgainMovesToTheNewPortAndStopReleasesIt) {
    Inbox inbox;
    OscReceiver receiver(0, inbox.callback(), &inbox);
    ASSERT_TRUE(receiver.isOk());
    int first = receiver.port();
    int second = freePort();
    ASSERT_TRUE(receiver.setup(second, inbox.callback()));
    EXPECT_EQ(receiver.port(), second);
    auto m = Message("/here").encode();
    sendRaw(second, m.data(), m.size());
    ASSERT_TRUE(inbox.waitFor(1));
    EXPECT_TRUE(portFree(first));  // closed by the second setup
    EXPECT_FALSE(portFree(second));
    receiver.stop();
    EXPECT_FALSE(receiver.isOk());
    EXPECT_TRUE(portFree(second));
    receiver.stop();  // twice is harmless
}

// Two instruments given the same OSC in port: the second is refused with a
// line and the first keeps hearing what is sent to it.
TEST(OscReceiverPeers, APortInUseIsRefusedAndItsReceiverKeepsItsMessages) {
    Inbox first, second;
    OscReceiver holder(0, first.callback());
    ASSERT_TRUE(holder.isOk());
    const std::string port = std::to_string(holder.port());
    testing::internal::CaptureStdout();
    OscReceiver late;
    const bool bound = late.setup(holder.port(), second.callback());
    const std::string console = testing::internal::GetCapturedStdout();
    ASSERT_FALSE(bound);
    EXPECT_NE(console.find("OSC: cannot listen on 127.0.0.1:" + port + ": Address already in use; no OSC input\n"),
              std::string::npos)
        << console;
    ASSERT_EQ(run("oscsend 127.0.0.1 " + port + " /still/here"), 0);
    ASSERT_TRUE(first.waitFor(1));
    EXPECT_EQ(first.items()[0].message.addressPattern(), "/still/here");
}

TEST(OscSenderPeers, OscdumpPrintsWhatTheSenderSends) {
    int port = freePort();
    Oscdump dump(port);
    ASSERT_TRUE(dump.running());
    OscSender sender(port, "127.0.0.1");
    sender.newMessage("/oscv/corvane-note").add(int32_t(7)).add(0.25f).add(true).add(std::string("hi"));
    const std::string expected = "/oscv/corvane-note ifTs 7 0.250000 #T \"hi\"";
    // oscdump may not be listening yet: send until it prints, within a bound.
    std::string text;
    auto deadline = std::chrono::steady_clock::now() + kWait;
    while (text.find(expected) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        EXPECT_TRUE(sender.send());
        text = dump.read(100ms);
    }
    EXPECT_NE(text.find(expected), std::string::npos) << text;
}

TEST(OscSenderPeers, SendReportsWhenNothingWentOut) {
    OscSender unset;
    unset.newMessage("/x").add(int32_t(1));
    EXPECT_FALSE(unset.send());  // no socket
    OscSender sender;
    EXPECT_FALSE(sender.setup(0));
    EXPECT_FALSE(sender.setup(70000));
    ASSERT_TRUE(sender.setup(freePort(), "127.0.0.1"));
    EXPECT_FALSE(sender.send());  // no message started
    Message broken("/x");
    broken.setError();
    EXPECT_FALSE(sender.send(broken));
    EXPECT_TRUE(sender.send(Message("/fine")));
}
