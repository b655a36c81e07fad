#include "engine/RoundedTempoMap.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "gui/Convert.h"

namespace engine {

int32_t ClampRound(long double value) {
    if (std::isnan(value)) return 0;
    value = std::clamp(value, static_cast<long double>(INT32_MIN), static_cast<long double>(INT32_MAX));
    return static_cast<int32_t>(gui::RoundHalfEven(value));
}

RoundedTempoMap::RoundedTempoMap(std::vector<TTempoPoint> points, std::vector<float> tempos, int32_t ticksPerMeasure)
    : points_(std::move(points)), tempos_(std::move(tempos)), ticksPerMeasure_(ticksPerMeasure) {
    // A segment that lasts no time has no line of its own: it borrows the line of the next
    // segment that lasts some time, which starts where it ends, so the position never goes back.
    const int32_t count = Count();
    lineSegment_.assign(static_cast<size_t>(std::max(count, 0)) + 1, 0);
    pace_.assign(lineSegment_.size(), 0);
    int32_t next = 0;
    for (int32_t s = count; s >= 1; --s) {
        const TTempoPoint& from = points_[s - 1];
        const TTempoPoint& to = points_[s];
        if (to.Time != from.Time) {
            next = s;
            pace_[s] = static_cast<long double>(int64_t{to.Position} - from.Position) /
                       static_cast<long double>(int64_t{to.Time} - from.Time);
        }
        lineSegment_[s] = next;
    }
}

int32_t RoundedTempoMap::PositionAt(int32_t t, int32_t& segment) const {
    const int32_t count = Count();
    if (count < 1) return 0;
    int32_t s = std::clamp(segment, 1, count);
    if (t > points_[s].Time && s < count) ++s;
    segment = s;

    const int32_t line = lineSegment_[s];
    if (line > 0) {
        const TTempoPoint& from = points_[line - 1];
        const TTempoPoint& to = points_[line];
        const long double slope = static_cast<long double>(int64_t{to.Position} - from.Position) /
                                  static_cast<long double>(int64_t{to.Time} - from.Time);
        return ClampRound(slope * static_cast<long double>(int64_t{t} - from.Time) + from.Position);
    }
    // No later segment lasts any time: only a header tempo so high that the whole chart rounds
    // to one instant. The position runs on at that tempo from the last point.
    const long double slope = static_cast<long double>(ticksPerMeasure_) / 4 * tempos_[s - 1] / 60000;
    return ClampRound(slope * static_cast<long double>(int64_t{t} - points_[s].Time) + points_[s].Position);
}

double RoundedTempoMap::TimeAt(double position) const {
    const int32_t count = Count();
    if (count < 1) return 0;
    // The first segment that ends at or after the position; before the map the first, past it
    // the last, whose lines PositionAt continues.
    const auto first = points_.begin() + 1;
    const auto end = points_.end();
    const auto at = std::lower_bound(first, end, position,
                                     [](const TTempoPoint& point, double p) { return point.Position < p; });
    return TimeOnSegment(position, std::clamp(static_cast<int32_t>(at - points_.begin()), 1, count));
}

double RoundedTempoMap::TimeAt(double position, int32_t& segment) const {
    const int32_t count = Count();
    if (count < 1) return 0;
    if (segment < 1 || segment > count || points_[segment - 1].Position >= position) return TimeAt(position);
    while (segment < count && points_[segment].Position < position) ++segment;
    return TimeOnSegment(position, segment);
}

double RoundedTempoMap::TimeOnSegment(double position, int32_t s) const {
    const bool lasts = points_[s].Time != points_[s - 1].Time;
    // A segment that lasts no time is passed in one instant.
    if (!lasts && position > points_[s - 1].Position && position <= points_[s].Position) return points_[s].Time;
    const int32_t line = lasts ? s : lineSegment_[s];
    if (line > 0) {
        const TTempoPoint& from = points_[line - 1];
        return static_cast<double>(from.Time + (static_cast<long double>(position) - from.Position) / pace_[line]);
    }
    // No later segment lasts any time: the tempo of the last point goes on from there.
    const long double ticksPerMs = static_cast<long double>(ticksPerMeasure_) / 4 * tempos_[s - 1] / 60000;
    return static_cast<double>(points_[s].Time + (static_cast<long double>(position) - points_[s].Position) / ticksPerMs);
}

}  // namespace engine
