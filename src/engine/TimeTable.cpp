#include "engine/TimeTable.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

#include "engine/ObjectSort.h"
#include "engine/TimingChecks.h"
#include "gui/Exception.h"

namespace engine {
namespace {

// Pending moves of table suffixes: adding d from index s on, and the sum in force at an index.
class SuffixShifts {
public:
    explicit SuffixShifts(size_t size) : tree_(size + 1, 0), steps_(size, 0) {}
    void Add(size_t from, int64_t delta) {
        steps_[from] += delta;
        for (size_t i = from + 1; i < tree_.size(); i += i & (~i + 1)) tree_[i] += delta;
    }
    int64_t At(size_t index) const {
        int64_t sum = 0;
        for (size_t i = index + 1; i > 0; i -= i & (~i + 1)) sum += tree_[i];
        return sum;
    }
    // The sum at every index, in one sweep.
    std::vector<int64_t> All() const {
        std::vector<int64_t> sums(steps_.size());
        int64_t sum = 0;
        for (size_t i = 0; i < steps_.size(); ++i) sums[i] = sum += steps_[i];
        return sums;
    }

private:
    std::vector<int64_t> tree_;
    std::vector<int64_t> steps_;
};

}  // namespace

FixedTimeTable::FixedTimeTable(std::vector<TChartObject> objects, float bpm, int32_t ticksPerMeasure,
                               std::function<void()> progress)
    : objects_(std::move(objects)), bpm_(bpm), ticksPerMeasure_(ticksPerMeasure), progress_(std::move(progress)) {}

void FixedTimeTable::SortObjects() {
    if (objects_.size() < 2) return;
    SortByPosition(objects_, [this] { Progress(); });
}

Timeline FixedTimeTable::Build() {
    CheckTimingBasis(ticksPerMeasure_, bpm_);
    SortObjects();
    ApplyMeasureLengths();
    return BuildTempoMap();
}

// Measure lengths, the last measure first; each record's measure is taken from its position as
// already rewritten by the later measures. Every rewrite keeps the table in order (a measure's
// records stay within its new length, later records all move by one amount), so the records of a
// measure are a contiguous range found by binary search, each rewritten as the format says, and
// the move of everything after it is one pending suffix shift. With 128 ticks a measure and
// lengths in thousandths, the move P − P × r is never a half tick, so rounding it once for all
// records is exact; where it could be (other resolutions), every later record is rounded on its own.
void FixedTimeTable::ApplyMeasureLengths() {
    const int32_t p = ticksPerMeasure_;
    CheckTimingBasis(p, bpm_);
    const size_t n = objects_.size();
    bool any = false;
    for (size_t j = 0; j < n; ++j) {
        // Charts give neither; both would let the pass put the table out of order.
        if (objects_[j].Position < 0) throw ETimeTableError("an object lies before the start of the chart");
        if (objects_[j].Kind == kMeasureLength) {
            if (objects_[j].Value < 0) throw ETimeTableError("a measure length is negative");
            any = true;
        }
    }
    if (!any) return;

    std::vector<int64_t> position(n);
    for (size_t j = 0; j < n; ++j) position[j] = objects_[j].Position;
    SuffixShifts shifts(n);
    auto current = [&](size_t j) { return position[j] + shifts.At(j); };
    // The first index from which the measure of every record is at least `measure`.
    auto firstFrom = [&](int64_t measure) {
        size_t lo = 0, hi = n;
        while (lo < hi) {
            const size_t mid = lo + (hi - lo) / 2;
            if (current(mid) / p >= measure)
                hi = mid;
            else
                lo = mid + 1;
        }
        return lo;
    };
    auto set = [&](size_t j, int32_t value) { position[j] = value - shifts.At(j); };

    size_t rewritten = 0;
    // One measure-length record: the records of its measure scaled, the later ones moved.
    auto apply = [&](size_t i) {
        const int32_t measure = static_cast<int32_t>(current(i)) / p;
        const int64_t base = int64_t{measure} * p;
        const long double ratio = static_cast<long double>(objects_[i].Value) / 1000;
        const size_t first = firstFrom(measure);
        const size_t later = firstFrom(int64_t{measure} + 1);
        for (size_t j = first; j < later; ++j) {
            const int64_t pj = current(j);
            set(j, RoundToInt32(static_cast<long double>(pj - base) * ratio + base));
            if (++rewritten % 65536 == 0) Progress();
        }
        if (later == n) return;

        const long double shrink = p - p * ratio;
        const long double fraction = shrink - std::floor(shrink);
        if (std::fabs(fraction - 0.5L) > 1e-6L) {
            const int64_t front = current(later);
            const int64_t shift = RoundToInt32(static_cast<long double>(front) - shrink) - front;
            // The last record has the highest position: if it stays in range, all do.
            ToInt32(current(n - 1) + shift);
            shifts.Add(later, shift);
        } else {
            for (size_t j = later; j < n; ++j) set(j, RoundToInt32(static_cast<long double>(current(j)) - shrink));
        }
    };
    for (size_t i = n; i-- > 0;) {
        if (objects_[i].Kind != kMeasureLength) continue;
        Progress();
        try {
            apply(i);
        } catch (const ETimeTableError&) {
            // The record still has the position its line gave it.
            throw ETimeTableError(gui::Format(
                "the length of measure %d (%.3f, channel 02) moves the chart past the 32-bit range of positions",
                static_cast<int>(objects_[i].Position / p), objects_[i].Value / 1000.0));
        }
    }

    const std::vector<int64_t> moved = shifts.All();
    for (size_t j = 0; j < n; ++j) objects_[j].Position = ToInt32(position[j] + moved[j]);
}

Timeline FixedTimeTable::BuildTempoMap() {
    const int32_t p = ticksPerMeasure_;
    CheckTimingBasis(p, bpm_);
    // The end marker starts the second measure after the last object's measure. A chart
    // without objects gets it two measures after the start.
    const int64_t lastMeasure = !objects_.empty() ? objects_.back().Position / p : 0;
    objects_.push_back({kTempoChange, ToInt32((lastMeasure + 2) * p), 120, true});

    std::vector<TTempoPoint> points{{0, 0}};
    std::vector<float> tempos{bpm_};
    float tempo = bpm_;
    for (size_t j = 0; j < objects_.size(); ++j) {
        if (j % 65536 == 65535) Progress();
        if (objects_[j].Kind != kTempoChange) continue;
        CheckTimingBasis(p, tempo);
        const TTempoPoint& previous = points.back();
        const int32_t position = objects_[j].Position;
        const long double beats =
            static_cast<long double>(int64_t{position} - previous.Position) / (static_cast<long double>(p) / 4);
        int32_t time = 0;
        try {
            time = ToInt32(int64_t{previous.Time} + RoundToInt32(beats * (60000.0L / tempo)));
        } catch (const ETimeTableError&) {
            throw ETimeTableError(gui::Format(
                "the song runs past the 32-bit range of milliseconds before tick %d: its tempo (%g) is too slow for its "
                "length", static_cast<int>(position), static_cast<double>(tempo)));
        }
        points.push_back({time, position});
        tempo = static_cast<float>(objects_[j].Value);
        tempos.push_back(tempo);
    }

    SortObjects();
    const int32_t endPosition = ToInt32(int64_t{objects_.back().Position} + 2 * int64_t{p});
    return Timeline::OnRoundedMap(std::move(objects_), RoundedTempoMap(std::move(points), std::move(tempos), p), p,
                                  endPosition);
}

}  // namespace engine
