// Loading a chart of 1,000 key sounds (0.5 s each, 44.1 kHz stereo), as WAV files and as Ogg
// Vorbis files, decoded on one thread and on all of them. The chart names its 255 slots four
// times over and has a few hundred notes; the sound component runs offline, so every sound is
// also made into its buffer as in play.
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/BMSEngine.h"
#include "gui/ThreadPool.h"
#include "media/DXDraws.h"
#include "media/DXSounds.h"

namespace {

constexpr int kSounds = 1000;
constexpr int kRate = 44100;

std::filesystem::path Folder() { return std::filesystem::temp_directory_path() / "glimstep-sound-load-bench"; }

std::string SoundName(int i, bool ogg) {
    char name[24];
    std::snprintf(name, sizeof name, "k%04d.%s", i, ogg ? "ogg" : "wav");
    return name;
}

// A different decaying tone in each file; files already there from an earlier run are kept.
void WriteSound(const std::filesystem::path& path, int i, bool ogg) {
    if (std::filesystem::exists(path)) return;
    constexpr int kFrames = kRate / 2;
    std::vector<float> samples(2 * kFrames);
    for (int k = 0; k < kFrames; ++k) {
        const double v = 0.5 * std::sin(2 * M_PI * (200 + i) * k / kRate) * (1.0 - static_cast<double>(k) / kFrames);
        samples[2 * k] = static_cast<float>(v);
        samples[2 * k + 1] = static_cast<float>(-v);
    }
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 2;
    info.format = ogg ? SF_FORMAT_OGG | SF_FORMAT_VORBIS : SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    const std::filesystem::path partial = path.string() + ".part";
    SNDFILE* file = sf_open(partial.c_str(), SFM_WRITE, &info);
    if (file == nullptr) return;
    sf_writef_float(file, samples.data(), kFrames);
    sf_close(file);
    std::filesystem::rename(partial, path);
}

std::filesystem::path WriteChart(bool ogg) {
    const std::filesystem::path dir = Folder();
    std::filesystem::create_directories(dir);
    const std::filesystem::path chart = dir / (ogg ? "ogg.bms" : "wav.bms");
    std::ofstream out(chart, std::ios::binary);
    out << "#TITLE sounds\r\n#BPM 150\r\n";
    for (int i = 0; i < kSounds; ++i) {
        WriteSound(dir / SoundName(i, ogg), i, ogg);
        char line[32];
        std::snprintf(line, sizeof line, "#WAV%02X ", 1 + i % 255);
        out << line << SoundName(i, ogg) << "\r\n";
    }
    for (int m = 0; m < 64; ++m) {
        char line[64];
        std::snprintf(line, sizeof line, "#%03d11:%02X%02X%02X%02X\r\n", m, 1 + m % 255, 2 + m % 250, 3 + m, 4 + m);
        out << line;
    }
    return chart;
}

// Arguments: format (0 WAV, 1 Ogg), threads (1, or 0 for one per hardware thread).
void BM_LoadSounds(benchmark::State& state) {
    const bool ogg = state.range(0) != 0;
    const std::filesystem::path chart = WriteChart(ogg);
    media::TDXDraw display(nullptr);
    media::TDXSound sound(nullptr);
    sound.SetOffline(true);
    sound.Initialize();
    engine::TBMS bms(&display, &sound);
    bms.BgaDisplayMode = 2;
    bms.Options.LoadThreads = static_cast<unsigned>(state.range(1));
    for (auto _ : state)
        if (!bms.LoadChart(chart.string(), 128)) state.SkipWithError("load failed");
    int loaded = 0;
    for (int32_t s : bms.Slots().SoundState) loaded += s >= 0;
    state.counters["soundSlots"] = loaded;
    state.counters["threads"] = state.range(1) > 0 ? static_cast<double>(state.range(1)) : gui::ThreadPool::MachineThreads();
}

}  // namespace

BENCHMARK(BM_LoadSounds)
    ->ArgNames({"ogg", "threads"})
    ->Args({0, 1})
    ->Args({0, 0})
    ->Args({1, 1})
    ->Args({1, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
