// One chart as play reads it: every object with its position in ticks and its exact song time,
// the tempo line between song time and position, and the end. Both readings build one (the fixed
// dialect on its rounded tempo map, the extended reading on an exact one); the play frame, the
// sound scheduler and the tools walk it with cursors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>
#include <vector>

#include "engine/ExactTempoMap.h"
#include "engine/RoundedTempoMap.h"

namespace engine {

struct TChartObject {
    int32_t Kind = 0;
    int32_t Position = 0;
    int32_t Value = 0;
    bool Pending = true;
    bool operator==(const TChartObject&) const = default;
};

// Object kinds.
constexpr int32_t kBackgroundSound = 0;
constexpr int32_t kBaseImage = 104;
constexpr int32_t kLayerImage = 105;
constexpr int32_t kTempoChange = 200;
constexpr int32_t kMeasureLength = 201;

class Timeline {
public:
    // No objects; the position is 0 at every time.
    Timeline() = default;
    // The fixed dialect's table (in position order, the end marker last) on its rounded map; each
    // object sounds when the map's line reaches its position.
    static Timeline OnRoundedMap(std::vector<TChartObject> objects, RoundedTempoMap map, int32_t ticksPerMeasure,
                                 int32_t endPosition);
    // A table in position order with the exact song time of each object, on an exact map;
    // `tempoMap` is that map in whole milliseconds and ticks, for those who print it. Raises when
    // the times do not cover the table.
    static Timeline OnExactMap(std::vector<TChartObject> objects, std::vector<double> times, ExactTempoMap map,
                               std::vector<TTempoPoint> tempoMap, int32_t ticksPerMeasure, int32_t endPosition);

    int32_t Count() const { return static_cast<int32_t>(objects_.size()); }
    int32_t LastObject() const { return Count() - 1; }
    std::span<const TChartObject> Objects() const { return objects_; }
    const TChartObject& operator[](int32_t index) const { return objects_[static_cast<size_t>(index)]; }
    // The song time in milliseconds (before play speed) at which object `index` sounds; 0 for an
    // index outside the table.
    double Time(int32_t index) const;
    // The player hit the arrow of object `index`: it is no longer pending.
    void Hit(int32_t index);

    int32_t TicksPerMeasure() const { return ticksPerMeasure_; }
    // The position after which the song is over, and the song time at which play reaches it.
    int32_t EndPosition() const { return endPosition_; }
    double EndTime() const { return TimeAt(endPosition_); }
    // The song time at which play first reaches `position`.
    double TimeAt(double position) const;
    // The tempo map in whole milliseconds and ticks; point 0 is (0, 0).
    const std::vector<TTempoPoint>& TempoMap() const;
    // The position at which measure `measure` (0 or more) begins, after the lengths of the
    // measures before it; measures past those the reading recorded are of plain length.
    double MeasureStart(int32_t measure) const;
    // The extended reading records where its measures begin; the fixed dialect's table carries
    // its measure lengths as objects instead.
    void SetMeasureStarts(std::vector<double> starts) { measureStarts_ = std::move(starts); }
    // The index of the first object at `position` or later (Count() when there is none).
    int32_t FirstAt(double position) const;

    // The song position at each clock value, as play reads it frame by frame: on the rounded map
    // the segment moves on at most one point per reading, as the format's clock does; on an exact
    // map it follows the clock wherever it goes.
    class PositionCursor {
    public:
        explicit PositionCursor(const Timeline* timeline = nullptr) : timeline_(timeline) {}
        int32_t PositionAt(int32_t songTime);
        // The segment of the rounded map in use (1 at first).
        int32_t Segment() const { return segment_; }

    private:
        const Timeline* timeline_;
        int32_t segment_ = 1;
        size_t exactSegment_ = 0;
    };

    // Walks the objects in table order, which is position order and so time order.
    class Cursor {
    public:
        Cursor() = default;
        explicit Cursor(const Timeline& timeline, int32_t index = 0) : timeline_(&timeline), index_(index) {}
        int32_t Index() const { return index_; }
        bool AtEnd() const { return timeline_ == nullptr || index_ >= timeline_->Count(); }
        void Seek(int32_t index) { index_ = index; }
        // To the first object that sounds at `time` or later.
        void SeekTime(double time);
        // The index of the object at the cursor, moving past it, when it lies up to `position`
        // (NextUpTo), sounds until `time` (NextUntil), or either (Next); -1 otherwise.
        int32_t NextUpTo(int32_t position) { return Next(position, -kNever); }
        int32_t NextUntil(double time) { return Next(INT32_MIN, time); }
        int32_t Next(int32_t upTo, double until);

    private:
        static constexpr double kNever = 1e300;
        const Timeline* timeline_ = nullptr;
        int32_t index_ = 0;
    };

private:
    std::vector<TChartObject> objects_;
    std::vector<double> times_;
    std::variant<RoundedTempoMap, ExactTempoMap> line_;
    // The exact map in whole numbers; the rounded map has its own.
    std::vector<TTempoPoint> exactTempoMap_;
    std::vector<double> measureStarts_;
    int32_t ticksPerMeasure_ = 0;
    int32_t endPosition_ = 0;
};

}  // namespace engine
