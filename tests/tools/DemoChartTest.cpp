// Checks the demo chart that the build generates: its text, the files it names, and that its
// MIDI backing track keeps the chart's tempo.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "gui/TextEncoding.h"
#include "support/TestFiles.h"

namespace {

namespace fs = std::filesystem;

const fs::path kDemo = fs::path(GLIMSTEP_BINARY_DIR) / "demo";
constexpr int kArrowChannels[] = {11, 13, 15, 16, 21, 23, 25, 26};
constexpr double kTicksPerMeasure = 128;

uint32_t Le(const std::string& bytes, size_t at, int size)
{
    uint32_t v = 0;
    for (int i = size - 1; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(bytes.at(at + i));
    return v;
}

uint32_t Be(const std::string& bytes, size_t at, int size)
{
    uint32_t v = 0;
    for (int i = 0; i < size; ++i) v = v << 8 | static_cast<uint8_t>(bytes.at(at + i));
    return v;
}

struct Object {
    int channel;
    double position;  // ticks, measure lengths applied
    std::string value;
};

// Reads the chart the way the player's dialect defines it, for the features the demo uses.
struct Chart {
    std::string raw;
    std::vector<std::string> lines;
    std::map<std::string, std::string> header;
    std::map<std::string, std::string> wavs, bmps;
    std::vector<Object> objects;
    std::map<int, double> lengths;

    explicit Chart(const fs::path& path) : raw(testsupport::ReadFile(path))
    {
        std::string current;
        for (char c : raw) {
            if (c == '\r' || c == '\n') {
                if (!current.empty()) lines.push_back(current);
                current.clear();
            } else {
                current += c;
            }
        }
        if (!current.empty()) lines.push_back(current);
        struct Pending {
            int measure, channel, slot, slots;
            std::string value;
        };
        std::vector<Pending> pending;
        for (const std::string& line : lines) {
            if (line.rfind("#WAV", 0) == 0) {
                wavs[line.substr(4, 2)] = line.substr(7);
            } else if (line.rfind("#BMP", 0) == 0) {
                bmps[line.substr(4, 2)] = line.substr(7);
            } else if (line.size() > 7 && std::isdigit(static_cast<unsigned char>(line[1])) && line[6] == ':') {
                int measure = std::stoi(line.substr(1, 3));
                int channel = std::stoi(line.substr(4, 2));
                std::string data = line.substr(7);
                if (channel == 2) {
                    lengths[measure] = std::stod(data);
                    continue;
                }
                int slots = static_cast<int>(data.size() / 2);
                for (int j = 0; j < slots; ++j) {
                    if (data.substr(2 * j, 2) != "00") pending.push_back({measure, channel, j, slots, data.substr(2 * j, 2)});
                }
            } else {
                size_t blank = line.find(' ');
                header[line.substr(0, blank)] = blank == std::string::npos ? "" : line.substr(blank + 1);
            }
        }
        for (const Pending& p : pending) {
            objects.push_back({p.channel, MeasureStart(p.measure) + Length(p.measure) * kTicksPerMeasure * p.slot / p.slots,
                               p.value});
        }
    }

    double Length(int measure) const { return lengths.count(measure) ? lengths.at(measure) : 1.0; }
    double MeasureStart(int measure) const
    {
        double start = 0;
        for (int m = 0; m < measure; ++m) start += Length(m) * kTicksPerMeasure;
        return start;
    }
    std::vector<const Object*> OnChannel(int channel) const
    {
        std::vector<const Object*> found;
        for (const Object& o : objects) {
            if (o.channel == channel) found.push_back(&o);
        }
        return found;
    }
    // Seconds from the chart's start to a position, through the tempo changes of channel 03.
    double SecondsAt(double position) const
    {
        std::vector<const Object*> changes = OnChannel(3);
        std::sort(changes.begin(), changes.end(), [](auto a, auto b) { return a->position < b->position; });
        double seconds = 0, from = 0, bpm = std::stod(header.at("#BPM"));
        for (const Object* change : changes) {
            if (change->position >= position) break;
            seconds += (change->position - from) / 32 * 60 / bpm;
            from = change->position;
            bpm = std::stoi(change->value, nullptr, 16);
        }
        return seconds + (position - from) / 32 * 60 / bpm;
    }
    // Where the player stops: two measures after an end marker that lies at the start of the
    // second measure after the last object's measure.
    double EndPosition() const
    {
        double last = 0;
        for (const Object& o : objects) last = std::max(last, o.position);
        return (std::floor(last / kTicksPerMeasure) + 4) * kTicksPerMeasure;
    }
};

const Chart& Demo()
{
    static const Chart chart(kDemo / "demo.bms");
    return chart;
}

TEST(DemoChart, IsShiftJisWithAJapaneseHeader)
{
    const Chart& chart = Demo();
    // Not valid UTF-8, so the player reads it as Shift-JIS, and every byte sequence decodes.
    EXPECT_FALSE(gui::IsValidUtf8(chart.raw));
    EXPECT_EQ(gui::DetectTextEncoding(chart.raw), gui::TextEncoding::ShiftJis);
    EXPECT_EQ(gui::ShiftJisToUtf8(chart.raw).find("\xEF\xBF\xBD"), std::string::npos);
    EXPECT_EQ(gui::ShiftJisToUtf8(chart.header.at("#TITLE")), "きらめきステップ");
    EXPECT_FALSE(gui::ShiftJisToUtf8(chart.header.at("#ARTIST")).empty());
    EXPECT_FALSE(gui::ShiftJisToUtf8(chart.header.at("#GENRE")).empty());
    EXPECT_EQ(chart.header.at("#PLAYER"), "3");
    EXPECT_EQ(chart.header.at("#MIDIFILE"), "demo.mid");
    for (const char* key : {"#BPM", "#PLAYLEVEL", "#RANK", "#TOTAL"}) {
        ASSERT_TRUE(chart.header.count(key)) << key;
        EXPECT_GT(std::stod(chart.header.at(key)), 0) << key;
    }
    for (const std::string& line : chart.lines) {
        bool japanese = line.rfind("#TITLE", 0) == 0 || line.rfind("#ARTIST", 0) == 0 || line.rfind("#GENRE", 0) == 0;
        if (japanese) continue;
        EXPECT_TRUE(std::all_of(line.begin(), line.end(), [](char c) { return c >= 0x20 && c < 0x7F; })) << line;
    }
}

TEST(DemoChart, NamesOnlyFilesThatExistAndSlotsThatAreDefined)
{
    const Chart& chart = Demo();
    EXPECT_TRUE(fs::is_regular_file(kDemo / chart.header.at("#MIDIFILE")));
    for (const auto& [slot, name] : chart.wavs) EXPECT_TRUE(fs::is_regular_file(kDemo / name)) << name;
    for (const auto& [slot, name] : chart.bmps) EXPECT_TRUE(fs::is_regular_file(kDemo / name)) << name;
    EXPECT_LE(chart.wavs.size(), 255u);
    for (const Object& o : chart.objects) {
        if (o.channel == 4 || o.channel == 7) {
            EXPECT_TRUE(chart.bmps.count(o.value)) << "picture " << o.value;
        } else if (o.channel != 3) {
            EXPECT_TRUE(chart.wavs.count(o.value)) << "channel " << o.channel << " sound " << o.value;
        }
    }
    EXPECT_FALSE(chart.OnChannel(4).empty());
    EXPECT_FALSE(chart.OnChannel(7).empty());
}

TEST(DemoChart, HasArrowsOnAllEightLanesAtAPlayableDensity)
{
    const Chart& chart = Demo();
    std::vector<double> arrows;
    for (int channel : kArrowChannels) {
        EXPECT_GE(chart.OnChannel(channel).size(), 5u) << "lane of channel " << channel;
        for (const Object* o : chart.OnChannel(channel)) arrows.push_back(o->position);
    }
    std::sort(arrows.begin(), arrows.end());
    ASSERT_FALSE(arrows.empty());
    // With the MIDI file as the clock, play starts at position 0 at once: the first arrow must
    // still enter from the bottom of the screen, 208 ticks ahead of the receptors.
    EXPECT_GE(arrows.front(), 208);
    // Never closer than an eighth note (16 ticks) and never two arrows at one time.
    for (size_t i = 1; i < arrows.size(); ++i) EXPECT_GE(arrows[i] - arrows[i - 1], 15.5) << "at " << arrows[i];
}

TEST(DemoChart, ChangesTempoAndMeasureLengthAndLastsOneToOneAndAHalfMinutes)
{
    const Chart& chart = Demo();
    std::set<std::string> tempos;
    for (const Object* o : chart.OnChannel(3)) tempos.insert(o->value);
    EXPECT_GE(chart.OnChannel(3).size(), 2u);
    EXPECT_GE(tempos.size(), 2u);
    ASSERT_EQ(chart.lengths.size(), 1u);
    EXPECT_NE(chart.lengths.begin()->second, 1.0);
    double seconds = chart.SecondsAt(chart.EndPosition());
    EXPECT_GE(seconds, 60);
    EXPECT_LE(seconds, 90);
}

TEST(DemoChart, SoundsAre44kHz16BitPcmAndNotSilent)
{
    for (const auto& [slot, name] : Demo().wavs) {
        SCOPED_TRACE(name);
        std::string wav = testsupport::ReadFile(kDemo / name);
        ASSERT_GE(wav.size(), 46u);
        EXPECT_EQ(wav.substr(0, 4), "RIFF");
        EXPECT_EQ(Le(wav, 4, 4), wav.size() - 8);
        EXPECT_EQ(wav.substr(8, 8), "WAVEfmt ");
        EXPECT_EQ(Le(wav, 20, 2), 1u);
        uint32_t channels = Le(wav, 22, 2);
        EXPECT_TRUE(channels == 1 || channels == 2);
        EXPECT_EQ(Le(wav, 24, 4), 44100u);
        EXPECT_EQ(Le(wav, 34, 2), 16u);
        EXPECT_EQ(Le(wav, 32, 2), channels * 2);
        ASSERT_EQ(wav.substr(36, 4), "data");
        ASSERT_EQ(Le(wav, 40, 4), wav.size() - 44);
        int peak = 0;
        for (size_t i = 44; i + 1 < wav.size(); i += 2) peak = std::max(peak, std::abs(int16_t(Le(wav, i, 2))));
        EXPECT_GT(peak, 300);
        EXPECT_LT(peak, 32767);
    }
}

TEST(DemoChart, PicturesAreUncompressed24BitBmps)
{
    for (const auto& [slot, name] : Demo().bmps) {
        SCOPED_TRACE(name);
        std::string bmp = testsupport::ReadFile(kDemo / name);
        ASSERT_GE(bmp.size(), 54u);
        EXPECT_EQ(bmp.substr(0, 2), "BM");
        EXPECT_EQ(Le(bmp, 2, 4), bmp.size());
        EXPECT_EQ(Le(bmp, 10, 4), 54u);
        EXPECT_EQ(Le(bmp, 14, 4), 40u);
        uint32_t width = Le(bmp, 18, 4), height = Le(bmp, 22, 4);
        EXPECT_TRUE(width > 0 && width <= 320 && height > 0 && height <= 256);
        EXPECT_EQ(Le(bmp, 26, 2), 1u);
        EXPECT_EQ(Le(bmp, 28, 2), 24u);
        EXPECT_EQ(Le(bmp, 30, 4), 0u);
        EXPECT_EQ(bmp.size(), 54 + (width * 3 + 3) / 4 * 4 * height);
    }
}

struct MidiTempo {
    uint32_t tick;
    double bpm;
};

// Walks every event of every track; returns the tempo events and the last tick of any track.
void ReadMidi(const std::string& midi, int& ticksPerQuarter, std::vector<MidiTempo>& tempos, uint32_t& lastTick)
{
    ASSERT_EQ(midi.substr(0, 4), "MThd");
    ASSERT_EQ(Be(midi, 4, 4), 6u);
    EXPECT_EQ(Be(midi, 8, 2), 1u);
    const uint32_t tracks = Be(midi, 10, 2);
    ticksPerQuarter = static_cast<int>(Be(midi, 12, 2));
    ASSERT_GT(ticksPerQuarter, 0);
    size_t at = 14;
    lastTick = 0;
    for (uint32_t t = 0; t < tracks; ++t) {
        ASSERT_EQ(midi.substr(at, 4), "MTrk");
        const size_t end = at + 8 + Be(midi, at + 4, 4);
        ASSERT_LE(end, midi.size());
        at += 8;
        uint32_t tick = 0;
        uint8_t status = 0;
        bool ended = false;
        auto varLength = [&] {
            uint32_t v = 0;
            uint8_t b;
            do {
                b = static_cast<uint8_t>(midi.at(at++));
                v = v << 7 | (b & 0x7F);
            } while (b & 0x80);
            return v;
        };
        while (at < end && !ended) {
            tick += varLength();
            uint8_t b = static_cast<uint8_t>(midi.at(at));
            if (b & 0x80) {
                status = b;
                ++at;
            }
            if (status == 0xFF) {
                uint8_t type = static_cast<uint8_t>(midi.at(at++));
                uint32_t length = varLength();
                if (type == 0x51) tempos.push_back({tick, 60000000.0 / Be(midi, at, 3)});
                ended = type == 0x2F;
                at += length;
            } else if (status == 0xF0 || status == 0xF7) {
                at += varLength();
            } else {
                ASSERT_NE(status, 0) << "data byte without a status";
                at += (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2;
            }
        }
        EXPECT_TRUE(ended) << "track " << t << " has no end";
        EXPECT_EQ(at, end);
        lastTick = std::max(lastTick, tick);
        at = end;
    }
    EXPECT_EQ(at, midi.size());
}

TEST(DemoChart, MidiBackingTrackKeepsTheChartsTempoToTheEnd)
{
    const Chart& chart = Demo();
    int ppq = 0;
    std::vector<MidiTempo> tempos;
    uint32_t lastTick = 0;
    ReadMidi(testsupport::ReadFile(kDemo / "demo.mid"), ppq, tempos, lastTick);
    ASSERT_FALSE(testing::Test::HasFatalFailure());
    // The MIDI position is the song clock while it plays, so beat n of the MIDI file must be
    // position 32 n of the chart, with the same tempo from there on.
    std::vector<MidiTempo> expected = {{0, std::stod(chart.header.at("#BPM"))}};
    std::vector<const Object*> changes = chart.OnChannel(3);
    std::sort(changes.begin(), changes.end(), [](auto a, auto b) { return a->position < b->position; });
    for (const Object* change : changes) {
        expected.push_back({static_cast<uint32_t>(std::lround(change->position / 32 * ppq)),
                            double(std::stoi(change->value, nullptr, 16))});
    }
    ASSERT_EQ(tempos.size(), expected.size());
    for (size_t i = 0; i < tempos.size(); ++i) {
        EXPECT_NEAR(tempos[i].tick, expected[i].tick, ppq / 48.0) << "tempo change " << i;
        EXPECT_NEAR(tempos[i].bpm, expected[i].bpm, 0.01) << "tempo change " << i;
    }
    // When the MIDI file ends the clock falls back to the system clock, which lags behind; the
    // file must outlast the chart.
    EXPECT_GE(lastTick / double(ppq) * 32, chart.EndPosition());
}

}  // namespace
