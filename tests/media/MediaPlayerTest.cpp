#include "media/MPlayer.h"

#include <gtest/gtest.h>

#include <cmath>

#include "gui/Clock.h"
#include "media/DXSounds.h"
#include "media/MidiFile.h"
#include "support/TestFiles.h"

using namespace media;
using testsupport::Bytes;

namespace {

Bytes& Be32(Bytes& b, uint32_t v) { return b.U8(v >> 24).U8(v >> 16).U8(v >> 8).U8(v); }

// A format-0 file at 480 ticks per quarter note: `events` is the track body (delta-times and
// events); an end-of-track event is appended after `endDelta` ticks.
std::vector<uint8_t> Smf(const std::vector<uint8_t>& events, uint8_t endDelta = 0, uint16_t format = 0) {
    Bytes b;
    b.Text("MThd");
    Be32(b, 6).U8(0).U8(format).U8(0).U8(1).U8(480 >> 8).U8(480 & 0xFF);
    b.Text("MTrk");
    Be32(b, static_cast<uint32_t>(events.size() + 4));
    b.Append(events).U8(endDelta).U8(0xFF).U8(0x2F).U8(0);
    return b.Data();
}

// Middle C from 0 to 1 beat, silence to 2 beats (1000 ms at the default 120 beats per minute).
std::vector<uint8_t> OneNote() {
    return Smf({0x00, 0xC0, 0x00,                     // program 0
                0x00, 0x90, 60, 100,                  // note on
                0x83, 0x60, 0x80, 60, 0,              // 480 ticks later: note off
                0x83, 0x60, 0xB0, 7, 100});           // 480 ticks later: a controller, then the end
}

class MidiPlayback : public ::testing::Test {
protected:
    MidiPlayback() : sound(nullptr) {
        sound.SetOffline(true);
        sound.Initialize();
        testsupport::WriteFile(dir / "song.mid", OneNote());
    }

    std::vector<int16_t> Render(int frames) {
        std::vector<int16_t> out(static_cast<size_t>(frames) * 2);
        sound.Render(out.data(), frames);
        return out;
    }

    void OpenSong(TMediaPlayer& player, const char* name = "song.mid") {
        player.FileName = (dir / name).string();
        player.Open();
        player.SetTimeFormat(tfMilliseconds);
    }

    testsupport::TempDir dir;
    TDXSound sound;
};

}  // namespace

TEST(MidiFile, ReadsLengthThroughTempoChangesAndRunningStatus) {
    MidiFileInfo info;
    auto song = OneNote();
    ASSERT_EQ(ParseMidiFile(song.data(), song.size(), info), MidiFileProblem::None);
    EXPECT_EQ(info.lengthTicks, 960u);
    EXPECT_DOUBLE_EQ(info.lengthMs, 1000.0);

    // Twice as fast after the first beat; note-ons under running status.
    song = Smf({0x00, 0x90, 60, 100, 0x00, 62, 100,
                0x83, 0x60, 0xFF, 0x51, 0x03, 0x03, 0xD0, 0x90,  // tempo 250000 at tick 480
                0x83, 0x60, 0x80, 60, 0});
    ASSERT_EQ(ParseMidiFile(song.data(), song.size(), info), MidiFileProblem::None);
    EXPECT_DOUBLE_EQ(info.lengthMs, 750.0);
    // A start part-way: 480 ticks a beat, the first beat 500 ms, then twice as fast.
    for (const auto& [ms, tick] : {std::pair{-5.0, 0u}, std::pair{250.0, 240u}, std::pair{500.0, 480u},
                                   std::pair{625.0, 720u}, std::pair{800.0, 1056u}})
        EXPECT_EQ(info.TickAt(ms), tick) << ms;
}

TEST(MidiFile, RefusesWhatASequencerCouldNotPlay) {
    MidiFileInfo info;
    const std::string text = "#WAV01 kick.wav\r\n";
    EXPECT_EQ(ParseMidiFile(reinterpret_cast<const uint8_t*>(text.data()), text.size(), info), MidiFileProblem::NotMidi);
    auto song = OneNote();
    song.resize(song.size() - 6);  // the track chunk says more than there is
    EXPECT_EQ(ParseMidiFile(song.data(), song.size(), info), MidiFileProblem::Broken);
    song = Smf({0x00, 60, 100});  // running status with no status before it
    EXPECT_EQ(ParseMidiFile(song.data(), song.size(), info), MidiFileProblem::Broken);
    song = Smf({0x00, 0x90, 60, 100}, 0, 2);
    EXPECT_EQ(ParseMidiFile(song.data(), song.size(), info), MidiFileProblem::Unsupported);
}

TEST_F(MidiPlayback, PositionFollowsTheRenderedSamplesUntilTheEnd) {
    TMediaPlayer player(&sound);
    player.SetSoundFont("");
    EXPECT_EQ(player.Mode(), mpNotReady);
    OpenSong(player);
    EXPECT_TRUE(player.Opened());
    EXPECT_NE(player.DeviceID(), 0);
    EXPECT_EQ(player.Length(), 1000);
    EXPECT_EQ(player.Mode(), mpStopped);

    player.Play();
    EXPECT_EQ(player.Mode(), mpPlaying);
    EXPECT_EQ(player.Position(), 0);
    Render(22050);
    EXPECT_NEAR(player.Position(), 500, 2);
    Render(22050 + 4410);
    EXPECT_NE(player.Mode(), mpPlaying);
    EXPECT_EQ(player.Position(), 1000);

    // AutoRewind: the next Play starts again from the beginning.
    player.Play();
    EXPECT_EQ(player.Mode(), mpPlaying);
    Render(4410);
    EXPECT_NEAR(player.Position(), 100, 2);
}

TEST_F(MidiPlayback, ThePositionGoesOnThroughALossOfTheDeviceAndAfterIt) {
    TMediaPlayer player(&sound);
    player.SetSoundFont("");
    OpenSong(player);
    gui::Clock::UseManual(1000);
    player.Play();
    Render(8820);
    EXPECT_EQ(player.OutputStartFrame(), 0);
    sound.Finalize();  // the device goes: the clock takes over
    EXPECT_EQ(player.OutputStartFrame(), TMediaPlayer::kNoFrame);
    gui::Clock::Advance(100);
    EXPECT_NEAR(player.Position(), 300, 2);
    sound.Initialize();  // back on the mixer, where 200 ms of it have gone by already
    EXPECT_NEAR(player.Position(), 300, 2);
    Render(4410);
    EXPECT_NEAR(player.Position(), 400, 2);
    gui::Clock::UseSystem();
}

TEST_F(MidiPlayback, AtTwiceTheSpeedTheSequenceEndsInHalfTheTime) {
    TMediaPlayer player(&sound);
    player.SetSoundFont("");
    OpenSong(player);
    player.SetSpeed(2.0);
    player.SetSpeed(0);  // ignored
    EXPECT_EQ(player.Speed(), 2.0);
    player.Play();
    Render(11025);
    EXPECT_NEAR(player.Position(), 250, 2);  // milliseconds of playing, not of the sequence
    EXPECT_EQ(player.Mode(), mpPlaying);
    Render(11025 + 2205);
    EXPECT_NE(player.Mode(), mpPlaying);
    EXPECT_EQ(player.Position(), 500);
    EXPECT_EQ(player.Length(), 1000);
}

TEST_F(MidiPlayback, TheSpeedRaisesThePitchLikeTheKeySounds) {
    if (TMediaPlayer::FindSystemSoundFont().empty()) GTEST_SKIP() << "no General MIDI SoundFont installed";
    // A square-wave lead, whose upward zero crossings follow its pitch (a piano's do not).
    testsupport::WriteFile(dir / "lead.mid", Smf({0x00, 0xC0, 80, 0x00, 0x90, 60, 100, 0x83, 0x60, 0x80, 60, 0}));
    // The fundamental period in samples: the shortest lag whose autocorrelation comes within
    // a tenth of the best one (so that multiples of the period do not win).
    const auto period = [this](double speed) {
        TMediaPlayer player(&sound);
        OpenSong(player, "lead.mid");
        player.SetSpeed(speed);
        player.Play();
        const auto mix = Render(8820);
        std::vector<double> x;
        for (size_t i = 2000; i < 6410; ++i) x.push_back(mix[2 * i]);
        std::vector<double> r(600, 0.0);
        double best = 0;
        for (size_t lag = 40; lag < r.size(); ++lag) {
            for (size_t i = 0; i + lag < x.size(); ++i) r[lag] += x[i] * x[i + lag];
            best = std::max(best, r[lag]);
        }
        for (size_t lag = 40; lag < r.size(); ++lag)
            if (r[lag] >= 0.9 * best && r[lag] >= r[lag - 1] && r[lag] >= r[lag + 1]) return static_cast<double>(lag);
        return 0.0;
    };
    EXPECT_NEAR(period(1.0), 44100 / 261.63, 3);  // middle C
    EXPECT_NEAR(period(2.0), 44100 / 523.25, 2);  // an octave higher
}

TEST_F(MidiPlayback, ASecondFileReplacesTheFirst) {
    testsupport::WriteFile(dir / "long.mid", Smf({0x00, 0x90, 60, 100}, 0x7F));  // 127 ticks
    TMediaPlayer player(&sound);
    player.SetSoundFont("");
    OpenSong(player);
    const uint16_t first = player.DeviceID();
    OpenSong(player, "long.mid");
    EXPECT_NE(player.DeviceID(), first);
    EXPECT_EQ(player.Length(), static_cast<int>(127 * 500.0 / 480));
}

TEST_F(MidiPlayback, AFileThatIsNotMidiFailsToOpenAndPlayHasNoDevice) {
    testsupport::WriteFile(dir / "fake.mid", std::string("RIFF not a sequence"));
    TMediaPlayer player(&sound);
    player.FileName = (dir / "fake.mid").string();
    try {
        player.Open();
        FAIL();
    } catch (const EMCIDeviceError& e) {
        EXPECT_EQ(std::string(e.what()), TMediaPlayer::ErrorMessage(MCIERR_INVALID_FILE));
    }
    EXPECT_FALSE(player.Opened());
    EXPECT_EQ(player.DeviceID(), 0);
    EXPECT_NE(player.Mode(), mpPlaying);
    try {
        player.Play();
        FAIL();
    } catch (const EMCIDeviceError& e) {
        EXPECT_STREQ(e.what(), "MCI デバイスがありません");
    }
    player.FileName = (dir / "missing.mid").string();
    EXPECT_THROW(player.Open(), EMCIDeviceError);
    EXPECT_EQ(player.Error(), MCIERR_FILE_NOT_FOUND);
    player.FileName = (dir / "song.mid").string();
    player.DeviceType = dtWaveAudio;
    EXPECT_THROW(player.Open(), EMCIDeviceError);
    player.DeviceType = dtSequencer;
    player.AutoOpen = true;
    player.Loaded();
    EXPECT_TRUE(player.Opened());
}

TEST_F(MidiPlayback, WithoutASoundFontItPlaysSilentlyAndStillKeepsTime) {
    TMediaPlayer player(&sound);
    player.SetSoundFont("");
    OpenSong(player);
    EXPECT_FALSE(player.HasSoundFont());
    player.Play();
    const auto mix = Render(22050);
    EXPECT_TRUE(std::all_of(mix.begin(), mix.end(), [](int16_t v) { return v == 0; }));
    EXPECT_NEAR(player.Position(), 500, 2);
}

TEST_F(MidiPlayback, TheSystemSoundFontMakesTheNoteAudibleAtOnce) {
    const std::string soundFont = TMediaPlayer::FindSystemSoundFont();
    if (soundFont.empty()) GTEST_SKIP() << "no General MIDI SoundFont installed";
    TMediaPlayer player(&sound);
    OpenSong(player);
    ASSERT_TRUE(player.HasSoundFont());
    Render(1000);
    player.Play();
    const auto mix = Render(44100);
    int onset = -1;
    double energy = 0;
    for (size_t i = 0; i < mix.size() / 2; ++i) {
        if (onset < 0 && std::abs(mix[2 * i]) > 30) onset = static_cast<int>(i);
        energy += double(mix[2 * i]) * mix[2 * i];
    }
    EXPECT_GE(onset, 0);
    EXPECT_LT(onset, 441);  // within 10 ms
    const double rms = std::sqrt(energy / (mix.size() / 2));
    EXPECT_GT(rms, 300.0) << "the backing track is too quiet";
}

TEST_F(MidiPlayback, RenderedAheadInLongBlocksItSoundsAndKeepsTimeAsBefore) {
    const std::string soundFont = TMediaPlayer::FindSystemSoundFont();
    if (soundFont.empty()) GTEST_SKIP() << "no General MIDI SoundFont installed";
    std::vector<int16_t> blockByBlock, ahead;
    for (int synthBlock : {0, 2048}) {
        TMediaPlayer player(&sound);
        player.SetSynthBlock(synthBlock);
        OpenSong(player);
        player.Play();
        std::vector<int16_t>& heard = synthBlock == 0 ? blockByBlock : ahead;
        for (int i = 0; i < 10; ++i) {  // 735-frame mixes, as the renderer asks for at 60 frames a second
            const auto mix = Render(735);
            heard.insert(heard.end(), mix.begin(), mix.end());
        }
        EXPECT_NEAR(player.Position(), 166, 2) << synthBlock;
        Render(44100);
        EXPECT_EQ(player.Mode(), mpStopped) << synthBlock;
        EXPECT_EQ(player.Position(), 1000) << synthBlock;
    }
    // The same note from the same first sample, within what rounding inside the synthesiser may change.
    ASSERT_EQ(blockByBlock.size(), ahead.size());
    double difference = 0, energy = 0;
    for (size_t i = 0; i < ahead.size(); ++i) {
        difference += std::abs(double(ahead[i]) - blockByBlock[i]);
        energy += std::abs(double(blockByBlock[i]));
    }
    EXPECT_GT(energy, 0);
    EXPECT_LT(difference, energy * 0.05);
}

TEST(MidiPlaybackWithoutSound, IsTimedByTheClock) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "song.mid", OneNote());
    gui::Clock::UseManual(5000);
    {
        TMediaPlayer player(nullptr);
        player.FileName = (dir / "song.mid").string();
        player.Open();
        player.Play();
        EXPECT_EQ(player.Mode(), mpPlaying);
        gui::Clock::Advance(250);
        EXPECT_NEAR(player.Position(), 250, 1);
        gui::Clock::Advance(800);
        EXPECT_EQ(player.Mode(), mpStopped);
        EXPECT_EQ(player.Position(), 1000);
    }
    gui::Clock::UseSystem();
}
