// OSC 1.0 messages over UDP: the message type, a receiver with its own thread
// and a sender. Malformed packets are dropped with a console line.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace oscpkt {

class Message {
public:
    Message() = default;
    explicit Message(const std::string& address) : address_(address) {}

    // Error state: set by a failed decode or a read past the arguments.
    bool isOk() const { return ok_; }
    void setError() { ok_ = false; }

    const std::string& addressPattern() const { return address_; }
    void setAddress(const std::string& address) { address_ = address; }
    // Type tags without the leading ','.
    const std::string& typeTags() const { return tags_; }
    // Argument data as it travels: big-endian, strings padded to 4 bytes.
    const std::vector<uint8_t>& argumentData() const { return data_; }

    Message& pushInt32(int32_t v);
    Message& pushInt64(int64_t v);
    Message& pushFloat(float v);
    Message& pushDouble(double v);
    Message& pushBool(bool v);  // 'T' or 'F', no data
    Message& pushStr(const std::string& v);

    // Reads the arguments in order. A read of the wrong type, or past the
    // end, puts the reader (and reports false) in its error state.
    class ArgReader {
    public:
        // A reader of a message in its error state starts in its error state.
        explicit ArgReader(const Message& m) : msg_(&m), ok_(m.isOk()) {}
        bool isOk() const { return ok_; }
        size_t nbArgRemaining() const { return msg_->tags_.size() - index_; }
        char currentTag() const { return index_ < msg_->tags_.size() ? msg_->tags_[index_] : '\0'; }
        bool isInt32() const { return currentTag() == 'i'; }
        bool isInt64() const { return currentTag() == 'h'; }
        bool isFloat() const { return currentTag() == 'f'; }
        bool isDouble() const { return currentTag() == 'd'; }
        bool isBool() const { return currentTag() == 'T' || currentTag() == 'F'; }
        bool isStr() const { return currentTag() == 's'; }
        ArgReader& popInt32(int32_t& v);
        ArgReader& popInt64(int64_t& v);
        ArgReader& popFloat(float& v);
        ArgReader& popDouble(double& v);
        ArgReader& popBool(bool& v);
        ArgReader& popStr(std::string& v);
        bool isOkNoMoreArgs() const { return ok_ && nbArgRemaining() == 0; }

    private:
        bool take(char tag, size_t bytes, const uint8_t*& at);
        const Message* msg_;
        size_t index_ = 0;
        size_t offset_ = 0;
        bool ok_ = true;
    };
    ArgReader arg() const { return ArgReader(*this); }

    // OSC address pattern rules ('?', '*', '[...]' with ranges and '!',
    // '{a,b}'): does this message's pattern match the start of `address`, up
    // to a '/' or its end?
    bool partialMatch(const std::string& address) const;
    // Whole match of this message's pattern against `address`.
    bool match(const std::string& address) const;

    // Wire form. decode() fills the message or leaves it in its error state
    // (a bundle is not a message: see decodePacket). A message in its error
    // state encodes to nothing.
    std::vector<uint8_t> encode() const;
    void encode(std::vector<uint8_t>& out) const;  // reuses out's storage
    static Message decode(const void* data, size_t size);

private:
    std::string address_;
    std::string tags_;
    std::vector<uint8_t> data_;
    bool ok_ = true;
};

// Decodes one packet, a message or a bundle (nested bundles included), into
// its messages in order. A malformed packet anywhere gives false and no
// messages at all. Time tags are not honoured: messages are due at once.
bool decodePacket(const void* data, size_t size, std::vector<Message>& messages);

}  // namespace oscpkt

namespace host {
// The address OSC receivers bind to: the loopback address unless the host
// option --osc-listen names another (0.0.0.0 for every interface).
void setOscListenAddress(const std::string& address);
const std::string& oscListenAddress();
}  // namespace host

// Listens on a UDP port on its own thread; calls back once per message (the
// messages of a bundle one by one), with the sender as "address:port".
class OscReceiver {
public:
    using Callback = std::function<void(oscpkt::Message* message, const char* sender, void* userData)>;
    OscReceiver() = default;
    OscReceiver(int port, Callback callback, void* userData = nullptr) { setup(port, callback, userData); }
    ~OscReceiver();
    OscReceiver(const OscReceiver&) = delete;
    OscReceiver& operator=(const OscReceiver&) = delete;

    // Port 0 takes a free port, which port() then reports. A second setup
    // stops the first. false when the port cannot be bound.
    bool setup(int port, Callback callback, void* userData = nullptr);
    // Ends the thread (within one poll period) and closes the socket.
    void stop();
    bool isOk() const { return socket_ >= 0; }
    int port() const { return port_; }

private:
    void loop(int socket);
    int socket_ = -1;
    int port_ = 0;
    Callback callback_;
    void* userData_ = nullptr;
    std::atomic<bool> quit_{false};
    std::thread thread_;
};

// Sends messages to one address and port.
class OscSender {
public:
    OscSender() = default;
    OscSender(int port, const std::string& address = "127.0.0.1") { setup(port, address); }
    ~OscSender();
    OscSender(const OscSender&) = delete;
    OscSender& operator=(const OscSender&) = delete;

    bool setup(int port, const std::string& address = "127.0.0.1");
    OscSender& newMessage(const std::string& address);
    OscSender& add(int32_t v);
    OscSender& add(float v);
    OscSender& add(bool v);
    OscSender& add(const std::string& v);
    // Sends the message under construction (it is kept, so it can be sent
    // again); false when nothing went out.
    bool send();
    bool send(const oscpkt::Message& message);

private:
    void close();
    int socket_ = -1;
    std::vector<uint8_t> peer_;  // sockaddr storage
    oscpkt::Message message_;
    std::vector<uint8_t> wire_;
};
