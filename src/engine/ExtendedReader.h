// The extended reading of today's BMS dialect, which the engine uses in place of the fixed
// dialect's line parser and time table when its Extended flag is set: base-36 (or base-62)
// slots, tempo from #BPMxx and stops from #STOPxx, sounds on every sound channel, long notes,
// #RANDOM and #SWITCH blocks, and object times without rounding. Header keywords, file lookup,
// slot loading and the console are the engine's own, shared with the fixed dialect.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string_view>
#include <vector>

namespace engine {

class TBMS;

// Draws the value of a #RANDOM or #SWITCH: an integer from 1 to n.
using RandomDraw = std::function<int32_t(int32_t)>;
// Draws from a generator seeded with `seed`; the same seed gives the same values on every machine.
RandomDraw SeededDraw(uint64_t seed);

class ExtendedReader {
public:
    ExtendedReader(TBMS& engine, RandomDraw draw);

    // One line of the chart, in file order. A failure abandons the rest of the line.
    void ReadLine(std::string_view line);
    // Fills the engine's object table with positions and exact times, its tempo maps and its end
    // position. Raises when the chart cannot be timed.
    void Build();

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

    TBMS& engine_;
    RandomDraw draw_;
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
