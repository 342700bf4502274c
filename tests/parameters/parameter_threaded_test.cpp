// The audio thread reads modulator lists, choice lists, MIDI maps and texts
// while another thread replaces them.
#include "tests/support/realtime_stepped.h"
#include "TestModulator.h"
#include "connectivity/MidiMessage.h"
#include "parameters/ParameterFloat.h"
#include "parameters/ParameterGroup.h"
#include "parameters/ParameterInt.h"
#include "parameters/ParameterString.h"
#include "platform/Audio.h"
#include "platform/Osc.h"
#include "platform/Stepped.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace {

struct Shared {
    ParameterFloat level{"level", ParameterFloat::Percent, Stored | PerChannel, 0.5f};
    ParameterInt list{"list", 2, Stored | Smoothed, 0, ParameterInt::kNoMinimum, ParameterInt::kNoMaximum};
    ParameterString name{"name", ParameterString::Text, Stored, "start"};
    ParameterGroup group;
    std::atomic<long> renders{0};
    std::atomic<bool> badValue{false};

    Shared() {
        group.add(&level);
        group.add(&list);
        group.add(&name);
        group.setName("stress");
    }
};

Shared* gShared = nullptr;

void stressRender(BelaContext*, void*) {
    Shared& s = *gShared;
    s.group.updateBlock();
    for (uint32_t ch = 0; ch < 8; ++ch) {
        float v = s.level.getModulated(ch, ch == 0, false);
        if (!std::isfinite(v) || v < 0.0f || v > 1.0f)
            s.badValue = true;
    }
    MidiMessage cc;
    cc.type = uint32_t(MIDIMsgType::ControlChange);
    cc.channel = 0;
    cc.data1 = 20;
    cc.data2 = uint32_t(s.renders.load() % 128);
    s.group.applyMidi(cc);
    s.renders.fetch_add(1);
}

}  // namespace

TEST(ParameterThreaded, ListsReplacedWhileTheAudioThreadReadsThem) {
    Shared shared;
    gShared = &shared;
    TestManager manager;
    ASSERT_TRUE(testsupport::startStepped(stressRender, "params-root"));
    testsupport::SteppingAudio audio;

    std::atomic<bool> stopReader{false};
    std::thread display([&] {
        // the display task reading what the others replace
        while (!stopReader) {
            std::string text = shared.name.toString();
            if (text != "start" && text.rfind("name ", 0) != 0)
                shared.badValue = true;
            shared.list.toString();
        }
    });

    testing::internal::CaptureStdout();
    constexpr int kRounds = 200;
    for (int round = 0; round < kRounds; ++round) {
        auto m = manager.addModulator("LFO", 8, "level", "stress");
        static_cast<TestModulator*>(m.get())->value = 0.01f * float(round % 50);
        shared.level.addModulator(m);
        shared.level.addModulator(manager.addModulator("random", 8, "level", "stress"));
        if (round % 3 == 0)
            shared.level.removeModulator(0);
        if (round % 5 == 0) {
            nlohmann::json j = shared.level.toJson();
            shared.level.fromJson(j, &manager, FileVersion("", 0, 1, 30));
        }
        if (round % 7 == 0)
            shared.level.resetToDefault();
        std::vector<std::string> names;
        std::vector<int32_t> values;
        for (int i = 0; i <= round % 9; ++i) {
            names.push_back("entry " + std::to_string((i + round) % 11));
            values.push_back(i * 10);
        }
        shared.list.setChoicesWithValues(names, values, -1);
        if (round % 2 == 0)
            shared.group.addMidiMapping({0, 20, -1}, "level");
        else
            shared.group.removeMidiMapping("level");
        shared.name.setFromString("name " + std::to_string(round));
        manager.removeAll();  // the parameter's references keep them alive
        // Every round overlaps the audio thread: it waits for a block
        // rather than hoping the stepping thread ran meanwhile.
        const long seen = shared.renders.load();
        while (shared.renders.load() == seen)
            std::this_thread::yield();
    }
    testing::internal::GetCapturedStdout();
    stopReader = true;
    display.join();
    audio.stop();
    Bela_cleanupAudio();
    gShared = nullptr;

    EXPECT_GE(shared.renders.load(), kRounds);
    EXPECT_FALSE(shared.badValue.load());
    EXPECT_FALSE(shared.level.busy.load());
    EXPECT_LE(shared.level.modulators.size(), Parameter::kMaxModulators);
    EXPECT_EQ(shared.name.toString(), "name " + std::to_string(kRounds - 1));
    EXPECT_EQ(shared.list.choiceCount(), size_t((kRounds - 1) % 9 + 1));
}

TEST(ParameterThreaded, ListEditsFromTwoThreadsWaitForEachOther) {
    Shared shared;
    gShared = &shared;
    TestManager manager;
    ASSERT_TRUE(testsupport::startStepped(stressRender, "params-edit-root"));
    testsupport::SteppingAudio audio;
    // Say, the interface task's menu flow and a loader touching one list.
    std::vector<std::shared_ptr<Modulator>> made;
    for (int i = 0; i < 2; ++i)
        made.push_back(manager.addModulator("LFO", 8, "level", "stress"));
    testing::internal::CaptureStdout();
    auto editor = [&](int which) {
        for (int round = 0; round < 300; ++round) {
            shared.level.addModulator(made[size_t(which)]);
            shared.level.removeModulator(0);
        }
    };
    std::thread first(editor, 0), second(editor, 1);
    first.join();
    second.join();
    testing::internal::GetCapturedStdout();
    audio.stop();
    Bela_cleanupAudio();
    gShared = nullptr;
    EXPECT_TRUE(shared.level.modulators.empty());
    EXPECT_FALSE(shared.level.busy.load());
    EXPECT_FALSE(shared.badValue.load());
}

TEST(ParameterThreaded, ValuesFromOscsendInEveryNumberType) {
    // The receiver thread sets parameters as the router does: found by name
    // in the group, then setFromOSC with the whole message.
    ParameterFloat freq("cutoff", ParameterFloat::Hertz, Stored, 440.0f);
    ParameterFloat level("level", ParameterFloat::Plain, Stored, 0.0f, -1e12f, 1e12f);
    ParameterInt steps("steps", 0, Stored, 0, ParameterInt::kNoMinimum, ParameterInt::kNoMaximum);
    ParameterGroup group("osc");
    group.add(&freq);
    group.add(&level);
    group.add(&steps);
    std::mutex lock;  // the test reads what the receiver thread set
    std::atomic<int> received{0}, accepted{0};
    OscReceiver receiver(0, [&](oscpkt::Message* message, const char*, void*) {
        std::lock_guard<std::mutex> guard(lock);
        const std::string& address = message->addressPattern();
        Parameter* p = group.find(address.substr(address.rfind('/') + 1));
        if (p && p->setFromOSC(*message))
            ++accepted;
        ++received;
    });
    ASSERT_TRUE(receiver.isOk());
    const std::string send = "oscsend localhost " + std::to_string(receiver.port()) + " ";
    auto deliver = [&](const std::string& arguments) {
        const int before = received;
        ASSERT_EQ(std::system((send + arguments + " >/dev/null 2>&1").c_str()), 0) << arguments;
        for (int i = 0; i < 12000 && received == before; ++i)  // the guard only ends a lost packet
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_GT(received.load(), before) << arguments;
    };
    deliver("/1/syn/cutoff f 1000.0");
    deliver("/1/syn/level d -2.5e9");
    {
        std::lock_guard<std::mutex> guard(lock);
        EXPECT_FLOAT_EQ(level.getValue(), -2.5e9f);
    }
    deliver("/1/syn/steps h 8589934599");  // the low 32 bits: 7
    deliver("/1/syn/level i -12");
    deliver("/1/syn/steps s 12");  // no number
    receiver.stop();
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(accepted.load(), 4);
    EXPECT_NEAR(freq.converted, 1000.0f, 0.05f);
    EXPECT_FLOAT_EQ(level.getValue(), -12.0f);
    EXPECT_EQ(int(steps.value), 7);
    EXPECT_TRUE(freq.overridden);
}
