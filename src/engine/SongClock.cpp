#include "engine/SongClock.h"

#include <cmath>
#include <limits>

namespace engine {

void SongClock::Start(const Sources& now, uint32_t leadInMs, double skipMs) {
    clockBase_ = now.systemMs + leadInMs - static_cast<uint32_t>(std::llround(skipMs));
    if (now.device)
        originFrame_ = now.device->playingFrame + leadInMs / 1000.0 * now.device->rate -
                       std::round(skipMs / 1000.0 * now.device->rate);
}

double SongClock::RealMs(const Sources& now) {
    if (now.midi) {
        const int32_t position = now.midi->positionMs;
        // The track's timeline is the song's, and stays so when the track stops: the song goes
        // on from where the track left off instead of falling back to the older clock.
        clockBase_ = now.systemMs - static_cast<uint32_t>(position);
        if (now.device) {
            const int64_t start = now.midi->startFrame;
            originFrame_ = start != Midi::kUnknownFrame ? static_cast<double>(start)
                                      : now.device->playingFrame - position * (now.device->rate / 1000.0);
        }
        return position;
    }
    if (now.device) return (now.device->playingFrame - originFrame_) * 1000.0 / now.device->rate;
    return static_cast<int32_t>(now.systemMs - clockBase_);
}

int32_t SongClock::SongTime(const Sources& now, int32_t playSpeed) {
    const long double scaled = std::truncl(static_cast<long double>(RealMs(now)) / 100 * playSpeed);
    if (!(scaled <= INT32_MAX)) return scaled < INT32_MIN ? INT32_MIN : INT32_MAX;
    if (scaled < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(scaled);
}

double SongClock::Horizon(const Sources& now, double frameMs, int32_t playSpeed) {
    if (!now.device || !(playSpeed > 0)) return -std::numeric_limits<double>::infinity();
    const double aheadMs = frameMs + 1000.0 * now.device->blockFrames / now.device->rate;
    return (RealMs(now) + aheadMs) / 100 * playSpeed;
}

double SongClock::FrameAt(double songTime, int32_t playSpeed, int rate) const {
    return originFrame_ + songTime * 100 / playSpeed * rate / 1000;
}

}  // namespace engine
