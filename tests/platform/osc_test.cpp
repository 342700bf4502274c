// OSC messages: wire form checked against liblo's encoder, round trips,
// malformed packets, bundles, argument reader and address patterns.
#include "platform/Osc.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

using oscpkt::Message;

namespace {

using Bytes = std::vector<uint8_t>;

// Raw packet bytes as liblo's oscsend writes them to stdout.
Bytes libloEncode(const std::string& arguments) {
    std::string command = "oscsend - " + arguments;
    FILE* pipe = popen(command.c_str(), "r");
    Bytes out;
    if (!pipe) return out;
    uint8_t buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.insert(out.end(), buffer, buffer + n);
    pclose(pipe);
    return out;
}

Bytes bytes(const char* text, size_t size) { return Bytes(text, text + size); }

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes sizePrefixed(const Bytes& element) {
    uint32_t n = uint32_t(element.size());
    Bytes out = {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
    out.insert(out.end(), element.begin(), element.end());
    return out;
}

Bytes bundle(std::initializer_list<Bytes> elements) {
    Bytes out = bytes("#bundle\0\0\0\0\0\0\0\0\1", 16);
    for (const auto& e : elements) {
        Bytes p = sizePrefixed(e);
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

Message decoded(const Bytes& b) { return Message::decode(b.data(), b.size()); }

}  // namespace

TEST(OscWire, EncodingIsByteForByteWhatLibloSends) {
    Bytes liblo = libloEncode("/1/syn/cutoff fihdsTF 0.5 3 -7 0.125 abcd");
    ASSERT_FALSE(liblo.empty()) << "oscsend not available";
    Message m("/1/syn/cutoff");
    m.pushFloat(0.5f).pushInt32(3).pushInt64(-7).pushDouble(0.125).pushStr("abcd").pushBool(true).pushBool(false);
    EXPECT_EQ(m.encode(), liblo);
}

TEST(OscWire, DecodesEveryTagLibloSends) {
    Bytes liblo = libloEncode("/a/b ihfdsTF -123456 9000000000 -1.5 2.25e300 \"two words\"");
    ASSERT_FALSE(liblo.empty()) << "oscsend not available";
    Message m = decoded(liblo);
    ASSERT_TRUE(m.isOk());
    EXPECT_EQ(m.addressPattern(), "/a/b");
    EXPECT_EQ(m.typeTags(), "ihfdsTF");
    int32_t i = 0;
    int64_t h = 0;
    float f = 0;
    double d = 0;
    std::string s;
    bool t = false, fa = true;
    auto r = m.arg();
    r.popInt32(i).popInt64(h).popFloat(f).popDouble(d).popStr(s).popBool(t).popBool(fa);
    EXPECT_TRUE(r.isOkNoMoreArgs());
    EXPECT_EQ(i, -123456);
    EXPECT_EQ(h, 9000000000LL);
    EXPECT_EQ(f, -1.5f);
    EXPECT_EQ(d, 2.25e300);
    EXPECT_EQ(s, "two words");
    EXPECT_TRUE(t);
    EXPECT_FALSE(fa);
}

TEST(OscWire, RoundTripOfEveryTagAndPaddingBoundary) {
    // "/abc" fills its word exactly; strings of 0..5 characters cross every padding case.
    Message m("/abc");
    m.pushInt32(std::numeric_limits<int32_t>::min()).pushInt64(std::numeric_limits<int64_t>::max());
    m.pushFloat(-0.0f).pushDouble(std::numeric_limits<double>::denorm_min()).pushBool(false);
    for (const char* s : {"", "a", "ab", "abc", "abcd", "abcde"}) m.pushStr(s);
    Bytes wire = m.encode();
    Message back = decoded(wire);
    ASSERT_TRUE(back.isOk());
    EXPECT_EQ(back.addressPattern(), "/abc");
    EXPECT_EQ(back.typeTags(), "ihfdFssssss");
    EXPECT_EQ(back.encode(), wire);
    int32_t i;
    int64_t h;
    float f;
    double d;
    bool b = true;
    std::string s[6];
    auto r = back.arg();
    r.popInt32(i).popInt64(h).popFloat(f).popDouble(d).popBool(b);
    for (auto& str : s) r.popStr(str);
    ASSERT_TRUE(r.isOkNoMoreArgs());
    EXPECT_EQ(i, std::numeric_limits<int32_t>::min());
    EXPECT_EQ(h, std::numeric_limits<int64_t>::max());
    EXPECT_TRUE(f == 0.0f && std::signbit(f));
    EXPECT_EQ(d, std::numeric_limits<double>::denorm_min());
    EXPECT_FALSE(b);
    EXPECT_EQ(s[3], "abc");
    EXPECT_EQ(s[5], "abcde");
}

TEST(OscWire, StringWithNulIsCutSoThePacketStaysValid) {
    Message m("/x");
    m.pushStr(std::string("ab\0cdef", 7)).pushInt32(5);
    Message back = decoded(m.encode());
    ASSERT_TRUE(back.isOk());
    std::string s;
    int32_t i = 0;
    auto r = back.arg();
    r.popStr(s).popInt32(i);
    EXPECT_TRUE(r.isOkNoMoreArgs());
    EXPECT_EQ(s, "ab");
    EXPECT_EQ(i, 5);
}

TEST(OscWire, MessageWithoutTypeTagsHasNoArguments) {
    Message m = decoded(bytes("/ping\0\0\0", 8));
    ASSERT_TRUE(m.isOk());
    EXPECT_EQ(m.typeTags(), "");
    EXPECT_EQ(m.arg().nbArgRemaining(), 0u);
}

TEST(OscReader, ErrorStates) {
    Message m("/x");
    m.pushInt32(1).pushFloat(2.0f);
    int32_t i = -1;
    float f = -1;
    // Wrong type: error, value untouched, and the error sticks.
    auto wrong = m.arg();
    wrong.popFloat(f).popInt32(i);
    EXPECT_FALSE(wrong.isOk());
    EXPECT_EQ(f, -1);
    EXPECT_EQ(i, -1);
    // Past the last argument.
    auto past = m.arg();
    past.popInt32(i).popFloat(f);
    EXPECT_TRUE(past.isOkNoMoreArgs());
    float g = -1;
    EXPECT_FALSE(past.popFloat(g).isOk());
    EXPECT_EQ(g, -1);
    // Arguments left over.
    EXPECT_FALSE(m.arg().popInt32(i).isOkNoMoreArgs());
    // A reader of a message in its error state starts failed.
    m.setError();
    EXPECT_FALSE(m.arg().popInt32(i).isOk());
    EXPECT_TRUE(m.encode().empty());
    EXPECT_FALSE(Message::decode("junk", 4).arg().isOk());
}

TEST(OscMalformed, EveryTruncationOfAGoodMessageIsRefused) {
    Message m("/track/1");
    m.pushStr("name").pushInt32(7).pushDouble(1.5).pushStr("xyz");
    Bytes wire = m.encode();
    const size_t addressOnly = 12;  // "/track/1" + pad: a valid message without type tags
    for (size_t n = 0; n < wire.size(); ++n) {
        if (n == addressOnly) continue;
        Bytes cut(wire.begin(), wire.begin() + n);
        EXPECT_FALSE(Message::decode(cut.data(), cut.size()).isOk()) << "length " << n;
        std::vector<Message> out;
        EXPECT_FALSE(oscpkt::decodePacket(cut.data(), cut.size(), out)) << "length " << n;
        EXPECT_TRUE(out.empty());
    }
}

TEST(OscMalformed, RefusedPackets) {
    struct Case {
        const char* what;
        Bytes wire;
    };
    const Case cases[] = {
        {"no leading slash", bytes("abc\0,i\0\0\0\0\0\1", 12)},
        {"unknown tag", bytes("/abc\0\0\0\0,x\0\0\0\0\0\1", 16)},
        {"address not padded with NULs", bytes("/ab\0\1\0\0\0,i\0\0\0\0\0\1", 16)},
        {"tags not padded with NULs", bytes("/ab\0,i\0\7\0\0\0\1", 12)},
        {"size not a multiple of 4", bytes("/ab\0,i\0\0\0\0\0\1\0", 13)},
        {"bytes after the last argument", bytes("/ab\0,i\0\0\0\0\0\1\0\0\0\0", 16)},
        {"string argument without NUL", bytes("/ab\0,s\0\0abcd", 12)},
        {"type tags not starting with a comma", bytes("/ab\0i\0\0\0\0\0\0\1", 12)},
        {"address without NUL", bytes("/abcdefg", 8)},
        {"empty", Bytes{}},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(decoded(c.wire).isOk()) << c.what;
        std::vector<Message> out;
        EXPECT_FALSE(oscpkt::decodePacket(c.wire.data(), c.wire.size(), out)) << c.what;
    }
}

TEST(OscBundle, NestedBundlesDeliverEveryMessageInOrder) {
    Message a("/a"), b("/b"), c("/c");
    a.pushInt32(1);
    b.pushStr("two");
    c.pushFloat(3.0f);
    Bytes packet = bundle({a.encode(), bundle({b.encode(), bundle({})}), c.encode()});
    std::vector<Message> out;
    ASSERT_TRUE(oscpkt::decodePacket(packet.data(), packet.size(), out));
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].addressPattern(), "/a");
    EXPECT_EQ(out[1].addressPattern(), "/b");
    EXPECT_EQ(out[2].addressPattern(), "/c");
    std::string s;
    EXPECT_TRUE(out[1].arg().popStr(s).isOkNoMoreArgs());
    EXPECT_EQ(s, "two");
    // A bundle is not a message.
    EXPECT_FALSE(decoded(packet).isOk());
    // A plain message is a packet of one.
    Bytes single = a.encode();
    ASSERT_TRUE(oscpkt::decodePacket(single.data(), single.size(), out));
    ASSERT_EQ(out.size(), 1u);
}

TEST(OscBundle, MalformedBundlesDeliverNothing) {
    Message a("/a");
    a.pushInt32(1);
    Bytes good = a.encode();
    Bytes overSize = bundle({good});
    overSize[19] += 4;  // element claims more than the packet holds
    Bytes hugeSize = bundle({good});
    hugeSize[16] = 0xff;
    Bytes oddSize = concat({bundle({good}), Bytes{0, 0, 0, 2, 0, 0, 0, 0}});
    Bytes zeroSize = concat({bundle({good}), Bytes{0, 0, 0, 0}});
    Bytes danglingSize = concat({bundle({good}), Bytes{0, 0, 0, 8}});  // an element of 8 bytes, none there
    Bytes badInner = bundle({good, bundle({bytes("noslash\0", 8)})});
    Bytes shortHeader = bytes("#bundle\0\0\0\0\0", 12);
    Bytes deep = good;
    for (int i = 0; i < 40; ++i) deep = bundle({deep});
    const Bytes* refused[] = {&overSize, &hugeSize, &oddSize, &zeroSize, &danglingSize, &badInner, &shortHeader, &deep};
    for (size_t i = 0; i < std::size(refused); ++i) {
        std::vector<Message> out;
        EXPECT_FALSE(oscpkt::decodePacket(refused[i]->data(), refused[i]->size(), out)) << "case " << i;
        EXPECT_TRUE(out.empty()) << "case " << i;
    }
    Bytes shallow = good;
    for (int i = 0; i < 8; ++i) shallow = bundle({shallow});
    std::vector<Message> out;
    EXPECT_TRUE(oscpkt::decodePacket(shallow.data(), shallow.size(), out));
    EXPECT_EQ(out.size(), 1u);
}

TEST(OscPattern, FullMatch) {
    struct Case {
        const char* pattern;
        const char* address;
        bool matches;
    };
    const Case cases[] = {
        {"/1/syn/cutoff", "/1/syn/cutoff", true},
        {"/1/syn/cutof", "/1/syn/cutoff", false},
        {"/?/syn", "/3/syn", true},
        {"/?/syn", "/33/syn", false},
        {"/??", "/a/", false},  // '?' does not match '/'
        {"/*/syn", "/12/syn", true},
        {"/*/syn", "/syn", false},
        {"/*", "/a/b", false},  // '*' stays inside one part
        {"/a*", "/a", true},
        {"/*b*c", "/xbybzcd", false},
        {"/[1-5]/afx", "/4/afx", true},
        {"/[1-5]/afx", "/6/afx", false},
        {"/[!1-5]/afx", "/6/afx", true},
        {"/[!1-5]/afx", "/3/afx", false},
        {"/[a-]x", "/-x", true},
        {"/[-a]x", "/-x", true},
        {"/[!]]", "/]", false},
        {"/[]]", "/]", true},
        {"/[!a]", "//", false},
        {"/{seq,syn,afx}/x", "/syn/x", true},
        {"/{seq,syn,afx}/x", "/mod/x", false},
        {"/a{,b}c", "/ac", true},
        {"/a{,b}c", "/abc", true},
        {"/{a,ab}c", "/abc", true},  // the second alternative, after the first fails
        {"/*{1,2}", "/xx2", true},
        {"/[1-5", "/1", false},  // unterminated: matches nothing
        {"/{a,b", "/a", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Message(c.pattern).match(c.address), c.matches) << c.pattern << " vs " << c.address;
}

TEST(OscPattern, PartialMatchStopsAtAPartBoundary) {
    EXPECT_TRUE(Message("/1").partialMatch("/1/syn/cutoff"));
    EXPECT_TRUE(Message("/[1-5]/syn").partialMatch("/2/syn/cutoff"));
    EXPECT_TRUE(Message("/1/syn/cutoff").partialMatch("/1/syn/cutoff"));
    EXPECT_FALSE(Message("/1").partialMatch("/12/syn"));
    EXPECT_FALSE(Message("/1/syn/cutoff").partialMatch("/1/syn"));
    EXPECT_TRUE(Message("/*").partialMatch("/oscv/ping"));
    EXPECT_FALSE(Message("/oscv/ping").partialMatch("/oscv/pin"));
}

TEST(OscPattern, HostilePatternsStayCheap) {
    // Backtracking matchers take exponential time or deep recursion here.
    std::string stars = "/";
    for (int i = 0; i < 5000; ++i) stars += "*a";
    stars += "b";
    EXPECT_FALSE(Message(stars).match("/" + std::string(200, 'a')));
    std::string braces = "/";
    for (int i = 0; i < 5000; ++i) braces += "{,a}";
    EXPECT_TRUE(Message(braces).match("/aaaa"));
}
