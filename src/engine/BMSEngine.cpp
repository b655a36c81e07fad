// The engine object: creation, the console and the ticker, loading with its media slots, the
// song clock and sound triggering.
#include "engine/BMSEngine.h"

#include <array>
#include <cmath>
#include <filesystem>
#include <limits>
#include <numeric>
#include <optional>
#include <random>

#include "engine/ExtendedReader.h"
#include "engine/FixedReader.h"
#include "engine/SoundLoader.h"
#include "gui/BmpDecode.h"
#include "gui/Clock.h"
#include "gui/Convert.h"
#include "gui/Exception.h"
#include "gui/FileNames.h"
#include "gui/PictureFile.h"
#include "gui/ThreadPool.h"
#include "gui/TextEncoding.h"
#include "media/DXDraws.h"
#include "media/DXSounds.h"
#include "media/MPlayer.h"
#include "media/Movie.h"

namespace engine {
namespace {

constexpr int kScreenWidth = 320;
constexpr int kScreenHeight = 240;
constexpr int kTickerPitch = 16;
constexpr char kCtrlZ = 26;
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
    const MediaSettings settings{BgaDisplayMode,      BgaFitMode,           PlaySpeed,
                                 Options.LoadThreads, Options.MaxSoundBytes, Options.MovieTiming};
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

    std::string text;
    try {
        const std::vector<uint8_t> bytes = gui::bmp::ReadFileBytes(fileName, kMaxChartFileBytes, "chart file");
        text.assign(bytes.begin(), bytes.end());
    } catch (const gui::EFileTooLarge& e) {
        media_.Stop();
        return Failed(std::move(host.result), LoadStep::File, e.what());
    } catch (const gui::Exception&) {
        media_.Stop();
        return Failed(std::move(host.result), LoadStep::File, UnreadableFile(fileName));
    }
    if (const size_t end = text.find(kCtrlZ); end != std::string::npos) text.resize(end);
    // A byte-order mark would hide the first keyword; Windows tools write one in UTF-8 charts.
    if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
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
    try {
        for (size_t i = 0; i <= text.size(); ++i) {
            if (i < text.size() && text[i] != '\r' && text[i] != '\n') continue;
            if (i > start) reading->ReadLine(std::string_view(text).substr(start, i - start));
            // CR LF ends one line.
            if (!(i + 1 < text.size() && text[i] == '\r' && text[i + 1] == '\n')) ++host.line;
            start = i + 1;
            // A line's guard swallows a request to give up that came while it was read.
            if (++lines % kLinesPerProgressCheck == 0 || loadAbandoned_) ReportLoadProgress();
        }
        media_.Finish();
    } catch (const ELoadAbandoned& e) {
        media_.Stop();
        return Failed(std::move(host.result), LoadStep::Lines, e.what(), true);
    } catch (...) {
        media_.Stop();
        throw;
    }
    // The sounds that failed to decode were recorded when they came back, after later lines.
    std::stable_sort(host.result.Dropped.begin(), host.result.Dropped.end(),
                     [](const DroppedLine& a, const DroppedLine& b) { return a.Line < b.Line; });

    ConsoleLine("Load Complete!", gui::clWhite);
    ConsoleLine("Making time table..", gui::clWhite);
    try {
        chart_ = reading->Build();
    } catch (const ELoadAbandoned& e) {
        return Failed(std::move(host.result), LoadStep::TimeTable, e.what(), true);
    } catch (const gui::Exception& e) {
        return Failed(std::move(host.result), LoadStep::TimeTable, e.what());
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

void TBMS::StartClock(uint32_t leadInMs) { clock_.Start({std::nullopt, ClockDevice(), gui::GetTickCount()}, leadInMs); }

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
        if (mixer == nullptr || !(PlaySpeed > 0) || !std::isfinite(songTime)) {
            item.Stop();
            item.Play(false);
            return;
        }
        const double frame = clock_.FrameAt(songTime, PlaySpeed, mixer->Rate());
        const uint64_t at = frame > 0 ? static_cast<uint64_t>(std::llround(std::min(frame, 1e18))) : 0;
        item.StopAt(at);
        item.PlayAt(at);
    } catch (const std::exception&) {
        // Sound failures never stop play.
    }
}

}  // namespace engine
