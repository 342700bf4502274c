#include "samples/KDTree.h"

#include <algorithm>

namespace {

// Squared distance over the node's dimensions; a shorter query is a range error.
float distance2(const KDPoint& point, const KDPoint& query) {
    float d = 0.0f;
    for (size_t i = 0; i < point.size(); ++i) {
        const float diff = point[i] - query.at(i);
        d += diff * diff;
    }
    return d;
}

}  // namespace

KDTree::KDTree() : root(std::make_shared<KDNode>()), leaf(std::make_shared<KDNode>()) {}

KDTree::KDTree(std::vector<KDPoint> points) : leaf(std::make_shared<KDNode>()) {
    std::vector<KDPointIndex> pairs;
    pairs.reserve(points.size());
    for (size_t i = 0; i < points.size(); ++i)
        pairs.emplace_back(std::move(points[i]), uint32_t(i));
    root = make(pairs.begin(), pairs.size(), 0);
}

KDNodePtr KDTree::make(std::vector<KDPointIndex>::iterator begin, size_t length, size_t level) {
    if (length == 0)
        return std::make_shared<KDNode>();
    const size_t dim = begin->first.size();
    const size_t half = length / 2;
    if (length > 1 && dim > 0) {
        const comparer cmp{level};
        std::nth_element(begin, begin + half, begin + length,
                         [&cmp](const KDPointIndex& a, const KDPointIndex& b) { return cmp.compare_idx(a, b); });
    }
    const auto median = begin + half;
    const size_t leftLength = half;
    const size_t rightLength = length - half - 1;
    KDNodePtr left = leftLength == 0 || dim == 0 ? leaf : make(begin, leftLength, (level + 1) % dim);
    KDNodePtr right = rightLength == 0 || dim == 0 ? leaf : make(median + 1, rightLength, (level + 1) % dim);
    return std::make_shared<KDNode>(std::move(median->first), median->second, std::move(left), std::move(right));
}

void KDTree::search(const KDNodePtr& branch, size_t level, const KDPoint& query, KDNodePtr& best,
                    float& bestDist) const {
    if (!branch || branch->empty())
        return;
    const float d = distance2(branch->point, query);
    const float dx = branch->coord(level) - query.at(level);
    if (d < bestDist) {  // ties keep the earlier best
        best = branch;
        bestDist = d;
    }
    const size_t next = (level + 1) % branch->point.size();
    const KDNodePtr& nearSide = dx > 0 ? branch->left : branch->right;
    const KDNodePtr& farSide = dx > 0 ? branch->right : branch->left;
    search(nearSide, next, query, best, bestDist);
    if (dx * dx < bestDist)
        search(farSide, next, query, best, bestDist);
}

std::optional<uint32_t> KDTree::nearest(const KDPoint& query) const {
    if (empty())
        return std::nullopt;
    KDNodePtr best = root;
    float bestDist = distance2(root->point, query);
    search(root, 0, query, best, bestDist);
    return best->index;
}

void KDTree::collect(const KDNodePtr& branch, size_t level, const KDPoint& query, float r2,
                     std::vector<uint32_t>& out) const {
    if (!branch || branch->empty())
        return;
    const float d = distance2(branch->point, query);
    const float dx = branch->coord(level) - query.at(level);
    if (d <= r2)
        out.push_back(branch->index);
    const size_t next = (level + 1) % query.size();
    collect(dx > 0 ? branch->left : branch->right, next, query, r2, out);
    if (dx * dx < r2)
        collect(dx > 0 ? branch->right : branch->left, next, query, r2, out);
}

std::vector<uint32_t> KDTree::withinRadius(const KDPoint& query, float radius) const {
    std::vector<uint32_t> out;
    if (empty() || query.empty())
        return out;
    collect(root, 0, query, radius * radius, out);
    return out;
}
