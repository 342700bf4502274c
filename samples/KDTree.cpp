#include "samples/KDTree.h"

#include <algorithm>
#include <array>
#include <limits>
#include <numeric>

namespace {

constexpr uint32_t kMaxDimensions = 16;
// The cell bound is summed in float: it only prunes with this margin, so a
// rounding error never drops a point that the plain test would find.
constexpr float kBoundMargin = 1.0001f;

}  // namespace

// The state of one search. `offset` holds, per axis, how far the query lies
// outside the cell being searched; `cell` is the sum of their squares, a lower
// bound of the distance of every point in the cell. A far side is entered
// only when its bound can still beat the limit, which skips exactly the
// subtrees that hold no answer, so the answers and their order are those of
// a walk that tests the splitting distance alone.
struct KDTree::Search {
    const float* coords;
    const uint32_t* index;
    const float* query;
    uint32_t dim;
    std::array<float, kMaxDimensions> offset{};

    template <uint32_t D>
    float distance2(size_t node) const {
        const float* p = coords + node * (D ? D : dim);
        float d = 0.0f;
        for (uint32_t i = 0; i < (D ? D : dim); ++i) {
            const float diff = p[i] - query[i];
            d += diff * diff;
        }
        return d;
    }

    // The two subtrees of a node in pre-order: the half on the query's side
    // of the split first, and the axis the next level splits on.
    struct Children {
        size_t nearNode, nearLength, farNode, farLength;
        uint32_t next;
    };
    template <uint32_t D>
    Children children(size_t node, size_t length, uint32_t axis, float dx) const {
        const size_t leftLength = length / 2;
        const size_t rightLength = length - leftLength - 1;
        const uint32_t next = axis + 1 == (D ? D : dim) ? 0 : axis + 1;
        if (dx > 0)
            return {node + 1, leftLength, node + 1 + leftLength, rightLength, next};
        return {node + 1 + leftLength, rightLength, node + 1, leftLength, next};
    }

    template <uint32_t D>
    void collect(size_t node, size_t length, uint32_t axis, float cell, float r2, std::vector<uint32_t>& out) {
        const float d = distance2<D>(node);
        const float dx = coords[node * (D ? D : dim) + axis] - query[axis];
        if (d <= r2)
            out.push_back(index[node]);
        const Children c = children<D>(node, length, axis, dx);
        if (c.nearLength > 0)
            collect<D>(c.nearNode, c.nearLength, c.next, cell, r2, out);
        if (c.farLength == 0 || !(dx * dx < r2))
            return;
        const float old = offset[axis];
        const float farCell = cell - old * old + dx * dx;
        if (farCell > r2 * kBoundMargin)
            return;
        offset[axis] = dx;
        collect<D>(c.farNode, c.farLength, c.next, farCell, r2, out);
        offset[axis] = old;
    }

    template <uint32_t D>
    void nearest(size_t node, size_t length, uint32_t axis, float cell, size_t& best, float& bestDist) {
        const float d = distance2<D>(node);
        const float dx = coords[node * (D ? D : dim) + axis] - query[axis];
        if (d < bestDist) {  // ties keep the earlier best
            best = node;
            bestDist = d;
        }
        const Children c = children<D>(node, length, axis, dx);
        if (c.nearLength > 0)
            nearest<D>(c.nearNode, c.nearLength, c.next, cell, best, bestDist);
        if (c.farLength == 0 || !(dx * dx < bestDist))
            return;
        const float old = offset[axis];
        const float farCell = cell - old * old + dx * dx;
        if (farCell > bestDist * kBoundMargin)
            return;
        offset[axis] = dx;
        nearest<D>(c.farNode, c.farLength, c.next, farCell, best, bestDist);
        offset[axis] = old;
    }
};

namespace {

// A point and its index, moved as one while the medians are found.
template <uint32_t D>
struct Item {
    float c[D];
    uint32_t index;
};

template <uint32_t D>
void emit(const Item<D>& item, size_t at, float* coords, uint32_t* index) {
    std::copy_n(item.c, D, coords + at * D);
    index[at] = item.index;
}

// Builds the subtree of items[0, length) into pre-order position at; the
// axis is a constant of each level's instance.
template <uint32_t D, uint32_t A>
void buildFixed(Item<D>* items, size_t length, size_t at, float* coords, uint32_t* index) {
    constexpr uint32_t kNext = A + 1 == D ? 0 : A + 1;
    if (length == 0)
        return;
    if (length <= 3) {
        // What the selection does with three or fewer: a stable insertion sort on the axis.
        for (size_t i = 1; i < length; ++i)
            for (size_t j = i; j > 0 && items[j].c[A] < items[j - 1].c[A]; --j)
                std::swap(items[j], items[j - 1]);
        // The median, then its left (one below) and right (one above) as leaves.
        emit<D>(items[length / 2], at, coords, index);
        if (length >= 2)
            emit<D>(items[0], at + 1, coords, index);
        if (length == 3)
            emit<D>(items[2], at + 2, coords, index);
        return;
    }
    const size_t half = length / 2;
    std::nth_element(items, items + half, items + length,
                     [](const Item<D>& a, const Item<D>& b) { return a.c[A] < b.c[A]; });
    emit<D>(items[half], at, coords, index);
    buildFixed<D, kNext>(items, half, at + 1, coords, index);
    // The right subtree follows the left one.
    buildFixed<D, kNext>(items + half + 1, length - half - 1, at + 1 + half, coords, index);
}

template <uint32_t D>
void buildFrom(const std::vector<KDPoint>& points, float* coords, uint32_t* index) {
    std::vector<Item<D>> items(points.size());
    for (size_t i = 0; i < points.size(); ++i) {
        const KDPoint& p = points[i];
        for (uint32_t d = 0; d < D; ++d)
            items[i].c[d] = d < p.size() ? p[d] : 0.0f;
        items[i].index = uint32_t(i);
    }
    buildFixed<D, 0>(items.data(), items.size(), 0, coords, index);
}

}  // namespace

KDTree::KDTree(const std::vector<KDPoint>& points) {
    if (points.empty() || points.front().empty() || points.front().size() > kMaxDimensions ||
        points.size() > std::numeric_limits<uint32_t>::max())
        return;
    dim_ = uint32_t(points.front().size());
    count_ = points.size();
    coords_.resize(count_ * dim_);
    index_.resize(count_);
    if (dim_ == 2) {
        buildFrom<2>(points, coords_.data(), index_.data());
        return;
    }
    if (dim_ == 3) {
        buildFrom<3>(points, coords_.data(), index_.data());
        return;
    }
    // Other dimensions: an index order carries the points along.
    std::vector<float> coords(count_ * dim_);
    for (size_t i = 0; i < count_; ++i)
        for (uint32_t d = 0; d < dim_; ++d)
            coords[i * dim_ + d] = d < points[i].size() ? points[i][d] : 0.0f;
    std::vector<uint32_t> order(count_);
    std::iota(order.begin(), order.end(), 0u);
    _build(coords, order, 0, count_, 0, 0);
}

void KDTree::_build(std::vector<float>& coords, std::vector<uint32_t>& order, size_t begin, size_t length,
                    uint32_t axis, size_t at) {
    while (length > 0) {
        const size_t half = length / 2;
        if (length > 1) {
            const float* c = coords.data();
            const uint32_t dim = dim_;
            std::nth_element(order.begin() + long(begin), order.begin() + long(begin + half),
                             order.begin() + long(begin + length), [c, dim, axis](uint32_t a, uint32_t b) {
                                 return c[size_t(a) * dim + axis] < c[size_t(b) * dim + axis];
                             });
        }
        const uint32_t median = order[begin + half];
        std::copy_n(coords.begin() + long(size_t(median) * dim_), dim_, coords_.begin() + long(at * dim_));
        index_[at] = median;
        const uint32_t next = axis + 1 == dim_ ? 0 : axis + 1;
        _build(coords, order, begin, half, next, at + 1);
        at += 1 + half;
        begin += half + 1;
        length -= half + 1;
        axis = next;
    }
}

std::optional<uint32_t> KDTree::nearest(const KDPoint& query) const {
    if (empty() || query.size() < dim_)
        return std::nullopt;
    Search s{coords_.data(), index_.data(), query.data(), dim_};
    size_t best = 0;
    float bestDist = s.distance2<0>(0);
    if (dim_ == 2)
        s.nearest<2>(0, count_, 0, 0.0f, best, bestDist);
    else if (dim_ == 3)
        s.nearest<3>(0, count_, 0, 0.0f, best, bestDist);
    else
        s.nearest<0>(0, count_, 0, 0.0f, best, bestDist);
    return index_[best];
}

std::vector<uint32_t> KDTree::withinRadius(const KDPoint& query, float radius) const {
    std::vector<uint32_t> out;
    if (empty() || query.size() < dim_)
        return out;
    Search s{coords_.data(), index_.data(), query.data(), dim_};
    const float r2 = radius * radius;
    if (dim_ == 2)
        s.collect<2>(0, count_, 0, 0.0f, r2, out);
    else if (dim_ == 3)
        s.collect<3>(0, count_, 0, 0.0f, r2, out);
    else
        s.collect<0>(0, count_, 0, 0.0f, r2, out);
    return out;
}
