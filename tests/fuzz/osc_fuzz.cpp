// Any bytes as an OSC packet: decoding never reads out of bounds, what decodes
// reads back and re-encodes to the same bytes, and address patterns taken
// from the network match in bounded time.
#include "platform/Osc.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void check(bool condition) {
    if (!condition) abort();
}

void readAll(const oscpkt::Message& m) {
    auto r = m.arg();
    while (r.isOk() && r.nbArgRemaining() > 0) {
        int32_t i;
        int64_t h;
        float f;
        double d;
        bool b;
        std::string s;
        switch (r.currentTag()) {
            case 'i': r.popInt32(i); break;
            case 'h': r.popInt64(h); break;
            case 'f': r.popFloat(f); break;
            case 'd': r.popDouble(d); break;
            case 'T': case 'F': r.popBool(b); break;
            case 's': r.popStr(s); break;
            default: check(false);  // decode let an unknown tag through
        }
    }
    check(r.isOkNoMoreArgs());
    float extra;
    r.popFloat(extra);
    check(!r.isOk());
}

const char* const kAddresses[] = {"/1/syn/cutoff", "/5/afx/2/mix", "/oscv/ping", "/", "/a/b/c/d/e/f/g/h"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    oscpkt::Message m = oscpkt::Message::decode(data, size);
    if (m.isOk()) {
        readAll(m);
        std::vector<uint8_t> again = m.encode();
        // A message without type tags gains an empty ",": allow that one difference.
        if (!m.typeTags().empty() || again.size() == size)
            check(again.size() == size && std::memcmp(again.data(), data, size) == 0);
        for (const char* a : kAddresses) {
            m.match(a);
            m.partialMatch(a);
        }
    }

    std::vector<oscpkt::Message> messages;
    if (oscpkt::decodePacket(data, size, messages)) {
        for (const auto& each : messages) {
            check(each.isOk());
            readAll(each);
            std::vector<uint8_t> wire = each.encode();
            oscpkt::Message back = oscpkt::Message::decode(wire.data(), wire.size());
            check(back.isOk() && back.typeTags() == each.typeTags() && back.argumentData() == each.argumentData());
        }
    } else {
        check(messages.empty());
    }

    // The bytes as an address pattern against fixed addresses, and a fixed
    // pattern against the bytes as an address.
    std::string text(reinterpret_cast<const char*>(data), size);
    oscpkt::Message pattern(text);
    for (const char* a : kAddresses) {
        pattern.match(a);
        pattern.partialMatch(a);
    }
    oscpkt::Message("/*/{syn,afx}/[0-9a-z]*").partialMatch(text);
    oscpkt::Message("/?/[!a-m]*").match(text);
    return 0;
}
