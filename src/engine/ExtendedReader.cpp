#include "engine/ExtendedReader.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <numeric>
#include <string>

#include "engine/FixedReader.h"
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

// A number of a line as the double it is kept in. One that does not fit a double (1e400) is
// refused with the rest of its line; one too small for it (1e-400) becomes 0.
double Number(std::string_view text) {
    const double value = static_cast<double>(gui::StrToFloat(text));
    if (!std::isfinite(value)) throw EExtendedChartError("浮動小数点オーバーフロー");
    return value;
}

}  // namespace

ExtendedReader::ExtendedReader(ReadingHost& host, TChartHeader& header, int32_t ticksPerMeasure, RandomDraw draw,
                               ChartEncoding encoding)
    : host_(host), header_(header), ticksPerMeasure_(ticksPerMeasure), encoding_(encoding), flow_(std::move(draw)) {}

Timeline ExtendedReader::Build() {
    return BuildExtendedTimeline(std::move(placed_), header_.Bpm, ticksPerMeasure_, [this](const TChartObject& object) {
        return object.Kind == kBaseImage || object.Kind == kLayerImage ? host_.MovieLength(object.Value)
                                                                       : host_.SoundLength(object.Value);
    });
}

void ExtendedReader::ReadLine(std::string_view line) {
    try {
        if (line.size() > kMaxLineLength) {
            if (reportedLongLine_) return;
            reportedLongLine_ = true;
            throw EExtendedChartError(gui::Format("the line is %zu bytes long; lines longer than %zu bytes are skipped",
                                                  line.size(), kMaxLineLength));
        }
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
    if (flow_.Take(keyword, argument)) {
        if (flow_.TooDeep() && !reportedTooDeep_) {
            reportedTooDeep_ = true;
            throw EExtendedChartError(gui::Format(
                "#RANDOM, #IF and #SWITCH blocks nest deeper than %zu levels; the blocks deeper than that are skipped",
                ControlFlow::kMaxDepth));
        }
        return;
    }
    if (!flow_.Active()) return;
    if (Definition(line, upper, keyword, argument)) return;
    if (!ReadHeaderLine(line, upper, header_, host_, encoding_)) ChannelLine(line, upper);
}

bool ExtendedReader::Definition(std::string_view line, std::string_view upper, std::string_view keyword,
                                std::string_view argument) {
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
    } else if (upper.starts_with("#BMP")) {
        if (host_.ShowsPictures()) host_.LoadPicture(definedSlot(4), encoding_.Cut(value(7), 100));
    } else if (upper.starts_with("#BPM") && keyword.size() > 4) {
        const double tempo = Number(Trim(value(7)));
        if (tempo > 0) placed_.tempoDefinitions[definedSlot(4)] = tempo;
    } else if (upper.starts_with("#STOP")) {
        const double length = Number(Trim(value(8)));
        if (length >= 0) placed_.stopDefinitions[definedSlot(5)] = length;
    } else if (keyword == "#LNOBJ") {
        if (argument.size() >= 2 && Slot(argument[0], argument[1]) > 0)
            placed_.longNoteEnds.insert(Slot(argument[0], argument[1]));
    } else if (keyword == "#LNTYPE") {
        // Type 2 is read as type 1: pairs of objects.
    } else if (keyword == "#BASE") {
        base62_ = IntegerArgument(argument) == 62;
        host_.AddSlots(base62_ ? kBase62SlotCount : kBase36SlotCount);
    } else {
        return false;
    }
    return true;
}

void ExtendedReader::ChannelLine(std::string_view line, std::string_view upper) {
    if (line.size() < 7) return;
    for (size_t i = 1; i <= 3; ++i)
        if (upper[i] < '0' || upper[i] > '9') return;
    const int32_t measure = (upper[1] - '0') * 100 + (upper[2] - '0') * 10 + (upper[3] - '0');
    const char a = upper[4], b = upper[5];
    const std::string_view data = Trim(line.substr(7));

    if (a == '0' && b == '2') {
        const double length = Number(data);
        if (length <= 0) throw EExtendedChartError("小節長が不正です");
        placed_.measureLengths[static_cast<size_t>(measure)] = length;
        placed_.lastMeasure = std::max(placed_.lastMeasure, measure);
        return;
    }
    PlacedRole role;
    int kind = 0;
    const bool key = b >= '1' && b <= '9';
    if (a == '0' && b == '1') role = PlacedRole::Background;
    else if (a == '0' && b == '3') role = PlacedRole::HexTempo;
    else if (a == '0' && b == '4') role = PlacedRole::BaseImage, kind = kBaseImage;
    else if (a == '0' && b == '7') role = PlacedRole::LayerImage, kind = kLayerImage;
    else if (a == '0' && b == '8') role = PlacedRole::DefinedTempo;
    else if (a == '0' && b == '9') role = PlacedRole::Stop;
    else if ((a == '1' || a == '2') && key) role = PlacedRole::Note, kind = (a - '0') * 10 + (b - '0');
    else if ((a == '5' || a == '6') && key) role = PlacedRole::LongNote, kind = (a - '4') * 10 + (b - '0');
    else return;  // pictures we do not show, invisible notes, mines and unknown channels

    const int32_t slots = static_cast<int32_t>(data.size() / 2);  // the line is at most kMaxLineLength long
    for (int32_t j = 0; j < slots; ++j) {
        const char high = data[2 * static_cast<size_t>(j)], low = data[2 * static_cast<size_t>(j) + 1];
        const int value = role == PlacedRole::HexTempo ? (HexDigit(high) < 0 || HexDigit(low) < 0
                                                        ? -1
                                                        : HexDigit(high) * 16 + HexDigit(low))
                                                 : Slot(high, low);
        if (value <= 0) continue;  // empty, or not a number in this base
        if (placed_.objects.size() >= kMaxObjects) {
            if (reportedManyObjects_) return;
            reportedManyObjects_ = true;
            throw EExtendedChartError(
                gui::Format("the chart places more than %zu objects; the objects from here on are left out", kMaxObjects));
        }
        const int32_t divisor = std::gcd(j, slots);
        placed_.objects.push_back({measure, j / divisor, slots / divisor, value,
                                   static_cast<uint32_t>(placed_.objects.size()), role, static_cast<uint8_t>(kind)});
        placed_.lastMeasure = std::max(placed_.lastMeasure, measure);
    }
}

}  // namespace engine
