#include "engine/ObjectSort.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/LiteralTimeTable.h"

namespace enginetest {
namespace {

using engine::TChartObject;

// Records at the given positions, each told apart by its Value (its index in the table).
std::vector<TChartObject> Table(const std::vector<int32_t>& positions) {
    std::vector<TChartObject> objects;
    for (size_t i = 0; i < positions.size(); ++i)
        objects.push_back({static_cast<int32_t>(i % 30), positions[i], static_cast<int32_t>(i), i % 3 != 0});
    return objects;
}

// The fast sort against the literal exchange sort; on a mismatch, the first differing index.
testing::AssertionResult SortsLikeTheExchangeSort(const std::vector<int32_t>& positions) {
    std::vector<TChartObject> expected = Table(positions);
    testsupport::LiteralExchangeSort(expected);
    std::vector<TChartObject> actual = Table(positions);
    engine::SortByPosition(actual);
    for (size_t i = 0; i < expected.size(); ++i) {
        if (actual[i] != expected[i])
            return testing::AssertionFailure() << positions.size() << " records: index " << i << " holds record "
                                               << actual[i].Value << ", the exchange sort puts record "
                                               << expected[i].Value << " there";
    }
    return testing::AssertionSuccess();
}

TEST(ObjectSort, EqualPositionsFollowTheExchangeSort) {
    // X, Y, Z at 5, 5, 3 end as Z, Y, X.
    std::vector<TChartObject> objects = Table({5, 5, 3});
    engine::SortByPosition(objects);
    EXPECT_EQ(objects[0].Value, 2);
    EXPECT_EQ(objects[1].Value, 1);
    EXPECT_EQ(objects[2].Value, 0);
}

// Every table of up to 8 records with positions 0 to 3: every arrangement of every multiset.
TEST(ObjectSort, MatchesTheExchangeSortOnEveryTableOfUpTo8Records) {
    for (size_t n = 0; n <= 8; ++n) {
        std::vector<int32_t> positions(n, 0);
        while (true) {
            ASSERT_TRUE(SortsLikeTheExchangeSort(positions));
            size_t digit = 0;
            while (digit < n && positions[digit] == 3) positions[digit++] = 0;
            if (digit == n) break;
            ++positions[digit];
        }
    }
}

// Layouts of real and hostile charts: channel by channel, written backwards, all at one
// position, sawtooth, and at random over a few or many positions.
std::vector<int32_t> Layout(int kind, size_t n, std::mt19937& random) {
    std::vector<int32_t> positions(n);
    const int32_t spread = 1 + static_cast<int32_t>(random() % 64);
    const size_t channels = 1 + random() % 70;
    const size_t tooth = 1 + random() % 50;
    for (size_t i = 0; i < n; ++i) {
        const auto k = static_cast<int32_t>(i);
        switch (kind) {
            case 0: positions[i] = static_cast<int32_t>(random() % static_cast<uint32_t>(spread)); break;
            case 1: positions[i] = static_cast<int32_t>(random() % 1000000); break;
            case 2: positions[i] = -k / spread; break;
            case 3: positions[i] = static_cast<int32_t>((i % (n / channels + 1)) * 128 / static_cast<size_t>(spread)); break;
            case 4: positions[i] = 7; break;
            case 5: positions[i] = static_cast<int32_t>(i % tooth) * spread; break;
            case 6: positions[i] = k * 3 + static_cast<int32_t>(random() % 8) - (k % 500 == 0 ? 400 : 0); break;
            default: positions[i] = static_cast<int32_t>(n - i) / 4 + static_cast<int32_t>(random() % 3); break;
        }
    }
    return positions;
}

TEST(ObjectSort, MatchesTheExchangeSortOnRandomAndHostileTables) {
    std::mt19937 random(20260);
    for (int round = 0; round < 3000; ++round) {
        const int kind = round % 8;
        const size_t n = round % 60 == 0 ? 5000 : random() % 400;
        ASSERT_TRUE(SortsLikeTheExchangeSort(Layout(kind, n, random))) << "round " << round << ", layout " << kind;
    }
}

TEST(ObjectSort, ExtremePositions) {
    EXPECT_TRUE(SortsLikeTheExchangeSort({INT32_MAX, INT32_MIN, 0, INT32_MIN, INT32_MAX, -1, 0}));
}

TEST(ObjectSort, ReportsProgressOnLargeTables) {
    std::vector<TChartObject> objects = Table(std::vector<int32_t>(300000, 1));
    objects[299999].Position = 0;
    int calls = 0;
    engine::SortByPosition(objects, [&calls] { ++calls; });
    EXPECT_GT(calls, 2);
    EXPECT_EQ(objects[0].Value, 299999);
}

}  // namespace
}  // namespace enginetest
