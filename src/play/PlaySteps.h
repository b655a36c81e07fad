// The steps of one play, from loading the chart to its end, in the order the main form's
// sequencer runs them, one per timer tick; the offline renderer runs them one per virtual frame.
#pragma once

#include <cstdint>
#include <string>

#include "play/PlaySettings.h"

namespace gui {
class Application;
}
namespace media {
class TDXDraw;
}
namespace engine {
class TBMS;
}

namespace play {

constexpr int32_t kStepLoad = 20;        // set up the display, load, pause; then the lead-in starts
constexpr int32_t kStepBeforePlay = 30;  // waits until BeforePlay is ready
constexpr int32_t kStepStart = 31;       // starts the MIDI and the lead-in again
constexpr int32_t kStepPlay = 40;        // one play frame per tick until play is over
constexpr int32_t kStepAfterPlay = 50;
constexpr int32_t kStepEnd = 999;        // the caller's final step

bool IsPlayStep(int32_t step);

// Runs one tick of `step` (one of the steps above before kStepEnd) and moves it on. A chart that
// cannot be loaded goes to kStepEnd leaving `exitMessage` as it was; the end of play sets it to
// "" (or "あれれ？" when AfterPlay is not ready). Exceptions pass to the caller with `step` as it
// stood when they were raised: the start step has moved on to kStepPlay before it starts the
// MIDI, so a failure there counts as the play step's. The load reads `settings`, the play frame
// `settings` and `input`.
void RunPlayStep(int32_t& step, gui::Application& application, media::TDXDraw& dxd, engine::TBMS& engine,
                 const std::string& fileName, std::string& exitMessage, const PlaySettings& settings,
                 const FrameInput& input);

}  // namespace play
