#include <cmath>
#include <cstdio>
#include <random>
#include <string>

#include "EngineFixture.h"
#include "engine/TimeTable.h"
#include "gui/Convert.h"
#include "support/LiteralTimeTable.h"

namespace enginetest {
namespace {

using TimeTableTest = EngineTest;
using engine::TChartObject;

TEST_F(TimeTableTest, SingleTempoChart) {
    ASSERT_TRUE(Load("#BPM 120\n#00311:01\n"));
    EXPECT_EQ(Table().back(), Triple(200, 640, 120));
    EXPECT_EQ(TempoMap(), (std::vector<std::pair<int32_t, int32_t>>{{0, 0}, {10000, 640}}));
    EXPECT_EQ(bms.Chart().EndPosition(), 896);
    EXPECT_EQ(bms.TempoSegment(), 1);
    for (const engine::TChartObject& o : bms.Chart().Objects()) EXPECT_TRUE(o.Pending);
    bms.StartClock();
    EXPECT_EQ(PositionAt(5000), 320);
    EXPECT_EQ(PositionAt(0), 0);
    EXPECT_EQ(PositionAt(-2000), -128);
}

TEST_F(TimeTableTest, EmptyChartPutsTheEndMarkerTwoMeasuresIn) {
    ASSERT_TRUE(Load("#TITLE nothing\n"));
    EXPECT_EQ(Table(), (std::vector<Triple>{{200, 256, 120}}));
    EXPECT_EQ(bms.Chart().EndPosition(), 512);
    EXPECT_EQ(TempoMap().back(), std::make_pair(4000, 256));
}

TEST_F(TimeTableTest, TempoChangeStartsANewSegment) {
    ASSERT_TRUE(Load("#BPM 120\n#00103:F0\n#00211:01\n"));
    // 4 beats at 120 = 2000 ms; then 240 beats a minute, 250 ms a beat.
    EXPECT_EQ(TempoMap(), (std::vector<std::pair<int32_t, int32_t>>{{0, 0}, {2000, 128}, {5000, 512}}));
    bms.StartClock();
    PositionAt(2000);
    EXPECT_EQ(PositionAt(2250), 128 + 32);
}

// A tempo-change line for measure 0 with 128 slots and the given tempo in slot `tick`.
std::string TempoAtTick(int tick, const char* hexTempo) {
    std::string data;
    for (int i = 0; i < 128; ++i) data += i == tick ? hexTempo : "00";
    return "#00003:" + data + "\n";
}

TEST_F(TimeTableTest, TempoTimesRoundHalfToEven) {
    // At 250 beats a minute a tick lasts 7.5 ms: one tick rounds to 8, three ticks (22.5) to 22.
    ASSERT_TRUE(Load("#BPM 250\n" + TempoAtTick(1, "78")));
    EXPECT_EQ(TempoMap()[1].first, 8);
    ASSERT_TRUE(Load("#BPM 250\n" + TempoAtTick(3, "78")));
    EXPECT_EQ(TempoMap()[1].first, 22);
    // From tick 3 to the end marker at 256: 253 ticks at 120 = 3953.125 ms.
    EXPECT_EQ(TempoMap()[2].first, 22 + 3953);
}

TEST_F(TimeTableTest, HeaderTempoIsSinglePrecision) {
    // 32 beats at 10.26 last 187134.4987 ms with the single-precision tempo (187134.5029 with
    // the decimal value).
    ASSERT_TRUE(Load("#BPM 10.26\n#00611:01\n"));
    ASSERT_EQ(TempoMap()[1].second, 1024);
    EXPECT_EQ(TempoMap()[1].first, 187134);
}

TEST_F(TimeTableTest, MeasureLengthsMoveLaterObjects) {
    ASSERT_TRUE(Load("#00102:0.5\n#00111:01\n#00011:0001\n#00111:0001\n#00211:01\n"));
    // Measure 1 is half long: 192 -> 160, 256 -> 192; measure 0 does not move.
    EXPECT_EQ(Table(), (std::vector<Triple>{{11, 64, 1}, {11, 128, 1}, {201, 128, 500}, {11, 160, 1}, {11, 192, 1}, {200, 384, 120}}));
    ASSERT_TRUE(Load("#00102:2\n#00111:0001\n#00211:01\n"));
    EXPECT_EQ(Table(), (std::vector<Triple>{{201, 128, 2000}, {11, 256, 1}, {11, 384, 1}, {200, 640, 120}}));
}

TEST_F(TimeTableTest, LaterMeasureLengthsApplyFirst) {
    // Measure 2 is halved first (the object at 448 moves to 384), then measure 1 (the measure-2
    // record moves to 192, the object to 320): half of measure 3 after two half measures.
    ASSERT_TRUE(Load("#00102:0.5\n#00202:0.5\n#00311:0001\n"));
    EXPECT_EQ(Table(), (std::vector<Triple>{{201, 128, 500}, {201, 192, 500}, {11, 320, 1}, {200, 512, 120}}));
}

TEST_F(TimeTableTest, TwoTempoChangesAtOnePositionTakeEffectInTableOrder) {
    ASSERT_TRUE(Load("#00103:3C\n#00103:F0\n#00211:01\n"));
    // 60, then 240: the last segment runs at 240.
    EXPECT_EQ(TempoMap(), (std::vector<std::pair<int32_t, int32_t>>{{0, 0}, {2000, 128}, {2000, 128}, {5000, 512}}));
    // The segment of no duration is passed without the position going back.
    bms.StartClock();
    EXPECT_EQ(PositionAt(1000), 64);
    EXPECT_EQ(PositionAt(2000), 128);
    EXPECT_EQ(PositionAt(2001), 128);
    EXPECT_EQ(bms.TempoSegment(), 2);
    EXPECT_EQ(PositionAt(2250), 160);
    EXPECT_EQ(bms.TempoSegment(), 3);
}

TEST_F(TimeTableTest, ManyTempoChangesEnlargeTheMap) {
    std::string chart;
    for (int m = 0; m < 700; ++m) chart += "#" + std::string(m < 10 ? "00" : m < 100 ? "0" : "") + std::to_string(m) + "03:78\n";
    ASSERT_TRUE(Load(chart));
    EXPECT_EQ(TempoMap().size(), 702u);
    EXPECT_EQ(TempoMap()[700].first, 699 * 2000);
    EXPECT_EQ(TempoMap()[701].first, 699 * 2000 + 4000);
    bms.StartClock();
    for (int32_t t = 0; t < 701 * 2000; t += 1000) PositionAt(t);
    EXPECT_EQ(PositionAt(701 * 2000), 701 * 128);
}

// A load that fails in the time table says so, and names the cause.
::testing::AssertionResult FailsTiming(const engine::LoadResult& result, const std::string& cause) {
    if (result.Loaded || result.FailedStep != engine::LoadStep::TimeTable || result.Abandoned)
        return ::testing::AssertionFailure() << "not a time-table failure: " << result.Message;
    if (result.Message.find(cause) == std::string::npos)
        return ::testing::AssertionFailure() << "\"" << result.Message << "\" does not say \"" << cause << "\"";
    return ::testing::AssertionSuccess();
}

TEST_F(TimeTableTest, ZeroOrOverflowingTempoFailsTheLoad) {
    for (const bool extended : {false, true}) {
        bms.Options.Extended = extended;
        EXPECT_TRUE(FailsTiming(LoadResultOf("#BPM 0\n#00111:01\n"), "the tempo (#BPM) is 0:"));
        EXPECT_TRUE(FailsTiming(LoadResultOf("#BPM 0.0000001\n#99911:01\n"), "too slow for its length"));
        EXPECT_TRUE(FailsTiming(LoadResultOf("#BPM -5\n#00111:01\n"), "the tempo (#BPM) is -5:"));
        EXPECT_TRUE(Load("#BPM -5\n#BPM 60\n#00111:01\n"));
    }
}

TEST_F(TimeTableTest, HugeMeasureLengthsFailTheLoadInsteadOfWrapping) {
    std::string chart;
    for (int m = 100; m < 200; ++m) chart += "#" + std::to_string(m) + "02:2000000\n";
    // From the last measure back, eight such lengths still fit in 32 bits; the ninth does not.
    EXPECT_TRUE(FailsTiming(LoadResultOf(chart + "#99911:01\n"), "the length of measure 191 (2000000.000, channel 02)"));
    bms.Options.Extended = true;
    EXPECT_TRUE(FailsTiming(LoadResultOf("#BPM 120\n#00102:1e9\n#99911:01\n"),
                            "the measure lengths (channel 02) put measure 999 past the 32-bit range"));
}

// The engine's build against the literal procedures on random tables: the same records in the
// same order, the same tempo map and end position, and failure exactly where they fail.
class TimeTableMatch : public EngineTest {
protected:
    // Returns whether the table could be built.
    bool ExpectSameAsLiteral(const std::vector<TChartObject>& objects, float tempo, int32_t ticks, const std::string& what) {
        const auto expected = testsupport::BuildLiteralTimeTable(objects, tempo, ticks);
        engine::Timeline timeline;
        bool built = true;
        try {
            timeline = engine::FixedTimeTable(objects, tempo, ticks).Build();
        } catch (const gui::Exception&) {
            built = false;
        }
        EXPECT_EQ(built, expected.has_value()) << what;
        if (!built || !expected) return built;
        EXPECT_EQ(std::vector<TChartObject>(timeline.Objects().begin(), timeline.Objects().end()), expected->Objects)
            << what;
        std::vector<std::pair<int32_t, int32_t>> map;
        for (const engine::TTempoPoint& point : timeline.TempoMap()) map.emplace_back(point.Time, point.Position);
        EXPECT_EQ(map, expected->TempoMap) << what;
        EXPECT_EQ(timeline.EndPosition(), expected->EndPosition) << what;
        return built;
    }
};

TEST_F(TimeTableMatch, RandomTablesWithMeasureLengthsAndTempoChanges) {
    std::mt19937 random(4242);
    const int32_t lengths[] = {0, 1, 250, 333, 500, 667, 750, 999, 1000, 1001, 1125, 1500, 2000, 3141, 12345};
    for (int round = 0; round < 1500; ++round) {
        // Other resolutions than 128 make some measure-length moves half ticks.
        const int32_t ticks = round % 5 == 4 ? (round % 2 == 0 ? 125 : 192) : 128;
        const size_t n = round % 100 == 0 ? 3000 : random() % 300;
        const int32_t measures = 1 + static_cast<int32_t>(random() % 40);
        const bool channelByChannel = round % 2 == 0;
        std::vector<TChartObject> objects;
        for (size_t i = 0; i < n; ++i) {
            const int32_t measure = channelByChannel ? static_cast<int32_t>(i * 7 % static_cast<size_t>(measures))
                                                     : static_cast<int32_t>(random() % static_cast<uint32_t>(measures));
            const uint32_t pick = random() % 20;
            if (pick == 0) {
                const int32_t value = round % 3 == 0 ? static_cast<int32_t>(random() % 4000) : lengths[random() % 15];
                objects.push_back({engine::kMeasureLength, measure * ticks, value, true});
            } else if (pick == 1) {
                objects.push_back({engine::kTempoChange, measure * ticks + static_cast<int32_t>(random() % 16) * ticks / 16,
                                   static_cast<int32_t>(1 + random() % 255), true});
            } else {
                const int32_t slots = 1 << (random() % 6);
                objects.push_back({static_cast<int32_t>(random() % 27), measure * ticks + static_cast<int32_t>(random() % static_cast<uint32_t>(slots)) * ticks / slots,
                                   static_cast<int32_t>(i), true});
            }
        }
        ExpectSameAsLiteral(objects, 60.0f + static_cast<float>(random() % 200) / 3, ticks,
                            "round " + std::to_string(round) + ", " + std::to_string(n) + " records");
        if (HasFailure()) return;
    }
}

TEST_F(TimeTableMatch, LengthsThatOverflowFailLikeTheLiteralPass) {
    // Each measure of length 2,000,000 moves what follows by 255,999,872 ticks: eight of them
    // still fit in 32 bits, nine do not.
    for (int32_t longMeasures : {8, 9}) {
        std::vector<TChartObject> objects;
        for (int32_t m = 1; m <= longMeasures; ++m) objects.push_back({engine::kMeasureLength, m * 128, 2000000000, true});
        objects.push_back({11, 128 * 12 + 5, 1, true});
        EXPECT_EQ(ExpectSameAsLiteral(objects, 1e6f, 128, std::to_string(longMeasures) + " long measures"), longMeasures == 8);
    }
}

// With 128 ticks a measure the move P − P × r of a length r in thousandths is never a half tick,
// so one rounded move serves every later record. Checked for every length up to 4,000.000 and
// a sample of the rest of the 32-bit range, on records near the start and near the end of it.
TEST(MeasureLengthRounding, TheMoveIsNeverAHalfTickAt128TicksAMeasure) {
    const int32_t records[] = {128, 129, 1000001, 123456789, 2000000001};
    auto check = [&records](int64_t value) {
        const long double ratio = static_cast<long double>(value) / 1000;
        const long double shrink = 128 - 128 * ratio;
        const long double fraction = shrink - std::floor(shrink);
        if (std::fabs(fraction - 0.5L) < 1.0L / 251) return testing::AssertionFailure() << "length " << value;
        const int64_t move = gui::RoundHalfEven(static_cast<long double>(records[0]) - shrink) - records[0];
        for (const int32_t pj : records) {
            const long double moved = static_cast<long double>(pj) - shrink;
            if (std::fabs(moved) >= 2147483647.0L) continue;
            if (gui::RoundHalfEven(moved) - pj != move) return testing::AssertionFailure() << "length " << value << " at " << pj;
        }
        return testing::AssertionSuccess();
    };
    for (int64_t value = 0; value <= 4000000; ++value) ASSERT_TRUE(check(value));
    for (int64_t value = 4000000; value <= INT32_MAX; value += 7919) ASSERT_TRUE(check(value));
    ASSERT_TRUE(check(INT32_MAX));
}

TEST(FixedTimeTable, HandBuiltTablesWithNegativePositionsOrLengthsAreRefused) {
    EXPECT_THROW(engine::FixedTimeTable({{11, -5, 1, true}}, 120, 128).Build(), gui::Exception);
    EXPECT_THROW(engine::FixedTimeTable({{engine::kMeasureLength, 128, -500, true}}, 120, 128).Build(), gui::Exception);
}

TEST_F(TimeTableTest, ProgressHookCanAbandonTheLoad) {
    std::string chart = "#BPM 120\n";
    for (int m = 0; m < 999; ++m) {
        char line[16];
        std::snprintf(line, sizeof line, "#%03d02:0.75\n", m);
        chart += line;
    }
    for (int channel : {11, 13, 15, 16, 21, 23, 25, 26})
        for (int m = 0; m < 999; ++m) {
            char line[32];
            std::snprintf(line, sizeof line, "#%03d%02d:", m, channel);
            chart += line + std::string(64, '1') + "\n";
        }
    int calls = 0;
    bms.Options.OnProgress = [&calls] { return ++calls < 2; };
    const engine::LoadResult abandoned = LoadResultOf(chart);
    EXPECT_FALSE(abandoned.Loaded);
    EXPECT_TRUE(abandoned.Abandoned);
    // Where depends on the machine's speed: while the lines are read or while they are timed.
    EXPECT_TRUE(abandoned.FailedStep == engine::LoadStep::Lines || abandoned.FailedStep == engine::LoadStep::TimeTable);
    EXPECT_EQ(calls, 2);
    calls = -1000000;
    EXPECT_TRUE(Load(chart));
    EXPECT_GT(calls, -1000000 + 1);
    bms.Options.OnProgress = nullptr;
    EXPECT_TRUE(Load(chart));
}

}  // namespace
}  // namespace enginetest
