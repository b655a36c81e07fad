// What the two readings of a chart share: the header values they fill, the text encoding of the
// file, and the host that loads the files a chart names.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Timeline.h"
#include "gui/TextEncoding.h"

namespace engine {

// Sound and picture slots: two hexadecimal digits in the fixed dialect; two base-36 digits in
// the extended reading, or two base-62 digits after #BASE 62.
constexpr int kSlotCount = 256;
constexpr int kBase36SlotCount = 36 * 36;
constexpr int kBase62SlotCount = 62 * 62;

struct TChartHeader {
    std::string Title;
    std::string Artist;
    std::string Genre;
    std::string ChartType;
    int32_t Rank = 0;
    int32_t PlayLevel = 2;
    int32_t Total = 200;
    int32_t VolWav = 0;
    int32_t PlayerMode = 1;
    float Bpm = 120.0f;
    // The #MIDIFILE value as the chart gives it, set only when the file exists.
    std::string MidiFileName;
};

// The text of a chart file's bytes: up to a Ctrl+Z, without a UTF-8 byte-order mark (Windows
// tools write one, and it would hide the first keyword).
std::string_view ChartText(const std::vector<uint8_t>& bytes);

// How the texts of a chart are decoded: UTF-8, Shift-JIS or CP949, decided once for a whole file
// (gui::DetectTextEncoding), or by each text for itself when no file is being read.
struct ChartEncoding {
    std::optional<gui::TextEncoding> file;

    // `raw` cut to at most `maxLength` bytes without splitting a character.
    std::string_view Cut(std::string_view raw, size_t maxLength) const;
    // `raw` as UTF-8.
    std::string Text(std::string_view raw) const;
};

// What a reading hands on while it reads. The defaults do nothing, as for a reading of lines
// without a chart file around them.
class ReadingHost {
public:
    virtual ~ReadingHost() = default;
    // The file a #WAV or #BMP line names, loaded into its slot; raises when it cannot be read,
    // which abandons the rest of the line.
    virtual void LoadSound(int slot, std::string_view name);
    virtual void LoadPicture(int slot, std::string_view name);
    // Whether #BMP lines load pictures; when not, they count as unknown lines.
    virtual bool ShowsPictures() const;
    // Slots beyond those the load began with (#BASE 62).
    virtual void AddSlots(int count);
    // The file of `name` in the chart's folder, empty when there is none.
    virtual std::filesystem::path FindFile(std::string_view name);
    // Opens the MIDI backing track; raises when it cannot.
    virtual void OpenMidi(const std::filesystem::path& path);
    // A header value shown on the console as it is read.
    virtual void Echo(const std::string& text);
    // The line being read was given up, for `reason`.
    virtual void Drop(const std::string& reason);
    // Called now and then during long steps; raises to abandon the load.
    virtual void Progress();
    // How long the sound in `slot` lasts, or the movie in picture slot `slot` runs, in
    // milliseconds of song time once the files are loaded; 0 when there is none or it is unknown.
    virtual double SoundLength(int slot);
    virtual double MovieLength(int slot);
};

// One reading of a chart: its lines in file order, then the timeline.
class ChartReading {
public:
    virtual ~ChartReading() = default;
    // One line; a failure abandons the rest of it and is handed to the host's Drop.
    virtual void ReadLine(std::string_view line) = 0;
    // The timeline of the lines read; raises ETimeTableError when the chart cannot be timed.
    virtual Timeline Build() = 0;
};

}  // namespace engine
