#include "engine/TimingChecks.h"

#include <climits>
#include <cmath>

#include "gui/Convert.h"

namespace engine {
namespace {

constexpr const char* kOutOfRange = "a position or a time of the chart passes the 32-bit range";

}  // namespace

void CheckTimingBasis(int32_t ticksPerMeasure, double bpm) {
    if (ticksPerMeasure <= 0)
        throw ETimeTableError(gui::Format("%d ticks a measure cannot time a chart", static_cast<int>(ticksPerMeasure)));
    if (!(bpm > 0) || !std::isfinite(bpm))
        throw ETimeTableError(gui::Format("the tempo (#BPM) is %g: a chart needs a tempo above 0", bpm));
}

int32_t RoundToInt32(long double value) {
    if (!std::isfinite(value) || value < INT32_MIN - 0.5L || value >= INT32_MAX + 0.5L) throw ETimeTableError(kOutOfRange);
    return static_cast<int32_t>(gui::RoundHalfEven(value));
}

int32_t ToInt32(int64_t value) {
    if (value < INT32_MIN || value > INT32_MAX) throw ETimeTableError(kOutOfRange);
    return static_cast<int32_t>(value);
}

}  // namespace engine
