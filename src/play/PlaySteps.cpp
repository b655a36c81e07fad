#include "play/PlaySteps.h"

#include "engine/BMSEngine.h"
#include "media/MPlayer.h"
#include "play/TapoModule.h"

namespace play {

bool IsPlayStep(int32_t step) {
    return step == kStepLoad || step == kStepBeforePlay || step == kStepStart || step == kStepPlay ||
           step == kStepAfterPlay;
}

void RunPlayStep(int32_t& step, gui::Application& application, media::TDXDraw& dxd, engine::TBMS& engine,
                 const std::string& fileName, std::string& exitMessage, const PlaySettings& settings,
                 const FrameInput& input) {
    switch (step) {
        case kStepLoad:
            if (SetupAndLoad(application, dxd, engine, fileName, settings)) {
                step = kStepBeforePlay;
                engine.StartClock();
            } else {
                step = kStepEnd;
            }
            break;
        case kStepBeforePlay:
            if (BeforePlay(dxd, engine)) step = kStepStart;
            break;
        case kStepStart:
            step = kStepPlay;
            if (!engine.Header().MidiFileName.empty()) {
                // A play from a measure starts the backing track there too.
                engine.MediaPlayer->SetStartPosition(engine.StartTime());
                engine.MediaPlayer->Play();
            }
            engine.StartClock();
            break;
        case kStepPlay:
            if (PlayFrame(dxd, engine, settings, input)) step = kStepAfterPlay;
            break;
        case kStepAfterPlay:
            exitMessage = AfterPlay() ? "" : "あれれ？";
            step = kStepEnd;
            break;
        default: break;
    }
}

}  // namespace play
