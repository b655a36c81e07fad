#include "engine/ExtendedReader.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <memory>
#include <numeric>
#include <random>
#include <string>

#include "engine/FixedReader.h"
#include "engine/TimingChecks.h"
#include "gui/Convert.h"
#include "gui/Exception.h"

namespace engine {
namespace {

using gui::Exception;
GUI_DECLARE_EXCEPTION(EExtendedChartError, Exception);

constexpr std::string_view kBlanks = " \t";

std::string_view Trim(std::string_view text) {
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

int Base36Digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    return -1;
}

int Base62Digit(char c) {
    if (c >= 'a' && c <= 'z') return c - 'a' + 36;
    return Base36Digit(c);
}

int HexDigit(char c) {
    const int digit = Base36Digit(c);
    return digit < 16 ? digit : -1;
}

// An integer argument of a control line; a line without one counts as 0, which no branch takes.
int32_t IntegerArgument(std::string_view argument) {
    int32_t value = 0;
    return gui::TryStrToInt(Trim(argument), value) ? value : 0;
}

bool SamePlace(int32_t measureA, int64_t numeratorA, int64_t denominatorA, int32_t measureB, int64_t numeratorB,
               int64_t denominatorB) {
    return measureA == measureB && numeratorA * denominatorB == numeratorB * denominatorA;
}

}  // namespace

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

ExtendedReader::ExtendedReader(ReadingHost& host, TChartHeader& header, int32_t ticksPerMeasure, RandomDraw draw,
                               ChartEncoding encoding)
    : host_(host), header_(header), ticksPerMeasure_(ticksPerMeasure), draw_(std::move(draw)), encoding_(encoding) {
    measureLength_.fill(1.0);
}

void ExtendedReader::ReadLine(std::string_view line) {
    try {
        Interpret(Trim(line));
    } catch (const gui::Exception& e) {
        // A failing line is abandoned; what it stored before the failure stays.
        host_.Drop(e.what());
    }
}

int ExtendedReader::Slot(char high, char low) const {
    const int base = base62_ ? 62 : 36;
    const int h = base62_ ? Base62Digit(high) : Base36Digit(high);
    const int l = base62_ ? Base62Digit(low) : Base36Digit(low);
    if (h < 0 || l < 0) return -1;
    return h * base + l;
}

void ExtendedReader::Interpret(std::string_view line) {
    if (line.empty() || line[0] != '#') return;  // comments and prose
    const std::string upper = gui::UpperCase(line);
    const size_t keywordEnd = std::min(upper.find_first_of(kBlanks), upper.size());
    const std::string_view keyword = std::string_view(upper).substr(0, keywordEnd);
    const std::string_view argument = Trim(line.substr(keywordEnd));
    if (ControlFlow(keyword, argument)) return;
    if (!Active()) return;

    // Slot definitions: the two characters after the keyword are a base-36 (or base-62) index;
    // the value starts after one separator, as in the fixed dialect.
    const auto definedSlot = [&](size_t at) {
        const int slot = line.size() > at + 1 ? Slot(line[at], line[at + 1]) : -1;
        if (slot < 0) throw EExtendedChartError("スロット番号が不正です");
        return slot;
    };
    const auto value = [&](size_t at) { return line.size() > at ? line.substr(at) : std::string_view(); };
    if (upper.starts_with("#WAV")) {
        host_.LoadSound(definedSlot(4), encoding_.Cut(value(7), 100));
        return;
    }
    if (upper.starts_with("#BMP")) {
        if (host_.ShowsPictures()) host_.LoadPicture(definedSlot(4), encoding_.Cut(value(7), 100));
        return;
    }
    if (upper.starts_with("#BPM") && keyword.size() > 4) {
        const long double tempo = gui::StrToFloat(Trim(value(7)));
        if (std::isfinite(tempo) && tempo > 0) tempoDefinitions_[definedSlot(4)] = static_cast<double>(tempo);
        return;
    }
    if (upper.starts_with("#STOP")) {
        const long double length = gui::StrToFloat(Trim(value(8)));
        if (std::isfinite(length) && length >= 0) stopDefinitions_[definedSlot(5)] = static_cast<double>(length);
        return;
    }
    if (keyword == "#LNOBJ") {
        if (argument.size() >= 2 && Slot(argument[0], argument[1]) > 0)
            longNoteEnds_.insert(Slot(argument[0], argument[1]));
        return;
    }
    if (keyword == "#LNTYPE") return;  // type 2 is read as type 1: pairs of objects
    if (keyword == "#BASE") {
        base62_ = IntegerArgument(argument) == 62;
        host_.AddSlots(base62_ ? kBase62SlotCount : kBase36SlotCount);
        return;
    }
    if (!ReadHeaderLine(line, upper, header_, host_, encoding_)) ChannelLine(line, upper);
}

ExtendedReader::Block* ExtendedReader::Innermost(Block::Type type) {
    for (auto it = blocks_.rbegin(); it != blocks_.rend(); ++it)
        if (it->type == type) return &*it;
    return nullptr;
}

void ExtendedReader::PopThrough(Block::Type type) {
    if (Innermost(type) == nullptr) return;
    while (blocks_.back().type != type) blocks_.pop_back();
    blocks_.pop_back();
}

bool ExtendedReader::ControlFlow(std::string_view keyword, std::string_view argument) {
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

void ExtendedReader::ChannelLine(std::string_view line, std::string_view upper) {
    if (line.size() < 7) return;
    for (size_t i = 1; i <= 3; ++i)
        if (upper[i] < '0' || upper[i] > '9') return;
    const int32_t measure = (upper[1] - '0') * 100 + (upper[2] - '0') * 10 + (upper[3] - '0');
    const char a = upper[4], b = upper[5];
    const std::string_view data = Trim(line.substr(7));

    if (a == '0' && b == '2') {
        const long double length = gui::StrToFloat(data);
        if (!std::isfinite(length) || length <= 0) throw EExtendedChartError("小節長が不正です");
        measureLength_[static_cast<size_t>(measure)] = static_cast<double>(length);
        lastMeasure_ = std::max(lastMeasure_, measure);
        return;
    }
    Role role;
    int kind = 0;
    const bool key = b >= '1' && b <= '9';
    if (a == '0' && b == '1') role = Role::Background;
    else if (a == '0' && b == '3') role = Role::HexTempo;
    else if (a == '0' && b == '4') role = Role::BaseImage, kind = kBaseImage;
    else if (a == '0' && b == '7') role = Role::LayerImage, kind = kLayerImage;
    else if (a == '0' && b == '8') role = Role::DefinedTempo;
    else if (a == '0' && b == '9') role = Role::Stop;
    else if ((a == '1' || a == '2') && key) role = Role::Note, kind = (a - '0') * 10 + (b - '0');
    else if ((a == '5' || a == '6') && key) role = Role::LongNote, kind = (a - '4') * 10 + (b - '0');
    else return;  // pictures we do not show, invisible notes, mines and unknown channels

    const int32_t slots = static_cast<int32_t>(std::min<size_t>(data.size() / 2, INT32_MAX));
    for (int32_t j = 0; j < slots; ++j) {
        const char high = data[2 * static_cast<size_t>(j)], low = data[2 * static_cast<size_t>(j) + 1];
        const int value = role == Role::HexTempo ? (HexDigit(high) < 0 || HexDigit(low) < 0
                                                        ? -1
                                                        : HexDigit(high) * 16 + HexDigit(low))
                                                 : Slot(high, low);
        if (value <= 0) continue;  // empty, or not a number in this base
        const int32_t divisor = std::gcd(j, slots);
        placed_.push_back({measure, j / divisor, slots / divisor, value, static_cast<uint32_t>(placed_.size()), role,
                           static_cast<uint8_t>(kind)});
        lastMeasure_ = std::max(lastMeasure_, measure);
    }
}

Timeline ExtendedReader::Build() {
    const int32_t p = ticksPerMeasure_;
    CheckTimingBasis(p, header_.Bpm);

    const auto placeLess = [](const Placed& x, const Placed& y) {
        if (x.measure != y.measure) return x.measure < y.measure;
        return int64_t{x.numerator} * y.denominator < int64_t{y.numerator} * x.denominator;
    };
    const auto samePlace = [](const Placed& x, const Placed& y) {
        return SamePlace(x.measure, x.numerator, x.denominator, y.measure, y.numerator, y.denominator);
    };

    // At one place of one channel a later object replaces an earlier one; background sounds
    // are layers and all stay.
    std::stable_sort(placed_.begin(), placed_.end(), [&](const Placed& x, const Placed& y) {
        if (x.role != y.role) return x.role < y.role;
        if (x.kind != y.kind) return x.kind < y.kind;
        return placeLess(x, y);
    });
    std::vector<Placed> kept;
    kept.reserve(placed_.size());
    for (size_t i = 0; i < placed_.size(); ++i) {
        const Placed& x = placed_[i];
        const bool replaced = x.role != Role::Background && i + 1 < placed_.size() && placed_[i + 1].role == x.role &&
                              placed_[i + 1].kind == x.kind && samePlace(x, placed_[i + 1]);
        if (!replaced) kept.push_back(x);
    }
    std::sort(kept.begin(), kept.end(), [&](const Placed& x, const Placed& y) {
        if (!samePlace(x, y)) return placeLess(x, y);
        return x.order < y.order;
    });

    // Measure starts in beats, up to the end marker two measures after the last one used.
    const int32_t endMeasure = std::max(lastMeasure_, 0) + 2;
    std::vector<long double> measureStart(static_cast<size_t>(endMeasure) + 1, 0);
    for (int32_t m = 0; m < endMeasure; ++m)
        measureStart[static_cast<size_t>(m) + 1] =
            measureStart[static_cast<size_t>(m)] + 4.0L * (m < 1000 ? measureLength_[static_cast<size_t>(m)] : 1.0);
    const long double ticksPerBeat = p / 4.0L;
    const auto beatOf = [&](const Placed& x) {
        return measureStart[static_cast<size_t>(x.measure)] +
               4.0L * measureLength_[static_cast<size_t>(x.measure)] * x.numerator / x.denominator;
    };
    // Whole ticks and milliseconds, and the cause when they do not fit in 32 bits.
    const auto tickAt = [](long double position, int32_t measure) {
        try {
            return RoundToInt32(position);
        } catch (const ETimeTableError&) {
            throw ETimeTableError(gui::Format(
                "the measure lengths (channel 02) put measure %d past the 32-bit range of positions", measure));
        }
    };
    const auto millisecondsAt = [](long double time) {
        try {
            return RoundToInt32(time);
        } catch (const ETimeTableError&) {
            throw ETimeTableError("the song runs past the 32-bit range of milliseconds: its tempo is too slow for its length");
        }
    };

    // Walk the places in order: time runs at the tempo in force; at each place the tempo
    // changes first, the objects there sound, and then a stop holds the position.
    std::vector<TExactPoint> points{{0, 0}};
    std::vector<TChartObject> table;
    std::vector<double> times;
    table.reserve(kept.size() + 1);
    times.reserve(kept.size() + 1);
    std::array<bool, 30> longNoteOpen{};
    long double time = 0, beat = 0, bpm = header_.Bpm, bpmAtStart = header_.Bpm;
    for (size_t i = 0; i < kept.size();) {
        size_t end = i + 1;
        while (end < kept.size() && samePlace(kept[i], kept[end])) ++end;
        const long double here = beatOf(kept[i]);
        time += (here - beat) * 60000.0L / bpm;
        beat = here;
        const long double position = here * ticksPerBeat;
        const int32_t tick = tickAt(position, kept[i].measure);

        bool tempoChanged = false;
        long double stop = 0;
        for (size_t k = i; k < end; ++k) {
            const Placed& x = kept[k];
            if (x.role == Role::HexTempo) {
                bpm = x.value;
                tempoChanged = true;
            } else if (x.role == Role::DefinedTempo && tempoDefinitions_.contains(x.value)) {
                bpm = tempoDefinitions_[x.value];
                tempoChanged = true;
            } else if (x.role == Role::Stop && stopDefinitions_.contains(x.value)) {
                stop += stopDefinitions_[x.value];
            }
        }
        if (here == 0) bpmAtStart = bpm;
        if (tempoChanged) points.push_back({static_cast<double>(time), static_cast<double>(position)});

        for (size_t k = i; k < end; ++k) {
            const Placed& x = kept[k];
            bool sounds = x.role == Role::Background || x.role == Role::BaseImage || x.role == Role::LayerImage;
            if (x.role == Role::Note) sounds = !longNoteEnds_.contains(x.value);
            if (x.role == Role::LongNote) {
                // Pairs on a long-note channel: the first starts the note, the second ends it silently.
                sounds = !longNoteOpen[x.kind];
                longNoteOpen[x.kind] = sounds;
            }
            if (!sounds) continue;
            table.push_back({x.role == Role::Background ? kBackgroundSound : x.kind, tick, x.value, true});
            times.push_back(static_cast<double>(time));
        }

        if (stop > 0) {
            // n of 192 parts of a 4/4 measure, at the tempo now in force.
            points.push_back({static_cast<double>(time), static_cast<double>(position)});
            time += stop * 4.0L / 192 * 60000.0L / bpm;
            points.push_back({static_cast<double>(time), static_cast<double>(position)});
        }
        i = end;
    }

    const long double endBeat = measureStart[static_cast<size_t>(endMeasure)];
    const long double endTime = time + (endBeat - beat) * 60000.0L / bpm;
    const int32_t endTick = tickAt(endBeat * ticksPerBeat, endMeasure);
    table.push_back({kTempoChange, endTick, 120, true});
    times.push_back(static_cast<double>(endTime));

    const auto pace = [&](long double tempo) { return static_cast<double>(ticksPerBeat * tempo / 60000.0L); };
    ExactTempoMap map(points, pace(bpmAtStart), pace(bpm));
    // The map in whole numbers, for those who print it: every exact point and the end marker.
    std::vector<TTempoPoint> rounded;
    for (const TExactPoint& point : map.Points())
        rounded.push_back({millisecondsAt(point.Time), RoundToInt32(point.Position)});
    if (endTime > map.Points().back().Time) rounded.push_back({millisecondsAt(endTime), endTick});
    const int32_t endPosition = tickAt(static_cast<long double>(endTick) + 2.0L * p, endMeasure + 2);
    return Timeline::OnExactMap(std::move(table), std::move(times), std::move(map), std::move(rounded), p, endPosition);
}

}  // namespace engine
