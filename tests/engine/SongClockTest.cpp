// The song clock on its own, fed readings by hand: which source it follows and how it hands over.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/SongClock.h"

namespace {

using engine::SongClock;
using Sources = SongClock::Sources;

// A device at 1000 frames a second, so that a frame is a millisecond.
SongClock::Device At(double frame, int blockFrames = 0) { return {frame, 1000, blockFrames}; }

TEST(SongClock, WhenTheMidiEndsEarlyTheSongGoesOnFromWhereTheTrackLeftOff) {
    // On the system clock: song time 0 at 3000 ms; the track says 500 at 3600 (it started late).
    SongClock system;
    system.Start({std::nullopt, std::nullopt, 1000});
    EXPECT_EQ(system.RealMs({std::nullopt, std::nullopt, 2900}), -100);
    EXPECT_EQ(system.RealMs({SongClock::Midi{500, SongClock::Midi::kUnknownFrame}, std::nullopt, 3600}), 500);
    EXPECT_EQ(system.RealMs({std::nullopt, std::nullopt, 3700}), 600);

    // On the device: the track started on output frame 2100, or (unknown) where its position
    // puts it at the last reading.
    for (const int64_t startFrame : {int64_t{2100}, SongClock::Midi::kUnknownFrame}) {
        SongClock device;
        device.Start({std::nullopt, At(0), 0});
        EXPECT_EQ(device.RealMs({std::nullopt, At(1900), 99999}), -100);
        EXPECT_EQ(device.RealMs({SongClock::Midi{500, startFrame}, At(2650), 99999}), 500);
        EXPECT_EQ(device.RealMs({std::nullopt, At(2700), 0}), startFrame == SongClock::Midi::kUnknownFrame ? 550 : 600)
            << startFrame;
    }
}

TEST(SongClock, AStalledDeviceHoldsTheSongWhateverTheSystemClockDoes) {
    SongClock clock;
    clock.Start({std::nullopt, At(500), 0});
    EXPECT_EQ(clock.RealMs({std::nullopt, At(3000), 1000}), 500);
    EXPECT_EQ(clock.RealMs({std::nullopt, At(3000), 5000}), 500);
    EXPECT_EQ(clock.RealMs({std::nullopt, At(3010), 9000}), 510);
    EXPECT_EQ(clock.SongTime({std::nullopt, At(3010), 70000}, 100), 510);
}

TEST(SongClock, PlaySpeedScalesSongTimeTheHorizonAndTheSoundsFrames) {
    SongClock clock;
    clock.Start({std::nullopt, SongClock::Device{0, 44100, 441}, 0});
    const Sources now{std::nullopt, SongClock::Device{2.5 * 44100, 44100, 441}, 0};  // 500 ms of song
    const struct {
        int32_t speed;
        int32_t songTime;
        double horizon;  // 500 ms, a frame of 16 ms and a block of 10 ms, scaled
    } cases[] = {{100, 500, 526}, {150, 750, 789}, {75, 375, 394.5}, {25, 125, 131.5}};
    for (const auto& c : cases) {
        EXPECT_EQ(clock.SongTime(now, c.speed), c.songTime) << c.speed;
        EXPECT_DOUBLE_EQ(clock.Horizon(now, 16, c.speed), c.horizon) << c.speed;
        // A sound due at that song time starts on the frame the clock reads then.
        EXPECT_NEAR(clock.FrameAt(c.songTime, c.speed, 44100), 2.5 * 44100, 1e-6) << c.speed;
    }
    // Truncated toward zero on both sides of song time 0.
    EXPECT_EQ(clock.SongTime({std::nullopt, SongClock::Device{2 * 44100 - 44, 44100, 0}, 0}, 150), -1);
    // Without a device (or at no speed) sounds start as their objects are reached.
    EXPECT_EQ(clock.Horizon({std::nullopt, std::nullopt, 0}, 16, 100), -INFINITY);
    EXPECT_EQ(clock.Horizon(now, 16, 0), -INFINITY);
}

}  // namespace
