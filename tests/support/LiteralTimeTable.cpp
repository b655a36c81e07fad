#include "support/LiteralTimeTable.h"

#include <climits>
#include <cmath>
#include <utility>

#include "gui/Convert.h"

namespace testsupport {
namespace {

// Rounded half to even; empty outside the 32-bit range.
std::optional<int32_t> Rounded(long double value) {
    if (!std::isfinite(value) || value < INT32_MIN - 0.5L || value >= INT32_MAX + 0.5L) return std::nullopt;
    return static_cast<int32_t>(gui::RoundHalfEven(value));
}

std::optional<int32_t> Narrow(int64_t value) {
    if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
    return static_cast<int32_t>(value);
}

}  // namespace

void LiteralExchangeSort(std::span<engine::TChartObject> objects) {
    const size_t n = objects.size();
    for (size_t i = 0; i + 1 < n; ++i)
        for (size_t j = i + 1; j < n; ++j)
            if (objects[j].Position < objects[i].Position) std::swap(objects[i], objects[j]);
}

bool LiteralMeasureLengths(std::span<engine::TChartObject> objects, int32_t p) {
    const int32_t last = static_cast<int32_t>(objects.size()) - 1;
    for (int32_t i = last; i >= 0; --i) {
        if (objects[i].Kind != engine::kMeasureLength) continue;
        const int32_t m = objects[i].Position / p;
        const int64_t base = int64_t{m} * p;
        const long double r = static_cast<long double>(objects[i].Value) / 1000;
        for (int32_t j = last; j >= 0; --j) {
            const int32_t pj = objects[j].Position;
            const int32_t mj = pj / p;
            std::optional<int32_t> moved;
            if (mj == m)
                moved = Rounded(static_cast<long double>(pj - base) * r + base);
            else if (mj > m)
                moved = Rounded(pj - (p - p * r));
            else
                continue;
            if (!moved) return false;
            objects[j].Position = *moved;
        }
    }
    return true;
}

std::optional<LiteralTimeTable> BuildLiteralTimeTable(std::vector<engine::TChartObject> objects, float bpm, int32_t p) {
    if (!(bpm > 0)) return std::nullopt;
    LiteralExchangeSort(objects);
    if (!LiteralMeasureLengths(objects, p)) return std::nullopt;
    const int64_t lastMeasure = objects.empty() ? 0 : objects.back().Position / p;
    const std::optional<int32_t> marker = Narrow((lastMeasure + 2) * p);
    if (!marker) return std::nullopt;
    objects.push_back({engine::kTempoChange, *marker, 120, true});

    LiteralTimeTable table;
    table.TempoMap.emplace_back(0, 0);
    float tempo = bpm;
    for (const engine::TChartObject& object : objects) {
        if (object.Kind != engine::kTempoChange) continue;
        if (!(tempo > 0)) return std::nullopt;
        const auto [time, position] = table.TempoMap.back();
        const long double beats = static_cast<long double>(int64_t{object.Position} - position) / (static_cast<long double>(p) / 4);
        const std::optional<int32_t> step = Rounded(beats * (60000.0L / tempo));
        if (!step) return std::nullopt;
        const std::optional<int32_t> next = Narrow(int64_t{time} + *step);
        if (!next) return std::nullopt;
        table.TempoMap.emplace_back(*next, object.Position);
        tempo = static_cast<float>(object.Value);
    }
    LiteralExchangeSort(objects);
    const std::optional<int32_t> end = Narrow(int64_t{objects.back().Position} + 2 * int64_t{p});
    if (!end) return std::nullopt;
    table.EndPosition = *end;
    table.Objects = std::move(objects);
    return table;
}

}  // namespace testsupport
