// Writers for the file formats the demo chart carries: WAV sounds, BMP pictures, a Standard MIDI File.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "Synth.h"

namespace demo {

// 44.1 kHz 16-bit stereo PCM in a RIFF WAVE file.
std::vector<uint8_t> EncodeWav(const Stereo& sound);

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
};

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<Rgb> pixels;  // top row first

    Picture(int w, int h) : width(w), height(h), pixels(static_cast<size_t>(w) * h) {}
    Rgb& At(int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; }
};

// An uncompressed 24-bit bottom-up BMP with a 40-byte info header.
std::vector<uint8_t> EncodeBmp(const Picture& picture);

// One track of a Standard MIDI File; events are kept in time order.
class MidiTrack {
public:
    void NoteOn(uint32_t tick, int channel, int note, int velocity);
    void NoteOff(uint32_t tick, int channel, int note);
    void Program(uint32_t tick, int channel, int program);
    void Control(uint32_t tick, int channel, int controller, int value);
    void Tempo(uint32_t tick, double bpm);
    void TimeSignature(uint32_t tick, int numerator, int denominator);
    void Name(const std::string& name);
    // The track ends at `tick` (End of Track meta event), after every other event.
    void End(uint32_t tick) { endTick_ = tick; }
    std::vector<uint8_t> Encode() const;

private:
    struct Event {
        uint32_t tick;
        int rank;
        std::vector<uint8_t> bytes;
    };
    static int Rank(const std::vector<uint8_t>& bytes);
    void Add(uint32_t tick, std::vector<uint8_t> bytes);
    std::vector<Event> events_;
    uint32_t endTick_ = 0;
};

// Format 1 file with the given ticks per quarter note.
std::vector<uint8_t> EncodeMidi(const std::vector<MidiTrack>& tracks, int ticksPerQuarter);

void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

}  // namespace demo
