// Sorting the object table by position. The chart format fixes the order of records with equal
// positions through the exchange sort it was defined with, so any faster procedure must end in
// exactly that order.
#pragma once

#include <span>

#include "engine/BMSEngine.h"

namespace engine {

// The defining procedure: for i < j, exchange records i and j whenever record j lies strictly
// before record i. Quadratic in every case.
void ExchangeSort(std::span<TChartObject> objects);

// The same order, found faster. Pass i of the exchange sort exchanges record i with each record
// that is a new strict minimum of what follows it, one after another; this walks that chain
// directly with a tree of minima, so a pass costs a logarithmic step per exchange instead of a
// scan. When a table needs many exchanges (a chart written backwards), the remaining passes are
// left to the plain loops, which are then no slower.
void SortByPosition(std::span<TChartObject> objects);

}  // namespace engine
