// The OSC side against liblo's tools on real loopback sockets: parameters set
// with oscsend, the receiver re-created on a port change, the CV expander
// client watched by oscdump, and a flood while effects come and go.
#include "connectivity/Network.h"
#include "connectivity/OSCV.h"
#include "connectivity/OscRouter.h"
#include "instrument/track/Track.h"
#include "parameters/ParameterFloat.h"
#include "parameters/ParameterGroup.h"

#include "../support/Shell.h"
#include "../support/TempDir.h"
#include "OscPeers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

using namespace oscpeers;

namespace {

ParameterFloat& shape() {
    return *static_cast<ParameterFloat*>(DSP::track[0].currentEngine()->parameters.find("filt shape"));
}

// Lines of `ss -uln` for a local port.
size_t socketsOn(int port) {
    return countOf(testsupport::shellOutput("ss -uln"), ":" + std::to_string(port) + " ");
}

// High ports through a configuration file in the temporary root, as a
// non-root run of the instrument gets them.
struct Receiving {
    explicit Receiving(int port) {
        ParameterGroup config("config");
        for (Parameter* p : std::initializer_list<Parameter*>{&net.oscInPort, &net.oscOutPort, &net.oscOutIP})
            config.add(p);
        nlohmann::json j;
        config.toJson(j);
        j["OSC in port"]["value"] = port;
        j["OSC out port"]["value"] = freePort();
        j["OSC out IP"]["value"] = "127.0.0.1";
        const std::string path = testsupport::tempDir() + "network-config.json";
        std::ofstream(path) << j.dump(2);
        nlohmann::json read = nlohmann::json::parse(std::ifstream(path));
        config.fromJson(read, nullptr, FileVersion());
        net.applyOscSettings();
    }
    Network net;
};

TEST(OscPeers, OscsendSetsParametersAndEverythingElseIsUnhandled) {
    std::atomic<uint32_t> idle{500};
    setOscIdleCounter(&idle);
    shape().setValue(3.0f, false);
    const int port = freePort();
    Receiving r(port);
    ASSERT_EQ(r.net.oscInPort.value.load(), port);
    ASSERT_EQ(r.net.receivingPort(), port);
    EXPECT_NE(testsupport::shellOutput("ss -uln").find("127.0.0.1:" + std::to_string(port)), std::string::npos);

    ASSERT_EQ(oscsend(port, "/1/syn/filt_shape f 0.5"), 0);
    // The value is set before the idle counter is cleared: wait for both.
    EXPECT_TRUE(waitUntil([&] { return shape().getValue() == 0.5f && idle.load() == 0u; }))
        << shape().getValue() << " " << idle.load();
    idle.store(500);
    const char* refused[] = {"/6/syn/x f 1", "/0/seq/x f 1", "/2/afx/0/pan f 1", "/ f 1",
                             "/1/syn/filt_shape s text", "/1/syn/filt_shape f nan"};
    for (const char* arguments : refused) {
        const uint32_t before = oscUnhandledCount();
        ASSERT_EQ(oscsend(port, arguments), 0);
        ASSERT_TRUE(waitUntil([&] { return oscUnhandledCount() == before + 1; })) << arguments;
    }
    EXPECT_EQ(shape().getValue(), 0.5f);
    EXPECT_EQ(idle.load(), 500u);
    setOscIdleCounter(nullptr);
}

TEST(OscPeers, ApplyingKeepsOneSocketAndFollowsThePort) {
    const int first = freePort();
    Receiving r(first);
    r.net.applyOscSettings();
    EXPECT_EQ(r.net.receiversCreated(), 1u);
    EXPECT_EQ(r.net.sendersCreated(), 1u);
    EXPECT_EQ(socketsOn(first), 1u);

    r.net.oscOutIP.setFromString("127.0.0.2");
    r.net.applyOscSettings();
    EXPECT_EQ(r.net.receiversCreated(), 1u);
    EXPECT_EQ(r.net.sendersCreated(), 2u);

    const int second = freePort();
    r.net.oscInPort.setValue(second, false);
    r.net.applyOscSettings();
    EXPECT_EQ(socketsOn(first), 0u);
    EXPECT_EQ(socketsOn(second), 1u);
    shape().setValue(3.0f, false);
    ASSERT_EQ(oscsend(second, "/1/syn/filt_shape f 1.5"), 0);
    ASSERT_TRUE(waitUntil([] { return shape().getValue() == 1.5f; }));
}

TEST(OscvPeers, FakeExpanderSeesStartNotesAndSilenceAfterTheTimeout) {
    const int inPort = freePort();
    Receiving r(inPort);
    OSCV client;
    OSCV* previous = Driver::oscv.exchange(&client);
    const int dumpPort = freePort();
    Driver::network.oscvPort.setValue(dumpPort, false);
    Oscdump dump(dumpPort);
    ASSERT_TRUE(dump.waitListening(dumpPort, "/probe"));

    OscSender expander(inPort, "127.0.0.1");
    uint32_t now = 1000;
    auto ping = [&] {
        const uint32_t before = client.pingsReceived();
        expander.newMessage(OSCV::kPing).add(int32_t(1));
        expander.send();
        ASSERT_TRUE(waitUntil([&] { return client.pingsReceived() == before + 1; }));
    };
    const int32_t levels[OSCV::kCvOuts] = {1, 2, 3, 4, 5, 6, 7, 8};
    client.sendNote(0, true, 440.0f);  // not connected: nothing
    client.update(now);
    ping();
    client.update(now);
    ASSERT_TRUE(client.isConnected());
    EXPECT_EQ(Driver::network.oscvIP.toString(), "127.0.0.1");
    for (int k = 0; k < 4; ++k) {
        client.sendNote(uint32_t(k), true, 440.0f);
        client.sendNote(uint32_t(k), false, 220.0f);
        client.sendCvOuts(9, levels);
        now += 500;
        client.update(now);
        ping();  // stamped with the time of the last update
    }
    ASSERT_TRUE(client.isConnected());

    testing::internal::CaptureStdout();
    client.update(now + OSCV::kTimeoutMs);
    const bool keptAtTheLimit = client.isConnected();
    for (uint32_t t = now + OSCV::kTimeoutMs + 1; t < now + 3000; t += 100) {
        client.sendNote(0, true, 440.0f);
        client.sendCvOuts(9, levels);
        client.update(t);
    }
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(keptAtTheLimit);
    EXPECT_EQ(countOf(printed, "OSCV connection timed out 127.0.0.1"), 1u);
    EXPECT_FALSE(client.isConnected());
    EXPECT_EQ(Driver::network.oscvIP.toString(), Network::kNotConnected);

    ASSERT_TRUE(dump.waitListening(dumpPort, "/end"));
    const std::string text = dump.text();
    EXPECT_EQ(countOf(text, "/oscv/start"), 1u);
    EXPECT_EQ(countOf(text, "/oscv/corvane-note ifT 1 440"), 1u);
    EXPECT_EQ(countOf(text, "/oscv/corvane-note ifF 4 220"), 1u);
    EXPECT_EQ(countOf(text, "/oscv/corvane-note"), 8u);
    EXPECT_EQ(countOf(text, "/oscv/cvouts iiiiiiiiii 9 16 1 2 3 4 5 6 7 8"), 4u);
    EXPECT_LT(text.find("/oscv/start"), text.find("/oscv/corvane-note"));
    // Nothing between the last batch and the end probe.
    const size_t lastCv = text.rfind("/oscv/cvouts");
    EXPECT_EQ(text.find("/oscv/", lastCv + 1), std::string::npos);
    Driver::oscv.store(previous);
    Driver::network.oscvPort.setValue(707, false);
}

TEST(OscFlood, EffectValuesWhileTheChainChanges) {
    const int port = freePort();
    Receiving r(port);
    EffectChain& chain = DSP::track[0].effectChain;
    std::atomic<bool> stop{false};
    std::atomic<uint32_t> sent{0};
    std::thread flood([&] {
        OscSender sender(port, "127.0.0.1");
        while (!stop.load()) {
            sender.newMessage("/1/afx/1/pan").add(0.25f);
            sender.send();
            sender.newMessage("/1/afx/2/pan").add(-0.25f);
            sender.send();
            sent.fetch_add(2);
        }
    });
    const uint32_t start = oscUnhandledCount();
    for (int round = 0; round < 200; ++round) {
        ASSERT_TRUE(chain.insertEffect(AudioEffectType::Stereo, 0));
        ASSERT_TRUE(chain.removeEffect(0));
    }
    ASSERT_TRUE(waitUntil([&] { return oscUnhandledCount() > start; }));
    stop.store(true);
    flood.join();
    EXPECT_GT(sent.load(), 0u);
    ASSERT_EQ(chain.effectCount(), 1u);
    EXPECT_EQ(chain.getEffect(0)->typeName, "stereo");
}

}  // namespace
