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

// What a chart's file name also finds when the file it names is not there: charts name WAV and
// BMP files that are often shipped in other formats beside them, and movies for their pictures.
constexpr std::array<std::string_view, 5> kSoundExtensions = {".wav", ".ogg", ".flac", ".opus", ".mp3"};
constexpr std::array<std::string_view, 12> kPictureExtensions = {".bmp", ".png", ".jpg",  ".jpeg", ".gif", ".mpg",
                                                                 ".mpeg", ".avi", ".wmv", ".mp4",  ".webm", ".m1v"};

// The destination of a picture of w×h pixels on the 320×240 screen for a fit mode; false for
// a mode that copies nothing.
bool FitRect(int fitMode, int64_t w, int64_t h, gui::TRect& dest) {
    switch (fitMode) {
    case 0:
        dest = gui::Rect(static_cast<int>(160 - w * 320 / 512), 0, static_cast<int>(160 + w * 320 / 512),
                         static_cast<int>(h * 240 / 256));
        return true;
    case 1:
        dest = gui::Rect(static_cast<int>(160 - w / 2), -8, static_cast<int>(160 + w / 2), static_cast<int>(h - 8));
        return true;
    case 2:
        dest = gui::Rect(static_cast<int>(160 - w * 320 / 512), static_cast<int>(120 - h * 320 / 512),
                         static_cast<int>(160 + w * 320 / 512), static_cast<int>(120 + h * 320 / 512));
        return true;
    default:
        return false;
    }
}

}  // namespace

class TBMS::LoadHost : public ReadingHost {
public:
    explicit LoadHost(TBMS& engine) : engine_(engine), folder_(std::filesystem::path(engine.chartFileName_).parent_path()) {}

    void LoadSound(int slot, std::string_view name) override { engine_.LoadSound(slot, name); }
    void LoadPicture(int slot, std::string_view name) override { engine_.LoadPicture(slot, name); }
    bool ShowsPictures() const override { return engine_.BgaDisplayMode == 0; }
    void AddSlots(int count) override { engine_.AddSlots(count); }
    std::filesystem::path FindFile(std::string_view name) override { return gui::FindChartFile(folder_, name); }
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
      DisplayControl(displayControl) {
    WaveList->SetDXSound(sound);
    SoundState.assign(kSlotCount, -1);
    Sounds.assign(kSlotCount, nullptr);
    BgaImages.resize(kSlotCount);
    BgaLoaded.assign(kSlotCount, false);
    SoundFiles.resize(kSlotCount);
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
    HasBga = false;
    CreateSlots(Options.Extended ? kBase36SlotCount : kSlotCount);
    // A new chart starts from the header defaults, except for the volume and the MIDI name.
    TChartHeader header;
    header.VolWav = header_.VolWav;
    header.MidiFileName = header_.MidiFileName;
    header_ = std::move(header);
    chart_ = Timeline();
    songCursor_ = Timeline::PositionCursor(&chart_);
    LoadHost host(*this);

    std::string text;
    try {
        const std::vector<uint8_t> bytes = gui::bmp::ReadFileBytes(fileName);
        text.assign(bytes.begin(), bytes.end());
    } catch (const gui::Exception&) {
        return Failed(std::move(host.result), LoadStep::File, UnreadableFile(fileName));
    }
    if (const size_t end = text.find(kCtrlZ); end != std::string::npos) text.resize(end);
    // A byte-order mark would hide the first keyword; Windows tools write one in UTF-8 charts.
    if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
    // Decided once for the whole file.
    const ChartEncoding encoding{gui::IsValidUtf8(text) ? ChartEncoding::Kind::Utf8 : ChartEncoding::Kind::ShiftJis};
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
    load_ = &host;
    soundLoader_ = std::make_unique<SoundLoader>(Options.LoadThreads > 0 ? Options.LoadThreads
                                                                        : gui::ThreadPool::MachineThreads());
    // Whatever ends the reading, the decodes end with it.
    struct EndOfLines {
        TBMS& engine;
        ~EndOfLines() {
            engine.soundLoader_.reset();
            engine.decodingLines_.clear();
            engine.load_ = nullptr;
        }
    } endOfLines{*this};
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
            if (++lines % kLinesPerProgressCheck == 0) ReportLoadProgress();
        }
        ApplyDecodedSounds(true);
    } catch (const ELoadAbandoned& e) {
        return Failed(std::move(host.result), LoadStep::Lines, e.what(), true);
    }
    soundLoader_.reset();
    load_ = nullptr;
    // The sounds that failed to decode were recorded when they came back, after later lines.
    std::stable_sort(host.result.Dropped.begin(), host.result.Dropped.end(),
                     [](const DroppedLine& a, const DroppedLine& b) { return a.Line < b.Line; });

    RestoreSounds();
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
    const int64_t now = gui::SteadyNanoseconds();
    if (now - lastProgress_ < kProgressIntervalNs) return;
    lastProgress_ = now;
    if (!Options.OnProgress()) throw ELoadAbandoned("the load was abandoned");
}

void TBMS::CreateSlots(int count) {
    WaveList->Items().Clear();
    SoundState.clear();
    SoundFiles.clear();
    Sounds.clear();
    BgaImages.clear();
    BgaLoaded.clear();
    BgaMovies.clear();
    AddSlots(count);
}

void TBMS::AddSlots(int count) {
    for (size_t i = Sounds.size(); i < static_cast<size_t>(count); ++i) {
        SoundState.push_back(-1);
        SoundFiles.emplace_back();
        Sounds.push_back(&WaveList->Items().Add());
        BgaImages.push_back(BgaDisplayMode < 2 ? std::make_unique<media::TDirectDrawSurface>(DirectDrawOwner()) : nullptr);
        BgaLoaded.push_back(false);
    }
}

void TBMS::LoadMidiFile(const std::filesystem::path& path) {
    MediaPlayer->FileName = path.string();
    MediaPlayer->Open();
    MediaPlayer->SetTimeFormat(media::tfMilliseconds);
    // The backing track plays at the chart's speed, so that it stays with the key sounds.
    MediaPlayer->SetSpeed(PlaySpeed / 100.0);
}

void TBMS::LoadSound(int slot, std::string_view name) {
    if (slot < 0 || slot >= SlotCount() || Sounds[slot] == nullptr) return;  // no slots before the first LoadChart
    std::filesystem::path path = gui::FindChartFileOrAlternative(std::filesystem::path(chartFileName_).parent_path(),
                                                                 name, kSoundExtensions);
    if (path.empty()) return;
    if (soundLoader_) {
        soundLoader_->Add(slot, std::move(path));
        decodingLines_.push_back(load_ != nullptr ? load_->line : 0);
        ApplyDecodedSounds(false);
        return;
    }
    DecodedSound sound = DecodeSound(slot, std::move(path));
    ApplySound(sound);
}

void TBMS::ApplyDecodedSounds(bool all) {
    while (std::optional<DecodedSound> sound = soundLoader_->Next(all)) {
        // Waiting for the last decodes may take a while: the window keeps answering meanwhile.
        // (Not while a line is read: its guard would swallow an abandoned load.)
        if (all) ReportLoadProgress();
        const int32_t line = decodingLines_.empty() ? 0 : decodingLines_.front();
        if (!decodingLines_.empty()) decodingLines_.pop_front();
        try {
            ApplySound(*sound);
        } catch (const gui::Exception& e) {
            // As when its line is read: the rest of that line is abandoned, and it has no more.
            if (load_ != nullptr) load_->DropLine(line, e.what());
        }
    }
}

void TBMS::ApplySound(DecodedSound& sound) {
    const int slot = sound.slot;
    media::TWaveCollectionItem& item = *Sounds[slot];
    SoundState[slot] = 1;
    SoundFiles[slot].clear();
    const int64_t others = std::accumulate(Sounds.begin(), Sounds.end(), int64_t{0}, [&](int64_t sum, auto* other) {
        return sum + (other != nullptr && other != &item ? static_cast<int64_t>(other->Wave().Size()) : 0);
    });
    if (sound.error || others + static_cast<int64_t>(sound.wave.Size()) > Options.MaxSoundBytes) {
        // A file that is not a sound we can read, or one too many, leaves its slot silent.
        SoundState[slot] = -1;
        item.Wave().Clear();
        if (sound.error) std::rethrow_exception(sound.error);
        return;
    }
    // A slot defined again drops the buffer made from its earlier file, so that the rate read
    // below is the new file's own.
    item.Finalize();
    item.SetFrequency(media::DSBFREQUENCY_ORIGINAL);
    item.Wave() = std::move(sound.wave);
    SoundFiles[slot] = sound.path;
    const int64_t rate = item.Buffer()->Frequency();
    item.SetFrequency(static_cast<int32_t>(rate * PlaySpeed / 100));
}

void TBMS::LoadPicture(int slot, std::string_view name) {
    if (slot < 0 || slot >= SlotCount() || !BgaImages[slot]) return;  // no slots before the first LoadChart
    const std::filesystem::path path = gui::FindChartFileOrAlternative(
        std::filesystem::path(chartFileName_).parent_path(), name, kPictureExtensions);
    if (path.empty()) return;
    gui::Bitmap picture;
    std::unique_ptr<media::Movie> movie;
    try {
        gui::LoadPictureFile(picture, path.string());
    } catch (const gui::Exception&) {
        // A file that no picture reader takes may be a movie; when it is not, the movie reader's
        // refusal abandons the line as the picture reader's would.
        movie = std::make_unique<media::Movie>(path.string(), Options.MovieTiming);
    }
    gui::Bitmap screen;
    screen.Canvas().Brush().Color = gui::clBlack;
    screen.SetSize(kScreenWidth, kScreenHeight);
    gui::TRect dest;
    const bool fits = movie ? FitRect(BgaFitMode, movie->Width(), movie->Height(), dest)
                            : FitRect(BgaFitMode, picture.Width(), picture.Height(), dest);
    if (fits && !movie) screen.Canvas().StretchDraw(dest, picture);
    screen.Canvas().Release();
    BgaLoaded[slot] = true;
    BgaImages[slot]->LoadGraphic(screen);
    BgaMovies.erase(slot);
    // A fit mode that copies nothing leaves a movie's slot black, as it leaves a picture's.
    if (movie && fits) {
        movie->ShowOn(*BgaImages[slot], dest);
        BgaMovies[slot] = std::move(movie);
    }
    HasBga = true;
}

void TBMS::RestoreSounds() {
    for (int i = 0; i < SlotCount(); ++i) {
        if (SoundState[i] < 0) continue;
        try {
            Sounds[i]->Restore();
        } catch (const gui::Exception&) {
            // One sound that cannot be played must not cost the whole chart: the slot stays silent.
            SoundState[i] = -1;
        }
    }
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
    if (index < 0 || index >= SlotCount() || SoundState[index] < 0 || Sounds[index] == nullptr) return;
    media::TWaveCollectionItem& item = *Sounds[index];
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
