// The #RANDOM, #IF and #SWITCH blocks of the extended reading: which of a chart's lines count.
// The reader hands every control line here, and reads the others only while Active().
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace engine {

// Draws the value of a #RANDOM or #SWITCH: an integer from 1 to n.
using RandomDraw = std::function<int32_t(int32_t)>;
// Draws from a generator seeded with `seed`; the same seed gives the same values on every machine.
RandomDraw SeededDraw(uint64_t seed);

// An integer argument (without blanks around it) of a chart line; a line without one counts as
// 0, which no branch takes.
int32_t IntegerArgument(std::string_view argument);

class ControlFlow {
public:
    explicit ControlFlow(RandomDraw draw) : draw_(std::move(draw)) {}

    // Takes a control line, given as its keyword upper-cased and its argument without blanks
    // around it; false for a line that is none.
    bool Take(std::string_view keyword, std::string_view argument);
    // Whether the other lines count where the blocks stand now.
    bool Active() const { return blocks_.empty() || blocks_.back().active; }

private:
    // An open #RANDOM, #IF or #SWITCH block.
    struct Block {
        enum Type : uint8_t { Random, If, Switch } type;
        bool outerActive;      // whether the lines around the block count
        bool active;           // whether the lines inside it count now
        int32_t value = 0;     // the drawn value of a #RANDOM or #SWITCH
        bool taken = false;    // an #IF branch or a #SWITCH case has been entered
        bool skipped = false;  // a #SWITCH that has met #SKIP after its case
    };

    bool TakeRandom(std::string_view keyword, std::string_view argument);
    bool TakeSwitch(std::string_view keyword, std::string_view argument);
    Block* Innermost(Block::Type type);
    void PopThrough(Block::Type type);

    RandomDraw draw_;
    std::vector<Block> blocks_;
};

}  // namespace engine
