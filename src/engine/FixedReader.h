// The fixed dialect of the format: header keywords, decimal measure and channel numbers, two
// hexadecimal digits for every slot and value, and no conditional blocks. Objects are added in
// file order with positions as if every measure had the normal length; the time table (TimeTable.h)
// then orders them, applies the measure lengths and builds the rounded tempo map.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/Reading.h"
#include "engine/Timeline.h"

namespace engine {

class FixedReader : public ChartReading {
public:
    // Reads into `header`, which starts as the caller leaves it.
    FixedReader(ReadingHost& host, TChartHeader& header, int32_t ticksPerMeasure, ChartEncoding encoding = {});

    void ReadLine(std::string_view line) override { ParseLine(line); }
    Timeline Build() override;

    // Interprets one chart line; a failure abandons the rest of the line.
    void ParseLine(std::string_view line);
    void AddObject(int32_t kind, int32_t position, int32_t value);
    // The objects added so far, in the order they were added.
    const std::vector<TChartObject>& Objects() const { return objects_; }

private:
    void ParseChannelLine(std::string_view line);

    ReadingHost& host_;
    TChartHeader& header_;
    int32_t ticksPerMeasure_;
    ChartEncoding encoding_;
    std::vector<TChartObject> objects_;
};

// The header keywords of the fixed dialect, which the extended reading takes over: each is tested
// in its order against the start of `upper` (`line` upper-cased), and its value taken from `line`.
// True when a keyword matched. Raises when a value does not convert, after storing what came
// before it.
bool ReadHeaderLine(std::string_view line, std::string_view upper, TChartHeader& header, ReadingHost& host,
                    const ChartEncoding& encoding);

}  // namespace engine
