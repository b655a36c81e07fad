#include <random>
#include <string>

#include "EngineFixture.h"

namespace enginetest {
namespace {

using TimeTableTest = EngineTest;
using engine::TChartObject;

TEST_F(TimeTableTest, SingleTempoChart) {
    ASSERT_TRUE(Load("#BPM 120\n#00311:01\n"));
    EXPECT_EQ(Table().back(), Triple(200, 640, 120));
    EXPECT_EQ(TempoMap(), (std::vector<std::pair<int32_t, int32_t>>{{0, 0}, {10000, 640}}));
    EXPECT_EQ(bms.EndPosition, 896);
    EXPECT_EQ(bms.TempoSegment, 1);
    EXPECT_EQ(bms.ScanIndex, 0);
    bms.StartClock();
    EXPECT_EQ(PositionAt(5000), 320);
    EXPECT_EQ(PositionAt(0), 0);
    EXPECT_EQ(PositionAt(-2000), -128);
}

TEST_F(TimeTableTest, EmptyChartPutsTheEndMarkerTwoMeasuresIn) {
    ASSERT_TRUE(Load("#TITLE nothing\n"));
    EXPECT_EQ(Table(), (std::vector<Triple>{{200, 256, 120}}));
    EXPECT_EQ(bms.EndPosition, 512);
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
    EXPECT_EQ(bms.TempoTime[1], 8);
    ASSERT_TRUE(Load("#BPM 250\n" + TempoAtTick(3, "78")));
    EXPECT_EQ(bms.TempoTime[1], 22);
    // From tick 3 to the end marker at 256: 253 ticks at 120 = 3953.125 ms.
    EXPECT_EQ(bms.TempoTime[2], 22 + 3953);
}

TEST_F(TimeTableTest, HeaderTempoIsSinglePrecision) {
    // 32 beats at 10.26 last 187134.4987 ms with the single-precision tempo (187134.5029 with
    // the decimal value).
    ASSERT_TRUE(Load("#BPM 10.26\n#00611:01\n"));
    ASSERT_EQ(bms.TempoPosition[1], 1024);
    EXPECT_EQ(bms.TempoTime[1], 187134);
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
    EXPECT_EQ(bms.TempoSegment, 2);
    EXPECT_EQ(PositionAt(2250), 160);
    EXPECT_EQ(bms.TempoSegment, 3);
}

TEST_F(TimeTableTest, ManyTempoChangesEnlargeTheMap) {
    std::string chart;
    for (int m = 0; m < 700; ++m) chart += "#" + std::string(m < 10 ? "00" : m < 100 ? "0" : "") + std::to_string(m) + "03:78\n";
    ASSERT_TRUE(Load(chart));
    EXPECT_EQ(bms.TempoCount, 701);
    EXPECT_EQ(bms.TempoTime[700], 699 * 2000);
    EXPECT_EQ(bms.TempoTime[701], 699 * 2000 + 4000);
    bms.StartClock();
    for (int32_t t = 0; t < 701 * 2000; t += 1000) PositionAt(t);
    EXPECT_EQ(PositionAt(701 * 2000), 701 * 128);
}

TEST_F(TimeTableTest, ZeroOrOverflowingTempoFailsTheLoad) {
    EXPECT_FALSE(Load("#BPM 0\n#00111:01\n"));
    EXPECT_FALSE(Load("#BPM 0.0000001\n#99911:01\n"));
    EXPECT_FALSE(Load("#BPM -5\n#00111:01\n"));
    EXPECT_TRUE(Load("#BPM -5\n#BPM 60\n#00111:01\n"));
}

TEST_F(TimeTableTest, HugeMeasureLengthsFailTheLoadInsteadOfWrapping) {
    std::string chart;
    for (int m = 100; m < 200; ++m) chart += "#" + std::to_string(m) + "02:2000000\n";
    EXPECT_FALSE(Load(chart + "#99911:01\n"));
}

}  // namespace
}  // namespace enginetest
