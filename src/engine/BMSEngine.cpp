// The engine object: creation, the console and the ticker, loading with its media slots, the
// song clock and sound triggering.
#include "engine/BMSEngine.h"

#include <array>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <limits>
#include <numeric>
#include <optional>
#include <random>

#include "engine/ExtendedReader.h"
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

int64_t SteadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

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

TBMS::TBMS(media::TDXDraw* displayControl, media::TDXSound* sound) : DisplayControl(displayControl) {
    Objects.reserve(2000);
    LastObject = -1;
    MediaPlayer = std::make_unique<media::TMediaPlayer>(sound);
    WaveList = std::make_unique<media::TDXWaveList>();
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

bool TBMS::LoadChart(const std::string& fileName, int ticksPerMeasure) {
    if (BgaDisplayMode < 2) {
        MessageSurface = std::make_unique<media::TDirectDrawSurface>(DirectDrawOwner());
        MessageSurface->SetSize(kScreenWidth, kScreenHeight);
        MessageSurface->Fill(0);
    }
    ConsoleLine("", gui::clBlack);
    ConsoleLine("Start Loading:" + gui::ChartTextToUtf8(std::filesystem::path(fileName).filename().string()),
                gui::clWhite);
    ChartFileName = fileName;
    HasBga = false;
    CreateSlots(Extended ? kBase36SlotCount : kSlotCount);

    TicksPerMeasure = ticksPerMeasure;
    Title.clear();
    Artist.clear();
    Genre.clear();
    ChartType.clear();
    Rank = 0;
    LastObject = -1;
    Objects.clear();
    Total = 200;
    PlayLevel = 2;
    EndPosition = 0;
    ScanIndex = 0;
    Bpm = 120.0f;
    PlayerMode = 1;
    ObjectTimes.clear();
    ExactMap.Clear();

    std::string text;
    try {
        const std::vector<uint8_t> bytes = gui::bmp::ReadFileBytes(fileName);
        text.assign(bytes.begin(), bytes.end());
    } catch (const gui::Exception&) {
        return false;
    }
    if (const size_t end = text.find(kCtrlZ); end != std::string::npos) text.resize(end);
    // A byte-order mark would hide the first keyword; Windows tools write one in UTF-8 charts.
    if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
    chartEncoding_ = gui::DetectTextEncoding(text);
    // The files a chart names are looked up in listings of its folders read once per load.
    const gui::ChartFolderCache folderCache;
    std::optional<ExtendedReader> extended;
    if (Extended) extended.emplace(*this, DrawRandom ? DrawRandom : SeededDraw(std::random_device{}()));
    lastProgress_ = SteadyNanoseconds();
    loadAbandoned_ = false;
    soundLoader_ = std::make_unique<SoundLoader>(LoadThreads > 0 ? LoadThreads : gui::ThreadPool::MachineThreads(),
                                                 [this] { ReportLoadProgress(); });
    size_t start = 0;
    size_t lines = 0;
    try {
        for (size_t i = 0; i <= text.size(); ++i) {
            if (i < text.size() && text[i] != '\r' && text[i] != '\n') continue;
            if (i > start) {
                const std::string_view line = std::string_view(text).substr(start, i - start);
                if (extended)
                    extended->ReadLine(line);
                else
                    ParseLine(line);
            }
            start = i + 1;
            // A line's guard swallows a request to give up that came while it was read.
            if (++lines % kLinesPerProgressCheck == 0 || loadAbandoned_) ReportLoadProgress();
        }
        ApplyDecodedSounds(true);
    } catch (const ELoadAbandoned&) {
        soundLoader_.reset();
        chartEncoding_.reset();
        return false;
    } catch (...) {
        soundLoader_.reset();
        throw;
    }
    soundLoader_.reset();
    chartEncoding_.reset();

    try {
        RestoreSounds();
    } catch (const ELoadAbandoned&) {
        return false;
    }
    ConsoleLine("Load Complete!", gui::clWhite);
    ConsoleLine("Making time table..", gui::clWhite);
    try {
        if (extended)
            extended->Build();
        else
            BuildTimeTable();
    } catch (const gui::Exception&) {
        return false;
    }
    ConsoleLine("Play Start!!", gui::clYellow);
    return true;
}

void TBMS::ReportLoadProgress() {
    if (!OnLoadProgress) return;
    if (!loadAbandoned_) {
        const int64_t now = SteadyNanoseconds();
        if (now - lastProgress_ < kProgressIntervalNs) return;
        lastProgress_ = now;
        loadAbandoned_ = !OnLoadProgress();
        if (!loadAbandoned_) return;
    }
    throw ELoadAbandoned("読み込みを中止しました");
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

void TBMS::LoadMidiFile(std::string_view name) {
    const std::filesystem::path path = gui::FindChartFile(std::filesystem::path(ChartFileName).parent_path(), name);
    if (path.empty()) return;
    MidiFileName = ChartText(name);
    MediaPlayer->FileName = path.string();
    MediaPlayer->Open();
    MediaPlayer->SetTimeFormat(media::tfMilliseconds);
    // The backing track plays at the chart's speed, so that it stays with the key sounds.
    MediaPlayer->SetSpeed(PlaySpeed / 100.0);
}

void TBMS::LoadSound(int slot, std::string_view name) {
    if (slot < 0 || slot >= SlotCount() || Sounds[slot] == nullptr) return;  // no slots before the first LoadChart
    std::filesystem::path path = gui::FindChartFileOrAlternative(std::filesystem::path(ChartFileName).parent_path(),
                                                                 name, kSoundExtensions);
    if (path.empty()) return;
    if (soundLoader_) {
        soundLoader_->Add(slot, std::move(path));
        ApplyDecodedSounds(false);
        return;
    }
    DecodedSound sound = DecodeSound(slot, std::move(path));
    ApplySound(sound);
}

void TBMS::ApplyDecodedSounds(bool all) {
    while (std::optional<DecodedSound> sound = soundLoader_->Next(all)) {
        // Applying many sounds may take a while: the window keeps answering meanwhile.
        if (all) ReportLoadProgress();
        try {
            ApplySound(*sound);
        } catch (const gui::Exception&) {
            // As when its line is read: the rest of that line is abandoned, and it has no more.
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
    if (sound.error || others + static_cast<int64_t>(sound.wave.Size()) > MaxSoundBytes) {
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
        std::filesystem::path(ChartFileName).parent_path(), name, kPictureExtensions);
    if (path.empty()) return;
    gui::Bitmap picture;
    std::unique_ptr<media::Movie> movie;
    try {
        gui::LoadPictureFile(picture, path.string());
    } catch (const gui::Exception&) {
        // A file that no picture reader takes may be a movie; when it is not, the movie reader's
        // refusal abandons the line as the picture reader's would.
        const auto timing = ExactMovieFrames ? media::Movie::Timing::Exact : media::Movie::Timing::Ahead;
        movie = std::make_unique<media::Movie>(path.string(), timing);
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
        // Converting long sounds for the mixer takes a while: the window keeps answering.
        ReportLoadProgress();
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

double TBMS::ClockMs() {
    media::Mixer* mixer = ClockMixer();
    if (MediaPlayer->Mode() == media::mpPlaying) {
        const int32_t position = MediaPlayer->Position();
        // The track's timeline is the song's, and stays so when the track stops: the song goes
        // on from where the track left off instead of falling back to the older clock.
        ClockBase = gui::timeGetTime() - static_cast<uint32_t>(position);
        if (mixer != nullptr) {
            const int64_t start = MediaPlayer->OutputStartFrame();
            originFrame_ = start >= 0 ? static_cast<double>(start)
                                      : mixer->PlayingFrame() - position * (mixer->Rate() / 1000.0);
        }
        return position;
    }
    if (mixer != nullptr) return (mixer->PlayingFrame() - originFrame_) * 1000.0 / mixer->Rate();
    return static_cast<int32_t>(gui::timeGetTime() - ClockBase);
}

int32_t TBMS::SongTime() {
    const long double scaled = std::truncl(static_cast<long double>(ClockMs()) / 100 * PlaySpeed);
    if (!(scaled <= INT32_MAX)) return scaled < INT32_MIN ? INT32_MIN : INT32_MAX;
    if (scaled < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(scaled);
}

double TBMS::SoundHorizon(double frameMs) {
    media::Mixer* mixer = ClockMixer();
    if (mixer == nullptr || !(PlaySpeed > 0)) return -std::numeric_limits<double>::infinity();
    const double aheadMs = frameMs + 1000.0 * mixer->DeviceBlockFrames() / mixer->Rate();
    return (ClockMs() + aheadMs) / 100 * PlaySpeed;
}

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
        const double frame = originFrame_ + songTime * 100 / PlaySpeed * mixer->Rate() / 1000;
        const uint64_t at = frame > 0 ? static_cast<uint64_t>(std::llround(std::min(frame, 1e18))) : 0;
        item.StopAt(at);
        item.PlayAt(at);
    } catch (const std::exception&) {
        // Sound failures never stop play.
    }
}

}  // namespace engine
