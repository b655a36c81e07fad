// Cost of one 320×240 play frame on each pixel format: one fill, 60 colour-keyed 30×30 blits,
// 10 blended 30×30 blits and the conversion for presentation. Also counts heap allocations
// per frame, which must be zero.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "media/DXDraws.h"
#include "media/DXPresenter.h"

namespace {
std::atomic<long> allocations{0};
}

// GCC 12 pairs the replaced operator delete's free() with the library's own new when it inlines
// across the replacement, and warns although both sides here use malloc and free.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

struct Scene {
    explicit Scene(gui::PixelFormat format) : dd(format), back(&dd), sheet(&dd) {
        back.SetSize(320, 240);
        sheet.SetSize(125, 215);
        // A sheet of opaque cells with a keyed border, like the arrow sprites.
        const uint32_t key = sheet.DeviceColor(gui::clFuchsia);
        sheet.Fill(key);
        for (int y = 0; y < 215; ++y)
            for (int x = 0; x < 125; ++x)
                if ((x % 31) > 4 && (x % 31) < 26 && (y % 31) > 4 && (y % 31) < 26)
                    sheet.SetPixel(x, y, sheet.DeviceColor(gui::RGB(x * 2, y, 200)));
        sheet.SetTransparentColor(key);
        backdrop = back.DeviceColor(gui::RGB(128, 0, 255));
        presented.resize(320 * 240);
    }

    void Frame(int frame) {
        back.Fill(backdrop);
        for (int i = 0; i < 60; ++i) {
            const int x = (i * 37 + frame) % 290;
            const int y = (i * 53 + frame * 3) % 210;
            const gui::TRect cell = gui::Bounds((i % 4) * 31, (i % 6) * 31, 30, 30);
            back.FastBlit(x, y, cell, media::DDBLTFAST_SRCCOLORKEY, &sheet);
        }
        for (int i = 0; i < 10; ++i) {
            const int x = (i * 29 + frame) % 290;
            const int y = 70 + i * 12;
            back.DrawBlended(gui::Bounds(x, y, 30, 30), gui::Bounds((i % 4) * 31, 31, 30, 30), &sheet, true,
                             20 + i * 23);
        }
        media::ConvertForPresentation(back, back.PaletteInForce(), reinterpret_cast<uint8_t*>(presented.data()),
                                      320 * 4);
    }

    media::TDirectDraw dd;
    media::TDirectDrawSurface back;
    media::TDirectDrawSurface sheet;
    uint32_t backdrop = 0;
    std::vector<uint32_t> presented;
};

void BM_Frame(benchmark::State& state) {
    Scene scene(static_cast<gui::PixelFormat>(state.range(0)));
    int frame = 0;
    scene.Frame(frame++);
    const long before = allocations.load();
    for (auto _ : state) {
        scene.Frame(frame++);
        benchmark::DoNotOptimize(scene.presented.data());
    }
    state.counters["allocs_per_frame"] =
        static_cast<double>(allocations.load() - before) / static_cast<double>(state.iterations());
}

void BM_Convert(benchmark::State& state) {
    Scene scene(static_cast<gui::PixelFormat>(state.range(0)));
    for (auto _ : state) {
        media::ConvertForPresentation(scene.back, scene.back.PaletteInForce(),
                                      reinterpret_cast<uint8_t*>(scene.presented.data()), 320 * 4);
        benchmark::DoNotOptimize(scene.presented.data());
    }
}

void Formats(benchmark::internal::Benchmark* b) {
    b->ArgName("format");
    b->Arg(static_cast<int>(gui::PixelFormat::Indexed8));
    b->Arg(static_cast<int>(gui::PixelFormat::RGB565));
    b->Arg(static_cast<int>(gui::PixelFormat::XRGB8888));
}

}  // namespace

BENCHMARK(BM_Frame)->Apply(Formats)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Convert)->Apply(Formats)->Unit(benchmark::kMicrosecond);
