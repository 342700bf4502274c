#include "dsp/TwoProducerInbox.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<int> drain(TwoProducerInbox<int, 4>& inbox) {
    std::vector<int> out;
    int v = 0;
    while (inbox.pop(v))
        out.push_back(v);
    return out;
}

TEST(TwoProducerInbox, RecordsComeOutInPostingOrderAcrossBothSides) {
    TwoProducerInbox<int, 4> inbox;
    inbox.postFromInterface(1);
    inbox.postFromAudio(2);
    inbox.postFromAudio(3);
    inbox.postFromInterface(4);
    inbox.postFromAudio(5);
    EXPECT_EQ(drain(inbox), (std::vector<int>{1, 2, 3, 4, 5}));

    // A full side drops what comes and leaves the other side alone.
    for (int i = 10; i < 15; ++i)
        EXPECT_EQ(inbox.postFromAudio(i), i < 14);
    EXPECT_TRUE(inbox.postFromInterface(20));
    EXPECT_EQ(drain(inbox), (std::vector<int>{10, 11, 12, 13, 20}));

    inbox.postFromAudio(30);
    inbox.postFromInterface(31);
    inbox.clear();
    EXPECT_TRUE(drain(inbox).empty());
    inbox.postFromInterface(32);
    EXPECT_EQ(drain(inbox), (std::vector<int>{32}));
}

}  // namespace
