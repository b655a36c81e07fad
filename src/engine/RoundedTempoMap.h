// The fixed dialect's tempo map: points of whole milliseconds and ticks with straight lines
// between them, read as the format's song clock reads it.
#pragma once

#include <cstdint>
#include <vector>

namespace engine {

struct TTempoPoint {
    int32_t Time = 0;
    int32_t Position = 0;
    bool operator==(const TTempoPoint&) const = default;
};

class RoundedTempoMap {
public:
    RoundedTempoMap() = default;
    // `points` from (0, 0) on, in order of position; `tempos[k]` is the tempo that starts at
    // point k (the last one is never used for a segment).
    RoundedTempoMap(std::vector<TTempoPoint> points, std::vector<float> tempos, int32_t ticksPerMeasure);

    const std::vector<TTempoPoint>& Points() const { return points_; }
    // Points after the start point.
    int32_t Count() const { return static_cast<int32_t>(points_.size()) - 1; }

    // The position at song time `time`, rounded and held in 32 bits. `segment` is the segment in
    // use: it moves on at most one point per call, and never back.
    int32_t PositionAt(int32_t time, int32_t& segment) const;
    // The song time at which the line that PositionAt follows reaches `position`.
    double TimeAt(double position) const;
    // The same for positions that do not go back from call to call: `segment` (1 at first)
    // moves on with them, so a whole table costs one pass over the map.
    double TimeAt(double position, int32_t& segment) const;

private:
    // TimeAt on segment s, the first that ends at or after the position (clamped to the map).
    double TimeOnSegment(double position, int32_t s) const;

    std::vector<TTempoPoint> points_;
    std::vector<float> tempos_;
    // For each segment the segment whose line stands in for it when it lasts no time (see
    // PositionAt).
    std::vector<int32_t> lineSegment_;
    // Ticks per millisecond of each segment that lasts some time.
    std::vector<long double> pace_;
    int32_t ticksPerMeasure_ = 0;
};

// Rounds a position, holding it inside the 32-bit range when the clock runs far past the map.
int32_t ClampRound(long double value);

}  // namespace engine
