// Loading a large chart: 20,000 key and background objects over 500 measures, with 100 tempo
// changes and 50 measure-length changes. Parse, sort, time-table build and the whole load are
// measured apart; the chart is written in measure order (as charts usually are) and grouped by
// channel (all measures of one channel, then the next), which leaves the sort more to do.
// The same chart with 1,000 small WAV files (its 255 slots named four times over, as long
// charts that reuse slots do) measures reading and decoding the sounds, alone and in the load.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/BMSEngine.h"
#include "engine/ObjectSort.h"
#include "media/DXDraws.h"
#include "media/DXSounds.h"

namespace {

constexpr int kMeasures = 500;
const int kChannels[] = {1, 11, 13, 15, 16};  // 8 objects each per measure: 40 per measure

// "#" and the measure number: the start of a channel line.
std::string MeasurePrefix(int m) {
    char text[8];
    std::snprintf(text, sizeof text, "#%03d", m);
    return text;
}

constexpr int kSoundFiles = 1000;

std::string SoundFileName(int i) {
    char name[16];
    std::snprintf(name, sizeof name, "w%04d.wav", i);
    return name;
}

std::vector<std::string> ChartLines(bool groupedByChannel, bool soundFiles = false) {
    std::vector<std::string> lines{"#TITLE bench", "#BPM 150"};
    for (int i = 1; i <= 255; ++i) {
        char line[32];
        std::snprintf(line, sizeof line, "#WAV%02X s%02X.wav", i, i);
        if (!soundFiles) lines.emplace_back(line);
    }
    for (int i = 0; soundFiles && i < kSoundFiles; ++i) {
        char line[32];
        std::snprintf(line, sizeof line, "#WAV%02X ", 1 + i % 255);
        lines.push_back(line + SoundFileName(i));
    }
    auto notes = [](int m, int channel) {
        std::string data;
        for (int slot = 0; slot < 16; ++slot) {
            char pair[3];
            std::snprintf(pair, sizeof pair, "%02X", slot % 2 == 0 ? 1 + (m * 7 + channel + slot) % 255 : 0);
            data += pair;
        }
        char channelText[3];
        std::snprintf(channelText, sizeof channelText, "%02d", channel);
        return MeasurePrefix(m) + channelText + ":" + data;
    };
    auto extras = [&lines](int m) {
        if (m % 5 == 0) {
            char tempo[3];
            std::snprintf(tempo, sizeof tempo, "%02X", 100 + m % 100);
            lines.push_back(MeasurePrefix(m) + "03:00" + tempo);
        }
        if (m % 10 == 3) lines.push_back(MeasurePrefix(m) + "02:" + (m % 20 == 3 ? "0.75" : "1.25"));
    };
    if (groupedByChannel) {
        for (int channel : kChannels)
            for (int m = 0; m < kMeasures; ++m) lines.push_back(notes(m, channel));
        for (int m = 0; m < kMeasures; ++m) extras(m);
    } else {
        for (int m = 0; m < kMeasures; ++m) {
            extras(m);
            for (int channel : kChannels) lines.push_back(notes(m, channel));
        }
    }
    return lines;
}

// A key sound of 0.2 s, 22.05 kHz mono 16-bit (converted to the output rate when decoded),
// a different one in each file.
std::vector<uint8_t> SmallWav(int i) {
    constexpr uint32_t kFrames = 4410;
    std::vector<uint8_t> b;
    auto u16 = [&b](uint32_t v) {
        b.push_back(static_cast<uint8_t>(v));
        b.push_back(static_cast<uint8_t>(v >> 8));
    };
    auto u32 = [&u16](uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    auto text = [&b](const char* t) { b.insert(b.end(), t, t + 4); };
    text("RIFF");
    u32(36 + kFrames * 2);
    text("WAVE");
    text("fmt ");
    u32(16);
    u16(1);
    u16(1);
    u32(22050);
    u32(44100);
    u16(2);
    u16(16);
    text("data");
    u32(kFrames * 2);
    for (uint32_t k = 0; k < kFrames; ++k)
        u16(static_cast<uint16_t>(static_cast<int16_t>(9000 * std::sin(0.01 * (i + 1) * k) * (1.0 - k / double(kFrames)))));
    return b;
}

// A folder holding the chart and, for the variant with sounds, its 1,000 WAV files.
std::filesystem::path WriteChart(bool groupedByChannel, bool soundFiles) {
    const auto dir = std::filesystem::temp_directory_path() / "glimstep-chart-bench";
    std::filesystem::create_directories(dir);
    std::ofstream out(dir / "bench.bms", std::ios::binary);
    for (const std::string& line : ChartLines(groupedByChannel, soundFiles)) out << line << "\r\n";
    for (int i = 0; soundFiles && i < kSoundFiles; ++i) {
        if (std::filesystem::exists(dir / SoundFileName(i))) continue;
        const auto bytes = SmallWav(i);
        std::ofstream(dir / SoundFileName(i), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    return dir / "bench.bms";
}

struct Engine {
    media::TDXDraw display{nullptr};
    media::TDXSound sound{nullptr};
    engine::TBMS bms{&display, &sound};

    // With `sounds` the sound component runs offline, so the chart's sounds are decoded as in play.
    explicit Engine(bool sounds = false) {
        bms.BgaDisplayMode = 2;
        if (sounds) {
            sound.SetOffline(true);
            sound.Initialize();
        }
    }

    void Parse(const std::vector<std::string>& lines) {
        bms.TicksPerMeasure = 128;
        bms.Bpm = 150;
        bms.LastObject = -1;
        bms.Objects.clear();
        for (const std::string& line : lines) bms.ParseLine(line);
    }
};

void Counters(benchmark::State& state, const engine::TBMS& bms) {
    state.counters["objects"] = bms.LastObject + 1;
    state.counters["tempoPoints"] = bms.TempoCount;
}

void BM_Parse(benchmark::State& state) {
    const auto lines = ChartLines(state.range(0) != 0);
    Engine e;
    for (auto _ : state) e.Parse(lines);
    state.counters["objects"] = e.bms.LastObject + 1;
}

template <void (*Sort)(std::span<engine::TChartObject>)>
void BM_Sort(benchmark::State& state) {
    Engine e;
    e.Parse(ChartLines(state.range(0) != 0));
    const std::vector<engine::TChartObject> parsed = e.bms.Objects;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<engine::TChartObject> table = parsed;
        state.ResumeTiming();
        Sort(table);
        benchmark::DoNotOptimize(table.data());
    }
    state.counters["objects"] = static_cast<double>(parsed.size());
}

void BM_Build(benchmark::State& state) {
    Engine e;
    e.Parse(ChartLines(state.range(0) != 0));
    const std::vector<engine::TChartObject> parsed = e.bms.Objects;
    const int32_t last = e.bms.LastObject;
    for (auto _ : state) {
        state.PauseTiming();
        e.bms.Objects = parsed;
        e.bms.LastObject = last;
        state.ResumeTiming();
        e.bms.BuildTimeTable();
    }
    Counters(state, e.bms);
}

void BM_LoadChart(benchmark::State& state) {
    const bool sounds = state.range(1) != 0;
    const std::filesystem::path file = WriteChart(state.range(0) != 0, sounds);
    Engine e(sounds);
    for (auto _ : state)
        if (!e.bms.LoadChart(file.string(), 128)) state.SkipWithError("load failed");
    Counters(state, e.bms);
    int loaded = 0;
    for (int32_t s : e.bms.SoundState) loaded += s >= 0;
    state.counters["soundSlots"] = loaded;
    std::filesystem::remove(file);
}

// Reading the 1,000 files and decoding each to the output rate.
void BM_ReadAndDecodeSounds(benchmark::State& state) {
    const std::filesystem::path dir = WriteChart(false, true).parent_path();
    std::vector<std::string> paths;
    for (int i = 0; i < kSoundFiles; ++i) paths.push_back((dir / SoundFileName(i)).string());
    for (auto _ : state) {
        for (const std::string& path : paths) {
            media::TWave wave;
            wave.LoadFromFile(path);
            auto data = media::DecodeWave(wave.FormatBlock(), wave.Data(), wave.Size(), 44100);
            benchmark::DoNotOptimize(data);
        }
    }
    state.counters["files"] = kSoundFiles;
}

}  // namespace

BENCHMARK(BM_Parse)->Arg(0)->Arg(1)->ArgName("grouped")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sort<engine::SortByPosition>)->Name("BM_Sort")->Arg(0)->Arg(1)->ArgName("grouped")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sort<engine::ExchangeSort>)->Name("BM_ExchangeSort")->Arg(0)->Arg(1)->ArgName("grouped")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Build)->Arg(0)->Arg(1)->ArgName("grouped")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadChart)->ArgNames({"grouped", "wavs"})->Args({0, 0})->Args({1, 0})->Args({0, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadAndDecodeSounds)->Unit(benchmark::kMillisecond);
