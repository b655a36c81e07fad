// The play screen: display set-up and chart loading, the per-frame play routine, and the state
// they share for the whole run.
#pragma once

#include <cstdint>
#include <string>

#include "engine/Timeline.h"
#include "play/PlaySettings.h"

namespace gui {
struct TRect;
class Application;
}  // namespace gui
namespace media {
class TDXDraw;
class TDirectDrawSurface;
class TDXInput;
class TCustomDXTimer;
}  // namespace media
namespace engine {
class TBMS;
}  // namespace engine

namespace play {

// Module state, one of each for the whole run.
struct TPlayState {
    media::TDirectDrawSurface* ArrowSheet = nullptr;
    int32_t BaseImage = -1;
    int32_t LayerImage = -1;
    int32_t TriggeredUpTo = -9999;
    int32_t FrameNumber = 0;
    int32_t LastSoundObject = 0;
    // Cursors on the chart's timeline: the next object whose sound has not gone to the mixer
    // yet, the next one not yet triggered, and the first one the arrow scan still examines.
    engine::Timeline::Cursor SoundCursor;
    engine::Timeline::Cursor TriggerCursor;
    engine::Timeline::Cursor ScanCursor;
    // Play from a measure: the first object of that measure, whether the sounds of the objects
    // before it still wait to be started part-way (on the first frame, once the clock runs), and
    // whether the measure lies past the end of the chart (play is over at once).
    int32_t StartIndex = 0;
    bool CarryOverPending = false;
    bool StartPastEnd = false;
};
TPlayState& State();

// Step 20: resets the play state, sets up the display (unless playback only) in the colour and
// display modes of `settings`, loads the chart, puts the sprite sheet on a surface and pauses a
// second. With a start measure, play is set to begin where it begins: the pictures selected
// before it are shown, nothing before it is triggered. False when the chart cannot be loaded.
bool SetupAndLoad(gui::Application& application, media::TDXDraw& dxd, engine::TBMS& engine, const std::string& fileName,
                  const PlaySettings& settings);
// Step 30 and step 50 hooks; both report readiness.
bool BeforePlay(media::TDXDraw& dxd, engine::TBMS& engine);
bool AfterPlay();
// A frame's input as the program reads it now: the clock, Space on `input` (updated first), the
// frame rate of `timer`.
FrameInput ReadFrameInput(media::TDXInput& input, const media::TCustomDXTimer& timer);
// Step 40: one frame of play with the settings and the input of this frame. True when play is
// over.
bool PlayFrame(media::TDXDraw& dxd, engine::TBMS& engine, const PlaySettings& settings, const FrameInput& input);

// FastBlit of `srcRect` to (x, y) with the destination clipped to the 320×240 screen; a
// rectangle clipped to nothing draws nothing.
void DrawClipped(int x, int y, const gui::TRect& srcRect, int flags, const media::TDirectDrawSurface* source,
                 media::TDirectDrawSurface* dest);
// Lane 0-7 in which an object of `kind` is drawn as an arrow, -1 for kinds that draw nothing.
int LaneOf(int32_t kind);
// The Show Params read-out, e.g. "001234mSec 060fps 00012/00345obj BMP:01:FF FNo.000567".
std::string ParameterLine(int32_t position, int32_t frameRate, int32_t lastSoundObject, int32_t lastObject,
                          int32_t baseImage, int32_t layerImage, int32_t frameNumber);

}  // namespace play
