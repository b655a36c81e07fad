// Loading a large chart: 20,000 key and background objects over 500 measures, with 100 tempo
// changes and 50 measure-length changes. Parse, sort, time-table build and the whole load are
// measured apart; the chart is written in measure order (as charts usually are) and grouped by
// channel (all measures of one channel, then the next), which leaves the sort more to do.
// The same chart with 1,000 small WAV files (its 255 slots named four times over, as long
// charts that reuse slots do) measures reading and decoding the sounds, alone and in the load.
//
// Big charts (BM_Big*): 20,000, 200,000 and 1,000,000 objects over 1,000 measures with 999
// measure-length changes and 10,000 tempo changes, written in measure order, channel by channel
// (16 or 64 channel lines a measure, the measure lengths and tempo changes first) or in random
// line order; and a look-alike of a real 7-key chart of 28,498 objects (53 measures, 2,180
// lines in blocks, most of them background sounds, 4,428 tempo changes, 23 measure lengths).
// Each phase of the load is timed apart (parse, sort, measure-length pass, tempo map) and
// whole; the literal procedures are timed where they finish within a minute.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "engine/BMSEngine.h"
#include "engine/FixedReader.h"
#include "engine/ObjectSort.h"
#include "engine/TimeTable.h"
#include "media/DXDraws.h"
#include "media/DXSounds.h"
#include "support/LiteralTimeTable.h"

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

};

// The objects of `lines` as the fixed dialect's reader adds them.
std::vector<engine::TChartObject> Parse(const std::vector<std::string>& lines) {
    engine::ReadingHost host;
    engine::TChartHeader header;
    engine::FixedReader reader(host, header, 128);
    for (const std::string& line : lines) reader.ParseLine(line);
    return reader.Objects();
}

void Counters(benchmark::State& state, const engine::Timeline& chart) {
    state.counters["objects"] = chart.Count();
    state.counters["tempoPoints"] = static_cast<double>(chart.TempoMap().size()) - 1;
}

void BM_Parse(benchmark::State& state) {
    const auto lines = ChartLines(state.range(0) != 0);
    std::vector<engine::TChartObject> objects;
    for (auto _ : state) objects = Parse(lines);
    state.counters["objects"] = static_cast<double>(objects.size());
}

void FastSort(std::span<engine::TChartObject> objects) { engine::SortByPosition(objects); }

template <void (*Sort)(std::span<engine::TChartObject>)>
void BM_Sort(benchmark::State& state) {
    const std::vector<engine::TChartObject> parsed = Parse(ChartLines(state.range(0) != 0));
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<engine::TChartObject> table = parsed;
        state.ResumeTiming();
        Sort(table);
        benchmark::DoNotOptimize(table.data());
    }
    state.counters["objects"] = static_cast<double>(parsed.size());
}

// Runs `phase` on a time table of a fresh copy of `table` in every iteration, timing only the
// phase; what it built is freed outside the timing.
// Returns the last timeline built.
template <typename Phase>
engine::Timeline TimePhase(benchmark::State& state, const std::vector<engine::TChartObject>& table, Phase phase) {
    std::optional<engine::FixedTimeTable> timeTable;
    engine::Timeline built;
    for (auto _ : state) {
        state.PauseTiming();
        timeTable.emplace(table, 150.0f, 128);
        built = engine::Timeline();
        state.ResumeTiming();
        phase(*timeTable, built);
    }
    state.counters["objects"] = static_cast<double>(table.size());
    return built;
}

void BM_Build(benchmark::State& state) {
    const engine::Timeline built =
        TimePhase(state, Parse(ChartLines(state.range(0) != 0)),
                  [](engine::FixedTimeTable& table, engine::Timeline& timeline) { timeline = table.Build(); });
    Counters(state, built);
}

void BM_LoadChart(benchmark::State& state) {
    const bool sounds = state.range(1) != 0;
    const std::filesystem::path file = WriteChart(state.range(0) != 0, sounds);
    Engine e(sounds);
    for (auto _ : state)
        if (!e.bms.LoadChart(file.string(), 128)) state.SkipWithError("load failed");
    Counters(state, e.bms.Chart());
    int loaded = 0;
    for (int32_t s : e.bms.Slots().SoundState) loaded += s >= 0;
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
            auto data = media::DecodeWave(wave, 44100);
            benchmark::DoNotOptimize(data);
        }
    }
    state.counters["files"] = kSoundFiles;
}


enum BigLayout { kMeasureOrder, kChannels16, kChannels64, kRandomLines, kRealLookAlike };

std::string Hex2(int value) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value);
    return text;
}

std::string ChannelLine(int m, int channel, const std::string& data) {
    char head[8];
    std::snprintf(head, sizeof head, "%02d:", channel);
    return MeasurePrefix(m) + head + data;
}

// `count` objects on a line of `slots` slots, spread evenly; values 01-FF.
std::string NoteData(int slots, int count, int seed) {
    std::string data(static_cast<size_t>(slots) * 2, '0');
    for (int k = 0; k < count; ++k) {
        const int slot = static_cast<int>(int64_t{k} * slots / count);
        const std::string value = Hex2(1 + (seed + 37 * k) % 255);
        data[2 * static_cast<size_t>(slot)] = value[0];
        data[2 * static_cast<size_t>(slot) + 1] = value[1];
    }
    return data;
}

// Key channels first, then background-sound lines (channel 01 may appear any number of times).
int StreamChannel(int stream) {
    static const int kKeys[] = {11, 12, 13, 14, 15, 16, 21, 22, 23, 24, 25, 26};
    return stream < 12 ? kKeys[stream] : 1;
}

std::vector<std::string> BigChartLines(int layout, int objects) {
    std::vector<std::string> lines{"#TITLE big", "#BPM 150"};
    for (int i = 1; i <= 255; ++i) lines.push_back("#WAV" + Hex2(i) + " s" + Hex2(i) + ".wav");
    std::vector<std::string> lengths, tempos;
    std::vector<std::vector<std::string>> streams;
    if (layout == kRealLookAlike) {
        constexpr int kMeasuresHere = 53;
        static const char* const kLengths[] = {"0.75", "1.5", "0.5", "1.25", "0.875"};
        for (int k = 0; k < 23; ++k) lengths.push_back(ChannelLine(2 + 2 * k, 2, kLengths[k % 5]));
        for (int m = 0; m < kMeasuresHere; ++m) {
            const int count = 4428 / kMeasuresHere + (m < 4428 % kMeasuresHere ? 1 : 0);
            std::string data = NoteData(128, count, m);
            for (size_t k = 0; k < data.size(); k += 2)
                if (data.substr(k, 2) != "00") data.replace(k, 2, Hex2(60 + (static_cast<int>(k) + m) % 180));
            tempos.push_back(ChannelLine(m, 3, data));
        }
        // 430 key lines and 1,674 background lines carry the remaining 24,047 objects.
        int left = 28498 - 4428 - 23;
        int linesLeft = 430 + 1674;
        for (int stream = 0; linesLeft > 0; ++stream) {
            streams.emplace_back();
            const int channel = stream < 8 ? StreamChannel(stream) : 1;
            for (int m = 0; m < kMeasuresHere && linesLeft > 0; ++m) {
                if (stream < 8 && static_cast<int>(streams.back().size()) >= 430 / 8 + (stream < 430 % 8 ? 1 : 0)) break;
                const int count = (left + linesLeft - 1) / linesLeft;
                streams.back().push_back(ChannelLine(m, channel, NoteData(16, count, stream + m)));
                left -= count;
                --linesLeft;
            }
        }
    } else {
        static const char* const kLengths[] = {"0.75", "1.25", "0.5", "1.5", "0.875", "2"};
        for (int m = 1; m < 1000; ++m) lengths.push_back(ChannelLine(m, 2, kLengths[m % 6]));
        for (int m = 0; m < 1000; ++m) {
            std::string data;
            for (int k = 0; k < 16; ++k) data += k < 10 ? Hex2(60 + (m * 10 + k) % 180) : "00";
            tempos.push_back(ChannelLine(m, 3, data));
        }
        const int channels = layout == kChannels64 ? 64 : 16;
        int left = std::max(0, objects - 999 - 10000);
        const int perLine = std::max(1, (left + channels * 1000 - 1) / (channels * 1000));
        for (int stream = 0; stream < channels; ++stream) {
            streams.emplace_back();
            for (int m = 0; m < 1000; ++m) {
                const int count = std::min(perLine, left);
                if (count <= 0) break;
                streams.back().push_back(ChannelLine(m, StreamChannel(stream), NoteData(64, count, stream + m)));
                left -= count;
            }
        }
    }
    if (layout == kMeasureOrder) {
        // Line by line: each measure's length, tempo changes and channels together.
        for (int m = 0; m < 1000; ++m) {
            if (m >= 1) lines.push_back(lengths[static_cast<size_t>(m - 1)]);
            lines.push_back(tempos[static_cast<size_t>(m)]);
            for (const auto& stream : streams)
                if (static_cast<size_t>(m) < stream.size()) lines.push_back(stream[static_cast<size_t>(m)]);
        }
        return lines;
    }
    const size_t header = lines.size();
    lines.insert(lines.end(), lengths.begin(), lengths.end());
    lines.insert(lines.end(), tempos.begin(), tempos.end());
    for (const auto& stream : streams) lines.insert(lines.end(), stream.begin(), stream.end());
    if (layout == kRandomLines) std::shuffle(lines.begin() + static_cast<std::ptrdiff_t>(header), lines.end(), std::mt19937(1));
    return lines;
}

std::filesystem::path WriteBigChart(int layout, int objects) {
    // A folder of its own: the sound files that the 20,000-object load writes have the names
    // that these charts give their slots, and would be decoded with them.
    const auto dir = std::filesystem::temp_directory_path() / "glimstep-big-chart-bench";
    std::filesystem::create_directories(dir);
    const auto file = dir / ("big-" + std::to_string(layout) + "-" + std::to_string(objects) + ".bms");
    if (!std::filesystem::exists(file)) {
        std::ofstream out(file, std::ios::binary);
        for (const std::string& line : BigChartLines(layout, objects)) out << line << "\r\n";
    }
    return file;
}

const std::vector<std::string>& CachedBigChart(int layout, int objects) {
    static std::vector<std::string> lines;
    static int64_t key = -1;
    if (key != int64_t{layout} * 100000000 + objects) {
        lines = BigChartLines(layout, objects);
        key = int64_t{layout} * 100000000 + objects;
    }
    return lines;
}

// The table as parsed, sorted, and with the measure lengths applied.
struct BigTables {
    std::vector<engine::TChartObject> parsed, sorted, measured;
};

const BigTables& CachedTables(int layout, int objects) {
    static BigTables tables;
    static int64_t key = -1;
    if (key != int64_t{layout} * 100000000 + objects) {
        tables.parsed = Parse(CachedBigChart(layout, objects));
        engine::FixedTimeTable timeTable(tables.parsed, 150.0f, 128);
        timeTable.SortObjects();
        tables.sorted = timeTable.Objects();
        timeTable.ApplyMeasureLengths();
        tables.measured = timeTable.Objects();
        key = int64_t{layout} * 100000000 + objects;
    }
    return tables;
}

// The same for the literal procedures, on a fresh copy of the table.
template <typename Phase>
void TimeLiteralPhase(benchmark::State& state, const std::vector<engine::TChartObject>& table, Phase phase) {
    std::vector<engine::TChartObject> objects;
    for (auto _ : state) {
        state.PauseTiming();
        objects = table;
        state.ResumeTiming();
        phase(objects);
    }
    state.counters["objects"] = static_cast<double>(table.size());
}

void BM_BigParse(benchmark::State& state) {
    const auto& lines = CachedBigChart(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    std::vector<engine::TChartObject> objects;
    for (auto _ : state) objects = Parse(lines);
    state.counters["objects"] = static_cast<double>(objects.size());
}

void BM_BigSort(benchmark::State& state) {
    TimePhase(state, CachedTables(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))).parsed,
              [](engine::FixedTimeTable& table, engine::Timeline&) { table.SortObjects(); });
}

void BM_BigPass(benchmark::State& state) {
    TimePhase(state, CachedTables(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))).sorted,
              [](engine::FixedTimeTable& table, engine::Timeline&) { table.ApplyMeasureLengths(); });
}

void BM_BigTempoMap(benchmark::State& state) {
    TimePhase(state, CachedTables(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))).measured,
              [](engine::FixedTimeTable& table, engine::Timeline& built) { built = table.BuildTempoMap(); });
}

void BM_LiteralSort(benchmark::State& state) {
    TimeLiteralPhase(state, CachedTables(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))).parsed,
                     [](std::vector<engine::TChartObject>& objects) { testsupport::LiteralExchangeSort(objects); });
}

void BM_LiteralPass(benchmark::State& state) {
    TimeLiteralPhase(state, CachedTables(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))).sorted,
                     [](std::vector<engine::TChartObject>& objects) { testsupport::LiteralMeasureLengths(objects, 128); });
}

// The whole LoadChart from the file, with the hook that the player sets (it pumps no events
// here) when `hook` is 1; and the peak memory of the process.
void BM_BigLoad(benchmark::State& state) {
    const std::filesystem::path file = WriteBigChart(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    Engine e;
    int64_t calls = 0;
    if (state.range(2) != 0) e.bms.Options.OnProgress = [&calls] { return ++calls > 0; };
    for (auto _ : state)
        if (!e.bms.LoadChart(file.string(), 128)) state.SkipWithError("load failed");
    Counters(state, e.bms.Chart());
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peakMB"] = static_cast<double>(usage.ru_maxrss) / 1024;
    state.counters["hookCalls"] = static_cast<double>(calls);
}

void BigArgs(benchmark::internal::Benchmark* b) {
    b->ArgNames({"layout", "objects"});
    for (int objects : {20000, 200000, 1000000})
        for (int layout : {kMeasureOrder, kChannels16, kChannels64, kRandomLines}) b->Args({layout, objects});
    b->Args({kRealLookAlike, 28498});
    b->Unit(benchmark::kMillisecond);
}

void LiteralArgs(benchmark::internal::Benchmark* b) {
    b->ArgNames({"layout", "objects"});
    for (int layout : {kMeasureOrder, kChannels16, kChannels64, kRandomLines}) b->Args({layout, 20000});
    b->Args({kRealLookAlike, 28498});
    b->Unit(benchmark::kMillisecond)->Iterations(1);
}

void LoadArgs(benchmark::internal::Benchmark* b) {
    b->ArgNames({"layout", "objects", "hook"});
    for (int objects : {20000, 200000, 1000000})
        for (int layout : {kMeasureOrder, kChannels16, kChannels64, kRandomLines})
            for (int hook : {0, 1}) b->Args({layout, objects, hook});
    for (int hook : {0, 1}) b->Args({kRealLookAlike, 28498, hook});
    b->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_Parse)->Arg(0)->Arg(1)->ArgName("grouped")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sort<FastSort>)->Name("BM_Sort")->Arg(0)->Arg(1)->ArgName("grouped")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sort<testsupport::LiteralExchangeSort>)->Name("BM_ExchangeSort")->Arg(0)->Arg(1)->ArgName("grouped")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Build)->Arg(0)->Arg(1)->ArgName("grouped")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadChart)->ArgNames({"grouped", "wavs"})->Args({0, 0})->Args({1, 0})->Args({0, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadAndDecodeSounds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BigParse)->Apply(BigArgs);
BENCHMARK(BM_BigSort)->Apply(BigArgs);
BENCHMARK(BM_BigPass)->Apply(BigArgs);
BENCHMARK(BM_BigTempoMap)->Apply(BigArgs);
BENCHMARK(BM_BigLoad)->Apply(LoadArgs);
BENCHMARK(BM_LiteralSort)->Apply(LiteralArgs);
BENCHMARK(BM_LiteralPass)->Apply(BigArgs)->Iterations(1);
