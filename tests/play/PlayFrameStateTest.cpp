#include "PlayRig.h"

#include <vector>

namespace playtest {
namespace {

using gui::Rect;
using testsupport::ScriptedInput;

std::vector<uint8_t> Wav() {
    testsupport::Bytes b;
    const uint32_t samples = 4410;
    b.Text("RIFF").U32(36 + samples * 2).Text("WAVE");
    b.Text("fmt ").U32(16).U16(1).U16(1).U32(44100).U32(88200).U16(2).U16(16);
    b.Text("data").U32(samples * 2);
    for (uint32_t i = 0; i < samples; ++i) b.U16(1000);
    return b.Data();
}

class StateTest : public PlayRig {
protected:
    bool Playing(int slot) const {
        const media::TWaveCollectionItem* item = bms->Slots().Sounds[static_cast<size_t>(slot)];
        return item != nullptr && item->CopyCount() > 0 &&
               (item->Copy(0)->Status() & media::DSBSTATUS_PLAYING) != 0;
    }
    void StopAll() {
        for (auto* item : bms->Slots().Sounds)
            if (item != nullptr)
                for (int c = 0; c < item->CopyCount(); ++c) item->Copy(c)->Stop();
    }
    // The mixer's output as the song clock, rendered by the test.
    void UseMixerClock() {
        sound.SetOffline(true);
        sound.Initialize();
        sound.Mixer().SetOfflineClock(true);
    }
    // Renders the mix up to song time `songMs` (song time 0 lies two seconds of output after the
    // clock started, at frame 88200), keeping what is heard, then plays a frame.
    bool PlayTo(double songMs) {
        const auto target = static_cast<uint64_t>(88200 + songMs * 44.1);
        std::vector<int16_t> block(2 * (target - sound.Mixer().FramesRendered()));
        sound.Render(block.data(), static_cast<int>(block.size() / 2));
        heard.insert(heard.end(), block.begin(), block.end());
        return play::PlayFrame(display, *bms, settings, play::ReadFrameInput(input, timer));
    }
    // The first frame heard.
    size_t Onset() const {
        size_t frame = 0;
        while (frame < heard.size() / 2 && heard[2 * frame] == 0) ++frame;
        return frame;
    }
    std::vector<int16_t> heard;

    // A frame at `p` with Space held (true) or up (false).
    bool FrameWithSpace(int32_t p, bool down) {
        if (down) {
            keys->Press(ScriptedInput::kSpace);
        } else {
            keys->Release(ScriptedInput::kSpace);
        }
        return Frame(p);
    }
};

TEST_F(StateTest, ObjectsTriggerOnceWhenReachedAndTheLaterOneIsTheLastSound) {
    sound.SetOffline(true);
    sound.Initialize();
    testsupport::WriteFile(dir / "a.wav", Wav());
    testsupport::WriteFile(dir / "b.wav", Wav());
    ASSERT_TRUE(Load("#WAV01 a.wav\n#WAV02 b.wav\n#00111:01\n#00101:02\n"));
    const int32_t first = std::min(IndexOf(11, 128), IndexOf(0, 128));
    const int32_t second = std::max(IndexOf(11, 128), IndexOf(0, 128));
    ASSERT_GE(first, 0);

    Frame(127);
    EXPECT_FALSE(Playing(1));
    EXPECT_EQ(play::State().TriggeredUpTo, -9999);
    Frame(128);
    EXPECT_TRUE(Playing(1));
    EXPECT_TRUE(Playing(2));
    EXPECT_EQ(play::State().LastSoundObject, second);
    EXPECT_EQ(play::State().TriggeredUpTo, 128);

    StopAll();
    Frame(128);
    Frame(129);
    EXPECT_FALSE(Playing(1));
    EXPECT_FALSE(Playing(2));
    EXPECT_EQ(play::State().LastSoundObject, second);
}

TEST_F(StateTest, TheExtendedReadingPlaysSlotsPast255OnChannelsWithoutALane) {
    sound.SetOffline(true);
    sound.Initialize();
    testsupport::WriteFile(dir / "a.wav", Wav());
    extended = true;
    // Slot RS is 1000; channel 18 (key 6) has no lane.
    ASSERT_TRUE(Load("#WAVRS a.wav\n#00118:RS\n"));
    Frame(127);
    EXPECT_FALSE(Playing(1000));
    Frame(128);
    EXPECT_TRUE(Playing(1000));
}

TEST_F(StateTest, OnTheMixersClockSoundsGoAFrameAheadToTheirExactSampleAndNothingElseMoves) {
    UseMixerClock();
    testsupport::WriteFile(dir / "a.wav", Wav());
    ASSERT_TRUE(Load("#WAV01 a.wav\n#00111:01\n"));  // one tick a millisecond: the object sounds at 128 ms
    PlayTo(110);  // the next frame comes 16.7 ms later, before 128 ms
    EXPECT_FALSE(Playing(1));
    PlayTo(112);
    EXPECT_TRUE(Playing(1));  // handed to the mixer, but not reached
    EXPECT_EQ(play::State().TriggeredUpTo, -9999);
    EXPECT_TRUE(bms->Chart()[IndexOf(11, 128)].Pending);
    PlayTo(129);
    EXPECT_EQ(play::State().TriggeredUpTo, 128);
    EXPECT_EQ(play::State().LastSoundObject, IndexOf(11, 128));
    PlayTo(300);
    EXPECT_EQ(Onset(), 93845u);  // 88200 + 128 × 44.1 = 93844.8
}

TEST_F(StateTest, OnTheMixersClockFramesSlowerThanSixtyAHandSoundsFurtherAhead) {
    UseMixerClock();
    testsupport::WriteFile(dir / "a.wav", Wav());
    ASSERT_TRUE(Load("#WAV01 a.wav\n#00111:01\n"));
    // 25 frames a second: the frame at 100 ms must hand over the sound of 128 ms.
    for (double ms : {20.0, 60.0, 100.0, 140.0, 180.0}) {
        PlayTo(ms);
        gui::Clock::Advance(40);
    }
    PlayTo(300);
    EXPECT_EQ(Onset(), 93845u);
}

TEST_F(StateTest, AFrameThatJumpsAheadTriggersEverythingPassed) {
    ASSERT_TRUE(Load("#00111:01\n#00204:01\n#00207:02\n#00304:03\n"));
    Frame(300);
    EXPECT_EQ(play::State().BaseImage, 1);
    EXPECT_EQ(play::State().LayerImage, 2);
    EXPECT_EQ(play::State().LastSoundObject, IndexOf(11, 128));
    EXPECT_EQ(play::State().TriggeredUpTo, 256);
}

TEST_F(StateTest, FromAMeasureThePicturesSelectedBeforeItShowAndNothingBeforeItTriggers) {
    settings.StartMeasure = 3;
    ASSERT_TRUE(Load("#00111:01\n#00204:01\n#00207:02\n#00304:03\n#00311:01\n"));
    EXPECT_EQ(play::State().BaseImage, 1);
    EXPECT_EQ(play::State().LayerImage, 2);
    Frame(383);
    EXPECT_EQ(play::State().TriggeredUpTo, -9999);
    Frame(384);
    EXPECT_EQ(play::State().BaseImage, 3);
    EXPECT_EQ(play::State().LastSoundObject, IndexOf(11, 384));
    EXPECT_EQ(play::State().TriggeredUpTo, 384);

    // Past the end (two measures after the last one used) play is over on the first frame.
    settings.StartMeasure = 6;
    ASSERT_TRUE(Load("#00111:01\n"));
    EXPECT_TRUE(Frame(-1000));
}

TEST_F(StateTest, ScanIndexMovesPastArrowsThatLeftTheTopAndNeverBack) {
    ASSERT_TRUE(Load("#00111:01\n#00213:01\n"));
    const int32_t first = IndexOf(11, 128);
    Frame(128 + 64);  // y = -32: still examined next time
    EXPECT_EQ(play::State().ScanCursor.Index(), 0);
    Frame(128 + 65);  // y = -33
    EXPECT_EQ(play::State().ScanCursor.Index(), first + 1);
    Frame(200);
    EXPECT_EQ(play::State().ScanCursor.Index(), first + 1);
    Frame(256 + 65);
    EXPECT_EQ(play::State().ScanCursor.Index(), IndexOf(13, 256) + 1);
}

TEST_F(StateTest, SpaceHitsArrowsWithinSevenTicksOnBothSides) {
    for (int32_t offset : {-8, -7, 0, 7, 8}) {
        ASSERT_TRUE(Load("#00111:01\n#00126:01\n#00215:01\n"));
        FrameWithSpace(128 + offset, true);
        const bool hit = offset > -8 && offset < 8;
        EXPECT_EQ(!bms->Chart()[IndexOf(11, 128)].Pending, hit) << offset;
        EXPECT_EQ(!bms->Chart()[IndexOf(26, 128)].Pending, hit) << offset;
        EXPECT_TRUE(bms->Chart()[IndexOf(15, 256)].Pending) << offset;
    }
}

TEST_F(StateTest, HoldingSpaceIsOnePress) {
    ASSERT_TRUE(Load("#00111:01\n#00211:01\n"));
    const int32_t arrow = IndexOf(11, 128);
    FrameWithSpace(110, true);
    for (int32_t p = 111; p <= 136; ++p) FrameWithSpace(p, true);
    EXPECT_TRUE(bms->Chart()[arrow].Pending);

    FrameWithSpace(250, false);
    FrameWithSpace(251, true);
    EXPECT_FALSE(bms->Chart()[IndexOf(11, 256)].Pending);
}

TEST_F(StateTest, WithoutFocusTheKeyboardReadsUpAndNothingIsHit) {
    ASSERT_TRUE(Load("#00111:01\n"));
    keys->focused = false;
    FrameWithSpace(127, false);
    FrameWithSpace(128, true);
    EXPECT_TRUE(bms->Chart()[IndexOf(11, 128)].Pending);
}

TEST_F(StateTest, AHitArrowVanishesAtOnceAndAMissedOneScrollsOn) {
    ASSERT_TRUE(Load("#00121:01\n#00221:01\n"));  // mode 1: no receptors above lane 4
    FrameWithSpace(128, true);
    EXPECT_TRUE(Plain(Rect(184, 0, 214, 100), Backdrop()));
    FrameWithSpace(256 + 20, false);
    EXPECT_TRUE(CellAt(184, 12, ArrowCell(0, (276 >> 3) & 3)));
}

TEST_F(StateTest, PlayEndsOnTheFrameAfterTheEndPositionWhichIsStillDrawn) {
    ASSERT_TRUE(Load("#00111:01\n"));
    const int32_t end = bms->Chart().EndPosition();
    const int flips = display.FlipCount();
    EXPECT_FALSE(Frame(end));
    EXPECT_TRUE(Frame(end + 1));
    EXPECT_EQ(display.FlipCount(), flips + 2);
    EXPECT_EQ(play::State().FrameNumber, 2);
}

TEST_F(StateTest, PlaybackOnlyTriggersAndHitsButDrawsNothing) {
    ASSERT_TRUE(Load("#00111:01\n#00204:01\n", Screen::Window, 2));
    EXPECT_FALSE(display.Initialized());
    EXPECT_EQ(play::State().BaseImage, -1);
    FrameWithSpace(130, true);
    EXPECT_FALSE(bms->Chart()[IndexOf(11, 128)].Pending);
    Frame(256);
    EXPECT_EQ(play::State().BaseImage, 1);
    EXPECT_EQ(play::State().TriggeredUpTo, 256);
    EXPECT_TRUE(Frame(bms->Chart().EndPosition() + 1));
    EXPECT_EQ(display.FlipCount(), 0);
}

TEST_F(StateTest, WhileTheDisplayIsNotReadyNothingTriggersThenEverythingDueAtOnce) {
    ASSERT_TRUE(Load("#00111:01\n#00204:01\n"));
    display.Finalize();
    EXPECT_FALSE(Frame(300));
    EXPECT_EQ(play::State().TriggeredUpTo, -9999);
    EXPECT_EQ(play::State().FrameNumber, 1);
    display.Initialize();
    Frame(300);
    EXPECT_EQ(play::State().TriggeredUpTo, 256);
    EXPECT_EQ(play::State().BaseImage, 1);
}

TEST_F(StateTest, AfterTheDisplayLosesItsPictureTheSheetStillDraws) {
    ASSERT_TRUE(Load("#00111:01\n"));
    display.SurfaceLost();
    EXPECT_FALSE(Frame(50));
    EXPECT_TRUE(CellAt(8, 110, ArrowCell(0, 2)));
    EXPECT_TRUE(CellAt(8, 32, ReceptorCell(0, false), std::nullopt));
}

TEST_F(StateTest, AFailureInsideTheFrameEndsPlayWithoutAFlip) {
    ASSERT_TRUE(Load("#00111:01\n"));
    settings.ShowParams = true;
    bms->MessageSurface->SetLost(true);  // the ticker's canvas refuses to draw
    const int flips = display.FlipCount();
    EXPECT_TRUE(Frame(0));
    EXPECT_EQ(display.FlipCount(), flips);
}

TEST_F(StateTest, SetupPicksTheModeFromTheSettingsAndPausesASecond) {
    struct Case {
        Screen screen;
        gui::PixelFormat format;
        bool fullScreen;
    };
    for (const Case& c : {Case{Screen::Window, gui::PixelFormat::XRGB8888, false},
                          Case{Screen::Full16, gui::PixelFormat::RGB565, true},
                          Case{Screen::Full8, gui::PixelFormat::Indexed8, true}}) {
        play::State().TriggeredUpTo = 5;
        play::State().FrameNumber = 9;
        play::DM->SpaceDown = true;
        const uint32_t before = gui::Clock::Now();
        ASSERT_TRUE(Load("#00111:01\n", c.screen));
        EXPECT_GE(gui::Clock::Now() - before, 1000u);
        EXPECT_EQ(Surface().Format(), c.format) << ScreenName(c.screen);
        EXPECT_EQ(display.Options().Contains(media::doFullScreen), c.fullScreen);
        EXPECT_EQ(Surface().Width(), 320);
        EXPECT_EQ(Surface().Height(), 240);
        EXPECT_EQ(Surface().TransparentColor(), Surface().DeviceColor(gui::clBlack));
        EXPECT_EQ(Sheet().Width(), 125);
        EXPECT_EQ(Sheet().Height(), 215);
        EXPECT_EQ(play::State().TriggeredUpTo, -9999);
        EXPECT_EQ(play::State().FrameNumber, 0);
        EXPECT_EQ(play::State().LastSoundObject, 0);
        EXPECT_EQ(play::State().BaseImage, -1);
        EXPECT_EQ(play::State().LayerImage, -1);
        EXPECT_FALSE(play::DM->SpaceDown);
        if (c.screen == Screen::Full8) {
            EXPECT_EQ(display.Display().BitCount(), 8);
            EXPECT_EQ(display.ColorTable(), play::DM->DXDIB1.DIB().ColorTable());
        }
    }
}

TEST_F(StateTest, AChartThatCannotBeLoadedReturnsFalseWithoutThePause) {
    bms = std::make_unique<engine::TBMS>(&display, &sound);
    const uint32_t before = gui::Clock::Now();
    EXPECT_FALSE(play::SetupAndLoad(app, display, *bms, (dir / "absent.bms").string(), settings));
    EXPECT_LT(gui::Clock::Now() - before, 1000u);
    EXPECT_TRUE(display.Initialized());
}

TEST_F(StateTest, PlaybackOnlySetupLeavesTheDisplayAloneButStillPauses) {
    const uint32_t before = gui::Clock::Now();
    ASSERT_TRUE(Load("#00111:01\n", Screen::Full8, 2));
    EXPECT_GE(gui::Clock::Now() - before, 1000u);
    EXPECT_FALSE(display.Initialized());
    EXPECT_FALSE(display.Options().Contains(media::doFullScreen));
    EXPECT_TRUE(play::BeforePlay(display, *bms));
    EXPECT_TRUE(play::AfterPlay());
}

}  // namespace
}  // namespace playtest
