// glimstep-info CHART: loads a chart as the player does (128 ticks per measure, normal speed,
// playback only, no window or sound device needed) and prints what the engine made of it as
// one line of JSON.
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <string>

#include "engine/BMSEngine.h"
#include "gui/Exception.h"
#include "gui/TextEncoding.h"
#include "media/DXDraws.h"
#include "media/DXSounds.h"

namespace {

void AppendString(std::string& out, const std::string& text) {
    const std::string utf8 = gui::IsValidUtf8(text) ? text : gui::ChartTextToUtf8(text);
    out += '"';
    for (const char c : utf8) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (b < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", b);
            out += escape;
        } else {
            out += c;
        }
    }
    out += '"';
}

// The shortest text that reads back as the same single-precision value, always with a
// fraction or an exponent so that it reads as a floating-point number.
std::string FloatText(float value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, result.ptr);
    if (text.find_first_of(".e") == std::string::npos) text += ".0";
    return text;
}

std::string ChartJson(const engine::TBMS& bms) {
    std::string out = "{\"loaded\":true,\"title\":";
    AppendString(out, bms.Title);
    out += ",\"artist\":";
    AppendString(out, bms.Artist);
    out += ",\"genre\":";
    AppendString(out, bms.Genre);
    out += ",\"chartType\":";
    AppendString(out, bms.ChartType);
    out += ",\"bpm\":" + FloatText(bms.Bpm);
    out += ",\"playLevel\":" + std::to_string(bms.PlayLevel);
    out += ",\"rank\":" + std::to_string(bms.Rank);
    out += ",\"total\":" + std::to_string(bms.Total);
    out += ",\"volWav\":" + std::to_string(bms.VolWav);
    out += ",\"playerMode\":" + std::to_string(bms.PlayerMode);
    out += ",\"midiFile\":";
    AppendString(out, bms.MidiFileName);
    out += ",\"sounds\":[";
    bool first = true;
    for (int slot = 0; slot < engine::kSlotCount; ++slot) {
        if (bms.SoundState[slot] < 0) continue;
        if (!first) out += ',';
        first = false;
        out += std::to_string(slot);
    }
    // The file each of those slots was read from, relative to the chart, after any fallback.
    out += "],\"soundFiles\":{";
    std::filesystem::path folder = std::filesystem::path(bms.ChartFileName).parent_path();
    if (folder.empty()) folder = ".";
    first = true;
    for (int slot = 0; slot < engine::kSlotCount; ++slot) {
        if (bms.SoundState[slot] < 0 || bms.SoundFiles[slot].empty()) continue;
        if (!first) out += ',';
        first = false;
        out += '"' + std::to_string(slot) + "\":";
        AppendString(out, bms.SoundFiles[slot].lexically_relative(folder).generic_string());
    }
    out += "},\"objects\":[";
    for (int32_t i = 0; i <= bms.LastObject; ++i) {
        const engine::TChartObject& o = bms.Objects[i];
        if (i > 0) out += ',';
        out += '[' + std::to_string(o.Kind) + ',' + std::to_string(o.Position) + ',' + std::to_string(o.Value) + ']';
    }
    out += "],\"tempoMap\":[";
    for (int32_t k = 0; k <= bms.TempoCount; ++k) {
        if (k > 0) out += ',';
        out += '[' + std::to_string(bms.TempoTime[k]) + ',' + std::to_string(bms.TempoPosition[k]) + ']';
    }
    out += "],\"endPosition\":" + std::to_string(bms.EndPosition) + '}';
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    // Ctrl+C must end the program at once, as it does today: should any component start SDL,
    // SDL would otherwise turn SIGINT into a quit event that nothing here reads.
    setenv("SDL_NO_SIGNAL_HANDLERS", "1", 0);
    if (argc != 2 || argv[1][0] == '\0') {
        std::fprintf(stderr, "usage: glimstep-info CHART\n");
        return 2;
    }
    try {
        media::TDXDraw display(nullptr);
        media::TDXSound sound(nullptr);
        engine::TBMS bms(&display, &sound);
        bms.PlaySpeed = 100;
        bms.BgaDisplayMode = 2;
        if (bms.LoadChart(argv[1], 128)) {
            std::printf("%s\n", ChartJson(bms).c_str());
            return 0;
        }
        std::FILE* file = std::fopen(argv[1], "rb");
        if (file == nullptr || (std::fgetc(file) == EOF && std::ferror(file)))
            std::fprintf(stderr, "glimstep-info: cannot read %s\n", argv[1]);
        else
            std::fprintf(stderr, "glimstep-info: %s has no time table (its tempo is 0 or its numbers are too large)\n", argv[1]);
        if (file != nullptr) std::fclose(file);
    } catch (const gui::Exception& e) {
        std::fprintf(stderr, "glimstep-info: %s\n", e.what());
    }
    std::printf("{\"loaded\":false}\n");
    return 1;
}
