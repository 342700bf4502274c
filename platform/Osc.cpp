#include "platform/Osc.h"

#include "platform/LogLimiter.h"
#include "platform/RtPrintf.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <exception>

namespace oscpkt {

namespace {

constexpr char kBundleTag[8] = {'#', 'b', 'u', 'n', 'd', 'l', 'e', '\0'};
// Deeper nesting than this is refused rather than followed.
constexpr int kMaxBundleDepth = 16;

size_t padded(size_t n) { return (n + 3) & ~size_t(3); }

void putU32(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    out.insert(out.end(), b, b + 4);
}

void putU64(std::vector<uint8_t>& out, uint64_t v) {
    putU32(out, uint32_t(v >> 32));
    putU32(out, uint32_t(v));
}

uint32_t getU32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

uint64_t getU64(const uint8_t* p) { return (uint64_t(getU32(p)) << 32) | getU32(p + 4); }

// A string as it travels: its bytes up to (not including) the first NUL,
// then one to four NULs up to a multiple of 4.
void putString(std::vector<uint8_t>& out, const char* s, size_t maxLength) {
    size_t n = strnlen(s, maxLength);
    out.insert(out.end(), s, s + n);
    out.insert(out.end(), padded(n + 1) - n, uint8_t(0));
}

// Length of the padded string at p (NUL and padding included), or 0 when the
// NUL or the padding lies beyond `size`, or the padding is not all NULs.
size_t stringSpan(const uint8_t* p, size_t size) {
    const void* nul = std::memchr(p, 0, size);
    if (!nul) return 0;
    size_t length = static_cast<const uint8_t*>(nul) - p;
    size_t span = padded(length + 1);
    if (span > size) return 0;
    for (size_t i = length; i < span; ++i)
        if (p[i] != 0) return 0;
    return span;
}

size_t argumentBytes(char tag) {
    switch (tag) {
        case 'i': case 'f': return 4;
        case 'h': case 'd': return 8;
        case 'T': case 'F': return 0;
        default: return size_t(-1);
    }
}

// Address pattern matcher. The pattern is run as a set of active positions
// advanced one address character at a time, so time is bounded by
// pattern length x address length and nothing recurses, whatever the
// pattern. Wildcards never match '/'. Strings inside braces are literal.
class PatternMatcher {
public:
    explicit PatternMatcher(const std::string& pattern) : p_(pattern), group_(pattern.size(), kNone), close_(pattern.size(), 0) {
        valid_ = _scan();
    }

    // Full match when `partial` is false; otherwise the pattern must match a
    // prefix of `address` that ends at a '/' or at the end.
    bool run(const std::string& address, bool partial) {
        if (!valid_) return false;
        const size_t n = p_.size();
        std::vector<uint8_t> current(n + 1, 0), next(n + 1, 0);
        _add(current, 0);
        for (size_t a = 0;; ++a) {
            bool accepting = current[n] != 0;
            if (a == address.size()) return accepting;
            if (partial && accepting && address[a] == '/') return true;
            std::fill(next.begin(), next.end(), uint8_t(0));
            bool any = false;
            const char c = address[a];
            for (size_t i = 0; i < n; ++i) {
                if (!current[i]) continue;
                size_t to = _step(i, c);
                if (to != kNone) {
                    _add(next, to);
                    any = true;
                }
            }
            if (!any) return false;
            current.swap(next);
        }
    }

private:
    static constexpr size_t kNone = size_t(-1);

    // Finds the end of every '[...]' and the braces of every '{...}';
    // false for an unterminated one (such a pattern matches nothing).
    bool _scan() {
        size_t i = 0;
        while (i < p_.size()) {
            char c = p_[i];
            if (c == '[') {
                size_t j = i + 1;
                if (j < p_.size() && p_[j] == '!') ++j;
                if (j < p_.size()) ++j;  // a leading ']' is a member
                while (j < p_.size() && p_[j] != ']') ++j;
                if (j >= p_.size()) return false;
                close_[i] = j;
                i = j + 1;
            } else if (c == '{') {
                size_t j = i + 1;
                while (j < p_.size() && p_[j] != '}') ++j;
                if (j >= p_.size()) return false;
                close_[i] = j;
                for (size_t k = i; k <= j; ++k) group_[k] = i;
                i = j + 1;
            } else {
                ++i;
            }
        }
        return true;
    }

    // Marks position i and every position reachable from it without
    // consuming a character.
    void _add(std::vector<uint8_t>& set, size_t i) {
        auto push = [&](size_t k) {
            if (set[k]) return;
            set[k] = 1;
            work_.push_back(k);
        };
        push(i);
        while (!work_.empty()) {
            size_t k = work_.back();
            work_.pop_back();
            if (k >= p_.size()) continue;
            char c = p_[k];
            size_t g = group_[k];
            if (g != kNone) {
                if (k == g) {  // '{': each alternative starts after it or after a ','
                    for (size_t j = g; j < close_[g]; ++j)
                        if (j == g || p_[j] == ',') push(j + 1);
                } else if (c == ',' || c == '}') {
                    push(close_[g] + 1);  // an alternative is complete
                }
            } else if (c == '*') {
                push(k + 1);
            }
        }
    }

    // The position after consuming `c` at position i, or kNone.
    size_t _step(size_t i, char c) const {
        char pc = p_[i];
        size_t g = group_[i];
        if (g != kNone) {
            if (i == g || pc == ',' || pc == '}') return kNone;
            return pc == c ? i + 1 : kNone;
        }
        if (c == '/') return pc == '/' ? i + 1 : kNone;
        switch (pc) {
            case '?': return i + 1;
            case '*': return i;
            case '[': return _inSet(i, c) ? close_[i] + 1 : kNone;
            default: return pc == c ? i + 1 : kNone;
        }
    }

    bool _inSet(size_t open, char c) const {
        size_t j = open + 1;
        const size_t end = close_[open];
        bool negate = false;
        if (j < end && p_[j] == '!') {
            negate = true;
            ++j;
        }
        bool found = false;
        for (; j < end; ++j) {
            if (j + 2 < end && p_[j + 1] == '-') {
                unsigned char lo = p_[j], hi = p_[j + 2], uc = c;
                if (lo > hi) std::swap(lo, hi);
                if (uc >= lo && uc <= hi) found = true;
                j += 2;
            } else if (p_[j] == c) {
                found = true;
            }
        }
        return found != negate;
    }

    const std::string& p_;
    std::vector<size_t> group_;  // position of the '{' a position belongs to
    std::vector<size_t> close_;  // for '[' and '{': position of the closing bracket
    std::vector<size_t> work_;
    bool valid_ = false;
};

bool decodeElement(const uint8_t* p, size_t size, std::vector<Message>& messages, int depth) {
    if (size >= 8 && std::memcmp(p, kBundleTag, 8) == 0) {
        if (depth >= kMaxBundleDepth || size < 16) return false;
        size_t at = 16;  // tag and time tag
        while (at < size) {
            if (size - at < 4) return false;
            uint32_t length = getU32(p + at);
            at += 4;
            if (length == 0 || length % 4 != 0 || length > size - at) return false;
            if (!decodeElement(p + at, length, messages, depth + 1)) return false;
            at += length;
        }
        return true;
    }
    Message m = Message::decode(p, size);
    if (!m.isOk()) return false;
    messages.push_back(std::move(m));
    return true;
}

}  // namespace

Message& Message::pushInt32(int32_t v) {
    tags_ += 'i';
    putU32(data_, uint32_t(v));
    return *this;
}

Message& Message::pushInt64(int64_t v) {
    tags_ += 'h';
    putU64(data_, uint64_t(v));
    return *this;
}

Message& Message::pushFloat(float v) {
    tags_ += 'f';
    putU32(data_, std::bit_cast<uint32_t>(v));
    return *this;
}

Message& Message::pushDouble(double v) {
    tags_ += 'd';
    putU64(data_, std::bit_cast<uint64_t>(v));
    return *this;
}

Message& Message::pushBool(bool v) {
    tags_ += v ? 'T' : 'F';
    return *this;
}

Message& Message::pushStr(const std::string& v) {
    // A string ends at its first NUL on the wire; what follows would not
    // survive the trip, so it is cut here.
    tags_ += 's';
    putString(data_, v.c_str(), v.size());
    return *this;
}

bool Message::ArgReader::take(char tag, size_t bytes, const uint8_t*& at) {
    if (!ok_ || currentTag() != tag || offset_ + bytes > msg_->data_.size()) {
        ok_ = false;
        return false;
    }
    at = msg_->data_.data() + offset_;
    offset_ += bytes;
    ++index_;
    return true;
}

Message::ArgReader& Message::ArgReader::popInt32(int32_t& v) {
    const uint8_t* at;
    if (take('i', 4, at)) v = int32_t(getU32(at));
    return *this;
}

Message::ArgReader& Message::ArgReader::popInt64(int64_t& v) {
    const uint8_t* at;
    if (take('h', 8, at)) v = int64_t(getU64(at));
    return *this;
}

Message::ArgReader& Message::ArgReader::popFloat(float& v) {
    const uint8_t* at;
    if (take('f', 4, at)) v = std::bit_cast<float>(getU32(at));
    return *this;
}

Message::ArgReader& Message::ArgReader::popDouble(double& v) {
    const uint8_t* at;
    if (take('d', 8, at)) v = std::bit_cast<double>(getU64(at));
    return *this;
}

Message::ArgReader& Message::ArgReader::popBool(bool& v) {
    const uint8_t* at;
    char tag = currentTag();
    if (tag == 'T' || tag == 'F') {
        if (take(tag, 0, at)) v = tag == 'T';
    } else {
        ok_ = false;
    }
    return *this;
}

Message::ArgReader& Message::ArgReader::popStr(std::string& v) {
    if (!ok_ || currentTag() != 's' || offset_ >= msg_->data_.size()) {
        ok_ = false;
        return *this;
    }
    const uint8_t* p = msg_->data_.data() + offset_;
    size_t span = stringSpan(p, msg_->data_.size() - offset_);
    const uint8_t* at;
    if (span == 0 || !take('s', span, at)) {
        ok_ = false;
        return *this;
    }
    v.assign(reinterpret_cast<const char*>(at));
    return *this;
}

bool Message::partialMatch(const std::string& address) const {
    return PatternMatcher(address_).run(address, true);
}

bool Message::match(const std::string& address) const {
    return PatternMatcher(address_).run(address, false);
}

void Message::encode(std::vector<uint8_t>& out) const {
    out.clear();
    if (!ok_) return;
    putString(out, address_.c_str(), address_.size());
    // The type tags travel as one string: ',' then the tags.
    const size_t n = 1 + tags_.size();
    out.push_back(',');
    out.insert(out.end(), tags_.begin(), tags_.end());
    out.insert(out.end(), padded(n + 1) - n, uint8_t(0));
    out.insert(out.end(), data_.begin(), data_.end());
}

std::vector<uint8_t> Message::encode() const {
    std::vector<uint8_t> out;
    encode(out);
    return out;
}

Message Message::decode(const void* data, size_t size) {
    Message m;
    m.ok_ = false;
    if (!data || size == 0 || size % 4 != 0) return m;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    if (p[0] != '/') return m;
    size_t span = stringSpan(p, size);
    if (span == 0) return m;
    m.address_.assign(reinterpret_cast<const char*>(p));
    size_t at = span;
    if (at == size) {  // no type tag string: a message without arguments
        m.ok_ = true;
        return m;
    }
    if (p[at] != ',') return m;
    span = stringSpan(p + at, size - at);
    if (span == 0) return m;
    std::string tags(reinterpret_cast<const char*>(p + at + 1));
    at += span;
    const size_t start = at;
    for (char tag : tags) {
        if (tag == 's') {
            if (at >= size) return m;
            span = stringSpan(p + at, size - at);
            if (span == 0) return m;
            at += span;
            continue;
        }
        size_t bytes = argumentBytes(tag);
        if (bytes == size_t(-1) || bytes > size - at) return m;
        at += bytes;
    }
    if (at != size) return m;  // bytes left over that no tag accounts for
    m.tags_ = std::move(tags);
    m.data_.assign(p + start, p + size);
    m.ok_ = true;
    return m;
}

bool decodePacket(const void* data, size_t size, std::vector<Message>& messages) {
    messages.clear();
    if (!data || size == 0 || size % 4 != 0) return false;
    if (!decodeElement(static_cast<const uint8_t*>(data), size, messages, 0)) {
        messages.clear();
        return false;
    }
    return true;
}

}  // namespace oscpkt

// ---------------------------------------------------------------------------

namespace {

constexpr int kPollMs = 50;
constexpr size_t kMaxDatagram = 65536;

void formatSender(const sockaddr_in& from, char* out, size_t size) {
    char ip[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &from.sin_addr, ip, sizeof ip);
    snprintf(out, size, "%s:%u", ip, unsigned(ntohs(from.sin_port)));
}

}  // namespace

OscReceiver::~OscReceiver() { stop(); }

namespace {
std::string gOscListenAddress = "127.0.0.1";
}  // namespace

namespace host {
void setOscListenAddress(const std::string& address) { gOscListenAddress = address.empty() ? "127.0.0.1" : address; }
const std::string& oscListenAddress() { return gOscListenAddress; }
}  // namespace host

bool OscReceiver::setup(int port, Callback callback, void* userData) {
    if (thread_.joinable() && thread_.get_id() == std::this_thread::get_id()) {
        rt_printf("OSC: the receiver cannot be set up from its own callback\n");
        return false;
    }
    stop();
    if (port < 0 || port > 65535) {
        rt_printf("OSC: invalid receive port %d\n", port);
        return false;
    }
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        rt_printf("OSC: cannot create a socket: %s\n", strerror(errno));
        return false;
    }
    // No SO_REUSEADDR: on UDP it lets a second instrument bind the same
    // port and take every datagram from the first, which would hear nothing.
    // A closed UDP socket leaves nothing behind, so a restart binds anyway.
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(uint16_t(port));
    const std::string listen = host::oscListenAddress();
    if (inet_pton(AF_INET, listen.c_str(), &local.sin_addr) != 1) {
        rt_printf("OSC: cannot listen on %s: not an IPv4 address\n", listen.c_str());
        ::close(fd);
        return false;
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) < 0) {
        rt_printf("OSC: cannot listen on %s:%d: %s; no OSC input\n", listen.c_str(), port, strerror(errno));
        ::close(fd);
        return false;
    }
    socklen_t length = sizeof local;
    getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    port_ = ntohs(local.sin_port);
    callback_ = std::move(callback);
    userData_ = userData;
    socket_ = fd;
    quit_.store(false, std::memory_order_release);
    thread_ = std::thread(&OscReceiver::loop, this, fd);
    return true;
}

void OscReceiver::stop() {
    quit_.store(true, std::memory_order_release);
    if (thread_.joinable()) {
        // From the callback itself the loop ends once the callback returns;
        // joining here would wait for ourselves.
        if (thread_.get_id() == std::this_thread::get_id()) return;
        thread_.join();
    }
    if (socket_ >= 0) {
        ::close(socket_);
        socket_ = -1;
    }
}

namespace {
constexpr const char* kMalformedLeftOut = "OSC: %u more malformed packets not shown\n";
constexpr const char* kFailedLeftOut = "OSC: %u more failed messages not shown\n";
}  // namespace

void OscReceiver::loop(int fd) {
    std::vector<uint8_t> buffer(kMaxDatagram);
    std::vector<oscpkt::Message> messages;
    char sender[32];
    // Any host that reaches the port can send these at any rate.
    LogLimiter malformedLines, failedLines;
    uint32_t leftOut = 0;
    while (!quit_.load(std::memory_order_acquire)) {
        // A burst that nothing followed still gets its count said.
        if (malformedLines.flush(leftOut)) rt_printf(kMalformedLeftOut, leftOut);
        if (failedLines.flush(leftOut)) rt_printf(kFailedLeftOut, leftOut);
        pollfd pfd{fd, POLLIN, 0};
        int ready = ::poll(&pfd, 1, kPollMs);
        if (ready <= 0 || !(pfd.revents & POLLIN)) continue;
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        ssize_t n = ::recvfrom(fd, buffer.data(), buffer.size(), MSG_TRUNC | MSG_DONTWAIT,
                               reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0) continue;
        formatSender(from, sender, sizeof sender);
        if (size_t(n) > buffer.size() || !oscpkt::decodePacket(buffer.data(), size_t(n), messages)) {
            if (malformedLines.allow(leftOut)) {
                if (leftOut > 0) rt_printf(kMalformedLeftOut, leftOut);
                rt_printf("OSC: dropped malformed packet (%zu bytes) from %s\n", size_t(n), sender);
            }
            continue;
        }
        for (auto& message : messages) {
            if (quit_.load(std::memory_order_acquire)) break;
            // An exception must not end the thread (it would end the process).
            try {
                if (callback_) callback_(&message, sender, userData_);
            } catch (const std::exception& e) {
                if (failedLines.allow(leftOut)) {
                    if (leftOut > 0) rt_printf(kFailedLeftOut, leftOut);
                    rt_printf("OSC: handling %s failed: %s\n", escapeForLog(message.addressPattern()).c_str(),
                              escapeForLog(e.what()).c_str());
                }
            } catch (...) {
                if (failedLines.allow(leftOut)) {
                    if (leftOut > 0) rt_printf(kFailedLeftOut, leftOut);
                    rt_printf("OSC: handling %s failed\n", escapeForLog(message.addressPattern()).c_str());
                }
            }
        }
    }
}

// ---------------------------------------------------------------------------

OscSender::~OscSender() { close(); }

void OscSender::close() {
    if (socket_ >= 0) ::close(socket_);
    socket_ = -1;
    peer_.clear();
}

bool OscSender::setup(int port, const std::string& address) {
    close();
    if (port < 1 || port > 65535) {
        rt_printf("OSC: invalid send port %d\n", port);
        return false;
    }
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(uint16_t(port));
    if (inet_pton(AF_INET, address.c_str(), &peer.sin_addr) != 1) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_DGRAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(address.c_str(), nullptr, &hints, &found) != 0 || !found) {
            rt_printf("OSC: cannot resolve send address %s\n", address.c_str());
            return false;
        }
        peer.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
        freeaddrinfo(found);
    }
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        rt_printf("OSC: cannot create a socket: %s\n", strerror(errno));
        return false;
    }
    socket_ = fd;
    peer_.resize(sizeof peer);
    std::memcpy(peer_.data(), &peer, sizeof peer);
    return true;
}

OscSender& OscSender::newMessage(const std::string& address) {
    message_ = oscpkt::Message(address);
    return *this;
}

OscSender& OscSender::add(int32_t v) {
    message_.pushInt32(v);
    return *this;
}

OscSender& OscSender::add(float v) {
    message_.pushFloat(v);
    return *this;
}

OscSender& OscSender::add(bool v) {
    message_.pushBool(v);
    return *this;
}

OscSender& OscSender::add(const std::string& v) {
    message_.pushStr(v);
    return *this;
}

bool OscSender::send() { return send(message_); }

bool OscSender::send(const oscpkt::Message& message) {
    if (socket_ < 0 || message.addressPattern().empty()) return false;
    message.encode(wire_);
    if (wire_.empty()) return false;
    ssize_t sent = ::sendto(socket_, wire_.data(), wire_.size(), MSG_DONTWAIT,
                            reinterpret_cast<const sockaddr*>(peer_.data()), socklen_t(peer_.size()));
    return sent == ssize_t(wire_.size());
}
