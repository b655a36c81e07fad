// Sorting the object table by position. The chart format fixes the order of records with equal
// positions through the exchange sort it was defined with (for i < j, records i and j are
// exchanged whenever record j lies strictly before record i), so the table must end in exactly
// that order; this finds it in O(n log n) for every table.
#pragma once

#include <functional>
#include <span>

#include "engine/BMSEngine.h"

namespace engine {

// `progress`, when set, is called now and then during a long sort.
void SortByPosition(std::span<TChartObject> objects, const std::function<void()>& progress = {});

}  // namespace engine
