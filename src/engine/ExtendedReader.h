// The extended reading of today's BMS dialect, which a load uses in place of the fixed dialect's
// reader when asked: base-36 (or base-62) slots, tempo from #BPMxx and stops from #STOPxx,
// sounds on every sound channel, long notes, #RANDOM and #SWITCH blocks, and object times
// without rounding. The header keywords are the fixed dialect's; the files go to the host.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string_view>
#include <vector>

#include "engine/Reading.h"
#include "engine/Timeline.h"

namespace engine {

// Draws the value of a #RANDOM or #SWITCH: an integer from 1 to n.
using RandomDraw = std::function<int32_t(int32_t)>;
// Draws from a generator seeded with `seed`; the same seed gives the same values on every machine.
RandomDraw SeededDraw(uint64_t seed);

class ExtendedReader : public ChartReading {
public:
    // Reads into `header`, which starts as the caller leaves it.
    ExtendedReader(ReadingHost& host, TChartHeader& header, int32_t ticksPerMeasure, RandomDraw draw,
                   ChartEncoding encoding = {});

    void ReadLine(std::string_view line) override;
    Timeline Build() override;

private:
    // What an object of a channel does.
    enum class Role : uint8_t { Background, Note, LongNote, BaseImage, LayerImage, HexTempo, DefinedTempo, Stop };
    // An object as the chart places it: a fraction of a measure on a channel.
    struct Placed {
        int32_t measure;
        int32_t numerator;
        int32_t denominator;
        int32_t value;
        uint32_t order;
        Role role;
        uint8_t kind;  // the object kind of a sound or picture
    };
    // An open #RANDOM, #IF or #SWITCH block.
    struct Block {
        enum Type : uint8_t { Random, If, Switch } type;
        bool outerActive;      // whether the lines around the block count
        bool active;           // whether the lines inside it count now
        int32_t value = 0;     // the drawn value of a #RANDOM or #SWITCH
        bool taken = false;    // an #IF branch or a #SWITCH case has been entered
        bool skipped = false;  // a #SWITCH that has met #SKIP after its case
    };

    void Interpret(std::string_view line);
    bool ControlFlow(std::string_view keyword, std::string_view argument);
    bool Active() const { return blocks_.empty() || blocks_.back().active; }
    void PopThrough(Block::Type type);
    Block* Innermost(Block::Type type);
    void ChannelLine(std::string_view line, std::string_view upper);
    int Slot(char high, char low) const;

    ReadingHost& host_;
    TChartHeader& header_;
    int32_t ticksPerMeasure_;
    RandomDraw draw_;
    ChartEncoding encoding_;
    bool base62_ = false;
    std::vector<Block> blocks_;
    std::vector<Placed> placed_;
    std::map<int, double> tempoDefinitions_;
    std::map<int, double> stopDefinitions_;
    std::set<int> longNoteEnds_;
    std::array<double, 1000> measureLength_;
    int32_t lastMeasure_ = -1;
};

}  // namespace engine
