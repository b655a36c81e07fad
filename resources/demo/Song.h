// The demo song "きらめきステップ": its arrangement, and the chart, sounds, pictures and MIDI
// backing track that carry it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "Files.h"
#include "Synth.h"

namespace demo {

struct Bar {
    int beats;  // quarter notes: 4, or 3 for the one short bar
    int bpm;    // tempo from the start of the bar
};

// One chart object: a 16th-note step within a bar, a BMS channel and a slot value (1-255).
struct ChartObject {
    int bar;
    int step;
    int channel;
    int value;
};

struct SoundFile {
    std::string name;
    Stereo sound;
};

struct PictureFile {
    std::string name;
    Picture picture;
};

class Song {
public:
    Song();

    const std::vector<Bar>& Bars() const { return bars_; }
    const std::vector<ChartObject>& Objects() const { return objects_; }
    // Slot n (1-based, as in the chart) is element n - 1.
    const std::vector<SoundFile>& Sounds() const { return sounds_; }
    const std::vector<PictureFile>& Pictures() const { return pictures_; }

    double BeatAt(int bar, int step) const;
    double SecondsAtBeat(double beat) const;
    // The beat at which the player ends play: its end marker lies at the start of the second
    // measure after the last object's measure, and play ends two measures after that.
    double EndBeat() const;

    // The chart in Shift-JIS with CR LF line ends.
    std::string ChartText() const;
    std::vector<uint8_t> Midi() const;
    // Every sound object played at its exact time, a slot cutting off its own earlier sound, as
    // the player does: for listening to the chart without the player.
    Stereo Mixdown() const;

private:
    template <typename Render>
    int Sound(const std::string& name, Render render);
    int AddPicture(const std::string& name, Picture picture);
    void Put(int bar, int step, int channel, int value) { objects_.push_back({bar, step, channel, value}); }

    void Compose();
    void ComposeDrums(int bar, int style, bool fill);
    void ComposeBass(int bar, int style, int root);
    void ComposeChords(int bar, int style, const std::vector<int>& chord);
    void ComposeMelody(int bar, const std::string& melody, bool withBells);
    void ComposePictures();

    std::vector<Bar> bars_;
    std::vector<int> styles_;
    std::vector<std::string> chords_;
    std::vector<ChartObject> objects_;
    std::vector<SoundFile> sounds_;
    std::map<std::string, int> soundSlots_;
    std::vector<PictureFile> pictures_;
};

}  // namespace demo
