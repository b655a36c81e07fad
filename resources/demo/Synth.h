// A small subtractive/FM synthesiser that renders the demo song's instruments into stereo buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace demo {

constexpr int kSampleRate = 44100;

struct Stereo {
    std::vector<float> left;
    std::vector<float> right;

    explicit Stereo(std::size_t frames = 0) : left(frames), right(frames) {}
    std::size_t Frames() const { return left.size(); }
    void Resize(std::size_t frames);
    // Adds `mono` at frame `at`, panned (-1 left .. +1 right) with equal power.
    void AddMono(const std::vector<float>& mono, std::size_t at, float gain, float pan);
    void Add(const Stereo& other, std::size_t at, float gain);
    float Peak() const;
    // Drops trailing frames quieter than about -70 dBFS (reverb tails end somewhere).
    void TrimSilence();
};

double NoteFrequency(int midiNote);
std::size_t Frames(double seconds);

// Deterministic white noise, so every build writes the same files.
class Noise {
public:
    explicit Noise(uint32_t seed) : state_(seed ? seed : 1u) {}
    float Next();

private:
    uint32_t state_;
};

// Attack-decay-sustain-release envelope; the gate closes after `gateSeconds`.
struct Adsr {
    double attack = 0.005;
    double decay = 0.1;
    double sustain = 0.7;
    double release = 0.1;
    double At(double t, double gateSeconds) const;
};

// Topology-preserving state-variable filter (lowpass, bandpass and highpass outputs at once).
class Svf {
public:
    void Set(double cutoffHz, double resonance);
    float Lowpass(float in);
    float Bandpass(float in);
    float Highpass(float in);

private:
    void Tick(float in);
    double g_ = 0, k_ = 1, a1_ = 0, a2_ = 0, a3_ = 0;
    double ic1_ = 0, ic2_ = 0;
    double low_ = 0, band_ = 0, high_ = 0;
};

// Band-limited sawtooth and pulse (polyBLEP) with a free-running phase.
class Oscillator {
public:
    explicit Oscillator(double phase = 0) : phase_(phase) {}
    float Saw(double hz);
    float Pulse(double hz, double width);
    float Sine(double hz);
    float Triangle(double hz);

private:
    double Advance(double hz);
    double phase_;
};

// Stereo effects baked into the samples.
void AddEcho(Stereo& sound, double delaySeconds, double feedback, double wet);
void AddReverb(Stereo& sound, double roomSize, double damping, double wet);

// Drum kit.
Stereo Kick(double gain);
Stereo Snare(double gain);
Stereo Clap(double gain);
Stereo HiHat(double gain, bool open);
Stereo Crash(double gain);
Stereo StickClick(double gain);
// A rising noise sweep of the given length, ending at its loudest.
Stereo Riser(double seconds, double gain);

// Pitched instruments; `seconds` is how long the note is held.
Stereo Bass(int midiNote, double seconds, double gain);
Stereo Lead(int midiNote, double seconds, double echoSeconds, double gain);
Stereo Pluck(const std::vector<int>& notes, double gain);
Stereo Pad(const std::vector<int>& notes, double seconds, double gain);
Stereo Bell(int midiNote, double gain);

}  // namespace demo
