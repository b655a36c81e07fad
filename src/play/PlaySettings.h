// What the play screen reads from its caller, as plain values: the settings of a play, taken at
// the moment of each call, and what one frame sees (the time, the keys, whether it is drawn).
// The main form fills them from the settings dialog's controls and its input component; the
// offline renderer and the tests fill them directly.
#pragma once

#include <cstdint>

namespace play {

struct PlaySettings {
    int ColorMode = -1;    // 0 = 256 colours, 1 = 65536 colours; anything else leaves the display's
    int DisplayMode = -1;  // 0 = full screen, 1 = window; anything else leaves the display's
    bool ShowParams = false;
    bool Hidden = false;
    // Real time from one play frame to the next, at least: how far ahead sounds go to the mixer
    // (longer gaps between the frames of the last second or two count instead).
    double FramePeriodMs = 1000.0 / 60;
    // The measure play starts from (0, the start), after the usual lead-in.
    int32_t StartMeasure = 0;
};

struct FrameInput {
    // The millisecond clock's reading when the frame began.
    uint32_t NowMs = 0;
    bool SpaceDown = false;
    // The frame timer's frames per second, for the Show Params read-out.
    int32_t FrameRate = 0;
    // False leaves out the frame's picture (its triggering, hits and ticker line stay), for an
    // offline renderer that keeps only some frames.
    bool DrawPicture = true;
};

}  // namespace play
