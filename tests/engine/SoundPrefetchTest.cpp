// Sounds decoded ahead of a load: taken by the load in place of its own decodes, with the slot it
// asks for; what it decodes itself is never decoded twice; stopping ends a decode under way.
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>

#include "EngineFixture.h"
#include "engine/SoundPrefetch.h"

namespace enginetest {
namespace {

TEST(SoundLinesOfChart, TakesTheNamesOfWavLinesAsTheReadingsDo) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "a.bms",
                           "\xEF\xBB\xBF#wav01 kick.wav\r\n#BMP01 back.bmp\n#WAV02 two words.ogg\r#WAV03\n"
                           "#WAVZZ last.wav\x1A#WAV04 after.wav\n");
    EXPECT_EQ(engine::SoundLinesOfChart(dir / "a.bms"),
              (std::vector<std::string>{"kick.wav", "two words.ogg", "last.wav"}));
    EXPECT_TRUE(engine::SoundLinesOfChart(dir / "missing.bms").empty());
}

class PrefetchTest : public EngineTest {
protected:
    // Decodes as a load does and counts the decodes of each file.
    engine::SoundLoader::Decoder Counting() {
        return [this](int slot, std::filesystem::path path, const std::function<void()>& checkpoint, uint64_t reserved) {
            engine::DecodedSound sound = engine::DecodeSound(slot, path, checkpoint, reserved);
            std::lock_guard<std::mutex> lock(mutex);
            ++decodes[path.filename().string()];
            changed.notify_all();
            return sound;
        };
    }
    void WaitForDecodes(int count) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] {
            int total = 0;
            for (const auto& [name, n] : decodes) total += n;
            return total >= count;
        });
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::map<std::string, int> decodes;
};

TEST_F(PrefetchTest, TheLoadTakesTheSoundsDecodedAheadIntoTheSlotsItReadsThemFor) {
    testsupport::WriteFile(dir / "a.wav", Wav(8000, {100, 100}));
    testsupport::WriteFile(dir / "b.wav", Wav(8000, {200, 200, 200}));
    const std::string chart = "#WAV01 a.wav\n#WAV02 b.wav\n#WAV03 a.wav\n";
    testsupport::WriteFile(dir / "song.bms", chart);
    auto prefetch = std::make_shared<engine::SoundPrefetch>(dir / "song.bms", 2, Counting());
    WaitForDecodes(3);
    // Rewritten after the decodes ahead: what the load holds is what was decoded then.
    testsupport::WriteFile(dir / "a.wav", Wav(8000, {-5}));
    testsupport::WriteFile(dir / "b.wav", Wav(8000, {-5}));
    bms.Options.Prefetch = prefetch;
    prefetch.reset();
    ASSERT_TRUE(Load(chart));
    EXPECT_EQ(bms.Options.Prefetch, nullptr);
    for (const auto& [slot, bytes] : {std::pair{1, 4}, std::pair{2, 6}, std::pair{3, 4}}) {
        EXPECT_EQ(bms.Slots().SoundState[slot], 1) << slot;
        EXPECT_EQ(bms.Slots().Sounds[slot]->Wave().Size(), static_cast<size_t>(bytes)) << slot;
    }
    EXPECT_EQ(decodes, (std::map<std::string, int>{{"a.wav", 2}, {"b.wav", 1}}));
}

TEST_F(PrefetchTest, ASoundLargerThanWhatItMayHoldIsLeftToTheLoadUnread) {
    // 300 MB of silence by its header (a sparse file): more than the prefetch may hold at once.
    std::vector<uint8_t> big = Wav(44100, {0});
    const size_t data = std::string(big.begin(), big.end()).find("data");
    ASSERT_NE(data, std::string::npos);
    const uint32_t dataBytes = 300u << 20;
    const uint32_t riffBytes = static_cast<uint32_t>(data + 8 + dataBytes - 8);
    for (int i = 0; i < 4; ++i) {
        big[4 + i] = static_cast<uint8_t>(riffBytes >> (8 * i));
        big[data + 4 + i] = static_cast<uint8_t>(dataBytes >> (8 * i));
    }
    testsupport::WriteFile(dir / "big.wav", big);
    std::filesystem::resize_file(dir / "big.wav", data + 8 + dataBytes);
    testsupport::WriteFile(dir / "small.wav", Wav(8000, {1}));
    testsupport::WriteFile(dir / "song.bms", "#WAV01 big.wav\n#WAV02 small.wav\n");
    engine::SoundPrefetch prefetch(dir / "song.bms", 1, Counting());
    WaitForDecodes(1);
    EXPECT_EQ(decodes, (std::map<std::string, int>{{"small.wav", 1}}));
    EXPECT_FALSE(prefetch.Take(1, dir / "big.wav").has_value());
}

TEST_F(PrefetchTest, ASoundNotBegunIsLeftToTheCallerAndADecodeUnderWayStopsWithThePrefetch) {
    testsupport::WriteFile(dir / "a.wav", Wav(8000, {1}));
    testsupport::WriteFile(dir / "b.wav", Wav(8000, {2}));
    testsupport::WriteFile(dir / "song.bms", "#WAV01 a.wav\n#WAV02 b.wav\n");
    std::atomic<bool> started{false}, stopped{false};
    // One thread, held in the first decode until the prefetch stops.
    const auto holding = [&](int slot, std::filesystem::path path, const std::function<void()>& checkpoint, uint64_t) {
        started = true;
        started.notify_all();
        try {
            for (;;) checkpoint();
        } catch (...) {
            stopped = true;
            throw;
        }
        return engine::DecodeSound(slot, path);
    };
    {
        engine::SoundPrefetch prefetch(dir / "song.bms", 1, holding);
        started.wait(false);
        EXPECT_FALSE(prefetch.Take(2, dir / "b.wav").has_value());
        EXPECT_FALSE(prefetch.Take(2, dir / "b.wav").has_value());
        EXPECT_FALSE(prefetch.Take(1, dir / "other.wav").has_value());
    }
    EXPECT_TRUE(stopped);

    // A decode taken while under way comes with the slot asked for.
    engine::SoundPrefetch prefetch(dir / "song.bms", 1, Counting());
    WaitForDecodes(1);
    std::optional<std::future<engine::DecodedSound>> taken = prefetch.Take(7, dir / "a.wav");
    ASSERT_TRUE(taken.has_value());
    const engine::DecodedSound sound = taken->get();
    EXPECT_EQ(sound.slot, 7);
    EXPECT_EQ(sound.wave.Size(), 2u);
}

}  // namespace
}  // namespace enginetest
