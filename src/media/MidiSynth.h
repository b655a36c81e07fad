// What crosses into the MIDI module (FluidSynth): a synthesiser with one Standard MIDI File
// player, timed by the frames the synthesiser renders, as the MIDI player drives it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace media {

class MidiSynth {
public:
    // The sequence player's state; Done also when there is none.
    enum class Sequence { Ready, Playing, Stopping, Done };

    virtual ~MidiSynth() = default;
    // The id of the SoundFont loaded from `path`, or -1 when it cannot be loaded.
    virtual int LoadSoundFont(const std::string& path) = 0;
    // Replaces the sequence player with a new one for the file in `bytes`, ready at its start;
    // false (and no player) when it cannot be made.
    virtual bool NewSequence(const uint8_t* bytes, size_t size) = 0;
    // Stops and drops the sequence player.
    virtual void DeleteSequence() = 0;
    virtual Sequence SequenceState() const = 0;
    virtual void PlaySequence() = 0;
    // Moves the sequence to `tick` before it plays; false when the player refuses.
    virtual bool SeekSequence(int tick) = 0;
    // Plays the sequence `factor` times as fast as its file says.
    virtual void SetTempo(double factor) = 0;
    // Moves every key of every channel by `cents`; 0 leaves the tuning as the SoundFont has it.
    virtual void SetPitchShift(double cents) = 0;
    // Sends a MIDI system reset: every voice off, every controller back.
    virtual void Reset() = 0;
    // Renders `frames` frames into the two channels, advancing the sequence by as many.
    virtual void Render(int frames, float* left, float* right) = 0;
    virtual int ActiveVoices() const = 0;
};

struct MidiSynthModule {
    static constexpr unsigned kVersion = 2;
    // A synthesiser at `rate` Hz with `gain`, rendering its voices on `threads` threads, whose
    // sequence player keeps the synthesiser's channel settings when it starts; null when
    // FluidSynth cannot make one.
    std::unique_ptr<MidiSynth> (*create)(int rate, double gain, int threads);
};

}  // namespace media
