// Sounds in the formats charts ship them in, found under the names charts give them, decoded on
// several threads with the same outcome as one after the other.
#include <malloc.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>

#include "EngineFixture.h"
#include "engine/SoundLoader.h"
#include "engine/SoundPrefetch.h"
#include "media/SoundFile.h"
#include "support/SoundFiles.h"

namespace enginetest {
namespace {

using SoundLoadingTest = EngineTest;

constexpr int kOgg = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
constexpr int kFlac = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;

// Everything a load leaves that play or the tools can see.
struct LoadedState {
    std::array<int32_t, engine::kSlotCount> soundState{};
    std::array<std::string, engine::kSlotCount> files;
    std::array<int, engine::kSlotCount> frequency{};
    std::array<std::vector<uint8_t>, engine::kSlotCount> waves;
    std::vector<Triple> objects;
    std::vector<uint32_t> console;
    bool operator==(const LoadedState&) const = default;
};

// With `prefetch`, the sounds are decoded ahead as the player does while it comes up.
LoadedState LoadWith(const std::filesystem::path& chart, unsigned threads, bool device, bool prefetch = false) {
    media::TDXDraw display(nullptr);
    media::TDXSound sound(nullptr);
    if (device) {
        sound.SetOffline(true);
        sound.Initialize();
    }
    engine::TBMS bms(&display, &sound);
    bms.BgaDisplayMode = 2;
    bms.PlaySpeed = 75;
    bms.Options.LoadThreads = threads;
    if (prefetch) bms.Options.Prefetch = std::make_shared<engine::SoundPrefetch>(chart, threads);
    EXPECT_TRUE(bms.LoadChart(chart.string(), 128));
    LoadedState s;
    for (int i = 0; i < engine::kSlotCount; ++i) {
        s.soundState[i] = bms.Slots().SoundState[i];
        s.files[i] = bms.Slots().SoundFiles[i].filename().string();
        s.frequency[i] = bms.Slots().Sounds[i]->Frequency();
        media::TWave& wave = bms.Slots().Sounds[i]->Wave();
        s.waves[i] = wave.FormatBlock();
        s.waves[i].insert(s.waves[i].end(), wave.Data(), wave.Data() + wave.Size());
    }
    for (int32_t i = 0; i <= bms.Chart().LastObject(); ++i)
        s.objects.emplace_back(bms.Chart()[i].Kind, bms.Chart()[i].Position, bms.Chart()[i].Value);
    for (int y = 0; y < bms.ConsoleBitmap.Height(); ++y)
        for (int x = 0; x < bms.ConsoleBitmap.Width(); ++x) s.console.push_back(bms.ConsoleBitmap.Pixel(x, y));
    return s;
}

TEST_F(SoundLoadingTest, DecodingOnManyThreadsGivesExactlyWhatOneThreadGives) {
    // Sixty slots of every kind: sounds in several formats and rates, names that need the
    // fallback, missing and broken files, and slots defined again by a later line that loads,
    // fails or finds nothing; with title lines between them, which the console shows.
    std::string chart = "#BPM 130\n";
    for (int i = 1; i <= 60; ++i) {
        char slot[3];
        std::snprintf(slot, sizeof slot, "%02X", i);
        const std::string name = "s" + std::to_string(i);
        switch (i % 6) {
            case 0:
                testsupport::WriteSoundFile(dir / (name + ".ogg"), kOgg, 22050 + 1000 * i, 1 + i % 2,
                                            testsupport::Tone(22050 + 1000 * i, 1 + i % 2, 100 + 10 * i, 50 + i));
                chart += "#WAV" + std::string(slot) + " " + name + ".wav\n";
                break;
            case 1:
                testsupport::WriteFile(dir / (name + ".wav"), Wav(11025 * (1 + i % 4), std::vector<int16_t>(200 + i, 300)));
                chart += "#WAV" + std::string(slot) + " " + name + ".wav\n";
                break;
            case 2:
                testsupport::WriteSoundFile(dir / (name + ".flac"), kFlac, 44100, 2, testsupport::Tone(44100, 2, 300, 30 + i));
                chart += "#WAV" + std::string(slot) + " " + name + ".flac\n#TITLE after " + name + "\n";
                break;
            case 3:
                testsupport::WriteFile(dir / (name + ".wav"), "broken " + name);
                chart += "#WAV" + std::string(slot) + " " + name + ".wav\n";
                break;
            case 4:
                chart += "#WAV" + std::string(slot) + " missing" + name + ".wav\n";
                break;
            case 5:
                testsupport::WriteFile(dir / (name + ".wav"), Wav(8000, std::vector<int16_t>(50, -100)));
                testsupport::WriteSoundFile(dir / (name + "b.ogg"), kOgg, 48000, 2, testsupport::Tone(48000, 2, 500, 40));
                chart += "#WAV" + std::string(slot) + " " + name + ".wav\n";
                break;
        }
        chart += "#001" + std::string(i % 2 ? "11" : "13") + ":" + slot + "\n";
    }
    // Later definitions: a good one replaces, a broken one silences, a missing one leaves be.
    chart += "#WAV05 s11b.wav\n#WAV0B s5.wav\n#WAV11 s3.wav\n#WAV17 missing.wav\n#WAV06 s5b.ogg\n";
    testsupport::WriteFile(dir / "song.bms", chart);

    for (const bool device : {true, false}) {
        SCOPED_TRACE(device ? "with a sound device" : "without a sound device");
        const LoadedState one = LoadWith(dir / "song.bms", 1, device);
        const LoadedState many = LoadWith(dir / "song.bms", 4, device);
        EXPECT_TRUE(one == many);
        EXPECT_TRUE(one == LoadWith(dir / "song.bms", 2, device, true));
        for (int slot = 1; slot <= 60; ++slot) {
            EXPECT_EQ(one.soundState[slot], many.soundState[slot]) << slot;
            EXPECT_EQ(one.files[slot], many.files[slot]) << slot;
            EXPECT_EQ(one.frequency[slot], many.frequency[slot]) << slot;
            EXPECT_TRUE(one.waves[slot] == many.waves[slot]) << slot;
        }
        EXPECT_TRUE(one.console == many.console);
        // And what that is: the fallback found s6.ogg, s3 is silent, the later lines counted.
        EXPECT_EQ(one.files[6], "s5b.ogg");
        EXPECT_EQ(one.files[12], "s12.ogg");
        EXPECT_EQ(one.soundState[3], -1);
        EXPECT_EQ(one.soundState[4], -1);
        EXPECT_EQ(one.soundState[5], 1);
        EXPECT_EQ(one.files[5], "s11b.ogg");
        EXPECT_EQ(one.soundState[0x0B], 1);
        EXPECT_EQ(one.files[0x0B], "s5.wav");
        EXPECT_EQ(one.soundState[0x11], -1);
        EXPECT_EQ(one.files[0x17], "s23.wav");
        EXPECT_EQ(one.frequency[12], device ? (22050 + 12000) * 75 / 100 : 0);
        EXPECT_EQ(one.frequency[6], device ? 48000 * 75 / 100 : 0);
    }
}

TEST_F(SoundLoadingTest, ChartsNamingWavFilesPlayTheOggFlacOrMp3FilesBesideThem) {
    sound.SetOffline(true);
    sound.Initialize();
    testsupport::WriteSoundFile(dir / "Kick.OGG", kOgg, 44100, 2, testsupport::Tone(44100, 2, 200, 100));
    testsupport::WriteSoundFile(dir / "snare.flac", kFlac, 22050, 1, testsupport::Tone(22050, 1, 400, 100));
    testsupport::WriteSoundFile(dir / "hat.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 32000, 1,
                                testsupport::Tone(32000, 1, 800, 100));
    ASSERT_TRUE(Load("#WAV01 kick.wav\n#WAV02 snare.wav\n#WAV03 hat.wav\n#WAV04 hat.ogg\n#00111:01020304\n"));
    const int rates[] = {0, 44100, 22050, 32000, 32000};
    for (int slot = 1; slot <= 4; ++slot) {
        EXPECT_EQ(bms.Slots().SoundState[slot], 1) << slot;
        EXPECT_EQ(bms.Slots().Sounds[slot]->Frequency(), rates[slot]) << slot;
        bms.PlaySound(slot);
        ASSERT_EQ(bms.Slots().Sounds[slot]->CopyCount(), 1) << slot;
        EXPECT_GT(bms.Slots().Sounds[slot]->Copy(0)->Samples()->Frames(), 4000u) << slot;
    }
    EXPECT_EQ(bms.Slots().SoundFiles[1], dir / "Kick.OGG");
    EXPECT_EQ(bms.Slots().SoundFiles[4], dir / "hat.mp3");

    // With several beside it, the first in the order .wav, .ogg, .flac, .opus, .mp3 (the
    // content decides the format, so every candidate here is a WAV).
    const char* const order[] = {".wav", ".ogg", ".flac", ".opus", ".mp3"};
    std::string chart;
    for (size_t first = 0; first < 5; ++first) {
        for (size_t k = first; k < 5; ++k)
            testsupport::WriteFile(dir / ("o" + std::to_string(first) + order[k]), Wav(8000, {1, 2}));
        chart += "#WAV1" + std::to_string(first) + " o" + std::to_string(first) + ".wave\n";
    }
    ASSERT_TRUE(Load(chart));
    for (size_t first = 0; first < 5; ++first)
        EXPECT_EQ(bms.Slots().SoundFiles[0x10 + first].extension(), order[first]) << first;
}

// Decoded sounds come back in the order they were asked for, however the decodes end: the first
// is held until the thread that decoded the second has moved on to the third.
TEST(SoundLoader, HandsSoundsBackInTheOrderAskedWhateverOrderTheDecodesEndIn) {
    testsupport::TempDir dir;
    for (const char* name : {"first.wav", "second.wav", "third.wav"})
        testsupport::WriteFile(dir / name, Wav(8000, {1, 2}));
    std::mutex mutex;
    std::condition_variable changed;
    bool thirdStarted = false, released = false;
    const auto decode = [&](int slot, std::filesystem::path path, const std::function<void()>&, uint64_t) {
        std::unique_lock<std::mutex> lock(mutex);
        if (path.filename() == "first.wav") changed.wait(lock, [&] { return released; });
        if (path.filename() == "third.wav") {
            thirdStarted = true;
            changed.notify_all();
        }
        lock.unlock();
        return engine::DecodeSound(slot, std::move(path));
    };
    // Two threads: one holds the first sound, the other decodes the second and then the third.
    engine::SoundLoader loader(2, {}, decode);
    for (int slot = 1; slot <= 3; ++slot)
        loader.Add(slot, dir / (slot == 1 ? "first.wav" : slot == 2 ? "second.wav" : "third.wav"));
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return thirdStarted; });
    }
    // The second is decoded, the first is not: nothing comes back yet.
    EXPECT_FALSE(loader.Next(false).has_value());
    {
        std::lock_guard<std::mutex> lock(mutex);
        released = true;
    }
    changed.notify_all();
    std::vector<int> slots;
    while (std::optional<engine::DecodedSound> sound = loader.Next(true)) slots.push_back(sound->slot);
    EXPECT_EQ(slots, (std::vector<int>{1, 2, 3}));
}

TEST_F(SoundLoadingTest, SoundsPastTheChartsLimitAreRefusedAndARedefinedSlotFreesItsShare) {
    sound.SetOffline(true);
    sound.Initialize();
    testsupport::WriteFile(dir / "a.wav", Wav(44100, std::vector<int16_t>(1000, 1)));  // 2000 bytes
    testsupport::WriteFile(dir / "b.wav", Wav(44100, std::vector<int16_t>(1500, 2)));  // 3000 bytes
    bms.Options.MaxSoundBytes = 5000;
    ASSERT_TRUE(Load("#WAV01 a.wav\n#WAV02 b.wav\n#WAV03 a.wav\n#WAV02 a.wav\n#WAV04 a.wav\n#WAV05 a.wav\n"));
    EXPECT_EQ(bms.Slots().SoundState[1], 1);
    EXPECT_EQ(bms.Slots().SoundState[2], 1);   // 3000 bytes, then 2000 in place of them
    EXPECT_EQ(bms.Slots().SoundState[3], -1);  // 2000 + 3000 + 2000 would pass 5000
    EXPECT_EQ(bms.Slots().SoundState[4], -1);  // 2000 + 2000 + 2000
    EXPECT_EQ(bms.Slots().SoundState[5], -1);
    EXPECT_EQ(bms.Slots().Sounds[2]->Wave().Size(), 2000u);
    EXPECT_EQ(bms.Slots().Sounds[3]->Wave().Size(), 0u);
    EXPECT_TRUE(bms.Slots().SoundFiles[3].empty());

    // An empty file and one the mixer cannot play (8 channels) are not loaded, take nothing of
    // the limit, and their lines say why.
    testsupport::WriteFile(dir / "empty.wav", "");
    testsupport::Bytes eight;
    eight.Text("RIFF").U32(4036).Text("WAVE").Text("fmt ").U32(16).U16(1).U16(8).U32(8000).U32(128000).U16(16).U16(16);
    eight.Text("data").U32(4000);
    for (int i = 0; i < 2000; ++i) eight.U16(100);
    testsupport::WriteFile(dir / "eight.wav", eight.Data());
    const engine::LoadResult result = LoadResultOf("#WAV01 eight.wav\n#WAV02 empty.wav\n#WAV03 b.wav\n#WAV04 a.wav\n");
    ASSERT_TRUE(result.Loaded);
    EXPECT_EQ(bms.Slots().SoundState[1], -1);
    EXPECT_EQ(bms.Slots().SoundState[2], -1);
    EXPECT_EQ(bms.Slots().SoundState[3], 1);
    EXPECT_EQ(bms.Slots().SoundState[4], 1);
    EXPECT_EQ(bms.Slots().Sounds[1]->Wave().Size(), 0u);
    ASSERT_EQ(result.Dropped.size(), 2u);
    EXPECT_EQ(result.Dropped[0].Reason, "a sound that cannot be played (format 0x0001, 8 channels, 8000 Hz, 16 bits)");
    EXPECT_EQ(result.Dropped[1], (engine::DroppedLine{2, "the file holds no sound"}));

    // 1000 bytes of 8-bit sound at 100 Hz count as the mixer holds them: ten seconds of 16-bit
    // samples at its rate.
    testsupport::Bytes low;
    low.Text("RIFF").U32(1036).Text("WAVE").Text("fmt ").U32(16).U16(1).U16(1).U32(100).U32(100).U16(1).U16(8);
    low.Text("data").U32(1000).Zeros(1000);
    testsupport::WriteFile(dir / "low.wav", low.Data());
    bms.Options.MaxSoundBytes = 20 * sound.Mixer().Rate() - 1;
    ASSERT_TRUE(Load("#WAV01 low.wav\n#WAV02 a.wav\n"));
    EXPECT_EQ(bms.Slots().SoundState[1], -1);
    EXPECT_EQ(bms.Slots().SoundState[2], 1);
}

}  // namespace
}  // namespace enginetest

namespace enginetest {
namespace {

// The peak resident memory of this process since the last ResetPeakResident, in bytes (0 when
// the system does not say).
int64_t PeakResidentBytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::atoll(line.c_str() + 6) * 1024;
    return 0;
}

bool ResetPeakResident() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.close();
    return !clear.fail();
}

// Loads the chart with `threads` decoding and a budget of `maxBytes` in a child process, and
// gives back how far its resident memory rose above what it was before the load.
int64_t PeakGrowthOfLoad(const std::filesystem::path& chart, unsigned threads, int64_t maxBytes) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        // Large blocks are mapped and unmapped as they come and go, so that the peak shows the
        // memory in use rather than what the allocator keeps for later.
        mallopt(M_MMAP_THRESHOLD, 256 << 10);
        mallopt(M_TRIM_THRESHOLD, 256 << 10);
        media::TDXDraw display(nullptr);
        media::TDXSound sound(nullptr);
        engine::TBMS bms(&display, &sound);
        bms.BgaDisplayMode = 2;
        bms.Options.LoadThreads = threads;
        bms.Options.MaxSoundBytes = maxBytes;
        // A chart of one short sound first: what every load sets up once (fonts) is not measured.
        const std::filesystem::path folder = chart.parent_path();
        testsupport::WriteFile(folder / "short.wav", Wav(44100, std::vector<int16_t>(100, 1)));
        testsupport::WriteFile(folder / "short.bms", "#WAV01 short.wav\n#00111:01\n");
        bms.LoadChart((folder / "short.bms").string(), 128);
        const int64_t before = ResetPeakResident() ? PeakResidentBytes() : -1;
        const bool loaded = bms.LoadChart(chart.string(), 128).Loaded;
        int64_t growth = loaded && before > 0 ? PeakResidentBytes() - before : -1;
        // The budget took the first three sounds and refused the rest.
        for (int slot = 1; slot <= 6; ++slot)
            if (bms.Slots().SoundState[slot] != (slot <= 3 ? 1 : -1)) growth = -2;
        const ssize_t written = write(fds[1], &growth, sizeof growth);
        _exit(written == sizeof growth ? 0 : 1);
    }
    close(fds[1]);
    int64_t growth = -1;
    if (child < 0 || read(fds[0], &growth, sizeof growth) != sizeof growth) growth = -1;
    close(fds[0]);
    if (child > 0) waitpid(child, nullptr, 0);
    return growth;
}

TEST_F(SoundLoadingTest, MemoryStaysWithinTheBudgetAndOneFileWhateverTheThreadCount) {
    // Six sounds of 6 MB once decoded (WAV and FLAC, whose file is smaller), of which a budget of
    // 18 MB takes three. A refused sound is never decoded, and the decodes under way take no more
    // than the budget leaves; the file being read adds to it for the sound that fills it.
    constexpr int kFrames = 3 << 20;
    constexpr int64_t kSoundBytes = int64_t{kFrames} * 2;
    std::vector<int16_t> samples(static_cast<size_t>(kFrames));
    for (int i = 0; i < kFrames; ++i) samples[static_cast<size_t>(i)] = static_cast<int16_t>((int64_t{i} * 7919) % 20000 - 10000);
    std::vector<float> tone = testsupport::Tone(44100, 1, 440, static_cast<int>(int64_t{kFrames} * 1000 / 44100 + 1));
    tone.resize(static_cast<size_t>(kFrames));
    std::string chart;
    for (int slot = 1; slot <= 6; ++slot) {
        const std::string name = "s" + std::to_string(slot) + (slot % 2 == 1 ? ".wav" : ".flac");
        if (slot % 2 == 1)
            testsupport::WriteFile(dir / name, Wav(44100, samples));
        else
            testsupport::WriteSoundFile(dir / name, kFlac, 44100, 1, tone);
        chart += "#WAV0" + std::to_string(slot) + " " + name + "\n";
    }
    testsupport::WriteFile(dir / "song.bms", chart);
    // The compressed-sound module is loaded before the measures start.
    media::SoundShape shape;
    ASSERT_TRUE(media::ProbeSoundFile((dir / "s2.flac").string(), shape));
    EXPECT_EQ(shape.dataBytes, static_cast<uint64_t>(kSoundBytes));
    for (unsigned threads : {1u, 2u, 4u}) {
        const int64_t growth = PeakGrowthOfLoad(dir / "song.bms", threads, 3 * kSoundBytes);
        ASSERT_GE(growth, 0) << threads << " threads";
        EXPECT_LE(growth, 4 * kSoundBytes + (3 << 20)) << threads << " threads";
    }
}

}  // namespace
}  // namespace enginetest

namespace enginetest {
namespace {

TEST_F(SoundLoadingTest, FromAMeasureSoundsThatHaveEndedBeforeItAreNotDecoded) {
    // 120 BPM: a measure lasts 2 s, and measure 2 starts at 4 s.
    testsupport::WriteFile(dir / "short.wav", Wav(8000, std::vector<int16_t>(8000 * 3, 100)));   // 3 s
    testsupport::WriteFile(dir / "long.wav", Wav(8000, std::vector<int16_t>(8000 * 5, 100)));    // 5 s
    testsupport::WriteFile(dir / "later.wav", Wav(8000, std::vector<int16_t>(800, 100)));        // 0.1 s
    // A file that decoding would report (eight channels) says whether it was decoded.
    testsupport::Bytes eight;
    eight.Text("RIFF").U32(4036).Text("WAVE").Text("fmt ").U32(16).U16(1).U16(8).U32(8000).U32(128000).U16(16).U16(16);
    eight.Text("data").U32(4000).Zeros(4000);
    testsupport::WriteFile(dir / "eight.wav", eight.Data());
    const std::string chart =
        "#BPM 120\n#WAV01 short.wav\n#WAV02 long.wav\n#WAV03 later.wav\n#WAV04 eight.wav\n"
        // Slot 05 names the short sound, then the long one: the long one stays, and is heard.
        "#WAV05 short.wav\n#WAV05 long.wav\n#WAV06 long.wav\n#WAV06 short.wav\n"
        "#00001:0601020405\n#00301:03\n";
    for (int32_t measure : {0, 2}) {
        bms.Options.StartMeasure = measure;
        const engine::LoadResult result = LoadResultOf(chart);
        ASSERT_TRUE(result.Loaded) << measure;
        const bool fromStart = measure == 0;
        EXPECT_EQ(bms.Slots().SoundState[1], fromStart ? 1 : -1) << measure;  // ends at 3.4 s
        EXPECT_EQ(bms.Slots().SoundState[2], 1) << measure;                   // sounds on at 4 s
        EXPECT_EQ(bms.Slots().SoundState[3], 1) << measure;                   // after the start
        EXPECT_EQ(bms.Slots().SoundState[5], 1) << measure;
        EXPECT_EQ(bms.Slots().SoundState[6], fromStart ? 1 : -1) << measure;  // its short sound stays
        EXPECT_EQ(bms.Slots().Sounds[2]->Wave().Size(), 80000u);
        EXPECT_EQ(bms.Slots().Sounds[5]->Wave().Size(), 80000u);
        EXPECT_EQ(bms.Slots().Sounds[1]->Wave().Size(), fromStart ? 48000u : 0u);
        EXPECT_EQ(result.Dropped.size(), fromStart ? 1u : 0u) << measure;
    }
}

}  // namespace
}  // namespace enginetest
