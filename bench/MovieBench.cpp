// Movie backgrounds with a 640×480 MPEG-1 movie (25 pictures a second, a detailed moving pattern)
// on the base layer:
// - BM_MoviePicture: what the worker does for each picture (decode, scale, fit, map to the
//   surface's format), timed on one thread, for a window (XRGB8888) and 256 colours.
// - BM_MoviePlayFrame: play frames against the real clock, as fast as they come, with the worker
//   decoding alongside; movie:0 is the same chart with a picture instead. Its counters give the
//   frame rate kept and the share of the movie's pictures that were shown when due.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/BMSEngine.h"
#include "gui/Application.h"
#include "gui/BmpEncode.h"
#include "gui/Clock.h"
#include "media/DXDraws.h"
#include "media/DXSounds.h"
#include "media/Movie.h"
#include "play/DM.h"
#include "play/TapoModule.h"
#include "support/MovieFiles.h"
#include "support/TestFiles.h"

namespace {

namespace fs = std::filesystem;

constexpr int kPictures = 300;  // 12 seconds
// The source rectangle that carries the picture's number as a colour; fit mode 0 puts its middle
// at (160, 10) on the screen.
constexpr int kCodeLeft = 304, kCodeRight = 336, kCodeBottom = 32;

fs::path Folder() { return fs::temp_directory_path() / "glimstep-movie-bench"; }

fs::path MovieFile() {
    const fs::path file = Folder() / "big.mpg";
    if (fs::exists(file)) return file;
    fs::create_directories(Folder());
    testsupport::WriteMovie(file, "mpeg1video", 640, 480, 25, kPictures, [](int k, int x, int y) -> uint32_t {
        if (x >= kCodeLeft && x < kCodeRight && y < kCodeBottom) return testsupport::MovieColour(k % 25);
        const uint32_t r = static_cast<uint32_t>((x + 3 * k) ^ y) & 0xFF;
        const uint32_t g = static_cast<uint32_t>(x * y / 64 + 5 * k) & 0xFF;
        const uint32_t b = static_cast<uint32_t>((x - y + 7 * k) * 3) & 0xFF;
        return r << 16 | g << 8 | b;
    });
    return file;
}

void BM_MoviePicture(benchmark::State& st) {
    const bool eightBit = st.range(0) != 0;
    media::TDirectDraw directDraw(eightBit ? gui::PixelFormat::Indexed8 : gui::PixelFormat::XRGB8888);
    if (eightBit) {
        gui::TColorTable table{};
        for (int i = 0; i < 256; ++i) {
            // A 6×6×6 cube and greys, as a full palette would spread its entries.
            const int r = i % 6 * 51, g = i / 6 % 6 * 51, b = i / 36 % 6 * 51;
            table[static_cast<size_t>(i)] = i < 216 ? gui::TRGBQuad{static_cast<uint8_t>(b), static_cast<uint8_t>(g),
                                                                    static_cast<uint8_t>(r), 0}
                                                    : gui::TRGBQuad{static_cast<uint8_t>(i), static_cast<uint8_t>(i),
                                                                    static_cast<uint8_t>(i), 0};
        }
        directDraw.Palette().SetEntries(table);
    }
    media::TDirectDrawSurface surface(&directDraw);
    surface.SetSize(320, 240);
    media::Movie movie(MovieFile().string(), media::Movie::Timing::Exact);
    movie.ShowOn(surface, gui::Rect(-240, 0, 560, 450));
    int k = 0;
    for (auto _ : st) {
        if (k % kPictures == 0) movie.Restart();
        movie.Show(40.0 * (k % kPictures) + 1);
        ++k;
    }
}

void BM_MoviePlayFrame(benchmark::State& st) {
    const bool withMovie = st.range(0) != 0;
    const fs::path movieFile = MovieFile();
    testsupport::WriteFile(Folder() / "still.bmp", gui::EncodeBmp24(640, 480, [](int, int) { return 0x406080u; }));
    testsupport::WriteFile(Folder() / "song.bms", std::string("#BPM 120\n#BMP01 ") +
                                                      (withMovie ? "big.mpg" : "still.bmp") +
                                                      "\n#00004:01\n#00711:01\n");

    gui::Clock::UseSystem();
    play::CreateDM();
    gui::Application app;
    const play::PlaySettings settings{1, 1};
    media::TDXDraw display(nullptr);
    media::TDXSound sound(nullptr);
    engine::TBMS bms(&display, &sound);
    if (!play::SetupAndLoad(app, display, bms, (Folder() / "song.bms").string(), settings)) {
        st.SkipWithError("chart not loaded");
        return;
    }
    // Song time 0 (where the movie starts) now rather than after the lead-in.
    bms.StartClock(0);
    const media::TDirectDrawSurface& slot = *bms.Slots().BgaImages[1];
    uint32_t lastCode = slot.Pixel(160, 10);
    int64_t changes = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : st) {
        play::FrameInput input;
        input.NowMs = gui::Clock::Now();
        play::PlayFrame(display, bms, settings, input);
        const uint32_t code = slot.Pixel(160, 10);
        if (code != lastCode) ++changes;
        lastCode = code;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    st.counters["frames_per_second"] = static_cast<double>(st.iterations()) / seconds;
    if (withMovie) st.counters["pictures_shown_percent"] = 100.0 * static_cast<double>(changes) / (seconds * 25);
}

BENCHMARK(BM_MoviePicture)->ArgName("eightbit")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MoviePlayFrame)
    ->ArgName("movie")
    ->Arg(0)
    ->Arg(1)
    ->MinTime(4)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
