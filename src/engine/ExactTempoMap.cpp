#include "engine/ExactTempoMap.h"

namespace engine {

void ExactTempoMap::Assign(std::vector<TExactPoint> points, double paceBefore, double paceAfter) {
    points_.clear();
    for (const TExactPoint& point : points) {
        if (!points_.empty() && points_.back().Time == point.Time)
            points_.back() = point;
        else
            points_.push_back(point);
    }
    paceBefore_ = paceBefore;
    paceAfter_ = paceAfter;
    cursor_ = 0;
}

void ExactTempoMap::Clear() {
    points_.clear();
    cursor_ = 0;
}

double ExactTempoMap::PositionAt(double time) {
    if (points_.empty()) return 0;
    const TExactPoint& first = points_.front();
    if (time < first.Time) return first.Position + (time - first.Time) * paceBefore_;
    while (cursor_ + 1 < points_.size() && points_[cursor_ + 1].Time <= time) ++cursor_;
    while (cursor_ > 0 && points_[cursor_].Time > time) --cursor_;
    const TExactPoint& from = points_[cursor_];
    if (cursor_ + 1 == points_.size()) return from.Position + (time - from.Time) * paceAfter_;
    const TExactPoint& to = points_[cursor_ + 1];
    return from.Position + (to.Position - from.Position) * (time - from.Time) / (to.Time - from.Time);
}

}  // namespace engine
