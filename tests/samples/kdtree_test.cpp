#include "samples/KDTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

namespace {

float distance2(const KDPoint& a, const KDPoint& b) {
    float d = 0.0f;
    for (size_t i = 0; i < a.size(); ++i)
        d += (a[i] - b[i]) * (a[i] - b[i]);
    return d;
}

std::vector<KDPoint> randomPoints(size_t count, std::mt19937& generator, int grid = 0) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::uniform_int_distribution<int> cell(0, std::max(grid, 1));
    std::vector<KDPoint> points(count);
    for (auto& p : points) {
        if (grid > 0)  // few distinct values: many duplicates and ties
            p = {float(cell(generator)) / float(grid), float(cell(generator)) / float(grid)};
        else
            p = {unit(generator), unit(generator)};
    }
    return points;
}

void compareWithBruteForce(const std::vector<KDPoint>& points, std::mt19937& generator, int queries) {
    const KDTree tree(points);
    std::uniform_real_distribution<float> around(-0.2f, 1.2f);
    std::uniform_real_distribution<float> radii(0.0f, 0.3f);
    for (int q = 0; q < queries; ++q) {
        const KDPoint query{around(generator), around(generator)};

        const auto nearest = tree.nearest(query);
        ASSERT_TRUE(nearest.has_value());
        ASSERT_LT(*nearest, points.size());
        float best = distance2(points[0], query);
        for (const auto& p : points)
            best = std::min(best, distance2(p, query));
        ASSERT_EQ(distance2(points[*nearest], query), best) << "query " << q;

        const float radius = radii(generator);
        const auto found = tree.withinRadius(query, radius);
        const std::set<uint32_t> foundSet(found.begin(), found.end());
        ASSERT_EQ(foundSet.size(), found.size()) << "an index came twice";
        std::set<uint32_t> expected;
        for (size_t i = 0; i < points.size(); ++i)
            if (distance2(points[i], query) <= radius * radius)
                expected.insert(uint32_t(i));
        ASSERT_EQ(foundSet, expected) << "query " << q << " radius " << radius;
    }
}

TEST(FeatureTree, AgreesWithBruteForceOnRandomPoints) {
    std::mt19937 generator(1234);
    for (size_t count : {1u, 2u, 3u, 7u, 100u, 5000u})
        compareWithBruteForce(randomPoints(count, generator), generator, 600);
}

TEST(FeatureTree, AgreesWithBruteForceWithManyDuplicates) {
    std::mt19937 generator(99);
    compareWithBruteForce(randomPoints(3000, generator, 8), generator, 2000);
    compareWithBruteForce(std::vector<KDPoint>(500, KDPoint{0.5f, 0.5f}), generator, 200);
}

TEST(FeatureTree, EmptyTreeAnswersNothing) {
    const KDTree fresh;
    EXPECT_FALSE(fresh.nearest({0.5f, 0.5f}).has_value());
    EXPECT_TRUE(fresh.withinRadius({0.5f, 0.5f}, 10.0f).empty());
    const KDTree built(std::vector<KDPoint>{});
    EXPECT_TRUE(built.empty());
    EXPECT_FALSE(built.nearest({0.0f, 0.0f}).has_value());
    EXPECT_TRUE(built.withinRadius({0.0f, 0.0f}, 1.0f).empty());
}

TEST(FeatureTree, IndicesArePositionsInTheGivenPoints) {
    const std::vector<KDPoint> points{{0.9f, 0.9f}, {0.1f, 0.1f}, {0.5f, 0.5f}, {0.1f, 0.9f}};
    const KDTree tree(points);
    EXPECT_EQ(tree.nearest({0.12f, 0.08f}), 1u);
    EXPECT_EQ(tree.nearest({0.0f, 1.0f}), 3u);
    EXPECT_EQ(tree.nearest({0.6f, 0.55f}), 2u);
    auto inside = tree.withinRadius({0.5f, 0.5f}, 0.6f);
    std::sort(inside.begin(), inside.end());
    EXPECT_EQ(inside, (std::vector<uint32_t>{0, 1, 2, 3}));
    EXPECT_EQ(tree.withinRadius({0.5f, 0.5f}, 0.1f), std::vector<uint32_t>{2});
}

TEST(FeatureTree, RadiusResultsComeNodeFirst) {
    // Median on x is (0.5, 0.5): it is the root and comes first.
    const KDTree tree({{0.2f, 0.5f}, {0.5f, 0.5f}, {0.8f, 0.5f}});
    const auto all = tree.withinRadius({0.45f, 0.5f}, 1.0f);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0], 1u);
    EXPECT_EQ(all[1], 0u);  // the query lies left of the root: left is the near side
    EXPECT_EQ(all[2], 2u);
}

TEST(FeatureTree, EqualDistancesKeepThePointMetFirst) {
    // Both other points are 0.1 away from the query; the root is met first.
    const KDTree tree({{0.4f, 0.5f}, {0.5f, 0.5f}, {0.6f, 0.5f}});
    EXPECT_EQ(tree.nearest({0.5f, 0.5f}), 1u);
    const KDTree pair({{0.25f, 0.0f}, {0.75f, 0.0f}});  // the root is the second point
    EXPECT_EQ(pair.nearest({0.5f, 0.0f}), 1u);
}

}  // namespace
