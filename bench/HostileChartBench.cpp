// Loading hostile charts in the extended reading: each is written to a file, then loaded in a
// child process of its own, whose wall time and peak resident memory (wait4's ru_maxrss) are
// printed as one row of a table, beside the chart's size and what the load made of it.
//
//   bench_hostile_charts [--timeout SECONDS] [CASE...]
//
// Cases: empty (the baseline), if200k and if1m (#IF nested 200,000 and 1,000,000 deep),
// line100m (one channel line of 100 MB), objects100m (100 MB of full channel lines),
// title100m (a #TITLE line of 100 MB), flac12-1, flac12-2 and flac12-4 (twelve long FLAC sounds
// that the sound budget mostly refuses, decoded on 1, 2 and 4 threads: ten minutes at 384 kHz
// against 2 GiB, scaled down to one minute at 96 kHz against 1/40 of it, so that the peak shows
// what the budget lets through at once). Without a case, all of them.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <sndfile.h>

#include "engine/BMSEngine.h"
#include "media/DXDraws.h"
#include "media/DXSounds.h"
#include "support/SoundFiles.h"

namespace {

constexpr size_t kHundredMegabytes = 100'000'000;

struct Case {
    const char* name;
    const char* description;
    std::function<void(std::ofstream&)> write;
    // Writes the files the chart names into its folder.
    std::function<void(const std::filesystem::path&)> prepare = {};
    unsigned loadThreads = 0;
    int64_t maxSoundBytes = engine::kMaxChartSoundBytes;
};

// Ten minutes at 384 kHz to the budget of 2 GiB as one minute at 96 kHz to this.
constexpr int64_t kScaledSoundBudget = (int64_t{2} << 30) / 40;
constexpr int kFlacSounds = 12;

// One minute of a stereo tone with some noise at 96 kHz, as FLAC (about 12 MB; 23 MB decoded),
// beside the chart twelve times.
void WriteLongFlacs(const std::filesystem::path& folder) {
    if (std::filesystem::exists(folder / "long12.flac")) return;
    constexpr int kRate = 96000;
    std::vector<float> samples(static_cast<size_t>(kRate) * 60 * 2);
    uint32_t noise = 1;
    for (size_t i = 0; i < samples.size(); ++i) {
        noise = noise * 1664525u + 1013904223u;
        samples[i] = 0.5f * static_cast<float>(std::sin(static_cast<double>(i / 2) * 0.0287)) +
                     0.1f * (static_cast<float>(noise >> 8) / 16777216.0f - 0.5f);
    }
    testsupport::WriteSoundFile(folder / "long01.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, kRate, 2, samples);
    for (int i = 2; i <= kFlacSounds; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "long%02d.flac", i);
        std::filesystem::copy_file(folder / "long01.flac", folder / name, std::filesystem::copy_options::overwrite_existing);
    }
}

void LongFlacChart(std::ofstream& out) {
    for (int i = 1; i <= kFlacSounds; ++i) {
        char line[32];
        std::snprintf(line, sizeof line, "#WAV%02d long%02d.flac\n", i, i);
        out << line;
    }
    out << "#00111:01\n";
}

void NestedIfs(std::ofstream& out, int depth) {
    out << "#RANDOM 1\n";
    for (int i = 0; i < depth; ++i) out << "#IF 1\n";
    out << "#00111:01\n";
    for (int i = 0; i < depth; ++i) out << "#ENDIF\n";
    out << "#00211:01\n";
}

std::string Pairs(size_t bytes) {
    std::string data;
    data.reserve(bytes);
    while (data.size() + 2 <= bytes) data += "01";
    return data;
}

const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = {
        {"empty", "a chart of one note", [](std::ofstream& out) { out << "#00111:01\n"; }},
        {"if200k", "#IF nested 200,000 deep", [](std::ofstream& out) { NestedIfs(out, 200'000); }},
        {"if1m", "#IF nested 1,000,000 deep", [](std::ofstream& out) { NestedIfs(out, 1'000'000); }},
        {"line100m", "one channel line of 100 MB",
         [](std::ofstream& out) { out << "#00111:" << Pairs(kHundredMegabytes) << "\n"; }},
        {"objects100m", "100 MB of channel lines of 192 notes",
         [](std::ofstream& out) {
             const std::string data = Pairs(384);
             char prefix[16];
             for (size_t written = 0, m = 0; written < kHundredMegabytes; ++m) {
                 std::snprintf(prefix, sizeof prefix, "#%03zu11:", m % 1000);
                 out << prefix << data << "\n";
                 written += std::strlen(prefix) + data.size() + 1;
             }
         }},
        {"title100m", "a #TITLE line of 100 MB",
         [](std::ofstream& out) { out << "#TITLE " << std::string(kHundredMegabytes, 'x') << "\n#00111:01\n"; }},
        {"flac12-1", "12 FLACs of 23 MB decoded, budget 54 MB, 1 thread", LongFlacChart, WriteLongFlacs, 1,
         kScaledSoundBudget},
        {"flac12-2", "12 FLACs of 23 MB decoded, budget 54 MB, 2 threads", LongFlacChart, WriteLongFlacs, 2,
         kScaledSoundBudget},
        {"flac12-4", "12 FLACs of 23 MB decoded, budget 54 MB, 4 threads", LongFlacChart, WriteLongFlacs, 4,
         kScaledSoundBudget},
    };
    return cases;
}

// Loads the chart in this process and writes a line about the result to `fd`.
[[noreturn]] void LoadInChild(const std::filesystem::path& chart, const Case& c, int fd) {
    media::TDXDraw display(nullptr);
    media::TDXSound sound(nullptr);
    engine::TBMS bms(&display, &sound);
    bms.BgaDisplayMode = 2;
    bms.Options.Extended = true;
    bms.Options.LoadThreads = c.loadThreads;
    bms.Options.MaxSoundBytes = c.maxSoundBytes;
    bms.Options.DrawRandom = engine::SeededDraw(1);
    const engine::LoadResult result = bms.LoadChart(chart.string(), 128);
    std::string line = result.Loaded ? "loaded" : "not loaded (" + result.Message + ")";
    line += ", " + std::to_string(bms.Chart().Count()) + " objects, " + std::to_string(result.DroppedCount) +
            " dropped lines";
    if (!result.Dropped.empty()) line += " (first: line " + std::to_string(result.Dropped.front().Line) + ": " +
                                         result.Dropped.front().Reason + ")";
    int sounds = 0;
    for (int32_t state : bms.Slots().SoundState) sounds += state > 0 ? 1 : 0;
    if (sounds > 0) line += ", " + std::to_string(sounds) + " sounds loaded";
    if (write(fd, line.data(), line.size()) < 0) _exit(2);
    _exit(0);
}

}  // namespace

int main(int argc, char** argv) {
    int timeoutSeconds = 600;
    std::vector<std::string> chosen;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc)
            timeoutSeconds = std::atoi(argv[++i]);
        else
            chosen.emplace_back(argv[i]);
    }
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("glimstep-hostile-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    std::printf("| chart | size | time | peak RSS | RSS / size | result |\n|---|---|---|---|---|---|\n");
    for (const Case& c : Cases()) {
        if (!chosen.empty() && std::find(chosen.begin(), chosen.end(), c.name) == chosen.end()) continue;
        const std::filesystem::path chart = folder / (std::string(c.name) + ".bms");
        {
            std::ofstream out(chart, std::ios::binary);
            c.write(out);
        }
        if (c.prepare) c.prepare(folder);
        const double megabytes = static_cast<double>(std::filesystem::file_size(chart)) / 1e6;
        std::fflush(stdout);
        int pipeFds[2];
        if (pipe(pipeFds) != 0) return 1;
        const auto start = std::chrono::steady_clock::now();
        const pid_t child = fork();
        if (child < 0) return 1;
        if (child == 0) {
            close(pipeFds[0]);
            alarm(static_cast<unsigned>(timeoutSeconds));
            LoadInChild(chart, c, pipeFds[1]);
        }
        close(pipeFds[1]);
        std::string said;
        char buffer[512];
        for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) said.append(buffer, static_cast<size_t>(n));
        close(pipeFds[0]);
        int status = 0;
        rusage usage{};
        wait4(child, &status, 0, &usage);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double rssMegabytes = static_cast<double>(usage.ru_maxrss) / 1024.0;
        if (WIFSIGNALED(status))
            said = WTERMSIG(status) == SIGALRM ? "stopped after " + std::to_string(timeoutSeconds) + " s"
                                               : "killed by signal " + std::to_string(WTERMSIG(status));
        char ratio[32] = "-";
        if (megabytes >= 1) std::snprintf(ratio, sizeof ratio, "%.1f", rssMegabytes / megabytes);
        std::printf("| %s | %.1f MB | %.2f s | %.0f MB | %s | %s |\n", c.description, megabytes, seconds,
                    rssMegabytes, ratio, said.c_str());
        std::filesystem::remove(chart);
    }
    std::filesystem::remove_all(folder);
    return 0;
}
