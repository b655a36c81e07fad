// The chart engine: turns a BMS chart into the object table and the tempo map that play rests
// on, loads the chart's sounds, pictures and MIDI file into their slots, reports loading on a
// scrolling console, overlays the in-play ticker, and maps the song clock to chart positions.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ExactTempoMap.h"
#include "gui/Bitmap.h"
#include "gui/Graphics.h"
#include "gui/TextEncoding.h"

namespace media {
class TDXDraw;
class TDXSound;
class TDXWaveList;
class TWaveCollectionItem;
class TMediaPlayer;
class TDirectDraw;
class TDirectDrawSurface;
class Mixer;
class Movie;
}  // namespace media

namespace engine {

struct DecodedSound;
class SoundLoader;

struct TChartObject {
    int32_t Kind = 0;
    int32_t Position = 0;
    int32_t Value = 0;
    bool Pending = true;
    bool operator==(const TChartObject&) const = default;
};

// Object kinds.
constexpr int32_t kBackgroundSound = 0;
constexpr int32_t kBaseImage = 104;
constexpr int32_t kLayerImage = 105;
constexpr int32_t kTempoChange = 200;
constexpr int32_t kMeasureLength = 201;

// Sound and picture slots: two hexadecimal digits in the fixed dialect; two base-36 digits in
// the extended reading, or two base-62 digits after #BASE 62.
constexpr int kSlotCount = 256;
constexpr int kBase36SlotCount = 36 * 36;
constexpr int kBase62SlotCount = 62 * 62;
// The most decoded sound one chart may hold; a sound that would go past it is refused.
constexpr int64_t kMaxChartSoundBytes = int64_t{2} << 30;
// Points of the tempo map as first allocated; a chart with more tempo changes enlarges it.
constexpr int kTempoMapPoints = 501;

class TBMS {
public:
    // `displayControl` and `sound` belong to the caller and must outlive the engine; the engine
    // owns its MIDI player and wave list. A display without a window draws into memory and a
    // sound component without a device stays silent, so the engine works without either. Without
    // a display (null) the loading console is not drawn.
    TBMS(media::TDXDraw* displayControl, media::TDXSound* sound);
    ~TBMS();
    TBMS(const TBMS&) = delete;
    TBMS& operator=(const TBMS&) = delete;

    void ConsoleLine(const std::string& text, gui::TColor color);
    void TickerLine(const std::string& text, gui::TColor color);

    // Reads the chart, loads what it names and builds the time table; false when the file
    // cannot be read or the time table cannot be built.
    bool LoadChart(const std::string& fileName, int ticksPerMeasure);
    // Interprets one chart line; a failure abandons the rest of the line and is not reported.
    void ParseLine(std::string_view line);
    void AddObject(int32_t kind, int32_t position, int32_t value);
    // Orders Objects by Position exactly as the exchange sort of the format does.
    void SortObjects();
    // The last step of LoadChart: sort, measure lengths, end marker, tempo map, end position.
    // Raises when the chart cannot be timed (no tempo, values beyond 32 bits).
    void BuildTimeTable();
    // Its steps after the sort: the measure lengths; then the end marker, the tempo map, the
    // second sort and the end position.
    void ApplyMeasureLengths();
    void BuildTempoMap();

    // Song time 0 comes 2000 ms after the call. While the mixer's output is the song clock
    // (a device plays it, or the offline renderer), song time runs on its output frames; while
    // the MIDI backing track plays, on the track's position, and when the track ends the song
    // goes on from where it left off.
    void StartClock();
    int32_t SongTime();
    int32_t SongPosition();
    void PlaySound(int index);
    // Restarts the sound of slot `index` at song time `songTime`: on its exact output sample
    // while the mixer's output is the song clock, at once otherwise.
    void PlaySound(int index, double songTime);
    // The song time up to which a play frame hands sounds to the mixer, when the next frame
    // follows `frameMs` of real time later: one frame and one device block past the song clock.
    // Minus infinity when there is no mixer clock and sounds start as their objects are reached.
    double SoundHorizon(double frameMs);

    // The song time of object `index`: ObjectTimes[index] when ObjectTimes covers the table, else
    // the time at which the tempo map's line (the one SongPosition uses) reaches its position.
    double ObjectTime(int32_t index) const;
    // Slots that the loaded chart can name (kSlotCount before the first load).
    int32_t SlotCount() const { return static_cast<int32_t>(Sounds.size()); }

    std::unique_ptr<media::TMediaPlayer> MediaPlayer;
    std::unique_ptr<media::TDXWaveList> WaveList;
    media::TDXDraw* DisplayControl = nullptr;
    std::vector<TChartObject> Objects;
    int32_t LastObject = -1;
    std::string Title;
    std::string Artist;
    std::string Genre;
    std::string ChartType;
    int32_t Rank = 0;
    int32_t PlayLevel = 2;
    int32_t Total = 200;
    int32_t VolWav = 0;
    int32_t PlayerMode = 1;
    int32_t TicksPerMeasure = 0;
    uint32_t ClockBase = 0;
    float Bpm = 120.0f;
    std::string MidiFileName;
    // One entry per slot, sized by each load.
    std::vector<std::unique_ptr<media::TDirectDrawSurface>> BgaImages;
    std::vector<bool> BgaLoaded;
    std::vector<media::TWaveCollectionItem*> Sounds;
    std::vector<int32_t> SoundState;
    // The picture slots whose file is a movie: it draws its pictures into the slot's surface.
    std::map<int32_t, std::unique_ptr<media::Movie>> BgaMovies;
    // Movies decode exactly the picture for each time asked, on the calling thread (the offline
    // renderer), instead of ahead on a worker thread.
    bool ExactMovieFrames = false;
    // The file each loaded sound slot was read from (empty for the others).
    std::vector<std::filesystem::path> SoundFiles;
    // Threads that decode the sounds while a chart loads; 0 = one per hardware thread, 1 = none
    // beside the loading one.
    unsigned LoadThreads = 0;
    int64_t MaxSoundBytes = kMaxChartSoundBytes;
    int32_t EndPosition = 0;
    int32_t ScanIndex = 0;
    bool HasBga = false;
    int32_t BgaDisplayMode = 0;
    int32_t BgaFitMode = 0;
    std::string ChartFileName;
    int32_t PlaySpeed = 100;
    gui::Bitmap ConsoleBitmap;
    std::unique_ptr<media::TDirectDrawSurface> MessageSurface;
    std::vector<int32_t> TempoTime;
    std::vector<int32_t> TempoPosition;
    int32_t TempoCount = 0;
    int32_t TempoSegment = 1;
    // Called every few milliseconds of work while a chart is read and its time table built, so
    // that the caller can keep its window answering. Returning false abandons the load:
    // LoadChart then returns false.
    std::function<bool()> OnLoadProgress;
    // Read the chart in the extended dialect (ExtendedReader) instead of the fixed one; set
    // before LoadChart.
    bool Extended = false;
    // Draws the value of each #RANDOM and #SWITCH of the extended reading, 1 to n; when empty,
    // the load seeds a generator from the system's entropy.
    std::function<int32_t(int32_t)> DrawRandom;
    // Song time in milliseconds (the tempo map's scale, before play speed) at which each object of
    // the table sounds, by index; empty when the times come from the tempo map (the fixed dialect).
    std::vector<double> ObjectTimes;
    // The extended reading's exact tempo map, through which SongPosition then runs; empty in the
    // fixed dialect.
    ExactTempoMap ExactMap;

private:
    friend class ExtendedReader;

    bool ParseHeader(std::string_view line, std::string_view upper);
    void ParseChannelLine(std::string_view line);
    void LoadMidiFile(std::string_view name);
    void LoadSound(int slot, std::string_view name);
    // Puts decoded sounds into their slots in the order their lines came: all that are ready,
    // or with `all` every one still being decoded.
    void ApplyDecodedSounds(bool all);
    void ApplySound(DecodedSound& sound);
    void LoadPicture(int slot, std::string_view name);
    void CreateSlots(int count);
    void AddSlots(int count);
    media::TDirectDraw* DirectDrawOwner() const;
    void RestoreSounds();
    std::string ChartText(std::string_view raw) const;
    std::string_view CutText(std::string_view raw, size_t maxLength) const;
    // Calls OnLoadProgress when a few milliseconds have passed since the last call; raises when
    // it asks to abandon the load, and from then on at every call.
    void ReportLoadProgress();
    // The mixer while its output is the song clock, else null.
    media::Mixer* ClockMixer() const;
    // Real milliseconds since song time 0 (before play speed), from the clock in force.
    double ClockMs();
    // The song time at which the tempo map's line reaches `position`.
    double TimeAtPosition(int32_t position) const;

    // The encoding of the chart being loaded (decided once for the whole file); unset while no
    // file is being loaded, when each text decides for itself.
    std::optional<gui::TextEncoding> chartEncoding_;
    // Decodes the sound files while LoadChart reads the lines; absent otherwise.
    std::unique_ptr<SoundLoader> soundLoader_;
    // The tempo that starts at each map point, and for each segment the segment whose line
    // stands in for it when it lasts no time (see SongPosition).
    std::vector<float> tempoValue_;
    std::vector<int32_t> lineSegment_;
    // Steady-clock time of the last progress call, in nanoseconds.
    int64_t lastProgress_ = 0;
    // Set once OnLoadProgress has asked to give up the load; every later report raises again.
    bool loadAbandoned_ = false;
    // The mixer's output frame of song time 0 while the mixer is the song clock.
    double originFrame_ = 0;
};

}  // namespace engine
