// The chart engine: loads a chart (one of the two readings turns its lines into the timeline, and
// the files it names go into their slots), reports loading on a scrolling console, overlays the
// in-play ticker, and maps the song clock to chart positions and sounds to mixer frames.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ChartLoad.h"
#include "engine/MediaLoader.h"
#include "engine/Reading.h"
#include "engine/SongClock.h"
#include "engine/Timeline.h"
#include "gui/Bitmap.h"
#include "gui/Graphics.h"

namespace media {
class TDXDraw;
class TDXSound;
class TDXWaveList;
class TMediaPlayer;
class TDirectDraw;
class TDirectDrawSurface;
class Mixer;
}  // namespace media

namespace engine {

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

    // What the next LoadChart is asked to do: the caller's, never changed by a load.
    LoadOptions Options;
    // Reads the chart, loads what it names and builds the timeline. Not loaded when the file
    // cannot be read, the chart cannot be timed or the progress hook abandons the load; the
    // result says where and why, and which lines the reading dropped.
    LoadResult LoadChart(const std::string& fileName, int ticksPerMeasure);

    // The chart as loaded: the timeline that play walks, and the header values.
    const Timeline& Chart() const { return chart_; }
    Timeline& Chart() { return chart_; }
    const TChartHeader& Header() const { return header_; }
    // The chart path exactly as passed to LoadChart; its folder is the base of the names in it.
    const std::string& ChartFileName() const { return chartFileName_; }

    // Song time 0 comes 2000 ms (`leadInMs`) after the call, on the song clock (SongClock); after
    // SetStartTime, the start time comes then instead.
    void StartClock(uint32_t leadInMs = SongClock::kLeadInMs);
    // Play begins at song time `songTime` (0, the start, after a load): the clock starts there,
    // and a sound placed before it starts at the start, from the point it would have reached.
    void SetStartTime(double songTime);
    double StartTime() const { return startTime_; }
    const SongClock& Clock() const { return clock_; }
    int32_t SongTime();
    // The song position now, through the timeline's tempo line.
    int32_t SongPosition();
    // The segment of the fixed dialect's tempo map that SongPosition is on (1 after a load).
    int32_t TempoSegment() const { return songCursor_.Segment(); }
    void PlaySound(int index);
    // Restarts the sound of slot `index` at song time `songTime`: on its exact output sample
    // while the mixer's output is the song clock, at once otherwise.
    void PlaySound(int index, double songTime);
    // The song time up to which a play frame hands sounds to the mixer, when the next frame
    // follows `frameMs` of real time later: one frame and one device block past the song clock.
    // Minus infinity when there is no mixer clock and sounds start as their objects are reached.
    double SoundHorizon(double frameMs);

    // The sounds, pictures and movies of the loaded chart, one entry per slot.
    const TMediaSlots& Slots() const { return media_.Slots(); }
    // Slots that the loaded chart can name (kSlotCount before the first load).
    int32_t SlotCount() const { return Slots().Count(); }

    const std::unique_ptr<media::TMediaPlayer> MediaPlayer;
    const std::unique_ptr<media::TDXWaveList> WaveList;
    media::TDXDraw* const DisplayControl;
    // The settings that shape loading and play, the caller's: 0 shows pictures, 1 hides them, 2
    // draws nothing at all; how pictures are fitted; the play speed in percent.
    int32_t BgaDisplayMode = 0;
    int32_t BgaFitMode = 0;
    int32_t PlaySpeed = 100;
    // The console's 320×240 back store, and the ticker's while pictures are drawn.
    gui::Bitmap ConsoleBitmap;
    std::unique_ptr<media::TDirectDrawSurface> MessageSurface;

private:
    // What the readings of one load hand on: the files go into the slots, the echoes onto the
    // console.
    class LoadHost;

    void LoadMidiFile(const std::filesystem::path& path);
    media::TDirectDraw* DirectDrawOwner() const;
    // Calls the progress hook when a few milliseconds have passed since the last call; raises
    // when it asks to abandon the load, and from then on at every call.
    void ReportLoadProgress();
    // The mixer while its output is the song clock, else null.
    media::Mixer* ClockMixer() const;
    // What the song clock's sources read now.
    std::optional<SongClock::Device> ClockDevice() const;
    SongClock::Sources ClockSources() const;

    Timeline chart_;
    TChartHeader header_;
    std::string chartFileName_;
    Timeline::PositionCursor songCursor_{&chart_};
    MediaLoader media_;
    // Steady-clock time of the last progress call, in nanoseconds.
    int64_t lastProgress_ = 0;
    // Set once the progress hook has asked to give up the load; every later report raises again
    // (a line's guard would otherwise swallow the request).
    bool loadAbandoned_ = false;
    SongClock clock_;
    double startTime_ = 0;
};

}  // namespace engine
