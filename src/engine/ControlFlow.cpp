#include "engine/ControlFlow.h"

#include <memory>
#include <random>

#include "gui/Convert.h"

namespace engine {

RandomDraw SeededDraw(uint64_t seed) {
    auto generator = std::make_shared<std::mt19937_64>(seed);
    return [generator](int32_t n) -> int32_t {
        if (n < 1) return 0;
        const uint64_t range = static_cast<uint64_t>(n);
        // Values from `limit` up would favour the low results; they are drawn again.
        const uint64_t limit = UINT64_MAX - UINT64_MAX % range;
        uint64_t x = (*generator)();
        while (x >= limit) x = (*generator)();
        return static_cast<int32_t>(1 + x % range);
    };
}

int32_t IntegerArgument(std::string_view argument) {
    int32_t value = 0;
    return gui::TryStrToInt(argument, value) ? value : 0;
}

bool ControlFlow::Take(std::string_view keyword, std::string_view argument) {
    return TakeRandom(keyword, argument) || TakeSwitch(keyword, argument);
}

ControlFlow::Block* ControlFlow::Innermost(Block::Type type) {
    for (auto it = blocks_.rbegin(); it != blocks_.rend(); ++it)
        if (it->type == type) return &*it;
    return nullptr;
}

void ControlFlow::PopThrough(Block::Type type) {
    if (Innermost(type) == nullptr) return;
    while (blocks_.back().type != type) blocks_.pop_back();
    blocks_.pop_back();
}

bool ControlFlow::TakeRandom(std::string_view keyword, std::string_view argument) {
    if (keyword == "#RANDOM" || keyword == "#SETRANDOM") {
        // A #RANDOM at the level of an open one (no #IF opened since) replaces its value.
        if (blocks_.empty() || blocks_.back().type != Block::Random) {
            const bool active = Active();
            blocks_.push_back({Block::Random, active, active});
        }
        Block& block = blocks_.back();
        const int32_t n = IntegerArgument(argument);
        if (block.outerActive) block.value = keyword == "#RANDOM" ? draw_(n) : n;
        return true;
    }
    if (keyword == "#ENDRANDOM") {
        PopThrough(Block::Random);
        return true;
    }
    if (keyword == "#IF") {
        const Block* random = Innermost(Block::Random);
        const bool outer = Active();
        const bool taken = random != nullptr && random->value == IntegerArgument(argument);
        blocks_.push_back({Block::If, outer, outer && taken, 0, taken});
        return true;
    }
    if (keyword == "#ELSEIF" || keyword == "#ELSE") {
        if (blocks_.empty() || blocks_.back().type != Block::If) return true;
        const Block* random = Innermost(Block::Random);
        Block& block = blocks_.back();
        const bool matches = keyword == "#ELSE" || (random != nullptr && random->value == IntegerArgument(argument));
        block.active = block.outerActive && !block.taken && matches;
        block.taken = block.taken || matches;
        return true;
    }
    if (keyword == "#ENDIF" || (keyword == "#END" && gui::UpperCase(argument) == "IF")) {
        PopThrough(Block::If);
        return true;
    }
    return false;
}

bool ControlFlow::TakeSwitch(std::string_view keyword, std::string_view argument) {
    if (keyword == "#SWITCH" || keyword == "#SETSWITCH") {
        const bool outer = Active();
        const int32_t n = IntegerArgument(argument);
        blocks_.push_back({Block::Switch, outer, false, outer ? (keyword == "#SWITCH" ? draw_(n) : n) : 0});
        return true;
    }
    if (keyword == "#CASE" || keyword == "#DEF" || keyword == "#SKIP") {
        if (Innermost(Block::Switch) == nullptr) return true;
        while (blocks_.back().type != Block::Switch) blocks_.pop_back();
        Block& block = blocks_.back();
        // Once inside, execution falls through later cases until #SKIP.
        if (keyword == "#SKIP" && block.taken) block.skipped = true;
        if (keyword == "#CASE" && block.value == IntegerArgument(argument)) block.taken = true;
        if (keyword == "#DEF") block.taken = true;
        block.active = block.outerActive && block.taken && !block.skipped;
        return true;
    }
    if (keyword == "#ENDSW") {
        PopThrough(Block::Switch);
        return true;
    }
    return false;
}

}  // namespace engine
