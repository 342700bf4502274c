#include "samples/AudioSampleGroup.h"

#include <gtest/gtest.h>

#include "tests/samples/SampleFixtures.h"

#include <fstream>
#include <set>

using namespace samplefixtures;
using nlohmann::json;

namespace {

std::string shell(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, pipe))
            out += buffer;
        pclose(pipe);
    }
    return out;
}

std::vector<std::string> samplesOf(const AudioSampleGroup& g) {
    std::vector<std::string> out;
    for (const auto& e : *g.entries.get())
        out.push_back(e->sample);
    return out;
}

class SampleList : public ::testing::Test {
protected:
    // Sample files: a, b and c are one, two and three hops long.
    static void SetUpTestSuite() {
        a = monoWav("list-a.wav", sine(8192, 500.0, 48000, 0.8f));
        b = monoWav("list-b.wav", sine(16000, 2000.0, 48000, 0.3f), 44100);
        c = monoWav("list-c_A3.wav", noise(20000, 11));
    }
    static inline std::string a, b, c;
    FakePool pool;
    AudioSampleGroup group;
};

TEST_F(SampleList, EditingKeepsOrderAndMarksTheListChanged) {
    EXPECT_FALSE(group.dirty);
    group.insert("one", 10, 0, 48000.0f, 440.0f);
    group.insert("three", 30, 5, 48000.0f, 440.0f);  // past the end: appended
    group.insert("two", 20, 1, 48000.0f, 440.0f);
    EXPECT_TRUE(group.dirty);
    EXPECT_EQ(samplesOf(group), (std::vector<std::string>{"one", "two", "three"}));
    EXPECT_EQ(group.entryAt(1)->endFrame, 20u);
    EXPECT_EQ(group.entryAt(1)->frames, 20u);

    group.dirty = false;
    EXPECT_FALSE(group.remove(3));
    EXPECT_FALSE(group.swap(0, 3));
    EXPECT_FALSE(group.dirty);
    EXPECT_TRUE(group.swap(1, 1));
    EXPECT_TRUE(group.dirty);
    EXPECT_TRUE(group.swap(0, 2));
    EXPECT_EQ(samplesOf(group), (std::vector<std::string>{"three", "two", "one"}));

    const auto shared = std::make_shared<AudioSampleGroupEntry>("front", 5, 48000.0f, 440.0f);
    group.insertRange(-5, {shared});
    EXPECT_EQ(group.entryAt(0), shared);  // the pointer itself, not a copy
    group.insertRange(99, {std::make_shared<AudioSampleGroupEntry>("back", 5, 48000.0f, 440.0f)});
    EXPECT_EQ(samplesOf(group), (std::vector<std::string>{"front", "three", "two", "one", "back"}));

    EXPECT_TRUE(group.remove(0));
    EXPECT_EQ(group.size(), 4u);
    EXPECT_EQ(shared.use_count(), 1);  // the list let go of it
    EXPECT_EQ(group.entryAt(4), nullptr);
}

TEST_F(SampleList, CopiesAreIndependentAndShuffleKeepsEveryEntry) {
    AudioSampleGroupEntry original("x", 1000, 44100.0f, 220.0f);
    original.looping = true;
    original.setRate(0.5f);
    original.setVolume(-6.0f);
    original.setRange(100, 900);
    original.firstHop = 2;
    group.appendCopy(original);
    const auto copy = group.entryAt(0);
    EXPECT_TRUE(copy->looping);
    EXPECT_EQ(copy->rate, 0.5f);
    EXPECT_EQ(copy->volume, -6.0f);
    EXPECT_EQ(copy->startFrame, 100u);
    EXPECT_EQ(copy->endFrame, 900u);
    EXPECT_EQ(copy->firstHop, 2u);
    EXPECT_EQ(copy->reference, 220.0f);
    EXPECT_EQ(copy->sampleRate, 44100.0f);
    original.setRate(2.0f);
    EXPECT_EQ(copy->rate, 0.5f);

    for (int i = 0; i < 40; ++i)
        group.insert("s" + std::to_string(i), 1, 999, 48000.0f, 440.0f);
    const auto before = samplesOf(group);
    group.dirty = false;
    group.shuffle();
    EXPECT_TRUE(group.dirty);
    auto after = samplesOf(group);
    EXPECT_NE(after, before);  // 41! orders: equal only by a broken shuffle
    std::sort(after.begin(), after.end());
    auto sorted = before;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(after, sorted);
}

TEST_F(SampleList, JsonRoundTripReadByJq) {
    ASSERT_EQ(group.fromJson(json::array({{{"sample", a}}, {{"sample", b}}}), pool), 0);
    auto second = group.entryAt(1);
    second->pitchTracking = true;
    second->looping = true;
    second->startFromZero = true;
    second->setVolume(-12.5f);
    second->setRate(0.25f);
    second->setReference(261.5f);
    second->setRange(1000, 15000);

    const json written = group.toJson();
    const std::string file = folder() + "list.json";
    std::ofstream(file) << written.dump(2);

    EXPECT_EQ(shell("jq -c '.[1] | keys' " + file),
              "[\"end time\",\"looping\",\"pitch tracking\",\"rate\",\"reference\",\"sample\",\"start from zero\","
              "\"start time\",\"volume\"]\n");
    EXPECT_EQ(shell("jq -r '.[0].sample' " + file), a + "\n");
    EXPECT_EQ(shell("jq -r '.[0][\"end time\"], .[0][\"start time\"], .[0].rate' " + file), "8192\n0\n1\n");
    EXPECT_EQ(shell("jq -r '.[1][\"end time\"], .[1][\"start time\"], .[1].volume, .[1][\"pitch tracking\"]' " + file),
              "15000\n1000\n-12.5\ntrue\n");

    std::ifstream in(file);
    AudioSampleGroup back;
    ASSERT_EQ(back.fromJson(json::parse(in), pool), 0);
    ASSERT_EQ(back.size(), 2u);
    const auto e = back.entryAt(1);
    EXPECT_EQ(e->sample, b);
    EXPECT_TRUE(e->pitchTracking && e->looping && e->startFromZero);
    EXPECT_EQ(e->volume, -12.5f);
    EXPECT_EQ(e->rate, 0.25f);
    EXPECT_EQ(e->reference, 261.5f);
    EXPECT_EQ(e->startFrame, 1000u);
    EXPECT_EQ(e->endFrame, 15000u);
    EXPECT_EQ(e->sampleRate, 44100.0f);
    EXPECT_EQ(e->frames, 16000u);
    EXPECT_EQ(back.toJson(), written);
}

TEST_F(SampleList, EmptyListsAndValuesThatAreNoList) {
    EXPECT_TRUE(group.toJson().is_null());
    group.insert(a, 8192, 0, 48000.0f, 440.0f);
    group.dirty = false;
    for (const json& v : {json(nullptr), json::object({{"sample", a}}), json(3)}) {
        EXPECT_EQ(group.fromJson(v, pool), 0);
        EXPECT_EQ(group.size(), 1u);
        EXPECT_FALSE(group.dirty);
    }
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
    EXPECT_EQ(e->reference, 440.0f);  // not the A3 in the name: an absent key reads as 440
    EXPECT_EQ(e->endFrame, 20000u);   // an absent end is the sample's end
    EXPECT_TRUE(group.dirty);
}

TEST_F(SampleList, ValuesFromFilesAreKeptInsideTheSample) {
    const json list = json::array({
        {{"sample", a}, {"start time", 100000}, {"end time", 200000.0}, {"rate", 0.0}},
        {{"sample", a}, {"start time", 6000}, {"end time", 2000}, {"rate", -2.0}, {"volume", 500.0}},
        {{"sample", a}, {"start time", -50}, {"end time", -1.0}, {"rate", 1e9}},
        {{"sample", a}, {"start time", true}, {"end time", std::nan("")}, {"rate", std::nan("")},
         {"volume", std::nan("")}, {"reference", INFINITY}},
    });
    ASSERT_EQ(group.fromJson(list, pool), 0);
    ASSERT_EQ(group.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        const auto e = group.entryAt(i);
        EXPECT_LE(e->startFrame, e->endFrame) << i;
        EXPECT_LE(e->endFrame, 8192u) << i;
        EXPECT_GE(e->rate, AudioSampleGroupEntry::kMinRate) << i;
        EXPECT_LE(e->rate, AudioSampleGroupEntry::kMaxRate) << i;
        EXPECT_TRUE(std::isfinite(e->volume) && std::isfinite(e->reference)) << i;
    }
    EXPECT_EQ(group.entryAt(0)->endFrame, 8192u);
    EXPECT_EQ(group.entryAt(1)->endFrame, 2000u);
    EXPECT_EQ(group.entryAt(1)->startFrame, 2000u);
    EXPECT_EQ(group.entryAt(1)->volume, AudioSampleGroupEntry::kMaxVolume);
    EXPECT_EQ(group.entryAt(2)->startFrame, 0u);
    EXPECT_EQ(group.entryAt(2)->endFrame, 0u);
    EXPECT_EQ(group.entryAt(3)->startFrame, 1u);
    EXPECT_EQ(group.entryAt(3)->endFrame, 8192u);
    EXPECT_EQ(group.entryAt(3)->rate, 1.0f);
    EXPECT_EQ(group.entryAt(3)->reference, 440.0f);
}

TEST_F(SampleList, UnreadableSampleStaysAsAnEmptyEntry) {
    const std::string junk = folder() + "junk.wav";
    std::ofstream(junk) << "no audio in here";
    EXPECT_EQ(group.fromJson(json::array({{{"sample", junk}, {"start time", 10}, {"end time", 99.0}}}), pool), 0);
    ASSERT_EQ(group.size(), 1u);
    const auto e = group.entryAt(0);
    EXPECT_EQ(e->frames, 0u);
    EXPECT_EQ(e->startFrame, 0u);
    EXPECT_EQ(e->endFrame, 0u);
    EXPECT_FALSE(pool.getResource(junk)->loaded);
    pool.getResource(junk)->analyse();
    EXPECT_TRUE(group.rebuildTree(pool));  // no points, but no crash either
    EXPECT_TRUE(group.features()->points.empty());
    EXPECT_TRUE(group.getSampleFromFeatures({0.5f, 0.5f}, 1.0f).empty());
}

TEST_F(SampleList, TypeErrorsKeepWhatWasReadBefore) {
    const json list = json::array({{{"sample", a}}, {{"sample", 5}}, {{"sample", b}}});
    try {
        group.fromJson(list, pool);
        FAIL() << "no type error";
    } catch (const json::type_error& e) {
        EXPECT_NE(std::string(e.what()).find("type must be string, but is number"), std::string::npos) << e.what();
    }
    EXPECT_EQ(samplesOf(group), std::vector<std::string>{a});
    EXPECT_TRUE(group.dirty);

    EXPECT_THROW(group.fromJson(json::array({{{"sample", b}}, 7}), pool), json::type_error);
    EXPECT_EQ(samplesOf(group), std::vector<std::string>{b});
    EXPECT_THROW(group.fromJson(json::array({{{"sample", a}, {"looping", "yes"}}}), pool), json::type_error);
    EXPECT_THROW(group.fromJson(json::array({{{"sample", a}, {"rate", "fast"}}}), pool), json::type_error);
}

TEST(SampleListName, NamesFitTheGrainRequest) {
    EXPECT_EQ(AudioSampleGroup::listNameFor("drums"), "drums");
    EXPECT_EQ(AudioSampleGroup::listNameFor(""), "");
    EXPECT_EQ(AudioSampleGroup::listNameFor("none"), "");
    EXPECT_EQ(AudioSampleGroup::listNameFor("nonesuch"), "nonesuch");
    EXPECT_EQ(AudioSampleGroup::listNameFor("a-very-long-list-name-indeed"), "a-very-long-list-na");
    EXPECT_EQ(AudioSampleGroup::listNameFor(std::string(19, 'x')), std::string(19, 'x'));
    // Ten two-byte letters: the cut may not split the tenth.
    const std::string umlauts = "\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4";
    EXPECT_EQ(AudioSampleGroup::listNameFor(umlauts), umlauts.substr(0, 18));
}

// ---- the feature tree of a list

class SampleListTree : public SampleList {
protected:
    void add(const std::string& path, uint32_t start, uint32_t end) {
        auto r = pool.analysed(path);
        ASSERT_TRUE(r && r->analysed);
        group.insert(path, r->frameCount(), 999, r->sampleRate, r->pitch);
        group.entryAt(group.size() - 1)->setRange(start, end);
    }
};

TEST_F(SampleListTree, OnePointPerHopOfEachEntrysRange) {
    EXPECT_FALSE(group.rebuildTree(pool));  // clean and empty
    group.dirty = true;
    EXPECT_FALSE(group.rebuildTree(pool));  // empty: stays dirty
    EXPECT_TRUE(group.dirty);

    add(c, 0, 20000);  // 20000 / 8192 truncates to 2: hops 0..2
    add(b, 9000, 16000);  // hops 1..1
    add(a, 0, 8192);   // one hop only: 8192 / 8192 = 1 is cut to 0
    ASSERT_TRUE(group.rebuildTree(pool));
    EXPECT_FALSE(group.dirty);
    EXPECT_FALSE(group.rebuildTree(pool));  // nothing changed since

    const auto set = group.features();
    ASSERT_EQ(set->points.size(), 5u);
    EXPECT_EQ(group.entryAt(0)->firstHop, 0u);
    EXPECT_EQ(group.entryAt(0)->lastHop, 2u);
    EXPECT_EQ(group.entryAt(1)->firstHop, 1u);
    EXPECT_EQ(group.entryAt(1)->lastHop, 1u);
    EXPECT_EQ(group.entryAt(2)->lastHop, 0u);
    float low[2] = {1, 1}, high[2] = {0, 0};
    for (const auto& p : set->points) {
        ASSERT_EQ(p.size(), 2u);
        for (int d = 0; d < 2; ++d) {
            EXPECT_GE(p[d], 0.0f);
            EXPECT_LE(p[d], 1.0f);
            low[d] = std::min(low[d], p[d]);
            high[d] = std::max(high[d], p[d]);
        }
    }
    EXPECT_EQ(low[0], 0.0f);
    EXPECT_EQ(high[0], 1.0f);
    EXPECT_EQ(low[1], 0.0f);
    EXPECT_EQ(high[1], 1.0f);
    // The noise is the brightest hop, the 500 Hz sine the darkest.
    const auto brightest = group.getSampleFromFeatures({1.0f, 1.0f}, 0.0f);
    ASSERT_EQ(brightest.size(), 1u);
    EXPECT_EQ(brightest[0].entry->sample, c);
    // The loud 500 Hz sine: loudest and darkest.
    const auto darkest = group.getSampleFromFeatures({1.0f, 0.0f}, 0.0f);
    ASSERT_EQ(darkest.size(), 1u);
    EXPECT_EQ(darkest[0].entry->sample, a);
    EXPECT_EQ(darkest[0].hop, 0u);
    EXPECT_EQ(darkest[0].pointIndex, 4u);
}

TEST_F(SampleListTree, FlatDimensionsBecomeZero) {
    const std::string steady = monoWav("steady.wav", std::vector<float>(8192 * 4, 0.25f));
    add(steady, 0, 8192 * 2);
    ASSERT_TRUE(group.rebuildTree(pool));
    const auto set = group.features();
    ASSERT_EQ(set->points.size(), 3u);
    EXPECT_EQ(set->points[0], (KDPoint{0.0f, 0.0f}));
    EXPECT_EQ(set->points[1], (KDPoint{0.0f, 0.0f}));
}

TEST_F(SampleListTree, SilentHopsKeepTheTreeUsable) {
    std::vector<float> samples(8192 * 3, 0.0f);
    const auto tone = noise(8192 * 3, 5);
    samples.insert(samples.end(), tone.begin(), tone.end());
    const std::string half = monoWav("half-silent.wav", samples);
    add(half, 0, uint32_t(samples.size()));
    add(a, 0, 8192);
    ASSERT_TRUE(group.rebuildTree(pool));
    for (const auto& p : group.features()->points)
        for (float v : p) {
            EXPECT_TRUE(std::isfinite(v));
            EXPECT_GE(v, 0.0f);
            EXPECT_LE(v, 1.0f);
        }
    const auto quiet = group.getSampleFromFeatures({0.0f, 0.0f}, 0.05f);
    ASSERT_FALSE(quiet.empty());
    for (const auto& hit : quiet) {
        EXPECT_EQ(hit.entry->sample, half);
        EXPECT_LE(hit.hop, 1u);  // the silent hops (hop 2 reaches into the noise)
    }
}

TEST_F(SampleListTree, RadiusDecidesBetweenOneHitAndAllWithin) {
    add(c, 0, 20000);
    add(b, 0, 16000);
    ASSERT_TRUE(group.rebuildTree(pool));
    const size_t points = group.features()->points.size();
    ASSERT_EQ(points, 5u);
    EXPECT_EQ(group.getSampleFromFeatures({0.5f, 0.5f}, 0.0001f).size(), 1u);
    EXPECT_EQ(group.getSampleFromFeatures({0.5f, 0.5f}, -1.0f).size(), 1u);
    EXPECT_EQ(group.getSampleFromFeatures({9.0f, 9.0f}, 0.01f).size(), 1u);  // nothing near: the nearest
    const auto all = group.getSampleFromFeatures({0.5f, 0.5f}, 2.0f);
    ASSERT_EQ(all.size(), points);
    std::set<uint32_t> indices;
    for (const auto& hit : all) {
        indices.insert(hit.pointIndex);
        const uint32_t hops = (hit.entry->frames + 8191) / 8192;
        EXPECT_LT(hit.hop, hops);
        EXPECT_GE(hit.hop, hit.entry->firstHop.load());
        EXPECT_LE(hit.hop, hit.entry->lastHop.load());
    }
    EXPECT_EQ(indices.size(), points);
    EXPECT_TRUE(group.getSampleFromFeatures({0.5f}, 1.0f).empty());  // a point missing a dimension
}

TEST_F(SampleListTree, QueriesResolveAgainstTheListAsItWasBuilt) {
    add(c, 0, 20000);  // points 0..2
    add(a, 0, 8192);   // point 3
    ASSERT_TRUE(group.rebuildTree(pool));
    const auto first = group.entryAt(0), second = group.entryAt(1);
    ASSERT_TRUE(pool.analysed(b));

    // Edits after the build: the tree still describes the old list.
    ASSERT_TRUE(group.remove(0));
    group.insert(b, 16000, 0, 44100.0f, 440.0f);
    group.insert(b, 16000, 0, 44100.0f, 440.0f);
    EXPECT_EQ(group.entryAt(0)->firstHop, 0u);  // set, though no build has seen it
    EXPECT_EQ(group.entryAt(0)->lastHop, 0u);

    const auto hits = group.getSampleFromFeatures({0.5f, 0.5f}, 2.0f);
    ASSERT_EQ(hits.size(), 4u);
    for (const auto& hit : hits) {
        if (hit.pointIndex < 3) {
            EXPECT_EQ(hit.entry, first);
            EXPECT_EQ(hit.hop, hit.pointIndex);
        } else {
            EXPECT_EQ(hit.entry, second);
            EXPECT_EQ(hit.hop, 0u);
        }
    }
    EXPECT_TRUE(group.dirty);
    ASSERT_TRUE(group.rebuildTree(pool));
    EXPECT_EQ(group.features()->points.size(), 1u + 2u + 2u);
}

TEST_F(SampleListTree, EmptyListSaysSo) {
    testing::internal::CaptureStdout();
    EXPECT_TRUE(group.getSampleFromFeatures({0.5f, 0.5f}, 0.2f).empty());
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "AudioSampleGroup::getSampleFromFeatures(): sample list is empty \n");
    add(a, 0, 8192);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(group.getSampleFromFeatures({0.5f, 0.5f}, 0.2f).empty());  // not built yet
    EXPECT_NE(testing::internal::GetCapturedStdout().find("not all KDTree indices could be resolved"),
              std::string::npos);
}

TEST_F(SampleListTree, RenamedCopyKeepsEntriesAndTree) {
    add(c, 0, 20000);
    ASSERT_TRUE(group.rebuildTree(pool));
    AudioSampleGroup copy(group);
    EXPECT_EQ(copy.entryAt(0), group.entryAt(0));
    EXPECT_EQ(copy.features(), group.features());
    EXPECT_FALSE(copy.dirty);
    AudioSampleGroup assigned;
    assigned = group;
    EXPECT_EQ(assigned.getSampleFromFeatures({0.0f, 0.0f}, 0.0f).size(), 1u);
    group.remove(0);
    EXPECT_EQ(copy.size(), 1u);
}

}  // namespace
