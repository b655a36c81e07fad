// Loading a large chart: 20,000 key and background objects over 500 measures, with 100 tempo
// changes and 50 measure-length changes. Parse, sort, time-table build and the whole load are
// measured apart; the chart is written in measure order (as charts usually are) and grouped by
// channel (all measures of one channel, then the next), which leaves the sort more to do.
#include <benchmark/benchmark.h>

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

std::string Measure(int m) {
    char text[8];
    std::snprintf(text, sizeof text, "%03d", m);
    return text;
}

std::vector<std::string> ChartLines(bool groupedByChannel) {
    std::vector<std::string> lines{"#TITLE bench", "#BPM 150"};
    for (int i = 1; i <= 255; ++i) {
        char line[32];
        std::snprintf(line, sizeof line, "#WAV%02X s%02X.wav", i, i);
        lines.emplace_back(line);
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
        return "#" + Measure(m) + channelText + ":" + data;
    };
    auto extras = [&lines](int m) {
        if (m % 5 == 0) {
            char tempo[3];
            std::snprintf(tempo, sizeof tempo, "%02X", 100 + m % 100);
            lines.push_back("#" + Measure(m) + "03:00" + tempo);
        }
        if (m % 10 == 3) lines.push_back("#" + Measure(m) + "02:" + (m % 20 == 3 ? "0.75" : "1.25"));
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

struct Engine {
    media::TDXDraw display{nullptr};
    media::TDXSound sound{nullptr};
    engine::TBMS bms{&display, &sound};

    Engine() { bms.BgaDisplayMode = 2; }

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
    const std::filesystem::path file = std::filesystem::temp_directory_path() / "glimstep-bench.bms";
    {
        std::ofstream out(file, std::ios::binary);
        for (const std::string& line : ChartLines(state.range(0) != 0)) out << line << "\r\n";
    }
    Engine e;
    for (auto _ : state)
        if (!e.bms.LoadChart(file.string(), 128)) state.SkipWithError("load failed");
    Counters(state, e.bms);
    std::filesystem::remove(file);
}

}  // namespace

BENCHMARK(BM_Parse)->Arg(0)->Arg(1)->ArgName("grouped")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sort<engine::SortByPosition>)->Name("BM_Sort")->Arg(0)->Arg(1)->ArgName("grouped")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sort<engine::ExchangeSort>)->Name("BM_ExchangeSort")->Arg(0)->Arg(1)->ArgName("grouped")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Build)->Arg(0)->Arg(1)->ArgName("grouped")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadChart)->Arg(0)->Arg(1)->ArgName("grouped")->Unit(benchmark::kMillisecond);
