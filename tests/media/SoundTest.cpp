#include "media/DXSounds.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <utility>

#include "media/AudioDevice.h"

using namespace media;

namespace {

// A wave of `frames` mono 16-bit samples, all `level` (a flat block makes onsets and lengths
// easy to measure in the mix).
void FillWave(TWave& wave, uint32_t rate, size_t frames, int16_t level = 10000) {
    TWaveFormatEx f;
    MakePcmFormat(f, rate, 16, 1);
    wave.SetFormat(f);
    std::vector<int16_t> samples(frames, level);
    wave.SetData(samples.data(), samples.size() * 2);
}

struct Span {
    int first = -1;  // first frame whose left channel is non-zero
    int last = -1;
};

Span Measure(const std::vector<int16_t>& mix) {
    Span s;
    for (size_t i = 0; i < mix.size() / 2; ++i) {
        if (mix[2 * i] != 0) {
            if (s.first < 0) s.first = static_cast<int>(i);
            s.last = static_cast<int>(i);
        }
    }
    return s;
}

class OfflineSound : public ::testing::Test {
protected:
    OfflineSound() : sound(nullptr), list(nullptr) {
        sound.SetOffline(true);
        sound.Initialize();
        list.SetDXSound(&sound);
    }

    std::vector<int16_t> Render(int frames) {
        std::vector<int16_t> out(static_cast<size_t>(frames) * 2);
        sound.Render(out.data(), frames);
        return out;
    }

    TWaveCollectionItem& Slot(uint32_t rate, size_t frames, int16_t level = 10000) {
        TWaveCollectionItem& item = list.Items().Add();
        FillWave(item.Wave(), rate, frames, level);
        item.Restore();
        return item;
    }

    TDXSound sound;
    TDXWaveList list;
};

}  // namespace

TEST_F(OfflineSound, PlaysASlotSampleExactAtItsOwnRate) {
    TWaveCollectionItem& item = list.Items().Add();
    TWaveFormatEx f;
    MakePcmFormat(f, 44100, 16, 1);
    item.Wave().SetFormat(f);
    const int16_t ramp[5] = {100, -200, 300, 32767, -32768};
    item.Wave().SetData(ramp, sizeof ramp);
    EXPECT_EQ(item.Buffer()->Frequency(), 44100);

    Render(100);
    item.Play();
    const auto mix = Render(8);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(mix[2 * i], ramp[i]) << i;
        EXPECT_EQ(mix[2 * i + 1], ramp[i]) << i;
    }
    EXPECT_EQ(mix[10], 0);
    EXPECT_EQ(item.Copy(0)->Status(), 0u);
}

TEST_F(OfflineSound, FrequencyScalesPitchAndLength) {
    // 4410 frames at 44100 Hz: 100 ms. At 66150 Hz it lasts 2940 frames.
    TWaveCollectionItem& item = Slot(44100, 4410);
    item.SetFrequency(item.Buffer()->Frequency() * 150 / 100);
    EXPECT_EQ(item.Buffer()->Frequency(), 66150);
    Render(1000);
    item.Play();
    Span s = Measure(Render(8000));
    EXPECT_EQ(s.first, 0);
    EXPECT_NEAR(s.last + 1, 2940, 1);

    // A 22050 Hz sound is converted to the output rate first; 150% of its rate is 1.5x too.
    TWaveCollectionItem& low = Slot(22050, 2205);
    EXPECT_EQ(low.Buffer()->Frequency(), 22050);
    low.SetFrequency(22050 * 150 / 100);
    Render(500);
    low.Play();
    s = Measure(Render(8000));
    EXPECT_EQ(s.first, 0);
    EXPECT_NEAR(s.last + 1, 2940, 8);
}

TEST_F(OfflineSound, PanAndVolumeSetTheChannelLevels) {
    TWaveCollectionItem& item = Slot(44100, 1000, 10000);
    item.SetPan(DSBPAN_LEFT);
    item.Play();
    auto mix = Render(10);
    EXPECT_EQ(mix[0], 10000);
    EXPECT_EQ(mix[1], 0);

    item.Stop();
    item.SetPan(DSBPAN_RIGHT);
    item.Play();
    mix = Render(10);
    EXPECT_EQ(mix[0], 0);
    EXPECT_EQ(mix[1], 10000);

    item.Stop();
    item.SetPan(-600);  // right 6 dB down
    item.SetVolume(-600);
    item.Play();
    mix = Render(10);
    EXPECT_NEAR(mix[0], 10000 * std::pow(10.0, -0.3), 1);
    EXPECT_NEAR(mix[1], 10000 * std::pow(10.0, -0.6), 1);
}

TEST_F(OfflineSound, SumsVoicesWithSaturation) {
    TWaveCollectionItem& a = Slot(44100, 100, 30000);
    TWaveCollectionItem& b = Slot(44100, 100, 30000);
    TWaveCollectionItem& c = Slot(44100, 100, -30000);
    a.Play();
    b.Play();
    auto mix = Render(4);
    EXPECT_EQ(mix[0], 32767);
    c.Play();
    c.Play();
    c.Play();
    mix = Render(4);
    EXPECT_EQ(mix[0], -30000);  // 30000 + 30000 - 3 x 30000
}

TEST_F(OfflineSound, StopThenPlayRestartsTheOneCopy) {
    TWaveCollectionItem& item = Slot(44100, 1000);
    item.Play();
    Render(300);
    item.Stop();
    item.Play();
    EXPECT_EQ(item.CopyCount(), 1);
    Span s = Measure(Render(2000));
    EXPECT_EQ(s.first, 0);
    EXPECT_EQ(s.last, 999);  // restarted from the beginning: the whole sound again

    // A finished copy is idle and is reused as well.
    item.Play();
    Render(2000);
    item.Play();
    EXPECT_EQ(item.CopyCount(), 1);
}

TEST_F(OfflineSound, OverlappingPlaysMakeCopiesUpToMaxPlayingCount) {
    TWaveCollectionItem& item = Slot(44100, 1000);
    item.Play();
    item.Play();
    item.Play();
    EXPECT_EQ(item.CopyCount(), 3);
    EXPECT_EQ(sound.Mixer().ActiveVoices(), 0);  // commands wait for the next render
    Render(1);
    EXPECT_EQ(sound.Mixer().ActiveVoices(), 3);

    item.SetMaxPlayingCount(2);
    EXPECT_EQ(item.CopyCount(), 0);
    item.Play();
    Render(500);
    TDirectSoundBuffer* oldest = item.Copy(0);
    item.Play();
    EXPECT_EQ(item.CopyCount(), 2);
    Render(100);
    item.Play();  // the third overlapping play takes the oldest copy and restarts it
    EXPECT_EQ(item.CopyCount(), 2);
    EXPECT_EQ(item.Copy(1), oldest);
    // Oldest restarted 0 frames ago, the other 100 frames ago: they end 100 frames apart.
    auto mix = Render(1200);
    Span s = Measure(mix);
    EXPECT_EQ(s.last, 999);
    EXPECT_EQ(mix[2 * 950], 10000);  // only one copy left sounding after frame 900
    EXPECT_EQ(mix[2 * 850], 20000);

    item.SetMaxPlayingCount(-5);
    EXPECT_EQ(item.MaxPlayingCount(), 0);
}

TEST_F(OfflineSound, LoopedSoundsPlayOnTheMainBufferUntilStopped) {
    TWaveCollectionItem& item = Slot(44100, 100);
    item.SetLooped(true);
    item.Play();
    Render(1000);
    EXPECT_EQ(item.Buffer()->Status(), DSBSTATUS_PLAYING | DSBSTATUS_LOOPING);
    EXPECT_EQ(item.CopyCount(), 0);
    item.Stop();
    EXPECT_EQ(item.Buffer()->Status(), 0u);
    EXPECT_EQ(Measure(Render(100)).first, -1);
}

TEST_F(OfflineSound, DecodesTheCommonSampleFormats) {
    struct Case {
        uint16_t tag, bits, channels;
        std::vector<uint8_t> frame;  // one frame
        int16_t left, right;
    };
    const float half = 0.5f;
    std::vector<uint8_t> floatFrame(4);
    std::memcpy(floatFrame.data(), &half, 4);
    const Case cases[] = {
        {1, 8, 1, {0xC0}, 64 * 256, 64 * 256},
        {1, 16, 2, {0x34, 0x12, 0xCC, 0xED}, 0x1234, -0x1234},
        {1, 24, 1, {0xFF, 0x00, 0x40}, 0x4000, 0x4000},
        {1, 32, 1, {0, 0, 0x00, 0xC0}, -0x4000, -0x4000},
        {3, 32, 1, floatFrame, 16384, 16384},
    };
    for (const Case& c : cases) {
        TWaveCollectionItem& item = list.Items().Add();
        TWaveFormatEx f;
        MakePcmFormat(f, 44100, c.bits, c.channels);
        f.wFormatTag = c.tag;
        item.Wave().SetFormat(f);
        item.Wave().SetData(c.frame.data(), c.frame.size());
        item.Restore();
        item.Play();
        const auto mix = Render(2);
        EXPECT_EQ(mix[0], c.left) << c.bits;
        EXPECT_EQ(mix[1], c.right) << c.bits;
    }
}

TEST_F(OfflineSound, SamplesReadyToPlayShareTheWavesBlockAndKeepWhatTheyHadWhenItChanges) {
    TWaveCollectionItem& item = Slot(44100, 100, 1000);
    const SampleData* samples = item.Buffer()->Samples();
    ASSERT_NE(samples, nullptr);
    EXPECT_TRUE(samples->samples.Shares(std::as_const(item.Wave()).Data()));
    const int16_t changed = 0x1234;
    std::memcpy(item.Wave().Data(), &changed, 2);
    EXPECT_FALSE(samples->samples.Shares(std::as_const(item.Wave()).Data()));
    item.Play();
    EXPECT_EQ(Render(2)[0], 1000);
    item.Restore();
    EXPECT_EQ(item.Buffer()->Samples()->samples[0], changed);
    EXPECT_TRUE(item.Buffer()->Samples()->samples.Shares(std::as_const(item.Wave()).Data()));

    // Samples that are converted (another rate, 8 bits) are the mixer's own.
    TWaveCollectionItem& slow = Slot(22050, 100, 1000);
    EXPECT_FALSE(slow.Buffer()->Samples()->samples.Shares(std::as_const(slow.Wave()).Data()));
    EXPECT_EQ(slow.Buffer()->Samples()->rate, 44100);
    TWaveCollectionItem& narrow = list.Items().Add();
    TWaveFormatEx f;
    MakePcmFormat(f, 44100, 8, 2);
    narrow.Wave().SetFormat(f);
    const uint8_t frame[2] = {0xC0, 0x40};
    narrow.Wave().SetData(frame, sizeof frame);
    EXPECT_FALSE(narrow.Buffer()->Samples()->samples.Shares(std::as_const(narrow.Wave()).Data()));
}

TEST_F(OfflineSound, AnUnplayableFormatLeavesTheSlotSilent) {
    TWaveCollectionItem& item = list.Items().Add();
    TWaveFormatEx f;
    MakePcmFormat(f, 22050, 4, 1);
    f.wFormatTag = 2;  // ADPCM
    item.Wave().SetFormat(f);
    std::vector<uint8_t> bytes(1000, 0x77);
    item.Wave().SetData(bytes.data(), bytes.size());
    EXPECT_NO_THROW(item.Restore());
    EXPECT_EQ(item.Buffer()->Frequency(), 22050);
    item.Play();
    EXPECT_EQ(Measure(Render(2000)).first, -1);
    EXPECT_EQ(item.Copy(0)->Status(), 0u);
}

TEST_F(OfflineSound, AnEmptyWaveCannotMakeABuffer) {
    TWaveCollectionItem& item = list.Items().Add();
    try {
        item.Restore();
        FAIL();
    } catch (const EDirectSoundBufferError& e) {
        EXPECT_STREQ(e.what(), "サウンドバッファ を作成できません");
    }
    EXPECT_THROW(item.Buffer(), EDirectSoundBufferError);
    EXPECT_THROW(item.Play(), EWaveCollectionError);
}

TEST_F(OfflineSound, FinalizingFreesBuffersAndReinitialisingRestoresThem) {
    TWaveCollectionItem& item = Slot(44100, 100);
    item.Play();
    Render(10);
    std::vector<TDXSoundNotify> steps;
    const int id = sound.AddListener([&](TDXSound&, TDXSoundNotify step) { steps.push_back(step); });
    sound.Finalize();
    EXPECT_FALSE(item.Initialized());
    EXPECT_EQ(sound.Mixer().ActiveVoices(), 0);
    sound.Initialize();
    EXPECT_TRUE(item.Buffer()->Created());
    EXPECT_EQ((std::vector<TDXSoundNotify>{TDXSoundNotify::Finalizing, TDXSoundNotify::Initializing,
                                           TDXSoundNotify::Initialized, TDXSoundNotify::Restore}),
              steps);
    sound.RemoveListener(id);
}

TEST(SoundComponent, WithoutADeviceNothingPlaysAndBuffersReadAsNotCreated) {
    TDXSound sound(nullptr);
    TDXWaveList list(&sound);
    TWaveCollectionItem& item = list.Items().Add();
    FillWave(item.Wave(), 44100, 100);
    try {
        (void)item.Buffer()->Frequency();
        FAIL();
    } catch (const EDirectSoundBufferError& e) {
        EXPECT_STREQ(e.what(), "IDirectSoundBuffer は作成されていません");
    }
    EXPECT_NO_THROW(item.Restore());
    EXPECT_NO_THROW(item.Play());
    EXPECT_NO_THROW(item.Stop());
    EXPECT_FALSE(item.Initialized());
    try {
        sound.Initialize();
        FAIL();
    } catch (const EDXSoundError& e) {
        EXPECT_STREQ(e.what(), "フォームが見つかりません");
    }
    EXPECT_FALSE(sound.Initialized());
    sound.Loaded();  // the automatic start swallows the failure
    EXPECT_FALSE(sound.Initialized());
}

TEST(SoundComponent, OnInitializeSetsThePrimaryFormat) {
    TDXSound sound(nullptr);
    sound.SetOffline(true);
    bool formatSet = false;
    sound.OnInitialize = [&](TDXSound& s) {
        TWaveFormatEx f;
        MakePcmFormat(f, 22050, 16, 2);
        formatSet = s.Primary()->SetFormat(f);
    };
    sound.Loaded();
    ASSERT_TRUE(sound.Initialized());
    EXPECT_TRUE(formatSet);
    EXPECT_EQ(sound.Mixer().Rate(), 22050);
    EXPECT_EQ(sound.Primary()->Frequency(), 22050);
    TWaveFormatEx bad;
    MakePcmFormat(bad, 44100, 12, 2);
    EXPECT_FALSE(sound.Primary()->SetFormat(bad));
    EXPECT_EQ(sound.Primary()->LastResult(), DSERR_BADFORMAT);
}

TEST(SoundDevice, OpensTheDummyDeviceWithASmallBuffer) {
    Mixer mixer;
    AudioDevice device;
    ASSERT_TRUE(device.Open(mixer, 44100)) << device.Error();
    EXPECT_LE(device.BufferFrames(), AudioDevice::kMaxBufferFrames);
    EXPECT_TRUE(mixer.DeviceDriven());
    device.Close();
    EXPECT_FALSE(mixer.DeviceDriven());
}

namespace {
int64_t fakeNowNs = 1'000'000'000;
int64_t FakeNow() { return fakeNowNs; }
}  // namespace

TEST(SoundMixer, UnderADevicePlaysStartOneBufferAfterTheCall) {
    // 100 frames of level 1000; a device buffer of 441 frames = 10 ms.
    SampleData data;
    data.rate = data.sourceRate = 44100;
    data.samples.assign(100, 1000);
    Mixer mixer;
    mixer.SetTimeSource(&FakeNow);
    mixer.SetDeviceDriven(true);
    const int voice = mixer.AllocateVoice();
    std::vector<int16_t> out(2 * 441);

    mixer.Render(out.data(), 441);       // callback at t
    fakeNowNs += 4'000'000;              // 4 ms later the sound is triggered
    mixer.Play(voice, &data, 1.0, {}, false);
    fakeNowNs += 6'000'000;              // next callback, 10 ms after the previous one
    mixer.Render(out.data(), 441);
    // Started one buffer (441 frames) after the call: 4 ms = 176 frames into this buffer.
    const Span s = Measure(out);
    EXPECT_EQ(s.first, 176);
    EXPECT_EQ(s.last, 275);

    // A call that waited longer than a buffer starts at once.
    mixer.Play(voice, &data, 1.0, {}, false);
    fakeNowNs += 30'000'000;
    mixer.Render(out.data(), 441);
    EXPECT_EQ(Measure(out).first, 0);
    mixer.FreeVoice(voice);
}

TEST_F(OfflineSound, TimedStartsLandOnTheirFrameHoweverTheMixIsCutIntoBlocks) {
    TWaveCollectionItem& item = Slot(44100, 100);
    Render(37);  // frame 37 is next
    item.PlayAt(1000);
    EXPECT_EQ(item.Copy(0)->Status(), DSBSTATUS_PLAYING);  // as the main thread sees it
    std::vector<int16_t> all;
    for (int size : {300, 1, 512, 700}) {
        const auto block = Render(size);
        all.insert(all.end(), block.begin(), block.end());
    }
    const Span s = Measure(all);
    EXPECT_EQ(s.first, 1000 - 37);
    EXPECT_EQ(s.last, 1000 - 37 + 99);

    // A frame already rendered starts at the beginning of the next block.
    item.PlayAt(10);
    EXPECT_EQ(Measure(Render(200)).first, 0);
}

TEST_F(OfflineSound, ATimedRestartLetsTheSoundingOneRunUpToThatFrame) {
    TWaveCollectionItem& item = Slot(44100, 1000, 1000);
    item.Play();
    Render(100);
    const uint64_t restart = sound.Mixer().FramesRendered() + 300;
    item.StopAt(restart);
    item.PlayAt(restart);
    item.StopAt(restart + 50);
    item.PlayAt(restart + 50);
    const auto mix = Render(2000);
    // The first play runs on without a gap until frame 400 of its 1000, then the copy starts
    // over twice; the last start plays all 1000 frames.
    EXPECT_EQ(item.CopyCount(), 1);
    const Span s = Measure(mix);
    EXPECT_EQ(s.first, 0);
    EXPECT_EQ(s.last, 300 + 50 + 999);
    for (int i = 0; i <= s.last; ++i) ASSERT_EQ(mix[2 * i], 1000) << i;

    // Restarts of many slots on one frame each keep their call order: every slot sounds.
    std::vector<TWaveCollectionItem*> slots;
    for (int i = 0; i < 12; ++i) slots.push_back(&Slot(44100, 100, 100));
    const uint64_t together = sound.Mixer().FramesRendered() + 10;
    for (TWaveCollectionItem* slot : slots) {
        slot->StopAt(together);
        slot->PlayAt(together);
    }
    EXPECT_EQ(Render(20)[2 * 15], 1200);
}

TEST_F(OfflineSound, AStartPartWayMatchesTheWholePlayFromThatFrameOn) {
    // Every frame of the wave differs, so that a position off by any fraction shows.
    TWaveCollectionItem& item = list.Items().Add();
    TWaveFormatEx f;
    MakePcmFormat(f, 44100, 16, 1);
    std::vector<int16_t> ramp(1000);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<int16_t>(static_cast<int>(i * 37 % 20000) - 10000);
    item.Wave().SetFormat(f);
    item.Wave().SetData(ramp.data(), ramp.size() * 2);
    item.Restore();
    constexpr int kLength = 2500;
    for (const int percent : {100, 150}) {
        for (const bool looped : {false, true}) {
            item.SetFrequency(44100 * percent / 100);
            item.SetLooped(looped);
            item.PlayAt(sound.Mixer().FramesRendered());
            const auto whole = Render(kLength);
            for (const uint64_t elapsed : {1, 333, 1500}) {
                item.Stop();
                Render(10);
                item.PlayAt(sound.Mixer().FramesRendered() + 7, elapsed);
                const auto late = Render(kLength - static_cast<int>(elapsed) + 7);
                for (int i = 0; i < 7; ++i) ASSERT_EQ(late[2 * i], 0);
                for (size_t i = 2 * elapsed; i < whole.size(); ++i)
                    ASSERT_EQ(late[i - 2 * elapsed + 14], whole[i]) << percent << "% " << looped << " " << elapsed;
            }
            item.Stop();
            Render(10);
        }
    }
}

TEST_F(OfflineSound, FreeingOrStoppingAVoiceDropsWhatWasScheduledForIt) {
    Mixer& mixer = sound.Mixer();
    SampleData data;
    data.rate = data.sourceRate = 44100;
    data.samples.assign(100, 1000);
    const int voice = mixer.AllocateVoice();
    mixer.PlayAt(50, voice, &data, 1.0, {}, false);
    mixer.Stop(voice);  // a stop for now overrides the schedule
    EXPECT_EQ(Measure(Render(400)).first, -1);

    mixer.PlayAt(500, voice, &data, 1.0, {}, false);
    Render(10);  // the command has reached the schedule
    mixer.FreeVoice(voice);
    EXPECT_EQ(Measure(Render(400)).first, -1);
    EXPECT_EQ(mixer.ActiveVoices(), 0);
}

TEST(SoundMixer, UnderADeviceThePlayingFrameMovesOnWithTheClockWithinTheLastCallback) {
    Mixer mixer;
    mixer.SetTimeSource(&FakeNow);
    EXPECT_FALSE(mixer.IsSongClock());
    mixer.SetOfflineClock(true);
    EXPECT_TRUE(mixer.IsSongClock());
    mixer.SetOfflineClock(false);
    mixer.SetDeviceDriven(true);
    EXPECT_TRUE(mixer.IsSongClock());
    std::vector<int16_t> out(2 * 441);
    mixer.Render(out.data(), 441);  // callback at t: frames 0-440
    EXPECT_EQ(mixer.DeviceBlockFrames(), 441);
    EXPECT_DOUBLE_EQ(mixer.PlayingFrame(), 0);
    fakeNowNs += 5'000'000;
    EXPECT_NEAR(mixer.PlayingFrame(), 220.5, 1e-6);
    // A late callback: the frame waits at the end of the last block, never runs past it.
    fakeNowNs += 20'000'000;
    EXPECT_DOUBLE_EQ(mixer.PlayingFrame(), 441);
    mixer.Render(out.data(), 441);
    EXPECT_DOUBLE_EQ(mixer.PlayingFrame(), 441);
    fakeNowNs += 1'000'000;
    EXPECT_NEAR(mixer.PlayingFrame(), 485.1, 1e-6);
    mixer.SetDeviceDriven(false);
    EXPECT_DOUBLE_EQ(mixer.PlayingFrame(), 882);
    EXPECT_EQ(mixer.DeviceBlockFrames(), 0);
}
