#include <algorithm>
#include <cmath>
#include <vector>

#include "EngineFixture.h"

namespace enginetest {
namespace {

using ClockTest = EngineTest;

TEST_F(ClockTest, SongTimeStartsTwoSecondsAfterStartClockScaledByPlaySpeed) {
    ASSERT_TRUE(Load("#00111:01\n"));
    bms.StartClock();
    EXPECT_EQ(bms.SongTime(), -2000);
    bms.PlaySpeed = 200;
    EXPECT_EQ(bms.SongTime(), -4000);
    gui::Clock::Advance(3000);
    EXPECT_EQ(bms.SongTime(), 2000);
    // Truncated toward zero: neither rounded nor floored.
    const struct {
        int32_t elapsed;
        int32_t speed;
        int32_t songTime;
    } truncated[] = {{-1999, 75, -1499}, {3, 25, 0}, {-3, 25, 0}, {2, 75, 1}, {-2, 75, -1}, {1999, 75, 1499}};
    for (const auto& c : truncated) {
        bms.PlaySpeed = c.speed;
        gui::Clock::Set(bms.Clock().ClockBase() + static_cast<uint32_t>(c.elapsed));
        EXPECT_EQ(bms.SongTime(), c.songTime) << c.elapsed << " ms at " << c.speed;
    }
    bms.PlaySpeed = 100;
    gui::Clock::Set(bms.Clock().ClockBase() + 3);
    EXPECT_EQ(bms.SongTime(), 3);
}

TEST_F(ClockTest, ClockBaseWrapsLikeTheSystemCounter) {
    ASSERT_TRUE(Load("#00111:01\n"));
    gui::Clock::Set(0xFFFFFFFFu - 500);
    bms.StartClock();
    EXPECT_EQ(bms.Clock().ClockBase(), 1499u);
    EXPECT_EQ(bms.SongTime(), -2000);
    gui::Clock::Advance(2100);
    EXPECT_EQ(bms.SongTime(), 100);
}

TEST_F(ClockTest, SongPositionCatchesUpOneTempoPointPerCall) {
    // Tempo points at measures 1, 2 and 3 (120, 240, 60), marker at measure 5.
    ASSERT_TRUE(Load("#00103:78\n#00203:F0\n#00303:3C\n#00311:01\n"));
    ASSERT_EQ(TempoMap(), (std::vector<std::pair<int32_t, int32_t>>{
                              {0, 0}, {2000, 128}, {4000, 256}, {5000, 384}, {13000, 640}}));
    bms.StartClock();
    EXPECT_EQ(PositionAt(-2000), -128);
    // The clock jumps to 6000 ms: each call moves one segment on and reads that segment's line.
    EXPECT_EQ(PositionAt(6000), 384);  // segment 2: 128 ticks in 2000 ms, continued
    EXPECT_EQ(bms.TempoSegment(), 2);
    EXPECT_EQ(PositionAt(6000), 512);  // segment 3: 128 ticks in 1000 ms
    EXPECT_EQ(PositionAt(6000), 416);  // segment 4: 256 ticks in 8000 ms
    EXPECT_EQ(bms.TempoSegment(), 4);
    EXPECT_EQ(PositionAt(6000), 416);
    // Past the last point the last line goes on.
    EXPECT_EQ(PositionAt(21000), 896);
    EXPECT_EQ(bms.TempoSegment(), 4);
    // A clock that goes back uses the current line backwards; the segment never goes back.
    EXPECT_EQ(PositionAt(1000), 256);
    EXPECT_EQ(bms.TempoSegment(), 4);
    // StartClock does not reset the segment either.
    bms.StartClock();
    EXPECT_EQ(bms.TempoSegment(), 4);
}

TEST_F(ClockTest, TempoChangeAtTheStartGivesAFiniteRisingPosition) {
    // The first segment lasts no time; the lead-in runs on the first tempo that lasts.
    ASSERT_TRUE(Load("#BPM 90\n#00003:F0\n#00111:01\n"));
    ASSERT_EQ(TempoMap()[1].first, 0);
    bms.StartClock();
    EXPECT_EQ(PositionAt(-2000), -256);  // 240 beats a minute: 32 ticks per 250 ms
    int32_t previous = INT32_MIN;
    for (int32_t t = -2000; t <= 4000; t += 7) {
        const int32_t p = PositionAt(t);
        EXPECT_GE(p, previous) << "at " << t;
        previous = p;
    }
    EXPECT_EQ(PositionAt(4000), 512);
}

TEST_F(ClockTest, TempoSoHighTheWholeChartTakesNoTimeStillEnds) {
    ASSERT_TRUE(Load("#BPM 100000000\n#00111:01\n"));
    EXPECT_EQ(TempoMap().back().first, 0);
    bms.StartClock();
    const int32_t before = PositionAt(-1);
    const int32_t after = PositionAt(1);
    EXPECT_LT(before, 0);
    EXPECT_GT(after, bms.Chart().EndPosition());
    EXPECT_EQ(PositionAt(3600000), INT32_MAX);  // held in range, not wrapped
}

TEST_F(ClockTest, SongPositionBeforeAnyLoadIsZero) {
    bms.StartClock();
    EXPECT_EQ(bms.SongPosition(), 0);
}

TEST_F(ClockTest, PlaySoundIgnoresSlotsOutsideTheTableAndEmptySlots) {
    sound.SetOffline(true);
    sound.Initialize();
    testsupport::WriteFile(dir / "tone.wav", Wav(44100, std::vector<int16_t>(4410, 8000)));
    // Slot 01 has a sound; 02 names a file that is not there; the others name nothing.
    ASSERT_TRUE(Load("#WAV01 tone.wav\n#WAV02 missing.wav\n#00111:01\n"));
    auto heard = [&] {
        std::vector<int16_t> out(2 * 512);
        sound.Render(out.data(), 512);
        return std::any_of(out.begin(), out.end(), [](int16_t s) { return s != 0; });
    };
    for (int index : {-1, 0, 2, 3, 255, 256, 100000, INT32_MIN}) EXPECT_NO_THROW(bms.PlaySound(index)) << index;
    EXPECT_EQ(sound.Mixer().ActiveVoices(), 0);
    EXPECT_FALSE(heard());
    // The slot that has a sound does sound: the silence above was not the mixer's.
    bms.PlaySound(1);
    EXPECT_TRUE(heard());
}

}  // namespace
}  // namespace enginetest

namespace enginetest {
namespace {

TEST_F(ClockTest, ObjectTimeIsWhenTheTempoMapsLineReachesThePosition) {
    // 120 BPM, 240 from measure 1, measure 2 half as long.
    ASSERT_TRUE(Load("#00011:01\n#00103:F0\n#00111:0001\n#00202:0.5\n#00211:0101\n#00311:01\n"));
    std::vector<std::pair<int32_t, double>> times;
    for (int32_t i = 0; i <= bms.Chart().LastObject(); ++i)
        if (bms.Chart()[i].Kind == 11) times.emplace_back(bms.Chart()[i].Position, bms.Chart().Time(i));
    EXPECT_EQ(times, (std::vector<std::pair<int32_t, double>>{
                         {0, 0}, {192, 2500}, {256, 3000}, {288, 3250}, {320, 3500}}));

    // Between tempo points the line is exact, not rounded to milliseconds: at 137 beats a
    // minute the end marker's point lies at 3504 ms, and a 32nd note at 3504 × 8 / 256 ms.
    ASSERT_TRUE(Load("#BPM 137\n#00011:01010000000000000000000000000000\n"));
    ASSERT_EQ(TempoMap().back(), (std::pair<int32_t, int32_t>{3504, 256}));
    int32_t eighth = -1;
    for (int32_t i = 0; i <= bms.Chart().LastObject(); ++i)
        if (bms.Chart()[i].Position == 8) eighth = i;
    ASSERT_GE(eighth, 0);
    EXPECT_DOUBLE_EQ(bms.Chart().Time(eighth), 109.5);
}

TEST_F(ClockTest, ObjectTimeFollowsWhatSongPositionReachesAroundInstantSegments) {
    // A tempo change at the start makes the first segment last no time; the objects run on 240.
    ASSERT_TRUE(Load("#BPM 90\n#00003:F0\n#00111:01010101\n"));
    for (int32_t i = 0; i <= bms.Chart().LastObject(); ++i) {
        const int32_t p = bms.Chart()[i].Position;
        EXPECT_DOUBLE_EQ(bms.Chart().Time(i), p * 250.0 / 32) << p;
        bms.StartClock();
        const double t = bms.Chart().Time(i);
        for (int k = 0; k < 3; ++k) PositionAt(static_cast<int32_t>(std::ceil(t)));  // catch up segments
        EXPECT_GE(PositionAt(static_cast<int32_t>(std::ceil(t))), p);
        EXPECT_LT(PositionAt(static_cast<int32_t>(std::floor(t)) - 8), p);
    }
    // Indexes outside the table read 0; times given for the whole table are taken as they are,
    // and times that do not cover it are refused.
    EXPECT_EQ(bms.Chart().Time(-1), 0);
    EXPECT_EQ(bms.Chart().Time(bms.Chart().LastObject() + 1), 0);
    const std::vector<engine::TChartObject> objects(bms.Chart().Objects().begin(), bms.Chart().Objects().end());
    EXPECT_THROW(engine::Timeline::OnExactMap(objects, std::vector<double>(objects.size() - 1, 7.5), {}, {}, 128, 0),
                 gui::Exception);
    EXPECT_EQ(engine::Timeline::OnExactMap(objects, std::vector<double>(objects.size(), 7.5), {}, {}, 128, 0).Time(0),
              7.5);
}

}  // namespace
}  // namespace enginetest
