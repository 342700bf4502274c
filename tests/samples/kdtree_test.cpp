#include "samples/KDTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

namespace {

float distance2(const KDPoint& a, const KDPoint& b) {
    return (a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]);
}

// grid > 0: few distinct coordinates, so many duplicates and ties.
void compareWithBruteForce(size_t count, int grid, int queries, std::mt19937& generator) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f), around(-0.2f, 1.2f), radii(0.0f, 0.3f);
    std::uniform_int_distribution<int> cell(0, std::max(grid, 1));
    auto coordinate = [&] { return grid > 0 ? float(cell(generator)) / float(grid) : unit(generator); };
    std::vector<KDPoint> points(count);
    for (auto& p : points)
        p = {coordinate(), coordinate()};
    const KDTree tree(points);

    for (int q = 0; q < queries; ++q) {
        const KDPoint query{around(generator), around(generator)};
        const auto nearest = tree.nearest(query);
        ASSERT_TRUE(nearest && *nearest < count);
        float best = distance2(points[0], query);
        for (const auto& p : points)
            best = std::min(best, distance2(p, query));
        ASSERT_EQ(distance2(points[*nearest], query), best) << count << " points, query " << q;

        const float radius = radii(generator);
        const auto found = tree.withinRadius(query, radius);
        const std::set<uint32_t> foundSet(found.begin(), found.end());
        ASSERT_EQ(foundSet.size(), found.size()) << "an index came twice";
        std::set<uint32_t> expected;
        for (size_t i = 0; i < count; ++i)
            if (distance2(points[i], query) <= radius * radius)
                expected.insert(uint32_t(i));
        ASSERT_EQ(foundSet, expected) << count << " points, query " << q << ", radius " << radius;
    }
}

TEST(FeatureTree, AgreesWithBruteForce) {
    std::mt19937 generator(1234);
    for (size_t count : {1u, 2u, 3u, 7u, 100u, 5000u})
        compareWithBruteForce(count, 0, 600, generator);
    compareWithBruteForce(3000, 8, 2000, generator);
    compareWithBruteForce(500, 1, 200, generator);
}

TEST(FeatureTree, EmptyTreeAnswersNothing) {
    for (const KDTree& tree : {KDTree(), KDTree(std::vector<KDPoint>{})}) {
        EXPECT_FALSE(tree.nearest({0.5f, 0.5f}).has_value());
        EXPECT_TRUE(tree.withinRadius({0.5f, 0.5f}, 10.0f).empty());
    }
}

TEST(FeatureTree, RadiusOrderAndTies) {
    // The median (0.5, 0.5) is the root: it comes first, then the near side.
    const KDTree tree({{0.2f, 0.5f}, {0.5f, 0.5f}, {0.8f, 0.5f}});
    EXPECT_EQ(tree.withinRadius({0.45f, 0.5f}, 1.0f), (std::vector<uint32_t>{1, 0, 2}));
    EXPECT_EQ(tree.withinRadius({0.55f, 0.5f}, 1.0f), (std::vector<uint32_t>{1, 2, 0}));
    // At equal distances the point met first stays the nearest.
    EXPECT_EQ(KDTree({{0.25f, 0.0f}, {0.75f, 0.0f}}).nearest({0.5f, 0.0f}), 1u);
}

}  // namespace
