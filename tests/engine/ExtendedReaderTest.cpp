// The extended reading on small charts of our own: slots, tempo and stops, channels, long notes,
// control flow and exact times, checked against times worked out by hand.
#include <algorithm>
#include <cmath>
#include <deque>
#include <string>

#include "EngineFixture.h"
#include "engine/ExtendedReader.h"
#include "support/MovieFiles.h"

namespace enginetest {
namespace {

using Sound = std::pair<double, int32_t>;  // song time in ms, slot

class ExtendedTest : public EngineTest {
protected:
    // Loads `chart` in the extended reading; #RANDOM and #SWITCH take `draws` in turn.
    bool LoadExtended(std::string_view chart, std::deque<int32_t> draws = {}) {
        bms.Options.Extended = true;
        drawsAsked = 0;
        bms.Options.DrawRandom = [this, draws](int32_t) mutable {
            ++drawsAsked;
            if (draws.empty()) return 0;
            const int32_t value = draws.front();
            draws.pop_front();
            return value;
        };
        return Load(chart);
    }

    // Every object that sounds, as (time, slot), in table order.
    std::vector<Sound> Schedule() const {
        std::vector<Sound> out;
        for (int32_t i = 0; i <= bms.Chart().LastObject(); ++i)
            if (bms.Chart()[i].Kind < 100) out.emplace_back(bms.Chart().Time(i), bms.Chart()[i].Value);
        return out;
    }

    // Objects without the end marker.
    std::vector<Triple> Chart() const {
        std::vector<Triple> table = Table();
        EXPECT_FALSE(table.empty());
        if (!table.empty()) table.pop_back();
        return table;
    }

    int drawsAsked = 0;
};

::testing::AssertionResult SameSchedule(const std::vector<Sound>& actual, std::vector<Sound> expected) {
    std::vector<Sound> sorted = actual;
    const auto byTime = [](const Sound& a, const Sound& b) { return a.first < b.first - 1e-9 || (std::abs(a.first - b.first) <= 1e-9 && a.second < b.second); };
    if (!std::is_sorted(actual.begin(), actual.end(), [](const Sound& a, const Sound& b) { return a.first < b.first; }))
        return ::testing::AssertionFailure() << "the schedule is not in time order";
    std::sort(sorted.begin(), sorted.end(), byTime);
    std::sort(expected.begin(), expected.end(), byTime);
    if (sorted.size() != expected.size())
        return ::testing::AssertionFailure() << sorted.size() << " sounds, expected " << expected.size();
    for (size_t i = 0; i < sorted.size(); ++i)
        if (std::abs(sorted[i].first - expected[i].first) > 1e-6 || sorted[i].second != expected[i].second)
            return ::testing::AssertionFailure() << "sound " << i << " is slot " << sorted[i].second << " at "
                                                 << sorted[i].first << " ms, expected slot " << expected[i].second
                                                 << " at " << expected[i].first << " ms";
    return ::testing::AssertionSuccess();
}

TEST_F(ExtendedTest, SlotsAreBase36IgnoringLetterCaseUpToZZ) {
    sound.SetOffline(true);
    sound.Initialize();
    testsupport::WriteFile(dir / "kick.wav", Wav(22050, std::vector<int16_t>(100, 1000)));
    // Any one character separates the index from the file name, as in the fixed dialect.
    const std::string chart = "#WAV0G kick.wav\n#wavzz kick.wav\n#WAV0a kick.wav\n#WAV0H:kick.wav\n#00111:0g0AZz00\n";
    ASSERT_TRUE(LoadExtended(chart));
    EXPECT_EQ(bms.SlotCount(), 1296);
    for (int slot = 0; slot < bms.SlotCount(); ++slot)
        EXPECT_EQ(bms.Slots().SoundState[slot], slot == 16 || slot == 10 || slot == 17 || slot == 1295 ? 1 : -1) << slot;
    EXPECT_EQ(Chart(), (std::vector<Triple>{{11, 128, 16}, {11, 160, 10}, {11, 192, 1295}}));
    bms.PlaySound(1295);
    ASSERT_EQ(bms.Slots().Sounds[1295]->CopyCount(), 1);
    EXPECT_NE(bms.Slots().Sounds[1295]->Copy(0)->Status() & media::DSBSTATUS_PLAYING, 0u);

    // The fixed dialect reads the same chart as it always has: 256 hex slots, and the channel
    // line abandoned at its first pair that is no hex number.
    bms.Options.Extended = false;
    ASSERT_TRUE(Load(chart));
    EXPECT_EQ(bms.SlotCount(), 256);
    EXPECT_EQ(bms.Slots().SoundState[10], 1);
    EXPECT_EQ(bms.Slots().SoundState[16], -1);
    EXPECT_EQ(Table(), (std::vector<Triple>{{200, 256, 120}}));
    // Timed on the rounded map of whole milliseconds.
    EXPECT_EQ(TempoMap(), (std::vector<std::pair<int32_t, int32_t>>{{0, 0}, {4000, 256}}));
    EXPECT_EQ(bms.Chart().Time(0), 4000);
}

TEST_F(ExtendedTest, Base62MakesSlotsCaseSensitive) {
    testsupport::WriteFile(dir / "a.wav", Wav(8000, {1, 2}));
    ASSERT_TRUE(LoadExtended("#BASE 62\n#WAV0a a.wav\n#WAV0A a.wav\n#WAVzz a.wav\n#00111:0a0A\n"));
    EXPECT_EQ(bms.SlotCount(), 3844);
    EXPECT_EQ(bms.Slots().SoundState[36], 1);
    EXPECT_EQ(bms.Slots().SoundState[10], 1);
    EXPECT_EQ(bms.Slots().SoundState[3843], 1);
    EXPECT_EQ(Chart(), (std::vector<Triple>{{11, 128, 36}, {11, 192, 10}}));
}

TEST_F(ExtendedTest, HeadersAreSharedWithTheFixedDialect) {
    ASSERT_TRUE(LoadExtended("#title Song\n#ARTIST me\n#BPM 150\n#BPM01 180\n#PLAYER 3\n#RANK 2\n#00111:01\n"));
    EXPECT_EQ(bms.Header().Title, "Song");
    EXPECT_EQ(bms.Header().Artist, "me");
    EXPECT_EQ(bms.Header().Bpm, 150.0f);  // #BPM01 defines a tempo for channel 08, not the start tempo
    EXPECT_EQ(bms.Header().PlayerMode, 3);
    EXPECT_EQ(bms.Header().Rank, 2);
    EXPECT_DOUBLE_EQ(bms.Chart().Time(0), 1600.0);
}

TEST_F(ExtendedTest, DefinedTemposAndStopsTimeEverythingAfterThem) {
    // 120 BPM, 500 ms a beat. At beat 2 the tempo goes to 240 and a stop of 96/192 of a
    // measure (2 beats at 240: 500 ms) holds the position; a note there sounds as it starts.
    ASSERT_TRUE(LoadExtended("#BPM 120\n#BPM01 240\n#STOP01 96\n#00009:0001\n#00008:0001\n#00012:0001\n"
                             "#00111:01020304\n#00109:00000002\n#00108:0000000X\n"));
    EXPECT_TRUE(SameSchedule(Schedule(), {{1000, 1}, {2000, 1}, {2250, 2}, {2500, 3}, {2750, 4}}));
    // Undefined tempo and stop references change nothing.
    EXPECT_EQ(PositionAt(-1000), -64);  // the lead-in runs at the starting tempo
    EXPECT_EQ(PositionAt(1000), 64);
    EXPECT_EQ(PositionAt(1250), 64);  // the stop: the position stands still
    EXPECT_EQ(PositionAt(1499), 64);
    EXPECT_EQ(PositionAt(1750), 96);
    EXPECT_EQ(PositionAt(2000), 128);
    EXPECT_EQ(PositionAt(1000), 64);  // the clock may go back
    EXPECT_EQ(PositionAt(3000), 256);
}

TEST_F(ExtendedTest, ATempoChangeAndAStopAtOnePlaceTakeTheNewTempoInEitherLineOrder) {
    for (const char* lines : {"#00008:0001\n#00009:0001\n", "#00009:0001\n#00008:0001\n"}) {
        // 60 BPM; at beat 2 the tempo halves and a stop of 48 (one beat) lasts 2 s at 30 BPM.
        ASSERT_TRUE(LoadExtended(std::string("#BPM 60\n#BPM01 30\n#STOP01 48\n#00011:00000001\n") + lines));
        EXPECT_TRUE(SameSchedule(Schedule(), {{2000 + 2000 + 2000, 1}}));
    }
    // Hex tempos on channel 03 in either letter case; a fractional stop is a number.
    ASSERT_TRUE(LoadExtended("#BPM 60\n#STOP01 4.8\n#00003:00f0\n#00009:00000001\n#00011:0000000000000101\n"));
    // Beats 0-2 at 60 (2000 ms), then 240: beat 3 at 2250, where a stop of 0.1 beat (25 ms)
    // starts; beat 3.5 at 2250 + 25 + 125.
    EXPECT_TRUE(SameSchedule(Schedule(), {{2250, 1}, {2400, 1}}));
}

TEST_F(ExtendedTest, ThousandsOfTempoChangesDoNotDrift) {
    // 500 measures of alternating tempos 179 and 183 on every half beat: 4000 changes. Each
    // half beat lasts 30000/179 or 30000/183 ms, neither a whole number.
    std::string chart = "#BPM 179\n#00111:01\n";
    for (int m = 0; m < 500; ++m) chart += "#" + std::string(m < 10 ? "00" : m < 100 ? "0" : "") + std::to_string(m) + "03:B3B7B3B7B3B7B3B7\n";
    chart += "#50011:01\n";
    const double exact = 2000 * (30000.0 / 179 + 30000.0 / 183);
    ASSERT_TRUE(LoadExtended(chart));
    ASSERT_EQ(Schedule().size(), 2u);
    EXPECT_NEAR(Schedule()[1].first, exact, 1e-6);
    EXPECT_EQ(PositionAt(static_cast<int32_t>(std::ceil(exact))), 500 * 128);

    // The fixed dialect rounds every step to whole milliseconds and is far off by the end.
    bms.Options.Extended = false;
    ASSERT_TRUE(Load(chart));
    int32_t note = -1;
    for (int32_t i = 0; i <= bms.Chart().LastObject(); ++i)
        if (bms.Chart()[i].Kind == 11 && bms.Chart()[i].Position == 500 * 128) note = i;
    ASSERT_GE(note, 0);
    EXPECT_GT(std::abs(bms.Chart().Time(note) - exact), 100);
}

TEST_F(ExtendedTest, EverySoundChannelSoundsAndOnlyItsOwnKindsAreAdded) {
    const char* digits = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::string chart;
    int slot = 1;
    for (const char* channel : {"11", "12", "13", "14", "15", "16", "17", "18", "19", "21", "22", "23", "24", "25",
                                "26", "27", "28", "29"}) {
        chart += std::string("#001") + channel + ":" + digits[slot / 36] + digits[slot % 36] + "\n";
        ++slot;
    }
    // Background layers, pictures; invisible notes, mines, the poor picture and unknown channels
    // add nothing.
    chart += "#00101:01\n#00101:0002\n#00104:01\n#00107:02\n#00131:01\n#00141:01\n#001D1:01\n#001E9:01\n"
             "#00106:01\n#0010A:01\n#00105:01\n#00170:01\n";
    ASSERT_TRUE(LoadExtended(chart));
    std::vector<Triple> expected;
    slot = 1;
    for (int kind : {11, 12, 13, 14, 15, 16, 17, 18, 19, 21, 22, 23, 24, 25, 26, 27, 28, 29})
        expected.emplace_back(kind, 128, slot++);
    expected.insert(expected.end(), {{0, 128, 1}, {104, 128, 1}, {105, 128, 2}, {0, 192, 2}});
    EXPECT_EQ(Chart(), expected);
}

TEST_F(ExtendedTest, LongNotePairsStartWithASoundAndEndSilently) {
    // 120 BPM. Lane 51: a pair across measures 1-2, then a start that is never ended. Lane 52 is
    // paired on its own. #LNOBJ ZZ ends the previous note of its lane on channel 13.
    ASSERT_TRUE(LoadExtended("#BPM 120\n#LNTYPE 1\n#LNOBJ ZZ\n#00151:0001\n#00251:0200\n#00251:0003\n"
                             "#00152:0405\n#00113:0600ZZ00\n#00213:ZZ\n"));
    EXPECT_EQ(Chart(), (std::vector<Triple>{{12, 128, 4}, {13, 128, 6}, {11, 192, 1}, {11, 320, 3}}));
    EXPECT_TRUE(SameSchedule(Schedule(), {{2000, 6}, {2000, 4}, {3000, 1}, {5000, 3}}));
    // The song lasts a measure past the last end, silent as it is.
    ASSERT_TRUE(LoadExtended("#00151:01\n#00551:02\n"));
    EXPECT_EQ(Table().back(), (Triple{200, 6 * 128, 120}));
}

TEST_F(ExtendedTest, RandomTakesOneBranchPerDraw) {
    const std::string chart = "#RANDOM 3\n#IF 1\n#00111:01\n#ELSEIF 2\n#00111:02\n#ELSE\n#00111:03\n#ENDIF\n#ENDRANDOM\n";
    for (int32_t draw : {1, 2, 3}) {
        ASSERT_TRUE(LoadExtended(chart, {draw}));
        EXPECT_EQ(Chart(), (std::vector<Triple>{{11, 128, draw}})) << draw;
    }
    // #SETRANDOM sets the value without a draw; lines outside every #IF always count.
    ASSERT_TRUE(LoadExtended("#SETRANDOM 2\n#00111:09\n#IF 2\n#00112:01\n#ENDIF\n#IF 1\n#00113:01\n#ENDIF\n"));
    EXPECT_EQ(drawsAsked, 0);
    EXPECT_EQ(Chart(), (std::vector<Triple>{{11, 128, 9}, {12, 128, 1}}));
    // An argument that is no count from 1 up draws nothing, and the block takes no branch: not
    // #IF 0, not an empty #IF, not #ELSE; no #CASE and not #DEF. Lines after it count.
    for (const char* set : {"", "SET"})
        for (const char* argument : {"", "abc", "0", "-2"}) {
            const std::string blocks = std::string("#") + set + "RANDOM " + argument +
                                       "\n#IF 0\n#00111:01\n#ENDIF\n#IF\n#00112:01\n#ELSE\n#00113:01\n#ENDIF\n"
                                       "#ENDRANDOM\n#" + set + "SWITCH " + argument +
                                       "\n#CASE 0\n#00114:01\n#CASE\n#00115:01\n#DEF\n#00116:01\n#ENDSW\n#00117:01\n";
            ASSERT_TRUE(LoadExtended(blocks, {1, 1}));
            EXPECT_EQ(drawsAsked, 0) << blocks;
            EXPECT_EQ(Chart(), (std::vector<Triple>{{17, 128, 1}})) << blocks;
        }
}

TEST_F(ExtendedTest, NestedRandomInsideASkippedBranchIsSkippedWholeAndDrawsNothing) {
    const std::string chart =
        "#RANDOM 2\n#IF 1\n#TITLE one\n#RANDOM 2\n#IF 2\n#00111:04\n#ENDIF\n#ENDRANDOM\n#ENDIF\n"
        "#IF 2\n#00112:05\n#ENDIF\n#ENDRANDOM\n#00113:06\n";
    ASSERT_TRUE(LoadExtended(chart, {1, 2}));
    EXPECT_EQ(drawsAsked, 2);
    EXPECT_EQ(bms.Header().Title, "one");
    // After the inner block the outer value (1) is in force again.
    EXPECT_EQ(Chart(), (std::vector<Triple>{{11, 128, 4}, {13, 128, 6}}));

    ASSERT_TRUE(LoadExtended(chart, {2}));
    EXPECT_EQ(drawsAsked, 1);
    EXPECT_EQ(bms.Header().Title, "");  // header lines of a skipped branch are skipped too
    EXPECT_EQ(Chart(), (std::vector<Triple>{{12, 128, 5}, {13, 128, 6}}));

    // A second #RANDOM at the same level replaces the value.
    ASSERT_TRUE(LoadExtended("#RANDOM 2\n#IF 1\n#00111:01\n#ENDIF\n#RANDOM 2\n#IF 1\n#00211:02\n#ENDIF\n", {2, 1}));
    EXPECT_EQ(Chart(), (std::vector<Triple>{{11, 256, 2}}));
}

TEST_F(ExtendedTest, SwitchFallsThroughUntilSkipAndTakesDefWhenNoCaseMatches) {
    const std::string cases = "#CASE 1\n#00111:01\n#SKIP\n#CASE 2\n#00111:02\n#CASE 3\n#00112:03\n#SKIP\n"
                              "#DEF\n#00113:04\n#ENDSW\n#00114:05\n";
    ASSERT_TRUE(LoadExtended("#SWITCH 4\n" + cases, {1}));
    EXPECT_EQ(Chart(), (std::vector<Triple>{{11, 128, 1}, {14, 128, 5}}));
    ASSERT_TRUE(LoadExtended("#SWITCH 4\n" + cases, {2}));
    EXPECT_EQ(Chart(), (std::vector<Triple>{{11, 128, 2}, {12, 128, 3}, {14, 128, 5}}));
    ASSERT_TRUE(LoadExtended("#SWITCH 4\n" + cases, {3}));
    EXPECT_EQ(Chart(), (std::vector<Triple>{{12, 128, 3}, {14, 128, 5}}));
    ASSERT_TRUE(LoadExtended("#SETSWITCH 4\n" + cases));
    EXPECT_EQ(drawsAsked, 0);
    EXPECT_EQ(Chart(), (std::vector<Triple>{{13, 128, 4}, {14, 128, 5}}));
}

TEST_F(ExtendedTest, BlocksPastTheDepthLimitAreSkippedWholeAndReportedOnce) {
    // Two runs of #IF nested past the limit, each holding a note; the lines after each run's
    // #ENDIFs count again. A #SWITCH and a #RANDOM past the limit draw nothing, and their ends
    // close them, not a kept block.
    const size_t limit = engine::ControlFlow::kMaxDepth;
    std::string nested;
    for (size_t i = 0; i < limit + 5; ++i) nested += "#IF 1\n";
    nested += "#SWITCH 2\n#CASE 1\n#00112:01\n#ENDSW\n#RANDOM 2\n#IF 1\n#00113:01\n#ENDRANDOM\n#00114:01\n";
    for (size_t i = 0; i < limit + 5; ++i) nested += "#ENDIF\n";
    // Right at the limit (the #RANDOM is the first level) the innermost block still counts.
    std::string atLimit;
    for (size_t i = 1; i < limit; ++i) atLimit += "#IF 1\n";
    atLimit += "#00116:01\n";
    for (size_t i = 1; i < limit; ++i) atLimit += "#ENDIF\n";
    const engine::LoadResult result = [&] {
        bms.Options.Extended = true;
        bms.Options.DrawRandom = [this](int32_t) { return ++drawsAsked, 1; };
        drawsAsked = 0;
        return LoadResultOf("#RANDOM 1\n" + nested + "#00111:01\n" + nested + "#00115:01\n" + atLimit + "#ENDRANDOM\n");
    }();
    ASSERT_TRUE(result.Loaded);
    EXPECT_EQ(drawsAsked, 1);
    EXPECT_EQ(Chart(), (std::vector<Triple>{{11, 128, 1}, {15, 128, 1}, {16, 128, 1}}));
    ASSERT_EQ(result.DroppedCount, 1u);
    EXPECT_EQ(result.Dropped[0].Line, static_cast<int32_t>(limit) + 1);
    EXPECT_NE(result.Dropped[0].Reason.find(std::to_string(limit)), std::string::npos);
}

TEST_F(ExtendedTest, OverlongLinesAndObjectsPastTheLimitAreLeftOutAndReportedOnce) {
    // Two lines over the length limit (one would place half a million notes), then background
    // lines of 1001 objects each in 1000 measures: the millionth object is placed on line 1002.
    const size_t limit = engine::ExtendedReader::kMaxLineLength;
    std::string chart = "#00111:" + std::string(limit - 6, '1') + "\n#TITLE " + std::string(limit, 'x') + "\n";
    std::string pairs;
    for (int j = 0; j < 1001; ++j) pairs += "01";
    char prefix[16];
    for (int m = 0; m < 1000; ++m) {
        std::snprintf(prefix, sizeof prefix, "#%03d01:", m);
        chart += prefix + pairs + "\n";
    }
    bms.Options.Extended = true;
    const engine::LoadResult result = LoadResultOf(chart);
    ASSERT_TRUE(result.Loaded);
    EXPECT_EQ(bms.Header().Title, "");
    EXPECT_EQ(static_cast<size_t>(bms.Chart().Count()), engine::ExtendedReader::kMaxObjects + 1);  // and the end
    EXPECT_EQ(Table().back(), (Triple{200, 1000 * 128, 120}));
    ASSERT_EQ(result.DroppedCount, 2u);
    EXPECT_EQ(result.Dropped[0].Line, 1);
    EXPECT_EQ(result.Dropped[1].Line, 1002);
    EXPECT_NE(result.Dropped[1].Reason.find("1000000 objects"), std::string::npos);
}

TEST_F(ExtendedTest, TheSongEndsWhenItsLastSoundAndMovieEndNotAfterEmptyMeasures) {
    // 120 BPM: a measure is 2000 ms (128 ticks). A 5 s background sound from measure 1 outlasts
    // the last note (measure 2, 0.5 s); lines up to measure 933 only set measure lengths.
    testsupport::WriteFile(dir / "long.wav", Wav(8000, std::vector<int16_t>(5 * 8000, 100)));
    testsupport::WriteFile(dir / "short.wav", Wav(8000, std::vector<int16_t>(4000, 100)));
    const std::string chart = "#BPM 120\n#WAV01 long.wav\n#WAV02 short.wav\n#00101:01\n#00211:02\n#50002:0.5\n"
                              "#93302:0.75\n";
    ASSERT_TRUE(LoadExtended(chart));
    EXPECT_DOUBLE_EQ(bms.Chart().EndTime(), 7000);
    EXPECT_EQ(bms.Chart().EndPosition(), 7 * 64);
    EXPECT_EQ(Table().back(), (Triple{200, 7 * 64, 120}));

    // A 10 s movie shown from measure 1 ends it at 12 s.
    testsupport::WriteNumberedMovie(dir / "clip.avi", "mpeg4", 32, 24, 2, 20);
    display.Initialize();
    bms.Options.Extended = true;
    ASSERT_TRUE(LoadResultOf(chart + "#BMP03 clip.avi\n#00104:03\n", 0).Loaded);
    EXPECT_NEAR(bms.Chart().EndTime(), 12000, 1);

    // The fixed dialect keeps its end marker after the measure-length lines, as it always has.
    bms.Options.Extended = false;
    ASSERT_TRUE(Load(chart));
    EXPECT_EQ(Table().back(), (Triple{200, 119552, 120}));
    EXPECT_EQ(bms.Chart().EndPosition(), 119552 + 256);
}

TEST(SeededDraw, IsReproducibleAndCoversOneToN) {
    engine::RandomDraw a = engine::SeededDraw(2026), b = engine::SeededDraw(2026), c = engine::SeededDraw(2027);
    std::vector<int32_t> fromA, fromB, fromC;
    std::array<int, 4> seen{};
    for (int i = 0; i < 300; ++i) {
        fromA.push_back(a(3));
        fromB.push_back(b(3));
        fromC.push_back(c(3));
        ASSERT_GE(fromA.back(), 1);
        ASSERT_LE(fromA.back(), 3);
        ++seen[static_cast<size_t>(fromA.back())];
    }
    EXPECT_EQ(fromA, fromB);
    EXPECT_NE(fromA, fromC);
    EXPECT_GT(seen[1], 50);
    EXPECT_GT(seen[2], 50);
    EXPECT_GT(seen[3], 50);
    EXPECT_EQ(a(0), 0);
}

// A 7-key chart as charts are written today, every time worked out by hand. 150 BPM: 400 ms a
// beat; from beat 6 on 300 BPM (200 ms), after a one-beat stop (200 ms); from beat 15 on 150 again.
constexpr const char* kSevenKeys =
    "#PLAYER 1\n#TITLE Seven Keys\n#BPM 150\n#LNTYPE 1\n#LNOBJ ZZ\n#BPM0X 300\n#STOP0Y 48\n"
    "#00001:0A0A0A0A\n#00011:1G00\n#00018:00001H00\n#00019:0000001I\n"
    "#00108:00000X00\n#00109:00000Y00\n#00151:2A2B\n#00115:00000Z00\n#00113:3C000000\n#00113:000000ZZ\n"
    "#00117:0000004F\n"
    "#00202:0.75\n#00212:5A5A5A\n"
    "#RANDOM 2\n#IF 1\n#00214:6B\n#RANDOM 3\n#IF 3\n#00216:6C\n#ENDIF\n#ENDRANDOM\n#ENDIF\n"
    "#IF 2\n#00214:00006D\n#ENDIF\n#ENDRANDOM\n"
    "#00311:007A\n#00351:7B007C00\n#00403:96\n#00411:00000080\n";

TEST_F(ExtendedTest, ASevenKeyChartAgreesWithTimesWorkedOutByHand) {
    bool sawOuter[3] = {}, sawInner = false;
    for (uint64_t seed = 1; seed <= 16; ++seed) {
        engine::RandomDraw draws = engine::SeededDraw(seed);
        const int32_t outer = draws(2);
        const int32_t inner = outer == 1 ? draws(3) : 0;
        sawOuter[outer] = true;
        sawInner = sawInner || inner == 3;

        bms.Options.Extended = true;
        bms.Options.DrawRandom = engine::SeededDraw(seed);
        ASSERT_TRUE(Load(kSevenKeys));
        std::vector<Sound> expected = {
            {0, 10}, {400, 10}, {800, 10}, {1200, 10},  // background, beats 0-3
            {0, 52},                                    // key 1 (1G), beat 0
            {800, 53},                                  // key 6 on channel 18 (1H), beat 2
            {1200, 54},                                 // key 7 on channel 19 (1I), beat 3
            {1600, 82},                                 // long note 2A at beat 4; 2B ends it
            {2400, 35},                                 // key 5 (0Z) where the stop starts, beat 6
            {1600, 120},                                // key 3 (3C); ZZ at beat 7 ends it
            {2800, 159},                                // free zone 17 (4F), beat 7: 2400 + 200 + 200
            {3000, 190}, {3200, 190}, {3400, 190},      // measure 2 is 3 beats: 8, 9, 10
            {4000, 262},                                // 7A at beat 13: 3600 + 2 × 200
            {3600, 263},                                // long note 7B at beat 11; 7C ends it
            {4400 + 3 * 400, 288},                      // 80 at beat 18, back at 150 BPM
        };
        if (outer == 1) expected.emplace_back(3000, 227);   // 6B at beat 8
        if (inner == 3) expected.emplace_back(3000, 228);   // 6C at beat 8
        if (outer == 2) expected.emplace_back(3400, 229);   // 6D at beat 10
        EXPECT_TRUE(SameSchedule(Schedule(), expected)) << "seed " << seed;
        // No sound is loaded: the song ends a measure after the last object (beat 18), at 150
        // BPM from beat 15 on.
        EXPECT_EQ(Table().back(), (Triple{200, 22 * 32, 120}));
        EXPECT_DOUBLE_EQ(bms.Chart().Time(bms.Chart().LastObject()), 4400 + 7 * 400);
        EXPECT_EQ(bms.Chart().EndPosition(), 22 * 32);
        EXPECT_EQ(PositionAt(2500), 192);  // inside the stop at beat 6
        EXPECT_EQ(PositionAt(4400 + 400), 15 * 32 + 32);
    }
    EXPECT_TRUE(sawOuter[1] && sawOuter[2] && sawInner);
}

TEST_F(ExtendedTest, AFourteenKeyChartUsesBothSidesAndBothKindsOfLongNote) {
    // 120 BPM: 500 ms a beat; measure 1 starts at 2000 ms.
    ASSERT_TRUE(LoadExtended("#PLAYER 3\n#BPM 120\n#LNOBJ ZZ\n#00111:01\n#00121:02\n#00128:0003\n#00129:000004\n"
                             "#00161:0506\n#00126:0700ZZ00\n#00127:08\n#00119:0009\n#00169:000A000B\n"));
    EXPECT_EQ(bms.Header().PlayerMode, 3);
    EXPECT_TRUE(SameSchedule(Schedule(), {{2000, 1},
                                          {2000, 2},
                                          {3000, 3},
                                          {2000 + 500 * 8.0 / 3, 4},  // beat 4 + 8/3
                                          {2000, 5},
                                          {2000, 7},
                                          {2000, 8},
                                          {3000, 9},
                                          {2500, 10}}));
    std::vector<Triple> chart = Chart();
    const auto count = [&](int32_t kind) {
        return std::count_if(chart.begin(), chart.end(), [&](const Triple& o) { return std::get<0>(o) == kind; });
    };
    EXPECT_EQ(count(21), 2);  // the note and the long note of lane 21 (channel 61)
    EXPECT_EQ(count(26), 1);  // the turntable note that #LNOBJ ends
    EXPECT_EQ(count(29), 2);  // the note, and 0A that starts the long note on 69 (0B ends it)
}

TEST_F(ExtendedTest, BrokenLinesAreSkippedAndImpossibleChartsFailTheLoad) {
    // Odd pairs, a letter where a number belongs, and control lines out of place.
    // Numbers beyond a double's range, and one that becomes a measure of length 0.
    ASSERT_TRUE(LoadExtended("#ENDIF\n#ELSE\n#CASE 1\n#SKIP\n#ENDSW\n#ENDRANDOM\n#00111:01?!0\n#00102:-1\n"
                             "#00102:abc\n#WAV0! x.wav\n#STOP01 -5\n#BPM01 0\n#00108:01\n#00109:01\n"
                             "#BPM02 1e400\n#STOP02 1e400\n#00002:1e400\n#00002:1e-400\n#00108:0202\n#00109:0002\n"
                             "#IF 1\n"));
    EXPECT_EQ(Chart(), (std::vector<Triple>{{11, 128, 1}}));
    EXPECT_DOUBLE_EQ(bms.Chart().Time(0), 2000);
    EXPECT_EQ(PositionAt(3000), 192);
    EXPECT_FALSE(LoadExtended("#BPM 0\n#00111:01\n"));
    EXPECT_FALSE(LoadExtended("#BPM 120\n#00102:1e9\n#99911:01\n"));
}

}  // namespace
}  // namespace enginetest
