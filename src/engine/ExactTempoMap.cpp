#include "engine/ExactTempoMap.h"

#include <algorithm>

namespace engine {

ExactTempoMap::ExactTempoMap(std::vector<TExactPoint> points, double paceBefore, double paceAfter)
    : paceBefore_(paceBefore), paceAfter_(paceAfter) {
    for (const TExactPoint& point : points) {
        if (!points_.empty() && points_.back().Time == point.Time)
            points_.back() = point;
        else
            points_.push_back(point);
    }
}

double ExactTempoMap::PositionAt(double time, size_t& segment) const {
    if (points_.empty()) return 0;
    const TExactPoint& first = points_.front();
    if (time < first.Time) return first.Position + (time - first.Time) * paceBefore_;
    segment = std::min(segment, points_.size() - 1);
    while (segment + 1 < points_.size() && points_[segment + 1].Time <= time) ++segment;
    while (segment > 0 && points_[segment].Time > time) --segment;
    const TExactPoint& from = points_[segment];
    if (segment + 1 == points_.size()) return from.Position + (time - from.Time) * paceAfter_;
    const TExactPoint& to = points_[segment + 1];
    return from.Position + (to.Position - from.Position) * (time - from.Time) / (to.Time - from.Time);
}

double ExactTempoMap::TimeAt(double position) const {
    if (points_.empty()) return 0;
    const TExactPoint& first = points_.front();
    if (position <= first.Position) return paceBefore_ > 0 ? first.Time + (position - first.Position) / paceBefore_ : first.Time;
    // The first point at or past the position; the segment that leads to it reaches it first.
    const auto at = std::lower_bound(points_.begin(), points_.end(), position,
                                     [](const TExactPoint& point, double p) { return point.Position < p; });
    if (at == points_.end()) {
        const TExactPoint& last = points_.back();
        return paceAfter_ > 0 ? last.Time + (position - last.Position) / paceAfter_ : last.Time;
    }
    const TExactPoint& to = *at;
    const TExactPoint& from = *(at - 1);
    return from.Time + (to.Time - from.Time) * (position - from.Position) / (to.Position - from.Position);
}

}  // namespace engine
