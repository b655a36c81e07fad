// glimstep-render CHART -o OUT: plays a chart as the player does, from loading through the
// lead-in to the end, against a clock it advances itself one virtual frame at a time, and writes
// the mixed sound into a WAV file, or the pictures and the sound into a video file (and, with
// --frames, the pictures as BMP files) as fast as the machine allows. No display and no sound card
// are involved.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/BMCore.h"
#include "app/ScreenSettings.h"
#include "engine/BMSEngine.h"
#include "engine/ExtendedReader.h"
#include "gui/Application.h"
#include "gui/BmpEncode.h"
#include "gui/Clock.h"
#include "gui/Convert.h"
#include "gui/Exception.h"
#include "gui/IniFile.h"
#include "gui/Screen.h"
#include "media/DXClass.h"
#include "media/DXDraws.h"
#include "media/DXSounds.h"
#include "media/MPlayer.h"
#include "play/DM.h"
#include "play/PlaySteps.h"
#include "play/TapoModule.h"
#include "RenderOutput.h"

namespace {

namespace fs = std::filesystem;

constexpr int kRate = 44100;
constexpr uint64_t kMaxWavDataBytes = 0xFFFFFFFFu - 64;
constexpr int kSynthBlockFrames = 2048;
constexpr const char* kUsage =
    "usage: glimstep-render CHART -o OUT [-N MEASURE] [--scale N] [--quality N] [--fps N] [--speed PERCENT]\n"
    "                       [--frames DIR] [--frame-every N] [--settings settings.ini] [--extended] [--seed N]\n"
    "Plays CHART offline into OUT: by its extension, .wav for the sound (44.1 kHz 16-bit stereo),\n"
    ".mp4 (H.264, AAC), .webm (VP9, Opus) or .mkv (H.264, FLAC) for a video of the play; with\n"
    "--frames, also the 320x240 frames into DIR as BMP pictures.\n"
    "  -N MEASURE         start from measure MEASURE (0 to 999) after the lead-in, as the\n"
    "                     player's -N does; also -NMEASURE\n"
    "  --scale N          video: each pixel becomes N x N pixels, 1 to 6 (default 3: 960x720)\n"
    "  --quality N        video: 1 (smallest file) to 5 (best picture and sound), default 3\n"
    "  --fps N            virtual frame rate, and the video's (default 60)\n"
    "  --speed PERCENT    play speed, 100 = normal (overrides the settings file)\n"
    "  --frames DIR       also write the frames as DIR/frame-NNNNNN.bmp\n"
    "  --frame-every N    write only every Nth frame (default 1)\n"
    "  --settings FILE    take speed, BGA mode, fit mode, Hidden, ShowParams and the\n"
    "                     extended reading ([Chart] Extended) from FILE\n"
    "  --extended         read the chart in the extended dialect (every channel); .bme, .bml\n"
    "                     and .pms charts always are\n"
    "  --seed N           seed for the #RANDOM and #SWITCH draws of the extended reading\n"
    "  --help             print this help and exit\n"
    "  --version          print the version and exit\n";

struct Options {
    std::string chart;
    std::string out;
    std::optional<media::VideoKind> video;  // none: a WAV file
    std::optional<int> scale;
    std::optional<int> quality;
    int fps = 60;
    int startMeasure = 0;
    std::optional<int> speed;
    std::string framesDir;
    int frameEvery = 1;
    std::string settingsFile;
    bool extended = false;
    std::optional<uint64_t> seed;
    bool help = false;
    bool version = false;
};

struct UsageError {
    std::string message;
};

int ParseNumber(const std::string& option, const std::string& text, int low, int high) {
    uint64_t value = 0;
    if (!gui::TryStrToUInt64(text, value) || value < static_cast<uint64_t>(low) || value > static_cast<uint64_t>(high))
        throw UsageError{option + " wants a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
                         ", not \"" + text + "\""};
    return static_cast<int>(value);
}

uint64_t ParseSeed(const std::string& text) {
    uint64_t value = 0;
    if (!gui::TryStrToUInt64(text, value))
        throw UsageError{"--seed wants a whole number from 0 to 18446744073709551615, not \"" + text + "\""};
    return value;
}

Options ParseArguments(const std::vector<std::string>& args) {
    Options o;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::optional<std::string> value;
        if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
            value = arg.substr(arg.find('=') + 1);
            arg = arg.substr(0, arg.find('='));
        }
        // -N takes its measure joined (-N12) or apart (-N 12), as the player does.
        if (arg.size() > 2 && arg.rfind("-N", 0) == 0) {
            value = arg.substr(2);
            arg = "-N";
        }
        const bool takesValue = arg == "-o" || arg == "-N" || arg == "--fps" || arg == "--speed" || arg == "--frames" ||
                                arg == "--frame-every" || arg == "--settings" || arg == "--seed" ||
                                arg == "--scale" || arg == "--quality";
        if (takesValue && !value) {
            if (i + 1 >= args.size()) throw UsageError{arg + " needs a value"};
            value = args[++i];
        }
        if (arg == "-o") o.out = *value;
        else if (arg == "-N") o.startMeasure = ParseNumber(arg, *value, 0, app::kMaxStartMeasure);
        else if (arg == "--scale") o.scale = ParseNumber(arg, *value, 1, 6);
        else if (arg == "--quality") o.quality = ParseNumber(arg, *value, media::kMinQuality, media::kMaxQuality);
        else if (arg == "--fps") o.fps = ParseNumber(arg, *value, 1, 1000);
        else if (arg == "--speed") o.speed = ParseNumber(arg, *value, 1, 1000);
        else if (arg == "--frames") o.framesDir = *value;
        else if (arg == "--frame-every") o.frameEvery = ParseNumber(arg, *value, 1, 1000000);
        else if (arg == "--settings") o.settingsFile = *value;
        else if (arg == "--extended") o.extended = true;
        else if (arg == "--seed") o.seed = ParseSeed(*value);
        else if (arg == "-h" || arg == "--help") o.help = true;
        else if (arg == "--version") o.version = true;
        else if (arg.size() > 1 && arg[0] == '-') throw UsageError{"unknown option " + arg};
        else if (!o.chart.empty()) throw UsageError{"more than one chart: " + o.chart + ", " + arg};
        else o.chart = arg;
    }
    if (o.help || o.version) return o;
    if (o.chart.empty()) throw UsageError{"no chart given"};
    if (o.out.empty()) throw UsageError{"no output file given (-o OUT.wav, OUT.mp4, OUT.webm or OUT.mkv)"};
    o.video = media::VideoKindOf(o.out);
    if (!o.video && gui::UpperCase(fs::path(o.out).extension().string()) != ".WAV")
        throw UsageError{"cannot tell from its extension what to write into " + o.out +
                         ": name a .wav, .mp4, .webm or .mkv file"};
    if (!o.video && (o.scale || o.quality)) throw UsageError{"--scale and --quality are for video files"};
    if (!o.settingsFile.empty() && !fs::is_regular_file(o.settingsFile))
        throw UsageError{"no settings file " + o.settingsFile};
    return o;
}

// The output file while it is being written: a temporary file beside it, renamed over it only
// when the whole play has been rendered and removed otherwise.
// The temporary file's name for the interrupt handler, which may only unlink and exit.
char interruptedFile[4096];

extern "C" void RemoveAndExit(int signal) {
    if (interruptedFile[0] != '\0') unlink(interruptedFile);
    _exit(128 + signal);
}

class PendingFile {
public:
    explicit PendingFile(const std::string& path)
        : path_(path), temporary_(path + ".part-" + std::to_string(getpid())) {
        if (temporary_.size() < sizeof interruptedFile) {
            std::copy(temporary_.begin(), temporary_.end(), interruptedFile);
            interruptedFile[temporary_.size()] = '\0';
            std::signal(SIGINT, RemoveAndExit);
            std::signal(SIGTERM, RemoveAndExit);
            std::signal(SIGHUP, RemoveAndExit);
        }
    }
    ~PendingFile() {
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        std::signal(SIGHUP, SIG_DFL);
        if (!committed_) {
            std::error_code ec;
            fs::remove(temporary_, ec);
        }
    }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    const std::string& Temporary() const { return temporary_; }
    // Creates the temporary file, so that an output that cannot be written is told before the
    // render; returns why it cannot be, empty when it can.
    std::string Create() const {
        std::error_code ec;
        if (fs::is_directory(path_, ec)) return "it is a folder";
        const int fd = open(temporary_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (fd < 0) return std::strerror(errno);
        close(fd);
        return {};
    }
    void Commit() {
        fs::rename(temporary_, path_);
        committed_ = true;
    }

private:
    std::string path_;
    std::string temporary_;
    bool committed_ = false;
};

void WriteFrame(const std::string& path, const media::TDirectDrawSurface& surface) {
    const gui::PixelBuffer buffer = surface.Buffer();
    const std::vector<uint8_t> bmp = gui::EncodeBmp24(buffer.width, buffer.height, [&buffer](int x, int y) {
        return gui::PixelToXrgb(buffer.Get(x, y), buffer.format, buffer.palette);
    });
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bmp.data()), static_cast<std::streamsize>(bmp.size()));
    file.close();
    if (!file) throw gui::EWriteError(gui::Format("ファイル %s に書き込めません", path.c_str()));
}

std::string FrameFileName(const std::string& dir, int32_t frame) {
    char name[32];
    std::snprintf(name, sizeof name, "frame-%06d.bmp", static_cast<int>(frame));
    return (fs::path(dir) / name).string();
}

// The share of the song done, the speed and the time left, on one line of a terminal that is
// redrawn; elsewhere nothing until the end, and then one line (when `finalLine`).
class ProgressBar {
public:
    ProgressBar(bool terminal, bool finalLine) : terminal_(terminal), finalLine_(finalLine) {}
    // `soundSeconds` written so far, `leftSeconds` of the song still to write.
    void Show(double fraction, double elapsedSeconds, double soundSeconds, double leftSeconds) {
        fraction = std::clamp(fraction, 0.0, 1.0);
        const int percent = static_cast<int>(fraction * 100);
        if (!terminal_ || (percent == lastPercent_ && elapsedSeconds - lastShown_ < 0.5)) return;
        lastPercent_ = percent;
        lastShown_ = elapsedSeconds;
        constexpr int kWidth = 40;
        const int filled = percent * kWidth / 100;
        const double speed = elapsedSeconds > 0 ? soundSeconds / elapsedSeconds : 0;
        const int left = speed > 0 ? static_cast<int>(std::max(leftSeconds, 0.0) / speed + 0.5) : 0;
        std::fprintf(stderr, "\r[%s%s] %3d%%  %5.1f x real time  %d:%02d left ",
                     std::string(static_cast<size_t>(filled), '#').c_str(),
                     std::string(static_cast<size_t>(kWidth - filled), '.').c_str(), percent, speed, left / 60,
                     left % 60);
        std::fflush(stderr);
    }
    void Finish(const std::string& out, double elapsedSeconds, double soundSeconds) {
        if (terminal_ && lastPercent_ >= 0) std::fprintf(stderr, "\n");
        if (!terminal_ && finalLine_)
            std::fprintf(stderr, "glimstep-render: %s: %.1f s written in %.1f s, %.1f x real time\n", out.c_str(),
                         soundSeconds, elapsedSeconds, elapsedSeconds > 0 ? soundSeconds / elapsedSeconds : 0.0);
    }

private:
    bool terminal_;
    bool finalLine_;
    int lastPercent_ = -1;
    double lastShown_ = 0;
};

struct Summary {
    std::string description;
    double wavSeconds = 0;
    double songStartSeconds = 0;
    int objectsTriggered = 0;
    int objects = 0;
    int soundsPlayed = 0;
    int frames = 0;
    int pictures = 0;
    // Files the chart names that are not there (each listed on stderr as the chart loads).
    int missingFiles = 0;
    double wallSeconds = 0;
};

class Renderer {
public:
    Renderer(const Options& options, const app::TScreenSettings& settings)
        : options_(options),
          settings_(settings),
          dxd_(nullptr),
          sound_(nullptr),
          timer_(application_),
          playSettings_(app::PlaySettingsOf(settings)) {
        // As the main form sets its components up.
        dxd_.SetSurfaceWidth(gui::kScreenWidth);
        dxd_.SetSurfaceHeight(gui::kScreenHeight);
        dxd_.Display().SetBitCount(16);
        sound_.SetOffline(true);
        sound_.OnInitialize = [](media::TDXSound& sound) {
            media::TWaveFormatEx format;
            media::MakePcmFormat(format, kRate, 16, 2);
            sound.Primary()->SetFormat(format);
        };
        sound_.Initialize();
        // The mix is rendered in step with the virtual frames: its frames are the song clock.
        sound_.Mixer().SetOfflineClock(true);
        playSettings_.FramePeriodMs = 1000.0 / options.fps;
        playSettings_.StartMeasure = options.startMeasure;
        play::CreateDM();
        timer_.SetActiveOnly(false);
        timer_.SetInterval(1);
        timer_.OnTimer = [this](media::TCustomDXTimer&, int) { Tick(); };
    }

    ~Renderer() {
        engine_.reset();
        play::DestroyDM();
    }

    // Renders the whole play into the output file; returns the failure message, empty on success.
    std::string Run(PendingFile& output, Summary& summary) {
        const auto wallStart = std::chrono::steady_clock::now();
        ProgressBar progress(isatty(STDERR_FILENO) != 0, options_.video.has_value());

        if (!app::IsChartName(options_.chart)) return app::Tmain::kNotAChartMessage;
        exitMessage_ = app::Tmain::kDefaultExitMessage;
        engine_ = std::make_unique<engine::TBMS>(&dxd_, &sound_);
        try {
            app::ApplyToEngine(settings_, *engine_);
        } catch (const gui::Exception&) {
            return "ステップ0において異常あり";
        }
        if (options_.speed) engine_->PlaySpeed = *options_.speed;
        engine_->Options.Extended = options_.extended || app::IsExtendedChartName(options_.chart);
        if (options_.seed) engine_->Options.DrawRandom = engine::SeededDraw(*options_.seed);
        // Most of the work is the MIDI synthesiser's: it renders on every core, in long blocks.
        const unsigned cores = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
        engine_->MediaPlayer->SetSynthThreads(static_cast<int>(cores));
        engine_->MediaPlayer->SetSynthBlock(kSynthBlockFrames);
        // Every run shows the same movie pictures at the same virtual times.
        engine_->Options.MovieTiming = media::Movie::Timing::Exact;

        std::optional<media::VideoSettings> video;
        if (options_.video) {
            video.emplace();
            video->kind = *options_.video;
            video->scale = options_.scale.value_or(3);
            video->quality = options_.quality.value_or(media::kDefaultQuality);
            video->fps = options_.fps;
        }
        RenderOutput sink(output.Temporary(), kRate, video);
        summary.description = sink.Description();

        timer_.Loaded();
        step_ = play::kStepLoad;
        uint64_t frame = 0;
        std::vector<int16_t> block;
        std::optional<uint64_t> songStart;
        double songEndMs = 0;
        while (step_ != play::kStepEnd) {
            gui::Clock::Set(ClockAt(rendered_));
            const int32_t stepBefore = step_;
            played_ = false;
            // Only the pictures that are written are drawn.
            drawPicture_ = sink.IsVideo() ||
                           (!options_.framesDir.empty() && play::State().FrameNumber % options_.frameEvery == 0);
            timer_.IdleStep();
            if (stepBefore == play::kStepLoad && step_ == play::kStepBeforePlay) {
                songEndMs = engine_->Chart().EndTime() - engine_->StartTime();
                // Refused before hours of sound are rendered only to be thrown away.
                const double seconds = 3.0 + songEndMs / engine_->PlaySpeed / 10.0;
                if (!sink.IsVideo() && seconds * kRate * 4 > kMaxWavDataBytes) return TooLong(seconds);
            }
            if (stepBefore == play::kStepStart && step_ == play::kStepPlay) {
                // A playing MIDI file is the song clock itself: the song starts with it, without
                // the lead-in.
                songStart = rendered_;
                if (engine_->MediaPlayer->Mode() != media::mpPlaying) songStart = *songStart + 2 * kRate;
            }
            if (played_) {
                SaveFrame(summary);
                if (engine_->BgaDisplayMode < 2 && dxd_.Surface()->IsCreated()) sink.Picture(*dxd_.Surface());
            }

            // Time the step took (the pause after loading) is heard as it passed, with the picture
            // standing; then the frame runs to the next frame boundary.
            const uint64_t stepEnd = std::max(rendered_, SamplesAt(gui::Clock::Now()));
            while (FrameStart(frame) <= stepEnd) ++frame;
            sink.ShowUntil(frame);
            Render(sink, block, FrameStart(frame) - rendered_);

            if (songStart) {
                const double played = (static_cast<double>(rendered_) - static_cast<double>(*songStart)) / kRate;
                const double songSeconds = songEndMs / engine_->PlaySpeed / 10.0;
                progress.Show(played / songSeconds, Seconds(wallStart), static_cast<double>(rendered_) / kRate,
                              songSeconds - played);
            }
        }
        if (!exitMessage_.empty()) {
            progress.Finish({}, 0, 0);
            return exitMessage_;
        }
        sink.Finish();
        progress.Finish(options_.out, Seconds(wallStart), static_cast<double>(rendered_) / kRate);
        output.Commit();

        summary.wavSeconds = static_cast<double>(rendered_) / kRate;
        // A play from past the end is over before its lead-in.
        summary.songStartSeconds = songStart ? static_cast<double>(std::min(*songStart, rendered_)) / kRate : 0;
        CountObjects(summary);
        summary.missingFiles = static_cast<int>(engine_->Slots().Missing.size());
        summary.frames = play::State().FrameNumber;
        summary.wallSeconds = Seconds(wallStart);
        return {};
    }

private:
    static double Seconds(std::chrono::steady_clock::time_point since) {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
    }
    // The clock reads whole milliseconds of the samples rendered so far.
    static uint32_t ClockAt(uint64_t samples) { return static_cast<uint32_t>(samples * 1000 / kRate); }
    static uint64_t SamplesAt(uint32_t ms) { return (uint64_t{ms} * kRate + 999) / 1000; }
    // Frame k starts at k/fps seconds, to the sample, however long the run.
    uint64_t FrameStart(uint64_t frame) const { return frame * kRate / static_cast<uint64_t>(options_.fps); }

    static std::string TooLong(double seconds) {
        return gui::Format("the song lasts %.0f minutes, longer than a WAV file can hold (about 405 minutes)",
                           seconds / 60);
    }

    void Tick() {
        played_ = step_ == play::kStepPlay;
        try {
            play::FrameInput input;
            input.NowMs = gui::Clock::Now();
            input.FrameRate = timer_.FrameRate();
            input.DrawPicture = drawPicture_;
            play::RunPlayStep(step_, application_, dxd_, *engine_, options_.chart, exitMessage_, playSettings_, input);
        } catch (const gui::Exception&) {
            exitMessage_ = "ステップ" + std::to_string(step_) + "において異常あり";
            step_ = play::kStepEnd;
        }
    }

    void Render(RenderOutput& sink, std::vector<int16_t>& block, uint64_t frames) {
        if (frames == 0) return;
        // A WAV file counts its data in 32 bits: about 6 h 45 min of 44.1 kHz stereo.
        if (!sink.IsVideo() && (rendered_ + frames) * 4 > kMaxWavDataBytes)
            throw gui::EWriteError(TooLong(static_cast<double>(rendered_ + frames) / kRate));
        block.resize(static_cast<size_t>(frames) * 2);
        sound_.Render(block.data(), static_cast<int>(frames));
        sink.Sound(block.data(), static_cast<size_t>(frames));
        rendered_ += frames;
    }

    void SaveFrame(Summary& summary) {
        if (options_.framesDir.empty() || engine_->BgaDisplayMode >= 2 || !dxd_.Surface()->IsCreated()) return;
        const int32_t number = play::State().FrameNumber;
        if ((number - 1) % options_.frameEvery != 0) return;
        WriteFrame(FrameFileName(options_.framesDir, number), *dxd_.Surface());
        ++summary.pictures;
    }

    void CountObjects(Summary& summary) const {
        const engine::TMediaSlots& slots = engine_->Slots();
        const int32_t reached = play::State().TriggeredUpTo;
        for (const engine::TChartObject& o : engine_->Chart().Objects()) {
            ++summary.objects;
            if (o.Position > reached) continue;
            ++summary.objectsTriggered;
            const int slot = o.Value;
            if (o.Kind < 100 && slot >= 0 && slot < slots.Count() && slots.SoundState[static_cast<size_t>(slot)] >= 0 &&
                slots.Sounds[static_cast<size_t>(slot)] != nullptr)
                ++summary.soundsPlayed;
        }
    }

    const Options& options_;
    app::TScreenSettings settings_;
    gui::Application application_;
    media::TDXDraw dxd_;
    media::TDXSound sound_;
    media::TDXTimer timer_;
    play::PlaySettings playSettings_;
    std::unique_ptr<engine::TBMS> engine_;
    int32_t step_ = 0;
    bool played_ = false;
    bool drawPicture_ = true;
    std::string exitMessage_;
    uint64_t rendered_ = 0;
};

void PrintSummary(const Options& o, const Summary& s) {
    std::printf("%s: %.2f s of %s: the song from %.2f s to the end, %.2f s long\n", o.out.c_str(), s.wavSeconds,
                o.video ? ("video (" + s.description + ")").c_str() : "sound", s.songStartSeconds,
                s.wavSeconds - s.songStartSeconds);
    std::printf("objects triggered %d of %d, sounds played %d, frames %d", s.objectsTriggered, s.objects,
                s.soundsPlayed, s.frames);
    if (!o.framesDir.empty()) std::printf(" (%d pictures in %s)", s.pictures, o.framesDir.c_str());
    std::printf(", missing files %d", s.missingFiles);
    std::printf("\nrendered in %.2f s: %.1f x real time\n", s.wallSeconds,
                s.wallSeconds > 0 ? s.wavSeconds / s.wallSeconds : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    try {
        options = ParseArguments(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& e) {
        std::fprintf(stderr, "glimstep-render: %s\n%s", e.message.c_str(), kUsage);
        return 2;
    }
    if (options.help || options.version) {
        std::fputs(options.help ? kUsage : "glimstep-render " GLIMSTEP_VERSION "\n", stdout);
        return 0;
    }
    try {
        app::TScreenSettings settings;
        if (!options.settingsFile.empty()) {
            const gui::TIniFile file(options.settingsFile);
            settings = app::ReadScreenSettings(file);
            options.extended = options.extended || app::ReadExtendedReading(file);
        }
        if (!options.framesDir.empty()) fs::create_directories(options.framesDir);
        if (options.video) {
            const std::string missing = media::MissingEncoders(*options.video);
            if (!missing.empty()) {
                std::fprintf(stderr, "glimstep-render: %s\n", missing.c_str());
                return 2;
            }
        }
        gui::Clock::UseManual(0);
        PendingFile output(options.out);
        if (const std::string why = output.Create(); !why.empty()) {
            std::fprintf(stderr, "glimstep-render: cannot write %s: %s\n", options.out.c_str(), why.c_str());
            return 2;
        }
        Summary summary;
        std::string failure;
        {
            Renderer renderer(options, settings);
            failure = renderer.Run(output, summary);
        }
        if (!failure.empty()) {
            std::fprintf(stderr, "glimstep-render: %s: %s\n", options.chart.c_str(), failure.c_str());
            return 1;
        }
        PrintSummary(options, summary);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "glimstep-render: %s\n", e.what());
        return 1;
    }
}
