// The #RANDOM, #IF and #SWITCH blocks of the extended reading: which of a chart's lines count.
// The reader hands every control line here, and reads the others only while Active().
#pragma once

#include <array>
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
    // Blocks open at once that keep their state. Written charts nest a #RANDOM, its #IF and
    // perhaps a block or two inside; 64 levels is far beyond any of them. Blocks opened deeper
    // are skipped whole: only their kind is kept, so that their ends close the right blocks.
    static constexpr size_t kMaxDepth = 64;

    explicit ControlFlow(RandomDraw draw) : draw_(std::move(draw)) {}

    // Takes a control line, given as its keyword upper-cased and its argument without blanks
    // around it; false for a line that is none. Each line takes constant time.
    bool Take(std::string_view keyword, std::string_view argument);
    // Whether the other lines count where the blocks stand now.
    bool Active() const { return deeper_.empty() && (blocks_.empty() || blocks_.back().active); }
    // Whether a block is open beyond kMaxDepth.
    bool TooDeep() const { return !deeper_.empty(); }

private:
    // An open #RANDOM, #IF or #SWITCH block.
    struct Block {
        enum Type : uint8_t { Random, If, Switch } type;
        bool outerActive;      // whether the lines around the block count
        bool active;           // whether the lines inside it count now
        int32_t value = 0;     // the value of a #RANDOM or #SWITCH (BlockValue)
        bool taken = false;    // an #IF branch or a #SWITCH case has been entered
        bool skipped = false;  // a #SWITCH that has met #SKIP after its case
    };

    // The value of a #RANDOM or #SWITCH (drawn) or of a #SETRANDOM or #SETSWITCH (set): from 1
    // up, or 0 when the argument is no count from 1 up; under 0 no branch and no case is taken.
    int32_t BlockValue(bool draws, std::string_view argument);
    // Whether an #IF, #ELSEIF or #CASE for `argument` is taken under the value `value`.
    static bool Matches(int32_t value, std::string_view argument);
    bool TakeRandom(std::string_view keyword, std::string_view argument);
    bool TakeSwitch(std::string_view keyword, std::string_view argument);
    // Opens a block, past kMaxDepth only as its kind.
    void Push(const Block& block);
    void Pop();
    Block::Type Top() const { return deeper_.empty() ? blocks_.back().type : deeper_.back(); }
    bool Open(Block::Type type) const { return open_[type] > 0; }
    // The innermost open #RANDOM, or null; looked for among the kept blocks only.
    const Block* InnermostRandom() const;
    // Closes the blocks down to the innermost one of `type`; with `inclusive`, that one too.
    // Nothing when none of `type` is open.
    void PopTo(Block::Type type, bool inclusive);

    RandomDraw draw_;
    std::vector<Block> blocks_;
    // The kinds of the blocks open beyond kMaxDepth, innermost last.
    std::vector<Block::Type> deeper_;
    // Open blocks of each kind, kept and deeper.
    std::array<size_t, 3> open_{};
};

}  // namespace engine
