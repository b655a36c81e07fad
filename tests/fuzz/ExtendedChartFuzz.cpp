// Reads arbitrary bytes as a chart in the extended reading, without files: every line through
// ExtendedReader (control flow, slots, channel lines), then the timeline built and walked by the
// song clock. The first byte seeds the #RANDOM and #SWITCH draws.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/ExtendedReader.h"
#include "gui/Exception.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    engine::ReadingHost host;
    engine::TChartHeader header;
    engine::ExtendedReader reader(host, header, 128, engine::SeededDraw(data[0]));
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != '\r' && text[i] != '\n') continue;
        if (i > start) reader.ReadLine(text.substr(start, i - start));
        start = i + 1;
    }
    engine::Timeline chart;
    try {
        chart = reader.Build();
    } catch (const gui::Exception&) {
        return 0;
    }
    // Walk the song clock across the whole chart and the lead-in, as the play frame would.
    engine::Timeline::PositionCursor song(&chart);
    engine::Timeline::Cursor cursor(chart);
    const double end = chart.EndTime();
    if (!(end >= 0)) __builtin_trap();
    for (int step = -2; step <= 64; ++step) {
        const int32_t position = song.PositionAt(static_cast<int32_t>(std::min(end, 2e9) * step / 64));
        while (cursor.NextUpTo(position) >= 0) {
        }
    }
    return 0;
}
