#include "engine/ObjectSort.h"

#include <climits>
#include <utility>
#include <vector>

namespace engine {
namespace {

void ExchangePasses(std::span<TChartObject> objects, size_t firstPass) {
    const size_t n = objects.size();
    for (size_t i = firstPass; i + 1 < n; ++i)
        for (size_t j = i + 1; j < n; ++j)
            if (objects[j].Position < objects[i].Position) std::swap(objects[i], objects[j]);
}

// Minimum of the positions over ranges of the table; leaves hold the positions.
class MinTree {
public:
    explicit MinTree(std::span<const TChartObject> objects) {
        while (leaves_ < objects.size()) leaves_ *= 2;
        nodes_.assign(2 * leaves_, INT32_MAX);
        for (size_t i = 0; i < objects.size(); ++i) nodes_[leaves_ + i] = objects[i].Position;
        for (size_t k = leaves_ - 1; k >= 1; --k) nodes_[k] = std::min(nodes_[2 * k], nodes_[2 * k + 1]);
    }

    void Set(size_t index, int32_t value) {
        size_t k = leaves_ + index;
        nodes_[k] = value;
        for (k /= 2; k >= 1; k /= 2) nodes_[k] = std::min(nodes_[2 * k], nodes_[2 * k + 1]);
    }

    // The first index >= `from` whose position is below `value`, or SIZE_MAX.
    size_t FirstBelow(size_t from, int32_t value) const {
        if (from >= leaves_) return SIZE_MAX;
        // Climb from the leaf while the rest of the current subtree holds nothing below value,
        // then descend into the leftmost subtree that does.
        size_t k = leaves_ + from;
        if (nodes_[k] < value) return from;
        while (true) {
            while (k % 2 == 1) {
                k /= 2;
                if (k <= 1) return SIZE_MAX;
            }
            ++k;
            if (nodes_[k] < value) break;
        }
        while (k < leaves_) k = nodes_[2 * k] < value ? 2 * k : 2 * k + 1;
        return k - leaves_;
    }

private:
    size_t leaves_ = 1;
    std::vector<int32_t> nodes_;
};

}  // namespace

void ExchangeSort(std::span<TChartObject> objects) { ExchangePasses(objects, 0); }

void SortByPosition(std::span<TChartObject> objects) {
    const size_t n = objects.size();
    if (n < 2) return;
    MinTree tree(objects);
    const size_t budget = 16 * n + 1024;
    size_t exchanges = 0;
    for (size_t i = 0; i + 1 < n; ++i) {
        if (exchanges > budget) {
            ExchangePasses(objects, i);
            return;
        }
        for (size_t j = tree.FirstBelow(i + 1, objects[i].Position); j != SIZE_MAX;
             j = tree.FirstBelow(j + 1, objects[i].Position)) {
            std::swap(objects[i], objects[j]);
            tree.Set(j, objects[j].Position);
            ++exchanges;
        }
        // Record i is final; later passes only look to the right of it.
    }
}

}  // namespace engine
