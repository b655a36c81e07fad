// The fixed dialect's time table, built exactly as the format defines it: the exchange sort's
// order, the measure lengths rewriting positions from the last measure back, the end marker two
// measures after the last object, the tempo map in whole milliseconds, and the end position.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "engine/Timeline.h"

namespace engine {

class FixedTimeTable {
public:
    // `progress`, when set, is called now and then during the long steps; it may raise to abandon
    // the build.
    FixedTimeTable(std::vector<TChartObject> objects, float bpm, int32_t ticksPerMeasure,
                   std::function<void()> progress = {});

    // The steps in order; raises ETimeTableError when the chart cannot be timed (no tempo,
    // values beyond 32 bits).
    Timeline Build();

    // The steps one by one. After the sort the measure lengths; then the end marker, the tempo
    // map, the second sort and the end position, which make the timeline.
    void SortObjects();
    void ApplyMeasureLengths();
    Timeline BuildTempoMap();
    const std::vector<TChartObject>& Objects() const { return objects_; }

private:
    void Progress() const {
        if (progress_) progress_();
    }

    std::vector<TChartObject> objects_;
    float bpm_;
    int32_t ticksPerMeasure_;
    std::function<void()> progress_;
};

}  // namespace engine
