// Start-up time of the programs: spawns each one many times and prints the median and the 90th
// percentile of the time from the spawn to its end (`glimstep --version`, which ends where the
// command line has been read, before any display or sound; glimstep-info on a one-line chart; a
// chart editor's hand-over launch `glimstep -P -N<m> chart` while a viewer plays, and `glimstep -S`
// with none) and to the settings dialog's first frame on an Xvfb display, with the machine's load
// before and after.
//     bench_startup [PROGRAM_FOLDER [RUNS]]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string LoadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Starts `args` with its output discarded and `env` added to the environment (NAME=VALUE, or
// NAME= to remove NAME).
pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const bool replaced = std::any_of(env.begin(), env.end(), [&](const std::string& change) {
            return entry.compare(0, change.find('=') + 1, change, 0, change.find('=') + 1) == 0;
        });
        if (!replaced) environment.push_back(entry);
    }
    for (const std::string& change : env)
        if (change.back() != '=') environment.push_back(change);
    std::vector<char*> argv, envp;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

struct Figures {
    double median = 0;
    double p90 = 0;
    double best = 0;
};

Figures Summarise(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    const size_t n = times.size();
    return {n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2, times[(n * 9 + 9) / 10 - 1], times.front()};
}

// The time from the spawn of `args` (with `env` as Spawn takes it) to its end, `runs` times after
// two runs that warm the caches.
std::optional<Figures> TimeToExit(const std::vector<std::string>& args, int runs,
                                  const std::vector<std::string>& env = {}) {
    std::vector<double> times;
    for (int run = -2; run < runs; ++run) {
        const Clock::time_point start = Clock::now();
        const pid_t pid = Spawn(args, env);
        int status = 0;
        if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "bench_startup: %s did not end well\n", args[0].c_str());
            return std::nullopt;
        }
        if (run >= 0) times.push_back(Ms(Clock::now() - start));
    }
    return Summarise(times);
}

// An Xvfb server on a display of its own, for as long as the object lives.
class Xvfb {
public:
    Xvfb() {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_ = Spawn({"/usr/bin/Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1024x768x24", "-nolisten",
                      "tcp"},
                     {});
        close(fds[1]);
        // Xvfb writes its display number when it takes connections.
        char number[16] = {};
        const ssize_t got = pid_ > 0 ? read(fds[0], number, sizeof number - 1) : -1;
        close(fds[0]);
        if (got > 0) display_ = ":" + std::string(number, static_cast<size_t>(std::strcspn(number, "\n")));
    }
    ~Xvfb() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    const std::string& Display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

// Whether `window` shows more than one colour: a frame has been drawn into it.
bool Drawn(xcb_connection_t* x, xcb_window_t window) {
    const std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> geometry(
        xcb_get_geometry_reply(x, xcb_get_geometry(x, window), nullptr), &std::free);
    if (!geometry) return false;
    const std::unique_ptr<xcb_get_image_reply_t, decltype(&std::free)> image(
        xcb_get_image_reply(x,
                            xcb_get_image(x, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0, geometry->width, geometry->height,
                                          ~0u),
                            nullptr),
        &std::free);
    if (!image) return false;
    const auto* pixels = reinterpret_cast<const uint32_t*>(xcb_get_image_data(image.get()));
    const int count = xcb_get_image_data_length(image.get()) / 4;
    for (int i = 1; i < count; ++i)
        if ((pixels[i] & 0xFFFFFF) != (pixels[0] & 0xFFFFFF)) return true;
    return false;
}

// The time from the spawn of `glimstep` without a chart to the settings dialog's first frame on
// the display, `runs` times after two warm-up runs; each run is then ended with SIGTERM.
std::optional<Figures> TimeToDialog(const std::string& glimstep, int runs) {
    const Xvfb server;
    if (server.Display().empty()) return std::nullopt;
    xcb_connection_t* x = xcb_connect(server.Display().c_str(), nullptr);
    if (xcb_connection_has_error(x)) {
        xcb_disconnect(x);
        return std::nullopt;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(x);
    std::vector<double> times;
    for (int run = -2; run < runs; ++run) {
        const Clock::time_point start = Clock::now();
        const pid_t pid = Spawn({glimstep}, {"DISPLAY=" + server.Display(), "SDL_VIDEODRIVER=", "SDL_AUDIODRIVER=dummy"});
        if (pid < 0) break;
        std::vector<xcb_window_t> mapped;
        bool shown = false;
        while (!shown && Clock::now() - start < std::chrono::seconds(20)) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(x)) {
                if ((event->response_type & 0x7F) == XCB_MAP_NOTIFY)
                    mapped.push_back(reinterpret_cast<xcb_map_notify_event_t*>(event)->window);
                std::free(event);
            }
            for (const xcb_window_t window : mapped) shown = shown || Drawn(x, window);
            if (!shown) std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        const double ms = Ms(Clock::now() - start);
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        if (!shown) {
            std::fprintf(stderr, "bench_startup: the settings dialog did not appear\n");
            xcb_disconnect(x);
            return std::nullopt;
        }
        if (run >= 0) times.push_back(ms);
    }
    xcb_disconnect(x);
    return Summarise(times);
}

// Whether `pid` ended within `limit`; it is killed when it did not.
bool Ended(pid_t pid, std::chrono::seconds limit) {
    const Clock::time_point start = Clock::now();
    while (Clock::now() - start < limit) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return false;
}

// The hand-over launches of a chart editor: a viewer plays `chart` (dummy video and sound, with a
// runtime folder of its own, so that no other viewer of the user's is reached); then each run
// times `glimstep -P -N<m> chart` from its spawn to its end, the hand-over included.
std::optional<Figures> TimeHandOver(const std::string& glimstep, const fs::path& chart, const fs::path& runtime,
                                    int runs) {
    const std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + runtime.string(), "SDL_VIDEODRIVER=dummy",
                                          "SDL_AUDIODRIVER=dummy"};
    const pid_t viewer = Spawn({glimstep, "-P", "-N0", chart.string()}, env);
    if (viewer < 0) return std::nullopt;
    const fs::path socket = runtime / "glimstep-viewer.sock";
    const Clock::time_point start = Clock::now();
    std::error_code ec;
    while (!fs::is_socket(socket, ec) && Clock::now() - start < std::chrono::seconds(20) &&
           waitpid(viewer, nullptr, WNOHANG) == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::optional<Figures> figures;
    if (fs::is_socket(socket, ec)) {
        std::vector<double> times;
        // A launch with no viewer to hand over to would play for an hour itself.
        for (int run = -2; run < runs && waitpid(viewer, nullptr, WNOHANG) == 0; ++run) {
            const std::string measure = "-N" + std::to_string((run + 2) % 8);
            const std::optional<Figures> one = TimeToExit({glimstep, "-P", measure, chart.string()}, 1, env);
            if (!one) break;
            if (run >= 0) times.push_back(one->median);
        }
        if (times.size() == static_cast<size_t>(runs)) figures = Summarise(times);
    } else {
        std::fprintf(stderr, "bench_startup: the viewer did not listen\n");
    }
    const pid_t stop = Spawn({glimstep, "-S"}, env);
    if (stop > 0) waitpid(stop, nullptr, 0);
    if (!Ended(viewer, std::chrono::seconds(20))) std::fprintf(stderr, "bench_startup: the viewer did not stop\n");
    return figures;
}

void Row(const char* name, const std::optional<Figures>& figures) {
    if (figures)
        std::printf("%-44s median %6.1f ms   90%% %6.1f ms   best %6.1f ms\n", name, figures->median, figures->p90,
                    figures->best);
    else
        std::printf("%-44s (not run)\n", name);
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path folder = argc > 1 ? fs::path(argv[1]) : fs::path(GLIMSTEP_BINARY_DIR);
    const int runs = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 10000) : 50;
    const fs::path chart = fs::temp_directory_path() / ("glimstep-startup-" + std::to_string(getpid()) + ".bms");
    std::ofstream(chart) << "#TITLE one line\r\n";
    // An hour of play: the viewer plays on while the launches hand over to it.
    const fs::path longChart = fs::temp_directory_path() / ("glimstep-startup-" + std::to_string(getpid()) + "-long.bms");
    std::ofstream(longChart) << "#BPM 60\r\n#00111:01\r\n#99911:01\r\n";
    const fs::path runtime = fs::temp_directory_path() / ("glimstep-startup-" + std::to_string(getpid()) + "-run");
    fs::create_directory(runtime);
    fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);

    std::printf("start-up of the programs in %s, %d runs each; load average %s\n", folder.c_str(), runs,
                LoadAverage().c_str());
    Row("spawning /bin/true (the floor)", TimeToExit({"/bin/true"}, runs));
    Row("glimstep --version", TimeToExit({(folder / "glimstep").string(), "--version"}, runs));
    Row("glimstep-info, one-line chart", TimeToExit({(folder / "glimstep-info").string(), chart.string()}, runs));
    Row("glimstep -S, no viewer running", TimeToExit({(folder / "glimstep").string(), "-S"}, runs,
                                                   {"XDG_RUNTIME_DIR=" + runtime.string()}));
    Row("glimstep -P -N<m> chart, handing over", TimeHandOver((folder / "glimstep").string(), longChart, runtime, runs));
    Row("glimstep, settings dialog's first frame (Xvfb)", TimeToDialog((folder / "glimstep").string(), std::max(1, runs / 5)));
    std::printf("load average after: %s\n", LoadAverage().c_str());
    fs::remove(chart);
    fs::remove(longChart);
    fs::remove_all(runtime);
    return 0;
}
