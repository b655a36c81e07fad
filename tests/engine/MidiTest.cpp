#include "EngineFixture.h"
#include "media/MPlayer.h"

namespace enginetest {
namespace {

using MidiTest = EngineTest;

// A one-track MIDI file at 120 beats a minute holding one note for `beats` beats.
std::vector<uint8_t> Midi(int beats) {
    const uint32_t ticks = static_cast<uint32_t>(beats) * 480;
    testsupport::Bytes track;
    track.U8(0).U8(0xFF).U8(0x51).U8(3).U8(0x07).U8(0xA1).U8(0x20);
    track.U8(0).U8(0x90).U8(60).U8(100);
    track.U8(0x80 | ((ticks >> 14) & 0x7F)).U8(0x80 | ((ticks >> 7) & 0x7F)).U8(ticks & 0x7F);
    track.U8(0x80).U8(60).U8(64);
    track.U8(0).U8(0xFF).U8(0x2F).U8(0);
    testsupport::Bytes file;
    file.Text("MThd");
    file.U8(0).U8(0).U8(0).U8(6).U8(0).U8(0).U8(0).U8(1).U8(480 >> 8).U8(480 & 0xFF);
    file.Text("MTrk");
    const uint32_t size = static_cast<uint32_t>(track.Size());
    file.U8(size >> 24).U8((size >> 16) & 0xFF).U8((size >> 8) & 0xFF).U8(size & 0xFF);
    file.Append(track.Data());
    return file.Data();
}

TEST_F(MidiTest, SongTimeFollowsThePlayingMidiThenGoesOnFromWhereItEnded) {
    testsupport::WriteFile(dir / "Music" / "Back.MID", Midi(4));
    ASSERT_TRUE(Load("#MIDIFILE music\\back.mid\n#00111:01\n"));
    EXPECT_EQ(bms.Header().MidiFileName, "music\\back.mid");
    ASSERT_TRUE(bms.MediaPlayer->Opened());

    bms.StartClock();
    bms.MediaPlayer->Play();
    gui::Clock::Advance(500);
    ASSERT_EQ(bms.MediaPlayer->Mode(), media::mpPlaying);
    // The MIDI position, not the clock's -1500.
    EXPECT_EQ(bms.SongTime(), bms.MediaPlayer->Position());
    EXPECT_NEAR(bms.SongTime(), 500, 20);
    bms.PlaySpeed = 200;
    EXPECT_NEAR(bms.SongTime(), 1000, 40);

    gui::Clock::Advance(3000);  // the two seconds of MIDI are over
    ASSERT_NE(bms.MediaPlayer->Mode(), media::mpPlaying);
    // 3.5 s since the track started, not the 1.5 s of the clock started with it, whose song
    // time 0 lay 2 s later: the song does not jump back when the track ends.
    EXPECT_EQ(bms.SongTime(), 2 * 3500);
    gui::Clock::Advance(100);
    EXPECT_EQ(bms.SongTime(), 2 * 3600);
}

TEST_F(MidiTest, OnTheMixersClockTheSongKeepsTheTracksTimelineAfterItEnds) {
    sound.SetOffline(true);
    sound.Initialize();
    sound.Mixer().SetOfflineClock(true);
    testsupport::WriteFile(dir / "back.mid", Midi(4));  // two seconds
    ASSERT_TRUE(Load("#MIDIFILE back.mid\n#00111:01\n"));
    std::vector<int16_t> block(2 * 88200);
    const auto render = [&](int frames) { sound.Render(block.data(), frames); };

    render(4410);
    bms.StartClock();
    EXPECT_EQ(bms.SongTime(), -2000);  // the lead-in runs on the mixer's frames, not the clock
    render(4410);
    EXPECT_EQ(bms.SongTime(), -1900);
    bms.MediaPlayer->Play();
    EXPECT_EQ(bms.SongTime(), 0);
    render(22050);
    ASSERT_EQ(bms.MediaPlayer->Mode(), media::mpPlaying);
    EXPECT_EQ(bms.SongTime(), 500);
    render(70560);
    ASSERT_NE(bms.MediaPlayer->Mode(), media::mpPlaying);
    EXPECT_EQ(bms.SongTime(), 2100);
    gui::Clock::Advance(5000);  // the system clock plays no part
    render(441);
    EXPECT_EQ(bms.SongTime(), 2110);
}

TEST_F(MidiTest, TheBackingTrackPlaysAtTheChartsSpeedSoTheSongTimeMatchesIt) {
    testsupport::WriteFile(dir / "back.mid", Midi(4));  // two seconds at normal speed
    bms.PlaySpeed = 150;
    ASSERT_TRUE(Load("#MIDIFILE back.mid\n#00111:01\n"));
    EXPECT_EQ(bms.MediaPlayer->Speed(), 1.5);
    bms.StartClock();
    bms.MediaPlayer->Play();
    gui::Clock::Advance(1000);
    ASSERT_EQ(bms.MediaPlayer->Mode(), media::mpPlaying);
    // One second of playing is a second and a half of the song, for the track and the chart alike.
    EXPECT_NEAR(bms.SongTime(), 1500, 30);
    gui::Clock::Advance(400);  // 1.4 s of playing: the 2-second track is over at 1.33 s
    EXPECT_NE(bms.MediaPlayer->Mode(), media::mpPlaying);
}

TEST_F(MidiTest, AMissingMidiFileIsSkippedAndABrokenOneAbandonsOnlyItsLine) {
    ASSERT_TRUE(Load("#MIDIFILE none.mid\n#00111:01\n"));
    EXPECT_EQ(bms.Header().MidiFileName, "");
    EXPECT_FALSE(bms.MediaPlayer->Opened());

    testsupport::WriteFile(dir / "broken.mid", "MThd but nothing else");
    ASSERT_TRUE(Load("#MIDIFILE broken.mid\n#00111:01\n"));
    // The name is kept although the file could not be opened (play will report it).
    EXPECT_EQ(bms.Header().MidiFileName, "broken.mid");
    EXPECT_FALSE(bms.MediaPlayer->Opened());
    EXPECT_EQ(bms.Chart().LastObject(), 1);
}

}  // namespace
}  // namespace enginetest
