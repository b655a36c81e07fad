#include "engine/ExtendedTimeline.h"

#include <algorithm>
#include <cmath>
#include <span>

#include "engine/TimingChecks.h"
#include "gui/Exception.h"

namespace engine {
namespace {

bool PlaceLess(const PlacedObject& x, const PlacedObject& y) {
    if (x.measure != y.measure) return x.measure < y.measure;
    return int64_t{x.numerator} * y.denominator < int64_t{y.numerator} * x.denominator;
}

bool SamePlace(const PlacedObject& x, const PlacedObject& y) {
    return x.measure == y.measure && int64_t{x.numerator} * y.denominator == int64_t{y.numerator} * x.denominator;
}

// At one place of one channel a later object replaces an earlier one; background sounds are
// layers and all stay. The rest in order of place, and at one place in the order placed.
std::vector<PlacedObject> KeptInPlaceOrder(std::vector<PlacedObject> placed) {
    std::stable_sort(placed.begin(), placed.end(), [](const PlacedObject& x, const PlacedObject& y) {
        if (x.role != y.role) return x.role < y.role;
        if (x.kind != y.kind) return x.kind < y.kind;
        return PlaceLess(x, y);
    });
    std::vector<PlacedObject> kept;
    kept.reserve(placed.size());
    for (size_t i = 0; i < placed.size(); ++i) {
        const PlacedObject& x = placed[i];
        const bool replaced = x.role != PlacedRole::Background && i + 1 < placed.size() &&
                              placed[i + 1].role == x.role && placed[i + 1].kind == x.kind && SamePlace(x, placed[i + 1]);
        if (!replaced) kept.push_back(x);
    }
    std::sort(kept.begin(), kept.end(), [](const PlacedObject& x, const PlacedObject& y) {
        if (!SamePlace(x, y)) return PlaceLess(x, y);
        return x.order < y.order;
    });
    return kept;
}

// Whole ticks and milliseconds, with the cause when they do not fit in 32 bits.
int32_t TickAt(long double position, int32_t measure) {
    try {
        return RoundToInt32(position);
    } catch (const ETimeTableError&) {
        throw ETimeTableError(
            gui::Format("the measure lengths (channel 02) put measure %d past the 32-bit range of positions", measure));
    }
}

int32_t MillisecondsAt(long double time) {
    try {
        return RoundToInt32(time);
    } catch (const ETimeTableError&) {
        throw ETimeTableError("the song runs past the 32-bit range of milliseconds: its tempo is too slow for its length");
    }
}

// Walks the places in order: time runs at the tempo in force; at each place the tempo changes
// first, the objects there sound, and then a stop holds the position.
class Walk {
public:
    Walk(PlacedChart& chart, long double bpm, int32_t ticksPerMeasure, size_t objects)
        : chart_(chart), ticksPerMeasure_(ticksPerMeasure), bpm_(bpm), bpmAtStart_(bpm) {
        table_.reserve(objects + 1);
        times_.reserve(objects + 1);
        // Measure starts in beats, up to the last measure used.
        endMeasure_ = std::max(chart.lastMeasure, 0) + 1;
        measureStart_.assign(static_cast<size_t>(endMeasure_) + 1, 0);
        for (int32_t m = 0; m < endMeasure_; ++m)
            measureStart_[static_cast<size_t>(m) + 1] =
                measureStart_[static_cast<size_t>(m)] + 4.0L * (m < 1000 ? chart.measureLengths[static_cast<size_t>(m)] : 1.0);
    }

    // The objects of one place.
    void Place(std::span<const PlacedObject> here) {
        const long double beat = BeatOf(here.front());
        time_ += (beat - beat_) * 60000.0L / bpm_;
        beat_ = beat;
        const long double position = beat * TicksPerBeat();
        const long double stop = ChangeTempo(here, position);
        lastPlace_ = position;
        Sound(here, TickAt(position, here.front().measure));
        if (stop > 0) {
            // n of 192 parts of a 4/4 measure, at the tempo now in force.
            points_.push_back({static_cast<double>(time_), static_cast<double>(position)});
            time_ += stop * 4.0L / 192 * 60000.0L / bpm_;
            points_.push_back({static_cast<double>(time_), static_cast<double>(position)});
        }
    }

    // The end marker where the song ends (see BuildExtendedTimeline), and the timeline.
    Timeline End(const MediaLength& length) {
        ExactTempoMap map(points_, Pace(bpmAtStart_), Pace(bpm_));
        double musicEnd = 0;
        if (length)
            for (size_t i = 0; i < table_.size(); ++i) {
                const double lasts = length(table_[i]);
                if (std::isfinite(lasts) && lasts > 0) musicEnd = std::max(musicEnd, times_[i] + lasts);
            }
        size_t segment = 0;
        const long double endPosition =
            std::max(std::ceil(static_cast<long double>(map.PositionAt(musicEnd, segment))), lastPlace_ + ticksPerMeasure_);
        const int32_t endTick = TickAt(endPosition, endMeasure_);
        const double endTime = map.TimeAt(endTick);
        table_.push_back({kTempoChange, endTick, 120, true});
        times_.push_back(endTime);

        // The map in whole numbers, for those who print it: every exact point and the end marker.
        std::vector<TTempoPoint> rounded;
        for (const TExactPoint& point : map.Points())
            rounded.push_back({MillisecondsAt(point.Time), RoundToInt32(point.Position)});
        if (endTime > map.Points().back().Time) rounded.push_back({MillisecondsAt(endTime), endTick});
        Timeline timeline = Timeline::OnExactMap(std::move(table_), std::move(times_), std::move(map),
                                                 std::move(rounded), ticksPerMeasure_, endTick);
        std::vector<double> starts;
        for (const long double beat : measureStart_) starts.push_back(static_cast<double>(beat * TicksPerBeat()));
        timeline.SetMeasureStarts(std::move(starts));
        return timeline;
    }

private:
    long double TicksPerBeat() const { return ticksPerMeasure_ / 4.0L; }
    double Pace(long double tempo) const { return static_cast<double>(TicksPerBeat() * tempo / 60000.0L); }

    long double BeatOf(const PlacedObject& x) const {
        return measureStart_[static_cast<size_t>(x.measure)] +
               4.0L * chart_.measureLengths[static_cast<size_t>(x.measure)] * x.numerator / x.denominator;
    }

    // The tempo changes of a place take effect; returns the length of its stops.
    long double ChangeTempo(std::span<const PlacedObject> here, long double position) {
        bool changed = false;
        long double stop = 0;
        for (const PlacedObject& x : here) {
            if (x.role == PlacedRole::HexTempo) {
                bpm_ = x.value;
                changed = true;
            } else if (x.role == PlacedRole::DefinedTempo && chart_.tempoDefinitions.contains(x.value)) {
                bpm_ = chart_.tempoDefinitions[x.value];
                changed = true;
            } else if (x.role == PlacedRole::Stop && chart_.stopDefinitions.contains(x.value)) {
                stop += chart_.stopDefinitions[x.value];
            }
        }
        if (beat_ == 0) bpmAtStart_ = bpm_;
        if (changed) points_.push_back({static_cast<double>(time_), static_cast<double>(position)});
        return stop;
    }

    // The objects of a place that sound (or show a picture) go into the table.
    void Sound(std::span<const PlacedObject> here, int32_t tick) {
        for (const PlacedObject& x : here) {
            bool sounds = x.role == PlacedRole::Background || x.role == PlacedRole::BaseImage ||
                          x.role == PlacedRole::LayerImage;
            if (x.role == PlacedRole::Note) sounds = !chart_.longNoteEnds.contains(x.value);
            if (x.role == PlacedRole::LongNote) {
                // Pairs on a long-note channel: the first starts the note, the second ends it silently.
                sounds = !longNoteOpen_[x.kind];
                longNoteOpen_[x.kind] = sounds;
            }
            if (!sounds) continue;
            table_.push_back({x.role == PlacedRole::Background ? kBackgroundSound : x.kind, tick, x.value, true});
            times_.push_back(static_cast<double>(time_));
        }
    }

    PlacedChart& chart_;
    int32_t ticksPerMeasure_;
    int32_t endMeasure_ = 0;
    std::vector<long double> measureStart_;
    long double time_ = 0;
    long double beat_ = 0;
    long double bpm_;
    long double bpmAtStart_;
    // The position of the last place walked.
    long double lastPlace_ = 0;
    std::array<bool, 30> longNoteOpen_{};
    std::vector<TExactPoint> points_{{0, 0}};
    std::vector<TChartObject> table_;
    std::vector<double> times_;
};

}  // namespace

Timeline BuildExtendedTimeline(PlacedChart chart, double bpm, int32_t ticksPerMeasure, const MediaLength& length) {
    CheckTimingBasis(ticksPerMeasure, bpm);
    const std::vector<PlacedObject> kept = KeptInPlaceOrder(std::move(chart.objects));
    Walk walk(chart, bpm, ticksPerMeasure, kept.size());
    for (size_t i = 0; i < kept.size();) {
        size_t end = i + 1;
        while (end < kept.size() && SamePlace(kept[i], kept[end])) ++end;
        walk.Place(std::span(kept).subspan(i, end - i));
        i = end;
    }
    return walk.End(length);
}

}  // namespace engine
