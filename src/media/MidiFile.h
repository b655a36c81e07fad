// Checks a Standard MIDI File before the synthesiser's player gets it, and works out its
// length: what a sequencer reads when it opens a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace media {

struct MidiFileInfo {
    int format = 0;
    int tracks = 0;
    int division = 0;          // ticks per quarter note
    uint64_t lengthTicks = 0;  // tick of the last event
    double lengthMs = 0.0;     // time of the last event, through the tempo changes
};

enum class MidiFileProblem { None, NotMidi, Broken, Unsupported };

// Reads the whole file. Format 0 and 1 files with ticks-per-quarter division are accepted.
MidiFileProblem ParseMidiFile(const uint8_t* data, size_t size, MidiFileInfo& info);

}  // namespace media
