// Loading at decoder speed: an 800-sound Ogg Vorbis package (44.1 kHz stereo key sounds and a few
// longer phrases, 447 s in all, as real packages have) read by an extended-dialect chart. Side by
// side in one run, three rounds each: a plain parallel decode of the same files with oggdec (on as
// many jobs as the load's decode pool has threads), glimstep-info --extended, and the player from
// its start to "Play Start!!". Prints the times, their ratios to the plain decode, the peak
// memory of each and the machine's load average before and after.
//     bench_load_speed path/to/glimstep-info
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/BMCore.h"
#include "app/Setting.h"
#include "engine/BMSEngine.h"
#include "engine/SoundPrefetch.h"
#include "gui/Application.h"
#include "gui/ThreadPool.h"
#include "play/DM.h"
#include "play/PlaySteps.h"
#include "play/TapoModule.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kSounds = 800;
constexpr int kLongSounds = 20;
constexpr int kRate = 44100;

fs::path Folder() { return fs::temp_directory_path() / "glimstep-load-speed-bench"; }

std::string SoundName(int i) {
    char name[24];
    std::snprintf(name, sizeof name, "snd%03d.ogg", i);
    return name;
}

// Key sounds of 0.2 to 0.7 s and, every 40th, a phrase of 4.8 s: a few partials and some noise
// under a decay, different in each file. 447 s in all.
double SoundSeconds(int i) { return i % (kSounds / kLongSounds) == 0 ? 4.8 : 0.2 + 0.5 * ((i * 37) % 100) / 100.0; }

void WriteSound(const fs::path& path, int i) {
    if (fs::exists(path)) return;
    const int frames = static_cast<int>(SoundSeconds(i) * kRate);
    std::vector<float> samples(2 * static_cast<size_t>(frames));
    std::minstd_rand noise(static_cast<unsigned>(i) + 1);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    const double base = 110.0 * std::pow(2.0, (i % 36) / 12.0);
    for (int k = 0; k < frames; ++k) {
        const double t = static_cast<double>(k) / kRate;
        const double decay = std::exp(-3.0 * t / SoundSeconds(i));
        const double tone = 0.5 * std::sin(2 * M_PI * base * t) + 0.2 * std::sin(2 * M_PI * base * 2.01 * t) +
                            0.1 * std::sin(2 * M_PI * base * 3.02 * t);
        samples[2 * k] = static_cast<float>(decay * (tone + 0.05 * uniform(noise)));
        samples[2 * k + 1] = static_cast<float>(decay * (0.9 * tone + 0.05 * uniform(noise)));
    }
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 2;
    info.format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    const fs::path partial = path.string() + ".part";
    SNDFILE* file = sf_open(partial.c_str(), SFM_WRITE, &info);
    if (file == nullptr) return;
    sf_writef_float(file, samples.data(), frames);
    sf_close(file);
    fs::rename(partial, path);
}

// Base-36 slot numbers, as extended charts with more than 255 sounds write them.
std::string Slot(int n) {
    const char* digits = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    return {digits[n / 36], digits[n % 36]};
}

fs::path WritePackage() {
    const fs::path dir = Folder();
    fs::create_directories(dir);
    std::ofstream chart(dir / "package.bms", std::ios::binary);
    chart << "#TITLE load speed\r\n#BPM 150\r\n";
    for (int i = 0; i < kSounds; ++i) {
        WriteSound(dir / SoundName(i), i);
        chart << "#WAV" << Slot(i + 1) << ' ' << SoundName(i) << "\r\n";
    }
    // Every sound once, eight a measure on the background channel.
    for (int m = 0; m < kSounds / 8; ++m) {
        char line[16];
        std::snprintf(line, sizeof line, "#%03d01:", m);
        chart << line;
        for (int k = 0; k < 8; ++k) chart << Slot(1 + m * 8 + k);
        chart << "\r\n";
    }
    return dir / "package.bms";
}

struct Run {
    double seconds = 0;
    double peakMb = 0;
};

// Starts `args` with the dummy SDL drivers; null when it cannot be started.
pid_t Spawn(const std::vector<std::string>& args, int stdoutFd = -1) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
    else posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? pid : 0;
}

// Waits for the child; its peak resident memory in MB, -1 when it failed.
double Reap(pid_t pid) {
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// oggdec on `jobs` processes, each decoding its share of the files to nowhere.
Run PlainDecode(unsigned jobs) {
    const auto start = Clock::now();
    std::vector<pid_t> children;
    for (unsigned j = 0; j < jobs; ++j) {
        std::vector<std::string> args = {"oggdec", "--quiet", "--raw", "-o", "/dev/null"};
        for (int i = static_cast<int>(j); i < kSounds; i += static_cast<int>(jobs))
            args.push_back((Folder() / SoundName(i)).string());
        children.push_back(Spawn(args));
    }
    Run run;
    for (pid_t child : children) run.peakMb = std::max(run.peakMb, child > 0 ? Reap(child) : -1);
    run.seconds = Since(start);
    if (run.peakMb < 0) run.seconds = -1;
    return run;
}

Run Info(const std::string& info, const fs::path& chart) {
    const auto start = Clock::now();
    const pid_t child = Spawn({info, "--extended", chart.string()});
    Run run;
    run.peakMb = child > 0 ? Reap(child) : -1;
    run.seconds = run.peakMb < 0 ? -1 : Since(start);
    return run;
}

// The player, run by this program in a child process: the time until it has written
// "Play Start!!", told by the child through a pipe.
Run Player(const fs::path& chart) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return {-1, -1};
    const auto start = Clock::now();
    const pid_t child = Spawn({"/proc/self/exe", "--player", chart.string()}, pipeFds[1]);
    close(pipeFds[1]);
    char mark = 0;
    const bool told = read(pipeFds[0], &mark, 1) == 1;
    Run run;
    run.seconds = Since(start);
    close(pipeFds[0]);
    run.peakMb = child > 0 ? Reap(child) : -1;
    if (!told || run.peakMb < 0) run.seconds = -1;
    return run;
}

// What the program block does, up to the moment the engine has drawn "Play Start!!": that comes
// right after the timeline is built, before the pause after loading, whose first look at the
// window tells this process's parent.
int PlayUntilPlayStart(const std::string& chart) {
    std::shared_ptr<engine::SoundPrefetch> prefetch =
        app::PrefetchChartSounds(app::ParseCommandLine({"--extended", chart}));
    gui::Application application;
    application.SetExeName((fs::temp_directory_path() / "glimstep-load-speed-bench" / "glimstep").string());
    application.Initialize();
    auto mainForm = std::make_unique<app::Tmain>(application, std::vector<std::string>{"--extended", chart});
    play::CreateDM();
    auto settings = std::make_unique<app::TF_Set>(application, *mainForm->SettingsFile);
    mainForm->SetSettingsDialog(settings.get());
    mainForm->SetSoundPrefetch(std::move(prefetch));
    mainForm->Show();
    bool wrapped = false, told = false;
    while (!told && application.ProcessMessages()) {
        if (mainForm->Closed()) break;
        if (wrapped || !mainForm->Engine || mainForm->Step != play::kStepLoad) continue;
        engine::TBMS& bms = *mainForm->Engine;
        bms.Options.OnProgress = [&bms, &told, hook = bms.Options.OnProgress] {
            if (!told && bms.Chart().Count() > 0) {
                told = write(STDOUT_FILENO, "!", 1) == 1;
                return false;
            }
            return hook();
        };
        wrapped = true;
    }
    settings.reset();
    play::DestroyDM();
    mainForm.reset();
    return told ? 0 : 1;
}

// The load average over the last minute, or -1.
double LoadAverage() {
    double load[1] = {-1};
    return getloadavg(load, 1) == 1 ? load[0] : -1;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--player") == 0) return PlayUntilPlayStart(argv[2]);
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_load_speed path/to/glimstep-info\n");
        return 2;
    }
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    std::fprintf(stderr, "writing the package (once; kept in %s)...\n", Folder().c_str());
    const fs::path chart = WritePackage();
    const unsigned jobs = gui::ThreadPool::MachineThreads();
    double soundSeconds = 0;
    for (int i = 0; i < kSounds; ++i) soundSeconds += SoundSeconds(i);
    std::printf("%d Ogg Vorbis sounds, %.0f s of 44.1 kHz stereo sound (%.0f MB as 16-bit samples), %u decode jobs\n",
                kSounds, soundSeconds, soundSeconds * kRate * 4 / 1e6, jobs);
    // One warm-up round fills the page cache; then three rounds, side by side.
    PlainDecode(jobs);
    const double loadBefore = LoadAverage();
    std::vector<double> plain, info, player, infoPeak, playerPeak, plainPeak;
    for (int round = 0; round < 3; ++round) {
        const Run p = PlainDecode(jobs), i = Info(argv[1], chart), s = Player(chart);
        if (p.seconds < 0 || i.seconds < 0 || s.seconds < 0) {
            std::fprintf(stderr, "bench_load_speed: a run failed (oggdec %.2f, info %.2f, player %.2f)\n", p.seconds,
                         i.seconds, s.seconds);
            return 1;
        }
        std::printf("round %d: oggdec %.2f s, glimstep-info %.2f s, player to \"Play Start!!\" %.2f s\n", round + 1,
                    p.seconds, i.seconds, s.seconds);
        plain.push_back(p.seconds);
        info.push_back(i.seconds);
        player.push_back(s.seconds);
        plainPeak.push_back(p.peakMb);
        infoPeak.push_back(i.peakMb);
        playerPeak.push_back(s.peakMb);
    }
    const double base = Median(plain);
    std::printf("load average (1 min) %.2f before the rounds, %.2f after\n", loadBefore, LoadAverage());
    std::printf("oggdec on %u jobs (median)            %.2f s                 peak %.0f MB per job\n", jobs, base,
                Median(plainPeak));
    std::printf("glimstep-info --extended (median)     %.2f s  %.2f x oggdec  peak %.0f MB\n", Median(info),
                Median(info) / base, Median(infoPeak));
    std::printf("player to \"Play Start!!\" (median)     %.2f s  %.2f x oggdec  peak %.0f MB\n", Median(player),
                Median(player) / base, Median(playerPeak));
    return 0;
}
