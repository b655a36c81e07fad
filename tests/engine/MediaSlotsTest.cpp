#include <cstdio>

#include "EngineFixture.h"

namespace enginetest {
namespace {

using MediaSlotsTest = EngineTest;

// Whether exactly the pixels inside `rect` of the picture in `slot` have the colour.
void ExpectPicture(engine::TBMS& bms, int slot, const gui::TRect& rect, gui::TColor color) {
    ASSERT_TRUE(bms.Slots().BgaLoaded[slot]);
    media::TDirectDrawSurface& image = *bms.Slots().BgaImages[slot];
    ASSERT_EQ(image.Width(), 320);
    ASSERT_EQ(image.Height(), 240);
    const uint32_t inside = image.DeviceColor(color);
    const uint32_t outside = image.DeviceColor(gui::clBlack);
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) {
            const bool in = x >= rect.Left && x < rect.Right && y >= rect.Top && y < rect.Bottom;
            ASSERT_EQ(image.Pixel(x, y), in ? inside : outside) << "slot " << slot << " at " << x << "," << y;
        }
}

TEST_F(MediaSlotsTest, PicturesAreFittedByTheFitMode) {
    display.Initialize();
    testsupport::WriteFile(dir / "pic" / "Small.BMP", Bmp(100, 80, 200, 0, 0));
    testsupport::WriteFile(dir / "square.bmp", Bmp(256, 256, 0, 200, 0));
    testsupport::WriteFile(dir / "wide.bmp", Bmp(100, 50, 0, 0, 200));
    const std::string chart = "#BMP01 PIC\\small.bmp\n#BMP02 square.bmp\n#BMP03 wide.bmp\n#00004:01\n";
    const gui::TColor red = gui::RGB(200, 0, 0), green = gui::RGB(0, 200, 0), blue = gui::RGB(0, 0, 200);

    bms.BgaFitMode = 0;  // width x1.25 centred, height x0.9375 from the top
    ASSERT_TRUE(Load(chart, 0));
    EXPECT_TRUE(bms.Slots().HasBga);
    ExpectPicture(bms, 1, gui::Rect(98, 0, 222, 75), red);
    ExpectPicture(bms, 2, gui::Rect(0, 0, 320, 240), green);

    bms.BgaFitMode = 1;  // actual size, centred, 8 rows up
    ASSERT_TRUE(Load(chart, 0));
    ExpectPicture(bms, 3, gui::Rect(110, 0, 210, 42), blue);

    bms.BgaFitMode = 2;  // x1.25 both ways, centred
    ASSERT_TRUE(Load(chart, 0));
    ExpectPicture(bms, 1, gui::Rect(98, 70, 222, 170), red);
    ExpectPicture(bms, 2, gui::Rect(0, 0, 320, 240), green);

    bms.BgaFitMode = 5;  // no such mode: the picture stays black
    ASSERT_TRUE(Load(chart, 0));
    ExpectPicture(bms, 1, gui::Rect(0, 0, 0, 0), red);
    EXPECT_FALSE(bms.Slots().BgaLoaded[4]);
}

TEST_F(MediaSlotsTest, PicturesAreReadOnlyWhenShown) {
    display.Initialize();
    testsupport::WriteFile(dir / "a.bmp", Bmp(4, 4, 1, 2, 3));
    ASSERT_TRUE(Load("#BMP01 a.bmp\n#00004:01\n", 1));
    EXPECT_FALSE(bms.Slots().HasBga);
    EXPECT_FALSE(bms.Slots().BgaLoaded[1]);
    EXPECT_EQ(bms.Chart().LastObject(), 1);
}

TEST_F(MediaSlotsTest, ABrokenPictureAbandonsOnlyItsLine) {
    display.Initialize();
    testsupport::WriteFile(dir / "bad.bmp", "BM not really");
    ASSERT_TRUE(Load("#BMP01 bad.bmp\n#BMP02 missing.bmp\n#00004:0102\n", 0));
    EXPECT_FALSE(bms.Slots().HasBga);
    EXPECT_FALSE(bms.Slots().BgaLoaded[1]);
    EXPECT_FALSE(bms.Slots().BgaLoaded[2]);
    EXPECT_EQ(bms.Chart().LastObject(), 2);
}

TEST_F(MediaSlotsTest, PicturesLoadingAnswerTheProgressHook) {
    display.Initialize();
    // A thousand pictures on as many lines, fewer than the reading counts between its own looks
    // at the hook: loading them takes many times the few milliseconds after which it is asked.
    testsupport::WriteFile(dir / "big.bmp", Bmp(512, 512, 1, 2, 3));
    std::string chart;
    for (int i = 0; i < 1000; ++i) {
        char line[24];
        std::snprintf(line, sizeof line, "#BMP%02X big.bmp\n", 1 + i % 255);
        chart += line;
    }
    bms.Options.OnProgress = [] { return false; };
    const engine::LoadResult result = LoadResultOf(chart, 0);
    EXPECT_TRUE(result.Abandoned);
    EXPECT_EQ(result.FailedStep, engine::LoadStep::Lines);
}

TEST_F(MediaSlotsTest, SoundsPlayAtTheChosenSpeedAndRestartWhenTriggeredAgain) {
    sound.SetOffline(true);
    sound.Initialize();
    testsupport::WriteFile(dir / "Kick.wav", Wav(22050, std::vector<int16_t>(22050, 1000)));
    testsupport::WriteFile(dir / "snare.wav", Wav(11025, std::vector<int16_t>(100, 1000)));
    bms.PlaySpeed = 150;
    ASSERT_TRUE(Load("#WAV01 kick.WAV\n#WAV02 snare.wav\n#00111:01\n"));
    EXPECT_EQ(bms.Slots().SoundState[1], 1);
    EXPECT_EQ(bms.Slots().Sounds[1]->Frequency(), 33075);
    // 11025 × 150 / 100 = 16537.5: truncated, not rounded.
    EXPECT_EQ(bms.Slots().Sounds[2]->Frequency(), 16537);
    bms.PlaySound(1);
    bms.PlaySound(1);
    ASSERT_EQ(bms.Slots().Sounds[1]->CopyCount(), 1);
    EXPECT_NE(bms.Slots().Sounds[1]->Copy(0)->Status() & media::DSBSTATUS_PLAYING, 0u);
}

TEST_F(MediaSlotsTest, ASlotDefinedAgainPlaysTheLaterFileAtItsOwnRate) {
    sound.SetOffline(true);
    sound.Initialize();
    testsupport::WriteFile(dir / "low.wav", Wav(22050, std::vector<int16_t>(100, 1000)));
    testsupport::WriteFile(dir / "high.wav", Wav(44100, std::vector<int16_t>(300, -2000)));
    bms.PlaySpeed = 150;
    ASSERT_TRUE(Load("#WAV04 low.wav\n#WAV04 high.wav\n#WAV05 high.wav\n#WAV05 low.wav\n#00111:0405\n"));
    EXPECT_EQ(bms.Slots().Sounds[4]->Frequency(), 66150);
    EXPECT_EQ(bms.Slots().Sounds[5]->Frequency(), 33075);
    bms.PlaySound(4);
    ASSERT_EQ(bms.Slots().Sounds[4]->CopyCount(), 1);
    const media::SampleData* played = bms.Slots().Sounds[4]->Copy(0)->Samples();
    ASSERT_NE(played, nullptr);
    EXPECT_EQ(played->sourceRate, 44100);
    ASSERT_EQ(played->Frames(), 300u);
    EXPECT_EQ(played->samples[0], -2000);

    // A later line whose file cannot be read silences the slot; a later line whose file is
    // missing leaves the earlier sound.
    testsupport::WriteFile(dir / "junk.wav", "no wave");
    ASSERT_TRUE(Load("#WAV04 low.wav\n#WAV04 junk.wav\n#WAV05 low.wav\n#WAV05 gone.wav\n#00111:0405\n"));
    EXPECT_EQ(bms.Slots().SoundState[4], -1);
    EXPECT_EQ(bms.Slots().SoundState[5], 1);
    EXPECT_EQ(bms.Slots().Sounds[5]->Frequency(), 33075);
}

TEST_F(MediaSlotsTest, ASoundThatCannotBeReadOrPlayedLeavesItsSlotSilentAndTheChartLoads) {
    sound.SetOffline(true);
    sound.Initialize();
    testsupport::WriteFile(dir / "ok.wav", Wav(44100, {1, 2, 3, 4}));
    testsupport::WriteFile(dir / "junk.wav", "this is no wave");
    testsupport::Bytes noData;
    noData.Text("RIFF").U32(28).Text("WAVE").Text("fmt ").U32(16).U16(1).U16(1).U32(8000).U32(16000).U16(2).U16(16);
    testsupport::WriteFile(dir / "nodata.wav", noData.Data());
    std::vector<uint8_t> cut = Wav(8000, {1, 2, 3, 4});
    cut.resize(46);  // ends inside its data chunk
    testsupport::WriteFile(dir / "short.wav", cut);
    ASSERT_TRUE(Load("#WAV01 ok.wav\n#WAV02 junk.wav\n#WAV03 nodata.wav\n#WAV04 short.wav\n#00111:01020304\n"));
    EXPECT_EQ(bms.Slots().SoundState[1], 1);
    EXPECT_EQ(bms.Slots().SoundState[2], -1);
    EXPECT_EQ(bms.Slots().SoundState[3], -1);
    // Our reader refuses a file that ends inside its data; libsndfile plays the sample that is there.
    EXPECT_EQ(bms.Slots().SoundState[4], 1);
    EXPECT_EQ(bms.Slots().Sounds[4]->Wave().Size(), 2u);
    for (int slot = 1; slot <= 4; ++slot) bms.PlaySound(slot);
    EXPECT_EQ(bms.Chart().LastObject(), 4);
}

TEST_F(MediaSlotsTest, WithoutASoundDeviceTheChartStillLoads) {
    testsupport::WriteFile(dir / "ok.wav", Wav(44100, {1, 2, 3, 4}));
    ASSERT_TRUE(Load("#WAV01 ok.wav\n#00111:01\n"));
    // The file was found, so the slot counts as loaded; it just cannot sound.
    EXPECT_EQ(bms.Slots().SoundState[1], 1);
    EXPECT_EQ(bms.Chart().LastObject(), 1);
    EXPECT_FALSE(sound.Initialized());
    EXPECT_NO_THROW(bms.PlaySound(1));
    EXPECT_EQ(bms.Slots().Sounds[1]->CopyCount(), 0);
    EXPECT_FALSE(bms.Slots().Sounds[1]->Buffer()->Created());
}

}  // namespace
}  // namespace enginetest
