// The checks that decide whether a chart can be timed, shared by both readings, and the
// messages their failures give: a time table holds 32-bit positions and milliseconds.
#pragma once

#include <cstdint>

#include "gui/Exception.h"

namespace engine {

using gui::Exception;
GUI_DECLARE_EXCEPTION(ETimeTableError, Exception);

// Raises when the resolution or the starting tempo cannot time a chart.
void CheckTimingBasis(int32_t ticksPerMeasure, double bpm);
// `value` rounded to the nearest integer, halves to even, when that fits in 32 bits; raises
// otherwise (also for infinities and NaN).
int32_t RoundToInt32(long double value);
int32_t ToInt32(int64_t value);

}  // namespace engine
