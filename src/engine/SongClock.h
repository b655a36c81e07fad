// The song clock: the real time since song time 0, read from whichever source is in force and
// handed over between them without a jump. While the MIDI backing track plays, its position is
// the song's; while the mixer's output is the song clock (a device plays it, or the offline
// renderer renders it), the frames it has played; otherwise the system clock. When the track
// ends, the song goes on from where it left off, on the mixer's frames or the system clock.
// The sources are read by the caller and handed in as plain values, so the clock runs the same
// in play, in the offline renderer and in tests.
#pragma once

#include <cstdint>
#include <optional>

namespace engine {

class SongClock {
public:
    // The backing track while it plays.
    struct Midi {
        int32_t positionMs = 0;
        static constexpr int64_t kUnknownFrame = INT64_MIN;
        // The mixer's output frame at which the track started (before the first, negative, for a
        // track started part-way), kUnknownFrame when unknown.
        int64_t startFrame = kUnknownFrame;
    };
    // The mixer while its output is the song clock.
    struct Device {
        double playingFrame = 0;
        int rate = 44100;
        // Frames the device takes at a time (0 for the offline renderer).
        int blockFrames = 0;
    };
    // What the sources read at one moment.
    struct Sources {
        std::optional<Midi> midi;
        std::optional<Device> device;
        uint32_t systemMs = 0;
    };

    static constexpr uint32_t kLeadInMs = 2000;

    // Song time 0 comes `leadInMs` of real time after `now`; with `skipMs`, the song begins that
    // far in (real milliseconds, a whole number of mixer frames on the mixer's clock): what comes
    // after the lead-in is the song from there on.
    void Start(const Sources& now, uint32_t leadInMs = kLeadInMs, double skipMs = 0);
    // Real milliseconds since song time 0 (before play speed). Reading the track's position
    // also moves the other sources onto its timeline, ready for when it ends.
    double RealMs(const Sources& now);
    // RealMs scaled by the play speed in percent and truncated toward zero, held in 32 bits.
    int32_t SongTime(const Sources& now, int32_t playSpeed);
    // The song time up to which sounds go to the mixer ahead, when the next look comes `frameMs`
    // of real time later: that and one device block past the clock. Minus infinity without a
    // device, or at a speed that is not positive.
    double Horizon(const Sources& now, double frameMs, int32_t playSpeed);
    // The mixer output frame at which song time `songTime` falls, at `rate` frames a second.
    double FrameAt(double songTime, int32_t playSpeed, int rate) const;

    // The system clock's reading of song time 0 (it wraps like the system counter).
    uint32_t ClockBase() const { return clockBase_; }

private:
    uint32_t clockBase_ = 0;
    // The mixer's output frame of song time 0.
    double originFrame_ = 0;
};

}  // namespace engine
