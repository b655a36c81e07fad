// The extended reading of today's BMS dialect, which a load uses in place of the fixed dialect's
// reader when asked: base-36 (or base-62) slots, tempo from #BPMxx and stops from #STOPxx,
// sounds on every sound channel, long notes, #RANDOM and #SWITCH blocks (ControlFlow), and
// object times without rounding (ExtendedTimeline). The header keywords are the fixed
// dialect's; the files go to the host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/ControlFlow.h"
#include "engine/ExtendedTimeline.h"
#include "engine/Reading.h"
#include "engine/Timeline.h"

namespace engine {

class ExtendedReader : public ChartReading {
public:
    // Bounds that keep a hostile chart's load within a few times its size in memory and time.
    // A written channel line holds a measure of at most a few thousand divisions: a line longer
    // than 1 MiB is skipped whole. Dense written charts place tens of thousands of objects; a
    // chart's objects past a million are left out (each costs about 80 bytes until the timeline
    // is built, so the objects stay under about 100 MB). Each is reported once as a dropped line.
    static constexpr size_t kMaxLineLength = size_t{1} << 20;
    static constexpr size_t kMaxObjects = 1'000'000;

    // Reads into `header`, which starts as the caller leaves it.
    ExtendedReader(ReadingHost& host, TChartHeader& header, int32_t ticksPerMeasure, RandomDraw draw,
                   ChartEncoding encoding = {});

    void ReadLine(std::string_view line) override;
    Timeline Build() override;

private:
    void Interpret(std::string_view line);
    // Slot definitions and the extended header keywords; false for other lines.
    bool Definition(std::string_view line, std::string_view upper, std::string_view keyword, std::string_view argument);
    void ChannelLine(std::string_view line, std::string_view upper);
    int Slot(char high, char low) const;

    ReadingHost& host_;
    TChartHeader& header_;
    int32_t ticksPerMeasure_;
    ChartEncoding encoding_;
    ControlFlow flow_;
    // The first block past ControlFlow's depth limit has been reported; the others are not.
    bool reportedTooDeep_ = false;
    bool reportedLongLine_ = false;
    bool reportedManyObjects_ = false;
    bool base62_ = false;
    PlacedChart placed_;
};

}  // namespace engine
