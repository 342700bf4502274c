// k-d tree over float points for nearest-neighbour and radius look-ups.
// Built once from a point set and never changed afterwards, so a built tree
// may be read from several threads at once.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

using KDPoint = std::vector<float>;

struct KDNode {
    KDNode() = default;
    KDNode(KDPoint p, uint32_t i, std::shared_ptr<KDNode> l, std::shared_ptr<KDNode> r)
        : index(i), point(std::move(p)), left(std::move(l)), right(std::move(r)) {}

    // An empty point ends a branch and carries no index.
    bool empty() const { return point.empty(); }
    float coord(size_t axis) const { return point.at(axis); }

    uint32_t index = 0;
    KDPoint point;
    std::shared_ptr<KDNode> left;
    std::shared_ptr<KDNode> right;
};

using KDNodePtr = std::shared_ptr<KDNode>;
using KDPointIndex = std::pair<KDPoint, uint32_t>;

struct comparer {
    size_t axis;
    bool compare_idx(const KDPointIndex& a, const KDPointIndex& b) const {
        return a.first.at(axis) < b.first.at(axis);
    }
};

class KDTree {
public:
    KDTree();
    // Copies the points; indices in results are positions in this vector.
    explicit KDTree(std::vector<KDPoint> points);

    std::optional<uint32_t> nearest(const KDPoint& query) const;
    // Node before its near subtree before its far subtree.
    std::vector<uint32_t> withinRadius(const KDPoint& query, float radius) const;

    bool empty() const { return !root || root->empty(); }

private:
    KDNodePtr make(std::vector<KDPointIndex>::iterator begin, size_t length, size_t level);
    void search(const KDNodePtr& branch, size_t level, const KDPoint& query, KDNodePtr& best, float& bestDist) const;
    void collect(const KDNodePtr& branch, size_t level, const KDPoint& query, float r2,
                 std::vector<uint32_t>& out) const;

    KDNodePtr root;
    KDNodePtr leaf;
};
