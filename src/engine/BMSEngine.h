// The chart engine: turns a BMS chart into the object table and the tempo map that play rests
// on, loads the chart's sounds, pictures and MIDI file into their slots, reports loading on a
// scrolling console, overlays the in-play ticker, and maps the song clock to chart positions.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "gui/Bitmap.h"
#include "gui/Graphics.h"

namespace media {
class TDXDraw;
class TDXSound;
class TDXWaveList;
class TWaveCollectionItem;
class TMediaPlayer;
class TDirectDraw;
class TDirectDrawSurface;
class Mixer;
}  // namespace media

namespace engine {

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

constexpr int kSlotCount = 256;
// Points of the tempo map as first allocated; a chart with more tempo changes enlarges it.
constexpr int kTempoMapPoints = 501;

class TBMS {
public:
    // `displayControl` and `sound` belong to the caller and must outlive the engine; the engine
    // owns its MIDI player and wave list. A display without a window draws into memory and a
    // sound component without a device stays silent, so the engine works without either.
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

    // Song time in milliseconds (the tempo map's scale, before play speed) at which each object of
    // the table sounds, by index; empty when the times come from the tempo map (the fixed dialect).
    std::vector<double> ObjectTimes;
    // The song time of object `index`: ObjectTimes[index] when ObjectTimes covers the table, else
    // the time at which the tempo map's line (the one SongPosition uses) reaches its position.
    double ObjectTime(int32_t index) const;

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
    std::array<std::unique_ptr<media::TDirectDrawSurface>, kSlotCount> BgaImages;
    std::array<bool, kSlotCount> BgaLoaded{};
    std::array<media::TWaveCollectionItem*, kSlotCount> Sounds{};
    std::array<int32_t, kSlotCount> SoundState{};
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

private:
    bool ParseHeader(std::string_view line, std::string_view upper);
    void ParseChannelLine(std::string_view line);
    void LoadMidiFile(std::string_view name);
    void LoadSound(int slot, std::string_view name);
    void LoadPicture(int slot, std::string_view name);
    void CreateSlots();
    media::TDirectDraw* DirectDrawOwner() const;
    void RestoreSounds();
    std::string ChartText(std::string_view raw) const;
    std::string_view CutText(std::string_view raw, size_t maxLength) const;
    // The mixer while its output is the song clock, else null.
    media::Mixer* ClockMixer() const;
    // Real milliseconds since song time 0 (before play speed), from the clock in force.
    double ClockMs();
    // The song time at which the tempo map's line reaches `position`.
    double TimeAtPosition(int32_t position) const;

    // Whether the chart being loaded is UTF-8 (decided once for the whole file); unset while no
    // file is being loaded, when each text decides for itself.
    int chartEncoding_ = 0;
    // The tempo that starts at each map point, and for each segment the segment whose line
    // stands in for it when it lasts no time (see SongPosition).
    std::vector<float> tempoValue_;
    std::vector<int32_t> lineSegment_;
    // The mixer's output frame of song time 0 while the mixer is the song clock.
    double originFrame_ = 0;
};

}  // namespace engine
