#include "Song.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <sstream>
#include <stdexcept>

#include "Pictures.h"

namespace demo {

namespace {

enum Style { kCountIn, kIntroSparse, kIntroGroove, kChorus, kVerse, kFill, kBreak, kFinalChorus, kOutro, kEnding };

struct BarPlan {
    Style style;
    const char* chord;
    const char* melody;  // notes as name:eighths, "r" for a rest
    int beats;
    int bpm;
};

// The royal-road progression (IV-V-iii-vi) carries the chorus; the verse walks ii-V-I-vi.
// The chorus melody comes back at half tempo in the break and at 150 BPM for the last chorus.
constexpr const char* kChorusMelody[8] = {
    "A4:2 C5:1 E5:3 D5:1 C5:1", "D5:2 B4:1 G4:3 A4:1 B4:1", "B4:1 D5:1 E5:2 G5:2 E5:1 D5:1", "C5:3 E5:1 A4:4",
    "A4:2 C5:1 E5:3 F5:1 G5:1", "A5:2 G5:1 D5:3 E5:1 F5:1", "G5:2 E5:1 B4:2 C5:1 D5:2",   "E5:3 C5:1 A4:2 r:2",
};
constexpr const char* kChorusChords[8] = {"Fmaj7", "G", "Em7", "Am", "Fmaj7", "G", "Em7", "Am"};

std::vector<BarPlan> Arrangement()
{
    std::vector<BarPlan> plan = {
        {kCountIn, "Cadd9", "", 4, 140},
        {kIntroSparse, "Fmaj7", "", 4, 140},
        {kIntroSparse, "G", "r:2 D5:1 E5:1 D5:2 B4:2", 4, 140},
        {kIntroGroove, "Em7", "r:2 G5:1 E5:1 B4:2 E5:2", 4, 140},
        {kIntroGroove, "Am", "A4:3 C5:1 E5:2 G5:2", 4, 140},
    };
    for (int i = 0; i < 8; ++i) plan.push_back({kChorus, kChorusChords[i], kChorusMelody[i], 4, 140});
    const char* verseChords[8] = {"Dm7", "G", "Cmaj7", "Am7", "Dm7", "G", "Fmaj7", "G"};
    const char* verseMelody[8] = {
        "F5:2 E5:1 D5:2 C5:1 D5:2", "B4:3 G4:1 D5:4", "E5:2 D5:1 C5:2 B4:1 C5:2", "A4:4 C5:2 E5:2",
        "F5:2 A5:1 G5:2 F5:1 E5:2", "D5:3 B4:1 G5:4", "A5:2 G5:1 F5:2 E5:1 C5:2", "D5:6 r:2",
    };
    for (int i = 0; i < 8; ++i) plan.push_back({kVerse, verseChords[i], verseMelody[i], 4, 140});
    plan.push_back({kFill, "G7", "G4:1 A4:1 B4:1 D5:1 F5:1 G5:1", 3, 140});
    for (int i = 0; i < 4; ++i) plan.push_back({kBreak, kChorusChords[i], kChorusMelody[i], 4, 70});
    for (int i = 0; i < 8; ++i) plan.push_back({kFinalChorus, kChorusChords[i], kChorusMelody[i], 4, 150});
    plan.push_back({kOutro, "Fmaj7", "A4:2 C5:1 E5:3 D5:1 C5:1", 4, 150});
    plan.push_back({kOutro, "G", "D5:2 B4:1 G4:2 B4:1 D5:2", 4, 150});
    plan.push_back({kEnding, "Cadd9", "C5:20", 4, 150});
    return plan;
}

struct ChordShape {
    int root;
    std::vector<int> pitchClasses;
};

ChordShape Chord(const std::string& name)
{
    static const std::map<std::string, ChordShape> kChords = {
        {"Cadd9", {0, {0, 4, 7, 2}}}, {"Cmaj7", {0, {0, 4, 7, 11}}}, {"Dm7", {2, {2, 5, 9, 0}}},
        {"Em7", {4, {4, 7, 11, 2}}},  {"Fmaj7", {5, {5, 9, 0, 4}}},  {"G", {7, {7, 11, 2}}},
        {"G7", {7, {7, 11, 2, 5}}},   {"Am", {9, {9, 0, 4}}},        {"Am7", {9, {9, 0, 4, 7}}},
    };
    return kChords.at(name);
}

// The chord's notes inside one octave from `low` upwards: close voicings that move little.
std::vector<int> Voicing(const std::vector<int>& pitchClasses, int low)
{
    std::vector<int> notes;
    for (int pc : pitchClasses) notes.push_back(low + ((pc - low) % 12 + 12) % 12);
    std::sort(notes.begin(), notes.end());
    return notes;
}

int BassNote(int root) { return 36 + root; }

int ParseNote(const std::string& name)
{
    static const int kOffsets[7] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
    if (name.size() < 2 || name[0] < 'A' || name[0] > 'G') throw std::runtime_error("bad note " + name);
    int note = kOffsets[name[0] - 'A'];
    size_t at = 1;
    if (name[at] == '#') {
        ++note;
        ++at;
    }
    return note + 12 * (std::stoi(name.substr(at)) + 1);
}

constexpr int kArrowChannels[8] = {11, 13, 15, 16, 21, 23, 25, 26};

// Lanes follow the melody's steps on the scale from G4 upwards, so a rising phrase walks right.
int ArrowChannel(int note)
{
    static const int kDegree[12] = {0, 0, 1, 1, 2, 3, 3, 4, 4, 5, 5, 6};
    int index = (note / 12 - 1) * 7 + kDegree[note % 12] - (4 * 7 + 4);
    return kArrowChannels[((index % 8) + 8) % 8];
}

std::string NoteName(int note)
{
    static const char* kNames[12] = {"c", "cs", "d", "ds", "e", "f", "fs", "g", "gs", "a", "as", "b"};
    return std::string(kNames[note % 12]) + std::to_string(note / 12 - 1);
}

bool IsSoundChannel(int channel) { return channel == 1 || (channel >= 11 && channel <= 29); }

// Shift-JIS texts of the header, with their UTF-8 form beside them.
constexpr const char* kTitleSjis = "\x82\xab\x82\xe7\x82\xdf\x82\xab\x83\x58\x83\x65\x83\x62\x83\x76";  // きらめきステップ
constexpr const char* kGenreSjis = "\x83\x5f\x83\x93\x83\x58\x83\x7c\x83\x62\x83\x76";  // ダンスポップ
constexpr const char* kArtistSjis =
    "\x83\x4f\x83\x8a\x83\x80\x83\x58\x83\x65\x83\x62\x83\x76\x81\x45\x83\x54\x83\x45\x83\x93\x83\x68"
    "\x83\x60\x81\x5b\x83\x80";  // グリムステップ・サウンドチーム

constexpr int kMidiTicksPerBeat = 480;

// The player adds up every sounding slot and the MIDI synthesiser; the instrument levels below
// are balanced against each other, and this keeps their sum clear of clipping.
constexpr float kHeadroom = 0.6f;

}  // namespace

Song::Song() { Compose(); }

template <typename Render>
int Song::Sound(const std::string& name, Render render)
{
    auto found = soundSlots_.find(name);
    if (found != soundSlots_.end()) return found->second;
    if (sounds_.size() >= 255) throw std::runtime_error("more than 255 sounds");
    Stereo sound = render();
    for (size_t i = 0; i < sound.Frames(); ++i) {
        sound.left[i] *= kHeadroom;
        sound.right[i] *= kHeadroom;
    }
    sounds_.push_back({name + ".wav", std::move(sound)});
    int slot = static_cast<int>(sounds_.size());
    soundSlots_[name] = slot;
    return slot;
}

int Song::AddPicture(const std::string& name, Picture picture)
{
    pictures_.push_back({name + ".bmp", std::move(picture)});
    return static_cast<int>(pictures_.size());
}

void Song::Compose()
{
    std::vector<BarPlan> plan = Arrangement();
    for (const BarPlan& bar : plan) {
        bars_.push_back({bar.beats, bar.bpm});
        styles_.push_back(bar.style);
        chords_.push_back(bar.chord);
    }
    for (int bar = 0; bar < static_cast<int>(plan.size()); ++bar) {
        if (bar > 0 && bars_[bar].bpm != bars_[bar - 1].bpm) Put(bar, 0, 3, bars_[bar].bpm);
        bool lastOfSection = bar + 1 < static_cast<int>(plan.size()) && plan[bar + 1].style != plan[bar].style;
        ChordShape chord = Chord(plan[bar].chord);
        ComposeDrums(bar, plan[bar].style, lastOfSection);
        ComposeBass(bar, plan[bar].style, chord.root);
        ComposeChords(bar, plan[bar].style, chord.pitchClasses);
        ComposeMelody(bar, plan[bar].melody, plan[bar].style == kFinalChorus);
    }
    ComposePictures();
}

void Song::ComposeDrums(int bar, int style, bool fill)
{
    const int steps = bars_[bar].beats * 4;
    const double barSeconds = bars_[bar].beats * 60.0 / bars_[bar].bpm;
    int kick = Sound("kick", [] { return Kick(0.42); });
    int snare = Sound("snare", [] { return Snare(0.26); });
    int snareSoft = Sound("snare_soft", [] { return Snare(0.15); });
    int clap = Sound("clap", [] { return Clap(0.16); });
    int hat = Sound("hat", [] { return HiHat(0.08, false); });
    int hatSoft = Sound("hat_soft", [] { return HiHat(0.04, false); });
    int openHat = Sound("hat_open", [] { return HiHat(0.07, true); });
    int crash = Sound("crash", [] { return Crash(0.18); });
    auto riser = [this](double seconds) {
        int ms = static_cast<int>(std::lround(seconds * 1000));
        return Sound("riser_" + std::to_string(ms), [=] { return Riser(seconds, 0.15); });
    };
    bool sectionStart = bar > 0 && styles_[bar - 1] != style;
    auto fourOnTheFloor = [&] {
        for (int s = 0; s < steps; s += 4) Put(bar, s, 1, kick);
    };
    switch (style) {
    case kCountIn: {
        int click = Sound("stick", [] { return StickClick(0.18); });
        for (int s = 0; s < steps; s += 4) Put(bar, s, 1, click);
        Put(bar, 0, 1, riser(barSeconds));
        break;
    }
    case kIntroSparse:
        if (sectionStart) Put(bar, 0, 1, crash);
        fourOnTheFloor();
        for (int s = 2; s < steps; s += 4) Put(bar, s, 1, hatSoft);
        break;
    case kIntroGroove:
        fourOnTheFloor();
        for (int s = 4; s < steps; s += 8) Put(bar, s, 1, clap);
        for (int s = 0; s < steps; s += 2) Put(bar, s, 1, s % 4 == 2 ? hat : hatSoft);
        break;
    case kChorus:
    case kFinalChorus:
    case kOutro: {
        int barInSection = 0;
        while (bar - barInSection - 1 >= 0 && styles_[bar - barInSection - 1] == style) ++barInSection;
        if (barInSection % 4 == 0) Put(bar, 0, 1, crash);
        fourOnTheFloor();
        for (int s = 4; s < steps; s += 8) {
            Put(bar, s, 1, snare);
            Put(bar, s, 1, clap);
        }
        for (int s = 0; s < steps; s += 2) Put(bar, s, 1, s % 4 == 2 ? openHat : hatSoft);
        if (style == kFinalChorus) {
            for (int s = 1; s < steps; s += 2) Put(bar, s, 1, hatSoft);
        }
        break;
    }
    case kVerse:
        fourOnTheFloor();
        for (int s = 4; s < steps; s += 8) Put(bar, s, 1, snare);
        for (int s = 0; s < steps; ++s) Put(bar, s, 1, s == 14 ? openHat : (s % 2 == 0 ? hat : hatSoft));
        break;
    case kFill: {
        Put(bar, 0, 1, kick);
        const int roll[] = {0, 2, 4, 6, 8, 9, 10, 11};
        for (int s : roll) Put(bar, s, 1, s < 6 ? snareSoft : snare);
        Put(bar, 0, 1, riser(barSeconds));
        break;
    }
    case kBreak:
        if (sectionStart) Put(bar, 0, 1, crash);
        Put(bar, 0, 1, kick);
        Put(bar, 10, 1, kick);
        Put(bar, 8, 1, clap);
        for (int s = 0; s < steps; s += 2) Put(bar, s, 1, hatSoft);
        if (fill) {
            for (int s = 9; s < steps; ++s) Put(bar, s, 1, s < 12 ? snareSoft : snare);
            Put(bar, 8, 1, riser(barSeconds / 2));
        }
        break;
    case kEnding:
        Put(bar, 0, 1, crash);
        Put(bar, 0, 1, kick);
        break;
    default:
        break;
    }
    if (fill && (style == kIntroGroove || style == kChorus || style == kVerse || style == kFinalChorus || style == kOutro)) {
        Put(bar, 13, 1, snareSoft);
        Put(bar, 14, 1, snare);
        Put(bar, 15, 1, snare);
    }
}

void Song::ComposeBass(int bar, int style, int root)
{
    const int bpm = bars_[bar].bpm;
    auto note = [&](int step, int midiNote, int sixteenths) {
        std::string name = "bass_" + NoteName(midiNote) + "_" + std::to_string(sixteenths) + "_" + std::to_string(bpm);
        // Short notes are played detached; long ones are held nearly up to the next note.
        double seconds = sixteenths * 15.0 / bpm;
        double held = sixteenths < 8 ? seconds * 0.85 : seconds - 0.06;
        Put(bar, step, 1, Sound(name, [=] { return Bass(midiNote, held, 0.22); }));
    };
    const int low = BassNote(root), high = low + 12;
    switch (style) {
    case kIntroSparse: note(0, low, 14); break;
    case kIntroGroove:
    case kChorus:
    case kFinalChorus:
    case kOutro:
        for (int s = 0; s < 16; s += 2) note(s, s % 4 == 0 ? low : high, 2);
        break;
    case kVerse:
        for (int s = 0; s < 16; s += 2) note(s, s == 4 || s == 12 ? high : low, 2);
        break;
    case kFill:
        for (int s = 0; s < 12; s += 4) note(s, low, 4);
        break;
    case kBreak: note(0, low, 16); break;
    case kEnding: note(0, low, 40); break;
    default: break;
    }
}

void Song::ComposeChords(int bar, int style, const std::vector<int>& chord)
{
    const int bpm = bars_[bar].bpm;
    std::vector<int> notes = Voicing(chord, 57);
    std::string chordName = chords_[bar];
    int pluck = Sound("pluck_" + chordName, [&] { return Pluck(notes, 0.13); });
    auto pad = [&](int beats) {
        double seconds = beats * 60.0 / bpm;
        std::string name = "pad_" + chordName + "_" + std::to_string(beats) + "_" + std::to_string(bpm);
        Put(bar, 0, 1, Sound(name, [&] { return Pad(notes, seconds, 0.12); }));
    };
    switch (style) {
    case kIntroSparse:
    case kIntroGroove:
    case kChorus:
    case kVerse:
    case kFinalChorus:
    case kOutro:
        for (int s = 2; s < 16; s += 4) Put(bar, s, 1, pluck);
        break;
    case kFill: Put(bar, 0, 1, pluck); break;
    case kBreak:
        pad(4);
        for (int s : {0, 6, 12}) Put(bar, s, 1, pluck);
        break;
    case kEnding:
        pad(10);
        Put(bar, 0, 1, pluck);
        break;
    default: break;
    }
}

void Song::ComposeMelody(int bar, const std::string& melody, bool withBells)
{
    const int bpm = bars_[bar].bpm;
    std::istringstream tokens(melody);
    std::string token;
    int eighth = 0;
    while (tokens >> token) {
        size_t colon = token.find(':');
        int length = std::stoi(token.substr(colon + 1));
        std::string pitch = token.substr(0, colon);
        if (pitch != "r") {
            int note = ParseNote(pitch);
            double seconds = length * 30.0 / bpm;
            std::string name = "lead_" + NoteName(note) + "_" + std::to_string(length) + "_" + std::to_string(bpm);
            int lead = Sound(name, [=] { return Lead(note, seconds * 0.9, 45.0 / bpm, 0.34); });
            Put(bar, eighth * 2, ArrowChannel(note), lead);
            if (withBells) {
                Put(bar, eighth * 2, 1, Sound("bell_" + NoteName(note + 12), [=] { return Bell(note + 12, 0.07); }));
            }
        }
        eighth += length;
    }
}

void Song::ComposePictures()
{
    int dawn = AddPicture("dawn", Dawn());
    int sunset = AddPicture("sunset", SunsetGrid());
    int plasmaA = AddPicture("plasma_a", Plasma(0.0, false));
    int plasmaB = AddPicture("plasma_b", Plasma(1.2, true));
    int night = AddPicture("night", StarryNight());
    int festivalA = AddPicture("festival_a", Festival(0.0, 0.0));
    int festivalB = AddPicture("festival_b", Festival(1.0 / 24, 0.5));
    int sunrise = AddPicture("sunrise", Sunrise());
    int sparkleA = AddPicture("sparkle_a", Sparkles(7));
    int sparkleB = AddPicture("sparkle_b", Sparkles(1234));
    int blank = AddPicture("blank", Blank());
    for (int bar = 0; bar < static_cast<int>(bars_.size()); ++bar) {
        const int steps = bars_[bar].beats * 4;
        const bool first = bar == 0 || styles_[bar - 1] != styles_[bar];
        auto sparkleEvery = [&](int interval) {
            for (int s = 0; s < steps; s += interval) Put(bar, s, 7, (s / interval) % 2 == 0 ? sparkleA : sparkleB);
        };
        switch (styles_[bar]) {
        case kCountIn:
            Put(bar, 0, 4, dawn);
            Put(bar, 0, 7, blank);
            break;
        case kChorus:
            if (first) Put(bar, 0, 4, sunset);
            sparkleEvery(4);
            break;
        case kVerse:
            Put(bar, 0, 4, bar % 2 == 0 ? plasmaA : plasmaB);
            if (first) Put(bar, 0, 7, blank);
            break;
        case kFill: sparkleEvery(2); break;
        case kBreak:
            if (first) {
                Put(bar, 0, 4, night);
                Put(bar, 0, 7, blank);
            }
            break;
        case kFinalChorus:
            Put(bar, 0, 4, festivalA);
            Put(bar, 8, 4, festivalB);
            sparkleEvery(4);
            break;
        case kOutro:
            if (first) Put(bar, 0, 4, sunrise);
            sparkleEvery(8);
            break;
        case kEnding: Put(bar, 0, 7, sparkleA); break;
        default: break;
        }
    }
}

double Song::BeatAt(int bar, int step) const
{
    double beat = 0;
    for (int i = 0; i < bar; ++i) beat += bars_[i].beats;
    return beat + step / 4.0;
}

double Song::SecondsAtBeat(double beat) const
{
    double seconds = 0, start = 0;
    for (size_t i = 0; i < bars_.size(); ++i) {
        double end = start + bars_[i].beats;
        bool last = i + 1 == bars_.size();
        if (beat < end || last) return seconds + (beat - start) * 60.0 / bars_[i].bpm;
        seconds += bars_[i].beats * 60.0 / bars_[i].bpm;
        start = end;
    }
    return seconds;
}

double Song::EndBeat() const
{
    double lastBeat = 0;
    for (const ChartObject& object : objects_) lastBeat = std::max(lastBeat, BeatAt(object.bar, object.step));
    long lastTick = std::lround(lastBeat * 32);
    long marker = (lastTick / 128 + 2) * 128;
    return (marker + 2 * 128) / 32.0;
}

std::string Song::ChartText() const
{
    std::ostringstream out;
    auto line = [&out](const std::string& text) { out << text << "\r\n"; };
    line("#PLAYER 3");
    line(std::string("#GENRE ") + kGenreSjis);
    line(std::string("#TITLE ") + kTitleSjis);
    line(std::string("#ARTIST ") + kArtistSjis);
    line("#BPM " + std::to_string(bars_[0].bpm));
    line("#PLAYLEVEL 3");
    line("#RANK 2");
    line("#TOTAL 200");
    line("#VOLWAV 100");
    line("#MIDIFILE demo.mid");
    line("");
    char buffer[64];
    for (size_t i = 0; i < sounds_.size(); ++i) {
        std::snprintf(buffer, sizeof buffer, "#WAV%02X ", static_cast<unsigned>(i + 1));
        line(buffer + sounds_[i].name);
    }
    line("");
    for (size_t i = 0; i < pictures_.size(); ++i) {
        std::snprintf(buffer, sizeof buffer, "#BMP%02X ", static_cast<unsigned>(i + 1));
        line(buffer + pictures_[i].name);
    }
    for (int bar = 0; bar < static_cast<int>(bars_.size()); ++bar) {
        line("");
        if (bars_[bar].beats != 4) {
            std::snprintf(buffer, sizeof buffer, "#%03d02:%g", bar, bars_[bar].beats / 4.0);
            line(buffer);
        }
        const int steps = bars_[bar].beats * 4;
        for (int channel = 1; channel < 100; ++channel) {
            // Objects at the same step of one channel go on separate lines of the same bar.
            std::vector<std::vector<int>> layers;
            for (const ChartObject& object : objects_) {
                if (object.bar != bar || object.channel != channel) continue;
                auto free = std::find_if(layers.begin(), layers.end(),
                                         [&](const std::vector<int>& layer) { return layer[object.step] == 0; });
                if (free == layers.end()) free = layers.insert(layers.end(), std::vector<int>(steps, 0));
                (*free)[object.step] = object.value;
            }
            for (const std::vector<int>& layer : layers) {
                int grid = steps;
                for (int s = 0; s < steps; ++s) {
                    if (layer[s] != 0) grid = std::gcd(grid, s);
                }
                std::snprintf(buffer, sizeof buffer, "#%03d%02d:", bar, channel);
                std::string text = buffer;
                for (int s = 0; s < steps; s += grid) {
                    std::snprintf(buffer, sizeof buffer, "%02X", static_cast<unsigned>(layer[s]));
                    text += buffer;
                }
                line(text);
            }
        }
    }
    return out.str();
}

std::vector<uint8_t> Song::Midi() const
{
    auto tick = [](double beat) { return static_cast<uint32_t>(std::lround(beat * kMidiTicksPerBeat)); };
    const uint32_t endTick = tick(EndBeat() + 2);
    MidiTrack conductor, strings, bass, pad;
    conductor.Name("Kirameki Step");
    for (int bar = 0; bar < static_cast<int>(bars_.size()); ++bar) {
        uint32_t at = tick(BeatAt(bar, 0));
        if (bar == 0 || bars_[bar].bpm != bars_[bar - 1].bpm) conductor.Tempo(at, bars_[bar].bpm);
        if (bar == 0 || bars_[bar].beats != bars_[bar - 1].beats) conductor.TimeSignature(at, bars_[bar].beats, 4);
    }
    constexpr int kStrings = 0, kBass = 1, kPad = 2;
    strings.Name("Strings");
    strings.Program(0, kStrings, 48);
    strings.Control(0, kStrings, 7, 60);
    strings.Control(0, kStrings, 10, 52);
    strings.Control(0, kStrings, 91, 70);
    bass.Name("Bass");
    bass.Program(0, kBass, 33);
    bass.Control(0, kBass, 7, 68);
    bass.Control(0, kBass, 91, 20);
    pad.Name("Pad");
    pad.Program(0, kPad, 89);
    pad.Control(0, kPad, 7, 52);
    pad.Control(0, kPad, 10, 76);
    pad.Control(0, kPad, 91, 90);

    auto hold = [](MidiTrack& track, int channel, const std::vector<int>& notes, uint32_t from, uint32_t to,
                   int velocity) {
        for (int note : notes) {
            track.NoteOn(from, channel, note, velocity);
            track.NoteOff(to, channel, note);
        }
    };
    for (int bar = 0; bar < static_cast<int>(bars_.size()); ++bar) {
        const int style = styles_[bar];
        const uint32_t start = tick(BeatAt(bar, 0));
        const bool ending = style == kEnding;
        const uint32_t end = tick(BeatAt(bar, 0) + (ending ? 8 : bars_[bar].beats));
        ChordShape chord = Chord(chords_[bar]);
        int velocity = style == kCountIn ? 70 : style == kBreak || style == kFinalChorus || ending ? 84 : 72;
        hold(strings, kStrings, Voicing(chord.pitchClasses, 53), start, end, velocity);
        if (style == kCountIn) {
            // The strings swell in during the count-in.
            for (int i = 0; i <= 16; ++i) strings.Control(start + (end - start) * i / 16, kStrings, 11, 24 + i * 6);
        }
        if (ending) {
            for (int i = 0; i <= 16; ++i) strings.Control(start + (end - start) * i / 16, kStrings, 11, 120 - i * 7);
        }
        if (style == kBreak || style == kFinalChorus || ending) {
            hold(pad, kPad, Voicing(chord.pitchClasses, 62), start, end, 64);
        }
        const int root = BassNote(chord.root);
        if (style == kBreak || ending || style == kIntroGroove) {
            hold(bass, kBass, {root}, start, end, 78);
        } else if (style == kFill) {
            hold(bass, kBass, {root}, start, end - 20, 80);
        } else if (style != kCountIn && style != kIntroSparse) {
            uint32_t half = (end - start) / 2;
            hold(bass, kBass, {root}, start, start + half - 30, 80);
            hold(bass, kBass, {root}, start + half, end - 30, 72);
        }
    }
    std::vector<MidiTrack> tracks = {conductor, strings, bass, pad};
    for (MidiTrack& track : tracks) track.End(endTick);
    return EncodeMidi(tracks, kMidiTicksPerBeat);
}

Stereo Song::Mixdown() const
{
    struct Hit {
        double seconds;
        int slot;
    };
    std::vector<Hit> hits;
    for (const ChartObject& object : objects_) {
        if (IsSoundChannel(object.channel)) hits.push_back({SecondsAtBeat(BeatAt(object.bar, object.step)), object.value});
    }
    std::stable_sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) { return a.seconds < b.seconds; });
    Stereo mix(Frames(SecondsAtBeat(EndBeat()) + 1.0));
    for (size_t i = 0; i < hits.size(); ++i) {
        const Stereo& sound = sounds_[hits[i].slot - 1].sound;
        size_t length = sound.Frames();
        for (size_t j = i + 1; j < hits.size(); ++j) {
            if (hits[j].slot == hits[i].slot) {
                length = std::min(length, Frames(hits[j].seconds - hits[i].seconds));
                break;
            }
        }
        Stereo part(length);
        std::copy_n(sound.left.begin(), length, part.left.begin());
        std::copy_n(sound.right.begin(), length, part.right.begin());
        mix.Add(part, Frames(hits[i].seconds), 1.0f);
    }
    return mix;
}

}  // namespace demo
