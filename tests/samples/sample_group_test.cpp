#include "samples/AudioSampleGroup.h"

#include <gtest/gtest.h>

#include "tests/support/Shell.h"

#include "tests/samples/SampleFixtures.h"

#include <fstream>
#include <set>

using namespace samplefixtures;
using nlohmann::json;

namespace {


class SampleList : public ::testing::Test {
protected:
    // One, two and three hops long.
    static void SetUpTestSuite() {
        a = monoWav("list-a.wav", sine(8192, 500.0, 48000, 0.8f));
        b = monoWav("list-b.wav", sine(16000, 2000.0, 48000, 0.3f), 44100);
        c = monoWav("list-c_A3.wav", noise(20000, 11));
    }
    std::vector<std::string> samples() const {
        std::vector<std::string> out;
        for (const auto& e : *group.entries.get())
            out.push_back(e->sample);
        return out;
    }
    void add(const std::string& path, uint32_t start, uint32_t end) {
        auto r = pool.analysed(path);
        group.insert(path, r->frameCount(), 999, r->sampleRate, r->pitch);
        group.entryAt(group.size() - 1)->setRange(start, end);
    }
    static inline std::string a, b, c;
    FakePool pool;
    AudioSampleGroup group;
};

TEST_F(SampleList, EditingKeepsOrderAndMarksTheListChanged) {
    group.insert("one", 10, 0, 48000.0f, 440.0f);
    group.insert("three", 30, 5, 48000.0f, 440.0f);  // past the end: appended
    group.insert("two", 20, 1, 48000.0f, 440.0f);
    EXPECT_EQ(samples(), (std::vector<std::string>{"one", "two", "three"}));
    EXPECT_EQ(group.entryAt(1)->endFrame, 20u);
    group.dirty = false;
    EXPECT_FALSE(group.remove(3));
    EXPECT_FALSE(group.swap(0, 3));
    EXPECT_FALSE(group.dirty);
    EXPECT_TRUE(group.swap(1, 1));
    EXPECT_TRUE(group.dirty);
    const auto shared = std::make_shared<AudioSampleGroupEntry>("front", 5, 48000.0f, 440.0f);
    group.insertRange(-5, {shared});
    EXPECT_EQ(group.entryAt(0), shared);  // the pointer itself, not a copy
    EXPECT_TRUE(group.remove(0));
    EXPECT_EQ(shared.use_count(), 1);

    for (int i = 0; i < 40; ++i)
        group.insert("s" + std::to_string(i), 1, 999, 48000.0f, 440.0f);
    auto before = samples();
    group.shuffle();
    auto after = samples();
    EXPECT_NE(after, before);  // 43! orders: the same one only from a broken shuffle
    std::sort(after.begin(), after.end());
    std::sort(before.begin(), before.end());
    EXPECT_EQ(after, before);
}

TEST_F(SampleList, JsonRoundTripReadByJq) {
    EXPECT_TRUE(group.toJson().is_null());
    ASSERT_EQ(group.fromJson(json::array({{{"sample", a}}, {{"sample", b}}}), pool), 0);
    auto e = group.entryAt(1);
    e->pitchTracking = e->looping = e->startFromZero = true;
    e->setVolume(-12.5f);
    e->setRate(0.25f);
    e->setReference(261.5f);
    e->setRange(1000, 15000);
    const json written = group.toJson();
    const std::string file = folder() + "list.json";
    std::ofstream(file) << written.dump(2);

    EXPECT_EQ(testsupport::shellOutput("jq -c '.[1] | keys' " + file),
              "[\"end time\",\"looping\",\"pitch tracking\",\"rate\",\"reference\",\"sample\",\"start from zero\","
              "\"start time\",\"volume\"]\n");
    EXPECT_EQ(testsupport::shellOutput("jq -r '.[0].sample, .[0][\"end time\"], .[0].rate' " + file), a + "\n8192\n1\n");
    EXPECT_EQ(testsupport::shellOutput("jq -r '.[1] | .[\"start time\"], .[\"end time\"], .volume, .[\"pitch tracking\"]' " + file),
              "1000\n15000\n-12.5\ntrue\n");

    AudioSampleGroup back;
    ASSERT_EQ(back.fromJson(json::parse(std::ifstream(file)), pool), 0);
    EXPECT_EQ(back.toJson(), written);
    EXPECT_EQ(back.entryAt(1)->sampleRate, 44100.0f);
    EXPECT_EQ(back.entryAt(1)->frames, 16000u);

    group.dirty = false;  // values that are no list change nothing
    for (const json& v : {json(nullptr), json::object({{"sample", a}}), json(3)})
        EXPECT_EQ(group.fromJson(v, pool), 0);
    EXPECT_EQ(group.size(), 2u);
    EXPECT_FALSE(group.dirty);
}

TEST_F(SampleList, MissingSamplesAreCountedAndSkipped) {
    const json list = json::array({{{"sample", folder() + "gone.wav"}, {"rate", 3.0}},
                                   {{"sample", c}, {"looping", true}, {"start time", 5}},
                                   {{"sample", ""}}});
    EXPECT_EQ(group.fromJson(list, pool), 2);
    ASSERT_EQ(group.size(), 1u);
    const auto e = group.entryAt(0);
    EXPECT_EQ(e->sample, c);
    EXPECT_TRUE(e->looping);
    EXPECT_EQ(e->startFrame, 5u);
    EXPECT_EQ(e->rate, 1.0f);
    EXPECT_EQ(e->reference, 440.0f);  // not the A3 in the name
    EXPECT_EQ(e->endFrame, 20000u);   // an absent end is the sample's end
    EXPECT_TRUE(group.dirty);
}

TEST_F(SampleList, ValuesFromFilesAreKeptInsideTheSample) {
    const std::string junk = folder() + "junk.wav";
    std::ofstream(junk) << "no audio in here";
    ASSERT_TRUE(pool.analysed(a));
    const json list = json::array({
        {{"sample", a}, {"start time", 100000}, {"end time", 200000.0}, {"rate", 0.0}},
        {{"sample", a}, {"start time", 6000}, {"end time", 2000}, {"rate", -2.0}, {"volume", 500.0}},
        {{"sample", a}, {"start time", true}, {"end time", std::nan("")}, {"rate", std::nan("")},
         {"volume", std::nan("")}, {"reference", INFINITY}},
        {{"sample", junk}, {"start time", 10}, {"end time", 99.0}},  // unreadable: kept, without frames
    });
    ASSERT_EQ(group.fromJson(list, pool), 0);
    const std::vector<std::pair<uint32_t, uint32_t>> ranges{{8192, 8192}, {2000, 2000}, {1, 8192}, {0, 0}};
    for (size_t i = 0; i < ranges.size(); ++i) {
        const auto e = group.entryAt(i);
        EXPECT_EQ(std::make_pair(e->startFrame.load(), e->endFrame.load()), ranges[i]) << i;
        EXPECT_TRUE(e->rate >= AudioSampleGroupEntry::kMinRate && e->rate <= AudioSampleGroupEntry::kMaxRate);
        EXPECT_TRUE(std::isfinite(e->volume) && std::isfinite(e->reference));
    }
    EXPECT_EQ(group.entryAt(1)->volume, AudioSampleGroupEntry::kMaxVolume);
    EXPECT_EQ(group.entryAt(2)->rate, 1.0f);
    EXPECT_EQ(group.entryAt(3)->frames, 0u);
    EXPECT_TRUE(group.rebuildTree(pool));  // the unreadable sample adds no point
    EXPECT_EQ(group.features()->points.size(), 3u);
}

TEST_F(SampleList, TypeErrorsKeepWhatWasReadBefore) {
    try {
        group.fromJson(json::array({{{"sample", a}}, {{"sample", 5}}, {{"sample", b}}}), pool);
        FAIL() << "no type error";
    } catch (const json::type_error& e) {
        EXPECT_NE(std::string(e.what()).find("type must be string, but is number"), std::string::npos);
    }
    EXPECT_EQ(samples(), std::vector<std::string>{a});
    EXPECT_THROW(group.fromJson(json::array({{{"sample", b}}, 7}), pool), json::type_error);
    EXPECT_EQ(samples(), std::vector<std::string>{b});
    EXPECT_THROW(group.fromJson(json::array({{{"sample", a}, {"looping", "yes"}}}), pool), json::type_error);
}

TEST(SampleListName, NamesFitTheGrainRequest) {
    EXPECT_EQ(AudioSampleGroup::listNameFor("drums"), "drums");
    EXPECT_EQ(AudioSampleGroup::listNameFor(""), "");
    EXPECT_EQ(AudioSampleGroup::listNameFor("none"), "");
    EXPECT_EQ(AudioSampleGroup::listNameFor("nineteen-characters"), "nineteen-characters");
    EXPECT_EQ(AudioSampleGroup::listNameFor("twenty-characters-xx"), "");  // refused, not cut
    const std::string umlauts = "\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4";
    EXPECT_EQ(AudioSampleGroup::listNameFor(umlauts), "");
}

TEST_F(SampleList, TreeHoldsOnePointPerHopOfEachRange) {
    EXPECT_FALSE(group.rebuildTree(pool));
    group.dirty = true;
    EXPECT_FALSE(group.rebuildTree(pool));  // empty: stays dirty
    EXPECT_TRUE(group.dirty);
    add(c, 0, 20000);     // 20000 / 8192 truncates to 2: hops 0..2
    add(b, 9000, 16000);  // hop 1
    add(a, 0, 8192);      // hop 0: 8192 / 8192 = 1 is past its only hop
    ASSERT_TRUE(group.rebuildTree(pool));
    EXPECT_FALSE(group.dirty);
    EXPECT_FALSE(group.rebuildTree(pool));

    const auto set = group.features();
    ASSERT_EQ(set->points.size(), 5u);
    EXPECT_EQ(group.entryAt(1)->firstHop, 1u);
    EXPECT_EQ(group.entryAt(2)->lastHop, 0u);
    for (size_t d = 0; d < 2; ++d) {
        const auto [low, high] = std::minmax_element(set->points.begin(), set->points.end(),
                                                     [d](const KDPoint& p, const KDPoint& q) { return p[d] < q[d]; });
        EXPECT_EQ((*low)[d], 0.0f);
        EXPECT_EQ((*high)[d], 1.0f);
    }
    EXPECT_EQ(group.getSampleFromFeatures({1.0f, 1.0f}, 0.0f).at(0).entry->sample, c);  // the brightest
    const auto loudDark = group.getSampleFromFeatures({1.0f, 0.0f}, 0.0f);
    ASSERT_EQ(loudDark.size(), 1u);
    EXPECT_EQ(loudDark[0].entry->sample, a);
    EXPECT_EQ(loudDark[0].pointIndex, 4u);

    EXPECT_EQ(group.getSampleFromFeatures({0.5f, 0.5f}, 0.0001f).size(), 1u);
    EXPECT_EQ(group.getSampleFromFeatures({9.0f, 9.0f}, 0.01f).size(), 1u);  // nothing near: the nearest
    std::set<uint32_t> indices;
    for (const auto& hit : group.getSampleFromFeatures({0.5f, 0.5f}, 2.0f)) {
        indices.insert(hit.pointIndex);
        EXPECT_TRUE(hit.hop >= hit.entry->firstHop && hit.hop <= hit.entry->lastHop);
    }
    EXPECT_EQ(indices.size(), 5u);
    EXPECT_TRUE(group.getSampleFromFeatures({0.5f}, 1.0f).empty());  // a point missing a dimension
}

TEST_F(SampleList, FlatAndSilentHopsKeepTheTreeFinite) {
    add(monoWav("steady.wav", std::vector<float>(8192 * 4, 0.25f)), 0, 8192 * 2);
    ASSERT_TRUE(group.rebuildTree(pool));
    for (const auto& p : group.features()->points)
        EXPECT_EQ(p, (KDPoint{0.0f, 0.0f}));  // both dimensions flat

    std::vector<float> samples(8192 * 3, 0.0f);
    const auto tone = noise(8192 * 3, 5);
    samples.insert(samples.end(), tone.begin(), tone.end());
    const std::string half = monoWav("half-silent.wav", samples);
    add(half, 0, uint32_t(samples.size()));
    ASSERT_TRUE(group.rebuildTree(pool));
    for (const auto& p : group.features()->points)
        EXPECT_TRUE(p[0] >= 0.0f && p[0] <= 1.0f && p[1] >= 0.0f && p[1] <= 1.0f);
    const auto quiet = group.getSampleFromFeatures({0.0f, 0.0f}, 0.01f);
    std::set<std::pair<std::string, uint32_t>> found;
    for (const auto& hit : quiet)
        found.insert({hit.entry->sample, hit.hop});
    EXPECT_TRUE(found.count({half, 0}) && found.count({half, 1}));  // the two silent hops
    EXPECT_FALSE(found.count({half, 2}));  // reaches into the noise
}

TEST_F(SampleList, QueriesResolveAgainstTheListAsItWasBuilt) {
    add(c, 0, 20000);  // points 0..2
    add(a, 0, 8192);   // point 3
    ASSERT_TRUE(group.rebuildTree(pool));
    const auto first = group.entryAt(0), second = group.entryAt(1);
    ASSERT_TRUE(group.remove(0));
    add(b, 0, 16000);
    group.swap(0, 1);
    EXPECT_EQ(group.entryAt(0)->lastHop, 0u);  // set, though no build has seen it

    const auto hits = group.getSampleFromFeatures({0.5f, 0.5f}, 2.0f);
    ASSERT_EQ(hits.size(), 4u);
    for (const auto& hit : hits) {
        EXPECT_EQ(hit.entry, hit.pointIndex < 3 ? first : second);
        EXPECT_EQ(hit.hop, hit.pointIndex < 3 ? hit.pointIndex : 0u);
    }
    ASSERT_TRUE(group.rebuildTree(pool));
    EXPECT_EQ(group.features()->points.size(), 2u + 1u);

    AudioSampleGroup copy(group);  // a renamed list keeps entries and tree
    EXPECT_EQ(copy.features(), group.features());
    EXPECT_EQ(copy.entryAt(1), group.entryAt(1));
}

TEST_F(SampleList, EmptyOrUnbuiltListsSaySo) {
    testing::internal::CaptureStdout();
    EXPECT_TRUE(group.getSampleFromFeatures({0.5f, 0.5f}, 0.2f).empty());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "AudioSampleGroup::getSampleFromFeatures(): sample list is empty \n");
    const std::string junk = folder() + "junk-only.wav";
    std::ofstream(junk) << "no audio in here";
    ASSERT_EQ(group.fromJson(json::array({{{"sample", junk}}}), pool), 0);
    EXPECT_TRUE(group.rebuildTree(pool));  // entries, but not one point
    EXPECT_TRUE(group.features()->points.empty());
    testing::internal::CaptureStdout();
    EXPECT_TRUE(group.getSampleFromFeatures({0.5f, 0.5f}, 0.2f).empty());
    EXPECT_NE(testing::internal::GetCapturedStdout().find("not all KDTree indices could be resolved"), std::string::npos);
}

}  // namespace
