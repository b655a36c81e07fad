// A tempo map without rounding: song time in milliseconds and position in ticks at each point
// where the pace changes, straight lines between them. A stop is a stretch of time in which the
// position stands still. Before the first point and after the last one the position runs on at
// a given pace.
#pragma once

#include <cstddef>
#include <vector>

namespace engine {

struct TExactPoint {
    double Time = 0;
    double Position = 0;
};

class ExactTempoMap {
public:
    ExactTempoMap() = default;
    // `points` in order of time and of position (neither goes back); `paceBefore` and `paceAfter`
    // in ticks per millisecond. Points that share a time keep only the last.
    ExactTempoMap(std::vector<TExactPoint> points, double paceBefore, double paceAfter);
    bool Empty() const { return points_.empty(); }
    const std::vector<TExactPoint>& Points() const { return points_; }

    // The position at song time `time`. `segment` remembers where the last call ended, so a
    // clock that moves forward costs a constant amount per call; a clock that goes back is
    // followed too.
    double PositionAt(double time, size_t& segment) const;
    // The song time at which the position first reaches `position` (the start of a stop there).
    double TimeAt(double position) const;

private:
    std::vector<TExactPoint> points_;
    double paceBefore_ = 0;
    double paceAfter_ = 0;
};

}  // namespace engine
