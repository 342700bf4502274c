// k-d tree over float points for nearest-neighbour and radius look-ups.
// Built once from a point set and never changed afterwards, so a built tree
// may be read from several threads at once.
//
// One node per point, split at the median of the axis of its level (levels
// cycle through the dimensions). The nodes sit in one array in pre-order: a
// node's left subtree follows it, its right subtree follows that, so the
// tree needs no pointers and a search walks memory mostly forwards.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

using KDPoint = std::vector<float>;

class KDTree {
public:
    KDTree() = default;
    // Indices in results are positions in this vector. Every point has the
    // dimensions of the first one.
    explicit KDTree(const std::vector<KDPoint>& points);

    // Ties keep the point met first. No index for an empty tree or a query
    // with fewer dimensions than the points.
    std::optional<uint32_t> nearest(const KDPoint& query) const;
    // Node before its near subtree before its far subtree (a query on the
    // splitting plane goes right first).
    std::vector<uint32_t> withinRadius(const KDPoint& query, float radius) const;

    bool empty() const { return count_ == 0; }
    size_t size() const { return count_; }
    uint32_t dimensions() const { return dim_; }

private:
    struct Search;

    void _build(std::vector<float>& coords, std::vector<uint32_t>& order, size_t begin, size_t length,
                uint32_t axis, size_t at);

    // Pre-order: coordinates of node i at coords_[i * dim_], its point's index at index_[i].
    std::vector<float> coords_;
    std::vector<uint32_t> index_;
    uint32_t dim_ = 0;
    size_t count_ = 0;
};
