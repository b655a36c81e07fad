// One play frame on a dense chart: eight lanes of sixteenth notes (#PLAYER 3), so that about 270
// arrows are on the screen at once, with Hidden on (the fading arrows use the software blend),
// for each pixel format of the back surface. A variant adds the Show Params line.
// BM_PlayFrameChart compares a frame of the demo chart with one of a chart of 1,000,000 objects
// (written channel by channel, nearly all of them background sounds), in a window.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "engine/BMSEngine.h"
#include "gui/Application.h"
#include "gui/Clock.h"
#include "media/DXDraws.h"
#include "media/DXSounds.h"
#include "play/DM.h"
#include "play/TapoModule.h"

namespace {

constexpr int kMeasures = 60;
constexpr int kLanes[] = {11, 13, 15, 16, 21, 23, 25, 26};

std::filesystem::path WriteChart() {
    const auto dir = std::filesystem::temp_directory_path() / "glimstep-playframe-bench";
    std::filesystem::create_directories(dir);
    std::ofstream out(dir / "dense.bms", std::ios::binary);
    out << "#PLAYER 3\n#BPM 1875\n";
    for (int m = 0; m < kMeasures; ++m)
        for (int lane : kLanes) {
            char line[64];
            std::snprintf(line, sizeof line, "#%03d%02d:01010101010101010101010101010101\n", m, lane);
            out << line;
        }
    return dir / "dense.bms";
}

// Frames of the chart in `file` at every position from `first` to `last`, over and over;
// wrapping back starts the object pass afresh. 0 = window (XRGB8888), 1 = full screen 65536
// colours, 2 = full screen 256 colours.
void RunFrames(benchmark::State& st, const std::filesystem::path& file, int screen, bool showParams, int32_t first,
               int32_t lastMeasure) {
    gui::Clock::UseManual(100000);
    play::CreateDM();
    gui::Application app;
    play::PlaySettings settings;
    settings.ColorMode = screen == 2 ? 0 : 1;
    settings.DisplayMode = screen == 0 ? 1 : 0;
    settings.ShowParams = showParams;
    settings.Hidden = true;

    media::TDXDraw display(nullptr);
    media::TDXSound sound(nullptr);
    engine::TBMS bms(&display, &sound);
    if (!play::SetupAndLoad(app, display, bms, file.string(), settings)) {
        st.SkipWithError("chart not loaded");
        gui::Clock::UseSystem();
        return;
    }
    bms.StartClock();

    const int32_t last = lastMeasure * 128;
    int32_t p = first;
    int arrows = 0;
    for (auto _ : st) {
        if (p > last) {
            st.PauseTiming();
            p = first;
            play::State().TriggerCursor = play::State().ScanCursor = engine::Timeline::Cursor(bms.Chart());
            play::State().TriggeredUpTo = -9999;
            st.ResumeTiming();
        }
        gui::Clock::Set(bms.Clock().ClockBase() + static_cast<uint32_t>(p));
        play::FrameInput input;
        input.NowMs = gui::Clock::Now();
        benchmark::DoNotOptimize(play::PlayFrame(display, bms, settings, input));
        ++p;
    }
    for (const engine::TChartObject& o : bms.Chart().Objects()) {
        const int32_t y = o.Position - (p - 1) + 32;
        if (o.Kind > 10 && o.Kind < 30 && y >= -32 && y <= 240) ++arrows;
    }
    st.counters["arrows_on_screen"] = arrows;
    st.counters["objects"] = bms.Chart().Count();
    gui::Clock::UseSystem();
}

void BM_PlayFrame(benchmark::State& st) {
    RunFrames(st, WriteChart(), static_cast<int>(st.range(0)), st.range(1) != 0, 256, kMeasures - 3);
}

// 1,000 measures; per measure 8 lanes of 2 arrows (about as many on the screen as in the demo)
// and 16 background lines of 62 sounds.
std::filesystem::path WriteMillionObjectChart() {
    const auto dir = std::filesystem::temp_directory_path() / "glimstep-playframe-bench";
    std::filesystem::create_directories(dir);
    const auto file = dir / "million-2.bms";
    if (std::filesystem::exists(file)) return file;
    std::ofstream out(file, std::ios::binary);
    out << "#PLAYER 3\n#BPM 150\n";
    std::string arrows, sounds;
    for (int k = 0; k < 16; ++k) arrows += k % 8 == 0 ? "01" : "00";
    for (int k = 0; k < 64; ++k) sounds += k < 62 ? "02" : "00";
    for (int lane : kLanes)
        for (int m = 0; m < 1000; ++m) {
            char head[16];
            std::snprintf(head, sizeof head, "#%03d%02d:", m, lane);
            out << head << arrows << "\n";
        }
    for (int line = 0; line < 16; ++line)
        for (int m = 0; m < 1000; ++m) {
            char head[16];
            std::snprintf(head, sizeof head, "#%03d01:", m);
            out << head << sounds << "\n";
        }
    return file;
}

// 0 = the demo chart, 1 = the chart of a million objects.
void BM_PlayFrameChart(benchmark::State& st) {
    if (st.range(0) == 0)
        RunFrames(st, GLIMSTEP_DEMO_CHART, 0, false, 256, 33);
    else
        RunFrames(st, WriteMillionObjectChart(), 0, false, 256, 990);
}

BENCHMARK(BM_PlayFrame)
    ->ArgNames({"screen", "params"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({2, 0})
    ->Args({0, 1})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlayFrameChart)->ArgName("million")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
