#include "play/TapoModule.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "engine/BMSEngine.h"
#include "gui/Clock.h"
#include "gui/Exception.h"
#include "gui/Screen.h"
#include "media/DXClass.h"
#include "media/DXDraws.h"
#include "media/DXInput.h"
#include "media/Movie.h"
#include "play/DM.h"

namespace play {

namespace {

using gui::kScreenHeight;
using gui::kScreenWidth;
constexpr int kReceptorY = 32;
constexpr int kLaneSpacing = 32;
constexpr int kCellSize = 30;
constexpr int kSpaceKey = 32;
constexpr int kTicksPerMeasure = 128;
constexpr int32_t kHitWindow = 8;
constexpr uint32_t kPauseAfterLoadMs = 1000;
constexpr uint32_t kPauseSliceMs = 10;

TPlayState state;
// The sprite sheet's surface object; its pixels belong to the display's DirectDraw.
std::unique_ptr<media::TDirectDrawSurface> arrowSheetOwner;
// The song time at which each movie slot was last selected by an image object.
std::map<int32_t, double> movieStarts;

// The real time from one play frame to the next, as far as sounds are handed ahead: the longest
// gap between frames in the current and the last second, at least the nominal frame period, so
// that a display slower than 60 Hz or a machine that holds frames back does not make sounds
// late. A gap longer than kMaxFrameGapMs is a pause, not a frame.
class FramePace {
public:
    void Reset() { *this = FramePace(); }
    double AheadMs(double nominalMs, uint32_t now) {
        if (started_) {
            const double gap = static_cast<double>(now - last_);
            if (gap <= kMaxFrameGapMs) current_ = std::max(current_, gap);
            if (now - windowStart_ >= kWindowMs) {
                previous_ = current_;
                current_ = 0;
                windowStart_ = now;
            }
        } else {
            windowStart_ = now;
        }
        started_ = true;
        last_ = now;
        return std::max({nominalMs, previous_, current_});
    }

private:
    static constexpr uint32_t kWindowMs = 1000;
    static constexpr double kMaxFrameGapMs = 250;
    bool started_ = false;
    uint32_t last_ = 0;
    uint32_t windowStart_ = 0;
    double current_ = 0;
    double previous_ = 0;
};
FramePace framePace;

TDM& Dm() {
    CreateDM();
    return *DM;
}

struct Layout {
    int firstX;
    int secondX;
    bool secondReceptors;
};

Layout LayoutFor(int32_t playerMode) {
    switch (playerMode) {
        case 1: return {8, 184, false};
        case 2: return {8, 184, true};
        case 3: return {32, 160, true};
        default: return {8, -1, playerMode > 1};
    }
}

gui::TRect ReceptorCell(int column, bool bright) {
    const int top = bright ? 32 : 1;
    return gui::Rect(31 * column + 1, top, 31 * column + 31, top + kCellSize);
}

gui::TRect ArrowCell(int column, int phase) {
    return gui::Rect(31 * column + 1, 31 * phase + 63, 31 * column + 31, 31 * phase + 93);
}

// ⌊P / 8⌋ mod 4, also for negative positions (the shift rounds down).
int PhaseOf(int32_t position) { return (position >> 3) & 3; }

// Red of the pulsing backdrop: |2 × (P mod 254) − 255| with the remainder in 0 to 253.
int BackdropRed(int32_t position) {
    int32_t m = position % 254;
    if (m < 0) m += 254;
    return std::abs(2 * m - 255);
}

// A decimal picture of `digits` zeros: all digits of a longer number, a minus sign before a
// negative one.
std::string Digits(int64_t value, int digits) {
    char text[32];
    if (value < 0) {
        std::snprintf(text, sizeof text, "-%0*lld", digits, static_cast<long long>(-value));
    } else {
        std::snprintf(text, sizeof text, "%0*lld", digits, static_cast<long long>(value));
    }
    return text;
}

std::string Hex8(int32_t value) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(value) & 0xFFu);
    return text;
}

media::TDirectDrawSurface* LoadedImage(engine::TBMS& engine, int32_t index) {
    if (index < 0 || static_cast<size_t>(index) >= engine.Slots().BgaLoaded.size() || !engine.Slots().BgaLoaded[static_cast<size_t>(index)])
        return nullptr;
    return engine.Slots().BgaImages[static_cast<size_t>(index)].get();
}

// The Show Params line; the ticker keeps the lines of the frames before.
void TickParameters(engine::TBMS& engine, int32_t p, const PlaySettings& settings, const FrameInput& input) {
    if (!settings.ShowParams) return;
    engine.TickerLine(ParameterLine(p, input.FrameRate, state.LastSoundObject, engine.Chart().LastObject(), state.BaseImage,
                                    state.LayerImage, state.FrameNumber),
                      gui::RGB(0, 255, 0));
}

// An image object at `index` selected `slot`: a movie there starts from its first picture.
void StartMovie(engine::TBMS& engine, int32_t slot, int32_t index) {
    const auto movie = engine.Slots().BgaMovies.find(slot);
    if (movie == engine.Slots().BgaMovies.end()) return;
    movie->second->Restart();
    movieStarts[slot] = engine.Chart().Time(index);
}

// Puts into the slot surfaces of the base and layer images that are movies the pictures due at
// the song time elapsed since each was selected.
void ShowMovies(engine::TBMS& engine) {
    if (engine.Slots().BgaMovies.empty()) return;
    std::optional<int32_t> now;
    for (const int32_t slot : {state.BaseImage, state.LayerImage}) {
        const auto movie = engine.Slots().BgaMovies.find(slot);
        const auto start = movieStarts.find(slot);
        if (movie == engine.Slots().BgaMovies.end() || start == movieStarts.end()) continue;
        if (!now) now = engine.SongTime();
        movie->second->Show(*now - start->second);
    }
}

void DrawBackground(media::TDXDraw& dxd, engine::TBMS& engine, const Layout& layout, int32_t p,
                    const PlaySettings& settings, const FrameInput& input) {
    media::TDirectDrawSurface& surface = *dxd.Surface();
    if (engine.Slots().HasBga) {
        surface.Fill(surface.DeviceColor(gui::clBlack));
    } else {
        surface.Fill(surface.DeviceColor(gui::RGB(static_cast<uint32_t>(BackdropRed(p)), 0, 255)));
    }
    const gui::TRect screen = gui::Rect(0, 0, kScreenWidth, kScreenHeight);
    if (media::TDirectDrawSurface* base = LoadedImage(engine, state.BaseImage))
        surface.FastBlit(0, 0, screen, media::DDBLTFAST_NOCOLORKEY, base);
    if (media::TDirectDrawSurface* layer = LoadedImage(engine, state.LayerImage))
        surface.FastBlit(0, 0, screen, media::DDBLTFAST_SRCCOLORKEY, layer);

    TickParameters(engine, p, settings, input);

    const bool bright = PhaseOf(p) == 0;
    for (int k = 0; k < 4; ++k)
        surface.FastBlit(layout.firstX + kLaneSpacing * k, kReceptorY, ReceptorCell(k, bright),
                         media::DDBLTFAST_SRCCOLORKEY, state.ArrowSheet);
    if (layout.secondReceptors) {
        for (int k = 0; k < 4; ++k)
            surface.FastBlit(layout.secondX + kLaneSpacing * k, kReceptorY, ReceptorCell(k, bright),
                             media::DDBLTFAST_SRCCOLORKEY, state.ArrowSheet);
    }
}

void DrawArrow(media::TDirectDrawSurface& surface, int x, int64_t y, const gui::TRect& cell, bool pending,
               bool hidden) {
    // Above this an arrow is clipped to nothing; skipping it also keeps y within int range.
    if (y < -kCellSize) return;
    const int yi = static_cast<int>(y);
    if (!hidden && pending) {
        DrawClipped(x, yi, cell, media::DDBLTFAST_SRCCOLORKEY, state.ArrowSheet, &surface);
        return;
    }
    const int alpha = 2 * (yi - 70);
    if (alpha <= 0) return;
    if (alpha >= 255) {
        DrawClipped(x, yi, cell, media::DDBLTFAST_SRCCOLORKEY, state.ArrowSheet, &surface);
        return;
    }
    surface.DrawBlended(gui::Rect(x, yi, x + kCellSize, yi + kCellSize), cell, state.ArrowSheet, true, alpha);
}

// Play from a measure: the last sound of each slot before the start (a later one of the same slot
// would have cut it) goes to the mixer with its own time, so that one still sounding at the start
// is heard from there on, from the point it has reached.
void CarryOverSounds(engine::TBMS& engine) {
    const engine::Timeline& chart = engine.Chart();
    std::map<int32_t, int32_t> lastOfSlot;
    for (int32_t i = 0; i < state.StartIndex; ++i)
        if (chart[i].Kind < 100) lastOfSlot[chart[i].Value] = i;
    std::vector<int32_t> carried;
    for (const auto& [slot, index] : lastOfSlot) carried.push_back(index);
    std::sort(carried.begin(), carried.end());
    for (const int32_t index : carried) engine.PlaySound(chart[index].Value, chart.Time(index));
}

// Hands the mixer, with their times, the sounds that must start before the next frame could
// place them (one frame and one device block ahead), so that each starts on its exact sample,
// and in any case those of the objects reached (only these without a mixer clock). Each object
// goes once, in table order.
void ScheduleSounds(engine::TBMS& engine, int32_t p, const PlaySettings& settings, const FrameInput& input) {
    const double horizon = engine.SoundHorizon(framePace.AheadMs(settings.FramePeriodMs, input.NowMs));
    const engine::Timeline& chart = engine.Chart();
    if (state.CarryOverPending) {
        state.CarryOverPending = false;
        CarryOverSounds(engine);
    }
    for (int32_t i; (i = state.SoundCursor.Next(p, horizon)) >= 0;) {
        const engine::TChartObject& object = chart[i];
        if (object.Kind < 100) engine.PlaySound(object.Value, chart.Time(i));
    }
}

// Triggers the objects reached: the last sound for the read-out, and the image changes.
// Returns the highest position triggered so far.
int32_t TriggerObjects(engine::TBMS& engine, int32_t p) {
    const engine::Timeline& chart = engine.Chart();
    int32_t highest = state.TriggeredUpTo;
    for (int32_t i; (i = state.TriggerCursor.NextUpTo(p)) >= 0;) {
        const engine::TChartObject& object = chart[i];
        highest = std::max(highest, object.Position);
        if (object.Kind < 100) {
            state.LastSoundObject = i;
        } else if (object.Kind == engine::kBaseImage) {
            state.BaseImage = object.Value;
            StartMovie(engine, object.Value, i);
        } else if (object.Kind == engine::kLayerImage) {
            state.LayerImage = object.Value;
            StartMovie(engine, object.Value, i);
        }
    }
    return highest;
}

// Steps 4 to 11 of a frame; exceptions pass to the caller's guard.
bool RunFrame(media::TDXDraw& dxd, engine::TBMS& engine, const PlaySettings& settings, const FrameInput& input,
              bool spacePressed) {
    const bool drawing = engine.BgaDisplayMode < 2;
    if (drawing && !dxd.ReadyToDraw()) return false;

    engine::Timeline& chart = engine.Chart();
    const int32_t p = engine.SongPosition();
    const int phase = PhaseOf(p);
    const bool over = chart.EndPosition() < p;
    const Layout layout = LayoutFor(engine.Header().PlayerMode);
    const bool picture = drawing && input.DrawPicture;
    if (picture) {
        ShowMovies(engine);
        DrawBackground(dxd, engine, layout, p, settings, input);
    } else if (drawing) {
        TickParameters(engine, p, settings, input);
    }

    ScheduleSounds(engine, p, settings, input);
    const int32_t triggeredUpTo = TriggerObjects(engine, p);

    const bool hidden = settings.Hidden;
    media::TDirectDrawSurface* surface = dxd.Surface();
    const std::span<const engine::TChartObject> objects = chart.Objects();
    for (int32_t i = std::max<int32_t>(state.ScanCursor.Index(), 0); i < static_cast<int32_t>(objects.size()); ++i) {
        const engine::TChartObject& object = objects[static_cast<size_t>(i)];
        // Objects without a lane move the scan on and end it too (a later object lies no
        // higher, and one below the screen is not due), so that a frame only visits the
        // objects near the screen however many sounds a chart has.
        const int64_t offset = int64_t{object.Position} - p;
        const int64_t y = offset + kReceptorY;
        if (y < -32) state.ScanCursor.Seek(i + 1);
        if (y > kScreenHeight) break;
        const int lane = LaneOf(object.Kind);
        if (lane < 0) continue;

        const int x = (lane < 4 ? layout.firstX : layout.secondX) + kLaneSpacing * (lane % 4);

        if (spacePressed && offset > -kHitWindow && offset < kHitWindow) chart.Hit(i);
        if (picture) DrawArrow(*surface, x, y, ArrowCell(lane % 4, phase), object.Pending, hidden);
    }

    if (drawing) dxd.Flip();
    state.TriggeredUpTo = triggeredUpTo;
    return over;
}

// Sets play up to begin at measure `measure`: the engine's clock starts there, the sound and
// trigger cursors wait at its first object, and the base and layer pictures last selected before
// it are in place (a movie shown from where it has got to).
void StartFromMeasure(engine::TBMS& engine, int32_t measure) {
    const engine::Timeline& chart = engine.Chart();
    const double position = chart.MeasureStart(measure);
    if (position > chart.EndPosition()) {
        state.StartPastEnd = true;
        return;
    }
    engine.SetStartTime(chart.TimeAt(position));
    state.StartIndex = chart.FirstAt(position);
    state.SoundCursor.Seek(state.StartIndex);
    state.TriggerCursor.Seek(state.StartIndex);
    state.CarryOverPending = true;
    int32_t base = -1, layer = -1;
    for (int32_t i = 0; i < state.StartIndex; ++i) {
        if (chart[i].Kind == engine::kBaseImage) base = i;
        if (chart[i].Kind == engine::kLayerImage) layer = i;
        if (chart[i].Kind < 100) state.LastSoundObject = i;
    }
    for (const int32_t index : {base, layer}) {
        if (index < 0) continue;
        (chart[index].Kind == engine::kBaseImage ? state.BaseImage : state.LayerImage) = chart[index].Value;
        StartMovie(engine, chart[index].Value, index);
    }
}

}  // namespace

TPlayState& State() { return state; }

bool SetupAndLoad(gui::Application& application, media::TDXDraw& dxd, engine::TBMS& engine, const std::string& fileName,
                  const PlaySettings& settings) {
    TDM& dm = Dm();
    state.TriggeredUpTo = -9999;
    dm.SpaceDown = false;
    state.FrameNumber = 0;
    state.LastSoundObject = 0;
    state.SoundCursor = state.TriggerCursor = state.ScanCursor = {};
    framePace.Reset();
    movieStarts.clear();

    const bool drawing = engine.BgaDisplayMode < 2;
    if (drawing) {
        if (settings.ColorMode == 0) {
            dxd.Display().SetBitCount(8);
            dxd.ColorTable() = dm.DXDIB1.DIB().ColorTable();
        } else if (settings.ColorMode == 1) {
            dxd.Display().SetBitCount(16);
        }
        dxd.Display().SetWidth(kScreenWidth);
        dxd.Display().SetHeight(kScreenHeight);
        media::TDXDrawOptions options = dxd.Options();
        if (settings.DisplayMode == 0) {
            options.Include(media::doFullScreen);
        } else if (settings.DisplayMode == 1) {
            options.Exclude(media::doFullScreen);
        }
        dxd.SetOptions(options);
        dxd.Initialize();
        dxd.Surface()->SetTransparentColor(dxd.Surface()->DeviceColor(gui::clBlack));
    }

    engine.Options.StartMeasure = settings.StartMeasure;
    if (!engine.LoadChart(fileName, kTicksPerMeasure)) return false;
    state.SoundCursor = state.TriggerCursor = state.ScanCursor = engine::Timeline::Cursor(engine.Chart());
    state.StartIndex = 0;
    state.CarryOverPending = state.StartPastEnd = false;

    if (drawing) {
        arrowSheetOwner = std::make_unique<media::TDirectDrawSurface>(dxd.DirectDraw());
        state.ArrowSheet = arrowSheetOwner.get();
        state.ArrowSheet->LoadGraphic(dm.DXDIB1.DIB());
        state.ArrowSheet->SetTransparentColor(state.ArrowSheet->DeviceColor(gui::RGB(255, 0, 255)));
    }
    state.BaseImage = -1;
    state.LayerImage = -1;
    if (settings.StartMeasure > 0) StartFromMeasure(engine, settings.StartMeasure);
    // The pause keeps the window answering as the load did: Esc, the close box and a quit end it.
    const uint32_t pauseStart = gui::GetTickCount();
    for (uint32_t paused = 0; paused < kPauseAfterLoadMs; paused = gui::GetTickCount() - pauseStart) {
        gui::Sleep(std::min<uint32_t>(kPauseAfterLoadMs - paused, kPauseSliceMs));
        if (engine.Options.OnProgress && !engine.Options.OnProgress()) break;
    }
    return true;
}

bool BeforePlay(media::TDXDraw&, engine::TBMS&) { return true; }

bool AfterPlay() { return true; }

FrameInput ReadFrameInput(media::TDXInput& input, const media::TCustomDXTimer& timer) {
    input.Update();
    FrameInput frame;
    frame.NowMs = gui::Clock::Now();
    frame.SpaceDown = input.Keys(kSpaceKey);
    frame.FrameRate = timer.FrameRate();
    return frame;
}

bool PlayFrame(media::TDXDraw& dxd, engine::TBMS& engine, const PlaySettings& settings, const FrameInput& input) {
    TDM& dm = Dm();
    ++state.FrameNumber;
    dm.SpaceWasDown = dm.SpaceDown;
    dm.SpaceDown = input.SpaceDown;
    const bool spacePressed = dm.SpaceDown && !dm.SpaceWasDown;
    if (state.StartPastEnd) return true;
    try {
        return RunFrame(dxd, engine, settings, input, spacePressed);
    } catch (const gui::Exception&) {
        return true;
    }
}

void DrawClipped(int x, int y, const gui::TRect& srcRect, int flags, const media::TDirectDrawSurface* source,
                 media::TDirectDrawSurface* dest) {
    gui::TRect r = srcRect;
    if (x < 0) {
        r.Left -= x;
        x = 0;
    }
    if (r.Width() + x > kScreenWidth) r.Right = kScreenWidth - x + r.Left;
    if (y < 0) {
        r.Top -= y;
        y = 0;
    }
    if (r.Height() + y > kScreenHeight) r.Bottom = kScreenHeight - y + r.Top;
    if (r.Empty()) return;
    dest->FastBlit(x, y, r, flags, source);
}

int LaneOf(int32_t kind) {
    switch (kind) {
        case 11: return 0;
        case 13: return 1;
        case 15: return 2;
        case 16: return 3;
        case 21: return 4;
        case 23: return 5;
        case 25: return 6;
        case 26: return 7;
        default: return -1;
    }
}

std::string ParameterLine(int32_t position, int32_t frameRate, int32_t lastSoundObject, int32_t lastObject,
                          int32_t baseImage, int32_t layerImage, int32_t frameNumber) {
    std::string line = position < 0 ? Digits(position, 5) : Digits(position, 6);
    line += "mSec ";
    line += Digits(frameRate, 3) + "fps";
    line += " ";
    line += Digits(lastSoundObject, 5);
    line += "/";
    line += Digits(lastObject, 5);
    line += "obj BMP:";
    line += Hex8(baseImage);
    line += ":";
    line += Hex8(layerImage);
    line += " FNo.";
    line += Digits(frameNumber, 6);
    return line;
}

}  // namespace play
