// The OSC router called the way the receiver thread calls it, on the tracks
// of the instrument.
#include "connectivity/OSCV.h"
#include "connectivity/OscRouter.h"
#include "instrument/track/Track.h"
#include "parameters/ParameterFloat.h"
#include "platform/Osc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

using oscpkt::Message;

ParameterFloat& shape() {
    return *static_cast<ParameterFloat*>(DSP::track[0].currentEngine()->parameters.find("filt shape"));
}

uint32_t route(Message m) {
    const uint32_t before = oscUnhandledCount();
    on_receive(&m, "127.0.0.1:5000", nullptr);
    return oscUnhandledCount() - before;
}

class OscRouter : public ::testing::Test {
protected:
    void SetUp() override {
        idle.store(1000);
        setOscIdleCounter(&idle);
        resetOscUnhandledLines();
        shape().setValue(3.0f, false);
    }
    void TearDown() override { setOscIdleCounter(nullptr); }
    std::atomic<uint32_t> idle{0};
};

TEST_F(OscRouter, SetsTheNamedParameterAndCountsAsActivity) {
    ASSERT_EQ(DSP::track[0].currentEngine(), &DSP::track[0].subtractiveCommon);
    EXPECT_EQ(route(Message("/1/syn/filt_shape").pushFloat(0.5f)), 0u);
    EXPECT_FLOAT_EQ(shape().getValue(), 0.5f);
    EXPECT_EQ(idle.load(), 0u);
    // Only one character is the track; the longer category word works alike.
    EXPECT_EQ(route(Message("/12/synth/filt_shape/more").pushDouble(0.25)), 0u);
    EXPECT_FLOAT_EQ(shape().getValue(), 0.25f);
    // The sequencer's group and the first effect of track 2.
    // The parameter reads the value in its own units (percent here).
    EXPECT_EQ(route(Message("/2/seq/chance").pushFloat(50.0f)), 0u);
    EXPECT_FLOAT_EQ(DSP::track[1].sequencerImpl.chance.getValue(), 0.5f);
    ASSERT_EQ(DSP::track[1].effectChain.getEffect(0)->typeName, "stereo");
    EXPECT_EQ(route(Message("/2/afx/1/pan").pushFloat(-0.5f)), 0u);
    auto pan = DSP::track[1].effectChain.getParameterGroup(0)->find("pan");
    EXPECT_FLOAT_EQ(static_cast<ParameterFloat*>(pan)->getValue(), -0.5f);
}

TEST_F(OscRouter, EverythingElseIsReportedOnceAndChangesNothing) {
    const char* addresses[] = {"/6/syn/filt_shape", "/0/seq/chance", "/2/afx/0/pan", "/2/afx/x/pan", "/2/afx/9/pan",
                               "/3/tou/x",         "/3/abc/x",      "/1/syn",       "/1/afx/1",     "/",
                               "",                 "/1",            "/1/",          "/1/mod/1/x",   "/1/syn/nothing",
                               "/x/y"};
    for (const char* a : addresses)
        EXPECT_EQ(route(Message(a).pushFloat(0.75f)), 1u) << a;
    EXPECT_EQ(route(Message("/1/syn/filt_shape").pushStr("0.75")), 1u);
    EXPECT_EQ(route(Message("/1/syn/filt_shape").pushFloat(std::nanf(""))), 1u);
    EXPECT_EQ(route(Message("/1/syn/filt_shape")), 1u);
    EXPECT_FLOAT_EQ(shape().getValue(), 3.0f);
    EXPECT_EQ(idle.load(), 1000u);

    testing::internal::CaptureStdout();
    route(Message("/6/syn/x").pushFloat(1.0f));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "OSC from [127.0.0.1:5000][/6/syn/x] is unhandled\n");
}

// Any host can send them: printed escaped, a burst and then one a second.
TEST_F(OscRouter, UnhandledAddressesPrintEscapedAndAFloodIsCut) {
    testing::internal::CaptureStdout();
    route(Message("/6/\x1b]0;owned\x07\n/x").pushFloat(1.0f));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "OSC from [127.0.0.1:5000][/6/\\x1b]0;owned\\x07\\x0a/x] is unhandled\n");

    testing::internal::CaptureStdout();
    const auto start = std::chrono::steady_clock::now();
    uint32_t unhandled = 0;
    for (int i = 0; i < 5000; ++i)
        unhandled += route(Message("/6/syn/x").pushFloat(1.0f));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(unhandled, 5000u);  // all counted, few printed
    const size_t lines = size_t(std::count(out.begin(), out.end(), '\n'));
    EXPECT_GE(lines, 10u);
    EXPECT_LE(double(lines), 2.0 * (20.0 + seconds + 1.0)) << out.substr(0, 500);
}

TEST_F(OscRouter, ExpanderAddressesGoToTheClient) {
    OSCV client;
    OSCV* before = Driver::oscv.exchange(&client);
    EXPECT_EQ(route(Message("/oscv/ping")), 0u);
    EXPECT_EQ(route(Message("/o?cv/ping")), 0u);
    EXPECT_EQ(route(Message("/oscv/other")), 0u);
    EXPECT_EQ(client.pingsReceived(), 2u);
    EXPECT_EQ(client.address(), "127.0.0.1");
    EXPECT_EQ(route(Message("/nothing")), 1u);
    Driver::oscv.store(before);
}

}  // namespace
