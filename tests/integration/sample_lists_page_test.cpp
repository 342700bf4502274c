// The sample-lists page turned from the panel one detent at a time: every
// list, entry, value field and insert position comes up in order.
#include "gui/ListSelect.h"
#include "samples/AudioResourcePool.h"

#include "tests/support/stepped_instrument.h"
#include "tests/support/sound_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kCursorEncoder = 12;

void writeClick(const std::string& path) {
    ASSERT_TRUE(testsupport::writeSound(path, std::vector<float>(4800, 0.1f))) << path;
}

// Three lists of three entries each, loaded with the template project.
void threeLists(const std::string& folder) {
    std::string entries = "[";
    for (const char* name : {"a", "b", "c"})
        entries += std::string(entries.size() > 1 ? ", " : "") + "{\"sample\": \"/home/corvane/samples/" + name +
                   ".wav\"}";
    entries += "]";
    testsupport::writeText(folder + "template.proj",
                           "{\"clock\": {\"BPM\": {\"value\": 120}}, \"files\": {\"sg\": \"lists.sl\"}}\n");
    testsupport::writeText(folder + "lists.sl", "{\"sample groups\": {\"drums\": " + entries + ", \"keys\": " +
                                                    entries + ", \"pads\": " + entries + "}}\n");
}

class SampleListsPage : public testsupport::SteppedInstrument {
protected:
    void SetUp() override {
        start({.root = "sample-lists-root", .project = threeLists, .files = [](const std::string& root) {
                   host::makeFolders(root + "/samples");
                   for (const char* name : {"a", "b", "c"})
                       writeClick(root + "/samples/" + name + ".wav");
               }, .midi = false});
    }

    static AudioResourcePool& pool() { return DSP::audioPool; }
    // Until the display has taken another frame: the page has handled what came before.
    static void nextFrame() {
        const unsigned frames = host::board().oled().framesCompleted();
        for (int i = 0; i < 200 && host::board().oled().framesCompleted() <= frames; ++i)
            step(1);
    }
    // One detent after another in one direction, each delivered and handled,
    // until the value is `last`; the values seen, each once, from the one
    // before the first turn.
    static std::vector<int32_t> walk(uint32_t encoder, int32_t direction, const std::function<int32_t()>& value,
                                     int32_t last) {
        std::vector<int32_t> seen{value()};
        for (int i = 0; i < 40 && seen.back() != last; ++i) {
            turnFully(encoder, direction);
            nextFrame();
            if (value() != seen.back())
                seen.push_back(value());
        }
        return seen;
    }
    static std::vector<int32_t> range(int32_t from, int32_t to) {
        std::vector<int32_t> r;
        for (int32_t v = from; v != to; v += from < to ? 1 : -1)
            r.push_back(v);
        r.push_back(to);
        return r;
    }
    static void choose(const std::string& item) {
        testsupport::cursorOnto(item, [](uint32_t e, int d) { turnFully(e, d); });
        if (HasFatalFailure())
            return;
        tap(ListSelect::kAcceptKey);
        nextFrame();
        nextFrame();
    }
};

TEST_F(SampleListsPage, EveryListEntryFieldAndInsertPositionIsReachedOneDetentAtATime) {
    ASSERT_EQ(pool().listNames(), (std::vector<std::string>{"none", "drums", "keys", "pads"}));
    tap(21);
    nextFrame();
    ASSERT_EQ(pool().viewState(), 1u);
    auto list = [] { return pool().parSampleList.value.load(); };
    auto entry = [] { return pool().sample.value.load(); };
    auto field = [] { return pool().data.value.load(); };
    auto insert = [] { return pool().copyInsert.value.load(); };

    // Overview: the lists in order, both ways.
    const int32_t first = list();
    EXPECT_EQ(walk(kCursorEncoder, 1, list, 2), range(first, 2));
    EXPECT_EQ(walk(kCursorEncoder, -1, list, 0), range(2, 0));
    ASSERT_EQ(pool().parSampleList.toString(false), "drums");

    // The editor: every entry, then with the encoder pushed every value field.
    tap(3);
    nextFrame();
    ASSERT_EQ(pool().viewState(), 2u);
    EXPECT_EQ(walk(kCursorEncoder, 1, entry, 2), range(0, 2));
    EXPECT_EQ(pool().selectedEntryIndex(), 2);
    EXPECT_EQ(walk(kCursorEncoder, -1, entry, 0), range(2, 0));
    host::panel().setPush(kCursorEncoder, true);
    step(12);
    EXPECT_EQ(walk(kCursorEncoder, 1, field, 3), range(0, 3));
    EXPECT_EQ(pool().data.toString(false), "dBFS");
    EXPECT_EQ(walk(kCursorEncoder, -1, field, 0), range(3, 0));
    host::panel().setPush(kCursorEncoder, false);
    step(12);
    EXPECT_EQ(entry(), 0);  // the pushed turns left the entry alone

    // Copying the list into "keys": the insert mark passes every position.
    tap(3);  // back to the overview
    nextFrame();
    tap(1);
    nextFrame();
    choose("copy list");
    choose("keys");
    ASSERT_EQ(pool().pendingDialog(), 4u);
    ASSERT_EQ(insert(), 3);
    EXPECT_EQ(walk(kCursorEncoder, -1, insert, 0), range(3, 0));
    EXPECT_EQ(walk(kCursorEncoder, 1, insert, 3), range(0, 3));
    tap(2);  // no copy after all
    nextFrame();
    EXPECT_EQ(pool().pendingDialog(), 0u);
    EXPECT_EQ(pool().sharedGroup("keys")->size(), 3u);
}

}  // namespace
