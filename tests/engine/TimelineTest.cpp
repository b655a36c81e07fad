// The timeline's tempo line read both ways and its cursors, on both readings.
#include <cmath>
#include <limits>

#include "EngineFixture.h"

namespace enginetest {
namespace {

using TimelineTest = EngineTest;

TEST_F(TimelineTest, TimeAtPositionEndTimeAndSeekingByTimeInBothReadings) {
    const struct {
        bool extended;
        const char* chart;
        std::vector<std::pair<double, double>> timeAt;  // position, song time
        double endTime;
    } cases[] = {
        // 120 BPM (500 ms a beat of 32 ticks); a stop of one beat at tick 64. Without sounds the
        // song ends a measure after the last object.
        {true, "#BPM 120\n#STOP01 48\n#00011:01\n#00009:0001\n#00111:01\n",
         {{-32, -500}, {0, 0}, {64, 1000}, {80, 1750}, {128, 2500}, {384, 6500}},
         2500 + 4 * 500},
        // 120 BPM, 240 from measure 1 (250 ms a beat); the rounded map's lines.
        {false, "#BPM 120\n#00103:F0\n#00211:01\n", {{-32, -500}, {0, 0}, {128, 2000}, {160, 2250}, {512, 5000}},
         5000 + 8 * 250},
    };
    for (const auto& c : cases) {
        bms.Options.Extended = c.extended;
        ASSERT_TRUE(Load(c.chart)) << c.chart;
        const engine::Timeline& chart = bms.Chart();
        for (const auto& [position, time] : c.timeAt) EXPECT_DOUBLE_EQ(chart.TimeAt(position), time) << position;
        EXPECT_DOUBLE_EQ(chart.EndTime(), c.endTime) << c.chart;
        // Every object sounds when play first reaches its position, and a cursor sought to its
        // time stops at the first object of that time.
        for (int32_t i = 0; i < chart.Count(); ++i) {
            EXPECT_DOUBLE_EQ(chart.TimeAt(chart[i].Position), chart.Time(i)) << i;
            engine::Timeline::Cursor cursor(chart, chart.Count());
            cursor.SeekTime(chart.Time(i));
            EXPECT_EQ(chart.Time(cursor.Index()), chart.Time(i));
            EXPECT_TRUE(cursor.Index() == 0 || chart.Time(cursor.Index() - 1) < chart.Time(i)) << i;
            cursor.SeekTime(std::nextafter(chart.Time(i), std::numeric_limits<double>::infinity()));
            EXPECT_TRUE(cursor.AtEnd() || chart.Time(cursor.Index()) > chart.Time(i)) << i;
        }
    }
}

TEST_F(TimelineTest, CursorsTakeObjectsUpToAPositionOrUntilATime) {
    bms.Options.Extended = true;
    // Measure 0 at 120 BPM: four quarter notes at 0, 500, 1000 and 1500 ms.
    ASSERT_TRUE(Load("#BPM 120\n#00011:01020304\n"));
    engine::Timeline::Cursor cursor(bms.Chart());
    EXPECT_EQ(cursor.NextUpTo(-1), -1);
    EXPECT_EQ(cursor.NextUpTo(0), 0);
    EXPECT_EQ(cursor.NextUpTo(0), -1);
    EXPECT_EQ(cursor.NextUntil(499.9), -1);
    EXPECT_EQ(cursor.NextUntil(500), 1);
    EXPECT_EQ(cursor.Next(63, 1000), 2);  // by its time, not yet by its position
    EXPECT_EQ(cursor.Next(96, 0), 3);     // by its position
    EXPECT_EQ(cursor.Next(10000, 1e9), 4);  // the end marker
    EXPECT_TRUE(cursor.AtEnd());
    EXPECT_EQ(cursor.Next(10000, 1e9), -1);
}

}  // namespace
}  // namespace enginetest
