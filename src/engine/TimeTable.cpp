// The time table: sorting, measure lengths, the end marker, the tempo map, and the song
// position that the play frame reads through it.
#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

#include "engine/BMSEngine.h"
#include "engine/ObjectSort.h"
#include "engine/TimingChecks.h"
#include "gui/Clock.h"
#include "gui/Convert.h"
#include "gui/Exception.h"
#include "media/Mixer.h"

namespace engine {
namespace {

// Rounds a position, holding it inside the 32-bit range when the clock runs far past the map.
int32_t ClampRound(long double value) {
    if (std::isnan(value)) return 0;
    value = std::clamp(value, static_cast<long double>(INT32_MIN), static_cast<long double>(INT32_MAX));
    return static_cast<int32_t>(gui::RoundHalfEven(value));
}

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

void TBMS::SortObjects() {
    if (LastObject < 1) return;
    SortByPosition(std::span<TChartObject>(Objects.data(), static_cast<size_t>(LastObject) + 1),
                   [this] { ReportLoadProgress(); });
}

void TBMS::BuildTimeTable() {
    CheckTimingBasis(TicksPerMeasure, Bpm);
    SortObjects();
    ApplyMeasureLengths();
    BuildTempoMap();
}

// Measure lengths, the last measure first; each record's measure is taken from its position as
// already rewritten by the later measures. Every rewrite keeps the table in order (a measure's
// records stay within its new length, later records all move by one amount), so the records of a
// measure are a contiguous range found by binary search, each rewritten as the format says, and
// the move of everything after it is one pending suffix shift. With 128 ticks a measure and
// lengths in thousandths, the move P − P × r is never a half tick, so rounding it once for all
// records is exact; where it could be (other resolutions), every later record is rounded on its own.
void TBMS::ApplyMeasureLengths() {
    const int32_t p = TicksPerMeasure;
    CheckTimingBasis(p, Bpm);
    const size_t n = static_cast<size_t>(LastObject + 1);
    bool any = false;
    for (size_t j = 0; j < n; ++j) {
        // Charts give neither; both would let the pass put the table out of order.
        if (Objects[j].Position < 0) throw ETimeTableError("an object lies before the start of the chart");
        if (Objects[j].Kind == kMeasureLength) {
            if (Objects[j].Value < 0) throw ETimeTableError("a measure length is negative");
            any = true;
        }
    }
    if (!any) return;

    std::vector<int64_t> position(n);
    for (size_t j = 0; j < n; ++j) position[j] = Objects[j].Position;
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
    for (size_t i = n; i-- > 0;) {
        if (Objects[i].Kind != kMeasureLength) continue;
        ReportLoadProgress();
        const int32_t measure = static_cast<int32_t>(current(i)) / p;
        const int64_t base = int64_t{measure} * p;
        const long double ratio = static_cast<long double>(Objects[i].Value) / 1000;
        const size_t first = firstFrom(measure);
        const size_t later = firstFrom(int64_t{measure} + 1);
        for (size_t j = first; j < later; ++j) {
            const int64_t pj = current(j);
            set(j, RoundToInt32(static_cast<long double>(pj - base) * ratio + base));
            if (++rewritten % 65536 == 0) ReportLoadProgress();
        }
        if (later == n) continue;

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
    }

    const std::vector<int64_t> moved = shifts.All();
    for (size_t j = 0; j < n; ++j) Objects[j].Position = ToInt32(position[j] + moved[j]);
}

void TBMS::BuildTempoMap() {
    const int32_t p = TicksPerMeasure;
    CheckTimingBasis(p, Bpm);
    // The end marker starts the second measure after the last object's measure. A chart
    // without objects gets it two measures after the start.
    const int64_t lastMeasure = LastObject >= 0 ? Objects[LastObject].Position / p : 0;
    AddObject(kTempoChange, ToInt32((lastMeasure + 2) * p), 120);

    TempoTime.assign(kTempoMapPoints, 0);
    TempoPosition.assign(kTempoMapPoints, 0);
    tempoValue_.assign(1, Bpm);
    TempoSegment = 1;
    TempoCount = 0;
    float tempo = Bpm;
    for (int32_t j = 0; j <= LastObject; ++j) {
        if (j % 65536 == 65535) ReportLoadProgress();
        if (Objects[j].Kind != kTempoChange) continue;
        CheckTimingBasis(p, tempo);
        const size_t k = static_cast<size_t>(++TempoCount);
        if (k >= TempoTime.size()) {
            TempoTime.resize(TempoTime.size() * 2);
            TempoPosition.resize(TempoPosition.size() * 2);
        }
        TempoPosition[k] = Objects[j].Position;
        const long double beats =
            static_cast<long double>(int64_t{TempoPosition[k]} - TempoPosition[k - 1]) / (static_cast<long double>(p) / 4);
        TempoTime[k] = ToInt32(int64_t{TempoTime[k - 1]} + RoundToInt32(beats * (60000.0L / tempo)));
        tempo = static_cast<float>(Objects[j].Value);
        tempoValue_.push_back(tempo);
    }

    SortObjects();
    EndPosition = ToInt32(int64_t{Objects[LastObject].Position} + 2 * int64_t{p});

    // A segment that lasts no time has no line of its own: it borrows the line of the next
    // segment that lasts some time, which starts where it ends, so the position never goes back.
    lineSegment_.assign(static_cast<size_t>(TempoCount) + 1, 0);
    int32_t next = 0;
    for (int32_t s = TempoCount; s >= 1; --s) {
        if (TempoTime[s] != TempoTime[s - 1]) next = s;
        lineSegment_[s] = next;
    }
}

int32_t TBMS::SongPosition() {
    const int32_t t = SongTime();
    if (!ExactMap.Empty()) return ClampRound(ExactMap.PositionAt(t));
    if (TempoCount < 1 || lineSegment_.size() != static_cast<size_t>(TempoCount) + 1) return 0;
    int32_t s = std::clamp(TempoSegment, 1, TempoCount);
    if (t > TempoTime[s] && s < TempoCount) ++s;
    TempoSegment = s;

    const int32_t line = lineSegment_[s];
    if (line > 0) {
        const long double slope = static_cast<long double>(int64_t{TempoPosition[line]} - TempoPosition[line - 1]) /
                                  static_cast<long double>(int64_t{TempoTime[line]} - TempoTime[line - 1]);
        return ClampRound(slope * static_cast<long double>(int64_t{t} - TempoTime[line - 1]) + TempoPosition[line - 1]);
    }
    // No later segment lasts any time: only a header tempo so high that the whole chart rounds
    // to one instant. The position runs on at that tempo from the last point.
    const long double slope = static_cast<long double>(TicksPerMeasure) / 4 * tempoValue_[s - 1] / 60000;
    return ClampRound(slope * static_cast<long double>(int64_t{t} - TempoTime[s]) + TempoPosition[s]);
}

double TBMS::ObjectTime(int32_t index) const {
    if (LastObject >= 0 && ObjectTimes.size() > static_cast<size_t>(LastObject) && index >= 0 && index <= LastObject)
        return ObjectTimes[static_cast<size_t>(index)];
    if (index < 0 || index > LastObject || static_cast<size_t>(index) >= Objects.size()) return 0;
    return TimeAtPosition(Objects[static_cast<size_t>(index)].Position);
}

double TBMS::TimeAtPosition(int32_t position) const {
    if (TempoCount < 1 || lineSegment_.size() != static_cast<size_t>(TempoCount) + 1) return 0;
    // The first segment that ends at or after the position; before the map the first, past it
    // the last, whose lines SongPosition continues.
    const auto first = TempoPosition.begin() + 1;
    const auto end = TempoPosition.begin() + TempoCount + 1;
    const int32_t s = std::clamp(static_cast<int32_t>(std::lower_bound(first, end, position) - TempoPosition.begin()),
                                 1, TempoCount);
    const bool lasts = TempoTime[s] != TempoTime[s - 1];
    // A segment that lasts no time is passed in one instant.
    if (!lasts && position > TempoPosition[s - 1] && position <= TempoPosition[s]) return TempoTime[s];
    const int32_t line = lasts ? s : lineSegment_[s];
    if (line > 0) {
        const long double ticks = static_cast<long double>(int64_t{TempoPosition[line]} - TempoPosition[line - 1]);
        const long double ticksPerMs = ticks / static_cast<long double>(int64_t{TempoTime[line]} - TempoTime[line - 1]);
        return static_cast<double>(TempoTime[line - 1] +
                                   static_cast<long double>(int64_t{position} - TempoPosition[line - 1]) / ticksPerMs);
    }
    // No later segment lasts any time: the tempo of the last point goes on from there.
    const long double ticksPerMs = static_cast<long double>(TicksPerMeasure) / 4 * tempoValue_[s - 1] / 60000;
    return static_cast<double>(TempoTime[s] +
                               static_cast<long double>(int64_t{position} - TempoPosition[s]) / ticksPerMs);
}

}  // namespace engine
