// The time-table procedures exactly as the chart format defines them, step by step and without
// any shortcut: the reference that the engine's fast sort and measure-length pass are checked
// against (and timed against in the benchmarks). Quadratic, so only for small tables.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "engine/BMSEngine.h"

namespace testsupport {

// For i < j, exchange records i and j whenever record j lies strictly before record i.
void LiteralExchangeSort(std::span<engine::TChartObject> objects);

// The measure-length pass over a sorted table; false where a rewritten position leaves the
// 32-bit range (the engine then fails the load).
bool LiteralMeasureLengths(std::span<engine::TChartObject> objects, int32_t ticksPerMeasure);

struct LiteralTimeTable {
    std::vector<engine::TChartObject> Objects;
    std::vector<std::pair<int32_t, int32_t>> TempoMap;  // (time, position), point 0 first
    int32_t EndPosition = 0;
};

// The whole build: sort, measure lengths, end marker, tempo map, sort again, end position.
// Empty where the engine fails the load (a value beyond 32 bits, a tempo of 0 or below).
std::optional<LiteralTimeTable> BuildLiteralTimeTable(std::vector<engine::TChartObject> objects, float bpm,
                                                      int32_t ticksPerMeasure);

}  // namespace testsupport
