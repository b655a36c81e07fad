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

void ControlFlow::Push(const Block& block) {
    ++open_[block.type];
    if (blocks_.size() < kMaxDepth)
        blocks_.push_back(block);
    else
        deeper_.push_back(block.type);
}

void ControlFlow::Pop() {
    if (!deeper_.empty()) {
        --open_[deeper_.back()];
        deeper_.pop_back();
    } else {
        --open_[blocks_.back().type];
        blocks_.pop_back();
    }
}

const ControlFlow::Block* ControlFlow::InnermostRandom() const {
    for (auto it = blocks_.rbegin(); it != blocks_.rend(); ++it)
        if (it->type == Block::Random) return &*it;
    return nullptr;
}

void ControlFlow::PopTo(Block::Type type, bool inclusive) {
    if (!Open(type)) return;
    // Each block is closed once: the work of all closes together is that of the opens.
    while (Top() != type) Pop();
    if (inclusive) Pop();
}

int32_t ControlFlow::BlockValue(bool draws, std::string_view argument) {
    const int32_t n = IntegerArgument(argument);
    if (n < 1) return 0;
    return draws ? draw_(n) : n;
}

bool ControlFlow::Matches(int32_t value, std::string_view argument) {
    return value >= 1 && value == IntegerArgument(argument);
}

bool ControlFlow::TakeRandom(std::string_view keyword, std::string_view argument) {
    if (keyword == "#RANDOM" || keyword == "#SETRANDOM") {
        // A #RANDOM at the level of an open one (no #IF opened since) replaces its value.
        if (blocks_.empty() || Top() != Block::Random) {
            const bool active = Active();
            Push({Block::Random, active, active});
        }
        if (TooDeep()) return true;
        Block& block = blocks_.back();
        if (block.outerActive) block.value = BlockValue(keyword == "#RANDOM", argument);
        return true;
    }
    if (keyword == "#ENDRANDOM") {
        PopTo(Block::Random, true);
        return true;
    }
    if (keyword == "#IF") {
        const Block* random = InnermostRandom();
        const bool outer = Active();
        const bool taken = random != nullptr && Matches(random->value, argument);
        Push({Block::If, outer, outer && taken, 0, taken});
        return true;
    }
    if (keyword == "#ELSEIF" || keyword == "#ELSE") {
        if (blocks_.empty() || Top() != Block::If || TooDeep()) return true;
        const Block* random = InnermostRandom();
        Block& block = blocks_.back();
        // Without a #RANDOM the #IF is never taken and #ELSE is; under one without a value, nothing is.
        const bool matches = random == nullptr ? keyword == "#ELSE"
                                               : random->value >= 1 && (keyword == "#ELSE" || Matches(random->value, argument));
        block.active = block.outerActive && !block.taken && matches;
        block.taken = block.taken || matches;
        return true;
    }
    if (keyword == "#ENDIF" || (keyword == "#END" && gui::UpperCase(argument) == "IF")) {
        PopTo(Block::If, true);
        return true;
    }
    return false;
}

bool ControlFlow::TakeSwitch(std::string_view keyword, std::string_view argument) {
    if (keyword == "#SWITCH" || keyword == "#SETSWITCH") {
        // A block past the depth limit draws nothing.
        const bool outer = Active() && blocks_.size() < kMaxDepth;
        Push({Block::Switch, outer, false, outer ? BlockValue(keyword == "#SWITCH", argument) : 0});
        return true;
    }
    if (keyword == "#CASE" || keyword == "#DEF" || keyword == "#SKIP") {
        PopTo(Block::Switch, false);
        if (!Open(Block::Switch) || TooDeep()) return true;
        Block& block = blocks_.back();
        // Once inside, execution falls through later cases until #SKIP.
        if (keyword == "#SKIP" && block.taken) block.skipped = true;
        if (keyword == "#CASE" && Matches(block.value, argument)) block.taken = true;
        if (keyword == "#DEF" && block.value >= 1) block.taken = true;
        block.active = block.outerActive && block.taken && !block.skipped;
        return true;
    }
    if (keyword == "#ENDSW") {
        PopTo(Block::Switch, true);
        return true;
    }
    return false;
}

}  // namespace engine
