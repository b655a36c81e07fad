// The time table: sorting, measure lengths, the end marker, the tempo map, and the song
// position that the play frame reads through it.
#include <algorithm>
#include <climits>
#include <cmath>

#include "engine/BMSEngine.h"
#include "engine/ObjectSort.h"
#include "gui/Clock.h"
#include "gui/Convert.h"
#include "gui/Exception.h"
#include "media/Mixer.h"

namespace engine {
namespace {

using gui::Exception;
GUI_DECLARE_EXCEPTION(ETimeTableError, Exception);

int32_t RoundToInt32(long double value) {
    if (!std::isfinite(value) || value < INT32_MIN - 0.5L || value >= INT32_MAX + 0.5L)
        throw ETimeTableError("タイムテーブルの値が範囲を超えています");
    return static_cast<int32_t>(gui::RoundHalfEven(value));
}

int32_t ToInt32(int64_t value) {
    if (value < INT32_MIN || value > INT32_MAX) throw ETimeTableError("タイムテーブルの値が範囲を超えています");
    return static_cast<int32_t>(value);
}

// Rounds a position, holding it inside the 32-bit range when the clock runs far past the map.
int32_t ClampRound(long double value) {
    if (std::isnan(value)) return 0;
    value = std::clamp(value, static_cast<long double>(INT32_MIN), static_cast<long double>(INT32_MAX));
    return static_cast<int32_t>(gui::RoundHalfEven(value));
}

}  // namespace

void TBMS::SortObjects() {
    if (LastObject < 1) return;
    SortByPosition(std::span<TChartObject>(Objects.data(), static_cast<size_t>(LastObject) + 1));
}

void TBMS::BuildTimeTable() {
    const int32_t p = TicksPerMeasure;
    if (p <= 0) throw ETimeTableError("小節の分解能が不正です");
    if (!(Bpm > 0)) throw ETimeTableError("BPM が不正です");

    SortObjects();

    // Measure lengths, the last measure first; each record's measure is taken from its position
    // as already rewritten by the later measures.
    for (int32_t i = LastObject; i >= 0; --i) {
        if (Objects[i].Kind != kMeasureLength) continue;
        const int32_t measure = Objects[i].Position / p;
        const int64_t base = int64_t{measure} * p;
        const long double ratio = static_cast<long double>(Objects[i].Value) / 1000;
        for (int32_t j = LastObject; j >= 0; --j) {
            const int32_t pj = Objects[j].Position;
            const int32_t mj = pj / p;
            if (mj == measure)
                Objects[j].Position = RoundToInt32(static_cast<long double>(pj - base) * ratio + base);
            else if (mj > measure)
                Objects[j].Position = RoundToInt32(pj - (p - p * ratio));
        }
    }

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
        if (Objects[j].Kind != kTempoChange) continue;
        if (!(tempo > 0)) throw ETimeTableError("BPM が不正です");
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

void TBMS::StartClock() {
    ClockBase = gui::GetTickCount() + 2000u;
    if (media::Mixer* mixer = ClockMixer()) originFrame_ = mixer->PlayingFrame() + 2.0 * mixer->Rate();
}

int32_t TBMS::SongPosition() {
    const int32_t t = SongTime();
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
