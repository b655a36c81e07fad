// glimstep-info [--extended] [--seed N] [--verbose] CHART: loads a chart as the player does (128
// ticks per measure, normal speed, playback only, no window or sound device needed) and prints
// what the engine made of it as one line of JSON; why it could not, when it could not; and with
// --verbose the lines the reading dropped.
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "app/BMCore.h"
#include "engine/BMSEngine.h"
#include "engine/ExtendedReader.h"
#include "gui/Convert.h"
#include "gui/Exception.h"
#include "gui/TextEncoding.h"
#include "media/DXSounds.h"
#include "play/TapoModule.h"

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

std::string ChartJson(const engine::TBMS& bms, bool extended) {
    const engine::TChartHeader& header = bms.Header();
    std::string out = "{\"loaded\":true,\"title\":";
    AppendString(out, header.Title);
    out += ",\"artist\":";
    AppendString(out, header.Artist);
    out += ",\"genre\":";
    AppendString(out, header.Genre);
    out += ",\"chartType\":";
    AppendString(out, header.ChartType);
    out += ",\"bpm\":" + FloatText(header.Bpm);
    out += ",\"playLevel\":" + std::to_string(header.PlayLevel);
    out += ",\"rank\":" + std::to_string(header.Rank);
    out += ",\"total\":" + std::to_string(header.Total);
    out += ",\"volWav\":" + std::to_string(header.VolWav);
    out += ",\"playerMode\":" + std::to_string(header.PlayerMode);
    out += ",\"midiFile\":";
    AppendString(out, header.MidiFileName);
    out += ",\"sounds\":[";
    bool first = true;
    for (int slot = 0; slot < bms.SlotCount(); ++slot) {
        if (bms.Slots().SoundState[slot] < 0) continue;
        if (!first) out += ',';
        first = false;
        out += std::to_string(slot);
    }
    // The file each of those slots was read from, relative to the chart, after any fallback.
    out += "],\"soundFiles\":{";
    std::filesystem::path folder = std::filesystem::path(bms.ChartFileName()).parent_path();
    if (folder.empty()) folder = ".";
    first = true;
    for (int slot = 0; slot < bms.SlotCount(); ++slot) {
        if (bms.Slots().SoundState[slot] < 0 || bms.Slots().SoundFiles[slot].empty()) continue;
        if (!first) out += ',';
        first = false;
        out += '"' + std::to_string(slot) + "\":";
        AppendString(out, bms.Slots().SoundFiles[slot].lexically_relative(folder).generic_string());
    }
    // The files the chart names that are not there (under any name tried), as it names them.
    out += "},\"missingFiles\":[";
    for (const engine::MissingFile& missing : bms.Slots().Missing) {
        if (out.back() != '[') out += ',';
        AppendString(out, missing.Name);
    }
    const engine::Timeline& chart = bms.Chart();
    out += "],\"objects\":[";
    for (const engine::TChartObject& o : chart.Objects()) {
        if (out.back() != '[') out += ',';
        out += '[' + std::to_string(o.Kind) + ',' + std::to_string(o.Position) + ',' + std::to_string(o.Value) + ']';
    }
    out += "],\"tempoMap\":[";
    for (const engine::TTempoPoint& point : chart.TempoMap()) {
        if (out.back() != '[') out += ',';
        out += '[' + std::to_string(point.Time) + ',' + std::to_string(point.Position) + ']';
    }
    out += "],\"endPosition\":" + std::to_string(chart.EndPosition());
    if (extended) {
        // Every sound start and every arrow with its exact song time, in table (and so time) order.
        std::string schedule, lanes;
        char time[32];
        for (int32_t i = 0; i < chart.Count(); ++i) {
            const engine::TChartObject& o = chart[i];
            std::snprintf(time, sizeof time, "%.3f", chart.Time(i));
            if (o.Kind < 100) schedule += std::string(schedule.empty() ? "" : ",") + '[' + time + ',' + std::to_string(o.Value) + ']';
            if (const int lane = play::LaneOf(o.Kind); lane >= 0)
                lanes += std::string(lanes.empty() ? "" : ",") + '[' + time + ',' + std::to_string(lane) + ']';
        }
        out += ",\"schedule\":[" + schedule + "],\"lanes\":[" + lanes + ']';
    }
    return out + '}';
}

constexpr const char* kUsage =
    "usage: glimstep-info [--extended] [--seed N] [--verbose] [--] CHART\n"
    "Loads CHART as the player does, without a window or sound, and prints what it makes of it\n"
    "as one line of JSON.\n"
    "  --extended   read the chart in the extended dialect (every channel); .bme, .bml and .pms\n"
    "               charts always are\n"
    "  --seed N     seed for the #RANDOM and #SWITCH draws of the extended reading\n"
    "  --verbose    also list on stderr every line the reading dropped, and why\n"
    "  --help       print this help and exit\n"
    "  --version    print the version and exit\n";

struct Options {
    std::string chart;
    bool extended = false;
    std::optional<uint64_t> seed;
    bool help = false;
    bool version = false;
    bool verbose = false;
};

// Options come before the chart; "--" ends them. --help and --version need no chart. Nothing
// when the arguments make no sense.
std::optional<Options> ParseArguments(int argc, char** argv) {
    Options o;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (options && arg == "--") {
            options = false;
        } else if (options && arg == "--extended") {
            o.extended = true;
        } else if (options && arg == "--help") {
            o.help = true;
        } else if (options && arg == "--version") {
            o.version = true;
        } else if (options && arg == "--verbose") {
            o.verbose = true;
        } else if (options && arg == "--seed" && i + 1 < argc) {
            uint64_t seed = 0;
            if (!gui::TryStrToUInt64(argv[++i], seed)) return std::nullopt;
            o.seed = seed;
        } else if ((options && arg.starts_with("-")) || !o.chart.empty() || arg.empty()) {
            return std::nullopt;
        } else {
            o.chart = arg;
            options = false;
        }
    }
    if (o.chart.empty() && !o.help && !o.version) return std::nullopt;
    return o;
}

// Each dropped line as FILE:LINE: REASON, as compilers report.
void PrintDropped(const char* chart, const engine::LoadResult& result) {
    for (const engine::DroppedLine& line : result.Dropped)
        std::fprintf(stderr, "glimstep-info: %s:%d: line dropped: %s\n", chart, static_cast<int>(line.Line),
                     line.Reason.c_str());
    if (result.DroppedCount > result.Dropped.size())
        std::fprintf(stderr, "glimstep-info: %s: %zu more lines dropped\n", chart,
                     result.DroppedCount - result.Dropped.size());
}

}  // namespace

int main(int argc, char** argv) {
    // Ctrl+C must end the program at once, as it does today: should any component start SDL,
    // SDL would otherwise turn SIGINT into a quit event that nothing here reads.
    setenv("SDL_NO_SIGNAL_HANDLERS", "1", 0);
    const std::optional<Options> options = ParseArguments(argc, argv);
    if (!options) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (options->help || options->version) {
        std::fputs(options->help ? kUsage : "glimstep-info " GLIMSTEP_VERSION "\n", stdout);
        return 0;
    }
    const char* chart = options->chart.c_str();
    try {
        // No display: the engine draws no loading console and needs no fonts.
        media::TDXSound sound(nullptr);
        engine::TBMS bms(nullptr, &sound);
        bms.PlaySpeed = 100;
        bms.BgaDisplayMode = 2;
        bms.Options.Extended = options->extended || app::IsExtendedChartName(options->chart);
        if (options->seed) bms.Options.DrawRandom = engine::SeededDraw(*options->seed);
        const engine::LoadResult result = bms.LoadChart(chart, 128);
        if (options->verbose) PrintDropped(chart, result);
        if (result) {
            std::printf("%s\n", ChartJson(bms, bms.Options.Extended).c_str());
            return 0;
        }
        std::fprintf(stderr, "glimstep-info: %s: %s\n", chart, result.Message.c_str());
    } catch (const std::exception& e) {
        // Whatever escapes the load (out of memory too) ends with a message, not an abort.
        std::fprintf(stderr, "glimstep-info: %s\n", e.what());
    }
    std::printf("{\"loaded\":false}\n");
    return 1;
}
