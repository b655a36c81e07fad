// The timeline of the extended reading, built from what its lines placed: at one place of one
// channel a later object replaces an earlier one; places are timed without rounding through the
// measure lengths, tempo changes and stops; long notes sound at their start only.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <vector>

#include "engine/Timeline.h"

namespace engine {

// What an object of a channel does.
enum class PlacedRole : uint8_t { Background, Note, LongNote, BaseImage, LayerImage, HexTempo, DefinedTempo, Stop };

// An object as the chart places it: a fraction of a measure on a channel.
struct PlacedObject {
    int32_t measure;
    int32_t numerator;
    int32_t denominator;
    int32_t value;
    uint32_t order;  // in the order the lines placed them
    PlacedRole role;
    uint8_t kind;  // the object kind of a sound or picture
};

// Everything the lines of a chart placed.
struct PlacedChart {
    PlacedChart() { measureLengths.fill(1.0); }

    std::vector<PlacedObject> objects;
    // #BPMxx tempos and #STOPxx lengths (in 192nds of a 4/4 measure), by slot.
    std::map<int, double> tempoDefinitions;
    std::map<int, double> stopDefinitions;
    // #LNOBJ slots: a note of one ends the long note of its lane, silently.
    std::set<int> longNoteEnds;
    // Channel 02, as a fraction of a 4/4 measure.
    std::array<double, 1000> measureLengths;
    int32_t lastMeasure = -1;
};

// How long the sound or movie of an object of the table lasts, in milliseconds of song time.
using MediaLength = std::function<double(const TChartObject&)>;

// The timeline of `chart` starting at the header tempo `bpm`. The song ends when the last sound
// (by `length`) has finished and the last movie has stopped, and no sooner than a measure after
// the last object placed, so that the last arrows pass; measures that hold nothing do not make
// it longer. Raises ETimeTableError when the chart cannot be timed.
Timeline BuildExtendedTimeline(PlacedChart chart, double bpm, int32_t ticksPerMeasure, const MediaLength& length = {});

}  // namespace engine
