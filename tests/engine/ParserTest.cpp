#include <string>

#include "EngineFixture.h"
#include "engine/FixedReader.h"

namespace enginetest {
namespace {

using ParserTest = EngineTest;

// Objects of the kinds the tests look at, without the end marker (the last record).
std::vector<Triple> WithoutEndMarker(std::vector<Triple> table) {
    if (!table.empty()) table.pop_back();
    return table;
}

TEST_F(ParserTest, HeaderKeywordsIgnoreCaseButValuesKeepTheirs) {
    ASSERT_TRUE(Load("#title My Song\r\n#Artist Someone\r\n#GENRE Trance\r\n#TYPE Hard\r\n"
                     "#PLAYLEVEL 7\r\n#RANK 3\r\n#TOTAL 350\r\n#VOLWAV 80\r\n#BPM 150.5\r\n"));
    EXPECT_EQ(bms.Header().Title, "My Song");
    EXPECT_EQ(bms.Header().Artist, "Someone");
    EXPECT_EQ(bms.Header().Genre, "Trance");
    EXPECT_EQ(bms.Header().ChartType, "Hard");
    EXPECT_EQ(bms.Header().PlayLevel, 7);
    EXPECT_EQ(bms.Header().Rank, 3);
    EXPECT_EQ(bms.Header().Total, 350);
    EXPECT_EQ(bms.Header().VolWav, 80);
    EXPECT_EQ(bms.Header().Bpm, 150.5f);
}

TEST_F(ParserTest, TextValuesAreTakenAtTheirPositionCutAndNotTrimmed) {
    ASSERT_TRUE(Load("#TITLE\n#GENRE  two blanks \n#ARTIST" + std::string(150, 'a') + "\n#TYPE " +
                     std::string(250, 't') + "\n"));
    EXPECT_EQ(bms.Header().Title, "");
    EXPECT_EQ(bms.Header().Genre, " two blanks ");
    // The separator is any one character; the value starts right after it.
    EXPECT_EQ(bms.Header().Artist, std::string(100, 'a'));
    EXPECT_EQ(bms.Header().ChartType, std::string(200, 't'));

    ASSERT_TRUE(Load("#TITLE " + std::string(150, 'x') + "\n"));
    EXPECT_EQ(bms.Header().Title, std::string(100, 'x'));
}

TEST_F(ParserTest, ShiftJisAndUtf8TitlesBecomeUtf8WithoutSplittingACharacter) {
    // "曲名" in Shift-JIS is 8B C8 96 BC.
    ASSERT_TRUE(Load("#TITLE \x8B\xC8\x96\xBC\r\n"));
    EXPECT_EQ(bms.Header().Title, "曲名");
    ASSERT_TRUE(Load("#TITLE 曲名\r\n"));
    EXPECT_EQ(bms.Header().Title, "曲名");
    // 99 ASCII characters and one double-byte character: the character does not fit in 100.
    ASSERT_TRUE(Load("#TITLE " + std::string(99, 'a') + "\x8B\xC8\r\n"));
    EXPECT_EQ(bms.Header().Title, std::string(99, 'a'));
    ASSERT_TRUE(Load("#TITLE " + std::string(99, 'a') + "曲\r\n"));
    EXPECT_EQ(bms.Header().Title, std::string(99, 'a'));
}

TEST_F(ParserTest, Cp949TextsBecomeUtf8WithoutSplittingACharacter) {
    // 사랑해요 and 凋花 in CP949; 98 ASCII characters and 사 fill the 100 bytes exactly, and
    // 랑 does not fit (in Shift-JIS its first byte would pair with 사's second).
    ASSERT_TRUE(Load("#TITLE \xBB\xE7\xB6\xFB\xC7\xD8\xBF\xE4\r\n#ARTIST \xF0\xBD\xFC\xA3\r\n#GENRE " +
                     std::string(98, 'a') + "\xBB\xE7\xB6\xFB\r\n"));
    EXPECT_EQ(bms.Header().Title, "사랑해요");
    EXPECT_EQ(bms.Header().Artist, "凋花");
    EXPECT_EQ(bms.Header().Genre, std::string(98, 'a') + "사");
}

TEST_F(ParserTest, NumbersAreStoredOnlyWhenTheyConvert) {
    ASSERT_TRUE(Load("#PLAYLEVEL 5\n#PLAYLEVEL five\n#BPM 140\n#BPM01 180\n#BPM 1,5\n#TOTAL 12 \n"
                     "#RANK  -2\n#BPM  99.5  \n"));
    EXPECT_EQ(bms.Header().PlayLevel, 5);
    EXPECT_EQ(bms.Header().Total, 200);  // a trailing blank makes it no integer
    EXPECT_EQ(bms.Header().Rank, -2);    // leading blanks and a sign are fine
    EXPECT_EQ(bms.Header().Bpm, 99.5f);  // blanks around a floating-point value are fine
    // "#BPM01 180" adds no object either.
    EXPECT_EQ(bms.Chart().LastObject(), 0);
}

TEST_F(ParserTest, ASecondLoadStartsFromTheDefaultsAgain) {
    ASSERT_TRUE(Load("#TOTAL 350\n#PLAYLEVEL 7\n#RANK 3\n#TITLE First\n#00111:01\n#00203:78\n#00911:01\n"));
    ASSERT_EQ(bms.Header().Total, 350);
    ASSERT_EQ(bms.Header().PlayLevel, 7);
    ASSERT_EQ(bms.Header().Rank, 3);
    ASSERT_EQ(bms.Chart().EndPosition(), 9 * 128 + 4 * 128);
    // Where play leaves it: the first arrow hit, the song clock past the first tempo point.
    bms.Chart().Hit(0);
    bms.StartClock();
    PositionAt(20000);
    ASSERT_EQ(bms.TempoSegment(), 2);

    ASSERT_TRUE(Load("#00111:01\n"));
    EXPECT_EQ(bms.Header().Total, 200);
    EXPECT_EQ(bms.Header().PlayLevel, 2);
    EXPECT_EQ(bms.Header().Rank, 0);
    EXPECT_TRUE(bms.Chart()[0].Pending);
    EXPECT_EQ(bms.TempoSegment(), 1);
    EXPECT_EQ(bms.Chart().EndPosition(), 1 * 128 + 4 * 128);
}

TEST_F(ParserTest, PlayerModes) {
    ASSERT_TRUE(Load("#PLAYER1\n"));
    EXPECT_EQ(bms.Header().PlayerMode, 1);
    ASSERT_TRUE(Load("#PLAYER 3\n"));
    EXPECT_EQ(bms.Header().PlayerMode, 3);
    ASSERT_TRUE(Load("#PLAYER 2\n#PLAYER X\n"));
    EXPECT_EQ(bms.Header().PlayerMode, 2);
    ASSERT_TRUE(Load("#PLAYER 7\n"));
    EXPECT_EQ(bms.Header().PlayerMode, 7);
    // "#PLAYER2" also matches "#PLAYER", which then reads character 9.
    ASSERT_TRUE(Load("#PLAYER2 5\n"));
    EXPECT_EQ(bms.Header().PlayerMode, 2);
    ASSERT_TRUE(Load("#PLAYER25\n"));
    EXPECT_EQ(bms.Header().PlayerMode, 5);
}

TEST_F(ParserTest, LoadingResetsTheChartButNotVolWavOrTheMidiName) {
    ASSERT_TRUE(Load("#TITLE A\n#VOLWAV 50\n#PLAYER 3\n#BPM 90\n#00111:01\n"));
    ASSERT_TRUE(Load("#00111:01\n"));
    EXPECT_EQ(bms.Header().Title, "");
    EXPECT_EQ(bms.Header().PlayerMode, 1);
    EXPECT_EQ(bms.Header().Bpm, 120.0f);
    EXPECT_EQ(bms.Header().VolWav, 50);
    EXPECT_EQ(bms.Chart().LastObject(), 1);
}

TEST_F(ParserTest, ChannelLinesDivideTheMeasureIntoEqualSlots) {
    ASSERT_TRUE(Load("#00111:00010000\n#00111:01\n#00211:0102030\n#00311:01ZZ02\n"));
    EXPECT_EQ(WithoutEndMarker(Table()), (std::vector<Triple>{{11, 128, 1},
                                                              {11, 160, 1},
                                                              {11, 256, 1},
                                                              {11, 299, 2},
                                                              {11, 341, 3},
                                                              {11, 384, 1}}));
}

TEST_F(ParserTest, ChannelsMapToKinds) {
    ASSERT_TRUE(Load("#00001:11\n#00002:0.75\n#00003:B4\n#00004:04\n#00007:07\n#00012:12\n#00026:26\n"
                     "#00005:05\n#00006:06\n#00008:08\n#00009:09\n#00010:10\n#00017:17\n#00020:20\n"
                     "#00027:27\n#00030:30\n#0001A:01\n#00099:99\n"));
    const std::vector<Triple> table = WithoutEndMarker(Table());
    // All at position 0; the exchange sort leaves records of equal position in file order
    // when nothing smaller comes after them.
    EXPECT_EQ(table, (std::vector<Triple>{
                         {0, 0, 0x11}, {201, 0, 750}, {200, 0, 180}, {104, 0, 4}, {105, 0, 7}, {12, 0, 0x12}, {26, 0, 0x26}}));
}

TEST_F(ParserTest, MeasureLengthAndTempoValues) {
    ASSERT_TRUE(Load("#00102:0.75\n#00103:B4\n#00202: 1.5 \n#00302:x\n#00402:-0.5\n"));
    const std::vector<Triple> table = WithoutEndMarker(Table());
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table[0], Triple(201, 128, 750));
    EXPECT_EQ(table[1], Triple(200, 128, 180));
    // Measure 1 is 0.75 long, so measure 2 starts 32 ticks earlier.
    EXPECT_EQ(table[2], Triple(201, 224, 1500));
}

TEST_F(ParserTest, OnlyTheFirstThousandDataCharactersCount) {
    std::string data;
    for (int i = 0; i < 600; ++i) data += "01";
    ASSERT_TRUE(Load("#00011:" + data + "\n"));
    // 500 slots of 128/500 ticks; the end marker follows.
    EXPECT_EQ(bms.Chart().LastObject(), 500);
    EXPECT_EQ(bms.Chart()[498].Position, 127);  // 128 / 500 * 498 = 127.488
    EXPECT_EQ(bms.Chart()[499].Position, 128);  // 127.744
}

TEST_F(ParserTest, SlotPositionsRoundHalfToEven) {
    std::string data;
    for (int i = 0; i < 256; ++i) data += "01";
    ASSERT_TRUE(Load("#00011:" + data + "\n"));
    EXPECT_EQ(bms.Chart()[1].Position, 0);  // 0.5
    EXPECT_EQ(bms.Chart()[2].Position, 1);
    EXPECT_EQ(bms.Chart()[3].Position, 2);  // 1.5
    EXPECT_EQ(bms.Chart()[5].Position, 2);  // 2.5
}

TEST_F(ParserTest, BadMeasureOrChannelNumbersIgnoreTheLine) {
    ASSERT_TRUE(Load("#0a111:01\n#-0111:01\n#001 1:01\n#00111\n#001\n#\n#001+1:01\n"));
    // " 1" and "+1" are the integer 1: channel 01, background sound.
    EXPECT_EQ(WithoutEndMarker(Table()), (std::vector<Triple>{{0, 128, 1}, {0, 128, 1}}));
}

TEST_F(ParserTest, ConditionalBlocksAreIgnoredSoEveryBranchCounts) {
    ASSERT_TRUE(Load("#RANDOM 2\n#IF 1\n#00111:01\n#ENDIF\n#IF 2\n#00111:02\n#ENDIF\n#ENDRANDOM\n"));
    EXPECT_EQ(WithoutEndMarker(Table()), (std::vector<Triple>{{11, 128, 1}, {11, 128, 2}}));
}

TEST_F(ParserTest, LineEndsAndCtrlZ) {
    const std::string lines[] = {"#TITLE T", "#BPM 140", "#00111:0101", "#00213:01"};
    std::string crlf, lf, cr;
    for (const std::string& l : lines) {
        crlf += l + "\r\n";
        lf += l + "\n";
        cr += l + "\r";
    }
    ASSERT_TRUE(Load(crlf));
    const std::vector<Triple> expected = Table();
    const auto expectedMap = TempoMap();
    ASSERT_TRUE(Load(lf));
    EXPECT_EQ(Table(), expected);
    EXPECT_EQ(TempoMap(), expectedMap);
    ASSERT_TRUE(Load(cr + "\n\n\r\r"));
    EXPECT_EQ(Table(), expected);

    ASSERT_TRUE(Load("#00111:01\n\x1A#00211:01\n"));
    EXPECT_EQ(WithoutEndMarker(Table()), (std::vector<Triple>{{11, 128, 1}}));
}

TEST_F(ParserTest, AByteOrderMarkDoesNotHideTheFirstLine) {
    ASSERT_TRUE(Load("\xEF\xBB\xBF#TITLE 曲\n"));
    EXPECT_EQ(bms.Header().Title, "曲");
}

TEST_F(ParserTest, MissingOrUnreadableChartFailsTheLoad) {
    bms.BgaDisplayMode = 2;
    for (const auto& [path, why] : {std::pair{dir / "nothing.bms", "there is no such file"},
                                    std::pair{dir.Path(), "it is a folder, not a chart file"}}) {
        const engine::LoadResult result = bms.LoadChart(path.string(), 128);
        EXPECT_FALSE(result.Loaded);
        EXPECT_EQ(result.FailedStep, engine::LoadStep::File);
        EXPECT_EQ(result.Message, why);
    }
}

TEST_F(ParserTest, TheResultListsTheDroppedLinesWithTheirNumbers) {
    testsupport::WriteFile(dir / "junk.wav", "no wave");
    // Line 3 names a sound that does not decode: that comes back from the decoding threads
    // after later lines have been read. CR LF, CR and LF each end one line.
    const std::string chart = "#TITLE ok\r\n\r\n#WAV01 junk.wav\r\n#00111:01ZZ\r\n#PLAYLEVEL x\r#00211:01\n#BPM01 180\n";
    for (const bool extended : {false, true}) {
        bms.Options.Extended = extended;
        bms.Options.LoadThreads = 4;
        const engine::LoadResult result = LoadResultOf(chart);
        ASSERT_TRUE(result.Loaded);
        std::vector<int32_t> lines;
        for (const engine::DroppedLine& line : result.Dropped) {
            lines.push_back(line.Line);
            EXPECT_FALSE(line.Reason.empty());
        }
        // The extended reading takes base-36 pairs and #BPMxx lines.
        EXPECT_EQ(lines, (extended ? std::vector<int32_t>{3, 5} : std::vector<int32_t>{3, 4, 5, 7}));
        EXPECT_EQ(result.DroppedCount, lines.size());
    }
    // A chart of broken lines keeps the first ones and counts the rest.
    std::string broken;
    for (int i = 0; i < 1500; ++i) broken += "#PLAYLEVEL x\n";
    const engine::LoadResult result = LoadResultOf(broken);
    ASSERT_EQ(result.Dropped.size(), engine::LoadResult::kMaxDroppedLines);
    EXPECT_EQ(result.Dropped.back().Line, 1000);
    EXPECT_EQ(result.DroppedCount, 1500u);
}

TEST_F(ParserTest, SoundSlotsTakeTwoHexDigits) {
    testsupport::WriteFile(dir / "kick.wav", Wav(22050, {0, 1000, -1000}));
    ASSERT_TRUE(Load("#WAV0G kick.wav\n#WAV0a kick.wav\n#WAV1 kick.wav\n#WAV02 missing.wav\n#00111:02\n"));
    for (int slot = 0; slot < 256; ++slot) {
        if (slot != 10) {
            EXPECT_EQ(bms.Slots().SoundState[slot], -1) << slot;
        }
    }
    EXPECT_EQ(bms.Slots().SoundState[10], 1);
    // The object that names the missing sound is still there; it will simply be silent.
    EXPECT_EQ(WithoutEndMarker(Table()), (std::vector<Triple>{{11, 128, 2}}));
}

TEST(FixedReader, ReadsLinesOnItsOwnAndHandsTheFilesToItsHost) {
    struct Host : engine::ReadingHost {
        std::vector<std::string> calls;
        bool pictures = false;
        void LoadSound(int slot, std::string_view name) override {
            calls.push_back("sound " + std::to_string(slot) + " " + std::string(name));
        }
        void LoadPicture(int slot, std::string_view name) override {
            calls.push_back("picture " + std::to_string(slot) + " " + std::string(name));
        }
        bool ShowsPictures() const override { return pictures; }
        void Echo(const std::string& text) override { calls.push_back("echo " + text); }
        void Drop(const std::string&) override { calls.push_back("drop"); }
    } host;
    engine::TChartHeader header;
    engine::FixedReader reader(host, header, 192);
    reader.ParseLine("#WAV01 a.wav");
    reader.ParseLine("#BMP01 a.bmp");  // pictures are not shown: an unknown line
    host.pictures = true;
    reader.ParseLine("#BMP0a b.bmp");
    reader.ParseLine("#00211:0001");
    reader.ParseLine("#TITLE abc");
    reader.ParseLine("#WAVXY c.wav");
    reader.ParseLine("");
    EXPECT_EQ(host.calls, (std::vector<std::string>{"sound 1 a.wav", "picture 10 b.bmp", "echo TITLE:abc", "drop"}));
    ASSERT_EQ(reader.Objects().size(), 1u);
    EXPECT_EQ(reader.Objects()[0], (engine::TChartObject{11, 2 * 192 + 96, 1, true}));
    EXPECT_EQ(header.Title, "abc");
}

}  // namespace
}  // namespace enginetest

