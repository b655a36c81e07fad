// Loads arbitrary bytes as a chart. The first byte picks the display mode, the fit mode and the
// speed, and whether the whole load runs (in the fixed dialect or the extended reading) or only
// the lines are parsed and timed (much faster); the chart's folder holds a sound and two pictures
// (one broken) that lines may name.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "engine/BMSEngine.h"
#include "engine/ExtendedReader.h"
#include "engine/FixedReader.h"
#include "gui/Clock.h"
#include "gui/Exception.h"
#include "media/DXDraws.h"
#include "media/DXSounds.h"

namespace {

void Write(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Le(uint32_t v, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
    return out;
}

struct World {
    std::filesystem::path folder;
    media::TDXDraw display{nullptr};
    media::TDXSound sound{nullptr};
    engine::TBMS bms{&display, &sound};

    World() {
        folder = std::filesystem::temp_directory_path() / ("glimstep-fuzz-" + std::to_string(getpid()));
        std::filesystem::create_directories(folder / "Sub");
        Write(folder / "a.wav", "RIFF" + Le(40, 4) + "WAVEfmt " + Le(16, 4) + Le(1, 2) + Le(1, 2) + Le(8000, 4) +
                                    Le(16000, 4) + Le(2, 2) + Le(16, 2) + "data" + Le(4, 4) + Le(0x1234, 2) + Le(0x8000, 2));
        std::string bmp = "BM" + Le(54 + 16, 4) + Le(0, 4) + Le(54, 4) + Le(40, 4) + Le(2, 4) + Le(2, 4) + Le(1, 2) +
                          Le(24, 2) + Le(0, 4) + Le(16, 4) + Le(0, 4) + Le(0, 4) + Le(0, 4) + Le(0, 4);
        bmp += std::string("\x10\x20\x30\x40\x50\x60\0\0\x70\x80\x90\xA0\xB0\xC0\0\0", 16);
        Write(folder / "Sub" / "B.bmp", bmp);
        Write(folder / "c.bmp", "BM broken");
        sound.SetOffline(true);
        sound.Initialize();
        display.Initialize();
        gui::Clock::UseManual(1000);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static World world;
    if (size < 1) return 0;
    engine::TBMS& bms = world.bms;
    bms.BgaDisplayMode = data[0] % 3;
    bms.BgaFitMode = (data[0] / 3) % 4;
    bms.PlaySpeed = 25 + ((data[0] / 12) % 8) * 25;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const bool linesOnly = data[0] >= 0x80;
    engine::Timeline parsed;
    if (linesOnly) {
        engine::ReadingHost host;
        engine::TChartHeader header;
        engine::FixedReader reader(host, header, 128);
        size_t start = 0;
        for (size_t i = 0; i <= text.size(); ++i) {
            if (i < text.size() && text[i] != '\n') continue;
            reader.ParseLine(std::string_view(text).substr(start, i - start));
            start = i + 1;
        }
        try {
            parsed = reader.Build();
        } catch (const gui::Exception&) {
            return 0;
        }
    } else {
        bms.Options.Extended = data[0] >= 0x40;
        bms.Options.DrawRandom = engine::SeededDraw(size);
        const std::filesystem::path chart = world.folder / "chart.bms";
        Write(chart, text);
        if (!bms.LoadChart(chart.string(), 128)) return 0;
    }

    // Walk the song clock across the whole chart, as the play frame would.
    const engine::Timeline& chart = linesOnly ? parsed : bms.Chart();
    engine::Timeline::PositionCursor song(&chart);
    engine::Timeline::Cursor cursor(chart);
    bms.StartClock();
    for (int step = 0; step < 64; ++step) {
        gui::Clock::Advance(997);
        const int32_t position = linesOnly ? song.PositionAt(bms.SongTime()) : bms.SongPosition();
        for (int32_t i; (i = cursor.NextUpTo(position)) >= 0;)
            if (chart[i].Kind < 100) bms.PlaySound(chart[i].Value);
    }
    if (bms.BgaDisplayMode < 2) bms.TickerLine(bms.Header().Title, gui::clLime);
    return 0;
}
