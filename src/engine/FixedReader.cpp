// Chart lines: header keywords, channel lines and the objects they add.
#include "engine/FixedReader.h"

#include <climits>
#include <cmath>

#include "engine/TimeTable.h"
#include "gui/Convert.h"
#include "gui/Exception.h"

namespace engine {
namespace {

// Characters `from` (counted from 1) to `from + count - 1` of `text`, as far as they exist.
std::string_view Copy(std::string_view text, size_t from, size_t count) {
    if (from < 1 || from > text.size()) return {};
    return text.substr(from - 1, count);
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Two hexadecimal digits, 00-FF.
int HexPair(std::string_view pair) {
    if (pair.size() != 2 || HexDigit(pair[0]) < 0 || HexDigit(pair[1]) < 0)
        throw gui::EConvertError(gui::Format("'%.*s' は 16 進数ではありません", static_cast<int>(pair.size()), pair.data()));
    return HexDigit(pair[0]) * 16 + HexDigit(pair[1]);
}

int32_t ToPosition(int64_t value) {
    if (value < INT32_MIN || value > INT32_MAX) throw gui::EConvertError("整数の範囲を超えています");
    return static_cast<int32_t>(value);
}

}  // namespace

FixedReader::FixedReader(ReadingHost& host, TChartHeader& header, int32_t ticksPerMeasure, ChartEncoding encoding)
    : host_(host), header_(header), ticksPerMeasure_(ticksPerMeasure), encoding_(encoding) {}

Timeline FixedReader::Build() {
    return FixedTimeTable(std::move(objects_), header_.Bpm, ticksPerMeasure_, [this] { host_.Progress(); }).Build();
}

void FixedReader::AddObject(int32_t kind, int32_t position, int32_t value) {
    objects_.push_back(TChartObject{kind, position, value, true});
}

void FixedReader::ParseLine(std::string_view line) {
    try {
        const std::string upper = gui::UpperCase(line);
        if (!ReadHeaderLine(line, upper, header_, host_, encoding_)) ParseChannelLine(line);
    } catch (const gui::Exception& e) {
        // A failing line is abandoned; what it stored before the failure stays.
        host_.Drop(e.what());
    }
}

bool ReadHeaderLine(std::string_view line, std::string_view upper, TChartHeader& header, ReadingHost& host,
                    const ChartEncoding& encoding) {
    bool handled = false;
    auto text = [&](const char* keyword, size_t from, size_t maxLength, std::string& field, const char* echo) {
        if (!StartsWith(upper, keyword)) return;
        handled = true;
        field = encoding.Text(encoding.Cut(Copy(line, from, std::string_view::npos), maxLength));
        if (echo) host.Echo(std::string(echo) + field);
    };
    auto integer = [&](const char* keyword, size_t from, size_t maxLength, int32_t& field) {
        if (!StartsWith(upper, keyword)) return;
        handled = true;
        field = gui::StrToInt(Copy(line, from, maxLength));
    };

    text("#TITLE", 8, 100, header.Title, "TITLE:");
    text("#GENRE", 8, 100, header.Genre, "GENRE:");
    if (StartsWith(upper, "#BPM")) {
        handled = true;
        const long double value = gui::StrToFloat(Copy(line, 6, 100));
        const float single = static_cast<float>(value);
        if (!std::isfinite(single)) throw gui::EConvertError("浮動小数点オーバーフロー");
        header.Bpm = single;
    }
    integer("#PLAYLEVEL", 12, 100, header.PlayLevel);
    text("#ARTIST", 9, 100, header.Artist, "ARTIST:");
    for (int mode = 1; mode <= 3; ++mode) {
        if (StartsWith(upper, "#PLAYER" + std::to_string(mode))) {
            handled = true;
            header.PlayerMode = mode;
        }
    }
    if (StartsWith(upper, "#PLAYER")) {
        handled = true;
        int32_t mode = 0;
        if (gui::TryStrToInt(Copy(upper, 9, 1), mode)) header.PlayerMode = mode;
    }
    if (StartsWith(upper, "#MIDIFILE")) {
        handled = true;
        const std::string_view name = encoding.Cut(Copy(line, 11, std::string_view::npos), 100);
        const std::filesystem::path path = host.FindFile(name);
        if (!path.empty()) {
            // Named before the file is opened, whether it opens or not.
            header.MidiFileName = encoding.Text(name);
            host.OpenMidi(path);
        }
    }
    integer("#TOTAL", 8, 100, header.Total);
    integer("#VOLWAV", 9, 100, header.VolWav);
    integer("#RANK", 7, 200, header.Rank);
    text("#TYPE", 7, 200, header.ChartType, nullptr);
    if (StartsWith(upper, "#WAV")) {
        handled = true;
        host.LoadSound(HexPair(Copy(line, 5, 2)), encoding.Cut(Copy(line, 8, std::string_view::npos), 100));
    }
    if (StartsWith(upper, "#BMP") && host.ShowsPictures()) {
        handled = true;
        host.LoadPicture(HexPair(Copy(line, 5, 2)), encoding.Cut(Copy(line, 8, std::string_view::npos), 100));
    }
    return handled;
}

void FixedReader::ParseChannelLine(std::string_view line) {
    int32_t channel = 0, measure = 0;
    if (!gui::TryStrToInt(Copy(line, 5, 2), channel) || !gui::TryStrToInt(Copy(line, 2, 3), measure)) return;
    // A signed measure number would put objects before the start of the chart.
    if (measure < 0) return;

    int32_t kind;
    if (channel == 1)
        kind = kBackgroundSound;
    else if (channel == 2)
        kind = kMeasureLength;
    else if (channel == 3)
        kind = kTempoChange;
    else if (channel == 4)
        kind = kBaseImage;
    else if (channel == 7)
        kind = kLayerImage;
    else if ((channel >= 11 && channel <= 16) || (channel >= 21 && channel <= 26))
        kind = channel;
    else
        return;

    const std::string_view data = Copy(line, 8, 1000);
    const int64_t measureStart = int64_t{ticksPerMeasure_} * measure;
    if (kind == kMeasureLength) {
        const long double length = gui::StrToFloat(data);
        // A measure cannot be shorter than nothing; a negative length would run the chart
        // backwards and break the order that the tempo map relies on.
        if (length < 0) throw gui::EConvertError("小節長が負です");
        AddObject(kind, ToPosition(measureStart), ToPosition(gui::RoundHalfEven(length * 1000)));
        return;
    }
    const size_t slots = data.size() / 2;
    for (size_t j = 0; j < slots; ++j) {
        const int value = HexPair(data.substr(2 * j, 2));
        if (value == 0) continue;
        const long double offset = static_cast<long double>(ticksPerMeasure_) / static_cast<long double>(slots) *
                                   static_cast<long double>(j);
        AddObject(kind, ToPosition(gui::RoundHalfEven(offset) + measureStart), value);
    }
}

}  // namespace engine
