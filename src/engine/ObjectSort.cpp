// Why the order found here is the exchange sort's.
//
// Pass i of the exchange sort carries a hand, first the record at i, along the table and
// exchanges it with every record that lies strictly below it. In the sequence S of records from
// i on, the records it meets form the chain of strict prefix minima of S; each record of the
// chain moves onto the slot of the next one, and the last, the first of the lowest records of S,
// lands at i and stays there. What follows is read off this.
//
// 1. Fix a position v and look only at the records at or below v. Such a record is on the chain
//    exactly when it lies below every earlier record of S that is at or below v (records above v
//    are above it anyway), and the chain's records at or below v are its tail. So a pass moves
//    them among themselves just as a pass over that subsequence alone would: records above v
//    never change the order of those at or below v.
// 2. In that subsequence call the records at v "V" and those below v "L". While an L is left,
//    every pass ends at an L, and it removes the first L from the pattern of V and L slots: if
//    the subsequence begins with an L, the chain is all L and its first slot goes; if it begins
//    with V's, the chain is the first V, then the first L, then further L's: the first V moves
//    onto that L's slot and its own slot goes. Only then do the V's change order: the first V
//    goes behind the other V's that precede the removed L. Which L's lie where is all that
//    counts, not their positions.
// 3. So with the V's in table order q1 … qc and g(k) records below v between qk and qk+1 (g(c):
//    after qc), their order is what this gives: start with (q1); for k = 1 … c, turn the list
//    left by g(k) mod k places, then append qk+1. Once the L's are gone the pass takes the first
//    lowest record each time, so the V's leave in that order, into the slots after all records
//    below v.
//
// g(k) is the difference of two counts of "earlier records below", taken for all records at once
// with a Fenwick tree; the turns and appends are an insertion list that a second Fenwick tree
// resolves backwards. The whole sort takes O(n log n), whatever the table.
#include "engine/ObjectSort.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace engine {
namespace {

// Progress is reported after this many records of a loop.
constexpr size_t kProgressEvery = size_t{1} << 16;

uint32_t SortKey(const TChartObject& object) { return static_cast<uint32_t>(object.Position) ^ 0x80000000u; }

// Record indices ordered by position, equal positions in table order: a radix sort of 11, 11
// and 10 bits.
std::vector<uint32_t> StableOrder(std::span<const TChartObject> objects) {
    const size_t n = objects.size();
    std::vector<uint32_t> order(n), next(n);
    for (size_t i = 0; i < n; ++i) order[i] = static_cast<uint32_t>(i);
    for (int shift = 0; shift < 32; shift += 11) {
        size_t counts[2049] = {};
        for (const TChartObject& object : objects) ++counts[((SortKey(object) >> shift) & 2047u) + 1];
        for (size_t b = 1; b < 2049; ++b) counts[b] += counts[b - 1];
        for (const uint32_t index : order) next[counts[(SortKey(objects[index]) >> shift) & 2047u]++] = index;
        order.swap(next);
    }
    return order;
}

// Counts over 0 … size − 1, with prefix sums and the search for the k-th counted index.
class Fenwick {
public:
    void Reset(size_t size, bool full) {
        tree_.assign(size + 1, 0);
        if (full)
            for (size_t i = 1; i <= size; ++i) tree_[i] = static_cast<uint32_t>(i & (~i + 1));
    }
    void Add(size_t index, int32_t delta) {
        for (size_t i = index + 1; i < tree_.size(); i += i & (~i + 1)) tree_[i] += static_cast<uint32_t>(delta);
    }
    // Sum over the indices below `index`.
    uint32_t Below(size_t index) const {
        uint32_t sum = 0;
        for (size_t i = index; i > 0; i -= i & (~i + 1)) sum += tree_[i];
        return sum;
    }
    // The index of the (k + 1)-th count (k from 0).
    size_t Find(uint32_t k) const {
        size_t at = 0;
        size_t step = 1;
        while (step * 2 < tree_.size()) step *= 2;
        for (; step > 0; step /= 2) {
            if (at + step < tree_.size() && tree_[at + step] <= k) {
                at += step;
                k -= tree_[at];
            }
        }
        return at;
    }

private:
    std::vector<uint32_t> tree_;
};

}  // namespace

void SortByPosition(std::span<TChartObject> objects, const std::function<void()>& progress) {
    const size_t n = objects.size();
    size_t sinceReport = 0;
    auto report = [&](size_t records) {
        sinceReport += records;
        if (sinceReport < kProgressEvery) return;
        sinceReport = 0;
        if (progress) progress();
    };
    // Without a record strictly below an earlier one the exchange sort exchanges nothing.
    if (std::is_sorted(objects.begin(), objects.end(),
                       [](const TChartObject& a, const TChartObject& b) { return a.Position < b.Position; }))
        return;

    const std::vector<uint32_t> order = StableOrder(objects);
    if (progress) progress();

    // rank: the position's place among the distinct positions.
    std::vector<uint32_t> rank(n);
    uint32_t distinct = 0;
    for (size_t k = 0; k < n; ++k) {
        if (k > 0 && objects[order[k]].Position != objects[order[k - 1]].Position) ++distinct;
        rank[order[k]] = distinct;
    }
    // below[j]: how many records before j lie strictly below it.
    std::vector<uint32_t> below(n);
    Fenwick counts;
    counts.Reset(static_cast<size_t>(distinct) + 1, false);
    for (size_t j = 0; j < n; ++j) {
        below[j] = counts.Below(rank[j]);
        counts.Add(rank[j], 1);
        report(1);
    }

    std::vector<TChartObject> sorted(n);
    std::vector<uint32_t> insertAt, arrangement;
    Fenwick free;
    for (size_t first = 0; first < n;) {
        size_t end = first + 1;
        while (end < n && objects[order[end]].Position == objects[order[first]].Position) ++end;
        const size_t c = end - first;
        const uint32_t* q = &order[first];  // the records at this position, in table order
        if (c == 1) {
            sorted[first] = objects[q[0]];
        } else {
            // The list as a cycle in `arrangement`, read from `start`: turning it moves the
            // start, appending inserts before the start.
            insertAt.assign(c, 0);
            size_t start = 0;
            for (size_t k = 1; k <= c; ++k) {
                const uint32_t gap = k < c ? below[q[k]] - below[q[k - 1]] : static_cast<uint32_t>(first) - below[q[c - 1]];
                start = (start + gap % k) % k;
                if (k < c) insertAt[k] = static_cast<uint32_t>(start++);
            }
            // Each insertion at index p takes the (p + 1)-th slot still free when the later
            // insertions, which pushed it on, are taken out first.
            arrangement.assign(c, 0);
            free.Reset(c, true);
            for (size_t k = c - 1; k >= 1; --k) {
                const size_t slot = free.Find(insertAt[k]);
                arrangement[slot] = q[k];
                free.Add(slot, -1);
            }
            arrangement[free.Find(0)] = q[0];
            for (size_t t = 0; t < c; ++t) sorted[first + t] = objects[arrangement[(start + t) % c]];
        }
        report(c);
        first = end;
    }
    std::copy(sorted.begin(), sorted.end(), objects.begin());
}

}  // namespace engine
