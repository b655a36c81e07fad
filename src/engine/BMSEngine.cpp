// The engine object: creation, the console and the ticker, loading with its media slots, the
// song clock and sound triggering.
#include "engine/BMSEngine.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <numeric>
#include <optional>
#include <random>
#include <set>
#include <utility>

#include "engine/ExtendedReader.h"
#include "engine/FixedReader.h"
#include "engine/SoundLoader.h"
#include "gui/BmpDecode.h"
#include "gui/Clock.h"
#include "gui/Convert.h"
#include "gui/Exception.h"
#include "gui/FileNames.h"
#include "gui/PictureFile.h"
#include "gui/Screen.h"
#include "gui/ThreadPool.h"
#include "gui/TextEncoding.h"
#include "media/DXDraws.h"
#include "media/DXSounds.h"
#include "media/MPlayer.h"
#include "media/Movie.h"
#include "media/Wave.h"
#include "media/WaveCollection.h"

namespace engine {
namespace {

using gui::kScreenHeight;
using gui::kScreenWidth;
constexpr int kTickerPitch = 16;
// The least time between two calls of the load-progress hook.
constexpr int64_t kProgressIntervalNs = 5'000'000;
// Chart lines read between two looks at the clock.
constexpr size_t kLinesPerProgressCheck = 1024;

using gui::Exception;
GUI_DECLARE_EXCEPTION(ELoadAbandoned, Exception);

}  // namespace

class TBMS::LoadHost : public ReadingHost {
public:
    explicit LoadHost(TBMS& engine) : engine_(engine), folder_(std::filesystem::path(engine.chartFileName_).parent_path()) {}

    void LoadSound(int slot, std::string_view name) override { engine_.media_.LoadSound(slot, name, line); }
    void LoadPicture(int slot, std::string_view name) override { engine_.media_.LoadPicture(slot, name, line); }
    bool ShowsPictures() const override { return engine_.BgaDisplayMode == 0; }
    void AddSlots(int count) override { engine_.media_.AddSlots(count); }
    std::filesystem::path FindFile(std::string_view name) override {
        std::filesystem::path path = gui::FindChartFile(folder_, name);
        if (path.empty()) engine_.media_.NoteMissing(name, {std::string(name)}, line);
        return path;
    }
    void OpenMidi(const std::filesystem::path& path) override { engine_.LoadMidiFile(path); }
    void Echo(const std::string& text) override { engine_.ConsoleLine(text, gui::clAqua); }
    void Drop(const std::string& reason) override { DropLine(line, reason); }
    void Progress() override { engine_.ReportLoadProgress(); }
    double SoundLength(int slot) override {
        // From a measure, most sounds are still to be decoded: their headers tell their length.
        if (double seconds = 0; engine_.media_.WaitingSoundSeconds(slot, seconds)) return seconds * 1000.0;
        const TMediaSlots& slots = engine_.Slots();
        if (slot < 0 || slot >= slots.Count() || slots.SoundState[slot] < 0 || slots.Sounds[slot] == nullptr) return 0;
        // The wave keeps its own rate; play speed changes the song's pace and the sound's alike.
        const media::TWave& wave = slots.Sounds[slot]->Wave();
        const media::TWaveFormatEx format = wave.Format();
        const double bytesPerSecond = static_cast<double>(format.nBlockAlign) * format.nSamplesPerSec;
        return bytesPerSecond > 0 ? static_cast<double>(wave.Size()) * 1000.0 / bytesPerSecond : 0;
    }
    double MovieLength(int slot) override {
        const auto movie = engine_.Slots().BgaMovies.find(slot);
        return movie != engine_.Slots().BgaMovies.end() ? movie->second->DurationMs() : 0;
    }

    void DropLine(int32_t number, const std::string& reason) {
        if (result.Dropped.size() < LoadResult::kMaxDroppedLines) result.Dropped.push_back({number, reason});
        ++result.DroppedCount;
    }

    // The line being read, counted from 1.
    int32_t line = 0;
    LoadResult result;

private:
    TBMS& engine_;
    std::filesystem::path folder_;
};

namespace {

// Why the chart file could not be read, as far as the file system tells.
std::string UnreadableFile(const std::string& fileName) {
    std::error_code ec;
    if (!std::filesystem::exists(fileName, ec)) return "there is no such file";
    if (std::filesystem::is_directory(fileName, ec)) return "it is a folder, not a chart file";
    return "the file cannot be read";
}

// Whether a sound of a slot is heard in a play from `measure`: one of the slot's objects lies at
// the start or after it, or the last one before it sounds on past the start (a sound's length in
// song time is its own at every play speed, within the rounding of its rate: a margin covers that).
MediaLoader::HeardSound HeardFrom(const Timeline& chart, int32_t measure) {
    const double position = chart.MeasureStart(measure);
    if (position > chart.EndPosition()) return [](int, double) { return false; };
    const double start = chart.TimeAt(position);
    const int32_t first = chart.FirstAt(position);
    auto lastBefore = std::make_shared<std::map<int32_t, double>>();
    auto later = std::make_shared<std::set<int32_t>>();
    for (int32_t i = 0; i < chart.Count(); ++i) {
        if (chart[i].Kind >= 100) continue;
        if (i < first)
            (*lastBefore)[chart[i].Value] = chart.Time(i);
        else
            later->insert(chart[i].Value);
    }
    return [start, lastBefore, later](int slot, double seconds) {
        if (later->contains(slot)) return true;
        const auto last = lastBefore->find(slot);
        return last != lastBefore->end() && last->second + seconds * 1000 * 1.01 + 5 >= start;
    };
}

LoadResult Failed(LoadResult result, LoadStep step, std::string message, bool abandoned = false) {
    result.Loaded = false;
    result.FailedStep = step;
    result.Abandoned = abandoned;
    result.Message = std::move(message);
    return result;
}

}  // namespace

TBMS::TBMS(media::TDXDraw* displayControl, media::TDXSound* sound)
    : MediaPlayer(std::make_unique<media::TMediaPlayer>(sound)),
      WaveList(std::make_unique<media::TDXWaveList>()),
      DisplayControl(displayControl),
      media_(*WaveList) {
    WaveList->SetDXSound(sound);
    ConsoleBitmap.Canvas().Brush().Color = gui::clBlack;
    ConsoleBitmap.SetSize(kScreenWidth, kScreenHeight);
    ConsoleLine("Welcome to Glimstep Player!", gui::clWhite);
    ConsoleLine("Version 1.2", gui::clYellow);
    ConsoleLine("(C) 2026 The Glimstep developers", gui::clYellow);
}

TBMS::~TBMS() = default;

media::TDirectDraw* TBMS::DirectDrawOwner() const {
    return DisplayControl != nullptr ? DisplayControl->DirectDraw() : nullptr;
}

void TBMS::ConsoleLine(const std::string& text, gui::TColor color) {
    // Without a display nobody sees the console: its text, and the fonts it needs, cost start-up
    // time for nothing (glimstep-info).
    if (DisplayControl == nullptr) return;
    gui::TCanvas& canvas = ConsoleBitmap.Canvas();
    canvas.Font().Color = color;
    const int h = canvas.TextHeight("A");
    canvas.Draw(0, -(h + 4), ConsoleBitmap);
    canvas.FillRect(gui::Rect(0, kScreenHeight - 4 - h, kScreenWidth, kScreenHeight));
    canvas.TextOut(0, kScreenHeight - h, text);
    canvas.Release();
    if (DisplayControl != nullptr && DisplayControl->ReadyToDraw()) {
        gui::TCanvas& screen = DisplayControl->Surface()->Canvas();
        screen.Draw(0, 0, ConsoleBitmap);
        screen.Release();
        DisplayControl->Flip();
    }
}

void TBMS::TickerLine(const std::string& text, gui::TColor color) {
    if (!MessageSurface || !MessageSurface->IsCreated()) return;
    media::TDirectDrawSurface& surface = *MessageSurface;
    surface.FastBlit(0, 0, gui::Rect(0, kTickerPitch, kScreenWidth, kScreenHeight), media::DDBLTFAST_NOCOLORKEY,
                     &surface);
    surface.FillRect(gui::Rect(0, kScreenHeight - kTickerPitch, kScreenWidth, kScreenHeight), 0);
    gui::TCanvas& canvas = surface.Canvas();
    // The text gets the colour itself: the surface canvas converts it to the surface's format.
    canvas.Font().Color = color;
    canvas.Brush().Style = gui::TBrushStyle::bsClear;
    canvas.TextOut(0, kScreenHeight - kTickerPitch, text);
    canvas.Release();
    if (DisplayControl != nullptr)
        DisplayControl->Surface()->FastBlit(0, 0, gui::Rect(0, 0, kScreenWidth, kScreenHeight),
                                            media::DDBLTFAST_SRCCOLORKEY, &surface);
}

LoadResult TBMS::LoadChart(const std::string& fileName, int ticksPerMeasure) {
    if (BgaDisplayMode < 2) {
        MessageSurface = std::make_unique<media::TDirectDrawSurface>(DirectDrawOwner());
        MessageSurface->SetSize(kScreenWidth, kScreenHeight);
        MessageSurface->Fill(0);
    }
    ConsoleLine("", gui::clBlack);
    ConsoleLine("Start Loading:" + gui::ChartTextToUtf8(std::filesystem::path(fileName).filename().string()),
                gui::clWhite);
    chartFileName_ = fileName;
    LoadHost host(*this);
    const MediaSettings settings{BgaDisplayMode,       BgaFitMode,          PlaySpeed,
                                 Options.LoadThreads,  Options.MaxSoundBytes, Options.StartMeasure,
                                 Options.MovieTiming,  std::exchange(Options.Prefetch, nullptr)};
    media_.Begin(std::filesystem::path(fileName).parent_path(), Options.Extended ? kBase36SlotCount : kSlotCount,
                 settings, DirectDrawOwner(),
                 [&host](int32_t line, const std::string& reason) { host.DropLine(line, reason); },
                 [this] { ReportLoadProgress(); });
    // A new chart starts from the header defaults, except for the volume and the MIDI name.
    TChartHeader header;
    header.VolWav = header_.VolWav;
    header.MidiFileName = header_.MidiFileName;
    header_ = std::move(header);
    chart_ = Timeline();
    songCursor_ = Timeline::PositionCursor(&chart_);
    startTime_ = 0;

    // The lines are read straight from the file's bytes, without a copy: a chart may be large.
    std::vector<uint8_t> bytes;
    try {
        bytes = gui::bmp::ReadFileBytes(fileName, kMaxChartFileBytes, "chart file");
    } catch (const gui::EFileTooLarge& e) {
        media_.Stop();
        return Failed(std::move(host.result), LoadStep::File, e.what());
    } catch (const gui::Exception&) {
        media_.Stop();
        return Failed(std::move(host.result), LoadStep::File, UnreadableFile(fileName));
    }
    const std::string_view text = ChartText(bytes);
    // Decided once for the whole file.
    const ChartEncoding encoding{gui::DetectTextEncoding(text)};
    // The files a chart names are looked up in listings of its folders read once per load.
    const gui::ChartFolderCache folderCache;
    std::unique_ptr<ChartReading> reading;
    if (Options.Extended)
        reading = std::make_unique<ExtendedReader>(
            host, header_, ticksPerMeasure,
            Options.DrawRandom ? Options.DrawRandom : SeededDraw(std::random_device{}()), encoding);
    else
        reading = std::make_unique<FixedReader>(host, header_, ticksPerMeasure, encoding);
    lastProgress_ = gui::SteadyNanoseconds();
    loadAbandoned_ = false;
    size_t start = 0;
    size_t lines = 0;
    host.line = 1;
    // Runs a step of reading the lines or finishing the sounds; a load given up meanwhile fails as
    // one given up while the lines were read, and the decoding stops whatever ends the step.
    const auto guarded = [&](const auto& step) -> std::optional<LoadResult> {
        try {
            step();
        } catch (const ELoadAbandoned& e) {
            media_.Stop();
            return Failed(std::move(host.result), LoadStep::Lines, e.what(), true);
        } catch (...) {
            media_.Stop();
            throw;
        }
        return std::nullopt;
    };
    std::optional<LoadResult> failed = guarded([&] {
        for (size_t i = 0; i <= text.size(); ++i) {
            if (i < text.size() && text[i] != '\r' && text[i] != '\n') continue;
            if (i > start) reading->ReadLine(text.substr(start, i - start));
            // CR LF ends one line.
            if (!(i + 1 < text.size() && text[i] == '\r' && text[i + 1] == '\n')) ++host.line;
            start = i + 1;
            // A line's guard swallows a request to give up that came while it was read.
            if (++lines % kLinesPerProgressCheck == 0 || loadAbandoned_) ReportLoadProgress();
        }
    });
    if (failed) return std::move(*failed);
    // From a measure, the sounds are decoded once the chart is timed.
    if (Options.StartMeasure <= 0 && (failed = guarded([&] { media_.Finish(); }))) return std::move(*failed);
    // The sounds that failed to decode were recorded when they came back, after later lines.
    const auto sortDropped = [&host] {
        std::stable_sort(host.result.Dropped.begin(), host.result.Dropped.end(),
                         [](const DroppedLine& a, const DroppedLine& b) { return a.Line < b.Line; });
    };
    sortDropped();

    ConsoleLine("Load Complete!", gui::clWhite);
    ConsoleLine("Making time table..", gui::clWhite);
    try {
        chart_ = reading->Build();
    } catch (const ELoadAbandoned& e) {
        media_.Stop();
        return Failed(std::move(host.result), LoadStep::TimeTable, e.what(), true);
    } catch (const gui::Exception& e) {
        media_.Stop();
        return Failed(std::move(host.result), LoadStep::TimeTable, e.what());
    }
    if (Options.StartMeasure > 0) {
        if ((failed = guarded([&] { media_.Finish(HeardFrom(chart_, Options.StartMeasure)); })))
            return std::move(*failed);
        sortDropped();
    }
    songCursor_ = Timeline::PositionCursor(&chart_);
    ConsoleLine("Play Start!!", gui::clYellow);
    host.result.Loaded = true;
    return std::move(host.result);
}

void TBMS::ReportLoadProgress() {
    if (!Options.OnProgress) return;
    if (!loadAbandoned_) {
        const int64_t now = gui::SteadyNanoseconds();
        if (now - lastProgress_ < kProgressIntervalNs) return;
        lastProgress_ = now;
        loadAbandoned_ = !Options.OnProgress();
        if (!loadAbandoned_) return;
    }
    throw ELoadAbandoned("the load was abandoned");
}

void TBMS::LoadMidiFile(const std::filesystem::path& path) {
    MediaPlayer->FileName = path.string();
    MediaPlayer->Open();
    MediaPlayer->SetTimeFormat(media::tfMilliseconds);
    // The backing track plays at the chart's speed, so that it stays with the key sounds.
    MediaPlayer->SetSpeed(PlaySpeed / 100.0);
}

media::Mixer* TBMS::ClockMixer() const {
    media::TDXSound* sound = WaveList ? WaveList->DXSound() : nullptr;
    if (sound == nullptr || !sound->Initialized() || !sound->Mixer().IsSongClock()) return nullptr;
    return &sound->Mixer();
}

std::optional<SongClock::Device> TBMS::ClockDevice() const {
    const media::Mixer* mixer = ClockMixer();
    if (mixer == nullptr) return std::nullopt;
    return SongClock::Device{mixer->PlayingFrame(), mixer->Rate(), mixer->DeviceBlockFrames()};
}

SongClock::Sources TBMS::ClockSources() const {
    SongClock::Sources now;
    now.systemMs = gui::timeGetTime();
    if (MediaPlayer->Mode() == media::mpPlaying)
        now.midi = SongClock::Midi{MediaPlayer->Position(), MediaPlayer->OutputStartFrame()};
    now.device = ClockDevice();
    return now;
}

void TBMS::StartClock(uint32_t leadInMs) {
    const double skipMs = PlaySpeed > 0 ? startTime_ * 100 / PlaySpeed : 0;
    clock_.Start({std::nullopt, ClockDevice(), gui::GetTickCount()}, leadInMs, skipMs);
}

void TBMS::SetStartTime(double songTime) {
    startTime_ = std::isfinite(songTime) && songTime > 0 ? songTime : 0;
    // The fixed dialect's position moves on one tempo point per reading: it is walked up to where
    // the lead-in begins rather than over the first frames of play.
    const double leadIn = PlaySpeed > 0 ? SongClock::kLeadInMs * PlaySpeed / 100.0 : 0;
    const auto time = static_cast<int32_t>(std::clamp(startTime_ - leadIn, 0.0, double{INT32_MAX}));
    for (size_t n = 0; n <= chart_.TempoMap().size(); ++n) songCursor_.PositionAt(time);
}

int32_t TBMS::SongTime() { return clock_.SongTime(ClockSources(), PlaySpeed); }

int32_t TBMS::SongPosition() { return songCursor_.PositionAt(SongTime()); }

double TBMS::SoundHorizon(double frameMs) { return clock_.Horizon(ClockSources(), frameMs, PlaySpeed); }

void TBMS::PlaySound(int index) { PlaySound(index, std::numeric_limits<double>::quiet_NaN()); }

void TBMS::PlaySound(int index, double songTime) {
    const TMediaSlots& slots = Slots();
    if (index < 0 || index >= slots.Count() || slots.SoundState[index] < 0 || slots.Sounds[index] == nullptr) return;
    media::TWaveCollectionItem& item = *slots.Sounds[index];
    try {
        media::Mixer* mixer = ClockMixer();
        const bool beforeStart = songTime < startTime_;
        if (mixer == nullptr || !(PlaySpeed > 0) || !std::isfinite(songTime)) {
            // Without a clock for the exact sample, a sound from before the start is left out.
            if (beforeStart) return;
            item.Stop();
            item.Play(false);
            return;
        }
        // Whole output frames; one before the mixer's first frame (a sound from long before the
        // start) counts from where it lies.
        const auto frameOf = [&](double time) {
            return static_cast<int64_t>(std::llround(std::clamp(clock_.FrameAt(time, PlaySpeed, mixer->Rate()), -1e18, 1e18)));
        };
        const int64_t at = frameOf(songTime);
        // One carried over from before the start joins where the mixer is when the start has
        // passed already (a backing track starts the song at once, before the first frame).
        const int64_t start = beforeStart ? std::max({frameOf(startTime_), at, static_cast<int64_t>(mixer->FramesRendered())})
                                          : at;
        const auto frame = static_cast<uint64_t>(std::max<int64_t>(start, 0));
        item.StopAt(frame);
        item.PlayAt(frame, beforeStart ? static_cast<uint64_t>(std::max<int64_t>(frame, at) - at) : 0);
    } catch (const std::exception&) {
        // Sound failures never stop play.
    }
}

}  // namespace engine
