// The CV expander client's time base and connection states, driven directly.
#include "connectivity/Network.h"
#include "connectivity/OSCV.h"

#include <gtest/gtest.h>

namespace {

TEST(OscvTime, MillisecondsRunOnAcrossBothWraps) {
    const uint64_t wraps[] = {uint64_t(1) << 32, uint64_t(3) << 30};  // the block count's, the milliseconds'
    for (uint64_t w : wraps)
        for (uint64_t b = w - 30; b < w + 30; ++b)
            EXPECT_EQ(uint32_t(OSCV::millisecondsAt(b + 3) - OSCV::millisecondsAt(b)), 4u) << b;
}

TEST(OscvTime, PingsAcrossBlockTwoToTheThirtyTwoKeepTheConnection) {
    OSCV client;
    const oscpkt::Message ping(OSCV::kPing);
    uint32_t lost = 0;
    for (uint64_t block = (uint64_t(1) << 32) - 4000; block < (uint64_t(1) << 32) + 4000; block += 4) {
        if (block % 376 == 0)
            client.handleMessage(ping, "127.0.0.1:9000");
        const bool before = client.isConnected();
        client.update(OSCV::millisecondsAt(block));
        lost += before && !client.isConnected();
    }
    EXPECT_TRUE(client.isConnected());
    EXPECT_EQ(lost, 0u);
}

TEST(Oscv, OnlyPingsCountAndANewAddressReconnects) {
    OSCV client;
    client.handleMessage(oscpkt::Message("/oscv/other"), "127.0.0.1:9000");
    client.handleMessage(oscpkt::Message("/oscv/pin"), "127.0.0.1:9000");
    EXPECT_EQ(client.pingsReceived(), 0u);
    client.update(10);
    EXPECT_FALSE(client.isConnected());
    client.handleMessage(oscpkt::Message("/oscv/p*"), "127.0.0.1:9000");
    client.update(20);
    EXPECT_TRUE(client.isConnected());
    client.handleMessage(oscpkt::Message(OSCV::kPing), "127.0.0.3:9000");
    EXPECT_EQ(client.address(), "127.0.0.3");
    client.update(30);
    EXPECT_EQ(Driver::network.oscvIP.toString(), "127.0.0.3");
    // A full ring drops what does not fit and never blocks the sender.
    const int32_t levels[OSCV::kCvOuts] = {};
    for (uint32_t k = 0; k < OSCV::kQueueSize + 10; ++k)
        client.sendCvOuts(9, levels);
    EXPECT_EQ(client.droppedSends(), 10u);
    client.update(1431);
    EXPECT_FALSE(client.isConnected());
}

}  // namespace
