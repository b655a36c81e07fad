#include "engine/Timeline.h"

#include <algorithm>
#include <cmath>

#include "engine/TimingChecks.h"

namespace engine {

Timeline Timeline::OnRoundedMap(std::vector<TChartObject> objects, RoundedTempoMap map, int32_t ticksPerMeasure,
                                int32_t endPosition) {
    Timeline t;
    t.times_.reserve(objects.size());
    int32_t segment = 1;
    for (const TChartObject& object : objects) t.times_.push_back(map.TimeAt(object.Position, segment));
    t.objects_ = std::move(objects);
    t.line_ = std::move(map);
    t.ticksPerMeasure_ = ticksPerMeasure;
    t.endPosition_ = endPosition;
    return t;
}

Timeline Timeline::OnExactMap(std::vector<TChartObject> objects, std::vector<double> times, ExactTempoMap map,
                              std::vector<TTempoPoint> tempoMap, int32_t ticksPerMeasure, int32_t endPosition) {
    if (times.size() != objects.size()) throw ETimeTableError("the times do not cover the object table");
    Timeline t;
    t.objects_ = std::move(objects);
    t.times_ = std::move(times);
    t.line_ = std::move(map);
    t.exactTempoMap_ = std::move(tempoMap);
    t.ticksPerMeasure_ = ticksPerMeasure;
    t.endPosition_ = endPosition;
    return t;
}

double Timeline::Time(int32_t index) const {
    if (index < 0 || index >= Count()) return 0;
    return times_[static_cast<size_t>(index)];
}

void Timeline::Hit(int32_t index) {
    if (index >= 0 && index < Count()) objects_[static_cast<size_t>(index)].Pending = false;
}

double Timeline::TimeAt(double position) const {
    return std::visit([position](const auto& line) { return line.TimeAt(position); }, line_);
}

const std::vector<TTempoPoint>& Timeline::TempoMap() const {
    if (const auto* rounded = std::get_if<RoundedTempoMap>(&line_)) return rounded->Points();
    return exactTempoMap_;
}

double Timeline::MeasureStart(int32_t measure) const {
    measure = std::max(measure, 0);
    if (!measureStarts_.empty()) {
        const size_t last = measureStarts_.size() - 1;
        if (static_cast<size_t>(measure) <= last) return measureStarts_[static_cast<size_t>(measure)];
        return measureStarts_[last] + static_cast<double>(static_cast<size_t>(measure) - last) * ticksPerMeasure_;
    }
    // A measure-length record lies where its measure begins; the format rounds each shortened
    // or stretched measure to whole ticks once.
    int64_t start = 0;
    size_t i = 0;
    for (int32_t m = 0; m < measure; ++m) {
        while (i < objects_.size() && objects_[i].Position < start) ++i;
        long double ratio = 1;
        for (size_t j = i; j < objects_.size() && objects_[j].Position == start; ++j)
            if (objects_[j].Kind == kMeasureLength) ratio *= objects_[j].Value / 1000.0L;
        start += std::llround(static_cast<long double>(ticksPerMeasure_) * ratio);
    }
    return static_cast<double>(start);
}

int32_t Timeline::FirstAt(double position) const {
    const auto first = std::partition_point(objects_.begin(), objects_.end(), [position](const TChartObject& object) {
        return object.Position < position;
    });
    return static_cast<int32_t>(first - objects_.begin());
}

int32_t Timeline::PositionCursor::PositionAt(int32_t songTime) {
    if (timeline_ == nullptr) return 0;
    if (const auto* rounded = std::get_if<RoundedTempoMap>(&timeline_->line_)) return rounded->PositionAt(songTime, segment_);
    return ClampRound(std::get<ExactTempoMap>(timeline_->line_).PositionAt(songTime, exactSegment_));
}

void Timeline::Cursor::SeekTime(double time) {
    if (timeline_ == nullptr) return;
    const std::vector<double>& times = timeline_->times_;
    index_ = static_cast<int32_t>(std::lower_bound(times.begin(), times.end(), time) - times.begin());
}

int32_t Timeline::Cursor::Next(int32_t upTo, double until) {
    if (AtEnd() || index_ < 0) return -1;
    const size_t i = static_cast<size_t>(index_);
    if (timeline_->objects_[i].Position > upTo && !(timeline_->times_[i] <= until)) return -1;
    return index_++;
}

}  // namespace engine
