#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "gui/Application.h"
#include "gui/Clock.h"
#include "gui/Form.h"
#include "media/AudioDevice.h"
#include "media/DXSounds.h"
#include "media/MPlayer.h"
#include "support/TestFiles.h"

using namespace media;

namespace {

void SetPcmFormat(TDXSound& sound) {
    TWaveFormatEx f;
    MakePcmFormat(f, 44100, 16, 2);
    sound.Primary()->SetFormat(f);
}

}  // namespace

TEST(SoundOnAForm, ADeviceThreadPlaysTheMixWithASmallBuffer) {
    testsupport::ScopedEnv dummy("SDL_AUDIODRIVER", "dummy");
    gui::Application app;
    gui::Form form(app, "sound", 320, 240);
    TDXSound sound(&form);
    sound.SetOptions(soGlobalFocus | soStickyFocus | soExclusive);
    sound.OnInitialize = SetPcmFormat;
    sound.Loaded();
    ASSERT_TRUE(sound.Initialized());
    ASSERT_NE(sound.Device(), nullptr);
    EXPECT_LE(sound.Device()->BufferFrames(), AudioDevice::kMaxBufferFrames);
    EXPECT_EQ(sound.DSound()->CooperativeLevel, DSSCL_EXCLUSIVE);

    TDXWaveList list(&sound);
    TWaveCollectionItem& item = list.Items().Add();
    TWaveFormatEx f;
    MakePcmFormat(f, 44100, 16, 1);
    std::vector<int16_t> samples(2205, 1000);  // 50 ms
    item.Wave().SetFormat(f);
    item.Wave().SetData(samples.data(), samples.size() * 2);
    item.Restore();
    EXPECT_EQ(item.Buffer()->Caps() & (DSBCAPS_GLOBALFOCUS | DSBCAPS_STICKYFOCUS), DSBCAPS_GLOBALFOCUS);
    item.Play();
    EXPECT_EQ(item.Copy(0)->Status(), DSBSTATUS_PLAYING);
    // The device's thread runs the mixer on its own, so the sound ends without our help.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (item.Copy(0)->Status() != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(item.Copy(0)->Status(), 0u);
    EXPECT_GT(sound.Mixer().FramesRendered(), 2205u);
}

TEST(SoundOnAForm, WithoutAnyDeviceTheComponentStaysUninitialisedAndTheMidiKeepsTime) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "beat.mid", std::vector<uint8_t>{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0,
                                                                   'M', 'T', 'r', 'k', 0, 0, 0, 9, 0x00, 0x90, 60, 100,
                                                                   0x83, 0x60, 0x80, 60, 0});  // no end-of-track event
    gui::Application app;
    gui::Form form(app, "sound", 320, 240);
    TDXSound sound(&form);
    {
        testsupport::ScopedEnv none("SDL_AUDIODRIVER", "no-such-driver");
        sound.Loaded();
        EXPECT_THROW(sound.Initialize(), EDirectSoundError);
    }
    EXPECT_FALSE(sound.Initialized());
    EXPECT_EQ(sound.Device(), nullptr);

    TMediaPlayer player(&sound);
    player.FileName = (dir / "beat.mid").string();
    player.Open();
    EXPECT_EQ(player.Length(), 500);
    gui::Clock::UseManual(100);
    player.Play();
    gui::Clock::Advance(200);
    EXPECT_EQ(player.Mode(), mpPlaying);
    EXPECT_NEAR(player.Position(), 200, 1);
    gui::Clock::Advance(400);
    EXPECT_EQ(player.Mode(), mpStopped);
    gui::Clock::UseSystem();
}
