// Checks a Standard MIDI File before the synthesiser's player gets it, and works out its
// length: what a sequencer reads when it opens a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace media {

struct MidiFileInfo {
    int format = 0;
    int tracks = 0;
    int division = 0;          // ticks per quarter note
    uint64_t lengthTicks = 0;  // tick of the last event
    double lengthMs = 0.0;     // time of the last event, through the tempo changes
    // Where each tempo takes over: its tick, its time and its microseconds per quarter note;
    // the first is the default tempo at tick 0.
    struct TempoPoint {
        uint64_t tick = 0;
        double ms = 0.0;
        uint32_t tempo = 500000;
    };
    std::vector<TempoPoint> tempoPoints;
    // The tick playing reaches at `ms` (0 before the start).
    uint64_t TickAt(double ms) const;
};

enum class MidiFileProblem { None, NotMidi, Broken, Unsupported };

// Reads the whole file. Format 0 and 1 files with ticks-per-quarter division are accepted.
MidiFileProblem ParseMidiFile(const uint8_t* data, size_t size, MidiFileInfo& info);

}  // namespace media
